// Whole runs of the upload dialog against the instrument simulator.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <clocale>
#include <set>
#include <sys/file.h>

#include "desktop_qt/animation.h"
#include "desktop_qt/downloaddlg.h"
#include "serial/sio.h"
#include "tests/common/sim_process.h"
#include "tests/gui/gui_helpers.h"

namespace
{

const char *const kGroups[] = {"upload", "flash", "verify"};
const char *const kPlain[] = {" Uploading", " Writing to flash memory", " Verifying"};

// What the three progress groups show at one moment.
struct GroupsShown {
    QString label[3], percent[3];
    int bar[3] = {0, 0, 0};
    bool bold[3] = {false, false, false};
};

GroupsShown Shown(QWidget *dlg)
{
    GroupsShown s;
    for (int g = 0; g < 3; g++) {
        QString base = kGroups[g];
        s.label[g] = dlg->findChild<QLabel *>(base + "Label")->text();
        s.bold[g] = dlg->findChild<QLabel *>(base + "Label")->font().bold() ||
                    dlg->findChild<QLabel *>(base + "Sign")->font().bold();
        s.percent[g] = dlg->findChild<QLabel *>(base + "Percent")->text();
        s.bar[g] = dlg->findChild<QProgressBar *>(base + "Bar")->value();
    }
    return s;
}

bool Has(const std::vector<std::string> &lines, const std::string &what)
{
    return std::find(lines.begin(), lines.end(), what) != lines.end();
}

} // namespace

class TestUploadRun : public QObject
{
    Q_OBJECT

    QTemporaryDir tmp_;

    std::string Firmware(const std::string &name, size_t bytes)
    {
        std::string path = tmp_.path().toStdString() + "/" + name;
        WriteLines(path, Join(ImageLines(0x10000, "App", 0x10000, bytes),
                              ImageLines(0x40000, "Data", 0x40000, 100)));
        return path;
    }

    // Scans the file, shows the dialog and starts a run on the simulator.
    static void Start(CDownloadDlg &dlg, const std::string &file, const SimProcess &sim,
                      bool verify = true)
    {
        QVERIFY(!sim.Path().empty());
        QCOMPARE(dlg.ScanFile(file.c_str()), 1);
        dlg.show();
        if (!verify)
            QTest::mouseClick(dlg.findChild<QCheckBox *>("verifyCheck"), Qt::LeftButton);
        dlg.findChild<QComboBox *>("portBox")->setEditText(QString::fromStdString(sim.Path()));
        QTest::mouseClick(dlg.findChild<QPushButton *>("startButton"), Qt::LeftButton);
    }

    static void CheckIdle(CDownloadDlg &dlg)
    {
        QVERIFY(!dlg.Running());
        QCOMPARE(dlg.windowTitle(), QString("Upload"));
        QCOMPARE(dlg.findChild<QPushButton *>("cancelButton")->text(), QString("&Cancel"));
        QVERIFY(dlg.findChild<QPushButton *>("startButton")->isDefault());
        QVERIFY(dlg.findChild<QPushButton *>("cancelButton")->isEnabled());
        for (const char *n : {"startButton", "portBox", "advancedButton", "verifyCheck"})
            QVERIFY(dlg.findChild<QWidget *>(n)->isEnabled());
        GroupsShown s = Shown(&dlg);
        for (int g = 0; g < 3; g++) {
            QCOMPARE(s.label[g], QString(kPlain[g]));
            QVERIFY(s.percent[g] == "0" && s.bar[g] == 0 && !s.bold[g]);
        }
        auto *anim = dlg.findChild<UploadAnimation *>("animation");
        QVERIFY(!anim->IsPlaying() && anim->CurrentFrame() == 0);
        QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
    }

  private slots:
    void initTestCase()
    {
        std::setlocale(LC_NUMERIC, "C");
        QVERIFY(tmp_.isValid());
    }

    void init()
    {
        theApp.ports = {"COM1", "COM2"};
        theApp.lastPort.clear();
    }

    void fullRun_data()
    {
        QTest::addColumn<bool>("verify");
        QTest::newRow("with verification") << true;
        QTest::newRow("without verification") << false;
    }

