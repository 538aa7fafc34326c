#pragma once
// The connection states the screenshots walk through, as snapshots of the model. What the model
// publishes itself (the storage banner of a fresh start) is taken from the model; the rest is set
// on top, because the model's monitoring loop is not driven by these tests.

#include "tests/main/SnapshotBuilders.h"

#include <QString>

#include <functional>
#include <vector>

namespace pv::test {

struct ScreenState {
    QString name;
    std::function<OverviewSnapshot(OverviewSnapshot fromModel, Timestamp now)> make;
    bool freshStore = false;
};

inline void addLegSamples(OverviewSnapshot& s, Timestamp now, double gatewayMs, int gatewayLostOf10, double providerMs,
                          int providerLostOf10)
{
    for (int i = 0; i < 60; ++i) {
        const Timestamp at = now - 590 + i * 9.8;
        const double wobble = (i % 7) * 0.6;
        s.recentBatches.push_back(batch({sample(ProbeKind::gateway, at, i % 10 >= gatewayLostOf10, gatewayMs + wobble),
                                         sample(ProbeKind::publicIP, at, i % 10 >= providerLostOf10, providerMs + wobble),
                                         sample(ProbeKind::dns, at, true, 18 + wobble),
                                         sample(ProbeKind::http, at, true, 120 + wobble)}));
    }
    s.lastProbeBatchTimestamp = now - 4;
}

inline void addWifi(OverviewSnapshot& s, Timestamp now, int rssi)
{
    for (int i = 0; i < 40; ++i)
        s.wifiSnapshots.push_back(wifi(now - 400 + i * 10, rssi + (i % 5) - 2));
    s.wifiSnapshots.back().rssi = rssi;
}

inline OverviewSnapshot healthyState(OverviewSnapshot s, Timestamp now)
{
    s.isMonitoring = true;
    s.liveStatus = LiveStatus::healthy;
    s.attribution = FaultAttribution();
    s.attribution.location = FaultLocation::none;
    s.attribution.headline = QStringLiteral("Nem látunk hibát: a Wi-Fi, a router és a szolgáltató is rendben válaszol.");
    s.attribution.evidence = {QStringLiteral("A router 3 ms alatt válaszol, kiesés nélkül."),
                              QStringLiteral("A szolgáltató felé 14 ms a válaszidő, a csomagvesztés 0%.")};
    s.advice = AdviceSet();
    s.verdict = ConnectionVerdict();
    s.verdict.confidence = {240, 590};
    for (UsageCapability u : allUsageCapabilities())
        s.verdict.setRating(u, CapabilityRating::comfortable);
    s.verdict.medianRtt = 14.2;
    s.verdict.lossRatio = 0.0;
    addLegSamples(s, now, 3, 0, 14, 0);
    addWifi(s, now, -54);
    return s;
}

inline std::vector<ScreenState> screenStates()
{
    std::vector<ScreenState> states;
    states.push_back({QStringLiteral("healthy"), healthyState});
    states.push_back({QStringLiteral("router-critical"), [](OverviewSnapshot s, Timestamp now) {
                          s = healthyState(std::move(s), now);
                          s.recentBatches.clear();
                          addLegSamples(s, now, 48, 4, 61, 4);
                          s.liveStatus = LiveStatus::degraded;
                          s.attribution.location = FaultLocation::router;
                          s.attribution.severity = IncidentSeverity::critical;
                          s.attribution.headline = QStringLiteral(
                              "A hiba a routereddel van: már a router felé is minden negyedik csomag elvész.");
                          s.attribution.evidence = {
                              QStringLiteral("A router felé 40% a kiesés az utolsó tíz percben."),
                              QStringLiteral("A Wi-Fi jel erős (-54 dBm), így nem a rádiókapcsolat a gyenge pont."),
                              QStringLiteral("A szolgáltató felé mért kiesés nem nagyobb, mint a router felé mért.")};
                          s.attribution.caveats = {QStringLiteral(
                              "Egyes routerek terhelés alatt eldobják a pingre adott választ; ha a weboldalak "
                              "rendben betöltődnek, a mért kiesés egy része ebből adódhat.")};
                          s.advice.title = QStringLiteral("Mit tehetsz most?");
                          s.advice.steps = {
                              {QStringLiteral("router.restart"), QStringLiteral("Indítsd újra a routert: húzd ki a "
                                                                                "tápkábelt fél percre, majd dugd vissza.")},
                              {QStringLiteral("router.cable"), QStringLiteral("Nézd meg, hogy a router és a modem "
                                                                              "közötti kábel rendesen be van-e dugva.")},
                              {QStringLiteral("router.firmware"),
                               QStringLiteral("Ha a hiba újra jelentkezik, frissítsd a router szoftverét.")}};
                          s.advice.pointless = QStringLiteral(
                              "A szolgáltató hívása most felesleges: a hiba a lakáson belül van.");
                          s.verdict.setRating(UsageCapability::videoCall, CapabilityRating::poor);
                          s.verdict.setRating(UsageCapability::gaming, CapabilityRating::poor);
                          s.verdict.setRating(UsageCapability::streaming, CapabilityRating::usable);
                          s.verdict.medianRtt = 63;
                          s.verdict.lossRatio = 0.412;
                          s.incidents = {incident(now - 3600, now - 3300), incident(now - 420, std::nullopt)};
                          return s;
                      }});
    states.push_back({QStringLiteral("provider-outage"), [](OverviewSnapshot s, Timestamp now) {
                          s = healthyState(std::move(s), now);
                          s.recentBatches.clear();
                          addLegSamples(s, now, 3, 0, 0, 10);
                          s.liveStatus = LiveStatus::offline;
                          s.attribution.location = FaultLocation::provider;
                          s.attribution.severity = IncidentSeverity::critical;
                          s.attribution.isOutage = true;
                          s.attribution.headline = QStringLiteral(
                              "Szolgáltatói kiesés: a router válaszol, de az internet felé semmi nem jut ki.");
                          s.attribution.evidence = {
                              QStringLiteral("A router 3 ms alatt, kiesés nélkül válaszol."),
                              QStringLiteral("Az internetes célpontok közül egy sem válaszolt 6 perce.")};
                          s.attribution.caveats = {};
                          s.advice.title = QStringLiteral("Mit tehetsz most?");
                          s.advice.steps = {
                              {QStringLiteral("provider.status"),
                               QStringLiteral("Nézd meg a szolgáltató hibabejelentő oldalát vagy hívd a "
                                              "hibabejelentő számot.")},
                              {QStringLiteral("provider.modem"),
                               QStringLiteral("Indítsd újra a szolgáltató modemjét, ha külön eszköz.")}};
                          s.advice.pointless = std::nullopt;
                          s.verdict = ConnectionVerdict();
                          s.verdict.confidence = {240, 590};
                          for (UsageCapability u : allUsageCapabilities())
                              s.verdict.setRating(u, CapabilityRating::poor);
                          s.verdict.lossRatio = 1.0;
                          s.incidents = {incident(now - 360, std::nullopt)};
                          return s;
                      }});
    states.push_back({QStringLiteral("insufficient-evidence"), [](OverviewSnapshot s, Timestamp now) {
                          s = healthyState(std::move(s), now);
                          s.recentBatches.resize(3);
                          s.wifiSnapshots.resize(2);
                          s.attribution.location = FaultLocation::insufficientEvidence;
                          s.attribution.headline = QStringLiteral(
                              "Még kevés a mérés ahhoz, hogy megmondjuk, hol a hiba.");
                          s.attribution.evidence = {QStringLiteral("Eddig 3 mérési kör futott le 30 másodperc alatt.")};
                          s.verdict.confidence = {9, 30};
                          s.verdict.medianRtt = std::nullopt;
                          s.verdict.lossRatio = std::nullopt;
                          for (UsageCapability u : allUsageCapabilities())
                              s.verdict.setRating(u, CapabilityRating::unknown);
                          s.lastProbeBatchTimestamp = now - 2;
                          return s;
                      }});
    states.push_back({QStringLiteral("paused"), [](OverviewSnapshot s, Timestamp now) {
                          s = healthyState(std::move(s), now);
                          s.isMonitoring = false;
                          s.lastProbeBatchTimestamp = now - 312;
                          return s;
                      }});
    states.push_back({QStringLiteral("storage-fresh"), healthyState, true});
    states.push_back({QStringLiteral("update-available"), [](OverviewSnapshot s, Timestamp now) {
                          s = healthyState(std::move(s), now);
                          s.availableUpdate = AvailableUpdate{
                              QStringLiteral("2.1.0"),
                              QStringLiteral("Gyorsabb indulás, pontosabb Wi-Fi mérés és kisebb adatbázis."),
                              QUrl(QStringLiteral("https://example.invalid/polvarine-2.1.0.tar.gz"))};
                          return s;
                      }});
    // A wired machine close to its router and provider (as in a lab): both legs answer under a
    // millisecond, the provider's went silent for a minute, and the outage has ended.
    states.push_back({QStringLiteral("under-a-millisecond"), [](OverviewSnapshot s, Timestamp now) {
                          s = healthyState(std::move(s), now);
                          s.recentBatches.clear();
                          s.wifiSnapshots.clear();
                          for (int i = 0; i < 120; ++i) {
                              const Timestamp at = now - 595 + i * 5.0;
                              const bool silent = i >= 50 && i < 62;
                              const double wobble = (i % 5) * 0.05;
                              s.recentBatches.push_back(batch(
                                  {sample(ProbeKind::gateway, at, true, 0.3 + wobble),
                                   sample(ProbeKind::publicIP, at, !silent, silent ? std::nullopt : std::optional(0.4 + wobble)),
                                   sample(ProbeKind::dns, at, true, 2.1 + wobble), sample(ProbeKind::http, at, true, 9 + wobble)}));
                          }
                          s.lastProbeBatchTimestamp = now - 4;
                          s.attribution.evidence = {QStringLiteral("A válaszidő kevesebb mint 1 ms, a csomagok 0.0%-a veszett el.")};
                          s.verdict.medianRtt = 0.4;
                          s.verdict.lossRatio = 0.0;
                          Incident outage = incident(now - 345, now - 228);
                          outage.classification = IncidentClassification::internetUpstreamIssue;
                          outage.severity = IncidentSeverity::critical;
                          outage.evidenceSummary = QStringLiteral(
                              "Nincs internet, de a routered válaszol — a hiba a routeren túl van. A routered 12 mérésből "
                              "válaszol, jellemzően 1 ms alatt.");
                          Incident slow = incident(now - 3 * 3600, now - 3 * 3600 + 1460);
                          slow.classification = IncidentClassification::gatewayCongestion;
                          slow.severity = IncidentSeverity::warning;
                          slow.evidenceSummary = QStringLiteral("A routered vagy a helyi hálózatod a szűk keresztmetszet.");
                          s.incidents = {slow, outage};
                          return s;
                      }});
    // A dual-stack network whose provider dropped IPv6 three minutes ago while IPv4 works.
    states.push_back({QStringLiteral("ipv6-provider"), [](OverviewSnapshot s, Timestamp now) {
                          s = healthyState(std::move(s), now);
                          for (int i = 0; i < 60; ++i) {
                              const Timestamp at = now - 590 + i * 9.8;
                              const bool dropped = at >= now - 180;
                              ProbeBatch b = batch({sample(ProbeKind::gateway, at, true, 3.4),
                                                    sample(ProbeKind::publicIP, at, !dropped, dropped ? std::nullopt
                                                                                                      : std::optional(16.0 + i % 4))});
                              for (NetworkSample& x : b.samples)
                                  x.family = AddressFamily::ipv6;
                              s.ipv6Batches.push_back(b);
                          }
                          s.ipv6Path = Ipv6PathJudgement{Ipv6PathState::providerDown, now - 180, {}, 14.6, 1.0, 0, 3.4, {}};
                          Incident dropped = incident(now - 180, std::nullopt);
                          dropped.classification = IncidentClassification::ipv6ProviderIssue;
                          dropped.evidenceSummary = evidenceSummary(s.ipv6Path);
                          s.incidents = {dropped};
                          return s;
                      }});
    // The IPv6 router ignores echoes to itself; the public IPv6 hosts answer.
    states.push_back({QStringLiteral("ipv6-router-quiet"), [](OverviewSnapshot s, Timestamp now) {
                          s = healthyState(std::move(s), now);
                          s.ipv6Path = Ipv6PathJudgement{Ipv6PathState::routerQuiet, {}, 15.2, 14.6, 0, 0, {}, {}};
                          return s;
                      }});
    // The IPv6 measuring switched off on a network that has an IPv6 route.
    states.push_back({QStringLiteral("ipv6-not-measured"), [](OverviewSnapshot s, Timestamp now) {
                          s = healthyState(std::move(s), now);
                          s.ipv6Path = Ipv6PathJudgement{Ipv6PathState::notMeasured, {}, {}, {}, 0, 0, {}, true};
                          return s;
                      }});
    // IPv4 stalls beyond the router while IPv6 works.
    states.push_back({QStringLiteral("ipv4-down-ipv6-up"), [](OverviewSnapshot s, Timestamp now) {
                          for (const ScreenState& outage : screenStates()) // the provider outage, over IPv4
                              if (outage.name == QLatin1String("provider-outage"))
                                  s = outage.make(std::move(s), now);
                          s.ipv6Path = Ipv6PathJudgement{Ipv6PathState::ipv4Down, now - 360, 15.2, {}, 0, 1.0, 3.1, {}};
                          // No outage while IPv6 gets through: IPv4's provider fault, journalled as its own.
                          s.attribution = besideIpv6(s.attribution, s.ipv6Path);
                          s.liveStatus = LiveStatus::degraded;
                          s.incidents.front().classification = IncidentClassification::ipv4ProviderIssue;
                          s.incidents.front().severity = IncidentSeverity::warning;
                          s.incidents.front().evidenceSummary = evidenceSummary(s.ipv6Path);
                          return s;
                      }});
    return states;
}

} // namespace pv::test
