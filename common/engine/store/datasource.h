#pragma once

#include "record.h"

#include "base/commoncolor.h"
#include "base/date.h"

#include <QList>
#include <QVariantMap>

#include <atomic>
#include <optional>

namespace corvane {

class Category;
class DataItem;

extern const QString kDatasourcesChangedNotification;              // "kNotificationDatasourcesChanged"
extern const QString kDatasourceConfigurationDidChangeNotification; // "DatasourceConfigurationDidChangeNotification"

// One subscription. Plain datasources (kind 0) exist for completeness; every
// subscription the application creates is an RSSDatasource (kind 1).
class Datasource : public Record
{
public:
    static constexpr Entity kEntity = Entity::Datasource;
    static constexpr int kKind = 0;
    enum Attribute {
        Kind, Url, Name, CustomName, Enabled, Position, CategoryRef, Limit, AgeLimit, RefreshRate,
        LastUpdateDate, ErrorString, BackgroundColor, FontColor, Image, GoogleSync, Sidebar, Uuid, Clock,
        HttpETag, HttpLastModified,
    };

    Datasource(Context *context, ObjectID id);

    static QString uuidForUrl(const QString &url);

    QString url() const { return stringValue(Url); }
    // A new address drops the validators of the old one.
    void setUrl(const QString &url);
    QString name() const { return stringValue(Name); }
    void setName(const QString &name) { setValue(Name, name); }
    // An empty custom name reads as none.
    QString customName() const { return stringValue(CustomName); }
    void setCustomName(const QString &name) { setValue(CustomName, name); }
    bool enabled() const { return boolValue(Enabled); }
    void setEnabled(bool enabled) { setValue(Enabled, enabled); }
    double position() const { return doubleValue(Position); }
    void setPosition(double position) { setValue(Position, position); }
    Category *category() const;
    void setCategory(const Category *category);
    qint32 limit() const { return qint32(integerValue(Limit)); }
    void setLimit(qint32 limit) { setValue(Limit, qint64(limit)); }
    qint32 ageLimit() const { return qint32(integerValue(AgeLimit)); }
    void setAgeLimit(qint32 days) { setValue(AgeLimit, qint64(days)); }
    qint32 refreshRate() const { return qint32(integerValue(RefreshRate)); }
    void setRefreshRate(qint32 minutes) { setValue(RefreshRate, qint64(minutes)); }
    OptionalDate lastUpdateDate() const { return optionalDouble(LastUpdateDate); }
    void setLastUpdateDate(OptionalDate date) { setValue(LastUpdateDate, date ? QVariant(*date) : QVariant()); }
    QString errorString() const { return stringValue(ErrorString); }
    void setErrorString(const QString &text) { setValue(ErrorString, text); }
    std::optional<CommonColor> backgroundColor() const;
    void setBackgroundColor(const std::optional<CommonColor> &color);
    std::optional<CommonColor> fontColor() const;
    void setFontColor(const std::optional<CommonColor> &color);
    // The icon's archived image bytes (see CommonImage); empty without one.
    QByteArray imageData() const { return blobValue(Image); }
    void setImageData(const QByteArray &bytes) { setValue(Image, bytes.isEmpty() ? QVariant() : QVariant(bytes)); }
    bool googleSync() const { return boolValue(GoogleSync); }
    void setGoogleSync(bool value) { setValue(GoogleSync, value); }
    bool sidebar() const { return boolValue(Sidebar); }
    void setSidebar(bool value) { setValue(Sidebar, value); }
    QString uuid() const { return stringValue(Uuid); }
    void setUuid(const QString &uuid) { setValue(Uuid, uuid); }
    qint64 clock() const { return integerValue(Clock); }
    void setClock(qint64 clock) { setValue(Clock, clock); }
    // "ETag" and "Last-Modified" of the feed document last read, as the
    // server sent them; empty when it sent none.
    QString httpETag() const { return stringValue(HttpETag); }
    void setHttpETag(const QString &tag) { setValue(HttpETag, tag.isEmpty() ? QVariant() : QVariant(tag)); }
    QString httpLastModified() const { return stringValue(HttpLastModified); }
    void setHttpLastModified(const QString &date) { setValue(HttpLastModified, date.isEmpty() ? QVariant() : QVariant(date)); }

