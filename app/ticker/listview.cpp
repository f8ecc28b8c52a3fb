#include "listview.h"

#include "dataitemview.h"

#include <QPropertyAnimation>

namespace corvane::desktop {

ListView::ListView(QWidget *parent)
    : QWidget(parent)
{
}

void ListView::setListHeight(int height)
{
    resize(width(), qMax(0, height));
}

void ListView::animateToHeight(int height, DataItemView *target)
{
    finishAnimation();
    m_animating = true;
    m_resizeTarget = target;
    auto *animation = new QPropertyAnimation(this, "listHeight", this);
    animation->setDuration(1000);
    animation->setEasingCurve(QEasingCurve::InOutQuad);
    animation->setStartValue(this->height());
    animation->setEndValue(height);
    connect(animation, &QPropertyAnimation::finished, this, [this] {
        m_animating = false;
        if (m_resizeTarget)
            m_resizeTarget->setAlphaValueAnimated(1.0, 0.25);
        m_resizeTarget = nullptr;
    });
    m_runningAnimation = animation;
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

void ListView::finishAnimation()
{
    if (m_runningAnimation)
        m_runningAnimation->setCurrentTime(m_runningAnimation->totalDuration());
}

void ListView::placeEntry(DataItemView *view)
{
    view->setGeometry(0, height() - view->index() * m_itemHeight, width(), m_itemHeight);
}

QList<DataItemView *> ListView::entries() const
{
    return findChildren<DataItemView *>(QString(), Qt::FindDirectChildrenOnly);
}

void ListView::resizeEvent(QResizeEvent *)
{
    for (DataItemView *view : entries())
        if (view->isVisible() || view->index() > 0)
            placeEntry(view);
}

} // namespace corvane::desktop
