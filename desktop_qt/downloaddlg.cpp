#include "desktop_qt/downloaddlg.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDate>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTime>
#include <QToolTip>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "core/scan.h"
#include "core/startup.h"
#include "core/textfmt.h"
#include "desktop_qt/advinfodlg.h"
#include "desktop_qt/animation.h"
#include "desktop_qt/mirdelapp.h"

// The port box shows at least this many characters, and grows up to the
// most for longer names offered.
#define DOWNLOADDLG_PORT_MIN_CHARS 16
#define DOWNLOADDLG_PORT_MAX_CHARS 40

namespace
{

// The small window that shows how far the analysis of a file has come. It
// exists only while ScanFile reads the file.
class AnalysisWindow : public QFrame
{
  public:
    AnalysisWindow() : QFrame(nullptr, Qt::SplashScreen | Qt::FramelessWindowHint)
    {
        setObjectName("analysisWindow");
        setWindowTitle("Analyzing");
        setFrameStyle(QFrame::Panel | QFrame::Raised);
        setLineWidth(2);
        auto *text = new QLabel("Analyzing firmware file...", this);
        text->setAlignment(Qt::AlignCenter);
        bar_ = new QProgressBar(this);
        bar_->setObjectName("analysisBar");
        bar_->setRange(0, 100);
        bar_->setValue(0);
        bar_->setTextVisible(false);
        bar_->setFixedSize(130, 14);
        auto *layout = new QVBoxLayout(this);
        layout->setContentsMargins(10, 7, 10, 10);
        layout->setSpacing(5);
        layout->addWidget(text);
        layout->addWidget(bar_, 0, Qt::AlignHCenter);
    }

    void ShowCentred()
    {
        adjustSize();
        if (QScreen *screen = QGuiApplication::primaryScreen())
            move(screen->availableGeometry().center() - rect().center());
        show();
        Flush();
    }

    void SetPercent(int percent)
    {
        bar_->setValue(percent);
        Flush();
    }

  private:
    // The analysis holds the thread: paint now, and let the window system
    // see it, without taking user input.
    void Flush()
    {
        repaint();
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }

    QProgressBar *bar_;
};

void downloaddlg_scan_progress(void *context, int percent)
{
    static_cast<AnalysisWindow *>(context)->SetPercent(percent);
}

// The user's time format, without the zone that Qt's long form carries.
QString downloaddlg_time_format(const QLocale &locale)
{
    QString format = locale.timeFormat(QLocale::LongFormat);
    QString out;
    bool quoted = false;
    for (QChar c : format) {
        if (c == QLatin1Char('\''))
            quoted = !quoted;
        if (!quoted && c == QLatin1Char('t'))
            continue;
        out += c;
    }
    return out.simplified();
}

std::string downloaddlg_modified_text(const ScanFileInfo &info)
{
    if (!info.modifiedValid)
        return info.modifiedError;
    const std::tm &t = info.modified;
    QDate date(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday);
    QTime time(t.tm_hour, t.tm_min, std::min(t.tm_sec, 59));
    QLocale locale = QLocale::system();
    return TextFormat(SCAN_MODIFIED_FORMAT,
                      locale.toString(date, QLocale::ShortFormat).toStdString().c_str(),
                      locale.toString(time, downloaddlg_time_format(locale)).toStdString().c_str());
}

QLineEdit *downloaddlg_field(QWidget *parent, const char *name, int minWidth)
{
    auto *f = new QLineEdit(parent);
    f->setObjectName(name);
    f->setReadOnly(true);
    f->setFrame(false);
    f->setMinimumWidth(minWidth);
    QPalette p = f->palette();
    p.setColor(QPalette::Base, p.color(QPalette::Window));
    f->setPalette(p);
    f->setFocusPolicy(Qt::ClickFocus);
    return f;
}

} // namespace

