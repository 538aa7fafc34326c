#include "core/store/SQLiteStore.h"

#include "core/records/Logging.h"
#include "core/records/PrivateFiles.h"
#include "core/store/StoreDatabase.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <sqlite3.h>

#include <algorithm>
#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace pv {

std::size_t SQLiteStore::periodReadParts()
{
    const unsigned processors = std::thread::hardware_concurrency();
    return std::clamp<std::size_t>(processors > 1 ? processors - 1 : 2, 2, 8);
}

QString SQLiteStore::defaultLocation()
{
    const QString override = qEnvironmentVariable("POLVARINE_DB");
    if (!override.isEmpty()) {
        QString path = override;
        if (path == QLatin1String("~") || path.startsWith(QLatin1String("~/")))
            path = QDir::homePath() + path.mid(1);
        path = QFileInfo(path).absoluteFilePath();
        // A folder the user named: only the parts made here are made private.
        makePrivateFolder(QFileInfo(path).absolutePath(), false);
        return path;
    }
    const QString dataFolder = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (dataFolder.isEmpty())
        throw std::runtime_error("No per-user data folder is available for the evidence database.");
    const QString folder = dataFolder + QStringLiteral("/Polvarine");
    makePrivateFolder(folder, true);
    return folder + QStringLiteral("/polvarine.sqlite3");
}

SQLiteStore::SQLiteStore(const std::optional<QString>& filePath)
    : SQLiteStore(Location::file(filePath ? *filePath : defaultLocation()))
{
}

SQLiteStore::SQLiteStore(const Location& location)
    : BlockingActor("pv-store"), database_(std::make_unique<store::StoreDatabase>(location)), location_(location)
{
}

SQLiteStore::SQLiteStore(Unavailable unavailable)
    : BlockingActor("pv-store"), unavailableReason_(std::move(unavailable.reason)), location_(Location::inMemory())
{
    qCCritical(log::storage(), "Evidence store unavailable: %s", qUtf8Printable(*unavailableReason_));
}

std::unique_ptr<SQLiteStore> SQLiteStore::unavailable(QString reason)
{
    return std::make_unique<SQLiteStore>(Unavailable{std::move(reason)});
}

// One warm-up's thread and its connection, which the store's end interrupts.
struct SQLiteStore::CacheWarmUp {
    std::mutex mutex;
    sqlite3* db = nullptr;
    bool stopping = false;
    std::shared_future<void> done;
    std::thread thread;

    ~CacheWarmUp()
    {
        {
            const std::lock_guard lock(mutex);
            stopping = true;
            if (db)
                sqlite3_interrupt(db);
        }
        if (thread.joinable())
            thread.join();
    }

    void run(const QByteArray& path)
    {
        sqlite3* connection = nullptr;
        if (sqlite3_open_v2(path.constData(), &connection, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) !=
            SQLITE_OK) {
            qCWarning(log::storage(), "Reading the database ahead failed: %s", sqlite3_errmsg(connection));
            sqlite3_close_v2(connection);
            return;
        }
        {
            const std::lock_guard lock(mutex);
            if (stopping) {
                sqlite3_close_v2(connection);
                return;
            }
            db = connection;
        }
        sqlite3_busy_timeout(connection, store::kBusyTimeoutMilliseconds);
        for (const char* sql : store::fileCacheWarmUpStatements()) {
            const int rc = sqlite3_exec(connection, sql, nullptr, nullptr, nullptr);
            if (rc != SQLITE_OK) {
                if (rc != SQLITE_INTERRUPT)
                    qCWarning(log::storage(), "Reading the database ahead failed: %s", sqlite3_errmsg(connection));
                break;
            }
        }
        const std::lock_guard lock(mutex);
        db = nullptr;
        sqlite3_close_v2(connection);
    }
};

SQLiteStore::~SQLiteStore()
{
    // Queued operations finish before the connection goes away.
    shutdownThread();
}

