#pragma once
// Rates the connection over one window of the current measurement session: a 0-10 score, its share
// of the saved 10/10 reference, a verdict, weak points, and one summary per probe kind and for Wi-Fi.

#include "core/records/Quality.h"

#include <optional>
#include <vector>

namespace pv {

class QualityEvaluator {
public:
    // samples and wifi oldest first; the lists may hold more than the window. openIncidentsUntil is
    // the clock reading up to which an incident that is still open counts; without it, now.
    static QualityAssessment evaluate(QualityWindow window, const MeasurementSession& session, Timestamp now,
                                      const std::vector<NetworkSample>& samples,
                                      const std::vector<WifiSnapshot>& wifi, const std::vector<Incident>& incidents,
                                      const std::vector<DiagnosticEvent>& events,
                                      const std::optional<QualityBaseline>& baseline,
                                      std::optional<Timestamp> openIncidentsUntil = std::nullopt);

    // The assessment of a window that cannot be rated yet.
    static QualityAssessment collectingAssessment(QualityWindow window, const MeasurementSession& session,
                                                  Timestamp now, const std::optional<QualityBaseline>& baseline);

    // True only when both readings exist and their node fingerprints differ.
    static bool hasNodeChanged(const std::optional<WifiSnapshot>& previous, const std::optional<WifiSnapshot>& current);

    // "4m 10s", "1h 0m", "1s": the seconds rounded up.
    static QString durationText(double seconds);
};

} // namespace pv
