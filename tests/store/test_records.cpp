#include "storefixture.h"

#include "store/applifetimepropertymanager.h"
#include "store/category.h"
#include "store/dataitem.h"
#include "store/datasource.h"
#include "store/keyword.h"
#include "store/recordevents.h"

#include "base/clock.h"
#include "base/digest.h"
#include "base/notificationcenter.h"
#include "base/settings.h"
#include "base/stringhash.h"

#include <QLocale>
#include <QRegularExpression>

using namespace corvane;
using corvane::test::StoreFixture;

namespace {

class RecordsTest : public StoreFixture
{
protected:
    RSSDatasource *addSource(const QString &url = QStringLiteral("http://a.org/rss"))
    {
        return test::addSource(m_context.get(), url);
    }
    DataItem *addItem(Datasource *source, const QString &title = QString(), const QString &link = QString())
    {
        return test::addItem(m_context.get(), source, title, link);
    }
};

} // namespace

TEST_F(RecordsTest, StampsOnlyForTheFieldsThatTravel)
{
    auto *category = m_context->insert<Category>();
    category->setName(QStringLiteral("Tech"));
    auto *source = addSource();
    ASSERT_TRUE(m_context->save());
    const qint64 categoryStamp = category->clock();
    const qint64 sourceStamp = source->clock();
    EXPECT_GT(categoryStamp, 0);
    EXPECT_GT(sourceStamp, 0);

    category->setOpen(true);
    source->setErrorString(QStringLiteral("Error fetching"));
    source->setLastUpdateDate(1000.0);
    source->setName(QStringLiteral("Feed"));
    ASSERT_TRUE(m_context->save());
    EXPECT_EQ(category->clock(), categoryStamp);
    EXPECT_EQ(source->clock(), sourceStamp);

    source->setCustomName(QStringLiteral("Mine"));
    category->setSidebar(true);
    ASSERT_TRUE(m_context->save());
    EXPECT_GT(source->clock(), sourceStamp);
    EXPECT_GT(category->clock(), categoryStamp);

    // A writer that sets the stamp itself keeps it.
    source->setEnabled(false);
    source->setClock(-256);
    ASSERT_TRUE(m_context->save());
    EXPECT_EQ(source->clock(), -256);
}

TEST_F(RecordsTest, IdentifiersOfDefaultCategoriesAndFeedsMatchOnEveryMachine)
{
    auto *tech = m_context->insert<Category>();
    tech->setName(QStringLiteral("Tech"));
    auto *mine = m_context->insert<Category>();
    mine->setName(QStringLiteral("Mine"));
    auto *source = addSource(QStringLiteral("http://a.org/rss"));
    ASSERT_TRUE(m_context->save());
    EXPECT_EQ(tech->uuid(), MD5(QStringLiteral("Tech")));
    EXPECT_EQ(mine->uuid().size(), 36);
    EXPECT_EQ(source->uuid(), MD5(QStringLiteral("http://a.org/rss")));
}

TEST_F(RecordsTest, EnabledStateOfACategoryCountsItsSubscriptions)
{
    auto *category = m_context->insert<Category>();
    EXPECT_EQ(category->enabledButtonState(), 0);
    QList<RSSDatasource *> sources;
    for (int i = 0; i < 3; ++i) {
        sources.append(addSource(QStringLiteral("http://s%1.org/").arg(i)));
        sources.back()->setCategory(category);
        sources.back()->setEnabled(i == 0);
    }
    ASSERT_TRUE(m_context->save());
    EXPECT_EQ(category->enabledButtonState(), -1);
    for (auto *s : sources)
        s->setEnabled(true);
    EXPECT_EQ(category->enabledButtonState(), 1);
    for (auto *s : sources)
        s->setEnabled(false);
    EXPECT_EQ(category->enabledButtonState(), 0);
    EXPECT_FALSE(category->isEnabled());
}

