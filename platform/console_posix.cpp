// Ctrl-C is SIGINT; the handler resets itself, so that a second one ends
// the program. While it is installed a closed output (SIGPIPE) does not end
// the program either: a run is stopped by the user, never cut off half-way
// because a reader went away; the failed write is reported instead.
#include "platform/console.h"

#include <atomic>
#include <csignal>
#include <sys/ioctl.h>
#include <unistd.h>

namespace
{

std::atomic<void (*)(void)> console_on_stop{nullptr};
const int console_signals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction console_previous[3], console_previous_pipe;
bool console_installed = false;

void console_on_sigint(int)
{
    void (*fn)(void) = console_on_stop.load();
    if (fn)
        fn();
}

} // namespace

bool PlatIsTerminal(FILE *stream)
{
    return stream && isatty(fileno(stream)) != 0;
}

void PlatInstallStopHandler(void (*onStop)(void))
{
    console_on_stop.store(onStop);
    struct sigaction sa = {};
    sa.sa_handler = console_on_sigint;
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

void PlatRemoveStopHandler(void)
{
    if (console_installed) {
        for (int i = 0; i < 3; i++)
            sigaction(console_signals[i], &console_previous[i], nullptr);
        sigaction(SIGPIPE, &console_previous_pipe, nullptr);
    }
    console_installed = false;
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
