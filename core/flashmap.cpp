// The flash map: block positions, overlaps, warnings, and the layout a
// desktop program draws.
#include "core/flashmap.h"

#include <algorithm>
#include <cmath>

#include "core/advinfo.h"
#include "core/run.h"
#include "core/textfmt.h"
#include "firmware/mdl.h"

// Pixels of the drawing: the bar's inset and height, the room between the
// bar and its labels, and the narrowest block, so that a few bytes in a
// megabyte still show.
#define FLASHMAP_INSET 4
#define FLASHMAP_BAR_HEIGHT 26
#define FLASHMAP_LABEL_GAP 4
#define FLASHMAP_MIN_WIDTH 3

void FlashMapCompute(const Firmware &firmware, FlashMap *map)
{
    map->blocks.clear();
    map->overlaps.clear();
    map->imageNames.clear();
    map->imageCount = firmware.imageCount;
    map->top = RUN_FLASH_END;
    for (int32_t i = 0; i < firmware.imageCount; i++) {
        const FirmwareImage &image = firmware.images[i];
        map->imageNames.push_back(image.name[0] ? image.name : ADVINFO_NO_NAME);
        for (int32_t j = 0; j < image.segmentCount; j++) {
            RunRange r = RunSegmentRange(image, image.segments[j]);
            // The map reaches to the highest flash address, which a segment
            // without bytes counts toward too; but it occupies no flash,
            // so there is nothing to draw for it.
            if (r.end > map->top)
                map->top = r.end;
            if (r.end == r.start)
                continue;
            FlashMapBlock b{};
            b.image = i;
            b.segment = j;
            b.start = r.start;
            b.end = r.end;
            b.beyond = RunRangeBeyond(r);
            map->blocks.push_back(b);
        }
    }
    double top = (double)map->top;
    for (size_t k = 0; k < map->blocks.size(); k++) {
        FlashMapBlock &a = map->blocks[k];
        for (size_t m = k + 1; m < map->blocks.size(); m++) {
            FlashMapBlock &b = map->blocks[m];
            RunRange ra{a.start, a.end}, rb{b.start, b.end};
            if (!RunRangesOverlap(ra, rb))
                continue;
            a.overlaps = b.overlaps = true;
            RunRange s = RunRangeShared(ra, rb);
            map->overlaps.push_back(
                {k, m, s.start, s.end, (double)s.start / top, (double)s.end / top});
        }
        a.from = (double)a.start / top;
        a.to = (double)a.end / top;
    }
    map->limit = (double)RUN_FLASH_END / top;
}

// The tips of the flash, the space beyond it and the end mark follow those
// of the blocks and the overlaps.
static int flashmap_tip_flash(const FlashMap &map)
{
    return (int)(map.blocks.size() + map.overlaps.size());
}

static std::string flashmap_range(uint64_t start, uint64_t end)
{
    return TextFormat("0x%llX-0x%llX", (unsigned long long)start, (unsigned long long)(end - 1));
}

static std::string flashmap_segment_name(const FlashMap &map, const FlashMapBlock &b)
{
    return TextFormat("Image #%d \"%s\", Segment #%d", b.image, map.imageNames.at(b.image).c_str(),
                      b.segment);
}

std::vector<std::string> FlashMapTips(const FlashMap &map, const AdvInfoTexts &texts)
{
    auto line = [&](const FlashMapBlock &b) -> const std::string & {
        return texts.images.at(b.image).segments.at(b.segment);
    };
    std::vector<std::string> tips;
    for (size_t k = 0; k < map.blocks.size(); k++) {
        const FlashMapBlock &b = map.blocks[k];
        std::string tip = line(b);
        for (const FlashMapOverlap &o : map.overlaps) {
            if (o.first != k && o.second != k)
                continue;
            const FlashMapBlock &other = map.blocks[o.first == k ? o.second : o.first];
            tip +=
                "\n" + TextFormat(FLASHMAP_OVERLAPS_WITH, flashmap_segment_name(map, other).c_str(),
                                  flashmap_range(o.start, o.end).c_str());
        }
        if (b.beyond)
            tip += "\n" FLASHMAP_BEYOND;
        tips.push_back(tip);
    }
    for (const FlashMapOverlap &o : map.overlaps) {
        std::string tip = TextFormat(FLASHMAP_OVERLAP, flashmap_range(o.start, o.end).c_str());
        for (size_t k : {o.first, o.second}) {
            const FlashMapBlock &b = map.blocks[k];
            tip += TextFormat("\nImage #%d \"%s\", ", b.image, map.imageNames.at(b.image).c_str()) +
                   line(b);
        }
        tips.push_back(tip);
    }
    tips.push_back(TextFormat(FLASHMAP_FLASH, flashmap_range(0, RUN_FLASH_END).c_str()));
    tips.push_back(TextFormat(FLASHMAP_OUTSIDE, flashmap_range(RUN_FLASH_END, map.top).c_str()));
    tips.push_back(TextFormat(FLASHMAP_END, (unsigned long)(RUN_FLASH_END - 1)));
    return tips;
}

