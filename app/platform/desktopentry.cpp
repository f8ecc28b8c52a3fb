#include "desktopentry.h"

#include <QFile>

namespace corvane::desktop {

namespace {

// Undoes the escapes of string values: \s \n \t \r \\.
QString unescaped(const QString &raw)
{
    QString out;
    out.reserve(raw.size());
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const QChar c = raw[i];
        if (c != u'\\' || i + 1 == raw.size()) {
            out += c;
            continue;
        }
        const QChar next = raw[++i];
        switch (next.unicode()) {
        case 's': out += u' '; break;
        case 'n': out += u'\n'; break;
        case 't': out += u'\t'; break;
        case 'r': out += u'\r'; break;
        default: out += next; break; // "\\" and "\;" keep the character
        }
    }
    return out;
}

} // namespace

QStringList DesktopEntry::list(const QString &key) const
{
    QStringList items = values.value(key).split(u';', Qt::SkipEmptyParts);
    for (QString &item : items)
        item = item.trimmed();
    items.removeAll(QString());
    return items;
}

DesktopEntry DesktopEntry::parse(const QByteArray &text)
{
    DesktopEntry entry;
    bool inGroup = false;
    for (const QByteArray &rawLine : text.split('\n')) {
        const QString line = QString::fromUtf8(rawLine).trimmed();
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        if (line.startsWith(u'[')) {
            inGroup = line == u"[Desktop Entry]";
            continue;
        }
        const qsizetype equals = line.indexOf(u'=');
        if (!inGroup || equals <= 0)
            continue;
        const QString key = line.left(equals).trimmed();
        // The first occurrence of a key counts.
        if (!entry.values.contains(key))
            entry.values.insert(key, unescaped(line.mid(equals + 1).trimmed()));
    }
    return entry;
}

DesktopEntry DesktopEntry::read(const QString &path)
{
    QFile file(path);
    // Desktop files are small; a huge one is not one.
    if (!file.open(QIODevice::ReadOnly) || file.size() > 1024 * 1024)
        return {};
    return parse(file.readAll());
}

QByteArray desktopEntryText(const QList<std::pair<QString, QString>> &keys)
{
    QByteArray text = "[Desktop Entry]\n";
    for (const auto &[key, value] : keys) {
        QString escaped = value;
        escaped.replace(u'\\', QStringLiteral("\\\\")).replace(u'\n', QStringLiteral("\\n"));
        text += key.toUtf8() + '=' + escaped.toUtf8() + '\n';
    }
    return text;
}

QString quotedExecArgument(const QString &argument)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    bool plain = !argument.isEmpty();
    for (const QChar c : argument)
        plain = plain && !reserved.contains(c) && c != u'%' && c != u'=';
    if (plain)
        return argument;
    QString quoted = argument;
    // Inside double quotes ", `, $ and \ take a backslash; % is doubled for field codes.
    quoted.replace(u'\\', QStringLiteral("\\\\")).replace(u'"', QStringLiteral("\\\"")).replace(u'`', QStringLiteral("\\`"))
        .replace(u'$', QStringLiteral("\\$")).replace(u'%', QStringLiteral("%%"));
    return u'"' + quoted + u'"';
}

} // namespace corvane::desktop
