#pragma once
// Display-free rules of the main window, the overview frame and the menu-bar panel: the workspace
// sections and the restore of the last one, which overview sections are present, the banners, the
// fault-location and advice conditions, and the panel's status level, title and metrics.

#include "ui/main/OverviewSnapshot.h"

#include "core/records/Enum.h"
#include "core/records/Status.h"

#include <QString>

#include <optional>
#include <string_view>
#include <vector>

namespace pv {

// ---- Workspace sections -------------------------------------------------------------------------

enum class WorkspaceSection { overview, history, loadTest, dossier, settings };
inline constexpr EnumTable<WorkspaceSection, 5> kWorkspaceSectionTable{{{
    {WorkspaceSection::overview, "overview"},
    {WorkspaceSection::history, "history"},
    {WorkspaceSection::loadTest, "loadTest"},
    {WorkspaceSection::dossier, "dossier"},
    {WorkspaceSection::settings, "settings"},
}}};
inline QString rawValue(WorkspaceSection s) { return kWorkspaceSectionTable.rawText(s); }
// Exact, case-sensitive match of a raw value; none for any other text.
std::optional<WorkspaceSection> parseWorkspaceSection(const QString& raw);
inline auto allWorkspaceSections() { return kWorkspaceSectionTable.allCases(); }
QString title(WorkspaceSection s);
QString subtitle(WorkspaceSection s);
std::string_view symbolName(WorkspaceSection s);

// The section shown after a launch: the stored one when it names a section, else `current`.
WorkspaceSection restoreSection(const QString& storedRaw, WorkspaceSection current = WorkspaceSection::overview);

QString recordingButtonTitle(bool isMonitoring);    // sidebar status row
QString monitoringActionTitle(bool isMonitoring);   // dashboard toolbar and menu-bar panel

// ---- Overview sections --------------------------------------------------------------------------

enum class DashboardSection {
    storageBanner,
    statusBanner,
    updateBanner,
    hero,
    faultLocation,
    advice,
    usage,
    now,
    speed,
    latency,
    wifiSignal,
    incidents,
    rawData,
};

bool showsStorageBanner(const OverviewSnapshot& s);
bool showsUpdateBanner(const OverviewSnapshot& s);
bool showsStatusBanner(const OverviewSnapshot& s);
// The status line's tone: a confirmation is `good`, anything else a `watch` warning.
PVStatus statusLineLevel(const OverviewSnapshot& s);
// The confirmation of an export offers to open its folder.
bool statusOffersExportFolder(const OverviewSnapshot& s);
// The sidebar's recording row: what it says and whether it may show the "all is well" tint.
QString recordingStatusLabel(const OverviewSnapshot& s);
QString updateTitle(const QString& version);
// The advice is shown only for a located fault that has steps.
bool adviceVisible(FaultLocation location, const AdviceSet& advice);
// True when any incident is still open.
bool isIncidentLive(const std::vector<Incident>& incidents);
// The overview's sections in column order, absent ones left out.
std::vector<DashboardSection> visibleSections(const OverviewSnapshot& s);

// ---- Menu-bar panel -----------------------------------------------------------------------------

namespace PolvarineWindowID {
inline constexpr const char* main = "main";
}

// The panel's own level rule: it never reports `serious`.
PVStatus panelStatusLevel(const OverviewSnapshot& s);
QString panelStatusTitle(const OverviewSnapshot& s);
// The second header line.
QString panelFreshnessLine(const OverviewSnapshot& s, Timestamp now);
// The header as read out: the title and the model's own freshness text.
QString panelHeaderAccessibleLabel(const OverviewSnapshot& s, Timestamp now);
// The advice group (and its divider) is left out while the evidence is too thin.
bool panelShowsAdviceGroup(const OverviewSnapshot& s);
std::optional<QString> panelEvidenceLine(const OverviewSnapshot& s);
std::optional<QString> panelAdviceStep(const OverviewSnapshot& s);

// The router leg's median latency over the stretch the provider's figures cover: the upper middle
// value for an even count.
std::optional<double> routerMedianLatency(const OverviewSnapshot& s, Timestamp now);

struct PanelMetric {
    QString label;
    std::optional<double> value;
    int decimals = 0;
    QString unit;
};
// The provider's median latency and lost echoes, and the router's median beside them, over the
// stretch the provider's card judges.
std::vector<PanelMetric> panelMetrics(const OverviewSnapshot& s, Timestamp now);
// The stretch the three figures cover, shown under them.
QString panelMetricsCaption(const OverviewSnapshot& s, Timestamp now);
// "—" when absent, else the number with the metric's decimals and a point; a whole-millisecond
// figure under 1 ms reads "<1" (and "kevesebb mint 1 ms" when read out).
QString metricValueText(const PanelMetric& m);
QString metricAccessibleLabel(const PanelMetric& m);

// ---- Tray icon ----------------------------------------------------------------------------------

// What the tray icon shows: the overview's headline level, raised to a warning while a banner
// warns (measurements that cannot be made or saved), with the status symbol of that level. An
// outage shows the Wi-Fi symbol only on a machine measured over Wi-Fi.
struct TrayLook {
    PVStatus level = PVStatus::neutral;
    std::string_view symbolName;
    bool operator==(const TrayLook&) const = default;
};
TrayLook trayLook(const OverviewSnapshot& s);
// The tray's tooltip text after the program's name: the panel's title, and a warning banner's message.
QString trayStatusText(const OverviewSnapshot& s);

} // namespace pv
