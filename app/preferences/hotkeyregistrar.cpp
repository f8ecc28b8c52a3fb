#include "hotkeyregistrar.h"

#include "base/settings.h"

namespace corvane::desktop {

const QStringList &HotKeyRegistrar::shortcutKeys()
{
    static const QStringList keys = {
        QStringLiteral("ShortcutMarkAllRead"),        QStringLiteral("ShortcutMarkAllUnread"),
        QStringLiteral("ShortcutToggleShowHideRead"), QStringLiteral("ShortcutMarkStarred"),
        QStringLiteral("ShortcutToggleMainWindow"),
    };
    return keys;
}

QKeySequence HotKeyRegistrar::storedShortcut(const Settings &settings, const QString &key)
{
    const QString text = settings.value(key).toString().trimmed();
    if (text.isEmpty() || text == u"0")
        return {};
    const QKeySequence sequence = QKeySequence::fromString(text, QKeySequence::PortableText);
    // One key with its modifiers; anything Qt cannot read counts as none.
    if (sequence.isEmpty() || sequence[0].key() == Qt::Key_unknown)
        return {};
    return QKeySequence(sequence[0]);
}

HotKeyRegistrar::HotKeyRegistrar(Settings &settings, HotKeyBackend *backend, QObject *parent)
    : QObject(parent)
    , m_settings(settings)
    , m_backend(backend)
{
    m_backend->setParent(this);
    connect(m_backend, &HotKeyBackend::pressed, this,
            [this](int identifier) { Q_EMIT hotKeyPressed(identifier, m_identifiers.value(identifier)); });
    connect(m_backend, &HotKeyBackend::released, this, &HotKeyRegistrar::hotKeyReleased);
}

void HotKeyRegistrar::reregister()
{
    for (int identifier : std::as_const(m_handles))
        m_backend->unregisterHotKey(identifier);
    m_handles.clear();
    m_identifiers.clear();
    int identifier = kFirstIdentifier;
    for (const QString &key : shortcutKeys()) {
        const QKeySequence sequence = storedShortcut(m_settings, key);
        if (sequence.isEmpty())
            continue;
        const int id = identifier++;
        m_identifiers.insert(id, key);
        if (m_backend->registerHotKey(id, key, sequence))
            m_handles.append(id);
    }
}

} // namespace corvane::desktop
