// The overview's figure and chart sections as widgets: the reflowing grids, the load-test button,
// the latency crosshair, the Wi-Fi states, the incident rows and the raw-data panel; then the whole
// dashboard offscreen, light and dark at three widths, with PNGs under screens/ for review.

#include "ui/main/MenuBarView.h"
#include "ui/main/OverviewFeed.h"
#include "ui/main/RootView.h"
#include "ui/screens/WelcomeScreen.h"

#include "tests/main/DashboardStates.h"
#include "tests/main/ModelFixture.h"
#include "tests/main/TabWalk.h"
#include "tests/main/WidgetHelpers.h"
#include "ui/design/CulpritChain.h"
#include "ui/design/Symbols.h"
#include "ui/design/Theme.h"
#include "core/records/FailureText.h"
#include "reports/ExportService.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScrollBar>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

using namespace pv;
using namespace pv::test;

namespace {

void setAppearance(PVAppearance a)
{
    pvInstallIconTheme();
    PVTheme::instance().setAppearanceOverride(a);
    PVTheme::instance().setReduceMotionOverride(true);
    PVTheme::instance().setAccentOverride(QColor(0x35, 0x84, 0xE4));
    settle();
}

void hover(QWidget* w, QPointF at)
{
    QMouseEvent move(QEvent::MouseMove, at, w->mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(w, &move);
    settle();
}


// Visible siblings inside one layout never overlap.
void expectNoOverlap(QWidget* parent, const std::string& where)
{
    std::vector<QWidget*> shown;
    for (QWidget* w : parent->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (w->isVisibleTo(parent) && !w->isWindow())
            shown.push_back(w);
    for (std::size_t i = 0; i < shown.size(); ++i)
        for (std::size_t j = i + 1; j < shown.size(); ++j)
            EXPECT_FALSE(shown[i]->geometry().intersects(shown[j]->geometry()))
                << where << ": " << shown[i]->metaObject()->className() << " overlaps "
                << shown[j]->metaObject()->className();
}

class DashboardTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        setAppearance(PVAppearance::light);
        dir = makeTempDir();
        model = makeModel(dir);
        feed = &OverviewFeed::of(*model);
        feed->setClock([] { return kFixedNow; });
    }
    void TearDown() override
    {
        model.reset();
        setAppearance(PVAppearance::light);
        PVTheme::instance().setReduceMotionOverride(false);
    }
    // A dashboard on the model, shown and laid out.
    std::unique_ptr<PolvarineRootView> showRoot(int width = 1080, int height = 800)
    {
        auto root = std::make_unique<PolvarineRootView>(*model);
        root->resize(width, height);
        root->show();
        settle();
        return root;
    }
    QString dir;
    std::unique_ptr<AppViewModel> model;
    OverviewFeed* feed = nullptr;
};

} // namespace

// The axis needs fonts, so it is checked here, with the application running.
TEST(DashboardChartAxis, TimeTicksFallOnWholeMinutes)
{
    std::vector<LatencyPoint> router;
    for (int i = 0; i < 150; ++i)
        router.push_back({kFixedNow + 7 + i * 4.0, 3.0});
    const auto spec = latencyChartSpec(router, {});
    const PVChartLayout layout =
        layoutChart(spec, QRectF(0, 0, 800, 240), PVChartStyle::dashboard(PVPaintContext{}));
    ASSERT_GE(layout.xTicks.values.size(), 3u);
    EXPECT_LE(layout.xTicks.values.size(), 7u);
    for (double t : layout.xTicks.values)
        EXPECT_EQ(std::fmod(t, 60.0), 0.0) << t;
    for (double v : layout.yTicks.values)
        EXPECT_LE(v, 20.0);
}

