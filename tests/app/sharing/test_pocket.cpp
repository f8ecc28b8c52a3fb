#include "preferences/pocketaccountrow.h"

#include <QPushButton>

#include "fakepocket.h"

#include "sharing/pocket.h"

#include "pocketclient.h"

#include "base/settings.h"

#include "logcapture.h"
#include "spinuntil.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace corvane;
using namespace corvane::test;
using desktop::Pocket;
using desktop::PocketAccountRow;

namespace {

const QUrl kA(QStringLiteral("http://example.org/a"));
const QUrl kB(QStringLiteral("http://example.org/b"));
const QUrl kCallBack(QStringLiteral("corvane-pocket:authorizationFinished"));

QJsonValue deleteAction(const char *id)
{
    return QJsonArray{QJsonObject{{QStringLiteral("action"), QStringLiteral("delete")},
                                  {QStringLiteral("item_id"), QString::fromLatin1(id)}}};
}

class PocketTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        Settings::shared().setValue(QStringLiteral("PocketBaseURL"), m_pocket.baseUrl());
        Settings::shared().setValue(QStringLiteral("PocketConsumerKey"), FakePocket::kConsumerKey);
    }

    void TearDown() override
    {
        m_pocket.release(100);
        m_wrapper.reset();
        m_client.reset();
        Settings::shared().removeValue(QStringLiteral("PocketBaseURL"));
        Settings::shared().removeValue(QStringLiteral("PocketConsumerKey"));
    }

    // A fresh client and wrapper on the account file; logged in when asked.
    void start(bool loggedIn)
    {
        m_wrapper.reset();
        m_client.reset();
        const QString file = m_dir.filePath(QStringLiteral("account.json"));
        if (loggedIn)
            PocketAccountStore(file).save({QStringLiteral("reader"), FakePocket::kAccessToken});
        const auto open = [this](const QUrl &url) {
            m_opened.append(url.toString(QUrl::FullyEncoded));
            return true;
        };
        m_client = std::make_unique<PocketClient>(Settings::shared(), open, std::make_unique<PocketAccountStore>(file));
        m_wrapper = std::make_unique<Pocket>(*m_client);
        settle();
        m_log.clear();
    }

    void settle()
    {
        m_client->waitForIdle();
        QCoreApplication::sendPostedEvents();
        m_client->waitForIdle();
    }

    LogCapture m_log;
    FakePocket m_pocket;
    QTemporaryDir m_dir;
    QStringList m_opened;
    std::unique_ptr<PocketClient> m_client;
    std::unique_ptr<Pocket> m_wrapper;
};

TEST_F(PocketTest, LogsInThroughTheBrowserAndOnlyTheAwaitedCallBack)
{
    start(false);
    // The preferences' account row follows the login.
    PocketAccountRow row(m_wrapper.get());
    EXPECT_EQ(row.button()->text(), QStringLiteral("Log In"));
    m_wrapper->logIn();
    EXPECT_EQ(m_wrapper->loginState(), Pocket::LoggingIn);
    EXPECT_FALSE(row.button()->isEnabled());
    settle();
    EXPECT_EQ(m_pocket.bodies(QStringLiteral("/v3/oauth/request")),
              (QList<QJsonObject>{{{QStringLiteral("consumer_key"), FakePocket::kConsumerKey},
                                   {QStringLiteral("redirect_uri"), kCallBack.toString()}}}));
    EXPECT_EQ(m_opened, QStringList(m_pocket.baseUrl() + QStringLiteral("/auth/authorize?request_token=")
                                    + FakePocket::kRequestToken
                                    + QStringLiteral("&redirect_uri=corvane-pocket%3AauthorizationFinished")));

    for (const char *foreign : {"corvane-pocket:other", "pocket:authorizationFinished", "http://x/authorizationFinished"}) {
        SCOPED_TRACE(foreign);
        m_log.clear();
        EXPECT_FALSE(m_client->handleUrl(QUrl(QString::fromLatin1(foreign))));
        EXPECT_EQ(m_log.size(), 1);
    }
    m_wrapper->handleUrl(kCallBack);
    settle();
    EXPECT_EQ(m_pocket.count(QStringLiteral("/v3/oauth/authorize")), 1);
    EXPECT_EQ(m_pocket.bodies(QStringLiteral("/v3/oauth/authorize")).value(0).value(QStringLiteral("code")),
              FakePocket::kRequestToken);
    EXPECT_EQ(m_wrapper->loginLabel(), QStringLiteral("Logged in as reader"));
    EXPECT_EQ(row.statusText(), QStringLiteral("Logged in as reader"));
    EXPECT_EQ(row.button()->text(), QStringLiteral("Log Out"));
    EXPECT_FALSE(m_client->handleUrl(kCallBack)) << "no login is waiting any more";

    // The account was kept, for the user's eyes only.
    const QFileDevice::Permissions others = QFileDevice::ReadGroup | QFileDevice::ReadOther;
    EXPECT_FALSE(QFile::permissions(m_dir.filePath(QStringLiteral("account.json"))) & others);
    start(false);
    EXPECT_EQ(m_wrapper->loginState(), Pocket::LoggedIn);
    m_wrapper->logOut();
    start(false);
    EXPECT_EQ(m_wrapper->loginState(), Pocket::LoggedOut);
}

