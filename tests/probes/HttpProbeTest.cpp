// The HTTP probe against an HTTP server of the test's own on loopback.

#include "core/probes/HTTPProbe.h"

#include "tests/probes/DnsHttpTestSupport.h"

#include <QTemporaryFile>
#include <QUrl>

#include <gtest/gtest.h>

using namespace pv;
using namespace std::chrono_literals;
using Kind = HTTPProbeOutcome::Kind;

namespace {

class HttpProbeTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server_ = new test::LoopbackServer(QStringLiteral("http_server.py"), {}); }
    static void TearDownTestSuite()
    {
        delete server_;
        server_ = nullptr;
    }
    void SetUp() override { ASSERT_GT(server_->port(), 0) << "the HTTP test server did not start"; }

    static QString pageURL(const QString& mode = {})
    {
        QString url = QStringLiteral("http://127.0.0.1:%1/hotspot-detect.html").arg(server_->port());
        if (!mode.isEmpty())
            url += QStringLiteral("?mode=") + mode;
        return url;
    }

    HTTPProbeOutcome measure(const QString& url, std::chrono::nanoseconds timeout = 5s)
    {
        HTTPProbe probe(timeout);
        auto outcome = test::runOn(net_, probe.measure(url));
        EXPECT_TRUE(outcome.has_value()) << "measure did not return";
        return outcome.value_or(HTTPProbeOutcome::failed(QStringLiteral("no outcome")));
    }

    static test::LoopbackServer* server_;
    rt::NetworkRuntime net_;
};
test::LoopbackServer* HttpProbeTest::server_ = nullptr;

} // namespace

TEST(HttpProbeOutcomeTest, TotalIsThatOfASuccessOnly)
{
    EXPECT_EQ(HTTPProbeOutcome::success(12.5, std::nullopt).totalMilliseconds(), 12.5);
    EXPECT_TRUE(HTTPProbeOutcome::success(12.5, std::nullopt).isSuccess());
    EXPECT_FALSE(HTTPProbeOutcome::captivePortal(302).totalMilliseconds());
    EXPECT_FALSE(HTTPProbeOutcome::timedOut().isSuccess());
    EXPECT_NE(HTTPProbeOutcome::captivePortal(302), HTTPProbeOutcome::unexpectedStatus(302));
    EXPECT_EQ(HTTPProbe().timeout(), 5s);
    EXPECT_TRUE(HTTPProbe::defaultURL().startsWith(QStringLiteral("http://")));
}

TEST(HttpProbeCheckPageTest, NetworkManagerConfigurationNamesTheCheck)
{
    using Check = std::optional<std::pair<QString, QByteArray>>;
    const QByteArray main = "[main]\nuri=http://not.this/\n[connectivity]\n  uri = http://a.example/  \nresponse=It works\n";
    const QString a = QStringLiteral("http://a.example/");
    const std::pair<std::vector<QByteArray>, Check> cases[] = {
        {{}, std::nullopt},
        {{main}, std::pair{a, QByteArray("It works")}},
        {{"# no response\n[connectivity]\nuri=http://a.example/\n"}, std::pair{a, HTTPProbe::defaultResponse()}},
        {{main, "[connectivity]\nuri=http://b.example/\n"}, std::pair{QStringLiteral("http://b.example/"), QByteArray("It works")}},
        {{main, "[connectivity]\nresponse=\n"}, std::pair{a, QByteArray()}},
        {{main, "[connectivity]\nresponse=\\sup\n"}, std::pair{a, QByteArray(" up")}},
        {{main, "[connectivity]\nenabled=false\n"}, std::nullopt},
        {{main, "[connectivity]\ninterval=0\n"}, std::nullopt},
    };
    for (const auto& [files, expected] : cases)
        EXPECT_EQ(HTTPProbe::networkManagerCheck(files), expected) << files.size() << ' ' << files.back().toStdString();
}

// The neutral default against its page; a check that expects no body (an empty "response=").
TEST_F(HttpProbeTest, TheExpectedResponseDecides)
{
    const QString defaultPage = QStringLiteral("http://127.0.0.1:%1").arg(server_->port()) + QUrl(HTTPProbe::defaultURL()).path();
    const std::tuple<QString, QByteArray, Kind> cases[] = {
        {defaultPage, HTTPProbe::defaultResponse(), Kind::success},
        {pageURL(QStringLiteral("other")), HTTPProbe::defaultResponse(), Kind::captivePortal},
        {pageURL(QStringLiteral("204")), QByteArray(), Kind::success},
        {pageURL(QStringLiteral("other")), QByteArray(), Kind::captivePortal},
    };
    for (const auto& [url, response, expected] : cases) {
        HTTPProbe probe(5s);
        EXPECT_EQ(test::runOn(net_, probe.measure(url, response)).value_or(HTTPProbeOutcome::timedOut()).kind, expected) << url.toStdString();
    }
}

