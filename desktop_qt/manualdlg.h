// The user manual inside the program, for when the desktop has no viewer
// for the PDF: the manual's Markdown rendered, its contents as links at the
// top, and a find field.
#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QTextBrowser;

class CManualDlg : public QDialog
{
    Q_OBJECT
  public:
    explicit CManualDlg(QWidget *parent = nullptr);

    // Shows the manual in the Markdown file at path. False with the
    // thread's last system error set when the file cannot be read.
    bool LoadFile(const QString &path);

    // Selects the next place that holds text, from the selection on and
    // round to the top once; false (and "Not found" beside the field) when
    // the manual does not hold it.
    bool Find(const QString &text);

  private:
    void OnFindNext();

    QTextBrowser *view_;
    QLineEdit *find_;
    QLabel *status_;
};
