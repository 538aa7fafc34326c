// Roll-ups and pruning.
#include "core/store/SQLiteStore.h"
#include "core/records/RecordId.h"
#include "core/store/StoreDatabase.h"

#include "tests/store/StoreTestSupport.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <tuple>

using namespace pv;
using namespace pv::test;

namespace {

// Keeps roll-ups and narrative records for ever, raw samples for an hour.
constexpr RetentionPolicy kRawHour{3600, 1e10, 1e10, 1e10, 1e10};

class StoreRetentionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        path = freshDatabasePath();
        store = std::make_unique<SQLiteStore>(SQLiteStore::Location::file(path));
    }
    std::vector<SampleRollup> minuteRollups() { return await(store->rollups(60, 0, 1e10)); }
    std::vector<SampleRollup> hourRollups() { return await(store->rollups(3600, 0, 1e10)); }

    QString path;
    std::unique_ptr<SQLiteStore> store;
};

} // namespace

TEST(RetentionPolicyTest, ThePoliciesOfTheThreeChoices)
{
    EXPECT_EQ(RetentionPolicy::standard(), (RetentionPolicy{604800, 7776000, 63072000, 604800, 63072000}));
    EXPECT_EQ(RetentionPolicy::compact(), (RetentionPolicy{172800, 2592000, 15724800, 172800, 15724800}));
    EXPECT_EQ(RetentionPolicy::longTerm(), (RetentionPolicy{2592000, 15552000, 94608000, 2592000, 94608000}));
    EXPECT_EQ(RetentionPolicy::uniform(3600), (RetentionPolicy{3600, 3600, 3600, 3600, 3600}));
}

TEST(SampleRollupTest, IdAndSuccessRatio)
{
    SampleRollup r{1700000040, 60, ProbeKind::gateway, 4, 3, {}, {}, {}, {}, {}, {}};
    EXPECT_EQ(r.id(), QStringLiteral("1700000040.0-60.0-gateway"));
    EXPECT_EQ(r.successRatio(), 0.75);
    r.bucketStart = 1700000040.5;
    r.bucketSeconds = 3600;
    r.targetKind = ProbeKind::publicIP;
    EXPECT_EQ(r.id(), QStringLiteral("1700000040.5-3600.0-publicIP"));
    r.sampleCount = 0;
    EXPECT_EQ(r.successRatio(), std::nullopt);
    r.family = AddressFamily::ipv6;
    EXPECT_EQ(r.id(), QStringLiteral("1700000040.5-3600.0-publicIP-ipv6"));
}

TEST(RawCutoffTest, IsTheRawCutoffRoundedDownToTheHour)
{
    EXPECT_EQ(store::rawSampleCutoff(kRawHour, 1700003600), 1699999200);
    EXPECT_EQ(store::rawSampleCutoff(kRawHour, 1700002800), 1699999200);
    EXPECT_EQ(store::rawSampleCutoff(kRawHour, 7200), 3600);
}

TEST_F(StoreRetentionTest, FiveLatenciesGiveNearestRankPercentiles)
{
    const double minute = 1699999980; // a whole minute and more than an hour before `now`
    std::vector<NetworkSample> samples;
    for (double latency : {50.0, 10.0, 40.0, 20.0, 30.0})
        samples.push_back(makeSample(minute + latency / 10, ProbeKind::gateway, latency));
    samples[0].packetLoss = 0.0;
    RawDb(path).insertSamples(samples);

    await(store->rollUpAndPrune(kRawHour, 1700007200));
    // The first sample came at minute + 1 s, the last at minute + 5 s.
    const SampleRollup expected{minute, 60, ProbeKind::gateway, 5, 5, 30, 40, 50, 0.0, minute + 1, minute + 5};
    EXPECT_EQ(minuteRollups(), std::vector<SampleRollup>{expected});
    EXPECT_EQ(hourRollups(), (std::vector<SampleRollup>{
                                 {1699999200, 3600, ProbeKind::gateway, 5, 5, 30, 40, 50, 0.0, minute + 1, minute + 5}}));
    EXPECT_TRUE(await(store->samples(0, 1e10)).empty());
}

