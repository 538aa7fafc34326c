#pragma once
// The one observable model of the application: it owns the evidence store, the services and the
// analysis engines, runs the background work, and publishes everything the window and the menu-bar
// panel show. It lives on the GUI thread; every published property has a getter and a change
// signal, and its asynchronous work runs as coroutines on the GUI thread's executor.

#include "core/analysis/Advice.h"
#include "core/analysis/Attribution.h"
#include "core/analysis/IncidentClassifier.h"
#include "core/analysis/Ipv6Path.h"
#include "core/analysis/QualityEvaluator.h"
#include "core/analysis/Verdict.h"
#include "core/app/BaselineKeeper.h"
#include "core/app/IncidentEvidence.h"
#include "core/app/LivePicture.h"
#include "core/app/Preferences.h"
#include "core/app/ReportServices.h"
#include "core/app/ServicePorts.h"
#include "core/app/SleepWake.h"
#include "core/app/StorageHealth.h"
#include "core/app/UpdateChecker.h"
#include "core/probes/LocationPermission.h"
#include "core/records/LoadTestResult.h"
#include "core/records/Quality.h"
#include "core/records/Records.h"
#include "core/records/Runtime.h"

#include <QObject>
#include <QStringList>
#include <QUrl>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <vector>

namespace pv {

class HistoryViewModel;
class SQLiteStore;

// The one-line summary of a stored load test, recorded as its marker event.
QString loadTestMarkerText(const LoadTestResult& result);
// The details of the event that pauses the measuring for a load test (stored with the event).
QString loadTestPauseDetails();

class AppViewModel : public QObject {
    Q_OBJECT

public:
    // What the composition hands over, in its order.
    struct Services {
        std::shared_ptr<rt::NetworkRuntime> runtime; // sockets and timers; may be null in tests that need none
        std::shared_ptr<SQLiteStore> store;
        std::shared_ptr<TopologySource> topology;
        std::shared_ptr<ProbeRunner> probeService;
        std::shared_ptr<WifiSource> wifiProvider;
        std::shared_ptr<ExportService> exportService;
        std::shared_ptr<PathSource> pathMonitor;
        std::shared_ptr<LocationPermissionService> locationPermissionService;
    };

    using QualityEvaluation = std::function<QualityAssessment(
        QualityWindow, const MeasurementSession&, Timestamp, const std::vector<NetworkSample>&,
        const std::vector<WifiSnapshot>&, const std::vector<Incident>&, const std::vector<DiagnosticEvent>&,
        const std::optional<QualityBaseline>&)>;

    // Where the model's own parts come from; the defaults are the desktop's.
    struct Environment {
        PreferencesStore::Platform preferences;         // settings file, autostart entry, notifications
        std::optional<QUrl> updateFeed;                 // configuredUpdateFeedUrl() when absent (none: no check)
        std::function<Timestamp()> clock;               // nowTimestamp when absent
        // Seconds on a clock that is never stepped and counts through sleep (CLOCK_BOOTTIME when
        // absent): the watchdog measures progress and stalls on it.
        std::function<double()> monotonicClock;
        // Whether the system refuses this user's ICMP sockets (checked by opening one when absent).
        std::function<bool()> icmpRefused;
        QualityEvaluation evaluate;                     // QualityEvaluator::evaluate when absent
        std::shared_ptr<SleepWakeSource> sleepWake;     // logind's PrepareForSleep when absent
        std::shared_ptr<DossierService> dossierService; // makeDossierService(store, "1.0") when absent
        std::optional<QString> desktopFolder;           // where dossiers go; the XDG desktop folder when absent
        // What opens a folder when no file manager answers on the session bus; the folder's path is
        // appended. {"xdg-open"} when empty.
        QStringList folderOpener;
        // The analysis looks at the last liveWindowSeconds of evidence with these thresholds. Only the
        // network lab shortens the window (and the attribution minimums with it), so that a fault
        // followed by recovery fits into a test of a minute or two; the program keeps the defaults.
        double liveWindowSeconds = 600;
        // How long a confirmation stays on the status line.
        std::chrono::milliseconds confirmationDuration{12'000};
        std::optional<AttributionThresholds> thresholds; // AttributionThresholds::loadBundled() when absent
    };

