#pragma once

class QApplication;

namespace corvane::desktop {

// Before the application object exists: in a Wayland session with an X
// server beside it, the bar runs on XWayland, the only way to dock it.
void chooseWindowSystem();

// Everything after the application object: options, the single-instance
// check, settings, the engine, the bar; returns the exit status.
int launch(QApplication &app);

} // namespace corvane::desktop
