#pragma once
// Records of analysis results, quality sessions and report material.

#include "core/records/Records.h"

namespace pv {

enum class QualityWindow {
    oneMinute,
    tenMinutes,
    twentyMinutes,
    thirtyMinutes,
    oneHour,
    threeHours,
    sixHours,
    twelveHours,
    twentyFourHours
};
inline constexpr EnumTable<QualityWindow, 9> kQualityWindowTable{{{
    {QualityWindow::oneMinute, "oneMinute"},
    {QualityWindow::tenMinutes, "tenMinutes"},
    {QualityWindow::twentyMinutes, "twentyMinutes"},
    {QualityWindow::thirtyMinutes, "thirtyMinutes"},
    {QualityWindow::oneHour, "oneHour"},
    {QualityWindow::threeHours, "threeHours"},
    {QualityWindow::sixHours, "sixHours"},
    {QualityWindow::twelveHours, "twelveHours"},
    {QualityWindow::twentyFourHours, "twentyFourHours"},
}}};
inline QString rawValue(QualityWindow w) { return kQualityWindowTable.rawText(w); }
inline std::optional<QualityWindow> parseQualityWindow(const QString& s) { return kQualityWindowTable.parse(s); }
inline auto allQualityWindows() { return kQualityWindowTable.allCases(); }
double duration(QualityWindow w); // seconds
QString title(QualityWindow w);   // "1m" ... "24h", not looked up
QString waitingTitle(QualityWindow w);
inline QString id(QualityWindow w) { return rawValue(w); }

enum class QualityAvailability { collecting, ready };
inline constexpr EnumTable<QualityAvailability, 2> kQualityAvailabilityTable{{{
    {QualityAvailability::collecting, "collecting"}, {QualityAvailability::ready, "ready"}}}};
inline QString rawValue(QualityAvailability a) { return kQualityAvailabilityTable.rawText(a); }
inline std::optional<QualityAvailability> parseQualityAvailability(const QString& s)
{
    return kQualityAvailabilityTable.parse(s);
}

enum class QualityVerdict { excellent, fastWithSlowdowns, usableWithCallRisk, unstable, frequentDropouts };
inline constexpr EnumTable<QualityVerdict, 5> kQualityVerdictTable{{{
    {QualityVerdict::excellent, "excellent"},
    {QualityVerdict::fastWithSlowdowns, "fastWithSlowdowns"},
    {QualityVerdict::usableWithCallRisk, "usableWithCallRisk"},
    {QualityVerdict::unstable, "unstable"},
    {QualityVerdict::frequentDropouts, "frequentDropouts"},
}}};
inline QString rawValue(QualityVerdict v) { return kQualityVerdictTable.rawText(v); }
inline std::optional<QualityVerdict> parseQualityVerdict(const QString& s) { return kQualityVerdictTable.parse(s); }
inline auto allQualityVerdicts() { return kQualityVerdictTable.allCases(); }
QString title(QualityVerdict v);
QString useCaseHint(QualityVerdict v);

struct QualityMetricSummary {
    QString id;
    QString title;
    std::optional<double> successRatio;
    std::optional<double> averageLatency;
    std::optional<double> maximumLatency;
    int failureCount = 0;
    int totalCount = 0;
    int spikeCount = 0;
    std::optional<double> averageRSSI;
    std::optional<double> averageSNR;
    std::optional<double> averageTxRateMbps;
    int weakSampleCount = 0;
    bool operator==(const QualityMetricSummary&) const = default;

    QJsonObject toJson() const;
    static QualityMetricSummary fromJson(const QJsonObject& o);
};

struct QualityAssessment {
    QualityAvailability availability = QualityAvailability::collecting;
    QualityWindow window = QualityWindow::tenMinutes;
    double score = 0;
    double absoluteScore = 0;
    int percentage = 0;
    QualityVerdict verdict = QualityVerdict::excellent;
    QString title;
    QString summary;
    QString useCaseHint;
    QString comparisonSummary;
    QString weaknessSummary;
    Timestamp sessionStartedAt = 0;
    Timestamp windowStartedAt = 0;
    Timestamp windowEndedAt = 0;
    double elapsedSeconds = 0;
    QualityMetricSummary gateway;
    QualityMetricSummary publicIP;
    QualityMetricSummary dns;
    QualityMetricSummary http;
    QualityMetricSummary wifi;
    int incidentCount = 0;
    int dropoutCount = 0;
    bool operator==(const QualityAssessment&) const = default;

    QJsonObject toJson() const;
    static QualityAssessment fromJson(const QJsonObject& o);
};

struct QualityBaseline {
    Timestamp savedAt = 0;
    Timestamp sourceStart = 0;
    Timestamp sourceEnd = 0;
    NodeFingerprint nodeFingerprint;
    double absoluteScore = 0;
    QualityAssessment assessment;
    bool operator==(const QualityBaseline&) const = default;

    QJsonObject toJson() const;
    static QualityBaseline fromJson(const QJsonObject& o);
    // The stored JSON text (compact UTF-8). Throws json::EncodeError on a non-finite number.
    QByteArray encode() const;
    // Throws json::DecodeError when anything is missing, mistyped or unknown.
    static QualityBaseline decode(const QByteArray& text);
};

struct MeasurementSession {
    QUuid id;
    Timestamp startedAt = 0;
    std::optional<NodeFingerprint> nodeFingerprint;
    int resetGeneration = 0;
    bool operator==(const MeasurementSession&) const = default;

    double elapsed(Timestamp at) const { return at - startedAt < 0 ? 0 : at - startedAt; }
    QJsonObject toJson() const;
    static MeasurementSession fromJson(const QJsonObject& o);
};

struct IncidentAssessment {
    std::optional<IncidentClassification> classification;
    IncidentSeverity severity = IncidentSeverity::info;
    double confidence = 0;
    QString summary;
    QString recommendation;
    bool operator==(const IncidentAssessment&) const = default;
};

struct LikelyCauseSummary {
    std::optional<IncidentClassification> classification;
    QString title;
    QString explanation;
    QString recommendation;
    bool operator==(const LikelyCauseSummary&) const = default;
};

struct DailyReportStats {
    int probeCount = 0;
    int wifiSnapshotCount = 0;
    std::optional<double> averageGatewayLatency;
    std::optional<double> averagePublicLatency;
    std::optional<double> averageDNSLatency;
    std::optional<double> averageHTTPLatency;
    std::optional<double> maxGatewayLatency;
    std::optional<double> maxPublicLatency;
    std::optional<double> maxDNSLatency;
    std::optional<double> maxHTTPLatency;
    // Absent when the period holds no sample of the kind: no data is not perfect availability.
    std::optional<double> gatewaySuccessRatio;
    std::optional<double> publicSuccessRatio;
    std::optional<double> dnsSuccessRatio;
    std::optional<double> httpSuccessRatio;
    std::optional<double> uptimeRatio;
    int incidentCount = 0;
    std::optional<double> longestProbeGapSeconds;
    std::optional<Timestamp> lastProbeTimestamp;
    std::optional<Timestamp> lastWiFiTimestamp;
    bool operator==(const DailyReportStats&) const = default;
};

struct DailyReport {
    Timestamp day = 0;
    QString title;
    QString periodDescription;
    Timestamp periodStart = 0;
    Timestamp periodEnd = 0;
    DailyReportStats stats;
    std::vector<Incident> incidents;
    std::vector<DiagnosticEvent> events;
    std::vector<ManualMarker> markers;
    std::vector<NodeSummary> nodeSummaries;
    std::vector<LikelyCauseSummary> likelyCauses;
    QString suggestedNextTest;
};

} // namespace pv
