#pragma once
// The values a measurement dossier is made of: the records in its lists, the document with every
// figure the pages print, the fixed page list with its titles, and the dossier's errors.
//
// All of them are plain values: the document is built on the store's thread and handed to the GUI
// thread as a copy. Instants are seconds since 1970, durations seconds, latencies milliseconds,
// ratios fractions from 0 to 1 (never percentages), RSSI dBm.

#include "core/analysis/Attribution.h"
#include "core/analysis/Verdict.h"
#include "core/app/ReportServices.h" // DossierRequest
#include "core/records/FailureText.h"
#include "core/records/Records.h"

#include <QString>
#include <QUrl>
#include <QUuid>

#include <exception>
#include <optional>
#include <string>
#include <vector>

namespace pv {

// A stretch of the period in which nothing was measured.
struct MeasurementGap {
    QUuid id;            // drawn when the gap is made
    Timestamp start = 0; // last measurement before the gap, or the period start
    Timestamp end = 0;   // next measurement after the gap, or the period end
    bool operator==(const MeasurementGap&) const = default;

    double duration() const { return end - start; }
};

// What a stored incident was, as the dossier names it: only an outage is a "kimaradás".
enum class IncidentNature {
    outage,          // the connection did not work at all
    slowness,        // it worked, slowly
    loss,            // it worked and lost packets
    nameResolution,  // names did not resolve, or slowly
    accessPointChange,
    disturbance, // slowness or loss, the samples of its time no longer held
};
// "Kimaradás", "Lassulás", "Csomagvesztés", "Névfeloldási hiba", "Hozzáférési pont váltása",
// "Lassulás vagy csomagvesztés".
QString title(IncidentNature nature);

// One incident of the period, taken from a stored incident.
struct OutageRecord {
    QUuid id; // the incident's id
    Timestamp start = 0;
    std::optional<Timestamp> end; // absent while the incident is open
    FaultLocation location = FaultLocation::offline;
    QString summary; // the incident's evidence summary, unchanged
    IncidentNature nature = IncidentNature::outage;
    bool operator==(const OutageRecord&) const = default;

    bool isOutage() const { return nature == IncidentNature::outage; }
    bool isOpen() const { return !end.has_value(); }
    // An open outage counts for nothing in any sum of durations.
    double duration() const { return end ? *end - start : 0.0; }
};

// The Wi-Fi snapshots of one access point.
struct AccessPointBreakdown {
    QString label; // BSSID, else SSID, else "ismeretlen"; "N. hozzáférési pont" when anonymised
    std::optional<QString> band; // of the group's last snapshot that reported one
    int sampleCount = 0;
    std::optional<int> medianRssi;
    double weakSampleRatio = 0; // share of the RSSI readings at or below -67 dBm
    bool operator==(const AccessPointBreakdown&) const = default;
};

// Provider samples split by the interface they went out on.
struct WiredWiFiComparison {
    int wifiSampleCount = 0;
    std::optional<double> wifiMedianMs;
    std::optional<double> wifiLossRatio; // absent without such a sample
    int wiredSampleCount = 0;
    std::optional<double> wiredMedianMs;
    std::optional<double> wiredLossRatio;
    bool operator==(const WiredWiFiComparison&) const = default;

