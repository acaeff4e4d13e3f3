// The upload dialog without an instrument: the analysis and what it shows,
// the port box, the Verify group, the checks before a run.
#include <QCheckBox>
#include <QComboBox>
#include <QDate>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <clocale>
#include <ctime>
#include <utime.h>

#include "desktop_qt/downloaddlg.h"
#include "support/intstr.h"
#include "tests/gui/gui_helpers.h"

class TestUploadDialog : public QObject
{
    Q_OBJECT

    QTemporaryDir tmp_;

    std::string Path(const std::string &name) const
    {
        return tmp_.path().toStdString() + "/" + name;
    }

    template <typename T = QWidget> static T *Find(QWidget *dlg, const char *name)
    {
        T *w = dlg->findChild<T *>(name);
        if (!w)
            qFatal("no control %s", name);
        return w;
    }

    // A valid file of exactly size bytes: one image, padded with comments.
    std::string SizedFile(const std::string &name, size_t size)
    {
        std::vector<std::string> lines = ImageLines(0x1000, "App", 0x1000, 64);
        size_t left = size;
        for (const auto &l : lines)
            left -= l.size() + 1;
        while (left > 0) { // lines of n bytes: "#", n - 2 x's and the line feed
            size_t n = std::min<size_t>(left, 1001);
            if (left - n == 1)
                n--; // a last line needs two bytes at least
            lines.push_back("#" + std::string(n - 2, 'x'));
            left -= n;
        }
        WriteLines(Path(name), lines);
        return Path(name);
    }

  private slots:
    void initTestCase()
    {
        std::setlocale(LC_NUMERIC, "C");
        QVERIFY(tmp_.isValid());
    }

    void init()
    {
        theApp.ports = {"COM1", "COM2", "ttyUSB1", "ttyS0"};
        theApp.lastPort.clear();
    }

    void cleanup() { CancelWhenModal(); }

    void fieldsShowTheFile()
    {
        QDir().mkpath(tmp_.path() + "/sub");
        std::string path = SizedFile("sub/fw.srec", 1536);
        std::tm t{};
        t.tm_year = 124, t.tm_mon = 2, t.tm_mday = 5, t.tm_hour = 14, t.tm_min = 7, t.tm_sec = 9;
        t.tm_isdst = -1;
        utimbuf times{std::mktime(&t), std::mktime(&t)};
        QCOMPARE(utime(path.c_str(), &times), 0);

        theApp.lastPort = "TTYS0";
        MessageRecorder boxes;
        CDownloadDlg dlg;
        QCOMPARE(dlg.ScanFile(path.c_str()), 1);
        dlg.show();
        QVERIFY(boxes.messages.empty());
        QCOMPARE(dlg.windowTitle(), QString("Upload"));
        QCOMPARE(Find<QLineEdit>(&dlg, "nameField")->text(), QString("fw.srec"));
        QCOMPARE(Find<QLineEdit>(&dlg, "locationField")->text(), tmp_.path() + "/sub");
        QCOMPARE(Find<QLineEdit>(&dlg, "sizeField")->text(),
                 QString("1.50 KiB (%1 Bytes)").arg(IntStrGroup(1536)));
        QString modified = Find<QLineEdit>(&dlg, "modifiedField")->text();
        QString date = QLocale::system().toString(QDate(2024, 3, 5), QLocale::ShortFormat);
        QVERIFY2(modified.startsWith(date + ", ") && modified.contains(":07:09"),
                 qPrintable(modified));
        for (const char *name : {"nameField", "locationField", "sizeField", "modifiedField"})
            QVERIFY(Find<QLineEdit>(&dlg, name)->isReadOnly() &&
                    !Find<QLineEdit>(&dlg, name)->hasFrame());

        // Sorted without regard to case; the last port selected the same way.
        QComboBox *box = Find<QComboBox>(&dlg, "portBox");
        QStringList items;
        for (int i = 0; i < box->count(); i++)
            items << box->itemText(i);
        QCOMPARE(items, QStringList({"COM1", "COM2", "ttyS0", "ttyUSB1"}));
        QCOMPARE(box->currentText(), QString("ttyS0"));
        QCOMPARE(box->maxVisibleItems(), 4);
        QVERIFY(Find<QCheckBox>(&dlg, "verifyCheck")->isChecked());
        QVERIFY(Find<QPushButton>(&dlg, "startButton")->isDefault());
        QCOMPARE(Find<QLabel>(&dlg, "flashLabel")->text(), QString(" Writing to flash memory"));

        // Cancel while idle closes the dialog and keeps the port's name.
        box->setEditText("ttyUSB9");
        QTest::mouseClick(Find<QPushButton>(&dlg, "cancelButton"), Qt::LeftButton);
        QVERIFY(!dlg.isVisible());
        QCOMPARE(theApp.lastPort, std::string("ttyUSB9"));

        // An unknown last port selects the first item.
        theApp.lastPort = "nothing";
        CDownloadDlg other;
        QCOMPARE(other.ScanFile(path.c_str()), 1);
        other.show();
        QCOMPARE(Find<QComboBox>(&other, "portBox")->currentIndex(), 0);
    }

