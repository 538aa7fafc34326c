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

namespace {

// The provider line of the timeline by one rule over the stored rows: each roll-up-wide bucket's
// p50 (a stored roll-up beginning in the period, or the raw samples' on the same grid by the
// roll-ups' nearest-rank rule; a raw bucket begun before the period counts from its start) goes to
// the slice in which it begins, and a slice shows the upper median of its buckets.
std::map<int, double> timelineBySql(const QString& path, const DossierRequest& r)
{
    const double width = DossierBuilder::rollupBucketSeconds(r.duration());
    const QStringList rows = RawDb(path).column(QStringLiteral(
        "WITH raw AS (SELECT CAST(timestamp / %1 AS INTEGER) * %1 AS b, latency_ms AS v FROM network_samples "
        "  WHERE target_kind = 'publicIP' AND success = 1 AND latency_ms IS NOT NULL AND timestamp BETWEEN %2 AND %3), "
        "ranked AS (SELECT b, v, ROW_NUMBER() OVER (PARTITION BY b ORDER BY v) AS rn, "
        "  COUNT(*) OVER (PARTITION BY b) AS n FROM raw), "
        "p50 AS (SELECT b, v FROM ranked WHERE rn = CAST((n - 1) * 0.5 AS INTEGER) + 1 "
        "  UNION ALL SELECT bucket_start, p50_ms FROM sample_rollups WHERE bucket_seconds = %1 AND "
        "  target_kind = 'publicIP' AND p50_ms IS NOT NULL AND bucket_start BETWEEN %2 AND %3) "
        "SELECT printf('%d %.17g', MIN(CAST((MAX(b, %2) - %2) / %4 AS INTEGER), 119), v) FROM p50;")
                                                   .arg(width)
                                                   .arg(r.start, 0, 'f', 6)
                                                   .arg(r.end, 0, 'f', 6)
                                                   .arg(r.duration() / DossierBuilder::timelineSlices, 0, 'g', 17));
    std::map<int, std::vector<double>> bySlice;
    for (const QString& row : rows)
        bySlice[row.section(u' ', 0, 0).toInt()].push_back(row.section(u' ', 1, 1).toDouble());
    std::map<int, double> out;
    for (auto& [slice, values] : bySlice)
        out[slice] = *DossierBuilder::upperMedian(values);
    return out;
}

} // namespace

