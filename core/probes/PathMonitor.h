#pragma once
// Follows the system's network path: an rtnetlink subscription to link, address and route changes,
// turned into PathSnapshot values.
//
// Threads: the monitor has its own serial thread (its "queue", named after
// kQueueLabel); the subscription is read there and the handler is called there, never on the GUI
// thread. The owner carries each snapshot to its own thread (the application core posts it to the
// GUI thread). Once cancel() has returned, the handler is not called again; a handler may call
// cancel() itself, but must not wait for the thread that calls cancel().

#include "core/probes/NetworkTopology.h"
#include "core/records/Records.h"

#include <QString>

#include <asio.hpp>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace pv {

namespace path {

enum class PathStatus { satisfied, unsatisfied, requiresConnection };

// "satisfied", "unsatisfied", "requiresConnection"; "unknown" for a value outside the three.
QString statusDescription(PathStatus status);

// Whether sysfs marks the interface as a wireless one ("<root>/<name>/wireless" or "/phy80211").
bool isWirelessInterface(const QString& interfaceName, const QString& sysfsNetRoot = QStringLiteral("/sys/class/net"));

// The path from the routing table and the address list:
//  - usable interfaces: up, running (carrier), not loopback, with an IPv4 address or a
//    non-link-local IPv6 address;
//  - status: satisfied when a default route of the main table leads through a usable interface that
//    has an address of the route's family, else unsatisfied (never requiresConnection on Linux);
//  - interfaceNames: the usable interfaces, the primary one (that of the best IPv4 default route,
//    else IPv6) first, the others in the system's order;
//  - usesWiFi: the primary interface is wireless (a Wi-Fi link that merely stands by does not
//    carry the path); isExpensive: false (Linux has no such flag).
PathSnapshot computePathSnapshot(const std::vector<topology::RouteEntry>& routes,
                                 const std::vector<topology::InterfaceAddress>& addresses,
                                 const std::function<bool(const QString&)>& isWireless);

// The same from the live system (blocking, short).
PathSnapshot readPathSnapshot();

} // namespace path

class PathMonitorService {
public:
    using Handler = std::function<void(const PathSnapshot&)>;

    static constexpr const char* kQueueLabel = "com.tovarhelm.polvarine.pathmonitor";
    // Netlink reports one change as a burst of messages: the path is read once they have stopped
    // for kDebounce, and at the latest kMaxDelay after the first.
    static constexpr std::chrono::milliseconds kDebounce{250};
    static constexpr std::chrono::milliseconds kMaxDelay{1000};

    // Makes the monitor's thread; starts nothing.
    PathMonitorService();
    ~PathMonitorService();
    PathMonitorService(const PathMonitorService&) = delete;
    PathMonitorService& operator=(const PathMonitorService&) = delete;

    // Opens a fresh subscription and delivers the current path at once, then one snapshot per real
    // change (identical consecutive snapshots are dropped). A running subscription is cancelled first.
    void start(Handler handler);
    // Closes the subscription; no handler call starts after this returns.
    void cancel();
    bool isRunning() const;

private:
    struct Session;

    asio::thread_pool queue_;
    mutable std::recursive_mutex mutex_; // guards current_ and every handler call
    std::shared_ptr<Session> current_;
};

} // namespace pv
