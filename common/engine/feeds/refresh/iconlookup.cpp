#include "feeds/refresh/iconlookup.h"

#include "net/httpfetch.h"
#include "feeds/reading/htmllinks.h"

#include "base/urltext.h"

#include <QHostAddress>

namespace corvane {

IconLookup::IconLookup(HttpFetcher &fetcher)
    : m_fetcher(fetcher)
{
}

std::optional<QByteArray> IconLookup::download(const QUrl &url, bool usingCache)
{
    // Only web addresses: a page or feed must not point the lookup at a file.
    if (!isWebURL(url))
        return std::nullopt;
    return m_fetcher.dataFromURL(url, usingCache);
}

std::optional<CommonImage> IconLookup::find(const QUrl &feedURL, const QString &mainLink,
                                            const QUrl &channelImageUrl)
{
    QUrl site = feedURL;
    if (!mainLink.trimmed().isEmpty()) {
        const QUrl resolved(resolvedReference(mainLink.trimmed(), feedURL));
        if (resolved.isValid() && !resolved.host().isEmpty())
            site = resolved;
    }
    if (site.host().isEmpty())
        return std::nullopt;
    // The host with the site's port, when it names one: a site served on
    // another port keeps its icon there too.
    const QString host = site.port() > 0 ? QStringLiteral("%1:%2").arg(site.host()).arg(site.port()) : site.host();

    std::optional<CommonImage> icon;
    // Any answer at the host, even an error page, settles the favicon question.
    if (const auto bytes = download(QUrl(QStringLiteral("http://%1/favicon.ico").arg(host)), true)) {
        icon = CommonImage::fromBytes(*bytes);
    } else {
        // The registered domain of a name; an address has none.
        const QStringList parts = site.host().split(u'.');
        if (parts.size() >= 2 && QHostAddress(site.host()).isNull()) {
            const QUrl domainIcon(QStringLiteral("http://%1.%2/favicon.ico").arg(parts.at(parts.size() - 2), parts.last()));
            if (const auto domainBytes = download(domainIcon, false))
                icon = CommonImage::fromBytes(*domainBytes);
        }
    }
    if (icon)
        return icon;

    const QUrl homePage(QStringLiteral("http://%1/").arg(host));
    if (const auto page = download(homePage, true)) {
        if (const auto href = htmllinks::shortcutIconLink(*page)) {
            const QUrl iconUrl(resolvedReference(href->trimmed(), homePage));
            if (const auto bytes = download(iconUrl, false))
                icon = CommonImage::fromBytes(*bytes);
        }
    }
    if (icon)
        return icon;

    if (!channelImageUrl.isEmpty()) {
        if (const auto bytes = download(channelImageUrl, false); bytes && bytes->size() <= kMaxChannelImageBytes)
            icon = CommonImage::fromBytes(*bytes);
    }
    return icon;
}

} // namespace corvane
