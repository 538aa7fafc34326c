#include "core/analysis/QualityEvaluator.h"

#include "core/analysis/Statistics.h"
#include "core/records/Localization.h"

#include <QHash>

#include <algorithm>
#include <cmath>

namespace pv {

namespace {

QualityMetricSummary emptySummary(const char* id, const char* title)
{
    QualityMetricSummary m;
    m.id = QString::fromLatin1(id);
    m.title = QString::fromLatin1(title);
    return m;
}

QualityMetricSummary gatewayTemplate() { return emptySummary("gateway", "Gateway"); }
QualityMetricSummary publicTemplate() { return emptySummary("public", "Public IP"); }
QualityMetricSummary dnsTemplate() { return emptySummary("dns", "DNS"); }
QualityMetricSummary httpTemplate() { return emptySummary("http", "HTTP"); }
QualityMetricSummary wifiTemplate() { return emptySummary("wifi", "Wi-Fi"); }

std::optional<double> mean(const std::vector<double>& values)
{
    if (values.empty())
        return std::nullopt;
    return stats::finiteMean(values);
}

QualityMetricSummary metricSummary(QualityMetricSummary m, const std::vector<const NetworkSample*>& samples,
                                   double defaultSpikeLimit, std::optional<double> referenceMean)
{
    m.totalCount = static_cast<int>(samples.size());
    m.failureCount = static_cast<int>(
        std::count_if(samples.begin(), samples.end(), [](const NetworkSample* s) { return !s->success; }));
    if (m.totalCount > 0)
        m.successRatio = static_cast<double>(m.totalCount - m.failureCount) / m.totalCount;

    // Every latency counts here, also one that came with a failed sample.
    std::vector<double> latencies;
    for (const NetworkSample* s : samples)
        if (s->latencyMilliseconds)
            latencies.push_back(*s->latencyMilliseconds);
    m.averageLatency = mean(latencies);
    if (!latencies.empty())
        m.maximumLatency = *std::max_element(latencies.begin(), latencies.end());

    double spikeLimit = defaultSpikeLimit;
    if (referenceMean && 2 * *referenceMean > spikeLimit)
        spikeLimit = 2 * *referenceMean;
    m.spikeCount = static_cast<int>(
        std::count_if(latencies.begin(), latencies.end(), [spikeLimit](double v) { return v >= spikeLimit; }));
    return m;
}

QualityMetricSummary wifiSummary(const std::vector<const WifiSnapshot*>& snapshots)
{
    QualityMetricSummary m = wifiTemplate();
    m.totalCount = static_cast<int>(snapshots.size());
    std::vector<double> rssi, snr, rate;
    for (const WifiSnapshot* w : snapshots) {
        std::optional<long long> s;
        if (w->rssi && w->noise)
            s = static_cast<long long>(*w->rssi) - *w->noise;
        if (w->rssi)
            rssi.push_back(*w->rssi);
        if (s)
            snr.push_back(static_cast<double>(*s));
        if (w->txRateMbps)
            rate.push_back(*w->txRateMbps);
        const bool weak = (w->rssi && *w->rssi <= -67) || (s && *s < 20) || (w->txRateMbps && *w->txRateMbps < 200);
        if (weak)
            ++m.weakSampleCount;
    }
    m.averageRSSI = mean(rssi);
    m.averageSNR = mean(snr);
    m.averageTxRateMbps = mean(rate);
    return m;
}

// A batch in which the HTTP request, the DNS query and the router echo all failed and no public host
// answered. Batches without a DNS query never count.
int outageBatchCount(const std::vector<const NetworkSample*>& samples)
{
    struct Group {
        const NetworkSample* firstHttp = nullptr;
        const NetworkSample* firstDns = nullptr;
        const NetworkSample* firstGateway = nullptr;
        bool publicSucceeded = false;
    };
    QHash<QUuid, Group> groups;
    for (const NetworkSample* s : samples) {
        Group& g = groups[s->batchID];
        switch (s->target.kind) {
        case ProbeKind::http: if (!g.firstHttp) g.firstHttp = s; break;
        case ProbeKind::dns: if (!g.firstDns) g.firstDns = s; break;
        case ProbeKind::gateway: if (!g.firstGateway) g.firstGateway = s; break;
        case ProbeKind::publicIP: g.publicSucceeded = g.publicSucceeded || s->success; break;
        }
    }
    int count = 0;
    for (const Group& g : std::as_const(groups))
        if (g.firstHttp && !g.firstHttp->success && g.firstDns && !g.firstDns->success && g.firstGateway &&
            !g.firstGateway->success && !g.publicSucceeded)
            ++count;
    return count;
}

double incidentWeight(IncidentClassification c)
{
    switch (c) {
    case IncidentClassification::wifiLinkDegraded: return 0.7;
    case IncidentClassification::reassociationOrRoam: return 0.35;
    case IncidentClassification::gatewayCongestion: return 0.6;
    case IncidentClassification::internetUpstreamIssue: return 0.5;
    case IncidentClassification::dnsOnlyIssue: return 0.25;
    case IncidentClassification::offline: return 1.4;
    case IncidentClassification::unknown: return 0.2;
    // The IPv6 path is judged apart: its incidents leave the connection's quality as IPv4 shows it.
    case IncidentClassification::ipv6RouterIssue:
    case IncidentClassification::ipv6ProviderIssue:
    case IncidentClassification::ipv6SlowOrLossy:
    case IncidentClassification::ipv6NameOrPageIssue: return 0;
    // IPv4 is the path the quality speaks of: its fault counts as the provider's.
    case IncidentClassification::ipv4ProviderIssue: return 0.5;
    }
    return 0.2;
}

double perHour(double count, double span) { return count / std::max(span / 3600, 1.0 / 60); }

// Subtracts the three terms of one probe kind: failures, mean latency above its offset, spikes.
void deductProbeKind(double& score, const QualityMetricSummary& m, double failureWeight, double meanOffset,
                     double meanDivisor, double spikeWeight)
{
    if (m.successRatio)
        score -= (1 - *m.successRatio) * failureWeight;
    if (m.averageLatency && *m.averageLatency > meanOffset)
        score -= std::min((*m.averageLatency - meanOffset) / meanDivisor, 1.4);
    if (m.totalCount > 0)
        score -= std::min(static_cast<double>(m.spikeCount) / m.totalCount * spikeWeight, spikeWeight);
}

double wifiPenalty(const QualityMetricSummary& w)
{
    double penalty = 0;
    if (w.averageRSSI && *w.averageRSSI <= -65)
        penalty += std::min(std::fabs(*w.averageRSSI + 65) * 0.125, 1.0);
    if (w.averageSNR && *w.averageSNR < 20)
        penalty += std::min((20 - *w.averageSNR) / 10, 0.7);
    if (w.averageTxRateMbps && *w.averageTxRateMbps < 300)
        penalty += std::min((300 - *w.averageTxRateMbps) / 250, 0.7);
    if (w.totalCount >= 1)
        penalty += std::min(static_cast<double>(w.weakSampleCount) / w.totalCount * 0.9, 0.9);
    return penalty;
}

double incidentPenalty(const std::vector<const Incident*>& incidents, double span, Timestamp clock)
{
    if (incidents.empty())
        return 0;
    double countTerm = 0;
    double durationTerm = 0;
    for (const Incident* i : incidents) {
        const double w = incidentWeight(i->classification);
        countTerm += w;
        // Not cut to the window: an incident counts with its whole length so far.
        durationTerm += i->duration(clock) * w;
    }
    return std::min(perHour(countTerm, span) * 0.25, 2.2) + std::min(2 * durationTerm / span, 1.2);
}

double roundOneDecimal(double v) { return std::round(v * 10) / 10; }

int percentageOf(double relative) { return static_cast<int>(std::lround(relative / 10 * 100)); }

std::optional<double> referenceMean(const std::optional<QualityBaseline>& baseline,
                                    QualityMetricSummary QualityAssessment::*field)
{
    if (!baseline)
        return std::nullopt;
    return (baseline->assessment.*field).averageLatency;
}

QString comparisonSummary(int percentage, const std::optional<QualityBaseline>& baseline)
{
    if (!baseline)
        return L("A 10/10 referencia még nincs elmentve. Amint összegyűlik egy jobb 10 perces szakasz, ehhez fog mérni.");
    return QString::number(percentage) + L("% az eddigi legjobb 10 perchez képest. Referencia: ") +
           baseline->nodeFingerprint.summary() + QStringLiteral(".");
}

} // namespace

QString QualityEvaluator::durationText(double seconds)
{
    const long long n = std::max(stats::saturatingWhole(std::ceil(seconds)), 0LL);
    if (n >= 3600)
        return QString::number(n / 3600) + QStringLiteral("h ") + QString::number((n % 3600) / 60) + QStringLiteral("m");
    if (n % 3600 >= 60)
        return QString::number(n / 60) + QStringLiteral("m ") + QString::number(n % 60) + QStringLiteral("s");
    return QString::number(n) + QStringLiteral("s");
}

bool QualityEvaluator::hasNodeChanged(const std::optional<WifiSnapshot>& previous,
                                      const std::optional<WifiSnapshot>& current)
{
    return previous && current && previous->nodeFingerprint() != current->nodeFingerprint();
}

QualityAssessment QualityEvaluator::collectingAssessment(QualityWindow window, const MeasurementSession& session,
                                                         Timestamp now, const std::optional<QualityBaseline>& baseline)
{
    const double elapsed = std::max(now - session.startedAt, 0.0);
    const double remaining = duration(window) - elapsed;

    QualityAssessment a;
    a.availability = QualityAvailability::collecting;
    a.window = window;
    a.score = 0;
    a.absoluteScore = 0;
    a.percentage = 0;
    a.verdict = QualityVerdict::usableWithCallRisk;
    a.title = waitingTitle(window);
    a.summary = remaining > 0 ? LF("Needs %@ more data before this window can be rated.", {durationText(remaining)})
                              : L("Waiting for the first complete probe batch.");
    a.useCaseHint = L("Leave the app running on the current node until this window becomes available.");
    a.comparisonSummary = baseline ? LF("Reference 10/10 learned on %@.", {baseline->nodeFingerprint.summary()})
                                   : L("The 10/10 reference baseline has not been learned yet.");
    a.weaknessSummary = L("Not enough data yet.");
    a.sessionStartedAt = session.startedAt;
    a.windowStartedAt = session.startedAt;
    a.windowEndedAt = now;
    a.elapsedSeconds = elapsed;
    a.gateway = gatewayTemplate();
    a.publicIP = publicTemplate();
    a.dns = dnsTemplate();
    a.http = httpTemplate();
    a.wifi = wifiTemplate();
    a.incidentCount = 0;
    a.dropoutCount = 0;
    return a;
}

QualityAssessment QualityEvaluator::evaluate(QualityWindow window, const MeasurementSession& session, Timestamp now,
                                             const std::vector<NetworkSample>& samples,
                                             const std::vector<WifiSnapshot>& wifi,
                                             const std::vector<Incident>& incidents,
                                             const std::vector<DiagnosticEvent>& events,
                                             const std::optional<QualityBaseline>& baseline,
                                             std::optional<Timestamp> openIncidentsUntil)
{
    // Bounds. The lists come oldest first, so their last entries stand for the newest data.
    Timestamp end = now;
    if (!samples.empty())
        end = std::max(end, samples.back().timestamp);
    if (!wifi.empty())
        end = std::max(end, wifi.back().timestamp);
    const double elapsed = std::max(end - session.startedAt, 0.0);
    const double length = duration(window);
    if (samples.empty() || elapsed < length)
        return collectingAssessment(window, session, end, baseline);
    const Timestamp start = std::max(end - length, session.startedAt);
    const auto inWindow = [start, end](Timestamp t) { return t >= start && t <= end; };
    const double span = std::max(end - start, 1.0);

    std::vector<const NetworkSample*> gw, pub, dns, http, all;
    for (const NetworkSample& s : samples) {
        if (!inWindow(s.timestamp))
            continue;
        all.push_back(&s);
        switch (s.target.kind) {
        case ProbeKind::gateway: gw.push_back(&s); break;
        case ProbeKind::publicIP: pub.push_back(&s); break;
        case ProbeKind::dns: dns.push_back(&s); break;
        case ProbeKind::http: http.push_back(&s); break;
        }
    }
    std::vector<const WifiSnapshot*> snapshots;
    for (const WifiSnapshot& w : wifi)
        if (inWindow(w.timestamp))
            snapshots.push_back(&w);
    std::vector<const Incident*> windowIncidents;
    for (const Incident& i : incidents)
        if (i.startTimestamp <= end && i.endTimestamp.value_or(end) >= start)
            windowIncidents.push_back(&i);

    QualityAssessment a;
    a.gateway = metricSummary(gatewayTemplate(), gw, 120, referenceMean(baseline, &QualityAssessment::gateway));
    a.publicIP = metricSummary(publicTemplate(), pub, 180, referenceMean(baseline, &QualityAssessment::publicIP));
    a.dns = metricSummary(dnsTemplate(), dns, 250, referenceMean(baseline, &QualityAssessment::dns));
    a.http = metricSummary(httpTemplate(), http, 900, referenceMean(baseline, &QualityAssessment::http));
    a.wifi = wifiSummary(snapshots);

    // Dropouts: offline incidents or outage batches, whichever is more, plus every probe cycle that
    // found no default route.
    const int offlineIncidents = static_cast<int>(std::count_if(windowIncidents.begin(), windowIncidents.end(),
        [](const Incident* i) { return i->classification == IncidentClassification::offline; }));
    int dropouts = std::max(offlineIncidents, outageBatchCount(all));
    for (const DiagnosticEvent& e : events)
        if (inWindow(e.timestamp) && e.kind == DiagnosticEventKind::pathChanged &&
            e.details.contains(QStringLiteral("No default route")))
            ++dropouts;

    // Absolute score: the deductions in a fixed order, clamped only at the end.
    double score = 10;
    deductProbeKind(score, a.gateway, 4.2, 18, 180, 0.8);
    deductProbeKind(score, a.publicIP, 3.4, 30, 220, 0.6);
    deductProbeKind(score, a.dns, 1, 25, 600, 0.2);
    deductProbeKind(score, a.http, 1.8, 120, 800, 0.5);
    score -= wifiPenalty(a.wifi);
    score -= incidentPenalty(windowIncidents, span, openIncidentsUntil.value_or(now));
    if (dropouts >= 1)
        score -= std::min(perHour(dropouts, span) * 0.7 + 0.8, 3.0);
    // Corrupt incident times (an end long before its start next to one far after) can leave the
    // duration sum undefined; such a window gets no score rather than an undefined one.
    const double absolute = std::isnan(score) ? 0.0 : std::clamp(score, 0.0, 10.0);

    double relative = absolute;
    if (baseline && baseline->absoluteScore > 0)
        relative = std::clamp(absolute / baseline->absoluteScore * 10, 0.0, 10.0);
    const int percentage = percentageOf(relative);

    QualityVerdict verdict;
    if (dropouts >= 1)
        verdict = QualityVerdict::frequentDropouts;
    else if ((a.gateway.successRatio && *a.gateway.successRatio < 0.92) ||
             (a.publicIP.successRatio && *a.publicIP.successRatio < 0.92))
        verdict = QualityVerdict::frequentDropouts;
    else if (relative >= 9.0)
        verdict = QualityVerdict::excellent;
    else if (relative >= 7.5)
        verdict = QualityVerdict::fastWithSlowdowns;
    else if (relative >= 6.0)
        verdict = QualityVerdict::usableWithCallRisk;
    else if (relative >= 4.0)
        verdict = QualityVerdict::unstable;
    else
        verdict = QualityVerdict::frequentDropouts;

    // Weak points, in a fixed order; the first two are shown.
    const auto scaled = [&](double floor, double factor, QualityMetricSummary QualityAssessment::*field) {
        const std::optional<double> ref = referenceMean(baseline, field);
        return ref ? std::max(floor, factor * *ref) : floor;
    };
    QStringList weaknesses;
    if (dropouts >= 1)
        weaknesses << L("Volt teljes vagy majdnem teljes kimaradás.");
    if (a.gateway.averageLatency && *a.gateway.averageLatency >= scaled(70, 1.7, &QualityAssessment::gateway))
        weaknesses << L("A gateway késleltetése rosszabb a referenciaértéknél.");
    if (a.publicIP.averageLatency && *a.publicIP.averageLatency >= scaled(90, 1.5, &QualityAssessment::publicIP))
        weaknesses << L("A publikus internet válasza tüskésebb a szokásosnál.");
    if (a.dns.averageLatency && *a.dns.averageLatency >= scaled(120, 3.0, &QualityAssessment::dns))
        weaknesses << L("A DNS válaszideje lassabb a referenciaablaknál.");
    if (a.http.spikeCount > 0 || (a.http.maximumLatency && *a.http.maximumLatency >= 1500))
        weaknesses << L("A webes válaszidő időnként nagy tüskéket mutat.");
    if (a.wifi.averageRSSI && *a.wifi.averageRSSI <= -67)
        weaknesses << L("A Wi-Fi jel gyenge, ezért a kapcsolat hullámzik.");
    if (a.wifi.averageSNR && *a.wifi.averageSNR < 20)
        weaknesses << L("A zajszinthez képest kevés a hasznos jel.");
    if (std::any_of(windowIncidents.begin(), windowIncidents.end(), [](const Incident* i) {
            return i->classification == IncidentClassification::reassociationOrRoam;
        }))
        weaknesses << L("A kliens hozzáférési pontot váltott ebben az ablakban.");
    const QString weaknessSummary = weaknesses.isEmpty() ? L("Ebben az ablakban nincs számottevő gyenge pont.")
                                                         : weaknesses.mid(0, 2).join(QLatin1Char(' '));

    a.availability = QualityAvailability::ready;
    a.window = window;
    a.score = roundOneDecimal(relative);
    a.absoluteScore = roundOneDecimal(absolute);
    a.percentage = percentage;
    a.verdict = verdict;
    a.title = title(verdict);
    a.summary = title(verdict) + QStringLiteral(". ") + weaknessSummary;
    a.useCaseHint = useCaseHint(verdict);
    a.comparisonSummary = comparisonSummary(percentage, baseline);
    a.weaknessSummary = weaknessSummary;
    a.sessionStartedAt = session.startedAt;
    a.windowStartedAt = start;
    a.windowEndedAt = end;
    a.elapsedSeconds = elapsed;
    a.incidentCount = static_cast<int>(windowIncidents.size());
    a.dropoutCount = dropouts;
    return a;
}

} // namespace pv
