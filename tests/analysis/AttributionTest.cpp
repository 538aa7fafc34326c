// The fault attribution: the gate, the outage, the measurement artefacts, the radio, local,
// upstream and DNS verdicts and the healthy result, each with the exact sentences.
#include "AnalysisFixtures.h"

#include "core/analysis/Attribution.h"

#include <gtest/gtest.h>

#include <limits>

using namespace pv;
using namespace pv::test;

namespace {

// A window of probe samples with one setting per leg; the defaults are a clean connection.
struct Window {
    std::optional<double> gw = 4;
    double gwLoss = 0;
    int gwCount = 24;
    std::optional<double> pub = 20;
    double pubLoss = 0;
    int pubCount = 48;
    std::optional<double> dns = std::nullopt;
    double dnsLoss = 0;
    int dnsCount = 0;
    std::optional<double> http = 80;
    int httpCount = 24;
};

std::vector<NetworkSample> build(const Window& w)
{
    std::vector<NetworkSample> s;
    addLeg(s, {ProbeKind::gateway, w.gwCount, w.gw, w.gwLoss, 0, 10});
    addLeg(s, {ProbeKind::publicIP, w.pubCount, w.pub, w.pubLoss, 0, 5});
    addLeg(s, {ProbeKind::dns, w.dnsCount, w.dns, w.dnsLoss, 0, 16});
    addLeg(s, {ProbeKind::http, w.httpCount, w.http, 0.0, 0, 10});
    return s;
}

std::vector<WifiSnapshot> healthyRadio() { return {wifiReading(200, -50, -90)}; }

FaultAttribution attribute(const std::vector<NetworkSample>& samples, const std::vector<WifiSnapshot>& wifi)
{
    return AttributionEngine().attribute(samples, wifi, 1000);
}

const QString kRouterFineOnRadio = QStringLiteral("A Wi-Fi jel mérhetően rendben van, tehát nem a rádiókapcsolat magyarázza.");
const QString kOwnNetworkClean =
    QStringLiteral("A saját hálózatod ez alatt végig hibátlanul működött — ez zárja ki a Wi-Fit és a routert.");
const QString kNoPermission = QStringLiteral("A jelerősség nem olvasható. macOS 14-től ehhez helymeghatározási engedély kell.");

} // namespace

