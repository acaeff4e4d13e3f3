#include "desktop_win32/advinfodlg.h"

// winuser.h names a cursor IDC_SIZE; the upload dialog's size field
// takes the name in resource.h.
#undef IDC_SIZE
#include "desktop_win32/resource.h"

CAdvancedInfoDlg::CAdvancedInfoDlg(HWND parent) : parent_(parent) {}

void CAdvancedInfoDlg::SetFirmware(const Firmware &firmware)
{
    firmware_ = &firmware;
}

INT_PTR CAdvancedInfoDlg::DoModal()
{
    INT_PTR result = DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_ADVANCED),
                                     parent_, DialogProc, reinterpret_cast<LPARAM>(this));
    hwnd_ = nullptr;
    return result;
}

BOOL CAdvancedInfoDlg::OnInitDialog()
{
    return TRUE;
}

INT_PTR CALLBACK CAdvancedInfoDlg::DialogProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    auto *self = reinterpret_cast<CAdvancedInfoDlg *>(GetWindowLongPtrA(hwnd, DWLP_USER));
    if (msg == WM_INITDIALOG) {
        self = reinterpret_cast<CAdvancedInfoDlg *>(lp);
        SetWindowLongPtrA(hwnd, DWLP_USER, lp);
        self->hwnd_ = hwnd;
        return self->OnInitDialog();
    }
    if (!self)
        return FALSE;
    if (msg == WM_COMMAND && (LOWORD(wp) == IDOK || LOWORD(wp) == IDCANCEL)) {
        EndDialog(hwnd, LOWORD(wp));
        return TRUE;
    }
    return FALSE;
}
