#include "corvaneapplication.h"

#include "appicon.h"

#include "ticker/mainwindowcontroller.h"

#include <QEvent>

namespace corvane::desktop {

CorvaneApplication::CorvaneApplication(int &argc, char **argv)
    : QApplication(argc, argv)
{
    setApplicationName(QStringLiteral("Corvane"));
    setApplicationDisplayName(QStringLiteral("Corvane"));
    setApplicationVersion(QStringLiteral(CORVANE_VERSION_TEXT));
    setDesktopFileName(QStringLiteral("org.corvane.Corvane"));
    setWindowIcon(corvaneIcon());
    setQuitOnLastWindowClosed(false);
}

bool CorvaneApplication::notify(QObject *receiver, QEvent *event)
{
    if (event->type() == QEvent::MouseMove)
        MainWindowController::mouseMoved();
    return QApplication::notify(receiver, event);
}

} // namespace corvane::desktop
