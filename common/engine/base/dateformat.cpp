#include "dateformat.h"

#include <QLocale>

#include <unicode/datefmt.h>
#include <unicode/locid.h>

#include <memory>

namespace corvane {
namespace {

icu::DateFormat::EStyle icuStyle(DateStyle style)
{
    switch (style) {
    case DateStyle::None:
        return icu::DateFormat::kNone;
    case DateStyle::Short:
        return icu::DateFormat::kShort;
    case DateStyle::Medium:
        break;
    }
    return icu::DateFormat::kMedium;
}

} // namespace

QString localDateText(Date date, DateStyle dateStyle, DateStyle timeStyle)
{
    // QLocale's name ("de_DE") is an ICU locale id as well.
    const icu::Locale locale(QLocale().name().toUtf8().constData());
    const std::unique_ptr<icu::DateFormat> formatter(
        icu::DateFormat::createDateTimeInstance(icuStyle(dateStyle), icuStyle(timeStyle), locale));
    if (!formatter)
        return QString();
    icu::UnicodeString text;
    formatter->format(UDate(date * 1000.0), text);
    return QString(reinterpret_cast<const QChar *>(text.getBuffer()), text.length());
}

} // namespace corvane