    static constexpr std::size_t maximumEvents = 180;
    static constexpr double baselineWindowSeconds = 600;
    static constexpr double liveWindow = 600;             // seconds of evidence the analysis looks at
    static constexpr double outageWindowSeconds = 60;     // the newest stretch also asked about an outage
    static constexpr std::size_t maximumBatches = 300;
    static constexpr std::size_t maximumWifiSnapshots = 400;
    static constexpr std::size_t maximumIncidents = 160;
    static constexpr std::size_t maximumMarkers = 80;
    static constexpr double cleanupInterval = 900;        // seconds of batch time between cleanups
    static constexpr double probeStallThreshold = 18.0;   // seconds without progress
    static constexpr double probeRestartGap = 15.0;       // seconds between two automatic restarts
    static constexpr std::chrono::seconds probePause{4};
    static constexpr std::chrono::seconds wifiPause{8};
    static constexpr std::chrono::seconds watchdogPause{5};
    static const QString periodicWifiReason;               // "periodic Wi-Fi sample"

    AppViewModel(Services services, StorageHealth storageHealth, QObject* parent = nullptr);
    AppViewModel(Services services, StorageHealth storageHealth, Environment environment, QObject* parent = nullptr);
    ~AppViewModel() override;

    // The short version string of the application, "0" when it has none.
    static QString appVersion();

    // --- published state -----------------------------------------------------------------------
    LiveStatus liveStatus() const { return liveStatus_; }
    const LikelyCauseSummary& likelyCause() const { return likelyCause_; }
    const FaultAttribution& attribution() const { return attribution_; }
    // The stretch the attribution was made from: the live window, the newest minute when that named
    // an outage, 0 for the no-route attribution (which rests on no samples).
    double attributionWindowSeconds() const { return attributionWindowSeconds_; }
    // A fault that ended while the live window still holds it: which, and when the newest batch
    // showed it. The attribution then names no fault and says so.
    const std::optional<live_picture::EndedFault>& endedFault() const { return endedFault_; }
    // The lead of the attribution's evidence list: the stretch its figures were counted over.
    const QString& evidenceLead() const { return evidenceLead_; }
    const AdviceSet& advice() const { return advice_; }
    const ConnectionVerdict& verdict() const { return verdict_; }
    const std::vector<ProbeBatch>& recentBatches() const { return recentBatches_; }
    const std::vector<WifiSnapshot>& wifiSnapshots() const { return wifiSnapshots_; }
    const std::vector<Incident>& incidents() const { return incidents_; }
    const std::vector<DiagnosticEvent>& events() const { return events_; }
    const std::vector<ManualMarker>& markers() const { return markers_; }
    const QualityAssessment& qualityAssessment() const { return qualityAssessment_; }
    const std::optional<QualityBaseline>& qualityBaseline() const { return qualityBaseline_; }
    // The newest stored load test: read at start-up, then each one recorded.
    const std::optional<StoredLoadTest>& latestLoadTest() const { return latestLoadTest_; }
    const std::optional<MeasurementSession>& activeMeasurementSession() const { return activeMeasurementSession_; }
    QualityWindow selectedQualityWindow() const { return selectedQualityWindow_; }
    const std::map<QualityWindow, bool>& qualityWindowReadiness() const { return qualityWindowReadiness_; }
    bool isMonitoring() const { return isMonitoring_; }
    // True while probe batches fail to be stored (they wait in memory until a save succeeds).
    bool isRecordingFailing() const { return isRecordingFailing_; }
    const std::optional<Timestamp>& lastProbeBatchTimestamp() const { return lastProbeBatchTimestamp_; }
    const std::optional<ExportResult>& lastExportResult() const { return lastExportResult_; }
    const std::optional<QString>& exportStatusMessage() const { return exportStatusMessage_; }
    // True while the status line confirms finished work (an export) rather than warning; such a
    // line goes away by itself after Environment::confirmationDuration.
    bool isStatusConfirmation() const { return isStatusConfirmation_; }
    int locationAuthorizationStatus() const { return locationAuthorizationStatus_; }
    const StorageHealth& storageHealth() const { return storageHealth_; }
    const QString& markerNote() const { return markerNote_; }
    void setMarkerNote(const QString& note); // the one property the views write
    bool isBuildingDossier() const { return isBuildingDossier_; }
    const std::optional<QUrl>& lastDossierURL() const { return lastDossierURL_; }
    const std::optional<QString>& dossierStatusMessage() const { return dossierStatusMessage_; }
    const std::optional<AvailableUpdate>& availableUpdate() const { return availableUpdate_; }
    // The IPv6 path beside the analysed one: its state, figures and the sentence the views show.
    const Ipv6PathJudgement& ipv6Path() const { return ipv6Path_; }
    // The family the attribution, verdict and incidents run on: IPv4 wherever the network has it,
    // IPv6 on a network without IPv4.
    AddressFamily analysedFamily() const { return analysedFamily_; }
    // The published batches with the analysed family's samples only (what the live figures show).
    const std::vector<ProbeBatch>& analysedBatches() const { return analysedBatches_; }

