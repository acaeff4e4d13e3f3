// mirdel-cli upload and ports, run as programs against mirdel-sim: exit
// statuses, outcome texts, progress lines, Ctrl-C and the log file.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bench/upload_firmware.h"
#include "tests/common/cli_run.h"
#include "tests/common/sim_process.h"

namespace
{

struct CliResult {
    int status = -1;
    std::string out, err;
};

// Runs mirdel-cli without a terminal. With holder (a simulator with a hold
// fault), presses Ctrl-C while the simulator holds its answer and releases
// the answer once the program has taken the signal, so that the stop is
// seen in the phase of the hold whatever the scheduling.
CliResult RunCli(std::vector<std::string> args, const std::string &env = "",
                 const SimProcess *holder = nullptr)
{
    std::function<bool(const std::string &)> when;
    std::function<void()> release;
    if (holder) {
        when = [holder](const std::string &) { return holder->WaitHeld(1, 0); };
        release = [holder]() { holder->Release(); };
    }
    CliRun r = RunCliProgram(args, when, SIGINT, env, release);
    return {r.status, r.out, r.err};
}

std::string ReadAll(const std::string &path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string TempPath(const char *name)
{
    return "/tmp/mirdel-cliup-" + std::to_string(getpid()) + "-" + name;
}

const std::vector<UploadImageLayout> kLayout = {{0x1000, "Boot", {{0x0, 1024}}},
                                              {0x20000, "Main", {{0x0, 2048}, {0x1000, 256}}}};

} // namespace

TEST(CliUpload, OutcomesAndExitStatuses)
{
    const std::string fw = TempPath("fw.srec"), log = TempPath("log.txt");
    ASSERT_TRUE(UploadWriteFile(fw, UploadFirmwareText(kLayout, 32, 5)));
    struct Case {
        std::vector<std::string> sim, args;
        std::string env;
        const char *interruptIn; // Ctrl-C in this phase (of the hold fault)
        int status;
        std::string err; // its beginning
    };
    const std::string timeout =
        "I/O timeout.\n\nMake sure to:\n\n - select appropriate serial port\n"
        " - check your serial cable connection\n"
        " - check that the instrument is powered on,\n"
        "   running and its system interface is set to RS232\n";
    const std::vector<Case> cases = {
        {{}, {"-l", log}, "", "", 0, ""},
        {{}, {"--no-verify"}, "", "", 0, ""},
        {{"--fault", "record:2:text:Flash ready"}, {"--debug"}, "", "", 0, "+OK Flash ready\n"},
        {{"--corrupt", std::to_string(0x21000 + 7)},
         {"-l", log},
         "",
         "",
         2,
         "Upload failed:\n\nVerification failed for segment #1 of image #1:\n\n"
         "Flash memory contents does not match the original\ndata from the firmware file.\n\n"
         "Segment's flash address: 135,168 = 0x21000\nSegment's size: 256 = 0x100\n"
         "Data mismatch at offset: 7 = 0x7\n"},
        {{"--fault", "job:1:refuse:Update not allowed"},
         {},
         "",
         "",
         2,
         "Upload failed. The instrument returned the following error:\n\nUpdate not allowed\n"},
        {{"--fault", "record:3:silent"}, {}, "MIRDEL_PORT_TIMEOUT_MS=300", "", 3, timeout},
        {{"--fault", "record:20:hold"}, {}, "", "upload", 1, ""},
        {{"--fault", "readback:5:hold"}, {}, "", "verification", 1, ""},
    };
    for (const Case &c : cases) {
        SimProcess sim(c.sim);
        std::vector<std::string> args = {"upload", "--port", sim.Path()};
        args.insert(args.end(), c.args.begin(), c.args.end());
        args.push_back(fw);
        std::remove(log.c_str());
        const std::string interruptIn = c.interruptIn;
        CliResult r = RunCli(args, c.env, interruptIn.empty() ? nullptr : &sim);
        SCOPED_TRACE(args[3] + " " + interruptIn);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_EQ(r.err.substr(0, c.err.size()), c.err);
        std::vector<std::string> rx = sim.Received();
        bool verify = std::find(args.begin(), args.end(), "--no-verify") == args.end();
        if (c.status == 0) {
            EXPECT_EQ(r.err, c.err);
            const std::string tail =
                verify ? " Verifying 100%\n Verifying ... done.\nUpload successful.\n"
                       : " Writing to flash memory ... done.\nUpload successful.\n";
            ASSERT_GE(r.out.size(), tail.size());
            EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail);
            EXPECT_NE(r.out.find(" Uploading ...\n Uploading 10%\n"), std::string::npos) << r.out;
            EXPECT_EQ(std::count(rx.begin(), rx.end(), ":DIAG:UPDATE"), verify ? 3 + 2 : 2);
            EXPECT_EQ(rx.back(), "MIRDEL DONE");
        } else {
            EXPECT_EQ(std::count(rx.begin(), rx.end(), "MIRDEL DONE"), 0);
        }
        if (interruptIn == "upload") {
            EXPECT_NE(r.err.find("Upload stopped by user.\n"), std::string::npos) << r.err;
            EXPECT_EQ(r.out.find("Writing"), std::string::npos);
        } else if (!interruptIn.empty()) {
            EXPECT_NE(r.err.find("Verification stopped by user.\n"), std::string::npos) << r.err;
            EXPECT_EQ(r.out.find("Verifying ... done."), std::string::npos);
        }
        if (c.args.size() == 2) { // with a log
            std::string text = ReadAll(log);
            EXPECT_NE(text.find("mirdel-cli: -------------------- Start: --------------------\n"),
                      std::string::npos)
                << text;
            EXPECT_EQ(
                text.find("CDownloadDlg::OnMirdelDone(): MIRDEL_ERROR: Verification failed") !=
                    std::string::npos,
                c.status == 2);
        }
    }
    std::remove(fw.c_str());
    std::remove(log.c_str());
}