    void fullRun()
    {
        QFETCH(bool, verify);
        // The simulator holds an answer in each phase that runs, so that what
        // the groups show meanwhile is seen whatever the scheduling.
        std::vector<std::string> options = {"--fault", "record:10:hold", "--fault",
                                            "flash:1:hold"};
        if (verify)
            options.insert(options.end(), {"--fault", "readback:5:hold"});
        SimProcess sim(options);
        CDownloadDlg dlg;
        MessageRecorder boxes;
        GroupsShown atBox; // the box comes before the dialog is made idle
        boxes.onMessage = [&](const AppMessage &) { atBox = Shown(&dlg); };

        // Every label text and boldness the groups pass through.
        std::set<QString> labels[3];
        bool boldSeen[3] = {false, false, false};
        auto sample = [&] {
            GroupsShown s = Shown(&dlg);
            for (int g = 0; g < 3; g++) {
                labels[g].insert(s.label[g]);
                boldSeen[g] = boldSeen[g] || s.bold[g];
            }
        };
        QTimer watch;
        connect(&watch, &QTimer::timeout, sample);
        watch.start(2);
        Start(dlg, Firmware("full.srec", 6000), sim, verify);

        // The running state is in place at once.
        QVERIFY(dlg.Running());
        QCOMPARE(dlg.windowTitle(), QString("Uploading..."));
        QCOMPARE(dlg.findChild<QPushButton *>("cancelButton")->text(), QString("Sto&p"));
        QVERIFY(dlg.findChild<QPushButton *>("cancelButton")->isDefault());
        for (const char *n : {"startButton", "portBox", "advancedButton", "verifyCheck"})
            QVERIFY(!dlg.findChild<QWidget *>(n)->isEnabled());
        QVERIFY(dlg.findChild<UploadAnimation *>("animation")->IsPlaying());
        QVERIFY(!dlg.close()); // the window's Close command is refused
        QVERIFY(dlg.isVisible());

        int groups = verify ? 3 : 2;
        for (int g = 0; g < groups; g++) {
            // The hold may come before the worker has shown the phase (the
            // flash indication is held as soon as "." is in); it shows it
            // while it waits.
            QTRY_VERIFY_WITH_TIMEOUT(sim.WaitHeld(g + 1, 0), 60000);
            QTRY_COMPARE_WITH_TIMEOUT(Shown(&dlg).label[g], QString(kPlain[g]) + " ...", 60000);
            sample();
            sim.Release();
        }
        QTRY_VERIFY_WITH_TIMEOUT(!boxes.messages.empty(), 60000);
        QCOMPARE(boxes.messages.size(), size_t(1));
        QCOMPARE(boxes.Text(0), std::string("Upload successful."));
        QCOMPARE(boxes.messages[0].icon, APP_ICON_INFORMATION);
        for (int g = 0; g < 3; g++) {
            bool ran = g < groups;
            QCOMPARE(atBox.label[g], QString(kPlain[g]) + (ran ? " ... done." : ""));
            QCOMPARE(atBox.percent[g], QString(ran ? "100" : "0"));
            QCOMPARE(atBox.bar[g], ran ? RUN_BAR_MAX : 0);
            QVERIFY(!atBox.bold[g]);
            QCOMPARE(labels[g].count(QString(kPlain[g]) + " ...") == 1, ran);
            QCOMPARE(boldSeen[g], ran);
        }

        // The dialog closes after success, the run over and the port free.
        QVERIFY(!dlg.isVisible() && !dlg.Running());
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        QCOMPARE(theApp.lastPort, sim.Path());
        QCOMPARE(theApp.ports.back(), sim.Path());
        QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
        std::vector<std::string> received = sim.Received();
        QVERIFY(Has(received, "MIRDEL DONE"));
        QCOMPARE(std::any_of(received.begin(), received.end(),
                             [](const std::string &l) { return l.rfind("MIRDEL -r ", 0) == 0; }),
                 verify);
        SioPort *again = SioOpen(sim.Path().c_str(), RUN_BAUD_RATE, 1000);
        QVERIFY(again != nullptr);
        SioClose(again);
    }

    // Stop is taken at once: the button says so and can no longer be
    // pressed. During the upload the run ends at the next record; during
    // flash writing the instrument finishes first, and the groups stay as
    // they are until then, but for the flash group and its note.
    void stop_data()
    {
        QTest::addColumn<QStringList>("simOptions");
        QTest::addColumn<QString>("waitFor"); // the group under way when Stop is pressed
        // The simulator holds an answer in that group while Stop is pressed.
        QTest::newRow("during the upload") << QStringList{"--fault", "record:20:hold"} << "upload";
        QTest::newRow("during flash writing")
            << QStringList{"--fault", "flash:2:hold", "--flash-step", "1024"} << "flash";
    }

