// The DNS probe against a DNS server of the test's own on loopback (never the machine's resolver).

#include "core/probes/DNSProbe.h"
#include "core/probes/NativeProbeService.h"

#include "tests/probes/DnsHttpTestSupport.h"

#include <QRegularExpression>
#include <QSet>

#include <ares.h>
#include <gtest/gtest.h>

#include <map>

using namespace pv;
using namespace std::chrono_literals;
using Outcome = DNSProbeResult::Outcome;

namespace {

class DnsProbeTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server_ = new test::LoopbackServer(QStringLiteral("dns_server.py"), {}); }
    static void TearDownTestSuite()
    {
        delete server_;
        server_ = nullptr;
    }
    void SetUp() override { ASSERT_GT(server_->port(), 0) << "the DNS test server did not start"; }

    // The label in the zone picks how the server answers (see dns_server.py).
    DNSProbeResult resolveIn(const QString& zone, std::chrono::nanoseconds timeout = 2s)
    {
        DNSProbe probe(net_.executor(), zone, {server_->address()});
        auto result = test::runOn(net_, probe.resolve(std::nullopt, timeout));
        EXPECT_TRUE(result.has_value()) << "resolve did not return";
        return result.value_or(DNSProbeResult{});
    }

    static test::LoopbackServer* server_;
    rt::NetworkRuntime net_;
};
test::LoopbackServer* DnsProbeTest::server_ = nullptr;

rt::awaitable<std::tuple<DNSProbeResult, DNSProbeResult, DNSProbeResult>> resolveThreeAtOnce(DNSProbe& probe)
{
    using namespace asio::experimental::awaitable_operators;
    co_return co_await (probe.resolve(QStringLiteral("one.nxdomain.lab.test"), 2s) &&
                        probe.resolve(QStringLiteral("two.refused.lab.test"), 2s) &&
                        probe.resolve(QStringLiteral("three.silent.lab.test"), 300ms));
}

} // namespace

TEST(DnsProbeNameTest, ZoneComesFromTheCallerOrFallsBack)
{
    rt::NetworkRuntime net;
    DNSProbe none(net.executor(), std::nullopt);
    EXPECT_EQ(none.zoneSource(), DNSProbe::ZoneSource::fallback);
    // The names asked under the fallback zone are of a zone that some server must answer.
    EXPECT_FALSE(DNSProbe::isSelfAnsweredZone(none.zone())) << none.zone().toStdString();
    const QString name = none.cacheBustingName();
    EXPECT_TRUE(name.endsWith(QStringLiteral(".probe.") + none.zone())) << name.toStdString();
    EXPECT_FALSE(DNSProbe::isSelfAnsweredZone(name)) << name.toStdString();
    DNSProbe empty(net.executor(), QString());
    EXPECT_EQ(empty.zone(), DNSProbe::fallbackZone());
    EXPECT_EQ(rawValue(empty.zoneSource()), QStringLiteral("fallback"));
    DNSProbe owned(net.executor(), QStringLiteral("probe-zone.test"));
    EXPECT_EQ(owned.zone(), QStringLiteral("probe-zone.test"));
    EXPECT_EQ(rawValue(owned.zoneSource()), QStringLiteral("owned"));
}

TEST(DnsProbeNameTest, SpecialUseZonesAreRefusedFromTheEnvironment)
{
    const struct {
        const char* value;
        std::optional<QString> zone;
    } cases[] = {
        {"", std::nullopt},
        {"  ", std::nullopt},
        {"probe.polvarine.invalid", std::nullopt},
        {"lab.test", std::nullopt},
        {"EXAMPLE", std::nullopt},
        {"box.localhost", std::nullopt},
        {"printer.local.", std::nullopt},
        {"x.alt", std::nullopt},
        {"router.home.arpa", std::nullopt},
        {"10.in-addr.arpa", std::nullopt},
        {"8.b.d.0.1.0.0.2.ip6.arpa", std::nullopt},
        {"dnsprobe.example.net.", QStringLiteral("dnsprobe.example.net")},
        {" probe.isp.hu ", QStringLiteral("probe.isp.hu")},
        {"testing.org", QStringLiteral("testing.org")}, // "test" only as a whole label
    };
    const QByteArray before = qgetenv("POLVARINE_DNS_ZONE");
    for (const auto& c : cases) {
        qputenv("POLVARINE_DNS_ZONE", c.value);
        EXPECT_EQ(DNSProbe::zoneFromEnvironment(), c.zone) << c.value;
    }
    qunsetenv("POLVARINE_DNS_ZONE");
    EXPECT_EQ(DNSProbe::zoneFromEnvironment(), std::nullopt);
    if (!before.isNull())
        qputenv("POLVARINE_DNS_ZONE", before);
}

