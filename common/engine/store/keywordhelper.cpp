#include "keywordhelper.h"

#include "context.h"
#include "dataitem.h"
#include "keyword.h"

#include "base/clock.h"
#include "base/settings.h"

#include <QSet>

namespace corvane {

KeywordHelper &KeywordHelper::shared()
{
    static KeywordHelper helper;
    return helper;
}

const QStringList &KeywordHelper::defaultKeywords()
{
    static const QStringList names = {QStringLiteral("breaking news"), QStringLiteral("Apple")};
    return names;
}

bool KeywordHelper::isUsableName(const QString &name)
{
    return !name.trimmed().isEmpty();
}

QList<Keyword *> KeywordHelper::keywordsForContext(Context *context)
{
    {
        std::lock_guard lock(m_mutex);
        const auto it = m_cache.constFind(context);
        if (it != m_cache.cend()) {
            QList<Keyword *> live;
            for (Keyword *keyword : *it)
                if (!keyword->isDeleted())
                    live.append(keyword);
            return live;
        }
    }
    // Fetched outside the lock: each context is only used on its own queue.
    // A blank keyword (one may arrive from another machine) would match
    // every item, so it takes no part in matching.
    QList<Keyword *> fetched = context->fetchAs<Keyword>(
        Query{Entity::Keyword, Predicate(), {{QStringLiteral("position"), true}}});
    fetched.removeIf([](const Keyword *keyword) { return !isUsableName(keyword->name()); });
    std::lock_guard lock(m_mutex);
    m_cache.insert(context, fetched);
    return fetched;
}

void KeywordHelper::didSaveFromContext(Context *)
{
    std::lock_guard lock(m_mutex);
    m_cache.clear();
}

void KeywordHelper::forgetContext(Context *context)
{
    std::lock_guard lock(m_mutex);
    m_cache.remove(context);
}

bool KeywordHelper::matches(const Keyword *keyword, const DataItem *item)
{
    return keyword->predicate().evaluate([item](QStringView key) { return item->valueForKeyPath(key); });
}

bool KeywordHelper::insertKeywords(const QStringList &names, Context *context, bool clear)
{
    const QList<Keyword *> stored = context->fetchAs<Keyword>(
        Query{Entity::Keyword, Predicate(), {{QStringLiteral("position"), true}}});
    QStringList toAdd = names;
    toAdd.removeIf([](const QString &name) { return !isUsableName(name); });
    float highest = 0.0f;
    for (Keyword *keyword : stored) {
        if (isUsableName(keyword->name()) && names.contains(keyword->name())) {
            highest = std::max(highest, keyword->position());
            toAdd.removeAll(keyword->name());
        } else {
            keyword->deleteObjectByUser();
        }
    }
    QSet<QString> added;
    for (const QString &name : std::as_const(toAdd)) {
        if (added.contains(name))
            continue;
        added.insert(name);
        Keyword *keyword = context->insert<Keyword>();
        keyword->setName(name);
        highest += 1.0f;
        keyword->setPosition(highest);
        if (clear)
            keyword->setClock(Clock::defaultPast());
    }
    return context->save();
}

bool KeywordHelper::createDefaultKeywordsFromContext(Context *context)
{
    return insertKeywords(defaultKeywords(), context, true);
}

bool KeywordHelper::migrateKeywordsFromContext(Context *context)
{
    const QStringList legacy = Settings::shared().value(QStringLiteral("keywords")).toStringList();
    if (legacy.isEmpty())
        return false;
    return insertKeywords(legacy, context, true);
}

} // namespace corvane
