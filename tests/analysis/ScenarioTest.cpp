// One scenario per fault location: a few minutes of synthetic probe batches and Wi-Fi readings as
// the probes produce them (a batch about every 4.5 s: router, two public hosts and the HTTP page,
// a DNS query on every fourth batch; a Wi-Fi reading every 8 s), and what the user then sees: the
// attribution, the per-usage verdict and the advice.
#include "AnalysisFixtures.h"

#include "core/analysis/Advice.h"
#include "core/analysis/Attribution.h"
#include "core/analysis/Verdict.h"

#include <gtest/gtest.h>

#include <QRegularExpression>

#include <algorithm>
#include <functional>
#include <random>

using namespace pv;
using namespace pv::test;

namespace {

// One probed leg: typical latency, random spread around it, and every lossEvery-th echo (or request)
// lost; lossEvery 1 means nothing answers, 0 means nothing is lost.
struct LegProfile {
    double latency = 10;
    double spread = 0;
    int lossEvery = 0;
};

struct RadioProfile {
    bool present = true; // false: a wired link, no readings at all
    std::optional<int> rssi = -52;
    std::optional<int> noise = -92;
    bool interfaceUp = true;
    bool roamsInTheLastMinute = false;
};

struct Scenario {
    LegProfile gateway;
    LegProfile publicHosts;
    LegProfile http;
    LegProfile dns;
    RadioProfile radio;
    double seconds = 180;
};

struct Observation {
    std::vector<NetworkSample> samples;
    std::vector<WifiSnapshot> wifi;
};

class ProbeSimulator {
public:
    explicit ProbeSimulator(unsigned seed) : rng_(seed) {}

    Observation run(const Scenario& sc)
    {
        Observation out;
        const Timestamp t0 = 1'700'000'000;
        Timestamp t = t0;
        int batch = 0;
        while (t < t0 + sc.seconds) {
            ++batch;
            const QUuid id = QUuid::createUuid();
            double longest = 0;
            out.samples.push_back(echoSeries(ProbeKind::gateway, "Router", "192.0.2.1", sc.gateway, gwEchoes_, id, t, longest));
            out.samples.push_back(echoSeries(ProbeKind::publicIP, "Cloudflare", "1.1.1.1", sc.publicHosts, pubEchoes_, id, t, longest));
            out.samples.push_back(echoSeries(ProbeKind::publicIP, "Google DNS", "8.8.8.8", sc.publicHosts, pubEchoes_, id, t, longest));
            out.samples.push_back(request(ProbeKind::http, "HTTP probe", "http://captive.example/hotspot-detect.html", sc.http,
                                          httpRequests_, id, t, 5.0, longest));
            if (batch % 4 == 1) {
                double dnsTime = 0;
                out.samples.push_back(request(ProbeKind::dns, "DNS resolve", "pvabcdefghijkl.probe.example.com", sc.dns,
                                              dnsRequests_, id, t + longest, 3.0, dnsTime));
                longest += dnsTime;
            }
            t += longest + 4.0; // the sampler sleeps 4 s after each batch
        }
        if (sc.radio.present) {
            for (Timestamp w = t0; w < t0 + sc.seconds; w += 8) {
                const bool roamed = sc.radio.roamsInTheLastMinute && w > t0 + sc.seconds - 60 &&
                                    static_cast<int>((w - t0) / 8) % 2 == 0;
                out.wifi.push_back(wifiReading(w, sc.radio.rssi, sc.radio.noise,
                                               roamed ? QStringLiteral("aa:aa:aa:aa:aa:02") : QStringLiteral("aa:aa:aa:aa:aa:01"),
                                               sc.radio.interfaceUp, 780));
            }
        }
        // The store hands samples back newest first; the engines must not care.
        std::reverse(out.samples.begin(), out.samples.end());
        return out;
    }

private:
    double draw(const LegProfile& p)
    {
        std::uniform_real_distribution<double> d(-p.spread, p.spread);
        return std::max(0.2, p.latency + d(rng_));
    }

