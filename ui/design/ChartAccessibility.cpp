#include "ui/design/ChartAccessibility.h"

#include "core/records/Localization.h"

#include <QWidget>

#include <algorithm>
#include <numeric>

namespace pv {

std::optional<QString> pvSeriesSentence(const PVSeriesSummary& series)
{
    const std::size_t n = series.values.size();
    if (n == 0)
        return std::nullopt;
    std::vector<double> sorted = series.values;
    std::sort(sorted.begin(), sorted.end());
    // The typical value is the upper middle for an even count; the two are not averaged.
    const double typical = sorted[n / 2];
    // Whole figures; a latency under 1 ms is said as such, not as 0.
    const auto figure = [](double v) {
        const QString whole = wholeMillisecondsFigure(v);
        return whole == QLatin1String("<1") ? L("kevesebb mint 1") : whole;
    };
    QString sentence = LF("%@: jellemzően %@ %@, a legkisebb %@, a legnagyobb %@.",
                          {series.name, figure(typical), series.unit, figure(sorted.front()), figure(sorted.back())});
    if (n >= 6) {
        const std::size_t k = n / 3;
        const auto& v = series.values;
        const double early = std::accumulate(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(k), 0.0) / static_cast<double>(k);
        const double late = std::accumulate(v.end() - static_cast<std::ptrdiff_t>(k), v.end(), 0.0) / static_cast<double>(k);
        // Lower is better on these charts: a rise is a change for the worse.
        if (early * 1.25 < late)
            sentence += L(" Az időszak vége felé romlott.");
        else if (late < early * 0.8)
            sentence += L(" Az időszak vége felé javult.");
        else
            sentence += L(" Az időszak alatt nagyjából egyenletes.");
    }
    return sentence;
}

QString pvChartSummaryValue(const std::vector<PVSeriesSummary>& series, const std::optional<QString>& note)
{
    QStringList parts;
    for (const PVSeriesSummary& s : series)
        if (auto sentence = pvSeriesSentence(s))
            parts << *sentence;
    if (parts.isEmpty())
        return L("Ebben az időszakban nincs megjeleníthető mérés.");
    if (note)
        parts << *note;
    return parts.join(QLatin1Char(' '));
}

void pvChartAccessibility(QWidget* chart, const QString& label, const std::vector<PVSeriesSummary>& series,
                          const std::optional<QString>& note)
{
    if (chart == nullptr)
        return;
    chart->setAccessibleName(label);
    chart->setAccessibleDescription(pvChartSummaryValue(series, note));
}

} // namespace pv
