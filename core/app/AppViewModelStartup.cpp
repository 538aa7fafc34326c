// The application model's start-up (the history load), its hand-offs to the reports, and the
// derived texts the views read.

#include "core/app/AppViewModel.h"

#include "core/app/ErrorText.h"
#include "core/app/IncidentEvidence.h"
#include "core/app/Presentation.h"
#include "core/records/LocaleDates.h"
#include "core/records/Localization.h"
#include "core/records/Logging.h"
#include "core/records/RecordId.h"
#include "core/store/SQLiteStore.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QProcess>
#include <QStandardPaths>

#include <algorithm>
#include <map>

// GCC 12 inlines asio's frame allocation and release into the ramp of the larger coroutines below
// and then reports the pair (aligned_alloc, asio's sized delete) as mismatched; asio allocates and
// frees these frames through its own matching pair, so the warning is a false positive here.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

namespace pv {

namespace {

constexpr int kHistorySamples = 500;
constexpr int kHistoryWifiSnapshots = 240;
constexpr int kHistoryIncidents = 120;
constexpr int kHistoryEvents = 120;
constexpr int kHistoryMarkers = 60;

// Oldest-first samples regrouped into their batches; the earliest sample of each gives the batch
// its time and route (the first one met on a tie).
std::vector<ProbeBatch> regroupIntoBatches(const std::vector<NetworkSample>& samples)
{
    std::vector<ProbeBatch> batches;
    std::map<QUuid, std::size_t> indexOf;
    for (const NetworkSample& s : samples) {
        auto [it, inserted] = indexOf.try_emplace(s.batchID, batches.size());
        if (inserted) {
            batches.push_back(ProbeBatch{s.batchID, s.timestamp, s.route, {}});
        } else if (s.timestamp < batches[it->second].timestamp) {
            batches[it->second].timestamp = s.timestamp;
            batches[it->second].route = s.route;
        }
        batches[it->second].samples.push_back(s);
    }
    for (ProbeBatch& b : batches)
        std::stable_sort(b.samples.begin(), b.samples.end(),
                         [](const NetworkSample& x, const NetworkSample& y) { return x.timestamp < y.timestamp; });
    std::stable_sort(batches.begin(), batches.end(),
                     [](const ProbeBatch& x, const ProbeBatch& y) { return x.timestamp < y.timestamp; });
    return batches;
}

template <typename T> std::vector<T> oldestFirst(std::vector<T> newestFirst)
{
    std::reverse(newestFirst.begin(), newestFirst.end());
    return newestFirst;
}

// Abbreviated date and short time, in Hungarian.
QString dateTimeText(Timestamp t)
{
    const QDateTime dt = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(std::floor(t * 1000.0)));
    const QLocale locale = dateLocale();
    return locale.toString(dt.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
           locale.toString(dt.time(), QLocale::ShortFormat);
}

// The confirmation of a finished export: what was exported, the period, and the folder it is in.
QString exportConfirmation(ExportScope scope, const ExportResult& result)
{
    QString what;
    switch (scope) {
    case ExportScope::currentDay: what = L("a mai nap exportja"); break;
    case ExportScope::previousDay: what = L("az előző nap exportja"); break;
    case ExportScope::last24Hours: what = L("az utolsó 24 óra exportja"); break;
    }
    return LF("Elkészült %@ (%@ – %@). A fájlok mappája: %@",
              {what, dateTimeText(result.startDate), dateTimeText(result.endDate),
               QDir::toNativeSeparators(result.directoryURL.toLocalFile())});
}

QString desktopFolderPath()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    // XDG may leave the desktop unset, or point it at the home folder itself.
    if (folder.isEmpty() || QDir(folder) == QDir::home())
        folder = QDir::home().filePath(QStringLiteral("Desktop"));
    return folder; // made by the dossier service, which removes it again when the dossier fails
}

std::optional<QString> regionCode()
{
    const QLocale locale = QLocale::system();
    if (locale.territory() == QLocale::AnyTerritory || locale.language() == QLocale::C)
        return std::nullopt;
    const QString code = QLocale::territoryToCode(locale.territory());
    if (code.isEmpty())
        return std::nullopt;
    return code;
}

} // namespace

