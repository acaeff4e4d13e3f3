#include "desktop_win32/downloaddlg.h"

#include <commctrl.h>

#include <algorithm>

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "core/scan.h"
#include "core/textfmt.h"
#include "desktop_win32/advinfodlg.h"
#include "desktop_win32/mirdelapp.h"
#include "desktop_win32/resource.h"
#include "platform/portwatch.h"

namespace
{

// The controls of the three progress groups, by group.
const int kLabel[RUN_GROUP_COUNT] = {IDC_UPLOAD_LABEL, IDC_FLASH_LABEL, IDC_VERIFY_LABEL};
const int kNumber[RUN_GROUP_COUNT] = {IDC_UPLOAD_PERCENT, IDC_FLASH_PERCENT, IDC_VERIFY_PERCENT};
const int kSign[RUN_GROUP_COUNT] = {IDC_UPLOAD_SIGN, IDC_FLASH_SIGN, IDC_VERIFY_SIGN};
const int kBar[RUN_GROUP_COUNT] = {IDC_UPLOAD_BAR, IDC_FLASH_BAR, IDC_VERIFY_BAR};

// A tooltip wraps at this width (pixels), so that the line breaks of a
// port's description show.
#define DOWNLOADDLG_TIP_WIDTH 400

HINSTANCE downloaddlg_instance()
{
    return theApp.instance ? theApp.instance : GetModuleHandleA(nullptr);
}

std::string downloaddlg_text(HWND window)
{
    int n = GetWindowTextLengthA(window);
    std::string text(static_cast<size_t>(n) + 1, '\0');
    n = GetWindowTextA(window, text.data(), n + 1);
    text.resize(static_cast<size_t>(n > 0 ? n : 0));
    return text;
}

// Client coordinates of a child of the dialog.
RECT downloaddlg_child_rect(HWND dialog, HWND child)
{
    RECT r;
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT *>(&r), 2);
    return r;
}

// The small window that shows how far the analysis of a file has come
// (template 187). It exists only while ScanFile reads the file, and never
// takes the focus (nor the activation that goes with it).
INT_PTR CALLBACK downloaddlg_analysis_proc(HWND, UINT, WPARAM, LPARAM)
{
    return FALSE;
}

void downloaddlg_scan_progress(void *context, int percent)
{
    HWND bar = GetDlgItem(static_cast<HWND>(context), IDC_ANALYSIS_BAR);
    SendMessageA(bar, PBM_SETPOS, static_cast<WPARAM>(percent), 0);
    UpdateWindow(bar); // the analysis holds the thread: paint now
}

// Centres a window over its owner, or over the screen without one.
void downloaddlg_centre(HWND window, HWND owner)
{
    RECT w, area;
    GetWindowRect(window, &w);
    if (!owner || !IsWindowVisible(owner) || !GetWindowRect(owner, &area))
        SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    int x = (area.left + area.right - (w.right - w.left)) / 2;
    int y = (area.top + area.bottom - (w.bottom - w.top)) / 2;
    SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// The date in the user's short date format and the time in the user's
// time format; the reason instead when the time could not be read.
std::string downloaddlg_modified_text(const ScanFileInfo &info)
{
    if (!info.modifiedValid)
        return info.modifiedError;
    const std::tm &t = info.modified;
    SYSTEMTIME st = {};
    st.wYear = static_cast<WORD>(t.tm_year + 1900);
    st.wMonth = static_cast<WORD>(t.tm_mon + 1);
    st.wDay = static_cast<WORD>(t.tm_mday);
    st.wDayOfWeek = static_cast<WORD>(t.tm_wday);
    st.wHour = static_cast<WORD>(t.tm_hour);
    st.wMinute = static_cast<WORD>(t.tm_min);
    st.wSecond = static_cast<WORD>(t.tm_sec > 59 ? 59 : t.tm_sec);
    // Room for any format the user may have chosen.
    char date[128] = "", time[128] = "";
    if (!GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &st, nullptr, date, sizeof date))
        date[0] = '\0';
    if (!GetTimeFormatA(LOCALE_USER_DEFAULT, 0, &st, nullptr, time, sizeof time))
        time[0] = '\0';
    return TextFormat(SCAN_MODIFIED_FORMAT, date, time);
}

} // namespace

