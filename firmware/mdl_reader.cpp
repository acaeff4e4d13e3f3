#include "firmware/mdl.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/memalloc.h"

// One file is decoded at a time, so the continuity state and the message
// text are kept once for the module.
static bool mdl_have_last_stored;
static uint32_t mdl_last_stored; // address of the last byte stored
static char mdl_message[MDL_ERROR_TEXT_SIZE];

static int mdl_fail(const char **message, const char *text)
{
    *message = text;
    return MDL_DECODE_ERROR;
}

static int mdl_fail_alloc(const char **message, uint64_t bytes)
{
    std::snprintf(mdl_message, sizeof mdl_message, "Cannot allocate memory (%llu bytes)",
                  (unsigned long long)bytes);
    return mdl_fail(message, mdl_message);
}

// Address digits of the record types the reader uses; 0 for the others.
static int mdl_address_width(char type)
{
    switch (type) {
    case '0': case '1': case '9': return 4;
    case '2': case '8': return 6;
    case '3': case '7': return 8;
    default: return 0;
    }
}

// The count field says how many bytes follow it; the checksum test does not
// look at it, so a count that disagrees with the line would make the
// decoder read past the line or store a negative number of bytes.
static bool mdl_check_length(const char *line, int width, const char **message)
{
    size_t len = std::strlen(line);
    if (len < 4 || (len - 2) % 2 != 0 || len != 4 + 2 * static_cast<size_t>(MdlHexValue(line + 2, 2))) {
        std::snprintf(mdl_message, sizeof mdl_message, "'%s': record length does not match its count", line);
        *message = mdl_message;
        return false;
    }
    if (MdlHexValue(line + 2, 2) < static_cast<uint32_t>(width / 2 + 1)) {
        std::snprintf(mdl_message, sizeof mdl_message,
                      "'%s': record count is too small for its address and checksum", line);
        *message = mdl_message;
        return false;
    }
    return true;
}

static int mdl_open_image(const char *line, Firmware *fw, const char **message)
{
    size_t bytes = (static_cast<size_t>(fw->imageCount) + 1) * sizeof(FirmwareImage);
    auto *images = static_cast<FirmwareImage *>(_mem_realloc(fw->images, bytes));
    if (!images)
        return mdl_fail_alloc(message, bytes);
    fw->images = images;
    FirmwareImage *image = &images[fw->imageCount];
    std::memset(image, 0, sizeof *image);
    fw->imageCount++;
    fw->currentImage = image;

    int n = static_cast<int>(MdlHexValue(line + 2, 2)) - 3;
    if (n > MDL_S0_TEXT_MAX)
        n = MDL_S0_TEXT_MAX;
    uint8_t raw[MDL_S0_TEXT_MAX + 1];
    MdlHexBytes(line + 8, raw, n);
    raw[n] = 0;
    const char *text = reinterpret_cast<const char *>(raw);

    mdl_have_last_stored = false;

    // A "0x" prefix without a hex digit after it is read as 0 followed by
    // the "x", taken with the number, as glibc's scanf takes it. Decided
    // here, not by the C library, so that every platform reads a file alike
    // (MinGW's strtoll refuses such a text).
    const char *p = text;
    while (*p && std::strchr(" \t\n\v\f\r", *p))
        p++;
    if (*p == '+' || *p == '-')
        p++;
    char *end = nullptr;
    long long value = 0;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && !std::isxdigit((unsigned char)p[2])) {
        end = const_cast<char *>(p + 2);
    } else {
        value = std::strtoll(text, &end, 0);
        if (end == text)
            return mdl_fail(message, "Incorrect \"S0\" record");
    }
    image->baseAddress = static_cast<int32_t>(static_cast<uint32_t>(value));
    if (*end == ' ')
        std::snprintf(image->name, sizeof image->name, "%s", end + 1);
    return MDL_DECODE_IMAGE_OPENED;
}

