#pragma once

#include <QString>

namespace corvane {
class DataItem;
class Settings;
}

namespace corvane::desktop {

// The bubble's title: its text and, for Twitter sources, the address the
// title links to (empty when it links nowhere).
struct PreviewTitle
{
    QString text;
    QString link;

    // Rich text for the title label: the text escaped, linked when it has a link.
    QString html() const;
};

PreviewTitle previewTitle(const DataItem &item, const Settings &settings);

} // namespace corvane::desktop
