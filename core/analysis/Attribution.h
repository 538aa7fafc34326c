#pragma once
// The fault attribution: where, if anywhere, the current fault lies (Wi-Fi radio link, router or
// local network, provider, name resolution, or a full outage), with Hungarian sentences that quote
// the measured numbers.

#include "core/analysis/AttributionThresholds.h"
#include "core/records/Records.h"

#include <QStringList>

#include <optional>
#include <vector>

namespace pv {

enum class FaultLocation { none, wifi, router, provider, dns, localUnseparated, offline, insufficientEvidence };
inline constexpr EnumTable<FaultLocation, 8> kFaultLocationTable{{{
    {FaultLocation::none, "none"},
    {FaultLocation::wifi, "wifi"},
    {FaultLocation::router, "router"},
    {FaultLocation::provider, "provider"},
    {FaultLocation::dns, "dns"},
    {FaultLocation::localUnseparated, "localUnseparated"},
    {FaultLocation::offline, "offline"},
    {FaultLocation::insufficientEvidence, "insufficientEvidence"},
}}};
inline QString rawValue(FaultLocation l) { return kFaultLocationTable.rawText(l); }
inline std::optional<FaultLocation> parseFaultLocation(const QString& s) { return kFaultLocationTable.parse(s); }
inline auto allFaultLocations() { return kFaultLocationTable.allCases(); }
QString title(FaultLocation l);
std::optional<IncidentClassification> incidentClassification(FaultLocation l);

// Ordered: low < moderate < high.
enum class AttributionConfidence { low = 0, moderate = 1, high = 2 };
inline int rawValue(AttributionConfidence c) { return static_cast<int>(c); }
std::optional<AttributionConfidence> parseAttributionConfidence(long long raw);
QString title(AttributionConfidence c);
double storedValue(AttributionConfidence c); // the fraction an incident keeps as its confidence

struct FaultAttribution {
    FaultLocation location = FaultLocation::insufficientEvidence;
    IncidentSeverity severity = IncidentSeverity::info;
    AttributionConfidence confidence = AttributionConfidence::low;
    QString headline;
    QStringList evidence;
    QStringList caveats;
    bool isMeasurementArtefact = false;
    bool isOutage = false;

    FaultAttribution() = default;
    // Note the order of the two flags: the outage flag comes first here, unlike the fields.
    FaultAttribution(FaultLocation location, IncidentSeverity severity, AttributionConfidence confidence,
                     QString headline, QStringList evidence, QStringList caveats, bool isOutage,
                     bool isMeasurementArtefact);
    bool operator==(const FaultAttribution&) const = default;

    bool isFault() const { return location != FaultLocation::none && location != FaultLocation::insufficientEvidence; }
    // Headline and evidence joined by single spaces: the incident journal's evidence text.
    QString storedEvidenceSummary() const;
};

struct LegMeasurement {
    long long sampleCount = 0; // every sample of the leg, failed ones included
    std::optional<double> medianRtt;
    std::optional<double> p95Rtt;
    double lossRatio = 0;
    bool operator==(const LegMeasurement&) const = default;

    bool attempted() const { return sampleCount > 0; }
    bool totallyDown() const { return sampleCount >= 1 && !medianRtt; }
    bool hasEnoughEvidence(const AttributionThresholds& t) const { return sampleCount >= t.minimumSamplesPerLeg; }
};

struct RadioAssessment {
    enum class Kind { weak, unusable, unavailable, healthy };
    struct State {
        Kind kind = Kind::healthy;
        QString reason; // empty for healthy
        bool operator==(const State&) const = default;
        static State weak(QString reason) { return {Kind::weak, std::move(reason)}; }
        static State unusable(QString reason) { return {Kind::unusable, std::move(reason)}; }
        static State unavailable(QString reason) { return {Kind::unavailable, std::move(reason)}; }
        static State healthy() { return {Kind::healthy, {}}; }
    };

    State state;
    bool roamed = false; // the recent readings did not all carry the same node fingerprint
    bool operator==(const RadioAssessment&) const = default;

    bool isWeakOrWorse() const { return state.kind == Kind::weak || state.kind == Kind::unusable; }
    bool isReadable() const { return state.kind != Kind::unavailable; }
};

// What the attribution reads of its samples, for a caller that folds a long period's rows as it reads
// them instead of holding them all.
struct AttributionEvidence {
    LegMeasurement gateway, publicHost, dns, http;
    double spanSeconds = 0;        // newest minus oldest sample of every kind
    long long dnsUnanswered = 0;   // lookups without an answer
    long long dnsNewestUnanswered = 0; // of those, the newest ones in a row
    long long publicNewestUnanswered = 0; // the newest echo samples beyond the router in a row without an answer
    long long dnsErrorAnswered = 0; // lookups the resolver answered with an error (SERVFAIL, REFUSED)
    bool operator==(const AttributionEvidence&) const = default;
};

class AttributionEngine {
public:
    explicit AttributionEngine(AttributionThresholds thresholds = AttributionThresholds::standard())
        : thresholds_(thresholds)
    {
    }
    const AttributionThresholds& thresholds() const { return thresholds_; }

    // samples: every probe kind, any order; wifi: oldest first, the last one is the current reading.
    // The result depends on the samples and readings only; now is accepted for the callers' sake.
    FaultAttribution attribute(const std::vector<NetworkSample>& samples, const std::vector<WifiSnapshot>& wifi,
                               Timestamp now) const;
    // The same from what was gathered of the samples.
    FaultAttribution attribute(const AttributionEvidence& evidence, const std::vector<WifiSnapshot>& wifi) const;
    static AttributionEvidence gather(const std::vector<NetworkSample>& samples);

private:
    AttributionThresholds thresholds_;
};

// The steps of the attribution, exposed for the tests; callers use AttributionEngine.
namespace attribution {
LegMeasurement measureLeg(const std::vector<const NetworkSample*>& samples);
bool detectRoam(const std::vector<WifiSnapshot>& wifi);
RadioAssessment assessRadio(const AttributionThresholds& t, const std::vector<WifiSnapshot>& wifi);
double sampleSpan(const std::vector<NetworkSample>& samples);
} // namespace attribution

} // namespace pv
