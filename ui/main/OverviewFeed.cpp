#include "ui/main/OverviewFeed.h"

#include "core/app/AppViewModel.h"

#include <QMetaMethod>

namespace pv {

OverviewFeed& OverviewFeed::of(AppViewModel& model)
{
    if (auto* existing = model.findChild<OverviewFeed*>(QString(), Qt::FindDirectChildrenOnly))
        return *existing;
    return *new OverviewFeed(model);
}

OverviewFeed::OverviewFeed(AppViewModel& model)
    : QObject(&model)
    , model_(&model)
{
    // Every signal the model declares is a published-property change; following them all by
    // introspection keeps the views in step when the model gains a property.
    const QMetaObject* meta = model.metaObject();
    const QMetaMethod slot = metaObject()->method(metaObject()->indexOfSlot("onModelChanged()"));
    for (int i = AppViewModel::staticMetaObject.methodOffset(); i < meta->methodCount(); ++i) {
        const QMetaMethod m = meta->method(i);
        if (m.methodType() == QMetaMethod::Signal && m.parameterCount() == 0)
            connect(&model, m, this, slot);
    }
}

OverviewSnapshot OverviewFeed::snapshot() const
{
    OverviewSnapshot s = override_ ? *override_ : snapshotOf(*model_);
    if (!s.takenAt)
        s.takenAt = now();
    return s;
}

void OverviewFeed::setClock(std::function<Timestamp()> clock)
{
    clock_ = std::move(clock);
    onModelChanged();
}

void OverviewFeed::setStateOverride(std::optional<OverviewSnapshot> state)
{
    override_ = std::move(state);
    onModelChanged();
}

void OverviewFeed::onModelChanged()
{
    if (pending_)
        return;
    pending_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            pending_ = false;
            ++changeCount_;
            Q_EMIT changed();
        },
        Qt::QueuedConnection);
}

} // namespace pv
