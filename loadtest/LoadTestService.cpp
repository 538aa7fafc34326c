#include "loadtest/LoadTestService.h"

#include "core/probes/ICMPProbe.h"
#include "core/records/Localization.h"
#include "core/records/Logging.h"

#include <asio/experimental/awaitable_operators.hpp>
#include <asio/redirect_error.hpp>

#include <algorithm>
#include <cmath>
#include <iterator>

namespace pv {

using namespace asio::experimental::awaitable_operators;

LatencySummary summarise(const std::vector<TimedEcho>& echoes)
{
    std::vector<double> answered;
    for (const TimedEcho& e : echoes)
        if (e.rttMilliseconds)
            answered.push_back(*e.rttMilliseconds);
    std::sort(answered.begin(), answered.end());
    LatencySummary s;
    const std::size_t n = echoes.size();
    const std::size_t r = answered.size();
    s.sampleCount = static_cast<int>(n);
    s.lossRatio = n > 0 ? static_cast<double>(n - r) / static_cast<double>(n) : 0.0;
    if (r > 0) {
        s.p50 = answered[r / 2];
        s.p95 = answered[std::min(r - 1, static_cast<std::size_t>(std::floor(static_cast<double>(r) * 0.95)))];
    }
    return s;
}

std::vector<TimedEcho> loadedWindow(const std::vector<TimedEcho>& trace, double loadEndedAt, double windowStart)
{
    std::vector<TimedEcho> window;
    for (const TimedEcho& e : trace)
        if (e.offsetSeconds >= windowStart && e.offsetSeconds <= loadEndedAt)
            window.push_back(e);
    return window;
}

std::optional<QString> unloadedPhaseMessage(const LoadPhaseResult& phase)
{
    // An upload the server stopped reading counts nothing in flight at the end: what moved before is
    // its most at any second.
    const bool nothingMoved = std::max(phase.bytesTransferred, phase.peakBytes) < kLeastLoadBytes;
    const bool everyRequestFailed = phase.requestsAnswered == 0 && phase.requestsFailed > 0;
    if (!nothingMoved && !everyRequestFailed)
        return std::nullopt;
    const QString lead = L("A sebességmérő szerverrel nem sikerült megterhelni a vonalat, ezért a teszt nem ad "
                           "értékelést.");
    if (phase.requestsAnswered > 0 || !phase.failure)
        return lead + QLatin1Char(' ') + L("A szerver válaszolt, de alig küldött vagy fogadott adatot.");
    return failureMessage(lead, *phase.failure);
}

LoadFlow loadFlowOf(const LoadPhaseResult& phase, double stopStretch)
{
    const std::vector<double>& samples = phase.perSecondMbps;
    const double lastWhole = std::min(std::floor(phase.durationSeconds), phase.loadEndedAtSeconds);
    std::size_t seconds = 0;
    while (seconds < samples.size() && static_cast<double>(seconds) + 1 <= lastWhole)
        ++seconds;
    // The share of second i that moved at the best rate: where an edge lies inside it.
    const auto flowingPart = [&](std::size_t i, double best) { return std::clamp(samples[i] / best, 0.0, 1.0); };
    // Where a standstill that begins with second i began: the generator's own finer moment when it
    // has one in that second or the one before, else by the share of the best second.
    const auto onsetOf = [&](std::size_t i, double best) {
        for (double onset : phase.standstillOnsets)
            if (onset >= static_cast<double>(i) - 1 && onset < static_cast<double>(i) + 1)
                return onset;
        return static_cast<double>(i - 1) + flowingPart(i - 1, best);
    };
    // And where one that flows on again with second i ended.
    const auto endOf = [&](std::size_t i, double best) {
        for (double end : phase.standstillEnds)
            if (end >= static_cast<double>(i) - 1 && end < static_cast<double>(i) + 1)
                return end;
        return static_cast<double>(i) + 1 - flowingPart(i, best);
    };
    LoadFlow flow;
    double best = 0;
    std::optional<std::size_t> stillSince;
    for (std::size_t i = 0; i < seconds; ++i) {
        if (best > 0 && samples[i] < kStandstillShare * best) {
            if (!stillSince)
                stillSince = i;
            continue;
        }
        if (stillSince) {
            const double from = onsetOf(*stillSince, best);
            const double to = endOf(i, best);
            flow.pauses.push_back({from, std::max(from, to)});
            stillSince.reset();
        }
        best = std::max(best, samples[i]);
    }
    if (stillSince && static_cast<double>(seconds - *stillSince) >= stopStretch)
        flow.stoppedAtSeconds = onsetOf(*stillSince, best);
    // The generator's finer stretches, each half a second or more that flowed on while the load was
    // meant to run, are pauses as they stand, however little of a whole second they took; a pause
    // found from the seconds over one of them is that stretch.
    std::vector<LoadStandstill> pauses;
    for (const LoadStandstill& s : phase.stillStretches)
        if (s.fromSeconds < std::min(phase.loadEndedAtSeconds, flow.stoppedAtSeconds.value_or(phase.durationSeconds)))
            pauses.push_back(s);
    const auto overlapsFine = [&](const LoadStandstill& p) {
        return std::any_of(pauses.begin(), pauses.end(), [&](const LoadStandstill& s) {
            return s.fromSeconds < p.toSeconds && p.fromSeconds < s.toSeconds;
        });
    };
    std::copy_if(flow.pauses.begin(), flow.pauses.end(), std::back_inserter(pauses),
                 [&](const LoadStandstill& p) { return !overlapsFine(p); });
    std::sort(pauses.begin(), pauses.end(), [](const auto& a, const auto& b) { return a.fromSeconds < b.fromSeconds; });
    flow.pauses = std::move(pauses);
    return flow;
}

std::vector<TimedEcho> outsidePauses(const std::vector<TimedEcho>& echoes, const std::vector<LoadStandstill>& pauses)
{
    std::vector<TimedEcho> kept;
    for (const TimedEcho& e : echoes)
        if (std::none_of(pauses.begin(), pauses.end(), [&](const LoadStandstill& p) {
                return e.offsetSeconds >= p.fromSeconds && e.offsetSeconds < p.toSeconds;
            }))
            kept.push_back(e);
    return kept;
}

bool lineDroppedDuring(const LoadPhaseResult& phase, const std::vector<TimedEcho>& trace, double stall)
{
    const std::vector<double>& samples = phase.perSecondMbps;
    const double best = samples.empty() ? 0.0 : *std::max_element(samples.begin(), samples.end());
    if (!(best > 0))
        return false; // nothing ever moved: a dead endpoint, not a dropped line
    const auto quietStretch = [&](double from, double to) {
        int sent = 0;
        for (const TimedEcho& e : trace) {
            if (e.offsetSeconds >= from && e.offsetSeconds <= to)
                ++sent;
            if (e.rttMilliseconds) {
                const double arrived = e.offsetSeconds + *e.rttMilliseconds / 1000.0;
                if (arrived >= from && arrived <= to)
                    return false; // an answer came back within the stretch
            }
        }
        return sent > 0;
    };
    // Whole seconds only, and only while the load was meant to run.
    const double lastWhole = std::min(std::floor(phase.durationSeconds), phase.loadEndedAtSeconds);
    std::optional<double> stalledSince;
    for (std::size_t i = 0; i < samples.size() && static_cast<double>(i) + 1 <= lastWhole; ++i) {
        if (samples[i] >= 0.02 * best) {
            stalledSince.reset();
            continue;
        }
        if (!stalledSince)
            stalledSince = static_cast<double>(i);
        const double until = static_cast<double>(i) + 1;
        if (until - *stalledSince >= stall && quietStretch(*stalledSince, until))
            return true;
    }
    return false;
}

LoadTestError::LoadTestError(QString message) : std::runtime_error(message.toStdString()), message_(std::move(message))
{
}

// ---------------------------------------------------------------------------------------------
namespace {

class ICMPEchoSource : public EchoSource {
public:
    explicit ICMPEchoSource(std::shared_ptr<ICMPProbe> probe) : probe_(std::move(probe)) {}

