// What one repaint of the overview costs: in its model work (copying the snapshot out of the model's
// values and deriving the hero texts, the culprit chain and the panel figures from a full history
// of 500 batches of four samples and 240 Wi-Fi readings), in the chart series, and in pixels: the
// whole dashboard painted offscreen with 240 points in each latency series. A repaint should stay
// under 16 ms so that it never drops a frame; so should a published change: every section's
// refresh, the layout it asks for and the repaint of the visible window, both for the same state
// published again and for a state that really moved on by a new batch.

#include "ui/main/DashboardLogic.h"
#include "ui/main/MainLogic.h"
#include "ui/main/OverviewFeed.h"
#include "ui/main/OverviewStatus.h"
#include "ui/main/RootView.h"

#include "tests/main/DashboardStates.h"
#include "tests/main/ModelFixture.h"
#include "ui/design/Theme.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <QUuid>

using namespace pv;

namespace {

constexpr Timestamp kNow = 1'765'270'800.0;

OverviewSnapshot fullHistory()
{
    OverviewSnapshot s;
    s.isMonitoring = true;
    s.attribution.location = FaultLocation::router;
    s.verdict.confidence = {240, 600};
    s.verdict.medianRtt = 14;
    s.verdict.lossRatio = 0.01;
    for (int i = 0; i < 500; ++i) {
        ProbeBatch b;
        b.id = QUuid::createUuid();
        b.timestamp = kNow - 2500 + i * 5;
        for (ProbeKind kind : allProbeKinds()) {
            NetworkSample x;
            x.id = QUuid::createUuid();
            x.timestamp = b.timestamp;
            x.target = ProbeTarget(kind, rawValue(kind), QStringLiteral("192.0.2.1"));
            x.success = i % 17 != 0;
            if (x.success)
                x.latencyMilliseconds = 3.0 + i % 9;
            b.samples.push_back(x);
        }
        s.recentBatches.push_back(b);
    }
    for (int i = 0; i < 240; ++i) {
        WifiSnapshot w;
        w.timestamp = kNow - 2400 + i * 10;
        w.rssi = -55 - i % 10;
        s.wifiSnapshots.push_back(w);
    }
    return s;
}

void BM_SnapshotCopy(benchmark::State& state)
{
    const OverviewSnapshot model = fullHistory();
    for (auto _ : state) {
        OverviewSnapshot copy = model;
        benchmark::DoNotOptimize(copy);
    }
}
BENCHMARK(BM_SnapshotCopy);

void BM_OverviewTexts(benchmark::State& state)
{
    const OverviewSnapshot s = fullHistory();
    for (auto _ : state) {
        benchmark::DoNotOptimize(overviewStatusLevel(s));
        benchmark::DoNotOptimize(liveStatusLine(s));
        benchmark::DoNotOptimize(measurementFreshnessLabel(s, kNow));
        benchmark::DoNotOptimize(culpritChainSegments(s, kNow));
        benchmark::DoNotOptimize(recentRSSIValues(s));
    }
}
BENCHMARK(BM_OverviewTexts);

void BM_PanelMetrics(benchmark::State& state)
{
    const OverviewSnapshot s = fullHistory();
    for (auto _ : state)
        benchmark::DoNotOptimize(panelMetrics(s, kNow));
}
BENCHMARK(BM_PanelMetrics);

void BM_ChartSeries(benchmark::State& state)
{
    const OverviewSnapshot s = fullHistory();
    for (auto _ : state) {
        const auto router = latencyPoints(ProbeKind::gateway, s.recentBatches);
        const auto provider = latencyPoints(ProbeKind::publicIP, s.recentBatches);
        benchmark::DoNotOptimize(latencyChartSpec(router, provider));
        for (ProbeKind kind : allProbeKinds())
            benchmark::DoNotOptimize(recentLatencyValues(kind, s.recentBatches));
        benchmark::DoNotOptimize(signalStrengthSeries(usedWifiSnapshots(s.wifiSnapshots)));
    }
}
BENCHMARK(BM_ChartSeries);

// A dashboard on a model whose published state is ten minutes of monitoring with 300 batches (so
// 240 points in each latency series) and 90 Wi-Fi readings, shown offscreen 1080 × 900.
struct ShownDashboard {
    explicit ShownDashboard(PVAppearance appearance, bool rawDataExpanded = false)
    {
        PVTheme::instance().setAppearanceOverride(appearance);
        PVTheme::instance().setReduceMotionOverride(true);
        model = test::makeModel(dir.path());
        OverviewFeed& feed = OverviewFeed::of(*model);
        feed.setClock([] { return test::kFixedNow; });
        feed.setStateOverride(test::dashboardState(snapshotOf(*model), test::kFixedNow, 300, 90));
        root = std::make_unique<PolvarineRootView>(*model);
        root->rawDataSection()->setExpanded(rawDataExpanded);
        root->resize(1080, 900);
        root->show();
        settle();
    }
    static void settle()
    {
        for (int i = 0; i < 4; ++i)
            QApplication::processEvents();
    }
    QTemporaryDir dir;
    std::unique_ptr<AppViewModel> model;
    std::unique_ptr<PolvarineRootView> root;
};

// Paints a widget into an image once per iteration.
void repaintLoop(benchmark::State& state, QWidget* widget)
{
    QImage image(widget->size(), QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        QPainter p(&image);
        widget->render(&p);
        p.end();
        benchmark::ClobberMemory();
    }
}

// The whole dashboard (every section, raw data expanded) painted into an image, 1080 wide, with
// 300 batches (so 240 points in each latency series) and 90 Wi-Fi readings. Arg: 0 light, 1 dark.
void BM_DashboardRepaint(benchmark::State& state)
{
    ShownDashboard d(state.range(0) == 0 ? PVAppearance::light : PVAppearance::dark, true);
    if (latencyPoints(ProbeKind::gateway, OverviewFeed::of(*d.model).snapshot()->recentBatches).size() != 240)
        state.SkipWithError("the latency series does not hold 240 points");
    state.counters["height"] = d.root->widget()->height();
    repaintLoop(state, d.root->widget());
}
BENCHMARK(BM_DashboardRepaint)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// What the screen actually repaints: the 1080 × 900 window over the dashboard, scrolled to the
// latency and Wi-Fi charts (the part with the most marks).
void BM_DashboardViewportRepaint(benchmark::State& state)
{
    ShownDashboard d(PVAppearance::light);
    d.root->ensureWidgetVisible(d.root->latencySection(), 0, 0);
    ShownDashboard::settle();
    repaintLoop(state, d.root.get());
}
BENCHMARK(BM_DashboardViewportRepaint)->Unit(benchmark::kMillisecond);

// One section at a time (the column's sections in order), to see where a repaint goes.
void BM_SectionRepaint(benchmark::State& state)
{
    ShownDashboard d(PVAppearance::light, true);
    PolvarineRootView& root = *d.root;
    QWidget* sections[] = {root.hero(), root.faultLocation(), root.usageSection(), root.nowSection(),
                           root.speedSection(), root.latencySection(), root.wifiSection(), root.incidentSection(),
                           root.rawDataSection()};
    QWidget* section = sections[state.range(0)];
    state.SetLabel(section->metaObject()->className());
    repaintLoop(state, section);
}
BENCHMARK(BM_SectionRepaint)->DenseRange(0, 8)->Unit(benchmark::kMillisecond);

// Everything a published change costs: the snapshot, every section's refresh and the repaint.
void BM_DashboardRefreshAndRepaint(benchmark::State& state)
{
    ShownDashboard d(PVAppearance::light);
    QImage image(d.root->widget()->size(), QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        d.root->refresh();
        QPainter p(&image);
        d.root->widget()->render(&p);
        p.end();
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_DashboardRefreshAndRepaint)->Unit(benchmark::kMillisecond);

// One published change as the window takes it: every section's refresh, the layout it asks for,
// and the repaint of the visible window into `image`.
void refreshAndRender(ShownDashboard& d, QImage& image)
{
    d.root->refresh();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    QPainter p(&image);
    d.root->render(&p);
    p.end();
    benchmark::ClobberMemory();
}

// What a published change costs on screen: every section's refresh, the layout it asks for, and the
// repaint of the visible 1080 × 900 window (not of the whole dashboard).
void BM_PublishedChangeVisibleWindow(benchmark::State& state)
{
    ShownDashboard d(PVAppearance::light);
    QImage image(d.root->size(), QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        refreshAndRender(d, image);
    }
}
BENCHMARK(BM_PublishedChangeVisibleWindow)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// The same, with the published state really changing each time: a new probe batch arrives 4.6 s
// later (the window of recent batches slides by one, the ages and figures move), then the state
// before it again. Unchanged sections cost nothing here only when they truly did not change.
// Arg: 0 the window at the top of the dashboard, 1 scrolled to the latency and Wi-Fi charts.
void BM_PublishedChangeNewBatch(benchmark::State& state)
{
    ShownDashboard d(PVAppearance::light);
    if (state.range(0) == 1) {
        d.root->ensureWidgetVisible(d.root->latencySection(), 0, 0);
        ShownDashboard::settle();
    }
    OverviewFeed& feed = OverviewFeed::of(*d.model);
    const OverviewSnapshot before = *feed.snapshot();
    // The same batches one slot on (the oldest dropped, a new one at the end); the rest as it was.
    OverviewSnapshot after = before;
    after.recentBatches = test::dashboardState(snapshotOf(*d.model), test::kFixedNow + 4.6, 301, 90).recentBatches;
    after.recentBatches.erase(after.recentBatches.begin());
    after.lastProbeBatchTimestamp = test::kFixedNow + 4.6 - 1.2;
    Timestamp now = test::kFixedNow;
    feed.setClock([&now] { return now; });
    QImage image(d.root->size(), QImage::Format_ARGB32_Premultiplied);
    bool next = true;
    for (auto _ : state) {
        state.PauseTiming();
        feed.setStateOverride(next ? after : before);
        now = next ? test::kFixedNow + 4.6 : test::kFixedNow;
        next = !next;
        state.ResumeTiming();
        refreshAndRender(d, image);
    }
}
BENCHMARK(BM_PublishedChangeNewBatch)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// Its two halves: every section's refresh with the layout it asks for, and the repaint alone of
// the visible window at the top of the dashboard.
void BM_PublishedChangeRefreshAndLayout(benchmark::State& state)
{
    ShownDashboard d(PVAppearance::light);
    for (auto _ : state) {
        d.root->refresh();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    }
}
BENCHMARK(BM_PublishedChangeRefreshAndLayout)->Unit(benchmark::kMillisecond)->MinTime(1.0);

void BM_VisibleWindowRepaint(benchmark::State& state)
{
    ShownDashboard d(PVAppearance::light);
    repaintLoop(state, d.root.get());
}
BENCHMARK(BM_VisibleWindowRepaint)->Unit(benchmark::kMillisecond)->MinTime(1.0);

} // namespace
