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

std::string TextWrap(const std::string &text, int columns)
{
    if (columns <= 0)
        return text;
    std::string out;
    size_t start = 0;
    for (;;) {
        size_t end = text.find('\n', start);
        std::string line = text.substr(start, end == std::string::npos ? end : end - start);
        if (!line.empty() && line[0] != ' ') {
            while (line.size() > static_cast<size_t>(columns)) {
                size_t cut = line.rfind(' ', static_cast<size_t>(columns));
                if (cut == std::string::npos || cut == 0)
                    cut = line.find(' ', static_cast<size_t>(columns));
                if (cut == std::string::npos)
                    break;
                out += line.substr(0, cut) + "\n";
                line.erase(0, line.find_first_not_of(' ', cut));
            }
        }
        out += line;
        if (end == std::string::npos)
            return out;
        out += "\n";
        start = end + 1;
    }
}

std::string TextCut(const std::string &text, size_t max)
{
    if (text.size() <= max)
        return text;
    size_t n = max;
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80)
        n--;
    return text.substr(0, n);
}

int TextCompareNoCase(const std::string &a, const std::string &b)
{
    auto lower = [](char c) {
        unsigned char u = static_cast<unsigned char>(c);
        return u >= 'A' && u <= 'Z' ? u - 'A' + 'a' : u;
    };
    size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; i++)
        if (lower(a[i]) != lower(b[i]))
            return lower(a[i]) < lower(b[i]) ? -1 : 1;
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}
