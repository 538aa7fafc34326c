// The quality evaluator: collecting windows, the score and its deductions, the verdict, the
// weaknesses, the comparison with the 10/10 reference and the Wi-Fi node-change test.
#include "AnalysisFixtures.h"

#include "core/analysis/QualityEvaluator.h"

#include <gtest/gtest.h>

using namespace pv;
using namespace pv::test;

namespace {

constexpr double kStart = 1'700'000'000;

MeasurementSession session(Timestamp startedAt = kStart)
{
    MeasurementSession s;
    s.id = QUuid::createUuid();
    s.startedAt = startedAt;
    return s;
}

// One probe batch every 5 s over [kStart, kStart + seconds]: router, two public hosts, HTTP and DNS,
// all answering with these latencies.
struct Latencies {
    double gw = 5;
    double pub = 20;
    double dns = 10;
    double http = 100;
};

std::vector<NetworkSample> batches(double seconds, Latencies l = {})
{
    std::vector<NetworkSample> s;
    for (double t = kStart; t <= kStart + seconds; t += 5) {
        const QUuid b = QUuid::createUuid();
        s.push_back(sample(ProbeKind::gateway, t, l.gw, 0.0, std::nullopt, b));
        s.push_back(sample(ProbeKind::publicIP, t, l.pub, 0.0, std::nullopt, b));
        s.push_back(sample(ProbeKind::publicIP, t, l.pub, 0.0, std::nullopt, b));
        s.push_back(sample(ProbeKind::http, t, l.http, 0.0, std::nullopt, b));
        s.push_back(sample(ProbeKind::dns, t, l.dns, 0.0, std::nullopt, b));
    }
    return s;
}

std::vector<WifiSnapshot> goodRadio(double seconds)
{
    std::vector<WifiSnapshot> w;
    for (double t = kStart; t <= kStart + seconds; t += 8)
        w.push_back(wifiReading(t, -50, -90, QStringLiteral("aa:aa:aa:aa:aa:01"), true, 866));
    return w;
}

// Fails every sample of the batch at index i (and keeps it otherwise as it was).
void failBatch(std::vector<NetworkSample>& s, std::size_t batchIndex, bool dropDns = false)
{
    const QUuid b = s[batchIndex * 5].batchID;
    for (auto it = s.begin(); it != s.end();) {
        if (it->batchID == b && dropDns && it->target.kind == ProbeKind::dns) {
            it = s.erase(it);
            continue;
        }
        if (it->batchID == b) {
            it->success = false;
            it->latencyMilliseconds.reset();
            it->packetLoss = 1.0;
        }
        ++it;
    }
}

QualityBaseline reference(double absoluteScore, std::optional<double> gwMean = std::nullopt,
                          std::optional<double> allMeans = std::nullopt)
{
    QualityBaseline b;
    b.savedAt = kStart - 100;
    b.nodeFingerprint.ssid = QStringLiteral("Otthon");
    b.nodeFingerprint.bssid = QStringLiteral("aa:aa:aa:aa:aa:01");
    b.nodeFingerprint.channel = 36;
    b.absoluteScore = absoluteScore;
    b.assessment.gateway.averageLatency = gwMean ? gwMean : allMeans;
    b.assessment.publicIP.averageLatency = allMeans;
    b.assessment.dns.averageLatency = allMeans;
    b.assessment.http.averageLatency = allMeans;
    return b;
}

QualityAssessment tenMinutes(const std::vector<NetworkSample>& s, const std::vector<WifiSnapshot>& w = {},
                             const std::vector<Incident>& incidents = {}, const std::vector<DiagnosticEvent>& events = {},
                             const std::optional<QualityBaseline>& baseline = std::nullopt,
                             std::optional<Timestamp> clock = std::nullopt)
{
    return QualityEvaluator::evaluate(QualityWindow::tenMinutes, session(), kStart + 600, s, w, incidents, events, baseline,
                                      clock);
}

const QString kNoWeakness = QStringLiteral("Ebben az ablakban nincs számottevő gyenge pont.");
const QString kDropout = QStringLiteral("Volt teljes vagy majdnem teljes kimaradás.");
const QString kGatewayWeak = QStringLiteral("A gateway késleltetése rosszabb a referenciaértéknél.");
const QString kDnsWeak = QStringLiteral("A DNS válaszideje lassabb a referenciaablaknál.");

} // namespace

