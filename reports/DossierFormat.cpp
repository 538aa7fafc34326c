#include "reports/DossierFormat.h"

#include "core/app/IncidentTexts.h"
#include "core/records/LocaleDates.h"
#include "core/records/Localization.h"

#include <QDateTime>

#include <cmath>
#include <algorithm>

namespace pv {

QString DossierFormat::dateText(Timestamp instant)
{
    const auto msecs = static_cast<qint64>(std::floor(instant * 1000.0));
    const QString text = QDateTime::fromMSecsSinceEpoch(msecs, Qt::LocalTime).toString(QStringLiteral("yyyy. MM. dd. HH:mm"));
    return isRepeatedLocalTime(instant) ? text + QStringLiteral(" (") + utcOffsetText(instant) + QLatin1Char(')') : text;
}

QString DossierFormat::withoutDirectionalControls(const QString& name)
{
    QString out;
    out.reserve(name.size());
    for (const QChar c : name) {
        const char16_t u = c.unicode();
        const bool control = u == 0x061C || u == 0x200E || u == 0x200F || (u >= 0x202A && u <= 0x202E) ||
                             (u >= 0x2066 && u <= 0x2069);
        if (!control)
            out += c;
    }
    return out;
}

QString DossierFormat::millisecondsText(std::optional<double> milliseconds, bool brief)
{
    if (!milliseconds)
        return missingValue();
    const QString whole = formatFixed(*milliseconds, 0);
    if (whole == QLatin1String("0") || whole == QLatin1String("-0"))
        return brief ? QStringLiteral("<1 ms") : QStringLiteral("kevesebb mint 1 ms");
    return whole + QStringLiteral(" ms");
}

QString DossierFormat::quotedWithArticle(const QString& quoted, bool capital)
{
    static const QString vowels = QStringLiteral("aáeéiíoóöőuúüű");
    const bool vowel = !quoted.isEmpty() && vowels.contains(quoted.front().toLower());
    const QString article = vowel ? QStringLiteral("az") : QStringLiteral("a");
    return (capital ? article.front().toUpper() + article.mid(1) : article) + QStringLiteral(" „") + quoted +
           QStringLiteral("”");
}

QString DossierFormat::percentText(double ratio, int digits)
{
    return formatFixed(ratio * 100.0, digits < 0 ? 0 : digits) + QLatin1Char('%');
}

QString DossierFormat::durationText(double seconds)
{
    // Outside the durations of a period: clamp instead of overflowing the rounding.
    constexpr double limit = 9.0e18;
    if (std::isnan(seconds))
        seconds = 0;
    seconds = std::clamp(seconds, -limit, limit);
    const long long s = std::llround(seconds);
    // Under a day, the rule the screens word an incident's length by.
    if (s < 86400)
        return s < 0 ? QString::number(s) + QStringLiteral(" mp") : presentation::incidentDurationText(0, seconds);
    return formatFixed(static_cast<double>(s) / 86400.0, 1) + QStringLiteral(" nap");
}

} // namespace pv