TEST_F(HttpProbeTest, CheckPageWithSuccessGivesTotalAndPhases)
{
    const auto outcome = measure(pageURL());
    ASSERT_EQ(outcome.kind, Kind::success) << outcome.message.toStdString();
    ASSERT_TRUE(outcome.totalMilliseconds());
    EXPECT_GT(*outcome.totalMilliseconds(), 0.0);
    EXPECT_LT(*outcome.totalMilliseconds(), 5000.0);
    ASSERT_TRUE(outcome.phases);
    const HTTPPhases& p = *outcome.phases;
    ASSERT_TRUE(p.dnsMilliseconds && p.connectMilliseconds && p.requestToResponseMilliseconds);
    EXPECT_GE(*p.dnsMilliseconds, 0.0);
    EXPECT_GE(*p.connectMilliseconds, 0.0);
    EXPECT_GE(*p.requestToResponseMilliseconds, 0.0);
    EXPECT_FALSE(p.tlsMilliseconds) << "plain HTTP has no TLS phase";
    EXPECT_LE(*p.dnsMilliseconds + *p.connectMilliseconds + *p.requestToResponseMilliseconds,
              *outcome.totalMilliseconds() + 1.0);
    EXPECT_TRUE(server_->log().contains(QStringLiteral(" /hotspot-detect.html Polvarine\n"))) << server_->log().toStdString();
}

TEST_F(HttpProbeTest, BodyBytesAreSearchedEvenWhenNotUtf8)
{
    EXPECT_EQ(measure(pageURL(QStringLiteral("binary"))).kind, Kind::success);
}

TEST_F(HttpProbeTest, AnyOtherPageIsACaptivePortal)
{
    EXPECT_EQ(measure(pageURL(QStringLiteral("other"))), HTTPProbeOutcome::captivePortal(200));
}

TEST_F(HttpProbeTest, RedirectsAreSeenNotFollowed)
{
    // The redirect leads to this server's success page: following it would give a success.
    EXPECT_EQ(measure(pageURL(QStringLiteral("302"))), HTTPProbeOutcome::captivePortal(302));
    EXPECT_EQ(measure(pageURL(QStringLiteral("399"))), HTTPProbeOutcome::captivePortal(399));
    EXPECT_EQ(measure(pageURL(QStringLiteral("300"))), HTTPProbeOutcome::captivePortal(300));
}

TEST_F(HttpProbeTest, OtherStatusesAreUnexpected)
{
    EXPECT_EQ(measure(pageURL(QStringLiteral("299"))), HTTPProbeOutcome::unexpectedStatus(299));
    EXPECT_EQ(measure(pageURL(QStringLiteral("400"))), HTTPProbeOutcome::unexpectedStatus(400));
    EXPECT_EQ(measure(pageURL(QStringLiteral("500"))), HTTPProbeOutcome::unexpectedStatus(500));
}

TEST_F(HttpProbeTest, StalledServerTimesOutAtTheProbesTimeout)
{
    const auto start = std::chrono::steady_clock::now();
    const auto outcome = measure(pageURL(QStringLiteral("stall")), 700ms);
    const double took = test::secondsSince(start);
    EXPECT_EQ(outcome, HTTPProbeOutcome::timedOut());
    EXPECT_GE(took, 0.69);
    EXPECT_LT(took, 2.0);
}

TEST_F(HttpProbeTest, TransportFailuresCarryCurlsText)
{
    const test::RefusingLoopbackPort closed;
    const auto refused = measure(QStringLiteral("http://127.0.0.1:%1/hotspot-detect.html").arg(closed.port()));
    EXPECT_EQ(refused, HTTPProbeOutcome::failed(QStringLiteral("Couldn't connect to server")));

    const auto nothing = measure(pageURL(QStringLiteral("close")));
    EXPECT_EQ(nothing.kind, Kind::failed);
    EXPECT_FALSE(nothing.message.isEmpty());

    const auto garbage = measure(pageURL(QStringLiteral("garbage")));
    EXPECT_EQ(garbage.kind, Kind::failed);
    EXPECT_FALSE(garbage.message.isEmpty());
}

TEST_F(HttpProbeTest, AResponseThatIsNotHttpFails)
{
    QTemporaryFile page;
    ASSERT_TRUE(page.open());
    page.write("Success");
    page.flush();
    EXPECT_EQ(measure(QStringLiteral("file://") + page.fileName()),
              HTTPProbeOutcome::failed(QStringLiteral("The response was not HTTP.")));
}

TEST_F(HttpProbeTest, ProxyVariablesOfTheEnvironmentAreIgnored)
{
    // A proxy that does not exist: a probe that used it would fail to connect.
    const test::RefusingLoopbackPort proxy;
    const QByteArray before = qgetenv("http_proxy");
    qputenv("http_proxy", QByteArray("http://127.0.0.1:") + QByteArray::number(proxy.port()));
    const auto outcome = measure(pageURL());
    if (before.isEmpty())
        qunsetenv("http_proxy");
    else
        qputenv("http_proxy", before);
    EXPECT_EQ(outcome.kind, Kind::success) << outcome.message.toStdString();
}

TEST_F(HttpProbeTest, EveryRequestOpensAConnectionOfItsOwn)
{
    HTTPProbe probe(5s);
    const QString url = pageURL(QStringLiteral("success&fresh=1"));
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(test::runOn(net_, probe.measure(url))->kind, Kind::success);
    QSet<QString> clientPorts;
    for (const QString& line : server_->log().split(QLatin1Char('\n'))) {
        const QStringList fields = line.split(QLatin1Char(' '));
        if (fields.size() >= 3 && fields[2].contains(QStringLiteral("fresh=1")))
            clientPorts.insert(fields[1]);
    }
    EXPECT_EQ(clientPorts.size(), 3);
}
