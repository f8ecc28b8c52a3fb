#pragma once

#include "feeds/refresh/commonimage.h"

#include <QString>
#include <QUrl>

#include <optional>

namespace corvane {

class HttpFetcher;

// Finds a subscription's picture: the favicon at the site's host, else at
// its registered domain, else the "shortcut icon" its home page declares,
// else the feed's own channel image when that is small.
class IconLookup
{
public:
    static constexpr qsizetype kMaxChannelImageBytes = 99999;

    explicit IconLookup(HttpFetcher &fetcher);

    // `feedURL` is the address the feed was read from, `mainLink` the
    // channel's own link text, `channelImageUrl` its image (may be empty).
    std::optional<CommonImage> find(const QUrl &feedURL, const QString &mainLink, const QUrl &channelImageUrl);

private:
    std::optional<QByteArray> download(const QUrl &url, bool usingCache);

    HttpFetcher &m_fetcher;
};

} // namespace corvane
