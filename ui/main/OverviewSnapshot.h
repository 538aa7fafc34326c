#pragma once
// The part of the application model that the overview, the sidebar and the menu-bar panel read,
// copied out in one go. The derived texts are pure functions of such a snapshot and the current
// time, so they can be checked without a window and are recomputed on every repaint.

#include "core/analysis/Advice.h"
#include "core/analysis/Attribution.h"
#include "core/analysis/Ipv6Path.h"
#include "core/analysis/Verdict.h"
#include "core/app/LivePicture.h"
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
    // The stretch of evidence the attribution was made from (seconds; 0 when it rests on none).
    double attributionWindowSeconds = 600;
    // A fault that has ended while the window still holds it (the attribution then names none).
    std::optional<live_picture::EndedFault> endedFault;
    QString evidenceLead; // names the stretch the evidence's figures were counted over
    AdviceSet advice;
    ConnectionVerdict verdict;
    std::vector<ProbeBatch> recentBatches;   // arrival order, newest last; the analysed family's samples
    // The IPv6 path beside the analysed one, and its samples on a dual-stack network (else none).
    Ipv6PathJudgement ipv6Path;
    std::vector<ProbeBatch> ipv6Batches;
    std::vector<WifiSnapshot> wifiSnapshots; // oldest first
    std::vector<Incident> incidents;         // oldest first
    // The pauses, sleeps and starts of the measuring, which explain the route chart's gaps.
    std::vector<DiagnosticEvent> measuringEvents;
    std::vector<NodeFingerprint> distinctNodeHistory; // each access point once, oldest first
    QualityAssessment qualityAssessment;
    std::optional<Timestamp> lastProbeBatchTimestamp;
    std::optional<QString> storageBannerMessage;
    // The model's one status line (storing, cleanup, platform problems...), shown while it is set.
    std::optional<QString> statusMessage;
    // The status line confirms finished work (an export) instead of warning.
    bool statusIsConfirmation = false;
    bool isRecordingFailing = false; // batches are measured but cannot be stored (or only in memory)
    std::optional<AvailableUpdate> availableUpdate;
    bool hasExportResult = false;

    // When the snapshot was taken (the feed's clock); absent in snapshots built by hand.
    std::optional<Timestamp> takenAt;

    // The newest Wi-Fi reading; none before the first, and none when it is older than the live
    // window at takenAt (a machine now on a cable, or a reading from before a pause).
    const WifiSnapshot* currentWifiSnapshot() const;
    // The readings of the live window at takenAt (all of them without takenAt), oldest first.
    std::vector<WifiSnapshot> liveWifiSnapshots() const;
};

OverviewSnapshot snapshotOf(const AppViewModel& model);

} // namespace pv
