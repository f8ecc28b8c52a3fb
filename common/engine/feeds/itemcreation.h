#pragma once

#include "base/date.h"

#include <QHash>
#include <QString>
#include <QUrl>

namespace corvane {

class Context;
class DataItem;
class RSSDatasource;

using ItemRecord = QHash<QString, QString>;

// Turns parsed item records into stored items of one subscription, on the
// subscription's context. A record is recognised by its guid, else by its
// item hash together with the same link and title; a recognised item is
// updated in place, anything else becomes a new item.
struct ItemCreation
{
    RSSDatasource *datasource = nullptr;
    QUrl feedURL;        // resolves links that start with "/"
    Date parseMoment = 0; // shared by every item stored in one refresh

    DataItem *createDataItemFromDictionary(const ItemRecord &record) const;

    // The link a record's "link" is stored as.
    QString storedLink(const ItemRecord &record) const;
    // Copies the record's fields onto the item, writing only those that differ.
    void setItemByDictionary(DataItem *item, const ItemRecord &record) const;
};

} // namespace corvane
