// corvanectl: the command-line front end of the Corvane engine.
#include "cli.h"

#include "base/settings.h"
#include "base/settingsdefaults.h"
#include "feeds/refresh/datasourcemanager.h"
#include "platform/reachability.h"

#include <QCoreApplication>

#include <cstdio>

using namespace corvane;
using namespace corvane::cli;

namespace {

const char kOptions[] = R"(Options:
  --home DIR           keep every file below DIR (same as CORVANE_HOME)
  --no-default-feeds   do not create the first-run subscriptions and keywords
  --assume-online      refresh without asking whether the network is reachable
  --set KEY=VALUE      store a setting before running the command
  -h, --help           show this text; COMMAND --help shows a command's help
)";

QList<Command> allCommands()
{
    return feedCommands() + refreshCommands() + itemCommands() + opmlCommands() + settingsCommands();
}

QString usage()
{
    QString text = QStringLiteral("Usage: corvanectl [OPTIONS] COMMAND [ARGS]\n\n") + QString::fromUtf8(kOptions)
        + QStringLiteral("\nCommands:\n");
    for (const Command &command : allCommands())
        text += QStringLiteral("  %1\n").arg(QString::fromUtf8(command.synopsis));
    return text;
}

int globalUsageError(const QString &message)
{
    QTextStream(stderr) << "corvanectl: " << message << "\n\n" << usage();
    return 2;
}

// Thrown by startEngine() when there is no store to work on; main() says so
// and exits 1.
struct StoreUnavailable
{
    QString message;
};

// The engine of this run, started by the first command that needs it.
std::unique_ptr<DatasourceManager> g_engine;

DatasourceManager &startEngine(bool withTimer)
{
    if (!g_engine) {
        DatasourceManager::Options options;
        options.startTimer = withTimer;
        g_engine = std::make_unique<DatasourceManager>(options);
        if (!g_engine->isOpen())
            throw StoreUnavailable{g_engine->openErrorText()};
        // Let the start-up work (first-run defaults, their merge into the
        // main context) finish before the command looks at the store.
        g_engine->stores().queue().drain();
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }
    return *g_engine;
}

} // namespace

namespace corvane::cli {

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

int fail(const QString &message)
{
    out().flush();
    QTextStream(stderr) << "corvanectl: " << message << '\n';
    return 1;
}

int usageError(const Invocation &call, const QString &message)
{
    out().flush();
    QTextStream(stderr) << "corvanectl: " << message << "\nusage: corvanectl " << call.synopsis << '\n';
    return 2;
}

bool hasArguments(const Invocation &call, int min, int max)
{
    const qsizetype count = call.args.size();
    for (const QString &arg : call.args)
        if (arg.startsWith(QStringLiteral("--"))) {
            usageError(call, QStringLiteral("unknown option %1").arg(arg));
            return false;
        }
    if (count < min || (max >= 0 && count > max)) {
        usageError(call, QStringLiteral("wrong number of arguments"));
        return false;
    }
    return true;
}

std::optional<QString> takeOption(QStringList &args, const QString &name, QString *error)
{
    const qsizetype at = args.indexOf(name);
    if (at < 0)
        return std::nullopt;
    if (at + 1 >= args.size()) {
        *error = QStringLiteral("%1 needs a value").arg(name);
        return std::nullopt;
    }
    const QString value = args.at(at + 1);
    args.remove(at, 2);
    return value;
}

bool takeFlag(QStringList &args, const QString &name)
{
    return args.removeAll(name) > 0;
}

} // namespace corvane::cli

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);

    QStringList presets;
    bool noDefaultFeeds = false;
    bool assumeOnline = false;
    while (!args.isEmpty() && args.first().startsWith(u'-')) {
        const QString option = args.takeFirst();
        if (option == u"-h" || option == u"--help") {
            out() << usage();
            return 0;
        }
        if (option == u"--no-default-feeds") {
            noDefaultFeeds = true;
            continue;
        }
        if (option == u"--assume-online") {
            assumeOnline = true;
            continue;
        }
        if (option != u"--home" && option != u"--set")
            return globalUsageError(QStringLiteral("unknown option %1").arg(option));
        if (args.isEmpty())
            return globalUsageError(QStringLiteral("option %1 needs a value").arg(option));
        if (option == u"--home")
            qputenv("CORVANE_HOME", args.takeFirst().toLocal8Bit());
        else
            presets.append(args.takeFirst());
    }
    if (args.isEmpty())
        return globalUsageError(QStringLiteral("no command given"));

    Settings &settings = Settings::shared();
    applyStartUpSettings(settings);
    for (const QString &preset : std::as_const(presets)) {
        const qsizetype eq = preset.indexOf(u'=');
        if (eq <= 0)
            return globalUsageError(QStringLiteral("--set needs KEY=VALUE, got %1").arg(preset));
        settings.setValue(preset.left(eq), preset.mid(eq + 1));
    }
    if (noDefaultFeeds)
        settings.setValue(QStringLiteral("DefaultFeedsAlreadyCreated"), true);
    if (assumeOnline)
        platform::setAssumeReachable(true);

    const QString name = args.takeFirst();
    for (const Command &command : allCommands()) {
        if (name != QLatin1String(command.name))
            continue;
        Invocation call{args, settings, QString::fromUtf8(command.synopsis), startEngine};
        if (args.contains(QStringLiteral("--help")) || args.contains(QStringLiteral("-h"))) {
            out() << "usage: corvanectl " << command.synopsis << "\n\n" << command.help << '\n';
            return 0;
        }
        int status = 0;
        try {
            status = command.run(call);
        } catch (const StoreUnavailable &unavailable) {
            g_engine.reset();
            return fail(unavailable.message);
        }
        out().flush();
        g_engine.reset();
        return status;
    }
    return globalUsageError(QStringLiteral("unknown command %1").arg(name));
}
