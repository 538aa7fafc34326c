#pragma once
// What is going on now, and what the incident journal does about it. The engine answers two
// questions after each batch: about the whole live window and about its newest minute. The window
// keeps naming a fault until it has drained; the newest minute names an outage long before the
// window could. From those answers, the episodes the batches show and the journal's open incident,
// this decides which answer is the live one, what the journal does (open, refresh, reclassify in
// place, close) and, once a fault has ended while the window still holds it, which fault that was
// and when it ended. Pure: the view model applies what it decides.

#include "core/analysis/Attribution.h"
#include "core/analysis/AttributionThresholds.h"
#include "core/analysis/Verdict.h"
#include "core/app/IncidentEvidence.h"
#include "core/records/Records.h"
#include "core/records/Status.h"

#include <optional>
#include <vector>

namespace pv::live_picture {

// The newest minute's latest outage answer and the refresh time it came at.
struct HeldOutage {
    FaultAttribution attribution;
    Timestamp at = 0;
    bool operator==(const HeldOutage&) const = default;
};

// The engine's two answers for one refresh.
struct Answers {
    FaultAttribution window;
    double windowSeconds = 600;
    // The newest minute's answer; none when the window is no longer than a minute. While slow
    // batches leave a minute short of the public-host samples the engine needs, it is asked about
    // the newest stretch that holds them, a little longer than a minute.
    std::optional<FaultAttribution> newestMinute;
    double newestMinuteSeconds = 60;
    // Something beyond the router answered within the newest minute.
    bool newestMinuteAnswered = false;
};

// The answer the refresh goes by, the stretch it was made from, and the outage held for the next one.
struct Reading {
    FaultAttribution attribution;
    double seconds = 600;
    std::optional<HeldOutage> held;
};

// An outage the newest minute named is held while a minute falls short of samples and nothing
// beyond the router answered in it; the window's own outage answer stands as it is.
Reading read(const Answers& answers, std::optional<HeldOutage> held, Timestamp at);

// The measurements the journal goes by.
struct Evidence {
    const std::vector<ProbeBatch>& batches;
    const std::vector<WifiSnapshot>& readings;
    const AttributionThresholds& thresholds;
};

// A minute, as the live picture counts it.
inline constexpr double newestMinute = 60;

// Every batch that measured the place's leg from the one at or before `at` - newestMinute up to `at`
// shows its fault: a fault of a whole minute, not a blip.
bool shownThroughNewestMinute(const Evidence& evidence, FaultLocation where, Timestamp at);
// The router's or the public hosts' leg was measured in the seconds before `at` and not one of
// those samples was answered.
bool legSilent(const std::vector<ProbeBatch>& batches, ProbeKind kind, Timestamp from, Timestamp at);
// The episode's fault is over at `at`: a minute without a batch that shows it, or a run of batches
// measuring its leg without showing it that its own rate would leave to chance less than once in a
// thousand: two after a steady fault (a dead resolver, a cut, a steady delay), more after an
// intermittent one.
bool isOver(const Evidence& evidence, FaultLocation where, const FaultEpisode& episode, Timestamp at);
// A fault shown for less than a minute (a spike, one lost lookup) opens no incident; an outage does at once.
inline constexpr double shortestIncident = 60;

struct OpenIncident {
    IncidentClassification classification = IncidentClassification::unknown;
    Timestamp start = 0;
    bool wasOutage = false; // it has been an outage while open (an offline one always is)
    bool noRoute = false;   // opened for cycles that found no default route
    std::optional<Timestamp> routeReturnedAt; // the first cycle that saw the route again
};

struct Journal {
    std::optional<OpenIncident> open;
    // The newest closed incident: its place and end.
    std::optional<std::pair<IncidentClassification, Timestamp>> lastClosed;
};

enum class Change { none, open, refresh, reclassify };

struct JournalAction {
    std::optional<Timestamp> closeAt; // close the open incident with this end (before any change)
    Change change = Change::none;
    FaultAttribution attribution;     // what an opened, refreshed or reclassified incident takes
    Timestamp start = 0;              // the start of an opened incident
    bool operator==(const JournalAction&) const = default;
};

// The journal's step for attribution a at `at`. noRoute: a is the attribution of a cycle without
// a default route; newestMinute: the engine's answer for the newest minute alone, when asked.
JournalAction journalAction(const FaultAttribution& a, const FaultAttribution* newestMinute, Timestamp at,
                            bool noRoute, const Journal& journal, const Evidence& evidence);

// A refresh in place: severity never drops; the evidence is that of the most severe refresh (the
// latest among equals), and an incident that has been an outage keeps the outage's sentence.
void refresh(Incident& incident, const FaultAttribution& a, bool wasOutage);
// Another place takes the incident over; an outage is never moved to a lesser fault.
void reclassify(Incident& incident, const FaultAttribution& a, bool wasOutage);
// Whether the incident may take a's place: an offline incident keeps its name, and one that has
// been an outage gives it up only to another outage.
bool mayReclassify(IncidentClassification own, bool wasOutage, const FaultAttribution& a);

// A fault the window still names although no batch of the newest minute shows it.
struct EndedFault {
    FaultLocation location = FaultLocation::none;
    std::optional<Timestamp> endedAt; // the newest batch that showed it
    bool operator==(const EndedFault&) const = default;
};

// The fault that ended. A fault the reading names is present only while the journal holds it, opens
// it, or batches since the journal's last closure show it; evidence from before that closure (the
// last lossy batches of an outage, the window's memory of an earlier fault) names nothing. While the
// journal holds another fault open that the newest minute no longer names, that one has ended as
// far as the present can tell. With nothing named, an incident closed within the window is said to
// have ended. The journal's newest incident (when it ended within the window) or the batches tell
// which and when. None while a fault goes on.
std::optional<EndedFault> endedFault(const FaultAttribution& a, const JournalAction& action, const Journal& journal,
                                     Timestamp at, double windowSeconds, const Evidence& evidence);

// What stands for the live picture once the fault has ended: no fault, with when it ended.
FaultAttribution endedAttribution(const EndedFault& ended);

// The whole decision of one refresh.
struct Decision {
    Reading reading;
    JournalAction journal;
    std::optional<EndedFault> ended;
    FaultAttribution live;     // what the views present
    double liveSeconds = 600; // the stretch the live attribution speaks of
};

Decision decide(const Answers& answers, std::optional<HeldOutage> held, Timestamp at, const Journal& journal,
                const Evidence& evidence);

// Where the newest stretch that the engine can speak of begins: `at` - newestMinute, or earlier
// when that minute holds fewer than `minimumCount` public-host samples (never before `earliest`).
// The per-usage verdict, which also wants its samples to span `minimumSpan` seconds, asks with its own.
Timestamp newestStretchStart(const std::vector<NetworkSample>& liveSamples, Timestamp at, std::int64_t minimumCount,
                             double minimumSpan, Timestamp earliest);

// The uses a named fault breaks, whatever the echoes say: a resolver that fails stops every new page,
// stream or call from starting, and pages that never load leave no browsing. `samples` are those
// the usage verdict was made from.
void limitUsage(ConnectionVerdict& verdict, const FaultAttribution& live, const std::vector<NetworkSample>& samples);

// The overview's status: its level, its line and the explanation under it. The three never
// contradict each other, and while a fault is named the line never calls the connection sound.
struct Status {
    bool monitoring = false;
    LiveStatus live = LiveStatus::healthy;
    const FaultAttribution& attribution;
    const ConnectionVerdict& verdict;
    bool faultEnded = false; // the live picture says that a fault ended
};
PVStatus statusLevel(const Status& s);
QString statusLine(const Status& s);
QString statusExplanation(const Status& s);

} // namespace pv::live_picture
