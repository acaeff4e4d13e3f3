// The upload dialog (dialog template 154): analyses one firmware file
// before it opens, shows the file's properties, and runs, follows and ends
// uploads of it. The worker thread's reports reach the dialog as posted
// window messages; the worker never waits for the window.
#pragma once

#include <windows.h>

#include <string>

#include "firmware/mdl.h"

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
    // Runs dialog template 154 modally: IDOK after a successful upload,
    // IDCANCEL otherwise.
    INT_PTR DoModal();
    // The dialog window while it runs, else nullptr.
    HWND Window() const { return hwnd_; }

    Firmware firmware{};
    std::string location;
    std::string modifiedText;
    std::string sizeText;
    std::string fileName;
    std::string filePath;
    uint64_t fileSize = 0;

  private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);

    HWND parent_;
    HWND hwnd_ = nullptr;
};
