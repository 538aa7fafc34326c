// The dossier's page list, its record arithmetic, its wording and its value texts.
#include "app/PlatformTexts.h"
#include "core/records/Localization.h"
#include "reports/DossierFormat.h"
#include "reports/DossierModel.h"
#include "reports/ReportWording.h"

#include <QDateTime>
#include <QTimeZone>

#include <QRegularExpression>

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

using namespace pv;

namespace {

constexpr double kHour = 3600;
constexpr double kDay = 86400;

DossierDocument document(long long sampleCount, double duration, bool withProfile, int accessPoints)
{
    DossierDocument doc;
    doc.request = {1767225600, 1767225600 + duration, false, std::nullopt};
    doc.sampleCount = sampleCount;
    if (withProfile)
        doc.hourlyProfile.push_back({7, 20.0, 0.0, 5});
    for (int i = 0; i < accessPoints; ++i)
        doc.accessPoints.push_back({QString::number(i), std::nullopt, 1, std::nullopt, 0});
    return doc;
}

TEST(DossierPaginatorTest, PagesFollowTheDocumentAtTheirLimits)
{
    using P = DossierPage;
    const std::vector<P> fixedHead{P::cover, P::summary, P::scopeAndLimits, P::coverage, P::outages};
    const std::vector<P> fixedTail{P::wiredComparison, P::gapLedger, P::methodology, P::nextSteps, P::rawData};
    struct Case {
        long long samples;
        double duration;
        bool profile;
        int accessPoints;
        std::vector<P> optional;
    } cases[] = {
        {29, 23 * kHour, true, 0, {}},
        {30, 23 * kHour, true, 0, {P::timeline}},
        {29, kDay, true, 0, {P::hourlyProfile}},
        {29, kDay - 1, true, 0, {}},
        {29, 30 * kDay, false, 0, {}},
        {29, kDay, true, 2, {P::hourlyProfile, P::accessPoints}},
        {30, 30 * kDay, true, 1, {P::timeline, P::hourlyProfile, P::accessPoints}},
    };
    for (const Case& c : cases) {
        std::vector<P> expected = fixedHead;
        expected.insert(expected.end(), c.optional.begin(), c.optional.end());
        expected.insert(expected.end(), fixedTail.begin(), fixedTail.end());
        const auto pages = DossierPaginator::pages(document(c.samples, c.duration, c.profile, c.accessPoints));
        EXPECT_EQ(pages, expected) << c.samples << " samples, " << c.duration << " s";
        EXPECT_EQ(pages.at(2), P::scopeAndLimits) << "the cover note points at page 3";
    }
}

TEST(DossierModelTest, WiredComparisonNeedsThirtyOnEachSide)
{
    struct Case {
        int wifi, wired;
        std::optional<double> wifiMedian, wiredMedian;
        bool conclusive;
        std::optional<double> contribution;
    } cases[] = {
        {30, 30, 20.0, 12.0, true, 8.0},
        {30, 29, 20.0, 12.0, false, std::nullopt},
        {29, 30, 20.0, 12.0, false, std::nullopt},
        {30, 30, 10.0, 15.0, true, -5.0},
        {40, 40, std::nullopt, 15.0, true, std::nullopt},
    };
    for (const Case& c : cases) {
        WiredWiFiComparison w{c.wifi, c.wifiMedian, 0.0, c.wired, c.wiredMedian, 0.0};
        EXPECT_EQ(w.isConclusive(), c.conclusive) << c.wifi << "/" << c.wired;
        EXPECT_EQ(w.wifiContributionMs(), c.contribution) << c.wifi << "/" << c.wired;
    }
}

TEST(DossierModelTest, OutageShareCountsClosedOutagesOverMeasuredTime)
{
    DossierDocument doc = document(100, 1000, false, 0);
    doc.outages = {{QUuid::createUuid(), 100, 400.0, FaultLocation::offline, {}},
                   {QUuid::createUuid(), 500, std::nullopt, FaultLocation::offline, {}}};
    EXPECT_TRUE(doc.outages[1].isOpen());
    EXPECT_EQ(doc.outages[1].duration(), 0);
    doc.coverageRatio = 0.5;
    EXPECT_DOUBLE_EQ(*doc.outageShareOfMeasuredTime(), 300.0 / 500.0);
    doc.coverageRatio = 0.2; // outages reaching outside the measured time are not clipped
    EXPECT_DOUBLE_EQ(*doc.outageShareOfMeasuredTime(), 1.5);
    doc.coverageRatio = 0;
    EXPECT_EQ(doc.outageShareOfMeasuredTime(), std::nullopt);
    // The summary opens true of the whole period: fine only while working, unless a fault is named.
    doc.attribution.location = FaultLocation::none;
    doc.attribution.headline = QStringLiteral("A kapcsolat rendben van.");
    EXPECT_EQ(doc.headline(), QStringLiteral("A kapcsolat a működő időben rendben volt, de kimaradások is voltak."));
    doc.attribution.location = FaultLocation::provider;
    EXPECT_EQ(doc.headline(), doc.attribution.headline);
}

TEST(DossierModelTest, ErrorsDescribeThemselves)
{
    const auto notWritable = DossierError::destinationNotWritable(QUrl::fromLocalFile(QStringLiteral("/tmp/a b/x.pdf")));
    EXPECT_EQ(notWritable.errorDescription(), QStringLiteral("A dokumentum nem írható ide: /tmp/a b/x.pdf"));
    EXPECT_STREQ(notWritable.what(), "A dokumentum nem írható ide: /tmp/a b/x.pdf");
    EXPECT_EQ(DossierError::nothingToReport().errorDescription(),
              QStringLiteral("Ebben az időszakban nincs mérés, amiből dokumentum készülhetne."));
}

// ---------------------------------------------------------------------------------------------

TEST(ReportWordingTest, NextStepsFollowTheExactRegionCode)
{
    const NextStepsText fallback = ReportWording::nextSteps(std::nullopt);
    const NextStepsText hungarian = ReportWording::nextSteps(QStringLiteral("HU"));
    const NextStepsText european = ReportWording::nextSteps(QStringLiteral("DE"));
    ASSERT_EQ(fallback.paragraphs.size(), 2);
    ASSERT_EQ(european.paragraphs.size(), 2);
    ASSERT_EQ(hungarian.paragraphs.size(), 3);
    EXPECT_NE(fallback, european);
    EXPECT_TRUE(european.paragraphs[1].contains(QStringLiteral("2015/2120")));
    EXPECT_EQ(hungarian.paragraphs[1],
              QStringLiteral("Ha a szolgáltató nem orvosolja: az NMHH a szelessav.net oldalon online mérést kínál, és "
                             "ingyenesen igényelhető mérődobozt is biztosít. A mérődoboz a szolgáltatás végpontján, "
                             "hetekig, automatikusan mér — pontosan az a fajta adat, amit ez az alkalmazás nem tud "
                             "előállítani."));
    // Every set opens with the same first step.
    EXPECT_EQ(fallback.paragraphs[0], european.paragraphs[0]);
    EXPECT_TRUE(hungarian.paragraphs[0].startsWith(fallback.paragraphs[0] + QLatin1Char(' ')));

    const struct {
        std::optional<QString> code;
        const NextStepsText& expected;
    } cases[] = {
        {QStringLiteral("US"), fallback}, {QStringLiteral("GR"), european}, {QStringLiteral("EL"), fallback},
        {QStringLiteral("hu"), fallback}, {QStringLiteral("HUN"), fallback}, {QStringLiteral("hu_HU"), fallback},
        {QStringLiteral("SK"), european}, {QStringLiteral("AT"), european}, {QString(), fallback},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ReportWording::nextSteps(c.code), c.expected) << c.code.value_or(QStringLiteral("nil")).toStdString();
    for (const NextStepsText* text : {&fallback, &hungarian, &european})
        EXPECT_EQ(text->title, title(DossierPage::nextSteps));
}

QStringList everyWordingText()
{
    QStringList texts{ReportWording::title(),         ReportWording::documentKind(),
                      ReportWording::scopeTitle(),    ReportWording::methodologyTitle(),
                      ReportWording::noOutages(),     ReportWording::gapExplanation(),
                      ReportWording::rawDataAvailability(), ReportWording::preparedOnSubscriberMachine()};
    texts << ReportWording::scopeParagraphs() << ReportWording::methodologyParagraphs();
    for (const char* code : {"HU", "DE", "US"})
        texts << ReportWording::nextSteps(QString::fromLatin1(code)).paragraphs;
    for (DossierPage page : allDossierPages())
        texts << title(page);
    return texts;
}

TEST(ReportWordingTest, NoTextOrTitleUsesAForbiddenTermInEitherWording)
{
    ASSERT_FALSE(ReportWording::forbiddenTerms().isEmpty());
    QStringList texts = everyWordingText(); // the keys, as written
    installPlatformTexts();
    const QStringList linux = everyWordingText(); // what a Linux user reads
    for (const QString& text : linux)
        EXPECT_FALSE(text.contains(QStringLiteral("Mac"))) << text.toStdString();
    EXPECT_NE(texts, linux) << "the computer's name goes through the platform table";
    texts << linux;
    for (const QString& text : texts)
        for (const QString& term : ReportWording::forbiddenTerms())
            EXPECT_FALSE(text.contains(term, Qt::CaseInsensitive)) << term.toStdString() << " in " << text.toStdString();
}

// Before a quoted text the article follows its first sound: "az" before a vowel, "a" otherwise.
TEST(ReportWordingTest, QuotedTextsTakeTheArticleOfTheirFirstSound)
{
    const struct {
        const char* quoted;
        bool capital;
        const char* text;
    } cases[] = {{"indítsa újra a routert", true, "Az „indítsa újra a routert”"},
                 {"az előfizető Wi-Fi hálózata a hibás", false, "az „az előfizető Wi-Fi hálózata a hibás”"},
                 {"Újraindítás", false, "az „Újraindítás”"},
                 {"néha akadozik", true, "A „néha akadozik”"},
                 {"", false, "a „”"}};
    for (const auto& c : cases)
        EXPECT_EQ(DossierFormat::quotedWithArticle(QString::fromUtf8(c.quoted), c.capital), QString::fromUtf8(c.text));
    const QRegularExpression wrong(QStringLiteral("\\b([Aa] „[aáeéiíoóöőuúüűAÁEÉIÍOÓÖŐUÚÜŰ]|[Aa]z „[^aáeéiíoóöőuúüűAÁEÉIÍOÓÖŐUÚÜŰ])"));
    for (const QString& text : everyWordingText())
        EXPECT_FALSE(text.contains(wrong)) << text.toStdString();
}

// ---------------------------------------------------------------------------------------------

TEST(DossierFormatTest, DurationsRoundHalfAwayThenPickTheirUnit)
{
    const struct {
        double seconds;
        const char* text;
    } cases[] = {
        {0, "0 mp"},           {42, "42 mp"},          {59.4, "59 mp"},        {59.5, "1 perc"},
        {119.9, "2 perc"},     {177, "2 perc 57 mp"},  {400.4, "6 perc 40 mp"}, {1790, "30 perc"},
        {3569, "59 perc"},     {3599.4, "1.0 óra"},    {3599.5, "1.0 óra"},
        {3600, "1.0 óra"},     {5400, "1.5 óra"},      {86399, "24.0 óra"},    {86400, "1.0 nap"},
        {172800, "2.0 nap"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DossierFormat::durationText(c.seconds), QString::fromUtf8(c.text)) << c.seconds;
}

TEST(DossierFormatTest, LatenciesAndRatios)
{
    EXPECT_EQ(DossierFormat::millisecondsText(std::nullopt), QStringLiteral("—"));
    EXPECT_EQ(DossierFormat::millisecondsText(41.6), QStringLiteral("42 ms"));
    const struct {
        double ms;
        bool brief;
        const char* text;
    } latencies[] = {{0.4, false, "kevesebb mint 1 ms"}, {0.09, true, "<1 ms"}, {0.6, false, "1 ms"},
                     {0, false, "kevesebb mint 1 ms"}, {-0.2, true, "<1 ms"}, {41.6, true, "42 ms"}};
    for (const auto& c : latencies)
        EXPECT_EQ(DossierFormat::millisecondsText(c.ms, c.brief), QString::fromUtf8(c.text)) << c.ms;
    const struct {
        double ratio;
        int digits;
        const char* text;
    } cases[] = {{0.1234, 1, "12.3%"}, {0.1234, 0, "12%"}, {0.25, 0, "25%"}, {1, 1, "100.0%"}, {0, 2, "0.00%"}};
    for (const auto& c : cases)
        EXPECT_EQ(DossierFormat::percentText(c.ratio, c.digits), QString::fromUtf8(c.text)) << c.ratio;
    // A measured share, as the history and the dossier give it: some is never 0, short of all never 100.
    const std::pair<double, const char*> shares[] = {{0, "0"}, {0.003, "1"}, {0.015, "2"}, {0.9996, "99"}, {1, "100"}};
    for (const auto& [ratio, text] : shares)
        EXPECT_EQ(coveragePercentFigure(ratio), QString::fromUtf8(text)) << ratio;
}

TEST(DossierFormatTest, DatesInTheLocalZone)
{
    ASSERT_EQ(qEnvironmentVariable("TZ"), QStringLiteral("Europe/Budapest"));
    const QTimeZone utc = QTimeZone::utc();
    const struct {
        QDateTime at;
        const char* text;
    } cases[] = {
        {QDateTime(QDate(2026, 3, 14), QTime(18, 5, 59), utc), "2026. 03. 14. 19:05"}, // winter, +1
        {QDateTime(QDate(2026, 7, 1), QTime(12, 0), utc), "2026. 07. 01. 14:00"},      // summer, +2
        {QDateTime(QDate(2026, 12, 31), QTime(23, 30), utc), "2027. 01. 01. 00:30"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DossierFormat::dateText(static_cast<double>(c.at.toSecsSinceEpoch())), QString::fromUtf8(c.text));
}

} // namespace
