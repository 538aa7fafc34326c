// The load-test view model with a fake service and a fake metered source.

#include "core/app/IcmpPermission.h"
#include "loadtest/LoadTestViewModel.h"

#include "tests/loadtest/FakeLoadTestRunner.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <atomic>

namespace pv {
namespace {

using namespace std::chrono_literals;
using test::FakeMetered;
using test::FakeRunner;

class LoadTestViewModelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        auto metered = std::make_unique<FakeMetered>();
        meteredSource = metered.get();
        model = std::make_shared<LoadTestViewModel>(runner, nullptr, std::move(metered));
        model->onWillStart = [this] { ++willStart; };
        model->onDidFinish = [this] { ++didFinish; };
        QObject::connect(model.get(), &LoadTestViewModel::progressChanged,
                         [this] { progressSteps.push_back(model->phaseProgress()); });
    }
    bool settle(const std::function<bool()>& until) { return test::pumpUntil(until, 10s); }
    void drain() { test::pumpUntil([] { return false; }, 150ms); }

    rt::NetworkRuntime net;
    std::shared_ptr<FakeRunner> runner = std::make_shared<FakeRunner>(net);
    FakeMetered* meteredSource = nullptr;
    std::shared_ptr<LoadTestViewModel> model;
    int willStart = 0, didFinish = 0;
    std::vector<double> progressSteps;
};

TEST_F(LoadTestViewModelTest, ARunStepsThroughThePhasesAndFinishesOnce)
{
    model->start();
    EXPECT_EQ(model->state(), LoadTestState::running(LoadTestPhase::baseline));
    EXPECT_EQ(willStart, 1) << "called before anything is measured";
    model->start(); // ignored while running
    ASSERT_TRUE(settle([&] { return model->state().phase == LoadTestPhase::upload; }));
    runner->released = true;
    ASSERT_TRUE(settle([&] { return model->state() == LoadTestState::finished(); }));
    drain();
    EXPECT_EQ(runner->runs, 1);
    EXPECT_EQ(progressSteps, (std::vector<double>{0.05, 0.2, 0.55, 0.66, 1.0}));
    ASSERT_TRUE(model->result());
    EXPECT_EQ(model->result()->startedAt, 1700000000);
    EXPECT_EQ(didFinish, 1);
}

TEST_F(LoadTestViewModelTest, AProbeStartFailureFailsOnceWithoutAResult)
{
    runner->failStart = true;
    model->start();
    ASSERT_TRUE(settle([&] { return model->state().kind == LoadTestState::Kind::failed; }));
    drain();
    // In words the user can act on; the socket's errno goes to the log.
    // The way out is the overview banner's own sysctl.
    EXPECT_EQ(model->state().message, QStringLiteral("A késleltetésmérés nem indult el. A rendszer nem engedi a ping "
                                                     "(ICMP) mérést ennek a felhasználónak. ")
                                          + icmpPermissionRemedy());
    EXPECT_TRUE(model->state().message.contains(QStringLiteral("sudo sysctl -w net.ipv4.ping_group_range")));
    EXPECT_EQ(model->phaseProgress(), 0.0);
    EXPECT_FALSE(model->result());
    EXPECT_EQ(didFinish, 1);
}

TEST_F(LoadTestViewModelTest, CancelWhileIdleStillReportsTheEnd)
{
    model->cancel();
    EXPECT_EQ(model->state(), LoadTestState::idle());
    EXPECT_EQ(model->phaseProgress(), 0.0);
    EXPECT_EQ(didFinish, 1);
}

TEST_F(LoadTestViewModelTest, ACancelledRunNeverPublishesItsOutcome)
{
    runner->ignoresCancel = true; // the service still hands back a result after the cancel
    model->start();
    ASSERT_TRUE(settle([&] { return model->state().phase == LoadTestPhase::download; }));
    model->cancel();
    EXPECT_EQ(model->state(), LoadTestState::idle());
    runner->released = true;
    drain();
    drain();
    EXPECT_EQ(model->state(), LoadTestState::idle());
    EXPECT_FALSE(model->result());
    EXPECT_EQ(model->phaseProgress(), 0.0);
    EXPECT_EQ(didFinish, 1);
    EXPECT_EQ(runner->cancels, 1);

    // A new test after the cancel runs and publishes normally.
    runner->startedAt = 1700000100;
    model->start();
    ASSERT_TRUE(settle([&] { return model->state() == LoadTestState::finished(); }));
    EXPECT_EQ(model->result()->startedAt, 1700000100);
    EXPECT_EQ(didFinish, 2);
}

TEST_F(LoadTestViewModelTest, PhaseReportsNeverLandAfterTheOutcome)
{
    runner->lateReport = true;
    runner->released = true;
    model->start();
    ASSERT_TRUE(settle([&] { return model->state() == LoadTestState::finished(); }));
    drain();
    EXPECT_EQ(model->state(), LoadTestState::finished());
    EXPECT_EQ(model->phaseProgress(), 1.0);
}

TEST_F(LoadTestViewModelTest, TheMeteredFlagFollowsTheSource)
{
    int changes = 0;
    QObject::connect(model.get(), &LoadTestViewModel::expensivePathChanged, [&] { ++changes; });
    EXPECT_FALSE(model->isExpensivePath());
    meteredSource->set(true);
    EXPECT_TRUE(model->isExpensivePath());
    meteredSource->set(false);
    EXPECT_FALSE(model->isExpensivePath());
    EXPECT_EQ(changes, 2);
}

} // namespace
} // namespace pv
