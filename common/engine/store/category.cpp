#include "category.h"

#include "context.h"
#include "datasource.h"
#include "recordevents.h"

#include "base/clock.h"
#include "base/digest.h"

namespace corvane {

Category::Category(Context *context, ObjectID id)
    : Record(context, id)
{
}

const QStringList &Category::defaultNames()
{
    static const QStringList names = {QStringLiteral("News"), QStringLiteral("Tech"), QStringLiteral("Sport")};
    return names;
}

QString Category::uuidForDefaultName(const QString &name)
{
    return MD5(name);
}

QList<Datasource *> Category::datasources() const
{
    Query query{Entity::Datasource, Predicate::equal(QStringLiteral("category"), QVariant::fromValue(objectID())),
                {{QStringLiteral("position"), true}}};
    return context()->fetchAs<Datasource>(query);
}

int Category::enabledButtonState() const
{
    if (isDeleted() || (!isInserted() && !context()->existingObject(objectID())))
        return 0;
    const QList<Datasource *> list = datasources();
    qsizetype enabled = 0;
    for (const Datasource *datasource : list)
        if (datasource->enabled())
            ++enabled;
    if (enabled == 0)
        return 0;
    return enabled == list.size() ? 1 : -1;
}

void Category::setupUuid()
{
    if (isDeleted() || !uuid().isEmpty())
        return;
    setUuid(defaultNames().contains(name()) ? uuidForDefaultName(name()) : corvane::uuid());
}

void Category::updateTimestamp()
{
    if (isDeleted() || isChanged(Clock))
        return;
    for (int attribute : changedAttributes())
        if (attribute != Open && attribute != Uuid) {
            setClock(Clock::sharedClock().currentIncreased());
            return;
        }
}

void Category::deleteObjectByUser()
{
    SyncDeletion::post(this, true);
    context()->deleteObject(this);
}

float Category::maxPositionFromContext(Context *context)
{
    Query query{Entity::Category, Predicate(), {{QStringLiteral("position"), false}}};
    query.fetchLimit = 1;
    const QList<Record *> top = context->fetch(query);
    return top.isEmpty() ? 0.0f : float(static_cast<Category *>(top.first())->position());
}

void Category::willSave()
{
    setupUuid();
    updateTimestamp();
}

} // namespace corvane
