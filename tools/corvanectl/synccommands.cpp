// sync-status: what sync between machines sees in the cloud container.
#include "cli.h"

#include "sync/changedbhandler.h"
#include "sync/cloudfolder.h"

#include "base/settings.h"

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

QList<FolderStatus> folderStatuses()
{
    const sync::ChangeDbHandler::Status changeDb = sync::ChangeDbHandler::savedStatus();
    return {
        {QStringLiteral("changedb"), changeDb.reachable, changeDb.directory, changeDb.filesSeen, changeDb.filesApplied,
         changeDb.lastWrite},
    };
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
         "its folders the files of other machines in it now, how many this home has applied and when it last "
         "wrote its own.",
         syncStatus},
    };
    return commands;
}

} // namespace corvane::cli
