// The advanced firmware information dialog (dialog template 194): summary
// lines for the whole file, a flash map and a tree of its images and
// segments. It only reads the Firmware it is given.
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "core/advinfo.h"

struct Firmware;
class CFlashMapView;

class CAdvancedInfoDlg
{
  public:
    explicit CAdvancedInfoDlg(HWND parent);

    // Must be called before DoModal; the record stays the caller's and must
    // outlive the dialog's run.
    void SetFirmware(const Firmware &firmware);
    INT_PTR DoModal();
    // While the dialog runs, else nullptr.
    HWND Window() const { return hwnd_; }

    // The selected tree line, or every line when none is selected, to the
    // clipboard (Ctrl+C in the tree, and the tree's menu).
    void CopySelected();
    // The summary lines and every tree line to the clipboard.
    void CopyAll();

    HWND tree = nullptr;
    CFlashMapView *map = nullptr; // the map window's, while it runs
    std::string sizeText;
    std::string spanText;
    std::string lowestText;
    std::string highestText;

  protected:
    // Fills the texts, the tree and the map, and sizes the window.
    BOOL OnInitDialog();
    void OnSize(int cx, int cy);
    void OnContextMenu(HWND from, int x, int y);
    BOOL OnNotify(NMHDR *header);

  private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    RECT DialogUnits(int x, int y, int w, int h) const;
    void ToClipboard(const std::string &text);
    void FitLongestLine();

    HWND parent_;
    HWND hwnd_ = nullptr;
    const Firmware *firmware_ = nullptr;
    AdvInfoTexts texts_;
    // Image and segment (-1 for an image's own item) of each tree item, by
    // the item's lParam.
    std::vector<std::pair<int, int>> items_;
    HWND line_ = nullptr;    // the etched line
    HWND details_ = nullptr; // the label above the tree
    POINT minSize_ = {0, 0}; // of the window
};
