// The history, settings and welcome screens offscreen: what each control does, and screenshots of
// each screen in light and dark under screens/ for review.

#include "core/app/IcmpPermission.h"

#include <QFileInfo>
#include "ui/screens/HistoryScreen.h"
#include "ui/screens/SettingsScreen.h"
#include "ui/screens/WelcomeScreen.h"

#include "loadtest/LoadTestView.h"
#include "tests/loadtest/FakeLoadTestRunner.h"

#include "app/PlatformTexts.h"
#include "core/app/AppViewModel.h"
#include "core/app/DesktopIntegration.h"
#include "core/app/Preferences.h"
#include "core/records/Localization.h"
#include "core/records/LocaleDates.h"
#include "core/store/SQLiteStore.h"
#include "tests/main/ModelFixture.h"
#include "tests/main/TabWalk.h"
#include "tests/main/WidgetHelpers.h"
#include "ui/design/Depth.h"
#include "ui/design/Symbols.h"
#include "ui/design/Theme.h"
#include "ui/main/MainWidgets.h"
#include "ui/main/WorkspaceView.h"

#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <future>
#include <random>

using namespace pv;
using namespace pv::test;

namespace {

struct CountingNotifier : DesktopNotifier {
    int requests = 0;
    void requestAuthorization() override { ++requests; }
    void post(const QString&, const QString&, const QString&) override {}
};

struct Fixture {
    QString dir = makeTempDir();
    QString entry = dir + QStringLiteral("/autostart/polvarine.desktop");
    std::shared_ptr<CountingNotifier> notifier = std::make_shared<CountingNotifier>();
    std::unique_ptr<AppViewModel> model;

