// Opening, creating and migrating the evidence database.
#include "core/store/SQLiteStore.h"
#include "core/store/StoreDatabase.h"

#include "tests/store/StoreTestSupport.h"
#include "tests/support/TestSupport.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

using namespace pv;
using namespace pv::test;

namespace {

// Collects the storage log lines while it lives.
class StorageLog {
public:
    StorageLog()
    {
        lines().clear();
        previous_ = qInstallMessageHandler(&StorageLog::handler);
    }
    ~StorageLog() { qInstallMessageHandler(previous_); }
    QStringList matching(const QString& prefix) const
    {
        std::lock_guard lock(mutex());
        return lines().filter(QRegularExpression(QStringLiteral("^") + QRegularExpression::escape(prefix)));
    }

private:
    static QStringList& lines()
    {
        static QStringList l;
        return l;
    }
    static std::mutex& mutex()
    {
        static std::mutex m;
        return m;
    }
    static void handler(QtMsgType, const QMessageLogContext& context, const QString& message)
    {
        if (context.category && QLatin1String(context.category) == QLatin1String("com.tovarhelm.polvarine.storage")) {
            std::lock_guard lock(mutex());
            lines() << message;
        }
    }
    QtMessageHandler previous_;
};

QStringList backupsBeside(const QString& dbPath)
{
    return QFileInfo(dbPath).absoluteDir().entryList({QStringLiteral("polvarine-pre-v*")}, QDir::Files);
}

QByteArray fileHash(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256);
}

int descriptorsOpenOn(const QString& path)
{
    const QString target = QFileInfo(path).canonicalFilePath();
    int count = 0;
    for (const QFileInfo& fd : QDir(QStringLiteral("/proc/self/fd")).entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot))
        if (fd.symLinkTarget() == target)
            ++count;
    return count;
}

// The schema as the first version wrote it: no roll-ups, no attribution columns on incidents.
void createVersion1(RawDb& db, bool withFaultLocation = false)
{
    db.exec(QStringLiteral(
        "CREATE TABLE network_samples (id TEXT PRIMARY KEY, batch_id TEXT NOT NULL, timestamp DOUBLE NOT NULL,"
        " target_kind TEXT NOT NULL, target_label TEXT NOT NULL, target_host TEXT NOT NULL,"
        " interface_name TEXT NOT NULL, local_address TEXT NOT NULL, gateway_address TEXT NOT NULL,"
        " latency_ms DOUBLE, success INTEGER NOT NULL, timeout_count INTEGER NOT NULL, packet_loss DOUBLE,"
        " error_description TEXT);"
        "CREATE TABLE wifi_snapshots (id TEXT PRIMARY KEY, timestamp DOUBLE NOT NULL, interface_name TEXT NOT NULL,"
        " local_address TEXT NOT NULL, gateway_address TEXT NOT NULL, ssid TEXT, bssid TEXT, channel INTEGER,"
        " band TEXT, rssi INTEGER, noise INTEGER, tx_rate_mbps DOUBLE, phy_mode TEXT, interface_up INTEGER NOT NULL);"
        "CREATE TABLE events (id TEXT PRIMARY KEY, timestamp DOUBLE NOT NULL, kind TEXT NOT NULL, details TEXT NOT NULL);"
        "CREATE TABLE markers (id TEXT PRIMARY KEY, timestamp DOUBLE NOT NULL, action TEXT NOT NULL, note TEXT NOT NULL);"
        "CREATE TABLE quality_baseline (id INTEGER PRIMARY KEY CHECK (id = 1), saved_at DOUBLE NOT NULL, payload TEXT NOT NULL);"
        "CREATE TABLE load_tests (id TEXT PRIMARY KEY, started_at DOUBLE NOT NULL, download_mbps DOUBLE NOT NULL,"
        " upload_mbps DOUBLE NOT NULL, idle_p50_ms DOUBLE, loaded_down_p95_ms DOUBLE, loaded_up_p95_ms DOUBLE,"
        " latency_increase_ms DOUBLE, grade TEXT NOT NULL);"));
    db.exec(QStringLiteral("CREATE TABLE incidents (id TEXT PRIMARY KEY, start_timestamp DOUBLE NOT NULL,"
                           " end_timestamp DOUBLE, classification TEXT NOT NULL, severity TEXT NOT NULL,"
                           " confidence DOUBLE NOT NULL, evidence_summary TEXT NOT NULL%1);")
                .arg(withFaultLocation ? QStringLiteral(", fault_location TEXT") : QString()));
    // Loss was kept in percent then; Wi-Fi readings of 0 meant "not known".
    db.exec(QStringLiteral(
        "INSERT INTO network_samples VALUES ('A0000000-0000-0000-0000-000000000001', 'B', 1000, 'gateway', 'Router',"
        " '192.168.1.1', 'wlan0', '192.168.1.23', '192.168.1.1', 4.5, 1, 0, 50.0, NULL);"
        "INSERT INTO network_samples VALUES ('A0000000-0000-0000-0000-000000000002', 'B', 1001, 'dns', 'DNS',"
        " 'zone', 'wlan0', '192.168.1.23', '192.168.1.1', 20, 1, 0, 0.25, NULL);"
        "INSERT INTO network_samples VALUES ('A0000000-0000-0000-0000-000000000003', 'B', 1002, 'http', 'HTTP',"
        " 'page', 'wlan0', '192.168.1.23', '192.168.1.1', NULL, 0, 1, 1.0, 'timeout');"
        "INSERT INTO wifi_snapshots VALUES ('C0000000-0000-0000-0000-000000000001', 1000, 'wlan0', 'a', 'g', 'net',"
        " 'bss', 36, '5 GHz', 0, 0, 0, 'ac', 1);"
        "INSERT INTO wifi_snapshots VALUES ('C0000000-0000-0000-0000-000000000002', 1008, 'wlan0', 'a', 'g', 'net',"
        " 'bss', 36, '5 GHz', -60, -90, 300, 'ac', 1);"
        "PRAGMA user_version = 1;"));
}

} // namespace

