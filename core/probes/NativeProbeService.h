#pragma once
// The probe service: owns the ICMP, DNS and HTTP probes and produces one probe batch per call.
// The gateway, the two public hosts and the HTTP page are measured at once; the DNS query follows
// on every n-th batch. Probe failures never escape: each target yields exactly one sample.
//
// A route with an IPv6 path (RouteSnapshot::hasIPv6) has it measured in the same batch, at the same
// time and with the same echo count: the IPv6 router (link-local, zoned by the interface), the
// profile's two public IPv6 hosts and the check page over IPv6, and an AAAA query beside the A query
// on the DNS batches. Nothing is sent over IPv6 without that path, and nothing over IPv4 on a route
// without IPv4; a target is only probed over a family it has (a check page named by an IPv4
// address is never fetched over IPv6). Every sample says its family.
//
// Beside IPv4, IPv6 keeps to the batch's deadline: its echoes go out on the spacing's clock (not
// one after the other's outcome), and whatever of it has not answered `besideFamilyGrace` after
// IPv4's probes are done counts as lost then. A silent IPv6 path so never stretches the batch, and
// with it the cadence of the IPv4 measurements, by more than that grace. An IPv6 path that answers,
// only slowly, widens the grace of the next batches to cover the round-trip times it showed (late
// replies to echoes expired at the deadline included), up to the echo time-out; a batch in which
// nothing over IPv6 answers takes it back to `besideFamilyGrace`. Its page check (a whole
// HTTP transfer, the costliest of its probes) runs on every 4th batch only: the 1st, 5th, 9th…
//
// The mirror holds for IPv4 once it is quiet: after a dual-stack batch in which no public IPv4 host
// answered while a public IPv6 host did (and no late IPv4 reply came since), IPv4's echoes go out on
// the spacing's clock too, and what of IPv4 has not answered `besideFamilyGrace` after IPv6's probes
// are done counts as lost; its page check is dropped then as well, unless a public IPv4 host
// answered in the batch (IPv4 is back, and its page is waited for in full). A working IPv4, however
// slow, is never cut: only a family that was silent in the batch before is held to the deadline.

#include "core/probes/DNSProbe.h"
#include "core/probes/HTTPProbe.h"
#include "core/probes/ICMPProbe.h"
#include "core/records/Profile.h"
#include "core/records/Records.h"
#include "core/records/Runtime.h"

#include <QStringList>
#include <QUuid>

#include <array>
#include <atomic>
#include <deque>
#include <cstdint>
#include <memory>
#include <optional>
#include <tuple>
#include <vector>

namespace pv {

class NativeProbeService : public rt::Actor {
public:
    struct Options {
        // The captive-portal check page; the neutral default unless a caller (the system's
        // configuration, a test) names another.
        QString captivePageURL = HTTPProbe::defaultURL();
        // "address:port" name servers in place of the system's (loopback tests); empty: the system's.
        QStringList dnsServers;
        // The text the check page's body must hold (see HTTPProbe::measure).
        QByteArray captivePageResponse = HTTPProbe::defaultResponse();
    };

    NativeProbeService(asio::any_io_executor io, MeasurementProfile profile);
    NativeProbeService(asio::any_io_executor io, MeasurementProfile profile, Options options);

    const MeasurementProfile& profile() const { return profile_; }
    const QString& captivePageURL() const { return options_.captivePageURL; }

    // Opens the ICMP socket (pinned when a name is given) unless started; a failure is logged and
    // leaves the service unstarted, so that the next call tries again.
    rt::awaitable<void> start(std::optional<QString> boundInterfaceName);
    rt::awaitable<void> stop();
    rt::awaitable<void> rebind(std::optional<QString> boundInterfaceName);
    rt::awaitable<bool> isStarted();
    // Whether the IPv6 path is measured when the route has one (on by default). Takes effect from
    // the next batch; safe from any thread.
    void setMeasuresIPv6(bool measures) { measuresIPv6_.store(measures); }
    bool measuresIPv6() const { return measuresIPv6_.load(); }

