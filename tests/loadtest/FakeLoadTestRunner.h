#pragma once
// A fake load-test service and a fake metered source for the view-model and screen tests.

#include "loadtest/LoadTestViewModel.h"

#include "core/probes/ICMPSocket.h"

#include <atomic>

namespace pv::test {

using namespace std::chrono_literals;

// Reports its phases a little apart on the network thread, then waits until released (or cancelled).
class FakeRunner : public LoadTestRunner {
public:
    explicit FakeRunner(rt::NetworkRuntime& net) : net_(net) {}

    rt::awaitable<std::optional<LoadTestResult>> run(std::optional<QString>,
                                                     std::function<void(LoadTestPhase)> onPhase) override
    {
        ++runs;
        return asio::co_spawn(net_.executor(), body(onPhase), rt::use_awaitable);
    }
    rt::awaitable<void> cancel() override
    {
        ++cancels;
        cancelled = true;
        co_return;
    }

    std::atomic<int> runs{0}, cancels{0};
    std::atomic<bool> released{false}, cancelled{false}, failStart{false}, ignoresCancel{false}, lateReport{false};
    std::atomic<bool> holdInDownload{false};
    std::atomic<bool> failBaseline{false}; // the run ends as a test that could not measure // stays in the download phase until cleared or cancelled
    std::atomic<int> startedAt{1700000000};

private:
    rt::awaitable<std::optional<LoadTestResult>> body(std::function<void(LoadTestPhase)> onPhase)
    {
        if (failStart)
            throw ICMPError::socketCreationFailed(13);
        if (failBaseline) {
            onPhase(LoadTestPhase::baseline);
            throw LoadTestError(QStringLiteral("Az alapmérés alatt egyetlen visszhangra sem érkezett válasz, ezért a "
                                               "terhelés hatása nem mérhető. Ellenőrizd a kapcsolatot, majd próbáld újra."));
        }
        for (LoadTestPhase p : {LoadTestPhase::baseline, LoadTestPhase::download, LoadTestPhase::restAfterDownload,
                                LoadTestPhase::upload}) {
            onPhase(p);
            co_await rt::sleepFor(net_.executor(), 5ms);
            for (int i = 0; i < 2000 && p == LoadTestPhase::download && holdInDownload && !cancelled; ++i)
                co_await rt::sleepFor(net_.executor(), 2ms);
        }
        for (int i = 0; i < 2000 && !released && !(cancelled && !ignoresCancel); ++i)
            co_await rt::sleepFor(net_.executor(), 2ms);
        onPhase(LoadTestPhase::finished);
        if (lateReport) // a stray report queued behind the outcome
            asio::post(net_.executor(), [onPhase] { onPhase(LoadTestPhase::upload); });
        LoadTestResult r;
        r.startedAt = startedAt;
        r.idle.p50 = 20;
        co_return r;
    }
    rt::NetworkRuntime& net_;
};

class FakeMetered : public MeteredSource {
public:
    bool isMetered() const override { return metered; }
    void set(bool m)
    {
        metered = m;
        Q_EMIT meteredChanged(m);
    }
    bool metered = false;
};

} // namespace pv::test
