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
    // The civil date of a day count (proleptic Gregorian), without QDateTime: this runs once per
    // exported record.
    const long long ms = std::llround(secondsSince1970 * 1000.0);
    long long days = ms / 86400000;
    long long rest = ms % 86400000;
    if (rest < 0) {
        rest += 86400000;
        --days;
    }
    const long long z = days + 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const long long doe = z - era * 146097;
    const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long long mp = (5 * doy + 2) / 153;
    const long long day = doy - (153 * mp + 2) / 5 + 1;
    const long long month = mp < 10 ? mp + 3 : mp - 9;
    const long long year = yoe + era * 400 + (month <= 2 ? 1 : 0);
    if (year < 0 || year > 9999)
        return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString(Qt::ISODateWithMs);
    char text[25];
    const auto put = [&text](int at, long long value, int width) {
        for (int i = width - 1; i >= 0; --i) {
            text[at + i] = static_cast<char>('0' + value % 10);
            value /= 10;
        }
    };
    put(0, year, 4);
    text[4] = '-';
    put(5, month, 2);
    text[7] = '-';
    put(8, day, 2);
    text[10] = 'T';
    put(11, rest / 3600000, 2);
    text[13] = ':';
    put(14, rest / 60000 % 60, 2);
    text[16] = ':';
    put(17, rest / 1000 % 60, 2);
    text[19] = '.';
    put(20, rest % 1000, 3);
    text[23] = 'Z';
    return QString::fromLatin1(text, 24);
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
