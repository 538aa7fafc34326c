#pragma once
// How the views follow the application model: one feed per model turns every change signal of the
// model into at most one `changed()` per event-loop turn, so a burst of published properties (a
// probe batch publishes several) repaints each view once. Views read a fresh snapshot on it.

#include "ui/main/OverviewSnapshot.h"

#include <QObject>

#include <functional>
#include <memory>
#include <optional>

namespace pv {

class OverviewFeed : public QObject {
    Q_OBJECT
public:
    // The feed of a model, made on first use as a child of the model (so it dies with it).
    static OverviewFeed& of(AppViewModel& model);

    AppViewModel& model() const { return *model_; }
    // What the model publishes now. The views that follow changed() read one snapshot, built once
    // for that change; a read at any other time builds its own.
    std::shared_ptr<const OverviewSnapshot> snapshot() const;
    Timestamp now() const { return clock_ ? clock_() : nowTimestamp(); }

    // Test seams. The clock makes ages in texts reproducible. The state stands in for the model's
    // published values in screenshot tests, for states that the model's fakes cannot produce;
    // nullopt returns to the model. Both announce a change.
    void setClock(std::function<Timestamp()> clock);
    void setStateOverride(std::optional<OverviewSnapshot> state);

    // Number of changed() signals sent so far (tests of the coalescing).
    int changeCount() const { return changeCount_; }

Q_SIGNALS:
    void changed();

private Q_SLOTS:
    void onModelChanged();

private:
    explicit OverviewFeed(AppViewModel& model);
    AppViewModel* model_;
    std::function<Timestamp()> clock_;
    std::optional<OverviewSnapshot> override_;
    mutable std::shared_ptr<const OverviewSnapshot> shared_; // only while changed() is being sent
    bool sending_ = false;
    bool pending_ = false;
    int changeCount_ = 0;
};

} // namespace pv
