#pragma once
// The ICMP echo probe: an actor that sends short echo series (one per target of a batch) and steady
// echo streams (the load test's latency trace) over one datagram ICMP socket, matches replies to the
// waiting echoes by sequence number and send time, and times them out. Every echo ends in exactly one
// outcome; once the socket is open, failures are outcomes, never exceptions.

#include "core/probes/ICMPPacket.h"
#include "core/probes/ICMPSocket.h"
#include "core/records/LoadTestResult.h"
#include "core/records/Runtime.h"

#include <asio/experimental/channel.hpp>

#include <QString>

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace pv {

struct EchoOutcome {
    enum class Kind { reply, unreachable, sendFailed, timeout, abandoned };

    Kind kind = Kind::timeout;
    double rtt = 0;          // milliseconds; replies only
    std::optional<int> ttl;  // replies only
    QString text;            // unreachable and sendFailed only

    static EchoOutcome reply(double rttMilliseconds, std::optional<int> ttl);
    static EchoOutcome unreachable(QString text);
    static EchoOutcome sendFailed(QString text);
    static EchoOutcome timeout();
    static EchoOutcome abandoned();

    std::optional<double> rttMilliseconds() const;
    bool isReply() const { return kind == Kind::reply; }
    bool operator==(const EchoOutcome&) const = default;
};

struct EchoSeries {
    QString host;
    std::vector<EchoOutcome> outcomes; // in sending order

    std::vector<double> rtts() const;
    // Share of non-replies among the outcomes that were not abandoned; none when all were.
    std::optional<double> lossRatio() const;
    std::optional<double> minimumRtt() const;
    // The middle value, or the mean of the two middle values for an even count.
    std::optional<double> medianRtt() const;
    // Mean absolute difference of consecutive round-trip times; none below two replies.
    std::optional<double> jitterMilliseconds() const;
    bool operator==(const EchoSeries&) const = default;
};

class ICMPProbe : public rt::Actor, public std::enable_shared_from_this<ICMPProbe> {
    struct Passkey {};

public:
    using Family = ICMPPacket::Family;
    using Nanoseconds = std::chrono::nanoseconds;

    // Opens nothing. Without a run identifier, a random one from 1 to 2^32-1 is drawn.
    // The failure text of an echo that could not be sent because the socket is not open (for
    // example when the system refused to open it): such an echo never reached the network.
    static const QString& socketNotOpenText();
    static std::shared_ptr<ICMPProbe> create(asio::any_io_executor io, Family family = Family::v4,
                                             std::optional<std::uint32_t> runIdentifier = std::nullopt);
    ICMPProbe(Passkey, asio::any_io_executor io, Family family, std::optional<std::uint32_t> runIdentifier);

    Family family() const { return family_; }
    std::uint32_t runIdentifier() const { return runIdentifier_; }

    // Opens the socket (pinned to the interface when one is named) unless one is open already; a
    // caller that wants another interface stops first. Throws ICMPError::socketCreationFailed.
    rt::awaitable<void> start(std::optional<QString> boundInterfaceName = std::nullopt);
    // Closes the socket; every waiting echo ends as `abandoned`.
    rt::awaitable<void> stop();
    rt::awaitable<bool> interfacePinned();

    // `count` echoes to a numeric address, each waiting up to `timeout`, `spacing` from one outcome to
    // the next send. The caller's cancellation shortens the spacing, never a wait for a reply.
    rt::awaitable<EchoSeries> measure(QString host, int count, Nanoseconds timeout, Nanoseconds spacing,
                                      std::uint16_t targetSlot);
    // Every echo of a series still waiting for its reply ends now as a time-out (a batch's deadline
    // has come). A reply to one of them that still comes within its own time-out is a late reply:
    // it ends nothing, but its round-trip time is kept for takeLateReplyRtt().
    rt::awaitable<void> expireWaiting();
    // The highest round-trip time of the late replies since the last call, none without one.
    rt::awaitable<std::optional<double>> takeLateReplyRtt();
    // Echoes every `interval` for `duration` (or until the caller is cancelled), then `replyGrace` for
    // the last replies; one TimedEcho per echo sent, in sending order.
    rt::awaitable<std::vector<TimedEcho>> measureContinuous(QString host, Nanoseconds duration, Nanoseconds interval,
                                                            Nanoseconds replyGrace, std::uint16_t targetSlot);

    // Seams for tests of the matching, which need no network: hand the actor a message as the socket
    // would, look at a waiting echo's send time, and place the sequence counter.
    rt::awaitable<void> deliver(ReceivedICMPMessage message);
    rt::awaitable<std::optional<std::uint64_t>> pendingSendTimestamp(std::uint16_t sequence);
    rt::awaitable<std::uint16_t> lastSequence();
    rt::awaitable<void> setLastSequence(std::uint16_t sequence);

private:
    using Resumer = asio::experimental::channel<void(std::error_code, EchoOutcome)>;
    struct PendingEcho {
        std::shared_ptr<Resumer> continuation;
        std::uint64_t sendTimestampNs = 0;
        std::shared_ptr<asio::steady_timer> timeout;
        std::uint64_t timeoutNs = 0;
    };
    struct ExpiredEcho {
        std::uint64_t sendTimestampNs = 0;
        std::uint64_t timeoutNs = 0;
    };
    struct ContinuousEcho {
        std::uint16_t sequence = 0;
        double offsetSeconds = 0;
    };
    struct ContinuousStart {
        ICMPAddress address;
        std::uint64_t startNs = 0;
    };

    // Steps on the strand, each called from the caller's context.
    rt::awaitable<EchoOutcome> echo(QString host, Nanoseconds timeout, std::uint16_t targetSlot);
    rt::awaitable<std::optional<ContinuousStart>> beginContinuous(QString host);
    rt::awaitable<ContinuousEcho> sendContinuous(ContinuousStart start, std::uint16_t targetSlot);
    rt::awaitable<std::vector<TimedEcho>> collectContinuous(std::vector<ContinuousEcho> sent);

    // On the strand.
    rt::awaitable<EchoOutcome> sendOne(QString host, Nanoseconds timeout, std::uint16_t targetSlot);
    void handleReceived(const ReceivedICMPMessage& message);
    void expireEcho(std::uint16_t sequence, const Resumer* continuation);
    void resume(PendingEcho& echo, EchoOutcome outcome);
    std::optional<ICMPError> trySend(const std::vector<std::uint8_t>& packet, const ICMPAddress& address);
    std::uint16_t nextSequence() { return ++sequence_; }

    asio::any_io_executor io_;
    const Family family_;
    const std::uint32_t runIdentifier_;
    std::shared_ptr<ICMPSocket> socket_;
    std::uint16_t sequence_ = 0;
    std::map<std::uint16_t, PendingEcho> pending_;
    std::map<QString, ICMPAddress> parsed_; // numeric hosts, parsed while the socket is open
    std::map<std::uint16_t, ExpiredEcho> expired_; // ended by expireWaiting(), a late reply still counts
    std::optional<double> highestLateRtt_;
    std::map<std::uint16_t, std::uint64_t> continuousSent_;
    std::map<std::uint16_t, double> continuousReplies_;
};

} // namespace pv
