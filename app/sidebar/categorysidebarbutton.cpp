#include "categorysidebarbutton.h"

#include "categorysidebar.h"

#include "ticker/dataitemadapter.h"
#include "ticker/entrystyle.h"
#include "ticker/pictures.h"
#include "ticker/previewpresenter.h"

#include "base/notificationcenter.h"
#include "base/settings.h"
#include "feeds/refresh/datasourcemanager.h"
#include "feeds/visibleitems.h"
#include "store/context.h"
#include "store/category.h"
#include "store/datasource.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>

namespace corvane::desktop {

namespace {

constexpr int kBadge = 15;

QFont labelFont()
{
    QFont font(QStringLiteral("Helvetica"));
    font.setPointSizeF(13.5);
    return font;
}

QFont countFont()
{
    QFont font(QStringLiteral("Helvetica"));
    font.setPointSizeF(11);
    return font;
}

QColor withAlpha(QColor color, double alpha)
{
    color.setAlphaF(float(alpha));
    return color;
}

// A rectangle with rounded corners on the side facing the list only, at
// its top or its bottom.
QPainterPath tabShape(const QRectF &rect, bool roundTop, bool listOnRight)
{
    constexpr double r = 1;
    QPainterPath path;
    path.addRoundedRect(rect, r, r);
    // Square the corners away from the list and on the other end again.
    QPainterPath square;
    const double x = listOnRight ? rect.left() : rect.right() - r;
    square.addRect(QRectF(x, rect.top(), r, rect.height()));
    square.addRect(QRectF(rect.left(), roundTop ? rect.bottom() - r : rect.top(), rect.width(), r));
    return path.united(square);
}

} // namespace

CategorySidebarButton::CategorySidebarButton(DataItemAdapter &adapter, QWidget *parent)
    : QWidget(parent)
    , m_adapter(adapter)
{
    setMouseTracking(true);
    setCursor(Qt::PointingHandCursor);
}

void CategorySidebarButton::setEntry(const QString &name, ObjectID object)
{
    const bool changed = name != m_name || object != m_object;
    m_name = name;
    m_object = object;
    setToolTip(name);
    if (changed) {
        m_storedCount = 0;
        refreshCount();
        update();
    }
}

bool CategorySidebarButton::isSelected() const
{
    return m_adapter.selectedCategoryId() == m_object;
}

void CategorySidebarButton::refreshCount()
{
    const bool onlyToday = Settings::shared().integer(QStringLiteral("FolderTabsMode")) == 2;
    const quint64 generation = ++m_countGeneration;
    visibleitems::countForItemAsync(m_adapter.engine().stores(), m_object, onlyToday,
                                    [self = QPointer<CategorySidebarButton>(this), generation](qint64 count) {
                                        if (self && generation == self->m_countGeneration)
                                            self->setStoredCount(count);
                                    });
}

void CategorySidebarButton::setStoredCount(qint64 count)
{
    if (count == m_storedCount)
        return;
    m_storedCount = count;
    update();
}

bool CategorySidebarButton::takeDrag(CategorySidebarButton *dragged, double y)
{
    if (dragged == this || m_object.isNull() || dragged->m_object.isNull())
        return false;
    if (m_lastSwapped == dragged && m_lastSwap.isValid() && m_lastSwap.elapsed() < 300)
        return false;
    if (y < geometry().top() || y > geometry().bottom())
        return false;
    Context *context = m_adapter.context();
    Record *mine = context->existingObject(m_object);
    Record *theirs = context->existingObject(dragged->m_object);
    if (!mine || !theirs || mine->entity() != theirs->entity())
        return false;
    if (mine->entity() == Entity::Datasource) {
        // Subscriptions change places only within their category.
        const auto *a = static_cast<Datasource *>(mine);
        const auto *b = static_cast<Datasource *>(theirs);
        const ObjectID ca = a->category() ? a->category()->objectID() : ObjectID{};
        const ObjectID cb = b->category() ? b->category()->objectID() : ObjectID{};
        if (ca != cb)
            return false;
    }
    const QVariant position = mine->value(QStringLiteral("position"));
    mine->setValue(QStringLiteral("position"), theirs->value(QStringLiteral("position")));
    theirs->setValue(QStringLiteral("position"), position);
    context->save();
    m_lastSwapped = dragged;
    m_lastSwap.start();
    return true;
}

void CategorySidebarButton::paintEvent(QPaintEvent *)
{
    const EntryStyle &style = EntryStyle::current();
    const QColor main = style.fontColor;
    const QColor background = style.backgroundColor;
    const bool selected = isSelected();
    const bool listOnRight = style.location != 1;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setOpacity(m_hovered || selected ? 1.0 : 0.8);

    const QRectF all(0, 0, width(), height());
    const QRectF body(all.left(), all.top(), all.width(), qMax(0.0, all.height() - kBadge));
    const QRectF badge(all.left(), body.bottom(), all.width(), qMin(double(kBadge), all.height()));
    const bool picture = CategorySidebar::feedsAsImages() && m_object.entity == Entity::Datasource && !m_object.isNull();
    const QColor badgeFill = withAlpha(main, selected ? 0.8667 : 0.4902);
    p.fillPath(tabShape(body, true, listOnRight), picture ? badgeFill : withAlpha(main, selected ? 0.6529 : 0.2735));
    p.fillPath(tabShape(badge, false, listOnRight), badgeFill);

    if (picture) {
        const auto *source = static_cast<const Datasource *>(m_adapter.context()->existingObject(m_object));
        QImage image = pictures::subscriptionPicture(source);
        if (image.isNull())
            image = pictures::builtin(source && source->isTwitter() ? QStringLiteral("twitter")
                                                                    : QStringLiteral("corvane-single"),
                                      devicePixelRatioF());
        p.drawImage(QRectF(listOnRight ? 1 : width() - 15, height() - 32 - 14, 14, 14), image);
    } else {
        p.save();
        p.setFont(labelFont());
        p.setPen(selected ? background : main);
        // The name runs up the column, from the body's lower end.
        p.translate(0, body.bottom() - 4);
        p.rotate(-90);
        p.drawText(QRectF(0, 0, qMax(0.0, body.height() - 8), width()), Qt::AlignLeft | Qt::AlignVCenter,
                   QFontMetrics(labelFont()).elidedText(m_name, Qt::ElideRight, int(body.height() - 8)));
        p.restore();
    }
    if (m_storedCount > 0) {
        p.setFont(countFont());
        p.setPen(selected ? background : main);
        p.drawText(badge, Qt::AlignCenter, QString::number(qMin<qint64>(m_storedCount, 99)));
    }
}

void CategorySidebarButton::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    m_pressed = true;
    m_dragged = false;
    m_dragStart = mapToParent(event->position());
    m_dragStartFrame = geometry();
}

void CategorySidebarButton::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_pressed)
        return;
    const QPointF now = mapToParent(event->position());
    if (!m_dragged && std::abs(now.y() - m_dragStart.y()) < 3)
        return;
    m_dragged = true;
    raise();
    const int maxY = parentWidget() ? parentWidget()->height() - height() : m_dragStartFrame.top();
    const int y = qBound(0, int(m_dragStartFrame.top() + now.y() - m_dragStart.y()), qMax(0, maxY));
    move(x(), y);
    Q_EMIT dragMoved(this, now.y());
}

void CategorySidebarButton::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || !m_pressed)
        return;
    m_pressed = false;
    if (m_dragged) {
        m_dragged = false;
        Q_EMIT dragEnded(this);
        return;
    }
    Q_EMIT clicked(this);
}

void CategorySidebarButton::enterEvent(QEnterEvent *)
{
    m_hovered = true;
    update();
}

void CategorySidebarButton::leaveEvent(QEvent *)
{
    m_hovered = false;
    update();
}

} // namespace corvane::desktop
