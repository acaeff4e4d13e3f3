#include "desktop_win32/mirdelapp.h"

CMirdelApp theApp;

int AppMessageBox(HWND parent, const std::string &text, UINT flags)
{
    return MessageBoxA(parent, text.c_str(), theApp.displayName.c_str(), flags);
}

int CMirdelApp::InitInstance(const char *)
{
    return 1; // start-up and the main window are not built yet
}
