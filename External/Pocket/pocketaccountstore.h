#pragma once

#include <QString>

#include <optional>

namespace corvane {

struct PocketAccount
{
    QString username;
    QString accessToken;
};

// Where the Pocket account (user name and access token) is kept between
// runs: the desktop's secret service through QtKeychain (service "Corvane
// Pocket"). QtKeychain has no store of its own when no keyring runs, so with
// CORVANE_HOME set (tests, portable installs) a file below that folder,
// readable by the user only, takes its place.
//
// The calls block until the keyring answered; run them off the main thread,
// on a thread with an event loop.
class PocketAccountStore
{
public:
    // The keychain, or the file when CORVANE_HOME is set.
    PocketAccountStore();
    // Always the file at `filePath`.
    explicit PocketAccountStore(QString filePath);

    std::optional<PocketAccount> load() const;
    bool save(const PocketAccount &account) const;
    void remove() const;

    static const QString kKeychainService; // "Corvane Pocket"

private:
    QString m_filePath; // empty: the keychain
};

} // namespace corvane
