// The desktop program as a user starts it: one instance per home, links
// handed from a second start to the first, a clear failure without a store.
#include "platform/singleinstance.h"

#include "spinuntil.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace corvane;

namespace {

QProcess *startCorvane(const QString &home, const QStringList &args)
{
    auto *process = new QProcess;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.remove(QStringLiteral("CORVANE_HOME"));
    process->setProcessEnvironment(env);
    process->start(QStringLiteral(CORVANE_PATH),
                   QStringList{QStringLiteral("--home"), home, QStringLiteral("--no-default-feeds")} + args);
    return process;
}

TEST(CorvaneBinary, SecondStartHandsItsLinkToTheFirstAndExits)
{
    QTemporaryDir home;
    std::unique_ptr<QProcess> first(startCorvane(home.path(), {}));
    ASSERT_TRUE(first->waitForStarted());
    // Ready when its socket answers (the same scope the program uses).
    const QString scope = QDir(home.path()).filePath(QStringLiteral("config"));
    desktop::SingleInstance probe({QStringLiteral("org.corvane.Corvane"), QStringLiteral("org.corvane.CorvaneNext")},
                                  scope);
    ASSERT_TRUE(test::spinUntil([&] { return probe.handOffToRunningInstance({}); }, 30000))
        << first->readAllStandardError().toStdString();

    std::unique_ptr<QProcess> second(startCorvane(home.path(), {QStringLiteral("feed://127.0.0.1:9/handed.xml")}));
    ASSERT_TRUE(second->waitForFinished(30000));
    EXPECT_EQ(second->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second->exitCode(), 0);
    EXPECT_TRUE(QString::fromUtf8(second->readAllStandardError())
                    .contains(QStringLiteral("An instance of Corvane is already running.")));

    // The first one opens its feed list with the link filled in, for the user to confirm.
    QString log;
    EXPECT_TRUE(test::spinUntil(
        [&] {
            first->waitForReadyRead(100);
            log += QString::fromUtf8(first->readAllStandardError());
            return log.contains(QStringLiteral("Feed link for the feed list: feed://127.0.0.1:9/handed.xml"));
        },
        30000))
        << log.toStdString();
    EXPECT_EQ(first->state(), QProcess::Running);
    first->terminate();
    first->waitForFinished(10000);
}

TEST(CorvaneBinary, StoreThatCannotBeOpenedEndsWithTheReason)
{
    QTemporaryDir home;
    // The store folder is a plain file.
    QFile blocker(QDir(home.path()).filePath(QStringLiteral("data")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    std::unique_ptr<QProcess> corvane(startCorvane(home.path(), {}));
    ASSERT_TRUE(corvane->waitForFinished(30000));
    EXPECT_EQ(corvane->exitCode(), 1);
    const QString errors = QString::fromUtf8(corvane->readAllStandardError());
    EXPECT_TRUE(errors.contains(QStringLiteral("cannot open the store at"))) << errors.toStdString();
    EXPECT_TRUE(QFileInfo(blocker.fileName()).isFile()) << "nothing on disk is changed";
}

} // namespace
