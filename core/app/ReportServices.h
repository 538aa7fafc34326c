#pragma once
// What the application core asks of the reports: the export of a period as files and the PDF
// measurement dossier. The reports implement these; the core only holds and awaits them.

#include "core/records/Quality.h"
#include "core/records/Runtime.h"

#include <QString>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

namespace pv {

class SQLiteStore;

struct ExportResult {
    ExportScope scope = ExportScope::currentDay;
    Timestamp startDate = 0;
    Timestamp endDate = 0;
    QUrl directoryURL;
    QUrl samplesCSVURL;
    QUrl wifiSnapshotsCSVURL;
    QUrl incidentsCSVURL;
    QUrl eventsCSVURL;
    QUrl markersCSVURL;
    QUrl htmlURL;
    DailyReport report;
};

class ExportService {
public:
    virtual ~ExportService() = default;
    // Writes the scope's window around `now` into a new folder; throws what a read or write threw.
    virtual rt::awaitable<ExportResult> runExport(ExportScope scope, Timestamp now) = 0;
};

struct DossierRequest {
    Timestamp start = 0;
    Timestamp end = 0;
    bool anonymiseNetworkNames = false;
    std::optional<QString> regionCode;
    // How long the store keeps raw samples under the retention in force; absent when not known.
    std::optional<double> rawRetentionSeconds = std::nullopt;
    bool operator==(const DossierRequest&) const = default;

    double duration() const { return end - start; }
};

class DossierService {
public:
    virtual ~DossierService() = default;
    // Builds the dossier of the request's period, writes the PDF into `folder` and returns the
    // file's URL; throws on any failure.
    virtual rt::awaitable<QUrl> create(DossierRequest request, QUrl folder) = 0;
};

// How the composition reaches the reports, which are built on top of this layer: the program
// registers the real makers before it composes the view model. Without them the services say that
// exports are not available in this build.
struct ReportServiceMakers {
    std::function<std::shared_ptr<ExportService>(std::shared_ptr<SQLiteStore> store)> makeExportService;
    // store, version text ("1.0")
    std::function<std::shared_ptr<DossierService>(std::shared_ptr<SQLiteStore> store, QString version)>
        makeDossierService;
};

void registerReportServiceMakers(ReportServiceMakers makers);
// Replaces only the dossier maker, keeping whatever export maker is registered.
void registerDossierServiceMaker(decltype(ReportServiceMakers::makeDossierService) maker);
// Whether real export services were registered (the views offer exports only then).
bool exportsAvailable();
std::shared_ptr<ExportService> makeExportService(std::shared_ptr<SQLiteStore> store);
std::shared_ptr<DossierService> makeDossierService(std::shared_ptr<SQLiteStore> store, QString version);

} // namespace pv
