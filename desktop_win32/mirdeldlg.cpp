#include "desktop_win32/mirdeldlg.h"

#include <shellapi.h>

#include "core/help.h"
#include "core/textfmt.h"
#include "desktop_win32/downloaddlg.h"
#include "desktop_win32/mirdelapp.h"
#include "desktop_win32/myfiledialog.h"
#include "desktop_win32/resource.h"
#include "desktop_win32/stationdlg.h"
#include "platform/desktop.h"

#define MIRDELDLG_HELP_OPEN_WAIT_MS 3000
#define MIRDELDLG_MODULE_NAME_SIZE 1024

CMirdelDlg::CMirdelDlg()
{
    largeIcon_ = LoadIconA(theApp.instance, MAKEINTRESOURCEA(IDR_MAINFRAME));
    if (!largeIcon_)
        AppMessageBox(nullptr, "LoadIcon(IDR_MAINFRAME) failed", MB_ICONEXCLAMATION);
    smallIcon_ = static_cast<HICON>(LoadImageA(theApp.instance, MAKEINTRESOURCEA(IDR_MAINFRAME),
                                               IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                               GetSystemMetrics(SM_CYSMICON), 0));
    if (!smallIcon_)
        AppMessageBox(nullptr, "LoadImage(IDR_MAINFRAME,SMICON) failed", MB_ICONEXCLAMATION);
}

CMirdelDlg::~CMirdelDlg()
{
    // The large icon is the system's shared copy; the small one is ours.
    if (smallIcon_)
        DestroyIcon(smallIcon_);
}

INT_PTR CMirdelDlg::DoModal()
{
    return DialogBoxParamA(theApp.instance, MAKEINTRESOURCEA(IDD_MIRDEL_DIALOG), nullptr,
                           DialogProc, reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK CMirdelDlg::DialogProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    auto *self = reinterpret_cast<CMirdelDlg *>(GetWindowLongPtrA(hwnd, DWLP_USER));
    if (msg == WM_INITDIALOG) {
        self = reinterpret_cast<CMirdelDlg *>(lp);
        SetWindowLongPtrA(hwnd, DWLP_USER, lp);
        self->hwnd_ = hwnd;
    }
    if (!self)
        return FALSE;
    INT_PTR r = self->OnMessage(msg, wp, lp);
    if (msg == WM_NCDESTROY)
        self->hwnd_ = nullptr;
    return r;
}

INT_PTR CMirdelDlg::OnMessage(UINT msg, WPARAM wp, LPARAM)
{
    switch (msg) {
    case WM_INITDIALOG:
        return OnInitDialog();
    case WM_COMMAND:
        switch (LOWORD(wp)) {
        case IDC_UPLOAD:
            OnUploadButton();
            return TRUE;
        case IDC_CLOSE:
        case IDCANCEL:
            OnCloseButton();
            return TRUE;
        case IDC_HELP_BUTTON:
            OnHelpButton();
            return TRUE;
        }
        return FALSE;
    case WM_SYSCOMMAND:
        if ((wp & 0xFFF0) != IDM_STATION)
            return FALSE;
        OpenStation();
        return TRUE;
    case WM_PAINT:
        return OnPaint();
    case WM_QUERYDRAGICON:
        return reinterpret_cast<INT_PTR>(largeIcon_);
    case WM_DROPFILES:
        OnDropFiles(reinterpret_cast<HDROP>(wp));
        return TRUE;
    case WM_MIRDEL_OPEN_DROPPED: {
        std::string path;
        path.swap(dropped_);
        if (!path.empty())
            OpenUploadDialog(path);
        return TRUE;
    }
    case WM_DESTROY:
        DragAcceptFiles(hwnd_, FALSE);
        if (smallFont_) {
            SendDlgItemMessageA(hwnd_, IDC_LEGAL, WM_SETFONT, 0, FALSE);
            DeleteObject(smallFont_);
            smallFont_ = nullptr;
        }
        return FALSE;
    }
    return FALSE;
}

BOOL CMirdelDlg::OnInitDialog()
{
    HMENU sys = GetSystemMenu(hwnd_, FALSE);
    if (sys) {
        DeleteMenu(sys, SC_MAXIMIZE, MF_BYCOMMAND);
        DeleteMenu(sys, SC_SIZE, MF_BYCOMMAND);
        // The station is reached from here, so that no control of the
        // window moves.
        char station[64] = "";
        LoadStringA(theApp.instance, IDS_ST_MENU, station, sizeof station);
        AppendMenuA(sys, MF_SEPARATOR, 0, nullptr);
        AppendMenuA(sys, MF_STRING, IDM_STATION, station);
    }
    if (largeIcon_)
        SendMessageA(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(largeIcon_));
    if (smallIcon_)
        SendMessageA(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_));

    LOGFONTA lf = {};
    lf.lfHeight = 10;
    lstrcpynA(lf.lfFaceName, "Small Fonts", LF_FACESIZE);
    smallFont_ = CreateFontIndirectA(&lf);
    if (smallFont_)
        SendDlgItemMessageA(hwnd_, IDC_LEGAL, WM_SETFONT, reinterpret_cast<WPARAM>(smallFont_),
                            TRUE);

    SetDlgItemTextA(hwnd_, IDC_VERSION_LINE, "Version " MIRDEL_VERSION);
    DragAcceptFiles(hwnd_, TRUE);
    theApp.lastPort.clear();
    return TRUE; // the default button, Upload, has the focus
}

