#include "corvaneassert.h"

#include "log.h"

#include <QByteArray>
#include <QString>

#include <cstdio>
#include <cstdlib>

namespace corvane {

bool assertionsAbort()
{
    static const bool abortOnFailure = [] {
        const QByteArray forced = qgetenv("CORVANE_ASSERT_ABORT");
        if (!forced.isEmpty())
            return forced != "0";
#ifdef NDEBUG
        return false;
#else
        return true;
#endif
    }();
    return abortOnFailure;
}

void assertionAbort(const char *text, const char *file, int line)
{
    std::fprintf(stderr, "Assertion failed: %s (%s:%d)\n", text, file, line);
    std::fflush(stderr);
    std::abort();
}

void assertionLog(const char *text, const char *file, int line)
{
    logLine(QStringLiteral("Assertion failed: %1 (%2:%3)")
                .arg(QString::fromUtf8(text), QString::fromUtf8(file))
                .arg(line));
}

} // namespace corvane