    // --- owned services ----------------------------------------------------------------------------
    const std::shared_ptr<SQLiteStore>& store() const { return store_; }
    PreferencesStore& preferences() const { return *preferences_; }
    UpdateChecker& updateChecker() const { return *updateChecker_; }
    const AttributionEngine& attributionEngine() const { return attributionEngine_; }
    // A new history model on the store; it loads nothing until reloaded.
    std::shared_ptr<HistoryViewModel> makeHistoryViewModel() const;

    // --- diagnostic journal and quality sessions ----------------------------------------------------
    // Appends the event (newest 180 kept) and saves it in the background; a failed save is dropped.
    void recordEvent(DiagnosticEventKind kind, const QString& text);
    void beginMeasurementSession(Timestamp startedAt, std::optional<NodeFingerprint> fingerprint);
    void updateQualityWindowReadiness(Timestamp now);
    bool isWindowReady(QualityWindow window) const;
    // Only a ready window is selected (and refreshed at once); any other is ignored.
    void selectQualityWindow(QualityWindow window);
    // Shows the collecting assessment at once when the selected window is not ready, then rates it
    // from the store in a task that replaces (cancels) the one in flight.
    void refreshQualityAssessment(Timestamp at);
    void resetQualitySession();
    void clearQualityBaseline();
    // True while a quality refresh can still publish.
    bool isQualityRefreshRunning() const { return qualityRefreshTask_.running(); }

    // --- start-up ------------------------------------------------------------------------------------
    // Once per process: prunes the store, restores the recent history and the session, refreshes
    // the analysis, starts monitoring and the update check. A second call returns at once.
    rt::awaitable<void> bootstrap();
    bool didBootstrap() const { return didBootstrap_; }

    // --- monitoring ----------------------------------------------------------------------------------
    void startMonitoring();
    void stopMonitoring();
    void toggleMonitoring();
    // The load test pauses monitoring while it runs and resumes it afterwards when it was on.
    // Monitoring cannot be resumed by hand in between (the test's own load would be recorded).
    void suspendForLoadTest();
    void resumeAfterLoadTest();
    bool isLoadTestRunning() const { return isLoadTestRunning_; }
    // Stores the result and logs its one-line summary as a marker event.
    rt::awaitable<void> recordLoadTest(LoadTestResult result);

    // One pass of each loop; the loops call them, tests may too.
    rt::awaitable<void> runProbeCycle();
    rt::awaitable<std::optional<RouteSnapshot>> readRoute();
    void noteRouteChanges(const RouteSnapshot& route);
    rt::awaitable<void> performCleanupIfDue(Timestamp now);
    rt::awaitable<void> captureWifiSnapshot(QString reason);
    void checkProbeWatchdog();
    void recordPathEvent(const PathSnapshot& snapshot);
    // Every sample of the published batches from referenceTime minus the live window on, oldest first.
    std::vector<NetworkSample> liveSamples(Timestamp referenceTime) const;
    // The analysed samples and the Wi-Fi readings of [from, to].
    std::vector<NetworkSample> samplesBetween(Timestamp from, Timestamp to) const;
    std::vector<WifiSnapshot> readingsBetween(Timestamp from, Timestamp to) const;
    // Drops journal entries older than the cut-off; an incident still open is never dropped.
    void pruneInMemoryHistory(Timestamp cutoff);

    // --- analysis ------------------------------------------------------------------------------------
    void refreshAnalysis(Timestamp at);
    void applyAttribution(const FaultAttribution& attribution, Timestamp at);
    // What stands for a cycle without a default route.
    static FaultAttribution offlineAttribution();
    // The Wi-Fi line shown while an associated interface does not tell its network name.
    static QString wifiNameHint();

