#include "core/app/IncidentEvidence.h"

#include "core/probes/ICMPProbe.h"

#include <algorithm>

namespace pv::incident_evidence {

bool wasNotMeasured(const NetworkSample& sample)
{
    return !sample.success && sample.errorDescription == ICMPProbe::socketNotOpenText();
}

FaultLocation location(IncidentClassification classification)
{
    switch (classification) {
    case IncidentClassification::wifiLinkDegraded:
    case IncidentClassification::reassociationOrRoam: return FaultLocation::wifi;
    case IncidentClassification::gatewayCongestion: return FaultLocation::router;
    case IncidentClassification::internetUpstreamIssue: return FaultLocation::provider;
    case IncidentClassification::dnsOnlyIssue: return FaultLocation::dns;
    case IncidentClassification::offline: return FaultLocation::offline;
    case IncidentClassification::unknown: return FaultLocation::localUnseparated;
    case IncidentClassification::ipv6RouterIssue: return FaultLocation::router;
    case IncidentClassification::ipv6ProviderIssue:
    case IncidentClassification::ipv6SlowOrLossy:
    case IncidentClassification::ipv6NameOrPageIssue:
    case IncidentClassification::ipv4ProviderIssue: return FaultLocation::provider;
    }
    return FaultLocation::localUnseparated;
}

namespace {

// The leg of one kind failed, lost echoes or lay over its limit.
bool legShows(const NetworkSample& s, ProbeKind kind, double limitMs)
{
    if (s.target.kind != kind || wasNotMeasured(s))
        return false;
    if (!s.success || s.timeoutCount > 0 || s.packetLoss.value_or(0) > 0)
        return true;
    return s.latencyMilliseconds && *s.latencyMilliseconds > limitMs;
}

} // namespace

bool sampleShows(const NetworkSample& s, FaultLocation where, const AttributionThresholds& t)
{
    const bool gateway = legShows(s, ProbeKind::gateway, t.gatewayLatencyCeilingMs);
    const bool upstream = legShows(s, ProbeKind::publicIP, t.upstreamComfortableMs);
    switch (where) {
    case FaultLocation::wifi:
    case FaultLocation::router:
    case FaultLocation::localUnseparated: return gateway;
    case FaultLocation::provider: return upstream;
    case FaultLocation::dns: return legShows(s, ProbeKind::dns, t.dnsSlowMs);
    case FaultLocation::offline: return gateway || upstream;
    case FaultLocation::none:
    case FaultLocation::insufficientEvidence: return false;
    }
    return false;
}

bool sampleMeasures(const NetworkSample& s, FaultLocation where)
{
    if (wasNotMeasured(s))
        return false;
    switch (where) {
    case FaultLocation::wifi:
    case FaultLocation::router:
    case FaultLocation::localUnseparated: return s.target.kind == ProbeKind::gateway;
    case FaultLocation::provider: return s.target.kind == ProbeKind::publicIP;
    case FaultLocation::dns: return s.target.kind == ProbeKind::dns;
    case FaultLocation::offline: return s.target.kind == ProbeKind::gateway || s.target.kind == ProbeKind::publicIP;
    case FaultLocation::none:
    case FaultLocation::insufficientEvidence: return false;
    }
    return false;
}

bool batchShows(const ProbeBatch& batch, FaultLocation where, const AttributionThresholds& t)
{
    return std::any_of(batch.samples.begin(), batch.samples.end(),
                       [&](const NetworkSample& s) { return sampleShows(s, where, t); });
}

bool readingShows(const WifiSnapshot& w, FaultLocation where, const AttributionThresholds& t)
{
    if (where != FaultLocation::wifi)
        return false;
    if (!w.interfaceUp)
        return true;
    if (w.rssi && *w.rssi <= t.weakSignalDbm)
        return true;
    return w.rssi && w.noise && static_cast<long long>(*w.rssi) - *w.noise < t.lowSnrDb;
}

std::optional<FaultEpisode> currentEpisode(const std::vector<ProbeBatch>& batches,
                                           const std::vector<WifiSnapshot>& readings, FaultLocation where,
                                           const AttributionThresholds& t, Timestamp at,
                                           std::optional<Timestamp> notBefore)
{
    std::vector<Timestamp> shown;
    // The newest measurement of the leg, and whether it showed the fault.
    std::optional<Timestamp> newestMeasured;
    bool newestShows = false;
    const auto measured = [&](Timestamp ts, bool shows) {
        if (!newestMeasured || ts > *newestMeasured || (ts == *newestMeasured && shows)) {
            newestMeasured = ts;
            newestShows = shows;
        }
    };
    const auto admissible = [&](Timestamp ts) { return ts <= at && (!notBefore || ts >= *notBefore); };
    std::vector<const ProbeBatch*> ordered;
    for (const ProbeBatch& b : batches)
        ordered.push_back(&b);
    std::stable_sort(ordered.begin(), ordered.end(),
                     [](const ProbeBatch* a, const ProbeBatch* b) { return a->timestamp < b->timestamp; });
    // Lookups are measured only every few batches, but every HTTP request needs one: while the
    // resolver's newest lookup went unanswered, a failed request carries on that evidence and an
    // answered one ends it.
    bool resolverSilent = false;
    for (const ProbeBatch* b : ordered) {
        bool shows = batchShows(*b, where, t);
        bool measures = shows || std::any_of(b->samples.begin(), b->samples.end(),
                                             [&](const NetworkSample& s) { return sampleMeasures(s, where); });
        if (where == FaultLocation::dns) {
            const auto has = [&](ProbeKind kind, bool success) {
                return std::any_of(b->samples.begin(), b->samples.end(), [&](const NetworkSample& s) {
                    return s.target.kind == kind && s.success == success && !wasNotMeasured(s);
                });
            };
            if (!has(ProbeKind::dns, false) && !has(ProbeKind::dns, true) && resolverSilent) {
                shows = has(ProbeKind::http, false) && !has(ProbeKind::http, true);
                measures = measures || has(ProbeKind::http, false) || has(ProbeKind::http, true);
            }
            if (has(ProbeKind::dns, false))
                resolverSilent = true;
            else if (has(ProbeKind::dns, true) || has(ProbeKind::http, true))
                resolverSilent = false;
        }
        if (!admissible(b->timestamp))
            continue;
        if (shows)
            shown.push_back(b->timestamp);
        if (measures)
            measured(b->timestamp, shows);
    }
    for (const WifiSnapshot& w : readings) {
        if (!admissible(w.timestamp) || where != FaultLocation::wifi)
            continue;
        const bool shows = readingShows(w, where, t);
        if (shows)
            shown.push_back(w.timestamp);
        measured(w.timestamp, shows);
    }
    if (shown.empty())
        return std::nullopt;
    std::sort(shown.begin(), shown.end());
    FaultEpisode episode{shown.back(), shown.back(), newestShows};
    for (std::size_t i = shown.size() - 1; i > 0; --i) {
        if (shown[i] - shown[i - 1] >= episodeGap)
            break;
        episode.start = shown[i - 1];
    }
    return episode;
}

} // namespace pv::incident_evidence
