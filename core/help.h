// The user manual beside the program: the PDF first and, when it cannot be
// opened, the text file, each failure told in its own error box.
#pragma once

#include <functional>
#include <string>

#define HELP_PDF_FILE "Mirdel.pdf"
#define HELP_TXT_FILE "Mirdel.txt"

// The directory of a Windows program file, with its trailing separator:
// cut after the last backslash; without one, the last forward slash
// becomes a backslash and the cut is after it; with neither, empty (the
// current directory).
std::string HelpDirectoryOf(const char *programPath);

// Opens one help file. False with the thread's last system error set.
using HelpOpenFn = std::function<bool(const std::string &path)>;
// Shows an error text (a box with the stop icon).
using HelpErrorFn = std::function<void(const std::string &text)>;

// dir (with its trailing separator) + the PDF by openPdf; on failure its
// error box, then the text file by openTxt, and on failure its box.
// True when one of them opened.
bool HelpOpen(const std::string &dir, const HelpOpenFn &openPdf, const HelpOpenFn &openTxt,
              const HelpErrorFn &showError);
