#include "desktop_win32/stationdlg.h"

#include <shlobj.h>

#include <algorithm>

#include "core/startup.h"
#include "desktop_win32/advinfodlg.h"
#include "desktop_win32/downloaddlg.h"
#include "desktop_win32/mirdelapp.h"
#include "desktop_win32/mirdeldlg.h"
#include "desktop_win32/myfiledialog.h"
#include "desktop_win32/resource.h"
#include "platform/desktop.h"
#include "platform/portwatch.h"
#include "platform/process.h"
#include "support/winerr.h"

namespace
{

enum { COL_PORT, COL_DESCRIPTION, COL_PHASE, COL_BAR, COL_PERCENT, COL_ELAPSED, COL_OUTCOME };
// The rows' columns after the port and its description, and their widths
// in dialog units.
const int kRowWidths[] = {40, 44, 75, 45, 18, 36, 80};
const int kPortWidths[] = {40, 110};
// How long Open results waits to hear whether a viewer took the file.
#define STATIONDLG_OPEN_WAIT_MS 3000

std::string stationdlg_string(UINT id)
{
    char text[256] = "";
    LoadStringA(theApp.instance, id, text, sizeof text);
    return text;
}

void stationdlg_columns(HWND list, int first, const int *widths, int count, HWND dialog)
{
    for (int i = 0; i < count; i++) {
        RECT r = {0, 0, widths[i], 0};
        MapDialogRect(dialog, &r);
        std::string title = stationdlg_string(IDS_ST_COLUMN + first + i);
        LVCOLUMNA c = {};
        c.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM | (i == COL_PERCENT ? LVCF_FMT : 0);
        c.fmt = LVCFMT_RIGHT;
        c.cx = r.right;
        c.pszText = title.data();
        c.iSubItem = i;
        SendMessageA(list, LVM_INSERTCOLUMNA, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&c));
    }
}

void stationdlg_set(HWND list, int item, int sub, const std::string &text, int image = -1)
{
    LVITEMA it = {};
    it.mask = LVIF_TEXT | (image != -1 ? LVIF_IMAGE : 0);
    it.iItem = item;
    it.iSubItem = sub;
    it.pszText = const_cast<char *>(text.c_str());
    it.iImage = image;
    if (sub == 0 && SendMessageA(list, LVM_GETITEMCOUNT, 0, 0) <= item)
        SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&it));
    else
        SendMessageA(list, LVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&it));
}

LPCSTR stationdlg_icon(RunIcon icon)
{
    return icon == RUN_ICON_INFORMATION   ? IDI_ASTERISK
           : icon == RUN_ICON_EXCLAMATION ? IDI_EXCLAMATION
                                          : IDI_HAND;
}

} // namespace

CStationDlg::CStationDlg(HWND parent) : parent_(parent)
{
    std::string self = PlatSelfPath("mirdel.exe");
    program = self.substr(0, self.find_last_of("\\/") + 1) + "mirdel-cli.exe";
}

CStationDlg::~CStationDlg()
{
    // Only with a run going when torn down from outside: stopped and waited for.
    station_.reset();
    if (icons_)
        ImageList_Destroy(icons_);
}

void CStationDlg::Choose(const std::vector<std::string> &ports, const std::string &resultsFile)
{
    chosen_ = ports;
    for (const std::string &name : ports)
        AppAddTypedPort(name);
    resultsFile_ = resultsFile;
}

int CStationDlg::ScanFile(const char *path)
{
    auto file = std::make_unique<CDownloadDlg>(hwnd_ ? hwnd_ : parent_);
    if (!file->ScanFile(path))
        return 0;
    file_ = std::move(file);
    if (hwnd_) {
        ShowFile();
        EnableControls();
    }
    return 1;
}

INT_PTR CStationDlg::DoModal()
{
    INT_PTR r = DialogBoxParamA(theApp.instance, MAKEINTRESOURCEA(IDD_STATION), parent_, DialogProc,
                                reinterpret_cast<LPARAM>(this));
    hwnd_ = nullptr;
    return r;
}

