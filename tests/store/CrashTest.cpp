// A writer killed at random moments must never damage the database nor lose a batch whose insert
// had returned.
#include "core/store/SQLiteStore.h"

#include "tests/store/StoreTestSupport.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSet>

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <random>

using namespace pv;
using namespace pv::test;

TEST(StoreCrashTest, KilledWriterLeavesAnIntactDatabaseWithEveryReportedBatch)
{
    const QString path = freshDatabasePath();
    const auto seed = static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count());
    std::mt19937 random(seed);
    SCOPED_TRACE("seed " + std::to_string(seed));

    // Each round kills the writer right after it has reported a random number of batches (and a
    // random moment more), so the kill lands while batches are being written however fast or slow
    // the machine is.
    std::uniform_int_distribution<int> batchesBeforeKill(1, 6);
    std::uniform_int_distribution<int> extraMs(0, 15);
    QSet<QString> reported;
    int expectedAtLeast = 0;
    for (int round = 0; round < 30; ++round) {
        QProcess writer;
        writer.start(QStringLiteral(PV_CRASH_WRITER), {path});
        ASSERT_TRUE(writer.waitForStarted(5000));
        const int wanted = batchesBeforeKill(random);
        QByteArray out;
        while (out.count('\n') < wanted && writer.state() == QProcess::Running) {
            if (writer.waitForReadyRead(60000))
                out += writer.readAllStandardOutput();
            else
                break;
        }
        ASSERT_GE(out.count('\n'), wanted) << "the writer stopped reporting: " << writer.readAllStandardError().toStdString();
        ASSERT_FALSE(writer.waitForFinished(extraMs(random))) << writer.readAllStandardError().toStdString();
        writer.kill(); // SIGKILL
        ASSERT_TRUE(writer.waitForFinished(5000));
        ASSERT_EQ(writer.exitStatus(), QProcess::CrashExit);
        expectedAtLeast += wanted;

        // Only whole lines count: a line is written after its batch was stored.
        out += writer.readAllStandardOutput();
        for (const QByteArray& line : out.left(out.lastIndexOf('\n') + 1).split('\n'))
            if (!line.isEmpty())
                reported.insert(QString::fromLatin1(line));

        { SQLiteStore reopened(SQLiteStore::Location::file(path)); }
        RawDb db(path);
        ASSERT_EQ(db.text(QStringLiteral("PRAGMA integrity_check;")), QStringLiteral("ok")) << "round " << round;
        std::map<QString, int> stored;
        const QStringList rows =
            db.column(QStringLiteral("SELECT batch_id || ' ' || COUNT(*) FROM network_samples GROUP BY batch_id;"));
        for (const QString& row : rows)
            stored[row.section(QLatin1Char(' '), 0, 0)] = row.section(QLatin1Char(' '), 1, 1).toInt();
        for (const QString& id : reported)
            ASSERT_EQ(stored[id], 5) << "round " << round << " batch " << id.toStdString();
    }
    // Every batch reported in every round was checked.
    EXPECT_GE(reported.size(), expectedAtLeast);
}

// The writer opens the history while it records; then another process reads the file and closes
// it, as the sqlite3 shell or a backup does. The writer's write-ahead log must outlive that reader,
// what the writer stores afterwards must reach the next reader, and a kill must cost nothing stored.
TEST(StoreCrashTest, OutsideReaderAfterTheHistoryOpenedLeavesTheLogAndEveryBatch)
{
    const QString path = freshDatabasePath();
    QProcess writer;
    writer.start(QStringLiteral(PV_CRASH_WRITER), {path, QStringLiteral("--history")});
    ASSERT_TRUE(writer.waitForStarted(5000));
    QStringList lines; // only whole lines: a line is written after its batch was stored
    const auto readUntil = [&](auto done) {
        do
            while (writer.canReadLine())
                lines << QString::fromLatin1(writer.readLine().trimmed());
        while (!done() && writer.waitForReadyRead(60000));
        return done();
    };
    const auto rowsOf = [&path](const QString& batch) {
        return RawDb(path).integer(QStringLiteral("SELECT COUNT(*) FROM network_samples WHERE batch_id = '%1';").arg(batch));
    };
    ASSERT_TRUE(readUntil([&] { return lines.contains(QStringLiteral("history")); }))
        << writer.readAllStandardError().toStdString();
    EXPECT_GE(RawDb(path).integer(QStringLiteral("SELECT COUNT(*) FROM network_samples;")), 20);
    const qsizetype afterRead = lines.size();
    ASSERT_TRUE(readUntil([&] { return lines.size() >= afterRead + 3; }));

    EXPECT_TRUE(QFile::exists(path + QStringLiteral("-wal")));
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(writer.processId()));
    for (const QString& fd : fds.entryList(QDir::NoDotAndDotDot | QDir::AllEntries))
        EXPECT_FALSE(QFile::symLinkTarget(fds.filePath(fd)).endsWith(QStringLiteral(" (deleted)")))
            << QFile::symLinkTarget(fds.filePath(fd)).toStdString();
    EXPECT_EQ(rowsOf(lines.last()), 5);

    writer.kill(); // SIGKILL
    ASSERT_TRUE(writer.waitForFinished(5000));
    readUntil([] { return true; });
    lines.removeAll(QStringLiteral("history"));
    { SQLiteStore reopened(SQLiteStore::Location::file(path)); }
    for (const QString& id : lines)
        EXPECT_EQ(rowsOf(id), 5) << id.toStdString();
}
