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
// save of an item, because marking runs for every item on every save.
class KeywordHelper
{
public:
    static KeywordHelper &shared();

    static const QStringList &defaultKeywords(); // "breaking news", "Apple"

    // The context's keywords in position order; deleted ones drop out.
    QList<Keyword *> keywordsForContext(Context *context);
    // Clears every context's list.
    void didSaveFromContext(Context *context);
    // Forgets a context that goes away or is reset.
    void forgetContext(Context *context);

    static bool matches(const Keyword *keyword, const DataItem *item);

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
