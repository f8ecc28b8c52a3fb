// Keys while the mouse is over the bar: the arrows move the selection (and
// the preview with it), space toggles the preview, return opens the item.
#include "mainwindowcontroller.h"

#include "dataitemadapter.h"
#include "dataitemview.h"
#include "listview.h"
#include "previewpresenter.h"

#include "base/notificationcenter.h"
#include "base/settings.h"

#include <QScrollArea>
#include <QScrollBar>
#include <QVariantAnimation>

namespace corvane::desktop {

namespace {

bool g_keyboardModeFlag = false;

// A preview bubble needs this much room below the selected entry.
constexpr int kPreviewRoom = 100;
constexpr int kSelectScrollMs = 200;

} // namespace

void MainWindowController::mouseMoved()
{
    g_keyboardModeFlag = false;
}

bool MainWindowController::keyboardMode()
{
    return g_keyboardModeFlag;
}

QList<MainWindowController::HotKey> MainWindowController::allowedHotKeys() const
{
    QList<HotKey> keys;
    if (m_settings.boolean(QStringLiteral("ArrowsOnMouseOver")))
        keys << KeyDown << KeyUp << KeyRight << KeyLeft;
    if (m_settings.boolean(QStringLiteral("MouseOverSpacePreview")))
        keys << KeySpace;
    if (m_settings.boolean(QStringLiteral("MouseOverEnterBrowser")))
        keys << KeyReturn;
    return keys;
}

DataItemView *MainWindowController::viewAtIndex(int position) const
{
    for (DataItemView *view : entryViews())
        if (view->index() == position)
            return view;
    return nullptr;
}

int MainWindowController::selectedItemIndex() const
{
    if (m_selectItemAnimateCount > 0)
        return m_selectItemProposed;
    for (DataItemView *view : entryViews())
        if (view->highlight())
            return view->index();
    return 0;
}

bool MainWindowController::unselectAllowed() const
{
    return !g_keyboardModeFlag && !m_previewWhenKeyReleased && !m_previewWhenStoppedScrolling
           && m_selectItemAnimateCount <= 0;
}

void MainWindowController::hotkeyPressed(int key)
{
    if (!allowedHotKeys().contains(HotKey(key)))
        return;
    g_keyboardModeFlag = true;
    const int selected = selectedItemIndex();
    if (selected == 0)
        return;
    switch (key) {
    case KeyDown:
        selectItemIndex(selected - 1);
        break;
    case KeyUp:
        selectItemIndex(selected + 1);
        break;
    case KeySpace:
        togglePreviewItemIndex(selected);
        break;
    case KeyRight:
        previewItemIndex(selected);
        break;
    case KeyLeft:
        unPreviewItem();
        break;
    case KeyReturn:
        openItemInBrowser(selected);
        break;
    default:
        break;
    }
}

void MainWindowController::hotkeyReleased(int key)
{
    if ((key == KeyDown || key == KeyUp) && m_previewWhenKeyReleased) {
        m_previewWhenKeyReleased = false;
        if (DataItemView *view = viewAtIndex(selectedItemIndex()))
            view->previewItem(1, true);
    }
}

void MainWindowController::selectNeededView(bool &previewDue)
{
    DataItemView *view = viewAtIndex(m_neededSelectIndex);
    if (!view || view->highlight())
        return;
    m_neededSelectView = view;
    const bool previewFollows = !PreviewPresenter::shared().shownItem().isNull() || m_previewWhenStoppedScrolling
                                || m_previewWhenKeyReleased;
    if (previewFollows && m_selectItemAnimateCount <= 0)
        previewDue = true;
    for (DataItemView *other : entryViews())
        if (other != view && other->highlight())
            other->setInactive();
    view->setActive();
}

void MainWindowController::selectItemIndex(int position)
{
    const int n = int(m_items.size());
    if (position < 1 || position > n)
        return;
    const int e = m_itemHeight;
    const bool previewFollows = !PreviewPresenter::shared().shownItem().isNull() || m_previewWhenStoppedScrolling
                                || m_previewWhenKeyReleased;
    // The counted part of the list, top-down: the preview needs room below.
    const int top = scrollValue();
    const int height = m_scrollView->viewport()->height() - (previewFollows ? kPreviewRoom : 0);
    m_neededSelectIndex = position;
    NotificationCenter::defaultCenter().post(QStringLiteral("InducedScrollStart"));
    NotificationCenter::defaultCenter().post(QStringLiteral("InducedScrollEnd"));

    bool previewDue = false;
    selectNeededView(previewDue);
    const int entryTop = (n - position) * e;
    if (entryTop >= top && entryTop + e <= top + height) {
        if (previewDue)
            m_previewWhenKeyReleased = true;
        return;
    }
    const int target = entryTop + e > top + height ? entryTop + e - height : entryTop;
    auto *animation = new QVariantAnimation(this);
    animation->setDuration(kSelectScrollMs);
    animation->setEasingCurve(QEasingCurve::InOutQuad);
    animation->setStartValue(top);
    animation->setEndValue(qMax(0, target));
    connect(animation, &QVariantAnimation::valueChanged, this,
            [this](const QVariant &value) { setScrollValue(value.toInt()); });
    m_selectScroll = animation;
    animation->start(QAbstractAnimation::DeleteWhenStopped);
    ++m_selectItemAnimateCount;
    m_selectItemProposed = position;
    m_clock.after(kSelectScrollMs / 1000.0 + 0.1, this, [this] {
        --m_selectItemAnimateCount;
        bool due = false;
        selectNeededView(due);
        if (m_previewWhenKeyReleased) {
            due = true;
            m_previewWhenKeyReleased = false;
        }
        if (due)
            m_previewWhenStoppedScrolling = true;
        if (m_neededSelectView && !m_neededSelectView->highlight()) {
            for (DataItemView *other : entryViews())
                if (other->highlight())
                    other->setInactive();
            m_neededSelectView->setActive();
        }
        if (m_previewWhenStoppedScrolling && m_selectItemAnimateCount == 0) {
            m_previewWhenStoppedScrolling = false;
            if (m_neededSelectView)
                m_neededSelectView->previewItem(1, true);
            // The preview settles before the mouse may move the highlight again.
            ++m_selectItemAnimateCount;
            m_clock.after(0.4, this, [this] { --m_selectItemAnimateCount; });
        }
    });
}

void MainWindowController::finishSelectionScroll()
{
    if (auto *animation = qobject_cast<QVariantAnimation *>(m_selectScroll.data()))
        animation->setCurrentTime(animation->duration());
}

void MainWindowController::togglePreviewItemIndex(int position)
{
    if (DataItemView *view = viewAtIndex(position))
        view->previewItem(1, false);
}

void MainWindowController::previewItemIndex(int position)
{
    if (PreviewPresenter::shared().shownItem().isNull())
        togglePreviewItemIndex(position);
}

void MainWindowController::openItemInBrowser(int position)
{
    if (DataItemView *view = viewAtIndex(position))
        view->openInBrowser();
}

} // namespace corvane::desktop
