// The advanced firmware information dialog on the sample file whose texts
// are written down in tests/data/multi.info.txt.
#include <QAction>
#include <QClipboard>
#include <QHelpEvent>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QToolTip>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include <clocale>
#include <fstream>

#include "core/scan.h"
#include "desktop_qt/advinfodlg.h"
#include "desktop_qt/branchtree.h"
#include "desktop_qt/flashmapview.h"
#include "firmware/mdl.h"
#include "tests/gui/gui_helpers.h"

class TestAdvancedDialog : public QObject
{
    Q_OBJECT

  private:
    Firmware firmware_{};
    std::vector<std::string> golden_;

    // The golden line that starts with label, without the label and the
    // blanks after it.
    QString Golden(const char *label) const
    {
        for (const std::string &l : golden_) {
            if (l.rfind(label, 0) == 0) {
                size_t at = l.find_first_not_of(' ', std::strlen(label));
                return QString::fromStdString(l.substr(at));
            }
        }
        return QString();
    }

  private slots:
    void initTestCase()
    {
        std::setlocale(LC_NUMERIC, "C");
        ScanFileInfo info;
        std::string message;
        QCOMPARE(ScanFirmwareFile(MIRDEL_TEST_DATA "/multi.srec", &firmware_, &info, &message), 1);
        std::ifstream in(MIRDEL_TEST_DATA "/multi.info.txt");
        for (std::string l; std::getline(in, l);)
            golden_.push_back(l);
        QVERIFY(golden_.size() > 10);
    }

    void cleanupTestCase() { MdlFirmwareRelease(&firmware_); }

    void treeAndSummary()
    {
        CAdvancedInfoDlg dlg;
        dlg.SetFirmware(firmware_);
        dlg.show();
        QCOMPARE(dlg.windowTitle(), QString("Advanced firmware information"));

        QCOMPARE(dlg.findChild<QLineEdit *>("sizeField")->text(), Golden("Firmware size:"));
        QCOMPARE(dlg.findChild<QLineEdit *>("spanField")->text(), Golden("Firmware span size:"));
        QCOMPARE(dlg.findChild<QLineEdit *>("lowestField")->text(),
                 Golden("The lowest flash address:"));
        QCOMPARE(dlg.findChild<QLineEdit *>("highestField")->text(),
                 Golden("The highest flash address:"));
        for (const char *n : {"sizeField", "spanField", "lowestField", "highestField"})
            QVERIFY(dlg.findChild<QLineEdit *>(n)->isReadOnly());

        // Image lines at the top level, their segments below, in file order.
        std::vector<std::string> images, segments;
        for (const std::string &l : golden_) {
            if (l.rfind("Image #", 0) == 0)
                images.push_back(l);
            else if (l.rfind("    Segment #", 0) == 0)
                segments.push_back(l.substr(4));
        }
        BranchTree *tree = dlg.tree;
        QCOMPARE(tree->topLevelItemCount(), int(images.size()));
        size_t s = 0;
        for (int i = 0; i < tree->topLevelItemCount(); i++) {
            QTreeWidgetItem *image = tree->topLevelItem(i);
            QCOMPARE(image->text(0).toStdString(), images[i]);
            // Collapsed, with a button that opens it.
            QVERIFY(!image->isExpanded());
            QVERIFY(image->childCount() > 0);
            for (int j = 0; j < image->childCount(); j++)
                QCOMPARE(image->child(j)->text(0).toStdString(), segments.at(s++));
        }
        QCOMPARE(s, segments.size());
        QCOMPARE(tree->currentItem(), nullptr);
        QVERIFY(tree->selectedItems().isEmpty());
        QVERIFY(tree->rootIsDecorated());
        QVERIFY(tree->isHeaderHidden());

        // What the tree draws beside an image: a boxed plus while it is
        // collapsed, a boxed minus once it is open, and the dotted line to
        // each segment, whose rows only then show.
        QTreeWidgetItem *first = tree->topLevelItem(0);
        const int step = tree->indentation();
        const QRgb text = tree->palette().color(QPalette::Text).rgb();
        const QRgb base = tree->palette().color(QPalette::Base).rgb();
        const QRgb line = tree->palette().color(QPalette::Dark).rgb();
        auto pixel = [&](int x, int y) {
            return tree->viewport()->grab().toImage().pixel(x, y);
        };
        auto midY = [&](QTreeWidgetItem *item) {
            QRect row = tree->visualItemRect(item);
            return row.top() + row.height() / 2;
        };
        QVERIFY(!tree->visualItemRect(first->child(0)).isValid());
        QCOMPARE(pixel(step / 2 - 2, midY(first)), text); // the bar
        QCOMPARE(pixel(step / 2, midY(first) - 2), text); // the plus's upright
        QCOMPARE(pixel(step / 2 - 4, midY(first)), line); // the box
        tree->expandAll();
        QVERIFY(tree->visualItemRect(first->child(0)).isValid());
        QCOMPARE(pixel(step / 2 - 2, midY(first)), text);
        QCOMPARE(pixel(step / 2, midY(first) - 2), base); // a minus now
        int dots = 0;
        for (int x = step + step / 2; x < 2 * step - 2; x++)
            dots += pixel(x, midY(first->child(0))) == line;
        QVERIFY2(dots >= 2, qPrintable(QString::number(dots))); // one pixel in three

        QPushButton *ok = dlg.findChild<QPushButton *>("okButton");
        QVERIFY(ok->isDefault());
        QTest::mouseClick(ok, Qt::LeftButton);
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        QVERIFY(!dlg.isVisible());
    }

