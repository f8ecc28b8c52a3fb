#pragma once

#include <QColor>
#include <QList>
#include <QTreeView>

#include <functional>
#include <optional>

class QMenu;

namespace corvane::desktop {

// The feed list's tree: fills each row with the colour its controller
// gives, shows the controller's menu for a right-clicked row, and holds
// back work that would disturb a cell being edited until the edit ends.
class FeedsOutlineView : public QTreeView
{
    Q_OBJECT
public:
    explicit FeedsOutlineView(QWidget *parent = nullptr);

    std::function<std::optional<QColor>(const QModelIndex &index, int visualRow)> backgroundColorForItem;
    // The menu for the clicked row (owned by the caller until shown), or null.
    std::function<QMenu *(const QModelIndex &index)> menuForItem;

    bool editing() const { return state() == QAbstractItemView::EditingState; }
    // Commits and closes the cell being edited, if any.
    void endEditing();
    // Runs the work now, or in order on the main queue after the edit in progress ends.
    void performNowOrAfterEditing(std::function<void()> work);
    // The row's place among the rows shown, top to bottom, from 0.
    int visualRow(const QModelIndex &index) const;

protected:
    void drawRow(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void closeEditor(QWidget *editor, QAbstractItemDelegate::EndEditHint hint) override;

private:
    void runQueued();
    QList<std::function<void()>> m_afterEditing;
};

} // namespace corvane::desktop
