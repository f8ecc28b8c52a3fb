#include "fakepocket.h"
#include "tickerfixture.h"

#include "sharing/pocket.h"
#include "sharing/sharemanager.h"
#include "ticker/entrymenu.h"

#include "pocketaccountstore.h"
#include "pocketclient.h"

#include "feeds/starmanager.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QMenu>
#include <QWidget>

using namespace corvane;
using namespace corvane::test;
using desktop::ShareManager;

namespace {

// The entries' texts, "|" between them, "-" for separators.
QString entries(const QMenu *menu)
{
    QStringList list;
    for (const QAction *action : menu->actions())
        list.append(action->isSeparator() ? QStringLiteral("-") : action->text());
    return list.join(u'|');
}

QAction *entry(const QMenu *menu, const QString &text)
{
    for (QAction *action : menu->actions())
        if (action->text() == text)
            return action;
    ADD_FAILURE() << "no menu entry " << text.toStdString();
    static QAction none;
    return &none;
}

class ShareMenuTest : public TickerFixture
{
protected:
    void SetUp() override
    {
        TickerFixture::SetUp();
        settings().setValue(QStringLiteral("PocketBaseURL"), m_pocket.baseUrl());
        settings().setValue(QStringLiteral("PocketConsumerKey"), FakePocket::kConsumerKey);
        m_source = addSource(QStringLiteral("http://a.org/rss"), QStringLiteral("Alpha"));
        m_bar = makeBar();
        m_share = std::make_unique<ShareManager>(settings());
        m_share->pocket().client().waitForIdle();
        ShareManager::setMailOpener([this](const QUrl &url) {
            m_mails.append(url);
            return true;
        });
    }

    void TearDown() override
    {
        ShareManager::setMailOpener({});
        m_share.reset();
        m_bar.reset();
        PocketAccountStore().remove();
        settings().removeValue(QStringLiteral("PocketBaseURL"));
        settings().removeValue(QStringLiteral("PocketConsumerKey"));
        TickerFixture::TearDown();
    }

    DataItem *item(ObjectID id) const { return m_bar->adapter().item(id); }
    std::unique_ptr<QMenu> menu(ObjectID id) { return std::unique_ptr<QMenu>(m_share->menuForItem(m_bar->adapter(), id, nullptr)); }

