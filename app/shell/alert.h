#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace corvane::desktop {

// A modal question with its buttons, the first being the default.
struct Alert
{
    QString message;
    QString informativeText;
    QStringList buttons;
};

// Runs an alert and answers the index of the button chosen (-1 when closed
// otherwise). Tests replace it to answer without a window.
using AlertRunner = std::function<int(const Alert &)>;

// The desktop's message box.
int runAlertBox(const Alert &alert);

} // namespace corvane::desktop