INT_PTR CALLBACK CStationDlg::DialogProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    if (msg == WM_INITDIALOG) {
        SetWindowLongPtrA(hwnd, DWLP_USER, lp);
        auto *self = reinterpret_cast<CStationDlg *>(lp);
        self->hwnd_ = hwnd;
        return self->OnInitDialog();
    }
    auto *self = reinterpret_cast<CStationDlg *>(GetWindowLongPtrA(hwnd, DWLP_USER));
    return self ? self->Dispatch(msg, wp, lp) : FALSE;
}

INT_PTR CStationDlg::Dispatch(UINT msg, WPARAM wp, LPARAM lp)
{
    switch (msg) {
    case WM_COMMAND:
        OnCommand(LOWORD(wp), HIWORD(wp));
        return TRUE;
    case WM_NOTIFY:
        SetWindowLongPtrA(hwnd_, DWLP_MSGRESULT, OnNotify(reinterpret_cast<NMHDR *>(lp)));
        return TRUE;
    case WM_STATION_EVENTS:
        DrawRows();
        return TRUE;
    case WM_STATION_DONE:
        OnDone(static_cast<int>(wp));
        return TRUE;
    case WM_APP_PORTS_CHANGED:
        OnPortsChanged();
        return TRUE;
    case WM_CLOSE:
        // Refused during a run, as the upload dialog refuses it.
        if (!Running())
            EndDialog(hwnd_, IDCANCEL);
        return TRUE;
    case WM_DESTROY:
        PlatPortWatchStop(watch_);
        watch_ = nullptr;
        return FALSE;
    default:
        return FALSE;
    }
}

BOOL CStationDlg::OnInitDialog()
{
    HWND ports = Item(IDC_ST_PORTS), rows = Item(IDC_ST_ROWS);
    SendMessageA(ports, LVM_SETEXTENDEDLISTVIEWSTYLE, 0,
                 LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT | LVS_EX_INFOTIP);
    SendMessageA(rows, LVM_SETEXTENDEDLISTVIEWSTYLE, 0,
                 LVS_EX_FULLROWSELECT | LVS_EX_INFOTIP | LVS_EX_SUBITEMIMAGES);
    stationdlg_columns(ports, COL_PORT, kPortWidths, 2, hwnd_);
    stationdlg_columns(rows, COL_PORT, kRowWidths, 7, hwnd_);
    int size = GetSystemMetrics(SM_CXSMICON);
    icons_ = ImageList_Create(size, size, ILC_COLOR32 | ILC_MASK, 3, 0);
    for (RunIcon icon : {RUN_ICON_INFORMATION, RUN_ICON_EXCLAMATION, RUN_ICON_STOP})
        ImageList_AddIcon(icons_, LoadIconA(nullptr, stationdlg_icon(icon)));
    SendMessageA(rows, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(icons_));

    CheckRadioButton(hwnd_, IDC_ST_UPLOAD, IDC_ST_VERIFY_ONLY, IDC_ST_UPLOAD);
    CheckDlgButton(hwnd_, IDC_ST_VERIFY, BST_CHECKED);
    SetDlgItemTextA(hwnd_, IDC_ST_BACKUP_DIR, PlatDocumentsFolder().c_str());
    SetDlgItemTextA(hwnd_, IDC_ST_RESULTS,
                    (resultsFile_.empty() ? StationDefaultResultsFile() : resultsFile_).c_str());
    FillPorts();
    ShowFile();
    EnableControls();
    watch_ = AppWatchPorts(hwnd_);
    SetFocus(Item(IDC_ST_START));
    return FALSE;
}

