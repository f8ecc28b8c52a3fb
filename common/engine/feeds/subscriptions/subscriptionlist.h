#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace corvane {

class Category;
class Context;
class Datasource;
class RSSDatasource;

// The subscription list of a context, for every part of the engine that
// adds to it or reads it (the datasource manager, OPML, the earlier data
// format). Each function runs on the context's queue.
namespace subscriptionlist {

// Every subscription, by position.
QList<Datasource *> datasourcesForContext(Context *context);

// The feed with that address (compared normalised) in the category, or at
// the top level without one; made when there is none, after the last one.
// Null for an address that is no feed address.
RSSDatasource *addFeedWithURL(const QString &url, Context *context, Category *category = nullptr);
// The creation step of adding, for callers that know the address is new.
RSSDatasource *insertFeed(const QString &url, Context *context, Category *category, double position);

// The first-run subscriptions and their categories.
QStringList defaultSourceUrls();
QStringList defaultCategoryNames();
// True once, on a store without subscriptions that has never had the defaults.
bool shouldCreateDefaultDatasourcesFromContext(Context *context);
void createDefaultDatasourcesFromContext(Context *context);

} // namespace subscriptionlist
} // namespace corvane