    FakePocket m_pocket;
    ObjectID m_source;
    std::unique_ptr<desktop::MainWindowController> m_bar;
    std::unique_ptr<ShareManager> m_share;
    QList<QUrl> m_mails;
};

TEST_F(ShareMenuTest, OffersTheFallbackListAndPocketOnlyWhileLoggedIn)
{
    const QList<ObjectID> ids = storeItems(m_source, {{QStringLiteral("plain")}, {QStringLiteral("read and starred"), 0, true, true}});
    EXPECT_EQ(entries(menu(ids[0]).get()),
              QStringLiteral("Mark with Star|Email|Copy Link|-|Mark Read|Delete|-|Mark all Read|Mark all Unread"));
    EXPECT_EQ(entries(menu(ids[1]).get()),
              QStringLiteral("Unmark|Email|Copy Link|-|Mark Unread|Delete|-|Mark all Read|Mark all Unread"));

    // Logged in to Pocket: "Save to Pocket" follows "Email" and saves the link.
    m_share.reset();
    PocketAccountStore().save({QStringLiteral("reader"), FakePocket::kAccessToken});
    m_share = std::make_unique<ShareManager>(settings());
    m_share->pocket().client().waitForIdle();
    const auto withPocket = menu(ids[0]);
    EXPECT_EQ(entries(withPocket.get()),
              QStringLiteral("Mark with Star|Email|Save to Pocket|Copy Link|-|Mark Read|Delete|-|Mark all Read|"
                             "Mark all Unread"));
    entry(withPocket.get(), QStringLiteral("Save to Pocket"))->trigger();
    m_share->pocket().client().waitForIdle();
    EXPECT_EQ(m_pocket.bodies(QStringLiteral("/v3/add")).value(0).value(QStringLiteral("url")), item(ids[0])->link());
}

TEST_F(ShareMenuTest, ItemsWithoutALinkOpenNoMenu)
{
    const QList<ObjectID> ids = storeItems(m_source, {{QStringLiteral("no link")}});
    item(ids[0])->setLink(QString());
    ASSERT_TRUE(main()->save());
    EXPECT_EQ(m_share->menuForItem(m_bar->adapter(), ids[0], nullptr), nullptr);
    EXPECT_EQ(m_share->menuForItem(m_bar->adapter(), ObjectID{}, nullptr), nullptr);
}

TEST_F(ShareMenuTest, EmailPercentEncodesTitleAndLink)
{
    const QList<ObjectID> ids = storeItems(m_source, {{QStringLiteral("A & B")}});
    item(ids[0])->setLink(QStringLiteral("http://example.org/?q=1&r=2"));
    ASSERT_TRUE(main()->save());
    entry(menu(ids[0]).get(), QStringLiteral("Email"))->trigger();
    ASSERT_EQ(m_mails.size(), 1);
    EXPECT_EQ(m_mails[0].toString(QUrl::FullyEncoded),
              QStringLiteral("mailto:?subject=A%20%26%20B&body=http%3A%2F%2Fexample.org%2F%3Fq%3D1%26r%3D2"));
}

TEST_F(ShareMenuTest, ActionsToggleFromTheStatesTheMenuWasBuiltWith)
{
    const QList<ObjectID> ids = storeItems(m_source, {{QStringLiteral("one")}});
    const auto first = menu(ids[0]);
    // Starred and read elsewhere while the menu was open.
    StarManager(m_engine->stores()).starItem(item(ids[0]));
    item(ids[0])->setRead(true);
    entry(first.get(), QStringLiteral("Mark with Star"))->trigger();
    entry(first.get(), QStringLiteral("Mark Read"))->trigger();
    EXPECT_TRUE(item(ids[0])->isStarred());
    EXPECT_TRUE(item(ids[0])->isRead());

    const auto second = menu(ids[0]);
    entry(second.get(), QStringLiteral("Unmark"))->trigger();
    entry(second.get(), QStringLiteral("Mark Unread"))->trigger();
    settle();
    main()->reset();
    EXPECT_FALSE(item(ids[0])->isStarred()) << "saved";
    EXPECT_FALSE(item(ids[0])->isRead()) << "saved";
}

TEST_F(ShareMenuTest, CopyLinkAndDeleteActOnTheItemWhileItExists)
{
    const QList<ObjectID> ids = storeItems(m_source, {{QStringLiteral("one")}, {QStringLiteral("two")}});
    const auto menuOne = menu(ids[0]);
    const auto menuTwo = menu(ids[1]);
    entry(menuOne.get(), QStringLiteral("Copy Link"))->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), item(ids[0])->link());

    entry(menuTwo.get(), QStringLiteral("Delete"))->trigger();
    settle();
    EXPECT_TRUE(!item(ids[1]) || item(ids[1])->isDeletedByUser());

    // The item is gone from the store: its actions do nothing.
    background()->performBlockConfinedAndWait([&] {
        background()->deleteObject(background()->existingObject(ids[0]));
        EXPECT_TRUE(background()->save());
    });
    settle();
    ASSERT_EQ(item(ids[0]), nullptr);
    QGuiApplication::clipboard()->setText(QStringLiteral("untouched"));
    for (const char *text : {"Copy Link", "Email", "Mark with Star", "Mark Read", "Delete"})
        entry(menuOne.get(), QString::fromLatin1(text))->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("untouched"));
    EXPECT_TRUE(m_mails.isEmpty());
}

TEST_F(ShareMenuTest, EntriesOpenTheShareMenuWhileItLives)
{
    const QList<ObjectID> ids = storeItems(m_source, {{QStringLiteral("one")}});
    QWidget parent;
    const auto openedMenu = [&] {
        desktop::openEntryMenu(m_bar->adapter(), ids[0], QPoint(10, 10), &parent);
        const QList<QMenu *> menus = parent.findChildren<QMenu *>(Qt::FindDirectChildrenOnly);
        const QString list = menus.isEmpty() ? QString() : entries(menus.last());
        qDeleteAll(menus);
        return list.section(u'|', 0, 0);
    };
    EXPECT_EQ(openedMenu(), QStringLiteral("Mark with Star"));
    m_share.reset();
    EXPECT_EQ(openedMenu(), QStringLiteral("Star")) << "the bar's own menu is back";
}

TEST_F(ShareMenuTest, StarringAStoredItemSavesItsLinkToPocket)
{
    m_share.reset();
    PocketAccountStore().save({QStringLiteral("reader"), FakePocket::kAccessToken});
    m_share = std::make_unique<ShareManager>(settings());
    m_share->pocket().client().waitForIdle();
    m_pocket.setList(R"({"42":{"given_url":"http://example.org/1"}})");
    const QList<ObjectID> ids = storeItems(m_source, {{QStringLiteral("one")}});
    ASSERT_EQ(item(ids[0])->link(), QStringLiteral("http://example.org/1"));

    entry(menu(ids[0]).get(), QStringLiteral("Mark with Star"))->trigger();
    m_share->pocket().client().waitForIdle();
    EXPECT_EQ(m_pocket.bodies(QStringLiteral("/v3/add")).value(0).value(QStringLiteral("url")),
              QStringLiteral("http://example.org/1"));

    // Unstarred by a background save (as cloud sync does): removed from Pocket.
    background()->performBlockConfinedAndWait([&] {
        static_cast<DataItem *>(background()->existingObject(ids[0]))->setStarred(false);
        EXPECT_TRUE(background()->save());
    });
    settle();
    m_share->pocket().client().waitForIdle();
    EXPECT_EQ(m_pocket.count(QStringLiteral("/v3/send")), 1);
}

} // namespace