void CStationDlg::OnCommand(int id, int code)
{
    if (code != BN_CLICKED)
        return;
    switch (id) {
    case IDC_ST_START:
    case IDOK: // Return: Start is the default button
        if (IsWindowEnabled(Item(IDC_ST_START)))
            OnStart();
        break;
    case IDC_ST_STOP:
        OnStop();
        break;
    case IDCANCEL: // Esc: Close, or Stop during a run
    case IDC_ST_CLOSE:
        if (Running())
            OnStop();
        else
            EndDialog(hwnd_, IDCANCEL);
        break;
    case IDC_ST_BROWSE:
        OnBrowseFile();
        break;
    case IDC_ST_ADVANCED:
        if (file_) {
            CAdvancedInfoDlg dlg(hwnd_);
            dlg.SetFirmware(file_->firmware);
            dlg.DoModal();
        }
        break;
    case IDC_ST_ADD:
        OnAddPort();
        break;
    case IDC_ST_BACKUP_BROWSE:
        OnBrowseFolder();
        break;
    case IDC_ST_RESULTS_BROWSE:
        OnBrowseResults();
        break;
    case IDC_ST_OPEN_RESULTS:
        OnOpenResults();
        break;
    case IDC_ST_UPLOAD:
    case IDC_ST_VERIFY_ONLY:
    case IDC_ST_BACKUP:
        EnableControls();
        break;
    default:
        break;
    }
}

std::string CStationDlg::Text(int id) const
{
    HWND w = Item(id);
    int n = GetWindowTextLengthA(w);
    std::string text(static_cast<size_t>(n) + 1, '\0');
    text.resize(static_cast<size_t>(GetWindowTextA(w, text.data(), n + 1)));
    return text;
}

void CStationDlg::ShowFile()
{
    SetDlgItemTextA(hwnd_, IDC_ST_FILE_NAME, file_ ? file_->fileName.c_str() : "");
    SetDlgItemTextA(hwnd_, IDC_ST_SIZE, file_ ? file_->sizeText.c_str() : "");
}

std::vector<std::string> CStationDlg::CheckedPorts() const
{
    HWND list = Item(IDC_ST_PORTS);
    std::vector<std::string> names;
    int n = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < n; i++) {
        if (((SendMessageA(list, LVM_GETITEMSTATE, i, LVIS_STATEIMAGEMASK) >> 12) - 1) != 1)
            continue;
        char name[256] = "";
        LVITEMA it = {};
        it.pszText = name;
        it.cchTextMax = sizeof name;
        SendMessageA(list, LVM_GETITEMTEXTA, i, reinterpret_cast<LPARAM>(&it));
        names.push_back(name);
    }
    return names;
}

void CStationDlg::FillPorts()
{
    HWND list = Item(IDC_ST_PORTS);
    filling_ = true;
    SendMessageA(list, LVM_DELETEALLITEMS, 0, 0);
    int i = 0;
    for (const StartupPortItem &port : StartupPortBoxItems(theApp.ports)) {
        stationdlg_set(list, i, COL_PORT, port.name);
        stationdlg_set(list, i, COL_DESCRIPTION, StartupDescribePort(port.name).description);
        bool checked = std::any_of(chosen_.begin(), chosen_.end(), [&](const std::string &c) {
            return lstrcmpiA(c.c_str(), port.name.c_str()) == 0;
        });
        LVITEMA state = {};
        state.stateMask = LVIS_STATEIMAGEMASK;
        state.state = INDEXTOSTATEIMAGEMASK(checked ? 2 : 1);
        SendMessageA(list, LVM_SETITEMSTATE, i, reinterpret_cast<LPARAM>(&state));
        i++;
    }
    filling_ = false;
}

void CStationDlg::OnPortsChanged()
{
    if (AppReloadPorts())
        FillPorts();
    EnableControls();
}

void CStationDlg::OnAddPort()
{
    std::string name = Text(IDC_ST_PORT_NAME);
    if (name.empty())
        return;
    AppAddTypedPort(name);
    RunAddPortName(chosen_, name); // a name typed in is meant to be used
    FillPorts();
    SetDlgItemTextA(hwnd_, IDC_ST_PORT_NAME, "");
    EnableControls();
}

