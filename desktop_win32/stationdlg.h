// The station window (dialog template 196): one firmware file to several
// ports at once, one child of the command-line tool per port (the core's
// Station). The station runs on a thread of its own (the core's
// StationRun), which wakes the window by one posted message at a time, so
// that the window's thread never waits for the station.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <memory>
#include <string>
#include <vector>

#include "core/station.h"

class CDownloadDlg;
struct PlatPortWatch;

// The station's news are waiting; the station's run is over (wParam: its status).
#define WM_STATION_EVENTS (WM_APP + 3)
#define WM_STATION_DONE (WM_APP + 4)

class CStationDlg
{
  public:
    explicit CStationDlg(HWND parent);
    ~CStationDlg();
    CStationDlg(const CStationDlg &) = delete;
    CStationDlg &operator=(const CStationDlg &) = delete;

    // Before DoModal: the ports checked when the window opens (added when
    // the system does not list them) and the results file (empty: the
    // default).
    void Choose(const std::vector<std::string> &ports, const std::string &resultsFile);
    // Analyses the file as the upload dialog does (its progress window and
    // error box); 1 when it can be run, 0 when not (the file is then none).
    int ScanFile(const char *path);
    INT_PTR DoModal();
    HWND Window() const { return hwnd_; }
    bool Running() const { return station_ != nullptr; }

    // The system's ports changed: the list follows, checks kept.
    void OnPortsChanged();
    void OnStart();
    void OnStop();
    // The tooltip of a row: its whole outcome, or the flash note.
    std::string RowTip(size_t row) const;
    int RowBar(size_t row) const { return row < rows_.size() ? rows_[row].bar : -1; }

    std::string program; // the command-line tool; by default beside this program

  private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    INT_PTR Dispatch(UINT msg, WPARAM wp, LPARAM lp);
    BOOL OnInitDialog();
    void OnCommand(int id, int code);
    LRESULT OnNotify(NMHDR *header);
    void OnBrowseFile();
    void OnBrowseFolder();
    void OnBrowseResults();
    void OnOpenResults();
    void OnAddPort();
    void FillPorts();
    void ShowFile();
    void EnableControls();
    void DrawRows();
    void OnDone(int status);
    LRESULT DrawBar(NMLVCUSTOMDRAW *draw);
    std::vector<std::string> CheckedPorts() const;
    std::string Text(int id) const;
    HWND Item(int id) const { return GetDlgItem(hwnd_, id); }

    HWND parent_;
    HWND hwnd_ = nullptr;
    std::unique_ptr<CDownloadDlg> file_; // the analysed file, none when it failed
    std::vector<std::string> chosen_;    // the ports checked
    std::string resultsFile_;
    PlatPortWatch *watch_ = nullptr;
    HIMAGELIST icons_ = nullptr;
    bool filling_ = false; // the ports list is being refilled: its checks are ours

    std::vector<StationRow> rows_;
    std::unique_ptr<StationRun> station_;
};
