// corvanectl: the command-line front end of the Corvane engine.
#include "cli.h"

#include "base/launchoptions.h"
#include "base/settings.h"
#include "base/settingsdefaults.h"
#include "feeds/refresh/datasourcemanager.h"
#include "platform/reachability.h"
#include "sync/cloudsync.h"

#include <QCoreApplication>

#include <cstdio>

using namespace corvane;
using namespace corvane::cli;

namespace {


QList<Command> allCommands()
{
    return feedCommands() + refreshCommands() + itemCommands() + opmlCommands() + syncCommands() + settingsCommands();
}

QString usage()
{
    QString text = QStringLiteral("Usage: corvanectl [OPTIONS] COMMAND [ARGS]\n\nOptions:\n")
        + LaunchOptions::helpText().replace(QStringLiteral("show this text"),
                                            QStringLiteral("show this text; COMMAND --help shows a command's help"))
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
        // No bar surveys the items here: the refreshes' lookups and saves go
        // through the bounded page cache instead of leaving the file mapped.
        options.backgroundReads = ConnectionReads::ThroughPageCache;
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
    QString error;
    const std::optional<LaunchOptions> options = LaunchOptions::parse(app.arguments().mid(1), &error);
    if (!options)
        return globalUsageError(error);
    if (options->help) {
        out() << usage();
        return 0;
    }
    QStringList args = options->rest;
    if (args.isEmpty())
        return globalUsageError(QStringLiteral("no command given"));

    options->applyHome();
    Settings &settings = Settings::shared();
    applyStartUpSettings(settings);
    options->applySettings(settings);
    if (options->assumeOnline)
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
            sync::CloudSync::stop();
            g_engine.reset();
            return fail(unavailable.message);
        }
        out().flush();
        // Sync writes what waits and lets go of the engine first.
        sync::CloudSync::stop();
        g_engine.reset();
        return status;
    }
    return globalUsageError(QStringLiteral("unknown command %1").arg(name));
}
