#include "notificationserver.h"
#include "tickerfixture.h"

#include "sharing/notificationmanager.h"
#include "ticker/browser.h"

#include "logcapture.h"

#include <QDBusArgument>
#include <QTimer>

using namespace corvane;
using namespace corvane::test;
using desktop::NotificationManager;

namespace {

class NotificationTest : public TickerFixture
{
protected:
    void SetUp() override
    {
        TickerFixture::SetUp();
        m_server = std::make_unique<NotificationServer>();
        if (!m_server->skipReason().isEmpty())
            GTEST_SKIP() << m_server->skipReason().toStdString();
        m_source = addSource(QStringLiteral("http://a.org/rss"), QStringLiteral("Alpha & Co"));
        m_bar = makeBar();
        m_manager = std::make_unique<NotificationManager>(m_bar->adapter(), settings(), m_server->connection());
        desktop::browser::setOpener([this](const QUrl &url) {
            m_opened.append(url);
            return true;
        });
        m_log.clear();
    }

    void TearDown() override
    {
        desktop::browser::setOpener({});
        settings().removeValue(QStringLiteral("NotificationCenterLevel"));
        m_manager.reset();
        m_bar.reset();
        m_server.reset();
        TickerFixture::TearDown();
    }

    // Shows the item and waits for the server's answer.
    bool deliver(ObjectID id)
    {
        const int before = m_delivered + m_failed;
        m_manager->displayItem(id);
        return spinUntil([&] { return m_delivered + m_failed > before; }) && m_failed == 0;
    }

    void countAnswers()
    {
        QObject::connect(m_manager.get(), &NotificationManager::delivered, m_manager.get(), [this](uint id) {
            ++m_delivered;
            m_lastId = id;
        });
        QObject::connect(m_manager.get(), &NotificationManager::deliveryFailed, m_manager.get(),
                         [this] { ++m_failed; });
    }

