// Read-state snapshots of other machines through the change database's
// reader and into a real store. The store (a temporary folder made once per
// run) holds a few items; every input is applied twice: as it is, and with
// each record's hash pointed at one of the local items (by its low byte), so
// the stamp and state rules see matching items. Afterwards every item holds
// its starting state or one that a whole record of the input gave it for
// that item; then the starting states are put back.
#include "sync/changedbhandler.h"
#include "sync/changedbrecords.h"

#include "feeds/refresh/datasourcemanager.h"

#include "base/settings.h"
#include "store/context.h"
#include "store/dataitem.h"
#include "store/query.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QtEndian>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

using namespace corvane;
namespace changedb = corvane::sync::changedb;

namespace {

constexpr int kItems = 8;

struct Run
{
    QTemporaryDir home;
    std::unique_ptr<DatasourceManager> manager;
    std::unique_ptr<sync::ChangeDbHandler> handler;
    QList<qint64> hashes;
};
Run *g_run = nullptr;

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "fuzz_changedb: %s\n", what);
    std::abort();
}

// Every item unread with the stamp 100.
void resetItems()
{
    Context *bg = g_run->manager->contextBackground();
    bg->performBlockConfinedAndWait([bg] {
        for (DataItem *item : bg->fetchAs<DataItem>(Query(Entity::DataItem))) {
            item->setValue(DataItem::Read, false);
            item->setReadLocalStamp(100);
        }
        bg->save();
        bg->reset();
    });
}

void checkItems(const std::vector<sync::ReadStateRecord> &records)
{
    Context *bg = g_run->manager->contextBackground();
    bg->performBlockConfinedAndWait([&] {
        for (DataItem *item : bg->fetchAs<DataItem>(Query(Entity::DataItem))) {
            if (!item->isRead() && item->readLocalStamp() == 100)
                continue;
            bool given = false;
            for (const sync::ReadStateRecord &record : records)
                given = given
                        || (record.itemHash == item->itemHash() && record.read == item->isRead()
                            && record.stamp == item->readLocalStamp() && record.stamp >= 100);
            if (!given)
                fail("an item took a state no record gave it");
        }
        bg->reset();
    });
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    static int argc = 1;
    static char name[] = "fuzz_changedb";
    static char *argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);

    g_run = new Run;
    if (!g_run->home.isValid())
        fail("no temporary folder");
    qputenv("CORVANE_HOME", g_run->home.path().toLocal8Bit());
    Settings::shared().setValue(QStringLiteral("DefaultFeedsAlreadyCreated"), true);
    Settings::shared().setValue(QStringLiteral("CloudContainerPath"), g_run->home.filePath(QStringLiteral("Cloud")));
    DatasourceManager::Options options;
    options.storeDirectory = g_run->home.filePath(QStringLiteral("store"));
    options.startTimer = false;
    options.commitDelaySeconds = 0;
    options.fetches = false;
    g_run->manager = std::make_unique<DatasourceManager>(options);
    sync::ChangeDbHandler::Options handlerOptions;
    handlerOptions.idleTickSeconds = handlerOptions.writeTickSeconds = 3600;
    handlerOptions.recordsPerSave = 3; // the saves between slices get their share
    g_run->handler = std::make_unique<sync::ChangeDbHandler>(*g_run->manager, handlerOptions);

    Context *bg = g_run->manager->contextBackground();
    bg->performBlockConfinedAndWait([bg] {
        QList<DataItem *> items;
        for (int i = 0; i < kItems; ++i) {
            auto *item = bg->insert<DataItem>();
            item->setTitle(QStringLiteral("Item %1").arg(i));
            item->setLink(QStringLiteral("http://example.org/%1").arg(i));
            items.append(item);
        }
        bg->save();
        for (DataItem *item : items)
            g_run->hashes.append(item->itemHash());
        bg->reset();
    });
    resetItems();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    std::vector<sync::ReadStateRecord> records = changedb::readRecords(bytes);
    if (records.size() != size_t(size) / changedb::kRecordSize) {
        // Only records with a damaged state field are dropped.
        size_t damaged = 0;
        for (size_t at = 16; at + 8 <= size; at += changedb::kRecordSize) {
            const qint64 state = qFromLittleEndian<qint64>(data + at);
            damaged += state != 0 && state != 1;
        }
        if (records.size() + damaged != size_t(size) / changedb::kRecordSize)
            fail("records were lost");
    }

    QByteArray pointed = bytes;
    for (qsizetype at = 0; at + changedb::kRecordSize <= pointed.size(); at += changedb::kRecordSize) {
        const qint64 hash = g_run->hashes[uchar(pointed[at]) % kItems];
        qToLittleEndian<qint64>(hash, reinterpret_cast<uchar *>(pointed.data() + at));
    }
    std::vector<sync::ReadStateRecord> all = changedb::readRecords(pointed);
    all.insert(all.end(), records.begin(), records.end());

    g_run->handler->applySnapshot(bytes);
    g_run->handler->applySnapshot(pointed);
    g_run->handler->waitUntilIdle();
    checkItems(all);
    resetItems();
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    return 0;
}
