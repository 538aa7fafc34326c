#include "ui/main/DashboardLogic.h"

#include "ui/main/OverviewStatus.h"

#include "core/app/AppViewModel.h"
#include "core/app/IncidentEvidence.h"
#include "core/app/IncidentTexts.h"
#include "core/records/LocaleDates.h"
#include "core/records/Localization.h"

#include <QDateTime>

#include <algorithm>
#include <cmath>
#include <limits>

namespace pv {

// ---- Chart point series -------------------------------------------------------------------------

namespace {
// The newest measurement of any kind the batches hold: both legs' series end there.
std::optional<Timestamp> newestSampleTime(const std::vector<ProbeBatch>& batches)
{
    std::optional<Timestamp> newest;
    for (const ProbeBatch& b : batches)
        for (const NetworkSample& x : b.samples)
            newest = newest ? std::max(*newest, x.timestamp) : x.timestamp;
    return newest;
}
} // namespace

std::vector<LatencyPoint> latencyPoints(ProbeKind kind, const std::vector<ProbeBatch>& batches)
{
    std::vector<LatencyPoint> points;
    const std::optional<Timestamp> newest = newestSampleTime(batches);
    for (const ProbeBatch& b : batches)
        for (const NetworkSample& x : b.samples)
            if (x.target.kind == kind && x.success && x.latencyMilliseconds && x.timestamp >= *newest - kRouteChartSeconds)
                points.push_back({x.timestamp, *x.latencyMilliseconds});
    // Batches arrive in completion order, which is not always time order (a slow batch finishes
    // after a faster later one); equal times keep their arrival order.
    std::stable_sort(points.begin(), points.end(),
                     [](const LatencyPoint& a, const LatencyPoint& b) { return a.timestamp < b.timestamp; });
    return points;
}

std::vector<double> recentLatencyValues(ProbeKind kind, const std::vector<ProbeBatch>& batches)
{
    const auto points = latencyPoints(kind, batches);
    const std::size_t start = points.size() > kSparklineLength ? points.size() - kSparklineLength : 0;
    std::vector<double> values;
    values.reserve(points.size() - start);
    for (std::size_t i = start; i < points.size(); ++i)
        values.push_back(points[i].value);
    return values;
}

std::vector<double> sparklineValues(ProbeKind kind, const std::vector<ProbeBatch>& batches)
{
    struct Entry {
        Timestamp at;
        double value;
    };
    std::vector<Entry> entries;
    for (const ProbeBatch& b : batches) {
        std::vector<Entry> answered;
        std::optional<Timestamp> unanswered;
        for (const NetworkSample& x : b.samples) {
            if (x.target.kind != kind || incident_evidence::wasNotMeasured(x))
                continue;
            if (x.success && x.latencyMilliseconds)
                answered.push_back({x.timestamp, *x.latencyMilliseconds});
            else if (!x.success)
                unanswered = unanswered ? std::min(*unanswered, x.timestamp) : x.timestamp;
        }
        if (!answered.empty())
            entries.insert(entries.end(), answered.begin(), answered.end());
        else if (unanswered)
            entries.push_back({*unanswered, std::numeric_limits<double>::quiet_NaN()});
    }
    std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.at < b.at; });
    const std::size_t start = entries.size() > kSparklineLength ? entries.size() - kSparklineLength : 0;
    std::vector<double> values;
    values.reserve(entries.size() - start);
    for (std::size_t i = start; i < entries.size(); ++i)
        values.push_back(entries[i].value);
    return values;
}

// ---- Adaptive grid ------------------------------------------------------------------------------

int adaptiveColumns(int width, int minimum, int spacing)
{
    if (minimum <= 0)
        return 1;
    return std::max(1, (width + spacing) / (minimum + spacing));
}

// ---- "Most" -------------------------------------------------------------------------------------

QString latencyValueText(std::optional<double> milliseconds)
{
    if (!milliseconds)
        return QStringLiteral("—");
    // A figure of a leg faster than a millisecond must not read 0.0.
    if (*milliseconds < 1)
        return QStringLiteral("<1");
    return formatFixed(*milliseconds, *milliseconds < 10 ? 1 : 0);
}

