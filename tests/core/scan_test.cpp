#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "core/scan.h"
#include "firmware/mdl.h"
#include "support/intstr.h"
#include "support/log.h"
#include "tests/firmware/records.h"

namespace fs = std::filesystem;

namespace {

class Scan : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("LC_ALL", "C", 1); // the fallback thousands separator
        IntStrResetSeparator();
        dir = fs::temp_directory_path() / ("mirdel-scan-" + std::to_string(std::random_device{}()));
        fs::create_directories(dir);
        path = (dir / "fw.srec").string();
    }
    void TearDown() override
    {
        MdlFirmwareRelease(&fw);
        fs::remove_all(dir);
    }

    int Run(const std::string &content, ScanProgressFn progress = nullptr, void *context = nullptr)
    {
        std::ofstream(path, std::ios::binary) << content;
        MdlFirmwareRelease(&fw);
        info = ScanFileInfo();
        return ScanFirmwareFile(path.c_str(), &fw, &info, &message, progress, context);
    }

    fs::path dir;
    std::string path;
    Firmware fw{};
    ScanFileInfo info;
    std::string message;
};

} // namespace

TEST_F(Scan, AcceptedFiles)
{
    EXPECT_EQ(Run(""), 1);
    EXPECT_EQ(fw.imageCount, 0);
    EXPECT_EQ(info.sizeText, "0 Bytes");
    EXPECT_EQ(info.fileName, "fw.srec");
    EXPECT_EQ(info.location, dir.string());

    // Blank, comment and whitespace lines are skipped unchecked; CR LF ends a line as LF does.
    std::string text = "# S1050000AABB96\n\nS1 x\n\tS1050000AABB96\nS1050000AABB96 \n" + S0("0x100 Main") + "\n" +
                       Record('1', 0x10, Bytes(8)) + "\r\n" + Record('9', 0, {}) + "\n";
    EXPECT_EQ(Run(text), 1) << message;
    EXPECT_STREQ(fw.images[0].name, "Main");
    EXPECT_EQ(fw.totalSize, 8u);
    EXPECT_EQ(info.fileSize, text.size());

    EXPECT_EQ(Run("#" + std::string(1022, 'x') + "\n"), 1) << message; // 1023 characters
    EXPECT_EQ(Run("#" + std::string(1022, 'x') + "\r\n"), 1) << message;
}

