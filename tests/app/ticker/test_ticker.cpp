#include "tickerfixture.h"

#include "ticker/dataitemview.h"
#include "ticker/listview.h"
#include "ticker/mainwindowcontroller.h"

#include <QScrollArea>
#include <QScrollBar>

using namespace corvane;
using namespace corvane::test;
using desktop::MainWindowController;

namespace {

class TickerTest : public TickerFixture
{
protected:
    void SetUp() override
    {
        TickerFixture::SetUp();
        m_source = addSource(QStringLiteral("http://a.org/rss"), QStringLiteral("Alpha"));
        settings().setValue(QStringLiteral("limit"), 1000);
    }

    std::unique_ptr<MainWindowController> makeController()
    {
        return makeBar([this](const QString &name) {
            m_sounds.append(name);
            return true;
        });
    }
    void tick(MainWindowController &controller, int times = 1) { tickBar(controller, times); }

    // Waiting items for a subscription already shown this run.
    QList<ObjectID> arrive(int count, int firstAge = 0, bool starred = false)
    {
        static_cast<Datasource *>(main()->existingObject(m_source))->setWasDisplayed(true);
        QList<ItemSpec> specs;
        for (int i = 0; i < count; ++i)
            specs.append({QStringLiteral("new %1").arg(i), double(firstAge + i), false, starred});
        return storeItems(m_source, specs);
    }

    // `count` items of the subscription, one a minute apart (or as given).
    QList<ObjectID> storeMany(int count, const QString &prefix, double firstAge = 0, double step = 60)
    {
        QList<ItemSpec> specs;
        for (int i = 0; i < count; ++i)
            specs.append({QStringLiteral("%1 %2").arg(prefix).arg(i), firstAge + step * i});
        return storeItems(m_source, specs);
    }

