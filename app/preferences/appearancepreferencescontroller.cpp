#include "appearancepreferencescontroller.h"

#include "colorchooserpopupbutton.h"
#include "settingbindings.h"

#include "ticker/enginebridge.h"
#include "ticker/mainwindowcontroller.h"

#include "base/settings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QRegularExpression>
#include <QFormLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QScreen>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>

namespace corvane::desktop {
namespace {

const QString kGradientAngle = QStringLiteral("gradientAngle");
const QString kLocation = QStringLiteral("location");
const QString kScreenNumber = QStringLiteral("ScreenNumber");

} // namespace

AppearancePreferencesController::AppearancePreferencesController(EngineBridge &bridge, Settings &settings,
                                                                 MainWindowController *controller, QWidget *parent)
    : QWidget(parent)
    , m_settings(settings)
    , m_controller(controller)
{
    auto *form = new QFormLayout;
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);

    m_fonts = new QComboBox;
    m_fonts->addItems(QFontDatabase::families());
    const QString fontName = settings.string(QStringLiteral("fontName"));
    if (m_fonts->findText(fontName) < 0)
        m_fonts->insertItem(0, fontName);
    m_fonts->setCurrentIndex(m_fonts->findText(fontName));
    connect(m_fonts, &QComboBox::activated, this, [this](int index) {
        m_settings.setValue(QStringLiteral("fontName"), m_fonts->itemText(index));
    });
    form->addRow(tr("Font:"), m_fonts);

    struct Size
    {
        const char *key;
        QString label;
        const char *unit;
        int minimum, maximum;
    };
    const Size sizes[] = {
        {"fontSize", tr("Text size:"), " pt", 6, 48},
        {"itemHeight", tr("Item height:"), " px", 30, 400},
        {"imageWidth", tr("Picture width:"), " px", 10, 200},
    };
    for (const Size &size : sizes) {
        auto *box = new QSpinBox;
        box->setRange(size.minimum, size.maximum);
        box->setSuffix(QString::fromLatin1(size.unit));
        settingbindings::bindSpinBox(box, settings, bridge, QString::fromLatin1(size.key));
        m_sizes.insert(QString::fromLatin1(size.key), box);
        form->addRow(size.label, box);
    }

    auto *opacity = new QSlider(Qt::Horizontal);
    opacity->setRange(0, 100);
    const auto showOpacity = [opacity, &settings] {
        const QSignalBlocker blocker(opacity);
        opacity->setValue(int(settings.real(QStringLiteral("opacity")) * 100 + 0.5));
    };
    showOpacity();
    bridge.watchSetting(QStringLiteral("opacity"));
    connect(&bridge, &EngineBridge::settingChanged, opacity, [showOpacity](const QString &key) {
        if (key == u"opacity")
            showOpacity();
    });
    connect(opacity, &QSlider::valueChanged, this,
            [this](int value) { m_settings.setValue(QStringLiteral("opacity"), value / 100.0); });
    form->addRow(tr("Background opacity:"), opacity);

    const std::pair<const char *, QString> colors[] = {
        {"backgroundColor", tr("Background colour:")},
        {"fontColor", tr("Text colour:")},
        {"markFontColor", tr("Keyword text colour:")},
        {"markBackgroundColor", tr("Keyword background:")},
    };
    for (const auto &[key, label] : colors) {
        auto *button = new ColorChooserPopUpButton;
        const QString name = QString::fromLatin1(key);
        button->setShowNone(name == u"markBackgroundColor");
        button->bindToUserDefaults(settings, name);
        m_colors.insert(name, button);
        form->addRow(label, button);
    }

    m_gradient = new QCheckBox(tr("Gradient"));
    m_angle = new QSpinBox;
    m_angle->setRange(0, 359);
    m_angle->setSuffix(QStringLiteral("°"));
    m_angle->setWrapping(true);
    auto *gradientRow = new QHBoxLayout;
    gradientRow->addWidget(m_gradient);
    gradientRow->addWidget(m_angle);
    gradientRow->addStretch();
    form->addRow(tr("Background:"), gradientRow);
    bridge.watchSetting(kGradientAngle);
    connect(&bridge, &EngineBridge::settingChanged, this, [this](const QString &key) {
        if (key == kGradientAngle)
            showGradient();
    });
    showGradient();
    connect(m_gradient, &QCheckBox::toggled, this, [this](bool on) {
        if (!on) {
            m_settings.setValue(kGradientAngle, -1.0);
            return;
        }
        const qint64 location = m_settings.integer(kLocation);
        m_settings.setValue(kGradientAngle, location == 1 ? 180.0 : location == 2 ? 270.0 : 0.0);
    });
    connect(m_angle, &QSpinBox::valueChanged, this, [this](int value) {
        if (gradientEnabled())
            m_settings.setValue(kGradientAngle, double(value));
    });

    m_placement = new QComboBox;
    m_placement->addItem(tr("Left screen edge"), 0);
    m_placement->addItem(tr("Right screen edge"), 1);
    m_placement->addItem(tr("Free window"), 2);
    settingbindings::bindComboData(m_placement, settings, bridge, kLocation);
    connect(m_placement, &QComboBox::activated, this,
            [this](int index) { placementChanged(m_placement->itemData(index).toInt()); });
    form->addRow(tr("Placement:"), m_placement);

