#include "desktop_win32/mirdelapp.h"

#include <commctrl.h>

#include "core/startup.h"
#include "desktop_win32/mirdeldlg.h"

CMirdelApp theApp;

int AppMessageBox(HWND parent, const std::string &text, UINT flags)
{
    return MessageBoxA(parent, text.c_str(), theApp.displayName.c_str(), flags);
}

int CMirdelApp::InitInstance(const char *commandLine)
{
    StartupState state;
    StartupResult result = StartupInitFromText(commandLine, state);
    if (result == STARTUP_END) {
        // Started from the Start menu, no one sees stderr.
        AppMessageBox(nullptr, state.errorText, MB_ICONSTOP);
        return 1;
    }
    if (result == STARTUP_REFUSED) {
        // stderr is rarely seen from a desktop program: say it in a box too.
        AppMessageBox(nullptr, state.errorText, MB_ICONSTOP);
        return STARTUP_REFUSED_EXIT_STATUS;
    }
    displayName = "Mirdel";
    if (result == STARTUP_ERROR) {
        AppMessageBox(nullptr, state.errorText, MB_ICONSTOP);
        return 1;
    }

    ports = state.ports;
    haveFirmwareArg = state.firmwareArg != nullptr;
    firmwareArg = haveFirmwareArg ? state.firmwareArg : "";

    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&icc);
    {
        CMirdelDlg dlg;
        dlg.DoModal();
    }
    StartupTrace(STARTUP_TRACE_MODAL_DONE);
    StartupTrace(STARTUP_TRACE_END);
    return 0;
}
