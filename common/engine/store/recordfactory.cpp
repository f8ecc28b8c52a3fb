#include "recordfactory.h"

#include "category.h"
#include "dataitem.h"
#include "datasource.h"
#include "keyword.h"

namespace corvane {

std::unique_ptr<Record> makeRecord(Context *context, ObjectID id, int kind)
{
    switch (id.entity) {
    case Entity::Category:
        return std::make_unique<Category>(context, id);
    case Entity::Datasource:
        if (kind == RSSDatasource::kKind)
            return std::make_unique<RSSDatasource>(context, id);
        return std::make_unique<Datasource>(context, id);
    case Entity::DataItem:
        return std::make_unique<DataItem>(context, id);
    case Entity::Keyword:
        break;
    }
    return std::make_unique<Keyword>(context, id);
}

} // namespace corvane
