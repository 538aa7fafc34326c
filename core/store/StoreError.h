#pragma once
// The one error type of the evidence store: a domain, an integer code and a message. Codes below 100
// that are not SQLite's own are the store's: 1 open failed, 2 baseline payload not UTF-8, 3 schema
// newer than this build, 4 schema version unreadable, 5 table not inspectable, 99 no connection.

#include <QString>

#include <exception>
#include <string>

namespace pv {

class StoreError : public std::exception {
public:
    static constexpr int openFailed = 1;
    static constexpr int baselineNotUtf8 = 2;
    static constexpr int schemaTooNew = 3;
    static constexpr int schemaVersionUnreadable = 4;
    static constexpr int tableNotInspectable = 5;
    static constexpr int unavailable = 99;

    StoreError(int code, QString message);

    static QString domain() { return QStringLiteral("Polvarine.SQLite"); }
    int code() const { return code_; }
    const QString& message() const { return message_; }
    // The message, for callers that only know std::exception.
    const char* what() const noexcept override { return what_.c_str(); }

private:
    int code_;
    QString message_;
    std::string what_;
};

} // namespace pv
