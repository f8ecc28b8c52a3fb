#include "base/commoncolor.h"
#include "base/settings.h"
#include "base/settingsdefaults.h"

#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

using namespace corvane;

namespace {

class SettingsTest : public ::testing::Test
{
protected:
    QString path() const { return m_dir.filePath(QStringLiteral("Corvane.conf")); }
    QTemporaryDir m_dir;
};

} // namespace

TEST_F(SettingsTest, EveryKeyReadsItsDefaultWhenNothingIsStored)
{
    Settings settings(path());
    registerStandardDefaults(settings);
    struct Row { const char *key; QVariant expected; };
    const Row rows[] = {
        {"ageLimit", 30}, {"limit", 100}, {"refreshRate", 5}, {"fontSize", 13}, {"itemHeight", 86},
        {"imageWidth", 33}, {"opacity", 0.3}, {"gradientAngle", -1.0},
        {"fontName", QStringLiteral("Helvetica")}, {"displayImage", true}, {"showInDock", true},
        {"enablePreview", true}, {"receiveTimeStamp", true}, {"scrollToTopInterval", 120},
        {"NotificationCenterLevel", 5}, {"CheckHandlerOnStartup", true}, {"ArrowsOnMouseOver", false},
        {"ShortcutMarkAllRead", QStringLiteral("Alt+R")}, {"ShortcutMarkAllUnread", QStringLiteral("Alt+U")},
        {"ShortcutToggleShowHideRead", QStringLiteral("Alt+T")}, {"ShortcutMarkStarred", QStringLiteral("Alt+S")},
        {"FolderTabsMode", 2}, {"PreviewWindowWidth", 340}, {"smallImage", true},
        {"GoogleItemSyncEnabled", true}, {"GoogleItemReadSyncEnabled", true}, {"iCloudEnabled", true},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.key);
        EXPECT_EQ(settings.value(QString::fromLatin1(row.key)), row.expected);
        EXPECT_FALSE(settings.hasStoredValue(QString::fromLatin1(row.key)));
    }
    EXPECT_EQ(settings.color(QStringLiteral("backgroundColor")), (CommonColor{0, 0, 0, 1}));
    EXPECT_EQ(settings.color(QStringLiteral("fontColor")), (CommonColor{1, 1, 1, 1}));
    EXPECT_EQ(settings.color(QStringLiteral("markFontColor")), (CommonColor{1.0, 0.8, 0.4, 1.0}));
    // Defaults are never written to disk.
    EXPECT_FALSE(QFile::exists(path()));
}

TEST_F(SettingsTest, StoredValuesWinAndPersistAcrossStarts)
{
    {
        Settings settings(path());
        registerStandardDefaults(settings);
        applyStartUpSettings(settings);
        settings.setValue(QStringLiteral("limit"), 7);
        settings.setValue(QStringLiteral("enablePreview"), false);
        settings.setValue(QStringLiteral("opacity"), 0.55);
        settings.setValue(QStringLiteral("LamportTimestamp"), qint64(1) << 40);
        settings.setColor(QStringLiteral("fontColor"), CommonColor{0.25, 0.5, 0.75, 1});
        settings.setValue(QStringLiteral("firstRun"), true);
    }
    Settings settings(path());
    registerStandardDefaults(settings);
    applyStartUpSettings(settings);
    EXPECT_EQ(settings.integer(QStringLiteral("limit")), 7);
    EXPECT_FALSE(settings.boolean(QStringLiteral("enablePreview")));
    EXPECT_DOUBLE_EQ(settings.real(QStringLiteral("opacity")), 0.55);
    EXPECT_EQ(settings.integer(QStringLiteral("LamportTimestamp")), qint64(1) << 40);
    EXPECT_EQ(settings.color(QStringLiteral("fontColor")), (CommonColor{0.25, 0.5, 0.75, 1}));
    EXPECT_EQ(settings.integer(QStringLiteral("ageLimit")), 30);
    // A stored "firstRun" survives the start-up writes; the scroll-bar value is written each start.
    EXPECT_TRUE(settings.boolean(QStringLiteral("firstRun")));
    EXPECT_EQ(settings.string(QStringLiteral("AppleShowScrollBars")), QStringLiteral("WhenScrolling"));

    settings.removeValue(QStringLiteral("limit"));
    EXPECT_EQ(settings.integer(QStringLiteral("limit")), 100);
    Settings reread(path());
    EXPECT_FALSE(reread.hasStoredValue(QStringLiteral("limit")));
}

TEST_F(SettingsTest, FirstStartStoresFirstRunAsFalse)
{
    Settings settings(path());
    applyStartUpSettings(settings);
    ASSERT_TRUE(settings.hasStoredValue(QStringLiteral("firstRun")));
    EXPECT_FALSE(settings.boolean(QStringLiteral("firstRun")));
}

TEST_F(SettingsTest, ObserversSeeRealChangesOnly)
{
    Settings settings(path());
    registerStandardDefaults(settings);
    QVariantList seen;
    const auto token = settings.observe(QStringLiteral("limit"), [&](const QVariant &v) { seen.append(v); });
    settings.setValue(QStringLiteral("limit"), 50);
    settings.setValue(QStringLiteral("limit"), 50);          // same value: no event
    settings.setValue(QStringLiteral("ageLimit"), 3);        // another key: no event
    settings.removeValue(QStringLiteral("limit"));           // back to the default 100
    settings.setValue(QStringLiteral("limit"), 100);         // equals the default already in effect
    settings.removeObserver(token);
    settings.setValue(QStringLiteral("limit"), 1);
    EXPECT_EQ(seen, (QVariantList{50, 100}));
}

TEST_F(SettingsTest, BrokenColourArchivesReadAsNoColour)
{
    Settings settings(path());
    settings.setValue(QStringLiteral("fontColor"), QByteArray("short"));
    EXPECT_FALSE(settings.color(QStringLiteral("fontColor")));
    settings.setValue(QStringLiteral("fontColor"), CommonColor{std::nan(""), 0, 0, 1}.archived());
    EXPECT_FALSE(settings.color(QStringLiteral("fontColor")));
    settings.setValue(QStringLiteral("fontColor"), QStringLiteral("red"));
    EXPECT_FALSE(settings.color(QStringLiteral("fontColor")));
}

TEST_F(SettingsTest, ConcurrentWritersLoseNothing)
{
    Settings settings(path());
    constexpr int kThreads = 4, kKeys = 50;
    std::vector<std::unique_ptr<QThread>> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back(QThread::create([&settings, t] {
            for (int k = 0; k < kKeys; ++k)
                settings.setValue(QStringLiteral("k%1_%2").arg(t).arg(k), k);
        }));
        threads.back()->start();
    }
    for (auto &thread : threads)
        thread->wait();
    Settings reread(path());
    for (int t = 0; t < kThreads; ++t)
        for (int k = 0; k < kKeys; ++k)
            ASSERT_EQ(reread.integer(QStringLiteral("k%1_%2").arg(t).arg(k)), k);
}
