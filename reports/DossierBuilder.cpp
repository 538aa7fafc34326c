#include "reports/DossierBuilder.h"

#include "core/analysis/AttributionThresholds.h"
#include "core/analysis/Statistics.h"
#include "core/records/RecordId.h"
#include "core/store/StoreDatabase.h"

#include <QHash>

#include <algorithm>
#include <cmath>
#include <ctime>

namespace pv {

namespace {

constexpr double kHour = 3600;

std::size_t legIndex(ProbeKind kind)
{
    switch (kind) {
    case ProbeKind::gateway: return 0;
    case ProbeKind::publicIP: return 1;
    case ProbeKind::dns: return 2;
    case ProbeKind::http: return 3;
    }
    return 1;
}

// The roll-ups' own p50 rule: the element at floor(0.5 × (n − 1)) of the sorted values.
std::optional<double> bucketMedian(std::vector<double>& values)
{
    if (values.empty())
        return std::nullopt;
    const auto at = values.begin() + static_cast<std::ptrdiff_t>((values.size() - 1) / 2);
    std::nth_element(values.begin(), at, values.end());
    return *at;
}

// A sample row of a record already read; the interface name's bytes live in `name`.
SampleRow rowOf(const NetworkSample& s, QByteArray& name)
{
    name = s.route.interfaceName.toUtf8();
    return {s.timestamp, s.target.kind, s.latencyMilliseconds, s.success, s.packetLoss, name, s.family};
}

bool successful(const SampleRow& row) { return row.success && row.latencyMilliseconds.has_value(); }

} // namespace

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

namespace {

// The document's figures from the folds, and what is taken of the incidents.
DossierDocument completeDocument(const DossierRequest& request, Timestamp generatedAt, const QString& appVersion,
                                 DossierSampleFold& samples, const DossierWifiFold& wifi,
                                 const std::vector<Incident>& incidents)
{
    DossierDocument doc;
    doc.request = request;
    doc.generatedAt = generatedAt;
    doc.appVersion = appVersion;
    VerdictEvidence verdict;
    AttributionEvidence attribution;
    doc.outages = DossierBuilder::outages(incidents);
    doc.ipv6Incidents = DossierBuilder::ipv6Incidents(incidents);
    samples.finish(doc, verdict, attribution);
    doc.verdict = VerdictEngine::assess(verdict);
    // Read anew for every dossier, so an edited thresholds file counts from the next one.
    doc.attribution = AttributionEngine(AttributionThresholds::loadBundled()).attribute(attribution, wifi.radioReadings());
    doc.accessPoints = wifi.accessPoints(request.anonymiseNetworkNames);
    return doc;
}

} // namespace

DossierDocument DossierBuilder::makeDocument(const DossierRequest& request, Timestamp generatedAt,
                                             store::StoreDatabase& database, const QString& appVersion)
{
    // The bucket that holds the period's start began before it: it is read too, so the measured
    // stretch it vouches for inside the period does not show as a gap. Every other figure counts
    // only the buckets that begin inside the period.
    const double width = rollupBucketSeconds(request.duration());
    const std::vector<SampleRollup> rollups =
        database.rollups(width, std::floor(request.start / width) * width, request.end);
    const std::vector<Incident> incidents = database.incidents(request.start, request.end);
    DossierWifiFold wifi;
    database.visitWifiSnapshots(request.start, request.end, [&wifi](const WifiSnapshot& w) { wifi.add(w); });
    // A period measured on an IPv6-only network takes its figures from the IPv6 samples; the period
    // is read once, its family known before.
    DossierSampleFold samples(request, rollups, wifi.interfaceNames(),
                              database.analysedFamily(request.start, request.end, width));
    samples.watchIncidents(incidents);
    database.visitPeriodSamples(request.start, request.end, [&samples](const SampleRow& row) { samples.add(row); });
    DossierDocument doc = completeDocument(request, generatedAt, appVersion, samples, wifi, incidents);
    // An incident that was no outage, whose raw samples are gone, is named by the public hosts' minute
    // roll-ups whose samples lay within it (a bucket without their instants: wholly within it), while
    // they are kept.
    for (OutageRecord& record : doc.outages) {
        if (record.nature != IncidentNature::disturbance)
            continue;
        const Timestamp end = record.end.value_or(request.end);
        long long count = 0, failed = 0;
        for (const SampleRollup& r : database.rollups(RetentionPolicy::minuteBucket, record.start - RetentionPolicy::minuteBucket, end))
            if (r.targetKind == ProbeKind::publicIP && r.family == doc.measuredFamily &&
                r.firstSampleTimestamp.value_or(r.bucketStart) >= record.start &&
                r.lastSampleTimestamp.value_or(r.bucketStart + r.bucketSeconds) <= end) {
                count += r.sampleCount;
                failed += r.sampleCount - r.successCount;
            }
        if (count > 0)
            record.nature = incidentNature(IncidentClassification::unknown, false, count,
                                           static_cast<double>(failed) / static_cast<double>(count));
    }
    // Nothing stored, raw or rolled up, before the period (the history's rule): the stretch before its
    // first measurement precedes monitoring. It is no gap, and the gap list leaves it out.
    if (!doc.gaps.empty() && doc.gaps.front().start <= request.start && doc.gaps.front().end < request.end) {
        const std::optional<Timestamp> earliest = database.earliestMeasurement();
        if (!earliest || *earliest > request.start) {
            doc.firstMeasurement = doc.gaps.front().end;
            doc.gaps.erase(doc.gaps.begin());
        }
    }
    return doc;
}

DossierDocument DossierBuilder::assemble(const DossierRequest& request, Timestamp generatedAt, const QString& appVersion,
                                         const std::vector<NetworkSample>& samples,
                                         const std::vector<Incident>& incidents, const std::vector<WifiSnapshot>& wifi,
                                         const std::vector<SampleRollup>& rollups)
{
    std::vector<const WifiSnapshot*> readings;
    for (const WifiSnapshot& w : wifi)
        readings.push_back(&w);
    std::stable_sort(readings.begin(), readings.end(),
                     [](const WifiSnapshot* a, const WifiSnapshot* b) { return a->timestamp < b->timestamp; });
    DossierWifiFold wifiFold;
    for (const WifiSnapshot* w : readings)
        wifiFold.add(*w);

    std::vector<const NetworkSample*> ordered;
    for (const NetworkSample& s : samples)
        if (s.timestamp >= request.start && s.timestamp <= request.end)
            ordered.push_back(&s);
    std::stable_sort(ordered.begin(), ordered.end(),
                     [](const NetworkSample* a, const NetworkSample* b) { return a->timestamp < b->timestamp; });
    for (const AddressFamily main : {AddressFamily::ipv4, AddressFamily::ipv6}) {
        DossierSampleFold sampleFold(request, rollups, wifiFold.interfaceNames(), main);
        sampleFold.watchIncidents(incidents);
        QByteArray name;
        for (const NetworkSample* s : ordered)
            sampleFold.add(rowOf(*s, name));
        if (main == AddressFamily::ipv6 || !sampleFold.onlyOtherFamily())
            return completeDocument(request, generatedAt, appVersion, sampleFold, wifiFold, incidents);
    }
    return {};
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

// ---------------------------------------------------------------------------------------------
// The steps over rows already read

namespace {

// The request a step's rows fall into: every sample given, whatever its time.
DossierDocument documentOf(const std::vector<const NetworkSample*>& samples, const std::vector<SampleRollup>& rollups,
                           const std::vector<WifiSnapshot>& wifi, DossierRequest request)
{
    std::vector<NetworkSample> copies;
    copies.reserve(samples.size());
    for (const NetworkSample* s : samples)
        copies.push_back(*s);
    return DossierBuilder::assemble(request, request.end, QString(), copies, {}, wifi, rollups);
}

DossierRequest spanning(const std::vector<const NetworkSample*>& samples, const std::vector<SampleRollup>& rollups)
{
    double lo = std::numeric_limits<double>::infinity();
    double hi = -lo;
    for (const NetworkSample* s : samples) {
        lo = std::min(lo, s->timestamp);
        hi = std::max(hi, s->timestamp);
    }
    for (const SampleRollup& r : rollups) {
        lo = std::min(lo, r.bucketStart);
        hi = std::max(hi, r.bucketStart);
    }
    if (!(lo <= hi))
        lo = hi = 0;
    return {lo, hi, false, QString()};
}

std::vector<const NetworkSample*> pointersTo(const std::vector<NetworkSample>& samples)
{
    std::vector<const NetworkSample*> out;
    out.reserve(samples.size());
    for (const NetworkSample& s : samples)
        out.push_back(&s);
    return out;
}

} // namespace

std::vector<DossierTimelinePoint> DossierBuilder::timeline(const std::vector<NetworkSample>& samples,
                                                           const std::vector<SampleRollup>& rollups,
                                                           const DossierRequest& request)
{
    return documentOf(pointersTo(samples), rollups, {}, request).timeline;
}

std::vector<MeasurementGap> DossierBuilder::gaps(const std::vector<NetworkSample>& samples,
                                                 const std::vector<SampleRollup>& rollups,
                                                 const DossierRequest& request)
{
    return documentOf(pointersTo(samples), rollups, {}, request).gaps;
}

std::vector<HourlyProfileEntry> DossierBuilder::hourlyProfile(const std::vector<const NetworkSample*>& providerSamples,
                                                              const std::vector<SampleRollup>& rollups)
{
    return documentOf(providerSamples, rollups, {}, spanning(providerSamples, rollups)).hourlyProfile;
}

WiredWiFiComparison DossierBuilder::wiredComparison(const std::vector<const NetworkSample*>& providerSamples,
                                                    const std::vector<WifiSnapshot>& wifi)
{
    DossierRequest request = spanning(providerSamples, {});
    for (const WifiSnapshot& w : wifi) {
        request.start = std::min(request.start, w.timestamp);
        request.end = std::max(request.end, w.timestamp);
    }
    return documentOf(providerSamples, {}, wifi, request).wiredComparison;
}

std::vector<AccessPointBreakdown> DossierBuilder::accessPoints(const std::vector<WifiSnapshot>& wifi, bool anonymise)
{
    DossierWifiFold fold;
    for (const WifiSnapshot& w : wifi)
        fold.add(w);
    return fold.accessPoints(anonymise);
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

std::optional<double> DossierBuilder::sortedPercentile(double q, const std::vector<double>& sorted)
{
    if (sorted.empty())
        return std::nullopt;
    const auto last = static_cast<long long>(sorted.size()) - 1;
    const long long index = std::clamp(static_cast<long long>(q * static_cast<double>(last)), 0LL, last);
    return sorted[static_cast<std::size_t>(index)];
}

std::optional<double> DossierBuilder::percentile(double q, const std::vector<const NetworkSample*>& samples)
{
    std::vector<double> values;
    values.reserve(samples.size());
    for (const NetworkSample* s : samples)
        if (isSuccessful(*s))
            values.push_back(*s->latencyMilliseconds);
    std::sort(values.begin(), values.end());
    return sortedPercentile(q, values);
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

// ---------------------------------------------------------------------------------------------
// Folding the samples

void DossierSampleFold::LossSum::add(const SampleRow& row)
{
    ++count;
    if (!row.success)
        ++failed;
    if (row.packetLoss) {
        sum += *row.packetLoss;
        preciseSum += *row.packetLoss;
    } else {
        everyLoss = false;
    }
}

double DossierSampleFold::LossSum::ratio() const
{
    if (count == 0)
        return 0;
    const auto n = static_cast<double>(count);
    return everyLoss ? sum / n : static_cast<double>(failed) / n;
}

double DossierSampleFold::LossSum::engineRatio() const
{
    if (count == 0)
        return 0;
    if (everyLoss)
        return static_cast<double>(preciseSum / static_cast<long double>(count));
    return static_cast<double>(failed) / static_cast<double>(count);
}

LegMeasurement DossierSampleFold::Leg::measure()
{
    std::sort(latencies.begin(), latencies.end());
    LegMeasurement leg;
    leg.sampleCount = loss.count;
    leg.lossRatio = loss.engineRatio();
    // The period's rule, as the summary's tiles quote the same figures.
    leg.medianRtt = DossierBuilder::sortedPercentile(0.5, latencies);
    leg.p95Rtt = DossierBuilder::sortedPercentile(0.95, latencies);
    return leg;
}

DossierSampleFold::DossierSampleFold(const DossierRequest& request, const std::vector<SampleRollup>& rollups,
                                     std::set<QString> wifiInterfaces, AddressFamily main)
    : request_(request), anyIpv6_(false), main_(main), wifiInterfaces_(std::move(wifiInterfaces))
{
    const double period = request.duration();
    sliceWidth_ = period > 0 ? period / DossierBuilder::timelineSlices : 0;
    const double bucket = DossierBuilder::rollupBucketSeconds(period);
    foldWidth_ = bucket < sliceWidth_ ? bucket : 0;
    cursor_ = request.start;
    for (const SampleRollup& r : rollups) {
        // A bucket written before its sample times were recorded vouches for its whole width.
        if (r.firstSampleTimestamp && r.lastSampleTimestamp)
            rolledCover_.push_back({*r.firstSampleTimestamp, *r.lastSampleTimestamp});
        else
            rolledCover_.push_back({r.bucketStart, r.bucketStart + std::max(0.0, r.bucketSeconds)});
        if (r.bucketStart < request.start)
            continue; // the leading bucket counts for the gaps only
        const std::size_t family = r.family == AddressFamily::ipv6 ? 1 : 0;
        familyRolled_[family][legIndex(r.targetKind)].add(r);
        if (r.p50Milliseconds)
            familyP50_[family][legIndex(r.targetKind)].push_back(*r.p50Milliseconds);
        if (r.family != main_) {
            anyIpv6_ = true;
            rolledSampleCount_ += r.sampleCount;
            continue;
        }
        mainRollups_ = true;
        earliestRollup_ = std::min(earliestRollup_.value_or(r.bucketStart), r.bucketStart);
        rolledSampleCount_ += r.sampleCount;
        if (r.targetKind != ProbeKind::gateway && r.targetKind != ProbeKind::publicIP)
            continue;
        rolledLoss_[legIndex(r.targetKind)].add(r);
        if (r.p50Milliseconds)
            rolledP50_[legIndex(r.targetKind)].push_back(*r.p50Milliseconds);
        latestRollup_ = std::max(latestRollup_.value_or(r.bucketStart), r.lastSampleTimestamp.value_or(r.bucketStart));
        if (r.targetKind == ProbeKind::publicIP) {
            HourBucket& hour = hours_[std::floor(r.bucketStart / kHour) * kHour];
            hour.count += r.sampleCount;
            hour.failures += r.sampleCount - r.successCount;
            if (r.p50Milliseconds)
                hour.values.push_back(*r.p50Milliseconds);
        }
        const int i = sliceOf(r.bucketStart);
        if (i < 0)
            continue;
        Slice& slice = slices_[static_cast<std::size_t>(i)];
        if (foldWidth_ > 0)
            slice.rolled.push_back({r.bucketStart, r.targetKind == ProbeKind::gateway,
                                    r.targetKind == ProbeKind::gateway ? 0 : r.sampleCount,
                                    r.targetKind == ProbeKind::gateway ? 0 : r.sampleCount - r.successCount,
                                    r.p50Milliseconds});
        if (r.targetKind == ProbeKind::gateway) {
            if (r.p50Milliseconds)
                slice.rolledRouter.push_back(*r.p50Milliseconds);
        } else {
            slice.rolledCount += r.sampleCount;
            slice.rolledFailures += r.sampleCount - r.successCount;
            if (r.p50Milliseconds)
                slice.rolledProvider.push_back(*r.p50Milliseconds);
        }
    }
    std::stable_sort(rolledCover_.begin(), rolledCover_.end(),
                     [](const Covered& a, const Covered& b) { return a.start < b.start; });
}

int DossierSampleFold::sliceOf(Timestamp t) const
{
    const double offset = t - request_.start;
    if (!(sliceWidth_ > 0) || offset < 0 || offset > request_.duration())
        return -1;
    return std::min(static_cast<int>(std::floor(offset / sliceWidth_)), DossierBuilder::timelineSlices - 1);
}

void DossierSampleFold::cover(Timestamp start, Timestamp end)
{
    anyCover_ = true;
    if (start - cursor_ > DossierBuilder::gapThresholdSeconds)
        gaps_.push_back({newRecordId(), cursor_, start});
    cursor_ = std::max(cursor_, end);
}

void DossierSampleFold::coverRollupsUpTo(Timestamp t)
{
    for (; nextRolled_ < rolledCover_.size() && rolledCover_[nextRolled_].start <= t; ++nextRolled_)
        cover(rolledCover_[nextRolled_].start, rolledCover_[nextRolled_].end);
}

void DossierSampleFold::closeRawHour()
{
    if (!rawHour_)
        return;
    rawHourBucket_.values.clear();
    if (const std::optional<double> p50 = bucketMedian(rawHourLatencies_))
        rawHourBucket_.values.push_back(*p50);
    rawHourBucket_.raw = true;
    // An hour measured raw takes its figures from the raw samples only.
    hours_[*rawHour_] = std::move(rawHourBucket_);
    rawHourBucket_ = {};
    rawHourLatencies_.clear();
    rawHour_.reset();
}

void DossierSampleFold::RolledLoss::add(const SampleRollup& rollup)
{
    count += rollup.sampleCount;
    failed += rollup.sampleCount - rollup.successCount;
    if (rollup.lossRatio)
        sum += *rollup.lossRatio * rollup.sampleCount;
    else
        everyLoss = false;
}

double DossierSampleFold::periodLoss(const LossSum& raw, const RolledLoss& rolled)
{
    if (rolled.count == 0)
        return raw.ratio(); // the raw rule exactly, to the last bit
    const auto n = static_cast<double>(raw.count + rolled.count);
    return raw.everyLoss && rolled.everyLoss
               ? static_cast<double>((static_cast<long double>(raw.sum) + rolled.sum) / static_cast<long double>(n))
               : static_cast<double>(raw.failed + rolled.failed) / n;
}

void DossierSampleFold::closeRawBucket()
{
    RawBucket& bucket = rawBucket_;
    if (!bucket.start)
        return;
    // A bucket that began before the period, its first part cut off, counts in the first slice.
    const int i = sliceOf(std::max(*bucket.start, request_.start));
    if (i >= 0) {
        Slice& slice = slices_[static_cast<std::size_t>(i)];
        if (const std::optional<double> p50 = bucketMedian(bucket.router))
            slice.foldedRouter.push_back(*p50);
        if (const std::optional<double> p50 = bucketMedian(bucket.provider))
            slice.foldedProvider.push_back(*p50);
        slice.foldedCount += bucket.providerCount;
        slice.foldedFailures += bucket.providerFailures;
        slice.folded = slice.folded || bucket.providerCount > 0 || !bucket.router.empty();
        slice.foldedStarts.push_back(*bucket.start);
    }
    bucket = {};
}

void DossierSampleFold::add(const SampleRow& row)
{
    ++rawCount_;
    const Timestamp t = row.timestamp;
    coverRollupsUpTo(t);
    cover(t, t);
    if (row.family != main_) {
        anyIpv6_ = true;
        Leg& leg = ipv6Legs_[legIndex(row.kind)];
        leg.loss.add(row);
        if (successful(row))
            leg.latencies.push_back(*row.latencyMilliseconds);
        return;
    }
    ++mainRows_;
    firstSample_ = std::min(firstSample_.value_or(t), t);
    lastSample_ = std::max(lastSample_.value_or(t), t);

    const std::size_t kind = legIndex(row.kind);
    Leg& leg = legs_[kind];
    leg.loss.add(row);
    const bool ok = successful(row);
    if (ok)
        leg.latencies.push_back(*row.latencyMilliseconds);

    if (row.kind == ProbeKind::dns) {
        dnsUnanswered_ += row.success ? 0 : 1;
        // An unanswered lookup with a time had an answer: an error (SERVFAIL, REFUSED), not silence.
        dnsErrorAnswered_ += !row.success && row.latencyMilliseconds ? 1 : 0;
        dnsNewestUnanswered_ = row.success ? 0 : dnsNewestUnanswered_ + 1;
        return;
    }
    if (row.kind != ProbeKind::gateway && row.kind != ProbeKind::publicIP)
        return;

    const int i = sliceOf(t);
    if (i >= 0 && foldWidth_ > 0) {
        const Timestamp start = std::floor(t / foldWidth_) * foldWidth_;
        if (rawBucket_.start != start) {
            closeRawBucket();
            rawBucket_.start = start;
        }
        if (row.kind == ProbeKind::publicIP) {
            ++rawBucket_.providerCount;
            if (!ok)
                ++rawBucket_.providerFailures;
        }
        if (ok)
            (row.kind == ProbeKind::gateway ? rawBucket_.router : rawBucket_.provider).push_back(*row.latencyMilliseconds);
    } else if (i >= 0) {
        // Rows come in time order, so each slice holds one run of the latency lists.
        while (currentSlice_ < i) {
            ++currentSlice_;
            Slice& next = slices_[static_cast<std::size_t>(currentSlice_)];
            next.routerBegin = next.routerEnd = legs_[0].latencies.size() - (row.kind == ProbeKind::gateway && ok);
            next.providerBegin = next.providerEnd = legs_[1].latencies.size() - (row.kind == ProbeKind::publicIP && ok);
        }
        Slice& slice = slices_[static_cast<std::size_t>(i)];
        slice.routerEnd = legs_[0].latencies.size();
        slice.providerEnd = legs_[1].latencies.size();
        if (row.kind == ProbeKind::publicIP) {
            ++slice.providerCount;
            if (!ok)
                ++slice.providerFailures;
        }
    }
    if (row.kind == ProbeKind::gateway)
        return;

    // The provider leg: Wi-Fi or wired, verdict, hourly profile.
    if (!hasInterface_ || row.interfaceName != QByteArrayView(lastInterface_)) {
        lastInterface_ = row.interfaceName.toByteArray();
        lastInterfaceIsWifi_ = wifiInterfaces_.count(QString::fromUtf8(lastInterface_)) > 0;
        hasInterface_ = true;
    }
    (lastInterfaceIsWifi_ ? wifiLoss_ : wiredLoss_).add(row);
    for (; nextWindow_ < windows_.size() && windows_[nextWindow_].start <= t; ++nextWindow_)
        activeWindows_.push_back(nextWindow_);
    std::erase_if(activeWindows_, [&](std::size_t w) { return windows_[w].end < t; });
    for (std::size_t w : activeWindows_)
        windows_[w].loss.add(row);
    if (ok)
        providerOverWifi_.push_back(lastInterfaceIsWifi_);
    firstProvider_ = std::min(firstProvider_.value_or(t), t);
    lastProvider_ = std::max(lastProvider_.value_or(t), t);
    if (ok) {
        if (lastProviderLatency_) {
            jitterSum_ += std::fabs(*row.latencyMilliseconds - *lastProviderLatency_);
            ++jitterSteps_;
        }
        lastProviderLatency_ = row.latencyMilliseconds;
    }

    const Timestamp hour = std::floor(t / kHour) * kHour;
    if (rawHour_ != hour) {
        closeRawHour();
        rawHour_ = hour;
    }
    ++rawHourBucket_.count;
    if (ok)
        rawHourLatencies_.push_back(*row.latencyMilliseconds);
    else
        ++rawHourBucket_.failures;
}

// ---------------------------------------------------------------------------------------------
// Outages

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
        if (!isIpv6Classification(incident.classification))
            kept.push_back(&incident);
    std::stable_sort(kept.begin(), kept.end(),
                     [](const Incident* a, const Incident* b) { return a->startTimestamp < b->startTimestamp; });
    std::vector<OutageRecord> out;
    out.reserve(kept.size());
    for (const Incident* incident : kept)
        out.push_back({incident->id, incident->startTimestamp, incident->endTimestamp,
                       outageLocation(incident->classification), incident->evidenceSummary,
                       incidentNature(incident->classification, incident->outage)});
    return out;
}

std::vector<Ipv6IncidentRecord> DossierBuilder::ipv6Incidents(const std::vector<Incident>& incidents)
{
    std::vector<Ipv6IncidentRecord> out;
    for (const Incident& incident : incidents)
        if (isIpv6Classification(incident.classification))
            out.push_back({incident.classification, incident.startTimestamp, incident.endTimestamp});
    std::stable_sort(out.begin(), out.end(), [](const auto& a, const auto& b) { return a.start < b.start; });
    return out;
}

void DossierSampleFold::compareFamilies(DossierDocument& doc)
{
    if (!anyIpv6_ || main_ != AddressFamily::ipv4)
        return;
    // The period's rules of the summary's figures: the raw samples' median, or the roll-ups' p50s
    // where no raw latency is left; the loss of the raw samples and the roll-ups together.
    struct Side {
        std::optional<double> median, loss;
        long long count = 0;
    };
    const auto side = [](Leg& raw, const RolledLoss& rolled, std::vector<double>& p50s) {
        Side out;
        out.count = raw.loss.count + rolled.count;
        if (out.count > 0)
            out.loss = periodLoss(raw.loss, rolled);
        std::sort(raw.latencies.begin(), raw.latencies.end());
        out.median = DossierBuilder::sortedPercentile(0.5, raw.latencies);
        if (!out.median && !p50s.empty()) {
            std::sort(p50s.begin(), p50s.end());
            out.median = DossierBuilder::sortedPercentile(0.5, p50s);
        }
        return out;
    };
    constexpr ProbeKind kinds[] = {ProbeKind::gateway, ProbeKind::publicIP, ProbeKind::dns, ProbeKind::http};
    for (std::size_t k = 0; k < 4; ++k) {
        const Side v6 = side(ipv6Legs_[k], familyRolled_[1][k], familyP50_[1][k]);
        if (v6.count == 0)
            continue;
        const Side v4 = side(legs_[k], familyRolled_[0][k], familyP50_[0][k]);
        doc.familyLegs.push_back({kinds[k], v4.median, v6.median, v4.loss, v6.loss, v4.count, v6.count});
    }
}

IncidentNature DossierBuilder::incidentNature(IncidentClassification classification, bool outage,
                                              long long providerSamples, double lossRatio)
{
    switch (classification) {
    case IncidentClassification::dnsOnlyIssue: return IncidentNature::nameResolution;
    case IncidentClassification::reassociationOrRoam: return IncidentNature::accessPointChange;
    case IncidentClassification::offline: return IncidentNature::outage;
    default: break;
    }
    if (outage)
        return IncidentNature::outage;
    if (providerSamples >= 2)
        return lossRatio >= 0.05 ? IncidentNature::loss : IncidentNature::slowness;
    return IncidentNature::disturbance;
}

void DossierSampleFold::watchIncidents(const std::vector<Incident>& incidents)
{
    for (const Incident& i : incidents)
        if (!isIpv6Classification(i.classification))
            windows_.push_back({i.id, i.classification, i.startTimestamp, i.endTimestamp.value_or(request_.end), {}});
    std::stable_sort(windows_.begin(), windows_.end(),
                     [](const IncidentWindow& a, const IncidentWindow& b) { return a.start < b.start; });
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

void DossierSampleFold::finish(DossierDocument& doc, VerdictEvidence& verdict, AttributionEvidence& attribution)
{
    closeRawHour();
    closeRawBucket();
    coverRollupsUpTo(std::numeric_limits<double>::infinity());

    // Gaps and coverage.
    if (!anyCover_) {
        gaps_.push_back({newRecordId(), request_.start, request_.end});
    } else if (request_.end - cursor_ > DossierBuilder::gapThresholdSeconds) {
        gaps_.push_back({newRecordId(), cursor_, request_.end});
    }
    doc.gaps = std::move(gaps_);
    doc.coverageRatio = DossierBuilder::coverageRatio(doc.gaps, request_);

    // An incident that was no outage is named for what the provider samples of its time show, where
    // they are still held.
    QHash<QUuid, const IncidentWindow*> windowOf;
    for (const IncidentWindow& w : windows_)
        windowOf.insert(w.id, &w);
    for (OutageRecord& record : doc.outages) {
        const IncidentWindow* w = windowOf.value(record.id, nullptr);
        if (w != nullptr && w->loss.count > 0 && !record.isOutage())
            record.nature = DossierBuilder::incidentNature(w->classification, false, w->loss.count, w->loss.ratio());
    }

    // Timeline: a slice with a raw provider sample or raw router latency takes its figures from the
    // raw samples, otherwise from the roll-ups; the medians of roll-up slices are medians of p50s,
    // and so are those of raw slices wider than one roll-up bucket, whose samples are bucketed on the
    // roll-ups' grid with each bucket whole in the slice where it begins, and counted beside the
    // slice's roll-up buckets, so that a steady pattern is drawn level where the roll-ups end,
    // whatever hour, minute or second the period ends at.
    std::vector<double>& router = legs_[0].latencies;
    std::vector<double>& provider = legs_[1].latencies;
    for (int i = 0; sliceWidth_ > 0 && i < DossierBuilder::timelineSlices; ++i) {
        Slice& slice = slices_[static_cast<std::size_t>(i)];
        const bool useRaw =
            foldWidth_ > 0 ? slice.folded : slice.providerCount >= 1 || slice.routerEnd > slice.routerBegin;
        if (!useRaw && slice.rolledCount <= 0 && slice.rolledRouter.empty())
            continue;
        DossierTimelinePoint point;
        point.time = request_.start + sliceWidth_ * i;
        long long count = 0, failures = 0;
        if (useRaw && foldWidth_ > 0) {
            // The slice's roll-up buckets count beside its raw ones by the same rule, so a slice
            // where the raw samples begin is drawn from all it holds; a bucket known both ways is
            // taken from its raw samples.
            for (const Slice::Rolled& r : slice.rolled) {
                if (std::binary_search(slice.foldedStarts.begin(), slice.foldedStarts.end(), r.start))
                    continue;
                if (r.p50)
                    (r.router ? slice.foldedRouter : slice.foldedProvider).push_back(*r.p50);
                slice.foldedCount += r.count;
                slice.foldedFailures += r.failures;
            }
            point.routerMilliseconds = DossierBuilder::upperMedian(std::move(slice.foldedRouter));
            point.providerMilliseconds = DossierBuilder::upperMedian(std::move(slice.foldedProvider));
            count = slice.foldedCount;
            failures = slice.foldedFailures;
        } else if (useRaw) {
            const auto range = [](const std::vector<double>& all, std::size_t from, std::size_t to) {
                return std::vector<double>(all.begin() + static_cast<std::ptrdiff_t>(from),
                                           all.begin() + static_cast<std::ptrdiff_t>(to));
            };
            point.routerMilliseconds = DossierBuilder::upperMedian(range(router, slice.routerBegin, slice.routerEnd));
            point.providerMilliseconds =
                DossierBuilder::upperMedian(range(provider, slice.providerBegin, slice.providerEnd));
            count = slice.providerCount;
            failures = slice.providerFailures;
        } else {
            point.routerMilliseconds = DossierBuilder::upperMedian(std::move(slice.rolledRouter));
            point.providerMilliseconds = DossierBuilder::upperMedian(std::move(slice.rolledProvider));
            count = slice.rolledCount;
            failures = slice.rolledFailures;
        }
        if (count > 0)
            point.lossRatio = static_cast<double>(failures) / static_cast<double>(count);
        point.isAggregated = !useRaw;
        doc.containsAggregatedPeriods = doc.containsAggregatedPeriods || point.isAggregated;
        doc.timeline.push_back(point);
    }

    // The provider latencies split by the interface they went out on, before the lists are sorted.
    std::vector<double> overWifi, wired;
    for (std::size_t i = 0; i < provider.size(); ++i)
        (providerOverWifi_[i] ? overWifi : wired).push_back(provider[i]);
    std::sort(overWifi.begin(), overWifi.end());
    std::sort(wired.begin(), wired.end());
    WiredWiFiComparison& comparison = doc.wiredComparison;
    comparison.wifiSampleCount = static_cast<int>(wifiLoss_.count);
    comparison.wifiMedianMs = DossierBuilder::sortedPercentile(0.5, overWifi);
    if (wifiLoss_.count > 0)
        comparison.wifiLossRatio = wifiLoss_.ratio();
    comparison.wiredSampleCount = static_cast<int>(wiredLoss_.count);
    comparison.wiredMedianMs = DossierBuilder::sortedPercentile(0.5, wired);
    if (wiredLoss_.count > 0)
        comparison.wiredLossRatio = wiredLoss_.ratio();

    // The engines' evidence; measuring a leg sorts its latencies.
    attribution.gateway = legs_[0].measure();
    attribution.publicHost = legs_[1].measure();
    attribution.dns = legs_[2].measure();
    attribution.http = legs_[3].measure();
    // What the attribution says of the router and the provider leg is what the period holds, as the
    // summary's tiles show it: the roll-ups count too, and a leg whose raw days are gone is judged by
    // its roll-ups' p50s.
    const std::pair<std::size_t, LegMeasurement*> quoted[] = {{0, &attribution.gateway}, {1, &attribution.publicHost}};
    for (const auto& [leg, measured] : quoted) {
        if (rolledLoss_[leg].count <= 0)
            continue;
        measured->sampleCount += rolledLoss_[leg].count;
        measured->lossRatio = periodLoss(legs_[leg].loss, rolledLoss_[leg]);
        if (!measured->medianRtt && !rolledP50_[leg].empty()) {
            std::sort(rolledP50_[leg].begin(), rolledP50_[leg].end());
            measured->medianRtt = DossierBuilder::sortedPercentile(0.5, rolledP50_[leg]);
            measured->p95Rtt = DossierBuilder::sortedPercentile(0.95, rolledP50_[leg]);
        }
    }
    compareFamilies(doc);
    doc.measuredFamily = main_;
    if (earliestRollup_ && latestRollup_) {
        const Timestamp first = std::min(firstSample_.value_or(*earliestRollup_), *earliestRollup_);
        const Timestamp last = std::max(lastSample_.value_or(*latestRollup_), *latestRollup_);
        attribution.spanSeconds = last - first;
    } else {
        attribution.spanSeconds = firstSample_ ? *lastSample_ - *firstSample_ : 0;
    }
    attribution.dnsUnanswered = dnsUnanswered_;
    attribution.dnsNewestUnanswered = dnsNewestUnanswered_;
    attribution.dnsErrorAnswered = dnsErrorAnswered_;
    verdict.sampleCount = legs_[1].loss.count;
    verdict.spanSeconds = firstProvider_ ? *lastProvider_ - *firstProvider_ : 0;
    verdict.lossRatio = legs_[1].loss.engineRatio();
    if (jitterSteps_ > 0)
        verdict.jitter = static_cast<double>(jitterSum_ / static_cast<long double>(jitterSteps_));

    // The tiles quote what the sentences quote: the raw samples' figures, or the roll-ups' where the
    // raw days are gone.
    doc.medianRouterMs = attribution.gateway.medianRtt;
    doc.medianProviderMs = attribution.publicHost.medianRtt;
    doc.p95ProviderMs = attribution.publicHost.p95Rtt;
    verdict.latencies = std::move(provider);
    if (legs_[1].loss.count == 0 && rolledLoss_[1].count > 0) {
        // No raw provider sample: the usage verdict reads the roll-ups.
        verdict.sampleCount = rolledLoss_[1].count;
        verdict.spanSeconds = attribution.spanSeconds;
        verdict.lossRatio = periodLoss(legs_[1].loss, rolledLoss_[1]);
        verdict.latencies = rolledP50_[1];
    }

    // The loss of the whole period: the raw provider samples and the provider roll-ups (whose
    // counts are exact), as a mean loss when every one of them carries one, else the failed share.
    if (legs_[1].loss.count + rolledLoss_[1].count > 0)
        doc.lossRatio = periodLoss(legs_[1].loss, rolledLoss_[1]);

    doc.sampleCount = rawCount_ + rolledSampleCount_;
    doc.onlyRollups = rawCount_ == 0 && rolledSampleCount_ > 0;
    if (firstSample_ && earliestRollup_ && *earliestRollup_ < *firstSample_)
        doc.detailedFiguresFrom = *firstSample_;

    // Hourly profile: every hour bucket's value goes to its clock hour.
    tzset();
    LocalHour localHour;
    struct Slot {
        std::vector<double> values;
        long long count = 0;
        long long failures = 0;
    };
    std::array<Slot, 24> slots;
    for (auto& [start, bucket] : hours_) {
        Slot& slot = slots[static_cast<std::size_t>(localHour.of(start))];
        slot.count += bucket.count;
        slot.failures += bucket.failures;
        // Minute buckets of one hour give the hour one value by the same p50 rule.
        if (const std::optional<double> value = bucketMedian(bucket.values))
            slot.values.push_back(*value);
    }
    for (int hour = 0; hour < 24; ++hour) {
        Slot& slot = slots[static_cast<std::size_t>(hour)];
        if (slot.count <= 0)
            continue;
        doc.hourlyProfile.push_back({hour, DossierBuilder::upperMedian(std::move(slot.values)),
                                     static_cast<double>(slot.failures) / static_cast<double>(slot.count),
                                     static_cast<int>(slot.count)});
    }
}

// ---------------------------------------------------------------------------------------------
// Folding the Wi-Fi readings

void DossierWifiFold::add(const WifiSnapshot& w)
{
    const QString key = w.bssid ? *w.bssid : w.ssid ? *w.ssid : QStringLiteral("ismeretlen");
    auto [it, inserted] = indexOf_.try_emplace(key, groups_.size());
    if (inserted)
        groups_.push_back({key, 0, std::nullopt, {}, 0, w});
    Group& group = groups_[it->second];
    ++group.count;
    if (w.band)
        group.band = w.band;
    if (w.rssi) {
        group.rssi.push_back(*w.rssi);
        if (*w.rssi <= DossierBuilder::weakRssi)
            ++group.weak;
        signals_.push_back({*w.rssi, w.noise, w.interfaceUp, it->second});
    }
    interfaces_.insert(w.interfaceName);
    if (!firstReading_)
        firstReading_ = w;
    else if (!otherNode_ && w.nodeFingerprint() != firstReading_->nodeFingerprint())
        otherNode_ = w;
    lastReading_ = w;
}

std::vector<AccessPointBreakdown> DossierWifiFold::accessPoints(bool anonymise) const
{
    std::vector<const Group*> order;
    for (const Group& g : groups_)
        order.push_back(&g);
    // Stable: groups of equal size keep the order in which they first appeared.
    std::stable_sort(order.begin(), order.end(), [](const Group* a, const Group* b) { return a->count > b->count; });
    std::vector<AccessPointBreakdown> out;
    for (std::size_t i = 0; i < order.size(); ++i) {
        const Group& g = *order[i];
        AccessPointBreakdown ap;
        ap.label = anonymise ? QString::number(i + 1) + QStringLiteral(". hozzáférési pont") : g.key;
        ap.band = g.band;
        ap.sampleCount = g.count;
        if (const auto median = DossierBuilder::upperMedian(std::vector<double>(g.rssi.begin(), g.rssi.end())))
            ap.medianRssi = static_cast<int>(*median);
        ap.weakSampleRatio = g.rssi.empty() ? 0.0 : static_cast<double>(g.weak) / static_cast<double>(g.rssi.size());
        out.push_back(ap);
    }
    return out;
}

std::vector<WifiSnapshot> DossierWifiFold::radioReadings() const
{
    if (!lastReading_)
        return {};
    std::vector<WifiSnapshot> out;
    if (otherNode_)
        out = {*firstReading_, *otherNode_};
    if (signals_.empty()) {
        out.push_back(*lastReading_);
        return out;
    }
    std::vector<Signal> bySignal = signals_;
    const auto middle = bySignal.begin() + static_cast<std::ptrdiff_t>(bySignal.size() / 2);
    std::nth_element(bySignal.begin(), middle, bySignal.end(),
                     [](const Signal& a, const Signal& b) { return a.rssi < b.rssi; });
    WifiSnapshot median = groups_[middle->group].first;
    median.rssi = middle->rssi;
    median.noise = middle->noise;
    median.interfaceUp = middle->interfaceUp;
    out.push_back(std::move(median));
    return out;
}

} // namespace pv