    // linuxPermission: the location permission as this system reports it (always given).
    explicit Fixture(bool fileBacked = false, std::optional<QString> entryPath = std::nullopt,
                     bool linuxPermission = false)
    {
        if (entryPath)
            entry = *entryPath;
        AppViewModel::Services services;
        services.store = std::make_shared<SQLiteStore>(
            fileBacked ? SQLiteStore::Location::file(dir + QStringLiteral("/Polvarine/polvarine.sqlite3"))
                       : SQLiteStore::Location::inMemory());
        services.topology = std::make_shared<FakeTopology>();
        services.probeService = std::make_shared<FakeProbe>();
        services.wifiProvider = std::make_shared<FakeWifi>();
        services.exportService = makeExportService(services.store);
        services.pathMonitor = std::make_shared<FakePath>();
        services.locationPermissionService = std::make_shared<LocationPermissionService>(
            linuxPermission ? std::unique_ptr<LocationManager>(std::make_unique<LinuxLocationManager>())
                            : std::unique_ptr<LocationManager>(std::make_unique<FakeLocationManager>()));
        AppViewModel::Environment env;
        env.preferences = {std::make_shared<QSettings>(dir + "/model.ini", QSettings::IniFormat),
                           std::make_shared<XdgAutostartLoginItem>(entry, QStringLiteral("/usr/bin/polvarine")),
                           notifier};
        env.updateFeed = QUrl("http://127.0.0.1:9/appcast.json"); // never fetched here
        env.clock = [] { return kFixedNow; };
        model = std::make_unique<AppViewModel>(std::move(services), StorageHealth::healthy(), std::move(env));
    }
};

struct Calls {
    std::vector<QString> revealed;
    std::vector<ProgramCommand> started;
};

DesktopHooks hooks(Calls& calls, std::optional<QUrl> feed, std::optional<ProgramCommand> settingsProgram)
{
    DesktopHooks h;
    h.updateFeed = [feed] { return feed; };
    h.networkSettings = [settingsProgram] { return settingsProgram; };
    h.startProgram = [&calls](const ProgramCommand& c) { calls.started.push_back(c); };
    h.revealFile = [&calls](const QString& f, const std::function<void(const QString&)>& onFailure) {
        calls.revealed.push_back(f);
        onFailure(AppViewModel::folderOpenFailureText(QFileInfo(f).absolutePath()));
    };
    return h;
}

const ProgramCommand kGnome{QStringLiteral("/usr/bin/gnome-control-center"), {QStringLiteral("network")}};
const QUrl kFeed(QStringLiteral("https://frissites.polvarine.example/appcast.json"));

void clickSegment(PVSegmentedPicker* picker, int index)
{
    QTest::mouseClick(picker, Qt::LeftButton, {}, picker->segmentRect(index).center());
}

class Appearance {
public:
    explicit Appearance(PVAppearance a)
    {
        pvInstallIconTheme();
        PVTheme::instance().setAppearanceOverride(a);
        PVTheme::instance().setReduceMotionOverride(true);
        PVTheme::instance().setAccentOverride(QColor(0x35, 0x84, 0xE4));
        settle();
    }
    ~Appearance()
    {
        PVTheme::instance().setAppearanceOverride(PVAppearance::light);
        PVTheme::instance().setReduceMotionOverride(false);
        settle();
    }
};

struct ScreensTest : ::testing::Test {
    static void SetUpTestSuite() { installPlatformTexts(); }
};

// ---- Settings ---------------------------------------------------------------------------------------

TEST_F(ScreensTest, DatabaseRowShowsThePathAndRevealsItOnlyForAFileBackedStore)
{
    for (bool fileBacked : {false, true}) {
        SCOPED_TRACE(fileBacked);
        Fixture f(fileBacked);
        Calls calls;
        SettingsScreen screen(*f.model, hooks(calls, kFeed, kGnome));
        EXPECT_EQ(screen.databasePath()->text(), f.model->databaseLocationDescription());
        EXPECT_EQ(screen.databasePath()->text().startsWith(QLatin1Char('/')), fileBacked);
        EXPECT_EQ(screen.revealButton() != nullptr, fileBacked);
        if (fileBacked) {
            screen.revealButton()->click();
            ASSERT_EQ(calls.revealed.size(), 1u);
            EXPECT_EQ(calls.revealed[0], f.model->databaseURL()->toLocalFile());
            // No file manager could show it: said under the row, as every folder button says it.
            EXPECT_FALSE(screen.revealFailure()->isHidden());
            EXPECT_EQ(screen.revealFailure()->text(),
                      AppViewModel::folderOpenFailureText(QFileInfo(calls.revealed[0]).absolutePath()));
        }
    }
}

TEST_F(ScreensTest, LaunchSwitchWritesRemovesAndReadsBackTheAutostartEntry)
{
    Fixture f;
    Calls calls;
    SettingsScreen screen(*f.model, hooks(calls, kFeed, kGnome));
    screen.show();
    settle();
    PVSwitch* toggle = screen.launchSwitch();
    EXPECT_FALSE(toggle->isChecked());
    toggle->click();
    EXPECT_TRUE(QFile::exists(f.entry));
    EXPECT_TRUE(toggle->isChecked());
    toggle->click();
    EXPECT_FALSE(QFile::exists(f.entry));
    EXPECT_FALSE(toggle->isChecked());

    // An entry written while the page was hidden shows when it is shown again.
    XdgAutostartLoginItem(f.entry, QStringLiteral("/usr/bin/polvarine")).setEnabled(true);
    screen.hide();
    screen.show();
    settle();
    EXPECT_TRUE(toggle->isChecked());
}

TEST_F(ScreensTest, AFailedAutostartWriteSnapsTheSwitchBack)
{
    // The entry's folder would have to be made inside a plain file: the write fails.
    const QString blocker = makeTempDir() + QStringLiteral("/not-a-folder");
    QFile file(blocker);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    Fixture f(false, blocker + QStringLiteral("/autostart/polvarine.desktop"));
    Calls calls;
    SettingsScreen settings(*f.model, hooks(calls, kFeed, kGnome));
    WelcomeScreen welcome(*f.model, [] {}, hooks(calls, kFeed, kGnome));
    for (PVSwitch* toggle : {settings.launchSwitch(), welcome.launchSwitch()}) {
        toggle->click();
        EXPECT_FALSE(toggle->isChecked());
        EXPECT_FALSE(f.model->preferences().launchesAtLogin());
    }
}

TEST_F(ScreensTest, NotificationPermissionIsAskedOnlyWhenTheSwitchTurnsOn)
{
    Fixture f;
    Calls calls;
    SettingsScreen screen(*f.model, hooks(calls, kFeed, kGnome));
    screen.notifySwitch()->click();
    EXPECT_TRUE(f.model->preferences().notifyOnOutage());
    EXPECT_EQ(f.notifier->requests, 1);
    screen.notifySwitch()->click();
    EXPECT_FALSE(f.model->preferences().notifyOnOutage());
    EXPECT_EQ(f.notifier->requests, 1);
}

TEST_F(ScreensTest, RetentionSegmentsSetTheChoiceAndItsDetailLine)
{
    Fixture f;
    Calls calls;
    SettingsScreen screen(*f.model, hooks(calls, kFeed, kGnome));
    screen.resize(900, 700);
    screen.show();
    settle();
    for (RetentionChoice choice : {RetentionChoice::compact, RetentionChoice::longTerm, RetentionChoice::standard}) {
        clickSegment(screen.retentionPicker(), static_cast<int>(choice));
        EXPECT_EQ(f.model->preferences().retention(), choice);
        EXPECT_EQ(screen.retentionDetail()->text(), detail(choice));
    }
}

TEST_F(ScreensTest, UpdateRowNamesTheFeedHostOrSaysThisBuildDoesNotCheck)
{
    for (const std::optional<QUrl>& feed : {std::optional<QUrl>(kFeed), std::optional<QUrl>()}) {
        SCOPED_TRACE(feed ? "feed" : "none");
        Fixture f;
        Calls calls;
        SettingsScreen screen(*f.model, hooks(calls, feed, kGnome));
        EXPECT_EQ(screen.updateSwitch()->isEnabled(), feed.has_value());
        EXPECT_EQ(screen.updateSwitch()->isChecked(), feed.has_value()); // the stored default is on
        const QString note = screen.updateNoteText()->text();
        EXPECT_EQ(note.contains(QStringLiteral("frissites.polvarine.example-ről")), feed.has_value());
        EXPECT_FALSE(note.contains(QStringLiteral("Mac")));
        EXPECT_FALSE(note.isEmpty());
    }
}

TEST_F(ScreensTest, NetworkSettingsButtonExistsOnlyWhereTheDesktopHasAProgram)
{
    for (const std::optional<ProgramCommand>& program : {std::optional<ProgramCommand>(kGnome),
                                                         std::optional<ProgramCommand>()}) {
        Fixture f;
        Calls calls;
        SettingsScreen settings(*f.model, hooks(calls, kFeed, program));
        ASSERT_EQ(settings.networkSettingsButton() != nullptr, program.has_value());
        if (program) {
            settings.networkSettingsButton()->click();
            EXPECT_EQ(calls.started, (std::vector<ProgramCommand>{kGnome}));
            EXPECT_EQ(settings.networkSettingsButton()->text(), QStringLiteral("Hálózati beállítások"));
        }
    }
}

// The permissions card says whether this user may send the echoes, and when not, gives the sysctl
// of the overview's banner word for word.
TEST_F(ScreensTest, PermissionsCardSaysWhetherEchoesArePermittedAndHowToPermitThem)
{
    const QString banner = *icmpPermissionMessage(IcmpPermission::refused);
    const QString sysctl = QStringLiteral("sudo sysctl -w net.ipv4.ping_group_range=\"0 2147483647\"");
    struct Case {
        IcmpPermission permission;
        const char* opening;
        bool remedy;
    } cases[] = {{IcmpPermission::permitted, "Engedélyezve:", false},
                 {IcmpPermission::refused, "Nincs engedélyezve:", true},
                 {IcmpPermission::unknown, "Nem sikerült megállapítani", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.opening);
        Fixture f;
        Calls calls;
        DesktopHooks h = hooks(calls, kFeed, kGnome);
        h.icmpPermission = [&] { return c.permission; };
        SettingsScreen settings(*f.model, h);
        ASSERT_NE(settings.icmpStatus(), nullptr);
        const QString text = settings.icmpStatus()->text();
        EXPECT_TRUE(text.startsWith(QString::fromUtf8(c.opening))) << text.toStdString();
        EXPECT_EQ(text.contains(sysctl), c.remedy);
        if (c.remedy) {
            // The same way out as the banner: its closing sentence, whole.
            const QString remedy = text.mid(text.indexOf(QStringLiteral("Engedélyezd így:")));
            EXPECT_TRUE(banner.endsWith(remedy)) << remedy.toStdString();
        }
    }
}

// What the screens say about this machine is true of it: the welcome offers only the setting it has
// a control for and points at the tray, and the permissions card says one thing once, with or
// without a Wi-Fi interface.
TEST_F(ScreensTest, LinuxWordingSaysOnlyWhatIsTrueHere)
{
    struct Case {
        bool wifi;
        const char* status;
    } cases[] = {
        {true, "Ezen a gépen van Wi-Fi-csatoló: a hálózat neve és a hozzáférési pont azonosítója is mérhető."},
        {false, "Ezen a gépen nincs Wi-Fi-csatoló, így a Wi-Fi szakaszt nem mérjük: a router és a szolgáltató "
                "szakasza ettől még mérhető."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.wifi);
        Fixture f(false, std::nullopt, true);
        ASSERT_EQ(f.model->locationAuthorizationStatus(), LocationPermissionService::authorizedAlways);
        Calls calls;
        DesktopHooks h = hooks(calls, kFeed, kGnome);
        h.wifiPresent = [&] { return c.wifi; };
        SettingsScreen settings(*f.model, h);
        EXPECT_EQ(settings.locationStatus()->text(), QString::fromUtf8(c.status));
        QStringList sentences;
        for (PVText* t : settings.findChildren<PVText*>())
            for (const QString& sentence : t->text().split(QStringLiteral(". "), Qt::SkipEmptyParts))
                sentences << sentence.trimmed();
        EXPECT_EQ(sentences.removeDuplicates(), 0) << "a sentence said twice";
        for (const QString& s : sentences)
            EXPECT_FALSE(s.contains(QStringLiteral("mindkettő")) || s.contains(QStringLiteral("macOS"))) << s.toStdString();

        WelcomeScreen welcome(*f.model, [] {}, h);
        QStringList texts;
        for (PVText* t : welcome.findChildren<PVText*>())
            texts << t->text();
        const QString all = texts.join(QLatin1Char('\n'));
        EXPECT_TRUE(all.contains(QStringLiteral("Egy beállítás, ami tényleg számít")));
        EXPECT_TRUE(all.contains(QStringLiteral("tálcaikonról")));
        for (const char* gone : {"menüsáv", "Két beállítás", "Helymeghatároz", "macOS"})
            EXPECT_FALSE(all.contains(QString::fromUtf8(gone))) << gone;
        // Every setting the welcome lists has its control.
        EXPECT_EQ(welcome.findChildren<PVSettingRow*>().size(), welcome.findChildren<PVSwitch*>().size());
    }
}

TEST(WifiInterface, AnyWirelessEntryCountsAndPlainOnesDoNot)
{
    struct Case {
        const char* name;
        std::vector<std::pair<QString, QString>> entries; // interface, marker inside it ("" for none)
        bool wifi;
    } cases[] = {
        {"wired only", {{QStringLiteral("eth0"), QString()}, {QStringLiteral("lo"), QString()}}, false},
        {"wireless", {{QStringLiteral("eth0"), QString()}, {QStringLiteral("wlp2s0"), QStringLiteral("wireless")}}, true},
        {"phy only", {{QStringLiteral("wlan0"), QStringLiteral("phy80211")}}, true},
        {"empty", {}, false},
    };
    for (const Case& c : cases) {
        const QString root = makeTempDir();
        for (const auto& [name, marker] : c.entries) {
            ASSERT_TRUE(QDir().mkpath(root + QLatin1Char('/') + name));
            if (!marker.isEmpty()) {
                ASSERT_TRUE(QDir().mkpath(root + QLatin1Char('/') + name + QLatin1Char('/') + marker));
            }
        }
        EXPECT_EQ(hasWifiInterface(root), c.wifi) << c.name;
    }
}

TEST(NetworkSettings, TheRunningDesktopsProgramComesFirstAndNoneMeansNothing)
{
    const std::vector<QString> installed{QStringLiteral("gnome-control-center"), QStringLiteral("systemsettings5")};
    auto find = [&](const QString& name) {
        return std::find(installed.begin(), installed.end(), name) != installed.end() ? QStringLiteral("/usr/bin/") + name
                                                                                      : QString();
    };
    EXPECT_EQ(networkSettingsCommand(QStringLiteral("GNOME"), find)->program, QStringLiteral("/usr/bin/gnome-control-center"));
    EXPECT_EQ(networkSettingsCommand(QStringLiteral("KDE"), find)->program, QStringLiteral("/usr/bin/systemsettings5"));
    EXPECT_EQ(networkSettingsCommand(QStringLiteral("KDE"), find)->arguments,
              QStringList{QStringLiteral("kcm_networkmanagement")});
    EXPECT_EQ(networkSettingsCommand(QStringLiteral("XFCE"), find)->program,
              QStringLiteral("/usr/bin/gnome-control-center"));
    EXPECT_FALSE(networkSettingsCommand(QStringLiteral("GNOME"), [](const QString&) { return QString(); }));
}

TEST(RevealFile, WithoutAFileManagerOnTheBusTheFolderIsOpened)
{
    std::vector<QUrl> opened;
    revealFileInFileManager(QStringLiteral("/home/anna/.local/share/Polvarine/polvarine.sqlite3"),
                            [&](const QUrl& folder) { opened.push_back(folder); },
                            QDBusConnection(QStringLiteral("pv-not-connected")));
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], QUrl::fromLocalFile(QStringLiteral("/home/anna/.local/share/Polvarine")));
}

