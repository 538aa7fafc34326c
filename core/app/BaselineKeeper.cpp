#include "core/app/BaselineKeeper.h"

#include <algorithm>

#include "core/store/SQLiteStore.h"

namespace pv {

rt::awaitable<void> AsyncGate::acquire()
{
    auto state = state_;
    if (!state->busy) {
        state->busy = true;
        co_return;
    }
    // The initiation captures a plain pointer (the frame's `state` keeps it alive): GCC 12 may
    // destroy a temporary of a co_await expression twice, which a shared_ptr capture cannot survive.
    State* const waiting = state.get();
    co_await asio::async_initiate<const asio::use_awaitable_t<>&, void()>(
        [waiting](auto handler) {
            auto shared = std::make_shared<decltype(handler)>(std::move(handler));
            waiting->waiters.push_back([shared] {
                auto ex = asio::get_associated_executor(*shared);
                asio::post(ex, [shared]() mutable { std::move(*shared)(); });
            });
        },
        rt::use_awaitable);
    // The releasing holder handed the gate over without opening it.
}

void AsyncGate::State::release()
{
    if (waiters.empty()) {
        busy = false;
        return;
    }
    auto next = std::move(waiters.front());
    waiters.pop_front();
    next();
}

BaselineKeeper::BaselineKeeper(std::shared_ptr<SQLiteStore> store) : store_(std::move(store)) {}

bool BaselineKeeper::beats(double candidateScore, const std::optional<QualityBaseline>& stored)
{
    if (!stored)
        return true;
    // The margin is meant in decimal: a stretch exactly 0.05 better must not pass through the
    // rounding of binary fractions.
    return candidateScore > stored->absoluteScore + requiredGain + 1e-9;
}

rt::awaitable<BaselineKeeper::Outcome> BaselineKeeper::saveIfBetter(QualityBaseline candidate)
{
    co_await gate_.acquire();
    const AsyncGate::Holder held = gate_.adopt();
    Outcome outcome;
    outcome.stored = co_await store_->loadBaseline();
    if (co_await rt::isCancelled()) {
        outcome.cancelled = true;
        co_return outcome;
    }
    if (beats(candidate.absoluteScore, outcome.stored)) {
        co_await store_->saveBaseline(candidate);
        outcome.saved = true;
        outcome.stored = std::move(candidate);
    }
    co_return outcome;
}

rt::awaitable<void> BaselineKeeper::remove()
{
    co_await gate_.acquire();
    const AsyncGate::Holder held = gate_.adopt();
    co_await store_->deleteBaseline();
}

bool BaselineKeeper::isMeasuredWindow(const std::vector<NetworkSample>& samples, Timestamp from, Timestamp to)
{
    if (!(to > from))
        return false;
    std::vector<Timestamp> batches;
    for (const NetworkSample& s : samples)
        if (s.timestamp >= from && s.timestamp <= to)
            batches.push_back(s.timestamp);
    std::sort(batches.begin(), batches.end());
    double covered = 0;
    for (std::size_t i = 1; i < batches.size(); ++i) {
        const double gap = batches[i] - batches[i - 1];
        if (gap <= maximumBatchGap)
            covered += gap;
    }
    return covered >= (to - from) / 2;
}

} // namespace pv
