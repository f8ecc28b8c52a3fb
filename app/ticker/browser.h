#pragma once

#include <QString>
#include <QUrl>

#include <functional>

namespace corvane::desktop::browser {

// The web address of an item link: the part before the first "|", when it
// parses as an absolute http or https URL; else an invalid URL. Other
// schemes (file:, javascript:, data:...) from a feed are never opened.
QUrl webAddress(const QString &link);

// Opens the link in the desktop's browser; beeps and returns false when it
// is no web address or nothing could open it.
bool open(const QString &link);

// Replaces what opens addresses (tests record them); none restores the desktop's.
void setOpener(std::function<bool(const QUrl &)> opener);

} // namespace corvane::desktop::browser
