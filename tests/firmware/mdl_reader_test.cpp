#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "firmware/mdl.h"
#include "tests/firmware/records.h"

namespace {

class Reader : public ::testing::Test {
protected:
    void TearDown() override { MdlFirmwareRelease(&fw); }

    int Decode(const std::string &line)
    {
        const char *message = nullptr;
        int result = MdlDecodeLine(line.c_str(), &fw, &message);
        msg = result == MDL_DECODE_ERROR && message ? message : "";
        return result;
    }
    int Data(uint32_t address, size_t n, uint8_t first = 0) { return Decode(Record('1', address, Bytes(n, first))); }
    FirmwareImage &Image(int i) { return fw.images[i]; }

    Firmware fw{};
    std::string msg;
};

const std::string kEnd = Record('9', 0, {});

} // namespace

TEST_F(Reader, S0BaseAddressAndName)
{
    struct {
        std::string text;
        int32_t base;
        const char *name;
    } cases[] = {
        {"0x20000 Main", 0x20000, "Main"}, {"131072", 0x20000, ""},       {"0400000", 0x20000, ""},
        {"0x1000,Main", 0x1000, ""},       {"0x1000  Main", 0x1000, " Main"}, {"  42 x y", 42, "x y"},
        {"-1 neg", -1, "neg"},             {"0xFFFFFFFF", -1, ""},         {"0x123456789", 0x23456789, ""},
        {"0x10 " + std::string(120, 'N'), 0x10, "NNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNN"},
        {std::string(130, ' ') + "5", 5, ""},
        // A "0x" without digits is read as 0 with the "x".
        {"0x Main", 0, "Main"},            {" +0X  Boot", 0, " Boot"},      {"0xg x", 0, ""},
        {"00x Oct", 0, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(Decode(S0(c.text)), MDL_DECODE_IMAGE_OPENED);
        ASSERT_EQ(fw.currentImage, &Image(fw.imageCount - 1));
        EXPECT_EQ(fw.currentImage->baseAddress, c.base);
        EXPECT_STREQ(fw.currentImage->name, c.name);
#ifndef _WIN32
        // The number ends where the C library's own scanf ends it (the
        // Windows build's scanf is MinGW's, not the system's).
        long value = 0;
        int used = 0;
        ASSERT_EQ(std::sscanf(c.text.c_str(), "%li%n", &value, &used), 1);
        EXPECT_EQ(std::string(c.name).substr(0, 10), c.text[used] == ' ' ? c.text.substr(used + 1, 10) : "");
#endif
    }
    // No number: no text, a name alone, or a number beyond the 131 characters looked at.
    for (std::string text : {std::string(), std::string("Main"), std::string("   "), std::string(131, ' ') + "5"}) {
        EXPECT_EQ(Decode(S0(text)), MDL_DECODE_ERROR);
        EXPECT_EQ(msg, "Incorrect \"S0\" record");
    }
    EXPECT_EQ(fw.imageCount, 19); // refused images stay
}

TEST_F(Reader, ImagesOpenAndClose)
{
    EXPECT_EQ(Data(0x1000, 4), MDL_DECODE_ERROR);
    EXPECT_EQ(msg, "Missing \"S0\" record");
    Decode(S0("0x100 first"));
    Decode(S0("0x200 second")); // the first keeps no segments
    EXPECT_EQ(Data(0, 1000 / 4), MDL_DECODE_DATA_STORED);
    for (uint32_t a = 250; a < 1000; a += 250)
        Data(a, 250);
    Firmware before = fw;
    EXPECT_NE(Decode(Record('5', 1, {})), MDL_DECODE_ERROR); // ignored, nothing changes
    EXPECT_NE(Decode("X"), MDL_DECODE_ERROR);
    EXPECT_EQ(std::memcmp(&before, &fw, sizeof fw), 0);
    EXPECT_EQ(Decode(kEnd), MDL_DECODE_IMAGE_CLOSED);
    EXPECT_EQ(fw.currentImage, nullptr);
    EXPECT_EQ(Data(1000, 4), MDL_DECODE_ERROR);
    EXPECT_EQ(msg, "Missing \"S0\" record");
    EXPECT_EQ(Decode(Record('7', 0, {})), MDL_DECODE_IMAGE_CLOSED); // also with no image open
    Decode(S0("0x300"));
    for (uint32_t a = 0; a < 500; a += 50)
        Data(0x4000 + a, 50);
    ASSERT_EQ(fw.imageCount, 3);
    EXPECT_EQ(Image(0).segmentCount, 0);
    EXPECT_EQ(Image(1).segments[0].size, 1000u);
    EXPECT_EQ(Image(2).segments[0].size, 500u);
    EXPECT_EQ(fw.totalSize, 1500u);

    MdlFirmwareRelease(&fw);
    EXPECT_EQ(fw.images, nullptr);
    EXPECT_EQ(fw.imageCount, 0);
    EXPECT_EQ(fw.totalSize, 0u);
}

TEST_F(Reader, SegmentsFollowAddressContinuity)
{
    Decode(S0("0x20000 Main"));
    ASSERT_EQ(Data(0x1000, 16, 0x00), MDL_DECODE_DATA_STORED);
    ASSERT_EQ(Data(0x1010, 16, 0x10), MDL_DECODE_DATA_STORED);
    ASSERT_EQ(Image(0).segmentCount, 1);
    EXPECT_EQ(Image(0).segments[0].size, 32u);
    for (int i = 0; i < 32; i++)
        ASSERT_EQ(Image(0).segments[0].data[i], i);
    ASSERT_EQ(Data(0x1021, 16), MDL_DECODE_DATA_STORED);                      // gap
    ASSERT_EQ(Decode(Record('3', 0x1008, Bytes(16))), MDL_DECODE_DATA_STORED); // backwards, above the first
    ASSERT_EQ(Image(0).segmentCount, 3);
    EXPECT_EQ(fw.currentSegment, &Image(0).segments[2]);
    EXPECT_EQ(fw.lastRecordAddress, 0x1008u);
    EXPECT_EQ(fw.lastRecordSize, 16);
    EXPECT_EQ(MdlFlashAddress(&Image(0), &Image(0).segments[0]), 0x20000u);
    EXPECT_EQ(MdlFlashAddress(&Image(0), &Image(0).segments[1]), 0x20021u);
    EXPECT_EQ(MdlFlashAddress(&Image(0), &Image(0).segments[2]), 0x20008u);

    EXPECT_EQ(Data(0x0FFF, 1), MDL_DECODE_ERROR);
    EXPECT_EQ(msg, "Segment (1/3) address 0xfff is below flash base address");
    EXPECT_EQ(Image(0).segmentCount, 4); // the refused segment stays

    Decode(S0("-4096")); // a negative base wraps in 32 bits
    Decode(Record('2', 0x2000, Bytes(1)));
    Decode(Record('2', 0x4000, Bytes(1)));
    EXPECT_EQ(MdlFlashAddress(&Image(1), &Image(1).segments[0]), 0xFFFFF000u);
    EXPECT_EQ(MdlFlashAddress(&Image(1), &Image(1).segments[1]), 0x1000u);
    EXPECT_EQ(Decode(Record('2', 0x1000, Bytes(1))), MDL_DECODE_ERROR);
    EXPECT_EQ(msg, "Segment (2/2) address 0x1000 is below flash base address");
}

TEST_F(Reader, ZeroDataRecordsAndCapacitySteps)
{
    Decode(S0("0"));
    ASSERT_EQ(Data(0x1000, 0), MDL_DECODE_DATA_STORED);
    EXPECT_EQ(Image(0).segments[0].capacity, 0u);
    ASSERT_EQ(Data(0x1000, 4), MDL_DECODE_DATA_STORED); // same address continues
    uint32_t size = 4;
    while (size < 4096) {
        uint32_t n = 4096 - size < 252 ? 4096 - size : 252;
        ASSERT_EQ(Data(0x1000 + size, n, static_cast<uint8_t>(size)), MDL_DECODE_DATA_STORED);
        size += n;
    }
    EXPECT_EQ(Image(0).segments[0].capacity, 4096u);
    ASSERT_EQ(Data(0x2000, 1, 0x77), MDL_DECODE_DATA_STORED);
    const FirmwareSegment &s = Image(0).segments[0];
    EXPECT_EQ(Image(0).segmentCount, 1);
    EXPECT_EQ(s.size, 4097u);
    EXPECT_EQ(s.capacity, 8192u);
    EXPECT_EQ(s.data[4096], 0x77);
    EXPECT_EQ(s.data[300], static_cast<uint8_t>(300));
}

TEST_F(Reader, CountMustMatchTheLine)
{
    Decode(S0("0"));
    std::string odd = Record('1', 0, Bytes(2)) + "0";
    for (std::string line : {std::string("S110000001020304E5"), odd, std::string("S1"), std::string("S9")}) {
        EXPECT_EQ(Decode(line), MDL_DECODE_ERROR);
        EXPECT_EQ(msg, "'" + line + "': record length does not match its count");
    }
    for (const char *line : {"S1020000", "S30400000000", "S0020000", "S9020000"}) {
        EXPECT_EQ(Decode(line), MDL_DECODE_ERROR);
        EXPECT_EQ(msg, std::string("'") + line + "': record count is too small for its address and checksum");
    }
    EXPECT_EQ(fw.imageCount, 1);
    EXPECT_EQ(Image(0).segmentCount, 0);
    std::string huge = "S1" + std::string(3000, 'F'); // the message is cut, not overflowed
    EXPECT_EQ(Decode(huge), MDL_DECODE_ERROR);
    EXPECT_EQ(msg.size(), static_cast<size_t>(MDL_ERROR_TEXT_SIZE - 1));
}
