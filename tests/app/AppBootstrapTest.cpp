#include "core/app/AppBootstrap.h"
#include "core/records/FailureText.h"
#include "core/app/AppViewModel.h"
#include "core/app/ReportServices.h"

#include "core/store/SQLiteStore.h"
#include "tests/support/TestSupport.h"

#include <QDateTime>
#include <QDir>
#include <QFile>

#include <gtest/gtest.h>
#include <sqlite3.h>

using namespace pv;

namespace {

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& data)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(data);
}

void execOrFail(sqlite3* db, const char* sql)
{
    char* error = nullptr;
    ASSERT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, &error), SQLITE_OK) << (error ? error : "");
}

QStringList quarantined(const QString& folder)
{
    return QDir(folder).entryList({"*.corrupt-*"}, QDir::Files, QDir::Name);
}

class AppBootstrapTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        saved_ = qgetenv("POLVARINE_DB");
        folder = test::makeTempDir();
        dbPath = folder + "/polvarine.sqlite3";
        qputenv("POLVARINE_DB", dbPath.toUtf8());
    }
    void TearDown() override
    {
        if (saved_.isNull())
            qunsetenv("POLVARINE_DB");
        else
            qputenv("POLVARINE_DB", saved_);
    }
    QString folder, dbPath;

private:
    QByteArray saved_;
};

} // namespace

TEST_F(AppBootstrapTest, HealthyStoreInAMissingFolderNamedByTheEnvironment)
{
    dbPath = folder + "/deep/er/polvarine.sqlite3";
    qputenv("POLVARINE_DB", dbPath.toUtf8());
    const OpenedStore opened = AppBootstrap::openEvidenceStore();
    EXPECT_EQ(opened.health, StorageHealth::healthy());
    ASSERT_TRUE(opened.store);
    EXPECT_TRUE(opened.store->isAvailable());
    EXPECT_EQ(opened.store->location(), SQLiteStore::Location::file(dbPath));
    EXPECT_TRUE(QFile::exists(dbPath));
}

TEST_F(AppBootstrapTest, UnreadableFileIsMovedAsideAndAFreshStoreStarts)
{
    const QByteArray garbage(4096, 'x');
    writeFile(dbPath, garbage);
    // SQLite itself consumes a write-ahead log while it fails to open the file (it checkpoints what
    // it can read into the main file and removes the log), so only the main file is left to move.
    writeFile(dbPath + "-wal", "not a journal either");
    const QString before = QDateTime::currentDateTimeUtc().toString("yyyyMMdd'T'HHmmss");

    const OpenedStore opened = AppBootstrap::openEvidenceStore();

    const QString after = QDateTime::currentDateTimeUtc().toString("yyyyMMdd'T'HHmmss");
    ASSERT_TRUE(opened.health.isStartedFresh()) << opened.health.payload().toStdString();
    const QString moved = opened.health.payload();
    EXPECT_TRUE(moved == dbPath + ".corrupt-" + before || moved == dbPath + ".corrupt-" + after) << moved.toStdString();
    EXPECT_EQ(readAll(moved), garbage);
    EXPECT_FALSE(QFile::exists(moved + "-shm"));
    // The fresh database is a working store at the same path, with nothing of the old one mixed in.
    EXPECT_TRUE(opened.store->isAvailable());
    EXPECT_EQ(opened.store->location(), SQLiteStore::Location::file(dbPath));
    EXPECT_NE(readAll(dbPath).left(16), garbage.left(16));
    EXPECT_NE(readAll(dbPath + "-wal"), "not a journal either");
    EXPECT_TRUE(opened.health.bannerMessage()->endsWith("megmaradt itt: " + moved + "."));
}

TEST_F(AppBootstrapTest, QuarantineMovesTheDatabaseWithItsWalAndSkipsAMissingShm)
{
    writeFile(dbPath, "main");
    writeFile(dbPath + "-wal", "wal");
    const QString moved = AppBootstrap::quarantineCorruptStore(dbPath);
    EXPECT_TRUE(moved.startsWith(dbPath + ".corrupt-"));
    EXPECT_EQ(moved.size(), (dbPath + ".corrupt-20260314T091502").size());
    EXPECT_EQ(readAll(moved), "main");
    EXPECT_EQ(readAll(moved + "-wal"), "wal");
    EXPECT_FALSE(QFile::exists(moved + "-shm"));
    EXPECT_FALSE(QFile::exists(dbPath));
    EXPECT_FALSE(QFile::exists(dbPath + "-wal"));
    EXPECT_EQ(quarantined(folder).size(), 2);
}

