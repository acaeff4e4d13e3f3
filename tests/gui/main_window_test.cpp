// The main window: its face, Upload with and without a command-line file,
// Help with the help files present or missing, and the program's start-up.
#include <QFile>
#include <QLabel>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QTimer>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTest>

#include <clocale>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "desktop_qt/downloaddlg.h"
#include "desktop_qt/manualdlg.h"
#include "desktop_qt/mirdeldlg.h"
#include "desktop_qt/myfiledialog.h"
#include "platform/ports.h"
#include "tests/gui/gui_helpers.h"

class TestMainWindow : public QObject
{
    Q_OBJECT

    QTemporaryDir tmp_;
    std::string firmwarePath_;

    static void SetHelpFiles(bool pdf, bool txt)
    {
        for (auto [name, wanted] :
             {std::pair{MIRDEL_HELP_PDF, pdf}, std::pair{MIRDEL_HELP_TXT, txt}}) {
            QFile f(CMirdelDlg::HelpDirectory() + name);
            if (wanted)
                QVERIFY(f.open(QIODevice::WriteOnly));
            else
                f.remove();
        }
    }

  private slots:
    void initTestCase()
    {
        std::setlocale(LC_NUMERIC, "C");
        QVERIFY(tmp_.isValid());
        firmwarePath_ = tmp_.path().toStdString() + "/main.srec";
        WriteLines(firmwarePath_, ImageLines(0x1000, "App", 0x1000, 256));
    }

    void init()
    {
        theApp.haveFirmwareArg = false;
        theApp.ports = {"COM1", "COM2"};
        theApp.lastPort = "stale";
    }

    void cleanup()
    {
        CancelWhenModal();
        SetHelpFiles(false, false);
        CMirdelDlg::SetHelpOpener(nullptr);
    }

    void face()
    {
        MessageRecorder boxes;
        CMirdelDlg dlg;
        dlg.show();
        QVERIFY(boxes.messages.empty()); // both icon sizes loaded
        QCOMPARE(dlg.LargeIcon().width(), 32);
        QCOMPARE(dlg.SmallIcon().width(), 16);
        QVERIFY(!dlg.findChild<QLabel *>("instrumentIcon")->pixmap().isNull());
        QCOMPARE(dlg.findChild<QLabel *>("legalLine")->font().pixelSize(), 10);
        QVERIFY(dlg.findChild<QPushButton *>("uploadButton")->isDefault());
        QVERIFY(!(dlg.windowFlags() & Qt::WindowMaximizeButtonHint));
        QCOMPARE(dlg.minimumSize(), dlg.maximumSize()); // not resizable
        QVERIFY(theApp.lastPort.empty());
        QTest::mouseClick(dlg.findChild<QPushButton *>("closeButton"), Qt::LeftButton);
        QVERIFY(!dlg.isVisible());
        QCOMPARE(dlg.result(), int(QDialog::Rejected));
    }

    void uploadWithTheCommandLineFile()
    {
        theApp.haveFirmwareArg = true;
        theApp.firmwareArg = firmwarePath_;
        MessageRecorder boxes;
        CMirdelDlg dlg;
        // Every click analyses the same file again; no file dialog.
        for (int round = 0; round < 2; round++) {
            QString shown;
            WhenModal<QDialog>([&](QDialog *d) {
                if (auto *up = qobject_cast<CDownloadDlg *>(d))
                    shown = up->findChild<QLineEdit *>("nameField")->text();
                d->reject();
            });
            dlg.OnUploadButton();
            QCOMPARE(shown, QString("main.srec"));
        }
        // A file that cannot be analysed gives its box and no dialog.
        theApp.firmwareArg = tmp_.path().toStdString() + "/gone.srec";
        dlg.OnUploadButton();
        QCOMPARE(boxes.messages.size(), size_t(1));
        QVERIFY(boxes.Text(0).find("gone.srec") != std::string::npos);
        QCOMPARE(boxes.messages[0].parent, &dlg); // centred on the main window
    }

    // Dropping one local file opens the upload dialog on it; anything else
    // is refused.
    void dropAFile_data()
    {
        QTest::addColumn<QStringList>("urls");
        QTest::addColumn<QString>("opens"); // "dialog", "box" or "" (refused)
        QString dir = tmp_.path();
        QTest::newRow("firmware file") << QStringList{"file://" + dir + "/main.srec"} << "dialog";
        QTest::newRow("faulty file") << QStringList{"file://" + dir + "/bad.srec"} << "box";
        QTest::newRow("two files")
            << QStringList{"file://" + dir + "/main.srec", "file://" + dir + "/bad.srec"} << "";
        QTest::newRow("remote file") << QStringList{"http://example.com/main.srec"} << "";
        QTest::newRow("directory") << QStringList{"file://" + dir} << "";
    }

