#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace corvane {

class Settings;

// The options every front end takes before its own arguments:
//   --home DIR  --no-default-feeds  --assume-online  --set KEY=VALUE
struct LaunchOptions
{
    std::optional<QString> home;
    QStringList presets; // "KEY=VALUE", in the order given
    bool noDefaultFeeds = false;
    bool assumeOnline = false;
    bool help = false;   // -h or --help
    QStringList rest;    // everything from the first argument that is no option on

    // Reads the leading options of `args` (the program name excluded).
    // None, with the reason in `error`, for an unknown option, a missing
    // value or a --set without KEY=VALUE.
    static std::optional<LaunchOptions> parse(const QStringList &args, QString *error);

    // Points CORVANE_HOME at --home; call before the settings are opened.
    void applyHome() const;
    // Stores the --set values and the --no-default-feeds mark.
    void applySettings(Settings &settings) const;

    // The options' lines for a help text.
    static QString helpText();
};

} // namespace corvane
