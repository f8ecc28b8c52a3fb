#pragma once

#include <QRect>
#include <QSize>
#include <QtGlobal>

#include <array>

class QScreen;
class QWidget;

namespace corvane::desktop {

// True when the application runs on an X server (the xcb platform).
bool isX11();

enum class ScreenEdge { Left, Right };

// Makes the top-level widget a dock window (_NET_WM_WINDOW_TYPE_DOCK), so the
// window manager keeps it on every desktop, without decorations and out of
// the task list. Must be called before the window is first shown. The type
// and the strut below survive Qt re-creating the native window (which it does
// when the window flags change). Does nothing off X11.
void setDockWindowType(QWidget *window);

// Reserves the room of `bar` (its geometry in device-independent pixels, as
// QWidget::geometry() gives it) along `edge` of its screen with
// _NET_WM_STRUT_PARTIAL (and the older _NET_WM_STRUT), so maximised windows
// leave it free. The values are written in the root window's physical
// pixels. Does nothing off X11.
void setStrut(QWidget *window, ScreenEdge edge, const QRect &bar);
// Drops the reservation (free window).
void clearStrut(QWidget *window);

// Writes the dock type and the strut again when Qt has replaced the window's
// X window since (it does on the show() after a window level change). Also
// done on the window's next expose; call it to have them in place at once.
void refreshDockWindow(QWidget *window);

// The 12 CARDINALs of _NET_WM_STRUT_PARTIAL (left, right, top, bottom,
// left_start_y, left_end_y, right_start_y, right_end_y, top_start_x,
// top_end_x, bottom_start_x, bottom_end_x) for a bar at `bar` along `edge`,
// both in physical pixels of a root window of size `root`. The reserved width
// is measured from the root window's edge, so a bar on an inner monitor edge
// reserves everything between it and that edge.
std::array<quint32, 12> strutPartial(ScreenEdge edge, const QRect &bar, const QSize &root);

// `rect` (device-independent pixels on `screen`) in the X server's physical
// pixels: Qt keeps a screen's top-left corner in physical pixels and scales
// distances from it by the screen's device pixel ratio.
QRect toPhysicalPixels(const QRect &rect, const QScreen *screen);

} // namespace corvane::desktop
