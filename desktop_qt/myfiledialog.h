// The file-open dialog in which the user picks the firmware file. It adds
// nothing to its base; the main window sets it up.
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
};
