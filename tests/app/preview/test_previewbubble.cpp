// The preview bubble on a real store, with a real web engine (offscreen),
// pages served from 127.0.0.1 and a recorded browser.
#include "tickerfixture.h"

#include "preview/cvpreviewbubbleview.h"
#include "preview/cvpreviewwindowcontroller.h"
#include "preview/previewlayout.h"
#include "preview/previewpage.h"
#include "ticker/browser.h"

#include "httptestserver.h"

#include <QBuffer>
#include <QImage>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>
#include <QWebEngineScript>
#include <QWebEngineSettings>
#include <QWebEngineView>

namespace corvane::test {
namespace {

using desktop::CVPreviewWindowController;

// The engine's sandbox cannot run as root, and there is no GPU here.
const bool kChromiumFlags = [] {
    if (!qEnvironmentVariableIsSet("QTWEBENGINE_CHROMIUM_FLAGS"))
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--no-sandbox --disable-gpu");
    return true;
}();

// A 2x1 PNG.
QByteArray picture()
{
    QImage image(2, 1, QImage::Format_RGB32);
    image.fill(Qt::red);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

const QPoint kLeftArrow(280, 300); // beside a bar at the left edge

class PreviewBubbleTest : public TickerFixture
{
protected:
    void SetUp() override
    {
        TickerFixture::SetUp();
        settings().setValue(QStringLiteral("PreviewWindowWidth"), 340);
        m_adapter = std::make_unique<desktop::DataItemAdapter>(*m_engine, *m_bridge, m_clock);
        m_bubble = std::make_unique<CVPreviewWindowController>(*m_bridge, settings(), m_clock);
        desktop::PreviewPresenter::setShared(m_bubble.get());
        desktop::browser::setOpener([this](const QUrl &url) {
            m_opened.append(url);
            return true;
        });
        m_source = addSource(QStringLiteral("http://127.0.0.1:9/feed.xml"), QStringLiteral("Local News"));
    }

    void TearDown() override
    {
        desktop::browser::setOpener({});
        desktop::PreviewPresenter::setShared(nullptr);
        m_bubble.reset();
        m_adapter.reset();
        settings().removeValue(QStringLiteral("PreviewWindowWidth"));
        TickerFixture::TearDown();
    }

    ObjectID item(const QString &title, const QString &description)
    {
        return storeItems(m_source, {ItemSpec(title, 0, false, false, description)}).value(0);
    }

    // Shows the item and waits until the window is sized by its loaded content.
    bool show(ObjectID id, QPoint arrow = kLeftArrow, bool arrowOnLeft = true, int patienceMs = 15000)
    {
        QSignalSpy resized(m_bubble.get(), &CVPreviewWindowController::resized);
        m_bubble->showItem(id, arrow, arrowOnLeft);
        return spinUntil([&] { return m_bubble->windowOrderedIn() && !m_bubble->isCalculating() && resized.count() > 0; },
                         patienceMs);
    }

    // A script run in the application's world, as the bubble runs its own.
    QVariant evaluate(const QString &script)
    {
        QVariant result;
        bool answered = false;
        m_bubble->page()->runJavaScript(script, QWebEngineScript::ApplicationWorld, [&](const QVariant &value) {
            result = value;
            answered = true;
        });
        EXPECT_TRUE(spinUntil([&] { return answered; })) << script.toStdString();
        return result;
    }

    // Presses, moves and releases the mouse on whatever the bubble shows at `from`.
    void drag(QPoint from, int dx)
    {
        desktop::CVPreviewBubbleView *bubble = m_bubble->bubbleView();
        QWidget *view = bubble->childAt(from);
        ASSERT_NE(view, nullptr);
        const QPoint global = bubble->mapToGlobal(from);
        from = view->mapFrom(bubble, from);
        auto send = [view](QEvent::Type type, QPoint local, QPoint globalPos, Qt::MouseButton button,
                           Qt::MouseButtons buttons) {
            QMouseEvent event(type, local, globalPos, button, buttons, Qt::NoModifier);
            QCoreApplication::sendEvent(view, &event);
        };
        send(QEvent::MouseButtonPress, from, global, Qt::LeftButton, Qt::LeftButton);
        send(QEvent::MouseMove, from + QPoint(dx, 0), global + QPoint(dx, 0), Qt::NoButton, Qt::LeftButton);
        send(QEvent::MouseButtonRelease, from + QPoint(dx, 0), global + QPoint(dx, 0), Qt::LeftButton,
             Qt::NoButton);
    }

    std::unique_ptr<desktop::DataItemAdapter> m_adapter;
    std::unique_ptr<CVPreviewWindowController> m_bubble;
    QList<QUrl> m_opened;
    ObjectID m_source;
};

TEST_F(PreviewBubbleTest, GrowsWithItsContentUpToTheLimit)
{
    QString tall;
    for (int n = 0; n < 80; ++n)
        tall += QStringLiteral("<p>Paragraph %1 of a long story that wraps over a line or two.</p>").arg(n);
    struct Case
    {
        const char *name;
        QString description;
        bool capped;
    };
    const Case cases[] = {
        {"one line", QStringLiteral("<p>A short item.</p>"), false},
        {"no preview text", QString(), false},
        {"taller than the limit", tall, true},
    };
    int shortHeight = 0;
    for (const Case &row : cases) {
        SCOPED_TRACE(row.name);
        const ObjectID id = item(QStringLiteral("Title of %1").arg(QLatin1String(row.name)), row.description);
        ASSERT_TRUE(show(id));
        const QRect frame = m_bubble->frame();
        const QRect web = m_bubble->webView()->geometry();
        const int titleTop = m_bubble->bubbleView()->contentTop();
        EXPECT_EQ(frame.width(), 340);
        EXPECT_TRUE(m_bubble->bubbleView()->titleText().contains(QLatin1String("Title of")));
        if (row.capped) {
            EXPECT_EQ(frame.height(), desktop::previewlayout::kMaxHeight);
            EXPECT_EQ(web.width(), 340 - 14 + 4);
            EXPECT_EQ(web.height(), desktop::previewlayout::kMaxHeight - 42 - titleTop);
            // The rest of the content is reached by scrolling the web view.
            EXPECT_GT(evaluate(QStringLiteral("document.body.scrollHeight")).toInt(),
                      evaluate(QStringLiteral("document.body.clientHeight")).toInt());
        } else {
            EXPECT_EQ(frame.height(), m_bubble->contentHeight() + 42 + titleTop);
            EXPECT_EQ(web.width(), 340 - 14);
            EXPECT_LT(frame.height(), desktop::previewlayout::kMaxHeight);
        }
        if (row.description.isEmpty()) {
            EXPECT_EQ(evaluate(QStringLiteral("document.getElementById('corvanemaincontent').innerHTML.trim()"))
                          .toString(),
                      QString());
            EXPECT_EQ(m_bubble->contentHeight(), 17);
        } else if (!row.capped) {
            shortHeight = frame.height();
        }
        // Centred on the arrow.
        EXPECT_NEAR(frame.center().y(), kLeftArrow.y(), 1);
    }
    EXPECT_GT(shortHeight, 0);
}

TEST_F(PreviewBubbleTest, OverlongContentShowsItsBeginning)
{
    // Percent-encoded, as the page's address holds it, past its 2 MiB.
    QString huge = QStringLiteral("<p id=\"first\">The beginning.</p>");
    const QString paragraph = QStringLiteral("<p>") + QStringLiteral("ü ").repeated(20) + QStringLiteral("</p>");
    while (huge.size() < 600 * 1024)
        huge += paragraph;
    // Two mebibytes of markup take the engine a while on a busy machine.
    ASSERT_TRUE(show(item(QStringLiteral("Long"), huge), kLeftArrow, true, 120000));
    EXPECT_EQ(evaluate(QStringLiteral("document.getElementById('first').textContent")).toString(),
              QStringLiteral("The beginning."));
    EXPECT_EQ(m_bubble->frame().height(), desktop::previewlayout::kMaxHeight);
}

TEST_F(PreviewBubbleTest, FollowedLinksGoToTheBrowserAndCloseTheBubble)
{
    const QString story = QStringLiteral("http://127.0.0.1:9/story");
    struct Case
    {
        const char *name;
        QString markup;
    };
    const Case cases[] = {
        {"link", QStringLiteral("<a id=\"go\" style=\"font-size:40px\" href=\"%1\">the story</a>").arg(story)},
        {"link to a new window",
         QStringLiteral("<a id=\"go\" style=\"font-size:40px\" target=\"_blank\" href=\"%1\">the story</a>").arg(story)},
    };
    for (const Case &row : cases) {
        SCOPED_TRACE(row.name);
        m_opened.clear();
        ASSERT_TRUE(show(item(QStringLiteral("Links"), row.markup)));
        const QUrl before = m_bubble->page()->url();
        const QVariantList box =
            evaluate(QStringLiteral("(function(){var r=document.getElementById('go').getBoundingClientRect();"
                                    "return [r.left+r.width/2, r.top+r.height/2];})()"))
                .toList();
        ASSERT_EQ(box.size(), 2);
        QWidget *target = m_bubble->webView()->focusProxy();
        ASSERT_NE(target, nullptr);
        const QPoint point(int(box[0].toDouble()), int(box[1].toDouble()));
        QSignalSpy disappeared(m_bubble.get(), &CVPreviewWindowController::didDisappear);
        QTest::mouseClick(target, Qt::LeftButton, {}, point);
        ASSERT_TRUE(spinUntil([&] { return !m_opened.isEmpty(); }));
        EXPECT_EQ(m_opened, QList<QUrl>{QUrl(story)});
        EXPECT_TRUE(m_bubble->shownItem().isNull());
        EXPECT_EQ(m_bubble->page()->url(), before);
        m_clock.advance(0.2);
        EXPECT_FALSE(m_bubble->bubbleView()->isVisible());
        EXPECT_EQ(disappeared.count(), 1);
    }

    // The open button takes the item itself to the browser.
    m_opened.clear();
    const ObjectID id = item(QStringLiteral("Open me"), QStringLiteral("<p>Text</p>"));
    ASSERT_TRUE(show(id));
    const QUrl link(m_adapter->item(id)->link());
    QTest::mouseClick(m_bubble->bubbleView()->openButton(), Qt::LeftButton);
    EXPECT_EQ(m_opened, QList<QUrl>{link});
    EXPECT_TRUE(m_bubble->shownItem().isNull());

    // Escape closes it, with the focus in the web view too.
    m_clock.advance(0.2);
    ASSERT_TRUE(show(id));
    QTest::keyClick(m_bubble->webView()->focusProxy(), Qt::Key_Escape);
    EXPECT_TRUE(m_bubble->shownItem().isNull());
}

TEST_F(PreviewBubbleTest, HostileContentNeitherRunsNorReachesFilesNorNavigates)
{
    HttpTestServer server;
    HttpTestServer::Response png;
    png.headers = {{"Content-Type", "image/png"}};
    png.body = picture();
    server.setResponse(QStringLiteral("/picture.png"), png);
    server.setResponse(QStringLiteral("/barrier.png"), png);
    const QString content =
        QStringLiteral("<meta http-equiv=\"refresh\" content=\"0;url=%1\">"
                       "<p id=\"mark\">unchanged</p>"
                       "<script>document.getElementById('mark').textContent='script ran';"
                       "window.open('%2');</script>"
                       "<img id=\"local\" src=\"file:///etc/hostname\">"
                       "<img id=\"remote\" src=\"%3\">"
                       "<form id=\"form\" method=\"post\" action=\"%4\"><input name=\"a\" value=\"b\">"
                       "<button id=\"send\">Send</button></form>"
                       "<iframe src=\"file:///etc/hostname\"></iframe>")
            .arg(server.url(QStringLiteral("/refresh")).toString(), server.url(QStringLiteral("/popup")).toString(),
                 server.url(QStringLiteral("/picture.png")).toString(),
                 server.url(QStringLiteral("/form")).toString());
    QList<QUrl> refused;
    m_bubble->showItem(item(QStringLiteral("Hostile"), content), kLeftArrow, true);
    QObject::connect(m_bubble->page(), &desktop::PreviewPage::navigationRefused, m_bubble.get(),
            [&refused](const QUrl &url) { refused.append(url); });
    ASSERT_TRUE(spinUntil([&] { return m_bubble->windowOrderedIn() && !m_bubble->isCalculating(); }));
    const QUrl before = m_bubble->page()->url();

    // Our own script world may submit and open; the page must still refuse.
    evaluate(QStringLiteral("document.getElementById('send').click(); window.open('%1'); true")
                 .arg(server.url(QStringLiteral("/popup")).toString()));
    evaluate(QStringLiteral("var b=new Image(); b.src='%1'; true").arg(server.url(QStringLiteral("/barrier.png")).toString()));
    ASSERT_TRUE(spinUntil([&] { return server.requestCount(QStringLiteral("/barrier.png")) > 0; }));
    // The refresh and the form reached the page and were refused there.
    ASSERT_TRUE(spinUntil([&] {
        return refused.contains(server.url(QStringLiteral("/refresh")))
               && refused.contains(server.url(QStringLiteral("/form")));
    })) << refused.size();

    EXPECT_EQ(evaluate(QStringLiteral("document.getElementById('mark').textContent")).toString(),
              QStringLiteral("unchanged"));
    EXPECT_EQ(evaluate(QStringLiteral("document.getElementById('local').naturalWidth")).toInt(), 0);
    EXPECT_EQ(evaluate(QStringLiteral("document.getElementById('remote').naturalWidth")).toInt(), 2);
    EXPECT_EQ(server.requestCount(QStringLiteral("/picture.png")), 1);
    for (const char *path : {"/refresh", "/popup", "/form"}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(server.requestCount(QString::fromLatin1(path)), 0);
    }
    EXPECT_EQ(m_bubble->page()->url(), before);
    EXPECT_FALSE(m_bubble->shownItem().isNull());
    EXPECT_TRUE(m_opened.isEmpty());
}

TEST_F(PreviewBubbleTest, WidthDragStopsAtTheLimitsAndIsKeptForTheNextItem)
{
    struct Case
    {
        const char *name;
        QPoint arrow;
        bool arrowOnLeft;
    };
    const Case cases[] = {
        {"arrow on the left, grip on the right", kLeftArrow, true},
        {"arrow on the right, grip on the left", QPoint(520, 300), false},
    };
    for (const Case &row : cases) {
        SCOPED_TRACE(row.name);
        settings().setValue(QStringLiteral("PreviewWindowWidth"), 340);
        ASSERT_TRUE(show(item(QStringLiteral("Wide"), QStringLiteral("<p>Some text</p>")), row.arrow, row.arrowOnLeft));
        const int width = m_bubble->bubbleView()->width();
        // Over the web view, which reaches into the far edge.
        const int y = m_bubble->webView()->geometry().center().y();
        const QPoint grip(row.arrowOnLeft ? width - 2 : 5, y);
        const int outward = row.arrowOnLeft ? 1 : -1;

        drag(grip, -outward * 1000);
        EXPECT_EQ(m_bubble->bubbleView()->width(), 200);
        EXPECT_EQ(settings().integer(QStringLiteral("PreviewWindowWidth")), 200);

        drag(QPoint(row.arrowOnLeft ? 198 : 5, y), outward * 2000);
        EXPECT_EQ(m_bubble->bubbleView()->width(), 800);
        EXPECT_EQ(settings().integer(QStringLiteral("PreviewWindowWidth")), 800);
        // The side at the arrow stays where it was.
        const QRect frame = m_bubble->bubbleView()->geometry();
        EXPECT_EQ(row.arrowOnLeft ? frame.left() : frame.left() + frame.width(), row.arrow.x());

        m_bubble->close(false);
        ASSERT_TRUE(show(item(QStringLiteral("Next"), QStringLiteral("<p>More</p>")), row.arrow, row.arrowOnLeft));
        EXPECT_EQ(m_bubble->frame().width(), 800);
        m_bubble->close(false);
    }
}

TEST_F(PreviewBubbleTest, OpensTowardsTheScreenFollowsItsEntryAndLetsTheEngineGo)
{
    EXPECT_EQ(m_bubble->webView(), nullptr) << "the web engine starts with the first preview";
    const ObjectID id = item(QStringLiteral("Sides"), QStringLiteral("<p>Text</p>"));

    // A bar at the right edge: the bubble lies to its left, arrow on its right.
    const QPoint rightArrow(560, 250);
    ASSERT_TRUE(show(id, rightArrow, false));
    QRect frame = m_bubble->frame();
    EXPECT_EQ(frame.left() + frame.width(), rightArrow.x());
    EXPECT_EQ(m_bubble->webView()->geometry().x(), 4);
    EXPECT_FALSE(m_bubble->bubbleView()->showOnLeft());
    EXPECT_EQ(m_bubble->bubbleView()->arrowY(), rightArrow.y() - frame.top());
    m_bubble->close(false);

    ASSERT_TRUE(show(id, kLeftArrow, true));
    frame = m_bubble->frame();
    EXPECT_EQ(frame.left(), kLeftArrow.x());
    EXPECT_EQ(m_bubble->webView()->geometry().x(), 14);

    // The bar scrolls: the window keeps the arrow 30 points inside itself.
    const QPoint lower(kLeftArrow.x(), frame.top() + frame.height() + 40);
    m_bubble->moveArrow(lower, true);
    frame = m_bubble->frame();
    EXPECT_EQ(frame.top() + frame.height() - 30, lower.y());
    EXPECT_EQ(m_bubble->bubbleView()->geometry(), frame);
    EXPECT_FALSE(m_bubble->shownItem().isNull());

    // An arrow below the screen closes the bubble.
    QSignalSpy disappeared(m_bubble.get(), &CVPreviewWindowController::didDisappear);
    m_bubble->moveArrow(QPoint(kLeftArrow.x(), 5000), true);
    EXPECT_TRUE(m_bubble->shownItem().isNull());
    m_clock.advance(0.2);
    EXPECT_EQ(disappeared.count(), 1);

    // Closed for a while, the bubble lets the web engine go, and starts it again when needed.
    m_clock.advance(60);
    EXPECT_NE(m_bubble->webView(), nullptr);
    m_clock.advance(60);
    EXPECT_EQ(m_bubble->webView(), nullptr);
    EXPECT_EQ(m_bubble->page(), nullptr);
    ASSERT_TRUE(show(id, kLeftArrow, true));
    EXPECT_EQ(m_bubble->frame().left(), kLeftArrow.x());

    // Closed and opened again at once: the new document loads after the blank one.
    const ObjectID next = item(QStringLiteral("Next"), QStringLiteral("<p id=\"next\">Next</p>"));
    m_bubble->close(false);
    ASSERT_TRUE(show(next, kLeftArrow, true));
    EXPECT_EQ(evaluate(QStringLiteral("document.getElementById('next').textContent")).toString(),
              QStringLiteral("Next"));
}

} // namespace
} // namespace corvane::test

namespace corvane::test {
namespace {

TEST_F(PreviewBubbleTest, ContentStillLoadingShowsAfterHalfASecond)
{
    HttpTestServer server;
    HttpTestServer::Response hanging;
    hanging.neverAnswer = true;
    server.setResponse(QStringLiteral("/slow.png"), hanging);
    m_bubble->showItem(item(QStringLiteral("Slow"), QStringLiteral("<p>Text</p><img src=\"%1\">")
                                                        .arg(server.url(QStringLiteral("/slow.png")).toString())),
                       kLeftArrow, true);
    ASSERT_TRUE(spinUntil([&] { return server.requestCount(QStringLiteral("/slow.png")) > 0; }));
    EXPECT_FALSE(m_bubble->windowOrderedIn());
    EXPECT_TRUE(m_bubble->isCalculating());
    m_clock.advance(0.5);
    EXPECT_TRUE(m_bubble->windowOrderedIn());
    EXPECT_TRUE(m_bubble->bubbleView()->isVisible());
    // Its height follows once measured.
    ASSERT_TRUE(spinUntil([&] { return m_bubble->contentHeight() > 17; }));
    m_bubble->close(false);
}

TEST_F(PreviewBubbleTest, FollowsItsSettingsAndItsItem)
{
    struct Level
    {
        qint64 alwaysOnTop;
        bool onTop;
    };
    for (const Level &row : {Level{1, true}, Level{0, false}, Level{2, false}}) {
        SCOPED_TRACE(row.alwaysOnTop);
        settings().setValue(QStringLiteral("alwaysOnTop"), row.alwaysOnTop);
        settle();
        const Qt::WindowFlags flags = m_bubble->bubbleView()->windowFlags();
        EXPECT_EQ(flags.testFlag(Qt::WindowStaysOnTopHint), row.onTop);
        EXPECT_FALSE(flags.testFlag(Qt::WindowStaysOnBottomHint)) << "the bubble is never behind other windows";
    }
    settings().removeValue(QStringLiteral("alwaysOnTop"));

    const ObjectID id = item(QStringLiteral("Fonts"), QStringLiteral("<p>Text</p>"));
    ASSERT_TRUE(show(id));
    settings().setValue(QStringLiteral("fontSize"), 17.4);
    settings().setValue(QStringLiteral("fontName"), QStringLiteral("DejaVu Serif"));
    settle();
    QWebEngineSettings *web = m_bubble->page()->settings();
    EXPECT_EQ(web->fontSize(QWebEngineSettings::DefaultFontSize), 17);
    EXPECT_EQ(web->fontFamily(QWebEngineSettings::StandardFont), QStringLiteral("DejaVu Serif"));
    EXPECT_EQ(m_bubble->shownItem(), id);
    settings().removeValue(QStringLiteral("fontSize"));
    settings().removeValue(QStringLiteral("fontName"));
    settle();

    // The item deleted elsewhere (a trim, another machine) closes its bubble.
    QSignalSpy disappeared(m_bubble.get(), &CVPreviewWindowController::didDisappear);
    background()->performBlockConfinedAndWait([&] {
        background()->deleteObject(background()->existingObject(id));
        EXPECT_TRUE(background()->save());
    });
    settle();
    EXPECT_TRUE(m_bubble->shownItem().isNull());
    m_clock.advance(0.2);
    EXPECT_EQ(disappeared.count(), 1);
}

} // namespace
} // namespace corvane::test
