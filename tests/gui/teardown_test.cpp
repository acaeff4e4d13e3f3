// The upload dialog destroyed in the middle of a run against the instrument
// simulator, at each phase: the destructor returns, the port is closed, no
// thread is left, nothing is shown.
#include <QComboBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <clocale>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "desktop_qt/downloaddlg.h"
#include "serial/sio.h"
#include "tests/common/sim_process.h"
#include "tests/gui/gui_helpers.h"
#include "tests/run/proc_counts.h"

namespace
{

// Ends the program with a message when the destructor has not returned
// within the bound, so that a hang fails the test instead of stalling it.
class Watchdog
{
  public:
    explicit Watchdog(const char *what, int seconds) : what_(what)
    {
        thread_ = std::thread([this, seconds] {
            std::unique_lock<std::mutex> lock(mutex_);
            if (!done_.wait_for(lock, std::chrono::seconds(seconds), [this] { return over_; })) {
                std::fprintf(stderr, "FAIL: %s has not returned after %d s\n", what_, seconds);
                std::abort();
            }
        });
    }
    ~Watchdog()
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            over_ = true;
        }
        done_.notify_one();
        thread_.join();
    }

  private:
    const char *what_;
    std::mutex mutex_;
    std::condition_variable done_;
    bool over_ = false;
    std::thread thread_;
};

} // namespace

class TestUploadTeardown : public QObject
{
    Q_OBJECT

    QTemporaryDir tmp_;
    std::string firmware_;

  private slots:
    void initTestCase()
    {
        std::setlocale(LC_NUMERIC, "C");
        QVERIFY(tmp_.isValid());
        firmware_ = tmp_.path().toStdString() + "/fw.srec";
        // With 1024 bytes per flash indication: three indications, two
        // read-backs.
        WriteLines(firmware_, Join(ImageLines(0x10000, "App", 0x10000, 1024),
                                   ImageLines(0x40000, "Data", 0x40000, 256)));
        // Whatever threads Qt starts for a shown dialog are there from now on.
        CDownloadDlg warm;
        QCOMPARE(warm.ScanFile(firmware_.c_str()), 1);
        warm.show();
        QApplication::processEvents();
    }

    void init()
    {
        theApp.ports = {"COM1", "COM2"};
        theApp.lastPort.clear();
    }

    void cleanup() { CancelWhenModal(); }

    void destroyedDuringTheRun_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<bool>("release");
        QTest::newRow("handshake") << "handshake:1:hold" << true;
        QTest::newRow("upload job") << "job:1:hold" << true;
        QTest::newRow("upload") << "record:5:hold" << true;
        QTest::newRow("flash writing") << "flash:2:hold" << true;
        QTest::newRow("read-back job") << "readjob:1:hold" << true;
        QTest::newRow("verification") << "readback:3:hold" << true;
        QTest::newRow("finish") << "finish:1:hold" << true;
        // The instrument never answers: the destructor waits out the port's
        // time-out.
        QTest::newRow("upload, no answer") << "record:5:hold" << false;
    }

    void destroyedDuringTheRun()
    {
        QFETCH(QString, fault);
        QFETCH(bool, release);
        SimProcess sim({"--flash-step", "1024", "--fault", fault.toStdString()});
        QVERIFY(!sim.Path().empty());
        MessageRecorder boxes;
        auto *dlg = new CDownloadDlg;
        QCOMPARE(dlg->ScanFile(firmware_.c_str()), 1);
        dlg->show();
        QApplication::processEvents();
        const int fds = OpenFdCount(), threads = ProcEntryCount("/proc/self/task");

        dlg->findChild<QComboBox *>("portBox")->setEditText(QString::fromStdString(sim.Path()));
        QTest::mouseClick(dlg->findChild<QPushButton *>("startButton"), Qt::LeftButton);
        QVERIFY(dlg->Running());
        // The worker's reports need this thread: wait with the events going.
        QTRY_VERIFY_WITH_TIMEOUT(sim.WaitHeld(1, 0), 60000);
        if (release)
            sim.Release();
        {
            Watchdog watch("the upload dialog's destructor", 60);
            delete dlg;
        }

        QVERIFY(boxes.messages.empty());
        QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
        QCOMPARE(OpenFdCount(), fds);
        // A joined thread's entry may outlive the join for a moment.
        QTRY_COMPARE_WITH_TIMEOUT(ProcEntryCount("/proc/self/task"), threads, 5000);
        SioPort *again = SioOpen(sim.Path().c_str(), RUN_BAUD_RATE, 1000);
        QVERIFY2(again != nullptr, SioErrStr());
        SioClose(again);
        QVERIFY(sim.Received().size() > 0);
    }
};

QTEST_MAIN(TestUploadTeardown)
#include "teardown_test.moc"
