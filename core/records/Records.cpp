#include "core/records/Records.h"

#include "core/records/Localization.h"

#include <QDateTime>

#include <algorithm>
#include <chrono>
#include <climits>

namespace pv {

using namespace pv::json;

Timestamp nowTimestamp()
{
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

// ---------------------------------------------------------------------------------------------
ProbeTarget::ProbeTarget(ProbeKind k, QString l, QString h)
    : id(rawValue(k) + QLatin1Char('-') + h), kind(k), label(std::move(l)), host(std::move(h))
{
}

QJsonObject ProbeTarget::toJson() const
{
    QJsonObject o;
    putString(o, "id", id);
    putString(o, "kind", rawValue(kind));
    putString(o, "label", label);
    putString(o, "host", host);
    return o;
}

ProbeTarget ProbeTarget::fromJson(const QJsonObject& o)
{
    ProbeTarget t;
    t.id = getString(o, "id");
    t.kind = getEnum<ProbeKind>(o, "kind", parseProbeKind);
    t.label = getString(o, "label");
    t.host = getString(o, "host");
    return t;
}

QJsonObject RouteSnapshot::toJson() const
{
    QJsonObject o;
    putDouble(o, "timestamp", timestamp);
    putString(o, "interfaceName", interfaceName);
    putString(o, "localAddress", localAddress);
    putString(o, "gatewayAddress", gatewayAddress);
    putOptString(o, "ipv6LocalAddress", ipv6LocalAddress);
    putOptString(o, "ipv6GatewayAddress", ipv6GatewayAddress);
    if (!hasIPv4)
        putBool(o, "hasIPv4", false);
    return o;
}

RouteSnapshot RouteSnapshot::fromJson(const QJsonObject& o)
{
    RouteSnapshot r{getDouble(o, "timestamp"), getString(o, "interfaceName"), getString(o, "localAddress"),
                    getString(o, "gatewayAddress")};
    r.ipv6LocalAddress = getOptString(o, "ipv6LocalAddress");
    r.ipv6GatewayAddress = getOptString(o, "ipv6GatewayAddress");
    // Routes written before IPv6 was measured had IPv4.
    r.hasIPv4 = !o.contains(QLatin1String("hasIPv4")) || getBool(o, "hasIPv4");
    return r;
}

RouteSnapshot RouteSnapshot::forFamily(AddressFamily family) const
{
    if (family == AddressFamily::ipv4)
        return RouteSnapshot{timestamp, interfaceName, localAddress, gatewayAddress};
    return RouteSnapshot{timestamp, interfaceName, ipv6LocalAddress.value_or(QString()),
                         ipv6GatewayAddress.value_or(QString())};
}

QJsonObject NetworkSample::toJson() const
{
    QJsonObject o;
    putUuid(o, "id", id);
    putUuid(o, "batchID", batchID);
    putDouble(o, "timestamp", timestamp);
    putObject(o, "target", target.toJson());
    putObject(o, "route", route.toJson());
    putOptDouble(o, "latencyMilliseconds", latencyMilliseconds);
    putBool(o, "success", success);
    putInt(o, "timeoutCount", timeoutCount);
    putOptDouble(o, "packetLoss", packetLoss);
    putOptString(o, "errorDescription", errorDescription);
    o.insert(QStringLiteral("family"), rawValue(family));
    return o;
}

NetworkSample NetworkSample::fromJson(const QJsonObject& o)
{
    NetworkSample s;
    s.id = getUuid(o, "id");
    s.batchID = getUuid(o, "batchID");
    s.timestamp = getDouble(o, "timestamp");
    s.target = ProbeTarget::fromJson(getObject(o, "target"));
    s.route = RouteSnapshot::fromJson(getObject(o, "route"));
    s.latencyMilliseconds = getOptDouble(o, "latencyMilliseconds");
    s.success = getBool(o, "success");
    s.timeoutCount = getInt32(o, "timeoutCount");
    s.packetLoss = getOptDouble(o, "packetLoss");
    s.errorDescription = getOptString(o, "errorDescription");
    // Samples written before IPv6 was measured carry no family: they are IPv4. A family that is
    // there must be one we know.
    if (const auto family = getOptString(o, "family")) {
        const auto parsed = parseAddressFamily(*family);
        if (!parsed) throw json::DecodeError(QStringLiteral("unknown address family: ") + *family);
        s.family = *parsed;
    }
    return s;
}

// ---------------------------------------------------------------------------------------------
QString NodeFingerprint::summary() const
{
    return (ssid ? *ssid : L("Hidden network")) + QStringLiteral(" / ") + (bssid ? *bssid : L("Unknown BSSID")) +
           QStringLiteral(" / ch ") + (channel ? QString::number(*channel) : QStringLiteral("?"));
}

QJsonObject NodeFingerprint::toJson() const
{
    QJsonObject o;
    putOptString(o, "ssid", ssid);
    putOptString(o, "bssid", bssid);
    putOptInt(o, "channel", channel);
    putOptString(o, "band", band);
    return o;
}

NodeFingerprint NodeFingerprint::fromJson(const QJsonObject& o)
{
    return NodeFingerprint{getOptString(o, "ssid"), getOptString(o, "bssid"), getOptInt(o, "channel"),
                           getOptString(o, "band")};
}

std::optional<int> WifiSnapshot::snr() const
{
    if (rssi && noise) {
        // Computed wide: a corrupted reading must not overflow.
        const long long d = static_cast<long long>(*rssi) - static_cast<long long>(*noise);
        return static_cast<int>(std::clamp<long long>(d, INT_MIN, INT_MAX));
    }
    return std::nullopt;
}

NodeFingerprint WifiSnapshot::nodeFingerprint() const { return NodeFingerprint{ssid, bssid, channel, band}; }

QJsonObject WifiSnapshot::toJson() const
{
    QJsonObject o;
    putUuid(o, "id", id);
    putDouble(o, "timestamp", timestamp);
    putString(o, "interfaceName", interfaceName);
    putString(o, "localAddress", localAddress);
    putString(o, "gatewayAddress", gatewayAddress);
    putOptString(o, "ssid", ssid);
    putOptString(o, "bssid", bssid);
    putOptInt(o, "channel", channel);
    putOptString(o, "band", band);
    putOptInt(o, "rssi", rssi);
    putOptInt(o, "noise", noise);
    putOptDouble(o, "txRateMbps", txRateMbps);
    putOptString(o, "phyMode", phyMode);
    putBool(o, "interfaceUp", interfaceUp);
    return o;
}

WifiSnapshot WifiSnapshot::fromJson(const QJsonObject& o)
{
    WifiSnapshot w;
    w.id = getUuid(o, "id");
    w.timestamp = getDouble(o, "timestamp");
    w.interfaceName = getString(o, "interfaceName");
    w.localAddress = getString(o, "localAddress");
    w.gatewayAddress = getString(o, "gatewayAddress");
    w.ssid = getOptString(o, "ssid");
    w.bssid = getOptString(o, "bssid");
    w.channel = getOptInt(o, "channel");
    w.band = getOptString(o, "band");
    w.rssi = getOptInt(o, "rssi");
    w.noise = getOptInt(o, "noise");
    w.txRateMbps = getOptDouble(o, "txRateMbps");
    w.phyMode = getOptString(o, "phyMode");
    w.interfaceUp = getBool(o, "interfaceUp");
    return w;
}

NodeSummary::NodeSummary(NodeFingerprint fp, int count, Timestamp first, Timestamp last, std::optional<double> avgRSSI,
                         std::optional<int> minRSSI, std::optional<int> maxRSSI, std::optional<double> avgTx)
    : fingerprint(std::move(fp)), snapshotCount(count), firstSeen(first), lastSeen(last), averageRSSI(avgRSSI),
      minimumRSSI(minRSSI), maximumRSSI(maxRSSI), averageTxRateMbps(avgTx)
{
    id = QStringList{fingerprint.ssid.value_or(QStringLiteral("hidden")),
                     fingerprint.bssid.value_or(QStringLiteral("unknown")),
                     fingerprint.channel ? QString::number(*fingerprint.channel) : QStringLiteral("?"),
                     fingerprint.band.value_or(QStringLiteral("?"))}
             .join(QLatin1Char('|'));
}

// ---------------------------------------------------------------------------------------------
QString title(IncidentClassification c)
{
    switch (c) {
    case IncidentClassification::wifiLinkDegraded: return L("Gyenge Wi-Fi kapcsolat");
    case IncidentClassification::reassociationOrRoam: return L("Hozzáférési pont váltása");
    case IncidentClassification::gatewayCongestion: return L("A router vagy a helyi hálózat terhelt");
    case IncidentClassification::internetUpstreamIssue: return L("A szolgáltatói szakasz hibája");
    case IncidentClassification::dnsOnlyIssue: return L("Csak a névfeloldás hibás");
    case IncidentClassification::offline: return L("Teljes kiesés");
    case IncidentClassification::unknown: return L("Nem beazonosított hiba");
    case IncidentClassification::ipv6RouterIssue: return L("Az IPv6 a routernél elakad");
    case IncidentClassification::ipv6ProviderIssue: return L("Az IPv6 a szolgáltatónál nem működik");
    case IncidentClassification::ipv6SlowOrLossy: return L("Az IPv6 lassabb vagy veszteségesebb");
    case IncidentClassification::ipv6NameOrPageIssue: return L("IPv6-os névfeloldás vagy oldal hibás");
    case IncidentClassification::ipv4ProviderIssue: return L("Az IPv4 a szolgáltatónál nem működik, az IPv6 igen");
    }
    return {};
}

QJsonObject Incident::toJson() const
{
    QJsonObject o;
    putUuid(o, "id", id);
    putDouble(o, "startTimestamp", startTimestamp);
    putOptDouble(o, "endTimestamp", endTimestamp);
    putString(o, "classification", rawValue(classification));
    putString(o, "severity", rawValue(severity));
    putDouble(o, "confidence", confidence);
    putString(o, "evidenceSummary", evidenceSummary);
    putBool(o, "outage", outage);
    return o;
}

Incident Incident::fromJson(const QJsonObject& o)
{
    Incident i;
    i.id = getUuid(o, "id");
    i.startTimestamp = getDouble(o, "startTimestamp");
    i.endTimestamp = getOptDouble(o, "endTimestamp");
    i.classification = getEnum<IncidentClassification>(o, "classification", parseIncidentClassification);
    i.severity = getEnum<IncidentSeverity>(o, "severity", parseIncidentSeverity);
    i.confidence = getDouble(o, "confidence");
    i.evidenceSummary = getString(o, "evidenceSummary");
    // Written before the flag was: not known to have been an outage.
    i.outage = o.contains(QLatin1String("outage")) && getBool(o, "outage");
    return i;
}

QJsonObject DiagnosticEvent::toJson() const
{
    QJsonObject o;
    putUuid(o, "id", id);
    putDouble(o, "timestamp", timestamp);
    putString(o, "kind", rawValue(kind));
    putString(o, "details", details);
    return o;
}

DiagnosticEvent DiagnosticEvent::fromJson(const QJsonObject& o)
{
    return DiagnosticEvent{getUuid(o, "id"), getDouble(o, "timestamp"),
                           getEnum<DiagnosticEventKind>(o, "kind", parseDiagnosticEventKind), getString(o, "details")};
}

QJsonObject ManualMarker::toJson() const
{
    QJsonObject o;
    putUuid(o, "id", id);
    putDouble(o, "timestamp", timestamp);
    putString(o, "action", action);
    putString(o, "note", note);
    return o;
}

ManualMarker ManualMarker::fromJson(const QJsonObject& o)
{
    return ManualMarker{getUuid(o, "id"), getDouble(o, "timestamp"), getString(o, "action"), getString(o, "note")};
}

QString title(WorkflowPreset p)
{
    switch (p) {
    case WorkflowPreset::currentRoom24h: return L("24 órás megfigyelés a jelenlegi helyen");
    case WorkflowPreset::routerBaseline10m: return L("10 perces alapmérés a router mellett");
    case WorkflowPreset::alternateNodeCompare: return L("Másik hozzáférési pont összehasonlítása");
    case WorkflowPreset::eveningPeak: return L("Esti csúcsidő megfigyelése");
    }
    return {};
}

QString noteTemplate(WorkflowPreset p)
{
    switch (p) {
    case WorkflowPreset::currentRoom24h: return L("Elindult a 24 órás megfigyelés a szokásos helyen.");
    case WorkflowPreset::routerBaseline10m: return L("Elindult egy rövid alapmérés a router közelében.");
    case WorkflowPreset::alternateNodeCompare: return L("Elindult az összehasonlítás egy másik hozzáférési ponton.");
    case WorkflowPreset::eveningPeak: return L("Elindult az esti csúcsidő megfigyelése.");
    }
    return {};
}

QString title(ExportScope s)
{
    switch (s) {
    case ExportScope::currentDay: return QStringLiteral("Today");
    case ExportScope::previousDay: return L("Previous day");
    case ExportScope::last24Hours: return L("Last 24 hours");
    }
    return {};
}

QString actionTitle(ExportScope s)
{
    switch (s) {
    case ExportScope::currentDay: return L("Mai nap exportálása");
    case ExportScope::previousDay: return L("Előző nap exportálása");
    case ExportScope::last24Hours: return L("Utolsó 24 óra exportálása");
    }
    return {};
}

QString title(LiveStatus s)
{
    switch (s) {
    case LiveStatus::healthy: return L("Rendben");
    case LiveStatus::degraded: return QStringLiteral("Romlott");
    case LiveStatus::offline: return L("Nincs kapcsolat");
    case LiveStatus::reassociating: return L("Hozzáférési pontot vált");
    }
    return {};
}

QString symbolName(LiveStatus s)
{
    switch (s) {
    case LiveStatus::healthy: return QStringLiteral("checkmark.circle.fill");
    case LiveStatus::degraded: return QStringLiteral("exclamationmark.triangle.fill");
    case LiveStatus::offline: return QStringLiteral("wifi.slash");
    case LiveStatus::reassociating: return QStringLiteral("arrow.triangle.2.circlepath.circle.fill");
    }
    return {};
}

// ---------------------------------------------------------------------------------------------
namespace {
struct Hasher {
    std::size_t h = 1469598103934665603ULL;
    void bytes(const void* p, std::size_t n)
    {
        const auto* b = static_cast<const unsigned char*>(p);
        for (std::size_t i = 0; i < n; ++i) {
            h ^= b[i];
            h *= 1099511628211ULL;
        }
    }
    void text(const QString& s)
    {
        const QByteArray u = s.toUtf8();
        const std::size_t n = static_cast<std::size_t>(u.size());
        bytes(&n, sizeof n);
        bytes(u.constData(), n);
    }
    void integer(long long v) { bytes(&v, sizeof v); }
    void marker(bool present) { integer(present ? 1 : 0); }
    void optText(const std::optional<QString>& s)
    {
        marker(s.has_value());
        if (s) text(*s);
    }
    void optInt(const std::optional<int>& v)
    {
        marker(v.has_value());
        if (v) integer(*v);
    }
};
} // namespace

std::size_t hashValue(const ProbeTarget& t)
{
    Hasher h;
    h.text(t.id);
    h.text(rawValue(t.kind));
    h.text(t.label);
    h.text(t.host);
    return h.h;
}

std::size_t hashValue(const NodeFingerprint& f)
{
    Hasher h;
    h.optText(f.ssid);
    h.optText(f.bssid);
    h.optInt(f.channel);
    h.optText(f.band);
    return h.h;
}

} // namespace pv
