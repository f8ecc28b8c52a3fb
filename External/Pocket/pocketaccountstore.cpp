#include "pocketaccountstore.h"

#include "base/log.h"
#include "base/paths.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#ifdef CORVANE_HAVE_QTKEYCHAIN
#include <qt6keychain/keychain.h>

#include <QEventLoop>
#endif

namespace corvane {

const QString PocketAccountStore::kKeychainService = QStringLiteral("Corvane Pocket");

namespace {

const QString kKeychainKey = QStringLiteral("account");

QByteArray encode(const PocketAccount &account)
{
    QJsonObject object;
    object.insert(QStringLiteral("username"), account.username);
    object.insert(QStringLiteral("access_token"), account.accessToken);
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

std::optional<PocketAccount> decode(const QByteArray &bytes)
{
    const QJsonObject object = QJsonDocument::fromJson(bytes).object();
    PocketAccount account{object.value(QStringLiteral("username")).toString(),
                          object.value(QStringLiteral("access_token")).toString()};
    if (account.accessToken.isEmpty())
        return std::nullopt;
    return account;
}

#ifdef CORVANE_HAVE_QTKEYCHAIN
// Runs a keychain job to its end on the calling thread.
template<typename Job>
void runJob(Job &job)
{
    job.setAutoDelete(false);
    job.setKey(kKeychainKey);
    QEventLoop loop;
    QObject::connect(&job, &QKeychain::Job::finished, &loop, &QEventLoop::quit);
    job.start();
    loop.exec();
}
#endif

} // namespace

PocketAccountStore::PocketAccountStore()
{
    if (qEnvironmentVariableIsSet("CORVANE_HOME"))
        m_filePath = QDir(paths::configDir()).filePath(QStringLiteral("pocket-account.json"));
}

PocketAccountStore::PocketAccountStore(QString filePath)
    : m_filePath(std::move(filePath))
{
}

std::optional<PocketAccount> PocketAccountStore::load() const
{
    if (!m_filePath.isEmpty()) {
        QFile file(m_filePath);
        if (!file.open(QIODevice::ReadOnly))
            return std::nullopt;
        return decode(file.readAll());
    }
#ifdef CORVANE_HAVE_QTKEYCHAIN
    QKeychain::ReadPasswordJob job(kKeychainService);
    runJob(job);
    if (job.error() == QKeychain::NoError)
        return decode(job.binaryData());
    if (job.error() != QKeychain::EntryNotFound)
        logLine(QStringLiteral("Pocket: the keychain could not be read: %1").arg(job.errorString()));
#endif
    return std::nullopt;
}

bool PocketAccountStore::save(const PocketAccount &account) const
{
    if (!m_filePath.isEmpty()) {
        QSaveFile file(m_filePath);
        if (!file.open(QIODevice::WriteOnly))
            return false;
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        file.write(encode(account));
        return file.commit();
    }
#ifdef CORVANE_HAVE_QTKEYCHAIN
    QKeychain::WritePasswordJob job(kKeychainService);
    job.setBinaryData(encode(account));
    runJob(job);
    if (job.error() == QKeychain::NoError)
        return true;
    logLine(QStringLiteral("Pocket: the keychain could not keep the account: %1").arg(job.errorString()));
#endif
    return false;
}

void PocketAccountStore::remove() const
{
    if (!m_filePath.isEmpty()) {
        QFile::remove(m_filePath);
        return;
    }
#ifdef CORVANE_HAVE_QTKEYCHAIN
    QKeychain::DeletePasswordJob job(kKeychainService);
    runJob(job);
#endif
}

} // namespace corvane