// ---------------------------------------------------------------------------------------------
TEST(AttributionGate, OnlyThePublicLegAndTheSpanOpenIt)
{
    struct Case {
        const char* name;
        int pubCount;
        double span;
        bool routerBroken;
        bool insufficient;
    };
    const Case cases[] = {
        {"11 samples", 11, 60, false, true},
        {"span 44.9 s", 12, 44.9, false, true},
        {"exactly 12 over exactly 45 s", 12, 45, false, false},
        {"broken router does not matter", 11, 300, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<NetworkSample> s;
        for (int i = 0; i < c.pubCount - 1; ++i)
            s.push_back(sample(ProbeKind::publicIP, i * 3.0, 20));
        s.push_back(sample(ProbeKind::publicIP, c.span, 20));
        if (c.routerBroken)
            addLeg(s, {ProbeKind::gateway, 30, std::nullopt, 0.0, 0, 5});
        const FaultAttribution a = attribute(s, healthyRadio());
        if (c.insufficient) {
            EXPECT_EQ(a, FaultAttribution(FaultLocation::insufficientEvidence, IncidentSeverity::info,
                                          AttributionConfidence::low, QStringLiteral("Még gyűjtjük a bizonyítékot."),
                                          {QStringLiteral("%1 mérés eddig. Ennyiből még nem mondunk ki semmit.").arg(c.pubCount)},
                                          {}, false, false));
        } else {
            EXPECT_EQ(a.location, FaultLocation::none);
            EXPECT_EQ(a.confidence, AttributionConfidence::moderate);
        }
    }
    // Nothing at all: the gate, with a count of 0.
    EXPECT_EQ(attribute({}, {}).evidence, QStringList{QStringLiteral("0 mérés eddig. Ennyiből még nem mondunk ki semmit.")});
}

// ---------------------------------------------------------------------------------------------
TEST(AttributionOutage, RouterAnswersButNothingBeyondIt)
{
    const auto s = build({.gw = 4, .gwCount = 12, .pub = std::nullopt, .pubCount = 24, .dns = std::nullopt,
                          .dnsCount = 3, .http = std::nullopt, .httpCount = 12});
    const FaultAttribution a = attribute(s, healthyRadio());
    EXPECT_EQ(a, FaultAttribution(FaultLocation::provider, IncidentSeverity::critical, AttributionConfidence::high,
                                  QStringLiteral("Nincs internet, de a routered válaszol — a hiba a routeren túl van."),
                                  {QStringLiteral("A routered 12 mérésből válaszol."),
                                   QStringLiteral("A routeren túl egyetlen mérés sem jutott célba 24 próbálkozásból."),
                                   QStringLiteral("A Wi-Fi és a router tehát működik; a szolgáltatói vonal az, ami nem.")},
                                  {}, true, false));
    // Fewer router samples than the minimum: the same place, but only moderately sure.
    auto few = build({.gw = 4, .gwCount = 11, .pub = std::nullopt, .pubCount = 24, .http = std::nullopt});
    EXPECT_EQ(attribute(few, healthyRadio()).confidence, AttributionConfidence::moderate);
}

TEST(AttributionOutage, RouterSilentWithTheWifiInterfaceDown)
{
    const auto s = build({.gw = std::nullopt, .gwCount = 6, .pub = std::nullopt, .http = std::nullopt});
    const std::vector<WifiSnapshot> wifi{wifiReading(100, -50, -90), wifiReading(200, std::nullopt, std::nullopt,
                                                                                   QStringLiteral("aa"), false)};
    const FaultAttribution a = attribute(s, wifi);
    EXPECT_EQ(a, FaultAttribution(FaultLocation::wifi, IncidentSeverity::critical, AttributionConfidence::high,
                                  QStringLiteral("Megszakadt a Wi-Fi kapcsolat."),
                                  {QStringLiteral("A Wi-Fi csatoló ki van kapcsolva vagy nem kapcsolódik."),
                                   QStringLiteral("Ebben az állapotban a router sem érhető el, nemhogy az internet.")},
                                  {}, true, false));
}

TEST(AttributionOutage, RouterSilentWithoutWifiReadings)
{
    const QStringList evidence{QStringLiteral("Sem a router, sem a routeren túli célpontok nem válaszolnak."),
                               QStringLiteral("Ez vagy a Wi-Fi kapcsolat megszakadása, vagy a router leállása.")};
    const auto s = build({.gw = std::nullopt, .gwCount = 12, .pub = std::nullopt, .http = std::nullopt});
    EXPECT_EQ(attribute(s, {}),
              FaultAttribution(FaultLocation::offline, IncidentSeverity::critical, AttributionConfidence::high,
                               QStringLiteral("Teljes kiesés — még a routered sem válaszol."), evidence,
                               {QStringLiteral("A Wi-Fi rádió állapota nem olvasható, ezért a kettő nem különíthető el.")},
                               true, false));
    // No router sample at all counts as silent too; a readable healthy radio drops the caveat.
    const auto noRouter = build({.gwCount = 0, .pub = std::nullopt, .http = std::nullopt});
    const FaultAttribution a = attribute(noRouter, healthyRadio());
    EXPECT_EQ(a.location, FaultLocation::offline);
    EXPECT_EQ(a.confidence, AttributionConfidence::moderate);
    EXPECT_TRUE(a.caveats.isEmpty());
}

TEST(AttributionOutage, APageAnswerPreventsTheOutageALookupDoesNot)
{
    // The router's resolver answers from its cache while nothing beyond the router does: an outage.
    auto resolved = build({.pub = std::nullopt, .pubCount = 24, .http = std::nullopt});
    resolved.push_back(sample(ProbeKind::dns, 30, 25));
    const FaultAttribution cut = attribute(resolved, healthyRadio());
    EXPECT_EQ(cut.location, FaultLocation::provider);
    EXPECT_TRUE(cut.isOutage);

    auto s = build({.pub = std::nullopt, .pubCount = 24, .http = std::nullopt});
    s.push_back(sample(ProbeKind::http, 30, 60));
    const FaultAttribution a = attribute(s, healthyRadio());
    EXPECT_EQ(a.location, FaultLocation::provider);
    EXPECT_FALSE(a.isOutage);
    EXPECT_EQ(a.severity, IncidentSeverity::critical);
    // No latency sentence: the public hosts have no median and so there is no excess.
    EXPECT_EQ(a.evidence, (QStringList{QStringLiteral("A csomagok 100.0%-a elveszett a routeren túl, miközben a helyi hálózat hibátlan."),
                                       kOwnNetworkClean}));
}

// ---------------------------------------------------------------------------------------------
TEST(AttributionArtefact, SlowAndSilentRouterPingsAreCleared)
{
    const QStringList slowEvidence{
        QStringLiteral("A router 40 ms alatt válaszol a neki címzett pingre."),
        QStringLiteral("Ugyanezen a routeren átmenő forgalom viszont 20 ms, veszteség nélkül."),
        QStringLiteral("Ha a router tényleg túl lenne terhelve, az átmenő forgalom is lassulna. Nem lassul.")};
    const QString slowCaveat = QStringLiteral(
        "Sok router a saját magának címzett pinget a legalacsonyabb prioritással kezeli, miközben a valódi forgalmat "
        "hardveresen továbbítja. A lassú ping ilyenkor mérési látszat, nem hiba.");
    const QString silentCaveat = QStringLiteral(
        "Sok szolgáltatói router alapból nem válaszol a neki címzett pingre. Ez beállítás, nem hiba — a forgalom "
        "továbbítását nem érinti. Emiatt a router szakaszáról ilyenkor nem tudunk külön ítéletet mondani.");

    struct Case {
        const char* name;
        Window window;
        AttributionConfidence confidence;
        QString headline;
        QStringList evidence;
        QString caveat;
    };
    const Case cases[] = {
        {"slow router, 24 samples", {.gw = 40}, AttributionConfidence::high,
         QStringLiteral("Nincs hiba — a router csak a saját pingjeire válaszol lassan."), slowEvidence, slowCaveat},
        {"slow router, 11 samples", {.gw = 40, .gwCount = 11}, AttributionConfidence::moderate,
         QStringLiteral("Nincs hiba — a router csak a saját pingjeire válaszol lassan."), slowEvidence, slowCaveat},
        {"half the router pings unanswered, also slow", {.gw = 30, .gwLoss = 0.5}, AttributionConfidence::high,
         QStringLiteral("Nincs hiba — a routered nem válaszol a pingre, de a forgalmat továbbítja."),
         {QStringLiteral("A routernek címzett pingek 50%-a válasz nélkül maradt."),
          QStringLiteral("A routeren átmenő forgalom közben hibátlan: 20 ms, 0.0% veszteséggel."),
          QStringLiteral("Ha a csomagok tényleg elvesznének a routernél, a rajta átmenő forgalom sem jutna célba. Célba jut.")},
         silentCaveat},
        {"router 150 ms, public 160 ms", {.gw = 150, .pub = 160}, AttributionConfidence::high,
         QStringLiteral("Nincs hiba — a router csak a saját pingjeire válaszol lassan."),
         {QStringLiteral("A router 150 ms alatt válaszol a neki címzett pingre."),
          QStringLiteral("Ugyanezen a routeren átmenő forgalom viszont 160 ms, veszteség nélkül."), slowEvidence[2]},
         slowCaveat},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(attribute(build(c.window), healthyRadio()),
                  FaultAttribution(FaultLocation::none, IncidentSeverity::info, c.confidence, c.headline, c.evidence,
                                   {c.caveat}, false, true));
    }
    // A router that never answers prints 0 for its missing median.
    const FaultAttribution silent = attribute(build({.gw = std::nullopt}), healthyRadio());
    EXPECT_TRUE(silent.isMeasurementArtefact);
    EXPECT_EQ(silent.evidence.first(), QStringLiteral("A routernek címzett pingek 100%-a válasz nélkül maradt."));
}

TEST(AttributionArtefact, AWeakRadioTakesTheBlameInstead)
{
    const std::vector<WifiSnapshot> weak{wifiReading(200, -70)};
    const QString weakReason =
        QStringLiteral("A Wi-Fi jel -70 dBm. A tervezési határ -67 dBm, ez alatt a kapcsolat sebességet cserél stabilitásra.");
    const FaultAttribution slow = attribute(build({.gw = 40}), weak);
    EXPECT_EQ(slow, FaultAttribution(FaultLocation::wifi, IncidentSeverity::warning, AttributionConfidence::high,
                                     QStringLiteral("A Wi-Fi kapcsolatod a szűk keresztmetszet."),
                                     {weakReason, QStringLiteral("Az első ugrás 40 ms — egészséges rádiókapcsolaton ez néhány ezredmásodperc.")},
                                     {}, false, false));
    const FaultAttribution lossy = attribute(build({.gw = 30, .gwLoss = 0.5}), weak);
    EXPECT_EQ(lossy.location, FaultLocation::wifi);
    EXPECT_EQ(lossy.severity, IncidentSeverity::critical);
    EXPECT_EQ(lossy.evidence,
              (QStringList{weakReason,
                           QStringLiteral("A routerhez küldött csomagok 50.0%-a elveszett — két egy szobában lévő eszköz között ez nem normális."),
                           QStringLiteral("Az első ugrás 30 ms — egészséges rádiókapcsolaton ez néhány ezredmásodperc.")}));
    // Weak radio but a clean router leg: still the Wi-Fi, since any local sign is blamed on it.
    EXPECT_EQ(attribute(build({.gw = 4, .pub = 20}), weak).location, FaultLocation::wifi);
}

// ---------------------------------------------------------------------------------------------
TEST(AttributionRadio, SignalAndNoiseLimits)
{
    using K = RadioAssessment::Kind;
    struct Case {
        std::optional<int> rssi;
        std::optional<int> noise;
        K kind;
        QString reason;
    };
    const Case cases[] = {
        {-75, std::nullopt, K::unusable, QStringLiteral("A Wi-Fi jel -75 dBm — ezen a szinten a kapcsolat már alig áll össze.")},
        {-67, std::nullopt, K::weak,
         QStringLiteral("A Wi-Fi jel -67 dBm. A tervezési határ -67 dBm, ez alatt a kapcsolat sebességet cserél stabilitásra.")},
        {-66, -84, K::weak, QStringLiteral("A zajhoz képest csak 18 dB hasznos jel marad (a megbízható határ 20 dB).")},
        {-66, -86, K::healthy, QString()},
        {-66, -78, K::unusable, QStringLiteral("A zajhoz képest 12 dB hasznos jel marad — ez ismétlésekkel telített kapcsolat.")},
        {-66, std::nullopt, K::healthy, QString()},
        {std::nullopt, -90, K::unavailable, kNoPermission},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rssi.value_or(0));
        const RadioAssessment r = attribution::assessRadio(AttributionThresholds::standard(), {wifiReading(0, c.rssi, c.noise)});
        EXPECT_EQ(r.state.kind, c.kind);
        EXPECT_EQ(r.state.reason, c.reason);
        EXPECT_FALSE(r.roamed);
    }
    const RadioAssessment none = attribution::assessRadio(AttributionThresholds::standard(), {});
    EXPECT_EQ(none.state, RadioAssessment::State::unavailable(
                              QStringLiteral("Nincs Wi-Fi pillanatkép — vezetékes kapcsolat, vagy nem olvasható a rádió.")));
    EXPECT_FALSE(none.isReadable());
    EXPECT_FALSE(none.isWeakOrWorse());
}

