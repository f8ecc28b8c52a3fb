#pragma once

#include "store/context.h"
#include "store/dataitem.h"
#include "store/datasource.h"
#include "store/objectstore.h"

#include "base/dispatch.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

namespace corvane::test {

// An enabled subscription to `url`, not yet saved.
inline RSSDatasource *addSource(Context *context, const QString &url = QStringLiteral("http://a.org/rss"))
{
    auto *source = context->insert<RSSDatasource>();
    source->setUrl(url);
    source->setEnabled(true);
    return source;
}

// An item of `source`, not yet saved; the link only when one is given.
inline DataItem *addItem(Context *context, Datasource *source, const QString &title = QString(),
                         const QString &link = QString())
{
    auto *item = context->insert<DataItem>();
    item->setDatasource(source);
    if (!title.isNull())
        item->setTitle(title);
    if (!link.isNull())
        item->setLink(link);
    return item;
}

// A real store file in a fresh folder, with one context on the main thread.
class StoreFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_store = ObjectStore::open(m_dir.path());
        ASSERT_TRUE(m_store);
        m_context = newContext();
    }

    std::unique_ptr<Context> newContext()
    {
        auto context = std::make_unique<Context>(*m_store, QStringLiteral("test"));
        context->setQueue(&dispatch::main());
        return context;
    }

    QTemporaryDir m_dir;
    std::unique_ptr<ObjectStore> m_store;
    std::unique_ptr<Context> m_context;
};

} // namespace corvane::test
