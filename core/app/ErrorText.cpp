#include "core/app/ErrorText.h"

#include "core/store/StoreError.h"

#include <asio.hpp>

namespace pv {

QString errorText(const std::exception& e)
{
    if (const auto* storeError = dynamic_cast<const StoreError*>(&e))
        return storeError->message();
    return QString::fromUtf8(e.what());
}

QString errorText(const std::exception_ptr& error)
{
    try {
        std::rethrow_exception(error);
    } catch (const asio::multiple_exceptions& e) {
        return errorText(e.first_exception()); // nested once per combined pair of reads
    } catch (const std::exception& e) {
        return errorText(e);
    } catch (...) {
    }
    return QStringLiteral("unknown error");
}

namespace {

// The store's own codes share the low numbers with SQLite's primary codes; only SQLite's are read.
bool isSqliteCode(int code)
{
    switch (code) {
    case StoreError::openFailed:
    case StoreError::baselineNotUtf8:
    case StoreError::schemaTooNew:
    case StoreError::schemaVersionUnreadable:
    case StoreError::tableNotInspectable:
    case StoreError::unavailable:
        return false;
    default:
        return code > 0;
    }
}

} // namespace

FailureReport failureReport(const std::exception& e)
{
    FailureReport report{failureCauseOf(e), errorText(e), failurePathOf(e)};
    if (const auto* storeError = dynamic_cast<const StoreError*>(&e)) {
        report.cause = failureCauseFromText(storeError->message());
        if (report.cause == FailureCause::unknown && isSqliteCode(storeError->code()))
            report.cause = failureCauseFromSqlite(storeError->code());
    }
    return report;
}

FailureReport failureReport(const std::exception_ptr& error)
{
    try {
        std::rethrow_exception(error);
    } catch (const asio::multiple_exceptions& e) {
        return failureReport(e.first_exception());
    } catch (const std::exception& e) {
        return failureReport(e);
    } catch (...) {
    }
    return FailureReport{FailureCause::unknown, QStringLiteral("unknown error"), QString()};
}

} // namespace pv
