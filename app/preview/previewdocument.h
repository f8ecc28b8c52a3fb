#pragma once

#include <QString>

namespace corvane::desktop::previewdocument {

// The page the bubble renders: fixed styles, then the item's preview HTML
// inside the element whose height sizes the bubble.
QString document(const QString &preview);

// The document shown while no item is: empty, so nothing keeps loading.
QString blankDocument();

// Chromium refuses a page whose data: address is longer than 2 MiB; the
// document is loaded as one, so longer previews are cut to fit (at a tag
// boundary where possible) with a note that the rest is in the browser.
QString fittedPreview(const QString &preview);

// A script for the application's script world: the content element's
// height, laid out at `width` points whatever the view's current size, or
// -1 when the page holds no content element.
QString heightScript(int width);

// Added to the measured content height: the body's padding and the
// distance the content keeps from the bubble's edges.
constexpr int kHeightExtra = 17;

} // namespace corvane::desktop::previewdocument
