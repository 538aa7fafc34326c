#include "core/probes/NativeProbeService.h"

#include "core/records/Localization.h"
#include "core/records/Logging.h"
#include "core/records/RecordId.h"

#include <asio/experimental/awaitable_operators.hpp>

#include <algorithm>

namespace pv {

namespace {

constexpr auto kDNSTimeout = std::chrono::seconds(3);
constexpr auto kHTTPTimeout = std::chrono::seconds(5);

NetworkSample newSample(const ProbeTarget& target, const RouteSnapshot& route, const QUuid& batchID,
                        Timestamp timestamp)
{
    NetworkSample s;
    s.id = newRecordId();
    s.batchID = batchID;
    s.timestamp = timestamp;
    s.target = target;
    s.route = route;
    return s;
}

void markFailed(NetworkSample& s, QString text)
{
    s.success = false;
    s.timeoutCount = 1;
    s.packetLoss = 1.0;
    s.errorDescription = std::move(text);
}

// The text of a series without replies: the first unreachable or send failure speaks for it; an
// abandoned echo met first means the measurement was stopped; otherwise nothing came back in time.
QString silentSeriesText(const EchoSeries& series)
{
    for (const EchoOutcome& o : series.outcomes) {
        switch (o.kind) {
        case EchoOutcome::Kind::timeout:
        case EchoOutcome::Kind::reply:
            continue;
        case EchoOutcome::Kind::unreachable:
        case EchoOutcome::Kind::sendFailed:
            return o.text;
        case EchoOutcome::Kind::abandoned:
            return L("A mérés leállt, mielőtt a válasz megérkezett volna.");
        }
    }
    return L("A várakozási időn belül nem érkezett válasz.");
}

} // namespace

NativeProbeService::NativeProbeService(asio::any_io_executor io, MeasurementProfile profile)
    : NativeProbeService(io, std::move(profile), Options{})
{
}

NativeProbeService::NativeProbeService(asio::any_io_executor io, MeasurementProfile profile, Options options)
    : rt::Actor(io),
      profile_(std::move(profile)),
      options_(std::move(options)),
      icmp_(ICMPProbe::create(io, ICMPProbe::Family::v4, std::nullopt)),
      dns_(io, profile_.dnsProbeZone, options_.dnsServers),
      http_(kHTTPTimeout)
{
}

// ---------------------------------------------------------------------------------------------
rt::awaitable<void> NativeProbeService::start(std::optional<QString> boundInterfaceName)
{
    return onStrand(startOnStrand(std::move(boundInterfaceName)));
}

rt::awaitable<void> NativeProbeService::stop() { return onStrand(stopOnStrand()); }

rt::awaitable<void> NativeProbeService::rebind(std::optional<QString> boundInterfaceName)
{
    return onStrand(rebindOnStrand(std::move(boundInterfaceName)));
}

rt::awaitable<bool> NativeProbeService::isStarted()
{
    return onStrand([this]() -> rt::awaitable<bool> { co_return started_; });
}

rt::awaitable<ProbeBatch> NativeProbeService::collectBatch(RouteSnapshot route)
{
    return onStrand(collectBatchOnStrand(std::move(route)));
}

rt::awaitable<void> NativeProbeService::startOnStrand(std::optional<QString> boundInterfaceName)
{
    if (started_)
        co_return;
    std::optional<QString> failure;
    try {
        co_await icmp_->start(std::move(boundInterfaceName));
    } catch (const ICMPError& e) {
        failure = e.description();
    } catch (const std::exception& e) {
        failure = QString::fromUtf8(e.what());
    }
    if (failure) {
        qCCritical(pv::log::probe(), "ICMP probe could not start: %s", qUtf8Printable(*failure));
        co_return;
    }
    started_ = true;
}

rt::awaitable<void> NativeProbeService::stopOnStrand()
{
    ++stops_;
    co_await icmp_->stop();
    started_ = false;
    cutBatchesInFlight();
}

rt::awaitable<void> NativeProbeService::rebindOnStrand(std::optional<QString> boundInterfaceName)
{
    ++stops_;
    co_await icmp_->stop();
    started_ = false;
    cutBatchesInFlight();
    co_await startOnStrand(std::move(boundInterfaceName));
}

void NativeProbeService::cutBatchesInFlight()
{
    // The socket is closed first, so that no echo freed from its wait goes out on it.
    for (const auto& signal : inFlight_)
        signal->emit(asio::cancellation_type::terminal);
}

rt::awaitable<ProbeBatch> NativeProbeService::collectBatchOnStrand(RouteSnapshot route)
{
    const QUuid batchID = newRecordId();
    const std::int64_t number = ++batchCounter_;
    const bool dnsDue = isDNSBatch(number, profile_.dnsEveryNthBatch);
    const auto targets = echoTargets(profile_, route);
    const std::uint64_t stopsBefore = stops_;
    qCDebug(pv::log::probe(), "Probe batch %lld started", static_cast<long long>(number));

    ProbeBatch batch;
    batch.id = batchID;
    batch.route = route;
    // The four children run at once; a stop() or rebind() may run while they are suspended, and
    // its signal ends their waits between echoes (never a wait for a reply: the stop ends those).
    auto cut = std::make_shared<asio::cancellation_signal>();
    inFlight_.push_back(cut);
    bool endedEarly = false;
    try {
        auto [gateway, public1, public2, web] = co_await asio::co_spawn(
            strand(), measureChildren(targets, route, batchID), asio::bind_cancellation_slot(cut->slot(), rt::use_awaitable));
        batch.samples = {std::move(gateway), std::move(public1), std::move(public2), std::move(web)};
    } catch (const std::exception& e) {
        // Only a cut can end the children early; what they measured is no evidence then anyway.
        qCWarning(pv::log::probe(), "A probe batch ended early: %s", e.what());
        endedEarly = true;
    }
    std::erase(inFlight_, cut);
    // One DNS query at a time, alone after the others; none once measuring has been stopped.
    if (dnsDue && stops_ == stopsBefore && !endedEarly)
        batch.samples.push_back(co_await measureDNS(route, batchID));
    batch.cutShort = endedEarly || stops_ != stopsBefore;
    qCDebug(pv::log::probe(), "Probe batch %lld finished%s", static_cast<long long>(number),
            batch.cutShort ? " (cut short)" : "");
    const auto earliest = std::min_element(batch.samples.begin(), batch.samples.end(),
                                           [](const auto& a, const auto& b) { return a.timestamp < b.timestamp; });
    batch.timestamp = earliest != batch.samples.end() ? earliest->timestamp : nowTimestamp();
    co_return batch;
}

rt::awaitable<NativeProbeService::Children> NativeProbeService::measureChildren(std::array<ProbeTarget, 3> targets,
                                                                                RouteSnapshot route, QUuid batchID)
{
    using namespace asio::experimental::awaitable_operators;
    // A cut only shortens the children's waits: it must not turn an await into an exception.
    co_await asio::this_coro::throw_if_cancelled(false);
    co_return co_await (measureEchoes(targets[0], 0, route, batchID) && measureEchoes(targets[1], 1, route, batchID) &&
                        measureEchoes(targets[2], 2, route, batchID) && measureHTTP(route, batchID));
}

rt::awaitable<NetworkSample> NativeProbeService::measureEchoes(ProbeTarget target, std::uint16_t slot,
                                                               RouteSnapshot route, QUuid batchID)
{
    co_await asio::this_coro::throw_if_cancelled(false);
    const int count = profile_.echoesPerBatch;
    const EchoSeries series =
        co_await icmp_->measure(target.host, count, profile_.echoTimeout, profile_.echoSpacing, slot);
    co_return echoSample(series, count, target, route, batchID, nowTimestamp());
}

rt::awaitable<NetworkSample> NativeProbeService::measureHTTP(RouteSnapshot route, QUuid batchID)
{
    co_await asio::this_coro::throw_if_cancelled(false);
    const HTTPProbeOutcome outcome = co_await http_.measure(options_.captivePageURL, options_.captivePageResponse);
    co_return httpSample(outcome, options_.captivePageURL, route, batchID, nowTimestamp());
}

rt::awaitable<NetworkSample> NativeProbeService::measureDNS(RouteSnapshot route, QUuid batchID)
{
    const DNSProbeResult result = co_await dns_.resolve(std::nullopt, kDNSTimeout);
    co_return dnsSample(result, route, batchID, nowTimestamp());
}

// ---------------------------------------------------------------------------------------------
bool NativeProbeService::isDNSBatch(std::int64_t batchNumber, int everyNth)
{
    if (everyNth == 0)
        return false;
    return batchNumber % everyNth == 1; // C++ takes the remainder's sign from the dividend, as intended
}

std::array<ProbeTarget, 3> NativeProbeService::echoTargets(const MeasurementProfile& profile,
                                                           const RouteSnapshot& route)
{
    const QStringList& hosts = profile.publicProbeHosts;
    const QString first = !hosts.isEmpty() ? hosts.at(0) : QStringLiteral("1.1.1.1");
    const QString second = hosts.size() >= 2 ? hosts.at(1) : QStringLiteral("8.8.8.8");
    return {ProbeTarget(ProbeKind::gateway, QStringLiteral("Router"), route.gatewayAddress),
            ProbeTarget(ProbeKind::publicIP, QStringLiteral("Cloudflare"), first),
            ProbeTarget(ProbeKind::publicIP, QStringLiteral("Google DNS"), second)};
}

NetworkSample NativeProbeService::echoSample(const EchoSeries& series, int echoesPerBatch, const ProbeTarget& target,
                                             const RouteSnapshot& route, const QUuid& batchID, Timestamp timestamp)
{
    NetworkSample s = newSample(target, route, batchID, timestamp);
    const int replies = static_cast<int>(series.rtts().size());
    s.success = replies > 0;
    s.latencyMilliseconds = replies > 0 ? series.medianRtt() : std::nullopt;
    s.timeoutCount = echoesPerBatch - replies;
    s.packetLoss = series.lossRatio();
    if (replies == 0)
        s.errorDescription = silentSeriesText(series);
    return s;
}

NetworkSample NativeProbeService::httpSample(const HTTPProbeOutcome& outcome, const QString& url,
                                             const RouteSnapshot& route, const QUuid& batchID, Timestamp timestamp)
{
    NetworkSample s =
        newSample(ProbeTarget(ProbeKind::http, QStringLiteral("HTTP probe"), url), route, batchID, timestamp);
    switch (outcome.kind) {
    case HTTPProbeOutcome::Kind::success:
        s.latencyMilliseconds = outcome.total;
        s.success = true;
        s.timeoutCount = 0;
        s.packetLoss = 0.0;
        break;
    case HTTPProbeOutcome::Kind::captivePortal:
        markFailed(s, QStringLiteral("A login page intercepted the request (status ") +
                          QString::number(outcome.statusCode) + QStringLiteral(")."));
        break;
    case HTTPProbeOutcome::Kind::unexpectedStatus:
        markFailed(s, QStringLiteral("Unexpected status ") + QString::number(outcome.statusCode) + QStringLiteral("."));
        break;
    case HTTPProbeOutcome::Kind::failed:
        markFailed(s, outcome.message);
        break;
    case HTTPProbeOutcome::Kind::timeout:
        markFailed(s, QStringLiteral("The request timed out."));
        break;
    }
    return s;
}

NetworkSample NativeProbeService::dnsSample(const DNSProbeResult& result, const RouteSnapshot& route,
                                            const QUuid& batchID, Timestamp timestamp)
{
    NetworkSample s = newSample(ProbeTarget(ProbeKind::dns, QStringLiteral("DNS resolve"), result.queriedName), route,
                                batchID, timestamp);
    s.latencyMilliseconds = result.latencyMilliseconds;
    switch (result.outcome) {
    case DNSProbeResult::Outcome::responded:
        // A refusal resolves nothing: a resolver that can reach no upstream server (a router's
        // forwarder with its line gone) refuses at once. Its latency is kept; the sample fails.
        if (result.kind == DNSResponseKind::refused) {
            markFailed(s, QStringLiteral("The resolver refused the query."));
            break;
        }
        s.success = true; // a negative answer is an answer too
        s.timeoutCount = 0;
        s.packetLoss = 0.0;
        break;
    case DNSProbeResult::Outcome::timeout:
        markFailed(s, QStringLiteral("The resolver did not answer."));
        break;
    case DNSProbeResult::Outcome::unavailable:
        markFailed(s, result.unavailableMessage);
        break;
    }
    return s;
}

} // namespace pv
