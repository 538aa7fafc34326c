#pragma once
// Spoken chart summaries: a chart is read out as one element with a fixed label and a value made of
// one sentence per series (typical value, lowest, highest and, from six values on, the trend),
// followed by an optional note.

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

class QWidget;

namespace pv {

struct PVSeriesSummary {
    QString name;
    std::vector<double> values; // in time order, oldest first
    QString unit;
};

// The sentence of one series; nothing for a series without values.
std::optional<QString> pvSeriesSentence(const PVSeriesSummary& series);
// The spoken value of a chart: the sentences and the note joined by one blank, or the no-data
// sentence (without the note) when no series has a value.
QString pvChartSummaryValue(const std::vector<PVSeriesSummary>& series, const std::optional<QString>& note);
// Makes the chart widget one accessible element with the label verbatim and the summary as its value.
void pvChartAccessibility(QWidget* chart, const QString& label, const std::vector<PVSeriesSummary>& series,
                          const std::optional<QString>& note);

} // namespace pv
