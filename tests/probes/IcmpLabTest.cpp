// The ICMP probe on the wire, inside the network lab (tests/lab/run-in-lab.sh).

#include "core/probes/ICMPProbe.h"
#include "core/probes/ICMPSocket.h"

#include "tests/lab/LabEnv.h"
#include "tests/probes/IcmpTestSupport.h"

#include <QLoggingCategory>

#include <gtest/gtest.h>

#include <array>

#include <chrono>
#include <functional>
#include <future>
#include <mutex>
#include <thread>

using namespace pv;
using namespace std::chrono_literals;
using ICMPPacket::Family;
using Clock = std::chrono::steady_clock;

namespace {

const QString kNotOpen = QStringLiteral("The ICMP socket is not open.");

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// Undoes a change to the lab when the test ends, however it ends.
struct Undo {
    std::function<void()> fn;
    ~Undo() { fn(); }
};

class IcmpLabTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        lab = lab::LabEnv::current();
        if (!lab)
            GTEST_SKIP() << "not inside the network lab";
    }
    void TearDown() override
    {
        // The descriptor is closed only by stop().
        for (auto& probe : probes)
            test::runOn(net, probe->stop());
    }

    std::shared_ptr<ICMPProbe> makeProbe(Family family = Family::v4, std::optional<std::uint32_t> run = std::nullopt)
    {
        probes.push_back(ICMPProbe::create(net.executor(), family, run));
        return probes.back();
    }
    std::shared_ptr<ICMPProbe> startedProbe(std::optional<std::uint32_t> run = std::nullopt)
    {
        auto probe = makeProbe(Family::v4, run);
        test::runOn(net, probe->start(lab->clientIf));
        return probe;
    }
    // Waits until the echo of `sequence` is registered and returns its send time.
    std::optional<std::uint64_t> waitForPending(ICMPProbe& probe, std::uint16_t sequence)
    {
        for (int i = 0; i < 400; ++i) {
            if (auto sent = test::runOn(net, probe.pendingSendTimestamp(sequence)))
                return sent;
            std::this_thread::sleep_for(5ms);
        }
        return std::nullopt;
    }
    template <typename T> std::future<T> spawn(rt::awaitable<T> work)
    {
        return asio::co_spawn(net.executor(), std::move(work), asio::use_future);
    }

    rt::NetworkRuntime net;
    std::optional<lab::LabEnv> lab;
    std::vector<std::shared_ptr<ICMPProbe>> probes;
};

} // namespace

// ---------------------------------------------------------------------------------------------
TEST_F(IcmpLabTest, SeriesToTheGatewayAndTheLabInternetAreAnswered)
{
    auto probe = startedProbe();
    EXPECT_TRUE(test::runOn(net, probe->interfacePinned()));

    const EchoSeries gateway = test::runOn(net, probe->measure(lab->gateway, 5, 1500ms, 20ms, 1));
    ASSERT_EQ(gateway.outcomes.size(), 5u);
    for (const auto& o : gateway.outcomes) {
        ASSERT_TRUE(o.isReply()) << static_cast<int>(o.kind) << " " << o.text.toStdString();
        EXPECT_GT(o.rtt, 0.0);
        EXPECT_LT(o.rtt, 50.0);
        EXPECT_EQ(o.ttl, 64) << "the router answers itself";
    }
    EXPECT_EQ(gateway.lossRatio(), 0.0);
    ASSERT_TRUE(gateway.medianRtt() && gateway.minimumRtt() && gateway.jitterMilliseconds());
    EXPECT_LE(*gateway.minimumRtt(), *gateway.medianRtt());

    const EchoSeries internet = test::runOn(net, probe->measure(QStringLiteral("1.1.1.1"), 5, 1500ms, 20ms, 2));
    ASSERT_EQ(internet.rtts().size(), 5u);
    for (const auto& o : internet.outcomes) {
        EXPECT_LT(o.rtt, 50.0);
        EXPECT_EQ(o.ttl, 63) << "one router on the way back";
    }
    EXPECT_EQ(test::runOn(net, probe->lastSequence()), 10) << "the first echo carries 1";
}

