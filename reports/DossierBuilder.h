#pragma once
// Assembles a dossier document from the evidence store: reads the period's samples, incidents,
// Wi-Fi snapshots and roll-ups on the store's thread, then computes every figure in memory.
//
// Two medians are in use on purpose. The period's medians and 95th percentile take the element at
// floor(q × (n − 1)) of the sorted values (the lower middle); the timeline, the hourly profile and
// the access points take the element at n / 2 (the upper middle).

#include "core/records/Records.h"
#include "core/records/Runtime.h"
#include "core/store/Retention.h"
#include "reports/DossierModel.h"

#include <QString>

#include <optional>
#include <set>
#include <utility>
#include <vector>

namespace pv {

class SQLiteStore;
namespace store {
class StoreDatabase;
}

struct DossierBuilder {
    // Slices of the timeline.
    static constexpr int timelineSlices = 120;
    // Two measurements further apart than this leave a gap between them.
    static constexpr double gapThresholdSeconds = 300;
    // RSSI at or below this is a weak reading.
    static constexpr int weakRssi = -67;

    // Builds the document as one job on the store's thread; the caller's thread only waits.
    // Throws what the store throws; writes nothing.
    static rt::awaitable<DossierDocument> makeDocument(DossierRequest request, Timestamp generatedAt, SQLiteStore& store,
                                                       QString appVersion);
    // The same on the store's thread, with its connection.
    static DossierDocument makeDocument(const DossierRequest& request, Timestamp generatedAt,
                                        store::StoreDatabase& database, const QString& appVersion);
    // The document from rows already read (what the job does after its reads).
    static DossierDocument assemble(const DossierRequest& request, Timestamp generatedAt, const QString& appVersion,
                                    const std::vector<NetworkSample>& samples, const std::vector<Incident>& incidents,
                                    const std::vector<WifiSnapshot>& wifi, const std::vector<SampleRollup>& rollups);

    // The roll-up width read for a period: minute buckets up to 7 days, hour buckets beyond.
    static double rollupBucketSeconds(double period);

    // The steps.
    static std::vector<DossierTimelinePoint> timeline(const std::vector<NetworkSample>& samples,
                                                      const std::vector<SampleRollup>& rollups,
                                                      const DossierRequest& request);
    // A roll-up bucket covers its whole width, so a period known only from roll-ups has no gaps
    // between its buckets.
    static std::vector<MeasurementGap> gaps(const std::vector<NetworkSample>& samples,
                                            const std::vector<SampleRollup>& rollups, const DossierRequest& request);
    // Offline or critical incidents, ascending by start.
    static std::vector<OutageRecord> outages(const std::vector<Incident>& incidents);
    // Where an outage lay: the location whose incident classification matches, the Wi-Fi link for
    // a reassociation or roam, otherwise offline.
    static FaultLocation outageLocation(IncidentClassification classification);
    static std::vector<HourlyProfileEntry> hourlyProfile(const std::vector<const NetworkSample*>& providerSamples,
                                                         const std::vector<SampleRollup>& rollups);
    static std::vector<AccessPointBreakdown> accessPoints(const std::vector<WifiSnapshot>& wifi, bool anonymise);
    // Groups keyed by BSSID, else SSID, else "ismeretlen", most snapshots first; equal groups keep
    // the order of their first snapshot.
    using AccessPointGroup = std::pair<QString, std::vector<const WifiSnapshot*>>;
    static std::vector<AccessPointGroup> groupByAccessPoint(const std::vector<WifiSnapshot>& wifi);
    static AccessPointBreakdown breakdown(int position, const AccessPointGroup& group, bool anonymise);
    static WiredWiFiComparison wiredComparison(const std::vector<const NetworkSample*>& providerSamples,
                                               const std::vector<WifiSnapshot>& wifi);
    static std::set<QString> interfaceNames(const std::vector<WifiSnapshot>& wifi);

    // Successful latencies at index floor(q × (n − 1)) of the sorted values; absent without any.
    static std::optional<double> percentile(double q, const std::vector<const NetworkSample*>& samples);
    // The mean packet loss when every sample carries one, otherwise the failed share; samples must
    // not be empty.
    static double lossRatio(const std::vector<const NetworkSample*>& samples);
    // The element at n / 2 of the sorted values; absent for none.
    static std::optional<double> upperMedian(std::vector<double> values);

    // A sample with a success flag and a latency.
    static bool isSuccessful(const NetworkSample& sample)
    {
        return sample.success && sample.latencyMilliseconds.has_value();
    }
};

} // namespace pv
