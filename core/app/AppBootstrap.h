#pragma once
// The one place where the live system is put together at start-up.

#include "core/app/AppViewModel.h"
#include "core/app/StorageHealth.h"
#include "core/probes/NativeProbeService.h"

#include <QString>

#include <memory>

namespace pv {

class SQLiteStore;
class AppViewModel;

struct OpenedStore {
    std::shared_ptr<SQLiteStore> store; // never null: file-backed, memory-backed or unavailable
    StorageHealth health;
};

namespace AppBootstrap {

// Opens the evidence store and composes every service into the one view model. Starts nothing.
// POLVARINE_DB names the database file; POLVARINE_CAPTIVE_URL (when set and not empty) replaces the
// captive-portal check page, so that the network lab can serve it, its body holding
// POLVARINE_CAPTIVE_RESPONSE ("Success" when unset). Otherwise the page is NetworkManager's
// connectivity check when the system configures one, else the probe's neutral default.
std::unique_ptr<AppViewModel> makeLiveViewModel();
// The same with the model's own parts chosen by the caller (settings, notifier, clock...).
std::unique_ptr<AppViewModel> makeLiveViewModel(AppViewModel::Environment environment);

// The probe service's options from the environment (see POLVARINE_CAPTIVE_URL above).
NativeProbeService::Options probeOptionsFromEnvironment();
// The built-in profile with the DNS probe zone of POLVARINE_DNS_ZONE (a zone of the user's or
// packager's own; special-use names are refused with a log line); its methodology note is logged.
MeasurementProfile probeProfile();

// Opens the default database. Only a file that SQLite reports as not a database or as corrupt is
// moved aside for a fresh one; any other failure (a newer schema, a busy or locked file, a full
// disk, a permission problem) leaves the file where it is and runs in memory, so an upgrade or a
// second running copy never hides the user's evidence. Never throws.
OpenedStore openEvidenceStore();

// Moves the database and its "-wal" and "-shm" companions to "<name>.corrupt-<UTC stamp>" in the
// same folder and returns the moved main file's path. Throws std::filesystem::filesystem_error.
QString quarantineCorruptStore(const QString& databasePath);

// True for the failures that mean the file itself is unreadable (SQLITE_NOTADB, SQLITE_CORRUPT).
bool isUnreadableDatabase(const std::exception& error);

} // namespace AppBootstrap

} // namespace pv
