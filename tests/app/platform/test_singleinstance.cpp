// The single instance over real local sockets in a private runtime folder.
// A hand-off blocks its thread, so it runs on a second thread while the
// listening instance answers from the main event loop (or from a child
// process: the probe helper).
#include "platform/singleinstance.h"
#include "xserver.h"

#include "spinuntil.h"

#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <future>

using corvane::desktop::SingleInstance;
using corvane::test::Probe;
using corvane::test::spinUntil;

namespace {

const QString kIdentifier = QStringLiteral("org.corvane.test");

class SingleInstanceTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_runtime.isValid());
        m_previousRuntime = qgetenv("XDG_RUNTIME_DIR");
        qputenv("XDG_RUNTIME_DIR", m_runtime.path().toLocal8Bit());
        m_scope = m_runtime.filePath(QStringLiteral("home"));
    }
    void TearDown() override { qputenv("XDG_RUNTIME_DIR", m_previousRuntime); }

    // Runs `work` on another thread while the main event loop turns.
    template<typename Work>
    static auto elsewhere(Work work)
    {
        auto result = std::async(std::launch::async, work);
        spinUntil([&] { return result.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, 60000);
        return result.get();
    }

    bool handOff(const QStringList &urls, const QStringList &identifiers = {kIdentifier})
    {
        const QString scope = m_scope;
        return elsewhere([=] { return SingleInstance(identifiers, scope).handOffToRunningInstance(urls); });
    }

    // What the instance receives from one hand-off, checked to be acknowledged.
    QStringList received(SingleInstance &instance, const QStringList &urls)
    {
        QList<QStringList> arrived;
        const auto connection = QObject::connect(&instance, &SingleInstance::urlsReceived,
                                                 [&](const QStringList &got) { arrived.append(got); });
        EXPECT_TRUE(handOff(urls));
        spinUntil([&] { return !arrived.isEmpty(); });
        QObject::disconnect(connection);
        return arrived.isEmpty() ? QStringList{QStringLiteral("<nothing>")} : arrived.first();
    }

    QTemporaryDir m_runtime;
    QByteArray m_previousRuntime;
    QString m_scope;
};

TEST_F(SingleInstanceTest, HandsUrlsToTheListeningInstance)
{
    SingleInstance running({kIdentifier}, m_scope);
    QString error;
    ASSERT_TRUE(running.listen(&error)) << error.toStdString();
    const QString socket = running.socketName(kIdentifier);
    EXPECT_TRUE(socket.startsWith(m_runtime.path()));
    const QFile::Permissions others = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup
        | QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;
    EXPECT_EQ(QFile::permissions(socket) & others, QFile::Permissions()) << "only the user may connect";

    QStringList many;
    for (int i = 0; i < 500; ++i)
        many.append(QStringLiteral("https://example.org/feed/%1.xml").arg(i));
    const struct
    {
        const char *name;
        QStringList urls;
    } cases[] = {
        {"none", {}},
        {"one", {QStringLiteral("feed://example.org/rss")}},
        {"unicode", {QStringLiteral("https://例え.jp/フィード?q=ü"), QStringLiteral("feed:https://x.org/😀")}},
        {"many", many},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(received(running, c.urls), c.urls);
    }

    // More than the message holds: the first ones arrive, in order.
    const QStringList tooMany(2000, QString(100, u'u'));
    const QStringList bounded = received(running, tooMany);
    EXPECT_GT(bounded.size(), 100);
    EXPECT_LT(bounded.size(), tooMany.size());
    EXPECT_EQ(bounded, tooMany.mid(0, bounded.size()));
}

TEST_F(SingleInstanceTest, OnlyOneInstanceListens)
{
    EXPECT_FALSE(handOff({QStringLiteral("feed://a")})) << "nobody runs yet";
    {
        SingleInstance first({kIdentifier}, m_scope);
        SingleInstance second({kIdentifier}, m_scope);
        ASSERT_TRUE(first.listen());
        QString error;
        EXPECT_FALSE(second.listen(&error));
        EXPECT_FALSE(error.isEmpty());

        SingleInstance otherHome({kIdentifier}, m_scope + QStringLiteral("-other"));
        EXPECT_TRUE(otherHome.listen()) << "another home is another instance";
    }
    SingleInstance afterwards({kIdentifier}, m_scope);
    EXPECT_TRUE(afterwards.listen()) << "the first one's lock went with it";

    // The other edition answering on its own identifier counts as running.
    const QString edition = QStringLiteral("org.corvane.test.edition");
    SingleInstance editionInstance({edition}, m_scope + QStringLiteral("-e"));
    ASSERT_TRUE(editionInstance.listen());
    SingleInstance starting({kIdentifier + QStringLiteral(".x"), edition}, m_scope + QStringLiteral("-e"));
    EXPECT_FALSE(starting.listen());
}

