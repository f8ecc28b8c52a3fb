#include "previewpage.h"

#include <QColor>
#include <QWebEngineNewWindowRequest>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInterceptor>

namespace corvane::desktop {

namespace {

bool isWebOrInline(const QUrl &url)
{
    const QString scheme = url.scheme();
    return scheme == u"http" || scheme == u"https" || scheme == u"data" || url == QUrl(QStringLiteral("about:blank"));
}

// Content may name any address; only web addresses and inline data are
// fetched, never local files or other schemes.
class WebOnlyInterceptor final : public QWebEngineUrlRequestInterceptor
{
public:
    using QWebEngineUrlRequestInterceptor::QWebEngineUrlRequestInterceptor;
    void interceptRequest(QWebEngineUrlRequestInfo &info) override
    {
        if (!isWebOrInline(info.requestUrl()))
            info.block(true);
    }
};

} // namespace

PreviewPage::PreviewPage(QWebEngineProfile *profile, QObject *parent) : QWebEnginePage(profile, parent)
{
    QWebEngineSettings *web = settings();
    // Scripts of the content never run; the bubble's own measuring script
    // runs in the application's world, which this does not switch off.
    web->setAttribute(QWebEngineSettings::JavascriptEnabled, false);
    web->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
    web->setAttribute(QWebEngineSettings::JavascriptCanAccessClipboard, false);
    web->setAttribute(QWebEngineSettings::PluginsEnabled, false);
    web->setAttribute(QWebEngineSettings::PdfViewerEnabled, false);
    web->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, false);
    web->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
    web->setAttribute(QWebEngineSettings::LocalStorageEnabled, false);
    web->setAttribute(QWebEngineSettings::WebGLEnabled, false);
    web->setAttribute(QWebEngineSettings::Accelerated2dCanvasEnabled, false);
    web->setAttribute(QWebEngineSettings::ScreenCaptureEnabled, false);
    web->setAttribute(QWebEngineSettings::AllowRunningInsecureContent, false);
    web->setAttribute(QWebEngineSettings::ErrorPageEnabled, false);
    web->setAttribute(QWebEngineSettings::FocusOnNavigationEnabled, false);
    web->setAttribute(QWebEngineSettings::NavigateOnDropEnabled, false);
    web->setAttribute(QWebEngineSettings::AutoLoadImages, true);
    web->setAttribute(QWebEngineSettings::ShowScrollBars, true);
    setBackgroundColor(Qt::transparent);
    setUrlRequestInterceptor(new WebOnlyInterceptor(this));

    // target="_blank" links and the like: hand the address over, open nothing.
    connect(this, &QWebEnginePage::newWindowRequested, this, [this](QWebEngineNewWindowRequest &request) {
        if (request.isUserInitiated())
            Q_EMIT linkFollowed(request.requestedUrl());
    });
}

void PreviewPage::setDocument(const QString &html, const QUrl &base)
{
    m_expectingDocument = true;
    m_base = base;
    setHtml(html, base);
}

bool PreviewPage::acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame)
{
    if (type == NavigationTypeLinkClicked) {
        // A link to a place in the document itself scrolls there.
        if (isMainFrame && url.hasFragment() && !m_base.isEmpty()
            && url.adjusted(QUrl::RemoveFragment) == m_base.adjusted(QUrl::RemoveFragment))
            return true;
        Q_EMIT linkFollowed(url);
        return false;
    }
    if (isMainFrame) {
        // Only the document set last; it arrives as a data: address, or
        // under its base address.
        if (m_expectingDocument && (url.scheme() == u"data" || url == m_base)) {
            m_expectingDocument = false;
            return true;
        }
        Q_EMIT navigationRefused(url);
        return false;
    }
    if (type != NavigationTypeFormSubmitted && type != NavigationTypeBackForward && isWebOrInline(url))
        return true;
    Q_EMIT navigationRefused(url);
    return false;
}

QWebEnginePage *PreviewPage::createWindow(WebWindowType)
{
    return nullptr;
}

} // namespace corvane::desktop
