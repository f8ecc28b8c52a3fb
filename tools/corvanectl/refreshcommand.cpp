// refresh: runs the engine until every enabled subscription has been tried once.
#include "cli.h"

#include "base/clock.h"
#include "base/notificationcenter.h"
#include "feeds/refresh/datasourcemanager.h"
#include "feeds/refresh/networkstate.h"
#include "feeds/refresh/rssparser.h"
#include "store/context.h"
#include "store/datasource.h"
#include "store/objectstore.h"
#include "sync/cloudsync.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <QDateTime>
#include <QSocketNotifier>

#include <malloc.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <sys/signalfd.h>
#include <unistd.h>

namespace corvane::cli {
namespace {

constexpr int kAllRefreshesFailed = 3;

struct Attempt
{
    int items = 0;
    QString error;
};

// Refreshes run on many pool threads, and glibc gives each its own arena
// (up to eight per core), where the freed bodies and records of one fetch
// stay as holes the next fetch on another thread cannot use. Two arenas, and
// large blocks always mapped (so freeing one gives it back), keep the
// resident size near what is live. Called before the engine starts threads.
void limitMallocArenas()
{
    mallopt(M_ARENA_MAX, 2);
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    mallopt(M_TRIM_THRESHOLD, 1024 * 1024);
}

void drawProgress(qsizetype done, qsizetype total)
{
    constexpr int kWidth = 30;
    const int filled = total ? int(done * kWidth / total) : kWidth;
    const QByteArray bar = QByteArray(filled, '#') + QByteArray(kWidth - filled, '.');
    std::fprintf(stderr, "\r[%s] %lld/%lld", bar.constData(), static_cast<long long>(done), static_cast<long long>(total));
    std::fflush(stderr);
}

int refresh(Invocation &call)
{
    QString error;
    const std::optional<QString> timeoutText = takeOption(call.args, QStringLiteral("--timeout"), &error);
    if (!error.isEmpty())
        return usageError(call, error);
    if (!hasArguments(call, 0, 0))
        return 2;
    bool ok = true;
    const double timeout = timeoutText ? timeoutText->toDouble(&ok) : 900.0;
    if (!ok || timeout <= 0)
        return usageError(call, QStringLiteral("--timeout needs a number of seconds above 0"));
    limitMallocArenas();

    DatasourceManager &engine = call.engine(true);
    sync::CloudSync::start();
    QList<QPair<QString, QString>> wanted; // uri, name in list order
    for (const Datasource *datasource : engine.datasourcesForMain())
        if (datasource->enabled())
            wanted.append({engine.contextMain()->store().uriForID(datasource->objectID()), datasource->visibleName()});
    if (wanted.isEmpty()) {
        out() << "no enabled subscriptions\n";
        return 0;
    }

    std::mutex mutex;
    QHash<QString, Attempt> attempts;
    for (const auto &feed : std::as_const(wanted))
        attempts.insert(feed.first, Attempt{-1, QString()});
    qsizetype finished = 0;
    ScopedObserver observer(NotificationCenter::defaultCenter(), kRefreshAttemptFinishedNotification, nullptr,
                            [&](const Notification &notification) {
                                const QString uri = notification.userInfo.value(QStringLiteral("uri")).toString();
                                std::lock_guard lock(mutex);
                                auto it = attempts.find(uri);
                                if (it == attempts.end() || it->items >= 0)
                                    return;
                                it->items = notification.userInfo.value(QStringLiteral("items")).toInt();
                                it->error = notification.userInfo.value(QStringLiteral("error")).toString();
                                ++finished;
                            });

    const bool terminal = isatty(STDERR_FILENO);
    QElapsedTimer clock;
    clock.start();
    bool timedOut = false;
    bool warnedOffline = false;
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(100);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        qsizetype done = 0;
        {
            std::lock_guard lock(mutex);
            done = finished;
        }
        if (terminal)
            drawProgress(done, wanted.size());
        if (done == wanted.size()) {
            loop.quit();
        } else if (clock.elapsed() > timeout * 1000.0) {
            timedOut = true;
            loop.quit();
        } else if (!warnedOffline && clock.elapsed() > 5000 && !networkstate::internetAvailable()) {
            warnedOffline = true;
            std::fprintf(stderr, "%scorvanectl: the network looks unreachable; --assume-online skips the check\n",
                         terminal ? "\n" : "");
        }
    });
    poll.start();
    engine.update();
    loop.exec();
    poll.stop();
    if (terminal)
        std::fputs("\n", stderr);

