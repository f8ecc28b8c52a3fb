// The frame around the bar's list: the tool buttons, the search field, the
// "%ld new" counter, the starred and marked views and collapsing.
#include "mainwindowcontroller.h"

#include "dataitemadapter.h"
#include "dataitemview.h"
#include "entrystyle.h"
#include "listview.h"
#include "previewpresenter.h"
#include "barresizer.h"
#include "scrollindicator.h"
#include "platform/keygrab.h"
#include "platform/x11dock.h"
#include "toolicons.h"

#include "base/settings.h"
#include "feeds/refresh/datasourcemanager.h"
#include "feeds/starmanager.h"
#include "store/dataitem.h"

#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QToolButton>

namespace corvane::desktop {

namespace {

constexpr int kToolRowHeight = 26;
constexpr int kToolButtonSize = 18;
constexpr int kSearchHeight = 22;
constexpr int kCounterHeight = 20;

// In their order in the row; the minimise button joins it on the right edge.
const QStringList kRow{QStringLiteral("search"), QStringLiteral("add"), QStringLiteral("starred"),
                       QStringLiteral("autohide"), QStringLiteral("marked"), QStringLiteral("preferences")};

} // namespace

void MainWindowController::makeChrome()
{
    m_scrollIndicator = new ScrollIndicator(m_scrollView, m_clock);
    m_resizer = new BarResizer(m_window);
    connect(m_resizer, &BarResizer::resizing, this, [this](const QRect &frame) {
        m_window->setGeometry(frame);
        desktop::setStrut(m_window, m_windowLocation == 1 ? ScreenEdge::Right : ScreenEdge::Left, frame);
    });
    connect(m_resizer, &BarResizer::resizeFinished, this,
            [this](int width) { m_settings.setValue(QStringLiteral("BarWidth"), width); });
    m_searchField = new QLineEdit(m_window);
    m_searchField->setPlaceholderText(tr("Search"));
    m_searchField->setClearButtonEnabled(true);
    m_searchField->setMaxLength(1000);
    m_searchField->hide();
    m_searchField->setEnabled(false);
    connect(m_searchField, &QLineEdit::textChanged, this, &MainWindowController::searchTextChanged);

    m_counterButton = new QPushButton(m_window);
    m_counterButton->setFlat(true);
    m_counterButton->setFocusPolicy(Qt::NoFocus);
    m_counterButton->hide();
    m_counterButton->setEnabled(false);
    connect(m_counterButton, &QPushButton::clicked, this, &MainWindowController::scrollToTopAction);

    const struct
    {
        const char *name;
        const char *tip;
        bool checkable;
    } buttons[] = {
        {"search", QT_TR_NOOP("Search"), true},          {"add", QT_TR_NOOP("Add a subscription"), false},
        {"starred", QT_TR_NOOP("Starred items"), true},  {"autohide", QT_TR_NOOP("Hide read items"), true},
        {"marked", QT_TR_NOOP("Items with keywords"), true}, {"preferences", QT_TR_NOOP("Preferences"), false},
        {"minimize", QT_TR_NOOP("Collapse"), false},
    };
    for (const auto &b : buttons) {
        auto *button = new QToolButton(m_window);
        button->setAutoRaise(true);
        button->setCheckable(b.checkable);
        button->setFocusPolicy(Qt::NoFocus);
        button->setToolTip(tr(b.tip));
        button->setFixedSize(kToolButtonSize, kToolButtonSize);
        button->setIconSize(QSize(14, 14));
        button->setStyleSheet(QStringLiteral("QToolButton { border: none; background: transparent; }"
                                             "QToolButton:checked { background: rgba(255,255,255,60); border-radius: 3px; }"));
        m_toolButtons.insert(QString::fromLatin1(b.name), button);
    }
    connect(toolButton(QStringLiteral("search")), &QToolButton::clicked, this, &MainWindowController::flipSearchField);
    connect(toolButton(QStringLiteral("add")), &QToolButton::clicked, this, &MainWindowController::askForFeedAddress);
    connect(toolButton(QStringLiteral("starred")), &QToolButton::clicked, this, [this] { flipStarredAction(); });
    connect(toolButton(QStringLiteral("marked")), &QToolButton::clicked, this,
            [this](bool on) { flipMarkedAction(on); });
    connect(toolButton(QStringLiteral("autohide")), &QToolButton::clicked, this,
            [this](bool on) { m_settings.setValue(QStringLiteral("autoHide"), on); });
    connect(toolButton(QStringLiteral("preferences")), &QToolButton::clicked, this,
            &MainWindowController::preferencesRequested);
    connect(toolButton(QStringLiteral("minimize")), &QToolButton::clicked, this, &MainWindowController::miniaturize);
    // The preferences come with their own window; until it exists the
    // button would do nothing.
    toolButton(QStringLiteral("preferences"))->setVisible(false);
    tintToolButtons();
}

QToolButton *MainWindowController::toolButton(const QString &name) const
{
    return m_toolButtons.value(name);
}

void MainWindowController::tintToolButtons()
{
    const QColor tint = EntryStyle::current().fontColor;
    for (auto it = m_toolButtons.cbegin(); it != m_toolButtons.cend(); ++it) {
        if (it.key() == u"autohide") {
            QIcon icon = toolIcon(QStringLiteral("autohide_off"), tint);
            const QIcon on = toolIcon(QStringLiteral("autohide_on"), tint);
            for (const QSize &size : on.availableSizes())
                icon.addPixmap(on.pixmap(size), QIcon::Normal, QIcon::On);
            it.value()->setIcon(icon);
        } else if (it.key() != u"minimize") {
            it.value()->setIcon(toolIcon(it.key(), tint));
        }
    }
    setMinimizeIcon();
    m_prevNewCount = -1;
    showCounter(m_invisibleList.size());
}

void MainWindowController::setMinimizeIcon()
{
    QString name = QStringLiteral("minimize");
    if (collapseEnabled()) {
        const bool right = m_windowLocation == 1;
        name = m_collapsed != right ? QStringLiteral("expand") : QStringLiteral("collapse");
    }
    toolButton(QStringLiteral("minimize"))->setIcon(toolIcon(name, Qt::white));
    toolButton(QStringLiteral("minimize"))->setToolTip(m_collapsed ? tr("Expand") : tr("Collapse"));
}

void MainWindowController::layoutChrome()
{
    const int width = m_window->width();
    const int height = m_window->height();
    const bool free = m_windowLocation == 2;
    const bool right = m_windowLocation == 1;

    // The tool row along the bottom.
    QStringList row = kRow;
    if (!toolButton(QStringLiteral("preferences"))->isVisibleTo(m_window))
        row.removeAll(QStringLiteral("preferences"));
    QToolButton *minimize = toolButton(QStringLiteral("minimize"));
    minimize->setVisible(!free);
    if (right && !free)
        row.append(QStringLiteral("minimize"));
    const int start = right ? 6 : 27;
    const int span = right ? width + 4 : width + 16;
    const int k = int(row.size());
    const double gap = k > 1 ? double(span - 2 * start - k * kToolButtonSize) / (k - 1) : 0;
    const int rowY = height - kToolRowHeight + (kToolRowHeight - kToolButtonSize) / 2;
    for (int i = 0; i < k; ++i) {
        QToolButton *button = toolButton(row.at(i));
        button->move(int(start + i * (kToolButtonSize + gap)), rowY);
        button->setVisible(!m_collapsed);
    }
    if (!right && !free)
        minimize->move(0, rowY);
    if (!free)
        minimize->setVisible(true);

    // The category column on the screen-side edge, the list beside it.
    int left = 0;
    int contentWidth = width;
    const bool column = m_sideColumn && collapseEnabled();
    if (m_sideColumn) {
        m_sideColumn->setVisible(column);
        if (column) {
            const int columnWidth = m_sideColumn->width();
            m_sideColumn->setGeometry(right ? width - columnWidth : 0, 0, columnWidth,
                                      qMax(0, height - kToolRowHeight));
            contentWidth = qMax(0, width - columnWidth);
            left = right ? 0 : columnWidth;
        }
    }

    // The search field and the counter above the list.
    int top = 0;
    if (m_searchShown && !m_collapsed) {
        m_searchField->setGeometry(left + 4, 4, qMax(0, contentWidth - 8), kSearchHeight);
        top = 4 + kSearchHeight + 4;
    }
    if (m_counterButton->isEnabled() && !m_collapsed) {
        m_counterButton->setGeometry(left, top, contentWidth, kCounterHeight);
        top += kCounterHeight;
    }
    m_scrollView->setGeometry(left, top, contentWidth, qMax(0, height - top - kToolRowHeight));
    m_resizer->place(m_collapsed ? 2 : m_windowLocation);
    m_scrollIndicator->update(false);
    m_listView->resize(m_scrollView->viewport()->width(), m_listView->height());
}

void MainWindowController::showCounter(qsizetype count)
{
    if (count == m_prevNewCount)
        return;
    m_prevNewCount = count;
    const EntryStyle &style = EntryStyle::current();
    const QColor background = highlightVariant(style.backgroundColor);
    m_counterButton->setText(count > 0 ? tr("%1 new").arg(count) : QString());
    QFont font = style.titleFont;
    font.setPointSize(12);
    m_counterButton->setFont(font);
    m_counterButton->setStyleSheet(QStringLiteral("QPushButton { border: none; background: %1; color: %2; }")
                                       .arg(background.name(QColor::HexArgb), style.fontColor.name(QColor::HexArgb)));
    const bool shown = count > 0;
    if (shown != m_counterButton->isEnabled()) {
        m_counterButton->setEnabled(shown);
        m_counterButton->setVisible(shown);
        // The list keeps what it shows in place while the strip opens above it.
        const int keep = m_scrollView->verticalScrollBar()->value();
        layoutChrome();
        m_scrollView->verticalScrollBar()->setValue(keep);
    }
}

void MainWindowController::updateInvisibleList()
{
    if (m_invisibleList.isEmpty()) {
        showCounter(0);
        return;
    }
    // An arrival in sight, and every older one, is no longer counted.
    const QWidget *viewport = m_scrollView->viewport();
    qsizetype cut = m_invisibleList.size();
    for (DataItemView *view : entryViews()) {
        const qsizetype at = m_invisibleList.indexOf(view->itemId());
        if (at < 0 || at >= cut)
            continue;
        const int y = viewport->mapFromGlobal(view->arrowLocation()).y();
        if (y >= 0 && y <= viewport->height())
            cut = at;
    }
    m_invisibleList.resize(cut);
    showCounter(m_invisibleList.size());
}

void MainWindowController::clearInvisibleList()
{
    m_invisibleList.clear();
    showCounter(0);
}

void MainWindowController::flipSearchField()
{
    m_searchShown = !m_searchShown;
    m_searchField->setVisible(m_searchShown);
    m_searchField->setEnabled(m_searchShown);
    toolButton(QStringLiteral("search"))->setChecked(m_searchShown);
    if (m_searchShown) {
        m_searchField->setFocus();
        m_window->activateWindow();
    } else {
        m_searchField->clear();
        m_adapter->setFilter(QString());
    }
    layoutChrome();
    clearInvisibleList();
}

void MainWindowController::searchTextChanged(const QString &text)
{
    m_adapter->setFilter(text);
    rebuildViews(false);
    m_scrollView->verticalScrollBar()->setValue(0);
}

void MainWindowController::flipStarredAction(bool fromController)
{
    m_scrollView->verticalScrollBar()->setValue(0);
    if (m_adapter->showStarredOnly()) {
        m_adapter->setShowStarredOnly(false);
        m_adapter->setShowMarkedOnly(false);
    } else {
        m_adapter->setShowStarredOnly(true);
    }
    toolButton(QStringLiteral("starred"))->setChecked(m_adapter->showStarredOnly());
    m_adapter->setFilter(m_searchField->text());
    m_adapter->setNeedsRefresh(true);
    rebuildViews(false);
    if (!fromController)
        toolButton(QStringLiteral("marked"))->setChecked(false);
    clearInvisibleList();
}

void MainWindowController::flipMarkedAction(bool on, bool fromController)
{
    if (fromController) {
        clearInvisibleList();
        return;
    }
    if (m_adapter->showStarredOnly()) {
        m_adapter->setShowMarkedOnly(false);
        flipStarredAction(true);
    }
    m_adapter->setShowMarkedOnly(on);
    toolButton(QStringLiteral("marked"))->setChecked(on);
    m_adapter->setFilter(m_searchField->text());
    m_adapter->setNeedsRefresh(true);
    rebuildViews(false);
    toolButton(QStringLiteral("starred"))->setChecked(false);
    clearInvisibleList();
}

bool MainWindowController::collapseEnabled() const
{
    return m_settings.integer(QStringLiteral("FolderTabsMode")) > 0;
}

void MainWindowController::expand(bool expand)
{
    if (expand != m_collapsed)
        return;
    m_keyGrab->release();
    PreviewPresenter::shared().close(false);
    QRect frame = m_window->geometry();
    const bool right = m_windowLocation == 1;
    if (expand) {
        const int width = m_widthBeforeCollapse > 0 ? m_widthBeforeCollapse : frame.width();
        if (right)
            frame.setLeft(frame.right() + 1 - width);
        else
            frame.setWidth(width);
        m_collapsed = false;
    } else {
        m_widthBeforeCollapse = frame.width();
        if (right)
            frame.setLeft(frame.right() + 1 - kCollapsedWidth);
        else
            frame.setWidth(kCollapsedWidth);
        m_collapsed = true;
    }
    m_window->setMinimumWidth(qMin(m_window->minimumWidth(), kCollapsedWidth));
    // A docked bar is placed (and its strut set) for its new width.
    if (m_windowLocation == 2)
        m_window->setGeometry(frame);
    else
        resizeWindow();
    setMinimizeIcon();
    layoutChrome();
    if (expand) {
        m_expandFlag = true;
        m_adapter->setNeedsRefreshButNoReload();
        rebuildViews(true);
    }
}

void MainWindowController::miniaturize()
{
    PreviewPresenter::shared().close(true);
    if (collapseEnabled()) {
        expand(m_collapsed);
        return;
    }
    if (m_window->isVisible() && !m_window->isMinimized())
        m_window->showMinimized();
    else
        m_window->showNormal();
}

void MainWindowController::toggleCurrentStarred()
{
    ObjectID target = PreviewPresenter::shared().shownItem();
    if (target.isNull())
        for (DataItemView *view : entryViews())
            if (view->highlight())
                target = view->itemId();
    DataItem *item = m_adapter->item(target);
    if (!item)
        return;
    StarManager stars(m_engine.stores());
    if (item->isStarred())
        stars.unstarItem(item);
    else
        stars.starItem(item);
}

void MainWindowController::setSideColumn(QWidget *column)
{
    m_sideColumn = column;
    layoutChrome();
    rebuildViews(true);
}

void MainWindowController::askForFeedAddress()
{
    bool ok = false;
    const QString text = QInputDialog::getText(m_window, tr("Add a subscription"), tr("Feed or web site address:"),
                                               QLineEdit::Normal, QString(), &ok);
    if (!ok || text.trimmed().isEmpty())
        return;
    if (!addDroppedFeed(text.trimmed().left(4096)))
        QMessageBox::warning(m_window, tr("Add a subscription"),
                             tr("This is not a web address that a feed could be read from:\n%1")
                                 .arg(text.trimmed().left(200)));
}

} // namespace corvane::desktop
