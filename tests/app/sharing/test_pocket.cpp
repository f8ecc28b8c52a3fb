#include "fakepocket.h"

#include "sharing/pocket.h"

#include "pocketclient.h"

#include "base/log.h"
#include "base/settings.h"

#include "spinuntil.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

using namespace corvane;
using namespace corvane::test;
using desktop::Pocket;

namespace {

QStringList g_log;
void captureLog(const QString &line)
{
    g_log.append(line);
}

const QUrl kA(QStringLiteral("http://example.org/a"));
const QUrl kB(QStringLiteral("http://example.org/b"));

class PocketTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        settings().setValue(QStringLiteral("PocketBaseURL"), m_pocket.baseUrl());
        settings().setValue(QStringLiteral("PocketConsumerKey"), FakePocket::kConsumerKey);
        g_log.clear();
        setLogSink(captureLog);
    }

    void TearDown() override
    {
        m_pocket.release(100);
        m_wrapper.reset();
        m_client.reset();
        setLogSink(nullptr);
        settings().removeValue(QStringLiteral("PocketBaseURL"));
        settings().removeValue(QStringLiteral("PocketConsumerKey"));
    }

    static Settings &settings() { return Settings::shared(); }
    QString accountFile() const { return m_dir.filePath(QStringLiteral("account.json")); }

    // A client and its wrapper; logged in when an account was kept before.
    void start(bool loggedIn)
    {
        if (loggedIn)
            PocketAccountStore(accountFile()).save({QStringLiteral("reader"), FakePocket::kAccessToken});
        m_client = std::make_unique<PocketClient>(
            settings(),
            [this](const QUrl &url) {
                m_opened.append(url);
                return true;
            },
            std::make_unique<PocketAccountStore>(accountFile()));
        m_wrapper = std::make_unique<Pocket>(*m_client);
        settle();
    }

    void settle()
    {
        m_client->waitForIdle();
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }

    FakePocket m_pocket;
    QTemporaryDir m_dir;
    QList<QUrl> m_opened;
    std::unique_ptr<PocketClient> m_client;
    std::unique_ptr<Pocket> m_wrapper;
};

TEST_F(PocketTest, LogsInThroughTheBrowserAndTheCallBackAddress)
{
    start(false);
    EXPECT_EQ(m_wrapper->loginState(), Pocket::LoggedOut);
    m_wrapper->logIn();
    EXPECT_EQ(m_wrapper->loginState(), Pocket::LoggingIn);
    settle();

    ASSERT_EQ(m_pocket.bodies(QStringLiteral("/v3/oauth/request")),
              (QList<QJsonObject>{{{QStringLiteral("consumer_key"), FakePocket::kConsumerKey},
                                   {QStringLiteral("redirect_uri"), QStringLiteral("corvane-pocket:authorizationFinished")}}}));
    ASSERT_EQ(m_opened.size(), 1);
    EXPECT_EQ(m_opened[0].toString(QUrl::FullyEncoded),
              m_pocket.baseUrl() + QStringLiteral("/auth/authorize?request_token=") + FakePocket::kRequestToken
                  + QStringLiteral("&redirect_uri=corvane-pocket%3AauthorizationFinished"));

    // Addresses that are not the awaited call-back change nothing.
    for (const char *foreign : {"corvane-pocket:somethingElse", "pocket:authorizationFinished",
                                "http://127.0.0.1/authorizationFinished", "feed://example.org/rss"}) {
        SCOPED_TRACE(foreign);
        g_log.clear();
        EXPECT_FALSE(m_client->handleUrl(QUrl(QString::fromLatin1(foreign))));
        settle();
        EXPECT_EQ(g_log.size(), 1);
    }
    EXPECT_EQ(m_pocket.count(QStringLiteral("/v3/oauth/authorize")), 0);
    EXPECT_EQ(m_wrapper->loginState(), Pocket::LoggingIn);

    m_wrapper->handleUrl(QUrl(QStringLiteral("corvane-pocket:authorizationFinished")));
    settle();
    ASSERT_EQ(m_pocket.bodies(QStringLiteral("/v3/oauth/authorize")),
              (QList<QJsonObject>{{{QStringLiteral("consumer_key"), FakePocket::kConsumerKey},
                                   {QStringLiteral("code"), FakePocket::kRequestToken}}}));
    EXPECT_EQ(m_wrapper->loginState(), Pocket::LoggedIn);
    EXPECT_EQ(m_wrapper->loginLabel(), QStringLiteral("Logged in as reader"));
    // The same call-back again is not awaited any more.
    EXPECT_FALSE(m_client->handleUrl(QUrl(QStringLiteral("corvane-pocket:authorizationFinished"))));

    // The account outlives the client, until the logout.
    m_wrapper.reset();
    m_client.reset();
    start(false);
    EXPECT_TRUE(m_wrapper->hasLoggedInUser());
    EXPECT_EQ(m_wrapper->loginState(), Pocket::LoggedIn);
    m_wrapper->logOut();
    settle();
    EXPECT_EQ(m_wrapper->loginState(), Pocket::LoggedOut);
    EXPECT_FALSE(PocketAccountStore(accountFile()).load().has_value());
}

