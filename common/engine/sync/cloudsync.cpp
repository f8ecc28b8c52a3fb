#include "cloudsync.h"

#include "sync/changedbhandler.h"
#include "sync/keyvaluehandler.h"
#include "sync/keyvaluestore.h"

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
    KeyValueHandler *keyValue = nullptr;
};

StartState &state()
{
    static StartState instance;
    return instance;
}

// Switches both handlers as the setting changed; a switch on makes the
// key-value handler block until its first merge was answered.
void apply(bool enabled)
{
    StartState &s = state();
    if (s.keyValue) {
        if (enabled)
            s.keyValue->setBlocking(true);
        s.keyValue->setEnabled(enabled);
    }
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
    // The first merge's report goes to the datasource manager, which takes
    // the snapshot when the cloud holds records and then ends the blocking.
    manager->setCloudBlockingRelease([] {
        if (KeyValueHandler *keyValue = KeyValueHandler::existing())
            keyValue->setBlocking(false);
    });
    const bool migrated = manager->stores().migratedFromOldStore();
    dispatch::global().async([manager, migrated] {
        StartState &s = state();
        {
            std::lock_guard guard(s.lock);
            if (!s.stopped) {
                s.keyValue = KeyValueHandler::shared();
                s.keyValue->attach(manager);
                s.keyValue->cloudItemCountReported = [manager](bool cloudHasRecords) {
                    manager->setCloudItemCount(cloudHasRecords);
                };
                s.changeDb = ChangeDbHandler::shared();
                const bool enabled = Settings::shared().boolean(kCloudEnabledKey);
                s.cloudEnabled = enabled;
                // A migrated store meets the cloud like a machine that just
                // turned sync on: the first merge waits for its snapshot.
                if (migrated)
                    s.keyValue->setBlocking(true);
                s.keyValue->setEnabled(enabled);
                s.changeDb->setEnabled(enabled);
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
    KeyValueHandler *keyValue = nullptr;
    {
        std::lock_guard guard(s.lock);
        if (s.stopped)
            return;
        s.stopped = true;
        observer = s.observer;
        changeDb = s.changeDb;
        keyValue = s.keyValue;
    }
    // Outside the lock: removing waits for a call of the observer in progress.
    if (observer)
        Settings::shared().removeObserver(observer);
    if (changeDb)
        changeDb->stop();
    if (keyValue) {
        // What a write still waiting holds goes out before the process ends.
        keyValue->drain();
        const KeyValueStore::Status status = keyValue->store().status();
        Settings::shared().setValue(kKeyValueStatusKey, QVariantMap{
                                                            {QStringLiteral("filesSeen"), status.filesSeen},
                                                            {QStringLiteral("filesApplied"), status.filesApplied},
                                                            {QStringLiteral("lastWrite"), status.lastWrite},
                                                        });
        keyValue->detach();
    }
}

int CloudSync::savedKeyValueFilesApplied()
{
    return Settings::shared().value(kKeyValueStatusKey).toMap().value(QStringLiteral("filesApplied")).toInt();
}

} // namespace corvane::sync
