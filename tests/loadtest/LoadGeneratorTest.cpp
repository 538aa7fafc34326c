// The load generator against the loopback speed-test server (tests/lab/servers/speedtest_server.py),
// with shortened phases. Nothing here leaves 127.0.0.1.

#include "loadtest/LoadGenerator.h"
#include "tests/loadtest/FailingEndpoint.h"
#include "tests/probes/DnsHttpTestSupport.h"

#include <gtest/gtest.h>

#include <QRegularExpression>

#include <arpa/inet.h>
#include <dlfcn.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <thread>

// Every TCP connection attempt to the watched loopback port is counted here: this program's own
// connect() stands in front of the C library's (the test executable exports it), so the attempts of
// curl inside the generator are seen whether the port answers or refuses.
namespace {
std::atomic<int> watchedPort{0};
std::atomic<int> connectAttempts{0};
} // namespace

extern "C" int connect(int fd, const struct sockaddr* address, socklen_t length)
{
    using Connect = int (*)(int, const struct sockaddr*, socklen_t);
    static const auto real = reinterpret_cast<Connect>(dlsym(RTLD_NEXT, "connect"));
    if (address != nullptr && address->sa_family == AF_INET && length >= sizeof(sockaddr_in) &&
        ntohs(reinterpret_cast<const sockaddr_in*>(address)->sin_port) == watchedPort.load())
        ++connectAttempts;
    return real(fd, address, length);
}

