// corvanectl killed with SIGKILL in the middle of refreshes leaves a store
// that opens, passes the integrity check and keeps every subscription and star.
#include "httptestserver.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <sqlite3.h>

#include <csignal>

using corvane::test::HttpTestServer;

namespace {

constexpr int kFeeds = 100;
constexpr int kKills = 20;

QByteArray runCtl(const QString &home, const QStringList &args, int *status = nullptr)
{
    QProcess process;
    process.start(QStringLiteral(CORVANECTL_PATH), QStringList{QStringLiteral("--home"), home} + args);
    process.waitForFinished(120000);
    if (status)
        *status = process.exitCode();
    return process.readAllStandardOutput();
}

struct StoreState
{
    QString integrity;
    int datasources = -1;
    int starred = -1;
};

StoreState inspect(const QString &home)
{
    StoreState state;
    sqlite3 *db = nullptr;
    const QByteArray path = (home + QStringLiteral("/data/Corvane-v3.db")).toUtf8();
    if (sqlite3_open_v2(path.constData(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return state;
    }
    auto text = [&](const char *sql) {
        sqlite3_stmt *statement = nullptr;
        QString result;
        if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) == SQLITE_OK && sqlite3_step(statement) == SQLITE_ROW)
            result = QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(statement, 0)));
        sqlite3_finalize(statement);
        return result;
    };
    state.integrity = text("PRAGMA integrity_check");
    state.datasources = text("SELECT count(*) FROM datasource").toInt();
    state.starred = text("SELECT count(*) FROM item WHERE starred = 1").toInt();
    sqlite3_close(db);
    return state;
}

} // namespace

TEST(CrashSafety, KilledRefreshesLoseNoSubscriptionOrStar)
{
    HttpTestServer server;
    server.setHandler([](const HttpTestServer::Request &request) -> std::optional<HttpTestServer::Response> {
        if (!request.path.startsWith(u"/feed"))
            return std::nullopt;
        // Every fetch brings changed descriptions, so each refresh writes.
        static std::atomic<int> serial{0};
        const QByteArray n = request.path.toUtf8();
        QByteArray body = "<rss version=\"2.0\"><channel><title>Feed " + n + "</title>";
        for (int i = 0; i < 10; ++i)
            body += "<item><title>" + n + " story " + QByteArray::number(i) + "</title><link>http://example.org" + n + "/"
                + QByteArray::number(i) + "</link><guid>" + n + QByteArray::number(i) + "</guid><description>"
                + QByteArray::number(serial++) + "</description></item>";
        HttpTestServer::Response response;
        response.body = body + "</channel></rss>";
        response.delayMs = int(request.path.size() % 7) * 10;
        return response;
    });
    QTemporaryDir home;
    QStringList add{QStringLiteral("--no-default-feeds"), QStringLiteral("add")};
    for (int i = 0; i < kFeeds; ++i)
        add.append(server.url(QStringLiteral("/feed%1.xml").arg(i)).toString());
    int status = -1;
    runCtl(home.path(), add, &status);
    ASSERT_EQ(status, 0);
    runCtl(home.path(), {QStringLiteral("--assume-online"), QStringLiteral("refresh"), QStringLiteral("--timeout"), QStringLiteral("120")}, &status);
    ASSERT_EQ(status, 0);
    const QJsonArray items =
        QJsonDocument::fromJson(runCtl(home.path(), {QStringLiteral("list-items"), QStringLiteral("--json")})).array();
    ASSERT_GE(items.size(), 100);
    int starred = 0;
    for (int i = 0; i < items.size(); i += 10) {
        const QString hash = QString::number(items[i].toObject().value(QStringLiteral("itemHash")).toInteger());
        runCtl(home.path(), {QStringLiteral("star"), hash}, &status);
        starred += status == 0;
    }
    ASSERT_GE(starred, 5);
    ASSERT_EQ(inspect(home.path()).starred, starred);

    QRandomGenerator random(20261207);
    for (int kill = 0; kill < kKills; ++kill) {
        QProcess process;
        process.start(QStringLiteral(CORVANECTL_PATH),
                      {QStringLiteral("--home"), home.path(), QStringLiteral("--assume-online"), QStringLiteral("refresh")});
        ASSERT_TRUE(process.waitForStarted());
        QThread::msleep(random.bounded(100, 2500));
        ::kill(pid_t(process.processId()), SIGKILL);
        process.waitForFinished();

        const StoreState state = inspect(home.path());
        EXPECT_EQ(state.integrity, QStringLiteral("ok")) << "after kill " << kill;
        EXPECT_EQ(state.datasources, kFeeds) << "after kill " << kill;
        EXPECT_EQ(state.starred, starred) << "after kill " << kill;
        if (HasFailure())
            break;
    }
    // And the engine still opens that store and sees everything.
    const QJsonArray feeds =
        QJsonDocument::fromJson(runCtl(home.path(), {QStringLiteral("list-feeds"), QStringLiteral("--json")}, &status)).array();
    EXPECT_EQ(status, 0);
    EXPECT_EQ(feeds.size(), kFeeds);
}
