// The read-back dialogue against mirdel-sim: a flash range as S-records
// into memory or a file, with the instrument's faults on the way.
#include "tests/protocol/sim_session.h"

#include <algorithm>
#include <cstring>

namespace
{

const uint32_t kBase = 131072;
const size_t kSize = 100;

uint8_t Byte(size_t i)
{
    return (uint8_t)(i * 7 + 3);
}

// A session whose flash holds kSize bytes at kBase.
struct Flashed : Session {
    explicit Flashed(Lines options = {}, int32_t timeoutMs = 3000)
        : Session(std::move(options), timeoutMs), file(ImageFile(kBase, kSize))
    {
        EXPECT_EQ(MdlUpdate(Port(), MDL_MODE_UPLOAD, nullptr, nullptr, file.Path().c_str()), 1)
            << MdlErrorText();
    }
    // Reads [kBase, kBase + length) into memory followed by guard bytes.
    int Read(Recorder *rec, int32_t length, std::vector<char> &area)
    {
        area.assign((size_t)length + 64, 0);
        return MdlUpdate(Port(), MDL_MODE_READBACK, rec ? Recorder::Fn : nullptr, rec, area.data(),
                         true, kBase, length);
    }
    // The host's lines after the job line of the latest read-back.
    Lines Answers(const std::string &last = "")
    {
        Lines got = Received(last);
        size_t i = got.size();
        while (i > 0 && got[i - 1].rfind("MIRDEL -r ", 0) != 0)
            --i;
        return {got.begin() + (long)i, got.end()};
    }
    TempFile file;
};

bool Stored(const std::vector<char> &area, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        if ((uint8_t)area[i] != Byte(i))
            return false;
    for (size_t i = n; i < area.size(); ++i)
        if (area[i] != 0)
            return false;
    return true;
}

} // namespace

TEST(MdlReadback, RangeAsStoredIntoMemoryAndFiles)
{
    Flashed s;
    Recorder rec;
    std::vector<char> area;
    ASSERT_EQ(s.Read(&rec, kSize, area), 1) << MdlErrorText();
    EXPECT_TRUE(Stored(area, kSize));
    EXPECT_EQ(s.Received().back(), "+OK");
    EXPECT_EQ(Session::Count(s.Received(), "MIRDEL -r 131072:100"), 1u);
    // S0, four S3 records of 32, 32, 32 and 4 bytes, S7.
    EXPECT_EQ(s.Answers(), Lines(6, "+OK"));
    ASSERT_EQ(rec.Of(EV_VERIFY_PROGRESS).size(), 4u);
    for (uint32_t i = 0; i < 4; ++i)
        EXPECT_EQ(rec.Of(EV_VERIFY_PROGRESS)[i].a, i + 2);
    EXPECT_EQ(rec.Of(EV_VERIFY_PROGRESS)[3].b, 4u);
    EXPECT_EQ(rec.events.front().id, EV_VERIFY_START);
    EXPECT_EQ(rec.events.back().id, EV_VERIFY_DONE);
    EXPECT_EQ(rec.events.back().a, 6u);

    // Flash that was never written reads back as 0xFF. (A zero first byte
    // makes the name the memory area.)
    area.assign(area.size(), 0);
    ASSERT_EQ(
        MdlUpdate(s.Port(), MDL_MODE_READBACK, nullptr, nullptr, area.data(), true, kBase + 96, 8),
        1);
    EXPECT_EQ(
        std::vector<uint8_t>(area.begin(), area.begin() + 8),
        (std::vector<uint8_t>{Byte(96), Byte(97), Byte(98), Byte(99), 0xFF, 0xFF, 0xFF, 0xFF}));

    // A binary file gets the bytes, a text file the record lines.
    TempFile bin, text;
    ASSERT_EQ(MdlUpdate(s.Port(), MDL_MODE_READBACK, nullptr, nullptr, bin.Path().c_str(), true,
                        kBase, kSize),
              1);
    std::string bytes = bin.Content();
    ASSERT_EQ(bytes.size(), kSize);
    EXPECT_TRUE(Stored(std::vector<char>(bytes.begin(), bytes.end()), kSize));
    ASSERT_EQ(MdlUpdate(s.Port(), MDL_MODE_READBACK, nullptr, nullptr, text.Path().c_str(), false,
                        kBase, 40),
              1);
    std::vector<uint8_t> first(32), second(8);
    for (size_t i = 0; i < 32; ++i)
        first[i] = Byte(i);
    for (size_t i = 0; i < 8; ++i)
        second[i] = Byte(32 + i);
    // In place of the instrument's empty S0, one that uploads the range back.
    const char *s0 = "0x20000 Read-back of 40 bytes";
    EXPECT_EQ(text.Content(), Record('0', 0, 2, std::vector<uint8_t>(s0, s0 + strlen(s0))) + "\n" +
                                  Record('3', kBase, 4, first) + "\n" +
                                  Record('3', kBase + 32, 4, second) + "\n" +
                                  Record('7', 0, 4, {}) + "\n");
}

