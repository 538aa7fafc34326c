// The rule that decides what is present, without a model: the journal's step for an incident
// that another place would take over.

#include "core/app/LivePicture.h"

#include "tests/app/AppFakes.h"

#include <gtest/gtest.h>

using namespace pv;
using namespace pv::live_picture;

namespace {
constexpr Timestamp kStart = 1'700'000'000.0;

FaultAttribution answer(FaultLocation where, bool outage)
{
    return FaultAttribution(where, outage ? IncidentSeverity::critical : IncidentSeverity::warning,
                            AttributionConfidence::high, QStringLiteral("Answer."), {}, {}, outage, false);
}
} // namespace

// The newest batches show a fault at the gateway and beyond (a cut link): the window's answer
// names it, and may take over an open incident only where that is no step down from an outage.
TEST(LivePicture, AnOutageIsNeverReclassifiedAsALesserFault)
{
    RouteSnapshot route{kStart, QStringLiteral("en0"), QStringLiteral("10.0.0.2"), QStringLiteral("10.0.0.1")};
    std::vector<ProbeBatch> batches;
    for (Timestamp at = kStart; at < kStart + 60; at += 5) {
        ProbeBatch b = test::healthyBatch(route, at);
        for (NetworkSample& s : b.samples)
            if (s.target.kind == ProbeKind::gateway || s.target.kind == ProbeKind::publicIP) {
                s.success = false;
                s.latencyMilliseconds.reset();
                s.packetLoss = 1.0;
            }
        batches.push_back(b);
    }
    const std::vector<WifiSnapshot> readings;
    const AttributionThresholds thresholds = AttributionThresholds::standard();
    const Evidence evidence{batches, readings, thresholds};
    const Timestamp at = kStart + 55;
    const struct {
        IncidentClassification own;
        bool wasOutage;
        FaultAttribution window;
        Change expected;
    } cases[] = {
        {IncidentClassification::internetUpstreamIssue, false, answer(FaultLocation::router, false), Change::reclassify},
        {IncidentClassification::internetUpstreamIssue, true, answer(FaultLocation::router, false), Change::none},
        {IncidentClassification::internetUpstreamIssue, true, answer(FaultLocation::localUnseparated, false),
         Change::none},
        {IncidentClassification::internetUpstreamIssue, true, answer(FaultLocation::offline, true), Change::reclassify},
        {IncidentClassification::offline, true, answer(FaultLocation::router, false), Change::none},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(rawValue(c.window.location).toStdString() + (c.wasOutage ? ", was an outage" : ""));
        Journal journal;
        journal.open = OpenIncident{c.own, kStart, c.wasOutage, false, std::nullopt};
        const JournalAction action = journalAction(c.window, nullptr, at, false, journal, evidence);
        EXPECT_EQ(action.change, c.expected);
        EXPECT_FALSE(action.closeAt);

        Incident incident;
        incident.classification = c.own;
        incident.severity = IncidentSeverity::critical;
        incident.evidenceSummary = QStringLiteral("Outage.");
        reclassify(incident, c.window, c.wasOutage);
        const bool moved = incident.classification != c.own;
        EXPECT_EQ(moved, c.expected == Change::reclassify);
        EXPECT_EQ(incident.evidenceSummary, moved ? "Answer." : "Outage.");
    }
}
