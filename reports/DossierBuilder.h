#pragma once
// Assembles a dossier document from the evidence store on the store's thread. The period's samples
// and Wi-Fi readings are folded one row at a time as they are read, so a month of raw samples is never
// held as a list: what is kept of a sample is its latency (for the medians and percentiles) and a few
// sums per slice, hour and leg.
//
// Two medians are in use on purpose. The period's medians and 95th percentile take the element at
// floor(q × (n − 1)) of the sorted values (the lower middle); the timeline, the hourly profile and
// the access points take the element at n / 2 (the upper middle).

#include "core/analysis/Attribution.h"
#include "core/analysis/Verdict.h"
#include "core/records/Records.h"
#include "core/records/Runtime.h"
#include "core/store/Retention.h"
#include "core/store/SQLiteStore.h"
#include "reports/DossierModel.h"

#include <QString>

#include <array>
#include <map>
#include <optional>
#include <set>
#include <unordered_map>
#include <utility>
#include <vector>

namespace pv {

namespace store {
class StoreDatabase;
}

// The Wi-Fi readings of a period, folded one at a time.
class DossierWifiFold {
public:
    void add(const WifiSnapshot& reading);

    // Groups keyed by BSSID, else SSID, else "ismeretlen", most readings first; equal groups keep the
    // order of their first reading.
    std::vector<AccessPointBreakdown> accessPoints(bool anonymise) const;
    const std::set<QString>& interfaceNames() const { return interfaces_; }
    // What the attribution judges the radio by over the whole period: the reading with the period's
    // median signal stands for it (the period's last reading when none carries a signal). When the
    // period's readings did not all carry one node fingerprint, two that differ precede it, so that
    // the period's roam counts.
    std::vector<WifiSnapshot> radioReadings() const;

private:
    struct Group {
        QString key;
        int count = 0;
        std::optional<QString> band; // the last one reported
        std::vector<int> rssi;
        long long weak = 0;
        WifiSnapshot first; // the group's first reading
    };
    struct Signal {
        int rssi = 0;
        std::optional<int> noise;
        bool interfaceUp = false;
        std::size_t group = 0;
    };
    std::vector<Group> groups_;
    std::unordered_map<QString, std::size_t> indexOf_;
    std::set<QString> interfaces_;
    std::vector<Signal> signals_; // the readings that carry one, in time order
    std::optional<WifiSnapshot> firstReading_;
    std::optional<WifiSnapshot> otherNode_; // the first reading whose node differs from the first's
    std::optional<WifiSnapshot> lastReading_;
};

// The period's samples folded one at a time, in time order, with the roll-ups read for it. IPv6 samples
// and roll-ups count for the coverage, the sample count and the IPv6 page only, unless the period holds
// no IPv4 one.
class DossierSampleFold {
public:
    // rollups: those read for the period, the bucket holding its start included (it counts for the
    // gaps only); wifiInterfaces: the interfaces of the period's Wi-Fi readings.
    // main: the family whose samples make the figures (IPv6 on an IPv6-only network); the other one
    // counts for the coverage, the sample count and the IPv6 page.
    DossierSampleFold(const DossierRequest& request, const std::vector<SampleRollup>& rollups,
                      std::set<QString> wifiInterfaces, AddressFamily main = AddressFamily::ipv4);
    // Rows or roll-ups of the other family only: the period was measured on a network without the main one.
    bool onlyOtherFamily() const { return anyIpv6_ && mainRows_ == 0 && !mainRollups_; }
    void add(const SampleRow& row);
    // Follows the provider samples within each incident (an open one up to the period's end), so that
    // finish names each incident of doc.outages that was no outage for what the samples of its time show.
    void watchIncidents(const std::vector<Incident>& incidents);
    // Fills the document's figures: timeline, gaps, coverage, sample count, hourly profile, wired
    // comparison, medians, loss, the stretch of the detailed figures; and the engines' evidence.
    void finish(DossierDocument& doc, VerdictEvidence& verdict, AttributionEvidence& attribution);

private:
    struct LossSum {
        long long count = 0;
        long long failed = 0; // success flag false
        double sum = 0;       // of the loss values, in time order
        long double preciseSum = 0;
        bool everyLoss = true;
        void add(const SampleRow& row);
        double ratio() const;        // the mean loss when every sample carries one, else the failed share
        double engineRatio() const;  // the same with the analysis engines' extended-precision mean
    };
    struct Leg {
        LossSum loss;
        std::vector<double> latencies; // successful ones, in time order until finish sorts them
        LegMeasurement measure();
    };
    struct Slice {
        std::size_t routerBegin = 0, routerEnd = 0;
        std::size_t providerBegin = 0, providerEnd = 0;
        long long providerCount = 0;
        long long providerFailures = 0;
        // Folded raw samples: the p50s of the roll-up-wide buckets that begin in the slice (router,
        // provider), and their provider counts; whether any such bucket held a router latency or a
        // provider sample; the starts of those buckets, ascending.
        std::vector<double> foldedRouter, foldedProvider;
        long long foldedCount = 0;
        long long foldedFailures = 0;
        bool folded = false;
        std::vector<Timestamp> foldedStarts;
        // From the roll-ups.
        std::vector<double> rolledRouter, rolledProvider;
        long long rolledCount = 0;
        long long rolledFailures = 0;
        // The roll-up buckets of the slice one by one, for a slice whose raw buckets fold beside them.
        struct Rolled {
            Timestamp start = 0;
            bool router = false;
            long long count = 0, failures = 0;
            std::optional<double> p50;
        };
        std::vector<Rolled> rolled;
    };
    struct HourBucket {
        long long count = 0;
        long long failures = 0;
        std::vector<double> values; // bucket p50 values, one once folded
        bool raw = false;
    };
    // The raw samples of one roll-up-wide bucket, being gathered: on the roll-ups' own grid, so that
    // a bucket belongs whole to the slice in which it begins, as a roll-up bucket does.
    struct RawBucket {
        std::optional<Timestamp> start;
        std::vector<double> router, provider; // successful latencies
        long long providerCount = 0;
        long long providerFailures = 0;
    };
    // What the roll-ups of a leg say of its loss.
    struct RolledLoss {
        long long count = 0, failed = 0;
        long double sum = 0; // loss ratio × sample count
        bool everyLoss = true;
        void add(const SampleRollup& rollup);
    };
    struct Covered {
        Timestamp start;
        Timestamp end;
    };
    // The provider samples within one incident.
    struct IncidentWindow {
        QUuid id;
        IncidentClassification classification = IncidentClassification::unknown;
        Timestamp start = 0, end = 0;
        LossSum loss;
    };