// The newest points' labels ("router", "szolgáltató") cover neither a time label nor each other,
// wherever the lines end, at both text sizes and at a narrow and a wide chart.
TEST(DashboardChartAxis, DirectLabelsClearTheTimeLabelsAndEachOther)
{
    struct Ends {
        const char* name;
        double router, provider;
    };
    // A router under a millisecond with the provider a little above it (as in a lab), lines apart,
    // and lines crossed.
    std::vector<Ends> ends;
    for (double provider : {0.1, 0.4, 0.8, 1.2, 1.6, 2.0, 2.4, 3.2})
        ends.push_back({"router under a millisecond", 0.1, provider});
    ends.push_back({"apart", 4, 16});
    ends.push_back({"crossed", 30, 2});
    // The newest point on a whole minute, so a time tick stands right under it.
    const double newest = std::floor(kFixedNow / 60) * 60;
    for (double scale : {1.0, 1.5})
        for (double width : {480.0, 1000.0})
            for (const Ends& e : ends) {
                PVTheme::instance().setTextScale(scale);
                std::vector<LatencyPoint> router, provider;
                for (int i = 149; i >= 0; --i) {
                    router.push_back({newest - i * 4.0, e.router});
                    provider.push_back({newest - i * 4.0, e.provider});
                }
                const auto spec = latencyChartSpec(router, provider);
                const PVChartStyle style = PVChartStyle::dashboard(PVPaintContext{});
                const PVChartLayout layout = layoutChart(spec, QRectF(0, 0, width, 240), style);
                const std::vector<QRectF> labels = directLabelRects(spec, layout);
                const std::vector<QRectF> ticks = xTickLabelRects(spec, layout, style);
                const std::string where = std::string(e.name) + " " + std::to_string(e.provider) + " at "
                                          + std::to_string(scale) + ", "
                                          + std::to_string(static_cast<int>(width));
                ASSERT_EQ(labels.size(), 2u) << where;
                ASSERT_FALSE(std::all_of(ticks.begin(), ticks.end(), [](const QRectF& r) { return r.isNull(); }))
                    << where;
                EXPECT_FALSE(labels[0].intersects(labels[1])) << where;
                for (const QRectF& label : labels) {
                    EXPECT_TRUE(layout.bounds.contains(label)) << where;
                    for (const QRectF& tick : ticks)
                        EXPECT_FALSE(!tick.isNull() && label.intersects(tick)) << where;
                }
            }
    PVTheme::instance().setTextScale(1.0);
}

TEST_F(DashboardTest, GridsReflowByTheirMinimumColumn)
{
    feed->setStateOverride(dashboardState(snapshotOf(*model), kFixedNow));
    auto rootView = showRoot(1440, 900);
    PolvarineRootView& root = *rootView;
    const auto& tiles = root.nowSection()->tiles();
    ASSERT_EQ(tiles.size(), 5u);
    // The card's content is 1072 wide in a 1160 column: four columns of at least 208, then a second row.
    EXPECT_EQ(root.nowSection()->grid()->columnsForWidth(1072), 4);
    EXPECT_EQ(tiles[0]->geometry().top(), tiles[3]->geometry().top());
    EXPECT_LT(tiles[3]->geometry().bottom(), tiles[4]->geometry().top());
    for (PVStatTile* tile : tiles)
        EXPECT_GE(tile->width(), NowSection::kMinimumColumn);
    EXPECT_EQ(tiles[1]->geometry().left() - tiles[0]->geometry().right() - 1, 12);

    root.resize(420, 900);
    settle();
    EXPECT_LT(tiles[0]->geometry().bottom(), tiles[1]->geometry().top()); // one column
    for (UsageTileView* tile : root.usageSection()->tiles())
        EXPECT_GE(tile->height(), 84);
    expectNoTextCut(&root, "narrow");
}

// The latest load test's added latency is a whole-millisecond figure: under 1 ms it does not read 0.
// Its date reads in Hungarian.
TEST(SpeedSectionText, AddedLatencyUnderAMillisecondDoesNotReadZero)
{
    const std::pair<double, const char*> cases[] = {{0.3, "A késleltetés kevesebb mint 1 ms-mal nőtt."},
                                                    {41.6, "A késleltetés 42 ms-mal nőtt."}};
    for (const auto& [added, sentence] : cases) {
        SpeedSection section;
        StoredLoadTest test;
        test.startedAt = kFixedNow - 60;
        test.downloadMbps = 90;
        test.uploadMbps = 20;
        test.latencyIncreaseMilliseconds = added;
        section.setLatestLoadTest(test);
        EXPECT_TRUE(section.latestLoadTestText().endsWith(QString::fromUtf8(sentence)))
            << section.latestLoadTestText().toStdString();
        // Its date in Hungarian under the C locale the tests run in (December in any time zone).
        EXPECT_TRUE(section.latestLoadTestText().startsWith(QStringLiteral("Legutóbbi teszt (dec. ")))
            << section.latestLoadTestText().toStdString();
    }
}

TEST_F(DashboardTest, SpeedButtonIsAlwaysShownAndDisabledWithoutALoadTest)
{
    feed->setStateOverride(healthyState(snapshotOf(*model), kFixedNow));
    auto rootView = showRoot(1080, 800);
    PolvarineRootView& root = *rootView;
    QPushButton* start = root.speedSection()->startButton();
    EXPECT_TRUE(start->isVisible());
    EXPECT_EQ(start->text(), QStringLiteral("Mérés indítása"));
    EXPECT_FALSE(start->isEnabled()); // no load-test screen: never a button that does nothing

    // Enabled, one press asks once; without a screen no sheet opens.
    QSignalSpy asked(root.speedSection(), &SpeedSection::loadTestRequested);
    root.speedSection()->setLoadTestAvailable(true);
    start->click();
    EXPECT_EQ(asked.count(), 1);
    EXPECT_FALSE(root.showsLoadTest());

    feed->setStateOverride(OverviewSnapshot{}); // not monitoring, nothing measured
    settle();
    EXPECT_TRUE(root.speedSection()->isVisible());
}

