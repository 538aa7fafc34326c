#include "core/records/Runtime.h"

#include "tests/support/TestSupport.h"

#include <QCoreApplication>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <memory>
#include <thread>
#include <vector>

using namespace pv;
using namespace std::chrono_literals;

namespace {
bool onGuiThread() { return QThread::currentThread() == QCoreApplication::instance()->thread(); }

// An actor whose one operation has a synchronous section that must never interleave with another.
class CounterActor : public rt::Actor {
public:
    using rt::Actor::Actor;
    rt::awaitable<int> bump(asio::any_io_executor io)
    {
        return onStrand([this, io]() -> rt::awaitable<int> {
            // synchronous section: read, spin a little, write
            const int before = value_;
            if (inside_.exchange(true))
                overlapped_ = true;
            for (int i = 0; i < 20000; ++i) {
                asm volatile("" ::: "memory");
            }
            value_ = before + 1;
            inside_ = false;
            co_await rt::sleepFor(io, 1ms); // a suspension point between sections is allowed
            co_return value_;
        });
    }
    int value_ = 0;
    std::atomic<bool> inside_{false};
    std::atomic<bool> overlapped_{false};
};

class BlockingCounter : public rt::BlockingActor {
public:
    ~BlockingCounter() override { shutdownThread(); }
    rt::awaitable<int> add(int n)
    {
        return call([this, n] {
            if (inside_.exchange(true))
                overlapped_ = true;
            std::this_thread::sleep_for(200us);
            total_ += n;
            inside_ = false;
            return total_;
        });
    }
    rt::awaitable<int> slow()
    {
        return call([] {
            std::this_thread::sleep_for(100ms);
            return 1;
        });
    }
    rt::awaitable<int> fail()
    {
        return call([]() -> int { throw std::runtime_error("disk full"); });
    }
    int total_ = 0;
    std::atomic<bool> inside_{false};
    std::atomic<bool> overlapped_{false};
};
} // namespace

TEST(RuntimeTest, GuiCoroutineResumesOnTheGuiThreadAfterANetworkTimer)
{
    rt::NetworkRuntime net;
    std::vector<bool> threads;
    bool done = false;
    asio::co_spawn(rt::QtExecutor(), [&]() -> rt::awaitable<void> {
        threads.push_back(onGuiThread());
        for (int i = 0; i < 3; ++i) {
            asio::steady_timer t(net.executor(), 5ms);
            co_await t.async_wait(rt::use_awaitable);
            threads.push_back(onGuiThread());
        }
        done = true;
    }, asio::detached);
    ASSERT_TRUE(test::pumpUntil([&] { return done; }));
    ASSERT_EQ(threads.size(), 4u);
    for (bool b : threads)
        EXPECT_TRUE(b);
}

// Steps queued from other threads run on the GUI thread, each thread's in the order it queued them,
// with what the queuing thread wrote before (plain, unsynchronised data) in place.
TEST(RuntimeTest, StepsQueuedFromOtherThreadsRunOnTheGuiThreadInOrder)
{
    constexpr int kThreads = 3;
    constexpr int kSteps = 50;
    std::vector<std::vector<int>> seen(kThreads);
    int ran = 0;
    bool allOnGui = true;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kSteps; ++i) {
                auto payload = std::make_unique<int>(i);
                asio::post(rt::QtExecutor(), [&, t, payload = std::move(payload)] {
                    allOnGui = allOnGui && onGuiThread();
                    seen[t].push_back(*payload);
                    ++ran;
                });
            }
        });
    }
    for (auto& th : threads)
        th.join();
    ASSERT_TRUE(test::pumpUntil([&] { return ran == kThreads * kSteps; }));
    EXPECT_TRUE(allOnGui);
    std::vector<int> expected(kSteps);
    for (int i = 0; i < kSteps; ++i)
        expected[i] = i;
    for (const auto& order : seen)
        EXPECT_EQ(order, expected);
}

TEST(RuntimeTest, ActorOperationsNeverInterleave)
{
    rt::NetworkRuntime net;
    // a second thread on the same context makes real concurrency possible
    std::thread extra([&] { net.context().run_for(2s); });
    CounterActor actor(net.executor());
    int finished = 0;
    constexpr int kCalls = 200;
    for (int i = 0; i < kCalls; ++i)
        asio::co_spawn(rt::QtExecutor(), [&]() -> rt::awaitable<void> {
            co_await actor.bump(net.executor());
            ++finished;
        }, asio::detached);
    ASSERT_TRUE(test::pumpUntil([&] { return finished == kCalls; }));
    EXPECT_EQ(actor.value_, kCalls);
    EXPECT_FALSE(actor.overlapped_);
    net.stop();
    extra.join();
}

