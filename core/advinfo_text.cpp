#include "core/advinfo_text.h"

#define ADVINFO_TEXT_COLUMN 27 // where the values start: past the longest label

static void advinfo_text_line(std::string &out, const char *label, const std::string &value)
{
    std::string line = label;
    if (!value.empty() && line.size() < ADVINFO_TEXT_COLUMN)
        line.resize(ADVINFO_TEXT_COLUMN, ' ');
    out += line + value + "\n";
}

std::string AdvInfoPlainText(const AdvInfoTexts &texts, const std::vector<AdvInfoField> &fields,
                             const std::string &mapText)
{
    std::string out;
    for (const AdvInfoField &field : fields)
        advinfo_text_line(out, field.label, field.value);
    advinfo_text_line(out, ADVINFO_LABEL_SIZE, texts.sizeText);
    advinfo_text_line(out, ADVINFO_LABEL_SPAN, texts.spanText);
    advinfo_text_line(out, ADVINFO_LABEL_LOWEST, texts.lowestText);
    advinfo_text_line(out, ADVINFO_LABEL_HIGHEST, texts.highestText);
    if (!mapText.empty())
        advinfo_text_line(out, ADVINFO_LABEL_MAP, mapText);
    out += "\n" ADVINFO_LABEL_DETAILS "\n";
    for (const AdvInfoImage &image : texts.images) {
        out += image.text + "\n";
        for (const std::string &segment : image.segments)
            out += "    " + segment + "\n";
    }
    return out;
}

std::string AdvInfoCopyText(const AdvInfoTexts &texts, int image, int segment)
{
    if (image < 0 || (size_t)image >= texts.images.size())
        return AdvInfoPlainText(texts);
    const AdvInfoImage &item = texts.images[(size_t)image];
    if (segment < 0 || (size_t)segment >= item.segments.size())
        return item.text;
    return item.segments[(size_t)segment];
}
