#include "datasource.h"

#include "applifetimepropertymanager.h"
#include "category.h"
#include "context.h"
#include "dataitem.h"
#include "keyword.h"
#include "keywordhelper.h"
#include "objectstore.h"
#include "recordevents.h"

#include "base/clock.h"
#include "base/dateformat.h"
#include "base/corvaneassert.h"
#include "base/digest.h"
#include "base/dispatch.h"
#include "base/log.h"
#include "base/notificationcenter.h"
#include "base/settings.h"
#include "base/urltext.h"

#include <QDateTime>
#include <QLocale>

#include <execinfo.h>

namespace corvane {

namespace {

const QString kWasDisplayed = QStringLiteral("wasDisplayed");
const QString kEverUpdatedThisRun = QStringLiteral("everUpdatedThisRun");
const QString kLastRateLimitRemaining = QStringLiteral("lastRateLimitRemaining");
const QString kSoonestPossibleRefresh = QStringLiteral("soonestPossibleRefresh");
const QString kLastGoogleUpdate = QStringLiteral("lastGoogleUpdate");
const QString kFailedTries = QStringLiteral("failedTries");
const QString kRunning = QStringLiteral("running");
const QString kFetching = QStringLiteral("fetching");
const QString kShouldBeDeleted = QStringLiteral("shouldBeDeleted");

// A few frames of the current call stack, for the deletion trace.
QString callStack()
{
    void *frames[16];
    const int count = backtrace(frames, 16);
    char **symbols = backtrace_symbols(frames, count);
    QStringList lines;
    for (int i = 1; symbols && i < count; ++i)
        lines.append(QString::fromLocal8Bit(symbols[i]));
    free(symbols);
    return lines.join(u'\n');
}

std::optional<CommonColor> colorFrom(const QByteArray &bytes)
{
    return bytes.isEmpty() ? std::nullopt : CommonColor::fromArchive(bytes);
}

QVariant archived(const std::optional<CommonColor> &color)
{
    return color ? QVariant(color->archived()) : QVariant();
}

OptionalDate dateFrom(const QVariant &value)
{
    return value.isValid() ? OptionalDate(value.toDouble()) : std::nullopt;
}

} // namespace

const QString kDatasourcesChangedNotification = QStringLiteral("kNotificationDatasourcesChanged");
const QString kDatasourceConfigurationDidChangeNotification = QStringLiteral("DatasourceConfigurationDidChangeNotification");

Datasource::Datasource(Context *context, ObjectID id)
    : Record(context, id)
{
}

QString Datasource::uuidForUrl(const QString &url)
{
    return MD5(url);
}

Category *Datasource::category() const
{
    return static_cast<Category *>(related(CategoryRef));
}

void Datasource::setCategory(const Category *category)
{
    setRelated(CategoryRef, category);
}

std::optional<CommonColor> Datasource::backgroundColor() const
{
    return colorFrom(blobValue(BackgroundColor));
}

void Datasource::setBackgroundColor(const std::optional<CommonColor> &color)
{
    setValue(BackgroundColor, archived(color));
}

std::optional<CommonColor> Datasource::fontColor() const
{
    return colorFrom(blobValue(FontColor));
}

void Datasource::setFontColor(const std::optional<CommonColor> &color)
{
    setValue(FontColor, archived(color));
}

QList<DataItem *> Datasource::items() const
{
    return context()->fetchAs<DataItem>(
        Query{Entity::DataItem, Predicate::equal(QStringLiteral("datasource"), QVariant::fromValue(objectID()))});
}

// Keyed by the permanent URI so both contexts see the same value; a record
// not saved yet has a key of its own until then.
QVariant Datasource::lifetimeValue(const QString &property) const
{
    const QString uri = context()->store().uriForID(objectID());
    return uri.isEmpty() ? QVariant() : AppLifetimePropertyManager::shared().value(uri, property);
}

void Datasource::setLifetimeValue(const QString &property, const QVariant &value)
{
    const QString uri = context()->store().uriForID(objectID());
    if (!uri.isEmpty())
        AppLifetimePropertyManager::shared().setValue(uri, property, value);
}

bool Datasource::wasDisplayed() const { return lifetimeValue(kWasDisplayed).toBool(); }
void Datasource::setWasDisplayed(bool value) { setLifetimeValue(kWasDisplayed, value); }
bool Datasource::everUpdatedThisRun() const { return lifetimeValue(kEverUpdatedThisRun).toBool(); }
void Datasource::setEverUpdatedThisRun(bool value) { setLifetimeValue(kEverUpdatedThisRun, value); }
qint32 Datasource::lastRateLimitRemaining() const { return lifetimeValue(kLastRateLimitRemaining).toInt(); }
void Datasource::setLastRateLimitRemaining(qint32 value) { setLifetimeValue(kLastRateLimitRemaining, value); }
OptionalDate Datasource::soonestPossibleRefresh() const { return dateFrom(lifetimeValue(kSoonestPossibleRefresh)); }
void Datasource::setSoonestPossibleRefresh(OptionalDate date)
{
    setLifetimeValue(kSoonestPossibleRefresh, date ? QVariant(*date) : QVariant());
}
OptionalDate Datasource::lastGoogleUpdate() const { return dateFrom(lifetimeValue(kLastGoogleUpdate)); }
void Datasource::setLastGoogleUpdate(OptionalDate date)
{
    setLifetimeValue(kLastGoogleUpdate, date ? QVariant(*date) : QVariant());
}

QString Datasource::infoString() const
{
    const QString error = errorString();
    if (!error.isEmpty())
        return error;
    const OptionalDate updated = lastUpdateDate();
    if (!updated)
        return QStringLiteral("Never updated");
    return QStringLiteral("Updated at %1").arg(localDateText(*updated, DateStyle::Medium, DateStyle::Medium));
}

QString Datasource::visibleName() const
{
    for (const QString &candidate : {customName(), name(), url()})
        if (!candidate.isEmpty())
            return candidate;
    return QString();
}

qint32 Datasource::limitOrDefault() const
{
    const qint32 own = limit();
    return own != 0 ? own : qint32(Settings::shared().integer(QStringLiteral("limit")));
}

qint32 Datasource::ageLimitOrDefault() const
{
    const qint32 own = ageLimit();
    return own != 0 ? own : qint32(Settings::shared().integer(QStringLiteral("ageLimit")));
}

bool Datasource::updateData()
{
    CORVANE_ASSERT(false, "YOU MUST IMPLEMENT Datasource selector updatedata");
    return false;
}

QVariant Datasource::getUserDefaultsForKey(const QString &key, bool returnNil) const
{
    const QVariant own = value(QStringView(key));
    const bool unset = !own.isValid() || (own.typeId() != QMetaType::QByteArray && own.toDouble() == 0
                                          && own.typeId() != QMetaType::QString)
                       || (own.typeId() == QMetaType::QString && own.toString().isEmpty());
    if (!unset)
        return own;
    if (returnNil)
        return QVariant();
    return Settings::shared().value(key);
}

void Datasource::updateWithConfiguration(const QVariantMap &configuration)
{
    if (configuration.isEmpty()) {
        setEnabled(true);
        return;
    }
    if (configuration.contains(QStringLiteral("url")))
        setUrl(configuration.value(QStringLiteral("url")).toString());
    if (configuration.contains(QStringLiteral("name")))
        setName(configuration.value(QStringLiteral("name")).toString());
    if (configuration.contains(QStringLiteral("customName")))
        setCustomName(configuration.value(QStringLiteral("customName")).toString());
    setEnabled(configuration.value(QStringLiteral("enabled"), true).toBool());
}

void Datasource::updateMark()
{
    updateMarks(context(), {this});
}

// Reads only the items whose mark can change: of a subscription whose name a
// keyword matches, the unmarked ones; of the others, the marked ones and those
// whose own text mentions a keyword. A rename of subscriptions with many items
// then reads a handful of them instead of all, in two queries for any number.
void Datasource::updateMarks(Context *context, const QList<Datasource *> &datasources)
{
    const QList<Keyword *> keywords = KeywordHelper::shared().keywordsForContext(context);
    QList<Predicate> mentions{Predicate::equal(QStringLiteral("mark"), true)};
    QList<Predicate> nameMentions;
    for (const Keyword *keyword : keywords) {
        const QString &text = keyword->name();
        mentions.append(Predicate::containsCD(QStringLiteral("title"), text));
        mentions.append(Predicate::containsCD(QStringLiteral("itemDescription"), text));
        nameMentions.append(Predicate::containsCD(QStringLiteral("name"), text));
        nameMentions.append(Predicate::containsCD(QStringLiteral("customName"), text));
    }
    const Predicate namedByKeyword = Predicate::orAny(nameMentions);
    QVariantList named, others;
    for (const Datasource *datasource : datasources) {
        const bool matches = !nameMentions.isEmpty()
                             && namedByKeyword.evaluate([datasource](QStringView key) {
                                    return datasource->valueForKeyPath(key);
                                });
        (matches ? named : others).append(QVariant::fromValue(datasource->objectID()));
    }
    const auto remark = [context](const QVariantList &ids, const Predicate &changeable) {
        if (ids.isEmpty())
            return;
        const Predicate which = Predicate::in(QStringLiteral("datasource"), ids) && changeable;
        for (DataItem *item : context->fetchAs<DataItem>(Query{Entity::DataItem, which}))
            item->updateMark();
    };
    remark(named, Predicate::notEqual(QStringLiteral("mark"), true));
    remark(others, Predicate::orAny(mentions));
}

void Datasource::checkMarkForItem(DataItem *item)
{
    item->updateMark();
}

void Datasource::addItem(DataItem *item)
{
    item->updateMark();
    item->setDatasource(this);
}

void Datasource::markItem(DataItem *item)
{
    item->setMark(true);
}

void Datasource::unmarkItems()
{
    for (DataItem *item : items())
        if (item->mark())
            item->setMark(false);
}

void Datasource::sync()
{
    if (!context()->hasChanges())
        return;
    context()->save();
    NotificationCenter::defaultCenter().post(kDatasourceConfigurationDidChangeNotification, this);
}

void Datasource::setupUuid()
{
    if (isDeleted() || !uuid().isEmpty() || url().isEmpty())
        return;
    setUuid(uuidForUrl(url()));
}

void Datasource::updateTimestamp()
{
    if (isDeleted() || isChanged(Clock))
        return;
    for (int attribute : {CustomName, Position, Url, Enabled, CategoryRef})
        if (isChanged(attribute)) {
            setClock(Clock::sharedClock().currentIncreased());
            return;
        }
}

void Datasource::deleteObjectByUser()
{
    SyncDeletion::post(this, true);
    context()->deleteObject(this);
}

void Datasource::prepareForDeletion()
{
    if (logLevelEnabled(2))
        logAtLevel(2, QStringLiteral("deletion of %1 trace: %2").arg(visibleName(), callStack()));
    if (auto *feed = dynamic_cast<RSSDatasource *>(this))
        feed->shouldBeDeleted.fetch_or(1);
    setLifetimeValue(kShouldBeDeleted, true);
}

bool Datasource::isBeingDeleted(const QString &uri)
{
    return !uri.isEmpty() && AppLifetimePropertyManager::shared().value(uri, kShouldBeDeleted).toBool();
}

namespace {
thread_local int t_explicitPositions = 0;
}

Datasource::ExplicitPositionScope::ExplicitPositionScope() { ++t_explicitPositions; }
Datasource::ExplicitPositionScope::~ExplicitPositionScope() { --t_explicitPositions; }

void Datasource::awakeFromInsert()
{
    if (position() != 0 || t_explicitPositions > 0)
        return;
    Query query{Entity::Datasource, Predicate(), {{QStringLiteral("position"), false}}};
    query.fetchLimit = 1;
    query.includesPendingChanges = true;
    double highest = 0;
    for (Record *record : context()->fetch(query))
        if (record != this)
            highest = std::max(highest, static_cast<Datasource *>(record)->position());
    setPosition(highest + 1);
}

void Datasource::setUrl(const QString &url)
{
    if (url == this->url() && !url.isNull())
        return;
    setValue(Url, url);
    if (!httpETag().isEmpty())
        setHttpETag({});
    if (!httpLastModified().isEmpty())
        setHttpLastModified({});
}

void Datasource::willSave()
{
    if (isChanged(Name) && !name().isNull()) {
        const QString trimmed = trimWhiteSpaceAndNewlines(name()).toString();
        if (trimmed != name())
            setName(trimmed);
    }
    if (isChanged(CategoryRef))
        dispatch::main().async([] { NotificationCenter::defaultCenter().post(kDatasourcesChangedNotification); });
    if (isChanged(Name) || isChanged(CustomName)) {
        // Once for every subscription this save renames.
        static const char kRemarkRenamed = 0;
        context()->beforeWrite(&kRemarkRenamed, [context = context()] {
            QList<Datasource *> renamed;
            for (Record *record : context->changedObjects())
                if (record->entity() == Entity::Datasource && !record->isDeleted()
                    && (record->isChanged(Name) || record->isChanged(CustomName)))
                    renamed.append(static_cast<Datasource *>(record));
            updateMarks(context, renamed);
        });
    }
    setupUuid();
    updateTimestamp();
}

RSSDatasource::RSSDatasource(Context *context, ObjectID id)
    : Datasource(context, id)
{
}

bool RSSDatasource::isTwitterUrl(const QString &url)
{
    return !url.isEmpty() && (url.startsWith(u'@') || url.startsWith(u'#'));
}

bool RSSDatasource::updateData()
{
    // The feed engine observes the request and starts the refresh when the
    // subscription is due; a feed always lets the round go on.
    NotificationCenter::defaultCenter().post(kRefreshRequestedNotification, this);
    return true;
}

qint32 RSSDatasource::failedTries() const { return lifetimeValue(kFailedTries).toInt(); }
void RSSDatasource::setFailedTries(qint32 value) { setLifetimeValue(kFailedTries, value); }
bool RSSDatasource::isRunning() const { return lifetimeValue(kRunning).toBool(); }
void RSSDatasource::setRunning(bool value) { setLifetimeValue(kRunning, value); }
bool RSSDatasource::isFetching() const { return lifetimeValue(kFetching).toBool(); }
void RSSDatasource::setFetching(bool value) { setLifetimeValue(kFetching, value); }

} // namespace corvane
