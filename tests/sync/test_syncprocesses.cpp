// Two machines as two corvanectl homes sharing one cloud folder, the feed
// served from 127.0.0.1: read states travel both ways, and the later change
// wins even when one machine's clock ran far ahead of the other's.
#include "httptestserver.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using corvane::test::HttpTestServer;

namespace {

class TwoMachines : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(a.isValid() && b.isValid() && cloud.isValid());
        QByteArray body = "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>Shared</title>";
        for (int i = 0; i < 3; ++i)
            body += "<item><title>Story " + QByteArray::number(i) + "</title><link>http://example.org/" + QByteArray::number(i)
                  + "</link></item>";
        body += "</channel></rss>";
        HttpTestServer::Response response;
        response.body = body;
        server.setResponse(QStringLiteral("/shared.xml"), response);
    }

    QByteArray run(const QTemporaryDir &home, const QStringList &args)
    {
        QProcess process;
        process.start(QStringLiteral(CORVANECTL_PATH),
                      QStringList{QStringLiteral("--home"), home.path(), QStringLiteral("--assume-online"),
                                  QStringLiteral("--no-default-feeds"), QStringLiteral("--set"),
                                  QStringLiteral("CloudContainerPath=") + cloud.path()}
                          + args);
        EXPECT_TRUE(process.waitForFinished(120000)) << args.join(u' ').toStdString();
        EXPECT_EQ(process.exitCode(), 0) << args.join(u' ').toStdString() << ": "
                                         << process.readAllStandardError().toStdString();
        return process.readAllStandardOutput();
    }

    // Title -> read, from the machine's store.
    QHash<QString, bool> readStates(const QTemporaryDir &home)
    {
        QHash<QString, bool> states;
        const QJsonArray items =
            QJsonDocument::fromJson(run(home, {QStringLiteral("list-items"), QStringLiteral("--json"), QStringLiteral("--all")}))
                .array();
        for (const QJsonValue &value : items)
            states.insert(value[QStringLiteral("title")].toString(), value[QStringLiteral("read")].toBool());
        return states;
    }

    QString hashOf(const QTemporaryDir &home, const QString &title)
    {
        const QJsonArray items =
            QJsonDocument::fromJson(run(home, {QStringLiteral("list-items"), QStringLiteral("--json"), QStringLiteral("--all")}))
                .array();
        for (const QJsonValue &value : items)
            if (value[QStringLiteral("title")].toString() == title)
                return QString::number(value[QStringLiteral("itemHash")].toInteger());
        return QString();
    }

    QTemporaryDir a;
    QTemporaryDir b;
    QTemporaryDir cloud;
    HttpTestServer server;
};

} // namespace

TEST_F(TwoMachines, ReadStatesConvergeAndTheLaterChangeWins)
{
    const QString feed = server.url(QStringLiteral("/shared.xml")).toString();
    // Machine A's clock is far ahead: B's later change must still win.
    run(a, {QStringLiteral("set"), QStringLiteral("LamportTimestamp"), QStringLiteral("5000")});
    for (const QTemporaryDir *home : {&a, &b}) {
        run(*home, {QStringLiteral("add"), feed});
        run(*home, {QStringLiteral("refresh"), QStringLiteral("--timeout"), QStringLiteral("60")});
    }
    const QString first = hashOf(a, QStringLiteral("Story 0"));
    const QString second = hashOf(a, QStringLiteral("Story 1"));
    ASSERT_FALSE(first.isEmpty());
    ASSERT_EQ(hashOf(b, QStringLiteral("Story 0")), first) << "both machines know the item by its hash";

    // A reads the first; B, running sync, takes it.
    run(a, {QStringLiteral("read"), first});
    run(a, {QStringLiteral("refresh"), QStringLiteral("--timeout"), QStringLiteral("60")});
    run(b, {QStringLiteral("refresh"), QStringLiteral("--timeout"), QStringLiteral("60")});
    QHash<QString, bool> onB = readStates(b);
    EXPECT_TRUE(onB.value(QStringLiteral("Story 0")));
    EXPECT_FALSE(onB.value(QStringLiteral("Story 1")));
    EXPECT_FALSE(onB.value(QStringLiteral("Story 2")));

    // B changes its mind about the first and reads the second; A follows.
    run(b, {QStringLiteral("unread"), first});
    run(b, {QStringLiteral("read"), second});
    run(b, {QStringLiteral("refresh"), QStringLiteral("--timeout"), QStringLiteral("60")});
    run(a, {QStringLiteral("refresh"), QStringLiteral("--timeout"), QStringLiteral("60")});
    const QHash<QString, bool> onA = readStates(a);
    EXPECT_FALSE(onA.value(QStringLiteral("Story 0"))) << "B's later unread lost against A's earlier read";
    EXPECT_TRUE(onA.value(QStringLiteral("Story 1")));
    EXPECT_FALSE(onA.value(QStringLiteral("Story 2")));

    // Each machine keeps its own snapshots; sync-status sees the other's.
    const QJsonObject status =
        QJsonDocument::fromJson(run(a, {QStringLiteral("sync-status"), QStringLiteral("--json")})).object();
    EXPECT_TRUE(status[QStringLiteral("reachable")].toBool());
    const QJsonObject changeDb = status[QStringLiteral("changedb")].toObject();
    EXPECT_EQ(changeDb[QStringLiteral("path")].toString(), QDir(cloud.path()).filePath(QStringLiteral("changedb")));
    EXPECT_GE(changeDb[QStringLiteral("filesSeen")].toInt(), 1);
    EXPECT_GE(changeDb[QStringLiteral("filesApplied")].toInt(), 1);
    EXPECT_FALSE(changeDb[QStringLiteral("lastWrite")].toString().isEmpty());
}
