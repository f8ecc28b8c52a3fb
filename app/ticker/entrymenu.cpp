#include "entrymenu.h"

#include "browser.h"
#include "dataitemadapter.h"

#include "feeds/refresh/datasourcemanager.h"
#include "feeds/starmanager.h"
#include "store/context.h"
#include "store/dataitem.h"
#include "store/storemanager.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMenu>
#include <QPointer>

namespace corvane::desktop {

namespace {

EntryMenuHandler &entryMenuHandler()
{
    static EntryMenuHandler handler;
    return handler;
}

} // namespace

void setEntryMenuHandler(EntryMenuHandler handler)
{
    entryMenuHandler() = std::move(handler);
}

void openEntryMenu(DataItemAdapter &adapter, ObjectID item, const QPoint &globalPos, QWidget *parent)
{
    if (entryMenuHandler())
        entryMenuHandler()(adapter, item, globalPos, parent);
    else
        showEntryMenu(adapter, item, globalPos, parent);
}

void showEntryMenu(DataItemAdapter &adapter, ObjectID id, const QPoint &globalPos, QWidget *parent)
{
    auto *menu = new QMenu(parent);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    QPointer<DataItemAdapter> guard(&adapter);
    // Every action resolves the item again: it may be gone by the time the
    // user chooses.
    const auto withItem = [guard, id](auto act) {
        return [guard, id, act] {
            if (!guard)
                return;
            if (DataItem *item = guard->item(id))
                act(*guard, item);
        };
    };
    const DataItem *item = adapter.item(id);
    if (!item)
        return;
    menu->addAction(item->isStarred() ? QObject::tr("Unstar") : QObject::tr("Star"),
                    withItem([](DataItemAdapter &a, DataItem *i) {
                        StarManager stars(a.engine().stores());
                        if (i->isStarred())
                            stars.unstarItem(i);
                        else
                            stars.starItem(i);
                    }));
    menu->addAction(item->isRead() ? QObject::tr("Mark as Unread") : QObject::tr("Mark as Read"),
                    withItem([](DataItemAdapter &, DataItem *i) { i->setRead(!i->isRead()); }));
    QAction *copy = menu->addAction(QObject::tr("Copy Link"), withItem([](DataItemAdapter &, DataItem *i) {
                                        QGuiApplication::clipboard()->setText(browser::webAddress(i->link()).toString());
                                    }));
    copy->setEnabled(browser::webAddress(item->link()).isValid());
    menu->addSeparator();
    menu->addAction(QObject::tr("Delete"), withItem([](DataItemAdapter &a, DataItem *i) {
                        i->setDeletedByUser(true);
                        StoreManager::saveFromContext(i->context());
                        a.setNeedsRefresh(true);
                    }));
    menu->popup(globalPos);
}

} // namespace corvane::desktop
