#include "AnalysisFixtures.h"

namespace pv::test {

NetworkSample sample(ProbeKind kind, Timestamp t, std::optional<double> latency, std::optional<double> loss,
                     std::optional<bool> success, QUuid batch)
{
    NetworkSample s;
    s.id = QUuid::createUuid();
    s.batchID = batch.isNull() ? QUuid::createUuid() : batch;
    s.timestamp = t;
    s.target = ProbeTarget(kind, QStringLiteral("target"), QStringLiteral("192.0.2.1"));
    s.latencyMilliseconds = latency;
    s.success = success.value_or(latency.has_value());
    s.packetLoss = loss;
    return s;
}

void addLeg(std::vector<NetworkSample>& out, const LegSetup& setup)
{
    // A sample without an answer lost everything it sent, unless the loss field is left out.
    std::optional<double> loss = setup.loss;
    if (!setup.latency && loss)
        loss = 1.0;
    for (int i = 0; i < setup.count; ++i)
        out.push_back(sample(setup.kind, setup.t0 + i * setup.step, setup.latency, loss));
}

void addLatencies(std::vector<NetworkSample>& out, ProbeKind kind, const std::vector<double>& latencies, double loss,
                  double t0, double step)
{
    for (std::size_t i = 0; i < latencies.size(); ++i)
        out.push_back(sample(kind, t0 + static_cast<double>(i) * step, latencies[i], loss));
}

WifiSnapshot wifiReading(Timestamp t, std::optional<int> rssi, std::optional<int> noise, const QString& bssid, bool up,
                         std::optional<double> txRate)
{
    WifiSnapshot w;
    w.id = QUuid::createUuid();
    w.timestamp = t;
    w.interfaceName = QStringLiteral("wlan0");
    w.ssid = QStringLiteral("Otthon");
    w.bssid = bssid;
    w.channel = 36;
    w.band = QStringLiteral("5 GHz");
    w.rssi = rssi;
    w.noise = noise;
    w.txRateMbps = txRate;
    w.interfaceUp = up;
    return w;
}

Incident incident(IncidentClassification c, Timestamp start, std::optional<Timestamp> end)
{
    Incident i;
    i.id = QUuid::createUuid();
    i.classification = c;
    i.startTimestamp = start;
    i.endTimestamp = end;
    return i;
}

QStringList stepIds(const AdviceSet& set)
{
    QStringList ids;
    for (const auto& s : set.steps)
        ids << s.id;
    return ids;
}

std::array<CapabilityRating, 4> ratingsOf(const ConnectionVerdict& v)
{
    return {v.rating(UsageCapability::videoCall), v.rating(UsageCapability::gaming), v.rating(UsageCapability::streaming),
            v.rating(UsageCapability::browsing)};
}

} // namespace pv::test