// A stub resolver that answers *.invalid itself and relays the rest to a resolver gone silent:
// a probe under a special-use zone would read a quick negative answer; the probe's own zone
// reaches the silent resolver and reports the failure.
TEST(DnsProbeStubTest, ASilentResolverBehindAStubIsSeenUnderTheFallbackZone)
{
    test::LoopbackServer silent(QStringLiteral("dns_server.py"), {QStringLiteral("--mode"), QStringLiteral("silent")});
    ASSERT_GT(silent.port(), 0);
    test::LoopbackServer stub(QStringLiteral("dns_server.py"),
                              {QStringLiteral("--forward"), silent.address(), QStringLiteral("--local-zone"),
                               QStringLiteral("invalid")});
    ASSERT_GT(stub.port(), 0);
    rt::NetworkRuntime net;
    DNSProbe special(net.executor(), QStringLiteral("polvarine.invalid"), {stub.address()});
    const auto trap = test::runOn(net, special.resolve(std::nullopt, 800ms));
    ASSERT_TRUE(trap);
    EXPECT_EQ(trap->outcome, Outcome::responded) << "the stub answers .invalid by itself";
    EXPECT_EQ(trap->kind, DNSResponseKind::noSuchName);

    DNSProbe probe(net.executor(), std::nullopt, {stub.address()});
    const auto r = test::runOn(net, probe.resolve(std::nullopt, 800ms));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->outcome, Outcome::timeout);
    EXPECT_FALSE(r->latencyMilliseconds);
    EXPECT_TRUE(stub.log().contains(QStringLiteral("forward ") + r->queriedName)) << stub.log().toStdString();
    EXPECT_TRUE(silent.log().contains(r->queriedName)) << silent.log().toStdString();
    // The DNS leg of the batch reports the failure.
    const NetworkSample leg = NativeProbeService::dnsSample(*r, RouteSnapshot{}, QUuid::createUuid(), 1.0);
    EXPECT_FALSE(leg.success);
    EXPECT_EQ(leg.timeoutCount, 1);
}

TEST(DnsProbeNameTest, CacheBustingNamesAreFreshAndUniformOverTheAlphabet)
{
    rt::NetworkRuntime net;
    DNSProbe probe(net.executor(), QStringLiteral("z.test"));
    const QRegularExpression shape(QStringLiteral("^pv([a-z0-9]{12})\\.probe\\.z\\.test$"));
    QSet<QString> seen;
    std::map<QChar, int> counts;
    constexpr int kNames = 3000;
    for (int i = 0; i < kNames; ++i) {
        const QString name = probe.cacheBustingName();
        ASSERT_EQ(name.size(), 2 + 12 + 7 + 6);
        const auto match = shape.match(name);
        ASSERT_TRUE(match.hasMatch()) << name.toStdString();
        for (QChar c : match.captured(1))
            ++counts[c];
        seen.insert(name);
    }
    EXPECT_EQ(seen.size(), kNames);
    // 36 000 characters: every one of the 36 is expected 1000 times; a skewed draw (a modulo on a
    // small range, a missing letter or digit) falls far outside this band.
    ASSERT_EQ(counts.size(), 36u);
    for (const auto& [c, n] : counts) {
        EXPECT_GT(n, 820) << QString(c).toStdString();
        EXPECT_LT(n, 1180) << QString(c).toStdString();
    }
}

