#include "reports/ExportService.h"

#include "core/records/LocaleDates.h"
#include "core/records/Logging.h"
#include "core/store/SQLiteStore.h"
#include "reports/CreatedFolders.h"
#include "reports/CsvWriter.h"
#include "reports/DailySummary.h"
#include "reports/DossierPdfFile.h"

#include <QDateTime>
#include <QDir>
#include <QLocale>
#include <QSaveFile>
#include <QStandardPaths>
#include <QUrl>

#include <cerrno>
#include <cmath>
#include <filesystem>
#include <stdexcept>

namespace pv::reports {

namespace {

constexpr double kDaySeconds = 86400.0;
const QString kExportsFolder = QStringLiteral("Polvarine Exports");

Timestamp seconds(const QDateTime& when) { return static_cast<double>(when.toMSecsSinceEpoch()) / 1000.0; }

QDateTime localTime(Timestamp when)
{
    return QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(std::floor(when * 1000.0)), Qt::LocalTime);
}

// Logs the technical text and throws the cause's sentence for the user, with the folder concerned.
[[noreturn]] void fail(FailureCause cause, const QString& technical, const QString& folder = {})
{
    qCWarning(log::reports, "Export failed: %s", qUtf8Printable(technical));
    throw ExportError(cause, technical, folder);
}

// Unbuffered, so a full disk shows in the write itself: a buffered QSaveFile can report a commit as
// done after its flush failed, and leave an empty file.
void writeFile(const QString& path, const QString& text, const QString& folder)
{
    QSaveFile file(path);
    file.setDirectWriteFallback(false);
    const QByteArray bytes = text.toUtf8();
    errno = 0;
    const bool written = file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) &&
                         dossier::writeWhole(file, bytes) && file.flush() &&
                         file.error() == QFileDevice::NoError;
    if (!written) {
        const int errorNumber = errno;
        const QString why = file.errorString();
        file.cancelWriting();
        fail(dossier::fileWriteFailureCause(path, errorNumber, why), QStringLiteral("Could not write %1: %2").arg(path, why),
             folder);
    }
    errno = 0;
    if (!file.commit())
        fail(dossier::fileWriteFailureCause(path, errno, file.errorString()),
             QStringLiteral("Could not finish %1: %2").arg(path, file.errorString()), folder);
}

// Makes the export folder and its missing parents; remembers what it made, so a failed export
// removes only what it made: its own files, then the folders it made while they are empty.
struct ExportFolder {
    QString path;
    std::optional<CreatedFolders> made;
    QStringList written;

    explicit ExportFolder(const QString& folder) : path(folder)
    {
        try {
            made.emplace(folder);
        } catch (const std::filesystem::filesystem_error& error) {
            fail(failureCauseFromErrno(error.code().value()),
                 QStringLiteral("Could not create the export folder %1: %2")
                     .arg(folder, QString::fromStdString(error.code().message())),
                 folder);
        }
    }

    void write(const QString& file, const QString& text)
    {
        writeFile(file, text, path);
        written << file;
    }

    // A new folder goes entirely; in one that was there before only this export's files go. Then
    // the parents it made ("Polvarine Exports", even Documents) go while they are empty.
    void discard() const
    {
        if (made && made->madeTarget())
            QDir(path).removeRecursively();
        else
            for (const QString& file : written)
                QFile::remove(file);
        if (made)
            made->removeEmpty();
    }
};

} // namespace

ExportError::ExportError(FailureCause cause, QString technical, QString folder)
    : CausedError(cause, failureSentence(cause), std::move(folder)), technical_(std::move(technical))
{
}

ExportService::ExportService(std::shared_ptr<SQLiteStore> store, Options options)
    : BlockingActor("pv-export"), store_(std::move(store)), options_(std::move(options))
{
}

ExportService::~ExportService() { shutdownThread(); }

ExportWindow ExportService::makeWindow(ExportScope scope, Timestamp now)
{
    const QDate today = localTime(now).date();
    const Timestamp startOfToday = seconds(today.startOfDay(Qt::LocalTime));
    ExportWindow window;
    window.scope = scope;
    QString prefix;
    switch (scope) {
    case ExportScope::currentDay: {
        const QDateTime next = today.addDays(1).startOfDay(Qt::LocalTime);
        window.startDate = startOfToday;
        window.endDate = next.isValid() ? seconds(next) : now;
        window.reportTitle = QStringLiteral("Polvarine Daily Summary");
        prefix = QStringLiteral("Today: ");
        window.folderLabel = QStringLiteral("today");
        break;
    }
    case ExportScope::previousDay: {
        const QDateTime previous = today.addDays(-1).startOfDay(Qt::LocalTime);
        window.startDate = previous.isValid() ? seconds(previous) : startOfToday - kDaySeconds;
        window.endDate = startOfToday;
        window.reportTitle = QStringLiteral("Polvarine Previous Day Summary");
        prefix = QStringLiteral("Previous day: ");
        window.folderLabel = QStringLiteral("previous-day");
        break;
    }
    case ExportScope::last24Hours:
        window.startDate = now - kDaySeconds;
        window.endDate = now;
        window.reportTitle = QStringLiteral("Polvarine Last 24 Hours Summary");
        prefix = QStringLiteral("Last 24 hours: ");
        window.folderLabel = QStringLiteral("last-24-hours");
        break;
    }
    window.periodDescription = prefix + displayText(window.startDate) + QStringLiteral(" to ") + displayText(window.endDate);
    return window;
}

