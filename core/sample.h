// The sample firmware: a file to try an upload with before there is real
// firmware at hand (the simulator takes it like an instrument would). Three
// images, 304 KiB of data in 32-byte S3 records, the same every time.
#pragma once

#include <string>
#include <vector>

#include "firmware/mdl_write.h"

// Its images: below the highest flash address, one of them in two segments
// with a gap, and load addresses that differ from the flash addresses.
std::vector<MdlImageLayout> SampleLayout();

// The file's text, a comment line first.
std::string SampleFirmwareText();

// Writes the file at path. 1 when it was written whole, 0 with the reason
// in *message.
int SampleWriteFile(const char *path, std::string *message);
