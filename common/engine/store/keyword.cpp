#include "keyword.h"

#include "context.h"
#include "dataitem.h"
#include "datasource.h"
#include "recordevents.h"

#include "base/clock.h"

namespace corvane {

Keyword::Keyword(Context *context, ObjectID id)
    : Record(context, id)
{
}

const Predicate &Keyword::predicate() const
{
    if (!m_predicate)
        m_predicate = DataItem::filterPredicate(name());
    return *m_predicate;
}

QList<DataItem *> Keyword::items() const
{
    return context()->fetchAs<DataItem>(Query{Entity::DataItem, predicate()});
}

void Keyword::updateTimestamp()
{
    if (isDeleted() || isChanged(Clock) || changedAttributes().isEmpty())
        return;
    setClock(Clock::sharedClock().currentIncreased());
}

void Keyword::deleteObjectByUser()
{
    SyncDeletion::post(this, false);
    context()->deleteObject(this);
}

// Reads only the items whose mark can change, subscription by subscription;
// items of no subscription (rare) are all looked at.
void Keyword::updateMarkInContext(Context *context)
{
    Datasource::updateMarks(context, context->fetchAs<Datasource>(Query{Entity::Datasource}));
    for (DataItem *item :
         context->fetchAs<DataItem>(Query{Entity::DataItem, Predicate::isNull(QStringLiteral("datasource"))}))
        item->updateMark();
}

void Keyword::willSave()
{
    updateTimestamp();
}

} // namespace corvane
