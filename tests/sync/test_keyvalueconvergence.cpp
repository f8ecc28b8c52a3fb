// Three machines (kvsync_driver processes, each with its own CORVANE_HOME)
// share one cloud folder, make seeded random changes, then go quiet: all
// three must end with the same categories, subscriptions, keywords and stars.
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

class Machine
{
public:
    Machine(const QString &cloud)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("CORVANE_HOME"), m_home.path());
        m_process.setProcessEnvironment(environment);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QStringLiteral(KVSYNC_DRIVER), {cloud});
    }
    ~Machine()
    {
        if (m_process.state() == QProcess::Running) {
            m_process.write("quit\n");
            if (!m_process.waitForFinished(20000))
                m_process.kill();
        }
        m_process.waitForFinished();
    }

    bool started() { return m_process.waitForStarted(); }

    // Sends one command and returns its one-line answer ("" when the process went).
    QByteArray ask(const QByteArray &command)
    {
        m_process.write(command + '\n');
        while (!m_process.canReadLine())
            if (!m_process.waitForReadyRead(60000))
                return {};
        return m_process.readLine().trimmed();
    }

private:
    QTemporaryDir m_home;
    QProcess m_process;
};

} // namespace

namespace {

// Runs one seeded session of three machines; failures name the seed.
void converge(quint32 seed)
{
    SCOPED_TRACE(QStringLiteral("seed %1 (CORVANE_SYNC_SEED=%1 repeats it)").arg(seed).toStdString());
    QTemporaryDir cloud;
    ASSERT_TRUE(cloud.isValid());
    std::vector<std::unique_ptr<Machine>> machines;
    for (int i = 0; i < 3; ++i) {
        machines.push_back(std::make_unique<Machine>(cloud.path()));
        ASSERT_TRUE(machines.back()->started());
    }
    // Rounds of changes on every machine, interleaved with the sync.
    for (quint32 round = 0; round < 4; ++round)
        for (quint32 i = 0; i < machines.size(); ++i)
            ASSERT_EQ(machines[i]->ask(QStringLiteral("ops %1 12").arg(seed + round * 7 + i * 1009).toLatin1()), "done");

    // Quiet: wait until all three agree, three looks in a row.
    QList<QByteArray> states;
    int agreeing = 0;
    QElapsedTimer waited;
    waited.start();
    const int deadline = qEnvironmentVariableIsSet("CORVANE_SYNC_QUIET_MS") ? qEnvironmentVariableIntValue("CORVANE_SYNC_QUIET_MS") : 90000;
    while (agreeing < 3 && waited.elapsed() < deadline) {
        states.clear();
        for (auto &machine : machines)
            states.append(machine->ask("dump"));
        const bool same = !states.first().isEmpty() && states.count(states.first()) == states.size();
        agreeing = same ? agreeing + 1 : 0;
        QThread::msleep(300);
    }
    ASSERT_EQ(states.size(), 3);
    for (int i = 1; i < 3; ++i)
        EXPECT_EQ(QJsonDocument::fromJson(states[i]).toJson().toStdString(),
                  QJsonDocument::fromJson(states[0]).toJson().toStdString())
            << "machine " << i << " differs from machine 0";
}

} // namespace

TEST(KeyValueConvergence, ThreeMachinesSettleOnTheSameSubscriptionsCategoriesKeywordsAndStars)
{
    const quint32 seed = qEnvironmentVariableIsSet("CORVANE_SYNC_SEED")
                             ? quint32(qEnvironmentVariableIntValue("CORVANE_SYNC_SEED"))
                             : QRandomGenerator::global()->generate();
    for (quint32 repeat = 0; repeat < 2; ++repeat)
        converge(seed + repeat * 100003);
}
