// Likely causes (ordered by total duration) and the suggested next test (most frequent class).
#include "AnalysisFixtures.h"

#include "core/analysis/IncidentClassifier.h"

#include <gtest/gtest.h>

using namespace pv;
using namespace pv::test;

namespace {
using C = IncidentClassification;
const QString kOvernight = QStringLiteral("Keep the app running overnight and add a router-near baseline marker for comparison.");

std::vector<IncidentClassification> classesOf(const std::vector<LikelyCauseSummary>& causes)
{
    std::vector<IncidentClassification> out;
    for (const auto& c : causes)
        out.push_back(*c.classification);
    return out;
}
} // namespace

TEST(IncidentClassifier, NoIncidents)
{
    EXPECT_TRUE(IncidentClassifier::likelyCauses({}, 0).empty());
    EXPECT_EQ(IncidentClassifier::recommendation({}), kOvernight);
}

TEST(IncidentClassifier, AtMostThreeCausesLongestFirst)
{
    const std::vector<Incident> four{incident(C::dnsOnlyIssue, 0, 40), incident(C::gatewayCongestion, 0, 100),
                                     incident(C::unknown, 0, 10), incident(C::internetUpstreamIssue, 0, 60),
                                     incident(C::dnsOnlyIssue, 100, 130)};
    EXPECT_EQ(classesOf(IncidentClassifier::likelyCauses(four, 500)),
              (std::vector<C>{C::gatewayCongestion, C::dnsOnlyIssue, C::internetUpstreamIssue}));
}

TEST(IncidentClassifier, DurationOrdersCausesAndFrequencyPicksTheTest)
{
    std::vector<Incident> incidents;
    for (int i = 0; i < 5; ++i)
        incidents.push_back(incident(C::offline, i * 100, i * 100 + 10));
    incidents.push_back(incident(C::wifiLinkDegraded, 1000, 1600));
    const auto causes = IncidentClassifier::likelyCauses(incidents, 2000);
    ASSERT_EQ(causes.size(), 2u);
    EXPECT_EQ(causes[0], (LikelyCauseSummary{C::wifiLinkDegraded, QStringLiteral("Gyenge Wi-Fi kapcsolat"),
                                             QStringLiteral("This issue appeared 1 time(s) for 600 seconds in total."),
                                             QStringLiteral("Compare the current room against a router-near baseline and "
                                                            "consider bypassing the repeater.")}));
    EXPECT_EQ(causes[1].explanation, QStringLiteral("This issue appeared 5 time(s) for 50 seconds in total."));
    EXPECT_EQ(causes[1].recommendation, QStringLiteral("Cross-check with router power, backhaul and ISP outage windows."));
    EXPECT_EQ(IncidentClassifier::recommendation(incidents),
              QStringLiteral("Correlate the outage timestamps with power, repeater resets, or router logs if available."));
}

TEST(IncidentClassifier, FractionalTotalsAndOpenIncidents)
{
    const std::vector<Incident> dns{incident(C::dnsOnlyIssue, 0, 30), incident(C::dnsOnlyIssue, 100, 145.6)};
    const auto causes = IncidentClassifier::likelyCauses(dns, 1000);
    ASSERT_EQ(causes.size(), 1u);
    EXPECT_EQ(causes[0].explanation, QStringLiteral("This issue appeared 2 time(s) for 76 seconds in total."));
    EXPECT_EQ(causes[0].title, QStringLiteral("Csak a névfeloldás hibás"));

    // An open incident grows with the clock and can overtake a closed one.
    const std::vector<Incident> mixed{incident(C::gatewayCongestion, 0, 100), incident(C::unknown, 1000, std::nullopt)};
    EXPECT_EQ(classesOf(IncidentClassifier::likelyCauses(mixed, 1050)), (std::vector<C>{C::gatewayCongestion, C::unknown}));
    EXPECT_EQ(classesOf(IncidentClassifier::likelyCauses(mixed, 1200)), (std::vector<C>{C::unknown, C::gatewayCongestion}));
}

TEST(IncidentClassifier, TiesFollowFirstAppearance)
{
    const std::vector<Incident> tied{incident(C::internetUpstreamIssue, 0, 50), incident(C::reassociationOrRoam, 0, 50),
                                     incident(C::internetUpstreamIssue, 100, 150), incident(C::reassociationOrRoam, 100, 150)};
    EXPECT_EQ(classesOf(IncidentClassifier::likelyCauses(tied, 500)),
              (std::vector<C>{C::internetUpstreamIssue, C::reassociationOrRoam}));
    EXPECT_EQ(IncidentClassifier::recommendation(tied),
              QStringLiteral("Capture one more evening report near the router, then use the evidence to speak with the ISP."));
    std::vector<Incident> reversed(tied.rbegin(), tied.rend());
    EXPECT_EQ(IncidentClassifier::recommendation(reversed),
              QStringLiteral("Run the 10 minute router-near baseline, then repeat the same workflow from the current room and "
                             "compare BSSID changes."));
}

TEST(IncidentClassifier, SentencesPerClassification)
{
    struct Row {
        C classification;
        const char* cause;
        const char* test;
    };
    const Row rows[] = {
        {C::wifiLinkDegraded, "Compare the current room against a router-near baseline and consider bypassing the repeater.",
         "Run the 10 minute router-near baseline, then repeat the same workflow from the current room and compare BSSID changes."},
        {C::reassociationOrRoam, "Track which BSSID is present before each drop to confirm roaming between router and repeater nodes.",
         "Run the 10 minute router-near baseline, then repeat the same workflow from the current room and compare BSSID changes."},
        {C::gatewayCongestion, "Repeat the test at a quiet time to verify router or shared-LAN contention.",
         "Repeat monitoring during a quiet period and during peak occupancy to confirm shared-router congestion."},
        {C::internetUpstreamIssue, "Collect another router-near report before escalating to the ISP.",
         "Capture one more evening report near the router, then use the evidence to speak with the ISP."},
        {C::dnsOnlyIssue, "Test a different DNS server and compare.", "Test another DNS resolver and compare the next 30 minutes."},
        {C::offline, "Cross-check with router power, backhaul and ISP outage windows.",
         "Correlate the outage timestamps with power, repeater resets, or router logs if available."},
        {C::unknown, "Collect a longer comparison session in two physical locations.",
         "Keep the app running overnight and add a router-near baseline marker for comparison."},
    };
    for (const Row& r : rows) {
        const std::vector<Incident> one{incident(r.classification, 0, 5)};
        const auto causes = IncidentClassifier::likelyCauses(one, 10);
        ASSERT_EQ(causes.size(), 1u);
        EXPECT_EQ(causes[0].recommendation, QString::fromLatin1(r.cause));
        EXPECT_EQ(causes[0].title, title(r.classification));
        EXPECT_TRUE(causes[0].explanation.startsWith(QStringLiteral("This issue appeared 1 time(s) for ")));
        EXPECT_EQ(IncidentClassifier::recommendation(one), QString::fromLatin1(r.test));
    }
}
