// The file-open dialog in which the user picks a firmware file: the
// system's common dialog, in explorer style.
#pragma once

#include <windows.h>

#include <string>

class CMyFileDialog
{
  public:
    // filter: the system's form, pairs of "label\0pattern\0" ending in
    // "\0\0"; the first pair is preselected.
    CMyFileDialog(HWND parent, const char *title, const char *filter, DWORD flags);

    // IDOK with a file chosen, IDCANCEL when cancelled or when the dialog
    // failed (Error() then tells the common dialog's extended error).
    INT_PTR DoModal();
    const std::string &Path() const { return path_; }
    DWORD Error() const { return error_; }

  private:
    HWND parent_;
    const char *title_;
    const char *filter_;
    DWORD flags_;
    std::string path_;
    DWORD error_ = 0;
};
