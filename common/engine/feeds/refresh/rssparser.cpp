#include "feeds/refresh/rssparser.h"

#include "feeds/reading/feeddocumentreader.h"
#include "feeds/reading/htmllinks.h"
#include "feeds/refresh/iconlookup.h"
#include "feeds/refresh/networkstate.h"
#include "feeds/refresh/refreshschedule.h"

#include "base/dispatch.h"
#include "base/log.h"
#include "base/notificationcenter.h"
#include "base/urltext.h"
#include "net/httpfetch.h"
#include "store/context.h"
#include "store/datasource.h"
#include "store/objectstore.h"
#include "store/storemanager.h"
#include "store/trimming.h"

#include <atomic>
#include <exception>

namespace corvane {

const QString kDatasourcesSubtleChangedNotification = QStringLiteral("kNotificationDatasourcesSubtleChanged");
const QString kRefreshAttemptFinishedNotification = QStringLiteral("DatasourceRefreshAttemptFinished");

namespace {

std::atomic<bool> g_pausesPerElement{true};

} // namespace

void RSSParser::setPausesPerElement(bool pauses)
{
    g_pausesPerElement.store(pauses, std::memory_order_relaxed);
}

bool RSSParser::pausesPerElement()
{
    return g_pausesPerElement.load(std::memory_order_relaxed);
}

RSSParser::RSSParser(RSSDatasource &datasource, std::shared_ptr<StoreManager> stores, HttpFetcher &fetcher)
    : m_stores(std::move(stores))
    , m_fetcher(fetcher)
    , m_datasourceID(datasource.objectID())
    , m_uri(datasource.context()->store().uriForID(datasource.objectID()))
    , m_urlText(datasource.url())
    , m_feedURL(feedURL(datasource.url()))
    , m_failedTries(datasource.failedTries())
    , m_hasIcon(!datasource.imageData().isEmpty())
    , m_name(datasource.name())
    , m_ageLimit(datasource.ageLimitOrDefault())
    , m_isTwitter(datasource.isTwitter())
    , m_eTag(datasource.httpETag())
    , m_lastModified(datasource.httpLastModified())
{
}

void RSSParser::readTwitter()
{
    // No Twitter source is wired in: the subscription shows the fetch error.
    logLine(QStringLiteral("problem fetching twitter: %1").arg(m_urlText));
    m_errorText = QStringLiteral("Error fetching");
}

void RSSParser::fetchAndRead(std::optional<HttpResponse> &lastResponse)
{
    QUrl current = *m_feedURL;
    FetchError downloadError;
    bool readerFailed = false;
    bool readerRan = false;
    for (int attempt = 0; attempt < kMaxDocumentsPerRefresh; ++attempt) {
        HttpResponse response;
        downloadError = FetchError();
        HttpRequest request = HttpRequest::get(current);
        // A conditional GET of the subscription's own address (RFC 9110,
        // section 13.1): an unchanged feed costs a 304 and no parse.
        const bool conditional = attempt == 0 && (!m_eTag.isEmpty() || !m_lastModified.isEmpty());
        if (conditional && !m_eTag.isEmpty())
            request.headers.append({"If-None-Match", m_eTag.toLatin1()});
        if (conditional && !m_lastModified.isEmpty())
            request.headers.append({"If-Modified-Since", m_lastModified.toLatin1()});
        const std::optional<QByteArray> body = m_fetcher.dataFromURL(request, &downloadError, &response);
        if (conditional && response.status == 304) {
            m_notModified = true;
            m_errorText.clear();
            lastResponse = std::move(response);
            return;
        }
        if (!body) {
            lastResponse = std::move(response);
            break;
        }
        // Relative references in the document (item links, icons, feed
        // links of a page) are relative to where it was found, after redirects.
        m_documentURL = response.url.isValid() && !response.url.isRelative() ? response.url : current;

        FeedDocumentReader::Options options;
        options.subscriptionHasIcon = m_hasIcon;
        options.pausePerElement = pausesPerElement();
        options.earliestDate = earliestDateForAgeLimit(m_ageLimit);
        options.subscriptionAlive = [uri = m_uri] { return !Datasource::isBeingDeleted(uri); };
        options.documentURL = m_documentURL;
        FeedDocumentReader reader(options);
        readerRan = true;
        const bool ok = reader.read(*body);
        m_records = reader.records();
        if (ok) {
            readerFailed = false;
            m_gotRecords = true;
            if (attempt == 0)
                m_newValidators.emplace(QString::fromLatin1(response.header("ETag")),
                                        QString::fromLatin1(response.header("Last-Modified")));
            else
                m_newValidators.emplace();
            lastResponse = std::move(response);
            if (!reader.channelName().trimmed().isEmpty())
                m_channelName = reader.channelName();
            if (!m_hasIcon) {
                IconLookup lookup(m_fetcher);
                m_icon = lookup.find(m_documentURL, reader.mainLink(), reader.channelImageUrl());
            }
            m_errorText.clear();
            return;
        }
        readerFailed = true;
        lastResponse = std::move(response);
        const std::optional<QString> link = htmllinks::rssFeedLink(*body);
        if (!link)
            break;
        // Only web addresses are followed: a page must not send the refresh
        // to a local file or a script.
        const QUrl next(resolvedReference(link->trimmed(), m_documentURL));
        if (!isWebURL(next))
            break;
        current = next;
    }
    if (downloadError.isSet())
        m_errorText = downloadError.description;
    else if (readerRan && readerFailed)
        m_errorText = QStringLiteral("Invalid XML");
    else
        m_errorText = QStringLiteral("Error fetching");
}

void RSSParser::update()
{
    std::optional<HttpResponse> response;
    if (Datasource::isBeingDeleted(m_uri))
        return;
    try {
        if (!m_feedURL) {
            m_completed = false;
            m_errorText = QStringLiteral("Error fetching");
        } else if (m_isTwitter) {
            readTwitter();
        } else {
            fetchAndRead(response);
        }
        if (m_gotRecords || m_notModified)
            m_failedTries = 0;
    } catch (const std::exception &exception) {
        logLine(QString::fromLocal8Bit(exception.what()));
        m_completed = false;
    }
    if (!m_completed)
        ++m_failedTries;
    store(response);
}

void RSSParser::store(const std::optional<HttpResponse> &response)
{
    Context *context = m_stores->contextBackground();
    context->performBlockConfinedAndWait([&] {
        QVariantMap info{{QStringLiteral("uri"), m_uri},
                         {QStringLiteral("error"), m_errorText},
                         {QStringLiteral("completed"), m_completed}};
        auto finish = [&] {
            info.insert(QStringLiteral("items"), m_storedItems);
            NotificationCenter::defaultCenter().post(kRefreshAttemptFinishedNotification, nullptr, info);
        };
        auto *datasource = dynamic_cast<RSSDatasource *>(context->existingObject(m_datasourceID));
        if (Datasource::isBeingDeleted(m_uri) || !datasource || datasource->isDeleted()) {
            info.insert(QStringLiteral("error"), QStringLiteral("deleted"));
            finish();
            return;
        }
        const Date moment = currentDate();
        datasource->setFailedTries(m_failedTries);
        if (m_completed) {
            if (response) {
                const auto header = [&](const QByteArray &name) { return response->header(name); };
                refreshschedule::setHttpResponse(*datasource, header, moment);
                refreshschedule::holdForRetryAfter(*datasource, response->status, header, moment);
            }
            if (m_newValidators) {
                if (datasource->httpETag() != m_newValidators->first)
                    datasource->setHttpETag(m_newValidators->first);
                if (datasource->httpLastModified() != m_newValidators->second)
                    datasource->setHttpLastModified(m_newValidators->second);
            }
            if (m_icon && m_icon->hasImage())
                datasource->setImageData(m_icon->archive());
            // Names are stored trimmed (Datasource::willSave), so the feed's
            // title is compared trimmed: a title in white space would rename
            // the subscription, and so re-mark its items, on every refresh.
            const QString channelName = trimWhiteSpaceAndNewlines(m_channelName).toString();
            if (!channelName.isEmpty() && channelName != datasource->name())
                datasource->setName(channelName);
            const ItemCreation creation{datasource, m_documentURL.isValid() ? m_documentURL : m_feedURL.value_or(QUrl()),
                                        moment};
            for (const ItemRecord &record : std::as_const(m_records)) {
                creation.createDataItemFromDictionary(record);
                ++m_storedItems;
            }
            datasource->setEverUpdatedThisRun(true);
            if (m_records.isEmpty())
                datasource->setWasDisplayed(true);
        }
        // Kept with the subscription, so the error outlives this run.
        if (datasource->errorString() != m_errorText && !(datasource->errorString().isEmpty() && m_errorText.isEmpty()))
            datasource->setErrorString(m_errorText.isEmpty() ? QString() : m_errorText);

        const ObjectID id = m_datasourceID;
        const QString errorText = m_errorText;
        std::weak_ptr<StoreManager> weakStores = m_stores;
        dispatch::main().async([weakStores, id, errorText] {
            const std::shared_ptr<StoreManager> stores = weakStores.lock();
            Context *main = stores ? stores->contextMain() : nullptr;
            if (!main)
                return;
            Record *record = main->objectRegistered(id);
            auto *copy = dynamic_cast<Datasource *>(record);
            if (!copy || copy->isDeleted())
                return;
            // A copy without changes that already shows this text has nothing
            // to discard or set: the merge of the coming save brings the rest.
            const auto sameText = [](const QString &a, const QString &b) { return a == b || (a.isEmpty() && b.isEmpty()); };
            if (!copy->hasChanges() && sameText(copy->errorString(), errorText))
                return;
            main->refresh(copy, false);
            if (!sameText(copy->errorString(), errorText))
                copy->setErrorString(errorText.isEmpty() ? QString() : errorText);
        });

        if (!m_completed && (!networkstate::internetAvailable() || m_failedTries < 4)) {
            finish();
            return;
        }
        refreshschedule::setLastUpdateDateNow(*datasource, m_completed, moment);
        dispatch::main().async([] { NotificationCenter::defaultCenter().post(kDatasourcesSubtleChangedNotification); });
        m_stores->processChangesFromContext(context);
        finish();
    });
}

} // namespace corvane
