#include "ui/screens/HistoryLogic.h"

#include "core/app/IncidentTexts.h"
#include "core/records/Localization.h"
#include "core/records/LocaleDates.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace pv::history {

Content contentFor(bool isLoading, bool hasSummary)
{
    if (hasSummary)
        return Content::cards;
    return isLoading ? Content::loading : Content::noData;
}

QString coverageValueText(double ratio) { return coveragePercentFigure(ratio); }

QString coverageCaption(double ratio)
{
    return ratio > 0.95 ? L("Gyakorlatilag hézagmentes rögzítés") : L("A hiányzó rész alvás vagy leállított app");
}

QString coverageCaption(const HistorySummary& summary)
{
    if (summary.coverageRatio > 0.95 || !summary.startsBeforeFirstMeasurement)
        return coverageCaption(summary.coverageRatio);
    const auto& b = summary.buckets;
    const auto first = std::find_if(b.begin(), b.end(), [](const HistoryBucket& x) { return !x.isGap(); });
    if (first == b.end())
        return L("Ebben az időszakban még nem mértünk");
    const auto after = static_cast<double>(b.end() - first);
    const auto gapsAfter = static_cast<double>(std::count_if(first, b.end(), [](const HistoryBucket& x) { return x.isGap(); }));
    return gapsAfter <= 0.05 * after ? L("A hiányzó rész a mérés kezdete előtti idő")
                                     : L("A hiányzó rész a mérés kezdete előtti idő, alvás vagy leállított app");
}

PVStatus coverageStatus(double ratio) { return ratio > 0.9 ? PVStatus::good : PVStatus::watch; }

std::vector<PVStatTileData> coverageTiles(const HistorySummary& summary)
{
    const bool anyIncident = !summary.incidents.empty();
    std::vector<PVStatTileData> tiles;
    tiles.push_back({L("Mért időszak"), coverageValueText(summary.coverageRatio), QStringLiteral("%"),
                     coverageCaption(summary), PV::color::culprit::router,
                     coverageStatus(summary.coverageRatio), {}, false});
    tiles.push_back({L("Rögzített mérés"), QString::number(summary.sampleCount), std::nullopt,
                     L("Egyedi minta ebben az időszakban"), PV::color::culprit::provider, std::nullopt, {}, false});
    tiles.push_back({L("Incidens"), QString::number(summary.incidents.size()), std::nullopt,
                     anyIncident ? L("Ennyi eseményt rögzítettünk") : L("Nem történt semmi — ez a jó eset"),
                     PV::color::culprit::wifi, anyIncident ? PVStatus::watch : PVStatus::good, {}, false});
    return tiles;
}

double yAxisUpperBound(const std::vector<HistoryBucket>& buckets)
{
    std::optional<double> largest;
    for (const HistoryBucket& b : buckets)
        for (const auto& median : {b.medianGatewayMs, b.medianProviderMs})
            if (median)
                largest = std::max(largest.value_or(*median), *median);
    if (!largest)
        return 50 * 1.15;
    return std::max(*largest * 1.15, 20.0);
}

PVStatus level(IncidentSeverity severity)
{
    switch (severity) {
    case IncidentSeverity::info: return PVStatus::neutral;
    case IncidentSeverity::warning: return PVStatus::watch;
    case IncidentSeverity::critical: return PVStatus::critical;
    }
    return PVStatus::neutral;
}

std::string_view symbolName(IncidentSeverity severity)
{
    switch (severity) {
    case IncidentSeverity::info: return "pause.circle.fill";
    case IncidentSeverity::warning: return "exclamationmark.triangle.fill";
    case IncidentSeverity::critical: return "xmark.octagon.fill";
    }
    return "pause.circle.fill";
}

std::vector<IncidentBand> incidentBands(const std::vector<HistoryBucket>& buckets, const std::vector<Incident>& incidents,
                                        Timestamp now)
{
    std::vector<IncidentBand> bands;
    if (buckets.empty())
        return bands;
    const Timestamp first = buckets.front().start;
    for (const Incident& incident : incidents) {
        const Timestamp from = std::max(first, incident.startTimestamp);
        const Timestamp to = std::min(now, incident.endTimestamp.value_or(now));
        if (to > from)
            bands.push_back({incident.id, from, to, level(incident.severity)});
    }
    return bands;
}

