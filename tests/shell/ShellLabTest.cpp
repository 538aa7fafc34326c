// The real program, as a user starts it, inside the network lab's client namespace under Xvfb: the
// lab's servers stand in for the captive page and the DNS, so every probe it sends stays in the lab.

#include "tests/lab/LabEnv.h"
#include "tests/support/TestSupport.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSettings>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/stat.h>

namespace {

using namespace std::chrono_literals;
using pv::lab::LabEnv;

constexpr int kRecordSeconds = 60;

QString sourceFile(const QString& relative)
{
    return qEnvironmentVariable("PV_SOURCE_DIR", QStringLiteral(PV_SOURCE_ROOT)) + QLatin1Char('/') + relative;
}

// One value from the program's database (read-only; the program keeps writing in WAL mode).
QString query(const QString& db, const QString& sql)
{
    QProcess sqlite;
    sqlite.start(QStringLiteral("sqlite3"), {QStringLiteral("-readonly"), db, sql});
    if (!sqlite.waitForFinished(10000))
        return {};
    return QString::fromUtf8(sqlite.readAllStandardOutput()).trimmed();
}

QString tail(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray all = file.readAll();
    return QString::fromUtf8(all.right(4000));
}

struct Xvfb {
    QProcess process;
    QString display;

    bool start()
    {
        // Xvfb picks a free display itself and writes its number once it accepts clients.
        process.start(QStringLiteral("Xvfb"), {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                                               QStringLiteral("0"), QStringLiteral("1440x900x24"),
                                               QStringLiteral("-nolisten"), QStringLiteral("tcp")});
        if (!process.waitForStarted(5000))
            return false;
        pv::test::pumpUntil([&] { return process.canReadLine() || process.state() != QProcess::Running; }, 10s);
        const QString number = QString::fromLatin1(process.readLine()).trimmed();
        if (number.isEmpty())
            return false;
        display = QLatin1Char(':') + number;
        return true;
    }
    ~Xvfb()
    {
        process.terminate();
        if (!process.waitForFinished(3000))
            process.kill();
        process.waitForFinished(1000);
    }
};

TEST(ShellLab, TheProgramRecordsShowsTheDashboardHandsOverAndEndsCleanly)
{
    auto lab = LabEnv::current();
    if (!lab)
        GTEST_SKIP() << "not inside the network lab";
    const QString tmp = pv::test::makeTempDir();
    ::chmod(QFile::encodeName(tmp).constData(), 0700);

    // The lab internet's DNS answers every name with its services address, so the captive-page
    // host resolves to the HTTP server next to it.
    const QString dnsReady = tmp + QStringLiteral("/dns.port");
    const QString httpReady = tmp + QStringLiteral("/http.port");
    ASSERT_GT(lab->startInNamespace(lab->inetNs, {QStringLiteral("python3"), sourceFile(QStringLiteral("tests/lab/servers/dns_server.py")),
                                                  QStringLiteral("--bind"), lab->servicesAddr, QStringLiteral("--port"), QStringLiteral("53"),
                                                  QStringLiteral("--mode"), QStringLiteral("answer"), QStringLiteral("--address"),
                                                  lab->servicesAddr, QStringLiteral("--port-file"), dnsReady,
                                                  QStringLiteral("--lifetime"), QStringLiteral("200")}),
              0);
    ASSERT_GT(lab->startInNamespace(lab->inetNs, {QStringLiteral("python3"), sourceFile(QStringLiteral("tests/lab/servers/http_server.py")),
                                                  QStringLiteral("--bind"), lab->servicesAddr, QStringLiteral("--port"), QStringLiteral("80"),
                                                  QStringLiteral("--port-file"), httpReady, QStringLiteral("--lifetime"),
                                                  QStringLiteral("200")}),
              0);
    ASSERT_TRUE(pv::test::pumpUntil([&] { return QFile::exists(dnsReady) && QFile::exists(httpReady); }, 15s))
        << "the lab servers did not start";

    Xvfb xvfb;
    ASSERT_TRUE(xvfb.start()) << "Xvfb did not start";

    // A user of its own: home, settings, data, runtime folder and database in the temporary folder.
    const QString db = tmp + QStringLiteral("/data/polvarine.sqlite3");
    QDir().mkpath(tmp + QStringLiteral("/data"));
    QDir().mkpath(tmp + QStringLiteral("/run"));
    ::chmod(QFile::encodeName(tmp + QStringLiteral("/run")).constData(), 0700);
    {
        // The welcome flow has been seen, so the window opens on the dashboard.
        QSettings settings(tmp + QStringLiteral("/config/Polvarine/Polvarine.ini"), QSettings::IniFormat);
        settings.setValue(QStringLiteral("workspace.didWelcome"), true);
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    env.insert(QStringLiteral("DISPLAY"), xvfb.display);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("HOME"), tmp);
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), tmp + QStringLiteral("/config"));
    env.insert(QStringLiteral("XDG_DATA_HOME"), tmp + QStringLiteral("/data"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), tmp + QStringLiteral("/run"));
    env.insert(QStringLiteral("POLVARINE_DB"), db);
    env.insert(QStringLiteral("POLVARINE_UPDATE_FEED"), QStringLiteral("http://%1/appcast.json").arg(lab->servicesAddr));

    QProcess app;
    app.setProcessEnvironment(env);
    const QString log = tmp + QStringLiteral("/polvarine.log");
    app.setStandardOutputFile(log);
    app.setStandardErrorFile(log, QIODevice::Append);
    QElapsedTimer running;
    running.start();
    app.start(QStringLiteral(PV_POLVARINE_BIN), {});
    ASSERT_TRUE(app.waitForStarted(5000));

    // The first batches land within seconds; no point waiting the full minute when none do.
    const QString batches = QStringLiteral("SELECT COUNT(DISTINCT batch_id) FROM network_samples");
    QElapsedTimer poll;
    poll.start();
    const bool recording = pv::test::pumpUntil(
        [&] {
            if (app.state() != QProcess::Running)
                return true;
            if (poll.elapsed() < 200) // one sqlite3 run per 200 ms is plenty
                return false;
            poll.restart();
            return query(db, batches).toInt() >= 1;
        },
        20s);
    ASSERT_TRUE(recording && app.state() == QProcess::Running) << "no batch recorded:\n" << tail(log).toStdString();
    const qint64 firstBatchMs = running.elapsed();

    // A second launch only asks the running copy to show itself.
    QProcess second;
    second.setProcessEnvironment(env);
    second.start(QStringLiteral(PV_POLVARINE_BIN), {});
    ASSERT_TRUE(second.waitForFinished(10000)) << "the second copy kept running";
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0) << second.readAllStandardError().toStdString();
    EXPECT_EQ(app.state(), QProcess::Running);

    pv::test::pumpUntil([&] { return app.state() != QProcess::Running; },
                        std::chrono::milliseconds(std::max<qint64>(0, kRecordSeconds * 1000 - running.elapsed())));
    ASSERT_EQ(app.state(), QProcess::Running) << "the program ended on its own:\n" << tail(log).toStdString();

    // The dashboard, for a person to look at.
    QDir().mkpath(QStringLiteral(PV_SCREENS_DIR));
    const QString shot = QStringLiteral(PV_SCREENS_DIR "/lab-dashboard.png");
    QProcess grab;
    QProcessEnvironment grabEnv = QProcessEnvironment::systemEnvironment();
    grabEnv.insert(QStringLiteral("DISPLAY"), xvfb.display);
    grab.setProcessEnvironment(grabEnv);
    grab.start(QStringLiteral(PV_GRAB_BIN), {shot});
    ASSERT_TRUE(grab.waitForFinished(15000));
    EXPECT_EQ(grab.exitCode(), 0) << grab.readAllStandardError().toStdString();
    std::printf("dashboard screenshot: %s\n", qPrintable(shot));

    // A minute of batches, each probing the gateway, both public hosts and the captive page, the
    // last of them fresh.
    const int batchCount = query(db, batches).toInt();
    EXPECT_GE(batchCount, 8) << tail(log).toStdString();
    for (const char* kind : {"gateway", "publicIP", "http"}) {
        const QString ok = query(db, QStringLiteral("SELECT COUNT(*) FROM network_samples WHERE target_kind='%1' AND success=1")
                                         .arg(QLatin1String(kind)));
        EXPECT_GE(ok.toInt(), batchCount / 2) << kind << " samples mostly failed";
    }
    const double newest = query(db, QStringLiteral("SELECT MAX(timestamp) FROM network_samples")).toDouble();
    EXPECT_GT(newest, QDateTime::currentSecsSinceEpoch() - 15.0);

    // Asked to end, it ends by itself, cleanly.
    QElapsedTimer ending;
    ending.start();
    ::kill(static_cast<pid_t>(app.processId()), SIGTERM);
    ASSERT_TRUE(app.waitForFinished(15000)) << "still running 15 s after SIGTERM";
    const qint64 endingMs = ending.elapsed();
    EXPECT_EQ(app.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(app.exitCode(), 0) << tail(log).toStdString();
    EXPECT_EQ(query(db, QStringLiteral("PRAGMA integrity_check")), QStringLiteral("ok"));
    std::printf("first batch stored after %lld ms; %d batches in %lld s; ended %lld ms after SIGTERM\n",
                static_cast<long long>(firstBatchMs), batchCount, static_cast<long long>(running.elapsed() / 1000),
                static_cast<long long>(endingMs));
}

} // namespace
