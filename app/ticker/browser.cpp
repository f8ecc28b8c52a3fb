#include "browser.h"

#include <QApplication>
#include <QDesktopServices>

namespace corvane::desktop::browser {

namespace {

std::function<bool(const QUrl &)> &opener()
{
    static std::function<bool(const QUrl &)> current;
    return current;
}

} // namespace

QUrl webAddress(const QString &link)
{
    const QString address = link.section(u'|', 0, 0).trimmed();
    const QUrl url(address, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty())
        return QUrl();
    const QString scheme = url.scheme().toLower();
    return scheme == u"http" || scheme == u"https" ? url : QUrl();
}

bool open(const QString &link)
{
    const QUrl url = webAddress(link);
    const bool opened = url.isValid() && (opener() ? opener()(url) : QDesktopServices::openUrl(url));
    if (!opened)
        QApplication::beep();
    return opened;
}

void setOpener(std::function<bool(const QUrl &)> replacement)
{
    opener() = std::move(replacement);
}

} // namespace corvane::desktop::browser
