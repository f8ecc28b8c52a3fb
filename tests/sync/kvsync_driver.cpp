// One machine of the convergence test: a store in its own CORVANE_HOME with
// the key-value sync on, sharing the cloud folder given on the command line.
// Reads commands from standard input:
//   ops SEED COUNT  COUNT seeded random user operations, then "done"
//   dump            the synchronised state as one JSON line
//   quit
#include "sync/keyvaluehandler.h"
#include "sync/keyvaluestore.h"

#include "base/dispatch.h"
#include "base/settings.h"
#include "base/settingsdefaults.h"
#include "feeds/refresh/datasourcemanager.h"
#include "store/category.h"
#include "store/context.h"
#include "store/dataitem.h"
#include "store/datasource.h"
#include "store/keyword.h"
#include "store/storemanager.h"

#include "quietengine.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSocketNotifier>
#include <QTextStream>

#include <cstdio>
#include <random>

using namespace corvane;

namespace {

template<typename T>
QList<T *> all(Context *context)
{
    return context->fetchAs<T>(Query{T::kEntity});
}

class Machine
{
public:
    explicit Machine(DatasourceManager &manager)
        : m_manager(manager)
    {
    }

    void run(quint32 seed, int count)
    {
        std::mt19937 random(seed);
        for (int i = 0; i < count; ++i)
            step(random);
    }

    QJsonObject dump()
    {
        Context *main = m_manager.contextMain();
        QJsonObject categories;
        for (Category *category : all<Category>(main))
            categories.insert(category->uuid(), category->name());
        QJsonObject feeds;
        for (Datasource *datasource : all<Datasource>(main)) {
            const Category *category = datasource->category();
            feeds.insert(datasource->uuid(), QStringLiteral("%1|%2|%3").arg(datasource->url(), datasource->customName(),
                                                                            category ? category->uuid() : QString()));
        }
        QStringList keywords;
        for (Keyword *keyword : all<Keyword>(main))
            keywords.append(keyword->name());
        keywords.sort();
        QStringList starred;
        for (DataItem *item :
             main->fetchAs<DataItem>(Query{Entity::DataItem, Predicate::equal(QStringLiteral("starred"), true)}))
            starred.append(QString::number(item->itemHash()));
        starred.sort();
        return {{QStringLiteral("categories"), categories},
                {QStringLiteral("feeds"), feeds},
                {QStringLiteral("keywords"), QJsonArray::fromStringList(keywords)},
                {QStringLiteral("starred"), QJsonArray::fromStringList(starred)}};
    }

private:
    template<typename T>
    T *pick(std::mt19937 &random, const QList<T *> &list)
    {
        if (list.isEmpty())
            return nullptr;
        return list.at(qsizetype(random() % quint32(list.size())));
    }

