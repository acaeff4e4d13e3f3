// The upload dialogue against mirdel-sim: handshake, job line, records,
// end mark and flash writing, and the finish command.
#include "tests/protocol/sim_session.h"

#include <cerrno>
#include <cstring>

namespace
{

Lines Upload(Lines records)
{
    records.insert(records.begin(), {":DIAG:UPDATE", "MIRDEL"});
    return records;
}

} // namespace

// The whole run of a worker: upload, one read-back per segment, finish.
TEST(MdlUpload, MultiImageFileUploadedVerifiedAndFinished)
{
    const std::string path = DataPath("multi.srec");
    const Model model(path);
    const Lines records = RecordLines(path);
    Session s({"--readback-bytes", "249", "--flash-step", "4096"});
    ASSERT_NE(s.Port(), nullptr);

    Recorder rec;
    ASSERT_EQ(MdlUpdate(s.Port(), MDL_MODE_UPLOAD, Recorder::Fn, &rec, path.c_str()), 1)
        << MdlErrorText();
    Lines expected = Upload(records);
    expected.push_back(".");
    EXPECT_EQ(s.Received(), expected);

    const uint32_t n = (uint32_t)records.size();
    ASSERT_FALSE(rec.events.empty());
    EXPECT_EQ(rec.events.front().id, EV_UPLOAD_START);
    std::vector<Event> progress = rec.Of(EV_UPLOAD_PROGRESS);
    ASSERT_EQ(progress.size(), n);
    for (uint32_t i = 0; i < n; ++i) {
        EXPECT_EQ(progress[i].a, i + 1);
        EXPECT_EQ(progress[i].b, n);
        EXPECT_EQ(progress[i].line, records[i]);
    }
    EXPECT_EQ(rec.Only(EV_UPLOAD_DONE), std::make_pair(n, n));
    EXPECT_EQ(rec.Of(EV_FLASH_START).size(), 1u);
    EXPECT_GT(rec.Of(EV_FLASH_PROGRESS).size(), 1u);
    EXPECT_EQ(rec.SumA(EV_FLASH_PROGRESS), model.fw.totalSize);
    EXPECT_EQ(rec.events.back().id, EV_FLASH_DONE);

    int segments = 0;
    for (int i = 0; i < model.fw.imageCount; ++i) {
        const FirmwareImage &img = model.fw.images[i];
        for (int j = 0; j < img.segmentCount; ++j, ++segments) {
            const FirmwareSegment &seg = img.segments[j];
            std::vector<char> area(seg.size + 1, 0);
            ASSERT_EQ(MdlUpdate(s.Port(), MDL_MODE_READBACK, nullptr, nullptr, area.data(), true,
                                MdlFlashAddress(&img, &seg), (int32_t)seg.size),
                      1)
                << MdlErrorText();
            EXPECT_EQ(std::memcmp(area.data(), seg.data, seg.size), 0)
                << "image " << i << " segment " << j;
        }
    }
    EXPECT_EQ(MdlUpdate(s.Port(), MDL_MODE_FINISH), 1);
    Lines got = s.Received("MIRDEL DONE");
    EXPECT_EQ(Session::Count(got, ":DIAG:UPDATE"), (size_t)segments + 2);
    EXPECT_EQ(got.back(), "MIRDEL DONE");
}

TEST(MdlUpload, OnlyRecordLinesAreCountedAndSent)
{
    const std::string a = Record('0', 0, 2, {'0', 'x', '1', '0', '0'});
    const std::string b = Record('1', 0x10, 2, {1, 2, 3});
    const std::string c = Record('9', 0, 2, {});
    // A blank, a tab, a comment, an empty line and a last line without its
    // line end.
    TempFile file(a + "\n# S1 comment\n\n" + b + "\nS1 0500\n\t" + b + "\n" + b + "\t\n" + c);
    // Acknowledgements that carry a text are positive all the same.
    Session s({"--ack-text", "stored"});
    Recorder rec;
    ASSERT_EQ(MdlUpdate(s.Port(), MDL_MODE_UPLOAD, Recorder::Fn, &rec, file.Path().c_str()), 1)
        << MdlErrorText();
    EXPECT_EQ(s.Received(), (Lines{":DIAG:UPDATE", "MIRDEL", a, b, c, "."}));
    EXPECT_EQ(rec.Only(EV_UPLOAD_DONE), std::make_pair(3u, 3u));
    EXPECT_EQ(rec.SumA(EV_FLASH_PROGRESS), 3u);

    // No records at all: the end mark alone, then the flash writing.
    TempFile empty("# nothing\n\n");
    rec.events.clear();
    ASSERT_EQ(MdlUpdate(s.Port(), MDL_MODE_UPLOAD, Recorder::Fn, &rec, empty.Path().c_str()), 1);
    EXPECT_EQ(rec.Only(EV_UPLOAD_DONE), std::make_pair(0u, 0u));
    EXPECT_EQ(rec.events.back().id, EV_FLASH_DONE);
    EXPECT_EQ(s.Received().back(), ".");
}

