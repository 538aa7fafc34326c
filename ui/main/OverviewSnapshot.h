#pragma once
// The part of the application model that the overview, the sidebar and the menu-bar panel read,
// copied out in one go. The derived texts are pure functions of such a snapshot and the current
// time, so they can be checked without a window and are recomputed on every repaint.

#include "core/analysis/Advice.h"
#include "core/analysis/Attribution.h"
#include "core/analysis/Verdict.h"
#include "core/app/UpdateChecker.h"
#include "core/records/Quality.h"
#include "core/records/Records.h"

#include <QString>

#include <optional>
#include <vector>

namespace pv {

class AppViewModel;

struct OverviewSnapshot {
    bool isMonitoring = false;
    LiveStatus liveStatus = LiveStatus::healthy;
    FaultAttribution attribution;
    AdviceSet advice;
    ConnectionVerdict verdict;
    std::vector<ProbeBatch> recentBatches;   // arrival order, newest last
    std::vector<WifiSnapshot> wifiSnapshots; // oldest first
    std::vector<Incident> incidents;         // oldest first
    std::vector<NodeFingerprint> distinctNodeHistory; // each access point once, oldest first
    QualityAssessment qualityAssessment;
    std::optional<Timestamp> lastProbeBatchTimestamp;
    std::optional<QString> storageBannerMessage;
    // The model's one status line (storing, cleanup, platform problems...), shown while it is set.
    std::optional<QString> statusMessage;
    // The status line confirms finished work (an export) instead of warning.
    bool statusIsConfirmation = false;
    bool isRecordingFailing = false; // batches are measured but cannot be stored
    std::optional<AvailableUpdate> availableUpdate;
    bool hasExportResult = false;

    // The newest Wi-Fi reading; none before the first.
    const WifiSnapshot* currentWifiSnapshot() const { return wifiSnapshots.empty() ? nullptr : &wifiSnapshots.back(); }
};

OverviewSnapshot snapshotOf(const AppViewModel& model);

} // namespace pv
