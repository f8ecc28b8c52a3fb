#include "feeddates.h"

#include "corvaneassert.h"
#include "urltext.h"

#include <QStringView>

#include <curl/curl.h>
#include <unicode/locid.h>
#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>

#include <algorithm>
#include <array>
#include <condition_variable>
#include <limits>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

using namespace Qt::Literals::StringLiterals;

namespace corvane {

namespace {

// Tried in this order; the first that reads the whole text wins. The
// two-digit-year form comes first because "yyyy" would read "03" as year 3,
// while "yy" reads a four-digit year as it stands.
constexpr std::array<const char16_t *, 6> kRssPatterns = {
    u"EEE, dd MMMM yy HH:mm:ss zzzz",
    u"EEE, dd MMMM yyyy HH:mm:ss Z",
    u"EEE, dd MMMM yyyy HH:mm:ss zzzz",
    u"EEE, dd MMMM yyyy HH:mm:ss z~zzz",
    u"EEE, dd MMMM yyyy HH:mm:ss v~vvv",
    u"EEE, dd MMMM yyyy HH:mm:ss vvvv",
};

constexpr const char16_t *kAtomPattern = u"yyyy'-'MM'-'dd'T'HH':'mm':'ss'Z'";
constexpr qsizetype kAtomLength = 20; // "2003-12-13T18:30:02Z"

// 1971-01-01T00:00:00Z in ICU's milliseconds. curl_getdate maps two-digit
// years 71...99 to 19xx and the others to 20xx; the RSS reader uses the same
// fixed window rather than ICU's sliding one, so a date does not depend on
// which of the two read it, or on the year the program runs in.
constexpr UDate kTwoDigitYearStart = 31536000.0 * 1000.0;

using Formatter = std::unique_ptr<icu::SimpleDateFormat>;

Formatter makeFormatter(const char16_t *pattern, const char *locale)
{
    UErrorCode status = U_ZERO_ERROR;
    auto formatter = std::make_unique<icu::SimpleDateFormat>(icu::UnicodeString(pattern),
                                                             icu::Locale(locale), status);
    CORVANE_ASSERT(U_SUCCESS(status), "ICU date formatter could not be created");
    if (U_FAILURE(status))
        return nullptr;
    return formatter;
}

// The calendar is strict, so "32 Jun" or "25:00" is refused instead of
// rolling over into the next month or day. Name matching stays tolerant: ICU
// takes "Jun" for MMMM, a four-digit year for yy, "+02:00" for zzzz, names in
// any case, and ignores a weekday that does not match the date. A strict
// calendar also makes ICU want two-digit days; "1 Jun" is left to the
// fail-over parser, whose curl_getdate reads it.
Formatter makeRssFormatter(const char16_t *pattern)
{
    Formatter formatter = makeFormatter(pattern, "en_US");
    if (!formatter)
        return nullptr;
    formatter->setCalendarLenient(false);
    UErrorCode status = U_ZERO_ERROR;
    formatter->set2DigitYearStart(kTwoDigitYearStart, status);
    CORVANE_ASSERT(U_SUCCESS(status), "ICU two-digit year start rejected");
    return formatter;
}

Formatter makeAtomFormatter()
{
    Formatter formatter = makeFormatter(kAtomPattern, "en");
    if (!formatter)
        return nullptr;
    formatter->setLenient(false);
    formatter->setTimeZone(*icu::TimeZone::getGMT());
    return formatter;
}

// SimpleDateFormat is costly to build (a set of RSS formatters holds about
// 350 KB) and may not be used by two threads at once. A parse borrows a set
// of formatters and gives it back when done. There are at most as many sets
// as the machine has cores (two at least): a parse takes microseconds, so a
// refresh on twenty pool threads waits briefly for a set instead of keeping
// twenty of them.
template<typename Set>
class FormatterLender
{
public:
    using Make = Set (*)();

    class Loan
    {
    public:
        Loan(FormatterLender &lender, std::unique_ptr<Set> set)
            : m_lender(lender)
            , m_set(std::move(set))
        {
        }
        ~Loan() { m_lender.giveBack(std::move(m_set)); }
        Loan(const Loan &) = delete;
        Loan &operator=(const Loan &) = delete;
        const Set &operator*() const { return *m_set; }

    private:
        FormatterLender &m_lender;
        std::unique_ptr<Set> m_set;
    };

    explicit FormatterLender(Make make)
        : m_make(make)
    {
    }

    Loan borrow()
    {
        {
            std::unique_lock lock(m_lock);
            m_returned.wait(lock, [this] { return !m_free.empty() || m_made < kMaxSets; });
            if (!m_free.empty()) {
                std::unique_ptr<Set> set = std::move(m_free.back());
                m_free.pop_back();
                return Loan(*this, std::move(set));
            }
            ++m_made;
        }
        return Loan(*this, std::make_unique<Set>(m_make()));
    }

private:
    void giveBack(std::unique_ptr<Set> set)
    {
        {
            std::lock_guard guard(m_lock);
            m_free.push_back(std::move(set));
        }
        m_returned.notify_one();
    }

