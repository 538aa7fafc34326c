// The load test from the dashboard, offscreen, on the application model with a fake service: the
// speed section's button opens the sheet, the test pauses and resumes monitoring, its result is
// stored and the section then shows it. Screenshots of the section after a test, light and dark.

#include "loadtest/LoadTestView.h"

#include "tests/loadtest/FakeLoadTestRunner.h"
#include "tests/main/ModelFixture.h"
#include "ui/design/Symbols.h"
#include "ui/design/Theme.h"
#include "ui/main/DashboardSections.h"
#include "ui/main/ModelActions.h"
#include "ui/main/RootView.h"

#include <QApplication>
#include <QDir>
#include <QPushButton>

#include <gtest/gtest.h>

namespace pv {
namespace {

using namespace std::chrono_literals;

void settle()
{
    for (int i = 0; i < 4; ++i)
        QApplication::processEvents();
}

QPushButton* buttonNamed(QWidget* root, const QString& text)
{
    for (QPushButton* b : root->findChildren<QPushButton*>())
        if (b->text() == text && b->isVisible())
            return b;
    return nullptr;
}

class LoadTestDashboardTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = test::makeTempDir();
        model = test::makeModel(dir);
        runner->released = true;
        screens::registerLoadTestScreenMaker([this](screens::LoadTestCallbacks callbacks) {
            auto vm = std::make_shared<LoadTestViewModel>(runner, nullptr, nullptr);
            return new LoadTestView(vm, callbacks.willStart, callbacks.didFinish, callbacks.finished);
        });
    }
    void TearDown() override
    {
        screens::registerLoadTestScreenMaker({});
        model.reset();
    }

    QString dir;
    std::unique_ptr<AppViewModel> model;
    rt::NetworkRuntime net;
    std::shared_ptr<test::FakeRunner> runner = std::make_shared<test::FakeRunner>(net);
};

TEST_F(LoadTestDashboardTest, ATestFromTheDashboardPausesMonitoringAndIsStoredAndShown)
{
    pvInstallIconTheme();
    model->startMonitoring();
    ASSERT_TRUE(model->isMonitoring());
    const std::size_t eventsBefore = model->events().size();

    PolvarineRootView root(*model);
    root.resize(1080, 800);
    root.show();
    settle();
    EXPECT_TRUE(root.speedSection()->latestLoadTestText().isEmpty());
    ASSERT_TRUE(root.speedSection()->startButton()->isEnabled());
    root.speedSection()->startButton()->click();
    settle();
    ASSERT_TRUE(root.showsLoadTest());
    auto* screen = root.findChild<LoadTestView*>();
    ASSERT_NE(screen, nullptr);
    QPushButton* start = buttonNamed(screen, QStringLiteral("Teszt indítása"));
    ASSERT_NE(start, nullptr);
    start->click();
    EXPECT_FALSE(model->isMonitoring()) << "paused before the test";
    ASSERT_TRUE(test::pumpUntil([&] { return model->latestLoadTest().has_value(); }, 10s));
    settle();
    EXPECT_EQ(screen->bodyName(), QStringLiteral("result"));
    EXPECT_TRUE(model->isMonitoring()) << "resumed after the test";
    EXPECT_EQ(model->latestLoadTest()->startedAt, 1700000000);
    EXPECT_TRUE(root.speedSection()->latestLoadTestText().contains(QStringLiteral("Kiváló")))
        << root.speedSection()->latestLoadTestText().toStdString();

    // Paused, then resumed, then the marker of the stored result, in this order.
    std::vector<DiagnosticEventKind> kinds;
    for (std::size_t i = eventsBefore; i < model->events().size(); ++i) {
        const DiagnosticEventKind k = model->events()[i].kind;
        if (k == DiagnosticEventKind::monitoringStopped || k == DiagnosticEventKind::monitoringStarted ||
            k == DiagnosticEventKind::markerAdded)
            kinds.push_back(k);
    }
    const std::vector<DiagnosticEventKind> want{DiagnosticEventKind::monitoringStopped,
                                                DiagnosticEventKind::monitoringStopped,
                                                DiagnosticEventKind::monitoringStarted,
                                                DiagnosticEventKind::monitoringStarted,
                                                DiagnosticEventKind::markerAdded};
    EXPECT_EQ(kinds, want);

    // The section after the test, for review.
    const QString out = QStringLiteral(PV_SCREENS_DIR);
    QDir().mkpath(out);
    PVTheme::instance().setReduceMotionOverride(true);
    for (PVAppearance appearance : {PVAppearance::light, PVAppearance::dark}) {
        PVTheme::instance().setAppearanceOverride(appearance);
        settle();
        settle();
        EXPECT_TRUE(root.speedSection()->grab().save(
            out + QStringLiteral("/loadtest-dashboard-speed-%1.png").arg(rawValue(appearance))));
    }
    PVTheme::instance().setAppearanceOverride(PVAppearance::light);
    PVTheme::instance().setReduceMotionOverride(false);
}

} // namespace
} // namespace pv
