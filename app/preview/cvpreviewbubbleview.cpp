#include "cvpreviewbubbleview.h"

#include "previewlayout.h"

#include <QLabel>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QShortcut>
#include <QToolButton>

namespace corvane::desktop {

namespace {

using namespace previewlayout;

constexpr int kTitleInsetArrow = 22; // title x on the arrow's side
constexpr int kTitleInsetEdge = 12;
constexpr int kTitleTop = 10;
constexpr int kGripWidth = 8;
constexpr int kButtonBand = 32;

QToolButton *makeButton(const QString &icon, const QString &text, const QString &tip, QWidget *parent)
{
    auto *button = new QToolButton(parent);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setCursor(Qt::PointingHandCursor);
    const QIcon themed = QIcon::fromTheme(icon);
    if (themed.isNull()) {
        button->setText(text);
    } else {
        button->setIcon(themed);
        button->setToolButtonStyle(Qt::ToolButtonIconOnly);
    }
    button->setToolTip(tip);
    button->adjustSize();
    return button;
}

// The outline: inset 4 points, 14 on the arrow's side, corners of radius 3,
// with the arrow's triangle on that side when the arrow's y lies inside.
QPainterPath outline(const QRectF &bounds, int arrowY, bool onLeft)
{
    const QRectF body = bounds.adjusted(onLeft ? kArrowMargin : kEdgeMargin, kEdgeMargin,
                                        onLeft ? -kEdgeMargin : -kArrowMargin, -kEdgeMargin);
    QPainterPath path;
    path.addRoundedRect(body, 3, 3);
    const qreal fromBottom = bounds.height() - arrowY;
    if (fromBottom >= 3 && fromBottom <= bounds.height() - 6) {
        const qreal tipX = onLeft ? kEdgeMargin : bounds.width() - kEdgeMargin;
        const qreal baseX = onLeft ? kArrowMargin + 0.5 : bounds.width() - kArrowMargin - 0.5;
        QPainterPath arrow;
        arrow.moveTo(baseX, arrowY - 10);
        arrow.lineTo(tipX, arrowY);
        arrow.lineTo(baseX, arrowY + 10);
        arrow.closeSubpath();
        path = path.united(arrow);
    }
    return path;
}

} // namespace

CVPreviewBubbleView::CVPreviewBubbleView(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TranslucentBackground);
    setContextMenuPolicy(Qt::NoContextMenu);

    m_title = new QLabel(this);
    m_title->setWordWrap(true);
    m_title->setTextFormat(Qt::RichText);
    m_title->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
    m_title->setOpenExternalLinks(false);
    m_title->setContextMenuPolicy(Qt::NoContextMenu);
    m_title->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    QFont bold(QStringLiteral("Helvetica"));
    bold.setPixelSize(14);
    bold.setBold(true);
    m_title->setFont(bold);
    QPalette palette = m_title->palette();
    palette.setColor(QPalette::WindowText, QColor(20, 20, 20));
    m_title->setPalette(palette);
    connect(m_title, &QLabel::linkActivated, this, &CVPreviewBubbleView::titleLinkActivated);

    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &CVPreviewBubbleView::escapePressed);

    m_grip = new QWidget(this);
    m_grip->setCursor(Qt::SizeHorCursor);
    m_grip->installEventFilter(this);

    m_openButton = makeButton(QStringLiteral("internet-web-browser"), QStringLiteral("Open"),
                              QStringLiteral("Open in the browser"), this);
    m_shareButton = makeButton(QStringLiteral("emblem-shared"), QStringLiteral("Share"), QStringLiteral("Share"),
                               this);
    m_closeButton = makeButton(QStringLiteral("window-close"), QStringLiteral("Close"), QStringLiteral("Close"),
                               this);
}

void CVPreviewBubbleView::setArrow(int y, bool showOnLeft)
{
    const bool sideChanged = showOnLeft != m_showOnLeft;
    m_arrowY = y;
    m_showOnLeft = showOnLeft;
    if (sideChanged)
        placeContents();
    update();
}

void CVPreviewBubbleView::setTitle(const QString &html)
{
    m_title->setText(html);
    m_title->setVisible(!html.isEmpty());
    placeContents();
}

