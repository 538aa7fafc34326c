#include "core/records/Records.h"

#include <gtest/gtest.h>

#include <QJsonDocument>

#include <limits>

#include <unordered_set>

using namespace pv;

namespace {
NetworkSample makeSample()
{
    NetworkSample s;
    s.id = QUuid::createUuid();
    s.batchID = QUuid::createUuid();
    s.timestamp = 1700000000.125;
    s.target = ProbeTarget(ProbeKind::publicIP, QStringLiteral("Cloudflare"), QStringLiteral("1.1.1.1"));
    s.route = {1700000000.125, QStringLiteral("wlan0"), QStringLiteral("192.168.1.23"), QStringLiteral("192.168.1.1")};
    s.latencyMilliseconds = 14.5;
    s.success = true;
    s.timeoutCount = 0;
    s.packetLoss = 0.0;
    return s;
}
} // namespace

TEST(RecordsTarget, IdIsKindDashHost)
{
    EXPECT_EQ(ProbeTarget(ProbeKind::gateway, QStringLiteral("Router"), QStringLiteral("192.168.1.1")).id,
              QStringLiteral("gateway-192.168.1.1"));
    EXPECT_EQ(ProbeTarget(ProbeKind::gateway, QStringLiteral("Router"), QString()).id, QStringLiteral("gateway-"));
    EXPECT_EQ(ProbeTarget(ProbeKind::http, {}, QStringLiteral("http://x/y")).id, QStringLiteral("http-http://x/y"));
}

TEST(RecordsTarget, DecodingKeepsTheStoredId)
{
    ProbeTarget t(ProbeKind::dns, QStringLiteral("DNS resolve"), QStringLiteral("a.b"));
    QJsonObject o = t.toJson();
    o.insert(QStringLiteral("id"), QStringLiteral("something-else"));
    EXPECT_EQ(ProbeTarget::fromJson(o).id, QStringLiteral("something-else"));
}

TEST(RecordsEnums, RawValuesAreExactAndCaseSensitive)
{
    EXPECT_EQ(rawValue(IncidentClassification::wifiLinkDegraded), QStringLiteral("wifi_link_degraded"));
    EXPECT_FALSE(parseIncidentClassification(QStringLiteral("wifiLinkDegraded")).has_value());
    EXPECT_EQ(parseIncidentClassification(QStringLiteral("dns_only_issue")), IncidentClassification::dnsOnlyIssue);
    EXPECT_EQ(parseDiagnosticEventKind(QStringLiteral("localAddressChanged")), DiagnosticEventKind::localAddressChanged);
    EXPECT_FALSE(parseDiagnosticEventKind(QStringLiteral("LocalAddressChanged")).has_value());
    EXPECT_FALSE(parseDiagnosticEventKind(QStringLiteral("localaddresschanged")).has_value());
    EXPECT_FALSE(parseProbeKind(QStringLiteral("publicip")).has_value());
    EXPECT_EQ(allDiagnosticEventKinds().size(), 16u);
    EXPECT_EQ(allDiagnosticEventKinds().front(), DiagnosticEventKind::monitoringStarted);
    EXPECT_EQ(allDiagnosticEventKinds().back(), DiagnosticEventKind::exportCompleted);
    // Every case survives its own raw value.
    for (auto k : allDiagnosticEventKinds())
        EXPECT_EQ(parseDiagnosticEventKind(rawValue(k)), k);
    for (auto c : allIncidentClassifications())
        EXPECT_EQ(parseIncidentClassification(rawValue(c)), c);
}

TEST(RecordsTexts, TitlesAndSymbols)
{
    EXPECT_EQ(title(IncidentClassification::offline), QStringLiteral("Teljes kiesés"));
    EXPECT_EQ(title(LiveStatus::degraded), QStringLiteral("Romlott"));
    EXPECT_EQ(symbolName(LiveStatus::offline), QStringLiteral("wifi.slash"));
    EXPECT_EQ(title(ExportScope::currentDay), QStringLiteral("Today"));
    EXPECT_EQ(actionTitle(ExportScope::last24Hours), QStringLiteral("Utolsó 24 óra exportálása"));
    EXPECT_EQ(noteTemplate(WorkflowPreset::eveningPeak), QStringLiteral("Elindult az esti csúcsidő megfigyelése."));
}

