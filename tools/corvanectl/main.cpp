// corvanectl: the command-line front end of the Corvane engine.
#include "base/clock.h"
#include "base/machineidentity.h"
#include "base/paths.h"
#include "base/settings.h"
#include "base/settingsdefaults.h"

#include <QCoreApplication>
#include <QStringList>
#include <QTextStream>

#include <cstdio>

using namespace corvane;

namespace {

const char kUsage[] = R"(Usage: corvanectl [OPTIONS] COMMAND [ARGS]

Options:
  --home DIR           keep every file below DIR (same as CORVANE_HOME)
  --set KEY=VALUE      store a setting before running the command
  -h, --help           show this text

Commands:
  get KEY              print the value of a setting (stored, else its default)
  set KEY VALUE        store a setting
  unset KEY            remove a stored setting, so its default applies again
  clock                print the current Lamport stamp
  machine              print this machine's identity
  paths                print the folders Corvane uses
)";

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

int usageError(const QString &message)
{
    QTextStream(stderr) << "corvanectl: " << message << "\n\n" << kUsage;
    return 2;
}

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
    return value.toString();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);

    QStringList presets;
    while (!args.isEmpty() && args.first().startsWith(u'-')) {
        const QString option = args.takeFirst();
        if (option == u"-h" || option == u"--help") {
            out() << kUsage;
            return 0;
        }
        if (args.isEmpty())
            return usageError(QStringLiteral("option %1 needs a value").arg(option));
        if (option == u"--home")
            qputenv("CORVANE_HOME", args.takeFirst().toLocal8Bit());
        else if (option == u"--set")
            presets.append(args.takeFirst());
        else
            return usageError(QStringLiteral("unknown option %1").arg(option));
    }
    if (args.isEmpty())
        return usageError(QStringLiteral("no command given"));

    Settings &settings = Settings::shared();
    applyStartUpSettings(settings);
    for (const QString &preset : presets) {
        const qsizetype eq = preset.indexOf(u'=');
        if (eq <= 0)
            return usageError(QStringLiteral("--set needs KEY=VALUE, got %1").arg(preset));
        settings.setValue(preset.left(eq), preset.mid(eq + 1));
    }

    const QString command = args.takeFirst();
    const auto expect = [&](qsizetype count) { return args.size() == count; };
    if (command == u"get" && expect(1)) {
        const QVariant value = settings.value(args[0]);
        if (!value.isValid()) {
            QTextStream(stderr) << "corvanectl: no setting " << args[0] << '\n';
            return 1;
        }
        out() << describe(value) << '\n';
    } else if (command == u"set" && expect(2)) {
        settings.setValue(args[0], args[1]);
    } else if (command == u"unset" && expect(1)) {
        settings.removeValue(args[0]);
    } else if (command == u"clock" && expect(0)) {
        out() << Clock::sharedClock().current() << '\n';
    } else if (command == u"machine" && expect(0)) {
        out() << thisMachine(settings) << '\n';
    } else if (command == u"paths" && expect(0)) {
        out() << "settings " << settings.filePath() << '\n'
              << "store    " << paths::storeDir() << '\n'
              << "caches   " << paths::cachesDir() << '\n';
    } else {
        return usageError(QStringLiteral("unknown command or wrong arguments: %1").arg(command));
    }
    return 0;
}
