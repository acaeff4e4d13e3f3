// The progress groups driven by the events, without an instrument.
#include <climits>

#include "protocol/mdl_pc.h"
#include "run_helpers.h"

TEST(RunProgress, PercentBarAndShownNumber)
{
    EXPECT_DOUBLE_EQ(RunProgress::Percent(199, 200), 99.5);
    EXPECT_EQ(RunProgress::ShownNumber(99.5), 100);
    EXPECT_EQ(RunProgress::BarPosition(99.5), 9950);
    EXPECT_EQ(RunProgress::ShownNumber(99.49), 99);
    EXPECT_EQ(RunProgress::BarPosition(0.005), 1);
    EXPECT_EQ(RunProgress::Percent(5, 0), 0.0);
    // Not capped at 100, and no overflow for absurd reports.
    EXPECT_DOUBLE_EQ(RunProgress::Percent(3, 2), 150.0);
    EXPECT_EQ(RunProgress::BarPosition(RunProgress::Percent(0xFFFFFFFFu, 1)), INT_MAX);
    // The 32-bit numbers are multiplied in double precision.
    EXPECT_DOUBLE_EQ(RunProgress::Percent(0xFFFFFFFFu, 0xFFFFFFFFu), 100.0);
}

TEST(RunProgress, UploadGroupUpdatesTheNumberOnlyWhenItChanges)
{
    ModelBuilder b;
    b.Image(0).Segment(0, 10);
    const Firmware &fw = b.Build();
    RecordingView view;
    std::atomic<bool> stop{false};
    RunProgress p(fw, view, stop);

    EXPECT_TRUE(p.Event(EV_UPLOAD_START, 0, 0));
    EXPECT_TRUE(p.Event(EV_UPLOAD_PROGRESS, 1, 200)); // 0.5 %: shows 1
    EXPECT_TRUE(p.Event(EV_UPLOAD_PROGRESS, 2, 200)); // 1 %: unchanged
    EXPECT_TRUE(p.Event(EV_UPLOAD_PROGRESS, 199, 200));
    EXPECT_TRUE(p.Event(EV_UPLOAD_DONE, 200, 200));
    EXPECT_EQ(view.calls, (std::vector<std::string>{
                              "label 0 bold  Uploading ...",
                              "bar 0 50",
                              "percent 0 1",
                              "bar 0 100",
                              "bar 0 9950",
                              "percent 0 100",
                              "label 0 normal  Uploading ... done.",
                          }));

    // An empty file: a total of 0 stays at 0 and the number is not touched.
    view.calls.clear();
    view.shown[0] = 0;
    EXPECT_TRUE(p.Event(EV_UPLOAD_PROGRESS, 0, 0));
    EXPECT_EQ(view.calls, (std::vector<std::string>{"bar 0 0"}));

    // Codes outside the table change nothing.
    view.calls.clear();
    EXPECT_TRUE(p.Event(10, 1, 1));
    EXPECT_TRUE(p.Event(-1, 1, 1));
    EXPECT_TRUE(view.calls.empty());
}

