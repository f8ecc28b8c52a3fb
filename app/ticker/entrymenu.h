#pragma once

#include "store/objectid.h"

#include <QPoint>

class QWidget;

namespace corvane::desktop {

class DataItemAdapter;

// The menu of one entry: star or unstar, mark read or unread, copy the link,
// delete. Opens at a screen point and acts on the item when chosen.
void showEntryMenu(DataItemAdapter &adapter, ObjectID item, const QPoint &globalPos, QWidget *parent);

} // namespace corvane::desktop
