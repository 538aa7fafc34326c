#pragma once
// Probe-side services that answer without measuring anything: no route, empty batches, no Wi-Fi,
// no path updates, notifications dropped. For tests of the model and the views that must never
// touch the network.

#include "core/app/DesktopIntegration.h"
#include "core/app/ServicePorts.h"

#include <QUuid>

namespace pv::test {

struct FakeTopology : TopologySource {
    rt::awaitable<TopologySnapshot> snapshot() override { co_return TopologySnapshot{}; }
};
struct FakeProbe : ProbeRunner {
    rt::awaitable<void> start(std::optional<QString>) override { co_return; }
    rt::awaitable<void> stop() override { co_return; }
    rt::awaitable<void> rebind(std::optional<QString>) override { co_return; }
    rt::awaitable<ProbeBatch> collectBatch(RouteSnapshot route) override
    {
        co_return ProbeBatch{QUuid::createUuid(), route.timestamp, route, {}};
    }
};
struct FakeWifi : WifiSource {
    rt::awaitable<std::optional<WifiSnapshot>> currentSnapshot(std::optional<RouteSnapshot>) override
    {
        co_return std::nullopt;
    }
};
struct FakePath : PathSource {
    void start(Handler) override {}
    void cancel() override {}
};
struct FakeNotifier : DesktopNotifier {
    void requestAuthorization() override {}
    void post(const QString&, const QString&, const QString&) override {}
};

} // namespace pv::test
