// import-opml, export-opml, backups, restore.
#include "cli.h"

#include "feeds/refresh/datasourcemanager.h"
#include "feeds/subscriptions/opmlhandler.h"
#include "store/context.h"
#include "store/storemanager.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>
#include <thread>

namespace corvane::cli {
namespace {

// OPML work refuses the main thread; the main thread waits meanwhile.
template<typename Work>
void offMainThread(Work work)
{
    std::thread thread(std::move(work));
    thread.join();
}

int importFile(DatasourceManager &engine, const QString &path, bool replace)
{
    OPMLHandler handler(engine.stores());
    std::optional<QString> error;
    offMainThread([&] { error = handler.importURL(path, replace); });
    engine.stores().waitForPendingCommit();
    for (const QString &deleted : handler.deletedDescriptions())
        out() << "deleted " << deleted << '\n';
    if (error && replace)
        return fail(QStringLiteral("%1: %2").arg(path, *error));
    if (error)
        return fail(QStringLiteral("%1: %2 (the subscriptions read before the error were imported)").arg(path, *error));
    out() << "imported " << path << '\n';
    return 0;
}

int importOpml(Invocation &call)
{
    const bool replace = takeFlag(call.args, QStringLiteral("--replace"));
    if (!hasArguments(call, 1, 1))
        return 2;
    if (!QFileInfo(call.args[0]).isFile())
        return fail(QStringLiteral("no such file: %1").arg(call.args[0]));
    return importFile(call.engine(false), call.args[0], replace);
}

int exportOpml(Invocation &call)
{
    if (!hasArguments(call, 1, 1))
        return 2;
    DatasourceManager &engine = call.engine(false);
    OPMLHandler handler(engine.stores());
    const QString target = call.args[0];
    if (target == u"-") {
        QByteArray document;
        Context *background = engine.contextBackground();
        offMainThread([&] { background->performBlockConfinedAndWait([&] { document = handler.exportDocument(); }); });
        out().flush();
        std::fwrite(document.constData(), 1, size_t(document.size()), stdout);
        std::fputc('\n', stdout);
        return 0;
    }
    bool written = false;
    offMainThread([&] { written = handler.exportURL(QFileInfo(target).absoluteFilePath()); });
    return written ? 0 : fail(QStringLiteral("could not write %1").arg(target));
}

int listBackups(Invocation &call)
{
    if (!hasArguments(call, 0, 0))
        return 2;
    QStringList backups = call.engine(false).stores().opmlBackups();
    backups.sort();
    for (const QString &path : std::as_const(backups))
        out() << QFileInfo(path).fileName() << '\n';
    return 0;
}

int restore(Invocation &call)
{
    if (!hasArguments(call, 1, 1))
        return 2;
    DatasourceManager &engine = call.engine(false);
    const QString wanted = call.args[0];
    for (const QString &path : engine.stores().opmlBackups()) {
        const QString name = QFileInfo(path).fileName();
        // The file name, or the day it names ("2026-12-07").
        if (name == wanted || name.split(u'.').value(1) == wanted)
            return importFile(engine, path, true);
    }
    return fail(QStringLiteral("no backup named %1 (see corvanectl backups)").arg(wanted));
}

} // namespace

const QList<Command> &opmlCommands()
{
    static const QList<Command> commands = {
        {"import-opml", "import-opml FILE [--replace]",
         "Adds the subscriptions and categories of an OPML file that are not there yet. With --replace, "
         "also deletes every subscription and category the file does not list, and prints them.",
         importOpml},
        {"export-opml", "export-opml FILE|-", "Writes the subscriptions and categories as OPML (- for standard output).",
         exportOpml},
        {"backups", "backups", "Lists the daily OPML backups.", listBackups},
        {"restore", "restore NAME",
         "Makes the subscriptions those of a backup (a name from backups, or its day), deleting the others.", restore},
    };
    return commands;
}

} // namespace corvane::cli