CDownloadDlg::CDownloadDlg(HWND parent) : parent_(parent) {}

CDownloadDlg::~CDownloadDlg()
{
    // Only reached with a run going when the dialog is torn down from
    // outside: the worker never waits for the window, so it can end.
    wakeWindow_.store(nullptr);
    if (run_) {
        run_->RequestStop();
        run_->Join();
        run_.reset();
    }
    if (boldFont)
        DeleteObject(boldFont);
    MdlFirmwareRelease(&firmware);
}

void CDownloadDlg::ScanErrorBox(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    std::string message = TextFormatV(fmt, ap);
    va_end(ap);
    ShowScanError(message, std::string());
}

void CDownloadDlg::ShowScanError(const std::string &message, const std::string &place)
{
    AppMessageBox(hwnd_ ? hwnd_ : parent_, ScanReportError(message, place), MB_ICONSTOP);
}

int CDownloadDlg::ScanFile(const char *path)
{
    std::string unopened;
    if (!ScanCanOpen(path, &unopened)) {
        ScanErrorBox("%s", unopened.c_str());
        return 0;
    }

    ScanFileInfo info;
    std::string message;
    HCURSOR previous = SetCursor(LoadCursorA(nullptr, MAKEINTRESOURCEA(32514))); // IDC_WAIT
    HWND progress = CreateDialogParamA(downloaddlg_instance(), MAKEINTRESOURCEA(IDD_ANALYZING),
                                       parent_, downloaddlg_analysis_proc, 0);
    if (progress) {
        SendDlgItemMessageA(progress, IDC_ANALYSIS_BAR, PBM_SETRANGE32, 0, 100);
        downloaddlg_centre(progress, parent_);
        ShowWindow(progress, SW_SHOWNA);
        UpdateWindow(progress);
    }
    int result = ScanFirmwareFile(path, &firmware, &info, &message,
                                  progress ? downloaddlg_scan_progress : nullptr, progress);
    if (progress)
        DestroyWindow(progress);
    SetCursor(previous);

    filePath = path;
    // A relative path's folder shows as the absolute one it stands for.
    ScanSplitPath(ScanAbsolutePath(filePath), &fileName, &location);
    fileSize = info.fileSize;
    fileStamp = RunFileStampOf(info);
    sizeText = ScanSizeText(fileSize);
    modifiedText = downloaddlg_modified_text(info);
    if (result != 1)
        ShowScanError(message, ScanErrorPlace(info)); // the place goes to the log only
    return result == 1 ? 1 : 0;
}

INT_PTR CDownloadDlg::DoModal()
{
    INT_PTR result = DialogBoxParamA(downloaddlg_instance(), MAKEINTRESOURCEA(IDD_DOWNLOAD),
                                     parent_, DialogProc, reinterpret_cast<LPARAM>(this));
    hwnd_ = nullptr;
    return result;
}

INT_PTR CALLBACK CDownloadDlg::DialogProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    if (msg == WM_INITDIALOG) {
        SetWindowLongPtrA(hwnd, DWLP_USER, lp);
        auto *self = reinterpret_cast<CDownloadDlg *>(lp);
        self->hwnd_ = hwnd;
        return self->OnInitDialog();
    }
    auto *self = reinterpret_cast<CDownloadDlg *>(GetWindowLongPtrA(hwnd, DWLP_USER));
    return self ? self->Dispatch(msg, wp, lp) : FALSE;
}

