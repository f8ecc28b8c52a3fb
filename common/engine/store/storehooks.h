#pragma once

#include <QString>

#include <functional>

namespace corvane {

class Record;
class RSSDatasource;

// Where the layers above the store plug into record behaviour: the cloud
// key-value handler and the Feedly sync hear of deletions by the user, the
// Feedly account says whether pending flags are needed, and the Pocket
// client follows starring. Unset hooks do nothing. Set them once at start,
// before records are used.
struct StoreHooks
{
    // Called by deleteObjectByUser() before the record is deleted.
    std::function<void(Record *record)> reportCloudDeletion;
    std::function<void(Record *record)> reportFeedlyDeletion;
    std::function<bool()> feedlySignedIn;
    std::function<void(const QString &link, bool starred)> starChangedForPocket;
    // Starts the refresh of a feed (the feed engine provides it).
    std::function<bool(RSSDatasource *datasource)> refreshDatasource;

    static StoreHooks &shared();

    // Tells the cloud handler (and, for categories and subscriptions, the
    // Feedly sync) that the user deleted the record.
    static void reportUserDeletion(Record *record, bool toFeedly);
};

} // namespace corvane
