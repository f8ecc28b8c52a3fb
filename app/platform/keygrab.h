#pragma once

#include <QAbstractNativeEventFilter>
#include <QList>
#include <QObject>

#include <cstdint>

namespace corvane::desktop {

// Keys taken from the whole X display while the mouse is over the bar, so
// the arrows, space and return work without the bar having the keyboard
// focus: a passive grab on the root window for each key (also with Caps
// Lock and Num Lock on), released again when the mouse leaves. The server's
// own auto-repeat repeats held keys at the user's rate. Does nothing off X11.
class RootKeyGrab : public QObject, public QAbstractNativeEventFilter
{
    Q_OBJECT
public:
    enum Key { Down = 1, Up, Space, Right, Left, Return };

    explicit RootKeyGrab(QObject *parent = nullptr);
    ~RootKeyGrab() override;

    // Grabs these keys (releasing any others held); an empty list releases all.
    void grab(const QList<Key> &keys);
    void release() { grab({}); }
    bool isGrabbed(Key key) const;

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override;

Q_SIGNALS:
    void pressed(int key);
    void released(int key);

private:
    struct Grabbed
    {
        Key key;
        uint8_t keycode;
    };
    QList<Grabbed> m_grabbed;
    bool m_filtering = false;
};

// Global shortcuts as passive grabs on the X root window: one key with its
// modifiers, each held under an identifier of the caller's choosing. Does
// nothing off X11.
class GlobalKeyGrab : public QObject, public QAbstractNativeEventFilter
{
    Q_OBJECT
public:
    // X modifier masks of a shortcut.
    enum Modifier : uint16_t { Shift = 1, Control = 4, Alt = 8, Super = 64 };

    explicit GlobalKeyGrab(QObject *parent = nullptr);
    ~GlobalKeyGrab() override;

    // False when there is no X display or no key of the keyboard bears the keysym.
    bool grab(int identifier, uint32_t keysym, uint16_t modifiers);
    void release(int identifier);

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override;

Q_SIGNALS:
    void pressed(int identifier);
    void released(int identifier);

private:
    struct Grabbed
    {
        int identifier;
        uint8_t keycode;
        uint16_t modifiers;
    };
    QList<Grabbed> m_grabbed;
    QList<Grabbed> m_down; // pressed, not yet released
    bool m_filtering = false;
};

} // namespace corvane::desktop
