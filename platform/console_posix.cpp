// Ctrl-C is SIGINT; the handler resets itself, so that a second one ends
// the program. While it is installed a closed output (SIGPIPE) does not end
// the program either: a run is stopped by the user, never cut off half-way
// because a reader went away; the failed write is reported instead.
//
// The signal handler only writes a byte into a pipe; a thread of the
// handler's own reads it and calls onStop, which may then lock and wake
// others as on Windows.
#include "platform/console.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>

namespace
{

std::atomic<void (*)(void)> console_on_stop{nullptr};
const int console_signals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction console_previous[3], console_previous_pipe;
bool console_installed = false;
// Made once and never closed: a handler on another thread may still be
// writing when the handler is removed.
std::atomic<int> console_pipe_in{-1};
int console_pipe_out = -1;
std::thread console_thread;
const char CONSOLE_STOP = 's', CONSOLE_QUIT = 'q';

void console_on_signal(int)
{
    int saved = errno;
    char c = CONSOLE_STOP;
    if (write(console_pipe_in.load(), &c, 1) < 0) {
        // The pipe is full of stops already.
    }
    errno = saved;
}

void console_watch(void)
{
    char c;
    for (;;) {
        ssize_t n = read(console_pipe_out, &c, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0 || c == CONSOLE_QUIT)
            return;
        void (*fn)(void) = console_on_stop.load();
        if (fn)
            fn();
    }
}

} // namespace

bool PlatIsTerminal(FILE *stream)
{
    return stream && isatty(fileno(stream)) != 0;
}

void PlatInstallStopHandler(void (*onStop)(void))
{
    console_on_stop.store(onStop);
    if (console_pipe_in.load() < 0) {
        int fds[2];
        // Without it Ctrl-C keeps ending the program.
        if (pipe2(fds, O_CLOEXEC) != 0)
            return;
        fcntl(fds[1], F_SETFL, O_NONBLOCK); // a signal handler never waits
        console_pipe_out = fds[0];
        console_pipe_in.store(fds[1]);
    }
    if (!console_thread.joinable())
        console_thread = std::thread(console_watch);
    struct sigaction sa = {};
    sa.sa_handler = console_on_signal;
    sa.sa_flags = SA_RESETHAND;
    sigemptyset(&sa.sa_mask);
    for (int i = 0; i < 3; i++)
        sigaction(console_signals[i], &sa, console_installed ? nullptr : &console_previous[i]);
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, console_installed ? nullptr : &console_previous_pipe);
    console_installed = true;
}

void PlatWatchStopInput(void (*onStop)(void))
{
    // Detached: it may wait on the input until the program ends.
    std::thread([onStop] {
        char buf[64];
        ssize_t n;
        while ((n = read(0, buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR)) {
            if (n > 0 && std::memchr(buf, '\n', (size_t)n))
                break;
        }
        onStop();
    }).detach();
}

void PlatRemoveStopHandler(void)
{
    if (console_installed) {
        for (int i = 0; i < 3; i++)
            sigaction(console_signals[i], &console_previous[i], nullptr);
        sigaction(SIGPIPE, &console_previous_pipe, nullptr);
    }
    console_installed = false;
    if (console_thread.joinable()) {
        // After every stop already written, so that none is lost.
        char c = CONSOLE_QUIT;
        while (write(console_pipe_in.load(), &c, 1) < 0 && errno == EINTR) {
        }
        console_thread.join();
    }
    console_on_stop.store(nullptr);
}

int PlatTerminalWidth(FILE *stream)
{
    struct winsize ws = {};
    if (!stream || ioctl(fileno(stream), TIOCGWINSZ, &ws) != 0)
        return 0;
    return ws.ws_col;
}

bool PlatEnableTerminalControls(FILE *)
{
    return true; // terminals here understand them
}

void PlatSetBinary(FILE *) {}
