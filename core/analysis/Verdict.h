#pragma once
// The per-usage verdict: what the connection is good for right now (video call, gaming, streaming,
// browsing), judged from the public-host probes against fixed per-usage limits.

#include "core/records/Records.h"
#include "core/records/Status.h"

#include <QStringList>

#include <array>
#include <optional>
#include <vector>

namespace pv {

enum class UsageCapability { videoCall, gaming, streaming, browsing };
inline constexpr EnumTable<UsageCapability, 4> kUsageCapabilityTable{{{
    {UsageCapability::videoCall, "videoCall"},
    {UsageCapability::gaming, "gaming"},
    {UsageCapability::streaming, "streaming"},
    {UsageCapability::browsing, "browsing"},
}}};
inline QString rawValue(UsageCapability u) { return kUsageCapabilityTable.rawText(u); }
inline std::optional<UsageCapability> parseUsageCapability(const QString& s) { return kUsageCapabilityTable.parse(s); }
inline auto allUsageCapabilities() { return kUsageCapabilityTable.allCases(); }
inline QString id(UsageCapability u) { return rawValue(u); }
QString title(UsageCapability u);
QString symbolName(UsageCapability u);

// Severity order for combining tests: comfortable < usable < poor; unknown only ever stands alone.
enum class CapabilityRating { comfortable, usable, poor, unknown };
inline constexpr EnumTable<CapabilityRating, 4> kCapabilityRatingTable{{{
    {CapabilityRating::comfortable, "comfortable"},
    {CapabilityRating::usable, "usable"},
    {CapabilityRating::poor, "poor"},
    {CapabilityRating::unknown, "unknown"},
}}};
inline QString rawValue(CapabilityRating r) { return kCapabilityRatingTable.rawText(r); }
inline std::optional<CapabilityRating> parseCapabilityRating(const QString& s) { return kCapabilityRatingTable.parse(s); }
QString title(CapabilityRating r);
PVStatus status(CapabilityRating r);

struct VerdictConfidence {
    long long sampleCount = 0; // public-host samples, failed ones included
    double spanSeconds = 0;
    bool operator==(const VerdictConfidence&) const = default;

    bool isSufficient() const { return sampleCount >= 20 && spanSeconds >= 60; }
    QString description() const;
};

// One optional rating per usage, indexed by the enumeration so iteration order is fixed.
using CapabilityRatings = std::array<std::optional<CapabilityRating>, 4>;

struct ConnectionVerdict {
    CapabilityRatings ratings{};
    VerdictConfidence confidence;
    std::optional<double> medianRtt;
    std::optional<double> jitter;
    std::optional<double> lossRatio;
    QStringList evidence;
    bool operator==(const ConnectionVerdict&) const = default;

    CapabilityRating rating(UsageCapability u) const;
    void setRating(UsageCapability u, CapabilityRating r) { ratings[static_cast<std::size_t>(u)] = r; }
    std::optional<UsageCapability> weakestCapability() const;
    PVStatus overallStatus() const; // never critical
};

// What the verdict reads of the public-host samples, for a caller that folds a long period's rows as
// it reads them.
struct VerdictEvidence {
    long long sampleCount = 0;          // public-host samples, failed ones included
    double spanSeconds = 0;             // newest minus oldest of them
    std::vector<double> latencies;      // the successful ones', sorted ascending
    std::optional<double> jitter;       // mean step between successive successful latencies in time order
    double lossRatio = 0;
};

class VerdictEngine {
public:
    // samples: every probe kind, any order; only the public-host ones are read. The result depends
    // on the samples only; now is accepted for the callers' sake.
    static ConnectionVerdict assess(const std::vector<NetworkSample>& samples, Timestamp now);
    // The same from what was gathered of them.
    static ConnectionVerdict assess(const VerdictEvidence& evidence);
};

} // namespace pv
