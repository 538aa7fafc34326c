#pragma once
// A prepared SQLite statement that is finalized on every path out of the scope that made it, with
// the binders and column readers the store needs.

#include "core/store/StoreError.h"

#include <QByteArray>
#include <QString>

#include <sqlite3.h>

#include <cstdint>
#include <optional>

namespace pv::store {

// The connection's current SQLite code and message as a store error.
StoreError lastError(sqlite3* db);

class Statement {
public:
    // Prepares the whole text; a failure throws lastError().
    Statement(sqlite3* db, const char* sql);
    ~Statement() { finalize(); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    sqlite3* db() const { return db_; }

    // Binders: positions count from 1. A failed bind throws lastError(). Text is bound as a copy,
    // booleans as 1 and 0, an absent optional as NULL.
    void bind(int pos, double v);
    void bind(int pos, int v);
    void bind(int pos, bool v) { bind(pos, v ? 1 : 0); }
    void bind(int pos, const QString& v);
    void bind(int pos, const QByteArray& utf8);
    void bindNull(int pos);
    template <typename T> void bind(int pos, const std::optional<T>& v)
    {
        if (v)
            bind(pos, *v);
        else
            bindNull(pos);
    }
    // Binds the values to positions 1, 2, 3, ... in order.
    template <typename... Values> void bindAll(const Values&... values)
    {
        int pos = 1;
        (bind(pos++, values), ...);
    }

    // Makes the statement ready to be stepped again with new bindings.
    void reset() { sqlite3_reset(stmt_); }
    // Steps once and returns SQLite's result code.
    int step() { return sqlite3_step(stmt_); }
    // Steps a statement that yields no rows; anything but completion throws lastError().
    void run();

    bool isNull(int col) const { return sqlite3_column_type(stmt_, col) == SQLITE_NULL; }
    double columnDouble(int col) const { return sqlite3_column_double(stmt_, col); }
    int columnInt(int col) const { return sqlite3_column_int(stmt_, col); }
    std::int64_t columnInt64(int col) const { return sqlite3_column_int64(stmt_, col); }
    // The column's bytes as UTF-8 (empty for NULL); valid until the next step.
    QByteArrayView columnBytes(int col) const;
    // NULL reads as empty text.
    QString columnText(int col) const;
    std::optional<QString> columnOptText(int col) const;
    std::optional<double> columnOptDouble(int col) const;
    std::optional<int> columnOptInt(int col) const;

    void finalize();

private:
    sqlite3* db_;
    sqlite3_stmt* stmt_ = nullptr;
};

} // namespace pv::store
