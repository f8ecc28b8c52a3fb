#pragma once

#include "objectid.h"
#include "predicate.h"
#include "query.h"

#include <QByteArray>
#include <QList>

#include <functional>
#include <optional>
#include <vector>

namespace corvane {

class Context;

// A sort key as ORDER BY compares it: NULL, then numbers (integers and
// reals by value), text and blobs by their bytes. Sixteen bytes, as there
// are several per row; text and blob bytes live in the survey's arena.
struct SurveyKey
{
    enum Class : quint8 { Null, Number, Text, Blob };
    union {
        qint64 integer = 0;
        double number;
        struct
        {
            quint32 offset; // into the arena
            quint32 length;
        } bytes;
    };
    Class cls = Null;
    bool real = false;
};
static_assert(sizeof(SurveyKey) == 16);

// -1, 0 or 1, as ORDER BY would order the two keys.
int compareSurveyKeys(const SurveyKey &a, const SurveyKey &b, const char *arena);

// One narrow read of the items a predicate matches, for lists that would
// otherwise make a record of every row: per row its id, subscription, star
// and timestamp, and the sort keys of the rows the caller keeps. A row the
// context holds a loaded record for is read from the record (unsaved
// changes, values not yet merged from another context's save), every other
// row from its stored columns. The survey holds a read transaction while it
// lives, so what the caller reads meanwhile sees the same rows.
class ItemSurvey
{
public:
    struct Row
    {
        qint64 id;
        ObjectID source; // row 0 when the item has none
        bool starred;
        std::optional<double> stamp; // the timestamp column; not read for starred rows
    };

    // `sort` empty: no keys are read. `withinCategory`, when set, narrows
    // the read to that category's subscriptions through their index (the
    // predicate must imply it).
    ItemSurvey(Context *context, const Predicate &predicate, const QList<SortDescriptor> &sort,
               QStringView timeStampKey, std::optional<ObjectID> withinCategory = std::nullopt);
    ~ItemSurvey();
    ItemSurvey(const ItemSurvey &) = delete;
    ItemSurvey &operator=(const ItemSurvey &) = delete;

    // At most this many rows can match (the span of item ids, capped): what
    // callers reserve.
    size_t rowsAtMost() const { return m_rowsAtMost; }
    int keysPerRow() const { return int(m_ascending.size()); }
    const QList<bool> &ascending() const { return m_ascending; }

    // Reads the rows, skipping those without subscription unless starred;
    // `keep` says for each whether its sort keys are kept, row after row.
    void run(const std::function<bool(const Row &row)> &keep);

    // keysPerRow() keys for each kept row, in the order they were kept.
    const std::vector<SurveyKey> &keys() const { return m_keys; }
    const char *arena() const { return m_arena.constData(); }

private:
    Context *m_context;
    QByteArray m_sql;
    QVariantList m_parameters;
    QList<bool> m_ascending;
    int m_timeStamp = -1;
    size_t m_rowsAtMost = 0;
    qint64 m_firstRow = 0;
    qint64 m_span = 0;
    bool m_began = false;
    std::vector<SurveyKey> m_keys;
    QByteArray m_arena;
};

} // namespace corvane
