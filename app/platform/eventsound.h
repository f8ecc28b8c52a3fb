#pragma once

#include <QString>
#include <QStringList>

namespace corvane::desktop {

// Event sounds of the freedesktop sound theme, played through libcanberra.
namespace eventsound {

// Plays the theme's sound of that event name ("message-new-instant"...);
// false when no sound could be started (no name, no such sound, no audio).
bool play(const QString &eventName);

// The event names the installed sound themes offer (the file names without
// their extensions in the "freedesktop" theme and the user's theme below
// $XDG_DATA_HOME and $XDG_DATA_DIRS), sorted, without duplicates.
QStringList availableSounds();

} // namespace eventsound
} // namespace corvane::desktop
