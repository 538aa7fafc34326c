#pragma once
// The overview dashboard: a scrolling column, at most 1160 wide and centred, of the banners, the
// verdict hero, the fault location, the advice and the figure, chart and list sections. It repaints from the model's feed, once per
// event-loop turn, and offers its toolbar actions (pause/resume and the export menu) to the
// workspace.

#include "ui/main/DashboardSections.h"
#include "ui/main/MainLogic.h"
#include "ui/main/OverviewSections.h"

#include <QDialog>
#include <QPointer>
#include <QScrollArea>
#include <QToolButton>

class QAction;
class QToolButton;
class QMenu;

namespace pv {

class AppViewModel;
class OverviewFeed;

class PolvarineRootView : public QScrollArea {
    Q_OBJECT
public:
    static constexpr int kColumnMaxWidth = 1160;
    static constexpr int kColumnPadding = 24;
    static constexpr int kColumnSpacing = 32;

    explicit PolvarineRootView(AppViewModel& model, QWidget* parent = nullptr);

    // The toolbar controls, owned by the view: the pause/resume action and the export menu button.
    QAction* monitoringAction() const { return monitoringAction_; }
    QToolButton* exportButton() const { return exportButton_; }
    QMenu* exportMenu() const { return exportMenu_; }

    // The column and its sections (for tests of the frame).
    QWidget* column() const { return column_; }
    std::vector<DashboardSection> shownSections() const;
    PVVerdictHero* hero() const { return hero_; }
    StorageBanner* storageBanner() const { return storageBanner_; }
    StorageBanner* statusBanner() const { return statusBanner_; }
    UpdateBanner* updateBanner() const { return updateBanner_; }
    FaultLocationSection* faultLocation() const { return faultLocation_; }
    AdviceSection* adviceSection() const { return advice_; }
    UsageSection* usageSection() const { return usage_; }
    NowSection* nowSection() const { return now_; }
    SpeedSection* speedSection() const { return speed_; }
    LatencySection* latencySection() const { return latency_; }
    WifiSignalSection* wifiSection() const { return wifi_; }
    IncidentSection* incidentSection() const { return incidents_; }
    RawDataSection* rawDataSection() const { return rawData_; }
    // Whether the load-test sheet is up.
    bool showsLoadTest() const { return loadTestSheet_ != nullptr; }
    QDialog* loadTestSheet() const { return loadTestSheet_; }
    int refreshCount() const { return refreshCount_; }

public Q_SLOTS:
    void refresh();
    // Opens the load-test sheet; nothing while it is already open.
    void requestLoadTest();

protected:
    void showEvent(QShowEvent* event) override;

private:
    AppViewModel& model_;
    OverviewFeed& feed_;
    QWidget* column_;
    StorageBanner* storageBanner_;
    StorageBanner* statusBanner_;
    UpdateBanner* updateBanner_;
    PVVerdictHero* hero_;
    FaultLocationSection* faultLocation_;
    AdviceSection* advice_;
    UsageSection* usage_;
    NowSection* now_;
    SpeedSection* speed_;
    LatencySection* latency_;
    WifiSignalSection* wifi_;
    IncidentSection* incidents_;
    RawDataSection* rawData_;
    QPointer<QDialog> loadTestSheet_;
    QAction* monitoringAction_;
    QPointer<QToolButton> exportButton_; // adopted (and in the end deleted) by the window's toolbar
    QMenu* exportMenu_;
    int refreshCount_ = 0;
    bool stale_ = false;                // a refresh was skipped while the window was put away
    bool awaitsExportOutcome_ = false;  // an export started from this view has not reported yet
    bool revealsStatusBanner_ = false;  // the next refresh scrolls the status banner into view
};

} // namespace pv
