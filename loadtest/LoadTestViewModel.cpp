#include "loadtest/LoadTestViewModel.h"

#include "core/app/IcmpPermission.h"
#include "core/probes/ICMPSocket.h"
#include "core/records/FailureText.h"
#include "core/records/Localization.h"
#include "core/records/Logging.h"

#include <QNetworkInformation>

namespace pv {

namespace {

class SystemMeteredSource : public MeteredSource {
public:
    SystemMeteredSource()
    {
        if (!QNetworkInformation::loadBackendByFeatures(QNetworkInformation::Feature::Metered))
            return;
        info_ = QNetworkInformation::instance();
        if (info_ != nullptr)
            connect(info_, &QNetworkInformation::isMeteredChanged, this, &MeteredSource::meteredChanged);
    }
    bool isMetered() const override { return info_ != nullptr && info_->isMetered(); }

private:
    QNetworkInformation* info_ = nullptr;
};

// The failed run's message for the screen; the technical text goes to the log.
QString failureText(const std::exception_ptr& error)
{
    const QString lead = L("A mérés nem indult el.");
    try {
        std::rethrow_exception(error);
    } catch (const LoadTestError& e) {
        return e.message();
    } catch (const ICMPError& e) {
        qCWarning(log::loadtest, "The load test could not start its latency probe: %s", e.what());
        const QString message = failureMessage(L("A késleltetésmérés nem indult el."), e);
        // The same way out as the overview's banner gives.
        return failureCauseOf(e) == FailureCause::icmpNotPermitted
                   ? message + QLatin1Char(' ') + icmpPermissionRemedy()
                   : message;
    } catch (const std::exception& e) {
        qCWarning(log::loadtest, "The load test failed: %s", e.what());
        return failureMessage(lead, e);
    } catch (...) {
        qCWarning(log::loadtest, "The load test failed with an unknown exception");
    }
    return failureMessage(lead, FailureCause::unknown);
}

} // namespace

std::unique_ptr<MeteredSource> makeSystemMeteredSource()
{
    return std::make_unique<SystemMeteredSource>();
}

LoadTestViewModel::LoadTestViewModel(std::shared_ptr<LoadTestRunner> runner, InterfaceLookup primaryInterface,
                                     std::unique_ptr<MeteredSource> metered)
    : runner_(std::move(runner)), primaryInterface_(std::move(primaryInterface)), metered_(std::move(metered))
{
    if (metered_) {
        isExpensivePath_ = metered_->isMetered();
        connect(metered_.get(), &MeteredSource::meteredChanged, this, &LoadTestViewModel::setExpensivePath);
    }
}

LoadTestViewModel::~LoadTestViewModel() = default;

QString LoadTestViewModel::estimatedDataUsageText()
{
    return L("A teszt körülbelül 300–500 MB adatot mozgat.");
}

QString LoadTestViewModel::phaseTitle(LoadTestPhase phase)
{
    switch (phase) {
    case LoadTestPhase::idle: return L("Készen áll");
    case LoadTestPhase::baseline: return L("Nyugalmi alapvonal mérése");
    case LoadTestPhase::download: return L("Letöltés — közben mérjük a késleltetést");
    case LoadTestPhase::restAfterDownload: return L("Kis szünet, visszaáll-e a késleltetés");
    case LoadTestPhase::upload: return L("Feltöltés — közben mérjük a késleltetést");
    case LoadTestPhase::restAfterUpload: return L("Zárás");
    case LoadTestPhase::finished: return L("Kész");
    }
    return {};
}

double LoadTestViewModel::progressFor(LoadTestPhase phase)
{
    switch (phase) {
    case LoadTestPhase::idle: return 0.0;
    case LoadTestPhase::baseline: return 0.05;
    case LoadTestPhase::download: return 0.2;
    case LoadTestPhase::restAfterDownload: return 0.55;
    case LoadTestPhase::upload: return 0.66;
    case LoadTestPhase::restAfterUpload: return 0.95;
    case LoadTestPhase::finished: return 1.0;
    }
    return 0.0;
}

void LoadTestViewModel::start()
{
    if (isRunning())
        return;
    const std::uint64_t generation = ++generation_;
    setResult(std::nullopt);
    setProgress(0);
    setState(LoadTestState::running(LoadTestPhase::baseline));
    if (onWillStart)
        onWillStart();
    // The task holds the model until the test has ended.
    asio::co_spawn(executor_, [self = shared_from_this(), generation]() { return self->runTest(generation); },
                   asio::detached);
}

rt::awaitable<void> LoadTestViewModel::runTest(std::uint64_t generation)
{
    const auto self = shared_from_this();
    std::optional<QString> boundInterface;
    if (primaryInterface_)
        boundInterface = co_await primaryInterface_();
    if (generation != generation_)
        co_return; // cancelled while the interface was looked up

    // Phase reports take the same queue as the outcome below, so none lands after it.
    const std::weak_ptr<LoadTestViewModel> weak = self;
    const rt::QtExecutor executor = executor_;
    auto onPhase = [weak, executor, generation](LoadTestPhase phase) {
        asio::post(executor, [weak, generation, phase] {
            if (auto model = weak.lock())
                model->applyPhase(generation, phase);
        });
    };

    std::optional<LoadTestResult> result;
    std::exception_ptr error;
    try {
        result = co_await runner_->run(boundInterface, onPhase);
    } catch (...) {
        error = std::current_exception();
    }
    if (generation != generation_)
        co_return; // a cancelled or replaced run publishes nothing; cancel() has called onDidFinish
    if (error) {
        setState(LoadTestState::failed(failureText(error)));
    } else if (result) {
        setResult(std::move(result));
        setProgress(1.0);
        setState(LoadTestState::finished());
    } else {
        // The service dropped the run without a cancel of ours: nothing to show.
        setProgress(0);
        setState(LoadTestState::idle());
    }
    if (onDidFinish)
        onDidFinish();
}

void LoadTestViewModel::applyPhase(std::uint64_t generation, LoadTestPhase phase)
{
    if (generation != generation_ || !isRunning())
        return;
    setState(LoadTestState::running(phase));
    setProgress(progressFor(phase));
}

void LoadTestViewModel::cancel()
{
    ++generation_; // whatever is still on its way belongs to a stale run now
    // The task holds the service: the model may go before the cancel has run.
    asio::co_spawn(executor_, [runner = runner_]() { return runner->cancel(); }, asio::detached);
    setState(LoadTestState::idle());
    setProgress(0);
    if (onDidFinish)
        onDidFinish();
}

void LoadTestViewModel::setState(LoadTestState state)
{
    if (state == state_)
        return;
    state_ = std::move(state);
    Q_EMIT stateChanged();
}

void LoadTestViewModel::setProgress(double progress)
{
    if (progress == phaseProgress_)
        return;
    phaseProgress_ = progress;
    Q_EMIT progressChanged();
}

void LoadTestViewModel::setResult(std::optional<LoadTestResult> result)
{
    const bool changed = result_.has_value() != result.has_value() ||
                         (result && result_ && result->startedAt != result_->startedAt);
    result_ = std::move(result);
    if (changed)
        Q_EMIT resultChanged();
}

void LoadTestViewModel::setExpensivePath(bool expensive)
{
    if (expensive == isExpensivePath_)
        return;
    isExpensivePath_ = expensive;
    Q_EMIT expensivePathChanged();
}

} // namespace pv