    ObjectID m_source;
    QStringList m_sounds;
};

TEST_F(TickerTest, WaitingItemsEnterOneAtATimeAfterTheBacklog)
{
    storeItems(m_source, {{QStringLiteral("old"), 3600}});
    auto controller = makeController();
    auto &adapter = controller->adapter();
    ASSERT_EQ(controller->items().size(), 1);

    arrive(12);
    ASSERT_EQ(adapter.theNewItems().size(), 12);
    m_clock.advance(0.2);
    controller->tick();
    // Two went straight to their places (the queue held more than ten), one
    // came in with the animation.
    EXPECT_EQ(adapter.theNewItems().size(), 9);
    EXPECT_TRUE(controller->listView()->animating());
    controller->listView()->finishAnimation();
    EXPECT_FALSE(controller->listView()->animating());

    // The next one waits until three whole seconds have passed.
    int ticks = 0;
    while (adapter.theNewItems().size() == 9 && ticks < 50) {
        tick(*controller);
        ++ticks;
    }
    EXPECT_GE(ticks, 15) << "about 3.2 seconds between arrivals";
    EXPECT_LE(ticks, 17);
    EXPECT_EQ(adapter.theNewItems().size(), 8);
    tick(*controller, 16 * 8);
    EXPECT_FALSE(adapter.hasNew());
    EXPECT_EQ(controller->items().size(), 13);
    EXPECT_EQ(titles(controller->items()).first(), QStringLiteral("new 0")) << "the newest is on top";
}

TEST_F(TickerTest, StarredArrivalEntersAtOnceAndSoundsFollowTheSettings)
{
    storeMany(30, QStringLiteral("old"), 3600, 1);
    auto controller = makeController();
    settings().setValue(QStringLiteral("soundName"), QStringLiteral("message-new-instant"));

    // Scrolled away from the top, a starred arrival is sorted in at once
    // without counting as an arrival out of sight; a plain one counts.
    controller->scrollView()->verticalScrollBar()->setValue(1000);
    arrive(1, 10, true);
    tick(*controller);
    EXPECT_FALSE(controller->adapter().hasNew());
    EXPECT_TRUE(controller->invisibleList().isEmpty());
    EXPECT_FALSE(controller->listView()->animating());
    arrive(1, 8);
    tick(*controller);
    EXPECT_EQ(controller->invisibleList().size(), 1);
    EXPECT_EQ(controller->scrollView()->verticalScrollBar()->value(), 1000 + controller->itemHeight())
        << "the entries in sight stay in sight";
    tick(*controller, 16);
    EXPECT_TRUE(m_sounds.isEmpty()) << "no sound for an unmarked item unless always asked for";

    settings().setValue(QStringLiteral("alwaysPlaySound"), true);
    tick(*controller, 16);
    arrive(1, 5);
    tick(*controller);
    EXPECT_EQ(m_sounds, QStringList{QStringLiteral("message-new-instant")});
    settings().setValue(QStringLiteral("soundName"), QString());
    tick(*controller, 16);
    arrive(1, 1);
    tick(*controller);
    EXPECT_EQ(m_sounds.size(), 1) << "no sound without a name";
}

TEST_F(TickerTest, OnlyRowsInSightHaveViews)
{
    storeMany(300, QStringLiteral("item"));
    settings().setValue(QStringLiteral("itemHeight"), 0);
    auto controller = makeController();
    EXPECT_EQ(controller->itemHeight(), 100) << "height 0 means 100";
    ASSERT_EQ(controller->items().size(), 300);
    EXPECT_EQ(controller->listView()->height(), 300 * 100);

    const int viewport = controller->scrollView()->viewport()->height();
    const int inSight = (viewport + 99) / 100;
    const qsizetype views = controller->entryViews().size();
    EXPECT_GE(views, inSight);
    EXPECT_LE(views, inSight + 3);

    // Scrolled to the middle: the views follow, the pool takes the rest.
    controller->scrollView()->verticalScrollBar()->setValue(150 * 100);
    settle();
    EXPECT_LE(controller->entryViews().size(), inSight + 3);
    for (desktop::DataItemView *view : controller->entryViews()) {
        const int top = view->geometry().top();
        EXPECT_GT(top, 150 * 100 - 400);
        EXPECT_LT(top, 150 * 100 + viewport + 400);
        EXPECT_EQ(titles({view->itemId()}).first(),
                  titles({controller->items().at(300 - view->index())}).first());
    }
}

TEST_F(TickerTest, ScrollToTopCountdown)
{
    storeMany(40, QStringLiteral("item"));
    settings().setValue(QStringLiteral("scrollToTopInterval"), 0);
    auto controller = makeController();
    QScrollBar *bar = controller->scrollView()->verticalScrollBar();
    bar->setValue(1000);
    tick(*controller, 5 * 60 * 5);
    EXPECT_EQ(bar->value(), 1000) << "interval 0 never scrolls back";

    settings().setValue(QStringLiteral("scrollToTopInterval"), 2);
    bar->setValue(1200);
    tick(*controller, 5);
    EXPECT_EQ(bar->value(), 1200);
    bar->setValue(1300); // every scroll starts the countdown again
    tick(*controller, 8);
    EXPECT_EQ(bar->value(), 1300);
    tick(*controller, 8);
    EXPECT_EQ(bar->value(), 0);
}

TEST_F(TickerTest, ReadItemsFadeOutWhenHidden)
{
    const QList<ObjectID> ids = storeItems(m_source, {{QStringLiteral("keep"), 60}, {QStringLiteral("go"), 120}});
    settings().setValue(QStringLiteral("autoHide"), true);
    auto controller = makeController();
    ASSERT_EQ(controller->entryViews().size(), 2);
    desktop::DataItemView *view = controller->viewForItem(ids.at(1));
    ASSERT_TRUE(view);
    static_cast<DataItem *>(main()->existingObject(ids.at(1)))->setRead(true);
    tick(*controller);
    EXPECT_TRUE(view->isFading() || !controller->viewForItem(ids.at(1)));
    tick(*controller, 5);
    EXPECT_EQ(titles(controller->items()), QStringList{QStringLiteral("keep")});
    EXPECT_EQ(controller->entryViews().size(), 1);
}

} // namespace

namespace {

TEST_F(TickerTest, FreeWindowAndDroppedAddresses)
{
    auto controller = makeController();
    EXPECT_TRUE(controller->window()->windowFlags() & Qt::FramelessWindowHint) << "docked bars have no frame";

    settings().setValue(QStringLiteral("location"), 2);
    settle();
    QWidget *window = controller->window();
    EXPECT_FALSE(window->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Corvane"));
    window->move(300, 120);
    settle();
    const QRect placed = window->geometry();
    controller->resizeWindow();
    EXPECT_EQ(window->geometry(), placed) << "the free window stays where the user put it";

    // Only a web feed address is subscribed to; anything else is refused.
    const QStringList refused{QString(), QStringLiteral("javascript:alert(1)"), QStringLiteral("file:///etc/passwd"),
                              QStringLiteral("not an address at all"), QString(1 << 20, u'a')};
    for (const QString &text : refused)
        EXPECT_FALSE(controller->addDroppedFeed(text)) << text.left(40).toStdString();
    EXPECT_TRUE(controller->addDroppedFeed(QStringLiteral("http://dropped.example/rss")));
    settle();
    bool found = false;
    for (Datasource *source : m_engine->datasourcesForMain())
        found = found || source->url() == u"http://dropped.example/rss";
    EXPECT_TRUE(found);
}

} // namespace
