#include "generalpreferencescontroller.h"

#include "pocketaccountrow.h"
#include "sharing/pocket.h"

#include "keywordsfield.h"
#include "settingbindings.h"

#include "platform/autostart.h"
#include "platform/eventsound.h"
#include "platform/schemehandler.h"
#include "ticker/enginebridge.h"

#include "base/settings.h"
#include "feeds/refresh/datasourcemanager.h"
#include "feeds/starmanager.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGuiApplication>
#include <QHash>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace corvane::desktop {
namespace {

const QString kFeedScheme = QStringLiteral("feed");

} // namespace

GeneralPreferencesController::GeneralPreferencesController(DatasourceManager &engine, EngineBridge &bridge,
                                                           Settings &settings, const Options &options,
                                                           QWidget *parent)
    : QWidget(parent)
    , m_engine(engine)
    , m_bridge(bridge)
    , m_settings(settings)
    , m_playSound(options.playSound ? options.playSound : [](const QString &name) { return eventsound::play(name); })
{
    auto *form = new QFormLayout;
    form->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);

    m_sounds = new QComboBox;
    auto *alwaysPlay = new QCheckBox(tr("Play it for every new item, not only for marked ones"));
    auto *soundBox = new QVBoxLayout;
    soundBox->addWidget(m_sounds);
    soundBox->addWidget(alwaysPlay);
    form->addRow(tr("New item sound:"), soundBox);

    m_limit = new QLineEdit;
    m_ageLimit = new QLineEdit;
    m_refreshRate = new QLineEdit;
    m_batteryRefresh = new QLineEdit;
    for (QLineEdit *field : {m_limit, m_ageLimit, m_refreshRate, m_batteryRefresh})
        field->setMaximumWidth(90);
    form->addRow(tr("Items shown per feed:"), m_limit);
    form->addRow(tr("Days items are kept:"), m_ageLimit);
    form->addRow(tr("Refresh every (minutes):"), m_refreshRate);
    form->addRow(tr("On battery, every (minutes):"), m_batteryRefresh);

    m_openAtLogin = new QCheckBox(tr("Open Corvane when I log in"));
    form->addRow(QString(), m_openAtLogin);

    m_readers = new QComboBox;
    form->addRow(tr("Default feed reader:"), m_readers);

    auto *deleteStars = new QPushButton(tr("Delete All Stars…"));
    form->addRow(tr("Stars:"), deleteStars);
    m_pocket = new PocketAccountRow(Pocket::sharedInstance());
    form->addRow(tr("Pocket:"), m_pocket);

    m_keywords = new KeywordsField(engine.contextMain());
    m_keywords->setFixedSize(320, 110);
    form->addRow(tr("Keywords:"), m_keywords);

    m_cloudSync = new QCheckBox(tr("Sync through the cloud folder"));
    m_cloudSync->setToolTip(tr("Keeps feeds, keywords, stars and read items in step on all your machines."));
    form->addRow(tr("Sync:"), m_cloudSync);
    for (QComboBox *box : {m_sounds, m_readers})
        box->setMinimumWidth(320);

    m_message = new QLabel;
    m_message->setWordWrap(true);
    m_message->setStyleSheet(QStringLiteral("color: #b00020"));
    m_message->hide();

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(m_message);
    layout->addStretch();

    settingbindings::bindCheckBox(alwaysPlay, settings, bridge, QStringLiteral("alwaysPlaySound"));
    settingbindings::bindIntegerField(m_limit, settings, bridge, QStringLiteral("limit"));
    settingbindings::bindIntegerField(m_ageLimit, settings, bridge, QStringLiteral("ageLimit"));
    settingbindings::bindIntegerField(m_refreshRate, settings, bridge, QStringLiteral("refreshRate"));
    settingbindings::bindIntegerField(m_batteryRefresh, settings, bridge, QStringLiteral("batteryRefreshRate"));
    settingbindings::bindCheckBox(m_cloudSync, settings, bridge, QStringLiteral("iCloudEnabled"));

    // The battery rate falls back to the normal one, shown as its placeholder.
    const auto showRefreshPlaceholder = [this] {
        m_batteryRefresh->setPlaceholderText(
            QString::asprintf("%ld", long(m_settings.integer(QStringLiteral("refreshRate")))));
    };
    showRefreshPlaceholder();
    bridge.watchSetting(QStringLiteral("refreshRate"));
    connect(&bridge, &EngineBridge::settingChanged, this, [showRefreshPlaceholder](const QString &key) {
        if (key == u"refreshRate")
            showRefreshPlaceholder();
    });

    rebuildSoundList();
    connect(m_sounds, &QComboBox::activated, this, &GeneralPreferencesController::chooseSound);

    m_openAtLogin->setChecked(autostart::isEnabled());
    connect(m_openAtLogin, &QCheckBox::toggled, this, &GeneralPreferencesController::setOpenAtLogin);

    rebuildReaderList();
    connect(m_readers, &QComboBox::activated, this, &GeneralPreferencesController::chooseReader);
    connect(qApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
        if (state == Qt::ApplicationActive)
            rebuildReaderList();
    });

    connect(deleteStars, &QPushButton::clicked, this, [this] {
        auto *box = new QMessageBox(QMessageBox::Question, tr("Delete All Stars"),
                                    tr("Do you want to remove the star from every item?"),
                                    QMessageBox::Yes | QMessageBox::No, this);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setWindowModality(Qt::WindowModal);
        connect(box, &QMessageBox::finished, this, [this](int result) {
            if (result == QMessageBox::Yes)
                deleteStarred();
        });
        box->open();
    });
}

