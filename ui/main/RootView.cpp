#include "ui/main/RootView.h"

#include "ui/design/Controls.h"
#include "ui/main/MainLogic.h"
#include "ui/main/ModelActions.h"
#include "ui/main/OverviewFeed.h"
#include "ui/main/OverviewStatus.h"

#include "core/app/AppViewModel.h"
#include "core/records/Localization.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <algorithm>
#include <QHBoxLayout>
#include <QMenu>
#include <QToolButton>
#include <QVBoxLayout>

namespace pv {

PolvarineRootView::PolvarineRootView(AppViewModel& model, QWidget* parent)
    : QScrollArea(parent)
    , model_(model)
    , feed_(OverviewFeed::of(model))
{
    const PVCentredPage page = pvMakeCentredPage(this, kColumnMaxWidth);
    auto* canvas = page.canvas;
    column_ = page.column;

    auto* stack = new QVBoxLayout(column_);
    stack->setContentsMargins(kColumnPadding, kColumnPadding, kColumnPadding, kColumnPadding);
    stack->setSpacing(kColumnSpacing);
    storageBanner_ = new StorageBanner(column_);
    statusBanner_ = new StorageBanner(column_, PVStatus::watch);
    statusBanner_->setObjectName(QStringLiteral("statusBanner"));
    connect(statusBanner_, &StorageBanner::actionTriggered, this, [this] {
        awaitsExportOutcome_ = true; // a folder that cannot be opened is said on the banner
        actions::revealLatestExport(model_);
    });
    updateBanner_ = new UpdateBanner(column_);
    hero_ = new PVVerdictHero(PVStatus::neutral, QString(), QString(), false, QString(), column_);
    faultLocation_ = new FaultLocationSection(column_);
    advice_ = new AdviceSection(column_);
    usage_ = new UsageSection(column_);
    now_ = new NowSection(column_);
    speed_ = new SpeedSection(column_);
    latency_ = new LatencySection(column_);
    wifi_ = new WifiSignalSection(column_);
    incidents_ = new IncidentSection(column_);
    rawData_ = new RawDataSection(column_); // starts collapsed each time the dashboard is made
    for (QWidget* section : std::initializer_list<QWidget*>{storageBanner_, statusBanner_, updateBanner_, hero_, faultLocation_,
                                                             advice_, usage_, now_, speed_, latency_, wifi_,
                                                             incidents_, rawData_})
        stack->addWidget(section);
    connect(speed_, &SpeedSection::loadTestRequested, this, &PolvarineRootView::requestLoadTest);
    stack->addStretch(1);
    setWidget(canvas);

    // Toolbar controls.
    monitoringAction_ = new QAction(this);
    connect(monitoringAction_, &QAction::triggered, this, [this] { actions::toggleMonitoring(model_); });
    exportMenu_ = new QMenu(this);
    for (ExportScope scope : allExportScopes()) {
        QAction* item = exportMenu_->addAction(actionTitle(scope));
        connect(item, &QAction::triggered, this, [this, scope] {
            awaitsExportOutcome_ = true;
            actions::startExport(model_, scope);
        });
    }
    exportButton_ = new QToolButton(this);
    exportButton_->setText(L("Exportálás"));
    exportButton_->setMenu(exportMenu_);
    exportButton_->setPopupMode(QToolButton::InstantPopup);
    exportButton_->hide(); // shown by the toolbar that adopts it

    // The outcome of an export started here appears on the status banner at the top of the column:
    // the next refresh brings it into view, however far down the overview is scrolled.
    connect(&model_, &AppViewModel::exportStatusMessageChanged, this, [this] {
        if (awaitsExportOutcome_ && model_.exportStatusMessage()) {
            awaitsExportOutcome_ = false;
            revealsStatusBanner_ = true;
        }
    });
    connect(&feed_, &OverviewFeed::changed, this, &PolvarineRootView::refresh);
    connect(&model_, &AppViewModel::latestLoadTestChanged, this, &PolvarineRootView::refresh);
    refresh();
}

std::vector<DashboardSection> PolvarineRootView::shownSections() const
{
    std::vector<DashboardSection> shown;
    const std::pair<QWidget*, DashboardSection> built[] = {
        {storageBanner_, DashboardSection::storageBanner}, {statusBanner_, DashboardSection::statusBanner},
        {updateBanner_, DashboardSection::updateBanner},
        {hero_, DashboardSection::hero}, {faultLocation_, DashboardSection::faultLocation},
        {advice_, DashboardSection::advice}, {usage_, DashboardSection::usage}, {now_, DashboardSection::now},
        {speed_, DashboardSection::speed}, {latency_, DashboardSection::latency},
        {wifi_, DashboardSection::wifiSignal}, {incidents_, DashboardSection::incidents},
        {rawData_, DashboardSection::rawData}};
    for (const auto& [widget, section] : built)
        if (!widget->isHidden())
            shown.push_back(section);
    return shown;
}

void PolvarineRootView::showEvent(QShowEvent* event)
{
    if (stale_)
        refresh();
    QScrollArea::showEvent(event);
}

void PolvarineRootView::refresh()
{
    // A window put away in the tray is not laid out at every batch: it catches up when shown again.
    if (const QWidget* w = window(); w->isHidden() && w->testAttribute(Qt::WA_WState_ExplicitShowHide)) {
        stale_ = true;
        return;
    }
    stale_ = false;
    ++refreshCount_;
    const auto held = feed_.snapshot();
    const OverviewSnapshot& s = *held;
    const Timestamp now = feed_.now();
    const auto sections = visibleSections(s);
    auto shows = [&](DashboardSection d) { return std::find(sections.begin(), sections.end(), d) != sections.end(); };

    // A hidden widget takes no room and no spacing in the column.
    if (s.storageBannerMessage)
        storageBanner_->setMessage(*s.storageBannerMessage);
    storageBanner_->setVisible(shows(DashboardSection::storageBanner));
    if (s.statusMessage)
        statusBanner_->setMessage(*s.statusMessage);
    statusBanner_->setLevel(statusLineLevel(s));
    statusBanner_->setAction(statusOffersExportFolder(s) ? L("Mappa megnyitása") : QString());
    // A banner that goes while it has the focus leaves it with the page, where the user is, rather
    // than to a control further down that the page would scroll to.
    if (!shows(DashboardSection::statusBanner)
        && (statusBanner_->hasFocus() || statusBanner_->isAncestorOf(QApplication::focusWidget())))
        setFocus(movedFocusReason(this));
    statusBanner_->setVisible(shows(DashboardSection::statusBanner));
    if (revealsStatusBanner_ && !statusBanner_->isHidden()) {
        revealsStatusBanner_ = false;
        column_->layout()->activate(); // the banner's place, now that it is shown
        ensureWidgetVisible(statusBanner_, 0, kColumnPadding);
    }
    if (s.availableUpdate)
        updateBanner_->setUpdate(*s.availableUpdate);
    updateBanner_->setVisible(shows(DashboardSection::updateBanner));
    hero_->setState(overviewStatusLevel(s), liveStatusLine(s), statusExplanation(s), s.isMonitoring,
                    measurementFreshnessLabel(s, now));
    faultLocation_->setSnapshot(s, now);
    advice_->setAdvice(s.advice);
    advice_->setVisible(shows(DashboardSection::advice));
    usage_->setVerdict(s.verdict);
    now_->setSnapshot(s, now);
    // The sheet needs the load-test screen and the model's hand-offs around a run.
    speed_->setLoadTestAvailable(screens::hasLoadTestScreen() && actions::canHandOffLoadTest(model_));
    speed_->setLatestLoadTest(model_.latestLoadTest());
    latency_->setIpv6Batches(s.ipv6Batches);
    latency_->setBatches(s.recentBatches);
    latency_->setGaps(routeGapsCaption(routeChartGaps(s.recentBatches, s.measuringEvents), now));
    wifi_->setReadings(s.wifiSnapshots, s.distinctNodeHistory);
    incidents_->setIncidents(s.incidents, now);
    rawData_->setAssessment(s.qualityAssessment);

    monitoringAction_->setText(monitoringActionTitle(s.isMonitoring));
    monitoringAction_->setEnabled(actions::canToggleMonitoring(model_));
    const bool canExport = actions::canExport(model_);
    for (QAction* item : exportMenu_->actions())
        item->setEnabled(canExport);
    exportButton_->setEnabled(canExport);
}

void PolvarineRootView::requestLoadTest()
{
    if (loadTestSheet_ != nullptr)
        return;
    QWidget* screen = screens::makeLoadTestScreen(model_);
    if (screen == nullptr)
        return;
    auto* sheet = new QDialog(this);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    sheet->setWindowModality(Qt::WindowModal);
    auto* layout = new QVBoxLayout(sheet);
    layout->setContentsMargins(0, 0, 0, 0);
    screen->setParent(sheet);
    layout->addWidget(screen);
    loadTestSheet_ = sheet;
    sheet->open();
}

} // namespace pv
