#include "prefsfixture.h"

#include "preferences/appearancepreferencescontroller.h"
#include "preferences/generalpreferencescontroller.h"
#include "preferences/hotkeybackends.h"
#include "preferences/keywordsfield.h"
#include "preferences/preferencescontroller.h"
#include "preferences/rsspreferencescontroller.h"

#include "store/keywordhelper.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QGuiApplication>
#include <QLineEdit>
#include <QScreen>
#include <QSpinBox>
#include <QTest>

using namespace corvane;
using namespace corvane::test;

namespace {

class PanesTest : public PrefsFixture
{
};

TEST_F(PanesTest, PlacementMovesTheGradientAngle)
{
    desktop::AppearancePreferencesController pane(*m_bridge, settings(), nullptr);
    struct Case
    {
        double before;
        int location;
        double after;
    };
    const Case cases[] = {
        {-1, 0, -1}, {-1, 1, -1}, {-1, 2, -1}, // no gradient: stays off
        {45, 0, 0},  {45, 1, 180}, {45, 2, 270}, {0, 1, 180},
        {90, 7, 90}, // an unknown placement leaves it
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.before << " at " << c.location);
        settings().setValue(QStringLiteral("gradientAngle"), c.before);
        settle();
        EXPECT_EQ(pane.gradientBox()->isChecked(), c.before > -1);
        pane.placementChanged(c.location);
        EXPECT_EQ(settings().integer(QStringLiteral("location")), c.location);
        EXPECT_EQ(settings().real(QStringLiteral("gradientAngle")), c.after);
    }
    // The box switches the gradient on at the placement's angle, and off.
    settings().setValue(QStringLiteral("gradientAngle"), -1.0);
    settings().setValue(QStringLiteral("location"), 1);
    settle();
    pane.gradientBox()->setChecked(true);
    EXPECT_EQ(settings().real(QStringLiteral("gradientAngle")), 180.0);
    pane.gradientBox()->setChecked(false);
    EXPECT_EQ(settings().real(QStringLiteral("gradientAngle")), -1.0);
}

TEST_F(PanesTest, ScreensFontsAndSizes)
{
    std::unique_ptr<desktop::MainWindowController> bar = makeBar();
    desktop::AppearancePreferencesController pane(*m_bridge, settings(), bar.get());
    const QList<QScreen *> screens = QGuiApplication::screens();
    ASSERT_EQ(pane.screenList()->count(), screens.size());
    QScreen *screen = screens.first();
    const QString product = QString(screen->manufacturer() + u' ' + screen->model()).trimmed();
    EXPECT_EQ(pane.screenList()->itemText(0),
              QStringLiteral("1. %1 (%2x%3)")
                  .arg(product.isEmpty() ? QStringLiteral("Unknown") : product)
                  .arg(screen->geometry().width())
                  .arg(screen->geometry().height()));
    settings().setValue(QStringLiteral("ScreenNumber"), 5);
    pane.chooseScreen(0);
    EXPECT_EQ(settings().integer(QStringLiteral("ScreenNumber")), 0);
    EXPECT_EQ(bar->window()->screen(), screen);

    EXPECT_EQ(pane.sizeField(QStringLiteral("fontSize"))->suffix(), QStringLiteral(" pt"));
    EXPECT_EQ(pane.sizeField(QStringLiteral("itemHeight"))->suffix(), QStringLiteral(" px"));
    EXPECT_EQ(pane.sizeField(QStringLiteral("imageWidth"))->suffix(), QStringLiteral(" px"));
    pane.sizeField(QStringLiteral("itemHeight"))->setValue(120);
    EXPECT_EQ(settings().integer(QStringLiteral("itemHeight")), 120);
    EXPECT_EQ(pane.fontList()->currentText(), settings().string(QStringLiteral("fontName")));
}

