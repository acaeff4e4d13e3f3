// The advanced firmware information dialog (dialog template 194): summary
// lines for the whole file, a flash map and a tree of its images and
// segments. It only reads the Firmware it is given.
#pragma once

#include <windows.h>

#include <string>

struct Firmware;

class CAdvancedInfoDlg
{
  public:
    explicit CAdvancedInfoDlg(HWND parent);

    // Must be called before DoModal; the record stays the caller's and must
    // outlive the dialog's run.
    void SetFirmware(const Firmware &firmware);
    INT_PTR DoModal();
    // While the dialog runs, else nullptr.
    HWND Window() const { return hwnd_; }

    std::string sizeText;
    std::string spanText;
    std::string lowestText;
    std::string highestText;

  protected:
    BOOL OnInitDialog();

  private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);

    HWND parent_;
    HWND hwnd_ = nullptr;
    const Firmware *firmware_ = nullptr;
};