TEST(StoreSchemaTest, FreshDatabaseGetsVersion7WithEveryTableAndIndexAndNoBackup)
{
    const QString path = freshDatabasePath();
    StorageLog log;
    {
        SQLiteStore store(SQLiteStore::Location::file(path));
        EXPECT_TRUE(store.isAvailable());
        EXPECT_EQ(store.location(), SQLiteStore::Location::file(path));
    }
    EXPECT_EQ(log.matching(QStringLiteral("Applied schema migration")),
              QStringList({QStringLiteral("Applied schema migration 1 (baseline)."),
                           QStringLiteral("Applied schema migration 2 (rollups-and-attribution)."),
                           QStringLiteral("Applied schema migration 3 (normalise-packet-loss-units)."),
                           QStringLiteral("Applied schema migration 4 (erase-zero-wifi-readings)."),
                           QStringLiteral("Applied schema migration 5 (rollup-sample-times)."),
                           QStringLiteral("Applied schema migration 6 (sample-address-family)."),
                           QStringLiteral("Applied schema migration 7 (incident-outage).")}));
    EXPECT_EQ(log.matching(QStringLiteral("Opened evidence store at ")),
              QStringList(QStringLiteral("Opened evidence store at ") + path));
    EXPECT_TRUE(backupsBeside(path).isEmpty());

    RawDb db(path);
    EXPECT_EQ(db.integer(QStringLiteral("PRAGMA user_version;")), 7);
    EXPECT_EQ(db.text(QStringLiteral("PRAGMA journal_mode;")), QStringLiteral("wal"));
    EXPECT_EQ(db.column(QStringLiteral("SELECT name FROM sqlite_schema WHERE type = 'table' ORDER BY rowid;")),
              QStringList({"network_samples", "wifi_snapshots", "events", "incidents", "markers", "quality_baseline",
                           "load_tests", "sample_rollups"}));
    EXPECT_EQ(db.column(QStringLiteral("SELECT name FROM sqlite_schema WHERE type = 'index' AND name LIKE 'idx_%' "
                                       "ORDER BY rowid;")),
              QStringList({"idx_network_samples_timestamp", "idx_network_samples_batch", "idx_network_samples_kind_time",
                           "idx_wifi_snapshots_timestamp", "idx_events_timestamp", "idx_markers_timestamp",
                           "idx_incidents_start", "idx_incidents_end", "idx_load_tests_started",
                           "idx_sample_rollups_window", "idx_network_samples_kind_family_points"}));
    EXPECT_EQ(db.column(QStringLiteral("SELECT name FROM pragma_table_info('incidents');")),
              QStringList({"id", "start_timestamp", "end_timestamp", "classification", "severity", "confidence",
                           "evidence_summary", "fault_location", "thresholds_version", "outage"}));
    EXPECT_EQ(db.column(QStringLiteral("SELECT name || ' ' || type || ' ' || \"notnull\" || ' ' || pk "
                                       "FROM pragma_table_info('sample_rollups');")),
              QStringList({"bucket_start DOUBLE 1 1", "bucket_seconds INTEGER 1 2", "target_kind TEXT 1 3",
                           "sample_count INTEGER 1 0", "success_count INTEGER 1 0", "p50_ms DOUBLE 0 0",
                           "p95_ms DOUBLE 0 0", "max_ms DOUBLE 0 0", "loss_ratio DOUBLE 0 0",
                           "first_sample_timestamp DOUBLE 0 0", "last_sample_timestamp DOUBLE 0 0",
                           "family TEXT 1 4"}));
}

