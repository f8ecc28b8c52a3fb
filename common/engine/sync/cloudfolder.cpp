#include "cloudfolder.h"

#include "base/paths.h"
#include "base/settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QUuid>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace corvane::sync {

namespace {

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

void setError(QString *error, const QString &text)
{
    if (error)
        *error = text;
}

// Writes all of `bytes` to `fd`, retrying on short writes and interruptions.
bool writeAll(int fd, const QByteArray &bytes)
{
    const char *data = bytes.constData();
    qint64 left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, size_t(left));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        left -= written;
    }
    return true;
}

// Makes a rename in `dir` durable.
void syncDirectory(const QString &dir)
{
    const int fd = ::open(QFile::encodeName(dir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace

QString CloudFolder::containerRoot()
{
    const QString configured = Settings::shared().string(QStringLiteral("CloudContainerPath")).trimmed();
    if (!configured.isEmpty())
        return QDir::cleanPath(QDir::isAbsolutePath(configured) ? configured : QDir::home().filePath(configured));
    return QDir(paths::storeDir()).filePath(QStringLiteral("Cloud"));
}

CloudFolder::CloudFolder(QString subfolder)
    : m_subfolder(std::move(subfolder))
{
}

std::optional<QString> CloudFolder::directory() const
{
    const QString path = QDir(containerRoot()).filePath(m_subfolder);
    if (!QDir().mkpath(path))
        return std::nullopt;
    const QFileInfo info(path);
    if (!info.isDir() || !info.isWritable())
        return std::nullopt;
    return info.absoluteFilePath();
}

bool CloudFolder::isIgnoredName(const QString &name)
{
    if (name.isEmpty() || name.startsWith(QLatin1Char('.')) || name.startsWith(QLatin1Char('~'))
        || name.endsWith(QLatin1Char('~')))
        return true;
    if (name.contains(QLatin1String(".sync-conflict-")) || name.contains(QLatin1String("conflicted copy"))
        || name.contains(QLatin1String("_conflict-")))
        return true;
    return name.endsWith(QLatin1String(".part")) || name.endsWith(QLatin1String(".tmp"));
}

QList<CloudFile> CloudFolder::files() const
{
    QList<CloudFile> result;
    const auto dir = directory();
    if (!dir)
        return result;
    const QFileInfoList entries = QDir(*dir).entryInfoList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo &info : entries) {
        if (info.isSymLink() || !info.isFile() || isIgnoredName(info.fileName()))
            continue;
        result.append({info.absoluteFilePath(), info.fileName(), info.lastModified(), info.size()});
    }
    std::stable_sort(result.begin(), result.end(), [](const CloudFile &a, const CloudFile &b) {
        return a.modified < b.modified;
    });
    return result;
}

bool CloudFolder::isInside(const QString &path) const
{
    const auto dir = directory();
    if (!dir)
        return false;
    const QFileInfo info(path);
    return QDir::cleanPath(info.absolutePath()) == QDir::cleanPath(*dir) && !info.fileName().isEmpty();
}

bool CloudFolder::write(const QString &name, const QByteArray &bytes, QString *error) const
{
    if (name.isEmpty() || name.contains(QLatin1Char('/')) || isIgnoredName(name)) {
        setError(error, QStringLiteral("not a file name of the cloud folder: %1").arg(name));
        return false;
    }
    const auto dir = directory();
    if (!dir) {
        setError(error, QStringLiteral("cannot reach the cloud folder %1").arg(QDir(containerRoot()).filePath(m_subfolder)));
        return false;
    }
    const QString target = QDir(*dir).filePath(name);
    const QString temporary = QDir(*dir).filePath(QStringLiteral(".%1.%2.tmp")
        .arg(name, QUuid::createUuid().toString(QUuid::Id128)));
    const int fd = ::open(QFile::encodeName(temporary).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        setError(error, QStringLiteral("cannot create %1: %2").arg(temporary, systemError()));
        return false;
    }
    const bool written = writeAll(fd, bytes) && ::fsync(fd) == 0;
    const QString writeError = written ? QString() : systemError();
    ::close(fd);
    if (!written || ::rename(QFile::encodeName(temporary).constData(), QFile::encodeName(target).constData()) != 0) {
        setError(error, QStringLiteral("cannot write %1: %2").arg(target, written ? systemError() : writeError));
        ::unlink(QFile::encodeName(temporary).constData());
        return false;
    }
    syncDirectory(*dir);
    return true;
}

std::optional<QByteArray> CloudFolder::read(const QString &path, QString *error) const
{
    if (!isInside(path)) {
        setError(error, QStringLiteral("not a file of the cloud folder: %1").arg(path));
        return std::nullopt;
    }
    // O_NOFOLLOW: a symbolic link planted in the folder is never followed out of it.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        setError(error, QStringLiteral("cannot open %1: %2").arg(path, systemError()));
        return std::nullopt;
    }
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        setError(error, QStringLiteral("cannot open %1").arg(path));
        return std::nullopt;
    }
    const QFileInfo info(path);
    if (!info.isFile() || info.isSymLink()) {
        setError(error, QStringLiteral("not a regular file: %1").arg(path));
        return std::nullopt;
    }
    // Read at most one byte past the limit, so a file growing while read is still refused.
    QByteArray bytes = file.read(kMaxFileSize + 1);
    if (bytes.size() > kMaxFileSize) {
        setError(error, QStringLiteral("%1 is larger than %2 bytes").arg(path).arg(kMaxFileSize));
        return std::nullopt;
    }
    if (file.error() != QFileDevice::NoError) {
        setError(error, QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
        return std::nullopt;
    }
    return bytes;
}

bool CloudFolder::remove(const QString &path) const
{
    return isInside(path) && QFile::remove(path);
}

CloudFolderWatch::CloudFolderWatch(CloudFolder folder, QObject *parent)
    : QObject(parent)
    , m_folder(std::move(folder))
    , m_watcher(new QFileSystemWatcher(this))
{
    connect(m_watcher, &QFileSystemWatcher::directoryChanged, this, &CloudFolderWatch::changed);
}

bool CloudFolderWatch::start()
{
    const auto dir = m_folder.directory();
    if (!dir)
        return false;
    if (!m_watcher->directories().contains(*dir))
        m_watcher->addPath(*dir);
    return m_watcher->directories().contains(*dir);
}

} // namespace corvane::sync
