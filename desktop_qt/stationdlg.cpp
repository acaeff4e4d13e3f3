#include "desktop_qt/stationdlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

#include "core/startup.h"
#include "core/textfmt.h"
#include "desktop_qt/advinfodlg.h"
#include "desktop_qt/downloaddlg.h"
#include "desktop_qt/mirdelapp.h"
#include "desktop_qt/mirdeldlg.h"
#include "desktop_qt/myfiledialog.h"
#include "platform/desktop.h"
#include "platform/process.h"
#include "support/winerr.h"

namespace
{

enum { COL_PORT, COL_DESCRIPTION, COL_PHASE, COL_BAR, COL_PERCENT, COL_ELAPSED, COL_OUTCOME };
// How long Open results waits to hear whether a viewer took the file.
#define STATIONDLG_OPEN_WAIT_MS 3000

QIcon stationdlg_icon(QStyle *style, RunIcon icon)
{
    return style->standardIcon(icon == RUN_ICON_INFORMATION   ? QStyle::SP_MessageBoxInformation
                               : icon == RUN_ICON_EXCLAMATION ? QStyle::SP_MessageBoxWarning
                                                              : QStyle::SP_MessageBoxCritical);
}

QString stationdlg_q(const std::string &text)
{
    return QString::fromStdString(text);
}

QPushButton *stationdlg_button(const char *text, const char *name, QWidget *parent)
{
    auto *b = new QPushButton(text, parent);
    b->setObjectName(name);
    b->setAutoDefault(false);
    return b;
}

QLineEdit *stationdlg_edit(const char *name, QWidget *parent, bool readOnly = false)
{
    auto *e = new QLineEdit(parent);
    e->setObjectName(name);
    e->setReadOnly(readOnly);
    if (readOnly)
        e->setFrame(false);
    return e;
}

std::string stationdlg_default_program;

} // namespace

void CStationDlg::SetDefaultProgram(const std::string &path)
{
    stationdlg_default_program = path;
}

