#pragma once

#include <QString>

// Error domains of the network layer and the engine above it, and the codes
// of the engine's own domain. Errors handed to callers carry a domain, a code
// and a short English description (FetchError in httpfetch.h).
namespace corvane {

// The engine's own errors.
inline const QString kCorvaneErrorDomain = QStringLiteral("Corvane");
// HTTP statuses other than success; the code is the status.
inline const QString kHTTPResponseErrorDomain = QStringLiteral("HTTPResponseDomain");
// Transport errors; the code is a QNetworkReply::NetworkError.
inline const QString kNetworkErrorDomain = QStringLiteral("QNetworkReply");

namespace corvaneerror {
// A refresh read no feed ("Invalid XML", "Error fetching").
constexpr int kRefreshFailed = 667;
// A body over HttpFetcher::kMaxBodyBytes after decompression.
constexpr int kDownloadTooLarge = 668;
// A gzip or deflate body that does not inflate.
constexpr int kUndecodableBody = 669;
// A URL of a scheme other than http and https; nothing was opened.
constexpr int kUnsupportedScheme = 670;
} // namespace corvaneerror

} // namespace corvane