TEST_F(PanesTest, GeneralFieldsStoreAsTheUserTypes)
{
    // A sound theme of the test's own.
    const QString stereo = desktopPath(QStringLiteral("XDG_DATA_DIRS/sounds/freedesktop/stereo"));
    ASSERT_TRUE(QDir().mkpath(stereo));
    for (const char *name : {"bell.oga", "message-new-instant.oga", "complete.disabled"})
        QFile(stereo + u'/' + QString::fromLatin1(name)).open(QIODevice::WriteOnly);
    QStringList played;
    desktop::GeneralPreferencesController::Options options;
    options.playSound = [&](const QString &name) {
        played.append(name);
        return true;
    };
    desktop::GeneralPreferencesController pane(*m_engine, *m_bridge, settings(), options);
    QStringList sounds;
    for (int i = 1; i < pane.soundList()->count(); ++i)
        sounds.append(pane.soundList()->itemText(i));
    EXPECT_EQ(sounds, (QStringList{QStringLiteral("bell"), QStringLiteral("message-new-instant")}));
    pane.chooseSound(2);
    EXPECT_EQ(settings().string(QStringLiteral("soundName")), QStringLiteral("message-new-instant"));
    EXPECT_EQ(played, QStringList{QStringLiteral("message-new-instant")});

    pane.limitField()->setFocus();
    pane.limitField()->selectAll();
    QTest::keyClicks(pane.limitField(), QStringLiteral("4"));
    EXPECT_EQ(settings().integer(QStringLiteral("limit")), 4);
    QTest::keyClicks(pane.limitField(), QStringLiteral("2"));
    EXPECT_EQ(settings().integer(QStringLiteral("limit")), 42);
    QTest::keyClicks(pane.limitField(), QStringLiteral("x"));
    EXPECT_EQ(pane.limitField()->text(), QStringLiteral("42"));

    EXPECT_EQ(pane.batteryRefreshField()->placeholderText(), QStringLiteral("5"));
    settings().setValue(QStringLiteral("refreshRate"), 12);
    settle();
    EXPECT_EQ(pane.batteryRefreshField()->placeholderText(), QStringLiteral("12"));

    pane.cloudSyncBox()->setChecked(false);
    EXPECT_FALSE(settings().boolean(QStringLiteral("iCloudEnabled")));

    // No login entry in the test's config folder; switching it on writes one there.
    EXPECT_FALSE(pane.openAtLoginBox()->isChecked());
    pane.openAtLoginBox()->setChecked(true);
    EXPECT_TRUE(pane.openAtLoginBox()->isChecked());
    EXPECT_TRUE(QFile::exists(desktopPath(QStringLiteral("XDG_CONFIG_HOME/autostart"))));
    pane.openAtLoginBox()->setChecked(false);
    EXPECT_FALSE(pane.openAtLoginBox()->isChecked());
}

TEST_F(PanesTest, KeywordsOneALineAndFromTheCloud)
{
    desktop::KeywordsField field(main());
    settle();
    EXPECT_EQ(field.toPlainText(), field.getKeywords().join(u'\n'));
    field.setPlainText(QStringLiteral("apple\n\n   \n  pie  \napple\n"));
    field.keywordsChanged();
    settle();
    EXPECT_EQ(field.getKeywords(), (QStringList{QStringLiteral("apple"), QStringLiteral("pie")}));

    // Changed elsewhere and announced from the cloud: shown after a turn of the main queue.
    ASSERT_TRUE(KeywordHelper::insertKeywords({QStringLiteral("cloud")}, main(), false));
    NotificationCenter::defaultCenter().post(kKeywordChangeFromCloudNotification);
    EXPECT_NE(field.toPlainText(), QStringLiteral("cloud"));
    settle();
    EXPECT_EQ(field.toPlainText(), QStringLiteral("cloud"));
}

TEST_F(PanesTest, StarsAreDeletedAndTheWindowOpensOnAdd)
{
    const ObjectID feed = addSource(QStringLiteral("http://example.org/rss"));
    const QList<ObjectID> items = storeItems(feed, {{QStringLiteral("starred"), 0, false, true}});
    desktop::PreferencesController::Options options;
    options.playSound = [](const QString &) { return false; };
    // X grabs, which do nothing without an X display: nothing reaches the session's shortcut service.
    options.hotKeys = new desktop::X11HotKeys;
    desktop::PreferencesController preferences(*m_engine, *m_bridge, settings(), nullptr, options);
    preferences.general()->deleteStarred();
    // Unstarred on the background queue, saved by the deferred commit, merged here.
    EXPECT_TRUE(spinUntil([&] {
        m_engine->stores().waitForPendingCommit();
        settle();
        return !static_cast<DataItem *>(main()->existingObject(items[0]))->isStarred();
    }));

    preferences.showPane(desktop::PreferencesController::GeneralPane);
    preferences.addFeed(QStringLiteral("http://example.org/other"));
    EXPECT_TRUE(preferences.window()->isVisible());
    EXPECT_EQ(preferences.currentPane(), desktop::PreferencesController::FeedsPane);
    EXPECT_TRUE(preferences.feeds()->addFeedSheet()->isVisible());
    EXPECT_EQ(preferences.feeds()->addFeedSheet()->field()->text(), QStringLiteral("http://example.org/other"));
}

} // namespace
