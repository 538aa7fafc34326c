#pragma once
// The load-test service: one bufferbloat test. It measures the latency to a public host while the
// line is idle, then while the load generator saturates the download and then the upload, and
// condenses the traces into percentiles, loss and a grade (LoadTestResult, core/records).
//
// Each run has its own echo source (its own ICMP socket), which the run itself stops and awaits
// before it returns, so a finished or cancelled run can never close the socket of the next one. Runs
// never overlap: a second run waits until the first has returned.

#include "core/records/LoadTestResult.h"
#include "core/records/Profile.h"
#include "core/records/Runtime.h"
#include "loadtest/LoadGenerator.h"

#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

namespace pv {

enum class LoadTestPhase { idle, baseline, download, restAfterDownload, upload, restAfterUpload, finished };
inline constexpr EnumTable<LoadTestPhase, 7> kLoadTestPhaseTable{{{
    {LoadTestPhase::idle, "idle"},
    {LoadTestPhase::baseline, "baseline"},
    {LoadTestPhase::download, "download"},
    {LoadTestPhase::restAfterDownload, "restAfterDownload"},
    {LoadTestPhase::upload, "upload"},
    {LoadTestPhase::restAfterUpload, "restAfterUpload"},
    {LoadTestPhase::finished, "finished"}}}};
inline QString rawValue(LoadTestPhase p) { return kLoadTestPhaseTable.rawText(p); }
inline std::optional<LoadTestPhase> parseLoadTestPhase(const QString& s) { return kLoadTestPhaseTable.parse(s); }

// Percentiles and loss of a list of echoes: p50 = R[r/2], p95 = R[min(r-1, floor(0.95 r))] of the
// answered round trips R (sorted), loss (n-r)/n (0 for an empty list), sampleCount n.
LatencySummary summarise(const std::vector<TimedEcho>& echoes);
// The echoes of a load phase that count: from `windowStart` to `loadEndedAt` seconds, both inclusive.
std::vector<TimedEcho> loadedWindow(const std::vector<TimedEcho>& trace, double loadEndedAt, double windowStart = 4.0);

// Why a load phase did not load the line (no request answered, or next to nothing moved), as the
// Hungarian message of the failed run; nothing when it did load the line.
std::optional<QString> unloadedPhaseMessage(const LoadPhaseResult& phase);
// How the load of a phase flowed, read from its per-second samples over the whole seconds in which
// the load was meant to run (before a byte cap ended it). A second stands still when it moved less than
// kStandstillShare of the best second before it: next to nothing, as when the other end stops sending
// or reading. A line that merely slowed down keeps flowing, however far it fell. A standstill that
// flows on again is a pause; one that lasts to the end, for at least `stopStretch` whole seconds (one:
// a stop in the phase's last seconds is said too), is where the load stopped. Each edge lies inside the second that moved part of the best second's
// bytes, in proportion to that part. The generator's own still stretches (half a second or more, from
// its every turn) are pauses too, and stand instead of a pause from the seconds that overlaps them.
inline constexpr double kStandstillShare = 0.01;
struct LoadFlow {
    std::vector<LoadStandstill> pauses;
    std::optional<double> stoppedAtSeconds;
    bool operator==(const LoadFlow&) const = default;
};
LoadFlow loadFlowOf(const LoadPhaseResult& phase, double stopStretch = 1.0);
// The echoes of a loaded window that fall outside the load's pauses.
std::vector<TimedEcho> outsidePauses(const std::vector<TimedEcho>& echoes, const std::vector<LoadStandstill>& pauses);
// The line dropped during a load phase: for at least `stall` seconds the load stopped moving (whole
// seconds below 2 % of the phase's best second, before the load ended) while no echo came back.
bool lineDroppedDuring(const LoadPhaseResult& phase, const std::vector<TimedEcho>& trace, double stall = 3.0);

// The probe as the load test uses it (the tests hand the service a fake one).
class EchoSource {
public:
    using Nanoseconds = std::chrono::nanoseconds;
    virtual ~EchoSource() = default;
    // Opens the socket; throws when it cannot (the only failure before any phase).
    virtual rt::awaitable<void> start(std::optional<QString> boundInterfaceName) = 0;
    // One echo every `interval` for `duration` (or until the caller is cancelled), then `replyGrace`.
    virtual rt::awaitable<std::vector<TimedEcho>> measureContinuous(QString host, Nanoseconds duration,
                                                                    Nanoseconds interval, Nanoseconds replyGrace) = 0;
    virtual rt::awaitable<void> stop() = 0;
};

// A run that could not measure: nothing is graded or stored. `message` is Hungarian, for the screen.
class LoadTestError : public std::runtime_error {
public:
    explicit LoadTestError(QString message);
    const QString& message() const { return message_; }

private:
    QString message_;
};

// The service as its view model uses it (the tests hand the model a fake).
class LoadTestRunner {
public:
    virtual ~LoadTestRunner() = default;
    virtual rt::awaitable<std::optional<LoadTestResult>> run(std::optional<QString> boundInterfaceName,
                                                             std::function<void(LoadTestPhase)> onPhase) = 0;
    virtual rt::awaitable<void> cancel() = 0;
};

// How long each part of a test lasts (the tests shorten them) and where the load goes.
struct LoadTestTiming {
    std::chrono::nanoseconds baseline = std::chrono::seconds(5);
    std::chrono::nanoseconds loadTrace = std::chrono::seconds(12);
    std::chrono::nanoseconds rest = std::chrono::seconds(4);
    std::chrono::nanoseconds interval = std::chrono::milliseconds(100);
    std::chrono::nanoseconds replyGrace = std::chrono::milliseconds(1500);
    double windowStart = 4.0; // seconds into a load phase before echoes count
    LoadSource::Configuration load = LoadSource::Configuration::defaultConfiguration();
};

class LoadTestService : public LoadTestRunner, public rt::Actor, public std::enable_shared_from_this<LoadTestService> {
    struct Passkey {};

public:
    using Nanoseconds = std::chrono::nanoseconds;
    using EchoSourceFactory = std::function<std::shared_ptr<EchoSource>()>;

