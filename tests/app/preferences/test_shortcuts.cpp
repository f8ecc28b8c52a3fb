#include "prefsfixture.h"

#include "preferences/hotkeybackends.h"
#include "preferences/hotkeyregistrar.h"
#include "preferences/shortcutscontroller.h"

#include "platform/keygrab.h"

#include <QKeySequenceEdit>

using namespace corvane;
using namespace corvane::test;
using desktop::HotKeyRegistrar;

namespace {

// Writes down what would be registered with the desktop, and can press.
class RecordedHotKeys final : public desktop::HotKeyBackend
{
public:
    bool registerHotKey(int identifier, const QString &name, const QKeySequence &sequence) override
    {
        log.append(QStringLiteral("+%1 %2 %3").arg(identifier).arg(name, sequence.toString(QKeySequence::PortableText)));
        return true;
    }
    void unregisterHotKey(int identifier) override { log.append(QStringLiteral("-%1").arg(identifier)); }
    void press(int identifier)
    {
        Q_EMIT pressed(identifier);
        Q_EMIT released(identifier);
    }
    QStringList log;
};

class ShortcutsTest : public PrefsFixture
{
};

TEST_F(ShortcutsTest, RegistrationFollowsTheTableAndSkipsEmptyKeys)
{
    settings().setValue(QStringLiteral("ShortcutMarkAllUnread"), 0);
    settings().setValue(QStringLiteral("ShortcutToggleShowHideRead"), QStringLiteral("Ctrl+Shift+T"));
    settings().setValue(QStringLiteral("ShortcutToggleMainWindow"), QStringLiteral("no such key+++"));
    auto *keys = new RecordedHotKeys;
    HotKeyRegistrar registrar(settings(), keys);
    registrar.reregister();
    EXPECT_EQ(keys->log, (QStringList{QStringLiteral("+1000 ShortcutMarkAllRead Alt+R"),
                                      QStringLiteral("+1001 ShortcutToggleShowHideRead Ctrl+Shift+T"),
                                      QStringLiteral("+1002 ShortcutMarkStarred Alt+S")}));
    EXPECT_EQ(registrar.identifiers().value(1001), QStringLiteral("ShortcutToggleShowHideRead"));
    EXPECT_EQ(registrar.handles(), (QList<int>{1000, 1001, 1002}));

    // Again after a change: everything held goes first, then the new list.
    keys->log.clear();
    settings().setValue(QStringLiteral("ShortcutMarkAllRead"), 0);
    settings().setValue(QStringLiteral("ShortcutToggleMainWindow"), QStringLiteral("Meta+F9"));
    registrar.reregister();
    EXPECT_EQ(keys->log, (QStringList{QStringLiteral("-1000"), QStringLiteral("-1001"), QStringLiteral("-1002"),
                                      QStringLiteral("+1000 ShortcutToggleShowHideRead Ctrl+Shift+T"),
                                      QStringLiteral("+1001 ShortcutMarkStarred Alt+S"),
                                      QStringLiteral("+1002 ShortcutToggleMainWindow Meta+F9")}));
    EXPECT_FALSE(registrar.identifiers().contains(1003));
}

TEST_F(ShortcutsTest, RecordersStoreAndPressesRunTheActions)
{
    const ObjectID feed = addSource(QStringLiteral("http://example.org/rss"));
    const QList<ObjectID> items = storeItems(feed, {{QStringLiteral("one")}, {QStringLiteral("two")}});
    std::unique_ptr<desktop::MainWindowController> bar = makeBar();
    tickBar(*bar, 3);
    auto *keys = new RecordedHotKeys;
    desktop::ShortcutsController pane(settings(), keys, bar.get());

    pane.recorder(QStringLiteral("ShortcutMarkAllUnread"))->setKeySequence(QKeySequence(QStringLiteral("Ctrl+Alt+U")));
    pane.recorder(QStringLiteral("ShortcutMarkStarred"))->clear();
    keys->log.clear();
    pane.recordersChanged();
    EXPECT_EQ(settings().string(QStringLiteral("ShortcutMarkAllUnread")), QStringLiteral("Ctrl+Alt+U"));
    EXPECT_EQ(settings().value(QStringLiteral("ShortcutMarkStarred")).toInt(), 0);
    EXPECT_EQ(settings().value(QStringLiteral("ShortcutToggleMainWindow")).toInt(), 0);
    EXPECT_EQ(keys->log.size(), 3 + 3); // three let go, three held again

    const auto idOf = [&](const QString &key) { return pane.registrar()->identifiers().key(key, 0); };
    keys->press(idOf(QStringLiteral("ShortcutMarkAllRead")));
    settle();
    for (const ObjectID &id : items)
        EXPECT_TRUE(static_cast<DataItem *>(main()->existingObject(id))->isRead());
    keys->press(idOf(QStringLiteral("ShortcutMarkAllUnread")));
    settle();
    for (const ObjectID &id : items)
        EXPECT_FALSE(static_cast<DataItem *>(main()->existingObject(id))->isRead());
    const bool hidden = settings().boolean(QStringLiteral("autoHide"));
    keys->press(idOf(QStringLiteral("ShortcutToggleShowHideRead")));
    EXPECT_EQ(settings().boolean(QStringLiteral("autoHide")), !hidden);
}

TEST_F(ShortcutsTest, KeysAsTheXServerNamesThem)
{
    using Key = desktop::GlobalKeyGrab;
    struct Case
    {
        const char *sequence;
        uint32_t keysym; // 0: none
        uint16_t modifiers;
    };
    const Case cases[] = {
        {"Alt+R", 'r', Key::Alt},
        {"Ctrl+Shift+T", 't', Key::Control | Key::Shift},
        {"Meta+F9", 0xffc6, Key::Super},
        {"Alt+5", '5', Key::Alt},
        {"Ctrl+Down", 0xff54, Key::Control},
        {"Alt+Space", ' ', Key::Alt},
        {"Ctrl+Esc", 0xff1b, Key::Control},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.sequence);
        const auto key = desktop::X11HotKeys::x11Key(QKeySequence(QString::fromLatin1(c.sequence)));
        ASSERT_TRUE(key);
        EXPECT_EQ(key->keysym, c.keysym);
        EXPECT_EQ(key->modifiers, c.modifiers);
    }
    EXPECT_FALSE(desktop::X11HotKeys::x11Key(QKeySequence()));
    EXPECT_FALSE(desktop::X11HotKeys::x11Key(QKeySequence(Qt::Key_VolumeUp)));
}

} // namespace