INT_PTR CDownloadDlg::Dispatch(UINT msg, WPARAM wp, LPARAM lp)
{
    switch (msg) {
    case WM_COMMAND:
        OnCommand(LOWORD(wp), HIWORD(wp));
        return TRUE;
    case WM_NOTIFY:
        return OnToolTipNeedText(reinterpret_cast<NMHDR *>(lp));
    case WM_RUN_EVENTS:
        TakeEvents();
        return TRUE;
    case WM_UPLOAD_DONE:
        OnMirdelDone(static_cast<UploadResult>(wp));
        return TRUE;
    case WM_CLOSE:
        // The window's Close command is refused while a run is going; else
        // it is Cancel.
        if (!running_)
            OnCancelOrStop();
        return TRUE;
    case WM_SETCURSOR:
        if (busyCursor_ && LOWORD(lp) == HTCLIENT) {
            SetCursor(LoadCursorA(nullptr, MAKEINTRESOURCEA(32650))); // IDC_APPSTARTING
            SetWindowLongPtrA(hwnd_, DWLP_MSGRESULT, TRUE);
            return TRUE;
        }
        return FALSE;
    case WM_APP_PORTS_CHANGED:
        OnPortsChanged();
        return TRUE;
    case WM_DESTROY:
        PlatPortWatchStop(portWatch_);
        portWatch_ = nullptr;
        wakeWindow_.store(nullptr);
        return FALSE;
    default:
        return FALSE;
    }
}

void CDownloadDlg::OnCommand(int id, int code)
{
    switch (id) {
    case IDC_START:
    case IDOK: // Enter while Start is the default button
        if (code == BN_CLICKED && IsWindowEnabled(Item(IDC_START)))
            OnStart();
        break;
    case IDC_CANCEL_STOP:
    case IDCANCEL: // Esc: Cancel, or Stop during a run
        if (code == BN_CLICKED)
            OnCancelOrStop();
        break;
    case IDC_ADVANCED:
        if (code == BN_CLICKED)
            OnAdvanced();
        break;
    case IDC_VERIFY:
        if (code == BN_CLICKED)
            OnVerify();
        break;
    default:
        break;
    }
}

BOOL CDownloadDlg::OnInitDialog()
{
    downloaddlg_centre(hwnd_, parent_);
    AddToolTips();
    CheckDlgButton(hwnd_, IDC_VERIFY, BST_CHECKED);
    FillPortBox();
    portWatch_ = AppWatchPorts(hwnd_);
    fontsCreated = false;
    running_ = false;
    SendDlgItemMessageA(hwnd_, IDC_ANIMATION, ACM_OPENA,
                        reinterpret_cast<WPARAM>(downloaddlg_instance()),
                        reinterpret_cast<LPARAM>(MAKEINTRESOURCEA(IDR_AVI_UPLOAD)));
    TransferTexts();

    // The note of a group that goes on after a stop, hidden until then.
    HFONT font = reinterpret_cast<HFONT>(SendMessageA(hwnd_, WM_GETFONT, 0, 0));
    for (int g = 0; g < RUN_GROUP_COUNT; g++) {
        if (const char *note = RunStopNote(g)) {
            note_[g] = CreateWindowExA(
                0, "STATIC", note, WS_CHILD | SS_LEFT | SS_NOPREFIX, 0, 0, 0, 0, hwnd_,
                reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_GROUP_NOTE + g)),
                downloaddlg_instance(), nullptr);
            SendMessageA(note_[g], WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        }
    }
    SetFocus(Item(IDC_START));
    return FALSE; // the focus is set
}

void CDownloadDlg::AddToolTips()
{
    toolTip_ = CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr,
                               WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT,
                               CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd_, nullptr,
                               downloaddlg_instance(), nullptr);
    if (!toolTip_)
        return;
    SendMessageA(toolTip_, TTM_SETMAXTIPWIDTH, 0, DOWNLOADDLG_TIP_WIDTH);
    std::vector<HWND> tools = {Item(IDC_LOCATION), Item(IDC_SIZE), Item(IDC_MODIFIED),
                               Item(IDC_PORT)};
    for (int id : kBar)
        tools.push_back(Item(id));
    // The box's edit field takes the mouse over most of the box.
    COMBOBOXINFO combo = {};
    combo.cbSize = sizeof combo;
    if (GetComboBoxInfo(Item(IDC_PORT), &combo) && combo.hwndItem)
        tools.push_back(combo.hwndItem);
    for (HWND tool : tools) {
        TOOLINFOA ti = {};
        ti.cbSize = TTTOOLINFOA_V2_SIZE; // common controls 5 and 6 alike
        ti.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        ti.hwnd = hwnd_;
        ti.uId = reinterpret_cast<UINT_PTR>(tool);
        ti.lpszText = LPSTR_TEXTCALLBACKA;
        SendMessageA(toolTip_, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&ti));
    }
}

