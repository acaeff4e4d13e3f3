// Firmware files written rather than read: S-record lines, the S0 record
// that opens an image ("0x<BASE> <name>", the base address in C notation),
// and whole files from a layout of images and segments with reproducible
// pseudo-random data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct MdlSegmentLayout {
    uint32_t loadAddress;
    uint32_t size;
};

struct MdlImageLayout {
    uint32_t baseAddress;
    std::string name;
    std::vector<MdlSegmentLayout> segments;
};

// One record line without its line end: type, count, address of
// addressBytes bytes, data, checksum (ones' complement of the byte sum).
std::string MdlRecordText(char type, uint32_t address, int addressBytes, const uint8_t *data,
                          size_t n);

// The S0 record that opens an image with its flash base address and name
// (cut to the 67 characters an image name holds).
std::string MdlImageStartRecord(uint32_t baseAddress, const char *name);

// The whole file text: per image its S0, S3 data records of recordBytes
// data bytes each (1..250) and an S7. The number of data records goes to
// *records when given.
std::string MdlFirmwareText(const std::vector<MdlImageLayout> &images, unsigned recordBytes,
                            uint32_t seed, unsigned long *records = nullptr);
