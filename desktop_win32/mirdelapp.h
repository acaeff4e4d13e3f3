// The application object of the Windows desktop program: what start-up
// found (ports, the firmware file argument) and what the windows share
// (the port last used), and the program's message boxes.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

class CMirdelApp
{
  public:
    // Start-up, then the main window's modal run; the process's exit status.
    int InitInstance(const char *commandLine);

    // The module holding the resources: the program (or the test program).
    HINSTANCE instance = GetModuleHandleA(nullptr);
    std::string displayName = "Mirdel";
    std::vector<std::string> ports; // the serial port names offered
    std::string lastPort;           // the name last taken from a port box
    bool haveFirmwareArg = false;
    std::string firmwareArg;
};

extern CMirdelApp theApp;

// A message box captioned with the display name; icon and buttons are
// MB_ flags. Returns the button pressed (IDOK, IDYES, IDNO).
int AppMessageBox(HWND parent, const std::string &text, UINT flags);
