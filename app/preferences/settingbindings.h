#pragma once

#include <QString>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QSpinBox;

namespace corvane {
class Settings;
}

namespace corvane::desktop {

class EngineBridge;

// Widgets that show one setting, store every change of it and follow the
// changes made elsewhere (another pane, a shortcut, the command line).
namespace settingbindings {

void bindCheckBox(QCheckBox *box, Settings &settings, EngineBridge &bridge, const QString &key);
void bindSpinBox(QSpinBox *box, Settings &settings, EngineBridge &bridge, const QString &key);
// The combo box's item data are the setting's values.
void bindComboData(QComboBox *box, Settings &settings, EngineBridge &bridge, const QString &key);
// Every keystroke stores the field's integer under the key; empty removes it.
void bindIntegerField(QLineEdit *field, Settings &settings, EngineBridge &bridge, const QString &key);

} // namespace settingbindings
} // namespace corvane::desktop