TEST_F(AppBootstrapTest, QuarantineReplacesALeftoverAtTheTarget)
{
    writeFile(dbPath, "current");
    writeFile(dbPath + "-shm", "shm");
    // Leftovers for this second and the next, so the stamp the move takes is covered.
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (const QDateTime& t : {now, now.addSecs(1)}) {
        writeFile(dbPath + ".corrupt-" + t.toString("yyyyMMdd'T'HHmmss"), "old leftover");
        writeFile(dbPath + ".corrupt-" + t.toString("yyyyMMdd'T'HHmmss") + "-shm", "old shm");
    }
    const QString moved = AppBootstrap::quarantineCorruptStore(dbPath);
    EXPECT_EQ(readAll(moved), "current");
    EXPECT_EQ(readAll(moved + "-shm"), "shm");
    EXPECT_FALSE(QFile::exists(dbPath));
    EXPECT_FALSE(QFile::exists(dbPath + "-wal"));
}

TEST_F(AppBootstrapTest, NewerSchemaIsLeftUntouchedAndTheRunIsInMemory)
{
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(dbPath.toUtf8().constData(), &db), SQLITE_OK);
    execOrFail(db, "CREATE TABLE network_samples (id TEXT PRIMARY KEY); PRAGMA user_version = 99;");
    sqlite3_close(db);
    const QByteArray original = readAll(dbPath);

    const OpenedStore opened = AppBootstrap::openEvidenceStore();

    ASSERT_TRUE(opened.health.isNotPersisting());
    EXPECT_TRUE(opened.health.payload().contains("newer version of Polvarine (schema 99)"))
        << opened.health.payload().toStdString();
    EXPECT_TRUE(opened.store->isAvailable());
    EXPECT_TRUE(opened.store->location().isInMemory());
    EXPECT_EQ(readAll(dbPath), original);
    EXPECT_TRUE(quarantined(folder).isEmpty());
}

TEST_F(AppBootstrapTest, FileLockedByAnotherConnectionIsLeftUntouched)
{
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(dbPath.toUtf8().constData(), &other), SQLITE_OK);
    execOrFail(other, "PRAGMA journal_mode=DELETE; CREATE TABLE keep (v INTEGER); INSERT INTO keep VALUES (7);");
    execOrFail(other, "BEGIN EXCLUSIVE; INSERT INTO keep VALUES (8);");

    const OpenedStore opened = AppBootstrap::openEvidenceStore();

    execOrFail(other, "COMMIT;");
    sqlite3_close(other);
    ASSERT_TRUE(opened.health.isNotPersisting());
    EXPECT_TRUE(opened.health.payload().contains("locked")) << opened.health.payload().toStdString();
    EXPECT_TRUE(opened.store->location().isInMemory());
    EXPECT_TRUE(quarantined(folder).isEmpty());
    EXPECT_TRUE(opened.health.bannerMessage()->contains(failureSentence(FailureCause::inUse) + " " + pathNote(dbPath)))
        << opened.health.bannerMessage()->toStdString();

    // The evidence is still there for the next start.
    sqlite3* check = nullptr;
    ASSERT_EQ(sqlite3_open(dbPath.toUtf8().constData(), &check), SQLITE_OK);
    sqlite3_stmt* stmt = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(check, "SELECT COUNT(*) FROM keep", -1, &stmt, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_step(stmt), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(stmt, 0), 2);
    sqlite3_finalize(stmt);
    sqlite3_close(check);
}

