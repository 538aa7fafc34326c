#include "reports/CsvWriter.h"

#include "core/records/Localization.h"

#include <QDateTime>

#include <cmath>

namespace pv::reports {

QString CSVWriter::line(const QStringList& fields)
{
    QString text;
    appendLine(text, fields);
    return text;
}

void CSVWriter::appendLine(QString& text, const QStringList& fields)
{
    bool first = true;
    for (const QString& field : fields) {
        if (!first)
            text += QLatin1Char(',');
        first = false;
        text += QLatin1Char('"');
        if (field.contains(QLatin1Char('"'))) {
            QString doubled = field;
            doubled.replace(QLatin1Char('"'), QLatin1String("\"\""));
            text += doubled;
        } else {
            text += field;
        }
        text += QLatin1Char('"');
    }
}

namespace csv {

QString text(const QString& value)
{
    if (value.isEmpty())
        return value;
    switch (value.front().unicode()) {
    case '=':
    case '+':
    case '-':
    case '@':
    case '\t':
    case '\r': return QLatin1Char('\'') + value;
    default: return value;
    }
}

QString text(const std::optional<QString>& value) { return value ? text(*value) : QString(); }

QString timestamp(double secondsSince1970)
{
    const auto ms = static_cast<qint64>(std::llround(secondsSince1970 * 1000.0));
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString(Qt::ISODateWithMs);
}

QString timestamp(const std::optional<double>& secondsSince1970)
{
    return secondsSince1970 ? timestamp(*secondsSince1970) : QString();
}

QString fraction(double value) { return formatFixed(value, 2); }
QString fraction(const std::optional<double>& value) { return value ? fraction(*value) : QString(); }
QString whole(long long value) { return QString::number(value); }
QString whole(const std::optional<int>& value) { return value ? whole(static_cast<long long>(*value)) : QString(); }
QString flag(bool value) { return value ? QStringLiteral("1") : QStringLiteral("0"); }

} // namespace csv

} // namespace pv::reports
