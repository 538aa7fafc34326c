// The overview and the panel as the model itself publishes them after recorded batch sequences
// (not hand-made states): two minutes into a cut of the whole link, and two minutes after ICMP was
// allowed again. PNGs under screens/ for review, light and dark, and at 150 % text.

#include "ui/main/DashboardLogic.h"
#include "ui/main/DashboardSections.h"
#include "ui/main/MenuBarView.h"
#include "ui/main/OverviewFeed.h"
#include "ui/main/OverviewStatus.h"
#include "ui/main/WorkspaceView.h"

#include "core/probes/ICMPProbe.h"
#include "tests/main/ModelFixture.h"
#include "tests/main/WidgetHelpers.h"
#include "ui/design/Symbols.h"
#include "ui/design/Theme.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

using namespace pv;
using namespace pv::test;

namespace {

struct ClockedTopology : TopologySource {
    const Timestamp* clock = nullptr;
    bool route = true;
    rt::awaitable<TopologySnapshot> snapshot() override
    {
        co_return TopologySnapshot(*clock, QStringLiteral("enp3s0"),
                                   route ? std::optional<QString>(QStringLiteral("192.168.1.1")) : std::nullopt,
                                   std::nullopt, QStringLiteral("192.168.1.20"), std::nullopt);
    }
};

struct ScriptedBatches : ProbeRunner {
    std::function<ProbeBatch(const RouteSnapshot&)> make;
    QStringList calls;
    rt::awaitable<void> start(std::optional<QString>) override { co_return; }
    rt::awaitable<void> stop() override { co_return; }
    rt::awaitable<void> rebind(std::optional<QString> name) override
    {
        calls << QStringLiteral("rebind:") + name.value_or(QString());
        co_return;
    }
    rt::awaitable<ProbeBatch> collectBatch(RouteSnapshot route) override { co_return make(route); }
};

struct CountingPosts : DesktopNotifier {
    int posts = 0;
    void requestAuthorization() override {}
    void post(const QString&, const QString&, const QString&) override { ++posts; }
};

enum class Leg { answered, lost, refused };

// What the batches meet: the echoes' fate, the check page and the lookups, a delay beyond the router.
struct Line {
    Leg echoes = Leg::answered;
    bool web = true;
    bool names = true;
    double beyondRouter = 0;
    bool route = true; // a default route to measure along
};

// Router, two public hosts, the check page, and every fourth batch a lookup.
ProbeBatch batchAt(const RouteSnapshot& route, const Line& line)
{
    static int n = 0;
    ProbeBatch b{QUuid::createUuid(), route.timestamp, route, {}};
    const auto add = [&](ProbeKind kind, const char* label, const QString& host, double ms, bool ok) {
        NetworkSample s;
        s.id = QUuid::createUuid();
        s.batchID = b.id;
        s.timestamp = route.timestamp;
        s.target = ProbeTarget(kind, QString::fromLatin1(label), host);
        s.route = route;
        s.success = ok;
        s.packetLoss = ok ? 0.0 : 1.0;
        s.timeoutCount = ok ? 0 : 3;
        if (ok)
            s.latencyMilliseconds = ms + (n % 5) * 0.4;
        b.samples.push_back(s);
        return &b.samples.back();
    };
    for (const auto& [kind, label, host, ms] :
         {std::tuple{ProbeKind::gateway, "Router", route.gatewayAddress, 3.0},
          std::tuple{ProbeKind::publicIP, "Cloudflare", QStringLiteral("1.1.1.1"), 14.0 + line.beyondRouter},
          std::tuple{ProbeKind::publicIP, "Google DNS", QStringLiteral("8.8.8.8"), 16.0 + line.beyondRouter}}) {
        NetworkSample* s = add(kind, label, host, ms, line.echoes == Leg::answered);
        if (line.echoes == Leg::refused) {
            s->errorDescription = ICMPProbe::socketNotOpenText();
            s->timeoutCount = 0;
        }
    }
    add(ProbeKind::http, "HTTP", QStringLiteral("http://captive.example.com/"), 120, line.web);
    if (n++ % 4 == 0)
        add(ProbeKind::dns, "DNS resolve", QStringLiteral("pvabcdefghijkl.probe.example.com"), 18, line.names);
    return b;
}

class ModelScreenshotTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = makeTempDir();
        topology->clock = &clock;
        model = makeModel(dir, StorageHealth::healthy(),
                          {topology, probe, notifier, [this] { return clock; }, [this] { return refused; }});
        model->preferences().setNotifyOnOutage(true);
        OverviewFeed::of(*model).setClock([this] { return clock; });
    }

    // One probe cycle every 5 s over [from, to].
    void cycles(Timestamp from, Timestamp to, Leg echoes, bool web)
    {
        cycles(from, to, Line{echoes, web, web});
    }
    void cycles(Timestamp from, Timestamp to, const Line& line)
    {
        topology->route = line.route;
        probe->make = [line](const RouteSnapshot& r) { return batchAt(r, line); };
        for (clock = from; clock <= to; clock += 5) {
            auto done = std::make_shared<bool>(false);
            asio::co_spawn(rt::QtExecutor(), model->runProbeCycle(), [done](std::exception_ptr) { *done = true; });
            ASSERT_TRUE(pumpUntil([&] { return *done; }));
        }
        clock = to;
        pumpUntil([&] { return !model->isQualityRefreshRunning(); });
        settle();
        // The cycles were driven here, not by the model's own loop: what it published, recording.
        OverviewSnapshot published = snapshotOf(*model);
        published.isMonitoring = true;
        OverviewFeed::of(*model).setStateOverride(published);
    }

    // The overview window and the panel, light and dark, and the overview at 150 % text (or in
    // light at 100 % alone).
    void render(const QString& name, bool everyLook = true)
    {
        pvInstallIconTheme();
        PVTheme::instance().setReduceMotionOverride(true);
        PVTheme::instance().setAccentOverride(QColor(0x35, 0x84, 0xE4));
        for (PVAppearance appearance : {PVAppearance::light, PVAppearance::dark}) {
            PVTheme::instance().setAppearanceOverride(appearance);
            for (double scale : {1.0, 1.5}) {
                if ((scale > 1 && appearance == PVAppearance::dark) || (!everyLook && (scale > 1 || appearance == PVAppearance::dark)))
                    continue;
                PVTheme::instance().setTextScale(scale);
                settle();
                const QString tag = name + QLatin1Char('-') + rawValue(appearance) +
                                    (scale > 1 ? QStringLiteral("-150") : QString());
                auto settings = makeSettings(dir);
                settings->setValue(QLatin1String(WorkspaceView::didWelcomeKey), true);
                WorkspaceView view(*model, settings);
                view.resize(1440, 900);
                view.show();
                settle();
                expectNoTextCut(&view, tag.toStdString());
                EXPECT_TRUE(view.grab().toImage().save(screensDir() + QStringLiteral("/model-%1.png").arg(tag)));
                // The "Most" tiles lie below the fold: their figures say their stretch as well.
                auto* tiles = view.findChild<NowSection*>();
                ASSERT_NE(tiles, nullptr);
                EXPECT_TRUE(tiles->grab().toImage().save(screensDir() + QStringLiteral("/model-most-%1.png").arg(tag)));
                auto* route = view.findChild<LatencySection*>();
                ASSERT_NE(route, nullptr);
                EXPECT_TRUE(route->grab().toImage().save(screensDir() + QStringLiteral("/model-route-%1.png").arg(tag)));
                PolvarineMenuBarView panel(*model);
                panel.show();
                settle();
                panel.resize(panel.sizeHint());
                settle();
                expectNoTextCut(&panel, (tag + QStringLiteral(" panel")).toStdString());
                EXPECT_TRUE(panel.grab().toImage().save(screensDir() + QStringLiteral("/model-panel-%1.png").arg(tag)));
            }
        }
        PVTheme::instance().setTextScale(1.0);
        PVTheme::instance().setAppearanceOverride(PVAppearance::light);
        PVTheme::instance().setReduceMotionOverride(false);
        settle();
    }

    QString dir;
    Timestamp clock = kFixedNow - 900;
    bool refused = false;
    std::shared_ptr<ClockedTopology> topology = std::make_shared<ClockedTopology>();
    std::shared_ptr<ScriptedBatches> probe = std::make_shared<ScriptedBatches>();
    std::shared_ptr<CountingPosts> notifier = std::make_shared<CountingPosts>();
    std::unique_ptr<AppViewModel> model;
};

} // namespace

