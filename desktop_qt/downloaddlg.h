// The upload dialog: analyses one firmware file before it opens, shows the
// file's properties, and runs, follows and ends uploads of it. The worker
// thread reports through RunView without waiting: its events are queued
// and the dialog's own thread draws them at its pace, in their order.
#pragma once

#include <QDialog>
#include <QFont>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/run.h"
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
#define TOOLTIP_TEXT_MAX 79

class CDownloadDlg : public QDialog, private RunView
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
    std::string savedTitle;
    std::string portError;

  public slots:
    void reject() override;

  protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    bool OnInitDialog();

  private:
    // RunView, called from the worker thread.
    void RunBegin() override;
    void PhaseStarted(int group) override;
    void PhaseProgress(int group, const RunStep &step) override;
    void PhaseEnded(int group) override;
    void PhaseStopping(int group) override;
    void RunFinished(UploadResult result) override;

    // One event of the worker, as the dialog's thread takes it.
    struct RunEvent {
        enum Kind { BEGIN, STARTED, PROGRESS, ENDED, STOPPING, FINISHED } kind;
        int group;
        int bar;
        int percent;
        UploadResult result;
    };
    // Worker side: queues the event; a progress replaces the one before it
    // when that is still waiting, so that a slow screen never slows the run.
    void Post(const RunEvent &event);
    // Dialog side: draws every event queued so far.
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

    // What the worker last had the groups show, so that a report that would
    // change nothing is not queued. Worker only; reset by RunBegin.
    int workerBar_[RUN_GROUP_COUNT] = {};
    int workerPercent_[RUN_GROUP_COUNT] = {};
    std::mutex eventLock_;
    std::vector<RunEvent> events_; // queued by the worker, not yet drawn

    std::unique_ptr<UploadRun> run_;
    bool running_ = false;    // from a started run to its OnMirdelDone
    bool busyCursor_ = false; // the run's cursor is in force
    bool initialised_ = false;
    bool closing_ = false; // being destroyed: the worker's reports are dropped
    // Stop pressed: reports the worker sent before it saw the stop are
    // dropped, so that the groups stay as they were; those of a group that
    // goes on after a stop (the flash writing) are still drawn.
    bool stopPressed_ = false;
};
