#include "dataitemview.h"

#include "browser.h"
#include "dataitemadapter.h"
#include "entrymenu.h"
#include "mainwindowcontroller.h"
#include "entrystyle.h"
#include "pictures.h"
#include "previewpresenter.h"

#include "base/settings.h"
#include "feeds/itemmarking.h"
#include "feeds/refresh/datasourcemanager.h"
#include "store/context.h"
#include "store/dataitem.h"
#include "store/datasource.h"

#include <QEnterEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPropertyAnimation>
#include <QScreen>
#include <QToolButton>

#include <cmath>

namespace corvane::desktop {

namespace {

// Titles longer than this are cut before layout: the entry shows a few
// lines at most, and a megabyte title must not cost a megabyte of layout.
constexpr int kTitleCharacters = 600;

DataItemView *g_entered = nullptr;

QString displayText(QString text)
{
    if (text.size() > kTitleCharacters)
        text.truncate(kTitleCharacters);
    // Control characters (line breaks included) become spaces; the text is
    // drawn as plain text, so markup shows as written.
    for (QChar &c : text)
        if (c.category() == QChar::Other_Control || c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
            c = u' ';
    return text.simplified();
}

} // namespace

DataItemView::DataItemView(DataItemAdapter &adapter, QWidget *parent)
    : QWidget(parent)
    , m_adapter(adapter)
    , m_starButton(new QToolButton(this))
    , m_shareButton(new QToolButton(this))
{
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    for (QToolButton *button : {m_starButton, m_shareButton}) {
        button->setAutoRaise(true);
        button->setCheckable(true);
        button->setFocusPolicy(Qt::NoFocus);
        button->setStyleSheet(QStringLiteral("QToolButton { border: none; background: transparent; }"));
        button->hide();
    }
    m_starButton->setFixedSize(20, 20);
    m_shareButton->setFixedSize(16, 16);
    m_starButton->setToolTip(tr("Star"));
    m_shareButton->setToolTip(tr("Share"));
    connect(m_starButton, &QToolButton::clicked, this, [this] {
        // The button's own toggle is undone: the item's star decides.
        m_starButton->setChecked(!m_starButton->isChecked());
        showMenu(m_starButton->mapToGlobal(QPoint(0, m_starButton->height())));
    });
    connect(m_shareButton, &QToolButton::clicked, this, [this] {
        m_shareButton->setChecked(!m_shareButton->isChecked());
        showMenu(m_shareButton->mapToGlobal(QPoint(0, m_shareButton->height())));
    });
}

DataItemView::~DataItemView()
{
    if (g_entered == this)
        g_entered = nullptr;
}

DataItem *DataItemView::dataItem() const
{
    return m_adapter.item(m_itemId);
}

bool DataItemView::isItemValid() const
{
    const DataItem *item = dataItem();
    return item && !item->isDeleted() && item->datasource();
}

void DataItemView::setDataItem(ObjectID item)
{
    if (item != m_itemId) {
        m_itemId = item;
        m_deferredRead.cancel();
        // A fade shown for the previous item ends here.
        if (m_alphaAnimation)
            m_alphaAnimation->stop();
        m_shownAlpha = m_alphaValue;
        if (m_highlight)
            setInactive();
        m_titleLayout.reset();
    }
    loadContent();
    const qreal alpha = m_content.read ? kReadAlpha : 1.0;
    if (m_textAnimation)
        m_textAnimation->stop();
    m_textAlpha = alpha;
    m_shareWanted = false;
    m_starWanted = m_content.starred;
    updateIcons();
    update();
}

void DataItemView::loadContent()
{
    const QString previousTitle = m_content.title;
    m_content = Content{};
    const DataItem *item = dataItem();
    if (!item)
        return;
    m_content.title = displayText(item->visibleTitle());
    m_content.read = item->isRead();
    m_content.starred = item->isStarred();
    m_content.mark = item->mark();
    QString source = item->visibleDate(m_adapter.clock().now());
    if (const Datasource *datasource = item->datasource()) {
        const QString name = item->visibleDatasourceName();
        if (!name.isEmpty())
            source += u' ' + name;
        m_content.twitter = datasource->isTwitter();
        if (const auto color = datasource->backgroundColor())
            m_content.background = toQColor(*color);
        if (const auto color = datasource->fontColor())
            m_content.fontColor = toQColor(*color);
        if (EntryStyle::current().displayImage)
            m_content.picture = pictures::subscriptionPicture(datasource);
    }
    m_content.source = displayText(source);
    if (m_content.title != previousTitle)
        m_titleLayout.reset();
}

void DataItemView::refresh()
{
    loadContent();
    update();
}

void DataItemView::updateReadState()
{
    const bool wasRead = m_content.read;
    loadContent();
    if (m_content.read != wasRead)
        animateTextAlpha(m_content.read ? kReadAlpha : 1.0);
    m_starWanted = m_content.starred;
    updateIcons();
    update();
}

void DataItemView::styleChanged()
{
    m_titleLayout.reset();
    loadContent();
    layoutButtons();
    updateIcons();
    update();
}

QColor DataItemView::textColor() const
{
    const EntryStyle &style = EntryStyle::current();
    if (m_content.mark && style.markFontColor)
        return *style.markFontColor;
    return m_content.fontColor.value_or(style.fontColor);
}

int DataItemView::sourceLineHeight() const
{
    return lineStep(EntryStyle::current().sourceFont);
}

QRect DataItemView::imageRect() const
{
    const EntryStyle &style = EntryStyle::current();
    const int s = sourceLineHeight();
    if (style.smallImage) {
        const int side = qMax(0, s - 1);
        return QRect(9, height() - 8 - side, side, side);
    }
    return QRect(4, 4, int(std::floor(style.imageWidth)), qMax(0, height() - 8));
}

QRect DataItemView::titleRect() const
{
    const EntryStyle &style = EntryStyle::current();
    const int a = style.displayImage && !style.smallImage ? imageRect().right() + 1 : 0;
    const int s = sourceLineHeight();
    return QRect(a + 7, 7, qMax(0, width() - a - 14), qMax(0, height() - s - 14));
}

QRect DataItemView::sourceRect() const
{
    const EntryStyle &style = EntryStyle::current();
    const int s = sourceLineHeight();
    int l = 0;
    if (style.displayImage)
        l = style.smallImage ? s + 4 : imageRect().right() + 1;
    int w = width() - l - 11;
    if (m_starWanted || m_shareWanted)
        w -= 20;
    return QRect(l + 7, height() - 7 - s, qMax(0, w), s);
}

void DataItemView::resizeEvent(QResizeEvent *)
{
    layoutButtons();
}

void DataItemView::layoutButtons()
{
    m_starButton->move(width() - 24, height() - 5 - 20);
    m_shareButton->move(width() - 24, height() - 6 - 16);
}

void DataItemView::updateIcons()
{
    const QColor color = darkened(textColor(), 0.4);
    QFont starFont(QStringLiteral("Helvetica"));
    starFont.setPointSize(13);
    m_starButton->setFont(starFont);
    m_starButton->setText(m_content.starred ? QStringLiteral("\u2605") : QStringLiteral("\u2606"));
    m_starButton->setStyleSheet(QStringLiteral("QToolButton { border: none; background: transparent; color: %1; }")
                                    .arg(color.name(QColor::HexArgb)));
    m_starButton->setChecked(m_content.starred);
    const qreal dpr = devicePixelRatioF();
    m_shareButton->setIcon(QIcon(QPixmap::fromImage(pictures::builtin(QStringLiteral("share-icon"), dpr, color))));
    m_shareButton->setIconSize(QSize(14, 14));
    // The star wins the place when both are wanted.
    m_starButton->setVisible(m_starWanted);
    m_shareButton->setVisible(!m_starWanted && m_shareWanted);
}

void DataItemView::setActive()
{
    m_shareWanted = true;
    m_starWanted = m_content.starred;
    m_highlight = true;
    updateIcons();
    update();
}

void DataItemView::setInactive()
{
    m_shareWanted = false;
    m_starWanted = m_content.starred;
    m_highlight = false;
    updateIcons();
    update();
}

void DataItemView::enterEvent(QEnterEvent *)
{
    // While the keys move the selection, the entry under the mouse stays as it is.
    if (const MainWindowController *bar = MainWindowController::sharedInstance();
        bar && (bar->inducedScroll() || MainWindowController::keyboardMode()))
        return;
    if (g_entered && g_entered != this)
        g_entered->setInactive();
    g_entered = this;
    Q_EMIT selectionWillChange(this);
    setActive();
}

void DataItemView::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_highlight)
        enterEvent(nullptr);
    QWidget::mouseMoveEvent(event);
}

