#include "refreshfixture.h"
#include "feeds/subscriptions/subscriptionlist.h"

#include "feeds/subscriptions/opmlhandler.h"
#include "xmlwriter.h"
#include "testfiles.h"

#include "store/category.h"

#include <QFile>
#include <QTemporaryDir>

#include <thread>

using namespace corvane;

namespace {

using corvane::test::readFile;
using corvane::test::writeFile;

class Opml : public corvane::test::RefreshFixture
{
protected:
    // OPML work refuses the main thread.
    std::optional<QString> import(const QString &path, bool deleteOthers = false)
    {
        std::optional<QString> error;
        std::thread worker([&] { error = OPMLHandler(manager->stores()).importURL(path, deleteOthers); });
        worker.join();
        settle();
        return error;
    }
    bool exportTo(const QString &path)
    {
        bool ok = false;
        std::thread worker([&] { ok = OPMLHandler(manager->stores()).exportURL(path); });
        worker.join();
        return ok;
    }
    Category *category(const QString &name)
    {
        auto *c = main()->insert<Category>();
        c->setName(name);
        c->setPosition(Category::maxPositionFromContext(main()) + 1);
        return c;
    }
    RSSDatasource *feed(const QString &url, const QString &name, Category *in = nullptr)
    {
        RSSDatasource *d = subscriptionlist::addFeedWithURL(url, main(), in);
        d->setName(name);
        return d;
    }
    QStringList feedUrls()
    {
        QStringList urls;
        for (Datasource *d : manager->datasourcesForMain())
            urls.append(d->url() + u'|' + (d->customName().isEmpty() ? d->name() : d->customName()) + u'|'
                        + (d->category() ? d->category()->name() : QString()));
        return urls;
    }
    QStringList categoryNames()
    {
        QStringList names;
        for (Category *c : main()->fetchAs<Category>(Query{Entity::Category, Predicate(), {{QStringLiteral("name"), true}}}))
            names.append(c->name());
        return names;
    }
    QTemporaryDir files;
};

} // namespace

TEST(XmlWriter, EscapesAndDropsCharactersXmlForbids)
{
    EXPECT_EQ(XMLWriter::escaped(QStringLiteral("a&b<c>\"d'")), QStringLiteral("a&amp;b&lt;c&gt;&quot;d'"));
    const QString text = QStringLiteral("x") + QChar(0x1) + QChar(0xFFFE) + QChar(0xD800) + QStringLiteral("y")
        + QString::fromUcs4(U"\U0001F600");
    EXPECT_EQ(XMLWriter::escaped(text), QStringLiteral("xy") + QString::fromUcs4(U"\U0001F600"));
}

TEST_F(Opml, ExportMatchesTheExpectedFileAndImportsBackIntoAnEmptyStore)
{
    auto *news = category(QStringLiteral("News"));
    category(QStringLiteral("Empty"));
    RSSDatasource *a = feed(QStringLiteral("http://a.example/rss?x=1&y=2"), QStringLiteral("A"));
    a->setCustomName(QStringLiteral("My A & \"co\""));
    feed(QStringLiteral("http://b.example/rss"), QStringLiteral("B <news>"), news);
    feed(QStringLiteral("http://c.example/feed"), QString());
    ASSERT_TRUE(main()->save());

    const QString path = files.filePath(QStringLiteral("out.opml"));
    ASSERT_TRUE(exportTo(path));
    EXPECT_EQ(readFile(path), readFile(QStringLiteral(CORVANE_TEST_DATA "/opml/export.opml")));
    EXPECT_FALSE(exportTo(files.filePath(QStringLiteral("missing/dir/out.opml"))));

    // Into an empty store: the same categories, subscriptions and names; twice adds nothing.
    manager->deleteDatasourceOrCategory(news);
    for (Datasource *d : manager->datasourcesForMain())
        manager->deleteDatasourceOrCategory(d);
    for (Category *c : main()->fetchAs<Category>(Query{Entity::Category}))
        manager->deleteDatasourceOrCategory(c);
    settle();
    EXPECT_EQ(import(path), std::nullopt);
    const QStringList expected{QStringLiteral("http://a.example/rss?x=1&y=2|My A & \"co\"|"),
                               QStringLiteral("http://c.example/feed||"),
                               QStringLiteral("http://b.example/rss|B <news>|News")};
    // A folder is only made when a new subscription goes into it, so the empty one is not.
    EXPECT_EQ(feedUrls(), expected);
    EXPECT_EQ(categoryNames(), QStringList{QStringLiteral("News")});
    EXPECT_EQ(import(path), std::nullopt);
    EXPECT_EQ(feedUrls(), expected);
    EXPECT_EQ(categoryNames(), QStringList{QStringLiteral("News")});
}

