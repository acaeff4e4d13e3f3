#include "core/startup.h"

#include "core/cmdline.h"
#include "core/getopt.h"
#include "core/run.h"
#include "core/textfmt.h"
#include "platform/ports.h"
#include "platform/syserr.h"
#include "support/json.h"
#include "support/winerr.h"
#include "support/log.h"
#include "support/version.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

// The program name, the option arguments and the firmware file argument
// point into these for the rest of the process.
static CmdLine startup_cmdline;
static char startup_program_name[CMDLINE_SIZE];

// Console-channel lines are not wanted: the log file is the only record.
static void startup_console_nothing(const char *, bool) {}

static StartupResult startup_refuse(int code, StartupState &out)
{
    char text[CMDLINE_SIZE + 96];
    if (code == CMDLINE_TOO_LONG)
        snprintf(text, sizeof text, "%s: command line refused: more than %d characters",
                 out.programName, CMDLINE_SIZE - 1);
    else
        snprintf(text, sizeof text, "%s: command line refused: more than %d words", out.programName,
                 CMDLINE_MAX_WORDS);
    fprintf(stderr, "%s\n", text);
    out.errorText = text;
    return STARTUP_REFUSED;
}

static StartupResult startup_run(int cmdLineResult, StartupState &out)
{
    CmdLine &cl = startup_cmdline;
    out = StartupState();
    CmdLineProgramName(cl.argc > 0 ? cl.argv[0] : "", startup_program_name,
                       sizeof startup_program_name);
    out.programName = startup_program_name;
    if (cmdLineResult != CMDLINE_OK)
        return startup_refuse(cmdLineResult, out);

    // The station's long options are taken out where options stand (before
    // the first other word and "--"); the rest goes to the option parser.
    std::vector<char *> words;
    bool options = true;
    for (int i = 0; i < cl.argc; i++) {
        const char *w = cl.argv[i];
        bool valued = std::strcmp(w, "--port") == 0 || std::strcmp(w, "--results") == 0;
        if (i > 0 && options && std::strcmp(w, "--station") == 0) {
            out.station = true;
        } else if (i > 0 && options && valued && i + 1 < cl.argc) {
            (w[2] == 'p' ? out.stationPorts.emplace_back() : out.resultsFile) = cl.argv[++i];
        } else {
            if (i > 0 && (w[0] != '-' || std::strcmp(w, "--") == 0))
                options = false;
            // -l's file name is the next word when nothing follows it.
            else if (i > 0 && w[1] != '-' && std::strchr(w, 'l') && std::strchr(w, 'l')[1] == '\0' &&
                     i + 1 < cl.argc)
                words.push_back(cl.argv[i++]);
            words.push_back(cl.argv[i]);
        }
    }
    mgetopt::getopt_reset();
    int c;
    int count = (int)words.size();
    while ((c = mgetopt::getopt(count, words.data(), "vl:")) != -1) {
        // -v is accepted and has no effect; '?' has been reported already.
        if (c == 'l')
            out.logFileName = mgetopt::optarg;
    }
    if (mgetopt::optind < count)
        out.firmwareArg = words[mgetopt::optind];

    char prefix[CMDLINE_SIZE + 2];
    snprintf(prefix, sizeof prefix, "%s: ", startup_program_name);
    if (!LogOpen(out.logFileName, startup_console_nothing, prefix, true)) {
        fprintf(stderr, "%s: LogOpen() failed\n", startup_program_name);
        // What stderr shows, for a desktop program that has none in view.
        out.errorText =
            TextFormat("%s\n%s: LogOpen() failed", LogOpenFailure(), startup_program_name);
        return STARTUP_END;
    }
    Log("-------------------- Start: --------------------");

    if (!StartupLoadPortList(out))
        return STARTUP_ERROR;
    return STARTUP_OK;
}

StartupResult StartupInit(int argc, char **argv, StartupState &out)
{
    int r = CmdLineFromArgv(startup_cmdline, argc, argv);
    return startup_run(r, out);
}

StartupResult StartupInitFromText(const char *commandLine, StartupState &out)
{
    int r = CmdLineFromText(startup_cmdline, commandLine);
    return startup_run(r, out);
}

