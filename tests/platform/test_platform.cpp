#include "platform/power.h"
#include "platform/reachability.h"
#include "platform/systemwake.h"
#include "platform/systemwake_p.h"

#include "base/notificationcenter.h"
#include "base/settings.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include "spinuntil.h"
#include "testfiles.h"

#include <atomic>
#include <thread>
#include <vector>

using namespace corvane;

namespace {

using corvane::test::writeFile;

// A fake /sys/class/power_supply: one folder per supply with its attribute files.
class PowerSupplies : public ::testing::Test
{
protected:
    void SetUp() override { platform::setPowerSupplyDirectory(m_dir.path()); }
    void TearDown() override { platform::setPowerSupplyDirectory(QString()); }

    void supply(const QString &name, const QByteArray &type, const QList<QPair<const char *, QByteArray>> &attributes)
    {
        writeFile(m_dir.filePath(name + QStringLiteral("/type")), type + '\n');
        for (const auto &[attribute, value] : attributes)
            writeFile(m_dir.filePath(name + QLatin1Char('/') + QLatin1String(attribute)), value + '\n');
    }

    QTemporaryDir m_dir;
};

} // namespace

TEST_F(PowerSupplies, OnlyAPresentSystemBatteryWithoutOnlineExternalPowerIsBatteryPower)
{
    EXPECT_FALSE(platform::onBatteryPower()) << "nothing listed at all";
    // Each step changes or adds one supply; the answer is for all of them so far.
    const struct
    {
        const char *name;
        QString supply;
        QByteArray type;
        QList<QPair<const char *, QByteArray>> attributes;
        bool onBattery;
    } steps[] = {
        {"mains offline alone", QStringLiteral("AC"), "Mains", {{"online", "0"}}, false},
        {"a wireless mouse's battery", QStringLiteral("hidpp_battery_0"), "Battery",
         {{"scope", "Device"}, {"present", "1"}}, false},
        {"an empty battery bay", QStringLiteral("BAT1"), "Battery", {{"present", "0"}}, false},
        {"a system battery without a present file", QStringLiteral("BAT0"), "Battery", {}, true},
        {"the battery said present", QStringLiteral("BAT0"), "Battery",
         {{"present", "1"}, {"status", "Discharging"}}, true},
        {"mains back online", QStringLiteral("AC"), "Mains", {{"online", "1"}}, false},
        {"mains offline again", QStringLiteral("AC"), "Mains", {{"online", "0"}}, true},
        {"an offline USB charger", QStringLiteral("ucsi-source-psy-USBC000:001"), "USB", {{"online", "0"}}, true},
        {"an online USB charger", QStringLiteral("ucsi-source-psy-USBC000:001"), "USB", {{"online", "1"}}, false},
    };
    for (const auto &step : steps) {
        SCOPED_TRACE(step.name);
        supply(step.supply, step.type, step.attributes);
        EXPECT_EQ(platform::onBatteryPower(), step.onBattery);
    }
    platform::setPowerSupplyDirectory(QStringLiteral("/nonexistent/power_supply"));
    EXPECT_FALSE(platform::onBatteryPower()) << "a missing folder reads as mains";
}

namespace {

const QByteArray kRouteHeader =
    "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";
const QByteArray kIpv4Default = "eth0\t00000000\t0102A8C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n";
const QByteArray kIpv4Subnet = "eth0\t0002A8C0\t00000000\t0001\t0\t0\t100\t00FFFFFF\t0\t0\t0\n";
const QByteArray kIpv4DefaultDown = "eth1\t00000000\t0102A8C0\t0002\t0\t0\t100\t00000000\t0\t0\t0\n";
const QByteArray kIpv6Default = "00000000000000000000000000000000 00 00000000000000000000000000000000 00 "
                                "fe800000000000000000000000000001 00000400 00000001 00000000 00000003  wlan0\n";
const QByteArray kIpv6Unreachable = "00000000000000000000000000000000 00 00000000000000000000000000000000 00 "
                                    "00000000000000000000000000000000 ffffffff 00000001 00000000 00200200       lo\n";
const QByteArray kIpv6Link = "fe800000000000000000000000000000 40 00000000000000000000000000000000 00 "
                             "00000000000000000000000000000000 00000100 00000001 00000000 00000001  wlan0\n";

} // namespace

TEST(Reachability, DefaultRouteInEitherTable)
{
    QTemporaryDir dir;
    const QString route = dir.filePath(QStringLiteral("route"));
    const QString route6 = dir.filePath(QStringLiteral("ipv6_route"));

    EXPECT_FALSE(platform::hasDefaultRoute(dir.path())); // no tables at all
    writeFile(route, kRouteHeader + kIpv4Subnet + kIpv4DefaultDown);
    writeFile(route6, kIpv6Unreachable + kIpv6Link);
    EXPECT_FALSE(platform::hasDefaultRoute(dir.path()));

    writeFile(route, kRouteHeader + kIpv4Subnet + kIpv4Default);
    EXPECT_TRUE(platform::hasDefaultRoute(dir.path()));

    writeFile(route, kRouteHeader);
    writeFile(route6, kIpv6Unreachable + kIpv6Default);
    EXPECT_TRUE(platform::hasDefaultRoute(dir.path()));

    // A default route over the loopback interface leads nowhere.
    writeFile(route6, {});
    writeFile(route, kRouteHeader + "lo\t00000000\t00000000\t0001\t0\t0\t0\t00000000\t0\t0\t0\n");
    EXPECT_FALSE(platform::hasDefaultRoute(dir.path()));
}

