// mirdel: the desktop firmware upload utility.
#include <QApplication>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/startup.h"
#include "desktop_qt/mirdelapp.h"
#include "platform/desktop.h"

// Qt aborts when its platform has no display. A platform chosen by hand
// (-platform, QT_QPA_PLATFORM: offscreen, vnc ...) may need none.
static bool main_can_open_windows(int argc, char **argv)
{
    const char *chosen = std::getenv("QT_QPA_PLATFORM");
    if ((chosen && *chosen) || PlatHaveGraphicalSession())
        return true;
    for (int i = 1; i < argc; i++)
        if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0)
            return true;
    return false;
}

int main(int argc, char **argv)
{
    // Before Qt: --help and --version need no display and open nothing.
    StartupGnuOption gnu = StartupFindGnuOption(argc, argv);
    if (gnu != STARTUP_GNU_NONE)
        return StartupPrintGnuOption(gnu, stdout);
    if (!main_can_open_windows(argc, argv)) {
        std::fprintf(stderr, "mirdel: %s\n", STARTUP_NO_DISPLAY_TEXT);
        return STARTUP_NO_DISPLAY_EXIT_STATUS;
    }

    // Takes its own options (-platform, -style ...) out of argv.
    QApplication app(argc, argv);
    // Qt has put the process into the user's locale; the numbers the program
    // formats itself ("%.2lf") keep their decimal point.
    std::setlocale(LC_NUMERIC, "C");
    return theApp.InitInstance(argc, argv);
}