    // The items of this subscription (unordered).
    QList<DataItem *> items() const;
    QList<DataItem *> visibleItems() const { return items(); }

    // Run-time values, shared by all contexts and kept while the process runs.
    bool wasDisplayed() const;
    void setWasDisplayed(bool value);
    bool everUpdatedThisRun() const;
    void setEverUpdatedThisRun(bool value);
    qint32 lastRateLimitRemaining() const;
    void setLastRateLimitRemaining(qint32 value);
    OptionalDate soonestPossibleRefresh() const;
    void setSoonestPossibleRefresh(OptionalDate date);
    OptionalDate lastGoogleUpdate() const;
    void setLastGoogleUpdate(OptionalDate date);

    // "Never updated", "Updated at <medium date and time>", or the error text.
    QString infoString() const;
    QString visibleName() const;
    qint32 limitOrDefault() const;
    qint32 ageLimitOrDefault() const;

    virtual bool isTwitter() const { return false; }
    virtual bool currentlyVisible() const { return false; }
    // Starts a refresh; every kind of subscription that can refresh provides it.
    virtual bool updateData();

    // The subscription's own value for a settings key ("fontColor", "limit"...);
    // none or 0 counts as unset. Unset gives none when returnNil is set,
    // else the setting of the same name (colours as CommonColor archives).
    QVariant getUserDefaultsForKey(const QString &key, bool returnNil) const;

    // Takes the subscription's part of a configuration of the older,
    // settings-based format ("name", "customName", "enabled", "uuid").
    void updateWithConfiguration(const QVariantMap &configuration);

    void updateMark();
    // The marks of the items of all those subscriptions, recomputed.
    static void updateMarks(Context *context, const QList<Datasource *> &datasources);
    void checkMarkForItem(DataItem *item);
    void addItem(DataItem *item);
    void markItem(DataItem *item);
    void unmarkItems();

    // Saves the context when it has changes and tells the interface.
    void sync();

    void setupUuid();
    void updateTimestamp();
    void deleteObjectByUser();

    void awakeFromInsert() override;
    void willSave() override;

    // While one lives on this thread, new subscriptions skip the search for
    // the next free position: their creator sets one (imports make thousands).
    class ExplicitPositionScope
    {
    public:
        ExplicitPositionScope();
        ~ExplicitPositionScope();
        ExplicitPositionScope(const ExplicitPositionScope &) = delete;
        ExplicitPositionScope &operator=(const ExplicitPositionScope &) = delete;
    };
    // Marks a refresh in flight so that it stores nothing.
    void prepareForDeletion() override;

    // Whether the subscription is being deleted; readable from any thread by
    // its permanent URI (a refresh checks it before it stores anything).
    static bool isBeingDeleted(const QString &uri);

protected:
    QVariant lifetimeValue(const QString &property) const;
    void setLifetimeValue(const QString &property, const QVariant &value);
};

// A feed (also used for Twitter streams, whose url starts with "@" or "#").
class RSSDatasource : public Datasource
{
public:
    static constexpr int kKind = 1;

    RSSDatasource(Context *context, ObjectID id);

    static bool isTwitterUrl(const QString &url);
    bool isTwitter() const override { return isTwitterUrl(url()); }
    bool updateData() override;

    qint32 failedTries() const;
    void setFailedTries(qint32 value);
    bool isRunning() const;
    void setRunning(bool value);
    bool isFetching() const;
    void setFetching(bool value);

    // Set while a refresh is running when the subscription should go away.
    std::atomic<quint32> shouldBeDeleted{0};
};

} // namespace corvane
