#pragma once
// What the history screen derives from a summary, apart from any widget: the content state, the
// coverage tiles, the chart (lines broken at empty slices, incident bands), the incident list and
// its texts.

#include "core/app/HistoryViewModel.h"
#include "core/records/Status.h"
#include "ui/design/Chart.h"
#include "ui/design/ChartAccessibility.h"
#include "ui/design/Components.h"

#include <string_view>
#include <vector>

namespace pv::history {

enum class Content { loading, noData, cards };
// Loading without a summary shows the loading state, no summary the no-data state, anything else
// the cards (also while a newer load runs).
Content contentFor(bool isLoading, bool hasSummary);

// The three coverage tiles, in their order.
std::vector<PVStatTileData> coverageTiles(const HistorySummary& summary);
// ratio × 100 in "%.0f".
QString coverageValueText(double ratio);
QString coverageCaption(double ratio); // above 0.95: "gyakorlatilag hézagmentes"
// The caption of the period as it was measured: slices before the first measurement the store holds
// are named as such, not as sleep or a stopped program.
QString coverageCaption(const HistorySummary& summary);
PVStatus coverageStatus(double ratio); // above 0.9: good

// max(largest median × 1.15, 20); 57.5 without any median.
double yAxisUpperBound(const std::vector<HistoryBucket>& buckets);

struct IncidentBand {
    QUuid id;
    Timestamp start = 0;
    Timestamp end = 0;
    PVStatus level = PVStatus::neutral;
    bool operator==(const IncidentBand&) const = default;
};
PVStatus level(IncidentSeverity severity);
std::string_view symbolName(IncidentSeverity severity);
// Each incident clamped to [first slice's start, now] (an open one runs to now); only bands that
// are longer than zero.
std::vector<IncidentBand> incidentBands(const std::vector<HistoryBucket>& buckets, const std::vector<Incident>& incidents,
                                        Timestamp now);

// The chart: one line per leg at the slice starts, broken where a slice has no value for it, the
// bands beneath, the scale from 0 to the upper bound over the whole period.
PVChartSpec chartSpec(const HistorySummary& summary, Timestamp now);
bool hasMeasuredSlice(const HistorySummary& summary);
// The spoken summary of the chart; the label names the range the model is on now.
QString chartLabel(HistoryRange currentRange);
std::vector<PVSeriesSummary> chartSeries(const HistorySummary& summary);
QString chartNote(const HistorySummary& summary);
// The note under a chart that holds rolled-up slices: it names the raw retention in force.
QString aggregatedNote(const HistorySummary& summary);

// The 30 newest incidents, newest first; incidents with the same start keep their order.
inline constexpr std::size_t kShownIncidents = 30;
std::vector<Incident> newestIncidents(const std::vector<Incident>& incidents);
// "még tart" while open, else how long it lasted (the overview's incident list says it the same way).
QString durationText(const Incident& incident);
// Abbreviated month, day, hour and minute in the user's locale.
QString startText(Timestamp start);

} // namespace pv::history