TEST_F(PocketTest, LoginFailuresEndLoggedOutAndSaySo)
{
    struct Case
    {
        const char *name;
        bool withKey;
        const char *requestReply; // null: the usual one
        const char *authorizeReply;
        int requests;
    };
    const Case cases[] = {
        {"no consumer key", false, nullptr, nullptr, 0},
        {"request answered with no JSON", true, "<html>busy</html>", nullptr, 1},
        {"request answered without a token", true, "{\"state\":1}", nullptr, 1},
        {"authorize answered without a token", true, nullptr, "{\"username\":\"x\"}", 2},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        m_wrapper.reset();
        m_client.reset();
        m_pocket.server().resetCounters();
        m_pocket.setReply(QStringLiteral("/v3/oauth/request"), c.requestReply);
        m_pocket.setReply(QStringLiteral("/v3/oauth/authorize"), c.authorizeReply);
        settings().setValue(QStringLiteral("PocketConsumerKey"), c.withKey ? FakePocket::kConsumerKey : QString());
        start(false);
        QStringList errors;
        QObject::connect(m_wrapper.get(), &Pocket::loginFailed, m_wrapper.get(), [&errors](const QString &e) { errors.append(e); });
        g_log.clear();
        m_wrapper->logIn();
        settle();
        if (!m_opened.isEmpty() && c.authorizeReply) {
            m_wrapper->handleUrl(QUrl(QStringLiteral("corvane-pocket:authorizationFinished")));
            settle();
        }
        EXPECT_EQ(m_wrapper->loginState(), Pocket::LoggedOut);
        EXPECT_FALSE(m_wrapper->hasLoggedInUser());
        EXPECT_EQ(errors.size(), 1);
        EXPECT_EQ(g_log.size(), 1) << g_log.join(u'\n').toStdString();
        EXPECT_EQ(m_pocket.server().requestCount(), c.requests);
        m_opened.clear();
    }
}

TEST_F(PocketTest, StarringTwiceWhileTheAddIsInFlightSendsOneRequest)
{
    start(true);
    m_pocket.holdAdds();
    m_wrapper->saveUrl(kA);
    ASSERT_TRUE(spinUntil([this] { return m_pocket.count(QStringLiteral("/v3/add")) == 1; }));
    EXPECT_EQ(m_wrapper->idForUrl(kA), QStringLiteral("0"));
    m_wrapper->saveUrl(kA);
    m_pocket.release();
    settle();
    EXPECT_EQ(m_pocket.count(QStringLiteral("/v3/add")), 1);
    EXPECT_EQ(m_pocket.bodies(QStringLiteral("/v3/add")).value(0),
              (QJsonObject{{QStringLiteral("url"), kA.toString()},
                           {QStringLiteral("consumer_key"), FakePocket::kConsumerKey},
                           {QStringLiteral("access_token"), FakePocket::kAccessToken}}));
    EXPECT_EQ(m_wrapper->idForUrl(kA), QStringLiteral("1001"));

    // Saved already: starring again sends nothing.
    m_wrapper->saveUrl(kA);
    settle();
    EXPECT_EQ(m_pocket.count(QStringLiteral("/v3/add")), 1);
}

