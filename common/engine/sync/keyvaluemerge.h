#pragma once

#include "sync/keyvaluerecord.h"

#include "store/objectid.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace corvane {
class Category;
class Context;
class DataItem;
class Datasource;
class Keyword;
} // namespace corvane

namespace corvane::sync {

// One pass of applying the store's records to the local entities of a
// context (the background context), on that context's queue: the identity
// maps are filled (fetchLocal), the records applied in the order
// categories, feeds, items, keywords (handleItems), and the maps dropped
// when the pass goes.
//
// Per record: a remembered local deletion at least as new hides it; a
// record older than the local entity sends the local version back
// (`sendBack`); otherwise it is applied, or deletes the entity.
class KeyValueMerge
{
public:
    using SendBack = std::function<void(const QString &key, const KeyValueRecord &record)>;

    KeyValueMerge(Context *context, SendBack sendBack);

    // Fills the requested maps anew; `keys` picks the items ("DataItem." keys).
    void fetchLocal(const QStringList *keys, bool categories, bool feeds, bool keywords);
    void fetchLocal(const QStringList &keys) { fetchLocal(&keys, true, true, false); }

    void handleItems(const KeyValueDictionary &dictionary);
    void handleRemoteKey(const QString &key, const KeyValueRecord &record);

    // Makes positions distinct where a merge left equal ones, in order of
    // `extraSort` (groups, when given) and position.
    static void fixPosition(Context *context, Entity entity, const QString &extraSort = {});

    // Whether a keyword was inserted or deleted by the pass.
    bool keywordsChanged() const { return m_keywordsChanged; }

    // Maps of the current pass (the first merge uploads from them).
    const QHash<QString, Category *> &categoriesByUuid() const { return m_categoriesByUuid; }
    const QHash<QString, Datasource *> &feedsByUuid() const { return m_feedsByUuid; }
    const QHash<QString, Keyword *> &keywordsByName() const { return m_keywordsByName; }

private:
    void handleCategory(const QString &uuid, const KeyValueRecord &record);
    void handleFeed(const QString &uuid, const KeyValueRecord &record);
    void handleDataItem(qint64 hash, const KeyValueRecord &record);
    void handleKeyword(const QString &key, const QString &name, const KeyValueRecord &record);
    // Remembers a deletion that arrived (the deletion memory and this pass's copy).
    void remember(const QString &key, qint64 stamp);

    Context *m_context;
    SendBack m_sendBack;
    bool m_fetched = false;
    bool m_keywordsChanged = false;
    const KeyValueDictionary *m_dictionary = nullptr; // while handleItems runs
    QHash<QString, qint64> m_deletedStamps;           // the deletion memory, read once per pass
    QHash<QString, Category *> m_categoriesByUuid;
    QHash<QString, Category *> m_categoriesByName;
    QHash<QString, Datasource *> m_feedsByUuid;
    QHash<QString, Datasource *> m_feedsByUrl;
    QHash<qint64, DataItem *> m_itemsByHash;
    QHash<QString, Keyword *> m_keywordsByName;
};

} // namespace corvane::sync
