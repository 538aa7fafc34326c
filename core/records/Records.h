#pragma once
// The plain value records in which every observation travels between the probes, the store, the
// analysis, the application core, the views and the reports.

#include "core/records/Enum.h"
#include "core/records/Json.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace pv {

using Timestamp = double; // seconds since 1970

Timestamp nowTimestamp();

// ---------------------------------------------------------------------------------------------
enum class ProbeKind { gateway, publicIP, dns, http };
inline constexpr EnumTable<ProbeKind, 4> kProbeKindTable{{{
    {ProbeKind::gateway, "gateway"}, {ProbeKind::publicIP, "publicIP"}, {ProbeKind::dns, "dns"}, {ProbeKind::http, "http"}}}};
inline QString rawValue(ProbeKind k) { return kProbeKindTable.rawText(k); }
inline std::optional<ProbeKind> parseProbeKind(const QString& s) { return kProbeKindTable.parse(s); }
inline auto allProbeKinds() { return kProbeKindTable.allCases(); }

// The IP version a probe travelled over. Everything measured before IPv6 was probed is IPv4.
enum class AddressFamily { ipv4, ipv6 };
inline constexpr EnumTable<AddressFamily, 2> kAddressFamilyTable{{{
    {AddressFamily::ipv4, "ipv4"}, {AddressFamily::ipv6, "ipv6"}}}};
inline QString rawValue(AddressFamily f) { return kAddressFamilyTable.rawText(f); }
inline std::optional<AddressFamily> parseAddressFamily(const QString& s) { return kAddressFamilyTable.parse(s); }

struct ProbeTarget {
    QString id;
    ProbeKind kind = ProbeKind::gateway;
    QString label;
    QString host;

    ProbeTarget() = default;
    ProbeTarget(ProbeKind kind, QString label, QString host);
    bool operator==(const ProbeTarget&) const = default;

    QJsonObject toJson() const;
    static ProbeTarget fromJson(const QJsonObject& o);
};

// The route a batch is measured over. localAddress and gatewayAddress are the IPv4 ones; on a
// network without IPv4 (no IPv4 default route, hasIPv4 false) they are the IPv6 ones instead, so
// that route changes are still told apart there. The IPv6 path beside them is set only when the
// interface has a global IPv6 address and an IPv6 default router: the router as the kernel names it
// (usually link-local, always without a zone: its zone is interfaceName).
//
// A sample's route speaks of the sample's own family: an IPv6 sample's localAddress and
// gatewayAddress are the IPv6 address and router, and its IPv6 fields stay empty (the evidence
// store keeps one local address and one router per sample).
struct RouteSnapshot {
    Timestamp timestamp = 0;
    QString interfaceName;
    QString localAddress;
    QString gatewayAddress;
    std::optional<QString> ipv6LocalAddress = std::nullopt;
    std::optional<QString> ipv6GatewayAddress = std::nullopt;
    bool hasIPv4 = true;
    bool operator==(const RouteSnapshot&) const = default;

    // Whether the IPv6 path can be measured: a global address and a router.
    bool hasIPv6() const { return ipv6LocalAddress.has_value() && ipv6GatewayAddress.has_value(); }
    // The route as a sample of that family records it (see above); IPv6 of a route without IPv6
    // has empty addresses.
    RouteSnapshot forFamily(AddressFamily family) const;

    QJsonObject toJson() const;
    static RouteSnapshot fromJson(const QJsonObject& o);
};

struct NetworkSample {
    QUuid id;
    QUuid batchID;
    Timestamp timestamp = 0;
    ProbeTarget target;
    RouteSnapshot route;
    std::optional<double> latencyMilliseconds;
    bool success = false;
    int timeoutCount = 0;
    std::optional<double> packetLoss;
    std::optional<QString> errorDescription;
    AddressFamily family = AddressFamily::ipv4;
    bool operator==(const NetworkSample&) const = default;

    QJsonObject toJson() const;
    static NetworkSample fromJson(const QJsonObject& o);
};