// ---------------------------------------------------------------------------------------------
TEST(QualityCollecting, EmptyOrShortWindows)
{
    // No samples at all: collecting, even when the session is older than the window.
    const QualityAssessment empty =
        QualityEvaluator::evaluate(QualityWindow::tenMinutes, session(), kStart + 900, {}, {}, {}, {}, std::nullopt);
    EXPECT_EQ(empty.availability, QualityAvailability::collecting);
    EXPECT_EQ(empty.summary, QStringLiteral("Waiting for the first complete probe batch."));
    EXPECT_EQ(empty.title, QStringLiteral("Az első 10 perc gyűjtése"));
    EXPECT_EQ(empty.verdict, QualityVerdict::usableWithCallRisk);
    EXPECT_EQ(empty.useCaseHint, QStringLiteral("Leave the app running on the current node until this window becomes available."));
    EXPECT_EQ(empty.weaknessSummary, QStringLiteral("Not enough data yet."));
    EXPECT_EQ(empty.comparisonSummary, QStringLiteral("The 10/10 reference baseline has not been learned yet."));
    EXPECT_EQ(empty.windowEndedAt, kStart + 900);
    EXPECT_EQ(empty.windowStartedAt, kStart);
    EXPECT_EQ(empty.elapsedSeconds, 900);
    EXPECT_EQ(empty.gateway.id, QStringLiteral("gateway"));
    EXPECT_EQ(empty.publicIP.title, QStringLiteral("Public IP"));
    EXPECT_EQ(empty.wifi.title, QStringLiteral("Wi-Fi"));
    EXPECT_EQ(empty.http.totalCount, 0);
    EXPECT_FALSE(empty.dns.successRatio);

    // 250 s short of ten minutes; the newest sample moves the window's end.
    const auto s = batches(350);
    const QualityAssessment shortWindow =
        QualityEvaluator::evaluate(QualityWindow::tenMinutes, session(), kStart + 300, s, {}, {}, {}, reference(9));
    EXPECT_EQ(shortWindow.availability, QualityAvailability::collecting);
    EXPECT_EQ(shortWindow.summary, QStringLiteral("Needs 4m 10s more data before this window can be rated."));
    EXPECT_EQ(shortWindow.windowEndedAt, kStart + 350);
    EXPECT_EQ(shortWindow.comparisonSummary, QStringLiteral("Reference 10/10 learned on Otthon / aa:aa:aa:aa:aa:01 / ch 36."));
}

TEST(QualityCollecting, DurationText)
{
    const std::pair<double, const char*> cases[] = {
        {250, "4m 10s"}, {3600, "1h 0m"}, {0.4, "1s"}, {0, "0s"}, {-5, "0s"}, {59.01, "1m 0s"}, {7325, "2h 2m"}, {86400, "24h 0m"}};
    for (const auto& [seconds, text] : cases)
        EXPECT_EQ(QualityEvaluator::durationText(seconds), QString::fromLatin1(text)) << seconds;
}

