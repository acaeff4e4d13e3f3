// What the fuzz targets share: a quiet log, a check that stops the run with
// a readable reason, and the far end of a serial line.
#pragma once

#include "serial/sio.h"
#include "support/log.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

// A broken promise of the code under test: libFuzzer keeps the input that
// caused it, like any crash.
#define FUZZ_CHECK(cond)                                                                           \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond);          \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

// Console and file lines are dropped; every line must still be a text.
inline void FuzzQuietLog()
{
    LogOpen(
        nullptr, [](const char *line, bool) { FUZZ_CHECK(line != nullptr); }, nullptr, false);
}

// The instrument's end of the line: a pseudo-terminal pair made once per
// process. The port under test opens the slave by its path; the input is
// written into the master, and what the host writes is read there and
// dropped.
//
// The whole input is queued on the slave before the code under test runs.
// With a port time-out of 0 every read then takes what is queued and the
// first wait after the last byte ends at once in a time-out, so that an
// input always runs the same way, in about a millisecond. The line discipline
// holds this many bytes; longer inputs are cut.
#define FUZZ_LINE_MAX 4095

class FuzzLine
{
  public:
    static FuzzLine &Get()
    {
        static FuzzLine line;
        return line;
    }

    // Opens the port afresh, which drops whatever an earlier input left
    // queued on either side, and queues data (at most FUZZ_LINE_MAX bytes)
    // for it.
    SioPort *Feed(const uint8_t *data, size_t size)
    {
        SioPort *port = SioOpen(path_, 115200, 0);
        if (!port)
            Broken("SioOpen()", SioErrStr());
        Drain();
        if (size > FUZZ_LINE_MAX)
            size = FUZZ_LINE_MAX;
        size_t done = 0;
        while (done < size) {
            ssize_t n = write(master_, data + done, size - done);
            if (n < 0 && errno == EAGAIN) {
                pollfd p = {master_, POLLOUT, 0};
                poll(&p, 1, 100);
                continue;
            }
            if (n < 0 && errno != EINTR)
                Broken("write()", "the master refused the input");
            if (n > 0)
                done += static_cast<size_t>(n);
        }
        // The kernel moves the bytes to the slave's side on its own time.
        for (long spins = 0;; spins++) {
            int queued = 0;
            if (ioctl(slave_, TIOCINQ, &queued) != 0)
                Broken("ioctl(TIOCINQ)", "no queue count");
            if (static_cast<size_t>(queued) >= size)
                break;
            if (spins > 2000000)
                Broken("TIOCINQ", "the input never reached the slave");
            sched_yield();
        }
        return port;
    }

    // A slow line hands the bytes over a few at a time: reads are asked
    // for at most this many (1..SIO_RX_BUFFER_SIZE), until the next open.
    static void SetPieceSize(SioPort *port, uint32_t size)
    {
        if (size >= 1 && size <= SIO_RX_BUFFER_SIZE)
            port->rxBufferSize = size;
    }

    // Reads and drops what the host wrote.
    void Drain()
    {
        char buf[4096];
        while (read(master_, buf, sizeof buf) > 0) {
        }
    }

  private:
    FuzzLine()
    {
        if (openpty(&master_, &slave_, path_, nullptr, nullptr) != 0)
            Broken("openpty()", "no pseudo-terminal");
        fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    }

    // Not a finding: without a working line there is nothing to test.
    [[noreturn]] static void Broken(const char *what, const char *why)
    {
        std::fprintf(stderr, "fuzz line: %s: %s\n", what, why);
        std::_Exit(2);
    }

    int master_ = -1;
    int slave_ = -1; // held, so that the pty lives on while the port re-opens
    char path_[128] = "";
};
