#include "desktop_win32/downloaddlg.h"

#include "desktop_win32/mirdelapp.h"
#include "desktop_win32/resource.h"

CDownloadDlg::CDownloadDlg(HWND parent) : parent_(parent) {}

CDownloadDlg::~CDownloadDlg()
{
    MdlFirmwareRelease(&firmware);
}

int CDownloadDlg::ScanFile(const char *path)
{
    filePath = path;
    return 0; // the analysis is not built yet
}

INT_PTR CDownloadDlg::DoModal()
{
    return DialogBoxParamA(theApp.instance, MAKEINTRESOURCEA(IDD_DOWNLOAD), parent_, DialogProc,
                           reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK CDownloadDlg::DialogProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    if (msg == WM_INITDIALOG) {
        SetWindowLongPtrA(hwnd, DWLP_USER, lp);
        reinterpret_cast<CDownloadDlg *>(lp)->hwnd_ = hwnd;
        return TRUE;
    }
    auto *self = reinterpret_cast<CDownloadDlg *>(GetWindowLongPtrA(hwnd, DWLP_USER));
    if (self && msg == WM_COMMAND && (LOWORD(wp) == IDCANCEL || LOWORD(wp) == IDC_CANCEL_STOP)) {
        self->hwnd_ = nullptr;
        EndDialog(hwnd, IDCANCEL);
        return TRUE;
    }
    return FALSE;
}
