#pragma once
// Condenses a period's incidents into at most three likely causes and one suggested next test
// (English sentences of the daily report).

#include "core/records/Quality.h"

#include <QLocale>

#include <vector>

namespace pv {

class IncidentClassifier {
public:
    // Most significant first: by total duration, longest first; an incident still open counts up to now.
    // The totals are written in `numbers` (the user's locale by default; the export files pass QLocale::c()).
    static std::vector<LikelyCauseSummary> likelyCauses(const std::vector<Incident>& incidents, Timestamp now,
                                                        const QLocale& numbers = QLocale::system());
    // The suggested next test, chosen by the most frequent classification.
    static QString recommendation(const std::vector<Incident>& incidents);
};

} // namespace pv
