#include "alert.h"

#include <QMessageBox>
#include <QPushButton>

namespace corvane::desktop {

int runAlertBox(const Alert &alert)
{
    QMessageBox box(QMessageBox::Information, QStringLiteral("Corvane"), alert.message);
    box.setInformativeText(alert.informativeText);
    QList<QAbstractButton *> buttons;
    for (const QString &title : alert.buttons)
        buttons.append(box.addButton(title, buttons.isEmpty() ? QMessageBox::AcceptRole : QMessageBox::RejectRole));
    if (!buttons.isEmpty())
        box.setDefaultButton(qobject_cast<QPushButton *>(buttons.first()));
    box.exec();
    return int(buttons.indexOf(box.clickedButton()));
}

} // namespace corvane::desktop
