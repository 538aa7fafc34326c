#include "core/analysis/Attribution.h"

#include "core/analysis/Statistics.h"
#include "core/records/Localization.h"

#include <algorithm>

namespace pv {

namespace {
using Kind = RadioAssessment::Kind;

double percent(double ratio) { return ratio * 100; }
} // namespace

QString title(FaultLocation l)
{
    switch (l) {
    case FaultLocation::none: return L("Nincs hiba");
    case FaultLocation::wifi: return L("A Wi-Fi kapcsolatod");
    case FaultLocation::router: return L("A routered");
    case FaultLocation::provider: return L("A szolgáltatód");
    case FaultLocation::dns: return L("A névfeloldás (DNS)");
    case FaultLocation::localUnseparated: return L("A helyi hálózatod");
    case FaultLocation::offline: return L("Teljes kiesés");
    case FaultLocation::insufficientEvidence: return L("Még nem tudjuk");
    }
    return {};
}

std::optional<IncidentClassification> incidentClassification(FaultLocation l)
{
    switch (l) {
    case FaultLocation::wifi: return IncidentClassification::wifiLinkDegraded;
    case FaultLocation::router: return IncidentClassification::gatewayCongestion;
    case FaultLocation::provider: return IncidentClassification::internetUpstreamIssue;
    case FaultLocation::dns: return IncidentClassification::dnsOnlyIssue;
    case FaultLocation::localUnseparated: return IncidentClassification::unknown;
    case FaultLocation::offline: return IncidentClassification::offline;
    case FaultLocation::none:
    case FaultLocation::insufficientEvidence: return std::nullopt;
    }
    return std::nullopt;
}

std::optional<AttributionConfidence> parseAttributionConfidence(long long raw)
{
    switch (raw) {
    case 0: return AttributionConfidence::low;
    case 1: return AttributionConfidence::moderate;
    case 2: return AttributionConfidence::high;
    default: return std::nullopt;
    }
}

QString title(AttributionConfidence c)
{
    switch (c) {
    case AttributionConfidence::low: return L("Bizonytalan");
    case AttributionConfidence::moderate: return L("Valószínű");
    case AttributionConfidence::high: return L("Biztos");
    }
    return {};
}

double storedValue(AttributionConfidence c)
{
    switch (c) {
    case AttributionConfidence::low: return 0.4;
    case AttributionConfidence::moderate: return 0.7;
    case AttributionConfidence::high: return 0.9;
    }
    return 0.4;
}

FaultAttribution::FaultAttribution(FaultLocation location, IncidentSeverity severity,
                                   AttributionConfidence confidence, QString headline, QStringList evidence,
                                   QStringList caveats, bool isOutage, bool isMeasurementArtefact)
    : location(location), severity(severity), confidence(confidence), headline(std::move(headline)),
      evidence(std::move(evidence)), caveats(std::move(caveats)), isMeasurementArtefact(isMeasurementArtefact),
      isOutage(isOutage)
{
}

QString FaultAttribution::storedEvidenceSummary() const
{
    QStringList parts{headline};
    parts.append(evidence);
    return parts.join(QLatin1Char(' '));
}

// ---------------------------------------------------------------------------------------------
namespace attribution {

LegMeasurement measureLeg(const std::vector<const NetworkSample*>& samples)
{
    LegMeasurement leg;
    leg.sampleCount = static_cast<long long>(samples.size());
    const std::vector<double> latencies = stats::sortedSuccessfulLatencies(samples);
    leg.lossRatio = stats::lossRatio(samples);
    leg.medianRtt = stats::upperMedian(latencies);
    leg.p95Rtt = stats::indexP95(latencies);
    return leg;
}

double sampleSpan(const std::vector<NetworkSample>& samples)
{
    if (samples.empty())
        return 0;
    const auto [lo, hi] = std::minmax_element(samples.begin(), samples.end(),
        [](const NetworkSample& a, const NetworkSample& b) { return a.timestamp < b.timestamp; });
    return hi->timestamp - lo->timestamp;
}

bool detectRoam(const std::vector<WifiSnapshot>& wifi)
{
    if (wifi.empty())
        return false;
    const std::size_t first = wifi.size() > 10 ? wifi.size() - 10 : 0;
    const NodeFingerprint reference = wifi[first].nodeFingerprint();
    for (std::size_t i = first + 1; i < wifi.size(); ++i)
        if (wifi[i].nodeFingerprint() != reference)
            return true;
    return false;
}

RadioAssessment assessRadio(const AttributionThresholds& t, const std::vector<WifiSnapshot>& wifi)
{
    using State = RadioAssessment::State;
    if (wifi.empty())
        return {State::unavailable(L("Nincs Wi-Fi pillanatkép — vezetékes kapcsolat, vagy nem olvasható a rádió.")), false};
    const WifiSnapshot& last = wifi.back();
    if (!last.interfaceUp)
        return {State::unusable(L("A Wi-Fi csatoló ki van kapcsolva vagy nem kapcsolódik.")), false};

    const bool roamed = detectRoam(wifi);
    if (!last.rssi)
        return {State::unavailable(L("A jelerősség nem olvasható. macOS 14-től ehhez helymeghatározási engedély kell.")),
                roamed};
    // 64-bit arithmetic: readings come from the outside and must not overflow.
    const long long rssi = *last.rssi;
    const std::optional<long long> snr =
        last.noise ? std::optional<long long>(rssi - static_cast<long long>(*last.noise)) : std::nullopt;

    // Equality with a radio limit is already on the bad side.
    if (rssi <= t.unusableSignalDbm)
        return {State::unusable(LF("A Wi-Fi jel %d dBm — ezen a szinten a kapcsolat már alig áll össze.", {rssi})),
                roamed};
    if (snr && *snr <= t.criticalSnrDb)
        return {State::unusable(LF("A zajhoz képest %d dB hasznos jel marad — ez ismétlésekkel telített kapcsolat.", {*snr})),
                roamed};
    if (rssi <= t.weakSignalDbm)
        return {State::weak(LF("A Wi-Fi jel %d dBm. A tervezési határ %d dBm, ez alatt a kapcsolat sebességet cserél stabilitásra.",
                               {rssi, static_cast<long long>(t.weakSignalDbm)})),
                roamed};
    if (snr && *snr < t.lowSnrDb)
        return {State::weak(LF("A zajhoz képest csak %d dB hasznos jel marad (a megbízható határ %d dB).",
                               {*snr, static_cast<long long>(t.lowSnrDb)})),
                roamed};
    return {State::healthy(), roamed};
}

} // namespace attribution

// ---------------------------------------------------------------------------------------------
namespace {

struct Legs {
    LegMeasurement gw, pub, dns, http;
};

AttributionConfidence highWhenEnough(const LegMeasurement& leg, const AttributionThresholds& t,
                                     AttributionConfidence otherwise)
{
    return leg.hasEnoughEvidence(t) ? AttributionConfidence::high : otherwise;
}

FaultAttribution outageVerdict(const AttributionThresholds& t, const LegMeasurement& gw, const LegMeasurement& pub,
                               const RadioAssessment& radio)
{
    const bool routerSilent = gw.sampleCount < 1 || !gw.medianRtt;
    if (routerSilent && radio.state.kind == Kind::unusable)
        return {FaultLocation::wifi, IncidentSeverity::critical, AttributionConfidence::high,
                L("Megszakadt a Wi-Fi kapcsolat."),
                {radio.state.reason, L("Ebben az állapotban a router sem érhető el, nemhogy az internet.")},
                {}, true, false};
    if (routerSilent) {
        QStringList caveats;
        if (radio.state.kind == Kind::unavailable)
            caveats << L("A Wi-Fi rádió állapota nem olvasható, ezért a kettő nem különíthető el.");
        return {FaultLocation::offline, IncidentSeverity::critical,
                highWhenEnough(gw, t, AttributionConfidence::moderate),
                L("Teljes kiesés — még a routered sem válaszol."),
                {L("Sem a router, sem a routeren túli célpontok nem válaszolnak."),
                 L("Ez vagy a Wi-Fi kapcsolat megszakadása, vagy a router leállása.")},
                caveats, true, false};
    }
    return {FaultLocation::provider, IncidentSeverity::critical, highWhenEnough(gw, t, AttributionConfidence::moderate),
            L("Nincs internet, de a routered válaszol — a hiba a routeren túl van."),
            {LF("A routered %lld mérésből válaszol.", {gw.sampleCount}),
             LF("A routeren túl egyetlen mérés sem jutott célba %lld próbálkozásból.", {pub.sampleCount}),
             L("A Wi-Fi és a router tehát működik; a szolgáltatói vonal az, ami nem.")},
            {}, true, false};
}

std::optional<FaultAttribution> artefactVerdict(const AttributionThresholds& t, const LegMeasurement& gw,
                                                const LegMeasurement& pub, const RadioAssessment& radio,
                                                std::optional<double> excess)
{
    if (!(excess.value_or(0) <= t.upstreamComfortableMs && pub.lossRatio <= t.upstreamLossRatio &&
          !radio.isWeakOrWorse()))
        return std::nullopt;
    const bool unanswered = gw.sampleCount >= 1 && gw.lossRatio > t.severeLocalLinkLossRatio;
    const bool slow = gw.medianRtt.value_or(0) > t.gatewayLatencyCeilingMs;
    if (!unanswered && !slow)
        return std::nullopt;

    const AttributionConfidence confidence = highWhenEnough(gw, t, AttributionConfidence::moderate);
    // The artefact sentences print 0 for a missing median; nowhere else is a number made up.
    if (unanswered)
        return FaultAttribution{
            FaultLocation::none, IncidentSeverity::info, confidence,
            L("Nincs hiba — a routered nem válaszol a pingre, de a forgalmat továbbítja."),
            {LF("A routernek címzett pingek %.0f%%-a válasz nélkül maradt.", {percent(gw.lossRatio)}),
             LF("A routeren átmenő forgalom közben hibátlan: %@, %.1f%% veszteséggel.",
                {millisecondsText(pub.medianRtt.value_or(0)), percent(pub.lossRatio)}),
             L("Ha a csomagok tényleg elvesznének a routernél, a rajta átmenő forgalom sem jutna célba. Célba jut.")},
            {L("Sok szolgáltatói router alapból nem válaszol a neki címzett pingre. Ez beállítás, nem hiba — a forgalom továbbítását nem érinti. Emiatt a router szakaszáról ilyenkor nem tudunk külön ítéletet mondani.")},
            false, true};
    return FaultAttribution{
        FaultLocation::none, IncidentSeverity::info, confidence,
        L("Nincs hiba — a router csak a saját pingjeire válaszol lassan."),
        {LF("A router %@ alatt válaszol a neki címzett pingre.", {millisecondsText(gw.medianRtt.value_or(0))}),
         LF("Ugyanezen a routeren átmenő forgalom viszont %@, veszteség nélkül.", {millisecondsText(pub.medianRtt.value_or(0))}),
         L("Ha a router tényleg túl lenne terhelve, az átmenő forgalom is lassulna. Nem lassul.")},
        {L("Sok router a saját magának címzett pinget a legalacsonyabb prioritással kezeli, miközben a valódi forgalmat hardveresen továbbítja. A lassú ping ilyenkor mérési látszat, nem hiba.")},
        false, true};
}

// The first hop's delay is quoted only where it made the verdict; a verdict for loss speaks of loss.
QStringList routerEvidence(const AttributionThresholds& t, const LegMeasurement& gw, std::optional<double> excess)
{
    QStringList out;
    if (gw.lossRatio > t.localLinkLossRatio)
        out << LF("A routerhez küldött csomagok %.1f%%-a nem ért célba.", {percent(gw.lossRatio)});
    if (gw.medianRtt && *gw.medianRtt > t.gatewayLatencySevereMs) {
        out << LF("Az első ugrás %@, miközben egy egészséges helyi hálózaton ez néhány ms.", {millisecondsText(*gw.medianRtt)});
        if (excess && *excess < *gw.medianRtt)
            out << LF("A routeren túli szakasz ehhez képest %@ — a késés nagyobb része a routerig keletkezik.",
                      {millisecondsText(*excess)});
    }
    return out;
}

std::optional<FaultAttribution> localVerdict(const AttributionThresholds& t, const LegMeasurement& gw,
                                             const RadioAssessment& radio, std::optional<double> excess)
{
    const bool lossy = gw.lossRatio > t.localLinkLossRatio;
    const bool slow = gw.medianRtt.value_or(0) > t.gatewayLatencySevereMs;
    const bool severeLoss = gw.lossRatio > t.severeLocalLinkLossRatio;

    // A weak radio takes the blame for any local trouble before the router does.
    if (radio.isWeakOrWorse()) {
        QStringList evidence{radio.state.reason};
        if (lossy)
            evidence << LF("A routerhez küldött csomagok %.1f%%-a elveszett — két egy szobában lévő eszköz között ez nem normális.",
                           {percent(gw.lossRatio)});
        if (gw.medianRtt && *gw.medianRtt > t.gatewayLatencyCeilingMs)
            evidence << LF("Az első ugrás %@ — egészséges rádiókapcsolaton ez néhány ezredmásodperc.",
                           {millisecondsText(*gw.medianRtt)});
        if (radio.roamed)
            evidence << L("Közben hozzáférési pontot is váltottál — ez a rádiós magyarázatot erősíti.");
        const bool critical = radio.state.kind == Kind::unusable || severeLoss;
        return FaultAttribution{FaultLocation::wifi, critical ? IncidentSeverity::critical : IncidentSeverity::warning,
                                highWhenEnough(gw, t, AttributionConfidence::moderate),
                                L("A Wi-Fi kapcsolatod a szűk keresztmetszet."), evidence, {}, false, false};
    }
    if (!lossy && !slow)
        return std::nullopt;
    if (radio.state.kind == Kind::unavailable)
        return FaultAttribution{FaultLocation::localUnseparated,
                                severeLoss ? IncidentSeverity::critical : IncidentSeverity::warning,
                                AttributionConfidence::low,
                                L("A hiba a helyi hálózatodban van, de a Wi-Fi és a router nem különíthető el."),
                                routerEvidence(t, gw, excess), {radio.state.reason}, false, false};
    QStringList evidence = routerEvidence(t, gw, excess);
    evidence << L("A Wi-Fi jel mérhetően rendben van, tehát nem a rádiókapcsolat magyarázza.");
    return FaultAttribution{
        FaultLocation::router, (severeLoss || slow) ? IncidentSeverity::critical : IncidentSeverity::warning,
        gw.hasEnoughEvidence(t) ? AttributionConfidence::moderate : AttributionConfidence::low,
        L("A routered vagy a helyi hálózatod a szűk keresztmetszet."), evidence,
        {L("Ez a megállapítás akkor is állhat, ha a lassulást nem maga a router, hanem egy másik, a hálózatra kötött eszköz okozza.")},
        false, false};
}

std::optional<FaultAttribution> upstreamVerdict(const AttributionThresholds& t, const LegMeasurement& gw,
                                                const LegMeasurement& pub, std::optional<double> excess)
{
    const bool lossy = pub.lossRatio > t.upstreamLossRatio;
    if (!lossy && !(excess.value_or(0) > t.upstreamComfortableMs))
        return std::nullopt;

    QStringList evidence;
    // A delay is quoted only when it is what made the verdict: a verdict for loss speaks of loss.
    if (excess && *excess > t.upstreamComfortableMs)
        evidence << (gw.medianRtt
                         ? LF("A routeredig %@, onnan tovább még %@ — a késés a routeren túl keletkezik.",
                              {millisecondsText(*gw.medianRtt), millisecondsText(*excess)})
                         // Without a router sample the delay cannot be placed: said as measured.
                         : LF("A routeren túli célpontok %@ alatt válaszolnak.", {millisecondsText(*excess)}));
    // The router leg is called flawless only when it lost nothing; otherwise its loss is quoted.
    const bool routerClean = gw.sampleCount > 0 && gw.lossRatio <= 0;
    if (lossy)
        evidence << (routerClean
                         ? LF("A csomagok %.1f%%-a elveszett a routeren túl, miközben a helyi hálózat hibátlan.",
                              {percent(pub.lossRatio)})
                         : LF("A csomagok %.1f%%-a elveszett a routeren túl.", {percent(pub.lossRatio)}));
    if (routerClean)
        evidence << L("A saját hálózatod ez alatt végig hibátlanul működött — ez zárja ki a Wi-Fit és a routert.");
    else if (gw.sampleCount > 0)
        evidence << LF("A routerig a csomagok %.1f%%-a veszett el.", {percent(gw.lossRatio)});

    AttributionConfidence confidence = AttributionConfidence::low;
    if (stats::atLeastMultiple(gw.sampleCount, 2, t.minimumSamplesPerLeg) &&
        stats::atLeastMultiple(pub.sampleCount, 2, t.minimumSamplesPerLeg))
        confidence = AttributionConfidence::high;
    else if (gw.hasEnoughEvidence(t) && pub.hasEnoughEvidence(t))
        confidence = AttributionConfidence::moderate;

    const bool critical = pub.lossRatio > t.severeUpstreamLossRatio || excess.value_or(0) > t.upstreamPoorMs;
    QStringList caveats;
    if (gw.sampleCount < t.minimumSamplesPerLeg)
        caveats << L("Kevés mérés van a routerre, ezért a helyi szakasz kizárása gyengébb, mint amilyen lehetne.");
    return FaultAttribution{FaultLocation::provider, critical ? IncidentSeverity::critical : IncidentSeverity::warning,
                            confidence, L("A hiba a routereden túl, a szolgáltatói szakaszon van."), evidence, caveats,
                            false, false};
}

// How the samples of one kind went: how many got no answer, and how many of the newest in a row.
struct Unanswered {
    long long unanswered = 0;
    long long newestUnanswered = 0;
    long long errorAnswered = 0; // of the unanswered, those the resolver answered with an error
};

Unanswered unansweredOutcomes(const std::vector<NetworkSample>& samples, ProbeKind kind)
{
    std::vector<const NetworkSample*> dns;
    for (const NetworkSample& s : samples)
        if (s.target.kind == kind)
            dns.push_back(&s);
    std::stable_sort(dns.begin(), dns.end(),
                     [](const NetworkSample* a, const NetworkSample* b) { return a->timestamp < b->timestamp; });
    Unanswered out;
    for (const NetworkSample* s : dns) {
        out.unanswered += s->success ? 0 : 1;
        // A failed lookup that took a time got an error answer (SERVFAIL, REFUSED), not silence.
        out.errorAnswered += !s->success && s->latencyMilliseconds ? 1 : 0;
    }
    for (auto it = dns.rbegin(); it != dns.rend() && !(*it)->success; ++it)
        ++out.newestUnanswered;
    return out;
}

std::optional<FaultAttribution> dnsVerdict(const AttributionThresholds& t, const LegMeasurement& dns,
                                           const LegMeasurement& pub, const Unanswered& outcomes)
{
    if (dns.sampleCount < 1)
        return std::nullopt;
    QString first;
    QString headline = L("A kapcsolat jó, a névfeloldás lassú.");
    IncidentSeverity severity = IncidentSeverity::warning;
    // The resolver that stopped answering is named as such, whatever older answers were like: a
    // median of earlier answers says nothing about lookups that get none.
    const bool silentNow = outcomes.newestUnanswered >= 2 || (!dns.medianRtt && outcomes.unanswered > 0);
    // Most failed lookups got an error answer: the resolver is there and says it cannot resolve.
    const bool errorAnswers = outcomes.errorAnswered > 0 && 2 * outcomes.errorAnswered >= outcomes.unanswered;
    const QString failingHeadline =
        errorAnswers ? L("A névfeloldó hibával válaszol.") : L("A névfeloldás (DNS) nem válaszol.");
    if (!dns.medianRtt) {
        first = errorAnswers ? LF("Egyetlen névfeloldás sem sikerült %lld próbálkozásból: a névfeloldó hibával "
                                  "válaszol.", {dns.sampleCount})
                             : LF("Egyetlen névfeloldás sem sikerült %lld próbálkozásból.", {dns.sampleCount});
        severity = IncidentSeverity::critical;
        headline = failingHeadline;
    } else if (silentNow) {
        first = errorAnswers
                    ? LF("A legutóbbi %lld névfeloldás nem sikerült, a névfeloldó hibával válaszol; az ablakban "
                         "%lld / %lld nem sikerült.", {outcomes.newestUnanswered, outcomes.unanswered, dns.sampleCount})
                    : LF("A legutóbbi %lld névfeloldásra nem jött válasz; az ablakban %lld / %lld maradt válasz "
                         "nélkül.", {outcomes.newestUnanswered, outcomes.unanswered, dns.sampleCount});
        severity = IncidentSeverity::critical;
        headline = failingHeadline;
    } else {
        if (*dns.medianRtt <= t.dnsSlowMs && dns.lossRatio <= t.upstreamLossRatio)
            return std::nullopt;
        // The answer time is quoted only when it is what crossed its limit; lookups that got no
        // answer are counted, and a loss alone is said as a loss.
        const bool slow = *dns.medianRtt > t.dnsSlowMs;
        QStringList parts;
        if (slow)
            parts << LF("Egy névfeloldás %@ — közeli feloldónál ez néhány tíz ms.", {millisecondsText(*dns.medianRtt)});
        severity = *dns.medianRtt > t.dnsCriticalMs ? IncidentSeverity::critical : IncidentSeverity::warning;
        if (outcomes.unanswered > 0) {
            parts << (errorAnswers ? LF("%lld névfeloldásra hibával válaszolt a névfeloldó %lld próbálkozásból.",
                                        {outcomes.unanswered, dns.sampleCount})
                                   : LF("%lld névfeloldás válasz nélkül maradt %lld próbálkozásból.",
                                        {outcomes.unanswered, dns.sampleCount}));
            headline = L("A névfeloldás (DNS) akadozik.");
        } else if (!slow) {
            parts << LF("A névfeloldásnál a csomagok %.1f%%-a elveszett.", {percent(dns.lossRatio)});
        }
        first = parts.join(QLatin1Char(' '));
    }
    QStringList evidence{first};
    // The lookups are what failed: the line's own delay made no part of this verdict.
    if (pub.medianRtt)
        evidence << L("Maga a kapcsolat közben rendben van: az IP-címre küldött csomagok célba érnek.");
    // What follows depends on whether names resolve slowly or not at all.
    evidence << (!dns.medianRtt || silentNow
                     ? L("Amíg a nevek nem oldódnak fel, új oldal, adás vagy hívás nem indul el; ami már elindult, "
                         "az megy tovább.")
                     : L("Ilyenkor az oldalak lassan indulnak, de ami már elindult, az normálisan megy."));

    const bool enough = dns.hasEnoughEvidence(t);
    QStringList caveats;
    if (!enough)
        caveats << L("A DNS-t ritkábban mérjük, mint a többi szakaszt, ezért ez kevesebb mintán áll.");
    return FaultAttribution{FaultLocation::dns, severity,
                            enough ? AttributionConfidence::moderate : AttributionConfidence::low,
                            headline, evidence, caveats, false, false};
}

QStringList healthyEvidence(const LegMeasurement& gw, const LegMeasurement& pub, const RadioAssessment& radio)
{
    QStringList out;
    if (pub.medianRtt)
        out << LF("A válaszidő %@, a csomagok %.1f%%-a veszett el.", {millisecondsText(*pub.medianRtt), percent(pub.lossRatio)});
    if (gw.medianRtt)
        out << LF("A routered %@ alatt válaszol.", {millisecondsText(*gw.medianRtt)});
    if (radio.state.kind == Kind::healthy)
        out << L("A Wi-Fi jel a tervezési határ felett van.");
    return out;
}

Legs measureLegs(const std::vector<NetworkSample>& samples)
{
    std::vector<const NetworkSample*> gw, pub, dns, http;
    for (const NetworkSample& s : samples) {
        switch (s.target.kind) {
        case ProbeKind::gateway: gw.push_back(&s); break;
        case ProbeKind::publicIP: pub.push_back(&s); break;
        case ProbeKind::dns: dns.push_back(&s); break;
        case ProbeKind::http: http.push_back(&s); break;
        }
    }
    return {attribution::measureLeg(gw), attribution::measureLeg(pub), attribution::measureLeg(dns),
            attribution::measureLeg(http)};
}

} // namespace

AttributionEvidence AttributionEngine::gather(const std::vector<NetworkSample>& samples)
{
    const Legs legs = measureLegs(samples);
    const Unanswered dns = unansweredOutcomes(samples, ProbeKind::dns);
    return {legs.gw,
            legs.pub,
            legs.dns,
            legs.http,
            attribution::sampleSpan(samples),
            dns.unanswered,
            dns.newestUnanswered,
            unansweredOutcomes(samples, ProbeKind::publicIP).newestUnanswered,
            dns.errorAnswered};
}

FaultAttribution AttributionEngine::attribute(const std::vector<NetworkSample>& samples,
                                              const std::vector<WifiSnapshot>& wifi, Timestamp /*now*/) const
{
    return attribute(gather(samples), wifi);
}

FaultAttribution AttributionEngine::attribute(const AttributionEvidence& evidence,
                                              const std::vector<WifiSnapshot>& wifi) const
{
    const AttributionThresholds& t = thresholds_;
    const Legs legs{evidence.gateway, evidence.publicHost, evidence.dns, evidence.http};
    const LegMeasurement& gw = legs.gw;
    const LegMeasurement& pub = legs.pub;
    const RadioAssessment radio = attribution::assessRadio(t, wifi);
    const double span = evidence.spanSeconds;

    // Only the public-host leg opens the gate; a count or span equal to its minimum passes.
    if (pub.sampleCount < t.minimumSamplesPerLeg || span < t.minimumWindowSeconds)
        return {FaultLocation::insufficientEvidence, IncidentSeverity::info, AttributionConfidence::low,
                L("Még gyűjtjük a bizonyítékot."),
                {LF("%lld mérés eddig. Ennyiből még nem mondunk ki semmit.", {pub.sampleCount})},
                {}, false, false};

    // One answer of the page beyond the router proves the line is not down altogether. A name
    // lookup proves nothing of it: the router's resolver answers from its cache or over an uplink
    // of its own (a DNS64/NAT64 router) while nothing of ours gets through.
    if (pub.totallyDown() && !legs.http.medianRtt)
        return outageVerdict(t, gw, pub, radio);

    std::optional<double> excess;
    if (pub.medianRtt)
        excess = gw.medianRtt ? std::max(*pub.medianRtt - *gw.medianRtt, 0.0) : *pub.medianRtt;

    if (auto r = artefactVerdict(t, gw, pub, radio, excess))
        return *r;
    if (auto r = localVerdict(t, gw, radio, excess))
        return *r;
    if (auto r = upstreamVerdict(t, gw, pub, excess))
        return *r;
    // While the newest echoes beyond the router get no answer either, a lookup failed with the line,
    // not on its own: the step that failed first is not the fault, and nothing is said to be fine.
    if (evidence.publicNewestUnanswered >= 2)
        return {FaultLocation::insufficientEvidence, IncidentSeverity::info, AttributionConfidence::low,
                L("A legutóbbi mérésekre nem jött válasz — még nem tudjuk, hol a hiba."),
                {LF("A routeren túlra küldött legutóbbi %lld mérés válasz nélkül maradt.",
                    {evidence.publicNewestUnanswered})},
                {}, false, false};
    if (auto r = dnsVerdict(t, legs.dns, pub,
                            Unanswered{evidence.dnsUnanswered, evidence.dnsNewestUnanswered, evidence.dnsErrorAnswered}))
        return *r;

    QStringList caveats;
    if (radio.state.kind == Kind::unavailable)
        caveats << radio.state.reason;
    return {FaultLocation::none, IncidentSeverity::info,
            stats::atLeastMultiple(pub.sampleCount, 3, t.minimumSamplesPerLeg) ? AttributionConfidence::high
                                                                               : AttributionConfidence::moderate,
            L("A kapcsolat rendben van."), healthyEvidence(gw, pub, radio), caveats, false, false};
}

} // namespace pv
