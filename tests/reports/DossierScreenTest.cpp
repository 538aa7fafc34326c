// The dossier screen offscreen: its initial state, the spinner while a build runs, the controls
// read once per build, and the reveal button across a success and a later failure. PNGs of each
// state under screens/ for review.
#include "core/app/AppViewModel.h"
#include "core/records/FailureText.h"
#include "core/store/SQLiteStore.h"
#include "reports/DossierScreen.h"
#include "tests/main/WidgetHelpers.h"
#include "ui/design/Symbols.h"
#include "tests/support/QuietServices.h"
#include "tests/support/TestSupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>

#include <gtest/gtest.h>

#include <stdexcept>

using namespace pv;
using namespace pv::test;

namespace {

constexpr Timestamp kNow = 1'765'270'800.0;

class FakeLocationManager : public LocationManager {
public:
    int authorizationStatus() const override { return LocationPermissionService::notDetermined; }
    void requestWhenInUseAuthorization() override {}
};

// Holds each build until the test lets it end, with a file or with an error.
struct GatedDossierService : DossierService {
    std::vector<DossierRequest> requests;
    bool released = false;
    bool fail = false;

    rt::awaitable<QUrl> create(DossierRequest request, QUrl folder) override
    {
        requests.push_back(request);
        while (!released)
            co_await asio::post(co_await asio::this_coro::executor, rt::use_awaitable);
        released = false;
        if (fail)
            throw std::runtime_error("the disk is full");
        co_return QUrl::fromLocalFile(folder.toLocalFile() + "/Polvarine-meresi-dosszie-20251202-20251209.pdf");
    }
};

struct Fixture {
    QString dir = makeTempDir();
    std::shared_ptr<GatedDossierService> service = std::make_shared<GatedDossierService>();
    std::unique_ptr<AppViewModel> model;
    std::unique_ptr<DossierScreen> screen;

    Fixture()
    {
        pvInstallIconTheme(); // as the program does at start
        AppViewModel::Services services;
        services.store = std::make_shared<SQLiteStore>(SQLiteStore::Location::inMemory());
        services.topology = std::make_shared<FakeTopology>();
        services.probeService = std::make_shared<FakeProbe>();
        services.wifiProvider = std::make_shared<FakeWifi>();
        services.exportService = makeExportService(services.store);
        services.pathMonitor = std::make_shared<FakePath>();
        services.locationPermissionService =
            std::make_shared<LocationPermissionService>(std::make_unique<FakeLocationManager>());
        AppViewModel::Environment env;
        env.preferences = {std::make_shared<QSettings>(dir + "/model.ini", QSettings::IniFormat),
                           std::make_shared<XdgAutostartLoginItem>(dir + "/autostart/polvarine.desktop"),
                           std::make_shared<FakeNotifier>()};
        env.updateFeed = QUrl("http://127.0.0.1:9/appcast.json"); // never fetched here
        env.clock = [] { return kNow; };
        env.dossierService = service;
        env.desktopFolder = dir + "/Asztal";
        model = std::make_unique<AppViewModel>(std::move(services), StorageHealth::healthy(), std::move(env));
        screen = std::make_unique<DossierScreen>(*model);
        screen->resize(900, 1000);
        screen->show();
        settle();
    }

    void finishBuild(bool failing)
    {
        service->fail = failing;
        service->released = true;
        EXPECT_TRUE(pumpUntil([&] { return !model->isBuildingDossier(); }));
        settle();
    }

    void shoot(const QString& name) { screen->grab().toImage().save(screensDir() + "/dossier-" + name + ".png"); }
};

TEST(DossierScreenTest, StartsWithTheLastWeekAndNamesShown)
{
    Fixture f;
    EXPECT_TRUE(f.screen->rangeButton(DossierRangeOption::lastWeek)->isChecked());
    EXPECT_EQ(f.screen->rangeButton(DossierRangeOption::lastWeek)->text(), "Utolsó 7 nap");
    EXPECT_FALSE(f.screen->anonymiseSwitch()->isChecked());
    EXPECT_TRUE(f.screen->createButton()->isEnabled());
    EXPECT_FALSE(f.screen->spinner()->isVisible());
    EXPECT_FALSE(f.screen->revealButton()->isVisible());
    EXPECT_FALSE(f.screen->statusLine()->isVisible());
    expectNoTextCut(f.screen.get(), "initial");
    f.shoot("initial");
}

TEST(DossierScreenTest, ABuildReadsTheControlsOnceAndShowsTheSpinner)
{
    struct Case {
        DossierRangeOption range;
        bool anonymise;
        double seconds;
    } cases[] = {{DossierRangeOption::lastMonth, true, 2592000}, {DossierRangeOption::lastDay, false, 86400}};
    for (const Case& c : cases) {
        Fixture f;
        f.screen->rangeButton(c.range)->click();
        if (c.anonymise)
            f.screen->anonymiseSwitch()->click();
        f.screen->createButton()->click();
        ASSERT_TRUE(pumpUntil([&] { return f.model->isBuildingDossier(); }));
        settle();
        EXPECT_FALSE(f.screen->createButton()->isEnabled());
        EXPECT_TRUE(f.screen->spinner()->isVisible());
        if (c.anonymise)
            f.shoot("building");
        // Changing the controls now does not touch the build that runs.
        f.screen->rangeButton(DossierRangeOption::lastWeek)->click();
        f.screen->anonymiseSwitch()->click();
        f.finishBuild(false);
        ASSERT_EQ(f.service->requests.size(), 1u);
        EXPECT_EQ(f.service->requests[0].duration(), c.seconds);
        EXPECT_EQ(f.service->requests[0].end, kNow);
        EXPECT_EQ(f.service->requests[0].anonymiseNetworkNames, c.anonymise);
        EXPECT_FALSE(f.screen->spinner()->isVisible());
    }
}

TEST(DossierScreenTest, RevealStaysUntilALaterBuildFails)
{
    Fixture f;
    f.screen->createButton()->click();
    f.finishBuild(false);
    EXPECT_TRUE(f.screen->revealButton()->isVisible());
    EXPECT_EQ(f.screen->statusLine()->text(),
              "Elkészült: Polvarine-meresi-dosszie-20251202-20251209.pdf — az asztalodon van.");
    EXPECT_TRUE(f.screen->createButton()->isEnabled());
    f.shoot("done");

    f.screen->createButton()->click();
    ASSERT_TRUE(pumpUntil([&] { return f.model->isBuildingDossier(); }));
    settle();
    EXPECT_TRUE(f.screen->revealButton()->isVisible()) << "the earlier file stays reachable during a build";
    EXPECT_TRUE(f.screen->spinner()->isVisible());
    f.finishBuild(true);
    EXPECT_FALSE(f.screen->revealButton()->isVisible());
    // The cause in Hungarian; the system's own text goes to the log.
    EXPECT_EQ(f.screen->statusLine()->text(), "Nem sikerült elkészíteni: " + failureSentence(FailureCause::diskFull));
    f.shoot("failed");
}

} // namespace
