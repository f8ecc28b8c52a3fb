#pragma once

#include "predicate.h"
#include "record.h"

#include "base/date.h"

#include <optional>

namespace corvane {

class Datasource;

extern const QString kItemPropertiesChangedNotification;   // "ItemPropertiesChanged"
extern const QString kDataItemTurnedIntoFaultNotification; // "DataItemTurnedIntoFault"

// One news item.
class DataItem : public Record
{
public:
    static constexpr Entity kEntity = Entity::DataItem;
    static constexpr int kKind = 0;
    enum Attribute {
        DatasourceRef, Guid, ItemHash, Title, ItemDescription, PreviewContent, Link, EnclosureUrl, EnclosureMime,
        Creator, OriginalDate, ParsedDate, OrderingDate, Read, Starred, Deleted, Mark, PendingGoogleRead,
        PendingGoogleStarred, ReadLocalStamp, FeedlyId, Clock,
    };

    DataItem(Context *context, ObjectID id);

    Datasource *datasource() const;
    void setDatasource(const Datasource *datasource);
    QString guid() const { return stringValue(Guid); }
    void setGuid(const QString &guid) { setValue(Guid, guid); }
    qint64 itemHash() const { return integerValue(ItemHash); }
    QString title() const { return stringValue(Title); }
    void setTitle(const QString &title) { setValue(Title, title); }
    QString itemDescription() const { return stringValue(ItemDescription); }
    void setItemDescription(const QString &text) { setValue(ItemDescription, text); }
    QString previewContent() const { return stringValue(PreviewContent); }
    void setPreviewContent(const QString &text) { setValue(PreviewContent, text); }
    QString link() const { return stringValue(Link); }
    void setLink(const QString &link) { setValue(Link, link); }
    QString enclosureUrl() const { return stringValue(EnclosureUrl); }
    void setEnclosureUrl(const QString &url) { setValue(EnclosureUrl, url); }
    QString enclosureMime() const { return stringValue(EnclosureMime); }
    void setEnclosureMime(const QString &mime) { setValue(EnclosureMime, mime); }
    QString creator() const { return stringValue(Creator); }
    void setCreator(const QString &creator) { setValue(Creator, creator); }
    OptionalDate originalDate() const { return optionalDouble(OriginalDate); }
    void setOriginalDate(OptionalDate date) { setDate(OriginalDate, date); }
    OptionalDate parsedDate() const { return optionalDouble(ParsedDate); }
    void setParsedDate(OptionalDate date) { setDate(ParsedDate, date); }
    OptionalDate orderingDate() const { return optionalDouble(OrderingDate); }
    void setOrderingDate(OptionalDate date) { setDate(OrderingDate, date); }
    bool isRead() const { return boolValue(Read); }
    // Stamps readLocalStamp and announces a real change; saves on the main thread.
    void setRead(bool read);
    bool isStarred() const { return boolValue(Starred); }
    // Saves when called on the main queue.
    void setStarred(bool starred);
    bool isDeletedByUser() const { return boolValue(Deleted); }
    void setDeletedByUser(bool deleted) { setValue(Deleted, deleted); }
    bool mark() const { return boolValue(Mark); }
    void setMark(bool mark) { setValue(Mark, mark); }
    bool pendingGoogleRead() const { return boolValue(PendingGoogleRead); }
    void setPendingGoogleRead(bool value) { setValue(PendingGoogleRead, value); }
    bool pendingGoogleStarred() const { return boolValue(PendingGoogleStarred); }
    void setPendingGoogleStarred(bool value) { setValue(PendingGoogleStarred, value); }
    qint64 readLocalStamp() const { return integerValue(ReadLocalStamp); }
    void setReadLocalStamp(qint64 stamp) { setValue(ReadLocalStamp, stamp); }
    QString feedlyId() const { return stringValue(FeedlyId); }
    void setFeedlyId(const QString &id) { setValue(FeedlyId, id); }
    qint64 clock() const { return integerValue(Clock); }
    void setClock(qint64 clock) { setValue(Clock, clock); }

    // Per-process display flags of the ticker; not stored.
    bool shown = false;
    bool hidden = false;

    qint64 calculateHash() const;
    // Writes the hash only when it differs from the stored one.
    void updateHash();
    void canonizeLink();
    void updateMark();
    // While a Feedly account is signed in (the account tells), saving a
    // change of the star or the read state marks it pending for Feedly.
    static bool feedlySignedIn();
    static void setFeedlySignedIn(bool signedIn);

    QString visibleTitle() const;
    QString visibleDatasourceName() const;
    QString visiblePreview() const;
    // Short time for today's items, else medium date (the current locale).
    QString visibleDate(Date now = currentDate()) const;

    // "parsedDate" or "originalDate", by the "receiveTimeStamp" setting.
    static QString timeStampKey();
    // Case- and diacritic-insensitive search in title, description and both
    // subscription names.
    static Predicate filterPredicate(const QString &text);
    // Text outside tags, entities decoded, trimmed.
    static QString flatten(const QString &html);

    // The process-wide "everything is read" override of the badge counts.
    static std::optional<bool> allRead();
    static void setAllRead(std::optional<bool> value);

    void willSave() override;
    void didSave() override;
    void didTurnIntoFault() override;

private:
    void setDate(int attribute, OptionalDate date) { setValue(attribute, date ? QVariant(*date) : QVariant()); }
};

} // namespace corvane
