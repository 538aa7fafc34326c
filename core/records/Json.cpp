#include "core/records/Json.h"

#include <QJsonDocument>
#include <QJsonParseError>

namespace pv::json {

namespace {
QJsonValue required(const QJsonObject& o, const char* key)
{
    const auto it = o.constFind(QLatin1String(key));
    if (it == o.constEnd() || it->isNull() || it->isUndefined())
        throw DecodeError(QStringLiteral("missing value for key \"%1\"").arg(QLatin1String(key)));
    return *it;
}

std::optional<QJsonValue> optional(const QJsonObject& o, const char* key)
{
    const auto it = o.constFind(QLatin1String(key));
    if (it == o.constEnd() || it->isNull() || it->isUndefined())
        return std::nullopt;
    return *it;
}

[[noreturn]] void typeMismatch(const char* key, const char* expected)
{
    throw DecodeError(QStringLiteral("expected %1 for key \"%2\"").arg(QLatin1String(expected), QLatin1String(key)));
}

double asDouble(const QJsonValue& v, const char* key)
{
    if (!v.isDouble())
        typeMismatch(key, "a number");
    return v.toDouble();
}

long long asInt(const QJsonValue& v, const char* key)
{
    if (!v.isDouble())
        typeMismatch(key, "a whole number");
    const QVariant var = v.toVariant();
    if (var.typeId() == QMetaType::LongLong || var.typeId() == QMetaType::Int)
        return var.toLongLong();
    const double d = v.toDouble();
    if (!std::isfinite(d) || std::floor(d) != d || std::fabs(d) > 9.0e15)
        typeMismatch(key, "a whole number");
    return static_cast<long long>(d);
}

int asInt32(const QJsonValue& v, const char* key)
{
    const long long x = asInt(v, key);
    if (x < INT32_MIN || x > INT32_MAX)
        typeMismatch(key, "a 32-bit whole number");
    return static_cast<int>(x);
}
} // namespace

QString uuidText(const QUuid& id) { return id.toString(QUuid::WithoutBraces).toUpper(); }

std::optional<QUuid> parseUuid(const QString& text)
{
    if (text.size() != 36)
        return std::nullopt;
    const QUuid id = QUuid::fromString(text);
    if (id.isNull() && text != QStringLiteral("00000000-0000-0000-0000-000000000000"))
        return std::nullopt;
    return id;
}

void putDouble(QJsonObject& o, const char* key, double v)
{
    if (!std::isfinite(v))
        throw EncodeError(QStringLiteral("the value of \"%1\" is not a finite number").arg(QLatin1String(key)));
    o.insert(QLatin1String(key), v);
}

void putOptDouble(QJsonObject& o, const char* key, const std::optional<double>& v)
{
    if (v)
        putDouble(o, key, *v);
}

double getDouble(const QJsonObject& o, const char* key) { return asDouble(required(o, key), key); }
std::optional<double> getOptDouble(const QJsonObject& o, const char* key)
{
    if (auto v = optional(o, key)) return asDouble(*v, key);
    return std::nullopt;
}
long long getInt(const QJsonObject& o, const char* key) { return asInt(required(o, key), key); }
int getInt32(const QJsonObject& o, const char* key) { return asInt32(required(o, key), key); }
std::optional<int> getOptInt(const QJsonObject& o, const char* key)
{
    if (auto v = optional(o, key)) return asInt32(*v, key);
    return std::nullopt;
}
bool getBool(const QJsonObject& o, const char* key)
{
    const QJsonValue v = required(o, key);
    if (!v.isBool()) typeMismatch(key, "a boolean");
    return v.toBool();
}
QString getString(const QJsonObject& o, const char* key)
{
    const QJsonValue v = required(o, key);
    if (!v.isString()) typeMismatch(key, "a string");
    return v.toString();
}
std::optional<QString> getOptString(const QJsonObject& o, const char* key)
{
    if (auto v = optional(o, key)) {
        if (!v->isString()) typeMismatch(key, "a string");
        return v->toString();
    }
    return std::nullopt;
}
QUuid getUuid(const QJsonObject& o, const char* key)
{
    const QString s = getString(o, key);
    if (auto id = parseUuid(s)) return *id;
    throw DecodeError(QStringLiteral("\"%1\" is not a UUID for key \"%2\"").arg(s, QLatin1String(key)));
}
QJsonObject getObject(const QJsonObject& o, const char* key)
{
    const QJsonValue v = required(o, key);
    if (!v.isObject()) typeMismatch(key, "an object");
    return v.toObject();
}
std::optional<QJsonObject> getOptObject(const QJsonObject& o, const char* key)
{
    if (auto v = optional(o, key)) {
        if (!v->isObject()) typeMismatch(key, "an object");
        return v->toObject();
    }
    return std::nullopt;
}

QJsonObject parseObject(const QByteArray& text)
{
    QJsonParseError err{};
    const QJsonDocument doc = QJsonDocument::fromJson(text, &err);
    if (err.error != QJsonParseError::NoError)
        throw DecodeError(QStringLiteral("invalid JSON: %1 at offset %2").arg(err.errorString()).arg(err.offset));
    if (!doc.isObject())
        throw DecodeError(QStringLiteral("invalid JSON: expected an object"));
    return doc.object();
}

QByteArray compact(const QJsonObject& o) { return QJsonDocument(o).toJson(QJsonDocument::Compact); }

} // namespace pv::json
