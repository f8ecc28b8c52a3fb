// Event sounds through libcanberra, which looks the event name up in the
// folders of the freedesktop sound theme and plays it on the sound
// server. One context serves the whole process; it connects to the sound
// server on first use and a missing server makes each play() fail quickly.
#include "eventsound.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#include <canberra.h>

#include <set>

namespace corvane::desktop::eventsound {

namespace {

constexpr char kFallbackTheme[] = "freedesktop";

ca_context *context()
{
    static ca_context *const shared = [] {
        ca_context *created = nullptr;
        if (ca_context_create(&created) != CA_SUCCESS)
            return static_cast<ca_context *>(nullptr);
        ca_context_change_props(created, CA_PROP_APPLICATION_NAME, "Corvane", CA_PROP_APPLICATION_ID,
                                "org.corvane.Corvane", nullptr);
        return created;
    }();
    return shared;
}

// The user's sound theme as GTK settings name it, empty when none is set.
QString userTheme()
{
    const QString file = QStandardPaths::locate(QStandardPaths::GenericConfigLocation,
                                                QStringLiteral("gtk-3.0/settings.ini"));
    if (file.isEmpty())
        return {};
    QSettings settings(file, QSettings::IniFormat);
    return settings.value(QStringLiteral("Settings/gtk-sound-theme-name")).toString().trimmed();
}

} // namespace

bool play(const QString &eventName)
{
    if (eventName.trimmed().isEmpty())
        return false;
    ca_context *shared = context();
    if (!shared)
        return false;
    const QByteArray id = eventName.toUtf8();
    return ca_context_play(shared, 0, CA_PROP_EVENT_ID, id.constData(), nullptr) == CA_SUCCESS;
}

QStringList availableSounds()
{
    QStringList themes;
    const QString user = userTheme();
    // A theme name is one folder name; anything else is not a theme.
    if (!user.isEmpty() && !user.contains(u'/') && user != QLatin1String(".."))
        themes.append(user);
    if (!themes.contains(QLatin1String(kFallbackTheme)))
        themes.append(QString::fromLatin1(kFallbackTheme));

    std::set<QString> names;
    const QStringList dataDirs = QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation);
    for (const QString &dataDir : dataDirs) {
        for (const QString &theme : std::as_const(themes)) {
            const QDir stereo(dataDir + QStringLiteral("/sounds/") + theme + QStringLiteral("/stereo"));
            const QFileInfoList files = stereo.entryInfoList(QDir::Files | QDir::Readable);
            for (const QFileInfo &file : files) {
                // "name.disabled" switches a sound off in a theme.
                const QString name = file.completeBaseName();
                if (!name.isEmpty() && !file.suffix().isEmpty() && file.suffix() != QLatin1String("disabled"))
                    names.insert(name);
            }
        }
    }
    return QStringList(names.begin(), names.end());
}

} // namespace corvane::desktop::eventsound
