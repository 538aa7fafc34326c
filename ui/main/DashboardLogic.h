#pragma once
// Display-free rules of the overview's figure and chart sections: the point series of the charts
// and sparklines, the "Most" tiles, the usage tiles, the latency and Wi-Fi chart descriptions, the
// incident rows and the raw figures lines. Each is a function of a snapshot of the model and keeps
// nothing; the widgets only lay out what these return.

#include "ui/design/Chart.h"
#include "ui/design/ChartAccessibility.h"
#include "ui/design/Components.h"
#include "ui/main/OverviewSnapshot.h"

#include <QString>

#include <optional>
#include <string_view>
#include <vector>

namespace pv {

// ---- Chart point series -------------------------------------------------------------------------

// One time-stamped value of a dashboard chart or sparkline.
struct LatencyPoint {
    Timestamp timestamp = 0;
    double value = 0;
    bool operator==(const LatencyPoint&) const = default;
};

// The route chart spans the newest 20 minutes the batches hold, both legs alike.
inline constexpr double kRouteChartSeconds = 20 * 60;
inline constexpr std::size_t kSparklineLength = 40;

// The kind's successful samples that carry a latency, in ascending time (equal times keep batch and
// sample order), of the route chart's span before the batches' newest sample.
std::vector<LatencyPoint> latencyPoints(ProbeKind kind, const std::vector<ProbeBatch>& batches);
// The newest 40 values of that series, oldest first.
std::vector<double> recentLatencyValues(ProbeKind kind, const std::vector<ProbeBatch>& batches);
// A sparkline of the kind, batch by batch in time order: the latencies of its answered samples, and
// a break (not a number) for a batch whose samples of the kind all went unanswered; the newest 40
// entries. Batches without a sample of the kind, and echoes the system did not let out, add nothing.
std::vector<double> sparklineValues(ProbeKind kind, const std::vector<ProbeBatch>& batches);
// ---- Adaptive grid ------------------------------------------------------------------------------

// How many columns of at least `minimum` fit a width with `spacing` between them (at least one).
int adaptiveColumns(int width, int minimum, int spacing);

// ---- "Most" -------------------------------------------------------------------------------------

// "<1" below 1, "%.1f" below 10 (decided on the unrounded value), "%.0f" from 10 on, "—" when absent.
QString latencyValueText(std::optional<double> milliseconds);
// The integer rssi of the reading when there is one and it is not 0, else "—".
QString signalValueText(const WifiSnapshot* snapshot);
// The five tiles in their fixed order: router, provider, Wi-Fi, name resolution, page loading.
std::vector<PVStatTileData> nowTiles(const OverviewSnapshot& s, Timestamp now);

// ---- Usage capability ---------------------------------------------------------------------------

struct UsageTile {
    UsageCapability usage;
    std::string_view symbol;
    QString title;
    CapabilityRating rating;
    PVStatus level;
    QString word;
    QString accessibleLabel;
};
// Always the four uses in order; a use without a rating is unknown.
std::vector<UsageTile> usageTiles(const ConnectionVerdict& verdict);

// ---- Latency along the route --------------------------------------------------------------------

// max(1.15 × the largest value of both series (50 without any), 20).
double latencyUpperBound(const std::vector<LatencyPoint>& router, const std::vector<LatencyPoint>& provider);
// The crosshair snaps to the provider's own sample times only.
std::vector<double> latencyHoverDates(const std::vector<LatencyPoint>& provider);
// The value of the router point nearest in time (the first of equally near ones).
std::optional<double> routerReading(const std::vector<LatencyPoint>& router, double t);
// The value of the first provider point measured exactly at t.
std::optional<double> providerReading(const std::vector<LatencyPoint>& provider, double t);
std::vector<PVCrosshairReading> latencyReadings(const std::vector<LatencyPoint>& router,
                                                const std::vector<LatencyPoint>& provider, double t);
// The times of the kind's failed samples within the route chart's span.
std::vector<Timestamp> failureTimes(ProbeKind kind, const std::vector<ProbeBatch>& batches);
// A probe batch is due about every five seconds; neighbouring points further apart than three such
// intervals have no measurement between them.
inline constexpr double kLineGapSeconds = 3 * 5.0;
// The chart line of a series: its points in time order, with a break (a point whose y is not a
// number) at each failed measurement between them and between two points more than kLineGapSeconds apart.
std::vector<QPointF> lineWithBreaks(const std::vector<LatencyPoint>& series, const std::vector<Timestamp>& failures);
// The stretches of a leg without an answer from `from` on: each run of failed measurements that no
// answer interrupts, from the answer before it (or its first failure) to the answer after it (or
// its last failure).
std::vector<std::pair<Timestamp, Timestamp>> unansweredStretches(const std::vector<LatencyPoint>& series,
                                                                 const std::vector<Timestamp>& failures, Timestamp from);
// What a gap in the route chart was: the measuring paused for a load test or by the user, the
// computer asleep, the program not running (nothing recorded why), or measurements that failed.
enum class RouteGapCause { loadTest, paused, asleep, notRunning, failed };
struct RouteGap {
    Timestamp from = 0;
    Timestamp to = 0;
    RouteGapCause cause = RouteGapCause::notRunning;
    bool operator==(const RouteGap&) const = default;
};
// The chart's gaps in time order: each stretch of more than kLineGapSeconds without a batch, named by
// the events recorded within it, and each stretch the provider left unanswered.
std::vector<RouteGap> routeChartGaps(const std::vector<ProbeBatch>& batches, const std::vector<DiagnosticEvent>& events);
// "14:02–14:05: terheléses mérés futott".
QString routeGapText(const RouteGap& gap, Timestamp now);
// The newest three gaps, one line each; empty without a gap.
QString routeGapsCaption(const std::vector<RouteGap>& gaps, Timestamp now);
// Besides the breaks in their lines, both legs' stretches without an answer are marked along the
// time axis in the leg's colour (the router's on the axis, the provider's just above), so that an
// outage of one leg shows where the other's line covers it.
PVChartSpec latencyChartSpec(const std::vector<LatencyPoint>& router, const std::vector<LatencyPoint>& provider,
                             const std::vector<Timestamp>& routerFailures = {},
                             const std::vector<Timestamp>& providerFailures = {});
std::vector<PVSeriesSummary> latencySummarySeries(const std::vector<LatencyPoint>& router,
                                                  const std::vector<LatencyPoint>& provider);
// The chart's spoken name, with the stretch its lines cover.
QString latencySummaryLabel(const std::vector<LatencyPoint>& router, const std::vector<LatencyPoint>& provider);

// ---- Wi-Fi signal -------------------------------------------------------------------------------

inline constexpr std::size_t kWifiChartSnapshots = 90;
inline constexpr std::size_t kNodeRows = 5;

// The newest 90 readings, in their order.
std::vector<WifiSnapshot> usedWifiSnapshots(const std::vector<WifiSnapshot>& snapshots);
// rssi where present and not 0.
std::vector<LatencyPoint> signalStrengthSeries(const std::vector<WifiSnapshot>& used);
// rssi − noise where both are present and the difference is not 0.
std::vector<LatencyPoint> signalToNoiseSeries(const std::vector<WifiSnapshot>& used);
// [lo − pad, hi + pad] with pad = max(0.25 × (hi − lo), 2); none for an empty series.
std::optional<std::pair<double, double>> signalScale(const std::vector<LatencyPoint>& series);
PVChartSpec signalChartSpec(const std::vector<LatencyPoint>& series, const PVColor& color);
// The summaries of the first five access points of the history (the oldest ones).
QStringList nodeRows(const std::vector<NodeFingerprint>& history);

// ---- Incidents ----------------------------------------------------------------------------------

inline constexpr std::size_t kIncidentRows = 8;

struct OpenIncidentHighlight {
    bool isOpen = false;
    PVStatus level = PVStatus::neutral;
};

PVStatus incidentLevel(IncidentSeverity severity);
std::string_view incidentSymbol(IncidentSeverity severity);

struct IncidentRow {
    Incident incident;
    bool dividerAfter = false;
    OpenIncidentHighlight highlight;
    QString timeText; // incidentTimeText of the start at the time the rows were made
    QString summary;  // the evidence while open, the finding in the past once ended
    std::optional<QString> duration; // how long an ended incident lasted
};
// The newest eight, newest first, each followed by a divider except the oldest shown.
std::vector<IncidentRow> incidentRowsToShow(const std::vector<Incident>& incidents, Timestamp now);
// The count of every incident held; none while there is none.
std::optional<QString> incidentSubtitle(const std::vector<Incident>& incidents);
// Hour and minute of the start in the locale's short form; for an incident that did not start on
// now's local day, its month and day come first.
QString incidentTimeText(Timestamp start, Timestamp now);

// ---- Raw measurement data -----------------------------------------------------------------------

// "átlag 12.3 ms · max. 40.0 ms · sikeres 99.50% · 120 mérés · 1 sikertelen · 2 kiugrás", absent
// figures as "—", a latency under a millisecond as "kevesebb mint 1 ms".
QString figuresLine(const QualityMetricSummary& summary);
// The row's name as the panel shows it ("Router", "Nyilvános IP", ...), whatever the summary's stored title.
QString rawDataTitle(const QualityMetricSummary& summary);
// The five summaries in the fixed order gateway, public address, DNS, HTTP, Wi-Fi.
std::vector<QualityMetricSummary> rawDataRows(const QualityAssessment& assessment);

} // namespace pv
