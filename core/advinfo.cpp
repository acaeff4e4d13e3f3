#include "core/advinfo.h"

#include "core/run.h"
#include "core/textfmt.h"
#include "firmware/mdl.h"
#include "support/intstr.h"

namespace {

// Flash range of a group of segments, from the segments' own ranges. A
// segment without bytes takes part with its flash address as its end, so
// that an image whose first record carries no bytes still starts at its
// base address.
struct Range {
    unsigned long long size = 0;
    unsigned long long lowest = 0xFFFFFFFFULL;
    unsigned long long end = 0;
    bool any = false;

    void Add(const RunRange &r)
    {
        size += r.end - r.start;
        any = true;
        if (r.start < lowest)
            lowest = r.start;
        if (r.end > end)
            end = r.end;
    }
    unsigned long long Span() const { return any ? end - lowest : 0; }
};

std::string grouped(unsigned long long value)
{
    return IntStrGroup(value);
}

std::string address_text(unsigned long long value)
{
    return TextFormat("0x%llX%s", value, AdvInfoSuffix(value).c_str());
}

std::string lowest_text(const Range &r)
{
    return r.any ? address_text(r.lowest) : ADVINFO_NO_ADDRESS;
}

std::string highest_text(const Range &r)
{
    // An image of empty segments only ends one below where it starts.
    return r.any ? address_text((r.end - 1) & 0xFFFFFFFFULL) : ADVINFO_NO_ADDRESS;
}

} // namespace

std::string AdvInfoSuffix(unsigned long long value)
{
    return IntStrSplitFmt(" = %s", value, INTSTR_BINARY);
}

void AdvInfoCompose(const Firmware &firmware, AdvInfoTexts *texts)
{
    texts->images.clear();
    Range all;
    for (int32_t i = 0; i < firmware.imageCount; i++) {
        const FirmwareImage &image = firmware.images[i];
        Range range;
        for (int32_t j = 0; j < image.segmentCount; j++) {
            RunRange r = RunSegmentRange(image, image.segments[j]);
            range.Add(r);
            all.Add(r);
        }

        AdvInfoImage item;
        unsigned long long base = static_cast<uint32_t>(image.baseAddress);
        unsigned long long span = range.Span();
        item.text = TextFormat("Image #%d: \"%s\", Base Flash Addr: 0x%llX%s, Size: %s (0x%llX)%s, "
                               "Span size:  %s (0x%llX)%s, Lowest Flash Addr: %s, Highest Flash Addr: %s",
                               i, image.name[0] ? image.name : ADVINFO_NO_NAME, base, AdvInfoSuffix(base).c_str(),
                               grouped(range.size).c_str(), range.size, AdvInfoSuffix(range.size).c_str(),
                               grouped(span).c_str(), span, AdvInfoSuffix(span).c_str(),
                               lowest_text(range).c_str(), highest_text(range).c_str());

        for (int32_t j = 0; j < image.segmentCount; j++) {
            const FirmwareSegment &segment = image.segments[j];
            unsigned long long flash = MdlFlashAddress(&image, &segment);
            unsigned long long size = segment.size;
            unsigned long long load = segment.loadAddress;
            item.segments.push_back(TextFormat("Segment #%d: Flash Addr: 0x%llX%s, Size: %s (0x%llX)%s, "
                                               "Load Addr: 0x%llX%s",
                                               j, flash, AdvInfoSuffix(flash).c_str(), grouped(size).c_str(), size,
                                               AdvInfoSuffix(size).c_str(), load, AdvInfoSuffix(load).c_str()));
        }
        texts->images.push_back(std::move(item));
    }

    unsigned long long total = firmware.totalSize;
    unsigned long long span = all.Span();
    texts->sizeText = TextFormat("%s (0x%llX)%s Bytes", grouped(total).c_str(), total, AdvInfoSuffix(total).c_str());
    texts->spanText = TextFormat("%s (0x%llX)%s Bytes", grouped(span).c_str(), span, AdvInfoSuffix(span).c_str());
    texts->lowestText = lowest_text(all);
    texts->highestText = highest_text(all);
}