void CStationDlg::EnableControls()
{
    bool idle = !Running();
    bool upload = IsDlgButtonChecked(hwnd_, IDC_ST_UPLOAD) == BST_CHECKED;
    bool backup = IsDlgButtonChecked(hwnd_, IDC_ST_BACKUP) == BST_CHECKED;
    const std::pair<int, bool> states[] = {{IDC_ST_START, idle && file_ && !chosen_.empty()},
                                           {IDC_ST_STOP, !idle},
                                           {IDC_ST_CLOSE, idle},
                                           {IDC_ST_BROWSE, idle},
                                           {IDC_ST_ADVANCED, idle && file_},
                                           {IDC_ST_PORTS, idle},
                                           {IDC_ST_PORT_NAME, idle},
                                           {IDC_ST_ADD, idle},
                                           {IDC_ST_UPLOAD, idle},
                                           {IDC_ST_VERIFY_ONLY, idle},
                                           {IDC_ST_VERIFY, idle && upload},
                                           {IDC_ST_BACKUP, idle && upload},
                                           {IDC_ST_BACKUP_DIR, idle && upload && backup},
                                           {IDC_ST_BACKUP_BROWSE, idle && upload && backup},
                                           {IDC_ST_RESULTS, idle},
                                           {IDC_ST_RESULTS_BROWSE, idle}};
    for (const auto &[id, on] : states)
        EnableWindow(Item(id), on);
    EnableMenuItem(GetSystemMenu(hwnd_, FALSE), SC_CLOSE,
                   MF_BYCOMMAND | (idle ? MF_ENABLED : MF_GRAYED));
}

LRESULT CStationDlg::OnNotify(NMHDR *header)
{
    if (header->idFrom == IDC_ST_PORTS && header->code == LVN_ITEMCHANGED && !filling_) {
        auto *change = reinterpret_cast<NMLISTVIEW *>(header);
        if (change->uChanged & LVIF_STATE) {
            chosen_ = CheckedPorts();
            EnableControls();
        }
        return 0;
    }
    if (header->idFrom != IDC_ST_ROWS)
        return 0;
    if (header->code == NM_CUSTOMDRAW)
        return DrawBar(reinterpret_cast<NMLVCUSTOMDRAW *>(header));
    if (header->code == LVN_GETINFOTIPA) {
        auto *tip = reinterpret_cast<NMLVGETINFOTIPA *>(header);
        lstrcpynA(tip->pszText, RowTip(static_cast<size_t>(tip->iItem)).c_str(), tip->cchTextMax);
    } else if (header->code == LVN_GETINFOTIPW) {
        auto *tip = reinterpret_cast<NMLVGETINFOTIPW *>(header);
        std::string text = RowTip(static_cast<size_t>(tip->iItem));
        MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, tip->pszText, tip->cchTextMax);
        tip->pszText[tip->cchTextMax - 1] = L'\0';
    }
    return 0;
}

LRESULT CStationDlg::DrawBar(NMLVCUSTOMDRAW *draw)
{
    DWORD stage = draw->nmcd.dwDrawStage;
    if (stage == CDDS_PREPAINT)
        return CDRF_NOTIFYITEMDRAW;
    if (stage == CDDS_ITEMPREPAINT)
        return CDRF_NOTIFYSUBITEMDRAW;
    size_t row = static_cast<size_t>(draw->nmcd.dwItemSpec);
    if (stage != (CDDS_ITEMPREPAINT | CDDS_SUBITEM) || draw->iSubItem != COL_BAR ||
        row >= rows_.size())
        return CDRF_DODEFAULT;
    RECT r = {};
    r.top = COL_BAR;
    r.left = LVIR_BOUNDS;
    SendMessageA(draw->nmcd.hdr.hwndFrom, LVM_GETSUBITEMRECT, row, reinterpret_cast<LPARAM>(&r));
    FillRect(draw->nmcd.hdc, &r, GetSysColorBrush(COLOR_WINDOW));
    InflateRect(&r, -2, -3);
    FrameRect(draw->nmcd.hdc, &r, GetSysColorBrush(COLOR_BTNSHADOW));
    InflateRect(&r, -1, -1);
    r.right =
        r.left + MulDiv(r.right - r.left, std::clamp(rows_[row].bar, 0, RUN_BAR_MAX), RUN_BAR_MAX);
    FillRect(draw->nmcd.hdc, &r, GetSysColorBrush(COLOR_HIGHLIGHT));
    return CDRF_SKIPDEFAULT;
}

