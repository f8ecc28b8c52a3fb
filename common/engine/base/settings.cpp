#include "settings.h"

#include "log.h"
#include "paths.h"
#include "settingsdefaults.h"

#include <QSettings>

namespace corvane {

namespace {

const QString kNewValue = QStringLiteral("new");

} // namespace

Settings::Settings(const QString &filePath)
    : m_filePath(filePath)
{
    QSettings file(m_filePath, QSettings::IniFormat);
    const QStringList keys = file.allKeys();
    for (const QString &key : keys)
        m_stored.insert(key, file.value(key));
    if (file.status() != QSettings::NoError)
        logLine(QStringLiteral("settings file %1 could not be read; starting from the defaults").arg(m_filePath));
}

Settings::~Settings() = default;

Settings &Settings::shared()
{
    static Settings *settings = [] {
        auto *s = new Settings(paths::settingsFilePath());
        registerStandardDefaults(*s);
        return s;
    }();
    return *settings;
}

void Settings::registerDefaults(const QVariantHash &defaults)
{
    std::lock_guard lock(m_mutex);
    m_defaults.insert(defaults);
}

QVariant Settings::value(const QString &key) const
{
    std::lock_guard lock(m_mutex);
    const auto it = m_stored.constFind(key);
    if (it != m_stored.cend())
        return *it;
    return m_defaults.value(key);
}

bool Settings::hasStoredValue(const QString &key) const
{
    std::lock_guard lock(m_mutex);
    return m_stored.contains(key);
}

void Settings::setValue(const QString &key, const QVariant &value)
{
    if (!value.isValid()) {
        removeValue(key);
        return;
    }
    QVariant before;
    {
        std::lock_guard lock(m_mutex);
        const auto it = m_stored.constFind(key);
        before = it != m_stored.cend() ? *it : m_defaults.value(key);
        m_stored.insert(key, value);
        persist(key, &value);
    }
    changed(key, before);
}

void Settings::removeValue(const QString &key)
{
    QVariant before;
    {
        std::lock_guard lock(m_mutex);
        if (!m_stored.contains(key))
            return;
        before = m_stored.take(key);
        persist(key, nullptr);
    }
    changed(key, before);
}

// Called with m_mutex held, so writes reach the file in the order they were made.
void Settings::persist(const QString &key, const QVariant *value)
{
    QSettings file(m_filePath, QSettings::IniFormat);
    if (value)
        file.setValue(key, *value);
    else
        file.remove(key);
    file.sync();
    if (file.status() != QSettings::NoError)
        logLine(QStringLiteral("error writing settings file %1").arg(m_filePath));
}

void Settings::changed(const QString &key, const QVariant &before)
{
    const QVariant now = value(key);
    // Values read back from the file are texts; compare them as texts so a
    // stored "5" and a newly set 5 count as the same value.
    if (before.isValid() == now.isValid() && before.toString() == now.toString()
        && before.toByteArray() == now.toByteArray())
        return;
    m_observers.post(key, nullptr, {{kNewValue, now}});
}

qint64 Settings::integer(const QString &key) const
{
    const QVariant v = value(key);
    bool ok = false;
    const qint64 n = v.toLongLong(&ok);
    if (ok)
        return n;
    // "0.5" stored for an integer key: truncate, as a number would be.
    const double d = v.toDouble(&ok);
    return ok ? qint64(d) : 0;
}

double Settings::real(const QString &key) const
{
    return value(key).toDouble();
}

bool Settings::boolean(const QString &key) const
{
    return value(key).toBool();
}

QString Settings::string(const QString &key) const
{
    return value(key).toString();
}

std::optional<CommonColor> Settings::color(const QString &key) const
{
    const QVariant v = value(key);
    if (v.typeId() != QMetaType::QByteArray)
        return std::nullopt;
    return CommonColor::fromArchive(v.toByteArray());
}

void Settings::setColor(const QString &key, const CommonColor &color)
{
    setValue(key, color.archived());
}

NotificationCenter::Token Settings::observe(const QString &key, Observer observer)
{
    return m_observers.addObserver(key, nullptr, [observer = std::move(observer)](const Notification &n) {
        observer(n.userInfo.value(kNewValue));
    });
}

void Settings::removeObserver(NotificationCenter::Token token)
{
    m_observers.removeObserver(token);
}

} // namespace corvane