void GeneralPreferencesController::rebuildSoundList()
{
    const QSignalBlocker blocker(m_sounds);
    m_sounds->clear();
    m_sounds->addItem(tr("No sound"), QString());
    for (const QString &name : eventsound::availableSounds())
        m_sounds->addItem(name, name);
    const QString current = m_settings.string(QStringLiteral("soundName"));
    int index = m_sounds->findData(current);
    if (index < 0 && !current.isEmpty()) {
        // A sound the theme no longer has stays chosen (it plays nothing).
        m_sounds->addItem(current, current);
        index = m_sounds->count() - 1;
    }
    m_sounds->setCurrentIndex(std::max(index, 0));
}

void GeneralPreferencesController::chooseSound(int index)
{
    const QString name = m_sounds->itemData(index).toString();
    if (name.isEmpty())
        m_settings.removeValue(QStringLiteral("soundName"));
    else
        m_settings.setValue(QStringLiteral("soundName"), name);
    m_playSound(m_settings.string(QStringLiteral("soundName")));
}

void GeneralPreferencesController::rebuildReaderList()
{
    const QSignalBlocker blocker(m_readers);
    m_readers->clear();
    const QList<schemehandler::Handler> handlers = schemehandler::handlers(kFeedScheme);
    QHash<QString, int> nameCount;
    for (const schemehandler::Handler &handler : handlers)
        ++nameCount[handler.name];
    for (const schemehandler::Handler &handler : handlers) {
        const QString title = nameCount.value(handler.name) > 1
                                  ? QStringLiteral("%1 (%2)").arg(handler.name, handler.desktopId)
                                  : handler.name;
        m_readers->addItem(title, handler.desktopId);
    }
    if (handlers.isEmpty())
        m_readers->addItem(tr("No application opens feed links"));
    const QString current = schemehandler::defaultHandler(kFeedScheme);
    const int index = m_readers->findData(current);
    m_readers->setCurrentIndex(handlers.isEmpty() ? 0 : index);
    m_readers->setEnabled(!handlers.isEmpty());
}

void GeneralPreferencesController::chooseReader(int index)
{
    const QString desktopId = m_readers->itemData(index).toString();
    if (desktopId.isEmpty())
        return;
    if (!schemehandler::setDefaultHandler(desktopId, kFeedScheme)) {
        m_message->setText(tr("The default feed reader could not be changed."));
        m_message->show();
    } else {
        m_message->hide();
    }
    rebuildReaderList();
}

void GeneralPreferencesController::setOpenAtLogin(bool on)
{
    // A login entry that cannot be written is said, and the box shows what is.
    if (!autostart::setEnabled(on)) {
        m_message->setText(on ? tr("Corvane could not be set to open at login.")
                              : tr("Corvane could not be kept from opening at login."));
        m_message->show();
    } else {
        m_message->hide();
    }
    const QSignalBlocker blocker(m_openAtLogin);
    m_openAtLogin->setChecked(autostart::isEnabled());
}

void GeneralPreferencesController::deleteStarred()
{
    StarManager(m_engine.stores()).removeAll();
}

} // namespace corvane::desktop
