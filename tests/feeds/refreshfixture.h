#pragma once

#include "feeds/refresh/datasourcemanager.h"
#include "net/httpfetch.h"
#include "feeds/refresh/rssparser.h"

#include "base/notificationcenter.h"
#include "base/settings.h"
#include "platform/reachability.h"
#include "store/context.h"
#include "store/dataitem.h"
#include "store/datasource.h"
#include "store/query.h"

#include "httptestserver.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>

namespace corvane::test {

// A datasource manager over a fresh store, talking to a local HTTP server
// through which every request goes (as a proxy), so any host name works.
class RefreshFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        Settings::shared().setValue(QStringLiteral("DefaultFeedsAlreadyCreated"), true);
        platform::setAssumeReachable(true);
        HttpFetcher::shared().setProxy(server.proxy());
        HttpFetcher::shared().setTimeoutSeconds(5);
        DatasourceManager::Options options;
        options.storeDirectory = m_dir.path();
        options.startTimer = false;
        options.commitDelaySeconds = 0.05;
        manager = std::make_unique<DatasourceManager>(options);
        m_attempts = std::make_unique<ScopedObserver>(NotificationCenter::defaultCenter(),
                                                      kRefreshAttemptFinishedNotification, nullptr,
                                                      [this](const Notification &) { ++m_finished; });
        settle();
    }

    void TearDown() override
    {
        m_attempts.reset();
        manager.reset();
        HttpFetcher::shared().setTimeoutSeconds(30);
    }

    Context *main() const { return manager->contextMain(); }

    RSSDatasource *addFeed(const QString &url)
    {
        return manager->addFeedWithURL(url);
    }
    QString local(const QString &path) const { return server.url(path).toString(); }

    void serve(const QString &path, const QByteArray &body, int status = 200, const QString &host = QString())
    {
        HttpTestServer::Response response;
        response.status = status;
        response.body = body;
        server.setResponse(path, response, host);
    }

    // Runs the main queue until `done` holds or a few seconds pass.
    static bool spin(const std::function<bool()> &done, int timeoutMs = 20000)
    {
        QElapsedTimer timer;
        timer.start();
        while (!done()) {
            if (timer.elapsed() > timeoutMs)
                return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            QThread::msleep(2);
        }
        return true;
    }

    void settle()
    {
        manager->waitForRefreshes();
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }

    // One refresh round; waits for `attempts` refreshes to end and their save.
    void refreshRound(int attempts)
    {
        const int target = m_finished + attempts;
        manager->update();
        EXPECT_TRUE(spin([&] { return m_finished >= target; })) << "refresh attempts did not finish";
        settle();
    }

    // Runs refresh ticks until `target` attempts have finished in all, then
    // waits for their save. The pool admits a few at a time; each tick hands
    // it the subscriptions still due, as the timer would. Adding a
    // subscription starts its first refresh by itself, so targets are taken
    // before that.
    void refreshUntil(int target, int timeoutMs)
    {
        QElapsedTimer tick;
        manager->update();
        tick.start();
        ASSERT_TRUE(spin(
            [&] {
                if (tick.elapsed() > 200) {
                    manager->update();
                    tick.restart();
                }
                return finishedAttempts() >= target;
            },
            timeoutMs))
            << "refresh attempts did not finish";
        settle();
    }

    int finishedAttempts() const { return m_finished.load(); }

    // Makes every subscription due again, as after a wake from sleep.
    void makeDue()
    {
        manager->didWake();
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
    }

    QList<DataItem *> itemsOf(Datasource *datasource)
    {
        Query query{Entity::DataItem, Predicate::equal(QStringLiteral("datasource"), QVariant::fromValue(datasource->objectID())),
                    {{QStringLiteral("title"), true}}};
        return main()->fetchAs<DataItem>(query);
    }

    QString errorOf(Datasource *datasource)
    {
        main()->refresh(datasource, false);
        return datasource->errorString();
    }

    // The folder of the store file.
    QString storeDirectory() const { return m_dir.path(); }

    HttpTestServer server;
    std::unique_ptr<DatasourceManager> manager;

private:
    QTemporaryDir m_dir;
    std::atomic<int> m_finished{0};
    std::unique_ptr<ScopedObserver> m_attempts;
};

} // namespace corvane::test
