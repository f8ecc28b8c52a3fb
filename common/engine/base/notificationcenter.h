#pragma once

#include <QString>
#include <QVariantMap>

#include <functional>
#include <memory>

namespace corvane {

// One event: its name, the object it concerns (may be null) and extra values.
struct Notification
{
    QString name;
    void *object = nullptr;
    QVariantMap userInfo;

    template<typename T>
    T *objectAs() const
    {
        return static_cast<T *>(object);
    }
};

// Name-based events inside the process. Observers are called synchronously on
// the thread that posts. Adding, removing and posting are safe from any
// thread; once removeObserver() returns, the observer is never called again
// and no call of it is still running on another thread (a removal from inside
// the observer itself does not wait for its own call).
class NotificationCenter
{
public:
    using Observer = std::function<void(const Notification &)>;
    using Token = quint64;

    NotificationCenter();
    ~NotificationCenter();
    NotificationCenter(const NotificationCenter &) = delete;
    NotificationCenter &operator=(const NotificationCenter &) = delete;

    // The process's centre, on which the engine's events are posted.
    static NotificationCenter &defaultCenter();

    // An empty name observes every name; a null object every object.
    Token addObserver(const QString &name, const void *object, Observer observer);
    void removeObserver(Token token);

    void post(const Notification &notification);
    void post(const QString &name, void *object = nullptr, const QVariantMap &userInfo = {});

private:
    struct Private;
    std::unique_ptr<Private> d;
};

// Removes its observer when it goes out of scope.
class ScopedObserver
{
public:
    ScopedObserver() = default;
    ScopedObserver(NotificationCenter &center, const QString &name, const void *object,
                   NotificationCenter::Observer observer);
    ~ScopedObserver();
    ScopedObserver(ScopedObserver &&other) noexcept;
    ScopedObserver &operator=(ScopedObserver &&other) noexcept;
    ScopedObserver(const ScopedObserver &) = delete;
    ScopedObserver &operator=(const ScopedObserver &) = delete;

    void reset();

private:
    NotificationCenter *m_center = nullptr;
    NotificationCenter::Token m_token = 0;
};

} // namespace corvane
