#include "desktop_win32/mirdelapp.h"

#include <commctrl.h>

#include "core/run.h"
#include "core/startup.h"
#include "desktop_win32/mirdeldlg.h"
#include "desktop_win32/stationdlg.h"
#include "platform/portwatch.h"

CMirdelApp theApp;

int AppMessageBox(HWND parent, const std::string &text, UINT flags)
{
    return MessageBoxA(parent, text.c_str(), theApp.displayName.c_str(), flags);
}

UINT AppIconOf(RunIcon icon)
{
    return icon == RUN_ICON_INFORMATION   ? MB_ICONINFORMATION
           : icon == RUN_ICON_EXCLAMATION ? MB_ICONEXCLAMATION
                                          : MB_ICONSTOP;
}

bool AppTellCheck(HWND parent, const RunCheck &check)
{
    if (check.kind == RUN_CHECK_REFUSE) {
        AppMessageBox(parent, check.text, MB_ICONSTOP);
        return false;
    }
    return AppMessageBox(parent, check.text, MB_YESNO | MB_ICONSTOP | MB_DEFBUTTON2) == IDYES;
}

bool AppUploadChecksPass(HWND parent, const Firmware &firmware)
{
    return RunChecksPass(firmware, [parent](const RunCheck &c) { return AppTellCheck(parent, c); });
}

static void app_ports_changed(void *window)
{
    PostMessageA(static_cast<HWND>(window), WM_APP_PORTS_CHANGED, 0, 0);
}

PlatPortWatch *AppWatchPorts(HWND window)
{
    return PlatPortWatchStart(app_ports_changed, window);
}

bool AppReloadPorts()
{
    return StartupReloadPorts(theApp.typedPorts, theApp.ports);
}

bool AppAddTypedPort(const std::string &name)
{
    RunAddPortName(theApp.typedPorts, name);
    return RunAddPortName(theApp.ports, name);
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
    station = state.station;
    stationPorts = state.stationPorts;
    resultsFile = state.resultsFile;
    if (station) {
        CStationDlg dlg(nullptr);
        dlg.Choose(stationPorts, resultsFile);
        if (!haveFirmwareArg || dlg.ScanFile(firmwareArg.c_str()))
            dlg.DoModal();
    } else {
        CMirdelDlg dlg;
        dlg.DoModal();
    }
    StartupTrace(STARTUP_TRACE_MODAL_DONE);
    StartupTrace(STARTUP_TRACE_END);
    return 0;
}
