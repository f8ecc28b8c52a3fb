#pragma once

namespace corvane::desktop::autostart {

// Open at login: an XDG autostart entry in the user's config folder
// ($XDG_CONFIG_HOME/autostart) that starts Corvane with "--autostart",
// which keeps the bar hidden in the tray until asked for.

// Whether the entry exists and is not switched off.
bool isEnabled();

// Writes or removes the entry; false when the file cannot be written or removed.
bool setEnabled(bool on);

} // namespace corvane::desktop::autostart