// A database whose folder cannot be made (a file stands in its path): the banner names the file.
TEST_F(AppBootstrapTest, AFolderThatCannotBeMadeIsNamedInTheBanner)
{
    QFile blocker(folder + "/blocker");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const QString unreachable = folder + "/blocker/db/polvarine.sqlite3";
    qputenv("POLVARINE_DB", unreachable.toUtf8());
    const OpenedStore opened = AppBootstrap::openEvidenceStore();
    ASSERT_TRUE(opened.health.isNotPersisting());
    EXPECT_TRUE(opened.health.bannerMessage()->contains(pathNote(unreachable))) << opened.health.bannerMessage()->toStdString();
}

TEST(AppBootstrapErrorsTest, OnlyNotADatabaseAndCorruptCountAsUnreadable)
{
    EXPECT_TRUE(AppBootstrap::isUnreadableDatabase(StoreError(SQLITE_NOTADB, "file is not a database")));
    EXPECT_TRUE(AppBootstrap::isUnreadableDatabase(StoreError(SQLITE_CORRUPT, "database disk image is malformed")));
    EXPECT_TRUE(AppBootstrap::isUnreadableDatabase(StoreError(SQLITE_CORRUPT_INDEX, "index corrupt")));
    EXPECT_FALSE(AppBootstrap::isUnreadableDatabase(StoreError(StoreError::schemaTooNew, "newer")));
    EXPECT_FALSE(AppBootstrap::isUnreadableDatabase(StoreError(SQLITE_BUSY, "database is locked")));
    EXPECT_FALSE(AppBootstrap::isUnreadableDatabase(StoreError(SQLITE_FULL, "database or disk is full")));
    EXPECT_FALSE(AppBootstrap::isUnreadableDatabase(StoreError(SQLITE_CANTOPEN, "unable to open database file")));
    EXPECT_FALSE(AppBootstrap::isUnreadableDatabase(StoreError(SQLITE_READONLY, "attempt to write a readonly database")));
    EXPECT_FALSE(AppBootstrap::isUnreadableDatabase(std::runtime_error("permission denied")));
}

TEST_F(AppBootstrapTest, LiveCompositionOpensTheStoreAndStartsNothing)
{
    // Settings and autostart entry of this run live in the test's folder, never the user's.
    const QByteArray savedConfig = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", (folder + "/config").toUtf8());
    {
        auto vm = AppBootstrap::makeLiveViewModel();
        ASSERT_TRUE(vm);
        EXPECT_EQ(vm->storageHealth(), StorageHealth::healthy());
        EXPECT_EQ(vm->store()->location(), SQLiteStore::Location::file(dbPath));
        EXPECT_FALSE(vm->isMonitoring());
        EXPECT_FALSE(vm->isQualityRefreshRunning());
        EXPECT_TRUE(vm->events().empty());
        EXPECT_EQ(vm->updateChecker().feed(), configuredUpdateFeedUrl().value_or(QUrl()));
        EXPECT_FALSE(vm->preferences().launchesAtLogin());
    }
    if (savedConfig.isNull())
        qunsetenv("XDG_CONFIG_HOME");
    else
        qputenv("XDG_CONFIG_HOME", savedConfig);
}

TEST(ReportServicesTest, WithoutTheReportsExportsSayTheyAreUnavailable)
{
    auto exporter = makeExportService(nullptr);
    bool failed = false;
    asio::co_spawn(
        rt::QtExecutor(),
        [&]() -> rt::awaitable<void> {
            try {
                co_await exporter->runExport(ExportScope::currentDay, 0);
            } catch (const std::exception& e) {
                failed = QString::fromUtf8(e.what()) == "Exports are not available in this build.";
            }
        },
        asio::detached);
    ASSERT_TRUE(test::pumpUntil([&] { return failed; }));

    struct CountingDossier : DossierService {
        rt::awaitable<QUrl> create(DossierRequest, QUrl folder) override { co_return folder; }
    };
    QString versionSeen;
    registerReportServiceMakers({nullptr, [&](std::shared_ptr<SQLiteStore>, QString version) {
                                     versionSeen = version;
                                     return std::make_shared<CountingDossier>();
                                 }});
    EXPECT_TRUE(std::dynamic_pointer_cast<CountingDossier>(makeDossierService(nullptr, "1.0")));
    EXPECT_EQ(versionSeen, "1.0");
    registerReportServiceMakers({});
}
