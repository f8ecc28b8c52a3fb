// The dock window and its strut on X11, written straight to the window's
// properties through xcb (EWMH, "Application Window Properties":
// _NET_WM_WINDOW_TYPE, _NET_WM_STRUT_PARTIAL, _NET_WM_STRUT).
//
// Qt's xcb plugin replaces the X window of a QWindow when the stay-on-top or
// stay-on-bottom flag changes (a window level change): the next show()
// destroys the old one and maps a new one, without telling the QWindow, and
// the new one carries none of our properties. Two things carry them over:
// the plugin reads the dynamic property "_q_xcb_wm_window_type" of the QWindow
// whenever it sets up a window's type (so the new window is mapped as a dock),
// and a DockKeeper attached to the QWindow writes the type and the last strut
// on every X window it has not seen yet (refreshDockWindow(), and on expose
// for windows shown by others).
#include "x11dock.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QWindow>
#include <QtGui/qguiapplication_platform.h>
#include <QPlatformSurfaceEvent>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <functional>
#include <optional>

namespace corvane::desktop {

namespace {

// The Dock bit of the xcb plugin's window type flags (QXcbWindow::WindowType).
constexpr int kXcbDockWindowType = 0x000004;
constexpr char kXcbWindowTypeProperty[] = "_q_xcb_wm_window_type";
constexpr char kKeeperName[] = "corvane-dock-keeper";

xcb_connection_t *connection()
{
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

xcb_atom_t atom(xcb_connection_t *c, const char *name)
{
    const xcb_intern_atom_cookie_t cookie = xcb_intern_atom(c, 0, uint16_t(qstrlen(name)), name);
    std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
        xcb_intern_atom_reply(c, cookie, nullptr), &std::free);
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

void writeDockType(xcb_connection_t *c, xcb_window_t window)
{
    const xcb_atom_t dock = atom(c, "_NET_WM_WINDOW_TYPE_DOCK");
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, atom(c, "_NET_WM_WINDOW_TYPE"),
                        XCB_ATOM_ATOM, 32, 1, &dock);
}

void writeStrut(xcb_connection_t *c, xcb_window_t window, const std::array<quint32, 12> &partial)
{
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, atom(c, "_NET_WM_STRUT_PARTIAL"),
                        XCB_ATOM_CARDINAL, 32, 12, partial.data());
    // The older property holds the first four values only.
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, atom(c, "_NET_WM_STRUT"),
                        XCB_ATOM_CARDINAL, 32, 4, partial.data());
}

void deleteStrut(xcb_connection_t *c, xcb_window_t window)
{
    xcb_delete_property(c, window, atom(c, "_NET_WM_STRUT_PARTIAL"));
    xcb_delete_property(c, window, atom(c, "_NET_WM_STRUT"));
}

// The size of the root window of `window`, or of the first screen's root
// while the window has no native window.
QSize rootSize(xcb_connection_t *c, xcb_window_t window)
{
    using Reply = std::unique_ptr<xcb_get_geometry_reply_t, decltype(&std::free)>;
    if (window != XCB_WINDOW_NONE) {
        Reply own(xcb_get_geometry_reply(c, xcb_get_geometry(c, window), nullptr), &std::free);
        if (own) {
            Reply root(xcb_get_geometry_reply(c, xcb_get_geometry(c, own->root), nullptr), &std::free);
            if (root)
                return QSize(root->width, root->height);
        }
    }
    const xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(c));
    return screens.rem ? QSize(screens.data->width_in_pixels, screens.data->height_in_pixels) : QSize();
}

// The native X window of a top-level widget. QWidget::winId() can name a
// window Qt has already replaced, the QWindow always knows the current one.
xcb_window_t nativeWindow(QWidget *window)
{
    QWindow *handle = window->windowHandle();
    return handle && handle->handle() ? xcb_window_t(handle->winId()) : xcb_window_t(XCB_WINDOW_NONE);
}

// Writes the dock type and the strut again on every new native window.
class DockKeeper : public QObject
{
public:
    explicit DockKeeper(QWindow *window)
        : QObject(window)
    {
        setObjectName(QString::fromLatin1(kKeeperName));
        window->installEventFilter(this);
    }

    std::optional<std::array<quint32, 12>> strut;
    xcb_window_t applied = XCB_WINDOW_NONE; // the X window last written to

