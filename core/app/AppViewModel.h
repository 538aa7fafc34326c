#pragma once
// The one observable model of the application: it owns the evidence store, the services and the
// analysis engines, runs the background work, and publishes everything the window and the menu-bar
// panel show. It lives on the GUI thread; every published property has a getter and a change
// signal, and its asynchronous work runs as coroutines on the GUI thread's executor.

#include "core/analysis/Advice.h"
#include "core/analysis/Attribution.h"
#include "core/analysis/IncidentClassifier.h"
#include "core/analysis/QualityEvaluator.h"
#include "core/analysis/Verdict.h"
#include "core/app/BaselineKeeper.h"
#include "core/app/Preferences.h"
#include "core/app/ReportServices.h"
#include "core/app/ServicePorts.h"
#include "core/app/StorageHealth.h"
#include "core/app/UpdateChecker.h"
#include "core/probes/LocationPermission.h"
#include "core/records/Quality.h"
#include "core/records/Records.h"
#include "core/records/Runtime.h"

#include <QObject>
#include <QUrl>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace pv {

class SQLiteStore;

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
        std::optional<QUrl> updateFeed;                 // UpdateChecker::feedURL() when absent
        std::function<Timestamp()> clock;               // nowTimestamp when absent
        QualityEvaluation evaluate;                     // QualityEvaluator::evaluate when absent
    };

    static constexpr std::size_t maximumEvents = 180;
    static constexpr double baselineWindowSeconds = 600;

    AppViewModel(Services services, StorageHealth storageHealth, QObject* parent = nullptr);
    AppViewModel(Services services, StorageHealth storageHealth, Environment environment, QObject* parent = nullptr);
    ~AppViewModel() override;

    // The short version string of the application, "0" when it has none.
    static QString appVersion();

    // --- published state -----------------------------------------------------------------------
    LiveStatus liveStatus() const { return liveStatus_; }
    const LikelyCauseSummary& likelyCause() const { return likelyCause_; }
    const FaultAttribution& attribution() const { return attribution_; }
    const AdviceSet& advice() const { return advice_; }
    const ConnectionVerdict& verdict() const { return verdict_; }
    const std::vector<ProbeBatch>& recentBatches() const { return recentBatches_; }
    const std::vector<WifiSnapshot>& wifiSnapshots() const { return wifiSnapshots_; }
    const std::vector<Incident>& incidents() const { return incidents_; }
    const std::vector<DiagnosticEvent>& events() const { return events_; }
    const std::vector<ManualMarker>& markers() const { return markers_; }
    const QualityAssessment& qualityAssessment() const { return qualityAssessment_; }
    const std::optional<QualityBaseline>& qualityBaseline() const { return qualityBaseline_; }
    const std::optional<MeasurementSession>& activeMeasurementSession() const { return activeMeasurementSession_; }
    QualityWindow selectedQualityWindow() const { return selectedQualityWindow_; }
    const std::map<QualityWindow, bool>& qualityWindowReadiness() const { return qualityWindowReadiness_; }
    bool isMonitoring() const { return isMonitoring_; }
    const std::optional<Timestamp>& lastProbeBatchTimestamp() const { return lastProbeBatchTimestamp_; }
    const std::optional<ExportResult>& lastExportResult() const { return lastExportResult_; }
    const std::optional<QString>& exportStatusMessage() const { return exportStatusMessage_; }
    int locationAuthorizationStatus() const { return locationAuthorizationStatus_; }
    const StorageHealth& storageHealth() const { return storageHealth_; }
    const QString& markerNote() const { return markerNote_; }
    void setMarkerNote(const QString& note); // the one property the views write
    bool isBuildingDossier() const { return isBuildingDossier_; }
    const std::optional<QUrl>& lastDossierURL() const { return lastDossierURL_; }
    const std::optional<QString>& dossierStatusMessage() const { return dossierStatusMessage_; }
    const std::optional<AvailableUpdate>& availableUpdate() const { return availableUpdate_; }

    // --- owned services ----------------------------------------------------------------------------
    const std::shared_ptr<SQLiteStore>& store() const { return store_; }
    PreferencesStore& preferences() const { return *preferences_; }
    UpdateChecker& updateChecker() const { return *updateChecker_; }
    const AttributionEngine& attributionEngine() const { return attributionEngine_; }

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
    void activeMeasurementSessionChanged();
    void selectedQualityWindowChanged();
    void qualityWindowReadinessChanged();
    void isMonitoringChanged();
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
    std::optional<Timestamp> lastProbeProgressTimestamp_;
    std::optional<Timestamp> lastProbeRestartTimestamp_;
    std::optional<Timestamp> lastCleanupTimestamp_;
    int manualQualityResetGeneration_ = 0;
    bool wasMonitoringBeforeLoadTest_ = false;

    // How the model's work is run and judged.
    std::function<Timestamp()> clock_;
    QualityEvaluation evaluate_;
    std::unique_ptr<BaselineKeeper> baselineKeeper_;
    // Coroutines resume only while this lives: destroying the model drops their pending steps.
    std::shared_ptr<int> lifetime_ = std::make_shared<int>(0);
    rt::QtExecutor executor_;
};

} // namespace pv
