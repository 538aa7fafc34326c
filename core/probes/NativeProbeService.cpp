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
      icmp6_(ICMPProbe::create(io, ICMPProbe::Family::v6, std::nullopt)),
      dns_(io, profile_.dnsProbeZone, options_.dnsServers),
      http_(kHTTPTimeout),
      http6_(kHTTPTimeout, "pv-http6")
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
    boundInterfaceName_ = boundInterfaceName;
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
    co_await ensureIPv6Socket();
}

rt::awaitable<void> NativeProbeService::ensureIPv6Socket()
{
    if (started6_ || !started_)
        co_return;
    // A system without IPv6 refuses the socket: then no batch has an IPv6 path to measure anyway.
    try {
        co_await icmp6_->start(boundInterfaceName_);
        started6_ = true;
    } catch (const ICMPError& e) {
        qCInfo(pv::log::probe(), "ICMPv6 probe could not start: %s", qUtf8Printable(e.description()));
    }
}

rt::awaitable<void> NativeProbeService::stopOnStrand()
{
    ++stops_;
    co_await icmp_->stop();
    co_await icmp6_->stop();
    started_ = started6_ = false;
    forgetBesideRtts();
    cutBatchesInFlight();
}

rt::awaitable<void> NativeProbeService::rebindOnStrand(std::optional<QString> boundInterfaceName)
{
    ++stops_;
    co_await icmp_->stop();
    co_await icmp6_->stop();
    started_ = started6_ = false;
    forgetBesideRtts();
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
    const std::vector<AddressFamily> families = measuredFamilies(route, measuresIPv6_.load());
    const bool v4 = std::find(families.begin(), families.end(), AddressFamily::ipv4) != families.end();
    const bool v6 = std::find(families.begin(), families.end(), AddressFamily::ipv6) != families.end();
    if (v6)
        co_await ensureIPv6Socket();
    const std::uint64_t stopsBefore = stops_;
    qCDebug(pv::log::probe(), "Probe batch %lld started", static_cast<long long>(number));

    ProbeBatch batch;
    batch.id = batchID;
    batch.route = route;
    // The children of both families run at once; a stop() or rebind() may run while they are
    // suspended, and its signal ends their waits between echoes (never a wait for a reply: the stop
    // ends those).
    auto cut = std::make_shared<asio::cancellation_signal>();
    inFlight_.push_back(cut);
    bool endedEarly = false;
    try {
        Children children = co_await asio::co_spawn(strand(), measureChildren(route, families, batchID),
                                                    asio::bind_cancellation_slot(cut->slot(), rt::use_awaitable));
        std::apply(
            [&batch](auto&... child) {
                (
                    [&] {
                        if (child)
                            batch.samples.push_back(std::move(*child));
                    }(),
                    ...);
            },
            children);
    } catch (const std::exception& e) {
        // Only a cut can end the children early; what they measured is no evidence then anyway.
        qCWarning(pv::log::probe(), "A probe batch ended early: %s", e.what());
        endedEarly = true;
    }
    std::erase(inFlight_, cut);
    // The DNS step alone after the others (its A and AAAA queries at once); none once measuring has
    // been stopped.
    if (dnsDue && stops_ == stopsBefore && !endedEarly) {
        using namespace asio::experimental::awaitable_operators;
        auto [a, aaaa] = co_await (measureDNS(v4, AddressFamily::ipv4, route, batchID) &&
                                   measureDNS(v6, AddressFamily::ipv6, route, batchID));
        for (Child* child : {&a, &aaaa})
            if (*child)
                batch.samples.push_back(std::move(**child));
    }
    batch.cutShort = endedEarly || stops_ != stopsBefore;
    qCDebug(pv::log::probe(), "Probe batch %lld finished%s", static_cast<long long>(number),
            batch.cutShort ? " (cut short)" : "");
    const auto earliest = std::min_element(batch.samples.begin(), batch.samples.end(),
                                           [](const auto& a, const auto& b) { return a.timestamp < b.timestamp; });
    batch.timestamp = earliest != batch.samples.end() ? earliest->timestamp : nowTimestamp();
    co_return batch;
}