QString signalValueText(const WifiSnapshot* snapshot)
{
    if (snapshot == nullptr || !snapshot->rssi || *snapshot->rssi == 0)
        return QStringLiteral("—");
    return QString::number(*snapshot->rssi);
}

std::vector<PVStatTileData> nowTiles(const OverviewSnapshot& s, Timestamp now)
{
    auto leg = [&](const char* label, ProbeKind kind, const char* caption, const PVColor& tint) {
        PVStatTileData d;
        d.label = L(label);
        d.tint = tint;
        d.samples = sparklineValues(kind, s.recentBatches);
        if (legUnansweredInNewestMinute(kind, s, now)) {
            // An older latency would read as a working leg: the tile says that it does not answer.
            long long count = 0;
            for (const ProbeBatch& b : s.recentBatches)
                for (const NetworkSample& x : b.samples)
                    count += x.target.kind == kind && x.timestamp >= now - 60 && x.timestamp <= now &&
                             !incident_evidence::wasNotMeasured(x);
            d.value = latencyValueText(std::nullopt);
            d.caption = LF("Nem válaszol (%1$lld mérésből egy sem, %2$@)", {count, stretchText(60)});
            return d;
        }
        d.value = latencyValueText(medianLatency(kind, s, now));
        d.unit = QStringLiteral("ms");
        // The router and provider figures stand next to the chain's: each says its stretch.
        const std::optional<LegStretch> stretch = legStretch(kind, s, now);
        d.caption = stretch ? LF("%1$@, %2$@", {L(caption), stretch->label}) : L(caption);
        return d;
    };
    PVStatTileData wifi;
    wifi.label = L("Wi-Fi jel");
    wifi.value = signalValueText(s.currentWifiSnapshot());
    wifi.unit = QStringLiteral("dBm");
    wifi.caption = wifiSignalSummary(s);
    wifi.tint = PV::color::culprit::wifi;
    wifi.samples = recentRSSIValues(s);
    return {leg("Routered", ProbeKind::gateway, "A lakásodon belüli szakasz", PV::color::culprit::router),
            leg("Szolgáltatód", ProbeKind::publicIP, "Az internet felé vezető szakasz", PV::color::culprit::provider),
            wifi,
            leg("Névfeloldás", ProbeKind::dns, "DNS — a webcímek feloldása", PV::color::series::dns),
            leg("Oldalbetöltés", ProbeKind::http, "HTTP — teljes kérés és válasz", PV::color::series::http)};
}

// ---- Usage capability ---------------------------------------------------------------------------

namespace {
std::string_view usageSymbol(UsageCapability u)
{
    switch (u) {
    case UsageCapability::videoCall: return "video.fill";
    case UsageCapability::gaming: return "gamecontroller.fill";
    case UsageCapability::streaming: return "play.rectangle.fill";
    case UsageCapability::browsing: return "safari.fill";
    }
    return "video.fill";
}
} // namespace

std::vector<UsageTile> usageTiles(const ConnectionVerdict& verdict)
{
    std::vector<UsageTile> tiles;
    for (UsageCapability u : allUsageCapabilities()) {
        const CapabilityRating r = verdict.rating(u);
        tiles.push_back({u, usageSymbol(u), title(u), r, status(r), title(r), LF("%1$@: %2$@", {title(u), title(r)})});
    }
    return tiles;
}

// ---- Latency along the route --------------------------------------------------------------------

double latencyUpperBound(const std::vector<LatencyPoint>& router, const std::vector<LatencyPoint>& provider)
{
    std::optional<double> m;
    for (const auto* series : {&router, &provider})
        for (const LatencyPoint& p : *series)
            m = m ? std::max(*m, p.value) : p.value;
    return std::max(1.15 * m.value_or(50.0), 20.0);
}

std::vector<double> latencyHoverDates(const std::vector<LatencyPoint>& provider)
{
    std::vector<double> dates;
    dates.reserve(provider.size());
    for (const LatencyPoint& p : provider)
        dates.push_back(p.timestamp);
    return dates;
}

