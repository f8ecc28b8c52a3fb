#include "sync/cloudfolder.h"

#include "base/settings.h"

#include "testfiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

using corvane::Settings;
using corvane::sync::CloudFolder;

namespace {

class CloudFolderTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_root.isValid());
        Settings::shared().setValue(QStringLiteral("CloudContainerPath"), m_root.path());
    }
    void TearDown() override { Settings::shared().removeValue(QStringLiteral("CloudContainerPath")); }

    QTemporaryDir m_root;
};

TEST_F(CloudFolderTest, WritesWholeFilesAndListsOnlyWhatReadersMayTake)
{
    const CloudFolder folder(QStringLiteral("keyvalue"));
    const auto dir = folder.directory();
    ASSERT_TRUE(dir);
    EXPECT_EQ(*dir, QDir(m_root.path()).filePath(QStringLiteral("keyvalue")));

    QString error;
    ASSERT_TRUE(folder.write(QStringLiteral("machine--1"), "first", &error)) << error.toStdString();
    // Files the sync engines and other programs leave behind are not ours to read.
    for (const char *name : {".hidden", ".syncthing.machine--2.tmp", "machine--3.sync-conflict-20260101-120000-ABC",
                             "machine--4 (conflicted copy 2026-01-01)", "machine--5.part", "machine--6~"})
        corvane::test::writeFile(QDir(*dir).filePath(QLatin1String(name)), "junk");
    ASSERT_EQ(::symlink("/etc/passwd", QFile::encodeName(QDir(*dir).filePath(QStringLiteral("machine--link"))).constData()), 0);
    QDir(*dir).mkdir(QStringLiteral("machine--dir"));

    const auto files = folder.files();
    ASSERT_EQ(files.size(), 1);
    EXPECT_EQ(files[0].name, QStringLiteral("machine--1"));
    EXPECT_EQ(folder.read(files[0].path), QByteArray("first"));
    // No temporary file of the write is left.
    EXPECT_FALSE(QDir(*dir).entryList(QDir::Files | QDir::Hidden).join(QLatin1Char(' ')).contains(QLatin1String("machine--1.")));

    // A link is never followed, a path outside the folder never read, a bad name never written.
    EXPECT_FALSE(folder.read(QDir(*dir).filePath(QStringLiteral("machine--link"))));
    EXPECT_FALSE(folder.read(QDir(*dir).filePath(QStringLiteral("../keyvalue/../../etc/passwd"))));
    EXPECT_FALSE(folder.write(QStringLiteral("../escape"), "x"));
    EXPECT_FALSE(folder.write(QStringLiteral(".hidden-name"), "x"));

    EXPECT_TRUE(folder.remove(files[0].path));
    EXPECT_TRUE(folder.files().isEmpty());
}

TEST_F(CloudFolderTest, RefusesOversizedFilesAndReportsAnUnreachableContainer)
{
    const CloudFolder folder(QStringLiteral("changedb"));
    const QString big = QDir(*folder.directory()).filePath(QStringLiteral("machine--big"));
    {
        QFile file(big);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_TRUE(file.resize(CloudFolder::kMaxFileSize + 1));
    }
    QString error;
    EXPECT_FALSE(folder.read(big, &error));
    EXPECT_TRUE(error.contains(QLatin1String("larger"))) << error.toStdString();

    // A container path that is a plain file cannot hold folders.
    const QString plain = QDir(m_root.path()).filePath(QStringLiteral("plain"));
    corvane::test::writeFile(plain, "x");
    Settings::shared().setValue(QStringLiteral("CloudContainerPath"), plain);
    EXPECT_FALSE(folder.directory());
    EXPECT_TRUE(folder.files().isEmpty());
    EXPECT_FALSE(folder.write(QStringLiteral("machine--1"), "x", &error));
    EXPECT_TRUE(error.contains(QLatin1String("cannot reach"))) << error.toStdString();
}

} // namespace