TEST(AttributionRadio, OnlyTheLastTenReadingsTellARoam)
{
    const QString a = QStringLiteral("aa:aa:aa:aa:aa:01");
    const QString b = QStringLiteral("bb:bb:bb:bb:bb:02");
    std::vector<WifiSnapshot> readings{wifiReading(0, -70, std::nullopt, b)};
    for (int i = 1; i <= 10; ++i)
        readings.push_back(wifiReading(i * 8, -70, std::nullopt, a));
    EXPECT_FALSE(attribution::detectRoam(readings));
    EXPECT_FALSE(attribution::assessRadio(AttributionThresholds::standard(), readings).roamed);

    readings[5].bssid = b;
    EXPECT_TRUE(attribution::detectRoam(readings));
    const FaultAttribution w = attribute(build({.gw = 40}), readings);
    EXPECT_EQ(w.location, FaultLocation::wifi);
    EXPECT_EQ(w.evidence.last(), QStringLiteral("Közben hozzáférési pontot is váltottál — ez a rádiós magyarázatot erősíti."));

    // The interface being down ends the assessment before the roam test.
    readings.back().interfaceUp = false;
    EXPECT_FALSE(attribution::assessRadio(AttributionThresholds::standard(), readings).roamed);
    EXPECT_FALSE(attribution::detectRoam({}));
}

