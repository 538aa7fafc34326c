#include "core/probes/ICMPSocket.h"

#include "core/records/Logging.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <vector>

#include <fcntl.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/icmp6.h>
#include <netinet/in.h>
#include <unistd.h>

namespace pv {

namespace {

// The system's English text for an error number, whatever the process locale is.
QString errorText(int errorNumber)
{
    const char* text = strerrordesc_np(errorNumber);
    return text != nullptr ? QString::fromUtf8(text) : QStringLiteral("Unknown error %1").arg(errorNumber);
}

std::uint64_t readClock(clockid_t clock)
{
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<std::uint64_t>(ts.tv_sec) * 1'000'000'000ULL + static_cast<std::uint64_t>(ts.tv_nsec);
}

// The kernel stamps arrivals on CLOCK_REALTIME. CLOCK_REALTIME is CLOCK_MONOTONIC plus an offset that
// changes only when the wall clock is stepped (both run at the same, NTP-slewed rate), so the offset
// read now, bracketed by two monotonic readings, moves the stamp onto the monotonic clock to within
// the bracket's width (tens of nanoseconds).
std::optional<std::uint64_t> monotonicFromRealtime(const timespec& arrival, std::uint64_t readAt)
{
    const std::uint64_t before = readClock(CLOCK_MONOTONIC);
    const std::uint64_t realNow = readClock(CLOCK_REALTIME);
    const std::uint64_t after = readClock(CLOCK_MONOTONIC);
    const std::int64_t monoNow = static_cast<std::int64_t>(before + (after - before) / 2);
    const std::int64_t stamp =
        static_cast<std::int64_t>(arrival.tv_sec) * 1'000'000'000LL + static_cast<std::int64_t>(arrival.tv_nsec);
    const std::int64_t converted = stamp - (static_cast<std::int64_t>(realNow) - monoNow);
    // A wall-clock step between arrival and now would shift the result: then the reading taken
    // right after recvmsg is the better arrival time.
    constexpr std::int64_t plausibleQueueing = 10'000'000'000LL;
    if (converted > static_cast<std::int64_t>(readAt) || static_cast<std::int64_t>(readAt) - converted > plausibleQueueing)
        return std::nullopt;
    return static_cast<std::uint64_t>(converted);
}

QString numericHost(const sockaddr_storage& address, socklen_t length)
{
    char host[1025] = {};
    if (getnameinfo(reinterpret_cast<const sockaddr*>(&address), length, host, sizeof host, nullptr, 0,
                    NI_NUMERICHOST) != 0)
        return QStringLiteral("unknown");
    return QString::fromLatin1(host);
}

void setIntOption(int fd, int level, int name, int value)
{
    // Best effort, like the platform this was designed on: an option a datagram ICMP socket does not
    // know (ICMP6_FILTER) changes nothing.
    (void)setsockopt(fd, level, name, &value, sizeof value);
}

} // namespace

// ---------------------------------------------------------------------------------------------
ICMPError::ICMPError(Kind kind, int errorNumber, QString address)
    : kind_(kind), errorNumber_(errorNumber), address_(std::move(address)), what_(description().toStdString())
{
}

ICMPError ICMPError::socketCreationFailed(int errorNumber) { return {Kind::socketCreationFailed, errorNumber, {}}; }
ICMPError ICMPError::sendFailed(int errorNumber) { return {Kind::sendFailed, errorNumber, {}}; }
ICMPError ICMPError::unsupportedAddress(QString address) { return {Kind::unsupportedAddress, 0, std::move(address)}; }

QString ICMPError::description() const
{
    switch (kind_) {
    case Kind::socketCreationFailed: {
        QString text = QStringLiteral("ICMP socket could not be opened (errno %1: %2)")
                           .arg(errorNumber_)
                           .arg(errorText(errorNumber_));
        // Linux refuses a datagram ICMP socket to a user whose group is outside this sysctl's range.
        if (errorNumber_ == EACCES)
            text += QStringLiteral("; unprivileged ICMP is not allowed for this user's group: widen the sysctl "
                                   "net.ipv4.ping_group_range (see README)");
        return text;
    }
    case Kind::sendFailed:
        return QStringLiteral("ICMP send failed (errno %1: %2)").arg(errorNumber_).arg(errorText(errorNumber_));
    case Kind::unsupportedAddress:
        return QStringLiteral("Not a numeric IP address: ") + address_;
    }
    return {};
}

// ---------------------------------------------------------------------------------------------
std::shared_ptr<ICMPSocket> ICMPSocket::open(asio::any_io_executor io, Family family,
                                             std::optional<QString> boundInterfaceName)
{
    return std::make_shared<ICMPSocket>(Passkey{}, std::move(io), family, boundInterfaceName);
}

ICMPSocket::ICMPSocket(Passkey, asio::any_io_executor io, Family family,
                       const std::optional<QString>& boundInterfaceName)
    : family_(family), strand_(asio::make_strand(io)), readSource_(strand_)
{
    const bool v4 = family == Family::v4;
    const int protocol = v4 ? static_cast<int>(IPPROTO_ICMP) : static_cast<int>(IPPROTO_ICMPV6);
    fd_ = ::socket(v4 ? AF_INET : AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, protocol);
    if (fd_ < 0)
        throw ICMPError::socketCreationFailed(errno);

    const int flags = fcntl(fd_, F_GETFL);
    fcntl(fd_, F_SETFL, flags | O_NONBLOCK);

    // There is no SO_NOSIGPIPE here: send() passes MSG_NOSIGNAL instead.
    setIntOption(fd_, SOL_SOCKET, SO_RCVBUF, 65536);
    setIntOption(fd_, SOL_SOCKET, SO_TIMESTAMPNS, 1);
    if (v4) {
        setIntOption(fd_, IPPROTO_IP, IP_TTL, 64);
        setIntOption(fd_, IPPROTO_IP, IP_RECVTTL, 1);
    } else {
        setIntOption(fd_, IPPROTO_IPV6, IPV6_UNICAST_HOPS, 64);
        setIntOption(fd_, IPPROTO_IPV6, IPV6_RECVHOPLIMIT, 1);
        icmp6_filter filter;
        ICMP6_FILTER_SETBLOCKALL(&filter);
        ICMP6_FILTER_SETPASS(ICMP6_ECHO_REPLY, &filter);
        ICMP6_FILTER_SETPASS(ICMP6_DST_UNREACH, &filter);
        ICMP6_FILTER_SETPASS(ICMP6_PACKET_TOO_BIG, &filter);
        ICMP6_FILTER_SETPASS(ICMP6_TIME_EXCEEDED, &filter);
        (void)setsockopt(fd_, IPPROTO_ICMPV6, ICMP6_FILTER, &filter, sizeof filter);
    }

    if (boundInterfaceName && !boundInterfaceName->isEmpty()) {
        const QByteArray name = boundInterfaceName->toLocal8Bit();
        if (if_nametoindex(name.constData()) != 0) {
            // Unprivileged since Linux 5.7 for a socket not yet bound to a device.
            if (setsockopt(fd_, SOL_SOCKET, SO_BINDTODEVICE, name.constData(), static_cast<socklen_t>(name.size())) ==
                0)
                isInterfacePinned_ = true;
            else
                qCInfo(pv::log::icmp(), "Could not pin the ICMP socket to %s; the kernel will choose the route.",
                       name.constData());
        }
    }

    std::error_code ec;
    readSource_.assign(fd_, ec);
    if (ec) {
        const int error = ec.value();
        ::close(fd_);
        throw ICMPError::socketCreationFailed(error);
    }
}

ICMPSocket::~ICMPSocket()
{
    std::lock_guard lock(mutex_);
    if (!closed_ && readSource_.is_open()) {
        // Only the owner's close() closes the descriptor.
        std::error_code ec;
        readSource_.cancel(ec);
        (void)readSource_.release();
    }
}

void ICMPSocket::startReceiving(Handler handler)
{
    std::lock_guard lock(mutex_);
    handler_ = std::make_shared<Handler>(std::move(handler));
    armLocked();
}

void ICMPSocket::armLocked()
{
    if (closed_)
        return;
    readSource_.async_wait(asio::posix::descriptor_base::wait_read,
                           asio::bind_executor(strand_, [weak = weak_from_this()](const std::error_code& ec) {
                               if (ec)
                                   return;
                               if (auto self = weak.lock())
                                   self->onReadable();
                           }));
}

void ICMPSocket::onReadable()
{
    std::vector<ReceivedICMPMessage> messages;
    std::shared_ptr<Handler> handler;
    {
        std::lock_guard lock(mutex_);
        if (closed_)
            return;
        // One buffer for the whole wake-up; every queued datagram is drained now.
        std::vector<std::uint8_t> buffer(2048);
        alignas(cmsghdr) char control[256];
        for (;;) {
            sockaddr_storage from{};
            iovec iov{buffer.data(), buffer.size()};
            msghdr msg{};
            msg.msg_name = &from;
            msg.msg_namelen = sizeof from;
            msg.msg_iov = &iov;
            msg.msg_iovlen = 1;
            msg.msg_control = control;
            msg.msg_controllen = sizeof control;
            const ssize_t received = recvmsg(fd_, &msg, MSG_DONTWAIT);
            const std::uint64_t readAt = uptimeNanoseconds();
            if (received < 1)
                break;

            ReceivedICMPMessage message;
            message.receiveTimestampNs = readAt;
            for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
                if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS &&
                    c->cmsg_len >= CMSG_LEN(sizeof(timespec))) {
                    timespec arrival{};
                    std::memcpy(&arrival, CMSG_DATA(c), sizeof arrival);
                    if (auto converted = monotonicFromRealtime(arrival, readAt))
                        message.receiveTimestampNs = *converted;
                } else if (family_ == Family::v4 && c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_TTL &&
                           c->cmsg_len >= CMSG_LEN(sizeof(int))) {
                    int ttl = 0;
                    std::memcpy(&ttl, CMSG_DATA(c), sizeof ttl);
                    message.ttl = ttl;
                } else if (family_ == Family::v6 && c->cmsg_level == IPPROTO_IPV6 && c->cmsg_type == IPV6_HOPLIMIT &&
                           c->cmsg_len >= CMSG_LEN(sizeof(int))) {
                    int hops = 0;
                    std::memcpy(&hops, CMSG_DATA(c), sizeof hops);
                    message.ttl = hops;
                }
            }
            // The datagram is the ICMP message itself: a Linux datagram ICMP socket has no IP header
            // to strip.
            message.body.assign(buffer.begin(), buffer.begin() + received);
            message.sourceAddress = numericHost(from, msg.msg_namelen);
            messages.push_back(std::move(message));
        }
        handler = handler_;
        armLocked();
    }
    if (handler) {
        for (auto& message : messages)
            (*handler)(std::move(message));
    }
}

