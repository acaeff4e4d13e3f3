// mirdel: the desktop firmware upload utility.
#include <QApplication>

#include <clocale>
#include <cstdio>

#include "core/startup.h"
#include "desktop_qt/mirdelapp.h"

int main(int argc, char **argv)
{
    // Before Qt: --help and --version need no display and open nothing.
    StartupGnuOption gnu = StartupFindGnuOption(argc, argv);
    if (gnu != STARTUP_GNU_NONE)
        return StartupPrintGnuOption(gnu, stdout);

    // Takes its own options (-platform, -style ...) out of argv.
    QApplication app(argc, argv);
    // Qt has put the process into the user's locale; the numbers the program
    // formats itself ("%.2lf") keep their decimal point.
    std::setlocale(LC_NUMERIC, "C");
    return theApp.InitInstance(argc, argv);
}
