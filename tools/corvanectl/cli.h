#pragma once

#include <QString>
#include <QStringList>
#include <QTextStream>

#include <functional>
#include <memory>
#include <optional>

namespace corvane {
class DatasourceManager;
class Settings;
}

namespace corvane::cli {

QTextStream &out();
// One line on standard error; the exit status of a failed command.
int fail(const QString &message);

// What every command is handed.
struct Invocation
{
    QStringList args;   // the command's own arguments
    Settings &settings;
    QString synopsis;   // of the command, for usage errors
    // Starts the engine on first use (store, contexts, first-run defaults).
    std::function<DatasourceManager &(bool withTimer)> engine;
};

struct Command
{
    const char *name;
    const char *synopsis; // "add URL [--category NAME]"
    const char *help;     // what it does, one paragraph
    std::function<int(Invocation &)> run;
};

const QList<Command> &settingsCommands();
const QList<Command> &feedCommands();
const QList<Command> &itemCommands();
const QList<Command> &refreshCommands();
const QList<Command> &opmlCommands();
const QList<Command> &syncCommands();

// Exit status 2 with the command's synopsis.
int usageError(const Invocation &call, const QString &message);
// False (after a usage error line) unless min <= positional arguments <= max (-1: no upper bound).
bool hasArguments(const Invocation &call, int min, int max);

// Takes "--name VALUE" out of args; none when absent, an error text in
// `error` when the value is missing.
std::optional<QString> takeOption(QStringList &args, const QString &name, QString *error);
bool takeFlag(QStringList &args, const QString &name);

} // namespace corvane::cli