void DataItemView::leaveEvent(QEvent *)
{
    if (const MainWindowController *bar = MainWindowController::sharedInstance(); bar && !bar->unselectAllowed())
        return;
    if (g_entered == this)
        g_entered = nullptr;
    setInactive();
}

void DataItemView::mousePressEvent(QMouseEvent *event)
{
    // The outermost points belong to the bar's resize grip.
    if (event->position().x() >= width() - 10 && EntryStyle::current().location != 2) {
        event->ignore();
        return;
    }
    if (event->button() == Qt::RightButton) {
        showMenu(event->globalPosition().toPoint());
        return;
    }
    if (event->button() == Qt::LeftButton)
        previewItem(1, false);
}

void DataItemView::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        previewItem(2, false);
}

void DataItemView::showMenu(const QPoint &globalPos)
{
    if (isItemValid())
        openEntryMenu(m_adapter, m_itemId, globalPos, this);
}

void DataItemView::previewItem(int kind, bool deferredMarkRead)
{
    PreviewPresenter &preview = PreviewPresenter::shared();
    if (Settings::shared().boolean(QStringLiteral("enablePreview"))) {
        if (kind == 0)
            return;
        if (preview.isShowing(m_itemId)) {
            preview.close();
            if (kind != 2)
                return;
        } else if (kind == 1) {
            openPreview(deferredMarkRead);
            return;
        } else if (kind == 2) {
            preview.close();
            m_deferredRead.cancel();
        } else {
            return;
        }
    }
    openInBrowser();
}

