// The station window: one table of runs on several simulators, the ports
// that come and go (in the upload dialog's port box too), and the command
// line.
#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QCheckBox>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <clocale>
#include <filesystem>
#include <map>
#include <memory>

#include "core/station.h"
#include "desktop_qt/downloaddlg.h"
#include "desktop_qt/mirdeldlg.h"
#include "desktop_qt/stationdlg.h"
#include "platform/ports.h"
#include "platform/portwatch.h"
#include "tests/common/sim_process.h"
#include "tests/gui/gui_helpers.h"

namespace
{

const std::string kCli = MIRDEL_BIN_DIR "/cli/mirdel-cli";

std::vector<std::string> Lines(const std::string &path)
{
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string l; std::getline(in, l);)
        lines.push_back(l);
    return lines;
}

// The simulators by role: "ok1".."ok3" answer and keep what they were
// sent, "locked" refuses every job, "gone" vanishes during an upload (a
// fresh one each time), "none" is no device at all.
std::string SimPort(std::map<std::string, std::unique_ptr<SimProcess>> &sims, const std::string &role)
{
    if (role == "none")
        return "/dev/mirdel-no-such-port";
    std::vector<std::string> options;
    if (role == "locked")
        for (int n = 1; n <= 30; n++)
            options.push_back("--fault=job:" + std::to_string(n) + ":refuse:Flash locked");
    if (role == "gone")
        options = {"--fault", "record:5:hangup"};
    auto &sim = sims[role];
    if (!sim || role == "gone")
        sim = std::make_unique<SimProcess>(options);
    return sim->Path();
}

struct Row {
    std::string role;
    int status;
    std::string outcome; // how the outcome begins
    std::string advice = "";
};

} // namespace

class TestStationWindow : public QObject
{
    Q_OBJECT

    QTemporaryDir tmp_;
    std::map<std::string, std::unique_ptr<SimProcess>> sims_;

    std::string Dev() const { return tmp_.path().toStdString() + "/dev"; }

    std::string Firmware(const std::string &name, size_t bytes)
    {
        std::string path = tmp_.path().toStdString() + "/" + name;
        WriteLines(path, ImageLines(0x10000, "App", 0x10000, bytes));
        return path;
    }

  private slots:
    void initTestCase()
    {
        std::setlocale(LC_NUMERIC, "C");
        QVERIFY(tmp_.isValid());
        // The windows' one port watch starts with the first: on a folder of ours.
        std::filesystem::create_directories(Dev());
        PlatSetPortWatchDir(Dev().c_str());
    }

    void init()
    {
        theApp.ports = {"COM1", "COM2"};
        theApp.typedPorts.clear();
    }

    void cleanup() { CancelWhenModal(); }