    static inline const size_t kMaxSets = std::max(2u, std::thread::hardware_concurrency());

    Make m_make;
    std::mutex m_lock;
    std::condition_variable m_returned;
    size_t m_made = 0;
    std::vector<std::unique_ptr<Set>> m_free;
};

using RssFormatters = std::array<Formatter, kRssPatterns.size()>;

RssFormatters makeRssFormatters()
{
    RssFormatters made;
    for (size_t i = 0; i < kRssPatterns.size(); ++i)
        made[i] = makeRssFormatter(kRssPatterns[i]);
    return made;
}

// Never destroyed: parses on other threads may outlast static destruction.
FormatterLender<RssFormatters> &rssFormatters()
{
    static auto *lender = new FormatterLender<RssFormatters>(makeRssFormatters);
    return *lender;
}

FormatterLender<Formatter> &atomFormatters()
{
    static auto *lender = new FormatterLender<Formatter>(makeAtomFormatter);
    return *lender;
}

bool fitsIcuLength(const QString &text)
{
    return text.size() <= std::numeric_limits<int32_t>::max();
}

// A read-only view of the QString's UTF-16 buffer; no copy is made. Not
// utf16(): on a string built from a literal it reallocates the shared string
// to add a terminator, a data race when other threads read the same string.
icu::UnicodeString icuAlias(const QString &text)
{
    return icu::UnicodeString(false, reinterpret_cast<const char16_t *>(text.constData()),
                              int32_t(text.size()));
}

// ICU stops at the first character a pattern does not cover and reports
// success for the part it read; only a text read to its end counts here.
OptionalDate parseWhole(const icu::DateFormat &formatter, const icu::UnicodeString &text)
{
    icu::ParsePosition position(0);
    const UDate milliseconds = formatter.parse(text, position);
    if (position.getErrorIndex() >= 0 || position.getIndex() != text.length())
        return std::nullopt;
    return milliseconds / 1000.0;
}

bool isAsciiDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

// A letter of the ISO forms in either case: RFC 3339 section 5.6 allows "t"
// and "z" for "T" and "Z".
bool isLetter(QChar c, char16_t upper)
{
    return c == upper || c == char16_t(upper + (u'a' - u'A'));
}

bool isLeapYear(qint64 year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int daysInMonth(qint64 year, int month)
{
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeapYear(year) ? 29 : kDays[month - 1];
}

// Days from 1970-01-01 to the first of the month in the proleptic Gregorian
// calendar (H. Hinnant, "chrono-Compatible Low-Level Date Algorithms").
qint64 daysToFirstOfMonth(qint64 year, int month)
{
    const qint64 y = month <= 2 ? year - 1 : year;
    const qint64 era = (y >= 0 ? y : y - 399) / 400;
    const qint64 yearOfEra = y - era * 400;
    const qint64 dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5;
    const qint64 dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

// Fields past their range carry over, as in a lenient calendar: day 0 is the
// last day of the month before, 31 April is 1 May, hour -1 is 23:00 the day
// before. Callers keep year and offset within 32 bits, so nothing overflows.
Date dateFromComponents(qint64 year, int month, qint64 day, qint64 hour, qint64 minute,
                        qint64 second, qint64 offsetSeconds)
{
    const qint64 days = daysToFirstOfMonth(year, month) + day - 1;
    return Date(days * 86400 + hour * 3600 + minute * 60 + second - offsetSeconds);
}

// The tokenizer of the fail-over ISO-like form: skips white space before
// every token.
class LooseScanner
{
public:
    explicit LooseScanner(QStringView text)
        : m_text(text)
    {
    }

    bool atEnd()
    {
        skipWhiteSpace();
        return m_position == m_text.size();
    }

    bool scan(char16_t c)
    {
        skipWhiteSpace();
        if (m_position < m_text.size() && m_text[m_position] == c) {
            ++m_position;
            return true;
        }
        return false;
    }

    bool scanLetter(char16_t upper)
    {
        skipWhiteSpace();
        if (m_position < m_text.size() && isLetter(m_text[m_position], upper)) {
            ++m_position;
            return true;
        }
        return false;
    }

    // An optionally signed decimal integer. One that does not fit 32 bits
    // fails like a missing one: no calendar field is that large.
    std::optional<qint64> scanInteger()
    {
        skipWhiteSpace();
        bool negative = false;
        if (m_position < m_text.size() && (m_text[m_position] == u'+' || m_text[m_position] == u'-'))
            negative = m_text[m_position++] == u'-';
        const qsizetype start = m_position;
        qint64 value = 0;
        for (; m_position < m_text.size() && isAsciiDigit(m_text[m_position]); ++m_position) {
            value = value * 10 + (m_text[m_position].unicode() - u'0');
            if (value > std::numeric_limits<int32_t>::max())
                return std::nullopt;
        }
        if (m_position == start)
            return std::nullopt;
        return negative ? -value : value;
    }

    // One or more digits whose value is not needed, however many there are.
    bool skipDigits()
    {
        skipWhiteSpace();
        const qsizetype start = m_position;
        while (m_position < m_text.size() && isAsciiDigit(m_text[m_position]))
            ++m_position;
        return m_position > start;
    }

private:
    void skipWhiteSpace()
    {
        while (m_position < m_text.size() && isWhiteSpaceOrNewline(m_text[m_position]))
            ++m_position;
    }

    QStringView m_text;
    qsizetype m_position = 0;
};

// "year[-month[-day]][Thour[:minute[(:|.)second[.fraction]]]][Z|zone hours]".
// A date without a time stands for the end of that day, 23:59; hours wrap at
// 24 (26 is 2). The zone is a whole number of hours: "+02:00" reads as +2 and
// the rest is not looked at, and only zones east of +12 are refused.
OptionalDate scanLooseIsoDate(QStringView text)
{
    LooseScanner scanner(text);
    std::optional<qint64> year = scanner.scanInteger();
    if (!year)
        return std::nullopt;
    if (*year <= 99)
        *year += 2000;

    qint64 month = 1;
    qint64 day = 0;
    if (scanner.scan(u'-')) {
        const std::optional<qint64> m = scanner.scanInteger();
        if (!m || *m < 1 || *m > 12)
            return std::nullopt;
        month = *m;
        if (scanner.scan(u'-')) {
            const std::optional<qint64> d = scanner.scanInteger();
            if (!d || *d < 1 || *d > 31)
                return std::nullopt;
            day = *d;
        }
    }

    qint64 hour = 23;
    qint64 minute = 59;
    qint64 second = 0;
    if (scanner.scanLetter(u'T')) {
        const std::optional<qint64> h = scanner.scanInteger();
        if (!h)
            return std::nullopt;
        hour = *h % 24;
        minute = 0;
        if (scanner.scan(u':')) {
            const std::optional<qint64> m = scanner.scanInteger();
            if (!m || *m < 0 || *m > 59)
                return std::nullopt;
            minute = *m;
            if (scanner.scan(u':') || scanner.scan(u'.')) {
                const std::optional<qint64> s = scanner.scanInteger();
                if (!s || *s < 0 || *s > 59)
                    return std::nullopt;
                second = *s;
                if (scanner.scan(u'.') && !scanner.skipDigits())
                    return std::nullopt;
            }
        }
    }

    qint64 zoneHours = 0;
    if (!scanner.scanLetter(u'Z') && !scanner.atEnd()) {
        const std::optional<qint64> zone = scanner.scanInteger();
        if (!zone || *zone > 12)
            return std::nullopt;
        zoneHours = *zone;
    }
    return dateFromComponents(*year, int(month), day, hour, minute, second, zoneHours * 3600);
}

// Reads the fixed-width fields of the strict ISO 8601 form.
class StrictReader
{
public:
    explicit StrictReader(QStringView text)
        : m_text(text)
    {
    }

    bool atEnd() const { return m_position == m_text.size(); }
    bool nextIsDigit() const { return m_position < m_text.size() && isAsciiDigit(m_text[m_position]); }

    bool take(char16_t c)
    {
        if (m_position < m_text.size() && m_text[m_position] == c) {
            ++m_position;
            return true;
        }
        return false;
    }

    bool takeLetter(char16_t upper)
    {
        if (m_position < m_text.size() && isLetter(m_text[m_position], upper)) {
            ++m_position;
            return true;
        }
        return false;
    }

    // Exactly `count` digits.
    std::optional<int> digits(int count)
    {
        int value = 0;
        for (int i = 0; i < count; ++i) {
            if (!nextIsDigit())
                return std::nullopt;
            value = value * 10 + (m_text[m_position++].unicode() - u'0');
        }
        return value;
    }

    // A decimal fraction of one or more digits. Digits past the ninth are
    // below what a Date keeps and are read but not added.
    std::optional<double> fraction()
    {
        double value = 0;
        double scale = 0.1;
        int count = 0;
        for (; nextIsDigit(); ++count, ++m_position) {
            if (count < 9) {
                value += scale * (m_text[m_position].unicode() - u'0');
                scale /= 10;
            }
        }
        if (count == 0)
            return std::nullopt;
        return value;
    }

private:
    QStringView m_text;
    qsizetype m_position = 0;
};

// "+hh:mm", "+hhmm" or "+hh" (or with "-"), in seconds east of UTC.
std::optional<int> readZoneOffset(StrictReader &reader)
{
    int sign = 0;
    if (reader.take(u'+'))
        sign = 1;
    else if (reader.take(u'-'))
        sign = -1;
    else
        return std::nullopt;
    const std::optional<int> hours = reader.digits(2);
    std::optional<int> minutes = 0;
    if (reader.take(u':') || reader.nextIsDigit())
        minutes = reader.digits(2);
    if (!hours || !minutes || *hours > 23 || *minutes > 59)
        return std::nullopt;
    return sign * (*hours * 3600 + *minutes * 60);
}

} // namespace

OptionalDate dateWithRSSPubDate(const QString &text)
{
    if (text.isEmpty() || !fitsIcuLength(text))
        return std::nullopt;
    const icu::UnicodeString unicodeText = icuAlias(text);
    const auto formatters = rssFormatters().borrow();
    for (const Formatter &formatter : *formatters) {
        if (!formatter)
            continue;
        if (const OptionalDate date = parseWhole(*formatter, unicodeText))
            return date;
    }
    return std::nullopt;
}

OptionalDate dateWithAtomPubDate(const QString &text)
{
    // Even strict ICU accepts a text that ends before the closing literal Z,
    // or a year of fewer than four digits; the fixed width rules both out.
    if (text.size() != kAtomLength || !text.endsWith(u'Z'))
        return std::nullopt;
    const auto formatter = atomFormatters().borrow();
    if (!*formatter)
        return std::nullopt;
    return parseWhole(**formatter, icuAlias(text));
}

OptionalDate dateFromISO8601(const QString &text)
{
    StrictReader reader(text);
    const std::optional<int> year = reader.digits(4);
    if (!year || !reader.take(u'-'))
        return std::nullopt;
    const std::optional<int> month = reader.digits(2);
    if (!month || *month < 1 || *month > 12 || !reader.take(u'-'))
        return std::nullopt;
    const std::optional<int> day = reader.digits(2);
    if (!day || *day < 1 || *day > daysInMonth(*year, *month))
        return std::nullopt;

    int hour = 0;
    int minute = 0;
    int second = 0;
    double fraction = 0;
    int offsetSeconds = 0;
    if (reader.takeLetter(u'T')) {
        const std::optional<int> h = reader.digits(2);
        const bool colon = reader.take(u':');
        const std::optional<int> m = reader.digits(2);
        if (!h || !colon || !m || *h > 23 || *m > 59)
            return std::nullopt;
        hour = *h;
        minute = *m;
        if (reader.take(u':')) {
            const std::optional<int> s = reader.digits(2);
            if (!s || *s > 59)
                return std::nullopt;
            second = *s;
            if (reader.take(u'.')) {
                const std::optional<double> f = reader.fraction();
                if (!f)
                    return std::nullopt;
                fraction = *f;
            }
        }
        if (!reader.takeLetter(u'Z') && !reader.atEnd()) {
            const std::optional<int> offset = readZoneOffset(reader);
            if (!offset)
                return std::nullopt;
            offsetSeconds = *offset;
        }
    }
    if (!reader.atEnd())
        return std::nullopt;
    return dateFromComponents(*year, *month, *day, hour, minute, second, offsetSeconds) + fraction;
}

OptionalDate getDateFromString(const QString &text)
{
    // curl reads a C string: a NUL would cut the text short and let curl
    // read a date from a prefix, so such texts are refused with the
    // non-ASCII ones.
    for (const QChar c : text) {
        if (c.unicode() == 0 || c.unicode() > 0x7f)
            return std::nullopt;
    }
    const QByteArray ascii = text.toLatin1();
    const time_t seconds = curl_getdate(ascii.constData(), nullptr);
    if (seconds == -1)
        return std::nullopt;
    return Date(seconds);
}

OptionalDate failOverParser(const QString &text)
{
    QString repaired = trimWhiteSpaceAndNewlines(text).toString();
    const qsizetype trimmedLength = repaired.size();

    // RFC 822 allows "UT" for universal time; curl only knows "GMT".
    if (repaired.endsWith(u" UT"))
        repaired.replace(repaired.size() - 3, 3, u" GMT"_s);

    // Supply missing seconds: "12:34 GMT" -> "12:34:00 GMT",
    // "T12:34+02:00" -> "T12:34:00+02:00".
    const qsizetype colon = repaired.indexOf(u':');
    if (colon >= 0 && colon + 3 < trimmedLength && repaired.at(colon + 3) != u':')
        repaired.insert(colon + 3, u":00"_s);

    if (const OptionalDate date = getDateFromString(repaired))
        return date;
    return scanLooseIsoDate(repaired);
}

} // namespace corvane
