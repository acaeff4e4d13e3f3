// mirdel-cli verify, read, several ports at once and --json, run as
// programs against mirdel-sim instances.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <pty.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "bench/upload_firmware.h"
#include "core/run.h"
#include "core/scan.h"
#include "firmware/mdl.h"
#include "tests/common/cli_run.h"
#include "tests/common/sim_process.h"

namespace
{

const std::vector<UploadImageLayout> kLayout = {{0x1000, "Boot", {{0x0, 1024}}},
                                              {0x20000, "Main", {{0x0, 2048}, {0x1000, 256}}}};

std::string TempPath(const char *name)
{
    return "/tmp/mirdel-clijobs-" + std::to_string(getpid()) + "-" + name;
}

std::string ReadAll(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The firmware file of every test here, and its model.
class CliJobs : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(UploadWriteFile(fw, UploadFirmwareText(kLayout, 32, 7)));
        ScanFileInfo info;
        std::string message;
        ASSERT_EQ(ScanFirmwareFile(fw.c_str(), &firmware, &info, &message), 1) << message;
    }
    void TearDown() override
    {
        MdlFirmwareRelease(&firmware);
        std::remove(fw.c_str());
    }

    // The flash byte at address after the file was written: 0xFF elsewhere.
    uint8_t FlashByte(uint32_t address) const
    {
        for (int32_t i = 0; i < firmware.imageCount; i++)
            for (int32_t j = 0; j < firmware.images[i].segmentCount; j++) {
                const FirmwareSegment &s = firmware.images[i].segments[j];
                uint32_t at = MdlFlashAddress(&firmware.images[i], &s);
                if (address >= at && address - at < s.size)
                    return s.data[address - at];
            }
        return 0xFF;
    }

    const std::string fw = TempPath("fw.srec");
    Firmware firmware{};
};

} // namespace