    void faultyFileShowsTheErrorBox()
    {
        std::vector<std::string> lines = ImageLines(0x1000, "", 0x1000, 16);
        std::string good = lines[1];
        lines[1].back() = lines[1].back() == '0' ? '1' : '0';
        WriteLines(Path("badsum.srec"), lines);
        MessageRecorder boxes;
        CDownloadDlg dlg;
        QCOMPARE(dlg.ScanFile(Path("badsum.srec").c_str()), 0);
        QCOMPARE(dlg.fileName, std::string("badsum.srec")); // shown whatever the result
        QCOMPARE(boxes.messages.size(), size_t(1));
        QCOMPARE(boxes.messages[0].icon, APP_ICON_STOP);
        QCOMPARE(boxes.Text(0), "Error while checking the firmware file:\n\n'" + lines[1] +
                                    "':\n- incorrect checksum (0x" +
                                    lines[1].substr(lines[1].size() - 2) + "), should be 0x" +
                                    good.substr(good.size() - 2));
        QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
    }

    void analysisWindowOnlyWhileReading()
    {
        WriteLines(Path("big.srec"), ImageLines(0x10000, "Big", 0x10000, 400000));
        bool seen = false, waitCursor = false;
        QTimer probe; // fires from the analysis' own event processing
        connect(&probe, &QTimer::timeout, [&] {
            for (QWidget *w : QApplication::topLevelWidgets()) {
                if (w->objectName() == "analysisWindow" && w->isVisible()) {
                    seen = true;
                    QCursor *c = QGuiApplication::overrideCursor();
                    waitCursor = c && c->shape() == Qt::WaitCursor;
                }
            }
        });
        probe.start(0);
        CDownloadDlg dlg;
        QCOMPARE(dlg.ScanFile(Path("big.srec").c_str()), 1);
        probe.stop();
        QVERIFY(seen && waitCursor);
        QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
        for (QWidget *w : QApplication::topLevelWidgets())
            QVERIFY(w->objectName() != "analysisWindow" || !w->isVisible());
    }

    void tooltipsCutTo79()
    {
        QString deep = tmp_.path();
        while (deep.size() < 120)
            deep += "/a-rather-long-directory-name";
        QVERIFY(QDir().mkpath(deep));
        std::string path = deep.toStdString() + "/fw.srec";
        WriteLines(path, ImageLines(0x1000, "App", 0x1000, 64));
        CDownloadDlg dlg;
        QCOMPARE(dlg.ScanFile(path.c_str()), 1);
        QCOMPARE(dlg.OnToolTipNeedText(IDC_LOCATION), deep.toStdString().substr(0, 79));
        QCOMPARE(dlg.OnToolTipNeedText(IDC_MODIFIED), dlg.modifiedText);
        QCOMPARE(dlg.OnToolTipNeedText(1034), std::string());
    }