TEST(MdlHandshake, BusyRefusedAndSilent)
{
    {
        Session s({"--busy", "3"});
        EXPECT_EQ(MdlUpdate(s.Port(), MDL_MODE_FINISH), 1) << MdlErrorText();
        EXPECT_EQ(s.Received(), (Lines{":DIAG:UPDATE", ":DIAG:UPDATE", ":DIAG:UPDATE",
                                       ":DIAG:UPDATE", "MIRDEL DONE"}));
    }
    {
        // Texts from the instrument are shown as they are, never as a format.
        Session s({"--fault", "handshake:1:refuse:Battery low", "--fault", "handshake:2:soh",
                   "--fault", "handshake:3:printf"});
        const std::string path = DataPath("multi.srec");
        EXPECT_EQ(MdlUpdate(s.Port(), MDL_MODE_UPLOAD, nullptr, nullptr, path.c_str()), -1);
        EXPECT_EQ(MdlGetError(), MDL_ERR_INSTRUMENT);
        EXPECT_STREQ(MdlErrorText(), "Battery low");
        EXPECT_EQ(MdlUpdate(s.Port(), MDL_MODE_FINISH), -1);
        EXPECT_STREQ(MdlErrorText(), "first line\nsecond line\nthird line");
        EXPECT_EQ(MdlUpdate(s.Port(), MDL_MODE_FINISH), -1);
        EXPECT_STREQ(MdlErrorText(), "%s%n%x%s%n%p");
        EXPECT_EQ(s.Received(), Lines(3, ":DIAG:UPDATE"));
    }
    {
        Session s({"--fault", "handshake:1:silent"}, 300);
        EXPECT_EQ(MdlUpdate(s.Port(), MDL_MODE_FINISH), 0);
        EXPECT_EQ(MdlGetError(), 0);
        EXPECT_STREQ(MdlErrorText(), "untouched");
    }
}

TEST(MdlUpload, RetriesAndRefusals)
{
    const std::string path = DataPath("multi.srec");
    const Lines records = RecordLines(path);
    {
        Session s({"--fault", "job:1:retry", "--fault", "record:3:retry:busy", "--fault",
                   "record:4:refuse:Flash full"});
        Recorder rec;
        EXPECT_EQ(MdlUpdate(s.Port(), MDL_MODE_UPLOAD, Recorder::Fn, &rec, path.c_str()), -1);
        EXPECT_EQ(MdlGetError(), MDL_ERR_INSTRUMENT);
        EXPECT_STREQ(MdlErrorText(), "Flash full");
        EXPECT_EQ(s.Received(), (Lines{":DIAG:UPDATE", "MIRDEL", "MIRDEL", records[0], records[1],
                                       records[2], records[2], records[3]}));
        EXPECT_EQ(rec.Of(EV_UPLOAD_PROGRESS).size(), 3u);
        EXPECT_TRUE(rec.Of(EV_UPLOAD_DONE).empty());
    }
    {
        Session s({"--fault", "job:1:refuse:No update now", "--fault", "finish:1:refuse"});
        EXPECT_EQ(MdlUpdate(s.Port(), MDL_MODE_UPLOAD, nullptr, nullptr, path.c_str()), -1);
        EXPECT_STREQ(MdlErrorText(), "No update now");
        EXPECT_EQ(MdlUpdate(s.Port(), MDL_MODE_FINISH), -1);
        EXPECT_EQ(MdlGetError(), MDL_ERR_INSTRUMENT);
        EXPECT_STREQ(MdlErrorText(), "refused by the simulator");
    }
}

TEST(MdlUpload, BadChecksumInFileSendsNoRecord)
{
    Session s;
    Recorder rec;
    const std::string path = DataPath("bad_checksum.srec");
    EXPECT_EQ(MdlUpdate(s.Port(), MDL_MODE_UPLOAD, Recorder::Fn, &rec, path.c_str()), -1);
    EXPECT_EQ(MdlGetError(), MDL_ERR_LOCAL);
    EXPECT_STREQ(MdlErrorText(), "'S10701040506070899': incorrect checksum (0x99), should be 0xD9");
    EXPECT_TRUE(rec.events.empty());
    EXPECT_EQ(s.Received(), (Lines{":DIAG:UPDATE", "MIRDEL"}));
}