std::string CStationDlg::RowTip(size_t row) const
{
    if (row >= rows_.size())
        return std::string();
    const StationRow &r = rows_[row];
    return !r.outcome.empty() ? r.outcome : r.note ? r.note : r.phase;
}

void CStationDlg::OnBrowseFile()
{
    CMyFileDialog dlg(hwnd_, MIRDEL_FILE_DIALOG_TITLE, MIRDEL_FILE_FILTER,
                      OFN_HIDEREADONLY | OFN_EXPLORER | OFN_ENABLESIZING | OFN_FILEMUSTEXIST);
    if (dlg.DoModal() != IDOK)
        return;
    if (!ScanFile(dlg.Path().c_str()))
        file_.reset(); // a file that fails the analysis never reaches a row
    ShowFile();
    EnableControls();
}

void CStationDlg::OnBrowseFolder()
{
    std::string title = stationdlg_string(IDS_ST_BACKUP_TITLE);
    char folder[MAX_PATH] = "";
    BROWSEINFOA bi = {};
    bi.hwndOwner = hwnd_;
    bi.pszDisplayName = folder;
    bi.lpszTitle = title.c_str();
    bi.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
    PIDLIST_ABSOLUTE chosen = SHBrowseForFolderA(&bi);
    if (!chosen)
        return;
    if (SHGetPathFromIDListA(chosen, folder))
        SetDlgItemTextA(hwnd_, IDC_ST_BACKUP_DIR, folder);
    CoTaskMemFree(chosen);
}

void CStationDlg::OnBrowseResults()
{
    CMyFileDialog dlg(hwnd_, stationdlg_string(IDS_ST_RESULTS_TITLE).c_str(),
                      "JSON lines (*.jsonl)\0*.jsonl\0All Files (*.*)\0*.*\0",
                      OFN_HIDEREADONLY | OFN_EXPLORER | OFN_ENABLESIZING);
    if (dlg.DoModal() == IDOK)
        SetDlgItemTextA(hwnd_, IDC_ST_RESULTS, dlg.Path().c_str());
}

void CStationDlg::OnOpenResults()
{
    std::string path = Text(IDC_ST_RESULTS);
    if (PlatOpenDocument(path.c_str(), STATIONDLG_OPEN_WAIT_MS) != 1)
        AppMessageBox(hwnd_, path + ":\n\n" + WinLastErrStr(), MB_ICONSTOP);
}

