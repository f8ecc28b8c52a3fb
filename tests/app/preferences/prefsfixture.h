#pragma once

#include "tickerfixture.h"

#include "spinuntil.h"

#include <QDir>

namespace corvane::test {

// The engine of the bar's tests, with the desktop's folders (sound themes,
// autostart entries, application files) in a temporary folder too.
class PrefsFixture : public TickerFixture
{
protected:
    void SetUp() override
    {
        for (const char *name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_DATA_DIRS"}) {
            const QString path = m_desktop.path() + u'/' + QString::fromLatin1(name);
            QDir().mkpath(path);
            qputenv(name, path.toLocal8Bit());
        }
        TickerFixture::SetUp();
    }

    void TearDown() override
    {
        for (const char *key : {"gradientAngle", "location", "ScreenNumber", "refreshRate", "ageLimit",
                                "batteryRefreshRate", "fontColor", "markBackgroundColor", "ShortcutMarkAllRead",
                                "ShortcutMarkAllUnread", "ShortcutToggleShowHideRead", "ShortcutMarkStarred",
                                "ShortcutToggleMainWindow", "iCloudEnabled"})
            settings().removeValue(QString::fromLatin1(key));
        TickerFixture::TearDown();
    }

    QString desktopPath(const QString &relative) const { return m_desktop.path() + u'/' + relative; }

    Category *addCategory(const QString &name, double position)
    {
        auto *category = main()->insert<Category>();
        category->setName(name);
        category->setPosition(position);
        EXPECT_TRUE(main()->save());
        settle();
        return category;
    }

    Datasource *source(ObjectID id) const { return static_cast<Datasource *>(main()->existingObject(id)); }

    QTemporaryDir m_desktop;
};

} // namespace corvane::test
