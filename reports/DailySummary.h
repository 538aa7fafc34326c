#pragma once
// The daily report of an export window (figures, access points, likely causes, next test) and its
// English HTML page, "daily-summary.html". Pure computations over values.

#include "core/records/Quality.h"

#include <QString>

#include <optional>
#include <vector>

namespace pv::reports {

struct DailyReportInput {
    QString title;
    QString periodDescription;
    Timestamp start = 0;
    Timestamp end = 0;
    // The reference time: an open incident's length counts up to it.
    Timestamp now = 0;
    std::vector<NetworkSample> samples;
    std::vector<WifiSnapshot> wifiSnapshots;
    std::vector<Incident> incidents;
    std::vector<DiagnosticEvent> events;
    std::vector<ManualMarker> markers;
};

DailyReport makeDailyReport(DailyReportInput input);

// Samples grouped by batch; each batch takes the time and route of its earliest sample. Ascending.
std::vector<ProbeBatch> probeBatches(const std::vector<NetworkSample>& samples);
// The longest pause between neighbouring batches; absent with fewer than two or no pause above zero.
std::optional<double> longestProbeGap(const std::vector<ProbeBatch>& batches);
// One summary per access point (all four parts of the fingerprint compared): most snapshots first,
// equal counts most recently seen first.
std::vector<NodeSummary> nodeSummaries(const std::vector<WifiSnapshot>& snapshots);
NodeSummary makeNodeSummary(const NodeFingerprint& fingerprint, const std::vector<const WifiSnapshot*>& group);

// "&", "<", ">" and the double quote as entities, in that order; apostrophes stay.
QString htmlEscaped(const QString& text);
// The medium date and time in the user's locale and time zone; a time in the hour that repeats when
// daylight-saving time ends carries its offset, "(UTC+2)" or "(UTC+1)".
QString displayText(Timestamp when);
// displayText, or "N/A" when absent.
QString optionalDateText(const std::optional<Timestamp>& when);

QString summaryHTML(const DailyReport& report);

} // namespace pv::reports
