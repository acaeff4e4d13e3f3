// The advanced firmware information as plain text, for the clipboard.
#pragma once

#include <string>

#include "core/advinfo.h"

// The four summary lines (labels padded to one column), an empty line, the
// details label, then every image line with its segment lines indented
// below it; every line ends with a line feed.
std::string AdvInfoPlainText(const AdvInfoTexts &texts);
