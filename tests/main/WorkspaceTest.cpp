// The window, the overview and the panel as widgets: remembered section, welcome flow, detail
// screens, coalesced repaints, section presence and the panel's controls and shortcuts.

#include "core/app/ReportServices.h"
#include "ui/main/MenuBarView.h"
#include "ui/main/ModelActions.h"
#include "ui/main/OverviewFeed.h"
#include "ui/main/RootView.h"
#include "ui/main/WorkspaceView.h"
#include "ui/screens/HistoryScreen.h"

#include "tests/main/ModelFixture.h"
#include "tests/main/States.h"
#include "tests/main/TabWalk.h"
#include "tests/main/WidgetHelpers.h"
#include "ui/design/Theme.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QShortcut>
#include <QSplitter>
#include <QTest>
#include <QToolBar>
#include <QToolButton>

#include <gtest/gtest.h>

using namespace pv;
using namespace pv::test;

namespace {

// A welcome screen with one button that finishes the flow.
WorkspaceView::WelcomeFactory fakeWelcome(int* made)
{
    return [made](AppViewModel&, std::function<void()> onFinish) -> QWidget* {
        ++*made;
        auto* button = new QPushButton(QStringLiteral("Kész"));
        button->setObjectName(QStringLiteral("finish"));
        QObject::connect(button, &QPushButton::clicked, button, [onFinish] { onFinish(); });
        return button;
    };
}

class WorkspaceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = makeTempDir();
        model = makeModel(dir);
        settings = makeSettings(dir);
    }
    std::unique_ptr<WorkspaceView> makeView()
    {
        auto view = std::make_unique<WorkspaceView>(*model, settings);
        view->setWelcomeFactory(fakeWelcome(&welcomesMade));
        view->resize(1080, 700);
        return view;
    }
    QString stored() const { return settings->value(QLatin1String(WorkspaceView::lastSectionKey)).toString(); }

    QString dir;
    std::unique_ptr<AppViewModel> model;
    std::shared_ptr<QSettings> settings;
    int welcomesMade = 0;
};

} // namespace

TEST_F(WorkspaceTest, FirstLaunchOpensWelcomeAndFinishingStoresIt)
{
    {
        auto view = makeView();
        view->show();
        settle();
        EXPECT_EQ(view->section(), WorkspaceSection::overview);
        ASSERT_TRUE(view->showsWelcome());
        EXPECT_FALSE(settings->contains(QLatin1String(WorkspaceView::lastSectionKey)));
        view->welcomeDialog()->findChild<QPushButton*>(QStringLiteral("finish"))->click();
        settle();
        EXPECT_TRUE(settings->value(QLatin1String(WorkspaceView::didWelcomeKey)).toBool());
        EXPECT_FALSE(view->showsWelcome());
    }
    auto again = makeView();
    again->show();
    settle();
    EXPECT_FALSE(again->showsWelcome());
    EXPECT_EQ(welcomesMade, 1);
}

TEST_F(WorkspaceTest, WelcomeClosedWithoutFinishingReturnsOnTheNextShow)
{
    auto view = makeView();
    view->show();
    settle();
    ASSERT_TRUE(view->showsWelcome());
    view->welcomeDialog()->reject();
    settle();
    EXPECT_FALSE(view->showsWelcome());
    EXPECT_FALSE(settings->value(QLatin1String(WorkspaceView::didWelcomeKey), false).toBool());
    view->hide();
    view->show();
    settle();
    EXPECT_TRUE(view->showsWelcome());
}

