#include "launchrules.h"

#include "platform/schemehandler.h"

#include <QUrl>

#include <algorithm>

#ifndef CORVANE_BUILD_VERSION
#error "CORVANE_BUILD_VERSION must be defined by the build"
#endif

namespace corvane::desktop::launchrules {

int currentVersion()
{
    return CORVANE_BUILD_VERSION;
}

bool whatsNewDue(const QVariant &previousVersion, int currentVersion)
{
    bool ok = false;
    const qlonglong previous = previousVersion.toLongLong(&ok);
    return (ok ? previous : 0) < currentVersion;
}

bool ratingDue(const QVariant &rateVersion)
{
    return !rateVersion.isValid() || rateVersion.isNull() || rateVersion.toString().isEmpty();
}

HandlerAction handlerAction(bool checkOnStartup, const QList<schemehandler::Handler> &handlers,
                            const QString &defaultHandler, const QString &ownId)
{
    if (!checkOnStartup)
        return HandlerAction::TakeScheme;
    const bool onlyOurs = std::all_of(handlers.begin(), handlers.end(),
                                      [&](const schemehandler::Handler &h) { return h.desktopId == ownId; });
    if (handlers.isEmpty() || onlyOurs || defaultHandler.isEmpty())
        return HandlerAction::TakeScheme;
    return defaultHandler == ownId ? HandlerAction::Nothing : HandlerAction::Ask;
}

UrlRoute routeUrl(const QString &url)
{
    const QString text = url.trimmed();
    if (text.isEmpty())
        return {};
    if (text.startsWith(QLatin1String("pocket"), Qt::CaseInsensitive)
        || text.startsWith(QLatin1String("corvane-pocket:"), Qt::CaseInsensitive))
        return {UrlRoute::Pocket, text};
    if (text.startsWith(QLatin1String("feed:"), Qt::CaseInsensitive)) {
        const QString rest = text.mid(5);
        const QUrl parsed(rest, QUrl::StrictMode);
        if (!rest.startsWith(QLatin1String("//")) && parsed.isValid() && !parsed.scheme().isEmpty())
            return {UrlRoute::Feed, rest};
    }
    return {UrlRoute::Feed, text};
}

} // namespace corvane::desktop::launchrules
