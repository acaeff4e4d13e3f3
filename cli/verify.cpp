// mirdel-cli verify and read: the read-back of the upload run without an
// upload before it.
#include "cli/cli.h"
#include "cli/job.h"

const char CliVerifyHelp[] =
    "\n"
    "Checks the S-record file FILE, then reads every segment back from the\n"
    "instrument's flash and compares it with the file, as an upload's\n"
    "verification does (the first 16 bytes of an image's first segment are\n"
    "left out), and sends the finish command. Nothing is uploaded. Exit\n"
    "status 0 when the instrument holds the file's data; 2 with the upload's\n"
    "verification message at the first difference.\n"
    "\n"
    "Options:\n"
    "  --port NAME   the serial port; may be given more than once: the ports\n"
    "                are verified at the same time, as 'upload' does\n"
    "  --json        JSON lines instead of the display (see upload)\n"
    "  -l LOGFILE    append the program's log to LOGFILE\n"
    "  -v            accepted, no effect\n";

const char CliReadHelp[] =
    "\n"
    "Reads LENGTH bytes of the instrument's flash from ADDRESS (decimal, or\n"
    "hexadecimal with 0x) with the read job, and writes them to FILE: as the\n"
    "S-record lines the instrument sent or, with --binary, as the data bytes.\n"
    "Without -o, or with -o -, the data goes to standard output and the\n"
    "progress to standard error.\n"
    "\n"
    "Options:\n"
    "  --port NAME      the serial port\n"
    "  --address ADDRESS, --length LENGTH\n"
    "                   the flash range (1 to 2147483647 bytes)\n"
    "  --binary         write the data bytes, not the records\n"
    "  -o FILE          the output file (replaced)\n"
    "  --json           JSON lines on standard output (needs -o FILE)\n"
    "  -l LOGFILE       append the program's log to LOGFILE\n";

int CliVerify(int argc, char **argv)
{
    CliJobOptions o;
    o.job = RUN_JOB_VERIFY;
    int usage = CliParseJob("verify", argc, argv, o);
    return usage >= 0 ? usage : CliRunJob(o);
}

int CliRead(int argc, char **argv)
{
    CliJobOptions o;
    o.job = RUN_JOB_READ;
    int usage = CliParseJob("read", argc, argv, o);
    return usage >= 0 ? usage : CliRunJob(o);
}
