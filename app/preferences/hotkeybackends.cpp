#include "hotkeybackends.h"

#include "platform/keygrab.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusReply>

namespace corvane::desktop {
namespace {

const QString kService = QStringLiteral("org.kde.kglobalaccel");
const QString kComponent = QStringLiteral("corvane");
constexpr uint kSetPresent = 2;
constexpr uint kNoAutoloading = 4;

QDBusInterface accel()
{
    return QDBusInterface(kService, QStringLiteral("/kglobalaccel"), QStringLiteral("org.kde.KGlobalAccel"),
                          QDBusConnection::sessionBus());
}

} // namespace

bool KGlobalAccelHotKeys::isAvailable()
{
    const QDBusConnection bus = QDBusConnection::sessionBus();
    return bus.isConnected() && bus.interface() && bus.interface()->isServiceRegistered(kService).value();
}

KGlobalAccelHotKeys::KGlobalAccelHotKeys(QObject *parent)
    : HotKeyBackend(parent)
{
}

QStringList KGlobalAccelHotKeys::actionId(const QString &name) const
{
    // Component, action, and their names as the desktop shows them.
    return {kComponent, name, QStringLiteral("Corvane"), name};
}

bool KGlobalAccelHotKeys::registerHotKey(int identifier, const QString &name, const QKeySequence &sequence)
{
    QDBusInterface service = accel();
    if (!service.isValid())
        return false;
    const QStringList id = actionId(name);
    service.call(QStringLiteral("doRegister"), id);
    const QList<int> keys = {sequence[0].toCombined()};
    const QDBusReply<QList<int>> reply =
        service.call(QStringLiteral("setShortcut"), id, QVariant::fromValue(keys), kSetPresent | kNoAutoloading);
    if (!reply.isValid())
        return false;
    if (!m_connected) {
        const QDBusReply<QDBusObjectPath> path = service.call(QStringLiteral("getComponent"), kComponent);
        if (path.isValid()) {
            QDBusConnection bus = QDBusConnection::sessionBus();
            const QString object = path.value().path();
            const QString interface = QStringLiteral("org.kde.kglobalaccel.Component");
            bus.connect(kService, object, interface, QStringLiteral("globalShortcutPressed"), this,
                        SLOT(shortcutPressed(QString, QString, qlonglong)));
            bus.connect(kService, object, interface, QStringLiteral("globalShortcutReleased"), this,
                        SLOT(shortcutReleased(QString, QString, qlonglong)));
            m_connected = true;
        }
    }
    m_names.insert(identifier, name);
    return true;
}

void KGlobalAccelHotKeys::unregisterHotKey(int identifier)
{
    const QString name = m_names.take(identifier);
    if (name.isEmpty())
        return;
    QDBusInterface service = accel();
    if (service.isValid())
        service.call(QStringLiteral("unregister"), kComponent, name);
}

void KGlobalAccelHotKeys::shortcutPressed(const QString &component, const QString &action, qlonglong)
{
    if (component == kComponent)
        if (const int identifier = m_names.key(action, 0))
            Q_EMIT pressed(identifier);
}

void KGlobalAccelHotKeys::shortcutReleased(const QString &component, const QString &action, qlonglong)
{
    if (component == kComponent)
        if (const int identifier = m_names.key(action, 0))
            Q_EMIT released(identifier);
}

std::optional<X11HotKeys::X11Key> X11HotKeys::x11Key(const QKeySequence &sequence)
{
    if (sequence.isEmpty())
        return std::nullopt;
    const QKeyCombination combination = sequence[0];
    const int key = combination.key();
    uint32_t keysym = 0;
    if (key >= Qt::Key_A && key <= Qt::Key_Z)
        keysym = uint32_t('a' + (key - Qt::Key_A));
    else if (key >= Qt::Key_F1 && key <= Qt::Key_F35)
        keysym = uint32_t(0xffbe + (key - Qt::Key_F1));
    else if (key >= 0x20 && key <= 0x7e)
        keysym = uint32_t(key); // Latin-1 keys are their own keysyms
    else {
        static const QHash<int, uint32_t> named = {
            {Qt::Key_Escape, 0xff1b}, {Qt::Key_Tab, 0xff09},      {Qt::Key_Backspace, 0xff08},
            {Qt::Key_Return, 0xff0d}, {Qt::Key_Enter, 0xff8d},    {Qt::Key_Insert, 0xff63},
            {Qt::Key_Delete, 0xffff}, {Qt::Key_Pause, 0xff13},    {Qt::Key_Print, 0xff61},
            {Qt::Key_Home, 0xff50},   {Qt::Key_End, 0xff57},      {Qt::Key_Left, 0xff51},
            {Qt::Key_Up, 0xff52},     {Qt::Key_Right, 0xff53},    {Qt::Key_Down, 0xff54},
            {Qt::Key_PageUp, 0xff55}, {Qt::Key_PageDown, 0xff56},
        };
        keysym = named.value(key, 0);
    }
    if (!keysym)
        return std::nullopt;
    const Qt::KeyboardModifiers mods = combination.keyboardModifiers();
    uint16_t mask = 0;
    if (mods & Qt::ShiftModifier)
        mask |= GlobalKeyGrab::Shift;
    if (mods & Qt::ControlModifier)
        mask |= GlobalKeyGrab::Control;
    if (mods & Qt::AltModifier)
        mask |= GlobalKeyGrab::Alt;
    if (mods & Qt::MetaModifier)
        mask |= GlobalKeyGrab::Super;
    return X11Key{keysym, mask};
}

X11HotKeys::X11HotKeys(QObject *parent)
    : HotKeyBackend(parent)
    , m_grab(new GlobalKeyGrab(this))
{
    connect(m_grab, &GlobalKeyGrab::pressed, this, &HotKeyBackend::pressed);
    connect(m_grab, &GlobalKeyGrab::released, this, &HotKeyBackend::released);
}

bool X11HotKeys::registerHotKey(int identifier, const QString &, const QKeySequence &sequence)
{
    const std::optional<X11Key> key = x11Key(sequence);
    return key && m_grab->grab(identifier, key->keysym, key->modifiers);
}

void X11HotKeys::unregisterHotKey(int identifier)
{
    m_grab->release(identifier);
}

HotKeyBackend *makeHotKeyBackend(QObject *parent)
{
    if (KGlobalAccelHotKeys::isAvailable())
        return new KGlobalAccelHotKeys(parent);
    return new X11HotKeys(parent);
}

} // namespace corvane::desktop
