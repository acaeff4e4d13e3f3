// The station window: one firmware file to several ports at once, one
// child of the command-line tool per port (the core's Station). The station
// runs on a thread of its own (the core's StationRun), which wakes the
// window by one queued call at a time, so that the window's thread never
// waits for the station.
#pragma once

#include <QDialog>

#include <memory>
#include <string>
#include <vector>

#include "core/station.h"

class CDownloadDlg;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTreeWidget;
class QTreeWidgetItem;

class CStationDlg : public QDialog
{
    Q_OBJECT
  public:
    explicit CStationDlg(QWidget *parent = nullptr);
    ~CStationDlg() override;

    // Before exec(): the ports checked when the window opens (added when
    // the system does not list them) and the results file (empty: the
    // default).
    void Choose(const std::vector<std::string> &ports, const std::string &resultsFile);
    // Analyses the file as the upload dialog does (its progress window and
    // error box); 1 when it can be run, 0 when not (the file is then none).
    int ScanFile(const char *path);
    bool Running() const { return station_ != nullptr; }

    // The system's ports changed: the list follows, checks kept.
    void OnPortsChanged();
    void OnStart();
    void OnStop();

    std::string program; // the command-line tool; by default found from this program
    // The tool the windows made from now on run (tests); empty: found from
    // this program.
    static void SetDefaultProgram(const std::string &path);

  public slots:
    void reject() override;

  protected:
    void closeEvent(QCloseEvent *event) override;

  private:
    void OnBrowseFile();
    void OnBrowseFolder();
    void OnBrowseResults();
    void OnOpenResults();
    void OnAddPort();
    void OnPortChecked(QTreeWidgetItem *item, int column);
    void FillPorts();
    void ShowFile();
    void EnableControls();
    void DrawRows();
    void OnDone(int status);
    std::vector<std::string> CheckedPorts() const;

    std::unique_ptr<CDownloadDlg> file_; // the analysed file, none when it failed
    std::vector<std::string> chosen_;    // the ports checked
    bool filling_ = false;               // the ports list is being refilled: its checks are ours

    QLineEdit *nameField_;
    QLineEdit *sizeField_;
    QPushButton *fileButton_;
    QPushButton *advanced_;
    QTreeWidget *ports_;
    QLineEdit *portName_;
    QPushButton *add_;
    QRadioButton *upload_;
    QCheckBox *verify_;
    QRadioButton *verifyOnly_;
    QCheckBox *backup_;
    QLineEdit *backupDir_;
    QPushButton *backupBrowse_;
    QLineEdit *results_;
    QPushButton *resultsBrowse_;
    QPushButton *openResults_;
    QTreeWidget *rows_;
    QLabel *summaryIcon_;
    QLabel *summary_;
    QPushButton *start_;
    QPushButton *stop_;
    QPushButton *close_;

    std::unique_ptr<StationRun> station_;
};