QString ExportService::folderStamp(Timestamp now)
{
    return QLocale::c().toString(localTime(now), QStringLiteral("yyyy-MM-dd_HH-mm-ss"));
}

QString ExportService::documentsFolder()
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (folder.isEmpty())
        fail(FailureCause::notFound, QStringLiteral("There is no Documents folder to export into."));
    return folder;
}

QString ExportService::samplesCSV(const std::vector<NetworkSample>& samples)
{
    using namespace csv;
    static const QStringList headers{
        QStringLiteral("timestamp"),      QStringLiteral("batch_id"),     QStringLiteral("target_kind"),
        QStringLiteral("target_label"),   QStringLiteral("target_host"),  QStringLiteral("interface_name"),
        QStringLiteral("local_address"),  QStringLiteral("gateway_address"), QStringLiteral("latency_ms"),
        QStringLiteral("success"),        QStringLiteral("timeout_count"), QStringLiteral("packet_loss"),
        QStringLiteral("error_description"), QStringLiteral("family")};
    return CSVWriter::document<NetworkSample>(headers, samples, [](const NetworkSample& s) {
        return QStringList{timestamp(s.timestamp),
                           s.batchID.toString(QUuid::WithoutBraces).toUpper(),
                           rawValue(s.target.kind),
                           text(s.target.label),
                           text(s.target.host),
                           text(s.route.interfaceName),
                           text(s.route.localAddress),
                           text(s.route.gatewayAddress),
                           fraction(s.latencyMilliseconds),
                           flag(s.success),
                           whole(static_cast<long long>(s.timeoutCount)),
                           fraction(s.packetLoss),
                           text(s.errorDescription),
                           rawValue(s.family)};
    });
}

QString ExportService::wifiSnapshotsCSV(const std::vector<WifiSnapshot>& snapshots)
{
    using namespace csv;
    static const QStringList headers{
        QStringLiteral("timestamp"), QStringLiteral("interface_name"), QStringLiteral("local_address"),
        QStringLiteral("gateway_address"), QStringLiteral("ssid"), QStringLiteral("bssid"), QStringLiteral("channel"),
        QStringLiteral("band"), QStringLiteral("rssi"), QStringLiteral("noise"), QStringLiteral("snr"),
        QStringLiteral("tx_rate_mbps"), QStringLiteral("phy_mode"), QStringLiteral("interface_up")};
    return CSVWriter::document<WifiSnapshot>(headers, snapshots, [](const WifiSnapshot& w) {
        const std::optional<int> snr = w.rssi && w.noise ? std::optional<int>(*w.rssi - *w.noise) : std::nullopt;
        return QStringList{timestamp(w.timestamp), text(w.interfaceName), text(w.localAddress), text(w.gatewayAddress),
                           text(w.ssid),           text(w.bssid),         whole(w.channel),       text(w.band),
                           whole(w.rssi),          whole(w.noise),        whole(snr),             fraction(w.txRateMbps),
                           text(w.phyMode),        flag(w.interfaceUp)};
    });
}

QString ExportService::incidentsCSV(const std::vector<Incident>& incidents)
{
    using namespace csv;
    static const QStringList headers{QStringLiteral("start_timestamp"), QStringLiteral("end_timestamp"),
                                     QStringLiteral("classification"), QStringLiteral("severity"),
                                     QStringLiteral("confidence"), QStringLiteral("evidence_summary"),
                                     QStringLiteral("outage")};
    return CSVWriter::document<Incident>(headers, incidents, [](const Incident& i) {
        return QStringList{timestamp(i.startTimestamp), timestamp(i.endTimestamp), rawValue(i.classification),
                           rawValue(i.severity),        fraction(i.confidence),    text(i.evidenceSummary),
                           flag(i.outage)};
    });
}

QString ExportService::eventsCSV(const std::vector<DiagnosticEvent>& events)
{
    using namespace csv;
    static const QStringList headers{QStringLiteral("timestamp"), QStringLiteral("kind"), QStringLiteral("details")};
    return CSVWriter::document<DiagnosticEvent>(headers, events, [](const DiagnosticEvent& e) {
        return QStringList{timestamp(e.timestamp), rawValue(e.kind), text(e.details)};
    });
}