// ---- Welcome ------------------------------------------------------------------------------------------

TEST_F(ScreensTest, WelcomeStepsForwardBackAndFinishOnce)
{
    Fixture f;
    Calls calls;
    int finished = 0;
    QDialog dialog;
    auto* welcome = new WelcomeScreen(*f.model, [&] { ++finished; }, hooks(calls, kFeed, kGnome), &dialog);
    dialog.show();
    settle();
    struct Expect {
        int step;
        bool back;
        QString primary;
    };
    auto check = [&](const Expect& e) {
        EXPECT_EQ(welcome->step(), e.step);
        EXPECT_EQ(welcome->shownPage(), e.step);
        EXPECT_EQ(welcome->backButton()->isVisible(), e.back);
        EXPECT_EQ(welcome->primaryButton()->text(), e.primary);
        EXPECT_EQ(welcome->dots()->current(), e.step);
    };
    check({0, false, L("Tovább")});
    QTest::keyClick(&dialog, Qt::Key_Return); // the default action
    check({1, true, L("Tovább")});
    welcome->primaryButton()->click();
    check({2, true, L("Kezdjük")});
    QTest::keyClick(&dialog, Qt::Key_Return);
    EXPECT_EQ(finished, 1);
    check({2, true, L("Kezdjük")});
    welcome->backButton()->click();
    check({1, true, L("Tovább")});
    EXPECT_EQ(finished, 1);
}