// --- the history load --------------------------------------------------------------------------
rt::awaitable<void> AppViewModel::bootstrap()
{
    if (didBootstrap_)
        co_return;
    didBootstrap_ = true;

    std::optional<FailureReport> failure;
    try {
        const RetentionPolicy policy = preferences_->retentionPolicy();
        co_await store_->rollUpAndPrune(policy, now());
        lastCleanupTimestamp_ = now();

        const auto samples = co_await store_->recentSamples(kHistorySamples);
        recentBatches_ = regroupIntoBatches(oldestFirst(samples));
        refreshAnalysedFamily();
        Q_EMIT recentBatchesChanged();
        publish(wifiSnapshots_, oldestFirst(co_await store_->recentWifiSnapshots(kHistoryWifiSnapshots)),
                &AppViewModel::wifiSnapshotsChanged);
        publish(incidents_, oldestFirst(co_await store_->recentIncidents(kHistoryIncidents)),
                &AppViewModel::incidentsChanged);
        publish(events_, oldestFirst(co_await store_->recentEvents(kHistoryEvents)), &AppViewModel::eventsChanged);
        publish(markers_, oldestFirst(co_await store_->recentMarkers(kHistoryMarkers)), &AppViewModel::markersChanged);
        publish(qualityBaseline_, co_await store_->loadBaseline(), &AppViewModel::qualityBaselineChanged);
        publish(latestLoadTest_, co_await store_->latestLoadTest(), &AppViewModel::latestLoadTestChanged);

        if (recentBatches_.empty()) {
            currentRoute_.reset();
            publish(lastProbeBatchTimestamp_, std::optional<Timestamp>(), &AppViewModel::lastProbeBatchTimestampChanged);
        } else {
            currentRoute_ = recentBatches_.back().route;
            publish(lastProbeBatchTimestamp_, std::optional<Timestamp>(recentBatches_.back().timestamp),
                    &AppViewModel::lastProbeBatchTimestampChanged);
        }
        if (lastProbeBatchTimestamp_)
            lastProbeProgressTimestamp_ = monotonicClock_();
        settleLeftoverIncident();
        settleLeftoverIpv6Incident();

        const std::optional<Timestamp> boundary = co_await store_->lastSessionBoundary();
        const std::optional<Timestamp> earliest = co_await store_->earliestTimestamp();
        const Timestamp at = now();
        const Timestamp start = boundary ? *boundary : earliest.value_or(at);
        publish(activeMeasurementSession_,
                std::optional<MeasurementSession>(MeasurementSession{newRecordId(), std::min(start, at),
                                                                     newestFingerprint(),
                                                                     manualQualityResetGeneration_}),
                &AppViewModel::activeMeasurementSessionChanged);
        updateQualityWindowReadiness(now());
    } catch (const std::exception& e) {
        failure = failureReport(e);
    }
    if (failure) {
        qCWarning(log::bootstrap, "Loading the history failed: %s", qUtf8Printable(failure->technical));
        setStatusMessage(LF("A korábbi adatok betöltése nem sikerült: %@", {failure->sentence()}));
    }

    if (!recentBatches_.empty() || !wifiSnapshots_.empty())
        refreshAnalysis(now());
    startMonitoring();
    // Without a configured feed there is nothing to ask and nothing to publish.
    if (preferences_->checksForUpdates() && updateChecker_->feed().isValid() && !updateChecker_->feed().isEmpty())
        asio::co_spawn(executor(), runUpdateCheck(), asio::detached);
}

void AppViewModel::settleLeftoverIncident()
{
    const std::optional<std::size_t> open = openIncidentIndex();
    if (!open)
        return;
    const Incident& incident = incidents_[*open];
    // The previous run's last record: its newest sample, Wi-Fi reading or event (a quit records
    // that monitoring stopped; a crash leaves the last batch).
    Timestamp lastRecorded = incident.startTimestamp;
    for (const ProbeBatch& b : recentBatches_)
        for (const NetworkSample& s : b.samples)
            lastRecorded = std::max(lastRecorded, s.timestamp);
    for (const WifiSnapshot& w : wifiSnapshots_)
        lastRecorded = std::max(lastRecorded, w.timestamp);
    for (const DiagnosticEvent& e : events_)
        lastRecorded = std::max(lastRecorded, e.timestamp);
    // Back within a minute, the journal goes on with it as with any open incident: measuring then
    // finds the fault still there or closes it at its last evidence.
    if (now() - lastRecorded < incident_evidence::episodeGap)
        return;
    // Nothing was measured after the previous run ended, so the fault is known to have lasted only
    // until the last batch that showed it, and at most until that run's last record; one that only
    // a single instant showed is withdrawn.
    Timestamp end = lastRecorded;
    if (const std::optional<FaultEpisode> shown = incident_evidence::currentEpisode(
            analysedBatches_, wifiSnapshots_, incident_evidence::location(incident.classification),
            attributionEngine_.thresholds(), lastRecorded, incident.startTimestamp))
        end = shown->lastShown;
    qCInfo(log::bootstrap, "The previous run left an incident open; it ends with that run's last evidence");
    closeOpenIncident(end);
}