TEST(RunProgress, FlashAndVerifySumsAndTheVerifyingLabelOverImages)
{
    // 100 bytes in all; an image without segments sits between the others
    // and one leads them.
    ModelBuilder b;
    b.Image(0x0);
    b.Image(0x1000).Segment(0, 40).Segment(0x100, 20);
    b.Image(0x2000);
    b.Image(0x3000).Segment(0, 40);
    b.Image(0x4000);
    const Firmware &fw = b.Build();
    RecordingView view;
    std::atomic<bool> stop{false};
    RunProgress p(fw, view, stop);

    p.Event(EV_FLASH_START, 0, 0);
    p.Event(EV_FLASH_PROGRESS, 30, 0);
    p.Event(EV_FLASH_PROGRESS, 70, 0);
    p.Event(EV_FLASH_DONE, 0, 0);
    EXPECT_EQ(view.bars[RUN_GROUP_FLASH], 10000);
    EXPECT_EQ(view.shown[RUN_GROUP_FLASH], 100);

    view.calls.clear();
    // Every segment's read-back: start, records, done. Only the first start
    // and the last done reach the label.
    const uint32_t sizes[] = {40, 20, 40};
    for (uint32_t size : sizes) {
        EXPECT_TRUE(p.Event(EV_VERIFY_START, 0, 0));
        EXPECT_TRUE(p.Event(EV_VERIFY_PROGRESS, 2, size / 2));
        EXPECT_TRUE(p.Event(EV_VERIFY_RETRY, 0, 0));
        EXPECT_TRUE(p.Event(EV_VERIFY_PROGRESS, 3, size / 2));
        EXPECT_TRUE(p.Event(EV_VERIFY_DONE, 4, 0));
    }
    EXPECT_EQ(view.Calls("label"), (std::vector<std::string>{
                                       "label 2 bold  Verifying ...",
                                       "label 2 normal  Verifying ... done.",
                                   }));
    EXPECT_EQ(view.calls.back(), "label 2 normal  Verifying ... done.");
    EXPECT_EQ(view.Calls("percent"), (std::vector<std::string>{
                                         "percent 2 20",
                                         "percent 2 40",
                                         "percent 2 50",
                                         "percent 2 60",
                                         "percent 2 80",
                                         "percent 2 100",
                                     }));
    EXPECT_EQ(view.bars[RUN_GROUP_VERIFY], 10000);

    // A second flash writing starts the counting over, and the byte sums.
    view.calls.clear();
    p.Event(EV_FLASH_START, 0, 0);
    p.Event(EV_FLASH_PROGRESS, 10, 0);
    p.Event(EV_FLASH_DONE, 0, 0);
    EXPECT_EQ(view.bars[RUN_GROUP_FLASH], 1000);
    p.Event(EV_VERIFY_START, 0, 0);
    p.Event(EV_VERIFY_PROGRESS, 1, 5);
    EXPECT_EQ(view.bars[RUN_GROUP_VERIFY], 500);
    EXPECT_EQ(view.Calls("label 2").size(), 1u);
}

TEST(RunProgress, AStopFreezesTheGroupsButTheFlashWriting)
{
    ModelBuilder b;
    b.Image(0).Segment(0, 100);
    const Firmware &fw = b.Build();
    RecordingView view;
    std::atomic<bool> stop{false};
    RunProgress p(fw, view, stop);
    EXPECT_TRUE(p.Event(EV_UPLOAD_START, 0, 0));
    EXPECT_TRUE(p.Event(EV_UPLOAD_PROGRESS, 1, 10));
    size_t before = view.calls.size();
    stop = true;
    for (int e : std::initializer_list<int>{EV_UPLOAD_PROGRESS, EV_UPLOAD_DONE, EV_FLASH_START,
                                            EV_FLASH_PROGRESS, EV_FLASH_PROGRESS, EV_FLASH_DONE,
                                            EV_VERIFY_START, EV_VERIFY_PROGRESS, EV_VERIFY_RETRY,
                                            EV_VERIFY_DONE, 42})
        EXPECT_FALSE(p.Event(e, 50, 10)) << e;
    std::vector<std::string> after(view.calls.begin() + (long)before, view.calls.end());
    EXPECT_EQ(after, (std::vector<std::string>{
                         "label 1 bold  Writing to flash memory ...", "stopping 1", "bar 1 5000",
                         "percent 1 50", "bar 1 10000", "percent 1 100",
                         "label 1 normal  Writing to flash memory ... done."}));
    EXPECT_STREQ(RunStopNote(RUN_GROUP_FLASH), RUN_STOP_FLASH_NOTE);
    EXPECT_EQ(RunStopNote(RUN_GROUP_UPLOAD), nullptr);
}
