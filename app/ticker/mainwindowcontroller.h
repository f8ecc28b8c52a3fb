#pragma once

#include "appclock.h"

#include "base/date.h"
#include "store/objectid.h"

#include <QDate>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QWidget>

#include <functional>
#include <optional>

class QLineEdit;
class QPushButton;
class QScreen;
class QScrollArea;
class QToolButton;

namespace corvane {
class DatasourceManager;
class Settings;
}

namespace corvane::desktop {

class BarResizer;
class RootKeyGrab;
class DataItemAdapter;
class DataItemView;
class EngineBridge;
class ListView;
class ScrollIndicator;

// The bar's window: draws the background, takes dropped feed addresses and
// tells its controller about size changes.
class BarWindow : public QWidget
{
    Q_OBJECT
public:
    explicit BarWindow(QWidget *parent = nullptr);

    // Called with a dropped or pasted text; true when it was taken.
    std::function<bool(const QString &)> onDroppedText;
    // Called with the bar's keys (arrows, space, return), pressed or released.
    std::function<bool(int key, bool pressed)> onKey;

Q_SIGNALS:
    void resized();
    void mouseEntered();
    void mouseLeft();

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
};

// Owns the bar: a tall, narrow window docked at the left or right screen
// edge (or a free window) showing the adapter's items as equal-height
// entries, newest at the top. Brings new items in one at a time, fades out
// read items when those are hidden, scrolls back to the top after a quiet
// spell and plays a sound for new items. Only the rows in sight, and a few
// around them, have entry views; views are pooled.
class MainWindowController : public QObject
{
    Q_OBJECT
public:
    struct Options
    {
        AppClock *clock = nullptr;  // the system clock when none
        bool startTimers = true;    // the two 0.2-second ticks
        // Plays an event sound by name; the desktop's sound theme when none.
        std::function<bool(const QString &)> playSound;
    };

    MainWindowController(DatasourceManager &engine, EngineBridge &bridge, Settings &settings,
                         const Options &options);
    ~MainWindowController() override;

    static constexpr int kCollapsedWidth = 18;

    static MainWindowController *sharedInstance();
    // Every mouse move the application dispatches ends the keyboard mode.
    static void mouseMoved();

    BarWindow *window() const { return m_window; }
    BarResizer *resizer() const { return m_resizer; }
    DataItemAdapter &adapter() const { return *m_adapter; }
    ListView *listView() const { return m_listView; }
    QScrollArea *scrollView() const { return m_scrollView; }
    int itemHeight() const { return m_itemHeight; }
    const QList<ObjectID> &items() const { return m_items; }
    const QList<ObjectID> &invisibleList() const { return m_invisibleList; }
    // The entry views in the list, and the one of an item (or null).
    QList<DataItemView *> entryViews() const;
    DataItemView *viewForItem(ObjectID item) const;

    void show();

    // The periodic work, run every 0.2 seconds.
    void tick();
    void rebuildViews(bool force = false);
    void autoHide(bool force);

    void markAllRead();
    void markAllUnread();
    void setAutoHide(bool hide);
    void scrollToTopAction();
    void updateTimes();
    bool playSound(ObjectID item);
    void unPreviewItem();

    void resizeWindow();
    void resizeWindowForScreen(QScreen *screen);
    QScreen *desiredScreen() const;

    // Adds the feed address the text names; false when it names none.
    bool addDroppedFeed(const QString &text);

    // Modes: the search field, the starred and marked views, collapsing.
    QLineEdit *searchField() const { return m_searchField; }
    QPushButton *counterButton() const { return m_counterButton; }
    QToolButton *toolButton(const QString &name) const;
    bool searchShown() const { return m_searchShown; }
    void flipSearchField();
    void searchTextChanged(const QString &text);
    void flipStarredAction(bool fromController = false);
    void flipMarkedAction(bool on, bool fromController = false);
    bool collapseEnabled() const;
    bool isCollapsed() const { return m_collapsed; }
    void expand(bool expand);
    void miniaturize();
    void toggleCurrentStarred();
    // The category column beside the list (shown while FolderTabsMode is 1 or more).
    void setSideColumn(QWidget *column);

