#include "prefsfixture.h"

#include "preferences/addfeedtext.h"
#include "preferences/colorchooserpopupbutton.h"
#include "preferences/feedsettingssheet.h"
#include "preferences/feedlistmodel.h"
#include "preferences/feedsoutlineview.h"
#include "preferences/rsspreferencescontroller.h"

#include "store/dataitem.h"
#include "store/query.h"

#include "testfiles.h"

#include <QAction>
#include <QDropEvent>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QMenu>
#include <QLabel>
#include <QMimeData>

using namespace corvane;
using namespace corvane::test;
using desktop::FeedListModel;
using desktop::RSSPreferencesController;

namespace {

class FeedListTest : public PrefsFixture
{
protected:
    void SetUp() override
    {
        PrefsFixture::SetUp();
        m_pane = std::make_unique<RSSPreferencesController>(*m_engine, *m_bridge, settings());
    }
    void TearDown() override
    {
        m_pane.reset();
        PrefsFixture::TearDown();
    }

    FeedListModel &model() const { return *m_pane->model(); }
    qint64 datasourceCount() const { return main()->count(Query{Entity::Datasource}); }
    double position(ObjectID id) const { return source(id)->position(); }

    // Drags the rows of these records and drops them, as the tree does.
    bool drag(const QList<ObjectID> &ids, int row, const QModelIndex &parent)
    {
        QModelIndexList indexes;
        for (const ObjectID &id : ids)
            indexes.append(model().indexOf(id));
        std::unique_ptr<QMimeData> mime(model().mimeData(indexes));
        const bool dropped = model().dropMimeData(mime.get(), Qt::MoveAction, row, 0, parent);
        settle();
        return dropped;
    }

