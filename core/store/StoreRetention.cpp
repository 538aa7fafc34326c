// One pass of roll-up and pruning: old raw samples are summarised into minute and hour buckets, then
// every table loses what its retention period no longer covers. The pass runs in short steps, each
// its own transaction, so that the probe cycle's writes never wait long behind a big prune.
#include "core/store/StoreDatabase.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <cmath>
#include <limits>
#include <map>
#include <tuple>
#include <optional>
#include <vector>

namespace pv::store {

namespace {

constexpr const char* kRollUp = R"(WITH scoped AS (
    SELECT CAST(timestamp / ?1 AS INTEGER) * ?1 AS bucket_start,
           timestamp, target_kind, COALESCE(family, 'ipv4') AS family, latency_ms, success, packet_loss
    FROM network_samples
    WHERE timestamp >= ?3 AND timestamp < ?2
),
agg AS (
    SELECT bucket_start, target_kind, family,
           COUNT(*) AS n,
           SUM(success) AS ok,
           MAX(latency_ms) AS mx,
           AVG(COALESCE(packet_loss, CASE WHEN success = 1 THEN 0.0 ELSE 1.0 END)) AS loss,
           MIN(timestamp) AS first_at,
           MAX(timestamp) AS last_at
    FROM scoped
    GROUP BY bucket_start, target_kind, family
),
ranked AS (
    SELECT bucket_start, target_kind, family, latency_ms,
           ROW_NUMBER() OVER (PARTITION BY bucket_start, target_kind, family ORDER BY latency_ms) AS rn,
           CAST((COUNT(*) OVER (PARTITION BY bucket_start, target_kind, family) - 1) * 0.5 AS INTEGER) + 1 AS rn50,
           CAST((COUNT(*) OVER (PARTITION BY bucket_start, target_kind, family) - 1) * 0.95 AS INTEGER) + 1 AS rn95
    FROM scoped
    WHERE success = 1 AND latency_ms IS NOT NULL
),
pct AS (
    SELECT bucket_start, target_kind, family,
           MAX(CASE WHEN rn = rn50 THEN latency_ms END) AS p50,
           MAX(CASE WHEN rn = rn95 THEN latency_ms END) AS p95
    FROM ranked
    GROUP BY bucket_start, target_kind, family
)
INSERT OR REPLACE INTO sample_rollups
    (bucket_start, bucket_seconds, target_kind, sample_count, success_count, p50_ms, p95_ms, max_ms, loss_ratio,
     first_sample_timestamp, last_sample_timestamp, family)
SELECT agg.bucket_start, ?1, agg.target_kind, agg.n, agg.ok, pct.p50, pct.p95, agg.mx, agg.loss, agg.first_at, agg.last_at,
       agg.family
FROM agg
LEFT JOIN pct ON pct.bucket_start = agg.bucket_start AND pct.target_kind = agg.target_kind AND pct.family = agg.family;)";

constexpr const char* kHourRows = "SELECT timestamp, target_kind, latency_ms, success, packet_loss, family FROM network_samples "
                                  "WHERE timestamp >= ? AND timestamp < ? ORDER BY timestamp;";
constexpr const char* kUpsertRollup =
    "INSERT OR REPLACE INTO sample_rollups (bucket_start, bucket_seconds, target_kind, sample_count, success_count, "
    "p50_ms, p95_ms, max_ms, loss_ratio, first_sample_timestamp, last_sample_timestamp, family) "
    "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?);";
constexpr const char* kOldestSample = "SELECT MIN(timestamp) FROM network_samples WHERE timestamp < ?;";
constexpr const char* kDeleteSamples = "DELETE FROM network_samples WHERE timestamp >= ? AND timestamp < ?;";

// Each delete of the other tables removes at most kDeleteChunk rows, oldest first.
constexpr int kDeleteChunk = 2000;
constexpr const char* kDeleteWifi = "DELETE FROM wifi_snapshots WHERE rowid IN (SELECT rowid FROM wifi_snapshots "
                                    "WHERE timestamp < ?1 ORDER BY timestamp LIMIT ?2);";