TEST_F(DashboardTest, LatencyChartCrosshairAndSummary)
{
    auto s = healthyState(snapshotOf(*model), kFixedNow);
    addRealisticBatches(s, kFixedNow, 130);
    feed->setStateOverride(s);
    auto rootView = showRoot(1080, 800);
    PolvarineRootView& root = *rootView;
    LatencySection* latency = root.latencySection();
    EXPECT_TRUE(latency->chart()->isVisible());
    EXPECT_FALSE(latency->emptyPanel()->isVisible());
    EXPECT_EQ(latency->chart()->height(), LatencySection::kChartHeight);
    EXPECT_EQ(latency->legend()->names(), (QStringList{"A te routered", "A szolgáltatód"}));
    EXPECT_EQ(latency->chart()->accessibleName(), QStringLiteral("Válaszidő az elmúlt 10 percben"));
    EXPECT_TRUE(latency->chart()->accessibleDescription().startsWith(QStringLiteral("A te routered: jellemzően")));
    EXPECT_TRUE(latency->chart()->accessibleDescription().contains(QStringLiteral(" A szolgáltatód: jellemzően")));

    const PVChartLayout L = latency->chart()->currentLayout();
    hover(latency->chart(), QPointF(L.plot.center().x(), L.plot.center().y()));
    ASSERT_TRUE(latency->chart()->hoveredDate().has_value());
    const auto provider = latencyPoints(ProbeKind::publicIP, s.recentBatches);
    EXPECT_TRUE(std::any_of(provider.begin(), provider.end(),
                            [&](const LatencyPoint& p) { return p.timestamp == *latency->chart()->hoveredDate(); }));

    // Router points alone: no crosshair.
    s.recentBatches.clear();
    for (int i = 0; i < 20; ++i)
        s.recentBatches.push_back(batch({sample(ProbeKind::gateway, kFixedNow - 100 + i * 4, true, 3)}));
    feed->setStateOverride(s);
    settle();
    hover(latency->chart(), QPointF(L.plot.center().x(), L.plot.center().y()));
    EXPECT_FALSE(latency->chart()->hoveredDate().has_value());

    // Nothing to draw: the empty panel alone.
    s.recentBatches.clear();
    feed->setStateOverride(s);
    settle();
    EXPECT_TRUE(latency->emptyPanel()->isVisible());
    EXPECT_FALSE(latency->chart()->isVisible());
    EXPECT_FALSE(latency->legend()->isVisible());
}

TEST_F(DashboardTest, WifiSectionStates)
{
    auto s = healthyState(snapshotOf(*model), kFixedNow);
    s.wifiSnapshots = {wifi(kFixedNow - 8, 0), wifi(kFixedNow, 0)};
    for (auto& w : s.wifiSnapshots)
        w.noise = std::nullopt;
    feed->setStateOverride(s);
    auto rootView = showRoot(1080, 800);
    PolvarineRootView& root = *rootView;
    WifiSignalSection* wifiSection = root.wifiSection();
    EXPECT_TRUE(wifiSection->emptyPanel()->isVisible());
    EXPECT_FALSE(wifiSection->body()->isVisible());
    // Wi-Fi in use but unreadable: more measurements may help. No Wi-Fi at all (the chain says
    // "Kábelen mérünk"): waiting would not, and the empty panel says why it stays empty.
    const QString wired = QStringLiteral("Kábelen csatlakozol");
    EXPECT_NE(wifiSection->emptyPanel()->spec().emptyTitle.value_or(QString()), wired);
    const std::vector<WifiSnapshot> unreadable = s.wifiSnapshots;
    s.wifiSnapshots.clear();
    feed->setStateOverride(s);
    settle();
    EXPECT_TRUE(wifiSection->emptyPanel()->isVisible());
    EXPECT_EQ(wifiSection->emptyPanel()->spec().emptyTitle.value_or(QString()), wired);
    EXPECT_EQ(wifiSection->emptyPanel()->accessibleName(), wired);
    s.wifiSnapshots = unreadable;
    feed->setStateOverride(s);
    settle();
    EXPECT_NE(wifiSection->emptyPanel()->spec().emptyTitle.value_or(QString()), wired);

    // Strength without noise: the second chart says it has no data.
    s.wifiSnapshots = {wifi(kFixedNow - 8, -60), wifi(kFixedNow, -61)};
    for (auto& w : s.wifiSnapshots)
        w.noise = std::nullopt;
    feed->setStateOverride(s);
    settle();
    EXPECT_FALSE(wifiSection->emptyPanel()->isVisible());
    EXPECT_FALSE(wifiSection->strengthShowsNoData());
    EXPECT_TRUE(wifiSection->noiseShowsNoData());
    EXPECT_FALSE(wifiSection->nodeList()->isVisible()); // no history: no divider, no list

    addRealisticWifi(s, kFixedNow, 75);
    feed->setStateOverride(s);
    settle();
    EXPECT_FALSE(wifiSection->noiseShowsNoData());
    EXPECT_TRUE(wifiSection->nodeList()->isVisible());
    EXPECT_EQ(wifiSection->nodeTexts().size(), 3);
}