rt::awaitable<void> AppViewModel::runUpdateCheck()
{
    // The checker never throws; "no update" is published as well.
    std::optional<AvailableUpdate> update = co_await updateChecker_->check();
    publish(availableUpdate_, std::move(update), &AppViewModel::availableUpdateChanged);
}

// --- exports and the dossier -------------------------------------------------------------------
void AppViewModel::runExport(ExportScope scope)
{
    asio::co_spawn(executor(), runExportTask(scope), asio::detached);
}

rt::awaitable<void> AppViewModel::runExportTask(ExportScope scope)
{
    std::optional<ExportResult> result;
    std::optional<FailureReport> failure;
    try {
        result = co_await exportService_->runExport(scope, now());
    } catch (const std::exception& e) {
        failure = failureReport(e);
    }
    if (failure) {
        qCWarning(log::reports, "The export failed: %s", qUtf8Printable(failure->technical));
        setStatusMessage(LF("Az exportálás nem sikerült: %@", {failure->sentenceNaming(QString())}));
        co_return;
    }
    publish(lastExportResult_, result, &AppViewModel::lastExportResultChanged);
    setStatusConfirmation(exportConfirmation(scope, *result));
    recordEvent(DiagnosticEventKind::exportCompleted,
                title(scope) + QStringLiteral(" export created at ") + result->directoryURL.toLocalFile());
}

bool AppViewModel::revealLatestExportInFinder()
{
    if (!lastExportResult_)
        return false;
    const QUrl folder = lastExportResult_->directoryURL;
    revealInFileManager(folder, folder, [this](const QString& message) { setStatusMessage(message); });
    return true;
}

QString AppViewModel::folderOpenFailureText(const QString& folderPath, bool noneInstalled)
{
    if (!noneInstalled)
        return LF("A mappát nem sikerült megnyitni: a fájlkezelő hibával leállt. Nyisd meg kézzel: %@",
                  {displayPath(folderPath)});
    return LF("A mappát nem sikerült megnyitni: nincs telepítve fájlkezelő, amely megjelenítené. Nyisd meg kézzel: %@",
              {displayPath(folderPath)});
}

void AppViewModel::revealInFileManager(const QUrl& item, const QUrl& folder,
                                       std::function<void(const QString&)> onFailure)
{
    // Second step: the desktop's opener for the folder; its exit status tells whether anything opened it.
    auto openFolder = [this, folder, onFailure = std::move(onFailure)] {
        const QString path = folder.toLocalFile();
        auto* opener = new QProcess(this);
        opener->setProgram(folderOpener_.first());
        opener->setArguments(folderOpener_.mid(1) << path);
        opener->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        opener->setStandardOutputFile(QProcess::nullDevice());
        auto failed = [onFailure, path](const QString& why, bool noneInstalled) {
            qCWarning(log::reports, "The folder %s could not be opened: %s", qUtf8Printable(path), qUtf8Printable(why));
            onFailure(folderOpenFailureText(path, noneInstalled));
        };
        connect(opener, &QProcess::errorOccurred, this, [opener, failed](QProcess::ProcessError error) {
            if (error != QProcess::FailedToStart)
                return; // a crash or a lost pipe also ends in finished()
            failed(opener->errorString(), true);
            opener->deleteLater();
        });
        // xdg-open's 3 is "no program to open it with" (a shell's 127: no opener at all); any other
        // failure is that of the file manager that was there.
        connect(opener, &QProcess::finished, this, [opener, failed](int exitCode, QProcess::ExitStatus status) {
            if (status != QProcess::NormalExit || exitCode != 0)
                failed(QStringLiteral("%1 ended with status %2").arg(opener->program()).arg(exitCode),
                       status == QProcess::NormalExit && (exitCode == 3 || exitCode == 127));
            opener->deleteLater();
        });
        opener->start();
    };
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        openFolder();
        return;
    }
    QDBusMessage call =
        QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
                                       QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{item.toString()} << QString();
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [openFolder](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        if (w->isError()) {
            qCInfo(log::reports, "No file manager answered ShowItems (%s); opening the folder instead",
                   qUtf8Printable(w->error().message()));
            openFolder();
        }
    });
}