namespace pv {
namespace {

using namespace std::chrono_literals;

LoadSource::Configuration loopback(int port, int streams, std::int64_t maxBytes, std::chrono::nanoseconds duration,
                                   std::int64_t bytesPerRequest = 1 << 20)
{
    auto c = LoadSource::Configuration::forBaseURL(QStringLiteral("http://127.0.0.1:%1/").arg(port));
    c.downloadURL = QStringLiteral("http://127.0.0.1:%1/__down?bytes=%2").arg(port).arg(bytesPerRequest);
    c.streams = streams;
    c.maxBytes = maxBytes;
    c.maxDuration = duration;
    return c;
}

// The server's running totals ("down N up N requests N"), read until `ready` holds (bounded).
std::int64_t serverTotal(const test::LoopbackServer& server, const QString& kind, std::int64_t expected)
{
    std::int64_t value = -1;
    for (int i = 0; i < 100 && value != expected; ++i) {
        const auto m = QRegularExpression(kind + QStringLiteral(" (\\d+)")).match(server.log());
        value = m.hasMatch() ? m.captured(1).toLongLong() : -1;
        if (value != expected)
            std::this_thread::sleep_for(20ms);
    }
    return value;
}

class LoadGeneratorTest : public ::testing::Test {
protected:
    test::LoopbackServer server{QStringLiteral("speedtest_server.py"), {}};
    LoadGenerator generator;
};

TEST(LoadGeneratorConfigTest, TheEnvironmentNamesTheEndpoint)
{
    // Read once per process; nothing in this program has read it before.
    qputenv("POLVARINE_SPEEDTEST_URL", "http://127.0.0.1:9/");
    const auto& c = LoadSource::Configuration::defaultConfiguration();
    EXPECT_EQ(c.downloadURL, QStringLiteral("http://127.0.0.1:9/__down?bytes=26214400"));
    EXPECT_EQ(c.uploadURL, QStringLiteral("http://127.0.0.1:9/__up"));
    EXPECT_EQ(c.streams, 4);
    EXPECT_EQ(c.maxBytes, 1'073'741'824);
    EXPECT_EQ(c.maxDuration, std::chrono::seconds(12));
}

TEST_F(LoadGeneratorTest, BaseURLGivesBothEndpointPaths)
{
    const auto c = LoadSource::Configuration::forBaseURL(QStringLiteral("http://127.0.0.1:8080//"));
    EXPECT_EQ(c.downloadURL, QStringLiteral("http://127.0.0.1:8080/__down?bytes=26214400"));
    EXPECT_EQ(c.uploadURL, QStringLiteral("http://127.0.0.1:8080/__up"));
}

// The most requests one stream can start in `duration` when each fails at once: the first, then one
// after each wait of the back-off (100 ms, doubling, at most 2 s).
int mostAttemptsPerStream(std::chrono::milliseconds duration)
{
    int attempts = 1;
    auto at = 0ms;
    for (auto wait = 100ms; (at += wait) < duration; wait = std::min(2 * wait, std::chrono::milliseconds(2000)))
        ++attempts;
    return attempts;
}

TEST(LoadGeneratorFailureTest, AFailingEndpointCountsNothingNamesTheCauseAndIsRetriedWithBackOff)
{
    constexpr int streams = 2;
    constexpr auto duration = 3000ms;
    const int most = streams * mostAttemptsPerStream(duration);
    const struct {
        const char* name;
        QStringList serverArgs; // empty: a refusing port
        LoadDirection direction;
        std::optional<FailureCause> cause; // none: the server answered, with no load
        int answered; // -1: some
        int leastAttempts, mostAttempts;
    } cases[] = {
        {"refused", {}, LoadDirection::download, FailureCause::connectionRefused, 0, 2 * streams, most},
        {"refused upload", {}, LoadDirection::upload, FailureCause::connectionRefused, 0, 2 * streams, most},
        {"error status", {"--mode", "error"}, LoadDirection::download, FailureCause::serverError, 0, 2 * streams, most},
        {"error status upload", {"--mode", "error"}, LoadDirection::upload, FailureCause::serverError, 0, 2 * streams,
         most},
        // Connected and asked, never answered: one request per stream, waiting to the end.
        {"no answer", {"--mode", "silent"}, LoadDirection::download, FailureCause::timedOut, 0, streams, streams},
        // Answered, then a byte at a time: the requests stay open, nothing worth counting moves.
        {"byte by byte", {"--mode", "trickle"}, LoadDirection::download, FailureCause::timedOut, -1, streams, streams},
        // A 1 KiB page for every request, the upload's body unread: failed requests, with back-off.
        {"short page", {"--mode", "short"}, LoadDirection::download, std::nullopt, 0, 2 * streams, most},
        {"short page upload", {"--mode", "short"}, LoadDirection::upload, std::nullopt, 0, 2 * streams, most},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const test::FailingEndpoint endpoint(c.serverArgs);
        const int port = endpoint.port();
        ASSERT_GT(port, 0);
        watchedPort = port;
        connectAttempts = 0;
        LoadGenerator generator;
        const auto started = std::chrono::steady_clock::now();
        const auto r = generator.runPhase(c.direction, loopback(port, streams, 1 << 30, duration));
        // Not the 10 s idle limit of a request that hangs (a loose bound: no race with a busy machine).
        EXPECT_LT(test::secondsSince(started), 6.0) << "the phase ends at its limit";
        watchedPort = 0;

        EXPECT_LT(r.bytesTransferred, 4096) << "error pages, short pages, refused and silent requests are no load";
        for (double sample : r.perSecondMbps)
            EXPECT_LT(sample, 0.05);
        // The short server closes with the upload's body unread, so the kernel resets the connection:
        // on a slow machine curl can meet the reset before it reads the page, a transfer error
        // without a named cause. Either way the request failed and nothing was counted.
        const bool resetFirst = c.direction == LoadDirection::upload && !c.cause &&
                                r.failure == std::optional<FailureCause>(FailureCause::unknown);
        if (!resetFirst) {
            EXPECT_EQ(r.failure, c.cause);
        }
        if (!c.cause) {
            EXPECT_EQ(r.requestsFailed, connectAttempts.load()) << "every short answer is a failed request";
        }
        if (c.answered >= 0)
            EXPECT_EQ(r.requestsAnswered, c.answered);
        else
            EXPECT_GT(r.requestsAnswered, 0);
        // Counted where the attempts land: curl's connect() calls, and the requests the server saw.
        const int attempts = connectAttempts.load();
        EXPECT_GE(attempts, c.leastAttempts);
        EXPECT_LE(attempts, c.mostAttempts) << "at most one attempt per back-off step and stream";
        const auto requests = QRegularExpression(QStringLiteral("requests (\\d+)")).match(endpoint.log());
        if (requests.hasMatch()) {
            EXPECT_LE(requests.captured(1).toInt(), c.mostAttempts);
        }
    }
}

// A server that sends 2 MiB of each download and then hangs, and reads 1 MiB of each upload and then
// stops reading: what is counted never runs ahead of what the server sent or read, and the load is
// seen to stop (the last whole seconds move nothing).
TEST(LoadGeneratorStallTest, AServerThatStopsIsCountedOnlyForWhatItTook)
{
    for (LoadDirection direction : {LoadDirection::download, LoadDirection::upload}) {
        const bool up = direction == LoadDirection::upload;
        SCOPED_TRACE(up ? "upload" : "download");
        test::LoopbackServer server(QStringLiteral("speedtest_server.py"), {"--mode", "stall"});
        ASSERT_GT(server.port(), 0);
        LoadGenerator generator;
        const auto r = generator.runPhase(direction, loopback(server.port(), 2, 1 << 30, 4s, 8 << 20));
        // Per stream: 2 MiB sent; upload bodies of 256 KiB, 512 KiB and 1 MiB read whole, then 1 MiB of
        // the 2-MiB one (a stream's body doubles from the smallest while the rate allows).
        const std::int64_t expected = up ? 2 * ((1 << 18) + (1 << 19) + 2 * (1 << 20)) : 2 * (2 << 20);
        const std::int64_t took = serverTotal(server, up ? QStringLiteral("up") : QStringLiteral("down"), expected);
        std::printf("%s: counted %lld bytes, the server took %lld\n", up ? "upload" : "download",
                    static_cast<long long>(r.bytesTransferred), static_cast<long long>(took));
        EXPECT_EQ(took, expected);
        EXPECT_LE(r.bytesTransferred, took);
        ASSERT_GE(r.perSecondMbps.size(), 4u);
        EXPECT_EQ(r.perSecondMbps[2], 0.0);
        EXPECT_EQ(r.perSecondMbps[3], 0.0);
    }
}

TEST_F(LoadGeneratorTest, DeadPortGivesNoBytesAndAllZeroSamplesAfterTheFullDuration)
{
    const test::RefusingLoopbackPort dead;
    const auto r = generator.runPhase(LoadDirection::download, loopback(dead.port(), 2, 1 << 30, 1500ms));
    EXPECT_EQ(r.bytesTransferred, 0);
    EXPECT_EQ(r.stoppedReason, LoadStopReason::durationReached);
    EXPECT_GE(r.durationSeconds, 1.5);
    EXPECT_EQ(r.loadEndedAtSeconds, r.durationSeconds);
    ASSERT_EQ(r.perSecondMbps.size(), 2u) << "one whole second and the partial half";
    for (double s : r.perSecondMbps)
        EXPECT_EQ(s, 0.0);
    EXPECT_EQ(r.throughputMbps(), 0.0);
}

TEST_F(LoadGeneratorTest, ByteCapEndsTheLoadEarlyButThePhaseLastsItsDuration)
{
    ASSERT_GT(server.port(), 0);
    const std::int64_t cap = 6 << 20;
    const auto r = generator.runPhase(LoadDirection::download, loopback(server.port(), 3, cap, 2s));
    EXPECT_EQ(r.stoppedReason, LoadStopReason::byteCapReached);
    EXPECT_GE(r.bytesTransferred, cap);
    EXPECT_LE(r.bytesTransferred, cap + 3 * (1 << 20)) << "each stream stops after the request it was running";
    EXPECT_LT(r.loadEndedAtSeconds, r.durationSeconds);
    EXPECT_GE(r.durationSeconds, 2.0);
    ASSERT_TRUE(generator.loadEndedEarlyAtSeconds());
    EXPECT_EQ(*generator.loadEndedEarlyAtSeconds(), r.loadEndedAtSeconds);
    // The samples add up to the bytes moved; the throughput is averaged over the whole phase.
    EXPECT_NEAR(std::accumulate(r.perSecondMbps.begin(), r.perSecondMbps.end(), 0.0),
                static_cast<double>(r.bytesTransferred) * 8 / 1e6, 1e-6);
    EXPECT_DOUBLE_EQ(r.throughputMbps(), static_cast<double>(r.bytesTransferred) * 8 / r.durationSeconds / 1e6);
    EXPECT_EQ(serverTotal(server, QStringLiteral("down"), r.bytesTransferred), r.bytesTransferred);

    // The next phase starts afresh: no early end and a counter from zero.
    const auto again = generator.runPhase(LoadDirection::download, loopback(server.port(), 0, cap, 200ms));
    EXPECT_EQ(again.bytesTransferred, 0);
    EXPECT_EQ(again.stoppedReason, LoadStopReason::durationReached);
    EXPECT_FALSE(generator.loadEndedEarlyAtSeconds());
}

TEST_F(LoadGeneratorTest, NoStreamsMoveNothingForTheWholeDuration)
{
    ASSERT_GT(server.port(), 0);
    const auto r = generator.runPhase(LoadDirection::upload, loopback(server.port(), 0, 1 << 30, 1200ms));
    EXPECT_EQ(r.bytesTransferred, 0);
    EXPECT_GE(r.durationSeconds, 1.2);
    EXPECT_EQ(serverTotal(server, QStringLiteral("requests"), 0), 0);
}

TEST_F(LoadGeneratorTest, UploadCountsTheBytesThatReachedTheServer)
{
    ASSERT_GT(server.port(), 0);
    const std::int64_t body = static_cast<std::int64_t>(LoadGenerator::kUploadBodyBytes);
    // The cap ends both streams after whole requests, so every counted byte was read by the server.
    const auto r = generator.runPhase(LoadDirection::upload, loopback(server.port(), 2, 3 * body, 3s));
    EXPECT_EQ(r.stoppedReason, LoadStopReason::byteCapReached);
    EXPECT_GE(r.bytesTransferred, 3 * body);
    EXPECT_EQ(serverTotal(server, QStringLiteral("up"), r.bytesTransferred), r.bytesTransferred);
}

TEST_F(LoadGeneratorTest, CancelEndsThePhaseInProgressAndNotTheNext)
{
    ASSERT_GT(server.port(), 0);
    std::thread canceller([this] {
        std::this_thread::sleep_for(300ms);
        generator.cancel();
    });
    const auto cut = generator.runPhase(LoadDirection::download, loopback(server.port(), 2, 1 << 30, 20s));
    canceller.join();
    EXPECT_LT(cut.durationSeconds, 5.0) << "a 20 s phase ends soon after the cancel";
    EXPECT_EQ(cut.stoppedReason, LoadStopReason::durationReached);

    generator.cancel(); // between phases: nothing to cancel, the next phase runs its course
    const auto next = generator.runPhase(LoadDirection::download, loopback(server.port(), 0, 1 << 30, 300ms));
    EXPECT_GE(next.durationSeconds, 0.3);

    // The run's stop flag ends a phase as well.
    auto stop = std::make_shared<std::atomic<bool>>(true);
    const auto stopped = generator.runPhase(LoadDirection::upload, loopback(server.port(), 1, 1 << 30, 20s), stop);
    EXPECT_LT(stopped.durationSeconds, 5.0);
}

// A child stops this process for 0.6 s in mid-download, then resumes it: the phase counts the hold-up
// (the result then says the rate may read low).
TEST_F(LoadGeneratorTest, AHoldUpOfThisComputerIsCounted)
{
    ASSERT_GT(server.port(), 0);
    std::thread holder([this] {
        for (int i = 0; i < 500 && !QRegularExpression(QStringLiteral("down [1-9]")).match(server.log()).hasMatch(); ++i)
            std::this_thread::sleep_for(20ms);
        const std::string pid = std::to_string(::getpid());
        EXPECT_EQ(std::system(("kill -STOP " + pid + "; sleep 0.6; kill -CONT " + pid).c_str()), 0);
        generator.cancel();
    });
    const auto r = generator.runPhase(LoadDirection::download, loopback(server.port(), 2, 1 << 30, 30s));
    holder.join();
    EXPECT_GE(r.heldSeconds, 0.5);
    EXPECT_LT(r.durationSeconds, 30.0) << "cancelled after the hold-up";
}

} // namespace
} // namespace pv
