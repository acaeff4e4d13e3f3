// The application object: start-up, the serial port names offered to the
// user, and the one way the program raises its message boxes.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "core/run.h"

class QObject;
class QWidget;

#define APP_DISPLAY_NAME "Mirdel"

class CMirdelApp
{
  public:
    CMirdelApp() = default;

    // The whole life of the program once the QApplication exists: start-up,
    // then the main window run modally. Returns the process exit status.
    int InitInstance(int argc, char **argv);

    std::vector<std::string> ports;      // offered in the upload dialog's port box
    std::string lastPort;                // last taken from an upload dialog's port box
    std::vector<std::string> typedPorts; // names the user added, kept when the system's change
    std::string firmwareArg;             // the firmware file of the command line
    bool haveFirmwareArg = false;
    // --station: the station window instead of the main window.
    bool station = false;
    std::vector<std::string> stationPorts;
    std::string resultsFile;
    std::string displayName = APP_DISPLAY_NAME; // caption of every message box
};

extern CMirdelApp theApp;

enum AppIcon {
    APP_ICON_STOP,        // errors and the highest-address question
    APP_ICON_EXCLAMATION, // runs stopped by the user, icon-load failures
    APP_ICON_INFORMATION, // success
};

enum AppButtons {
    APP_BUTTONS_OK,
    APP_BUTTONS_YES_NO, // No is the default
};

enum AppAnswer {
    APP_ANSWER_OK,
    APP_ANSWER_YES,
    APP_ANSWER_NO,
};

// A message box captioned with the display name.
AppAnswer AppMessageBox(QWidget *parent, const std::string &text, AppIcon icon,
                        AppButtons buttons = APP_BUTTONS_OK);

// What a replaced message box is given; the hook answers in its place.
struct AppMessage {
    std::string caption;
    std::string text;
    AppIcon icon;
    AppButtons buttons;
    QWidget *parent = nullptr; // the window the box is centred on
};
using AppMessageHook = std::function<AppAnswer(const AppMessage &)>;

// Replaces every message box by the hook (tests); an empty hook restores the
// real boxes.
void AppSetMessageBoxHook(AppMessageHook hook);

// The box of an outcome's icon (not RUN_ICON_NONE).
AppIcon AppIconOf(RunIcon icon);
// One check before a run in a box: a refusal is shown, a question asked
// (No by default); true on Yes.
bool AppTellCheck(QWidget *parent, const RunCheck &check);
// The checks before an upload (RunUploadChecks), asked in boxes; true when
// the run may start.
bool AppUploadChecksPass(QWidget *parent, const Firmware &firmware);
// Calls onChange on the window's thread whenever serial ports may have
// appeared or gone (platform/portwatch.h), until the window is destroyed.
// One watch serves every window and lasts as long as the application, so
// that a window costs no thread or descriptor of its own.
void AppFollowPorts(QObject *window, std::function<void()> onChange);
// Lists the ports again (theApp.ports: the system's, then the names typed
// in); false when the list could not be had (the old one stays).
bool AppReloadPorts();
// A name the user typed: kept in theApp.ports across changes. True when it
// was new there.
bool AppAddTypedPort(const std::string &name);
