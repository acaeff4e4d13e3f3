// Synthetic firmware files in S-record form for the upload benchmark and
// the tests: the firmware layer's writer under the names the benchmarks
// use, and a file writer.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "firmware/mdl_write.h"

using UploadSegmentLayout = MdlSegmentLayout;
using UploadImageLayout = MdlImageLayout;

inline std::string UploadRecord(char type, uint32_t address, int addressBytes, const uint8_t *data,
                                size_t n)
{
    return MdlRecordText(type, address, addressBytes, data, n);
}

inline std::string UploadFirmwareText(const std::vector<UploadImageLayout> &images,
                                      unsigned recordBytes, uint32_t seed,
                                      unsigned long *records = nullptr)
{
    return MdlFirmwareText(images, recordBytes, seed, records);
}

inline bool UploadWriteFile(const std::string &path, const std::string &text)
{
    FILE *f = std::fopen(path.c_str(), "w");
    if (!f)
        return false;
    bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    return std::fclose(f) == 0 && ok;
}
