#pragma once
// The export of one period (today, the previous day, the last 24 hours) as five CSV files and the
// HTML daily summary, in a new time-stamped folder under the user's Documents folder:
// Documents/Polvarine Exports/<yyyy-MM-dd_HH-mm-ss>_<today|previous-day|last-24-hours>/.
//
// The reads run on the store's thread, one after another; the report, the texts and the files are
// made on the service's own thread, so the caller's thread never waits on them. Every file is
// written whole and atomically, and every write is checked: when one fails (a full disk, a read-only
// folder) the whole export fails with an ExportError and the folders it made are removed again (its
// own one and, while empty, "Polvarine Exports" and Documents when it made them), so no half export,
// no empty file and no empty folder is left behind.

#include "core/app/ReportServices.h"
#include "core/records/FailureText.h"
#include "core/records/Quality.h"
#include "core/records/Runtime.h"

#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace pv {
class SQLiteStore;
}

namespace pv::reports {

// Why an export could not be written. what() is the Hungarian sentence of the cause, ready for the
// user ("Betelt a lemez, nincs hely a fájlok írására."); the technical text is logged where it
// happened and kept in technical(); failurePath() is the export folder concerned.
class ExportError : public CausedError {
public:
    ExportError(FailureCause cause, QString technical, QString folder = {});
    const QString& technical() const { return technical_; }

private:
    QString technical_;
};

struct ExportWindow {
    ExportScope scope = ExportScope::currentDay;
    Timestamp startDate = 0; // inclusive
    Timestamp endDate = 0;   // inclusive
    QString reportTitle;
    QString periodDescription;
    QString folderLabel;
};

// The records of one window, in the order the store returned them (ascending time).
struct ExportRecords {
    std::vector<NetworkSample> samples;
    std::vector<WifiSnapshot> wifiSnapshots;
    std::vector<Incident> incidents;
    std::vector<DiagnosticEvent> events;
    std::vector<ManualMarker> markers;
};

class ExportService final : public pv::ExportService, private rt::BlockingActor {
public:
    struct Options {
        // The folder that holds "Polvarine Exports"; the user's Documents folder when absent.
        std::optional<QString> documentsFolder;
    };

    explicit ExportService(std::shared_ptr<SQLiteStore> store, Options options = {});
    ~ExportService() override;

    rt::awaitable<ExportResult> runExport(ExportScope scope, Timestamp now) override;

    // The window of a scope around `now`: calendar days from local midnights (23 or 25 hours across
    // a daylight-saving change), the last 24 hours as 86,400 seconds.
    static ExportWindow makeWindow(ExportScope scope, Timestamp now);
    // "yyyy-MM-dd_HH-mm-ss" in the user's time zone.
    static QString folderStamp(Timestamp now);
    // The XDG Documents folder (made with the export when missing); throws when there is none.
    static QString documentsFolder();

    static QString samplesCSV(const std::vector<NetworkSample>& samples);
    static QString wifiSnapshotsCSV(const std::vector<WifiSnapshot>& snapshots);
    static QString incidentsCSV(const std::vector<Incident>& incidents);
    static QString eventsCSV(const std::vector<DiagnosticEvent>& events);
    static QString markersCSV(const std::vector<ManualMarker>& markers);

    // Computes the report and writes the six files into documents/Polvarine Exports/...; blocking.
    // Throws ExportError when the folder or a file cannot be written; the folder is then gone.
    static ExportResult writeExport(const QString& documents, const ExportWindow& window, Timestamp now,
                                    ExportRecords records);

private:
    rt::awaitable<ExportResult> writeOnOwnThread(ExportWindow window, Timestamp now, std::shared_ptr<ExportRecords> records);

    std::shared_ptr<SQLiteStore> store_;
    Options options_;
};

// What the program registers (ReportServiceMakers::makeExportService) so the views offer exports.
std::function<std::shared_ptr<pv::ExportService>(std::shared_ptr<SQLiteStore>)> exportServiceMaker();

} // namespace pv::reports
