#pragma once
// Builders for the analysis tests: samples and Wi-Fi readings shaped like the probes make them.

#include "core/analysis/Advice.h"
#include "core/analysis/Verdict.h"
#include "core/records/Quality.h"

#include <QString>

#include <array>
#include <optional>
#include <vector>

namespace pv::test {

// One sample; success follows the presence of a latency unless given.
NetworkSample sample(ProbeKind kind, Timestamp t, std::optional<double> latency, std::optional<double> loss = 0.0,
                     std::optional<bool> success = std::nullopt, QUuid batch = QUuid());

// count samples of one kind, t0, t0 + step, ...; each with the same latency (or none: failed) and
// the same per-sample loss ratio (a failed sample lost everything, unless loss is left out).
struct LegSetup {
    ProbeKind kind = ProbeKind::publicIP;
    int count = 0;
    std::optional<double> latency;
    std::optional<double> loss = 0.0;
    double t0 = 0;
    double step = 5;
};
void addLeg(std::vector<NetworkSample>& out, const LegSetup& setup);

// One sample per latency, in the given order, one every step seconds.
void addLatencies(std::vector<NetworkSample>& out, ProbeKind kind, const std::vector<double>& latencies,
                  double loss = 0, double t0 = 0, double step = 5);

WifiSnapshot wifiReading(Timestamp t, std::optional<int> rssi, std::optional<int> noise = std::nullopt,
                         const QString& bssid = QStringLiteral("aa:aa:aa:aa:aa:01"), bool up = true,
                         std::optional<double> txRate = 866);

Incident incident(IncidentClassification c, Timestamp start, std::optional<Timestamp> end);

QStringList stepIds(const AdviceSet& set);
// The ratings of video call, gaming, streaming and browsing, in that order.
std::array<CapabilityRating, 4> ratingsOf(const ConnectionVerdict& v);

} // namespace pv::test
