// The main window (dialog template 195): the product's title area and the
// Upload, Close and Help buttons. Closing it ends the program.
#pragma once

#include <windows.h>

#include <string>

#define MIRDEL_FILE_DIALOG_TITLE "Select firmware file for upload"
// The system's filter form: label and pattern pairs, ended by an empty one.
#define MIRDEL_FILE_FILTER "Varno Firmware Files (*.srec)\0*.srec\0All Files (*.*)\0*.*\0"

// Posted to itself after a drop, so that the upload dialog runs once the
// drag's source has its answer.
#define WM_MIRDEL_OPEN_DROPPED (WM_APP + 1)

class CMirdelDlg
{
  public:
    CMirdelDlg();
    ~CMirdelDlg();
    CMirdelDlg(const CMirdelDlg &) = delete;
    CMirdelDlg &operator=(const CMirdelDlg &) = delete;

    // Runs dialog template 195 modally; the result is IDCANCEL once closed.
    INT_PTR DoModal();
    HWND Window() const { return hwnd_; }

    void OnUploadButton();
    void OnCloseButton();
    void OnHelpButton();
    // Analyses the file and, when that succeeds, runs the upload dialog on it.
    void OpenUploadDialog(const std::string &path);
    // The station window, on the command line's file when there is one
    // (the system menu's Station...).
    void OpenStation();

    HICON LargeIcon() const { return largeIcon_; }
    HICON SmallIcon() const { return smallIcon_; }

  protected:
    BOOL OnInitDialog();

  private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    INT_PTR OnMessage(UINT msg, WPARAM wp, LPARAM lp);
    // Draws the large icon while minimised; false when default painting is due.
    bool OnPaint();
    void OnDropFiles(HDROP drop);

    HWND hwnd_ = nullptr;
    HICON largeIcon_ = nullptr;
    HICON smallIcon_ = nullptr;
    HFONT smallFont_ = nullptr;
    std::string dropped_; // the file of the last drop, until its upload dialog runs
};
