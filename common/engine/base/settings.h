#pragma once

#include "commoncolor.h"
#include "notificationcenter.h"

#include <QHash>
#include <QString>
#include <QVariant>

#include <functional>
#include <mutex>
#include <optional>

namespace corvane {

// The per-user settings store. A value the user stored wins over the
// registered default of its key; registered defaults live in memory only and
// are never written. Stored values are kept in memory and written through to
// an INI file at once, so a crash loses nothing that was set.
//
// Safe from any thread. Observers of a key are called on the thread that set
// the value, after the change, and only when the key's value really changed.
class Settings
{
public:
    explicit Settings(const QString &filePath);
    ~Settings();
    Settings(const Settings &) = delete;
    Settings &operator=(const Settings &) = delete;

    // The process's store (paths::settingsFilePath()), with the defaults of
    // every key registered before it is handed out.
    static Settings &shared();

    QString filePath() const { return m_filePath; }

    void registerDefaults(const QVariantHash &defaults);

    // The stored value, else the registered default, else an invalid QVariant.
    QVariant value(const QString &key) const;
    bool hasStoredValue(const QString &key) const;
    void setValue(const QString &key, const QVariant &value);
    void removeValue(const QString &key);

    qint64 integer(const QString &key) const;
    double real(const QString &key) const;
    bool boolean(const QString &key) const;
    QString string(const QString &key) const;
    // None when the key holds no colour archive.
    std::optional<CommonColor> color(const QString &key) const;
    void setColor(const QString &key, const CommonColor &color);

    using Observer = std::function<void(const QVariant &newValue)>;
    NotificationCenter::Token observe(const QString &key, Observer observer);
    void removeObserver(NotificationCenter::Token token);

private:
    void persist(const QString &key, const QVariant *value);
    void changed(const QString &key, const QVariant &before);

    const QString m_filePath;
    mutable std::mutex m_mutex;
    QVariantHash m_stored;
    QVariantHash m_defaults;
    NotificationCenter m_observers;
};

} // namespace corvane
