// mirdel-cli upload: the upload dialog's run without a window. The three
// progress groups are drawn as bars on a terminal and as plain lines
// otherwise; Ctrl-C is the Stop button.
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "app/core/startup.h"
#include "cli/cli.h"
#include "firmware/mdl.h"
#include "platform/console.h"
#include "platform/ports.h"
#include "protocol/mdl_pc.h"
#include "support/log.h"
#include "upload_dialog/core/run.h"
#include "upload_dialog/core/scan.h"

const char CliUploadHelp[] =
    "\n"
    "Checks the S-record file FILE as the upload dialog does, opens the serial\n"
    "port NAME at 115200 baud and uploads the file to the instrument, follows\n"
    "its flash writing and, unless --no-verify is given, reads every segment\n"
    "back and compares it with the file. Progress is shown for the three\n"
    "phases (Uploading, Writing to flash memory, Verifying): as bars on a\n"
    "terminal, as plain lines (every 10 percent) when standard output is not\n"
    "one. The outcome is the upload dialog's message: on standard output after\n"
    "a success, on standard error otherwise.\n"
    "\n"
    "Options:\n"
    "  --port NAME   the serial port: a name as 'mirdel-cli ports' lists it\n"
    "                (ttyUSB0 opens /dev/ttyUSB0) or a device path\n"
    "  --no-verify   upload without reading the flash back\n"
    "  --yes         upload without asking when the firmware reaches beyond\n"
    "                the highest flash address 0xEFFFF or holds no data;\n"
    "                without a terminal to ask on, such a firmware is refused\n"
    "                unless --yes is given\n"
    "  -l LOGFILE    append the program's log to LOGFILE\n"
    "  --debug       show the serial link's console messages on standard error\n"
    "                (the instrument's acknowledgement texts, line errors)\n"
    "  -v            accepted, no effect\n"
    "\n"
    "Ctrl-C asks the run to stop, as the dialog's Stop button does: it takes\n"
    "effect at the next progress step; a stop during flash writing waits for\n"
    "the writing to end. A second Ctrl-C ends the program at once.\n"
    "\n"
    "Environment (for tests; the defaults are those of the upload dialog):\n"
    "  MIRDEL_PORT_TIMEOUT_MS   the port's default time-out (3000)\n"
    "  MIRDEL_BUSY_PAUSE_MS     the pause after a busy instrument's answer (2000)\n"
    "  MIRDEL_FLASH_TIMEOUT_MS  the wait for a flash-writing indication (30000)\n";

const char CliPortsHelp[] =
    "\n"
    "Lists the serial ports the upload dialog's port box offers: ttyS0 and\n"
    "ttyS1 always (marked \"not present\" when the system has no such port),\n"
    "then the other serial ports that have hardware behind them. Each line\n"
    "gives the name, the driver and, for a USB adapter, its vendor and product\n"
    "ids, names and serial number; an indented line below gives the link that\n"
    "keeps naming the same adapter whatever name it gets when plugged in\n"
    "(/dev/serial/by-id/...): --port takes either. Exit status 2 when the\n"
    "system's list cannot be read.\n";

namespace
{

// The view of the run on a terminal or a plain output stream. All calls
// come from the worker thread; the main thread writes only after the
// worker has ended, or once to stderr when a stop was asked for (the
// groups no longer change then).
class CliRunView : public RunView
{
  public:
    CliRunView(bool verify, bool terminal) : verify_(verify), terminal_(terminal) {}

    void SetGroupLabel(int group, const std::string &text, bool bold) override
    {
        Group &g = groups_[group];
        g.label = text;
        if (bold) { // a phase starts
            EndLine();
            open_ = group;
            g.printed = -1;
            if (!terminal_)
                std::printf("%s\n", text.c_str());
            Draw(group);
        } else {
            if (terminal_) {
                Draw(group);
                EndLine();
            } else {
                std::printf("%s\n", text.c_str());
                open_ = -1;
            }
        }
        std::fflush(stdout);
    }

    void SetGroupBar(int group, int position) override
    {
        Group &g = groups_[group];
        int before = BarCells(g.bar);
        g.bar = position;
        if (terminal_ && BarCells(g.bar) != before)
            Draw(group);
    }

    int ShownPercent(int group) override { return groups_[group].percent; }

    void SetShownPercent(int group, int percent) override
    {
        Group &g = groups_[group];
        g.percent = percent;
        if (terminal_) {
            Draw(group);
        } else if (percent / 10 != g.printed / 10 && percent >= 10) {
            g.printed = percent;
            std::printf("%s %d%%\n", RunGroupLabels[group], percent);
            std::fflush(stdout);
        }
    }

