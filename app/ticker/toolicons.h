#pragma once

#include <QColor>
#include <QIcon>
#include <QString>

namespace corvane::desktop {

// The bar's tool button pictures, drawn in code in one colour: "search",
// "add", "starred", "marked", "preferences", "autohide_off", "autohide_on",
// "minimize", "collapse", "expand". An unknown name gives an empty icon.
QIcon toolIcon(const QString &name, const QColor &tint);

} // namespace corvane::desktop
