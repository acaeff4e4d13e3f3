// Ctrl-C is SIGINT; the handler resets itself, so that a second one ends
// the program.
#include "platform/console.h"

#include <atomic>
#include <csignal>
#include <unistd.h>

namespace
{

std::atomic<void (*)(void)> console_on_stop{nullptr};
struct sigaction console_previous;
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
    if (sigaction(SIGINT, &sa, console_installed ? nullptr : &console_previous) == 0)
        console_installed = true;
}

void PlatRemoveStopHandler(void)
{
    if (console_installed)
        sigaction(SIGINT, &console_previous, nullptr);
    console_installed = false;
    console_on_stop.store(nullptr);
}