    bool lost(const LegProfile& p, long long& counter)
    {
        ++counter;
        return p.lossEvery > 0 && counter % p.lossEvery == 0;
    }

    // Three echoes 0.12 s apart, 1.5 s time-out each; the sample carries the averaging median of
    // the replies, as the ICMP probe reports it.
    NetworkSample echoSeries(ProbeKind kind, const char* label, const char* host, const LegProfile& p, long long& counter,
                             const QUuid& batch, Timestamp start, double& longest)
    {
        std::vector<double> rtts;
        double elapsed = 0;
        for (int i = 0; i < 3; ++i) {
            if (lost(p, counter)) {
                elapsed += 1.5;
            } else {
                rtts.push_back(draw(p));
                elapsed += rtts.back() / 1000;
            }
            if (i < 2)
                elapsed += 0.12;
        }
        longest = std::max(longest, elapsed);
        std::sort(rtts.begin(), rtts.end());
        NetworkSample s;
        s.id = QUuid::createUuid();
        s.batchID = batch;
        s.timestamp = start + elapsed;
        s.target = ProbeTarget(kind, QString::fromLatin1(label), QString::fromLatin1(host));
        if (!rtts.empty()) {
            const std::size_t n = rtts.size();
            s.latencyMilliseconds = n % 2 ? rtts[n / 2] : (rtts[n / 2 - 1] + rtts[n / 2]) / 2;
        } else {
            s.errorDescription = QStringLiteral("A várakozási időn belül nem érkezett válasz.");
        }
        s.success = !rtts.empty();
        s.timeoutCount = 3 - static_cast<int>(rtts.size());
        s.packetLoss = (3.0 - static_cast<double>(rtts.size())) / 3.0;
        return s;
    }

    NetworkSample request(ProbeKind kind, const char* label, const char* host, const LegProfile& p, long long& counter,
                          const QUuid& batch, Timestamp start, double timeout, double& took)
    {
        NetworkSample s;
        s.id = QUuid::createUuid();
        s.batchID = batch;
        s.target = ProbeTarget(kind, QString::fromLatin1(label), QString::fromLatin1(host));
        if (lost(p, counter)) {
            took = std::max(took, timeout);
            s.success = false;
            s.timeoutCount = 1;
            s.packetLoss = 1.0;
            s.errorDescription = kind == ProbeKind::dns ? QStringLiteral("The resolver did not answer.")
                                                        : QStringLiteral("The request timed out.");
        } else {
            const double ms = draw(p);
            took = std::max(took, ms / 1000);
            s.latencyMilliseconds = ms;
            s.success = true;
            s.packetLoss = 0.0;
        }
        s.timestamp = start + took;
        return s;
    }

    std::mt19937 rng_;
    long long gwEchoes_ = 0, pubEchoes_ = 0, httpRequests_ = 0, dnsRequests_ = 0;
};

struct UserView {
    FaultAttribution attribution;
    ConnectionVerdict verdict;
    AdviceSet advice;       // as the live view shows it: without a radio assessment
    AdviceSet adviceRadio;  // with the radio assessment of the same readings
};

UserView observe(const Scenario& sc, unsigned seed = 1)
{
    const Observation o = ProbeSimulator(seed).run(sc);
    const AttributionEngine engine;
    UserView v;
    const Timestamp now = 1'700'000'000 + sc.seconds;
    v.attribution = engine.attribute(o.samples, o.wifi, now);
    v.verdict = VerdictEngine::assess(o.samples, now);
    v.advice = AdviceEngine::advise(v.attribution, std::nullopt);
    v.adviceRadio = AdviceEngine::advise(v.attribution, attribution::assessRadio(engine.thresholds(), o.wifi));
    return v;
}

#define EXPECT_MATCHES(text, pattern)                                                                                   \
    EXPECT_TRUE(QRegularExpression(QStringLiteral(pattern)).match(text).hasMatch()) << (text).toStdString()

const LegProfile kRouter{3, 1};
const LegProfile kPublic{18, 3};
const LegProfile kHttp{90, 10};
const LegProfile kDns{25, 5};

} // namespace

