#include "barresizer.h"

#include <QMouseEvent>

namespace corvane::desktop {

BarResizer::BarResizer(QWidget *bar)
    : QWidget(bar)
{
    setCursor(Qt::SizeHorCursor);
    setAttribute(Qt::WA_NoSystemBackground);
}

void BarResizer::place(int location)
{
    m_location = location;
    QWidget *bar = parentWidget();
    if (location == 2 || !bar) {
        hide();
        return;
    }
    setGeometry(location == 1 ? 0 : bar->width() - kWidth, 0, kWidth, bar->height());
    show();
    raise();
}

QRect BarResizer::resizedFrame(const QRect &frame, bool gripOnRight, int mouseX, int minWidth, int maxWidth)
{
    QRect result = frame;
    if (gripOnRight) {
        result.setWidth(qBound(minWidth, mouseX - frame.x(), maxWidth));
        return result;
    }
    // The right side stays; the left follows the mouse within the widths.
    const int right = frame.x() + frame.width();
    const int width = qBound(minWidth, right - mouseX, maxWidth);
    result.setX(right - width);
    result.setWidth(width);
    return result;
}

void BarResizer::mousePressEvent(QMouseEvent *event)
{
    m_dragging = event->button() == Qt::LeftButton;
}

void BarResizer::mouseMoveEvent(QMouseEvent *event)
{
    QWidget *bar = parentWidget();
    if (!m_dragging || !bar)
        return;
    const QRect frame = resizedFrame(bar->geometry(), m_location != 1, int(event->globalPosition().x()),
                                     kMinimumBarWidth, kMaximumBarWidth);
    if (frame != bar->geometry())
        Q_EMIT resizing(frame);
}

void BarResizer::mouseReleaseEvent(QMouseEvent *event)
{
    if (!m_dragging || event->button() != Qt::LeftButton)
        return;
    m_dragging = false;
    if (QWidget *bar = parentWidget())
        Q_EMIT resizeFinished(bar->width());
}

} // namespace corvane::desktop
