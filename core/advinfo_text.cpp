#include "core/advinfo_text.h"

static void advinfo_text_line(std::string &out, const char *label, const std::string &value)
{
    std::string line = label;
    line.resize(27, ' ');
    out += line + value + "\n";
}

std::string AdvInfoPlainText(const AdvInfoTexts &texts)
{
    std::string out;
    advinfo_text_line(out, ADVINFO_LABEL_SIZE, texts.sizeText);
    advinfo_text_line(out, ADVINFO_LABEL_SPAN, texts.spanText);
    advinfo_text_line(out, ADVINFO_LABEL_LOWEST, texts.lowestText);
    advinfo_text_line(out, ADVINFO_LABEL_HIGHEST, texts.highestText);
    out += "\n" ADVINFO_LABEL_DETAILS "\n";
    for (const AdvInfoImage &image : texts.images) {
        out += image.text + "\n";
        for (const std::string &segment : image.segments)
            out += "    " + segment + "\n";
    }
    return out;
}
