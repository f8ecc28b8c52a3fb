#include "tickerfixture.h"

#include "ticker/browser.h"
#include "ticker/dataitemview.h"
#include "ticker/entrystyle.h"
#include "ticker/mainwindowcontroller.h"
#include "ticker/pictures.h"

#include <QBuffer>
#include <QImage>
#include <QMouseEvent>
#include <QTest>

using namespace corvane;
using namespace corvane::test;
using desktop::DataItemView;

namespace {

class EntryTest : public TickerFixture
{
protected:
    void SetUp() override
    {
        TickerFixture::SetUp();
        m_source = addSource(QStringLiteral("http://a.org/rss"), QStringLiteral("Alpha"));
        m_adapter = std::make_unique<desktop::DataItemAdapter>(*m_engine, *m_bridge, m_clock);
        desktop::EntryStyle::current().load(settings());
        desktop::browser::setOpener([this](const QUrl &url) {
            m_opened.append(url.toString());
            return true;
        });
    }
    void TearDown() override
    {
        desktop::browser::setOpener({});
        m_adapter.reset();
        TickerFixture::TearDown();
    }

    std::unique_ptr<DataItemView> viewFor(ObjectID id)
    {
        auto view = std::make_unique<DataItemView>(*m_adapter);
        view->resize(240, 86);
        view->setDataItem(id);
        return view;
    }

    ObjectID m_source;
    std::unique_ptr<desktop::DataItemAdapter> m_adapter;
    QStringList m_opened;
};

TEST_F(EntryTest, HostileTitlesAreShownAsPlainBoundedText)
{
    const QString huge = QString(1 << 20, u'x');
    const QList<ObjectID> ids = storeItems(
        m_source, {{QStringLiteral("<b>bold</b> &amp; <script>alert(1)</script>"), 1},
                   {huge, 2},
                   {QStringLiteral("\u05e9\u05dc\u05d5\u05dd \U0001F600 line\nbreak\u2028end"), 3},
                   {QString(), 4, false, false, QStringLiteral("<p>Only a description</p>")}});
    for (const ObjectID &id : ids) {
        auto view = viewFor(id);
        const QImage picture = view->grab().toImage();
        EXPECT_FALSE(picture.isNull());
        EXPECT_LE(view->titleText().size(), 600);
        EXPECT_FALSE(view->titleText().contains(u'\n'));
        EXPECT_FALSE(view->titleText().contains(QChar::LineSeparator));
    }
    EXPECT_TRUE(viewFor(ids.at(2))->titleText().contains(QStringLiteral("\U0001F600")));
    EXPECT_EQ(viewFor(ids.at(3))->titleText(), QStringLiteral("Only a description"));
    EXPECT_TRUE(viewFor(ids.at(0))->sourceText().endsWith(QStringLiteral(" Alpha")));
}

TEST_F(EntryTest, PicturesThatAreMissingOrBrokenLeaveNone)
{
    auto *source = static_cast<Datasource *>(main()->existingObject(m_source));
    EXPECT_TRUE(desktop::pictures::subscriptionPicture(source).isNull());
    source->setImageData(QByteArrayLiteral("II*\0garbage that is no picture"));
    EXPECT_TRUE(desktop::pictures::subscriptionPicture(source).isNull());
    QImage dot(8, 8, QImage::Format_ARGB32);
    dot.fill(Qt::red);
    QByteArray tiff;
    QBuffer buffer(&tiff);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(dot.save(&buffer, "TIFF"));
    source->setImageData(tiff);
    EXPECT_EQ(desktop::pictures::subscriptionPicture(source).size(), QSize(8, 8));
    // Drawing falls back to the built-in picture without the subscription's.
    source->setImageData(QByteArray("not a picture"));
    const QList<ObjectID> ids = storeItems(m_source, {{QStringLiteral("t"), 1}});
    EXPECT_FALSE(viewFor(ids.first())->grab().isNull());
}

TEST_F(EntryTest, ClicksPreviewAndDoubleClicksOpen)
{
    const QList<ObjectID> ids = storeItems(m_source, {{QStringLiteral("one"), 1}});
    auto view = viewFor(ids.first());
    view->show();
    QTest::mouseClick(view.get(), Qt::LeftButton, {}, QPoint(50, 40));
    EXPECT_EQ(m_preview.shownItem(), ids.first());
    ASSERT_TRUE(spinUntil([&] {
        settle();
        return static_cast<DataItem *>(main()->existingObject(ids.first()))->isRead();
    })) << "previewing marks read";

    QTest::mouseClick(view.get(), Qt::LeftButton, {}, QPoint(50, 40));
    EXPECT_TRUE(m_preview.shownItem().isNull()) << "a click on the previewed entry closes the preview";
    EXPECT_TRUE(m_opened.isEmpty());

    view->previewItem(1, false);
    view->previewItem(2, false);
    EXPECT_TRUE(m_preview.shownItem().isNull());
    EXPECT_EQ(m_opened, QStringList{QStringLiteral("http://example.org/1")});

    // With previews off a click opens the link.
    settings().setValue(QStringLiteral("enablePreview"), false);
    view->previewItem(1, false);
    EXPECT_EQ(m_opened.size(), 2);
    settings().removeValue(QStringLiteral("enablePreview"));
}

TEST(Browser, OnlyWebAddressesOpen)
{
    struct Case
    {
        const char *link;
        const char *expected;
    };
    const Case cases[] = {
        {"http://example.org/a?b=c", "http://example.org/a?b=c"},
        {"https://example.org/p|tracking", "https://example.org/p"},
        {"  https://example.org/  ", "https://example.org/"},
        {"javascript:alert(1)", ""},
        {"file:///etc/passwd", ""},
        {"data:text/html,<b>x</b>", ""},
        {"/relative/path", ""},
        {"http://", ""},
        {"", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.link);
        EXPECT_EQ(desktop::browser::webAddress(QString::fromUtf8(c.link)).toString(), QString::fromUtf8(c.expected));
    }
}

} // namespace
