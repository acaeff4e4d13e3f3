#include "desktop_win32/myfiledialog.h"

#include <commdlg.h>

CMyFileDialog::CMyFileDialog(HWND parent, const char *title, const char *filter, DWORD flags)
    : parent_(parent), title_(title), filter_(filter), flags_(flags)
{
}

INT_PTR CMyFileDialog::DoModal()
{
    char file[MAX_PATH] = "";
    OPENFILENAMEA ofn = {};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = parent_;
    ofn.lpstrFilter = filter_;
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = file;
    ofn.nMaxFile = sizeof file;
    ofn.lpstrTitle = title_;
    ofn.Flags = flags_;
    path_.clear();
    error_ = 0;
    if (!GetOpenFileNameA(&ofn)) {
        error_ = CommDlgExtendedError();
        return IDCANCEL;
    }
    path_ = file;
    return IDOK;
}
