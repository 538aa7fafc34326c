#include "core/analysis/Ipv6Path.h"

#include "core/analysis/Statistics.h"
#include "core/records/Localization.h"

#include <algorithm>
#include <map>

namespace pv {

namespace {

// The samples of one family and kind.
struct Leg {
    std::vector<const NetworkSample*> samples;
    int answered() const
    {
        return static_cast<int>(std::count_if(samples.begin(), samples.end(), [](auto* s) { return s->success; }));
    }
    bool present() const { return !samples.empty(); }
    // Something of the newest batch answered (a silence going on now is no loss).
    bool newestAnswered() const
    {
        Timestamp newest = 0;
        for (auto* s : samples)
            newest = std::max(newest, s->timestamp);
        return std::any_of(samples.begin(), samples.end(), [newest](auto* s) { return s->timestamp == newest && s->success; });
    }
    bool silent(int minimum) const { return static_cast<int>(samples.size()) >= minimum && answered() == 0; }
    std::optional<double> median() const { return stats::upperMedian(stats::sortedSuccessfulLatencies(samples)); }
    double loss() const { return stats::lossRatio(samples); }
};

// A stretch's samples by family and kind.
struct Legs {
    Leg v4[4], v6[4];
    Timestamp first = 0;
    const Leg& of(AddressFamily f, ProbeKind k) const
    {
        return (f == AddressFamily::ipv6 ? v6 : v4)[static_cast<int>(k)];
    }
    void add(const NetworkSample& s)
    {
        if (v4[0].samples.empty() && v6[0].samples.empty() && first == 0)
            first = s.timestamp;
        first = std::min(first, s.timestamp);
        (s.family == AddressFamily::ipv6 ? v6 : v4)[static_cast<int>(s.target.kind)].samples.push_back(&s);
    }
    bool hasFamily(AddressFamily f) const
    {
        const Leg* legs = f == AddressFamily::ipv6 ? v6 : v4;
        return std::any_of(legs, legs + 4, [](const Leg& l) { return l.present(); });
    }
};

using SampleRefs = Ipv6PathJudge::SampleRefs;

Legs legsBetween(const SampleRefs& samples, Timestamp from, Timestamp to)
{
    Legs legs;
    for (const NetworkSample* s : samples)
        if (s->timestamp >= from && s->timestamp <= to)
            legs.add(*s);
    return legs;
}

SampleRefs refsOf(const std::vector<NetworkSample>& samples)
{
    SampleRefs refs;
    refs.reserve(samples.size());
    for (const NetworkSample& s : samples)
        refs.push_back(&s);
    return refs;
}

constexpr AddressFamily v4 = AddressFamily::ipv4;
constexpr AddressFamily v6 = AddressFamily::ipv6;

// Whether a stretch (the newest minute, or one batch) shows the fault state, minimum: how many
// samples of a leg make it silent.
bool shows(const Legs& l, Ipv6PathState state, const Ipv6PathThresholds& t, int minimum)
{
    const Leg& gw6 = l.of(v6, ProbeKind::gateway);
    const Leg& pub6 = l.of(v6, ProbeKind::publicIP);
    const Leg& pub4 = l.of(v4, ProbeKind::publicIP);
    const bool ipv4Router = l.of(v4, ProbeKind::gateway).answered() > 0;
    const bool ipv4Public = pub4.answered() > 0;
    switch (state) {
    // A router that ignores echoes to itself is no fault while what lies beyond it answers.
    case Ipv6PathState::routerQuiet: return gw6.silent(minimum) && pub6.answered() > 0;
    case Ipv6PathState::routerSilent:
        return gw6.silent(minimum) && pub6.answered() == 0 && ipv4Router && ipv4Public;
    case Ipv6PathState::ipv4Down: return ipv4Router && pub4.silent(minimum) && pub6.answered() > 0;
    case Ipv6PathState::providerDown: return gw6.answered() > 0 && pub6.silent(minimum) && ipv4Public;
    case Ipv6PathState::nameOrPage: {
        const auto failsAlone = [&](ProbeKind k) {
            return l.of(v6, k).silent(1) && l.of(v4, k).answered() > 0;
        };
        // On a line that loses echoes a lost lookup or page check is that loss, not IPv6's own fault.
        const bool lineSound = pub4.loss() < t.lossMargin && pub6.loss() < t.lossMargin;
        return pub6.answered() > 0 && lineSound && (failsAlone(ProbeKind::dns) || failsAlone(ProbeKind::http));
    }
    case Ipv6PathState::slowOrLossy: {
        if (pub6.answered() == 0 || !ipv4Public)
            return false;
        const double m6 = *pub6.median(), m4 = *pub4.median();
        const bool slower = m6 >= m4 * t.slowFactor && m6 >= m4 + t.slowMarginMs;
        // Loss spread over the stretch (samples that lost some of their echoes, not all), not a
        // silence that began or ended within it.
        const auto partly = std::count_if(pub6.samples.begin(), pub6.samples.end(), [](auto* s) {
            return s->success && s->packetLoss.value_or(0) > 0;
        });
        const bool lossier = static_cast<int>(pub6.samples.size()) >= minimum &&
                             pub6.loss() >= pub4.loss() + t.lossMargin &&
                             3 * partly >= static_cast<long>(pub6.samples.size()) && pub6.newestAnswered();
        return slower || lossier;
    }
    case Ipv6PathState::sharedFault:
        return (gw6.silent(minimum) && !ipv4Router) || (gw6.answered() > 0 && pub6.silent(minimum) && !ipv4Public);
    case Ipv6PathState::absent:
    case Ipv6PathState::notMeasured:
    case Ipv6PathState::onlyPath:
    case Ipv6PathState::collecting:
    case Ipv6PathState::healthy: break;
    }
    return false;
}

// The window's batches, oldest first.
std::vector<Legs> batchesBetween(const SampleRefs& samples, Timestamp from, Timestamp to)
{
    std::map<QUuid, Legs> byBatch;
    for (const NetworkSample* s : samples)
        if (s->timestamp >= from && s->timestamp <= to)
            byBatch[s->batchID].add(*s);
    std::vector<Legs> batches;
    for (auto& [id, legs] : byBatch)
        batches.push_back(std::move(legs));
    std::sort(batches.begin(), batches.end(), [](const Legs& a, const Legs& b) { return a.first < b.first; });
    return batches;
}

} // namespace

bool Ipv6PathJudgement::isFault() const
{
    return state == Ipv6PathState::routerSilent || state == Ipv6PathState::providerDown ||
           state == Ipv6PathState::slowOrLossy || state == Ipv6PathState::nameOrPage || state == Ipv6PathState::ipv4Down;
}

Ipv6PathJudgement Ipv6PathJudge::judge(const std::vector<NetworkSample>& samples, Timestamp at,
                                       const Ipv6PathThresholds& t, const Ipv6Measuring& measuring)
{
    return judge(refsOf(samples), at, t, measuring);
}

Ipv6PathJudgement Ipv6PathJudge::judge(const SampleRefs& samples, Timestamp at, const Ipv6PathThresholds& t,
                                       const Ipv6Measuring& measuring)
{
    Ipv6PathJudgement j;
    if (!measuring.on) {
        j.state = Ipv6PathState::notMeasured;
        j.routeHasIpv6 = measuring.routeHasIpv6;
        return j;
    }
    const Legs window = legsBetween(samples, at - t.window, at);
    if (!window.hasFamily(v6))
        return j; // absent
    const Legs now = legsBetween(samples, at - t.newestMinute, at);
    if (!now.hasFamily(v4) && !window.hasFamily(v4)) {
        j.state = Ipv6PathState::onlyPath;
        return j;
    }
    j.routerRtt = now.of(v6, ProbeKind::gateway).median();
    j.medianRtt = now.of(v6, ProbeKind::publicIP).median();
    j.ipv4MedianRtt = now.of(v4, ProbeKind::publicIP).median();
    j.lossRatio = now.of(v6, ProbeKind::publicIP).loss();
    j.ipv4LossRatio = now.of(v4, ProbeKind::publicIP).loss();
    if (static_cast<int>(now.of(v6, ProbeKind::gateway).samples.size()) < t.minimumSamples) {
        j.state = Ipv6PathState::collecting;
        return j;
    }
    j.state = Ipv6PathState::healthy;
    for (Ipv6PathState s : {Ipv6PathState::ipv4Down, Ipv6PathState::sharedFault, Ipv6PathState::routerSilent, Ipv6PathState::providerDown,
                            Ipv6PathState::nameOrPage, Ipv6PathState::slowOrLossy})
        if (shows(now, s, t, t.minimumSamples)) {
            j.state = s;
            break;
        }
    if (j.state == Ipv6PathState::healthy && shows(now, Ipv6PathState::routerQuiet, t, t.minimumSamples))
        j.state = Ipv6PathState::routerQuiet;
    if (!j.isFault())
        return j;
    // The episode: the batches that showed it, each within the quiet gap of the next, back from now.
    const std::vector<Legs> batches = batchesBetween(samples, at - t.window, at);
    std::optional<Timestamp> since;
    for (auto b = batches.rbegin(); b != batches.rend(); ++b) {
        if (!shows(*b, j.state, t, 1))
            continue;
        if (since && *since - b->first > t.quietGap)
            break;
        since = b->first;
    }
    j.since = since.value_or(at - t.newestMinute);
    return j;
}

std::optional<Timestamp> Ipv6PathJudge::lastShown(const std::vector<NetworkSample>& samples, Ipv6PathState state,
                                                  Timestamp at, const Ipv6PathThresholds& t)
{
    return lastShown(refsOf(samples), state, at, t);
}

std::optional<Timestamp> Ipv6PathJudge::lastShown(const SampleRefs& samples, Ipv6PathState state, Timestamp at,
                                                  const Ipv6PathThresholds& t)
{
    const std::vector<Legs> batches = batchesBetween(samples, at - t.window, at);
    for (auto b = batches.rbegin(); b != batches.rend(); ++b)
        if (shows(*b, state, t, 1))
            return b->first;
    return std::nullopt;
}

std::optional<IncidentClassification> incidentClassification(Ipv6PathState state)
{
    switch (state) {
    case Ipv6PathState::routerSilent: return IncidentClassification::ipv6RouterIssue;
    case Ipv6PathState::providerDown: return IncidentClassification::ipv6ProviderIssue;
    case Ipv6PathState::slowOrLossy: return IncidentClassification::ipv6SlowOrLossy;
    case Ipv6PathState::nameOrPage: return IncidentClassification::ipv6NameOrPageIssue;
    case Ipv6PathState::ipv4Down: return IncidentClassification::ipv4ProviderIssue;
    default: return std::nullopt;
    }
}

std::optional<Ipv6PathState> ipv6PathState(IncidentClassification c)
{
    switch (c) {
    case IncidentClassification::ipv6RouterIssue: return Ipv6PathState::routerSilent;
    case IncidentClassification::ipv6ProviderIssue: return Ipv6PathState::providerDown;
    case IncidentClassification::ipv6SlowOrLossy: return Ipv6PathState::slowOrLossy;
    case IncidentClassification::ipv6NameOrPageIssue: return Ipv6PathState::nameOrPage;
    case IncidentClassification::ipv4ProviderIssue: return Ipv6PathState::ipv4Down;
    default: return std::nullopt;
    }
}

QString headline(const Ipv6PathJudgement& j)
{
    switch (j.state) {
    case Ipv6PathState::absent: return L("Ezen a hálózaton nincs IPv6");
    case Ipv6PathState::notMeasured:
        if (!j.routeHasIpv6)
            return L("Az IPv6 mérése ki van kapcsolva.");
        return *j.routeHasIpv6 ? L("Az IPv6 mérése ki van kapcsolva; a hálózaton van IPv6 útvonal.")
                               : L("Az IPv6 mérése ki van kapcsolva; a hálózaton nincs IPv6 útvonal.");
    case Ipv6PathState::onlyPath: return L("Ezen a hálózaton csak IPv6 van, nincs IPv4");
    case Ipv6PathState::routerQuiet:
        return j.medianRtt ? LF("Az IPv6 is működik · %@ · a router nem válaszol a pingre, de az IPv6 működik",
                                {millisecondsText(*j.medianRtt)})
                           : L("Az IPv6 is működik · a router nem válaszol a pingre, de az IPv6 működik");
    case Ipv6PathState::healthy:
        return j.medianRtt ? LF("Az IPv6 is működik · %@", {millisecondsText(*j.medianRtt)})
                           : L("Az IPv6 is működik");
    case Ipv6PathState::routerSilent:
        return L("Az IPv6 a routerednél elakad, az IPv4 működik: az oldalak lassan indulhatnak.");
    case Ipv6PathState::providerDown:
        return L("Az IPv6 a szolgáltatónál nem működik, az IPv4 igen: az oldalak lassan indulhatnak.");
    case Ipv6PathState::slowOrLossy:
        return j.medianRtt && j.ipv4MedianRtt
                   ? LF("Az IPv6 sokkal lassabb vagy veszteségesebb, mint az IPv4: %@ az IPv4 %@-os értékével szemben, "
                        "%.0f%% veszteség.",
                        {millisecondsText(*j.medianRtt), millisecondsText(*j.ipv4MedianRtt), j.lossRatio * 100})
                   : L("Az IPv6 sokkal lassabb vagy veszteségesebb, mint az IPv4.");
    case Ipv6PathState::nameOrPage:
        return L("Az IPv6-os névfeloldás vagy weboldal-ellenőrzés hibás, az IPv4-en működik.");
    case Ipv6PathState::ipv4Down:
        return j.medianRtt ? LF("Az IPv4-kapcsolatod hibás, az IPv6 működik (%@): ami IPv6-on is elérhető, az "
                                "megy, a csak IPv4-es oldalak és alkalmazások nem.",
                                {millisecondsText(*j.medianRtt)})
                           : L("Az IPv4-kapcsolatod hibás, az IPv6 működik: ami IPv6-on is elérhető, az megy, a csak "
                               "IPv4-es oldalak és alkalmazások nem.");
    case Ipv6PathState::collecting:
    case Ipv6PathState::sharedFault: break;
    }
    return {};
}

QString evidenceSummary(const Ipv6PathJudgement& j)
{
    QString text = headline(j);
    if (j.medianRtt || j.ipv4MedianRtt)
        text += QLatin1Char(' ') + LF("IPv6: %@, %.0f%% veszteség; IPv4: %@, %.0f%% veszteség.",
                                      {j.medianRtt ? millisecondsText(*j.medianRtt) : QStringLiteral("—"),
                                       j.lossRatio * 100,
                                       j.ipv4MedianRtt ? millisecondsText(*j.ipv4MedianRtt) : QStringLiteral("—"),
                                       j.ipv4LossRatio * 100});
    return text;
}

QString notificationTitle(Ipv6PathState state)
{
    return state == Ipv6PathState::ipv4Down ? L("Az IPv4 nem működik, az IPv6 igen") : L("Az IPv6 nem működik");
}

FaultAttribution besideIpv6(FaultAttribution a, const Ipv6PathJudgement& j, bool ipv6PublicAnswersNow)
{
    const bool ipv6Works = j.state == Ipv6PathState::ipv4Down ||
                           (ipv6PublicAnswersNow && j.state != Ipv6PathState::notMeasured &&
                            j.state != Ipv6PathState::onlyPath && j.state != Ipv6PathState::absent);
    if (!ipv6Works || !a.isOutage || a.location != FaultLocation::provider)
        return a;
    a.isOutage = false;
    a.severity = IncidentSeverity::warning;
    a.headline = L("Az IPv4 a routereden túl elakad, az IPv6 működik.");
    QStringList evidence;
    if (!a.evidence.isEmpty())
        evidence << a.evidence.front(); // the router's answers
    evidence << L("A routeren túl egyetlen IPv4-es mérés sem jutott célba, az IPv6-os nyilvános címek válaszolnak.");
    a.evidence = evidence;
    return a;
}

QStringList advice(Ipv6PathState state)
{
    const QString seen = L("Amit érzékelsz: a böngésző, a videók és a frissítések először IPv6-on próbálkoznak, ezért "
                           "az oldalak lassan indulnak vagy néha be sem töltődnek, pedig az IPv4 kapcsolat jó.");
    const QString workaround = L("Átmeneti megoldás: kapcsold ki az IPv6-ot a routeren; ha a hibát kijavították, "
                                 "kapcsold vissza.");
    switch (state) {
    case Ipv6PathState::routerSilent:
        return {seen,
                L("Indítsd újra a routert, és nézd meg, be van-e kapcsolva rajta az IPv6. Ha a router a "
                  "szolgáltatóé, jelezd nekik: „A router nem válaszol IPv6-on, az IPv4 működik.”"),
                workaround};
    case Ipv6PathState::providerDown:
        return {seen,
                L("Szólj a szolgáltatónak: „Az IPv6 forgalom a routeren túl elakad, nyilvános IPv6 címek nem "
                  "érhetők el, az IPv4 működik.” A mérési dosszié „IPv6 az IPv4 mellett” oldala a bizonyíték."),
                workaround};
    case Ipv6PathState::slowOrLossy:
        return {seen,
                L("Szólj a szolgáltatónak: „Ugyanazok a címek IPv6-on sokkal lassabban vagy nagyobb "
                  "csomagvesztéssel érhetők el, mint IPv4-en.” A mérési dosszié „IPv6 az IPv4 mellett” oldala a "
                  "bizonyíték."),
                workaround};
    case Ipv6PathState::nameOrPage:
        return {seen,
                L("Szólj a szolgáltatónak: „Az IPv6-os (AAAA) névfeloldás vagy a weboldalak IPv6-on nem működnek, "
                  "IPv4-en igen.”"),
                workaround};
    case Ipv6PathState::ipv4Down:
        return {L("Amit érzékelsz: a nagy oldalak és szolgáltatások, amelyek IPv6-on is elérhetők, működnek; a csak "
                  "IPv4-es oldalak, játékok, VPN-ek és régebbi alkalmazások nem töltődnek be vagy nem csatlakoznak."),
                L("Szólj a szolgáltatónak: „Az IPv4 forgalom a routeren túl elakad, az IPv6 működik.” Az IPv4 sokszor "
                  "külön szolgáltatás (CGNAT, DS-Lite vagy alagút): kérd, hogy ezt nézzék meg."),
                L("Addig is: indítsd újra a routert; ez gyakran újra felépíti az IPv4 alagutat vagy a CGNAT-kapcsolatot.")};
    default: return {};
    }
}

} // namespace pv