TEST(StoreSchemaTest, ReopeningAMigratedDatabaseChangesNothing)
{
    const QString path = freshDatabasePath();
    { SQLiteStore store(SQLiteStore::Location::file(path)); }
    StorageLog log;
    { SQLiteStore store(SQLiteStore::Location::file(path)); }
    EXPECT_TRUE(log.matching(QStringLiteral("Applied schema migration")).isEmpty());
    EXPECT_TRUE(backupsBeside(path).isEmpty());
}

TEST(StoreSchemaTest, InMemoryStoreIsMigratedAndNeverBackedUp)
{
    StorageLog log;
    SQLiteStore store(SQLiteStore::Location::inMemory());
    EXPECT_TRUE(store.location().isInMemory());
    EXPECT_EQ(log.matching(QStringLiteral("Applied schema migration")).size(), 7);
    EXPECT_EQ(log.matching(QStringLiteral("Opened evidence store at ")), QStringList("Opened evidence store at :memory:"));
    EXPECT_TRUE(log.matching(QStringLiteral("Pre-migration backup")).isEmpty());
    // The schema is usable at once.
    await(store.insertSamples(makeBatch(1000)));
    EXPECT_EQ(await(store.recentSamples(10)).size(), 5u);
}

TEST(StoreSchemaTest, Version1DatabaseWithSamplesIsBackedUpOnceAndMigrated)
{
    // A folder name with a quote must survive the quoting of VACUUM INTO.
    const QString path = freshDatabasePath(QStringLiteral("Kati's \"mérések\""));
    {
        RawDb db(path);
        createVersion1(db);
    }
    StorageLog log;
    { SQLiteStore store(SQLiteStore::Location::file(path)); }

    const QStringList backups = backupsBeside(path);
    ASSERT_EQ(backups.size(), 1);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^polvarine-pre-v7-\\d{8}-\\d{6}\\.sqlite3$")).match(backups[0]).hasMatch())
        << backups[0].toStdString();
    const QString backupPath = QFileInfo(path).absoluteDir().filePath(backups[0]);
    EXPECT_EQ(log.matching(QStringLiteral("Pre-migration backup written to ")),
              QStringList(QStringLiteral("Pre-migration backup written to ") + backupPath));
    EXPECT_EQ(log.matching(QStringLiteral("Applied schema migration")).size(), 6); // 2 to 7

    RawDb db(path);
    EXPECT_EQ(db.integer(QStringLiteral("PRAGMA user_version;")), 7);
    EXPECT_EQ(db.column(QStringLiteral("SELECT packet_loss FROM network_samples ORDER BY timestamp;")),
              QStringList({"0.5", "0.25", "1.0"}));
    EXPECT_EQ(db.column(QStringLiteral("SELECT quote(rssi) || ' ' || quote(noise) || ' ' || quote(tx_rate_mbps) "
                                       "FROM wifi_snapshots ORDER BY timestamp;")),
              QStringList({"NULL NULL NULL", "-60 -90 300.0"}));
    EXPECT_EQ(db.integer(QStringLiteral("SELECT COUNT(*) FROM pragma_table_info('incidents') "
                                        "WHERE name IN ('fault_location', 'thresholds_version');")),
              2);

    // The backup is the database as it was before migrating.
    RawDb backup(backupPath);
    EXPECT_EQ(backup.integer(QStringLiteral("PRAGMA user_version;")), 1);
    EXPECT_EQ(backup.column(QStringLiteral("SELECT packet_loss FROM network_samples ORDER BY timestamp;")),
              QStringList({"50.0", "0.25", "1.0"}));

    // Opening again neither migrates nor backs up.
    { SQLiteStore store(SQLiteStore::Location::file(path)); }
    EXPECT_EQ(backupsBeside(path).size(), 1);
}

