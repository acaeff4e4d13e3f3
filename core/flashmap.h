// A picture of where the firmware lies in flash: one block per segment at
// its flash address and size, placed on the address space from 0 to the
// end of flash (further when the firmware reaches beyond it), with the
// blocks that overlap another or reach beyond the end of flash marked.
// The dialog draws it; mirdel-cli prints it as a line of characters.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct Firmware;

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

struct FlashMap {
    uint64_t top = 0; // end of the address space shown
    double limit = 1; // position of the end of flash
    int imageCount = 0;
    std::vector<FlashMapBlock> blocks; // image and segment order; empty segments have none
};

void FlashMapCompute(const Firmware &firmware, FlashMap *map);

#define FLASHMAP_OVERLAPS "Overlaps another segment."
#define FLASHMAP_BEYOND "Reaches beyond the highest flash address 0xEFFFF."

// What hovering a block shows: its segment's line, then its warnings, one
// a line.
std::string FlashMapBlockText(const FlashMapBlock &block, const std::string &segmentLine);

// The map as one line of width cells between brackets: '.' free flash, '-'
// address space beyond the end of flash, the image's number (0-9, then A-Z,
// then '#') where one of its segments lies, '!' where a marked block lies;
// '|' stands where the flash ends when the map goes beyond it.
std::string FlashMapText(const FlashMap &map, int width);
