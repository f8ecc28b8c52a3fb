// list-items, star, unstar, read, unread, mark-all-read.
#include "cli.h"
#include "jsonexport.h"

#include "feeds/refresh/datasourcemanager.h"
#include "feeds/starmanager.h"
#include "feeds/visibleitems.h"
#include "store/context.h"
#include "store/dataitem.h"
#include "store/datasource.h"
#include "store/query.h"
#include "store/storemanager.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>

namespace corvane::cli {
namespace {

// The items the bar shows: those of enabled subscriptions the user did not delete.
Predicate barPredicate()
{
    return Predicate::equal(QStringLiteral("datasource.enabled"), true)
        && Predicate::equal(QStringLiteral("deleted"), false);
}

std::optional<qint64> parseHash(const QString &text)
{
    bool ok = false;
    const qint64 value = text.startsWith(u"0x") ? qint64(text.mid(2).toULongLong(&ok, 16)) : text.toLongLong(&ok);
    return ok ? std::optional<qint64>(value) : std::nullopt;
}

// The one item with this hash (the first in bar order when several
// subscriptions carry the same item).
DataItem *itemWithHashText(Invocation &call, Context *context, QString *error)
{
    const std::optional<qint64> hash = parseHash(call.args[0]);
    if (!hash) {
        *error = QStringLiteral("not an item hash: %1").arg(call.args[0]);
        return nullptr;
    }
    const QList<DataItem *> items = context->fetchAs<DataItem>(
        Query{Entity::DataItem, Predicate::equal(QStringLiteral("itemHash"), *hash), visibleitems::sortDescriptors()});
    if (items.isEmpty())
        *error = QStringLiteral("no item with the hash %1").arg(call.args[0]);
    return items.value(0);
}

QString describeItem(const DataItem &item)
{
    const OptionalDate date = item.orderingDate();
    const QString when = date ? QDateTime::fromSecsSinceEpoch(qint64(*date)).toString(QStringLiteral("yyyy-MM-dd HH:mm"))
                              : QStringLiteral("----------------");
    QString flags;
    flags += item.isStarred() ? u'*' : u' ';
    flags += item.isRead() ? u' ' : u'+';
    return QStringLiteral("%1 %2 %3  %4: %5  %6")
        .arg(when, flags, QString::number(item.itemHash()), item.visibleDatasourceName(), item.visibleTitle(), item.link());
}

int listItems(Invocation &call)
{
    const bool json = takeFlag(call.args, QStringLiteral("--json"));
    const bool all = takeFlag(call.args, QStringLiteral("--all"));
    if (!hasArguments(call, 0, 0))
        return 2;
    Context *main = call.engine(false).contextMain();
    Query query{Entity::DataItem, Predicate(), visibleitems::sortDescriptors()};
    query.prefetchDatasource = true;
    const QList<DataItem *> items = all ? main->fetchAs<DataItem>(query)
                                        : visibleitems::visibleDataItems(barPredicate(), visibleitems::sortDescriptors(), main);
    if (json) {
        QJsonArray array;
        for (const DataItem *item : items)
            array.append(itemToJson(*item));
        out() << QJsonDocument(array).toJson(QJsonDocument::Indented);
        return 0;
    }
    for (const DataItem *item : items)
        out() << describeItem(*item) << '\n';
    return 0;
}

int changeItem(Invocation &call, const std::function<void(DatasourceManager &, DataItem *)> &change)
{
    if (!hasArguments(call, 1, 1))
        return 2;
    DatasourceManager &engine = call.engine(false);
    QString error;
    DataItem *item = itemWithHashText(call, engine.contextMain(), &error);
    if (!item)
        return fail(error);
    change(engine, item);
    if (!StoreManager::saveFromContext(engine.contextMain()))
        return fail(QStringLiteral("the change could not be saved"));
    out() << describeItem(*item) << '\n';
    return 0;
}

int markAllRead(Invocation &call)
{
    if (!hasArguments(call, 0, 0))
        return 2;
    DatasourceManager &engine = call.engine(false);
    Context *background = engine.contextBackground();
    qint64 changed = 0;
    bool saved = true;
    // One save for all of them, off the main thread.
    background->performBlockConfinedAndWait([&] {
        const QList<DataItem *> unread = background->fetchAs<DataItem>(
            Query{Entity::DataItem, Predicate::equal(QStringLiteral("read"), false), {}});
        for (DataItem *item : unread)
            item->setRead(true);
        changed = unread.size();
        saved = StoreManager::saveFromContext(background);
    });
    if (!saved)
        return fail(QStringLiteral("the read states could not be saved"));
    out() << "marked " << changed << " items read\n";
    return 0;
}

} // namespace

const QList<Command> &itemCommands()
{
    static const QList<Command> commands = {
        {"list-items", "list-items [--json] [--all]",
         "Lists the items the bar shows, newest first; --all lists every stored item.", listItems},
        {"star", "star HASH", "Stars the item with this item hash (see list-items).",
         [](Invocation &call) {
             return changeItem(call, [](DatasourceManager &engine, DataItem *item) {
                 StarManager(engine.stores()).starItem(item);
             });
         }},
        {"unstar", "unstar HASH", "Removes the star of the item with this item hash.",
         [](Invocation &call) {
             return changeItem(call, [](DatasourceManager &engine, DataItem *item) {
                 StarManager(engine.stores()).unstarItem(item);
             });
         }},
        {"read", "read HASH", "Marks the item with this item hash read.",
         [](Invocation &call) {
             return changeItem(call, [](DatasourceManager &, DataItem *item) { item->setRead(true); });
         }},
        {"unread", "unread HASH", "Marks the item with this item hash unread.",
         [](Invocation &call) {
             return changeItem(call, [](DatasourceManager &, DataItem *item) { item->setRead(false); });
         }},
        {"mark-all-read", "mark-all-read", "Marks every item read.", markAllRead},
    };
    return commands;
}

} // namespace corvane::cli
