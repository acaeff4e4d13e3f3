#include "desktop_qt/flashmapview.h"

#include <QHelpEvent>
#include <QPainter>
#include <QToolTip>

static QRect flashmapview_rect(const FlashMapRect &r)
{
    return QRect(r.x, r.y, r.w, r.h);
}

FlashMapView::FlashMapView(QWidget *parent) : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void FlashMapView::SetMap(const FlashMap &map, const std::vector<std::string> &tips)
{
    map_ = map;
    tips_ = tips;
    laidOut_ = false;
    update();
}

void FlashMapView::SetHighlight(int image, int segment)
{
    highlightImage_ = image;
    highlightSegment_ = segment;
    laidOut_ = false;
    update();
}

const FlashMapLayout &FlashMapView::Layout() const
{
    if (!laidOut_ || layout_.width != width()) {
        QFontMetrics fm = fontMetrics();
        FlashMapLayoutCompute(
            map_, width(), fm.height(),
            [&fm](const std::string &text) {
                return fm.horizontalAdvance(QString::fromStdString(text));
            },
            highlightImage_, highlightSegment_, &layout_);
        laidOut_ = true;
    }
    return layout_;
}

QRect FlashMapView::BlockRect(size_t k) const
{
    for (const FlashMapShape &s : Layout().shapes)
        if (s.role == FLASHMAP_ROLE_IMAGE && s.block == static_cast<int>(k))
            return flashmapview_rect(s.rect);
    return QRect();
}

bool FlashMapView::Highlighted(size_t k) const
{
    for (const FlashMapShape &s : Layout().shapes)
        if (s.role == FLASHMAP_ROLE_HIGHLIGHT && s.block == static_cast<int>(k))
            return true;
    return false;
}

QSize FlashMapView::sizeHint() const
{
    return QSize(440, minimumSizeHint().height());
}

QSize FlashMapView::minimumSizeHint() const
{
    return QSize(120, FlashMapLayoutHeight(fontMetrics().height()));
}

bool FlashMapView::event(QEvent *event)
{
    if (event->type() == QEvent::FontChange)
        laidOut_ = false;
    if (event->type() == QEvent::ToolTip) {
        auto *help = static_cast<QHelpEvent *>(event);
        int k = FlashMapLayoutShapeAt(Layout(), help->pos().x(), help->pos().y());
        const FlashMapShape *shape = k >= 0 ? &Layout().shapes[k] : nullptr;
        if (shape && static_cast<size_t>(shape->tip) < tips_.size())
            QToolTip::showText(help->globalPos(), QString::fromStdString(tips_[shape->tip]), this,
                               flashmapview_rect(shape->rect));
        else
            QToolTip::hideText();
        return true;
    }
    return QWidget::event(event);
}

static QColor flashmapview_ink(const FlashMapPaint &paint, const QPalette &palette)
{
    switch (paint.ink) {
    case FLASHMAP_INK_BASE:
        return palette.color(QPalette::Base);
    case FLASHMAP_INK_MID:
        return palette.color(QPalette::Mid);
    case FLASHMAP_INK_DARK:
        return palette.color(QPalette::Dark);
    case FLASHMAP_INK_TEXT:
        return palette.color(QPalette::WindowText);
    case FLASHMAP_INK_RGB:
        break;
    }
    return QColor(QRgb(paint.rgb));
}

void FlashMapView::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    for (const FlashMapShape &s : Layout().shapes) {
        QRect r = flashmapview_rect(s.rect);
        FlashMapPaint paint[2];
        int n = FlashMapShapePaint(s, paint);
        for (int i = 0; i < n; i++) {
            QColor colour = flashmapview_ink(paint[i], palette());
            switch (paint[i].stroke) {
            case FLASHMAP_STROKE_FILL:
                p.fillRect(r, colour);
                break;
            case FLASHMAP_STROKE_HATCH:
                p.fillRect(r, QBrush(colour, Qt::BDiagPattern));
                break;
            case FLASHMAP_STROKE_OUTLINE:
                p.setPen(QPen(colour, paint[i].width));
                p.setBrush(Qt::NoBrush);
                // A one-pixel pen draws right of and below the line, a
                // wider one centred on it.
                if (paint[i].width == 1) {
                    p.drawRect(r.adjusted(0, 0, -1, -1));
                } else {
                    double half = paint[i].width / 2.0;
                    p.drawRect(QRectF(r).adjusted(half, half, -half, -half));
                }
                break;
            }
        }
    }
    p.setPen(palette().color(QPalette::WindowText));
    for (const FlashMapLabel &l : Layout().labels)
        p.drawText(flashmapview_rect(l.rect), Qt::AlignLeft | Qt::AlignTop,
                   QString::fromStdString(l.text));
}
