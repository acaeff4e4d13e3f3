// Unsigned numbers as display texts: grouped decimal, sums of prefix units,
// and scaled to the largest fitting unit.
#include "support/intstr.h"

#include "platform/locale.h"
#include "support/st.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

// Within a family the rows ascend by factor; the searches run backwards so
// that the largest fitting unit comes first.
const IntStrPrefix IntStrPrefixes[13] = {
    {"b", "block", INTSTR_BLOCKS, 512ULL},
    {"k", "kilo", INTSTR_DECIMAL, 1000ULL},
    {"M", "mega", INTSTR_DECIMAL, 1000000ULL},
    {"G", "giga", INTSTR_DECIMAL, 1000000000ULL},
    {"T", "tera", INTSTR_DECIMAL, 1000000000000ULL},
    {"P", "peta", INTSTR_DECIMAL, 1000000000000000ULL},
    {"E", "exa", INTSTR_DECIMAL, 1000000000000000000ULL},
    {"Ki", "kibi", INTSTR_BINARY, 1ULL << 10},
    {"Mi", "mebi", INTSTR_BINARY, 1ULL << 20},
    {"Gi", "gibi", INTSTR_BINARY, 1ULL << 30},
    {"Ti", "tebi", INTSTR_BINARY, 1ULL << 40},
    {"Pi", "pebi", INTSTR_BINARY, 1ULL << 50},
    {"Ei", "exbi", INTSTR_BINARY, 1ULL << 60},
};

namespace
{

const int INTSTR_ROWS = sizeof IntStrPrefixes / sizeof IntStrPrefixes[0];

// The platform supplies at most 3 characters.
const size_t INTSTR_SEP_SIZE = 4;
// 20 digits and six separators.
const size_t INTSTR_GROUP_SIZE = 20 + 6 * (INTSTR_SEP_SIZE - 1) + 1;
// At most one term per unit of a family (a count of up to 20 digits, a
// symbol of up to 2 characters and a "+") and the remainder.
const size_t INTSTR_SPLIT_SIZE = 7 * (20 + 2 + 1) + 20 + 1;

char intstr_sep[INTSTR_SEP_SIZE];
char intstr_group[INTSTR_GROUP_SIZE];
char intstr_split[INTSTR_SPLIT_SIZE];

} // namespace

const char *IntStrGroup(uint64_t value)
{
    // Looked up once per run: a change of the user's settings meanwhile has
    // no effect.
    if (intstr_sep[0] == '\0') {
        if (!PlatThousandsSep(intstr_sep, sizeof intstr_sep) || intstr_sep[0] == '\0')
            snprintf(intstr_sep, sizeof intstr_sep, "%s", ",");
    }

    char digits[24];
    int n = snprintf(digits, sizeof digits, "%" PRIu64, value);
    size_t sepLen = strlen(intstr_sep);
    size_t out = 0;
    for (int i = 0; i < n; i++) {
        intstr_group[out++] = digits[i];
        int rest = n - 1 - i;
        if (rest > 0 && rest % 3 == 0) {
            memcpy(intstr_group + out, intstr_sep, sepLen);
            out += sepLen;
        }
    }
    intstr_group[out] = '\0';
    return intstr_group;
}

const char *IntStrSplit(uint64_t value, uint8_t family)
{
    size_t len = 0;
    uint64_t rest = value;
    intstr_split[0] = '\0';
    for (int i = INTSTR_ROWS - 1; i >= 0 && rest != 0; i--) {
        const IntStrPrefix &row = IntStrPrefixes[i];
        if (row.family != family || row.factor > rest)
            continue;
        uint64_t count = rest / row.factor;
        len += snprintf(intstr_split + len, sizeof intstr_split - len, "%s%" PRIu64 "%s",
                        len ? "+" : "", count, row.symbol);
        rest -= count * row.factor;
    }
    if (len == 0)
        return nullptr;
    if (rest != 0)
        snprintf(intstr_split + len, sizeof intstr_split - len, "+%" PRIu64, rest);
    return intstr_split;
}

const char *IntStrSplitFmt(const char *pattern, uint64_t value, uint8_t family)
{
    const char *split = IntStrSplit(value, family);
    if (!split)
        return "";
    return St(pattern, split);
}

double IntStrScale(uint64_t value, uint8_t family, const char **symbol)
{
    for (int i = INTSTR_ROWS - 1; i >= 0; i--) {
        const IntStrPrefix &row = IntStrPrefixes[i];
        if (row.family == family && row.factor <= value) {
            if (symbol)
                *symbol = row.symbol;
            return static_cast<double>(value) / static_cast<double>(row.factor);
        }
    }
    if (symbol)
        *symbol = nullptr;
    return static_cast<double>(value);
}

void IntStrResetSeparator(void)
{
    intstr_sep[0] = '\0';
}
