#include "core/app/AppBootstrap.h"

#include "core/app/AppViewModel.h"
#include "core/app/ReportServices.h"
#include "core/app/ServiceAdapters.h"
#include "core/probes/DNSProbe.h"
#include "core/probes/LocationPermission.h"
#include "core/records/Logging.h"
#include "core/records/Profile.h"
#include "core/store/SQLiteStore.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <sqlite3.h>

#include <filesystem>
#include <tuple>

namespace pv {

namespace AppBootstrap {

namespace {
const QString kCouldNotCreate = QStringLiteral("the database file could not be created");

std::shared_ptr<SQLiteStore> openInMemory(QString& reason)
{
    try {
        return std::make_shared<SQLiteStore>(SQLiteStore::Location::inMemory());
    } catch (const std::exception& e) {
        reason = QString::fromUtf8(e.what());
        return std::shared_ptr<SQLiteStore>(SQLiteStore::unavailable(reason));
    }
}

OpenedStore runInMemory(QString reason, const QString& databasePath)
{
    auto store = openInMemory(reason);
    return {std::move(store), StorageHealth::notPersisting(reason, databasePath)};
}

// Where the database was meant to be, for the banner, when making its folder already failed.
QString intendedDatabasePath()
{
    QString path = qEnvironmentVariable("POLVARINE_DB");
    if (!path.isEmpty()) {
        if (path == QLatin1String("~") || path.startsWith(QLatin1String("~/")))
            path = QDir::homePath() + path.mid(1);
        return QFileInfo(path).absoluteFilePath();
    }
    const QString dataFolder = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return dataFolder.isEmpty() ? QString() : dataFolder + QStringLiteral("/Polvarine/polvarine.sqlite3");
}

QString describe(const std::exception& e)
{
    if (const auto* storeError = dynamic_cast<const StoreError*>(&e))
        return storeError->message();
    return QString::fromUtf8(e.what());
}
} // namespace

bool isUnreadableDatabase(const std::exception& error)
{
    const auto* storeError = dynamic_cast<const StoreError*>(&error);
    if (storeError == nullptr)
        return false;
    // Extended result codes keep the primary code in their low byte.
    const int primary = storeError->code() & 0xff;
    return primary == SQLITE_NOTADB || primary == SQLITE_CORRUPT;
}

QString quarantineCorruptStore(const QString& databasePath)
{
    namespace fs = std::filesystem;
    QString stamp = QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd'T'HHmmss"));
    stamp.remove(QLatin1Char(':'));
    const QString destination = databasePath + QStringLiteral(".corrupt-") + stamp;
    for (const char* suffix : {"", "-wal", "-shm"}) {
        const fs::path source = (databasePath + QLatin1String(suffix)).toStdString();
        std::error_code ec;
        if (!fs::exists(source, ec))
            continue;
        const fs::path target = (destination + QLatin1String(suffix)).toStdString();
        fs::remove(target, ec); // a leftover at the target is replaced; its removal may fail quietly
        fs::rename(source, target);
    }
    return destination;
}

OpenedStore openEvidenceStore()
{
    QString path;
    try {
        path = SQLiteStore::defaultLocation();
        return {std::make_shared<SQLiteStore>(SQLiteStore::Location::file(path)), StorageHealth::healthy()};
    } catch (const std::exception& first) {
        qCCritical(log::bootstrap, "Opening the evidence store failed: %s", qUtf8Printable(describe(first)));
        if (path.isEmpty())
            return runInMemory(describe(first), intendedDatabasePath());
        if (!isUnreadableDatabase(first)) {
            // Not the file's fault: it stays untouched for the next start (or the newer version).
            qCWarning(log::bootstrap, "Leaving the evidence store file untouched and running in memory");
            return runInMemory(describe(first), path);
        }
    }

    try {
        const QString quarantined = quarantineCorruptStore(path);
        auto store = std::make_shared<SQLiteStore>(SQLiteStore::Location::file(path));
        qCInfo(log::bootstrap, "Started a fresh evidence store; the old one is at %s", qUtf8Printable(quarantined));
        return {std::move(store), StorageHealth::startedFresh(quarantined)};
    } catch (const std::exception& e) {
        qCCritical(log::bootstrap, "Recovering with a fresh database failed: %s", qUtf8Printable(describe(e)));
    }
    return runInMemory(kCouldNotCreate, path);
}

NativeProbeService::Options probeOptionsFromEnvironment()
{
    NativeProbeService::Options options;
    const QString captive = qEnvironmentVariable("POLVARINE_CAPTIVE_URL");
    const char* source = "the built-in default";
    if (!captive.isEmpty()) {
        options.captivePageURL = captive;
        options.captivePageResponse = qEnvironmentVariableIsSet("POLVARINE_CAPTIVE_RESPONSE")
                                          ? qgetenv("POLVARINE_CAPTIVE_RESPONSE")
                                          : QByteArrayLiteral("Success");
        source = "POLVARINE_CAPTIVE_URL";
    } else if (const auto system = HTTPProbe::networkManagerCheck(HTTPProbe::networkManagerConfigFiles())) {
        std::tie(options.captivePageURL, options.captivePageResponse) = *system;
        source = "NetworkManager's connectivity check";
    }
    const QString expecting = options.captivePageResponse.isEmpty()
                                  ? QStringLiteral("a 204 or an empty body")
                                  : QLatin1Char('"') + QString::fromUtf8(options.captivePageResponse) + QLatin1Char('"');
    qCInfo(log::bootstrap, "HTTP check page: %s, expecting %s (%s)", qUtf8Printable(options.captivePageURL),
           qUtf8Printable(expecting), source);
    return options;
}

MeasurementProfile probeProfile()
{
    MeasurementProfile profile = MeasurementProfile::defaultProfile();
    profile.dnsProbeZone = DNSProbe::zoneFromEnvironment();
    qCInfo(log::bootstrap, "%s", qUtf8Printable(profile.dnsMethodologyNote()));
    return profile;
}

std::unique_ptr<AppViewModel> makeLiveViewModel() { return makeLiveViewModel(AppViewModel::Environment{}); }

std::unique_ptr<AppViewModel> makeLiveViewModel(AppViewModel::Environment environment)
{
    OpenedStore opened = openEvidenceStore();
    // The sockets and timers of every service run on this one background loop.
    auto runtime = std::make_shared<rt::NetworkRuntime>("pv-probes");
    AppViewModel::Services services;
    services.runtime = runtime;
    services.store = opened.store;
    services.topology = std::make_shared<TopologyAdapter>(std::make_shared<NetworkTopologyService>());
    services.probeService = std::make_shared<ProbeAdapter>(
        std::make_shared<NativeProbeService>(runtime->executor(), probeProfile(), probeOptionsFromEnvironment()));
    services.wifiProvider = std::make_shared<WifiAdapter>(std::make_shared<WiFiSnapshotProvider>());
    services.exportService = makeExportService(opened.store);
    services.pathMonitor = std::make_shared<PathAdapter>(std::make_shared<PathMonitorService>());
    services.locationPermissionService = std::make_shared<LocationPermissionService>();
    return std::make_unique<AppViewModel>(std::move(services), std::move(opened.health), std::move(environment));
}

} // namespace AppBootstrap

} // namespace pv
