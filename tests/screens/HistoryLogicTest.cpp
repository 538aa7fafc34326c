// What the history screen derives from a summary: content state, coverage tiles, the y bound, the
// incident bands, the broken chart lines, the incident list and the duration texts.

#include "ui/screens/HistoryLogic.h"

#include "core/records/Localization.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace pv;
using namespace pv::history;

namespace {

HistoryBucket bucket(Timestamp start, std::optional<double> router, std::optional<double> provider)
{
    HistoryBucket b;
    b.start = start;
    b.medianGatewayMs = router;
    b.medianProviderMs = provider;
    return b;
}

Incident incident(Timestamp start, std::optional<Timestamp> end, IncidentSeverity severity = IncidentSeverity::warning)
{
    Incident i;
    i.id = QUuid::createUuid();
    i.startTimestamp = start;
    i.endTimestamp = end;
    i.severity = severity;
    return i;
}

TEST(HistoryLogic, ContentFollowsLoadingAndSummary)
{
    EXPECT_EQ(contentFor(true, false), Content::loading);
    EXPECT_EQ(contentFor(false, false), Content::noData);
    EXPECT_EQ(contentFor(true, true), Content::cards);
    EXPECT_EQ(contentFor(false, true), Content::cards);
}

TEST(HistoryLogic, CoverageCaptionAndStatusUseTheirOwnThresholds)
{
    const QString seamless = L("Gyakorlatilag hézagmentes rögzítés");
    const QString missing = L("A hiányzó rész alvás vagy leállított app");
    struct Row {
        int covered;
        QString caption;
        PVStatus status;
        const char* value;
    };
    for (const Row& r : {Row{96, seamless, PVStatus::good, "100"}, Row{95, seamless, PVStatus::good, "99"},
                         Row{92, seamless, PVStatus::good, "96"}, Row{91, missing, PVStatus::good, "95"},
                         Row{87, missing, PVStatus::good, "91"}, Row{86, missing, PVStatus::watch, "90"},
                         Row{0, missing, PVStatus::watch, "0"}}) {
        SCOPED_TRACE(r.covered);
        HistorySummary s;
        s.coverageRatio = r.covered / 96.0;
        const auto tiles = coverageTiles(s);
        ASSERT_EQ(tiles.size(), 3u);
        EXPECT_EQ(tiles[0].caption, r.caption);
        EXPECT_EQ(tiles[0].status, r.status);
        EXPECT_EQ(tiles[0].value, QString::fromLatin1(r.value));
    }
}

TEST(HistoryLogic, IncidentTileFollowsTheCount)
{
    HistorySummary s;
    s.sampleCount = 12345;
    EXPECT_EQ(coverageTiles(s)[1].value, QStringLiteral("12345"));
    EXPECT_EQ(coverageTiles(s)[2].status, PVStatus::good);
    for (int i = 0; i < 31; ++i)
        s.incidents.push_back(incident(1000 + i, 1010 + i));
    EXPECT_EQ(coverageTiles(s)[2].value, QStringLiteral("31"));
    EXPECT_EQ(coverageTiles(s)[2].status, PVStatus::watch);
}

TEST(HistoryLogic, YBoundIsFifteenPercentAboveTheLargestMedianAndAtLeastTwenty)
{
    EXPECT_DOUBLE_EQ(yAxisUpperBound({bucket(0, 10, 4)}), 20);
    EXPECT_DOUBLE_EQ(yAxisUpperBound({bucket(0, 3, std::nullopt), bucket(1, std::nullopt, 100)}), 115);
    EXPECT_DOUBLE_EQ(yAxisUpperBound({bucket(0, std::nullopt, std::nullopt)}), 57.5);
    EXPECT_DOUBLE_EQ(yAxisUpperBound({}), 57.5);
}

TEST(HistoryLogic, BandsAreClampedToThePeriodAndOpenOnesRunToNow)
{
    const std::vector<HistoryBucket> buckets{bucket(1000, 1, 1), bucket(1100, 1, 1)};
    const Timestamp now = 2000;
    const std::vector<Incident> incidents{
        incident(900, 1050, IncidentSeverity::critical), // began before the period
        incident(1500, std::nullopt, IncidentSeverity::info), // still open
        incident(1200, 1300),                            // inside
        incident(1400, 1350),                            // ends before it starts: no band
        incident(800, 900),                              // over before the first slice: no band
        incident(1900, 2500)};                           // reaches past now
    const auto bands = incidentBands(buckets, incidents, now);
    ASSERT_EQ(bands.size(), 4u);
    EXPECT_EQ(bands[0], (IncidentBand{incidents[0].id, 1000, 1050, PVStatus::critical}));
    EXPECT_EQ(bands[1], (IncidentBand{incidents[1].id, 1500, 2000, PVStatus::neutral}));
    EXPECT_EQ(bands[2], (IncidentBand{incidents[2].id, 1200, 1300, PVStatus::watch}));
    EXPECT_EQ(bands[3], (IncidentBand{incidents[5].id, 1900, 2000, PVStatus::watch}));
    EXPECT_TRUE(incidentBands({}, incidents, now).empty());
}

TEST(HistoryLogic, ChartLinesBreakWhereASliceHasNoValueForTheirLeg)
{
    HistorySummary s;
    s.range = HistoryRange::day;
    s.buckets = {bucket(0, 5, 20), bucket(900, std::nullopt, std::nullopt), bucket(1800, 6, std::nullopt),
                 bucket(2700, 7, 22)};
    s.incidents = {incident(100, 1000)};
    const PVChartSpec spec = chartSpec(s, 5000);
    ASSERT_EQ(spec.lines.size(), 2u);
    auto ys = [](const PVLineMark& line) {
        std::vector<bool> present;
        for (const QPointF& p : line.points)
            present.push_back(!std::isnan(p.y()));
        return present;
    };
    EXPECT_EQ(ys(spec.lines[0]), (std::vector<bool>{true, false, true, true}));  // router
    EXPECT_EQ(ys(spec.lines[1]), (std::vector<bool>{true, false, false, true})); // provider
    ASSERT_EQ(spec.rects.size(), 1u);
    EXPECT_DOUBLE_EQ(spec.rects[0].x0, 100);
    ASSERT_TRUE(spec.y.domain);
    EXPECT_DOUBLE_EQ(spec.y.domain->second, yAxisUpperBound(s.buckets));
}

TEST(HistoryLogic, ListShowsTheThirtyNewestWithTiesInStoreOrder)
{
    std::vector<Incident> stored;
    for (int i = 0; i < 31; ++i)
        stored.push_back(incident(1000 + 10 * i, std::nullopt));
    stored.push_back(incident(1300, 5)); // the same start as stored[30]
    const auto shown = newestIncidents(stored);
    ASSERT_EQ(shown.size(), 30u);
    EXPECT_EQ(shown[0].id, stored[30].id);
    EXPECT_EQ(shown[1].id, stored[31].id);
    EXPECT_EQ(shown[2].id, stored[29].id);
    EXPECT_EQ(shown[29].id, stored[2].id);
}

// Rounded to the nearest unit; minutes and seconds under ten minutes (the overview's list says it
// the same way).
TEST(HistoryLogic, DurationTextsRoundToTheNearestUnit)
{
    const std::pair<double, const char*> cases[] = {
        {59.4, "59 mp"},          {59.6, "1 perc"},          {117, "1 perc 57 mp"},   {120, "2 perc"},
        {599.4, "9 perc 59 mp"},  {599.6, "10 perc"},        {629, "10 perc"},        {631, "11 perc"},
        {3569, "59 perc"},        {3571, "1.0 óra"},         {5400, "1.5 óra"},       {-42, "0 mp"}, // a clock stepped back
    };
    for (const auto& [seconds, text] : cases)
        EXPECT_EQ(durationText(incident(1000, 1000 + seconds)), QString::fromUtf8(text)) << seconds;
    EXPECT_EQ(durationText(incident(1000, std::nullopt)), L("még tart"));
}

TEST(HistoryLogic, SpokenSummaryNamesTheCurrentRangeAndCountsIncidents)
{
    HistorySummary s;
    s.buckets = {bucket(0, 5, std::nullopt), bucket(1, std::nullopt, 9)};
    EXPECT_EQ(chartLabel(HistoryRange::week), QStringLiteral("Válaszidő 7 nap alatt"));
    const auto series = chartSeries(s);
    EXPECT_EQ(series[0].values, std::vector<double>{5});
    EXPECT_EQ(series[1].values, std::vector<double>{9});
    EXPECT_EQ(chartNote(s), QStringLiteral("Az időszakban nem rögzítettünk eseményt."));
    s.incidents = {incident(0, 1), incident(2, 3)};
    EXPECT_EQ(chartNote(s), QStringLiteral("Az időszakban 2 eseményt rögzítettünk."));
    // The note on rolled-up slices names the raw retention in force.
    for (const auto& [seconds, stretch] : {std::pair{172800.0, "utolsó 2 nap,"}, std::pair{2592000.0, "utolsó 30 nap,"}}) {
        s.rawRetentionSeconds = seconds;
        EXPECT_TRUE(aggregatedNote(s).startsWith(QStringLiteral("Ami régebbi, mint az ") + stretch)) << stretch;
    }
}

} // namespace
