// The checks before a run, the port list rule and the outcome messages.
#include "core/textfmt.h"
#include "run_helpers.h"
#include "support/log.h"

TEST(RunChecks, OverlapNamesTheFirstPairAndIgnoresTouchingRanges)
{
    std::string message = "unchanged";
    {
        // Touching within one image and across images: no overlap.
        ModelBuilder b;
        b.Image(0x1000).Segment(0x0, 0x100).Segment(0x100, 0x100);
        b.Image(0x1200).Segment(0x5000, 0x10);
        // A segment without bytes inside another one occupies nothing.
        b.Image(0x1050).Segment(0x0, 0x0);
        EXPECT_TRUE(RunCheckOverlap(b.Build(), message));
        EXPECT_EQ(message, "unchanged");
    }
    {
        // One shared byte within an image: segment #1 starts at the last
        // byte of segment #0 (flash 0x10FF).
        ModelBuilder b;
        b.Image(0x1000).Segment(0x0, 0x100).Segment(0xFF, 0x10);
        EXPECT_FALSE(RunCheckOverlap(b.Build(), message));
        EXPECT_EQ(message, "ERROR:\n\nSegment #0 of image #0 (0x1000~0x1100) overlaps\n"
                           "segment #1 of image #0 (0x10FF~0x110F)\n");
    }
    {
        // Across images: image #0 is clean against itself, its segment #1
        // overlaps image #2's segment #0 and image #1's segment #0; the
        // lower-numbered image is named second.
        ModelBuilder b;
        b.Image(0x0).Segment(0x0, 0x10).Segment(0x800, 0x100);
        b.Image(0x880).Segment(0x0, 0x8);
        b.Image(0x8F0).Segment(0x0, 0x20);
        EXPECT_FALSE(RunCheckOverlap(b.Build(), message));
        EXPECT_EQ(message, "ERROR:\n\nSegment #1 of image #0 (0x800~0x900) overlaps\n"
                           "segment #0 of image #1 (0x880~0x888)\n");
    }
    {
        // A segment that runs past the top of the address space still
        // overlaps one lying just below the top; its end is shown whole
        // (beyond 32 bits, where Windows' long ends).
        ModelBuilder b;
        b.Image((int32_t)0xFFFFFF00).Segment(0x0, 0x200);
        b.Image((int32_t)0xFFFFFF80).Segment(0x0, 0x10);
        EXPECT_FALSE(RunCheckOverlap(b.Build(), message));
        EXPECT_NE(message.find("Segment #0 of image #0 (0xFFFFFF00~0x100000100)"),
                  std::string::npos)
            << message;
        EXPECT_NE(message.find("segment #0 of image #1 (0xFFFFFF80~0xFFFFFF90)"),
                  std::string::npos);
    }
}

TEST(RunChecks, HighestFlashAddress)
{
    ModelBuilder ok;
    ok.Image(0xE0000).Segment(0x0, 0x10000); // last byte 0xEFFFF
    EXPECT_FALSE(RunExceedsFlash(ok.Build()));

    ModelBuilder over;
    over.Image(0x0).Segment(0x0, 0x10);
    over.Image(0xE0000).Segment(0x100, 0x10).Segment(0x10100, 0x1); // flash 0xF0000
    EXPECT_TRUE(RunExceedsFlash(over.Build()));

    ModelBuilder empty;
    empty.Image(0x200000);
    EXPECT_FALSE(RunExceedsFlash(empty.Build()));
    EXPECT_FALSE(RunExceedsFlash(Firmware{}));

    // The end wraps to 0x100 in 32 bits; the segment still lies far above.
    ModelBuilder wrap;
    wrap.Image((int32_t)0xFFFFFF00).Segment(0x0, 0x200);
    EXPECT_TRUE(RunExceedsFlash(wrap.Build()));

    EXPECT_STREQ(RUN_EXCEEDS_QUESTION,
                 "WARNING:\nThe selected firmware exceeds the highest possible flash address "
                 "($F_0000-1)\n\nDo you want to proceed with firmware upload ?");
}