static char flashmap_image_char(int image)
{
    if (image < 10)
        return (char)('0' + image);
    if (image < 36)
        return (char)('A' + image - 10);
    return '#';
}

std::string FlashMapText(const FlashMap &map, int width)
{
    if (width < 1 || map.top == 0)
        return "[]";
    std::string cells;
    for (int c = 0; c < width; c++) {
        // The cell covers [lo, hi) of the address space.
        double lo = (double)map.top * c / width, hi = (double)map.top * (c + 1) / width;
        auto in = [&](uint32_t start, uint64_t end) {
            return (double)start < hi && (double)end > lo;
        };
        char ch = lo >= (double)RUN_FLASH_END ? '-' : '.';
        for (const FlashMapBlock &b : map.blocks) {
            if (!in(b.start, b.end))
                continue;
            if (b.beyond) {
                ch = '!';
                break;
            }
            if (ch == '.' || ch == '-')
                ch = flashmap_image_char(b.image);
        }
        for (const FlashMapOverlap &o : map.overlaps)
            if (in(o.start, o.end))
                ch = '!';
        cells += ch;
    }
    if (map.top > RUN_FLASH_END)
        cells.insert((size_t)std::ceil(map.limit * width), 1, '|');
    return "[" + cells + "]";
}

int FlashMapLayoutHeight(int lineHeight)
{
    return FLASHMAP_INSET + FLASHMAP_BAR_HEIGHT + FLASHMAP_LABEL_GAP + 2 * lineHeight + 2;
}

// The rectangle of the bar from position from to position to (0 to 1),
// never narrower than a block may be.
static FlashMapRect flashmap_span(const FlashMapRect &bar, double from, double to)
{
    int x0 = bar.x + (int)(from * bar.w);
    int x1 = bar.x + (int)(to * bar.w + 0.5);
    return {x0, bar.y, std::max(x1 - x0, FLASHMAP_MIN_WIDTH), bar.h};
}

// Places a label on the first row where it keeps a gap to the labels
// there; none when it meets one on both rows.
static void flashmap_place(FlashMapLayout *layout, const std::string &text, int anchor,
                           bool rightAligned, int lineHeight, const FlashMapMeasure &measure,
                           int gap)
{
    int w = measure(text);
    int x = rightAligned ? anchor - w : anchor;
    x = std::max(0, std::min(x, layout->width - w));
    int y = layout->bar.y + layout->bar.h + FLASHMAP_LABEL_GAP;
    for (int row = 0; row < 2; row++) {
        bool meets = false;
        for (const FlashMapLabel &l : layout->labels)
            meets =
                meets || (l.row == row && x < l.rect.x + l.rect.w + gap && l.rect.x < x + w + gap);
        if (!meets) {
            layout->labels.push_back({text, {x, y + row * lineHeight, w, lineHeight}, row});
            return;
        }
    }
}

