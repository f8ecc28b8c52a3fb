#pragma once

#include <QList>
#include <QString>
#include <QVariantMap>

#include <optional>

namespace corvane {

class Context;
class DataItem;

// Settings of the earlier, settings-based data format, and the markers the
// import leaves behind.
extern const QString kLegacyFeedsKey;                // "feeds": subscription configurations
extern const QString kLegacyStarredKey;              // "starred": item dictionaries with "DataSourceUrl"
extern const QString kLegacyKeywordsKey;             // "keywords": keyword texts
extern const QString kMigratedFromLegacyKey;         // "MigratedFromLegacyDatastore"
extern const QString kMigratedWithNoErrorKey;        // "MigratedFromLegacyDatastoreWithNoError"

// One item of a legacy item file. Its archived form (class "DataItem") holds
// the properties dictionary and then the marked, shown, read and hidden
// bytes, under the positional keys "$0" to "$4".
struct LegacyItem
{
    QVariantMap properties;
    bool marked = false;
    bool shown = false;
    bool read = false;
    bool hidden = false;

    // None when the archived value is not an item of that form.
    static std::optional<LegacyItem> fromArchived(const QVariant &archived);

    // "link" trimmed when that is a URL, else with all white space removed.
    std::optional<QString> link() const;
};

struct LegacyItemFile
{
    QList<LegacyItem> items;
    int skippedEntries = 0; // entries of the list that were no items
    QString error;          // set when the file as a whole could not be read
};

// Where the items of the subscription with this legacy "uuid" were kept: a
// file in the caches folder. Empty when the value is not a plain file name,
// so a settings value can never point the import (which deletes the file
// afterwards) anywhere else.
QString legacyItemFilePath(const QString &uuid);
LegacyItemFile readLegacyItemFile(const QString &path);

// New items in `context` from an archived item or a "starred" dictionary.
// An item that was hidden counts as read; orderingDate stays unset.
DataItem *migrateLegacyItem(const LegacyItem &legacy, Context *context);
DataItem *migrateLegacyDictionary(const QVariantMap &dictionary, Context *context);

// Carries the earlier format into the store, on `context` and its queue (the
// background context at start): the subscriptions of "feeds" with the items
// of their files, the starred items, the keywords; then sets both markers.
// Nothing in the store is replaced: known addresses and keywords are kept.
// Does nothing once "MigratedFromLegacyDatastore" is set.
void importLegacyDatastore(Context *context);

} // namespace corvane