TEST_F(WorkspaceTest, ReopenNotificationOpensOnceAndKeepsDidWelcome)
{
    settings->setValue(QLatin1String(WorkspaceView::didWelcomeKey), true);
    auto view = makeView();
    view->show();
    settle();
    EXPECT_FALSE(view->showsWelcome());
    NotificationCenter::instance().post(WorkspaceView::reopenWelcomeNotification());
    settle();
    ASSERT_TRUE(view->showsWelcome());
    QDialog* first = view->welcomeDialog();
    NotificationCenter::instance().post(QStringLiteral("polvarine.reopenWelcome"));
    settle();
    EXPECT_EQ(view->welcomeDialog(), first);
    EXPECT_EQ(welcomesMade, 1);
    EXPECT_TRUE(settings->value(QLatin1String(WorkspaceView::didWelcomeKey)).toBool());
    NotificationCenter::instance().post(QStringLiteral("polvarine.somethingElse"));
    settle();
    EXPECT_EQ(welcomesMade, 1);
}

TEST_F(WorkspaceTest, RestoresAStoredSectionWithoutRewritingIt)
{
    settings->setValue(QLatin1String(WorkspaceView::lastSectionKey), QStringLiteral("history"));
    settings->setValue(QLatin1String(WorkspaceView::didWelcomeKey), true);
    auto view = makeView();
    EXPECT_EQ(view->section(), WorkspaceSection::overview); // nothing happens before the first show
    view->show();
    settle();
    EXPECT_EQ(view->section(), WorkspaceSection::history);
    EXPECT_EQ(view->sidebarList()->currentRow(), 1);
    EXPECT_EQ(stored(), QStringLiteral("history"));
    EXPECT_NE(qobject_cast<HistoryScreen*>(view->detailScreen()), nullptr);
    EXPECT_FALSE(view->toolBar()->isVisibleTo(view.get()));
}

TEST_F(WorkspaceTest, UnknownStoredSectionShowsOverviewAndStaysUntilTheUserChooses)
{
    settings->setValue(QLatin1String(WorkspaceView::didWelcomeKey), true);
    for (const QString& raw : {QStringLiteral("History"), QStringLiteral("foo")}) {
        settings->setValue(QLatin1String(WorkspaceView::lastSectionKey), raw);
        auto view = makeView();
        view->show();
        settle();
        EXPECT_EQ(view->section(), WorkspaceSection::overview);
        EXPECT_NE(qobject_cast<PolvarineRootView*>(view->detailScreen()), nullptr);
        EXPECT_EQ(stored(), raw);
        view->sidebarList()->setCurrentRow(4);
        settle();
        EXPECT_EQ(stored(), QStringLiteral("settings"));
    }
}

TEST_F(WorkspaceTest, SwitchingRecreatesTheScreenAndMovesTheToolbar)
{
    settings->setValue(QLatin1String(WorkspaceView::didWelcomeKey), true);
    auto view = makeView();
    view->show();
    settle();
    QPointer<QWidget> firstOverview = view->detailScreen();
    const auto buttonsBefore = view->toolBar()->findChildren<QToolButton*>().size();
    EXPECT_TRUE(view->toolBar()->isVisibleTo(view.get()));
    EXPECT_EQ(view->toolBar()->actions().size(), 2);
    view->sidebarList()->setCurrentRow(3);
    settle();
    EXPECT_EQ(stored(), QStringLiteral("dossier"));
    EXPECT_TRUE(firstOverview.isNull());
    EXPECT_TRUE(view->toolBar()->actions().isEmpty());
    view->sidebarList()->setCurrentRow(0);
    settle();
    EXPECT_NE(view->detailScreen(), nullptr);
    EXPECT_NE(qobject_cast<PolvarineRootView*>(view->detailScreen()), nullptr);
    EXPECT_EQ(view->toolBar()->actions().size(), 2);
    EXPECT_EQ(view->toolBar()->findChildren<QToolButton*>().size(), buttonsBefore); // nothing left behind
}

TEST_F(WorkspaceTest, SidebarWidthIsBounded)
{
    settings->setValue(QLatin1String(WorkspaceView::didWelcomeKey), true);
    auto view = makeView();
    view->show();
    settle();
    QWidget* sidebar = view->splitter()->widget(0);
    EXPECT_EQ(sidebar->width(), WorkspaceView::kSidebarIdeal);
    view->splitter()->setSizes({1000, 80});
    settle();
    EXPECT_LE(sidebar->width(), WorkspaceView::kSidebarMaximum);
    view->splitter()->setSizes({50, 1030});
    settle();
    EXPECT_GE(sidebar->width(), WorkspaceView::kSidebarMinimum);
}

