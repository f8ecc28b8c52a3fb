#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <plist/plist.h>

#include <utility>
#include <vector>

namespace corvane::test {

// Builds archives in the form NSKeyedArchiver writes ("$archiver", "$top",
// "$objects" with UID references) and writes them as binary property lists
// through libplist.
class KeyedArchiveBuilder
{
public:
    using Ref = quint64; // index into "$objects"; 0 is "$null"
    static constexpr Ref kNull = 0;

    KeyedArchiveBuilder();
    ~KeyedArchiveBuilder();
    KeyedArchiveBuilder(const KeyedArchiveBuilder &) = delete;
    KeyedArchiveBuilder &operator=(const KeyedArchiveBuilder &) = delete;

    // Any node as an object of its own (the builder owns it).
    Ref add(plist_t node);
    // A slot filled later with set(), for references to objects not built yet.
    Ref reserve();
    void set(Ref slot, plist_t node);

    Ref string(const QString &text);
    Ref mutableString(const QString &text);
    Ref date(const QDateTime &when); // NSDate
    Ref array(const QList<Ref> &items, const QString &className = QStringLiteral("NSArray"));
    Ref dictionary(const QList<std::pair<QString, Ref>> &entries,
                   const QString &className = QStringLiteral("NSDictionary"));
    // Strings, integers, reals, booleans, dates, bytes, lists and maps, recursively.
    Ref value(const QVariant &value);
    // The class description object, one per name.
    Ref classRef(const QString &name, const QStringList &superclasses = {QStringLiteral("NSObject")});
    // An archived object of a custom class; fields are nodes (uid(), plist_new_uint()...).
    Ref object(const QString &className, const QList<std::pair<QString, plist_t>> &fields,
               const QStringList &superclasses = {QStringLiteral("NSObject")});
    // An item of the earlier format: properties, then marked, shown, read, hidden.
    Ref legacyItem(const QVariantMap &properties, bool marked, bool shown, bool read, bool hidden);

    static plist_t uid(Ref ref) { return plist_new_uid(ref); }

    void setRoot(Ref root) { m_root = root; }
    // Replaces an entry of the outer dictionary ("$archiver", "$top", "$objects"); null removes it.
    void overrideEntry(const QString &key, plist_t node);

    QByteArray binary() const;
    bool write(const QString &path) const;

private:
    // A dictionary whose "$class" is the class description of `className`.
    plist_t instanceOf(const QString &className, const QStringList &superclasses = {QStringLiteral("NSObject")});

    std::vector<plist_t> m_objects;
    std::vector<std::pair<QString, Ref>> m_classes;
    std::vector<std::pair<QString, plist_t>> m_overrides;
    Ref m_root = 0;
};

// A binary property list assembled from encoded objects, for the damaged and
// hostile structures a writer would never produce (loops, absurd counts).
// References and offsets are one byte wide unless told otherwise.
QByteArray rawBinaryPlist(const QList<QByteArray> &objects, quint64 top, int refSize = 1);
QByteArray rawAsciiString(const QByteArray &text);
QByteArray rawArray(const QList<quint64> &refs, int refSize = 1);

} // namespace corvane::test