// ---------------------------------------------------------------------------------------------
TEST(QualityScore, APerfectWindow)
{
    const QualityAssessment a = tenMinutes(batches(600), goodRadio(600));
    EXPECT_EQ(a.availability, QualityAvailability::ready);
    EXPECT_EQ(a.score, 10.0);
    EXPECT_EQ(a.absoluteScore, 10.0);
    EXPECT_EQ(a.percentage, 100);
    EXPECT_EQ(a.verdict, QualityVerdict::excellent);
    EXPECT_EQ(a.title, QStringLiteral("Kiváló"));
    EXPECT_EQ(a.summary, QStringLiteral("Kiváló. ") + kNoWeakness);
    EXPECT_EQ(a.useCaseHint, QStringLiteral("Hívásra, streamre és letöltésre is jó."));
    EXPECT_EQ(a.comparisonSummary, QStringLiteral("A 10/10 referencia még nincs elmentve. Amint összegyűlik egy jobb 10 perces "
                                                  "szakasz, ehhez fog mérni."));
    EXPECT_EQ(a.windowStartedAt, kStart);
    EXPECT_EQ(a.windowEndedAt, kStart + 600);
    EXPECT_EQ(a.gateway.totalCount, 121);
    EXPECT_EQ(a.publicIP.totalCount, 242);
    EXPECT_EQ(a.publicIP.successRatio, 1.0);
    EXPECT_EQ(a.http.averageLatency, 100.0);
    EXPECT_EQ(a.wifi.averageSNR, 40.0);
    EXPECT_EQ(a.wifi.weakSampleCount, 0);
    EXPECT_EQ(a.dropoutCount, 0);
}

TEST(QualityScore, OneOutageBatchIsADropout)
{
    auto s = batches(600);
    failBatch(s, 60);
    const QualityAssessment a = tenMinutes(s, goodRadio(600));
    EXPECT_EQ(a.dropoutCount, 1);
    EXPECT_EQ(a.verdict, QualityVerdict::frequentDropouts);
    // The failures of the batch cost 4.2/121 + 3.4 * 2/242 + 1/121 + 1.8/121; the dropout costs its
    // cap of 3.0 (uncapped it would be 1 / (600/3600) * 0.7 + 0.8 = 5.0).
    const double expected = 10 - 4.2 / 121 - 3.4 * 2 / 242 - 1.0 / 121 - 1.8 / 121 - 3.0;
    EXPECT_EQ(a.absoluteScore, std::round(expected * 10) / 10);
    EXPECT_EQ(a.absoluteScore, 6.9);
    EXPECT_TRUE(a.weaknessSummary.startsWith(kDropout));

    // Without a DNS sample the same failures are no outage batch.
    auto noDns = batches(600);
    failBatch(noDns, 60, true);
    EXPECT_EQ(tenMinutes(noDns, goodRadio(600)).dropoutCount, 0);

    // Offline incidents and outage batches: the larger count, plus every cycle without a route.
    const std::vector<Incident> offline{incident(IncidentClassification::offline, kStart + 100, kStart + 110),
                                        incident(IncidentClassification::offline, kStart + 200, kStart + 210)};
    DiagnosticEvent noRoute;
    noRoute.timestamp = kStart + 400;
    noRoute.kind = DiagnosticEventKind::pathChanged;
    noRoute.details = QStringLiteral("No default route was available during the probe cycle.");
    DiagnosticEvent otherKind = noRoute;
    otherKind.kind = DiagnosticEventKind::gatewayChanged;
    EXPECT_EQ(tenMinutes(s, {}, offline, {noRoute, otherKind}).dropoutCount, 3);
}

TEST(QualityScore, LowSuccessRatioForcesDropoutsWithoutTheSentence)
{
    auto s = batches(600);
    int failed = 0;
    for (auto& x : s)
        if (x.target.kind == ProbeKind::gateway && failed < 11) { // 110 of 121 = 0.909
            x.success = false;
            ++failed;
        }
    const QualityAssessment a = tenMinutes(s, goodRadio(600));
    EXPECT_LT(*a.gateway.successRatio, 0.92);
    EXPECT_GT(a.score, 9.0);
    EXPECT_EQ(a.verdict, QualityVerdict::frequentDropouts);
    EXPECT_EQ(a.dropoutCount, 0);
    EXPECT_EQ(a.weaknessSummary, kNoWeakness);
}

