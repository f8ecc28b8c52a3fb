#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

#include <xcb/xcb.h>

namespace corvane::test {

// Polls `done` until it holds or 15 seconds pass (other processes answer in
// their own time); returns whether it holds.
bool eventually(const std::function<bool()> &done);

// A private Xvfb server (on the first free display) for one test suite,
// optionally managed by openbox, with an xcb connection to read window
// properties back. Everything is stopped when it goes out of scope.
class XServer
{
public:
    XServer();
    ~XServer();
    XServer(const XServer &) = delete;
    XServer &operator=(const XServer &) = delete;

    // Empty when it runs, else why not (to skip the tests with).
    QString startError() const { return m_error; }
    QString display() const { return m_display; }
    bool startWindowManager();

    xcb_connection_t *connection() const { return m_connection; }
    xcb_window_t root() const;
    QStringList atomNames(xcb_window_t window, const char *property) const;
    // The CARDINAL values of the property, empty when it is not set.
    QList<quint32> cardinals(xcb_window_t window, const char *property) const;
    bool isViewable(xcb_window_t window) const;

private:
    xcb_atom_t atom(const char *name) const;

    QProcess m_xvfb;
    QProcess m_windowManager;
    QString m_display;
    QString m_error;
    xcb_connection_t *m_connection = nullptr;
};

// Runs the probe helper (built beside the tests) and talks to it line by line.
class Probe
{
public:
    // `mode` and its arguments; `environment` entries are added to the
    // test's own environment.
    Probe(const QStringList &arguments, const QStringList &environment);
    ~Probe();

    // The first line the probe printed ("ready", "listening", "error ...").
    QString greeting() { return readLine(); }
    QString command(const QString &line);
    QString readLine();
    void kill();

private:
    QProcess m_process;
};

} // namespace corvane::test
