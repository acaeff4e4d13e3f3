// SHA-256 of a byte stream, for the record of what a file held when it was
// sent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct Sha256 {
    uint32_t state[8];
    uint64_t length; // bytes so far
    uint8_t block[64];
    size_t used;
};

void Sha256Begin(Sha256 *ctx);
void Sha256Add(Sha256 *ctx, const void *data, size_t n);
// The digest as 64 lower-case hexadecimal digits.
std::string Sha256End(Sha256 *ctx);

// The digest of a whole file; false with the system's reason in error.
bool Sha256File(const char *path, std::string &hex, std::string &error);
