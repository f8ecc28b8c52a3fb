// Figures of the bar, each in its own process so none warms the next:
//   bar_bench generate HOME COUNT   a store of COUNT items in 20 subscriptions
//   bar_bench startup HOME          from the engine's start to the first painted entry
//   bar_bench idle HOME SECONDS     CPU time of the bar left alone, ticking
//   bar_bench scroll HOME           time to rebuild the views of one screen
//   bar_bench memory HOME           resident memory with the bar showing
#include "barbenchsupport.h"

#include "ticker/dataitemview.h"
#include "ticker/enginebridge.h"
#include "ticker/listview.h"
#include "ticker/mainwindowcontroller.h"

#include "base/settings.h"
#include "base/settingsdefaults.h"
#include "feeds/refresh/datasourcemanager.h"
#include "store/context.h"
#include "store/dataitem.h"
#include "store/datasource.h"
#include "store/storemanager.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>

#include <sys/resource.h>

#include <cstdio>

using namespace corvane;
using namespace corvane::desktop;

namespace {




int generate(int count)
{
    DatasourceManager engine(bench::quietEngine());
    if (!engine.isOpen())
        return 1;
    Context *background = engine.contextBackground();
    const Date now = currentDate();
    background->performBlockConfinedAndWait([&] {
        QList<Datasource *> sources;
        for (int s = 0; s < 20; ++s) {
            auto *source = background->insert<RSSDatasource>();
            source->setUrl(QStringLiteral("http://127.0.0.1:9/feed%1.xml").arg(s));
            source->setName(QStringLiteral("Subscription %1").arg(s));
            source->setEnabled(true);
            source->setLimit(1000000);
            source->setAgeLimit(3650);
            sources.append(source);
        }
        background->save();
        for (int i = 0; i < count; ++i) {
            auto *item = background->insert<DataItem>();
            item->setDatasource(sources.at(i % sources.size()));
            item->setTitle(QStringLiteral("Item %1: a headline of a usual length for a news item").arg(i));
            item->setLink(QStringLiteral("http://127.0.0.1:9/item/%1").arg(i));
            item->setGuid(QStringLiteral("guid-%1").arg(i));
            item->setItemDescription(QStringLiteral("A short description of item %1.").arg(i));
            const Date date = now - 60.0 * i;
            item->setParsedDate(date);
            item->setOriginalDate(date);
            item->setOrderingDate(date);
            if ((i + 1) % 5000 == 0)
                background->save();
        }
        background->save();
    });
    std::printf("generated %d items\n", count);
    return 0;
}

// The engine and the bar on the home's store, shown.
struct Bar
{
    Bar()
        : engine(bench::quietEngine())
        , bridge(Settings::shared())
        , controller(engine, bridge, Settings::shared(), MainWindowController::Options{})
    {
        controller.window()->resize(260, 900);
        controller.show();
    }
    DatasourceManager engine;
    EngineBridge bridge;
    MainWindowController controller;
};

class FirstEntryPaint : public QObject
{
public:
    bool painted = false;
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && qobject_cast<DataItemView *>(watched))
            painted = true;
        return false;
    }
};

int startup()
{
    QElapsedTimer timer;
    timer.start();
    FirstEntryPaint probe;
    qApp->installEventFilter(&probe);
    DatasourceManager engine(bench::quietEngine());
    const qint64 opened = timer.elapsed();
    EngineBridge bridge(Settings::shared());
    MainWindowController controller(engine, bridge, Settings::shared(), MainWindowController::Options{});
    controller.window()->resize(260, 900);
    controller.show();
    const qint64 shown = timer.elapsed();
    while (!probe.painted && timer.elapsed() < 60000)
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    std::printf("first painted entry after %lld ms (store open %lld ms, bar made %lld ms; %lld items listed)\n",
                timer.elapsed(), opened, shown - opened, qlonglong(controller.items().size()));
    return probe.painted ? 0 : 1;
}

int idle(int seconds)
{
    Bar bar;
    bench::settle(3000);
    const double before = bench::cpuSeconds();
    bench::settle(seconds * 1000);
    const double used = bench::cpuSeconds() - before;
    std::printf("idle %d s with %lld items listed: %.3f s CPU = %.2f %% of one core\n", seconds,
                qlonglong(bar.controller.items().size()), used, 100.0 * used / seconds);
    return 0;
}

int scroll()
{
    Bar bar;
    bench::settle(2000);
    QScrollBar *scrollBar = bar.controller.scrollView()->verticalScrollBar();
    const int screen = bar.controller.scrollView()->viewport()->height();
    constexpr int kSteps = 200;
    QElapsedTimer timer;
    qint64 total = 0;
    for (int i = 1; i <= kSteps; ++i) {
        // A screen further down: the scroll rebuilds the views it needs.
        timer.start();
        scrollBar->setValue(i * screen);
        total += timer.nsecsElapsed();
    }
    std::printf("rebuilding the views of one screen: %.3f ms (mean of %d, %lld views)\n", total / 1e6 / kSteps,
                kSteps, qlonglong(bar.controller.entryViews().size()));
    return 0;
}

int memory()
{
    Bar bar;
    bench::settle(3000);
    std::printf("resident memory with %lld items listed: %.1f MB\n", qlonglong(bar.controller.items().size()),
                bench::residentKiB() / 1024.0);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: bar_bench generate|startup|idle|scroll|memory HOME [N]\n");
        return 2;
    }
    bench::useHome(args.at(2));
    const QString mode = args.at(1);
    const int number = args.size() > 3 ? args.at(3).toInt() : 0;
    if (mode == u"generate")
        return generate(number);
    if (mode == u"startup")
        return startup();
    if (mode == u"idle")
        return idle(number > 0 ? number : 60);
    if (mode == u"scroll")
        return scroll();
    if (mode == u"memory")
        return memory();
    return 2;
}
