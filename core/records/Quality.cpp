#include "core/records/Quality.h"

#include "core/records/Localization.h"

namespace pv {

using namespace pv::json;

double duration(QualityWindow w)
{
    switch (w) {
    case QualityWindow::oneMinute: return 60;
    case QualityWindow::tenMinutes: return 600;
    case QualityWindow::twentyMinutes: return 1200;
    case QualityWindow::thirtyMinutes: return 1800;
    case QualityWindow::oneHour: return 3600;
    case QualityWindow::threeHours: return 10800;
    case QualityWindow::sixHours: return 21600;
    case QualityWindow::twelveHours: return 43200;
    case QualityWindow::twentyFourHours: return 86400;
    }
    return 0;
}

QString title(QualityWindow w)
{
    switch (w) {
    case QualityWindow::oneMinute: return QStringLiteral("1m");
    case QualityWindow::tenMinutes: return QStringLiteral("10m");
    case QualityWindow::twentyMinutes: return QStringLiteral("20m");
    case QualityWindow::thirtyMinutes: return QStringLiteral("30m");
    case QualityWindow::oneHour: return QStringLiteral("1h");
    case QualityWindow::threeHours: return QStringLiteral("3h");
    case QualityWindow::sixHours: return QStringLiteral("6h");
    case QualityWindow::twelveHours: return QStringLiteral("12h");
    case QualityWindow::twentyFourHours: return QStringLiteral("24h");
    }
    return {};
}

QString waitingTitle(QualityWindow w)
{
    switch (w) {
    case QualityWindow::oneMinute: return L("Az első perc gyűjtése");
    case QualityWindow::tenMinutes: return L("Az első 10 perc gyűjtése");
    case QualityWindow::twentyMinutes: return L("Az első 20 perc gyűjtése");
    case QualityWindow::thirtyMinutes: return L("Az első 30 perc gyűjtése");
    case QualityWindow::oneHour: return L("Az első óra gyűjtése");
    case QualityWindow::threeHours: return L("Az első 3 óra gyűjtése");
    case QualityWindow::sixHours: return L("Az első 6 óra gyűjtése");
    case QualityWindow::twelveHours: return L("Az első 12 óra gyűjtése");
    case QualityWindow::twentyFourHours: return L("Az első 24 óra gyűjtése");
    }
    return {};
}

QString title(QualityVerdict v)
{
    switch (v) {
    case QualityVerdict::excellent: return L("Kiváló");
    case QualityVerdict::fastWithSlowdowns: return L("Gyors, de időnként lassul");
    case QualityVerdict::usableWithCallRisk: return L("Használható, de hívásoknál akadhat");
    case QualityVerdict::unstable: return QStringLiteral("Instabil");
    case QualityVerdict::frequentDropouts: return L("Gyakori kimaradás");
    }
    return {};
}

QString useCaseHint(QualityVerdict v)
{
    switch (v) {
    case QualityVerdict::excellent: return L("Hívásra, streamre és letöltésre is jó.");
    case QualityVerdict::fastWithSlowdowns: return L("Videóra és letöltésre jó, de néha lehet rövid lag tüske.");
    case QualityVerdict::usableWithCallRisk:
        return L("Böngészésre és videóra többnyire jó, de hívás közben érezhető megakadás lehet.");
    case QualityVerdict::unstable: return L("Alap használatra még elmehet, de hívásra és játékra gyenge.");
    case QualityVerdict::frequentDropouts: return L("Érzékeny használatra gyenge, a kapcsolat gyakran megakadhat.");
    }
    return {};
}

QJsonObject QualityMetricSummary::toJson() const
{
    QJsonObject o;
    putString(o, "id", id);
    putString(o, "title", title);
    putOptDouble(o, "successRatio", successRatio);
    putOptDouble(o, "averageLatency", averageLatency);
    putOptDouble(o, "maximumLatency", maximumLatency);
    putInt(o, "failureCount", failureCount);
    putInt(o, "totalCount", totalCount);
    putInt(o, "spikeCount", spikeCount);
    putOptDouble(o, "averageRSSI", averageRSSI);
    putOptDouble(o, "averageSNR", averageSNR);
    putOptDouble(o, "averageTxRateMbps", averageTxRateMbps);
    putInt(o, "weakSampleCount", weakSampleCount);
    return o;
}

QualityMetricSummary QualityMetricSummary::fromJson(const QJsonObject& o)
{
    QualityMetricSummary m;
    m.id = getString(o, "id");
    m.title = getString(o, "title");
    m.successRatio = getOptDouble(o, "successRatio");
    m.averageLatency = getOptDouble(o, "averageLatency");
    m.maximumLatency = getOptDouble(o, "maximumLatency");
    m.failureCount = getInt32(o, "failureCount");
    m.totalCount = getInt32(o, "totalCount");
    m.spikeCount = getInt32(o, "spikeCount");
    m.averageRSSI = getOptDouble(o, "averageRSSI");
    m.averageSNR = getOptDouble(o, "averageSNR");
    m.averageTxRateMbps = getOptDouble(o, "averageTxRateMbps");
    m.weakSampleCount = getInt32(o, "weakSampleCount");
    return m;
}

QJsonObject QualityAssessment::toJson() const
{
    QJsonObject o;
    putString(o, "availability", rawValue(availability));
    putString(o, "window", rawValue(window));
    putDouble(o, "score", score);
    putDouble(o, "absoluteScore", absoluteScore);
    putInt(o, "percentage", percentage);
    putString(o, "verdict", rawValue(verdict));
    putString(o, "title", title);
    putString(o, "summary", summary);
    putString(o, "useCaseHint", useCaseHint);
    putString(o, "comparisonSummary", comparisonSummary);
    putString(o, "weaknessSummary", weaknessSummary);
    putDouble(o, "sessionStartedAt", sessionStartedAt);
    putDouble(o, "windowStartedAt", windowStartedAt);
    putDouble(o, "windowEndedAt", windowEndedAt);
    putDouble(o, "elapsedSeconds", elapsedSeconds);
    putObject(o, "gateway", gateway.toJson());
    putObject(o, "publicIP", publicIP.toJson());
    putObject(o, "dns", dns.toJson());
    putObject(o, "http", http.toJson());
    putObject(o, "wifi", wifi.toJson());
    putInt(o, "incidentCount", incidentCount);
    putInt(o, "dropoutCount", dropoutCount);
    return o;
}

QualityAssessment QualityAssessment::fromJson(const QJsonObject& o)
{
    QualityAssessment a;
    a.availability = getEnum<QualityAvailability>(o, "availability", parseQualityAvailability);
    a.window = getEnum<QualityWindow>(o, "window", parseQualityWindow);
    a.score = getDouble(o, "score");
    a.absoluteScore = getDouble(o, "absoluteScore");
    a.percentage = getInt32(o, "percentage");
    a.verdict = getEnum<QualityVerdict>(o, "verdict", parseQualityVerdict);
    a.title = getString(o, "title");
    a.summary = getString(o, "summary");
    a.useCaseHint = getString(o, "useCaseHint");
    a.comparisonSummary = getString(o, "comparisonSummary");
    a.weaknessSummary = getString(o, "weaknessSummary");
    a.sessionStartedAt = getDouble(o, "sessionStartedAt");
    a.windowStartedAt = getDouble(o, "windowStartedAt");
    a.windowEndedAt = getDouble(o, "windowEndedAt");
    a.elapsedSeconds = getDouble(o, "elapsedSeconds");
    a.gateway = QualityMetricSummary::fromJson(getObject(o, "gateway"));
    a.publicIP = QualityMetricSummary::fromJson(getObject(o, "publicIP"));
    a.dns = QualityMetricSummary::fromJson(getObject(o, "dns"));
    a.http = QualityMetricSummary::fromJson(getObject(o, "http"));
    a.wifi = QualityMetricSummary::fromJson(getObject(o, "wifi"));
    a.incidentCount = getInt32(o, "incidentCount");
    a.dropoutCount = getInt32(o, "dropoutCount");
    return a;
}

QJsonObject QualityBaseline::toJson() const
{
    QJsonObject o;
    putDouble(o, "savedAt", savedAt);
    putDouble(o, "sourceStart", sourceStart);
    putDouble(o, "sourceEnd", sourceEnd);
    putObject(o, "nodeFingerprint", nodeFingerprint.toJson());
    putDouble(o, "absoluteScore", absoluteScore);
    putObject(o, "assessment", assessment.toJson());
    return o;
}

QualityBaseline QualityBaseline::fromJson(const QJsonObject& o)
{
    QualityBaseline b;
    b.savedAt = getDouble(o, "savedAt");
    b.sourceStart = getDouble(o, "sourceStart");
    b.sourceEnd = getDouble(o, "sourceEnd");
    b.nodeFingerprint = NodeFingerprint::fromJson(getObject(o, "nodeFingerprint"));
    b.absoluteScore = getDouble(o, "absoluteScore");
    b.assessment = QualityAssessment::fromJson(getObject(o, "assessment"));
    return b;
}

QByteArray QualityBaseline::encode() const { return compact(toJson()); }

QualityBaseline QualityBaseline::decode(const QByteArray& text) { return fromJson(parseObject(text)); }

QJsonObject MeasurementSession::toJson() const
{
    QJsonObject o;
    putUuid(o, "id", id);
    putDouble(o, "startedAt", startedAt);
    if (nodeFingerprint)
        putObject(o, "nodeFingerprint", nodeFingerprint->toJson());
    putInt(o, "resetGeneration", resetGeneration);
    return o;
}

MeasurementSession MeasurementSession::fromJson(const QJsonObject& o)
{
    MeasurementSession s;
    s.id = getUuid(o, "id");
    s.startedAt = getDouble(o, "startedAt");
    if (auto fp = getOptObject(o, "nodeFingerprint"))
        s.nodeFingerprint = NodeFingerprint::fromJson(*fp);
    s.resetGeneration = getInt32(o, "resetGeneration");
    return s;
}

} // namespace pv
