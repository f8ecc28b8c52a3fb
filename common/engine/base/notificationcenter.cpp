#include "notificationcenter.h"

#include <QHash>
#include <QList>

#include <condition_variable>
#include <mutex>

namespace corvane {

namespace {

// One registration. `inFlight` counts calls running now, on any thread, so a
// removal can wait for them to finish before the observer's owner goes away.
struct Entry
{
    QString name;
    const void *object;
    NotificationCenter::Observer observer;

    std::mutex mutex;
    std::condition_variable idle;
    int inFlight = 0;
    bool alive = true;
};

// Calls in progress on this thread, so a removal from inside an observer does
// not wait for itself.
thread_local QHash<const Entry *, int> t_delivering;

void deliver(const std::shared_ptr<Entry> &entry, const Notification &notification)
{
    {
        std::lock_guard lock(entry->mutex);
        if (!entry->alive)
            return;
        ++entry->inFlight;
    }
    ++t_delivering[entry.get()];
    entry->observer(notification);
    if (--t_delivering[entry.get()] == 0)
        t_delivering.remove(entry.get());
    {
        std::lock_guard lock(entry->mutex);
        --entry->inFlight;
    }
    entry->idle.notify_all();
}

} // namespace

struct NotificationCenter::Private
{
    std::mutex mutex;
    Token nextToken = 1;
    QHash<Token, std::shared_ptr<Entry>> entries;
    // Tokens by name; observers of every name are filed under the empty name.
    QHash<QString, QList<Token>> byName;
};

NotificationCenter::NotificationCenter()
    : d(std::make_unique<Private>())
{
}

NotificationCenter::~NotificationCenter() = default;

NotificationCenter &NotificationCenter::defaultCenter()
{
    static NotificationCenter center;
    return center;
}

NotificationCenter::Token NotificationCenter::addObserver(const QString &name, const void *object,
                                                          Observer observer)
{
    auto entry = std::make_shared<Entry>();
    entry->name = name;
    entry->object = object;
    entry->observer = std::move(observer);
    std::lock_guard lock(d->mutex);
    const Token token = d->nextToken++;
    d->entries.insert(token, std::move(entry));
    d->byName[name].append(token);
    return token;
}

void NotificationCenter::removeObserver(Token token)
{
    std::shared_ptr<Entry> entry;
    {
        std::lock_guard lock(d->mutex);
        entry = d->entries.take(token);
        if (!entry)
            return;
        auto it = d->byName.find(entry->name);
        it->removeOne(token);
        if (it->isEmpty())
            d->byName.erase(it);
    }
    const int ownCalls = t_delivering.value(entry.get());
    std::unique_lock lock(entry->mutex);
    entry->alive = false;
    entry->idle.wait(lock, [&] { return entry->inFlight <= ownCalls; });
}

void NotificationCenter::post(const Notification &notification)
{
    QList<std::shared_ptr<Entry>> targets;
    {
        std::lock_guard lock(d->mutex);
        const auto collect = [&](const QString &name) {
            const auto it = d->byName.constFind(name);
            if (it == d->byName.cend())
                return;
            for (Token token : *it) {
                const std::shared_ptr<Entry> &entry = d->entries[token];
                if (!entry->object || entry->object == notification.object)
                    targets.append(entry);
            }
        };
        collect(notification.name);
        if (!notification.name.isEmpty())
            collect(QString());
    }
    for (const auto &entry : targets)
        deliver(entry, notification);
}

void NotificationCenter::post(const QString &name, void *object, const QVariantMap &userInfo)
{
    post(Notification{name, object, userInfo});
}

ScopedObserver::ScopedObserver(NotificationCenter &center, const QString &name, const void *object,
                               NotificationCenter::Observer observer)
    : m_center(&center)
    , m_token(center.addObserver(name, object, std::move(observer)))
{
}

ScopedObserver::~ScopedObserver()
{
    reset();
}

ScopedObserver::ScopedObserver(ScopedObserver &&other) noexcept
    : m_center(std::exchange(other.m_center, nullptr))
    , m_token(std::exchange(other.m_token, 0))
{
}

ScopedObserver &ScopedObserver::operator=(ScopedObserver &&other) noexcept
{
    if (this != &other) {
        reset();
        m_center = std::exchange(other.m_center, nullptr);
        m_token = std::exchange(other.m_token, 0);
    }
    return *this;
}

void ScopedObserver::reset()
{
    if (m_center)
        m_center->removeObserver(m_token);
    m_center = nullptr;
    m_token = 0;
}

} // namespace corvane
