#pragma once

#include <QList>
#include <QString>
#include <QVariant>

namespace corvane::desktop {

namespace schemehandler {
struct Handler;
}

// The decisions the application takes once per start, kept apart from the
// windows that carry them out.
namespace launchrules {

// The build number of this program: compared with "prevVersion" and stored
// under "rateVersion".
int currentVersion();

// "What's New" is shown when the stored version is smaller than the running
// one; an absent or unreadable value counts as 0, so a first start shows it.
bool whatsNewDue(const QVariant &previousVersion, int currentVersion);

// The rating prompt is shown once per installation: only while
// "rateVersion" holds nothing.
bool ratingDue(const QVariant &rateVersion);

enum class HandlerAction {
    TakeScheme, // make Corvane the default reader of feed: links
    Nothing,    // it is already
    Ask,        // another reader is the default: ask the user
};

// Claiming the feed scheme at start: without the check it is taken without
// asking; with it, asked only when another registered reader is the default.
HandlerAction handlerAction(bool checkOnStartup, const QList<schemehandler::Handler> &handlers,
                            const QString &defaultHandler, const QString &ownId);

// Where a URL given to the program goes.
struct UrlRoute
{
    enum Kind { Pocket, Feed, Ignored } kind = Ignored;
    QString text; // the call-back URL, or the text for the feed list editor
};

// URLs beginning with "pocket" (also "corvane-pocket:") are Pocket call-backs.
// "feed:" followed by a complete address loses its prefix; the double-slash
// form ("feed://host/path") is kept whole. Anything else that is not empty is
// handed to the feed list editor as it stands, which refuses what is no feed
// address.
UrlRoute routeUrl(const QString &url);

} // namespace launchrules

} // namespace corvane::desktop