TEST_F(StoreRetentionTest, LossCountsFailuresWithoutStoredLossAsWhole)
{
    RawDb(path).insertSamples({makeSample(1000, ProbeKind::http, 80.0, true),
                               makeSample(1001, ProbeKind::http, std::nullopt, false),
                               makeSample(1100, ProbeKind::dns, std::nullopt, false),
                               makeSample(1101, ProbeKind::dns, 30.0, false)});
    await(store->rollUpAndPrune(kRawHour, 10800));
    EXPECT_EQ(minuteRollups(), (std::vector<SampleRollup>{{960, 60, ProbeKind::http, 2, 1, 80, 80, 80, 0.5, 1000, 1001},
                                                          {1080, 60, ProbeKind::dns, 2, 0, {}, {}, 30, 1.0, 1100, 1101}}));
}

TEST_F(StoreRetentionTest, OnlySamplesBelowTheHourAlignedCutoffAreRolledAndDeleted)
{
    // now 1700006000: the raw cut-off 1700002400 rounds down to 1699999200.
    RawDb(path).insertSamples({makeSample(1699999199.99), makeSample(1699999200), makeSample(1700002399)});
    await(store->rollUpAndPrune(kRawHour, 1700006000));
    const auto left = await(store->samples(0, 1e10));
    ASSERT_EQ(left.size(), 2u);
    EXPECT_EQ(left[0].timestamp, 1699999200);
    const auto minutes = minuteRollups();
    ASSERT_EQ(minutes.size(), 1u);
    EXPECT_EQ(minutes[0].bucketStart, 1699999140);
    EXPECT_EQ(minutes[0].sampleCount, 1);
}

// Passes every 900 s while new samples keep arriving: every bucket must end up summarising all of
// its samples, however the passes cut across minutes and hours.
TEST_F(StoreRetentionTest, PassesNineHundredSecondsApartKeepEveryBucketComplete)
{
    const double start = 1700000000; // not on an hour: the first cut-offs fall inside buckets
    std::vector<NetworkSample> all;
    for (int i = 0; start + i * 7.0 < start + 5 * 3600; ++i) {
        const double t = start + i * 7.0;
        const bool ok = i % 9 != 0;
        all.push_back(makeSample(t, i % 2 ? ProbeKind::http : ProbeKind::gateway,
                                 ok ? std::optional<double>(5 + (i * 37) % 50) : std::nullopt, ok));
    }

    // Expected buckets from every sample: count, successes, p50 (nearest rank), max.
    using Key = std::tuple<double, double, ProbeKind>;
    struct Bucket {
        int count = 0, ok = 0;
        std::vector<double> latencies;
        double first = 0, last = 0;
    };
    std::map<Key, Bucket> expected;
    for (const auto& s : all)
        for (double w : {60.0, 3600.0}) {
            Bucket& b = expected[{w, std::floor(s.timestamp / w) * w, s.target.kind}];
            if (b.count == 0)
                b.first = s.timestamp;
            b.last = s.timestamp;
            ++b.count;
            b.ok += s.success ? 1 : 0;
            if (s.latencyMilliseconds)
                b.latencies.push_back(*s.latencyMilliseconds);
        }

    double now = start + 3600 + 1234;
    std::size_t written = 0;
    for (int pass = 0; pass < 12; ++pass, now += 900) {
        // Samples reach the store as time goes by.
        std::vector<NetworkSample> arrived;
        while (written < all.size() && all[written].timestamp <= now)
            arrived.push_back(all[written++]);
        RawDb(path).insertSamples(arrived);

        await(store->rollUpAndPrune(kRawHour, now));

        const double cutoff = store::rawSampleCutoff(kRawHour, now);
        int rolledUp = 0;
        for (const auto& width : {60.0, 3600.0}) {
            const auto rows = await(store->rollups(width, 0, 1e10));
            for (const SampleRollup& r : rows) {
                const Bucket& b = expected[{width, r.bucketStart, r.targetKind}];
                ASSERT_EQ(r.sampleCount, b.count) << "pass " << pass << " bucket " << r.id().toStdString();
                ASSERT_EQ(r.successCount, b.ok) << r.id().toStdString();
                std::vector<double> sorted = b.latencies;
                std::sort(sorted.begin(), sorted.end());
                ASSERT_FALSE(sorted.empty());
                ASSERT_EQ(r.p50Milliseconds, sorted[(sorted.size() - 1) / 2]) << r.id().toStdString();
                ASSERT_EQ(r.maxMilliseconds, sorted.back()) << r.id().toStdString();
                ASSERT_EQ(r.firstSampleTimestamp, b.first) << r.id().toStdString();
                ASSERT_EQ(r.lastSampleTimestamp, b.last) << r.id().toStdString();
                if (width == 60)
                    rolledUp += r.sampleCount;
            }
        }
        // Every sample below the cut-off is summarised exactly once; the rest are still raw.
        const auto below = std::count_if(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(written),
                                         [&](const NetworkSample& s) { return s.timestamp < cutoff; });
        EXPECT_EQ(rolledUp, below) << "pass " << pass;
        EXPECT_EQ(await(store->samples(0, 1e10)).size(), written - static_cast<std::size_t>(below));
    }
    EXPECT_GT(hourRollups().size(), 4u); // the passes did roll several hours
}

