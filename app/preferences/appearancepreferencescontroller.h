#pragma once

#include <QHash>
#include <QWidget>

class QCheckBox;
class QComboBox;
class QScreen;
class QSpinBox;

namespace corvane {
class Settings;
}

namespace corvane::desktop {

class ColorChooserPopUpButton;
class EngineBridge;
class MainWindowController;

// The appearance pane: font, sizes, colours, gradient, placement and the
// screen the bar stands on.
class AppearancePreferencesController : public QWidget
{
    Q_OBJECT
public:
    // `controller` may be null (no bar): then choosing a screen only stores it.
    AppearancePreferencesController(EngineBridge &bridge, Settings &settings, MainWindowController *controller,
                                    QWidget *parent = nullptr);

    QComboBox *fontList() const { return m_fonts; }
    QComboBox *placementList() const { return m_placement; }
    QComboBox *screenList() const { return m_screens; }
    QCheckBox *gradientBox() const { return m_gradient; }
    QSpinBox *angleField() const { return m_angle; }
    QSpinBox *sizeField(const QString &key) const;
    ColorChooserPopUpButton *colorButton(const QString &key) const;

    // "1. Maker Model (1920x1080)" for the screen at index 0.
    static QString screenTitle(int index, const QScreen *screen);
    bool gradientEnabled() const;
    // Stores the placement; with the gradient on, the angle follows it.
    void placementChanged(int location);
    void rebuildScreenList();
    void chooseScreen(int index);

private:
    void showGradient();

    Settings &m_settings;
    MainWindowController *m_controller;
    QComboBox *m_fonts = nullptr;
    QComboBox *m_placement = nullptr;
    QComboBox *m_screens = nullptr;
    QCheckBox *m_gradient = nullptr;
    QSpinBox *m_angle = nullptr;
    QHash<QString, QSpinBox *> m_sizes;
    QHash<QString, ColorChooserPopUpButton *> m_colors;
};

} // namespace corvane::desktop
