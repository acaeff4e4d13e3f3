#include "core/textfmt.h"

#include <cstdio>

std::string TextFormatV(const char *fmt, va_list ap)
{
    char small[256];
    va_list again;
    va_copy(again, ap);
    int n = std::vsnprintf(small, sizeof small, fmt, ap);
    std::string text;
    if (n < 0) {
        va_end(again);
        return text;
    }
    if (static_cast<size_t>(n) < sizeof small) {
        text.assign(small, static_cast<size_t>(n));
    } else {
        text.resize(static_cast<size_t>(n) + 1);
        std::vsnprintf(text.data(), text.size(), fmt, again);
        text.resize(static_cast<size_t>(n));
    }
    va_end(again);
    return text;
}

std::string TextFormat(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    std::string text = TextFormatV(fmt, ap);
    va_end(ap);
    return text;
}