TEST(DnsProbeClassifyTest, ResolverStatusesMapToTheResultKinds)
{
    const QString n = QStringLiteral("pvx.probe.z");
    EXPECT_EQ(DNSProbe::classify(n, ARES_SUCCESS, 4.0, {2, QStringLiteral("192.0.2.1")}),
              DNSProbeResult::responded(n, 4.0, DNSResponseKind::answered, 2, QStringLiteral("192.0.2.1")));
    EXPECT_EQ(DNSProbe::classify(n, ARES_ENOTFOUND, 4.0, {}).kind, DNSResponseKind::noSuchName);
    EXPECT_EQ(DNSProbe::classify(n, ARES_ENODATA, 4.0, {}).kind, DNSResponseKind::noSuchName);
    EXPECT_EQ(DNSProbe::classify(n, ARES_EREFUSED, 4.0, {}).kind, DNSResponseKind::refused);
    EXPECT_EQ(DNSProbe::classify(n, ARES_ETIMEOUT, 4.0, {}), DNSProbeResult::timedOut(n));
    EXPECT_EQ(DNSProbe::classify(n, ARES_ESERVFAIL, 4.0, {}),
              DNSProbeResult::responded(n, 4.0, DNSResponseKind::serverFailure));
    EXPECT_EQ(DNSProbe::classify(n, ARES_ECONNREFUSED, 4.0, {}).unavailableMessage, QStringLiteral("dnssd error 11"));
}

TEST(DnsProbeClassifyTest, AnswerSectionIsCountedAndTheFirstAddressFound)
{
    // Header: 1 question, 3 answers (a CNAME, an A with 6 data bytes, a proper A).
    const unsigned char packet[] = {
        0x12, 0x34, 0x81, 0x80, 0, 1, 0, 3, 0, 0, 0, 0,
        1, 'a', 1, 't', 0, 0, 1, 0, 1,                       // question a.t A IN
        0xc0, 12, 0, 5, 0, 1, 0, 0, 0, 60, 0, 4, 1, 'b', 0xc0, 12, // CNAME b.a.t (4 data bytes)
        0xc0, 12, 0, 1, 0, 1, 0, 0, 0, 60, 0, 6, 1, 2, 3, 4, 5, 6, // A with 6 bytes
        0xc0, 12, 0, 1, 0, 1, 0, 0, 0, 60, 0, 4, 198, 51, 100, 7,  // A 198.51.100.7
    };
    const auto summary = DNSProbe::summarizeAnswers(packet, sizeof(packet));
    EXPECT_EQ(summary.count, 3);
    EXPECT_EQ(summary.firstAddress, QStringLiteral("198.51.100.7"));
    // Cut inside the records: the count stands, no address is invented.
    const auto cut = DNSProbe::summarizeAnswers(packet, 40);
    EXPECT_EQ(cut.count, 3);
    EXPECT_FALSE(cut.firstAddress.has_value());
    EXPECT_EQ(DNSProbe::summarizeAnswers(packet, 5).count, 0);
}

TEST_F(DnsProbeTest, AnsweredQueryCarriesLatencyCountAndFirstAddress)
{
    DNSProbe probe(net_.executor(), QStringLiteral("answer.lab.test"), {server_->address()});
    const auto result = test::runOn(net_, probe.resolve(std::nullopt, 2s));
    ASSERT_TRUE(result);
    EXPECT_EQ(result->outcome, Outcome::responded);
    EXPECT_TRUE(result->isResponse());
    EXPECT_EQ(result->kind, DNSResponseKind::answered);
    EXPECT_EQ(result->answerCount, 1);
    EXPECT_EQ(result->firstAnswerAddress, QStringLiteral("192.0.2.10"));
    ASSERT_TRUE(result->latencyMilliseconds);
    EXPECT_GT(*result->latencyMilliseconds, 0.0);
    EXPECT_LT(*result->latencyMilliseconds, 2000.0);
    EXPECT_TRUE(result->queriedName.endsWith(QStringLiteral(".probe.answer.lab.test")));
    // Exactly the generated name was asked, once, with no search domain appended.
    const QString log = server_->log();
    EXPECT_EQ(log.count(result->queriedName), 1) << log.toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral("udp answer ") + result->queriedName + QLatin1Char('\n')));
}

