#include "firmware/mdl_write.h"

#include <cstdio>

#include "firmware/mdl.h"

std::string MdlRecordText(char type, uint32_t address, int addressBytes, const uint8_t *data,
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

std::string MdlImageStartRecord(uint32_t baseAddress, const char *name)
{
    char text[16 + MDL_IMAGE_NAME_SIZE];
    int n = std::snprintf(text, sizeof text, "0x%lX %.*s", (unsigned long)baseAddress,
                          MDL_IMAGE_NAME_SIZE - 1, name);
    return MdlRecordText('0', 0, 2, reinterpret_cast<const uint8_t *>(text), (size_t)n);
}

std::string MdlFirmwareText(const std::vector<MdlImageLayout> &images, unsigned recordBytes,
                            uint32_t seed, unsigned long *records)
{
    std::string text;
    unsigned long count = 0;
    uint32_t state = seed ? seed : 1;
    for (const MdlImageLayout &image : images) {
        text += MdlImageStartRecord(image.baseAddress, image.name.c_str()) + '\n';
        for (const MdlSegmentLayout &segment : image.segments) {
            std::vector<uint8_t> data(recordBytes);
            for (uint32_t done = 0; done < segment.size;) {
                uint32_t n = segment.size - done < recordBytes ? segment.size - done : recordBytes;
                for (uint32_t i = 0; i < n; i++) {
                    state = state * 1103515245u + 12345u; // the classic LCG, its high byte
                    data[i] = (uint8_t)(state >> 24);
                }
                text += MdlRecordText('3', segment.loadAddress + done, 4, data.data(), n) + '\n';
                done += n;
                count++;
            }
        }
        text += MdlRecordText('7', 0, 4, nullptr, 0) + '\n';
    }
    if (records)
        *records = count;
    return text;
}
