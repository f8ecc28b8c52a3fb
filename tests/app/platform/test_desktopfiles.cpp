#include "platform/autostart.h"
#include "platform/desktopentry.h"
#include "platform/schemehandler.h"

#include "testfiles.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace corvane::desktop;
using namespace Qt::Literals::StringLiterals;

namespace {

// Points the XDG folders at a temporary tree for one test.
class DesktopFilesTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_root.isValid());
        for (const char *name : {"XDG_DATA_HOME", "XDG_DATA_DIRS", "XDG_CONFIG_HOME", "XDG_CONFIG_DIRS"})
            m_saved.append({name, qgetenv(name)});
        qputenv("XDG_DATA_HOME", path(u"user"_s).toUtf8());
        qputenv("XDG_DATA_DIRS", path(u"system"_s).toUtf8());
        qputenv("XDG_CONFIG_HOME", path(u"config"_s).toUtf8());
        qputenv("XDG_CONFIG_DIRS", path(u"sysconfig"_s).toUtf8());
    }
    void TearDown() override
    {
        for (const auto &[name, value] : m_saved)
            value.isNull() ? qunsetenv(name) : qputenv(name, value);
    }

    QString path(const QString &relative) const { return QDir(m_root.path()).filePath(relative); }

    void writeDesktopFile(const QString &relative, const QByteArray &text) const
    {
        corvane::test::writeFile(path(relative), text);
    }

    QTemporaryDir m_root;
    QList<std::pair<const char *, QByteArray>> m_saved;
};

TEST_F(DesktopFilesTest, ListsTheFeedHandlersAndSetsTheDefault)
{
    // xdg-mime honours a default only when the program of its Exec line exists.
    const QByteArray corvane = desktopEntryText({{u"Type"_s, u"Application"_s}, {u"Name"_s, u"Corvane"_s},
                                                  {u"MimeType"_s, u"x-scheme-handler/feed;"_s}, {u"Exec"_s, u"/bin/sh %u"_s}});
    writeDesktopFile(u"system/applications/org.corvane.Corvane.desktop"_s, corvane);
    writeDesktopFile(u"system/applications/other.desktop"_s,
                     "# a reader\n[Desktop Entry]\nName=Other Reader\nMimeType=text/html; x-scheme-handler/feed ;\n");
    writeDesktopFile(u"system/applications/kde/sub.desktop"_s,
                     "[Desktop Entry]\nName=Sub\\sReader\nMimeType=x-scheme-handler/feed\n");
    writeDesktopFile(u"system/applications/browser.desktop"_s, "[Desktop Entry]\nName=Browser\nMimeType=x-scheme-handler/http;\n");
    // The user's copy hides the system's: here it no longer handles feeds.
    writeDesktopFile(u"user/applications/other.desktop"_s, "[Desktop Entry]\nName=Other Reader\nMimeType=text/html;\n");
    writeDesktopFile(u"system/applications/gone.desktop"_s, "[Desktop Entry]\nName=Gone\nHidden=true\nMimeType=x-scheme-handler/feed;\n");
    writeDesktopFile(u"system/applications/group.desktop"_s,
                     "[Desktop Action x]\nMimeType=x-scheme-handler/feed;\n[Desktop Entry]\nName=Group\n");

    const auto handlers = schemehandler::handlers(QStringLiteral("feed"));
    ASSERT_EQ(handlers.size(), 2);
    EXPECT_EQ(handlers[0].desktopId, QStringLiteral("org.corvane.Corvane.desktop"));
    EXPECT_EQ(handlers[0].name, QStringLiteral("Corvane"));
    EXPECT_EQ(handlers[1].desktopId, QStringLiteral("kde-sub.desktop"));
    EXPECT_EQ(handlers[1].name, QStringLiteral("Sub Reader"));

    if (QStandardPaths::findExecutable(QStringLiteral("xdg-mime")).isEmpty())
        GTEST_SKIP() << "xdg-mime is not installed (scripts/setup.sh installs xdg-utils)";
    EXPECT_TRUE(schemehandler::setDefaultHandler(schemehandler::ownDesktopId(), QStringLiteral("feed")));
    EXPECT_EQ(schemehandler::defaultHandler(QStringLiteral("feed")), schemehandler::ownDesktopId());
    EXPECT_TRUE(QFile::exists(path(u"config/mimeapps.list"_s)));
    EXPECT_FALSE(schemehandler::setDefaultHandler(QStringLiteral("not a desktop id"), QStringLiteral("feed")));
}

TEST_F(DesktopFilesTest, AutostartEntryStartsHiddenAndCanBeRemoved)
{
    EXPECT_FALSE(autostart::isEnabled());
    ASSERT_TRUE(autostart::setEnabled(true));
    EXPECT_TRUE(autostart::isEnabled());
    const DesktopEntry entry = DesktopEntry::read(path(u"config/autostart/org.corvane.Corvane.desktop"_s));
    EXPECT_TRUE(entry.value(u"Exec"_s).endsWith(QLatin1String(" --autostart"))) << entry.value(u"Exec"_s).toStdString();
    EXPECT_EQ(entry.value(u"Type"_s), QStringLiteral("Application"));

    // Switched off by the desktop's own settings.
    writeDesktopFile(u"config/autostart/org.corvane.Corvane.desktop"_s,
                     "[Desktop Entry]\nExec=corvane --autostart\nX-GNOME-Autostart-enabled=false\n");
    EXPECT_FALSE(autostart::isEnabled());
    ASSERT_TRUE(autostart::setEnabled(false));
    EXPECT_FALSE(QFile::exists(path(u"config/autostart/org.corvane.Corvane.desktop"_s)));
    EXPECT_TRUE(autostart::setEnabled(false));
}

TEST(DesktopEntryText, QuotesExecArgumentsThatNeedIt)
{
    EXPECT_EQ(quotedExecArgument(u"/usr/bin/corvane"_s), QStringLiteral("/usr/bin/corvane"));
    EXPECT_EQ(quotedExecArgument(u"/opt/my apps/corvane"_s), QStringLiteral("\"/opt/my apps/corvane\""));
    EXPECT_EQ(quotedExecArgument(u"/a/$HOME\"`%"_s), QStringLiteral("\"/a/\\$HOME\\\"\\`%%\""));
    // The string-level escape doubles backslashes again, and parsing undoes it.
    const QByteArray text = desktopEntryText({{u"Exec"_s, quotedExecArgument(u"/a\\b c"_s)}});
    EXPECT_EQ(DesktopEntry::parse(text).value(u"Exec"_s), QStringLiteral("\"/a\\\\b c\""));
}

} // namespace