// The window as a new user first sees it: the welcome sheet opens over it.
std::unique_ptr<WorkspaceView> showWorkspace(Fixture& f, const std::shared_ptr<QSettings>& settings)
{
    auto view = std::make_unique<WorkspaceView>(*f.model, settings);
    view->resize(1080, 700);
    view->show();
    settle();
    return view;
}

TEST_F(ScreensTest, WorkspaceWelcomeClosesOnEscapeAndReopensFromTheFirstStep)
{
    Fixture f;
    auto settings = makeSettings(f.dir);
    auto shown = showWorkspace(f, settings);
    WorkspaceView& view = *shown;
    ASSERT_TRUE(view.showsWelcome());
    auto* welcome = view.welcomeDialog()->findChild<WelcomeScreen*>();
    ASSERT_NE(welcome, nullptr);
    EXPECT_EQ(view.welcomeDialog()->windowModality(), Qt::WindowModal);
    welcome->advance();
    QTest::keyClick(view.welcomeDialog(), Qt::Key_Escape);
    settle();
    EXPECT_FALSE(view.showsWelcome());
    EXPECT_FALSE(settings->value(QLatin1String(WorkspaceView::didWelcomeKey), false).toBool());

    NotificationCenter::instance().post(WorkspaceView::reopenWelcomeNotification());
    settle();
    ASSERT_TRUE(view.showsWelcome());
    welcome = view.welcomeDialog()->findChild<WelcomeScreen*>();
    EXPECT_EQ(welcome->step(), 0);
    welcome->advance();
    welcome->advance();
    welcome->primaryButton()->click();
    settle();
    EXPECT_TRUE(settings->value(QLatin1String(WorkspaceView::didWelcomeKey), false).toBool());
    EXPECT_FALSE(view.showsWelcome());
}