TEST(RecordsWifi, SnrAndFingerprint)
{
    WifiSnapshot w;
    w.rssi = -60;
    w.noise = -92;
    EXPECT_EQ(w.snr(), 32);
    w.noise.reset();
    EXPECT_FALSE(w.snr().has_value());
    w.noise = -92;
    w.rssi.reset();
    EXPECT_FALSE(w.snr().has_value());

    w.ssid = QStringLiteral("Otthon");
    w.channel = 36;
    EXPECT_EQ(w.nodeFingerprint(), (NodeFingerprint{QStringLiteral("Otthon"), std::nullopt, 36, std::nullopt}));
}

TEST(RecordsWifi, EmptyFingerprintSummaryAndNodeId)
{
    const NodeFingerprint empty;
    EXPECT_EQ(empty.summary(), QStringLiteral("Hidden network / Unknown BSSID / ch ?"));
    const NodeSummary node(empty, 3, 10, 20, std::nullopt, std::nullopt, std::nullopt, std::nullopt);
    EXPECT_EQ(node.id, QStringLiteral("hidden|unknown|?|?"));
    const NodeFingerprint full{QStringLiteral("Net"), QStringLiteral("aa:bb"), 6, QStringLiteral("2.4 GHz")};
    EXPECT_EQ(full.summary(), QStringLiteral("Net / aa:bb / ch 6"));
    EXPECT_EQ(NodeSummary(full, 1, 0, 0, {}, {}, {}, {}).id, QStringLiteral("Net|aa:bb|6|2.4 GHz"));
}

TEST(RecordsHash, FieldsAndPresenceCount)
{
    const NodeFingerprint a{QStringLiteral("x"), std::nullopt, std::nullopt, std::nullopt};
    const NodeFingerprint b{std::nullopt, QStringLiteral("x"), std::nullopt, std::nullopt};
    EXPECT_NE(std::hash<NodeFingerprint>{}(a), std::hash<NodeFingerprint>{}(b));
    std::unordered_set<NodeFingerprint> set{a, b, a};
    EXPECT_EQ(set.size(), 2u);
    std::unordered_set<ProbeTarget> targets{ProbeTarget(ProbeKind::gateway, QStringLiteral("Router"), QStringLiteral("1")),
                                            ProbeTarget(ProbeKind::gateway, QStringLiteral("Router"), QStringLiteral("1"))};
    EXPECT_EQ(targets.size(), 1u);
}

TEST(RecordsIncident, DurationIsSignedAndUsesNowWhileOpen)
{
    Incident i;
    i.startTimestamp = 100;
    EXPECT_TRUE(i.isOpen());
    EXPECT_DOUBLE_EQ(i.duration(160), 60);
    EXPECT_DOUBLE_EQ(i.duration(200), 100);
    i.endTimestamp = 90;
    EXPECT_FALSE(i.isOpen());
    EXPECT_DOUBLE_EQ(i.duration(1000), -10);
}

TEST(RecordsJson, SampleRoundTripAndOmittedOptionals)
{
    NetworkSample s = makeSample();
    EXPECT_EQ(NetworkSample::fromJson(s.toJson()), s);

    s.latencyMilliseconds.reset();
    s.packetLoss.reset();
    s.errorDescription.reset();
    const QJsonObject o = s.toJson();
    EXPECT_FALSE(o.contains(QStringLiteral("latencyMilliseconds")));
    EXPECT_FALSE(o.contains(QStringLiteral("packetLoss")));
    EXPECT_FALSE(o.contains(QStringLiteral("errorDescription")));
    EXPECT_EQ(NetworkSample::fromJson(o), s);
    EXPECT_EQ(o.value(QStringLiteral("id")).toString(), s.id.toString(QUuid::WithoutBraces).toUpper());

    QJsonObject missing = o;
    missing.remove(QStringLiteral("success"));
    EXPECT_THROW(NetworkSample::fromJson(missing), json::DecodeError);
}

