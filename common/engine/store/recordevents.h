#pragma once

#include "objectid.h"

#include <QMetaType>
#include <QString>

namespace corvane {

class Record;

// Events the records post for the layers above the store (cloud sync, the
// Feedly account, the Pocket client, the feed engine), which observe them
// on the default notification centre. Delivery is on the posting thread,
// before the record changes further; each event carries what its receiver
// needs, because the record may be gone by the time the receiver acts.

// A category, subscription or keyword is about to be deleted for a reason
// the other machines and accounts must hear of. userInfo "deletion" = SyncDeletion.
extern const QString kSyncDeletionNotification; // "SyncDeletion"
struct SyncDeletion
{
    Entity entity = Entity::Category;
    QString uuid; // categories and subscriptions
    QString url;  // subscriptions
    QString name; // categories and keywords
    bool forFeedly = false; // the user deleted a category or subscription

    static SyncDeletion of(const Record *record, bool forFeedly);
    // Posts the event for the record.
    static void post(const Record *record, bool forFeedly);
};

// An item's star is about to be saved changed. userInfo "link" (text),
// "starred" (bool).
extern const QString kItemStarSavingNotification; // "ItemStarSaving"

// A subscription asks for its refresh (updateData); object = the
// subscription, on its context's queue.
extern const QString kRefreshRequestedNotification; // "RefreshRequested"

} // namespace corvane

Q_DECLARE_METATYPE(corvane::SyncDeletion)