void CDownloadDlg::TransferTexts()
{
    const struct {
        int id;
        const std::string &text;
    } fields[] = {{IDC_FILE_NAME, fileName},
                  {IDC_LOCATION, location},
                  {IDC_SIZE, sizeText},
                  {IDC_MODIFIED, modifiedText}};
    for (const auto &f : fields)
        SetDlgItemTextA(hwnd_, f.id, f.text.c_str());
}

void CDownloadDlg::FillPortBox()
{
    HWND box = Item(IDC_PORT);
    portItems_ = StartupPortBoxItems(theApp.ports);
    SendMessageA(box, CB_RESETCONTENT, 0, 0);
    for (const StartupPortItem &item : portItems_)
        SendMessageA(box, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.name.c_str()));
    int count = static_cast<int>(portItems_.size());

    // The drop-down part shows every item.
    RECT dropped;
    SendMessageA(box, CB_GETDROPPEDCONTROLRECT, 0, reinterpret_cast<LPARAM>(&dropped));
    MapWindowPoints(nullptr, hwnd_, reinterpret_cast<POINT *>(&dropped), 2);
    int itemHeight = static_cast<int>(SendMessageA(box, CB_GETITEMHEIGHT, 0, 0));
    int fieldHeight =
        static_cast<int>(SendMessageA(box, CB_GETITEMHEIGHT, static_cast<WPARAM>(-1), 0));
    SetWindowPos(box, nullptr, dropped.left, dropped.top, dropped.right - dropped.left,
                 itemHeight * count + fieldHeight + 10, SWP_NOZORDER | SWP_NOACTIVATE);
    SendMessageA(box, CB_SETMINVISIBLE, static_cast<WPARAM>(count > 0 ? count : 1), 0);

    // The list is as wide as its widest name.
    HDC dc = GetDC(box);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(box, WM_GETFONT, 0, 0)));
    int widest = 0;
    for (const StartupPortItem &item : portItems_) {
        SIZE size;
        if (GetTextExtentPoint32A(dc, item.name.c_str(), static_cast<int>(item.name.size()),
                                  &size) &&
            size.cx > widest)
            widest = size.cx;
    }
    SelectObject(dc, old);
    ReleaseDC(box, dc);
    SendMessageA(box, CB_SETDROPPEDWIDTH,
                 static_cast<WPARAM>(widest + 2 * GetSystemMetrics(SM_CXEDGE) +
                                     GetSystemMetrics(SM_CXVSCROLL)),
                 0);

    if (count == 0)
        return;
    // The box sorts by itself: select the chosen name wherever it stands.
    const std::string &chosen = portItems_[StartupPortBoxSelect(portItems_, theApp.lastPort)].name;
    LRESULT at = SendMessageA(box, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                              reinterpret_cast<LPARAM>(chosen.c_str()));
    SendMessageA(box, CB_SETCURSEL, static_cast<WPARAM>(at == CB_ERR ? 0 : at), 0);
}

void CDownloadDlg::OnPortsChanged()
{
    // What is in the box's field stays, typed or chosen; a run's box is
    // left alone.
    if (running_ || !AppReloadPorts())
        return;
    std::string name = downloaddlg_text(Item(IDC_PORT));
    FillPortBox();
    SetWindowTextA(Item(IDC_PORT), name.c_str());
}

