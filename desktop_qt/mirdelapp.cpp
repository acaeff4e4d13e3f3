#include "desktop_qt/mirdelapp.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QPointer>
#include <QString>

#include "core/run.h"
#include "core/startup.h"
#include "desktop_qt/mirdeldlg.h"
#include "desktop_qt/stationdlg.h"
#include "platform/portwatch.h"

CMirdelApp theApp;

static AppMessageHook app_message_hook;

void AppSetMessageBoxHook(AppMessageHook hook)
{
    app_message_hook = std::move(hook);
}

AppAnswer AppMessageBox(QWidget *parent, const std::string &text, AppIcon icon, AppButtons buttons)
{
    if (app_message_hook)
        return app_message_hook(AppMessage{theApp.displayName, text, icon, buttons, parent});

    QMessageBox::Icon boxIcon = QMessageBox::Critical;
    if (icon == APP_ICON_EXCLAMATION)
        boxIcon = QMessageBox::Warning;
    else if (icon == APP_ICON_INFORMATION)
        boxIcon = QMessageBox::Information;
    QMessageBox::StandardButtons shown =
        buttons == APP_BUTTONS_YES_NO ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok;
    QMessageBox box(boxIcon, QString::fromStdString(theApp.displayName),
                    QString::fromStdString(text), shown, parent);
    // Texts from files and from the instrument are shown as they are.
    box.setTextFormat(Qt::PlainText);
    if (buttons == APP_BUTTONS_YES_NO)
        box.setDefaultButton(QMessageBox::No);
    int answer = box.exec();
    if (buttons == APP_BUTTONS_OK)
        return APP_ANSWER_OK;
    return answer == QMessageBox::Yes ? APP_ANSWER_YES : APP_ANSWER_NO;
}

AppIcon AppIconOf(RunIcon icon)
{
    return icon == RUN_ICON_INFORMATION   ? APP_ICON_INFORMATION
           : icon == RUN_ICON_EXCLAMATION ? APP_ICON_EXCLAMATION
                                          : APP_ICON_STOP;
}

bool AppTellCheck(QWidget *parent, const RunCheck &check)
{
    if (check.kind == RUN_CHECK_REFUSE) {
        AppMessageBox(parent, check.text, APP_ICON_STOP);
        return false;
    }
    return AppMessageBox(parent, check.text, APP_ICON_STOP, APP_BUTTONS_YES_NO) == APP_ANSWER_YES;
}

bool AppUploadChecksPass(QWidget *parent, const Firmware &firmware)
{
    return RunChecksPass(firmware, [parent](const RunCheck &c) { return AppTellCheck(parent, c); });
}

namespace
{

struct AppPortFollower {
    QPointer<QObject> window;
    std::function<void()> onChange;
};
std::vector<AppPortFollower> app_port_followers;
PlatPortWatch *app_port_watch;

// On the watch's thread: the windows are told on the application's.
void app_ports_changed(void *)
{
    QMetaObject::invokeMethod(
        qApp,
        [] {
            std::erase_if(app_port_followers, [](const AppPortFollower &f) { return !f.window; });
            std::vector<AppPortFollower> now = app_port_followers; // a window may go meanwhile
            for (const AppPortFollower &f : now)
                if (f.window)
                    f.onChange();
        },
        Qt::QueuedConnection);
}

} // namespace

void AppFollowPorts(QObject *window, std::function<void()> onChange)
{
    if (!app_port_watch && (app_port_watch = PlatPortWatchStart(app_ports_changed, nullptr)))
        // Ended with the application, before qApp goes.
        qAddPostRoutine([] {
            PlatPortWatchStop(app_port_watch);
            app_port_watch = nullptr;
        });
    app_port_followers.push_back({window, std::move(onChange)});
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

int CMirdelApp::InitInstance(int argc, char **argv)
{
    StartupState state;
    StartupResult result = StartupInit(argc, argv, state);
    if (result == STARTUP_END)
        return 1;
    if (result == STARTUP_REFUSED) {
        // stderr is rarely seen from a desktop program: say it in a box too.
        AppMessageBox(nullptr, state.errorText, APP_ICON_STOP);
        return STARTUP_REFUSED_EXIT_STATUS;
    }
    displayName = APP_DISPLAY_NAME;
    if (result == STARTUP_ERROR) {
        AppMessageBox(nullptr, state.errorText, APP_ICON_STOP);
        return 1;
    }

    ports = state.ports;
    haveFirmwareArg = state.firmwareArg != nullptr;
    firmwareArg = haveFirmwareArg ? state.firmwareArg : "";

    station = state.station;
    stationPorts = state.stationPorts;
    resultsFile = state.resultsFile;
    if (station) {
        CStationDlg dlg;
        dlg.Choose(stationPorts, resultsFile);
        if (!haveFirmwareArg || dlg.ScanFile(firmwareArg.c_str()))
            dlg.exec();
    } else {
        CMirdelDlg dlg;
        dlg.exec();
    }
    StartupTrace(STARTUP_TRACE_MODAL_DONE);
    StartupTrace(STARTUP_TRACE_END);
    return 0;
}
