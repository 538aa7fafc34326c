// The whole load test on the lab's shaped 50 Mbit/s link, three runs per queue (short and bloated),
// with the default phase lengths: the throughput the generator reports in each direction as a share
// of the shaped rate, the CPU time the process uses in each load phase (generator and probe), and the
// median round trip the service records under load minus the median that iputils ping, run alongside
// in the same namespace, records in the same window. Prints each run and the medians of the runs.
// Runs only inside the network lab: `cmake --build build --target run_pv_bench_loadtest`.

#include "loadtest/LoadTestService.h"
#include "tests/loadtest/ShapedLab.h"
#include "tests/probes/DnsHttpTestSupport.h"

#include <sys/resource.h>

#include <cstdio>
#include <map>
#include <mutex>

using namespace std::chrono_literals;
using namespace pv;

namespace {

double processCpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double median(std::vector<double> v)
{
    if (v.empty())
        return std::nan("");
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

struct Figures {
    double downShare = 0, upShare = 0;         // reported Mbps / shaped rate
    double downCpu = 0, upCpu = 0;             // seconds of process CPU per load phase
    double downRttDelta = 0, upRttDelta = 0;   // service median − ping median under load, ms
    double downRtt = 0, upRtt = 0;             // the service's median under load, ms
};

std::vector<double> windowRtts(const std::vector<TimedEcho>& trace, double loadEndedAt)
{
    std::vector<double> rtts;
    for (const TimedEcho& e : loadedWindow(trace, loadEndedAt))
        if (e.rttMilliseconds)
            rtts.push_back(*e.rttMilliseconds);
    return rtts;
}

std::optional<Figures> runOnce(rt::NetworkRuntime& net, test::ShapedLab& lab, const QString& baseURL)
{
    LoadTestService::Timing timing;
    timing.load = LoadSource::Configuration::forBaseURL(baseURL);
    MeasurementProfile profile = MeasurementProfile::defaultProfile();
    profile.publicProbeHosts = {QStringLiteral("1.1.1.1")};
    auto service = LoadTestService::create(net.executor(), profile, timing);

    std::mutex mutex;
    std::map<LoadTestPhase, std::pair<double, double>> marks; // wall clock, process CPU
    lab.startPing(QStringLiteral("1.1.1.1"), 80);
    const auto result = test::runOn(net, service->run(lab.env().clientIf, [&](LoadTestPhase phase) {
        std::lock_guard lock(mutex);
        marks[phase] = {nowTimestamp(), processCpuSeconds()};
    }), 120s);
    lab.stopPing();
    if (!result || !*result)
        return std::nullopt;
    const LoadTestResult& r = **result;
    const auto ping = lab.pingReplies();

    Figures f;
    f.downShare = r.downloadMbps() / test::ShapedLab::kRateMbit;
    f.upShare = r.uploadMbps() / test::ShapedLab::kRateMbit;
    f.downCpu = marks[LoadTestPhase::restAfterDownload].second - marks[LoadTestPhase::download].second;
    f.upCpu = marks[LoadTestPhase::finished].second - marks[LoadTestPhase::upload].second;
    const auto delta = [&](LoadTestPhase phase, const std::vector<TimedEcho>& trace, const LoadPhaseResult& load,
                           double& serviceMedian) {
        const double start = marks[phase].first;
        serviceMedian = median(windowRtts(trace, load.loadEndedAtSeconds));
        return serviceMedian - median(test::ShapedLab::between(ping, start + 4.0, start + load.loadEndedAtSeconds));
    };
    f.downRttDelta = delta(LoadTestPhase::download, r.downloadTrace, r.download, f.downRtt);
    f.upRttDelta = delta(LoadTestPhase::upload, r.uploadTrace, r.upload, f.upRtt);
    return f;
}

} // namespace

int main()
{
    auto env = lab::LabEnv::current();
    if (!env) {
        std::fprintf(stderr, "not inside the network lab (tests/lab/run-in-lab.sh)\n");
        return 77;
    }
    test::ShapedLab lab(*env, test::sourceDir());
    const QString baseURL = lab.startServer();
    if (baseURL.isEmpty()) {
        std::fprintf(stderr, "the speed-test server did not start\n");
        return 1;
    }
    rt::NetworkRuntime net;
    for (const char* queue : {"5ms", "500ms"}) {
        if (!lab.shape(QString::fromLatin1(queue))) {
            std::fprintf(stderr, "shaping failed\n");
            return 1;
        }
        std::vector<Figures> runs;
        for (int i = 0; i < 3; ++i) {
            const auto f = runOnce(net, lab, baseURL);
            if (!f) {
                std::fprintf(stderr, "run %d gave no result\n", i + 1);
                return 1;
            }
            std::printf("tbf 50mbit latency %-5s run %d: down %.1f%% up %.1f%% of the rate | CPU down %.2f s up %.2f s | "
                        "median RTT under load down %.1f ms (service - ping %+.2f ms) up %.1f ms (%+.2f ms)\n",
                        queue, i + 1, 100 * f->downShare, 100 * f->upShare, f->downCpu, f->upCpu, f->downRtt,
                        f->downRttDelta, f->upRtt, f->upRttDelta);
            std::fflush(stdout);
            runs.push_back(*f);
        }
        const auto med = [&](double Figures::*field) {
            std::vector<double> v;
            for (const Figures& f : runs)
                v.push_back(f.*field);
            return median(v);
        };
        std::printf("tbf 50mbit latency %-5s MEDIAN of 3: down %.1f%% up %.1f%% of the rate | CPU down %.2f s up %.2f s "
                    "| service - ping median RTT: down %+.2f ms up %+.2f ms\n",
                    queue, 100 * med(&Figures::downShare), 100 * med(&Figures::upShare), med(&Figures::downCpu),
                    med(&Figures::upCpu), med(&Figures::downRttDelta), med(&Figures::upRttDelta));
        std::fflush(stdout);
    }
    return 0;
}