    LogCapture m_log;
    std::unique_ptr<NotificationServer> m_server;
    ObjectID m_source;
    std::unique_ptr<desktop::MainWindowController> m_bar;
    std::unique_ptr<NotificationManager> m_manager;
    QList<QUrl> m_opened;
    int m_delivered = 0;
    int m_failed = 0;
    uint m_lastId = 0;
};

TEST_F(NotificationTest, AnnouncesItemsAsTheLevelSays)
{
    countAnswers();
    const QList<ObjectID> ids =
        storeItems(m_source, {{QStringLiteral("plain")}, {QStringLiteral("&lt;i&gt;A&lt;/i&gt; & B")}});
    m_bar->adapter().item(ids[1])->setMark(true);
    const std::pair<int, QStringList> cases[] = {
        {0, {}},
        {5, {QStringLiteral("&lt;i&gt;A&lt;/i&gt; &amp; B")}}, // decoded markup is escaped again
        {1, {QStringLiteral("plain"), QStringLiteral("&lt;i&gt;A&lt;/i&gt; &amp; B")}},
    };
    qsizetype seen = 0;
    for (const auto &[level, announced] : cases) {
        SCOPED_TRACE(level);
        settings().setValue(QStringLiteral("NotificationCenterLevel"), level);
        for (const ObjectID &id : ids)
            m_manager->displayItem(id);
        ASSERT_TRUE(spinUntil([&] { return m_manager->pendingCalls() == 0; }));
        const QList<QVariantList> calls = m_server->notifyCalls();
        QStringList bodies;
        for (const QVariantList &args : calls.mid(seen)) {
            bodies.append(args.value(4).toString());
            EXPECT_EQ(args.value(0).toString(), QStringLiteral("Corvane"));
            EXPECT_EQ(args.value(3).toString(), QStringLiteral("Alpha & Co")) << "the summary is plain text";
            EXPECT_EQ(args.value(5).toStringList(), (QStringList{QStringLiteral("default"), QStringLiteral("Open")}));
            QVariantMap hints;
            args.value(6).value<QDBusArgument>() >> hints;
            EXPECT_EQ(hints.value(QStringLiteral("desktop-entry")).toString(), QStringLiteral("org.corvane.Corvane"));
        }
        seen = calls.size();
        EXPECT_EQ(bodies, announced);
    }
    EXPECT_EQ(m_failed, 0);
}

TEST_F(NotificationTest, ClickingANoticeOpensItsLink)
{
    settings().setValue(QStringLiteral("NotificationCenterLevel"), 1);
    countAnswers();
    const QList<ObjectID> ids = storeItems(m_source, {{QStringLiteral("one")}, {QStringLiteral("two")}});
    ASSERT_TRUE(deliver(ids[0]));
    const uint first = m_lastId;
    ASSERT_TRUE(deliver(ids[1]));
    const uint second = m_lastId;
    const QString link = m_bar->adapter().item(ids[1])->link();

    // Other actions, ids that are not ours, and a notice closed before its click open nothing.
    m_server->emitSignal(QStringLiteral("ActionInvoked"), QStringLiteral("us"), {second, QStringLiteral("other")});
    m_server->emitSignal(QStringLiteral("ActionInvoked"), QStringLiteral("us"), {second + 100, QStringLiteral("default")});
    m_server->emitSignal(QStringLiteral("NotificationClosed"), QStringLiteral("uu"), {first, 2u});
    m_server->emitSignal(QStringLiteral("ActionInvoked"), QStringLiteral("us"), {first, QStringLiteral("default")});
    m_server->emitSignal(QStringLiteral("ActionInvoked"), QStringLiteral("us"), {second, QStringLiteral("default")});
    ASSERT_TRUE(spinUntil([this] { return !m_opened.isEmpty(); }));
    // Signals arrive in order: the last one opened, the others did not.
    EXPECT_EQ(m_opened, (QList<QUrl>{QUrl(link)}));
}

TEST_F(NotificationTest, AServerThatFailsOrNeverAnswersDoesNotHoldUpTheBar)
{
    settings().setValue(QStringLiteral("NotificationCenterLevel"), 1);
    countAnswers();
    const QList<ObjectID> ids = storeItems(m_source, {{QStringLiteral("one")}, {QStringLiteral("two")}});

    m_server->replaceMethod(QStringLiteral("Notify"), QStringLiteral("susssasa{sv}i"), QStringLiteral("u"),
                            QStringLiteral("raise dbus.exceptions.DBusException('full', "
                                           "name='org.freedesktop.DBus.Error.Failed')"));
    m_manager->displayItem(ids[0]);
    m_manager->displayItem(ids[1]);
    ASSERT_TRUE(spinUntil([this] { return m_failed == 2; }));
    EXPECT_EQ(m_log.size(), 1) << "one line for a failing server, not one per item";

    // A server that never answers: displayItem returns with the call still out,
    // and the event loop goes on meanwhile.
    m_server->replaceMethod(QStringLiteral("Notify"), QStringLiteral("susssasa{sv}i"), QStringLiteral("u"),
                            QStringLiteral("import time; time.sleep(600)"));
    m_manager->displayItem(ids[0]);
    EXPECT_EQ(m_manager->pendingCalls(), 1);
    bool loopRan = false;
    QTimer::singleShot(0, [&loopRan] { loopRan = true; });
    EXPECT_TRUE(spinUntil([&loopRan] { return loopRan; }));
    EXPECT_EQ(m_manager->pendingCalls(), 1);
    // When the server goes, the call ends as a failure.
    m_server->stopServer();
    EXPECT_TRUE(spinUntil([this] { return m_manager->pendingCalls() == 0; }));
    EXPECT_EQ(m_delivered, 0);

    // No server on the bus at all: nothing shown, nothing fails loudly.
    m_manager->displayItem(ids[1]);
    EXPECT_TRUE(spinUntil([this] { return m_manager->pendingCalls() == 0; }));
    EXPECT_EQ(m_delivered, 0);
    EXPECT_EQ(m_log.size(), 1);
}

} // namespace
