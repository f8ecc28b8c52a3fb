#include "corvaneapplication.h"

#include "ticker/mainwindowcontroller.h"

#include <QEvent>

namespace corvane::desktop {

CorvaneApplication::CorvaneApplication(int &argc, char **argv)
    : QApplication(argc, argv)
{
    setApplicationName(QStringLiteral("Corvane"));
    setApplicationDisplayName(QStringLiteral("Corvane"));
    setDesktopFileName(QStringLiteral("corvane"));
    setQuitOnLastWindowClosed(false);
}

bool CorvaneApplication::notify(QObject *receiver, QEvent *event)
{
    if (event->type() == QEvent::MouseMove)
        MainWindowController::mouseMoved();
    return QApplication::notify(receiver, event);
}

} // namespace corvane::desktop
