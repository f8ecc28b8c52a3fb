#include "previewpresenter.h"

namespace corvane::desktop {

namespace {
PreviewPresenter *g_presenter = nullptr;
}

PreviewPresenter &PreviewPresenter::shared()
{
    static NoPreview none;
    return g_presenter ? *g_presenter : none;
}

void PreviewPresenter::setShared(PreviewPresenter *presenter)
{
    g_presenter = presenter;
}

} // namespace corvane::desktop
