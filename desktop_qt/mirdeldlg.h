// The main window: the product's title area and the Upload, Close and Help
// buttons. Closing it ends the program.
#pragma once

#include <QDialog>
#include <QFont>
#include <QPixmap>
#include <QPointer>

#include <functional>

#include "core/help.h"

class CManualDlg;
class QLabel;
class QPushButton;

#define MIRDEL_HELP_PDF HELP_PDF_FILE
#define MIRDEL_HELP_TXT HELP_TXT_FILE
#define MIRDEL_FILE_DIALOG_TITLE "Select firmware file for upload"
#define MIRDEL_FILTER_SREC "Varno Firmware Files (*.srec)"
#define MIRDEL_FILTER_ALL "All Files (*)"

class CMirdelDlg : public QDialog
{
    Q_OBJECT
  public:
    explicit CMirdelDlg(QWidget *parent = nullptr);
    ~CMirdelDlg() override;

    void OnUploadButton();
    void OnCloseButton();
    void OnHelpButton();
    // Analyses the file and, when that succeeds, runs the upload dialog on it.
    void OpenUploadDialog(const std::string &path);
    // The station window, on the command line's file when there is one.
    void OpenStation();

    // The directory the help files are looked for in, with a trailing "/".
    static QString HelpDirectory();

    // How the PDF help file is handed to the desktop (tests replace it).
    // True when a viewer took it.
    using HelpOpener = std::function<bool(const QString &path)>;
    static void SetHelpOpener(HelpOpener opener);

    const QPixmap &LargeIcon() const { return largeIcon_; }
    const QPixmap &SmallIcon() const { return smallIcon_; }

  protected:
    void showEvent(QShowEvent *event) override;
    // A firmware file dropped on the window opens the upload dialog on it.
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    bool OnInitDialog();

  private:
    // False with the thread's last system error set when the file is
    // missing or no viewer takes it.
    static bool OpenHelpFile(const QString &path);
    // The text help file in the manual window; false with the thread's
    // last system error set when it cannot be read.
    bool ShowManual(const QString &path);

    QPixmap largeIcon_;
    QPixmap smallIcon_;
    QFont smallFont_;
    QLabel *legalLine_;
    QLabel *makerLine_;
    QPushButton *upload_;
    QPushButton *close_;
    QPushButton *help_;
    QPointer<CManualDlg> manual_; // once Help has shown it
    bool initialised_ = false;
};
