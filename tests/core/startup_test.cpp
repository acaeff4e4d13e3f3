#include "core/startup.h"

#include "platform/ports.h"
#include "platform/syserr.h"
#include "support/winerr.h"
#include "support/log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

namespace fs = std::filesystem;
using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;
using Words = std::vector<std::string>;

namespace {

// A temporary tree in the shape of /sys/class/tty: 8250 placeholders (type
// 0), virtual terminals without a device link, the fixed names in any case.
struct FakeSys {
    std::string root;
    FakeSys()
    {
        char tmpl[] = "/tmp/mirdel-app-XXXXXX";
        root = mkdtemp(tmpl) ? tmpl : "/nonexistent";
        for (const char *n : {"tty0", "console"})
            fs::create_directories(root + "/class/tty/" + n);
        const char *ttys[][2] = {{"ttyS0", "4\n"}, {"TTYS1", "4\n"}, {"ttyS2", "0\n"}, {"ttyS3", "4\n"},
                                 {"ttyS10", "1\n"}, {"ttyS11", "0\n"}, {"rfcomm0", "x\n"},
                                 {"ttyUSB10", ""},   {"ttyUSB2", ""},    {"ttyACM0", ""}};
        for (auto &t : ttys)
            tty(t[0], t[1]);
        PlatSetPortListRoot(root.c_str());
    }
    ~FakeSys()
    {
        fs::remove_all(root);
        PlatSetPortListRoot(nullptr);
    }
    void tty(const std::string &name, const std::string &type)
    {
        std::string dir = root + "/class/tty/" + name;
        fs::create_directories(dir);
        fs::create_directory_symlink("../../devices/" + name, dir + "/device");
        if (!type.empty())
            std::ofstream(dir + "/type") << type;
    }
};

StartupResult start(Words words, StartupState &st)
{
    std::vector<char *> argv;
    static std::vector<Words> keep; // the words outlive the call, as argv does
    keep.push_back(std::move(words));
    for (auto &s : keep.back())
        argv.push_back(s.data());
    argv.push_back(nullptr);
    return StartupInit((int)argv.size() - 1, argv.data(), st);
}

} // namespace