constexpr const char* kDeleteRollups = "DELETE FROM sample_rollups WHERE rowid IN (SELECT rowid FROM sample_rollups "
                                       "WHERE bucket_seconds = ?3 AND bucket_start < ?1 ORDER BY bucket_start LIMIT ?2);";
constexpr const char* kDeleteEvents = "DELETE FROM events WHERE rowid IN (SELECT rowid FROM events "
                                      "WHERE timestamp < ?1 ORDER BY timestamp LIMIT ?2);";
constexpr const char* kDeleteMarkers = "DELETE FROM markers WHERE rowid IN (SELECT rowid FROM markers "
                                       "WHERE timestamp < ?1 ORDER BY timestamp LIMIT ?2);";
constexpr const char* kDeleteIncidents = "DELETE FROM incidents WHERE rowid IN (SELECT rowid FROM incidents "
                                         "WHERE COALESCE(end_timestamp, start_timestamp) < ?1 LIMIT ?2);";

} // namespace

// The raw samples are rolled up and deleted below one cut-off aligned to the hour: every minute and
// hour bucket below it is complete, so each bucket is summarised exactly once from all its samples.
// A cut-off inside a bucket would summarise the bucket's older part, delete it, and have the next
// pass replace that summary with one of the newer part only. Raw samples therefore stay up to an
// hour longer than the policy's raw period.
Timestamp rawSampleCutoff(const RetentionPolicy& policy, Timestamp now)
{
    return std::floor((now - policy.rawSampleSeconds) / RetentionPolicy::hourBucket) * RetentionPolicy::hourBucket;
}

int StoreDatabase::runStep(const char* sql, std::initializer_list<double> params)
{
    Statement statement(db_, sql);
    int pos = 1;
    for (double value : params)
        statement.bind(pos++, value);
    statement.run();
    return sqlite3_changes(db_);
}

void StoreDatabase::rollUp(double bucketSeconds, Timestamp cutoff)
{
    rollUp(bucketSeconds, -std::numeric_limits<double>::infinity(), cutoff);
}

void StoreDatabase::rollUp(double bucketSeconds, Timestamp from, Timestamp cutoff)
{
    runStep(kRollUp, {bucketSeconds, cutoff, from});
}

// The roll-up of one range of raw samples into minute and hour buckets in one read, with the same
// results as kRollUp: counts, the nearest-rank p50 and p95 of the successful latencies, the largest
// latency, the mean loss (a sample's stored loss, else 0 or 1 by its success), summed in timestamp
// order, and the instants of the first and last sample. One statement per width with window functions costs several times as much.
void StoreDatabase::rollUpRange(Timestamp from, Timestamp to)
{
    struct Bucket {
        int count = 0;
        int successes = 0;
        std::optional<double> max;
        double lossSum = 0;
        std::vector<double> latencies;
        double first = 0;
        double last = 0;
    };
    // Keyed by width, start, probe kind and address family.
    std::map<std::tuple<double, double, QByteArray, QByteArray>, Bucket> buckets;

    Statement rows(db_, kHourRows);
    rows.bind(1, from);
    rows.bind(2, to);
    QByteArray kind;
    QByteArray family;
    for (int rc = rows.step(); rc != SQLITE_DONE; rc = rows.step()) {
        if (rc != SQLITE_ROW)
            throw lastError(db_);
        const double t = rows.columnDouble(0);
        const QByteArrayView kindBytes = rows.columnBytes(1);
        if (kindBytes != QByteArrayView(kind))
            kind = kindBytes.toByteArray();
        // A sample's NULL family is IPv4 (see the schema); its bucket says so.
        const QByteArrayView familyBytes = rows.isNull(5) ? QByteArrayView("ipv4") : rows.columnBytes(5);
        if (familyBytes != QByteArrayView(family))
            family = familyBytes.toByteArray();
        const std::optional<double> latency = rows.columnOptDouble(2);
        const int success = rows.columnInt(3);
        const double loss = rows.isNull(4) ? (success == 1 ? 0.0 : 1.0) : rows.columnDouble(4);
        for (double width : {RetentionPolicy::minuteBucket, RetentionPolicy::hourBucket}) {
            const double start = static_cast<double>(static_cast<std::int64_t>(t / width)) * width;
            Bucket& b = buckets[{width, start, kind, family}];
            // The rows come in timestamp order.
            if (b.count == 0)
                b.first = t;
            b.last = t;
            ++b.count;
            b.successes += success;
            if (latency) {
                b.max = b.max ? std::max(*b.max, *latency) : *latency;
                if (success == 1)
                    b.latencies.push_back(*latency);
            }
            b.lossSum += loss;
        }
    }

    Statement upsert(db_, kUpsertRollup);
    for (auto& [key, b] : buckets) {
        const auto& [width, start, bucketKind, bucketFamily] = key;
        std::optional<double> p50, p95;
        if (!b.latencies.empty()) {
            std::sort(b.latencies.begin(), b.latencies.end());
            const auto n = static_cast<double>(b.latencies.size() - 1);
            p50 = b.latencies[static_cast<std::size_t>(static_cast<std::int64_t>(n * 0.5))];
            p95 = b.latencies[static_cast<std::size_t>(static_cast<std::int64_t>(n * 0.95))];
        }
        upsert.bindAll(start, width, bucketKind, b.count, b.successes, p50, p95, b.max, b.lossSum / b.count, b.first,
                       b.last, bucketFamily);
        upsert.run();
        upsert.reset();
    }
}