TEST_F(StoreRetentionTest, EveryTableIsPrunedByItsOwnPeriod)
{
    const double now = 1700000000;
    const RetentionPolicy policy{100, 2000, 30000, 500, 10000};
    {
        RawDb db(path);
        db.exec(QStringLiteral(
            "INSERT INTO sample_rollups VALUES (%1, 60, 'gateway', 1, 1, 1, 1, 1, 0, NULL, NULL, 'ipv4');"
            "INSERT INTO sample_rollups VALUES (%2, 60, 'gateway', 1, 1, 1, 1, 1, 0, NULL, NULL, 'ipv4');"
            "INSERT INTO sample_rollups VALUES (%3, 3600, 'gateway', 1, 1, 1, 1, 1, 0, NULL, NULL, 'ipv4');"
            "INSERT INTO sample_rollups VALUES (%4, 3600, 'gateway', 1, 1, 1, 1, 1, 0, NULL, NULL, 'ipv4');")
                    .arg(now - 2001, 0, 'f', 0)
                    .arg(now - 1999, 0, 'f', 0)
                    .arg(now - 30001, 0, 'f', 0)
                    .arg(now - 29999, 0, 'f', 0));
    }
    await(store->insertWifiSnapshot(makeWifi(now - 501)));
    await(store->insertWifiSnapshot(makeWifi(now - 499)));
    await(store->insertEvent(makeEvent(now - 10001)));
    await(store->insertEvent(makeEvent(now - 9999)));
    await(store->insertMarker(makeMarker(now - 10001)));
    await(store->insertMarker(makeMarker(now - 9999)));
    const Incident openOld = makeIncident(now - 20000, std::nullopt);     // open, began before: goes
    const Incident endedOld = makeIncident(now - 20000, now - 10001);     // ended before: goes
    const Incident endedRecently = makeIncident(now - 20000, now - 9999); // ended after: stays
    for (const auto& i : {openOld, endedOld, endedRecently})
        await(store->upsertIncident(i));
    LoadTestResult oldTest;
    oldTest.startedAt = 1;
    await(store->insertLoadTest(oldTest));
    QualityBaseline baseline;
    baseline.savedAt = 1;
    await(store->saveBaseline(baseline));

    await(store->rollUpAndPrune(policy, now));

    EXPECT_EQ(minuteRollups().size(), 1u);
    EXPECT_EQ(minuteRollups()[0].bucketStart, now - 1999);
    EXPECT_EQ(hourRollups().size(), 1u);
    EXPECT_EQ(hourRollups()[0].bucketStart, now - 29999);
    EXPECT_EQ(await(store->wifiSnapshots(0, now)).size(), 1u);
    EXPECT_EQ(await(store->events(0, now)).size(), 1u);
    EXPECT_EQ(await(store->markers(0, now)).size(), 1u);
    EXPECT_EQ(await(store->incidents(0, now)), std::vector<Incident>{endedRecently});
    // Load tests and the baseline are never pruned.
    EXPECT_EQ(RawDb(path).integer(QStringLiteral("SELECT COUNT(*) FROM load_tests;")), 1);
    EXPECT_EQ(await(store->loadBaseline()), baseline);
}