// Tab into the section list rings its current row; a click's focus draws no ring.
TEST_F(WorkspaceTest, SidebarShowsKeyboardFocusOnly)
{
    settings->setValue(QLatin1String(WorkspaceView::didWelcomeKey), true);
    auto view = makeView();
    view->show();
    view->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(view.get()));
    QListWidget* list = view->sidebarList();
    const auto differing = [](const QImage& a, const QImage& b) {
        int n = 0;
        for (int y = 0; y < std::min(a.height(), b.height()); ++y)
            for (int x = 0; x < std::min(a.width(), b.width()); ++x)
                n += a.pixel(x, y) != b.pixel(x, y);
        return n;
    };
    view->recordingButton()->setFocus(Qt::OtherFocusReason);
    settle();
    const QImage plain = list->viewport()->grab().toImage();
    list->setFocus(Qt::TabFocusReason);
    settle();
    EXPECT_GE(differing(plain, list->viewport()->grab().toImage()), list->width()) << "no ring for keyboard focus";
    view->recordingButton()->setFocus(Qt::OtherFocusReason);
    list->setFocus(Qt::MouseFocusReason);
    settle();
    EXPECT_EQ(differing(plain, list->viewport()->grab().toImage()), 0) << "a ring after a click";
}

// Tab goes from control to control: the scrolling page of the overview and the settings is no stop
// of its own, and the controls on the page are still reached (the dossier's page: its own test).
TEST_F(WorkspaceTest, TabSkipsTheScrollingPagesAndReachesTheirControls)
{
    settings->setValue(QLatin1String(WorkspaceView::didWelcomeKey), true);
    auto view = makeView();
    view->show();
    view->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(view.get()));
    for (WorkspaceSection section : {WorkspaceSection::overview, WorkspaceSection::settings}) {
        view->selectSection(section);
        settle();
        QWidget* page = view->detailScreen();
        ASSERT_NE(page, nullptr);
        view->sidebarList()->setFocus(Qt::TabFocusReason);
        int insidePage = 0;
        for (int i = 0; i < 40; ++i) { // bounded: the whole window has fewer stops
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QWidget* focused = QApplication::focusWidget();
            ASSERT_NE(focused, nullptr);
            EXPECT_NE(focused, page) << rawValue(section).toStdString() << ": the page itself took the focus";
            insidePage += page->isAncestorOf(focused) ? 1 : 0;
        }
        EXPECT_GT(insidePage, 0) << rawValue(section).toStdString() << ": no control of the page was reached";
    }
}