CStationDlg::CStationDlg(QWidget *parent) : QDialog(parent)
{
    program = stationdlg_default_program.empty() ? StationProgramPath(PlatSelfPath("mirdel"))
                                                 : stationdlg_default_program;
    setWindowTitle("Station");
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);

    auto *firmware = new QGroupBox("Firmware", this);
    nameField_ = stationdlg_edit("nameField", firmware, true);
    sizeField_ = stationdlg_edit("sizeField", firmware, true);
    fileButton_ = stationdlg_button("&File...", "fileButton", firmware);
    advanced_ = stationdlg_button("&Advanced...", "advancedButton", firmware);
    auto *fw = new QGridLayout(firmware);
    fw->setVerticalSpacing(1);
    fw->addWidget(new QLabel("Name:", firmware), 0, 0);
    fw->addWidget(nameField_, 0, 1);
    fw->addWidget(new QLabel("Size:", firmware), 1, 0);
    fw->addWidget(sizeField_, 1, 1);
    fw->addWidget(fileButton_, 0, 2, 2, 1);
    fw->addWidget(advanced_, 0, 3, 2, 1);
    fw->setColumnStretch(1, 1);

    auto *portsBox = new QGroupBox("Ports", this);
    ports_ = new QTreeWidget(portsBox);
    ports_->setObjectName("portsList");
    ports_->setHeaderLabels({"Port", "Description"});
    ports_->setRootIsDecorated(false);
    ports_->setMinimumSize(300, 120);
    portName_ = stationdlg_edit("portName", portsBox);
    add_ = stationdlg_button("A&dd", "addButton", portsBox);
    auto *portLabel = new QLabel("P&ort:", portsBox);
    portLabel->setBuddy(portName_);
    auto *typed = new QHBoxLayout;
    typed->addWidget(portLabel);
    typed->addWidget(portName_, 1);
    typed->addWidget(add_);
    auto *pl = new QVBoxLayout(portsBox);
    pl->addWidget(ports_);
    pl->addLayout(typed);

    auto *jobBox = new QGroupBox("Job", this);
    upload_ = new QRadioButton("&Upload", jobBox);
    upload_->setObjectName("uploadRadio");
    verify_ = new QCheckBox("&Verify", jobBox);
    verify_->setObjectName("verifyCheck");
    verifyOnly_ = new QRadioButton("Verify &only", jobBox);
    verifyOnly_->setObjectName("verifyOnlyRadio");
    backup_ = new QCheckBox("&Back up first", jobBox);
    backup_->setObjectName("backupCheck");
    backupDir_ = stationdlg_edit("backupDir", jobBox);
    backupBrowse_ = stationdlg_button("...", "backupBrowse", jobBox);
    results_ = stationdlg_edit("resultsFile", jobBox);
    resultsBrowse_ = stationdlg_button("...", "resultsBrowse", jobBox);
    openResults_ = stationdlg_button("Op&en results", "openResults", jobBox);
    auto *resultsLabel = new QLabel("&Results file:", jobBox);
    resultsLabel->setBuddy(results_);
    auto *jl = new QGridLayout(jobBox);
    jl->setVerticalSpacing(4);
    jl->addWidget(upload_, 0, 0);
    jl->addWidget(verify_, 0, 1);
    jl->addWidget(verifyOnly_, 1, 0, 1, 2);
    jl->addWidget(backup_, 2, 0, 1, 2);
    jl->addWidget(backupDir_, 3, 0, 1, 2);
    jl->addWidget(backupBrowse_, 3, 2);
    jl->addWidget(resultsLabel, 4, 0, 1, 2);
    jl->addWidget(results_, 5, 0, 1, 2);
    jl->addWidget(resultsBrowse_, 5, 2);
    jl->addWidget(openResults_, 6, 0, Qt::AlignLeft);
    jl->setColumnStretch(1, 1);
    jl->setRowStretch(7, 1);

    auto *middle = new QHBoxLayout;
    middle->addWidget(portsBox, 1);
    middle->addWidget(jobBox, 1);

    rows_ = new QTreeWidget(this);
    rows_->setObjectName("rowsList");
    rows_->setHeaderLabels({"Port", "Description", "Phase", "Progress", "%", "Elapsed", "Outcome"});
    rows_->setRootIsDecorated(false);
    rows_->setMinimumSize(860, 130);
    rows_->headerItem()->setTextAlignment(COL_PERCENT, Qt::AlignRight);
    const int widths[] = {110, 120, 190, 90, 36, 56};
    for (int c = COL_PORT; c < COL_OUTCOME; c++)
        rows_->setColumnWidth(c, widths[c]);

    summaryIcon_ = new QLabel(this);
    summaryIcon_->setObjectName("summaryIcon");
    summary_ = new QLabel(this);
    summary_->setObjectName("summaryText");
    summary_->setTextFormat(Qt::PlainText);
    start_ = stationdlg_button("&Start", "startButton", this);
    start_->setDefault(true);
    stop_ = stationdlg_button(RUN_BUTTON_STOP, "stopButton", this);
    close_ = stationdlg_button("&Close", "closeButton", this);
    auto *bottom = new QHBoxLayout;
    bottom->addWidget(summaryIcon_);
    bottom->addWidget(summary_, 1);
    bottom->addWidget(start_);
    bottom->addWidget(stop_);
    bottom->addWidget(close_);

    auto *top = new QVBoxLayout(this);
    top->addWidget(firmware);
    top->addLayout(middle);
    top->addWidget(rows_, 1);
    top->addLayout(bottom);

    upload_->setChecked(true);
    verify_->setChecked(true);
    backupDir_->setText(stationdlg_q(PlatDocumentsFolder()));
    results_->setText(stationdlg_q(StationDefaultResultsFile()));

    connect(start_, &QPushButton::clicked, this, &CStationDlg::OnStart);
    connect(stop_, &QPushButton::clicked, this, &CStationDlg::OnStop);
    connect(close_, &QPushButton::clicked, this, &CStationDlg::reject);
    connect(fileButton_, &QPushButton::clicked, this, &CStationDlg::OnBrowseFile);
    connect(advanced_, &QPushButton::clicked, this, [this] {
        CAdvancedInfoDlg dlg;
        dlg.SetFirmware(file_->firmware);
        dlg.exec();
    });
    connect(add_, &QPushButton::clicked, this, &CStationDlg::OnAddPort);
    connect(portName_, &QLineEdit::returnPressed, this, &CStationDlg::OnAddPort);
    connect(ports_, &QTreeWidget::itemChanged, this, &CStationDlg::OnPortChecked);
    connect(backupBrowse_, &QPushButton::clicked, this, &CStationDlg::OnBrowseFolder);
    connect(resultsBrowse_, &QPushButton::clicked, this, &CStationDlg::OnBrowseResults);
    connect(openResults_, &QPushButton::clicked, this, &CStationDlg::OnOpenResults);
    for (QAbstractButton *b :
         std::initializer_list<QAbstractButton *>{upload_, verifyOnly_, backup_})
        connect(b, &QAbstractButton::toggled, this, &CStationDlg::EnableControls);

    FillPorts();
    ShowFile();
    EnableControls();
    AppFollowPorts(this, [this] { OnPortsChanged(); });
    start_->setFocus();
}

