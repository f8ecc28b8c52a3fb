#include "colorchooserpopupbutton.h"

#include "base/dispatch.h"
#include "base/settings.h"

#include <QColorDialog>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>

// Resources of a static library are registered by hand, outside any namespace.
static void initPreferencesResources()
{
    Q_INIT_RESOURCE(preferences);
}

namespace corvane::desktop {
namespace {

QColor toQColor(const CommonColor &color)
{
    return QColor::fromRgbF(float(color.red), float(color.green), float(color.blue), float(color.alpha));
}

CommonColor fromQColor(const QColor &color)
{
    const QColor rgb = color.toRgb();
    return {rgb.redF(), rgb.greenF(), rgb.blueF(), rgb.alphaF()};
}

QList<ColorChooserPopUpButton::Preset> readPresets()
{
    initPreferencesResources();
    QFile file(QStringLiteral(":/corvane/preferences/colors.json"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QList<ColorChooserPopUpButton::Preset> presets;
    for (const QJsonValue &value : QJsonDocument::fromJson(file.readAll()).array()) {
        const QJsonObject entry = value.toObject();
        const QString name = entry.value(QLatin1String("name")).toString();
        if (name.isEmpty())
            continue;
        presets.append({name,
                        {entry.value(QLatin1String("r")).toDouble(), entry.value(QLatin1String("g")).toDouble(),
                         entry.value(QLatin1String("b")).toDouble(), 1.0}});
    }
    return presets;
}

} // namespace

const QList<ColorChooserPopUpButton::Preset> &ColorChooserPopUpButton::presets()
{
    static const QList<Preset> list = readPresets();
    return list;
}

QPixmap ColorChooserPopUpButton::swatch(const CommonColor &color)
{
    // A black frame 2 wide around the colour.
    QPixmap pixmap(15, 10);
    pixmap.fill(Qt::black);
    QPainter painter(&pixmap);
    painter.fillRect(QRect(2, 2, 11, 6), toQColor(color));
    return pixmap;
}

ColorChooserPopUpButton::ColorChooserPopUpButton(QWidget *parent)
    : QComboBox(parent)
{
    setIconSize(QSize(15, 10));
    buildMenu();
    connect(this, &QComboBox::activated, this, &ColorChooserPopUpButton::entryActivated);
}

ColorChooserPopUpButton::~ColorChooserPopUpButton()
{
    unbind();
}

void ColorChooserPopUpButton::buildMenu()
{
    if (m_inited)
        return;
    m_inited = true;
    const QSignalBlocker blocker(this);
    if (m_showNone)
        addItem(tr("None"));
    for (const Preset &preset : presets())
        addItem(QIcon(swatch(preset.color)), preset.name, QVariant(preset.color.archived()));
    addItem(tr("Other…"));
    updateSelection();
}

void ColorChooserPopUpButton::setShowNone(bool show)
{
    buildMenu();
    if (show == m_showNone)
        return;
    m_showNone = show;
    const QSignalBlocker blocker(this);
    if (show)
        insertItem(0, tr("None"));
    else
        removeItem(0);
    updateSelection();
}

ColorChooserPopUpButton::Color ColorChooserPopUpButton::entryColor(int index) const
{
    if (index == otherIndex())
        return m_otherColor;
    return CommonColor::fromArchive(itemData(index, Qt::UserRole).toByteArray());
}

void ColorChooserPopUpButton::updateSelection()
{
    const QSignalBlocker blocker(this);
    if (!m_color) {
        setCurrentIndex(0);
        return;
    }
    for (int i = 0; i < otherIndex(); ++i)
        if (entryColor(i) == m_color) {
            setCurrentIndex(i);
            return;
        }
    setOtherColor(*m_color);
    setCurrentIndex(otherIndex());
}

void ColorChooserPopUpButton::setOtherColor(const CommonColor &color)
{
    m_otherColor = color;
    setItemIcon(otherIndex(), QIcon(swatch(color)));
}

void ColorChooserPopUpButton::entryActivated(int index)
{
    if (index == otherIndex())
        showColorPanel();
    else
        changeColorFromEntry(index);
}

void ColorChooserPopUpButton::changeColorFromEntry(int index)
{
    m_color = entryColor(index);
    {
        const QSignalBlocker blocker(this);
        setCurrentIndex(index);
    }
    finishChange();
}

void ColorChooserPopUpButton::changeColor(const Color &color)
{
    m_color = color;
    updateSelection();
    finishChange();
}

void ColorChooserPopUpButton::changeColorFromPanel(const QColor &color)
{
    const CommonColor chosen = fromQColor(color);
    m_color = chosen;
    setOtherColor(chosen);
    {
        const QSignalBlocker blocker(this);
        setCurrentIndex(otherIndex());
    }
    finishChange();
}

void ColorChooserPopUpButton::finishChange()
{
    if (m_settings && !m_key.isEmpty()) {
        m_writing = true;
        if (m_color)
            m_settings->setColor(m_key, *m_color);
        else
            m_settings->removeValue(m_key);
        m_writing = false;
    }
    Q_EMIT colorDidChange(this);
}

void ColorChooserPopUpButton::setDefaultColor(const Color &color)
{
    m_defaultColor = color;
    changeColor(color);
}

void ColorChooserPopUpButton::reset()
{
    changeColor(m_defaultColor);
}

void ColorChooserPopUpButton::showColorPanel()
{
    if (m_panel) {
        m_panel->raise();
        m_panel->activateWindow();
        return;
    }
    const Color start = m_otherColor ? m_otherColor : m_color;
    if (m_otherColor)
        changeColorFromPanel(toQColor(*m_otherColor));
    auto *panel = new QColorDialog(start ? toQColor(*start) : QColor(Qt::white), window());
    panel->setOption(QColorDialog::ShowAlphaChannel, false);
    panel->setOption(QColorDialog::NoButtons, true);
    panel->setAttribute(Qt::WA_DeleteOnClose);
    panel->setWindowModality(Qt::ApplicationModal);
    m_panel = panel;
    connect(panel, &QColorDialog::currentColorChanged, this, &ColorChooserPopUpButton::changeColorFromPanel);
    connect(panel, &QDialog::finished, this, [this] {
        m_panel = nullptr;
        // Closed without a colour ever chosen: back to the entry of the current colour.
        if (!m_otherColor)
            updateSelection();
    });
    panel->show();
    panel->raise();
    panel->activateWindow();
}

void ColorChooserPopUpButton::bindToUserDefaults(Settings &settings, const QString &key)
{
    buildMenu();
    unbind();
    m_settings = &settings;
    m_key = key;
    QPointer<ColorChooserPopUpButton> self(this);
    m_observer = settings.observe(key, [self](const QVariant &) {
        // Set from another thread: the button is told on the main thread.
        dispatch::main().async([self] {
            if (self && !self->m_writing)
                self->settingChanged();
        });
    });
    settingChanged();
}

void ColorChooserPopUpButton::settingChanged()
{
    if (!m_settings)
        return;
    m_color = m_settings->color(m_key);
    updateSelection();
}

void ColorChooserPopUpButton::unbind()
{
    if (m_settings && m_observer)
        m_settings->removeObserver(m_observer);
    m_settings = nullptr;
    m_observer = 0;
    m_key.clear();
}

} // namespace corvane::desktop
