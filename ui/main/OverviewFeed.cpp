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

std::shared_ptr<const OverviewSnapshot> OverviewFeed::snapshot() const
{
    if (shared_)
        return shared_;
    // Made in place: a conditional between the override and a fresh snapshot would copy the latter.
    auto s = override_ ? std::make_shared<OverviewSnapshot>(*override_)
                       : std::make_shared<OverviewSnapshot>(snapshotOf(*model_));
    if (!s->takenAt)
        s->takenAt = now();
    if (sending_)
        shared_ = s;
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
    shared_.reset(); // a view that reads from here on reads the model anew
    if (pending_)
        return;
    pending_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            pending_ = false;
            ++changeCount_;
            sending_ = true;
            Q_EMIT changed();
            sending_ = false;
            shared_.reset();
        },
        Qt::QueuedConnection);
}

} // namespace pv
