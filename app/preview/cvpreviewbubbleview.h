#pragma once

#include <QWidget>

class QLabel;
class QToolButton;

namespace corvane::desktop {

// The bubble's window and content: a rounded outline with an arrow on one
// side pointing at the entry, a bold title at the top, room for the web view
// in the middle and a row of buttons at the bottom. The edge away from the
// arrow is a grip that changes the bubble's width.
class CVPreviewBubbleView : public QWidget
{
    Q_OBJECT
public:
    explicit CVPreviewBubbleView(QWidget *parent = nullptr);

    // The arrow's y in the view, and its side.
    void setArrow(int y, bool showOnLeft);
    int arrowY() const { return m_arrowY; }
    bool showOnLeft() const { return m_showOnLeft; }

    void setTitle(const QString &html);
    QString titleText() const;
    // The height of the title band: the title laid out in width − 44, plus 15.
    int contentTop(int width) const;
    int contentTop() const { return contentTop(width()); }

    QToolButton *openButton() const { return m_openButton; }
    QToolButton *closeButton() const { return m_closeButton; }
    QToolButton *shareButton() const { return m_shareButton; }
    bool isResizing() const { return m_dragging; }

    // Places the title and the buttons for the current size and side.
    void placeContents();

Q_SIGNALS:
    void titleLinkActivated(const QString &link);
    // The user drags the grip: the width asked for, not yet bounded.
    void widthDragged(int width);
    void widthDragFinished();
    // Escape, wherever the focus is in the bubble.
    void escapePressed();

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QLabel *m_title = nullptr;
    // Above the web view, which reaches to the far edge.
    QWidget *m_grip = nullptr;
    QToolButton *m_openButton = nullptr;
    QToolButton *m_closeButton = nullptr;
    QToolButton *m_shareButton = nullptr;
    int m_arrowY = 0;
    bool m_showOnLeft = true;
    bool m_dragging = false;
    int m_dragStartX = 0;
    int m_dragStartWidth = 0;
};

} // namespace corvane::desktop
