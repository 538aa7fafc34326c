// The dossier of a month after the store's own standard retention pass (raw rows for the newest week,
// hour roll-ups before it): its figures against a reference computed from the same stored rows, its
// headline, and its gaps.
#include "core/store/SQLiteStore.h"
#include "core/store/StoreDatabase.h"
#include "reports/DossierBuilder.h"
#include "reports/DossierFormat.h"
#include "tests/reports/DossierMonth.h"
#include "tests/store/StoreTestSupport.h"

#include <QDateTime>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <string_view>

using namespace pv;
using namespace pv::test;

namespace {

class DossierMonthTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { month = new DossierMonth(writeDossierMonth()); }
    static void TearDownTestSuite()
    {
        delete month;
        month = nullptr;
    }
    // Each test works on a copy, so that what one changes stays its own.
    void SetUp() override
    {
        path = freshDatabasePath(QStringLiteral("copy"));
        RawDb(month->path).exec(QStringLiteral("VACUUM INTO '%1';").arg(path));
    }
    DossierDocument build(const DossierRequest& request)
    {
        SQLiteStore store(SQLiteStore::Location::file(path));
        return await(DossierBuilder::makeDocument(request, request.end, store, QStringLiteral("1.0")));
    }
    // Rows of a query, each column as a double (NULL as NaN).
    std::vector<std::vector<double>> rows(const QString& sql)
    {
        RawDb db(path);
        sqlite3_stmt* statement = nullptr;
        EXPECT_EQ(sqlite3_prepare_v2(db.handle(), sql.toUtf8().constData(), -1, &statement, nullptr), SQLITE_OK);
        std::vector<std::vector<double>> out;
        while (sqlite3_step(statement) == SQLITE_ROW) {
            std::vector<double> row;
            for (int i = 0; i < sqlite3_column_count(statement); ++i)
                row.push_back(sqlite3_column_type(statement, i) == SQLITE_NULL ? std::nan("")
                                                                                 : sqlite3_column_double(statement, i));
            out.push_back(row);
        }
        sqlite3_finalize(statement);
        return out;
    }

    static DossierMonth* month;
    QString path;
};

DossierMonth* DossierMonthTest::month = nullptr;

int localHour(Timestamp t)
{
    return QDateTime::fromSecsSinceEpoch(static_cast<qint64>(t), QTimeZone("Europe/Budapest")).time().hour();
}

} // namespace

// Loss, sample count and the hourly profile against the stored rows; the note on the detailed figures.
TEST_F(DossierMonthTest, MonthFiguresCountTheRollUpsAndWeighEveryDayAlike)
{
    const DossierRequest& request = month->request;
    const DossierDocument doc = build(request);
    const QString range = QStringLiteral("BETWEEN %1 AND %2").arg(request.start, 0, 'f', 3).arg(request.end, 0, 'f', 3);
    const auto raw = rows(QStringLiteral("SELECT timestamp, latency_ms, success FROM network_samples "
                                         "WHERE target_kind = 'publicIP' AND timestamp %1 ORDER BY timestamp;").arg(range));
    const auto rolled = rows(QStringLiteral("SELECT bucket_start, sample_count, success_count, p50_ms FROM sample_rollups "
                                            "WHERE bucket_seconds = 3600 AND target_kind = 'publicIP' AND bucket_start %1;")
                                 .arg(range));
    ASSERT_GT(raw.size(), 1000u);
    ASSERT_GT(rolled.size(), 300u) << "the older weeks are known from hour roll-ups only";

    // The reference: hour buckets of the raw rows by the roll-ups' p50 rule, beside the stored ones.
    struct Hour {
        double count = 0, failed = 0;
        std::vector<double> latencies;
    };
    std::map<double, Hour> rawHours;
    for (const auto& r : raw) {
        Hour& h = rawHours[std::floor(r[0] / 3600) * 3600];
        ++h.count;
        if (r[2] == 1 && !std::isnan(r[1]))
            h.latencies.push_back(r[1]);
        else
            ++h.failed;
    }
    std::map<int, std::vector<double>> byClockHour;
    double count = 0, failed = 0;
    for (auto& [start, h] : rawHours) {
        std::sort(h.latencies.begin(), h.latencies.end());
        byClockHour[localHour(start)].push_back(h.latencies[(h.latencies.size() - 1) / 2]);
        count += h.count;
        failed += h.failed;
    }
    for (const auto& r : rolled) {
        byClockHour[localHour(r[0])].push_back(r[3]);
        count += r[1];
        failed += r[1] - r[2];
    }
    EXPECT_DOUBLE_EQ(*doc.lossRatio, failed / count);
    EXPECT_EQ(doc.sampleCount, static_cast<long long>(rows(QStringLiteral(
        "SELECT (SELECT COUNT(*) FROM network_samples WHERE timestamp %1) + "
        "(SELECT SUM(sample_count) FROM sample_rollups WHERE bucket_seconds = 3600 AND bucket_start %1);").arg(range))[0][0]));

    ASSERT_EQ(doc.hourlyProfile.size(), byClockHour.size());
    for (const HourlyProfileEntry& entry : doc.hourlyProfile) {
        std::vector<double>& values = byClockHour[entry.hour];
        std::sort(values.begin(), values.end());
        EXPECT_EQ(entry.medianMilliseconds, values[values.size() / 2]) << entry.hour;
        // The evening congestion of the older weeks is what the evening bars show.
        const double expected = entry.hour >= 19 && entry.hour <= 22 ? DossierMonth::congestedMs : DossierMonth::usualMs;
        EXPECT_NEAR(*entry.medianMilliseconds, expected, 3) << entry.hour;
    }

    EXPECT_EQ(doc.detailedFiguresNote(),
              QStringLiteral("A részletes számok az utolsó 7 nap nyers méréseiből készültek; a korábbi napokból "
                             "óránkénti összesítés maradt."));
    // A week that its raw samples cover says nothing of the kind.
    EXPECT_EQ(build({request.end - 7 * 86400, request.end, false, QStringLiteral("HU")}).detailedFiguresNote(),
              std::nullopt);
}

