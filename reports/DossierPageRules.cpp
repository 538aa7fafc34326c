#include "reports/DossierPageRules.h"

#include "core/records/Localization.h"

#include <QDateTime>
#include <QLocale>

#include <algorithm>
#include <cmath>
#include <limits>

namespace pv::dossier {

std::optional<QString> outageContinuation(std::size_t outageCount, std::size_t shown)
{
    if (outageCount <= shown)
        return std::nullopt;
    return LF("További %lld kimaradás a nyers adatban szerepel.", {static_cast<long long>(outageCount - shown)});
}

std::optional<QString> otherIncidentContinuation(std::size_t count, std::size_t shown)
{
    if (count <= shown)
        return std::nullopt;
    return LF("További %lld zavar a nyers adatban szerepel.", {static_cast<long long>(count - shown)});
}

std::optional<QString> gapContinuation(std::size_t gapCount)
{
    if (gapCount <= kGapRowLimit)
        return std::nullopt;
    return LF("További %lld hézag.", {static_cast<long long>(gapCount - kGapRowLimit)});
}

bool showsRouter(std::size_t routerPoints, std::size_t providerPoints)
{
    const double denominator = providerPoints > 0 ? static_cast<double>(providerPoints) : 1.0;
    return static_cast<double>(routerPoints) / denominator >= 0.25;
}

double latencyYMaximum(const std::vector<std::optional<double>>& providerValues)
{
    std::optional<double> largest;
    for (const auto& v : providerValues)
        if (v && std::isfinite(*v))
            largest = largest ? std::max(*largest, *v) : *v;
    if (!largest)
        return 60.0;
    return std::max(*largest * 1.2, 20.0);
}

std::vector<std::pair<double, double>> brokenSeries(const std::vector<SeriesPoint>& points, double sliceSeconds)
{
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    std::vector<std::pair<double, double>> out;
    out.reserve(points.size() * 2);
    std::optional<Timestamp> previous; // slice start of the last point drawn
    for (const SeriesPoint& p : points) {
        if (!p.value || !std::isfinite(*p.value)) {
            if (!out.empty() && std::isfinite(out.back().second))
                out.emplace_back(p.time, nan);
            previous.reset();
            continue;
        }
        // Neighbouring slices start one slice apart; a larger step skips slices without data.
        if (previous && p.time - *previous > sliceSeconds * 1.5)
            out.emplace_back(*previous + sliceSeconds, nan);
        out.emplace_back(p.time, *p.value);
        previous = p.time;
    }
    return out;
}

std::optional<QString> comparisonShortage(long long wifiCount, long long wiredCount, const QString& scope)
{
    if (wiredCount < kComparisonMinimum)
        return scope + QStringLiteral(" nem volt elegendő vezetékes mérés (") + QString::number(wiredCount) +
               QStringLiteral(" minta). Az összehasonlításhoz mindkét módból legalább 30 mérés kell.");
    if (wifiCount < kComparisonMinimum)
        return scope + QStringLiteral(" nem volt elegendő Wi-Fi mérés (") + QString::number(wifiCount) +
               QStringLiteral(" minta).");
    return std::nullopt;
}

std::optional<QStringList> contributionParagraphs(std::optional<double> wifiMs, std::optional<double> wiredMs)
{
    if (!wifiMs || !wiredMs)
        return std::nullopt;
    const double d = *wifiMs - *wiredMs;
    // By the figures' own rule: a difference that reads as zero is "kevesebb mint 1 ms", and one in
    // the Wi-Fi's favour is said as such, never with a sign.
    const QString figure = formatFixed(d, 0);
    QStringList out;
    if (figure.startsWith(QLatin1Char('-')) && figure != QLatin1String("-0"))
        out << QStringLiteral("A rádiókapcsolat nem okoz többletkésést: Wi-Fin a jellemző válaszidő %1, vezetéken %2.")
                   .arg(millisecondsText(*wifiMs), millisecondsText(*wiredMs));
    else
        out << QStringLiteral("A rádiókapcsolat %1 különbséget okoz a vezetékes méréshez képest.")
                   .arg(millisecondsText(std::max(0.0, d)));
    if (d < 10.0)
        out << QStringLiteral("Ez elhanyagolható. Ami a vezetékes mérésben is látszik, azt nem a Wi-Fi okozza.");
    else
        out << QStringLiteral("Ez érdemi hozzájárulás: a lassulás egy része az előfizető rádiókapcsolatán keletkezik, "
                              "és a dokumentum ezt nem tulajdonítja a szolgáltatónak.");
    return out;
}

std::optional<QString> wiredLossSentence(std::optional<double> wifiLoss, std::optional<double> wiredLoss)
{
    if (!wifiLoss || !wiredLoss || !(*wiredLoss > 0.001))
        return std::nullopt;
    return formatPrintf(QStringLiteral("Csomagvesztés vezetéken is mérhető (%.1f%%), nem csak Wi-Fin (%.1f%%). "
                                       "Vezetékes kapcsolaton a rádiós zavarás kizárható."),
                        {*wiredLoss * 100.0, *wifiLoss * 100.0});
}

QString pageNumberText(int pageNumber, int pageCount)
{
    return QString::number(pageNumber) + QStringLiteral(" / ") + QString::number(pageCount);
}

QString hourText(int hour) { return formatPrintf(QStringLiteral("%02d:00"), {hour}); }

QString rssiText(std::optional<int> rssi)
{
    if (!rssi)
        return QStringLiteral("—");
    return QString::number(*rssi) + QStringLiteral(" dBm");
}

QString capitalisedFirst(const QString& s)
{
    if (s.isEmpty())
        return s;
    return s.left(1).toUpper() + s.mid(1);
}

QString dossierFileName(Timestamp start, Timestamp end, bool anonymised)
{
    auto day = [](Timestamp t) {
        const QDateTime local = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(std::floor(t * 1000.0)));
        return QLocale::c().toString(local.date(), QStringLiteral("yyyyMMdd"));
    };
    return QStringLiteral("Polvarine-meresi-dosszie-") + day(start) + QLatin1Char('-') + day(end) +
           (anonymised ? QStringLiteral("-anonim.pdf") : QStringLiteral(".pdf"));
}

} // namespace pv::dossier