TEST_F(RecordsTest, SubscriptionNamesAndPositions)
{
    auto *first = addSource(QStringLiteral("http://a.org/rss"));
    auto *second = addSource(QStringLiteral("http://b.org/rss"));
    EXPECT_EQ(first->position(), 1);
    EXPECT_EQ(second->position(), 2);
    EXPECT_EQ(first->visibleName(), QStringLiteral("http://a.org/rss"));
    first->setName(QStringLiteral("  The Feed \n"));
    first->setCustomName(QStringLiteral(""));
    EXPECT_EQ(first->infoString(), QStringLiteral("Never updated"));
    ASSERT_TRUE(m_context->save());
    EXPECT_EQ(first->name(), QStringLiteral("The Feed"));
    EXPECT_EQ(first->visibleName(), QStringLiteral("The Feed"));
    first->setErrorString(QStringLiteral("Invalid XML"));
    EXPECT_EQ(first->infoString(), QStringLiteral("Invalid XML"));

    // Medium styles of the locale: "Jan 12, 2020" for the date, seconds in the time.
    const QLocale previous;
    QLocale::setDefault(QLocale(QStringLiteral("en_US")));
    const Date noon = 1578830400; // 2020-01-12 12:00 UTC
    first->setErrorString(QString());
    first->setLastUpdateDate(noon);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^Updated at Jan 1[123], 2020,? \\d+:00:00\\W?[AP]M$"))
                    .match(first->infoString()).hasMatch()) << first->infoString().toStdString();
    auto *item = addItem(first);
    item->setOriginalDate(noon);
    item->setOrderingDate(noon);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^Jan 1[123], 2020$")).match(item->visibleDate(noon + 30 * 86400)).hasMatch())
        << item->visibleDate(noon + 30 * 86400).toStdString();
    QLocale::setDefault(previous);

    EXPECT_EQ(first->limitOrDefault(), Settings::shared().integer(QStringLiteral("limit")));
    first->setAgeLimit(3);
    EXPECT_EQ(first->ageLimitOrDefault(), 3);
    EXPECT_FALSE(first->getUserDefaultsForKey(QStringLiteral("fontColor"), true).isValid());
    EXPECT_EQ(first->getUserDefaultsForKey(QStringLiteral("fontColor"), false),
              Settings::shared().value(QStringLiteral("fontColor")));
    EXPECT_TRUE(RSSDatasource::isTwitterUrl(QStringLiteral("@user")));
    EXPECT_FALSE(RSSDatasource::isTwitterUrl(QString()));
}

TEST_F(RecordsTest, ItemHashAndLinkAreCanonisedOnSave)
{
    auto *source = addSource();
    auto *a = addItem(source, QStringLiteral("  Title \n"), QStringLiteral("http://a.org/x \n"));
    auto *b = addItem(source, QStringLiteral("Title"), QStringLiteral("http://a.org/x"));
    auto *broken = addItem(source, QString(), QStringLiteral("http://a.org/a b"));
    ASSERT_TRUE(m_context->save());
    EXPECT_EQ(a->itemHash(), b->itemHash());
    EXPECT_EQ(a->itemHash(), calculateHashFromTitleAndLink(QStringLiteral("Title"), QStringLiteral("http://a.org/x")));
    EXPECT_EQ(a->link(), QStringLiteral("http://a.org/x"));
    EXPECT_EQ(broken->link(), QStringLiteral("http://a.org/ab"));
    b->setTitle(QStringLiteral("Other"));
    ASSERT_TRUE(m_context->save());
    EXPECT_NE(a->itemHash(), b->itemHash());
}

TEST_F(RecordsTest, ReadStateTakesItsOwnStampAndAnnouncesRealChangesOnly)
{
    auto *item = addItem(addSource());
    ASSERT_TRUE(m_context->save());
    int posts = 0;
    ScopedObserver observer(NotificationCenter::defaultCenter(), kItemPropertiesChangedNotification, item,
                            [&](const Notification &) { ++posts; });
    const qint64 itemClock = item->clock();
    item->setRead(false);
    EXPECT_EQ(posts, 0);
    EXPECT_EQ(item->readLocalStamp(), 0);
    item->setRead(true);
    EXPECT_EQ(posts, 1);
    EXPECT_EQ(item->readLocalStamp(), Clock::sharedClock().current());
    // On the main thread the setter saves.
    EXPECT_FALSE(m_context->hasChanges());
    EXPECT_EQ(item->clock(), itemClock);
    item->setStarred(true);
    EXPECT_FALSE(m_context->hasChanges());
    EXPECT_GT(item->clock(), itemClock);
}

