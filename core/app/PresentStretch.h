#pragma once
// The present, decided once per refresh: the stretch of batches the live picture speaks of, and the
// figures and sentences every surface quotes from it. The stretch begins where the incident still
// open began, or after the newest fault that ended (and the batches that straddled its end), or at
// the window's start when neither lies within it. An ended fault's figures are not the present's,
// and a total failure of the newest batch is said as one before any minute can name it. Pure: the
// view model applies it; the overview's cards and tiles count the same stretch.

#include "core/analysis/Attribution.h"
#include "core/analysis/AttributionThresholds.h"
#include "core/app/LivePicture.h"
#include "core/records/Records.h"

#include <optional>
#include <vector>

namespace pv::present {

struct Stretch {
    enum class Kind { window, faultEnded, faultBegan };
    Timestamp from = 0;
    bool fromIncluded = true; // false after a fault's end: the batch that ended it still showed it
    Kind kind = Kind::window;
    bool contains(Timestamp t, Timestamp now) const { return (fromIncluded ? t >= from : t > from) && t <= now; }
    bool operator==(const Stretch&) const = default;
};

// The present stretch at `now` for a window of `windowSeconds`. Incidents of the IPv6 path beside
// the analysed one do not bound it. The newest batches' total failure of a leg (no echo answered)
// begins it where that run began, before any incident is opened for it.
Stretch stretch(const std::vector<ProbeBatch>& batches, const std::vector<Incident>& incidents,
                const std::optional<live_picture::EndedFault>& ended, Timestamp now, double windowSeconds);

// The sample times [first, last] of a fault beyond the router (or on the own link, whose echoes the
// public hosts' share) that the batches showed and that is over, while the present is the window's:
// a spike that opened no incident. Its batches are not the present's, the usage verdict's included.
std::optional<std::pair<Timestamp, Timestamp>> endedSpike(const std::vector<ProbeBatch>& batches,
                                                          const AttributionThresholds& t, const Stretch& s,
                                                          Timestamp now);

// Every measured sample of the batches within the stretch, oldest first.
std::vector<NetworkSample> samplesWithin(const std::vector<ProbeBatch>& batches, const Stretch& s, Timestamp now);

// What the newest batch shows of each leg: measured, and not one sample of it answered. A lookup
// answered with an error (SERVFAIL, REFUSED) is a failed lookup but not a silent resolver. A router
// that has not answered once in the batches never answers its pings: its silence is no failure.
// Each leg is judged on the newest batch that measured it (lookups are asked every few batches, and
// may come in a batch of their own), if that lies within the newest half minute.
struct NewestBatch {
    Timestamp from = 0; // the oldest batch the judgement reads: the echoes', or with failed lookups alone theirs too
    bool routerSilent = false;
    bool publicSilent = false;
    bool lookupsFailed = false;    // every lookup of the batch failed (and it had one)
    bool lookupsErrorAnswered = false; // ... and at least one of them got an error answer
    bool totalFailure() const { return routerSilent || publicSilent || lookupsFailed; }
};
NewestBatch newestBatch(const std::vector<ProbeBatch>& batches);

// The engine's answer about a stretch however short: the figures of a few batches, not a verdict
// that waits for a minute's samples.
FaultAttribution answerFor(const AttributionThresholds& t, const std::vector<NetworkSample>& samples,
                           const std::vector<WifiSnapshot>& readings, Timestamp at);

// `a` with the headline, evidence and caveats of the stretch's answer when that names the same
// place: one figure everywhere, counted over the stretch. Otherwise `a` as it is.
FaultAttribution withFiguresOf(const FaultAttribution& a, const FaultAttribution& ofStretch);

// What the surfaces present: the refresh's live answer, with its figures from the stretch, unless
// the newest batch is a total failure the live answer does not yet name (it is then the newest
// batch's own answer, so the first batch of a cut, a dead line or a dead resolver is said at once).
// After a fault has ended, a fault the batches since do not show is the window's memory of it: the
// stretch's own answer is the present then.
FaultAttribution presented(const FaultAttribution& live, const Stretch& stretch, const FaultAttribution& ofStretch,
                           const NewestBatch& newest, const FaultAttribution& ofNewestBatch);

// The sentences of `a` as they hold on a wired link: a local fault is the cable, the switch or the
// router, and no sentence names a Wi-Fi the machine does not use.
FaultAttribution onCable(FaultAttribution a);

// The lead of the evidence list, naming the stretch its figures come from.
QString evidenceLead(const Stretch& s, double seconds);
// The lead of evidence counted over the newest batches alone: a total failure the live answer does
// not yet name (its cards count the same batches).
QString newestBatchesLead();

// The whole present of one refresh, from the batches, the journal, the refresh's live answer and the time.
struct Input {
    const std::vector<ProbeBatch>& batches;
    const std::vector<Incident>& incidents;
    const std::vector<WifiSnapshot>& readings; // the window's, oldest first; none: measured over a cable
    const AttributionThresholds& thresholds;
    const FaultAttribution& live;
    const std::optional<live_picture::EndedFault>& ended;
    Timestamp at = 0;
    double windowSeconds = 600;
};
struct Picture {
    Stretch stretch;
    FaultAttribution attribution; // what every surface presents
    QString evidenceLead;         // empty: the live answer's own stretch (the window or its newest minute)
    bool overCable = false;
};
Picture picture(const Input& in);

// What the journal stores for an incident begun at `start`: `a` with the figures of the incident's
// own stretch up to `at`, in a cable's words when measured over one.
FaultAttribution incidentFigures(const FaultAttribution& a, const std::vector<ProbeBatch>& batches,
                                 const std::vector<WifiSnapshot>& readings, const AttributionThresholds& t,
                                 Timestamp start, Timestamp at, bool overCable);

} // namespace pv::present