// The radio of a month is judged by the month's readings: one last reading moves nothing, while a
// month of weak readings is still seen.
TEST_F(DossierMonthTest, HeadlineHoldsWhenOnlyTheLastReadingChanges)
{
    const FaultAttribution before = build(month->request).attribution;
    ASSERT_NE(before.location, FaultLocation::wifi);
    ASSERT_NE(before.location, FaultLocation::insufficientEvidence);
    const QString last = QStringLiteral(" WHERE timestamp = (SELECT MAX(timestamp) FROM wifi_snapshots)");
    struct Case {
        QString change;
        FaultLocation expected;
    };
    for (const Case& c : {Case{QStringLiteral("UPDATE wifi_snapshots SET rssi = -71") + last, before.location},
                          Case{QStringLiteral("UPDATE wifi_snapshots SET rssi = -52") + last, before.location},
                          Case{QStringLiteral("UPDATE wifi_snapshots SET rssi = -88") + last, before.location},
                          Case{QStringLiteral("UPDATE wifi_snapshots SET rssi = -88"), FaultLocation::wifi}}) {
        RawDb(path).exec(c.change);
        const FaultAttribution after = build(month->request).attribution;
        EXPECT_EQ(after.location, c.expected) << c.change.toStdString();
        if (c.expected == before.location) {
            EXPECT_EQ(after.headline, before.headline) << c.change.toStdString();
        }
    }
}

// Nights known from hour roll-ups begin at the last sample before them; buckets written before their
// sample times were recorded keep vouching for their whole hour.
TEST_F(DossierMonthTest, NightGapsStartAtTheLastSampleOfTheirBucket)
{
    const Timestamp rolledUntil = store::rawSampleCutoff(RetentionPolicy::standard(), month->request.end);
    struct Case {
        const char* name;
        bool clearSampleTimes;
        double toleranceSeconds; // of a night's start against the last sample before it
    };
    for (const Case& c : {Case{"new buckets", false, 60}, Case{"old buckets", true, 3600}}) {
        if (c.clearSampleTimes)
            RawDb(path).exec(QStringLiteral("UPDATE sample_rollups SET first_sample_timestamp = NULL, "
                                            "last_sample_timestamp = NULL;"));
        const DossierDocument doc = build(month->request);
        double measured = 0;
        int nights = 0;
        for (std::size_t i = 0; i + 1 < month->days.size(); ++i) {
            measured += month->days[i].last - month->days[i].first;
            const Timestamp lastSample = month->days[i].last, nextSample = month->days[i + 1].first;
            if (nextSample >= rolledUntil)
                continue;
            ++nights;
            const auto gap = std::find_if(doc.gaps.begin(), doc.gaps.end(), [&](const MeasurementGap& g) {
                return g.end > lastSample && g.start < nextSample;
            });
            ASSERT_NE(gap, doc.gaps.end()) << c.name << " night " << i;
            EXPECT_GE(gap->start, lastSample - 1) << c.name << " night " << i;
            EXPECT_LE(gap->start - lastSample, c.toleranceSeconds) << c.name << " night " << i;
            if (c.clearSampleTimes) {
                EXPECT_EQ(std::fmod(gap->start, 3600), 0) << "an old bucket ends on the hour";
            }
            EXPECT_LE(std::abs(gap->end - nextSample), c.toleranceSeconds) << c.name << " night " << i;
        }
        EXPECT_GT(nights, 15) << c.name;
        measured += month->days.back().last - month->days.back().first;
        if (!c.clearSampleTimes)
            EXPECT_NEAR(doc.coverageRatio, measured / month->request.duration(), 0.002) << c.name;
        else
            EXPECT_GT(doc.coverageRatio, measured / month->request.duration() + 0.01) << "whole hours count as measured";
    }
}

