// Module mdl: small operations on S-record text, the program-wide error
// state that the upload operations leave their failures in, and the
// firmware model of one S-record file with its line-by-line reader. A
// zero-initialised Firmware is an empty model.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

enum {
    MDL_ERR_LOCAL = -1,     // found by the host: file, serial link, protocol
    MDL_ERR_INSTRUMENT = 1, // reported by the instrument, in its own words
};

// Room for the longest texts: a whole 514-character record inside a
// message, with room to spare. Longer texts are cut, never overflowed.
#define MDL_ERROR_TEXT_SIZE 1280

// High byte: the checksum written in the record (its last pair); low byte:
// the one computed over the pairs before it. Valid when both are equal.
// Only whole pairs count: a lone last character belongs to no pair.
uint16_t MdlChecksum(const char *line);

// The unsigned value of at most width hexadecimal digits; stops early at
// the first character that is no hexadecimal digit.
uint32_t MdlHexValue(const char *text, int width);

// Fills n bytes from the 2n characters of text.
void MdlHexBytes(const char *text, uint8_t *dest, int n);

// The value of one hexadecimal digit; other characters give values outside
// 0..15, so that a record holding them fails its checksum.
int MdlHexDigit(char c);

void MdlSetError(int code, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
// Copies the text (cut to size) into dest when one is given; returns the code.
int MdlGetError(char *dest = nullptr, size_t size = 0);
const char *MdlErrorText(void);

#define MDL_IMAGE_NAME_SIZE 68  // 67 characters and the terminator
#define MDL_S0_TEXT_MAX 131     // longest S0 text that is looked at
#define MDL_DATA_STEP 4096      // segment buffers grow by this much

struct FirmwareSegment {
    uint8_t *data;        // the bytes in address order
    uint32_t size;        // bytes stored in data
    uint32_t capacity;    // bytes allocated for data
    uint32_t loadAddress; // address of the first byte, as in the records
};

struct FirmwareImage {
    FirmwareSegment *segments;
    int32_t segmentCount;
    int32_t baseAddress; // flash address of the first segment
    char name[MDL_IMAGE_NAME_SIZE];
};

struct Firmware {
    FirmwareImage *images; // in file order
    int32_t imageCount;
    uint32_t totalSize; // data bytes of all images
    FirmwareImage *currentImage;     // being filled; null outside S0..S7/8/9
    FirmwareSegment *currentSegment; // being filled
    uint32_t lastRecordAddress;
    int32_t lastRecordSize;
};

enum {
    MDL_DECODE_IMAGE_OPENED = 0,
    MDL_DECODE_DATA_STORED = 1,
    MDL_DECODE_IMAGE_CLOSED = 2,
    MDL_DECODE_ERROR = 3,
};

// Decodes one record (no line end, checksum already tested) into firmware.
// Record types it does not use (S4, S5, S6, others) change nothing and give
// MDL_DECODE_DATA_STORED, so that every result but MDL_DECODE_ERROR is a
// success.
// With MDL_DECODE_ERROR, *message is the reason; it stays valid until the
// next call. One file is decoded at a time: the address continuity state
// lives in the module.
int MdlDecodeLine(const char *line, Firmware *firmware, const char **message);

// Where a segment lies in flash: the image's first segment at baseAddress,
// every other one at its distance from the first (32-bit arithmetic).
uint32_t MdlFlashAddress(const FirmwareImage *image, const FirmwareSegment *segment);

// Releases everything the model holds and leaves it empty.
void MdlFirmwareRelease(Firmware *firmware);

// The lines of a firmware file, read the same way by the analysis and by
// both upload passes: a line runs up to its line feed, carriage returns
// right before the line feed are no part of it, and a line that is empty,
// begins with "#" or holds a blank or a tab is no record and is passed over
// whole, however long it is.
#define MDL_RECORD_MAX 514      // "S", type, count FF and its 255 bytes
#define MDL_LINE_ANY (-1)       // no limit on the length of a line
#define MDL_LINE_BLOCK 65536    // the file is read in blocks this large

enum {
    MDL_LINE_ERROR = -1,   // the file could not be read; readErrno says why
    MDL_LINE_END = 0,      // no line left
    MDL_LINE_RECORD = 1,   // text holds the record, without its line end
    MDL_LINE_SKIPPED = 2,  // not a record
    MDL_LINE_TOO_LONG = 3, // a record longer than MDL_RECORD_MAX
};

// "'%.10s': ..." with the line's text: the analysis refuses a line without
// its line feed, and both readings refuse a record that is too long.
#define MDL_UNTERMINATED_FORMAT "'%.10s': not terminated with end of line character !"
#define MDL_TOO_LONG_FORMAT "'%.10s': record longer than 514 characters !"

struct MdlLineReader {
    FILE *file;
    int lineMax;         // longest line taken (MDL_LINE_ANY: no limit)
    char *block;         // MDL_LINE_BLOCK bytes read ahead
    size_t pos, end;     // the unread part of block
    uint64_t consumed;   // bytes of the file handed out as lines
    int readErrno;       // with MDL_LINE_ERROR
    // False when the latest line has no line feed: the file ended first, it
    // holds a NUL byte, or it is longer than lineMax (the reading then stops
    // inside it and is not to go on).
    bool terminated;
    char text[MDL_RECORD_MAX + 1]; // the latest line, or its first part
};

// False when the block cannot be allocated.
bool MdlLineOpen(MdlLineReader *reader, FILE *file, int lineMax);
int MdlLineNext(MdlLineReader *reader);
// Back to the start of the file; -1 with errno when it cannot seek.
int MdlLineRewind(MdlLineReader *reader);
void MdlLineClose(MdlLineReader *reader);