TEST_F(DashboardTest, IncidentRowsAndEmptyBody)
{
    auto s = healthyState(snapshotOf(*model), kFixedNow);
    feed->setStateOverride(s);
    auto rootView = showRoot(1080, 800);
    PolvarineRootView& root = *rootView;
    IncidentSection* incidents = root.incidentSection();
    EXPECT_TRUE(incidents->emptyBody()->isVisible());
    EXPECT_FALSE(incidents->subtitleText().has_value());

    addIncidents(s, kFixedNow);
    feed->setStateOverride(s);
    settle();
    EXPECT_FALSE(incidents->emptyBody()->isVisible());
    EXPECT_EQ(incidents->subtitleText(), QStringLiteral("12 rögzített esemény"));
    const auto rows = incidents->rows();
    ASSERT_EQ(rows.size(), 8u);
    EXPECT_EQ(incidents->dividerCount(), 7);
    EXPECT_TRUE(rows.front()->showsOpenBadge());
    EXPECT_TRUE(rows.front()->highlight().isOpen);
    EXPECT_EQ(rows.front()->highlight().level, PVStatus::watch);
    for (std::size_t i = 1; i < rows.size(); ++i)
        EXPECT_FALSE(rows[i]->showsOpenBadge());
    for (std::size_t i = 1; i < rows.size(); ++i)
        EXPECT_LT(rows[i - 1]->geometry().bottom(), rows[i]->geometry().top());
}

TEST_F(DashboardTest, RawDataStartsCollapsedAndShowsFiveSelectableLines)
{
    auto s = healthyState(snapshotOf(*model), kFixedNow);
    addAssessment(s);
    feed->setStateOverride(s);
    auto root = showRoot();
    RawDataSection* raw = root->rawDataSection();
    EXPECT_FALSE(raw->isExpanded());
    EXPECT_FALSE(raw->figureLabels().front()->isVisible());
    raw->toggle()->click();
    settle();
    EXPECT_TRUE(raw->isExpanded());
    ASSERT_EQ(raw->figureLabels().size(), 5);
    EXPECT_TRUE(raw->figureLabels().front()->isVisible());
    EXPECT_TRUE(raw->figureLabels().front()->textInteractionFlags() & Qt::TextSelectableByMouse);
    EXPECT_EQ(raw->figureTexts().front().replace(QChar(0x00A0), QLatin1Char(' ')), QStringLiteral("átlag 2.7 ms · max. 21.4 ms · sikeres 99.23% · 130 mérés · 1 sikertelen · 3 kiugrás"));
    EXPECT_EQ(raw->figureTexts().back().replace(QChar(0x00A0), QLatin1Char(' ')), QStringLiteral("átlag — · max. — · sikeres — · 75 mérés · 0 sikertelen · 0 kiugrás"));

    // A new dashboard starts collapsed again.
    root = std::make_unique<PolvarineRootView>(*model);
    EXPECT_FALSE(root->rawDataSection()->isExpanded());
}

// ---- Screenshots --------------------------------------------------------------------------------

