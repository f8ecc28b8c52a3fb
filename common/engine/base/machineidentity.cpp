#include "machineidentity.h"

#include "digest.h"
#include "settings.h"

#include <mutex>

namespace corvane {

QString thisMachine(Settings &settings)
{
    static const QString key = QStringLiteral("CloudThisMachine");
    static std::mutex lock;
    std::lock_guard guard(lock);
    QString identity = settings.string(key);
    if (identity.isEmpty()) {
        identity = uuid();
        settings.setValue(key, identity);
    }
    return identity;
}

QString thisMachine()
{
    return thisMachine(Settings::shared());
}

} // namespace corvane
