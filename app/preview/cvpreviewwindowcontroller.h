#pragma once

#include "previewtitle.h"

#include "ticker/appclock.h"
#include "ticker/previewpresenter.h"

#include <QPoint>
#include <QPointer>
#include <QRect>

#include <memory>

class QPropertyAnimation;
class QWebEngineProfile;
class QWebEngineView;

namespace corvane {
class DataItem;
class Settings;
}

namespace corvane::desktop {

class CVPreviewBubbleView;
class EngineBridge;
class PreviewPage;

// The preview bubble: shows one item's content beside its entry in the bar.
//
// States, and the function that moves between them:
//   closed  — no item, window hidden.
//   loading — setDataItem(): item set, `calculating`, the document loading;
//             the window stays hidden until the content height is known.
//   shown   — showWindow(), on the first height measured after the load
//             (measureContent()) or 0.5 s after setDataItem() at the latest;
//             `windowOrderedIn`. A new item while shown switches in place and
//             the window animates to its new size.
//   closing — close(): item cleared, fading out; hide() 0.2 s later.
//   closed  — hide(): blank document, window hidden, didDisappear.
//
// The web engine (profile, page, view) is made on the first item shown, so
// a bar that never previews never starts it, and let go of two minutes
// after the bubble closed (releaseWebView()): its page process then ends. Content is untrusted: its
// scripts never run (the height is measured in the application's script
// world), it cannot reach local files and it never navigates the bubble;
// followed links go to the browser and close the bubble (PreviewPage).
// Main thread only.
class CVPreviewWindowController final : public PreviewPresenter
{
    Q_OBJECT
public:
    CVPreviewWindowController(EngineBridge &bridge, Settings &settings, AppClock &clock = AppClock::system(),
                              QObject *parent = nullptr);
    ~CVPreviewWindowController() override;

    // The controller made last, while it lives.
    static CVPreviewWindowController *sharedInstance();

    ObjectID shownItem() const override { return m_item; }
    void showItem(ObjectID item, QPoint arrow, bool arrowOnLeft) override;
    void moveArrow(QPoint arrow, bool arrowOnLeft) override;
    void close(bool animated = true) override;

    void setArrowLocation(QPoint arrow, bool arrowOnLeft);
    void setDataItem(ObjectID item);
    ObjectID dataItem() const { return m_item; }
    bool nextHideShowFaster() const { return m_nextHideShowFaster; }
    void setNextHideShowFaster(bool faster) { m_nextHideShowFaster = faster; }
    void openAction();
    // The item's menu (the share menu), below the share button.
    void shareAction();
    PreviewTitle title() const;

    CVPreviewBubbleView *bubbleView() const { return m_bubble.get(); }
    // Null until the first item was shown.
    QWebEngineView *webView() const { return m_webView; }
    PreviewPage *page() const { return m_page.get(); }
    bool isCalculating() const { return m_calculating; }
    bool windowOrderedIn() const { return m_windowOrderedIn; }
    // The frame the window has or is animating to, on the screen.
    QRect frame() const { return m_frame; }
    // The last measured content height (+17), 0 before the first answer.
    int contentHeight() const { return m_contentHeight; }

Q_SIGNALS:
    // The window was ordered in for the current item.
    void shown();
    // A height measurement answered and the window was sized by it.
    void resized();

private:
    DataItem *currentItem() const;
    void ensureWebView();
    void releaseWebView();
    void applyWebFont();
    void measureContent();
    void showWindow();
    void resizeWindow(bool pure);
    void positionWindow();
    void positionArrow();
    void fadeTo(qreal opacity, double seconds);
    void hide();
    void followLink(const QString &link);
    void dragWidth(int width);
    void endWidthDrag();
    void settingChanged(const QString &key);
    QRect visibleArea() const;
    QRect screenArea() const;

    Settings &m_settings;
    AppClock &m_clock;
    std::unique_ptr<QWebEngineProfile> m_profile;
    std::unique_ptr<PreviewPage> m_page;
    std::unique_ptr<CVPreviewBubbleView> m_bubble;
    QWebEngineView *m_webView = nullptr; // a child of m_bubble
    QPointer<QPropertyAnimation> m_fade;
    QPointer<QPropertyAnimation> m_move;

    ObjectID m_item;
    QPoint m_arrowLocation;
    bool m_arrowOnLeft = true;
    bool m_calculating = false;
    TimerHandle m_hideTimer;
    TimerHandle m_showTimer;
    TimerHandle m_releaseTimer;
    int m_prevFontSize = 0;
    bool m_windowOrderedIn = false;
    bool m_liveResize = false;
    bool m_nextHideShowFaster = false;
    int m_width = 0;
    int m_contentHeight = 0;
    QRect m_frame;
    // Answers of measurements started for an earlier document are dropped.
    quint64 m_generation = 0;
};

} // namespace corvane::desktop
