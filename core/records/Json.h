#pragma once
// Strict keyed JSON coding for the records: one key per field, absent optionals left out, a missing
// or mistyped non-optional field (or an unknown enumeration value) is an error, a fractional value
// for an integer is an error, and a non-finite double is never written.

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QUuid>

#include <cmath>
#include <optional>
#include <stdexcept>
#include <string>

namespace pv::json {

class DecodeError : public std::runtime_error {
public:
    explicit DecodeError(const QString& what) : std::runtime_error(what.toStdString()) {}
};

class EncodeError : public std::runtime_error {
public:
    explicit EncodeError(const QString& what) : std::runtime_error(what.toStdString()) {}
};

QString uuidText(const QUuid& id); // upper-case canonical, no braces
std::optional<QUuid> parseUuid(const QString& text); // any case; none for anything else

// Writers
void putDouble(QJsonObject& o, const char* key, double v);
void putOptDouble(QJsonObject& o, const char* key, const std::optional<double>& v);
inline void putInt(QJsonObject& o, const char* key, long long v) { o.insert(QLatin1String(key), QJsonValue(static_cast<qint64>(v))); }
inline void putOptInt(QJsonObject& o, const char* key, const std::optional<int>& v)
{
    if (v) putInt(o, key, *v);
}
inline void putBool(QJsonObject& o, const char* key, bool v) { o.insert(QLatin1String(key), v); }
inline void putString(QJsonObject& o, const char* key, const QString& v) { o.insert(QLatin1String(key), v); }
inline void putOptString(QJsonObject& o, const char* key, const std::optional<QString>& v)
{
    if (v) o.insert(QLatin1String(key), *v);
}
inline void putUuid(QJsonObject& o, const char* key, const QUuid& v) { o.insert(QLatin1String(key), uuidText(v)); }
inline void putObject(QJsonObject& o, const char* key, const QJsonObject& v) { o.insert(QLatin1String(key), v); }

// Readers
double getDouble(const QJsonObject& o, const char* key);
std::optional<double> getOptDouble(const QJsonObject& o, const char* key);
long long getInt(const QJsonObject& o, const char* key);
std::optional<int> getOptInt(const QJsonObject& o, const char* key);
int getInt32(const QJsonObject& o, const char* key);
bool getBool(const QJsonObject& o, const char* key);
QString getString(const QJsonObject& o, const char* key);
std::optional<QString> getOptString(const QJsonObject& o, const char* key);
QUuid getUuid(const QJsonObject& o, const char* key);
QJsonObject getObject(const QJsonObject& o, const char* key);
std::optional<QJsonObject> getOptObject(const QJsonObject& o, const char* key);

template <typename Enum, typename Parser>
Enum getEnum(const QJsonObject& o, const char* key, Parser parse)
{
    const QString raw = getString(o, key);
    if (auto e = parse(raw))
        return *e;
    throw DecodeError(QStringLiteral("\"%1\" is not a valid value for \"%2\"").arg(raw, QLatin1String(key)));
}

// Parses a whole text as one JSON object; throws DecodeError with the parser's message otherwise.
QJsonObject parseObject(const QByteArray& text);
QByteArray compact(const QJsonObject& o);

} // namespace pv::json
