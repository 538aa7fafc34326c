// Opening the evidence database: the schema it creates, the numbered migrations and the backup
// written before them.
#include "core/store/StoreDatabase.h"

#include "core/records/Logging.h"
#include "core/records/PrivateFiles.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <filesystem>

namespace pv::store {

namespace {

// SQLite keeps process-wide memory statistics by default, behind one global mutex taken on every
// allocation: the parallel reads of a long period then wait on each other for every page they load.
// Nothing here reads those statistics. The setting is only taken before SQLite's first use.
void disableMemoryStatistics()
{
    static const bool once = [] {
        if (sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0) != SQLITE_OK)
            qCInfo(log::storage(), "SQLite was already in use: its memory statistics stay on");
        return true;
    }();
    (void)once;
}

// Run in this order on every open; all IF NOT EXISTS, so an existing database is left as it is.
constexpr const char* kCreateTables[] = {
    "CREATE TABLE IF NOT EXISTS network_samples (\n"
    "    id TEXT PRIMARY KEY,\n"
    "    batch_id TEXT NOT NULL,\n"
    "    timestamp DOUBLE NOT NULL,\n"
    "    target_kind TEXT NOT NULL,\n"
    "    target_label TEXT NOT NULL,\n"
    "    target_host TEXT NOT NULL,\n"
    "    interface_name TEXT NOT NULL,\n"
    "    local_address TEXT NOT NULL,\n"
    "    gateway_address TEXT NOT NULL,\n"
    "    latency_ms DOUBLE,\n"
    "    success INTEGER NOT NULL,\n"
    "    timeout_count INTEGER NOT NULL,\n"
    "    packet_loss DOUBLE,\n"
    "    error_description TEXT\n"
    ");",
    "CREATE TABLE IF NOT EXISTS wifi_snapshots (\n"
    "    id TEXT PRIMARY KEY,\n"
    "    timestamp DOUBLE NOT NULL,\n"
    "    interface_name TEXT NOT NULL,\n"
    "    local_address TEXT NOT NULL,\n"
    "    gateway_address TEXT NOT NULL,\n"
    "    ssid TEXT,\n"
    "    bssid TEXT,\n"
    "    channel INTEGER,\n"
    "    band TEXT,\n"
    "    rssi INTEGER,\n"
    "    noise INTEGER,\n"
    "    tx_rate_mbps DOUBLE,\n"
    "    phy_mode TEXT,\n"
    "    interface_up INTEGER NOT NULL\n"
    ");",
    "CREATE TABLE IF NOT EXISTS events (\n"
    "    id TEXT PRIMARY KEY,\n"
    "    timestamp DOUBLE NOT NULL,\n"
    "    kind TEXT NOT NULL,\n"
    "    details TEXT NOT NULL\n"
    ");",
    "CREATE TABLE IF NOT EXISTS incidents (\n"
    "    id TEXT PRIMARY KEY,\n"
    "    start_timestamp DOUBLE NOT NULL,\n"
    "    end_timestamp DOUBLE,\n"
    "    classification TEXT NOT NULL,\n"
    "    severity TEXT NOT NULL,\n"
    "    confidence DOUBLE NOT NULL,\n"
    "    evidence_summary TEXT NOT NULL\n"
    ");",
    "CREATE TABLE IF NOT EXISTS markers (\n"
    "    id TEXT PRIMARY KEY,\n"
    "    timestamp DOUBLE NOT NULL,\n"
    "    action TEXT NOT NULL,\n"
    "    note TEXT NOT NULL\n"
    ");",
    "CREATE TABLE IF NOT EXISTS quality_baseline (\n"
    "    id INTEGER PRIMARY KEY CHECK (id = 1),\n"
    "    saved_at DOUBLE NOT NULL,\n"
    "    payload TEXT NOT NULL\n"
    ");",
    "CREATE TABLE IF NOT EXISTS load_tests (\n"
    "    id TEXT PRIMARY KEY,\n"
    "    started_at DOUBLE NOT NULL,\n"
    "    download_mbps DOUBLE NOT NULL,\n"
    "    upload_mbps DOUBLE NOT NULL,\n"
    "    idle_p50_ms DOUBLE,\n"
    "    loaded_down_p95_ms DOUBLE,\n"
    "    loaded_up_p95_ms DOUBLE,\n"
    "    latency_increase_ms DOUBLE,\n"
    "    grade TEXT NOT NULL\n"
    ");",
};

constexpr const char* kCreateIndexes =
    "CREATE INDEX IF NOT EXISTS idx_network_samples_timestamp ON network_samples(timestamp);\n"
    "CREATE INDEX IF NOT EXISTS idx_network_samples_batch ON network_samples(batch_id);\n"
    "CREATE INDEX IF NOT EXISTS idx_network_samples_kind_time ON network_samples(target_kind, timestamp);\n"
    "CREATE INDEX IF NOT EXISTS idx_wifi_snapshots_timestamp ON wifi_snapshots(timestamp);\n"
    "CREATE INDEX IF NOT EXISTS idx_events_timestamp ON events(timestamp);\n"
    "CREATE INDEX IF NOT EXISTS idx_markers_timestamp ON markers(timestamp);\n"
    "CREATE INDEX IF NOT EXISTS idx_incidents_start ON incidents(start_timestamp);\n"
    "CREATE INDEX IF NOT EXISTS idx_incidents_end ON incidents(end_timestamp);\n"
    "CREATE INDEX IF NOT EXISTS idx_load_tests_started ON load_tests(started_at);";

// The history's month reads only these columns of millions of rows, kind by kind, from this index
// alone. Built at the first open of a file written without it (under a second for a week of raw
// samples).
// Built after the migrations, which give the rows their family.
#define PV_POINTS_INDEX "idx_network_samples_kind_family_points"
constexpr const char* kCreatePointsIndex =
    "CREATE INDEX IF NOT EXISTS " PV_POINTS_INDEX " ON network_samples(target_kind, family, timestamp, latency_ms, "
    "success);";

StoreError newerSchemaError(int version)
{
    return StoreError(StoreError::schemaTooNew,
                      QStringLiteral("This database was written by a newer version of Polvarine (schema %1). "
                                     "Update the app to open it.")
                          .arg(version));
}

// Sets the outage flag of the incidents written before it was kept (see migration 7).
QString outageOfOlderIncidents()
{
    QStringList cut;
    for (const char* opening : {"Megszakadt a Wi-Fi kapcsolat.", "Teljes kiesés", "Nincs internet",
                                "A Mac nem talál útvonalat a hálózat felé.", "A gép nem talál útvonalat a hálózat felé."})
        cut << QStringLiteral("substr(evidence_summary, 1, length('%1')) = '%1'").arg(QString::fromUtf8(opening));
    return QStringLiteral(
               "UPDATE incidents SET outage = CASE\n"
               "  WHEN classification = 'offline' OR %1 THEN 1\n"
               "  WHEN classification IN ('dns_only_issue', 'reassociation_or_roam') OR classification LIKE 'ipv6%' "
               "THEN 0\n"
               "  ELSE COALESCE(\n"
               "    (SELECT CASE WHEN COUNT(*) >= 2 THEN SUM(success = 0) >= 0.8 * COUNT(*) END FROM network_samples\n"
               "     WHERE target_kind = 'publicIP' AND timestamp BETWEEN incidents.start_timestamp AND\n"
               "       COALESCE(incidents.end_timestamp, 1e300)),\n"
               "    (SELECT CASE WHEN SUM(sample_count) >= 2 THEN SUM(sample_count - success_count) >= "
               "0.8 * SUM(sample_count) END\n"
               "     FROM sample_rollups WHERE bucket_seconds = 60 AND target_kind = 'publicIP' AND\n"
               "       bucket_start >= incidents.start_timestamp - 60 AND\n"
               "       COALESCE(first_sample_timestamp, bucket_start) >= incidents.start_timestamp AND\n"
               "       COALESCE(last_sample_timestamp, bucket_start + 60) <= COALESCE(incidents.end_timestamp, 1e300)),\n"
               "    0)\n"
               "END;")
        .arg(cut.join(QStringLiteral(" OR ")));
}

} // namespace

