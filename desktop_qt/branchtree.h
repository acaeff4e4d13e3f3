// A tree view that draws the classic dotted lines between items and a
// boxed plus or minus beside every item with children, whatever the style.
#pragma once

#include <QTreeWidget>

class BranchTree : public QTreeWidget
{
    Q_OBJECT
  public:
    explicit BranchTree(QWidget *parent = nullptr);

  protected:
    void drawBranches(QPainter *painter, const QRect &rect,
                      const QModelIndex &index) const override;

  private:
    bool HasNextSibling(const QModelIndex &index) const;
};
