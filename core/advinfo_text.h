// The advanced firmware information as plain text: the dialog's clipboard
// text and what mirdel-cli info prints.
#pragma once

#include <string>
#include <vector>

#include "core/advinfo.h"

// A line of its own before the summary, in the summary's column: a file
// property, say.
struct AdvInfoField {
    const char *label;
    std::string value;
};

// The fields, the four summary lines (labels padded to one column), the
// flash map line when mapText is not empty, an empty line, the details
// label, then every image line with its segment lines indented below it;
// every line ends with a line feed. A line with an empty value is its
// label alone, without trailing blanks.
std::string AdvInfoPlainText(const AdvInfoTexts &texts,
                             const std::vector<AdvInfoField> &fields = {},
                             const std::string &mapText = "");

// What copying from the tree puts on the clipboard: the line of the
// selected image (segment -1) or segment, without a line feed; with
// nothing selected (image -1), AdvInfoPlainText of all.
std::string AdvInfoCopyText(const AdvInfoTexts &texts, int image, int segment);
