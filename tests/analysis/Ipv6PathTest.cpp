// The IPv6 path's judgement on a dual-stack timeline: a batch every 5 s for ten minutes, each with
// the router, both public hosts and the page over IPv4 and IPv6, and a name lookup every 4th batch.

#include "core/analysis/Ipv6Path.h"

#include <gtest/gtest.h>

#include <map>

namespace pv {
namespace {

constexpr AddressFamily v4 = AddressFamily::ipv4;
constexpr AddressFamily v6 = AddressFamily::ipv6;

// From `from` until before `to`, the leg answers in `latency` ms (none: nothing answers) losing `loss`.
struct Fault {
    AddressFamily family;
    ProbeKind kind;
    double from, to;
    std::optional<double> latency;
    double loss = 1;
};

std::vector<NetworkSample> timeline(const std::vector<Fault>& faults, double v6From, bool withV4)
{
    const std::map<ProbeKind, double> normal{
        {ProbeKind::gateway, 2}, {ProbeKind::publicIP, 15}, {ProbeKind::dns, 10}, {ProbeKind::http, 40}};
    std::vector<NetworkSample> out;
    for (int n = 0; n <= 120; ++n) {
        const double t = n * 5.0;
        const QUuid batch = QUuid::createUuid();
        for (AddressFamily f : {v4, v6}) {
            if ((f == v4 && !withV4) || (f == v6 && t < v6From))
                continue;
            for (ProbeKind k : {ProbeKind::gateway, ProbeKind::publicIP, ProbeKind::publicIP, ProbeKind::http,
                                ProbeKind::dns}) {
                if (k == ProbeKind::dns && n % 4 != 0)
                    continue;
                NetworkSample s;
                s.batchID = batch;
                s.timestamp = t;
                s.family = f;
                s.target.kind = k;
                s.latencyMilliseconds = normal.at(k) + (f == v6 ? 1 : 0);
                s.packetLoss = 0;
                for (const Fault& x : faults)
                    if (x.family == f && x.kind == k && t >= x.from && t < x.to) {
                        s.latencyMilliseconds = x.latency;
                        s.packetLoss = x.latency ? x.loss : 1.0;
                    }
                s.success = s.latencyMilliseconds.has_value();
                out.push_back(s);
            }
        }
    }
    return out;
}

// IPv6 beyond the router (public hosts, page and lookup) failing from..to.
std::vector<Fault> beyondRouter(AddressFamily f, double from, double to)
{
    return {{f, ProbeKind::publicIP, from, to, {}},
            {f, ProbeKind::http, from, to, {}},
            {f, ProbeKind::dns, from, to, {}}};
}

std::vector<Fault> plus(std::vector<Fault> a, const std::vector<Fault>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(Ipv6PathTest, JudgesEachClassItsOnsetAndItsEnd)
{
    using S = Ipv6PathState;
    const double at = 600;
    const struct {
        const char* name;
        std::vector<Fault> faults;
        S state;
        std::optional<Timestamp> since = std::nullopt;
        std::optional<Timestamp> lastShown = std::nullopt; // of `shownState`
        S shownState = S::healthy;
        double v6From = 0;
        bool withV4 = true;
        bool measured = true;
    } cases[] = {
        {"healthy", {}, S::healthy},
        {"no IPv6 on the network", {}, S::absent, {}, {}, S::healthy, 1e9},
        {"IPv6 only: the main analysis' path", {}, S::onlyPath, {}, {}, S::healthy, 0, false},
        {"IPv6 just arrived", {}, S::collecting, {}, {}, S::healthy, 600},
        {"router silent", plus({{v6, ProbeKind::gateway, 420, 1e9, {}}}, beyondRouter(v6, 420, 1e9)),
         S::routerSilent, 420},
        {"router silent: named once the newest minute shows only silence (80 s in)",
         plus({{v6, ProbeKind::gateway, 520, 1e9, {}}}, beyondRouter(v6, 520, 1e9)), S::routerSilent, 520},
        {"the router ignores echoes to itself, the public IPv6 hosts answer: no fault",
         {{v6, ProbeKind::gateway, 0, 1e9, {}}}, S::routerQuiet},
        {"the router rate-limits echoes to itself", {{v6, ProbeKind::gateway, 0, 1e9, 2.0, 2.0 / 3}}, S::healthy},
        {"the router ignores echoes, then nothing beyond it answers either",
         plus({{v6, ProbeKind::gateway, 0, 1e9, {}}}, beyondRouter(v6, 420, 1e9)), S::routerSilent, 420},
        {"measuring switched off: sound samples of the window are not judged", {}, S::notMeasured, {}, {},
         S::healthy, 0, true, false},
        {"router silent for 40 s: not yet named",
         plus({{v6, ProbeKind::gateway, 560, 1e9, {}}}, beyondRouter(v6, 560, 1e9)), S::healthy},
        {"router silence ended 40 s ago: no longer accused; it was last shown at 555",
         plus({{v6, ProbeKind::gateway, 300, 560, {}}}, beyondRouter(v6, 300, 560)), S::healthy, {}, 555,
         S::routerSilent},
        {"router silent while IPv4's is too: the main analysis speaks",
         plus({{v6, ProbeKind::gateway, 420, 1e9, {}}, {v4, ProbeKind::gateway, 420, 1e9, {}}},
              plus(beyondRouter(v6, 420, 1e9), beyondRouter(v4, 420, 1e9))),
         S::sharedFault},
        {"provider drops IPv6 for 3 minutes, still on", beyondRouter(v6, 420, 1e9), S::providerDown, 420},
        {"provider's IPv6 drop ended 90 s ago", beyondRouter(v6, 330, 510), S::healthy, {}, 505, S::providerDown},
        {"provider drops both families: the main analysis speaks",
         plus(beyondRouter(v6, 420, 1e9), beyondRouter(v4, 420, 1e9)), S::sharedFault},
        {"two drops 30 s apart are one episode",
         plus(beyondRouter(v6, 400, 470), beyondRouter(v6, 500, 1e9)), S::providerDown, 400},
        {"a drop long before is another episode",
         plus(beyondRouter(v6, 100, 200), beyondRouter(v6, 450, 1e9)), S::providerDown, 450},
        {"IPv6 much slower than IPv4 to the same hosts", {{v6, ProbeKind::publicIP, 400, 1e9, 120.0, 0}},
         S::slowOrLossy, 400},
        {"IPv6 a little slower: healthy", {{v6, ProbeKind::publicIP, 400, 1e9, 25.0, 0}}, S::healthy},
        {"IPv6 much lossier than IPv4", {{v6, ProbeKind::publicIP, 500, 1e9, 16.0, 2.0 / 3}}, S::slowOrLossy, 500},
        {"IPv6 slowness ended 40 s ago", {{v6, ProbeKind::publicIP, 300, 560, 120.0, 0}}, S::healthy, {}, 555,
         S::slowOrLossy},
        {"the page fails over IPv6 only", {{v6, ProbeKind::http, 480, 1e9, {}}}, S::nameOrPage, 480},
        {"the AAAA lookup fails, IPv4's answers", {{v6, ProbeKind::dns, 480, 1e9, {}}}, S::nameOrPage, 480},
        {"a line that loses 40 % of both families' echoes: a lost IPv6 page check is that loss",
         {{v4, ProbeKind::publicIP, 300, 1e9, 16.0, 0.4}, {v6, ProbeKind::publicIP, 300, 1e9, 16.0, 0.4},
          {v6, ProbeKind::http, 480, 1e9, {}}},
         S::healthy},
        {"the page fails over both: not IPv6's own",
         {{v6, ProbeKind::http, 480, 1e9, {}}, {v4, ProbeKind::http, 480, 1e9, {}}}, S::healthy},
        {"an IPv4 congestion changes nothing in IPv6", {{v4, ProbeKind::publicIP, 300, 1e9, 290.0, 0}},
         S::healthy},
        {"IPv4 stalls beyond the router, IPv6 works: says what still gets through", beyondRouter(v4, 300, 1e9),
         S::ipv4Down, 300},
        {"IPv4 stalls beyond the router and the IPv6 router ignores echoes", plus(beyondRouter(v4, 300, 1e9),
                                                                                 {{v6, ProbeKind::gateway, 0, 1e9, {}}}),
         S::ipv4Down, 300},
        {"an IPv4 router silent to echoes changes nothing in IPv6", {{v4, ProbeKind::gateway, 300, 1e9, {}}},
         S::healthy},
        {"an IPv4 congestion leaves IPv6's own drop named", plus({{v4, ProbeKind::publicIP, 300, 1e9, 290.0, 0}},
                                                               beyondRouter(v6, 420, 1e9)),
         S::providerDown, 420},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<NetworkSample> samples = timeline(c.faults, c.v6From, c.withV4);
        const Ipv6PathJudgement j = Ipv6PathJudge::judge(samples, at, {}, {c.measured, true});
        EXPECT_EQ(j.state, c.state);
        if (c.faults.empty()) { // the public hosts' figure, unless nothing is judged
            EXPECT_EQ(j.medianRtt.has_value(),
                      c.state != S::notMeasured && c.state != S::absent && c.state != S::onlyPath);
        }
        EXPECT_EQ(j.since, c.since);
        EXPECT_EQ(j.isFault(), incidentClassification(j.state).has_value());
        // A cut of IPv4 beyond the router is no outage while IPv6 gets through, and only then.
        const FaultAttribution cut{FaultLocation::provider, IncidentSeverity::critical, AttributionConfidence::high,
                                   QStringLiteral("cut"), {QStringLiteral("router answers")}, {}, true, false};
        const FaultAttribution said = besideIpv6(cut, j);
        EXPECT_EQ(said.isOutage, j.state != S::ipv4Down);
        EXPECT_EQ(said.severity, j.state == S::ipv4Down ? IncidentSeverity::warning : IncidentSeverity::critical);
        EXPECT_EQ(said.evidence.front(), QStringLiteral("router answers"));
        // The newest batch's public IPv6 answers lift it before the state shows, unless IPv6 is unjudged.
        EXPECT_EQ(besideIpv6(cut, j, true).isOutage,
                  j.state == S::notMeasured || j.state == S::absent || j.state == S::onlyPath);
        if (j.state == S::ipv4Down) { // IPv4's own class, its line and the provider's advice
            EXPECT_EQ(incidentClassification(j.state), IncidentClassification::ipv4ProviderIssue);
            EXPECT_TRUE(notificationTitle(j.state).startsWith(QStringLiteral("Az IPv4 nem működik")));
            EXPECT_TRUE(headline(j).startsWith(QStringLiteral("Az IPv4-kapcsolatod hibás, az IPv6 működik")));
            EXPECT_TRUE(advice(j.state).join(QLatin1Char(' ')).contains(QStringLiteral("DS-Lite")));
        }
        if (j.isFault()) {
            EXPECT_EQ(ipv6PathState(*incidentClassification(j.state)), j.state);
            EXPECT_FALSE(headline(j).isEmpty());
            EXPECT_EQ(advice(j.state).size(), 3);
        }
        if (c.lastShown)
            EXPECT_EQ(Ipv6PathJudge::lastShown(samples, c.shownState, at), c.lastShown);
    }
}

} // namespace
} // namespace pv
