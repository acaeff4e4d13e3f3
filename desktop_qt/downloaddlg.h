// The upload dialog: analyses one firmware file before it opens, shows the
// file's properties, and runs, follows and ends uploads of it. The worker
// thread reports through RunView without waiting: its events are queued
// and the dialog's own thread draws them at its pace, in their order.
#pragma once

#include <QDialog>
#include <QFont>

#include <memory>
#include <string>

#include "core/run.h"
#include "core/runevents.h"
#include "firmware/mdl.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class UploadAnimation;

// Ids of the controls that have a tooltip.
#define IDC_LOCATION 1035
#define IDC_SIZE 1037
#define IDC_MODIFIED 1038

class CDownloadDlg : public QDialog
{
    Q_OBJECT
  public:
    explicit CDownloadDlg(QWidget *parent = nullptr);
    ~CDownloadDlg() override;

    // Analyses the file; 1 when it was read to its end without fault, 0
    // when not (the user has seen why). Called once, before the dialog runs.
    int ScanFile(const char *path);
    void ScanErrorBox(const char *fmt, ...) __attribute__((format(printf, 2, 3)));

    void FillPortBox();
    // The system's ports changed: the box follows, its text kept.
    void OnPortsChanged();
    // The tooltip text of a control: what it shows, cut to 79 characters;
    // empty for controls without a tooltip.
    std::string OnToolTipNeedText(int controlId) const;

    void OnStart();
    void OnCancelOrStop();
    void OnMirdelDone(UploadResult result);
    void OnAdvanced();
    void OnVerify();

    bool Running() const { return running_; }

    Firmware firmware{};
    std::string location;
    std::string modifiedText;
    std::string sizeText;
    std::string fileName;
    std::string filePath;
    uint64_t fileSize = 0;
    RunFileStamp fileStamp; // what the analysis read
    std::string savedTitle;

  public slots:
    void reject() override;

  protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    bool OnInitDialog();

  private:
    // Draws every event the worker has queued so far.
    void TakeEvents();
    void ShowEvent(const RunEvent &event);

    // The box of a failed analysis; place (the line) is for the log only.
    void ShowScanError(const std::string &message, const std::string &place);
    void EnterRunning();
    void RestoreIdle();
    // The port box fits the longest name it offers when the dialog opens,
    // within bounds; a name typed later does not make the dialog jump.
    void SizePortBox();
    void SetGroupFont(int group, const QFont &font);
    void TransferTexts();

    UploadAnimation *animation_;
    QComboBox *portBox_;
    QLineEdit *nameField_;
    QLineEdit *locationField_;
    QLineEdit *sizeField_;
    QLineEdit *modifiedField_;
    QPushButton *advanced_;
    QLabel *label_[RUN_GROUP_COUNT];
    QLabel *number_[RUN_GROUP_COUNT];
    QLabel *sign_[RUN_GROUP_COUNT];
    QProgressBar *bar_[RUN_GROUP_COUNT];
    QLabel *note_[RUN_GROUP_COUNT] = {}; // below a group that goes on after a stop
    QCheckBox *verify_;
    QPushButton *start_;
    QPushButton *cancel_;

    QFont normalFont;
    QFont boldFont;
    bool fontsCreated = false;

    // The worker's reports; one queued call draws all that has come.
    RunEventQueue events_{[this] {
        QMetaObject::invokeMethod(this, &CDownloadDlg::TakeEvents, Qt::QueuedConnection);
    }};

    std::unique_ptr<UploadRun> run_;
    bool running_ = false;    // from a started run to its OnMirdelDone
    bool busyCursor_ = false; // the run's cursor is in force
    bool initialised_ = false;
    bool closing_ = false; // being destroyed: the worker's reports are dropped
};
