#include "core/probes/ICMPProbe.h"

#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <utility>

namespace pv {

namespace {

const QString& socketNotOpen() { return ICMPProbe::socketNotOpenText(); }

constexpr std::chrono::milliseconds unreachableRetryDelay{250};

std::uint32_t randomRunIdentifier()
{
    // Uniform below 2^32-1, plus one: never 0.
    return QRandomGenerator::system()->bounded(std::numeric_limits<std::uint32_t>::max()) + 1U;
}

} // namespace

// ---------------------------------------------------------------------------------------------
EchoOutcome EchoOutcome::reply(double rttMilliseconds, std::optional<int> ttl)
{
    return {Kind::reply, rttMilliseconds, ttl, {}};
}
EchoOutcome EchoOutcome::unreachable(QString text) { return {Kind::unreachable, 0, std::nullopt, std::move(text)}; }
EchoOutcome EchoOutcome::sendFailed(QString text) { return {Kind::sendFailed, 0, std::nullopt, std::move(text)}; }
EchoOutcome EchoOutcome::timeout() { return {Kind::timeout, 0, std::nullopt, {}}; }
EchoOutcome EchoOutcome::abandoned() { return {Kind::abandoned, 0, std::nullopt, {}}; }

std::optional<double> EchoOutcome::rttMilliseconds() const
{
    if (kind != Kind::reply)
        return std::nullopt;
    return rtt;
}

// ---------------------------------------------------------------------------------------------
std::vector<double> EchoSeries::rtts() const
{
    std::vector<double> values;
    for (const EchoOutcome& o : outcomes) {
        if (o.isReply())
            values.push_back(o.rtt);
    }
    return values;
}

std::optional<double> EchoSeries::lossRatio() const
{
    std::size_t counted = 0;
    std::size_t lost = 0;
    for (const EchoOutcome& o : outcomes) {
        if (o.kind == EchoOutcome::Kind::abandoned)
            continue;
        ++counted;
        if (!o.isReply())
            ++lost;
    }
    if (counted == 0)
        return std::nullopt;
    return static_cast<double>(lost) / static_cast<double>(counted);
}

std::optional<double> EchoSeries::minimumRtt() const
{
    const auto values = rtts();
    if (values.empty())
        return std::nullopt;
    return *std::min_element(values.begin(), values.end());
}

std::optional<double> EchoSeries::medianRtt() const
{
    auto values = rtts();
    if (values.empty())
        return std::nullopt;
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    if (values.size() % 2 == 1)
        return values[middle];
    return (values[middle - 1] + values[middle]) / 2.0;
}

std::optional<double> EchoSeries::jitterMilliseconds() const
{
    const auto values = rtts();
    if (values.size() < 2)
        return std::nullopt;
    double sum = 0;
    for (std::size_t i = 1; i < values.size(); ++i)
        sum += std::fabs(values[i] - values[i - 1]);
    return sum / static_cast<double>(values.size() - 1);
}

// ---------------------------------------------------------------------------------------------
std::shared_ptr<ICMPProbe> ICMPProbe::create(asio::any_io_executor io, Family family,
                                             std::optional<std::uint32_t> runIdentifier)
{
    return std::make_shared<ICMPProbe>(Passkey{}, std::move(io), family, runIdentifier);
}

ICMPProbe::ICMPProbe(Passkey, asio::any_io_executor io, Family family, std::optional<std::uint32_t> runIdentifier)
    : rt::Actor(io), io_(io), family_(family), runIdentifier_(runIdentifier ? *runIdentifier : randomRunIdentifier())
{
}

// The public members below hand a lambda to onStrand() from plain functions, never inside a
// co_await expression: GCC 12 destroys a lambda temporary written there twice.
const QString& ICMPProbe::socketNotOpenText()
{
    static const QString text = QStringLiteral("The ICMP socket is not open.");
    return text;
}

rt::awaitable<void> ICMPProbe::start(std::optional<QString> boundInterfaceName)
{
    return onStrand([self = shared_from_this(), boundInterfaceName]() -> rt::awaitable<void> {
        if (self->socket_)
            co_return;
        auto socket = ICMPSocket::open(self->io_, self->family_, boundInterfaceName);
        // Each message crosses from the socket's strand to the actor on its own; the socket has
        // already stamped it, so time spent waiting for a busy actor is not measured.
        socket->startReceiving(
            [weak = std::weak_ptr<ICMPProbe>(self), strand = self->strand()](ReceivedICMPMessage message) {
                asio::post(strand, [weak, message = std::move(message)]() {
                    if (auto probe = weak.lock())
                        probe->handleReceived(message);
                });
            });
        self->socket_ = std::move(socket);
    });
}

rt::awaitable<void> ICMPProbe::stop()
{
    return onStrand([self = shared_from_this()]() -> rt::awaitable<void> {
        if (self->socket_) {
            self->socket_->close();
            self->socket_.reset();
        }
        auto waiting = std::move(self->pending_);
        self->pending_.clear();
        for (auto& entry : waiting)
            self->resume(entry.second, EchoOutcome::abandoned());
        self->parsed_.clear();
        self->continuousSent_.clear();
        self->continuousReplies_.clear();
        self->expired_.clear();
        self->highestLateRtt_.reset();
        co_return;
    });
}

rt::awaitable<bool> ICMPProbe::interfacePinned()
{
    return onStrand([self = shared_from_this()]() -> rt::awaitable<bool> {
        co_return self->socket_ && self->socket_->isInterfacePinned();
    });
}

// ---------------------------------------------------------------------------------------------
rt::awaitable<EchoSeries> ICMPProbe::measure(QString host, int count, Nanoseconds timeout, Nanoseconds spacing,
                                             std::uint16_t targetSlot)
{
    const auto self = shared_from_this(); // alive until the series ends
    // The caller's cancellation must not turn the waits into exceptions: a series always ends with
    // one outcome per echo. The caller's own setting is back when the series returns.
    const bool callerThrowsIfCancelled = co_await asio::this_coro::throw_if_cancelled();
    co_await asio::this_coro::throw_if_cancelled(false);
    EchoSeries series;
    series.host = host;
    for (int i = 0; i < count; ++i) {
        EchoOutcome outcome = co_await echo(host, timeout, targetSlot);
        series.outcomes.push_back(std::move(outcome));
        if (i + 1 < count) {
            // The spacing runs in the caller's context: its cancellation ends it early, and the
            // next echo follows at once.
            co_await rt::sleepFor(io_, spacing);
        }
    }
    co_await asio::this_coro::throw_if_cancelled(callerThrowsIfCancelled);
    co_return series;
}

rt::awaitable<EchoOutcome> ICMPProbe::echo(QString host, Nanoseconds timeout, std::uint16_t targetSlot)
{
    return onStrand(sendOne(std::move(host), timeout, targetSlot));
}

std::optional<ICMPError> ICMPProbe::trySend(const std::vector<std::uint8_t>& packet, const ICMPAddress& address)
{
    if (!socket_)
        return ICMPError::sendFailed(EBADF);
    try {
        socket_->send(packet, address);
    } catch (const ICMPError& error) {
        return error;
    }
    return std::nullopt;
}

rt::awaitable<EchoOutcome> ICMPProbe::sendOne(QString host, Nanoseconds timeout, std::uint16_t targetSlot)
{
    if (!socket_)
        co_return EchoOutcome::sendFailed(socketNotOpen());
    const std::uint16_t sequence = nextSequence();

    // A host's address is parsed once while the socket is open: a link-local one names its
    // interface, and the system is asked for that interface's index at every parse.
    const bool wasParsed = parsed_.contains(host);
    std::optional<ICMPAddress> address;
    QString resolveError;
    try {
        address = wasParsed ? parsed_.at(host) : ICMPSocket::resolveNumericAddress(host, family_);
    } catch (const ICMPError& error) {
        resolveError = error.description();
    }
    if (!address)
        co_return EchoOutcome::sendFailed(resolveError);
    parsed_[host] = *address;

    std::uint64_t sendTimestampNs = ICMPSocket::uptimeNanoseconds();
    auto error = trySend(ICMPPacket::makeEchoRequest(runIdentifier_, sequence, targetSlot, sendTimestampNs, family_),
                         *address);
    if (error) {
        // The interface may have come back under another index: the address is parsed again, and
        // sent to once more when that changed it.
        parsed_.erase(host);
        if (wasParsed) {
            try {
                const ICMPAddress fresh = ICMPSocket::resolveNumericAddress(host, family_);
                if (std::memcmp(&fresh.storage, &address->storage, sizeof fresh.storage) != 0) {
                    address = fresh;
                    sendTimestampNs = ICMPSocket::uptimeNanoseconds();
                    error = trySend(ICMPPacket::makeEchoRequest(runIdentifier_, sequence, targetSlot,
                                                                sendTimestampNs, family_),
                                    *address);
                }
            } catch (const ICMPError&) {
            }
        }
    }
    if (error && error->kind() == ICMPError::Kind::sendFailed && error->errorNumber() == EHOSTUNREACH) {
        // One retry for a route that may be coming up (an interface changing over).
        asio::steady_timer wait(strand(), unreachableRetryDelay);
        std::error_code ignored;
        co_await wait.async_wait(asio::redirect_error(rt::use_awaitable, ignored));
        if (!socket_)
            co_return EchoOutcome::sendFailed(socketNotOpen());
        // A fresh request with a fresh send time: re-sending the first one would count the wait in
        // the round-trip time of a retry that is answered.
        sendTimestampNs = ICMPSocket::uptimeNanoseconds();
        error = trySend(ICMPPacket::makeEchoRequest(runIdentifier_, sequence, targetSlot, sendTimestampNs, family_),
                        *address);
        if (error)
            co_return EchoOutcome::unreachable(error->description());
    } else if (error) {
        co_return EchoOutcome::sendFailed(error->description());
    }

    // From the send to the registration nothing suspends, so no reply can be handled before the
    // echo waits for it.
    auto continuation = std::make_shared<Resumer>(strand(), 1);
    auto timer = std::make_shared<asio::steady_timer>(strand(), timeout);
    if (auto it = pending_.find(sequence); it != pending_.end()) {
        // Only after 65,536 echoes within one time-out: the older echo can no longer be told apart.
        PendingEcho older = std::move(it->second);
        pending_.erase(it);
        resume(older, EchoOutcome::timeout());
    }
    expired_.erase(sequence); // as old as a wrapped sequence: long past its time-out
    pending_.emplace(sequence, PendingEcho{continuation, sendTimestampNs, timer,
                                           static_cast<std::uint64_t>(std::max<Nanoseconds::rep>(0, timeout.count()))});
    timer->async_wait([weak = weak_from_this(), sequence, continuation](const std::error_code& ec) {
        if (ec)
            return;
        if (auto probe = weak.lock())
            probe->expireEcho(sequence, continuation.get());
    });

    EchoOutcome outcome = co_await continuation->async_receive(rt::use_awaitable);
    timer->cancel();
    co_return outcome;
}

void ICMPProbe::resume(PendingEcho& echo, EchoOutcome outcome)
{
    echo.timeout->cancel();
    echo.continuation->try_send(std::error_code{}, std::move(outcome));
}

rt::awaitable<void> ICMPProbe::expireWaiting()
{
    return onStrand([this]() -> rt::awaitable<void> {
        const std::uint64_t now = ICMPSocket::uptimeNanoseconds();
        std::erase_if(expired_, [now](const auto& entry) {
            return now - entry.second.sendTimestampNs > entry.second.timeoutNs;
        });
        std::map<std::uint16_t, PendingEcho> waiting = std::exchange(pending_, {});
        for (auto& [sequence, echo] : waiting) {
            expired_[sequence] = ExpiredEcho{echo.sendTimestampNs, echo.timeoutNs};
            resume(echo, EchoOutcome::timeout());
        }
        co_return;
    });
}

rt::awaitable<std::optional<double>> ICMPProbe::takeLateReplyRtt()
{
    return onStrand([this]() -> rt::awaitable<std::optional<double>> {
        co_return std::exchange(highestLateRtt_, std::nullopt);
    });
}

void ICMPProbe::expireEcho(std::uint16_t sequence, const Resumer* continuation)
{
    auto it = pending_.find(sequence);
    if (it == pending_.end() || it->second.continuation.get() != continuation)
        return; // already answered or abandoned
    PendingEcho echo = std::move(it->second);
    pending_.erase(it);
    resume(echo, EchoOutcome::timeout());
}

void ICMPProbe::handleReceived(const ReceivedICMPMessage& message)
{
    const auto fields = ICMPPacket::parseEchoReply(message.body, runIdentifier_, family_);
    if (!fields)
        return;
    // Both times are the monotonic clock: the arrival stamped by the socket, the send time carried
    // in the reply. When the actor handles the message does not count.
    const double rtt = message.receiveTimestampNs >= fields->sendTimestampNs
                           ? static_cast<double>(message.receiveTimestampNs - fields->sendTimestampNs) / 1'000'000.0
                           : 0.0;

    if (!continuousSent_.empty()) {
        if (auto it = continuousSent_.find(fields->sequence); it != continuousSent_.end()) {
            if (it->second == fields->sendTimestampNs)
                continuousReplies_[fields->sequence] = rtt;
            return;
        }
    }
    auto it = pending_.find(fields->sequence);
    if (it == pending_.end() || it->second.sendTimestampNs != fields->sendTimestampNs) {
        auto late = expired_.find(fields->sequence);
        if (late == expired_.end() || late->second.sendTimestampNs != fields->sendTimestampNs)
            return;
        // Past its own time-out a reply is as good as lost, late or not.
        if (rtt * 1'000'000.0 <= static_cast<double>(late->second.timeoutNs))
            highestLateRtt_ = std::max(highestLateRtt_.value_or(rtt), rtt);
        expired_.erase(late);
        return;
    }
    PendingEcho echo = std::move(it->second);
    pending_.erase(it);
    resume(echo, EchoOutcome::reply(rtt, message.ttl));
}

// ---------------------------------------------------------------------------------------------
rt::awaitable<std::vector<TimedEcho>> ICMPProbe::measureContinuous(QString host, Nanoseconds duration,
                                                                   Nanoseconds interval, Nanoseconds replyGrace,
                                                                   std::uint16_t targetSlot)
{
    const auto self = shared_from_this(); // alive until the measurement ends
    const bool callerThrowsIfCancelled = co_await asio::this_coro::throw_if_cancelled();
    co_await asio::this_coro::throw_if_cancelled(false);
    const std::optional<ContinuousStart> begin = co_await beginContinuous(host);
    if (!begin) {
        co_await asio::this_coro::throw_if_cancelled(callerThrowsIfCancelled);
        co_return std::vector<TimedEcho>{};
    }

    const std::uint64_t durationNs = static_cast<std::uint64_t>(std::max<Nanoseconds::rep>(0, duration.count()));
    std::vector<ContinuousEcho> sent;
    while (ICMPSocket::uptimeNanoseconds() - begin->startNs < durationNs && !(co_await rt::isCancelled())) {
        const ContinuousEcho record = co_await sendContinuous(*begin, targetSlot);
        sent.push_back(record);
        co_await rt::sleepFor(io_, interval);
    }
    co_await rt::sleepFor(io_, replyGrace);
    std::vector<TimedEcho> echoes = co_await collectContinuous(std::move(sent));
    co_await asio::this_coro::throw_if_cancelled(callerThrowsIfCancelled);
    co_return echoes;
}

rt::awaitable<std::optional<ICMPProbe::ContinuousStart>> ICMPProbe::beginContinuous(QString host)
{
    return onStrand([self = shared_from_this(), host]() -> rt::awaitable<std::optional<ContinuousStart>> {
        if (!self->socket_)
            co_return std::nullopt;
        std::optional<ContinuousStart> start;
        try {
            start = ContinuousStart{ICMPSocket::resolveNumericAddress(host, self->family_),
                                    ICMPSocket::uptimeNanoseconds()};
        } catch (const ICMPError&) {
        }
        co_return start;
    });
}

rt::awaitable<ICMPProbe::ContinuousEcho> ICMPProbe::sendContinuous(ContinuousStart start, std::uint16_t targetSlot)
{
    return onStrand([self = shared_from_this(), start, targetSlot]() -> rt::awaitable<ContinuousEcho> {
        const std::uint16_t sequence = self->nextSequence();
        const std::uint64_t sendTimestampNs = ICMPSocket::uptimeNanoseconds();
        // Registered before the send, so even the quickest reply finds it.
        self->continuousSent_[sequence] = sendTimestampNs;
        // A send error only means this echo gets no reply.
        (void)self->trySend(ICMPPacket::makeEchoRequest(self->runIdentifier_, sequence, targetSlot, sendTimestampNs,
                                                        self->family_),
                            start.address);
        co_return ContinuousEcho{sequence, static_cast<double>(sendTimestampNs - start.startNs) / 1e9};
    });
}

rt::awaitable<std::vector<TimedEcho>> ICMPProbe::collectContinuous(std::vector<ContinuousEcho> sent)
{
    return onStrand([self = shared_from_this(), sent = std::move(sent)]() -> rt::awaitable<std::vector<TimedEcho>> {
        std::vector<TimedEcho> echoes;
        echoes.reserve(sent.size());
        for (const ContinuousEcho& echo : sent) {
            TimedEcho timed{echo.offsetSeconds, std::nullopt};
            if (auto it = self->continuousReplies_.find(echo.sequence); it != self->continuousReplies_.end())
                timed.rttMilliseconds = it->second;
            echoes.push_back(timed);
        }
        for (const ContinuousEcho& echo : sent) {
            self->continuousReplies_.erase(echo.sequence);
            self->continuousSent_.erase(echo.sequence);
        }
        co_return echoes;
    });
}

// ---------------------------------------------------------------------------------------------
rt::awaitable<void> ICMPProbe::deliver(ReceivedICMPMessage message)
{
    return onStrand([self = shared_from_this(), message = std::move(message)]() -> rt::awaitable<void> {
        self->handleReceived(message);
        co_return;
    });
}

rt::awaitable<std::optional<std::uint64_t>> ICMPProbe::pendingSendTimestamp(std::uint16_t sequence)
{
    return onStrand([self = shared_from_this(), sequence]() -> rt::awaitable<std::optional<std::uint64_t>> {
        auto it = self->pending_.find(sequence);
        if (it == self->pending_.end())
            co_return std::nullopt;
        co_return it->second.sendTimestampNs;
    });
}

rt::awaitable<std::uint16_t> ICMPProbe::lastSequence()
{
    return onStrand([self = shared_from_this()]() -> rt::awaitable<std::uint16_t> { co_return self->sequence_; });
}

rt::awaitable<void> ICMPProbe::setLastSequence(std::uint16_t sequence)
{
    return onStrand([self = shared_from_this(), sequence]() -> rt::awaitable<void> {
        self->sequence_ = sequence;
        co_return;
    });
}

} // namespace pv