CStationDlg::~CStationDlg()
{
    // Only with a run going when torn down from outside: stopped and waited for.
    station_.reset();
}

void CStationDlg::Choose(const std::vector<std::string> &ports, const std::string &resultsFile)
{
    chosen_ = ports;
    for (const std::string &name : ports)
        AppAddTypedPort(name);
    if (!resultsFile.empty())
        results_->setText(stationdlg_q(resultsFile));
    FillPorts();
    EnableControls();
}

int CStationDlg::ScanFile(const char *path)
{
    // The upload dialog's analysis, its window and its error box.
    auto file =
        std::make_unique<CDownloadDlg>(isVisible() || !parentWidget() ? this : parentWidget());
    if (!file->ScanFile(path))
        return 0;
    file_ = std::move(file);
    ShowFile();
    EnableControls();
    return 1;
}

void CStationDlg::ShowFile()
{
    nameField_->setText(file_ ? stationdlg_q(file_->fileName) : QString());
    sizeField_->setText(file_ ? stationdlg_q(file_->sizeText) : QString());
    nameField_->setToolTip(file_ ? stationdlg_q(file_->filePath) : QString());
}

std::vector<std::string> CStationDlg::CheckedPorts() const
{
    std::vector<std::string> names;
    for (int i = 0; i < ports_->topLevelItemCount(); i++)
        if (ports_->topLevelItem(i)->checkState(COL_PORT) == Qt::Checked)
            names.push_back(ports_->topLevelItem(i)->text(COL_PORT).toStdString());
    return names;
}

void CStationDlg::FillPorts()
{
    filling_ = true;
    ports_->clear();
    for (const StartupPortItem &port : StartupPortBoxItems(theApp.ports)) {
        auto *item = new QTreeWidgetItem(ports_);
        item->setText(COL_PORT, stationdlg_q(port.name));
        item->setText(COL_DESCRIPTION, stationdlg_q(StartupDescribePort(port.name).description));
        item->setToolTip(COL_PORT, stationdlg_q(port.tip));
        item->setToolTip(COL_DESCRIPTION, stationdlg_q(port.tip));
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        bool checked = std::any_of(chosen_.begin(), chosen_.end(), [&](const std::string &c) {
            return TextCompareNoCase(c, port.name) == 0;
        });
        item->setCheckState(COL_PORT, checked ? Qt::Checked : Qt::Unchecked);
    }
    ports_->resizeColumnToContents(COL_PORT);
    filling_ = false;
}