void DataItemView::openInBrowser()
{
    DataItem *item = dataItem();
    if (!item)
        return;
    browser::open(item->link());
    animateTextAlpha(kReadAlpha);
    item->setRead(true);
}

void DataItemView::openPreview(bool deferredMarkRead)
{
    PreviewPresenter &preview = PreviewPresenter::shared();
    const DataItem *item = dataItem();
    if (!item || item->isDeletedByUser() || preview.isShowing(m_itemId))
        return;
    const QPoint arrow = arrowLocation();
    QWidget *viewport = parentWidget() ? parentWidget()->parentWidget() : nullptr;
    if (viewport) {
        const QPoint inViewport = viewport->mapFromGlobal(arrow);
        if (inViewport.y() < 0 || inViewport.y() > viewport->height())
            return;
    }
    preview.showItem(m_itemId, arrow, isArrowOnLeft());
    if (!deferredMarkRead) {
        itemmarking::markReadInBackground(m_adapter.engine().stores(), m_itemId);
        return;
    }
    m_deferredRead.cancel();
    m_deferredRead = m_adapter.clock().after(2.0, this, [this] {
        if (PreviewPresenter::shared().isShowing(m_itemId) && dataItem())
            itemmarking::markReadInBackground(m_adapter.engine().stores(), m_itemId);
    });
}

QPoint DataItemView::arrowLocation() const
{
    const int y = height() / 2;
    return mapToGlobal(QPoint(isArrowOnLeft() ? width() : 0, y));
}

bool DataItemView::isArrowOnLeft() const
{
    if (EntryStyle::current().location == 1)
        return false;
    const QWidget *bar = window();
    const QScreen *screen = bar->screen();
    if (!screen)
        return true;
    return screen->availableGeometry().center().x() > bar->geometry().center().x();
}

void DataItemView::setAlphaValue(qreal alpha)
{
    m_alphaValue = alpha;
    if (!isFading()) {
        m_shownAlpha = alpha;
        update();
    }
}

