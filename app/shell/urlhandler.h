#pragma once

#include <QString>
#include <QStringList>

namespace corvane {
class DatasourceManager;
}

namespace corvane::desktop {

// The feed address of a "feed:" link: "feed://host/path" stands for
// "http://host/path", "feed:https://host/path" for the address after the
// colon. Empty when the text is no feed link.
QString addressOfFeedLink(const QString &link);

// Handles URLs given on the command line or handed over by a later start:
// feed links (and plain web addresses) are subscribed to. Returns how many
// were added.
int handleUrls(DatasourceManager &engine, const QStringList &urls);

} // namespace corvane::desktop
