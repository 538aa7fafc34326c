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
// The status line while only the IPv6 path beside a sound analysed path is broken.
QString ipv6FaultTitle();
// The overview's and the panel's title while IPv4 stalls beyond the router and IPv6 works.
QString ipv4FaultTitle();
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

// The stretch a leg's card, tile and panel figures judge: the present. It reaches back as far as the
// leg's newest samples do (whole minutes, at most ten), but never past the newest fault that has
// ended (an incident's end, or the ended fault the window still holds) nor past the start of the
// incident still open: an earlier fault is not the present's.
struct LegStretch {
    Timestamp from = 0;
    bool fromIncluded = true; // false after a fault's end: the batch that ended it still showed it
    QString label; // "az elmúlt 3 percben", "a hiba vége óta", "a hiba kezdete óta", "a legutóbbi mérési körökben"
    bool contains(Timestamp t, Timestamp now) const { return (fromIncluded ? t >= from : t > from) && t <= now; }
};
// None while the leg has no sample in the window.
std::optional<LegStretch> legStretch(ProbeKind kind, const OverviewSnapshot& s, Timestamp now);
// Every sent sample of the kind within that stretch: what the leg's figures count.
std::vector<NetworkSample> legSamples(ProbeKind kind, const OverviewSnapshot& s, Timestamp now);

// The kind's samples of the last ten minutes that were sent, the newest 60 of them, in batch order.
std::vector<NetworkSample> recentSamples(ProbeKind kind, const OverviewSnapshot& s, Timestamp now);
std::optional<double> successRatio(ProbeKind kind, const OverviewSnapshot& s, Timestamp now);
// The middle latency of the stretch's answered samples (the upper middle one for an even count).
std::optional<double> medianLatency(ProbeKind kind, const OverviewSnapshot& s, Timestamp now);
// The lowest and highest tenth of those latencies when they lie so far apart that the stretch held
// more than one level (a congestion beside a quiet line): the stretch is then not steady.
std::optional<std::pair<double, double>> latencyLevels(ProbeKind kind, const OverviewSnapshot& s, Timestamp now);
// The share of the stretch's echoes that went unanswered (a sample that got two of three answers lost a third).
std::optional<double> lostEchoRatio(ProbeKind kind, const OverviewSnapshot& s, Timestamp now);
PVSegmentState legSegmentState(PVCulprit culprit, ProbeKind kind, const OverviewSnapshot& s, Timestamp now);
// True when the kind has samples in the minute before now and not one of them was answered.
bool legUnansweredInNewestMinute(ProbeKind kind, const OverviewSnapshot& s, Timestamp now);

QString legLatencySummary(ProbeKind kind, const OverviewSnapshot& s, Timestamp now);

std::vector<double> recentRSSIValues(const OverviewSnapshot& s);

} // namespace pv
