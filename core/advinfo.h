// The texts of the advanced firmware information: four summary lines for
// the whole file and one line per image and per segment.
#pragma once

#include <string>
#include <vector>

struct Firmware;

#define ADVINFO_LABEL_SIZE "Firmware size:"
#define ADVINFO_LABEL_SPAN "Firmware span size:"
#define ADVINFO_LABEL_LOWEST "The lowest flash address:"
#define ADVINFO_LABEL_HIGHEST "The highest flash address:"
#define ADVINFO_LABEL_MAP "Flash map:"
#define ADVINFO_LABEL_DETAILS "Details for individual images and segments:"

// Shown for the lowest and highest address of an image (or a file) whose
// segments hold no byte, or that has none: there is no address to show,
// and its span is 0.
#define ADVINFO_NO_ADDRESS "none"
// The name of an image whose S0 record names none.
#define ADVINFO_NO_NAME "<no name>"

struct AdvInfoImage {
    std::string text;
    std::vector<std::string> segments;
};

struct AdvInfoTexts {
    std::string sizeText;
    std::string spanText;
    std::string lowestText;
    std::string highestText;
    std::vector<AdvInfoImage> images;
};

// Composes every text from the model; the model is only read.
void AdvInfoCompose(const Firmware &firmware, AdvInfoTexts *texts);

// " = 1Mi+512Ki", or empty below 1024.
std::string AdvInfoSuffix(unsigned long long value);