TEST(StoreSchemaTest, Version1IncidentsThatAlreadyHaveFaultLocationGainOnlyTheMissingColumn)
{
    const QString path = freshDatabasePath();
    {
        RawDb db(path);
        createVersion1(db, /*withFaultLocation=*/true);
    }
    { SQLiteStore store(SQLiteStore::Location::file(path)); }
    RawDb db(path);
    EXPECT_EQ(db.integer(QStringLiteral("PRAGMA user_version;")), 7);
    EXPECT_EQ(db.column(QStringLiteral("SELECT name FROM pragma_table_info('incidents') WHERE cid >= 7;")),
              QStringList({"fault_location", "thresholds_version", "outage"}));
}

TEST(StoreSchemaTest, FailedMigrationKeepsEarlierOnesAndTheNextOpenFinishes)
{
    const QString path = freshDatabasePath();
    {
        RawDb db(path);
        createVersion1(db);
        db.exec(QStringLiteral("CREATE TRIGGER no_updates BEFORE UPDATE ON network_samples "
                               "BEGIN SELECT RAISE(ABORT, 'samples are read-only'); END;"));
    }
    try {
        SQLiteStore store(SQLiteStore::Location::file(path));
        FAIL() << "migration 3 should have failed";
    } catch (const StoreError& e) {
        EXPECT_EQ(e.code(), SQLITE_CONSTRAINT);
        EXPECT_EQ(e.message(), QStringLiteral("samples are read-only"));
    }
    // The connection of the failed open was closed.
    EXPECT_EQ(descriptorsOpenOn(path), 0);
    {
        RawDb db(path);
        EXPECT_EQ(db.integer(QStringLiteral("PRAGMA user_version;")), 2);
        EXPECT_EQ(db.integer(QStringLiteral("SELECT COUNT(*) FROM sqlite_schema WHERE name = 'sample_rollups';")), 1);
        EXPECT_EQ(db.real(QStringLiteral("SELECT MAX(packet_loss) FROM network_samples;")), 50.0);
        db.exec(QStringLiteral("DROP TRIGGER no_updates;"));
    }
    { SQLiteStore store(SQLiteStore::Location::file(path)); }
    RawDb db(path);
    EXPECT_EQ(db.integer(QStringLiteral("PRAGMA user_version;")), 7);
    EXPECT_EQ(db.real(QStringLiteral("SELECT MAX(packet_loss) FROM network_samples;")), 1.0);
}

