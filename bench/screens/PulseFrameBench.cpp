// What one frame of the live pulse costs in the window a user sees: the workspace at 1440 × 900 on
// the overview of a healthy, recording connection, both pulses (the hero's and the sidebar's)
// repainted in one pass of the window, as the frame timer does. The counters say how many widgets
// that pass paints: a frame should paint the dots and what lies under them, nothing else.
//
// Offscreen: no display is needed; the X server's share of a frame is not in the figure.

#include "tests/main/ModelFixture.h"
#include "tests/main/States.h"
#include "ui/design/LiveIndicators.h"
#include "ui/design/Theme.h"
#include "ui/main/OverviewFeed.h"
#include "ui/main/RootView.h"
#include "ui/main/WorkspaceView.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QPaintEvent>
#include <QTemporaryDir>

#include <map>
#include <string>

using namespace pv;

namespace {

// Counts the paint events of every widget while it lives.
class PaintTally : public QObject {
public:
    PaintTally() { qApp->installEventFilter(this); }
    ~PaintTally() override { qApp->removeEventFilter(this); }
    int events = 0;
    std::map<std::string, int> byClass;

protected:
    bool eventFilter(QObject* watched, QEvent* e) override
    {
        if (e->type() == QEvent::Paint) {
            ++events;
            ++byClass[watched->metaObject()->className()];
        }
        return false;
    }
};

void settle()
{
    for (int i = 0; i < 4; ++i)
        QApplication::processEvents();
}

void BM_PulseFrame(benchmark::State& state)
{
    PVTheme::instance().setAppearanceOverride(state.range(0) == 0 ? PVAppearance::light : PVAppearance::dark);
    PVTheme::instance().setReduceMotionOverride(true); // the benchmark drives the frames itself
    QTemporaryDir dir;
    auto model = test::makeModel(dir.path());
    OverviewFeed& feed = OverviewFeed::of(*model);
    feed.setClock([] { return test::kFixedNow; });
    feed.setStateOverride(test::healthyState(snapshotOf(*model), test::kFixedNow));
    auto settings = test::makeSettings(dir.path());
    settings->setValue(QLatin1String(WorkspaceView::didWelcomeKey), true);
    WorkspaceView view(*model, settings);
    view.resize(1440, 900);
    view.show();
    settle();
    // Each pulse's frame as its animation asks for it (the dot alone, or the glow pane in the
    // luminous style).
    std::vector<PVLoopAnimation*> pulses;
    for (PVLiveIndicator* indicator : view.findChildren<PVLiveIndicator*>())
        if (indicator->isVisible())
            pulses.push_back(indicator->findChild<PVLoopAnimation*>());
    if (pulses.size() != 2)
        state.SkipWithError("expected the hero's and the sidebar's pulse on screen");
    auto frame = [&] {
        for (PVLoopAnimation* pulse : pulses)
            Q_EMIT pulse->positionChanged(pulse->position());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateRequest);
        QCoreApplication::sendPostedEvents();
    };
    frame(); // the first frame of a pane takes its copy of what lies under it
    settle();
    PaintTally* tally = nullptr;
    for (auto _ : state) {
        frame();
        if (tally == nullptr)
            tally = new PaintTally();
    }
    if (tally != nullptr && state.iterations() > 1) {
        const double frames = static_cast<double>(state.iterations() - 1);
        state.counters["paints/frame"] = tally->events / frames;
        std::string painted;
        for (const auto& [name, count] : tally->byClass)
            if (count / frames >= 0.5)
                painted += name + "×" + std::to_string(static_cast<int>(count / frames + 0.5)) + " ";
        state.SetLabel(painted);
    }
    delete tally;
    PVTheme::instance().setReduceMotionOverride(false);
}
BENCHMARK(BM_PulseFrame)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

} // namespace
