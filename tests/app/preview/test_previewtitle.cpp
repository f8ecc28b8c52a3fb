// The bubble's title for each kind of source.
#include "tickerfixture.h"

#include "preview/previewtitle.h"

namespace corvane::test {
namespace {

class PreviewTitleTest : public TickerFixture
{
protected:
    void TearDown() override
    {
        settings().removeValue(QStringLiteral("OpenInTwitterApp"));
        TickerFixture::TearDown();
    }
};

TEST_F(PreviewTitleTest, NamesTheItemOrItsSourceAndLinksTwitterAuthors)
{
    struct Case
    {
        const char *name;
        const char *sourceUrl;
        const char *sourceName;
        const char *title;
        const char *description;
        const char *link;
        bool inApp;
        const char *text;
        const char *titleLink;
    };
    const char *tweet = "https://twitter.com/jack/status/20";
    const Case cases[] = {
        {"feed item", "http://a.example/feed", "A Feed", "Headline", "<p>Body</p>", "http://a.example/1", false,
         "Headline", ""},
        {"feed item with text but no title", "http://a.example/feed", "A Feed", "", "<p>Body</p>",
         "http://a.example/1", false, "A Feed", ""},
        {"item with neither", "http://a.example/feed", "A Feed", "", "", "http://a.example/1", false, "A Feed", ""},
        {"twitter search feed", "http://search.twitter.com/search.atom?q=corvane", "corvane - Twitter Search",
         "A tweet", "", tweet, false, "corvane", ""},
        {"hashtag search: the author", "#corvane", "#corvane", "A tweet", "", tweet, false, "@jack",
         "https://twitter.com/jack"},
        {"hashtag search, in the app", "#corvane", "#corvane", "A tweet", "", tweet, true, "@jack",
         "twitter://user?screen_name=jack"},
        {"hashtag search, link without status", "#corvane", "#corvane", "A tweet", "",
         "https://twitter.com/jack", false, "#corvane", ""},
        {"user timeline", "@jack", "@jack", "A tweet", "", tweet, false, "@jack", "https://twitter.com/jack"},
        {"user timeline, in the app", "@jack", "@jack", "A tweet", "", tweet, true, "@jack",
         "twitter://user?screen_name=jack"},
    };
    for (const Case &row : cases) {
        SCOPED_TRACE(row.name);
        settings().setValue(QStringLiteral("OpenInTwitterApp"), row.inApp);
        auto *source = main()->insert<RSSDatasource>();
        source->setUrl(QString::fromUtf8(row.sourceUrl));
        source->setName(QString::fromUtf8(row.sourceName));
        auto *item = main()->insert<DataItem>();
        item->setDatasource(source);
        item->setTitle(QString::fromUtf8(row.title));
        item->setItemDescription(QString::fromUtf8(row.description));
        item->setLink(QString::fromUtf8(row.link));
        const desktop::PreviewTitle title = desktop::previewTitle(*item, settings());
        EXPECT_EQ(title.text, QString::fromUtf8(row.text));
        EXPECT_EQ(title.link, QString::fromUtf8(row.titleLink));
    }
}

TEST_F(PreviewTitleTest, EscapesTheTitleForTheLabel)
{
    const desktop::PreviewTitle plain{QStringLiteral("<b>Tom & \"Jerry\"</b>"), {}};
    EXPECT_EQ(plain.html(), QStringLiteral("&lt;b&gt;Tom &amp; &quot;Jerry&quot;&lt;/b&gt;"));
    const desktop::PreviewTitle linked{QStringLiteral("@a<b"), QStringLiteral("https://x.example/\"><script>")};
    EXPECT_FALSE(linked.html().contains(QLatin1String("<script>")));
    EXPECT_TRUE(linked.html().contains(QLatin1String("@a&lt;b</a>")));
}

} // namespace
} // namespace corvane::test