// On first launch the sheet has the keyboard as it opens: Return, sent where the keyboard is,
// takes the first step without a click.
TEST_F(ScreensTest, WorkspaceWelcomeTakesTheKeyboardWhenItOpens)
{
    Fixture f;
    auto settings = makeSettings(f.dir);
    auto shown = showWorkspace(f, settings);
    ASSERT_TRUE(shown->showsWelcome());
    auto* welcome = shown->welcomeDialog()->findChild<WelcomeScreen*>();
    ASSERT_NE(welcome, nullptr);
    QWidget* keyboard = QApplication::focusWidget();
    ASSERT_NE(keyboard, nullptr) << "nothing has the keyboard";
    EXPECT_EQ(keyboard->window(), shown->welcomeDialog());
    QTest::keyClick(keyboard, Qt::Key_Return);
    settle();
    EXPECT_EQ(welcome->step(), 1);
}

// The window opened by its identifier, as the shell opens it, on a first launch: the sheet is
// above it with the keyboard, and takes it back when the window under it is activated again.
TEST_F(ScreensTest, TheWelcomeSheetKeepsTheKeyboardOverTheWindowThatOpensIt)
{
    Fixture f;
    auto settings = makeSettings(f.dir);
    QPointer<WorkspaceView> view;
    WindowRegistry::instance().registerWindow(QStringLiteral("test.main"), [&]() -> QWidget* {
        view = new WorkspaceView(*f.model, settings);
        view->resize(1080, 700);
        return view;
    });
    ASSERT_TRUE(WindowRegistry::instance().open(QStringLiteral("test.main")));
    settle();
    ASSERT_TRUE(view && view->showsWelcome());
    QDialog* sheet = view->welcomeDialog();
    EXPECT_EQ(QApplication::activeWindow(), sheet) << "the window opened above its own sheet";
    view->activateWindow(); // a click on the window under the sheet, or the window manager's choice
    settle();
    EXPECT_EQ(QApplication::activeWindow(), sheet) << "the sheet lost the keyboard to the window under it";
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    settle();
    EXPECT_EQ(sheet->findChild<WelcomeScreen*>()->step(), 1);
    WindowRegistry::instance().unregisterWindow(QStringLiteral("test.main"));
    delete view;
}

// Each step of the sheet: Tab goes round the controls of that step in reading order, each ringed
// and in view; no hidden or invisible stop, in light and dark and at 150 % text.
TEST_F(ScreensTest, WelcomeTabWalksEveryStepInReadingOrder)
{
    const QColor accent(0x35, 0x84, 0xE4);
    for (const auto& [appearance, scale] :
         {std::pair{PVAppearance::light, 1.0}, std::pair{PVAppearance::dark, 1.0}, std::pair{PVAppearance::light, 1.5}}) {
        Appearance look(appearance);
        PVTheme::instance().setTextScale(scale);
        Fixture f;
        auto shown = showWorkspace(f, makeSettings(f.dir));
        ASSERT_TRUE(shown->showsWelcome());
        QDialog* sheet = shown->welcomeDialog();
        auto* welcome = sheet->findChild<WelcomeScreen*>();
        ASSERT_NE(welcome, nullptr);
        for (int step = 0; step < 3; ++step) {
            settle();
            expectTabWalk(sheet, accent,
                          "welcome-" + std::to_string(step) + "-" + rawValue(appearance).toStdString() + "-" +
                              std::to_string(int(scale * 100)));
            welcome->advance();
        }
    }
    PVTheme::instance().setTextScale(1.0);
}

// ---- History ----------------------------------------------------------------------------------------

constexpr double kHour = 3600;
constexpr double kDay = 86400;

// The classes of the seeded incidents, in turn.
const IncidentClassification kSeededKinds[] = {IncidentClassification::gatewayCongestion,
                                               IncidentClassification::internetUpstreamIssue,
                                               IncidentClassification::wifiLinkDegraded, IncidentClassification::offline};

