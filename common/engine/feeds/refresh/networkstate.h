#pragma once

#include <QString>

namespace corvane {

// Whether the network is reachable, polled once a second on a low-priority
// queue from the first question on.
namespace networkstate {

// Posted on the main queue when the network becomes reachable.
extern const QString kNetworkBecameReachableNotification; // "NetworkBecameReachable"

bool internetAvailable();
// A download failed as if offline: the network counts as unreachable until
// the next poll says otherwise.
void internetMightBeUnavailable();

} // namespace networkstate
} // namespace corvane