const std::vector<const char*>& fileCacheWarmUpStatements()
{
    static const std::vector<const char*> statements{
        "SELECT count(success) FROM network_samples INDEXED BY " PV_POINTS_INDEX ";",
        "SELECT count(timestamp) FROM network_samples INDEXED BY idx_network_samples_kind_time;",
        "SELECT count(max_ms) FROM sample_rollups;"};
    return statements;
}
#undef PV_POINTS_INDEX

const std::vector<SchemaMigration>& schemaMigrations()
{
    static const std::vector<SchemaMigration> migrations = {
        {1, QStringLiteral("baseline"), {}, {}},
        {2,
         QStringLiteral("rollups-and-attribution"),
         {QStringLiteral("CREATE TABLE IF NOT EXISTS sample_rollups (\n"
                         "    bucket_start DOUBLE NOT NULL,\n"
                         "    bucket_seconds INTEGER NOT NULL,\n"
                         "    target_kind TEXT NOT NULL,\n"
                         "    sample_count INTEGER NOT NULL,\n"
                         "    success_count INTEGER NOT NULL,\n"
                         "    p50_ms DOUBLE,\n"
                         "    p95_ms DOUBLE,\n"
                         "    max_ms DOUBLE,\n"
                         "    loss_ratio DOUBLE,\n"
                         "    PRIMARY KEY (bucket_start, bucket_seconds, target_kind)\n"
                         ");"),
          QStringLiteral("CREATE INDEX IF NOT EXISTS idx_sample_rollups_window ON sample_rollups(bucket_seconds, "
                         "bucket_start);")},
         {{QStringLiteral("incidents"), QStringLiteral("fault_location"), QStringLiteral("TEXT")},
          {QStringLiteral("incidents"), QStringLiteral("thresholds_version"), QStringLiteral("INTEGER")}}},
        {3,
         QStringLiteral("normalise-packet-loss-units"),
         {QStringLiteral("UPDATE network_samples SET packet_loss = packet_loss / 100.0 WHERE packet_loss > 1;")},
         {}},
        {4,
         QStringLiteral("erase-zero-wifi-readings"),
         {QStringLiteral("UPDATE wifi_snapshots SET rssi = NULL WHERE rssi = 0;"),
          QStringLiteral("UPDATE wifi_snapshots SET noise = NULL WHERE noise = 0;"),
          QStringLiteral("UPDATE wifi_snapshots SET tx_rate_mbps = NULL WHERE tx_rate_mbps = 0;")},
         {}},
        // Buckets written from here on know the instants of their first and last sample; older ones
        // keep NULL there.
        {5,
         QStringLiteral("rollup-sample-times"),
         {},
         {{QStringLiteral("sample_rollups"), QStringLiteral("first_sample_timestamp"), QStringLiteral("DOUBLE")},
          {QStringLiteral("sample_rollups"), QStringLiteral("last_sample_timestamp"), QStringLiteral("DOUBLE")}}},
        // Every sample and bucket knows its address family; what was written before is IPv4. A sample's
        // family is 'ipv6' or NULL for IPv4 (every older row, and every IPv4 row since): a NULL takes no
        // room in the rows nor in the index of the long reads, which stay as fast as they were. A
        // bucket is one per family ('ipv4' or 'ipv6'), so the roll-ups' key gains it: the table is
        // copied into one with that key.
        {6,
         QStringLiteral("sample-address-family"),
         {QStringLiteral("ALTER TABLE network_samples ADD COLUMN family TEXT;"),
          QStringLiteral("CREATE TABLE sample_rollups_by_family (\n"
                         "    bucket_start DOUBLE NOT NULL,\n"
                         "    bucket_seconds INTEGER NOT NULL,\n"
                         "    target_kind TEXT NOT NULL,\n"
                         "    sample_count INTEGER NOT NULL,\n"
                         "    success_count INTEGER NOT NULL,\n"
                         "    p50_ms DOUBLE,\n"
                         "    p95_ms DOUBLE,\n"
                         "    max_ms DOUBLE,\n"
                         "    loss_ratio DOUBLE,\n"
                         "    first_sample_timestamp DOUBLE,\n"
                         "    last_sample_timestamp DOUBLE,\n"
                         "    family TEXT NOT NULL DEFAULT 'ipv4',\n"
                         "    PRIMARY KEY (bucket_start, bucket_seconds, target_kind, family)\n"
                         ");"),
          QStringLiteral("INSERT INTO sample_rollups_by_family (bucket_start, bucket_seconds, target_kind, sample_count, "
                         "success_count, p50_ms, p95_ms, max_ms, loss_ratio, first_sample_timestamp, "
                         "last_sample_timestamp) SELECT bucket_start, bucket_seconds, target_kind, sample_count, "
                         "success_count, p50_ms, p95_ms, max_ms, loss_ratio, first_sample_timestamp, "
                         "last_sample_timestamp FROM sample_rollups;"),
          QStringLiteral("DROP TABLE sample_rollups;"),
          QStringLiteral("ALTER TABLE sample_rollups_by_family RENAME TO sample_rollups;"),
          QStringLiteral("CREATE INDEX IF NOT EXISTS idx_sample_rollups_window ON sample_rollups(bucket_seconds, "
                         "bucket_start);"),
          // Replaced by the same index with the family (see kCreatePointsIndex).
          QStringLiteral("DROP INDEX IF EXISTS idx_network_samples_kind_points;")},
         {}},
        // An incident knows whether it was an outage. Rows written before are judged once, here, by
        // what is kept of their time, and called an outage only on plain evidence: a cut of the whole
        // connection, a stored finding that says nothing got through, or at least two answers from
        // the public hosts expected within it of which four in five failed (the raw samples where
        // they are kept, otherwise the minute roll-ups whose samples lay within it). A name or
        // access-point incident, one of the IPv6 path, and one with nothing kept of its time are not
        // outages.
        {7,
         QStringLiteral("incident-outage"),
         {QStringLiteral("ALTER TABLE incidents ADD COLUMN outage INTEGER NOT NULL DEFAULT 0;"), outageOfOlderIncidents()},
         {}},
    };
    return migrations;
}