    m_screens = new QComboBox;
    form->addRow(tr("Screen:"), m_screens);
    rebuildScreenList();
    connect(m_screens, &QComboBox::activated, this, &AppearancePreferencesController::chooseScreen);
    connect(qApp, &QGuiApplication::screenAdded, this, [this](QScreen *screen) {
        connect(screen, &QScreen::geometryChanged, this, &AppearancePreferencesController::rebuildScreenList);
        rebuildScreenList();
    });
    connect(qApp, &QGuiApplication::screenRemoved, this, &AppearancePreferencesController::rebuildScreenList);
    for (QScreen *screen : QGuiApplication::screens())
        connect(screen, &QScreen::geometryChanged, this, &AppearancePreferencesController::rebuildScreenList);
    bridge.watchSetting(kScreenNumber);
    connect(&bridge, &EngineBridge::settingChanged, this, [this](const QString &key) {
        if (key == kScreenNumber)
            rebuildScreenList();
    });

    auto *images = new QCheckBox(tr("Show pictures"));
    auto *small = new QCheckBox(tr("Small pictures"));
    auto *preview = new QCheckBox(tr("Preview items when the mouse rests on them"));
    auto *received = new QCheckBox(tr("Date items by the time they arrived"));
    settingbindings::bindCheckBox(images, settings, bridge, QStringLiteral("displayImage"));
    settingbindings::bindCheckBox(small, settings, bridge, QStringLiteral("smallImage"));
    settingbindings::bindCheckBox(preview, settings, bridge, QStringLiteral("enablePreview"));
    settingbindings::bindCheckBox(received, settings, bridge, QStringLiteral("receiveTimeStamp"));
    auto *boxes = new QVBoxLayout;
    for (QCheckBox *box : {images, small, preview, received})
        boxes->addWidget(box);
    form->addRow(tr("Items:"), boxes);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addStretch();
}

QSpinBox *AppearancePreferencesController::sizeField(const QString &key) const
{
    return m_sizes.value(key);
}

ColorChooserPopUpButton *AppearancePreferencesController::colorButton(const QString &key) const
{
    return m_colors.value(key);
}

bool AppearancePreferencesController::gradientEnabled() const
{
    return m_settings.real(kGradientAngle) > -1;
}

void AppearancePreferencesController::showGradient()
{
    const double angle = m_settings.real(kGradientAngle);
    const QSignalBlocker gradient(m_gradient);
    const QSignalBlocker field(m_angle);
    m_gradient->setChecked(angle > -1);
    m_angle->setEnabled(angle > -1);
    m_angle->setValue(angle > -1 ? int(angle) : 0);
}

void AppearancePreferencesController::placementChanged(int location)
{
    m_settings.setValue(kLocation, location);
    if (!gradientEnabled())
        return;
    switch (location) {
    case 0: m_settings.setValue(kGradientAngle, 0.0); break;
    case 1: m_settings.setValue(kGradientAngle, 180.0); break;
    case 2: m_settings.setValue(kGradientAngle, 270.0); break;
    default: break;
    }
}

QString AppearancePreferencesController::screenTitle(int index, const QScreen *screen)
{
    const QString product = QStringList{screen->manufacturer().trimmed(), screen->model().trimmed()}
                                .filter(QRegularExpression(QStringLiteral("\\S")))
                                .join(u' ');
    const QSize size = screen->geometry().size();
    return QStringLiteral("%1. %2 (%3x%4)")
        .arg(index + 1)
        .arg(product.isEmpty() ? tr("Unknown") : product)
        .arg(size.width())
        .arg(size.height());
}

void AppearancePreferencesController::rebuildScreenList()
{
    const QSignalBlocker blocker(m_screens);
    m_screens->clear();
    const QList<QScreen *> screens = QGuiApplication::screens();
    for (int i = 0; i < screens.size(); ++i)
        m_screens->addItem(screenTitle(i, screens[i]));
    QScreen *shown = nullptr;
    if (m_controller && m_controller->window() && m_controller->window()->isVisible())
        shown = m_controller->window()->screen();
    if (!shown && m_controller)
        shown = m_controller->desiredScreen();
    int index = int(screens.indexOf(shown));
    if (index < 0) {
        // The desired screen: the one at ScreenNumber, else the first.
        const qint64 number = m_settings.integer(kScreenNumber);
        index = number >= 0 && number < screens.size() ? int(number) : 0;
    }
    m_screens->setCurrentIndex(screens.isEmpty() ? -1 : index);
}

void AppearancePreferencesController::chooseScreen(int index)
{
    const QList<QScreen *> screens = QGuiApplication::screens();
    if (index < 0 || index >= screens.size())
        return;
    m_settings.setValue(kScreenNumber, index);
    if (m_controller)
        m_controller->resizeWindowForScreen(screens[index]);
}

} // namespace corvane::desktop