// A file an earlier version wrote (schema 5, with a roll-up of the router's minute and the index
// of the long reads) becomes IPv4 throughout; an IPv6 sample of the same minute rolls up beside it.
// Its incidents are judged once for whether they were outages, by what is kept of their time. The
// history's read-ahead runs on the migrated file.
TEST(StoreSchemaTest, Version5SamplesAndRollupsBecomeIPv4AndTheFamiliesRollUpApart)
{
    const QString path = freshDatabasePath();
    // Its incidents: public-host answers ('+') and failures ('-') 10 s apart from start + 5, a minute
    // roll-up (samples, answers) from start + 20, and whether the migration calls it an outage.
    const char* upstream = "A hiba a routereden túl, a szolgáltatói szakaszon van.";
    const struct { double start, end; const char* classification; const char* summary; const char* answers;
                   std::pair<int, int> minute; int outage; } incidents[] = {
        {100, 200, "offline", "x", "", {}, 1},
        {300, 400, "internet_upstream_issue", "Teljes kiesés — még a routered sem válaszol.", "", {}, 1},
        {2000, 2100, "internet_upstream_issue", upstream, "--+--", {}, 1},
        {3000, 3100, "internet_upstream_issue", upstream, "--++-", {}, 0},
        {4000, 4200, "gateway_congestion", upstream, "", {30, 3}, 1},
        {5000, 5070, "internet_upstream_issue", upstream, "", {30, 0}, 0}, // the bucket runs past its end
        {6000, 6100, "ipv6_provider_issue", upstream, "---", {}, 0},
        {7000, 7100, "dns_only_issue", "A névfeloldás (DNS) nem válaszol.", "---", {}, 0},
        {8000, 8100, "internet_upstream_issue", upstream, "-", {}, 0}, // one sample is no evidence
    };
    {
        RawDb db(path);
        createVersion1(db, /*withFaultLocation=*/true);
        db.exec(QStringLiteral(
            "ALTER TABLE incidents ADD COLUMN thresholds_version INTEGER;"
            "UPDATE network_samples SET packet_loss = packet_loss / 100.0 WHERE packet_loss > 1;"
            "CREATE TABLE sample_rollups (bucket_start DOUBLE NOT NULL, bucket_seconds INTEGER NOT NULL,"
            " target_kind TEXT NOT NULL, sample_count INTEGER NOT NULL, success_count INTEGER NOT NULL, p50_ms DOUBLE,"
            " p95_ms DOUBLE, max_ms DOUBLE, loss_ratio DOUBLE, first_sample_timestamp DOUBLE, last_sample_timestamp"
            " DOUBLE, PRIMARY KEY (bucket_start, bucket_seconds, target_kind));"
            "CREATE INDEX idx_network_samples_kind_points ON network_samples(target_kind, timestamp, latency_ms, success);"
            "INSERT INTO sample_rollups VALUES (900, 60, 'gateway', 3, 2, 4, 5, 6, 0.25, 901, 959);"
            "PRAGMA user_version = 5;"));
        for (const auto& i : incidents) {
            db.exec(QStringLiteral("INSERT INTO incidents (id, start_timestamp, end_timestamp, classification, severity, "
                                   "confidence, evidence_summary) VALUES ('%1', %1, %2, '%3', 'critical', 0.9, '%4');")
                        .arg(i.start).arg(i.end).arg(QLatin1String(i.classification), QString::fromUtf8(i.summary)));
            for (int k = 0; i.answers[k]; ++k)
                db.exec(QStringLiteral("INSERT INTO network_samples VALUES ('%1', 'B', %1, 'publicIP', 'P', 'h', 'wlan0', "
                                       "'a', 'g', %2, %3, 0, NULL, NULL);")
                            .arg(i.start + 5 + 10 * k).arg(i.answers[k] == '+' ? "20" : "NULL").arg(i.answers[k] == '+'));
            if (i.minute.first)
                db.exec(QStringLiteral("INSERT INTO sample_rollups VALUES (%1, 60, 'publicIP', %2, %3, NULL, NULL, NULL, "
                                       "NULL, NULL, NULL);").arg(i.start + 20).arg(i.minute.first).arg(i.minute.second));
        }
    }
    SQLiteStore store(SQLiteStore::Location::file(path));
    const auto samples = await(store.samples(0, 2000));
    ASSERT_EQ(samples.size(), 3u);
    for (const NetworkSample& s : samples)
        EXPECT_EQ(s.family, AddressFamily::ipv4);
    EXPECT_EQ(await(store.rollups(60, 0, 2000)),
              std::vector<SampleRollup>({{900, 60, ProbeKind::gateway, 3, 2, 4, 5, 6, 0.25, 901, 959}}));

    NetworkSample v6 = makeSample(1000.5, ProbeKind::gateway, 7.5);
    v6.family = AddressFamily::ipv6;
    await(store.insertSamples(ProbeBatch{v6.batchID, 1000.5, v6.route, {v6}, false}));
    await(store.runWithConnection([](store::StoreDatabase& db) { db.rollUp(60, 1020); }));
    auto minutes = await(store.rollups(60, 960, 960));
    std::erase_if(minutes, [](const SampleRollup& r) { return r.targetKind != ProbeKind::gateway; });
    ASSERT_EQ(minutes.size(), 2u);
    EXPECT_EQ(minutes[0].family == AddressFamily::ipv6 ? minutes[1] : minutes[0],
              (SampleRollup{960, 60, ProbeKind::gateway, 1, 1, 4.5, 4.5, 4.5, 0.5, 1000, 1000}));
    EXPECT_EQ(minutes[0].family == AddressFamily::ipv6 ? minutes[0] : minutes[1],
              (SampleRollup{960, 60, ProbeKind::gateway, 1, 1, 7.5, 7.5, 7.5, 0.0, 1000.5, 1000.5, AddressFamily::ipv6}));
    RawDb db(path);
    EXPECT_EQ(db.column(QStringLiteral("SELECT name FROM sqlite_schema WHERE name LIKE 'idx_network_samples_kind_%points';")),
              QStringList("idx_network_samples_kind_family_points"));
    for (const auto& i : incidents)
        EXPECT_EQ(db.integer(QStringLiteral("SELECT outage FROM incidents WHERE id = '%1';").arg(i.start)), i.outage) << i.start;
    for (const char* sql : store::fileCacheWarmUpStatements()) // each runs to its end on the file as it is now
        db.exec(QString::fromUtf8(sql));
}

