// The history model without a display: the slicing of raw samples and roll-ups, the summary, the
// loads through the store, and the rule that the newest load always wins.

#include "core/app/HistoryViewModel.h"
#include "core/store/SQLiteStore.h"
#include "core/store/StoreDatabase.h"
#include "ui/screens/HistoryLogic.h"
#include "tests/store/StoreTestSupport.h"
#include "tests/support/TestSupport.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <cmath>
#include <future>
#include <map>
#include <thread>

using namespace pv;

namespace {

constexpr Timestamp kStart = 1'765'000'000;
constexpr Timestamp kEnd = kStart + 96 * 900; // slices of 15 minutes

NetworkSample sample(ProbeKind kind, Timestamp t, std::optional<double> ms, bool success = true)
{
    NetworkSample s;
    s.id = QUuid::createUuid();
    s.timestamp = t;
    s.target = ProbeTarget{kind, QStringLiteral("t"), QStringLiteral("h")};
    s.latencyMilliseconds = ms;
    s.success = success;
    return s;
}

SampleRollup rollup(ProbeKind kind, Timestamp t, int count, int ok, std::optional<double> p50)
{
    SampleRollup r;
    r.bucketStart = t;
    r.bucketSeconds = 60;
    r.targetKind = kind;
    r.sampleCount = count;
    r.successCount = ok;
    r.p50Milliseconds = p50;
    return r;
}

Timestamp slice(int i) { return kStart + 900.0 * i + 1; }

TEST(HistoryBuckets, MedianIsTheUpperMiddleOfTheSortedValues)
{
    const std::vector<std::pair<std::vector<double>, std::optional<double>>> cases{
        {{}, std::nullopt}, {{7}, 7}, {{10, 20}, 20}, {{40, 10, 30, 20}, 30}, {{5, 1, 3}, 3}};
    for (const auto& [values, median] : cases)
        EXPECT_EQ(historyMedian(values), median) << values.size();
}

TEST(HistoryBuckets, RawDataWinsSliceBySliceAndRollupsFillTheRest)
{
    const std::vector<NetworkSample> samples{
        sample(ProbeKind::gateway, slice(0), 4), sample(ProbeKind::gateway, slice(0), 6),
        sample(ProbeKind::publicIP, slice(0), 20), sample(ProbeKind::publicIP, slice(0), 99, false), // a failure
        sample(ProbeKind::publicIP, slice(0), std::nullopt, false),
        sample(ProbeKind::gateway, slice(1), 50, false), // failed router samples count nowhere
        sample(ProbeKind::dns, slice(3), 12), sample(ProbeKind::http, slice(3), 80),
        sample(ProbeKind::gateway, kEnd, 9),        // at the end: the last slice
        sample(ProbeKind::gateway, kStart - 1, 1), // before the start: ignored
    };
    const std::vector<SampleRollup> rollups{
        rollup(ProbeKind::publicIP, slice(0), 10, 10, 1000), // raw data wins in slice 0
        rollup(ProbeKind::gateway, slice(1), 10, 10, 3), rollup(ProbeKind::gateway, slice(1), 10, 10, 5),
        rollup(ProbeKind::gateway, slice(2), 10, 10, 8), // router roll-ups only: not aggregated
        rollup(ProbeKind::publicIP, slice(4), 10, 8, 30), rollup(ProbeKind::dns, slice(5), 4, 4, 20)};
    const auto b = buildBuckets(samples, rollups, kStart, kEnd);
    ASSERT_EQ(b.size(), 96u);
    EXPECT_DOUBLE_EQ(b[10].start, kStart + 9000);

    struct Row {
        int index;
        std::optional<double> router, provider, loss;
        bool aggregated;
    };
    const Row rows[] = {
        {0, 6, 20, 2.0 / 3.0, false},          {1, 5, std::nullopt, std::nullopt, false},
        {2, 8, std::nullopt, std::nullopt, false}, {3, std::nullopt, std::nullopt, std::nullopt, false},
        {4, std::nullopt, 30, 0.2, true},      {5, std::nullopt, std::nullopt, std::nullopt, false},
        {95, 9, std::nullopt, std::nullopt, false}};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.index);
        const HistoryBucket& bucket = b[static_cast<std::size_t>(r.index)];
        EXPECT_EQ(bucket.medianGatewayMs, r.router);
        EXPECT_EQ(bucket.medianProviderMs, r.provider);
        ASSERT_EQ(bucket.lossRatio.has_value(), r.loss.has_value());
        if (r.loss) {
            EXPECT_NEAR(*bucket.lossRatio, *r.loss, 1e-12);
        }
        EXPECT_EQ(bucket.isAggregated, r.aggregated);
    }
    EXPECT_TRUE(b[3].isGap());
    EXPECT_TRUE(buildBuckets(samples, rollups, kEnd, kEnd).empty());
}

