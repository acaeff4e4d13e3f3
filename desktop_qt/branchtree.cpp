#include "desktop_qt/branchtree.h"

#include <QPainter>

#include <vector>

BranchTree::BranchTree(QWidget *parent) : QTreeWidget(parent)
{
    setRootIsDecorated(true);
}

bool BranchTree::HasNextSibling(const QModelIndex &index) const
{
    return index.row() + 1 < model()->rowCount(index.parent());
}

void BranchTree::drawBranches(QPainter *painter, const QRect &rect, const QModelIndex &index) const
{
    // The index itself and its ancestors, innermost first.
    std::vector<QModelIndex> chain;
    for (QModelIndex i = index; i.isValid(); i = i.parent())
        chain.push_back(i);
    const int depth = static_cast<int>(chain.size()) - 1;
    const int step = indentation();
    const int midY = rect.top() + rect.height() / 2;
    const QColor lineColor = palette().color(QPalette::Dark);

    painter->save();
    QPen dotted(lineColor, 1, Qt::DotLine);
    painter->setPen(dotted);

    for (int level = 0; level <= depth; level++) {
        const QModelIndex &at = chain[depth - level];
        const int x = rect.left() + level * step + step / 2;
        if (level < depth) {
            // An ancestor's line goes on past this row when it has more
            // siblings below.
            if (HasNextSibling(at))
                painter->drawLine(x, rect.top(), x, rect.bottom());
            continue;
        }
        bool first = at.row() == 0 && !at.parent().isValid();
        int top = first ? midY : rect.top();
        int bottom = HasNextSibling(at) ? rect.bottom() : midY;
        painter->drawLine(x, top, x, bottom);
        painter->drawLine(x, midY, rect.left() + (level + 1) * step - 2, midY);

        if (model()->hasChildren(at)) {
            const int half = 4;
            QRect box(x - half, midY - half, 2 * half, 2 * half);
            painter->setPen(QPen(lineColor, 1));
            painter->setBrush(palette().color(QPalette::Base));
            painter->drawRect(box);
            painter->setPen(QPen(palette().color(QPalette::Text), 1));
            painter->drawLine(x - half + 2, midY, x + half - 2, midY);
            if (!isExpanded(at))
                painter->drawLine(x, midY - half + 2, x, midY + half - 2);
        }
    }
    painter->restore();
}