TEST_F(DnsProbeTest, SeveralRecordsAndChainsAreCounted)
{
    test::LoopbackServer three(QStringLiteral("dns_server.py"), {QStringLiteral("--answers"), QStringLiteral("3"),
                                                                 QStringLiteral("--address"), QStringLiteral("198.51.100.1")});
    ASSERT_GT(three.port(), 0);
    DNSProbe probe(net_.executor(), QStringLiteral("lab.test"), {three.address()});
    const auto many = test::runOn(net_, probe.resolve(std::nullopt, 2s));
    ASSERT_TRUE(many);
    EXPECT_EQ(many->kind, DNSResponseKind::answered);
    EXPECT_EQ(many->answerCount, 3);
    EXPECT_EQ(many->firstAnswerAddress, QStringLiteral("198.51.100.1"));

    const auto chain = resolveIn(QStringLiteral("cname.lab.test"));
    EXPECT_EQ(chain.kind, DNSResponseKind::answered);
    EXPECT_EQ(chain.answerCount, 2); // the CNAME counts, it has no address
    EXPECT_EQ(chain.firstAnswerAddress, QStringLiteral("192.0.2.10"));

    const auto odd = resolveIn(QStringLiteral("odd.lab.test"));
    EXPECT_EQ(odd.kind, DNSResponseKind::answered);
    EXPECT_EQ(odd.answerCount, 1);
    EXPECT_FALSE(odd.firstAnswerAddress.has_value());
}

TEST_F(DnsProbeTest, NegativeAnswersAndRefusalAreResponses)
{
    for (const char* zone : {"nxdomain.lab.test", "nodata.lab.test"}) {
        const auto r = resolveIn(QString::fromLatin1(zone));
        EXPECT_EQ(r.outcome, Outcome::responded) << zone;
        EXPECT_EQ(r.kind, DNSResponseKind::noSuchName) << zone;
        EXPECT_EQ(r.answerCount, 0);
        EXPECT_FALSE(r.firstAnswerAddress);
        EXPECT_TRUE(r.latencyMilliseconds);
    }
    const auto refused = resolveIn(QStringLiteral("refused.lab.test"));
    EXPECT_EQ(refused.outcome, Outcome::responded);
    EXPECT_EQ(refused.kind, DNSResponseKind::refused);
    EXPECT_TRUE(refused.latencyMilliseconds);
}

// The sample the probe service makes of each answer: a refusal resolves nothing and fails the
// sample with its own text, its latency kept; negative answers stay answers.
TEST_F(DnsProbeTest, ARefusalFailsTheSampleAndNegativeAnswersDoNot)
{
    const struct {
        const char* zone;
        bool success;
        const char* error; // none when the sample succeeds
    } cases[] = {
        {"answer.lab.test", true, nullptr},
        {"nxdomain.lab.test", true, nullptr},
        {"nodata.lab.test", true, nullptr},
        {"refused.lab.test", false, "The resolver refused the query."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.zone);
        const DNSProbeResult r = resolveIn(QString::fromLatin1(c.zone));
        ASSERT_TRUE(r.latencyMilliseconds);
        const NetworkSample s = NativeProbeService::dnsSample(r, RouteSnapshot{}, QUuid::createUuid(), 1.0);
        EXPECT_EQ(s.success, c.success);
        EXPECT_EQ(s.latencyMilliseconds, r.latencyMilliseconds);
        EXPECT_EQ(s.timeoutCount, c.success ? 0 : 1);
        EXPECT_EQ(s.packetLoss, c.success ? 0.0 : 1.0);
        EXPECT_EQ(s.errorDescription, c.error ? std::optional<QString>(QString::fromLatin1(c.error)) : std::nullopt);
    }
}

TEST_F(DnsProbeTest, ServerFailureIsAnErrorAnswer)
{
    const auto r = resolveIn(QStringLiteral("servfail.lab.test"));
    EXPECT_EQ(r.outcome, Outcome::responded);
    EXPECT_EQ(r.kind, DNSResponseKind::serverFailure);
    EXPECT_TRUE(r.latencyMilliseconds);
    EXPECT_EQ(r.answerCount, 0);
}

TEST_F(DnsProbeTest, SilentResolverTimesOutAtTheCallersDeadline)
{
    const auto start = std::chrono::steady_clock::now();
    const auto r = resolveIn(QStringLiteral("silent.lab.test"), 600ms);
    const double took = test::secondsSince(start);
    EXPECT_EQ(r.outcome, Outcome::timeout);
    EXPECT_FALSE(r.latencyMilliseconds);
    EXPECT_FALSE(r.kind);
    EXPECT_GE(took, 0.59);
    EXPECT_LT(took, 1.5);
}

