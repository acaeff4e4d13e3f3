// Synthetic firmware files in S-record form for the upload benchmark and
// the demo: images with S0 base addresses and names, S3 data records of a
// chosen length, S7 terminators, and reproducible pseudo-random data.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

struct UploadSegmentLayout {
    uint32_t loadAddress;
    uint32_t size;
};

struct UploadImageLayout {
    uint32_t baseAddress;
    std::string name;
    std::vector<UploadSegmentLayout> segments;
};

// One record line without its line end: type, count, address of
// addressBytes bytes, data, checksum (ones' complement of the byte sum).
inline std::string UploadRecord(char type, uint32_t address, int addressBytes, const uint8_t *data,
                                size_t n)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string line = "S";
    line += type;
    unsigned count = (unsigned)(addressBytes + n + 1);
    unsigned sum = count;
    auto put = [&](unsigned byte) {
        line += hex[(byte >> 4) & 15];
        line += hex[byte & 15];
    };
    put(count);
    for (int i = addressBytes - 1; i >= 0; i--) {
        unsigned b = (address >> (8 * i)) & 0xFF;
        sum += b;
        put(b);
    }
    for (size_t i = 0; i < n; i++) {
        sum += data[i];
        put(data[i]);
    }
    put(~sum & 0xFF);
    return line;
}

// The whole file text; recordBytes data bytes per S3 record (1..250).
// Returns the number of data records in *records when given.
inline std::string UploadFirmwareText(const std::vector<UploadImageLayout> &images,
                                      unsigned recordBytes, uint32_t seed,
                                      unsigned long *records = nullptr)
{
    std::string text;
    unsigned long count = 0;
    uint32_t state = seed ? seed : 1;
    for (const UploadImageLayout &image : images) {
        char s0[160];
        std::snprintf(s0, sizeof s0, "0x%lX %s", (unsigned long)image.baseAddress,
                      image.name.c_str());
        std::string s0text = s0;
        text += UploadRecord('0', 0, 2, reinterpret_cast<const uint8_t *>(s0text.data()),
                             s0text.size());
        text += '\n';
        for (const UploadSegmentLayout &segment : image.segments) {
            std::vector<uint8_t> data(recordBytes);
            for (uint32_t done = 0; done < segment.size;) {
                uint32_t n = segment.size - done < recordBytes ? segment.size - done : recordBytes;
                for (uint32_t i = 0; i < n; i++) {
                    state = state * 1103515245u + 12345u; // the classic LCG, its high byte
                    data[i] = (uint8_t)(state >> 24);
                }
                text += UploadRecord('3', segment.loadAddress + done, 4, data.data(), n);
                text += '\n';
                done += n;
                count++;
            }
        }
        text += UploadRecord('7', 0, 4, nullptr, 0);
        text += '\n';
    }
    if (records)
        *records = count;
    return text;
}

// The demo's firmware: three images below the highest flash address,
// 304 KiB in all, one of them in two segments with a gap.
inline std::vector<UploadImageLayout> UploadDemoLayout(void)
{
    return {
        {0x00000, "Boot loader", {{0x08000000, 16 * 1024}}},
        {0x10000, "Application", {{0x08010000, 192 * 1024}, {0x08048000, 64 * 1024}}},
        {0xD0000, "Calibration tables", {{0x00000000, 32 * 1024}}},
    };
}

inline bool UploadWriteFile(const std::string &path, const std::string &text)
{
    FILE *f = std::fopen(path.c_str(), "w");
    if (!f)
        return false;
    bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    return std::fclose(f) == 0 && ok;
}
