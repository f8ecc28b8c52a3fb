#include "urlhandler.h"

#include "base/log.h"
#include "base/urltext.h"
#include "feeds/refresh/datasourcemanager.h"

#include <QUrl>

namespace corvane::desktop {

QString addressOfFeedLink(const QString &link)
{
    const QString text = link.trimmed();
    if (!text.startsWith(QStringLiteral("feed:"), Qt::CaseInsensitive))
        return QString();
    QString rest = text.mid(5);
    if (rest.startsWith(QStringLiteral("//")))
        return QStringLiteral("http:") + rest;
    return rest;
}

int handleUrls(DatasourceManager &engine, const QStringList &urls)
{
    int added = 0;
    for (const QString &url : urls) {
        const QString feedLink = addressOfFeedLink(url);
        const QString address = feedLink.isEmpty() ? url.trimmed() : feedLink;
        const std::optional<QUrl> feed = feedURL(address);
        if (!feed || !isWebURL(*feed)) {
            logLine(QStringLiteral("Not a feed address: %1").arg(url.left(200)));
            continue;
        }
        if (engine.addFeedWithURL(feed->toString()))
            ++added;
    }
    return added;
}

} // namespace corvane::desktop