    // Keys over the bar: 1 down, 2 up, 3 space, 4 right, 5 left, 6 return.
    enum HotKey { KeyDown = 1, KeyUp, KeySpace, KeyRight, KeyLeft, KeyReturn };
    // The hot keys the settings allow while the mouse is over the bar.
    QList<HotKey> allowedHotKeys() const;
    void hotkeyPressed(int key);
    void hotkeyReleased(int key);
    // The position of the selected (highlighted) entry, or 0.
    int selectedItemIndex() const;
    void selectItemIndex(int position);
    void togglePreviewItemIndex(int position);
    void previewItemIndex(int position);
    void openItemInBrowser(int position);
    // Whether the mouse may change the highlight (not during keyboard
    // navigation or a selection scroll).
    bool unselectAllowed() const;
    static bool keyboardMode();
    // Scrolls that the selection started, running or just ended.
    bool inducedScroll() const { return m_selectItemAnimateCount > 0; }
    // Ends a running selection scroll at once (tests, hiding).
    void finishSelectionScroll();
    // The counter: drops arrivals that have come into sight and shows the count.
    void updateInvisibleList();

Q_SIGNALS:
    // A new item was brought into the bar (the notification manager announces it).
    void itemArrived(corvane::ObjectID item);
    // The preferences button or the add button was used.
    void preferencesRequested();

private:
    void applySetting(const QString &key);
    void applyColors();
    void applyLocation();
    void applyWindowLevel();
    void applyItemHeight();
    void applyStyle();
    void scrollDidChange();
    void repositionPreview();
    void scheduleHiddenReload();
    DataItemView *takeView();
    void recycle(DataItemView *view);
    bool isAtTop() const;
    int scrollValue() const;
    void setScrollValue(int value);
    void forEachEntry(const std::function<void(DataItemView *)> &f) const;
    void makeChrome();
    void layoutChrome();
    void tintToolButtons();
    void setMinimizeIcon();
    void showCounter(qsizetype count);
    void clearInvisibleList();
    void askForFeedAddress();

    DatasourceManager &m_engine;
    EngineBridge &m_bridge;
    Settings &m_settings;
    AppClock &m_clock;
    std::function<bool(const QString &)> m_playSound;

    BarWindow *m_window = nullptr;
    QScrollArea *m_scrollView = nullptr;
    ListView *m_listView = nullptr;
    DataItemAdapter *m_adapter = nullptr;

    QList<ObjectID> m_items;
    bool m_hasCopy = false;
    QSet<ObjectID> m_shown;
    QSet<ObjectID> m_hidden;
    QList<ObjectID> m_invisibleList;
    QList<DataItemView *> m_unusedItemViews;
    int m_itemHeight = 86;
    int m_windowLocation = 0;
    int m_prevTop = 0;
    int m_prevBottom = 0;
    double m_minValidY = 0;
    double m_maxValidY = 0;
    bool m_expandFlag = false;
    bool m_autoHide = false;
    bool m_restartTimer = false;
    std::optional<Date> m_lastNew;
    std::optional<Date> m_lastRelease;
    QDate m_prevDate;
    TimerHandle m_scrollTimer;
    TimerHandle m_tickTimer;
    TimerHandle m_rebuildTimer;
    bool m_placed = false;

    // The frame around the list.
    QLineEdit *m_searchField = nullptr;
    QPushButton *m_counterButton = nullptr;
    QHash<QString, QToolButton *> m_toolButtons;
    QPointer<QWidget> m_sideColumn;
    BarResizer *m_resizer = nullptr;
    RootKeyGrab *m_keyGrab = nullptr;
    ScrollIndicator *m_scrollIndicator = nullptr;

    // Keyboard selection.
    DataItemView *viewAtIndex(int position) const;
    void selectNeededView(bool &previewDue);
    int m_selectItemAnimateCount = 0;
    QPointer<QObject> m_selectScroll;
    int m_selectItemProposed = 0;
    int m_neededSelectIndex = 0;
    QPointer<DataItemView> m_neededSelectView;
    bool m_previewWhenKeyReleased = false;
    bool m_previewWhenStoppedScrolling = false;
    bool m_searchShown = false;
    bool m_collapsed = false;
    int m_widthBeforeCollapse = 0;
    qsizetype m_prevNewCount = 0;
};

} // namespace corvane::desktop