TEST(Scenario, Healthy)
{
    const UserView v = observe({kRouter, kPublic, kHttp, kDns, {}, 180});
    const FaultAttribution& a = v.attribution;
    EXPECT_EQ(a.location, FaultLocation::none);
    EXPECT_EQ(a.confidence, AttributionConfidence::high);
    EXPECT_FALSE(a.isFault());
    EXPECT_EQ(a.headline, QStringLiteral("A kapcsolat rendben van."));
    ASSERT_EQ(a.evidence.size(), 3);
    EXPECT_MATCHES(a.evidence[0], "^A válaszidő 1[5-9] ms, a csomagok 0\\.0%-a veszett el\\.$");
    EXPECT_MATCHES(a.evidence[1], "^A routered [2-4] ms alatt válaszol\\.$");
    EXPECT_EQ(a.evidence[2], QStringLiteral("A Wi-Fi jel a tervezési határ felett van."));

    EXPECT_EQ(ratingsOf(v.verdict), (std::array<CapabilityRating, 4>{CapabilityRating::comfortable, CapabilityRating::comfortable,
                                                                     CapabilityRating::comfortable, CapabilityRating::comfortable}));
    EXPECT_EQ(v.verdict.overallStatus(), PVStatus::good);
    EXPECT_EQ(v.verdict.evidence.last(), QStringLiteral("Minden csomag célba ért."));
    EXPECT_MATCHES(v.verdict.confidence.description(), "^\\d+ mérés [23] perc alatt\\.$");
    EXPECT_EQ(stepIds(v.advice), QStringList{QStringLiteral("healthy.none")});
    EXPECT_FALSE(v.advice.pointless);
}

TEST(Scenario, WifiWeakAndRoaming)
{
    const LegProfile gw{25, 15, 6};
    const LegProfile pub{45, 20, 6};
    const UserView v = observe({gw, pub, kHttp, kDns, {.rssi = -73, .noise = -90, .roamsInTheLastMinute = true}, 180});
    const FaultAttribution& a = v.attribution;
    EXPECT_EQ(a.location, FaultLocation::wifi);
    EXPECT_EQ(a.severity, IncidentSeverity::critical); // a sixth of the router echoes lost
    EXPECT_EQ(a.confidence, AttributionConfidence::high);
    EXPECT_EQ(a.headline, QStringLiteral("A Wi-Fi kapcsolatod a szűk keresztmetszet."));
    EXPECT_EQ(a.evidence.first(),
              QStringLiteral("A Wi-Fi jel -73 dBm. A tervezési határ -67 dBm, ez alatt a kapcsolat sebességet cserél stabilitásra."));
    EXPECT_MATCHES(a.evidence[1], "^A routerhez küldött csomagok 16\\.\\d%-a elveszett — két egy szobában lévő eszköz között ez nem normális\\.$");
    EXPECT_EQ(a.evidence.last(), QStringLiteral("Közben hozzáférési pontot is váltottál — ez a rádiós magyarázatot erősíti."));
    EXPECT_EQ(incidentClassification(a.location), IncidentClassification::wifiLinkDegraded);

    EXPECT_EQ(v.verdict.overallStatus(), PVStatus::serious);
    EXPECT_EQ(v.verdict.weakestCapability(), UsageCapability::videoCall);
    EXPECT_EQ(v.verdict.rating(UsageCapability::browsing), CapabilityRating::poor);

    EXPECT_EQ(v.advice.title, QStringLiteral("A Wi-Fi kapcsolaton múlik"));
    EXPECT_EQ(stepIds(v.advice), (QStringList{QStringLiteral("wifi.distance"), QStringLiteral("wifi.band"),
                                              QStringLiteral("wifi.channel"), QStringLiteral("wifi.verify")}));
    EXPECT_EQ(v.adviceRadio.steps.size(), 5u);
    EXPECT_EQ(v.adviceRadio.steps[1].id, QStringLiteral("wifi.roam"));
    EXPECT_TRUE(v.advice.pointless);
}