    void verifyTogglesItsGroup()
    {
        std::string path = SizedFile("v.srec", 2000);
        const char *group[] = {"verifyBar", "verifyLabel", "verifySign", "verifyPercent"};
        {
            CDownloadDlg dlg;
            QCOMPARE(dlg.ScanFile(path.c_str()), 1);
            dlg.show();
            QCheckBox *verify = Find<QCheckBox>(&dlg, "verifyCheck");
            QPoint startAt = Find(&dlg, "startButton")->pos();
            for (bool checked : {false, true}) {
                QTest::mouseClick(verify, Qt::LeftButton);
                QCOMPARE(verify->isChecked(), checked);
                for (const char *n : group)
                    QVERIFY(Find(&dlg, n)->isVisible() == checked &&
                            Find(&dlg, n)->isEnabled() == checked);
                QVERIFY(Find(&dlg, "flashBar")->isVisible());
                QApplication::processEvents();
                QCOMPARE(Find(&dlg, "startButton")->pos(), startAt); // nothing moves
            }
            QTest::mouseClick(verify, Qt::LeftButton);
        }
        CDownloadDlg again; // every dialog starts checked
        QCOMPARE(again.ScanFile(path.c_str()), 1);
        again.show();
        QVERIFY(Find<QCheckBox>(&again, "verifyCheck")->isChecked() &&
                Find(&again, "verifyBar")->isVisible());
    }

    void checksStopTheStart()
    {
        WriteLines(Path("overlap.srec"),
                   Join(ImageLines(0x1000, "A", 0x1000, 16), ImageLines(0x1008, "B", 0x1008, 16)));
        MessageRecorder boxes(APP_ANSWER_NO);
        CDownloadDlg dlg;
        QCOMPARE(dlg.ScanFile(Path("overlap.srec").c_str()), 1);
        dlg.show();
        QComboBox *box = Find<QComboBox>(&dlg, "portBox");
        box->setEditText("ttyNEW7");
        QTest::mouseClick(Find<QPushButton>(&dlg, "startButton"), Qt::LeftButton);
        QCOMPARE(boxes.messages.size(), size_t(1)); // the refusal (its text: the run scenarios)
        // Still idle; the typed name has joined the list and stays selected.
        QVERIFY(!dlg.Running() && Find(&dlg, "startButton")->isEnabled());
        QCOMPARE(Find<QPushButton>(&dlg, "cancelButton")->text(), QString("&Cancel"));
        QCOMPARE(theApp.ports.back(), std::string("ttyNEW7"));
        QCOMPARE(box->count(), 5);
        QCOMPARE(box->currentText(), QString("ttyNEW7"));
        box->setEditText("TTYnew7"); // the same name in other letters
        QTest::mouseClick(Find<QPushButton>(&dlg, "startButton"), Qt::LeftButton);
        QCOMPARE(theApp.ports.size(), size_t(5));
    }

    // The box is as wide as the longest name offered (within bounds), and
    // hovering it shows the whole name, however long.
    void portBoxFitsLongNames()
    {
        const QString byId = "serial/by-id/usb-FTDI_FT232R-if00"; // 33 characters
        theApp.ports.push_back(byId.toStdString());
        std::string path = SizedFile("ports.srec", 1000);
        CDownloadDlg dlg;
        QCOMPARE(dlg.ScanFile(path.c_str()), 1);
        dlg.show();
        QComboBox *box = Find<QComboBox>(&dlg, "portBox");
        QVERIFY(box->lineEdit()->width() >= box->fontMetrics().horizontalAdvance(byId));
        QString longer = "/dev/" + byId + "-and-a-much-longer-tail-than-any-box";
        box->setEditText(longer);
        QCOMPARE(box->toolTip(), longer);
    }

    void realMessageBox()
    {
        // Without the hook the box is Qt's own, captioned with the name.
        QString caption;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        bool noIsDefault = false;
        WhenModal<QMessageBox>([&](QMessageBox *box) {
            caption = box->windowTitle();
            icon = box->icon();
            noIsDefault = box->defaultButton() == box->button(QMessageBox::No);
            QTest::keyClick(box, Qt::Key_Return);
        });
        QCOMPARE(AppMessageBox(nullptr, "proceed ?", APP_ICON_EXCLAMATION, APP_BUTTONS_YES_NO),
                 APP_ANSWER_NO);
        QCOMPARE(caption, QString("Mirdel"));
        QCOMPARE(icon, QMessageBox::Warning);
        QVERIFY(noIsDefault);
    }
};

QTEST_MAIN(TestUploadDialog)
#include "upload_dialog_test.moc"
