// The monitoring side of the application model: starting and stopping, the three loops, sleep,
// wake and path events, the load-test hand-offs, and what each probe batch and Wi-Fi reading does.

#include "core/app/AppViewModel.h"

#include "core/app/ErrorText.h"
#include "core/app/IcmpPermission.h"
#include "core/app/IncidentEvidence.h"
#include "core/app/LivePicture.h"
#include "core/app/Presentation.h"
#include "core/app/PresentStretch.h"
#include "core/records/Localization.h"
#include "core/records/Logging.h"
#include "core/records/RecordId.h"
#include "core/store/SQLiteStore.h"

#include <QTimer>

#include <algorithm>
#include <cmath>

namespace pv {

namespace {
// The evidence file a failed write concerns (none for a store kept in memory).
QString storeFilePath(const AppViewModel& model)
{
    const std::optional<QUrl> url = model.databaseURL();
    return url ? url->toLocalFile() : QString();
}
} // namespace


namespace {

// The watchdog's notice on the status line; the first batch of the restarted sampler clears it.
const QString& probeRestartNotice()
{
    static const QString notice = QStringLiteral("The network probe loop stalled and was restarted automatically.");
    return notice;
}

template <typename T> bool trimToNewest(std::vector<T>& list, std::size_t limit)
{
    if (list.size() <= limit)
        return false;
    list.erase(list.begin(), list.begin() + static_cast<std::ptrdiff_t>(list.size() - limit));
    return true;
}

rt::awaitable<void> upsertQuietly(std::shared_ptr<SQLiteStore> store, Incident incident)
{
    try {
        co_await store->upsertIncident(std::move(incident));
    } catch (const std::exception&) {
        // The journal in memory holds the change; a failed save is not worth a message.
    }
}

rt::awaitable<void> insertMarkerQuietly(std::shared_ptr<SQLiteStore> store, ManualMarker marker)
{
    try {
        co_await store->insertMarker(std::move(marker));
    } catch (const std::exception&) {
        // The marker stays in the published list.
    }
}

// What the usage verdict needs before it rates anything (VerdictConfidence::isSufficient).
constexpr std::int64_t usageMinimumSamples = 20;
constexpr double usageMinimumSpan = 60;

double incidentConfidence(AttributionConfidence c)
{
    switch (c) {
    case AttributionConfidence::low: return 0.4;
    case AttributionConfidence::moderate: return 0.7;
    case AttributionConfidence::high: return 0.9;
    }
    return 0.4;
}

QString gradeWord(BufferbloatGrade g)
{
    switch (g) {
    case BufferbloatGrade::excellent: return QStringLiteral("Kiváló");
    case BufferbloatGrade::good: return QStringLiteral("Jó");
    case BufferbloatGrade::fair: return QStringLiteral("Közepes");
    case BufferbloatGrade::poor: return QStringLiteral("Gyenge");
    case BufferbloatGrade::severe: return QStringLiteral("Súlyos");
    }
    return {};
}

} // namespace

const QString AppViewModel::periodicWifiReason = QStringLiteral("periodic Wi-Fi sample");

void AppViewModel::setStatusMessage(std::optional<QString> message)
{
    statusKind_.reset(); // a message of its own replaces that of an ongoing failure
    ++statusGeneration_;
    isStatusConfirmation_ = false;
    if (message != exportStatusMessage_)
        qCInfo(log::monitoring, "Status line: %s", message ? qUtf8Printable(*message) : "(none)");
    publish(exportStatusMessage_, std::move(message), &AppViewModel::exportStatusMessageChanged);
}

void AppViewModel::setStatusConfirmation(const QString& message)
{
    statusKind_.reset();
    const int generation = ++statusGeneration_;
    isStatusConfirmation_ = true;
    qCInfo(log::monitoring, "Status line (confirmation): %s", qUtf8Printable(message));
    publish(exportStatusMessage_, std::optional<QString>(message), &AppViewModel::exportStatusMessageChanged);
    QTimer::singleShot(confirmationDuration_, this, [this, generation] {
        if (generation == statusGeneration_)
            setStatusMessage(std::nullopt);
    });
}

// --- lifecycle ---------------------------------------------------------------------------------
void AppViewModel::startMonitoring()
{
    if (isMonitoring_)
        return;
    publish(isMonitoring_, true, &AppViewModel::isMonitoringChanged);
    if (locationPermissionService_)
        locationPermissionService_->requestIfNeeded(); // asks only while undecided; nothing waits

    installSleepWakeObservers();
    if (pathMonitor_) {
        // The monitor calls this on its own thread: only the guarded post crosses to ours, and it
        // is dropped once the model is gone.
        const rt::QtExecutor ex = executor();
        pathMonitor_->start([this, ex](const PathSnapshot& snapshot) {
            asio::post(ex, [this, snapshot] { recordPathEvent(snapshot); });
        });
    }
    recordEvent(DiagnosticEventKind::monitoringStarted, QStringLiteral("Continuous monitoring started."));
    startProbeLoop(false);
    wifiTask_.replace(executor(), wifiLoop());
    probeWatchdogTask_.replace(executor(), watchdogLoop());
}

void AppViewModel::stopMonitoring()
{
    if (!isMonitoring_)
        return;
    publish(isMonitoring_, false, &AppViewModel::isMonitoringChanged);
    ++measurementCuts_; // the batch in flight, if any, is cut short: it is not taken in
    probeTask_.cancel();
    asio::co_spawn(executor(), stopProbeService(), asio::detached);
    wifiTask_.cancel();
    probeWatchdogTask_.cancel();
    qualityRefreshTask_.cancel();
    removeSleepWakeObservers();
    if (pathMonitor_)
        pathMonitor_->cancel();
    recordEvent(DiagnosticEventKind::monitoringStopped, QStringLiteral("Continuous monitoring stopped."));
}

void AppViewModel::toggleMonitoring()
{
    if (isMonitoring_)
        stopMonitoring();
    else
        startMonitoring();
}

rt::awaitable<void> AppViewModel::stopProbeService()
{
    co_await probeService_->stop();
}

rt::awaitable<void> AppViewModel::rebindProbeService(QString interfaceName)
{
    co_await probeService_->rebind(std::optional<QString>(std::move(interfaceName)));
}

void AppViewModel::installSleepWakeObservers()
{
    if (!observers_.empty() || !sleepWake_)
        return;
    // Queued, so that each notification only starts work on this thread's next pass.
    observers_.push_back(connect(
        sleepWake_.get(), &SleepWakeSource::aboutToSleep, this,
        [this] {
            // Echoes in flight now get no answer while the machine sleeps.
            ++measurementCuts_;
            recordEvent(DiagnosticEventKind::sleep, QStringLiteral("The computer went to sleep."));
            sleepWake_->sleepRecorded();
        },
        Qt::QueuedConnection));
    observers_.push_back(connect(
        sleepWake_.get(), &SleepWakeSource::wokeUp, this,
        [this] {
            // The watchdog counts from the wake, not from the last progress before the sleep.
            lastProbeProgressTimestamp_ = monotonicClock_();
            ++measurementCuts_; // a batch begun before the sleep went on through it
            recordEvent(DiagnosticEventKind::wake, QStringLiteral("The computer woke up."));
        },
        Qt::QueuedConnection));
    sleepWake_->activate();
}

void AppViewModel::removeSleepWakeObservers()
{
    for (const auto& connection : observers_)
        QObject::disconnect(connection);
    if (!observers_.empty() && sleepWake_)
        sleepWake_->deactivate();
    observers_.clear();
}

void AppViewModel::recordPathEvent(const PathSnapshot& snapshot)
{
    recordEvent(DiagnosticEventKind::pathChanged,
                QStringLiteral("Path status: ") + snapshot.statusDescription + QStringLiteral(", Wi-Fi: ") +
                    (snapshot.usesWiFi ? QStringLiteral("yes") : QStringLiteral("no")) +
                    QStringLiteral(", interfaces: ") + snapshot.interfaceNames.join(QStringLiteral(", ")));
}

// --- the loops ---------------------------------------------------------------------------------
void AppViewModel::startProbeLoop(bool isRestart)
{
    probeTask_.cancel();
    lastProbeProgressTimestamp_ = monotonicClock_();
    if (isRestart)
        recordEvent(DiagnosticEventKind::probeRestarted,
                    QStringLiteral("Polvarine restarted the network probe loop after it stalled."));
    probeTask_.replace(executor(), samplerLoop());
}

rt::awaitable<void> AppViewModel::repeatWithPause(std::function<rt::awaitable<void>()> pass,
                                                  std::chrono::seconds pause)
{
    // Runs on the guarded executor: once the model is gone this coroutine is never resumed, and its
    // frames are destroyed with the dropped work. The copy keeps the timers' loop alive until then.
    const std::shared_ptr<rt::NetworkRuntime> runtime = runtime_;
    // (GCC 12 miscompiles a co_await inside a loop condition: the tests stay in the body.)
    for (;;) {
        if (co_await rt::isCancelled())
            break;
        co_await pass();
        const bool slept = co_await rt::sleepFor(runtime->executor(), pause);
        if (!slept)
            break;
    }
    co_return;
}

rt::awaitable<void> AppViewModel::samplerLoop()
{
    const TopologySnapshot topology = co_await topology_->snapshot();
    co_await probeService_->start(topology.primaryInterface);
    // The pause runs from the end of one cycle to the start of the next.
    co_await repeatWithPause([this] { return runProbeCycle(); }, probePause);
}

rt::awaitable<void> AppViewModel::wifiLoop()
{
    return repeatWithPause([this] { return captureWifiSnapshot(periodicWifiReason); }, wifiPause);
}

rt::awaitable<void> AppViewModel::watchdogLoop()
{
    return repeatWithPause([this] { return checkProbeWatchdogStep(); }, watchdogPause);
}

rt::awaitable<void> AppViewModel::checkProbeWatchdogStep()
{
    checkProbeWatchdog();
    co_return;
}

void AppViewModel::checkProbeWatchdog()
{
    if (!isMonitoring_ || !lastProbeProgressTimestamp_)
        return;
    // On the monotonic clock: a step of the wall clock is no stall.
    const double at = monotonicClock_();
    const double stalled = at - *lastProbeProgressTimestamp_;
    if (stalled < probeStallThreshold)
        return;
    if (lastProbeRestartTimestamp_ && at - *lastProbeRestartTimestamp_ < probeRestartGap)
        return;
    const auto seconds = static_cast<long long>(std::round(stalled));
    recordEvent(DiagnosticEventKind::probeStalled, QStringLiteral("The network probe loop made no progress for %1 "
                                                                  "seconds. Restarting the sampler.")
                                                       .arg(seconds));
    qCWarning(log::monitoring, "The probe loop stalled for %lld s; restarting it", seconds);
    setStatusMessage(probeRestartNotice());
    lastProbeRestartTimestamp_ = at;
    startProbeLoop(true);
}

// --- load-test hand-offs -----------------------------------------------------------------------
void AppViewModel::suspendForLoadTest()
{
    if (!isLoadTestRunning_) {
        isLoadTestRunning_ = true;
        Q_EMIT isLoadTestRunningChanged();
    }
    if (!isMonitoring_)
        return;
    wasMonitoringBeforeLoadTest_ = true;
    stopMonitoring();
    recordEvent(DiagnosticEventKind::monitoringStopped, loadTestPauseDetails());
}

QString loadTestPauseDetails()
{
    return L("A folyamatos mérés szünetel a sebességteszt idejére, hogy a teszt saját terhelése ne kerüljön be "
             "hálózati hibaként.");
}

void AppViewModel::resumeAfterLoadTest()
{
    if (isLoadTestRunning_) {
        isLoadTestRunning_ = false;
        Q_EMIT isLoadTestRunningChanged();
    }
    if (!wasMonitoringBeforeLoadTest_)
        return;
    wasMonitoringBeforeLoadTest_ = false;
    startMonitoring();
    recordEvent(DiagnosticEventKind::monitoringStarted, L("A sebességteszt véget ért, a folyamatos mérés folytatódik."));
}

QString loadTestMarkerText(const LoadTestResult& result)
{
    const std::optional<double> increase = result.latencyIncreaseMilliseconds();
    QString text = increase ? LF("Terhelési teszt: %.0f Mbps le / %.0f Mbps fel, a késleltetés %.0f ms-mal nőtt (%@).",
                                 {result.downloadMbps(), result.uploadMbps(), *increase, gradeWord(result.grade())})
                            : LF("Terhelési teszt: %.0f Mbps le / %.0f Mbps fel, terhelés alatt egyetlen "
                                 "késleltetésmérésre sem jött válasz (%@).",
                                 {result.downloadMbps(), result.uploadMbps(), gradeWord(result.grade())});
    // What a direction's figures rest on when its load did not simply flow for the whole phase.
    const auto directionNote = [](const LoadPhaseResult& phase, bool graded, bool upload) -> QString {
        if (phase.stoppedFlowing())
            return upload ? LF("A feltöltés az első %@ másodperc után elakadt: a %.0f Mbps az addigi sebesség, a "
                               "késleltetés nem volt mérhető.",
                               {loadSecondsText(phase.loadEndedAtSeconds), phase.throughputMbps()})
                          : LF("A letöltés az első %@ másodperc után elakadt: a %.0f Mbps az addigi sebesség, a "
                               "késleltetés nem volt mérhető.",
                               {loadSecondsText(phase.loadEndedAtSeconds), phase.throughputMbps()});
        if (!phase.pauses.empty()) {
            const QString stood =
                phase.pauses.size() == 1
                    ? LF("%.1f másodpercre megállt", {phase.pausedSeconds()})
                    : LF("%d alkalommal, összesen %.1f másodpercre megállt",
                         {static_cast<long long>(phase.pauses.size()), phase.pausedSeconds()});
            if (graded)
                return upload ? LF("A feltöltés közben a terhelés %@, majd folytatódott; a számai a terhelt "
                                   "másodpercekből valók.", {stood})
                              : LF("A letöltés közben a terhelés %@, majd folytatódott; a számai a terhelt "
                                   "másodpercekből valók.", {stood});
            return upload ? LF("A feltöltés közben a terhelés %@, a késleltetés nem volt mérhető.", {stood})
                          : LF("A letöltés közben a terhelés %@, a késleltetés nem volt mérhető.", {stood});
        }
        if (!graded)
            return upload ? L("A feltöltés alatt a késleltetés nem volt mérhető.")
                          : L("A letöltés alatt a késleltetés nem volt mérhető.");
        return {};
    };
    for (const QString& note : {directionNote(result.download, result.isDownloadGraded(), false),
                                directionNote(result.upload, result.isUploadGraded(), true)})
        if (!note.isEmpty())
            text += QLatin1Char(' ') + note;
    return text;
}

rt::awaitable<void> AppViewModel::recordLoadTest(LoadTestResult result)
{
    std::optional<FailureReport> failure;
    try {
        co_await store_->insertLoadTest(result);
    } catch (const std::exception& e) {
        failure = failureReport(e);
    }
    if (failure) {
        qCWarning(log::monitoring, "Storing the load test result failed: %s", qUtf8Printable(failure->technical));
        setStatusMessage(LF("A terhelési teszt eredményét nem sikerült elmenteni: %@", {failure->sentence()}));
        co_return;
    }
    latestLoadTest_ = StoredLoadTest::of(result);
    Q_EMIT latestLoadTestChanged();
    recordEvent(DiagnosticEventKind::markerAdded, loadTestMarkerText(result));
}

// --- one probe cycle ---------------------------------------------------------------------------
FaultAttribution AppViewModel::offlineAttribution()
{
    return FaultAttribution(
        FaultLocation::offline, IncidentSeverity::critical, AttributionConfidence::high,
        L("A Mac nem talál útvonalat a hálózat felé."),
        QStringList{L("A rendszer szerint nincs alapértelmezett útvonal — a forgalom el sem indul a gépről."),
                    L("Ez a Wi-Fi vagy a kábeles kapcsolat megszakadása, nem a szolgáltatóé.")},
        QStringList{}, /*isOutage*/ true, /*isMeasurementArtefact*/ false);
}

rt::awaitable<std::optional<RouteSnapshot>> AppViewModel::readRoute()
{
    // With the IPv6 path beside IPv4 for the probe service.
    co_return routeSnapshotOf(co_await topology_->snapshot());
}

void AppViewModel::noteRouteChanges(const RouteSnapshot& route)
{
    if (!currentRoute_)
        return;
    const RouteSnapshot& old = *currentRoute_;
    if (old.interfaceName != route.interfaceName) {
        recordEvent(DiagnosticEventKind::interfaceChanged, QStringLiteral("Interface changed from ") +
                                                               old.interfaceName + QStringLiteral(" to ") +
                                                               route.interfaceName + QStringLiteral("."));
        // Not awaited: the cycle goes on while the probe service pins its socket anew.
        asio::co_spawn(executor(), rebindProbeService(route.interfaceName), asio::detached);
    }
    if (old.localAddress != route.localAddress)
        recordEvent(DiagnosticEventKind::localAddressChanged, QStringLiteral("Local IP changed from ") +
                                                                  old.localAddress + QStringLiteral(" to ") +
                                                                  route.localAddress + QStringLiteral("."));
    if (old.gatewayAddress != route.gatewayAddress)
        recordEvent(DiagnosticEventKind::gatewayChanged, QStringLiteral("Gateway changed from ") +
                                                             old.gatewayAddress + QStringLiteral(" to ") +
                                                             route.gatewayAddress + QStringLiteral("."));
}

rt::awaitable<void> AppViewModel::runProbeCycle()
{
    const double cycleStart = monotonicClock_();
    lastProbeProgressTimestamp_ = cycleStart;
    const std::optional<RouteSnapshot> route = co_await readRoute();
    if (!route) {
        lastProbeProgressTimestamp_ = monotonicClock_();
        recordEvent(DiagnosticEventKind::pathChanged,
                    QStringLiteral("No default route was available during the probe cycle."));
        publishOfflineAnalysis();
        applyNoRoute(now());
        co_return;
    }
    if (noRouteSince_ && !routeReturnedAt_)
        routeReturnedAt_ = now(); // the first cycle that sees the route again
    noteRouteChanges(*route);
    currentRoute_ = route;

    const std::uint64_t cutsBefore = measurementCuts_;
    ProbeBatch batch = co_await probeService_->collectBatch(*route);
    lastProbeProgressTimestamp_ = monotonicClock_();
    if (batch.cutShort || measurementCuts_ != cutsBefore) {
        // Its unanswered echoes were cut off, not lost: neither stored nor analysed.
        qCInfo(log::monitoring, "A probe batch was cut short (%s) and is left out",
               batch.cutShort ? "the probe was stopped or re-pinned" : "measuring stopped or the computer slept");
        co_return;
    }
    publish(lastProbeBatchTimestamp_, std::optional<Timestamp>(batch.timestamp),
            &AppViewModel::lastProbeBatchTimestampChanged);
    // The sampler works again once a cycle begun after the last restart brings its batch (the
    // stalled cycle's own late batch does not count); the notice has then said its piece.
    if (exportStatusMessage_ == probeRestartNotice() && lastProbeRestartTimestamp_ &&
        cycleStart >= *lastProbeRestartTimestamp_)
        setStatusMessage(std::nullopt);
    recentBatches_.push_back(batch);
    trimToNewest(recentBatches_, maximumBatches);
    refreshAnalysedFamily(/*newestOnly*/ true);
    Q_EMIT recentBatchesChanged();
    noteUnmeasuredEchoes(batch);

    // Batches that could not be stored wait in memory (as many as the published list holds) and
    // go first once a save succeeds again. A sample is written by its id, replacing itself, so a
    // batch that had been stored in part gains no second copy of any sample.
    std::vector<ProbeBatch> pending = std::move(unsavedBatches_);
    unsavedBatches_.clear();
    pending.push_back(std::move(batch));
    std::size_t stored = 0;
    std::optional<FailureReport> failure;
    for (; stored < pending.size(); ++stored) {
        try {
            co_await store_->insertSamples(pending[stored]);
        } catch (const std::exception& e) {
            failure = failureReport(e);
        }
        if (failure)
            break;
    }
    if (stored < pending.size()) {
        // Batches of a cycle that ran meanwhile (after a sampler restart) stay behind these.
        unsavedBatches_.insert(unsavedBatches_.begin(), std::make_move_iterator(pending.begin() + stored),
                               std::make_move_iterator(pending.end()));
        trimToNewest(unsavedBatches_, maximumBatches);
    }
    const Timestamp at = pending.back().timestamp;
    if (failure) {
        // Cleanup waits for a stored batch.
        noteFailure(FailureKind::samples, LF("A mérést nem sikerült elmenteni: %@", {failure->sentenceNaming(storeFilePath(*this))}),
                    QStringLiteral("Storing a probe batch failed: ") + failure->technical);
        setRecordingFailing(true);
    } else {
        if (stored > 1)
            qCInfo(log::monitoring, "Stored %d probe batches that had waited in memory", static_cast<int>(stored - 1));
        noteRecovered(FailureKind::samples);
        setRecordingFailing(false);
        co_await performCleanupIfDue(at);
    }
    refreshAnalysis(at);
}

void AppViewModel::noteUnmeasuredEchoes(const ProbeBatch& batch)
{
    const bool unmeasured = std::any_of(batch.samples.begin(), batch.samples.end(), [](const NetworkSample& s) {
        return incident_evidence::wasNotMeasured(s);
    });
    const bool echoAnswered = std::any_of(batch.samples.begin(), batch.samples.end(), [](const NetworkSample& s) {
        return (s.target.kind == ProbeKind::gateway || s.target.kind == ProbeKind::publicIP) && s.success;
    });
    const std::optional<QString> message = icmpPermissionMessage(IcmpPermission::refused);
    if (unmeasured && !echoAnswered && icmpRefused_()) {
        noteFailure(FailureKind::icmpPermission, *message,
                    QStringLiteral("ICMP sockets are not permitted for this user (net.ipv4.ping_group_range); the "
                                   "echo samples are left out of the analysis"));
        icmpReopenRequested_ = false;
        return;
    }
    if (unmeasured && !echoAnswered) {
        // The system allows the socket now, but the probe service gave up on it when it started:
        // it opens one on its own interface, and the next batch's first answered echo says so.
        if (!icmpReopenRequested_ && currentRoute_) {
            icmpReopenRequested_ = true;
            qCInfo(log::monitoring, "ICMP sockets are permitted again; reopening the echo socket");
            asio::co_spawn(executor(), rebindProbeService(currentRoute_->interfaceName), asio::detached);
        }
        return;
    }
    icmpReopenRequested_ = false;
    noteRecovered(FailureKind::icmpPermission);
    if (exportStatusMessage_ == message)
        setStatusMessage(std::nullopt); // the start-up check's message as well
}

void AppViewModel::setRecordingFailing(bool failing)
{
    if (failing != isRecordingFailing_)
        publish(isRecordingFailing_, failing, &AppViewModel::isRecordingFailingChanged);
}

void AppViewModel::noteFailure(FailureKind kind, const QString& statusLine, const QString& logLine)
{
    // One log line when a kind of failure begins, not one per batch.
    if (failingKinds_.insert(kind).second)
        qCWarning(log::monitoring, "%s", qUtf8Printable(logLine));
    setStatusMessage(statusLine);
    statusKind_ = kind;
}

void AppViewModel::noteRecovered(FailureKind kind)
{
    if (failingKinds_.erase(kind) == 0)
        return;
    qCInfo(log::monitoring, "%s", kind == FailureKind::samples ? "Storing probe batches works again"
                                 : kind == FailureKind::cleanup ? "The store cleanup works again"
                                 : kind == FailureKind::wifi    ? "Storing Wi-Fi readings works again"
                                                                : "ICMP sockets can be opened again");
    if (statusKind_ == kind)
        setStatusMessage(std::nullopt);
}

rt::awaitable<void> AppViewModel::performCleanupIfDue(Timestamp at)
{
    if (lastCleanupTimestamp_ && at - *lastCleanupTimestamp_ < cleanupInterval)
        co_return;
    const RetentionPolicy policy = preferences_->retentionPolicy();
    std::optional<FailureReport> failure;
    try {
        co_await store_->rollUpAndPrune(policy, at);
    } catch (const std::exception& e) {
        failure = failureReport(e);
    }
    if (failure) {
        noteFailure(FailureKind::cleanup, LF("A régi mérések karbantartása nem sikerült: %@", {failure->sentenceNaming(storeFilePath(*this))}),
                    QStringLiteral("The store cleanup failed: ") + failure->technical);
        co_return;
    }
    noteRecovered(FailureKind::cleanup);
    lastCleanupTimestamp_ = at;
    pruneInMemoryHistory(at - 86'400);
}

void AppViewModel::pruneInMemoryHistory(Timestamp cutoff)
{
    const auto oldEvent = [cutoff](const DiagnosticEvent& e) { return e.timestamp < cutoff; };
    if (std::erase_if(events_, oldEvent) > 0)
        Q_EMIT eventsChanged();
    const auto oldMarker = [cutoff](const ManualMarker& m) { return m.timestamp < cutoff; };
    if (std::erase_if(markers_, oldMarker) > 0)
        Q_EMIT markersChanged();
    // An open incident stays whatever its age: it is the one the analysis refreshes and later
    // closes, and dropping it would open a second incident (and notification) for the same fault
    // while the stored row stayed open for ever.
    const auto oldIncident = [cutoff](const Incident& i) { return i.endTimestamp && *i.endTimestamp < cutoff; };
    if (std::erase_if(incidents_, oldIncident) > 0)
        Q_EMIT incidentsChanged();
}

std::vector<NetworkSample> AppViewModel::liveSamples(Timestamp referenceTime) const
{
    return samplesBetween(referenceTime - liveWindowSeconds_, referenceTime);
}

std::vector<NetworkSample> AppViewModel::samplesBetween(Timestamp from, Timestamp to) const
{
    // [from, to]: a sample "from the future" (after a step of the wall clock) is not evidence
    // about now, and an echo that never left the machine is no evidence at all. Only the analysed
    // family's samples (the IPv6 path is judged apart).
    std::vector<NetworkSample> samples;
    for (const ProbeBatch& batch : analysedBatches_)
        for (const NetworkSample& s : batch.samples)
            if (s.timestamp >= from && s.timestamp <= to && !incident_evidence::wasNotMeasured(s))
                samples.push_back(s);
    std::stable_sort(samples.begin(), samples.end(),
                     [](const NetworkSample& a, const NetworkSample& b) { return a.timestamp < b.timestamp; });
    return samples;
}

std::vector<WifiSnapshot> AppViewModel::readingsBetween(Timestamp from, Timestamp to) const
{
    std::vector<WifiSnapshot> readings;
    for (const WifiSnapshot& w : wifiSnapshots_)
        if (w.timestamp >= from && w.timestamp <= to)
            readings.push_back(w);
    return readings;
}

bool AppViewModel::isMeasuredOverCable(const std::vector<WifiSnapshot>& liveReadings)
{
    // The Wi-Fi loop reads the radio every few seconds; a live window without a reading means the
    // machine has no Wi-Fi link to speak of (the chain then says "Kábelen mérünk").
    return liveReadings.empty();
}

// --- one Wi-Fi reading -------------------------------------------------------------------------
QString AppViewModel::wifiNameHint()
{
    return L("A Wi-Fi mérhető, de a hálózat nevéhez és a hozzáférési pont azonosítójához a macOS "
             "helymeghatározási engedélyt kér.");
}

rt::awaitable<void> AppViewModel::captureWifiSnapshot(QString reason)
{
    const std::optional<WifiSnapshot> reading = co_await wifiProvider_->currentSnapshot(currentRoute_);
    if (!reading)
        co_return;
    const WifiSnapshot& snapshot = *reading;
    if (!wifiSnapshots_.empty() && QualityEvaluator::hasNodeChanged(wifiSnapshots_.back(), snapshot)) {
        recordEvent(DiagnosticEventKind::wifiNodeChanged,
                    QStringLiteral("Wi-Fi node changed from ") + wifiSnapshots_.back().nodeFingerprint().summary() +
                        QStringLiteral(" to ") + snapshot.nodeFingerprint().summary() + QStringLiteral("."));
        beginMeasurementSession(snapshot.timestamp, snapshot.nodeFingerprint());
    } else if (!activeMeasurementSession_) {
        beginMeasurementSession(snapshot.timestamp, snapshot.nodeFingerprint());
    }
    wifiSnapshots_.push_back(snapshot);
    trimToNewest(wifiSnapshots_, maximumWifiSnapshots);
    Q_EMIT wifiSnapshotsChanged();

    std::optional<FailureReport> failure;
    try {
        co_await store_->insertWifiSnapshot(snapshot);
    } catch (const std::exception& e) {
        failure = failureReport(e);
    }
    if (failure)
        noteFailure(FailureKind::wifi, LF("A Wi-Fi pillanatképet nem sikerült elmenteni: %@", {failure->sentenceNaming(storeFilePath(*this))}),
                    QStringLiteral("Storing a Wi-Fi reading failed: ") + failure->technical);
    else
        noteRecovered(FailureKind::wifi);

    // Linux has no permission gate for the network name: the hint is for an associated interface
    // whose name could not be read, and it goes away as soon as that no longer holds.
    const bool associated = snapshot.bssid.has_value() || snapshot.rssi.has_value();
    const QString hint = wifiNameHint();
    if (associated && !snapshot.ssid)
        setStatusMessage(hint);
    else if (exportStatusMessage_ == hint)
        setStatusMessage(std::nullopt);

    refreshAnalysis(snapshot.timestamp);
    if (reason != periodicWifiReason)
        recordEvent(DiagnosticEventKind::pathChanged, reason);
}

// --- analysis and the incident journal ---------------------------------------------------------
void AppViewModel::refreshAnalysis(Timestamp at)
{
    const std::vector<NetworkSample> samples = liveSamples(at);
    const std::vector<WifiSnapshot> wifi = readingsBetween(at - liveWindowSeconds_, at);

    // The window's answer can name an outage only once the whole window has failed, and keeps
    // naming a fault until it has drained. The newest minute, asked the same way, names an outage
    // within a minute; what is present is decided from both.
    live_picture::Answers answers;
    answers.window = attributionEngine_.attribute(samples, wifi, at);
    answers.windowSeconds = liveWindowSeconds_;
    answers.newestMinuteSeconds = std::min(outageWindowSeconds, liveWindowSeconds_);
    if (answers.newestMinuteSeconds < liveWindowSeconds_) {
        const AttributionThresholds& t = attributionEngine_.thresholds();
        const double recent = at - live_picture::newestStretchStart(samples, at, t.minimumSamplesPerLeg,
                                                                    t.minimumWindowSeconds, at - liveWindowSeconds_);
        answers.newestMinuteSeconds = recent;
        const std::vector<NetworkSample> newestSamples = samplesBetween(at - recent, at);
        // The radio is as the last reading found it, even when that came just before this stretch.
        std::vector<WifiSnapshot> newestReadings = readingsBetween(at - recent, at);
        if (newestReadings.empty() && !wifi.empty())
            newestReadings.push_back(wifi.back());
        answers.newestMinute = attributionEngine_.attribute(newestSamples, newestReadings, at);
        answers.newestMinuteAnswered =
            std::any_of(newestSamples.begin(), newestSamples.end(), [](const NetworkSample& x) {
                return x.success && x.target.kind != ProbeKind::gateway;
            });
    }
    const live_picture::Decision decision =
        live_picture::decide(answers, heldOutage_, at, journalState(), journalEvidence());
    heldOutage_ = decision.reading.held;
    // While the cycles find no default route, that is the live state: the window's older batches
    // (refreshed by a Wi-Fi reading) must not close the offline incident meanwhile.
    const bool journalled = !noRouteSince_ || routeReturnedAt_;
    attributionWindowSeconds_ = journalled ? decision.liveSeconds : decision.reading.seconds;
    endedFault_ = journalled ? decision.ended : std::nullopt;
    // IPv4 stalled beyond the router while IPv6 gets through is the provider's IPv4 fault, journalled
    // with the IPv6 path's incidents: no outage, and nothing in the IPv4 journal meanwhile.
    Ipv6PathReading ipv6 = readIpv6Path(at);
    const bool ipv4DownBeside = ipv6.judgement.state == Ipv6PathState::ipv4Down;
    const bool ipv6AnswersNow =
        !recentBatches_.empty() &&
        std::any_of(recentBatches_.back().samples.begin(), recentBatches_.back().samples.end(), [](const NetworkSample& s) {
            return s.family == AddressFamily::ipv6 && s.target.kind == ProbeKind::publicIP && s.success;
        });
    live_picture::JournalAction journal = decision.journal;
    journal.attribution = besideIpv6(journal.attribution, ipv6.judgement, ipv6AnswersNow);
    // Once IPv4 is back, the window still holds its failing batches: that fault has its incident.
    if (journal.change == live_picture::Change::open &&
        std::any_of(incidents_.begin(), incidents_.end(), [&](const Incident& i) {
            return i.classification == IncidentClassification::ipv4ProviderIssue &&
                   i.startTimestamp <= journal.start + incident_evidence::episodeGap &&
                   (!i.endTimestamp || *i.endTimestamp >= journal.start);
        }))
        journal.change = live_picture::Change::none;
    // The journal first: an incident this refresh opens or closes bounds the present it speaks of.
    if (journalled) {
        if (!ipv4DownBeside)
            applyJournal(journal, at, /*noRoute*/ false);
        else if (const std::optional<std::size_t> open = openIncidentIndex())
            // What this fault opened there is withdrawn (one incident for one fault); an older fault
            // ends where IPv4 alone began to fail.
            closeOpenIncident(std::max(incidents_[*open].startTimestamp, ipv6.judgement.since.value_or(at)));
    }
    // One present for every surface: the stretch since the open incident began or the newest fault
    // ended, its figures, and a total failure of the newest batch said from that batch on.
    const present::Picture picture = present::picture(
        {analysedBatches_, incidents_, wifi, attributionEngine_.thresholds(),
         journalled ? decision.live : decision.reading.attribution, endedFault_, at, liveWindowSeconds_});
    const present::Stretch& stretch = picture.stretch;
    const bool overCable = picture.overCable;
    const FaultAttribution attribution = besideIpv6(journalled ? picture.attribution : decision.reading.attribution,
                                                    ipv6.judgement, ipv6AnswersNow);
    evidenceLead_ = journalled ? picture.evidenceLead : QString();
    // The advice hears how the radio is doing, so that a roam during the window can be advised on.
    AdviceSet advice =
        AdviceEngine::advise(attribution, attribution::assessRadio(attributionEngine_.thresholds(), wifi));
    if (overCable)
        advice = AdviceEngine::forWiredLink(std::move(advice));
    // The usage ratings speak of now: the newest stretch of at least a minute that holds the
    // samples the verdict needs, not the ten minutes the window still remembers.
    // Once a fault of the line has ended, its last batches belong to it, not to the present.
    Timestamp usageEarliest = at - liveWindowSeconds_;
    if (endedFault_ && endedFault_->endedAt && endedFault_->location != FaultLocation::dns)
        usageEarliest = std::max(usageEarliest, std::nextafter(*endedFault_->endedAt, at + 1));
    if (stretch.kind == present::Stretch::Kind::faultEnded)
        usageEarliest = std::max(usageEarliest, std::nextafter(stretch.from, at + 1));
    // A spike that is over is not the present either: the uses are rated from the batches around it.
    const std::optional<std::pair<Timestamp, Timestamp>> spike =
        present::endedSpike(analysedBatches_, attributionEngine_.thresholds(), stretch, at);
    const auto notOfSpike = [&](std::vector<NetworkSample> kept) {
        if (spike)
            std::erase_if(kept, [&](const NetworkSample& x) {
                return x.timestamp >= spike->first && x.timestamp <= spike->second;
            });
        return kept;
    };
    // While a fault bounds the present, the uses count its whole stretch, as the cards and the bullets
    // do, once it holds enough to judge by; before that, the newest stretch that does.
    Timestamp usageFrom = stretch.kind == present::Stretch::Kind::faultEnded
                              ? usageEarliest
                              : live_picture::newestStretchStart(notOfSpike(samples), at, usageMinimumSamples,
                                                                 usageMinimumSpan, usageEarliest);
    std::optional<ConnectionVerdict> ofFault;
    if (stretch.kind == present::Stretch::Kind::faultBegan) {
        const Timestamp from = std::max(usageEarliest, stretch.from);
        ofFault = VerdictEngine::assess(samplesBetween(from, at), at);
        live_picture::limitUsage(*ofFault, attribution, samplesBetween(from, at));
        if (ofFault->confidence.sampleCount >= usageMinimumSamples && ofFault->confidence.spanSeconds >= usageMinimumSpan)
            usageFrom = from;
    }
    const std::vector<NetworkSample> usageSamples = notOfSpike(samplesBetween(usageFrom, at));
    ConnectionVerdict verdict = VerdictEngine::assess(usageSamples, at);
    live_picture::limitUsage(verdict, attribution, usageSamples);
    // Rated over the newest stretch that holds enough, the uses still quote the fault's own figures.
    if (ofFault)
        verdict.evidence = ofFault->evidence;
    if (attribution.isOutage) {
        // Nothing gets through: no use works, whatever the minute before the outage measured.
        for (UsageCapability u : allUsageCapabilities())
            verdict.setRating(u, CapabilityRating::poor);
        verdict.evidence.prepend(L("Most semmi sem jut ki az internetre: egyetlen oldal, hívás vagy adás sem indul el."));
    }
    publishAnalysis(attribution, std::move(advice), std::move(verdict));
    if (journalled)
        setLiveStatus(attribution);
    applyIpv6Path(std::move(ipv6));
    logHeadline();
    refreshQualityAssessment(at);
}

void AppViewModel::publishOfflineAnalysis()
{
    // Without a route nothing reaches the network: no headline, usage rating or advice from the
    // window's older batches may read as fine meanwhile.
    FaultAttribution attribution = offlineAttribution();
    attributionWindowSeconds_ = 0;
    evidenceLead_.clear();
    endedFault_.reset();
    AdviceSet advice = AdviceEngine::advise(attribution, std::nullopt);
    const Timestamp at = now();
    if (isMeasuredOverCable(readingsBetween(at - liveWindowSeconds_, at))) {
        advice = AdviceEngine::forWiredLink(std::move(advice));
        attribution = present::onCable(std::move(attribution));
    }
    ConnectionVerdict verdict = verdict_;
    for (UsageCapability u : allUsageCapabilities())
        verdict.setRating(u, CapabilityRating::poor);
    verdict.evidence = QStringList{L("Nincs útvonal a hálózat felé: most egyetlen csomag sem jut ki a gépről.")};
    publishAnalysis(attribution, std::move(advice), std::move(verdict));
}

void AppViewModel::publishAnalysis(const FaultAttribution& attribution, AdviceSet advice, ConnectionVerdict verdict)
{
    LikelyCauseSummary cause{incidentClassification(attribution.location), title(attribution.location),
                             attribution.storedEvidenceSummary(),
                             advice.steps.empty() ? QString() : advice.steps.front().text};
    const QString culprit = accusedPlace(attribution.location);
    if (culprit != loggedCulprit_) {
        loggedCulprit_ = culprit;
        qCInfo(log::monitoring, "Culprit: %s", qUtf8Printable(culprit));
    }
    const std::optional<UsageCapability> weakest = verdict.weakestCapability();
    const QString poorUsage = weakest && verdict.rating(*weakest) == CapabilityRating::poor ? rawValue(*weakest)
                                                                                           : QStringLiteral("(none)");
    if (poorUsage != loggedPoorUsage_) {
        loggedPoorUsage_ = poorUsage;
        qCInfo(log::monitoring, "Poor usage: %s", qUtf8Printable(poorUsage));
    }
    publish(attribution_, attribution, &AppViewModel::attributionChanged);
    publish(advice_, std::move(advice), &AppViewModel::adviceChanged);
    publish(verdict_, std::move(verdict), &AppViewModel::verdictChanged);
    publish(likelyCause_, std::move(cause), &AppViewModel::likelyCauseChanged);
}

QString AppViewModel::accusedPlace(FaultLocation location)
{
    // The place the overview's chain and the panel hold to blame (a resolver fault lies past the router).
    switch (location) {
    case FaultLocation::wifi: return QStringLiteral("wifi");
    case FaultLocation::router: return QStringLiteral("router");
    case FaultLocation::provider:
    case FaultLocation::dns: return QStringLiteral("provider");
    case FaultLocation::none:
    case FaultLocation::localUnseparated:
    case FaultLocation::offline:
    case FaultLocation::insufficientEvidence: break;
    }
    return QStringLiteral("(none)");
}

void AppViewModel::setLiveStatus(const FaultAttribution& a)
{
    LiveStatus status = LiveStatus::healthy;
    switch (a.location) {
    case FaultLocation::wifi:
    case FaultLocation::router:
    case FaultLocation::provider:
    case FaultLocation::dns:
    case FaultLocation::localUnseparated: status = a.isOutage ? LiveStatus::offline : LiveStatus::degraded; break;
    case FaultLocation::offline: status = LiveStatus::offline; break;
    case FaultLocation::none:
    case FaultLocation::insufficientEvidence: status = LiveStatus::healthy; break;
    }
    if (status != liveStatus_) {
        qCInfo(log::monitoring, "Tray symbol: %s", qUtf8Printable(presentation::menuBarSymbolName(status)));
        publish(liveStatus_, status, &AppViewModel::liveStatusChanged);
    }
    logHeadline();
}

void AppViewModel::logHeadline()
{
    const live_picture::Status status{isMonitoring_, liveStatus_, attribution_, verdict_, endedFault_.has_value()};
    const QString headline = live_picture::statusLine(status) + QStringLiteral(" | ") +
                             live_picture::statusExplanation(status);
    if (headline == loggedHeadline_)
        return;
    loggedHeadline_ = headline;
    qCInfo(log::monitoring, "Headline: %s", qUtf8Printable(headline));
}

std::optional<std::size_t> AppViewModel::openIncidentIndex() const
{
    for (std::size_t i = incidents_.size(); i > 0; --i)
        if (incidents_[i - 1].isOpen() && !isIpv6Classification(incidents_[i - 1].classification))
            return i - 1;
    return std::nullopt;
}

live_picture::Journal AppViewModel::journalState() const
{
    live_picture::Journal journal;
    if (const std::optional<std::size_t> open = openIncidentIndex()) {
        const Incident& i = incidents_[*open];
        journal.open = live_picture::OpenIncident{
            i.classification, i.startTimestamp,
            i.classification == IncidentClassification::offline || outageNotifiedIncident_ == i.id,
            noRouteIncident_ == i.id, routeReturnedAt_};
    }
    for (const Incident& i : incidents_)
        if (i.endTimestamp && !isIpv6Classification(i.classification) &&
            (!journal.lastClosed || *i.endTimestamp > journal.lastClosed->second))
            journal.lastClosed = std::pair{i.classification, *i.endTimestamp};
    return journal;
}

live_picture::Evidence AppViewModel::journalEvidence() const
{
    return {analysedBatches_, wifiSnapshots_, attributionEngine_.thresholds()};
}

void AppViewModel::applyAttribution(const FaultAttribution& a, Timestamp at)
{
    const live_picture::Journal journal = journalState();
    const live_picture::JournalAction action =
        live_picture::journalAction(a, nullptr, at, /*noRoute*/ false, journal, journalEvidence());
    const std::optional<live_picture::EndedFault> ended =
        live_picture::endedFault(a, action, journal, at, liveWindowSeconds_, journalEvidence());
    setLiveStatus(ended ? live_picture::endedAttribution(*ended) : a);
    applyJournal(action, at, /*noRoute*/ false);
}

void AppViewModel::applyNoRoute(Timestamp at)
{
    const FaultAttribution a = offlineAttribution();
    setLiveStatus(a);
    if (!noRouteSince_ || routeReturnedAt_) {
        noRouteSince_ = at;
        routeReturnedAt_.reset();
    }
    applyJournal(live_picture::journalAction(a, nullptr, at, /*noRoute*/ true, journalState(), journalEvidence()), at,
                 /*noRoute*/ true);
}

void AppViewModel::applyJournal(const live_picture::JournalAction& action, Timestamp at, bool noRoute)
{
    if (action.closeAt)
        closeOpenIncident(*action.closeAt);
    const std::optional<std::size_t> open = openIncidentIndex();
    // What the journal stores is counted over the incident's own stretch, not the window around it.
    const auto ownFigures = [&](Timestamp start) {
        return present::incidentFigures(action.attribution, analysedBatches_, wifiSnapshots_,
                                        attributionEngine_.thresholds(), start, at,
                                        isMeasuredOverCable(readingsBetween(at - liveWindowSeconds_, at)));
    };
    switch (action.change) {
    case live_picture::Change::none: break;
    case live_picture::Change::open:
        openIncident(ownFigures(action.start), at, action.start);
        if (noRoute)
            noRouteIncident_ = incidents_.empty() ? std::nullopt : std::optional<QUuid>(incidents_.back().id);
        break;
    case live_picture::Change::refresh:
    case live_picture::Change::reclassify:
        if (open)
            refreshOpenIncident(*open, ownFigures(incidents_[*open].startTimestamp), at,
                                action.change == live_picture::Change::reclassify);
        break;
    }
}

void AppViewModel::refreshOpenIncident(std::size_t index, const FaultAttribution& a, Timestamp at, bool reclassify)
{
    Incident& incident = incidents_[index];
    const bool wasOutage = incident.classification == IncidentClassification::offline || incident.outage ||
                           outageNotifiedIncident_ == incident.id;
    if (reclassify)
        live_picture::reclassify(incident, a, wasOutage);
    else
        live_picture::refresh(incident, a, wasOutage);
    // Once an outage, the incident stays one in the journal whatever it eases into.
    incident.outage = wasOutage || a.isOutage;
    if (a.isOutage && outageNotifiedIncident_ != incident.id) {
        // A degradation that becomes an outage tells the user once, as an outage that opens does.
        outageNotifiedIncident_ = incident.id;
        preferences_->notifyOutageBegan(at, a.location);
    }
    Q_EMIT incidentsChanged();
    saveIncident(incident);
}

void AppViewModel::openIncident(const FaultAttribution& a, Timestamp at, Timestamp start)
{
    Incident incident;
    incident.id = newRecordId();
    if (a.isOutage) {
        preferences_->notifyOutageBegan(at, a.location);
        outageNotifiedIncident_ = incident.id;
    }
    incident.startTimestamp = start;
    incident.classification = incidentClassification(a.location).value_or(IncidentClassification::unknown);
    incident.severity = a.severity;
    incident.confidence = incidentConfidence(a.confidence);
    incident.evidenceSummary = a.storedEvidenceSummary();
    incident.outage = a.isOutage;
    incidents_.push_back(incident);
    trimToNewest(incidents_, maximumIncidents);
    Q_EMIT incidentsChanged();
    saveIncident(incident);
}

void AppViewModel::closeOpenIncident(Timestamp end)
{
    const std::optional<std::size_t> open = openIncidentIndex();
    if (!open)
        return;
    Incident& incident = incidents_[*open];
    incident.endTimestamp = std::max(end, incident.startTimestamp); // never before its start
    if (noRouteIncident_ == incident.id) {
        noRouteIncident_.reset();
        noRouteSince_.reset();
        routeReturnedAt_.reset();
    }
    const Incident closed = incident;
    if (*closed.endTimestamp <= closed.startTimestamp) {
        // Shown by one instant's evidence only: no incident at all. It leaves the journal, and
        // the store removes the row it was saved under while open.
        qCInfo(log::monitoring, "An incident ended where it began and is withdrawn");
        incidents_.erase(incidents_.begin() + static_cast<std::ptrdiff_t>(*open));
    }
    Q_EMIT incidentsChanged();
    saveIncident(closed);
}

void AppViewModel::saveIncident(const Incident& incident)
{
    // Holds the store, not the model; saves start in the order of the changes and the store runs
    // them one at a time in that order.
    asio::co_spawn(rt::QtExecutor(), upsertQuietly(store_, incident), asio::detached);
}

// --- markers -----------------------------------------------------------------------------------
void AppViewModel::addMarker(WorkflowPreset preset)
{
    const QString note = markerNote_.trimmed().isEmpty() ? noteTemplate(preset) : markerNote_;
    setMarkerNote(QString());
    ManualMarker marker{newRecordId(), now(), rawValue(preset), note};
    markers_.push_back(marker);
    trimToNewest(markers_, maximumMarkers);
    Q_EMIT markersChanged();
    recordEvent(DiagnosticEventKind::markerAdded, QStringLiteral("Added marker: ") + title(preset));
    asio::co_spawn(rt::QtExecutor(), insertMarkerQuietly(store_, std::move(marker)), asio::detached);
}

} // namespace pv