    bool VerifyChecked() override { return verify_; }

    void RunDone(UploadResult result) override
    {
        result_ = result;
        EndLine();
        std::fflush(stdout);
    }

    UploadResult Result() const { return result_; }

  private:
    static constexpr int kCells = 30;
    struct Group {
        std::string label;
        int bar = 0;
        int percent = 0;
        int printed = -1; // plain output: the last percentage written
    };

    static int BarCells(int position)
    {
        if (position < 0)
            position = 0;
        if (position > RUN_BAR_MAX)
            position = RUN_BAR_MAX;
        return position * kCells / RUN_BAR_MAX;
    }

    void Draw(int group)
    {
        if (!terminal_)
            return;
        const Group &g = groups_[group];
        char cells[kCells + 1];
        int n = BarCells(g.bar);
        for (int i = 0; i < kCells; i++)
            cells[i] = i < n ? '#' : '.';
        cells[kCells] = '\0';
        std::printf("\r%-34s [%s] %3d%%", g.label.c_str(), cells, g.percent);
        std::fflush(stdout);
    }

    void EndLine()
    {
        if (terminal_ && open_ >= 0)
            std::printf("\n");
        open_ = -1;
    }

    bool verify_;
    bool terminal_;
    int open_ = -1; // the group whose line is being drawn
    Group groups_[RUN_GROUP_COUNT];
    UploadResult result_ = UPLOAD_FAILED;
};

std::atomic<UploadRun *> cli_active_run{nullptr};

void cli_on_stop(void)
{
    UploadRun *run = cli_active_run.load();
    if (run)
        run->RequestStop();
}

// A positive whole number of milliseconds from the environment, or fallback.
long cli_env_ms(const char *name, long fallback)
{
    const char *text = std::getenv(name);
    if (!text || !*text)
        return fallback;
    char *end = nullptr;
    long value = std::strtol(text, &end, 10);
    return (*end == '\0' && value > 0 && value <= 86400000L) ? value : fallback;
}

bool cli_ask_yes(const char *question)
{
    std::fprintf(stderr, "%s [y/N] ", question);
    std::fflush(stderr);
    char answer[32];
    if (!std::fgets(answer, sizeof answer, stdin))
        return false;
    size_t n = std::strcspn(answer, "\r\n");
    answer[n] = '\0';
    for (char *p = answer; *p; p++)
        *p = (char)std::tolower((unsigned char)*p);
    return std::strcmp(answer, "y") == 0 || std::strcmp(answer, "yes") == 0;
}

// A question the dialog asks before a run (No by default): yes with --yes,
// asked on a terminal, refused without one.
bool cli_confirm(const char *question, bool yes)
{
    if (yes)
        return true;
    if (PlatIsTerminal(stdin))
        return cli_ask_yes(question);
    std::fprintf(stderr, "%s\n\nmirdel-cli: no terminal to ask on; give --yes to upload anyway\n",
                 question);
    return false;
}

int cli_exit_status(UploadResult result)
{
    switch (result) {
    case UPLOAD_OK:
        return CLI_EXIT_OK;
    case UPLOAD_STOPPED:
    case VERIFY_STOPPED:
        return CLI_EXIT_STOPPED;
    case UPLOAD_TIMEOUT:
        return CLI_EXIT_TIMEOUT;
    default:
        return CLI_EXIT_FAILED;
    }
}

void cli_drop_log_line(const char *, bool) {}

// --debug: the console channel on stderr. A message that continues the one
// before it starts with a line feed; one line each reads better here.
void cli_show_log_line(const char *line, bool)
{
    std::fprintf(stderr, "%s\n", line[0] == '\n' ? line + 1 : line);
}

} // namespace

