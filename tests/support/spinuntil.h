#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>

namespace corvane::test {

// Runs the main event loop until `done` holds or `milliseconds` pass;
// returns whether it holds. Work posted to the main queue runs meanwhile.
template<typename Predicate>
bool spinUntil(Predicate done, int milliseconds = 15000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < milliseconds)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}

} // namespace corvane::test