TEST(Scenario, RouterUnderLoad)
{
    const UserView v = observe({{160, 20}, {175, 20, 40}, {300, 30}, {190, 10}, {.rssi = -50, .noise = -90}, 180});
    const FaultAttribution& a = v.attribution;
    EXPECT_EQ(a.location, FaultLocation::router);
    EXPECT_EQ(a.severity, IncidentSeverity::critical); // the router's median is over 120 ms
    EXPECT_EQ(a.confidence, AttributionConfidence::moderate);
    EXPECT_EQ(a.headline, QStringLiteral("A routered vagy a helyi hálózatod a szűk keresztmetszet."));
    ASSERT_EQ(a.evidence.size(), 3);
    EXPECT_MATCHES(a.evidence[0], "^Az első ugrás 1[4-7]\\d ms, miközben egy egészséges helyi hálózaton ez néhány ms\\.$");
    EXPECT_MATCHES(a.evidence[1], "^A routeren túli szakasz ehhez képest \\d+ ms — a késés nagyobb része a routerig keletkezik\\.$");
    EXPECT_EQ(a.evidence[2], QStringLiteral("A Wi-Fi jel mérhetően rendben van, tehát nem a rádiókapcsolat magyarázza."));
    EXPECT_EQ(a.caveats.size(), 1);

    EXPECT_EQ(v.verdict.rating(UsageCapability::gaming), CapabilityRating::poor);
    EXPECT_EQ(v.verdict.rating(UsageCapability::videoCall), CapabilityRating::usable);
    EXPECT_EQ(v.verdict.overallStatus(), PVStatus::serious);

    EXPECT_EQ(v.advice.title, QStringLiteral("A routeren vagy a helyi hálózaton múlik"));
    EXPECT_EQ(v.advice.steps.size(), 5u);
    EXPECT_FALSE(v.advice.pointless);
}

TEST(Scenario, ProviderLosingPackets)
{
    const UserView v = observe({kRouter, {190, 30, 12}, {400, 50}, kDns, {.rssi = -55, .noise = -92}, 180});
    const FaultAttribution& a = v.attribution;
    EXPECT_EQ(a.location, FaultLocation::provider);
    EXPECT_EQ(a.severity, IncidentSeverity::critical); // 8.3 % lost beyond the router
    EXPECT_EQ(a.confidence, AttributionConfidence::high);
    EXPECT_FALSE(a.isOutage);
    EXPECT_EQ(a.headline, QStringLiteral("A hiba a routereden túl, a szolgáltatói szakaszon van."));
    ASSERT_EQ(a.evidence.size(), 3);
    EXPECT_MATCHES(a.evidence[0], "^A routeredig [2-4] ms, onnan tovább még 1\\d\\d ms — a késés a routeren túl keletkezik\\.$");
    EXPECT_MATCHES(a.evidence[1], "^A csomagok 8\\.\\d%-a elveszett a routeren túl, miközben a helyi hálózat hibátlan\\.$");
    EXPECT_EQ(a.evidence[2], QStringLiteral("A saját hálózatod ez alatt végig hibátlanul működött — ez zárja ki a Wi-Fit és a routert."));
    EXPECT_TRUE(a.caveats.isEmpty());

    EXPECT_EQ(ratingsOf(v.verdict), (std::array<CapabilityRating, 4>{CapabilityRating::poor, CapabilityRating::poor,
                                                                     CapabilityRating::poor, CapabilityRating::usable}));
    EXPECT_MATCHES(v.verdict.evidence.last(), "^A csomagok 8\\.\\d%-a nem ért célba\\.$");

    EXPECT_EQ(v.advice.title, QStringLiteral("A szolgáltatón múlik"));
    EXPECT_EQ(v.advice.steps.front().id, QStringLiteral("provider.collect"));
    EXPECT_TRUE(v.advice.pointless);
}

