#pragma once
// The view model reaches the probe side through these small interfaces, so that it can be driven by
// fakes in tests; ServiceAdapters.h wraps the real services. Each mirrors its service's calls.

#include "core/probes/NetworkTopology.h"
#include "core/records/Records.h"
#include "core/records/Runtime.h"

#include <functional>
#include <optional>

namespace pv {

class TopologySource {
public:
    virtual ~TopologySource() = default;
    virtual rt::awaitable<TopologySnapshot> snapshot() = 0;
};

class ProbeRunner {
public:
    virtual ~ProbeRunner() = default;
    virtual rt::awaitable<void> start(std::optional<QString> boundInterfaceName) = 0;
    virtual rt::awaitable<void> stop() = 0;
    virtual rt::awaitable<void> rebind(std::optional<QString> boundInterfaceName) = 0;
    virtual rt::awaitable<ProbeBatch> collectBatch(RouteSnapshot route) = 0;
    // Whether batches measure the IPv6 path where the network has one (the user's switch).
    virtual void setMeasuresIPv6(bool) {}
};

class WifiSource {
public:
    virtual ~WifiSource() = default;
    virtual rt::awaitable<std::optional<WifiSnapshot>> currentSnapshot(std::optional<RouteSnapshot> route) = 0;
};

// Delivers path snapshots on a thread of its own; the owner carries them to its thread.
class PathSource {
public:
    using Handler = std::function<void(const PathSnapshot&)>;
    virtual ~PathSource() = default;
    virtual void start(Handler handler) = 0;
    virtual void cancel() = 0;
};

} // namespace pv
