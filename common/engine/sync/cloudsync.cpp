#include "cloudsync.h"

#include "sync/changedbhandler.h"

#include "feeds/refresh/datasourcemanager.h"

#include "base/corvaneassert.h"
#include "base/dispatch.h"
#include "base/settings.h"

#include <QSemaphore>

#include <atomic>
#include <mutex>

namespace corvane::sync {

namespace {

const QString kCloudEnabledKey = QStringLiteral("iCloudEnabled");
const QString kKeyValueStatusKey = QStringLiteral("KeyValueStatus");

struct StartState
{
    std::mutex lock;
    bool started = false;
    bool stopped = false;
    QSemaphore ready;
    std::atomic<bool> cloudEnabled{false};
    NotificationCenter::Token observer = 0;
    ChangeDbHandler *changeDb = nullptr;
};

StartState &state()
{
    static StartState instance;
    return instance;
}

// Switches both handlers; a switch on makes the key-value handler block
// until its first merge was answered.
void apply(bool enabled)
{
    StartState &s = state();
    if (s.changeDb)
        s.changeDb->setEnabled(enabled);
}

} // namespace

void CloudSync::start()
{
    CORVANE_ASSERT(dispatch::isMainThread(), "should be called from main thread!");
    StartState &s = state();
    {
        std::lock_guard guard(s.lock);
        if (s.started)
            return;
        s.started = true;
    }
    DatasourceManager *manager = DatasourceManager::existingInstance();
    CORVANE_ASSERT(manager != nullptr, "the engine must run before sync starts");
    if (!manager || !manager->isOpen()) {
        s.ready.release();
        return;
    }
    dispatch::global().async([] {
        StartState &s = state();
        {
            std::lock_guard guard(s.lock);
            if (!s.stopped) {
                s.changeDb = ChangeDbHandler::shared();
                const bool enabled = Settings::shared().boolean(kCloudEnabledKey);
                s.cloudEnabled = enabled;
                apply(enabled);
                s.observer = Settings::shared().observe(kCloudEnabledKey, [](const QVariant &value) {
                    StartState &s = state();
                    const bool enabled = value.toBool();
                    if (s.cloudEnabled.exchange(enabled) == enabled)
                        return;
                    std::lock_guard guard(s.lock);
                    if (!s.stopped)
                        apply(enabled);
                });
            }
        }
        s.ready.release();
    });
}

void CloudSync::waitUntilStarted()
{
    StartState &s = state();
    {
        std::lock_guard guard(s.lock);
        if (!s.started)
            return;
    }
    s.ready.acquire();
    s.ready.release();
}

void CloudSync::stop()
{
    waitUntilStarted();
    StartState &s = state();
    NotificationCenter::Token observer = 0;
    ChangeDbHandler *changeDb = nullptr;
    {
        std::lock_guard guard(s.lock);
        if (s.stopped)
            return;
        s.stopped = true;
        observer = s.observer;
        changeDb = s.changeDb;
    }
    // Outside the lock: removing waits for a call of the observer in progress.
    if (observer)
        Settings::shared().removeObserver(observer);
    if (changeDb)
        changeDb->stop();
}

int CloudSync::savedKeyValueFilesApplied()
{
    return Settings::shared().value(kKeyValueStatusKey).toMap().value(QStringLiteral("filesApplied")).toInt();
}

} // namespace corvane::sync