// A week of evidence as the store would give it: raw samples for the last two days, minute
// roll-ups before that, a night without measurements, an afternoon with the app stopped, and 34
// incidents (one still open, one that began before the week).
HistoryReadings seededWeek(Timestamp now)
{
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> noise(0, 1);
    const Timestamp start = now - 7 * kDay;
    auto inGap = [&](Timestamp t) {
        return (t > now - 1.6 * kDay && t < now - 1.35 * kDay) || (t > now - 4.5 * kDay && t < now - 4.1 * kDay);
    };
    auto evening = [&](Timestamp t) {
        const double hourOfDay = std::fmod(t + kHour, kDay) / kHour;
        return hourOfDay > 18 && hourOfDay < 23 ? 1.0 : 0.0;
    };
    HistoryReadings r;
    for (Timestamp t = start; t < now; t += 600) {
        if (inGap(t))
            continue;
        const double router = 3 + 3 * noise(rng);
        const double provider = 16 + 10 * noise(rng) + 45 * evening(t) * noise(rng);
        if (t > now - 2 * kDay) {
            NetworkSample g;
            g.timestamp = t;
            g.target.kind = ProbeKind::gateway;
            g.latencyMilliseconds = router;
            g.success = true;
            NetworkSample p = g;
            p.target.kind = ProbeKind::publicIP;
            p.latencyMilliseconds = provider;
            p.success = noise(rng) > 0.02;
            r.samples.push_back(g);
            r.samples.push_back(p);
        } else {
            SampleRollup g;
            g.bucketStart = t;
            g.bucketSeconds = 60;
            g.targetKind = ProbeKind::gateway;
            g.sampleCount = 39;
            g.successCount = 39;
            g.p50Milliseconds = router;
            SampleRollup p = g;
            p.targetKind = ProbeKind::publicIP;
            p.successCount = 38;
            p.p50Milliseconds = provider;
            r.rollups.push_back(g);
            r.rollups.push_back(p);
        }
    }
    const auto& kinds = kSeededKinds;
    const IncidentSeverity severities[] = {IncidentSeverity::warning, IncidentSeverity::critical,
                                           IncidentSeverity::info, IncidentSeverity::critical};
    for (int i = 0; i < 34; ++i) {
        Incident inc;
        inc.id = QUuid::createUuid();
        inc.startTimestamp = start - 2 * kHour + i * 4.9 * kHour;
        const double length = i % 5 == 0 ? 2.5 * kHour : 40 + 900 * noise(rng);
        inc.endTimestamp = inc.startTimestamp + length;
        inc.classification = kinds[i % 4];
        inc.severity = severities[i % 4];
        inc.evidenceSummary = QStringLiteral("A szolgáltatói szakasz medián késleltetése %1 ms, a csomagvesztés %2%.")
                                  .arg(60 + i)
                                  .arg(i % 7);
        r.incidents.push_back(inc);
    }
    Incident open;
    open.id = QUuid::createUuid();
    open.startTimestamp = now - 0.6 * kHour;
    open.classification = IncidentClassification::internetUpstreamIssue;
    open.severity = IncidentSeverity::critical;
    open.evidenceSummary = QStringLiteral("A router válaszol, a nyilvános címek nem.");
    r.incidents.push_back(open);
    return r;
}

std::shared_ptr<HistoryViewModel> fakeHistory(std::function<HistoryReadings()> make, bool fail = false)
{
    return HistoryViewModel::create(
        [make, fail](HistoryRange, Timestamp, Timestamp) -> rt::awaitable<HistoryReadings> {
            if (fail)
                throw std::runtime_error("no such table: network_samples");
            co_return make();
        },
        [] { return kFixedNow; });
}

TEST_F(ScreensTest, HistoryShowsLoadingThenCardsOrNoData)
{
    auto cap = std::make_shared<std::size_t>(1000); // incidents the next load gives
    auto model = fakeHistory([cap] {
        HistoryReadings r = seededWeek(kFixedNow);
        r.incidents.resize(std::min(*cap, r.incidents.size()));
        return r;
    });
    HistoryScreen screen(model, [] { return kFixedNow; });
    screen.resize(1000, 800);
    EXPECT_EQ(screen.content(), history::Content::noData);
    screen.show();
    EXPECT_EQ(screen.content(), history::Content::loading);
    ASSERT_TRUE(pumpUntil([&] { return model->finishedLoads() == 1; }));
    settle();
    EXPECT_EQ(screen.content(), history::Content::cards);
    ASSERT_NE(screen.chart(), nullptr);
    EXPECT_EQ(screen.chart()->accessibleName(), history::chartLabel(HistoryRange::day));
    // The picker's click reloads the new range while the day's cards stay.
    clickSegment(screen.rangePicker(), 1);
    EXPECT_EQ(model->range(), HistoryRange::week);
    EXPECT_TRUE(model->isLoading());
    EXPECT_EQ(screen.content(), history::Content::cards);
    EXPECT_EQ(screen.chart()->accessibleName(), history::chartLabel(HistoryRange::week));
    ASSERT_TRUE(pumpUntil([&] { return model->finishedLoads() == 2; }));
    settle();
    // 35 incidents in the summary, 30 rows with their dividers.
    EXPECT_TRUE(pumpUntil([&] { return screen.contentWidget()->findChildren<PVDivider*>().size() >= 30; }));
    settle();
    EXPECT_EQ(screen.contentWidget()->findChildren<PVDivider*>().size(), 30);
    EXPECT_TRUE(model->summary()->containsAggregatedBuckets());
    expectNoTextCut(&screen, "history week");

    // A range with three incidents shows three rows, the newest first; the others are put away.
    *cap = 3;
    clickSegment(screen.rangePicker(), 2);
    ASSERT_TRUE(pumpUntil([&] { return model->finishedLoads() == 3; }));
    settle();
    const auto dividers = screen.contentWidget()->findChildren<PVDivider*>();
    EXPECT_EQ(std::count_if(dividers.begin(), dividers.end(),
                            [&](PVDivider* d) { return d->isVisibleTo(screen.contentWidget()); }),
              3);
    QStringList rowNames;
    for (QWidget* w : screen.contentWidget()->findChildren<QWidget*>())
        if (w->isVisibleTo(screen.contentWidget()) &&
            std::any_of(std::begin(kSeededKinds), std::end(kSeededKinds),
                        [&](IncidentClassification k) { return w->accessibleName().startsWith(title(k) + ", "); }))
            rowNames << w->accessibleName();
    ASSERT_EQ(rowNames.size(), 3);
    // The newest of the three (a Wi-Fi incident), ended: its finding in the past.
    EXPECT_TRUE(rowNames.front().contains(QStringLiteral("A Wi-Fi kapcsolatod volt a szűk keresztmetszet.")))
        << rowNames.front().toStdString();

    auto failing = fakeHistory([] { return HistoryReadings{}; }, true);
    HistoryScreen failed(failing, [] { return kFixedNow; });
    failed.show();
    ASSERT_TRUE(pumpUntil([&] { return failing->finishedLoads() == 1; }));
    EXPECT_EQ(failed.content(), history::Content::noData);
}

