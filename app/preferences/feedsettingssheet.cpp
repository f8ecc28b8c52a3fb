#include "feedsettingssheet.h"

#include "addfeedtext.h"
#include "colorchooserpopupbutton.h"

#include "base/notificationcenter.h"
#include "base/settings.h"
#include "feeds/refresh/commonimage.h"
#include "store/context.h"
#include "store/datasource.h"
#include "store/storemanager.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QImage>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace corvane::desktop {
namespace {

const char *const kNumberKeys[] = {"limit", "ageLimit", "refreshRate"};

QPixmap iconPixmap(const QByteArray &archive)
{
    QImage image = QImage::fromData(archive);
    if (image.isNull())
        return {};
    return QPixmap::fromImage(image.scaled(32, 32, Qt::KeepAspectRatio, Qt::SmoothTransformation));
}

} // namespace

FeedSettingsSheet::FeedSettingsSheet(Context *context, ObjectID id, Settings &settings, QWidget *parent)
    : QDialog(parent)
    , m_context(context)
    , m_id(id)
    , m_settings(settings)
{
    setWindowTitle(tr("Feed Settings"));
    setWindowModality(Qt::WindowModal);
    Datasource *source = datasource();
    auto *form = new QFormLayout;

    m_name = new QLineEdit;
    m_address = new QLineEdit;
    form->addRow(tr("Name:"), m_name);
    form->addRow(tr("Address:"), m_address);

    const QStringList labels = {tr("Items shown:"), tr("Days kept:"), tr("Refresh every (minutes):")};
    for (int i = 0; i < 3; ++i) {
        const QString key = QString::fromLatin1(kNumberKeys[i]);
        auto *field = new QLineEdit;
        field->setValidator(new QIntValidator(0, 1000000, field));
        // Empty means the global setting, shown as the placeholder.
        field->setPlaceholderText(QString::number(settings.integer(key)));
        m_numbers.insert(key, field);
        form->addRow(labels[i], field);
    }

    m_fontColor = new ColorChooserPopUpButton;
    m_fontColor->setShowNone(true);
    m_backgroundColor = new ColorChooserPopUpButton;
    m_backgroundColor->setShowNone(true);
    form->addRow(tr("Text colour:"), m_fontColor);
    form->addRow(tr("Background colour:"), m_backgroundColor);

    auto *iconRow = new QHBoxLayout;
    m_icon = new QLabel;
    m_icon->setFixedSize(34, 34);
    m_icon->setFrameShape(QFrame::StyledPanel);
    auto *chooseIcon = new QPushButton(tr("Choose…"));
    auto *resetIcon = new QPushButton(tr("Reset Icon"));
    iconRow->addWidget(m_icon);
    iconRow->addWidget(chooseIcon);
    iconRow->addWidget(resetIcon);
    iconRow->addStretch();
    form->addRow(tr("Icon:"), iconRow);

    m_message = new QLabel;
    m_message->setWordWrap(true);
    m_message->setStyleSheet(QStringLiteral("color: #b00020"));
    m_message->hide();

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Save | QDialogButtonBox::Close);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(m_message);
    layout->addWidget(buttons);

    if (source) {
        m_name->setPlaceholderText(source->name());
        m_name->setText(source->customName() == source->name() ? QString() : source->customName());
        m_address->setText(source->url());
        for (const char *key : kNumberKeys) {
            const qint64 own = source->value(QString::fromLatin1(key)).toLongLong();
            m_numbers.value(QString::fromLatin1(key))->setText(own > 0 ? QString::number(own) : QString());
        }
        m_fontColor->setColor(source->fontColor());
        m_backgroundColor->setColor(source->backgroundColor());
        m_fontColor->changeColor(source->fontColor());
        m_backgroundColor->changeColor(source->backgroundColor());
        m_iconArchive = source->imageData();
        m_icon->setPixmap(iconPixmap(m_iconArchive));
    }

    for (auto it = m_numbers.cbegin(); it != m_numbers.cend(); ++it) {
        const QString key = it.key();
        connect(it.value(), &QLineEdit::textEdited, this, [this, key](const QString &text) { numberChanged(key, text); });
    }
    connect(m_fontColor, &ColorChooserPopUpButton::colorDidChange, this, &FeedSettingsSheet::colorChanged);
    connect(m_backgroundColor, &ColorChooserPopUpButton::colorDidChange, this, &FeedSettingsSheet::colorChanged);
    connect(chooseIcon, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getOpenFileName(this, tr("Choose Icon"), QString(),
                                                          tr("Images (*.png *.jpg *.jpeg *.gif *.ico *.bmp *.tiff)"));
        if (!path.isEmpty())
            this->chooseIcon(path);
    });
    connect(resetIcon, &QPushButton::clicked, this, &FeedSettingsSheet::resetIcon);
    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
        if (save())
            accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

Datasource *FeedSettingsSheet::datasource() const
{
    Record *record = m_context->existingObject(m_id);
    return record && !record->isDeleted() ? dynamic_cast<Datasource *>(record) : nullptr;
}

QLineEdit *FeedSettingsSheet::numberField(const QString &key) const
{
    return m_numbers.value(key);
}

void FeedSettingsSheet::numberChanged(const QString &key, const QString &text)
{
    Datasource *source = datasource();
    if (!source)
        return;
    // Empty or 0 falls back to the global setting.
    source->setValue(key, qint64(text.trimmed().toLongLong()));
    StoreManager::saveFromContext(m_context);
    NotificationCenter::defaultCenter().post(kDatasourceConfigurationDidChangeNotification, source);
}

void FeedSettingsSheet::colorChanged(ColorChooserPopUpButton *button)
{
    Datasource *source = datasource();
    if (!source)
        return;
    if (button == m_fontColor)
        source->setFontColor(button->color());
    else
        source->setBackgroundColor(button->color());
    StoreManager::saveFromContext(m_context);
    NotificationCenter::defaultCenter().post(kDatasourceConfigurationDidChangeNotification, source);
}

void FeedSettingsSheet::chooseIcon(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const std::optional<CommonImage> image = CommonImage::fromBytes(file.read(8 * 1024 * 1024));
    if (!image) {
        m_message->setText(tr("That file is not a picture."));
        m_message->show();
        return;
    }
    m_iconArchive = image->archive();
    m_iconChanged = true;
    m_icon->setPixmap(iconPixmap(m_iconArchive));
}

void FeedSettingsSheet::resetIcon()
{
    m_iconArchive.clear();
    m_iconChanged = true;
    m_icon->setPixmap({});
}

bool FeedSettingsSheet::save()
{
    Datasource *source = datasource();
    if (!source)
        return true;
    const addfeedtext::Result address = addfeedtext::addressFromText(m_address->text());
    if (!address.ok()) {
        m_message->setText(address.error);
        m_message->show();
        return false;
    }
    for (auto it = m_numbers.cbegin(); it != m_numbers.cend(); ++it)
        source->setValue(it.key(), qint64(it.value()->text().trimmed().toLongLong()));
    // An empty name field gives the feed's own name back (no custom name).
    const QString name = m_name->text();
    source->setCustomName(name.trimmed().isEmpty() ? QString() : name);
    if (address.address != source->url())
        source->setUrl(address.address);
    if (m_iconChanged)
        source->setImageData(m_iconArchive);
    StoreManager::saveFromContext(m_context);
    NotificationCenter::defaultCenter().post(kDatasourcesChangedNotification);
    m_message->hide();
    return true;
}

} // namespace corvane::desktop
