// Builds S-record lines with a correct count and checksum for the tests.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

inline std::string Record(char type, uint32_t address, const std::vector<uint8_t> &payload)
{
    int width = (type == '2' || type == '8') ? 3 : (type == '3' || type == '7') ? 4 : 2;
    std::vector<uint8_t> bytes{static_cast<uint8_t>(width + payload.size() + 1)};
    for (int i = width - 1; i >= 0; i--)
        bytes.push_back(static_cast<uint8_t>(address >> (8 * i)));
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    unsigned sum = 0;
    std::string line = std::string("S") + type;
    char pair[3];
    for (uint8_t b : bytes) {
        std::snprintf(pair, sizeof pair, "%02X", b);
        line += pair;
        sum += b;
    }
    std::snprintf(pair, sizeof pair, "%02X", ~sum & 0xFF);
    return line + pair;
}

inline std::string S0(const std::string &text)
{
    return Record('0', 0, std::vector<uint8_t>(text.begin(), text.end()));
}

// n bytes counting up from first.
inline std::vector<uint8_t> Bytes(size_t n, uint8_t first = 0)
{
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; i++)
        v[i] = static_cast<uint8_t>(first + i);
    return v;
}

// An image named by its base address (and name) of bytes counting up, at
// load (else at base) in records of 32.
inline std::vector<std::string> Image(uint32_t base, size_t bytes, const char *name = "",
                                      int64_t load = -1)
{
    char text[64];
    std::snprintf(text, sizeof text, "0x%X%s%s", base, *name ? " " : "", name);
    std::vector<std::string> lines{S0(text)};
    for (size_t off = 0; off < bytes; off += 32)
        lines.push_back(
            Record('2', static_cast<uint32_t>((load < 0 ? base : load) + off),
                   Bytes(std::min<size_t>(32, bytes - off), static_cast<uint8_t>(off))));
    lines.push_back(Record('9', 0, {}));
    return lines;
}
