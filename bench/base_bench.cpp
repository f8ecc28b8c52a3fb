// Throughput of the text and date helpers that run for every parsed item.
#include "base/feeddates.h"
#include "base/htmlentities.h"
#include "base/itemdate.h"
#include "base/stringhash.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

using namespace corvane;

static void BM_PermanentHash(benchmark::State &state)
{
    const QString text(int(state.range(0)), u'x');
    for (auto _ : state)
        benchmark::DoNotOptimize(permanentHash(text));
    state.SetBytesProcessed(state.iterations() * state.range(0) * 2);
}
BENCHMARK(BM_PermanentHash)->Arg(40)->Arg(64)->Arg(65)->Arg(4000);

static void BM_ItemHash(benchmark::State &state)
{
    const std::optional<QString> title = QStringLiteral("  Apple announces a new product line for 2027 \n");
    const std::optional<QString> link = QStringLiteral("https://example.org/news/2027/01/apple-announces?id=123");
    for (auto _ : state)
        benchmark::DoNotOptimize(calculateHashFromTitleAndLink(title, link));
}
BENCHMARK(BM_ItemHash);

static void BM_RssDate(benchmark::State &state)
{
    const QString text = QStringLiteral("Tue, 10 Jun 2003 04:00:00 GMT");
    for (auto _ : state)
        benchmark::DoNotOptimize(dateWithRSSPubDate(text));
}
BENCHMARK(BM_RssDate);

static void BM_AtomDate(benchmark::State &state)
{
    const QString text = QStringLiteral("2003-12-13T18:30:02Z");
    for (auto _ : state)
        benchmark::DoNotOptimize(dateWithAtomPubDate(text));
}
BENCHMARK(BM_AtomDate);

static void BM_DateForDictionaryFailOver(benchmark::State &state)
{
    const QHash<QString, QString> fields = {{QStringLiteral("pubDate"), QStringLiteral("2003-12-13T18:30:02.25+01:00")}};
    for (auto _ : state)
        benchmark::DoNotOptimize(dateForDictionary(fields, 1.8e9));
}
BENCHMARK(BM_DateForDictionaryFailOver);

static void BM_DecodeEntities(benchmark::State &state)
{
    QString text;
    for (int i = 0; i < 100; ++i)
        text += QStringLiteral("AT&amp;T &#8217;quoted&#x2019; &nbsp;text &copy; ");
    for (auto _ : state)
        benchmark::DoNotOptimize(stringByDecodingHTMLEntities(text));
    state.SetBytesProcessed(state.iterations() * text.size() * 2);
}
BENCHMARK(BM_DecodeEntities);

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
