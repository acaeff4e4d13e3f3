// Start-up of the program, free of any user interface: the command line,
// the options, the log and the list of serial ports. The desktop program
// and the command-line tool both begin here, then do their own part
// (windows, or the upload itself).
#pragma once

#include <cstdio>
#include <string>
#include <vector>

enum StartupResult {
    STARTUP_OK = 0,
    // LogOpen failed; "%s: LogOpen() failed\n" is on stderr, after the
    // reason. errorText holds both lines for a desktop program to show.
    STARTUP_END = 1,
    // A failure the caller shows (error box, or stderr): errorText.
    STARTUP_ERROR = 2,
    // The command line is longer than the program accepts. The message is
    // already on stderr (and in errorText); the caller exits with status
    // STARTUP_REFUSED_EXIT_STATUS.
    STARTUP_REFUSED = 3,
};

#define STARTUP_REFUSED_EXIT_STATUS 2

// The desktop program without a graphical session says so on stderr and
// ends with this status before its toolkit would abort.
#define STARTUP_NO_DISPLAY_TEXT                                                                    \
    "needs a graphical session (X11 or Wayland); the command-line tool is mirdel-cli"
#define STARTUP_NO_DISPLAY_EXIT_STATUS 3

// The texts point into storage that start-up keeps for the whole process.
struct StartupState {
    const char *programName = "";      // first word without directory and ".exe"
    const char *firmwareArg = nullptr; // first word after the options, or none
    const char *logFileName = nullptr; // argument of the last -l, or none
    std::vector<std::string> ports;    // serial port names offered to the user
    std::string errorText;             // for STARTUP_ERROR and STARTUP_REFUSED
    // --station [--port NAME]... [--results FILE]: the station window opens
    // at once with those ports chosen (and firmwareArg analysed).
    bool station = false;
    std::vector<std::string> stationPorts;
    std::string resultsFile; // empty: the default
};

// Start-up from the words the system has split (argv): command line,
// options, log, start banner and port list, in this order. Meant to run
// once per process; a further call starts over (the option parser is reset)
// and invalidates the texts of the previous state.
StartupResult StartupInit(int argc, char **argv, StartupState &out);

// The same from one command-line text that start-up splits itself.
StartupResult StartupInitFromText(const char *commandLine, StartupState &out);

// Fills out.ports: the two fixed names first, then the system's other
// serial ports in its order. On failure false with out.errorText set to
// "<call>():\n\n<system error text>".
bool StartupLoadPortList(StartupState &out);
// The port list again once the system's ports changed: StartupLoadPortList's,
// then the names the user typed in that it lacks. False when the list could
// not be had (ports left as they were).
bool StartupReloadPorts(const std::vector<std::string> &typed, std::vector<std::string> &ports);

// An FTDI adapter holds a short reply for its latency timer (16 ms unless
// lowered) unless it sees the event character, which Mirdel sets where the
// driver lets it; above 1 ms the advice says how to lower it.
#define STARTUP_LATENCY_FORMAT "latency timer %d ms"
#ifdef _WIN32
#define STARTUP_LATENCY_ADVICE                                                                     \
    "lower it to 1 ms in Device Manager: the port's Properties, Port Settings, Advanced..., "      \
    "Latency Timer (msec)"
#else
#define STARTUP_LATENCY_ADVICE                                                                     \
    "Mirdel asks for 1 ms while it has the port; for every program, enable the udev rule "         \
    "60-mirdel-ftdi.rules (see the manual)"
#endif

// What is said of a port: its description line, from what the system knows
// of it ("ftdi_sio, USB 0403:6001 FTDI FT232R USB UART, serial A10K1234";
// empty when the system does not have the port), the link
// that keeps naming the same adapter whatever name it gets when plugged in
// (empty when there is none), and an FTDI adapter's latency timer with the
// advice where it is high ("latency timer 16 ms; lower it ..."; empty when
// not known).
struct StartupPortAbout {
    std::string description;
    std::string stableLink;
    std::string latency;
};
StartupPortAbout StartupDescribePort(const std::string &name);

// The same as one JSON object without its line end, every part on its own
// key ("port", "present", "description", "driver", "usb_vendor_id",
// "usb_product_id", "manufacturer", "product", "serial_number",
// "stable_link", "latency_timer_ms", "latency_advice"); what is not known
// is null.
std::string StartupPortJson(const std::string &name);

// One item of a desktop program's port box: the name, and its tooltip, the
// description with the stable link and the latency timer on lines of their
// own (any may be missing).
struct StartupPortItem {
    std::string name;
    std::string tip;
};
// The port box's items: the names sorted without regard to case (equal
// ones keep their order), each described.
std::vector<StartupPortItem> StartupPortBoxItems(const std::vector<std::string> &ports);
// The item to select: the first whose name equals lastPort ignoring case,
// otherwise the first (0; also for no items).
size_t StartupPortBoxSelect(const std::vector<StartupPortItem> &items, const std::string &lastPort);

// The trace notices of the end of the program's run go to the log:
// "CMirdelApp::InitInstance(): <text>".
#define STARTUP_TRACE_MODAL_DONE "dlg.DoModal() done"
#define STARTUP_TRACE_END "end"
void StartupTrace(const char *text);

// --help and --version, looked for before the option parser runs so that
// they do nothing else (no log file, no window). They count where the
// parser would read an option word: before the first non-option word and
// "--", and not as the argument of -l.
enum StartupGnuOption {
    STARTUP_GNU_NONE = 0,
    STARTUP_GNU_HELP = 1,
    STARTUP_GNU_VERSION = 2,
};
StartupGnuOption StartupFindGnuOption(int argc, char **argv);

// Writes the --help or --version text of the desktop program to out.
// Returns the exit status: 0, or 1 when the text could not be written.
int StartupPrintGnuOption(StartupGnuOption option, FILE *out);