TEST_F(DashboardTest, ScreenshotsOfTheWholeDashboard)
{
    const QString out = screensDir();
    feed->setStateOverride(dashboardState(snapshotOf(*model), kFixedNow));
    int written = 0;
    for (PVAppearance appearance : {PVAppearance::light, PVAppearance::dark}) {
        setAppearance(appearance);
        for (int width : {560, 1080, 1440}) {
            PolvarineRootView root(*model);
            root.rawDataSection()->setExpanded(true);
            root.resize(width, 900);
            root.show();
            settle();
            const std::string where = QStringLiteral("%1 %2").arg(rawValue(appearance)).arg(width).toStdString();
            expectNoTextCut(&root, where);
            for (QWidget* section : {static_cast<QWidget*>(root.nowSection()), static_cast<QWidget*>(root.usageSection()),
                                     static_cast<QWidget*>(root.incidentSection())})
                EXPECT_LE(section->geometry().right(), root.column()->width()) << where;
            expectNoOverlap(root.column(), where);
            // The latency chart with the crosshair on a provider sample in the middle of the plot.
            PVChartView* chart = root.latencySection()->chart();
            const PVChartLayout L = chart->currentLayout();
            hover(chart, QPointF(L.plot.left() + L.plot.width() * 0.55, L.plot.top() + 40));
            EXPECT_TRUE(chart->hoveredDate().has_value()) << where;
            // The whole column, not just what the viewport shows.
            const QImage image = root.widget()->grab().toImage();
            ASSERT_TRUE(image.save(out + QStringLiteral("/dashboard-%1-%2.png").arg(rawValue(appearance)).arg(width)));
            ++written;
            if (width != 1440) {
                const QString suffix = QStringLiteral("%1-%2.png").arg(rawValue(appearance)).arg(width);
                const std::pair<QWidget*, const char*> parts[] = {
                    {root.speedSection(), "speed"}, {root.latencySection(), "latency-crosshair"},
                    {root.wifiSection(), "wifi"}, {root.incidentSection(), "incidents"},
                    {root.rawDataSection(), "rawdata"}};
                for (const auto& [part, name] : parts) {
                    ASSERT_TRUE(part->grab().save(out + QStringLiteral("/dashboard-%1-").arg(QLatin1String(name)) + suffix));
                    ++written;
                }
            }
        }
    }
    EXPECT_EQ(written, 2 * (3 + 2 * 5));
}

TEST_F(DashboardTest, ANewBatchReachesTheFiguresAndTheSameStateKeepsTheWidgets)
{
    auto s = dashboardState(snapshotOf(*model), kFixedNow, 300, 90);
    feed->setStateOverride(s);
    auto rootView = showRoot(1080, 900);
    PolvarineRootView& root = *rootView;
    const QPointer<QWidget> firstCard = root.faultLocation()->chain()->card(0);
    const auto routerLine = [&] { return root.latencySection()->chart()->spec().lines.at(0).points; };
    // The same points (a gap, y not a number, equals a gap).
    const auto same = [](const std::vector<QPointF>& a, const std::vector<QPointF>& b) {
        return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const QPointF& p, const QPointF& q) {
            return p.x() == q.x() && (p.y() == q.y() || (std::isnan(p.y()) && std::isnan(q.y())));
        });
    };
    const auto before = routerLine();

    // The same state published again: the chain keeps its cards, the chart its series.
    root.refresh();
    settle();
    EXPECT_EQ(root.faultLocation()->chain()->card(0), firstCard.data());
    EXPECT_TRUE(same(routerLine(), before));

    // A new batch 4.6 s later, the oldest dropped: the router's tile and chart end in it.
    s.recentBatches.erase(s.recentBatches.begin());
    s.recentBatches.push_back(batch({sample(ProbeKind::gateway, kFixedNow + 3.4, true, 42),
                                     sample(ProbeKind::publicIP, kFixedNow + 3.41, true, 55)}));
    s.lastProbeBatchTimestamp = kFixedNow + 3.4;
    feed->setClock([] { return kFixedNow + 4.6; });
    feed->setStateOverride(s);
    settle();
    EXPECT_EQ(root.nowSection()->tiles()[0]->data().samples.back(), 42);
    EXPECT_FALSE(same(routerLine(), before));
    EXPECT_EQ(routerLine().back().y(), 42);
}

// An export that fails while the overview is scrolled to its end: the warning comes into view at the
// top of the column, and names the folder the export was for. The failure is real: a file stands
// where the Documents folder would be made.
TEST_F(DashboardTest, AFailedExportShowsItsWarningInViewWhereverTheOverviewIsScrolled)
{
    QFile blocker(dir + "/blocker");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const QString documents = dir + "/blocker/Dokumentumok";
    ReportServiceMakers makers;
    makers.makeExportService = [documents](std::shared_ptr<SQLiteStore> store) -> std::shared_ptr<ExportService> {
        return std::make_shared<reports::ExportService>(std::move(store), reports::ExportService::Options{documents});
    };
    registerReportServiceMakers(std::move(makers));
    model = makeModel(dir);
    feed = &OverviewFeed::of(*model);
    feed->setClock([] { return kFixedNow; });
    auto root = showRoot(1080, 600);
    QScrollBar* bar = root->verticalScrollBar();
    bar->setValue(bar->maximum());
    ASSERT_GT(bar->value(), 600) << "the overview is scrolled well below its top";

    root->exportMenu()->actions().front()->trigger();
    ASSERT_TRUE(pumpUntil([&] { return model->exportStatusMessage().has_value(); }, std::chrono::seconds(30)));
    settle();
    registerReportServiceMakers({});

    StorageBanner* banner = root->statusBanner();
    ASSERT_TRUE(banner->isVisible());
    EXPECT_EQ(banner->level(), PVStatus::watch);
    const QString folder = documents + "/Polvarine Exports/" + reports::ExportService::folderStamp(kFixedNow) + "_today";
    EXPECT_EQ(banner->message(),
              "Az exportálás nem sikerült: " + failureSentence(FailureCause::notAFolder) + " " + pathNote(folder));
    const QRect shown(banner->mapTo(root->viewport(), QPoint(0, 0)), banner->size());
    EXPECT_TRUE(root->viewport()->rect().contains(shown))
        << "banner at y " << shown.y() << ", viewport height " << root->viewport()->height();
    EXPECT_TRUE(QFileInfo(dir + "/blocker").isFile());
    root->grab().save(screensDir() + "/dashboard-export-failed-scrolled.png");
}

