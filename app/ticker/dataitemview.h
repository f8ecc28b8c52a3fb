#pragma once

#include "appclock.h"

#include "store/objectid.h"

#include <QPointer>
#include <QTextLayout>
#include <QWidget>

#include <memory>

class QPropertyAnimation;
class QToolButton;

namespace corvane {
class DataItem;
}

namespace corvane::desktop {

class DataItemAdapter;

// One entry of the bar: the item's title above its source line (time and
// subscription), the subscription's picture at the left, the subscription's
// or the keyword-mark colours, a separator line, and a star or share button
// at the right. Highlights under the mouse, dims when read, toggles the
// preview on a click, opens the link on a double click and offers the item
// menu on a right click. Pooled and reused for other items by the ticker.
class DataItemView : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(qreal shownAlpha READ shownAlpha WRITE setShownAlpha)
    Q_PROPERTY(qreal textAlpha READ textAlpha WRITE setTextAlpha)
public:
    static constexpr qreal kReadAlpha = 0.55;

    DataItemView(DataItemAdapter &adapter, QWidget *parent = nullptr);
    ~DataItemView() override;

    void setDataItem(ObjectID item);
    ObjectID itemId() const { return m_itemId; }
    // The item in the main context, or null when it is gone.
    DataItem *dataItem() const;
    // The item and its subscription both still exist.
    bool isItemValid() const;

    int index() const { return m_index; }
    void setIndex(int index) { m_index = index; }

    // Source line text and colours again (times, names, settings).
    void refresh();
    // The read state and star again, animated.
    void updateReadState();
    void styleChanged();

    bool highlight() const { return m_highlight; }
    void setActive();
    void setInactive();

    // The entry's opacity as a value (set at once) and as shown (animated).
    qreal alphaValue() const { return m_alphaValue; }
    void setAlphaValue(qreal alpha);
    void setAlphaValueAnimated(qreal alpha, double seconds = 0.8);
    bool isFading() const;

    // kind 0 nothing, 1 toggle the preview, 2 open in the browser.
    void previewItem(int kind, bool deferredMarkRead);
    void openInBrowser();

    QPoint arrowLocation() const;
    bool isArrowOnLeft() const;
    QRect imageRect() const;

    // What the entry shows as title and source line.
    const QString &titleText() const { return m_content.title; }
    const QString &sourceText() const { return m_content.source; }

    qreal shownAlpha() const { return m_shownAlpha; }
    void setShownAlpha(qreal alpha);
    qreal textAlpha() const { return m_textAlpha; }
    void setTextAlpha(qreal alpha);

Q_SIGNALS:
    // The mouse entered this entry ("MainWindowSelectionWillChange").
    void selectionWillChange(DataItemView *view);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;

private:
    struct Content
    {
        QString title;
        QString source;
        bool read = false;
        bool starred = false;
        bool mark = false;
        bool twitter = false;
        std::optional<QColor> background;
        std::optional<QColor> fontColor;
        QImage picture;
    };
    void loadContent();
    QColor textColor() const;
    int sourceLineHeight() const;
    QRect titleRect() const;
    QRect sourceRect() const;
    void layoutButtons();
    void updateIcons();
    void fillBackground(QPainter &painter, const QColor &color);
    void drawTitle(QPainter &painter, const QRect &rect, const QColor &color);
    void openPreview(bool deferredMarkRead);
    void animateTextAlpha(qreal to);
    void showMenu(const QPoint &globalPos);

    DataItemAdapter &m_adapter;
    ObjectID m_itemId;
    Content m_content;
    int m_index = 0;
    bool m_highlight = false;
    bool m_starWanted = false;
    bool m_shareWanted = false;
    qreal m_alphaValue = 1.0;
    qreal m_shownAlpha = 1.0;
    qreal m_textAlpha = 1.0;
    QPointer<QPropertyAnimation> m_alphaAnimation;
    QPointer<QPropertyAnimation> m_textAnimation;
    QToolButton *m_starButton;
    QToolButton *m_shareButton;
    TimerHandle m_deferredRead;
    // The title laid out for the current text, font and size.
    std::unique_ptr<QTextLayout> m_titleLayout;
    QSize m_titleLayoutSize;
    int m_titleVisibleLines = 0;
};

} // namespace corvane::desktop
