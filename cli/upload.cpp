// mirdel-cli upload: the upload dialog's run without a window. The three
// progress groups are drawn as bars on a terminal and as plain lines
// otherwise; Ctrl-C is the Stop button.
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/cli.h"
#include "cli/job.h"
#include "core/startup.h"

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
    "With several --port options the file is checked once and uploaded to\n"
    "every port at the same time, each run in a process of its own: one\n"
    "progress row per port on a terminal, otherwise plain lines that begin\n"
    "with the port's name; at the end a summary of port, time and outcome.\n"
    "The exit status is 0 when every port succeeded, otherwise the most\n"
    "severe of the ports' statuses: 2, then 3, 5, 4, 74, 1.\n"
    "\n"
    "Options:\n"
    "  --port NAME   the serial port: a name as 'mirdel-cli ports' lists it\n"
    "                (ttyUSB0 opens /dev/ttyUSB0) or a device path; may be\n"
    "                given more than once\n"
    "  --json        JSON lines on standard output instead of the display:\n"
    "                phase starts and ends, progress, and a result per port\n"
    "  --no-verify   upload without reading the flash back\n"
    "  --backup DIR  first read the flash the upload will write into a file in\n"
    "                DIR named after the port, date and time\n"
    "                (ttyUSB0-20261210-091502.srec), which uploads it back;\n"
    "                a backup that fails stops the upload before it begins\n"
    "  --yes         upload without asking when the firmware reaches beyond\n"
    "                the highest flash address 0xEFFFF or holds no data;\n"
    "                without a terminal to ask on, such a firmware is refused\n"
    "                unless --yes is given\n"
    "  -l LOGFILE    append the program's log to LOGFILE\n"
    "  --debug       show the serial link's console messages on standard error\n"
    "                (the instrument's acknowledgement texts, line errors)\n"
    "  -v            accepted, no effect\n"
    "\n"
    "Ctrl-C, SIGTERM and SIGHUP ask every run to stop, as the dialog's Stop\n"
    "button does: it takes effect at the next progress step; a stop during\n"
    "flash writing waits for the writing to end. A second Ctrl-C ends the\n"
    "program at once.\n"
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
    "(/dev/serial/by-id/...): --port takes either. For an FTDI adapter a\n"
    "further line gives its latency timer (how long it holds a short reply)\n"
    "and, where it is above 1 ms, how to lower it. Exit status 2 when the\n"
    "system's list cannot be read.\n"
    "\n"
    "Options:\n"
    "  --json   one JSON object per port and line instead: port, present,\n"
    "           description, driver, usb_vendor_id, usb_product_id,\n"
    "           manufacturer, product, serial_number, stable_link,\n"
    "           latency_timer_ms, latency_advice (null where not known)\n";

int CliUpload(int argc, char **argv)
{
    CliJobOptions o;
    int usage = CliParseJob("upload", argc, argv, o);
    return usage >= 0 ? usage : CliRunJob(o);
}

int CliPorts(int argc, char **argv)
{
    bool json = false;
    for (int i = 0; i < argc; i++) {
        if (std::strcmp(argv[i], "--json") == 0)
            json = true;
        else
            return CliUsageError("ports", "unexpected argument '%s'", argv[i]);
    }
    StartupState state;
    if (!StartupLoadPortList(state)) {
        std::fprintf(stderr, "%s\n", state.errorText.c_str());
        return CLI_EXIT_FAILED;
    }
    for (const std::string &name : state.ports) {
        if (json) {
            std::printf("%s\n", StartupPortJson(name).c_str());
            continue;
        }
        StartupPortAbout about = StartupDescribePort(name);
        const std::string &line = about.description;
        std::printf("%-10s %s\n", name.c_str(), line.empty() ? "not present" : line.c_str());
        for (const std::string *more : {&about.stableLink, &about.latency})
            if (!more->empty())
                std::printf("%-10s %s\n", "", more->c_str());
    }
    return CliFinishOutput(CLI_EXIT_OK);
}
