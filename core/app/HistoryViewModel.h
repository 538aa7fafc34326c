#pragma once
// The history section's model: what the evidence store holds for the last day, week or month,
// folded into 96 equal time slices (router and provider medians, provider loss, and whether a
// slice came from roll-ups), with the incidents of the period, the number of measurements behind
// it and the share of slices that hold any measurement.

#include "core/records/Enum.h"
#include "core/records/Records.h"
#include "core/records/RecordId.h"
#include "core/records/Runtime.h"
#include "core/store/Retention.h"

#include <QObject>
#include <QUuid>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace pv {

class SQLiteStore;

enum class HistoryRange { day, week, month };
inline constexpr EnumTable<HistoryRange, 3> kHistoryRangeTable{
    {{{HistoryRange::day, "day"}, {HistoryRange::week, "week"}, {HistoryRange::month, "month"}}}};
inline QString rawValue(HistoryRange r) { return kHistoryRangeTable.rawText(r); }
inline std::optional<HistoryRange> parseHistoryRange(const QString& s) { return kHistoryRangeTable.parse(s); }
inline auto allHistoryRanges() { return kHistoryRangeTable.allCases(); }
inline QString id(HistoryRange r) { return rawValue(r); }
QString title(HistoryRange r); // "24 óra", "7 nap", "30 nap"
double duration(HistoryRange r); // seconds
// The roll-up width read for the range: minute buckets for the first two ranges, hour buckets after.
double rollupBucketSeconds(HistoryRange r);

inline constexpr int kHistorySliceCount = 96;

struct HistoryBucket {
    QUuid id = newRecordId();
    Timestamp start = 0;
    std::optional<double> medianGatewayMs;
    std::optional<double> medianProviderMs;
    std::optional<double> lossRatio;
    bool isAggregated = false;

    bool isGap() const { return !medianGatewayMs && !medianProviderMs; }
};

struct HistorySummary {
    HistoryRange range = HistoryRange::day;
    std::vector<HistoryBucket> buckets;
    std::vector<Incident> incidents; // ascending by start, as the store gives them
    long long sampleCount = 0;
    double coverageRatio = 0;
    // Nothing was measured before the period: its slices before the first measurement are no gap in
    // the measuring but time before it began.
    bool startsBeforeFirstMeasurement = false;
    // How long the store keeps raw samples under the retention in force when the period was read.
    std::optional<double> rawRetentionSeconds;

    std::vector<Incident> openIncidents() const;
    bool containsAggregatedBuckets() const;
};

// The fold of raw samples and roll-ups into the 96 slices of [start, end], one item at a time, so
// that a month of samples never has to be held as records.
class HistorySlices {
public:
    HistorySlices(Timestamp start, Timestamp end);
    void addSample(Timestamp t, ProbeKind kind, const std::optional<double>& latencyMilliseconds, bool success);
    void addRollup(const SampleRollup& rollup);
    // Counts raw samples that fill no slice (DNS and HTTP checks) without adding them one by one.
    void countSamples(long long count) { sampleCount_ += count; }
    // The kinds of raw sample that fill slices; the others only count.
    static const std::vector<ProbeKind>& foldedKinds();
    // Adds everything another fold of the same period holds, as if its items had been added here.
    void merge(HistorySlices&& other);
    // Every raw sample added (every kind and outcome) and every roll-up's own sample count.
    long long sampleCount() const { return sampleCount_; }
    // The slices: raw data wins slice by slice, roll-ups fill the rest. Empties the fold.
    std::vector<HistoryBucket> takeBuckets();

private:
    struct Slice {
        std::vector<double> router, provider, rollupRouter, rollupProvider;
        long long providerProbes = 0, providerFailures = 0, rollupProbes = 0, rollupFailures = 0;
    };
    Slice* sliceOf(Timestamp t);
    Timestamp start_;
    double width_ = 0;
    bool empty_;
    long long sampleCount_ = 0;
    std::vector<Slice> slices_;
};

// What one load reads from the store, in its reading order. A reader may fold the raw samples
// into `folded` as it reads them instead of listing them, in as many folds of the same period as
// it likes (they are merged when the summary is made).
struct HistoryReadings {
    std::vector<NetworkSample> samples;
    std::vector<Incident> incidents;
    std::vector<SampleRollup> rollups;
    std::vector<std::shared_ptr<HistorySlices>> folded;
    std::vector<std::shared_ptr<HistorySlices>> foldedIpv6; // the IPv6 samples, folded apart
    long long unfoldedSamples = 0; // counted by the store, of kinds no slice draws, either family
    // The family the dossier and the score analyse for the period, as the store tells it; without
    // it, judged from what the readings hold.
    std::optional<AddressFamily> family;
    // The oldest measurement the store holds, raw or rolled up; none for an empty store.
    std::optional<Timestamp> earliestMeasurement;
    bool earliestMeasurementKnown = false; // the reader asked the store for it
};

// The element at count / 2 of the sorted values (the upper middle); absent for none.
std::optional<double> historyMedian(std::vector<double> values);
// The slices of [start, end]: raw data wins slice by slice, roll-ups fill the rest.
std::vector<HistoryBucket> buildBuckets(const std::vector<NetworkSample>& samples,
                                        const std::vector<SampleRollup>& rollups, Timestamp start, Timestamp end);
HistorySummary makeHistorySummary(HistoryRange range, HistoryReadings readings, Timestamp start, Timestamp end);

class HistoryViewModel : public QObject, public std::enable_shared_from_this<HistoryViewModel> {
    Q_OBJECT

public:
    // Reads the period; throws on any failure of the store.
    using Reader = std::function<rt::awaitable<HistoryReadings>(HistoryRange range, Timestamp start, Timestamp end)>;

    // A load holds the model weakly, so the model is always shared.
    static std::shared_ptr<HistoryViewModel> create(std::shared_ptr<SQLiteStore> store);
    static std::shared_ptr<HistoryViewModel> create(Reader reader, std::function<Timestamp()> clock = {});
    // The store's reads, in the order samples, incidents, roll-ups, each on the store's thread.
    static Reader storeReader(std::shared_ptr<SQLiteStore> store);

    const std::optional<HistorySummary>& summary() const { return summary_; }
    bool isLoading() const { return isLoading_; }
    HistoryRange range() const { return range_; }
    // A different range reloads right after the change is announced; the same one does nothing.
    void setRange(HistoryRange range);
    // Asked at each load, on the model's thread, for the raw retention in force.
    void setRawRetention(std::function<double()> seconds) { rawRetention_ = std::move(seconds); }

    // Starts a load of the current range, replacing the one in flight; returns at once. The newest
    // load always wins: a replaced load publishes nothing, neither its result nor its failure.
    void reload();

    // Loads that have run to their end, published or not.
    int finishedLoads() const { return finishedLoads_; }

Q_SIGNALS:
    void summaryChanged();
    void isLoadingChanged();
    void rangeChanged();
    void loadFinished();

private:
    struct Token {};

public:
    // Through create() only.
    HistoryViewModel(Token, Reader reader, std::function<Timestamp()> clock);

private:
    static rt::awaitable<void> runLoad(std::weak_ptr<HistoryViewModel> weak, std::uint64_t generation);
    void setLoading(bool loading);

    Reader reader_;
    std::function<Timestamp()> clock_;
    std::function<double()> rawRetention_;
    std::optional<HistorySummary> summary_;
    bool isLoading_ = false;
    HistoryRange range_ = HistoryRange::day;
    std::uint64_t generation_ = 0;
    int finishedLoads_ = 0;
};

} // namespace pv