struct ProbeBatch {
    QUuid id;
    Timestamp timestamp = 0;
    RouteSnapshot route;
    std::vector<NetworkSample> samples;
    // Measuring was stopped (or the probe re-pinned) while the batch ran: its echoes were cut off,
    // not lost, so what it holds is no evidence about the network. Never stored.
    bool cutShort = false;
    bool operator==(const ProbeBatch&) const = default;
};

struct PathSnapshot {
    QString statusDescription;
    bool usesWiFi = false;
    bool isExpensive = false;
    QStringList interfaceNames;
    bool operator==(const PathSnapshot&) const = default;
};

struct NodeFingerprint {
    std::optional<QString> ssid;
    std::optional<QString> bssid;
    std::optional<int> channel;
    std::optional<QString> band;
    bool operator==(const NodeFingerprint&) const = default;

    QString summary() const;
    QJsonObject toJson() const;
    static NodeFingerprint fromJson(const QJsonObject& o);
};

struct WifiSnapshot {
    QUuid id;
    Timestamp timestamp = 0;
    QString interfaceName;
    QString localAddress;
    QString gatewayAddress;
    std::optional<QString> ssid;
    std::optional<QString> bssid;
    std::optional<int> channel;
    std::optional<QString> band;
    std::optional<int> rssi;
    std::optional<int> noise;
    std::optional<double> txRateMbps;
    std::optional<QString> phyMode;
    bool interfaceUp = false;
    bool operator==(const WifiSnapshot&) const = default;

    std::optional<int> snr() const;
    NodeFingerprint nodeFingerprint() const;
    QJsonObject toJson() const;
    static WifiSnapshot fromJson(const QJsonObject& o);
};

struct NodeSummary {
    QString id;
    NodeFingerprint fingerprint;
    int snapshotCount = 0;
    Timestamp firstSeen = 0;
    Timestamp lastSeen = 0;
    std::optional<double> averageRSSI;
    std::optional<int> minimumRSSI;
    std::optional<int> maximumRSSI;
    std::optional<double> averageTxRateMbps;

    NodeSummary() = default;
    NodeSummary(NodeFingerprint fingerprint, int snapshotCount, Timestamp firstSeen, Timestamp lastSeen,
                std::optional<double> averageRSSI, std::optional<int> minimumRSSI, std::optional<int> maximumRSSI,
                std::optional<double> averageTxRateMbps);
    bool operator==(const NodeSummary&) const = default;
};

// ---------------------------------------------------------------------------------------------
enum class IncidentClassification {
    wifiLinkDegraded,
    reassociationOrRoam,
    gatewayCongestion,
    internetUpstreamIssue,
    dnsOnlyIssue,
    offline,
    unknown,
    // The IPv6 path of a dual-stack network, journalled beside the IPv4 incidents. A reader that
    // does not know these strings takes them for "unknown" (the store reads any unknown string so).
    ipv6RouterIssue,
    ipv6ProviderIssue,
    ipv6SlowOrLossy,
    ipv6NameOrPageIssue,
    // IPv4 stalls beyond the router while the public IPv6 hosts answer: journalled with the IPv6
    // path's incidents, never as an outage of the line.
    ipv4ProviderIssue
};
inline constexpr EnumTable<IncidentClassification, 12> kIncidentClassificationTable{{{
    {IncidentClassification::wifiLinkDegraded, "wifi_link_degraded"},
    {IncidentClassification::reassociationOrRoam, "reassociation_or_roam"},
    {IncidentClassification::gatewayCongestion, "gateway_congestion"},
    {IncidentClassification::internetUpstreamIssue, "internet_upstream_issue"},
    {IncidentClassification::dnsOnlyIssue, "dns_only_issue"},
    {IncidentClassification::offline, "offline"},
    {IncidentClassification::unknown, "unknown"},
    {IncidentClassification::ipv6RouterIssue, "ipv6_router_issue"},
    {IncidentClassification::ipv6ProviderIssue, "ipv6_provider_issue"},
    {IncidentClassification::ipv6SlowOrLossy, "ipv6_slow_or_lossy"},
    {IncidentClassification::ipv6NameOrPageIssue, "ipv6_name_or_page_issue"},
    {IncidentClassification::ipv4ProviderIssue, "ipv4_provider_issue"},
}}};
inline QString rawValue(IncidentClassification c) { return kIncidentClassificationTable.rawText(c); }
inline std::optional<IncidentClassification> parseIncidentClassification(const QString& s)
{
    return kIncidentClassificationTable.parse(s);
}
inline auto allIncidentClassifications() { return kIncidentClassificationTable.allCases(); }
QString title(IncidentClassification c);
// An incident of the two families judged side by side (journalled apart from the IPv4 one): the
// IPv6 path's faults, and IPv4 down while IPv6 works.
inline bool isIpv6Classification(IncidentClassification c)
{
    return c == IncidentClassification::ipv6RouterIssue || c == IncidentClassification::ipv6ProviderIssue ||
           c == IncidentClassification::ipv6SlowOrLossy || c == IncidentClassification::ipv6NameOrPageIssue ||
           c == IncidentClassification::ipv4ProviderIssue;
}

