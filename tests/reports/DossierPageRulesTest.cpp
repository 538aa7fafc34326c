// The dossier pages' decisions that need no painter, at their edges.
#include "reports/DossierFormat.h"
#include "reports/DossierPageRules.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace pv;
using namespace pv::dossier;

namespace {

TEST(DossierPageRulesTest, RouterLineNeedsAQuarterOfTheProviderSlices)
{
    struct Case {
        std::size_t router, provider;
        bool shown;
    } cases[] = {{2, 10, false}, {3, 10, true}, {1, 0, true}, {0, 0, false}, {0, 5, false}};
    for (const Case& c : cases)
        EXPECT_EQ(showsRouter(c.router, c.provider), c.shown) << c.router << " of " << c.provider;
}

TEST(DossierPageRulesTest, LatencyScaleFollowsTheProviderOnly)
{
    struct Case {
        std::vector<std::optional<double>> values;
        double maximum;
    } cases[] = {
        {{10.0}, 20.0},
        {{100.0, std::nullopt, 40.0}, 120.0},
        {{}, 60.0},
        {{std::nullopt}, 60.0},
        {{16.7}, 20.04},
    };
    for (const Case& c : cases)
        EXPECT_NEAR(latencyYMaximum(c.values), c.maximum, 1e-9);
}

TEST(DossierPageRulesTest, TablesStopAtTheirCapsWithAContinuationLine)
{
    EXPECT_EQ(shownRows(24, kOutageRowLimit), 24u);
    EXPECT_EQ(shownRows(25, kOutageRowLimit), 24u);
    EXPECT_EQ(shownRows(15, kAccessPointRowLimit), 14u);
    EXPECT_EQ(outageContinuation(24), std::nullopt);
    EXPECT_EQ(outageContinuation(25), std::optional<QString>("További 1 kimaradás a nyers adatban szerepel."));
    EXPECT_EQ(gapContinuation(20), std::nullopt);
    EXPECT_EQ(gapContinuation(21), std::optional<QString>("További 1 hézag."));
    EXPECT_EQ(gapContinuation(135), std::optional<QString>("További 115 hézag."));
}

TEST(DossierPageRulesTest, ShortageNamesTheWiredSideWheneverItIsShort)
{
    const QString wired10 = "Az időszakban nem volt elegendő vezetékes mérés (10 minta). Az összehasonlításhoz "
                            "mindkét módból legalább 30 mérés kell.";
    EXPECT_EQ(comparisonShortage(29, 500), std::optional<QString>("Az időszakban nem volt elegendő Wi-Fi mérés (29 minta)."));
    EXPECT_EQ(comparisonShortage(10, 10), std::optional<QString>(wired10));
    EXPECT_EQ(comparisonShortage(500, 10), std::optional<QString>(wired10));
    EXPECT_EQ(comparisonShortage(30, 30), std::nullopt);
}

TEST(DossierPageRulesTest, WiFiContributionIsJudgedOnTheUnroundedDifference)
{
    struct Case {
        double wifi, wired;
        QString first;
        bool negligible;
    } cases[] = {
        {35, 26, "A rádiókapcsolat 9 ms különbséget okoz a vezetékes méréshez képest.", true},
        {36, 26, "A rádiókapcsolat 10 ms különbséget okoz a vezetékes méréshez képest.", false},
        {35.6, 26, "A rádiókapcsolat 10 ms különbséget okoz a vezetékes méréshez képest.", true},
        {20, 26, "A rádiókapcsolat nem okoz többletkésést: Wi-Fin a jellemző válaszidő 20 ms, vezetéken 26 ms.", true},
        {25.7, 26, "A rádiókapcsolat kevesebb mint 1 ms különbséget okoz a vezetékes méréshez képest.", true},
        {26.4, 26, "A rádiókapcsolat kevesebb mint 1 ms különbséget okoz a vezetékes méréshez képest.", true},
        {0.3, 0.2, "A rádiókapcsolat kevesebb mint 1 ms különbséget okoz a vezetékes méréshez képest.", true},
    };
    for (const Case& c : cases) {
        const auto paragraphs = contributionParagraphs(c.wifi, c.wired);
        ASSERT_TRUE(paragraphs);
        ASSERT_EQ(paragraphs->size(), 2);
        EXPECT_EQ((*paragraphs)[0], c.first);
        EXPECT_EQ((*paragraphs)[1].startsWith("Ez elhanyagolható."), c.negligible) << c.wifi;
        EXPECT_EQ((*paragraphs)[1].startsWith("Ez érdemi hozzájárulás"), !c.negligible) << c.wifi;
    }
    EXPECT_EQ(contributionParagraphs(30, std::nullopt), std::nullopt);
}

TEST(DossierPageRulesTest, WiredLossSentenceOnlyAboveATenthOfAPercent)
{
    EXPECT_EQ(wiredLossSentence(0.02, 0.001), std::nullopt);
    EXPECT_EQ(wiredLossSentence(std::nullopt, 0.05), std::nullopt);
    EXPECT_EQ(wiredLossSentence(0.02, 0.0011),
              std::optional<QString>("Csomagvesztés vezetéken is mérhető (0.1%), nem csak Wi-Fin (2.0%). "
                                     "Vezetékes kapcsolaton a rádiós zavarás kizárható."));
}

TEST(DossierPageRulesTest, SeriesBreakAtMissingValuesAndMissingSlices)
{
    const double slice = 60;
    // Slices 0, 1 and 2 measured, 3 to 5 absent from the timeline, 6 measured, 7 without a value, 8.
    const std::vector<SeriesPoint> points{{0, 10.0}, {60, 11.0}, {120, 12.0}, {360, 13.0}, {420, std::nullopt}, {480, 14.0}};
    const auto series = brokenSeries(points, slice);
    std::vector<bool> finite;
    for (const auto& [x, y] : series)
        finite.push_back(std::isfinite(y));
    EXPECT_EQ(finite, (std::vector<bool>{true, true, true, false, true, false, true}));
}

TEST(DossierPageRulesTest, SmallTexts)
{
    EXPECT_EQ(pageNumberText(10, 12), "10 / 12");
    EXPECT_EQ(pageNumberText(1000, 1000), "1000 / 1000");
    EXPECT_EQ(hourText(7), "07:00");
    EXPECT_EQ(rssiText(-61), "-61 dBm");
    EXPECT_EQ(rssiText(std::nullopt), "—");
    EXPECT_EQ(capitalisedFirst("független mérési feljegyzés"), "Független mérési feljegyzés");
    EXPECT_EQ(capitalisedFirst("őszi"), "Őszi");
}

TEST(DossierPageRulesTest, HourlyTableTakesASecondColumnPastTwelveHours)
{
    struct Case {
        std::size_t hours, columns, rows;
    } cases[] = {{1, 1, 1}, {12, 1, 12}, {13, 2, 7}, {19, 2, 10}, {24, 2, 12}};
    for (const Case& c : cases) {
        EXPECT_EQ(hourlyColumnCount(c.hours), c.columns) << c.hours;
        EXPECT_EQ(hourlyRowsPerColumn(c.hours), c.rows) << c.hours;
        EXPECT_GE(c.columns * c.rows, c.hours) << "an hour would be left out";
    }
}

TEST(DossierPageRulesTest, TimesInTheRepeatedHourCarryTheirOffset)
{
    // TZ=Europe/Budapest: on 25 October 2026 the clock goes from 03:00 back to 02:00 at 01:00 UTC.
    struct Case {
        double instant;
        QString text;
    } cases[] = {
        {1792888800, "2026. 10. 25. 02:40 (UTC+2)"}, // 00:40 UTC, the first 02:40
        {1792891200, "2026. 10. 25. 02:20 (UTC+1)"}, // 01:20 UTC, the second 02:20
        {1792894200, "2026. 10. 25. 03:10"},         // after the repeated hour
        {1792881600, "2026. 10. 25. 00:40"},         // before it
        {1774747800, "2026. 03. 29. 03:30"},         // the spring change repeats nothing
    };
    for (const Case& c : cases)
        EXPECT_EQ(DossierFormat::dateText(c.instant), c.text);
}

TEST(DossierPageRulesTest, DirectionalControlsLeaveNamesFromTheAir)
{
    struct Case {
        QString name, shown;
    } cases[] = {
        {QString::fromUtf8("Otthon\u202Egnp"), "Otthongnp"},
        {QString::fromUtf8("\u2067Kávézó\u2069 \u200E5G"), "Kávézó 5G"},
        {QString::fromUtf8("\u061Caa:bb\u202A\u202B\u202C\u202D\u2066\u2068\u200F"), "aa:bb"},
        {QString::fromUtf8("Árvíztűrő \u05E9\u05DC\u05D5\u05DD"), QString::fromUtf8("Árvíztűrő \u05E9\u05DC\u05D5\u05DD")},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DossierFormat::withoutDirectionalControls(c.name), c.shown);
}

TEST(DossierPageRulesTest, FileNameUsesTheLocalDays)
{
    // TZ=Europe/Budapest: 2026-03-01 00:30 local is 2026-02-28 23:30 UTC.
    const double march1Local0030 = 1772321400;
    struct Case {
        double start, end;
        QString name;
    } cases[] = {
        {march1Local0030, march1Local0030 + 3600, "Polvarine-meresi-dosszie-20260301-20260301.pdf"},
        {march1Local0030, march1Local0030 + 6 * 86400, "Polvarine-meresi-dosszie-20260301-20260307.pdf"},
        {march1Local0030 - 3600, march1Local0030, "Polvarine-meresi-dosszie-20260228-20260301.pdf"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(dossierFileName(c.start, c.end), c.name);
        EXPECT_EQ(dossierFileName(c.start, c.end, true), QString(c.name).replace(".pdf", "-anonim.pdf"));
    }
}

} // namespace
