#pragma once
// The text of a failure: the technical text for the log (the store's own message for store errors,
// what() otherwise) and the cause a status line names in Hungarian.

#include "core/records/FailureText.h"

#include <QString>

#include <exception>

namespace pv {

QString errorText(const std::exception& error);
QString errorText(const std::exception_ptr& error);

// What a failed operation reports: the cause the user reads, the technical text the log keeps.
struct FailureReport {
    FailureCause cause = FailureCause::unknown;
    QString technical;
    // The file or folder the failure concerns, when the error tells it.
    QString path;

    // The Hungarian sentence of the cause (never the technical text).
    QString sentence() const { return failureSentence(cause); }
    // The cause's sentence followed by the path it concerns: the error's own, else `concerned`.
    QString sentenceNaming(const QString& concerned) const
    {
        const QString note = pathNote(path.isEmpty() ? concerned : path);
        return note.isEmpty() ? sentence() : sentence() + QLatin1Char(' ') + note;
    }
};

FailureReport failureReport(const std::exception& error);
FailureReport failureReport(const std::exception_ptr& error);

} // namespace pv
