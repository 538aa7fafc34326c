#pragma once
// How long each kind of row stays in the evidence store, and the roll-up buckets that summarise raw
// samples once they leave it.

#include "core/records/Records.h"

#include <QString>

#include <optional>

namespace pv {

struct RetentionPolicy {
    double rawSampleSeconds = 0;
    double minuteRollupSeconds = 0;
    double hourRollupSeconds = 0;
    double wifiSnapshotSeconds = 0;
    double narrativeSeconds = 0; // events, markers, incidents
    bool operator==(const RetentionPolicy&) const = default;

    static constexpr double minuteBucket = 60.0;
    static constexpr double hourBucket = 3600.0;

    // The three choices the user picks from; `standard` is also the default.
    static constexpr RetentionPolicy compact() { return {172800, 2592000, 15724800, 172800, 15724800}; }
    static constexpr RetentionPolicy standard() { return {604800, 7776000, 63072000, 604800, 63072000}; }
    static constexpr RetentionPolicy longTerm() { return {2592000, 15552000, 94608000, 2592000, 94608000}; }
    static constexpr RetentionPolicy uniform(double seconds) { return {seconds, seconds, seconds, seconds, seconds}; }
};

// One roll-up bucket of one probe kind.
struct SampleRollup {
    Timestamp bucketStart = 0;
    double bucketSeconds = 0;
    ProbeKind targetKind = ProbeKind::gateway;
    int sampleCount = 0;
    int successCount = 0;
    std::optional<double> p50Milliseconds;
    std::optional<double> p95Milliseconds;
    std::optional<double> maxMilliseconds;
    std::optional<double> lossRatio;
    // The instants of the bucket's first and last sample; absent in buckets written before they were
    // recorded.
    std::optional<Timestamp> firstSampleTimestamp;
    std::optional<Timestamp> lastSampleTimestamp;
    // A bucket holds the samples of one family; buckets written before families were are IPv4.
    AddressFamily family = AddressFamily::ipv4;
    bool operator==(const SampleRollup&) const = default;

    // "<bucketStart>-<bucketSeconds>-<kind>", numbers in shortest round-trip form with ".0" for whole
    // ones; "-ipv6" follows for an IPv6 bucket.
    QString id() const;
    std::optional<double> successRatio() const;
};

// Shortest text that reads back as the same double, with ".0" appended to a whole number.
QString shortestDoubleText(double value);

} // namespace pv
