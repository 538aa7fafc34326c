// A disk that fills while the program records, for real: a small tmpfs in the test's own mount
// namespace (the CTest command starts the program under `unshare -m`; it refuses to mount anywhere
// else) holds the evidence file under the user's home. The overview's banner and the panel say that
// the measurement could not be stored and name the file as the user reads it; the batches wait in
// memory and are all stored, each once, when there is room again.

#include "ui/main/MenuBarView.h"
#include "ui/main/OverviewFeed.h"
#include "ui/main/RootView.h"
#include "ui/main/WorkspaceView.h"

#include "core/records/FailureText.h"
#include "tests/main/ModelFixture.h"
#include "tests/main/WidgetHelpers.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <sqlite3.h>
#include <sys/mount.h>
#include <unistd.h>

using namespace pv;
using namespace pv::test;

namespace {

QByteArray link(const char* path)
{
    char buffer[256] = {};
    const ssize_t n = ::readlink(path, buffer, sizeof buffer - 1);
    return n > 0 ? QByteArray(buffer, static_cast<qsizetype>(n)) : QByteArray();
}

// A tmpfs of 1 MiB at `path`, unmounted again at the end of the test.
struct SmallDisk {
    QString path;
    bool mounted = false;
    QString whyNot;

    explicit SmallDisk(QString at) : path(std::move(at))
    {
        if (link("/proc/self/ns/mnt").isEmpty() || link("/proc/self/ns/mnt") == link("/proc/1/ns/mnt")) {
            whyNot = QStringLiteral("not in a private mount namespace (run through ctest)");
            return;
        }
        QDir().mkpath(path);
        mounted = ::mount("tmpfs", QFile::encodeName(path).constData(), "tmpfs", MS_NOSUID | MS_NODEV, "size=1m,mode=0700") == 0;
        if (!mounted)
            whyNot = QStringLiteral("mounting a tmpfs failed: %1").arg(QString::fromLocal8Bit(strerror(errno)));
    }
    ~SmallDisk()
    {
        if (mounted)
            ::umount2(QFile::encodeName(path).constData(), MNT_DETACH);
    }
    // Writes a file until the disk has no room left.
    void fill(const QString& name) const
    {
        QFile filler(path + QLatin1Char('/') + name);
        ASSERT_TRUE(filler.open(QIODevice::WriteOnly));
        const QByteArray block(4096, 'x');
        while (filler.write(block) == block.size() && filler.flush()) {
        }
    }
};

struct Topology : TopologySource {
    const Timestamp* clock = nullptr;
    rt::awaitable<TopologySnapshot> snapshot() override
    {
        co_return TopologySnapshot(*clock, QStringLiteral("enp3s0"), QStringLiteral("192.168.1.1"), std::nullopt,
                                   QStringLiteral("192.168.1.20"), std::nullopt);
    }
};

// One answered router echo per batch.
struct Batches : ProbeRunner {
    int made = 0;
    rt::awaitable<void> start(std::optional<QString>) override { co_return; }
    rt::awaitable<void> stop() override { co_return; }
    rt::awaitable<void> rebind(std::optional<QString>) override { co_return; }
    rt::awaitable<ProbeBatch> collectBatch(RouteSnapshot route) override
    {
        ++made;
        ProbeBatch b{QUuid::createUuid(), route.timestamp, route, {}};
        NetworkSample s;
        s.id = QUuid::createUuid();
        s.batchID = b.id;
        s.timestamp = route.timestamp;
        s.target = ProbeTarget(ProbeKind::gateway, QStringLiteral("Router"), route.gatewayAddress);
        s.route = route;
        s.success = true;
        s.packetLoss = 0;
        s.latencyMilliseconds = 3;
        b.samples.push_back(s);
        co_return b;
    }
};

int count(const QString& db, const char* sql)
{
    sqlite3* handle = nullptr;
    int count = -1;
    if (sqlite3_open_v2(QFile::encodeName(db).constData(), &handle, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(handle, sql, -1, &statement, nullptr) == SQLITE_OK
            && sqlite3_step(statement) == SQLITE_ROW)
            count = sqlite3_column_int(statement, 0);
        sqlite3_finalize(statement);
    }
    sqlite3_close(handle);
    return count;
}

int storedBatches(const QString& db) { return count(db, "SELECT COUNT(DISTINCT batch_id) FROM network_samples"); }

TEST(FullDiskLab, AFullDiskIsSaidWithTheEvidenceFileAndTheWaitingBatchesAreStoredLater)
{
    const QString home = makeTempDir();
    const QByteArray oldHome = qgetenv("HOME");
    qputenv("HOME", QFile::encodeName(home));
    SmallDisk disk(home + QStringLiteral("/.local/share/Polvarine"));
    if (!disk.mounted) {
        qputenv("HOME", oldHome);
        GTEST_SKIP() << disk.whyNot.toStdString();
    }
    const QString db = disk.path + QStringLiteral("/polvarine.sqlite3");
    Timestamp clock = kFixedNow - 600;
    auto topology = std::make_shared<Topology>();
    topology->clock = &clock;
    ModelParts parts;
    parts.topology = topology;
    auto batches = std::make_shared<Batches>();
    parts.probe = batches;
    parts.clock = [&clock] { return clock; };
    parts.store = std::make_shared<SQLiteStore>(SQLiteStore::Location::file(db));
    auto model = makeModel(home, StorageHealth::healthy(), parts);
    OverviewFeed::of(*model).setClock([&clock] { return clock; });
    int cycles = 0;
    auto cycle = [&] {
        clock += 5;
        ++cycles;
        auto done = std::make_shared<bool>(false);
        asio::co_spawn(rt::QtExecutor(), model->runProbeCycle(), [done](std::exception_ptr) { *done = true; });
        ASSERT_TRUE(pumpUntil([&] { return *done; }));
        settle();
    };
    for (int i = 0; i < 3; ++i)
        cycle();
    ASSERT_EQ(storedBatches(db), 3);
    ASSERT_FALSE(model->isRecordingFailing());

    disk.fill(QStringLiteral("filler"));
    // Until a batch no longer fits (the database file's pages may hold the first ones).
    for (int i = 0; i < 200 && !model->isRecordingFailing(); ++i)
        cycle();
    ASSERT_TRUE(model->isRecordingFailing()) << "the disk never ran out of room";
    const QString expected = QStringLiteral("A mérést nem sikerült elmenteni: ") + failureSentence(FailureCause::diskFull) +
                             QStringLiteral(" Érintett hely: ~/.local/share/Polvarine/polvarine.sqlite3");
    EXPECT_EQ(model->exportStatusMessage(), std::optional<QString>(expected));

    auto settings = makeSettings(home);
    settings->setValue(QLatin1String(WorkspaceView::didWelcomeKey), true);
    {
        WorkspaceView view(*model, settings);
        view.resize(1080, 700);
        view.show();
        PolvarineMenuBarView panel(*model);
        panel.show();
        settle();
        auto* root = qobject_cast<PolvarineRootView*>(view.detailScreen());
        ASSERT_NE(root, nullptr);
        EXPECT_TRUE(root->statusBanner()->isVisible());
        EXPECT_EQ(root->statusBanner()->message(), expected);
        EXPECT_EQ(panel.statusLineText(), expected);
        view.grab().save(screensDir() + QStringLiteral("/full-disk-overview.png"));
        panel.grab().save(screensDir() + QStringLiteral("/full-disk-panel.png"));
    }
    model->stopMonitoring(); // the window's start-up set the model's own loop going
    settle();

    // Room again: every batch measured meanwhile is stored, each once, and the warning goes.
    ASSERT_TRUE(QFile::remove(disk.path + QStringLiteral("/filler")));
    cycle();
    EXPECT_FALSE(model->isRecordingFailing());
    EXPECT_FALSE(model->exportStatusMessage());
    // One router sample per batch: every batch measured is there, none twice.
    EXPECT_GE(batches->made, cycles);
    EXPECT_EQ(storedBatches(db), batches->made);
    EXPECT_EQ(count(db, "SELECT COUNT(*) FROM network_samples"), storedBatches(db));
    model.reset();
    qputenv("HOME", oldHome);
}

} // namespace
