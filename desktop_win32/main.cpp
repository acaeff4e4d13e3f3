// mirdel.exe: the desktop firmware upload utility for Windows.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    return 1; // the windows are not built yet
}