    static constexpr int conclusiveSampleCount = 30;
    bool isConclusive() const
    {
        return wifiSampleCount >= conclusiveSampleCount && wiredSampleCount >= conclusiveSampleCount;
    }
    // What the Wi-Fi leg adds to the latency; may be negative.
    std::optional<double> wifiContributionMs() const
    {
        if (!isConclusive() || !wifiMedianMs || !wiredMedianMs)
            return std::nullopt;
        return *wifiMedianMs - *wiredMedianMs;
    }
};

// One local clock hour of the day.
struct HourlyProfileEntry {
    int hour = 0; // 0 to 23
    std::optional<double> medianMilliseconds;
    std::optional<double> lossRatio;
    int sampleCount = 0; // at least 1
    bool operator==(const HourlyProfileEntry&) const = default;
};

// One of at most 120 equal slices of the period.
struct DossierTimelinePoint {
    Timestamp time = 0; // start of the slice
    std::optional<double> routerMilliseconds;
    std::optional<double> providerMilliseconds;
    std::optional<double> lossRatio; // absent when the slice has no provider sample
    bool isAggregated = false;       // figures come from stored roll-ups
    bool operator==(const DossierTimelinePoint&) const = default;
};

// One leg measured over both address families in the period, by the period's figure rules.
struct FamilyLegComparison {
    ProbeKind kind = ProbeKind::gateway;
    std::optional<double> ipv4MedianMs, ipv6MedianMs;
    std::optional<double> ipv4LossRatio, ipv6LossRatio; // absent without a sample of that family
    long long ipv4SampleCount = 0, ipv6SampleCount = 0;
    bool operator==(const FamilyLegComparison&) const = default;
};

// An incident of the IPv6 path (the IPv4 path worked meanwhile).
struct Ipv6IncidentRecord {
    IncidentClassification classification = IncidentClassification::ipv6ProviderIssue;
    Timestamp start = 0;
    std::optional<Timestamp> end; // absent while the incident is open
    bool operator==(const Ipv6IncidentRecord&) const = default;
};

struct DossierDocument {
    DossierRequest request;
    Timestamp generatedAt = 0; // also the "now" given to the analysis engines
    QString appVersion;
    ConnectionVerdict verdict;
    FaultAttribution attribution;
    long long sampleCount = 0; // raw samples plus the sample counts of the roll-ups read
    double coverageRatio = 0;  // measured share of the period
    bool containsAggregatedPeriods = false;
    std::vector<DossierTimelinePoint> timeline;         // ascending, at most 120
    std::vector<OutageRecord> outages;                  // every incident of the period, ascending by start
    std::vector<MeasurementGap> gaps;                   // in time order
    std::vector<HourlyProfileEntry> hourlyProfile;      // ascending by hour
    std::vector<AccessPointBreakdown> accessPoints;     // most snapshots first
    WiredWiFiComparison wiredComparison;
    std::optional<double> medianRouterMs;
    std::optional<double> medianProviderMs;
    std::optional<double> p95ProviderMs;
    std::optional<double> lossRatio; // absent without a provider sample; roll-ups of the period count too
    // Where the period reaches back beyond its raw samples: the first raw sample, from which the
    // detailed figures (medians, 95th percentile, verdict, access points, the wired comparison) come;
    // absent when the raw samples cover the period or there is none.
    std::optional<Timestamp> detailedFiguresFrom;
    // The first measurement the store holds when it lies inside the period: the time before it is
    // no gap in the measuring but time before it began.
    std::optional<Timestamp> firstMeasurement;
    // No raw sample is left of the period: every figure comes from its roll-ups.
    bool onlyRollups = false;
    // The legs with an IPv6 sample or roll-up in the period, router first; empty without any. Every
    // other figure of the document comes from IPv4 samples only.
    std::vector<FamilyLegComparison> familyLegs;
    std::vector<Ipv6IncidentRecord> ipv6Incidents; // ascending by start; not among `outages`
    AddressFamily measuredFamily = AddressFamily::ipv4; // whose samples make the figures
    bool operator==(const DossierDocument&) const = default;

    // The sentence that says which stretch the detailed figures come from; absent without one.
    std::optional<QString> detailedFiguresNote() const;

    // Summed outage time over measured time; absent when nothing was measured. Not clipped to 1.
    std::optional<double> outageShareOfMeasuredTime() const;
    // The one sentence the IPv6 page gives for the provider; absent without IPv6 in the period.
    std::optional<QString> ipv6ProviderSentence() const;

