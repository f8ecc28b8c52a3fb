#pragma once

#include <QString>
#include <QTemporaryDir>

namespace corvane::test {

// A fresh, empty CORVANE_HOME for one test; the previous value is restored
// (and the folder removed) when it goes out of scope.
class TempHome
{
public:
    TempHome();
    ~TempHome();
    TempHome(const TempHome &) = delete;
    TempHome &operator=(const TempHome &) = delete;

    QString path() const { return m_dir.path(); }
    QString filePath(const QString &name) const { return m_dir.filePath(name); }

private:
    QTemporaryDir m_dir;
    QByteArray m_previous;
    bool m_hadPrevious;
};

} // namespace corvane::test
