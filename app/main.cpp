// mirdel: the desktop firmware upload utility.
#include <QApplication>

#include <clocale>

#include "app/mirdelapp.h"

int main(int argc, char **argv)
{
    // Takes its own options (-platform, -style ...) out of argv.
    QApplication app(argc, argv);
    // Qt has put the process into the user's locale; the numbers the program
    // formats itself ("%.2lf") keep their decimal point.
    std::setlocale(LC_NUMERIC, "C");
    return theApp.InitInstance(argc, argv);
}
