#pragma once
// The month-long evidence databases the benchmarks read and prune, written as the program writes them:
// 30 days at the real cadence (a batch every ~4.25 s, 4 or 5 samples, 60 samples a minute, about
// 2.6 million rows), a Wi-Fi reading every 8 s, incidents and events as a month of monitoring leaves
// them, and the store's own retention pass every 900 s of batch time under one policy. Each database
// is built once into a cache folder (named after its policy and the generator's version) and reused
// by every later run; benchmarks that write work on a fresh copy.
//
//   POLVARINE_BENCH_CACHE=<folder>   where the databases are kept (default /tmp/polvarine-bench)

#include "core/records/Records.h"
#include "core/records/Runtime.h"

#include <QString>

#include <cstdint>
#include <optional>
#include <exception>
#include <random>

namespace pv::bench {

inline constexpr double kDay = 86400;
// The end of the recorded month (on an hour): the "now" of every benchmark that reads it.
inline constexpr double kDataEnd = 1767225600;
inline constexpr double kDataStart = kDataEnd - 30 * kDay;

// The month under the long-term policy: every raw sample and Wi-Fi reading of the 30 days kept, no
// roll-up yet (nothing is older than the policy's raw period).
const QString& thirtyDayDatabase();
// The month under the standard policy: raw samples and Wi-Fi readings for the newest week only, the
// minute and hour roll-ups of the older weeks.
const QString& standardRetentionDatabase();
// The long-term month written with random (version-4) ids, as databases made before time-ordered
// ids look; for comparison.
const QString& thirtyDayDatabaseWithRandomIds();

// A private copy of one of the databases above, removed when the process exits (or earlier by
// removeDatabase).
QString freshCopyOf(const QString& path);
// Removes a database file with its -wal and -shm files.
void removeDatabase(const QString& path);

// One probe batch as the probe cycle makes it: batch n at time t, 4 samples (5 on every fourth batch).
ProbeBatch benchBatch(std::mt19937& rng, std::int64_t n, double t);

// Runs one store operation to its end on a private io_context; its error is rethrown.
template <typename T> T run(rt::awaitable<T> op)
{
    asio::io_context io;
    std::exception_ptr error;
    std::optional<T> value;
    asio::co_spawn(io, std::move(op), [&](std::exception_ptr e, T v) {
        error = e;
        if (!e)
            value.emplace(std::move(v));
    });
    io.run();
    if (error)
        std::rethrow_exception(error);
    return std::move(*value);
}

inline void run(rt::awaitable<void> op)
{
    asio::io_context io;
    std::exception_ptr error;
    asio::co_spawn(io, std::move(op), [&](std::exception_ptr e) { error = e; });
    io.run();
    if (error)
        std::rethrow_exception(error);
}

} // namespace pv::bench
