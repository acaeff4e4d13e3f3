// mirdel-sim: an instrument on a pseudo-terminal, for tests and demos.

#include <fcntl.h>
#include <getopt.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "core/scan.h"
#include "firmware/mdl.h"
#include "sim/instrument.h"
#include "support/version.h"

namespace {

const char kUsage[] =
    "Usage: mirdel-sim [OPTION]...\n"
    "Plays a power analyzer that takes firmware updates, on a pseudo-terminal.\n"
    "The first line written to standard output is the device path the host\n"
    "opens (give it to mirdel-cli as --port PATH). The simulator serves the\n"
    "update dialogue until a --once session ends, the time limit passes, it\n"
    "hangs up by a fault, or it gets SIGINT/SIGTERM.\n"
    "\n"
    "  --link PATH          make PATH a symbolic link to the device (removed on exit)\n"
    "  --lock               hold the device locked, as another program using it would\n"
    "  --once               end after the first \"MIRDEL DONE\" was acknowledged\n"
    "  --time-limit SEC     end after SEC seconds (default 600, 0 = none)\n"
    "  --transcript FILE    write every line received (\"< \") and sent (\"> \")\n"
    "                       (a carriage return received shows as \\x0D)\n"
    "  --flash-dump FILE    on exit, write the flash pages written to FILE as S3\n"
    "                       records of 32 bytes (unwritten bytes read FF)\n"
    "  --busy N             answer the first N handshakes with \"-ERR Wait\"\n"
    "  --fault PHASE:N:KIND[:TEXT]\n"
    "                       inject a fault at the N-th event of PHASE (1-based,\n"
    "                       counted over the simulator's life); may be repeated\n"
    "      PHASE  handshake  reply to \":DIAG:UPDATE\"\n"
    "             job        acknowledgement of \"MIRDEL\"\n"
    "             readjob    acknowledgement of \"MIRDEL -r A:L\"\n"
    "             finish     acknowledgement of \"MIRDEL DONE\"\n"
    "             record     acknowledgement of an uploaded record\n"
    "             end        the end mark \".\" (the first flash indication)\n"
    "             flash      a flash-writing indication (\"+OK n\", \"+OK .\")\n"
    "             readback   a line of a read-back stream (S0 is line 1)\n"
    "      KIND   refuse[:TEXT]  \"-ERR TEXT\"\n"
    "             retry[:TEXT]   \"-RETRY TEXT\" once; a job line or record sent\n"
    "                            again is then taken\n"
    "             wait           \"-ERR Wait\"\n"
    "             stop           \"+STOP\"\n"
    "             text[:TEXT]    \"+OK TEXT\"\n"
    "             silent         no answer until the next \":DIAG:UPDATE\"\n"
    "             hangup         the device vanishes (the simulator exits)\n"
    "             garbage[:TEXT] a line with neither sign\n"
    "             long           a line of 5000 characters\n"
    "             nul            a line of NUL bytes\n"
    "             soh            a refusal with SOH line breaks\n"
    "             printf         a refusal made of printf directives\n"
    "             cr             the normal answer ended by CR only\n"
    "             badsum[:T]     read-back: the record with a wrong checksum, T times\n"
    "             dup            read-back: the record sent twice\n"
    "             cut            read-back: S7 and \".\" in place of this line (a\n"
    "                            stream that ends early)\n"
    "             skip           read-back: the line left out (a gap)\n"
    "             retryall[:TEXT] record: \"-RETRY TEXT\" to this record and to every\n"
    "                            line after it, resends included, until the next\n"
    "                            \":DIAG:UPDATE\"\n"
    "             hold           the normal answer, held until the simulator gets\n"
    "                            SIGUSR1 (\"# held\" in the transcript meanwhile)\n"
    "  --flash FILE         start with the S-record file FILE in flash, as if it\n"
    "                       had been uploaded (may be repeated)\n"
    "  --corrupt ADDR       flip the flash byte at ADDR before the first read-back\n"
    "  --flash-step BYTES   bytes per flash-writing indication (default 4096)\n"
    "  --flash-delay MS     pause before each flash-writing indication\n"
    "  --readback-bytes N   data bytes per read-back record (1-250, default 32);\n"
    "                       250 makes lines of 514 characters, 2 more than the\n"
    "                       host takes\n"
    "  --readback-full      the last read-back record is full too, running past\n"
    "                       the range asked for (an instrument that sends more)\n"
    "  --readback-shift N   read-back records labelled N bytes past their address\n"
    "                       (modulo 2^32: 4294967040 labels them 0x100 before)\n"
    "  --readback-relative  read-back records numbered from 0, not from the\n"
    "                       range's flash address\n"
    "  --ack-text TEXT      positive acknowledgements read \"+OK TEXT\"\n"
    "  --line-delay MS      pause before every line sent\n"
    "  --baud N             pace sent lines like an N-baud line (10 bits per byte)\n"
    "  --pace-received      with --baud, take received lines at that pace too,\n"
    "                       as if the host's lines crossed the same wire\n"
    "  --help               show this text and exit\n"
    "  --version            show the version and exit\n"
    "\n"
    "Examples: --fault handshake:1:refuse:Battery low  (refused handshake)\n"
    "          --fault record:3:retry                  (record 3 sent twice)\n"
    "          --fault record:6:silent                 (silent after record 5)\n"
    "          --fault flash:3:refuse:Flash error      (error after 2 indications)\n"
    "          --fault readback:2:badsum:4             (first S3 bad 4 times)\n"
    "\n"
    "Unwritten flash reads back as 0xFF. Exit status: 0 on a normal end, 2 on a\n"
    "usage error, 1 when the pseudo-terminal cannot be made.\n";

volatile sig_atomic_t g_stop = 0;
volatile sig_atomic_t g_release = 0;

void OnSignal(int) { g_stop = 1; }
void OnRelease(int) { g_release = 1; }

FILE *g_transcript = nullptr;

void Transcribe(const char *dir, const std::string &line)
{
    if (!g_transcript)
        return;
    std::string out = dir;
    for (unsigned char c : line) {
        if (c < 0x20 || c >= 0x7F) {
            char esc[5];
            snprintf(esc, sizeof esc, "\\x%02X", c);
            out += esc;
        } else if (c == '\\') {
            out += "\\\\";
        } else {
            out += (char)c;
        }
    }
    fprintf(g_transcript, "%s\n", out.c_str());
    fflush(g_transcript);
}

bool WriteAll(int fd, const std::string &bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += (size_t)n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN) {
            struct pollfd p = {fd, POLLOUT, 0};
            poll(&p, 1, 1000);
            continue;
        }
        return false;
    }
    return true;
}

