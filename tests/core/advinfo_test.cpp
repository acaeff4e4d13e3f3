#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "core/advinfo.h"
#include "firmware/mdl.h"
#include "support/intstr.h"

namespace {

// A model laid out by hand: the texts read only sizes and addresses.
class AdvInfo : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("LC_ALL", "C", 1);
        IntStrResetSeparator();
        segments.reserve(16);
    }
    void Image(int32_t base, const char *name)
    {
        FirmwareImage image{};
        image.baseAddress = base;
        std::snprintf(image.name, sizeof image.name, "%s", name);
        image.segments = segments.data() + segments.size();
        images.push_back(image);
    }
    void Segment(uint32_t load, uint32_t size)
    {
        segments.push_back({nullptr, size, 0, load});
        images.back().segmentCount++;
        fw.totalSize += size;
    }
    const AdvInfoTexts &Compose()
    {
        fw.images = images.data();
        fw.imageCount = static_cast<int32_t>(images.size());
        AdvInfoCompose(fw, &texts);
        return texts;
    }

    std::vector<FirmwareSegment> segments;
    std::vector<FirmwareImage> images;
    Firmware fw{};
    AdvInfoTexts texts;
};

} // namespace

TEST_F(AdvInfo, ImageAndSegmentLines)
{
    Image(0x100000, "Main");
    Segment(0x8000, 0x20000);
    Image(0x200, "");
    Segment(0x0, 512);
    Segment(0x1000, 0x10000);
    Compose();
    ASSERT_EQ(texts.images.size(), 2u);
    EXPECT_EQ(texts.images[0].text,
              "Image #0: \"Main\", Base Flash Addr: 0x100000 = 1Mi, Size: 131,072 (0x20000) = 128Ki, "
              "Span size:  131,072 (0x20000) = 128Ki, Lowest Flash Addr: 0x100000 = 1Mi, "
              "Highest Flash Addr: 0x11FFFF = 1Mi+127Ki+1023");
    ASSERT_EQ(texts.images[0].segments.size(), 1u);
    EXPECT_EQ(texts.images[0].segments[0],
              "Segment #0: Flash Addr: 0x100000 = 1Mi, Size: 131,072 (0x20000) = 128Ki, Load Addr: 0x8000 = 32Ki");
    EXPECT_EQ(texts.images[1].text.rfind("Image #1: \"<no name>\", Base Flash Addr: 0x200, Size: ", 0), 0u);
    EXPECT_EQ(texts.images[1].segments[0], "Segment #0: Flash Addr: 0x200, Size: 512 (0x200), Load Addr: 0x0");
    EXPECT_EQ(texts.images[1].segments[1],
              "Segment #1: Flash Addr: 0x1200 = 4Ki+512, Size: 65,536 (0x10000) = 64Ki, Load Addr: 0x1000 = 4Ki");
    EXPECT_EQ(texts.sizeText, "197,120 (0x30200) = 192Ki+512 Bytes");
    EXPECT_EQ(texts.lowestText, "0x200");
    EXPECT_EQ(texts.highestText, "0x11FFFF = 1Mi+127Ki+1023");
}

TEST_F(AdvInfo, RangesIgnoreSegmentOrderAndSpanGaps)
{
    Image(0x10000, "a");
    Segment(0x100, 0x100);
    Segment(0x900, 0x80);
    Segment(0x500, 0x100);
    Image(0x40000000, "far");
    Segment(0x0, 0x10);
    Compose();
    EXPECT_NE(texts.images[0].text.find("Size: 640 (0x280), Span size:  2,176 (0x880) = 2Ki+128, "
                                        "Lowest Flash Addr: 0x10000 = 64Ki, Highest Flash Addr: 0x1087F = 66Ki+127"),
              std::string::npos)
        << texts.images[0].text;
    EXPECT_EQ(texts.sizeText, "656 (0x290) Bytes");
    EXPECT_EQ(texts.spanText, "1,073,676,304 (0x3FFF0010) = 1023Mi+960Ki+16 Bytes");
    EXPECT_EQ(texts.highestText, "0x4000000F = 1Gi+15");
}

TEST_F(AdvInfo, TopOfTheAddressSpace)
{
    // The first segment ends exactly at 2^32: its end must not wrap to 0.
    Image(static_cast<int32_t>(0xFFFFF000u), "top");
    Segment(0x1000, 0x1000);
    Segment(0x0F00, 0x80);
    Compose();
    EXPECT_EQ(texts.highestText, "0xFFFFFFFF = 3Gi+1023Mi+1023Ki+1023");
    EXPECT_EQ(texts.lowestText, "0xFFFFEF00 = 3Gi+1023Mi+1019Ki+768");
    EXPECT_EQ(texts.spanText, "4,352 (0x1100) = 4Ki+256 Bytes");
}

TEST_F(AdvInfo, NoDataShowsNoAddress)
{
    Compose();
    EXPECT_EQ(texts.sizeText, "0 (0x0) Bytes");
    EXPECT_EQ(texts.spanText, "0 (0x0) Bytes");
    EXPECT_EQ(texts.lowestText, "none");
    EXPECT_EQ(texts.highestText, "none");
    Image(0x1000, "empty");
    // Segments without bytes count with their flash address.
    Image(0x2000, "zero");
    Segment(0x10, 0);
    Image(0x3000, "late");
    Segment(0xFF0, 0);
    Segment(0x1000, 0x20);
    Image(0, "bottom");
    Segment(0x0, 0);
    Compose();
    const char *lines[] = {
        "Size: 0 (0x0), Span size:  0 (0x0), Lowest Flash Addr: none, Highest Flash Addr: none",
        "Size: 0 (0x0), Span size:  0 (0x0), Lowest Flash Addr: 0x2000 = 8Ki, Highest Flash Addr: 0x1FFF = 7Ki+1023",
        "Size: 32 (0x20), Span size:  48 (0x30), Lowest Flash Addr: 0x3000 = 12Ki, "
        "Highest Flash Addr: 0x302F = 12Ki+47",
        "Span size:  0 (0x0), Lowest Flash Addr: 0x0, Highest Flash Addr: 0xFFFFFFFF = 3Gi+1023Mi+1023Ki+1023",
    };
    for (size_t i = 0; i < 4; i++)
        EXPECT_NE(texts.images[i].text.find(lines[i]), std::string::npos) << texts.images[i].text;
    EXPECT_EQ(texts.images[1].segments.size(), 1u);
    EXPECT_EQ(texts.lowestText, "0x0");
}
