#include "previewtitle.h"

#include "base/settings.h"
#include "store/dataitem.h"
#include "store/datasource.h"

namespace corvane::desktop {

namespace {

// Feed addresses of Twitter searches, as subscribed from search pages.
bool isTwitterSearchFeed(const QString &url)
{
    for (const char *prefix : {"feed://search.twitter.com/", "http://search.twitter.com/"})
        if (url.startsWith(QLatin1String(prefix), Qt::CaseInsensitive))
            return true;
    return false;
}

QString twitterWebBase(const Settings &settings)
{
    QString web = settings.string(QStringLiteral("TwitterWebBase"));
    if (web.isEmpty())
        web = QStringLiteral("https://twitter.com/");
    if (!web.endsWith(u'/'))
        web += u'/';
    return web;
}

// The part of a tweet's link after the Twitter host and its slash.
QString afterTwitterHost(const QString &link)
{
    const qsizetype scheme = link.indexOf(QLatin1String("://"));
    const qsizetype slash = link.indexOf(u'/', scheme < 0 ? 0 : scheme + 3);
    return slash < 0 ? QString() : link.mid(slash + 1);
}

// The source's name for a title: its own name, else the feed's, else the address.
QString sourceName(const Datasource *source)
{
    return source ? source->visibleName() : QString();
}

PreviewTitle twitterTitle(const DataItem &item, const Datasource &source, const Settings &settings)
{
    const bool inApp = settings.boolean(QStringLiteral("OpenInTwitterApp"));
    const QString url = source.url();
    const QString link = item.link();
    if (url.startsWith(u'#') && link.contains(QLatin1String("/status"))) {
        const QString path = afterTwitterHost(link);
        const QString name = path.left(path.indexOf(QLatin1String("/status")));
        if (!name.isEmpty()) {
            const QString address = inApp ? QStringLiteral("twitter://user?screen_name=") + name
                                          : twitterWebBase(settings) + name;
            return {u'@' + name, address};
        }
    }
    if (url.startsWith(u'@')) {
        const QString name = url.mid(1);
        if (inApp) {
            const QString path = afterTwitterHost(link);
            const QString screenName = path.left(path.indexOf(u'/'));
            return {url, QStringLiteral("twitter://user?screen_name=") + screenName};
        }
        return {url, twitterWebBase(settings) + name};
    }
    return {sourceName(&source), {}};
}

} // namespace

QString PreviewTitle::html() const
{
    const QString escaped = text.toHtmlEscaped();
    if (link.isEmpty())
        return escaped;
    return QStringLiteral("<a href=\"%1\" style=\"color:#0088cc;text-decoration:none\">%2</a>")
        .arg(link.toHtmlEscaped(), escaped);
}

PreviewTitle previewTitle(const DataItem &item, const Settings &settings)
{
    const Datasource *source = item.datasource();
    if (item.visibleTitle().isEmpty())
        return {sourceName(source), {}};
    if (source && source->isTwitter())
        return twitterTitle(item, *source, settings);
    if (source && isTwitterSearchFeed(source->url()))
        return {sourceName(source).section(u' ', 0, 0), {}};
    if (!item.visiblePreview().isEmpty() && item.title().isEmpty())
        return {sourceName(source), {}};
    return {item.visibleTitle(), {}};
}

} // namespace corvane::desktop
