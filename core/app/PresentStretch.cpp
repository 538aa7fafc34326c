#include "core/app/PresentStretch.h"

#include "core/app/IncidentEvidence.h"
#include "core/records/Localization.h"

#include <algorithm>
#include <cmath>

namespace pv::present {

namespace {

// The batches that straddled a fault's end (echoes sent while it lasted, answered once it had gone)
// belong to it: the present begins after the last of those that still lost an echo, when they
// follow the end without a clean batch between, within three batch intervals.
Timestamp faultTailEnd(const std::vector<ProbeBatch>& recent, Timestamp end, Timestamp now)
{
    std::vector<std::pair<Timestamp, bool>> batches; // the newest sample time of each, and whether it lost an echo
    for (const ProbeBatch& b : recent) {
        std::optional<Timestamp> newest;
        bool lost = false;
        for (const NetworkSample& x : b.samples) {
            if ((x.target.kind != ProbeKind::gateway && x.target.kind != ProbeKind::publicIP) ||
                incident_evidence::wasNotMeasured(x))
                continue;
            newest = newest ? std::max(*newest, x.timestamp) : x.timestamp;
            lost = lost || !x.success || x.packetLoss.value_or(0) > 0;
        }
        if (newest && *newest > end && *newest <= std::min(now, end + 3 * 5.0))
            batches.emplace_back(*newest, lost);
    }
    std::sort(batches.begin(), batches.end());
    for (const auto& [at, lost] : batches) {
        if (!lost)
            break;
        end = at;
    }
    return end;
}

// Where the newest run of batches begins in which a leg (the router's, answering otherwise, or the
// public hosts') got not one answer: a total failure begins the present from its first batch.
std::optional<Timestamp> totalFailureSince(const std::vector<ProbeBatch>& batches)
{
    std::vector<const ProbeBatch*> ordered;
    for (const ProbeBatch& b : batches)
        ordered.push_back(&b);
    std::stable_sort(ordered.begin(), ordered.end(),
                     [](const ProbeBatch* a, const ProbeBatch* b) { return a->timestamp > b->timestamp; });
    const auto silent = [](const ProbeBatch& b, ProbeKind kind) {
        bool measured = false;
        for (const NetworkSample& x : b.samples) {
            if (x.target.kind != kind || incident_evidence::wasNotMeasured(x))
                continue;
            if (x.success)
                return false;
            measured = true;
        }
        return measured;
    };
    const bool routerAnswers = std::any_of(batches.begin(), batches.end(), [](const ProbeBatch& b) {
        return std::any_of(b.samples.begin(), b.samples.end(), [](const NetworkSample& x) {
            return x.target.kind == ProbeKind::gateway && x.success;
        });
    });
    std::optional<Timestamp> since;
    for (const ProbeBatch* b : ordered) {
        const bool echoes = std::any_of(b->samples.begin(), b->samples.end(), [](const NetworkSample& x) {
            return (x.target.kind == ProbeKind::gateway || x.target.kind == ProbeKind::publicIP) &&
                   !incident_evidence::wasNotMeasured(x);
        });
        if (!echoes)
            continue; // a batch of lookups alone says nothing of the echoes
        if (!silent(*b, ProbeKind::publicIP) && !(routerAnswers && silent(*b, ProbeKind::gateway)))
            break;
        since = b->timestamp;
    }
    return since;
}

} // namespace

Stretch stretch(const std::vector<ProbeBatch>& batches, const std::vector<Incident>& incidents,
                const std::optional<live_picture::EndedFault>& ended, Timestamp now, double windowSeconds)
{
    Stretch p{now - windowSeconds};
    const auto consider = [&](Timestamp t, Stretch::Kind kind) {
        if (t > p.from && t <= now) {
            p.from = t;
            p.kind = kind;
        }
    };
    for (const Incident& i : incidents) {
        if (isIpv6Classification(i.classification))
            continue;
        if (i.endTimestamp)
            consider(*i.endTimestamp, Stretch::Kind::faultEnded);
        else
            consider(i.startTimestamp, Stretch::Kind::faultBegan);
    }
    if (ended && ended->endedAt)
        consider(*ended->endedAt, Stretch::Kind::faultEnded);
    if (p.kind == Stretch::Kind::faultEnded) {
        p.from = faultTailEnd(batches, p.from, now);
        p.fromIncluded = false;
    }
    // A total failure the journal has not opened yet is the present from its first batch on.
    if (const std::optional<Timestamp> since = totalFailureSince(batches); since && *since > p.from && *since <= now)
        p = Stretch{*since, true, Stretch::Kind::faultBegan};
    return p;
}

std::optional<std::pair<Timestamp, Timestamp>> endedSpike(const std::vector<ProbeBatch>& batches,
                                                          const AttributionThresholds& t, const Stretch& s,
                                                          Timestamp now)
{
    if (s.kind != Stretch::Kind::window)
        return std::nullopt;
    const std::vector<WifiSnapshot> none;
    const std::optional<FaultEpisode> e =
        incident_evidence::currentEpisode(batches, none, FaultLocation::provider, t, now, std::nullopt);
    if (!e || !live_picture::isOver({batches, none, t}, FaultLocation::provider, *e, now))
        return std::nullopt;
    std::optional<std::pair<Timestamp, Timestamp>> span;
    for (const ProbeBatch& b : batches) {
        if (b.timestamp < e->start || b.timestamp > e->lastShown)
            continue;
        for (const NetworkSample& x : b.samples) {
            if (!span)
                span = std::pair{x.timestamp, x.timestamp};
            span->first = std::min(span->first, x.timestamp);
            span->second = std::max(span->second, x.timestamp);
        }
    }
    return span;
}

std::vector<NetworkSample> samplesWithin(const std::vector<ProbeBatch>& batches, const Stretch& s, Timestamp now)
{
    std::vector<NetworkSample> kept;
    for (const ProbeBatch& b : batches)
        for (const NetworkSample& x : b.samples)
            if (s.contains(x.timestamp, now) && !incident_evidence::wasNotMeasured(x))
                kept.push_back(x);
    std::stable_sort(kept.begin(), kept.end(),
                     [](const NetworkSample& a, const NetworkSample& b) { return a.timestamp < b.timestamp; });
    return kept;
}

NewestBatch newestBatch(const std::vector<ProbeBatch>& batches)
{
    NewestBatch n;
    const ProbeBatch* newest = nullptr;
    for (const ProbeBatch& b : batches)
        if (!newest || b.timestamp >= newest->timestamp)
            newest = &b;
    if (!newest)
        return n;
    struct Leg {
        int measured = 0, answered = 0, errorAnswered = 0;
    } router, publicHosts, lookups;
    const auto count = [](const ProbeBatch& b, ProbeKind kind, Leg& leg) {
        for (const NetworkSample& x : b.samples) {
            if (x.target.kind != kind || incident_evidence::wasNotMeasured(x))
                continue;
            ++leg.measured;
            leg.answered += x.success ? 1 : 0;
            // A failed lookup that took a time got an answer: an error, not silence.
            leg.errorAnswered += !x.success && x.latencyMilliseconds ? 1 : 0;
        }
    };
    // Each leg is judged on the newest batch that measured it (the lookups' run apart from the echoes'),
    // if that lies within the newest half minute.
    const auto newestMeasuring = [&](std::initializer_list<ProbeKind> kinds) {
        const ProbeBatch* found = nullptr;
        for (const ProbeBatch& b : batches)
            if (b.timestamp >= newest->timestamp - 30 && (!found || b.timestamp >= found->timestamp) &&
                std::any_of(b.samples.begin(), b.samples.end(), [&](const NetworkSample& x) {
                    return std::find(kinds.begin(), kinds.end(), x.target.kind) != kinds.end() &&
                           !incident_evidence::wasNotMeasured(x);
                }))
                found = &b;
        return found;
    };
    const ProbeBatch* echoed = newestMeasuring({ProbeKind::gateway, ProbeKind::publicIP});
    const ProbeBatch* asked = newestMeasuring({ProbeKind::dns});
    if (echoed) {
        count(*echoed, ProbeKind::gateway, router);
        count(*echoed, ProbeKind::publicIP, publicHosts);
    }
    if (asked)
        count(*asked, ProbeKind::dns, lookups);
    // A router that never answers its own pings is no failure of the newest batch.
    const bool routerAnswers = std::any_of(batches.begin(), batches.end(), [](const ProbeBatch& b) {
        return std::any_of(b.samples.begin(), b.samples.end(), [](const NetworkSample& x) {
            return x.target.kind == ProbeKind::gateway && x.success;
        });
    });
    n.routerSilent = router.measured > 0 && router.answered == 0 && routerAnswers;
    n.publicSilent = publicHosts.measured > 0 && publicHosts.answered == 0;
    n.lookupsFailed = lookups.measured > 0 && lookups.answered == 0;
    n.lookupsErrorAnswered = n.lookupsFailed && lookups.errorAnswered > 0;
    // The echoes' failure is judged from their batch on; the lookups' beside the echoes that went with them.
    const Timestamp echoedAt = echoed ? echoed->timestamp : newest->timestamp;
    n.from = n.routerSilent || n.publicSilent || !asked ? echoedAt : std::min(echoedAt, asked->timestamp);
    return n;
}

FaultAttribution answerFor(const AttributionThresholds& t, const std::vector<NetworkSample>& samples,
                           const std::vector<WifiSnapshot>& readings, Timestamp at)
{
    AttributionThresholds few = t;
    few.minimumSamplesPerLeg = 1;
    few.minimumWindowSeconds = 0;
    return AttributionEngine(few).attribute(samples, readings, at);
}

FaultAttribution withFiguresOf(const FaultAttribution& a, const FaultAttribution& ofStretch)
{
    if (!a.isFault() || ofStretch.location != a.location || ofStretch.isOutage != a.isOutage)
        return a;
    FaultAttribution b = a;
    b.headline = ofStretch.headline;
    b.evidence = ofStretch.evidence;
    b.caveats = ofStretch.caveats;
    return b;
}

FaultAttribution presented(const FaultAttribution& live, const Stretch& stretch, const FaultAttribution& ofStretch,
                           const NewestBatch& newest, const FaultAttribution& ofNewestBatch)
{
    // A leg the newest batch heard nothing from is never called sound, and a total failure is said
    // as one from its first batch: the live answer gives way to the newest batch's while it names
    // no fault, or a lesser one than the outage the newest batch shows.
    if (newest.totalFailure() && ofNewestBatch.isFault() &&
        (!live.isFault() || (ofNewestBatch.isOutage && !live.isOutage)))
        return ofNewestBatch;
    if (stretch.kind == Stretch::Kind::faultEnded && live.isFault() &&
        ofStretch.location != FaultLocation::insufficientEvidence && ofStretch.location != live.location)
        return ofStretch;
    return withFiguresOf(live, ofStretch);
}

FaultAttribution onCable(FaultAttribution a)
{
    static const std::vector<std::pair<QString, QString>> wired{
        {L("A hiba a helyi hálózatodban van, de a Wi-Fi és a router nem különíthető el."),
         L("A hiba a helyi hálózatodban van: a kábelen, a switchen vagy a routeren.")},
        {L("Ez vagy a Wi-Fi kapcsolat megszakadása, vagy a router leállása."),
         L("Ez a kábel, a switch vagy a router kiesése.")},
        {L("A Wi-Fi és a router tehát működik; a szolgáltatói vonal az, ami nem."),
         L("A helyi hálózat és a router tehát működik; a szolgáltatói vonal az, ami nem.")},
        {L("A saját hálózatod ez alatt végig hibátlanul működött — ez zárja ki a Wi-Fit és a routert."),
         L("A saját hálózatod ez alatt végig hibátlanul működött — ez zárja ki a kábelt és a routert.")},
        {L("Ez a Wi-Fi vagy a kábeles kapcsolat megszakadása, nem a szolgáltatóé."),
         L("Ez a kábeles kapcsolat vagy a router kiesése, nem a szolgáltatóé.")},
    };
    const auto rewrite = [](QStringList lines) {
        QStringList out;
        for (const QString& line : lines) {
            const auto found = std::find_if(wired.begin(), wired.end(), [&](const auto& w) { return w.first == line; });
            if (found != wired.end())
                out << found->second;
            else if (!line.contains(QLatin1String("Wi-Fi"))) // what only a radio could tell says nothing here
                out << line;
        }
        return out;
    };
    const QStringList headline = rewrite({a.headline});
    if (!headline.isEmpty())
        a.headline = headline.front();
    a.evidence = rewrite(a.evidence);
    a.caveats = rewrite(a.caveats);
    return a;
}

Picture picture(const Input& in)
{
    Picture p;
    p.stretch = stretch(in.batches, in.incidents, in.ended, in.at, in.windowSeconds);
    p.overCable = in.readings.empty();
    // A batch is stamped with its first sample's time: the rest of the batches taken in by `at` count too.
    Timestamp upTo = in.at;
    for (const ProbeBatch& b : in.batches)
        if (b.timestamp <= in.at)
            for (const NetworkSample& x : b.samples)
                upTo = std::max(upTo, x.timestamp);
    const FaultAttribution ofStretch =
        answerFor(in.thresholds, samplesWithin(in.batches, p.stretch, upTo), in.readings, in.at);
    const NewestBatch newest = newestBatch(in.batches);
    FaultAttribution ofNewestBatch;
    if (newest.totalFailure()) {
        // Counted over the failure's own stretch when that began it, so that one figure is quoted everywhere.
        const Timestamp from =
            p.stretch.kind == Stretch::Kind::faultBegan ? std::min(newest.from, p.stretch.from) : newest.from;
        std::vector<ProbeBatch> judged;
        for (const ProbeBatch& b : in.batches)
            if (b.timestamp >= from)
                judged.push_back(b);
        ofNewestBatch = answerFor(in.thresholds, samplesWithin(judged, Stretch{}, upTo), in.readings, in.at);
    }
    p.attribution = presented(in.live, p.stretch, ofStretch, newest, ofNewestBatch);
    if (newest.totalFailure() && p.attribution == ofNewestBatch)
        p.evidenceLead = newestBatchesLead();
    else if (p.attribution != in.live)
        p.evidenceLead = evidenceLead(p.stretch, in.at - p.stretch.from);
    if (p.overCable)
        p.attribution = onCable(std::move(p.attribution));
    return p;
}

FaultAttribution incidentFigures(const FaultAttribution& a, const std::vector<ProbeBatch>& batches,
                                 const std::vector<WifiSnapshot>& readings, const AttributionThresholds& t,
                                 Timestamp start, Timestamp at, bool overCable)
{
    std::vector<WifiSnapshot> upToNow;
    for (const WifiSnapshot& w : readings)
        if (w.timestamp <= at)
            upToNow.push_back(w);
    const Stretch own{start, true, Stretch::Kind::faultBegan};
    const FaultAttribution b = withFiguresOf(a, answerFor(t, samplesWithin(batches, own, at), upToNow, at));
    return overCable ? onCable(b) : b;
}

QString newestBatchesLead() { return L("A legutóbbi mérési körök adataiból:"); }

QString evidenceLead(const Stretch& s, double seconds)
{
    switch (s.kind) {
    case Stretch::Kind::faultBegan: return L("A hiba kezdete óta mért adatokból:");
    case Stretch::Kind::faultEnded: return L("A hiba vége óta mért adatokból:");
    case Stretch::Kind::window: break;
    }
    const auto minutes = static_cast<long long>(std::max(1.0, std::ceil(seconds / 60.0 - 1e-9)));
    return minutes == 1 ? L("Az elmúlt perc méréseiből:") : LF("Az elmúlt %lld perc méréseiből:", {minutes});
}

} // namespace pv::present
