#include "ui/main/OverviewSnapshot.h"

#include "core/app/AppViewModel.h"
#include "core/app/Presentation.h"

namespace pv {

OverviewSnapshot snapshotOf(const AppViewModel& model)
{
    OverviewSnapshot s;
    s.isMonitoring = model.isMonitoring();
    s.liveStatus = model.liveStatus();
    s.attribution = model.attribution();
    s.advice = model.advice();
    s.verdict = model.verdict();
    s.recentBatches = model.recentBatches();
    s.wifiSnapshots = model.wifiSnapshots();
    s.incidents = model.incidents();
    s.distinctNodeHistory = presentation::distinctNodeHistory(model.wifiSnapshots());
    s.qualityAssessment = model.qualityAssessment();
    s.lastProbeBatchTimestamp = model.lastProbeBatchTimestamp();
    s.storageBannerMessage = model.storageHealth().bannerMessage();
    s.availableUpdate = model.availableUpdate();
    s.statusMessage = model.exportStatusMessage();
    s.statusIsConfirmation = model.isStatusConfirmation();
    s.isRecordingFailing = model.isRecordingFailing();
    s.hasExportResult = model.lastExportResult().has_value();
    return s;
}

} // namespace pv