TEST(StoreSchemaTest, NewerSchemaIsRefusedWithCode3AndLeftUntouched)
{
    const QString path = freshDatabasePath();
    {
        RawDb db(path);
        // A future layout: rollback journal, only some of today's tables.
        db.exec(QStringLiteral("CREATE TABLE network_samples (id TEXT PRIMARY KEY, timestamp DOUBLE);"
                               "INSERT INTO network_samples VALUES ('x', 1);"
                               "PRAGMA user_version = 8;"));
    }
    const QByteArray before = fileHash(path);
    ASSERT_FALSE(before.isEmpty());
    try {
        SQLiteStore store{std::optional<QString>(path)};
        FAIL() << "a newer database must be refused";
    } catch (const StoreError& e) {
        EXPECT_EQ(e.code(), 3);
        EXPECT_EQ(e.message(), QStringLiteral("This database was written by a newer version of Polvarine (schema 8). "
                                              "Update the app to open it."));
        EXPECT_EQ(StoreError::domain(), QStringLiteral("Polvarine.SQLite"));
    }
    EXPECT_EQ(fileHash(path), before);
    EXPECT_FALSE(QFileInfo::exists(path + QStringLiteral("-wal")));
    EXPECT_TRUE(backupsBeside(path).isEmpty());
    EXPECT_EQ(descriptorsOpenOn(path), 0);
}

TEST(StoreSchemaTest, FileThatIsNotADatabaseFailsWithSQLitesErrorAndIsClosed)
{
    const QString path = freshDatabasePath();
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(8192, 'x'));
    }
    try {
        SQLiteStore store(SQLiteStore::Location::file(path));
        FAIL() << "garbage must not open";
    } catch (const StoreError& e) {
        EXPECT_EQ(e.code(), SQLITE_NOTADB);
        EXPECT_EQ(e.message(), QStringLiteral("file is not a database"));
    }
    EXPECT_EQ(descriptorsOpenOn(path), 0);
}

TEST(StoreSchemaTest, MissingParentFoldersAreCreated)
{
    const QString path = makeTempDir() + QStringLiteral("/a/b/c/polvarine.sqlite3");
    { SQLiteStore store(SQLiteStore::Location::file(path)); }
    EXPECT_TRUE(QFileInfo::exists(path));
}