TEST_F(CliJobs, ReadWritesTheFlashBytes)
{
    SimProcess sim({"--flash", fw});
    // From inside the second image's first segment into unwritten flash.
    const uint32_t address = 0x20000 + 2048 - 40;
    const uint32_t length = 100;
    std::string bytes;
    for (uint32_t i = 0; i < length; i++)
        bytes += (char)FlashByte(address + i);
    std::string text = "0x207D8 Read-back of 100 bytes";
    std::string records =
        UploadRecord('0', 0, 2, reinterpret_cast<const uint8_t *>(text.data()), text.size()) + "\n";
    for (uint32_t at = 0; at < length; at += 32) {
        uint32_t n = std::min<uint32_t>(32, length - at);
        records += UploadRecord('3', address + at, 4,
                                reinterpret_cast<const uint8_t *>(bytes.data()) + at, n) + "\n";
    }
    records += UploadRecord('7', 0, 4, nullptr, 0) + "\n";

    const std::string out = TempPath("read.out");
    struct Case {
        bool binary, toFile;
    };
    for (Case c : {Case{false, true}, Case{true, true}, Case{false, false}, Case{true, false}}) {
        std::vector<std::string> args = {"read", "--port", sim.Path(), "--address",
                                         std::to_string(address), "--length",
                                         std::to_string(length)};
        if (c.binary)
            args.push_back("--binary");
        if (c.toFile)
            args.insert(args.end(), {"-o", out});
        std::remove(out.c_str());
        CliRun r = RunCliProgram(args);
        SCOPED_TRACE(std::to_string(c.binary) + std::to_string(c.toFile));
        EXPECT_EQ(r.status, 0) << r.err;
        const std::string &expected = c.binary ? bytes : records;
        EXPECT_EQ(c.toFile ? ReadAll(out) : r.out, expected);
        EXPECT_NE((c.toFile ? r.out : r.err).find(" Reading 100%\n Reading ... done.\nRead-back successful.\n"),
                  std::string::npos);
    }

    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%X", address);
    CliRun r = RunCliProgram({"read", "--port", sim.Path(), "--address", hex, "--length", "100",
                              "--binary"});
    EXPECT_EQ(r.out, bytes);
    std::vector<std::string> rx = sim.Received();
    EXPECT_EQ(std::count(rx.begin(), rx.end(), "MIRDEL DONE"), 0);

    // With --json the result names the range and the file written.
    r = RunCliProgram({"read", "--json", "--port", sim.Path(), "--address", hex, "--length", "100",
                       "--binary", "-o", out});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadAll(out), bytes);
    std::string last = r.out.substr(r.out.rfind('\n', r.out.size() - 2) + 1);
    nlohmann::json j = nlohmann::json::parse(last, nullptr, false);
    ASSERT_FALSE(j.is_discarded()) << r.out;
    EXPECT_EQ(j["command"], "read");
    EXPECT_EQ(j["result"], "UPLOAD_OK");
    EXPECT_EQ(j["address"], address);
    EXPECT_EQ(j["length"], length);
    EXPECT_EQ(j["binary"], true);
    EXPECT_EQ(j["file_path"], out);
    EXPECT_EQ(j["file_size"], length);
    EXPECT_EQ(j["total_size"], 0);
    EXPECT_TRUE(j["seconds"]["read"].is_number());
    std::remove(out.c_str());

    for (std::vector<std::string> args : std::vector<std::vector<std::string>>{
             {"read", "--port", "x", "--length", "4"},
             {"read", "--port", "x", "--address", "0", "--length", "0"},
             {"read", "--port", "x", "--address", "0x100000000", "--length", "4"},
             {"read", "--port", "x", "--address", "0", "--length", "4", "--json"},
             {"read", "--port", "x", "--port", "y", "--address", "0", "--length", "4"},
             {"verify", "--port", "x"}}) {
        CliRun u = RunCliProgram(args);
        EXPECT_EQ(u.status, 64) << args[3];
        EXPECT_NE(u.err.find("Usage: mirdel-cli " + args[0]), std::string::npos) << u.err;
    }

    // The read-back file uploads back, verified.
    ASSERT_EQ(RunCliProgram({"read", "--port", sim.Path(), "--address", std::to_string(address),
                             "--length", std::to_string(length), "-o", out})
                  .status,
              0);
    EXPECT_EQ(RunCliProgram({"upload", "--port", sim.Path(), out}).status, 0);

    // A read that fails leaves the file there as it was, and nothing beside it.
    for (const char *fault : {"handshake:1:refuse:Update locked", "readback:3:cut"}) {
        SimProcess failing({"--flash", fw, "--fault", fault});
        std::ofstream(out) << "yesterday";
        EXPECT_EQ(RunCliProgram({"read", "--port", failing.Path(), "--address", hex, "--length",
                                 "100", "-o", out}).status, 2) << fault;
        EXPECT_EQ(ReadAll(out), "yesterday");
        EXPECT_FALSE(std::ifstream(out + ".part").good());
    }
    std::remove(out.c_str());
}

