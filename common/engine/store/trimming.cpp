#include "trimming.h"

#include "context.h"
#include "datasource.h"
#include "objectstore.h"

#include "base/log.h"

namespace corvane {

namespace {

constexpr int kTrimBatchSize = 100;

} // namespace

Date earliestDateForAgeLimit(int days, Date now)
{
    return now - double(days) * 86400.0;
}

void purgeOutdatedItemsWithContext(Context *context, Date now)
{
    QString error;
    if (context->hasChanges() && !context->save(&error))
        logLine(QStringLiteral("error saving context: %1").arg(error));

    // Resets below drop every record, so keep only identifiers and limits.
    struct Target { ObjectID id; int ageLimit; };
    QList<Target> targets;
    for (Datasource *source : context->fetchAs<Datasource>(
             Query{Entity::Datasource, Predicate(), {{QStringLiteral("position"), true}}}))
        targets.append({source->objectID(), source->ageLimitOrDefault()});

    // The pass reads the rows of every subscription.
    const WholeTableReadScope scope(context->database());
    for (const Target &target : std::as_const(targets)) {
        Query query{Entity::DataItem,
                    Predicate::equal(QStringLiteral("starred"), false)
                        && Predicate::notEqual(QStringLiteral("orderingDate"), QVariant())
                        && Predicate::lessThan(QStringLiteral("orderingDate"), earliestDateForAgeLimit(target.ageLimit, now))
                        && Predicate::equal(QStringLiteral("datasource"), QVariant::fromValue(target.id))};
        query.includesPendingChanges = false;
        query.fetchLimit = kTrimBatchSize;
        for (QList<Record *> batch = context->fetch(query); !batch.isEmpty(); batch = context->fetch(query)) {
            for (Record *item : std::as_const(batch))
                context->deleteObject(item);
            if (!context->save(&error)) {
                logLine(QStringLiteral("error saving context: %1").arg(error));
                context->reset();
                return;
            }
            context->reset();
        }
    }
}

} // namespace corvane