// The losses that the summary's sentences quote are the whole month's, like the tile: the hour
// roll-ups of the older weeks (lossier evenings; in one case a router that lost a little) with the raw
// newest week, whose router lost nothing.
TEST_F(DossierMonthTest, TheSummaryQuotesTheLossOfTheWholeMonth)
{
    const DossierRequest& request = month->request;
    const QString range = QStringLiteral("BETWEEN %1 AND %2").arg(request.start, 0, 'f', 3).arg(request.end, 0, 'f', 3);
    // The lost share of a probe kind over the month's stored rows.
    const auto storedLoss = [&](const char* kind) {
        const auto r = rows(QStringLiteral(
            "SELECT (SELECT SUM(sample_count - success_count) FROM sample_rollups WHERE bucket_seconds = 3600 AND "
            "target_kind = '%1' AND bucket_start %2) + (SELECT COUNT(*) FROM network_samples WHERE success = 0 AND "
            "target_kind = '%1' AND timestamp %2), (SELECT SUM(sample_count) FROM sample_rollups WHERE "
            "bucket_seconds = 3600 AND target_kind = '%1' AND bucket_start %2) + (SELECT COUNT(*) FROM "
            "network_samples WHERE target_kind = '%1' AND timestamp %2);").arg(QLatin1String(kind), range))[0];
        return r[0] / r[1];
    };
    struct Case {
        const char* name;
        QString change;
        const char* kind;
        QString sentence; // before the figure
    };
    for (const Case& c : {Case{"provider", QString(), "publicIP", QStringLiteral("A csomagok ")},
                          Case{"router", QStringLiteral("UPDATE sample_rollups SET success_count = success_count - 1, "
                                                        "loss_ratio = (sample_count - success_count + 1) * 1.0 / "
                                                        "sample_count WHERE target_kind = 'gateway';"),
                               "gateway", QStringLiteral("A routerig a csomagok ")}}) {
        if (!c.change.isEmpty())
            RawDb(path).exec(c.change);
        const DossierDocument doc = build(request);
        const double loss = storedLoss(c.kind);
        if (std::string_view(c.kind) == "publicIP") {
            EXPECT_DOUBLE_EQ(*doc.lossRatio, loss) << "the tile";
        }
        const QString expected = c.sentence + DossierFormat::percentText(loss, 1) + QStringLiteral("-a ");
        const QStringList& evidence = doc.attribution.evidence;
        EXPECT_TRUE(std::any_of(evidence.begin(), evidence.end(), [&](const QString& e) { return e.startsWith(expected); }))
            << c.name << ": \"" << expected.toStdString() << "\" not in\n" << evidence.join(QLatin1Char('\n')).toStdString();
    }
}