// Every evening of the month alike, and the dossier made at any hour, minute and second of the day
// under the standard and the compact retention (each pass the store's own, run as the hours go by):
// each slice is drawn by the one rule, the slice where the raw samples begin included, and a slice of
// the day is drawn alike on the days known from roll-ups and on the raw days.
TEST(DossierSteadyMonthTest, IdenticalEveningsAreDrawnLevelAcrossTheRollUps)
{
    const QTimeZone zone("Europe/Budapest");
    const auto localTime = [&](Timestamp t) { return QDateTime::fromMSecsSinceEpoch(qint64(t * 1000), zone).time(); };
    struct Case {
        const char* name;
        RetentionPolicy retention;
        std::vector<double> periodDays;
        double second;
    };
    for (const Case& c : {Case{"standard", RetentionPolicy::standard(), {30}, 23.7},
                          Case{"compact", RetentionPolicy::compact(), {30, 7}, 30.25}}) {
        // Every hour of the last day, each at another minute, and the instants seen drawn wrongly.
        std::vector<Timestamp> madeAt{budapestOctober(30, 19, 41) + 23.7, budapestOctober(30, 23, 17) + 42.3,
                                      budapestOctober(30, 19, 0, 30)};
        for (int hour = 0; hour < 24; ++hour)
            madeAt.push_back(budapestOctober(30, hour, (41 + 13 * hour) % 60) + c.second);
        std::sort(madeAt.begin(), madeAt.end());
        const DossierMonth steady = writeDossierMonth(true, madeAt.front(), budapestOctober(31, 0, 0));
        store::StoreDatabase db(StoreLocation::file(steady.path));
        for (const Timestamp end : madeAt) {
            db.rollUpAndPrune(c.retention, end);
            for (const double days : c.periodDays) {
                const DossierRequest request{end - days * 86400, end, false, QStringLiteral("HU")};
                const DossierDocument doc = DossierBuilder::makeDocument(request, end, db, QStringLiteral("1.0"));
                const std::string made = std::string(c.name) + ", " + std::to_string(int(days)) + " days made at " +
                                         localTime(end).toString(QStringLiteral("HH:mm:ss.z")).toStdString();
                const std::map<int, double> expected = timelineBySql(steady.path, request);
                // Each slice by the rule, and the slices that begin at one local time of day level.
                std::map<QTime, std::vector<double>> byTimeOfDay;
                std::size_t drawn = 0;
                for (const DossierTimelinePoint& point : doc.timeline) {
                    if (!point.providerMilliseconds)
                        continue;
                    const int slice = int(std::lround((point.time - request.start) * 120 / request.duration()));
                    EXPECT_NEAR(*point.providerMilliseconds, expected.count(slice) ? expected.at(slice) : -1, 0.1)
                        << made << ", slice " << slice;
                    byTimeOfDay[localTime(point.time)].push_back(*point.providerMilliseconds);
                    ++drawn;
                }
                EXPECT_EQ(drawn, expected.size()) << made;
                if (days < 30)
                    continue; // a week's slices begin at other times of day each day
                int evenings = 0;
                for (const auto& [begins, values] : byTimeOfDay) {
                    const auto [low, high] = std::minmax_element(values.begin(), values.end());
                    EXPECT_LE(*high - *low, 2.0) << made << ", slices from " << begins.toString().toStdString();
                    evenings += values.size() >= 4 && *low > DossierMonth::congestedMs - 3 ? 1 : 0;
                }
                EXPECT_GE(evenings, 1) << made << ": a slice of the day draws the evening";
            }
        }
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
        // What the notes on roll-ups and on the raw-only pages say was kept; none: no such note.
        std::optional<QString> kept = std::nullopt;
    };
    std::vector<Case> cases;
    {
        const DossierMonth paused = writeDossierMonth(false, budapestOctober(30, 9, 50) + 9 * 86400.0);
        SQLiteStore store(SQLiteStore::Location::file(paused.path));
        cases.push_back({"raw days gone",
                         await(DossierBuilder::makeDocument(paused.request, paused.request.end, store, QStringLiteral("1.0"))),
                         QStringLiteral("nyers mérés")});
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
    {
        // A week under the compact retention, which keeps raw samples for two days.
        const Timestamp end = budapestOctober(30, 19, 0) + 30;
        const DossierMonth month = writeDossierMonth(false, end, end);
        store::StoreDatabase db(StoreLocation::file(month.path));
        db.rollUpAndPrune(RetentionPolicy::compact(), end);
        cases.push_back({"compact week",
                         DossierBuilder::makeDocument({end - 7 * 86400.0, end, false, QStringLiteral("HU")}, end, db,
                                                      QStringLiteral("1.0")),
                         QStringLiteral("utolsó 2 nap")});
    }
    for (const Case& c : cases) {
        // The notes name the stretch kept under the retention in force, and no count is one the
        // roll-ups do not keep.
        const QString notes = c.doc.aggregatedPeriodsNote().value_or(QString()) + u'\n' +
                              c.doc.rawOnlyPagesNote().value_or(QString()) + u'\n' +
                              c.doc.wiredComparisonShortage().value_or(QString());
        for (const std::optional<QString>& note : {c.doc.aggregatedPeriodsNote(), c.doc.rawOnlyPagesNote()}) {
            EXPECT_EQ(note.has_value(), c.kept.has_value()) << c.name;
            EXPECT_TRUE(!note || !c.kept || note->contains(*c.kept)) << c.name << ":\n" << notes.toStdString();
        }
        EXPECT_FALSE(notes.contains(QStringLiteral("hét nap"))) << c.name << ":\n" << notes.toStdString();
        EXPECT_FALSE(c.doc.onlyRollups && notes.contains(QStringLiteral(" minta)"))) << c.name << ":\n" << notes.toStdString();
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

// The notes on raw samples under the standard retention: a pause within it is named apart, and the raw
// figures speak of the time measured, also when a shorter retention pruned them before.
TEST(DossierRetentionTest, TheNotesNameAPauseApartFromTheRetention)
{
    const Timestamp end = budapestOctober(30, 19, 0) + 30;
    const RetentionPolicy standard = RetentionPolicy::standard();
    for (const auto& [prunedUnder, pauseEndHoursAgo, figures] : {std::tuple{standard, 20.0, "utolsó 20 óra "},
                                                                 std::tuple{RetentionPolicy::compact(), 0.0, "utolsó 2 nap "}}) {
        SCOPED_TRACE(figures);
        const Timestamp resumed = end - pauseEndHoursAgo * 3600; // measuring stopped 9 days before
        const DossierMonth month = writeDossierMonth(false, end, pauseEndHoursAgo ? resumed - 9 * 86400.0 : end);
        std::vector<NetworkSample> samples;
        for (Timestamp t = resumed; pauseEndHoursAgo && t <= end; t += 60)
            samples.insert(samples.end(), {makeSample(t, ProbeKind::gateway, 2.0), makeSample(t + 0.05, ProbeKind::publicIP, 19.0)});
        RawDb(month.path).insertSamples(samples);
        store::StoreDatabase db(StoreLocation::file(month.path));
        db.rollUpAndPrune(prunedUnder, end);
        const DossierDocument doc = DossierBuilder::makeDocument(
            {end - 30 * 86400.0, end, false, QStringLiteral("HU"), standard.rawSampleSeconds}, end, db, QStringLiteral("1.0"));
        const QString aggregated = doc.aggregatedPeriodsNote().value_or(QString());
        EXPECT_TRUE(aggregated.contains(QStringLiteral("régebbi, mint az utolsó 7 nap,"))) << aggregated.toStdString();
        for (const std::optional<QString>& note : {doc.detailedFiguresNote(), doc.rawOnlyPagesNote()})
            EXPECT_TRUE(note && note->contains(QString::fromUtf8(figures))) << note.value_or(QString()).toStdString();
        const QString pause = QStringLiteral("%1 és %2 között nem futott a mérés")
                                  .arg(DossierFormat::dateText(end - standard.rawSampleSeconds), DossierFormat::dateText(resumed));
        EXPECT_EQ(aggregated.contains(pauseEndHoursAgo ? pause : QStringLiteral("nem futott a mérés")), pauseEndHoursAgo > 0)
            << aggregated.toStdString();
    }
}
