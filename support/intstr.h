// Unsigned numbers as display texts: grouped decimal, sums of prefix units,
// and scaled to the largest fitting unit.
#pragma once

#include <cstdint>

enum : uint8_t {
    INTSTR_DECIMAL = 0,
    INTSTR_BINARY = 1,
    INTSTR_BLOCKS = 255,
};

struct IntStrPrefix {
    const char *symbol;
    const char *word;
    uint8_t family;
    uint64_t factor;
};

extern const IntStrPrefix IntStrPrefixes[13];

const char *IntStrGroup(uint64_t value);
const char *IntStrSplit(uint64_t value, uint8_t family); // null when none
const char *IntStrSplitFmt(const char *pattern, uint64_t value, uint8_t family);
double IntStrScale(uint64_t value, uint8_t family, const char **symbol);

// Forget the separator looked up by IntStrGroup (tests only).
void IntStrResetSeparator(void);
