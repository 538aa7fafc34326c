// The path monitor inside the lab's client namespace: real rtnetlink notifications.

#include "core/probes/PathMonitor.h"

#include "tests/lab/LabEnv.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>

using pv::lab::LabEnv;
using namespace pv;
using namespace std::chrono_literals;

namespace {

class Recorder {
public:
    PathMonitorService::Handler handler()
    {
        return [this](const PathSnapshot& s) {
            std::lock_guard lock(mutex_);
            seen_.push_back(s);
            changed_.notify_all();
        };
    }
    bool waitForCount(std::size_t n, std::chrono::milliseconds timeout)
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return seen_.size() >= n; });
    }
    std::vector<PathSnapshot> seen() const
    {
        std::lock_guard lock(mutex_);
        return seen_;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<PathSnapshot> seen_;
};

// Long enough for a late burst (link-local address, carrier) to have been gathered and dropped.
constexpr auto kQuiet = 1500ms;

} // namespace

TEST(PathMonitorLab, InitialSnapshotThenOneUpdatePerLinkChangeAndNothingWhileQuiet)
{
    auto lab = LabEnv::current();
    if (!lab)
        GTEST_SKIP() << "not inside the network lab";
    const QString restore = QStringLiteral("ip link set %1 up; ip route replace default via %2").arg(lab->clientIf, lab->gateway);
    struct Restore {
        const LabEnv& lab;
        QString command;
        ~Restore() { lab.run(lab.clientNs, command); }
    } restoreLink{*lab, restore};

    const PathSnapshot online{"satisfied", false, false, {lab->clientIf}};
    const PathSnapshot offline{"unsatisfied", false, false, {}};

    Recorder rec;
    PathMonitorService monitor;
    monitor.start(rec.handler());
    ASSERT_TRUE(rec.waitForCount(1, 5s)) << "no initial snapshot";
    EXPECT_EQ(rec.seen().at(0), online);

    std::this_thread::sleep_for(kQuiet);
    EXPECT_EQ(rec.seen().size(), 1u) << "an update while nothing changed";

    ASSERT_EQ(lab->run(lab->clientNs, QStringLiteral("ip link set %1 down").arg(lab->clientIf)), 0);
    ASSERT_TRUE(rec.waitForCount(2, 5s)) << "no update for the link going down";
    std::this_thread::sleep_for(kQuiet);
    auto seen = rec.seen();
    ASSERT_EQ(seen.size(), 2u) << "the link going down gave more than one update";
    EXPECT_EQ(seen.at(1), offline);

    ASSERT_EQ(lab->run(lab->clientNs, restore), 0);
    ASSERT_TRUE(rec.waitForCount(3, 5s)) << "no update for the link coming back";
    std::this_thread::sleep_for(kQuiet + 500ms);
    seen = rec.seen();
    ASSERT_EQ(seen.size(), 3u) << "the link coming back gave more than one update";
    EXPECT_EQ(seen.at(2), online);

    // After a cancel nothing more arrives, even when the path changes.
    monitor.cancel();
    ASSERT_EQ(lab->run(lab->clientNs, QStringLiteral("ip route del default")), 0);
    std::this_thread::sleep_for(600ms);
    EXPECT_EQ(rec.seen().size(), 3u);

    // A new start subscribes afresh and reports the path as it is now.
    Recorder again;
    monitor.start(again.handler());
    ASSERT_TRUE(again.waitForCount(1, 5s));
    EXPECT_EQ(again.seen().at(0), (PathSnapshot{"unsatisfied", false, false, {lab->clientIf}}));
    ASSERT_EQ(lab->run(lab->clientNs, restore), 0);
    ASSERT_TRUE(again.waitForCount(2, 5s));
    EXPECT_EQ(again.seen().at(1), online);
}
