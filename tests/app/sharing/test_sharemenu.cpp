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

void choose(const QMenu *menu, const char *text)
{
    for (QAction *action : menu->actions())
        if (action->text() == QString::fromLatin1(text))
            return action->trigger();
    ADD_FAILURE() << "no menu entry " << text;
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
        startSharing(false);
        ShareManager::setMailOpener([this](const QUrl &url) {
            m_mails.append(url.toString(QUrl::FullyEncoded));
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

    void startSharing(bool pocketUser)
    {
        m_share.reset();
        if (pocketUser)
            PocketAccountStore().save({QStringLiteral("reader"), FakePocket::kAccessToken});
        m_share = std::make_unique<ShareManager>(settings());
        waitForPocket();
    }
    // The client's queue first, then what it handed to the main thread.
    void waitForPocket()
    {
        m_share->pocket().client().waitForIdle();
        settle();
    }

    DataItem *item(ObjectID id) const { return m_bar->adapter().item(id); }
    std::unique_ptr<QMenu> menu(ObjectID id)
    {
        return std::unique_ptr<QMenu>(m_share->menuForItem(m_bar->adapter(), id, nullptr));
    }

    FakePocket m_pocket;
    ObjectID m_source;
    std::unique_ptr<desktop::MainWindowController> m_bar;
    std::unique_ptr<ShareManager> m_share;
    QStringList m_mails;
};

TEST_F(ShareMenuTest, OffersTheFallbackListWithPocketWhileLoggedIn)
{
    const QList<ObjectID> ids = storeItems(m_source, {{QStringLiteral("plain")}, {QStringLiteral("read, starred"), 0, true, true}});
    EXPECT_EQ(entries(menu(ids[0]).get()),
              QStringLiteral("Mark with Star|Email|Copy Link|-|Mark Read|Delete|-|Mark all Read|Mark all Unread"));
    EXPECT_EQ(entries(menu(ids[1]).get()),
              QStringLiteral("Unmark|Email|Copy Link|-|Mark Unread|Delete|-|Mark all Read|Mark all Unread"));

    // No link, no menu.
    item(ids[1])->setLink(QString());
    ASSERT_TRUE(main()->save());
    EXPECT_EQ(m_share->menuForItem(m_bar->adapter(), ids[1], nullptr), nullptr);

    // The entries and the preview open this menu while the manager lives.
    QWidget parent;
    const auto firstEntryOpened = [&] {
        desktop::openEntryMenu(m_bar->adapter(), ids[0], QPoint(10, 10), &parent);
        const std::unique_ptr<QMenu> opened(parent.findChild<QMenu *>());
        return opened ? entries(opened.get()).section(u'|', 0, 0) : QString();
    };
    EXPECT_EQ(firstEntryOpened(), QStringLiteral("Mark with Star"));

    startSharing(true);
    const auto withPocket = menu(ids[0]);
    EXPECT_EQ(entries(withPocket.get()).section(u'|', 0, 3), QStringLiteral("Mark with Star|Email|Save to Pocket|Copy Link"));
    choose(withPocket.get(), "Save to Pocket");
    waitForPocket();
    EXPECT_EQ(m_pocket.bodies(QStringLiteral("/v3/add")).value(0).value(QStringLiteral("url")), item(ids[0])->link());

    m_share.reset();
    EXPECT_EQ(firstEntryOpened(), QStringLiteral("Star")) << "the bar's own menu is back";
}

TEST_F(ShareMenuTest, ActionsWorkFromTheStatesTheMenuWasBuiltWith)
{
    const QList<ObjectID> ids = storeItems(m_source, {{QStringLiteral("A & B")}, {QStringLiteral("two")}});
    item(ids[0])->setLink(QStringLiteral("http://example.org/?q=1&r=2"));
    ASSERT_TRUE(main()->save());
    const auto first = menu(ids[0]);

    choose(first.get(), "Email");
    EXPECT_EQ(m_mails, QStringList(QStringLiteral("mailto:?subject=A%20%26%20B&body=http%3A%2F%2Fexample.org%2F%3Fq%3D1%26r%3D2")));
    choose(first.get(), "Copy Link");
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("http://example.org/?q=1&r=2"));

    // Starred and read elsewhere while the menu was open: its entries still star and mark read.
    StarManager(m_engine->stores()).starItem(item(ids[0]));
    item(ids[0])->setRead(true);
    choose(first.get(), "Mark with Star");
    choose(first.get(), "Mark Read");
    EXPECT_TRUE(item(ids[0])->isStarred());
    EXPECT_TRUE(item(ids[0])->isRead());
    const auto again = menu(ids[0]);
    choose(again.get(), "Unmark");
    choose(again.get(), "Mark Unread");
    main()->reset();
    EXPECT_FALSE(item(ids[0])->isStarred()) << "saved";
    EXPECT_FALSE(item(ids[0])->isRead()) << "saved";

    choose(menu(ids[1]).get(), "Delete");
    settle();
    EXPECT_TRUE(!item(ids[1]) || item(ids[1])->isDeletedByUser());

    // Gone from the store: the entries of its open menu do nothing.
    const auto stale = menu(ids[0]);
    background()->performBlockConfinedAndWait([&] {
        background()->deleteObject(background()->existingObject(ids[0]));
        EXPECT_TRUE(background()->save());
    });
    settle();
    ASSERT_EQ(item(ids[0]), nullptr);
    QGuiApplication::clipboard()->setText(QStringLiteral("untouched"));
    for (const char *text : {"Copy Link", "Email", "Mark with Star", "Mark Read", "Delete"})
        choose(stale.get(), text);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("untouched"));
    EXPECT_EQ(m_mails.size(), 1);
}

TEST_F(ShareMenuTest, StarChangesSavedInTheStoreReachPocket)
{
    startSharing(true);
    m_pocket.setList(R"({"42":{"given_url":"http://example.org/1"}})");
    const QList<ObjectID> ids = storeItems(m_source, {{QStringLiteral("one")}});
    ASSERT_EQ(item(ids[0])->link(), QStringLiteral("http://example.org/1"));

    choose(menu(ids[0]).get(), "Mark with Star");
    waitForPocket();
    EXPECT_EQ(m_pocket.bodies(QStringLiteral("/v3/add")).value(0).value(QStringLiteral("url")),
              QStringLiteral("http://example.org/1"));

    // Unstarred by a background save (as cloud sync does).
    background()->performBlockConfinedAndWait([&] {
        static_cast<DataItem *>(background()->existingObject(ids[0]))->setStarred(false);
        EXPECT_TRUE(background()->save());
    });
    waitForPocket();
    EXPECT_EQ(m_pocket.count(QStringLiteral("/v3/send")), 1);
}

} // namespace
