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

void FlashMapView::paintEvent(QPaintEvent *)
{
    // One colour per image, repeating after eight; none of them near the
    // warning red or the end mark's dark.
    static const QColor imageColours[] = {
        QColor(0x3b, 0x76, 0xc4), QColor(0x3f, 0xa3, 0x4d), QColor(0x8e, 0x5c, 0xc2),
        QColor(0xd0, 0x8a, 0x1e), QColor(0x1e, 0x9e, 0xa8), QColor(0x9c, 0x6b, 0x3d),
        QColor(0xc4, 0x4f, 0x95), QColor(0x6b, 0x7a, 0x35),
    };
    const QColor warning(0xd3, 0x2f, 0x2f);

    QPainter p(this);
    for (const FlashMapShape &s : Layout().shapes) {
        QRect r = flashmapview_rect(s.rect);
        switch (s.role) {
        case FLASHMAP_ROLE_FREE:
            p.fillRect(r, palette().color(QPalette::Base));
            break;
        case FLASHMAP_ROLE_OUTSIDE:
            p.fillRect(r, QBrush(palette().color(QPalette::Mid), Qt::BDiagPattern));
            break;
        case FLASHMAP_ROLE_IMAGE:
            p.fillRect(r, imageColours[s.image % 8]);
            break;
        case FLASHMAP_ROLE_WARNING:
            // Hatched, so that the colours below still show.
            p.fillRect(r, QBrush(warning, Qt::BDiagPattern));
            p.setPen(QPen(warning, 2));
            p.setBrush(Qt::NoBrush);
            p.drawRect(QRectF(r).adjusted(1, 1, -1, -1));
            break;
        case FLASHMAP_ROLE_HIGHLIGHT:
            p.setPen(QPen(palette().color(QPalette::WindowText), 2));
            p.setBrush(Qt::NoBrush);
            p.drawRect(QRectF(r).adjusted(1, 1, -1, -1));
            break;
        case FLASHMAP_ROLE_FRAME:
            p.setPen(palette().color(QPalette::Dark));
            p.setBrush(Qt::NoBrush);
            p.drawRect(r.adjusted(0, 0, -1, -1));
            break;
        case FLASHMAP_ROLE_END_EDGE:
            p.fillRect(r, palette().color(QPalette::Base));
            break;
        case FLASHMAP_ROLE_END:
            p.fillRect(r, palette().color(QPalette::WindowText));
            break;
        }
    }
    p.setPen(palette().color(QPalette::WindowText));
    for (const FlashMapLabel &l : Layout().labels)
        p.drawText(flashmapview_rect(l.rect), Qt::AlignLeft | Qt::AlignTop,
                   QString::fromStdString(l.text));
}
