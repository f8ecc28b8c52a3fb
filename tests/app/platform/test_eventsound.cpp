#include "platform/eventsound.h"

#include "testfiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace corvane::desktop;

namespace {

// Temporary XDG data and config folders for one test.
class XdgFolders
{
public:
    XdgFolders()
    {
        for (const char *name : {"XDG_DATA_HOME", "XDG_DATA_DIRS", "XDG_CONFIG_HOME"})
            m_previous.append({name, qgetenv(name)});
        qputenv("XDG_DATA_HOME", m_dir.filePath(QStringLiteral("home")).toLocal8Bit());
        qputenv("XDG_DATA_DIRS", (m_dir.filePath(QStringLiteral("system1")) + u':'
                                  + m_dir.filePath(QStringLiteral("system2"))).toLocal8Bit());
        qputenv("XDG_CONFIG_HOME", m_dir.filePath(QStringLiteral("config")).toLocal8Bit());
    }
    ~XdgFolders()
    {
        for (const auto &[name, value] : m_previous)
            qputenv(name, value);
    }
    void addFile(const QString &relative, const QByteArray &content = "x")
    {
        corvane::test::writeFile(m_dir.filePath(relative), content);
    }

private:
    QTemporaryDir m_dir;
    QList<QPair<const char *, QByteArray>> m_previous;
};

} // namespace

TEST(EventSound, ListsTheThemesEventNamesAcrossDataFolders)
{
    XdgFolders xdg;
    EXPECT_TRUE(eventsound::availableSounds().isEmpty());

    xdg.addFile(QStringLiteral("system1/sounds/freedesktop/stereo/message-new-instant.oga"));
    xdg.addFile(QStringLiteral("system1/sounds/freedesktop/stereo/bell.oga"));
    xdg.addFile(QStringLiteral("system2/sounds/freedesktop/stereo/bell.ogg"));        // duplicate name
    xdg.addFile(QStringLiteral("system2/sounds/freedesktop/stereo/complete.wav"));
    xdg.addFile(QStringLiteral("system2/sounds/freedesktop/stereo/dialog-error.disabled"));
    xdg.addFile(QStringLiteral("system2/sounds/freedesktop/index.theme"));          // not a sound
    xdg.addFile(QStringLiteral("system2/sounds/freedesktop/5.1/surround-only.oga")); // not stereo
    xdg.addFile(QStringLiteral("system2/sounds/other/stereo/other-theme.oga"));     // not chosen
    xdg.addFile(QStringLiteral("home/sounds/mine/stereo/my-sound.oga"));
    EXPECT_EQ(eventsound::availableSounds(),
              (QStringList{QStringLiteral("bell"), QStringLiteral("complete"), QStringLiteral("message-new-instant")}));

    // The user's own theme comes in beside the freedesktop one.
    xdg.addFile(QStringLiteral("config/gtk-3.0/settings.ini"), "[Settings]\ngtk-sound-theme-name=mine\n");
    EXPECT_EQ(eventsound::availableSounds(),
              (QStringList{QStringLiteral("bell"), QStringLiteral("complete"), QStringLiteral("message-new-instant"),
                           QStringLiteral("my-sound")}));

    // A theme name that leaves the sounds folder is ignored.
    xdg.addFile(QStringLiteral("config/gtk-3.0/settings.ini"), "[Settings]\ngtk-sound-theme-name=../../system2/sounds/other\n");
    EXPECT_FALSE(eventsound::availableSounds().contains(QStringLiteral("other-theme")));
}

TEST(EventSound, PlayWithoutASoundOrAudioFailsAndReturns)
{
    XdgFolders xdg;
    xdg.addFile(QStringLiteral("system1/sounds/freedesktop/stereo/bell.oga"), "not really audio");
    EXPECT_FALSE(eventsound::play(QString()));
    EXPECT_FALSE(eventsound::play(QStringLiteral("  ")));
    EXPECT_FALSE(eventsound::play(QStringLiteral("no-such-event-name")));
    // No audio device, or a file that does not decode: either way it fails;
    // a second play reuses the context.
    EXPECT_FALSE(eventsound::play(QStringLiteral("bell")));
    EXPECT_FALSE(eventsound::play(QStringLiteral("bell")));
}