    // Writes the strut, and the dock type when the window is new to us (or
    // `withType`): window managers watch the type of mapped windows too.
    void apply(xcb_window_t window, bool withType = false)
    {
        xcb_connection_t *c = connection();
        if (!c || window == XCB_WINDOW_NONE)
            return;
        if ((withType || window != applied) && parent()->property(kXcbWindowTypeProperty).isValid())
            writeDockType(c, window);
        applied = window;
        if (strut)
            writeStrut(c, window, *strut);
        else
            deleteStrut(c, window);
        xcb_flush(c);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        const bool created = event->type() == QEvent::PlatformSurface
            && static_cast<QPlatformSurfaceEvent *>(event)->surfaceEventType()
                == QPlatformSurfaceEvent::SurfaceCreated;
        if (created || event->type() == QEvent::Expose) {
            auto *window = static_cast<QWindow *>(watched);
            if (window->handle() && xcb_window_t(window->winId()) != applied)
                apply(xcb_window_t(window->winId()));
        }
        return false;
    }
};

// The keeper of a created top-level widget, attached on first use.
DockKeeper *keeperOf(QWidget *window)
{
    window->winId(); // creates the QWindow and its native window
    QWindow *handle = window->windowHandle();
    if (!handle)
        return nullptr;
    auto *keeper = handle->findChild<DockKeeper *>(QString::fromLatin1(kKeeperName),
                                                   Qt::FindDirectChildrenOnly);
    return keeper ? keeper : new DockKeeper(handle);
}

} // namespace

bool isX11()
{
    return connection() != nullptr;
}

void setDockWindowType(QWidget *window)
{
    if (!isX11() || !window)
        return;
    DockKeeper *keeper = keeperOf(window);
    if (!keeper)
        return;
    window->windowHandle()->setProperty(kXcbWindowTypeProperty, kXcbDockWindowType);
    // The window exists already, so Qt has set its type: replace it while the
    // window is still unmapped, which is when window managers read it.
    keeper->apply(nativeWindow(window), true);
}

namespace {

// Sets the window's strut (none: drops it) and writes it at once, or when
// the native window appears.
void changeStrut(QWidget *window, const std::function<std::optional<std::array<quint32, 12>>(xcb_connection_t *, xcb_window_t)> &strut)
{
    xcb_connection_t *c = connection();
    if (!c || !window)
        return;
    DockKeeper *keeper = keeperOf(window);
    if (!keeper)
        return;
    const xcb_window_t native = nativeWindow(window);
    keeper->strut = strut(c, native);
    keeper->apply(native);
}

} // namespace

void setStrut(QWidget *window, ScreenEdge edge, const QRect &bar)
{
    changeStrut(window, [&](xcb_connection_t *c, xcb_window_t native) {
        return std::optional(strutPartial(edge, toPhysicalPixels(bar, window->screen()), rootSize(c, native)));
    });
}

void clearStrut(QWidget *window)
{
    changeStrut(window, [](xcb_connection_t *, xcb_window_t) { return std::optional<std::array<quint32, 12>>(); });
}

void refreshDockWindow(QWidget *window)
{
    if (!isX11() || !window || !window->windowHandle())
        return;
    auto *keeper = window->windowHandle()->findChild<DockKeeper *>(QString::fromLatin1(kKeeperName),
                                                                   Qt::FindDirectChildrenOnly);
    const xcb_window_t native = nativeWindow(window);
    if (keeper && native != keeper->applied)
        keeper->apply(native);
}

std::array<quint32, 12> strutPartial(ScreenEdge edge, const QRect &bar, const QSize &root)
{
    std::array<quint32, 12> values{};
    if (bar.isEmpty() || root.isEmpty())
        return values;
    // Clip to the root window: a reservation past its edges means nothing and
    // a negative one would wrap around as a CARDINAL.
    const QRect visible = bar.intersected(QRect(QPoint(0, 0), root));
    if (visible.isEmpty())
        return values;
    const auto startY = quint32(visible.top());
    const auto endY = quint32(visible.bottom());
    if (edge == ScreenEdge::Left) {
        values[0] = quint32(visible.right() + 1);
        values[4] = startY;
        values[5] = endY;
    } else {
        values[1] = quint32(root.width() - visible.left());
        values[6] = startY;
        values[7] = endY;
    }
    return values;
}

QRect toPhysicalPixels(const QRect &rect, const QScreen *screen)
{
    if (!screen)
        return rect;
    const qreal ratio = screen->devicePixelRatio();
    const QPoint origin = screen->geometry().topLeft();
    const QPointF topLeft = QPointF(rect.topLeft() - origin) * ratio + QPointF(origin);
    return QRect(topLeft.toPoint(), (QSizeF(rect.size()) * ratio).toSize());
}

} // namespace corvane::desktop
