// Draws a FlashMap: the flash address space as a bar, each segment a block
// in its image's colour, marked blocks in a warning colour, the end of
// flash marked. Hovering a block shows its text; the blocks of the
// highlighted image or segment are outlined.
#pragma once

#include <QWidget>

#include <string>
#include <vector>

#include "core/flashmap.h"

class FlashMapView : public QWidget
{
    Q_OBJECT
  public:
    explicit FlashMapView(QWidget *parent = nullptr);

    // texts: one per block of the map, in the same order.
    void SetMap(const FlashMap &map, const std::vector<std::string> &texts);
    // The blocks of one segment, or of a whole image with segment -1; an
    // image of -1 highlights none.
    void SetHighlight(int image, int segment);

    const FlashMap &Map() const { return map_; }
    // Where block k is drawn, in widget coordinates.
    QRect BlockRect(size_t k) const;
    // The block drawn under the point, or -1.
    int BlockAt(const QPoint &pos) const;
    bool Highlighted(size_t k) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

  protected:
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

  private:
    QRect Bar() const;

    FlashMap map_;
    std::vector<std::string> texts_;
    int highlightImage_ = -1;
    int highlightSegment_ = -1;
};