    // What the clipboard gets: the selected line, or every line of the
    // sample's information (summary and tree) when none is selected.
    void copy_data()
    {
        QTest::addColumn<int>("image"); // selected item: -1 none
        QTest::addColumn<int>("segment");
        QTest::addColumn<QString>("how"); // "keys", "copy" or "copyAll"
        QTest::addColumn<bool>("all");
        QTest::newRow("segment, Ctrl+C") << 1 << 0 << "keys" << false;
        QTest::newRow("nothing selected, Ctrl+C") << -1 << -1 << "keys" << true;
        QTest::newRow("image, menu Copy") << 2 << -1 << "copy" << false;
        QTest::newRow("nothing selected, menu Copy") << -1 << -1 << "copy" << true;
        QTest::newRow("segment, menu Copy all") << 0 << 1 << "copyAll" << true;
    }

    void copy()
    {
        QFETCH(int, image);
        QFETCH(int, segment);
        QFETCH(QString, how);
        QFETCH(bool, all);
        CAdvancedInfoDlg dlg;
        dlg.SetFirmware(firmware_);
        dlg.show();
        BranchTree *tree = dlg.tree;
        QTreeWidgetItem *item = nullptr;
        if (image >= 0) {
            item = tree->topLevelItem(image);
            if (segment >= 0)
                item = item->child(segment);
            tree->setCurrentItem(item);
        }
        QGuiApplication::clipboard()->setText("before");
        QCOMPARE(tree->contextMenuPolicy(), Qt::ActionsContextMenu);
        if (how == "keys") {
            QTest::keyClick(tree, Qt::Key_C, Qt::ControlModifier);
        } else {
            QAction *action = tree->findChild<QAction *>(how + "Action");
            QVERIFY(action && tree->actions().contains(action));
            action->trigger();
        }
        QString want;
        if (!all) {
            want = item->text(0);
        } else {
            bool from = false;
            for (const std::string &l : golden_) {
                from = from || l.rfind("Firmware size:", 0) == 0;
                if (from)
                    want += QString::fromStdString(l) + "\n";
            }
        }
        QCOMPARE(QGuiApplication::clipboard()->text(), want);
    }

    // The dialog grows with its window, and the tree takes the room.
    void resizable()
    {
        CAdvancedInfoDlg dlg;
        dlg.SetFirmware(firmware_);
        dlg.show();
        QApplication::processEvents();
        QSize tree = dlg.tree->size(), map = dlg.map->size();
        dlg.resize(dlg.size() + QSize(200, 150));
        QTRY_COMPARE(dlg.tree->size(), tree + QSize(200, 150));
        QCOMPARE(dlg.map->size(), map + QSize(200, 0));
    }

    // A block per segment: hovering one shows its line and its warnings,
    // hovering the range two share names both, selecting an image
    // highlights its blocks alone.
    void flashMap()
    {
        QTemporaryDir tmp;
        std::string path = tmp.path().toStdString() + "/map.srec";
        WriteLines(path, Join(Join(ImageLines(0x10000, "A", 0x10000, 0x20000, 128),
                                   ImageLines(0x28000, "B", 0x28000, 0x20000, 128)),
                              ImageLines(0xEC000, "C", 0xEC000, 0x10000, 128)));
        Firmware fw{};
        ScanFileInfo info;
        std::string message;
        QCOMPARE(ScanFirmwareFile(path.c_str(), &fw, &info, &message), 1);
        const QString warnings[] = {"Overlaps Image #1 \"B\", Segment #0 at 0x28000-0x2FFFF.",
                                    "Overlaps Image #0 \"A\", Segment #0 at 0x28000-0x2FFFF.",
                                    FLASHMAP_BEYOND};
        {
            CAdvancedInfoDlg dlg;
            dlg.SetFirmware(fw);
            dlg.show();
            QApplication::processEvents();
            FlashMapView *map = dlg.map;
            auto hover = [map](QPoint at) {
                QHelpEvent event(QEvent::ToolTip, at, map->mapToGlobal(at));
                QApplication::sendEvent(map, &event);
                QString text = QToolTip::text();
                QToolTip::hideText();
                return text;
            };
            auto line = [&dlg](int image) {
                return dlg.tree->topLevelItem(image)->child(0)->text(0);
            };
            QCOMPARE(map->Map().blocks.size(), size_t(3));
            for (size_t k = 0; k < 3; k++)
                QCOMPARE(hover(map->BlockRect(k).center()), line(int(k)) + "\n" + warnings[k]);
            QRect a = map->BlockRect(0), b = map->BlockRect(1);
            QCOMPARE(hover(QPoint((b.left() + a.right()) / 2, a.center().y())),
                     "Overlap at 0x28000-0x2FFFF of\nImage #0 \"A\", " + line(0) +
                         "\nImage #1 \"B\", " + line(1));
            dlg.tree->setCurrentItem(dlg.tree->topLevelItem(1));
            for (size_t k = 0; k < 3; k++)
                QCOMPARE(map->Highlighted(k), k == 1);
        }
        MdlFirmwareRelease(&fw);
    }

    void emptyFirmware()
    {
        Firmware empty{};
        CAdvancedInfoDlg dlg;
        dlg.SetFirmware(empty);
        dlg.show();
        QCOMPARE(dlg.tree->topLevelItemCount(), 0);
        QVERIFY(!dlg.findChild<QLineEdit *>("sizeField")->text().isEmpty());
        QTest::keyClick(&dlg, Qt::Key_Escape);
        QVERIFY(!dlg.isVisible());
    }
};

QTEST_MAIN(TestAdvancedDialog)
#include "advinfo_dialog_test.moc"