static int mdl_store_data(const char *line, int width, Firmware *fw, const char **message)
{
    FirmwareImage *image = fw->currentImage;
    if (!image)
        return mdl_fail(message, "Missing \"S0\" record");

    uint32_t address = MdlHexValue(line + 4, width);
    if (!mdl_have_last_stored || address != mdl_last_stored + 1) {
        size_t bytes = (static_cast<size_t>(image->segmentCount) + 1) * sizeof(FirmwareSegment);
        auto *segments = static_cast<FirmwareSegment *>(_mem_realloc(image->segments, bytes));
        if (!segments)
            return mdl_fail_alloc(message, bytes);
        image->segments = segments;
        FirmwareSegment *segment = &segments[image->segmentCount];
        std::memset(segment, 0, sizeof *segment);
        segment->loadAddress = address;
        image->segmentCount++;
        fw->currentSegment = segment;
        // Below the first segment there is no flash to put it in. The
        // comparison is plain unsigned: such records are refused whatever
        // the base address.
        if (address < segments[0].loadAddress) {
            std::snprintf(mdl_message, sizeof mdl_message,
                          "Segment (%d/%d) address 0x%lx is below flash base address", fw->imageCount,
                          image->segmentCount - 1, static_cast<unsigned long>(address));
            return mdl_fail(message, mdl_message);
        }
    }

    int n = static_cast<int>(MdlHexValue(line + 2, 2)) - width / 2 - 1;
    fw->lastRecordAddress = address;
    fw->lastRecordSize = n;

    FirmwareSegment *segment = fw->currentSegment;
    if (static_cast<uint64_t>(segment->size) + static_cast<uint64_t>(n) > segment->capacity) {
        uint64_t capacity = static_cast<uint64_t>(segment->capacity) + MDL_DATA_STEP;
        if (capacity > UINT32_MAX)
            return mdl_fail_alloc(message, capacity);
        auto *data = static_cast<uint8_t *>(_mem_realloc(segment->data, static_cast<size_t>(capacity)));
        if (!data)
            return mdl_fail_alloc(message, capacity);
        segment->data = data;
        segment->capacity = static_cast<uint32_t>(capacity);
    }
    MdlHexBytes(line + 4 + width, segment->data + segment->size, n);
    segment->size += static_cast<uint32_t>(n);
    fw->totalSize += static_cast<uint32_t>(n);

    mdl_have_last_stored = true;
    mdl_last_stored = address + static_cast<uint32_t>(n) - 1;
    return MDL_DECODE_DATA_STORED;
}

int MdlDecodeLine(const char *line, Firmware *firmware, const char **message)
{
    const char *unused;
    if (!message)
        message = &unused;
    char type = line[0] ? line[1] : '\0';
    int width = mdl_address_width(type);
    if (width == 0)
        return MDL_DECODE_DATA_STORED; // not a record the model uses

    if (!mdl_check_length(line, width, message))
        return MDL_DECODE_ERROR;

    switch (type) {
    case '0':
        return mdl_open_image(line, firmware, message);
    case '1': case '2': case '3':
        return mdl_store_data(line, width, firmware, message);
    default: // S7, S8, S9: the start address is not used
        firmware->currentImage = nullptr;
        return MDL_DECODE_IMAGE_CLOSED;
    }
}

uint32_t MdlFlashAddress(const FirmwareImage *image, const FirmwareSegment *segment)
{
    return static_cast<uint32_t>(image->baseAddress) + (segment->loadAddress - image->segments[0].loadAddress);
}

void MdlFirmwareRelease(Firmware *firmware)
{
    for (int32_t i = 0; i < firmware->imageCount; i++) {
        FirmwareImage *image = &firmware->images[i];
        for (int32_t j = 0; j < image->segmentCount; j++)
            _mem_free(image->segments[j].data);
        _mem_free(image->segments);
    }
    _mem_free(firmware->images);
    std::memset(firmware, 0, sizeof *firmware);
}
