#include "jsonexport.h"

#include "store/category.h"
#include "store/dataitem.h"
#include "store/datasource.h"

#include <QDateTime>
#include <QTimeZone>

#include <cmath>

namespace corvane::cli {
namespace {

QJsonValue text(const QString &value)
{
    return value.isNull() ? QJsonValue() : QJsonValue(value);
}

} // namespace

QJsonValue isoDate(OptionalDate date)
{
    if (!date)
        return QJsonValue();
    const QDateTime moment = QDateTime::fromMSecsSinceEpoch(qint64(std::llround(*date * 1000.0)), Qt::UTC);
    return moment.toString(Qt::ISODateWithMs);
}

QJsonObject datasourceToJson(const Datasource &datasource)
{
    const Category *category = datasource.category();
    return QJsonObject{
        {QStringLiteral("url"), text(datasource.url())},
        {QStringLiteral("name"), text(datasource.name())},
        {QStringLiteral("customName"), text(datasource.customName())},
        {QStringLiteral("visibleName"), datasource.visibleName()},
        {QStringLiteral("category"), category ? text(category->name()) : QJsonValue()},
        {QStringLiteral("position"), datasource.position()},
        {QStringLiteral("enabled"), datasource.enabled()},
        {QStringLiteral("uuid"), text(datasource.uuid())},
        {QStringLiteral("clock"), QJsonValue(qint64(datasource.clock()))},
        {QStringLiteral("errorString"), text(datasource.errorString())},
        {QStringLiteral("infoString"), datasource.infoString()},
        {QStringLiteral("lastUpdateDate"), isoDate(datasource.lastUpdateDate())},
        {QStringLiteral("limit"), datasource.limit()},
        {QStringLiteral("ageLimit"), datasource.ageLimit()},
        {QStringLiteral("refreshRate"), datasource.refreshRate()},
        {QStringLiteral("hasImage"), !datasource.imageData().isEmpty()},
    };
}

QJsonObject itemToJson(const DataItem &item)
{
    const Datasource *datasource = item.datasource();
    return QJsonObject{
        {QStringLiteral("title"), text(item.title())},
        {QStringLiteral("link"), text(item.link())},
        {QStringLiteral("guid"), text(item.guid())},
        {QStringLiteral("itemHash"), QJsonValue(qint64(item.itemHash()))},
        {QStringLiteral("itemDescription"), text(item.itemDescription())},
        {QStringLiteral("previewContent"), text(item.previewContent())},
        {QStringLiteral("creator"), text(item.creator())},
        {QStringLiteral("enclosureUrl"), text(item.enclosureUrl())},
        {QStringLiteral("enclosureMime"), text(item.enclosureMime())},
        {QStringLiteral("originalDate"), isoDate(item.originalDate())},
        {QStringLiteral("parsedDate"), isoDate(item.parsedDate())},
        {QStringLiteral("orderingDate"), isoDate(item.orderingDate())},
        {QStringLiteral("read"), item.isRead()},
        {QStringLiteral("starred"), item.isStarred()},
        {QStringLiteral("mark"), item.mark()},
        {QStringLiteral("deleted"), item.isDeletedByUser()},
        {QStringLiteral("datasource"), datasource ? text(datasource->url()) : QJsonValue()},
    };
}

} // namespace corvane::cli