// While a newer range loads, the incident rows of the summary on screen (about to be replaced) are
// not brought up to date; once the newer summary is in, its rows come.
TEST_F(ScreensTest, HistoryRowsWaitWhileANewerRangeLoads)
{
    asio::thread_pool pool(1);
    std::vector<std::shared_ptr<std::promise<void>>> gates;
    auto model = HistoryViewModel::create(
        [&](HistoryRange, Timestamp, Timestamp) {
            auto gate = std::make_shared<std::promise<void>>();
            gates.push_back(gate);
            const std::size_t incidents = gates.size() == 1 ? 35 : 3;
            return asio::co_spawn(
                pool,
                [gate, incidents]() -> rt::awaitable<HistoryReadings> {
                    gate->get_future().wait();
                    HistoryReadings r = seededWeek(kFixedNow);
                    r.incidents.resize(incidents);
                    co_return r;
                },
                asio::use_awaitable);
        },
        [] { return kFixedNow; });
    HistoryScreen screen(model, [] { return kFixedNow; });
    screen.resize(1000, 800);
    screen.show();
    ASSERT_TRUE(pumpUntil([&] { return gates.size() == 1; }));
    const auto shownRows = [&] {
        const auto dividers = screen.contentWidget()->findChildren<PVDivider*>();
        return std::count_if(dividers.begin(), dividers.end(),
                             [&](PVDivider* d) { return d->isVisibleTo(screen.contentWidget()); });
    };
    gates[0]->set_value();
    ASSERT_TRUE(pumpUntil([&] { return model->finishedLoads() == 1; }));
    const auto atClick = shownRows();
    ASSERT_LT(atClick, 30) << "the rows come a few per turn of the event loop";
    clickSegment(screen.rangePicker(), 2);
    ASSERT_TRUE(pumpUntil([&] { return gates.size() == 2; }));
    QTest::qWait(100);
    EXPECT_EQ(shownRows(), atClick);
    gates[1]->set_value();
    ASSERT_TRUE(pumpUntil([&] { return model->finishedLoads() == 2; }));
    EXPECT_TRUE(pumpUntil([&] { return shownRows() == 3; }));
}

// ---- Screenshots ------------------------------------------------------------------------------------

void save(QWidget* w, const QString& name)
{
    settle();
    const QImage image = w->grab().toImage();
    ASSERT_FALSE(image.isNull());
    EXPECT_TRUE(image.save(screensDir() + QLatin1Char('/') + name + QStringLiteral(".png"))) << name.toStdString();
}

// ---- Large text ---------------------------------------------------------------------------------------

class LargeText {
public:
    LargeText()
    {
        PVTheme::instance().setTextScale(1.5);
        settle();
    }
    ~LargeText()
    {
        PVTheme::instance().setTextScale(1.0);
        settle();
    }
};

