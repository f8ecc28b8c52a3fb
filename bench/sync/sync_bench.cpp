// Sync figures over a store of 500 subscriptions and 100,000 items: writing
// this machine's read-state snapshot, applying another machine's snapshot
// that changes every item (time and growth of resident memory), merging a
// key-value dictionary of 10,000 newer records, and the CPU and file writes
// of an idle minute with sync on.
#include "barbenchsupport.h"
#include "memoryprobe.h"

#include "sync/changedbhandler.h"
#include "sync/changedbrecords.h"
#include "sync/keyvalueentries.h"
#include "sync/keyvaluemerge.h"

#include "base/clock.h"
#include "store/context.h"
#include "store/dataitem.h"
#include "store/datasource.h"
#include "store/query.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

using namespace corvane;
using corvane::sync::ChangeDbHandler;

namespace {

constexpr int kSources = 500;
constexpr int kItems = 100000;
constexpr int kBatch = 1000;

// Read and write calls of this process so far (files, but also the event
// descriptors that wake threads) and the bytes it made the storage write
// (/proc/self/io).
struct IoCounters
{
    qint64 readCalls = 0;
    qint64 writeCalls = 0;
    qint64 storageWrittenBytes = 0;

    static IoCounters now()
    {
        IoCounters counters;
        QFile io(QStringLiteral("/proc/self/io"));
        if (!io.open(QIODevice::ReadOnly))
            return counters;
        for (const QByteArray &line : io.readAll().split('\n')) {
            const qint64 value = line.mid(line.indexOf(':') + 1).trimmed().toLongLong();
            if (line.startsWith("syscr:"))
                counters.readCalls = value;
            else if (line.startsWith("syscw:"))
                counters.writeCalls = value;
            else if (line.startsWith("write_bytes:"))
                counters.storageWrittenBytes = value;
        }
        return counters;
    }
};

struct Fixture
{
    QTemporaryDir home;
    std::unique_ptr<DatasourceManager> manager;
    std::unique_ptr<ChangeDbHandler> handler;
    QList<qint64> hashes;

    Fixture()
    {
        Settings &settings = bench::useHome(home.path());
        settings.setValue(QStringLiteral("CloudContainerPath"), home.filePath(QStringLiteral("Cloud")));
        DatasourceManager::Options options = bench::quietEngine();
        options.storeDirectory = home.filePath(QStringLiteral("store"));
        manager = std::make_unique<DatasourceManager>(options);
        fill();
        // The timers as they run in the program.
        handler = std::make_unique<ChangeDbHandler>(*manager);
        handler->setEnabled(true);
        handler->waitUntilIdle();
        handler->writeIfChanged();
    }

    void fill()
    {
        Context *bg = manager->contextBackground();
        bg->performBlockConfinedAndWait([&] {
            QList<Datasource *> sources;
            for (int s = 0; s < kSources; ++s) {
                auto *source = bg->insert<RSSDatasource>();
                source->setUrl(QStringLiteral("http://feed%1.example/rss").arg(s));
                sources.append(source);
            }
            bg->save();
            QList<ObjectID> ids;
            for (Datasource *source : sources)
                ids.append(source->objectID());
            for (int done = 0; done < kItems;) {
                QList<DataItem *> batch;
                for (int i = 0; i < kBatch && done < kItems; ++i, ++done) {
                    auto *item = bg->insert<DataItem>();
                    item->setDatasource(static_cast<Datasource *>(bg->existingObject(ids[done % kSources])));
                    item->setTitle(QStringLiteral("Item %1 of a benchmark feed").arg(done));
                    item->setLink(QStringLiteral("http://feed.example/items/%1").arg(done));
                    item->setGuid(QStringLiteral("guid-%1").arg(done));
                    item->setItemDescription(QStringLiteral("<p>Some text of item %1, as feeds have it.</p>").arg(done));
                    batch.append(item);
                }
                bg->save();
                for (DataItem *item : batch)
                    hashes.append(item->itemHash());
                bg->reset();
            }
        });
    }

    // Another machine's snapshot giving every item `read` with stamps above
    // every local one.
    QByteArray otherMachine(bool read)
    {
        const qint64 base = Clock::sharedClock().current() + 1;
        QByteArray bytes;
        bytes.reserve(hashes.size() * sync::changedb::kRecordSize);
        for (qsizetype i = 0; i < hashes.size(); ++i)
            sync::changedb::appendRecord(bytes, {hashes[i], base + i, read});
        return bytes;
    }

    // One local read state changes, as a click in the bar does.
    void toggleOneItem()
    {
        Context *bg = manager->contextBackground();
        bg->performBlockConfinedAndWait([&] {
            const QList<DataItem *> items = bg->fetchAs<DataItem>(
                Query(Entity::DataItem, Predicate::equal(QStringLiteral("itemHash"), hashes.first())));
            items.first()->setRead(!items.first()->isRead());
            bg->save();
        });
    }
};

Fixture &shared()
{
    static Fixture fixture;
    return fixture;
}

} // namespace

static void BM_WriteSnapshot(benchmark::State &state)
{
    Fixture &fixture = shared();
    qint64 bytes = 0;
    double cpu = 0;
    for (auto _ : state) {
        state.PauseTiming();
        fixture.toggleOneItem();
        state.ResumeTiming();
        const double cpuBefore = bench::cpuSeconds();
        if (!fixture.handler->writeIfChanged())
            state.SkipWithError("no snapshot was written");
        cpu = bench::cpuSeconds() - cpuBefore;
    }
    state.counters["cpuSeconds"] = cpu;
    bytes = fixture.handler->snapshot().size();
    state.counters["items"] = double(bytes / sync::changedb::kRecordSize);
    state.counters["fileMB"] = double(bytes) / 1e6;
}
BENCHMARK(BM_WriteSnapshot)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5)->UseRealTime();

