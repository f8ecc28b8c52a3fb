#pragma once

#include "feedsettingssheet.h"

#include "store/objectid.h"

#include "base/notificationcenter.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QPointer>
#include <QWidget>

#include <optional>
#include <vector>

class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QToolButton;

namespace corvane {
class DatasourceManager;
class Settings;
}

namespace corvane::desktop {

class EngineBridge;
class FeedListModel;

class FeedsOutlineView;

// The sheet in which a feed address is typed: Add is enabled while the field
// holds text; a refused text is explained in the sheet, which stays open.
class AddFeedSheet : public QDialog
{
    Q_OBJECT
public:
    explicit AddFeedSheet(QWidget *parent = nullptr);
    QLineEdit *field() const { return m_field; }
    QPushButton *addButton() const { return m_add; }
    QLabel *messageLabel() const { return m_message; }
    void showMessage(const QString &text);

Q_SIGNALS:
    void addRequested(const QString &text);

private:
    QLineEdit *m_field;
    QPushButton *m_add;
    QLabel *m_message;
};

// The feed list pane: the tree of categories and subscriptions, and the
// commands that add, delete, rename, enable, re-file and configure them,
// reset their own settings, and import, export and restore OPML lists.
// Main thread and main context only; OPML work runs on a pool thread.
class RSSPreferencesController : public QWidget
{
    Q_OBJECT
public:
    RSSPreferencesController(DatasourceManager &engine, EngineBridge &bridge, Settings &settings,
                             QWidget *parent = nullptr);
    ~RSSPreferencesController() override;

    FeedListModel *model() const { return m_model; }
    FeedsOutlineView *outlineView() const { return m_view; }
    AddFeedSheet *addFeedSheet() const { return m_addSheet; }
    QToolButton *opmlButton() const { return m_opmlButton; }
    QMenu *opmlMenu() const { return m_opmlMenu; }
    FeedSettingsSheet *feedSettingsSheet() const { return m_settingsSheet; }

    // Opens the add sheet, filled from the clipboard when it holds a feed address.
    void addFeed();
    // Opens the add sheet filled with this text.
    void addFeedWithUrl(const QString &url);
    // Adds what the text names; false, with the reason in `message`, when nothing was added.
    bool confirmAdd(const QString &text, QString *message = nullptr);

    void deleteSelected();
    void newFolder();
    // Moves the subscriptions to the category (null: none), each to its end.
    void moveDatasources(const QList<ObjectID> &datasources, ObjectID category);
    QMenu *menuForItem(const QModelIndex &index);
    void openFeedSettings(const QModelIndex &index);
    // Asks first; resetAllSettings() does the work.
    void resetSettings();
    void resetAllSettings();

    // OPML, on a pool thread; the result comes back on the main thread.
    void importOpml(const QString &path);
    void exportOpml(const QString &path);
    void restoreOpml(const QString &path);
    bool working() const { return m_working; }
    // The error text of the last import, export or restore, empty after a success.
    QString lastError() const { return m_lastError; }
    // Rebuilds the restore entries of the OPML menu from the backups.
    void rebuildRestoreItems();
    // What a backup's entry is called: the second-to-last "."-separated part
    // of its file name; empty (no entry) for names of fewer parts.
    static QString restoreTitle(const QString &fileName);

    bool isRowSelected() const;
    // Reloads now, and once more two seconds later when reloads come in a burst.
    void deferrableReload();

Q_SIGNALS:
    void workFinished();

private:
    void buildUi();
    void observeEngine();
    void objectsUpdated(const QList<ObjectID> &inserted, const QList<ObjectID> &updated,
                        const QList<ObjectID> &deleted);
    void reload();
    void redrawAll(int column = -1);
    std::optional<QColor> backgroundColorForItem(const QModelIndex &index, int visualRow) const;
    void runOpml(const QString &path, bool deleteOthers, bool exporting);
    void showAlert(const QString &title, const QString &text);
    QList<ObjectID> selectedIds() const;

    DatasourceManager &m_engine;
    EngineBridge &m_bridge;
    Settings &m_settings;
    FeedListModel *m_model = nullptr;
    FeedsOutlineView *m_view = nullptr;
    AddFeedSheet *m_addSheet = nullptr;
    QPushButton *m_deleteButton = nullptr;
    QToolButton *m_opmlButton = nullptr;
    QMenu *m_opmlMenu = nullptr;
    QPointer<FeedSettingsSheet> m_settingsSheet;
    QSet<ObjectID> m_collapsed;
    bool m_working = false;
    QString m_lastError;
    QElapsedTimer m_lastReload;
    bool m_deferredPending = false;
    std::vector<ScopedObserver> m_observers;
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
};

} // namespace corvane::desktop
