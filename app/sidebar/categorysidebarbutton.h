#pragma once

#include "store/objectid.h"

#include <QElapsedTimer>
#include <QWidget>

namespace corvane::desktop {

class DataItemAdapter;

// One tab of the category column: its name written along the column (or
// the subscription's picture) above a badge with the unread count. A click
// selects its category or subscription ("All feeds" has none); dragging it
// along the column asks the column to reorder.
class CategorySidebarButton : public QWidget
{
    Q_OBJECT
public:
    CategorySidebarButton(DataItemAdapter &adapter, QWidget *parent);

    void setEntry(const QString &name, ObjectID object);
    const QString &name() const { return m_name; }
    ObjectID object() const { return m_object; }
    bool isSelected() const;
    bool isDragged() const { return m_dragged; }

    // Counts the unread visible items again, on the background queue.
    void refreshCount();
    qint64 storedCount() const { return m_storedCount; }
    void setStoredCount(qint64 count);

    // When another tab was dragged to `y` (column coordinates) over this
    // one, the two swap places; true when they did.
    bool takeDrag(CategorySidebarButton *dragged, double y);

Q_SIGNALS:
    void clicked(CategorySidebarButton *button);
    void dragMoved(CategorySidebarButton *button, double y);
    void dragEnded(CategorySidebarButton *button);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    DataItemAdapter &m_adapter;
    QString m_name;
    ObjectID m_object;
    qint64 m_storedCount = 0;
    quint64 m_countGeneration = 0;
    bool m_hovered = false;
    bool m_pressed = false;
    bool m_dragged = false;
    QPointF m_dragStart;
    QRect m_dragStartFrame;
    CategorySidebarButton *m_lastSwapped = nullptr;
    QElapsedTimer m_lastSwap;
};

} // namespace corvane::desktop