CDownloadDlg::CDownloadDlg(QWidget *parent) : QDialog(parent)
{
    setWindowTitle("Upload");
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);

    animation_ = new UploadAnimation(this);
    animation_->setObjectName("animation");
    portBox_ = new QComboBox(this);
    portBox_->setObjectName("portBox");
    portBox_->setEditable(true);
    // A typed name joins the list only when a run is started with it.
    portBox_->setInsertPolicy(QComboBox::NoInsert);
    // The width is set from the names offered (SizePortBox): a longer typed
    // path scrolls instead of widening the dialog, and shows whole on hover.
    portBox_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    portBox_->setMinimumContentsLength(DOWNLOADDLG_PORT_MIN_CHARS);
    connect(portBox_, &QComboBox::currentTextChanged, portBox_,
            [this](const QString &text) { portBox_->setToolTip(text); });
    auto *portLabel = new QLabel("Serial p&ort:", this);
    portLabel->setBuddy(portBox_);
    auto *topRow = new QHBoxLayout;
    topRow->addWidget(animation_);
    topRow->addStretch(1);
    topRow->addWidget(portLabel);
    topRow->addWidget(portBox_);

    auto *info = new QGroupBox("Firmware information", this);
    nameField_ = downloaddlg_field(info, "nameField", 270);
    locationField_ = downloaddlg_field(info, "locationField", 270);
    sizeField_ = downloaddlg_field(info, "sizeField", 175);
    modifiedField_ = downloaddlg_field(info, "modifiedField", 175);
    advanced_ = new QPushButton("&Advanced...", info);
    advanced_->setObjectName("advancedButton");
    auto *grid = new QGridLayout(info);
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(1);
    grid->addWidget(new QLabel(SCAN_LABEL_NAME, info), 0, 0);
    grid->addWidget(nameField_, 0, 1, 1, 2);
    grid->addWidget(new QLabel(SCAN_LABEL_LOCATION, info), 1, 0);
    grid->addWidget(locationField_, 1, 1, 1, 2);
    grid->addWidget(new QLabel(SCAN_LABEL_SIZE, info), 2, 0);
    grid->addWidget(sizeField_, 2, 1);
    grid->addWidget(new QLabel(SCAN_LABEL_MODIFIED, info), 3, 0);
    grid->addWidget(modifiedField_, 3, 1);
    grid->addWidget(advanced_, 2, 2, 2, 1, Qt::AlignRight | Qt::AlignVCenter);
    grid->setColumnStretch(1, 1);

    auto *groups = new QVBoxLayout;
    groups->setSpacing(1);
    static const char *const groupNames[RUN_GROUP_COUNT] = {"upload", "flash", "verify"};
    for (int g = 0; g < RUN_GROUP_COUNT; g++) {
        std::string base = groupNames[g];
        label_[g] = new QLabel(RunGroupLabels[g], this);
        label_[g]->setObjectName(QString::fromStdString(base + "Label"));
        number_[g] = new QLabel("0", this);
        number_[g]->setObjectName(QString::fromStdString(base + "Percent"));
        number_[g]->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        number_[g]->setMinimumWidth(number_[g]->fontMetrics().horizontalAdvance("1000"));
        sign_[g] = new QLabel("%", this);
        sign_[g]->setObjectName(QString::fromStdString(base + "Sign"));
        bar_[g] = new QProgressBar(this);
        bar_[g]->setObjectName(QString::fromStdString(base + "Bar"));
        bar_[g]->setTextVisible(false);
        bar_[g]->setRange(0, 100);
        bar_[g]->setValue(0);
        bar_[g]->setFixedHeight(15);
        auto *row = new QHBoxLayout;
        row->setSpacing(1);
        row->addWidget(label_[g], 1);
        row->addWidget(number_[g]);
        row->addWidget(sign_[g]);
        groups->addLayout(row);
        groups->addWidget(bar_[g]);
        if (const char *note = RunStopNote(g)) {
            // Shown only after a stop, while the group goes on.
            note_[g] = new QLabel(note, this);
            note_[g]->setObjectName(QString::fromStdString(base + "Note"));
            note_[g]->setWordWrap(true);
            note_[g]->hide();
            groups->addWidget(note_[g]);
        }
        if (g + 1 < RUN_GROUP_COUNT)
            groups->addSpacing(3);
        // Hiding the verification group must not move the controls below.
        for (QWidget *w : {static_cast<QWidget *>(label_[g]), static_cast<QWidget *>(number_[g]),
                           static_cast<QWidget *>(sign_[g]), static_cast<QWidget *>(bar_[g])}) {
            QSizePolicy sp = w->sizePolicy();
            sp.setRetainSizeWhenHidden(true);
            w->setSizePolicy(sp);
        }
    }

    verify_ = new QCheckBox("&Verify", this);
    verify_->setObjectName("verifyCheck");
    start_ = new QPushButton("&Start", this);
    start_->setObjectName("startButton");
    start_->setDefault(true);
    cancel_ = new QPushButton(RUN_BUTTON_CANCEL, this);
    cancel_->setObjectName("cancelButton");
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(start_);
    buttons->addSpacing(20);
    buttons->addWidget(cancel_);
    buttons->addStretch(1);

    auto *top = new QVBoxLayout(this);
    top->setContentsMargins(12, 8, 12, 10);
    top->addLayout(topRow);
    top->addWidget(info);
    top->addSpacing(4);
    top->addLayout(groups);
    top->addWidget(verify_, 0, Qt::AlignHCenter);
    top->addSpacing(4);
    top->addLayout(buttons);
    top->setSizeConstraint(QLayout::SetFixedSize);

    for (QLineEdit *f : {locationField_, sizeField_, modifiedField_})
        f->installEventFilter(this);

    connect(start_, &QPushButton::clicked, this, &CDownloadDlg::OnStart);
    connect(cancel_, &QPushButton::clicked, this, &CDownloadDlg::OnCancelOrStop);
    connect(advanced_, &QPushButton::clicked, this, &CDownloadDlg::OnAdvanced);
    connect(verify_, &QCheckBox::clicked, this, &CDownloadDlg::OnVerify);
}

