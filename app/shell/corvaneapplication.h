#pragma once

#include <QApplication>

namespace corvane::desktop {

// The application object: every mouse move it dispatches first ends the
// bar's keyboard mode.
class CorvaneApplication : public QApplication
{
    Q_OBJECT
public:
    CorvaneApplication(int &argc, char **argv);
    bool notify(QObject *receiver, QEvent *event) override;
};

} // namespace corvane::desktop