void CStationDlg::OnStart()
{
    if (Running() || !file_)
        return;
    StationJob job;
    job.program = program;
    bool upload = IsDlgButtonChecked(hwnd_, IDC_ST_UPLOAD) == BST_CHECKED;
    job.options.job = upload ? RUN_JOB_UPLOAD : RUN_JOB_VERIFY;
    job.options.verify = IsDlgButtonChecked(hwnd_, IDC_ST_VERIFY) == BST_CHECKED;
    job.path = file_->filePath;
    job.firmware = &file_->firmware;
    if (upload && IsDlgButtonChecked(hwnd_, IDC_ST_BACKUP) == BST_CHECKED)
        job.backupDir = Text(IDC_ST_BACKUP_DIR);
    job.resultsFile = Text(IDC_ST_RESULTS);
    job.ports = CheckedPorts();
    if (!StationChecksPass(job, [this](const RunCheck &c) { return AppTellCheck(hwnd_, c); }))
        return;

    HWND rows = Item(IDC_ST_ROWS);
    SendMessageA(rows, LVM_DELETEALLITEMS, 0, 0);
    rows_.assign(job.ports.size(), StationRow());
    for (size_t i = 0; i < job.ports.size(); i++) {
        std::string about = StartupDescribePort(job.ports[i]).description;
        stationdlg_set(rows, static_cast<int>(i), COL_PORT, job.ports[i], I_IMAGENONE);
        stationdlg_set(rows, static_cast<int>(i), COL_DESCRIPTION, about);
    }
    SetDlgItemTextA(hwnd_, IDC_ST_SUMMARY, "");
    SendDlgItemMessageA(hwnd_, IDC_ST_SUMMARY_ICON, STM_SETICON, 0, 0);
    SetDlgItemTextA(hwnd_, IDC_ST_STOP, RUN_BUTTON_STOP);

    HWND hwnd = hwnd_;
    station_ = std::make_unique<StationRun>(
        job, [hwnd] { PostMessageA(hwnd, WM_STATION_EVENTS, 0, 0); },
        [hwnd](int status) {
            PostMessageA(hwnd, WM_STATION_DONE, static_cast<WPARAM>(status), 0);
        });
    EnableControls();
    HWND stop = Item(IDC_ST_STOP);
    SendMessageA(hwnd_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(stop), TRUE);
    SendMessageA(hwnd_, DM_SETDEFID, IDC_ST_STOP, 0);
}

void CStationDlg::OnStop()
{
    if (!Running())
        return;
    station_->RequestStop();
    HWND stop = Item(IDC_ST_STOP);
    SetWindowTextA(stop, RUN_BUTTON_STOPPING);
    EnableWindow(stop, FALSE);
}

void CStationDlg::DrawRows()
{
    if (!station_)
        return;
    std::vector<StationRow> now = station_->Rows();
    HWND list = Item(IDC_ST_ROWS);
    for (size_t i = 0; i < now.size() && i < rows_.size(); i++) {
        const StationRow &row = now[i];
        int item = static_cast<int>(i);
        std::string outcome = row.note ? row.note : row.outcome;
        std::replace(outcome.begin(), outcome.end(), '\n', ' ');
        stationdlg_set(list, item, COL_PHASE, row.phase);
        stationdlg_set(list, item, COL_PERCENT, row.percent);
        stationdlg_set(list, item, COL_ELAPSED, row.elapsed);
        stationdlg_set(list, item, COL_OUTCOME, outcome,
                       row.icon == RUN_ICON_NONE ? I_IMAGENONE : row.icon - RUN_ICON_INFORMATION);
        if (row.bar != rows_[i].bar) {
            RECT r = {LVIR_BOUNDS, COL_BAR, 0, 0};
            SendMessageA(list, LVM_GETSUBITEMRECT, i, reinterpret_cast<LPARAM>(&r));
            InvalidateRect(list, &r, FALSE);
        }
        rows_[i] = row;
    }
}

void CStationDlg::OnDone(int status)
{
    station_->Finish();
    DrawRows();
    SetDlgItemTextA(hwnd_, IDC_ST_SUMMARY, station_->Summary().c_str());
    SendDlgItemMessageA(
        hwnd_, IDC_ST_SUMMARY_ICON, STM_SETICON,
        reinterpret_cast<WPARAM>(LoadIconA(nullptr, stationdlg_icon(StationStatusIcon(status)))),
        0);
    station_.reset();
    SetDlgItemTextA(hwnd_, IDC_ST_STOP, RUN_BUTTON_STOP);
    EnableControls();
    HWND start = Item(IDC_ST_START);
    SendMessageA(hwnd_, DM_SETDEFID, IDC_ST_START, 0);
    SendMessageA(hwnd_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(start), TRUE);
}
