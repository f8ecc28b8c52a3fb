// Store throughput: ingesting items through the background context in
// deferred-commit-sized batches, the visible-items query and a badge count
// over 100,000 items, and the memory cost of trimming them all.
#include "feeds/visibleitems.h"

#include "store/category.h"
#include "store/context.h"
#include "store/dataitem.h"
#include "store/datasource.h"
#include "store/storemanager.h"
#include "store/trimming.h"

#include "base/settings.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <sys/resource.h>

using namespace corvane;

namespace {

constexpr int kSources = 500;
constexpr int kItems = 100000;
constexpr int kBatch = 1000; // about what 2 s of refreshes bring in
constexpr Date kNow = 1'800'000'000.0;

struct Fixture
{
    QTemporaryDir dir;
    std::unique_ptr<StoreManager> stores;
    QList<ObjectID> sources;
    ObjectID category;

    Fixture()
    {
        StoreManager::Options options;
        options.directory = dir.path();
        stores = std::make_unique<StoreManager>(options);
    }

    // Subscriptions, then items in batches, each batch one save.
    void ingest(int items)
    {
        Context *bg = stores->contextBackground();
        bg->performBlockConfinedAndWait([&] {
            if (sources.isEmpty()) {
                auto *cat = bg->insert<Category>();
                cat->setName(QStringLiteral("Bench"));
                QList<RSSDatasource *> made;
                for (int s = 0; s < kSources; ++s) {
                    auto *source = bg->insert<RSSDatasource>();
                    source->setUrl(QStringLiteral("http://feed%1.example/rss").arg(s));
                    source->setEnabled(true);
                    if (s % 10 == 0)
                        source->setCategory(cat);
                    made.append(source);
                }
                bg->save();
                category = cat->objectID();
                for (auto *source : made)
                    sources.append(source->objectID());
            }
            for (int done = 0; done < items;) {
                for (int i = 0; i < kBatch && done < items; ++i, ++done) {
                    auto *item = bg->insert<DataItem>();
                    item->setDatasource(static_cast<Datasource *>(bg->existingObject(sources[done % kSources])));
                    item->setTitle(QStringLiteral("Item %1 of a benchmark feed").arg(done));
                    item->setLink(QStringLiteral("http://feed.example/items/%1").arg(done));
                    item->setGuid(QStringLiteral("guid-%1").arg(done));
                    item->setItemDescription(QStringLiteral("<p>Some text of item %1, as feeds have it.</p>").arg(done));
                    const Date when = kNow - 60.0 * (done % 5000);
                    item->setParsedDate(when);
                    item->setOrderingDate(when);
                    item->setOriginalDate(when);
                }
                bg->save();
                bg->reset();
            }
        });
    }
};

Fixture &shared()
{
    static Fixture fixture;
    static bool filled = (fixture.ingest(kItems), true);
    Q_UNUSED(filled);
    return fixture;
}

// The resident high-water mark (VmHWM), in kB.
long peakRssKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly))
        for (const QByteArray &line : status.readAll().split('\n'))
            if (line.startsWith("VmHWM:"))
                return line.mid(6).trimmed().split(' ').value(0).toLong();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Lowers the high-water mark to the present resident size, so a benchmark
// measures its own peak rather than an earlier one's.
void resetPeakRss()
{
    QFile clearRefs(QStringLiteral("/proc/self/clear_refs"));
    if (clearRefs.open(QIODevice::WriteOnly))
        clearRefs.write("5");
}

} // namespace