TEST(RunChecks, UploadChecksInTheirOrder)
{
    // No data, and its only segment lies beyond the end of flash: both
    // questions. An overlap beyond the end of flash: the refusal alone.
    ModelBuilder empty, overlap;
    empty.Image(0x100000).Segment(0x0, 0x0);
    overlap.Image(0xF0000).Segment(0x0, 0x10).Segment(0x8, 0x10);
    std::vector<RunCheck> checks = RunUploadChecks(empty.Build());
    ASSERT_EQ(checks.size(), 2u);
    EXPECT_TRUE(checks[0].kind == RUN_CHECK_ASK && checks[0].text == RUN_EXCEEDS_QUESTION);
    EXPECT_TRUE(checks[1].kind == RUN_CHECK_ASK && checks[1].text == RUN_NO_DATA_QUESTION);
    checks = RunUploadChecks(overlap.Build());
    ASSERT_EQ(checks.size(), 1u);
    EXPECT_EQ(checks[0].kind, RUN_CHECK_REFUSE);
    EXPECT_EQ(checks[0].text.rfind("ERROR:\n\nSegment #0 of image #0 (0xF0000~0xF0010)", 0), 0u);

    // Met in order: a No ends them, a refusal ends them whatever the answer.
    for (auto [answers, told, pass] : {std::tuple{"nn", 1, false}, {"yn", 2, false},
                                       {"yy", 2, true}}) {
        int asked = 0;
        EXPECT_EQ(RunChecksPass(empty.Build(), [&](const RunCheck &) { return answers[asked++] == 'y'; }),
                  pass);
        EXPECT_EQ(asked, told) << answers;
    }
    int asked = 0;
    EXPECT_FALSE(RunChecksPass(overlap.Build(), [&](const RunCheck &) { return ++asked; }));
    EXPECT_EQ(asked, 1);
}

TEST(RunChecks, TypedPortNameIsAddedOnceIgnoringCase)
{
    std::vector<std::string> ports = {"ttyS0", "ttyS1", "ttyUSB0"};
    EXPECT_FALSE(RunAddPortName(ports, "TTYusb0"));
    EXPECT_FALSE(RunAddPortName(ports, "ttyS1"));
    EXPECT_TRUE(RunAddPortName(ports, "ttyACM3"));
    EXPECT_FALSE(RunAddPortName(ports, "ttyacm3"));
    EXPECT_TRUE(RunAddPortName(ports, "ttyS"));
    EXPECT_EQ(ports, (std::vector<std::string>{"ttyS0", "ttyS1", "ttyUSB0", "ttyACM3", "ttyS"}));
}

TEST(RunOutcome, TextsAndIcons)
{
    RunOutcome o = RunOutcomeText(UPLOAD_OK, -1, "");
    EXPECT_EQ(o.text, "Upload successful.");
    EXPECT_EQ(o.icon, RUN_ICON_INFORMATION);
    o = RunOutcomeText(UPLOAD_STOPPED, -1, "");
    EXPECT_EQ(o.text, "Upload stopped by user.");
    EXPECT_EQ(o.icon, RUN_ICON_EXCLAMATION);
    o = RunOutcomeText(VERIFY_STOPPED, -1, "");
    EXPECT_EQ(o.text, "Verification stopped by user.");
    EXPECT_EQ(o.icon, RUN_ICON_EXCLAMATION);

    EXPECT_EQ(RunOutcomeText(UPLOAD_FAILED, -1, "").text, "Upload failed.");
    EXPECT_EQ(RunOutcomeText(UPLOAD_FAILED, 1, "").text, "Upload failed.");
    EXPECT_EQ(RunOutcomeText(UPLOAD_FAILED, -1, "SioMsgRecv(): gone").text,
              "Upload failed:\n\nSioMsgRecv(): gone");
    o = RunOutcomeText(UPLOAD_FAILED, 1, "Flash %s locked");
    EXPECT_EQ(o.text,
              "Upload failed. The instrument returned the following error:\n\nFlash %s locked");
    EXPECT_EQ(o.icon, RUN_ICON_STOP);

    o = RunOutcomeText(UPLOAD_TIMEOUT, -1, "");
    EXPECT_EQ(o.text, "I/O timeout.\n\nMake sure to:\n\n - select appropriate serial port\n"
                      " - check your serial cable connection\n"
                      " - check that the instrument is powered on,\n"
                      "   running and its system interface is set to RS232");
    EXPECT_EQ(o.icon, RUN_ICON_STOP);

    o = RunOutcomeText((UploadResult)7, 1, "x");
    EXPECT_EQ(o.text, "");
    EXPECT_EQ(o.icon, RUN_ICON_NONE);
}