TEST_F(StoreRetentionTest, PassOverAnEmptyDatabaseChangesNothing)
{
    await(store->rollUpAndPrune(RetentionPolicy::standard(), 1700000000));
    RawDb db(path);
    EXPECT_EQ(db.integer(QStringLiteral("SELECT (SELECT COUNT(*) FROM sample_rollups) + "
                                        "(SELECT COUNT(*) FROM network_samples);")),
              0);
    // The transaction was closed: another writer gets in at once.
    db.exec(QStringLiteral("BEGIN IMMEDIATE; COMMIT;"));
}

TEST_F(StoreRetentionTest, AFailedStepIsUndoneAsAWhole)
{
    const double now = 1700000000;
    RawDb(path).insertSamples({makeSample(now - 90000), makeSample(now - 89000)});
    await(store->insertMarker(makeMarker(now - 1e9)));
    RawDb(path).exec(QStringLiteral("CREATE TRIGGER keep_markers BEFORE DELETE ON markers "
                                    "BEGIN SELECT RAISE(ABORT, 'markers are kept'); END;"));

    const RetentionPolicy policy{3600, 1e10, 1e10, 1e10, 3600};
    const StoreError error = awaitError(store->rollUpAndPrune(policy, now));
    EXPECT_EQ(error.code(), SQLITE_CONSTRAINT);
    EXPECT_EQ(error.message(), QStringLiteral("markers are kept"));
    // The roll-ups and deletions of the failing step are gone with it.
    EXPECT_TRUE(minuteRollups().empty());
    EXPECT_EQ(await(store->samples(0, now)).size(), 2u);

    // The store is usable afterwards: the transaction was rolled back, not left open.
    RawDb(path).exec(QStringLiteral("DROP TRIGGER keep_markers;"));
    await(store->rollUpAndPrune(policy, now));
    EXPECT_EQ(minuteRollups().size(), 2u);
    EXPECT_TRUE(await(store->samples(0, now)).empty());
}