    // What was fetched is saved before anything is printed, and the names
    // are those the refresh gave the subscriptions.
    engine.stores().waitForPendingCommit();
    Context *background = engine.contextBackground();
    background->performBlockConfinedAndWait([&] {
        for (auto &feed : wanted) {
            const std::optional<ObjectID> id = background->store().idForURI(feed.first);
            if (const auto *datasource = id ? static_cast<const Datasource *>(background->existingObject(*id)) : nullptr)
                feed.second = datasource->visibleName();
        }
    });
    std::lock_guard lock(mutex);
    int succeeded = 0;
    for (const auto &feed : std::as_const(wanted)) {
        const Attempt attempt = attempts.value(feed.first);
        out() << feed.second << '\t';
        if (attempt.items < 0) {
            out() << "not tried\n";
            continue;
        }
        succeeded += attempt.error.isEmpty();
        out() << attempt.items << " items\t" << (attempt.error.isEmpty() ? QStringLiteral("ok") : attempt.error) << '\n';
    }
    if (timedOut) {
        out().flush();
        std::fprintf(stderr, "corvanectl: refresh timed out after %g seconds\n", timeout);
        // Downloads still running would hold the process up to their own
        // timeout; what they fetched is not needed any more.
        Clock::sharedClock().flush();
        std::fflush(stdout);
        std::_Exit(1);
    }
    // Scripts and timers learn from the status whether the network gave anything at all.
    return succeeded > 0 ? 0 : kAllRefreshesFailed;
}

// Keeps the engine running on its own schedule, as the desktop application
// does, and prints a line per refresh, until SIGINT or SIGTERM or the duration ends.
int runEngine(Invocation &call)
{
    QString error;
    const std::optional<QString> durationText = takeOption(call.args, QStringLiteral("--duration"), &error);
    if (!error.isEmpty())
        return usageError(call, error);
    if (!hasArguments(call, 0, 0))
        return 2;
    bool ok = true;
    const double duration = durationText ? durationText->toDouble(&ok) : 0;
    if (!ok || duration < 0)
        return usageError(call, QStringLiteral("--duration needs a number of seconds"));
    limitMallocArenas();

    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    const int signalFd = signalfd(-1, &stopSignals, SFD_CLOEXEC | SFD_NONBLOCK);
    if (signalFd < 0)
        return fail(QStringLiteral("cannot watch for stop signals"));

    DatasourceManager &engine = call.engine(true);
    sync::CloudSync::start();
    QHash<QString, QString> names;
    for (const Datasource *datasource : engine.datasourcesForMain())
        names.insert(engine.contextMain()->store().uriForID(datasource->objectID()), datasource->visibleName());
    std::mutex mutex;
    ScopedObserver observer(NotificationCenter::defaultCenter(), kRefreshAttemptFinishedNotification, nullptr,
                            [&](const Notification &notification) {
                                const QVariantMap &info = notification.userInfo;
                                const QString uri = info.value(QStringLiteral("uri")).toString();
                                const QString errorText = info.value(QStringLiteral("error")).toString();
                                std::lock_guard lock(mutex);
                                out() << QDateTime::currentDateTime().toString(Qt::ISODate) << ' '
                                      << names.value(uri, uri) << ": " << info.value(QStringLiteral("items")).toInt()
                                      << " items" << (errorText.isEmpty() ? QString() : QStringLiteral(", ") + errorText)
                                      << Qt::endl;
                            });

    QEventLoop loop;
    QSocketNotifier stop(signalFd, QSocketNotifier::Read);
    QObject::connect(&stop, &QSocketNotifier::activated, &loop, &QEventLoop::quit);
    QTimer end;
    if (duration > 0) {
        end.setSingleShot(true);
        QObject::connect(&end, &QTimer::timeout, &loop, &QEventLoop::quit);
        end.start(int(duration * 1000));
    }
    engine.update();
    loop.exec();
    ::close(signalFd);
    std::lock_guard lock(mutex);
    out().flush();
    return 0;
}

} // namespace

const QList<Command> &refreshCommands()
{
    static const QList<Command> commands = {
        {"refresh", "refresh [--timeout SECONDS]",
         "Refreshes every enabled subscription once and prints one line per subscription: name, items read, "
         "error text. Exits with 0 when at least one subscription was refreshed without error, 3 when every one "
         "failed, and 1 when not every subscription was tried within the timeout (default 900 s).",
         refresh},
        {"run", "run [--duration SECONDS]",
         "Keeps the engine running and refreshing on its schedule, printing a line per refresh, until "
         "interrupted (or for the given duration).",
         runEngine},
    };
    return commands;
}

} // namespace corvane::cli