std::shared_future<void> SQLiteStore::warmFileCache()
{
    if (warmUp_ && warmUp_->done.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
        return warmUp_->done;
    warmUp_.reset();
    if (!database_ || location_.isInMemory() || location_.path().isEmpty()) {
        std::promise<void> ready;
        ready.set_value();
        return ready.get_future().share();
    }
    auto warmUp = std::make_unique<CacheWarmUp>();
    auto finished = std::make_shared<std::promise<void>>();
    warmUp->done = finished->get_future().share();
    warmUp->thread = std::thread([state = warmUp.get(), path = QFile::encodeName(location_.path()), finished] {
        rt::nameThisThread("pv-store-warm");
        state->run(path);
        finished->set_value();
    });
    warmUp_ = std::move(warmUp);
    return warmUp_->done;
}

store::StoreDatabase& SQLiteStore::requireDatabase()
{
    if (!database_)
        throw StoreError(StoreError::unavailable,
                         unavailableReason_.value_or(QStringLiteral("The evidence store is unavailable.")));
    return *database_;
}

// Runs fn(database) on the store's thread.
template <typename Fn> auto SQLiteStore::withDatabase(Fn fn)
{
    return call([this, fn = std::move(fn)]() mutable { return fn(requireDatabase()); });
}

using store::StoreDatabase;

rt::awaitable<void> SQLiteStore::insertSamples(ProbeBatch batch)
{
    return withDatabase([batch = std::move(batch)](StoreDatabase& db) { db.insertSamples(batch); });
}
rt::awaitable<void> SQLiteStore::insertWifiSnapshot(WifiSnapshot snapshot)
{
    return withDatabase([snapshot = std::move(snapshot)](StoreDatabase& db) { db.insertWifiSnapshot(snapshot); });
}
rt::awaitable<void> SQLiteStore::insertEvent(DiagnosticEvent event)
{
    return withDatabase([event = std::move(event)](StoreDatabase& db) { db.insertEvent(event); });
}
rt::awaitable<void> SQLiteStore::insertMarker(ManualMarker marker)
{
    return withDatabase([marker = std::move(marker)](StoreDatabase& db) { db.insertMarker(marker); });
}
rt::awaitable<void> SQLiteStore::upsertIncident(Incident incident)
{
    return withDatabase([incident = std::move(incident)](StoreDatabase& db) { db.upsertIncident(incident); });
}
rt::awaitable<void> SQLiteStore::insertLoadTest(LoadTestResult result)
{
    return withDatabase([result = std::move(result)](StoreDatabase& db) { db.insertLoadTest(result); });
}
rt::awaitable<void> SQLiteStore::saveBaseline(QualityBaseline baseline)
{
    return withDatabase([baseline = std::move(baseline)](StoreDatabase& db) { db.saveBaseline(baseline); });
}
rt::awaitable<void> SQLiteStore::deleteBaseline()
{
    return withDatabase([](StoreDatabase& db) { db.deleteBaseline(); });
}

rt::awaitable<std::optional<QualityBaseline>> SQLiteStore::loadBaseline()
{
    return withDatabase([](StoreDatabase& db) { return db.loadBaseline(); });
}
rt::awaitable<std::optional<Timestamp>> SQLiteStore::lastSessionBoundary()
{
    return withDatabase([](StoreDatabase& db) { return db.lastSessionBoundary(); });
}
rt::awaitable<std::optional<StoredLoadTest>> SQLiteStore::latestLoadTest()
{
    return withDatabase([](StoreDatabase& db) { return db.latestLoadTest(); });
}
rt::awaitable<std::optional<Timestamp>> SQLiteStore::earliestTimestamp()
{
    return withDatabase([](StoreDatabase& db) { return db.earliestTimestamp(); });
}
rt::awaitable<std::optional<Timestamp>> SQLiteStore::earliestMeasurement()
{
    return withDatabase([](StoreDatabase& db) { return db.earliestMeasurement(); });
}
rt::awaitable<AddressFamily> SQLiteStore::analysedFamily(Timestamp from, Timestamp to, double bucketSeconds)
{
    return withDatabase([=](StoreDatabase& db) { return db.analysedFamily(from, to, bucketSeconds); });
}
rt::awaitable<std::vector<SampleRollup>> SQLiteStore::rollups(double bucketSeconds, Timestamp from, Timestamp to)
{
    return withDatabase([=](StoreDatabase& db) { return db.rollups(bucketSeconds, from, to); });
}

rt::awaitable<std::vector<NetworkSample>> SQLiteStore::recentSamples(int limit)
{
    return withDatabase([=](StoreDatabase& db) { return db.recentSamples(limit); });
}
rt::awaitable<std::vector<WifiSnapshot>> SQLiteStore::recentWifiSnapshots(int limit)
{
    return withDatabase([=](StoreDatabase& db) { return db.recentWifiSnapshots(limit); });
}
rt::awaitable<std::vector<Incident>> SQLiteStore::recentIncidents(int limit)
{
    return withDatabase([=](StoreDatabase& db) { return db.recentIncidents(limit); });
}
rt::awaitable<std::vector<DiagnosticEvent>> SQLiteStore::recentEvents(int limit)
{
    return withDatabase([=](StoreDatabase& db) { return db.recentEvents(limit); });
}
rt::awaitable<std::vector<ManualMarker>> SQLiteStore::recentMarkers(int limit)
{
    return withDatabase([=](StoreDatabase& db) { return db.recentMarkers(limit); });
}

rt::awaitable<std::vector<NetworkSample>> SQLiteStore::samples(Timestamp from, Timestamp to,
                                                               std::optional<AddressFamily> family)
{
    return withDatabase([=](StoreDatabase& db) { return db.samples(from, to, family); });
}
rt::awaitable<SampleVisit> SQLiteStore::visitSamples(Timestamp from, Timestamp to, std::vector<ProbeKind> kinds,
                                                    std::vector<std::function<void(const SamplePoint&)>> visitors)
{
    return withDatabase([=, kinds = std::move(kinds), visitors = std::move(visitors)](StoreDatabase& db) {
        return db.visitSamples(from, to, kinds, visitors);
    });
}
rt::awaitable<std::vector<WifiSnapshot>> SQLiteStore::wifiSnapshots(Timestamp from, Timestamp to)
{
    return withDatabase([=](StoreDatabase& db) { return db.wifiSnapshots(from, to); });
}
rt::awaitable<std::vector<Incident>> SQLiteStore::incidents(Timestamp from, Timestamp to)
{
    return withDatabase([=](StoreDatabase& db) { return db.incidents(from, to); });
}
rt::awaitable<std::vector<DiagnosticEvent>> SQLiteStore::events(Timestamp from, Timestamp to)
{
    return withDatabase([=](StoreDatabase& db) { return db.events(from, to); });
}
rt::awaitable<std::vector<ManualMarker>> SQLiteStore::markers(Timestamp from, Timestamp to)
{
    return withDatabase([=](StoreDatabase& db) { return db.markers(from, to); });
}

// Each step is a call of its own on the store's thread: writes queued meanwhile run between steps.
rt::awaitable<void> SQLiteStore::rollUpAndPrune(RetentionPolicy policy, Timestamp now)
{
    const std::chrono::milliseconds budget = pruneStepBudget_;
    while (co_await withDatabase([=](StoreDatabase& db) { return db.rollUpAndPruneStep(policy, now, budget); })) {
    }
}

} // namespace pv
