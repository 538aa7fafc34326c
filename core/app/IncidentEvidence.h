#pragma once
// What the incident journal goes by: which probe batches (and Wi-Fi readings) show the fault of a
// given place, and the episode those make. The attribution looks at the whole live window and keeps
// naming a fault until the window has drained; an incident's times and its opening come from the
// batches that actually showed the fault.

#include "core/analysis/Attribution.h"
#include "core/analysis/AttributionThresholds.h"
#include "core/records/Records.h"

#include <optional>
#include <vector>

namespace pv {

struct FaultEpisode {
    Timestamp start = 0;     // the first showing batch of the episode
    Timestamp lastShown = 0; // the newest showing batch
    bool ongoing = false;    // the newest batch that measured the place's leg showed the fault
    bool operator==(const FaultEpisode&) const = default;
};

namespace incident_evidence {

// Seconds without a showing batch that separate two episodes.
inline constexpr double episodeGap = 60;
// An incident opens only from a showing batch this recent.
inline constexpr double freshness = 60;

// A sample that never reached the network (the ICMP socket could not be opened): no evidence either way.
bool wasNotMeasured(const NetworkSample& sample);

// The place a stored classification stands for (the reverse of incidentClassification).
FaultLocation location(IncidentClassification classification);

// Does the sample show a fault at the place's leg: it failed, lost echoes, or lay over the leg's limit?
bool sampleShows(const NetworkSample& sample, FaultLocation where, const AttributionThresholds& t);
// Does the sample measure the place's leg at all (whatever its outcome)?
bool sampleMeasures(const NetworkSample& sample, FaultLocation where);
bool batchShows(const ProbeBatch& batch, FaultLocation where, const AttributionThresholds& t);
bool readingShows(const WifiSnapshot& reading, FaultLocation where, const AttributionThresholds& t);

// The newest episode among batches and readings (any order) up to `at`: walking back from the newest
// showing item, it reaches back to the first gap of episodeGap seconds without one, and never before
// notBefore. None when nothing in that span shows the fault.
std::optional<FaultEpisode> currentEpisode(const std::vector<ProbeBatch>& batches,
                                           const std::vector<WifiSnapshot>& readings, FaultLocation where,
                                           const AttributionThresholds& t, Timestamp at,
                                           std::optional<Timestamp> notBefore);

// The episode counts as fresh when it is still going on (the newest measurement of the leg showed
// the fault) and that lies in the newest minute before `at`.
inline bool isFresh(const std::optional<FaultEpisode>& episode, Timestamp at)
{
    return episode && episode->ongoing && at - episode->lastShown <= freshness;
}

} // namespace incident_evidence
} // namespace pv