std::optional<double> routerReading(const std::vector<LatencyPoint>& router, double t)
{
    std::optional<double> best;
    double bestDistance = 0;
    for (const LatencyPoint& p : router) {
        const double d = std::abs(p.timestamp - t);
        if (!best || d < bestDistance) {
            best = p.value;
            bestDistance = d;
        }
    }
    return best;
}

std::optional<double> providerReading(const std::vector<LatencyPoint>& provider, double t)
{
    for (const LatencyPoint& p : provider)
        if (p.timestamp == t)
            return p.value;
    return std::nullopt;
}

std::vector<PVCrosshairReading> latencyReadings(const std::vector<LatencyPoint>& router,
                                                const std::vector<LatencyPoint>& provider, double t)
{
    return {{QStringLiteral("router"), L("router"), routerReading(router, t), QStringLiteral("ms"),
             PV::color::culprit::router},
            {QStringLiteral("provider"), L("szolgáltató"), providerReading(provider, t), QStringLiteral("ms"),
             PV::color::culprit::provider}};
}

namespace {
std::vector<QPointF> toPoints(const std::vector<LatencyPoint>& series)
{
    std::vector<QPointF> pts;
    pts.reserve(series.size());
    for (const LatencyPoint& p : series)
        pts.emplace_back(p.timestamp, p.value);
    return pts;
}
} // namespace

std::vector<Timestamp> failureTimes(ProbeKind kind, const std::vector<ProbeBatch>& batches)
{
    std::vector<Timestamp> times;
    const std::optional<Timestamp> newest = newestSampleTime(batches);
    for (const ProbeBatch& b : batches)
        for (const NetworkSample& x : b.samples)
            if (x.target.kind == kind && !(x.success && x.latencyMilliseconds) &&
                x.timestamp >= *newest - kRouteChartSeconds)
                times.push_back(x.timestamp);
    std::sort(times.begin(), times.end());
    return times;
}

std::vector<QPointF> lineWithBreaks(const std::vector<LatencyPoint>& series, const std::vector<Timestamp>& failures)
{
    std::vector<QPointF> pts = toPoints(series);
    if (series.empty())
        return pts;
    // Only failures inside the drawn span break it; one break is enough between two points.
    for (Timestamp t : failures)
        if (t >= series.front().timestamp && t <= series.back().timestamp)
            pts.emplace_back(t, std::numeric_limits<double>::quiet_NaN());
    // So does a stretch without any measurement (monitoring paused, the machine asleep).
    for (std::size_t i = 1; i < series.size(); ++i)
        if (series[i].timestamp - series[i - 1].timestamp > kLineGapSeconds)
            pts.emplace_back((series[i].timestamp + series[i - 1].timestamp) / 2,
                             std::numeric_limits<double>::quiet_NaN());
    std::stable_sort(pts.begin(), pts.end(), [](const QPointF& a, const QPointF& b) { return a.x() < b.x(); });
    const auto bothBreaks = [](const QPointF& a, const QPointF& b) { return std::isnan(a.y()) && std::isnan(b.y()); };
    pts.erase(std::unique(pts.begin(), pts.end(), bothBreaks), pts.end());
    return pts;
}

std::vector<std::pair<Timestamp, Timestamp>> unansweredStretches(const std::vector<LatencyPoint>& series,
                                                                 const std::vector<Timestamp>& failures, Timestamp from)
{
    std::vector<std::pair<Timestamp, Timestamp>> stretches;
    std::optional<Timestamp> lastAnswer, runStart, lastFailure;
    auto point = series.begin();
    // Answers and failures in time order; an answer at the same time as a failure comes first.
    for (Timestamp t : failures) {
        if (t < from)
            continue;
        for (; point != series.end() && point->timestamp <= t; ++point) {
            if (runStart) {
                stretches.emplace_back(*runStart, point->timestamp);
                runStart.reset();
            }
            lastAnswer = point->timestamp;
        }
        if (!runStart)
            runStart = lastAnswer.value_or(t);
        lastFailure = t;
    }
    if (runStart)
        stretches.emplace_back(*runStart, point != series.end() ? point->timestamp : *lastFailure);
    return stretches;
}