CDownloadDlg::~CDownloadDlg()
{
    // Only reached with a run going when the dialog is torn down from
    // outside; the worker's pending calls are served so that it can end.
    if (run_) {
        closing_ = true;
        run_->RequestStop();
        run_->Join(); // the worker never waits for this thread
        run_.reset();
    }
    if (busyCursor_)
        QGuiApplication::restoreOverrideCursor();
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
    // The analysis runs before the dialog is shown: a box centred on the
    // hidden dialog would land in a corner of the screen.
    QWidget *over = isVisible() || !parentWidget() ? this : parentWidget()->window();
    AppMessageBox(over, ScanReportError(message, place), APP_ICON_STOP);
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
    int result;
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    {
        AnalysisWindow progress;
        progress.ShowCentred();
        result = ScanFirmwareFile(path, &firmware, &info, &message, downloaddlg_scan_progress,
                                  &progress);
    }
    QGuiApplication::restoreOverrideCursor();

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

void CDownloadDlg::showEvent(QShowEvent *event)
{
    if (!initialised_) {
        initialised_ = true;
        OnInitDialog();
    }
    QDialog::showEvent(event);
}

bool CDownloadDlg::OnInitDialog()
{
    verify_->setChecked(true);
    FillPortBox();
    SizePortBox();
    AppFollowPorts(this, [this] { OnPortsChanged(); });
    fontsCreated = false;
    running_ = false;
    animation_->Open();
    TransferTexts();
    // The port box's width follows the names: size the dialog before it shows.
    layout()->activate();
    start_->setFocus();
    return true;
}

void CDownloadDlg::TransferTexts()
{
    nameField_->setText(QString::fromStdString(fileName));
    locationField_->setText(QString::fromStdString(location));
    sizeField_->setText(QString::fromStdString(sizeText));
    modifiedField_->setText(QString::fromStdString(modifiedText));
    for (QLineEdit *f : {nameField_, locationField_, sizeField_, modifiedField_})
        f->setCursorPosition(0);
}

void CDownloadDlg::FillPortBox()
{
    std::vector<StartupPortItem> items = StartupPortBoxItems(theApp.ports);
    QStringList names;
    for (const StartupPortItem &item : items)
        names << QString::fromStdString(item.name);
    portBox_->clear();
    portBox_->addItems(names);
    for (int i = 0; i < names.size(); i++)
        portBox_->setItemData(i, QString::fromStdString(items[i].tip), Qt::ToolTipRole);

    // The drop-down shows every item, and is as wide as the widest one.
    portBox_->setMaxVisibleItems(std::max<int>(1, static_cast<int>(names.size())));
    QFontMetrics fm(portBox_->view()->font());
    int widest = 0;
    for (const QString &n : names)
        widest = std::max(widest, fm.horizontalAdvance(n));
    portBox_->view()->setMinimumWidth(widest + 2 * fm.averageCharWidth() +
                                      portBox_->view()->frameWidth() * 2);

    if (!names.isEmpty())
        portBox_->setCurrentIndex(static_cast<int>(StartupPortBoxSelect(items, theApp.lastPort)));
}

void CDownloadDlg::OnPortsChanged()
{
    // What is in the box's field stays, typed or chosen; a run's box is
    // left alone.
    if (running_ || !AppReloadPorts())
        return;
    QString name = portBox_->currentText();
    FillPortBox();
    portBox_->setEditText(name);
}

void CDownloadDlg::SizePortBox()
{
    // Counted in widths of an "x", as the box counts its contents.
    QFontMetrics fm(portBox_->font());
    int x = std::max(1, fm.horizontalAdvance(QLatin1Char('x')));
    int chars = DOWNLOADDLG_PORT_MIN_CHARS;
    for (int i = 0; i < portBox_->count(); i++)
        chars = std::max(chars, (fm.horizontalAdvance(portBox_->itemText(i)) + x - 1) / x);
    portBox_->setMinimumContentsLength(std::min(chars, DOWNLOADDLG_PORT_MAX_CHARS));
}

std::string CDownloadDlg::OnToolTipNeedText(int controlId) const
{
    const std::string *text = nullptr;
    if (controlId == IDC_LOCATION)
        text = &location;
    else if (controlId == IDC_SIZE)
        text = &sizeText;
    else if (controlId == IDC_MODIFIED)
        text = &modifiedText;
    return text ? TextCut(*text, SCAN_TOOLTIP_MAX) : std::string();
}

bool CDownloadDlg::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::ToolTip) {
        int id = watched == locationField_   ? IDC_LOCATION
                 : watched == sizeField_     ? IDC_SIZE
                 : watched == modifiedField_ ? IDC_MODIFIED
                                             : 0;
        if (id != 0) {
            std::string text = OnToolTipNeedText(id);
            auto *help = static_cast<QHelpEvent *>(event);
            if (text.empty())
                QToolTip::hideText();
            else
                QToolTip::showText(help->globalPos(), QString::fromStdString(text),
                                   static_cast<QWidget *>(watched));
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void CDownloadDlg::OnVerify()
{
    bool show = !bar_[RUN_GROUP_VERIFY]->isEnabled();
    for (QWidget *w : {static_cast<QWidget *>(bar_[RUN_GROUP_VERIFY]),
                       static_cast<QWidget *>(label_[RUN_GROUP_VERIFY]),
                       static_cast<QWidget *>(sign_[RUN_GROUP_VERIFY]),
                       static_cast<QWidget *>(number_[RUN_GROUP_VERIFY])}) {
        w->setVisible(show);
        w->setEnabled(show);
    }
}

void CDownloadDlg::OnAdvanced()
{
    CAdvancedInfoDlg dlg;
    dlg.SetFirmware(firmware);
    dlg.exec();
}

void CDownloadDlg::OnStart()
{
    if (running_)
        return;
    std::string name = portBox_->currentText().toStdString();
    theApp.lastPort = name;
    if (AppAddTypedPort(name))
        FillPortBox();

    if (!AppUploadChecksPass(this, firmware))
        return;

    // The worker's reports are drawn by this thread after this function,
    // so the running state below is in place before the worker shows
    // anything.
    RunOptions options;
    options.verify = verify_->isChecked();
    options.file = fileStamp;
    std::string failure;
    run_ = RunStartOn(name, firmware, filePath, events_, options, failure);
    if (!run_) {
        if (!failure.empty())
            AppMessageBox(this, failure, APP_ICON_STOP);
        return;
    }
    EnterRunning();
    animation_->Play();
}

void CDownloadDlg::EnterRunning()
{
    running_ = true;
    events_.SetStopPressed(false);
    savedTitle = windowTitle().toStdString();
    setWindowTitle(RUN_TITLE_RUNNING);
    cancel_->setText(RUN_BUTTON_STOP);
    start_->setDefault(false);
    cancel_->setDefault(true);
    cancel_->repaint();
    cancel_->setFocus();
    start_->setEnabled(false);
    portBox_->setEnabled(false);
    advanced_->setEnabled(false);
    verify_->setEnabled(false);
}

void CDownloadDlg::OnCancelOrStop()
{
    theApp.lastPort = portBox_->currentText().toStdString();
    if (!running_) {
        QDialog::reject();
        return;
    }
    if (run_) {
        run_->RequestStop();
        events_.SetStopPressed(true);
        // The run may go on for a while (the instrument finishes writing its
        // flash first): show at once that the stop was taken.
        cancel_->setText(RUN_BUTTON_STOPPING);
        cancel_->setEnabled(false);
    }
}

void CDownloadDlg::reject()
{
    OnCancelOrStop();
}

void CDownloadDlg::closeEvent(QCloseEvent *event)
{
    // The window's Close command is refused while a run is going.
    if (running_) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void CDownloadDlg::OnMirdelDone(UploadResult result)
{
    animation_->Stop();
    animation_->Seek(0);

    RunOutcome outcome = RunEnd(run_, result);
    if (busyCursor_) {
        QGuiApplication::restoreOverrideCursor();
        busyCursor_ = false;
    }
    if (outcome.icon != RUN_ICON_NONE)
        AppMessageBox(this, outcome.text, AppIconOf(outcome.icon));

    RestoreIdle();
    if (result == UPLOAD_OK)
        accept();
}

void CDownloadDlg::RestoreIdle()
{
    setWindowTitle(QString::fromStdString(savedTitle));
    cancel_->setText(RUN_BUTTON_CANCEL);
    cancel_->setEnabled(true);
    start_->setEnabled(true);
    start_->setFocus();
    cancel_->setDefault(false);
    start_->setDefault(true);
    portBox_->setEnabled(true);
    advanced_->setEnabled(true);
    verify_->setEnabled(true);
    for (int g = 0; g < RUN_GROUP_COUNT; g++) {
        bar_[g]->setValue(0);
        if (fontsCreated)
            SetGroupFont(g, normalFont);
        number_[g]->setText("0");
        label_[g]->setText(RunGroupLabels[g]);
        if (note_[g])
            note_[g]->hide();
    }
    running_ = false;
}

void CDownloadDlg::SetGroupFont(int group, const QFont &font)
{
    label_[group]->setFont(font);
    number_[group]->setFont(font);
    sign_[group]->setFont(font);
}

void CDownloadDlg::TakeEvents()
{
    for (const RunEvent &e : events_.Take())
        ShowEvent(e);
}

void CDownloadDlg::ShowEvent(const RunEvent &e)
{
    if (closing_)
        return;
    switch (e.kind) {
    case RunEvent::BEGIN:
        for (QProgressBar *b : bar_) {
            b->setRange(0, RUN_BAR_MAX);
            b->setToolTip(QString());
        }
        if (!busyCursor_) {
            QGuiApplication::setOverrideCursor(Qt::BusyCursor);
            busyCursor_ = true;
        }
        return;
    case RunEvent::FINISHED:
        OnMirdelDone(e.result);
        return;
    default:
        break;
    }
    if (e.kind == RunEvent::STOPPING) {
        if (note_[e.group])
            note_[e.group]->show();
        return;
    }
    if (e.kind == RunEvent::PROGRESS) {
        bar_[e.group]->setValue(e.bar);
        number_[e.group]->setText(QString::number(e.percent));
        // Resends the instrument asks for show on the bar: a run that stands
        // still says why.
        bar_[e.group]->setToolTip(QString::fromStdString(RunResendText(e.resends)));
        return;
    }
    bool started = e.kind == RunEvent::STARTED;
    if (started && !fontsCreated) {
        normalFont = verify_->font();
        boldFont = normalFont;
        boldFont.setWeight(QFont::Bold);
        fontsCreated = true;
    }
    label_[e.group]->setText(QString(RunGroupLabels[e.group]) +
                             (started ? RUN_LABEL_BUSY : RUN_LABEL_DONE));
    if (fontsCreated)
        SetGroupFont(e.group, started ? boldFont : normalFont);
}
