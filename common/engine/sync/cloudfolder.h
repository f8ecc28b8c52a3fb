#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>

#include <optional>

class QFileSystemWatcher;

namespace corvane::sync {

// One file of a cloud folder as a reader sees it.
struct CloudFile
{
    QString path;       // absolute
    QString name;       // file name only
    QDateTime modified; // the content-change date
    qint64 size = 0;
};

// A folder of the cloud container ("keyvalue", "changedb"). The container is a
// plain folder that a file-synchronisation engine (Syncthing, Nextcloud,
// Dropbox, a network share) keeps in step between the user's machines, so the
// rules here are the ones such engines need:
// - files are written whole under a hidden temporary name, flushed to disk and
//   renamed into place, and never changed afterwards;
// - readers skip hidden names and the temporary and conflict files of the
//   common engines, never follow symbolic links and refuse oversized files.
// Safe to use from any thread; it holds no state besides its path.
class CloudFolder
{
public:
    // Larger files are refused unread.
    static constexpr qint64 kMaxFileSize = 32 * 1024 * 1024;

    // The container's root: the setting "CloudContainerPath", or "Cloud" in
    // the store's data folder when that is empty.
    static QString containerRoot();

    explicit CloudFolder(QString subfolder);

    const QString &subfolder() const { return m_subfolder; }

    // The folder's path, created with its parents when missing; nothing when
    // it cannot be created or is not a writable folder (container unreachable).
    std::optional<QString> directory() const;

    // The regular files of the folder, oldest first by modification date.
    // Empty when the folder is unreachable.
    QList<CloudFile> files() const;

    // Writes `bytes` as `name` atomically (temporary name, fsync, rename).
    // On failure returns false and, when `error` is given, says why.
    bool write(const QString &name, const QByteArray &bytes, QString *error = nullptr) const;

    // The bytes of a file of this folder; nothing when it is missing, not a
    // regular file, a symbolic link, outside the folder, larger than
    // kMaxFileSize or unreadable.
    std::optional<QByteArray> read(const QString &path, QString *error = nullptr) const;

    // Deletes a file of this folder; errors are ignored by callers.
    bool remove(const QString &path) const;

    // Names a reader must skip: hidden names (which include our own temporary
    // files and Syncthing's ".syncthing.*.tmp"), conflict copies
    // ("*.sync-conflict-*", "* (conflicted copy*", "*_conflict-*"), and the
    // partial files of other engines ("*.part", "*.tmp", "~*", "*~").
    static bool isIgnoredName(const QString &name);

private:
    bool isInside(const QString &path) const;

    QString m_subfolder;
};

// Reports changes of a cloud folder's contents. Lives on the thread that
// creates it (which needs an event loop: the main thread); the folder is
// watched once it exists, so a watch started while the container is
// unreachable picks the folder up when `rescan` finds it.
class CloudFolderWatch : public QObject
{
    Q_OBJECT
public:
    explicit CloudFolderWatch(CloudFolder folder, QObject *parent = nullptr);

    // Watches the folder when it is reachable; returns whether it is watched.
    bool start();

Q_SIGNALS:
    // Something in the folder may have changed.
    void changed();

private:
    CloudFolder m_folder;
    QFileSystemWatcher *m_watcher;
};

} // namespace corvane::sync
