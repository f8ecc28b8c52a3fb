#include "scrollindicator.h"

#include <QPainter>
#include <QPropertyAnimation>
#include <QScrollArea>
#include <QScrollBar>

namespace corvane::desktop {

ScrollIndicator::ScrollIndicator(QScrollArea *area, AppClock &clock)
    : QWidget(area)
    , m_area(area)
    , m_clock(clock)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    hide();
}

void ScrollIndicator::update(bool show)
{
    const QScrollBar *bar = m_area->verticalScrollBar();
    const double visible = m_area->viewport()->height();
    const double list = visible + bar->maximum();
    const double height = qMax(20.0, visible / list * (visible - 8));
    if (bar->maximum() <= 0 || height > visible - 8) {
        hide();
        return;
    }
    const double track = visible - height - 8;
    const double y = 4 + (bar->maximum() > 0 ? track * bar->value() / bar->maximum() : 0);
    setGeometry(m_area->width() - 10 - 5, int(y), 5, int(height));
    QWidget::show();
    raise();
    if (!show)
        return;
    setOpacity(1.0);
    m_hideTimer.cancel();
    m_hideTimer = m_clock.after(3.0, this, [this] {
        auto *fade = new QPropertyAnimation(this, "opacity", this);
        fade->setDuration(300);
        fade->setEndValue(0.0);
        fade->start(QAbstractAnimation::DeleteWhenStopped);
    });
}

void ScrollIndicator::setOpacity(qreal opacity)
{
    m_opacity = opacity;
    QWidget::update();
}

void ScrollIndicator::paintEvent(QPaintEvent *)
{
    if (m_opacity <= 0)
        return;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setOpacity(m_opacity);
    QColor fill(128, 128, 128);
    fill.setAlphaF(0.8f);
    QColor stroke(211, 211, 211);
    stroke.setAlphaF(0.5f);
    p.setPen(stroke);
    p.setBrush(fill);
    p.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 2.5, 2.5);
}

} // namespace corvane::desktop
