#pragma once
// The overview's derived texts: the hero's level, headline, explanation and freshness label, the
// accused culprit and the three segments of the culprit chain with their captions, and the signal
// series of the Wi-Fi sparkline. Each reads a snapshot of the model (and the time where it needs
// one) and keeps nothing; the first matching rule wins everywhere.

#include "ui/design/CulpritChain.h"
#include "ui/main/OverviewSnapshot.h"

#include <array>
#include <optional>
#include <vector>

namespace pv {

// Samples younger than this many seconds make up a leg's recent window.
inline constexpr double kLegWindowSeconds = 600;
// At most this many of them are looked at.
inline constexpr std::size_t kLegWindowSamples = 60;
inline constexpr std::size_t kRSSISeriesLength = 40;

PVStatus overviewStatusLevel(const OverviewSnapshot& s);
QString liveStatusLine(const OverviewSnapshot& s);
QString statusExplanation(const OverviewSnapshot& s);
QString measurementFreshnessLabel(const OverviewSnapshot& s, Timestamp now);

std::optional<PVCulprit> accusedCulprit(const OverviewSnapshot& s);
// The severity an accused segment is drawn with: the overview level when serious or critical.
PVStatus faultSeverity(const OverviewSnapshot& s);

std::array<PVSegment, 3> culpritChainSegments(const OverviewSnapshot& s, Timestamp now);
QString wifiSignalSummary(const OverviewSnapshot& s);
// Only meaningful while a Wi-Fi reading exists (the chain shows "not applicable" otherwise).
PVSegmentState wifiSegmentState(const OverviewSnapshot& s);

// Which stretch of time a figure covers, for example "az elmúlt percben", "az elmúlt 10 percben"
// (whole minutes, rounded up), and the same as the lead of an evidence list ("Az elmúlt 10 perc méréseiből:").
QString stretchText(double seconds);
QString evidenceStretchCaption(double seconds);
// How far back the leg's recent samples reach from now, in whole minutes rounded up (at most ten):
// the stretch a leg's figures name. None without samples.
std::optional<double> legStretchSeconds(ProbeKind kind, const OverviewSnapshot& s, Timestamp now);
// Every sent sample of the kind within that stretch: what the leg's figures count.
std::vector<NetworkSample> legSamples(ProbeKind kind, const OverviewSnapshot& s, Timestamp now);

// The kind's samples of the last ten minutes that were sent, the newest 60 of them, in batch order.
std::vector<NetworkSample> recentSamples(ProbeKind kind, const OverviewSnapshot& s, Timestamp now);
std::optional<double> successRatio(ProbeKind kind, const OverviewSnapshot& s, Timestamp now);
std::optional<double> averageLatency(ProbeKind kind, const OverviewSnapshot& s, Timestamp now);
PVSegmentState legSegmentState(PVCulprit culprit, ProbeKind kind, const OverviewSnapshot& s, Timestamp now);
// True when the kind has samples in the minute before now and not one of them was answered.
bool legUnansweredInNewestMinute(ProbeKind kind, const OverviewSnapshot& s, Timestamp now);

QString legLatencySummary(ProbeKind kind, const OverviewSnapshot& s, Timestamp now);

std::vector<double> recentRSSIValues(const OverviewSnapshot& s);

} // namespace pv
