#include "core/app/LivePicture.h"

#include "core/app/Presentation.h"
#include "core/records/Localization.h"

#include <algorithm>
#include <cmath>
#include <functional>

namespace pv::live_picture {

Reading read(const Answers& answers, std::optional<HeldOutage> held, Timestamp at)
{
    Reading r{answers.window, answers.windowSeconds, std::move(held)};
    if (!answers.newestMinute)
        return r;
    const FaultAttribution& newest = *answers.newestMinute;
    const double recent = answers.newestMinuteSeconds;
    // While the line is down every batch waits for its time-outs, so a minute holds only about as
    // many samples as the engine asks for: a minute that falls short of them, in which nothing
    // answered, keeps the outage named within the last minute instead of dropping it.
    if (newest.isOutage) {
        r.held = HeldOutage{newest, at};
    } else if (r.held && (newest.location != FaultLocation::insufficientEvidence || answers.newestMinuteAnswered ||
                          at - r.held->at > recent || at < r.held->at)) {
        r.held.reset();
    }
    // The engine puts an outage before anything else, so the newest minute's outage is the live answer.
    if (r.held && !r.attribution.isOutage) {
        r.attribution = r.held->attribution;
        r.seconds = recent;
    }
    return r;
}

namespace {

std::optional<FaultEpisode> episode(const Evidence& e, FaultLocation where, Timestamp at,
                                    std::optional<Timestamp> notBefore)
{
    return incident_evidence::currentEpisode(e.batches, e.readings, where, e.thresholds, at, notBefore);
}

// The open incident's end: the newest batch that still showed its fault, or for a spell without a
// route (no batches to go by) the cycle that saw the route return.
Timestamp closingEnd(const OpenIncident& open, Timestamp at, const Evidence& e)
{
    Timestamp end = at;
    if (open.noRoute) {
        if (open.routeReturnedAt)
            end = std::min(at, *open.routeReturnedAt);
    } else if (const auto shown = episode(e, incident_evidence::location(open.classification), at, open.start)) {
        end = shown->lastShown;
    }
    return std::max(end, open.start); // never before its start
}

JournalAction change(Change kind, const FaultAttribution& a, Timestamp start = 0,
                     std::optional<Timestamp> closeAt = std::nullopt)
{
    return JournalAction{closeAt, kind, a, start};
}

} // namespace

bool mayReclassify(IncidentClassification own, bool wasOutage, const FaultAttribution& a)
{
    // A total outage keeps its name: as a link comes back the router answers before what lies
    // beyond it, which reads as the provider's fault for a batch or two.
    if (own == IncidentClassification::offline)
        return false;
    return !wasOutage || a.isOutage;
}

JournalAction journalAction(const FaultAttribution& a, const FaultAttribution* newestMinute, Timestamp at,
                            bool noRoute, const Journal& journal, const Evidence& evidence)
{
    const std::optional<IncidentClassification> c = incidentClassification(a.location);
    if (!c) {
        if (!journal.open)
            return {};
        return change(Change::none, {}, 0, closingEnd(*journal.open, at, evidence));
    }
    std::optional<Timestamp> closeAt;
    if (journal.open && !noRoute && !evidence.batches.empty()) {
        // One fault, one incident: while the newest minute still shows it, the window filling up
        // with evidence may move the attribution from one place to another, and the incident follows.
        const OpenIncident& open = *journal.open;
        const auto shownWithinMinute = [&](FaultLocation where) {
            const std::optional<FaultEpisode> e = episode(evidence, where, at, open.start);
            return e && !isOver(evidence, where, *e, at);
        };
        if (!shownWithinMinute(incident_evidence::location(open.classification)) && !shownWithinMinute(a.location)) {
            closeAt = closingEnd(open, at, evidence); // a minute without a batch that shows the fault
        } else if (open.classification == *c) {
            return change(Change::refresh, a);
        } else {
            // Only a place whose newest measurement shows the fault takes the incident over; a
            // draining window that names another place leaves it as it is, unless the newest minute
            // still names the incident's own.
            if (mayReclassify(open.classification, open.wasOutage, a) &&
                incident_evidence::isFresh(episode(evidence, a.location, at, open.start), at))
                return change(Change::reclassify, a);
            if (newestMinute && incidentClassification(newestMinute->location) == open.classification)
                return change(Change::refresh, *newestMinute);
            return {};
        }
    } else if (journal.open) {
        if (journal.open->classification == *c)
            return change(Change::refresh, a);
        closeAt = closingEnd(*journal.open, at, evidence);
    }
    if (noRoute || evidence.batches.empty()) {
        // Without batches (no route, or nothing measured yet) the refresh's time is the start.
        return change(Change::open, a, at, closeAt);
    }
    // Only fresh evidence opens an incident: a fault that only the draining window still names opens none.
    std::optional<Timestamp> previousEnd;
    if (journal.lastClosed)
        previousEnd = journal.lastClosed->second;
    if (closeAt && (!previousEnd || *closeAt > *previousEnd))
        previousEnd = closeAt;
    const std::optional<FaultEpisode> shown = episode(evidence, a.location, at, previousEnd);
    const auto lastsLongEnough = [&](const FaultAttribution& f, const FaultEpisode& e) {
        return f.isOutage || at - e.start >= shortestIncident;
    };
    if (incident_evidence::isFresh(shown, at) && lastsLongEnough(a, *shown))
        return change(Change::open, a, std::min(shown->start, at), closeAt);
    // The window still names a fault that has ended; a new one of another kind, which it cannot
    // name yet, is named by the newest minute.
    if (newestMinute && newestMinute->isFault() && newestMinute->location != a.location) {
        const std::optional<FaultEpisode> fresh = episode(evidence, newestMinute->location, at, previousEnd);
        if (incident_evidence::isFresh(fresh, at) && lastsLongEnough(*newestMinute, *fresh))
            return change(Change::open, *newestMinute, std::min(fresh->start, at), closeAt);
    }
    return change(Change::none, {}, 0, closeAt);
}

void refresh(Incident& incident, const FaultAttribution& a, bool wasOutage)
{
    if (a.severity >= incident.severity && (a.isOutage || !wasOutage)) {
        incident.severity = a.severity;
        incident.evidenceSummary = a.storedEvidenceSummary();
    }
    incident.severity = std::max(incident.severity, a.severity);
    incident.confidence = storedValue(a.confidence);
}

void reclassify(Incident& incident, const FaultAttribution& a, bool wasOutage)
{
    if (!mayReclassify(incident.classification, wasOutage, a)) {
        refresh(incident, a, wasOutage);
        return;
    }
    incident.classification = incidentClassification(a.location).value_or(IncidentClassification::unknown);
    incident.severity = std::max(incident.severity, a.severity);
    incident.confidence = storedValue(a.confidence);
    incident.evidenceSummary = a.storedEvidenceSummary();
}

std::optional<EndedFault> endedFault(const FaultAttribution& a, const JournalAction& action, const Journal& journal,
                                     Timestamp at, double windowSeconds, const Evidence& evidence)
{
    if (evidence.batches.empty() || action.change != Change::none)
        return std::nullopt;
    const bool stillOpen = journal.open && !action.closeAt;
    if (stillOpen) {
        // The journal holds another fault open (its own would have been refreshed), and the newest
        // minute does not name that one. What the reading names is present only when a whole minute
        // shows it; otherwise it is the tail of the open fault (the last lossy batches of an outage)
        // or the window's memory of an earlier one, and the open fault is over as far as the newest
        // minute can tell.
        const OpenIncident& open = *journal.open;
        if (!a.isFault() || incidentClassification(a.location) == open.classification ||
            shownThroughNewestMinute(evidence, a.location, at))
            return std::nullopt;
        const FaultLocation where = incident_evidence::location(open.classification);
        const std::optional<FaultEpisode> shown = episode(evidence, where, at, open.start);
        return EndedFault{where, shown ? shown->lastShown : open.start};
    }
    // The newest incident the journal has closed, counting one it closes now.
    std::optional<std::pair<IncidentClassification, Timestamp>> last = journal.lastClosed;
    if (journal.open && action.closeAt && (!last || *action.closeAt >= last->second))
        last = std::pair{journal.open->classification, *action.closeAt};
    const bool recent = last && last->second >= at - windowSeconds && last->second <= at;
    if (!a.isFault()) {
        // Nothing is named: a fault that ended within the window is said to have ended.
        if (a.location == FaultLocation::none && recent)
            return EndedFault{incident_evidence::location(last->first), last->second};
        return std::nullopt;
    }
    // A closed incident's batches are its own: only what showed the fault since then can make it present.
    std::optional<Timestamp> since;
    if (last)
        since = std::nextafter(last->second, last->second + 1);
    const std::optional<FaultEpisode> shown = episode(evidence, a.location, at, since);
    if (shown && !isOver(evidence, a.location, *shown, at))
        return std::nullopt; // it goes on
    if (recent)
        return EndedFault{incident_evidence::location(last->first), last->second};
    const std::optional<FaultEpisode> any = episode(evidence, a.location, at, std::nullopt);
    return EndedFault{a.location, any ? std::optional<Timestamp>(any->lastShown) : std::nullopt};
}

FaultAttribution endedAttribution(const EndedFault& ended)
{
    QString fault;
    switch (ended.location) {
    case FaultLocation::wifi: fault = L("A Wi-Fi-kapcsolat hibája"); break;
    case FaultLocation::router: fault = L("A routered hibája"); break;
    case FaultLocation::provider: fault = L("A szolgáltatói hiba"); break;
    case FaultLocation::dns: fault = L("A névfeloldási hiba"); break;
    case FaultLocation::localUnseparated: fault = L("A helyi hálózat hibája"); break;
    case FaultLocation::offline: fault = L("A teljes kiesés"); break;
    case FaultLocation::none:
    case FaultLocation::insufficientEvidence: fault = L("A hiba"); break;
    }
    const QString headline =
        ended.endedAt
            ? LF("%1$@ %2$@-kor véget ért, a kapcsolat azóta működik.", {fault, presentation::localTimeShort(*ended.endedAt)})
            : LF("%@ véget ért, a kapcsolat azóta működik.", {fault});
    return FaultAttribution(FaultLocation::none, IncidentSeverity::info, AttributionConfidence::high, headline,
                            QStringList{L("A legutóbbi percben egyik mérés sem mutatta a hibát.")}, {},
                            /*isOutage*/ false, /*isMeasurementArtefact*/ false);
}

bool shownThroughNewestMinute(const Evidence& evidence, FaultLocation where, Timestamp at)
{
    std::vector<const ProbeBatch*> ordered;
    for (const ProbeBatch& b : evidence.batches)
        if (b.timestamp <= at)
            ordered.push_back(&b);
    std::stable_sort(ordered.begin(), ordered.end(),
                     [](const ProbeBatch* a, const ProbeBatch* b) { return a->timestamp > b->timestamp; });
    for (const ProbeBatch* b : ordered) {
        const bool measures = std::any_of(b->samples.begin(), b->samples.end(), [&](const NetworkSample& s) {
            return incident_evidence::sampleMeasures(s, where);
        });
        if (!measures)
            continue;
        if (!incident_evidence::batchShows(*b, where, evidence.thresholds))
            return false;
        if (b->timestamp <= at - newestMinute)
            return true;
    }
    return false; // the batches do not reach back a whole minute
}

namespace {

// How one batch reads for the exit rule: whether it measured the place's leg at all, and whether it
// showed the fault. Every echo that crosses the leg counts: a local fault is on the public hosts'
// echoes too (they pass the same link), so a batch is clean only when none of those lost one; and
// as for the episode, an HTTP request that needed a lookup carries on a silent resolver's evidence
// while no lookup was asked.
struct ExitReading {
    bool measures = false;
    bool shows = false;
};

std::vector<std::pair<Timestamp, ExitReading>> exitReadings(const Evidence& evidence, FaultLocation where,
                                                            Timestamp at)
{
    std::vector<const ProbeBatch*> ordered;
    for (const ProbeBatch& b : evidence.batches)
        if (b.timestamp <= at)
            ordered.push_back(&b);
    std::stable_sort(ordered.begin(), ordered.end(),
                     [](const ProbeBatch* a, const ProbeBatch* b) { return a->timestamp < b->timestamp; });
    const bool localLeg =
        where == FaultLocation::wifi || where == FaultLocation::router || where == FaultLocation::localUnseparated;
    std::vector<std::pair<Timestamp, ExitReading>> readings;
    bool resolverSilent = false;
    for (const ProbeBatch* b : ordered) {
        const auto has = [&](ProbeKind kind, bool success) {
            return std::any_of(b->samples.begin(), b->samples.end(), [&](const NetworkSample& s) {
                return s.target.kind == kind && s.success == success && !incident_evidence::wasNotMeasured(s);
            });
        };
        ExitReading r;
        r.shows = incident_evidence::batchShows(*b, where, evidence.thresholds);
        r.measures = r.shows || std::any_of(b->samples.begin(), b->samples.end(), [&](const NetworkSample& s) {
                         return incident_evidence::sampleMeasures(s, where);
                     });
        if (localLeg)
            for (const NetworkSample& s : b->samples) {
                if (s.target.kind != ProbeKind::publicIP || incident_evidence::wasNotMeasured(s))
                    continue;
                r.measures = true;
                r.shows = r.shows || !s.success || s.timeoutCount > 0 || s.packetLoss.value_or(0) > 0;
            }
        if (where == FaultLocation::dns) {
            const bool lookup = has(ProbeKind::dns, false) || has(ProbeKind::dns, true);
            const bool request = has(ProbeKind::http, false) || has(ProbeKind::http, true);
            if (!lookup && request) {
                r.measures = true;
                r.shows = resolverSilent && has(ProbeKind::http, false) && !has(ProbeKind::http, true);
            }
            if (has(ProbeKind::dns, false))
                resolverSilent = true;
            else if (has(ProbeKind::dns, true) || has(ProbeKind::http, true))
                resolverSilent = false;
        }
        if (r.measures)
            readings.emplace_back(b->timestamp, r);
    }
    return readings;
}

} // namespace

bool isOver(const Evidence& evidence, FaultLocation where, const FaultEpisode& episode, Timestamp at)
{
    std::optional<Timestamp> lastShown;
    int measuredWhileShown = 0, shown = 0, cleanSince = 0;
    for (const auto& [t, r] : exitReadings(evidence, where, at)) {
        if (t < episode.start)
            continue;
        if (r.shows) {
            measuredWhileShown += cleanSince + 1; // the clean batches before it were within the fault
            ++shown;
            cleanSince = 0;
            lastShown = t;
        } else if (lastShown) {
            ++cleanSince;
        }
    }
    if (!lastShown)
        return at - episode.lastShown >= incident_evidence::episodeGap;
    if (at - std::max(*lastShown, episode.lastShown) >= incident_evidence::episodeGap)
        return true;
    // The clean run that the fault's own rate leaves to chance less than once in a thousand (its
    // rate estimated with one batch of doubt either way): two batches after a steady fault, more
    // after an intermittent one. A minute without a batch that shows it ends any fault.
    const double rate = (shown + 1.0) / (measuredWhileShown + 2.0);
    const double needed = std::max(2.0, std::ceil(std::log(1e-3) / std::log(1.0 - rate)));
    return cleanSince >= needed;
}

bool legSilent(const std::vector<ProbeBatch>& batches, ProbeKind kind, Timestamp from, Timestamp at)
{
    bool measured = false;
    for (const ProbeBatch& b : batches)
        for (const NetworkSample& s : b.samples) {
            if (s.target.kind != kind || s.timestamp < from || s.timestamp > at || incident_evidence::wasNotMeasured(s))
                continue;
            if (s.success)
                return false;
            measured = true;
        }
    return measured;
}

Timestamp newestStretchStart(const std::vector<NetworkSample>& liveSamples, Timestamp at, std::int64_t minimumCount,
                             double minimumSpan, Timestamp earliest)
{
    std::vector<Timestamp> times;
    for (const NetworkSample& s : liveSamples)
        if (s.target.kind == ProbeKind::publicIP && s.timestamp <= at && s.timestamp >= earliest &&
            !incident_evidence::wasNotMeasured(s))
            times.push_back(s.timestamp);
    std::sort(times.begin(), times.end(), std::greater<>());
    const Timestamp minute = at - newestMinute;
    for (std::size_t i = 0; i < times.size(); ++i)
        if (static_cast<std::int64_t>(i + 1) >= minimumCount && times.front() - times[i] >= minimumSpan)
            return std::max(earliest, std::min(minute, times[i]));
    return std::max(earliest, std::min(minute, times.empty() ? minute : times.back()));
}

namespace {

// The window speaks of the whole ten minutes; the newest minute is the present. Its answer is the
// live one when the window cannot say what it shows: a fault every batch of a whole minute has
// shown, a fault the journal already holds open under that name, or a leg that went silent
// (of which the window would still quote older answers).
void preferPresent(Reading& r, const Answers& answers, Timestamp at, const Journal& journal, const Evidence& evidence)
{
    if (!answers.newestMinute || r.attribution.isOutage)
        return;
    const FaultAttribution& newest = *answers.newestMinute;
    if (!newest.isFault())
        return;
    const Timestamp from = at - answers.newestMinuteSeconds;
    // A leg that answered earlier in the window and not once since (a router that never answers
    // pings is no news).
    const auto wentSilent = [&](ProbeKind kind) {
        if (!legSilent(evidence.batches, kind, from, at))
            return false;
        for (const ProbeBatch& b : evidence.batches)
            for (const NetworkSample& s : b.samples)
                if (s.target.kind == kind && s.success && s.timestamp >= at - answers.windowSeconds && s.timestamp < from)
                    return true;
        return false;
    };
    const bool silent = wentSilent(ProbeKind::gateway) || wentSilent(ProbeKind::publicIP);
    const std::optional<IncidentClassification> c = incidentClassification(newest.location);
    const bool heldOpen = newest.location != r.attribution.location && journal.open && !journal.open->noRoute && c &&
                          journal.open->classification == *c;
    // Where the window found the router's own pings to be no evidence (a router that answers them
    // late or not at all), a minute of them is none either.
    const bool routerLeg = newest.location == FaultLocation::router || newest.location == FaultLocation::wifi ||
                           newest.location == FaultLocation::localUnseparated;
    // A whole minute of it is the present even where the window names the same place: the window's
    // figures may still be those of an earlier fault there.
    const bool present = silent || heldOpen ||
                         (!(routerLeg && r.attribution.isMeasurementArtefact) &&
                          shownThroughNewestMinute(evidence, newest.location, at));
    if (present) {
        r.attribution = newest;
        r.seconds = answers.newestMinuteSeconds;
    }
}

} // namespace

Decision decide(const Answers& answers, std::optional<HeldOutage> held, Timestamp at, const Journal& journal,
                const Evidence& evidence)
{
    Decision d;
    d.reading = read(answers, std::move(held), at);
    preferPresent(d.reading, answers, at, journal, evidence);
    const FaultAttribution* newest = answers.newestMinute ? &*answers.newestMinute : nullptr;
    d.journal = journalAction(d.reading.attribution, newest, at, /*noRoute*/ false, journal, evidence);
    d.ended = endedFault(d.reading.attribution, d.journal, journal, at, answers.windowSeconds, evidence);
    if (d.ended) {
        d.live = endedAttribution(*d.ended);
        d.liveSeconds = answers.newestMinuteSeconds;
    } else if (d.journal.change != Change::none && !(d.journal.attribution == d.reading.attribution)) {
        // The journal went by the newest minute: a fault the draining window cannot name yet.
        d.live = d.journal.attribution;
        d.liveSeconds = answers.newestMinuteSeconds;
    } else {
        d.live = d.reading.attribution;
        d.liveSeconds = d.reading.seconds;
    }
    return d;
}

void limitUsage(ConnectionVerdict& verdict, const FaultAttribution& live, const std::vector<NetworkSample>& samples)
{
    if (!verdict.confidence.isSufficient())
        return;
    const auto atLeast = [&](UsageCapability u, CapabilityRating r) {
        verdict.setRating(u, std::max(verdict.rating(u), r));
    };
    if (live.location == FaultLocation::dns) {
        const bool silent = live.severity == IncidentSeverity::critical;
        const bool errorAnswers = live.headline == L("A névfeloldó hibával válaszol.");
        // Pages need a lookup for nearly every click; a stream, call or game cannot start without
        // one either (what already runs goes on), so none of them is rated as working.
        atLeast(UsageCapability::browsing, silent ? CapabilityRating::poor : CapabilityRating::usable);
        if (silent)
            for (UsageCapability u : {UsageCapability::videoCall, UsageCapability::gaming, UsageCapability::streaming})
                atLeast(u, CapabilityRating::poor);
        verdict.evidence.prepend(!silent ? L("A névfeloldás lassú: az oldalak és az adások lassan indulnak.")
                                 : errorAnswers
                                     ? L("A névfeloldó hibával válaszol: új oldal, adás vagy hívás most nem indul el, "
                                         "ami már fut, az megy tovább.")
                                     : L("A névfeloldás nem válaszol: új oldal, adás vagy hívás most nem indul el, "
                                         "ami már fut, az megy tovább."));
    }
    bool pageAsked = false;
    for (const NetworkSample& x : samples) {
        if (x.target.kind != ProbeKind::http || incident_evidence::wasNotMeasured(x))
            continue;
        if (x.success)
            return;
        pageAsked = true;
    }
    if (pageAsked) {
        atLeast(UsageCapability::browsing, CapabilityRating::poor);
        verdict.evidence.prepend(L("Az ellenőrző weboldal egyszer sem töltődött be: a böngészés most nem megy."));
    }
}

namespace {

bool enoughForUsage(const ConnectionVerdict& v)
{
    // Written so that a span that is not a number counts as too short.
    return v.confidence.sampleCount >= 20 && v.confidence.spanSeconds >= 60;
}

std::optional<UsageCapability> poorUsage(const ConnectionVerdict& v)
{
    const std::optional<UsageCapability> weakest = v.weakestCapability();
    if (enoughForUsage(v) && weakest && v.rating(*weakest) == CapabilityRating::poor)
        return weakest;
    return std::nullopt;
}

QString faultLine(FaultLocation where)
{
    switch (where) {
    case FaultLocation::wifi: return L("Gond van a Wi-Fi kapcsolatoddal");
    case FaultLocation::router:
    case FaultLocation::localUnseparated: return L("Gond van a helyi hálózatoddal");
    case FaultLocation::provider: return L("Gond van a szolgáltatói szakasszal");
    case FaultLocation::dns: return L("Gond van a névfeloldással");
    case FaultLocation::offline: return L("Nincs internetkapcsolat");
    case FaultLocation::none:
    case FaultLocation::insufficientEvidence: break;
    }
    return {};
}

} // namespace

PVStatus statusLevel(const Status& s)
{
    if (!s.monitoring || s.attribution.location == FaultLocation::insufficientEvidence)
        return PVStatus::neutral;
    switch (s.live) {
    case LiveStatus::healthy:
        // A use that will not work now is no green check, even before a place is named.
        return !s.faultEnded && poorUsage(s.verdict) ? PVStatus::watch : PVStatus::good;
    case LiveStatus::degraded: return PVStatus::serious;
    case LiveStatus::offline: return PVStatus::critical;
    case LiveStatus::reassociating: return PVStatus::watch;
    }
    return PVStatus::neutral;
}

QString statusLine(const Status& s)
{
    if (!s.monitoring)
        return L("A mérés szünetel");
    // The window's figures still hold the fault; the line speaks of now, however few samples that
    // has since the fault ended.
    if (s.faultEnded && s.live == LiveStatus::healthy)
        return L("Az internetkapcsolatod újra működik");
    // Too few samples to rate the uses is no reason to keep quiet about a fault already named (the
    // first batches after a fault's end, while the newest of them still shows it).
    if (!enoughForUsage(s.verdict) && !s.attribution.isFault())
        return L("Még gyűjtjük az első adatokat");
    if (s.live == LiveStatus::reassociating)
        return L("Épp másik hozzáférési pontra vált");
    if (s.live == LiveStatus::offline)
        return L("Nincs internetkapcsolat");
    if (const std::optional<UsageCapability> poor = poorUsage(s.verdict)) {
        // When nothing works, one use named would undersell it: the line names the fault instead.
        const auto uses = allUsageCapabilities();
        const bool everyUse = std::all_of(uses.begin(), uses.end(), [&](UsageCapability u) {
            return s.verdict.rating(u) == CapabilityRating::poor;
        });
        if (!everyUse || !s.attribution.isFault())
            return LF("%@ most nem fog jól menni", {title(*poor)});
    }
    // A named fault is never called sound, whatever the echoes' figures say.
    if (s.attribution.isFault())
        return faultLine(s.attribution.location);
    if (!s.verdict.weakestCapability())
        return L("Az internetkapcsolatod rendben van");
    return L("Az internetkapcsolatod használható");
}

QString statusExplanation(const Status& s)
{
    if (!s.monitoring)
        return L("A rögzítés áll. Amíg szünetel, nem gyűlik bizonyíték a kapcsolatod állapotáról.");
    // A sound connection's headline already says it is sound: the line below it says where we looked
    // rather than saying the same again. Other fault-free headlines (a fault that ended, a router that
    // only pings slowly) carry news of their own and stand as they are.
    if (s.attribution.location == FaultLocation::none && s.attribution.headline == L("A kapcsolat rendben van.")) {
        if (!s.faultEnded && poorUsage(s.verdict))
            return L("A legutóbbi mérések romlást mutatnak; hogy hol keletkezik, azt még vizsgáljuk.");
        return L("A mért szakaszok egyikén sem látunk hibát.");
    }
    return s.attribution.headline;
}

} // namespace pv::live_picture
