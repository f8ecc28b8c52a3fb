#include "windowlevel.h"

#include "x11dock.h"

#include <QWidget>

namespace corvane::desktop {

void applyWindowLevel(QWidget *window, qint64 alwaysOnTop, bool allowBack)
{
    if (!window)
        return;
    const Qt::WindowFlags current = window->windowFlags();
    Qt::WindowFlags wanted = current & ~(Qt::WindowStaysOnTopHint | Qt::WindowStaysOnBottomHint);
    switch (alwaysOnTop) {
    case 1:
        wanted |= Qt::WindowStaysOnTopHint;
        break;
    case 2:
        break;
    case 0:
        if (allowBack)
            wanted |= Qt::WindowStaysOnBottomHint;
        break;
    default:
        return;
    }
    if (wanted == current)
        return;
    // New flags hide the window, and on X11 its next show() maps a new X
    // window, which needs the dock type and strut again.
    const bool wasVisible = window->isVisible();
    window->setWindowFlags(wanted);
    if (wasVisible) {
        window->show();
        refreshDockWindow(window);
    }
}

} // namespace corvane::desktop
