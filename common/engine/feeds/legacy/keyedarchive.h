#pragma once

#include <QByteArrayView>
#include <QString>
#include <QVariant>

namespace corvane {

// Bounds for reading archives out of files nobody vouches for. Going over any
// of them is a clean failure, so time and memory stay proportional to them
// whatever the file holds.
struct KeyedArchiveLimits
{
    qsizetype maxInputBytes = 32 * 1024 * 1024;
    int maxDepth = 128;                         // containers and objects inside one another
    quint64 maxObjects = 1'000'000;             // objects the property list declares
    quint64 maxValues = 500'000;                // values once shared references are followed
    quint64 maxPayloadBytes = 64 * 1024 * 1024; // texts and data once shared references are followed
};

struct KeyedArchiveResult
{
    QVariant root;
    QString error; // empty when the archive was read
    bool ok() const { return error.isEmpty(); }
};

// The entry that names the class of an archived object the reader has no
// Qt form for.
extern const QString kKeyedArchiveClassNameKey; // "$classname"

// Reads an archive in the form NSKeyedArchiver writes (a binary property list
// with "$archiver", "$top" and "$objects") into a tree of QVariants, following
// the UID references from "$top":
//   NSDictionary, NSMutableDictionary    -> QVariantMap (keys are texts)
//   NSArray, NSSet, NSOrderedSet (and their mutable forms) -> QVariantList
//   NSString, NSMutableString, texts     -> QString
//   NSData, NSMutableData, data          -> QByteArray
//   NSDate (NS.time, seconds since 2001) -> QDateTime in UTC
//   integers, reals, booleans            -> qint64, double, bool
//   "$null"                              -> an invalid QVariant
//   any other class                      -> QVariantMap of its keyed fields plus "$classname"
// A subclass is read as the first class of its "$classes" list that has a Qt
// form. The root is the value under "root" in "$top", or a map of all of
// "$top" when it has no such entry.
//
// A pure function of the bytes: the binary structure is checked (offsets,
// sizes, reference loops, nesting, the size after shared references are
// followed) before libplist parses it, and the archive's references are
// resolved under the same limits. Anything out of form gives an error text.
KeyedArchiveResult readKeyedArchive(QByteArrayView bytes, const KeyedArchiveLimits &limits = {});

// The structure check readKeyedArchive runs before libplist parses: true when
// libplist may parse the bytes as a binary property list within the limits
// (maxInputBytes included), else false with the reason in `error`. For other
// readers of binary property lists from files nobody vouches for.
bool checkBinaryPropertyList(QByteArrayView bytes, const KeyedArchiveLimits &limits, QString *error);

} // namespace corvane
