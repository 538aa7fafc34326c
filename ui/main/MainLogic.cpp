#include "ui/main/MainLogic.h"

#include "core/app/Presentation.h"
#include "core/records/Localization.h"
#include "ui/main/OverviewStatus.h"

#include <algorithm>

namespace pv {

std::optional<WorkspaceSection> parseWorkspaceSection(const QString& raw)
{
    for (WorkspaceSection s : allWorkspaceSections())
        if (rawValue(s) == raw) // QString equality is case-sensitive
            return s;
    return std::nullopt;
}

QString title(WorkspaceSection s)
{
    switch (s) {
    case WorkspaceSection::overview: return L("Áttekintés");
    case WorkspaceSection::history: return L("Előzmények");
    case WorkspaceSection::loadTest: return L("Sebesség");
    case WorkspaceSection::dossier: return L("Mérési dosszié");
    case WorkspaceSection::settings: return L("Beállítások");
    }
    return {};
}

QString subtitle(WorkspaceSection s)
{
    switch (s) {
    case WorkspaceSection::overview: return L("Mi a helyzet most");
    case WorkspaceSection::history: return L("Mi történt eddig");
    case WorkspaceSection::loadTest: return L("Mire képes a vonal");
    case WorkspaceSection::dossier: return L("Amit elküldhetsz");
    case WorkspaceSection::settings: return L("Futás, megőrzés, engedélyek");
    }
    return {};
}

std::string_view symbolName(WorkspaceSection s)
{
    switch (s) {
    case WorkspaceSection::overview: return "gauge.with.dots.needle.50percent";
    case WorkspaceSection::history: return "clock.arrow.circlepath";
    case WorkspaceSection::loadTest: return "speedometer";
    case WorkspaceSection::dossier: return "doc.text.magnifyingglass";
    case WorkspaceSection::settings: return "gearshape";
    }
    return "gearshape";
}

WorkspaceSection restoreSection(const QString& storedRaw, WorkspaceSection current)
{
    return parseWorkspaceSection(storedRaw).value_or(current);
}

QString recordingButtonTitle(bool isMonitoring) { return isMonitoring ? L("Szüneteltetés") : L("Folytatás"); }

QString monitoringActionTitle(bool isMonitoring)
{
    return isMonitoring ? L("Mérés szüneteltetése") : L("Mérés folytatása");
}

// ---- Overview ----------------------------------------------------------------------------------------

bool showsStorageBanner(const OverviewSnapshot& s) { return s.storageBannerMessage.has_value(); }
bool showsUpdateBanner(const OverviewSnapshot& s) { return s.availableUpdate.has_value(); }
bool showsStatusBanner(const OverviewSnapshot& s) { return s.statusMessage && !s.statusMessage->isEmpty(); }
PVStatus statusLineLevel(const OverviewSnapshot& s)
{
    return s.statusIsConfirmation ? PVStatus::good : PVStatus::watch;
}
bool statusOffersExportFolder(const OverviewSnapshot& s)
{
    return showsStatusBanner(s) && s.statusIsConfirmation && s.hasExportResult;
}

QString recordingStatusLabel(const OverviewSnapshot& s)
{
    return s.isRecordingFailing ? L("Mentés hibás") : L("Rögzítés fut");
}
QString updateTitle(const QString& version) { return LF("Elérhető a %@ verzió", {version}); }

bool adviceVisible(FaultLocation location, const AdviceSet& advice)
{
    return !advice.steps.empty() && location != FaultLocation::none && location != FaultLocation::insufficientEvidence;
}

bool isIncidentLive(const std::vector<Incident>& incidents)
{
    // The IPv6 path's own faults have their line under the chain; they do not make the chain live.
    return std::any_of(incidents.begin(), incidents.end(),
                       [](const Incident& i) { return i.isOpen() && !isIpv6Classification(i.classification); });
}

std::vector<DashboardSection> visibleSections(const OverviewSnapshot& s)
{
    std::vector<DashboardSection> sections;
    if (showsStorageBanner(s))
        sections.push_back(DashboardSection::storageBanner);
    if (showsStatusBanner(s))
        sections.push_back(DashboardSection::statusBanner);
    if (showsUpdateBanner(s))
        sections.push_back(DashboardSection::updateBanner);
    sections.push_back(DashboardSection::hero);
    sections.push_back(DashboardSection::faultLocation);
    if (adviceVisible(s.attribution.location, s.advice))
        sections.push_back(DashboardSection::advice);
    for (DashboardSection always : {DashboardSection::usage, DashboardSection::now, DashboardSection::speed,
                                    DashboardSection::latency, DashboardSection::wifiSignal,
                                    DashboardSection::incidents, DashboardSection::rawData})
        sections.push_back(always);
    return sections;
}

// ---- Menu-bar panel ----------------------------------------------------------------------------------

PVStatus panelStatusLevel(const OverviewSnapshot& s)
{
    if (!s.isMonitoring)
        return PVStatus::neutral;
    switch (s.attribution.location) {
    // IPv6 broken beside a sound IPv4: no check mark beside the title that says so.
    case FaultLocation::none: return s.ipv6Path.isFault() ? PVStatus::watch : PVStatus::good;
    case FaultLocation::offline: return PVStatus::critical;
    case FaultLocation::insufficientEvidence: return PVStatus::neutral;
    case FaultLocation::wifi:
    case FaultLocation::router:
    case FaultLocation::provider:
    case FaultLocation::dns:
    case FaultLocation::localUnseparated: break;
    }
    return s.attribution.severity == IncidentSeverity::critical ? PVStatus::critical : PVStatus::watch;
}

QString panelStatusTitle(const OverviewSnapshot& s)
{
    if (!s.isMonitoring)
        return L("A mérés áll");
    if (s.ipv6Path.state == Ipv6PathState::ipv4Down)
        return ipv4FaultTitle();
    return s.attribution.location == FaultLocation::none && s.ipv6Path.isFault() ? ipv6FaultTitle()
                                                                                 : s.attribution.headline;
}

QString panelFreshnessLine(const OverviewSnapshot& s, Timestamp now)
{
    if (!s.isMonitoring)
        return L("A rögzítés szünetel");
    // Without a route no batch goes out, but every cycle checks the route: the verdict is current.
    if (s.attribution.location == FaultLocation::offline && s.attributionWindowSeconds <= 0)
        return L("Nincs útvonal — minden mérési kör újra ellenőrzi");
    return presentation::probeFreshnessSummary(s.isMonitoring, s.lastProbeBatchTimestamp, now);
}

QString panelHeaderAccessibleLabel(const OverviewSnapshot& s, Timestamp now)
{
    return LF("%1$@. %2$@", {panelStatusTitle(s), panelFreshnessLine(s, now)});
}

bool panelShowsAdviceGroup(const OverviewSnapshot& s)
{
    return s.attribution.location != FaultLocation::insufficientEvidence;
}

std::optional<QString> panelEvidenceLine(const OverviewSnapshot& s)
{
    if (s.attribution.evidence.isEmpty())
        return std::nullopt;
    return s.attribution.evidence.first();
}

std::optional<QString> panelAdviceStep(const OverviewSnapshot& s)
{
    const FaultLocation l = s.attribution.location;
    if (l == FaultLocation::none || l == FaultLocation::insufficientEvidence || s.advice.steps.empty())
        return std::nullopt;
    return s.advice.steps.front().text;
}

std::optional<double> routerMedianLatency(const OverviewSnapshot& s, Timestamp now)
{
    // The provider's stretch, so that the two figures compare; with nothing beyond the router
    // measured, the router's own.
    std::optional<LegStretch> stretch = legStretch(ProbeKind::publicIP, s, now);
    if (!stretch)
        stretch = legStretch(ProbeKind::gateway, s, now);
    if (!stretch)
        return std::nullopt;
    std::vector<double> latencies;
    for (const ProbeBatch& b : s.recentBatches)
        for (const NetworkSample& x : b.samples)
            if (x.target.kind == ProbeKind::gateway && x.success && x.latencyMilliseconds &&
                stretch->contains(x.timestamp, now))
                latencies.push_back(*x.latencyMilliseconds);
    if (latencies.empty())
        return std::nullopt;
    std::sort(latencies.begin(), latencies.end());
    return latencies[latencies.size() / 2];
}

std::vector<PanelMetric> panelMetrics(const OverviewSnapshot& s, Timestamp now)
{
    // The three figures are of one stretch, the one the provider's card judges.
    const std::optional<double> provider = medianLatency(ProbeKind::publicIP, s, now);
    // A router that answers has its figure, whether or not anything beyond it does.
    const std::optional<double> router = routerMedianLatency(s, now);
    const std::optional<double> loss = lostEchoRatio(ProbeKind::publicIP, s, now);
    return {
        {L("Router"), router, 0, QStringLiteral("ms")},
        {L("Szolgáltató"), provider, 0, QStringLiteral("ms")},
        {L("Veszteség"), loss ? std::optional<double>(*loss * 100.0) : std::nullopt, 1, QStringLiteral("%")},
    };
}

QString panelMetricsCaption(const OverviewSnapshot& s, Timestamp now)
{
    const std::optional<LegStretch> stretch = legStretch(ProbeKind::publicIP, s, now);
    if (!stretch)
        return L("Medián és veszteség: még nincs mérés");
    if (legSamples(ProbeKind::publicIP, s, now).empty())
        return LF("Nincs mérés %@", {stretch->label});
    return LF("Medián és veszteség %@", {stretch->label});
}

namespace {
// A latency in whole milliseconds: under 1 ms it must not read 0.
bool wholeMilliseconds(const PanelMetric& m) { return m.decimals == 0 && m.unit == QLatin1String("ms"); }
} // namespace

QString metricValueText(const PanelMetric& m)
{
    if (!m.value)
        return QStringLiteral("—");
    if (wholeMilliseconds(m))
        return wholeMillisecondsFigure(*m.value);
    return formatFixed(*m.value, m.decimals);
}

QString metricAccessibleLabel(const PanelMetric& m)
{
    if (!m.value)
        return LF("%@: nincs mérés", {m.label});
    if (wholeMilliseconds(m))
        return LF("%1$@: %2$@", {m.label, millisecondsText(*m.value)});
    return LF("%1$@: %2$@ %3$@", {m.label, metricValueText(m), m.unit});
}

// ---- Tray icon ----------------------------------------------------------------------------------

namespace {
// A banner that warns (not a confirmation), or a store that keeps nothing.
std::optional<QString> warningBanner(const OverviewSnapshot& s)
{
    if (showsStorageBanner(s))
        return s.storageBannerMessage;
    if (showsStatusBanner(s) && !s.statusIsConfirmation)
        return s.statusMessage;
    if (s.isRecordingFailing)
        return s.statusMessage.value_or(QString());
    return std::nullopt;
}
} // namespace

TrayLook trayLook(const OverviewSnapshot& s)
{
    if (!s.isMonitoring)
        return {PVStatus::neutral, statusSymbolName(PVStatus::neutral)};
    PVStatus level = overviewStatusLevel(s);
    if (warningBanner(s))
        level = worstStatus(level, PVStatus::watch);
    if (level == PVStatus::critical && s.liveStatus == LiveStatus::offline)
        return {level, s.currentWifiSnapshot() ? std::string_view("wifi.slash") : statusSymbolName(level)};
    if (level == PVStatus::watch && s.liveStatus == LiveStatus::reassociating)
        return {level, "arrow.triangle.2.circlepath.circle.fill"};
    // Still gathering the first evidence: no verdict yet, and not paused either.
    if (level == PVStatus::neutral)
        return {level, "info.circle"};
    return {level, statusSymbolName(level)};
}

QString trayStatusText(const OverviewSnapshot& s)
{
    const QString headline = panelStatusTitle(s);
    const std::optional<QString> banner = warningBanner(s);
    return banner && !banner->isEmpty() ? headline + QLatin1Char('\n') + *banner : headline;
}

} // namespace pv