// Every state of the welcome (as the window shows it), settings, history and load-test screens at
// the usual and at 150 % text size, light and dark: all of the text shows, and the welcome sheet
// grows to its content within the screen. PNGs <screen>-<state>[-150]-<appearance> for review.
TEST_F(ScreensTest, EveryScreenReadsWholeAtBothTextSizes)
{
    using namespace std::chrono_literals;
    setDateTextLocale(QStringLiteral("hu_HU"));
    for (double scale : {1.0, 1.5}) {
        for (PVAppearance appearance : {PVAppearance::light, PVAppearance::dark}) {
            Appearance scope(appearance);
            std::optional<LargeText> large;
            if (scale > 1)
                large.emplace();
            const QString tag = (scale > 1 ? QStringLiteral("150-") : QString()) + rawValue(appearance);
            {
                Fixture f;
                auto view = showWorkspace(f, makeSettings(f.dir));
                ASSERT_TRUE(view->showsWelcome());
                QDialog* dialog = view->welcomeDialog();
                auto* welcome = dialog->findChild<WelcomeScreen*>();
                const QSize available = dialog->screen()->availableGeometry().size();
                const QSize usual(WelcomeScreen::kWidth, WelcomeScreen::kHeight);
                if (scale > 1)
                    EXPECT_TRUE(dialog->width() > usual.width() || dialog->height() > usual.height());
                else
                    EXPECT_EQ(dialog->size(), usual);
                EXPECT_TRUE(dialog->width() <= available.width() && dialog->height() <= available.height())
                    << dialog->width() << "×" << dialog->height() << " on " << available.width() << "×"
                    << available.height();
                for (int step = 0; step < 3; ++step) {
                    settle();
                    expectNoTextCutAnywhere(welcome, "welcome step " + std::to_string(step) + " " + tag.toStdString());
                    save(welcome, QStringLiteral("welcome-%1-").arg(step) + tag);
                    welcome->advance();
                }
            }
            for (bool fileBacked : {true, false}) {
                Fixture f(fileBacked);
                Calls calls;
                SettingsScreen screen(*f.model,
                                      hooks(calls, fileBacked ? std::optional<QUrl>(kFeed) : std::nullopt, kGnome));
                screen.resize(1080, 900);
                screen.show();
                settle();
                expectNoTextCutAnywhere(screen.widget(), (QStringLiteral("settings ") + tag).toStdString());
                save(screen.widget(), (fileBacked ? QStringLiteral("settings-file-") : QStringLiteral("settings-memory-")) + tag);
            }
            struct HistoryShot {
                const char* name;
                std::function<HistoryReadings()> readings;
            };
            for (const HistoryShot& shot : {HistoryShot{"history-week", [] { return seededWeek(kFixedNow); }},
                                            HistoryShot{"history-empty", [] { return HistoryReadings{}; }}}) {
                auto model = fakeHistory(shot.readings);
                model->setRange(HistoryRange::week);
                model->setRawRetention([] { return RetentionPolicy::compact().rawSampleSeconds; });
                HistoryScreen screen(model, [] { return kFixedNow; });
                screen.resize(1080, 900);
                screen.show();
                ASSERT_TRUE(pumpUntil([&] { return model->finishedLoads() >= 1 && !model->isLoading(); }));
                const auto rows = static_cast<qsizetype>(std::min<std::size_t>(30, model->summary()->incidents.size()));
                ASSERT_TRUE(pumpUntil([&] { return screen.contentWidget()->findChildren<PVDivider*>().size() == rows; }));
                settle();
                expectNoTextCutAnywhere(screen.widget(), shot.name + (QLatin1Char(' ') + tag).toStdString());
                save(screen.widget(), QString::fromLatin1(shot.name) + QLatin1Char('-') + tag);
            }
            {
                rt::NetworkRuntime net;
                auto runner = std::make_shared<FakeRunner>(net);
                auto metered = std::make_unique<FakeMetered>();
                FakeMetered* meteredSource = metered.get();
                auto model = std::make_shared<LoadTestViewModel>(runner, nullptr, std::move(metered));
                LoadTestView view(model, nullptr, nullptr, nullptr);
                view.resize(760, 660);
                view.show();
                const auto check = [&](const char* state) {
                    settle();
                    expectNoTextCutAnywhere(&view, std::string("load test ") + state + " " + tag.toStdString());
                    save(&view, QStringLiteral("loadtest-%1-").arg(QLatin1String(state)) + tag);
                };
                check("intro");
                meteredSource->set(true);
                check("intro-metered");
                runner->holdInDownload = true;
                model->start();
                ASSERT_TRUE(pumpUntil([&] { return model->state().phase == LoadTestPhase::download; }, 10s));
                check("progress");
                model->cancel();
                settle();
                runner->holdInDownload = false;
                runner->failBaseline = true;
                model->start();
                ASSERT_TRUE(pumpUntil([&] { return model->state().kind == LoadTestState::Kind::failed; }, 10s));
                check("failure");
            }
        }
    }
    setDateTextLocale(QString());
}

} // namespace

namespace {

// A large card's shadow is drawn from nine slices of a small card's: it must look like the blur of
// the whole card.
TEST(CardShadow, NineSlicesMatchTheBlurOfTheWholeCard)
{
    const double radius = 14, blur = 18;
    QColor color(Qt::black);
    color.setAlphaF(0.2f);
    const double reach = shadowReach(blur);
    for (const QSizeF card : {QSizeF(600, 900), QSizeF(181.5, 1403.25)}) {
        SCOPED_TRACE(card.width());
        const QSize canvas(static_cast<int>(std::ceil(card.width() + 2 * reach)),
                           static_cast<int>(std::ceil(card.height() + 2 * reach)));
        QImage sliced(canvas, QImage::Format_ARGB32_Premultiplied);
        sliced.fill(Qt::transparent);
        {
            QPainter p(&sliced);
            pvPaintShadow(p, QRectF(QPointF(reach, reach), card), radius, color, blur, QPointF());
        }
        QImage whole(canvas, QImage::Format_ARGB32_Premultiplied);
        whole.fill(Qt::transparent);
        {
            QPainter p(&whole);
            p.setRenderHint(QPainter::Antialiasing);
            p.setPen(Qt::NoPen);
            p.setBrush(color);
            p.drawRoundedRect(QRectF(QPointF(reach, reach), card), radius, radius);
        }
        pvBlurImage(whole, shadowSigma(blur));
        int worst = 0;
        for (int y = 0; y < canvas.height(); ++y)
            for (int x = 0; x < canvas.width(); ++x)
                worst = std::max(worst, std::abs(qAlpha(sliced.pixel(x, y)) - qAlpha(whole.pixel(x, y))));
        EXPECT_LE(worst, 2);
    }
}

} // namespace