bool hasMeasuredSlice(const HistorySummary& summary)
{
    return std::any_of(summary.buckets.begin(), summary.buckets.end(), [](const HistoryBucket& b) { return !b.isGap(); });
}

PVChartSpec chartSpec(const HistorySummary& summary, Timestamp now)
{
    PVChartSpec spec;
    constexpr double gap = std::numeric_limits<double>::quiet_NaN();
    std::vector<QPointF> router, provider;
    router.reserve(summary.buckets.size());
    provider.reserve(summary.buckets.size());
    for (const HistoryBucket& b : summary.buckets) {
        // A slice without a value for a leg breaks that leg's line there.
        router.emplace_back(b.start, b.medianGatewayMs.value_or(gap));
        provider.emplace_back(b.start, b.medianProviderMs.value_or(gap));
    }
    for (const IncidentBand& band : incidentBands(summary.buckets, summary.incidents, now))
        spec.rects.push_back({band.start, band.end, PVColor(statusMark(band.level)).opacity(0.14)});
    spec.lines.push_back({std::move(router), PV::color::culprit::router, 2, Qt::RoundJoin, {}});
    spec.lines.push_back({std::move(provider), PV::color::culprit::provider, 2, Qt::RoundJoin, {}});
    spec.y.domain = std::make_pair(0.0, yAxisUpperBound(summary.buckets));
    spec.y.title = QStringLiteral("ms");
    spec.valueAxisTrailing = false;
    if (!summary.buckets.empty()) {
        const Timestamp end = summary.buckets.front().start + duration(summary.range);
        spec.x.domain = std::make_pair(summary.buckets.front().start, end);
    }
    spec.x.format = summary.range == HistoryRange::day ? PVAxisFormat::timeOfDay : PVAxisFormat::date;
    return spec;
}

QString chartLabel(HistoryRange currentRange) { return LF("Válaszidő %@ alatt", {title(currentRange)}); }

std::vector<PVSeriesSummary> chartSeries(const HistorySummary& summary)
{
    std::vector<double> router, provider;
    for (const HistoryBucket& b : summary.buckets) {
        if (b.medianGatewayMs)
            router.push_back(*b.medianGatewayMs);
        if (b.medianProviderMs)
            provider.push_back(*b.medianProviderMs);
    }
    return {{L("A te routered"), std::move(router), QStringLiteral("ezredmásodperc")},
            {L("A szolgáltatód"), std::move(provider), QStringLiteral("ezredmásodperc")}};
}

QString chartNote(const HistorySummary& summary)
{
    if (summary.incidents.empty())
        return L("Az időszakban nem rögzítettünk eseményt.");
    return LF("Az időszakban %lld eseményt rögzítettünk.", {static_cast<long long>(summary.incidents.size())});
}

QString aggregatedNote(const HistorySummary& summary)
{
    if (!summary.rawRetentionSeconds)
        return L("A régebbi szakaszokat összesítésből rajzoljuk: a nyers mérések addigra kikerülnek, de az "
                 "időszeletek jellemző értéke és a kiesések megmaradnak.");
    return LF("Ami régebbi, mint az utolsó %@, azt összesítésből rajzoljuk: a nyers mérések addigra kikerülnek, de "
              "az időszeletek jellemző értéke és a kiesések megmaradnak.",
              {keptStretchText(*summary.rawRetentionSeconds)});
}

std::vector<Incident> newestIncidents(const std::vector<Incident>& incidents)
{
    std::vector<Incident> sorted = incidents;
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const Incident& a, const Incident& b) { return a.startTimestamp > b.startTimestamp; });
    if (sorted.size() > kShownIncidents)
        sorted.resize(kShownIncidents);
    return sorted;
}

QString durationText(const Incident& incident)
{
    if (!incident.endTimestamp)
        return L("még tart");
    return presentation::incidentDurationText(incident.startTimestamp, *incident.endTimestamp);
}

QString startText(Timestamp start) { return skeletonDateTimeText(start, QStringLiteral("MMMdjmm")); }

} // namespace pv::history
