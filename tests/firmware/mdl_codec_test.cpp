#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "firmware/mdl.h"

TEST(MdlCodec, Checksum)
{
    EXPECT_EQ(MdlChecksum("S1050000AABB95"), 0x9595); // written high, computed low
    EXPECT_EQ(MdlChecksum("S1050000aabb95"), 0x9595);
    EXPECT_EQ(MdlChecksum("S1050000AABB96"), 0x9695);
    EXPECT_EQ(MdlChecksum("X1050000AABB95"), 0x9595); // first character not examined
    EXPECT_EQ(MdlChecksum("S1"), 0x00FF);
    EXPECT_EQ(MdlChecksum(""), 0x00FF);
    EXPECT_EQ(MdlChecksum("S105"), 0x05FF);
    // A lone last character belongs to no pair (the decoder refuses the line).
    EXPECT_EQ(MdlChecksum("S1050000AABB95F"), 0x9595);
    uint16_t sums = MdlChecksum("S1050000AAGG95");
    EXPECT_NE(sums >> 8, sums & 0xFF);
}

TEST(MdlCodec, HexFieldsAndBytes)
{
    EXPECT_EQ(MdlHexValue("80000000", 8), 2147483648u);
    EXPECT_EQ(MdlHexValue("FFFFFFFF", 8), 4294967295u);
    EXPECT_EQ(MdlHexValue("ffffffff", 8), 4294967295u);
    EXPECT_EQ(MdlHexValue("1A", 2), 26u);
    EXPECT_EQ(MdlHexValue("ABCDEF", 4), 0xABCDu);
    EXPECT_EQ(MdlHexValue("12G4", 4), 0x12u);
    EXPECT_EQ(MdlHexValue("12", 8), 0x12u);
    uint8_t out[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    MdlHexBytes("00ff7AG0", out, 3);
    EXPECT_EQ(out[0], 0x00);
    EXPECT_EQ(out[1], 0xFF);
    EXPECT_EQ(out[2], 0x7A);
    EXPECT_EQ(out[3], 0xEE);
    EXPECT_EQ(MdlHexDigit('g'), 16); // outside 0..15, no validation
}

TEST(MdlCodec, ErrorState)
{
    MdlSetError(MDL_ERR_INSTRUMENT, "%s", "Flash busy");
    EXPECT_EQ(MdlGetError(), 1);
    EXPECT_STREQ(MdlErrorText(), "Flash busy");

    std::string record = "S3" + std::string(512, 'A');
    MdlSetError(MDL_ERR_LOCAL, "'%s': incorrect checksum (0x%02X), should be 0x%02X", record.c_str(), 0x96, 0x95);
    char text[MDL_ERROR_TEXT_SIZE];
    EXPECT_EQ(MdlGetError(text, sizeof text), -1);
    EXPECT_EQ(std::string(text), "'" + record + "': incorrect checksum (0x96), should be 0x95");
    char small[6];
    MdlGetError(small, sizeof small);
    EXPECT_STREQ(small, "'S3AA");

    MdlSetError(MDL_ERR_INSTRUMENT, "%s", std::string(5000, '%').c_str());
    EXPECT_EQ(std::strlen(MdlErrorText()), static_cast<size_t>(MDL_ERROR_TEXT_SIZE - 1));
}