    int sliceOf(Timestamp t) const;
    void cover(Timestamp start, Timestamp end);
    void coverRollupsUpTo(Timestamp t);
    void closeRawHour();
    void closeRawBucket();
    // The loss of a leg over the whole period: its raw samples and its roll-ups.
    static double periodLoss(const LossSum& raw, const RolledLoss& rolled);

    DossierRequest request_;
    double sliceWidth_ = 0;
    // Raw slices wider than one roll-up bucket are folded by the roll-ups' rule: each bucket's p50,
    // then the slice's median of those, as a slice of roll-ups is drawn. Zero: not folded.
    double foldWidth_ = 0;
    RawBucket rawBucket_;
    std::array<Slice, 120> slices_{};
    int currentSlice_ = -1;

    std::array<Leg, 4> legs_{}; // gateway, publicIP, dns, http
    std::vector<bool> providerOverWifi_; // beside the provider latencies
    LossSum wifiLoss_, wiredLoss_;
    std::array<RolledLoss, 2> rolledLoss_{}; // router, provider (IPv4)
    // For the IPv6 page: each leg's IPv6 samples, and each family's roll-ups by leg.
    std::array<Leg, 4> ipv6Legs_{};
    std::array<std::array<RolledLoss, 4>, 2> familyRolled_{}; // [IPv4, IPv6][leg]
    std::array<std::array<std::vector<double>, 4>, 2> familyP50_{};
    bool anyIpv6_ = false; // any row or roll-up of the other family
    AddressFamily main_ = AddressFamily::ipv4;
    long long mainRows_ = 0;
    bool mainRollups_ = false;
    void compareFamilies(DossierDocument& doc);
    std::array<std::vector<double>, 2> rolledP50_{}; // router, provider: the buckets' p50s

    std::set<QString> wifiInterfaces_;
    QByteArray lastInterface_;
    bool lastInterfaceIsWifi_ = false;
    bool hasInterface_ = false;

