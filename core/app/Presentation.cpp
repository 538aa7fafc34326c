#include "core/app/Presentation.h"

#include "core/records/LocaleDates.h"
#include "core/records/Localization.h"

#include <QDateTime>
#include <QLocale>
#include <QRegularExpression>

#include <cmath>
#include <unordered_set>

namespace pv::presentation {

QString menuBarSymbolName(LiveStatus status) { return symbolName(status); }
QString menuBarStatusTitle(LiveStatus status) { return title(status); }

std::optional<WifiSnapshot> currentWifiSnapshot(const std::vector<WifiSnapshot>& snapshots)
{
    if (snapshots.empty())
        return std::nullopt;
    return snapshots.back();
}

QString locationStatusDescription(int status)
{
    switch (status) {
    case 0: return L("A helymeghatározás még nincs engedélyezve.");
    case 1: return L("A helymeghatározást a rendszer korlátozza.");
    case 2:
        return L("A helymeghatározás le van tiltva. A macOS emiatt nem adja ki a hálózat nevét és a hozzáférési pont "
                 "azonosítóját.");
    case 3:
    case 4:
        return L("A helymeghatározás engedélyezve van, így a hálózat neve és a hozzáférési pont azonosítója is mérhető.");
    default: return L("A helymeghatározás állapota ismeretlen.");
    }
}

QString probeFreshnessSummary(bool isMonitoring, std::optional<Timestamp> lastBatch, Timestamp now)
{
    if (!isMonitoring)
        return L("A rögzítés szünetel");
    if (!lastBatch)
        return L("Várunk az első mérési körre");
    long long age = static_cast<long long>(std::trunc(now - *lastBatch));
    if (age < 0)
        age = 0;
    if (age <= 9)
        return LF("Friss (%lld mp)", {age});
    if (age <= 19)
        return LF("Késik (%lld mp)", {age});
    return LF("Elavult (%lld mp)", {age});
}

QString probeFreshnessDetail(std::optional<Timestamp> lastBatch)
{
    if (!lastBatch)
        return L("A mérési kör még nem produkált teljes adagot.");
    return LF("Utolsó teljes mérési kör: %@.", {localTimeWithSeconds(*lastBatch)});
}

bool isProbeStale(bool isMonitoring, std::optional<Timestamp> lastBatch, Timestamp now)
{
    return isMonitoring && lastBatch && now - *lastBatch >= 20.0;
}

std::vector<NodeFingerprint> distinctNodeHistory(const std::vector<WifiSnapshot>& snapshots)
{
    std::vector<NodeFingerprint> result;
    std::unordered_set<NodeFingerprint> seen;
    for (auto it = snapshots.rbegin(); it != snapshots.rend(); ++it) {
        NodeFingerprint fp = it->nodeFingerprint();
        if (seen.insert(fp).second)
            result.push_back(std::move(fp));
    }
    std::reverse(result.begin(), result.end());
    return result;
}

QString compactDuration(long long s)
{
    if (s < 60)
        return QStringLiteral("%1s").arg(s);
    if (s < 3600)
        return QStringLiteral("%1m %2s").arg(s / 60).arg(s % 60);
    return QStringLiteral("%1h %2m").arg(s / 3600).arg((s % 3600) / 60);
}

QString currentSessionDurationSummary(const std::optional<MeasurementSession>& session, Timestamp now)
{
    if (!session)
        return L("Várunk az első mérési szakaszra");
    const double elapsed = std::max(0.0, now - session->startedAt);
    return compactDuration(static_cast<long long>(std::round(elapsed)));
}

QString qualityBaselineSummary(const std::optional<QualityBaseline>& baseline)
{
    if (!baseline)
        return L("Referenciaablak: még nincs meg");
    return LF("Referenciaablak: %1$@, %2$@", {baseline->nodeFingerprint.summary(), localTimeShort(baseline->savedAt)});
}

QString databaseLocationDescription(const std::optional<QString>& databasePath)
{
    if (databasePath)
        return *databasePath;
    return L("Nincs írható adatbázis — a mérések csak a memóriában vannak.");
}

QString localTimeWithSeconds(Timestamp t)
{
    const QDateTime dt = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(std::floor(t * 1000.0)));
    // The locale's long time style without its time-zone part: hours, minutes and seconds.
    QString format = dateLocale().timeFormat(QLocale::LongFormat);
    format.remove(QRegularExpression(QStringLiteral("\\s*\\(?t+\\)?\\s*$")));
    format.remove(QRegularExpression(QStringLiteral("^\\s*t+\\s*")));
    return dateLocale().toString(dt.time(), format.trimmed());
}

QString localTimeShort(Timestamp t)
{
    const QDateTime dt = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(std::floor(t * 1000.0)));
    return dateLocale().toString(dt.time(), QLocale::ShortFormat);
}

} // namespace pv::presentation
