#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QUrl>

namespace corvane {

// One HTTP request as a client of the network layer describes it. The
// "User-Agent" and "Accept-Encoding" headers are always set by the layer;
// a header given here with the same name replaces neither.
struct HttpRequest
{
    QUrl url; // http or https; user info answers an authentication challenge
    QByteArray method = QByteArrayLiteral("GET");
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body; // sent for any method when not empty (give a Content-Type header)
    double timeoutSeconds = 0; // without any data for this long the request fails; 0: the fetcher's setting
    bool usingCache = false;   // the HTTP cache may answer by the protocol's rules

    static HttpRequest get(const QUrl &url, bool usingCache = false)
    {
        HttpRequest request;
        request.url = url;
        request.usingCache = usingCache;
        return request;
    }
};

} // namespace corvane
