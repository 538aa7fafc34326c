#pragma once
// A realistic stretch of monitoring for the dashboard's figure and chart sections: probe batches
// every 4.6 s (a 4 s pause plus the batch itself) with jitter, a few spikes and lost echoes, a DNS
// query every fourth batch, Wi-Fi readings every 8 s with a roam between access points, incidents
// and a quality assessment.

#include "tests/main/States.h"

#include <cmath>

namespace pv::test {

// Deterministic wobble in [-1, 1].
inline double wobble(int i, double phase = 0) { return std::sin(i * 0.37 + phase) * 0.6 + std::sin(i * 1.71 + phase) * 0.4; }

inline void addRealisticBatches(OverviewSnapshot& s, Timestamp now, int count, double spacing = 4.6)
{
    s.recentBatches.clear();
    for (int i = 0; i < count; ++i) {
        const Timestamp at = now - (count - 1 - i) * spacing - 1.2;
        const bool spike = i % 37 == 11 || i % 53 == 40;
        const bool routerLost = i % 41 == 17;
        const bool providerLost = routerLost || i % 29 == 5;
        std::vector<NetworkSample> samples{
            sample(ProbeKind::gateway, at, !routerLost, 2.6 + 0.9 * wobble(i) + (spike ? 18 : 0)),
            sample(ProbeKind::publicIP, at + 0.01, !providerLost, 14.5 + 3.2 * wobble(i, 1.3) + (spike ? 46 : 0)),
            sample(ProbeKind::http, at + 0.05, !providerLost, 118 + 22 * wobble(i, 2.1) + (spike ? 90 : 0))};
        if (i % 4 == 0)
            samples.push_back(sample(ProbeKind::dns, at + 0.03, true, 17 + 6 * wobble(i, 0.7)));
        s.recentBatches.push_back(batch(std::move(samples)));
    }
    s.lastProbeBatchTimestamp = now - 1.2;
}

inline WifiSnapshot wifiOn(Timestamp at, int rssi, int noise, const QString& bssid, int channel, const QString& band)
{
    WifiSnapshot w = wifi(at, rssi);
    w.noise = noise;
    w.ssid = QStringLiteral("Kovacs-Otthon");
    w.bssid = bssid;
    w.channel = channel;
    w.band = band;
    w.txRateMbps = 433;
    return w;
}

// Readings every 8 s; the Mac roams from the living-room access point to the hallway one half-way.
inline void addRealisticWifi(OverviewSnapshot& s, Timestamp now, int count)
{
    s.wifiSnapshots.clear();
    for (int i = 0; i < count; ++i) {
        const Timestamp at = now - (count - 1 - i) * 8.0 - 3;
        const bool roamed = i >= count / 2;
        const int rssi = static_cast<int>(std::lround((roamed ? -57 : -66) + 3 * wobble(i, 0.4)));
        const int noise = -92 + (i % 3 == 0 ? 1 : 0);
        s.wifiSnapshots.push_back(roamed ? wifiOn(at, rssi, noise, QStringLiteral("3c:84:6a:12:9e:41"), 36, QStringLiteral("5 GHz"))
                                         : wifiOn(at, rssi, noise, QStringLiteral("3c:84:6a:12:9e:40"), 6, QStringLiteral("2.4 GHz")));
    }
    s.distinctNodeHistory.clear();
    s.distinctNodeHistory.push_back(NodeFingerprint{QStringLiteral("Kovacs-Otthon"), QStringLiteral("3c:84:6a:55:01:10"), 11,
                                                    QStringLiteral("2.4 GHz")});
    s.distinctNodeHistory.push_back(NodeFingerprint{QStringLiteral("Kovacs-Otthon"), QStringLiteral("3c:84:6a:12:9e:40"), 6,
                                                    QStringLiteral("2.4 GHz")});
    s.distinctNodeHistory.push_back(NodeFingerprint{QStringLiteral("Kovacs-Otthon"), QStringLiteral("3c:84:6a:12:9e:41"), 36,
                                                    QStringLiteral("5 GHz")});
}

// Twelve incidents over the afternoon, the newest still open.
inline void addIncidents(OverviewSnapshot& s, Timestamp now)
{
    struct Kind {
        IncidentClassification c;
        IncidentSeverity severity;
        const char* evidence;
    };
    const Kind kinds[] = {
        {IncidentClassification::wifiLinkDegraded, IncidentSeverity::warning,
         "A Wi-Fi jel -74 dBm-re esett, a router felé 12% a kiesés."},
        {IncidentClassification::gatewayCongestion, IncidentSeverity::warning,
         "A router válaszideje 3 ms-ról 48 ms-ra nőtt két percre."},
        {IncidentClassification::internetUpstreamIssue, IncidentSeverity::critical,
         "A router rendben válaszolt, de a szolgáltató felé minden harmadik csomag elveszett."},
        {IncidentClassification::reassociationOrRoam, IncidentSeverity::info,
         "A gép átkapcsolt a másik hozzáférési pontra (36-os csatorna)."},
        {IncidentClassification::dnsOnlyIssue, IncidentSeverity::warning,
         "A névfeloldás 1,8 másodpercig tartott, minden más rendben volt."},
        {IncidentClassification::offline, IncidentSeverity::critical, "Egyetlen célpont sem válaszolt 74 másodpercig."},
    };
    s.incidents.clear();
    for (int i = 0; i < 12; ++i) {
        const Kind& k = kinds[i % 6];
        const Timestamp start = now - (12 - i) * 1500.0 - 300;
        Incident x = incident(start, i == 11 ? std::nullopt : std::optional<Timestamp>(start + 140 + i * 7));
        x.classification = k.c;
        x.severity = k.severity;
        x.evidenceSummary = QString::fromUtf8(k.evidence);
        s.incidents.push_back(x);
    }
    // The open one is happening now.
    s.incidents.back().startTimestamp = now - 180;
    s.incidents.back().classification = IncidentClassification::gatewayCongestion;
    s.incidents.back().severity = IncidentSeverity::warning;
    s.incidents.back().evidenceSummary =
        QStringLiteral("A router felé a válaszidő háromszorosára nőtt, és minden tizedik csomag elvész; a hiba "
                       "három perce tart.");
}

inline QualityMetricSummary metric(const char* id, const char* title, std::optional<double> ok, std::optional<double> avg,
                                   std::optional<double> max, int total, int fail, int spike)
{
    QualityMetricSummary m;
    m.id = QString::fromUtf8(id);
    m.title = QString::fromUtf8(title);
    m.successRatio = ok;
    m.averageLatency = avg;
    m.maximumLatency = max;
    m.totalCount = total;
    m.failureCount = fail;
    m.spikeCount = spike;
    return m;
}

inline void addAssessment(OverviewSnapshot& s)
{
    s.qualityAssessment.gateway = metric("gateway", "Router", 0.9923, 2.7, 21.4, 130, 1, 3);
    s.qualityAssessment.publicIP = metric("publicIP", "Internet", 0.9769, 14.8, 62.0, 130, 3, 3);
    s.qualityAssessment.dns = metric("dns", "DNS", 1.0, 17.2, 24.9, 33, 0, 0);
    s.qualityAssessment.http = metric("http", "HTTP", 0.9769, 121.5, 228.3, 130, 3, 2);
    s.qualityAssessment.wifi = metric("wifi", "Wi-Fi", std::nullopt, std::nullopt, std::nullopt, 75, 0, 0);
}

// Ten minutes of monitoring on a mostly healthy line, with an open router incident.
inline OverviewSnapshot dashboardState(OverviewSnapshot s, Timestamp now, int batches = 130, int readings = 75)
{
    s = healthyState(std::move(s), now);
    addRealisticBatches(s, now, batches);
    addRealisticWifi(s, now, readings);
    addIncidents(s, now);
    addAssessment(s);
    s.verdict.evidence = {QStringLiteral("A szolgáltató felé mért medián válaszidő 14 ms, a csomagvesztés 2,3%."),
                          QStringLiteral("A válaszidő ingadozása 4 ms, ez videohíváshoz is bőven elég.")};
    s.verdict.setRating(UsageCapability::gaming, CapabilityRating::usable);
    return s;
}

} // namespace pv::test
