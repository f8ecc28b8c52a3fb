#pragma once

#include "store/objectid.h"

#include <QPoint>

#include <functional>

class QWidget;

namespace corvane::desktop {

class DataItemAdapter;

// The menu of one entry: star or unstar, mark read or unread, copy the link,
// delete. Opens at a screen point and acts on the item when chosen.
void showEntryMenu(DataItemAdapter &adapter, ObjectID item, const QPoint &globalPos, QWidget *parent);

// What the entries and the preview open as an item's menu: showEntryMenu
// until the application installs its share menu; none restores it.
using EntryMenuHandler =
    std::function<void(DataItemAdapter &adapter, ObjectID item, const QPoint &globalPos, QWidget *parent)>;
void setEntryMenuHandler(EntryMenuHandler handler);
void openEntryMenu(DataItemAdapter &adapter, ObjectID item, const QPoint &globalPos, QWidget *parent);

} // namespace corvane::desktop
