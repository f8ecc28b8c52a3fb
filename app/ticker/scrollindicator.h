#pragma once

#include "appclock.h"

#include <QWidget>

class QScrollArea;

namespace corvane::desktop {

// The drawn scroll thumb of the bar: 5 points wide, 10 points from the
// bar's right side, shown while scrolling and faded out 3 seconds after.
class ScrollIndicator : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(qreal opacity READ opacity WRITE setOpacity)
public:
    ScrollIndicator(QScrollArea *area, AppClock &clock);

    // Follows the scroll area: size, place, and a fresh fade-out countdown.
    void update(bool show = true);
    qreal opacity() const { return m_opacity; }
    void setOpacity(qreal opacity);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QScrollArea *m_area;
    AppClock &m_clock;
    qreal m_opacity = 0;
    TimerHandle m_hideTimer;
};

} // namespace corvane::desktop
