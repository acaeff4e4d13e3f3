#include "desktop_qt/mirdelapp.h"

#include <QMessageBox>
#include <QString>

#include "core/startup.h"
#include "desktop_qt/mirdeldlg.h"

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

    {
        CMirdelDlg dlg;
        dlg.exec();
    }
    StartupTrace(STARTUP_TRACE_MODAL_DONE);
    StartupTrace(STARTUP_TRACE_END);
    return 0;
}