// A family of a dual-stack batch measured against a deadline set by the other family's probes:
// IPv6 always, IPv4 while it is quiet. On the service's strand.
struct NativeProbeService::BesideDeadline {
    using Clock = asio::steady_timer::clock_type;
    BesideDeadline(const asio::any_io_executor& ex, AddressFamily family)
        : timer(ex, Clock::time_point::max()), wake(ex, Clock::time_point::max()), family(family)
    {
    }
    asio::steady_timer timer; // expires the grace after the other family's probes are done
    asio::steady_timer wake;  // the page check's waiter: its answer came, or the deadline
    AddressFamily family;
    bool pageDue = true;
    bool passed = false;
    bool besideDone = false;
    bool publicAnswered = false; // a public host's echo came back in time
    std::chrono::nanoseconds grace = besideFamilyGrace;
    std::optional<double> highestRtt; // of the echoes answered in time
    std::optional<HTTPProbeOutcome> page;
};

std::chrono::nanoseconds NativeProbeService::besideGraceFor(const std::deque<double>& recentRtts,
                                                            std::chrono::nanoseconds echoTimeout)
{
    std::chrono::nanoseconds grace = besideFamilyGrace;
    if (!recentRtts.empty()) {
        const double highest = *std::max_element(recentRtts.begin(), recentRtts.end());
        grace = std::max(grace, std::chrono::nanoseconds{std::llround(highest * 1.5 * 1e6)});
    }
    // Beyond the time-out every echo has ended on its own.
    return std::min(grace, std::max<std::chrono::nanoseconds>(echoTimeout, besideFamilyGrace));
}

const std::shared_ptr<ICMPProbe>& NativeProbeService::probeFor(AddressFamily family) const
{
    return family == AddressFamily::ipv6 ? icmp6_ : icmp_;
}

void NativeProbeService::forgetBesideRtts()
{
    quietIPv4_ = false;
    besideRtts_.clear();
    lastBesideRtt_.reset();
    besideBatchDone_ = false;
}

rt::awaitable<std::chrono::nanoseconds> NativeProbeService::nextBesideGrace()
{
    // The previous batch's late replies have come by now (the pause between batches outlasts the
    // echo time-out); one still to come counts towards the batch after.
    const std::optional<double> late = co_await icmp6_->takeLateReplyRtt();
    if (besideBatchDone_) {
        const std::optional<double> seen = late && lastBesideRtt_ ? std::max(*late, *lastBesideRtt_)
                                                                 : (late ? late : lastBesideRtt_);
        if (seen) {
            besideRtts_.push_back(*seen);
            while (besideRtts_.size() > besideRttBatches)
                besideRtts_.pop_front();
        } else {
            besideRtts_.clear(); // nothing answered: a silent path gets the short grace again
        }
    }
    besideBatchDone_ = false;
    lastBesideRtt_.reset();
    co_return besideGraceFor(besideRtts_, profile_.echoTimeout);
}

rt::awaitable<NativeProbeService::Children> NativeProbeService::measureChildren(RouteSnapshot route,
                                                                                std::vector<AddressFamily> families,
                                                                                QUuid batchID)
{
    using namespace asio::experimental::awaitable_operators;
    // A cut only shortens the children's waits: it must not turn an await into an exception.
    co_await asio::this_coro::throw_if_cancelled(false);
    const bool v4 = std::find(families.begin(), families.end(), AddressFamily::ipv4) != families.end();
    const bool v6 = std::find(families.begin(), families.end(), AddressFamily::ipv6) != families.end();
    if (v4 && v6) {
        auto deadline = std::make_shared<BesideDeadline>(strand(), AddressFamily::ipv6);
        deadline->pageDue = batchCounter_ % besidePageEveryNthBatch == 1;
        deadline->grace = co_await nextBesideGrace();
        asio::co_spawn(strand(), expireAtDeadline(deadline), asio::detached);
        // A late IPv4 reply means IPv4 answers, only slowly: it is waited for in full again.
        if (co_await icmp_->takeLateReplyRtt())
            quietIPv4_ = false;
        std::shared_ptr<BesideDeadline> deadline4;
        if (quietIPv4_) {
            deadline4 = std::make_shared<BesideDeadline>(strand(), AddressFamily::ipv4);
            asio::co_spawn(strand(), expireAtDeadline(deadline4), asio::detached);
        }
        auto [analysed, beside] = co_await (measureAnalysedFamily(deadline, deadline4, route, batchID) &&
                                            measureBesideFamily(deadline, deadline4, route, batchID));
        const auto answered = [](const FamilyChildren& c) {
            return (c[1] && c[1]->success) || (c[2] && c[2]->success);
        };
        quietIPv4_ = !answered(analysed) && answered(beside);
        co_return Children{std::move(analysed[0]), std::move(analysed[1]), std::move(analysed[2]),
                           std::move(analysed[3]), std::move(beside[0]),   std::move(beside[1]),
                           std::move(beside[2]),   std::move(beside[3])};
    }
    const auto targets = echoTargets(profile_, route);
    const auto targets6 = echoTargetsV6(profile_, route);
    constexpr AddressFamily ipv4 = AddressFamily::ipv4, ipv6 = AddressFamily::ipv6;
    co_return co_await (measureEchoes(v4, ipv4, targets[0], 0, route, batchID) &&
                        measureEchoes(v4, ipv4, targets[1], 1, route, batchID) &&
                        measureEchoes(v4, ipv4, targets[2], 2, route, batchID) && measureHTTP(v4, ipv4, route, batchID) &&
                        measureEchoes(v6, ipv6, targets6[0], 0, route, batchID) &&
                        measureEchoes(v6, ipv6, targets6[1], 1, route, batchID) &&
                        measureEchoes(v6, ipv6, targets6[2], 2, route, batchID) && measureHTTP(v6, ipv6, route, batchID));
}