TEST(RuntimeTest, BlockingActorSerialisesAndPassesErrorsBack)
{
    BlockingCounter counter;
    int finished = 0;
    std::string error;
    for (int i = 0; i < 50; ++i)
        asio::co_spawn(rt::QtExecutor(), [&]() -> rt::awaitable<void> {
            co_await counter.add(1);
            EXPECT_TRUE(onGuiThread());
            ++finished;
        }, asio::detached);
    asio::co_spawn(rt::QtExecutor(), [&]() -> rt::awaitable<void> {
        try {
            co_await counter.fail();
        } catch (const std::exception& e) {
            error = e.what();
        }
    }, asio::detached);
    ASSERT_TRUE(test::pumpUntil([&] { return finished == 50 && !error.empty(); }));
    EXPECT_EQ(counter.total_, 50);
    EXPECT_FALSE(counter.overlapped_);
    EXPECT_EQ(error, "disk full");
}

TEST(RuntimeTest, CancelledTaskStopsAtItsNextAwaitAndItsReplacementRuns)
{
    rt::NetworkRuntime net;
    rt::TaskSlot slot;
    int firstPasses = 0, secondPasses = 0;
    bool firstEnded = false;
    slot.replace(rt::QtExecutor(), [&]() -> rt::awaitable<void> {
        for (;;) {
            ++firstPasses;
            if (!co_await rt::sleepFor(net.executor(), 10s))
                break;
        }
        firstEnded = true;
    });
    ASSERT_TRUE(test::pumpUntil([&] { return firstPasses == 1; }));
    const auto start = std::chrono::steady_clock::now();
    slot.replace(rt::QtExecutor(), [&]() -> rt::awaitable<void> {
        while (secondPasses < 3) {
            ++secondPasses;
            co_await rt::sleepFor(net.executor(), 5ms);
        }
    });
    ASSERT_TRUE(test::pumpUntil([&] { return firstEnded && secondPasses == 3; }, 5s));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s) << "the ten-second sleep was not cut short";
    EXPECT_EQ(firstPasses, 1);
    ASSERT_TRUE(test::pumpUntil([&] { return !slot.running(); }));
}

TEST(RuntimeTest, CancellationDoesNotCutAnActorCallShort)
{
    rt::NetworkRuntime net;
    BlockingCounter counter;
    rt::TaskSlot slot;
    bool callReturned = false, sawCancel = false, ended = false;
    slot.replace(rt::QtExecutor(), [&]() -> rt::awaitable<void> {
        co_await rt::sleepFor(net.executor(), 1ms);
        const int v = co_await counter.slow();
        callReturned = v == 1;
        sawCancel = co_await rt::isCancelled();
        ended = true;
    });
    // cancel while the actor call is (probably) in flight
    QCoreApplication::processEvents();
    slot.cancel();
    ASSERT_TRUE(test::pumpUntil([&] { return ended; }));
    EXPECT_TRUE(callReturned);
    EXPECT_TRUE(sawCancel);
}

TEST(RuntimeTest, WorkOfAGoneOwnerIsNeverResumed)
{
    rt::NetworkRuntime net;
    auto owner = std::make_shared<int>(0);
    int resumed = 0;
    bool started = false;
    asio::co_spawn(rt::QtExecutor(owner), [&]() -> rt::awaitable<void> {
        started = true;
        asio::steady_timer t(net.executor(), 50ms);
        co_await t.async_wait(rt::use_awaitable);
        ++resumed;
    }, asio::detached);
    ASSERT_TRUE(test::pumpUntil([&] { return started; }));
    owner.reset();
    test::pumpUntil([] { return false; }, 200ms);
    EXPECT_EQ(resumed, 0);
}

// The last owner of the runtime lets go inside one of its handlers: the handler finishes, the loop
// ends, and the io_context goes (with the work still queued in it) only after run() has returned.
TEST(RuntimeTest, DroppedOnItsOwnThreadTheLoopEndsBeforeItsContextGoes)
{
    auto net = std::make_shared<rt::NetworkRuntime>();
    std::promise<bool> queuedWorkDropped;
    auto sentinel = std::shared_ptr<int>(new int(0), [&](int* p) {
        delete p;
        queuedWorkDropped.set_value(true);
    });
    auto timer = std::make_shared<asio::steady_timer>(net->context(), 1h);
    timer->async_wait([timer, sentinel](std::error_code) {});
    sentinel.reset();
    timer.reset();
    std::promise<bool> handlerFinished;
    std::promise<void> postReturned;
    auto postReturnedFuture = postReturned.get_future();
    asio::io_context& context = net->context();
    asio::post(context, [&, owner = std::move(net)]() mutable {
        // post() may still be waking the loop (it signals after unlocking the queue): the context
        // must not go while this thread's call is inside it.
        postReturnedFuture.wait();
        owner.reset(); // the runtime is destroyed here, on its own thread
        handlerFinished.set_value(context.stopped());
    });
    postReturned.set_value();
    auto finished = handlerFinished.get_future();
    auto dropped = queuedWorkDropped.get_future();
    ASSERT_EQ(finished.wait_for(10s), std::future_status::ready);
    EXPECT_TRUE(finished.get());
    ASSERT_EQ(dropped.wait_for(10s), std::future_status::ready);
}
