// A picture of where the firmware lies in flash: one block per segment at
// its flash address and size, placed on the address space from 0 to the
// end of flash (further when the firmware reaches beyond it), with the
// ranges that two segments share and the blocks that reach beyond the end
// of flash marked. FlashMapLayout turns it into shapes and labels in
// pixels that a desktop program only draws; mirdel-cli prints it as a line
// of characters.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct Firmware;
struct AdvInfoTexts;

struct FlashMapBlock {
    int image; // numbers from 0
    int segment;
    uint32_t start; // flash address of the first byte
    uint64_t end;   // one past the last byte
    double from;    // position of start and end in the map, 0 to 1
    double to;
    bool overlaps; // shares a byte with another segment
    bool beyond;   // reaches past the highest flash address
};

// The bytes two blocks share.
struct FlashMapOverlap {
    size_t first, second; // blocks, first < second
    uint32_t start;
    uint64_t end;
    double from, to;
};

struct FlashMap {
    uint64_t top = 0; // end of the address space shown
    double limit = 1; // position of the end of flash
    int imageCount = 0;
    std::vector<FlashMapBlock> blocks;     // image and segment order; empty segments have none
    std::vector<FlashMapOverlap> overlaps; // by first block, then second
    std::vector<std::string> imageNames;
};

void FlashMapCompute(const Firmware &firmware, FlashMap *map);

#define FLASHMAP_BEYOND "Reaches beyond the highest flash address 0xEFFFF."
// Filled with the other segment (Image #1 "Patch", Segment #0) and the
// range both hold, from its first to its last byte.
#define FLASHMAP_OVERLAPS_WITH "Overlaps %s at %s."
#define FLASHMAP_OVERLAP "Overlap at %s of"
#define FLASHMAP_FLASH "Flash: %s"
#define FLASHMAP_OUTSIDE "Beyond the end of flash: %s"
#define FLASHMAP_END "End of flash: the highest flash address is 0x%lX."

// What hovering shows, one text per tip of the layout: per block its
// segment's line (from texts) and its warnings, one a line; per overlap
// the range and both segments; then the flash, the address space beyond
// it and the end-of-flash mark.
std::vector<std::string> FlashMapTips(const FlashMap &map, const AdvInfoTexts &texts);

// The map as one line of width cells between brackets: '.' free flash, '-'
// address space beyond the end of flash, the image's number (0-9, then A-Z,
// then '#') where one of its segments lies, '!' where segments overlap or
// a segment that reaches beyond the end of flash lies; '|' stands where the
// flash ends when the map goes beyond it.
std::string FlashMapText(const FlashMap &map, int width);

// What each shape stands for; the front end picks its colour and pattern.
enum FlashMapRole {
    FLASHMAP_ROLE_FREE,      // flash without data
    FLASHMAP_ROLE_OUTSIDE,   // address space beyond the end of flash
    FLASHMAP_ROLE_IMAGE,     // data, in the colour of image
    FLASHMAP_ROLE_WARNING,   // drawn over data, letting it show through
    FLASHMAP_ROLE_HIGHLIGHT, // an outline around a selected block
    FLASHMAP_ROLE_FRAME,     // the outline of the bar
    FLASHMAP_ROLE_END_EDGE,  // a light edge on both sides of the end mark
    FLASHMAP_ROLE_END,       // the end of flash: stands out from all else
};

struct FlashMapRect {
    int x, y, w, h;
    bool Contains(int px, int py) const { return px >= x && px < x + w && py >= y && py < y + h; }
};

struct FlashMapShape {
    FlashMapRole role;
    FlashMapRect rect;
    int image; // FLASHMAP_ROLE_IMAGE: whose colour
    int block; // the block an image shape draws whole or an outline is around, or -1
    int tip;   // index into FlashMapTips, or -1
};

struct FlashMapLabel {
    std::string text;
    FlashMapRect rect;
    int row; // 0 right below the bar, 1 below that
};

struct FlashMapLayout {
    int width = 0, height = 0;
    FlashMapRect bar{};
    std::vector<FlashMapShape> shapes; // each drawn over the ones before
    std::vector<FlashMapLabel> labels; // never overlapping
};

// Width in pixels of a text in the drawing's font.
using FlashMapMeasure = std::function<int(const std::string &)>;

// The height the map needs: the bar and two rows of labels.
int FlashMapLayoutHeight(int lineHeight);
// Lays the map out on a drawing width pixels wide, with the blocks of one
// segment (or of a whole image with segment -1) outlined; an image of -1
// outlines none. A label that would meet another moves to the second row,
// or is left out where it meets one there too: the tips name every address.
void FlashMapLayoutCompute(const FlashMap &map, int width, int lineHeight,
                           const FlashMapMeasure &measure, int image, int segment,
                           FlashMapLayout *layout);
// The shape with a tip on top at the point, or -1.
int FlashMapLayoutShapeAt(const FlashMapLayout &layout, int x, int y);

// How a front end paints a shape: a fill, a hatch of lines rising from
// left to right with what lies below showing between them, or an outline
// width pixels wide inside the shape's rectangle.
enum FlashMapStroke {
    FLASHMAP_STROKE_FILL,
    FLASHMAP_STROKE_HATCH,
    FLASHMAP_STROKE_OUTLINE,
};

// The colour of a stroke: a fixed one, or one of the desktop's own, which
// follow its theme: the background of text fields, a mid grey, a shadow
// grey and the colour of text.
enum FlashMapInk {
    FLASHMAP_INK_RGB,
    FLASHMAP_INK_BASE,
    FLASHMAP_INK_MID,
    FLASHMAP_INK_DARK,
    FLASHMAP_INK_TEXT,
};

struct FlashMapPaint {
    FlashMapStroke stroke;
    FlashMapInk ink;
    uint32_t rgb; // 0xRRGGBB, with FLASHMAP_INK_RGB
    int width;    // of an outline
};

// The strokes of a shape, painted in order; answers how many (one or two).
int FlashMapShapePaint(const FlashMapShape &shape, FlashMapPaint paint[2]);