void CStationDlg::OnPortChecked(QTreeWidgetItem *item, int column)
{
    if (filling_ || column != COL_PORT)
        return;
    std::string name = item->text(COL_PORT).toStdString();
    std::erase_if(chosen_, [&](const std::string &c) { return TextCompareNoCase(c, name) == 0; });
    if (item->checkState(COL_PORT) == Qt::Checked)
        chosen_.push_back(name);
    EnableControls();
}

void CStationDlg::OnPortsChanged()
{
    if (AppReloadPorts())
        FillPorts();
    EnableControls();
}

void CStationDlg::OnAddPort()
{
    std::string name = portName_->text().trimmed().toStdString();
    if (name.empty() || Running())
        return;
    AppAddTypedPort(name);
    RunAddPortName(chosen_, name); // a name typed in is meant to be used
    FillPorts();
    portName_->clear();
    EnableControls();
}

void CStationDlg::EnableControls()
{
    bool idle = !Running();
    bool upload = upload_->isChecked();
    bool backup = backup_->isChecked();
    start_->setEnabled(idle && file_ && !chosen_.empty());
    stop_->setEnabled(!idle && !station_->StopRequested());
    close_->setEnabled(idle);
    advanced_->setEnabled(idle && file_);
    verify_->setEnabled(idle && upload);
    backup_->setEnabled(idle && upload);
    backupDir_->setEnabled(idle && upload && backup);
    backupBrowse_->setEnabled(idle && upload && backup);
    for (QWidget *w : std::initializer_list<QWidget *>{
             fileButton_, ports_, portName_, add_, upload_, verifyOnly_, results_, resultsBrowse_})
        w->setEnabled(idle);
}

void CStationDlg::OnBrowseFile()
{
    CMyFileDialog dlg(this, MIRDEL_FILE_DIALOG_TITLE, QString(),
                      MIRDEL_FILTER_SREC ";;" MIRDEL_FILTER_ALL);
    dlg.setAcceptMode(QFileDialog::AcceptOpen);
    dlg.setFileMode(QFileDialog::ExistingFile);
    dlg.selectNameFilter(MIRDEL_FILTER_SREC);
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty())
        return;
    if (!ScanFile(QFile::encodeName(dlg.selectedFiles().first()).constData()))
        file_.reset(); // a file that fails the analysis never reaches a row
    ShowFile();
    EnableControls();
}

void CStationDlg::OnBrowseFolder()
{
    QString folder =
        QFileDialog::getExistingDirectory(this, "Folder for the backups", backupDir_->text());
    if (!folder.isEmpty())
        backupDir_->setText(folder);
}

void CStationDlg::OnBrowseResults()
{
    CMyFileDialog dlg(this, "Results file", results_->text(),
                      "JSON lines (*.jsonl);;" MIRDEL_FILTER_ALL);
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    dlg.setOption(QFileDialog::DontConfirmOverwrite); // the lines are appended
    if (dlg.exec() == QDialog::Accepted && !dlg.selectedFiles().isEmpty())
        results_->setText(dlg.selectedFiles().first());
}

void CStationDlg::OnOpenResults()
{
    std::string path = QFile::encodeName(results_->text()).toStdString();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    int opened = PlatOpenDocument(path.c_str(), STATIONDLG_OPEN_WAIT_MS);
    QApplication::restoreOverrideCursor();
    if (opened != 1)
        AppMessageBox(this, path + ":\n\n" + WinLastErrStr(), APP_ICON_STOP);
}

