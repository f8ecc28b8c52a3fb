#include "sharemanager.h"

#include "pocket.h"
#include "pocketclient.h"

#include "ticker/browser.h"
#include "ticker/dataitemadapter.h"
#include "ticker/entrymenu.h"
#include "ticker/mainwindowcontroller.h"

#include "base/settings.h"
#include "base/urltext.h"
#include "feeds/refresh/datasourcemanager.h"
#include "feeds/starmanager.h"
#include "store/dataitem.h"
#include "store/datasource.h"
#include "store/storemanager.h"

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QIcon>
#include <QMenu>
#include <QPointer>

namespace corvane::desktop {

namespace {

ShareManager *g_shared = nullptr;

std::function<bool(const QUrl &)> &mailOpener()
{
    static std::function<bool(const QUrl &)> opener;
    return opener;
}

QIcon themeIcon(const char *name, const char *fallback)
{
    return QIcon::fromTheme(QString::fromLatin1(name), QIcon::fromTheme(QString::fromLatin1(fallback)));
}

} // namespace

ShareManager::ShareManager(Settings &settings, QObject *parent)
    : QObject(parent)
    , m_pocketClient(std::make_unique<PocketClient>(
          settings, [](const QUrl &url) { return browser::open(url.toString(QUrl::FullyEncoded)); }))
    , m_pocket(std::make_unique<Pocket>(*m_pocketClient))
{
    g_shared = this;
    setEntryMenuHandler([](DataItemAdapter &adapter, ObjectID item, const QPoint &globalPos, QWidget *parent) {
        if (g_shared)
            g_shared->shareItem(adapter, item, globalPos, parent);
    });
}

ShareManager::~ShareManager()
{
    if (g_shared == this) {
        g_shared = nullptr;
        setEntryMenuHandler({});
    }
    m_pocket.reset(); // before its client
}

ShareManager *ShareManager::sharedManager()
{
    return g_shared;
}

QUrl ShareManager::mailUrl(const QString &title, const QString &link)
{
    const QString text = QStringLiteral("mailto:?subject=") + urlEncode(title) + QStringLiteral("&body=")
                         + urlEncode(link);
    return QUrl::fromEncoded(text.toLatin1(), QUrl::StrictMode);
}

void ShareManager::setMailOpener(std::function<bool(const QUrl &)> opener)
{
    mailOpener() = std::move(opener);
}

void ShareManager::shareItem(DataItemAdapter &adapter, ObjectID item, const QPoint &globalPos, QWidget *parent)
{
    if (QMenu *menu = menuForItem(adapter, item, parent))
        menu->popup(globalPos);
}

QMenu *ShareManager::menuForItem(DataItemAdapter &adapter, ObjectID id, QWidget *parent)
{
    const DataItem *item = adapter.item(id);
    if (!item || item->link().trimmed().isEmpty())
        return nullptr;
    const bool wasStarred = StarManager::isStarred(item);
    const bool wasRead = item->isRead();

    auto *menu = new QMenu(parent);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    QPointer<DataItemAdapter> guard(&adapter);
    // The item is looked up again when chosen: it may be gone by then.
    const auto withItem = [guard, id](std::function<void(DataItemAdapter &, DataItem *)> act) {
        return [guard, id, act = std::move(act)] {
            if (!guard)
                return;
            if (DataItem *current = guard->item(id))
                act(*guard, current);
        };
    };

    menu->addAction(themeIcon("starred", "emblem-favorite"), wasStarred ? tr("Unmark") : tr("Mark with Star"),
                    withItem([wasStarred](DataItemAdapter &a, DataItem *i) {
                        StarManager stars(a.engine().stores());
                        if (wasStarred)
                            stars.unstarItem(i);
                        else
                            stars.starItem(i);
                    }));
    menu->addAction(themeIcon("mail-send", "mail-message-new"), tr("Email"),
                    withItem([](DataItemAdapter &, DataItem *i) {
                        const QUrl url = mailUrl(i->title(), i->link());
                        const bool opened = mailOpener() ? mailOpener()(url) : QDesktopServices::openUrl(url);
                        if (!opened)
                            QApplication::beep();
                    }));
    if (m_pocket->hasLoggedInUser()) {
        QPointer<Pocket> pocket(m_pocket.get());
        menu->addAction(QIcon::fromTheme(QStringLiteral("pocket")), tr("Save to Pocket"),
                        withItem([pocket](DataItemAdapter &, DataItem *i) {
                            if (pocket)
                                pocket->saveUrl(browser::webAddress(i->link()));
                        }));
    }
    menu->addAction(themeIcon("clipboard", "edit-copy"), tr("Copy Link"), withItem([](DataItemAdapter &, DataItem *i) {
                        QGuiApplication::clipboard()->setText(i->link());
                    }));
    menu->addSeparator();
    menu->addAction(wasRead ? tr("Mark Unread") : tr("Mark Read"), withItem([wasRead](DataItemAdapter &, DataItem *i) {
                        i->setRead(!wasRead);
                        StoreManager::saveFromContext(i->context());
                    }));
    menu->addAction(tr("Delete"), withItem([](DataItemAdapter &a, DataItem *i) {
                        i->setDeletedByUser(true);
                        StoreManager::saveFromContext(i->context());
                        a.setNeedsRefresh(true);
                    }));
    menu->addSeparator();
    menu->addAction(tr("Mark all Read"), [] {
        if (MainWindowController *bar = MainWindowController::sharedInstance())
            bar->markAllRead();
    });
    menu->addAction(tr("Mark all Unread"), [] {
        if (MainWindowController *bar = MainWindowController::sharedInstance())
            bar->markAllUnread();
    });
    return menu;
}

void ShareManager::resetFeedIcon(DataItemAdapter &adapter, ObjectID id)
{
    DataItem *item = adapter.item(id);
    Datasource *source = item ? item->datasource() : nullptr;
    if (!source)
        return;
    source->setImageData({});
    StoreManager::saveFromContext(source->context());
}

} // namespace corvane::desktop
