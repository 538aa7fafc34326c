#pragma once
// The saved 10/10 reference: replaced only by a ten-minute stretch that beats the *stored* one.
//
// The store offers a separate read and write of the baseline. Every baseline write of the program
// goes through this keeper, which lets one read-compare-write (or delete) run at a time, so a
// refresh that still carries an older baseline never overwrites a better stored one, and a clear
// never interleaves with a save. GUI thread only.

#include "core/records/Quality.h"
#include "core/records/Runtime.h"

#include <deque>
#include <functional>
#include <memory>
#include <optional>

namespace pv {

class SQLiteStore;

// An asynchronous mutex for coroutines on one thread. A holder may outlive the gate (a coroutine
// frame dropped after its owner is gone), so the state is shared.
class AsyncGate {
    struct State {
        bool busy = false;
        std::deque<std::function<void()>> waiters;
        void release();
    };

public:
    class Holder {
    public:
        explicit Holder(std::shared_ptr<State> state) : state_(std::move(state)) {}
        Holder(Holder&&) noexcept = default;
        Holder(const Holder&) = delete;
        Holder& operator=(const Holder&) = delete;
        Holder& operator=(Holder&&) = delete;
        ~Holder()
        {
            if (state_)
                state_->release();
        }

    private:
        std::shared_ptr<State> state_;
    };

    // Waits until the gate is free and takes it; the caller then adopts it into a Holder at once
    // (no suspension in between): `co_await gate.acquire(); AsyncGate::Holder held = gate.adopt();`
    rt::awaitable<void> acquire();
    Holder adopt() { return Holder(state_); }
    bool busy() const { return state_->busy; }

private:
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

class BaselineKeeper {
public:
    // A new baseline must beat the stored score by more than this.
    static constexpr double requiredGain = 0.05;

    explicit BaselineKeeper(std::shared_ptr<SQLiteStore> store);

    struct Outcome {
        bool cancelled = false;                 // the caller was cancelled before the write: nothing saved
        bool saved = false;                     // the candidate is the stored baseline now
        std::optional<QualityBaseline> stored;  // the stored baseline after the call
    };

    // Reads the stored baseline and saves the candidate when it beats it (or none is stored). A
    // caller cancelled by the time of the write saves nothing. Store failures are thrown.
    rt::awaitable<Outcome> saveIfBetter(QualityBaseline candidate);
    // Deletes the stored baseline; store failures are thrown.
    rt::awaitable<void> remove();

    static bool beats(double candidateScore, const std::optional<QualityBaseline>& stored);
    // A candidate comes only from a window that was actually measured: its batches cover at least
    // half of [from, to] (a batch covers the time up to the next one, when that is at most
    // maximumBatchGap seconds later).
    static constexpr double maximumBatchGap = 30;
    static bool isMeasuredWindow(const std::vector<NetworkSample>& samples, Timestamp from, Timestamp to);

private:
    std::shared_ptr<SQLiteStore> store_;
    AsyncGate gate_;
};

} // namespace pv
