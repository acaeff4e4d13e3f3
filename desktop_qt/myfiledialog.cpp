#include "desktop_qt/myfiledialog.h"

#include <QDateTime>
#include <QHeaderView>
#include <QLocale>
#include <QStyle>
#include <QTreeView>

#include <algorithm>

void CMyFileDialog::showEvent(QShowEvent *event)
{
    // Qt sizes the Size column for "128.88 GB": "750.00 KiB" is cut. The
    // widest size, type and date fit, and the dialog is as wide as its
    // columns and the places beside them. A native dialog has no such
    // view and keeps its own size.
    auto *view = findChild<QTreeView *>("treeView");
    if (!sized_ && view) {
        sized_ = true;
        QHeaderView *header = view->header();
        QFontMetrics fm(view->font());
        int pad = 3 * fm.horizontalAdvance(QLatin1Char('x'));
        QLocale locale;
        QString size = locale.formattedDataSize(1023 * 1024 + 1023, 2);
        QString date = locale.toString(QDateTime(QDate(2000, 12, 28), QTime(23, 58, 58)),
                                       QLocale::ShortFormat);
        // The type column: an S-record file is mostly "plain text document".
        const QString widest[] = {size, QStringLiteral("plain text document"), date};
        for (int i = 1; i <= 3; i++)
            header->resizeSection(
                i, std::max(header->sectionSize(i), fm.horizontalAdvance(widest[i - 1]) + pad));
        int columns = 0;
        for (int i = 0; i < header->count(); i++)
            if (!header->isSectionHidden(i))
                columns += header->sectionSize(i);
        // What lies beside the view: the places list, the margins, a scroll bar.
        int beside = width() - view->width() + 2 * view->frameWidth() +
                     view->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
        resize(std::max(width(), columns + beside + pad), height());
    }
    QFileDialog::showEvent(event);
}
