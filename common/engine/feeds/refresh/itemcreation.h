#pragma once

#include "base/date.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QUrl>

#include <memory>

namespace corvane {

class Context;
class DataItem;
class Query;
class RSSDatasource;

using ItemRecord = QHash<QString, QString>;

// Turns parsed item records into stored items of one subscription, on the
// subscription's context. A record is recognised by its guid, else by its
// item hash together with the same link and title; a recognised item is
// updated in place, anything else becomes a new item.
//
// The lookups find what a fetch including unsaved changes would find: the
// stored items that match and have no unsaved change, and the items with
// unsaved changes whose values in memory match. The context's own fetch
// judges every unsaved record of the context against each query, so a
// refresh of n new items would cost n * n evaluations; instead the unsaved
// items of the subscription are gathered once, indexed by guid and item
// hash, and kept up to date as records are stored. One object serves one
// store step: it must not be used after the context is saved or reset.
struct ItemCreation
{
    ItemCreation() = default;
    ItemCreation(RSSDatasource *datasource, QUrl feedURL, Date parseMoment);

    RSSDatasource *datasource = nullptr;
    QUrl feedURL;        // the document's address after redirects; resolves relative links
    Date parseMoment = 0; // shared by every item stored in one refresh

    DataItem *createDataItemFromDictionary(const ItemRecord &record) const;

    // The link a record's "link" is stored as: its canonical form, resolved
    // against the record's "xml:base" or else feedURL when relative.
    QString storedLink(const ItemRecord &record) const;
    // Copies the record's fields onto the item, writing only those that differ.
    void setItemByDictionary(DataItem *item, const ItemRecord &record) const;

private:
    struct UnsavedItems;
    UnsavedItems &unsavedItems() const;
    QList<DataItem *> itemsMatching(const Query &query, const QList<DataItem *> &unsavedCandidates) const;
    void noteUnsaved(DataItem *item) const;

    mutable std::shared_ptr<UnsavedItems> m_unsaved;
};

} // namespace corvane