rt::awaitable<NativeProbeService::FamilyChildren>
NativeProbeService::measureAnalysedFamily(std::shared_ptr<BesideDeadline> deadline,
                                          std::shared_ptr<BesideDeadline> deadline4, RouteSnapshot route,
                                          QUuid batchID)
{
    using namespace asio::experimental::awaitable_operators;
    co_await asio::this_coro::throw_if_cancelled(false);
    if (deadline4)
        co_return co_await measureUnderDeadline(deadline4, deadline, route, batchID);
    const auto targets = echoTargets(profile_, route);
    constexpr AddressFamily ipv4 = AddressFamily::ipv4;
    auto [gateway, first, second, page] = co_await (measureEchoes(true, ipv4, targets[0], 0, route, batchID) &&
                                                    measureEchoes(true, ipv4, targets[1], 1, route, batchID) &&
                                                    measureEchoes(true, ipv4, targets[2], 2, route, batchID) &&
                                                    measureHTTP(true, ipv4, route, batchID));
    armDeadline(*deadline);
    co_return FamilyChildren{std::move(gateway), std::move(first), std::move(second), std::move(page)};
}

void NativeProbeService::armDeadline(BesideDeadline& other)
{
    // An echo expired at the deadline counts as lost in this batch even when its reply comes later:
    // the batch is stored before that, and a late reply only widens the next batches' grace.
    if (!other.besideDone)
        other.timer.expires_after(other.grace); // wakes the watcher, which waits for the new time
}

rt::awaitable<void> NativeProbeService::expireAtDeadline(std::shared_ptr<BesideDeadline> deadline)
{
    for (;;) {
        std::error_code ignored;
        co_await deadline->timer.async_wait(asio::redirect_error(rt::use_awaitable, ignored));
        if (deadline->besideDone)
            co_return;
        if (deadline->timer.expiry() != BesideDeadline::Clock::time_point::max() &&
            BesideDeadline::Clock::now() >= deadline->timer.expiry())
            break;
    }
    deadline->passed = true;
    deadline->wake.cancel();
    co_await probeFor(deadline->family)->expireWaiting();
}

rt::awaitable<NativeProbeService::FamilyChildren>
NativeProbeService::measureBesideFamily(std::shared_ptr<BesideDeadline> deadline,
                                        std::shared_ptr<BesideDeadline> deadline4, RouteSnapshot route, QUuid batchID)
{
    FamilyChildren children = co_await measureUnderDeadline(deadline, deadline4, route, batchID);
    lastBesideRtt_ = deadline->highestRtt;
    besideBatchDone_ = true;
    co_return children;
}

rt::awaitable<NativeProbeService::FamilyChildren>
NativeProbeService::measureUnderDeadline(std::shared_ptr<BesideDeadline> deadline,
                                         std::shared_ptr<BesideDeadline> other, RouteSnapshot route, QUuid batchID)
{
    using namespace asio::experimental::awaitable_operators;
    co_await asio::this_coro::throw_if_cancelled(false);
    const auto targets =
        deadline->family == AddressFamily::ipv6 ? echoTargetsV6(profile_, route) : echoTargets(profile_, route);
    auto [gateway, first, second, page] = co_await (besideEchoes(deadline, targets[0], 0, route, batchID) &&
                                                    besideEchoes(deadline, targets[1], 1, route, batchID) &&
                                                    besideEchoes(deadline, targets[2], 2, route, batchID) &&
                                                    besideHTTP(deadline, route, batchID));
    deadline->besideDone = true;
    deadline->timer.cancel(); // the watcher ends
    if (other)
        armDeadline(*other);
    co_return FamilyChildren{std::move(gateway), std::move(first), std::move(second), std::move(page)};
}