TEST_F(IcmpLabTest, AHostThatNeverAnswersGivesThreeTimeouts)
{
    ASSERT_TRUE(lab->dropAll(lab->routerNs, QStringLiteral("1.1.1.1")));
    auto probe = startedProbe();
    const auto start = Clock::now();
    const EchoSeries series = test::runOn(net, probe->measure(QStringLiteral("1.1.1.1"), 3, 1500ms, 200ms, 1));
    const double elapsed = secondsSince(start);

    EXPECT_EQ(series.outcomes, std::vector<EchoOutcome>(3, EchoOutcome::timeout()));
    EXPECT_EQ(series.lossRatio(), 1.0);
    EXPECT_FALSE(series.medianRtt());
    EXPECT_FALSE(series.minimumRtt());
    EXPECT_FALSE(series.jitterMilliseconds());
    // 3 x 1.5 s of waiting plus 2 spacings of 0.2 s.
    EXPECT_GE(elapsed, 4.85);
    EXPECT_LT(elapsed, 5.9);
}

TEST_F(IcmpLabTest, AnIcmpErrorIsNotAReply)
{
    // The router answers echoes to 8.8.8.8 with "port unreachable".
    ASSERT_TRUE(lab->rejectAll(lab->routerNs, QStringLiteral("8.8.8.8")));
    auto probe = startedProbe();
    const auto start = Clock::now();
    const EchoSeries series = test::runOn(net, probe->measure(QStringLiteral("8.8.8.8"), 1, 300ms, 0ms, 1));
    EXPECT_EQ(series.outcomes, std::vector<EchoOutcome>{EchoOutcome::timeout()});
    EXPECT_GE(secondsSince(start), 0.29);
}

TEST_F(IcmpLabTest, StopDuringASeriesAbandonsTheWaitingEcho)
{
    ASSERT_TRUE(lab->dropAll(lab->routerNs, QStringLiteral("1.1.1.1")));
    auto probe = startedProbe();
    const auto start = Clock::now();
    auto series = spawn(probe->measure(QStringLiteral("1.1.1.1"), 3, 10s, 10ms, 1));
    ASSERT_TRUE(waitForPending(*probe, 1));
    test::runOn(net, probe->stop());
    ASSERT_EQ(series.wait_for(3s), std::future_status::ready) << "no echo stays suspended after stop";
    const EchoSeries result = series.get();
    EXPECT_LT(secondsSince(start), 3.0);
    EXPECT_EQ(result.outcomes, (std::vector<EchoOutcome>{EchoOutcome::abandoned(), EchoOutcome::sendFailed(kNotOpen),
                                                         EchoOutcome::sendFailed(kNotOpen)}));
    EXPECT_EQ(result.lossRatio(), 1.0) << "the abandoned echo does not count";
    EXPECT_FALSE(test::runOn(net, probe->interfacePinned()));

    // A stopped probe can be started again.
    test::runOn(net, probe->start(lab->clientIf));
    EXPECT_TRUE(test::runOn(net, probe->measure(lab->gateway, 1, 1s, 0ms, 1)).outcomes.at(0).isReply());
}

