#pragma once
// The probe service: owns the ICMP, DNS and HTTP probes and produces one probe batch per call.
// The gateway, the two public hosts and the HTTP page are measured at once; the DNS query follows
// on every n-th batch. Probe failures never escape: each target yields exactly one sample.

#include "core/probes/DNSProbe.h"
#include "core/probes/HTTPProbe.h"
#include "core/probes/ICMPProbe.h"
#include "core/records/Profile.h"
#include "core/records/Records.h"
#include "core/records/Runtime.h"

#include <QStringList>
#include <QUuid>

#include <array>
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

    // One batch: four samples, five on a DNS batch. Never throws. A stop() or rebind() while it
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
    using Children = std::tuple<NetworkSample, NetworkSample, NetworkSample, NetworkSample>;
    rt::awaitable<Children> measureChildren(std::array<ProbeTarget, 3> targets, RouteSnapshot route, QUuid batchID);
    // Ends the waits of every batch in flight (after the ICMP probe has been stopped).
    void cutBatchesInFlight();
    rt::awaitable<NetworkSample> measureEchoes(ProbeTarget target, std::uint16_t slot, RouteSnapshot route,
                                               QUuid batchID);
    rt::awaitable<NetworkSample> measureHTTP(RouteSnapshot route, QUuid batchID);
    rt::awaitable<NetworkSample> measureDNS(RouteSnapshot route, QUuid batchID);

    const MeasurementProfile profile_;
    const Options options_;
    std::shared_ptr<ICMPProbe> icmp_;
    DNSProbe dns_;
    HTTPProbe http_;
    bool started_ = false;
    std::int64_t batchCounter_ = 0;
    std::uint64_t stops_ = 0; // stop() and rebind() calls so far
    // One signal per batch in flight: emitting it reaches the waits between its echoes.
    std::vector<std::shared_ptr<asio::cancellation_signal>> inFlight_;
};

} // namespace pv
