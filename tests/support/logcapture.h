#pragma once

#include <QStringList>

namespace corvane::test {

// Catches the log's lines while it lives, from any thread; one at a time.
// Its end sends the log back to stderr.
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    QStringList lines() const;
    qsizetype size() const { return lines().size(); }
    void clear();
    // Whether a line holds `needle`.
    bool contains(const QString &needle) const;
};

} // namespace corvane::test
