// get, set, unset, clock, machine, paths.
#include "cli.h"

#include "base/clock.h"
#include "base/commoncolor.h"
#include "base/machineidentity.h"
#include "base/paths.h"
#include "base/settings.h"

namespace corvane::cli {
namespace {

QString describe(const QVariant &value)
{
    if (value.typeId() == QMetaType::QByteArray) {
        if (const auto color = CommonColor::fromArchive(value.toByteArray()))
            return QStringLiteral("color(%1, %2, %3, %4)")
                .arg(color->red)
                .arg(color->green)
                .arg(color->blue)
                .arg(color->alpha);
        return QStringLiteral("bytes(%1)").arg(QString::fromLatin1(value.toByteArray().toHex()));
    }
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(u'\n');
    return value.toString();
}

int get(Invocation &call)
{
    if (!hasArguments(call, 1, 1))
        return 2;
    const QVariant value = call.settings.value(call.args[0]);
    if (!value.isValid())
        return fail(QStringLiteral("no setting %1").arg(call.args[0]));
    out() << describe(value) << '\n';
    return 0;
}

} // namespace

const QList<Command> &settingsCommands()
{
    static const QList<Command> commands = {
        {"get", "get KEY", "Prints the value of a setting: the stored one, else its default.", get},
        {"set", "set KEY VALUE", "Stores a setting.",
         [](Invocation &call) {
             if (!hasArguments(call, 2, 2))
                 return 2;
             call.settings.setValue(call.args[0], call.args[1]);
             return 0;
         }},
        {"unset", "unset KEY", "Removes a stored setting, so its default applies again.",
         [](Invocation &call) {
             if (!hasArguments(call, 1, 1))
                 return 2;
             call.settings.removeValue(call.args[0]);
             return 0;
         }},
        {"clock", "clock", "Prints the current Lamport stamp.",
         [](Invocation &call) {
             if (!hasArguments(call, 0, 0))
                 return 2;
             out() << Clock::sharedClock().current() << '\n';
             return 0;
         }},
        {"machine", "machine", "Prints this machine's identity.",
         [](Invocation &call) {
             if (!hasArguments(call, 0, 0))
                 return 2;
             out() << thisMachine(call.settings) << '\n';
             return 0;
         }},
        {"paths", "paths", "Prints the folders Corvane uses.",
         [](Invocation &call) {
             if (!hasArguments(call, 0, 0))
                 return 2;
             out() << "settings " << call.settings.filePath() << '\n'
                   << "store    " << paths::storeDir() << '\n'
                   << "caches   " << paths::cachesDir() << '\n';
             return 0;
         }},
    };
    return commands;
}

} // namespace corvane::cli
