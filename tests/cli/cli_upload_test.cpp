// mirdel-cli upload's refusals and usage, and its ports, run as programs
// (the runs are the run scenarios').
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "bench/upload_firmware.h"
#include "tests/common/cli_run.h"

namespace
{

CliRun RunCli(const std::vector<std::string> &args)
{
    return RunCliProgram(args);
}

std::string TempPath(const char *name)
{
    return "/tmp/mirdel-cliup-" + std::to_string(getpid()) + "-" + name;
}

} // namespace

// What only the terminal front end says of a refusal (the run scenarios
// have the rest): a faulty line as FILE:LINE:, the question it cannot ask,
// a backup folder it cannot write, and the advice wrapped to 80 columns.
TEST(CliUpload, RefusalsAsTheTerminalShowsThem)
{
    const std::string fw = TempPath("check.srec");
    std::string text = UploadFirmwareText({{0x1000, "A", {{0x0, 0x10}}}}, 32, 1);
    ASSERT_TRUE(UploadWriteFile(fw, text + "S1070104050607089A\n"));
    CliRun r = RunCli({"upload", "--port", "/nonexistent/tty", fw});
    EXPECT_EQ(r.status, 4);
    const std::string line = std::to_string(std::count(text.begin(), text.end(), '\n') + 1);
    EXPECT_EQ(r.err.rfind(fw + ":" + line + ": Error while checking the firmware file:\n\n", 0), 0u)
        << r.err;
    ASSERT_TRUE(UploadWriteFile(fw, UploadFirmwareText({{0x1000, "Empty", {}}}, 32, 1)));
    r = RunCli({"upload", "--port", "/nonexistent/tty", fw});
    EXPECT_EQ(r.err, "The firmware file holds no data. Upload anyway?\n\n"
                     "mirdel-cli: no terminal to ask on; give --yes to upload anyway\n");
    EXPECT_EQ(RunCli({"upload", "--yes", "--port", "x", "--backup", "/nonexistent", fw}).status, 74);
    r = RunCli({"upload", "--yes", "--port", "/nonexistent/tty", fw});
    EXPECT_EQ(r.err,
              "Cannot open serial port:\n\n/nonexistent/tty: No such file or directory "
              "<ERROR_FILE_NOT_FOUND>\n\nThe device is not there: check the cable and the USB "
              "serial adapter, and choose\na port that exists ('mirdel-cli ports' lists them).\n");
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
        CliRun r = RunCli(args);
        EXPECT_EQ(r.status, 64) << args.back();
        EXPECT_NE(r.err.find("Usage: mirdel-cli"), std::string::npos) << r.err;
    }
    CliRun r = RunCli({"--help"});
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
