#pragma once

namespace corvane {

class DataItem;
class StoreManager;

extern const char kStarChangedNotificationName[]; // "NotificationStarChanged"

// The one place through which items are starred and unstarred. The stamp
// for cloud sync, Pocket and Feedly follow from the save of the item.
class StarManager
{
public:
    explicit StarManager(StoreManager &stores);

    static bool isStarred(const DataItem *item);
    // Sets the star, saves the item's context and posts "NotificationStarChanged".
    void starItem(DataItem *item);
    // Clears the star and saves; posts nothing.
    void unstarItem(DataItem *item);
    // Clears every star on the background context and hands it to the
    // deferred commit.
    void removeAll();

private:
    StoreManager &m_stores;
};

} // namespace corvane
