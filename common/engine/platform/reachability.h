#pragma once

#include <QString>

namespace corvane::platform {

// Whether the network is reachable now. Safe from any thread and cheap enough
// to be asked every second.
//
// True when the setting "AssumeNetworkReachable" or setAssumeReachable(true)
// says so; otherwise when the system's network information backend reports
// the machine online (or on a site network), or else when the routing tables
// hold a default route that is up. The backend is loaded once, on the main
// thread; until then, and without one, only the routing tables count.
bool networkReachable();
void setAssumeReachable(bool assume);

// Where the IPv4 and IPv6 routing tables ("route", "ipv6_route") are read;
// /proc/net unless tests point elsewhere. An empty path restores /proc/net.
void setRouteTableDirectory(const QString &path);

// True when the tables in `directory` hold a default route that is up and
// neither a reject route nor one over the loopback interface.
bool hasDefaultRoute(const QString &directory);

} // namespace corvane::platform
