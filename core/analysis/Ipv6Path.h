#pragma once
// The IPv6 path of a dual-stack network, judged beside the IPv4 analysis: whether it works, and if
// not, where it stalls (at the router, at the provider, slower or lossier than IPv4 to the same
// hosts, or only its name or page check), with the Hungarian sentences and advice of each case.
// The newest minute decides what holds now; the batches of the window tell since when a fault has
// been shown and when it was last shown. An IPv4 fault never makes an IPv6 fault of its own.
// Pure: the view model keeps the journal.

#include "core/analysis/Attribution.h"
#include "core/records/Records.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace pv {

enum class Ipv6PathState {
    absent,        // the network has no IPv6 path: nothing is measured, and that is no fault
    notMeasured,   // the user switched the IPv6 measuring off: nothing is judged
    onlyPath,      // the network has no IPv4: the main analysis runs on IPv6
    collecting,    // too few IPv6 measurements yet
    healthy,
    routerQuiet,   // the IPv6 router ignores echoes to itself while the public IPv6 hosts answer: no fault
    ipv4Down,      // IPv4 stalls beyond the router while the public IPv6 hosts answer: IPv4's provider
                   // fault, journalled here (the main journal holds none meanwhile), and no outage
    sharedFault,   // IPv4 fails at the same place: the main analysis speaks of it
    routerSilent,  // neither the IPv6 router nor anything beyond it answers while IPv4 works
    providerDown,  // the IPv6 router answers, the public IPv6 hosts do not, IPv4 reaches them
    slowOrLossy,   // IPv6 reaches the public hosts much slower or with much more loss than IPv4
    nameOrPage     // the AAAA lookup or the page check over IPv6 fails while over IPv4 it works
};

struct Ipv6PathThresholds {
    double newestMinute = 60;   // what holds now is judged from this stretch
    double window = 600;        // how far back a fault's start and last showing are looked for
    double quietGap = 60;       // batches that show a fault closer than this belong to one episode
    int minimumSamples = 2;     // of a leg in the newest minute before it is called silent
    double slowFactor = 2;      // IPv6 median at least this many times the IPv4 one …
    double slowMarginMs = 30;   // … and at least this much above it
    double lossMargin = 0.2;    // IPv6 loss this far above the IPv4 loss to the same hosts
};

struct Ipv6PathJudgement {
    Ipv6PathState state = Ipv6PathState::absent;
    // The first batch of the fault's episode (a fault only).
    std::optional<Timestamp> since;
    // The public IPv6 hosts in the newest minute, beside IPv4 to the same hosts.
    std::optional<double> medianRtt;
    std::optional<double> ipv4MedianRtt;
    double lossRatio = 0;
    double ipv4LossRatio = 0;
    // The IPv6 router in the newest minute.
    std::optional<double> routerRtt;
    // With the measuring switched off: whether the network has an IPv6 route all the same (none
    // before a route has been read).
    std::optional<bool> routeHasIpv6;
    bool operator==(const Ipv6PathJudgement&) const = default;

    bool isFault() const;
};

// The Settings switch, and what the route reader knows of the network's IPv6 route.
struct Ipv6Measuring {
    bool on = true;
    std::optional<bool> routeHasIpv6;
};

class Ipv6PathJudge {
public:
    // The samples read, held where they are (the model judges after every batch, over the window).
    using SampleRefs = std::vector<const NetworkSample*>;

    // samples: both families, any order (those of the window at `at` are read). Switched off, no
    // sample is judged, however fresh.
    static Ipv6PathJudgement judge(const SampleRefs& samples, Timestamp at, const Ipv6PathThresholds& t = {},
                                   const Ipv6Measuring& measuring = {});
    static Ipv6PathJudgement judge(const std::vector<NetworkSample>& samples, Timestamp at,
                                   const Ipv6PathThresholds& t = {}, const Ipv6Measuring& measuring = {});
    // The newest batch of the window that shows `state` (a fault state), if any.
    static std::optional<Timestamp> lastShown(const SampleRefs& samples, Ipv6PathState state, Timestamp at,
                                              const Ipv6PathThresholds& t = {});
    static std::optional<Timestamp> lastShown(const std::vector<NetworkSample>& samples, Ipv6PathState state,
                                              Timestamp at, const Ipv6PathThresholds& t = {});
};

// The journal's kind of each fault state, and back.
std::optional<IncidentClassification> incidentClassification(Ipv6PathState state);
std::optional<Ipv6PathState> ipv6PathState(IncidentClassification c);

// The sentence the overview and the panel show; empty for collecting and the main analysis' cases.
QString headline(const Ipv6PathJudgement& j);
// The evidence kept with the incident: the headline and the figures.
QString evidenceSummary(const Ipv6PathJudgement& j);
// What the user sees meanwhile, what to tell the provider, and the temporary way round it.
QStringList advice(Ipv6PathState state);
// The notification's title for a fault state.
QString notificationTitle(Ipv6PathState state);
// The IPv4 analysis' finding while IPv4 stalls beyond the router and IPv6 gets through (the state
// says so, or the newest batch's public IPv6 hosts answered: the state needs a minute): the
// provider's fault, not an outage (something beyond the router answers the program's probes).
// Any other finding is returned as it is.
FaultAttribution besideIpv6(FaultAttribution a, const Ipv6PathJudgement& j, bool ipv6PublicAnswersNow = false);

} // namespace pv