static std::vector<std::string> Lines;
static void KeepLine(const char *line, bool)
{
    Lines.push_back(line);
}

TEST(RunOutcome, OnlyAFailureIsLogged)
{
    Lines.clear();
    LogOpen(nullptr, KeepLine, nullptr, false);
    RunLogOutcome(UPLOAD_OK, "not this");
    RunLogOutcome(UPLOAD_STOPPED, "nor this");
    RunLogOutcome(UPLOAD_TIMEOUT, "");
    RunLogOutcome(UPLOAD_FAILED, "100% lost");
    EXPECT_EQ(Lines,
              (std::vector<std::string>{"CDownloadDlg::OnMirdelDone(): MIRDEL_ERROR: I/O timeout.",
                                        "CDownloadDlg::OnMirdelDone(): MIRDEL_ERROR: 100% lost"}));
}

// The advice is held as paragraphs; a terminal gets it wrapped to its width.
TEST(RunOutcome, AdviceFitsTheTerminal)
{
    const struct {
        std::string text;
        int columns;
        std::string shown;
    } cases[] = {
        {RUN_PORT_MISSING_ADVICE, 79,
         "The device is not there: check the cable and the USB serial adapter, and choose\n"
         "a port that exists ('mirdel-cli ports' lists them)."},
        {RUN_PORT_ACCESS_ADVICE, 40,
         "You may not open this port. Join the\ngroup that owns the device (usually\n"
         "dialout), then log out and in again:\n\n    sudo usermod -aG dialout $USER"},
        {"x: /a/very/long/path/name ok", 10, "x:\n/a/very/long/path/name\nok"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(TextWrap(c.text, c.columns), c.shown) << c.text;
}

TEST(RunChecks, BackupRangesAndFileNames)
{
    // In address order, touching segments as one range.
    FirmwareFile file({{0x20000, "Main", {{0x0, 16}, {0x10, 16}, {0x100, 8}}}, {0x1000, "Boot", {{0x0, 8}}}});
    std::vector<RunRange> ranges = RunWrittenRanges(file.firmware);
    std::vector<std::pair<uint32_t, uint64_t>> got;
    for (const RunRange &r : ranges)
        got.push_back({r.start, r.end});
    EXPECT_EQ(got, (std::vector<std::pair<uint32_t, uint64_t>>{
                       {0x1000, 0x1008}, {0x20000, 0x20020}, {0x20100, 0x20108}}));
    const std::pair<const char *, std::string> names[] = {
        {"/dev/ttyUSB0", "ttyUSB0"},
        {"\\\\.\\COM10", "COM10"},
        {"/dev/serial/by-id/usb-FTDI_FT232R:A1 0K-if00", "usb-FTDI_FT232R_A1_0K-if00"},
    };
    for (const auto &[port, base] : names) {
        std::string name = RunBackupFileName(port, 1765357200);
        EXPECT_EQ(name.substr(0, base.size() + 1), base + "-") << port;
        EXPECT_EQ(name.size(), base.size() + 21) << name; // -YYYYMMDD-HHMMSS.srec
    }
}
