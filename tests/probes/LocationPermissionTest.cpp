#include "core/probes/LocationPermission.h"

#include "tests/support/TestSupport.h"

#include <QCoreApplication>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

using namespace pv;
using namespace std::chrono_literals;

namespace {

// A platform with a real gate: the status and the prompt are the test's.
class FakeLocationManager : public LocationManager {
public:
    explicit FakeLocationManager(int status) : status_(status) {}
    int authorizationStatus() const override { return status_; }
    void requestWhenInUseAuthorization() override { ++requests; }
    void change(int status)
    {
        status_ = status;
        notifyAuthorizationChanged();
    }
    std::atomic<int> status_;
    std::atomic<int> requests{0};
};

void drainEvents()
{
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
}

} // namespace

TEST(LocationPermissionTest, LinuxHasNoGate)
{
    LocationPermissionService service;
    EXPECT_EQ(service.authorizationStatus(), LocationPermissionService::authorizedAlways);
    EXPECT_FALSE(service.needsPrompt());
    EXPECT_TRUE(service.ssidAccessAvailable());
    service.requestIfNeeded();
    EXPECT_EQ(service.authorizationStatus(), LocationPermissionService::authorizedAlways);
}

TEST(LocationPermissionTest, PromptOnlyWhileNotDetermined)
{
    auto manager = std::make_unique<FakeLocationManager>(LocationPermissionService::notDetermined);
    auto* fake = manager.get();
    LocationPermissionService undecided(std::move(manager));
    EXPECT_TRUE(undecided.needsPrompt());
    EXPECT_FALSE(undecided.ssidAccessAvailable());
    undecided.requestIfNeeded();
    undecided.requestIfNeeded();
    EXPECT_EQ(fake->requests, 2) << "asks once per call";

    for (const int status : {1, 2, 3, 4}) {
        auto m = std::make_unique<FakeLocationManager>(status);
        auto* f = m.get();
        LocationPermissionService service(std::move(m));
        service.requestIfNeeded();
        EXPECT_EQ(f->requests, 0) << status;
        EXPECT_FALSE(service.needsPrompt());
        EXPECT_EQ(service.ssidAccessAvailable(), status >= 3) << status;
    }
}

TEST(LocationPermissionTest, SubscriberGetsTheCurrentValueThenEveryChangeOnItsThread)
{
    auto manager = std::make_unique<FakeLocationManager>(LocationPermissionService::notDetermined);
    auto* fake = manager.get();
    LocationPermissionService service(std::move(manager));
    QObject context;
    std::vector<int> seen;
    service.subscribe(&context, [&](int status) {
        EXPECT_EQ(QThread::currentThread(), QCoreApplication::instance()->thread());
        seen.push_back(status);
    });
    EXPECT_TRUE(seen.empty()) << "the current value comes on a later pass of the event loop";

    // The system reports a change from one of its own threads.
    std::thread([&] { fake->change(LocationPermissionService::denied); }).join();
    EXPECT_EQ(service.authorizationStatus(), LocationPermissionService::notDetermined) << "stored from the event loop";
    ASSERT_TRUE(test::pumpUntil([&] { return seen.size() == 2; }, 2s));
    EXPECT_EQ(seen, (std::vector<int>{0, 2}));
    EXPECT_EQ(service.authorizationStatus(), LocationPermissionService::denied);
    EXPECT_FALSE(service.ssidAccessAvailable());
    service.requestIfNeeded();
    EXPECT_EQ(fake->requests, 0) << "a denied status is not asked again";
}

TEST(LocationPermissionTest, ChangeAfterTheServiceIsGoneChangesNothing)
{
    auto manager = std::make_unique<FakeLocationManager>(LocationPermissionService::authorizedWhenInUse);
    auto* fake = manager.get();
    auto service = std::make_unique<LocationPermissionService>(std::move(manager));
    QObject context;
    std::vector<int> seen;
    service->subscribe(&context, [&](int status) { seen.push_back(status); });
    drainEvents();
    ASSERT_EQ(seen, (std::vector<int>{4}));

    fake->change(LocationPermissionService::restricted); // queued to the service...
    service.reset();                                     // ...which is gone before it runs
    drainEvents();
    EXPECT_EQ(seen, (std::vector<int>{4}));
}