TEST(MdlReadback, CorruptedFlashComesBackAsIs)
{
    Flashed s({"--corrupt", "131077"});
    std::vector<char> area;
    ASSERT_EQ(s.Read(nullptr, kSize, area), 1) << MdlErrorText();
    EXPECT_EQ((uint8_t)area[5], (uint8_t)~Byte(5));
    area[5] = (char)Byte(5);
    EXPECT_TRUE(Stored(area, kSize));
}

TEST(MdlReadback, BadChecksumsAreRetriedThreeTimes)
{
    {
        Flashed s({"--fault", "readback:2:badsum"});
        std::vector<char> area;
        ASSERT_EQ(s.Read(nullptr, kSize, area), 1) << MdlErrorText();
        EXPECT_TRUE(Stored(area, kSize));
        Lines expected(7, "+OK");
        expected[1] = "-RETRY incorrect checksum";
        EXPECT_EQ(s.Answers(), expected);
    }
    {
        Flashed s({"--fault", "readback:2:badsum:4"});
        std::vector<char> area;
        EXPECT_EQ(s.Read(nullptr, kSize, area), -1);
        EXPECT_EQ(MdlGetError(), MDL_ERR_LOCAL);
        std::vector<uint8_t> data(32);
        for (size_t i = 0; i < 32; ++i)
            data[i] = Byte(i);
        std::string bad = Record('3', kBase, 4, data);
        std::string good = bad.substr(bad.size() - 2);
        bad.back() = bad.back() == '0' ? '1' : '0';
        char text[200];
        snprintf(text, sizeof text, "'%s': incorrect checksum (0x%s), should be 0x%s", bad.c_str(),
                 bad.substr(bad.size() - 2).c_str(), good.c_str());
        EXPECT_STREQ(MdlErrorText(), text);
        Lines expected(4, "-RETRY incorrect checksum");
        expected[0] = "+OK";
        expected.push_back(std::string("-ERR ") + text);
        EXPECT_EQ(s.Answers(expected.back()), expected);
    }
}

TEST(MdlReadback, RepeatedRecordAndStop)
{
    {
        Flashed s({"--fault", "readback:3:dup"});
        std::vector<char> area;
        Recorder rec;
        ASSERT_EQ(s.Read(&rec, kSize, area), 1) << MdlErrorText();
        EXPECT_TRUE(Stored(area, kSize));
        EXPECT_EQ(s.Answers(), Lines(7, "+OK"));
        EXPECT_EQ(rec.Of(EV_VERIFY_PROGRESS).size(), 4u);
    }
    {
        Flashed s;
        std::vector<char> area;
        Recorder rec;
        rec.stopVerifyAt = 2;
        ASSERT_EQ(s.Read(&rec, kSize, area), 1) << MdlErrorText();
        EXPECT_EQ(s.Answers("+STOP"), (Lines{"+OK", "+STOP"}));
        EXPECT_EQ(rec.events.back().id, EV_VERIFY_DONE);
        EXPECT_EQ(rec.events.back().a, 2u);
        EXPECT_TRUE(Stored(area, 32));
        EXPECT_EQ(MdlUpdate(s.Port(), MDL_MODE_FINISH), 1);
    }
}