// Tab reaches every control of the overview a mouse can use, in reading order: the section list,
// the status row, the toolbar, the banners' buttons, the load test and the raw data, each scrolled
// into view and ringed, in light and dark; nothing else takes the focus.
TEST_F(WorkspaceTest, TabWalksTheOverviewInReadingOrderWithEveryStopInViewAndRinged)
{
    settings->setValue(QLatin1String(WorkspaceView::didWelcomeKey), true);
    ReportServiceMakers makers;
    makers.makeExportService = [](std::shared_ptr<SQLiteStore> store) -> std::shared_ptr<ExportService> {
        return makeExportService(std::move(store));
    };
    registerReportServiceMakers(std::move(makers));
    screens::registerLoadTestScreenMaker([](screens::LoadTestCallbacks) { return new QWidget; });
    OverviewFeed& feed = OverviewFeed::of(*model);
    feed.setClock([] { return kFixedNow; });
    const auto plain = healthyState(snapshotOf(*model), kFixedNow);
    auto withBanners = plain;
    withBanners.statusMessage = QStringLiteral("Elkészült az export.");
    withBanners.statusIsConfirmation = true;
    withBanners.hasExportResult = true;
    withBanners.availableUpdate =
        AvailableUpdate{QStringLiteral("1.1"), QStringLiteral("Javítások."), QUrl("http://127.0.0.1:9/")};
    const QColor accent(0x35, 0x84, 0xE4);
    PVTheme::instance().setAccentOverride(accent);
    for (const auto& [name, state] : {std::pair{"plain", plain}, std::pair{"banners", withBanners}})
        for (PVAppearance appearance : {PVAppearance::light, PVAppearance::dark}) {
            feed.setStateOverride(state);
            PVTheme::instance().setAppearanceOverride(appearance);
            auto view = makeView();
            view->resize(1080, 600);
            view->show();
            view->activateWindow();
            ASSERT_TRUE(QTest::qWaitForWindowActive(view.get()));
            settle();
            expectTabWalk(view.get(), accent, std::string("overview-") + name + "-" + rawValue(appearance).toStdString());
        }
    PVTheme::instance().setAppearanceOverride(PVAppearance::light);
    PVTheme::instance().setAccentOverride(std::nullopt);
    screens::registerLoadTestScreenMaker({});
    registerReportServiceMakers({});
    feed.setStateOverride(std::nullopt);
}

// At 150 % the rows' symbols grow with their titles (measured on a row that is neither selected nor hovered).
TEST_F(WorkspaceTest, SidebarSymbolsFollowTheTextSize)
{
    settings->setValue(QLatin1String(WorkspaceView::didWelcomeKey), true);
    std::vector<int> heights;
    for (double scale : {1.0, 1.5}) {
        PVTheme::instance().setTextScale(scale);
        auto view = makeView();
        view->show();
        settle();
        QListWidget* list = view->sidebarList();
        const QRect row = list->visualItemRect(list->item(1));
        const QImage image = list->viewport()->grab().toImage();
        const QRgb background = image.pixel(row.right() - 2, row.top() + 2);
        int top = row.bottom(), bottom = row.top();
        for (int y = row.top(); y <= row.bottom(); ++y)
            for (int x = row.left(); x < row.left() + 40; ++x)
                if (image.pixel(x, y) != background) {
                    top = std::min(top, y);
                    bottom = std::max(bottom, y);
                }
        heights.push_back(bottom - top + 1);
    }
    PVTheme::instance().setTextScale(1.0);
    ASSERT_EQ(heights.size(), 2u);
    EXPECT_GE(heights[1], heights[0] * 1.3) << heights[0] << " px at 100 %, " << heights[1] << " px at 150 %";
}

TEST_F(WorkspaceTest, StatusRowFollowsMonitoringAndOffersTheModelsOperations)
{
    settings->setValue(QLatin1String(WorkspaceView::didWelcomeKey), true);
    auto view = makeView();
    view->show();
    settle();
    OverviewFeed& feed = OverviewFeed::of(*model);
    EXPECT_FALSE(view->showsRecordingLive());
    EXPECT_EQ(view->recordingButton()->text(), QStringLiteral("Folytatás"));
    auto running = snapshotOf(*model);
    running.isMonitoring = true;
    feed.setStateOverride(running);
    settle();
    EXPECT_TRUE(view->showsRecordingLive());
    EXPECT_EQ(view->recordingButton()->text(), QStringLiteral("Szüneteltetés"));
    EXPECT_TRUE(view->recordingButton()->isEnabled());
    auto* root = qobject_cast<PolvarineRootView*>(view->detailScreen());
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->monitoringAction()->text(), QStringLiteral("Mérés szüneteltetése"));
    EXPECT_TRUE(root->monitoringAction()->isEnabled());
    // The reports are not part of this build: exports are shown, but not offered.
    EXPECT_FALSE(root->exportButton()->isEnabled());
    feed.setStateOverride(std::nullopt);

    // The toolbar action reads the model's flag at the click: it resumes, then pauses.
    EXPECT_FALSE(model->isMonitoring());
    root->monitoringAction()->trigger();
    EXPECT_TRUE(model->isMonitoring());
    root->monitoringAction()->trigger();
    EXPECT_FALSE(model->isMonitoring());
    pumpUntil([] { return false; }, std::chrono::milliseconds(50)); // the stopped tasks wind down
}

