#include "core/app/HistoryViewModel.h"

#include "core/app/IncidentEvidence.h"

#include "core/records/Localization.h"
#include "core/store/SQLiteStore.h"

#include <algorithm>
#include <cmath>
#include <thread>

namespace pv {

QString title(HistoryRange r)
{
    switch (r) {
    case HistoryRange::day: return L("24 óra");
    case HistoryRange::week: return L("7 nap");
    case HistoryRange::month: return L("30 nap");
    }
    return {};
}

double duration(HistoryRange r)
{
    switch (r) {
    case HistoryRange::day: return 86400;
    case HistoryRange::week: return 604800;
    case HistoryRange::month: return 2592000;
    }
    return 0;
}

double rollupBucketSeconds(HistoryRange r)
{
    return r == HistoryRange::day || r == HistoryRange::week ? 60 : 3600;
}

std::vector<Incident> HistorySummary::openIncidents() const
{
    std::vector<Incident> open;
    std::copy_if(incidents.begin(), incidents.end(), std::back_inserter(open),
                 [](const Incident& i) { return i.isOpen(); });
    return open;
}

bool HistorySummary::containsAggregatedBuckets() const
{
    return std::any_of(buckets.begin(), buckets.end(), [](const HistoryBucket& b) { return b.isAggregated; });
}

std::optional<double> historyMedian(std::vector<double> values)
{
    if (values.empty())
        return std::nullopt;
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

HistorySlices::HistorySlices(Timestamp start, Timestamp end) : start_(start), empty_(!(end - start > 0))
{
    if (!empty_) {
        width_ = (end - start) / kHistorySliceCount;
        slices_.resize(kHistorySliceCount);
    }
}

HistorySlices::Slice* HistorySlices::sliceOf(Timestamp t)
{
    // Negative offsets are ignored; an item at or after the end falls into the last slice.
    const double offset = t - start_;
    if (empty_ || offset < 0 || std::isnan(offset))
        return nullptr;
    const double index = std::min<double>(std::floor(offset / width_), kHistorySliceCount - 1);
    return &slices_[static_cast<std::size_t>(index)];
}

void HistorySlices::addSample(Timestamp t, ProbeKind kind, const std::optional<double>& latencyMilliseconds,
                              bool success)
{
    ++sampleCount_;
    Slice* slice = sliceOf(t);
    if (!slice)
        return;
    const bool answered = latencyMilliseconds && success;
    switch (kind) {
    case ProbeKind::gateway:
        // A failed router sample counts nowhere.
        if (answered)
            slice->router.push_back(*latencyMilliseconds);
        break;
    case ProbeKind::publicIP:
        ++slice->providerProbes;
        if (answered)
            slice->provider.push_back(*latencyMilliseconds);
        else
            ++slice->providerFailures;
        break;
    case ProbeKind::dns:
    case ProbeKind::http: break;
    }
}

const std::vector<ProbeKind>& HistorySlices::foldedKinds()
{
    static const std::vector<ProbeKind> kinds{ProbeKind::gateway, ProbeKind::publicIP};
    return kinds;
}

void HistorySlices::addRollup(const SampleRollup& r)
{
    sampleCount_ += r.sampleCount;
    Slice* slice = sliceOf(r.bucketStart);
    if (!slice)
        return;
    switch (r.targetKind) {
    case ProbeKind::publicIP:
        slice->rollupProbes += r.sampleCount;
        slice->rollupFailures += r.sampleCount - r.successCount;
        if (r.p50Milliseconds)
            slice->rollupProvider.push_back(*r.p50Milliseconds);
        break;
    case ProbeKind::gateway:
        if (r.p50Milliseconds)
            slice->rollupRouter.push_back(*r.p50Milliseconds);
        break;
    case ProbeKind::dns:
    case ProbeKind::http: break;
    }
}

void HistorySlices::merge(HistorySlices&& other)
{
    sampleCount_ += other.sampleCount_;
    if (empty_ || other.empty_)
        return;
    const auto append = [](std::vector<double>& to, std::vector<double>& from) {
        if (to.empty())
            to = std::move(from);
        else
            to.insert(to.end(), from.begin(), from.end());
    };
    for (std::size_t i = 0; i < slices_.size(); ++i) {
        Slice& to = slices_[i];
        Slice& from = other.slices_[i];
        append(to.router, from.router);
        append(to.provider, from.provider);
        append(to.rollupRouter, from.rollupRouter);
        append(to.rollupProvider, from.rollupProvider);
        to.providerProbes += from.providerProbes;
        to.providerFailures += from.providerFailures;
        to.rollupProbes += from.rollupProbes;
        to.rollupFailures += from.rollupFailures;
    }
    other.sampleCount_ = 0;
    other.slices_.assign(kHistorySliceCount, Slice{});
}

std::vector<HistoryBucket> HistorySlices::takeBuckets()
{
    std::vector<HistoryBucket> buckets;
    if (empty_)
        return buckets;
    buckets.resize(kHistorySliceCount);
    const auto take = [&](std::size_t i) {
        Slice s = std::move(slices_[i]);
        HistoryBucket& b = buckets[i];
        b.start = start_ + width_ * static_cast<double>(i);
        if (s.providerProbes > 0 || !s.router.empty()) {
            b.medianGatewayMs = historyMedian(std::move(s.router));
            b.medianProviderMs = historyMedian(std::move(s.provider));
            if (s.providerProbes > 0)
                b.lossRatio = static_cast<double>(s.providerFailures) / static_cast<double>(s.providerProbes);
        } else {
            // A slice filled only from router roll-ups is not counted as aggregated.
            b.medianGatewayMs = historyMedian(std::move(s.rollupRouter));
            b.medianProviderMs = historyMedian(std::move(s.rollupProvider));
            if (s.rollupProbes > 0)
                b.lossRatio = static_cast<double>(s.rollupFailures) / static_cast<double>(s.rollupProbes);
            b.isAggregated = s.rollupProbes > 0;
        }
    };
    // A month of raw samples is millions of latencies to select medians from: the slices are
    // shared out among threads once there are enough of them to be worth one.
    std::size_t values = 0;
    for (const Slice& s : slices_)
        values += s.router.size() + s.provider.size();
    constexpr std::size_t kValuesPerThread = 200'000;
    const std::size_t threads =
        std::clamp<std::size_t>(values / kValuesPerThread, 1, std::max(1u, std::thread::hardware_concurrency()));
    if (threads == 1) {
        for (std::size_t i = 0; i < slices_.size(); ++i)
            take(i);
    } else {
        std::vector<std::thread> helpers;
        for (std::size_t t = 1; t < threads; ++t)
            helpers.emplace_back([&, t] {
                for (std::size_t i = t; i < slices_.size(); i += threads)
                    take(i);
            });
        for (std::size_t i = 0; i < slices_.size(); i += threads)
            take(i);
        for (std::thread& helper : helpers)
            helper.join();
    }
    slices_.assign(kHistorySliceCount, Slice{});
    return buckets;
}

std::vector<HistoryBucket> buildBuckets(const std::vector<NetworkSample>& samples,
                                        const std::vector<SampleRollup>& rollups, Timestamp start, Timestamp end)
{
    HistorySlices slices(start, end);
    for (const NetworkSample& s : samples)
        if (!incident_evidence::wasNotMeasured(s)) // an echo that never left the machine is no point
            slices.addSample(s.timestamp, s.target.kind, s.latencyMilliseconds, s.success);
    for (const SampleRollup& r : rollups)
        slices.addRollup(r);
    return slices.takeBuckets();
}

HistorySummary makeHistorySummary(HistoryRange range, HistoryReadings readings, Timestamp start, Timestamp end)
{
    // The charts draw one path, the analysed one: IPv4 wherever the period holds it, IPv6 on a
    // network that had nothing else. The other family's samples are counted, never drawn.
    const auto holds = [&](AddressFamily family) {
        for (const auto& part : family == AddressFamily::ipv4 ? readings.folded : readings.foldedIpv6)
            if (part->sampleCount() > 0)
                return true;
        return std::any_of(readings.samples.begin(), readings.samples.end(),
                           [family](const NetworkSample& x) { return x.family == family; }) ||
               std::any_of(readings.rollups.begin(), readings.rollups.end(),
                           [family](const SampleRollup& r) { return r.family == family; });
    };
    const AddressFamily drawn = readings.family.value_or(
        !holds(AddressFamily::ipv4) && holds(AddressFamily::ipv6) ? AddressFamily::ipv6 : AddressFamily::ipv4);
    HistorySlices slices(start, end);
    slices.countSamples(readings.unfoldedSamples);
    for (const std::shared_ptr<HistorySlices>& part : drawn == AddressFamily::ipv4 ? readings.folded : readings.foldedIpv6)
        slices.merge(std::move(*part));
    for (const std::shared_ptr<HistorySlices>& part : drawn == AddressFamily::ipv4 ? readings.foldedIpv6 : readings.folded)
        slices.countSamples(part->sampleCount());
    for (const NetworkSample& s : readings.samples)
        if (s.family != drawn)
            slices.countSamples(1);
        else if (!incident_evidence::wasNotMeasured(s))
            slices.addSample(s.timestamp, s.target.kind, s.latencyMilliseconds, s.success);
    for (const SampleRollup& r : readings.rollups)
        if (r.family == drawn)
            slices.addRollup(r);
        else
            slices.countSamples(r.sampleCount);
    HistorySummary summary;
    summary.range = range;
    summary.buckets = slices.takeBuckets();
    const auto covered = std::count_if(summary.buckets.begin(), summary.buckets.end(),
                                       [](const HistoryBucket& b) { return !b.isGap(); });
    summary.coverageRatio =
        summary.buckets.empty() ? 0.0 : static_cast<double>(covered) / static_cast<double>(summary.buckets.size());
    summary.sampleCount = slices.sampleCount();
    summary.incidents = std::move(readings.incidents);
    summary.startsBeforeFirstMeasurement =
        readings.earliestMeasurementKnown && (!readings.earliestMeasurement || *readings.earliestMeasurement > start);
    return summary;
}

// ---- The model ------------------------------------------------------------------------------------

namespace {

// The slices of a month can stand on millions of raw samples: they are folded (and the samples let
// go) on a thread of their own, so the window keeps drawing while a long range loads.
asio::thread_pool& foldingThread()
{
    static asio::thread_pool pool(1);
    static const bool named = (rt::nameThreadOf(pool, "pv-history"), true);
    (void)named;
    return pool;
}

rt::awaitable<HistorySummary> fold(HistoryRange range, HistoryReadings readings, Timestamp start, Timestamp end)
{
    co_return makeHistorySummary(range, std::move(readings), start, end);
}

rt::awaitable<HistoryReadings> readFromStore(std::shared_ptr<SQLiteStore> store, HistoryRange range, Timestamp start,
                                             Timestamp end)
{
    HistoryReadings readings;
    // Folded as the rows arrive, a month being millions of rows: each part of the period into a
    // fold of its own (the store reads the parts at once), merged with the roll-ups off this thread.
    // Only the kinds that fill slices are read row by row; the others are counted in the same read.
    std::vector<std::shared_ptr<HistorySlices>> parts, parts6;
    std::vector<std::function<void(const SamplePoint&)>> visitors;
    for (std::size_t i = 0; i < SQLiteStore::periodReadParts(); ++i) {
        auto part = std::make_shared<HistorySlices>(start, end);
        auto part6 = std::make_shared<HistorySlices>(start, end);
        visitors.push_back([part, part6](const SamplePoint& p) {
            (p.family == AddressFamily::ipv6 ? *part6 : *part).addSample(p.timestamp, p.kind, p.latencyMilliseconds, p.success);
        });
        parts.push_back(std::move(part));
        parts6.push_back(std::move(part6));
    }
    const SampleVisit visit = co_await store->visitSamples(start, end, HistorySlices::foldedKinds(), std::move(visitors));
    readings.unfoldedSamples = visit.total - visit.visited;
    readings.family = co_await store->analysedFamily(start, end, rollupBucketSeconds(range));
    readings.folded = std::move(parts);
    readings.foldedIpv6 = std::move(parts6);
    readings.incidents = co_await store->incidents(start, end);
    readings.rollups = co_await store->rollups(rollupBucketSeconds(range), start, end);
    readings.earliestMeasurement = co_await store->earliestMeasurement();
    readings.earliestMeasurementKnown = true;
    co_return std::move(readings);
}

} // namespace

HistoryViewModel::Reader HistoryViewModel::storeReader(std::shared_ptr<SQLiteStore> store)
{
    // A longer range reads far into the file (a month's points index, the roll-ups), pages that the
    // recorder has not touched since the program started and that the system has long let go: the
    // first switch to such a range would wait for the disk. So SQLite reads them ahead as soon as the
    // history is opened, while the day's range loads and is looked at.
    if (store)
        (void)store->warmFileCache();
    return [store](HistoryRange range, Timestamp start, Timestamp end) {
        return readFromStore(store, range, start, end);
    };
}

std::shared_ptr<HistoryViewModel> HistoryViewModel::create(std::shared_ptr<SQLiteStore> store)
{
    return create(storeReader(std::move(store)));
}

std::shared_ptr<HistoryViewModel> HistoryViewModel::create(Reader reader, std::function<Timestamp()> clock)
{
    return std::make_shared<HistoryViewModel>(Token{}, std::move(reader), std::move(clock));
}

HistoryViewModel::HistoryViewModel(Token, Reader reader, std::function<Timestamp()> clock)
    : reader_(std::move(reader))
    , clock_(clock ? std::move(clock) : std::function<Timestamp()>(&nowTimestamp))
{
}

void HistoryViewModel::setRange(HistoryRange range)
{
    if (range == range_)
        return;
    range_ = range;
    Q_EMIT rangeChanged();
    reload();
}

void HistoryViewModel::setLoading(bool loading)
{
    if (isLoading_ == loading)
        return;
    isLoading_ = loading;
    Q_EMIT isLoadingChanged();
}

void HistoryViewModel::reload()
{
    // The earlier summary stays on screen while the new one loads.
    const std::uint64_t generation = ++generation_;
    setLoading(true);
    asio::co_spawn(rt::QtExecutor(), runLoad(weak_from_this(), generation), asio::detached);
}

rt::awaitable<void> HistoryViewModel::runLoad(std::weak_ptr<HistoryViewModel> weak, std::uint64_t generation)
{
    // From here on the load keeps the model alive until it ends.
    const std::shared_ptr<HistoryViewModel> self = weak.lock();
    if (!self)
        co_return;
    const HistoryRange range = self->range_;
    const Timestamp end = self->clock_();
    const Timestamp start = end - duration(range);
    const std::optional<double> rawRetention =
        self->rawRetention_ ? std::optional<double>(self->rawRetention_()) : std::nullopt;
    std::optional<HistorySummary> result;
    try {
        HistoryReadings readings = co_await self->reader_(range, start, end);
        result = co_await asio::co_spawn(foldingThread().get_executor(), fold(range, std::move(readings), start, end),
                                         rt::uncancellable());
    } catch (const std::exception&) {
        // The screen shows its empty-history state; the error itself is not kept.
        result.reset();
    }
    ++self->finishedLoads_;
    // A load that a newer one replaced publishes nothing, whether it succeeded or failed: a stale
    // failure must not blank the newer summary.
    if (generation == self->generation_) {
        if (result)
            result->rawRetentionSeconds = rawRetention;
        self->summary_ = std::move(result);
        Q_EMIT self->summaryChanged();
        self->setLoading(false);
    }
    Q_EMIT self->loadFinished();
}

} // namespace pv
