#pragma once

#include "store/objectid.h"

#include <QList>
#include <QScrollArea>
#include <QWidget>

namespace corvane {
class Settings;
}

namespace corvane::desktop {

class CategorySidebarButton;
class DataItemAdapter;
class EngineBridge;

// The column of category tabs beside the bar's list: "All feeds", then the
// categories and subscriptions marked for the sidebar, each with its unread
// count. Tabs are recycled across rebuilds. It lives in a scroll area of
// its own (column()), made as a child of `parent` and owning the sidebar.
class CategorySidebar : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kWidth = 19;

    struct Entry
    {
        QString name;
        double minY = 0;
        double maxY = 0;
        ObjectID object; // null for "All feeds"
    };

    CategorySidebar(DataItemAdapter &adapter, EngineBridge &bridge, Settings &settings, QWidget *parent = nullptr);

    // The tabs to show, top to bottom, with their extents.
    QList<Entry> calculateContent() const;
    void setupButtons();
    QList<CategorySidebarButton *> buttons() const { return m_buttons; }
    double neededHeight() const { return m_neededHeight; }

    // The scroll area the column lives in (the bar places it).
    QScrollArea *column() const { return m_column; }

    static bool feedsAsImages();

Q_SIGNALS:
    // A tab was released: a collapsed bar expands.
    void tabReleased();

protected:
    void paintEvent(QPaintEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void refreshCounts();
    void fitColumn();
    void reorder(CategorySidebarButton *dragged, double y);
    double labelLength(const QString &name, bool subscription) const;

    DataItemAdapter &m_adapter;
    Settings &m_settings;
    QScrollArea *m_column;
    QList<CategorySidebarButton *> m_buttons;
    double m_neededHeight = 0;
};

} // namespace corvane::desktop