TEST_F(RecordsTest, FlatteningAndVisibleTexts)
{
    EXPECT_EQ(DataItem::flatten(QStringLiteral(" <b>AT&amp;T</b> <i>news</i> ")), QStringLiteral("AT&T news"));
    EXPECT_EQ(DataItem::flatten(QStringLiteral("a <unclosed")), QStringLiteral("a"));
    auto *item = addItem(addSource(QStringLiteral("@someone")));
    item->setItemDescription(QStringLiteral("<p>Only description</p>"));
    EXPECT_EQ(item->visibleTitle(), QStringLiteral("Only description"));
    item->setItemDescription(QStringLiteral("hi @bob, see #tag!"));
    item->setEnclosureUrl(QStringLiteral("http://a.org/ep1.mp3"));
    item->setEnclosureMime(QStringLiteral("audio/mpeg"));
    const QString preview = item->visiblePreview();
    EXPECT_TRUE(preview.contains(QStringLiteral("<a href =\"https://twitter.com/bob\">@bob</a>,"))) << preview.toStdString();
    EXPECT_TRUE(preview.contains(QStringLiteral("#tag</a>!")));
    EXPECT_TRUE(preview.endsWith(QStringLiteral("<br><br><a href=\"http://a.org/ep1.mp3\">ep1.mp3</a>")));
}

TEST_F(RecordsTest, RunTimeValuesOutliveTheRecordAndAreSharedByContexts)
{
    auto *source = addSource();
    ASSERT_TRUE(m_context->save());
    int posts = 0;
    ScopedObserver observer(NotificationCenter::defaultCenter(), kAppLifetimePropertyChangedNotification, nullptr,
                            [&](const Notification &n) {
                                EXPECT_EQ(n.userInfo.value(QStringLiteral("key")), QStringLiteral("failedTries"));
                                ++posts;
                            });
    source->setFailedTries(3);
    EXPECT_EQ(posts, 1);
    auto other = newContext();
    auto *copy = static_cast<RSSDatasource *>(other->existingObject(source->objectID()));
    EXPECT_EQ(copy->failedTries(), 3);
    m_context->refresh(source, false);
    EXPECT_EQ(source->failedTries(), 3);

    // A deleted subscription's URI is never reused, so its values stay its own.
    observer.reset();
    const QString uri = m_store->uriForID(source->objectID());
    m_context->deleteObject(source);
    ASSERT_TRUE(m_context->save());
    auto *successor = addSource();
    ASSERT_TRUE(m_context->save());
    EXPECT_NE(m_store->uriForID(successor->objectID()), uri);
    EXPECT_EQ(successor->failedTries(), 0);
    EXPECT_FALSE(Datasource::isBeingDeleted(m_store->uriForID(successor->objectID())));
    EXPECT_TRUE(Datasource::isBeingDeleted(uri));
    AppLifetimePropertyManager::shared().clear();
}

TEST_F(RecordsTest, DeletionByTheUserIsReportedWithItsIdentityPlainDeletionIsNot)
{
    QStringList reported;
    ScopedObserver observer(NotificationCenter::defaultCenter(), kSyncDeletionNotification, nullptr,
                            [&](const Notification &n) {
                                const auto d = n.userInfo.value(QStringLiteral("deletion")).value<SyncDeletion>();
                                reported.append(QStringLiteral("%1 %2 %3 %4 %5")
                                                    .arg(entityName(d.entity), d.uuid, d.url, d.name)
                                                    .arg(QLatin1String(d.forFeedly ? "feedly" : "cloud only")));
                            });
    auto *category = m_context->insert<Category>();
    category->setName(QStringLiteral("News"));
    auto *source = addSource();
    auto *keyword = m_context->insert<Keyword>();
    keyword->setName(QStringLiteral("linux"));
    auto *plain = addSource(QStringLiteral("http://b.org/rss"));
    ASSERT_TRUE(m_context->save());
    const QString categoryUuid = category->uuid();
    const QString sourceUuid = source->uuid();
    ASSERT_FALSE(categoryUuid.isEmpty());
    category->deleteObjectByUser();
    source->deleteObjectByUser();
    keyword->deleteObjectByUser();
    m_context->deleteObject(plain);
    ASSERT_TRUE(m_context->save());
    EXPECT_EQ(reported, (QStringList{QStringLiteral("Category %1  News feedly").arg(categoryUuid),
                                     QStringLiteral("Datasource %1 http://a.org/rss  feedly").arg(sourceUuid),
                                     QStringLiteral("Keyword   linux cloud only")}));
    EXPECT_EQ(m_context->count(Query{Entity::Datasource}), 0);
}
