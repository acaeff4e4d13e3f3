#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "core/flashmap.h"
#include "firmware/mdl.h"

namespace
{

struct Seg {
    uint32_t load, size;
};
struct Img {
    int32_t base;
    std::vector<Seg> segments;
};
// What a block must be: its numbers, addresses and warnings.
struct Want {
    int image, segment;
    uint32_t start;
    uint64_t end;
    bool overlaps, beyond;
};
struct Case {
    const char *name;
    std::vector<Img> images;
    uint64_t top;
    std::vector<Want> blocks;
    std::string text;                                   // 30 cells
    std::vector<std::array<uint64_t, 4>> overlaps = {}; // first, second, start, end
    // At kWidths, when given: row 0's labels, " /", row 1's.
    std::vector<std::string> labels = {};
};

// The map's width in the dialog at its smallest, and a wide one; a label
// character 7 pixels wide.
const int kWidths[] = {449, 1000};
int Measure(const std::string &text)
{
    return 7 * static_cast<int>(text.size());
}

// A model laid out by hand: the map reads only sizes and addresses.
struct Model {
    explicit Model(const std::vector<Img> &layout)
    {
        for (const Img &i : layout)
            for (const Seg &s : i.segments)
                segments.push_back({nullptr, s.size, 0, s.load});
        size_t at = 0;
        for (const Img &i : layout) {
            FirmwareImage image{};
            image.baseAddress = i.base;
            image.segments = segments.data() + at;
            image.segmentCount = static_cast<int32_t>(i.segments.size());
            at += i.segments.size();
            images.push_back(image);
        }
        fw.images = images.data();
        fw.imageCount = static_cast<int32_t>(images.size());
    }
    std::vector<FirmwareSegment> segments;
    std::vector<FirmwareImage> images;
    Firmware fw{};
};

const std::vector<Case> kCases = {
    {"empty file", {}, 0xF0000, {}, "[..............................]"},
    {"two images apart",
     {{0x0, {{0x8000, 0x8000}}}, {0x78000, {{0x0, 0x8000}, {0x10000, 0x8000}}}},
     0xF0000,
     {{0, 0, 0x0, 0x8000, false, false},
      {1, 0, 0x78000, 0x80000, false, false},
      {1, 1, 0x88000, 0x90000, false, false}},
     "[0..............1.1............]"},
    // Touching ranges do not overlap; one shared byte does, both blocks,
    // but only that byte is marked.
    {"touching and overlapping",
     {{0x0, {{0x0, 0x10000}}}, {0x10000, {{0x0, 0x8000}}}, {0x17FFF, {{0x0, 0x10}}}},
     0xF0000,
     {{0, 0, 0x0, 0x10000, false, false},
      {1, 0, 0x10000, 0x18000, true, false},
      {2, 0, 0x17FFF, 0x1800F, true, false}},
     "[00!2..........................]",
     {{1, 2, 0x17FFF, 0x18000}}},
    {"overlap range only",
     {{0x20000, {{0x0, 0x8000}}}, {0x24000, {{0x0, 0x8000}}}},
     0xF0000,
     {{0, 0, 0x20000, 0x28000, true, false}, {1, 0, 0x24000, 0x2C000, true, false}},
     "[....!1........................]",
     {{0, 1, 0x24000, 0x28000}}},
    // The end of flash is too near the top for its label on the first row.
    {"labels that would collide",
     {{0x0, {{0x0, 0x8000}}}, {0xE8000, {{0x0, 0x10000}}}},
     0xF8000,
     {{0, 0, 0x0, 0x8000, false, false}, {1, 0, 0xE8000, 0xF8000, false, true}},
     "[0...........................!!|]",
     {},
     {" 0x0 0xF7FFF / 0xEFFFF", " 0x0 0xF7FFF / 0xEFFFF"}},
    {"last byte at the highest address",
     {{0xE0000, {{0x0, 0x10000}}}},
     0xF0000,
     {{0, 0, 0xE0000, 0xF0000, false, false}},
     "[............................00]"},
    // One byte further: the map grows to the end of the firmware and marks
    // the end of flash.
    {"beyond the end of flash",
     {{0xE0000, {{0x0, 0x40000}}}},
     0x120000,
     {{0, 0, 0xE0000, 0x120000, false, true}},
     "[.......................!!|!!!!!]"},
    {"segment without bytes draws nothing",
     {{0x1000, {{0x0, 0x0}, {0x100, 0x10}}}},
     0xF0000,
     {{0, 1, 0x1100, 0x1110, false, false}},
     "[0.............................]"},
    // Nor beyond the end of flash, but the map reaches to where it lies.
    {"segment without bytes beyond the end of flash",
     {{0x0, {{0x0, 0x10}}}, {0x100000, {{0x0, 0x0}}}},
     0x100000,
     {{0, 0, 0x0, 0x10, false, false}},
     "[0............................|-]"},
};

} // namespace

