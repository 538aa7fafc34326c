#pragma once
// Why an operation failed, in words a user can act on.
//
// Screens never show raw system or library error text: they turn the failure into one of the common
// causes below and show its Hungarian sentence, while the technical text goes to the log.

#include <QString>

#include <exception>
#include <stdexcept>

namespace pv {

enum class FailureCause {
    diskFull,
    readOnly,
    noPermission,
    notAFolder,
    notFound,
    icmpNotPermitted,
    nameNotResolved,
    connectionRefused,
    timedOut,
    unreachable,
    serverError,
    inUse,
    nothingMeasured,
    unknown,
};

// errno values (also std::error_code values of the generic and system categories).
FailureCause failureCauseFromErrno(int errorNumber);

// SQLite primary or extended result codes (SQLITE_FULL, SQLITE_READONLY, SQLITE_PERM, SQLITE_CANTOPEN, ...).
FailureCause failureCauseFromSqlite(int resultCode);

// Best effort for failures that only arrive as text (system messages, SQLite's messages, libcurl's
// messages, "errno N" in our own technical texts). English and the Hungarian C-library texts.
FailureCause failureCauseFromText(const QString& technical);

// One Hungarian sentence, ending in a full stop.
QString failureSentence(FailureCause cause);

// An error type of a higher layer that knows its cause says it through this.
class FailureCauseCarrier {
public:
    virtual ~FailureCauseCarrier() = default;
    virtual FailureCause failureCause() const = 0;
    // The file or folder the failure concerns, as the file system spells it; empty when none.
    virtual QString failurePath() const { return {}; }
};

// An error whose cause is already known where it was thrown. what() is the technical text for the log.
class CausedError : public std::runtime_error, public FailureCauseCarrier {
public:
    CausedError(FailureCause cause, const QString& technical, QString path = {});
    FailureCause cause() const { return cause_; }
    FailureCause failureCause() const override { return cause_; }
    QString failurePath() const override { return path_; }

private:
    FailureCause cause_;
    QString path_;
};

// The cause of any exception: a carrier's own, std::filesystem_error's and std::system_error's
// error code, otherwise read from what().
FailureCause failureCauseOf(const std::exception& error);

// The path a failure concerns: a carrier's own, or the first path of a std::filesystem_error.
QString failurePathOf(const std::exception& error);

// A path as the user reads it: native separators, and "~" for the home folder it lies under.
QString displayPath(const QString& path);

// The sentence that names the path of a failure ("Érintett hely: ~/Dokumentumok/x"); empty for an
// empty path.
QString pathNote(const QString& path);

// "<lead> <cause sentence>": the message a screen shows, e.g. lead "Az exportálás nem sikerült.".
QString failureMessage(const QString& lead, FailureCause cause);
QString failureMessage(const QString& lead, const std::exception& error);

} // namespace pv