std::vector<RouteGap> routeChartGaps(const std::vector<ProbeBatch>& batches, const std::vector<DiagnosticEvent>& events)
{
    std::vector<Timestamp> times;
    for (const ProbeBatch& b : batches)
        times.push_back(b.timestamp);
    std::sort(times.begin(), times.end());
    if (times.empty())
        return {};
    const Timestamp spanStart = times.back() - kRouteChartSeconds;
    std::vector<RouteGap> gaps;
    for (std::size_t i = 1; i < times.size(); ++i) {
        const Timestamp from = times[i - 1], to = times[i];
        if (to - from <= kLineGapSeconds || to < spanStart)
            continue;
        bool loadTest = false, asleep = false, paused = false;
        for (const DiagnosticEvent& e : events) {
            if (e.timestamp < from || e.timestamp > to)
                continue;
            loadTest = loadTest || (e.kind == DiagnosticEventKind::monitoringStopped && e.details == loadTestPauseDetails());
            asleep = asleep || e.kind == DiagnosticEventKind::sleep;
            paused = paused || e.kind == DiagnosticEventKind::monitoringStopped;
        }
        const RouteGapCause cause = loadTest ? RouteGapCause::loadTest
                                    : asleep ? RouteGapCause::asleep
                                    : paused ? RouteGapCause::paused
                                             : RouteGapCause::notRunning;
        gaps.push_back({from, to, cause});
    }
    const std::vector<LatencyPoint> provider = latencyPoints(ProbeKind::publicIP, batches);
    for (const auto& [from, to] : unansweredStretches(provider, failureTimes(ProbeKind::publicIP, batches), spanStart))
        gaps.push_back({from, to, RouteGapCause::failed});
    std::sort(gaps.begin(), gaps.end(), [](const RouteGap& a, const RouteGap& b) { return a.from < b.from; });
    return gaps;
}

QString routeGapText(const RouteGap& gap, Timestamp now)
{
    QString what;
    switch (gap.cause) {
    case RouteGapCause::loadTest: what = L("terheléses mérés futott"); break;
    case RouteGapCause::paused: what = L("a mérés szünetelt"); break;
    case RouteGapCause::asleep: what = L("a számítógép alvó állapotban volt"); break;
    case RouteGapCause::notRunning: what = L("a program nem futott (vagy a gép aludt)"); break;
    case RouteGapCause::failed: what = L("a mérés nem sikerült, nem jött válasz"); break;
    }
    return LF("%1$@–%2$@: %3$@", {incidentTimeText(gap.from, now), timeOfDayLabel(gap.to, dateLocale()), what});
}

QString routeGapsCaption(const std::vector<RouteGap>& gaps, Timestamp now)
{
    QStringList lines;
    for (std::size_t i = gaps.size() > 3 ? gaps.size() - 3 : 0; i < gaps.size(); ++i)
        lines << routeGapText(gaps[i], now);
    return lines.isEmpty() ? QString() : LF("A szakadások: %@", {lines.join(QStringLiteral("; "))});
}

PVChartSpec latencyChartSpec(const std::vector<LatencyPoint>& router, const std::vector<LatencyPoint>& provider,
                             const std::vector<Timestamp>& routerFailures,
                             const std::vector<Timestamp>& providerFailures)
{
    PVChartSpec spec;
    spec.y.domain = std::make_pair(0.0, latencyUpperBound(router, provider));
    spec.y.title = QStringLiteral("ms");
    // A failed measurement breaks the line, as the subtitle promises: a line drawn through an
    // outage would hide it.
    spec.lines.push_back({lineWithBreaks(router, routerFailures), PV::color::culprit::router, 2, Qt::RoundJoin, {}});
    spec.lines.push_back(
        {lineWithBreaks(provider, providerFailures), PV::color::culprit::provider, 2, Qt::RoundJoin, {}});
    // The chart begins with the older of the two lines; failures before it are out of view.
    std::optional<Timestamp> from;
    for (const auto* series : {&router, &provider})
        if (!series->empty())
            from = from ? std::min(*from, series->front().timestamp) : series->front().timestamp;
    if (from) {
        const struct {
            const std::vector<LatencyPoint>& series;
            const std::vector<Timestamp>& failures;
            PVColor color;
        } legs[] = {{router, routerFailures, PV::color::culprit::router},
                    {provider, providerFailures, PV::color::culprit::provider}};
        for (int lane = 0; lane < 2; ++lane)
            for (const auto& [x0, x1] : unansweredStretches(legs[lane].series, legs[lane].failures, *from))
                spec.gaps.push_back({x0, x1, legs[lane].color, lane});
    }
    if (!router.empty())
        spec.points.push_back({QPointF(router.back().timestamp, router.back().value), PV::color::culprit::router, 80,
                               QStringLiteral("router")});
    if (!provider.empty())
        spec.points.push_back({QPointF(provider.back().timestamp, provider.back().value),
                               PV::color::culprit::provider, 80, QStringLiteral("szolgáltató")});
    return spec;
}

