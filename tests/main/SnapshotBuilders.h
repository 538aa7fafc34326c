#pragma once
// Small builders of model snapshots for the tests of the overview texts and panels.

#include "ui/main/OverviewSnapshot.h"

#include <QUuid>

namespace pv::test {

inline NetworkSample sample(ProbeKind kind, Timestamp at, bool success, std::optional<double> latency = {})
{
    NetworkSample s;
    s.id = QUuid::createUuid();
    s.timestamp = at;
    s.target = ProbeTarget(kind, rawValue(kind), QStringLiteral("127.0.0.1"));
    s.success = success;
    s.latencyMilliseconds = success ? latency : std::nullopt;
    return s;
}

inline ProbeBatch batch(std::vector<NetworkSample> samples)
{
    ProbeBatch b;
    b.id = QUuid::createUuid();
    b.timestamp = samples.empty() ? 0 : samples.front().timestamp;
    b.samples = std::move(samples);
    return b;
}

inline WifiSnapshot wifi(Timestamp at, std::optional<int> rssi)
{
    WifiSnapshot w;
    w.id = QUuid::createUuid();
    w.timestamp = at;
    w.interfaceName = QStringLiteral("wlan0");
    w.rssi = rssi;
    w.noise = -92;
    return w;
}

inline Incident incident(Timestamp start, std::optional<Timestamp> end)
{
    Incident i;
    i.id = QUuid::createUuid();
    i.startTimestamp = start;
    i.endTimestamp = end;
    return i;
}

// Monitoring, enough verdict evidence, everything comfortable, no fault.
inline OverviewSnapshot healthySnapshot()
{
    OverviewSnapshot s;
    s.isMonitoring = true;
    s.liveStatus = LiveStatus::healthy;
    s.attribution.location = FaultLocation::none;
    s.attribution.headline = QStringLiteral("Nincs hiba.");
    s.verdict.confidence = {120, 600};
    for (UsageCapability u : allUsageCapabilities())
        s.verdict.setRating(u, CapabilityRating::comfortable);
    return s;
}

} // namespace pv::test