// ---------------------------------------------------------------------------------------------
TEST(AttributionLocal, RouterAndUnseparatedFaults)
{
    const QString routerCaveat = QStringLiteral(
        "Ez a megállapítás akkor is állhat, ha a lassulást nem maga a router, hanem egy másik, a hálózatra kötött eszköz okozza.");
    const FaultAttribution lossy = attribute(build({.gw = 5, .gwLoss = 0.05}), healthyRadio());
    EXPECT_EQ(lossy, FaultAttribution(FaultLocation::router, IncidentSeverity::warning, AttributionConfidence::moderate,
                                      QStringLiteral("A routered vagy a helyi hálózatod a szűk keresztmetszet."),
                                      {QStringLiteral("A routerhez küldött csomagok 5.0%-a nem ért célba."),
                                       kRouterFineOnRadio},
                                      {routerCaveat}, false, false));

    struct Case {
        const char* name;
        Window window;
        std::vector<WifiSnapshot> wifi;
        FaultLocation location;
        IncidentSeverity severity;
        AttributionConfidence confidence;
    };
    const Case cases[] = {
        {"slow router, public loss 2 %", {.gw = 150, .pub = 160, .pubLoss = 0.02}, healthyRadio(), FaultLocation::router,
         IncidentSeverity::critical, AttributionConfidence::moderate},
        {"same without rssi", {.gw = 150, .pub = 160, .pubLoss = 0.02}, {wifiReading(0, std::nullopt)},
         FaultLocation::localUnseparated, IncidentSeverity::warning, AttributionConfidence::low},
        {"severe loss without rssi", {.gw = 5, .gwLoss = 0.2, .pub = 20, .pubLoss = 0.2}, {wifiReading(0, std::nullopt)},
         FaultLocation::localUnseparated, IncidentSeverity::critical, AttributionConfidence::low},
        {"router loss with few samples", {.gw = 5, .gwLoss = 0.05, .gwCount = 11}, healthyRadio(), FaultLocation::router,
         IncidentSeverity::warning, AttributionConfidence::low},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const FaultAttribution a = attribute(build(c.window), c.wifi);
        EXPECT_EQ(a.location, c.location);
        EXPECT_EQ(a.severity, c.severity);
        EXPECT_EQ(a.confidence, c.confidence);
    }
    const FaultAttribution unseparated = attribute(build({.gw = 150, .pub = 160, .pubLoss = 0.02}), {wifiReading(0, std::nullopt)});
    EXPECT_EQ(unseparated.headline, QStringLiteral("A hiba a helyi hálózatodban van, de a Wi-Fi és a router nem különíthető el."));
    EXPECT_EQ(unseparated.caveats, QStringList{kNoPermission});
    EXPECT_EQ(unseparated.evidence,
              (QStringList{QStringLiteral("Az első ugrás 150 ms, miközben egy egészséges helyi hálózaton ez néhány ms."),
                           QStringLiteral("A routeren túli szakasz ehhez képest 10 ms — a késés nagyobb része a routerig keletkezik.")}));
}