TEST_F(ModelScreenshotTest, TwoMinutesIntoACutOfTheWholeLink)
{
    cycles(kFixedNow - 720, kFixedNow - 125, Leg::answered, true);
    cycles(kFixedNow - 120, kFixedNow, Leg::lost, false);
    const OverviewSnapshot s = *OverviewFeed::of(*model).snapshot();
    EXPECT_EQ(liveStatusLine(s), QStringLiteral("Nincs internetkapcsolat"));
    EXPECT_EQ(s.attribution.location, FaultLocation::offline);
    EXPECT_EQ(s.attributionWindowSeconds, AppViewModel::outageWindowSeconds);
    ASSERT_EQ(s.incidents.size(), 1u);
    EXPECT_EQ(s.incidents[0].classification, IncidentClassification::offline);
    EXPECT_EQ(s.incidents[0].startTimestamp, kFixedNow - 120);
    EXPECT_EQ(notifier->posts, 1);
    // The chain's captions and the tiles say which stretch they cover; no leg reads 0 ms.
    for (const PVSegment& segment : culpritChainSegments(s, kFixedNow))
        EXPECT_FALSE(segment.caption.value_or(QString()).startsWith(QStringLiteral("0 ms")))
            << segment.caption.value_or(QString()).toStdString();
    EXPECT_TRUE(culpritChainSegments(s, kFixedNow)[1].caption.value_or(QString()).endsWith(QStringLiteral("a hiba kezdete óta)")));
    for (const QString& step : [&] {
             QStringList texts;
             for (const AdviceStep& a : s.advice.steps)
                 texts << a.text;
             return texts;
         }())
        EXPECT_FALSE(step.contains(QStringLiteral("Wi-Fi"))) << step.toStdString();
    render(QStringLiteral("cut-2min"));
}

