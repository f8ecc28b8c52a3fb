#pragma once

namespace corvane {

class Settings;

// Registers the default of every user setting, in one registration, before
// anything reads one.
void registerStandardDefaults(Settings &settings);

// The writes of every start: scroll bars only while scrolling, and "firstRun"
// stored as false when it has no value yet.
void applyStartUpSettings(Settings &settings);

} // namespace corvane
