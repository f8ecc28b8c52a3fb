#include "launchoptions.h"

#include "settings.h"

namespace corvane {

std::optional<LaunchOptions> LaunchOptions::parse(const QStringList &args, QString *error)
{
    LaunchOptions options;
    qsizetype at = 0;
    for (; at < args.size() && args.at(at).startsWith(u'-'); ++at) {
        const QString &option = args.at(at);
        if (option == u"-h" || option == u"--help") {
            options.help = true;
        } else if (option == u"--no-default-feeds") {
            options.noDefaultFeeds = true;
        } else if (option == u"--assume-online") {
            options.assumeOnline = true;
        } else if (option == u"--home" || option == u"--set") {
            if (at + 1 >= args.size()) {
                *error = QStringLiteral("option %1 needs a value").arg(option);
                return std::nullopt;
            }
            const QString &value = args.at(++at);
            if (option == u"--home") {
                options.home = value;
            } else {
                if (value.indexOf(u'=') <= 0) {
                    *error = QStringLiteral("--set needs KEY=VALUE, got %1").arg(value);
                    return std::nullopt;
                }
                options.presets.append(value);
            }
        } else {
            *error = QStringLiteral("unknown option %1").arg(option);
            return std::nullopt;
        }
    }
    options.rest = args.mid(at);
    return options;
}

void LaunchOptions::applyHome() const
{
    if (home)
        qputenv("CORVANE_HOME", home->toLocal8Bit());
}

void LaunchOptions::applySettings(Settings &settings) const
{
    for (const QString &preset : presets) {
        const qsizetype eq = preset.indexOf(u'=');
        settings.setValue(preset.left(eq), preset.mid(eq + 1));
    }
    if (noDefaultFeeds)
        settings.setValue(QStringLiteral("DefaultFeedsAlreadyCreated"), true);
}

QString LaunchOptions::helpText()
{
    return QStringLiteral("  --home DIR           keep every file below DIR (same as CORVANE_HOME)\n"
                          "  --no-default-feeds   do not create the first-run subscriptions and keywords\n"
                          "  --assume-online      refresh without asking whether the network is reachable\n"
                          "  --set KEY=VALUE      store a setting before starting\n"
                          "  -h, --help           show this text\n");
}

} // namespace corvane
