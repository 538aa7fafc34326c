#include "core/probes/PathMonitor.h"

#include "core/records/Logging.h"

#include <QFileInfo>

#include <netlink/netlink.h>
#include <netlink/socket.h>

#include <linux/rtnetlink.h>
#include <net/if.h>
#include <pthread.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>

namespace pv {

namespace path {

QString statusDescription(PathStatus status)
{
    switch (status) {
    case PathStatus::satisfied:
        return QStringLiteral("satisfied");
    case PathStatus::unsatisfied:
        return QStringLiteral("unsatisfied");
    case PathStatus::requiresConnection:
        return QStringLiteral("requiresConnection");
    }
    return QStringLiteral("unknown");
}

bool isWirelessInterface(const QString& interfaceName, const QString& sysfsNetRoot)
{
    if (interfaceName.isEmpty() || interfaceName.contains(QLatin1Char('/')))
        return false;
    const QString base = sysfsNetRoot + QLatin1Char('/') + interfaceName;
    return QFileInfo::exists(base + QStringLiteral("/wireless")) || QFileInfo::exists(base + QStringLiteral("/phy80211"));
}

namespace {
constexpr unsigned kUsableFlags = IFF_UP | IFF_RUNNING;

bool isRoutable(const topology::InterfaceAddress& a)
{
    if (!a.numericHost)
        return false;
    if (a.family == AF_INET)
        return true;
    return a.family == AF_INET6 && !a.numericHost->startsWith(QLatin1String("fe80"));
}

bool usableEntry(const topology::InterfaceAddress& a)
{
    return (a.flags & kUsableFlags) == kUsableFlags && !(a.flags & IFF_LOOPBACK) && isRoutable(a);
}

bool hasUsableAddress(const std::vector<topology::InterfaceAddress>& addresses, const QString& name, int family)
{
    for (const auto& a : addresses)
        if (a.interfaceName == name && a.family == family && usableEntry(a))
            return true;
    return false;
}
} // namespace

PathSnapshot computePathSnapshot(const std::vector<topology::RouteEntry>& routes,
                                 const std::vector<topology::InterfaceAddress>& addresses,
                                 const std::function<bool(const QString&)>& isWireless)
{
    QStringList usable;
    for (const auto& a : addresses)
        if (usableEntry(a) && !usable.contains(a.interfaceName))
            usable.append(a.interfaceName);

    // Only default routes whose interface can carry traffic of their family count.
    std::vector<topology::RouteEntry> carrying;
    for (const auto& r : routes)
        if (r.interfaceName && hasUsableAddress(addresses, *r.interfaceName, r.family))
            carrying.push_back(r);

    std::optional<QString> primary;
    for (const int family : {AF_INET, AF_INET6}) {
        if (auto best = topology::bestDefaultRoute(carrying, family)) {
            primary = best->interfaceName;
            break;
        }
    }

    PathSnapshot s;
    s.statusDescription = statusDescription(primary ? PathStatus::satisfied : PathStatus::unsatisfied);
    s.isExpensive = false;
    if (primary) {
        usable.removeAll(*primary);
        usable.prepend(*primary);
        s.usesWiFi = isWireless && isWireless(*primary);
    }
    s.interfaceNames = usable;
    return s;
}

PathSnapshot readPathSnapshot()
{
    const auto routes = topology::readRoutes().value_or(std::vector<topology::RouteEntry>{});
    const auto addresses = topology::readInterfaceAddresses().value_or(std::vector<topology::InterfaceAddress>{});
    return computePathSnapshot(routes, addresses, [](const QString& name) { return isWirelessInterface(name); });
}

} // namespace path

// ---------------------------------------------------------------------------------------------
// One subscription: its own netlink socket, read on the monitor's thread only.
struct PathMonitorService::Session : std::enable_shared_from_this<Session> {
    Session(const asio::any_io_executor& ex, Handler h, std::recursive_mutex& gate)
        : descriptor(ex), timer(ex), handler(std::move(h)), gate(gate)
    {
    }

    asio::posix::stream_descriptor descriptor;
    asio::steady_timer timer;
    Handler handler;
    std::recursive_mutex& gate;
    std::atomic<bool> active{true};
    nl_sock* sock = nullptr;
    bool debouncing = false;
    std::chrono::steady_clock::time_point burstStart;
    std::chrono::steady_clock::time_point lastMessage;
    std::optional<PathSnapshot> last;
    std::array<char, 32768> buffer{};

    void open()
    {
        if (!active)
            return;
        // Subscribe before the first read, so that no change between the two is missed.
        if (const QString failure = subscribe(); !failure.isEmpty()) {
            qCWarning(pv::log::path(), "Path monitor could not subscribe to network changes: %s",
                      qUtf8Printable(failure));
            closeSocket();
        }
        evaluate();
        if (descriptor.is_open())
            waitForMessages();
    }

