// The shell offscreen, on the fake-backed model of the window tests.

#include "app/ApplicationShell.h"
#include "core/app/IcmpPermission.h"

#include "core/app/AppViewModel.h"
#include "tests/main/ModelFixture.h"
#include "tests/main/States.h"
#include "tests/main/WidgetHelpers.h"
#include "tests/support/TestSupport.h"
#include "ui/design/Symbols.h"
#include "ui/main/MainWidgets.h"
#include "ui/main/MenuBarView.h"
#include "ui/main/OverviewFeed.h"
#include "ui/main/WorkspaceView.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPainter>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QSplitter>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QToolTip>

#include <gtest/gtest.h>

#include <unistd.h>

namespace pv {
namespace {

using namespace std::chrono_literals;

struct ShellFixture : ::testing::Test {
    QString dir = test::makeTempDir();
    std::shared_ptr<QSettings> settings = test::makeSettings(dir);
    int factoryCalls = 0;
    AppViewModel* made = nullptr;

    void SetUp() override
    {
        // The welcome flow has its own tests; here it would only stand between the tests and the window.
        settings->setValue(QLatin1String(WorkspaceView::didWelcomeKey), true);
    }

    std::unique_ptr<ApplicationShell> makeShell(bool tray)
    {
        ApplicationShell::Options options;
        options.makeModel = [this] {
            ++factoryCalls;
            auto model = test::makeModel(dir);
            made = model.get();
            return model;
        };
        options.trayAvailable = tray;
        options.settings = settings;
        return std::make_unique<ApplicationShell>(std::move(options));
    }

    // Runs the application's own event loop until it quits or the guard runs out; true when it quit
    // on its own.
    static bool quitsWithin(std::chrono::milliseconds guard, const std::function<void()>& whileRunning)
    {
        QObject scope;
        QTimer::singleShot(0, &scope, whileRunning);
        QTimer::singleShot(guard, &scope, [] { QCoreApplication::exit(42); });
        return QApplication::exec() == 0;
    }
};

TEST_F(ShellFixture, ModelIsComposedOnceWhenTheWindowAsksFirst)
{
    auto shell = makeShell(false);
    shell->install();
    EXPECT_EQ(factoryCalls, 0) << "nothing asked for the model yet";

    MainWindow* window = shell->showMainWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(factoryCalls, 1);
    shell->togglePanel(QPoint(10, 10));
    ASSERT_NE(shell->panel(), nullptr);
    EXPECT_EQ(factoryCalls, 1);
    EXPECT_EQ(&shell->model(), made);
    EXPECT_EQ(shell->models().compositions(), 1);
}

TEST_F(ShellFixture, ModelIsComposedOnceWhenTheTrayAsksFirst)
{
    auto shell = makeShell(true);
    shell->install(); // the tray icon needs the live status at once
    EXPECT_EQ(factoryCalls, 1);
    ASSERT_NE(shell->trayIcon(), nullptr);
    AppViewModel* trayModel = made;

    shell->togglePanel(QPoint(10, 10));
    shell->showMainWindow();
    shell->showMainWindow();
    EXPECT_EQ(factoryCalls, 1);
    EXPECT_EQ(&shell->model(), trayModel);
}

// The first size and a saved one on screens of several free areas (a panel takes 32 px).
TEST(MainWindowSizeTest, SizeAndMinimumFitTheScreensFreeArea)
{
    const struct {
        QSize wanted;
        QRect available;
        QSize size, minimum;
    } rows[] = {
        {MainWindow::kFirstSize, {0, 0, 1920, 1048}, {1240, 800}, {1080, 600}},
        {MainWindow::kFirstSize, {0, 32, 1366, 736}, {1240, 688}, {1080, 600}},
        {MainWindow::kFirstSize, {0, 0, 1280, 768}, {1240, 720}, {1080, 600}},
        {{2500, 1400}, {1920, 0, 1920, 1048}, {1904, 1000}, {1080, 600}},
        {{500, 300}, {0, 0, 1920, 1048}, {1080, 600}, {1080, 600}},
        {MainWindow::kFirstSize, {0, 0, 1024, 600}, {1008, 552}, {1008, 552}},
        {{1300, 900}, {}, {1300, 900}, {1080, 600}},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(MainWindow::fittedSize(row.wanted, row.available), row.size) << row.available.width();
        EXPECT_EQ(MainWindow::fittedMinimum(row.available), row.minimum) << row.available.width();
    }
}

TEST_F(ShellFixture, MainWindowIsTheWorkspaceAtItsMinimumSizeWithQuitAndOneHelpCommand)
{
    // A size saved on a larger screen is brought within this one.
    settings->setValue(QStringLiteral("window/size"), QSize(3000, 2000));
    auto shell = makeShell(false);
    shell->install();
    MainWindow* window = shell->showMainWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->objectName(), QStringLiteral("main"));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Polvarine"));
    const QRect available = window->screen()->availableGeometry();
    EXPECT_EQ(window->minimumSize(), MainWindow::fittedMinimum(available).expandedTo(window->minimumSizeHint()));
    EXPECT_LE(window->height(), std::max(available.height() - MainWindow::kFrameAllowance.height(),
                                         window->minimumSizeHint().height()));
    window->resize(available.size() - MainWindow::kFrameAllowance - QSize(10, 10));
    EXPECT_EQ(settings->value(QStringLiteral("window/size")).toSize(), window->size());
    EXPECT_EQ(window->centralWidget(), window->workspace());

