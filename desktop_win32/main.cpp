// mirdel.exe: the desktop firmware upload utility for Windows.
#include <windows.h>

#include <cstdio>

#include "core/cmdline.h"
#include "core/startup.h"
#include "desktop_win32/mirdelapp.h"

// A windows program has no console of its own. Its standard output is
// there when redirected (a file, a pipe); else the console of the program
// that started it, when there is one, takes the text.
static FILE *main_console_out()
{
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (out != nullptr && out != INVALID_HANDLE_VALUE && GetFileType(out) != FILE_TYPE_UNKNOWN)
        return stdout;
    if (!AttachConsole(ATTACH_PARENT_PROCESS))
        return nullptr;
    return std::freopen("CONOUT$", "w", stdout);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    const char *commandLine = GetCommandLineA();
    // Before anything else: --help and --version open nothing.
    static CmdLine words;
    CmdLineFromText(words, commandLine);
    StartupGnuOption gnu = StartupFindGnuOption(words.argc, words.argv);
    if (gnu != STARTUP_GNU_NONE) {
        FILE *out = main_console_out();
        return out != nullptr ? StartupPrintGnuOption(gnu, out) : 1;
    }

    theApp.instance = instance;
    return theApp.InitInstance(commandLine);
}