bool StartupLoadPortList(StartupState &out)
{
    const char *const *fixed = PlatFixedPortNames();
    out.ports.clear();
    out.ports.push_back(fixed[0]);
    out.ports.push_back(fixed[1]);

    std::vector<std::string> found;
    const char *failedCall = nullptr;
    if (!PlatEnumSerialPorts(found, &failedCall)) {
        unsigned long code = PlatGetLastError();
        // A system message and its name need more room than St offers.
        char text[512];
        snprintf(text, sizeof text, "%s():\n\n%s",
                 failedCall != nullptr ? failedCall : "PlatEnumSerialPorts", WinErrStr(code));
        out.errorText = text;
        return false;
    }
    for (const std::string &name : found) {
        if (TextCompareNoCase(name, fixed[0]) != 0 && TextCompareNoCase(name, fixed[1]) != 0)
            out.ports.push_back(name);
    }
    return true;
}

bool StartupReloadPorts(const std::vector<std::string> &typed, std::vector<std::string> &ports)
{
    StartupState state;
    if (!StartupLoadPortList(state))
        return false;
    for (const std::string &name : typed)
        RunAddPortName(state.ports, name);
    ports = state.ports;
    return true;
}

static std::string startup_port_description(const PlatPortDetails &d)
{
    if (!d.present)
        return "";
    std::string text = d.driver.empty() ? "serial port" : d.driver;
    if (!d.usbVendorId.empty()) {
        text += ", USB " + d.usbVendorId + ":" + d.usbProductId;
        // Many adapters repeat their maker in the product name.
        if (!d.manufacturer.empty() &&
            d.product.compare(0, d.manufacturer.size(), d.manufacturer) != 0)
            text += " " + d.manufacturer;
        if (!d.product.empty())
            text += " " + d.product;
        if (!d.serialNumber.empty())
            text += ", serial " + d.serialNumber;
    }
    return text;
}

static bool startup_latency_high(const PlatPortDetails &d)
{
    return d.latencyTimerMs > 1;
}

StartupPortAbout StartupDescribePort(const std::string &name)
{
    PlatPortDetails details;
    PlatDescribePort(name, details);
    std::string latency;
    if (details.present && details.latencyTimerMs >= 0) {
        latency = TextFormat(STARTUP_LATENCY_FORMAT, details.latencyTimerMs);
        if (startup_latency_high(details))
            latency += "; " STARTUP_LATENCY_ADVICE;
    }
    return {startup_port_description(details), details.stablePath, latency};
}

std::string StartupPortJson(const std::string &name)
{
    PlatPortDetails d;
    PlatDescribePort(name, d);
    JsonObject o;
    o.Add("port", name).Add("present", d.present);
    auto text = [&o](const char *key, const std::string &value) {
        if (value.empty())
            o.AddNull(key);
        else
            o.Add(key, value);
    };
    text("description", startup_port_description(d));
    text("driver", d.driver);
    text("usb_vendor_id", d.usbVendorId);
    text("usb_product_id", d.usbProductId);
    text("manufacturer", d.manufacturer);
    text("product", d.product);
    text("serial_number", d.serialNumber);
    text("stable_link", d.stablePath);
    if (d.present && d.latencyTimerMs >= 0)
        o.Add("latency_timer_ms", d.latencyTimerMs);
    else
        o.AddNull("latency_timer_ms");
    text("latency_advice", d.present && startup_latency_high(d) ? STARTUP_LATENCY_ADVICE : "");
    return o.Text();
}

std::vector<StartupPortItem> StartupPortBoxItems(const std::vector<std::string> &ports)
{
    std::vector<std::string> names = ports;
    std::stable_sort(names.begin(), names.end(), [](const std::string &a, const std::string &b) {
        return TextCompareNoCase(a, b) < 0;
    });
    std::vector<StartupPortItem> items;
    for (const std::string &name : names) {
        // What the system knows of a port, to tell two adapters apart.
        StartupPortAbout about = StartupDescribePort(name);
        std::string tip = about.description;
        for (const std::string *line : {&about.stableLink, &about.latency})
            if (!line->empty())
                tip += (tip.empty() ? "" : "\n") + *line;
        items.push_back({name, tip});
    }
    return items;
}