rt::awaitable<EchoOutcome> NativeProbeService::besideEcho(std::shared_ptr<BesideDeadline> deadline, QString host,
                                                          std::chrono::nanoseconds delay, std::uint16_t slot)
{
    // A stop's cut ends the delay early; the echo still goes out, as in a series.
    if (delay.count() > 0)
        co_await rt::sleepFor(co_await asio::this_coro::executor, delay);
    if (deadline->passed)
        co_return EchoOutcome::abandoned(); // never sent: it measured nothing
    const EchoSeries one = co_await probeFor(deadline->family)->measure(std::move(host), 1, profile_.echoTimeout, {}, slot);
    if (one.outcomes.empty())
        co_return EchoOutcome::abandoned();
    if (const std::optional<double> rtt = one.outcomes.front().rttMilliseconds()) {
        deadline->highestRtt = std::max(deadline->highestRtt.value_or(*rtt), *rtt);
        if (slot != 0) // slot 0 is the router
            deadline->publicAnswered = true;
    }
    co_return one.outcomes.front();
}

rt::awaitable<NativeProbeService::Child> NativeProbeService::besideEchoes(std::shared_ptr<BesideDeadline> deadline,
                                                                          ProbeTarget target, std::uint16_t slot,
                                                                          RouteSnapshot route, QUuid batchID)
{
    co_await asio::this_coro::throw_if_cancelled(false);
    const int count = profile_.echoesPerBatch;
    // On the spacing's clock, each echo awaited apart, so that a silent path's waits overlap.
    struct Echoes {
        explicit Echoes(const asio::any_io_executor& ex, int count)
            : outcomes(static_cast<std::size_t>(count)), left(count), done(ex, asio::steady_timer::time_point::max())
        {
        }
        std::vector<EchoOutcome> outcomes;
        int left;
        asio::steady_timer done;
    };
    auto echoes = std::make_shared<Echoes>(strand(), count);
    for (int i = 0; i < count; ++i)
        asio::co_spawn(strand(), besideEcho(deadline, target.host, profile_.echoSpacing * i, slot),
                       [echoes, i](std::exception_ptr, EchoOutcome outcome) {
                           echoes->outcomes[static_cast<std::size_t>(i)] = std::move(outcome);
                           if (--echoes->left == 0)
                               echoes->done.cancel();
                       });
    while (echoes->left > 0) {
        std::error_code ignored;
        co_await echoes->done.async_wait(asio::redirect_error(rt::use_awaitable, ignored));
    }
    EchoSeries series;
    series.host = target.host;
    series.outcomes = std::move(echoes->outcomes);
    NetworkSample s = echoSample(series, count, target, route.forFamily(deadline->family), batchID, nowTimestamp());
    s.family = deadline->family;
    co_return s;
}

rt::awaitable<NativeProbeService::Child> NativeProbeService::besideHTTP(std::shared_ptr<BesideDeadline> deadline,
                                                                        RouteSnapshot route, QUuid batchID)
{
    const AddressFamily family = deadline->family;
    const std::optional<AddressFamily> literal = HTTPProbe::literalFamily(options_.captivePageURL);
    if (!deadline->pageDue || (literal && *literal != family))
        co_return std::nullopt;
    // The request runs on the probe's worker until its own time-out; past the deadline the batch no
    // longer waits for it, and its outcome is dropped. A quiet IPv4 whose public hosts answered in
    // this batch is back: its page is waited for in full.
    HTTPProbe& http = family == AddressFamily::ipv6 ? http6_ : http_;
    // A quiet IPv4's dropped request may still run out its time-out on the worker: no second one is
    // queued behind it (the batch has no page sample then), so that a long outage piles none up.
    const std::shared_ptr<bool> busy = family == AddressFamily::ipv4 ? pageBusy4_ : std::make_shared<bool>(false);
    if (*busy)
        co_return std::nullopt;
    *busy = true;
    asio::co_spawn(
        strand(),
        [deadline, busy, request = http.measure(options_.captivePageURL, options_.captivePageResponse,
                                                family)]() mutable -> rt::awaitable<void> {
            deadline->page = co_await std::move(request);
            *busy = false;
            deadline->wake.cancel();
        },
        asio::detached);
    const auto waitsOn = [&deadline] {
        return !deadline->passed || (deadline->family == AddressFamily::ipv4 && deadline->publicAnswered);
    };
    while (!deadline->page && waitsOn()) {
        std::error_code ignored;
        co_await deadline->wake.async_wait(asio::redirect_error(rt::use_awaitable, ignored));
    }
    const HTTPProbeOutcome outcome = deadline->page.value_or(HTTPProbeOutcome::timedOut());
    NetworkSample s = httpSample(outcome, options_.captivePageURL, route.forFamily(family), batchID, nowTimestamp());
    s.family = family;
    co_return s;
}