enum class IncidentSeverity { info, warning, critical };
inline constexpr EnumTable<IncidentSeverity, 3> kIncidentSeverityTable{{{
    {IncidentSeverity::info, "info"}, {IncidentSeverity::warning, "warning"}, {IncidentSeverity::critical, "critical"}}}};
inline QString rawValue(IncidentSeverity s) { return kIncidentSeverityTable.rawText(s); }
inline std::optional<IncidentSeverity> parseIncidentSeverity(const QString& s) { return kIncidentSeverityTable.parse(s); }
inline auto allIncidentSeverities() { return kIncidentSeverityTable.allCases(); }

struct Incident {
    QUuid id;
    Timestamp startTimestamp = 0;
    std::optional<Timestamp> endTimestamp;
    IncidentClassification classification = IncidentClassification::unknown;
    IncidentSeverity severity = IncidentSeverity::warning;
    double confidence = 0;
    QString evidenceSummary;
    // Nothing got through while it lasted, as the monitoring saw it then; every later reader takes
    // this rather than judging again from the samples that are still kept.
    bool outage = false;
    bool operator==(const Incident&) const = default;

    bool isOpen() const { return !endTimestamp.has_value(); }
    double duration(Timestamp now = nowTimestamp()) const { return endTimestamp.value_or(now) - startTimestamp; }
    QJsonObject toJson() const;
    static Incident fromJson(const QJsonObject& o);
};

// ---------------------------------------------------------------------------------------------
enum class DiagnosticEventKind {
    monitoringStarted,
    monitoringStopped,
    sleep,
    wake,
    pathChanged,
    probeStalled,
    probeRestarted,
    interfaceChanged,
    localAddressChanged,
    gatewayChanged,
    wifiNodeChanged,
    qualitySessionReset,
    qualityBaselineUpdated,
    qualityBaselineCleared,
    markerAdded,
    exportCompleted
};
inline constexpr EnumTable<DiagnosticEventKind, 16> kDiagnosticEventKindTable{{{
    {DiagnosticEventKind::monitoringStarted, "monitoringStarted"},
    {DiagnosticEventKind::monitoringStopped, "monitoringStopped"},
    {DiagnosticEventKind::sleep, "sleep"},
    {DiagnosticEventKind::wake, "wake"},
    {DiagnosticEventKind::pathChanged, "pathChanged"},
    {DiagnosticEventKind::probeStalled, "probeStalled"},
    {DiagnosticEventKind::probeRestarted, "probeRestarted"},
    {DiagnosticEventKind::interfaceChanged, "interfaceChanged"},
    {DiagnosticEventKind::localAddressChanged, "localAddressChanged"},
    {DiagnosticEventKind::gatewayChanged, "gatewayChanged"},
    {DiagnosticEventKind::wifiNodeChanged, "wifiNodeChanged"},
    {DiagnosticEventKind::qualitySessionReset, "qualitySessionReset"},
    {DiagnosticEventKind::qualityBaselineUpdated, "qualityBaselineUpdated"},
    {DiagnosticEventKind::qualityBaselineCleared, "qualityBaselineCleared"},
    {DiagnosticEventKind::markerAdded, "markerAdded"},
    {DiagnosticEventKind::exportCompleted, "exportCompleted"},
}}};
inline QString rawValue(DiagnosticEventKind k) { return kDiagnosticEventKindTable.rawText(k); }
inline std::optional<DiagnosticEventKind> parseDiagnosticEventKind(const QString& s)
{
    return kDiagnosticEventKindTable.parse(s);
}
inline auto allDiagnosticEventKinds() { return kDiagnosticEventKindTable.allCases(); }