    // --- markers, exports, dossier -------------------------------------------------------------------
    void addMarker(WorkflowPreset preset);
    void runExport(ExportScope scope); // starts a task
    void exportCurrentDay() { runExport(ExportScope::currentDay); }
    void exportPreviousDay() { runExport(ExportScope::previousDay); }
    void exportLast24Hours() { runExport(ExportScope::last24Hours); }
    // Asks the desktop's file manager to show the latest export's folder; when none can, the status
    // line says so and names the folder. False without an export.
    bool revealLatestExportInFinder();
    // Shows `item` in the desktop's file manager (ShowItems on the session bus); when no file manager
    // answers, opens `folder` with the folder opener; when that fails too, `onFailure` receives the
    // Hungarian sentence that says so and names the folder. Returns at once.
    void revealInFileManager(const QUrl& item, const QUrl& folder, std::function<void(const QString&)> onFailure);
    // The sentence of a folder that no file manager could open: none is installed (the opener is
    // missing, or it found no program to open a folder with), or the one there failed.
    static QString folderOpenFailureText(const QString& folderPath, bool noneInstalled = true);
    rt::awaitable<void> createDossier(double durationSeconds, bool anonymise);

    // --- derived texts for the views -----------------------------------------------------------------
    QString menuBarSymbolName() const;
    QString menuBarStatusTitle() const;
    std::optional<WifiSnapshot> currentWifiSnapshot() const;
    QString locationStatusDescription() const;
    QString probeFreshnessSummary() const;
    QString probeFreshnessDetail() const;
    bool isProbeStale() const;
    std::vector<NodeFingerprint> distinctNodeHistory() const;
    QString currentSessionDurationSummary() const;
    QString qualityBaselineSummary() const;
    std::optional<QUrl> databaseURL() const;
    QString databaseLocationDescription() const;

Q_SIGNALS:
    void liveStatusChanged();
    void likelyCauseChanged();
    void attributionChanged();
    void adviceChanged();
    void verdictChanged();
    void recentBatchesChanged();
    void wifiSnapshotsChanged();
    void incidentsChanged();
    void eventsChanged();
    void markersChanged();
    void qualityAssessmentChanged();
    void qualityBaselineChanged();
    void latestLoadTestChanged();
    void activeMeasurementSessionChanged();
    void selectedQualityWindowChanged();
    void qualityWindowReadinessChanged();
    void isMonitoringChanged();
    void isLoadTestRunningChanged();
    void isRecordingFailingChanged();
    void lastProbeBatchTimestampChanged();
    void lastExportResultChanged();
    void exportStatusMessageChanged();
    void locationAuthorizationStatusChanged();
    void storageHealthChanged();
    void markerNoteChanged();
    void isBuildingDossierChanged();
    void lastDossierURLChanged();
    void dossierStatusMessageChanged();
    void availableUpdateChanged();
    void ipv6PathChanged();

public:
    // The one status line of the model. The program also reports platform problems through it
    // (for example ICMP sockets that the system does not permit).
    void setStatusMessage(std::optional<QString> message);
    // A confirmation on the status line: shown like a message, cleared after the confirmation
    // duration unless another message has replaced it.
    void setStatusConfirmation(const QString& message);

private:
    template <typename T, typename Signal> void publish(T& field, T value, Signal signal)
    {
        field = std::move(value);
        Q_EMIT(this->*signal)();
    }

    rt::QtExecutor executor() const { return executor_; }
    Timestamp now() const { return clock_(); }
    std::optional<NodeFingerprint> newestFingerprint() const;

    rt::awaitable<void> runQualityRefresh(MeasurementSession session, Timestamp reference, QualityWindow window,
                                          std::optional<QualityBaseline> baseline);
    void publishQualityResult(std::optional<QualityBaseline> baseline, QualityAssessment assessment,
                              Timestamp reference);
    rt::awaitable<void> runClearQualityBaseline();
    QualityBaseline makeBaseline(const QualityAssessment& ten, const MeasurementSession& session) const;

