#include "desktop_qt/flashmapview.h"

#include <QHelpEvent>
#include <QPainter>
#include <QToolTip>

#include <algorithm>
#include <cstdio>

#include "core/run.h"

// Blocks are at least this wide, so that a few bytes in a megabyte show.
#define FLASHMAPVIEW_MIN_BLOCK 3

FlashMapView::FlashMapView(QWidget *parent) : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void FlashMapView::SetMap(const FlashMap &map, const std::vector<std::string> &texts)
{
    map_ = map;
    texts_ = texts;
    update();
}

void FlashMapView::SetHighlight(int image, int segment)
{
    highlightImage_ = image;
    highlightSegment_ = segment;
    update();
}

bool FlashMapView::Highlighted(size_t k) const
{
    if (k >= map_.blocks.size() || highlightImage_ < 0)
        return false;
    const FlashMapBlock &b = map_.blocks[k];
    return b.image == highlightImage_ && (highlightSegment_ < 0 || b.segment == highlightSegment_);
}

QSize FlashMapView::sizeHint() const
{
    return QSize(440, minimumSizeHint().height());
}

QSize FlashMapView::minimumSizeHint() const
{
    return QSize(120, 30 + fontMetrics().height() + 4);
}

QRect FlashMapView::Bar() const
{
    return QRect(4, 4, width() - 8, 30 - 4);
}

QRect FlashMapView::BlockRect(size_t k) const
{
    QRect bar = Bar();
    const FlashMapBlock &b = map_.blocks.at(k);
    int x0 = bar.left() + static_cast<int>(b.from * bar.width());
    int x1 = bar.left() + static_cast<int>(b.to * bar.width() + 0.5);
    x1 = std::max(x1, x0 + FLASHMAPVIEW_MIN_BLOCK);
    return QRect(x0, bar.top(), x1 - x0, bar.height());
}

int FlashMapView::BlockAt(const QPoint &pos) const
{
    // Later blocks are drawn over earlier ones: the last one hit is on top.
    for (size_t k = map_.blocks.size(); k-- > 0;)
        if (BlockRect(k).contains(pos))
            return static_cast<int>(k);
    return -1;
}

bool FlashMapView::event(QEvent *event)
{
    if (event->type() == QEvent::ToolTip) {
        auto *help = static_cast<QHelpEvent *>(event);
        int k = BlockAt(help->pos());
        if (k >= 0 && static_cast<size_t>(k) < texts_.size())
            QToolTip::showText(help->globalPos(), QString::fromStdString(texts_[k]), this,
                               BlockRect(k));
        else
            QToolTip::hideText();
        return true;
    }
    return QWidget::event(event);
}

void FlashMapView::paintEvent(QPaintEvent *)
{
    // One colour per image, repeating after eight.
    static const QColor imageColours[] = {
        QColor(0x3b, 0x76, 0xc4), QColor(0x3f, 0xa3, 0x4d), QColor(0x8e, 0x5c, 0xc2),
        QColor(0xd0, 0x8a, 0x1e), QColor(0x1e, 0x9e, 0xa8), QColor(0x9c, 0x6b, 0x3d),
        QColor(0xc4, 0x4f, 0x95), QColor(0x6b, 0x7a, 0x35),
    };
    const QColor warning(0xd3, 0x2f, 0x2f);

    QPainter p(this);
    QRect bar = Bar();
    int limitX = bar.left() + static_cast<int>(map_.limit * bar.width() + 0.5);
    // Flash, and the address space beyond it in a darker tone.
    p.fillRect(QRect(bar.left(), bar.top(), limitX - bar.left(), bar.height()),
               palette().color(QPalette::Base));
    if (limitX < bar.right())
        p.fillRect(QRect(limitX, bar.top(), bar.right() - limitX + 1, bar.height()),
                   QBrush(palette().color(QPalette::Mid), Qt::BDiagPattern));

    for (size_t k = 0; k < map_.blocks.size(); k++) {
        const FlashMapBlock &b = map_.blocks[k];
        QRect r = BlockRect(k);
        bool warn = b.overlaps || b.beyond;
        QColor colour = warn ? warning : imageColours[b.image % 8];
        p.fillRect(r, colour);
        if (warn)
            p.fillRect(r, QBrush(Qt::white, Qt::BDiagPattern));
    }
    for (size_t k = 0; k < map_.blocks.size(); k++) {
        if (!Highlighted(k))
            continue;
        // Dark and reaching past the bar, so that it shows on any colour.
        p.setPen(QPen(palette().color(QPalette::WindowText), 2));
        p.drawRect(BlockRect(k).adjusted(-2, -3, 1, 2));
    }
    p.setPen(palette().color(QPalette::Dark));
    p.drawRect(bar.adjusted(0, 0, -1, -1));

    // The end of flash, and the addresses at the ends of the bar.
    p.setPen(QPen(warning, 2));
    p.drawLine(limitX, bar.top() - 3, limitX, bar.bottom() + 3);
    p.setPen(palette().color(QPalette::WindowText));
    int textY = bar.bottom() + 4;
    int textH = height() - textY;
    QRect texts(bar.left(), textY, bar.width(), textH);
    p.drawText(texts, Qt::AlignLeft | Qt::AlignTop, "0x0");
    char text[32];
    std::snprintf(text, sizeof text, "0x%lX", (unsigned long)(RUN_FLASH_END - 1));
    if (map_.top > RUN_FLASH_END) {
        // Left of its mark, so that it never meets the address at the end.
        int w = fontMetrics().horizontalAdvance(text);
        p.drawText(QRect(limitX - w - 3, textY, w, textH), Qt::AlignRight | Qt::AlignTop, text);
        std::snprintf(text, sizeof text, "0x%llX", (unsigned long long)(map_.top - 1));
    }
    p.drawText(texts, Qt::AlignRight | Qt::AlignTop, text);
}