std::vector<PVSeriesSummary> latencySummarySeries(const std::vector<LatencyPoint>& router,
                                                  const std::vector<LatencyPoint>& provider)
{
    auto values = [](const std::vector<LatencyPoint>& series) {
        std::vector<double> v;
        v.reserve(series.size());
        for (const LatencyPoint& p : series)
            v.push_back(p.value);
        return v;
    };
    return {{L("A te routered"), values(router), QStringLiteral("ezredmásodperc")},
            {L("A szolgáltatód"), values(provider), QStringLiteral("ezredmásodperc")}};
}

QString latencySummaryLabel(const std::vector<LatencyPoint>& router, const std::vector<LatencyPoint>& provider)
{
    std::optional<Timestamp> oldest, newest;
    for (const auto* series : {&router, &provider})
        if (!series->empty()) {
            oldest = oldest ? std::min(*oldest, series->front().timestamp) : series->front().timestamp;
            newest = newest ? std::max(*newest, series->back().timestamp) : series->back().timestamp;
        }
    if (!oldest)
        return L("Válaszidő az útvonal mentén");
    return LF("Válaszidő %@", {stretchText(*newest - *oldest)});
}

// ---- Wi-Fi signal -------------------------------------------------------------------------------

std::vector<WifiSnapshot> usedWifiSnapshots(const std::vector<WifiSnapshot>& snapshots)
{
    const std::size_t start = snapshots.size() > kWifiChartSnapshots ? snapshots.size() - kWifiChartSnapshots : 0;
    return {snapshots.begin() + static_cast<std::ptrdiff_t>(start), snapshots.end()};
}

std::vector<LatencyPoint> signalStrengthSeries(const std::vector<WifiSnapshot>& used)
{
    std::vector<LatencyPoint> points;
    for (const WifiSnapshot& w : used)
        if (w.rssi && *w.rssi != 0)
            points.push_back({w.timestamp, static_cast<double>(*w.rssi)});
    return points;
}

std::vector<LatencyPoint> signalToNoiseSeries(const std::vector<WifiSnapshot>& used)
{
    std::vector<LatencyPoint> points;
    for (const WifiSnapshot& w : used) {
        if (!w.rssi || !w.noise)
            continue;
        const int d = *w.rssi - *w.noise;
        if (d != 0)
            points.push_back({w.timestamp, static_cast<double>(d)});
    }
    return points;
}

std::optional<std::pair<double, double>> signalScale(const std::vector<LatencyPoint>& series)
{
    if (series.empty())
        return std::nullopt;
    const auto [lo, hi] = std::minmax_element(series.begin(), series.end(), [](const auto& a, const auto& b) {
        return a.value < b.value;
    });
    const double pad = std::max(0.25 * (hi->value - lo->value), 2.0);
    return std::make_pair(lo->value - pad, hi->value + pad);
}

PVChartSpec signalChartSpec(const std::vector<LatencyPoint>& series, const PVColor& color)
{
    PVChartSpec spec;
    const auto scale = signalScale(series);
    if (!scale)
        return spec;
    spec.y.domain = *scale;
    const auto pts = toPoints(series);
    spec.areas.push_back({pts, scale->first, color.opacity(0.3), color.opacity(0.02)});
    spec.lines.push_back({pts, color, 2, Qt::MiterJoin, {}});
    return spec;
}

QStringList nodeRows(const std::vector<NodeFingerprint>& history)
{
    QStringList rows;
    for (std::size_t i = 0; i < history.size() && i < kNodeRows; ++i)
        rows << history[i].summary();
    return rows;
}

