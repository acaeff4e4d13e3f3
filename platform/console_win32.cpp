// Ctrl-C arrives on a thread of the system's own through the console
// control handler. The first one is taken; the handler then steps aside,
// so that a second one ends the program.
#include <windows.h>

#include "platform/console.h"

#include <atomic>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <thread>

namespace
{

std::atomic<void (*)(void)> console_on_stop{nullptr};
std::atomic<bool> console_taken{false};

BOOL WINAPI console_handler(DWORD type)
{
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT)
        return FALSE;
    if (console_taken.exchange(true))
        return FALSE; // the second one: the default, which ends the process
    void (*fn)(void) = console_on_stop.load();
    if (fn)
        fn();
    return TRUE;
}

} // namespace

bool PlatIsTerminal(FILE *stream)
{
    if (!stream)
        return false;
    // _isatty() is also true for the NUL device: a console answers its mode.
    HANDLE h = (HANDLE)_get_osfhandle(_fileno(stream));
    DWORD mode;
    return h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &mode) != 0;
}

void PlatInstallStopHandler(void (*onStop)(void))
{
    console_on_stop.store(onStop);
    console_taken.store(false);
    SetConsoleCtrlHandler(console_handler, TRUE);
}

void PlatWatchStopInput(void (*onStop)(void))
{
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    // Detached: it may wait on the input until the program ends.
    std::thread([in, onStop] {
        char buf[64];
        DWORD n = 0;
        while (ReadFile(in, buf, sizeof buf, &n, nullptr) && n > 0 && !std::memchr(buf, '\n', n)) {
        }
        onStop();
    }).detach();
}

void PlatRemoveStopHandler(void)
{
    SetConsoleCtrlHandler(console_handler, FALSE);
    console_on_stop.store(nullptr);
}

int PlatTerminalWidth(FILE *stream)
{
    if (!stream)
        return 0;
    HANDLE h = (HANDLE)_get_osfhandle(_fileno(stream));
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (h == INVALID_HANDLE_VALUE || !GetConsoleScreenBufferInfo(h, &info))
        return 0;
    return info.srWindow.Right - info.srWindow.Left + 1;
}

bool PlatEnableTerminalControls(FILE *stream)
{
    if (!stream)
        return false;
    HANDLE h = (HANDLE)_get_osfhandle(_fileno(stream));
    DWORD mode;
    if (h == INVALID_HANDLE_VALUE || !GetConsoleMode(h, &mode))
        return false;
    // ENABLE_VIRTUAL_TERMINAL_PROCESSING, from Windows 10 on.
    return (mode & 0x0004) != 0 || SetConsoleMode(h, mode | 0x0004) != 0;
}

void PlatSetBinary(FILE *stream)
{
    std::fflush(stream);
    _setmode(_fileno(stream), _O_BINARY);
}
