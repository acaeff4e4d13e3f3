// printf-style formatting into a std::string, for texts without a fixed
// capacity (tree lines, display fields).
#pragma once

#include <cstdarg>
#include <string>

std::string TextFormat(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
std::string TextFormatV(const char *fmt, va_list ap) __attribute__((format(printf, 1, 0)));
