#pragma once
// Helpers of the store tests: running a store operation to its end from a test, a plain SQLite
// connection to look at (or damage) a database behind the store's back, and record factories.

#include "core/records/Records.h"
#include "core/records/Runtime.h"
#include "core/store/StoreError.h"

#include <QString>

#include <sqlite3.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <exception>
#include <optional>
#include <type_traits>
#include <vector>

namespace pv::test {

// Waits for the flag; fails the test program loudly when it never comes.
void pumpAwait(const bool& done, std::chrono::milliseconds timeout);

// Runs a store operation from the GUI thread's executor and waits for it; rethrows its error.
template <typename T> T await(rt::awaitable<T> operation, std::chrono::milliseconds timeout = std::chrono::seconds(30))
{
    bool done = false;
    std::exception_ptr error;
    if constexpr (std::is_void_v<T>) {
        asio::co_spawn(rt::QtExecutor(), std::move(operation), [&](std::exception_ptr e) {
            error = e;
            done = true;
        });
        pumpAwait(done, timeout);
        if (error)
            std::rethrow_exception(error);
    } else {
        std::optional<T> result;
        asio::co_spawn(rt::QtExecutor(), std::move(operation), [&](std::exception_ptr e, T value) {
            error = e;
            if (!e)
                result.emplace(std::move(value));
            done = true;
        });
        pumpAwait(done, timeout);
        if (error)
            std::rethrow_exception(error);
        return std::move(*result);
    }
}

// The StoreError an operation ends with; a test failure (and code -1) when it succeeds or throws
// something else.
template <typename T> StoreError awaitError(rt::awaitable<T> operation)
{
    try {
        await(std::move(operation));
    } catch (const StoreError& e) {
        return e;
    } catch (const std::exception& e) {
        ADD_FAILURE() << "unexpected exception: " << e.what();
        return StoreError(-1, QString());
    }
    ADD_FAILURE() << "the operation succeeded";
    return StoreError(-1, QString());
}

// A direct connection to a database file, for looking at what the store wrote.
class RawDb {
public:
    explicit RawDb(const QString& path);
    ~RawDb();
    RawDb(const RawDb&) = delete;
    RawDb& operator=(const RawDb&) = delete;

    sqlite3* handle() const { return db_; }
    void exec(const QString& sql);
    // The first column of the first row (NULL and no row read as nullopt).
    std::optional<double> real(const QString& sql);
    std::int64_t integer(const QString& sql);
    QString text(const QString& sql);
    QStringList column(const QString& sql);
    // Writes samples in one transaction, the way the store lays them out (tests need many rows fast).
    void insertSamples(const std::vector<NetworkSample>& samples);

private:
    sqlite3* db_ = nullptr;
};

// A successful gateway sample (or of the given kind) at time t.
NetworkSample makeSample(Timestamp t, ProbeKind kind = ProbeKind::gateway, std::optional<double> latency = 12.5,
                         bool success = true);
ProbeBatch makeBatch(Timestamp t, int sampleCount = 5);
WifiSnapshot makeWifi(Timestamp t);
Incident makeIncident(Timestamp start, std::optional<Timestamp> end);
DiagnosticEvent makeEvent(Timestamp t, DiagnosticEventKind kind = DiagnosticEventKind::pathChanged);
ManualMarker makeMarker(Timestamp t);

// A fresh database path in its own temporary folder.
QString freshDatabasePath(const QString& folderName = QStringLiteral("db"));

} // namespace pv::test
