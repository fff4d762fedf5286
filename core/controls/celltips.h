// Tooltips for cut texts: a cell of an item view whose text does not fit
// (a narrow column, the view's edge) shows its whole text as a tooltip.
#pragma once

#include <QAbstractItemView>
#include <QModelIndex>
#include <QRect>
#include <QString>
#include <functional>

namespace ps::ui {

// Where a cell's text is drawn, in viewport coordinates; it may replace the
// index by the one that holds the text (a row whose text spans its cells).
// Empty: the view's own cell rectangle.
using CellTextRect = std::function<QRect(QModelIndex& index)>;

// The whole text of the cell at a viewport point when the view cuts it,
// else an empty text.
QString CutCellText(const QAbstractItemView* view, const QPoint& viewportPos, const CellTextRect& cellRect = {});

// Shows CutCellText as the tooltip of the view's cells.
void InstallCutTextToolTips(QAbstractItemView* view, CellTextRect cellRect = {});

}  // namespace ps::ui
