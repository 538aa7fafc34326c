#pragma once
// The texts and figures the views read from the application model, as pure functions of the
// model's values and the current time, so that they can be checked without a window.

#include "core/records/Quality.h"
#include "core/records/Records.h"

#include <QString>

#include <optional>
#include <vector>

namespace pv::presentation {

QString menuBarSymbolName(LiveStatus status);
QString menuBarStatusTitle(LiveStatus status);

std::optional<WifiSnapshot> currentWifiSnapshot(const std::vector<WifiSnapshot>& snapshots);

// The platform's location authorisation status: 0 not determined, 1 restricted, 2 denied,
// 3 authorised always, 4 authorised when in use; anything else is unknown.
QString locationStatusDescription(int authorizationStatus);

QString probeFreshnessSummary(bool isMonitoring, std::optional<Timestamp> lastBatch, Timestamp now);
QString probeFreshnessDetail(std::optional<Timestamp> lastBatch);
bool isProbeStale(bool isMonitoring, std::optional<Timestamp> lastBatch, Timestamp now);

// Each access point once, at the place of its latest appearance, oldest first.
std::vector<NodeFingerprint> distinctNodeHistory(const std::vector<WifiSnapshot>& snapshots);

QString currentSessionDurationSummary(const std::optional<MeasurementSession>& session, Timestamp now);
// "42s", "12m 5s", "2h 5m" from a whole number of seconds.
QString compactDuration(long long seconds);

QString qualityBaselineSummary(const std::optional<QualityBaseline>& baseline);

// The database file path, or the in-memory sentence when there is none.
QString databaseLocationDescription(const std::optional<QString>& databasePath);

// Times in the current locale's styles: hours, minutes and seconds; hours and minutes.
QString localTimeWithSeconds(Timestamp t);
QString localTimeShort(Timestamp t);

} // namespace pv::presentation