    // One batch: four samples per family measured (IPv6 beside IPv4: three between its page checks),
    // one more per family on a DNS batch; the IPv4
    // samples first, in the order below, then the IPv6 ones in the same order. Never throws. A stop() or rebind() while it
    // runs cuts it short: the echo series stop waiting between echoes, the DNS step is skipped and
    // the batch comes back marked `cutShort`, since echoes that could not be sent or answered then
    // say nothing about the network.
    rt::awaitable<ProbeBatch> collectBatch(RouteSnapshot route);

    // --- The rules of a batch, pure so that they can be checked without a network ---
    // Whether batch number `batchNumber` (1 for the first) runs the DNS step: the remainder by
    // `everyNth` is 1 (batches 1, 5, 9… with 4). A period of 0 means never (there is nothing to
    // divide by), as does 1 (the remainder is always 0).
    static bool isDNSBatch(std::int64_t batchNumber, int everyNth);
    // The echo targets by slot: the gateway "Router", then "Cloudflare" and "Google DNS" on the first
    // two public hosts of the profile ("1.1.1.1" and "8.8.8.8" standing in for missing ones).
    static std::array<ProbeTarget, 3> echoTargets(const MeasurementProfile& profile, const RouteSnapshot& route);
    // The same three over IPv6: the route's IPv6 router ("fe80::1%eth0" for a link-local one) and
    // the profile's first two public IPv6 hosts (the default pair standing in for missing ones).
    static std::array<ProbeTarget, 3> echoTargetsV6(const MeasurementProfile& profile, const RouteSnapshot& route);
    // The families a batch over this route measures, IPv4 first.
    static std::vector<AddressFamily> measuredFamilies(const RouteSnapshot& route, bool measuresIPv6);
    // How long IPv6 may take beyond IPv4's probes of the same batch, at least.
    static constexpr std::chrono::milliseconds besideFamilyGrace{200};
    static constexpr std::size_t besideRttBatches = 3;
    // The grace for the highest IPv6 round-trip times (ms) of the last batches: half as long again
    // as the highest, never below besideFamilyGrace, never beyond the echo time-out.
    static std::chrono::nanoseconds besideGraceFor(const std::deque<double>& recentRtts,
                                                   std::chrono::nanoseconds echoTimeout);
    static constexpr int besidePageEveryNthBatch = 4;

