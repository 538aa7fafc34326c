// The dossier screen offscreen: its initial state, the spinner while a build runs, the controls
// read once per build, and the reveal button across a success and a later failure. PNGs of each
// state under screens/ for review.
#include "core/app/AppViewModel.h"
#include "core/records/FailureText.h"
#include "core/store/SQLiteStore.h"
#include "reports/DossierScreen.h"
#include "reports/DossierService.h"
#include "tests/main/WidgetHelpers.h"
#include "ui/design/Controls.h"
#include "ui/design/Symbols.h"
#include "ui/design/Theme.h"
#include "ui/design/Depth.h"
#include "ui/design/Text.h"
#include "tests/support/QuietServices.h"
#include "tests/support/TestSupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QTest>

#include <QHBoxLayout>
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

    // With `realService`, the program's own dossier service over the fixture's empty store.
    explicit Fixture(bool realService = false, QStringList folderOpener = {})
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
        if (realService)
            env.dossierService = std::make_shared<PdfDossierService>(services.store, QStringLiteral("1.0"), [] { return kNow; });
        else
            env.dossierService = service;
        env.desktopFolder = dir + "/Asztal";
        env.folderOpener = std::move(folderOpener);
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

    void pickRange(DossierRangeOption option)
    {
        PVSegmentedPicker* picker = screen->rangePicker();
        QTest::mouseClick(picker, Qt::LeftButton, {}, picker->segmentRect(static_cast<int>(option)).center());
    }

    void shoot(const QString& name) { screen->grab().toImage().save(screensDir() + "/dossier-" + name + ".png"); }
};

TEST(DossierScreenTest, StartsWithTheLastWeekAndNamesShown)
{
    Fixture f;
    const int week = static_cast<int>(DossierRangeOption::lastWeek);
    EXPECT_EQ(f.screen->rangePicker()->currentIndex(), week);
    EXPECT_EQ(f.screen->rangePicker()->title(week), "Utolsó 7 nap");
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
        f.pickRange(c.range);
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
        f.pickRange(DossierRangeOption::lastWeek);
        f.screen->anonymiseSwitch()->click();
        f.finishBuild(false);
        ASSERT_EQ(f.service->requests.size(), 1u);
        EXPECT_EQ(f.service->requests[0].duration(), c.seconds);
        EXPECT_EQ(f.service->requests[0].end, kNow);
        EXPECT_EQ(f.service->requests[0].anonymiseNetworkNames, c.anonymise);
        EXPECT_FALSE(f.screen->spinner()->isVisible());
    }
}

// Tab reaches the page's controls, not the page. Pressed from the keyboard, the create button hands the focus to the switch above it while the
// build runs (a disabled button cannot hold it) and takes it back when the build ends; the focus
// never leaves the screen for the sidebar before it.
TEST(DossierScreenTest, TheFocusStaysBesideTheCreateButtonWhileABuildRuns)
{
    Fixture f;
    QWidget window;
    auto* layout = new QHBoxLayout(&window);
    auto* sidebar = new QPushButton(QStringLiteral("Áttekintés"), &window);
    layout->addWidget(sidebar);
    DossierScreen* screen = f.screen.release(); // the window owns it now
    layout->addWidget(screen);
    window.resize(1100, 1000);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    // The scrolling page is no Tab stop: Tab from the sidebar lands on the page's first control.
    sidebar->setFocus(Qt::TabFocusReason);
    QTest::keyClick(sidebar, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), screen->rangePicker());
    screen->createButton()->setFocus(Qt::TabFocusReason);
    QTest::keyClick(screen->createButton(), Qt::Key_Space);
    ASSERT_TRUE(pumpUntil([&] { return f.model->isBuildingDossier(); }));
    settle();
    EXPECT_EQ(QApplication::focusWidget(), screen->anonymiseSwitch());
    f.finishBuild(false);
    EXPECT_EQ(QApplication::focusWidget(), screen->createButton());
    EXPECT_FALSE(sidebar->hasFocus());
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
    EXPECT_FALSE(f.screen->statusIsWarning()) << "a confirmation is no warning";
    f.shoot("done");

    f.screen->createButton()->click();
    ASSERT_TRUE(pumpUntil([&] { return f.model->isBuildingDossier(); }));
    settle();
    EXPECT_TRUE(f.screen->revealButton()->isVisible()) << "the earlier file stays reachable during a build";
    EXPECT_TRUE(f.screen->spinner()->isVisible());
    f.finishBuild(true);
    EXPECT_FALSE(f.screen->revealButton()->isVisible());
    // The cause in Hungarian; the system's own text goes to the log.
    EXPECT_EQ(f.screen->statusLine()->text(),
              "Nem sikerült elkészíteni: " + failureSentence(FailureCause::diskFull) + " " + pathNote(f.dir + "/Asztal"));
    // A failure is a warning panel: the watch wash behind the text, in body type.
    EXPECT_TRUE(f.screen->statusIsWarning());
    const QImage shot = f.screen->statusNotice()->grab().toImage();
    EXPECT_EQ(shot.pixelColor(shot.width() / 2, 3), PVPaintContext::forWidget(f.screen->statusNotice()).color(statusWash(PVStatus::watch)));
    EXPECT_EQ(f.screen->statusLine()->token().size, PVFontToken::body.size);
    f.shoot("failed");
}

