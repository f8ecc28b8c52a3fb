// Subscription lists through OPMLHandler::importURL into a real store. The
// store lives in a temporary folder made once per run; every input is
// written to a file there, imported, and then undone by restoring an empty
// list, so each input starts from an empty store and reproduces alone.
//
// Nothing is fetched: the refresh hook is cleared, so the subscriptions an
// import adds are never refreshed.
#include "feeds/refresh/datasourcemanager.h"
#include "feeds/subscriptions/opmlhandler.h"

#include "base/settings.h"
#include "platform/reachability.h"
#include "store/applifetimepropertymanager.h"
#include "store/storemanager.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>

using namespace corvane;

namespace {

struct Run
{
    QTemporaryDir home;
    QTemporaryDir files;
    QString input;
    QString empty;
    std::unique_ptr<DatasourceManager> manager;
};
Run *g_run = nullptr;

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "fuzz_opml: %s\n", what);
    std::abort();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        fail("cannot write the input file");
}

// The import refuses the main thread.
std::optional<QString> import(const QString &path, bool deleteOthers)
{
    std::optional<QString> error;
    std::thread worker([&] { error = OPMLHandler(g_run->manager->stores()).importURL(path, deleteOthers); });
    worker.join();
    return error;
}

// The commit of the import, and the merges and notifications it posted to the main queue.
void settle()
{
    g_run->manager->waitForRefreshes();
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    static int argc = 1;
    static char name[] = "fuzz_opml";
    static char *argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);

    g_run = new Run;
    if (!g_run->home.isValid() || !g_run->files.isValid())
        fail("no temporary folder");
    qputenv("CORVANE_HOME", g_run->home.path().toLocal8Bit());
    g_run->input = g_run->files.filePath(QStringLiteral("input.opml"));
    g_run->empty = g_run->files.filePath(QStringLiteral("empty.opml"));
    writeFile(g_run->empty, "<opml version=\"1.0\"><body/></opml>");

    Settings::shared().setValue(QStringLiteral("DefaultFeedsAlreadyCreated"), true);
    platform::setAssumeReachable(true);
    DatasourceManager::Options options;
    options.storeDirectory = g_run->files.filePath(QStringLiteral("store"));
    options.startTimer = false;
    options.commitDelaySeconds = 0;
    options.fetches = false;
    g_run->manager = std::make_unique<DatasourceManager>(options);
    settle();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    writeFile(g_run->input, QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)));
    (void)import(g_run->input, false);
    settle();
    if (const std::optional<QString> error = import(g_run->empty, true))
        fail("restoring the empty list failed");
    settle();
    if (!g_run->manager->datasourcesForMain().isEmpty())
        fail("subscriptions left after restoring the empty list");
    // Run-time values stay with the identifiers of deleted records, which are never reused.
    AppLifetimePropertyManager::shared().clear();
    return 0;
}