    void runs()
    {
        const std::string fw = Firmware("station.srec", 4096);
        const std::string results = tmp_.path().toStdString() + "/results.jsonl";
        const std::string backups = tmp_.path().toStdString() + "/backups";
        std::filesystem::create_directory(backups);
        const std::string ok = "Upload successful.", failed = "Upload failed";
        const struct {
            std::vector<std::string> roles;
            bool verifyOnly, backup;
            std::vector<Row> rows;
            std::string summary;
        } cases[] = {
            {{"ok1", "ok2", "ok3", "locked"},
             false,
             false,
             {{"ok1", 0, ok}, {"ok2", 0, ok}, {"ok3", 0, ok}, {"locked", 2, failed, "Flash locked"}},
             "3 succeeded, 1 failed"},
            {{"ok1", "locked", "none"},
             false,
             false,
             {{"ok1", 0, ok},
              {"locked", 2, failed, "Flash locked"},
              {"none", 5, "Cannot open serial port:", RUN_PORT_MISSING_ADVICE}},
             "1 succeeded, 2 failed"},
            {{"ok1", "ok2"},
             true,
             false,
             {{"ok1", 0, "Verification successful."}, {"ok2", 0, "Verification successful."}},
             "2 succeeded"},
            // The backup, then its restore (the same row again, the backup as the file).
            {{"ok3"}, false, true, {{"ok3", 0, ok}}, "1 succeeded"},
            {{"ok2", "gone"}, false, false, {{"ok2", 0, ok}, {"gone", 2, failed, RUN_PORT_LOST_ADVICE}},
             "1 succeeded, 1 failed"},
        };
        MessageRecorder boxes;
        for (const auto &c : cases) {
            std::string file = fw;
            for (int pass = 0; pass < (c.backup ? 2 : 1); pass++) {
                std::map<std::string, std::string> ports; // role -> port
                CStationDlg dlg;
                dlg.program = kCli;
                dlg.Choose({}, results);
                QCOMPARE(dlg.ScanFile(file.c_str()), 1);
                dlg.show();
                for (const std::string &role : c.roles) { // typed in: added, checked
                    ports[role] = SimPort(sims_, role);
                    dlg.findChild<QLineEdit *>("portName")->setText(QString::fromStdString(ports[role]));
                    QTest::mouseClick(dlg.findChild<QPushButton *>("addButton"), Qt::LeftButton);
                }
                dlg.findChild<QRadioButton *>(c.verifyOnly ? "verifyOnlyRadio" : "uploadRadio")->setChecked(true);
                dlg.findChild<QCheckBox *>("backupCheck")->setChecked(c.backup && pass == 0);
                dlg.findChild<QLineEdit *>("backupDir")->setText(QString::fromStdString(backups));
                size_t before = Lines(results).size();
                QTest::keyClick(&dlg, Qt::Key_Return); // Start is the default button
                QVERIFY(dlg.Running());
                QVERIFY(!dlg.close()); // refused during the run
                QVERIFY(!dlg.findChild<QPushButton *>("startButton")->isEnabled());
                QVERIFY(QTest::qWaitFor([&] { return !dlg.Running(); }, 90000));
                if (const char *hold = getenv("MIRDEL_TEST_HOLD_MS")) // the finished window
                    QTest::qWait(atoi(hold));

                auto *list = dlg.findChild<QTreeWidget *>("rowsList");
                QCOMPARE(list->topLevelItemCount(), static_cast<int>(c.rows.size()));
                std::vector<std::string> lines = Lines(results);
                QCOMPARE(lines.size(), before + c.rows.size());
                int worst = 0;
                for (const Row &r : c.rows) {
                    auto found = list->findItems(QString::fromStdString(ports[r.role]), Qt::MatchExactly);
                    QCOMPARE(found.size(), 1);
                    QTreeWidgetItem *item = found.first();
                    std::string phase = item->text(2).toStdString(), tip = item->toolTip(6).toStdString();
                    worst = std::max(worst, r.status);
                    QCOMPARE(phase, tip.substr(0, tip.find('\n')));
                    QVERIFY2(phase.rfind(r.outcome, 0) == 0 && tip.find(r.advice) != std::string::npos,
                             tip.c_str());
                    QVERIFY(r.status || item->text(4) == "100");
                    QCOMPARE(item->data(6, Qt::UserRole).toInt(), int(StationStatusIcon(r.status)));
                    std::string port = "\"port\":\"" + ports[r.role] + "\"";
                    std::string status = "\"exit_status\":" + std::to_string(r.status) + ",";
                    QVERIFY2(std::any_of(lines.begin() + before, lines.end(), [&](const std::string &l) {
                                 return l.find(port) != l.npos && l.find(status) != l.npos;
                             }),
                             (port + status).c_str());
                }
                QCOMPARE(dlg.findChild<QLabel *>("summaryText")->text().toStdString(), c.summary);
                QCOMPARE(dlg.findChild<QLabel *>("summaryIcon")->property("runIcon").toInt(),
                         int(StationStatusIcon(worst)));
                QVERIFY(dlg.close());
                if (!c.backup)
                    continue;
                // The backup made before the upload is the file of the restore.
                std::string prefix = std::filesystem::path(ports[c.roles[0]]).filename().string() + "-";
                file.clear();
                for (const auto &e : std::filesystem::directory_iterator(backups))
                    if (e.path().filename().string().rfind(prefix, 0) == 0)
                        file = e.path().string();
                QVERIFY2(!file.empty(), backups.c_str());
            }
        }
        QVERIFY(boxes.messages.empty());
    }

