#pragma once

#include "base/date.h"

#include <QJsonObject>

namespace corvane {
class DataItem;
class Datasource;
}

namespace corvane::cli {

// ISO 8601 in UTC with milliseconds ("2026-12-07T15:40:54.123Z"); none is null.
QJsonValue isoDate(OptionalDate date);
QJsonObject datasourceToJson(const Datasource &datasource);
QJsonObject itemToJson(const DataItem &item);

} // namespace corvane::cli
