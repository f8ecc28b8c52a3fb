// sync-status: what sync between machines sees in the cloud container.
#include "cli.h"

#include "sync/changedbhandler.h"
#include "sync/cloudfolder.h"
#include "sync/cloudsync.h"

#include "base/machineidentity.h"
#include "base/settings.h"

#include <QDir>

#include <QJsonDocument>
#include <QJsonObject>

namespace corvane::cli {
namespace {

struct FolderStatus
{
    QString name;
    bool reachable = false;
    QString directory;
    int filesSeen = 0;
    int filesApplied = 0;
    QDateTime lastWrite;
};

QString when(const QDateTime &time)
{
    return time.isValid() ? time.toUTC().toString(Qt::ISODate) : QString();
}

QJsonObject toJson(const FolderStatus &folder)
{
    return QJsonObject{
        {QStringLiteral("reachable"), folder.reachable},
        {QStringLiteral("path"), folder.directory},
        {QStringLiteral("filesSeen"), folder.filesSeen},
        {QStringLiteral("filesApplied"), folder.filesApplied},
        {QStringLiteral("lastWrite"), folder.lastWrite.isValid() ? QJsonValue(when(folder.lastWrite)) : QJsonValue()},
    };
}

// What the folder shows now: reachable, the other machines' files, and
// this machine's newest file.
FolderStatus look(const QString &name)
{
    FolderStatus status;
    status.name = name;
    const sync::CloudFolder folder(name);
    const std::optional<QString> directory = folder.directory();
    status.reachable = directory.has_value();
    status.directory = directory.value_or(QDir(sync::CloudFolder::containerRoot()).filePath(name));
    const QString machine = thisMachine();
    for (const sync::CloudFile &file : folder.files()) {
        if (!file.name.startsWith(machine))
            ++status.filesSeen;
        else if (!status.lastWrite.isValid() || file.modified > status.lastWrite)
            status.lastWrite = file.modified;
    }
    return status;
}

QList<FolderStatus> folderStatuses()
{
    FolderStatus changeDb = look(QStringLiteral("changedb"));
    const sync::ChangeDbHandler::Status saved = sync::ChangeDbHandler::savedStatus();
    changeDb.filesApplied = saved.filesApplied;
    if (!changeDb.lastWrite.isValid())
        changeDb.lastWrite = saved.lastWrite;
    FolderStatus keyValue = look(QStringLiteral("keyvalue"));
    keyValue.filesApplied = sync::CloudSync::savedKeyValueFilesApplied();
    return {keyValue, changeDb};
}

int syncStatus(Invocation &call)
{
    const bool json = takeFlag(call.args, QStringLiteral("--json"));
    if (!hasArguments(call, 0, 0))
        return 2;
    const QString root = sync::CloudFolder::containerRoot();
    const bool enabled = call.settings.boolean(QStringLiteral("iCloudEnabled"));
    const QList<FolderStatus> folders = folderStatuses();
    bool reachable = true;
    for (const FolderStatus &folder : folders)
        reachable = reachable && folder.reachable;
    if (json) {
        QJsonObject object{
            {QStringLiteral("enabled"), enabled},
            {QStringLiteral("container"), root},
            {QStringLiteral("reachable"), reachable},
        };
        for (const FolderStatus &folder : folders)
            object.insert(folder.name, toJson(folder));
        out() << QJsonDocument(object).toJson(QJsonDocument::Indented);
        return 0;
    }
    out() << "sync      " << (enabled ? "on" : "off") << '\n'
          << "container " << root << (reachable ? " (reachable)" : " (unreachable)") << '\n';
    for (const FolderStatus &folder : folders) {
        out() << folder.name << QString(10 - folder.name.size(), u' ')
              << (folder.reachable ? QString() : QStringLiteral("unreachable, ")) << folder.filesSeen
              << " files of other machines, " << folder.filesApplied << " applied, last write "
              << (folder.lastWrite.isValid() ? when(folder.lastWrite) : QStringLiteral("never")) << '\n';
    }
    return 0;
}

} // namespace

const QList<Command> &syncCommands()
{
    static const QList<Command> commands = {
        {"sync-status", "sync-status [--json]",
         "Prints whether sync is on, where the cloud container is and whether it can be reached, and for each of "
         "its folders (keyvalue: subscriptions, categories, keywords, stars; changedb: read states) the files of "
         "other machines in it now, how many of them this home applied (change database: in all; key-value "
         "store: in the last run that ended) and when this machine last wrote its own.",
         syncStatus},
    };
    return commands;
}

} // namespace corvane::cli
