// The file-open dialog in which the user picks the firmware file. The main
// window sets it up; the dialog itself only opens at a size that shows its
// columns whole.
#pragma once

#include <QFileDialog>

class CMyFileDialog : public QFileDialog
{
    Q_OBJECT
  public:
    explicit CMyFileDialog(QWidget *parent = nullptr, const QString &caption = QString(),
                           const QString &directory = QString(), const QString &filter = QString())
        : QFileDialog(parent, caption, directory, filter)
    {
    }

  protected:
    void showEvent(QShowEvent *event) override;

  private:
    bool sized_ = false;
};
