// printf-style formatting into a std::string, for texts without a fixed
// capacity (tree lines, display fields).
#pragma once

#include <cstdarg>
#include <string>

std::string TextFormat(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
std::string TextFormatV(const char *fmt, va_list ap) __attribute__((format(printf, 1, 0)));

// A text of paragraphs fitted to a terminal of columns characters: a line
// longer than that is broken at its last blank that fits (a word longer
// than a line stays whole). The text's own line breaks stay, and an
// indented line (a command to type) is never broken. Message boxes get the
// text as it is: the toolkit wraps it to the box.
std::string TextWrap(const std::string &text, int columns);

// The text cut to at most max bytes, never within a UTF-8 character.
std::string TextCut(const std::string &text, size_t max);

// Compares two names with ASCII letters taken without case (port names:
// "com1" is COM1): <0, 0 or >0, as strcmp.
int TextCompareNoCase(const std::string &a, const std::string &b);