size_t StartupPortBoxSelect(const std::vector<StartupPortItem> &items, const std::string &lastPort)
{
    for (size_t i = 0; i < items.size(); i++)
        if (TextCompareNoCase(items[i].name, lastPort) == 0)
            return i;
    return 0;
}

void StartupTrace(const char *text)
{
    Log("%s(): %s", "CMirdelApp::InitInstance", text != nullptr ? text : "");
}

StartupGnuOption StartupFindGnuOption(int argc, char **argv)
{
    for (int i = 1; i < argc; i++) {
        const char *w = argv[i];
        if (std::strcmp(w, "--help") == 0)
            return STARTUP_GNU_HELP;
        if (std::strcmp(w, "--version") == 0)
            return STARTUP_GNU_VERSION;
        if (w[0] != '-' || w[1] == '\0' || std::strcmp(w, "--") == 0)
            break;
        // -l takes the rest of its word or, when nothing follows it there,
        // the next word: that word is a file name, whatever it looks like.
        const char *l = std::strchr(w + 1, 'l');
        if (l != nullptr && l[1] == '\0')
            i++;
    }
    return STARTUP_GNU_NONE;
}

// The Windows program has no toolkit options and no display to miss.
#ifdef _WIN32
#define STARTUP_HELP_TOOLKIT ""
#define STARTUP_HELP_NO_DISPLAY ""
#define STARTUP_HELP_ELSEWHERE "mirdel-cli.exe does the same work from a console window; the\n"
#else
#define STARTUP_HELP_TOOLKIT                                                                       \
    "Qt's own options (-platform NAME, -style NAME ...) are taken as well.\n"                      \
    "\n"
#define STARTUP_HELP_NO_DISPLAY "  3   there is no graphical session (no X11 or Wayland display)\n"
#define STARTUP_HELP_ELSEWHERE                                                                     \
    "Without a display, mirdel-cli does the same work from a terminal; the\n"
#endif

static const char startup_help[] =
    "Usage: mirdel [-v] [-l LOGFILE] [FIRMWARE-FILE]\n"
    "       mirdel --station [--port NAME]... [--results FILE] [FIRMWARE-FILE]\n"
    "Uploads Motorola S-record firmware to a power analyzer over a serial line:\n"
    "the desktop program. Its main window chooses the firmware file (or takes\n"
    "FIRMWARE-FILE), shows what the file holds, and uploads it at 115200 baud\n"
    "with every record acknowledged, the flash writing followed and, when\n"
    "Verify is checked, every segment read back and compared.\n"
    "\n"
    "Options:\n"
    "  -l LOGFILE      append a log of the run to LOGFILE (nothing is logged\n"
    "                  without it)\n"
    "  -v              accepted, no effect\n"
    "  --station       open the station window, which uploads to several\n"
    "                  instruments at once, instead of the main window\n"
    "  --port NAME     with --station: a port to check (may be repeated)\n"
    "  --results FILE  with --station: append each port's result line to FILE\n"
    "                  (by default mirdel-results.jsonl in the documents folder)\n"
    "  --help          show this text and exit\n"
    "  --version       show the version and exit\n"
    "  FIRMWARE-FILE   the file the Upload button takes instead of asking;\n"
    "                  options come before it, and -- before a name that\n"
    "                  begins with a hyphen\n"
    "\n" STARTUP_HELP_TOOLKIT "Exit status:\n"
    "  0   the main window was closed\n"
    "  1   the log file cannot be opened, or the serial ports cannot be listed\n"
    "  2   the command line is longer than 1023 characters or 20 words\n" STARTUP_HELP_NO_DISPLAY
    "\n" STARTUP_HELP_ELSEWHERE
    "manual (Help button, or Mirdel.pdf beside the program) tells more.\n";

int StartupPrintGnuOption(StartupGnuOption option, FILE *out)
{
    bool written;
    if (option == STARTUP_GNU_VERSION) {
        written = VersionPrint(out, "mirdel");
    } else {
        std::fputs(startup_help, out);
        written = std::fflush(out) == 0 && !std::ferror(out);
    }
    return written ? 0 : 1;
}
