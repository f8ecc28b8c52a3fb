#include "feedsoutlineview.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QPainter>
#include <QTimer>

namespace corvane::desktop {

FeedsOutlineView::FeedsOutlineView(QWidget *parent)
    : QTreeView(parent)
{
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setDragDropMode(QAbstractItemView::DragDrop);
    setDefaultDropAction(Qt::MoveAction);
    setDragEnabled(true);
    setAcceptDrops(true);
    setDropIndicatorShown(true);
    setUniformRowHeights(false);
    setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
}

void FeedsOutlineView::performNowOrAfterEditing(std::function<void()> work)
{
    if (!editing()) {
        work();
        return;
    }
    m_afterEditing.append(std::move(work));
}

void FeedsOutlineView::endEditing()
{
    if (!editing())
        return;
    QWidget *editor = QApplication::focusWidget();
    while (editor && editor->parentWidget() != viewport())
        editor = editor->parentWidget();
    if (!editor)
        return;
    commitData(editor);
    closeEditor(editor, QAbstractItemDelegate::NoHint);
}

void FeedsOutlineView::closeEditor(QWidget *editor, QAbstractItemDelegate::EndEditHint hint)
{
    QTreeView::closeEditor(editor, hint);
    if (!m_afterEditing.isEmpty())
        QTimer::singleShot(0, this, [this] { runQueued(); });
}

void FeedsOutlineView::runQueued()
{
    const QList<std::function<void()>> work = std::exchange(m_afterEditing, {});
    for (const auto &step : work)
        step();
}

int FeedsOutlineView::visualRow(const QModelIndex &index) const
{
    const QAbstractItemModel *m = model();
    if (!m || !index.isValid())
        return -1;
    const QModelIndex row = index.siblingAtColumn(0);
    int count = 0;
    for (int top = 0; top < m->rowCount(); ++top) {
        const QModelIndex root = m->index(top, 0);
        if (root == row)
            return count;
        ++count;
        if (!isExpanded(root))
            continue;
        const int children = m->rowCount(root);
        if (row.parent() == root)
            return count + row.row();
        count += children;
    }
    return -1;
}

void FeedsOutlineView::drawRow(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    if (backgroundColorForItem) {
        // The painter is clipped to the area being drawn already.
        if (const std::optional<QColor> colour = backgroundColorForItem(index, visualRow(index)))
            painter->fillRect(option.rect, *colour);
    }
    QTreeView::drawRow(painter, option, index);
}

void FeedsOutlineView::contextMenuEvent(QContextMenuEvent *event)
{
    const QModelIndex index = indexAt(event->pos());
    if (!index.isValid() || !menuForItem)
        return;
    setFocus(Qt::MouseFocusReason);
    if (!selectionModel()->isRowSelected(index.row(), index.parent()))
        selectionModel()->select(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    QMenu *menu = menuForItem(index);
    if (!menu)
        return;
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

} // namespace corvane::desktop