// The store hands a long period over in several folds (its parts are read at once): merged, they
// give the very slices that one fold of every sample gives.
TEST(HistoryBuckets, FoldsOfPartsMergeIntoTheSlicesOfTheWhole)
{
    HistoryReadings whole;
    for (int i = 0; i < 400; ++i) {
        const ProbeKind kind = i % 3 == 0 ? ProbeKind::gateway : i % 3 == 1 ? ProbeKind::publicIP : ProbeKind::http;
        const bool ok = i % 7 != 0;
        whole.samples.push_back(sample(kind, kStart + i * 200.0, ok ? std::optional<double>(i % 37) : std::nullopt, ok));
    }
    whole.rollups = {rollup(ProbeKind::publicIP, slice(95), 10, 7, 30), rollup(ProbeKind::gateway, slice(94), 3, 3, 4)};

    HistoryReadings parted;
    parted.rollups = whole.rollups;
    for (int f = 0; f < 3; ++f)
        parted.folded.push_back(std::make_shared<HistorySlices>(kStart, kEnd));
    for (std::size_t i = 0; i < whole.samples.size(); ++i) {
        const NetworkSample& x = whole.samples[i];
        // Uneven consecutive parts, one left empty, and a few samples listed rather than folded.
        if (i % 50 == 0)
            parted.samples.push_back(x);
        else
            parted.folded[i < 90 ? 0 : 2]->addSample(x.timestamp, x.target.kind, x.latencyMilliseconds, x.success);
    }
    const HistorySummary a = makeHistorySummary(HistoryRange::day, whole, kStart, kEnd);
    const HistorySummary b = makeHistorySummary(HistoryRange::day, parted, kStart, kEnd);
    EXPECT_EQ(a.sampleCount, b.sampleCount);
    EXPECT_EQ(a.coverageRatio, b.coverageRatio);
    ASSERT_EQ(a.buckets.size(), b.buckets.size());
    for (std::size_t i = 0; i < a.buckets.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(a.buckets[i].medianGatewayMs, b.buckets[i].medianGatewayMs);
        EXPECT_EQ(a.buckets[i].medianProviderMs, b.buckets[i].medianProviderMs);
        EXPECT_EQ(a.buckets[i].lossRatio, b.buckets[i].lossRatio);
        EXPECT_EQ(a.buckets[i].isAggregated, b.buckets[i].isAggregated);
    }
}

