#pragma once
// An application model on fakes of the probe side, an in-memory store and a settings file of the
// test's own, for the window and panel tests.

#include "core/app/AppViewModel.h"
#include "core/app/DesktopIntegration.h"
#include "core/store/SQLiteStore.h"
#include "tests/support/QuietServices.h"
#include "tests/support/TestSupport.h"

#include <QSettings>
#include <QUuid>

#include <functional>
#include <memory>

namespace pv::test {

class FakeLocationManager : public LocationManager {
public:
    int authorizationStatus() const override { return LocationPermissionService::notDetermined; }
    void requestWhenInUseAuthorization() override {}
};

inline constexpr Timestamp kFixedNow = 1'765'270'800.0; // a fixed evening, so ages in texts are stable

// Parts a test supplies itself; the quiet fakes and the fixed evening stand in for those it leaves out.
struct ModelParts {
    std::shared_ptr<TopologySource> topology;
    std::shared_ptr<ProbeRunner> probe;
    std::shared_ptr<DesktopNotifier> notifier;
    std::function<Timestamp()> clock;
    std::function<bool()> icmpRefused;
    QStringList folderOpener = {};           // the program that opens a folder (xdg-open when empty)
    std::shared_ptr<SQLiteStore> store = {}; // an in-memory store when null
};

inline std::unique_ptr<AppViewModel> makeModel(const QString& dir, StorageHealth health = StorageHealth::healthy(),
                                               ModelParts parts = {})
{
    AppViewModel::Services services;
    services.store = parts.store ? parts.store : std::make_shared<SQLiteStore>(SQLiteStore::Location::inMemory());
    services.topology = parts.topology ? parts.topology : std::make_shared<FakeTopology>();
    services.probeService = parts.probe ? parts.probe : std::make_shared<FakeProbe>();
    services.wifiProvider = std::make_shared<FakeWifi>();
    services.exportService = makeExportService(services.store);
    services.pathMonitor = std::make_shared<FakePath>();
    services.locationPermissionService =
        std::make_shared<LocationPermissionService>(std::make_unique<FakeLocationManager>());
    AppViewModel::Environment env;
    env.preferences = {std::make_shared<QSettings>(dir + "/model.ini", QSettings::IniFormat),
                       std::make_shared<XdgAutostartLoginItem>(dir + "/autostart/polvarine.desktop"),
                       parts.notifier ? parts.notifier : std::make_shared<FakeNotifier>()};
    env.updateFeed = QUrl("http://127.0.0.1:9/appcast.json"); // never fetched here
    env.clock = parts.clock ? parts.clock : [] { return kFixedNow; };
    env.monotonicClock = parts.clock;
    env.icmpRefused = parts.icmpRefused;
    env.folderOpener = parts.folderOpener;
    return std::make_unique<AppViewModel>(std::move(services), std::move(health), std::move(env));
}

inline std::shared_ptr<QSettings> makeSettings(const QString& dir)
{
    return std::make_shared<QSettings>(dir + "/settings.ini", QSettings::IniFormat);
}

} // namespace pv::test
