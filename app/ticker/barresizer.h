#pragma once

#include <QRect>
#include <QWidget>

namespace corvane::desktop {

// The width grip of a docked bar: a 3-point strip along the edge that faces
// the screen, showing the resize cursor; dragging it resizes the bar.
class BarResizer : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kWidth = 3;
    static constexpr int kMinimumBarWidth = 100;
    static constexpr int kMaximumBarWidth = 800;

    explicit BarResizer(QWidget *bar);

    // Puts the strip on the inner edge for the placement (0 left, 1 right);
    // the free window (2) has none.
    void place(int location);

    // The bar's frame for the mouse at screen x, the grip on its right side
    // (a bar on the left edge) or its left side, kept within the widths.
    static QRect resizedFrame(const QRect &frame, bool gripOnRight, int mouseX, int minWidth, int maxWidth);

Q_SIGNALS:
    void resizing(const QRect &frame);
    void resizeFinished(int width);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    int m_location = 0;
    bool m_dragging = false;
};

} // namespace corvane::desktop