TEST(Scenario, SlowResolver)
{
    const UserView v = observe({kRouter, kPublic, kHttp, {600, 50}, {}, 240});
    const FaultAttribution& a = v.attribution;
    EXPECT_EQ(a.location, FaultLocation::dns);
    EXPECT_EQ(a.severity, IncidentSeverity::warning);
    EXPECT_EQ(a.confidence, AttributionConfidence::moderate); // 12 or more DNS queries in four minutes
    EXPECT_TRUE(a.caveats.isEmpty());
    EXPECT_EQ(a.headline, QStringLiteral("A kapcsolat jó, a névfeloldás lassú."));
    EXPECT_MATCHES(a.evidence[0], "^Egy névfeloldás [56]\\d\\d ms — közeli feloldónál ez néhány tíz ms\\.$");
    EXPECT_EQ(a.evidence[1], "Maga a kapcsolat közben rendben van: az IP-címre küldött csomagok célba érnek.");

    EXPECT_EQ(v.verdict.overallStatus(), PVStatus::good); // the verdict looks at the public hosts only
    EXPECT_EQ(v.advice.title, QStringLiteral("Cseréld a névfeloldót"));
    EXPECT_EQ(stepIds(v.advice), (QStringList{QStringLiteral("dns.change"), QStringLiteral("dns.compare"), QStringLiteral("dns.router")}));

    // Three minutes hold fewer than 12 queries: the same place, less sure.
    const UserView shorter = observe({kRouter, kPublic, kHttp, {600, 50}, {}, 170});
    EXPECT_EQ(shorter.attribution.location, FaultLocation::dns);
    EXPECT_EQ(shorter.attribution.confidence, AttributionConfidence::low);
    EXPECT_EQ(shorter.attribution.caveats.size(), 1);
}

TEST(Scenario, LocalFaultWithoutSignalReadings)
{
    const UserView v = observe({{4, 1, 15}, {20, 3, 15}, kHttp, kDns, {.rssi = std::nullopt, .noise = std::nullopt}, 180});
    const FaultAttribution& a = v.attribution;
    EXPECT_EQ(a.location, FaultLocation::localUnseparated);
    EXPECT_EQ(a.severity, IncidentSeverity::warning);
    EXPECT_EQ(a.confidence, AttributionConfidence::low);
    EXPECT_EQ(a.headline, QStringLiteral("A hiba a helyi hálózatodban van, de a Wi-Fi és a router nem különíthető el."));
    EXPECT_MATCHES(a.evidence[0], "^A routerhez küldött csomagok 6\\.\\d%-a nem ért célba\\.$");
    EXPECT_EQ(a.caveats, QStringList{QStringLiteral("A jelerősség nem olvasható. macOS 14-től ehhez helymeghatározási engedély kell.")});
    EXPECT_EQ(incidentClassification(a.location), IncidentClassification::unknown);

    EXPECT_EQ(v.verdict.weakestCapability(), UsageCapability::videoCall);
    EXPECT_EQ(v.advice.title, QStringLiteral("Előbb tegyük mérhetővé"));
    EXPECT_EQ(stepIds(v.advice), (QStringList{QStringLiteral("local.location"), QStringLiteral("local.ethernet")}));
    EXPECT_TRUE(v.advice.pointless);
}

