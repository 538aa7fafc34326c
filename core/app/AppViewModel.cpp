#include "core/app/AppViewModel.h"

#include "core/app/IncidentEvidence.h"

#include "core/app/ErrorText.h"
#include "core/app/HistoryViewModel.h"
#include "core/app/IcmpPermission.h"
#include "core/app/IncidentEvidence.h"
#include "core/records/Localization.h"
#include "core/records/Logging.h"
#include "core/records/RecordId.h"
#include "core/store/SQLiteStore.h"

#include <QCoreApplication>

#include <time.h>

namespace pv {

namespace {

// A: the likely cause before the first analysis.
LikelyCauseSummary placeholderLikelyCause()
{
    return LikelyCauseSummary{std::nullopt, L("Még gyűjtjük az adatot"), L("A Polvarine most készíti az első méréseket."),
                              L("Hagyd futni az appot néhány percig.")};
}

// B: the attribution before the first analysis.
FaultAttribution placeholderAttribution()
{
    return FaultAttribution(FaultLocation::insufficientEvidence, IncidentSeverity::info, AttributionConfidence::low,
                            L("Még gyűjtjük a bizonyítékot."), QStringList{L("Az első mérések most indulnak.")},
                            QStringList{}, false, false);
}

// C: the advice before the first analysis.
AdviceSet placeholderAdvice()
{
    return AdviceSet{QStringLiteral("Hagyd futni"),
                     {AdviceStep{QStringLiteral("collect.wait"), L("Hagyd az appot futni néhány percig.")}},
                     std::nullopt};
}

// D: the verdict before the first analysis: nothing rated, nothing measured.
ConnectionVerdict placeholderVerdict() { return ConnectionVerdict{}; }

QualityMetricSummary emptyMetric(const char* id, QString title)
{
    QualityMetricSummary m;
    m.id = QString::fromLatin1(id);
    m.title = std::move(title);
    return m;
}

// E: the quality panel before the first refresh.
QualityAssessment placeholderQualityAssessment(Timestamp constructedAt)
{
    QualityAssessment a;
    a.availability = QualityAvailability::collecting;
    a.window = QualityWindow::oneMinute;
    a.score = 0;
    a.absoluteScore = 0;
    a.percentage = 0;
    a.verdict = QualityVerdict::usableWithCallRisk;
    a.title = L("Az első perc gyűjtése");
    a.summary = L("Hagyd futni a mérést, amíg össze nem gyűlik az első egyperces ablak.");
    a.useCaseHint = L("Amint elég adat van, a Polvarine értékeli a jelenlegi hálózatot.");
    a.comparisonSummary = L("A referenciaablak még nincs meg.");
    a.weaknessSummary = L("Még nincs elég adat.");
    a.sessionStartedAt = constructedAt;
    a.windowStartedAt = constructedAt;
    a.windowEndedAt = constructedAt;
    a.elapsedSeconds = 0;
    a.gateway = emptyMetric("gateway", L("Router"));
    a.publicIP = emptyMetric("public", L("Szolgáltató"));
    a.dns = emptyMetric("dns", QStringLiteral("DNS"));
    a.http = emptyMetric("http", QStringLiteral("HTTP"));
    a.wifi = emptyMetric("wifi", QStringLiteral("Wi-Fi"));
    a.incidentCount = 0;
    a.dropoutCount = 0;
    return a;
}

std::map<QualityWindow, bool> noWindowReady()
{
    std::map<QualityWindow, bool> readiness;
    for (QualityWindow w : allQualityWindows())
        readiness[w] = false;
    return readiness;
}

// Seconds on the clock that keeps counting while the machine sleeps and is never stepped.
double monotonicSeconds()
{
    timespec ts{};
    ::clock_gettime(CLOCK_BOOTTIME, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

} // namespace

AppViewModel::AppViewModel(Services services, StorageHealth storageHealth, QObject* parent)
    : AppViewModel(std::move(services), std::move(storageHealth), Environment{}, parent)
{
}

AppViewModel::AppViewModel(Services services, StorageHealth storageHealth, Environment environment, QObject* parent)
    : QObject(parent), executor_(rt::QtExecutor().withGuard(lifetime_))
{
    clock_ = environment.clock ? std::move(environment.clock) : std::function<Timestamp()>(&nowTimestamp);
    monotonicClock_ = environment.monotonicClock ? std::move(environment.monotonicClock)
                                                 : std::function<double()>(&monotonicSeconds);
    icmpRefused_ = environment.icmpRefused ? std::move(environment.icmpRefused)
                                           : std::function<bool()>([] { return checkIcmpPermission() == IcmpPermission::refused; });
    evaluate_ = environment.evaluate
                    ? std::move(environment.evaluate)
                    : QualityEvaluation([](QualityWindow w, const MeasurementSession& s, Timestamp t,
                                           const std::vector<NetworkSample>& samples,
                                           const std::vector<WifiSnapshot>& wifi, const std::vector<Incident>& inc,
                                           const std::vector<DiagnosticEvent>& ev,
                                           const std::optional<QualityBaseline>& b) {
                          return QualityEvaluator::evaluate(w, s, t, samples, wifi, inc, ev, b);
                      });

    // 1. Published defaults; the placeholders carry the time of construction.
    liveStatus_ = LiveStatus::healthy;
    likelyCause_ = placeholderLikelyCause();
    attribution_ = placeholderAttribution();
    advice_ = placeholderAdvice();
    verdict_ = placeholderVerdict();
    qualityAssessment_ = placeholderQualityAssessment(now());
    selectedQualityWindow_ = QualityWindow::oneMinute;
    qualityWindowReadiness_ = noWindowReady();

    // 2-4. Preferences, the attribution thresholds, the update checker.
    preferences_ = std::make_unique<PreferencesStore>(std::move(environment.preferences));
    attributionEngine_ = AttributionEngine(environment.thresholds.value_or(AttributionThresholds::loadBundled()));
    updateChecker_ =
        std::make_unique<UpdateChecker>(environment.updateFeed ? *environment.updateFeed : configuredUpdateFeedUrl().value_or(QUrl()), appVersion());

    // 6. Storage health and the services of the composition.
    storageHealth_ = std::move(storageHealth);
    runtime_ = services.runtime ? std::move(services.runtime) : std::make_shared<rt::NetworkRuntime>();
    store_ = std::move(services.store);
    topology_ = std::move(services.topology);
    probeService_ = std::move(services.probeService);
    wifiProvider_ = std::move(services.wifiProvider);
    exportService_ = std::move(services.exportService);
    pathMonitor_ = std::move(services.pathMonitor);
    locationPermissionService_ = std::move(services.locationPermissionService);
    baselineKeeper_ = std::make_unique<BaselineKeeper>(store_);
    sleepWake_ = environment.sleepWake ? std::move(environment.sleepWake) : std::make_shared<LogindSleepMonitor>();
    dossierService_ = std::move(environment.dossierService);
    desktopFolder_ = std::move(environment.desktopFolder);
    folderOpener_ = environment.folderOpener.isEmpty() ? QStringList{QStringLiteral("xdg-open")}
                                                       : std::move(environment.folderOpener);
    liveWindowSeconds_ = environment.liveWindowSeconds > 0 ? environment.liveWindowSeconds : liveWindow;
    confirmationDuration_ = environment.confirmationDuration;
    followIpv6Preference();

    // 7-8. The location authorisation, now and as it changes, delivered on this thread's loop.
    if (locationPermissionService_) {
        locationAuthorizationStatus_ = locationPermissionService_->authorizationStatus();
        cancellables_.push_back(locationPermissionService_->subscribe(this, [this](int status) {
            publish(locationAuthorizationStatus_, status, &AppViewModel::locationAuthorizationStatusChanged);
        }));
    }
}

AppViewModel::~AppViewModel()
{
    for (const auto& connection : cancellables_)
        QObject::disconnect(connection);
    // The observers and the path handler would otherwise reach a model that is gone.
    removeSleepWakeObservers();
    if (isMonitoring_ && pathMonitor_)
        pathMonitor_->cancel();
}

std::shared_ptr<HistoryViewModel> AppViewModel::makeHistoryViewModel() const
{
    auto model = HistoryViewModel::create(store_);
    // The preferences live as long as this model, which outlives every screen.
    model->setRawRetention([preferences = preferences_.get()] { return preferences->retentionPolicy().rawSampleSeconds; });
    return model;
}

QString AppViewModel::appVersion()
{
    const QString version = QCoreApplication::applicationVersion();
    return version.isEmpty() ? QStringLiteral("0") : version;
}

void AppViewModel::setMarkerNote(const QString& note) { publish(markerNote_, note, &AppViewModel::markerNoteChanged); }

// ---------------------------------------------------------------------------------------------
void AppViewModel::recordEvent(DiagnosticEventKind kind, const QString& text)
{
    DiagnosticEvent event{newRecordId(), now(), kind, text};
    events_.push_back(event);
    if (events_.size() > maximumEvents)
        events_.erase(events_.begin(), events_.begin() + static_cast<std::ptrdiff_t>(events_.size() - maximumEvents));
    Q_EMIT eventsChanged();
    // The save holds the store, not the model: it finishes even when the model is gone.
    asio::co_spawn(
        rt::QtExecutor(),
        [store = store_, event = std::move(event)]() -> rt::awaitable<void> {
            try {
                co_await store->insertEvent(event);
            } catch (const std::exception&) {
                // The journal in memory keeps the event; a failed save is not worth a message.
            }
        },
        asio::detached);
}

std::optional<NodeFingerprint> AppViewModel::newestFingerprint() const
{
    if (wifiSnapshots_.empty())
        return std::nullopt;
    return wifiSnapshots_.back().nodeFingerprint();
}

void AppViewModel::beginMeasurementSession(Timestamp startedAt, std::optional<NodeFingerprint> fingerprint)
{
    MeasurementSession session{newRecordId(), startedAt, std::move(fingerprint), manualQualityResetGeneration_};
    publish(activeMeasurementSession_, std::optional<MeasurementSession>(session),
            &AppViewModel::activeMeasurementSessionChanged);
    publish(selectedQualityWindow_, QualityWindow::oneMinute, &AppViewModel::selectedQualityWindowChanged);
    updateQualityWindowReadiness(startedAt);
    publish(qualityAssessment_,
            QualityEvaluator::collectingAssessment(QualityWindow::oneMinute, session, startedAt, qualityBaseline_),
            &AppViewModel::qualityAssessmentChanged);
}

void AppViewModel::updateQualityWindowReadiness(Timestamp at)
{
    std::map<QualityWindow, bool> readiness = noWindowReady();
    if (activeMeasurementSession_) {
        const double elapsed = activeMeasurementSession_->elapsed(at);
        for (auto& [window, ready] : readiness)
            ready = duration(window) <= elapsed;
    }
    publish(qualityWindowReadiness_, std::move(readiness), &AppViewModel::qualityWindowReadinessChanged);
}

bool AppViewModel::isWindowReady(QualityWindow window) const
{
    const auto it = qualityWindowReadiness_.find(window);
    return it != qualityWindowReadiness_.end() && it->second;
}

void AppViewModel::selectQualityWindow(QualityWindow window)
{
    if (!isWindowReady(window))
        return;
    publish(selectedQualityWindow_, window, &AppViewModel::selectedQualityWindowChanged);
    refreshQualityAssessment(now());
}

void AppViewModel::refreshQualityAssessment(Timestamp at)
{
    Timestamp reference = at;
    if (!recentBatches_.empty())
        reference = std::max(reference, recentBatches_.back().timestamp);
    if (!wifiSnapshots_.empty())
        reference = std::max(reference, wifiSnapshots_.back().timestamp);
    if (!activeMeasurementSession_)
        beginMeasurementSession(reference, newestFingerprint());
    updateQualityWindowReadiness(reference);
    if (!isWindowReady(selectedQualityWindow_))
        publish(qualityAssessment_,
                QualityEvaluator::collectingAssessment(selectedQualityWindow_, *activeMeasurementSession_, reference,
                                                       qualityBaseline_),
                &AppViewModel::qualityAssessmentChanged);
    qualityRefreshTask_.replace(executor(), runQualityRefresh(*activeMeasurementSession_, reference,
                                                              selectedQualityWindow_, qualityBaseline_));
}

QualityBaseline AppViewModel::makeBaseline(const QualityAssessment& ten, const MeasurementSession& session) const
{
    QualityBaseline b;
    b.savedAt = now();
    b.sourceStart = ten.windowStartedAt;
    b.sourceEnd = ten.windowEndedAt;
    b.nodeFingerprint = session.nodeFingerprint.value_or(NodeFingerprint{});
    b.absoluteScore = ten.absoluteScore;
    b.assessment = ten;
    return b;
}

rt::awaitable<void> AppViewModel::runQualityRefresh(MeasurementSession session, Timestamp reference,
                                                    QualityWindow window, std::optional<QualityBaseline> baseline)
{
    using namespace asio::experimental::awaitable_operators;
    // This coroutine runs on the model's guarded executor: once the model is gone it never resumes.
    const auto store = store_;
    // The score speaks of the path the analysis reads (IPv4 wherever the network has it); an echo the
    // system did not let out is no evidence about the connection: neither scores.
    const AddressFamily family = analysedFamily_;
    const auto notScored = [family](const NetworkSample& s) {
        return s.family != family || incident_evidence::wasNotMeasured(s);
    };
    std::optional<FailureReport> failure;
    try {
        const Timestamp start = std::max(reference - duration(window), session.startedAt);
        auto [samples, wifi, incidents, events] =
            co_await (store->samples(start, reference, family) && store->wifiSnapshots(start, reference) &&
                      store->incidents(start, reference) && store->events(start, reference));
        std::erase_if(samples, notScored);

        if (reference - session.startedAt >= baselineWindowSeconds) {
            const Timestamp tenStart = reference - baselineWindowSeconds;
            auto tenSamples = co_await store->samples(tenStart, reference, family);
            std::erase_if(tenSamples, notScored);
            const auto tenWifi = co_await store->wifiSnapshots(tenStart, reference);
            const auto tenIncidents = co_await store->incidents(tenStart, reference);
            const auto tenEvents = co_await store->events(tenStart, reference);
            const QualityAssessment ten = evaluate_(QualityWindow::tenMinutes, session, reference, tenSamples, tenWifi,
                                                    tenIncidents, tenEvents, std::nullopt);
            if (ten.availability == QualityAvailability::ready &&
                BaselineKeeper::isMeasuredWindow(tenSamples, tenStart, reference)) {
                // Judged against the stored baseline, not the one this task set out with.
                const BaselineKeeper::Outcome outcome =
                    co_await baselineKeeper_->saveIfBetter(makeBaseline(ten, session));
                if (outcome.cancelled)
                    co_return;
                baseline = outcome.stored;
            }
        }

        const QualityAssessment assessment =
            evaluate_(window, session, reference, samples, wifi, incidents, events, baseline);
        if (co_await rt::isCancelled())
            co_return;
        publishQualityResult(std::move(baseline), assessment, reference);
    } catch (const asio::multiple_exceptions& e) {
        // Several of the concurrent reads failed: the first one speaks for all.
        failure = failureReport(e.first_exception());
    } catch (const std::exception& e) {
        failure = failureReport(e);
    }
    if (failure && !(co_await rt::isCancelled())) {
        qCWarning(log::monitoring, "Refreshing the quality assessment failed: %s", qUtf8Printable(failure->technical));
        setStatusMessage(LF("A minőségi panel frissítése nem sikerült: %@", {failure->sentence()}));
    }
}

void AppViewModel::publishQualityResult(std::optional<QualityBaseline> baseline, QualityAssessment assessment,
                                        Timestamp reference)
{
    const bool differs = !baseline || !qualityBaseline_ || baseline->savedAt != qualityBaseline_->savedAt;
    const bool announce = baseline && differs;
    publish(qualityBaseline_, baseline, &AppViewModel::qualityBaselineChanged);
    if (announce)
        recordEvent(DiagnosticEventKind::qualityBaselineUpdated,
                    QStringLiteral("Saved a new 10/10 reference baseline on ") +
                        // A session without a Wi-Fi reading (a cable) carries a fingerprint with nothing in it.
                        (baseline->nodeFingerprint == NodeFingerprint{} ? QStringLiteral("the current network")
                                                                        : baseline->nodeFingerprint.summary()) +
                        QStringLiteral("."));
    publish(qualityAssessment_, std::move(assessment), &AppViewModel::qualityAssessmentChanged);
    updateQualityWindowReadiness(reference);
}

void AppViewModel::resetQualitySession()
{
    ++manualQualityResetGeneration_;
    const Timestamp at = now();
    beginMeasurementSession(at, newestFingerprint());
    const QString where = wifiSnapshots_.empty() ? QStringLiteral("the current network")
                                                 : wifiSnapshots_.back().nodeFingerprint().summary();
    recordEvent(DiagnosticEventKind::qualitySessionReset,
                QStringLiteral("Quality session reset manually on ") + where + QStringLiteral("."));
    refreshQualityAssessment(at);
}

void AppViewModel::clearQualityBaseline()
{
    asio::co_spawn(executor(), runClearQualityBaseline(), asio::detached);
}

rt::awaitable<void> AppViewModel::runClearQualityBaseline()
{
    try {
        co_await baselineKeeper_->remove();
    } catch (const std::exception& e) {
        const FailureReport failure = failureReport(e);
        qCWarning(log::monitoring, "Clearing the quality baseline failed: %s", qUtf8Printable(failure.technical));
        setStatusMessage(LF("A referenciaablak törlése nem sikerült: %@", {failure.sentence()}));
        co_return;
    }
    publish(qualityBaseline_, std::optional<QualityBaseline>(), &AppViewModel::qualityBaselineChanged);
    recordEvent(DiagnosticEventKind::qualityBaselineCleared, QStringLiteral("Cleared the saved 10/10 reference baseline."));
    refreshQualityAssessment(now());
}

} // namespace pv