QString ExportService::markersCSV(const std::vector<ManualMarker>& markers)
{
    using namespace csv;
    static const QStringList headers{QStringLiteral("timestamp"), QStringLiteral("action"), QStringLiteral("note")};
    return CSVWriter::document<ManualMarker>(headers, markers, [](const ManualMarker& m) {
        return QStringList{timestamp(m.timestamp), text(m.action), text(m.note)};
    });
}

namespace {

// The six files in order, the report computed between the CSV files and the page.
void writeFiles(ExportFolder& target, ExportResult& result, ExportRecords records, const ExportWindow& window, Timestamp now)
{
    target.write(result.samplesCSVURL.toLocalFile(), ExportService::samplesCSV(records.samples));
    target.write(result.wifiSnapshotsCSVURL.toLocalFile(), ExportService::wifiSnapshotsCSV(records.wifiSnapshots));
    target.write(result.incidentsCSVURL.toLocalFile(), ExportService::incidentsCSV(records.incidents));
    target.write(result.eventsCSVURL.toLocalFile(), ExportService::eventsCSV(records.events));
    target.write(result.markersCSVURL.toLocalFile(), ExportService::markersCSV(records.markers));

    DailyReportInput input;
    input.title = window.reportTitle;
    input.periodDescription = window.periodDescription;
    input.start = window.startDate;
    input.end = window.endDate;
    input.now = now;
    input.samples = std::move(records.samples);
    input.wifiSnapshots = std::move(records.wifiSnapshots);
    input.incidents = std::move(records.incidents);
    input.events = std::move(records.events);
    input.markers = std::move(records.markers);
    result.report = makeDailyReport(std::move(input));
    target.write(result.htmlURL.toLocalFile(), summaryHTML(result.report));
}

} // namespace

ExportResult ExportService::writeExport(const QString& documents, const ExportWindow& window, Timestamp now,
                                        ExportRecords records)
{
    const QString folder = QDir(documents).filePath(kExportsFolder + QLatin1Char('/') + folderStamp(now) +
                                                     QLatin1Char('_') + window.folderLabel);
    ExportFolder target(folder);
    const QDir dir(folder);

    ExportResult result;
    result.scope = window.scope;
    result.startDate = window.startDate;
    result.endDate = window.endDate;
    result.directoryURL = QUrl::fromLocalFile(folder);
    result.samplesCSVURL = QUrl::fromLocalFile(dir.filePath(QStringLiteral("samples.csv")));
    result.wifiSnapshotsCSVURL = QUrl::fromLocalFile(dir.filePath(QStringLiteral("wifi-snapshots.csv")));
    result.incidentsCSVURL = QUrl::fromLocalFile(dir.filePath(QStringLiteral("incidents.csv")));
    result.eventsCSVURL = QUrl::fromLocalFile(dir.filePath(QStringLiteral("events.csv")));
    result.markersCSVURL = QUrl::fromLocalFile(dir.filePath(QStringLiteral("markers.csv")));
    result.htmlURL = QUrl::fromLocalFile(dir.filePath(QStringLiteral("daily-summary.html")));

    try {
        writeFiles(target, result, std::move(records), window, now);
    } catch (...) {
        target.discard();
        throw;
    }
    return result;
}


rt::awaitable<ExportResult> ExportService::runExport(ExportScope scope, Timestamp now)
{
    if (!store_)
        throw std::runtime_error("The evidence store is unavailable.");
    const ExportWindow window = makeWindow(scope, now);
    auto records = std::make_shared<ExportRecords>();
    records->samples = co_await store_->samples(window.startDate, window.endDate);
    records->wifiSnapshots = co_await store_->wifiSnapshots(window.startDate, window.endDate);
    records->incidents = co_await store_->incidents(window.startDate, window.endDate);
    records->events = co_await store_->events(window.startDate, window.endDate);
    records->markers = co_await store_->markers(window.startDate, window.endDate);
    ExportResult result = co_await writeOnOwnThread(window, now, std::move(records));
    co_return result;
}

rt::awaitable<ExportResult> ExportService::writeOnOwnThread(ExportWindow window, Timestamp now,
                                                            std::shared_ptr<ExportRecords> records)
{
    // Not a coroutine: the work's closure must not be a temporary of a co_await expression.
    const std::optional<QString> documents = options_.documentsFolder;
    return call([documents, window = std::move(window), now, records = std::move(records)]() {
        return writeExport(documents ? *documents : documentsFolder(), window, now, std::move(*records));
    });
}

std::function<std::shared_ptr<pv::ExportService>(std::shared_ptr<SQLiteStore>)> exportServiceMaker()
{
    return [](std::shared_ptr<SQLiteStore> store) -> std::shared_ptr<pv::ExportService> {
        return std::make_shared<ExportService>(std::move(store));
    };
}

} // namespace pv::reports
