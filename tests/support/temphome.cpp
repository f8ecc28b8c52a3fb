#include "temphome.h"

#include <cstdlib>

namespace corvane::test {

TempHome::TempHome()
    : m_previous(qgetenv("CORVANE_HOME"))
    , m_hadPrevious(qEnvironmentVariableIsSet("CORVANE_HOME"))
{
    qputenv("CORVANE_HOME", m_dir.path().toLocal8Bit());
}

TempHome::~TempHome()
{
    if (m_hadPrevious)
        qputenv("CORVANE_HOME", m_previous);
    else
        qunsetenv("CORVANE_HOME");
}

} // namespace corvane::test