TEST_F(SingleInstanceTest, HandsOffToAnotherProcessAndOutlivesItsCrash)
{
    Probe other({QStringLiteral("listen"), kIdentifier, m_scope}, {});
    ASSERT_EQ(other.greeting(), QStringLiteral("listening"));

    SingleInstance starting({kIdentifier}, m_scope);
    EXPECT_FALSE(starting.listen());
    const QStringList urls{QStringLiteral("feed://example.org/ü"), QStringLiteral("https://例え.jp/")};
    EXPECT_TRUE(starting.handOffToRunningInstance(urls));
    EXPECT_EQ(other.readLine(), QStringLiteral("urls 2"));
    EXPECT_EQ(other.readLine(), urls[0]);
    EXPECT_EQ(other.readLine(), urls[1]);

    other.kill(); // SIGKILL: the socket file and the lock file stay behind
    ASSERT_TRUE(QFile::exists(starting.socketName(kIdentifier)));
    ASSERT_TRUE(QFile::exists(starting.socketName(kIdentifier) + QStringLiteral(".lock")));
    QString error;
    ASSERT_TRUE(starting.listen(&error)) << error.toStdString();
    EXPECT_EQ(received(starting, urls), urls);
}

TEST_F(SingleInstanceTest, HostileClientsDoNotStopTheServer)
{
    SingleInstance running({kIdentifier}, m_scope);
    ASSERT_TRUE(running.listen());
    const QString name = running.socketName(kIdentifier);

    // Each sends its bytes and reports whether the server closed the
    // connection without answering.
    auto droppedAfter = [&](const QByteArray &bytes) {
        return elsewhere([=] {
            QLocalSocket socket;
            socket.connectToServer(name);
            if (!socket.waitForConnected(5000))
                return false;
            socket.write(bytes);
            socket.waitForBytesWritten(5000);
            while (socket.state() == QLocalSocket::ConnectedState && socket.waitForReadyRead(10000)) {
                if (socket.bytesAvailable() > 0)
                    return false; // an answer to garbage
            }
            return socket.state() != QLocalSocket::ConnectedState;
        });
    };
    QByteArray oversized("CVN1\x00\x10\x00\x01", 8); // a payload of 1 MiB + 1
    const struct
    {
        const char *name;
        QByteArray bytes;
    } cases[] = {
        {"garbage", QByteArray("GET / HTTP/1.0\r\n\r\n")},
        {"oversized", oversized},
        {"oversized with data", oversized + QByteArray(200000, 'x')},
        {"endless", QByteArray(300000, '\0')},
        {"silent", QByteArray()}, // dropped when its time is up
        {"half a message", QByteArray("CVN1\x00\x00\x00\x10", 8)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(droppedAfter(c.bytes));
        EXPECT_EQ(received(running, {QStringLiteral("feed://still")}), QStringList{QStringLiteral("feed://still")});
    }

    // A client that holds its connection does not delay the next one.
    QLocalSocket idle;
    idle.connectToServer(name);
    ASSERT_TRUE(idle.waitForConnected(5000));
    EXPECT_EQ(received(running, {QStringLiteral("feed://beside")}), QStringList{QStringLiteral("feed://beside")});
}

TEST_F(SingleInstanceTest, HandOffToAStuckInstanceGivesUp)
{
    // Accepts connections (the kernel does) but never reads or answers.
    SingleInstance starting({kIdentifier}, m_scope);
    QLocalServer stuck;
    ASSERT_TRUE(stuck.listen(starting.socketName(kIdentifier)));
    EXPECT_FALSE(handOff({QStringLiteral("feed://x")}));
    EXPECT_FALSE(starting.listen()) << "it still answers";
}

} // namespace

TEST_F(SingleInstanceTest, LongRuntimeFolderStillGetsASocket)
{
    // Room for a short socket name, not for the readable one.
    const QString deep = m_runtime.filePath(QString(20, u'r') + u'/' + QString(20, u'u'));
    ASSERT_TRUE(QDir().mkpath(deep));
    ASSERT_TRUE(QFile::setPermissions(deep, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    qputenv("XDG_RUNTIME_DIR", deep.toLocal8Bit());
    SingleInstance running({kIdentifier}, m_scope);
    EXPECT_LE(running.socketName(kIdentifier).toLocal8Bit().size(), 107);
    QString error;
    ASSERT_TRUE(running.listen(&error)) << error.toStdString();
    EXPECT_EQ(received(running, {QStringLiteral("feed://deep")}), QStringList{QStringLiteral("feed://deep")});
}