    void startProbeLoop(bool isRestart);
    rt::awaitable<void> samplerLoop();
    rt::awaitable<void> wifiLoop();
    rt::awaitable<void> watchdogLoop();
    rt::awaitable<void> checkProbeWatchdogStep();
    rt::awaitable<void> repeatWithPause(std::function<rt::awaitable<void>()> pass, std::chrono::seconds pause);
    rt::awaitable<void> stopProbeService();
    rt::awaitable<void> rebindProbeService(QString interfaceName);
    rt::awaitable<void> runUpdateCheck();
    rt::awaitable<void> runExportTask(ExportScope scope);
    void installSleepWakeObservers();
    void removeSleepWakeObservers();
    // The journal's open incident and newest end, and the measurements it goes by.
    live_picture::Journal journalState() const;
    live_picture::Evidence journalEvidence() const;
    // A cycle without a default route: the offline attribution is the live one.
    void applyNoRoute(Timestamp at);
    void applyJournal(const live_picture::JournalAction& action, Timestamp at, bool noRoute);
    void setLiveStatus(const FaultAttribution& live);
    void logHeadline();
    static QString accusedPlace(FaultLocation location);
    void openIncident(const FaultAttribution& attribution, Timestamp at, Timestamp start);
    // In place: a refresh, or another place taking the incident over.
    void refreshOpenIncident(std::size_t index, const FaultAttribution& attribution, Timestamp at, bool reclassify);
    static bool isMeasuredOverCable(const std::vector<WifiSnapshot>& liveReadings);
    void closeOpenIncident(Timestamp end);
    // At start-up: an incident the previous run left open, with no program measuring since.
    void settleLeftoverIncident();
    enum class FailureKind { samples, cleanup, wifi, icmpPermission };
    void noteFailure(FailureKind kind, const QString& statusLine, const QString& logLine);
    void noteRecovered(FailureKind kind);
    void noteUnmeasuredEchoes(const ProbeBatch& batch);
    void publishOfflineAnalysis();
    // Publishes the attribution, advice and verdict, and the likely cause they give.
    void publishAnalysis(const FaultAttribution& attribution, AdviceSet advice, ConnectionVerdict verdict);
    void setRecordingFailing(bool failing);
    void saveIncident(const Incident& incident);
    std::optional<std::size_t> openIncidentIndex() const;
    // The IPv6 side (AppViewModelIpv6.cpp): which family is analysed, the IPv6 path's judgement and
    // its own incident journal.
    // newestOnly: the published batches only gained one at the end (and lost the oldest).
    void refreshAnalysedFamily(bool newestOnly = false);
    void followIpv6Preference(); // the probe service measures IPv6 as the Settings switch says
    void refreshIpv6Path(Timestamp at);
    // The IPv6 path judged at `at` (the newest batch's end at the latest), with what it was judged on.
    struct Ipv6PathReading {
        Ipv6PathJudgement judgement;
        // Into the recent batches: a reading is applied before the next batch comes.
        Ipv6PathJudge::SampleRefs samples;
        Ipv6PathThresholds thresholds;
        Timestamp at = 0;
    };
    Ipv6PathReading readIpv6Path(Timestamp at) const;
    void applyIpv6Path(Ipv6PathReading reading);
    std::optional<std::size_t> openIpv6IncidentIndex() const;
    void closeIpv6Incident(std::size_t index, Timestamp end);
    void settleLeftoverIpv6Incident();

    // Published properties (1-26), in declaration order.
    LiveStatus liveStatus_ = LiveStatus::healthy;
    LikelyCauseSummary likelyCause_;
    FaultAttribution attribution_;
    AdviceSet advice_;
    ConnectionVerdict verdict_;
    std::vector<ProbeBatch> recentBatches_;
    std::vector<WifiSnapshot> wifiSnapshots_;
    std::vector<Incident> incidents_;
    std::vector<DiagnosticEvent> events_;
    std::vector<ManualMarker> markers_;
    QualityAssessment qualityAssessment_;
    std::optional<QualityBaseline> qualityBaseline_;
    std::optional<MeasurementSession> activeMeasurementSession_;
    QualityWindow selectedQualityWindow_ = QualityWindow::oneMinute;
    std::map<QualityWindow, bool> qualityWindowReadiness_;
    bool isMonitoring_ = false;
    std::optional<Timestamp> lastProbeBatchTimestamp_;
    std::optional<ExportResult> lastExportResult_;
    std::optional<QString> exportStatusMessage_;
    bool isStatusConfirmation_ = false;
    int statusGeneration_ = 0; // counts status lines, so an old confirmation's timer clears nothing newer
    int locationAuthorizationStatus_ = LocationPermissionService::notDetermined;
    StorageHealth storageHealth_;
    QString markerNote_;
    bool isBuildingDossier_ = false;
    std::optional<QUrl> lastDossierURL_;
    std::optional<QString> dossierStatusMessage_;
    std::optional<AvailableUpdate> availableUpdate_;