    void step(std::mt19937 &random)
    {
        Context *main = m_manager.contextMain();
        const auto number = [&](int below) { return int(random() % quint32(below)); };
        const QList<Category *> categories = all<Category>(main);
        const QList<Datasource *> feeds = all<Datasource>(main);
        switch (number(11)) {
        case 0: {
            auto *category = main->insert<Category>();
            category->setName(QStringLiteral("C%1").arg(number(6)));
            category->setPosition(number(8));
            break;
        }
        case 1:
            if (Category *category = pick(random, categories))
                category->setName(QStringLiteral("C%1").arg(number(6)));
            break;
        case 2:
            if (Category *category = pick(random, categories)) {
                m_manager.deleteDatasourceOrCategory(category);
                return;
            }
            break;
        case 3: {
            const QString url = QStringLiteral("http://127.0.0.1:9/feed%1.xml").arg(number(10));
            for (Datasource *datasource : feeds)
                if (datasource->url() == url)
                    return;
            Datasource::ExplicitPositionScope explicitPosition;
            auto *datasource = main->insert<RSSDatasource>();
            datasource->setUrl(url);
            datasource->setPosition(number(8));
            datasource->setCategory(pick(random, categories));
            break;
        }
        case 4:
            if (Datasource *datasource = pick(random, feeds)) {
                m_manager.deleteDatasourceOrCategory(datasource);
                return;
            }
            break;
        case 5:
            if (Datasource *datasource = pick(random, feeds))
                datasource->setCustomName(QStringLiteral("N%1").arg(number(5)));
            break;
        case 6:
            if (Datasource *datasource = pick(random, feeds))
                datasource->setCategory(pick(random, categories));
            break;
        case 7: {
            const QString name = QStringLiteral("K%1").arg(number(6));
            for (Keyword *keyword : all<Keyword>(main))
                if (keyword->name() == name)
                    return;
            auto *keyword = main->insert<Keyword>();
            keyword->setName(name);
            keyword->setPosition(float(number(8)));
            break;
        }
        case 8:
            if (Keyword *keyword = pick(random, all<Keyword>(main)))
                keyword->deleteObjectByUser();
            break;
        case 9: {
            Datasource *datasource = pick(random, feeds);
            if (!datasource)
                return;
            const int k = number(8);
            // Items are known across machines by the hash of their title and
            // link, so each feed's items get links of their own.
            const QString link = QStringLiteral("%1/item%2").arg(datasource->url()).arg(k);
            DataItem *item = nullptr;
            for (DataItem *existing : datasource->items())
                if (existing->link() == link)
                    item = existing;
            if (!item) {
                item = main->insert<DataItem>();
                item->setDatasource(datasource);
                item->setTitle(QStringLiteral("Item %1").arg(k));
                item->setLink(link);
                item->setGuid(link);
            }
            item->setStarred(true);
            break;
        }
        case 10: {
            const QList<DataItem *> starred =
                main->fetchAs<DataItem>(Query{Entity::DataItem, Predicate::equal(QStringLiteral("starred"), true)});
            if (DataItem *item = pick(random, starred))
                item->setStarred(false);
            break;
        }
        }
        StoreManager::saveFromContext(main);
    }

    DatasourceManager &m_manager;
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: kvsync_driver CLOUD_FOLDER\n");
        return 2;
    }
    Settings &settings = Settings::shared();
    applyStartUpSettings(settings);
    settings.setValue(QStringLiteral("CloudContainerPath"), QString::fromLocal8Bit(argv[1]));
    settings.setValue(QStringLiteral("CloudKeyValueTickSeconds"), 0.05);
    settings.setValue(QStringLiteral("CloudKeyValueWriteSeconds"), 0.2);
    settings.setValue(QStringLiteral("CloudKeyValueScanTicks"), 4);
    settings.setValue(QStringLiteral("CloudRetrySeconds"), 0.5);

    DatasourceManager manager(test::quietEngine({}, 0.1));
    if (!manager.isOpen()) {
        std::fprintf(stderr, "%s\n", qPrintable(manager.openErrorText()));
        return 1;
    }
    manager.stores().queue().drain();
    sync::KeyValueHandler *handler = nullptr;
    dispatch::global().sync([&] { handler = sync::KeyValueHandler::shared(); });
    handler->attach(&manager);
    handler->setEnabled(true);

    Machine machine(manager);
    QTextStream out(stdout);
    QSocketNotifier input(0, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char line[256];
        if (!std::fgets(line, sizeof line, stdin)) {
            QCoreApplication::exit(0);
            return;
        }
        const QStringList words = QString::fromLatin1(line).simplified().split(u' ');
        if (words.value(0) == u"ops") {
            machine.run(words.value(1).toUInt(), words.value(2).toInt());
            out << "done" << Qt::endl;
        } else if (words.value(0) == u"dump") {
            out << QJsonDocument(machine.dump()).toJson(QJsonDocument::Compact) << Qt::endl;
        } else if (words.value(0) == u"quit") {
            QCoreApplication::exit(0);
        }
    });
    const int status = app.exec();
    handler->drain();
    handler->detach();
    return status;
}
