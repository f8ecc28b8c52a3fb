#pragma once

#include <QPointer>
#include <QWidget>

class QPropertyAnimation;

namespace corvane::desktop {

class DataItemView;

// The column of entries inside the bar's scroll area. Rows are counted from
// 1 at the oldest (lowest) entry up to n at the newest (top) one, and an
// entry keeps its distance to the list's bottom, so when the list grows the
// entries slide down and the new row opens at the top.
class ListView : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(int listHeight READ height WRITE setListHeight)
public:
    explicit ListView(QWidget *parent = nullptr);

    void setItemHeight(int height) { m_itemHeight = height; }
    int itemHeight() const { return m_itemHeight; }

    void setListHeight(int height);
    // Grows (or shrinks) to `height` over one second; `target` fades in when
    // the growth ends.
    void animateToHeight(int height, DataItemView *target);
    bool animating() const { return m_animating; }
    // Ends a running growth at once (the bar is rebuilt or hidden).
    void finishAnimation();

    // Places the entry at its row.
    void placeEntry(DataItemView *view);
    QList<DataItemView *> entries() const;

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    int m_itemHeight = 86;
    bool m_animating = false;
    QPointer<DataItemView> m_resizeTarget;
    QPointer<QPropertyAnimation> m_runningAnimation;
};

} // namespace corvane::desktop