TEST(QualityScore, RelativeToTheReference)
{
    // Each probe kind loses exactly 1.0 for its mean latency; the reference means keep spikes away.
    const auto s = batches(600, {.gw = 198, .pub = 250, .dns = 625, .http = 920});
    const QualityAssessment a = tenMinutes(s, {}, {}, {}, reference(8.0, std::nullopt, 1000));
    EXPECT_EQ(a.absoluteScore, 6.0);
    EXPECT_EQ(a.score, 7.5);
    EXPECT_EQ(a.percentage, 75);
    EXPECT_EQ(a.verdict, QualityVerdict::fastWithSlowdowns);
    EXPECT_EQ(a.title, QStringLiteral("Gyors, de időnként lassul"));
    EXPECT_EQ(a.comparisonSummary,
              QStringLiteral("75% az eddigi legjobb 10 perchez képest. Referencia: Otthon / aa:aa:aa:aa:aa:01 / ch 36."));

    // A reference of 0 leaves the score absolute, and the comparison still quotes it.
    const QualityAssessment zero = tenMinutes(s, {}, {}, {}, reference(0, std::nullopt, 1000));
    EXPECT_EQ(zero.score, 6.0);
    EXPECT_EQ(zero.percentage, 60);
    EXPECT_EQ(zero.verdict, QualityVerdict::usableWithCallRisk);
    EXPECT_TRUE(zero.comparisonSummary.startsWith(QStringLiteral("60% az eddigi legjobb 10 perchez képest. Referencia: ")));

    // A weaker reference caps the relative score at 10.
    EXPECT_EQ(tenMinutes(batches(600), goodRadio(600), {}, {}, reference(5)).score, 10.0);
}

TEST(QualityScore, SpikeLimitGrowsWithTheReference)
{
    auto s = batches(600);
    int n = 0;
    for (auto& x : s)
        if (x.target.kind == ProbeKind::gateway)
            x.latencyMilliseconds = (n++ % 2) ? 150.0 : 160.0;
    EXPECT_EQ(tenMinutes(s).gateway.spikeCount, 121);                      // default limit 120
    EXPECT_EQ(tenMinutes(s, {}, {}, {}, reference(9, 80)).gateway.spikeCount, 61); // from 160 on
    EXPECT_EQ(tenMinutes(s, {}, {}, {}, reference(9, 40)).gateway.spikeCount, 121); // 80 < 120
}

TEST(QualityScore, IncidentsAndOpenIncidentDuration)
{
    // An open incident from minute 5; the clock reads 20 minutes after the window ends.
    const std::vector<Incident> open{incident(IncidentClassification::unknown, kStart + 300, std::nullopt)};
    const QualityAssessment atEnd = tenMinutes(batches(600), goodRadio(600), open);
    const QualityAssessment later = tenMinutes(batches(600), goodRadio(600), open, {}, std::nullopt, kStart + 1200);
    // count term 0.2 / (1/6) * 0.25 = 0.3; duration term 2 * 300 * 0.2 / 600 = 0.2, or with 900 s 0.6.
    EXPECT_EQ(atEnd.absoluteScore, 9.5);
    EXPECT_EQ(later.absoluteScore, 9.1);
    EXPECT_EQ(later.incidentCount, 1);

    // Overlap test: an incident that ended before the window or starts after it does not count.
    const std::vector<Incident> outside{incident(IncidentClassification::offline, kStart - 50, kStart - 1),
                                        incident(IncidentClassification::offline, kStart + 601, std::nullopt),
                                        incident(IncidentClassification::reassociationOrRoam, kStart - 50, kStart)};
    const QualityAssessment o = tenMinutes(batches(600), goodRadio(600), outside);
    EXPECT_EQ(o.incidentCount, 1);
    EXPECT_EQ(o.dropoutCount, 0);
    EXPECT_EQ(o.weaknessSummary, QStringLiteral("A kliens hozzáférési pontot váltott ebben az ablakban."));
}

