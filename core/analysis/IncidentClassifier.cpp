#include "core/analysis/IncidentClassifier.h"

#include "core/records/Localization.h"

#include <QLocale>

#include <algorithm>
#include <cmath>
#include <limits>

namespace pv {

namespace {

struct Group {
    IncidentClassification classification;
    std::vector<const Incident*> incidents;
};

// Groups in the order in which each classification first appears in the input. That order is what
// breaks ties below: between equal total durations and between equally frequent classifications,
// the classification met first wins. (Any fixed order would do; this one follows the user's data.)
std::vector<Group> groupByClassification(const std::vector<Incident>& incidents)
{
    std::vector<Group> groups;
    for (const Incident& i : incidents) {
        auto it = std::find_if(groups.begin(), groups.end(),
                               [&](const Group& g) { return g.classification == i.classification; });
        if (it == groups.end())
            groups.push_back({i.classification, {&i}});
        else
            it->incidents.push_back(&i);
    }
    return groups;
}

QString causeRecommendation(IncidentClassification c)
{
    switch (c) {
    case IncidentClassification::wifiLinkDegraded:
        return L("Compare the current room against a router-near baseline and consider bypassing the repeater.");
    case IncidentClassification::reassociationOrRoam:
        return L("Track which BSSID is present before each drop to confirm roaming between router and repeater nodes.");
    case IncidentClassification::gatewayCongestion:
        return L("Repeat the test at a quiet time to verify router or shared-LAN contention.");
    case IncidentClassification::internetUpstreamIssue:
        return L("Collect another router-near report before escalating to the ISP.");
    case IncidentClassification::dnsOnlyIssue: return L("Test a different DNS server and compare.");
    case IncidentClassification::offline: return L("Cross-check with router power, backhaul and ISP outage windows.");
    case IncidentClassification::unknown: return L("Collect a longer comparison session in two physical locations.");
    case IncidentClassification::ipv6RouterIssue:
    case IncidentClassification::ipv6ProviderIssue:
    case IncidentClassification::ipv6SlowOrLossy:
    case IncidentClassification::ipv6NameOrPageIssue:
        return L("Report the IPv6 path to the ISP; switching IPv6 off on the router is a temporary workaround.");
    case IncidentClassification::ipv4ProviderIssue:
        return L("Report the IPv4 path to the ISP (often a separate service: CGNAT, DS-Lite or a tunnel); IPv6 still works.");
    }
    return {};
}

QString overnightSentence()
{
    return L("Keep the app running overnight and add a router-near baseline marker for comparison.");
}

QString nextTest(IncidentClassification c)
{
    switch (c) {
    case IncidentClassification::wifiLinkDegraded:
    case IncidentClassification::reassociationOrRoam:
        return L("Run the 10 minute router-near baseline, then repeat the same workflow from the current room and compare BSSID changes.");
    case IncidentClassification::gatewayCongestion:
        return L("Repeat monitoring during a quiet period and during peak occupancy to confirm shared-router congestion.");
    case IncidentClassification::internetUpstreamIssue:
        return L("Capture one more evening report near the router, then use the evidence to speak with the ISP.");
    case IncidentClassification::dnsOnlyIssue: return L("Test another DNS resolver and compare the next 30 minutes.");
    case IncidentClassification::offline:
        return L("Correlate the outage timestamps with power, repeater resets, or router logs if available.");
    case IncidentClassification::unknown: return overnightSentence();
    case IncidentClassification::ipv6RouterIssue:
    case IncidentClassification::ipv6ProviderIssue:
    case IncidentClassification::ipv6SlowOrLossy:
    case IncidentClassification::ipv6NameOrPageIssue:
    case IncidentClassification::ipv4ProviderIssue:
        return L("Compare the IPv6 and IPv4 figures of the next dossier, then hand its IPv6 page to the ISP.");
    }
    return overnightSentence();
}

} // namespace

std::vector<LikelyCauseSummary> IncidentClassifier::likelyCauses(const std::vector<Incident>& incidents, Timestamp now,
                                                                 const QLocale& numbers)
{
    struct Ranked {
        const Group* group;
        double total;
        double key; // the total, with an undefined one (corrupt timestamps) ranked last
    };
    const std::vector<Group> groups = groupByClassification(incidents);
    std::vector<Ranked> ranked;
    for (const Group& g : groups) {
        double total = 0;
        for (const Incident* i : g.incidents)
            total += i->duration(now);
        ranked.push_back({&g, total, std::isnan(total) ? -std::numeric_limits<double>::infinity() : total});
    }
    // Stable: only a strictly longer total moves a group forward.
    std::stable_sort(ranked.begin(), ranked.end(), [](const Ranked& a, const Ranked& b) { return a.key > b.key; });
    if (ranked.size() > 3)
        ranked.resize(3);

    // The given locale writes the total (whole seconds, the locale's digit grouping).
    const QLocale& locale = numbers;
    std::vector<LikelyCauseSummary> out;
    for (const Ranked& r : ranked) {
        LikelyCauseSummary s;
        s.classification = r.group->classification;
        s.title = title(r.group->classification);
        s.explanation = QStringLiteral("This issue appeared ") + QString::number(r.group->incidents.size()) +
                        QStringLiteral(" time(s) for ") + locale.toString(r.total, 'f', 0) +
                        QStringLiteral(" seconds in total.");
        s.recommendation = causeRecommendation(r.group->classification);
        out.push_back(std::move(s));
    }
    return out;
}

QString IncidentClassifier::recommendation(const std::vector<Incident>& incidents)
{
    if (incidents.empty())
        return overnightSentence();
    const std::vector<Group> groups = groupByClassification(incidents);
    const Group* kept = &groups.front();
    for (const Group& g : groups)
        if (g.incidents.size() > kept->incidents.size())
            kept = &g;
    return nextTest(kept->classification);
}

} // namespace pv