TEST_F(IcmpLabTest, OnlyAReplyWithTheRunSequenceAndSendTimeEndsTheEcho)
{
    constexpr std::uint32_t run = 0x5EED0001;
    ASSERT_TRUE(lab->dropAll(lab->routerNs, QStringLiteral("1.1.1.1")));
    auto probe = startedProbe(run);
    auto series = spawn(probe->measure(QStringLiteral("1.1.1.1"), 1, 10s, 0ms, 9));
    const auto sent = waitForPending(*probe, 1);
    ASSERT_TRUE(sent);

    auto deliver = [&](std::vector<std::uint8_t> body, std::uint64_t receivedAt, std::optional<int> ttl) {
        test::runOn(net, probe->deliver({receivedAt, QStringLiteral("1.1.1.1"), std::move(body), ttl}));
    };
    const std::uint64_t arrival = *sent + 7'000'000;
    deliver(test::echoReplyV4(run + 1, 1, 9, *sent), arrival, 64);
    deliver(test::echoReplyV4(run, 1, 9, *sent + 1), arrival, 64);
    deliver(test::echoReplyV4(run, 1, 9, *sent - 1), arrival, 64);
    deliver(test::echoReplyV4(run, 2, 9, *sent), arrival, 64);
    deliver(ICMPPacket::makeEchoRequest(run, 1, 9, *sent, Family::v4), arrival, 64);
    EXPECT_EQ(test::runOn(net, probe->pendingSendTimestamp(1)), sent) << "the echo is still waiting";
    EXPECT_EQ(series.wait_for(50ms), std::future_status::timeout);

    // The right reply: its round-trip time is the arrival time minus the send time it carries.
    deliver(test::echoReplyV4(run, 1, 9, *sent), arrival, 42);
    ASSERT_EQ(series.wait_for(2s), std::future_status::ready);
    EXPECT_EQ(series.get().outcomes, std::vector<EchoOutcome>{EchoOutcome::reply(7.0, 42)});
    deliver(test::echoReplyV4(run, 1, 9, *sent), arrival, 42); // a duplicate finds nothing

    // A reply after the time-out is dropped; the outcome stays a time-out.
    auto late = spawn(probe->measure(QStringLiteral("1.1.1.1"), 1, 200ms, 0ms, 9));
    const auto lateSent = waitForPending(*probe, 2);
    ASSERT_TRUE(lateSent);
    ASSERT_EQ(late.wait_for(2s), std::future_status::ready);
    deliver(test::echoReplyV4(run, 2, 9, *lateSent), *lateSent + 300'000'000, 64);
    EXPECT_EQ(late.get().outcomes, std::vector<EchoOutcome>{EchoOutcome::timeout()});
    EXPECT_FALSE(test::runOn(net, probe->pendingSendTimestamp(2)));
    EXPECT_FALSE(test::runOn(net, probe->takeLateReplyRtt())) << "its own time-out ended it";

    // Echoes ended early by expireWaiting(): a reply within their own time-out is a late reply, the
    // highest round-trip time handed on once; past the time-out or with another send time it is not.
    std::uint16_t sequence = 2;
    for (const auto& [rttNs, carriedOffset, highest] : {std::tuple{300'000'000ULL, 0ULL, 300.0},
                                                       {600'000'000ULL, 1ULL, 100.0}, {12'000'000'000ULL, 0ULL, 100.0}}) {
        auto cut = spawn(probe->measure(QStringLiteral("1.1.1.1"), 2, 10s, 0ms, 9));
        std::array<std::optional<std::uint64_t>, 2> sent;
        for (auto& at : sent) {
            ASSERT_TRUE(at = waitForPending(*probe, ++sequence));
            test::runOn(net, probe->expireWaiting());
        }
        ASSERT_EQ(cut.wait_for(2s), std::future_status::ready);
        EXPECT_EQ(cut.get().outcomes, std::vector<EchoOutcome>(2, EchoOutcome::timeout()));
        deliver(test::echoReplyV4(run, sequence - 1, 9, *sent[0] + carriedOffset), *sent[0] + rttNs, 64);
        for (std::uint64_t after : {100'000'000ULL, 900'000'000ULL}) // the second one a duplicate
            deliver(test::echoReplyV4(run, sequence, 9, *sent[1]), *sent[1] + after, 64);
        EXPECT_EQ(test::runOn(net, probe->takeLateReplyRtt()), highest) << rttNs;
        EXPECT_FALSE(test::runOn(net, probe->takeLateReplyRtt()));
    }
}

TEST_F(IcmpLabTest, RandomLossOnTheRouterShowsInTheLossRatio)
{
    ASSERT_TRUE(lab->addRandomLoss(lab->routerNs, 0.3));
    auto probe = startedProbe();
    // Four series at once on one probe, as the probe service runs its targets: their echoes
    // interleave, each with its own sequence.
    std::vector<std::future<EchoSeries>> running;
    for (std::uint16_t slot = 0; slot < 4; ++slot)
        running.push_back(spawn(probe->measure(lab->gateway, 50, 150ms, 2ms, slot)));
    EchoSeries all;
    for (auto& f : running) {
        const EchoSeries s = f.get();
        all.outcomes.insert(all.outcomes.end(), s.outcomes.begin(), s.outcomes.end());
    }
    ASSERT_EQ(all.outcomes.size(), 200u);
    for (const auto& o : all.outcomes)
        EXPECT_TRUE(o.kind == EchoOutcome::Kind::reply || o.kind == EchoOutcome::Kind::timeout);
    ASSERT_TRUE(all.lossRatio());
    // Binomial(200, 0.3): 0.30 +- 0.032; the bounds are nearly four deviations away.
    EXPECT_GT(*all.lossRatio(), 0.18);
    EXPECT_LT(*all.lossRatio(), 0.42);
    EXPECT_EQ(test::runOn(net, probe->lastSequence()), 200);
}

TEST_F(IcmpLabTest, TheSequenceWrapsFrom65535ToZero)
{
    auto probe = startedProbe();
    test::runOn(net, probe->setLastSequence(65534));
    const EchoSeries series = test::runOn(net, probe->measure(lab->gateway, 3, 1s, 0ms, 1));
    EXPECT_EQ(series.rtts().size(), 3u) << "echoes 65535, 0 and 1 are all matched";
    EXPECT_EQ(test::runOn(net, probe->lastSequence()), 1);
}

TEST_F(IcmpLabTest, ContinuousMeasurementGivesOneTimedEchoPerEchoSent)
{
    auto probe = startedProbe();
    const std::uint16_t before = test::runOn(net, probe->lastSequence());
    const auto echoes = test::runOn(net, probe->measureContinuous(lab->gateway, 300ms, 20ms, 200ms, 3));
    const std::uint16_t after = test::runOn(net, probe->lastSequence());
    EXPECT_EQ(echoes.size(), static_cast<std::size_t>(after - before));
    EXPECT_GE(echoes.size(), 8u);
    EXPECT_LE(echoes.size(), 16u);
    for (std::size_t i = 0; i < echoes.size(); ++i) {
        ASSERT_TRUE(echoes[i].rttMilliseconds) << "echo " << i;
        EXPECT_LT(*echoes[i].rttMilliseconds, 50.0);
        if (i == 0)
            EXPECT_LT(echoes[i].offsetSeconds, 0.05);
        else
            EXPECT_GE(echoes[i].offsetSeconds - echoes[i - 1].offsetSeconds, 0.019);
    }

    // Echoes that get no reply are listed all the same.
    ASSERT_TRUE(lab->dropAll(lab->routerNs, QStringLiteral("1.1.1.1")));
    const auto lost = test::runOn(net, probe->measureContinuous(QStringLiteral("1.1.1.1"), 100ms, 20ms, 100ms, 3));
    EXPECT_GE(lost.size(), 3u);
    for (const auto& e : lost)
        EXPECT_FALSE(e.rttMilliseconds);

    // Duration 0: nothing is sent, the grace is waited all the same.
    const auto start = Clock::now();
    const std::uint16_t sequenceBefore = test::runOn(net, probe->lastSequence());
    EXPECT_TRUE(test::runOn(net, probe->measureContinuous(lab->gateway, 0ms, 20ms, 150ms, 3)).empty());
    EXPECT_GE(secondsSince(start), 0.145);
    EXPECT_EQ(test::runOn(net, probe->lastSequence()), sequenceBefore);
    EXPECT_TRUE(test::runOn(net, probe->measureContinuous(QStringLiteral("gateway.lan"), 1s, 20ms, 1s, 3)).empty());
}

TEST_F(IcmpLabTest, CancellingTheCallerEndsAContinuousMeasurementEarly)
{
    auto probe = startedProbe();
    asio::cancellation_signal cancel;
    const auto start = Clock::now();
    auto echoes = asio::co_spawn(net.executor(), probe->measureContinuous(lab->gateway, 10s, 10ms, 100ms, 1),
                                 asio::bind_cancellation_slot(cancel.slot(), asio::use_future));
    std::this_thread::sleep_for(150ms);
    // Signals are not thread-safe: emit on the network thread.
    asio::post(net.executor(), [&cancel] { cancel.emit(asio::cancellation_type::terminal); });
    ASSERT_EQ(echoes.wait_for(3s), std::future_status::ready);
    const auto result = echoes.get();
    EXPECT_LT(secondsSince(start), 1.5);
    EXPECT_GE(result.size(), 3u);
}

TEST_F(IcmpLabTest, NoRouteToHostIsRetriedOnceWithAFreshSendTime)
{
    // An unreachable route in the client makes sendto fail with EHOSTUNREACH.
    ASSERT_EQ(lab->run(lab->clientNs, QStringLiteral("ip route add unreachable 10.79.0.200/32")), 0);
    Undo undoFirst{[&] { lab->run(lab->clientNs, QStringLiteral("ip route del unreachable 10.79.0.200/32 2>/dev/null")); }};
    // Unpinned: a socket bound to lan0 would take the default route through it instead.
    auto probe = makeProbe();
    test::runOn(net, probe->start());
    auto start = Clock::now();
    EchoSeries series = test::runOn(net, probe->measure(QStringLiteral("10.79.0.200"), 1, 1s, 0ms, 1));
    EXPECT_EQ(series.outcomes,
              std::vector<EchoOutcome>{EchoOutcome::unreachable(QStringLiteral("ICMP send failed (errno 113: No route to host)"))});
    EXPECT_GE(secondsSince(start), 0.25) << "one retry after 0.25 s";
    EXPECT_LT(secondsSince(start), 0.9);

    // The route comes back before the retry: the retry is answered, and its round-trip time does
    // not include the 0.25 s wait.
    ASSERT_EQ(lab->run(lab->clientNs, QStringLiteral("ip route add unreachable %1/32").arg(lab->servicesAddr)), 0);
    Undo undoSecond{[&] {
        lab->run(lab->clientNs, QStringLiteral("ip route del unreachable %1/32 2>/dev/null").arg(lab->servicesAddr));
    }};
    std::thread restore([&] {
        std::this_thread::sleep_for(100ms);
        lab->run(lab->clientNs, QStringLiteral("ip route del unreachable %1/32").arg(lab->servicesAddr));
    });
    start = Clock::now();
    series = test::runOn(net, probe->measure(lab->servicesAddr, 1, 2s, 0ms, 1));
    const double elapsed = secondsSince(start);
    restore.join();
    ASSERT_EQ(series.outcomes.size(), 1u);
    ASSERT_TRUE(series.outcomes[0].isReply()) << series.outcomes[0].text.toStdString();
    EXPECT_GE(elapsed, 0.25) << "the first send failed";
    EXPECT_LT(series.outcomes[0].rtt, 50.0);
}

TEST_F(IcmpLabTest, ARefusedSocketNamesTheSysctl)
{
    ASSERT_EQ(lab->run(lab->clientNs, QStringLiteral("sysctl -qw net.ipv4.ping_group_range='1 0'")), 0);
    Undo reopen{[&] { lab->run(lab->clientNs, QStringLiteral("sysctl -qw net.ipv4.ping_group_range='0 2147483647'")); }};
    auto probe = makeProbe();
    try {
        test::runOn(net, probe->start(lab->clientIf));
        FAIL() << "the socket was opened";
    } catch (const ICMPError& e) {
        EXPECT_EQ(e.kind(), ICMPError::Kind::socketCreationFailed);
        EXPECT_EQ(e.errorNumber(), EACCES);
        EXPECT_TRUE(e.description().startsWith(QStringLiteral("ICMP socket could not be opened (errno 13: Permission denied)")));
        EXPECT_TRUE(e.description().contains(QStringLiteral("net.ipv4.ping_group_range")));
    }
    EXPECT_EQ(test::runOn(net, probe->measure(lab->gateway, 1, 1s, 0ms, 1)).outcomes,
              std::vector<EchoOutcome>{EchoOutcome::sendFailed(kNotOpen)});
}

namespace {
std::mutex gLogMutex;
QStringList gIcmpLog;
QtMessageHandler gPreviousHandler = nullptr;
void captureIcmpLog(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (context.category != nullptr && QLatin1String(context.category) == QLatin1String("com.tovarhelm.polvarine.icmp")) {
        std::lock_guard lock(gLogMutex);
        gIcmpLog << text;
    }
    if (gPreviousHandler != nullptr)
        gPreviousHandler(type, context, text);
}
} // namespace

TEST_F(IcmpLabTest, PinningFollowsTheInterfaceName)
{
    gPreviousHandler = qInstallMessageHandler(captureIcmpLog);
    Undo restoreHandler{[] { qInstallMessageHandler(gPreviousHandler); }};

    auto probe = makeProbe();
    test::runOn(net, probe->start(QStringLiteral("nosuchif0")));
    EXPECT_FALSE(test::runOn(net, probe->interfacePinned()));
    EXPECT_TRUE(test::runOn(net, probe->measure(lab->gateway, 1, 1s, 0ms, 1)).outcomes.at(0).isReply());
    // A second start while the socket is open changes nothing, not even the interface.
    test::runOn(net, probe->start(lab->clientIf));
    EXPECT_FALSE(test::runOn(net, probe->interfacePinned()));
    test::runOn(net, probe->stop());
    test::runOn(net, probe->start(lab->clientIf));
    EXPECT_TRUE(test::runOn(net, probe->interfacePinned()));
    EXPECT_TRUE(test::runOn(net, probe->measure(lab->gateway, 1, 1s, 0ms, 1)).outcomes.at(0).isReply());
    // Pinned to loopback, the lab is out of reach.
    auto loopbackOnly = makeProbe();
    test::runOn(net, loopbackOnly->start(QStringLiteral("lo")));
    EXPECT_TRUE(test::runOn(net, loopbackOnly->interfacePinned()));
    EXPECT_FALSE(test::runOn(net, loopbackOnly->measure(lab->gateway, 1, 300ms, 0ms, 1)).outcomes.at(0).isReply());

    std::lock_guard lock(gLogMutex);
    EXPECT_TRUE(gIcmpLog.isEmpty()) << gIcmpLog.join(u'\n').toStdString();
}

// ICMPv6 to loopback, to the router's link-local address (zoned by the interface) and to a public
// host beyond it: each reply carries its hop limit.
TEST_F(IcmpLabTest, V6EchoesCarryTheHopLimit)
{
    auto probe = makeProbe(Family::v6);
    test::runOn(net, probe->start());
    for (const auto& [host, hops] : {std::pair{QStringLiteral("::1"), 64},
                                     std::pair{lab->gateway6 + QLatin1Char('%') + lab->clientIf, 64},
                                     std::pair{QStringLiteral("2606:4700:4700::1111"), 63}}) {
        const EchoSeries series = test::runOn(net, probe->measure(host, 2, 1s, 0ms, 1));
        ASSERT_EQ(series.outcomes.size(), 2u);
        for (const auto& o : series.outcomes) {
            ASSERT_TRUE(o.isReply()) << host.toStdString() << ": " << o.text.toStdString();
            EXPECT_EQ(o.ttl, hops) << host.toStdString();
            EXPECT_LT(o.rtt, 50.0);
        }
    }
    EXPECT_EQ(test::runOn(net, probe->measure(lab->gateway, 1, 1s, 0ms, 1)).outcomes,
              std::vector<EchoOutcome>{EchoOutcome::sendFailed(QStringLiteral("Not a numeric IP address: ") + lab->gateway)});
}

// A zoned host names its interface; an interface made anew gets another index, and the probe follows
// it without losing an echo.
TEST_F(IcmpLabTest, AZonedHostFollowsItsInterfaceToANewIndex)
{
    const QString make = QStringLiteral("ip link add pvz0 type veth peer name pvz1 && ip link set pvz1 up && "
                                        "ip link set pvz0 up && ip -6 addr add fe80::99/64 dev pvz0 nodad && "
                                        // until the link is up and its routes are in place, at most 5 s
                                        "for i in $(seq 100); do ip -6 route show table local dev pvz0 | "
                                        "grep -q fe80::99 && ip -6 route show dev pvz0 | grep -q fe80:: && "
                                        "exit 0; sleep 0.05; done; exit 1");
    Undo undo{[this] { lab->run(lab->clientNs, QStringLiteral("ip link del pvz0 2>/dev/null")); }};
    ASSERT_EQ(lab->run(lab->clientNs, make), 0);
    auto probe = makeProbe(Family::v6);
    test::runOn(net, probe->start());
    const QString host = QStringLiteral("fe80::99%pvz0");
    for (int round = 0; round < 2; ++round) {
        const EchoSeries series = test::runOn(net, probe->measure(host, 2, 1s, 0ms, 0));
        ASSERT_EQ(series.outcomes.size(), 2u);
        for (const auto& o : series.outcomes)
            EXPECT_TRUE(o.isReply()) << "round " << round << ": " << o.text.toStdString();
        ASSERT_EQ(lab->run(lab->clientNs, QStringLiteral("ip link del pvz0 && ") + make), 0);
    }
}

// ---------------------------------------------------------------------------------------------
TEST_F(IcmpLabTest, QueuedDatagramsArriveInOrderStampedWithTheirArrivalTime)
{
    auto socket = ICMPSocket::open(net.executor(), Family::v4, lab->clientIf);
    ASSERT_TRUE(socket->isInterfacePinned());
    const ICMPAddress gateway = ICMPSocket::resolveNumericAddress(lab->gateway, Family::v4);
    std::vector<std::uint64_t> sentAt;
    for (std::uint16_t seq = 1; seq <= 5; ++seq) {
        sentAt.push_back(ICMPSocket::uptimeNanoseconds());
        socket->send(ICMPPacket::makeEchoRequest(99, seq, 0, sentAt.back(), Family::v4), gateway);
    }
    // Every reply is queued before anybody reads.
    std::this_thread::sleep_for(100ms);
    const std::uint64_t readingStarts = ICMPSocket::uptimeNanoseconds();

    std::mutex mutex;
    std::vector<ReceivedICMPMessage> received;
    socket->startReceiving([&](ReceivedICMPMessage m) {
        std::lock_guard lock(mutex);
        received.push_back(std::move(m));
    });
    for (int i = 0; i < 200; ++i) {
        {
            std::lock_guard lock(mutex);
            if (received.size() >= 5)
                break;
        }
        std::this_thread::sleep_for(5ms);
    }
    socket->close();
    std::lock_guard lock(mutex);
    ASSERT_EQ(received.size(), 5u);
    for (std::uint16_t i = 0; i < 5; ++i) {
        const auto& m = received[i];
        const auto fields = ICMPPacket::parseEchoReply(m.body, 99, Family::v4);
        ASSERT_TRUE(fields) << "the bare ICMP message, no IP header";
        EXPECT_EQ(fields->sequence, i + 1);
        EXPECT_EQ(m.sourceAddress, lab->gateway);
        EXPECT_EQ(m.ttl, 64);
        EXPECT_GT(m.receiveTimestampNs, sentAt[i]);
        // The arrival, not the read 100 ms later.
        EXPECT_LT(m.receiveTimestampNs, readingStarts);
        EXPECT_LT(m.receiveTimestampNs - sentAt[i], 50'000'000u);
    }
    try {
        socket->send(ICMPPacket::makeEchoRequest(99, 6, 0, 0, Family::v4), gateway);
        ADD_FAILURE() << "sent on a closed socket";
    } catch (const ICMPError& e) {
        EXPECT_EQ(e.errorNumber(), EBADF);
    }
}