TEST(Scenario, OfflineAndWifiDropped)
{
    const LegProfile down{0, 0, 1};
    const UserView v = observe({down, down, down, down, {.present = false}, 180});
    const FaultAttribution& a = v.attribution;
    EXPECT_EQ(a.location, FaultLocation::offline);
    EXPECT_EQ(a.severity, IncidentSeverity::critical);
    EXPECT_EQ(a.confidence, AttributionConfidence::high);
    EXPECT_TRUE(a.isOutage);
    EXPECT_EQ(a.headline, QStringLiteral("Teljes kiesés — még a routered sem válaszol."));
    EXPECT_EQ(a.caveats, QStringList{QStringLiteral("A Wi-Fi rádió állapota nem olvasható, ezért a kettő nem különíthető el.")});
    EXPECT_EQ(a.storedEvidenceSummary(),
              QStringLiteral("Teljes kiesés — még a routered sem válaszol. Sem a router, sem a routeren túli célpontok nem "
                             "válaszolnak. Ez vagy a Wi-Fi kapcsolat megszakadása, vagy a router leállása."));

    EXPECT_EQ(ratingsOf(v.verdict), (std::array<CapabilityRating, 4>{CapabilityRating::poor, CapabilityRating::poor,
                                                                     CapabilityRating::poor, CapabilityRating::poor}));
    EXPECT_EQ(v.verdict.lossRatio, 1.0);
    EXPECT_MATCHES(v.verdict.evidence[0], "^Egyetlen mérés sem jutott célba \\d+ próbálkozásból\\.$");
    EXPECT_EQ(v.advice.title, QStringLiteral("Először a fizikai réteg"));
    EXPECT_EQ(v.advice.steps.size(), 4u);
    EXPECT_FALSE(v.advice.pointless);

    // The same outage while the Wi-Fi interface reports itself down: the radio is named.
    const UserView dropped = observe({down, down, down, down, {.interfaceUp = false}, 180});
    EXPECT_EQ(dropped.attribution.location, FaultLocation::wifi);
    EXPECT_EQ(dropped.attribution.headline, QStringLiteral("Megszakadt a Wi-Fi kapcsolat."));
    EXPECT_TRUE(dropped.attribution.isOutage);
    EXPECT_EQ(dropped.advice.title, QStringLiteral("A Wi-Fi kapcsolaton múlik"));
}

TEST(Scenario, InsufficientEvidenceAtStart)
{
    const UserView v = observe({kRouter, kPublic, kHttp, kDns, {}, 30});
    const FaultAttribution& a = v.attribution;
    EXPECT_EQ(a.location, FaultLocation::insufficientEvidence);
    EXPECT_EQ(a.confidence, AttributionConfidence::low);
    EXPECT_EQ(a.headline, QStringLiteral("Még gyűjtjük a bizonyítékot."));
    EXPECT_MATCHES(a.evidence[0], "^1[0-6] mérés eddig\\. Ennyiből még nem mondunk ki semmit\\.$");

    EXPECT_EQ(v.verdict.rating(UsageCapability::videoCall), CapabilityRating::unknown);
    EXPECT_EQ(v.verdict.overallStatus(), PVStatus::neutral);
    EXPECT_MATCHES(v.verdict.confidence.description(),
                   "^Kevés mérés — 1[0-6] minta 2\\d másodperc alatt\\. Az ítélet még pontosodni fog\\.$");
    EXPECT_EQ(stepIds(v.advice), QStringList{QStringLiteral("collect.wait")});
    EXPECT_EQ(v.advice.title, QStringLiteral("Hagyd futni"));
}

TEST(Scenario, SameObservationSameAnswer)
{
    // The engines are pure: the order of the samples and the clock do not change the answer.
    const Observation o = ProbeSimulator(5).run({kRouter, {190, 30, 12}, kHttp, kDns, {}, 180});
    std::vector<NetworkSample> shuffled = o.samples;
    std::mt19937 rng(3);
    std::shuffle(shuffled.begin(), shuffled.end(), rng);
    const AttributionEngine engine;
    EXPECT_EQ(engine.attribute(o.samples, o.wifi, 0), engine.attribute(shuffled, o.wifi, 1e9));
    EXPECT_EQ(VerdictEngine::assess(o.samples, 0), VerdictEngine::assess(shuffled, 1e9));
}
