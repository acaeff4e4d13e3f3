// The advanced firmware information dialog: summary lines for the whole
// file and a tree of its images and segments. It only reads the Firmware
// it is given.
#pragma once

#include <QDialog>
#include <string>

#include "core/advinfo.h"

struct Firmware;
class BranchTree;
class FlashMapView;
class QAction;
class QLineEdit;
class QPushButton;

class CAdvancedInfoDlg : public QDialog
{
    Q_OBJECT
  public:
    explicit CAdvancedInfoDlg(QWidget *parent = nullptr);

    // Must be called before the dialog is shown; the record stays the
    // caller's and must outlive the dialog's run.
    void SetFirmware(const Firmware &firmware);

    // The selected tree line, or every line when none is selected, to the
    // clipboard (Ctrl+C in the tree).
    void CopySelected();
    // The summary lines and every tree line to the clipboard.
    void CopyAll();

    BranchTree *tree;
    FlashMapView *map;
    std::string sizeText;
    std::string spanText;
    std::string lowestText;
    std::string highestText;

  protected:
    void showEvent(QShowEvent *event) override;
    // Fills the texts and the tree; runs once, when the dialog first shows.
    bool OnInitDialog();
    bool eventFilter(QObject *watched, QEvent *event) override;

  private:
    const Firmware *firmware_ = nullptr;
    bool initialised_ = false;
    QLineEdit *sizeField_;
    QLineEdit *spanField_;
    QLineEdit *lowestField_;
    QLineEdit *highestField_;
    QPushButton *ok_;
    QAction *copy_;
    QAction *copyAll_;
    AdvInfoTexts texts_; // the tree's lines, for copying
};