// Several simulators at once, as plain lines and as JSON lines.
TEST_F(CliJobs, SeveralPortsAtOnce)
{
    // What each port comes to: the simulator's options and the run's end.
    struct Port {
        std::vector<std::string> sim;
        std::string outcome, result;
        int status, errorCode;
        std::string errorText;
    };
    const std::string missing = "/nonexistent/mirdel-tty";
    const Port ok = {{}, "Upload successful.", "UPLOAD_OK", 0, -1, ""};
    const Port refused = {{"--fault", "job:1:refuse:Not today"},
                          "Upload failed. The instrument returned the following error:\n\nNot today",
                          "UPLOAD_FAILED", 2, 1, "Not today"};
    const Port slow = {{"--line-delay", "20"}, "Upload stopped by user.", "UPLOAD_STOPPED", 1, -1, ""};
    const std::string noPortText = missing + ": No such file or directory <ERROR_FILE_NOT_FOUND>"
                                             "\n\n" RUN_PORT_MISSING_ADVICE;
    const Port noPort = {{"none"}, "Cannot open serial port:\n\n" + noPortText, "PORT_FAILED", 5,
                         -1, noPortText};
    // On stderr, not a terminal: the advice wrapped to 80 columns.
    const std::string noPortShown = "Cannot open serial port:\n\n" + missing +
                                    ": No such file or directory <ERROR_FILE_NOT_FOUND>\n\n"
                                    "The device is not there: check the cable and the USB serial "
                                    "adapter, and choose\na port that exists ('mirdel-cli ports' "
                                    "lists them).";
    struct Case {
        const char *name;
        std::vector<Port> ports;
        bool json;
        int status;
        bool atStart = false; // a stop at once: the end of standard input (--stop-input)
    };
    // How each port ends in the other cases: the run scenarios.
    const std::vector<Case> cases = {
        {"one refuses", {ok, refused, ok}, false, 2},
        {"json", {ok, refused, noPort}, true, 2},
        {"no port", {noPort, ok}, false, 5},
        {"stop at start-up", {slow, slow}, false, 1, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::unique_ptr<SimProcess>> sims;
        std::vector<std::string> paths, args = {"upload"};
        for (const Port &p : c.ports) {
            sims.push_back(p.sim == noPort.sim ? nullptr : std::make_unique<SimProcess>(p.sim));
            paths.push_back(sims.back() ? sims.back()->Path() : missing);
            args.insert(args.end(), {"--port", paths.back()});
        }
        if (c.json)
            args.push_back("--json");
        if (c.atStart)
            args.push_back("--stop-input");
        args.push_back(fw);
        CliRun r = RunCliProgram(args);
        EXPECT_EQ(r.status, c.status) << r.err;

        for (size_t i = 0; i < c.ports.size(); i++) {
            const Port &p = c.ports[i];
            if (sims[i]) {
                std::vector<std::string> rx = sims[i]->Received();
                EXPECT_EQ(std::count(rx.begin(), rx.end(), "MIRDEL DONE"), p.status == 0 ? 1 : 0);
            }
            if (c.json)
                continue;
            std::regex row(paths[i] + "  +[0-9]+:[0-9][0-9]  +" + p.outcome.substr(0, 13));
            EXPECT_TRUE(std::regex_search(r.out, row)) << paths[i] << "\n" << r.out;
            const std::string &shown = p.sim == noPort.sim ? noPortShown : p.outcome;
            EXPECT_EQ(r.err.find("\n" + paths[i] + ":\n" + shown + "\n") != std::string::npos,
                      p.status != 0)
                << r.err;
        }
        if (!c.json)
            continue;

        // Every line is a JSON object; each port ends with one result.
        std::string sum;
        FILE *pipe = popen(("sha256sum '" + fw + "'").c_str(), "r");
        ASSERT_NE(pipe, nullptr) << "sha256sum is needed";
        char buf[128] = {};
        sum = fgets(buf, sizeof buf, pipe) ? std::string(buf).substr(0, 64) : "";
        pclose(pipe);
        std::istringstream lines(r.out);
        std::string line;
        size_t results = 0;
        while (std::getline(lines, line)) {
            nlohmann::json j = nlohmann::json::parse(line, nullptr, false);
            ASSERT_FALSE(j.is_discarded()) << line;
            ASSERT_TRUE(j.is_object() && j.contains("event") && j.contains("port")) << line;
            if (j["event"] != "result")
                continue;
            results++;
            size_t i = std::find(paths.begin(), paths.end(), j["port"]) - paths.begin();
            ASSERT_LT(i, paths.size()) << line;
            const Port &p = c.ports[i];
            EXPECT_EQ(j["outcome"], p.outcome);
            EXPECT_EQ(j["result"], p.result);
            EXPECT_EQ(j["exit_status"], p.status);
            EXPECT_EQ(j["error_code"], p.errorCode);
            EXPECT_EQ(j["error_text"], p.errorText);
            EXPECT_EQ(j["file_path"], fw);
            EXPECT_EQ(j["file_size"], ReadAll(fw).size());
            EXPECT_EQ(j["file_sha256"], sum); // as sha256sum sees it
            EXPECT_EQ(j["total_size"], firmware.totalSize);
            ASSERT_EQ(j["images"].size(), (size_t)firmware.imageCount);
            for (int32_t k = 0; k < firmware.imageCount; k++) {
                const FirmwareImage &image = firmware.images[k];
                const auto &ji = j["images"][k];
                EXPECT_EQ(ji["name"], image.name);
                EXPECT_EQ(ji["base_address"], (uint32_t)image.baseAddress);
                ASSERT_EQ(ji["segments"].size(), (size_t)image.segmentCount);
                for (int32_t m = 0; m < image.segmentCount; m++) {
                    EXPECT_EQ(ji["segments"][m]["flash_address"],
                              MdlFlashAddress(&image, &image.segments[m]));
                    EXPECT_EQ(ji["segments"][m]["size"], image.segments[m].size);
                }
            }
            std::regex iso("[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3}Z");
            EXPECT_TRUE(std::regex_match(j["start_time"].get<std::string>(), iso));
            EXPECT_TRUE(std::regex_match(j["end_time"].get<std::string>(), iso));
            EXPECT_LE(j["start_time"], j["end_time"]);
            EXPECT_EQ(j["seconds"]["upload"].is_number(), p.status == 0);
            EXPECT_EQ(j["seconds"]["verify"].is_number(), p.status == 0);
        }
        EXPECT_EQ(results, paths.size());
    }
}

TEST_F(CliJobs, TermAndHangUpStopAsCtrlCDoes)
{
    for (int sig : {SIGTERM, SIGHUP}) {
        SimProcess sim({"--line-delay", "5"});
        CliRun r = RunCliProgram({"upload", "--port", sim.Path(), fw},
                                 [](const std::string &out) {
                                     return out.find(" Uploading 10%") != std::string::npos;
                                 },
                                 sig);
        EXPECT_EQ(r.status, 1) << sig << r.err;
        EXPECT_NE(r.err.find("Upload stopped by user.\n"), std::string::npos) << r.err;
    }
}

// On a terminal every progress line fits the width, and follows a resize.
TEST_F(CliJobs, ProgressLinesFitTheTerminal)
{
    for (int ports : {1, 2}) {
        SCOPED_TRACE(ports);
        std::vector<std::unique_ptr<SimProcess>> sims;
        std::vector<std::string> args = {MIRDEL_BIN_DIR "/cli/mirdel-cli", "upload"};
        for (int i = 0; i < ports; i++) {
            sims.push_back(std::make_unique<SimProcess>(std::vector<std::string>{"--line-delay", "3"}));
            args.insert(args.end(), {"--port", sims.back()->Path()});
        }
        args.push_back(fw);
        struct winsize wide = {24, 70, 0, 0}, narrow = {24, 40, 0, 0};
        int master, slave;
        ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, &wide), 0);
        pid_t pid = fork();
        if (pid == 0) {
            setsid();
            dup2(slave, 1);
            int null = open("/dev/null", O_RDWR);
            dup2(null, 0);
            dup2(null, 2);
            close(master);
            std::vector<char *> argv;
            for (std::string &a : args)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(slave);
        std::string out;
        char buf[4096];
        ssize_t n;
        bool resized = false;
        struct pollfd p = {master, POLLIN, 0};
        while (poll(&p, 1, 60000) > 0 && (n = read(master, buf, sizeof buf)) > 0) {
            out.append(buf, (size_t)n);
            if (!resized && out.find(" left ") != std::string::npos) {
                ioctl(master, TIOCSWINSZ, &narrow);
                resized = true;
            }
        }
        close(master);
        int status;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << out;

        // The drawn progress lines (with a percentage), control sequences
        // left out.
        std::vector<std::string> lines;
        std::string piece;
        for (size_t i = 0; i <= out.size(); i++) {
            if (i == out.size() || out[i] == '\r' || out[i] == '\n') {
                if (piece.find('%') != std::string::npos)
                    lines.push_back(piece);
                piece.clear();
            } else if (out[i] == '\x1b') {
                while (i < out.size() && !std::isalpha((unsigned char)out[i]))
                    i++;
            } else {
                piece += out[i];
            }
        }
        ASSERT_GE(lines.size(), 3u) << out;
        for (const std::string &l : lines)
            EXPECT_LT(l.size(), 70u) << l;
        // The last frames are drawn long after the resize.
        for (size_t i = lines.size() - 3; i < lines.size(); i++)
            EXPECT_LT(lines[i].size(), 40u) << lines[i];
    }
}

// The flash a new file overwrites is kept in a file that puts it back.
