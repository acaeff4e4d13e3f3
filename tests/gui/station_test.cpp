// The station window: one table of runs on several simulators, the ports
// that come and go (in the upload dialog's port box too), the way in from
// the main window and from the command line.
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
#include <regex>

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

struct Row {
    std::string role;
    int status;
    std::string begins, advice = ""; // the outcome's first words, a part of its whole text
};

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
    // The simulators by role: "ok1".."ok3" answer and keep what they were
    // sent, "locked" refuses every job, "gone" vanishes during an upload (a
    // fresh one each time), "slow" writes its flash for seconds, "none" is no
    // device at all.
    std::string Port(const std::string &role)
    {
        std::vector<std::string> options;
        for (int n = 1; role == "locked" && n <= 30; n++)
            options.push_back("--fault=job:" + std::to_string(n) + ":refuse:Flash locked");
        if (role == "gone")
            options = {"--fault", "record:5:hangup"};
        if (role == "slow")
            options = {"--flash-step", "1024", "--flash-delay", "700"};
        if (role != "none" && (!sims_[role] || role == "gone"))
            sims_[role] = std::make_unique<SimProcess>(options);
        return role == "none" ? "/dev/mirdel-no-such-port" : sims_[role]->Path();
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

    void runs()
    {
        const std::string results = Path("/results.jsonl"), backups = Path("/backups");
        fs::create_directory(backups);
        const std::string ok = "Upload successful.", failed = "Upload failed";
        const std::string verified = "Verification successful.";
        const struct {
            std::vector<std::string> roles;
            bool verifyOnly, backup;
            std::vector<Row> rows;
            std::string summary;
            std::string stopIn = ""; // Stop once this role's flash writing is under way
        } cases[] = {
            // clang-format off
            {{"ok1", "ok2", "ok3", "locked"}, false, false,
             {{"ok1", 0, ok}, {"ok2", 0, ok}, {"ok3", 0, ok}, {"locked", 2, failed, "Flash locked"}},
             "3 succeeded, 1 failed"},
            {{"ok1", "locked", "none"}, false, false,
             {{"ok1", 0, ok}, {"locked", 2, failed, "Flash locked"},
              {"none", 5, "Cannot open serial port:", RUN_PORT_MISSING_ADVICE}},
             "1 succeeded, 2 failed"},
            {{"ok1", "ok2"}, true, false, {{"ok1", 0, verified}, {"ok2", 0, verified}}, "2 succeeded"},
            // The backup, then its restore (the same row again, the backup as the file).
            {{"ok3"}, false, true, {{"ok3", 0, ok}}, "1 succeeded"},
            {{"ok2", "gone"}, false, false, {{"ok2", 0, ok}, {"gone", 2, failed, RUN_PORT_LOST_ADVICE}},
             "1 succeeded, 1 failed"},
            {{"ok1", "slow"}, false, false, {{"ok1", 0, ok}, {"slow", 1, "Upload stopped by user."}},
             "1 succeeded, 1 stopped", "slow"},
            // clang-format on
        };
        MessageRecorder boxes;
        for (const auto &c : cases) {
            std::string file = Firmware("/station.srec", 4096);
            for (int pass = 0; pass < (c.backup ? 2 : 1); pass++) {
                std::map<std::string, std::string> ports; // by role
                CStationDlg dlg;
                dlg.program = MIRDEL_BIN_DIR "/cli/mirdel-cli";
                dlg.Choose({}, results);
                QCOMPARE(dlg.ScanFile(file.c_str()), 1);
                dlg.show();
                for (const std::string &role : c.roles) { // typed in: added, checked
                    ports[role] = Port(role);
                    dlg.findChild<QLineEdit *>("portName")
                        ->setText(QString::fromStdString(ports[role]));
                    QTest::mouseClick(dlg.findChild<QPushButton *>("addButton"), Qt::LeftButton);
                }
                dlg.findChild<QAbstractButton *>(c.verifyOnly ? "verifyOnlyRadio" : "uploadRadio")
                    ->setChecked(true);
                dlg.findChild<QAbstractButton *>("backupCheck")->setChecked(c.backup && !pass);
                dlg.findChild<QLineEdit *>("backupDir")->setText(QString::fromStdString(backups));
                size_t before = Read(results).size();
                QTest::keyClick(&dlg, Qt::Key_Return);  // Start is the default button
                QVERIFY(dlg.Running() && !dlg.close()); // closing refused during the run
                auto *list = dlg.findChild<QTreeWidget *>("rowsList");
                if (!c.stopIn.empty()) { // the others ended: the flash-writing note on that row only
                    auto slow = list->findItems(QString::fromStdString(ports[c.stopIn]),
                                                Qt::MatchExactly);
                    QVERIFY(QTest::qWaitFor(
                        [&] {
                            int ended = 0;
                            for (int i = 0; i < list->topLevelItemCount(); i++)
                                ended += list->topLevelItem(i)->data(6, Qt::UserRole).toInt() != 0;
                            return ended == list->topLevelItemCount() - 1 &&
                                   slow[0]->text(2).contains(RunGroupLabels[RUN_GROUP_FLASH]);
                        },
                        30000));
                    QTest::mouseClick(dlg.findChild<QPushButton *>("stopButton"), Qt::LeftButton);
                    QVERIFY(QTest::qWaitFor(
                        [&] { return slow[0]->toolTip(6) == RUN_STOP_FLASH_NOTE; }, 5000));
                    for (int i = 0; i < list->topLevelItemCount(); i++)
                        QVERIFY(list->topLevelItem(i) == slow[0] ||
                                list->topLevelItem(i)->toolTip(6) != RUN_STOP_FLASH_NOTE);
                }
                QVERIFY(QTest::qWaitFor([&] { return !dlg.Running(); }, 90000));
                if (const char *hold = getenv("MIRDEL_TEST_HOLD_MS")) // the finished window
                    QTest::qWait(atoi(hold));

                std::string added = Read(results).substr(before); // a line per port, a row each
                QCOMPARE(std::count(added.begin(), added.end(), '\n'), long(c.rows.size()));
                int worst = 0;
                for (const Row &r : c.rows) {
                    auto found =
                        list->findItems(QString::fromStdString(ports[r.role]), Qt::MatchExactly);
                    QCOMPARE(found.size(), 1);
                    std::string phase = found[0]->text(2).toStdString(),
                                tip = found[0]->toolTip(6).toStdString();
                    worst = std::max(worst, r.status);
                    QCOMPARE(phase, tip.substr(0, tip.find('\n')));
                    QVERIFY2(phase.rfind(r.begins, 0) == 0 && tip.find(r.advice) != tip.npos,
                             (r.role + ": " + phase + " | " + tip).c_str());
                    QVERIFY(r.status || found[0]->text(4) == "100");
                    QCOMPARE(found[0]->data(6, Qt::UserRole).toInt(),
                             int(StationStatusIcon(r.status)));
                    std::regex line("\"port\":\"" + ports[r.role] +
                                    "\".*\"exit_status\":" + std::to_string(r.status) + ",");
                    QVERIFY2(std::regex_search(added, line), added.c_str());
                }
                QCOMPARE(dlg.findChild<QLabel *>("summaryText")->text().toStdString(), c.summary);
                QCOMPARE(dlg.findChild<QLabel *>("summaryIcon")->property("runIcon").toInt(),
                         int(StationStatusIcon(worst)));
                QVERIFY(dlg.close());
                // The backup made before the upload, named in its result line, is
                // the file of the restore.
                std::smatch backup;
                if (std::regex_search(added, backup, std::regex("\"backup_file\":\"([^\"]+)\"")))
                    file = backup[1];
                QCOMPARE(backup.size() && file.rfind(backups, 0) == 0, c.backup && pass == 0);
            }
        }
        QVERIFY(boxes.messages.empty());
    }

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
