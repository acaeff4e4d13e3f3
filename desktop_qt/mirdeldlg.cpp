#include "desktop_qt/mirdeldlg.h"

#include <QAction>
#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QStyle>
#include <QUrl>
#include <QVBoxLayout>

#include <cerrno>
#include <string>

#include "core/help.h"
#include "desktop_qt/downloaddlg.h"
#include "desktop_qt/manualdlg.h"
#include "desktop_qt/mirdelapp.h"
#include "desktop_qt/myfiledialog.h"
#include "desktop_qt/stationdlg.h"
#include "platform/desktop.h"
#include "platform/syserr.h"

#ifndef MIRDEL_VERSION
#define MIRDEL_VERSION "0.0.0"
#endif

#define MIRDEL_TITLE "Mirdel"
#define MIRDEL_HELP_OPEN_WAIT_MS 3000

// Icons 104 (the program) and 144 (the instrument family), each drawn at
// several sizes.
static QIcon mirdeldlg_icon(const char *name, std::initializer_list<int> sizes)
{
    QIcon icon;
    for (int s : sizes) {
        QString file = QString(":/icons/%1-%2.png").arg(name).arg(s);
        if (QFileInfo::exists(file))
            icon.addFile(file, QSize(s, s));
    }
    return icon;
}

static CMirdelDlg::HelpOpener mirdeldlg_help_opener;

void CMirdelDlg::SetHelpOpener(HelpOpener opener)
{
    mirdeldlg_help_opener = std::move(opener);
}

static QLabel *mirdeldlg_line(QWidget *parent, const QString &text, const char *name = nullptr)
{
    auto *l = new QLabel(text, parent);
    l->setAlignment(Qt::AlignHCenter);
    if (name)
        l->setObjectName(name);
    return l;
}

static QLabel *mirdeldlg_picture(QWidget *parent, const QPixmap &pixmap, const char *name)
{
    auto *l = new QLabel(parent);
    l->setObjectName(name);
    l->setAlignment(Qt::AlignHCenter);
    l->setPixmap(pixmap);
    return l;
}

// The icons are compiled into the library; a static library's resources
// must be registered by hand.
static void mirdeldlg_init_resources()
{
    static bool done = false;
    if (!done) {
        done = true;
        Q_INIT_RESOURCE(mirdel);
    }
}

CMirdelDlg::CMirdelDlg(QWidget *parent) : QDialog(parent)
{
    mirdeldlg_init_resources();
    const int large = style()->pixelMetric(QStyle::PM_LargeIconSize);
    const int small = style()->pixelMetric(QStyle::PM_SmallIconSize);
    QIcon appIcon = mirdeldlg_icon("mirdel", {16, 32, 48, 64});
    largeIcon_ = appIcon.pixmap(large, large);
    if (largeIcon_.isNull())
        AppMessageBox(nullptr, "LoadIcon(IDR_MAINFRAME) failed", APP_ICON_EXCLAMATION);
    smallIcon_ = appIcon.pixmap(small, small);
    if (smallIcon_.isNull())
        AppMessageBox(nullptr, "LoadImage(IDR_MAINFRAME,SMICON) failed", APP_ICON_EXCLAMATION);

    setWindowTitle(MIRDEL_TITLE);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);

    QPixmap instrument = mirdeldlg_icon("instrument", {32, 64}).pixmap(large, large);

    upload_ = new QPushButton("&Upload", this);
    upload_->setObjectName("uploadButton");
    upload_->setDefault(true);
    close_ = new QPushButton("&Close", this);
    close_->setObjectName("closeButton");
    help_ = new QPushButton("&Help", this);
    help_->setObjectName("helpButton");
    auto *buttons = new QHBoxLayout;
    buttons->setSpacing(22);
    for (QPushButton *b : {upload_, close_, help_}) {
        b->setMinimumWidth(66);
        buttons->addWidget(b);
    }

    legalLine_ = mirdeldlg_line(this, "Provided as is, without warranty of any kind.", "legalLine");
    makerLine_ = mirdeldlg_line(this, "Varno Instruments", "makerLine");

    auto *top = new QVBoxLayout(this);
    top->setContentsMargins(16, 14, 16, 12);
    top->setSpacing(2);
    top->addWidget(mirdeldlg_picture(this, largeIcon_, "appIcon"));
    top->addSpacing(6);
    top->addWidget(mirdeldlg_line(this, "Firmware Upload Utility"));
    top->addWidget(mirdeldlg_line(this, "for Varno power analyzers"));
    top->addWidget(mirdeldlg_line(this, "Version " MIRDEL_VERSION));
    top->addSpacing(10);
    top->addWidget(mirdeldlg_picture(this, instrument, "instrumentIcon"));
    top->addSpacing(4);
    top->addWidget(legalLine_);
    top->addWidget(makerLine_);
    top->addSpacing(14);
    top->addLayout(buttons);
    top->setSizeConstraint(QLayout::SetFixedSize);

    setAcceptDrops(true);

    // The station is reached from the window's context menu (and its
    // shortcut), so that no control of the window moves.
    auto *station = new QAction("&Station...", this);
    station->setObjectName("stationAction");
    station->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_T));
    addAction(station);
    setContextMenuPolicy(Qt::ActionsContextMenu);
    connect(station, &QAction::triggered, this, &CMirdelDlg::OpenStation);

    connect(upload_, &QPushButton::clicked, this, &CMirdelDlg::OnUploadButton);
    connect(close_, &QPushButton::clicked, this, &CMirdelDlg::OnCloseButton);
    connect(help_, &QPushButton::clicked, this, &CMirdelDlg::OnHelpButton);
}