TEST(HistoryBuckets, SummaryCountsEverySampleAndCoversInNinetySixths)
{
    HistoryReadings r;
    r.samples = {sample(ProbeKind::gateway, slice(0), 4), sample(ProbeKind::dns, slice(1), 9),
                 sample(ProbeKind::publicIP, slice(2), std::nullopt, false), sample(ProbeKind::http, slice(2), 30)};
    r.rollups = {rollup(ProbeKind::http, slice(40), 7, 7, 12), rollup(ProbeKind::gateway, slice(41), 5, 0, 3)};
    const HistorySummary s = makeHistorySummary(HistoryRange::week, r, kStart, kEnd);
    EXPECT_EQ(s.sampleCount, 4 + 7 + 5);
    EXPECT_DOUBLE_EQ(s.coverageRatio, 2.0 / 96); // slices 0 and 41; the failed provider probe gives no median
    EXPECT_EQ(s.range, HistoryRange::week);

    // IPv6 samples and roll-ups are counted but draw nothing beside IPv4; on a network that had only
    // IPv6, they are what is drawn.
    const auto ipv6 = [](auto x) {
        x.family = AddressFamily::ipv6;
        return x;
    };
    HistoryReadings dual = r;
    dual.samples.push_back(ipv6(sample(ProbeKind::gateway, slice(0), 400)));
    dual.rollups.push_back(ipv6(rollup(ProbeKind::gateway, slice(60), 5, 0, 3)));
    const HistorySummary d = makeHistorySummary(HistoryRange::week, dual, kStart, kEnd);
    EXPECT_EQ(d.sampleCount, s.sampleCount + 1 + 5);
    EXPECT_EQ(d.buckets[0].medianGatewayMs, s.buckets[0].medianGatewayMs);
    EXPECT_DOUBLE_EQ(d.coverageRatio, s.coverageRatio);
    HistoryReadings only6;
    only6.samples = {ipv6(sample(ProbeKind::gateway, slice(0), 4))};
    EXPECT_EQ(makeHistorySummary(HistoryRange::week, only6, kStart, kEnd).buckets[0].medianGatewayMs, 4);

    const HistorySummary empty = makeHistorySummary(HistoryRange::day, {}, kStart, kEnd);
    EXPECT_EQ(empty.buckets.size(), 96u);
    EXPECT_TRUE(std::all_of(empty.buckets.begin(), empty.buckets.end(), [](const auto& b) { return b.isGap(); }));
    EXPECT_EQ(empty.coverageRatio, 0);
    EXPECT_EQ(empty.sampleCount, 0);
}

// ---- The model --------------------------------------------------------------------------------------

// A reader whose loads each wait on a gate that the test opens, on threads of their own.
struct GatedReader {
    struct Gate {
        std::promise<bool> open; // true: succeed, false: fail
        HistoryRange range;
    };
    asio::thread_pool pool{4};
    std::vector<std::shared_ptr<Gate>> gates;
    HistoryReadings readings;

    HistoryViewModel::Reader reader()
    {
        return [this](HistoryRange range, Timestamp, Timestamp) {
            auto gate = std::make_shared<Gate>();
            gate->range = range;
            gates.push_back(gate);
            return asio::co_spawn(
                pool,
                [gate, readings = readings]() -> rt::awaitable<HistoryReadings> {
                    if (!gate->open.get_future().get())
                        throw std::runtime_error("disk I/O error");
                    co_return readings;
                },
                asio::use_awaitable);
        };
    }
};

std::shared_ptr<HistoryViewModel> gatedModel(GatedReader& r)
{
    return HistoryViewModel::create(r.reader(), [] { return kEnd; });
}

bool finishes(const HistoryViewModel& m, int loads)
{
    return test::pumpUntil([&] { return m.finishedLoads() >= loads; });
}

TEST(HistoryModel, ARangeChangeReloadsAndTheSameRangeDoesNot)
{
    GatedReader r;
    auto model = gatedModel(r);
    model->setRange(HistoryRange::day);
    EXPECT_TRUE(r.gates.empty());
    EXPECT_FALSE(model->isLoading());
    model->setRange(HistoryRange::month);
    ASSERT_TRUE(test::pumpUntil([&] { return r.gates.size() == 1; }));
    EXPECT_TRUE(model->isLoading());
    EXPECT_EQ(r.gates[0]->range, HistoryRange::month);
    r.gates[0]->open.set_value(true);
    ASSERT_TRUE(finishes(*model, 1));
    ASSERT_TRUE(model->summary());
    EXPECT_EQ(model->summary()->range, HistoryRange::month);
    EXPECT_FALSE(model->isLoading());
}