void DataItemView::setAlphaValueAnimated(qreal alpha, double seconds)
{
    const qreal from = m_shownAlpha;
    m_alphaValue = alpha;
    if (m_alphaAnimation)
        m_alphaAnimation->stop();
    auto *animation = new QPropertyAnimation(this, "shownAlpha", this);
    animation->setDuration(int(seconds * 1000));
    animation->setEasingCurve(QEasingCurve::InOutQuad);
    animation->setStartValue(from);
    animation->setEndValue(alpha);
    m_alphaAnimation = animation;
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

bool DataItemView::isFading() const
{
    return m_alphaAnimation && m_alphaAnimation->state() == QAbstractAnimation::Running;
}

void DataItemView::setShownAlpha(qreal alpha)
{
    m_shownAlpha = alpha;
    update();
}

void DataItemView::setTextAlpha(qreal alpha)
{
    m_textAlpha = alpha;
    update();
}

void DataItemView::animateTextAlpha(qreal to)
{
    if (m_textAnimation)
        m_textAnimation->stop();
    auto *animation = new QPropertyAnimation(this, "textAlpha", this);
    animation->setDuration(250);
    animation->setStartValue(m_textAlpha);
    animation->setEndValue(to);
    m_textAnimation = animation;
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

void DataItemView::fillBackground(QPainter &painter, const QColor &color)
{
    const EntryStyle &style = EntryStyle::current();
    if (style.angle < 0) {
        QColor fill = color;
        if (style.opacity != 1.0)
            fill.setAlphaF(float(style.opacity));
        painter.fillRect(rect(), fill);
        return;
    }
    const QWidget *bar = window();
    const QPixmap &picture = GradientCache::shared().picture(color, bar->size(), style.angle, style.opacity,
                                                             devicePixelRatioF());
    const QPoint offset = mapTo(bar, QPoint(0, 0));
    const qreal dpr = picture.devicePixelRatio();
    painter.drawPixmap(rect(), picture, QRectF(QPointF(offset) * dpr, QSizeF(size()) * dpr));
}

void DataItemView::drawTitle(QPainter &painter, const QRect &rect, const QColor &color)
{
    const QFont &font = EntryStyle::current().titleFont;
    if (!m_titleLayout || m_titleLayoutSize != rect.size() || m_titleLayout->font() != font) {
        m_titleLayout = std::make_unique<QTextLayout>(m_content.title, font);
        QTextOption option;
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        option.setTextDirection(m_content.title.isRightToLeft() ? Qt::RightToLeft : Qt::LeftToRight);
        m_titleLayout->setTextOption(option);
        m_titleLayoutSize = rect.size();
        const int step = lineStep(font);
        m_titleLayout->beginLayout();
        qreal y = 0;
        m_titleVisibleLines = 0;
        while (true) {
            QTextLine line = m_titleLayout->createLine();
            if (!line.isValid())
                break;
            line.setLineWidth(rect.width());
            if (y + step > rect.height() && m_titleVisibleLines > 0)
                break;
            // Lines follow at the font's size plus a fifth, not at the
            // font's own (often generous) line height.
            line.setPosition(QPointF(0, y - (line.height() - step) / 2));
            y += step;
            ++m_titleVisibleLines;
        }
        m_titleLayout->endLayout();
    }
    painter.setPen(color);
    painter.setFont(font);
    const int lines = m_titleVisibleLines;
    for (int i = 0; i < lines; ++i) {
        const QTextLine line = m_titleLayout->lineAt(i);
        const bool last = i == lines - 1;
        const bool cut = last && line.textStart() + line.textLength() < m_content.title.size();
        if (!cut) {
            line.draw(&painter, rect.topLeft());
            continue;
        }
        // The last visible line ends with an ellipsis when text follows.
        const QString rest = m_content.title.mid(line.textStart());
        const QString elided = QFontMetrics(font).elidedText(rest, Qt::ElideRight, rect.width());
        const QRectF lineRect(rect.left(), rect.top() + line.y(), rect.width(), line.height());

        painter.drawText(lineRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, elided);
    }
}

void DataItemView::paintEvent(QPaintEvent *)
{
    const EntryStyle &style = EntryStyle::current();
    QPainter painter(this);
    painter.setOpacity(m_shownAlpha);
    std::optional<QColor> background = m_content.mark && style.markBackgroundColor ? style.markBackgroundColor
                                                                                    : m_content.background;
    if (!background && style.angle >= 0)
        background = style.backgroundColor;
    if (m_highlight)
        background = highlightVariant(background.value_or(style.backgroundColor));
    if (background)
        fillBackground(painter, *background);

    QColor separator(128, 128, 128);
    separator.setAlphaF(0.4f);
    painter.fillRect(QRect(0, height() - 1, width(), 1), separator);

    if (style.displayImage) {
        QImage picture = m_content.picture;
        if (picture.isNull())
            picture = pictures::builtin(m_content.twitter ? QStringLiteral("twitter") : QStringLiteral("corvane-single"),
                                        devicePixelRatioF());
        const QRect area = imageRect();
        QSizeF size = picture.deviceIndependentSize();
        if (size.width() > area.width() || size.height() > area.height())
            size.scale(QSizeF(area.size()), Qt::KeepAspectRatio);
        const QRect target(int(area.left() + (area.width() - size.width()) / 2),
                           int(area.top() + (area.height() - size.height()) / 2), int(size.width()),
                           int(size.height()));
        painter.save();
        painter.setOpacity(m_shownAlpha * (m_content.read ? kReadAlpha : 1.0));
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(target, picture);
        painter.restore();
    }

    const QColor text = textColor();
    painter.setOpacity(m_shownAlpha * m_textAlpha);
    drawTitle(painter, titleRect(), text);
    painter.setFont(style.sourceFont);
    painter.setPen(darkened(text, 0.3));
    const QRect source = sourceRect();
    painter.drawText(source, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                     QFontMetrics(style.sourceFont).elidedText(m_content.source, Qt::ElideRight, source.width()));
}

} // namespace corvane::desktop
