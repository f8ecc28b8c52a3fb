#pragma once

#include "base/commoncolor.h"
#include "base/notificationcenter.h"

#include <QComboBox>
#include <QList>
#include <QPixmap>
#include <QPointer>

#include <optional>

#include <QColorDialog>

namespace corvane {
class Settings;
}

namespace corvane::desktop {

// The pop-up through which the preferences choose a colour: "None" (when
// shown), the preset colours with their swatches, and "Other…", which opens
// the colour dialog. The chosen colour can be written to a setting (as the
// CommonColor archive), reported through colorDidChange, or both.
class ColorChooserPopUpButton : public QComboBox
{
    Q_OBJECT
public:
    using Color = std::optional<CommonColor>;

    struct Preset
    {
        QString name;
        CommonColor color;
    };
    // The application's preset colours (a resource list of name, r, g, b).
    static const QList<Preset> &presets();
    // 15 × 10, filled with the colour and framed in black, 2 wide.
    static QPixmap swatch(const CommonColor &color);

    explicit ColorChooserPopUpButton(QWidget *parent = nullptr);
    ~ColorChooserPopUpButton() override;

    Color color() const { return m_color; }
    void setColor(const Color &color) { m_color = color; }
    Color defaultColor() const { return m_defaultColor; }
    // Stores the default and applies it as a change.
    void setDefaultColor(const Color &color);
    void reset();

    bool showNone() const { return m_showNone; }
    void setShowNone(bool show);

    // Follows the setting (its current value at once) and writes every change to it.
    void bindToUserDefaults(Settings &settings, const QString &key);
    void setUserDefaultsKey(Settings &settings, const QString &key) { bindToUserDefaults(settings, key); }
    QString userDefaultsKey() const { return m_key; }

    // The change paths: a menu entry, a colour (or none), the colour dialog.
    void changeColorFromEntry(int index);
    void changeColor(const Color &color);
    void changeColorFromPanel(const QColor &color);
    // The action of "Other…"; the dialog stays open until closed (colorPanel()).
    void showColorPanel();
    QColorDialog *colorPanel() const { return m_panel; }

    // Entry indexes.
    int otherIndex() const { return count() - 1; }
    // The colour the entry carries; none for "None" and for an empty "Other…".
    Color entryColor(int index) const;

Q_SIGNALS:
    void colorDidChange(corvane::desktop::ColorChooserPopUpButton *button);

private:
    void buildMenu();
    void updateSelection();
    void setOtherColor(const CommonColor &color);
    void finishChange();
    void settingChanged();
    void unbind();
    void entryActivated(int index);

    Color m_color;
    Color m_defaultColor;
    Color m_otherColor;
    bool m_showNone = false;
    bool m_inited = false;
    Settings *m_settings = nullptr;
    QString m_key;
    quint64 m_observer = 0;
    bool m_writing = false;
    QPointer<QColorDialog> m_panel;
};

} // namespace corvane::desktop
