#include "reports/DailySummary.h"

#include "core/analysis/IncidentClassifier.h"
#include "core/records/LocaleDates.h"
#include "core/records/Localization.h"
#include "reports/DossierFormat.h"

#include <QHash>

#include <algorithm>
#include <array>

namespace pv::reports {

namespace {

const QString kNotAvailable = QStringLiteral("N/A");
constexpr size_t kShownEvents = 30;

struct KindFigures {
    std::optional<double> average;
    std::optional<double> maximum;
    std::optional<double> successRatio;
};

KindFigures figuresOf(const std::vector<NetworkSample>& samples, ProbeKind kind)
{
    KindFigures figures;
    double sum = 0;
    int latencies = 0;
    int count = 0;
    int successes = 0;
    for (const NetworkSample& sample : samples) {
        if (sample.target.kind != kind)
            continue;
        ++count;
        if (sample.success)
            ++successes;
        if (const auto& latency = sample.latencyMilliseconds) {
            sum += *latency;
            ++latencies;
            if (!figures.maximum || *latency > *figures.maximum)
                figures.maximum = *latency;
        }
    }
    if (latencies > 0)
        figures.average = sum / latencies;
    if (count > 0)
        figures.successRatio = static_cast<double>(successes) / count;
    return figures;
}

QString fingerprintKey(const NodeFingerprint& f)
{
    const auto part = [](bool present, const QString& value) {
        return present ? QLatin1Char('+') + value : QStringLiteral("-");
    };
    return part(f.ssid.has_value(), f.ssid.value_or(QString())) + QChar(0x1f) +
           part(f.bssid.has_value(), f.bssid.value_or(QString())) + QChar(0x1f) +
           part(f.channel.has_value(), f.channel ? QString::number(*f.channel) : QString()) + QChar(0x1f) +
           part(f.band.has_value(), f.band.value_or(QString()));
}

QString unitText(const std::optional<double>& value, const char* unit)
{
    return value ? formatFixed(*value, 1) + QLatin1String(unit) : kNotAvailable;
}

QString percentText(const std::optional<double>& ratio)
{
    return ratio ? formatFixed(*ratio * 100.0, 1) + QLatin1Char('%') : kNotAvailable;
}

QString wholeText(const std::optional<int>& value) { return value ? QString::number(*value) : kNotAvailable; }

// Elements of the page, indented two spaces per level.
class Page {
public:
    void add(int level, const QString& line)
    {
        text_ += QString(level * 2, QLatin1Char(' '));
        text_ += line;
        text_ += QLatin1Char('\n');
    }
    void blank() { text_ += QLatin1Char('\n'); }
    QString text() const { return text_; }

private:
    QString text_;
};

QString element(const char* tag, const QString& content, const char* cssClass = nullptr)
{
    const QString open = cssClass ? QStringLiteral("<%1 class=\"%2\">").arg(QLatin1String(tag), QLatin1String(cssClass))
                                  : QStringLiteral("<%1>").arg(QLatin1String(tag));
    return open + content + QStringLiteral("</%1>").arg(QLatin1String(tag));
}

void dataRow(Page& page, int level, const QStringList& cells)
{
    page.add(level, QStringLiteral("<tr>"));
    for (const QString& cell : cells)
        page.add(level + 1, element("td", cell));
    page.add(level, QStringLiteral("</tr>"));
}

QStringList nodeTableRow(const NodeSummary& node)
{
    return {htmlEscaped(node.fingerprint.summary()),
            QString::number(node.snapshotCount),
            htmlEscaped(displayText(node.firstSeen)),
            htmlEscaped(displayText(node.lastSeen)),
            unitText(node.averageRSSI, " dBm"),
            wholeText(node.minimumRSSI),
            wholeText(node.maximumRSSI),
            unitText(node.averageTxRateMbps, " Mbps")};
}

QStringList incidentTableRow(const Incident& incident)
{
    return {htmlEscaped(displayText(incident.startTimestamp)),
            incident.endTimestamp ? htmlEscaped(displayText(*incident.endTimestamp)) : QStringLiteral("Open"),
            htmlEscaped(title(incident.classification)),
            htmlEscaped(rawValue(incident.severity)),
            formatFixed(incident.confidence, 2),
            htmlEscaped(incident.evidenceSummary)};
}

QStringList markerTableRow(const ManualMarker& marker)
{
    return {htmlEscaped(displayText(marker.timestamp)), htmlEscaped(marker.action), htmlEscaped(marker.note)};
}

QStringList eventTableRow(const DiagnosticEvent& event)
{
    return {htmlEscaped(displayText(event.timestamp)), htmlEscaped(rawValue(event.kind)),
            htmlEscaped(event.details)};
}

void likelyCauseCard(Page& page, int level, const LikelyCauseSummary& cause)
{
    page.add(level, QStringLiteral("<section class=\"card\">"));
    page.add(level + 1, element("h3", htmlEscaped(cause.title)));
    page.add(level + 1, element("p", htmlEscaped(cause.explanation)));
    page.add(level + 1, element("p", QStringLiteral("<strong>Recommendation:</strong> ") + htmlEscaped(cause.recommendation)));
    page.add(level, QStringLiteral("</section>"));
}

template <typename Row>
void tableSection(Page& page, const char* heading, const QStringList& columns, const std::vector<Row>& rows,
                  QStringList (*format)(const Row&), const char* fallback)
{
    page.add(1, QStringLiteral("<section class=\"section\">"));
    page.add(2, element("h2", QLatin1String(heading)));
    page.add(2, QStringLiteral("<table>"));
    page.add(3, QStringLiteral("<thead>"));
    page.add(4, QStringLiteral("<tr>"));
    for (const QString& column : columns)
        page.add(5, element("th", column));
    page.add(4, QStringLiteral("</tr>"));
    page.add(3, QStringLiteral("</thead>"));
    page.add(3, QStringLiteral("<tbody>"));
    if (rows.empty()) {
        page.add(4, QStringLiteral("<tr><td colspan=\"%1\">%2</td></tr>").arg(columns.size()).arg(QLatin1String(fallback)));
    } else {
        for (const Row& row : rows)
            dataRow(page, 4, format(row));
    }
    page.add(3, QStringLiteral("</tbody>"));
    page.add(2, QStringLiteral("</table>"));
    page.add(1, QStringLiteral("</section>"));
}

const std::array<std::pair<const char*, const char*>, 10> kStyleRules{{
    {"body", "font-family: -apple-system, BlinkMacSystemFont, sans-serif; margin: 32px; background: #f5f7fb; color: #152033;"},
    {"h1, h2, h3", "margin-bottom: 0.4rem;"},
    {"p", "line-height: 1.45;"},
    {".grid", "display: grid; grid-template-columns: repeat(auto-fit, minmax(220px, 1fr)); gap: 16px; margin-bottom: 24px;"},
    {".card", "background: white; border-radius: 16px; padding: 18px; box-shadow: 0 10px 30px rgba(21, 32, 51, 0.08);"},
    {"table", "width: 100%; border-collapse: collapse; background: white; border-radius: 16px; overflow: hidden; margin-bottom: 24px;"},
    {"th, td", "padding: 12px; text-align: left; border-bottom: 1px solid #e5e9f2; vertical-align: top;"},
    {"th", "background: #e9eef8;"},
    {".muted", "color: #51627d;"},
    {".section", "margin-bottom: 28px;"},
}};

// Samples grouped by batch; a batch's time and route are its earliest sample's (the first of
// equally early ones). With withSamples, each batch also holds its samples, sorted by time.
std::vector<ProbeBatch> groupBatches(const std::vector<NetworkSample>& samples, bool withSamples)
{
    std::vector<ProbeBatch> batches;
    QHash<QUuid, size_t> index;
    for (const NetworkSample& sample : samples) {
        auto it = index.find(sample.batchID);
        if (it == index.end()) {
            it = index.insert(sample.batchID, batches.size());
            batches.push_back(ProbeBatch{sample.batchID, sample.timestamp, sample.route, {}});
        }
        ProbeBatch& batch = batches[*it];
        if (sample.timestamp < batch.timestamp) {
            batch.timestamp = sample.timestamp;
            batch.route = sample.route;
        }
        if (withSamples)
            batch.samples.push_back(sample);
    }
    for (ProbeBatch& batch : batches)
        std::stable_sort(batch.samples.begin(), batch.samples.end(),
                         [](const NetworkSample& a, const NetworkSample& b) { return a.timestamp < b.timestamp; });
    std::stable_sort(batches.begin(), batches.end(),
                     [](const ProbeBatch& a, const ProbeBatch& b) { return a.timestamp < b.timestamp; });
    return batches;
}

} // namespace

std::vector<ProbeBatch> probeBatches(const std::vector<NetworkSample>& samples) { return groupBatches(samples, true); }

std::optional<double> longestProbeGap(const std::vector<ProbeBatch>& batches)
{
    if (batches.size() < 2)
        return std::nullopt;
    double longest = 0;
    for (size_t i = 1; i < batches.size(); ++i)
        longest = std::max(longest, batches[i].timestamp - batches[i - 1].timestamp);
    if (longest <= 0)
        return std::nullopt;
    return longest;
}

NodeSummary makeNodeSummary(const NodeFingerprint& fingerprint, const std::vector<const WifiSnapshot*>& group)
{
    Timestamp first = group.empty() ? 0 : group.front()->timestamp;
    Timestamp last = first;
    long long rssiSum = 0;
    int rssiCount = 0;
    std::optional<int> minimum;
    std::optional<int> maximum;
    double txSum = 0;
    int txCount = 0;
    for (const WifiSnapshot* snapshot : group) {
        first = std::min(first, snapshot->timestamp);
        last = std::max(last, snapshot->timestamp);
        if (snapshot->rssi) {
            rssiSum += *snapshot->rssi;
            ++rssiCount;
            minimum = minimum ? std::min(*minimum, *snapshot->rssi) : *snapshot->rssi;
            maximum = maximum ? std::max(*maximum, *snapshot->rssi) : *snapshot->rssi;
        }
        if (snapshot->txRateMbps) {
            txSum += *snapshot->txRateMbps;
            ++txCount;
        }
    }
    const std::optional<double> averageRSSI =
        rssiCount > 0 ? std::optional<double>(static_cast<double>(rssiSum) / rssiCount) : std::nullopt;
    const std::optional<double> averageTx = txCount > 0 ? std::optional<double>(txSum / txCount) : std::nullopt;
    return NodeSummary(fingerprint, static_cast<int>(group.size()), first, last, averageRSSI, minimum, maximum, averageTx);
}

std::vector<NodeSummary> nodeSummaries(const std::vector<WifiSnapshot>& snapshots)
{
    std::vector<NodeFingerprint> fingerprints;
    std::vector<std::vector<const WifiSnapshot*>> groups;
    QHash<QString, size_t> index;
    for (const WifiSnapshot& snapshot : snapshots) {
        const NodeFingerprint fingerprint = snapshot.nodeFingerprint();
        const QString key = fingerprintKey(fingerprint);
        auto it = index.find(key);
        if (it == index.end()) {
            it = index.insert(key, groups.size());
            fingerprints.push_back(fingerprint);
            groups.emplace_back();
        }
        groups[*it].push_back(&snapshot);
    }
    std::vector<NodeSummary> summaries;
    summaries.reserve(groups.size());
    for (size_t i = 0; i < groups.size(); ++i)
        summaries.push_back(makeNodeSummary(fingerprints[i], groups[i]));
    std::stable_sort(summaries.begin(), summaries.end(), [](const NodeSummary& a, const NodeSummary& b) {
        if (a.snapshotCount != b.snapshotCount)
            return a.snapshotCount > b.snapshotCount;
        return a.lastSeen > b.lastSeen;
    });
    return summaries;
}

DailyReport makeDailyReport(DailyReportInput input)
{
    DailyReportStats stats;
    stats.probeCount = static_cast<int>(input.samples.size());
    stats.wifiSnapshotCount = static_cast<int>(input.wifiSnapshots.size());
    const KindFigures gateway = figuresOf(input.samples, ProbeKind::gateway);
    const KindFigures publicHost = figuresOf(input.samples, ProbeKind::publicIP);
    const KindFigures dns = figuresOf(input.samples, ProbeKind::dns);
    const KindFigures http = figuresOf(input.samples, ProbeKind::http);
    stats.averageGatewayLatency = gateway.average;
    stats.averagePublicLatency = publicHost.average;
    stats.averageDNSLatency = dns.average;
    stats.averageHTTPLatency = http.average;
    stats.maxGatewayLatency = gateway.maximum;
    stats.maxPublicLatency = publicHost.maximum;
    stats.maxDNSLatency = dns.maximum;
    stats.maxHTTPLatency = http.maximum;
    stats.gatewaySuccessRatio = gateway.successRatio;
    stats.publicSuccessRatio = publicHost.successRatio;
    stats.dnsSuccessRatio = dns.successRatio;
    stats.httpSuccessRatio = http.successRatio;
    stats.uptimeRatio = publicHost.successRatio;
    stats.incidentCount = static_cast<int>(input.incidents.size());
    // The batches without their samples: only their times count here.
    const std::vector<ProbeBatch> batches = groupBatches(input.samples, false);
    stats.longestProbeGapSeconds = longestProbeGap(batches);
    if (!batches.empty())
        stats.lastProbeTimestamp = batches.back().timestamp;
    if (!input.wifiSnapshots.empty()) {
        Timestamp latest = input.wifiSnapshots.front().timestamp;
        for (const WifiSnapshot& snapshot : input.wifiSnapshots)
            latest = std::max(latest, snapshot.timestamp);
        stats.lastWiFiTimestamp = latest;
    }

    DailyReport report;
    report.day = input.start;
    report.title = std::move(input.title);
    report.periodDescription = std::move(input.periodDescription);
    report.periodStart = input.start;
    report.periodEnd = input.end;
    report.stats = stats;
    report.nodeSummaries = nodeSummaries(input.wifiSnapshots);
    report.likelyCauses = IncidentClassifier::likelyCauses(input.incidents, input.now, QLocale::c());
    report.suggestedNextTest = IncidentClassifier::recommendation(input.incidents);
    report.incidents = std::move(input.incidents);
    report.events = std::move(input.events);
    report.markers = std::move(input.markers);
    return report;
}

QString htmlEscaped(const QString& text)
{
    // Whatever reaches the page passes here, so no supplied text can turn the page's text around.
    QString escaped = DossierFormat::withoutDirectionalControls(text);
    escaped.replace(QLatin1Char('&'), QLatin1String("&amp;"));
    escaped.replace(QLatin1Char('<'), QLatin1String("&lt;"));
    escaped.replace(QLatin1Char('>'), QLatin1String("&gt;"));
    escaped.replace(QLatin1Char('"'), QLatin1String("&quot;"));
    return escaped;
}

QString displayText(Timestamp when)
{
    const QString text = mediumDateTimeText(when);
    return isRepeatedLocalTime(when) ? text + QStringLiteral(" (") + utcOffsetText(when) + QLatin1Char(')') : text;
}

QString optionalDateText(const std::optional<Timestamp>& when) { return when ? displayText(*when) : kNotAvailable; }

QString summaryHTML(const DailyReport& report)
{
    const DailyReportStats& s = report.stats;
    Page page;
    page.add(0, QStringLiteral("<!doctype html>"));
    page.add(0, QStringLiteral("<html lang=\"en\">"));
    page.add(0, QStringLiteral("<head>"));
    page.add(1, QStringLiteral("<meta charset=\"utf-8\">"));
    page.add(1, element("title", htmlEscaped(report.title)));
    page.add(1, QStringLiteral("<style>"));
    for (const auto& [selector, declarations] : kStyleRules)
        page.add(2, QStringLiteral("%1 { %2 }").arg(QLatin1String(selector), QLatin1String(declarations)));
    page.add(1, QStringLiteral("</style>"));
    page.add(0, QStringLiteral("</head>"));
    page.add(0, QStringLiteral("<body>"));
    page.add(1, element("h1", htmlEscaped(report.title)));
    page.add(1, element("p", QStringLiteral("Period: ") + htmlEscaped(report.periodDescription), "muted"));
    page.add(1, element("p", QStringLiteral("Time zone: ") + htmlEscaped(timeZoneName()), "muted"));
    page.blank();

    const std::pair<const char*, QString> cards[] = {
        {"Total probes", QString::number(s.probeCount)},
        {"Wi-Fi snapshots", QString::number(s.wifiSnapshotCount)},
        {"Avg gateway latency", unitText(s.averageGatewayLatency, " ms")},
        {"Avg public latency", unitText(s.averagePublicLatency, " ms")},
        {"Avg DNS latency", unitText(s.averageDNSLatency, " ms")},
        {"Avg HTTP latency", unitText(s.averageHTTPLatency, " ms")},
        {"Gateway success", percentText(s.gatewaySuccessRatio)},
        {"Public success", percentText(s.publicSuccessRatio)},
        {"DNS success", percentText(s.dnsSuccessRatio)},
        {"HTTP success", percentText(s.httpSuccessRatio)},
        {"Longest probe gap", unitText(s.longestProbeGapSeconds, " s")},
        {"Last probe batch", optionalDateText(s.lastProbeTimestamp)},
    };
    page.add(1, QStringLiteral("<div class=\"grid\">"));
    for (const auto& [label, value] : cards) {
        page.add(2, QStringLiteral("<section class=\"card\">"));
        page.add(3, element("h3", QLatin1String(label)));
        page.add(3, element("p", value));
        page.add(2, QStringLiteral("</section>"));
    }
    page.add(1, QStringLiteral("</div>"));
    page.blank();

    page.add(1, QStringLiteral("<section class=\"section\">"));
    page.add(2, element("h2", QStringLiteral("Likely Causes")));
    if (report.likelyCauses.empty()) {
        page.add(2, element("p", QStringLiteral("No incidents were classified for this period.")));
    } else {
        for (const LikelyCauseSummary& cause : report.likelyCauses)
            likelyCauseCard(page, 2, cause);
    }
    page.add(1, QStringLiteral("</section>"));
    page.blank();

    page.add(1, QStringLiteral("<section class=\"card section\">"));
    page.add(2, element("h2", QStringLiteral("Suggested Next Test")));
    page.add(2, element("p", htmlEscaped(report.suggestedNextTest)));
    page.add(2, element("p", QStringLiteral("Last Wi-Fi snapshot: ") + htmlEscaped(optionalDateText(s.lastWiFiTimestamp)), "muted"));
    page.add(2, element("p", QStringLiteral("Public reachability uptime: ") + htmlEscaped(percentText(s.uptimeRatio)), "muted"));
    page.add(1, QStringLiteral("</section>"));
    page.blank();

    tableSection<NodeSummary>(page, "Observed Wi-Fi Nodes",
                              {QStringLiteral("Node"), QStringLiteral("Snapshots"), QStringLiteral("First Seen"),
                               QStringLiteral("Last Seen"), QStringLiteral("Avg RSSI"), QStringLiteral("Min RSSI"),
                               QStringLiteral("Max RSSI"), QStringLiteral("Avg Tx Rate")},
                              report.nodeSummaries, nodeTableRow, "No Wi-Fi node data for this period.");
    page.blank();
    tableSection<Incident>(page, "Incidents",
                           {QStringLiteral("Start"), QStringLiteral("End"), QStringLiteral("Classification"),
                            QStringLiteral("Severity"), QStringLiteral("Confidence"), QStringLiteral("Evidence")},
                           report.incidents, incidentTableRow, "No incidents for this period.");
    page.blank();
    tableSection<ManualMarker>(page, "Markers", {QStringLiteral("Time"), QStringLiteral("Action"), QStringLiteral("Note")},
                               report.markers, markerTableRow, "No manual markers for this day.");
    page.blank();
    const size_t skipped = report.events.size() > kShownEvents ? report.events.size() - kShownEvents : 0;
    const std::vector<DiagnosticEvent> recent(report.events.begin() + static_cast<std::ptrdiff_t>(skipped),
                                              report.events.end());
    tableSection<DiagnosticEvent>(page, "Recent Monitoring Events",
                                  {QStringLiteral("Time"), QStringLiteral("Kind"), QStringLiteral("Details")}, recent,
                                  eventTableRow, "No events for this day.");
    page.add(0, QStringLiteral("</body>"));
    page.add(0, QStringLiteral("</html>"));
    return page.text();
}

} // namespace pv::reports
