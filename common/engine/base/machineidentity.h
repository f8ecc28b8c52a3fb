#pragma once

#include <QString>

namespace corvane {

class Settings;

// The identity of this machine among the user's machines: a UUID text made
// once and kept under "CloudThisMachine" for the life of the settings store.
QString thisMachine(Settings &settings);
QString thisMachine();

} // namespace corvane
