#include "feeds/subscriptions/subscriptionlist.h"

#include "feeds/refresh/commonimage.h"

#include "base/clock.h"
#include "base/dispatch.h"
#include "base/notificationcenter.h"
#include "base/settings.h"
#include "base/urltext.h"
#include "store/category.h"
#include "store/context.h"
#include "store/datasource.h"
#include "store/query.h"
#include "store/storemanager.h"

#include <QHash>

#include <algorithm>

namespace corvane::subscriptionlist {
namespace {

const QString kDefaultFeedsAlreadyCreated = QStringLiteral("DefaultFeedsAlreadyCreated");

struct DefaultFeed
{
    const char *category;
    const char *name;
    const char *url;
    const char *image;
};

const DefaultFeed kDefaultFeeds[] = {
    {"News", "USA TODAY", "http://rssfeeds.usatoday.com/usatoday-NewsTopStories", "usatoday"},
    {"Tech", "Engadget", "https://www.engadget.com/rss.xml", "engadget"},
    {"Tech", "Apple Hot News", "https://www.apple.com/main/rss/hotnews/hotnews.rss", nullptr},
    {"Sport", "ESPN", "https://www.espn.com/espn/rss/news", "espn"},
};

} // namespace

QList<Datasource *> datasourcesForContext(Context *context)
{
    Query query{Entity::Datasource, Predicate(), {{QStringLiteral("position"), true}}};
    return context->fetchAs<Datasource>(query);
}

RSSDatasource *addFeedWithURL(const QString &url, Context *context, Category *category)
{
    if (!isSubscribableAddress(url))
        return nullptr;
    const QList<Datasource *> candidates = category ? category->datasources() : datasourcesForContext(context);
    const std::optional<QUrl> wanted = feedURL(url);
    double highest = 0;
    for (Datasource *candidate : candidates) {
        highest = std::max(highest, candidate->position());
        const bool same = wanted ? feedURL(candidate->url()) == wanted : candidate->url() == url;
        if (same)
            if (auto *feed = dynamic_cast<RSSDatasource *>(candidate))
                return feed;
    }
    return insertFeed(url, context, category, highest + 1);
}

RSSDatasource *insertFeed(const QString &url, Context *context, Category *category, double position)
{
    Datasource::ExplicitPositionScope positioned;
    auto *datasource = context->insert<RSSDatasource>();
    datasource->setUrl(url);
    datasource->setEnabled(true);
    datasource->setPosition(position);
    datasource->setCategory(category);
    return datasource;
}

QStringList defaultSourceUrls()
{
    QStringList urls;
    for (const DefaultFeed &feed : kDefaultFeeds)
        urls.append(QString::fromLatin1(feed.url));
    return urls;
}

QStringList defaultCategoryNames()
{
    return Category::defaultNames();
}

bool shouldCreateDefaultDatasourcesFromContext(Context *context)
{
    Settings &settings = Settings::shared();
    if (settings.boolean(kDefaultFeedsAlreadyCreated))
        return false;
    const qint64 count = context->count(Query{Entity::Datasource, Predicate(), {}});
    settings.setValue(kDefaultFeedsAlreadyCreated, true);
    return count == 0;
}

void createDefaultDatasourcesFromContext(Context *context)
{
    QHash<QString, Category *> categories;
    double categoryPosition = 0;
    for (const QString &name : Category::defaultNames()) {
        auto *category = context->insert<Category>();
        category->setName(name);
        category->setPosition(++categoryPosition);
        category->setUuid(Category::uuidForDefaultName(name));
        category->setClock(Clock::defaultPast());
        categories.insert(name, category);
    }
    double position = 0;
    for (const DefaultFeed &feed : kDefaultFeeds) {
        auto *datasource = context->insert<RSSDatasource>();
        const QString name = QString::fromLatin1(feed.name);
        datasource->setUrl(QString::fromLatin1(feed.url));
        datasource->setName(name);
        datasource->setCustomName(name);
        datasource->setEnabled(true);
        datasource->setPosition(++position);
        datasource->setCategory(categories.value(QString::fromLatin1(feed.category)));
        if (feed.image)
            if (const auto image = CommonImage::imageNamed(QString::fromLatin1(feed.image)))
                datasource->setImageData(image->archive());
        datasource->setClock(Clock::defaultPast());
    }
    StoreManager::saveFromContext(context);
    dispatch::main().async([] { NotificationCenter::defaultCenter().post(kDatasourcesChangedNotification); });
}

} // namespace corvane::subscriptionlist