    // Owned services and engines (27-40). The runtime outlives every service that uses it.
    std::shared_ptr<rt::NetworkRuntime> runtime_;
    std::shared_ptr<SQLiteStore> store_;
    std::shared_ptr<TopologySource> topology_;
    std::shared_ptr<ProbeRunner> probeService_;
    std::shared_ptr<WifiSource> wifiProvider_;
    IncidentClassifier classifier_;
    std::shared_ptr<ExportService> exportService_;
    std::shared_ptr<PathSource> pathMonitor_;
    std::shared_ptr<LocationPermissionService> locationPermissionService_;
    QualityEvaluator qualityEvaluator_;
    std::unique_ptr<PreferencesStore> preferences_;
    AttributionEngine attributionEngine_;
    AdviceEngine adviceEngine_;
    VerdictEngine verdictEngine_;
    std::unique_ptr<UpdateChecker> updateChecker_;

    // Private state (41-53).
    std::optional<RouteSnapshot> currentRoute_;
    bool didBootstrap_ = false;
    rt::TaskSlot probeTask_;
    rt::TaskSlot wifiTask_;
    rt::TaskSlot probeWatchdogTask_;
    rt::TaskSlot qualityRefreshTask_;
    std::vector<QMetaObject::Connection> observers_;
    std::vector<QMetaObject::Connection> cancellables_;
    std::optional<double> lastProbeProgressTimestamp_; // monotonic seconds
    std::optional<double> lastProbeRestartTimestamp_;  // monotonic seconds
    std::optional<Timestamp> lastCleanupTimestamp_;
    int manualQualityResetGeneration_ = 0;
    // The incident journal's own memory: which incident has had its outage notification, and the
    // cycles without a default route that the offline incident of such a spell goes by.
    std::optional<QUuid> outageNotifiedIncident_;
    // Batches not yet stored, oldest first; the kinds of failure now going on and the one whose
    // message the status line shows.
    std::vector<ProbeBatch> unsavedBatches_;
    std::set<FailureKind> failingKinds_;
    std::optional<FailureKind> statusKind_;
    bool isRecordingFailing_ = false;
    std::optional<QUuid> noRouteIncident_;
    std::optional<Timestamp> noRouteSince_;
    std::optional<Timestamp> routeReturnedAt_;
    bool wasMonitoringBeforeLoadTest_ = false;
    bool isLoadTestRunning_ = false;
    // Counts what cuts measuring short: a stop (the user's, the load test's or the program's
    // end) and each sleep and wake. A batch in flight across one is no evidence.
    std::uint64_t measurementCuts_ = 0;
    std::optional<StoredLoadTest> latestLoadTest_;

    // How the model's work is run and judged.
    std::shared_ptr<SleepWakeSource> sleepWake_;
    std::shared_ptr<DossierService> dossierService_;
    std::optional<QString> desktopFolder_;
    QStringList folderOpener_;
    double liveWindowSeconds_ = liveWindow;
    std::chrono::milliseconds confirmationDuration_{12'000};
    std::function<Timestamp()> clock_;
    std::function<double()> monotonicClock_;
    std::function<bool()> icmpRefused_;
    bool icmpReopenRequested_ = false; // a reopen of the echo socket is on its way
    double attributionWindowSeconds_ = liveWindow;
    // The newest minute's latest outage answer and the refresh time it came at.
    std::optional<live_picture::HeldOutage> heldOutage_;
    // The fault the window still holds although it has ended, while it does.
    std::optional<live_picture::EndedFault> endedFault_;
    QString evidenceLead_;
    QString loggedCulprit_; // the accused place last written to the log
    QString loggedPoorUsage_; // the use the headline says will not work, last written to the log
    QString loggedHeadline_;  // the overview's status line and the explanation under it, last written to the log
    QualityEvaluation evaluate_;
    Ipv6PathJudgement ipv6Path_;
    AddressFamily analysedFamily_ = AddressFamily::ipv4;
    bool ipv6PathLogged_ = false; // the first judgement is logged whatever it is
    // When the IPv6 switch was last turned on in this run (none: on since the start, or off).
    std::optional<Timestamp> ipv6MeasuredSince_;
    std::vector<ProbeBatch> analysedBatches_;
    std::unique_ptr<BaselineKeeper> baselineKeeper_;
    // Coroutines resume only while this lives: destroying the model drops their pending steps.
    std::shared_ptr<int> lifetime_ = std::make_shared<int>(0);
    rt::QtExecutor executor_;
};

} // namespace pv
