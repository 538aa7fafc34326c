// The rule that decides what is present, without a model: the journal's step for an incident
// that another place would take over.

#include "core/app/LivePicture.h"
#include "core/app/PresentStretch.h"

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

// Where the present begins and what it quotes: ten minutes of batches every 5 s, the newest ones
// shaped by the row, with the journal's incidents.
TEST(PresentStretch, BeginsAtTheOpenFaultTheEndedOneOrATotalFailureAndQuotesItsOwnFigures)
{
    RouteSnapshot route{kStart, QStringLiteral("eth0"), QStringLiteral("10.0.0.2"), QStringLiteral("10.0.0.1")};
    const Timestamp at = kStart + 600;
    const auto incident = [](Timestamp start, std::optional<Timestamp> end, IncidentClassification c) {
        Incident i;
        i.classification = c;
        i.startTimestamp = start;
        i.endTimestamp = end;
        return i;
    };
    using C = IncidentClassification;
    using K = present::Stretch::Kind;
    const struct {
        const char* name;
        std::vector<Incident> incidents;
        Timestamp silentFrom; // public hosts and the page unanswered from here on (after `at`: never)
        bool pingShyRouter;   // the router never answers its pings
        K kind;
        Timestamp from;
        bool lookups = false; // one answered 20 s before, one in a batch of its own at the end, as the fault
    } cases[] = {
        {"nothing happened", {}, at + 1, false, K::window, at - 600},
        {"an open incident", {incident(at - 100, std::nullopt, C::internetUpstreamIssue)}, at + 1, false, K::faultBegan,
         at - 100},
        {"an ended incident", {incident(at - 300, at - 200, C::dnsOnlyIssue)}, at + 1, false, K::faultEnded, at - 200},
        {"an IPv6 incident bounds nothing", {incident(at - 100, std::nullopt, C::ipv6ProviderIssue)}, at + 1, false,
         K::window, at - 600},
        {"the newest three batches unanswered", {}, at - 10, false, K::faultBegan, at - 10},
        {"... and a lookup in a batch of its own after them", {}, at - 10, false, K::faultBegan, at - 10, true},
        {"a router that never answers pings is no failure", {}, at + 1, true, K::window, at - 600},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<ProbeBatch> batches;
        for (Timestamp t = at - 595; t <= at; t += 5) {
            ProbeBatch b = test::healthyBatch(route, t);
            // As the probe stamps them: the batch with its first sample's time, the others a little later.
            for (std::size_t i = 0; i < b.samples.size(); ++i)
                b.samples[i].timestamp = t + 0.01 * static_cast<double>(i);
            for (NetworkSample& s : b.samples)
                if (((s.target.kind == ProbeKind::publicIP || s.target.kind == ProbeKind::http) && t >= c.silentFrom) ||
                    (s.target.kind == ProbeKind::gateway && c.pingShyRouter)) {
                    s.success = false;
                    s.latencyMilliseconds.reset();
                    s.packetLoss = 1.0;
                }
            if (c.lookups && t == at - 20) {
                NetworkSample dns = b.samples.front();
                dns.target = ProbeTarget(ProbeKind::dns, QStringLiteral("DNS"), QStringLiteral("resolver"));
                b.samples.push_back(dns);
            }
            batches.push_back(b);
        }
        if (c.lookups) {
            ProbeBatch lookup = test::healthyBatch(route, at);
            lookup.samples.resize(1);
            lookup.samples[0].target = ProbeTarget(ProbeKind::dns, QStringLiteral("DNS"), QStringLiteral("resolver"));
            lookup.samples[0].success = false;
            lookup.samples[0].latencyMilliseconds.reset();
            batches.push_back(lookup);
        }
        const present::Stretch s = present::stretch(batches, c.incidents, std::nullopt, at, 600);
        EXPECT_EQ(s.kind, c.kind);
        EXPECT_DOUBLE_EQ(s.from, c.from);
        EXPECT_EQ(present::newestBatch(batches).totalFailure(), c.silentFrom <= at);

        // What the surfaces quote: the newest batches' outage from its first batch, on a cable in
        // the cable's words; otherwise the live answer with the stretch's figures.
        const std::vector<WifiSnapshot> cable;
        const AttributionThresholds thresholds = AttributionThresholds::standard();
        const FaultAttribution sound = answer(FaultLocation::none, false);
        const std::optional<EndedFault> ended;
        const present::Picture p = present::picture({batches, c.incidents, cable, thresholds, sound, ended, at, 600});
        EXPECT_EQ(p.attribution.isOutage, c.silentFrom <= at);
        EXPECT_FALSE(p.attribution.storedEvidenceSummary().contains(QStringLiteral("Wi-Fi")));
        if (c.silentFrom <= at) {
            EXPECT_TRUE(p.attribution.storedEvidenceSummary().contains(
                QStringLiteral("egyetlen mérés sem jutott célba 6 próbálkozásból")))
                << p.attribution.storedEvidenceSummary().toStdString();
        }
    }
}