// ---------------------------------------------------------------------------------------------
TEST(AttributionUpstream, ExcessAndLossBeyondTheRouter)
{
    const FaultAttribution warning = attribute(build({.gw = 30, .pub = 180}), healthyRadio());
    EXPECT_EQ(warning, FaultAttribution(FaultLocation::provider, IncidentSeverity::warning, AttributionConfidence::high,
                                        QStringLiteral("A hiba a routereden túl, a szolgáltatói szakaszon van."),
                                        {QStringLiteral("A routeredig 30 ms, onnan tovább még 150 ms — a késés a routeren túl keletkezik."),
                                         kOwnNetworkClean},
                                        {}, false, false));

    struct Case {
        const char* name;
        Window window;
        IncidentSeverity severity;
        AttributionConfidence confidence;
        bool fewRouterCaveat;
    };
    const Case cases[] = {
        {"excess 350 ms", {.gw = 30, .pub = 380}, IncidentSeverity::critical, AttributionConfidence::high, false},
        {"loss 3 %", {.pub = 20, .pubLoss = 0.03}, IncidentSeverity::warning, AttributionConfidence::high, false},
        {"loss 6 %", {.pub = 20, .pubLoss = 0.06}, IncidentSeverity::critical, AttributionConfidence::high, false},
        {"12 router and 23 public samples", {.gw = 30, .gwCount = 12, .pub = 180, .pubCount = 23}, IncidentSeverity::warning,
         AttributionConfidence::moderate, false},
        {"11 router samples", {.gw = 30, .gwCount = 11, .pub = 180}, IncidentSeverity::warning, AttributionConfidence::low, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const FaultAttribution a = attribute(build(c.window), healthyRadio());
        EXPECT_EQ(a.location, FaultLocation::provider);
        EXPECT_EQ(a.severity, c.severity);
        EXPECT_EQ(a.confidence, c.confidence);
        EXPECT_EQ(a.caveats.size(), c.fewRouterCaveat ? 1 : 0);
    }
    // Without router samples the excess is the public median and the sentence names it alone.
    const FaultAttribution noRouter = attribute(build({.gwCount = 0, .pub = 180, .pubLoss = 0.03}), healthyRadio());
    EXPECT_EQ(noRouter.evidence,
              (QStringList{QStringLiteral("A routeren túli célpontok 180 ms alatt válaszolnak."),
                           QStringLiteral("A csomagok 3.0%-a elveszett a routeren túl.")}))
        << "without router samples the local network is not called flawless";
    EXPECT_EQ(noRouter.caveats, QStringList{QStringLiteral(
                                    "Kevés mérés van a routerre, ezért a helyi szakasz kizárása gyengébb, mint amilyen lehetne.")});
}

// ---------------------------------------------------------------------------------------------
TEST(AttributionDns, SlowOrFailingResolverOnACleanConnection)
{
    const QString pubFine = QStringLiteral("Maga a kapcsolat közben rendben van: az IP-címre küldött csomagok célba érnek.");
    const QString pagesSlow = QStringLiteral("Ilyenkor az oldalak lassan indulnak, de ami már elindult, az normálisan megy.");
    const QString fewDns = QStringLiteral("A DNS-t ritkábban mérjük, mint a többi szakaszt, ezért ez kevesebb mintán áll.");
    const QString headline = QStringLiteral("A kapcsolat jó, a névfeloldás lassú.");
    struct Case {
        const char* name;
        std::optional<double> dns = std::nullopt;
        double dnsLoss;
        int count;
        IncidentSeverity severity;
        AttributionConfidence confidence;
        QString first;
    };
    const Case cases[] = {
        {"250 ms", 250, 0, 14, IncidentSeverity::warning, AttributionConfidence::moderate,
         QStringLiteral("Egy névfeloldás 250 ms — közeli feloldónál ez néhány tíz ms.")},
        {"1200 ms", 1200, 0, 14, IncidentSeverity::critical, AttributionConfidence::moderate,
         QStringLiteral("Egy névfeloldás 1200 ms — közeli feloldónál ez néhány tíz ms.")},
        {"all failed", std::nullopt, 0, 14, IncidentSeverity::critical, AttributionConfidence::moderate,
         QStringLiteral("Egyetlen névfeloldás sem sikerült 14 próbálkozásból.")},
        {"fast but lossy", 50, 0.05, 14, IncidentSeverity::warning, AttributionConfidence::moderate,
         QStringLiteral("A névfeloldásnál a csomagok 5.0%-a elveszett.")},
        {"11 queries", 250, 0, 11, IncidentSeverity::warning, AttributionConfidence::low,
         QStringLiteral("Egy névfeloldás 250 ms — közeli feloldónál ez néhány tíz ms.")},
        {"lossy under a millisecond", 0.3, 0.05, 14, IncidentSeverity::warning, AttributionConfidence::moderate,
         QStringLiteral("A névfeloldásnál a csomagok 5.0%-a elveszett.")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const FaultAttribution a =
            attribute(build({.dns = c.dns, .dnsLoss = c.dnsLoss, .dnsCount = c.count}), healthyRadio());
        QStringList caveats;
        if (c.confidence == AttributionConfidence::low)
            caveats << fewDns;
        const QString said = c.dns ? headline : QStringLiteral("A névfeloldás (DNS) nem válaszol.");
        const QString nothingStarts = QStringLiteral(
            "Amíg a nevek nem oldódnak fel, új oldal, adás vagy hívás nem indul el; ami már elindult, az megy tovább.");
        EXPECT_EQ(a, FaultAttribution(FaultLocation::dns, c.severity, c.confidence, said,
                                      {c.first, pubFine, c.dns ? pagesSlow : nothingStarts}, caveats, false, false));
    }
    // At the limits the resolver is fine.
    EXPECT_EQ(attribute(build({.dns = 200, .dnsLoss = 0.01, .dnsCount = 14}), healthyRadio()).location, FaultLocation::none);
}

// Silent, or answering every lookup with an error (SERVFAIL): the two are said apart.
TEST(AttributionDns, AResolverThatStoppedAnsweringIsCriticalWhateverItsEarlierAnswers)
{
    const struct {
        bool errorAnswer;
        const char* headline;
        const char* first;
    } cases[] = {
        {false, "A névfeloldás (DNS) nem válaszol.",
         "A legutóbbi 3 névfeloldásra nem jött válasz; az ablakban 3 / 15 maradt válasz nélkül."},
        {true, "A névfeloldó hibával válaszol.",
         "A legutóbbi 3 névfeloldás nem sikerült, a névfeloldó hibával válaszol; az ablakban 3 / 15 nem sikerült."},
    };
    for (const auto& c : cases) {
        std::vector<NetworkSample> samples = build({.dns = 2, .dnsCount = 12});
        Timestamp newest = 0;
        for (const NetworkSample& s : samples)
            newest = std::max(newest, s.timestamp);
        for (int i = 1; i <= 3; ++i) {
            NetworkSample lost = samples.back();
            lost.target.kind = ProbeKind::dns;
            lost.timestamp = newest + i;
            lost.success = false;
            lost.latencyMilliseconds = c.errorAnswer ? std::optional<double>(3.0) : std::nullopt;
            lost.packetLoss = 1.0;
            samples.push_back(lost);
        }
        const FaultAttribution a = attribute(samples, healthyRadio());
        EXPECT_EQ(a.location, FaultLocation::dns);
        EXPECT_EQ(a.severity, IncidentSeverity::critical);
        EXPECT_EQ(a.headline, QString::fromUtf8(c.headline));
        EXPECT_EQ(a.evidence.value(0), QString::fromUtf8(c.first));
        EXPECT_FALSE(a.storedEvidenceSummary().contains(QStringLiteral("lassan indulnak")));
    }
}

TEST(AttributionUpstream, TheRouterIsCalledFlawlessOnlyWhenItLostNothing)
{
    const FaultAttribution clean = attribute(build({.gw = 5, .pub = 20, .pubLoss = 0.03}), healthyRadio());
    EXPECT_TRUE(clean.evidence.contains(
        QStringLiteral("A saját hálózatod ez alatt végig hibátlanul működött — ez zárja ki a Wi-Fit és a routert.")));
    const FaultAttribution lossy = attribute(build({.gw = 5, .gwLoss = 0.015, .pub = 20, .pubLoss = 0.03}), healthyRadio());
    ASSERT_EQ(lossy.location, FaultLocation::provider);
    EXPECT_TRUE(lossy.evidence.contains(QStringLiteral("A routerig a csomagok 1.5%-a veszett el.")))
        << lossy.evidence.join('|').toStdString();
    for (const QString& line : lossy.evidence)
        EXPECT_FALSE(line.contains(QStringLiteral("hibátlan"))) << line.toStdString();
}

TEST(AttributionDns, LocalAndUpstreamFaultsComeFirst)
{
    EXPECT_EQ(attribute(build({.gw = 5, .gwLoss = 0.05, .dns = 1200, .dnsCount = 14}), healthyRadio()).location,
              FaultLocation::router);
    EXPECT_EQ(attribute(build({.gw = 30, .pub = 180, .dns = 1200, .dnsCount = 14}), healthyRadio()).location,
              FaultLocation::provider);
}

// ---------------------------------------------------------------------------------------------
TEST(AttributionHealthy, ConfidenceGrowsWithThePublicSamples)
{
    const FaultAttribution a36 = attribute(build({.pubCount = 36}), healthyRadio());
    EXPECT_EQ(a36, FaultAttribution(FaultLocation::none, IncidentSeverity::info, AttributionConfidence::high,
                                    QStringLiteral("A kapcsolat rendben van."),
                                    {QStringLiteral("A válaszidő 20 ms, a csomagok 0.0%-a veszett el."),
                                     QStringLiteral("A routered 4 ms alatt válaszol."),
                                     QStringLiteral("A Wi-Fi jel a tervezési határ felett van.")},
                                    {}, false, false));
    EXPECT_FALSE(a36.isFault());
    EXPECT_EQ(attribute(build({.pubCount = 35}), healthyRadio()).confidence, AttributionConfidence::moderate);

    // A wired link: the radio's reason becomes the caveat and the Wi-Fi sentence drops out.
    const FaultAttribution wired = attribute(build({.gwCount = 0}), {});
    EXPECT_EQ(wired.evidence, QStringList{QStringLiteral("A válaszidő 20 ms, a csomagok 0.0%-a veszett el.")});
    EXPECT_EQ(wired.caveats,
              QStringList{QStringLiteral("Nincs Wi-Fi pillanatkép — vezetékes kapcsolat, vagy nem olvasható a rádió.")});
}

// ---------------------------------------------------------------------------------------------
TEST(AttributionLeg, UpperMedianIndexP95AndLoss)
{
    const auto measure = [](const std::vector<NetworkSample>& s) {
        std::vector<const NetworkSample*> p;
        for (const auto& x : s)
            p.push_back(&x);
        return attribution::measureLeg(p);
    };
    std::vector<NetworkSample> four;
    addLatencies(four, ProbeKind::gateway, {40, 10, 30, 20});
    EXPECT_EQ(measure(four), (LegMeasurement{4, 30.0, 40.0, 0.0}));

    std::vector<NetworkSample> one;
    addLatencies(one, ProbeKind::gateway, {17});
    EXPECT_EQ(measure(one), (LegMeasurement{1, 17.0, 17.0, 0.0}));

    std::vector<NetworkSample> twenty;
    std::vector<double> values;
    for (int i = 1; i <= 20; ++i)
        values.push_back(i);
    addLatencies(twenty, ProbeKind::gateway, values);
    EXPECT_EQ(measure(twenty).medianRtt, 11.0);
    EXPECT_EQ(measure(twenty).p95Rtt, 20.0); // index 19

    // Every sample carries a loss: their mean, whatever success says.
    std::vector<NetworkSample> lossy{sample(ProbeKind::gateway, 0, 10, 0.25), sample(ProbeKind::gateway, 5, 10, 0.25),
                                     sample(ProbeKind::gateway, 10, std::nullopt, 0.25, false),
                                     sample(ProbeKind::gateway, 15, 10, 0.25)};
    EXPECT_DOUBLE_EQ(measure(lossy).lossRatio, 0.25);
    lossy[0].packetLoss.reset();
    EXPECT_DOUBLE_EQ(measure(lossy).lossRatio, 0.25); // now one failed sample of four
    lossy[2].success = true;
    EXPECT_DOUBLE_EQ(measure(lossy).lossRatio, 0.0);

    const LegMeasurement empty = measure({});
    EXPECT_EQ(empty, (LegMeasurement{0, std::nullopt, std::nullopt, 0.0}));
    EXPECT_FALSE(empty.attempted());
    EXPECT_FALSE(empty.totallyDown());
    EXPECT_TRUE((LegMeasurement{3, std::nullopt, std::nullopt, 1.0}).totallyDown());
}

// ---------------------------------------------------------------------------------------------
TEST(AttributionRecords, TitlesClassificationsAndConfidence)
{
    struct Row {
        FaultLocation location;
        const char* title;
        std::optional<IncidentClassification> classification;
    };
    const Row rows[] = {
        {FaultLocation::none, "Nincs hiba", std::nullopt},
        {FaultLocation::wifi, "A Wi-Fi kapcsolatod", IncidentClassification::wifiLinkDegraded},
        {FaultLocation::router, "A routered", IncidentClassification::gatewayCongestion},
        {FaultLocation::provider, "A szolgáltatód", IncidentClassification::internetUpstreamIssue},
        {FaultLocation::dns, "A névfeloldás (DNS)", IncidentClassification::dnsOnlyIssue},
        {FaultLocation::localUnseparated, "A helyi hálózatod", IncidentClassification::unknown},
        {FaultLocation::offline, "Teljes kiesés", IncidentClassification::offline},
        {FaultLocation::insufficientEvidence, "Még nem tudjuk", std::nullopt},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(title(r.location), QString::fromUtf8(r.title));
        EXPECT_EQ(incidentClassification(r.location), r.classification);
        EXPECT_EQ(parseFaultLocation(rawValue(r.location)), r.location);
    }
    EXPECT_FALSE(parseFaultLocation(QStringLiteral("elsewhere")));

    EXPECT_LT(AttributionConfidence::low, AttributionConfidence::moderate);
    EXPECT_LT(AttributionConfidence::moderate, AttributionConfidence::high);
    EXPECT_EQ(title(AttributionConfidence::low), QStringLiteral("Bizonytalan"));
    EXPECT_EQ(title(AttributionConfidence::moderate), QStringLiteral("Valószínű"));
    EXPECT_EQ(title(AttributionConfidence::high), QStringLiteral("Biztos"));
    EXPECT_DOUBLE_EQ(storedValue(AttributionConfidence::low), 0.4);
    EXPECT_DOUBLE_EQ(storedValue(AttributionConfidence::moderate), 0.7);
    EXPECT_DOUBLE_EQ(storedValue(AttributionConfidence::high), 0.9);
    EXPECT_EQ(parseAttributionConfidence(2), AttributionConfidence::high);
    EXPECT_FALSE(parseAttributionConfidence(3));

    // The constructor takes the outage flag before the artefact flag.
    const FaultAttribution f(FaultLocation::dns, IncidentSeverity::warning, AttributionConfidence::low,
                             QStringLiteral("Fej."), {QStringLiteral("Egy."), QStringLiteral("Kettő.")}, {}, true, false);
    EXPECT_TRUE(f.isOutage);
    EXPECT_FALSE(f.isMeasurementArtefact);
    EXPECT_TRUE(f.isFault());
    EXPECT_EQ(f.storedEvidenceSummary(), QStringLiteral("Fej. Egy. Kettő."));
}

TEST(AttributionThresholdsInUse, CustomAndHostileTablesAreUsedAsTheyStand)
{
    AttributionThresholds loose = AttributionThresholds::standard();
    loose.minimumSamplesPerLeg = 2;
    loose.minimumWindowSeconds = 0;
    std::vector<NetworkSample> two{sample(ProbeKind::publicIP, 0, 20), sample(ProbeKind::publicIP, 1, 20)};
    EXPECT_EQ(AttributionEngine(loose).attribute(two, {}, 0).location, FaultLocation::none);

    // Extreme sample minimums must not overflow the confidence rules.
    AttributionThresholds huge = AttributionThresholds::standard();
    huge.minimumSamplesPerLeg = std::numeric_limits<std::int64_t>::max();
    EXPECT_EQ(AttributionEngine(huge).attribute(build({}), healthyRadio(), 0).location, FaultLocation::insufficientEvidence);
    AttributionThresholds negative = AttributionThresholds::standard();
    negative.minimumSamplesPerLeg = std::numeric_limits<std::int64_t>::min();
    const FaultAttribution a = AttributionEngine(negative).attribute(build({.gw = 30, .pub = 180}), healthyRadio(), 0);
    EXPECT_EQ(a.location, FaultLocation::provider);
    EXPECT_EQ(a.confidence, AttributionConfidence::high);
}

// ---------------------------------------------------------------------------------------------
// A leg that answers within a millisecond reads "kevesebb mint 1 ms", and a verdict that a delay did
// not make quotes none.
TEST(AttributionWording, SubMillisecondLegsAndAnAddedDelayThatIsNotTheCause)
{
    struct Case {
        const char* name;
        Window window;
        QString wanted;    // among the evidence
        QString forbidden; // in no evidence sentence
    };
    const Case cases[] = {
        {"healthy, router under 1 ms", {.gw = 0.3}, QStringLiteral("A routered kevesebb mint 1 ms alatt válaszol."),
         QStringLiteral(" 0 ms")},
        {"provider outage, router under 1 ms", {.gw = 0.3, .pub = std::nullopt, .pubLoss = 1.0, .http = std::nullopt},
         QStringLiteral("A routered 24 mérésből válaszol."), QStringLiteral(" ms")},
        {"loss beyond the router, no added delay", {.gw = 0.3, .pub = 0.3, .pubLoss = 0.2},
         QStringLiteral("A csomagok 20.0%-a elveszett a routeren túl, miközben a helyi hálózat hibátlan."),
         QStringLiteral(" ms")},
        {"loss beyond the router, small added delay", {.gw = 2, .pub = 7, .pubLoss = 0.2},
         QStringLiteral("A csomagok 20.0%-a elveszett a routeren túl, miközben a helyi hálózat hibátlan."),
         QStringLiteral(" ms")},
        {"loss on the own link, quick first hop", {.gw = 0.3, .gwLoss = 0.2, .pub = 0.3, .pubLoss = 0.2},
         QStringLiteral("A routerhez küldött csomagok 20.0%-a nem ért célba."), QStringLiteral(" ms")},
        {"a resolver that fails, a quick line", {.pub = 0.3, .dns = std::nullopt, .dnsCount = 14},
         QStringLiteral("Maga a kapcsolat közben rendben van: az IP-címre küldött csomagok célba érnek."),
         QStringLiteral(" ms")},
        {"delay beyond a sub-millisecond router", {.gw = 0.3, .pub = 180.3},
         QStringLiteral("A routeredig kevesebb mint 1 ms, onnan tovább még 180 ms — a késés a routeren túl keletkezik."),
         QStringLiteral(" 0 ms")},
    };
    for (const Case& c : cases) {
        const FaultAttribution a = attribute(build(c.window), healthyRadio());
        EXPECT_TRUE(a.evidence.contains(c.wanted)) << c.name << ": " << a.evidence.join(QLatin1Char('|')).toStdString();
        for (const QString& sentence : a.evidence)
            EXPECT_FALSE(sentence.contains(c.forbidden)) << c.name << ": " << sentence.toStdString();
    }
}