bool DumpFlash(const char *path, const sim::Flash &flash)
{
    FILE *f = fopen(path, "w");
    if (!f)
        return false;
    for (uint32_t start : flash.Pages()) {
        for (uint32_t a = start; a < start + sim::Flash::kPage; a += 32) {
            uint8_t bytes[32];
            for (uint32_t i = 0; i < 32; ++i)
                bytes[i] = flash.Read(a + i);
            fprintf(f, "%s\n", sim::MakeRecord('3', a, 4, bytes, 32).c_str());
        }
    }
    return fclose(f) == 0;
}

bool ParseUnsigned(const char *text, unsigned long &out)
{
    char *end = nullptr;
    errno = 0;
    out = std::strtoul(text, &end, 0);
    return *text && *end == '\0' && errno == 0;
}

} // namespace

int main(int argc, char **argv)
{
    sim::Options opt;
    const char *link = nullptr;
    const char *transcript = nullptr;
    const char *flashDump = nullptr;
    bool once = false, lock = false;
    unsigned long timeLimit = 600;
    std::vector<const char *> flashFiles;
    bool paceReceived = false;

    enum {
        O_LINK = 256, O_ONCE, O_TIME, O_TRANSCRIPT, O_BUSY, O_FAULT, O_CORRUPT, O_FSTEP,
        O_FDELAY, O_RBYTES, O_RFULL, O_ACK, O_LDELAY, O_BAUD, O_HELP, O_DUMP, O_VERSION,
        O_FLASH, O_PACE, O_RSHIFT, O_RREL, O_LOCK
    };
    static const struct option longOpts[] = {
        {"link", required_argument, nullptr, O_LINK},
        {"once", no_argument, nullptr, O_ONCE},
        {"lock", no_argument, nullptr, O_LOCK},
        {"time-limit", required_argument, nullptr, O_TIME},
        {"transcript", required_argument, nullptr, O_TRANSCRIPT},
        {"busy", required_argument, nullptr, O_BUSY},
        {"fault", required_argument, nullptr, O_FAULT},
        {"corrupt", required_argument, nullptr, O_CORRUPT},
        {"flash-step", required_argument, nullptr, O_FSTEP},
        {"flash-delay", required_argument, nullptr, O_FDELAY},
        {"readback-bytes", required_argument, nullptr, O_RBYTES},
        {"readback-full", no_argument, nullptr, O_RFULL},
        {"ack-text", required_argument, nullptr, O_ACK},
        {"line-delay", required_argument, nullptr, O_LDELAY},
        {"baud", required_argument, nullptr, O_BAUD},
        {"help", no_argument, nullptr, O_HELP},
        {"flash-dump", required_argument, nullptr, O_DUMP},
        {"version", no_argument, nullptr, O_VERSION},
        {"flash", required_argument, nullptr, O_FLASH},
        {"pace-received", no_argument, nullptr, O_PACE},
        {"readback-shift", required_argument, nullptr, O_RSHIFT},
        {"readback-relative", no_argument, nullptr, O_RREL},
        {nullptr, 0, nullptr, 0},
    };

    int c;
    unsigned long v;
    while ((c = getopt_long(argc, argv, "", longOpts, nullptr)) != -1) {
        std::string err;
        switch (c) {
        case O_LINK: link = optarg; break;
        case O_ONCE: once = true; break;
        case O_LOCK: lock = true; break;
        case O_FLASH: flashFiles.push_back(optarg); break;
        case O_PACE: paceReceived = true; break;
        case O_RFULL: opt.readbackFull = true; break;
        case O_RREL: opt.readbackRelative = true; break;
        case O_TRANSCRIPT: transcript = optarg; break;
        case O_DUMP: flashDump = optarg; break;
        case O_ACK: opt.ackText = optarg; break;
        case O_FAULT: {
            sim::Fault f;
            if (!sim::ParseFault(optarg, f, err)) {
                fprintf(stderr, "mirdel-sim: --fault %s\n", err.c_str());
                return 2;
            }
            opt.faults.push_back(f);
            break;
        }
        case O_HELP: fputs(kUsage, stdout); return fflush(stdout) == 0 ? 0 : 1;
        case O_VERSION: return VersionPrint(stdout, "mirdel-sim") ? 0 : 1;
        case O_TIME: case O_BUSY: case O_CORRUPT: case O_FSTEP: case O_FDELAY:
        case O_RBYTES: case O_LDELAY: case O_BAUD: case O_RSHIFT:
            if (!ParseUnsigned(optarg, v)) {
                fprintf(stderr, "mirdel-sim: '%s': not a number\n", optarg);
                return 2;
            }
            if (c == O_TIME) timeLimit = v;
            else if (c == O_BUSY) {
                for (unsigned long i = 1; i <= v; ++i)
                    opt.faults.push_back({sim::Phase::Handshake, i, sim::FaultKind::Wait, ""});
            } else if (c == O_CORRUPT) opt.corruptAddress = (long)(v & 0xFFFFFFFFUL);
            else if (c == O_FSTEP) opt.flashStep = (unsigned)v;
            else if (c == O_FDELAY) opt.flashDelayMs = (unsigned)v;
            else if (c == O_RBYTES) {
                if (v < 1 || v > 250) {
                    fprintf(stderr, "mirdel-sim: --readback-bytes must be 1 to 250\n");
                    return 2;
                }
                opt.readbackBytes = (unsigned)v;
            } else if (c == O_LDELAY) opt.lineDelayMs = (unsigned)v;
            else if (c == O_RSHIFT) opt.readbackShift = (uint32_t)v;
            else opt.baud = v;
            break;
        default:
            fputs(kUsage, stderr);
            return 2;
        }
    }
    if (optind < argc) {
        fprintf(stderr, "mirdel-sim: unexpected argument '%s'\n", argv[optind]);
        return 2;
    }

    // The files are read before the device exists, so that a faulty one
    // leaves nothing behind.
    std::vector<Firmware> preload(flashFiles.size());
    for (size_t i = 0; i < flashFiles.size(); ++i) {
        ScanFileInfo info;
        std::string message;
        if (!ScanFirmwareFile(flashFiles[i], &preload[i], &info, &message)) {
            fprintf(stderr, "mirdel-sim: --flash %s: %s\n", flashFiles[i], message.c_str());
            for (Firmware &f : preload)
                MdlFirmwareRelease(&f);
            return 2;
        }
    }

    int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        fprintf(stderr, "mirdel-sim: posix_openpt(): %s\n", strerror(errno));
        return 1;
    }
    char slavePath[256];
    if (ptsname_r(master, slavePath, sizeof slavePath) != 0) {
        fprintf(stderr, "mirdel-sim: ptsname(): %s\n", strerror(errno));
        return 1;
    }
    // Holding the device open ourselves keeps it alive while the host closes
    // and re-opens it, and lets us set it raw before the host comes.
    int keeper = open(slavePath, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (keeper < 0) {
        fprintf(stderr, "mirdel-sim: %s: %s\n", slavePath, strerror(errno));
        return 1;
    }
    if (lock && flock(keeper, LOCK_EX | LOCK_NB) != 0) {
        fprintf(stderr, "mirdel-sim: flock(%s): %s\n", slavePath, strerror(errno));
        return 1;
    }
    struct termios tio;
    if (tcgetattr(keeper, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(keeper, TCSANOW, &tio);
    }
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);

    if (link) {
        unlink(link);
        if (symlink(slavePath, link) != 0) {
            fprintf(stderr, "mirdel-sim: symlink(%s): %s\n", link, strerror(errno));
            return 1;
        }
    }
    if (transcript) {
        g_transcript = fopen(transcript, "w");
        if (!g_transcript) {
            fprintf(stderr, "mirdel-sim: %s: %s\n", transcript, strerror(errno));
            return 1;
        }
    }

    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = OnSignal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sa.sa_handler = OnRelease;
    sigaction(SIGUSR1, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    printf("%s\n", slavePath);
    fflush(stdout);

    bool hung = false;
    sim::Link simLink;
    simLink.send = [&](const std::string &bytes) {
        std::string line = bytes;
        if (!line.empty() && line.back() == '\n')
            line.pop_back();
        Transcribe("> ", line);
        WriteAll(master, bytes);
    };
    simLink.hangup = [&]() {
        Transcribe("# ", "hang-up");
        close(master);
        close(keeper);
        master = keeper = -1;
        hung = true;
    };
    simLink.pause = [](unsigned ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); };
    // A test waits for "# held" in the transcript, does what it must while
    // the host waits for the answer, and then sends SIGUSR1.
    simLink.hold = [&]() {
        Transcribe("# ", "held");
        while (!g_release && !g_stop)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        g_release = 0;
        Transcribe("# ", "released");
    };

    sim::Instrument inst(opt, simLink);
    for (Firmware &firmware : preload) {
        inst.Preload(firmware);
        MdlFirmwareRelease(&firmware);
    }
    auto start = std::chrono::steady_clock::now();
    auto lastLine = start;
    auto wireFree = start;
    std::string line;
    std::string raw; // the line with the carriage returns the host sent in it
    char buf[4096];
    const size_t kMaxLine = 8192; // longer input is cut into pieces, like a real receive buffer

    while (!g_stop && !hung && !(once && inst.SessionDone())) {
        auto now = std::chrono::steady_clock::now();
        long elapsed = (long)std::chrono::duration_cast<std::chrono::milliseconds>(now - start).count();
        if (timeLimit && elapsed >= (long)(timeLimit * 1000))
            break;
        if (inst.AwaitingAnswer() &&
            std::chrono::duration_cast<std::chrono::milliseconds>(now - lastLine).count() >=
                (long)opt.answerTimeoutMs) {
            inst.OnAnswerTimeout();
        }
        struct pollfd p = {master, POLLIN, 0};
        int r = poll(&p, 1, 100);
        if (r < 0 && errno != EINTR)
            break;
        if (r <= 0)
            continue;
        ssize_t n = read(master, buf, sizeof buf);
        if (n <= 0) {
            if (n < 0 && (errno == EAGAIN || errno == EINTR))
                continue;
            // No host has the device open (or it went): wait a little.
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            continue;
        }
        for (ssize_t i = 0; i < n && !hung; ++i) {
            char ch = buf[i];
            if (ch == '\r') {
                raw += ch;
                continue;
            }
            if (ch != '\n' && line.size() < kMaxLine) {
                line += ch;
                raw += ch;
                continue;
            }
            if (paceReceived && opt.baud) {
                // The line and its line feed take this long on the wire;
                // a schedule, so that sleeping late does not add up.
                auto wire = std::chrono::microseconds((line.size() + 1) * 10 * 1000000 / opt.baud);
                wireFree = std::max(wireFree, std::chrono::steady_clock::now()) + wire;
                std::this_thread::sleep_until(wireFree);
            }
            Transcribe("< ", raw);
            lastLine = std::chrono::steady_clock::now();
            inst.OnLine(line);
            line.clear();
            raw.clear();
            if (ch != '\n') {
                line += ch;
                raw += ch;
            }
        }
    }

    // Closing the master hangs the device up, which throws away what the
    // host has not read yet: after --once, let it take the last answer
    // first. The bytes reach the device's queue a little after the write, so
    // the queue must stay empty for a while.
    bool drain = once && inst.SessionDone() && !hung && keeper >= 0;
    for (int waited = 0, empty = 0; drain && waited < 2000 && empty < 100; waited += 5) {
        int queued = 0;
        if (ioctl(keeper, FIONREAD, &queued) != 0)
            break;
        empty = queued == 0 ? empty + 5 : 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (master >= 0)
        close(master);
    if (keeper >= 0)
        close(keeper);
    if (link)
        unlink(link);
    if (g_transcript)
        fclose(g_transcript);
    if (flashDump && !DumpFlash(flashDump, inst.FlashMemory())) {
        fprintf(stderr, "mirdel-sim: %s: %s\n", flashDump, strerror(errno));
        return 1;
    }
    return 0;
}
