#pragma once

namespace corvane::sync {

// Starts sync between the user's machines once the engine runs: the
// key-value handler (subscriptions, categories, keywords, stars) and the
// change database (read states), both created off the main thread and
// switched on and off with the setting "iCloudEnabled". When a store was
// migrated at start, or the setting turns on while the program runs, the
// key-value handler's first merge blocks until the datasource manager has
// taken a snapshot of the store (when the cloud holds records).
class CloudSync
{
public:
    // Once per process, on the main thread, after the shared datasource
    // manager was made; later calls do nothing.
    static void start();
    // Blocks until the handlers are made and switched as the setting says.
    static void waitUntilStarted();
    // Before the engine goes away: the change database stops its work and
    // waits for it; the setting is no longer followed.
    static void stop();

    // The key-value files of other machines that the last run which
    // stopped sync had read and merged (sync-status of another process).
    static int savedKeyValueFilesApplied();
};

} // namespace corvane::sync