// Each run flips all 100,000 items (read, then unread, ...), the most a
// snapshot can change.
static void BM_ApplySnapshotChangingEveryItem(benchmark::State &state)
{
    Fixture &fixture = shared();
    static bool read = true;
    qint64 growthKb = 0;
    double cpu = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const QByteArray bytes = fixture.otherMachine(read);
        read = !read;
        const test::PeakGrowth growth;
        const double cpuBefore = bench::cpuSeconds();
        state.ResumeTiming();
        fixture.handler->applySnapshot(bytes);
        fixture.handler->waitUntilIdle();
        state.PauseTiming();
        cpu = bench::cpuSeconds() - cpuBefore;
        growthKb = std::max(growthKb, growth.kb());
        state.ResumeTiming();
    }
    state.counters["peakRssGrowthMB"] = double(growthKb) / 1024.0;
    state.counters["cpuSeconds"] = cpu;
    fixture.handler->writeIfChanged();
}
BENCHMARK(BM_ApplySnapshotChangingEveryItem)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3)->UseRealTime();

// A snapshot that changes nothing (applied a second time): the two fetches
// per slice and state find no item to change.
static void BM_ApplySnapshotChangingNothing(benchmark::State &state)
{
    Fixture &fixture = shared();
    const QByteArray bytes = fixture.handler->snapshot();
    double cpu = 0;
    for (auto _ : state) {
        const double cpuBefore = bench::cpuSeconds();
        fixture.handler->applySnapshot(bytes);
        fixture.handler->waitUntilIdle();
        cpu = bench::cpuSeconds() - cpuBefore;
    }
    state.counters["cpuSeconds"] = cpu;
}
BENCHMARK(BM_ApplySnapshotChangingNothing)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3)->UseRealTime();

// Another machine's dictionary of 10,000 records, all newer than the local
// entities: every subscription renamed, 9,500 items starred.
static void BM_MergeKeyValueDictionary(benchmark::State &state)
{
    Fixture &fixture = shared();
    Context *bg = fixture.manager->contextBackground();
    sync::KeyValueDictionary dictionary;
    bg->performBlockConfinedAndWait([&] {
        const qint64 newer = Clock::sharedClock().current() + 1000;
        const QList<Datasource *> sources = bg->fetchAs<Datasource>(Query(Entity::Datasource));
        for (Datasource *source : sources)
            sync::entries::setupObject(source);
        bg->save();
        for (Datasource *source : sources) {
            sync::KeyValueRecord entry = sync::entries::entryForDatasource(source);
            entry.insert(QStringLiteral("customName"), QStringLiteral("Renamed %1").arg(source->url()));
            entry.insert(sync::record::kClock, newer);
            dictionary.insert(sync::entries::keyForDatasource(source), entry);
        }
        Query items(Entity::DataItem);
        items.fetchLimit = 10000 - int(sources.size());
        for (DataItem *item : bg->fetchAs<DataItem>(items)) {
            item->setStarred(true);
            sync::KeyValueRecord entry = sync::entries::entryForDataItem(item);
            entry.insert(sync::record::kClock, newer);
            dictionary.insert(sync::entries::keyForDataItem(item), entry);
        }
        bg->reset(); // the stars were only to make the records
    });
    const QStringList keys = dictionary.keys();
    double cpu = 0;
    int changed = 0;
    for (auto _ : state) {
        const double cpuBefore = bench::cpuSeconds();
        bg->performBlockConfinedAndWait([&] {
            sync::KeyValueMerge merge(bg, [](const QString &, const sync::KeyValueRecord &) {});
            merge.fetchLocal(keys);
            merge.handleItems(dictionary);
            changed = int(bg->changedObjects().size());
            bg->save();
            bg->reset();
        });
        cpu = bench::cpuSeconds() - cpuBefore;
    }
    state.counters["records"] = double(dictionary.size());
    state.counters["changedEntities"] = changed;
    state.counters["cpuSeconds"] = cpu;
}
BENCHMARK(BM_MergeKeyValueDictionary)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

// A minute with sync on and nothing changing: the CPU share of one core, and
// the writes made meanwhile (none expected).
static void BM_IdleMinuteWithSyncOn(benchmark::State &state)
{
    Fixture &fixture = shared();
    fixture.handler->writeIfChanged();
    // The merges the earlier runs left for the main thread go first.
    bench::settle(5000);
    const int seconds = int(state.range(0));
    double cpu = 0;
    IoCounters before;
    IoCounters after;
    for (auto _ : state) {
        before = IoCounters::now();
        const double start = bench::cpuSeconds();
        bench::settle(seconds * 1000);
        cpu = bench::cpuSeconds() - start;
        after = IoCounters::now();
    }
    state.counters["cpuPercentOfOneCore"] = 100.0 * cpu / seconds;
    state.counters["writeCalls"] = double(after.writeCalls - before.writeCalls);
    state.counters["storageWrittenBytes"] = double(after.storageWrittenBytes - before.storageWrittenBytes);
    state.counters["readCalls"] = double(after.readCalls - before.readCalls);
}
BENCHMARK(BM_IdleMinuteWithSyncOn)->Arg(60)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    shared().handler.reset();
    shared().manager.reset();
    return 0;
}
