#include "dataitem.h"

#include "context.h"
#include "datasource.h"
#include "keywordhelper.h"
#include "recordevents.h"

#include "base/clock.h"
#include "base/dateformat.h"
#include "base/dispatch.h"
#include "base/htmlentities.h"
#include "base/notificationcenter.h"
#include "base/relativetime.h"
#include "base/settings.h"
#include "base/stringhash.h"
#include "base/urltext.h"

#include <QDateTime>
#include <QLocale>
#include <QStringList>

#include <atomic>
#include <mutex>

namespace corvane {

const QString kItemPropertiesChangedNotification = QStringLiteral("ItemPropertiesChanged");
const QString kDataItemTurnedIntoFaultNotification = QStringLiteral("DataItemTurnedIntoFault");

namespace {

std::mutex g_allReadLock;
std::optional<bool> g_allRead;

std::optional<QString> present(const QVariant &value)
{
    return value.isValid() ? std::optional<QString>(value.toString()) : std::nullopt;
}

// "@name" and "#tag" words of a tweet become links; a final "!", ",", "." or
// ":" stays outside the link.
QString linkTwitterWords(const QString &text)
{
    const bool inApp = Settings::shared().boolean(QStringLiteral("OpenInTwitterApp"));
    QString web = Settings::shared().string(QStringLiteral("TwitterWebBase"));
    if (web.isEmpty())
        web = QStringLiteral("https://twitter.com/");
    QStringList words = text.split(u' ');
    for (QString &word : words) {
        if (!word.startsWith(u'@') && !word.startsWith(u'#'))
            continue;
        QString trailing;
        if (word.size() > 1 && QStringView(u"!,.:").contains(word.back())) {
            trailing = word.back();
            word.chop(1);
        }
        const QString bare = word.mid(1);
        QString address;
        if (word.startsWith(u'@'))
            address = inApp ? QString(QStringLiteral("twitter://user?screen_name=") + bare) : QString(web + bare);
        else
            address = inApp ? QString(QStringLiteral("twitter://search?query=%23") + bare)
                            : QString(web + QStringLiteral("search?q=%23") + bare);
        word = QStringLiteral("<a href =\"%1\">%2</a>%3").arg(address, word, trailing);
    }
    return words.join(u' ');
}

} // namespace

DataItem::DataItem(Context *context, ObjectID id)
    : Record(context, id)
{
}

Datasource *DataItem::datasource() const
{
    return static_cast<Datasource *>(related(DatasourceRef));
}

void DataItem::setDatasource(const Datasource *datasource)
{
    setRelated(DatasourceRef, datasource);
}

void DataItem::setRead(bool read)
{
    if (isRead() == read)
        return;
    setValue(Read, read);
    setReadLocalStamp(Clock::sharedClock().currentIncreased());
    if (dispatch::isMainThread())
        context()->save();
    NotificationCenter::defaultCenter().post(kItemPropertiesChangedNotification, this);
}

void DataItem::setStarred(bool starred)
{
    if (isStarred() == starred)
        return;
    setValue(Starred, starred);
    if (dispatch::main().isCurrent())
        context()->save();
}

qint64 DataItem::calculateHash() const
{
    return calculateHashFromTitleAndLink(present(value(Title)), present(value(Link)));
}

void DataItem::updateHash()
{
    const qint64 hash = calculateHash();
    if (hash != itemHash())
        setValue(ItemHash, hash);
}

void DataItem::canonizeLink()
{
    const std::optional<QString> canonical = canonizedLinkFromLink(present(value(Link)));
    if (canonical && *canonical != link())
        setLink(*canonical);
}

void DataItem::updateMark()
{
    const QList<Keyword *> keywords = KeywordHelper::shared().keywordsForContext(context());
    for (Keyword *keyword : keywords) {
        if (!isInserted() && !context()->existingObject(objectID()))
            return;
        if (KeywordHelper::matches(keyword, this)) {
            if (!mark())
                setMark(true);
            return;
        }
    }
    if (mark())
        setMark(false);
}

QString DataItem::flatten(const QString &html)
{
    QString text;
    text.reserve(html.size());
    qsizetype i = 0;
    while (i < html.size()) {
        const qsizetype open = html.indexOf(u'<', i);
        if (open < 0) {
            text.append(QStringView(html).mid(i));
            break;
        }
        text.append(QStringView(html).mid(i, open - i));
        const qsizetype close = html.indexOf(u'>', open);
        if (close < 0)
            break;
        i = close + 1;
    }
    return trimWhiteSpaceAndNewlines(stringByDecodingHTMLEntities(text)).toString();
}

QString DataItem::visibleTitle() const
{
    const QString t = title();
    return flatten(t.isEmpty() ? itemDescription() : t);
}

QString DataItem::visibleDatasourceName() const
{
    const Datasource *source = datasource();
    if (!source)
        return QString();
    for (const QString &candidate : {source->customName(), source->name(), source->url()})
        if (!candidate.isEmpty())
            return candidate;
    return QString();
}

QString DataItem::visiblePreview() const
{
    QString text = previewContent();
    if (text.isEmpty())
        text = itemDescription();
    const Datasource *source = datasource();
    if (source && source->isTwitter())
        text = linkTwitterWords(text);
    const QString enclosure = enclosureUrl();
    if (!enclosure.isEmpty()) {
        const QString mime = enclosureMime();
        if (mime.startsWith(QLatin1String("audio"))) {
            const auto url = urlFromString(enclosure);
            const QString name = url ? url->fileName() : QStringLiteral("enclosure");
            text += QStringLiteral("<br><br><a href=\"%1\">%2</a>").arg(enclosure, name);
        } else if (mime.startsWith(QLatin1String("image"))) {
            text += QStringLiteral("<br><img src=\"%1\">").arg(enclosure);
        }
    }
    return text;
}

QString DataItem::visibleDate(Date now) const
{
    const OptionalDate date = Settings::shared().boolean(QStringLiteral("receiveTimeStamp")) ? orderingDate()
                                                                                             : originalDate();
    if (!date)
        return QString();
    if (dateIsToday(*date, now))
        return localDateText(*date, DateStyle::None, DateStyle::Short);
    return localDateText(*date, DateStyle::Medium, DateStyle::None);
}

QString DataItem::timeStampKey()
{
    return Settings::shared().boolean(QStringLiteral("receiveTimeStamp")) ? QStringLiteral("parsedDate")
                                                                         : QStringLiteral("originalDate");
}

Predicate DataItem::filterPredicate(const QString &text)
{
    return Predicate::containsCD(QStringLiteral("title"), text)
           || Predicate::containsCD(QStringLiteral("itemDescription"), text)
           || Predicate::containsCD(QStringLiteral("datasource.name"), text)
           || Predicate::containsCD(QStringLiteral("datasource.customName"), text);
}

std::optional<bool> DataItem::allRead()
{
    std::lock_guard lock(g_allReadLock);
    return g_allRead;
}

void DataItem::setAllRead(std::optional<bool> value)
{
    std::lock_guard lock(g_allReadLock);
    g_allRead = value;
}

namespace {
std::atomic<bool> g_feedlySignedIn{false};
}

bool DataItem::feedlySignedIn()
{
    return g_feedlySignedIn.load(std::memory_order_relaxed);
}

void DataItem::setFeedlySignedIn(bool signedIn)
{
    g_feedlySignedIn.store(signedIn, std::memory_order_relaxed);
}

void DataItem::willSave()
{
    if (isDeleted())
        return;
    canonizeLink();
    if (isInserted() || isChanged(Title) || isChanged(Link))
        updateHash();
    updateMark();
    if (feedlySignedIn()) {
        if (isChanged(Starred) && !pendingGoogleStarred())
            setPendingGoogleStarred(true);
        if (isChanged(Read) && !pendingGoogleRead())
            setPendingGoogleRead(true);
    }
    if (isChanged(Starred))
        NotificationCenter::defaultCenter().post(kItemStarSavingNotification, this,
                                                 {{QStringLiteral("link"), link()},
                                                  {QStringLiteral("starred"), isStarred()}});
    if (isChanged(Starred) && !isChanged(Clock))
        setClock(Clock::sharedClock().currentIncreased());
}

void DataItem::didSave()
{
    KeywordHelper::shared().didSaveFromContext(context());
}

void DataItem::didTurnIntoFault()
{
    if (dispatch::isMainThread())
        NotificationCenter::defaultCenter().post(kDataItemTurnedIntoFaultNotification);
}

} // namespace corvane