// Every evening of the month alike, and the dossier made at any minute of the hour: a slice of the
// day is drawn alike on the days known from hour roll-ups and on the raw newest week.
TEST(DossierSteadyMonthTest, IdenticalEveningsAreDrawnLevelAcrossTheRollUps)
{
    const QTimeZone zone("Europe/Budapest");
    for (int minute : {0, 10, 30, 50}) {
        const DossierMonth steady = writeDossierMonth(true, budapestOctober(30, 9, minute));
        SQLiteStore store(SQLiteStore::Location::file(steady.path));
        const DossierDocument doc =
            await(DossierBuilder::makeDocument(steady.request, steady.request.end, store, QStringLiteral("1.0")));
        // The slices by the local time of day they begin at: what the roll-ups and the raw days draw.
        struct Drawn {
            std::vector<double> rolled, raw;
        };
        std::map<QTime, Drawn> byTimeOfDay;
        for (const DossierTimelinePoint& point : doc.timeline) {
            if (!point.providerMilliseconds)
                continue;
            Drawn& drawn = byTimeOfDay[QDateTime::fromSecsSinceEpoch(static_cast<qint64>(point.time), zone).time()];
            (point.isAggregated ? drawn.rolled : drawn.raw).push_back(*point.providerMilliseconds);
        }
        int evenings = 0;
        for (const auto& [begins, drawn] : byTimeOfDay) {
            if (drawn.rolled.size() < 5 || drawn.raw.empty())
                continue;
            std::vector<double> all = drawn.rolled;
            all.insert(all.end(), drawn.raw.begin(), drawn.raw.end());
            const auto [low, high] = std::minmax_element(all.begin(), all.end());
            const auto [rawLow, rawHigh] = std::minmax_element(drawn.raw.begin(), drawn.raw.end());
            EXPECT_LE(*high - *low, 2.0) << "made at 09:" << minute << ", slices from "
                                         << begins.toString().toStdString() << ": roll-ups "
                                         << drawn.rolled.front() << " ms, raw days " << *rawLow << "–" << *rawHigh << " ms";
            evenings += *low > DossierMonth::congestedMs - 3 ? 1 : 0;
        }
        EXPECT_GE(evenings, 1) << "made at 09:" << minute << ": a slice of the day draws the evening";
    }
}

// Page 2's verdict reads what the period holds, as its tiles do: a month whose raw days are gone
// (monitoring paused for more than a week before the dossier) is judged by its roll-ups, and a
// sentence quotes a median as the tile shows it.
TEST(DossierSummaryTest, TheVerdictReadsThePeriodAsTheTilesDo)
{
    struct Case {
        const char* name;
        DossierDocument doc;
    };
    std::vector<Case> cases;
    {
        const DossierMonth paused = writeDossierMonth(false, budapestOctober(30, 9, 50) + 9 * 86400.0);
        SQLiteStore store(SQLiteStore::Location::file(paused.path));
        cases.push_back({"raw days gone",
                         await(DossierBuilder::makeDocument(paused.request, paused.request.end, store, QStringLiteral("1.0")))});
        ASSERT_GT(cases.back().doc.sampleCount, 50000) << "the month is there in its roll-ups";
        // The page says where its figures come from.
        EXPECT_EQ(cases.back().doc.detailedFiguresNote(),
                  QStringLiteral("Ebből az időszakból nyers mérés nem maradt: a számok óránkénti összesítésből "
                                 "készültek, a válaszidők az időszeletek jellemző értékeiből."));
    }
    {
        // A few raw minutes whose provider latencies split evenly between 20 and 21 ms.
        std::vector<NetworkSample> samples;
        for (int i = 0; i < 20; ++i) {
            samples.push_back(makeSample(1000 + 6.0 * i, ProbeKind::gateway, 2));
            samples.push_back(makeSample(1000.5 + 6.0 * i, ProbeKind::publicIP, i % 2 ? 21.0 : 20.0));
        }
        cases.push_back({"a tiny raw set", DossierBuilder::assemble({1000, 1200, false, QStringLiteral("HU")}, 1200,
                                                                    QStringLiteral("1.0"), samples, {}, {}, {})});
    }
    for (const Case& c : cases) {
        const FaultAttribution& a = c.doc.attribution;
        const QString said = (QStringList{a.headline} + a.evidence + a.caveats).join(u'\n');
        EXPECT_NE(a.location, FaultLocation::insufficientEvidence) << c.name << ":\n" << said.toStdString();
        EXPECT_FALSE(said.contains(QStringLiteral("0 mérés"))) << c.name << ":\n" << said.toStdString();
        ASSERT_TRUE(c.doc.medianProviderMs) << c.name;
        EXPECT_NE(c.doc.verdict.rating(UsageCapability::browsing), CapabilityRating::unknown) << c.name;
        // A sentence on the public hosts' answers, where the verdict quotes one (a verdict for loss
        // quotes no delay), quotes the tile's figure.
        const QString tile = DossierFormat::millisecondsText(c.doc.medianProviderMs);
        int quoted = 0;
        for (const QString& line : a.evidence) {
            const qsizetype at = line.indexOf(QStringLiteral("routeren túli célpontok "));
            if (at < 0 && !line.startsWith(QStringLiteral("A válaszidő ")))
                continue;
            ++quoted;
            EXPECT_TRUE(line.contains(QLatin1Char(' ') + tile))
                << c.name << ": \"" << line.toStdString() << "\" beside the tile " << tile.toStdString();
        }
        EXPECT_LE(quoted, 1) << c.name << ":\n" << said.toStdString();
    }
}
