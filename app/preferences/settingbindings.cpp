#include "settingbindings.h"

#include "ticker/enginebridge.h"

#include "base/settings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QIntValidator>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QSpinBox>

namespace corvane::desktop::settingbindings {
namespace {

// Calls `show` now and after each change of the key, for as long as `widget` lives.
template<typename Widget, typename Show>
void follow(Widget *widget, EngineBridge &bridge, const QString &key, Show show)
{
    bridge.watchSetting(key);
    show();
    QObject::connect(&bridge, &EngineBridge::settingChanged, widget, [key, show](const QString &changed) {
        if (changed == key)
            show();
    });
}

} // namespace

void bindCheckBox(QCheckBox *box, Settings &settings, EngineBridge &bridge, const QString &key)
{
    follow(box, bridge, key, [box, &settings, key] {
        const QSignalBlocker blocker(box);
        box->setChecked(settings.boolean(key));
    });
    QObject::connect(box, &QCheckBox::toggled, box, [&settings, key](bool on) { settings.setValue(key, on); });
}

void bindSpinBox(QSpinBox *box, Settings &settings, EngineBridge &bridge, const QString &key)
{
    follow(box, bridge, key, [box, &settings, key] {
        const QSignalBlocker blocker(box);
        box->setValue(int(settings.integer(key)));
    });
    QObject::connect(box, &QSpinBox::valueChanged, box, [&settings, key](int value) { settings.setValue(key, value); });
}

void bindComboData(QComboBox *box, Settings &settings, EngineBridge &bridge, const QString &key)
{
    follow(box, bridge, key, [box, &settings, key] {
        const QSignalBlocker blocker(box);
        const int index = box->findData(settings.value(key));
        box->setCurrentIndex(index >= 0 ? index : 0);
    });
    QObject::connect(box, &QComboBox::activated, box,
                     [box, &settings, key](int index) { settings.setValue(key, box->itemData(index)); });
}

void bindIntegerField(QLineEdit *field, Settings &settings, EngineBridge &bridge, const QString &key)
{
    field->setValidator(new QIntValidator(0, 1000000, field));
    follow(field, bridge, key, [field, &settings, key] {
        if (field->hasFocus())
            return; // the user is typing it
        field->setText(settings.hasStoredValue(key) || settings.value(key).isValid()
                           ? QString::number(settings.integer(key))
                           : QString());
    });
    QObject::connect(field, &QLineEdit::textEdited, field, [&settings, key](const QString &text) {
        if (text.trimmed().isEmpty())
            settings.removeValue(key);
        else
            settings.setValue(key, text.trimmed().toLongLong());
    });
}

} // namespace corvane::desktop::settingbindings
