#include "recordevents.h"

#include "category.h"
#include "datasource.h"
#include "keyword.h"

#include "base/notificationcenter.h"

namespace corvane {

const QString kSyncDeletionNotification = QStringLiteral("SyncDeletion");
const QString kItemStarSavingNotification = QStringLiteral("ItemStarSaving");
const QString kRefreshRequestedNotification = QStringLiteral("RefreshRequested");

SyncDeletion SyncDeletion::of(const Record *record, bool forFeedly)
{
    SyncDeletion deletion;
    deletion.entity = record->entity();
    deletion.forFeedly = forFeedly;
    if (const auto *category = dynamic_cast<const Category *>(record)) {
        deletion.uuid = category->uuid();
        deletion.name = category->name();
    } else if (const auto *datasource = dynamic_cast<const Datasource *>(record)) {
        deletion.uuid = datasource->uuid();
        deletion.url = datasource->url();
    } else if (const auto *keyword = dynamic_cast<const Keyword *>(record)) {
        deletion.name = keyword->name();
    }
    return deletion;
}

void SyncDeletion::post(const Record *record, bool forFeedly)
{
    NotificationCenter::defaultCenter().post(kSyncDeletionNotification, nullptr,
                                             {{QStringLiteral("deletion"), QVariant::fromValue(of(record, forFeedly))}});
}

} // namespace corvane