TEST_F(Opml, ImportRulesForKnownFeedsTypesAndFlatFolders)
{
    auto *news = category(QStringLiteral("News"));
    feed(QStringLiteral("http://host.example/rss"), QStringLiteral("Known"), news);
    ASSERT_TRUE(main()->save());
    const QString path = files.filePath(QStringLiteral("in.opml"));
    writeFile(path, "<?xml version=\"1.0\"?><opml version=\"1.0\"><head><title>x</title></head><body>"
                    "<outline title=\"Elsewhere\"><outline type=\"rss\" title=\"Renamed\" xmlUrl=\"feed://host.example/rss\"/></outline>"
                    "<outline text=\"News\"><outline xmlUrl=\"http://untyped.example/\" title=\"Untyped\"/>"
                    "<outline title=\"Inner\"><outline type=\"rss\" xmlUrl=\"http://inner.example/\"/></outline>"
                    "<outline type=\"rss\" xmlUrl=\"http://after.example/\"/></outline>"
                    "<outline text=\"News\"><outline type=\"link\" xmlUrl=\"http://link.example/\"/></outline>"
                    "<outline type=\"rss\" xmlUrl=\"http://top.example/\"/>"
                    "<outline type=\"rss\" xmlUrl=\"http://exa mple.org/\"/>"
                    "</body></opml>");
    EXPECT_EQ(import(path), std::nullopt);
    EXPECT_EQ(feedUrls(), (QStringList{QStringLiteral("http://host.example/rss|Known|News"),
                                       QStringLiteral("http://untyped.example/|Untyped|News"),
                                       QStringLiteral("http://inner.example/||Inner"),
                                       QStringLiteral("http://after.example/||Inner"),
                                       QStringLiteral("http://top.example/||")}))
        << "known feeds stay where they are; a nested folder takes over until its top-level outline ends";
    EXPECT_EQ(categoryNames(), (QStringList{QStringLiteral("Inner"), QStringLiteral("News")}))
        << "folders named like an existing category reuse it";
}

TEST_F(Opml, RestoreDeletesWhatTheFileLacksAndBrokenFilesStillImportTheirStart)
{
    auto *old = category(QStringLiteral("Old"));
    auto *kept = category(QStringLiteral("Kept"));
    feed(QStringLiteral("http://x.example/"), QStringLiteral("X"), old);
    feed(QStringLiteral("http://y.example/"), QStringLiteral("Y"), kept);
    feed(QStringLiteral("http://z.example/"), QStringLiteral("Z"));
    ASSERT_TRUE(main()->save());
    const QString path = files.filePath(QStringLiteral("restore.opml"));
    writeFile(path, "<opml><body><outline type=\"rss\" xmlUrl=\"http://y.example/\"/>"
                    "<outline type=\"rss\" xmlUrl=\"http://z.example/\"/><outline type=\"rss\" xmlUrl=\"http://new.example/\"/>"
                    "</body></opml>");
    EXPECT_EQ(import(path, true), std::nullopt);
    EXPECT_EQ(feedUrls(), (QStringList{QStringLiteral("http://y.example/|Y|Kept"), QStringLiteral("http://z.example/|Z|"),
                                       QStringLiteral("http://new.example/||")}));
    EXPECT_EQ(categoryNames(), QStringList{QStringLiteral("Kept")});

    const QString broken = files.filePath(QStringLiteral("broken.opml"));
    writeFile(broken, "<opml><body><outline type=\"rss\" xmlUrl=\"http://first.example/\"/><outline </body>");
    const std::optional<QString> error = import(broken);
    ASSERT_TRUE(error);
    EXPECT_FALSE(error->isEmpty());
    EXPECT_TRUE(feedUrls().contains(QStringLiteral("http://first.example/||")));
    EXPECT_TRUE(import(files.filePath(QStringLiteral("absent.opml"))));
}