TEST_F(Scan, RefusedFiles)
{
    struct {
        std::string content, message;
    } cases[] = {
        {S0("0") + "\nS1050000AABB95", "'S1050000AA': not terminated with end of line character !"},
        {"#" + std::string(1023, 'y') + "\n", "'#yyyyyyyyy': not terminated with end of line character !"},
        {std::string("\0S1050000AABB95\n", 16), "'': not terminated with end of line character !"},
        {std::string("S105") + '\0' + "0000AABB95\n", "'S105': not terminated with end of line character !"},
        // No count reaches that far; the upload would refuse it too.
        {S0("0") + "\nS1" + std::string(600, '0') + "\r\n", "'S100000000': record longer than 514 characters !"},
        {S0("0") + "\nS1050000AABB96\nS1050000AABB95\n",
         "'S1050000AABB96':\n- incorrect checksum (0x96), should be 0x95"},
        {"S1050000AABB95\n", "Missing \"S0\" record"},
        // Count 06, seven bytes, checksum right.
        {S0("0") + "\nS106000001020304EF\n", "'S106000001020304EF': record length does not match its count"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(Run(c.content), 0);
        EXPECT_EQ(message, c.message);
        EXPECT_EQ(info.fileName, "fw.srec"); // properties filled whatever the result
    }
    EXPECT_EQ(ScanErrorPlace(info), info.filePath + ":2: "); // the line the last case refuses
    EXPECT_EQ(fw.imageCount, 1);

    std::string missing = (dir / "missing.srec").string();
    info = ScanFileInfo();
    EXPECT_EQ(ScanFirmwareFile(missing.c_str(), &fw, &info, &message), 0);
    EXPECT_EQ(message, missing + "\n\n- No such file or directory");
    EXPECT_TRUE(info.fileName.empty());
    EXPECT_EQ(ScanErrorPlace(info), ""); // not a line's fault

    static std::vector<std::string> logged;
    LogOpen(nullptr, [](const char *line, bool) { logged.push_back(line); }, nullptr, false);
    std::string box = ScanReportError(message, "fw.srec:7: ");
    LogOpen(nullptr, LogDefaultConsole, nullptr, false);
    EXPECT_EQ(box, "Error while checking the firmware file:\n\n" + missing + "\n\n- No such file or directory");
    std::vector<std::string> expected = {"CDownloadDlg::ScanErrorBox(): fw.srec:7: " + missing, "",
                                         "- No such file or directory"};
    EXPECT_EQ(logged, expected);

    // A read error is a failure, not the end of the file.
    EXPECT_EQ(ScanFirmwareFile(dir.c_str(), &fw, &info, &message), 0);
    EXPECT_EQ(message, dir.string() + "\n\n- Is a directory");
}

TEST_F(Scan, ProgressIsReportedOnlyWhenItChanges)
{
    std::string text = S0("0") + "\n";
    for (uint32_t a = 0; a < 300 * 16; a += 16)
        text += Record('1', a, Bytes(16)) + "\n";
    std::vector<int> seen;
    auto note = [](void *context, int percent) { static_cast<std::vector<int> *>(context)->push_back(percent); };
    ASSERT_EQ(Run(text, note, &seen), 1);
    ASSERT_GE(seen.size(), 90u);
    EXPECT_EQ(seen.back(), 100);
    for (size_t i = 0; i < seen.size(); i++)
        EXPECT_GT(seen[i], i ? seen[i - 1] : 0);

    EXPECT_EQ(ScanPercent(5, 0), 0);
    EXPECT_EQ(ScanPercent(1, 3), 33);
    EXPECT_EQ(ScanPercent(6000000000ULL, 8000000000ULL), 75);
    EXPECT_EQ(ScanPercent(1ULL << 62, 1ULL << 63), 50);
    EXPECT_EQ(ScanPercent(UINT64_MAX, UINT64_MAX), 100);
}

TEST_F(Scan, NameLocationAndSize)
{
    const char *cases[][3] = {
        {"D:\\fw\\main.srec", "main.srec", "D:\\fw"}, {"main.srec", "main.srec", ""},
        {"/main.srec", "main.srec", ""},            {"/home/u/main.srec", "main.srec", "/home/u"},
        {"C:/a\\b/c.srec", "b/c.srec", "C:/a"},
    };
    for (auto &c : cases) {
        std::string name, location = "x";
        ScanSplitPath(c[0], &name, &location);
        EXPECT_EQ(name, c[1]) << c[0];
        EXPECT_EQ(location, c[2]) << c[0];
    }
    EXPECT_EQ(ScanSizeText(1023), "1,023 Bytes");
    EXPECT_EQ(ScanSizeText(1024), "1.00 KiB (1,024 Bytes)");
    EXPECT_EQ(ScanSizeText(1536), "1.50 KiB (1,536 Bytes)");
    EXPECT_EQ(ScanSizeText(1048575), "1024.00 KiB (1,048,575 Bytes)");
    EXPECT_EQ(ScanSizeText(5ULL << 30), "5.00 GiB (5,368,709,120 Bytes)");
}

TEST_F(Scan, ModificationTimeInLocalTime)
{
    std::ofstream(path) << S0("0") << "\n";
    std::chrono::sys_seconds when = std::chrono::sys_days{std::chrono::year{2021} / 6 / 15} + std::chrono::hours{10};
    fs::last_write_time(path, std::chrono::file_clock::from_sys(when));
    std::time_t expected = std::chrono::system_clock::to_time_t(when);
    // 10:00 UTC in zones other than UTC, one of them a day behind.
    struct Zone {
        const char *tz;
        int mday, hour, min;
    };
    const Zone zones[] = {{"XST-05:30", 15, 15, 30}, {"YST+11", 14, 23, 0}};
    const char *saved = std::getenv("TZ");
    const std::string before = saved ? saved : "";
    for (const Zone &z : zones) {
        SCOPED_TRACE(z.tz);
        setenv("TZ", z.tz, 1);
        tzset();
        MdlFirmwareRelease(&fw);
        ASSERT_EQ(ScanFirmwareFile(path.c_str(), &fw, &info, &message), 1);
        ASSERT_TRUE(info.modifiedValid) << info.modifiedError;
        EXPECT_EQ(info.modifiedTime, expected);
        EXPECT_EQ(info.modified.tm_year, 121);
        EXPECT_EQ(info.modified.tm_mon, 5);
        EXPECT_EQ(info.modified.tm_mday, z.mday);
        EXPECT_EQ(info.modified.tm_hour, z.hour);
        EXPECT_EQ(info.modified.tm_min, z.min);
        std::tm copy = info.modified;
        EXPECT_EQ(std::mktime(&copy), expected);
    }
    if (saved)
        setenv("TZ", before.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}
