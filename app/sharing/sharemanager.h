#pragma once

#include "store/objectid.h"

#include <QObject>
#include <QPoint>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>

class QMenu;
class QWidget;

namespace corvane {
class PocketClient;
class Settings;
}

namespace corvane::desktop {

class DataItemAdapter;
class Pocket;

// The per-item action menu, opened from an entry of the bar and from the
// preview: starring, saving to Pocket, e-mail, copying the link, read or
// unread, deletion and the mark-all commands. The desktop offers no sharing
// services to list here (sharePossible()), so the menu is always:
//   Mark with Star / Unmark, Email, [Save to Pocket], Copy Link, —,
//   Mark Unread / Mark Read, Delete, —, Mark all Read, Mark all Unread
// "Save to Pocket" is there while a Pocket user is logged in. The star and
// read entries toggle from the states the item had when the menu was built.
// Every action looks the item up again by its identifier in the main
// context and does nothing when it is gone.
//
// One per application, made by the shell: it owns the Pocket account and,
// while it lives, is the menu the entries and the preview open. Main thread.
class ShareManager : public QObject
{
    Q_OBJECT
public:
    explicit ShareManager(Settings &settings, QObject *parent = nullptr);
    ~ShareManager() override;

    // The manager while it lives, else null.
    static ShareManager *sharedManager();
    static bool sharePossible() { return false; }

    Pocket &pocket() const { return *m_pocket; }

    // The menu for an item (parented to `parent`, deleted when closed), or
    // null when the item is gone or has no link.
    QMenu *menuForItem(DataItemAdapter &adapter, ObjectID item, QWidget *parent);
    // Builds the menu and pops it up at the screen point.
    void shareItem(DataItemAdapter &adapter, ObjectID item, const QPoint &globalPos, QWidget *parent);
    // Clears the item's subscription picture, so the next refresh looks for one again.
    void resetFeedIcon(DataItemAdapter &adapter, ObjectID item);

    // "mailto:?subject=<title>&body=<link>", both parts percent-encoded.
    static QUrl mailUrl(const QString &title, const QString &link);
    // Replaces what opens mailto: addresses (tests record them); none
    // restores the desktop's (QDesktopServices, which asks xdg-open).
    static void setMailOpener(std::function<bool(const QUrl &)> opener);

private:
    std::unique_ptr<PocketClient> m_pocketClient;
    std::unique_ptr<Pocket> m_pocket;
};

} // namespace corvane::desktop