TEST(HistoryModel, TheNewestLoadWinsWhateverTheOrderAndOutcomeOfTheOlderOne)
{
    struct Case {
        const char* name;
        bool olderSucceeds;
        bool olderFinishesFirst;
    };
    for (const Case c : {Case{"stale failure after", false, false}, Case{"stale success after", true, false},
                         Case{"stale failure before", false, true}, Case{"stale success before", true, true}}) {
        SCOPED_TRACE(c.name);
        GatedReader r;
        auto model = gatedModel(r);
        model->reload();
        model->setRange(HistoryRange::week);
        ASSERT_TRUE(test::pumpUntil([&] { return r.gates.size() == 2; }));
        int summaries = 0;
        QObject::connect(model.get(), &HistoryViewModel::summaryChanged, [&] { ++summaries; });
        const auto older = r.gates[0];
        const auto newer = r.gates[1];
        if (c.olderFinishesFirst) {
            older->open.set_value(c.olderSucceeds);
            ASSERT_TRUE(finishes(*model, 1));
            EXPECT_EQ(summaries, 0);
            EXPECT_TRUE(model->isLoading()) << "the newer load is still running";
            newer->open.set_value(true);
        } else {
            newer->open.set_value(true);
            ASSERT_TRUE(finishes(*model, 1));
            older->open.set_value(c.olderSucceeds);
        }
        ASSERT_TRUE(finishes(*model, 2));
        EXPECT_EQ(summaries, 1);
        ASSERT_TRUE(model->summary());
        EXPECT_EQ(model->summary()->range, HistoryRange::week);
        EXPECT_FALSE(model->isLoading());
    }
}

TEST(HistoryModel, AFailedLoadClearsTheSummaryAndTheLoadingState)
{
    GatedReader r;
    auto model = gatedModel(r);
    model->reload();
    ASSERT_TRUE(test::pumpUntil([&] { return r.gates.size() == 1; }));
    r.gates[0]->open.set_value(true);
    ASSERT_TRUE(finishes(*model, 1));
    ASSERT_TRUE(model->summary());
    model->reload();
    ASSERT_TRUE(test::pumpUntil([&] { return r.gates.size() == 2; }));
    EXPECT_TRUE(model->summary()) << "the earlier summary stays while the next one loads";
    r.gates[1]->open.set_value(false);
    ASSERT_TRUE(finishes(*model, 2));
    EXPECT_FALSE(model->summary());
    EXPECT_FALSE(model->isLoading());
}

TEST(HistoryModel, AModelGoneBeforeItsLoadStartsReadsNothing)
{
    GatedReader r;
    auto model = gatedModel(r);
    model->reload();
    model.reset();
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents();
    EXPECT_TRUE(r.gates.empty());
}

TEST(HistoryModel, LoadsThroughTheStoreGiveASummaryEvenForAnEmptyStore)
{
    auto store = std::make_shared<SQLiteStore>(SQLiteStore::Location::inMemory());
    auto model = HistoryViewModel::create(store);
    model->reload();
    ASSERT_TRUE(finishes(*model, 1));
    ASSERT_TRUE(model->summary());
    EXPECT_EQ(model->summary()->buckets.size(), 96u);
    EXPECT_EQ(model->summary()->sampleCount, 0);
    EXPECT_EQ(model->summary()->coverageRatio, 0);
    EXPECT_TRUE(model->summary()->incidents.empty());

    // A stored batch and an open incident that began before the period show up in the next load.
    const Timestamp now = nowTimestamp();
    ProbeBatch batch;
    batch.id = QUuid::createUuid();
    batch.timestamp = now - 60;
    batch.samples = {sample(ProbeKind::gateway, now - 60, 3), sample(ProbeKind::publicIP, now - 60, 21)};
    for (auto& s : batch.samples)
        s.batchID = batch.id;
    Incident open;
    open.id = QUuid::createUuid();
    open.startTimestamp = now - 2 * 86400;
    bool saved = false;
    asio::co_spawn(rt::QtExecutor(),
                   [&]() -> rt::awaitable<void> {
                       co_await store->insertSamples(batch);
                       co_await store->upsertIncident(open);
                       saved = true;
                   },
                   asio::detached);
    ASSERT_TRUE(test::pumpUntil([&] { return saved; }));
    model->reload();
    ASSERT_TRUE(finishes(*model, 2));
    ASSERT_TRUE(model->summary());
    EXPECT_EQ(model->summary()->sampleCount, 2);
    EXPECT_DOUBLE_EQ(model->summary()->coverageRatio, 1.0 / 96);
    EXPECT_EQ(model->summary()->openIncidents().size(), 1u);
}

