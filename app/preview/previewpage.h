#pragma once

#include <QUrl>
#include <QWebEnginePage>

namespace corvane::desktop {

// The page of the bubble, which shows untrusted feed content: it loads only
// the documents the bubble gives it (setDocument) and never navigates
// elsewhere. A link the user follows, in the page or in a new window,
// is reported by linkFollowed and not loaded; redirects, refreshes, form
// submissions and back/forward are refused. Frames inside the content
// (embedded media) may load web addresses.
class PreviewPage : public QWebEnginePage
{
    Q_OBJECT
public:
    PreviewPage(QWebEngineProfile *profile, QObject *parent = nullptr);

    // Loads the HTML as the page's document; relative addresses resolve
    // against `base`, which is a web address or empty.
    void setDocument(const QString &html, const QUrl &base);

Q_SIGNALS:
    void linkFollowed(const QUrl &url);
    // A navigation of the page itself was refused (refresh, form, script).
    void navigationRefused(const QUrl &url);

protected:
    bool acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame) override;
    QWebEnginePage *createWindow(WebWindowType type) override;

private:
    bool m_expectingDocument = false;
    QUrl m_base;
};

} // namespace corvane::desktop