    QString subscribe()
    {
        sock = nl_socket_alloc();
        if (sock == nullptr)
            return QStringLiteral("out of memory");
        nl_socket_disable_seq_check(sock);
        if (const int rc = nl_connect(sock, NETLINK_ROUTE); rc < 0)
            return QString::fromUtf8(nl_geterror(rc));
        if (const int rc = nl_socket_add_memberships(sock, RTNLGRP_LINK, RTNLGRP_IPV4_IFADDR, RTNLGRP_IPV6_IFADDR,
                                                     RTNLGRP_IPV4_ROUTE, RTNLGRP_IPV6_ROUTE, 0);
            rc < 0)
            return QString::fromUtf8(nl_geterror(rc));
        // A larger buffer makes overruns rarer; an overrun (ENOBUFS) is handled as a change anyway.
        nl_socket_set_buffer_size(sock, 1 << 20, 0);
        if (const int rc = nl_socket_set_nonblocking(sock); rc < 0)
            return QString::fromUtf8(nl_geterror(rc));
        std::error_code ec;
        descriptor.assign(nl_socket_get_fd(sock), ec);
        if (ec)
            return QString::fromStdString(ec.message());
        return {};
    }

    void closeSocket()
    {
        std::error_code ignored;
        timer.cancel();
        if (descriptor.is_open()) {
            descriptor.cancel(ignored);
            descriptor.release(); // the socket below owns the descriptor
        }
        if (sock != nullptr) {
            nl_socket_free(sock);
            sock = nullptr;
        }
    }

    void waitForMessages()
    {
        descriptor.async_wait(asio::posix::stream_descriptor::wait_read,
                              [self = shared_from_this()](const std::error_code& ec) {
                                  if (ec || !self->active)
                                      return;
                                  if (!self->drain())
                                      return;
                                  self->scheduleEvaluation();
                                  self->waitForMessages();
                              });
    }

    // Reads what is queued; the content does not matter, only that something changed. False when
    // the socket failed for good.
    bool drain()
    {
        const int fd = nl_socket_get_fd(sock);
        for (int i = 0; i < 256; ++i) {
            const ssize_t n = recv(fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
            if (n > 0 || (n < 0 && (errno == ENOBUFS || errno == EINTR)))
                continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                return true;
            qCWarning(pv::log::path(), "Path monitor stopped reading network changes: %s",
                      n == 0 ? "socket closed" : std::strerror(errno));
            return false;
        }
        return true; // still more: the next wait comes back at once
    }

    // Trailing debounce: the path is read once the messages have stopped for kDebounce, but at the
    // latest kMaxDelay after the first one, so a link that never settles is still reported.
    void scheduleEvaluation()
    {
        lastMessage = std::chrono::steady_clock::now();
        if (debouncing)
            return;
        debouncing = true;
        burstStart = lastMessage;
        armTimer(lastMessage + kDebounce);
    }

    void armTimer(std::chrono::steady_clock::time_point at)
    {
        timer.expires_at(at);
        timer.async_wait([self = shared_from_this()](const std::error_code& ec) {
            if (ec || !self->active) {
                self->debouncing = false;
                return;
            }
            const auto now = std::chrono::steady_clock::now();
            const auto quietAt = self->lastMessage + kDebounce;
            const auto latest = self->burstStart + kMaxDelay;
            if (quietAt > now && now < latest) {
                self->armTimer(std::min(quietAt, latest));
                return;
            }
            self->debouncing = false;
            self->evaluate();
        });
    }

    void evaluate()
    {
        PathSnapshot snapshot = path::readPathSnapshot();
        if (last && *last == snapshot)
            return;
        last = snapshot;
        std::lock_guard lock(gate);
        if (!active)
            return;
        try {
            handler(snapshot);
        } catch (const std::exception& e) {
            qCWarning(pv::log::path(), "Path update handler failed: %s", e.what());
        } catch (...) {
            qCWarning(pv::log::path(), "Path update handler failed");
        }
    }
};

PathMonitorService::PathMonitorService() : queue_(1)
{
    asio::post(queue_, [] { pthread_setname_np(pthread_self(), "pv-pathmonitor"); });
}

PathMonitorService::~PathMonitorService()
{
    cancel();
    queue_.join();
}

void PathMonitorService::start(Handler handler)
{
    cancel();
    auto session = std::make_shared<Session>(queue_.get_executor(), std::move(handler), mutex_);
    {
        std::lock_guard lock(mutex_);
        current_ = session;
    }
    asio::post(queue_, [session] { session->open(); });
}

void PathMonitorService::cancel()
{
    std::shared_ptr<Session> session;
    {
        std::lock_guard lock(mutex_);
        session = std::move(current_);
        current_.reset();
        if (session)
            session->active = false;
    }
    if (session)
        asio::post(queue_, [session] { session->closeSocket(); });
}

bool PathMonitorService::isRunning() const
{
    std::lock_guard lock(mutex_);
    return current_ != nullptr;
}

} // namespace pv
