#include "xserver.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QThread>

#include <cstdlib>

#include <signal.h>
#include <sys/prctl.h>

namespace corvane::test {

namespace {

// Waiting for other processes is bounded, so a broken setup fails a test
// instead of hanging it.
constexpr int kStartWait = 15000;

// The helper processes end with the test program, also when it crashes.
void endWithParent(QProcess &process)
{
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
}

} // namespace

bool eventually(const std::function<bool()> &done)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > kStartWait)
            return false;
        QThread::msleep(20);
    }
    return true;
}

XServer::XServer()
{
    const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
    if (xvfb.isEmpty()) {
        m_error = QStringLiteral("Xvfb is not installed (apt-get install xvfb)");
        return;
    }
    // -displayfd: Xvfb takes the first free display and prints its number.
    endWithParent(m_xvfb);
    m_xvfb.start(xvfb, {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-nolisten"),
                        QStringLiteral("tcp"), QStringLiteral("-screen"), QStringLiteral("0"),
                        QStringLiteral("1280x800x24")});
    if (!m_xvfb.waitForStarted(kStartWait)) {
        m_error = QStringLiteral("Xvfb did not start");
        return;
    }
    QByteArray number;
    while (!number.contains('\n') && m_xvfb.waitForReadyRead(kStartWait))
        number += m_xvfb.readAllStandardOutput();
    if (!number.contains('\n')) {
        m_error = QStringLiteral("Xvfb did not report its display");
        return;
    }
    m_display = u':' + QString::fromLatin1(number.trimmed());
    m_connection = xcb_connect(m_display.toLatin1().constData(), nullptr);
    if (xcb_connection_has_error(m_connection)) {
        m_error = QStringLiteral("cannot connect to Xvfb on ") + m_display;
        return;
    }
}

XServer::~XServer()
{
    if (m_connection)
        xcb_disconnect(m_connection);
    for (QProcess *process : {&m_windowManager, &m_xvfb}) {
        if (process->state() != QProcess::NotRunning) {
            process->terminate();
            if (!process->waitForFinished(5000)) {
                process->kill();
                process->waitForFinished(5000);
            }
        }
    }
}

bool XServer::startWindowManager()
{
    const QString openbox = QStandardPaths::findExecutable(QStringLiteral("openbox"));
    if (openbox.isEmpty() || !m_error.isEmpty())
        return false;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), m_display);
    m_windowManager.setProcessEnvironment(environment);
    m_windowManager.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    endWithParent(m_windowManager);
    m_windowManager.start(openbox, {QStringLiteral("--sm-disable")});
    if (!m_windowManager.waitForStarted(kStartWait))
        return false;
    // An EWMH window manager announces itself on the root window; openbox
    // publishes the work area last, once it manages the screen (windows
    // mapped before that may never have their struts counted).
    return eventually([this] {
        return !atomNames(root(), "_NET_SUPPORTED").isEmpty() && !cardinals(root(), "_NET_WORKAREA").isEmpty();
    });
}

xcb_window_t XServer::root() const
{
    return xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
}

xcb_atom_t XServer::atom(const char *name) const
{
    auto *reply = xcb_intern_atom_reply(
        m_connection, xcb_intern_atom(m_connection, 0, uint16_t(qstrlen(name)), name), nullptr);
    const xcb_atom_t result = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return result;
}

QStringList XServer::atomNames(xcb_window_t window, const char *property) const
{
    QStringList names;
    auto *reply = xcb_get_property_reply(
        m_connection, xcb_get_property(m_connection, 0, window, atom(property), XCB_ATOM_ATOM, 0, 1024),
        nullptr);
    if (!reply)
        return names;
    const auto *atoms = static_cast<const xcb_atom_t *>(xcb_get_property_value(reply));
    const int count = reply->format == 32 ? xcb_get_property_value_length(reply) / 4 : 0;
    for (int i = 0; i < count; ++i) {
        auto *nameReply = xcb_get_atom_name_reply(m_connection, xcb_get_atom_name(m_connection, atoms[i]),
                                                  nullptr);
        if (nameReply) {
            names.append(QString::fromLatin1(xcb_get_atom_name_name(nameReply),
                                             xcb_get_atom_name_name_length(nameReply)));
            std::free(nameReply);
        }
    }
    std::free(reply);
    return names;
}

QList<quint32> XServer::cardinals(xcb_window_t window, const char *property) const
{
    QList<quint32> values;
    auto *reply = xcb_get_property_reply(
        m_connection,
        xcb_get_property(m_connection, 0, window, atom(property), XCB_ATOM_CARDINAL, 0, 1024), nullptr);
    if (!reply)
        return values;
    const auto *data = static_cast<const quint32 *>(xcb_get_property_value(reply));
    const int count = reply->format == 32 ? xcb_get_property_value_length(reply) / 4 : 0;
    values = QList<quint32>(data, data + count);
    std::free(reply);
    return values;
}

bool XServer::isViewable(xcb_window_t window) const
{
    auto *reply = xcb_get_window_attributes_reply(
        m_connection, xcb_get_window_attributes(m_connection, window), nullptr);
    const bool viewable = reply && reply->map_state == XCB_MAP_STATE_VIEWABLE;
    std::free(reply);
    return viewable;
}

Probe::Probe(const QStringList &arguments, const QStringList &environment)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString &entry : environment)
        env.insert(entry.section(u'=', 0, 0), entry.section(u'=', 1));
    m_process.setProcessEnvironment(env);
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    endWithParent(m_process);
    m_process.start(QCoreApplication::applicationDirPath() + QStringLiteral("/platform_probe"), arguments);
    m_process.waitForStarted(kStartWait);
}

Probe::~Probe()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.write("quit\n");
    m_process.closeWriteChannel();
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

QString Probe::readLine()
{
    while (!m_process.canReadLine()) {
        if (!m_process.waitForReadyRead(kStartWait))
            return QStringLiteral("error no answer");
    }
    return QString::fromUtf8(m_process.readLine()).trimmed();
}

QString Probe::command(const QString &line)
{
    m_process.write(line.toUtf8() + '\n');
    return readLine();
}

void Probe::kill()
{
    m_process.kill();
    m_process.waitForFinished(5000);
}

} // namespace corvane::test