TEST_F(WorkspaceTest, AdviceCardShowsItsStepsAsSoonAsTheDashboardRenders)
{
    // The dashboard renders again on every published change, with the same advice or a new one;
    // by the time the layout runs (before anything paints) every step of the card is there.
    OverviewFeed& feed = OverviewFeed::of(*model);
    feed.setClock([] { return kFixedNow; });
    PolvarineRootView root(*model);
    root.resize(1440, 900);
    root.show();
    settle();
    const auto states = screenStates();
    for (int index : {1, 1, 2, 0, 2}) { // router critical twice, provider outage, healthy, outage again
        feed.setStateOverride(states[index].make(snapshotOf(*model), kFixedNow));
        root.refresh();
        QApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        EXPECT_EQ(root.adviceSection()->isHidden(), index == 0);
        expectAdviceCardsFilled(&root, states[index].name.toStdString());
        settle();
    }
}

TEST_F(WorkspaceTest, ABurstOfModelChangesRepaintsOnce)
{
    PolvarineRootView root(*model);
    settle();
    OverviewFeed& feed = OverviewFeed::of(*model);
    const int feedBefore = feed.changeCount();
    const int rootBefore = root.refreshCount();
    Q_EMIT model->recentBatchesChanged();
    Q_EMIT model->attributionChanged();
    Q_EMIT model->verdictChanged();
    Q_EMIT model->lastProbeBatchTimestampChanged();
    EXPECT_EQ(root.refreshCount(), rootBefore); // nothing before the event loop turns
    settle();
    EXPECT_EQ(feed.changeCount(), feedBefore + 1);
    EXPECT_EQ(root.refreshCount(), rootBefore + 1);
    Q_EMIT model->availableUpdateChanged();
    settle();
    EXPECT_EQ(root.refreshCount(), rootBefore + 2);

    // The views that follow one change read one snapshot; a model change meanwhile is read anew.
    std::vector<std::shared_ptr<const OverviewSnapshot>> read;
    QObject once;
    QObject::connect(&feed, &OverviewFeed::changed, &once, [&] {
        if (read.empty()) {
            read = {feed.snapshot(), feed.snapshot()};
            Q_EMIT model->markerNoteChanged();
            read.push_back(feed.snapshot());
        }
    });
    Q_EMIT model->verdictChanged();
    settle();
    ASSERT_EQ(read.size(), 3u);
    EXPECT_EQ(read[0], read[1]);
    EXPECT_NE(read[1], read[2]);
    EXPECT_NE(feed.snapshot(), feed.snapshot()); // outside a change, each read is its own

    // A window put away in the tray is not laid out at each change; shown again, it catches up once.
    QWidget window;
    auto* inWindow = new PolvarineRootView(*model, &window);
    window.show();
    settle();
    window.hide();
    const int hidden = inWindow->refreshCount();
    Q_EMIT model->availableUpdateChanged();
    settle();
    EXPECT_EQ(inWindow->refreshCount(), hidden);
    window.show();
    settle();
    EXPECT_EQ(inWindow->refreshCount(), hidden + 1);
}

