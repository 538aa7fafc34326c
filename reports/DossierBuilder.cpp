#include "reports/DossierBuilder.h"

#include "core/analysis/Attribution.h"
#include "core/analysis/AttributionThresholds.h"
#include "core/analysis/Verdict.h"
#include "core/records/RecordId.h"
#include "core/store/SQLiteStore.h"
#include "core/store/StoreDatabase.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <ctime>
#include <unordered_map>

namespace pv {

// ---------------------------------------------------------------------------------------------
// Reading the period

rt::awaitable<DossierDocument> DossierBuilder::makeDocument(DossierRequest request, Timestamp generatedAt,
                                                            SQLiteStore& store, QString appVersion)
{
    return store.runWithConnection(
        [request = std::move(request), generatedAt, appVersion = std::move(appVersion)](store::StoreDatabase& db) {
            return makeDocument(request, generatedAt, db, appVersion);
        });
}

DossierDocument DossierBuilder::makeDocument(const DossierRequest& request, Timestamp generatedAt,
                                             store::StoreDatabase& database, const QString& appVersion)
{
    // The connection's period reads, in this order: samples, incidents, Wi-Fi snapshots, roll-ups of
    // one width. Each statement is finalized when its read ends, also when it fails.
    const std::vector<NetworkSample> samples = database.samples(request.start, request.end);
    const std::vector<Incident> incidents = database.incidents(request.start, request.end);
    const std::vector<WifiSnapshot> wifi = database.wifiSnapshots(request.start, request.end);
    // The bucket that holds the period's start began before it: it is read too, so the measured
    // stretch it vouches for inside the period does not show as a gap. Every other figure counts
    // only the buckets that begin inside the period.
    const double width = rollupBucketSeconds(request.duration());
    std::vector<SampleRollup> rollups =
        database.rollups(width, std::floor(request.start / width) * width, request.end);
    std::vector<SampleRollup> leading;
    while (!rollups.empty() && rollups.front().bucketStart < request.start) {
        leading.push_back(rollups.front());
        rollups.erase(rollups.begin());
    }
    DossierDocument doc = assemble(request, generatedAt, appVersion, samples, incidents, wifi, rollups);
    if (!leading.empty()) {
        leading.insert(leading.end(), rollups.begin(), rollups.end());
        doc.gaps = gaps(samples, leading, request);
        doc.coverageRatio = coverageRatio(doc.gaps, request);
    }
    return doc;
}

double DossierBuilder::coverageRatio(const std::vector<MeasurementGap>& gaps, const DossierRequest& request)
{
    const double period = request.duration();
    double gapTime = 0;
    for (const MeasurementGap& gap : gaps)
        gapTime += gap.duration();
    return period > 0 ? std::max(0.0, period - gapTime) / period : 0.0;
}

double DossierBuilder::rollupBucketSeconds(double period) { return period <= 604800 ? 60 : 3600; }

DossierDocument DossierBuilder::assemble(const DossierRequest& request, Timestamp generatedAt, const QString& appVersion,
                                         const std::vector<NetworkSample>& samples,
                                         const std::vector<Incident>& incidents, const std::vector<WifiSnapshot>& wifi,
                                         const std::vector<SampleRollup>& rollups)
{
    DossierDocument doc;
    doc.timeline = timeline(samples, rollups, request);
    doc.gaps = gaps(samples, rollups, request);
    doc.coverageRatio = coverageRatio(doc.gaps, request);

    std::vector<const NetworkSample*> provider;
    std::vector<const NetworkSample*> router;
    for (const NetworkSample& s : samples) {
        if (s.target.kind == ProbeKind::publicIP)
            provider.push_back(&s);
        else if (s.target.kind == ProbeKind::gateway)
            router.push_back(&s);
    }

    doc.request = request;
    doc.generatedAt = generatedAt;
    doc.appVersion = appVersion;
    doc.verdict = VerdictEngine::assess(samples, generatedAt);
    // Read anew for every dossier, so an edited thresholds file counts from the next one.
    doc.attribution = AttributionEngine(AttributionThresholds::loadBundled()).attribute(samples, wifi, generatedAt);
    doc.sampleCount = static_cast<long long>(samples.size());
    for (const SampleRollup& r : rollups)
        doc.sampleCount += r.sampleCount;
    doc.containsAggregatedPeriods =
        std::any_of(doc.timeline.begin(), doc.timeline.end(), [](const DossierTimelinePoint& p) { return p.isAggregated; });
    doc.outages = outages(incidents);
    doc.hourlyProfile = hourlyProfile(provider, rollups);
    doc.accessPoints = accessPoints(wifi, request.anonymiseNetworkNames);
    doc.wiredComparison = wiredComparison(provider, wifi);
    doc.medianRouterMs = percentile(0.5, router);
    doc.medianProviderMs = percentile(0.5, provider);
    doc.p95ProviderMs = percentile(0.95, provider);
    if (!provider.empty())
        doc.lossRatio = lossRatio(provider);
    return doc;
}

// ---------------------------------------------------------------------------------------------
// Figures

std::optional<double> DossierBuilder::upperMedian(std::vector<double> values)
{
    if (values.empty())
        return std::nullopt;
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

std::optional<double> DossierBuilder::percentile(double q, const std::vector<const NetworkSample*>& samples)
{
    std::vector<double> values;
    values.reserve(samples.size());
    for (const NetworkSample* s : samples)
        if (isSuccessful(*s))
            values.push_back(*s->latencyMilliseconds);
    if (values.empty())
        return std::nullopt;
    const auto last = static_cast<long long>(values.size()) - 1;
    const long long index = std::clamp(static_cast<long long>(q * static_cast<double>(last)), 0LL, last);
    const auto at = values.begin() + static_cast<std::ptrdiff_t>(index);
    std::nth_element(values.begin(), at, values.end());
    return *at;
}

double DossierBuilder::lossRatio(const std::vector<const NetworkSample*>& samples)
{
    if (samples.empty())
        return 0;
    double lossSum = 0;
    long long failed = 0;
    bool everyLoss = true;
    for (const NetworkSample* s : samples) {
        if (s->packetLoss)
            lossSum += *s->packetLoss;
        else
            everyLoss = false;
        if (!s->success)
            ++failed;
    }
    const auto n = static_cast<double>(samples.size());
    return everyLoss ? lossSum / n : static_cast<double>(failed) / n;
}

namespace {

struct SliceValues {
    std::vector<double> router;
    std::vector<double> provider;
    long long providerCount = 0;
    long long providerFailures = 0;

    bool hasRawData() const { return providerCount >= 1 || !router.empty(); }
    bool hasRollupData() const { return providerCount > 0 || !router.empty(); }
};

} // namespace

std::vector<DossierTimelinePoint> DossierBuilder::timeline(const std::vector<NetworkSample>& samples,
                                                           const std::vector<SampleRollup>& rollups,
                                                           const DossierRequest& request)
{
    const double period = request.duration();
    if (!(period > 0))
        return {};
    const double width = period / timelineSlices;
    auto sliceOf = [&](Timestamp t) -> int {
        const double offset = t - request.start;
        if (offset < 0 || offset > period)
            return -1;
        return std::min(static_cast<int>(std::floor(offset / width)), timelineSlices - 1);
    };

    std::array<SliceValues, timelineSlices> raw;
    std::array<SliceValues, timelineSlices> rolled;
    for (const NetworkSample& s : samples) {
        if (s.target.kind != ProbeKind::gateway && s.target.kind != ProbeKind::publicIP)
            continue;
        const int i = sliceOf(s.timestamp);
        if (i < 0)
            continue;
        SliceValues& slice = raw[static_cast<std::size_t>(i)];
        if (s.target.kind == ProbeKind::gateway) {
            if (isSuccessful(s))
                slice.router.push_back(*s.latencyMilliseconds);
        } else {
            ++slice.providerCount;
            if (isSuccessful(s))
                slice.provider.push_back(*s.latencyMilliseconds);
            else
                ++slice.providerFailures;
        }
    }
    for (const SampleRollup& r : rollups) {
        if (r.targetKind != ProbeKind::gateway && r.targetKind != ProbeKind::publicIP)
            continue;
        const int i = sliceOf(r.bucketStart);
        if (i < 0)
            continue;
        SliceValues& slice = rolled[static_cast<std::size_t>(i)];
        if (r.targetKind == ProbeKind::gateway) {
            if (r.p50Milliseconds)
                slice.router.push_back(*r.p50Milliseconds);
        } else {
            slice.providerCount += r.sampleCount;
            slice.providerFailures += r.sampleCount - r.successCount;
            if (r.p50Milliseconds)
                slice.provider.push_back(*r.p50Milliseconds);
        }
    }

    std::vector<DossierTimelinePoint> out;
    for (int i = 0; i < timelineSlices; ++i) {
        const auto index = static_cast<std::size_t>(i);
        const bool useRaw = raw[index].hasRawData();
        if (!useRaw && !rolled[index].hasRollupData())
            continue;
        SliceValues& source = useRaw ? raw[index] : rolled[index];
        DossierTimelinePoint point;
        point.time = request.start + width * i;
        point.routerMilliseconds = upperMedian(std::move(source.router));
        point.providerMilliseconds = upperMedian(std::move(source.provider));
        if (source.providerCount > 0)
            point.lossRatio = static_cast<double>(source.providerFailures) / static_cast<double>(source.providerCount);
        point.isAggregated = !useRaw;
        out.push_back(point);
    }
    return out;
}

std::vector<MeasurementGap> DossierBuilder::gaps(const std::vector<NetworkSample>& samples,
                                                 const std::vector<SampleRollup>& rollups,
                                                 const DossierRequest& request)
{
    // Each measurement as the stretch it vouches for: a sample its own instant, a roll-up bucket
    // its whole width (it summarises every sample of that width).
    struct Covered {
        Timestamp start;
        Timestamp end;
    };
    std::vector<Covered> covered;
    covered.reserve(samples.size() + rollups.size());
    for (const NetworkSample& s : samples)
        covered.push_back({s.timestamp, s.timestamp});
    const auto rollupsFrom = covered.end() - covered.begin();
    for (const SampleRollup& r : rollups)
        covered.push_back({r.bucketStart, r.bucketStart + std::max(0.0, r.bucketSeconds)});
    if (covered.empty())
        return {MeasurementGap{newRecordId(), request.start, request.end}};
    // Both reads come in time order, so merging the two runs is enough; anything else is sorted.
    const auto earlier = [](const Covered& a, const Covered& b) { return a.start < b.start; };
    const auto middle = covered.begin() + rollupsFrom;
    if (std::is_sorted(covered.begin(), middle, earlier) && std::is_sorted(middle, covered.end(), earlier))
        std::inplace_merge(covered.begin(), middle, covered.end(), earlier);
    else
        std::stable_sort(covered.begin(), covered.end(), earlier);

    std::vector<MeasurementGap> out;
    Timestamp cursor = request.start;
    for (const Covered& c : covered) {
        if (c.start - cursor > gapThresholdSeconds)
            out.push_back({newRecordId(), cursor, c.start});
        cursor = std::max(cursor, c.end);
    }
    if (request.end - cursor > gapThresholdSeconds)
        out.push_back({newRecordId(), cursor, request.end});
    return out;
}

FaultLocation DossierBuilder::outageLocation(IncidentClassification classification)
{
    // A reassociation or roam is a fault of the Wi-Fi link, not a total outage.
    if (classification == IncidentClassification::reassociationOrRoam)
        return FaultLocation::wifi;
    for (FaultLocation location : allFaultLocations())
        if (incidentClassification(location) == classification)
            return location;
    return FaultLocation::offline;
}

std::vector<OutageRecord> DossierBuilder::outages(const std::vector<Incident>& incidents)
{
    std::vector<const Incident*> kept;
    for (const Incident& incident : incidents)
        if (incident.classification == IncidentClassification::offline || incident.severity == IncidentSeverity::critical)
            kept.push_back(&incident);
    std::stable_sort(kept.begin(), kept.end(),
                     [](const Incident* a, const Incident* b) { return a->startTimestamp < b->startTimestamp; });
    std::vector<OutageRecord> out;
    out.reserve(kept.size());
    for (const Incident* incident : kept)
        out.push_back({incident->id, incident->startTimestamp, incident->endTimestamp,
                       outageLocation(incident->classification), incident->evidenceSummary});
    return out;
}

namespace {

// The local clock hour of instants; one calendar lookup per UTC minute, which is safe because every
// time zone in use today changes its offset on a whole minute.
class LocalHour {
public:
    int of(Timestamp t)
    {
        const double minute = std::floor(t / 60.0);
        if (minute != cachedMinute_) {
            const auto seconds = static_cast<std::time_t>(minute * 60.0);
            std::tm local{};
            localtime_r(&seconds, &local);
            cachedMinute_ = minute;
            cachedHour_ = local.tm_hour;
        }
        return cachedHour_;
    }

private:
    double cachedMinute_ = std::nan("");
    int cachedHour_ = 0;
};

} // namespace

std::vector<HourlyProfileEntry> DossierBuilder::hourlyProfile(const std::vector<const NetworkSample*>& providerSamples,
                                                              const std::vector<SampleRollup>& rollups)
{
    struct Slot {
        std::vector<double> latencies;
        long long count = 0;
        long long failures = 0;
    };
    tzset();
    std::array<Slot, 24> slots;
    LocalHour hours;
    for (const NetworkSample* s : providerSamples) {
        Slot& slot = slots[static_cast<std::size_t>(hours.of(s->timestamp))];
        ++slot.count;
        if (isSuccessful(*s))
            slot.latencies.push_back(*s->latencyMilliseconds);
        else
            ++slot.failures;
    }
    for (const SampleRollup& r : rollups) {
        if (r.targetKind != ProbeKind::publicIP)
            continue;
        Slot& slot = slots[static_cast<std::size_t>(hours.of(r.bucketStart))];
        slot.count += r.sampleCount;
        slot.failures += r.sampleCount - r.successCount;
        if (r.p50Milliseconds)
            slot.latencies.push_back(*r.p50Milliseconds);
    }
    std::vector<HourlyProfileEntry> out;
    for (int hour = 0; hour < 24; ++hour) {
        Slot& slot = slots[static_cast<std::size_t>(hour)];
        if (slot.count <= 0)
            continue;
        out.push_back({hour, upperMedian(std::move(slot.latencies)),
                       static_cast<double>(slot.failures) / static_cast<double>(slot.count),
                       static_cast<int>(slot.count)});
    }
    return out;
}

std::vector<DossierBuilder::AccessPointGroup> DossierBuilder::groupByAccessPoint(const std::vector<WifiSnapshot>& wifi)
{
    std::vector<AccessPointGroup> groups;
    std::unordered_map<QString, std::size_t> indexOf;
    for (const WifiSnapshot& w : wifi) {
        const QString key = w.bssid ? *w.bssid : w.ssid ? *w.ssid : QStringLiteral("ismeretlen");
        auto [it, inserted] = indexOf.try_emplace(key, groups.size());
        if (inserted)
            groups.push_back({key, {}});
        groups[it->second].second.push_back(&w);
    }
    // Stable: groups of equal size keep the order in which they first appeared.
    std::stable_sort(groups.begin(), groups.end(), [](const AccessPointGroup& a, const AccessPointGroup& b) {
        return a.second.size() > b.second.size();
    });
    return groups;
}

AccessPointBreakdown DossierBuilder::breakdown(int position, const AccessPointGroup& group, bool anonymise)
{
    AccessPointBreakdown out;
    out.label = anonymise ? QString::number(position + 1) + QStringLiteral(". hozzáférési pont") : group.first;
    out.sampleCount = static_cast<int>(group.second.size());
    std::vector<double> rssi;
    long long weak = 0;
    for (const WifiSnapshot* w : group.second) {
        if (w->band)
            out.band = w->band;
        if (w->rssi) {
            rssi.push_back(*w->rssi);
            if (*w->rssi <= weakRssi)
                ++weak;
        }
    }
    if (const auto median = upperMedian(rssi))
        out.medianRssi = static_cast<int>(*median);
    out.weakSampleRatio = rssi.empty() ? 0.0 : static_cast<double>(weak) / static_cast<double>(rssi.size());
    return out;
}

std::vector<AccessPointBreakdown> DossierBuilder::accessPoints(const std::vector<WifiSnapshot>& wifi, bool anonymise)
{
    const std::vector<AccessPointGroup> groups = groupByAccessPoint(wifi);
    std::vector<AccessPointBreakdown> out;
    out.reserve(groups.size());
    for (std::size_t i = 0; i < groups.size(); ++i)
        out.push_back(breakdown(static_cast<int>(i), groups[i], anonymise));
    return out;
}

std::set<QString> DossierBuilder::interfaceNames(const std::vector<WifiSnapshot>& wifi)
{
    std::set<QString> names;
    for (const WifiSnapshot& w : wifi)
        names.insert(w.interfaceName);
    return names;
}

WiredWiFiComparison DossierBuilder::wiredComparison(const std::vector<const NetworkSample*>& providerSamples,
                                                    const std::vector<WifiSnapshot>& wifi)
{
    const std::set<QString> wifiInterfaces = interfaceNames(wifi);
    std::vector<const NetworkSample*> overWifi;
    std::vector<const NetworkSample*> wired;
    // Samples come in long runs over one interface: look each name up once per run.
    const QString* lastName = nullptr;
    bool lastIsWifi = false;
    for (const NetworkSample* s : providerSamples) {
        if (lastName == nullptr || *lastName != s->route.interfaceName) {
            lastName = &s->route.interfaceName;
            lastIsWifi = wifiInterfaces.count(*lastName) > 0;
        }
        (lastIsWifi ? overWifi : wired).push_back(s);
    }
    WiredWiFiComparison out;
    out.wifiSampleCount = static_cast<int>(overWifi.size());
    out.wifiMedianMs = percentile(0.5, overWifi);
    if (!overWifi.empty())
        out.wifiLossRatio = lossRatio(overWifi);
    out.wiredSampleCount = static_cast<int>(wired.size());
    out.wiredMedianMs = percentile(0.5, wired);
    if (!wired.empty())
        out.wiredLossRatio = lossRatio(wired);
    return out;
}

} // namespace pv