// ---- Incidents ----------------------------------------------------------------------------------

PVStatus incidentLevel(IncidentSeverity severity)
{
    switch (severity) {
    case IncidentSeverity::info: return PVStatus::neutral;
    case IncidentSeverity::warning: return PVStatus::watch;
    case IncidentSeverity::critical: return PVStatus::critical;
    }
    return PVStatus::neutral;
}

std::string_view incidentSymbol(IncidentSeverity severity)
{
    switch (severity) {
    case IncidentSeverity::info: return "pause.circle.fill";
    case IncidentSeverity::warning: return "exclamationmark.triangle.fill";
    case IncidentSeverity::critical: return "xmark.octagon.fill";
    }
    return "pause.circle.fill";
}

std::vector<IncidentRow> incidentRowsToShow(const std::vector<Incident>& incidents, Timestamp now)
{
    const std::size_t start = incidents.size() > kIncidentRows ? incidents.size() - kIncidentRows : 0;
    std::vector<IncidentRow> rows;
    if (start >= incidents.size())
        return rows;
    const QUuid lastId = incidents[start].id;
    for (std::size_t i = incidents.size(); i-- > start;) {
        const Incident& x = incidents[i];
        std::optional<QString> duration;
        if (x.endTimestamp)
            duration = presentation::incidentDurationText(x.startTimestamp, *x.endTimestamp);
        rows.push_back({x, x.id != lastId, {x.isOpen(), incidentLevel(x.severity)}, incidentTimeText(x.startTimestamp, now),
                        presentation::incidentSummaryText(x), std::move(duration)});
    }
    return rows;
}

std::optional<QString> incidentSubtitle(const std::vector<Incident>& incidents)
{
    if (incidents.empty())
        return std::nullopt;
    return LF("%lld rögzített esemény", {static_cast<long long>(incidents.size())});
}

QString incidentTimeText(Timestamp start, Timestamp now)
{
    // Some locales' short form carries seconds; the row shows hour and minute only.
    const QDate day = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(std::floor(start * 1000))).date();
    const QDate today = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(std::floor(now * 1000))).date();
    if (day == today)
        return timeOfDayLabel(start, dateLocale());
    // Another day (or year): the locale's month, day and 24-hour time, for example "dec. 8. 20:37".
    return skeletonDateTimeText(start, day.year() == today.year() ? QStringLiteral("MMMdHHmm")
                                                                  : QStringLiteral("yMMMdHHmm"));
}

// ---- Raw measurement data -----------------------------------------------------------------------

QString figuresLine(const QualityMetricSummary& m)
{
    const auto ms = [](const std::optional<double>& v) {
        if (!v)
            return QStringLiteral("—");
        return *v < 1 ? L("kevesebb mint 1 ms") : LF("%.1f ms", {*v});
    };
    const QString ok = m.successRatio ? LF("sikeres %.2f%%", {*m.successRatio * 100.0}) : L("sikeres —");
    QStringList items{LF("átlag %@", {ms(m.averageLatency)}),
                      LF("max. %@", {ms(m.maximumLatency)}),
                      ok,
                      LF("%lld mérés", {static_cast<long long>(m.totalCount)}),
                      LF("%lld sikertelen", {static_cast<long long>(m.failureCount)}),
                      LF("%lld kiugrás", {static_cast<long long>(m.spikeCount)})};
    // A figure never parts from its word when the line wraps: it breaks between the items only.
    for (QString& item : items)
        item.replace(QLatin1Char(' '), QChar(0x00A0));
    return items.join(QStringLiteral(" · "));
}

QString rawDataTitle(const QualityMetricSummary& m)
{
    if (m.id == QLatin1String("gateway"))
        return L("Router");
    if (m.id == QLatin1String("public"))
        return L("Nyilvános IP");
    return m.title; // "DNS", "HTTP", "Wi-Fi" read the same in Hungarian
}

std::vector<QualityMetricSummary> rawDataRows(const QualityAssessment& a)
{
    return {a.gateway, a.publicIP, a.dns, a.http, a.wifi};
}

} // namespace pv
