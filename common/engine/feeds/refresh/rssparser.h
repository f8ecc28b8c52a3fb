#pragma once

#include "feeds/refresh/itemcreation.h"

#include "base/date.h"
#include "feeds/refresh/commonimage.h"
#include "store/objectid.h"

#include <QList>
#include <QString>
#include <QUrl>

#include <memory>
#include <optional>

namespace corvane {

class HttpFetcher;
class RSSDatasource;
class StoreManager;
struct HttpResponse;

extern const QString kDatasourcesSubtleChangedNotification; // "kNotificationDatasourcesSubtleChanged"
// Posted after every refresh attempt, on the background queue; userInfo:
// "uri", "items" (records stored), "error" (text, empty after a success),
// "completed" (the attempt ran to its end).
extern const QString kRefreshAttemptFinishedNotification;

// One refresh of one feed: downloads the document, follows up to two RSS
// links of a web page, reads the feed, looks for an icon when the
// subscription has none, and stores the items on the background context.
// Created on the background queue, run once on a pool thread, discarded.
class RSSParser
{
public:
    static constexpr int kMaxDocumentsPerRefresh = 3;

    // Takes what the refresh needs from the subscription (background queue).
    RSSParser(RSSDatasource &datasource, std::shared_ptr<StoreManager> stores, HttpFetcher &fetcher);

    // Runs the whole refresh, store step included (pool thread).
    void update();

    // Whether readers pause after each element start (see
    // FeedDocumentReader::Options); on by default. Tests that read very
    // large documents through whole refreshes turn it off. Process-wide.
    static void setPausesPerElement(bool pauses);
    static bool pausesPerElement();

    // What the refresh came to (for the caller and tests).
    QString errorText() const { return m_errorText; }
    bool completed() const { return m_completed; }
    // The server answered the conditional GET with 304: nothing was read.
    bool notModified() const { return m_notModified; }
    int storedItemCount() const { return m_storedItems; }

private:
    void fetchAndRead(std::optional<HttpResponse> &lastResponse);
    void readTwitter();
    void store(const std::optional<HttpResponse> &response);

    std::shared_ptr<StoreManager> m_stores;
    HttpFetcher &m_fetcher;

    // Copied from the subscription when the parser is made.
    ObjectID m_datasourceID;
    QString m_uri;
    QString m_urlText;
    std::optional<QUrl> m_feedURL;
    qint32 m_failedTries = 0;
    bool m_hasIcon = false;
    QString m_name;
    qint32 m_ageLimit = 0;
    bool m_isTwitter = false;
    QString m_eTag;
    QString m_lastModified;

    // Where the document read last came from, after redirects.
    QUrl m_documentURL;
    QList<ItemRecord> m_records;
    QString m_channelName;
    std::optional<CommonImage> m_icon;
    QString m_errorText;
    bool m_completed = true;
    bool m_gotRecords = false;
    bool m_notModified = false;
    // Validators to store: those of a feed read straight from the
    // subscription's address, or none when it was a page linking one.
    std::optional<std::pair<QString, QString>> m_newValidators;
    int m_storedItems = 0;
};

} // namespace corvane