TEST(Ports, List)
{
    FakeSys sys;
    Words names = {"kept"};
    const char *failed = nullptr;
    ASSERT_TRUE(PlatEnumSerialPorts(names, &failed));
    EXPECT_EQ(names, (Words{"kept", "TTYS1", "rfcomm0", "ttyACM0", "ttyS0", "ttyS3", "ttyS10", "ttyUSB2",
                            "ttyUSB10"}));
    StartupState st;
    ASSERT_TRUE(StartupLoadPortList(st));
    EXPECT_EQ(st.ports,
              (Words{"ttyS0", "ttyS1", "rfcomm0", "ttyACM0", "ttyS3", "ttyS10", "ttyUSB2", "ttyUSB10"}));

    PlatSetPortListRoot((sys.root + "/missing").c_str());
    EXPECT_FALSE(PlatEnumSerialPorts(names, &failed));
    EXPECT_STREQ(failed, "opendir");
    EXPECT_EQ(PlatGetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(StartupLoadPortList(st));
    EXPECT_EQ(st.errorText.rfind("opendir():\n\n", 0), 0u);
    EXPECT_NE(st.errorText.find("<ERROR_FILE_NOT_FOUND>"), std::string::npos) << st.errorText;

    EXPECT_EQ(PlatPortDevicePath("ttyUSB0"), "/dev/ttyUSB0");
    EXPECT_EQ(PlatPortDevicePath("/tmp/sim-port"), "/tmp/sim-port");
}

TEST(Startup, OptionsAndLog)
{
    FakeSys sys;
    std::string log = sys.root + "/my log.txt";
    StartupState st;
    ASSERT_EQ(start({"/usr/bin/mirdel", "-v", "-l", sys.root + "/first.log", "-l" + log, "fw 1.srec", "-v"}, st),
              STARTUP_OK);
    EXPECT_STREQ(st.programName, "mirdel");
    EXPECT_EQ(st.logFileName, log);
    EXPECT_STREQ(st.firmwareArg, "fw 1.srec");
    EXPECT_EQ(st.ports.size(), 8u);

    // Console lines are dropped; the file gets prefix, banner and notices.
    CaptureStderr();
    LogConsole("console only");
    StartupTrace(STARTUP_TRACE_END);
    EXPECT_EQ(GetCapturedStderr(), "");
    std::stringstream text;
    text << std::ifstream(log).rdbuf();
    const std::string stamp = "\\d\\d/\\d\\d [ \\d]\\d:\\d\\d:\\d\\d mirdel: ";
    EXPECT_TRUE(std::regex_match(text.str(), std::regex(stamp + "-------------------- Start: --------------------\n" +
                                                         stamp + "CMirdelApp::InitInstance\\(\\): end\n")))
        << text.str();
    EXPECT_FALSE(fs::exists(sys.root + "/first.log"));

    std::string line = "\"D:\\Tools\\Mirdel.exe\" -l \"" + log + "\" \"E:\\fw\\new image.srec\"";
    ASSERT_EQ(StartupInitFromText(line.c_str(), st), STARTUP_OK);
    EXPECT_STREQ(st.programName, "Mirdel");
    EXPECT_STREQ(st.firmwareArg, "E:\\fw\\new image.srec");

    CaptureStderr();
    ASSERT_EQ(start({"/usr/bin/mirdel", "-x", "-l"}, st), STARTUP_OK);
    EXPECT_EQ(GetCapturedStderr(),
              "/usr/bin/mirdel: illegal option -- x\n/usr/bin/mirdel: option requires an argument -- l\n");
    EXPECT_EQ(st.logFileName, nullptr);
    EXPECT_EQ(st.firmwareArg, nullptr);
    ASSERT_EQ(start({"mirdel", "--", "-v"}, st), STARTUP_OK);
    EXPECT_STREQ(st.firmwareArg, "-v");
    EXPECT_FALSE(st.station);

    // The station's options where options stand; after them, words.
    ASSERT_EQ(start({"mirdel", "--port", "A", "-l", log, "--station", "--results", "r b", "--port",
                     "-B", "fw.srec", "--port", "C"},
                    st),
              STARTUP_OK);
    EXPECT_TRUE(st.station);
    EXPECT_EQ(st.stationPorts, (std::vector<std::string>{"A", "-B"}));
    EXPECT_EQ(st.resultsFile, "r b");
    EXPECT_EQ(st.logFileName, log);
    EXPECT_STREQ(st.firmwareArg, "fw.srec");
}

TEST(Startup, Failures)
{
    FakeSys sys;
    StartupState st;
    LogOpen(nullptr, LogDefaultConsole, nullptr, false); // as in a fresh process
    std::string bad = sys.root + "/no/dir/run.log";
    CaptureStderr();
    EXPECT_EQ(start({"/usr/bin/mirdel", "-l", bad}, st), STARTUP_END);
    std::string err = GetCapturedStderr();
    EXPECT_NE(err.find("LogOpen(): " + bad + ": "), std::string::npos) << err;
    EXPECT_TRUE(err.ends_with("\nmirdel: LogOpen() failed\n")) << err;
    EXPECT_EQ(st.errorText + "\n", err); // for a desktop program's box

    Words many = {"/usr/bin/mirdel", "-l", sys.root + "/refused.log"};
    many.resize(21, "-v");
    CaptureStderr();
    EXPECT_EQ(start(many, st), STARTUP_REFUSED);
    EXPECT_EQ(GetCapturedStderr(), "mirdel: command line refused: more than 20 words\n");
    EXPECT_EQ(st.errorText, "mirdel: command line refused: more than 20 words");
    EXPECT_FALSE(fs::exists(sys.root + "/refused.log"));
    CaptureStderr();
    std::string text = "\"D:\\Tools\\Mirdel.exe\" " + std::string(1010, 'f');
    EXPECT_EQ(StartupInitFromText(text.c_str(), st), STARTUP_REFUSED);
    EXPECT_EQ(GetCapturedStderr(), "Mirdel: command line refused: more than 1023 characters\n");

    PlatSetPortListRoot((sys.root + "/missing").c_str());
    EXPECT_EQ(start({"mirdel"}, st), STARTUP_ERROR);
    EXPECT_EQ(st.errorText.rfind("opendir():\n\n", 0), 0u);
    LogOpen(nullptr, LogDefaultConsole, nullptr, false);
}
