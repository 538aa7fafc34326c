#include "core/store/Statement.h"

namespace pv::store {

StoreError lastError(sqlite3* db)
{
    return StoreError(sqlite3_errcode(db), QString::fromUtf8(sqlite3_errmsg(db)));
}

Statement::Statement(sqlite3* db, const char* sql) : db_(db)
{
    if (sqlite3_prepare_v2(db_, sql, -1, &stmt_, nullptr) != SQLITE_OK) {
        // The error must be read before the half-made statement is released.
        StoreError error = lastError(db_);
        finalize();
        throw error;
    }
}

void Statement::finalize()
{
    if (stmt_) {
        sqlite3_finalize(stmt_);
        stmt_ = nullptr;
    }
}

namespace {
void check(sqlite3* db, int rc)
{
    if (rc != SQLITE_OK)
        throw lastError(db);
}
} // namespace

void Statement::bind(int pos, double v) { check(db_, sqlite3_bind_double(stmt_, pos, v)); }
void Statement::bind(int pos, int v) { check(db_, sqlite3_bind_int(stmt_, pos, v)); }
void Statement::bindNull(int pos) { check(db_, sqlite3_bind_null(stmt_, pos)); }

void Statement::bind(int pos, const QByteArray& utf8)
{
    check(db_, sqlite3_bind_text(stmt_, pos, utf8.constData(), static_cast<int>(utf8.size()), SQLITE_TRANSIENT));
}

void Statement::bind(int pos, const QString& v) { bind(pos, v.toUtf8()); }

void Statement::run()
{
    if (step() != SQLITE_DONE)
        throw lastError(db_);
}

QByteArrayView Statement::columnBytes(int col) const
{
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, col));
    if (!text)
        return {};
    return QByteArrayView(text, sqlite3_column_bytes(stmt_, col));
}

QString Statement::columnText(int col) const { return QString::fromUtf8(columnBytes(col)); }

std::optional<QString> Statement::columnOptText(int col) const
{
    if (isNull(col))
        return std::nullopt;
    return columnText(col);
}

std::optional<double> Statement::columnOptDouble(int col) const
{
    if (isNull(col))
        return std::nullopt;
    return columnDouble(col);
}

std::optional<int> Statement::columnOptInt(int col) const
{
    if (isNull(col))
        return std::nullopt;
    return columnInt(col);
}

} // namespace pv::store