void ICMPSocket::close()
{
    std::lock_guard lock(mutex_);
    if (closed_)
        return;
    closed_ = true;
    std::error_code ec;
    readSource_.cancel(ec);
    readSource_.close(ec);
    fd_ = -1;
    handler_.reset();
}

ICMPAddress ICMPSocket::resolveNumericAddress(const QString& host, Family family)
{
    addrinfo hints{};
    hints.ai_flags = AI_NUMERICHOST;
    hints.ai_family = family == Family::v4 ? AF_INET : AF_INET6;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* results = nullptr;
    const QByteArray text = host.toUtf8();
    if (host.isEmpty() || getaddrinfo(text.constData(), nullptr, &hints, &results) != 0 || results == nullptr) {
        if (results != nullptr)
            freeaddrinfo(results);
        throw ICMPError::unsupportedAddress(host);
    }
    ICMPAddress address;
    std::memcpy(&address.storage, results->ai_addr,
                std::min<std::size_t>(results->ai_addrlen, sizeof address.storage));
    freeaddrinfo(results);
    return address;
}

void ICMPSocket::send(std::span<const std::uint8_t> packet, const ICMPAddress& address)
{
    std::lock_guard lock(mutex_);
    if (closed_)
        throw ICMPError::sendFailed(EBADF);
    const socklen_t length = family_ == Family::v4 ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
    const ssize_t sent = ::sendto(fd_, packet.data(), packet.size(), MSG_NOSIGNAL,
                                  reinterpret_cast<const sockaddr*>(&address.storage), length);
    if (sent < 0)
        throw ICMPError::sendFailed(errno);
}

std::uint64_t ICMPSocket::uptimeNanoseconds() { return readClock(CLOCK_MONOTONIC); }

} // namespace pv