rt::awaitable<NativeProbeService::Child> NativeProbeService::measureEchoes(bool wanted, AddressFamily family,
                                                                           ProbeTarget target, std::uint16_t slot,
                                                                           RouteSnapshot route, QUuid batchID)
{
    if (!wanted)
        co_return std::nullopt;
    co_await asio::this_coro::throw_if_cancelled(false);
    const int count = profile_.echoesPerBatch;
    const auto& probe = family == AddressFamily::ipv6 ? icmp6_ : icmp_;
    const EchoSeries series = co_await probe->measure(target.host, count, profile_.echoTimeout, profile_.echoSpacing, slot);
    NetworkSample s = echoSample(series, count, target, route.forFamily(family), batchID, nowTimestamp());
    s.family = family;
    co_return s;
}

rt::awaitable<NativeProbeService::Child> NativeProbeService::measureHTTP(bool wanted, AddressFamily family,
                                                                         RouteSnapshot route, QUuid batchID)
{
    // A page named by an address of the other family has nothing to fetch over this one.
    const std::optional<AddressFamily> literal = HTTPProbe::literalFamily(options_.captivePageURL);
    if (!wanted || (literal && *literal != family))
        co_return std::nullopt;
    co_await asio::this_coro::throw_if_cancelled(false);
    HTTPProbe& http = family == AddressFamily::ipv6 ? http6_ : http_;
    const HTTPProbeOutcome outcome = co_await http.measure(options_.captivePageURL, options_.captivePageResponse, family);
    NetworkSample s = httpSample(outcome, options_.captivePageURL, route.forFamily(family), batchID, nowTimestamp());
    s.family = family;
    co_return s;
}

rt::awaitable<NativeProbeService::Child> NativeProbeService::measureDNS(bool wanted, AddressFamily family,
                                                                        RouteSnapshot route, QUuid batchID)
{
    if (!wanted)
        co_return std::nullopt;
    const DNSProbeResult result = co_await dns_.resolve(std::nullopt, kDNSTimeout, family);
    NetworkSample s = dnsSample(result, route.forFamily(family), batchID, nowTimestamp());
    s.family = family;
    co_return s;
}

// ---------------------------------------------------------------------------------------------
std::vector<AddressFamily> NativeProbeService::measuredFamilies(const RouteSnapshot& route, bool measuresIPv6)
{
    std::vector<AddressFamily> families;
    if (route.hasIPv4)
        families.push_back(AddressFamily::ipv4);
    // On a network without IPv4 the IPv6 path is all there is to measure: the switch does not
    // leave it unmeasured.
    if (route.hasIPv6() && (measuresIPv6 || !route.hasIPv4))
        families.push_back(AddressFamily::ipv6);
    return families;
}

std::array<ProbeTarget, 3> NativeProbeService::echoTargetsV6(const MeasurementProfile& profile,
                                                             const RouteSnapshot& route)
{
    const QStringList& hosts = profile.publicProbeHostsV6;
    const QString first = !hosts.isEmpty() ? hosts.at(0) : QStringLiteral("2606:4700:4700::1111");
    const QString second = hosts.size() >= 2 ? hosts.at(1) : QStringLiteral("2001:4860:4860::8888");
    QString router = route.ipv6GatewayAddress.value_or(QString());
    // A link-local router is only reached through the interface it was learnt on.
    if (router.startsWith(QLatin1String("fe80"), Qt::CaseInsensitive) && !router.contains(QLatin1Char('%')) &&
        !route.interfaceName.isEmpty())
        router += QLatin1Char('%') + route.interfaceName;
    return {ProbeTarget(ProbeKind::gateway, QStringLiteral("Router"), router),
            ProbeTarget(ProbeKind::publicIP, QStringLiteral("Cloudflare"), first),
            ProbeTarget(ProbeKind::publicIP, QStringLiteral("Google DNS"), second)};
}

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
        if (result.kind == DNSResponseKind::serverFailure) {
            markFailed(s, QStringLiteral("The resolver answered with a server failure (SERVFAIL)."));
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
