#pragma once

#include "base/notificationcenter.h"
#include "store/objectid.h"

#include <QList>
#include <QObject>
#include <QSet>

#include <vector>

namespace corvane {
class Settings;
}

namespace corvane::desktop {

// The engine's events as signals of the main thread. Many events are posted
// on the background queue or a fetch thread, and the records they carry
// belong to the context of that thread: the bridge takes the records'
// identifiers where the event is posted and emits them later, queued on the
// main thread, so no receiver ever holds a pointer that a merge may free.
class EngineBridge : public QObject
{
    Q_OBJECT
public:
    explicit EngineBridge(Settings &settings, QObject *parent = nullptr);
    ~EngineBridge() override;

    // The bridge made last, while it lives.
    static EngineBridge *shared();

    // Emits settingChanged(key) after every change of that setting (once,
    // however often the key is asked for).
    void watchSetting(const QString &key);
    void watchSettings(const QStringList &keys);

Q_SIGNALS:
    // A save merged into the main context ("NotificationObjectsUpdated").
    void objectsUpdated(const QList<corvane::ObjectID> &inserted, const QList<corvane::ObjectID> &updated,
                        const QList<corvane::ObjectID> &deleted);
    void datasourcesChanged();
    void datasourceConfigurationChanged(corvane::ObjectID datasource);
    void itemsChangedFromCloud();
    // An item of the main context turned into a fault; null when the event named none.
    void itemTurnedIntoFault(corvane::ObjectID item);
    void itemPropertiesChanged(corvane::ObjectID item);
    void starChanged(corvane::ObjectID item);
    void keywordsChanged();
    void systemDidWake();
    void settingChanged(const QString &key);

private:
    void observe(const QString &name, std::function<void(const Notification &)> handler);
    void later(std::function<void()> emitter);

    Settings &m_settings;
    std::vector<ScopedObserver> m_observers;
    QList<quint64> m_settingTokens;
    QSet<QString> m_watchedSettings;
};

} // namespace corvane::desktop
