#include "ui/main/OverviewSnapshot.h"

#include "core/app/AppViewModel.h"
#include "core/app/Presentation.h"
#include "ui/main/Ipv6Lines.h"

namespace pv {

const WifiSnapshot* OverviewSnapshot::currentWifiSnapshot() const
{
    if (wifiSnapshots.empty())
        return nullptr;
    const WifiSnapshot& newest = wifiSnapshots.back();
    if (takenAt && newest.timestamp < *takenAt - AppViewModel::liveWindow)
        return nullptr;
    return &newest;
}

std::vector<WifiSnapshot> OverviewSnapshot::liveWifiSnapshots() const
{
    std::vector<WifiSnapshot> live;
    for (const WifiSnapshot& w : wifiSnapshots)
        if (!takenAt || w.timestamp >= *takenAt - AppViewModel::liveWindow)
            live.push_back(w);
    return live;
}

OverviewSnapshot snapshotOf(const AppViewModel& model)
{
    OverviewSnapshot s;
    s.isMonitoring = model.isMonitoring();
    s.liveStatus = model.liveStatus();
    s.attribution = model.attribution();
    s.attributionWindowSeconds = model.attributionWindowSeconds();
    s.endedFault = model.endedFault();
    s.evidenceLead = model.evidenceLead();
    s.advice = model.advice();
    s.verdict = model.verdict();
    s.recentBatches = model.analysedBatches();
    s.ipv6Path = model.ipv6Path();
    s.ipv6Batches = ipv6_lines::ipv6Batches(model.recentBatches(), model.analysedFamily());
    s.wifiSnapshots = model.wifiSnapshots();
    s.incidents = model.incidents();
    for (const DiagnosticEvent& e : model.events())
        if (e.kind == DiagnosticEventKind::monitoringStopped || e.kind == DiagnosticEventKind::sleep)
            s.measuringEvents.push_back(e);
    s.distinctNodeHistory = presentation::distinctNodeHistory(model.wifiSnapshots());
    s.qualityAssessment = model.qualityAssessment();
    s.lastProbeBatchTimestamp = model.lastProbeBatchTimestamp();
    s.storageBannerMessage = model.storageHealth().bannerMessage();
    s.availableUpdate = model.availableUpdate();
    s.statusMessage = model.exportStatusMessage();
    s.statusIsConfirmation = model.isStatusConfirmation();
    // Measured but not kept: the batches fail to be written, or the store lives in memory only.
    s.isRecordingFailing = model.isRecordingFailing() || model.storageHealth().isNotPersisting();
    s.hasExportResult = model.lastExportResult().has_value();
    return s;
}

} // namespace pv
