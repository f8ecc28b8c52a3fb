// Test helper: saves batches of items into the store in the given folder
// forever, printing the running item count after each committed save.
#include "store/context.h"
#include "store/dataitem.h"
#include "store/datasource.h"
#include "store/objectstore.h"

#include "base/dispatch.h"

#include <QCoreApplication>

#include <cstdio>

using namespace corvane;

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2)
        return 2;
    auto store = ObjectStore::open(QString::fromLocal8Bit(argv[1]));
    if (!store)
        return 1;
    Context context(*store, QStringLiteral("writer"));
    context.setQueue(&dispatch::main());
    auto *source = context.insert<RSSDatasource>();
    source->setUrl(QStringLiteral("http://writer.invalid/rss"));
    context.save();
    qint64 total = context.count(Query{Entity::DataItem});
    for (int batch = 0;; ++batch) {
        for (int i = 0; i < 200; ++i) {
            auto *item = context.insert<DataItem>();
            item->setDatasource(source);
            item->setTitle(QStringLiteral("item %1 %2").arg(batch).arg(i));
            item->setItemDescription(QString(500, u'x'));
        }
        if (!context.save())
            return 1;
        total += 200;
        std::printf("%lld\n", static_cast<long long>(total));
        std::fflush(stdout);
    }
}
