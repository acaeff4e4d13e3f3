// The run scenarios, run by the upload dialog against mirdel-sim: its boxes,
// the log and the instrument's flash; on the way, the dialog's running and
// idle states. Then what only this dialog shows of a run.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include <clocale>
#include <cstdio>

#include "desktop_qt/animation.h"
#include "desktop_qt/downloaddlg.h"
#include "desktop_qt/stationdlg.h"
#include "serial/sio.h"
#include "support/log.h"
#include "tests/common/scenarios.h"
#include "tests/common/sim_process.h"
#include "tests/gui/gui_helpers.h"

class TestScenarios : public QObject
{
    Q_OBJECT

    QTemporaryDir tmp_;
    std::vector<Scenario> rows_ = ScenarioRead();

    // Shows the dialog on file and starts a run on port; what it showed
    // before.
    static std::string Start(CDownloadDlg &dlg, const std::string &file, const std::string &port,
                             bool verify = true)
    {
        if (dlg.ScanFile(file.c_str()) != 1)
            return "not scanned";
        dlg.show();
        if (!verify)
            QTest::mouseClick(dlg.findChild<QCheckBox *>("verifyCheck"), Qt::LeftButton);
        dlg.findChild<QComboBox *>("portBox")->setEditText(QString::fromStdString(port));
        std::string idle = State(dlg);
        QTest::mouseClick(dlg.findChild<QPushButton *>("startButton"), Qt::LeftButton);
        return idle;
    }

    // What the dialog shows beyond its file: the title and, for each
    // control, whether it is enabled, shown and the default, and its text or
    // position.
    static std::string State(CDownloadDlg &dlg)
    {
        std::string s =
            dlg.windowTitle().toStdString() + (QGuiApplication::overrideCursor() ? "!" : "");
        for (QWidget *w : dlg.findChildren<QWidget *>()) {
            auto *b = qobject_cast<QPushButton *>(w);
            auto *l = qobject_cast<QLabel *>(w);
            auto *p = qobject_cast<QProgressBar *>(w);
            s += "|" + w->objectName().toStdString() + (w->isEnabled() ? "+" : "-") +
                 (w->isVisible() ? "" : "h") +
                 (b ? b->text().toStdString() + (b->isDefault() ? "*" : "") : "") +
                 (l ? l->text().toStdString() : "") + (p ? std::to_string(p->value()) : "");
        }
        return s + (dlg.findChild<UploadAnimation *>("animation")->IsPlaying() ? " playing" : "");
    }

  private slots:
    void initTestCase()
    {
        std::setlocale(LC_NUMERIC, "C");
        QVERIFY(tmp_.isValid());
    }

    void cleanupTestCase() { std::printf("%s", ScenarioSummary("qt", rows_).c_str()); }

    void run_data()
    {
        QTest::addColumn<size_t>("index");
        for (size_t i = 0; i < rows_.size(); i++)
            QTest::newRow(rows_[i].name.c_str()) << i;
    }

