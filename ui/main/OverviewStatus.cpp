#include "ui/main/OverviewStatus.h"

#include "ui/main/Ipv6Lines.h"

#include "core/analysis/Statistics.h"
#include "core/app/IncidentEvidence.h"
#include "core/app/PresentStretch.h"
#include "core/records/Localization.h"

#include <algorithm>
#include <cmath>

namespace pv {

namespace {

bool readableRSSI(const std::optional<int>& rssi) { return rssi && *rssi != 0; }

} // namespace

namespace {
live_picture::Status liveStatusOf(const OverviewSnapshot& s)
{
    return {s.isMonitoring, s.liveStatus, s.attribution, s.verdict, s.endedFault.has_value()};
}

// The analysed path is sound but IPv6 is broken beside it: the pages and apps that try IPv6 first
// start slowly or not at all, so the status warns and says so rather than calling the connection sound.
bool onlyIpv6IsBroken(const OverviewSnapshot& s)
{
    return s.isMonitoring && s.ipv6Path.isFault() && live_picture::statusLevel(liveStatusOf(s)) == PVStatus::good;
}

// IPv4 stalls beyond the router while IPv6 gets through: not "no internet", for most of it works.
bool onlyIpv4IsBroken(const OverviewSnapshot& s)
{
    return s.isMonitoring && s.ipv6Path.state == Ipv6PathState::ipv4Down;
}
} // namespace

PVStatus overviewStatusLevel(const OverviewSnapshot& s)
{
    if (onlyIpv4IsBroken(s))
        return PVStatus::serious;
    return onlyIpv6IsBroken(s) ? PVStatus::watch : live_picture::statusLevel(liveStatusOf(s));
}

QString liveStatusLine(const OverviewSnapshot& s)
{
    if (onlyIpv4IsBroken(s))
        return ipv4FaultTitle();
    return onlyIpv6IsBroken(s) ? ipv6FaultTitle() : live_picture::statusLine(liveStatusOf(s));
}

QString statusExplanation(const OverviewSnapshot& s)
{
    if (onlyIpv4IsBroken(s))
        return L("Ami IPv6-on is elérhető (a legtöbb nagy oldal és szolgáltatás), az megy; a csak IPv4-es oldalak és "
                 "alkalmazások nem.");
    if (onlyIpv6IsBroken(s))
        return ipv6_lines::panelLine(s.ipv6Path).value_or(QString()) + QLatin1Char(' ') +
               L("Az IPv6-ot elsőként próbáló oldalak és alkalmazások lassan indulhatnak.");
    return live_picture::statusExplanation(liveStatusOf(s));
}

QString ipv6FaultTitle() { return L("Az IPv6-kapcsolatod hibás, az IPv4 működik"); }

QString ipv4FaultTitle() { return L("Az IPv4-kapcsolatod hibás, az IPv6 működik"); }

QString measurementFreshnessLabel(const OverviewSnapshot& s, Timestamp now)
{
    if (!s.lastProbeBatchTimestamp)
        return L("Mérés indul");
    const double age = std::trunc(now - *s.lastProbeBatchTimestamp);
    if (age >= 10)
        return LF("Utolsó mérés %lld másodperce", {static_cast<long long>(age)});
    return L("Mérés folyamatban");
}

std::optional<PVCulprit> accusedCulprit(const OverviewSnapshot& s)
{
    switch (s.attribution.location) {
    case FaultLocation::wifi: return PVCulprit::wifi;
    case FaultLocation::router: return PVCulprit::router;
    case FaultLocation::provider:
    case FaultLocation::dns: return PVCulprit::provider;
    case FaultLocation::none:
    case FaultLocation::localUnseparated:
    case FaultLocation::offline:
    case FaultLocation::insufficientEvidence: break;
    }
    return std::nullopt;
}

PVStatus faultSeverity(const OverviewSnapshot& s)
{
    const PVStatus level = overviewStatusLevel(s);
    return level == PVStatus::serious || level == PVStatus::critical ? level : PVStatus::watch;
}

PVSegmentState wifiSegmentState(const OverviewSnapshot& s)
{
    const WifiSnapshot* current = s.currentWifiSnapshot();
    if (!current || !readableRSSI(current->rssi))
        return PVSegmentState::unknown(L("a jelerősség nem olvasható"));
    if (accusedCulprit(s) == PVCulprit::wifi)
        return PVSegmentState::faulty(faultSeverity(s));
    const int rssi = *current->rssi;
    if (rssi < -74)
        return PVSegmentState::suspect(0.8);
    if (rssi < -67)
        return PVSegmentState::suspect(0.45);
    return PVSegmentState::clear();
}

QString wifiSignalSummary(const OverviewSnapshot& s)
{
    const WifiSnapshot* current = s.currentWifiSnapshot();
    if (!current)
        return L("Nincs adat");
    if (!readableRSSI(current->rssi))
        return L("A jelerősség nem olvasható");
    const int rssi = *current->rssi;
    const QString word = rssi >= -60 ? L("erős") : rssi >= -70 ? L("közepes") : L("gyenge");
    return LF("%1$lld dBm, %2$@", {static_cast<long long>(rssi), word});
}

std::vector<NetworkSample> recentSamples(ProbeKind kind, const OverviewSnapshot& s, Timestamp now)
{
    const Timestamp cutoff = now - kLegWindowSeconds;
    std::vector<NetworkSample> kept;
    // An echo the system did not let out measured nothing: it is no sample of the leg.
    for (const ProbeBatch& batch : s.recentBatches)
        for (const NetworkSample& sample : batch.samples)
            if (sample.target.kind == kind && sample.timestamp >= cutoff && sample.timestamp <= now &&
                !incident_evidence::wasNotMeasured(sample))
                kept.push_back(sample);
    if (kept.size() > kLegWindowSamples)
        kept.erase(kept.begin(), kept.end() - static_cast<std::ptrdiff_t>(kLegWindowSamples));
    return kept;
}

std::optional<LegStretch> legStretch(ProbeKind kind, const OverviewSnapshot& s, Timestamp now)
{
    const auto samples = recentSamples(kind, s, now);
    if (samples.empty())
        return std::nullopt;
    Timestamp oldest = samples.front().timestamp;
    for (const NetworkSample& x : samples)
        oldest = std::min(oldest, x.timestamp);
    // Whole minutes, as the captions name them: the figures count every sample of that stretch.
    const double minutes = std::max(1.0, std::ceil((now - oldest) / 60.0 - 1e-9));
    const double seconds = std::min(minutes * 60.0, kLegWindowSeconds);
    const present::Stretch present =
        present::stretch(s.recentBatches, s.incidents, s.endedFault, now, kLegWindowSeconds);
    // A total failure said from the newest batches (no incident bounds it yet): the cards count those.
    if (present.kind != present::Stretch::Kind::faultBegan && s.evidenceLead == present::newestBatchesLead())
        return LegStretch{present::newestBatch(s.recentBatches).from, true, L("a legutóbbi mérési körökben")};
    // A fault's stretch is counted whole however many samples it holds: the bullets count all of it.
    if (present.kind == present::Stretch::Kind::window || now - kLegWindowSeconds > present.from)
        return LegStretch{now - seconds, true, stretchText(seconds)};
    if (present.kind == present::Stretch::Kind::faultEnded)
        return LegStretch{present.from, false, L("a hiba vége óta")};
    return LegStretch{present.from, true, L("a hiba kezdete óta")};
}

std::vector<NetworkSample> legSamples(ProbeKind kind, const OverviewSnapshot& s, Timestamp now)
{
    const std::optional<LegStretch> stretch = legStretch(kind, s, now);
    std::vector<NetworkSample> kept;
    if (!stretch)
        return kept;
    for (const ProbeBatch& batch : s.recentBatches)
        for (const NetworkSample& sample : batch.samples)
            if (sample.target.kind == kind && stretch->contains(sample.timestamp, now) &&
                !incident_evidence::wasNotMeasured(sample))
                kept.push_back(sample);
    return kept;
}

std::optional<double> successRatio(ProbeKind kind, const OverviewSnapshot& s, Timestamp now)
{
    const auto samples = legSamples(kind, s, now);
    if (samples.empty())
        return std::nullopt;
    const auto ok = std::count_if(samples.begin(), samples.end(), [](const NetworkSample& x) { return x.success; });
    return static_cast<double>(ok) / static_cast<double>(samples.size());
}

namespace {
std::vector<double> sortedLatencies(ProbeKind kind, const OverviewSnapshot& s, Timestamp now)
{
    std::vector<double> values;
    for (const NetworkSample& x : legSamples(kind, s, now))
        if (x.success && x.latencyMilliseconds)
            values.push_back(*x.latencyMilliseconds);
    std::sort(values.begin(), values.end());
    return values;
}
} // namespace

std::optional<double> medianLatency(ProbeKind kind, const OverviewSnapshot& s, Timestamp now)
{
    const auto values = sortedLatencies(kind, s, now);
    if (values.empty())
        return std::nullopt;
    return values[values.size() / 2];
}

std::optional<std::pair<double, double>> latencyLevels(ProbeKind kind, const OverviewSnapshot& s, Timestamp now)
{
    const auto values = sortedLatencies(kind, s, now);
    if (values.empty())
        return std::nullopt;
    // The tenths leave a lone spike out; a jitter of a few milliseconds, or a tenth of a slow
    // line's delay, is one level still.
    const auto last = static_cast<double>(values.size() - 1);
    const double low = values[static_cast<std::size_t>(std::floor(0.1 * last))];
    const double high = values[static_cast<std::size_t>(std::ceil(0.9 * last))];
    if (high <= 2 * low + 10)
        return std::nullopt;
    return std::pair{low, high};
}

// Lost echoes, not only failed samples: a sample that got two of three answers lost a third.
std::optional<double> lostEchoRatio(ProbeKind kind, const OverviewSnapshot& s, Timestamp now)
{
    const auto samples = legSamples(kind, s, now);
    if (samples.empty())
        return std::nullopt;
    std::vector<const NetworkSample*> pointers;
    for (const NetworkSample& x : samples)
        pointers.push_back(&x);
    return stats::lossRatio(pointers);
}

PVSegmentState legSegmentState(PVCulprit culprit, ProbeKind kind, const OverviewSnapshot& s, Timestamp now)
{
    const auto ratio = successRatio(kind, s, now);
    if (!ratio) {
        // Nothing measured since the fault began (no route out): the card cannot judge the present.
        const std::optional<LegStretch> stretch = legStretch(kind, s, now);
        return PVSegmentState::unknown(stretch ? LF("nincs mérés %@", {stretch->label}) : L("még nincs mérés"));
    }
    // A leg that answered nothing in its stretch is at fault, whoever the headline accuses.
    if (accusedCulprit(s) == culprit || *ratio <= 0)
        return PVSegmentState::faulty(faultSeverity(s));
    const double echoLoss = lostEchoRatio(kind, s, now).value_or(0);
    if (*ratio < 0.98 || echoLoss > 0.02)
        return PVSegmentState::suspect(std::min(std::max(1.0 - *ratio, echoLoss) * 4.0, 1.0));
    return PVSegmentState::clear();
}

QString stretchText(double seconds)
{
    const auto minutes = static_cast<long long>(std::max(1.0, std::ceil(seconds / 60.0 - 1e-9)));
    return minutes == 1 ? L("az elmúlt percben") : LF("az elmúlt %lld percben", {minutes});
}

QString evidenceStretchCaption(double seconds)
{
    const auto minutes = static_cast<long long>(std::max(1.0, std::ceil(seconds / 60.0 - 1e-9)));
    return minutes == 1 ? L("Az elmúlt perc méréseiből:") : LF("Az elmúlt %lld perc méréseiből:", {minutes});
}

bool legUnansweredInNewestMinute(ProbeKind kind, const OverviewSnapshot& s, Timestamp now)
{
    bool any = false;
    for (const ProbeBatch& b : s.recentBatches)
        for (const NetworkSample& x : b.samples) {
            if (x.target.kind != kind || x.timestamp < now - 60 || x.timestamp > now ||
                incident_evidence::wasNotMeasured(x))
                continue;
            if (x.success)
                return false;
            any = true;
        }
    return any;
}

QString legLatencySummary(ProbeKind kind, const OverviewSnapshot& s, Timestamp now)
{
    const std::optional<LegStretch> stretch = legStretch(kind, s, now);
    if (!stretch)
        return L("Még nincs mérés");
    const auto count = legSamples(kind, s, now).size();
    if (count == 0)
        return LF("Nincs mérés %@", {stretch->label});
    const auto median = medianLatency(kind, s, now);
    if (!median)
        return LF("Nem válaszol (%1$lld mérésből egy sem, %2$@)", {static_cast<long long>(count), stretch->label});
    // Lost echoes of the leg's own samples: a failed sample lost every echo it sent.
    const double echoLoss = lostEchoRatio(kind, s, now).value_or(0);
    // A leg that went silent: its older answers' latency would read as a working leg.
    if (legUnansweredInNewestMinute(kind, s, now))
        return LF("Az elmúlt percben nem válaszol · %1$.0f%% csomagvesztés, %2$@", {echoLoss * 100.0, stretch->label});
    // A stretch of two levels has no one figure: both are said.
    const auto levels = latencyLevels(kind, s, now);
    if (levels && echoLoss > 0.02)
        return LF("%1$@ és %2$@ között · %3$.0f%% csomagvesztés, %4$@",
                  {millisecondsText(levels->first), millisecondsText(levels->second), echoLoss * 100.0, stretch->label});
    if (levels)
        return LF("%1$@ és %2$@ között ingadozik, %3$@",
                  {millisecondsText(levels->first), millisecondsText(levels->second), stretch->label});
    if (echoLoss > 0.02)
        return LF("%1$@ · %2$.0f%% csomagvesztés, %3$@", {millisecondsText(*median), echoLoss * 100.0, stretch->label});
    return LF("%1$@, egyenletes, %2$@", {millisecondsText(*median), stretch->label});
}

std::array<PVSegment, 3> culpritChainSegments(const OverviewSnapshot& s, Timestamp now)
{
    PVSegment wifi;
    wifi.culprit = PVCulprit::wifi;
    wifi.title = L("A te Wi-Fid");
    if (!s.currentWifiSnapshot()) {
        wifi.state = PVSegmentState::notApplicable();
        wifi.caption = L("Kábelen mérünk");
    } else {
        wifi.state = wifiSegmentState(s);
        wifi.caption = wifiSignalSummary(s);
    }
    PVSegment router;
    router.culprit = PVCulprit::router;
    router.title = L("A te routered");
    router.state = legSegmentState(PVCulprit::router, ProbeKind::gateway, s, now);
    router.caption = legLatencySummary(ProbeKind::gateway, s, now);
    PVSegment provider;
    provider.culprit = PVCulprit::provider;
    provider.title = L("A szolgáltatód");
    provider.state = legSegmentState(PVCulprit::provider, ProbeKind::publicIP, s, now);
    provider.caption = legLatencySummary(ProbeKind::publicIP, s, now);
    return {wifi, router, provider};
}

std::vector<double> recentRSSIValues(const OverviewSnapshot& s)
{
    const std::vector<WifiSnapshot> all = s.liveWifiSnapshots();
    const std::size_t start = all.size() > kRSSISeriesLength ? all.size() - kRSSISeriesLength : 0;
    std::vector<double> values;
    for (std::size_t i = start; i < all.size(); ++i)
        if (readableRSSI(all[i].rssi))
            values.push_back(static_cast<double>(*all[i].rssi));
    return values;
}

} // namespace pv