    rt::awaitable<void> start(std::optional<QString> boundInterfaceName) override
    {
        co_await probe_->start(boundInterfaceName);
    }
    rt::awaitable<std::vector<TimedEcho>> measureContinuous(QString host, Nanoseconds duration, Nanoseconds interval,
                                                            Nanoseconds replyGrace) override
    {
        co_return co_await probe_->measureContinuous(host, duration, interval, replyGrace, 0);
    }
    rt::awaitable<void> stop() override { co_await probe_->stop(); }

private:
    std::shared_ptr<ICMPProbe> probe_;
};

} // namespace

struct LoadTestService::RunState {
    std::uint64_t generation = 0;
    std::shared_ptr<EchoSource> echoes;
    LoadStopFlag stop = std::make_shared<std::atomic<bool>>(false);
    bool cancelled = false;
    std::unique_ptr<asio::cancellation_signal> traceSignal; // of the trace in progress
    std::shared_ptr<asio::steady_timer> ended;               // cancelled once the run has returned
};

std::shared_ptr<LoadTestService> LoadTestService::create(asio::any_io_executor io, MeasurementProfile profile,
                                                         Timing timing)
{
    EchoSourceFactory probes = [io] {
        return std::make_shared<ICMPEchoSource>(ICMPProbe::create(io, ICMPProbe::Family::v4));
    };
    return create(io, std::move(profile), std::move(probes), std::make_shared<LoadGenerator>(), std::move(timing));
}

std::shared_ptr<LoadTestService> LoadTestService::create(asio::any_io_executor io, MeasurementProfile profile,
                                                         EchoSourceFactory echoSources,
                                                         std::shared_ptr<LoadSource> load, Timing timing)
{
    return std::make_shared<LoadTestService>(Passkey{}, io, std::move(profile), std::move(echoSources),
                                             std::move(load), std::move(timing));
}

LoadTestService::LoadTestService(Passkey, asio::any_io_executor io, MeasurementProfile profile,
                                 EchoSourceFactory echoSources, std::shared_ptr<LoadSource> load, Timing timing)
    : rt::Actor(io), profile_(std::move(profile)), echoSources_(std::move(echoSources)), load_(std::move(load)),
      timing_(std::move(timing))
{
}

QString LoadTestService::host() const
{
    return profile_.publicProbeHosts.isEmpty() ? QStringLiteral("1.1.1.1") : profile_.publicProbeHosts.first();
}

rt::awaitable<std::optional<LoadTestResult>> LoadTestService::run(std::optional<QString> boundInterfaceName,
                                                                  std::function<void(LoadTestPhase)> onPhase)
{
    return onStrand(runOnStrand(std::move(boundInterfaceName), std::move(onPhase)));
}

rt::awaitable<std::optional<LoadTestResult>> LoadTestService::runOnStrand(std::optional<QString> boundInterfaceName,
                                                                          std::function<void(LoadTestPhase)> onPhase)
{
    const auto self = shared_from_this();
    // One run at a time: a run started while another winds down waits for it to return.
    while (current_) {
        const std::shared_ptr<asio::steady_timer> ended = current_->ended;
        std::error_code cancelled;
        co_await ended->async_wait(asio::redirect_error(rt::use_awaitable, cancelled));
    }
    auto state = std::make_shared<RunState>();
    state->generation = ++generation_;
    state->echoes = echoSources_();
    state->ended = std::make_shared<asio::steady_timer>(strand(), asio::steady_timer::time_point::max());
    current_ = state;

    std::optional<LoadTestResult> result;
    std::exception_ptr error;
    try {
        result = co_await measure(state, std::move(boundInterfaceName), std::move(onPhase));
    } catch (...) {
        error = std::current_exception();
    }
    // The run's own probe is stopped here, and awaited, before anyone learns the run has ended.
    co_await state->echoes->stop();
    current_.reset();
    state->ended->cancel();
    if (error)
        std::rethrow_exception(error);
    if (state->cancelled)
        co_return std::nullopt;
    co_return result;
}

rt::awaitable<std::optional<LoadTestResult>> LoadTestService::measure(std::shared_ptr<RunState> state,
                                                                      std::optional<QString> boundInterfaceName,
                                                                      std::function<void(LoadTestPhase)> onPhase)
{
    co_await state->echoes->start(std::move(boundInterfaceName)); // a failure here is thrown before any phase
    const auto report = [&](LoadTestPhase phase) {
        if (onPhase && !state->cancelled)
            onPhase(phase);
    };

    LoadTestResult r;
    r.startedAt = nowTimestamp();
    report(LoadTestPhase::baseline);
    const std::vector<TimedEcho> baseline = co_await trace(state, timing_.baseline);
    if (state->cancelled)
        co_return std::nullopt;
    r.idle = summarise(baseline);
    if (!r.idle.p50)
        throw LoadTestError(L("Az alapmérés alatt egyetlen visszhangra sem érkezett válasz, ezért a terhelés "
                              "hatása nem mérhető. Ellenőrizd a kapcsolatot, majd próbáld újra."));

    report(LoadTestPhase::download);
    auto [downloadTrace, download] =
        co_await (trace(state, timing_.loadTrace) && loadPhase(state, LoadDirection::download));
    if (state->cancelled)
        co_return std::nullopt;
    checkLoaded(download, downloadTrace, LoadDirection::download);

    report(LoadTestPhase::restAfterDownload);
    (void)co_await trace(state, timing_.rest); // the rest's echoes are not kept
    if (state->cancelled)
        co_return std::nullopt;

    report(LoadTestPhase::upload);
    auto [uploadTrace, upload] = co_await (trace(state, timing_.loadTrace) && loadPhase(state, LoadDirection::upload));
    if (state->cancelled)
        co_return std::nullopt;
    checkLoaded(upload, uploadTrace, LoadDirection::upload);

    // A loaded window counts only while the load flows: a direction whose load stopped is not graded,
    // and the seconds in which a load stood still before it flowed on leave their echoes out.
    const auto loadedSummary = [&](LoadPhaseResult& phase, const std::vector<TimedEcho>& trace, const char* name) {
        const LoadFlow flow = loadFlowOf(phase);
        phase.pauses = flow.pauses;
        for (const LoadStandstill& p : flow.pauses)
            qCInfo(log::loadtest, "The %s load stood still from %.1f s to %.1f s into its phase and flowed on", name,
                   p.fromSeconds, p.toSeconds);
        if (flow.stoppedAtSeconds) {
            qCWarning(log::loadtest, "The %s load stopped flowing %.1f s into its phase; that direction is not graded",
                      name, *flow.stoppedAtSeconds);
            phase.stoppedReason = LoadStopReason::failed;
            phase.loadEndedAtSeconds = std::min(phase.loadEndedAtSeconds, *flow.stoppedAtSeconds);
            return LatencySummary{};
        }
        return summarise(outsidePauses(loadedWindow(trace, phase.loadEndedAtSeconds, timing_.windowStart), flow.pauses));
    };
    r.underDownload = loadedSummary(download, downloadTrace, "download");
    r.underUpload = loadedSummary(upload, uploadTrace, "upload");
    if (!r.isAnyDirectionGraded() && (download.stoppedFlowing() || upload.stoppedFlowing()))
        throw LoadTestError(L("A terhelés elakadt: a sebességmérő szerver egy idő után nem küldött és nem fogadott "
                              "több adatot, ezért a teszt nem ad értékelést. Próbáld újra később."));
    if (!r.isAnyDirectionGraded() && (!download.pauses.empty() || !upload.pauses.empty()))
        throw LoadTestError(L("A terhelés hosszan szünetelt, ezért egyik irányban sem maradt elég terhelt mérés, így a "
                              "teszt nem ad értékelést. Próbáld újra később."));
    if (!r.isAnyDirectionGraded()) {
        qCWarning(log::loadtest, "Neither loaded window got enough echoes (download %d, upload %d); load ended at "
                                 "%.1f s and %.1f s", r.underDownload.sampleCount, r.underUpload.sampleCount,
                  download.loadEndedAtSeconds, upload.loadEndedAtSeconds);
        throw LoadTestError(L("A terhelés túl hamar véget ért: egyik irányban sem jutott elég mérés a terhelt "
                              "szakaszra, ezért a teszt nem ad értékelést. Ez nagyon gyors vonalon fordulhat elő."));
    }
    report(LoadTestPhase::finished);
    r.download = std::move(download);
    r.upload = std::move(upload);
    r.downloadTrace = std::move(downloadTrace);
    r.uploadTrace = std::move(uploadTrace);
    co_return r;
}

void LoadTestService::checkLoaded(const LoadPhaseResult& phase, const std::vector<TimedEcho>& trace,
                                  LoadDirection direction)
{
    const char* name = direction == LoadDirection::download ? "download" : "upload";
    if (const std::optional<QString> message = unloadedPhaseMessage(phase)) {
        qCWarning(log::loadtest, "The %s phase did not load the line: %lld bytes, %d requests answered, %d failed",
                  name, static_cast<long long>(phase.bytesTransferred), phase.requestsAnswered, phase.requestsFailed);
        throw LoadTestError(*message);
    }
    if (lineDroppedDuring(phase, trace)) {
        qCWarning(log::loadtest, "The line dropped during the %s phase: the load stalled while no echo came back",
                  name);
        throw LoadTestError(L("A kapcsolat megszakadt a teszt közben: legalább 3 másodpercig nem mozgott adat, és a "
                              "késleltetésmérésre sem jött válasz. Ezért a teszt nem ad értékelést; próbáld újra, "
                              "ha helyreállt a kapcsolat."));
    }
}

rt::awaitable<std::vector<TimedEcho>> LoadTestService::trace(std::shared_ptr<RunState> state, Nanoseconds duration)
{
    if (state->cancelled)
        co_return std::vector<TimedEcho>{};
    // The signal belongs to this trace alone; cancel() emits it on the strand.
    state->traceSignal = std::make_unique<asio::cancellation_signal>();
    co_return co_await asio::co_spawn(strand(), traceOnStrand(state, duration),
                                      asio::bind_cancellation_slot(state->traceSignal->slot(), rt::use_awaitable));
}

rt::awaitable<std::vector<TimedEcho>> LoadTestService::traceOnStrand(std::shared_ptr<RunState> state,
                                                                     Nanoseconds duration)
{
    co_await asio::this_coro::throw_if_cancelled(false);
    co_return co_await state->echoes->measureContinuous(host(), duration, timing_.interval, timing_.replyGrace);
}

rt::awaitable<LoadPhaseResult> LoadTestService::loadPhase(std::shared_ptr<RunState> state, LoadDirection direction)
{
    if (state->cancelled)
        co_return LoadPhaseResult{};
    if (direction == LoadDirection::download)
        co_return co_await load_->runDownload(timing_.load, state->stop);
    co_return co_await load_->runUpload(timing_.load, state->stop);
}

rt::awaitable<void> LoadTestService::cancel()
{
    return onStrand([self = shared_from_this()]() -> rt::awaitable<void> {
        const std::shared_ptr<RunState> state = self->current_;
        if (!state || state->cancelled)
            co_return;
        state->cancelled = true;
        state->stop->store(true);
        self->load_->cancel();
        if (state->traceSignal)
            state->traceSignal->emit(asio::cancellation_type::terminal);
    });
}

} // namespace pv
