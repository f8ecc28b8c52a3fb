#include "base/clock.h"
#include "base/machineidentity.h"
#include "base/settings.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

using namespace corvane;

namespace {

class ClockTest : public ::testing::Test
{
protected:
    QString path() const { return m_dir.filePath(QStringLiteral("Corvane.conf")); }
    QTemporaryDir m_dir;
};

} // namespace

TEST_F(ClockTest, StartsAtZeroAndFollowsRemoteStamps)
{
    Settings settings(path());
    Clock clock(settings);
    EXPECT_EQ(clock.current(), 0);
    EXPECT_EQ(clock.currentIncreased(), 1);
    EXPECT_EQ(clock.remote(0), 1);
    EXPECT_EQ(clock.remote(1), 1);
    EXPECT_EQ(clock.current(), 1);
    EXPECT_EQ(clock.remote(41), 41);
    EXPECT_EQ(clock.currentIncreased(), 42);
    EXPECT_LT(Clock::defaultPast(), Clock::distantPast());
    EXPECT_LT(Clock::distantPast(), 0);
}

TEST_F(ClockTest, ContinuesAfterARestartFromThePersistedValue)
{
    {
        Settings settings(path());
        Clock clock(settings);
        for (int i = 0; i < 500; ++i)
            clock.currentIncreased();
        clock.remote(1000);
        clock.currentIncreased();
    } // the clock flushes its queued write when it goes
    Settings settings(path());
    Clock clock(settings);
    EXPECT_EQ(clock.current(), 1001);
    EXPECT_EQ(clock.currentIncreased(), 1002);
}

TEST_F(ClockTest, UnreadableStoredValueCountsAsZero)
{
    Settings settings(path());
    settings.setValue(QStringLiteral("LamportTimestamp"), QStringLiteral("not a number"));
    Clock clock(settings);
    EXPECT_EQ(clock.current(), 0);
}

TEST_F(ClockTest, TwoThreadsNeverGetTheSameStamp)
{
    Settings settings(path());
    Clock clock(settings);
    constexpr int kPerThread = 20000;
    std::vector<qint64> first, second;
    auto take = [&clock](std::vector<qint64> &into) {
        into.reserve(kPerThread);
        for (int i = 0; i < kPerThread; ++i) {
            into.push_back(clock.currentIncreased());
            clock.remote(i); // never above the clock here: must change nothing
        }
    };
    std::unique_ptr<QThread> a(QThread::create([&] { take(first); }));
    std::unique_ptr<QThread> b(QThread::create([&] { take(second); }));
    a->start();
    b->start();
    a->wait();
    b->wait();
    std::vector<qint64> all = first;
    all.insert(all.end(), second.begin(), second.end());
    std::sort(all.begin(), all.end());
    EXPECT_EQ(std::adjacent_find(all.begin(), all.end()), all.end());
    EXPECT_EQ(clock.current(), 2 * kPerThread);
    clock.flush();
    EXPECT_EQ(Settings(path()).integer(QStringLiteral("LamportTimestamp")), 2 * kPerThread);
}

TEST_F(ClockTest, MachineIdentityIsMadeOnceAndKept)
{
    Settings settings(path());
    const QString identity = thisMachine(settings);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}$"))
                    .match(identity)
                    .hasMatch())
        << identity.toStdString();
    EXPECT_EQ(thisMachine(settings), identity);
    Settings reread(path());
    EXPECT_EQ(thisMachine(reread), identity);
}

// A second process over the same home continues the first one's clock.
TEST(ClockAcrossProcesses, AnotherProcessSeesThePersistedStamp)
{
    const QString ctl = QStringLiteral(CORVANECTL_PATH);
    ASSERT_TRUE(QFile::exists(ctl)) << CORVANECTL_PATH;
    QTemporaryDir home;
    {
        QDir().mkpath(home.filePath(QStringLiteral("config")));
        Settings settings(home.filePath(QStringLiteral("config/Corvane.conf")));
        Clock clock(settings);
        clock.setCurrent(77);
    }
    QProcess process;
    process.start(ctl, {QStringLiteral("--home"), home.path(), QStringLiteral("clock")});
    ASSERT_TRUE(process.waitForFinished(30000));
    EXPECT_EQ(process.exitCode(), 0);
    EXPECT_EQ(process.readAllStandardOutput().trimmed(), QByteArray("77"));
}
