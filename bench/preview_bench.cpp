// Figures of the preview bubble, on a home made by `bar_bench generate`:
//   preview_bench HOME [CLICKS] [release]
// The bar is shown and settles; then a click on an entry (a mouse press
// sent to the entry view, as the bar receives it) until the bubble is
// ordered in: once with the web engine not yet started, then CLICKS times
// (default 30) with it warm, each on another entry after the last bubble
// was closed. Resident memory before and after the first preview, and
// that of the processes the web engine starts; with "release", those
// again after the bubble has been closed long enough to let the engine go.
#include "barbenchsupport.h"

#include "preview/cvpreviewwindowcontroller.h"
#include "ticker/dataitemview.h"
#include "ticker/enginebridge.h"
#include "ticker/mainwindowcontroller.h"

#include "base/settings.h"
#include "base/settingsdefaults.h"
#include "feeds/refresh/datasourcemanager.h"

#include <QApplication>
#include <QDir>
#include <QHash>
#include <QElapsedTimer>
#include <QFile>
#include <QMouseEvent>
#include <QTimer>
#include <QScrollArea>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace corvane;
using namespace corvane::desktop;

namespace {


// Proportional set size of the processes the web engine started (zygote,
// renderer, utility processes: every descendant of this one), so pages
// they share are counted once.
long helperPssKiB()
{
    QHash<qint64, qint64> parents;
    QHash<qint64, long> resident;
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool numeric = false;
        const qint64 pid = entry.toLongLong(&numeric);
        if (!numeric)
            continue;
        QFile status(QStringLiteral("/proc/%1/status").arg(pid));
        if (!status.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("PPid:"))
                parents.insert(pid, line.mid(5).trimmed().toLongLong());
        }
        QFile rollup(QStringLiteral("/proc/%1/smaps_rollup").arg(pid));
        if (rollup.open(QIODevice::ReadOnly))
            for (const QByteArray &line : rollup.readAll().split('\n'))
                if (line.startsWith("Pss:"))
                    resident.insert(pid, line.mid(4).trimmed().split(' ').first().toLong());
    }
    const qint64 self = QCoreApplication::applicationPid();
    long total = 0;
    for (auto it = parents.cbegin(); it != parents.cend(); ++it) {
        qint64 ancestor = it.value();
        for (int depth = 0; depth < 8 && ancestor > 1 && ancestor != self; ++depth)
            ancestor = parents.value(ancestor, 0);
        if (ancestor == self)
            total += resident.value(it.key());
    }
    return total;
}



// Milliseconds from a click on the entry to the bubble ordered in; -1 when it never was.
double clickToShown(CVPreviewWindowController &bubble, DataItemView *entry)
{
    bool shown = false;
    const QMetaObject::Connection connection =
        QObject::connect(&bubble, &CVPreviewWindowController::shown, [&shown] { shown = true; });
    QElapsedTimer timer;
    timer.start();
    const QPointF at(entry->width() / 2.0, entry->height() / 2.0);
    QMouseEvent press(QEvent::MouseButtonPress, at, entry->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(entry, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, at, entry->mapToGlobal(at), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QCoreApplication::sendEvent(entry, &release);
    while (!shown && timer.elapsed() < 30000)
        QApplication::processEvents(QEventLoop::AllEvents, 1);
    const double ms = timer.nsecsElapsed() / 1e6;
    QObject::disconnect(connection);
    return shown ? ms : -1;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("QTWEBENGINE_CHROMIUM_FLAGS"))
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--no-sandbox --disable-gpu");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: preview_bench HOME [CLICKS]\n");
        return 2;
    }
    Settings &settings = bench::useHome(args.at(1));
    const int clicks = args.size() > 2 ? std::max(1, args.at(2).toInt()) : 30;
    DatasourceManager engine(bench::quietEngine());
    if (!engine.isOpen())
        return 1;
    EngineBridge bridge(settings);
    CVPreviewWindowController bubble(bridge, settings);
    PreviewPresenter::setShared(&bubble);
    int status = 0;
    {
        MainWindowController controller(engine, bridge, settings, MainWindowController::Options{});
        controller.window()->resize(260, 900);
        controller.show();
        bench::settle(3000);
        // Entries the bubble can point at: inside the visible part of the list.
        QList<DataItemView *> entries;
        const QWidget *viewport = controller.scrollView()->viewport();
        for (DataItemView *entry : controller.entryViews()) {
            const int y = viewport->mapFromGlobal(entry->arrowLocation()).y();
            if (entry->isVisible() && y >= 0 && y <= viewport->height())
                entries.append(entry);
        }
        if (entries.size() < 2) {
            std::fprintf(stderr, "preview_bench: the bar shows %lld entries\n", qlonglong(entries.size()));
            status = 1;
        } else {
            const long before = bench::residentKiB();
            const double first = clickToShown(bubble, entries.at(0));
            bench::settle(1000);
            const long after = bench::residentKiB();
            std::printf("first preview after start (web engine cold): %.1f ms\n", first);
            std::printf("resident memory: %.1f MB before the first preview, %.1f MB after, "
                        "and %.1f MB (proportional) in the web engine's own processes\n",
                        before / 1024.0, after / 1024.0, helperPssKiB() / 1024.0);
            std::vector<double> warm;
            for (int i = 0; i < clicks; ++i) {
                bubble.close(false);
                bench::settle(50);
                warm.push_back(clickToShown(bubble, entries.at(1 + i % (entries.size() - 1))));
            }
            std::sort(warm.begin(), warm.end());
            if (first < 0 || warm.front() < 0) {
                std::fprintf(stderr, "preview_bench: a bubble never showed\n");
                status = 1;
            }
            std::printf("click to shown bubble, web engine warm: median %.1f ms, min %.1f, max %.1f (%d clicks)\n",
                        warm[warm.size() / 2], warm.front(), warm.back(), clicks);
        }
        bubble.close(false);
        if (status == 0 && args.size() > 3 && args.at(3) == u"release") {
            const double cpuBefore = bench::cpuSeconds();
            bench::settle(125 * 1000);
            std::printf("closed for 125 s: %.2f s CPU in this process; resident memory %.1f MB, %.1f MB "
                        "(proportional) in the web engine's own processes\n",
                        bench::cpuSeconds() - cpuBefore, bench::residentKiB() / 1024.0, helperPssKiB() / 1024.0);
        }
    }
    PreviewPresenter::setShared(nullptr);
    return status;
}