StoreDatabase::StoreDatabase(const StoreLocation& location)
{
    QString path = QStringLiteral(":memory:");
    if (!location.isInMemory()) {
        path = location.path();
        makePrivateFolder(QFileInfo(path).absolutePath(), false);
    }

    disableMemoryStatistics();
    // The plain open's flags, without SQLite's per-call connection mutex: the connection is only
    // ever used by one thread at a time (the opening thread, then the store's own thread), and the
    // mutex costs a lock per column read on long reads.
    if (sqlite3_open_v2(path.toUtf8().constData(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK) {
        // The handle exists even when opening failed and must be released.
        close();
        throw StoreError(StoreError::openFailed, QStringLiteral("Failed to open SQLite database."));
    }
    if (!location.isInMemory()) {
        // The file exists from the open on; SQLite gives the journal files the database's own mode,
        // and those an earlier version left behind are tightened with it.
        for (const char* suffix : {"", "-wal", "-shm", "-journal"})
            makePrivateFile(path + QLatin1String(suffix));
    }
    // A second process holding the write lock makes us wait a little instead of failing at once.
    sqlite3_busy_timeout(db_, kBusyTimeoutMilliseconds);
    qCInfo(log::storage(), "Opened evidence store at %s", qUtf8Printable(path));

    // From here on a failure closes the connection: the caller may move the file aside.
    try {
        // A newer version's database is refused before anything is written to it: switching the
        // journal mode or creating a table it no longer has would change a file we must not touch.
        // A version that cannot be read here is reported by the first statement below that fails.
        int version = 0;
        try {
            version = schemaVersion();
        } catch (const StoreError&) {
        }
        if (version > newestSchemaVersion)
            throw newerSchemaError(version);

        exec("PRAGMA journal_mode=WAL;");
        exec("PRAGMA foreign_keys=ON;");
        for (const char* create : kCreateTables)
            exec(create);
        exec(kCreateIndexes);
        migrate(location);
        try {
            exec(kCreatePointsIndex);
        } catch (const StoreError& e) {
            // Without it the long reads are only slower: no reason to keep the evidence from opening
            // (a disk too full to build it still takes the next samples for a while).
            qCWarning(log::storage(), "Could not build the index for long reads: %s", qUtf8Printable(e.message()));
        }
    } catch (...) {
        close();
        throw;
    }
}

StoreDatabase::~StoreDatabase() { close(); }

void StoreDatabase::close()
{
    if (db_) {
        sqlite3_close_v2(db_);
        db_ = nullptr;
    }
}

void StoreDatabase::exec(const QString& sql) { exec(sql.toUtf8().constData()); }

void StoreDatabase::exec(const char* sql)
{
    char* message = nullptr;
    const int rc = sqlite3_exec(db_, sql, nullptr, nullptr, &message);
    if (rc != SQLITE_OK) {
        const QString text = QString::fromUtf8(message ? message : sqlite3_errmsg(db_));
        sqlite3_free(message);
        throw StoreError(rc, text);
    }
}

void StoreDatabase::rollbackQuietly() { sqlite3_exec(db_, "ROLLBACK;", nullptr, nullptr, nullptr); }

int StoreDatabase::schemaVersion()
{
    const StoreError unreadable(StoreError::schemaVersionUnreadable, QStringLiteral("Could not read the schema version."));
    std::optional<Statement> statement;
    try {
        statement.emplace(db_, "PRAGMA user_version;");
    } catch (const StoreError&) {
        throw unreadable;
    }
    switch (statement->step()) {
    case SQLITE_ROW:
        return statement->columnInt(0);
    case SQLITE_DONE:
        return 0;
    default:
        // A busy or broken read is not "version 0": that would run every migration again.
        throw unreadable;
    }
}

bool StoreDatabase::hasRecordedData()
{
    for (const char* table : {"network_samples", "incidents", "wifi_snapshots"}) {
        const QByteArray sql = QByteArray("SELECT 1 FROM ") + table + " LIMIT 1;";
        std::optional<Statement> statement;
        try {
            statement.emplace(db_, sql.constData());
        } catch (const StoreError&) {
            continue; // a table that cannot be read counts as empty
        }
        const int rc = statement->step();
        if (rc == SQLITE_ROW)
            return true;
        if (rc != SQLITE_DONE)
            throw lastError(db_); // unknown: never skip the backup on a guess
    }
    return false;
}

bool StoreDatabase::columnExists(const QString& table, const QString& column)
{
    const StoreError uninspectable(StoreError::tableNotInspectable, QStringLiteral("Could not inspect %1.").arg(table));
    std::optional<Statement> statement;
    try {
        statement.emplace(db_, QStringLiteral("PRAGMA table_info(%1);").arg(table).toUtf8().constData());
    } catch (const StoreError&) {
        throw uninspectable;
    }
    const QByteArray wanted = column.toUtf8();
    int rc;
    while ((rc = statement->step()) == SQLITE_ROW) {
        if (statement->columnBytes(1) == QByteArrayView(wanted))
            return true;
    }
    if (rc != SQLITE_DONE)
        throw uninspectable;
    return false;
}

void StoreDatabase::backupBeforeMigration(const StoreLocation& location, int version)
{
    if (location.isInMemory() || !hasRecordedData())
        return;
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    const QString name = QStringLiteral("polvarine-pre-v%1-%2.sqlite3").arg(version).arg(stamp);
    const QString backupPath = QFileInfo(location.path()).absoluteDir().filePath(name);
    if (QFileInfo::exists(backupPath))
        return;
    QString quoted = backupPath;
    quoted.replace(QLatin1Char('\''), QStringLiteral("''"));
    exec(QStringLiteral("VACUUM INTO '%1';").arg(quoted));
    makePrivateFile(backupPath);
    qCInfo(log::storage(), "Pre-migration backup written to %s", qUtf8Printable(backupPath));
}

void StoreDatabase::migrate(const StoreLocation& location)
{
    const int current = schemaVersion();
    if (current > newestSchemaVersion)
        throw newerSchemaError(current);

    std::vector<const SchemaMigration*> pending;
    for (const auto& migration : schemaMigrations())
        if (migration.version > current)
            pending.push_back(&migration);
    if (pending.empty())
        return;

    backupBeforeMigration(location, newestSchemaVersion);

    for (const SchemaMigration* migration : pending) {
        exec("BEGIN IMMEDIATE;");
        try {
            for (const QString& statement : migration->statements)
                exec(statement);
            for (const auto& addition : migration->columnAdditions)
                if (!columnExists(addition.table, addition.column))
                    exec(QStringLiteral("ALTER TABLE %1 ADD COLUMN %2 %3;")
                             .arg(addition.table, addition.column, addition.definition));
            exec(QStringLiteral("PRAGMA user_version = %1;").arg(migration->version));
            exec("COMMIT;");
        } catch (...) {
            rollbackQuietly();
            throw;
        }
        qCInfo(log::storage(), "Applied schema migration %d (%s).", migration->version,
               qUtf8Printable(migration->name));
    }
}

} // namespace pv::store
