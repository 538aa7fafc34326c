#pragma once
// One unprivileged datagram ICMP socket (no raw socket, no elevated rights) for one address family:
// opened, configured and optionally pinned to an interface; it reads every datagram on a strand of its
// own, stamps it with its arrival time and hands it to a handler; it resolves numeric addresses and
// sends. The ICMP probe owns at most one and is its only user.
//
// Linux hands a datagram ICMP socket the bare ICMP message (no IPv4 header, unlike some other
// systems), so the socket passes it through and takes the TTL from an IP_RECVTTL control message
// (the hop limit from an IPV6_RECVHOPLIMIT one).
// The arrival time is the kernel's receive timestamp moved onto CLOCK_MONOTONIC, so neither a busy
// network thread nor a busy probe adds to a round-trip time.

#include "core/probes/ICMPPacket.h"

#include <asio.hpp>

#include <QString>

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>

#include <sys/socket.h>

namespace pv {

struct ReceivedICMPMessage {
    std::uint64_t receiveTimestampNs = 0; // CLOCK_MONOTONIC nanoseconds of the datagram's arrival
    QString sourceAddress;                // numeric; "unknown" when it cannot be formatted
    std::vector<std::uint8_t> body;       // the ICMP message
    std::optional<int> ttl;               // IPv4 TTL or IPv6 hop limit
    bool operator==(const ReceivedICMPMessage&) const = default;
};

class ICMPError : public std::exception {
public:
    enum class Kind { socketCreationFailed, sendFailed, unsupportedAddress };

    static ICMPError socketCreationFailed(int errorNumber);
    static ICMPError sendFailed(int errorNumber);
    static ICMPError unsupportedAddress(QString address);

    Kind kind() const { return kind_; }
    int errorNumber() const { return errorNumber_; }
    QString address() const { return address_; }
    QString description() const;
    const char* what() const noexcept override { return what_.c_str(); }

private:
    ICMPError(Kind kind, int errorNumber, QString address);
    Kind kind_;
    int errorNumber_ = 0;
    QString address_;
    std::string what_;
};

// A resolved target: an address storage of 128 bytes holds any socket address.
struct ICMPAddress {
    sockaddr_storage storage{};
};

class ICMPSocket : public std::enable_shared_from_this<ICMPSocket> {
    struct Passkey {};

public:
    using Family = ICMPPacket::Family;
    using Handler = std::function<void(ReceivedICMPMessage)>;

    // Opens the socket; its reads run on a strand of `io`. An unknown interface name leaves it
    // unpinned silently; a failed pin is logged and leaves it unpinned. Throws socketCreationFailed.
    static std::shared_ptr<ICMPSocket> open(asio::any_io_executor io, Family family,
                                            std::optional<QString> boundInterfaceName = std::nullopt);
    ICMPSocket(Passkey, asio::any_io_executor io, Family family, const std::optional<QString>& boundInterfaceName);
    // Does not close the descriptor: only the owner's close() does.
    ~ICMPSocket();
    ICMPSocket(const ICMPSocket&) = delete;
    ICMPSocket& operator=(const ICMPSocket&) = delete;

    int fd() const { return fd_; }
    Family family() const { return family_; }
    bool isInterfacePinned() const { return isInterfacePinned_; }

    // Starts reading; the handler runs on the socket's strand, once per datagram, in arrival order.
    void startReceiving(Handler handler);
    // Stops reading and closes the descriptor. Safe from any thread; later sends fail with EBADF.
    void close();

    // Numeric addresses of the family only; host names are never looked up. Throws unsupportedAddress.
    static ICMPAddress resolveNumericAddress(const QString& host, Family family);
    // Throws sendFailed with the error number.
    void send(std::span<const std::uint8_t> packet, const ICMPAddress& address);

    // The clock of send and receive times: CLOCK_MONOTONIC in nanoseconds.
    static std::uint64_t uptimeNanoseconds();

private:
    void armLocked();
    void onReadable();

    Family family_;
    int fd_ = -1;
    bool isInterfacePinned_ = false;
    std::mutex mutex_; // the descriptor is closed from the owner's strand while reads run on ours
    bool closed_ = false;
    asio::strand<asio::any_io_executor> strand_;
    asio::posix::stream_descriptor readSource_;
    std::shared_ptr<Handler> handler_;
};

} // namespace pv