bool CMirdelDlg::OnPaint()
{
    if (!IsIconic(hwnd_))
        return false;
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd_, &ps);
    SendMessageA(hwnd_, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT rc;
    GetClientRect(hwnd_, &rc);
    int w = GetSystemMetrics(SM_CXICON), h = GetSystemMetrics(SM_CYICON);
    DrawIcon(dc, (rc.right - rc.left - w + 1) / 2, (rc.bottom - rc.top - h + 1) / 2, largeIcon_);
    EndPaint(hwnd_, &ps);
    return true;
}

static BOOL CALLBACK mirdeldlg_repaint(HWND child, LPARAM)
{
    RedrawWindow(child, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    return TRUE;
}

void CMirdelDlg::OnUploadButton()
{
    std::string path;
    if (theApp.haveFirmwareArg) {
        path = theApp.firmwareArg;
    } else {
        CMyFileDialog dlg(hwnd_, MIRDEL_FILE_DIALOG_TITLE, MIRDEL_FILE_FILTER,
                          OFN_HIDEREADONLY | OFN_EXPLORER | OFN_ENABLESIZING | OFN_FILEMUSTEXIST);
        if (dlg.DoModal() != IDOK) {
            // Without an extended error the user cancelled: nothing to say.
            if (dlg.Error() != 0)
                AppMessageBox(hwnd_,
                              TextFormat("Dialog box could not be created! (error %lu)",
                                         static_cast<unsigned long>(dlg.Error())),
                              MB_ICONSTOP);
            return;
        }
        path = dlg.Path();
        // The file dialog has just covered the window: bring it back first.
        EnumChildWindows(hwnd_, mirdeldlg_repaint, 0);
    }
    OpenUploadDialog(path);
}

void CMirdelDlg::OpenUploadDialog(const std::string &path)
{
    // Parented so that it and the analysis' error box are centred on this
    // window.
    CDownloadDlg dlg(hwnd_);
    if (dlg.ScanFile(path.c_str()))
        dlg.DoModal();
}

void CMirdelDlg::OpenStation()
{
    CStationDlg dlg(hwnd_);
    if (!theApp.haveFirmwareArg || dlg.ScanFile(theApp.firmwareArg.c_str()))
        dlg.DoModal();
}

void CMirdelDlg::OnDropFiles(HDROP drop)
{
    char path[MAX_PATH] = "";
    bool one = DragQueryFileA(drop, 0xFFFFFFFF, nullptr, 0) == 1 &&
               DragQueryFileA(drop, 0, path, sizeof path) > 0;
    DragFinish(drop);
    DWORD attributes = one ? GetFileAttributesA(path) : INVALID_FILE_ATTRIBUTES;
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return;
    // The drag's source waits for the drop to return: the modal dialog
    // runs after it.
    dropped_ = path;
    PostMessageA(hwnd_, WM_MIRDEL_OPEN_DROPPED, 0, 0);
}

void CMirdelDlg::OnCloseButton()
{
    EndDialog(hwnd_, IDCANCEL);
}

void CMirdelDlg::OnHelpButton()
{
    char program[MIRDELDLG_MODULE_NAME_SIZE] = "";
    GetModuleFileNameA(nullptr, program, sizeof program);
    // The PDF opens maximised, the text file as its viewer likes.
    auto open = [](bool maximised) {
        return [maximised](const std::string &file) {
            return PlatOpenDocument(file.c_str(), MIRDELDLG_HELP_OPEN_WAIT_MS, maximised) == 1;
        };
    };
    HelpOpen(HelpDirectoryOf(program), open(true), open(false),
             [this](const std::string &text) { AppMessageBox(hwnd_, text, MB_ICONSTOP); });
}
