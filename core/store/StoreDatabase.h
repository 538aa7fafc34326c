#pragma once
// The store's connection and the blocking work done on it. Only SQLiteStore uses this, always on
// its own thread; the tests reach the migration list through it.

#include "core/store/SQLiteStore.h"
#include "core/store/Statement.h"

#include <QString>

#include <sqlite3.h>

#include <chrono>
#include <initializer_list>
#include <vector>

namespace pv::store {

inline constexpr int newestSchemaVersion = 7;

// How long a statement waits for another process's lock before it reports the database busy.
inline constexpr int kBusyTimeoutMilliseconds = 5000;


struct SchemaMigration {
    struct ColumnAddition {
        QString table;
        QString column;
        QString definition;
    };
    int version = 0;
    QString name;
    std::vector<QString> statements;
    std::vector<ColumnAddition> columnAdditions;
};

// Versions 1 to 6, in order.
// What reading the file ahead for the history steps through, each statement to its end: the indexes
// that the month's sample read passes along (the points of the drawn kinds, the counts of the
// others) and the roll-ups' rows.
const std::vector<const char*>& fileCacheWarmUpStatements();
const std::vector<SchemaMigration>& schemaMigrations();

// The time below which raw samples are rolled up and deleted: the policy's raw cut-off, rounded
// down to a whole hour so that only complete buckets are summarised.
Timestamp rawSampleCutoff(const RetentionPolicy& policy, Timestamp now);

// The statement that writes one sample, and its bindings; bulk writers of the tests and the
// benchmarks reuse them inside a transaction of their own.
extern const char* const kInsertSampleStatement;
void bindSample(Statement& statement, const NetworkSample& sample);

class StoreDatabase {
public:
    // Opens, creates the schema and migrates; the connection is closed again when any step fails.
    explicit StoreDatabase(const StoreLocation& location);
    ~StoreDatabase();
    StoreDatabase(const StoreDatabase&) = delete;
    StoreDatabase& operator=(const StoreDatabase&) = delete;

    // Writers
    void insertSamples(const ProbeBatch& batch);
    void insertWifiSnapshot(const WifiSnapshot& snapshot);
    void insertEvent(const DiagnosticEvent& event);
    void insertMarker(const ManualMarker& marker);
    void upsertIncident(const Incident& incident);
    void insertLoadTest(const LoadTestResult& result);
    void saveBaseline(const QualityBaseline& baseline);
    void deleteBaseline();

    // Reads
    std::optional<QualityBaseline> loadBaseline();
    std::optional<Timestamp> lastSessionBoundary();
    std::optional<StoredLoadTest> latestLoadTest();
    std::optional<Timestamp> earliestTimestamp();
    // The oldest measurement the file still speaks of: a raw sample or the start of a roll-up.
    std::optional<Timestamp> earliestMeasurement();
    std::vector<SampleRollup> rollups(double bucketSeconds, Timestamp from, Timestamp to);
    // The family a period's figures are made of: IPv4 wherever it holds an IPv4 sample or an IPv4
    // roll-up bucket of the given width beginning in it, IPv6 on a network that had nothing else.
    AddressFamily analysedFamily(Timestamp from, Timestamp to, double bucketSeconds);
    std::vector<NetworkSample> recentSamples(int limit);
    std::vector<WifiSnapshot> recentWifiSnapshots(int limit);
    std::vector<Incident> recentIncidents(int limit);
    std::vector<DiagnosticEvent> recentEvents(int limit);
    std::vector<ManualMarker> recentMarkers(int limit);
    std::vector<NetworkSample> samples(Timestamp from, Timestamp to, std::optional<AddressFamily> family = {});
    SampleVisit visitSamples(Timestamp from, Timestamp to, const std::vector<ProbeKind>& kinds,
                             const std::vector<std::function<void(const SamplePoint&)>>& visitors);
    std::vector<WifiSnapshot> wifiSnapshots(Timestamp from, Timestamp to);
    // The period's rows handed one at a time, in timestamp order, without a list of them all; the
    // statement is finalized when the read ends, also when it or the visitor fails. The Wi-Fi
    // readings come without their ids.
    void visitPeriodSamples(Timestamp from, Timestamp to, const std::function<void(const SampleRow&)>& visit);
    void visitWifiSnapshots(Timestamp from, Timestamp to, const std::function<void(const WifiSnapshot&)>& visit);
    std::vector<Incident> incidents(Timestamp from, Timestamp to);
    std::vector<DiagnosticEvent> events(Timestamp from, Timestamp to);
    std::vector<ManualMarker> markers(Timestamp from, Timestamp to);

    // A whole pass of roll-up and pruning, in steps.
    void rollUpAndPrune(const RetentionPolicy& policy, Timestamp now);
    // One step of that pass in a transaction of its own: units of work (an hour of raw samples
    // rolled up and deleted, or a chunk of deletes), oldest first, until the budget is spent; the
    // unit at hand is always finished. False when the pass found nothing left to do.
    bool rollUpAndPruneStep(const RetentionPolicy& policy, Timestamp now, std::chrono::milliseconds budget);
    // Summarises the raw samples below the cut-off (and from `from` on) into buckets of one width,
    // replacing those buckets' rows; the raw samples stay.
    void rollUp(double bucketSeconds, Timestamp cutoff);
    void rollUp(double bucketSeconds, Timestamp from, Timestamp cutoff);

private:
    void close();
    void exec(const QString& sql);
    void exec(const char* sql);
    void rollbackQuietly();
    int schemaVersion();
    bool hasRecordedData();
    void backupBeforeMigration(const StoreLocation& location, int version);
    bool columnExists(const QString& table, const QString& column);
    void migrate(const StoreLocation& location);
    // Runs one statement with these parameters; the number of rows it changed.
    int runStep(const char* sql, std::initializer_list<double> params);
    bool rollUpOldestRawHour(Timestamp rawCutoff);
    // Runs read(part, connection, isLast, from, to) for up to `parts` consecutive parts of [from, to]
    // that hold about as many samples each (a part's own end is excluded, the last one's included;
    // a short period is one part), at once on connections of their own when the store is a file;
    // rethrows the first failure.
    void forEachSamplePart(Timestamp from, Timestamp to, std::size_t parts,
                           const std::function<void(std::size_t, sqlite3*, bool, Timestamp, Timestamp)>& read);
    void rollUpRange(Timestamp from, Timestamp to);

    sqlite3* db_ = nullptr;
};

} // namespace pv::store