struct DiagnosticEvent {
    QUuid id;
    Timestamp timestamp = 0;
    DiagnosticEventKind kind = DiagnosticEventKind::pathChanged;
    QString details;
    bool operator==(const DiagnosticEvent&) const = default;

    QJsonObject toJson() const;
    static DiagnosticEvent fromJson(const QJsonObject& o);
};

struct ManualMarker {
    QUuid id;
    Timestamp timestamp = 0;
    QString action;
    QString note;
    bool operator==(const ManualMarker&) const = default;

    QJsonObject toJson() const;
    static ManualMarker fromJson(const QJsonObject& o);
};

enum class WorkflowPreset { currentRoom24h, routerBaseline10m, alternateNodeCompare, eveningPeak };
inline constexpr EnumTable<WorkflowPreset, 4> kWorkflowPresetTable{{{
    {WorkflowPreset::currentRoom24h, "currentRoom24h"},
    {WorkflowPreset::routerBaseline10m, "routerBaseline10m"},
    {WorkflowPreset::alternateNodeCompare, "alternateNodeCompare"},
    {WorkflowPreset::eveningPeak, "eveningPeak"},
}}};
inline QString rawValue(WorkflowPreset p) { return kWorkflowPresetTable.rawText(p); }
inline std::optional<WorkflowPreset> parseWorkflowPreset(const QString& s) { return kWorkflowPresetTable.parse(s); }
inline auto allWorkflowPresets() { return kWorkflowPresetTable.allCases(); }
QString title(WorkflowPreset p);
QString noteTemplate(WorkflowPreset p);

enum class ExportScope { currentDay, previousDay, last24Hours };
inline constexpr EnumTable<ExportScope, 3> kExportScopeTable{{{
    {ExportScope::currentDay, "currentDay"}, {ExportScope::previousDay, "previousDay"}, {ExportScope::last24Hours, "last24Hours"}}}};
inline QString rawValue(ExportScope s) { return kExportScopeTable.rawText(s); }
inline std::optional<ExportScope> parseExportScope(const QString& s) { return kExportScopeTable.parse(s); }
inline auto allExportScopes() { return kExportScopeTable.allCases(); }
QString title(ExportScope s);
QString actionTitle(ExportScope s);

enum class LiveStatus { healthy, degraded, offline, reassociating };
inline constexpr EnumTable<LiveStatus, 4> kLiveStatusTable{{{
    {LiveStatus::healthy, "healthy"}, {LiveStatus::degraded, "degraded"}, {LiveStatus::offline, "offline"},
    {LiveStatus::reassociating, "reassociating"}}}};
inline QString rawValue(LiveStatus s) { return kLiveStatusTable.rawText(s); }
inline std::optional<LiveStatus> parseLiveStatus(const QString& s) { return kLiveStatusTable.parse(s); }
QString title(LiveStatus s);
QString symbolName(LiveStatus s);

// ---------------------------------------------------------------------------------------------
// Hashing: fields in declaration order, optionals with a presence marker, enums by raw value.
std::size_t hashValue(const ProbeTarget& t);
std::size_t hashValue(const NodeFingerprint& f);

} // namespace pv

template <> struct std::hash<pv::ProbeTarget> {
    std::size_t operator()(const pv::ProbeTarget& t) const noexcept { return pv::hashValue(t); }
};
template <> struct std::hash<pv::NodeFingerprint> {
    std::size_t operator()(const pv::NodeFingerprint& f) const noexcept { return pv::hashValue(f); }
};