TEST_F(Opml, ARestoreFromAFileThatIsMissingEmptyTruncatedOrListsNothingDeletesNothing)
{
    feed(QStringLiteral("http://kept.example/"), QStringLiteral("Kept"), category(QStringLiteral("Folder")));
    ASSERT_TRUE(main()->save());
    const QStringList before = feedUrls();
    const struct
    {
        const char *name;
        QByteArray contents;
    } files_[] = {
        {"empty.opml", ""},
        {"truncated.opml", "<opml><body><outline type=\"rss\" xmlUrl=\"http://other.example/\"/><outline"},
        {"unclosed.opml", "<opml><body><outline type=\"rss\" xmlUrl=\"http://other.example/\"/>"},
        {"folders-only.opml", "<opml><body><outline title=\"News\"/><outline type=\"link\" xmlUrl=\"http://l.example/\"/></body></opml>"},
    };
    for (const auto &file : files_) {
        SCOPED_TRACE(file.name);
        const QString path = files.filePath(QString::fromLatin1(file.name));
        writeFile(path, file.contents);
        const std::optional<QString> error = import(path, true);
        ASSERT_TRUE(error);
        EXPECT_TRUE(error->endsWith(QStringLiteral("nothing was restored")));
        EXPECT_EQ(feedUrls(), before);
        EXPECT_EQ(categoryNames(), QStringList{QStringLiteral("Folder")});
    }
    EXPECT_TRUE(import(files.filePath(QStringLiteral("absent.opml")), true));
    EXPECT_EQ(feedUrls(), before);
}

TEST_F(Opml, HostileFilesReadNoLocalFilesAndExpandNothingWithoutBound)
{
    const QString xxe = files.filePath(QStringLiteral("xxe.opml"));
    writeFile(xxe, "<?xml version=\"1.0\"?><!DOCTYPE opml [<!ENTITY e SYSTEM \"file:///etc/hostname\">]>"
                   "<opml><body><outline type=\"rss\" title=\"&e;\" xmlUrl=\"http://xxe.example/\"/></body></opml>");
    EXPECT_TRUE(import(xxe)) << "an external entity is an error";
    for (Datasource *d : manager->datasourcesForMain())
        EXPECT_TRUE(d->customName().isEmpty()) << d->customName().toStdString();

    QByteArray laughs = "<?xml version=\"1.0\"?><!DOCTYPE opml [<!ENTITY a0 \"lol\">";
    for (int i = 1; i < 12; ++i)
        laughs += "<!ENTITY a" + QByteArray::number(i) + " \"" + QByteArray("&a").append(QByteArray::number(i - 1)).append(';').repeated(10) + "\">";
    laughs += "]><opml><body><outline type=\"rss\" title=\"&a11;\" xmlUrl=\"http://laughs.example/\"/></body></opml>";
    const QString bomb = files.filePath(QStringLiteral("laughs.opml"));
    writeFile(bomb, laughs);
    EXPECT_TRUE(import(bomb));
    for (Datasource *d : manager->datasourcesForMain())
        EXPECT_LT(d->customName().size(), 1'000'000);
}