    void dropAFile()
    {
        QFETCH(QStringList, urls);
        QFETCH(QString, opens);
        WriteLines(tmp_.path().toStdString() + "/bad.srec", {"S1FF"});
        MessageRecorder boxes;
        CMirdelDlg dlg;
        dlg.show();
        QVERIFY(dlg.acceptDrops());
        QMimeData data;
        QList<QUrl> list;
        for (const QString &u : urls)
            list << QUrl(u);
        data.setUrls(list);
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton,
                              Qt::NoModifier);
        QApplication::sendEvent(&dlg, &enter);
        QCOMPARE(enter.isAccepted(), !opens.isEmpty());

        // The upload dialog is closed as soon as it shows; any other modal
        // window left after 10 s is closed too, so that nothing hangs.
        QString shown;
        int ticks = 0;
        QTimer poll;
        connect(&poll, &QTimer::timeout, [&] {
            QWidget *modal = QApplication::activeModalWidget();
            if (auto *up = qobject_cast<CDownloadDlg *>(modal)) {
                shown = up->findChild<QLineEdit *>("nameField")->text();
                up->reject();
            } else if (modal && ++ticks > 1000) {
                modal->close();
            }
        });
        poll.start(10);
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&dlg, &drop);
        QCOMPARE(drop.isAccepted(), !opens.isEmpty());
        QCoreApplication::processEvents(); // the dialog opens after the drop
        if (opens == "dialog")
            QTRY_COMPARE_WITH_TIMEOUT(shown, QString("main.srec"), 15000);
        QVERIFY(!QApplication::activeModalWidget());
        QCOMPARE(shown.isEmpty(), opens != "dialog");
        QCOMPARE(boxes.messages.size(), size_t(opens == "box" ? 1 : 0));
        if (opens == "box") {
            QVERIFY(boxes.Text(0).find("'S1FF'") != std::string::npos); // its one line
            QCOMPARE(boxes.messages[0].parent, &dlg);
        }
    }

    void uploadAsksForTheFile()
    {
        MessageRecorder boxes;
        CMirdelDlg dlg;
        QString title, selected;
        QStringList filters;
        WhenModal<CMyFileDialog>([&](CMyFileDialog *fd) {
            title = fd->windowTitle();
            filters = fd->nameFilters();
            selected = fd->selectedNameFilter();
            fd->reject();
        });
        dlg.OnUploadButton(); // cancelled: nothing happens
        QCOMPARE(title, QString("Select firmware file for upload"));
        QCOMPARE(filters, QStringList({"Varno Firmware Files (*.srec)", "All Files (*)"}));
        QCOMPARE(selected, filters.value(0));

        QString shown;
        WhenModal<CMyFileDialog>([&](CMyFileDialog *fd) {
            WhenModal<CDownloadDlg>([&](CDownloadDlg *up) {
                shown = up->findChild<QLineEdit *>("locationField")->text();
                up->reject();
            });
            QVERIFY(ChooseFile(fd, QString::fromStdString(firmwarePath_)));
        });
        dlg.OnUploadButton();
        QCOMPARE(shown, tmp_.path());
        QVERIFY(boxes.messages.empty());
    }

    void help()
    {
        std::vector<QString> opened;
        bool viewerTakes = true;
        CMirdelDlg::SetHelpOpener([&](const QString &path) {
            opened.push_back(path);
            return viewerTakes;
        });
        const QString dir = CMirdelDlg::HelpDirectory();
        QCOMPARE(dir, QCoreApplication::applicationDirPath() + "/");
        const std::string missing = "\n\nNo such file or directory <ERROR_FILE_NOT_FOUND>";
        MessageRecorder boxes;
        CMirdelDlg dlg;

        SetHelpFiles(true, true); // the PDF alone
        QTest::mouseClick(dlg.findChild<QPushButton *>("helpButton"), Qt::LeftButton);
        QCOMPARE(opened, std::vector<QString>({dir + MIRDEL_HELP_PDF}));
        QVERIFY(boxes.messages.empty());

        SetHelpFiles(false, true); // the PDF's box, then the text file in the manual window
        opened.clear();
        dlg.OnHelpButton();
        QVERIFY(opened.empty());
        QVERIFY(dlg.findChild<CManualDlg *>()->isVisible());
        QCOMPARE(boxes.messages.size(), size_t(1));
        QCOMPARE(boxes.messages[0].icon, APP_ICON_STOP);
        QCOMPARE(boxes.Text(0), "Error opening PDF help file:\n\n" +
                                    (dir + MIRDEL_HELP_PDF).toStdString() + missing);

        SetHelpFiles(false, false); // two boxes in turn
        opened.clear();
        dlg.OnHelpButton();
        QVERIFY(opened.empty());
        QCOMPARE(boxes.messages.size(), size_t(3));
        QCOMPARE(boxes.Text(2), "Error opening TXT help file:\n\n" +
                                    (dir + MIRDEL_HELP_TXT).toStdString() + missing);

        SetHelpFiles(true, false); // present, but no viewer takes it
        viewerTakes = false;
        dlg.OnHelpButton();
        QCOMPARE(boxes.messages.size(), size_t(5));
        QVERIFY2(boxes.Text(3).find("<ERROR_NOT_SUPPORTED>") != std::string::npos,
                 boxes.Text(3).c_str());
    }

    // No opener for the PDF (none on the PATH): its box says so, and the
    // manual shows in the program's window, with contents links and Find.
    void helpWithoutAViewerShowsTheManual()
    {
        const QByteArray path = qgetenv("PATH");
        QTemporaryDir noTools;
        qputenv("PATH", noTools.path().toLocal8Bit());
        SetHelpFiles(true, false);
        QVERIFY(QFile::copy(MIRDEL_TEST_DATA "/../../docs/manual.md",
                            CMirdelDlg::HelpDirectory() + MIRDEL_HELP_TXT));
        MessageRecorder boxes;
        CMirdelDlg dlg;
        dlg.OnHelpButton();
        qputenv("PATH", path);
        QCOMPARE(boxes.messages.size(), size_t(1));
        QVERIFY(boxes.Text(0).find("<ERROR_NOT_SUPPORTED>") != std::string::npos);
        auto *manual = dlg.findChild<CManualDlg *>();
        QVERIFY(manual && manual->isVisible());
        auto *view = manual->findChild<QTextBrowser *>("manualView");
        QVERIFY(view->toPlainText().contains("Finding the port"));

        // A contents link for every chapter and section, each reaching its
        // heading.
        QStringList links;
        for (QTextBlock b = view->document()->begin(); b.isValid(); b = b.next())
            for (auto f = b.begin(); !f.atEnd(); ++f)
                if (f.fragment().charFormat().anchorHref().startsWith('#'))
                    links << f.fragment().charFormat().anchorHref();
        QFile md(MIRDEL_TEST_DATA "/../../docs/manual.md");
        QVERIFY(md.open(QIODevice::ReadOnly));
        const QString text = md.readAll();
        QCOMPARE(links.size(),
                 text.count(QRegularExpression("^##? ", QRegularExpression::MultilineOption)));
        view->scrollToAnchor(links.last().mid(1));
        QVERIFY(view->verticalScrollBar()->value() > 0);

        QVERIFY(manual->Find("dialout"));
        QCOMPARE(view->textCursor().selectedText(), QString("dialout"));
        QVERIFY(!manual->Find("no such words"));
        QCOMPARE(manual->findChild<QLabel *>("findStatus")->text(), QString("Not found"));
    }

    void startUpRunsTheMainWindow()
    {
        std::string log = tmp_.path().toStdString() + "/run.log";
        std::vector<std::string> words = {"/opt/x/mirdel", "-v", "-l", log, firmwarePath_, "more"};
        std::vector<char *> argv;
        for (auto &w : words)
            argv.push_back(w.data());
        argv.push_back(nullptr);
        // The system knows one serial device, ttyUSB7 (a tree in the shape
        // of /sys/class/tty); the list starts with the two fixed names.
        const std::string sys = tmp_.path().toStdString() + "/sys";
        std::filesystem::create_directories(sys + "/class/tty/ttyUSB7");
        std::filesystem::create_directory_symlink("../../devices/ttyUSB7",
                                                  sys + "/class/tty/ttyUSB7/device");
        PlatSetPortListRoot(sys.c_str());
        theApp.ports.clear();
        MessageRecorder boxes;
        WhenModal<CMirdelDlg>(
            [](CMirdelDlg *main) { main->findChild<QPushButton *>("closeButton")->click(); });
        QCOMPARE(theApp.InitInstance(static_cast<int>(words.size()), argv.data()), 0);
        PlatSetPortListRoot(nullptr);
        QVERIFY(boxes.messages.empty());
        QVERIFY(theApp.haveFirmwareArg);
        QCOMPARE(theApp.firmwareArg, firmwarePath_);
        const char *const *fixed = PlatFixedPortNames();
        QCOMPARE(theApp.ports, std::vector<std::string>({fixed[0], fixed[1], "ttyUSB7"}));

        std::stringstream text;
        text << std::ifstream(log).rdbuf();
        std::string all = text.str();
        size_t start = all.find("mirdel: -------------------- Start: --------------------");
        size_t done = all.find("CMirdelApp::InitInstance(): dlg.DoModal() done", start);
        QVERIFY2(start != std::string::npos && done != std::string::npos &&
                     all.find("CMirdelApp::InitInstance(): end", done) != std::string::npos,
                 all.c_str());
    }
};

QTEST_MAIN(TestMainWindow)
#include "main_window_test.moc"
