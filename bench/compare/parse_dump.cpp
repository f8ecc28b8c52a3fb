// Reads feed files with Corvane's feed reader (repair, XML, RSS/RDF/Atom) and
// writes, as JSON, what a refresh would store of each item: the title as read,
// the title the ticker shows (DataItem::flatten) and the link as stored
// (ItemCreation::storedLink against the file's base URL). Then times the
// reading of all files, without the 10 microsecond per-element pause that a
// real refresh takes (as parser_bench's "no pause" cases).
//
//   parse_dump [--repeat N] [--base URL] [--out FILE] FILE...
//
// --base: the URL each file is taken to have been fetched from is URL
// followed by the file's name (default http://feeds.example.org/corpus/).
// --repeat: the corpus is read N more times after the dump, all in memory;
// the best and median of those rounds are reported (default 5).
// The timing summary is one JSON object on standard output.
#include "feeds/reading/feeddocumentreader.h"
#include "feeds/refresh/itemcreation.h"
#include "store/dataitem.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cstdio>

using namespace corvane;

namespace {

struct Input
{
    QString path;
    QString name;
    QByteArray bytes;
};

FeedDocumentReader::Options readerOptions()
{
    FeedDocumentReader::Options options;
    options.now = 1'800'000'000.0; // fixed: item dates do not matter here
    options.pausePerElement = false;
    return options;
}

QJsonValue textOrNull(const ItemRecord &record, const QString &key)
{
    const auto it = record.constFind(key);
    return it == record.constEnd() ? QJsonValue() : QJsonValue(*it);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    int repeat = 5;
    QString base = QStringLiteral("http://feeds.example.org/corpus/");
    QString outPath;
    QList<Input> inputs;
    for (int i = 0; i < args.size(); ++i) {
        const QString &arg = args[i];
        if (arg == QLatin1String("--repeat") && i + 1 < args.size()) {
            repeat = args[++i].toInt();
        } else if (arg == QLatin1String("--base") && i + 1 < args.size()) {
            base = args[++i];
        } else if (arg == QLatin1String("--out") && i + 1 < args.size()) {
            outPath = args[++i];
        } else {
            QFile file(arg);
            if (!file.open(QIODevice::ReadOnly)) {
                std::fprintf(stderr, "parse_dump: cannot read %s\n", qPrintable(arg));
                return 1;
            }
            inputs.append({arg, QFileInfo(arg).fileName(), file.readAll()});
        }
    }
    if (inputs.isEmpty()) {
        std::fprintf(stderr, "usage: parse_dump [--repeat N] [--base URL] [--out FILE] FILE...\n");
        return 2;
    }

    // The dump: one object per file.
    QJsonArray files;
    for (const Input &input : std::as_const(inputs)) {
        FeedDocumentReader::Options options = readerOptions();
        options.documentURL = QUrl(base + input.name);
        FeedDocumentReader reader(options);
        const bool ok = reader.read(input.bytes);
        ItemCreation creation;
        creation.feedURL = options.documentURL;
        QJsonArray items;
        for (const ItemRecord &record : reader.records()) {
            const QString title = record.value(QStringLiteral("title"));
            const QString link = creation.storedLink(record);
            items.append(QJsonObject{
                {QStringLiteral("title"), textOrNull(record, QStringLiteral("title"))},
                {QStringLiteral("visible_title"),
                 DataItem::flatten(title.isEmpty() ? record.value(QStringLiteral("description")) : title)},
                {QStringLiteral("link"), link.isNull() ? QJsonValue() : QJsonValue(link)},
                {QStringLiteral("guid"), textOrNull(record, QStringLiteral("guid"))},
            });
        }
        files.append(QJsonObject{
            {QStringLiteral("file"), input.name},
            {QStringLiteral("ok"), ok},
            {QStringLiteral("error"), reader.errorString()},
            {QStringLiteral("count"), items.size()},
            {QStringLiteral("items"), items},
        });
    }
    const QByteArray dump = QJsonDocument(files).toJson(QJsonDocument::Indented);
    if (outPath.isEmpty()) {
        std::fwrite(dump.constData(), 1, size_t(dump.size()), stdout);
    } else {
        QFile out(outPath);
        if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(dump) != dump.size()) {
            std::fprintf(stderr, "parse_dump: cannot write %s\n", qPrintable(outPath));
            return 1;
        }
    }

    // The timing: whole rounds over the corpus in memory, reading only.
    QList<double> rounds;
    qint64 items = 0;
    qint64 bytes = 0;
    for (const Input &input : std::as_const(inputs))
        bytes += input.bytes.size();
    for (int round = 0; round < repeat; ++round) {
        QElapsedTimer timer;
        timer.start();
        qint64 roundItems = 0;
        for (const Input &input : std::as_const(inputs)) {
            FeedDocumentReader reader(readerOptions());
            reader.read(input.bytes);
            roundItems += reader.records().size();
        }
        rounds.append(double(timer.nsecsElapsed()) / 1e9);
        items = roundItems;
    }
    if (!outPath.isEmpty() && !rounds.isEmpty()) {
        std::sort(rounds.begin(), rounds.end());
        const double best = rounds.first();
        const double median = rounds[rounds.size() / 2];
        const QJsonObject summary{
            {QStringLiteral("reader"), QStringLiteral("corvane")},
            {QStringLiteral("pause_per_element"), false},
            {QStringLiteral("files"), inputs.size()},
            {QStringLiteral("bytes"), bytes},
            {QStringLiteral("items"), items},
            {QStringLiteral("rounds"), repeat},
            {QStringLiteral("best_seconds"), best},
            {QStringLiteral("median_seconds"), median},
            {QStringLiteral("files_per_second"), inputs.size() / best},
            {QStringLiteral("files_per_second_median"), inputs.size() / median},
        };
        const QByteArray line = QJsonDocument(summary).toJson(QJsonDocument::Compact) + '\n';
        std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    }
    return 0;
}