TEST_F(WorkspaceTest, OverviewShowsOnlyThePresentSections)
{
    OverviewFeed& feed = OverviewFeed::of(*model);
    auto s = healthyState(snapshotOf(*model), kFixedNow);
    s.advice.steps = {{QStringLiteral("a"), QStringLiteral("Lépés")}}; // hidden: no located fault
    feed.setStateOverride(s);
    PolvarineRootView root(*model);
    root.resize(1080, 800);
    root.show();
    settle();
    EXPECT_EQ(root.shownSections(), visibleSections(s));
    EXPECT_EQ(root.shownSections().size(), 9u);
    EXPECT_EQ(root.shownSections().front(), DashboardSection::hero);

    s.storageBannerMessage = QStringLiteral("Az adatbázis sérült volt, újat kezdtünk.");
    s.availableUpdate = AvailableUpdate{QStringLiteral("2.1.0"), QString(), QUrl("https://example.invalid/")};
    s.attribution.location = FaultLocation::router;
    s.attribution.evidence = {QStringLiteral("Ugyanaz."), QStringLiteral("Ugyanaz.")};
    s.attribution.caveats = {QStringLiteral("Egy megjegyzés.")};
    feed.setStateOverride(s);
    settle();
    EXPECT_EQ(root.shownSections(), visibleSections(s));
    EXPECT_EQ(root.shownSections().size(), 12u);
    EXPECT_EQ(root.storageBanner()->geometry().bottom() + 1 + PolvarineRootView::kColumnSpacing,
              root.updateBanner()->geometry().top());
    EXPECT_LT(root.updateBanner()->geometry().bottom(), root.hero()->geometry().top());
    EXPECT_EQ(root.updateBanner()->titleText(), QStringLiteral("Elérhető a 2.1.0 verzió"));
    EXPECT_EQ(root.faultLocation()->evidenceTexts(), (QStringList{QStringLiteral("Ugyanaz."), QStringLiteral("Ugyanaz.")}));
    EXPECT_EQ(root.faultLocation()->caveatTexts(), QStringList{QStringLiteral("Egy megjegyzés.")});
    EXPECT_FALSE(root.adviceSection()->showsPointlessNote());

    s.advice.steps.clear();
    s.advice.pointless = QStringLiteral("Felesleges.");
    feed.setStateOverride(s);
    settle();
    EXPECT_TRUE(root.adviceSection()->isHidden());
}

TEST_F(WorkspaceTest, PanelReflectsStateAndWrapsALongHeadline)
{
    OverviewFeed& feed = OverviewFeed::of(*model);
    feed.setClock([] { return kFixedNow; });
    PolvarineMenuBarView panel(*model);
    panel.show();
    settle();
    // The fresh model is paused.
    EXPECT_EQ(panel.statusGlyph()->level(), PVStatus::neutral);
    EXPECT_EQ(panel.titleText(), QStringLiteral("A mérés áll"));
    EXPECT_EQ(panel.freshnessText(), QStringLiteral("A rögzítés szünetel"));
    EXPECT_EQ(panel.header()->accessibleName(), QStringLiteral("A mérés áll. A rögzítés szünetel"));
    EXPECT_EQ(panel.monitoringButton()->text(), QStringLiteral("Mérés folytatása"));
    EXPECT_FALSE(panel.revealAction()->isEnabled());
    QStringList items;
    for (QAction* a : panel.exportMenu()->actions())
        items << (a->isSeparator() ? QStringLiteral("-") : a->text());
    EXPECT_EQ(items, (QStringList{QStringLiteral("Mai nap exportálása"), QStringLiteral("Előző nap exportálása"),
                                  QStringLiteral("Utolsó 24 óra exportálása"), QStringLiteral("-"),
                                  QStringLiteral("Legutóbbi export megmutatása")}));
    // Without the reports in this build the exports are listed but not offered (never a silent
    // no-op); showing the latest export waits for one to exist.
    for (QAction* a : panel.exportMenu()->actions()) {
        if (!a->isSeparator() && a != panel.revealAction()) {
            EXPECT_FALSE(a->isEnabled()) << a->text().toStdString();
        }
    }
    EXPECT_FALSE(panel.exportButton()->isEnabled());

    auto s = screenStates()[1].make(snapshotOf(*model), kFixedNow); // router critical
    const int shortHeight = panel.sizeHint().height();
    s.attribution.headline = s.attribution.headline.repeated(4);
    feed.setStateOverride(s);
    settle();
    EXPECT_EQ(panel.statusGlyph()->level(), PVStatus::critical);
    EXPECT_EQ(panel.width(), PolvarineMenuBarView::kWidth);
    EXPECT_GT(panel.sizeHint().height(), shortHeight);
    EXPECT_EQ(panel.adviceStepText(), s.advice.steps.front().text);
    EXPECT_EQ(panel.metricValue(2), QStringLiteral("38.1"));
    EXPECT_EQ(panel.metricAccessibleName(2), QStringLiteral("Veszteség: 38.1 %"));

    s.attribution.location = FaultLocation::insufficientEvidence;
    feed.setStateOverride(s);
    settle();
    EXPECT_FALSE(panel.showsAdviceGroup());
    EXPECT_EQ(panel.statusGlyph()->level(), PVStatus::neutral);
}

