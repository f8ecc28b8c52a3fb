// Every reader of feed date texts on the input as UTF-8 text, and the item
// dating that chooses among them.
#include "base/feeddates.h"
#include "base/itemdate.h"

#include <QHash>
#include <QString>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

using namespace corvane;

namespace {

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "fuzz_dates: %s\n", what);
    std::abort();
}

const Date kNow = 1709294400; // 2024-03-01 12:00 UTC

void expectNumber(const OptionalDate &date, const char *reader)
{
    if (date && std::isnan(*date)) {
        std::fprintf(stderr, "fuzz_dates: %s gave NaN\n", reader);
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    expectNumber(dateWithRSSPubDate(text), "dateWithRSSPubDate");
    expectNumber(dateWithAtomPubDate(text), "dateWithAtomPubDate");
    expectNumber(dateFromISO8601(text), "dateFromISO8601");
    expectNumber(getDateFromString(text), "getDateFromString");
    expectNumber(failOverParser(text), "failOverParser");

    for (const QString &key : {QStringLiteral("pubDate"), QStringLiteral("published"), QStringLiteral("dc:date"),
                               QStringLiteral("pubdate")}) {
        const Date date = dateForDictionary(QHash<QString, QString>{{key, text}}, kNow);
        if (!(date <= kNow))
            fail("dateForDictionary gave a date after now, or NaN");
    }
    return 0;
}
