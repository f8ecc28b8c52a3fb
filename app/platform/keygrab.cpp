#include "keygrab.h"

#include "x11dock.h"

#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <cstdlib>

namespace corvane::desktop {

namespace {

// The key press or release a native event is, or null.
const xcb_key_press_event_t *keyEventOf(const QByteArray &eventType, void *message)
{
    if (eventType != "xcb_generic_event_t")
        return nullptr;
    const auto *event = static_cast<const xcb_generic_event_t *>(message);
    const uint8_t type = event->response_type & ~0x80;
    if (type != XCB_KEY_PRESS && type != XCB_KEY_RELEASE)
        return nullptr;
    return static_cast<const xcb_key_press_event_t *>(message);
}

xcb_connection_t *connection()
{
    if (!isX11())
        return nullptr;
    auto *x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

xcb_window_t rootWindow(xcb_connection_t *c)
{
    return xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
}

uint32_t keysymOf(RootKeyGrab::Key key)
{
    switch (key) {
    case RootKeyGrab::Down: return 0xff54;
    case RootKeyGrab::Up: return 0xff52;
    case RootKeyGrab::Space: return 0x0020;
    case RootKeyGrab::Right: return 0xff53;
    case RootKeyGrab::Left: return 0xff51;
    case RootKeyGrab::Return: return 0xff0d;
    }
    return 0;
}

// The first keycode whose mapping holds the keysym, or 0.
uint8_t keycodeOf(xcb_connection_t *c, uint32_t keysym)
{
    const xcb_setup_t *setup = xcb_get_setup(c);
    const uint8_t first = setup->min_keycode;
    const int count = setup->max_keycode - first + 1;
    xcb_get_keyboard_mapping_reply_t *reply =
        xcb_get_keyboard_mapping_reply(c, xcb_get_keyboard_mapping(c, first, uint8_t(count)), nullptr);
    if (!reply)
        return 0;
    const xcb_keysym_t *syms = xcb_get_keyboard_mapping_keysyms(reply);
    const int perCode = reply->keysyms_per_keycode;
    uint8_t found = 0;
    for (int i = 0; i < count && !found; ++i)
        for (int j = 0; j < perCode; ++j)
            if (syms[i * perCode + j] == keysym) {
                found = uint8_t(first + i);
                break;
            }
    std::free(reply);
    return found;
}

// No modifier, Caps Lock, Num Lock, and both: the grab holds whatever the
// lock keys are set to.
constexpr uint16_t kLockCombinations[] = {0, XCB_MOD_MASK_LOCK, XCB_MOD_MASK_2,
                                          XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2};

} // namespace

RootKeyGrab::RootKeyGrab(QObject *parent)
    : QObject(parent)
{
}

RootKeyGrab::~RootKeyGrab()
{
    release();
    if (m_filtering)
        qApp->removeNativeEventFilter(this);
}

bool RootKeyGrab::isGrabbed(Key key) const
{
    for (const Grabbed &g : m_grabbed)
        if (g.key == key)
            return true;
    return false;
}

void RootKeyGrab::grab(const QList<Key> &keys)
{
    xcb_connection_t *c = connection();
    if (!c)
        return;
    const xcb_window_t root = rootWindow(c);
    for (const Grabbed &g : std::as_const(m_grabbed))
        for (uint16_t mods : kLockCombinations)
            xcb_ungrab_key(c, g.keycode, root, mods);
    m_grabbed.clear();
    for (Key key : keys) {
        const uint8_t keycode = keycodeOf(c, keysymOf(key));
        if (!keycode)
            continue;
        for (uint16_t mods : kLockCombinations)
            xcb_grab_key(c, 1, root, mods, keycode, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
        m_grabbed.append({key, keycode});
    }
    xcb_flush(c);
    if (!m_filtering && !m_grabbed.isEmpty()) {
        qApp->installNativeEventFilter(this);
        m_filtering = true;
    }
}

bool RootKeyGrab::nativeEventFilter(const QByteArray &eventType, void *message, qintptr *)
{
    const auto *keyEvent = m_grabbed.isEmpty() ? nullptr : keyEventOf(eventType, message);
    if (!keyEvent)
        return false;
    const uint8_t type = keyEvent->response_type & ~0x80;
    for (const Grabbed &g : std::as_const(m_grabbed)) {
        if (g.keycode != keyEvent->detail)
            continue;
        // Only plain presses: with Shift, Control or Alt the key is the user's.
        if (keyEvent->state & (XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1))
            return false;
        if (type == XCB_KEY_PRESS)
            Q_EMIT pressed(g.key);
        else
            Q_EMIT released(g.key);
        return true;
    }
    return false;
}

GlobalKeyGrab::GlobalKeyGrab(QObject *parent)
    : QObject(parent)
{
}

GlobalKeyGrab::~GlobalKeyGrab()
{
    while (!m_grabbed.isEmpty())
        release(m_grabbed.first().identifier);
    if (m_filtering)
        qApp->removeNativeEventFilter(this);
}

bool GlobalKeyGrab::grab(int identifier, uint32_t keysym, uint16_t modifiers)
{
    release(identifier);
    xcb_connection_t *c = connection();
    if (!c)
        return false;
    const uint8_t keycode = keycodeOf(c, keysym);
    if (!keycode)
        return false;
    const xcb_window_t root = rootWindow(c);
    // Another client holding the combination already refuses the grab.
    bool refused = false;
    for (uint16_t locks : kLockCombinations) {
        const xcb_void_cookie_t cookie = xcb_grab_key_checked(c, 1, root, uint16_t(modifiers | locks), keycode,
                                                              XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
        if (xcb_generic_error_t *error = xcb_request_check(c, cookie)) {
            std::free(error);
            refused = true;
        }
    }
    if (refused) {
        for (uint16_t locks : kLockCombinations)
            xcb_ungrab_key(c, keycode, root, uint16_t(modifiers | locks));
        xcb_flush(c);
        return false;
    }
    m_grabbed.append({identifier, keycode, modifiers});
    if (!m_filtering) {
        qApp->installNativeEventFilter(this);
        m_filtering = true;
    }
    return true;
}

void GlobalKeyGrab::release(int identifier)
{
    xcb_connection_t *c = connection();
    for (qsizetype i = m_grabbed.size() - 1; i >= 0; --i) {
        const Grabbed g = m_grabbed[i];
        if (g.identifier != identifier)
            continue;
        if (c)
            for (uint16_t locks : kLockCombinations)
                xcb_ungrab_key(c, g.keycode, rootWindow(c), uint16_t(g.modifiers | locks));
        m_grabbed.removeAt(i);
    }
    m_down.removeIf([identifier](const Grabbed &g) { return g.identifier == identifier; });
    if (c)
        xcb_flush(c);
}

bool GlobalKeyGrab::nativeEventFilter(const QByteArray &eventType, void *message, qintptr *)
{
    const auto *keyEvent = m_grabbed.isEmpty() ? nullptr : keyEventOf(eventType, message);
    if (!keyEvent)
        return false;
    const uint8_t type = keyEvent->response_type & ~0x80;
    if (type == XCB_KEY_RELEASE) {
        // The release of a pressed shortcut is its own whatever modifiers are
        // still held (they may go up first).
        for (qsizetype i = 0; i < m_down.size(); ++i) {
            if (m_down[i].keycode != keyEvent->detail)
                continue;
            const int identifier = m_down.takeAt(i).identifier;
            Q_EMIT released(identifier);
            return true;
        }
        return false;
    }
    const uint16_t held = keyEvent->state & (Shift | Control | Alt | Super);
    for (const Grabbed &g : std::as_const(m_grabbed)) {
        if (g.keycode != keyEvent->detail || g.modifiers != held)
            continue;
        m_down.append(g);
        Q_EMIT pressed(g.identifier);
        return true;
    }
    return false;
}

} // namespace corvane::desktop
