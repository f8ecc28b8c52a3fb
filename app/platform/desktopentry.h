#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

namespace corvane::desktop {

// The [Desktop Entry] group of a freedesktop .desktop file: its keys with
// their unescaped values (localised keys such as "Name[de]" are kept as
// written). Lines outside the group and comments are skipped.
struct DesktopEntry
{
    QHash<QString, QString> values;

    QString value(const QString &key) const { return values.value(key); }
    // A ";"-separated list value ("MimeType", "Categories").
    QStringList list(const QString &key) const;
    bool flag(const QString &key) const { return values.value(key) == u"true"; }

    static DesktopEntry parse(const QByteArray &text);
    static DesktopEntry read(const QString &path);
};

// The text of a [Desktop Entry] group with these keys in this order.
QByteArray desktopEntryText(const QList<std::pair<QString, QString>> &keys);

// Quotes one argument of an Exec line.
QString quotedExecArgument(const QString &argument);

} // namespace corvane::desktop
