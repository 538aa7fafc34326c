#pragma once
// The evidence store: one SQLite database holding every sample, Wi-Fi reading, event, marker,
// incident, load test, the saved quality baseline and the roll-ups of old samples.
//
// The store is an actor with a thread of its own: each operation is an awaitable that runs the
// blocking SQLite work there, one at a time, so the GUI thread never waits on the database. Opening,
// creating the schema and migrating happen in the constructor, synchronously, before anyone else can
// reach the store. Every failure is a StoreError (see StoreError.h).

#include "core/records/LoadTestResult.h"
#include "core/records/Quality.h"
#include "core/records/Records.h"
#include "core/records/Runtime.h"
#include "core/store/Retention.h"
#include "core/store/StoreError.h"

#include <QString>

#include <functional>
#include <chrono>
#include <future>
#include <memory>
#include <optional>
#include <type_traits>
#include <vector>

namespace pv {

namespace store {
class StoreDatabase;
}

// How long one step of the retention pass may work before it commits and lets other writes in.
inline constexpr std::chrono::milliseconds kPruneStepBudget{25};

// Where the evidence database lives: a file, or SQLite's private in-memory database.
class StoreLocation {
public:
    static StoreLocation file(QString path) { return StoreLocation(false, std::move(path)); }
    static StoreLocation inMemory() { return StoreLocation(true, QString()); }

    bool isInMemory() const { return inMemory_; }
    // The file's path; empty for the in-memory location.
    const QString& path() const { return path_; }
    bool operator==(const StoreLocation&) const = default;

private:
    StoreLocation(bool inMemory, QString path) : inMemory_(inMemory), path_(std::move(path)) {}
    bool inMemory_;
    QString path_;
};

// A raw sample reduced to what a summary over many of them needs.
struct SamplePoint {
    Timestamp timestamp = 0;
    ProbeKind kind = ProbeKind::gateway;
    std::optional<double> latencyMilliseconds;
    bool success = false;
    AddressFamily family = AddressFamily::ipv4;
};

// A raw sample as a report over a long period folds it: the fields its figures read, nothing kept.
struct SampleRow {
    Timestamp timestamp = 0;
    ProbeKind kind = ProbeKind::gateway;
    std::optional<double> latencyMilliseconds;
    bool success = false;
    std::optional<double> packetLoss;
    QByteArrayView interfaceName; // UTF-8, valid only while the row is being visited
    AddressFamily family = AddressFamily::ipv4;
};

struct SampleVisit {
    std::int64_t visited = 0; // rows handed to the visitors
    std::int64_t total = 0;   // samples of every kind in the period
};

class SQLiteStore : public rt::BlockingActor {
public:
    using Location = StoreLocation;
    struct Unavailable {
        QString reason;
    };

    // Opens the file at filePath, or at defaultLocation() when none is given.
    explicit SQLiteStore(const std::optional<QString>& filePath = std::nullopt);
    // Opens or creates the database, creates the schema and migrates it; throws on any failure
    // (a StoreError, or the file system's error when the folder cannot be made).
    explicit SQLiteStore(const Location& location);
    // A store without a connection: every operation fails with code 99 and this reason.
    explicit SQLiteStore(Unavailable unavailable);
    static std::unique_ptr<SQLiteStore> unavailable(QString reason);
    ~SQLiteStore() override;

    // POLVARINE_DB when set and not empty (a leading "~" expanded), else the per-user data folder's
    // Polvarine/polvarine.sqlite3; the parent folder is created. Throws the file system's error.
    static QString defaultLocation();
    // How many parts a long period read is made in at once: one per processor but one (left to the
    // window), at least two and at most eight.
    static std::size_t periodReadParts();

    const Location& location() const { return location_; }
    const std::optional<QString>& unavailableReason() const { return unavailableReason_; }
    bool isAvailable() const { return database_ != nullptr; }

    // Writers: one INSERT OR REPLACE per row, no enclosing transaction.
    rt::awaitable<void> insertSamples(ProbeBatch batch);
    rt::awaitable<void> insertWifiSnapshot(WifiSnapshot snapshot);
    rt::awaitable<void> insertEvent(DiagnosticEvent event);
    rt::awaitable<void> insertMarker(ManualMarker marker);
    // An incident whose end is not after its start is not stored: its row, if any, is removed.
    rt::awaitable<void> upsertIncident(Incident incident);
    rt::awaitable<void> insertLoadTest(LoadTestResult result);
    rt::awaitable<void> saveBaseline(QualityBaseline baseline);
    rt::awaitable<void> deleteBaseline();