TEST_F(DnsProbeTest, ReplyAfterTheTimeoutChangesNothing)
{
    test::LoopbackServer late(QStringLiteral("dns_server.py"), {QStringLiteral("--mode"), QStringLiteral("late"),
                                                                QStringLiteral("--delay"), QStringLiteral("0.4")});
    ASSERT_GT(late.port(), 0);
    DNSProbe probe(net_.executor(), QStringLiteral("lab.test"), {late.address()});
    const auto r = test::runOn(net_, probe.resolve(std::nullopt, 150ms));
    ASSERT_TRUE(r);
    EXPECT_EQ(*r, DNSProbeResult::timedOut(r->queriedName));
    // The late answer arrives at a query that is gone; the probe keeps working afterwards.
    QThread::msleep(500);
    const auto next = test::runOn(net_, probe.resolve(std::nullopt, 2s));
    ASSERT_TRUE(next);
    EXPECT_EQ(next->kind, DNSResponseKind::answered);
}

TEST_F(DnsProbeTest, TruncatedReplyIsRetriedOverTcp)
{
    const auto r = resolveIn(QStringLiteral("truncate.lab.test"));
    EXPECT_EQ(r.kind, DNSResponseKind::answered);
    EXPECT_EQ(r.firstAnswerAddress, QStringLiteral("192.0.2.10"));
    EXPECT_TRUE(server_->log().contains(QStringLiteral("tcp truncate ") + r.queriedName));
}

TEST_F(DnsProbeTest, ClosedPortAndBadInputsBecomeUnavailable)
{
    const test::RefusingLoopbackPort nobody;
    DNSProbe closed(net_.executor(), QStringLiteral("lab.test"), {QStringLiteral("127.0.0.1:%1").arg(nobody.port())});
    const auto refusedPort = test::runOn(net_, closed.resolve(std::nullopt, 2s));
    ASSERT_TRUE(refusedPort);
    EXPECT_EQ(refusedPort->outcome, Outcome::unavailable);
    EXPECT_EQ(refusedPort->unavailableMessage, QStringLiteral("dnssd error 11"));

    // A label longer than 63 bytes cannot be put into a query at all.
    DNSProbe probe(net_.executor(), QStringLiteral("lab.test"), {server_->address()});
    const QString tooLong = QString(64, QLatin1Char('a')) + QStringLiteral(".lab.test");
    const auto badName = test::runOn(net_, probe.resolve(tooLong, 2s));
    ASSERT_TRUE(badName);
    EXPECT_EQ(badName->outcome, Outcome::unavailable);
    EXPECT_EQ(badName->unavailableMessage, QStringLiteral("DNSServiceQueryRecord failed with %1").arg(ARES_EBADNAME));
    EXPECT_EQ(badName->queriedName, tooLong);

    DNSProbe badServer(net_.executor(), QStringLiteral("lab.test"), {QStringLiteral("not an address")});
    const auto noChannel = test::runOn(net_, badServer.resolve(std::nullopt, 2s));
    ASSERT_TRUE(noChannel);
    EXPECT_EQ(noChannel->outcome, Outcome::unavailable);
    EXPECT_TRUE(noChannel->unavailableMessage.startsWith(QStringLiteral("DNSServiceQueryRecord failed with ")));
}

TEST_F(DnsProbeTest, ConcurrentQueriesEachFinishOnceWithTheirOwnAnswer)
{
    DNSProbe probe(net_.executor(), QStringLiteral("lab.test"), {server_->address()});
    auto all = test::runOn(net_, resolveThreeAtOnce(probe));
    ASSERT_TRUE(all);
    const auto& [one, two, three] = *all;
    EXPECT_EQ(one.queriedName, QStringLiteral("one.nxdomain.lab.test"));
    EXPECT_EQ(one.kind, DNSResponseKind::noSuchName);
    EXPECT_EQ(two.kind, DNSResponseKind::refused);
    EXPECT_EQ(three.outcome, Outcome::timeout);
}