std::string CDownloadDlg::PortTip() const
{
    std::string name = downloaddlg_text(Item(IDC_PORT));
    for (const StartupPortItem &item : portItems_)
        if (lstrcmpiA(item.name.c_str(), name.c_str()) == 0 && !item.tip.empty())
            return name + "\n" + item.tip;
    return name;
}

std::string CDownloadDlg::ToolTipText(int controlId) const
{
    // A bar tells the resends the instrument asked for, if any.
    for (int g = 0; g < RUN_GROUP_COUNT; g++)
        if (controlId == kBar[g])
            return RunResendText(resends_[g]);
    const std::string *text = controlId == IDC_LOCATION   ? &location
                              : controlId == IDC_SIZE     ? &sizeText
                              : controlId == IDC_MODIFIED ? &modifiedText
                                                          : nullptr;
    return text ? TextCut(*text, SCAN_TOOLTIP_MAX) : std::string();
}

bool CDownloadDlg::OnToolTipNeedText(NMHDR *header)
{
    if (header->code != TTN_NEEDTEXTA && header->code != TTN_NEEDTEXTW)
        return false;
    auto *a = reinterpret_cast<NMTTDISPINFOA *>(header);
    HWND tool = nullptr;
    int id = static_cast<int>(header->idFrom);
    if (a->uFlags & TTF_IDISHWND) {
        tool = reinterpret_cast<HWND>(header->idFrom);
        id = GetDlgCtrlID(tool);
    }
    HWND box = Item(IDC_PORT);
    bool port = tool && (tool == box || GetParent(tool) == box);
    // A property's text fits the request's own buffer; the port's
    // description may be longer and is pointed to.
    tipText_ = port ? PortTip() : ToolTipText(id);
    if (header->code == TTN_NEEDTEXTA) {
        a->hinst = nullptr;
        a->szText[0] = '\0';
        a->lpszText = tipText_.data();
        return true;
    }
    auto *w = reinterpret_cast<NMTTDISPINFOW *>(header);
    static thread_local std::wstring wide;
    int n = MultiByteToWideChar(CP_UTF8, 0, tipText_.c_str(), -1, nullptr, 0);
    wide.assign(static_cast<size_t>(n > 0 ? n : 1), L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_UTF8, 0, tipText_.c_str(), -1, wide.data(), n);
    w->hinst = nullptr;
    w->lpszText = wide.data();
    return true;
}

void CDownloadDlg::OnVerify()
{
    BOOL show = !IsWindowEnabled(Item(IDC_VERIFY_BAR));
    for (int id : {IDC_VERIFY_BAR, IDC_VERIFY_LABEL, IDC_VERIFY_SIGN, IDC_VERIFY_PERCENT}) {
        ShowWindow(Item(id), show ? SW_SHOW : SW_HIDE);
        EnableWindow(Item(id), show);
    }
}

void CDownloadDlg::OnAdvanced()
{
    CAdvancedInfoDlg dlg(hwnd_);
    dlg.SetFirmware(firmware);
    dlg.DoModal();
}

void CDownloadDlg::OnStart()
{
    if (running_)
        return;
    std::string name = downloaddlg_text(Item(IDC_PORT));
    theApp.lastPort = name;
    if (AppAddTypedPort(name))
        FillPortBox();

    if (!AppUploadChecksPass(hwnd_, firmware))
        return;

    // The worker's reports are drawn by this thread after this function,
    // so the running state below is in place before the worker shows
    // anything.
    RunOptions options;
    options.verify = IsDlgButtonChecked(hwnd_, IDC_VERIFY) == BST_CHECKED;
    options.file = fileStamp;
    events_.SetStopPressed(false);
    wakeWindow_.store(hwnd_);
    std::string failure;
    run_ = RunStartOn(name, firmware, filePath, events_, options, failure);
    if (!run_) {
        if (!failure.empty())
            AppMessageBox(hwnd_, failure, MB_ICONSTOP);
        return;
    }
    EnterRunning();
    // Frame 0 is the idle picture; the run loops over the others.
    SendDlgItemMessageA(hwnd_, IDC_ANIMATION, ACM_PLAY, static_cast<WPARAM>(-1),
                        MAKELPARAM(1, 0xFFFF));
}