CMirdelDlg::~CMirdelDlg() = default;

void CMirdelDlg::showEvent(QShowEvent *event)
{
    if (!initialised_) {
        initialised_ = true;
        OnInitDialog();
    }
    QDialog::showEvent(event);
}

bool CMirdelDlg::OnInitDialog()
{
    QIcon windowIcon;
    if (!largeIcon_.isNull())
        windowIcon.addPixmap(largeIcon_);
    if (!smallIcon_.isNull())
        windowIcon.addPixmap(smallIcon_);
    setWindowIcon(windowIcon);
    // Windows without a parent (the Advanced window) take the program's.
    QGuiApplication::setWindowIcon(windowIcon);

    smallFont_ = font();
    smallFont_.setPixelSize(10);
    legalLine_->setFont(smallFont_);

    theApp.lastPort.clear();
    upload_->setFocus();
    return true;
}

void CMirdelDlg::OnUploadButton()
{
    std::string path;
    if (theApp.haveFirmwareArg) {
        path = theApp.firmwareArg;
    } else {
        CMyFileDialog dlg(this, MIRDEL_FILE_DIALOG_TITLE, QString(),
                          MIRDEL_FILTER_SREC ";;" MIRDEL_FILTER_ALL);
        dlg.setAcceptMode(QFileDialog::AcceptOpen);
        dlg.setFileMode(QFileDialog::ExistingFile);
        dlg.selectNameFilter(MIRDEL_FILTER_SREC);
        if (dlg.exec() != QDialog::Accepted)
            return;
        QStringList chosen = dlg.selectedFiles();
        if (chosen.isEmpty()) {
            // Accepted without a file: the dialog did not work.
            AppMessageBox(this, "Dialog box could not be created!", APP_ICON_STOP);
            return;
        }
        path = QFile::encodeName(chosen.first()).toStdString();
        // The file dialog has just covered the window: bring it back first.
        for (QWidget *w : findChildren<QWidget *>())
            w->repaint();
    }

    OpenUploadDialog(path);
}

void CMirdelDlg::OpenUploadDialog(const std::string &path)
{
    // Parented so that it and the analysis' error box are centred on this
    // window.
    CDownloadDlg dlg(this);
    if (dlg.ScanFile(path.c_str()))
        dlg.exec();
}

void CMirdelDlg::OpenStation()
{
    CStationDlg dlg(this);
    if (!theApp.haveFirmwareArg || dlg.ScanFile(theApp.firmwareArg.c_str()))
        dlg.exec();
}

// The one local file a drag carries, or empty.
static QString mirdeldlg_dropped_file(const QMimeData *data)
{
    if (!data || !data->hasUrls())
        return QString();
    QList<QUrl> urls = data->urls();
    if (urls.size() != 1 || !urls.first().isLocalFile())
        return QString();
    QString path = urls.first().toLocalFile();
    return QFileInfo(path).isFile() ? path : QString();
}

void CMirdelDlg::dragEnterEvent(QDragEnterEvent *event)
{
    if (!mirdeldlg_dropped_file(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void CMirdelDlg::dropEvent(QDropEvent *event)
{
    QString path = mirdeldlg_dropped_file(event->mimeData());
    if (path.isEmpty())
        return;
    event->acceptProposedAction();
    // The drag's source waits for the drop to return: the modal dialog
    // runs after it.
    std::string file = QFile::encodeName(path).toStdString();
    QMetaObject::invokeMethod(
        this, [this, file] { OpenUploadDialog(file); }, Qt::QueuedConnection);
}

void CMirdelDlg::OnCloseButton()
{
    reject();
}

QString CMirdelDlg::HelpDirectory()
{
    QString dir = QCoreApplication::applicationDirPath();
    if (!dir.isEmpty() && !dir.endsWith('/'))
        dir += '/';
    return dir;
}

bool CMirdelDlg::OpenHelpFile(const QString &path)
{
    if (!QFileInfo(path).isFile()) {
        PlatSetLastErrorFromErrno(ENOENT);
        return false;
    }
    if (mirdeldlg_help_opener) {
        bool opened = mirdeldlg_help_opener(path);
        if (!opened)
            PlatSetLastErrorFromErrno(ENOTSUP);
        return opened;
    }
    // The desktop's opener answers within a second or two, or keeps
    // running with the viewer it started.
    QApplication::setOverrideCursor(Qt::WaitCursor);
    int opened = PlatOpenDocument(QFile::encodeName(path).constData(), MIRDEL_HELP_OPEN_WAIT_MS);
    QApplication::restoreOverrideCursor();
    return opened == 1;
}

bool CMirdelDlg::ShowManual(const QString &path)
{
    if (!manual_)
        manual_ = new CManualDlg(this);
    if (!manual_->LoadFile(path))
        return false;
    manual_->show();
    manual_->raise();
    manual_->activateWindow();
    return true;
}

void CMirdelDlg::OnHelpButton()
{
    // The text version is the manual's Markdown: shown in the program's own
    // window, which needs no viewer.
    HelpOpen(
        QFile::encodeName(HelpDirectory()).toStdString(),
        [](const std::string &pdf) { return OpenHelpFile(QFile::decodeName(pdf.c_str())); },
        [this](const std::string &txt) { return ShowManual(QFile::decodeName(txt.c_str())); },
        [this](const std::string &text) { AppMessageBox(this, text, APP_ICON_STOP); });
}
