// The application object of the Windows desktop program: what start-up
// found (ports, the firmware file argument) and what the windows share
// (the port last used), and the program's message boxes.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "core/run.h"

class CMirdelApp
{
  public:
    // Start-up, then the main window's modal run; the process's exit status.
    int InitInstance(const char *commandLine);

    // The module holding the resources: the program (or the test program).
    HINSTANCE instance = GetModuleHandleA(nullptr);
    std::string displayName = "Mirdel";
    std::vector<std::string> ports;      // the serial port names offered
    std::string lastPort;                // the name last taken from a port box
    std::vector<std::string> typedPorts; // names the user added, kept when the system's change
    bool haveFirmwareArg = false;
    std::string firmwareArg;
    // --station: the station window instead of the main window.
    bool station = false;
    std::vector<std::string> stationPorts;
    std::string resultsFile;
};

extern CMirdelApp theApp;

// A message box captioned with the display name; icon and buttons are
// MB_ flags. Returns the button pressed (IDOK, IDYES, IDNO).
int AppMessageBox(HWND parent, const std::string &text, UINT flags);

// The box flags of an outcome's icon (not RUN_ICON_NONE).
UINT AppIconOf(RunIcon icon);
// One check before a run in a box: a refusal is shown, a question asked
// (No by default); true on Yes.
bool AppTellCheck(HWND parent, const RunCheck &check);
// The checks before an upload (RunUploadChecks), asked in boxes; true when
// the run may start.
bool AppUploadChecksPass(HWND parent, const Firmware &firmware);

// The serial ports appeared or went (platform/portwatch.h): posted to a
// window that follows them.
#define WM_APP_PORTS_CHANGED (WM_APP + 5)
struct PlatPortWatch;
// Posts WM_APP_PORTS_CHANGED to window on every change; null when the
// system gives no word. Stopped with PlatPortWatchStop before the window goes.
PlatPortWatch *AppWatchPorts(HWND window);
// Lists the ports again (theApp.ports: the system's, then the names typed
// in); false when the list could not be had (the old one stays).
bool AppReloadPorts();
// A name the user typed: kept in theApp.ports across changes. True when
// it was new there.
bool AppAddTypedPort(const std::string &name);
