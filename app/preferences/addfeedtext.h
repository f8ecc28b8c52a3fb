#pragma once

#include <QString>

namespace corvane::desktop {

// What the user typed, pasted or dropped to subscribe to, checked before
// anything is added: web feed addresses (http, https, feed, or a host
// without a scheme), "@user" for a Twitter timeline and "#words" for a
// Twitter search. Everything else is refused with a message for the user.
namespace addfeedtext {

// Longer texts are refused without looking further (a pasted page, say).
constexpr int kMaximumLength = 2048;

struct Result
{
    QString address; // what to subscribe to; empty when refused
    QString error;   // why it was refused, for the user
    bool ok() const { return !address.isEmpty(); }
};

Result addressFromText(const QString &text);

// "@" followed by the user name: the address of that user's timeline.
QString twitterUrlForUser(const QString &user);

// The clipboard text when it is a web feed address to offer in the add
// field ("http://", "feed://" or "https://" followed by something); else empty.
QString prefillFromClipboard(const QString &clipboard);

} // namespace addfeedtext
} // namespace corvane::desktop