    // What the missing share of the period was: without a first measurement inside the period, time
    // the computer slept or the recording paused; with one, the time before it, and the pauses after
    // it when they are more than a twentieth of the time since.
    QString coverageExplanation() const;
    // The incidents that were outages, and the others.
    std::vector<OutageRecord> trueOutages() const;
    std::vector<OutageRecord> otherIncidents() const;
    // The sentence the summary opens with when the period held outages: how many, how long in all,
    // and that the figures on answer times speak of the working time; absent without an outage.
    std::optional<QString> outageSentence() const;
    // Within the stretch whose raw samples the retention in force keeps, the gap that ends at the
    // first raw sample when it is longer than a day there (a night's sleep is only a gap): nothing
    // was measured then. Absent when the retention is not known.
    std::optional<std::pair<Timestamp, Timestamp>> unmeasuredRawStretch() const;
    static constexpr double kRawPauseSeconds = 86400;
    // The stretch the figures from raw samples speak of, for the notes: what the retention in force
    // keeps where the raw samples reach back to it (within a day), else the stretch from the first
    // raw sample (after a pause, or a shorter retention chosen before).
    QString rawFiguresStretchText() const;
    // The summary's first sentence: the attribution's headline, unless it calls a period that held
    // outages fine.
    QString headline() const;
    // The sentence on a period measured over IPv6 alone; absent otherwise.
    std::optional<QString> measuredFamilySentence() const;
    // The callout on the timeline's roll-up slices, worded for the stretch whose raw samples are
    // kept; absent when no slice comes from roll-ups.
    std::optional<QString> aggregatedPeriodsNote() const;
    // Which stretch the pages read from raw samples only (Wi-Fi against wired, access points) cover,
    // when that is less than the period.
    std::optional<QString> rawOnlyPagesNote() const;
    // Why the Wi-Fi against wired comparison cannot be made, for the stretch its counts cover: too few
    // samples on a side, or no raw sample left (the roll-ups keep no interface); absent when it can.
    std::optional<QString> wiredComparisonShortage() const;
};

// The pages in their fixed order.
enum class DossierPage {
    cover,
    summary,
    scopeAndLimits,
    coverage,
    outages,
    timeline,
    hourlyProfile,
    accessPoints,
    wiredComparison,
    ipv6,
    gapLedger,
    methodology,
    nextSteps,
    rawData,
};
// Every page; one added before the raw-data page, which stays last, counts by itself.
inline constexpr int kDossierPageCount = static_cast<int>(DossierPage::rawData) + 1;

// The page's fixed Hungarian title (not looked up).
QString title(DossierPage page);
// Every page in order.
std::vector<DossierPage> allDossierPages();

struct DossierPaginator {
    // The ordered, duplicate-free page list of the document: 10 to 14 pages, the scope page
    // always third.
    static std::vector<DossierPage> pages(const DossierDocument& document);
};

class DossierError : public std::exception, public FailureCauseCarrier {
public:
    enum class Kind { destinationNotWritable, nothingToReport };

    // `cause` says why, when the file system told (a full disk, a read-only folder).
    static DossierError destinationNotWritable(QUrl url, FailureCause cause = FailureCause::unknown)
    {
        return DossierError(Kind::destinationNotWritable, std::move(url), cause);
    }
    static DossierError nothingToReport() { return DossierError(Kind::nothingToReport, {}); }

    Kind kind() const { return kind_; }
    FailureCause cause() const { return cause_; }
    FailureCause failureCause() const override
    {
        return kind_ == Kind::nothingToReport ? FailureCause::nothingMeasured : cause_;
    }
    // The destination whose writing failed; empty for nothingToReport.
    const QUrl& url() const { return url_; }
    QString failurePath() const override { return kind_ == Kind::destinationNotWritable ? path() : QString(); }
    // The URL's path as the file system spells it.
    QString path() const;
    QString errorDescription() const;
    const char* what() const noexcept override { return what_.c_str(); }
    bool operator==(const DossierError& other) const { return kind_ == other.kind_ && url_ == other.url_; }

private:
    DossierError(Kind kind, QUrl url, FailureCause cause = FailureCause::unknown);
    Kind kind_;
    QUrl url_;
    FailureCause cause_ = FailureCause::unknown;
    std::string what_;
};

} // namespace pv