    void stop()
    {
        QFETCH(QStringList, simOptions);
        QFETCH(QString, waitFor);
        std::vector<std::string> options;
        for (const QString &o : simOptions)
            options.push_back(o.toStdString());
        SimProcess sim(options);
        MessageRecorder boxes;
        CDownloadDlg dlg;
        Start(dlg, Firmware("slow.srec", 32 * 400), sim);
        QVERIFY(dlg.Running());
        QTRY_VERIFY_WITH_TIMEOUT(sim.WaitHeld(1, 0), 60000);
        QProgressBar *bar = dlg.findChild<QProgressBar *>(waitFor + "Bar");
        // The reports before the hold may still be on their way.
        QTRY_VERIFY_WITH_TIMEOUT(bar->value() > 0, 20000);
        QVERIFY(bar->value() < RUN_BAR_MAX);
        QTest::keyClick(&dlg, Qt::Key_Escape); // Esc is Stop during a run
        QVERIFY(dlg.isVisible());
        auto *stopButton = dlg.findChild<QPushButton *>("cancelButton");
        QCOMPARE(stopButton->text(), QString("Stopping..."));
        QVERIFY(!stopButton->isEnabled());
        QVERIFY(dlg.Running() && boxes.messages.empty());
        GroupsShown atStop = Shown(&dlg);
        GroupsShown atBox;
        auto *note = dlg.findChild<QLabel *>("flashNote");
        bool noteAtBox = false;
        boxes.onMessage = [&](const AppMessage &) {
            atBox = Shown(&dlg);
            noteAtBox = note->isVisible();
        };
        sim.Release();
        QTRY_VERIFY_WITH_TIMEOUT(!boxes.messages.empty(), 20000);
        QCOMPARE(boxes.Text(0), std::string("Upload stopped by user."));
        QCOMPARE(boxes.messages[0].icon, APP_ICON_EXCLAMATION);
        bool inFlash = waitFor == "flash";
        for (int g = 0; g < 3; g++) {
            if (inFlash && g == RUN_GROUP_FLASH)
                QVERIFY(atBox.label[g] == QString(kPlain[g]) + " ... done." &&
                        atBox.bar[g] == RUN_BAR_MAX);
            else
                QVERIFY(atBox.label[g] == atStop.label[g] && atBox.bar[g] == atStop.bar[g]);
        }
        QVERIFY(noteAtBox == inFlash && note->text() == RUN_STOP_FLASH_NOTE);
        QVERIFY(dlg.isVisible());
        CheckIdle(dlg);
        QVERIFY(note->isHidden());
        std::vector<std::string> received = sim.Received();
        QVERIFY(!Has(received, "MIRDEL DONE"));
        QCOMPARE(Has(received, "."), waitFor == "flash"); // the flash writing ran to its end

        QTest::mouseClick(stopButton, Qt::LeftButton);
        QVERIFY(!dlg.isVisible()); // idle again: Cancel closes
    }

    // An instrument that reports more flash bytes than the file holds: the
    // bar stands at its end, the number reads what was computed.
    void flashAbove100()
    {
        // 6,100 bytes written as 4,096 and 2,004; the second report says 8,192.
        SimProcess sim({"--fault", "flash:2:text:8192"});
        MessageRecorder boxes;
        GroupsShown atBox;
        CDownloadDlg dlg;
        boxes.onMessage = [&](const AppMessage &) { atBox = Shown(&dlg); };
        Start(dlg, Firmware("more.srec", 6000), sim, false);
        QTRY_VERIFY_WITH_TIMEOUT(!boxes.messages.empty(), 20000);
        QCOMPARE(boxes.Text(0), std::string("Upload successful."));
        QCOMPARE(atBox.percent[RUN_GROUP_FLASH], QString("201")); // 12,288 of 6,100
        QCOMPARE(atBox.bar[RUN_GROUP_FLASH], RUN_BAR_MAX);
        QCOMPARE(atBox.label[RUN_GROUP_FLASH], QString(" Writing to flash memory ... done."));
    }

    void portInUse()
    {
        SimProcess sim;
        // Another program holds the port the way Mirdel itself does.
        int held = open(sim.Path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        QVERIFY(held >= 0);
        QCOMPARE(flock(held, LOCK_EX | LOCK_NB), 0);
        MessageRecorder boxes;
        CDownloadDlg dlg;
        Start(dlg, Firmware("busy.srec", 256), sim);
        close(held);
        QCOMPARE(boxes.messages.size(), size_t(1));
        QCOMPARE(boxes.messages[0].icon, APP_ICON_STOP);
        std::string text = boxes.Text(0);
        const std::string advice = "\n\nThe port may be already in use in other application";
        QVERIFY2(text.rfind("Cannot open serial port:\n\n", 0) == 0 &&
                     text.find("ERROR_ACCESS_DENIED") != std::string::npos &&
                     text.size() > advice.size() &&
                     text.compare(text.size() - advice.size(), advice.size(), advice) == 0,
                 text.c_str());
        CheckIdle(dlg);
        QVERIFY(sim.Received().empty());
    }
};

QTEST_MAIN(TestUploadRun)
#include "run_test.moc"
