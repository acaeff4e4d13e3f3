// Draws the layout of a FlashMap that the core computes for the widget's
// width and font: it only picks a colour for each role. Hovering shows the
// tip of the shape under the pointer.
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

    // tips: FlashMapTips of the map.
    void SetMap(const FlashMap &map, const std::vector<std::string> &tips);
    // The blocks of one segment, or of a whole image with segment -1; an
    // image of -1 highlights none.
    void SetHighlight(int image, int segment);

    const FlashMap &Map() const { return map_; }
    const FlashMapLayout &Layout() const;
    // Where block k is drawn, in widget coordinates.
    QRect BlockRect(size_t k) const;
    bool Highlighted(size_t k) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

  protected:
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

  private:
    FlashMap map_;
    std::vector<std::string> tips_;
    int highlightImage_ = -1;
    int highlightSegment_ = -1;
    // Laid out again when the width, the font or the highlight changes.
    mutable FlashMapLayout layout_;
    mutable bool laidOut_ = false;
};