TEST_F(WorkspaceTest, TheStatusLineShowsInTheOverviewAndThePanelAndAFailingStoreIsNoGreenRecording)
{
    settings->setValue(QLatin1String(WorkspaceView::didWelcomeKey), true);
    OverviewFeed& feed = OverviewFeed::of(*model);
    feed.setClock([] { return kFixedNow; });
    auto view = makeView();
    view->show();
    PolvarineMenuBarView panel(*model);
    panel.show();
    settle();
    auto* root = qobject_cast<PolvarineRootView*>(view->detailScreen());
    ASSERT_NE(root, nullptr);
    EXPECT_TRUE(root->statusBanner()->isHidden());
    EXPECT_TRUE(panel.statusLineText().isEmpty());

    auto s = healthyState(snapshotOf(*model), kFixedNow);
    s.isMonitoring = true;
    s.isRecordingFailing = true;
    s.statusMessage = QStringLiteral("A mérést nem sikerült elmenteni: database or disk is full");
    feed.setStateOverride(s);
    settle();
    EXPECT_FALSE(root->statusBanner()->isHidden());
    EXPECT_EQ(root->statusBanner()->message(), *s.statusMessage);
    EXPECT_LT(root->statusBanner()->geometry().bottom(), root->hero()->geometry().top());
    EXPECT_EQ(panel.statusLineText(), *s.statusMessage);
    EXPECT_TRUE(view->showsRecordingLive());
    EXPECT_EQ(view->recordingIndicator()->tint(), statusMark(PVStatus::serious));
    // For a person to look at.
    QDir().mkpath(QStringLiteral(PV_SCREENS_DIR));
    view->grab().toImage().save(QStringLiteral(PV_SCREENS_DIR "/status-line-overview.png"));
    panel.grab().toImage().save(QStringLiteral(PV_SCREENS_DIR "/status-line-panel.png"));

    s.isRecordingFailing = false;
    s.statusMessage.reset();
    feed.setStateOverride(s);
    settle();
    EXPECT_TRUE(root->statusBanner()->isHidden());
    EXPECT_TRUE(panel.statusLineText().isEmpty());
    EXPECT_EQ(view->recordingIndicator()->tint(), statusMark(PVStatus::good));
}

// A store that could only be opened in memory keeps nothing: the sidebar says so, not a green "recording".
TEST_F(WorkspaceTest, AStoreKeptOnlyInMemoryIsNoGreenRecording)
{
    settings->setValue(QLatin1String(WorkspaceView::didWelcomeKey), true);
    model = makeModel(dir, StorageHealth::notPersisting(QStringLiteral("cannot create directories: Not a directory")));
    auto view = makeView();
    view->show();
    settle();
    ASSERT_TRUE(model->isMonitoring() || actions::canToggleMonitoring(*model));
    if (!model->isMonitoring())
        actions::toggleMonitoring(*model);
    ASSERT_TRUE(pumpUntil([&] { return view->showsRecordingLive(); }, std::chrono::seconds(5)));
    settle();
    EXPECT_EQ(view->recordingIndicator()->tint(), statusMark(PVStatus::serious));
    EXPECT_EQ(view->recordingIndicator()->toolTip(), model->storageHealth().bannerMessage().value_or(QString()));
}