TEST(QualityWeaknesses, OnlyTheFirstTwoAreKept)
{
    auto s = batches(600, {.gw = 80, .pub = 20, .dns = 130, .http = 100});
    failBatch(s, 10);
    const QualityAssessment a = tenMinutes(s);
    EXPECT_EQ(a.weaknessSummary, kDropout + QStringLiteral(" ") + kGatewayWeak);
    EXPECT_EQ(a.summary, QStringLiteral("Gyakori kimaradás. ") + kDropout + QStringLiteral(" ") + kGatewayWeak);

    // Each test on its own, in order.
    struct Case {
        const char* name;
        Latencies latencies;
        int rssi;
        int noise;
        const char* sentence;
    };
    const Case cases[] = {
        {"public", {.pub = 95}, -50, -90, "A publikus internet válasza tüskésebb a szokásosnál."},
        {"dns", {.dns = 120}, -50, -90, "A DNS válaszideje lassabb a referenciaablaknál."},
        {"http", {.http = 950}, -50, -90, "A webes válaszidő időnként nagy tüskéket mutat."},
        {"rssi", {}, -67, -95, "A Wi-Fi jel gyenge, ezért a kapcsolat hullámzik."},
        {"snr", {}, -60, -75, "A zajszinthez képest kevés a hasznos jel."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<WifiSnapshot> w{wifiReading(kStart + 10, c.rssi, c.noise)};
        EXPECT_EQ(tenMinutes(batches(600, c.latencies), w).weaknessSummary, QString::fromUtf8(c.sentence));
    }
    // The thresholds scale with the reference: a gateway mean of 80 against a reference of 50 is fine.
    EXPECT_EQ(tenMinutes(batches(600, {.gw = 80}), {}, {}, {}, reference(9, 50)).weaknessSummary, kNoWeakness);
    EXPECT_EQ(tenMinutes(batches(600, {.gw = 85}), {}, {}, {}, reference(9, 50)).weaknessSummary, kGatewayWeak);
}

TEST(QualityWifi, SummaryAndPenalty)
{
    // One reading in three weak by its rate alone; each average is over the readings that carry it.
    std::vector<WifiSnapshot> w{wifiReading(kStart + 1, -60, -90, QStringLiteral("a"), true, 150),
                                wifiReading(kStart + 2, -60, std::nullopt, QStringLiteral("a"), true, std::nullopt),
                                wifiReading(kStart + 3, -60, -90, QStringLiteral("a"), true, std::nullopt)};
    const QualityAssessment a = tenMinutes(batches(600), w);
    EXPECT_EQ(a.wifi.totalCount, 3);
    EXPECT_EQ(a.wifi.averageRSSI, -60.0);
    EXPECT_EQ(a.wifi.averageSNR, 30.0);
    EXPECT_EQ(a.wifi.averageTxRateMbps, 150.0);
    EXPECT_EQ(a.wifi.weakSampleCount, 1);
    // (300 - 150) / 250 = 0.6 and 1/3 * 0.9 = 0.3.
    EXPECT_EQ(a.absoluteScore, 9.1);
}

TEST(QualityNodeChange, FingerprintsOnly)
{
    const WifiSnapshot a = wifiReading(0, -50, -90, QStringLiteral("aa"));
    WifiSnapshot weaker = a;
    weaker.rssi = -80;
    weaker.timestamp = 50;
    const WifiSnapshot other = wifiReading(0, -50, -90, QStringLiteral("bb"));
    EXPECT_FALSE(QualityEvaluator::hasNodeChanged(std::nullopt, a));
    EXPECT_FALSE(QualityEvaluator::hasNodeChanged(a, std::nullopt));
    EXPECT_FALSE(QualityEvaluator::hasNodeChanged(a, weaker));
    EXPECT_TRUE(QualityEvaluator::hasNodeChanged(a, other));
}