QString CVPreviewBubbleView::titleText() const
{
    return m_title->text();
}

int CVPreviewBubbleView::contentTop(int width) const
{
    if (m_title->text().isEmpty())
        return 15;
    return m_title->heightForWidth(width - 44) + 15;
}

void CVPreviewBubbleView::placeContents()
{
    const int w = width();
    m_grip->setGeometry(m_showOnLeft ? w - kGripWidth : 0, 0, kGripWidth, height());
    m_grip->raise();
    const int titleWidth = w - 44;
    m_title->setGeometry(m_showOnLeft ? kTitleInsetArrow : kTitleInsetEdge, kTitleTop, titleWidth,
                         std::max(0, contentTop(w) - 15));

    const int rowCentre = height() - kEdgeMargin - kButtonBand / 2;
    auto place = [rowCentre](QToolButton *button, int x) {
        button->move(x, rowCentre - button->height() / 2);
    };
    const int openWidth = m_openButton->width();
    const int shareWidth = m_shareButton->width();
    const int closeWidth = m_closeButton->width();
    if (m_showOnLeft) {
        place(m_openButton, 22);
        place(m_shareButton, openWidth + 30);
        place(m_closeButton, w - 12 - closeWidth);
    } else {
        place(m_closeButton, 12);
        const int openX = w - 26 - openWidth;
        place(m_openButton, openX);
        place(m_shareButton, openX - shareWidth - 8);
    }
}

void CVPreviewBubbleView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bounds = rect();
    const QPainterPath path = outline(bounds, m_arrowY, m_showOnLeft);

    // A soft shadow of blur 4 (black at alpha 0.5) under a white rim 5 points wide.
    for (int spread = 4; spread >= 1; --spread) {
        painter.setPen(QPen(QColor(0, 0, 0, 32 / spread + 6), 5 + 2 * spread, Qt::SolidLine, Qt::RoundCap,
                            Qt::RoundJoin));
        painter.drawPath(path);
    }
    painter.setPen(QPen(Qt::white, 5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawPath(path);

    QLinearGradient fill(0, 0, 0, bounds.height());
    fill.setColorAt(0, QColor::fromRgbF(0.99, 0.99, 0.99));
    fill.setColorAt(1, QColor::fromRgbF(0.90, 0.90, 0.90));
    painter.setPen(Qt::NoPen);
    painter.fillPath(path, fill);

    // A darker title band fading out towards the content; a lighter button row.
    const qreal height = bounds.height();
    const qreal titleEnd = std::min(height, qreal(kTitleTop + contentTop()));
    const qreal rowStart = std::max(titleEnd, height - kButtonBand);
    QLinearGradient bands(0, 0, 0, height);
    bands.setColorAt(0, QColor(0, 0, 0, 26));
    bands.setColorAt(titleEnd / height, QColor(0, 0, 0, 0));
    bands.setColorAt(rowStart / height, QColor(255, 255, 255, 0));
    bands.setColorAt(std::min(1.0, (rowStart + 1) / height), QColor(255, 255, 255, 128));
    bands.setColorAt(1, QColor(255, 255, 255, 128));
    painter.fillPath(path, bands);
}

void CVPreviewBubbleView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    placeContents();
}

bool CVPreviewBubbleView::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_grip)
        return QWidget::eventFilter(watched, event);
    const auto *mouse = static_cast<QMouseEvent *>(event);
    switch (event->type()) {
    case QEvent::MouseButtonPress:
        if (mouse->button() != Qt::LeftButton)
            return false;
        m_dragging = true;
        m_dragStartX = int(mouse->globalPosition().x());
        m_dragStartWidth = width();
        return true;
    case QEvent::MouseMove:
        if (m_dragging) {
            const int dx = int(mouse->globalPosition().x()) - m_dragStartX;
            // The grip is the far edge: right of a left-arrow bubble, left otherwise.
            Q_EMIT widthDragged(m_dragStartWidth + (m_showOnLeft ? dx : -dx));
        }
        return true;
    case QEvent::MouseButtonRelease:
        if (m_dragging && mouse->button() == Qt::LeftButton) {
            m_dragging = false;
            Q_EMIT widthDragFinished();
        }
        return true;
    default:
        return false;
    }
}

} // namespace corvane::desktop
