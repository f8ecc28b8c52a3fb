#include "settingsdefaults.h"

#include "commoncolor.h"
#include "settings.h"

namespace corvane {

void registerStandardDefaults(Settings &settings)
{
    // Shortcuts are stored as key sequence texts; Alt is the Option key of the
    // original key bindings.
    settings.registerDefaults({
        {QStringLiteral("ageLimit"), 30},
        {QStringLiteral("limit"), 100},
        {QStringLiteral("refreshRate"), 5},
        {QStringLiteral("fontSize"), 13},
        {QStringLiteral("itemHeight"), 86},
        {QStringLiteral("imageWidth"), 33},
        {QStringLiteral("opacity"), 0.3},
        {QStringLiteral("gradientAngle"), -1.0},
        {QStringLiteral("backgroundColor"), CommonColor{0, 0, 0, 1}.archived()},
        {QStringLiteral("fontColor"), CommonColor{1, 1, 1, 1}.archived()},
        {QStringLiteral("markFontColor"), CommonColor{1.0, 0.8, 0.4, 1.0}.archived()},
        {QStringLiteral("fontName"), QStringLiteral("Helvetica")},
        {QStringLiteral("displayImage"), true},
        {QStringLiteral("showInDock"), true},
        {QStringLiteral("enablePreview"), true},
        {QStringLiteral("receiveTimeStamp"), true},
        {QStringLiteral("scrollToTopInterval"), 120},
        {QStringLiteral("NotificationCenterLevel"), 5},
        {QStringLiteral("CheckHandlerOnStartup"), true},
        {QStringLiteral("ArrowsOnMouseOver"), false},
        {QStringLiteral("ShortcutMarkAllRead"), QStringLiteral("Alt+R")},
        {QStringLiteral("ShortcutMarkAllUnread"), QStringLiteral("Alt+U")},
        {QStringLiteral("ShortcutToggleShowHideRead"), QStringLiteral("Alt+T")},
        {QStringLiteral("ShortcutMarkStarred"), QStringLiteral("Alt+S")},
        {QStringLiteral("FolderTabsMode"), 2},
        {QStringLiteral("PreviewWindowWidth"), 340},
        {QStringLiteral("smallImage"), true},
        {QStringLiteral("GoogleItemSyncEnabled"), true},
        {QStringLiteral("GoogleItemReadSyncEnabled"), true},
        {QStringLiteral("iCloudEnabled"), true},
        // The folder shared between the user's machines; empty means "Cloud"
        // in the data folder.
        {QStringLiteral("CloudContainerPath"), QString()},
    });
}

void applyStartUpSettings(Settings &settings)
{
    settings.setValue(QStringLiteral("AppleShowScrollBars"), QStringLiteral("WhenScrolling"));
    if (!settings.hasStoredValue(QStringLiteral("firstRun")))
        settings.setValue(QStringLiteral("firstRun"), false);
}

} // namespace corvane
