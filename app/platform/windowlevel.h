#pragma once

#include <QtGlobal>

class QWidget;

namespace corvane::desktop {

// The "alwaysOnTop" setting as a window level: 1 above normal windows, 2
// normal, 0 below normal windows when `allowBack` (else normal); any other
// value leaves the level as it is. Keeps the window shown when it was, and
// on X11 a dock window keeps its type and strut (see x11dock.h).
void applyWindowLevel(QWidget *window, qint64 alwaysOnTop, bool allowBack);

} // namespace corvane::desktop
