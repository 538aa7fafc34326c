#pragma once
// Scriptable stand-ins for the probe side, the desktop and the reports, shared by the view-model
// tests. Each records what the model asked of it.

#include "core/app/AppViewModel.h"
#include "core/app/DesktopIntegration.h"
#include "core/app/SleepWake.h"
#include "core/probes/LocationPermission.h"
#include "core/records/Runtime.h"
#include "tests/support/TestSupport.h"

#include <QStringList>

#include <gtest/gtest.h>

#include <functional>
#include <mutex>
#include <optional>

namespace pv::test {

// The topology the next snapshot reports; empty means no default route.
struct ScriptedTopology : TopologySource {
    TopologySnapshot next;
    rt::awaitable<TopologySnapshot> snapshot() override
    {
        TopologySnapshot copy = next;
        co_return copy;
    }
    void route(const QString& interfaceName, const QString& local, const QString& gateway, Timestamp at)
    {
        next = TopologySnapshot(at, interfaceName, gateway, std::nullopt, local, std::nullopt);
    }
};

// One sample per target kind, all answered within `latency`.
ProbeBatch healthyBatch(const RouteSnapshot& route, Timestamp at, double latency = 10);

struct ScriptedProbe : ProbeRunner {
    explicit ScriptedProbe(asio::any_io_executor io) : io(std::move(io)) {}

    asio::any_io_executor io;
    QStringList calls;                                      // "start:<if>", "stop", "rebind:<if>", "collect"
    std::function<void()> onCollect;                        // runs when a batch is asked for
    std::function<ProbeBatch(const RouteSnapshot&)> makeBatch; // healthyBatch at the route's time when absent
    bool hang = false;                                      // collectBatch waits while this is set
    int releasedCalls = 0;                                  // ...except the first this many calls
    int collected = 0;

    rt::awaitable<void> start(std::optional<QString> name) override
    {
        calls << QStringLiteral("start:") + name.value_or(QStringLiteral("-"));
        co_return;
    }
    rt::awaitable<void> stop() override
    {
        calls << QStringLiteral("stop");
        co_return;
    }
    rt::awaitable<void> rebind(std::optional<QString> name) override
    {
        calls << QStringLiteral("rebind:") + name.value_or(QStringLiteral("-"));
        co_return;
    }
    rt::awaitable<ProbeBatch> collectBatch(RouteSnapshot route) override;
};

struct ScriptedWifi : WifiSource {
    std::optional<WifiSnapshot> next;
    rt::awaitable<std::optional<WifiSnapshot>> currentSnapshot(std::optional<RouteSnapshot>) override
    {
        std::optional<WifiSnapshot> copy = next;
        co_return copy;
    }
};

// Keeps the handler so that a test can deliver path updates from a thread of its own.
struct ScriptedPath : PathSource {
    std::mutex mutex;
    Handler handler;
    int starts = 0;
    int cancels = 0;
    void start(Handler h) override
    {
        std::lock_guard lock(mutex);
        handler = std::move(h);
        ++starts;
    }
    void cancel() override
    {
        std::lock_guard lock(mutex);
        handler = nullptr;
        ++cancels;
    }
    // Calls the current handler (if any) on the calling thread.
    bool deliver(const PathSnapshot& snapshot)
    {
        std::lock_guard lock(mutex);
        if (!handler)
            return false;
        handler(snapshot);
        return true;
    }
};

struct ScriptedSleepWake : SleepWakeSource {
    int activations = 0;
    int deactivations = 0;
    int recorded = 0;
    void activate() override { ++activations; }
    void deactivate() override { ++deactivations; }
    void sleepRecorded() override { ++recorded; }
    void sleep() { Q_EMIT aboutToSleep(); }
    void wake() { Q_EMIT wokeUp(); }
};

struct CountingNotifier : DesktopNotifier {
    struct Post {
        QString identifier, title, body;
    };
    std::vector<Post> posts;
    void requestAuthorization() override {}
    void post(const QString& identifier, const QString& title, const QString& body) override
    {
        posts.push_back({identifier, title, body});
    }
};

class FixedLocationManager : public LocationManager {
public:
    int status = LocationPermissionService::authorizedAlways;
    int requests = 0;
    int authorizationStatus() const override { return status; }
    void requestWhenInUseAuthorization() override { ++requests; }
};

struct ScriptedExport : ExportService {
    std::optional<QString> failure;
    ExportResult result;
    int runs = 0;
    rt::awaitable<ExportResult> runExport(ExportScope scope, Timestamp) override;
};

struct ScriptedDossier : DossierService {
    explicit ScriptedDossier(asio::any_io_executor io) : io(std::move(io)) {}
    asio::any_io_executor io;
    std::optional<QString> failure;
    std::vector<DossierRequest> requests;
    std::vector<QUrl> folders;
    std::chrono::milliseconds delay{0};
    rt::awaitable<QUrl> create(DossierRequest request, QUrl folder) override;
};

// Runs the operation on this thread's executor and pumps events until it has finished.
void runToEnd(rt::awaitable<void> op, std::chrono::milliseconds timeout = std::chrono::seconds(5));

} // namespace pv::test
