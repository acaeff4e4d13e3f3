// The station window: the ports that come and go (in the upload dialog's
// port box too), the way in from the main window and from the command
// line. How its runs end, backups included: the run scenarios.
#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <clocale>
#include <filesystem>
#include <map>
#include <memory>

#include "desktop_qt/downloaddlg.h"
#include "desktop_qt/mirdeldlg.h"
#include "desktop_qt/stationdlg.h"
#include "platform/ports.h"
#include "platform/portwatch.h"
#include "tests/common/sim_process.h"
#include "tests/gui/gui_helpers.h"

namespace fs = std::filesystem;

namespace
{

std::string Read(const std::string &path)
{
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), {}};
}

} // namespace

class TestStationWindow : public QObject
{
    Q_OBJECT

    QTemporaryDir tmp_;
    std::map<std::string, std::unique_ptr<SimProcess>> sims_;

    std::string Path(const std::string &name) const { return tmp_.path().toStdString() + name; }
    std::string Firmware(const std::string &name, size_t bytes)
    {
        WriteLines(Path(name), ImageLines(0x10000, "App", 0x10000, bytes));
        return Path(name);
    }
    // A simulator by name ("ok1".."ok3"), kept for the program's life.
    std::string Port(const std::string &role)
    {
        if (!sims_[role])
            sims_[role] = std::make_unique<SimProcess>();
        return sims_[role]->Path();
    }

  private slots:
    void initTestCase()
    {
        std::setlocale(LC_NUMERIC, "C");
        QVERIFY(tmp_.isValid());
        // The windows' one port watch starts with the first: on a folder of ours.
        fs::create_directories(Path("/dev"));
        PlatSetPortWatchDir(Path("/dev").c_str());
    }

    void cleanup() { CancelWhenModal(); }

    // Ports appear and go while a window is open: the station's list (a
    // checked port keeps its check) and the upload dialog's port box (its
    // text stays). The system's list is a tree in the shape of
    // /sys/class/tty, the device nodes appear in the folder the watch is on.
    void portsComeAndGo()
    {
        const std::string sys = Path("/sys"), node = sys + "/class/tty/ttyUSB42";
        PlatSetPortListRoot(sys.c_str());
        for (bool station : {true, false}) {
            theApp.lastPort = "mine";
            AppAddTypedPort("mine");
            CStationDlg stationDlg;
            CDownloadDlg uploadDlg;
            stationDlg.Choose({"mine"}, "");
            QDialog &dlg = station ? static_cast<QDialog &>(stationDlg) : uploadDlg;
            dlg.show();
            auto *list = dlg.findChild<QTreeWidget *>("portsList");
            auto *box = dlg.findChild<QComboBox *>("portBox");
            QAbstractItemModel *m = list ? list->model() : box->model();
            for (bool plugged : {true, false}) {
                fs::remove_all(node); // the system's list first, then the node the watch sees
                if (plugged && fs::create_directories(node))
                    fs::create_directory_symlink("../../devices/ttyUSB42", node + "/device");
                plugged ? (void)std::ofstream(Path("/dev/ttyUSB42"))
                        : (void)fs::remove(Path("/dev/ttyUSB42"));
                QVERIFY(QTest::qWaitFor(
                    [&] { return m->match(m->index(0, 0), 0, "ttyUSB42").size() == plugged; },
                    30000));
                QVERIFY(list ? list->findItems("mine", Qt::MatchExactly)[0]->checkState(0) ==
                                   Qt::Checked
                             : box->currentText() == "mine");
            }
            dlg.close();
        }
        PlatSetPortListRoot(nullptr);
    }

    // A file given with a relative path: its folder shows as an absolute path.
    void relativePathShowsItsFolder()
    {
        QVERIFY(QDir::setCurrent(tmp_.path())); // the other tests name their files whole
        CDownloadDlg dlg;
        QCOMPARE(dlg.ScanFile(fs::path(Firmware("/relative.srec", 64)).filename().c_str()), 1);
        QCOMPARE(QString::fromStdString(dlg.location), QDir::current().canonicalPath());
    }

    // The main window reaches the station without a control of its own.
    void fromTheMainWindow()
    {
        CMirdelDlg main;
        bool opened = false;
        WhenModal<CStationDlg>([&](CStationDlg *w) { opened = w->close(); }, 5000);
        main.findChild<QAction *>("stationAction")->trigger();
        QVERIFY(opened);
    }

    // mirdel --station --port ... --results R FILE, then Return: every port
    // uploaded, a line each in R.
    void commandLine()
    {
        std::vector<std::string> words = {"mirdel", "--station"};
        for (const char *role : {"ok1", "ok2", "ok3"})
            words.insert(words.end(), {"--port", Port(role)});
        words.insert(words.end(), {"--results", Path("/cl.jsonl"), Firmware("/cl.srec", 64)});
        std::vector<char *> argv;
        for (auto &w : words)
            argv.push_back(w.data());
        CStationDlg::SetDefaultProgram(MIRDEL_BIN_DIR "/cli/mirdel-cli");
        std::string summary;
        WhenModal<CStationDlg>([&](CStationDlg *w) {
            QTest::keyClick(w, Qt::Key_Return);
            QVERIFY(QTest::qWaitFor([&] { return !w->Running(); }, 90000));
            summary = w->findChild<QLabel *>("summaryText")->text().toStdString();
            w->findChild<QPushButton *>("closeButton")->click();
        });
        QCOMPARE(theApp.InitInstance(static_cast<int>(words.size()), argv.data()), 0);
        CStationDlg::SetDefaultProgram("");
        QCOMPARE(summary, std::string("3 succeeded"));
        std::string lines = Read(Path("/cl.jsonl"));
        QCOMPARE(std::count(lines.begin(), lines.end(), '\n'), 3);
    }
};

QTEST_MAIN(TestStationWindow)
#include "station_test.moc"