void CDownloadDlg::EnterRunning()
{
    running_ = true;
    savedTitle = downloaddlg_text(hwnd_);
    SetWindowTextA(hwnd_, RUN_TITLE_RUNNING);
    HWND cancel = Item(IDC_CANCEL_STOP);
    SetWindowTextA(cancel, RUN_BUTTON_STOP);
    SendMessageA(hwnd_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(cancel), TRUE);
    SendMessageA(hwnd_, DM_SETDEFID, IDC_CANCEL_STOP, 0);
    SendMessageA(Item(IDC_START), BM_SETSTYLE, BS_PUSHBUTTON, TRUE);
    SendMessageA(cancel, BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
    UpdateWindow(cancel);
    for (int id : {IDC_START, IDC_PORT, IDC_ADVANCED, IDC_VERIFY})
        EnableWindow(Item(id), FALSE);
    EnableMenuItem(GetSystemMenu(hwnd_, FALSE), SC_CLOSE, MF_BYCOMMAND | MF_GRAYED);
}

void CDownloadDlg::OnCancelOrStop()
{
    theApp.lastPort = downloaddlg_text(Item(IDC_PORT));
    if (!running_) {
        EndDialog(hwnd_, IDCANCEL);
        return;
    }
    if (run_) {
        run_->RequestStop();
        events_.SetStopPressed(true);
        // The run may go on for a while (the instrument finishes writing its
        // flash first): show at once that the stop was taken.
        HWND cancel = Item(IDC_CANCEL_STOP);
        SetWindowTextA(cancel, RUN_BUTTON_STOPPING);
        EnableWindow(cancel, FALSE);
    }
}

void CDownloadDlg::OnMirdelDone(UploadResult result)
{
    HWND animation = Item(IDC_ANIMATION);
    SendMessageA(animation, ACM_STOP, 0, 0);
    SendMessageA(animation, ACM_PLAY, 1, MAKELPARAM(0, 0)); // frame 0

    RunOutcome outcome = RunEnd(run_, result);
    busyCursor_ = false;
    if (outcome.icon != RUN_ICON_NONE)
        AppMessageBox(hwnd_, outcome.text, AppIconOf(outcome.icon));

    RestoreIdle();
    if (result == UPLOAD_OK)
        EndDialog(hwnd_, IDOK);
}

void CDownloadDlg::RestoreIdle()
{
    SetWindowTextA(hwnd_, savedTitle.c_str());
    HWND cancel = Item(IDC_CANCEL_STOP);
    SetWindowTextA(cancel, RUN_BUTTON_CANCEL);
    EnableWindow(cancel, TRUE);
    HWND start = Item(IDC_START);
    EnableWindow(start, TRUE);
    SendMessageA(hwnd_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(start), TRUE);
    SendMessageA(hwnd_, DM_SETDEFID, IDC_START, 0);
    SendMessageA(cancel, BM_SETSTYLE, BS_PUSHBUTTON, TRUE);
    SendMessageA(start, BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
    EnableMenuItem(GetSystemMenu(hwnd_, FALSE), SC_CLOSE, MF_BYCOMMAND | MF_ENABLED);
    for (int id : {IDC_PORT, IDC_ADVANCED, IDC_VERIFY})
        EnableWindow(Item(id), TRUE);
    for (int g = 0; g < RUN_GROUP_COUNT; g++) {
        SendDlgItemMessageA(hwnd_, kBar[g], PBM_SETPOS, 0, 0);
        if (fontsCreated)
            SetGroupFont(g, normalFont);
        SetDlgItemTextA(hwnd_, kNumber[g], "0");
        SetDlgItemTextA(hwnd_, kLabel[g], RunGroupLabels[g]);
        ShowNote(g, false);
    }
    running_ = false;
}

void CDownloadDlg::SetGroupFont(int group, HFONT font)
{
    for (int id : {kLabel[group], kNumber[group], kSign[group]})
        SendDlgItemMessageA(hwnd_, id, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
}

void CDownloadDlg::ShowNote(int group, bool show)
{
    HWND note = note_[group];
    if (!note || show == (IsWindowVisible(note) != FALSE))
        return;
    RECT bar = downloaddlg_child_rect(hwnd_, Item(kBar[group]));
    RECT gap = {0, 0, 0, 1};
    MapDialogRect(hwnd_, &gap);
    int shift = -noteShift_;
    if (show) {
        // As high as the text needs at the bar's width.
        RECT text = {0, 0, bar.right - bar.left, 0};
        std::string note_text = downloaddlg_text(note);
        HDC dc = GetDC(note);
        HGDIOBJ old =
            SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(note, WM_GETFONT, 0, 0)));
        DrawTextA(dc, note_text.c_str(), -1, &text, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
        SelectObject(dc, old);
        ReleaseDC(note, dc);
        SetWindowPos(note, nullptr, bar.left, bar.bottom + gap.bottom, bar.right - bar.left,
                     text.bottom, SWP_NOZORDER | SWP_NOACTIVATE);
        shift = text.bottom + gap.bottom;
    }
    // Everything below the bar moves by the note's height, and so does the
    // dialog's bottom edge.
    for (HWND c = GetWindow(hwnd_, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        RECT r = downloaddlg_child_rect(hwnd_, c);
        if (c != note && r.top >= bar.bottom)
            SetWindowPos(c, nullptr, r.left, r.top + shift, 0, 0,
                         SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    RECT w;
    GetWindowRect(hwnd_, &w);
    SetWindowPos(hwnd_, nullptr, 0, 0, w.right - w.left, w.bottom - w.top + shift,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    noteShift_ = show ? shift : 0;
    ShowWindow(note, show ? SW_SHOWNA : SW_HIDE);
    InvalidateRect(hwnd_, nullptr, TRUE);
}

void CDownloadDlg::TakeEvents()
{
    for (const RunEvent &e : events_.Take())
        ShowEvent(e);
}

void CDownloadDlg::ShowEvent(const RunEvent &e)
{
    switch (e.kind) {
    case RunEvent::BEGIN:
        for (int id : kBar)
            SendDlgItemMessageA(hwnd_, id, PBM_SETRANGE32, 0, RUN_BAR_MAX);
        std::fill(std::begin(resends_), std::end(resends_), 0u);
        busyCursor_ = true;
        return;
    case RunEvent::FINISHED:
        PostMessageA(hwnd_, WM_UPLOAD_DONE, static_cast<WPARAM>(e.result), 0);
        return;
    case RunEvent::STOPPING:
        ShowNote(e.group, true);
        return;
    case RunEvent::PROGRESS: {
        SendDlgItemMessageA(hwnd_, kBar[e.group], PBM_SETPOS, static_cast<WPARAM>(e.bar), 0);
        resends_[e.group] = e.resends; // the bar's tooltip
        std::string number = std::to_string(e.percent);
        if (downloaddlg_text(Item(kNumber[e.group])) != number)
            SetDlgItemTextA(hwnd_, kNumber[e.group], number.c_str());
        return;
    }
    default:
        break;
    }
    bool started = e.kind == RunEvent::STARTED;
    if (started && !fontsCreated) {
        normalFont =
            reinterpret_cast<HFONT>(SendDlgItemMessageA(hwnd_, IDC_VERIFY, WM_GETFONT, 0, 0));
        LOGFONTA lf = {};
        if (normalFont && GetObjectA(normalFont, sizeof lf, &lf)) {
            lf.lfWeight = FW_BOLD;
            boldFont = CreateFontIndirectA(&lf);
        }
        fontsCreated = normalFont && boldFont;
    }
    std::string label =
        std::string(RunGroupLabels[e.group]) + (started ? RUN_LABEL_BUSY : RUN_LABEL_DONE);
    SetDlgItemTextA(hwnd_, kLabel[e.group], label.c_str());
    if (fontsCreated)
        SetGroupFont(e.group, started ? boldFont : normalFont);
}