TEST(FlashMap, BlocksWarningsAndText)
{
    for (const Case &c : kCases) {
        SCOPED_TRACE(c.name);
        Model model(c.images);
        FlashMap map;
        FlashMapCompute(model.fw, &map);
        EXPECT_EQ(map.top, c.top);
        EXPECT_DOUBLE_EQ(map.limit, 983040.0 / (double)c.top);
        ASSERT_EQ(map.blocks.size(), c.blocks.size());
        for (size_t k = 0; k < c.blocks.size(); k++) {
            const FlashMapBlock &b = map.blocks[k];
            const Want &w = c.blocks[k];
            EXPECT_EQ(b.image, w.image);
            EXPECT_EQ(b.segment, w.segment);
            EXPECT_EQ(b.start, w.start);
            EXPECT_EQ(b.end, w.end);
            EXPECT_EQ(b.overlaps, w.overlaps) << k;
            EXPECT_EQ(b.beyond, w.beyond) << k;
            EXPECT_DOUBLE_EQ(b.from, (double)w.start / (double)c.top);
            EXPECT_DOUBLE_EQ(b.to, (double)w.end / (double)c.top);
        }
        EXPECT_EQ(FlashMapText(map, 30), c.text);
        std::vector<std::array<uint64_t, 4>> shared;
        for (const FlashMapOverlap &v : map.overlaps)
            shared.push_back({v.first, v.second, v.start, v.end});
        ASSERT_EQ(shared, c.overlaps);
        for (size_t i = 0; i < 2; i++) {
            FlashMapLayout layout;
            FlashMapLayoutCompute(map, kWidths[i], 16, Measure, -1, -1, &layout);
            std::string rows[2] = {"", " /"};
            for (const FlashMapLabel &l : layout.labels) {
                rows[l.row] += " " + l.text;
                EXPECT_TRUE(l.rect.x >= 0 && l.rect.x + l.rect.w <= kWidths[i]) << l.text;
                for (const FlashMapLabel &m : layout.labels)
                    EXPECT_TRUE(&l == &m || l.row != m.row || l.rect.x + l.rect.w < m.rect.x ||
                                m.rect.x + m.rect.w < l.rect.x)
                        << l.text << " meets " << m.text;
            }
            if (!c.labels.empty()) {
                EXPECT_EQ(rows[0] + rows[1], c.labels[i]);
            }
            // The end mark on top, where the flash ends.
            const FlashMapRect &bar = layout.bar;
            const FlashMapShape &end = layout.shapes.back();
            EXPECT_EQ(end.role, FLASHMAP_ROLE_END);
            EXPECT_NEAR(end.rect.x + end.rect.w / 2.0, bar.x + map.limit * bar.w, 1.0);
            // The shared range on top of both blocks, with its own tip.
            for (size_t o = 0; o < map.overlaps.size(); o++) {
                int x = bar.x +
                        static_cast<int>((map.overlaps[o].from + map.overlaps[o].to) / 2 * bar.w);
                int at = FlashMapLayoutShapeAt(layout, x, bar.y + bar.h / 2);
                ASSERT_GE(at, 0);
                EXPECT_EQ(layout.shapes[at].tip, static_cast<int>(map.blocks.size() + o));
            }
        }
    }
}