int CliUpload(int argc, char **argv)
{
    const char *path = nullptr;
    const char *port = nullptr;
    const char *logFile = nullptr;
    bool verify = true, yes = false, debug = false, options = true;
    for (int i = 0; i < argc; i++) {
        const char *a = argv[i];
        if (options && std::strcmp(a, "--") == 0) {
            options = false;
        } else if (options && (std::strcmp(a, "--port") == 0 || std::strcmp(a, "-l") == 0)) {
            if (i + 1 >= argc)
                return CliUsageError("upload", "option '%s' needs an argument", a);
            (a[1] == 'l' ? logFile : port) = argv[++i];
        } else if (options && std::strncmp(a, "--port=", 7) == 0) {
            port = a + 7;
        } else if (options && std::strcmp(a, "--no-verify") == 0) {
            verify = false;
        } else if (options && std::strcmp(a, "--yes") == 0) {
            yes = true;
        } else if (options && std::strcmp(a, "--debug") == 0) {
            debug = true;
        } else if (options && std::strcmp(a, "-v") == 0) {
            // accepted, as by the desktop program
        } else if (options && a[0] == '-' && a[1] != '\0') {
            return CliUsageError("upload", "unknown option '%s'", a);
        } else if (path) {
            return CliUsageError("upload", "more than one file given");
        } else {
            path = a;
        }
    }
    if (!port || !*port)
        return CliUsageError("upload", "no port given (--port NAME)");
    if (!path)
        return CliUsageError("upload", "no firmware file given");

    LogCallback console = debug ? cli_show_log_line : cli_drop_log_line;
    if (debug && !logFile)
        LogOpen(nullptr, console, nullptr, false);
    if (logFile) {
        if (!LogOpen(logFile, console, "mirdel-cli: ", true)) {
            std::fprintf(stderr, "mirdel-cli: LogOpen() failed: cannot open '%s'\n", logFile);
            return CLI_EXIT_OUTPUT;
        }
        Log("-------------------- Start: --------------------");
    }
    RunSetPortTimeout((int32_t)cli_env_ms("MIRDEL_PORT_TIMEOUT_MS", RUN_PORT_TIMEOUT));
    MdlSetTimings((uint32_t)cli_env_ms("MIRDEL_BUSY_PAUSE_MS", 2000),
                  (int32_t)cli_env_ms("MIRDEL_FLASH_TIMEOUT_MS", 30000));

    int status = CLI_EXIT_OK;
    Firmware firmware{};
    ScanFileInfo info;
    std::string message;
    SioPort *sio = nullptr;
    if (!ScanFirmwareFile(path, &firmware, &info, &message)) {
        std::fprintf(stderr, "%s\n", ScanReportError(message).c_str());
        status = CLI_EXIT_FILE;
    } else if (!RunCheckOverlap(firmware, message)) {
        std::fprintf(stderr, "%s", message.c_str());
        status = CLI_EXIT_FILE;
    } else if ((RunExceedsFlash(firmware) && !cli_confirm(RUN_EXCEEDS_QUESTION, yes)) ||
               (RunHoldsNoData(firmware) && !cli_confirm(RUN_NO_DATA_QUESTION, yes))) {
        status = CLI_EXIT_FILE;
    } else if (!(sio = RunOpenPort(port, message))) {
        std::fprintf(stderr, RUN_OPEN_FAILED_FORMAT "\n", message.c_str());
        status = CLI_EXIT_PORT;
    } else {
        CliRunView view(verify, PlatIsTerminal(stdout));
        UploadRun run(firmware, path, view);
        cli_active_run.store(&run);
        PlatInstallStopHandler(cli_on_stop); // a second Ctrl-C ends the program

        if (!run.Start(sio)) {
            std::fprintf(stderr, "mirdel-cli: the upload could not be started\n");
            status = CLI_EXIT_FAILED;
        } else {
            bool told = false;
            while (run.WorkerRunning()) {
                if (run.StopRequested() && !told) {
                    std::fprintf(stderr, "\nStop requested: the run ends at its next step.\n");
                    told = true;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            run.Join();
            UploadResult result = view.Result();
            RunOutcome outcome = RunOutcomeText(result, run.errorCode, run.errorText, run.deviceLost);
            std::fprintf(result == UPLOAD_OK ? stdout : stderr, "%s\n", outcome.text.c_str());
            RunLogOutcome(result, run.errorText);
            status = cli_exit_status(result);
        }
        PlatRemoveStopHandler();
        cli_active_run.store(nullptr);
    }
    MdlFirmwareRelease(&firmware);
    if (logFile)
        StartupTrace(STARTUP_TRACE_END);
    return CliFinishOutput(status);
}

int CliPorts(int argc, char **argv)
{
    if (argc > 0)
        return CliUsageError("ports", "unexpected argument '%s'", argv[0]);
    StartupState state;
    if (!StartupLoadPortList(state)) {
        std::fprintf(stderr, "%s\n", state.errorText.c_str());
        return CLI_EXIT_FAILED;
    }
    for (const std::string &name : state.ports) {
        PlatPortDetails details;
        PlatDescribePort(name, details);
        std::string about = StartupPortDescription(details);
        std::printf("%-10s %s\n", name.c_str(), about.empty() ? "not present" : about.c_str());
        if (!details.stablePath.empty())
            std::printf("%-10s %s\n", "", details.stablePath.c_str());
    }
    return CliFinishOutput(CLI_EXIT_OK);
}
