// Process CPU time of one probe batch (three echo series, the check page, DNS every fourth batch)
// with real probes in the network lab. Run it through the lab:
//   tests/lab/run-in-lab.sh build/bench/probes/pv_bench_probe_service
// The "CPU" column is the CPU time of the whole process (every thread: the network loop, the HTTP
// worker, curl's resolver threads) per batch; the servers run in other processes and do not count.

#include "core/probes/NativeProbeService.h"

#include "tests/probes/DnsHttpLabSupport.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstdio>

namespace {

pv::lab::LabEnv* gLab = nullptr;
pv::test::LabServers* gServers = nullptr;

double cpuMilliseconds(const timeval& tv) { return tv.tv_sec * 1000.0 + tv.tv_usec / 1000.0; }

void BM_ProbeBatchInLab(benchmark::State& state)
{
    pv::rt::NetworkRuntime net;
    pv::MeasurementProfile profile = pv::MeasurementProfile::defaultProfile();
    profile.dnsProbeZone = QStringLiteral("bench.answer.lab.test");
    pv::NativeProbeService service(net.executor(), profile, {gServers->pageURL(), {}});
    pv::test::runOn(net, service.start(gLab->clientIf));
    const pv::RouteSnapshot route{pv::nowTimestamp(), gLab->clientIf, gLab->clientAddr, gLab->gateway};

    int failedSamples = 0;
    int samples = 0;
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    for (auto _ : state) {
        const auto batch = pv::test::runOn(net, service.collectBatch(route));
        if (!batch) {
            state.SkipWithError("a batch did not finish");
            break;
        }
        for (const auto& s : batch->samples) {
            ++samples;
            failedSamples += s.success ? 0 : 1;
        }
    }
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    const double batches = static_cast<double>(state.iterations());
    state.counters["user_ms_per_batch"] = (cpuMilliseconds(after.ru_utime) - cpuMilliseconds(before.ru_utime)) / batches;
    state.counters["sys_ms_per_batch"] = (cpuMilliseconds(after.ru_stime) - cpuMilliseconds(before.ru_stime)) / batches;
    state.counters["samples"] = samples;
    state.counters["failed_samples"] = failedSamples;
    pv::test::runOn(net, service.stop());
}
BENCHMARK(BM_ProbeBatchInLab)->Iterations(100)->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    auto lab = pv::lab::LabEnv::current();
    if (!lab) {
        std::fprintf(stderr, "not inside the network lab: run through tests/lab/run-in-lab.sh\n");
        return 77;
    }
    pv::test::LabServers servers(*lab);
    if (!servers.ready()) {
        std::fprintf(stderr, "the lab servers did not start\n");
        return 1;
    }
    gLab = &*lab;
    gServers = &servers;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
