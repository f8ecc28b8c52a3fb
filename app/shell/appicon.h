#pragma once

#include <QIcon>
#include <QImage>

namespace corvane::desktop {

// Corvane's icon, drawn in code so every size is sharp: a dark tile with the
// bar along its left edge and three entries beside it, readable on light and
// dark panels alike. The scalable file installed with the program
// (data/icons/org.corvane.Corvane.svg) draws the same shapes.
QImage corvaneIconImage(int size);

// The icon at the sizes windows and trays ask for.
QIcon corvaneIcon();

} // namespace corvane::desktop
