#pragma once
// The real probe-side services behind the view model's interfaces.

#include "core/app/ServicePorts.h"
#include "core/probes/NativeProbeService.h"
#include "core/probes/PathMonitor.h"
#include "core/probes/WifiSnapshotProvider.h"

#include <memory>

namespace pv {

class TopologyAdapter final : public TopologySource {
public:
    explicit TopologyAdapter(std::shared_ptr<NetworkTopologyService> service) : service_(std::move(service)) {}
    rt::awaitable<TopologySnapshot> snapshot() override { return service_->snapshot(); }

private:
    std::shared_ptr<NetworkTopologyService> service_;
};

class ProbeAdapter final : public ProbeRunner {
public:
    explicit ProbeAdapter(std::shared_ptr<NativeProbeService> service) : service_(std::move(service)) {}
    rt::awaitable<void> start(std::optional<QString> name) override { return service_->start(std::move(name)); }
    rt::awaitable<void> stop() override { return service_->stop(); }
    rt::awaitable<void> rebind(std::optional<QString> name) override { return service_->rebind(std::move(name)); }
    rt::awaitable<ProbeBatch> collectBatch(RouteSnapshot route) override
    {
        return service_->collectBatch(std::move(route));
    }
    void setMeasuresIPv6(bool measures) override { service_->setMeasuresIPv6(measures); }

private:
    std::shared_ptr<NativeProbeService> service_;
};

class WifiAdapter final : public WifiSource {
public:
    explicit WifiAdapter(std::shared_ptr<WiFiSnapshotProvider> provider) : provider_(std::move(provider)) {}
    rt::awaitable<std::optional<WifiSnapshot>> currentSnapshot(std::optional<RouteSnapshot> route) override
    {
        return provider_->currentSnapshot(std::move(route));
    }

private:
    std::shared_ptr<WiFiSnapshotProvider> provider_;
};

class PathAdapter final : public PathSource {
public:
    explicit PathAdapter(std::shared_ptr<PathMonitorService> monitor) : monitor_(std::move(monitor)) {}
    void start(Handler handler) override { monitor_->start(std::move(handler)); }
    void cancel() override { monitor_->cancel(); }

private:
    std::shared_ptr<PathMonitorService> monitor_;
};

} // namespace pv
