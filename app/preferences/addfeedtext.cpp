#include "addfeedtext.h"

#include "base/urltext.h"

#include <QCoreApplication>
#include <QRegularExpression>

namespace corvane::desktop::addfeedtext {
namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("AddFeed", text);
}

// The text as quoted back in a message: one line, not too long.
QString quoted(const QString &text)
{
    QString line = text.simplified();
    if (line.size() > 60)
        line = line.left(57) + QStringLiteral("…");
    return QStringLiteral("“%1”").arg(line);
}

bool hasControlCharacters(const QString &text)
{
    for (const QChar c : text)
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format)
            return true;
    return false;
}

} // namespace

QString twitterUrlForUser(const QString &user)
{
    return QStringLiteral("@%1").arg(user);
}

Result addressFromText(const QString &text)
{
    if (text.size() > kMaximumLength)
        return {{}, tr("The text is too long to be a feed address.")};
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return {{}, tr("Enter the address of a feed.")};
    if (hasControlCharacters(trimmed))
        return {{}, tr("A feed address cannot contain line breaks or control characters.")};

    if (trimmed.startsWith(u'@')) {
        // Twitter user names: letters, digits and underscores, at most 15.
        static const QRegularExpression userName(QStringLiteral("^[A-Za-z0-9_]{1,15}$"));
        const QString user = trimmed.mid(1);
        if (!userName.match(user).hasMatch())
            return {{}, tr("%1 is not a Twitter user name.").arg(quoted(trimmed))};
        return {twitterUrlForUser(user), {}};
    }
    if (trimmed.startsWith(u'#')) {
        if (trimmed.mid(1).trimmed().isEmpty())
            return {{}, tr("Enter the words to search Twitter for after the “#”.")};
        if (trimmed.size() > 500)
            return {{}, tr("A Twitter search can be at most 500 characters long.")};
        return {trimmed, {}};
    }
    if (!feedURL(trimmed))
        return {{}, tr("%1 is not a feed address. Enter an address that starts with http:// or https://, "
                       "@ and a Twitter user name, or # and words to search Twitter for.")
                        .arg(quoted(trimmed))};
    return {trimmed, {}};
}

QString prefillFromClipboard(const QString &clipboard)
{
    if (clipboard.size() > kMaximumLength)
        return {};
    const QString text = clipboard.trimmed();
    const QString lower = text.toLower();
    const bool plain = (lower.startsWith(QLatin1String("http://")) || lower.startsWith(QLatin1String("feed://")))
                       && text.size() >= 8;
    const bool secure = lower.startsWith(QLatin1String("https://")) && text.size() >= 9;
    if ((plain || secure) && feedURL(text))
        return text;
    return {};
}

} // namespace corvane::desktop::addfeedtext
