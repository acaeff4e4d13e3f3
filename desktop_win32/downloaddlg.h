// The upload dialog (dialog template 154): analyses one firmware file
// before it opens, shows the file's properties, and runs, follows and ends
// uploads of it. The worker thread's reports are queued in the core's
// RunEventQueue, which wakes the dialog with a posted window message; the
// worker never waits for the window.
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "core/run.h"
#include "core/runevents.h"
#include "core/startup.h"
#include "firmware/mdl.h"

// The worker's reports are waiting (posted by the queue's wake-up).
#define WM_RUN_EVENTS (WM_APP + 2)
// The run is over; wParam: the UploadResult.
#define WM_UPLOAD_DONE (WM_APP + 1)

struct PlatPortWatch;

class CDownloadDlg
{
  public:
    explicit CDownloadDlg(HWND parent);
    ~CDownloadDlg();
    CDownloadDlg(const CDownloadDlg &) = delete;
    CDownloadDlg &operator=(const CDownloadDlg &) = delete;

    // Analyses the file; 1 when it was read to its end without fault, 0
    // when not (the user has seen why). Called once, before DoModal.
    int ScanFile(const char *path);
    void ScanErrorBox(const char *fmt, ...) __attribute__((format(printf, 2, 3)));
    // Runs dialog template 154 modally: IDOK after a successful upload,
    // IDCANCEL otherwise.
    INT_PTR DoModal();
    // The dialog window while it runs, else nullptr.
    HWND Window() const { return hwnd_; }
    // From a started run to its OnMirdelDone.
    bool Running() const { return running_; }

    void FillPortBox();
    // The system's ports changed: the box follows, its text kept.
    void OnPortsChanged();
    void OnStart();
    void OnCancelOrStop();
    void OnMirdelDone(UploadResult result);
    void OnAdvanced();
    void OnVerify();
    // Fills a tooltip's text request; true when it was one of the dialog's.
    bool OnToolTipNeedText(NMHDR *header);
    // The text of a control's tooltip: what it shows, cut to what a tooltip
    // request holds; empty for controls without one.
    std::string ToolTipText(int controlId) const;

    Firmware firmware{};
    std::string location;
    std::string modifiedText;
    std::string sizeText;
    std::string fileName;
    std::string filePath;
    uint64_t fileSize = 0;
    RunFileStamp fileStamp; // what the analysis read
    std::string savedTitle;

  private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    INT_PTR Dispatch(UINT msg, WPARAM wp, LPARAM lp);
    BOOL OnInitDialog();
    void OnCommand(int id, int code);

    // The box of a failed analysis; place (the line) is for the log only.
    void ShowScanError(const std::string &message, const std::string &place);
    void AddToolTips();
    void TransferTexts();
    void EnterRunning();
    void RestoreIdle();
    void TakeEvents();
    void ShowEvent(const RunEvent &event);
    void SetGroupFont(int group, HFONT font);
    // Shows or hides the note below a group that goes on after a stop; the
    // controls below it move down and the dialog grows while it shows.
    void ShowNote(int group, bool show);
    std::string PortTip() const; // the tooltip of the port box's text
    HWND Item(int id) const { return GetDlgItem(hwnd_, id); }

    HWND parent_;
    HWND hwnd_ = nullptr;
    HWND toolTip_ = nullptr;
    HWND note_[RUN_GROUP_COUNT] = {};
    int noteShift_ = 0;   // pixels the controls below the shown note moved
    std::string tipText_; // what the last tooltip request points to
    uint32_t resends_[RUN_GROUP_COUNT] = {}; // per group, for its bar's tooltip
    std::vector<StartupPortItem> portItems_;
    PlatPortWatch *portWatch_ = nullptr;

    HFONT normalFont = nullptr; // the dialog's own, not ours to delete
    HFONT boldFont = nullptr;
    bool fontsCreated = false;

    // The worker's reports; the wake-up posts WM_RUN_EVENTS to the window
    // of the run (the worker reads it while the dialog's thread may end).
    std::atomic<HWND> wakeWindow_{nullptr};
    RunEventQueue events_{[this] {
        if (HWND w = wakeWindow_.load())
            PostMessageA(w, WM_RUN_EVENTS, 0, 0);
    }};
    std::unique_ptr<UploadRun> run_;
    bool running_ = false;
    bool busyCursor_ = false; // the run's cursor is in force
};
