#pragma once

#include "manualclock.h"

#include "ticker/dataitemadapter.h"
#include "ticker/enginebridge.h"
#include "ticker/listview.h"
#include "ticker/mainwindowcontroller.h"
#include "ticker/previewpresenter.h"

#include "base/settings.h"
#include "feeds/refresh/datasourcemanager.h"
#include "store/category.h"
#include "store/context.h"
#include "store/dataitem.h"
#include "store/datasource.h"
#include "store/storemanager.h"

#include "quietengine.h"
#include "spinuntil.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

namespace corvane::test {

// A preview that "shows" whatever it is given, so the bar's rules for an
// open preview can be tried without a bubble.
class RecordingPreview final : public desktop::PreviewPresenter
{
public:
    ObjectID shownItem() const override { return m_shown; }
    void showItem(ObjectID item, QPoint, bool) override { m_shown = item; }
    void moveArrow(QPoint, bool) override {}
    void close(bool) override
    {
        if (m_shown.isNull())
            return;
        m_shown = ObjectID{};
        Q_EMIT didDisappear();
    }

private:
    ObjectID m_shown;
};

// An engine on a fresh store that never fetches, its bridge and a manual
// clock. Items are stored through the background context, as refreshes
// store them, and reach the main context by the usual merge.
class TickerFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        settings().setValue(QStringLiteral("DefaultFeedsAlreadyCreated"), true);
        m_engine = std::make_unique<DatasourceManager>(quietEngine(m_dir.path()));
        ASSERT_TRUE(m_engine->isOpen());
        settle();
        m_bridge = std::make_unique<desktop::EngineBridge>(settings());
        desktop::PreviewPresenter::setShared(&m_preview);
    }

    void TearDown() override
    {
        desktop::PreviewPresenter::setShared(nullptr);
        m_bridge.reset();
        m_engine.reset();
        for (const char *key : {"autoHide", "itemHeight", "scrollToTopInterval", "limit", "soundName",
                                "alwaysPlaySound", "location"})
            settings().removeValue(QString::fromLatin1(key));
    }

    static Settings &settings() { return Settings::shared(); }
    Context *main() const { return m_engine->contextMain(); }
    Context *background() const { return m_engine->contextBackground(); }

    // Lets saves, merges and queued signals run to their end.
    void settle()
    {
        for (int round = 0; round < 3; ++round) {
            m_engine->stores().queue().drain();
            QCoreApplication::sendPostedEvents();
            QCoreApplication::processEvents();
        }
    }

    // A subscription saved in the main context.
    ObjectID addSource(const QString &url, const QString &name = QString(), Category *category = nullptr)
    {
        auto *source = main()->insert<RSSDatasource>();
        source->setUrl(url);
        source->setName(name.isEmpty() ? url : name);
        source->setEnabled(true);
        if (category)
            source->setCategory(category);
        EXPECT_TRUE(main()->save());
        settle();
        return source->objectID();
    }

    struct ItemSpec
    {
        ItemSpec(QString title, double age = 0, bool read = false, bool starred = false, QString description = {})
            : title(std::move(title)), age(age), read(read), starred(starred), description(std::move(description))
        {
        }
        QString title;
        double age = 0; // seconds before the clock's now
        bool read = false;
        bool starred = false;
        QString description;
    };

    // Items stored by the background context and merged into the main one.
    QList<ObjectID> storeItems(ObjectID source, const QList<ItemSpec> &specs)
    {
        QList<ObjectID> ids;
        const Date now = m_clock.now();
        background()->performBlockConfinedAndWait([&] {
            auto *datasource = static_cast<Datasource *>(background()->existingObject(source));
            QList<DataItem *> items;
            for (const ItemSpec &spec : specs) {
                auto *item = background()->insert<DataItem>();
                item->setDatasource(datasource);
                item->setTitle(spec.title);
                item->setItemDescription(spec.description);
                item->setLink(QStringLiteral("http://example.org/") + QString::number(++m_serial));
                item->setGuid(QStringLiteral("guid-%1").arg(m_serial));
                item->setParsedDate(now - spec.age);
                item->setOriginalDate(now - spec.age);
                item->setOrderingDate(now - spec.age);
                item->setRead(spec.read);
                item->setStarred(spec.starred);
                items.append(item);
            }
            EXPECT_TRUE(background()->save());
            for (const DataItem *item : items)
                ids.append(item->objectID());
        });
        settle();
        return ids;
    }

    // The bar on this engine, driven by the manual clock, shown and laid out.
    std::unique_ptr<desktop::MainWindowController> makeBar(std::function<bool(const QString &)> playSound = {})
    {
        desktop::MainWindowController::Options options;
        options.clock = &m_clock;
        options.startTimers = false;
        options.playSound = playSound ? std::move(playSound) : [](const QString &) { return false; };
        auto bar = std::make_unique<desktop::MainWindowController>(*m_engine, *m_bridge, settings(), options);
        bar->window()->resize(240, 600);
        bar->show();
        settle();
        bar->rebuildViews(true);
        return bar;
    }

    // 0.2-second ticks of the bar, as its timers run them, animations ended.
    void tickBar(desktop::MainWindowController &bar, int times = 1)
    {
        for (int i = 0; i < times; ++i) {
            m_clock.advance(0.2);
            bar.tick();
            bar.rebuildViews(false);
            bar.listView()->finishAnimation();
            settle();
        }
    }

    QStringList titles(const QList<ObjectID> &ids) const
    {
        QStringList list;
        for (const ObjectID &id : ids)
            if (const auto *item = static_cast<DataItem *>(main()->existingObject(id)))
                list.append(item->title());
        return list;
    }

    QTemporaryDir m_dir;
    // Starts at the real time: the engine judges "today" by it.
    ManualClock m_clock{currentDate()};
    RecordingPreview m_preview;
    std::unique_ptr<DatasourceManager> m_engine;
    std::unique_ptr<desktop::EngineBridge> m_bridge;
    int m_serial = 0;
};

} // namespace corvane::test