void FlashMapLayoutCompute(const FlashMap &map, int width, int lineHeight,
                           const FlashMapMeasure &measure, int image, int segment,
                           FlashMapLayout *layout)
{
    layout->width = width;
    layout->height = FlashMapLayoutHeight(lineHeight);
    layout->shapes.clear();
    layout->labels.clear();
    const FlashMapRect bar{FLASHMAP_INSET, FLASHMAP_INSET, std::max(width - 2 * FLASHMAP_INSET, 1),
                           FLASHMAP_BAR_HEIGHT};
    layout->bar = bar;
    auto add = [&](FlashMapRole role, FlashMapRect r, int img, int block, int tip) {
        layout->shapes.push_back({role, r, img, block, tip});
    };
    const int tipFlash = flashmap_tip_flash(map);
    const int limitX = bar.x + (int)(map.limit * bar.w + 0.5);
    const bool beyond = map.top > RUN_FLASH_END;

    add(FLASHMAP_ROLE_FREE, {bar.x, bar.y, limitX - bar.x, bar.h}, -1, -1, tipFlash);
    if (beyond)
        add(FLASHMAP_ROLE_OUTSIDE, {limitX, bar.y, bar.x + bar.w - limitX, bar.h}, -1, -1,
            tipFlash + 1);
    for (size_t k = 0; k < map.blocks.size(); k++) {
        const FlashMapBlock &b = map.blocks[k];
        add(FLASHMAP_ROLE_IMAGE, flashmap_span(bar, b.from, b.to), b.image, (int)k, (int)k);
    }
    // What lies beyond the end of flash cannot be written.
    for (size_t k = 0; k < map.blocks.size(); k++) {
        const FlashMapBlock &b = map.blocks[k];
        if (b.beyond)
            add(FLASHMAP_ROLE_WARNING, flashmap_span(bar, std::max(b.from, map.limit), b.to), -1,
                -1, (int)k);
    }
    // The shared range shows both images' colours, one above the other,
    // under the warning.
    for (size_t o = 0; o < map.overlaps.size(); o++) {
        const FlashMapOverlap &v = map.overlaps[o];
        int tip = (int)(map.blocks.size() + o);
        FlashMapRect r = flashmap_span(bar, v.from, v.to);
        FlashMapRect upper = {r.x, r.y, r.w, r.h / 2};
        FlashMapRect lower = {r.x, r.y + r.h / 2, r.w, r.h - r.h / 2};
        add(FLASHMAP_ROLE_IMAGE, upper, map.blocks[v.first].image, -1, tip);
        add(FLASHMAP_ROLE_IMAGE, lower, map.blocks[v.second].image, -1, tip);
        add(FLASHMAP_ROLE_WARNING, r, -1, -1, tip);
    }
    for (size_t k = 0; k < map.blocks.size(); k++) {
        const FlashMapBlock &b = map.blocks[k];
        if (image < 0 || b.image != image || (segment >= 0 && b.segment != segment))
            continue;
        // Reaching past the bar, so that it shows on any colour.
        FlashMapRect r = flashmap_span(bar, b.from, b.to);
        add(FLASHMAP_ROLE_HIGHLIGHT, {r.x - 2, r.y - 3, r.w + 4, r.h + 6}, -1, (int)k, -1);
    }
    add(FLASHMAP_ROLE_FRAME, bar, -1, -1, -1);
    // Above everything else, and wide enough to be found with the pointer.
    add(FLASHMAP_ROLE_END_EDGE, {limitX - 2, bar.y - 4, 4, bar.h + 8}, -1, -1, tipFlash + 2);
    add(FLASHMAP_ROLE_END, {limitX - 1, bar.y - 3, 2, bar.h + 6}, -1, -1, tipFlash + 2);

    if (map.top == 0)
        return;
    // The ends of the bar first, then the end of flash left of its mark.
    int gap = measure(" ");
    flashmap_place(layout, "0x0", bar.x, false, lineHeight, measure, gap);
    flashmap_place(layout, TextFormat("0x%llX", (unsigned long long)(map.top - 1)), bar.x + bar.w,
                   true, lineHeight, measure, gap);
    if (beyond)
        flashmap_place(layout, TextFormat("0x%lX", (unsigned long)(RUN_FLASH_END - 1)), limitX - 3,
                       true, lineHeight, measure, gap);
}

int FlashMapLayoutShapeAt(const FlashMapLayout &layout, int x, int y)
{
    for (size_t k = layout.shapes.size(); k-- > 0;)
        if (layout.shapes[k].tip >= 0 && layout.shapes[k].rect.Contains(x, y))
            return (int)k;
    return -1;
}

int FlashMapShapePaint(const FlashMapShape &shape, FlashMapPaint paint[2])
{
    // One colour per image, repeating after eight; none of them near the
    // warning red or the end mark's dark.
    static const uint32_t imageColours[] = {
        0x3b76c4, 0x3fa34d, 0x8e5cc2, 0xd08a1e, 0x1e9ea8, 0x9c6b3d, 0xc44f95, 0x6b7a35,
    };
    const uint32_t warning = 0xd32f2f;
    switch (shape.role) {
    case FLASHMAP_ROLE_FREE:
    case FLASHMAP_ROLE_END_EDGE:
        paint[0] = {FLASHMAP_STROKE_FILL, FLASHMAP_INK_BASE, 0, 0};
        return 1;
    case FLASHMAP_ROLE_OUTSIDE:
        paint[0] = {FLASHMAP_STROKE_HATCH, FLASHMAP_INK_MID, 0, 0};
        return 1;
    case FLASHMAP_ROLE_IMAGE:
        paint[0] = {FLASHMAP_STROKE_FILL, FLASHMAP_INK_RGB,
                    imageColours[(unsigned)std::max(shape.image, 0) % 8], 0};
        return 1;
    case FLASHMAP_ROLE_WARNING:
        // Hatched, so that the colours below still show.
        paint[0] = {FLASHMAP_STROKE_HATCH, FLASHMAP_INK_RGB, warning, 0};
        paint[1] = {FLASHMAP_STROKE_OUTLINE, FLASHMAP_INK_RGB, warning, 2};
        return 2;
    case FLASHMAP_ROLE_HIGHLIGHT:
        paint[0] = {FLASHMAP_STROKE_OUTLINE, FLASHMAP_INK_TEXT, 0, 2};
        return 1;
    case FLASHMAP_ROLE_FRAME:
        paint[0] = {FLASHMAP_STROKE_OUTLINE, FLASHMAP_INK_DARK, 0, 1};
        return 1;
    case FLASHMAP_ROLE_END:
        paint[0] = {FLASHMAP_STROKE_FILL, FLASHMAP_INK_TEXT, 0, 0};
        return 1;
    }
    return 0;
}