static void BM_Ingest(benchmark::State &state)
{
    for (auto _ : state) {
        state.PauseTiming();
        Fixture fixture;
        state.ResumeTiming();
        fixture.ingest(int(state.range(0)));
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_Ingest)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

static void BM_VisibleItems(benchmark::State &state)
{
    Fixture &fixture = shared();
    Context *bg = fixture.stores->contextBackground();
    size_t shown = 0;
    // Each run starts from an empty context; emptying it is not timed.
    for (auto _ : state)
        bg->performBlockConfinedAndWait([&] {
            shown = visibleitems::visibleDataItems(Predicate(), visibleitems::sortDescriptors(), bg, kNow).size();
            state.PauseTiming();
            bg->reset();
            state.ResumeTiming();
        });
    state.counters["visible"] = double(shown);
}
// With the visible items loaded in the context, as the bar's context holds
// them once it has shown them; each run asks again.
static void BM_VisibleItemsWarm(benchmark::State &state)
{
    Fixture &fixture = shared();
    Context *bg = fixture.stores->contextBackground();
    size_t shown = 0;
    bg->performBlockConfinedAndWait([&] {
        bg->reset();
        for (DataItem *item : visibleitems::visibleDataItems(Predicate(), visibleitems::sortDescriptors(), bg, kNow))
            benchmark::DoNotOptimize(item->title());
    });
    for (auto _ : state)
        bg->performBlockConfinedAndWait([&] {
            shown = visibleitems::visibleDataItems(Predicate(), visibleitems::sortDescriptors(), bg, kNow).size();
        });
    bg->performBlockConfinedAndWait([&] { bg->reset(); });
    state.counters["visible"] = double(shown);
}
BENCHMARK(BM_VisibleItemsWarm)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(15)
    ->ReportAggregatesOnly(true)
    ->UseRealTime();

// The median of single runs, so the first, cold ones do not count.
BENCHMARK(BM_VisibleItems)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(15)
    ->ReportAggregatesOnly(true)
    ->UseRealTime();

static void BM_CategoryBadge(benchmark::State &state)
{
    Fixture &fixture = shared();
    Context *bg = fixture.stores->contextBackground();
    qint64 count = 0;
    for (auto _ : state)
        bg->performBlockConfinedAndWait([&] {
            count = visibleitems::countForItemFromBackground(*fixture.stores, bg->existingObject(fixture.category), false,
                                                             Predicate(), kNow);
        });
    state.counters["unread"] = double(count);
}
BENCHMARK(BM_CategoryBadge)->Unit(benchmark::kMillisecond)->Iterations(10)->UseRealTime();

static void BM_LookupByGuidAndHash(benchmark::State &state)
{
    Fixture &fixture = shared();
    Context *bg = fixture.stores->contextBackground();
    int i = 0;
    for (auto _ : state)
        bg->performBlockConfinedAndWait([&] {
            const ObjectID source = fixture.sources[i % kSources];
            benchmark::DoNotOptimize(bg->fetch(itemWithGuid(QStringLiteral("guid-%1").arg(i), source)));
            benchmark::DoNotOptimize(bg->fetch(itemWithHash(qint64(i) << 20, source)));
            ++i;
        });
}
BENCHMARK(BM_LookupByGuidAndHash)->Unit(benchmark::kMicrosecond)->UseRealTime();

// The same lookups a hundred at a time on the background queue, as item
// creation runs them: the cost of the store without the hop between threads.
static void BM_LookupByGuidAndHashOnQueue(benchmark::State &state)
{
    Fixture &fixture = shared();
    Context *bg = fixture.stores->contextBackground();
    constexpr int kPerBlock = 100;
    int i = 0;
    for (auto _ : state)
        bg->performBlockConfinedAndWait([&] {
            for (int n = 0; n < kPerBlock; ++n, ++i) {
                const ObjectID source = fixture.sources[i % kSources];
                benchmark::DoNotOptimize(bg->fetch(itemWithGuid(QStringLiteral("guid-%1").arg(i), source)));
                benchmark::DoNotOptimize(bg->fetch(itemWithHash(qint64(i) << 20, source)));
            }
        });
    state.SetItemsProcessed(state.iterations() * kPerBlock);
}
BENCHMARK(BM_LookupByGuidAndHashOnQueue)->Unit(benchmark::kMicrosecond)->UseRealTime();

// Runs last: trims every item and reports the growth of peak memory.
static void BM_TrimAll(benchmark::State &state)
{
    Fixture &fixture = shared();
    Context *bg = fixture.stores->contextBackground();
    resetPeakRss();
    const long before = peakRssKb();
    for (auto _ : state)
        bg->performBlockConfinedAndWait([&] { purgeOutdatedItemsWithContext(bg, kNow + 400.0 * 86400.0); });
    state.counters["peakRssBeforeMB"] = double(before) / 1024.0; // resident at the start
    state.counters["peakRssGrowthMB"] = double(peakRssKb() - before) / 1024.0;
}
BENCHMARK(BM_TrimAll)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir home;
    qputenv("CORVANE_HOME", home.path().toLocal8Bit());
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
