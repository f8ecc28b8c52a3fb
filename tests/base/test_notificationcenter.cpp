#include "base/notificationcenter.h"

#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <vector>

using namespace corvane;

TEST(NotificationCenter, DeliversByNameAndObjectOnThePostingThread)
{
    NotificationCenter center;
    int a = 0, b = 0;
    QStringList byName, byObject, all;
    QThread *deliveredOn = nullptr;
    ScopedObserver named(center, QStringLiteral("ItemPropertiesChanged"), nullptr, [&](const Notification &n) {
        byName.append(n.userInfo.value(QStringLiteral("k")).toString());
        deliveredOn = QThread::currentThread();
    });
    ScopedObserver forA(center, QStringLiteral("ItemPropertiesChanged"), &a,
                        [&](const Notification &n) { byObject.append(QString::number(*n.objectAs<int>())); });
    ScopedObserver every(center, QString(), nullptr, [&](const Notification &n) { all.append(n.name); });

    a = 1;
    center.post(QStringLiteral("ItemPropertiesChanged"), &a, {{QStringLiteral("k"), QStringLiteral("x")}});
    center.post(QStringLiteral("ItemPropertiesChanged"), &b, {{QStringLiteral("k"), QStringLiteral("y")}});
    center.post(QStringLiteral("NotificationStarChanged"));

    std::unique_ptr<QThread> poster(QThread::create([&] { center.post(QStringLiteral("ItemPropertiesChanged")); }));
    poster->start();
    poster->wait();

    EXPECT_EQ(byName, (QStringList{QStringLiteral("x"), QStringLiteral("y"), QString()}));
    EXPECT_EQ(byObject, QStringList{QStringLiteral("1")});
    EXPECT_EQ(all.size(), 4);
    EXPECT_EQ(deliveredOn, poster.get());
}

TEST(NotificationCenter, RemovalInsideAnObserverAndAfterItStops)
{
    NotificationCenter center;
    int calls = 0;
    NotificationCenter::Token self = 0;
    self = center.addObserver(QStringLiteral("n"), nullptr, [&](const Notification &) {
        ++calls;
        center.removeObserver(self); // must not wait for its own call
    });
    center.post(QStringLiteral("n"));
    center.post(QStringLiteral("n"));
    EXPECT_EQ(calls, 1);

    // An observer added from inside a delivery is not called for that post.
    int late = 0;
    ScopedObserver adder(center, QStringLiteral("m"), nullptr, [&](const Notification &) {
        center.addObserver(QStringLiteral("m"), nullptr, [&](const Notification &) { ++late; });
    });
    center.post(QStringLiteral("m"));
    EXPECT_EQ(late, 0);
}

// Once removeObserver() returns, the state the observer uses may be freed.
TEST(NotificationCenter, RemovalWaitsForCallsOnOtherThreads)
{
    NotificationCenter center;
    std::atomic<bool> stop{false};
    std::atomic<int> violations{0};
    std::vector<std::unique_ptr<QThread>> posters;
    for (int i = 0; i < 3; ++i) {
        posters.emplace_back(QThread::create([&] {
            while (!stop)
                center.post(QStringLiteral("tick"));
        }));
        posters.back()->start();
    }
    for (int round = 0; round < 300; ++round) {
        auto alive = std::make_shared<std::atomic<bool>>(true);
        const auto token = center.addObserver(QStringLiteral("tick"), nullptr, [alive, &violations](const Notification &) {
            if (!*alive)
                ++violations;
        });
        QThread::usleep(50);
        center.removeObserver(token);
        *alive = false;
    }
    stop = true;
    for (auto &poster : posters)
        poster->wait();
    EXPECT_EQ(violations, 0);
}