    void run()
    {
        QFETCH(size_t, index);
        const Scenario &row = rows_[index];
        if (!row.NotHere("qt").empty())
            QSKIP(row.NotHere("qt").c_str());
        ScenarioRun run(row, tmp_.path().toStdString());
        RunSetPortTimeout(row.TimeoutMs());
        std::unique_ptr<SimProcess> sim(row.NoPort() ? nullptr : new SimProcess(run.SimOptions()));
        const std::string port = sim ? sim->Path() : "/nonexistent/mirdel-tty";
        QVERIFY(LogOpen(run.log.c_str(), nullptr, "mirdel: ", true));
        MessageRecorder boxes(row.user == "yes" ? APP_ANSWER_YES : APP_ANSWER_NO);
        CDownloadDlg dlg;
        ScenarioEnd end;
        auto groups = [&dlg] {
            ScenarioGroups s;
            for (const char *g : {"upload", "flash", "verify"})
                s.push_back({dlg.findChild<QLabel *>(QString(g) + "Label")->text().toStdString(),
                             dlg.findChild<QProgressBar *>(QString(g) + "Bar")->value()});
            return s;
        };
        boxes.onMessage = [&](const AppMessage &m) {
            end.text += m.text + "\n";
            end.atBox = groups();
            end.noteAtBox = dlg.findChild<QLabel *>("flashNote")->isVisible();
        };
        const std::string idle = Start(dlg, run.fw, port, row.job != "no-verify");
        auto *cancel = dlg.findChild<QPushButton *>("cancelButton");
        if (dlg.Running()) { // the running state is in place at once; Close is refused
            QVERIFY(dlg.windowTitle() == "Uploading..." && cancel->text() == "Sto&p" &&
                    cancel->isDefault());
            QVERIFY(!dlg.close() && !dlg.findChild<QWidget *>("startButton")->isEnabled());
        }
        if (row.Stops()) {
            QTRY_VERIFY_WITH_TIMEOUT(sim->WaitForLine(row.StopAt(), 1, 0), 60000);
            QTest::keyClick(&dlg, Qt::Key_Escape); // Esc is Stop during a run
            QVERIFY(cancel->text() == "Stopping..." && !cancel->isEnabled() && dlg.isVisible());
            end.atStop = groups();
            sim->Release();
        }
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.Running(), 60000);
        LogClose();
        // The dialog closes after success; otherwise it is as it was before.
        if (row.icon == RUN_ICON_INFORMATION)
            QVERIFY(!dlg.isVisible() && dlg.result() == QDialog::Accepted);
        else
            QCOMPARE(State(dlg), idle);
        QCOMPARE(theApp.lastPort, port);
        if (row.exit != CLI_EXIT_PORT && sim && !sim->WaitForExit(50)) { // the port is free again
            SioPort *again = SioOpen(port.c_str(), RUN_BAUD_RATE, 1000);
            QVERIFY(again != nullptr);
            SioClose(again);
        }
        sim.reset();
        const RunIcon icons[] = {RUN_ICON_STOP, RUN_ICON_EXCLAMATION, RUN_ICON_INFORMATION};
        end.icon = boxes.messages.empty() ? RUN_ICON_NONE : icons[boxes.messages.back().icon];
        const std::string d = ScenarioDifferences(run, end);
        QVERIFY2(d.empty(), d.c_str());
    }

    // The same rows in the station window, a batch of them per run: each
    // port's row (its whole outcome in the tooltip) and its result line.
    void stations()
    {
        MessageRecorder boxes;
        for (const ScenarioBatch &batch : ScenarioBatches(rows_, "qt-station")) {
            ScenarioStation<SimProcess> st(
                batch, tmp_.path().toStdString(), "", [](const ScenarioRun &run, size_t) {
                    SimProcess *sim = run.row.NoPort() ? nullptr : new SimProcess(run.SimOptions());
                    return std::pair(sim,
                                     sim ? sim->Path() : std::string("/dev/mirdel-no-such-port"));
                });
            qputenv("MIRDEL_PORT_TIMEOUT_MS",
                    QByteArray::number(batch[0]->TimeoutMs())); // the children's
            CStationDlg dlg;
            dlg.program = MIRDEL_BIN_DIR "/cli/mirdel-cli";
            dlg.Choose(st.ports, st.results);
            QCOMPARE(dlg.ScanFile(st.runs[0]->fw.c_str()), 1);
            dlg.show();
            bool verifyOnly = batch[0]->job == "verify";
            dlg.findChild<QAbstractButton *>(verifyOnly ? "verifyOnlyRadio" : "uploadRadio")
                ->setChecked(true);
            dlg.findChild<QAbstractButton *>("verifyCheck")
                ->setChecked(batch[0]->job != "no-verify");
            dlg.findChild<QAbstractButton *>("backupCheck")->setChecked(batch[0]->job == "backup");
            dlg.findChild<QLineEdit *>("backupDir")
                ->setText(QString::fromStdString(st.runs[0]->backupDir));
            QTest::keyClick(&dlg, Qt::Key_Return);  // Start is the default button
            QVERIFY(dlg.Running() && !dlg.close()); // closing refused during the run
            if (batch[0]->Stops()) {
                QTRY_VERIFY_WITH_TIMEOUT(st.AllAtStop(), 60000);
                QTest::mouseClick(dlg.findChild<QPushButton *>("stopButton"), Qt::LeftButton);
                st.Release();
            }
            QTRY_VERIFY_WITH_TIMEOUT(!dlg.Running(), 90000);
            auto *list = dlg.findChild<QTreeWidget *>("rowsList");
            for (size_t i = 0; i < batch.size(); i++) {
                auto found = list->findItems(QString::fromStdString(st.ports[i]), Qt::MatchExactly);
                QCOMPARE(found.size(), 1);
                std::string tip = found[0]->toolTip(6).toStdString();
                QCOMPARE(found[0]->text(2).toStdString(), tip.substr(0, tip.find('\n')));
                std::string d = st.Differences(i, st.ResultStatus(i), tip,
                                               RunIcon(found[0]->data(6, Qt::UserRole).toInt()));
                QVERIFY2(d.empty(), d.c_str());
            }
            auto [summary, icon] = st.Summary();
            QCOMPARE(dlg.findChild<QLabel *>("summaryText")->text().toStdString(), summary);
            QCOMPARE(dlg.findChild<QLabel *>("summaryIcon")->property("runIcon").toInt(),
                     int(icon));
            QVERIFY(dlg.close());
        }
        QVERIFY(boxes.messages.empty());
        std::printf("%s", ScenarioSummary("qt-station", rows_).c_str());
    }

    // An instrument that reports more flash bytes than the file holds: the
    // number reads what was computed (the bar at its end: the run scenarios).
    void flashAbove100()
    {
        // 6,100 bytes written as 4,096 and 2,004; the second report says 8,192.
        SimProcess sim({"--fault", "flash:2:text:8192"});
        const std::string fw = tmp_.path().toStdString() + "/more.srec";
        WriteLines(fw, Join(ImageLines(0x10000, "App", 0x10000, 6000),
                            ImageLines(0x40000, "Data", 0x40000, 100)));
        MessageRecorder boxes;
        CDownloadDlg dlg;
        QString percent;
        boxes.onMessage = [&](const AppMessage &) {
            percent = dlg.findChild<QLabel *>("flashPercent")->text();
        };
        Start(dlg, fw, sim.Path(), false);
        QTRY_VERIFY_WITH_TIMEOUT(!boxes.messages.empty(), 20000);
        QCOMPARE(percent, QString("201")); // 12,288 of 6,100
    }
};

QTEST_MAIN(TestScenarios)
#include "scenarios_test.moc"