    // Ports appear and go while a window is open: the station's list (a
    // checked port keeps its check) and the upload dialog's port box (its
    // text stays). The system's list is a tree in the shape of /sys/class/tty,
    // the device nodes appear in the folder the watch is pointed at.
    void portsComeAndGo()
    {
        const std::string sys = tmp_.path().toStdString() + "/sys", dev = Dev();
        std::filesystem::create_directories(sys + "/class/tty");
        PlatSetPortListRoot(sys.c_str());
        auto shown = [](QWidget *w) {
            std::string names;
            if (auto *list = w->findChild<QTreeWidget *>("portsList"))
                for (int i = 0; i < list->topLevelItemCount(); i++)
                    names += list->topLevelItem(i)->text(0).toStdString() +
                             (list->topLevelItem(i)->checkState(0) == Qt::Checked ? "+ " : " ");
            if (auto *box = w->findChild<QComboBox *>("portBox")) {
                for (int i = 0; i < box->count(); i++)
                    names += box->itemText(i).toStdString() + " ";
                names += "[" + box->currentText().toStdString() + "]";
            }
            return names;
        };
        for (bool station : {true, false}) {
            theApp.lastPort = "mine";
            AppAddTypedPort("mine");
            CStationDlg stationDlg;
            CDownloadDlg uploadDlg;
            stationDlg.Choose({"mine"}, "");
            QDialog &dlg = station ? static_cast<QDialog &>(stationDlg) : uploadDlg;
            dlg.show();
            for (bool plugged : {true, false}) {
                std::string node = sys + "/class/tty/ttyUSB42";
                if (plugged) {
                    std::filesystem::create_directories(node);
                    std::filesystem::create_directory_symlink("../../devices/ttyUSB42", node + "/device");
                    std::ofstream(dev + "/ttyUSB42").put('\n');
                } else {
                    std::filesystem::remove_all(node);
                    std::filesystem::remove(dev + "/ttyUSB42");
                }
                QVERIFY2(QTest::qWaitFor([&] { return (shown(&dlg).find("ttyUSB42 ") != std::string::npos) == plugged; },
                                         30000),
                         shown(&dlg).c_str());
                QVERIFY2(shown(&dlg).find(station ? "mine+ " : "[mine]") != std::string::npos,
                         shown(&dlg).c_str());
            }
            dlg.close();
        }
        PlatSetPortListRoot(nullptr);
    }

    // A file given with a relative path: its folder shows as an absolute path.
    void relativePathShowsItsFolder()
    {
        QString cwd = QDir::currentPath();
        QVERIFY(QDir::setCurrent(tmp_.path()));
        Firmware("relative.srec", 64);
        CDownloadDlg dlg;
        QCOMPARE(dlg.ScanFile("relative.srec"), 1);
        QDir::setCurrent(cwd);
        QCOMPARE(QString::fromStdString(dlg.location), QDir(tmp_.path()).canonicalPath());
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
        const std::string fw = Firmware("station-cl.srec", 64);
        const std::string results = tmp_.path().toStdString() + "/cl.jsonl";
        std::vector<std::string> words = {"mirdel", "--station"};
        for (const char *role : {"ok1", "ok2", "ok3"})
            words.insert(words.end(), {"--port", SimPort(sims_, role)});
        words.insert(words.end(), {"--results", results, fw});
        std::vector<char *> argv;
        for (auto &w : words)
            argv.push_back(w.data());
        argv.push_back(nullptr);
        CStationDlg::SetDefaultProgram(kCli);
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
        QCOMPARE(Lines(results).size(), size_t(3));
    }
};

QTEST_MAIN(TestStationWindow)
#include "station_test.moc"
