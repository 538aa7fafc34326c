// Runs the composed live model headless in the network lab for a given time (600 s by default) and
// reports the process's CPU time per wall-clock second and its resident memory. The model runs with
// the program's own settings: 600 s live window, standard thresholds, the default profile.

#include "core/app/AppBootstrap.h"
#include "core/app/AppViewModel.h"
#include "core/app/DesktopIntegration.h"
#include "tests/lab/LabEnv.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <sys/resource.h>

#include <cstdio>

namespace {

struct Silent : pv::DesktopNotifier {
    void requestAuthorization() override {}
    void post(const QString&, const QString&, const QString&) override {}
};

double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// "VmRSS" or "VmHWM" of /proc/self/status, in MB.
double statusMegabytes(const char* field)
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray prefix = QByteArray(field) + ':';
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ').first().toDouble() / 1024.0;
    return -1;
}

int waitForPortFile(const QString& path)
{
    for (int i = 0; i < 200; ++i) {
        QFile f(path);
        if (f.open(QIODevice::ReadOnly)) {
            const int port = QString::fromUtf8(f.readAll()).trimmed().toInt();
            if (port > 0)
                return port;
        }
        QThread::msleep(50);
    }
    return -1;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(10, std::atoi(argv[1])) : 600;
    auto lab = pv::lab::LabEnv::current();
    if (!lab) {
        std::fprintf(stderr, "not inside the network lab: run through tests/lab/run-in-lab.sh\n");
        return 77;
    }
    QTemporaryDir dir;
    QString source = qEnvironmentVariable("PV_SOURCE_DIR");
    if (source.isEmpty())
        source = QStringLiteral(PV_SOURCE_DIR_DEFAULT);
    const QString servers = source + "/tests/lab/servers/";
    const QString lifetime = QString::number(seconds + 120);
    lab->startInNamespace(lab->inetNs, {"python3", servers + "dns_server.py", "--bind", lab->servicesAddr, "--port",
                                        "53", "--port-file", dir.filePath("dns.port"), "--lifetime", lifetime});
    lab->startInNamespace(lab->inetNs, {"python3", servers + "http_server.py", "--bind", lab->servicesAddr, "--port",
                                        "8080", "--port-file", dir.filePath("http.port"), "--lifetime", lifetime});
    if (waitForPortFile(dir.filePath("dns.port")) != 53 || waitForPortFile(dir.filePath("http.port")) != 8080) {
        std::fprintf(stderr, "the lab servers did not start\n");
        return 1;
    }
    qputenv("POLVARINE_DB", dir.filePath("polvarine.sqlite3").toUtf8());
    qputenv("POLVARINE_CAPTIVE_URL", QStringLiteral("http://%1:8080/hotspot-detect.html").arg(lab->servicesAddr).toUtf8());

    pv::AppViewModel::Environment env;
    env.preferences = {std::make_shared<QSettings>(dir.filePath("settings.ini"), QSettings::IniFormat),
                       std::make_shared<pv::XdgAutostartLoginItem>(dir.filePath("polvarine.desktop")),
                       std::make_shared<Silent>()};
    env.updateFeed = QUrl(QStringLiteral("http://%1:8080/appcast.json").arg(lab->servicesAddr));
    auto vm = pv::AppBootstrap::makeLiveViewModel(std::move(env));

    bool booted = false;
    auto boot = [&]() -> pv::rt::awaitable<void> { co_await vm->bootstrap(); };
    asio::co_spawn(pv::rt::QtExecutor(), std::move(boot), [&](std::exception_ptr) { booted = true; });
    while (!booted)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);

    const double cpuStart = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    QTimer::singleShot(seconds * 1000, &app, &QCoreApplication::quit);
    app.exec();
    const double cpu = cpuSeconds() - cpuStart;
    const double elapsed = static_cast<double>(wall.elapsed()) / 1000.0;

    std::printf("headless monitor footprint over %.0f s\n", elapsed);
    std::printf("  batches stored       %zu (in memory), live status %s\n", vm->recentBatches().size(),
                qUtf8Printable(pv::rawValue(vm->liveStatus())));
    std::printf("  CPU time             %.2f s (user+sys)\n", cpu);
    std::printf("  CPU share            %.3f %% of one core (goal < 0.5 %%)\n", 100.0 * cpu / elapsed);
    std::printf("  resident now         %.1f MB (goal < 60 MB)\n", statusMegabytes("VmRSS"));
    std::printf("  resident peak        %.1f MB\n", statusMegabytes("VmHWM"));
    std::fflush(stdout);

    // The model goes while the event loop still runs, so that every call it awaits can complete.
    vm->stopMonitoring();
    QElapsedTimer drain;
    drain.start();
    while (drain.elapsed() < 2000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    vm.reset();
    return 0;
}