// Ids of three kinds side by side, as in a database written before and after time-ordered ids:
// random ones, time-ordered ones of the row's own time, and time-ordered ones of another time. A
// pass in single-unit steps must leave the same roll-ups as one roll-up over all of it, and delete
// exactly the rows below each cut-off.
TEST_F(StoreRetentionTest, MixedIdsPruneAndRollUpInStepsLikeOneRollUpOverAll)
{
    const double start = 1700000000;
    const double now = start + 6 * 3600;
    const RetentionPolicy policy{2 * 3600, 1e10, 1e10, 3 * 3600, 1e10};
    auto mixedId = [](int i, double t) {
        switch (i % 3) {
        case 0: return QUuid::createUuid();
        case 1: return recordIdAt(static_cast<std::int64_t>(t * 1000));
        default: return newRecordId();
        }
    };
    std::vector<NetworkSample> samples;
    for (int i = 0; start + i * 5.0 < now; ++i) {
        const double t = start + i * 5.0;
        NetworkSample s = makeSample(t, i % 2 ? ProbeKind::http : ProbeKind::gateway, 5.0 + (i * 37) % 50, i % 11 != 0);
        s.id = mixedId(i, t);
        s.batchID = mixedId(i + 1, t);
        if (i % 4 == 0)
            s.packetLoss = (i % 7) / 7.0;
        // The IPv6 samples of the same kinds and minutes are buckets of their own.
        if (i % 5 < 2)
            s.family = AddressFamily::ipv6;
        samples.push_back(s);
    }
    RawDb(path).insertSamples(samples);
    for (int i = 0; i < 6 * 3600 / 120; ++i) {
        WifiSnapshot w = makeWifi(start + i * 120.0);
        w.id = mixedId(i, w.timestamp);
        await(store->insertWifiSnapshot(w));
    }

    // The reference: the plain roll-up of everything below the cut-off on a copy.
    const double cutoff = store::rawSampleCutoff(policy, now);
    const QString reference = path + QStringLiteral(".reference");
    RawDb(path).exec(QStringLiteral("VACUUM INTO '%1';").arg(reference));
    {
        store::StoreDatabase db(StoreLocation::file(reference));
        db.rollUp(60, cutoff);
        db.rollUp(3600, cutoff);
    }
    SQLiteStore referenceStore(SQLiteStore::Location::file(reference));

    store->setPruneStepBudget(std::chrono::milliseconds(0));
    await(store->rollUpAndPrune(policy, now));

    for (double width : {60.0, 3600.0})
        EXPECT_EQ(await(store->rollups(width, 0, 1e10)), await(referenceStore.rollups(width, 0, 1e10))) << width;
    EXPECT_GT(hourRollups().size(), 2u);
    const auto hours = hourRollups();
    EXPECT_EQ(std::count_if(hours.begin(), hours.end(), [](const auto& r) { return r.family == AddressFamily::ipv6; }) * 2,
              static_cast<std::ptrdiff_t>(hours.size()));
    const auto kept = await(store->samples(0, 1e10));
    EXPECT_EQ(kept.size(), static_cast<std::size_t>(std::count_if(
                               samples.begin(), samples.end(), [&](const auto& s) { return s.timestamp >= cutoff; })));
    EXPECT_GE(kept.front().timestamp, cutoff);
    const auto wifi = await(store->wifiSnapshots(0, 1e10));
    ASSERT_FALSE(wifi.empty());
    EXPECT_GE(wifi.front().timestamp, now - policy.wifiSnapshotSeconds);
    EXPECT_LT(wifi.front().timestamp, now - policy.wifiSnapshotSeconds + 120);
}

// A batch written while a long pass runs is not held up until the pass ends: it runs between two
// of its steps, and both complete.
TEST_F(StoreRetentionTest, ABatchWrittenDuringALongPassRunsBetweenItsSteps)
{
    const double start = 1699999200; // on an hour: four whole hours of samples
    std::vector<NetworkSample> samples;
    for (int i = 0; i < 4 * 3600 / 5; ++i)
        samples.push_back(makeSample(start + i * 5.0));
    RawDb(path).insertSamples(samples);
    const double now = start + 6 * 3600;

    store->setPruneStepBudget(std::chrono::milliseconds(0));
    std::vector<QString> finished;
    asio::co_spawn(rt::QtExecutor(), store->rollUpAndPrune(kRawHour, now), [&](std::exception_ptr e) {
        EXPECT_FALSE(e);
        finished.push_back(QStringLiteral("prune"));
    });
    const ProbeBatch batch = makeBatch(now);
    asio::co_spawn(rt::QtExecutor(), store->insertSamples(batch), [&](std::exception_ptr e) {
        EXPECT_FALSE(e);
        finished.push_back(QStringLiteral("batch"));
    });
    if (!pumpUntil([&] { return finished.size() == 2; }, std::chrono::seconds(30)))
        std::abort(); // the callbacks still refer to this frame

    EXPECT_EQ(finished, (std::vector<QString>{QStringLiteral("batch"), QStringLiteral("prune")}));
    EXPECT_EQ(await(store->samples(0, 1e10)), batch.samples);
    EXPECT_EQ(hourRollups().size(), 4u);
}
