#pragma once

// The options of an engine that never refreshes on its own: no tick and no
// fetches, so a test drives every change itself. Header only: the programs
// that use it link the engine.
#include "feeds/refresh/datasourcemanager.h"

namespace corvane::test {

inline DatasourceManager::Options quietEngine(const QString &storeDirectory = {},
                                              double commitDelaySeconds = 2.0)
{
    DatasourceManager::Options options;
    options.storeDirectory = storeDirectory;
    options.startTimer = false;
    options.fetches = false;
    options.commitDelaySeconds = commitDelaySeconds;
    return options;
}

} // namespace corvane::test
