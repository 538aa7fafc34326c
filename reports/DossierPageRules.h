#pragma once
// The decisions of the dossier pages that do not need a painter: row caps and continuation lines,
// the timeline's flags, scale and broken lines, the wired-against-Wi-Fi sentences, the footer and
// the file name. GUI-free, so they are tested without a display.

#include "core/records/Records.h"

#include <QString>
#include <QStringList>

#include <cstddef>
#include <optional>
#include <utility>
#include <vector>

namespace pv::dossier {

// How many rows each table prints at most; the paginator never splits a page.
inline constexpr std::size_t kOutageRowLimit = 24;
// The hourly table lists every measured hour: one column of up to 12 rows, two side by side beyond.
inline constexpr std::size_t kHourlyRowsPerColumn = 12;
inline constexpr std::size_t kAccessPointRowLimit = 14;
inline constexpr std::size_t kGapRowLimit = 20;

// The hourly table's columns for `count` hours, and the rows of each (the first column the longer).
constexpr std::size_t hourlyColumnCount(std::size_t count) { return count <= kHourlyRowsPerColumn ? 1 : 2; }
constexpr std::size_t hourlyRowsPerColumn(std::size_t count)
{
    return (count + hourlyColumnCount(count) - 1) / hourlyColumnCount(count);
}
// Rows printed of a list of `count` under a cap.
constexpr std::size_t shownRows(std::size_t count, std::size_t cap) { return count < cap ? count : cap; }
inline constexpr std::size_t kOtherIncidentRowLimit = 10;
// "További N kimaradás a nyers adatban szerepel." when more outages than the rows shown (24 unless
// said); none otherwise.
std::optional<QString> outageContinuation(std::size_t outageCount, std::size_t shown = kOutageRowLimit);
// "További N zavar a nyers adatban szerepel." when more other incidents than the rows shown.
std::optional<QString> otherIncidentContinuation(std::size_t count, std::size_t shown);
// "További N hézag." when more than 20 gaps; none otherwise.
std::optional<QString> gapContinuation(std::size_t gapCount);

// ---- Timeline ------------------------------------------------------------------------------------

// The router line is drawn when router slices are at least a quarter of the provider slices (of 1
// when there is none).
bool showsRouter(std::size_t routerPoints, std::size_t providerPoints);
// Upper bound of the latency scale: the largest provider value × 1.2, at least 20; 60 without any.
double latencyYMaximum(const std::vector<std::optional<double>>& providerValues);
// 260 pt with the loss chart below it, else 340 pt.
constexpr double latencyChartHeight(bool showsLoss) { return showsLoss ? 260.0 : 340.0; }

// One series of the timeline as chart points: (slice start, value) where the slice has a value, and
// a break (a point whose y is not a number) wherever the line must not run on: a slice without this
// value, or a stretch of slices with no data at all (they are missing from the timeline). A line
// drawn across them would show measurements that were never made.
struct SeriesPoint {
    Timestamp time = 0;
    std::optional<double> value;
};
std::vector<std::pair<double, double>> brokenSeries(const std::vector<SeriesPoint>& points, double sliceSeconds);

// ---- Wired against Wi-Fi -----------------------------------------------------------------------------

inline constexpr long long kComparisonMinimum = 30;
// The shortage sentence when either side has fewer than 30 samples (the wired one whenever wired is
// short); none when both have enough.
// `scope` names the stretch the counts cover when it is less than the period ("Az időszakban" else).
std::optional<QString> comparisonShortage(long long wifiCount, long long wiredCount,
                                          const QString& scope = QStringLiteral("Az időszakban"));
// The two paragraphs of the "Mit tesz hozzá a Wi-Fi" card; none unless both medians exist.
std::optional<QStringList> contributionParagraphs(std::optional<double> wifiMs, std::optional<double> wiredMs);
// The wired-loss sentence when both losses exist and the wired one is above 0.1 %.
std::optional<QString> wiredLossSentence(std::optional<double> wifiLoss, std::optional<double> wiredLoss);

// ---- Small texts -----------------------------------------------------------------------------------

// "10 / 12": plain whole numbers.
QString pageNumberText(int pageNumber, int pageCount);
// "07:00".
QString hourText(int hour);
// "-61 dBm", or "—".
QString rssiText(std::optional<int> rssi);
// The documentKind with its first character upper-cased.
QString capitalisedFirst(const QString& s);

// "Polvarine-meresi-dosszie-yyyyMMdd-yyyyMMdd.pdf", the days of start and end in the local time zone;
// the anonymised version ends in "-anonim.pdf", so the two never replace each other.
QString dossierFileName(Timestamp start, Timestamp end, bool anonymised = false);

} // namespace pv::dossier