TEST_F(PocketTest, UnstarringAnUnknownAddressFetchesTheListOnceThenDeletes)
{
    start(true);
    m_pocket.setList(R"({"111":{"item_id":"111","given_url":"http://example.org/a"},
                         "222":{"item_id":"222","resolved_url":"http://example.org/c"}})");
    m_wrapper->removeUrl(kA);
    settle();
    ASSERT_EQ(m_pocket.bodies(QStringLiteral("/v3/get")).size(), 1);
    const QJsonObject get = m_pocket.bodies(QStringLiteral("/v3/get")).value(0);
    EXPECT_EQ(get.value(QStringLiteral("state")), QStringLiteral("all"));
    EXPECT_EQ(get.value(QStringLiteral("detailType")), QStringLiteral("simple"));
    EXPECT_TRUE(m_wrapper->everUpdated());
    ASSERT_EQ(m_pocket.bodies(QStringLiteral("/v3/send")).size(), 1);
    EXPECT_EQ(m_pocket.bodies(QStringLiteral("/v3/send")).value(0).value(QStringLiteral("actions")),
              (QJsonArray{QJsonObject{{QStringLiteral("action"), QStringLiteral("delete")},
                                      {QStringLiteral("item_id"), QStringLiteral("111")}}}));
    EXPECT_TRUE(m_wrapper->idForUrl(kA).isEmpty());

    // Not in the list: nothing is sent, and the list is not asked again.
    m_wrapper->removeUrl(kB);
    settle();
    EXPECT_EQ(m_pocket.count(QStringLiteral("/v3/get")), 1);
    EXPECT_EQ(m_pocket.count(QStringLiteral("/v3/send")), 1);

    // A logout forgets every identifier: the next removal asks for the list again.
    m_pocket.setList(R"({"333":{"given_url":"http://example.org/b"}})");
    m_wrapper->logOut();
    EXPECT_FALSE(m_wrapper->everUpdated());
    m_wrapper->removeUrl(kB); // logged out: nothing
    settle();
    EXPECT_EQ(m_pocket.count(QStringLiteral("/v3/get")), 1);
    m_wrapper.reset();
    m_client.reset();
    start(true);
    m_wrapper->removeUrl(kB);
    settle();
    EXPECT_EQ(m_pocket.count(QStringLiteral("/v3/get")), 2);
    EXPECT_EQ(m_pocket.bodies(QStringLiteral("/v3/send")).value(1).value(QStringLiteral("actions")),
              (QJsonArray{QJsonObject{{QStringLiteral("action"), QStringLiteral("delete")},
                                      {QStringLiteral("item_id"), QStringLiteral("333")}}}));
}

TEST_F(PocketTest, UnstarringWhileTheAddIsInFlightDeletesWhatItSaved)
{
    start(true);
    m_pocket.setList("[]");
    m_pocket.holdAdds();
    m_wrapper->saveUrl(kA);
    ASSERT_TRUE(spinUntil([this] { return m_pocket.count(QStringLiteral("/v3/add")) == 1; }));
    m_wrapper->removeUrl(kA);
    m_pocket.release();
    settle();
    EXPECT_EQ(m_pocket.bodies(QStringLiteral("/v3/send")).value(0).value(QStringLiteral("actions")),
              (QJsonArray{QJsonObject{{QStringLiteral("action"), QStringLiteral("delete")},
                                      {QStringLiteral("item_id"), QStringLiteral("1001")}}}));
    EXPECT_TRUE(m_wrapper->idForUrl(kA).isEmpty());
}

TEST_F(PocketTest, RepliesThatAreNotTheExpectedJsonChangeNothing)
{
    struct Case
    {
        const char *name;
        const char *path;
        QByteArray body;
    };
    const Case cases[] = {
        {"get: no JSON", "/v3/get", "<html>maintenance</html>"},
        {"get: no list", "/v3/get", "{\"status\":1,\"complete\":1}"},
        {"get: a list of the wrong kind", "/v3/get", "{\"status\":1,\"list\":\"111\"}"},
        {"add: no JSON", "/v3/add", "Bad Gateway"},
        {"add: no item_id", "/v3/add", "{\"item\":{},\"status\":1}"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        m_wrapper.reset();
        m_client.reset();
        m_pocket.server().resetCounters();
        m_pocket.setReply(QString::fromLatin1(c.path), c.body);
        start(true);
        g_log.clear();
        if (QByteArray(c.path) == "/v3/get")
            m_wrapper->removeUrl(kA);
        else
            m_wrapper->saveUrl(kA);
        settle();
        EXPECT_EQ(g_log.size(), 1) << g_log.join(u'\n').toStdString();
        EXPECT_FALSE(m_wrapper->everUpdated());
        EXPECT_TRUE(m_wrapper->idForUrl(kA).isEmpty());
        EXPECT_EQ(m_pocket.count(QStringLiteral("/v3/send")), 0);
        m_pocket.setReply(QString::fromLatin1(c.path), QByteArray());
    }
}

} // namespace