    // Verdict and attribution.
    std::optional<Timestamp> firstSample_, lastSample_, firstProvider_, lastProvider_;
    std::optional<double> lastProviderLatency_;
    long double jitterSum_ = 0;
    long long jitterSteps_ = 0;
    long long dnsUnanswered_ = 0, dnsNewestUnanswered_ = 0, dnsErrorAnswered_ = 0;

    // Gaps.
    std::vector<Covered> rolledCover_;
    std::size_t nextRolled_ = 0;
    Timestamp cursor_ = 0;
    bool anyCover_ = false;
    std::vector<MeasurementGap> gaps_;

    // Hourly profile: hour buckets keyed by their start.
    std::map<Timestamp, HourBucket> hours_;
    std::optional<Timestamp> rawHour_;
    HourBucket rawHourBucket_;
    std::vector<double> rawHourLatencies_;

    // Incidents by start; those begun and not yet ended at the newest sample.
    std::vector<IncidentWindow> windows_;
    std::size_t nextWindow_ = 0;
    std::vector<std::size_t> activeWindows_;

    long long rawCount_ = 0;
    long long rolledSampleCount_ = 0;
    std::optional<Timestamp> earliestRollup_, latestRollup_; // the roll-ups' first and last sample
};

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
    // The document from rows already read (any order).
    static DossierDocument assemble(const DossierRequest& request, Timestamp generatedAt, const QString& appVersion,
                                    const std::vector<NetworkSample>& samples, const std::vector<Incident>& incidents,
                                    const std::vector<WifiSnapshot>& wifi, const std::vector<SampleRollup>& rollups);

    // The roll-up width read for a period: minute buckets up to 7 days, hour buckets beyond.
    static double rollupBucketSeconds(double period);

    // The steps, each over rows already read.
    // A slice wider than one roll-up bucket of the period is drawn by the roll-ups' rule whether its
    // rows are raw or rolled up: the median of its buckets' p50s.
    static std::vector<DossierTimelinePoint> timeline(const std::vector<NetworkSample>& samples,
                                                      const std::vector<SampleRollup>& rollups,
                                                      const DossierRequest& request);
    // A roll-up bucket vouches for the stretch from its first to its last sample; a bucket written
    // before those were recorded, for its whole width.
    static std::vector<MeasurementGap> gaps(const std::vector<NetworkSample>& samples,
                                            const std::vector<SampleRollup>& rollups, const DossierRequest& request);
    // The measured share of the period: what the gaps leave of it.
    static double coverageRatio(const std::vector<MeasurementGap>& gaps, const DossierRequest& request);
    // Every incident but those of the IPv6 path, ascending by start, named by its classification and
    // stored finding.
    static std::vector<OutageRecord> outages(const std::vector<Incident>& incidents);
    // The incidents of the IPv6 path, ascending by start.
    static std::vector<Ipv6IncidentRecord> ipv6Incidents(const std::vector<Incident>& incidents);
    // What an incident was: an outage when the journal says it was one (or it cut the whole
    // connection), whatever is kept of its time; a name-resolution or access-point incident by its
    // classification; any other by the provider samples of its time when at least two are held (a
    // loss of 5 % or more: loss; otherwise slowness), and without them a disturbance (which
    // makeDocument names by the minute roll-ups of its time where they are kept).
    static IncidentNature incidentNature(IncidentClassification classification, bool outage,
                                         long long providerSamples = 0, double lossRatio = 0);
    // Where an outage lay: the location whose incident classification matches, the Wi-Fi link for
    // a reassociation or roam, otherwise offline.
    static FaultLocation outageLocation(IncidentClassification classification);
    // Every day weighs alike: raw samples are folded into hour buckets by the roll-ups' own p50 rule,
    // and each clock hour's median is taken over the bucket values of every day.
    static std::vector<HourlyProfileEntry> hourlyProfile(const std::vector<const NetworkSample*>& providerSamples,
                                                         const std::vector<SampleRollup>& rollups);
    static std::vector<AccessPointBreakdown> accessPoints(const std::vector<WifiSnapshot>& wifi, bool anonymise);
    static WiredWiFiComparison wiredComparison(const std::vector<const NetworkSample*>& providerSamples,
                                               const std::vector<WifiSnapshot>& wifi);

    // Successful latencies at index floor(q × (n − 1)) of the sorted values; absent without any.
    static std::optional<double> percentile(double q, const std::vector<const NetworkSample*>& samples);
    // The same over sorted latencies.
    static std::optional<double> sortedPercentile(double q, const std::vector<double>& sorted);
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