TEST(Reachability, ForcedBySettingOrCall)
{
    // Tables without any route: only the backend could say yes, so look at
    // the forced answers (which never consult either).
    QTemporaryDir dir;
    platform::setRouteTableDirectory(dir.path());

    platform::setAssumeReachable(true);
    EXPECT_TRUE(platform::networkReachable());
    platform::setAssumeReachable(false);

    Settings::shared().setValue(QStringLiteral("AssumeNetworkReachable"), true);
    EXPECT_TRUE(platform::networkReachable());
    Settings::shared().removeValue(QStringLiteral("AssumeNetworkReachable"));
    platform::setRouteTableDirectory(QString());
}

TEST(Reachability, DefaultRouteMakesReachableFromAnyThread)
{
    QTemporaryDir dir;
    writeFile(dir.filePath(QStringLiteral("route")), kRouteHeader + kIpv4Default);
    platform::setRouteTableDirectory(dir.path());
    platform::setAssumeReachable(false);

    std::atomic<int> reachable{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i)
        threads.emplace_back([&] {
            for (int n = 0; n < 50; ++n)
                reachable += platform::networkReachable() ? 1 : 0;
        });
    for (auto &thread : threads)
        thread.join();
    EXPECT_EQ(reachable.load(), 8 * 50);
    // The backend load the pool threads asked for runs here, on the main thread.
    QCoreApplication::processEvents();
    EXPECT_TRUE(platform::networkReachable());
    platform::setRouteTableDirectory(QString());
}

namespace {

// Counts wake notifications and the threads they arrived on.
struct WakeCounter
{
    WakeCounter()
        : observer(NotificationCenter::defaultCenter(), platform::kSystemDidWakeNotification, nullptr,
                   [this](const Notification &) {
                       ++count;
                       if (QThread::currentThread() != QCoreApplication::instance()->thread())
                           offMainThread = true;
                   })
    {
    }

    std::atomic<int> count{0};
    std::atomic<bool> offMainThread{false};
    ScopedObserver observer;
};

} // namespace

TEST(SystemWake, ResumeIsPostedOnTheMainThreadAndSleepIsNot)
{
    EXPECT_EQ(platform::kSystemDidWakeNotification, QStringLiteral("SystemDidWake"));
    WakeCounter wakes;
    platform::SleepWatcher watcher;
    watcher.prepareForSleep(true);
    EXPECT_EQ(wakes.count, 0);
    watcher.prepareForSleep(false);
    EXPECT_EQ(wakes.count, 1);

    std::thread other([&] { watcher.prepareForSleep(false); });
    other.join();
    EXPECT_TRUE(test::spinUntil([&] { return wakes.count == 2; }));
    EXPECT_FALSE(wakes.offMainThread);
}

TEST(SystemWake, StartingWithoutLogindIsQuiet)
{
    // Whether or not this machine has a system bus, starting (twice) must not fail.
    platform::startWatchingSystemWake();
    platform::startWatchingSystemWake();
    platform::SleepWatcher watcher;
    EXPECT_FALSE(watcher.watch(QDBusConnection(QStringLiteral("never-connected"))));
}

// A private bus stands in for the system bus: a connection owning logind's
// name sends PrepareForSleep, and the watcher must turn the resume into a
// notification.
TEST(SystemWake, SignalFromLogindOnABusPostsTheNotification)
{
    const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
    if (daemon.isEmpty())
        GTEST_SKIP() << "dbus-daemon is not installed";
    QProcess bus;
    bus.start(daemon, {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
    ASSERT_TRUE(bus.waitForStarted(5000));
    ASSERT_TRUE(bus.waitForReadyRead(5000));
    const QString address = QString::fromUtf8(bus.readLine().trimmed());
    ASSERT_FALSE(address.isEmpty());

    {
        QDBusConnection watched = QDBusConnection::connectToBus(address, QStringLiteral("watched"));
        QDBusConnection logind = QDBusConnection::connectToBus(address, QStringLiteral("logind"));
        ASSERT_TRUE(watched.isConnected());
        ASSERT_TRUE(logind.registerService(QStringLiteral("org.freedesktop.login1")));

        WakeCounter wakes;
        platform::SleepWatcher watcher;
        ASSERT_TRUE(watcher.watch(watched));
        for (bool starting : {true, false}) {
            QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/login1"),
                                                             QStringLiteral("org.freedesktop.login1.Manager"),
                                                             QStringLiteral("PrepareForSleep"));
            signal << starting;
            ASSERT_TRUE(logind.send(signal));
        }
        // Signals arrive in order: once the resume is counted, the sleep before it was seen too.
        EXPECT_TRUE(test::spinUntil([&] { return wakes.count > 0; }));
        EXPECT_EQ(wakes.count, 1);
        EXPECT_FALSE(wakes.offMainThread);
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("watched"));
    QDBusConnection::disconnectFromBus(QStringLiteral("logind"));
    bus.kill();
    bus.waitForFinished(5000);
}
