// A child window that draws the layout of a FlashMap which the core
// computes for the window's width and font: it only picks a colour for each
// stroke. Hovering shows the tip of the shape under the pointer in a
// tooltip control.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "core/flashmap.h"

class CFlashMapView
{
  public:
    // A new map window; it owns the object and deletes it when destroyed.
    static CFlashMapView *Create(HWND parent, int id);

    // tips: FlashMapTips of the map.
    void SetMap(const FlashMap &map, const std::vector<std::string> &tips);
    // The blocks of one segment, or of a whole image with segment -1; an
    // image of -1 highlights none.
    void SetHighlight(int image, int segment);

    HWND Window() const { return hwnd_; }
    HWND Tooltip() const { return tip_; }
    // The height the map needs in its font.
    int Height() const;
    const FlashMapLayout &Layout() const;
    // Draws the map as it shows on the screen.
    void Draw(HDC dc) const;

  private:
    explicit CFlashMapView(HWND hwnd) : hwnd_(hwnd) {}
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    int LineHeight() const;
    void OnMouseMove(LPARAM lp);

    HWND hwnd_;
    HWND tip_ = nullptr;
    HFONT font_ = nullptr; // the parent's, not owned
    FlashMap map_;
    std::vector<std::string> tips_;
    int highlightImage_ = -1;
    int highlightSegment_ = -1;
    int shownTip_ = -2; // the tip the tooltip holds; -2 none yet
    // Laid out again when the width, the font, the map or the highlight
    // changes.
    mutable FlashMapLayout layout_;
    mutable bool laidOut_ = false;
};