namespace {

// The bounding box of the pixels inside `area` that stand far from the colour at `ground`.
QSize markSize(const QImage& image, const QRect& area, QPoint ground)
{
    const QColor bg = image.pixelColor(ground);
    int left = area.right() + 1, right = area.left() - 1, top = area.bottom() + 1, bottom = area.top() - 1;
    for (int y = std::max(0, area.top()); y <= std::min(image.height() - 1, area.bottom()); ++y)
        for (int x = std::max(0, area.left()); x <= std::min(image.width() - 1, area.right()); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (std::abs(c.red() - bg.red()) + std::abs(c.green() - bg.green()) + std::abs(c.blue() - bg.blue()) > 90) {
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
        }
    return {std::max(0, right - left + 1), std::max(0, bottom - top + 1)};
}

QRect within(QWidget* w, QWidget* top) { return {w->mapTo(top, QPoint(0, 0)), w->size()}; }

} // namespace

// The symbols set beside a title grow with it, as the title does: the welcome sheet's list, the
// fault-location cards, the usage tiles and the incident rows.
TEST_F(DashboardTest, SymbolsGrowWithTheTitleBesideThem)
{
    struct Row {
        const char* name;
        std::function<QWidget*()> make;
        // The painted symbol's size in the grabbed widget.
        std::function<QSize(QWidget*, const QImage&)> measure;
    };
    // A PVSymbolView: its own box, against the colour just right of it.
    const auto symbolIn = [](QWidget* w, const QImage& image) {
        const QRect box = within(w->findChild<PVSymbolView*>(), w);
        return markSize(image, box, QPoint(box.right() + 2, box.center().y()));
    };
    const std::vector<Row> rows{
        {"welcome-list",
         [&]() -> QWidget* { return new WelcomeScreen(*model, [] {}); },
         [](QWidget* w, const QImage& image) {
             const QRect tile = within(w->findChild<QWidget*>(QStringLiteral("segmentIcon")), w);
             // Inside the tile's wash, clear of its rounded corners.
             return markSize(image, tile.adjusted(6, 6, -6, -6), tile.topLeft() + QPoint(tile.width() / 2, 3));
         }},
        {"fault-card",
         [] {
             return new PVSegmentCard({PVCulprit::router, PVCulpritChain::SegmentState::clear(), QStringLiteral("A routered"),
                                       QStringLiteral("3 ms")},
                                      false, false);
         },
         symbolIn},
        {"usage-tile",
         [] {
             auto* tile = new UsageTileView;
             tile->setTile(usageTiles(ConnectionVerdict{}).front());
             return tile;
         },
         symbolIn},
        {"incident-row",
         [] {
             Incident closed = incident(kFixedNow - 600, kFixedNow - 483);
             closed.severity = IncidentSeverity::critical;
             closed.classification = IncidentClassification::offline;
             return new IncidentRowView(incidentRowsToShow({closed}, kFixedNow).front());
         },
         symbolIn},
    };
    for (PVAppearance appearance : {PVAppearance::light, PVAppearance::dark}) {
        setAppearance(appearance);
        for (const Row& row : rows) {
            std::vector<std::pair<QSize, double>> seen; // the mark, the title's line height
            for (double scale : {1.0, 1.5}) {
                PVTheme::instance().setTextScale(scale);
                std::unique_ptr<QWidget> w(row.make());
                w->resize(std::max(w->sizeHint().width(), 420), w->sizeHint().height());
                w->show();
                settle();
                const QImage image = w->grab().toImage();
                image.save(screensDir() + QStringLiteral("/symbol-%1-%2-%3.png")
                                              .arg(QString::fromLatin1(row.name), rawValue(appearance))
                                              .arg(scale));
                seen.emplace_back(row.measure(w.get(), image), QFontMetricsF(pvFont(PVFontToken::cardTitle)).height());
            }
            PVTheme::instance().setTextScale(1.0);
            const std::string where = std::string(row.name) + " " + rawValue(appearance).toStdString();
            const double textGrowth = seen[1].second / seen[0].second;
            ASSERT_GT(seen[0].first.width(), 5) << where << ": no symbol found";
            for (auto side : {&QSize::width, &QSize::height}) {
                const double growth = double((seen[1].first.*side)()) / (seen[0].first.*side)();
                EXPECT_NEAR(growth, textGrowth, 0.25) << where << ": " << (seen[0].first.*side)() << " -> "
                                                      << (seen[1].first.*side)();
            }
        }
    }
}

// A leg's stretch without an answer stays in view where the other leg's line runs over its break:
// it is marked in the leg's colour next to the time axis, whether it lies between answers, at the
// start of the chart or runs on to its end, for the provider as for the router.
TEST_F(DashboardTest, RouteChartMarksEachLegsStretchWithoutAnswer)
{
    struct Case {
        const char* name;
        bool providerFails; // else the router
        int first, last;    // the failing batches, of 60 five seconds apart
    };
    const Case cases[] = {
        {"provider, between answers", true, 20, 31},
        {"provider, at the start", true, 0, 9},
        {"provider, to the end", true, 48, 59},
        {"router, between answers", false, 20, 31},
        {"provider, one failed batch", true, 30, 30},
    };
    const Timestamp t0 = kFixedNow - 300;
    for (PVAppearance appearance : {PVAppearance::light, PVAppearance::dark}) {
        setAppearance(appearance);
        for (const Case& c : cases) {
            const std::string where = std::string(c.name) + " " + rawValue(appearance).toStdString();
            // Both legs under a millisecond on a 0–20 ms scale: the lines lie on each other.
            std::vector<ProbeBatch> batches;
            for (int i = 0; i < 60; ++i) {
                const Timestamp at = t0 + 5.0 * i;
                const bool fails = i >= c.first && i <= c.last;
                const bool routerFails = fails && !c.providerFails, providerFails = fails && c.providerFails;
                batches.push_back(batch({sample(ProbeKind::gateway, at, !routerFails, routerFails ? std::nullopt : std::optional(0.4)),
                                         sample(ProbeKind::publicIP, at, !providerFails,
                                                providerFails ? std::nullopt : std::optional(0.4))}));
            }
            LatencySection section;
            section.resize(900, 400);
            section.setBatches(batches);
            section.show();
            settle();
            PVChartView* chart = section.chart();
            const QImage image = chart->grab().toImage();
            image.save(screensDir() + QStringLiteral("/latency-gap-%1-%2.png")
                                          .arg(QString::fromUtf8(c.name).replace(QLatin1Char(' '), QLatin1Char('-'))
                                                   .remove(QLatin1Char(',')),
                                               rawValue(appearance)));
            const PVChartLayout layout = chart->currentLayout();
            const QColor leg = PVPaintContext::forWidget(chart).color(c.providerFails ? PV::color::culprit::provider
                                                                                      : PV::color::culprit::router);
            // The stretch runs from the answer before the failures to the answer after them.
            const double from = t0 + 5.0 * std::max(0, c.first - 1), to = t0 + 5.0 * std::min(59, c.last + 1);
            const int x0 = static_cast<int>(std::ceil(layout.px(from))) + 3;
            const int x1 = std::max(x0 + 1, static_cast<int>(std::floor(layout.px(to))) - 3);
            const double ratio = image.devicePixelRatio();
            int inLegColour = 0, columns = 0;
            for (int x = x0; x <= x1; ++x, ++columns)
                for (int y = static_cast<int>(layout.plot.bottom()) - 14; y <= static_cast<int>(layout.plot.bottom()) + 14; ++y) {
                    const QColor p = image.pixelColor(static_cast<int>(x * ratio), static_cast<int>(y * ratio));
                    inLegColour += std::abs(p.red() - leg.red()) + std::abs(p.green() - leg.green()) +
                                       std::abs(p.blue() - leg.blue()) < 40;
                }
            EXPECT_GE(inLegColour, 2 * columns) << where << ": " << inLegColour << " pixels over " << columns << " columns";
        }
    }
}

// A connection under a millisecond with an ended outage, as a user sees it: the panel's figures
// read "<1", the overview and the panel at both text sizes, light and dark, with PNGs for review.
TEST_F(DashboardTest, UnderAMillisecondInThePanelAndTheOverview)
{
    const auto states = screenStates();
    const auto state = std::find_if(states.begin(), states.end(),
                                    [](const ScreenState& x) { return x.name == QStringLiteral("under-a-millisecond"); });
    ASSERT_NE(state, states.end());
    feed->setStateOverride(state->make(snapshotOf(*model), kFixedNow));
    for (PVAppearance appearance : {PVAppearance::light, PVAppearance::dark}) {
        setAppearance(appearance);
        for (double scale : {1.0, 1.5}) {
            PVTheme::instance().setTextScale(scale);
            const QString tag = QStringLiteral("%1-%2").arg(rawValue(appearance)).arg(scale);
            PolvarineMenuBarView panel(*model);
            panel.show();
            settle();
            panel.resize(panel.sizeHint());
            settle();
            EXPECT_EQ(panel.metricValue(0), QStringLiteral("<1"));
            EXPECT_EQ(panel.metricValue(1), QStringLiteral("<1"));
            EXPECT_EQ(panel.metricAccessibleName(1), QStringLiteral("Szolgáltató: kevesebb mint 1 ms"));
            expectNoTextCut(&panel, ("panel " + tag).toStdString());
            panel.grab().save(screensDir() + QStringLiteral("/under-a-millisecond-panel-%1.png").arg(tag));
            PolvarineRootView root(*model);
            root.resize(1080, 900);
            root.show();
            settle();
            expectNoTextCut(&root, ("overview " + tag).toStdString());
            root.widget()->grab().save(screensDir() + QStringLiteral("/under-a-millisecond-overview-%1.png").arg(tag));
        }
        PVTheme::instance().setTextScale(1.0);
    }
}

// "Mappa megnyitása" where no program can show the folder (none installed, or one that fails),
// pressed with the mouse or from the keyboard: the banner says so in view, and the page does not
// move on to a control further down; what has the focus is in view.
TEST_F(DashboardTest, AFolderThatCannotBeOpenedIsSaidInViewWhereTheButtonWas)
{
    const QString documents = dir + "/Dokumentumok";
    ReportServiceMakers makers;
    makers.makeExportService = [documents](std::shared_ptr<SQLiteStore> store) -> std::shared_ptr<ExportService> {
        return std::make_shared<reports::ExportService>(std::move(store), reports::ExportService::Options{documents});
    };
    registerReportServiceMakers(std::move(makers));
    const struct {
        const char* name;
        QStringList opener;
        bool keyboard;
    } cases[] = {
        {"no opener, click", {dir + "/no-such-opener"}, false},
        {"failing opener, click", {"sh", "-c", "exit 3", "opener"}, false},
        {"no opener, keyboard", {dir + "/no-such-opener"}, true},
        {"failing opener, keyboard", {"sh", "-c", "exit 3", "opener"}, true},
    };
    for (const auto& c : cases) {
        ModelParts parts;
        parts.folderOpener = c.opener;
        model = makeModel(dir, StorageHealth::healthy(), parts);
        feed = &OverviewFeed::of(*model);
        feed->setClock([] { return kFixedNow; });
        auto root = showRoot(1080, 600);
        root->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(root.get()));
        root->exportMenu()->actions().front()->trigger();
        ASSERT_TRUE(pumpUntil([&] { return model->lastExportResult().has_value(); }, std::chrono::seconds(30))) << c.name;
        settle();
        QPushButton* open = root->statusBanner()->actionButton();
        ASSERT_TRUE(open->isVisible()) << c.name;
        const QString folder = model->lastExportResult()->directoryURL.toLocalFile();
        if (c.keyboard) {
            open->setFocus(Qt::TabFocusReason);
            settle();
            QTest::keyClick(open, Qt::Key_Space);
        } else {
            QTest::mouseClick(open, Qt::LeftButton);
        }
        ASSERT_TRUE(pumpUntil([&] { return model->exportStatusMessage() == AppViewModel::folderOpenFailureText(folder); },
                              std::chrono::seconds(30)))
            << c.name;
        settle();
        StorageBanner* banner = root->statusBanner();
        EXPECT_EQ(banner->message(), AppViewModel::folderOpenFailureText(folder)) << c.name;
        EXPECT_TRUE(banner->message().contains(displayPath(folder))) << c.name;
        std::string why;
        EXPECT_TRUE(banner->isVisible() && inView(banner, &why)) << c.name << ": the banner is out of view, " << why;
        QWidget* focused = QApplication::focusWidget();
        EXPECT_TRUE(focused == nullptr || focused == root.get() || inView(focused, &why))
            << c.name << ": the focus went to " << describe(focused) << ", " << why;
        EXPECT_LT(root->verticalScrollBar()->value(), root->nowSection()->y()) << c.name << ": the page moved down";
        root->grab().save(screensDir() + "/dashboard-open-folder-failed-" + QString::number(&c - cases) + ".png");
        root.reset();
        QDir(documents).removeRecursively();
    }
    registerReportServiceMakers({});
}
