#pragma once

#include <QHash>
#include <QList>
#include <QStringList>

#include <mutex>

namespace corvane {

class Context;
class DataItem;
class Keyword;

// The keyword list of each context, fetched once and kept until the next
// save of an item, because marking runs for every item on every save. A
// save or merge that touches a keyword clears the lists as well: they would
// hold records the store has let go of, and miss new keywords.
class KeywordHelper
{
public:
    static KeywordHelper &shared();

    static const QStringList &defaultKeywords(); // "breaking news", "Apple"

    // The context's keywords in position order; deleted and blank ones drop out.
    QList<Keyword *> keywordsForContext(Context *context);
    // Clears every context's list.
    void didSaveFromContext(Context *context);
    // Forgets a context that goes away or is reset.
    void forgetContext(Context *context);

    static bool matches(const Keyword *keyword, const DataItem *item);
    // Empty and all-white names are no keywords: they would match every item.
    static bool isUsableName(const QString &name);

    // Makes the stored keywords equal to `names` and saves. With `clear`
    // set, new keywords take the default-past stamp so that any copy from
    // the cloud wins over them.
    static bool insertKeywords(const QStringList &names, Context *context, bool clear);
    static bool createDefaultKeywordsFromContext(Context *context);
    // Imports the "keywords" setting of the older format when it holds any.
    static bool migrateKeywordsFromContext(Context *context);

private:
    std::mutex m_mutex;
    QHash<Context *, QList<Keyword *>> m_cache;
};

} // namespace corvane
