// The flash map: block positions and their warnings.
#include "core/flashmap.h"

#include <cmath>

#include "core/run.h"
#include "firmware/mdl.h"

void FlashMapCompute(const Firmware &firmware, FlashMap *map)
{
    map->blocks.clear();
    map->imageCount = firmware.imageCount;
    map->top = RUN_FLASH_END;
    for (int32_t i = 0; i < firmware.imageCount; i++) {
        const FirmwareImage &image = firmware.images[i];
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
    for (size_t k = 0; k < map->blocks.size(); k++) {
        FlashMapBlock &a = map->blocks[k];
        for (size_t m = 0; m < map->blocks.size() && !a.overlaps; m++) {
            const FlashMapBlock &b = map->blocks[m];
            a.overlaps = m != k && RunRangesOverlap({a.start, a.end}, {b.start, b.end});
        }
        a.from = (double)a.start / (double)map->top;
        a.to = (double)a.end / (double)map->top;
    }
    map->limit = (double)RUN_FLASH_END / (double)map->top;
}

std::string FlashMapBlockText(const FlashMapBlock &block, const std::string &segmentLine)
{
    std::string text = segmentLine;
    if (block.overlaps)
        text += "\n" FLASHMAP_OVERLAPS;
    if (block.beyond)
        text += "\n" FLASHMAP_BEYOND;
    return text;
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
        char ch = lo >= (double)RUN_FLASH_END ? '-' : '.';
        for (const FlashMapBlock &b : map.blocks) {
            if ((double)b.start >= hi || (double)b.end <= lo)
                continue;
            if (b.overlaps || b.beyond) {
                ch = '!';
                break;
            }
            if (ch == '.' || ch == '-')
                ch = flashmap_image_char(b.image);
        }
        cells += ch;
    }
    if (map.top > RUN_FLASH_END)
        cells.insert((size_t)std::ceil(map.limit * width), 1, '|');
    return "[" + cells + "]";
}