// The day's coverage caption through the store: slices before the first measurement the file holds
// are named as time before measuring began; once anything was measured earlier (a raw sample, or
// only its roll-up after the retention pass) a missing slice may be sleep or a stopped program.
TEST(HistoryModel, TimeBeforeTheFirstMeasurementIsNamedAsSuch)
{
    const QString before = QStringLiteral("A hiányzó rész a mérés kezdete előtti idő");
    const QString beforeAndPaused = QStringLiteral("A hiányzó rész a mérés kezdete előtti idő, alvás vagy leállított app");
    const QString paused = QStringLiteral("A hiányzó rész alvás vagy leállított app");
    const QString nothing = QStringLiteral("Ebben az időszakban még nem mértünk");
    const Timestamp now = 1'765'400'000;
    enum class Earlier { none, rawSample, rolledUpOnly };
    struct Row {
        const char* name;
        std::vector<int> slicesBack; // 15-minute slices before now that hold a batch
        Earlier earlier;
        bool startsBefore;
        QString caption;
    } rows[] = {
        {"fresh install, measured since", {0, 1, 2, 3, 4, 5, 6, 7}, Earlier::none, true, before},
        {"fresh install, then paused", {0, 1, 7}, Earlier::none, true, beforeAndPaused},
        {"fresh install, nothing yet", {}, Earlier::none, true, nothing},
        {"measured days ago", {0, 1, 2, 3, 4, 5, 6, 7}, Earlier::rawSample, false, paused},
        {"measured a month ago, rolled up", {0, 1, 2, 3, 4, 5, 6, 7}, Earlier::rolledUpOnly, false, paused},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        auto store = std::make_shared<SQLiteStore>(SQLiteStore::Location::inMemory());
        std::vector<ProbeBatch> batches;
        auto addBatch = [&](Timestamp t) {
            ProbeBatch b;
            b.id = QUuid::createUuid();
            b.timestamp = t;
            b.samples = {sample(ProbeKind::gateway, t, 3), sample(ProbeKind::publicIP, t, 21)};
            for (auto& s : b.samples)
                s.batchID = b.id;
            batches.push_back(b);
        };
        if (r.earlier == Earlier::rawSample)
            addBatch(now - 3 * 86400);
        if (r.earlier == Earlier::rolledUpOnly)
            addBatch(now - 30 * 86400);
        for (int back : r.slicesBack)
            addBatch(now - 60 - 900.0 * back);
        bool saved = false;
        asio::co_spawn(rt::QtExecutor(),
                       [&]() -> rt::awaitable<void> {
                           for (const ProbeBatch& b : batches)
                               co_await store->insertSamples(b);
                           co_await store->rollUpAndPrune(RetentionPolicy::standard(), now);
                           saved = true;
                       },
                       asio::detached);
        ASSERT_TRUE(test::pumpUntil([&] { return saved; }));
        auto model = HistoryViewModel::create(HistoryViewModel::storeReader(store), [now] { return now; });
        model->reload();
        ASSERT_TRUE(finishes(*model, 1));
        ASSERT_TRUE(model->summary());
        EXPECT_EQ(model->summary()->startsBeforeFirstMeasurement, r.startsBefore);
        EXPECT_EQ(history::coverageTiles(*model->summary())[0].caption, r.caption);
    }
}