    // The desktop's order: File (with Kilépés) first, then Help.
    const QList<QAction*> menus = window->menuBar()->actions();
    ASSERT_EQ(menus.size(), 2);
    EXPECT_EQ(menus.front()->menu(), window->fileMenu());
    EXPECT_EQ(menus.back()->menu(), window->helpMenu());
    EXPECT_EQ(window->fileMenu()->actions(), QList<QAction*>{window->quitAction()});
    ASSERT_EQ(window->helpMenu()->actions().size(), 1);
    EXPECT_EQ(window->helpMenu()->actions().front()->text(), QStringLiteral("Bemutatkozás újra"));
}

TEST_F(ShellFixture, HelpCommandPostsTheReopenWelcomeNotificationOnceAndTheWelcomeOpens)
{
    auto shell = makeShell(false);
    shell->install();
    MainWindow* window = shell->showMainWindow();
    window->workspace()->setWelcomeFactory(
        [](AppViewModel&, std::function<void()>) -> QWidget* { return new QLabel(QStringLiteral("welcome")); });
    ASSERT_TRUE(test::pumpUntil([&] { return window->isVisible(); }, 2s));
    ASSERT_FALSE(window->workspace()->showsWelcome());

    QStringList posted;
    int reopenSignals = 0;
    QObject scope;
    QObject::connect(&NotificationCenter::instance(), &NotificationCenter::posted, &scope,
                     [&](const QString& name) { posted << name; });
    QObject::connect(&NotificationCenter::instance(), &NotificationCenter::reopenWelcome, &scope,
                     [&] { ++reopenSignals; });

    window->reopenWelcomeAction()->trigger();
    QCoreApplication::processEvents();
    EXPECT_EQ(posted, QStringList{QStringLiteral("polvarine.reopenWelcome")});
    EXPECT_EQ(reopenSignals, 1);
    EXPECT_TRUE(test::pumpUntil([&] { return window->workspace()->showsWelcome(); }, 2s));
}

TEST_F(ShellFixture, WindowsQuitCommandAndCtrlQEndTheProgramEvenWithATray)
{
    // "Kilépés" in the File menu ends the program as the panel's quit button does, tray or not.
    auto shell = makeShell(true);
    shell->install();
    MainWindow* window = shell->showMainWindow();
    ASSERT_NE(window->quitAction(), nullptr);
    EXPECT_EQ(window->quitAction()->text(), QStringLiteral("Kilépés"));
    EXPECT_EQ(window->quitAction()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
    EXPECT_EQ(window->quitAction()->shortcutContext(), Qt::WindowShortcut);
    EXPECT_TRUE(quitsWithin(5s, [window] { window->quitAction()->trigger(); }));
}

TEST_F(ShellFixture, ClosingTheWindowKeepsTheProgramWhenThereIsATray)
{
    auto shell = makeShell(true);
    shell->install();
    EXPECT_FALSE(QGuiApplication::quitOnLastWindowClosed());
    MainWindow* window = shell->showMainWindow();
    const bool quit = quitsWithin(1500ms, [window] { window->close(); });
    EXPECT_FALSE(quit) << "the event loop ended when the window closed";
    EXPECT_FALSE(window->isVisible());

    // The panel's way back: the window by its identifier, the same one.
    EXPECT_TRUE(WindowRegistry::instance().open(QStringLiteral("main")));
    EXPECT_EQ(shell->mainWindow(), window);
    EXPECT_TRUE(window->isVisible());
}

TEST_F(ShellFixture, ClosingTheWindowEndsTheProgramWithoutATray)
{
    auto shell = makeShell(false);
    shell->install();
    EXPECT_TRUE(QGuiApplication::quitOnLastWindowClosed());
    EXPECT_EQ(shell->trayIcon(), nullptr);
    MainWindow* window = shell->showMainWindow();
    const bool quit = quitsWithin(5s, [window] { window->close(); });
    EXPECT_TRUE(quit) << "an invisible process would be left running";
    QGuiApplication::setQuitOnLastWindowClosed(false);
}

TEST_F(ShellFixture, TrayIconFollowsTheLiveStatus)
{
    auto shell = makeShell(true);
    shell->install();
    ASSERT_EQ(shell->trayStatus(), LiveStatus::healthy);
    EXPECT_EQ(shell->trayLook().level, PVStatus::neutral) << "not measuring yet: no all-clear";
    const QImage before = shell->trayIcon()->icon().pixmap(22, 22).toImage();

    // The fake topology has no default route, so the first probe cycle reports the offline status.
    shell->model().startMonitoring();
    EXPECT_TRUE(test::pumpUntil([&] { return shell->trayStatus() == LiveStatus::offline; }, 5s));
    // A machine without a Wi-Fi reading: the outage is no Wi-Fi symbol.
    EXPECT_TRUE(test::pumpUntil([&] { return shell->trayLook().level == PVStatus::critical; }, 5s));
    EXPECT_EQ(shell->trayLook().symbolName, "xmark.octagon.fill");
    EXPECT_NE(shell->trayIcon()->icon().pixmap(22, 22).toImage(), before);
    EXPECT_EQ(shell->trayIcon()->toolTip(), QStringLiteral("Polvarine — ") + shell->model().attribution().headline);
    EXPECT_EQ(shell->model().attribution().location, FaultLocation::offline);
    shell->shutDown(); // stops monitoring and lets the loops wind down before the model goes
    EXPECT_FALSE(shell->model().isMonitoring());
    EXPECT_EQ(shell->model().liveStatus(), LiveStatus::offline);
    EXPECT_TRUE(test::pumpUntil([&] { return shell->trayLook().level == PVStatus::neutral; }, 5s));
    EXPECT_TRUE(shell->trayIcon()->toolTip().startsWith(QStringLiteral("Polvarine — ")));
}

TEST(TrayIcons, EveryLiveStatusHasItsOwnVisibleIcon)
{
    pvInstallIconTheme(); // as the program does at start
    std::vector<QImage> images;
    for (LiveStatus status : {LiveStatus::healthy, LiveStatus::degraded, LiveStatus::offline, LiveStatus::reassociating}) {
        const QIcon icon = trayIconFor(status);
        ASSERT_FALSE(icon.isNull());
        const QImage image = icon.pixmap(32, 32).toImage();
        bool drawn = false;
        for (int y = 0; y < image.height() && !drawn; ++y)
            for (int x = 0; x < image.width() && !drawn; ++x)
                drawn = qAlpha(image.pixel(x, y)) > 0;
        EXPECT_TRUE(drawn) << rawValue(status).toStdString();
        for (const QImage& other : images)
            EXPECT_NE(image, other) << rawValue(status).toStdString();
        images.push_back(image);
    }
    // For review: the four icons side by side.
    QImage strip(32 * 4, 32, QImage::Format_ARGB32_Premultiplied);
    strip.fill(Qt::white);
    QPainter painter(&strip);
    for (size_t i = 0; i < images.size(); ++i)
        painter.drawImage(QPoint(static_cast<int>(i) * 32, 0), images[i]);
    painter.end();
    QDir().mkpath(QStringLiteral(PV_SCREENS_DIR));
    EXPECT_TRUE(strip.save(QStringLiteral(PV_SCREENS_DIR "/tray-icons.png")));
    EXPECT_EQ(traySymbolThemeName(QStringLiteral("checkmark.circle.fill")), QStringLiteral("emblem-default-symbolic"));
    EXPECT_EQ(traySymbolThemeName(QStringLiteral("wifi.slash")), QStringLiteral("network-wireless-offline-symbolic"));
    EXPECT_TRUE(traySymbolThemeName(QStringLiteral("no.such.symbol")).isEmpty());
}

TEST(PopupPlacement, OpensBesideTheTrayIconAndStaysOnTheScreen)
{
    const QRect screen(0, 0, 1920, 1080);
    const QRect underTopBar(0, 32, 1920, 1048);
    const QRect aboveBottomBar(0, 0, 1920, 1040);
    const QRect rightOfLeftBar(48, 0, 1872, 1080);
    const QSize panel(340, 420);
    const struct {
        const char* where;
        QRect anchor;
        QSize size;
        QRect available;
        QPoint expected;
    } cases[] = {
        // Icons inside the available area (a tray without a reserved bar): below or above the icon.
        {"top right, no bar", QRect(1880, 4, 24, 24), panel, screen, QPoint(1904 - 340, 32)},
        {"bottom right, no bar", QRect(1880, 1050, 24, 24), panel, screen, QPoint(1904 - 340, 1050 - 4 - 420)},
        {"top left, no bar", QRect(10, 4, 24, 24), panel, screen, QPoint(10, 32)},
        // A reserved bar at the top or the bottom: the panel opens against it.
        {"top bar", QRect(1880, 4, 24, 24), panel, underTopBar, QPoint(1904 - 340, 32)},
        {"bottom bar", QRect(1880, 1050, 24, 24), panel, aboveBottomBar, QPoint(1904 - 340, 1040 - 420)},
        // A bar on the left: beside it, level with the icon.
        {"left bar", QRect(12, 900, 24, 24), panel, rightOfLeftBar, QPoint(48, 924 - 420)},
        // An icon at the very edge: the panel moves inside the screen.
        {"right edge", QRect(1910, 4, 24, 24), panel, screen, QPoint(1920 - 340, 32)},
        // A second screen to the right of the first, with a top bar.
        {"second screen", QRect(3170, 4, 24, 24), panel, QRect(1920, 32, 1280, 992), QPoint(3194 - 340, 32)},
        // Taller than the screen: its top-left corner stays visible.
        {"too tall", QRect(500, 500, 24, 24), QSize(400, 2000), screen, QPoint(500, 0)},
    };
    for (const auto& c : cases) {
        const QPoint at = popupPosition(c.anchor, c.size, c.available);
        EXPECT_EQ(at, c.expected) << c.where;
        const QRect placed(at, c.size);
        if (c.size.height() <= c.available.height()) {
            EXPECT_FALSE(placed.intersects(c.anchor)) << c.where << ": the panel covers the icon";
            EXPECT_TRUE(c.available.contains(placed)) << c.where;
        }
    }
}

TEST_F(ShellFixture, PanelIsAFramelessPopupBesideThePointerAndTogglesClosed)
{
    auto shell = makeShell(true);
    shell->install();
    QScreen* screen = QGuiApplication::primaryScreen();
    ASSERT_NE(screen, nullptr);
    const QRect available = screen->availableGeometry();
    // Without icon geometry the pointer stands for the icon: opened from either corner, the panel
    // keeps clear of the icon's reach around the pointer.
    for (const QPoint pointer : {available.bottomRight() - QPoint(5, 5), available.topLeft() + QPoint(5, 5)}) {
        shell->togglePanel(pointer);
        QWidget* popup = shell->panelPopup();
        ASSERT_NE(popup, nullptr);
        EXPECT_TRUE(popup->isVisible());
        EXPECT_TRUE(popup->windowFlags().testFlag(Qt::Popup));
        EXPECT_TRUE(popup->windowFlags().testFlag(Qt::FramelessWindowHint));
        EXPECT_TRUE(available.contains(popup->frameGeometry())) << "the panel left the screen";
        EXPECT_FALSE(popup->frameGeometry().intersects(trayAnchorAt(pointer))) << "the panel covers the icon";
        shell->togglePanel(pointer);
        EXPECT_FALSE(popup->isVisible());
    }
    shell->togglePanel(QPoint(available.left() + 5, available.top() + 5));
    QWidget* popup = shell->panelPopup();
    shell->togglePanel(QPoint(available.left() + 5, available.top() + 5));
    shell->togglePanel(QPoint(available.left() + 5, available.top() + 5));
    EXPECT_EQ(shell->panelPopup(), popup) << "the panel is made once";
    popup->hide();
}

TEST_F(ShellFixture, PanelIsLaidOutForItsContentEachTimeItOpens)
{
    // The content grows while the panel is closed (advice appears, the headline gets longer); the
    // next opening shows all of it, at the height the content asks for.
    auto shell = makeShell(true);
    shell->install();
    OverviewFeed& feed = OverviewFeed::of(shell->model());
    feed.setClock([] { return test::kFixedNow; });
    const auto states = test::screenStates();
    const QPoint at(40, 40);
    auto grown = states[1].make(snapshotOf(shell->model()), test::kFixedNow); // router critical, with advice
    grown.attribution.headline = grown.attribution.headline.repeated(3);
    grown.advice.steps.front().text = grown.advice.steps.front().text.repeated(3);
    const OverviewSnapshot contents[] = {states[0].make(snapshotOf(shell->model()), test::kFixedNow), grown,
                                         states[0].make(snapshotOf(shell->model()), test::kFixedNow)};
    for (const OverviewSnapshot& content : contents) {
        feed.setStateOverride(content);
        test::settle();
        for (int opening = 0; opening < 2; ++opening) {
            shell->togglePanel(at);
            QWidget* popup = shell->panelPopup();
            PolvarineMenuBarView* panel = shell->panel();
            test::settle();
            const std::string where = content.attribution.headline.left(30).toStdString() + " opening " +
                                      std::to_string(opening + 1);
            EXPECT_EQ(popup->size(), panel->sizeHint()) << where;
            EXPECT_EQ(panel->geometry(), popup->rect()) << where;
            test::expectNoTextCut(panel, where); // texts and buttons
            shell->togglePanel(at);
        }
    }
}

TEST_F(ShellFixture, PanelThatGrowsWhileOpenStaysOnTheScreenBesideItsIcon)
{
    // Opened in the corner of a bottom tray with little to say, then a fault with advice arrives:
    // the taller panel is placed again rather than growing past the screen's edge.
    auto shell = makeShell(true);
    shell->install();
    OverviewFeed& feed = OverviewFeed::of(shell->model());
    feed.setClock([] { return test::kFixedNow; });
    const auto states = test::screenStates();
    feed.setStateOverride(states[0].make(snapshotOf(shell->model()), test::kFixedNow));
    test::settle();
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    const QPoint pointer = available.bottomRight() - QPoint(5, 5);
    shell->togglePanel(pointer);
    QWidget* popup = shell->panelPopup();
    const int openedHeight = popup->height();
    auto grown = states[1].make(snapshotOf(shell->model()), test::kFixedNow);
    grown.advice.steps.front().text = grown.advice.steps.front().text.repeated(3);
    feed.setStateOverride(grown);
    test::settle();
    shell->panel()->refresh();
    test::settle();
    ASSERT_GT(popup->height(), openedHeight) << "the content did not grow: nothing is checked";
    EXPECT_TRUE(available.contains(popup->frameGeometry())) << "the grown panel left the screen";
    EXPECT_FALSE(popup->frameGeometry().intersects(trayAnchorAt(pointer))) << "the grown panel covers the icon";
    shell->togglePanel(pointer);
}

TEST_F(ShellFixture, PanelHasAnEdgeOfItsOwn)
{
    // Over a window of the same light colours the panel is told apart by its border.
    PVTheme::instance().setAppearanceOverride(PVAppearance::light);
    auto shell = makeShell(true);
    shell->install();
    shell->togglePanel(QPoint(40, 40));
    test::settle();
    const QImage image = shell->panelPopup()->grab().toImage();
    const QRgb border = PV::color::line::border.color(PVAppearance::light).rgb();
    EXPECT_EQ(image.pixel(0, image.height() / 2), border);
    EXPECT_EQ(image.pixel(image.width() / 2, image.height() - 1), border);
    EXPECT_EQ(image.pixel(4, image.height() / 2), PV::color::surface::overlay.color(PVAppearance::light).rgb());
    shell->togglePanel(QPoint(40, 40));
}

TEST_F(ShellFixture, DarkChromeTakesTheTokenColours)
{
    // The menu bar and the seam between the sidebar and the detail column are part of the dark
    // window, not light strips across it.
    PVTheme::instance().setAppearanceOverride(PVAppearance::dark);
    auto shell = makeShell(false);
    shell->install();
    MainWindow* window = shell->showMainWindow();
    test::settle();
    const QImage image = window->grab().toImage();
    const QRect bar = window->menuBar()->geometry();
    EXPECT_EQ(image.pixel(bar.right() - 10, bar.center().y()), PV::color::surface::canvas.color(PVAppearance::dark).rgb());
    const QSplitterHandle* handle = window->workspace()->splitter()->handle(1);
    EXPECT_EQ(image.pixel(handle->mapTo(window, handle->rect().center())),
              PV::color::line::hairline.color(PVAppearance::dark).rgb());
    // The sidebar's tooltips as well.
    EXPECT_EQ(QToolTip::palette().color(QPalette::ToolTipBase), PV::color::surface::overlay.color(PVAppearance::dark));
    PVTheme::instance().setAppearanceOverride(PVAppearance::light);
    test::settle();
}

// The window's menus, and a menu made without a parent, open in the colours of the appearance.
TEST_F(ShellFixture, MenusFollowTheAppearance)
{
    auto shell = makeShell(false);
    shell->install();
    MainWindow* window = shell->showMainWindow();
    ASSERT_NE(window, nullptr);
    for (PVAppearance appearance : {PVAppearance::dark, PVAppearance::light}) {
        PVTheme::instance().setAppearanceOverride(appearance);
        test::settle();
        QMenu loose;
        loose.addAction(QStringLiteral("Másolás"));
        const std::pair<QMenu*, const char*> menus[] = {
            {window->fileMenu(), "file"}, {window->helpMenu(), "help"}, {&loose, "loose"}};
        for (const auto& [menu, name] : menus) {
            const QImage image = menu->grab().toImage();
            const QColor background = image.pixelColor(image.width() - 4, image.height() / 2);
            const QColor ink = menu->palette().color(QPalette::WindowText);
            const std::string where = std::string(name) + " " + rawValue(appearance).toStdString();
            if (isDark(appearance)) {
                EXPECT_LT(background.lightness(), 80) << where;
                EXPECT_GT(ink.lightness(), 160) << where;
            } else {
                EXPECT_GT(background.lightness(), 200) << where;
                EXPECT_LT(ink.lightness(), 100) << where;
            }
            image.save(QStringLiteral(PV_SCREENS_DIR "/menu-%1-%2.png").arg(QLatin1String(name), rawValue(appearance)));
        }
    }
}

TEST(IcmpPermissionMessage, NamesTheSysctlOnlyWhenRefused)
{
    const auto refused = icmpPermissionMessage(IcmpPermission::refused);
    ASSERT_TRUE(refused.has_value());
    EXPECT_TRUE(refused->contains(QStringLiteral("sudo sysctl -w net.ipv4.ping_group_range=\"0 2147483647\"")));
    EXPECT_FALSE(icmpPermissionMessage(IcmpPermission::permitted).has_value());
    EXPECT_FALSE(icmpPermissionMessage(IcmpPermission::unknown).has_value());
}

TEST_F(ShellFixture, PlatformProblemLandsInTheModelsStatusMessageWhenTheModelTakesIt)
{
    auto shell = makeShell(false);
    shell->install();
    const QString message = *icmpPermissionMessage(IcmpPermission::refused);
    const bool shown = shell->showPlatformProblem(message);
    EXPECT_EQ(shown, shell->model().exportStatusMessage() == std::optional<QString>(message));
}

TEST(IcmpPermissionCheck, AgreesWithThePingGroupRangeOfThisNamespace)
{
    QFile file(QStringLiteral("/proc/sys/net/ipv4/ping_group_range"));
    if (!file.open(QIODevice::ReadOnly))
        GTEST_SKIP() << "no ping_group_range here";
    const QStringList range = QString::fromLatin1(file.readAll()).simplified().split(QLatin1Char(' '));
    ASSERT_EQ(range.size(), 2);
    const qint64 low = range[0].toLongLong();
    const qint64 high = range[1].toLongLong();
    std::vector<gid_t> groups(static_cast<size_t>(std::max(0, ::getgroups(0, nullptr))));
    groups.resize(static_cast<size_t>(std::max(0, ::getgroups(static_cast<int>(groups.size()), groups.data()))));
    groups.push_back(::getegid());
    bool inside = false;
    for (gid_t g : groups)
        inside = inside || (static_cast<qint64>(g) >= low && static_cast<qint64>(g) <= high);
    // Opening the socket sends nothing.
    EXPECT_EQ(checkIcmpPermission(), inside ? IcmpPermission::permitted : IcmpPermission::refused);
}

} // namespace
} // namespace pv
