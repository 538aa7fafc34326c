#pragma once
// Condenses a period's incidents into at most three likely causes and one suggested next test
// (English sentences of the daily report).

#include "core/records/Quality.h"

#include <vector>

namespace pv {

class IncidentClassifier {
public:
    // Most significant first: by total duration, longest first; an incident still open counts up to now.
    static std::vector<LikelyCauseSummary> likelyCauses(const std::vector<Incident>& incidents, Timestamp now);
    // The suggested next test, chosen by the most frequent classification.
    static QString recommendation(const std::vector<Incident>& incidents);
};

} // namespace pv