    std::unique_ptr<RSSPreferencesController> m_pane;
};

TEST_F(FeedListTest, AddressTextsAreCheckedBeforeAnythingIsAdded)
{
    struct Case
    {
        QString text;
        QString address; // empty: refused
    };
    const QList<Case> cases = {
        {QStringLiteral("http://example.org/rss"), QStringLiteral("http://example.org/rss")},
        {QStringLiteral("  example.org/feed.xml \n"), QStringLiteral("example.org/feed.xml")},
        {QStringLiteral("feed://example.org/atom"), QStringLiteral("feed://example.org/atom")},
        {QStringLiteral("@corvane_app"), QStringLiteral("@corvane_app")},
        {QStringLiteral("#qt widgets"), QStringLiteral("#qt widgets")},
        {QStringLiteral("javascript:alert(1)"), {}},
        {QStringLiteral("file:///etc/passwd"), {}},
        {QStringLiteral("ftp://example.org/rss"), {}},
        {QStringLiteral("data:text/html,<b>x</b>"), {}},
        {QStringLiteral("just some words"), {}},
        {QStringLiteral("http://exa mple.org/"), {}},
        {QStringLiteral("@"), {}},
        {QStringLiteral("@not a user"), {}},
        {QStringLiteral("#   "), {}},
        {QStringLiteral("http://example.org/\nhttp://other.org/"), {}},
        {QStringLiteral("   "), {}},
        {QString(1024 * 1024, u'a'), {}},
        {QStringLiteral("http://example.org/") + QString(1024 * 1024, u'x'), {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text.left(60).toStdString());
        const desktop::addfeedtext::Result result = desktop::addfeedtext::addressFromText(c.text);
        EXPECT_EQ(result.address, c.address);
        EXPECT_EQ(result.error.isEmpty(), result.ok());
        const qint64 before = datasourceCount();
        QString message;
        EXPECT_EQ(m_pane->confirmAdd(c.text, &message), !c.address.isEmpty());
        EXPECT_EQ(datasourceCount(), before + (c.address.isEmpty() ? 0 : 1));
        EXPECT_EQ(message.isEmpty(), !c.address.isEmpty()) << message.toStdString();
    }
    // The clipboard fills the field only with a web address.
    EXPECT_EQ(desktop::addfeedtext::prefillFromClipboard(QStringLiteral("https://example.org/a")),
              QStringLiteral("https://example.org/a"));
    EXPECT_EQ(desktop::addfeedtext::prefillFromClipboard(QStringLiteral("http://")), QString());
    EXPECT_EQ(desktop::addfeedtext::prefillFromClipboard(QStringLiteral("javascript:alert(1)")), QString());
    EXPECT_EQ(desktop::addfeedtext::prefillFromClipboard(QStringLiteral("example.org/rss")), QString());
}

TEST_F(FeedListTest, AddingTwitterUsersAndExistingFeeds)
{
    ASSERT_TRUE(m_pane->confirmAdd(QStringLiteral("@someone")));
    ASSERT_TRUE(m_pane->confirmAdd(QStringLiteral("http://example.org/rss")));
    const QList<Datasource *> all = m_engine->datasourcesForMain();
    ASSERT_EQ(all.size(), 2);
    EXPECT_EQ(all[0]->url(), QStringLiteral("@someone"));
    EXPECT_TRUE(all[0]->isTwitter());
    EXPECT_EQ(all[1]->url(), QStringLiteral("http://example.org/rss"));

    // The same feed again, in another spelling: nothing new, and the user is told.
    QString message;
    EXPECT_FALSE(m_pane->confirmAdd(QStringLiteral("feed://example.org/rss"), &message));
    EXPECT_EQ(message, QStringLiteral("Feed already exists."));
    EXPECT_EQ(datasourceCount(), 2);

    // The add sheet opened with a text from elsewhere, and its button.
    m_pane->addFeedWithUrl(QStringLiteral("http://example.org/other"));
    EXPECT_EQ(m_pane->addFeedSheet()->field()->text(), QStringLiteral("http://example.org/other"));
    EXPECT_TRUE(m_pane->addFeedSheet()->addButton()->isEnabled());
    m_pane->addFeedSheet()->field()->clear();
    EXPECT_FALSE(m_pane->addFeedSheet()->addButton()->isEnabled());
}

TEST_F(FeedListTest, RenamingAndEditingCells)
{
    const ObjectID id = addSource(QStringLiteral("http://example.org/rss"), QStringLiteral("Feed Title"));
    model().reload();
    const QModelIndex name = model().indexOf(id, FeedListModel::NameColumn);
    ASSERT_TRUE(model().setData(name, QStringLiteral("  Mine "), Qt::EditRole));
    settle();
    EXPECT_EQ(source(id)->customName(), QStringLiteral("  Mine "));
    EXPECT_EQ(model().indexOf(id).data().toString(), QStringLiteral("  Mine "));

    ASSERT_TRUE(model().setData(model().indexOf(id), QStringLiteral(" \t\n "), Qt::EditRole));
    settle();
    EXPECT_TRUE(source(id)->customName().isEmpty());
    EXPECT_EQ(model().indexOf(id).data().toString(), QStringLiteral("Feed Title"));

    // The address cell takes feed addresses only.
    const QModelIndex url = model().indexOf(id, FeedListModel::UrlColumn);
    EXPECT_FALSE(model().setData(url, QStringLiteral("file:///etc/passwd"), Qt::EditRole));
    EXPECT_EQ(source(id)->url(), QStringLiteral("http://example.org/rss"));
    EXPECT_TRUE(model().setData(url, QStringLiteral("https://example.org/atom"), Qt::EditRole));
    EXPECT_EQ(source(id)->url(), QStringLiteral("https://example.org/atom"));

    // A category's check box switches all its feeds; a mixed state shows as such.
    Category *folder = addCategory(QStringLiteral("News"), 1);
    const ObjectID a = addSource(QStringLiteral("http://a.example/rss"), {}, folder);
    addSource(QStringLiteral("http://b.example/rss"), {}, folder);
    model().reload();
    source(a)->setEnabled(false);
    const QModelIndex enabled = model().indexOf(folder->objectID(), FeedListModel::EnabledColumn);
    EXPECT_EQ(enabled.data(Qt::CheckStateRole).toInt(), Qt::PartiallyChecked);
    ASSERT_TRUE(model().setData(enabled, Qt::Unchecked, Qt::CheckStateRole));
    settle();
    for (Datasource *datasource : folder->datasources())
        EXPECT_FALSE(datasource->enabled());
    // Feeds inside a category are indented.
    EXPECT_EQ(model().indexOf(a).data().toString(), QStringLiteral("    http://a.example/rss"));

    // A row from before a rebuild takes no edit once its record is gone.
    const QModelIndex stale = model().indexOf(a);
    m_engine->deleteDatasourceOrCategory(source(a));
    EXPECT_FALSE(model().setData(stale, QStringLiteral("Ghost"), Qt::EditRole));
}

TEST_F(FeedListTest, DraggingRefilesAndReorders)
{
    Category *full = addCategory(QStringLiteral("Full"), 1);
    Category *empty = addCategory(QStringLiteral("Empty"), 2);
    const ObjectID a1 = addSource(QStringLiteral("http://a1.example/"), {}, full);
    const ObjectID a2 = addSource(QStringLiteral("http://a2.example/"), {}, full);
    source(a1)->setPosition(2);
    source(a2)->setPosition(6);
    const ObjectID r1 = addSource(QStringLiteral("http://r1.example/"));
    const ObjectID r2 = addSource(QStringLiteral("http://r2.example/"));
    const ObjectID r3 = addSource(QStringLiteral("http://r3.example/"));
    const ObjectID r4 = addSource(QStringLiteral("http://r4.example/"));
    ASSERT_TRUE(main()->save());
    model().reload();

    // Into an empty category: 1.
    ASSERT_TRUE(drag({r1}, -1, model().indexOf(empty->objectID())));
    EXPECT_EQ(source(r1)->category(), empty);
    EXPECT_EQ(position(r1), 1.0);
    // First in a filled one: half the first position.
    ASSERT_TRUE(drag({r2}, 0, model().indexOf(full->objectID())));
    EXPECT_EQ(source(r2)->category(), full);
    EXPECT_EQ(position(r2), 1.0);
    // Between two: their mean (r2 1, a1 2, a2 6).
    ASSERT_TRUE(drag({r3}, 2, model().indexOf(full->objectID())));
    EXPECT_EQ(position(r3), 4.0);
    EXPECT_EQ(model().rowCount(model().indexOf(full->objectID())), 4);
    // Within one category the row's own place is no neighbour: r2 goes between r3 and a2.
    ASSERT_TRUE(drag({r2}, 3, model().indexOf(full->objectID())));
    EXPECT_EQ(position(r2), 5.0);
    // On a category without an index: after its last feed.
    ASSERT_TRUE(drag({r4}, -1, model().indexOf(full->objectID())));
    EXPECT_EQ(position(r4), 7.0);

    // Feeds cannot go among the categories; nothing moves.
    EXPECT_FALSE(drag({a1}, 1, QModelIndex()));
    EXPECT_EQ(source(a1)->category(), full);
    EXPECT_EQ(position(a1), 2.0);

    // Dropped on a feed inside a category: to the end of the top level.
    ASSERT_TRUE(drag({a2}, -1, model().indexOf(a1)));
    EXPECT_EQ(source(a2)->category(), nullptr);
    EXPECT_EQ(model().rootItems().last(), a2);

    // A category dropped into another lands after it, among the categories.
    const double fullPosition = full->position();
    ASSERT_TRUE(drag({empty->objectID()}, 0, model().indexOf(full->objectID())));
    EXPECT_GT(empty->position(), fullPosition);
    // ...and before the first when dropped at the top.
    ASSERT_TRUE(drag({empty->objectID()}, 0, QModelIndex()));
    EXPECT_LT(empty->position(), full->position());
    EXPECT_EQ(model().rootItems().first(), empty->objectID());
}

TEST_F(FeedListTest, DroppedTextsFromElsewhere)
{
    const qint64 before = datasourceCount();
    QStringList messages;
    model().onMessage = [&](const QString &text) { messages.append(text); };
    const auto dropText = [&](const QString &text) {
        QMimeData mime;
        mime.setText(text);
        return model().dropMimeData(&mime, Qt::CopyAction, -1, 0, QModelIndex());
    };
    EXPECT_TRUE(dropText(QStringLiteral("https://example.org/rss")));
    EXPECT_EQ(datasourceCount(), before + 1);
    EXPECT_FALSE(dropText(QStringLiteral("https://example.org/rss")));
    EXPECT_FALSE(dropText(QStringLiteral("javascript:alert(document.cookie)")));
    EXPECT_FALSE(dropText(QStringLiteral("file:///home")));
    EXPECT_EQ(datasourceCount(), before + 1);
    ASSERT_EQ(messages.size(), 3);
    EXPECT_EQ(messages[0], QStringLiteral("Feed already exists."));
}

TEST_F(FeedListTest, FoldersMovesAndResets)
{
    addCategory(QStringLiteral("First"), 3);
    m_pane->newFolder();
    settle();
    const QList<Category *> categories =
        main()->fetchAs<Category>(Query{Entity::Category, Predicate(), {{QStringLiteral("position"), true}}});
    ASSERT_EQ(categories.size(), 2);
    EXPECT_EQ(categories[1]->name(), QStringLiteral("New Folder"));
    EXPECT_EQ(categories[1]->position(), 4.0);

    // "Move to" puts the feed at the end of the folder.
    const ObjectID inFolder = addSource(QStringLiteral("http://in.example/"), {}, categories[1]);
    source(inFolder)->setPosition(5);
    const ObjectID feed = addSource(QStringLiteral("http://example.org/rss"));
    m_pane->moveDatasources({feed}, categories[1]->objectID());
    EXPECT_EQ(source(feed)->category(), categories[1]);
    EXPECT_EQ(position(feed), 6.0);
    model().reload();
    std::unique_ptr<QMenu> menu(m_pane->menuForItem(model().indexOf(feed)));
    QStringList checked;
    for (QAction *action : menu->actions().first()->menu()->actions())
        if (action->isChecked())
            checked.append(action->text());
    EXPECT_EQ(checked, QStringList{QStringLiteral("New Folder")});

    // Reset: own settings cleared, items the user deleted come back.
    source(feed)->setLimit(5);
    source(feed)->setRefreshRate(60);
    source(feed)->setFontColor(CommonColor{1, 0, 0, 1});
    ASSERT_TRUE(main()->save());
    const QList<ObjectID> items = storeItems(feed, {{QStringLiteral("kept")}, {QStringLiteral("deleted")}});
    static_cast<DataItem *>(main()->existingObject(items[1]))->setDeletedByUser(true);
    ASSERT_TRUE(main()->save());
    m_pane->resetAllSettings();
    settle();
    EXPECT_EQ(source(feed)->limit(), 0);
    EXPECT_EQ(source(feed)->refreshRate(), 0);
    EXPECT_FALSE(source(feed)->fontColor());
    EXPECT_FALSE(static_cast<DataItem *>(main()->existingObject(items[1]))->isDeletedByUser());
}

TEST_F(FeedListTest, BackupListAndFailingRestore)
{
    const QString dir = m_engine->stores().directory();
    for (const char *name : {"Corvane-v3.2026-12-01.xml", "Corvane-v3.2026-12-03.xml", ".xml"})
        test::writeFile(dir + u'/' + QString::fromLatin1(name),
                        "<opml version=\"1.0\"><body><outline xmlUrl=\"http://restored.example/rss\"/></body></opml>");
    m_pane->rebuildRestoreItems();
    QStringList titles;
    for (QAction *action : m_pane->opmlMenu()->actions())
        if (action->text().startsWith(QStringLiteral("Restore")))
            titles.append(action->text());
    // Newest first (today's own backup may be there too); names without a day part have no entry.
    const qsizetype newer = titles.indexOf(QStringLiteral("Restore feed list from: 2026-12-03"));
    const qsizetype older = titles.indexOf(QStringLiteral("Restore feed list from: 2026-12-01"));
    EXPECT_GE(newer, 0);
    EXPECT_GT(older, newer);
    EXPECT_EQ(titles.size(), m_engine->stores().opmlBackups().size());
    EXPECT_FALSE(titles.contains(QStringLiteral("Restore feed list from: ")));
    EXPECT_EQ(RSSPreferencesController::restoreTitle(QStringLiteral("backup")), QString());
    EXPECT_EQ(RSSPreferencesController::restoreTitle(QStringLiteral(".xml")), QString());
    EXPECT_EQ(RSSPreferencesController::restoreTitle(QStringLiteral("feeds.xml")), QStringLiteral("feeds"));

    // A truncated file restores nothing and deletes nothing.
    addSource(QStringLiteral("http://mine.example/rss"));
    const QString broken = m_dir.filePath(QStringLiteral("broken.opml"));
    test::writeFile(broken, "<opml version=\"1.0\"><body><outline xmlUrl=\"http://new.example/rss\"/><outl");
    for (const QString &path : {broken, m_dir.filePath(QStringLiteral("missing.opml"))}) {
        SCOPED_TRACE(path.toStdString());
        m_pane->restoreOpml(path);
        EXPECT_TRUE(m_pane->working());
        ASSERT_TRUE(spinUntil([&] { return !m_pane->working(); }));
        settle();
        EXPECT_FALSE(m_pane->lastError().isEmpty());
        const QList<Datasource *> left = m_engine->datasourcesForMain();
        ASSERT_EQ(left.size(), 1);
        EXPECT_EQ(left[0]->url(), QStringLiteral("http://mine.example/rss"));
    }

    // A good one replaces the list.
    m_pane->restoreOpml(dir + QStringLiteral("/Corvane-v3.2026-12-01.xml"));
    ASSERT_TRUE(spinUntil([&] { return !m_pane->working(); }));
    settle();
    EXPECT_TRUE(m_pane->lastError().isEmpty()) << m_pane->lastError().toStdString();
    const QList<Datasource *> restored = m_engine->datasourcesForMain();
    ASSERT_EQ(restored.size(), 1);
    EXPECT_EQ(restored[0]->url(), QStringLiteral("http://restored.example/rss"));
    EXPECT_EQ(model().rootItems().size(), 1);
}

} // namespace

namespace {

TEST_F(FeedListTest, FeedSettingsSheetAppliesAsItChanges)
{
    const ObjectID id = addSource(QStringLiteral("http://example.org/rss"), QStringLiteral("Own Name"));
    source(id)->setRefreshRate(15);
    ASSERT_TRUE(main()->save());
    QList<const void *> configured;
    ScopedObserver observer(NotificationCenter::defaultCenter(), kDatasourceConfigurationDidChangeNotification,
                            nullptr, [&](const Notification &n) { configured.append(n.object); });
    desktop::FeedSettingsSheet sheet(main(), id, settings());
    // Own values shown, unset ones empty over the global default.
    EXPECT_EQ(sheet.numberField(QStringLiteral("limit"))->text(), QString());
    EXPECT_EQ(sheet.numberField(QStringLiteral("limit"))->placeholderText(), QStringLiteral("100"));
    EXPECT_EQ(sheet.numberField(QStringLiteral("refreshRate"))->text(), QStringLiteral("15"));
    EXPECT_EQ(sheet.nameField()->placeholderText(), QStringLiteral("Own Name"));
    EXPECT_EQ(sheet.fontColorButton()->currentText(), QStringLiteral("None"));

    QTest::keyClicks(sheet.numberField(QStringLiteral("limit")), QStringLiteral("25"));
    EXPECT_EQ(source(id)->limit(), 25);
    sheet.backgroundColorButton()->changeColorFromEntry(2);
    EXPECT_EQ(source(id)->backgroundColor(), sheet.backgroundColorButton()->entryColor(2));
    EXPECT_EQ(configured.size(), 3);
    EXPECT_EQ(configured.last(), source(id));

    // Save refuses an address that is no feed and keeps the old one.
    sheet.addressField()->setText(QStringLiteral("javascript:alert(1)"));
    EXPECT_FALSE(sheet.save());
    EXPECT_FALSE(sheet.messageLabel()->isHidden());
    EXPECT_EQ(source(id)->url(), QStringLiteral("http://example.org/rss"));
    sheet.addressField()->setText(QStringLiteral("@someone"));
    sheet.nameField()->setText(QStringLiteral("   "));
    EXPECT_TRUE(sheet.save());
    EXPECT_EQ(source(id)->url(), QStringLiteral("@someone"));
    EXPECT_TRUE(source(id)->customName().isEmpty());
}

} // namespace

namespace {

TEST_F(FeedListTest, RowsDroppedOnTheTreeItself)
{
    Category *folder = addCategory(QStringLiteral("Folder"), 1);
    const ObjectID feed = addSource(QStringLiteral("http://example.org/rss"));
    model().reload();
    m_pane->resize(700, 400);
    m_pane->show();
    settle();
    desktop::FeedsOutlineView *view = m_pane->outlineView();
    const QModelIndex target = model().indexOf(folder->objectID(), FeedListModel::NameColumn);
    const QRect rect = view->visualRect(target);
    ASSERT_FALSE(rect.isEmpty());
    EXPECT_EQ(rect.height(), 20);
    EXPECT_EQ(view->visualRect(model().indexOf(feed)).height(), 44);

    // Dropped on the middle of the folder's row, as the mouse would.
    std::unique_ptr<QMimeData> mime(model().mimeData({model().indexOf(feed)}));
    const QPoint at = rect.center();
    QDragEnterEvent enter(at, Qt::MoveAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(view->viewport(), &enter);
    QDragMoveEvent move(at, Qt::MoveAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(view->viewport(), &move);
    EXPECT_TRUE(move.isAccepted());
    QDropEvent drop(QPointF(at), Qt::MoveAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(view->viewport(), &drop);
    settle();
    EXPECT_EQ(source(feed)->category(), folder);
    EXPECT_EQ(source(feed)->position(), 1.0);
    // The folder stays open and shows it.
    EXPECT_TRUE(view->isExpanded(model().indexOf(folder->objectID())));
    EXPECT_EQ(model().rowCount(model().indexOf(folder->objectID())), 1);
}

} // namespace
