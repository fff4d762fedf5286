#include "core/controls/celltips.h"

#include <QHelpEvent>
#include <QIcon>
#include <QStyle>
#include <QToolTip>

namespace ps::ui {

QString CutCellText(const QAbstractItemView* view, const QPoint& viewportPos, const CellTextRect& cellRect)
{
    if (!view) return QString();
    QModelIndex index = view->indexAt(viewportPos);
    if (!index.isValid()) return QString();
    const QRect rect = cellRect ? cellRect(index) : view->visualRect(index);
    const QString text = index.data(Qt::DisplayRole).toString();
    if (text.isEmpty() || rect.isEmpty()) return QString();
    // What the text needs: the text itself, the icon before it and the
    // margins the style keeps on both sides.
    const QStyle* style = view->style();
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) + 1;
    int needed = view->fontMetrics().horizontalAdvance(text) + 2 * margin;
    if (!index.data(Qt::DecorationRole).value<QIcon>().isNull()) needed += view->iconSize().width() + 2 * margin;
    const int visibleRight = std::min(rect.right(), view->viewport()->width() - 1);
    const int visibleWidth = visibleRight - std::max(rect.left(), 0) + 1;
    return needed > visibleWidth ? text : QString();
}

namespace {

class CutTextTips : public QObject {
public:
    CutTextTips(QAbstractItemView* view, CellTextRect cellRect)
        : QObject(view), view_(view), cellRect_(std::move(cellRect))
    {
        view->viewport()->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() != QEvent::ToolTip) return false;
        auto* he = static_cast<QHelpEvent*>(e);
        const QString text = CutCellText(view_, he->pos(), cellRect_);
        if (text.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(he->globalPos(), text, view_->viewport());
        return true;
    }

private:
    QAbstractItemView* view_;
    CellTextRect cellRect_;
};

}  // namespace

void InstallCutTextToolTips(QAbstractItemView* view, CellTextRect cellRect)
{
    if (view) new CutTextTips(view, std::move(cellRect));
}

}  // namespace ps::ui