// "Megmutatom" without a file manager (none on the bus; the opener missing or failing): the screen
// says so as a warning and names the folder.
TEST(DossierScreenTest, ARevealWithoutAFileManagerIsSaidWithTheFolder)
{
    for (const QStringList& opener : {QStringList{"/nonexistent/xdg-open"}, QStringList{"sh", "-c", "exit 3", "opener"}}) {
        Fixture f(false, opener);
        f.screen->createButton()->click();
        f.finishBuild(false);
        f.screen->revealButton()->click();
        const QString expected = AppViewModel::folderOpenFailureText(f.dir + "/Asztal");
        EXPECT_TRUE(pumpUntil([&] { return f.screen->statusLine()->text() == expected; })) << opener.join(' ').toStdString();
        EXPECT_TRUE(f.screen->statusIsWarning());
        EXPECT_TRUE(f.screen->statusNotice()->isVisible());
    }
}

TEST(DossierScreenTest, AnEmptyPeriodIsSaidAndMakesNoFile)
{
    Fixture f(true);
    f.screen->setRange(DossierRangeOption::lastDay);
    f.screen->createButton()->click();
    ASSERT_TRUE(pumpUntil([&] { return f.model->dossierStatusMessage().has_value(); }, std::chrono::seconds(30)));
    settle();
    EXPECT_EQ(f.screen->statusLine()->text(),
              "Nem sikerült elkészíteni: Ebben az időszakban nincs mérés, amiből dokumentum készülhetne.");
    EXPECT_FALSE(f.screen->revealButton()->isVisible());
    EXPECT_TRUE(QDir(f.dir + "/Asztal").entryList(QDir::Files).isEmpty());
    f.shoot("empty-period");
}

// Every state at the usual and at 150 % text size, light and dark: no text cut, the chosen period
// drawn apart from the others, the create button in the accent.
TEST(DossierScreenTest, EveryStateReadsWholeAtLargeTextInBothAppearances)
{
    for (double scale : {1.0, 1.5}) {
        for (PVAppearance appearance : {PVAppearance::light, PVAppearance::dark}) {
            PVTheme::instance().setAppearanceOverride(appearance);
            PVTheme::instance().setAccentOverride(QColor(0x35, 0x84, 0xE4));
            PVTheme::instance().setTextScale(scale);
            settle();
            const QString tag = QStringLiteral("%1-%2").arg(qRound(scale * 100)).arg(rawValue(appearance));
            Fixture f;
            const auto check = [&](const char* state) {
                settle();
                expectNoTextCutAnywhere(f.screen.get(), (QLatin1String(state) + QLatin1Char(' ') + tag).toStdString());
                f.shoot(QLatin1String(state) + QLatin1Char('-') + tag);
            };
            PVSegmentedPicker* picker = f.screen->rangePicker();
            const QImage image = picker->grab().toImage();
            const auto centre = [&](int i) {
                const QPoint c = picker->segmentRect(i).center() * image.devicePixelRatio();
                // A point of the segment's own fill, above its title.
                return image.pixelColor(c.x(), static_cast<int>((picker->segmentRect(i).top() + 3) * image.devicePixelRatio()));
            };
            const QColor chosen = centre(picker->currentIndex()), other = centre(0);
            EXPECT_GT(std::abs(chosen.lightness() - other.lightness()), 8) << tag.toStdString();
            const QImage button = f.screen->createButton()->grab().toImage();
            EXPECT_EQ(button.pixelColor(button.width() / 2, 5 * static_cast<int>(button.devicePixelRatio())).rgb(),
                      QColor(0x35, 0x84, 0xE4).rgb());
            check("initial");
            f.screen->anonymiseSwitch()->click();
            f.screen->createButton()->click();
            ASSERT_TRUE(pumpUntil([&] { return f.model->isBuildingDossier(); }));
            check("building");
            f.finishBuild(false);
            check("done");
            f.screen->createButton()->click();
            ASSERT_TRUE(pumpUntil([&] { return f.model->isBuildingDossier(); }));
            f.finishBuild(true);
            check("failed");
        }
    }
    PVTheme::instance().setTextScale(1.0);
    PVTheme::instance().setAppearanceOverride(PVAppearance::light);
    settle();
}

} // namespace