void CStationDlg::OnStart()
{
    if (Running() || !file_ || chosen_.empty())
        return;
    StationJob job;
    job.program = program;
    bool upload = upload_->isChecked();
    job.options.job = upload ? RUN_JOB_UPLOAD : RUN_JOB_VERIFY;
    job.options.verify = verify_->isChecked();
    job.path = file_->filePath;
    job.firmware = &file_->firmware;
    if (upload && backup_->isChecked())
        job.backupDir = QFile::encodeName(backupDir_->text()).toStdString();
    job.resultsFile = QFile::encodeName(results_->text()).toStdString();
    job.ports = CheckedPorts();
    if (!StationChecksPass(job, [this](const RunCheck &c) { return AppTellCheck(this, c); }))
        return;

    rows_->clear();
    for (const std::string &name : job.ports) {
        auto *item = new QTreeWidgetItem(rows_);
        item->setText(COL_PORT, stationdlg_q(name));
        item->setText(COL_DESCRIPTION, stationdlg_q(StartupDescribePort(name).description));
        item->setTextAlignment(COL_PERCENT, Qt::AlignRight | Qt::AlignVCenter);
        auto *bar = new QProgressBar;
        bar->setRange(0, RUN_BAR_MAX);
        bar->setTextVisible(false);
        rows_->setItemWidget(item, COL_BAR, bar);
    }
    rows_->resizeColumnToContents(COL_PORT); // a port's path shows whole
    summary_->clear();
    summaryIcon_->clear();
    stop_->setText(RUN_BUTTON_STOP);

    station_ = std::make_unique<StationRun>(
        job,
        [this] { QMetaObject::invokeMethod(this, &CStationDlg::DrawRows, Qt::QueuedConnection); },
        [this](int status) {
            QMetaObject::invokeMethod(
                this, [this, status] { OnDone(status); }, Qt::QueuedConnection);
        });
    DrawRows();
    EnableControls();
    start_->setDefault(false);
    stop_->setDefault(true);
    stop_->setFocus();
}

void CStationDlg::OnStop()
{
    if (!Running())
        return;
    station_->RequestStop();
    // The children may go on a while (an instrument writing its flash
    // finishes first): show at once that the stop was taken.
    stop_->setText(RUN_BUTTON_STOPPING);
    stop_->setEnabled(false);
}

void CStationDlg::reject()
{
    // Esc stops a run; the window closes only when none is going.
    if (Running())
        OnStop();
    else
        QDialog::reject();
}

void CStationDlg::closeEvent(QCloseEvent *event)
{
    // Refused during a run, as the upload dialog refuses it.
    if (Running()) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void CStationDlg::DrawRows()
{
    if (!station_)
        return;
    std::vector<StationRow> rows = station_->Rows();
    for (size_t i = 0; i < rows.size() && i < static_cast<size_t>(rows_->topLevelItemCount()); i++) {
        const StationRow &row = rows[i];
        QTreeWidgetItem *item = rows_->topLevelItem(static_cast<int>(i));
        std::string outcome = row.note ? row.note : row.outcome;
        QString tip = stationdlg_q(outcome);
        std::replace(outcome.begin(), outcome.end(), '\n', ' ');
        item->setText(COL_PHASE, stationdlg_q(row.phase));
        item->setText(COL_PERCENT, stationdlg_q(row.percent));
        item->setText(COL_ELAPSED, stationdlg_q(row.elapsed));
        item->setText(COL_OUTCOME, stationdlg_q(outcome));
        item->setData(COL_OUTCOME, Qt::UserRole, static_cast<int>(row.icon));
        item->setIcon(COL_OUTCOME,
                      row.icon == RUN_ICON_NONE ? QIcon() : stationdlg_icon(style(), row.icon));
        for (int c = COL_PORT; c <= COL_OUTCOME; c++)
            item->setToolTip(c, tip);
        if (auto *bar = qobject_cast<QProgressBar *>(rows_->itemWidget(item, COL_BAR)))
            bar->setValue(row.bar);
    }
}

void CStationDlg::OnDone(int status)
{
    station_->Finish();
    DrawRows();
    summary_->setText(stationdlg_q(station_->Summary()));
    int size = style()->pixelMetric(QStyle::PM_SmallIconSize);
    summaryIcon_->setPixmap(stationdlg_icon(style(), StationStatusIcon(status)).pixmap(size, size));
    summaryIcon_->setProperty("runIcon", static_cast<int>(StationStatusIcon(status)));
    station_.reset();
    stop_->setText(RUN_BUTTON_STOP);
    EnableControls();
    stop_->setDefault(false);
    start_->setDefault(true);
    start_->setFocus();
}