// Rolls up and deletes the raw samples of the oldest hour below the cut-off; false when none is left.
// The hour is aligned, so its minute and hour buckets are complete and summarised exactly once.
bool StoreDatabase::rollUpOldestRawHour(Timestamp rawCutoff)
{
    Statement oldest(db_, kOldestSample);
    oldest.bind(1, rawCutoff);
    const int rc = oldest.step();
    if (rc != SQLITE_ROW && rc != SQLITE_DONE)
        throw lastError(db_);
    if (rc != SQLITE_ROW || oldest.isNull(0))
        return false;
    const Timestamp from = std::floor(oldest.columnDouble(0) / RetentionPolicy::hourBucket) * RetentionPolicy::hourBucket;
    const Timestamp to = std::min(from + RetentionPolicy::hourBucket, rawCutoff);
    rollUpRange(from, to);
    runStep(kDeleteSamples, {from, to});
    return true;
}

bool StoreDatabase::rollUpAndPruneStep(const RetentionPolicy& policy, Timestamp now, std::chrono::milliseconds budget)
{
    const Timestamp rawCutoff = rawSampleCutoff(policy, now);
    const Timestamp narrativeCutoff = now - policy.narrativeSeconds;
    const double chunk = kDeleteChunk;
    // The units of work in order; each returns whether it found anything to do.
    const std::function<bool()> units[] = {
        [&] { return rollUpOldestRawHour(rawCutoff); },
        [&] { return runStep(kDeleteWifi, {now - policy.wifiSnapshotSeconds, chunk}) > 0; },
        [&] {
            return runStep(kDeleteRollups,
                           {now - policy.minuteRollupSeconds, chunk, RetentionPolicy::minuteBucket}) > 0;
        },
        [&] {
            return runStep(kDeleteRollups, {now - policy.hourRollupSeconds, chunk, RetentionPolicy::hourBucket}) > 0;
        },
        [&] { return runStep(kDeleteEvents, {narrativeCutoff, chunk}) > 0; },
        [&] { return runStep(kDeleteMarkers, {narrativeCutoff, chunk}) > 0; },
        [&] { return runStep(kDeleteIncidents, {narrativeCutoff, chunk}) > 0; },
    };

    const auto began = std::chrono::steady_clock::now();
    bool didWork = false;
    exec("BEGIN IMMEDIATE;");
    try {
        for (const auto& unit : units) {
            while (unit()) {
                didWork = true;
                if (std::chrono::steady_clock::now() - began >= budget) {
                    exec("COMMIT;");
                    return true;
                }
            }
        }
        exec("COMMIT;");
    } catch (...) {
        rollbackQuietly();
        throw;
    }
    return didWork;
}

void StoreDatabase::rollUpAndPrune(const RetentionPolicy& policy, Timestamp now)
{
    while (rollUpAndPruneStep(policy, now, kPruneStepBudget)) {
    }
}

} // namespace pv::store
