#pragma once

#include <QRect>

class QWidget;

namespace corvane::desktop {

// True when the application runs on an X server (the xcb platform).
bool isX11();

enum class ScreenEdge { Left, Right };

// Makes the top-level widget a dock window (_NET_WM_WINDOW_TYPE_DOCK), so the
// window manager keeps it on every desktop, without decorations and out of
// the task list. Must be called before the window is first shown. Does
// nothing off X11.
void setDockWindowType(QWidget *window);

// Reserves the room of `bar` (its geometry in device-independent pixels, as
// QWidget::geometry() gives it) along `edge` of its screen with
// _NET_WM_STRUT_PARTIAL (and the older _NET_WM_STRUT), so maximised windows
// leave it free. The values are written in the root window's physical
// pixels. Does nothing off X11.
void setStrut(QWidget *window, ScreenEdge edge, const QRect &bar);
// Drops the reservation (free window).
void clearStrut(QWidget *window);

} // namespace corvane::desktop