TEST(CliUpload, RefusedBeforeAnythingIsSent)
{
    const std::string fw = TempPath("check.srec");
    SimProcess sim;
    struct Case {
        std::vector<UploadImageLayout> layout;
        std::string extra;
        int status;
        std::string err;
    };
    const std::vector<Case> cases = {
        {{{0x1000, "A", {{0x0, 0x100}}}, {0x10FF, "B", {{0x0, 0x10}}}},
         "",
         4,
         "ERROR:\n\nSegment #0 of image #0 (0x1000~0x1100) overlaps\nsegment #0 of image #1 "
         "(0x10FF~0x110F)\n"},
        // Beyond the highest flash address: no terminal to ask on.
        {{{0xEFF00, "High", {{0x0, 0x101}}}},
         "",
         4,
         "WARNING:\nThe selected firmware exceeds the highest possible flash address "
         "($F_0000-1)\n\n"
         "Do you want to proceed with firmware upload ?\n\n"},
        // No data at all: asked as well, refused without a terminal.
        {{{0x1000, "Empty", {}}},
         "",
         4,
         "The firmware file holds no data. Upload anyway?\n\n"
         "mirdel-cli: no terminal to ask on; give --yes to upload anyway\n"},
        {{{0x1000, "A", {{0x0, 0x10}}}},
         "S1070104050607089A\n",
         4,
         "Error while checking the firmware file:\n\n"},
    };
    for (const Case &c : cases) {
        std::string text = UploadFirmwareText(c.layout, 32, 1) + c.extra;
        ASSERT_TRUE(UploadWriteFile(fw, text));
        std::string want = c.err;
        if (!c.extra.empty()) // the faulty last line, named as FILE:LINE:
            want =
                fw + ":" + std::to_string(std::count(text.begin(), text.end(), '\n')) + ": " + want;
        CliResult r = RunCli({"upload", "--port", sim.Path(), fw});
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_EQ(r.err.substr(0, want.size()), want);
        EXPECT_EQ(r.out, "");
    }
    EXPECT_TRUE(sim.Received().empty());
    ASSERT_TRUE(UploadWriteFile(fw, UploadFirmwareText(cases[1].layout, 32, 1)));
    CliResult r = RunCli({"upload", "--yes", "--port", "/nonexistent/tty", fw});
    EXPECT_EQ(r.status, 5);
    EXPECT_EQ(r.err,
              "Cannot open serial port:\n\n/nonexistent/tty: No such file or directory "
              "<ERROR_FILE_NOT_FOUND>\n\nThe device is not there: check the cable and the USB "
              "serial adapter, and choose\na port that exists ('mirdel-cli ports' lists them).\n");

    // --yes uploads the firmware beyond the highest address.
    r = RunCli({"upload", "--yes", "--port", sim.Path(), fw});
    EXPECT_EQ(r.status, 0) << r.err;
    std::remove(fw.c_str());
}

TEST(CliUpload, UsageHelpAndPorts)
{
    for (std::vector<std::string> args :
         std::vector<std::vector<std::string>>{{"upload", "fw.srec"},
                                               {"upload", "--port", "ttyS0"},
                                               {"upload", "--port"},
                                               {"upload", "--port", "ttyS0", "--bogus", "fw.srec"},
                                               {"upload", "--port", "x", "a", "b"},
                                               {"ports", "extra"}}) {
        CliResult r = RunCli(args);
        EXPECT_EQ(r.status, 64) << args.back();
        EXPECT_NE(r.err.find("Usage: mirdel-cli"), std::string::npos) << r.err;
    }
    CliResult r = RunCli({"--help"});
    EXPECT_EQ(r.status, 0);
    for (const char *text :
         {"Usage: mirdel-cli upload --port NAME [--no-verify] [--backup DIR] [--yes] [-l LOGFILE] FILE",
          "Usage: mirdel-cli ports", "Usage: mirdel-cli info [--map] FILE", "Ctrl-C", "  1   ", "  3   ",
          "  5   ", "MIRDEL_PORT_TIMEOUT_MS"})
        EXPECT_NE(r.out.find(text), std::string::npos) << text;
    r = RunCli({"ports"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("ttyS0 ", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("\nttyS1 "), std::string::npos) << r.out;
}