TEST_F(ModelScreenshotTest, TwoMinutesAfterIcmpIsAllowedAgain)
{
    refused = true;
    cycles(kFixedNow - 420, kFixedNow - 130, Leg::refused, true);
    ASSERT_TRUE(model->exportStatusMessage());
    refused = false;
    cycles(kFixedNow - 125, kFixedNow - 125, Leg::refused, true); // the socket is still the refused one
    EXPECT_EQ(probe->calls, QStringList{QStringLiteral("rebind:enp3s0")});
    cycles(kFixedNow - 120, kFixedNow, Leg::answered, true);
    const OverviewSnapshot s = *OverviewFeed::of(*model).snapshot();
    EXPECT_FALSE(s.statusMessage) << s.statusMessage->toStdString();
    EXPECT_TRUE(s.incidents.empty());
    const auto chain = culpritChainSegments(s, kFixedNow);
    for (int leg : {1, 2}) {
        const QString caption = chain[leg].caption.value_or(QString());
        EXPECT_EQ(chain[leg].state.kind, PVSegmentState::Kind::clear) << caption.toStdString();
        EXPECT_TRUE(caption.contains(QStringLiteral("egyenletes"))) << caption.toStdString();
    }
    EXPECT_EQ(s.qualityAssessment.gateway.failureCount, 0);
    render(QStringLiteral("icmp-allowed"));
}

// A fault's life as the overview and the panel show it, the model fed batch by batch (PNGs 5 to
// 90 s into it and 15 to 90 s after it cleared). From 90 s after the clearing the cards judge the present:
// no leg is suspect for what has ended, and none shows a figure of the fault.
TEST_F(ModelScreenshotTest, AFaultsLifeOnTheCardsAndThePanel)
{
    const struct {
        const char* name;
        Line fault;
        std::vector<int> moments; // seconds into the fault, then (negative) after its end at 120 s
    } cases[] = {
        {"cut", {Leg::lost, false, false}, {5, 15, 30, 60, 90, -15, -30, -60, -90}},
        {"dns", {Leg::answered, false, false}, {5, 15, 30, 60, 90, -15, -30, -60, -90}},
        {"noroute", {.route = false}, {30}},
        {"congestion", {.beyondRouter = 290}, {-92, -1140}},
    };
    for (const auto& c : cases) {
        SetUp();
        const Timestamp start = kFixedNow - 1800;
        Timestamp at = start - 5;
        cycles(start - 720, at, Line{});
        for (int moment : c.moments) {
            const bool after = moment < 0;
            const Timestamp next = start + (after ? 120 - moment : moment);
            if (after && at < start + 120) {
                cycles(at + 5, start + 120, c.fault);
                at = start + 120;
            }
            cycles(at + 5, next, after ? Line{} : c.fault);
            at = next;
            // The present's figures, steady: no older loss, no mean across the congestion's level.
            const QRegularExpression present(QStringLiteral("^\\d{1,2} ms, egyenletes, "));
            const auto chain = culpritChainSegments(*OverviewFeed::of(*model).snapshot(), at);
            for (const PVSegment& leg : {chain[1], chain[2]}) {
                const QString caption = leg.caption.value_or(QString());
                EXPECT_TRUE(moment > -90 || (leg.state.kind == PVSegmentState::Kind::clear && caption.contains(present)))
                    << c.name << moment << " " << caption.toStdString();
            }
            render(QStringLiteral("%1-%2-%3s").arg(QLatin1String(c.name), after ? QStringLiteral("after") : QStringLiteral("into"))
                       .arg(std::abs(moment)),
                   moment == 30 || moment == -60 || moment == -1140);
        }
    }
}
