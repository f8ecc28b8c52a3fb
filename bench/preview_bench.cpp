// Figures of the preview bubble, on a home made by `bar_bench generate`:
//   preview_bench HOME [CLICKS]
// The bar is shown and settles; then a click on an entry (a mouse press
// sent to the entry view, as the bar receives it) until the bubble is
// ordered in: once with the web engine not yet started, then CLICKS times
// (default 30) with it warm, each on another entry after the last bubble
// was closed. Resident memory before and after the first preview.
#include "preview/cvpreviewwindowcontroller.h"
#include "ticker/dataitemview.h"
#include "ticker/enginebridge.h"
#include "ticker/mainwindowcontroller.h"

#include "base/settings.h"
#include "base/settingsdefaults.h"
#include "feeds/refresh/datasourcemanager.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QMouseEvent>
#include <QScrollArea>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace corvane;
using namespace corvane::desktop;

namespace {

long residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    status.open(QIODevice::ReadOnly);
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

void settle(int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 5);
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
    qputenv("CORVANE_HOME", args.at(1).toLocal8Bit());
    const int clicks = args.size() > 2 ? std::max(1, args.at(2).toInt()) : 30;
    Settings &settings = Settings::shared();
    applyStartUpSettings(settings);
    settings.setValue(QStringLiteral("DefaultFeedsAlreadyCreated"), true);

    DatasourceManager::Options options;
    options.startTimer = false; // no refreshes: the figures are the bubble's
    options.fetches = false;
    DatasourceManager engine(options);
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
        settle(3000);
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
            const long before = residentKiB();
            const double first = clickToShown(bubble, entries.at(0));
            settle(1000);
            const long after = residentKiB();
            std::printf("first preview after start (web engine cold): %.1f ms\n", first);
            std::printf("resident memory: %.1f MB before the first preview, %.1f MB after\n", before / 1024.0,
                        after / 1024.0);
            std::vector<double> warm;
            for (int i = 0; i < clicks; ++i) {
                bubble.close(false);
                settle(50);
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
    }
    PreviewPresenter::setShared(nullptr);
    return status;
}