    using Timing = LoadTestTiming;

    // The real service: a new IPv4 ICMP probe for every run, the real load generator.
    static std::shared_ptr<LoadTestService> create(asio::any_io_executor io, MeasurementProfile profile,
                                                   Timing timing = Timing{});
    static std::shared_ptr<LoadTestService> create(asio::any_io_executor io, MeasurementProfile profile,
                                                   EchoSourceFactory echoSources, std::shared_ptr<LoadSource> load,
                                                   Timing timing);
    LoadTestService(Passkey, asio::any_io_executor io, MeasurementProfile profile, EchoSourceFactory echoSources,
                    std::shared_ptr<LoadSource> load, Timing timing);

    // The echo target: the profile's first public host, or 1.1.1.1 when it lists none.
    QString host() const;

    // One whole test. `onPhase` is called on the service's strand at each phase change (baseline,
    // download, restAfterDownload, upload, finished); it must not block. Throws the probe's start
    // error before any phase, and LoadTestError when the run measured nothing that can be graded:
    // the baseline got no answer, a load phase did not load the line, the line dropped during a
    // load phase, or neither direction can be graded: its load stopped flowing (that direction is
    // marked `LoadStopReason::failed`, cut where the load stopped and left ungraded), or its window got
    // too few echoes (an early end, or pauses that took up most of it). A load that paused and flowed
    // on keeps its pauses, and its window leaves out the echoes sent while it stood still. A cancelled run
    // returns nothing (it never throws) once its probe is stopped.
    rt::awaitable<std::optional<LoadTestResult>> run(std::optional<QString> boundInterfaceName,
                                                     std::function<void(LoadTestPhase)> onPhase) override;
    // Cancels the run in progress, if any: the load ends and the traces stop sending at once.
    rt::awaitable<void> cancel() override;

private:
    struct RunState;

    rt::awaitable<std::optional<LoadTestResult>> runOnStrand(std::optional<QString> boundInterfaceName,
                                                             std::function<void(LoadTestPhase)> onPhase);
    rt::awaitable<std::optional<LoadTestResult>> measure(std::shared_ptr<RunState> state,
                                                         std::optional<QString> boundInterfaceName,
                                                         std::function<void(LoadTestPhase)> onPhase);
    rt::awaitable<std::vector<TimedEcho>> trace(std::shared_ptr<RunState> state, Nanoseconds duration);
    rt::awaitable<std::vector<TimedEcho>> traceOnStrand(std::shared_ptr<RunState> state, Nanoseconds duration);
    rt::awaitable<LoadPhaseResult> loadPhase(std::shared_ptr<RunState> state, LoadDirection direction);
    // Throws LoadTestError when the phase did not load the line or the line dropped during it.
    static void checkLoaded(const LoadPhaseResult& phase, const std::vector<TimedEcho>& trace, LoadDirection direction);

    MeasurementProfile profile_;
    EchoSourceFactory echoSources_;
    std::shared_ptr<LoadSource> load_;
    Timing timing_;
    std::shared_ptr<RunState> current_;
    std::uint64_t generation_ = 0;
};

} // namespace pv
