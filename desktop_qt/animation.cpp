#include "desktop_qt/animation.h"

#include <QPainter>
#include <QPainterPath>
#include <QTimer>

UploadAnimation::UploadAnimation(QWidget *parent) : QWidget(parent), timer_(new QTimer(this))
{
    timer_->setInterval(ANIMATION_FRAME_MS);
    connect(timer_, &QTimer::timeout, this, &UploadAnimation::Advance);
    setFixedSize(ANIMATION_WIDTH, ANIMATION_HEIGHT);
    setAttribute(Qt::WA_TranslucentBackground);
}

QSize UploadAnimation::sizeHint() const
{
    return QSize(ANIMATION_WIDTH, ANIMATION_HEIGHT);
}

void UploadAnimation::Open()
{
    timer_->stop();
    Seek(0);
}

void UploadAnimation::Play()
{
    Seek(1);
    timer_->start();
}

void UploadAnimation::Stop()
{
    timer_->stop();
}

void UploadAnimation::Seek(int frame)
{
    if (frame < 0 || frame >= ANIMATION_FRAMES)
        frame = 0;
    frame_ = frame;
    update();
}

bool UploadAnimation::IsPlaying() const
{
    return timer_->isActive();
}

void UploadAnimation::Advance()
{
    int next = frame_ + 1;
    Seek(next >= ANIMATION_FRAMES ? 1 : next);
}

void UploadAnimation::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);

    // The firmware sheet on the left, with a folded corner and text lines.
    QPainterPath sheet;
    sheet.moveTo(1.5, 4.5);
    sheet.lineTo(9.5, 4.5);
    sheet.lineTo(12.5, 7.5);
    sheet.lineTo(12.5, 27.5);
    sheet.lineTo(1.5, 27.5);
    sheet.closeSubpath();
    p.setPen(QPen(QColor(0x44, 0x44, 0x44), 1));
    p.setBrush(Qt::white);
    p.drawPath(sheet);
    p.setPen(QPen(QColor(0x33, 0x66, 0xcc), 1));
    for (int y = 11; y <= 24; y += 3)
        p.drawLine(QPointF(3.5, y + 0.5), QPointF(10.5, y + 0.5));

    // The chip on the right, with its pins.
    p.setPen(QPen(QColor(0x55, 0x55, 0x55), 1));
    for (int y = 9; y <= 23; y += 4) {
        p.drawLine(QPointF(21.5, y + 0.5), QPointF(19.5, y + 0.5));
        p.drawLine(QPointF(30.5, y + 0.5), QPointF(32.5, y + 0.5));
    }
    p.setBrush(QColor(0x30, 0x30, 0x30));
    p.drawRoundedRect(QRectF(21.5, 7.5, 9, 18), 1.5, 1.5);

    if (frame_ == 0)
        return;

    // Three packets travel from the sheet to the chip; each frame moves
    // them one step, and the chip's mark lights up as one arrives.
    const double start = 13.5, end = 20.5;
    const int steps = ANIMATION_FRAMES - 1;
    p.setPen(Qt::NoPen);
    for (int k = 0; k < 3; k++) {
        int phase = (frame_ - 1 + k * steps / 3) % steps;
        double x = start + (end - start) * phase / (steps - 1);
        double y = 12.0 + 4.0 * k;
        p.setBrush(QColor(0x22, 0xaa, 0x44));
        p.drawRect(QRectF(x - 1.5, y, 3, 2.5));
    }
    bool lit = (frame_ / 3) % 2 == 0;
    p.setBrush(lit ? QColor(0x66, 0xee, 0x66) : QColor(0x22, 0x66, 0x22));
    p.drawEllipse(QPointF(26, 11), 1.5, 1.5);
}