unsigned modeOf(const QString& path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// The evidence is the user's alone, under any umask: a fresh folder and database, the files an older
// version left readable to everyone (tightened at the next open), and a folder the user named.
TEST(StoreSchemaTest, EvidenceFilesArePrivateWhateverTheUmaskAndAnOlderInstallationLeft)
{
    const mode_t savedMask = ::umask(022);
    const QByteArray savedDb = qgetenv("POLVARINE_DB");
    qunsetenv("POLVARINE_DB");
    const QString home = makeTempDir();
    const QByteArray savedData = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", (home + QStringLiteral("/share")).toUtf8());

    const QString db = SQLiteStore::defaultLocation();
    const QString folder = QFileInfo(db).absolutePath();
    const auto expectPrivate = [&](const char* when) {
        SQLiteStore store(SQLiteStore::Location::file(db));
        EXPECT_EQ(modeOf(folder), 0700u) << when;
        for (const char* suffix : {"", "-wal", "-shm"})
            EXPECT_EQ(modeOf(db + QLatin1String(suffix)), 0600u) << when << suffix;
    };
    expectPrivate("fresh");

    ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), 0755), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(db).constData(), 0644), 0);
    QFile leftover(db + QStringLiteral("-wal"));
    ASSERT_TRUE(leftover.open(QIODevice::WriteOnly));
    leftover.close();
    ASSERT_EQ(::chmod(QFile::encodeName(leftover.fileName()).constData(), 0644), 0);
    EXPECT_EQ(SQLiteStore::defaultLocation(), db);
    expectPrivate("after an open installation");

    // A folder the user named keeps its mode; the folders made for the file are private.
    const QString chosen = makeTempDir();
    ASSERT_EQ(::chmod(QFile::encodeName(chosen).constData(), 0755), 0);
    qputenv("POLVARINE_DB", (chosen + QStringLiteral("/made/here.sqlite3")).toUtf8());
    { SQLiteStore store(SQLiteStore::Location::file(SQLiteStore::defaultLocation())); }
    EXPECT_EQ(modeOf(chosen), 0755u);
    EXPECT_EQ(modeOf(chosen + QStringLiteral("/made")), 0700u);
    EXPECT_EQ(modeOf(chosen + QStringLiteral("/made/here.sqlite3")), 0600u);

    ::umask(savedMask);
    savedData.isNull() ? (void)qunsetenv("XDG_DATA_HOME") : (void)qputenv("XDG_DATA_HOME", savedData);
    savedDb.isNull() ? (void)qunsetenv("POLVARINE_DB") : (void)qputenv("POLVARINE_DB", savedDb);
}

TEST(StoreSchemaTest, DefaultLocationFollowsPolvarineDbOrThePerUserDataFolder)
{
    const QByteArray savedDb = qgetenv("POLVARINE_DB");
    const QByteArray savedHome = qgetenv("HOME");
    const QString home = makeTempDir();
    qputenv("HOME", home.toUtf8());

    qputenv("POLVARINE_DB", "~/x/y/evidence.sqlite3");
    EXPECT_EQ(SQLiteStore::defaultLocation(), home + QStringLiteral("/x/y/evidence.sqlite3"));
    EXPECT_TRUE(QFileInfo(home + QStringLiteral("/x/y")).isDir());

    const QString plain = makeTempDir() + QStringLiteral("/p/q.sqlite3");
    qputenv("POLVARINE_DB", plain.toUtf8());
    EXPECT_EQ(SQLiteStore::defaultLocation(), plain);

    qputenv("POLVARINE_DB", "");
    QStandardPaths::setTestModeEnabled(true);
    const QString expected = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                             QStringLiteral("/Polvarine/polvarine.sqlite3");
    EXPECT_EQ(SQLiteStore::defaultLocation(), expected);
    EXPECT_TRUE(QFileInfo(QFileInfo(expected).absolutePath()).isDir());
    QDir(QFileInfo(expected).absolutePath()).removeRecursively();
    QStandardPaths::setTestModeEnabled(false);

    qputenv("HOME", savedHome);
    if (savedDb.isNull())
        qunsetenv("POLVARINE_DB");
    else
        qputenv("POLVARINE_DB", savedDb);
}