    // Single-value reads.
    rt::awaitable<std::optional<QualityBaseline>> loadBaseline();
    rt::awaitable<std::optional<Timestamp>> lastSessionBoundary();
    // The newest stored load test, if any.
    rt::awaitable<std::optional<StoredLoadTest>> latestLoadTest();
    rt::awaitable<std::optional<Timestamp>> earliestTimestamp();
    // The oldest raw sample or roll-up start, whichever is older; none for a file with neither.
    rt::awaitable<std::optional<Timestamp>> earliestMeasurement();
    rt::awaitable<std::vector<SampleRollup>> rollups(double bucketSeconds, Timestamp from, Timestamp to);
    // See StoreDatabase::analysedFamily.
    rt::awaitable<AddressFamily> analysedFamily(Timestamp from, Timestamp to, double bucketSeconds);

    // Newest first.
    rt::awaitable<std::vector<NetworkSample>> recentSamples(int limit);
    rt::awaitable<std::vector<WifiSnapshot>> recentWifiSnapshots(int limit);
    rt::awaitable<std::vector<Incident>> recentIncidents(int limit);
    rt::awaitable<std::vector<DiagnosticEvent>> recentEvents(int limit);
    rt::awaitable<std::vector<ManualMarker>> recentMarkers(int limit);

    // Oldest first, both ends included; of one address family when one is named.
    rt::awaitable<std::vector<NetworkSample>> samples(Timestamp from, Timestamp to,
                                                      std::optional<AddressFamily> family = std::nullopt);
    // The rows of samples(from, to) of the given kinds, without building a record, for summaries
    // over millions of rows: the period is cut into as many consecutive parts as there are
    // visitors, and visitors[i] is handed the rows of the i-th part, kind after kind, each kind
    // family by family (IPv4's points before IPv6's), each in time order. The parts of a database
    // file are read at once, each on a thread and connection of its own, so a visitor must touch
    // only its own state. Also counts the period's samples of every kind, in the same read.
    rt::awaitable<SampleVisit> visitSamples(Timestamp from, Timestamp to, std::vector<ProbeKind> kinds,
                                            std::vector<std::function<void(const SamplePoint&)>> visitors);
    rt::awaitable<std::vector<WifiSnapshot>> wifiSnapshots(Timestamp from, Timestamp to);
    // Incidents that start or end in the period, span it, or are still open and began before its end.
    rt::awaitable<std::vector<Incident>> incidents(Timestamp from, Timestamp to);
    rt::awaitable<std::vector<DiagnosticEvent>> events(Timestamp from, Timestamp to);
    rt::awaitable<std::vector<ManualMarker>> markers(Timestamp from, Timestamp to);

    // Rolls complete old buckets up and prunes every table by the policy, in short steps (each its
    // own transaction, about 25 ms) so that writes queued meanwhile run between them.
    rt::awaitable<void> rollUpAndPrune(RetentionPolicy policy, Timestamp now);
    // How long one of those steps may work (zero: one unit of work per step). Set before use.
    void setPruneStepBudget(std::chrono::milliseconds budget) { pruneStepBudget_ = budget; }

    // Has SQLite read what a long history read needs (the samples' points index and the roll-ups) on
    // a read-only connection and a thread of their own, so that the first long read finds those pages
    // in the system's cache. The file is never opened other than through SQLite: closing a descriptor
    // of it would drop every lock this process holds on it, and the next connection of another
    // process would then take the write-ahead log for its own and delete it. One warm-up at a time:
    // a call while one runs returns that one's end. Ready at once for a store in memory or without a
    // connection; the destructor stops a warm-up under way.
    std::shared_future<void> warmFileCache();

    // Runs job(connection) as one operation on the store's thread, serialised with every other
    // operation, and resumes the caller with its result or its exception. For readers that need
    // several reads of one consistent moment (include StoreDatabase.h for the connection's reads).
    // The job must not keep the connection. Without a connection it fails with the unavailable
    // error before the job runs.
    template <typename Job>
    auto runWithConnection(Job job) -> rt::awaitable<std::invoke_result_t<Job&, store::StoreDatabase&>>
    {
        return call([this, job = std::move(job)]() mutable { return job(requireDatabase()); });
    }

private:
    template <typename Fn> auto withDatabase(Fn fn);
    store::StoreDatabase& requireDatabase();

    struct CacheWarmUp;
    std::unique_ptr<store::StoreDatabase> database_;
    std::unique_ptr<CacheWarmUp> warmUp_;
    std::optional<QString> unavailableReason_;
    Location location_;
    std::chrono::milliseconds pruneStepBudget_ = kPruneStepBudget;
};

} // namespace pv