TEST(MdlReadback, TimeOutsAndLinesThatAreNoRecords)
{
    {
        Flashed s({"--fault", "readback:3:silent"});
        std::vector<char> area;
        Recorder rec;
        // Line 3 never comes: from the first record taken on, a short wait.
        rec.onEvent = [&s](const Event &e) {
            if (e.id == EV_VERIFY_PROGRESS)
                s.Port()->defaultTimeout = 300;
        };
        EXPECT_EQ(s.Read(&rec, kSize, area), 0);
        EXPECT_STREQ(MdlErrorText(), "untouched");
        EXPECT_EQ(rec.Of(EV_VERIFY_RETRY).size(), 3u);
        EXPECT_EQ(s.Answers(), (Lines{"+OK", "+OK", "-RETRY I/O timeout", "-RETRY I/O timeout",
                                      "-RETRY I/O timeout"}));
    }
    {
        Flashed s(
            {"--fault", "readback:2:garbage:X123", "--fault", "readback:5:garbage:S1050000AABB95"});
        std::vector<char> area;
        EXPECT_EQ(s.Read(nullptr, kSize, area), -1);
        EXPECT_STREQ(MdlErrorText(), "'X123': not a S-record !");
        EXPECT_EQ(s.Answers("-ERR 'X123': not a S-record !").back(),
                  "-ERR 'X123': not a S-record !");
        // Line 5 is the second S3 record of the next stream.
        EXPECT_EQ(s.Read(nullptr, kSize, area), -1);
        EXPECT_STREQ(MdlErrorText(), "'S1050000AABB95': unrecognized/unsupported S-record");
        EXPECT_EQ(s.Answers("-ERR 'S1050000AABB95': unrecognized/unsupported S-record").size(), 3u);
    }
}

TEST(MdlReadback, MoreDataThanAskedForIsRefused)
{
    Flashed s({"--readback-bytes", "16", "--readback-full"});
    std::vector<char> area;
    EXPECT_EQ(s.Read(nullptr, 10, area), -1);
    std::vector<uint8_t> data(16);
    for (size_t i = 0; i < 16; ++i)
        data[i] = Byte(i);
    const std::string text =
        "'" + Record('3', kBase, 4, data) + "': data beyond the requested length of 10 bytes";
    EXPECT_STREQ(MdlErrorText(), text.c_str());
    EXPECT_EQ(s.Answers("-ERR " + text), (Lines{"+OK", "-ERR " + text}));
    EXPECT_TRUE(std::all_of(area.begin(), area.end(), [](char c) { return c == 0; }));
}

TEST(MdlReadback, StreamMustHoldTheRangeExactly)
{
    // S0, then S3 records of 32, 32, 32 and 4 bytes (lines 2 to 5), S7. A
    // record out of place is refused to the instrument; a short stream has
    // ended, and is not.
    auto record = [](uint32_t label, size_t from, size_t n) {
        std::vector<uint8_t> data(n);
        for (size_t i = 0; i < n; ++i)
            data[i] = Byte(from + i);
        return "'" + Record('3', label, 4, data) + "': ";
    };
    const std::pair<Lines, std::string> cases[] = {
        {{"--fault", "readback:4:cut"}, "Incomplete read-back of 0x00020000-0x00020063: the "
                                        "instrument sent 64 of the 100 bytes asked for"},
        {{"--fault", "readback:4:skip"},
         record(kBase + 96, 96, 4) + "record at 0x00020060 where 0x00020040 was to follow"},
        {{"--readback-shift", "4294967040"},
         record(kBase - 256, 0, 32) + "the read-back starts at 0x0001FF00, the range at 0x00020000"},
    };
    for (const auto &[options, text] : cases) {
        Flashed s(options);
        std::vector<char> area;
        EXPECT_EQ(s.Read(nullptr, kSize, area), -1);
        EXPECT_EQ(MdlErrorText(), text);
        bool told = text[0] == '\'';
        EXPECT_EQ(s.Answers(told ? "-ERR " + text : "").back(), told ? "-ERR " + text : "+OK");
    }
}
