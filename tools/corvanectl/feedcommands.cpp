// add, remove, list-feeds, keywords.
#include "cli.h"
#include "jsonexport.h"

#include "base/urltext.h"
#include "feeds/refresh/datasourcemanager.h"
#include "feeds/subscriptions/subscriptionlist.h"
#include "store/category.h"
#include "store/context.h"
#include "store/datasource.h"
#include "store/keyword.h"
#include "store/keywordhelper.h"
#include "store/query.h"
#include "store/storemanager.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace corvane::cli {
namespace {

Category *categoryNamed(Context *context, const QString &name, bool create)
{
    const QList<Category *> categories =
        context->fetchAs<Category>(Query{Entity::Category, Predicate::equal(QStringLiteral("name"), name), {}});
    if (!categories.isEmpty() || !create)
        return categories.value(0);
    auto *category = context->insert<Category>();
    category->setName(name);
    category->setPosition(Category::maxPositionFromContext(context) + 1);
    return category;
}

QString describeFeed(const Datasource &datasource)
{
    QString line = QStringLiteral("%1  %2").arg(datasource.visibleName(), datasource.url());
    if (const Category *category = datasource.category())
        line += QStringLiteral("  [%1]").arg(category->name());
    if (!datasource.enabled())
        line += QStringLiteral("  (disabled)");
    return line;
}

Datasource *findFeed(DatasourceManager &engine, const QString &url)
{
    const std::optional<QUrl> wanted = feedURL(url);
    for (Datasource *datasource : engine.datasourcesForMain())
        if (datasource->url() == url || (wanted && feedURL(datasource->url()) == wanted))
            return datasource;
    return nullptr;
}

int addOne(DatasourceManager &engine, const QString &url, const std::optional<QString> &categoryName);

int add(Invocation &call)
{
    QString error;
    const std::optional<QString> categoryName = takeOption(call.args, QStringLiteral("--category"), &error);
    if (!error.isEmpty())
        return usageError(call, error);
    if (!hasArguments(call, 1, -1))
        return 2;
    for (const QString &url : std::as_const(call.args))
        if (!isSubscribableAddress(url))
            return fail(QStringLiteral("not a feed address: %1").arg(url));
    DatasourceManager &engine = call.engine(false);
    for (const QString &url : std::as_const(call.args))
        if (const int status = addOne(engine, url, categoryName))
            return status;
    return 0;
}

int addOne(DatasourceManager &engine, const QString &url, const std::optional<QString> &categoryName)
{
    Context *main = engine.contextMain();
    // Subscribed anywhere counts, not only in the category asked for.
    if (const Datasource *existing = findFeed(engine, url)) {
        out() << "already subscribed: " << describeFeed(*existing) << '\n';
        return 0;
    }
    Category *category = categoryName ? categoryNamed(main, *categoryName, true) : nullptr;
    RSSDatasource *datasource = subscriptionlist::addFeedWithURL(url, main, category);
    if (!datasource)
        return fail(QStringLiteral("not a feed address: %1").arg(url));
    if (!datasource->isInserted()) {
        out() << "already subscribed: " << describeFeed(*datasource) << '\n';
        return 0;
    }
    if (!StoreManager::saveFromContext(main))
        return fail(QStringLiteral("the subscription could not be saved"));
    NotificationCenter::defaultCenter().post(kDatasourcesChangedNotification);
    out() << "added: " << describeFeed(*datasource) << '\n';
    return 0;
}

int remove(Invocation &call)
{
    if (!hasArguments(call, 1, 1))
        return 2;
    DatasourceManager &engine = call.engine(false);
    Datasource *datasource = findFeed(engine, call.args[0]);
    if (!datasource)
        return fail(QStringLiteral("no subscription with the address %1").arg(call.args[0]));
    const QString description = describeFeed(*datasource);
    engine.deleteDatasourceOrCategory(datasource);
    out() << "removed: " << description << '\n';
    return 0;
}

// Shows or hides a category's or a subscription's tab in the bar's sidebar.
int sidebar(Invocation &call)
{
    if (!hasArguments(call, 2, 2))
        return 2;
    const QString &which = call.args[0];
    const QString &state = call.args[1];
    if (state != u"on" && state != u"off")
        return usageError(call, QStringLiteral("the state is on or off, not %1").arg(state));
    DatasourceManager &engine = call.engine(false);
    Context *main = engine.contextMain();
    Record *target = findFeed(engine, which);
    if (!target)
        for (Category *category : main->fetchAs<Category>(Query{Entity::Category}))
            if (category->name() == which)
                target = category;
    if (!target)
        return fail(QStringLiteral("no category or subscription %1").arg(which));
    target->setValue(QStringLiteral("sidebar"), state == u"on");
    if (!StoreManager::saveFromContext(main))
        return fail(QStringLiteral("the change could not be saved"));
    out() << "sidebar " << state << ": " << which << '\n';
    return 0;
}

int listFeeds(Invocation &call)
{
    const bool json = takeFlag(call.args, QStringLiteral("--json"));
    if (!hasArguments(call, 0, 0))
        return 2;
    DatasourceManager &engine = call.engine(false);
    const QList<Datasource *> datasources = engine.datasourcesForMain();
    if (json) {
        QJsonArray array;
        for (const Datasource *datasource : datasources)
            array.append(datasourceToJson(*datasource));
        out() << QJsonDocument(array).toJson(QJsonDocument::Indented);
        return 0;
    }
    for (const Datasource *datasource : datasources) {
        out() << describeFeed(*datasource);
        if (!datasource->errorString().isEmpty())
            out() << "  error: " << datasource->errorString();
        out() << '\n';
    }
    return 0;
}

int keywords(Invocation &call)
{
    DatasourceManager &engine = call.engine(false);
    Context *main = engine.contextMain();
    if (!call.args.isEmpty()) {
        QStringList names;
        for (const QString &name : std::as_const(call.args)) {
            const QString trimmed = name.trimmed();
            if (trimmed.isEmpty())
                return fail(QStringLiteral("a keyword cannot be empty"));
            names.append(trimmed);
        }
        if (!KeywordHelper::insertKeywords(names, main, false))
            return fail(QStringLiteral("the keywords could not be saved"));
    }
    for (const Keyword *keyword : KeywordHelper::shared().keywordsForContext(main))
        out() << keyword->name() << '\n';
    return 0;
}

} // namespace

const QList<Command> &feedCommands()
{
    static const QList<Command> commands = {
        {"add", "add URL... [--category NAME]",
         "Subscribes to feeds (the category is created when missing) and prints it, or the subscription "
         "that already has this address.",
         add},
        {"remove", "remove URL", "Deletes the subscription with this address and its items.", remove},
        {"list-feeds", "list-feeds [--json]", "Lists the subscriptions in their order.", listFeeds},
        {"sidebar", "sidebar CATEGORY|URL on|off", "Shows or hides the tab of a category or a subscription in the bar's sidebar.",
         sidebar},
        {"keywords", "keywords [NAME...]", "Prints the keywords; with names, makes the list exactly these first.",
         keywords},
    };
    return commands;
}

} // namespace corvane::cli