TEST(MdlUpload, StopAfterTheFifthRecord)
{
    const std::string path = DataPath("multi.srec");
    const Lines records = RecordLines(path);
    Session s;
    Recorder rec;
    rec.stopUploadAt = 5;
    EXPECT_EQ(MdlUpdate(s.Port(), MDL_MODE_UPLOAD, Recorder::Fn, &rec, path.c_str()), 1);
    Lines expected = Upload({records.begin(), records.begin() + 5});
    expected.push_back(". STOPPED");
    EXPECT_EQ(s.Received(". STOPPED"), expected);
    EXPECT_EQ(rec.Only(EV_UPLOAD_DONE), std::make_pair(5u, (uint32_t)records.size()));
    EXPECT_EQ(rec.events.back().id, EV_UPLOAD_DONE);
    // The instrument takes the next job as usual.
    EXPECT_EQ(MdlUpdate(s.Port(), MDL_MODE_FINISH), 1);
}

TEST(MdlUpload, SilenceHangUpAndFlashErrors)
{
    const std::string path = DataPath("multi.srec");
    {
        Session s({"--fault", "record:3:silent"}, 300);
        EXPECT_EQ(MdlUpdate(s.Port(), MDL_MODE_UPLOAD, nullptr, nullptr, path.c_str()), 0);
        EXPECT_STREQ(MdlErrorText(), "untouched");
    }
    {
        Session s({"--fault", "end:1:silent"});
        Recorder rec;
        // No flash indication comes: a short wait for them.
        rec.onEvent = [](const Event &e) {
            if (e.id == EV_FLASH_START)
                MdlSetTimings(20, 300);
        };
        EXPECT_EQ(MdlUpdate(s.Port(), MDL_MODE_UPLOAD, Recorder::Fn, &rec, path.c_str()), 0);
        EXPECT_EQ(rec.events.back().id, EV_FLASH_START);
        EXPECT_STREQ(MdlErrorText(), "untouched");
    }
    {
        Session s({"--fault", "record:5:hangup"});
        EXPECT_EQ(MdlUpdate(s.Port(), MDL_MODE_UPLOAD, nullptr, nullptr, path.c_str()), -1);
        EXPECT_EQ(MdlGetError(), MDL_ERR_LOCAL);
        EXPECT_EQ(std::string(MdlErrorText()).rfind("SioMsgSend(): ", 0), 0u) << MdlErrorText();
        EXPECT_GT(strlen(MdlErrorText()), strlen("SioMsgSend(): "));
    }
    {
        Session s(
            {"--flash-step", "10000", "--fault", "flash:3:refuse:Flash write error at 0x20000000"});
        Recorder rec;
        EXPECT_EQ(MdlUpdate(s.Port(), MDL_MODE_UPLOAD, Recorder::Fn, &rec, path.c_str()), -1);
        EXPECT_EQ(MdlGetError(), MDL_ERR_INSTRUMENT);
        EXPECT_STREQ(MdlErrorText(), "Flash write error at 0x20000000");
        ASSERT_EQ(rec.Of(EV_FLASH_PROGRESS).size(), 2u);
        EXPECT_EQ(rec.Of(EV_FLASH_PROGRESS)[1].a, 10000u);
        EXPECT_TRUE(rec.Of(EV_FLASH_DONE).empty());
    }
}

TEST(MdlUpdate, FilesThatCannotBeOpenedSendNothing)
{
    Session s;
    EXPECT_EQ(MdlUpdate(s.Port(), MDL_MODE_UPLOAD, nullptr, nullptr, "/nonexistent/fw.srec"), -1);
    EXPECT_EQ(MdlGetError(), MDL_ERR_LOCAL);
    EXPECT_EQ(std::string(MdlErrorText())
                  .rfind(std::string("/nonexistent/fw.srec: ") + strerror(ENOENT), 0),
              0u)
        << MdlErrorText();
    EXPECT_EQ(MdlUpdate(s.Port(), MDL_MODE_READBACK, nullptr, nullptr, "/nonexistent/out.srec",
                        false, 0, 16),
              -1);
    EXPECT_EQ(std::string(MdlErrorText()).rfind("/nonexistent/out.srec: ", 0), 0u)
        << MdlErrorText();
    EXPECT_TRUE(s.Received().empty());
}

TEST(MdlUpload, StandardInput)
{
    const std::string path = DataPath("bad_checksum.srec");
    TempFile file(RecordLines(path)[0] + "\n" + RecordLines(path)[1] + "\n");
    ASSERT_NE(std::freopen(file.Path().c_str(), "r", stdin), nullptr);
    Session s;
    EXPECT_EQ(MdlUpdate(s.Port(), MDL_MODE_UPLOAD, nullptr, nullptr, "-"), 1) << MdlErrorText();
    EXPECT_EQ(s.Received(), Upload({RecordLines(path)[0], RecordLines(path)[1], "."}));
}