    static NetworkSample echoSample(const EchoSeries& series, int echoesPerBatch, const ProbeTarget& target,
                                    const RouteSnapshot& route, const QUuid& batchID, Timestamp timestamp);
    static NetworkSample httpSample(const HTTPProbeOutcome& outcome, const QString& url, const RouteSnapshot& route,
                                    const QUuid& batchID, Timestamp timestamp);
    static NetworkSample dnsSample(const DNSProbeResult& result, const RouteSnapshot& route, const QUuid& batchID,
                                   Timestamp timestamp);

private:
    rt::awaitable<void> startOnStrand(std::optional<QString> boundInterfaceName);
    rt::awaitable<void> stopOnStrand();
    rt::awaitable<void> rebindOnStrand(std::optional<QString> boundInterfaceName);
    rt::awaitable<ProbeBatch> collectBatchOnStrand(RouteSnapshot route);
    using Child = std::optional<NetworkSample>; // none for a family not measured
    using Children = std::tuple<Child, Child, Child, Child, Child, Child, Child, Child>;
    using FamilyChildren = std::array<Child, 4>;
    struct BesideDeadline;
    rt::awaitable<Children> measureChildren(RouteSnapshot route, std::vector<AddressFamily> families, QUuid batchID);
    // The IPv4 probes of a dual-stack batch; once they are done, IPv6 has the grace left.
    // A quiet IPv4 (deadline4 set) is measured against its own deadline, set once IPv6 is done.
    rt::awaitable<FamilyChildren> measureAnalysedFamily(std::shared_ptr<BesideDeadline> deadline,
                                                        std::shared_ptr<BesideDeadline> deadline4, RouteSnapshot route,
                                                        QUuid batchID);
    rt::awaitable<FamilyChildren> measureBesideFamily(std::shared_ptr<BesideDeadline> deadline,
                                                      std::shared_ptr<BesideDeadline> deadline4, RouteSnapshot route,
                                                      QUuid batchID);
    // The family's four probes against its deadline; once they are done, the other family's
    // deadline (when it has one) starts its grace.
    rt::awaitable<FamilyChildren> measureUnderDeadline(std::shared_ptr<BesideDeadline> deadline,
                                                       std::shared_ptr<BesideDeadline> other, RouteSnapshot route,
                                                       QUuid batchID);
    static void armDeadline(BesideDeadline& other);
    const std::shared_ptr<ICMPProbe>& probeFor(AddressFamily family) const;
    rt::awaitable<void> expireAtDeadline(std::shared_ptr<BesideDeadline> deadline);
    rt::awaitable<EchoOutcome> besideEcho(std::shared_ptr<BesideDeadline> deadline, QString host,
                                          std::chrono::nanoseconds delay, std::uint16_t slot);
    rt::awaitable<Child> besideEchoes(std::shared_ptr<BesideDeadline> deadline, ProbeTarget target, std::uint16_t slot,
                                      RouteSnapshot route, QUuid batchID);
    rt::awaitable<Child> besideHTTP(std::shared_ptr<BesideDeadline> deadline, RouteSnapshot route, QUuid batchID);
    // The grace of a dual-stack batch about to start, from the round-trip times IPv6 showed lately.
    rt::awaitable<std::chrono::nanoseconds> nextBesideGrace();
    void forgetBesideRtts();
    // Ends the waits of every batch in flight (after the ICMP probe has been stopped).
    void cutBatchesInFlight();
    rt::awaitable<Child> measureEchoes(bool wanted, AddressFamily family, ProbeTarget target, std::uint16_t slot,
                                       RouteSnapshot route, QUuid batchID);
    rt::awaitable<Child> measureHTTP(bool wanted, AddressFamily family, RouteSnapshot route, QUuid batchID);
    rt::awaitable<Child> measureDNS(bool wanted, AddressFamily family, RouteSnapshot route, QUuid batchID);
    // Opens the IPv6 socket for a batch that needs it, when start() could not.
    rt::awaitable<void> ensureIPv6Socket();

    const MeasurementProfile profile_;
    const Options options_;
    std::shared_ptr<ICMPProbe> icmp_;
    std::shared_ptr<ICMPProbe> icmp6_;
    DNSProbe dns_;
    HTTPProbe http_;
    HTTPProbe http6_; // a worker of its own, so that both checks run at once
    std::atomic<bool> measuresIPv6_{true};
    bool started_ = false;
    bool started6_ = false;
    std::optional<QString> boundInterfaceName_;
    std::int64_t batchCounter_ = 0;
    std::uint64_t stops_ = 0; // stop() and rebind() calls so far
    // The highest IPv6 round-trip time of each of the last dual-stack batches that had a reply, and
    // that of the batch just done (its late replies still to come).
    std::deque<double> besideRtts_;
    std::optional<double> lastBesideRtt_;
    bool besideBatchDone_ = false;
    bool quietIPv4_ = false; // the last dual-stack batch: no public IPv4 answer, a public IPv6 one
    std::shared_ptr<bool> pageBusy4_ = std::make_shared<bool>(false); // a quiet IPv4's page request runs
    // One signal per batch in flight: emitting it reaches the waits between its echoes.
    std::vector<std::shared_ptr<asio::cancellation_signal>> inFlight_;
};

} // namespace pv
