#pragma once

#include "store/objectid.h"

#include <QObject>
#include <QPoint>

namespace corvane::desktop {

// What the bar needs of the preview bubble: which item it shows, showing an
// item with its arrow at a screen point, moving the arrow, closing. Without a
// bubble (NoPreview) nothing is ever shown.
class PreviewPresenter : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    // The item shown, or a null id.
    virtual ObjectID shownItem() const = 0;
    bool isShowing(ObjectID item) const { return !item.isNull() && shownItem() == item; }
    virtual void showItem(ObjectID item, QPoint arrow, bool arrowOnLeft) = 0;
    virtual void moveArrow(QPoint arrow, bool arrowOnLeft) = 0;
    virtual void close(bool animated = true) = 0;

    // The presenter of the process: the bubble once there is one, NoPreview before.
    static PreviewPresenter &shared();
    static void setShared(PreviewPresenter *presenter);

Q_SIGNALS:
    // "PreviewDidDisappear"
    void didDisappear();
};

class NoPreview final : public PreviewPresenter
{
public:
    using PreviewPresenter::PreviewPresenter;
    ObjectID shownItem() const override { return {}; }
    void showItem(ObjectID, QPoint, bool) override {}
    void moveArrow(QPoint, bool) override {}
    void close(bool) override {}
};

} // namespace corvane::desktop
