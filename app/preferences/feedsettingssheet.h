#pragma once

#include "store/objectid.h"

#include <QDialog>
#include <QHash>

class QLabel;
class QLineEdit;

namespace corvane {
class Context;
class Datasource;
class Settings;
}

namespace corvane::desktop {

class ColorChooserPopUpButton;

// One subscription's own settings: name, address, item limits, refresh
// rate, colours and icon. The numbers and colours apply as they change;
// Save applies the name, address and icon as well.
class FeedSettingsSheet : public QDialog
{
    Q_OBJECT
public:
    FeedSettingsSheet(Context *context, ObjectID datasource, Settings &settings, QWidget *parent = nullptr);

    QLineEdit *nameField() const { return m_name; }
    QLineEdit *addressField() const { return m_address; }
    QLineEdit *numberField(const QString &key) const;
    ColorChooserPopUpButton *fontColorButton() const { return m_fontColor; }
    ColorChooserPopUpButton *backgroundColorButton() const { return m_backgroundColor; }
    QLabel *messageLabel() const { return m_message; }

    // Applies every field and saves; false (with a message) when the address is refused.
    bool save();
    void resetIcon();
    void chooseIcon(const QString &path);

private:
    Datasource *datasource() const;
    void numberChanged(const QString &key, const QString &text);
    void colorChanged(ColorChooserPopUpButton *button);

    Context *m_context;
    ObjectID m_id;
    Settings &m_settings;
    QLineEdit *m_name = nullptr;
    QLineEdit *m_address = nullptr;
    QHash<QString, QLineEdit *> m_numbers;
    ColorChooserPopUpButton *m_fontColor = nullptr;
    ColorChooserPopUpButton *m_backgroundColor = nullptr;
    QLabel *m_icon = nullptr;
    QLabel *m_message = nullptr;
    QByteArray m_iconArchive;
    bool m_iconChanged = false;
};

} // namespace corvane::desktop