TEST(RecordsJson, EveryEncodableRecordRoundTrips)
{
    WifiSnapshot w;
    w.id = QUuid::createUuid();
    w.timestamp = 1.5;
    w.interfaceName = QStringLiteral("wlan0");
    w.localAddress = QStringLiteral("10.0.0.2");
    w.gatewayAddress = QStringLiteral("10.0.0.1");
    w.ssid = QStringLiteral("Árvíztűrő");
    w.rssi = -61;
    w.noise = -95;
    w.txRateMbps = 866.7;
    w.phyMode = QStringLiteral("802.11ac");
    w.interfaceUp = true;
    EXPECT_EQ(WifiSnapshot::fromJson(w.toJson()), w);

    Incident i{QUuid::createUuid(), 10, 20.5, IncidentClassification::gatewayCongestion, IncidentSeverity::critical, 0.7,
               QStringLiteral("evidence")};
    EXPECT_EQ(Incident::fromJson(i.toJson()), i);
    i.endTimestamp.reset();
    EXPECT_EQ(Incident::fromJson(i.toJson()), i);
    EXPECT_EQ(i.toJson().value(QStringLiteral("classification")).toString(), QStringLiteral("gateway_congestion"));

    DiagnosticEvent e{QUuid::createUuid(), 3, DiagnosticEventKind::wake, QStringLiteral("The Mac woke up.")};
    EXPECT_EQ(DiagnosticEvent::fromJson(e.toJson()), e);
    ManualMarker m{QUuid::createUuid(), 4, QStringLiteral("eveningPeak"), QStringLiteral("note")};
    EXPECT_EQ(ManualMarker::fromJson(m.toJson()), m);
    RouteSnapshot r{5, QStringLiteral("eth0"), QStringLiteral("a"), QStringLiteral("b")};
    EXPECT_EQ(RouteSnapshot::fromJson(r.toJson()), r);
    EXPECT_EQ(r.toJson().keys().size(), 4); // a route without IPv6 writes what it always wrote
    r.ipv6LocalAddress = QStringLiteral("fd77::2");
    r.ipv6GatewayAddress = QStringLiteral("fe80::1");
    r.hasIPv4 = false;
    EXPECT_EQ(RouteSnapshot::fromJson(r.toJson()), r);
    EXPECT_EQ(r.forFamily(AddressFamily::ipv6), (RouteSnapshot{5, QStringLiteral("eth0"), QStringLiteral("fd77::2"),
                                                               QStringLiteral("fe80::1")}));
    NodeFingerprint f{std::nullopt, QStringLiteral("aa"), 11, std::nullopt};
    EXPECT_EQ(NodeFingerprint::fromJson(f.toJson()), f);
}

TEST(RecordsJson, MalformedInputIsAClearErrorNeverACrash)
{
    const NetworkSample s = makeSample();
    const QJsonObject good = s.toJson();

    auto withValue = [&](const char* key, QJsonValue v) {
        QJsonObject o = good;
        o.insert(QLatin1String(key), v);
        return o;
    };
    EXPECT_THROW(NetworkSample::fromJson(withValue("success", QStringLiteral("yes"))), json::DecodeError);
    EXPECT_THROW(NetworkSample::fromJson(withValue("timeoutCount", 1.5)), json::DecodeError);
    EXPECT_THROW(NetworkSample::fromJson(withValue("id", QStringLiteral("not-a-uuid"))), json::DecodeError);
    EXPECT_THROW(NetworkSample::fromJson(withValue("timestamp", QJsonValue())), json::DecodeError);
    EXPECT_THROW(NetworkSample::fromJson(withValue("target", QJsonArray())), json::DecodeError);
    // An integral double is accepted for a whole number.
    EXPECT_EQ(NetworkSample::fromJson(withValue("timeoutCount", 2.0)).timeoutCount, 2);

    QJsonObject badKind = good;
    QJsonObject target = badKind.value(QStringLiteral("target")).toObject();
    target.insert(QStringLiteral("kind"), QStringLiteral("Gateway"));
    badKind.insert(QStringLiteral("target"), target);
    try {
        NetworkSample::fromJson(badKind);
        FAIL() << "an unknown kind must not decode";
    } catch (const json::DecodeError& e) {
        EXPECT_NE(std::string(e.what()).find("kind"), std::string::npos) << e.what();
    }

    EXPECT_THROW(json::parseObject("{\"a\":"), json::DecodeError);
    EXPECT_THROW(json::parseObject("[1,2]"), json::DecodeError);
    EXPECT_THROW(json::parseObject(QByteArray("\xff\xfe\x00", 3)), json::DecodeError);
}

TEST(RecordsJson, NonFiniteNumbersAreNeverEncoded)
{
    NetworkSample s = makeSample();
    s.latencyMilliseconds = std::numeric_limits<double>::quiet_NaN();
    EXPECT_THROW(s.toJson(), json::EncodeError);
    s.latencyMilliseconds = std::numeric_limits<double>::infinity();
    EXPECT_THROW(s.toJson(), json::EncodeError);
}
