// Display-free rules of charts: the spoken summaries, the crosshair's snapping and placement, tick
// computation and the layout's scales.

#include "ui/design/Chart.h"
#include "ui/design/ChartAccessibility.h"

#include <QDateTime>

#include <cmath>
#include <ctime>

#include <gtest/gtest.h>

namespace pv {
namespace {

const QString kMs = QStringLiteral("ms");

TEST(ChartSummary, WorkedExampleReadsTypicalRangeAndTrend)
{
    const PVSeriesSummary router{QStringLiteral("Router"), {10, 12, 11, 30, 32, 31}, kMs};
    EXPECT_EQ(pvChartSummaryValue({router}, std::nullopt),
              QStringLiteral("Router: jellemzően 30 ms, a legkisebb 10, a legnagyobb 32. Az időszak vége felé romlott."));
}

TEST(ChartSummary, TypicalIsTheUpperMiddleAndRoundsLikePrintf)
{
    EXPECT_EQ(*pvSeriesSentence({QStringLiteral("A"), {10, 20}, kMs}),
              QStringLiteral("A: jellemzően 20 ms, a legkisebb 10, a legnagyobb 20."));
    EXPECT_EQ(*pvSeriesSentence({QStringLiteral("B"), {7.4}, kMs}),
              QStringLiteral("B: jellemzően 7 ms, a legkisebb 7, a legnagyobb 7."));
    // Ties round to even, as printf does: 22.5 → 22, 23.5 → 24.
    EXPECT_EQ(*pvSeriesSentence({QStringLiteral("C"), {22.5, 23.5, 1.5}, kMs}),
              QStringLiteral("C: jellemzően 22 ms, a legkisebb 2, a legnagyobb 24."));
    EXPECT_FALSE(pvSeriesSentence({QStringLiteral("D"), {}, kMs}).has_value());
}

// Whole figures that would read 0 say "kevesebb mint 1", in the sentence and in the crosshair.
TEST(ChartSummary, SubMillisecondFiguresDoNotReadZero)
{
    const struct {
        std::vector<double> values;
        const char* sentence;
    } cases[] = {
        {{0.3, 0.2, 0.4}, "A: jellemzően kevesebb mint 1 ms, a legkisebb kevesebb mint 1, a legnagyobb kevesebb mint 1."},
        {{0.5, 0.2, 1.6}, "A: jellemzően kevesebb mint 1 ms, a legkisebb kevesebb mint 1, a legnagyobb 2."},
        {{0.51, 0.9}, "A: jellemzően 1 ms, a legkisebb 1, a legnagyobb 1."},
    };
    for (const auto& c : cases)
        EXPECT_EQ(*pvSeriesSentence({QStringLiteral("A"), c.values, kMs}), QString::fromUtf8(c.sentence));
    const struct {
        double value;
        const char* text;
    } readings[] = {{0.3, "<1 ms"}, {0.5, "<1 ms"}, {0.51, "1 ms"}, {12.6, "13 ms"}};
    for (const auto& r : readings)
        EXPECT_EQ(crosshairValueText(r.value, kMs), QString::fromUtf8(r.text)) << r.value;
}

TEST(ChartSummary, TrendNeedsSixValuesAndStrictComparisons)
{
    const QString worse = QStringLiteral(" Az időszak vége felé romlott.");
    const QString better = QStringLiteral(" Az időszak vége felé javult.");
    const QString steady = QStringLiteral(" Az időszak alatt nagyjából egyenletes.");
    auto sentence = [](std::vector<double> v) { return *pvSeriesSentence({QStringLiteral("S"), std::move(v), kMs}); };
    EXPECT_FALSE(sentence({1, 1, 1, 9, 9}).contains(QStringLiteral("időszak")));
    EXPECT_TRUE(sentence({1, 1, 5, 5, 9, 9}).endsWith(worse));
    EXPECT_TRUE(sentence({9, 9, 5, 5, 1, 1}).endsWith(better));
    EXPECT_TRUE(sentence({4, 4, 0, 100, 4, 4}).endsWith(steady));        // k = 2: middle values do not count
    EXPECT_TRUE(sentence({8, 8, 1, 1, 10, 10}).endsWith(steady));        // late exactly 1.25 × early
    EXPECT_TRUE(sentence({10, 10, 1, 1, 8, 8}).endsWith(steady));        // late exactly 0.8 × early
    EXPECT_TRUE(sentence({0, 0, 0, 0, 0, 1}).endsWith(worse));           // early 0, late above 0
    EXPECT_TRUE(sentence({0, 0, 0, 0, 0, 0}).endsWith(steady));
    EXPECT_TRUE(sentence({1, 1, 1, 1, 1, 1, 1, 9, 9}).endsWith(worse));  // 9 values: k = 3, late mean 19/3
}

TEST(ChartSummary, EmptySeriesAreSkippedAndTheNoteFollows)
{
    const PVSeriesSummary empty{QStringLiteral("A te routered"), {}, QStringLiteral("ezredmásodperc")};
    const PVSeriesSummary provider{QStringLiteral("A szolgáltatód"), {12}, QStringLiteral("ezredmásodperc")};
    const QString note = QStringLiteral("Az időszakban nem rögzítettünk eseményt.");
    EXPECT_EQ(pvChartSummaryValue({empty, provider}, note),
              QStringLiteral("A szolgáltatód: jellemzően 12 ezredmásodperc, a legkisebb 12, a legnagyobb 12. ") + note);
    const QString none = QStringLiteral("Ebben az időszakban nincs megjeleníthető mérés.");
    EXPECT_EQ(pvChartSummaryValue({}, note), none);
    EXPECT_EQ(pvChartSummaryValue({empty}, note), none);
}

TEST(Crosshair, NearestDateTiesGoToTheFirstInTheArray)
{
    EXPECT_FALSE(nearestDateIndex({}, 5).has_value());
    EXPECT_EQ(nearestDateIndex({10, 20}, 15), 0u);
    EXPECT_EQ(nearestDateIndex({20, 10}, 15), 0u);
    EXPECT_EQ(nearestDateIndex({10, 20, 30}, 26), 2u);
    EXPECT_EQ(nearestDateIndex({30, 10, 20}, 12), 1u);
    EXPECT_EQ(nearestDateIndex({5, 5}, 5), 0u);
}

TEST(Crosshair, BubblePlacement)
{
    EXPECT_DOUBLE_EQ(crosshairBubbleHeight(2), 64);
    // Centred on the pointer when there is room.
    EXPECT_DOUBLE_EQ(crosshairBubbleTop(120, 64, 0, 240), 88);
    // Kept 4 from the top, then 4 from the bottom.
    EXPECT_DOUBLE_EQ(crosshairBubbleTop(0, 64, 10, 240), 14);
    EXPECT_DOUBLE_EQ(crosshairBubbleTop(240, 64, 0, 240), 172);
    // A plot shorter than h + 8: the bottom limit is applied last.
    EXPECT_DOUBLE_EQ(crosshairBubbleTop(30, 64, 0, 60), 60 - 64 - 4);
    // Flip: stays right of the rule at x + 10 = plotWidth − 178, moves left one further.
    EXPECT_DOUBLE_EQ(crosshairBubbleLeft(312, 500), 322);
    EXPECT_DOUBLE_EQ(crosshairBubbleLeft(313, 500), 313 - 186);
}

TEST(Crosshair, ValueAndTimeTexts)
{
    EXPECT_EQ(crosshairValueText(12.6, kMs), QStringLiteral("13 ms"));
    EXPECT_EQ(crosshairValueText(12.5, kMs), QStringLiteral("12 ms"));
    EXPECT_EQ(crosshairValueText(std::nullopt, kMs), QStringLiteral("—"));
    EXPECT_EQ(crosshairTimeFormat(QLocale(QLocale::Hungarian, QLocale::Hungary)), QStringLiteral("H:mm:ss"));
    const QString us = crosshairTimeFormat(QLocale(QLocale::English, QLocale::UnitedStates));
    EXPECT_TRUE(us.contains(QStringLiteral("mm:ss"))) << us.toStdString();
    EXPECT_TRUE(us.contains(QStringLiteral("AP"), Qt::CaseInsensitive)) << us.toStdString();
    const QDateTime t(QDate(2024, 3, 5), QTime(14, 7, 9));
    EXPECT_EQ(crosshairTimeText(t.toSecsSinceEpoch(), QLocale(QLocale::Hungarian)), QStringLiteral("14:07:09"));
}

TEST(ChartTicks, NiceStepsAndTickValues)
{
    EXPECT_EQ(niceTicks(0, 115, 5).values, (std::vector<double>{0, 20, 40, 60, 80, 100}));
    EXPECT_EQ(niceTicks(0, 20, 5).values, (std::vector<double>{0, 5, 10, 15, 20}));
    EXPECT_EQ(niceTicks(-62, -58, 5).values, (std::vector<double>{-62, -61, -60, -59, -58}));
    const PVTicks small = niceTicks(0, 0.5, 5);
    EXPECT_DOUBLE_EQ(small.step, 0.1);
    EXPECT_EQ(small.values.size(), 6u);
    for (int desired : {2, 4, 5, 6, 10})
        for (double span : {1.0, 7.0, 13.0, 57.5, 115.0, 1234.0}) {
            const PVTicks t = niceTicks(0, span, desired);
            EXPECT_LE(static_cast<int>(t.values.size()), desired + 1) << span << " " << desired;
            EXPECT_GE(t.values.size(), 2u) << span << " " << desired;
        }
    EXPECT_EQ(niceTicks(3, 3, 5).values, std::vector<double>{3});
    EXPECT_TRUE(niceTicks(5, 1, 5).values.empty());
}

TEST(ChartTicks, NiceDomainIncludesZeroAndWholeSteps)
{
    EXPECT_EQ(niceDomain(12, 87, 5, true), (std::pair<double, double>{0, 100}));
    EXPECT_EQ(niceDomain(-3, 7, 5, false), (std::pair<double, double>{-4, 8}));
    const auto flat = niceDomain(0, 0, 5, true);
    EXPECT_LT(flat.first, flat.second);
}

TEST(ChartTicks, TimeTicksLandOnWholeWallClockUnits)
{
    // Ten minutes: ticks every two minutes on whole minutes of the local clock.
    const double t0 = 1'700'000'000 + 17; // not on a whole minute
    const PVTicks t = timeTicks(t0, t0 + 600, 6, 3600);
    EXPECT_DOUBLE_EQ(t.step, 120);
    ASSERT_FALSE(t.values.empty());
    for (double v : t.values) {
        EXPECT_GE(v, t0);
        EXPECT_LE(v, t0 + 600);
        EXPECT_EQ(std::fmod(v + 3600, 120.0), 0.0);
    }
    EXPECT_DOUBLE_EQ(timeTicks(0, 86400 * 7, 6, 0).step, 172800);
    EXPECT_DOUBLE_EQ(timeTicks(0, 86400, 6, 0).step, 21600);
    EXPECT_TRUE(timeTicks(10, 5, 6, 0).values.empty());
}

// The local clock of Europe/Budapest for one test: the October change of 2026 falls on 25 October,
// 03:00 summer time becoming 02:00 standard time (01:00 UTC).
struct BudapestClock {
    const bool had = qEnvironmentVariableIsSet("TZ");
    const QByteArray previous = qgetenv("TZ");
    BudapestClock()
    {
        qputenv("TZ", "Europe/Budapest");
        tzset();
    }
    ~BudapestClock()
    {
        if (had)
            qputenv("TZ", previous);
        else
            qunsetenv("TZ");
        tzset();
    }
};
constexpr double kOctober10 = 1791583200; // 2026-10-10 00:00 local
constexpr double kOctober24 = 1792792800; // 2026-10-24 00:00 local

int localOffset(double t) { return QDateTime::fromSecsSinceEpoch(static_cast<qint64>(t)).offsetFromUtc(); }

TEST(ChartTicks, TicksStayOnTheLocalClockAcrossTheOctoberChange)
{
    BudapestClock zone;
    // Spans over the change as the dossier's timelines draw them: a day, a week and a month. Every
    // tick lies on a whole step of the wall clock under the offset of its own instant.
    const struct {
        double t0, t1, step;
    } cases[] = {{kOctober24 + 12 * 3600, kOctober24 + 36 * 3600, 21600},
                 {kOctober24 - 3 * 86400, kOctober24 + 4 * 86400, 172800},
                 {kOctober10, kOctober10 + 30 * 86400, 604800}};
    for (const auto& c : cases) {
        const PVTicks t = timeTicks(c.t0, c.t1, 6, localOffset);
        EXPECT_DOUBLE_EQ(t.step, c.step);
        ASSERT_GE(t.values.size(), 3u);
        bool crossed = false;
        for (double v : t.values) {
            const QDateTime local = QDateTime::fromSecsSinceEpoch(static_cast<qint64>(v));
            EXPECT_EQ(local.time().minute(), 0) << local.toString(Qt::ISODate).toStdString();
            EXPECT_EQ(local.time().hour() % (c.step >= 86400 ? 24 : 6), 0) << local.toString(Qt::ISODate).toStdString();
            crossed = crossed || local.offsetFromUtc() == 3600;
        }
        EXPECT_TRUE(crossed) << "the span does not reach past the change";
    }
}

TEST(ChartTicks, LabelsInTheRepeatedHourNameTheirOffset)
{
    BudapestClock zone;
    PVChartSpec spec;
    spec.locale = QLocale::c();
    spec.x.format = PVAxisFormat::timeOfDay;
    PVChartLayout layout;
    // From 25 October 00:00 local for six hours of instants: the hour from 02:00 is lived twice.
    const double t0 = kOctober24 + 86400;
    layout.xTicks = timeTicks(t0, t0 + 6 * 3600, 6, localOffset);
    // In Hungarian, whatever the chart's (numbers') locale.
    EXPECT_EQ(xTickLabels(spec, layout),
              (QStringList{"0:00", "1:00", "2:00 UTC+2", "2:00 UTC+1", "3:00", "4:00", "5:00"}));
    // Day labels over six days of instants: each names its own day, the change notwithstanding (the
    // span ends at 27 October 23:00, the day having had 25 hours).
    spec.x.format = PVAxisFormat::date;
    layout.xTicks = timeTicks(kOctober24 - 2 * 86400, kOctober24 + 4 * 86400, 6, localOffset);
    EXPECT_EQ(xTickLabels(spec, layout),
              (QStringList{"okt. 22.", "okt. 23.", "okt. 24.", "okt. 25.", "okt. 26.", "okt. 27."}));
}

TEST(ChartLayout, LonePointsAreTheOnesWithoutANeighbour)
{
    const double gap = std::nan("");
    const struct {
        std::vector<QPointF> points;
        std::vector<QPointF> lone;
    } cases[] = {
        {{{0, 5}}, {{0, 5}}},
        {{{0, gap}, {1, 5}, {2, gap}}, {{1, 5}}},
        {{{0, 1}, {1, 2}, {2, gap}, {3, 7}}, {{3, 7}}},
        {{{0, 1}, {1, 2}, {2, 3}}, {}},
        {{{0, gap}, {1, gap}}, {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(lonePoints(c.points), c.lone);
}

TEST(ChartLayout, EmptyWhenNoMarkHasData)
{
    PVChartSpec spec;
    EXPECT_FALSE(spec.hasData());
    spec.lines.push_back({{{1, std::nan("")}}, PV::color::culprit::router});
    EXPECT_FALSE(spec.hasData());
    spec.bars.push_back({0, 5, PV::color::culprit::provider});
    EXPECT_TRUE(spec.hasData());
}

} // namespace
} // namespace pv
