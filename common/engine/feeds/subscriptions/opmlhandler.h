#pragma once

#include <QList>
#include <QString>

#include <optional>

namespace corvane {

class Category;
class Datasource;
class StoreManager;

// Writes the subscription list with its categories as OPML and reads such
// files back: subscriptions and categories the store does not know yet are
// added, and on a restore everything the file does not mention is deleted.
// Both directions run in one operation on the background context and
// refuse the main thread.
class OPMLHandler
{
public:
    explicit OPMLHandler(StoreManager &stores);

    // Writes the document atomically; false (and a log line) when it could not be written.
    bool exportURL(const QString &path);
    // The reader's error when the file could not be read completely; what
    // was read before it is imported all the same. A restore (deleteOthers)
    // of a file that cannot be read to its end or lists no subscription is
    // refused with an error and changes nothing.
    std::optional<QString> importURL(const QString &path, bool deleteOthers = false);

    // The document the export writes (background queue).
    QByteArray exportDocument();
    // Background queue: subscriptions in list order, categories by name.
    QList<Datasource *> datasources();
    QList<Category *> categories();

    // Names of what the last restore deleted (subscriptions by address, categories by name).
    const QStringList &deletedDescriptions() const { return m_deleted; }

private:
    StoreManager &m_stores;
    QStringList m_deleted;
};

} // namespace corvane
