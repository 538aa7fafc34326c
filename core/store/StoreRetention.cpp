// One pass of roll-up and pruning: old raw samples are summarised into minute and hour buckets, then
// every table loses what its retention period no longer covers, all in one transaction.
#include "core/store/StoreDatabase.h"

#include <cmath>

namespace pv::store {

namespace {

constexpr const char* kRollUp = R"(WITH scoped AS (
    SELECT CAST(timestamp / ?1 AS INTEGER) * ?1 AS bucket_start,
           target_kind, latency_ms, success, packet_loss
    FROM network_samples
    WHERE timestamp < ?2
),
agg AS (
    SELECT bucket_start, target_kind,
           COUNT(*) AS n,
           SUM(success) AS ok,
           MAX(latency_ms) AS mx,
           AVG(COALESCE(packet_loss, CASE WHEN success = 1 THEN 0.0 ELSE 1.0 END)) AS loss
    FROM scoped
    GROUP BY bucket_start, target_kind
),
ranked AS (
    SELECT bucket_start, target_kind, latency_ms,
           ROW_NUMBER() OVER (PARTITION BY bucket_start, target_kind ORDER BY latency_ms) AS rn,
           CAST((COUNT(*) OVER (PARTITION BY bucket_start, target_kind) - 1) * 0.5 AS INTEGER) + 1 AS rn50,
           CAST((COUNT(*) OVER (PARTITION BY bucket_start, target_kind) - 1) * 0.95 AS INTEGER) + 1 AS rn95
    FROM scoped
    WHERE success = 1 AND latency_ms IS NOT NULL
),
pct AS (
    SELECT bucket_start, target_kind,
           MAX(CASE WHEN rn = rn50 THEN latency_ms END) AS p50,
           MAX(CASE WHEN rn = rn95 THEN latency_ms END) AS p95
    FROM ranked
    GROUP BY bucket_start, target_kind
)
INSERT OR REPLACE INTO sample_rollups
    (bucket_start, bucket_seconds, target_kind, sample_count, success_count, p50_ms, p95_ms, max_ms, loss_ratio)
SELECT agg.bucket_start, ?1, agg.target_kind, agg.n, agg.ok, pct.p50, pct.p95, agg.mx, agg.loss
FROM agg
LEFT JOIN pct ON pct.bucket_start = agg.bucket_start AND pct.target_kind = agg.target_kind;)";

constexpr const char* kDeleteSamples = "DELETE FROM network_samples WHERE timestamp < ?;";
constexpr const char* kDeleteWifi = "DELETE FROM wifi_snapshots WHERE timestamp < ?;";
constexpr const char* kDeleteRollups = "DELETE FROM sample_rollups WHERE bucket_seconds = ? AND bucket_start < ?;";
constexpr const char* kDeleteEvents = "DELETE FROM events WHERE timestamp < ?;";
constexpr const char* kDeleteMarkers = "DELETE FROM markers WHERE timestamp < ?;";
constexpr const char* kDeleteIncidents = "DELETE FROM incidents WHERE COALESCE(end_timestamp, start_timestamp) < ?;";

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

void StoreDatabase::runStep(const char* sql, std::initializer_list<double> params)
{
    Statement statement(db_, sql);
    int pos = 1;
    for (double value : params)
        statement.bind(pos++, value);
    statement.run();
}

void StoreDatabase::rollUp(double bucketSeconds, Timestamp cutoff) { runStep(kRollUp, {bucketSeconds, cutoff}); }

void StoreDatabase::rollUpAndPrune(const RetentionPolicy& policy, Timestamp now)
{
    const Timestamp rawCutoff = rawSampleCutoff(policy, now);
    const Timestamp narrativeCutoff = now - policy.narrativeSeconds;

    exec("BEGIN IMMEDIATE;");
    try {
        rollUp(RetentionPolicy::minuteBucket, rawCutoff);
        rollUp(RetentionPolicy::hourBucket, rawCutoff);
        runStep(kDeleteSamples, {rawCutoff});
        runStep(kDeleteWifi, {now - policy.wifiSnapshotSeconds});
        runStep(kDeleteRollups, {RetentionPolicy::minuteBucket, now - policy.minuteRollupSeconds});
        runStep(kDeleteRollups, {RetentionPolicy::hourBucket, now - policy.hourRollupSeconds});
        runStep(kDeleteEvents, {narrativeCutoff});
        runStep(kDeleteMarkers, {narrativeCutoff});
        runStep(kDeleteIncidents, {narrativeCutoff});
        exec("COMMIT;");
    } catch (...) {
        rollbackQuietly();
        throw;
    }
}

} // namespace pv::store
