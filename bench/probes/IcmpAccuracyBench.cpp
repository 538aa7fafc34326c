// How exact ICMPProbe's round-trip times are: the median of 200 echoes to the lab gateway (over IPv4,
// and over IPv6 to its link-local address and to the lab internet's 2606:4700:4700::1111 beyond it),
// measured by the probe and by iputils ping (ping -6 for IPv6) in turns on the same path (one echo of the probe, then one of
// ping, and so on, so that both meet the same conditions), with the process idle, with
// another thread spinning, and with the network thread itself kept busy (the probe's socket reads
// and its actor then run late; the kernel's arrival stamps keep the times exact).
// Runs only inside the network lab (tests/lab/run-in-lab.sh).

#include "core/probes/ICMPProbe.h"

#include <benchmark/benchmark.h>

#include <QString>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace {

constexpr int kEchoes = 200;

enum class Path { ipv4Gateway = 0, ipv6Gateway = 1, ipv6Internet = 2 };

// The target of a path in the lab; none outside it.
std::optional<QString> labTarget(Path path)
{
    if (qEnvironmentVariable("PV_LAB") != QLatin1String("1"))
        return std::nullopt;
    QString target;
    switch (path) {
    case Path::ipv4Gateway:
        target = qEnvironmentVariable("PV_LAB_GATEWAY");
        break;
    case Path::ipv6Gateway:
        if (!qEnvironmentVariable("PV_LAB_GATEWAY6").isEmpty())
            target = qEnvironmentVariable("PV_LAB_GATEWAY6") + QLatin1Char('%') + qEnvironmentVariable("PV_LAB_CLIENT_IF");
        break;
    case Path::ipv6Internet:
        if (!qEnvironmentVariable("PV_LAB_GATEWAY6").isEmpty())
            target = QStringLiteral("2606:4700:4700::1111");
        break;
    }
    if (target.isEmpty())
        return std::nullopt;
    return target;
}

double median(std::vector<double> values)
{
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2.0;
}

// The time of one echo as iputils ping prints it ("time=0.052 ms"); nullopt when none came back.
std::optional<double> pingOnce(const QString& host)
{
    const std::string command =
        std::string(host.contains(QLatin1Char(':')) ? "ping -6" : "ping") + " -n -c 1 -W 1 " + host.toStdString() + " 2>/dev/null";
    std::optional<double> time;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return time;
    static const std::regex timePattern(R"(time=([0-9.]+) ms)");
    char line[512];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        std::cmatch match;
        if (std::regex_search(line, match, timePattern))
            time = std::strtod(match[1].first, nullptr);
    }
    pclose(pipe);
    return time;
}

enum class Load { idle = 0, spinningThread = 1, busyNetworkThread = 2 };

// Keeps the chosen part of the process busy while it lives.
class Busy {
public:
    Busy(Load load, pv::rt::NetworkRuntime& net) : net_(net)
    {
        if (load == Load::spinningThread) {
            thread_ = std::thread([this] {
                volatile std::uint64_t sink = 0;
                while (!stop_.load(std::memory_order_relaxed))
                    sink = sink + 1;
            });
        } else if (load == Load::busyNetworkThread) {
            postChunk();
        }
    }
    ~Busy()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        while (chunksRunning_.load() != 0)
            std::this_thread::sleep_for(1ms);
    }

private:
    // 2 ms of work on the network thread, again and again: every socket read and every step of
    // the probe's actor waits behind it.
    void postChunk()
    {
        ++chunksRunning_;
        asio::post(net_.executor(), [this] {
            const auto until = std::chrono::steady_clock::now() + 2ms;
            while (std::chrono::steady_clock::now() < until) {
            }
            if (!stop_.load())
                postChunk();
            --chunksRunning_;
        });
    }

    pv::rt::NetworkRuntime& net_;
    std::atomic<bool> stop_{false};
    std::atomic<int> chunksRunning_{0};
    std::thread thread_;
};

void BM_IcmpProbeVersusPing(benchmark::State& state)
{
    const auto gateway = labTarget(static_cast<Path>(state.range(1)));
    if (!gateway) {
        state.SkipWithError("not inside the network lab (run it through tests/lab/run-in-lab.sh)");
        return;
    }
    const auto load = static_cast<Load>(state.range(0));
    pv::rt::NetworkRuntime net;
    auto probe = pv::ICMPProbe::create(
        net.executor(), gateway->contains(QLatin1Char(':')) ? pv::ICMPProbe::Family::v6 : pv::ICMPProbe::Family::v4);
    asio::co_spawn(net.executor(), probe->start(qEnvironmentVariable("PV_LAB_CLIENT_IF")), asio::use_future).get();
    // Warm the neighbour cache so that neither side pays for ARP.
    asio::co_spawn(net.executor(), probe->measure(*gateway, 3, 1s, 10ms, 0), asio::use_future).get();

    double probeMedian = -1;
    double pingMedian = -1;
    double pairMedian = -1;
    std::size_t probeReplies = 0;
    std::size_t pingReplies = 0;
    for (auto _ : state) {
        Busy busy(load, net);
        // In turns: each pair of echoes crosses the path within a few milliseconds.
        std::vector<double> probeTimes, pingTimes, pairDifferences;
        for (int i = 0; i < kEchoes; ++i) {
            const auto one =
                asio::co_spawn(net.executor(), probe->measure(*gateway, 1, 1s, 0ms, 0), asio::use_future).get();
            const std::optional<double> probeTime = one.medianRtt();
            const std::optional<double> pingTime = pingOnce(*gateway);
            if (probeTime)
                probeTimes.push_back(*probeTime);
            if (pingTime)
                pingTimes.push_back(*pingTime);
            if (probeTime && pingTime)
                pairDifferences.push_back(*probeTime - *pingTime);
        }
        probeMedian = median(probeTimes);
        pingMedian = median(pingTimes);
        pairMedian = median(pairDifferences);
        probeReplies = probeTimes.size();
        pingReplies = pingTimes.size();
    }
    asio::co_spawn(net.executor(), probe->stop(), asio::use_future).get();

    state.counters["probe_median_ms"] = probeMedian;
    state.counters["ping_median_ms"] = pingMedian;
    state.counters["difference_ms"] = probeMedian - pingMedian;
    state.counters["pair_difference_ms"] = pairMedian;
    state.counters["probe_replies"] = static_cast<double>(probeReplies);
    state.counters["ping_replies"] = static_cast<double>(pingReplies);
    if (probeReplies != kEchoes || pingReplies != kEchoes)
        state.SkipWithError("echoes were lost on a lab path that should lose none");
}

} // namespace

BENCHMARK(BM_IcmpProbeVersusPing)
    ->ArgNames({"load", "path"})
    ->ArgsProduct({{static_cast<int>(Load::idle), static_cast<int>(Load::spinningThread),
                    static_cast<int>(Load::busyNetworkThread)},
                   {static_cast<int>(Path::ipv4Gateway), static_cast<int>(Path::ipv6Gateway),
                    static_cast<int>(Path::ipv6Internet)}})
    ->Iterations(1)
    ->Repetitions(3)
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
