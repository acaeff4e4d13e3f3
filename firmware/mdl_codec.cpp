#include "firmware/mdl.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

// The digit rule as a table: every file byte goes through it, and a call of
// toupper per character would cost more than the rest of the analysis.
struct HexTable {
    int8_t value[256];
    bool digit[256];

    constexpr HexTable() : value(), digit()
    {
        for (int c = 0; c < 256; c++) {
            int upper = c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c;
            value[c] = static_cast<int8_t>(c >= '0' && c <= '9' ? c - '0' : upper - 55);
            digit[c] = (c >= '0' && c <= '9') || (upper >= 'A' && upper <= 'F');
        }
    }
};

constexpr HexTable mdl_hex;

inline int mdl_digit(char c)
{
    return mdl_hex.value[static_cast<unsigned char>(c)];
}

inline uint8_t mdl_hex_byte(const char *text)
{
    return static_cast<uint8_t>((mdl_digit(text[0]) * 16 + mdl_digit(text[1])) & 0xFF);
}

} // namespace

int MdlHexDigit(char c)
{
    return mdl_digit(c);
}

uint16_t MdlChecksum(const char *line)
{
    size_t len = std::strlen(line);
    size_t start = len < 2 ? len : 2;
    size_t pairs = (len - start) / 2;
    unsigned sum = 0;
    unsigned written = 0;
    for (size_t i = 0; i < pairs; i++) {
        uint8_t byte = mdl_hex_byte(line + start + 2 * i);
        if (i + 1 == pairs)
            written = byte;
        else
            sum += byte;
    }
    unsigned computed = (0xFF - (sum & 0xFF)) & 0xFF;
    return static_cast<uint16_t>((written << 8) | computed);
}

uint32_t MdlHexValue(const char *text, int width)
{
    uint32_t value = 0;
    for (int i = 0; i < width && mdl_hex.digit[static_cast<unsigned char>(text[i])]; i++)
        value = value * 16 + static_cast<uint32_t>(mdl_digit(text[i]));
    return value;
}

void MdlHexBytes(const char *text, uint8_t *dest, int n)
{
    for (int i = 0; i < n; i++)
        dest[i] = mdl_hex_byte(text + 2 * i);
}

static int mdl_error_code;
static char mdl_error_text[MDL_ERROR_TEXT_SIZE];

void MdlSetError(int code, const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(mdl_error_text, sizeof mdl_error_text, fmt, ap);
    va_end(ap);
    mdl_error_code = code;
}

int MdlGetError(char *dest, size_t size)
{
    if (dest && size > 0)
        std::snprintf(dest, size, "%s", mdl_error_text);
    return mdl_error_code;
}

const char *MdlErrorText(void)
{
    return mdl_error_text;
}