// A month after the standard retention pass (raw rows for the newest week, hour roll-ups before it) on a
// dual-stack and on an IPv6-only network: each slice draws the analysed family's stored rows (the upper
// median of its raw public-host latencies, else of its roll-ups' p50s), and every sample is counted.
TEST(HistoryModel, TheMonthDrawsTheAnalysedFamily)
{
    const Timestamp now = 1'765'400'000, start = now - duration(HistoryRange::month);
    for (const bool dualStack : {true, false}) {
        SCOPED_TRACE(dualStack ? "dual stack" : "IPv6 only");
        const QString path = test::freshDatabasePath();
        std::vector<NetworkSample> rows;
        for (int i = 0; i < 30 * 72; ++i) // every 20 minutes
            for (const AddressFamily family : {AddressFamily::ipv4, AddressFamily::ipv6})
                for (const ProbeKind kind : {ProbeKind::gateway, ProbeKind::publicIP, ProbeKind::dns})
                    if (dualStack || family == AddressFamily::ipv6) {
                        const double base = family == AddressFamily::ipv6 ? 40 : 20;
                        rows.push_back(test::makeSample(start + 1200.0 * i + base / 80, kind,
                                                        kind == ProbeKind::publicIP ? base + i % 7 : 2.0));
                        rows.back().family = family;
                    }
        {
            store::StoreDatabase db(StoreLocation::file(path));
            test::RawDb(path).insertSamples(rows);
            db.rollUpAndPrune(RetentionPolicy::standard(), now);
        }
        test::RawDb raw(path);
        std::map<int, double> expected;
        for (const QString& row : raw.column(
                 QStringLiteral(
                     "WITH p(s, e, w) AS (SELECT %1, %2, (%2 - %1) / 96.0), raw AS (SELECT MIN(95, CAST((timestamp "
                     "- s) / w AS INT)) AS slice, latency_ms AS v FROM network_samples, p WHERE target_kind = 'publicIP' "
                     "AND family %3 AND timestamp BETWEEN s AND e), rolled AS (SELECT MIN(95, CAST((bucket_start - s) / w "
                     "AS INT)) AS slice, p50_ms AS v FROM sample_rollups, p WHERE bucket_seconds = 3600 AND target_kind "
                     "= 'publicIP' AND family = '%4' AND bucket_start BETWEEN s AND e), v AS (SELECT * FROM raw UNION ALL "
                     "SELECT * FROM rolled WHERE slice NOT IN (SELECT slice FROM raw)), r AS (SELECT slice, v, ROW_NUMBER() "
                     "OVER (PARTITION BY slice ORDER BY v) - 1 AS k, COUNT(*) OVER (PARTITION BY slice) AS n FROM v) "
                     "SELECT slice || ' ' || v FROM r WHERE k = n / 2;")
                     .arg(start, 0, 'f', 3).arg(now, 0, 'f', 3)
                     .arg(dualStack ? "IS NULL" : "= 'ipv6'", dualStack ? "ipv4" : "ipv6")))
            expected[row.section(u' ', 0, 0).toInt()] = row.section(u' ', 1, 1).toDouble();
        EXPECT_GE(expected.size(), 95u);

        auto model = HistoryViewModel::create(
            HistoryViewModel::storeReader(std::make_shared<SQLiteStore>(SQLiteStore::Location::file(path))), [now] { return now; });
        model->setRange(HistoryRange::month);
        ASSERT_TRUE(finishes(*model, 1));
        ASSERT_TRUE(model->summary() && model->summary()->buckets.size() == 96u);
        EXPECT_TRUE(model->summary()->buckets.front().isAggregated);
        for (int i = 0; i < 96; ++i)
            EXPECT_EQ(model->summary()->buckets[std::size_t(i)].medianProviderMs,
                      expected.count(i) ? std::optional<double>(expected[i]) : std::nullopt) << "slice " << i;
        EXPECT_EQ(model->summary()->sampleCount, raw.integer(QStringLiteral("SELECT (SELECT COUNT(*) FROM network_samples) "
                                                                            "+ (SELECT SUM(sample_count) FROM sample_rollups "
                                                                            "WHERE bucket_seconds = 3600 AND bucket_start >= %1);")
                                                                 .arg(start, 0, 'f', 3)));
    }
}

} // namespace