TEST_F(WorkspaceTest, PanelShortcutsPressTheirButtons)
{
    int quits = 0;
    int opened = 0;
    QWidget mainWindow;
    WindowRegistry::instance().registerWindow(QString::fromLatin1(PolvarineWindowID::main), [&]() -> QWidget* {
        ++opened;
        return &mainWindow;
    });
    PolvarineMenuBarView panel(*model);
    panel.setQuitHandler([&] { ++quits; });
    panel.refresh();
    panel.show();
    panel.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&panel));
    ASSERT_EQ(panel.shortcuts().size(), 3u);
    EXPECT_EQ(panel.shortcuts()[0]->key(), QKeySequence(Qt::CTRL | Qt::Key_P));

    QTest::keyClick(&panel, Qt::Key_O, Qt::ControlModifier);
    settle();
    EXPECT_EQ(opened, 1);
    EXPECT_TRUE(mainWindow.isVisible());
    panel.activateWindow(); // opening the main window took the focus
    ASSERT_TRUE(QTest::qWaitForWindowActive(&panel));
    QTest::keyClick(&panel, Qt::Key_Q, Qt::ControlModifier);
    settle();
    EXPECT_EQ(quits, 1);
    // Ctrl+P presses pause/resume: the model was paused, so it resumes.
    EXPECT_TRUE(panel.monitoringButton()->isEnabled());
    EXPECT_FALSE(model->isMonitoring());
    QTest::keyClick(&panel, Qt::Key_P, Qt::ControlModifier);
    settle();
    EXPECT_TRUE(model->isMonitoring());
    model->stopMonitoring();
    pumpUntil([] { return false; }, std::chrono::milliseconds(50));
    EXPECT_EQ(quits, 1);
    WindowRegistry::instance().unregisterWindow(QString::fromLatin1(PolvarineWindowID::main));
}

TEST_F(WorkspaceTest, ModelOperationsBehindTheControls)
{
    // The start-up runs once.
    EXPECT_TRUE(actions::canBootstrap(*model));
    actions::bootstrap(*model);
    ASSERT_TRUE(pumpUntil([&] { return model->didBootstrap(); }, std::chrono::seconds(5)));
    EXPECT_FALSE(actions::canBootstrap(*model));
    if (model->isMonitoring())
        model->stopMonitoring();
    EXPECT_FALSE(actions::canRevealLatestExport(*model)); // nothing exported yet
    // Exports are offered only once the reports have registered their services.
    EXPECT_FALSE(actions::canExport(*model));
    registerReportServiceMakers({[](std::shared_ptr<SQLiteStore>) { return std::shared_ptr<ExportService>(); }, {}});
    EXPECT_TRUE(actions::canExport(*model));
    registerReportServiceMakers({});
    EXPECT_FALSE(actions::canExport(*model));

    // The load-test hand-offs pause a running monitor and resume it afterwards.
    ASSERT_TRUE(actions::canHandOffLoadTest(*model));
    actions::toggleMonitoring(*model);
    ASSERT_TRUE(model->isMonitoring());
    actions::suspendForLoadTest(*model);
    EXPECT_FALSE(model->isMonitoring());
    // "Folytatás" is not offered while the test runs (its load would be recorded as the line's).
    EXPECT_FALSE(actions::canToggleMonitoring(*model));
    actions::toggleMonitoring(*model);
    EXPECT_FALSE(model->isMonitoring());
    actions::resumeAfterLoadTest(*model);
    EXPECT_TRUE(actions::canToggleMonitoring(*model));
    EXPECT_TRUE(model->isMonitoring());
    actions::toggleMonitoring(*model);
    EXPECT_FALSE(model->isMonitoring());
    pumpUntil([] { return false; }, std::chrono::milliseconds(50)); // the stopped tasks wind down
}