TEST_F(PocketTest, LoginFailuresEndLoggedOutWithOneLine)
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
        m_pocket.server().resetCounters();
        m_pocket.setReply(QStringLiteral("/v3/oauth/request"), c.requestReply);
        m_pocket.setReply(QStringLiteral("/v3/oauth/authorize"), c.authorizeReply);
        Settings::shared().setValue(QStringLiteral("PocketConsumerKey"), c.withKey ? FakePocket::kConsumerKey : QString());
        start(false);
        int failures = 0;
        QObject::connect(m_wrapper.get(), &Pocket::loginFailed, m_wrapper.get(), [&failures] { ++failures; });
        m_wrapper->logIn();
        settle();
        if (c.authorizeReply) {
            m_wrapper->handleUrl(kCallBack);
            settle();
        }
        EXPECT_EQ(m_wrapper->loginState(), Pocket::LoggedOut);
        EXPECT_EQ(failures, 1);
        EXPECT_EQ(m_log.size(), 1) << m_log.lines().join(u'\n').toStdString();
        EXPECT_EQ(m_pocket.server().requestCount(), c.requests);
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
    m_wrapper->saveUrl(kA);
    settle();
    EXPECT_EQ(m_pocket.bodies(QStringLiteral("/v3/add")),
              (QList<QJsonObject>{{{QStringLiteral("url"), kA.toString()},
                                   {QStringLiteral("consumer_key"), FakePocket::kConsumerKey},
                                   {QStringLiteral("access_token"), FakePocket::kAccessToken}}}));
    EXPECT_EQ(m_wrapper->idForUrl(kA), QStringLiteral("1001"));

    // Unstarred while its add is in flight: deleted once Pocket names it.
    m_pocket.setList("[]");
    m_pocket.holdAdds();
    m_wrapper->saveUrl(kB);
    ASSERT_TRUE(spinUntil([this] { return m_pocket.count(QStringLiteral("/v3/add")) == 2; }));
    m_wrapper->removeUrl(kB);
    m_pocket.release();
    settle();
    EXPECT_EQ(m_pocket.bodies(QStringLiteral("/v3/send")).value(0).value(QStringLiteral("actions")), deleteAction("1002"));
    EXPECT_TRUE(m_wrapper->idForUrl(kB).isEmpty());
}

TEST_F(PocketTest, UnstarringAnUnknownAddressFetchesTheListOnceThenDeletes)
{
    start(true);
    m_pocket.setList(R"({"111":{"given_url":"http://example.org/a"},"222":{"resolved_url":"http://example.org/b"}})");
    m_wrapper->removeUrl(kA);
    settle();
    const QJsonObject get = m_pocket.bodies(QStringLiteral("/v3/get")).value(0);
    EXPECT_EQ(get.value(QStringLiteral("state")), QStringLiteral("all"));
    EXPECT_EQ(get.value(QStringLiteral("detailType")), QStringLiteral("simple"));
    EXPECT_EQ(m_pocket.bodies(QStringLiteral("/v3/send")).value(0).value(QStringLiteral("actions")), deleteAction("111"));

    m_wrapper->removeUrl(kB); // not in the list: nothing sent, the list not asked again
    settle();
    EXPECT_EQ(m_pocket.count(QStringLiteral("/v3/get")), 1);
    EXPECT_EQ(m_pocket.count(QStringLiteral("/v3/send")), 1);

    // A logout forgets every identifier: the next removal asks again.
    m_wrapper->logOut();
    EXPECT_FALSE(m_wrapper->everUpdated());
    m_pocket.setList(R"({"333":{"given_url":"http://example.org/b"}})");
    start(true);
    m_wrapper->removeUrl(kB);
    settle();
    EXPECT_EQ(m_pocket.count(QStringLiteral("/v3/get")), 2);
    EXPECT_EQ(m_pocket.bodies(QStringLiteral("/v3/send")).value(1).value(QStringLiteral("actions")), deleteAction("333"));
}

TEST_F(PocketTest, RepliesThatAreNotTheExpectedJsonChangeNothing)
{
    const std::pair<const char *, QByteArray> cases[] = {
        {"/v3/get", "<html>maintenance</html>"},
        {"/v3/get", "{\"status\":1,\"complete\":1}"},
        {"/v3/get", "{\"status\":1,\"list\":\"111\"}"},
        {"/v3/add", "Bad Gateway"},
        {"/v3/add", "{\"item\":{},\"status\":1}"},
    };
    for (const auto &[path, body] : cases) {
        SCOPED_TRACE(body.toStdString());
        m_pocket.server().resetCounters();
        m_pocket.setReply(QString::fromLatin1(path), body);
        start(true);
        if (QByteArray(path) == "/v3/get")
            m_wrapper->removeUrl(kA);
        else
            m_wrapper->saveUrl(kA);
        settle();
        EXPECT_EQ(m_log.size(), 1) << m_log.lines().join(u'\n').toStdString();
        EXPECT_FALSE(m_wrapper->everUpdated());
        EXPECT_TRUE(m_wrapper->idForUrl(kA).isEmpty());
        EXPECT_EQ(m_pocket.count(QStringLiteral("/v3/send")), 0);
        m_pocket.setReply(QString::fromLatin1(path), {});
    }
}

} // namespace
