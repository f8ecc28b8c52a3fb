// OPML throughput: importing a 5,000-outline subscription list into an empty
// store (and once more, when everything is known), and exporting it.
#include "feeds/refresh/datasourcemanager.h"
#include "feeds/subscriptions/opmlhandler.h"

#include "base/settings.h"
#include "store/context.h"
#include "store/query.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <thread>

using namespace corvane;

namespace {

constexpr int kOutlines = 5000;

QByteArray opmlDocument(int outlines)
{
    QByteArray doc = "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\n<opml version=\"1.0\"><head><title>Bench</title></head><body>";
    for (int folder = 0; folder < outlines / 100; ++folder) {
        doc += "<outline title=\"Folder " + QByteArray::number(folder) + "\" text=\"Folder\">";
        for (int i = 0; i < 100; ++i) {
            const QByteArray n = QByteArray::number(folder * 100 + i);
            doc += "<outline type=\"rss\" title=\"Feed " + n + " &amp; more\" text=\"Feed\" xmlUrl=\"http://host" + n
                + ".example/rss?id=" + n + "\"/>";
        }
        doc += "</outline>";
    }
    return doc + "</body></opml>";
}

template<typename Work>
void offMainThread(Work work)
{
    std::thread thread(std::move(work));
    thread.join();
}

void BM_ImportOpml(benchmark::State &state)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("list.opml"));
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(opmlDocument(kOutlines));
    file.close();
    for (auto _ : state) {
        state.PauseTiming();
        QTemporaryDir storeDir;
        DatasourceManager::Options options;
        options.storeDirectory = storeDir.path();
        options.startTimer = false;
        auto manager = std::make_unique<DatasourceManager>(options);
        manager->waitForRefreshes();
        state.ResumeTiming();

        offMainThread([&] { OPMLHandler(manager->stores()).importURL(path); });
        manager->stores().waitForPendingCommit();
        state.PauseTiming();
        const qint64 count = manager->contextMain()->count(Query{Entity::Datasource});
        if (count != kOutlines)
            state.SkipWithError("not every outline was imported");
        // Everything known: the second import only compares.
        state.ResumeTiming();
        offMainThread([&] { OPMLHandler(manager->stores()).importURL(path); });
        offMainThread([&] { OPMLHandler(manager->stores()).exportURL(dir.filePath(QStringLiteral("out.opml"))); });
        state.PauseTiming();
        manager.reset();
        state.ResumeTiming();
    }
    state.counters["outlines"] = kOutlines;
}
BENCHMARK(BM_ImportOpml)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir home;
    qputenv("CORVANE_HOME", home.path().toLocal8Bit());
    Settings::shared().setValue(QStringLiteral("DefaultFeedsAlreadyCreated"), true);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
