#include "sync/keyvaluefile.h"
#include "sync/keyvaluestore.h"

#include "base/machineidentity.h"
#include "base/settings.h"

#include "logcapture.h"
#include "testfiles.h"
#include "spinuntil.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <utime.h>

using namespace corvane;
using namespace corvane::sync;
using corvane::test::spinUntil;

namespace {

KeyValueRecord stamped(qint64 clock, const QString &name = {})
{
    KeyValueRecord result{{QStringLiteral("clock"), clock}};
    if (!name.isEmpty())
        result.insert(QStringLiteral("name"), name);
    return result;
}

class KeyValueStoreTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_root.isValid());
        Settings::shared().setValue(QStringLiteral("CloudContainerPath"), m_root.path());
        m_dir = QDir(m_root.path()).filePath(QStringLiteral("keyvalue"));
        QDir().mkpath(m_dir);
    }
    void TearDown() override
    {
        m_store.reset();
        Settings::shared().removeValue(QStringLiteral("CloudContainerPath"));
    }

    KeyValueStore &store()
    {
        if (!m_store) {
            KeyValueStore::Timing timing;
            timing.tickInterval = 0.02;
            timing.writeInterval = 0.05;
            timing.scanEvery = 1;
            m_store = std::make_unique<KeyValueStore>(timing);
        }
        return *m_store;
    }

    void plantBytes(const QString &name, const QByteArray &bytes) { test::writeFile(QDir(m_dir).filePath(name), bytes); }
    void plant(const QString &name, const KeyValueDictionary &dictionary) { plantBytes(name, writeKeyValueFile(dictionary)); }

    QStringList ownFiles() const
    {
        // Newest first.
        return QDir(m_dir).entryList({thisMachine() + QStringLiteral("--*")}, QDir::Files, QDir::Time);
    }

    std::optional<KeyValueRecord> held(const QString &key) { return store().dictionaryForKey(key); }

    test::LogCapture m_log;
    QTemporaryDir m_root;
    QString m_dir;
    std::unique_ptr<KeyValueStore> m_store;
};

} // namespace

TEST_F(KeyValueStoreTest, MergesOtherMachinesByStampAndNeverItsOwnFiles)
{
    plant(QStringLiteral("MACHINE-A--1"), {{QStringLiteral("k.low"), stamped(5, QStringLiteral("a"))},
                                           {QStringLiteral("k.tie"), stamped(7, QStringLiteral("a"))}});
    plant(QStringLiteral("MACHINE-B--1"), {{QStringLiteral("k.low"), stamped(4, QStringLiteral("b"))},
                                           {QStringLiteral("k.tie"), stamped(7, QStringLiteral("b"))},
                                           {QStringLiteral("k.new"), stamped(1)}});
    plant(thisMachine() + QStringLiteral("--old"), {{QStringLiteral("k.mine"), stamped(99)}});
    ASSERT_TRUE(store().synchronize());
    ASSERT_TRUE(spinUntil([&] { return store().status().filesApplied == 2; }));
    store().drain();

    EXPECT_EQ(held(QStringLiteral("k.low"))->value(QStringLiteral("name")).toString(), u"a") << "a lower stamp never replaces";
    // Two machines that stamped a key alike settle on the same record,
    // whichever file they read first.
    EXPECT_EQ(held(QStringLiteral("k.tie"))->value(QStringLiteral("name")).toString(), u"b");
    EXPECT_TRUE(held(QStringLiteral("k.new")));
    EXPECT_FALSE(held(QStringLiteral("k.mine"))) << "this machine's own files are never merged";
    const KeyValueStore::Status status = store().status();
    EXPECT_TRUE(status.reachable);
    EXPECT_EQ(status.filesSeen, 2);
}

TEST_F(KeyValueStoreTest, ReadsAFileOnceAndGoesOnPastBadFiles)
{
    plantBytes(QStringLiteral("BROKEN--1"), QByteArray("bplist00 but nothing after"));
    plantBytes(QStringLiteral("EMPTY--1"), QByteArray());
    plant(QStringLiteral("GOOD--1"), {{QStringLiteral("k"), stamped(5)}});
    ASSERT_TRUE(store().synchronize());
    ASSERT_TRUE(spinUntil([&] { return store().status().filesApplied == 1; }));

    // A local record below the file's stamp, forced in: the file, read once
    // already, is not read again to undo it.
    store().setDictionaryIf([](const auto &) { return std::optional<KeyValueRecord>(stamped(3)); },
                            QStringLiteral("k"));
    store().updateQuery();
    store().drain();
    EXPECT_EQ(record::clock(*held(QStringLiteral("k"))), 3);
    EXPECT_EQ(store().status().filesSeen, 3);
    EXPECT_EQ(store().status().filesApplied, 1);
    EXPECT_EQ(m_log.lines().filter(QStringLiteral("skipped")).size(), 2) << qPrintable(m_log.lines().join(u'\n'));
}

TEST_F(KeyValueStoreTest, WritesTheWholeDictionaryAndRemovesItsOwnOldFiles)
{
    const QString old = QDir(m_dir).filePath(thisMachine() + QStringLiteral("--stale"));
    plant(thisMachine() + QStringLiteral("--stale"), {});
    const utimbuf longAgo{1000, 1000};
    ASSERT_EQ(::utime(QFile::encodeName(old).constData(), &longAgo), 0);
    plant(QStringLiteral("OTHER--1"), {{QStringLiteral("theirs"), stamped(2)}});
    ASSERT_TRUE(store().synchronize());
    ASSERT_TRUE(spinUntil([&] { return store().status().filesApplied == 1; }));

    store().setDictionaryIf([](const auto &) { return std::optional<KeyValueRecord>(stamped(1)); },
                            QStringLiteral("mine"));
    const auto newestOwn = [&] {
        const QStringList files = ownFiles();
        QFile newest(files.isEmpty() ? QString() : QDir(m_dir).filePath(files.first()));
        return newest.open(QIODevice::ReadOnly) ? readKeyValueFile(newest.readAll()) : KeyValueFileContent{};
    };
    // This machine's old files go once a new one is written.
    ASSERT_TRUE(spinUntil([&] { return newestOwn().dictionary.contains(QStringLiteral("mine")) && !QFile::exists(old); }));
    store().drain();
    const KeyValueFileContent content = newestOwn();
    EXPECT_TRUE(content.dictionary.contains(QStringLiteral("theirs"))) << "a file holds everything the writer knew";

    // A decision that keeps what is held changes nothing and writes nothing.
    const int before = int(ownFiles().size());
    const QDateTime lastWrite = store().status().lastWrite;
    store().setDictionaryIf([](const auto &) { return std::optional<KeyValueRecord>(); }, QStringLiteral("mine"));
    store().drain();
    EXPECT_EQ(store().status().lastWrite, lastWrite);
    EXPECT_EQ(int(ownFiles().size()), before);
}

TEST_F(KeyValueStoreTest, UnreachableFolderFailsAndLogsEachTime)
{
    const QString blocker = QDir(m_root.path()).filePath(QStringLiteral("plain-file"));
    test::writeFile(blocker, {});
    Settings::shared().setValue(QStringLiteral("CloudContainerPath"), blocker);
    EXPECT_FALSE(store().synchronize());
    EXPECT_FALSE(store().synchronize());
    EXPECT_FALSE(store().status().reachable);
    EXPECT_EQ(m_log.lines().count(QStringLiteral("can't reach key-value store")), 2);
}