rt::awaitable<void> AppViewModel::createDossier(double durationSeconds, bool anonymise)
{
    if (isBuildingDossier_)
        co_return;
    publish(isBuildingDossier_, true, &AppViewModel::isBuildingDossierChanged);
    publish(dossierStatusMessage_, std::optional<QString>(), &AppViewModel::dossierStatusMessageChanged);

    const Timestamp end = now();
    DossierRequest request{end - durationSeconds, end, anonymise, regionCode(),
                           preferences_->retentionPolicy().rawSampleSeconds};
    const QUrl folder = QUrl::fromLocalFile(desktopFolder_ ? *desktopFolder_ : desktopFolderPath());
    std::shared_ptr<DossierService> service =
        dossierService_ ? dossierService_ : makeDossierService(store_, QStringLiteral("1.0"));

    std::optional<QUrl> written;
    std::optional<FailureReport> failure;
    try {
        written = co_await service->create(request, folder);
    } catch (const std::exception& e) {
        failure = failureReport(e);
    }
    if (written) {
        const QString name = QFileInfo(written->toLocalFile()).fileName();
        publish(lastDossierURL_, written, &AppViewModel::lastDossierURLChanged);
        publish(dossierStatusMessage_, std::optional<QString>(LF("Elkészült: %@ — az asztalodon van.", {name})),
                &AppViewModel::dossierStatusMessageChanged);
        recordEvent(DiagnosticEventKind::exportCompleted,
                    QStringLiteral("Dossier written to ") + name + QStringLiteral("."));
    } else {
        const FailureReport report = failure.value_or(FailureReport{});
        qCWarning(log::reports, "The dossier could not be written: %s", qUtf8Printable(report.technical));
        publish(lastDossierURL_, std::optional<QUrl>(), &AppViewModel::lastDossierURLChanged);
        // An empty period concerns no place on the disk; every other failure names its file or folder.
        const QString concerned = report.cause == FailureCause::nothingMeasured ? QString() : folder.toLocalFile();
        publish(dossierStatusMessage_,
                std::optional<QString>(LF("Nem sikerült elkészíteni: %@", {report.sentenceNaming(concerned)})),
                &AppViewModel::dossierStatusMessageChanged);
    }
    publish(isBuildingDossier_, false, &AppViewModel::isBuildingDossierChanged);
}

// --- derived texts -----------------------------------------------------------------------------
QString AppViewModel::menuBarSymbolName() const { return presentation::menuBarSymbolName(liveStatus_); }
QString AppViewModel::menuBarStatusTitle() const { return presentation::menuBarStatusTitle(liveStatus_); }
std::optional<WifiSnapshot> AppViewModel::currentWifiSnapshot() const
{
    return presentation::currentWifiSnapshot(wifiSnapshots_);
}
QString AppViewModel::locationStatusDescription() const
{
    return presentation::locationStatusDescription(locationAuthorizationStatus_);
}
QString AppViewModel::probeFreshnessSummary() const
{
    return presentation::probeFreshnessSummary(isMonitoring_, lastProbeBatchTimestamp_, now());
}
QString AppViewModel::probeFreshnessDetail() const { return presentation::probeFreshnessDetail(lastProbeBatchTimestamp_); }
bool AppViewModel::isProbeStale() const { return presentation::isProbeStale(isMonitoring_, lastProbeBatchTimestamp_, now()); }
std::vector<NodeFingerprint> AppViewModel::distinctNodeHistory() const
{
    return presentation::distinctNodeHistory(wifiSnapshots_);
}
QString AppViewModel::currentSessionDurationSummary() const
{
    return presentation::currentSessionDurationSummary(activeMeasurementSession_, now());
}
QString AppViewModel::qualityBaselineSummary() const { return presentation::qualityBaselineSummary(qualityBaseline_); }

std::optional<QUrl> AppViewModel::databaseURL() const
{
    if (!store_ || !store_->isAvailable() || store_->location().isInMemory())
        return std::nullopt;
    return QUrl::fromLocalFile(store_->location().path());
}

QString AppViewModel::databaseLocationDescription() const
{
    const std::optional<QUrl> url = databaseURL();
    return presentation::databaseLocationDescription(url ? std::optional<QString>(url->toLocalFile()) : std::nullopt);
}

} // namespace pv
