#pragma once
// The lab's DNS and HTTP servers for the probe tests: the python servers of tests/lab/servers,
// started in the lab's internet namespace on the services address (10.79.0.1).

#include "core/records/Records.h"
#include "tests/lab/LabEnv.h"
#include "tests/probes/DnsHttpTestSupport.h"

#include <QTemporaryDir>

namespace pv::test {

constexpr int kLabHTTPPort = 8080;

class LabServers {
public:
    // DNS on port 53 (where the router's DNAT sends the client's queries) and HTTP on kLabHTTPPort.
    // The DNS server answers by the mode label of the zone; the HTTP server by "?mode=".
    explicit LabServers(const lab::LabEnv& lab, const QString& defaultHTTPMode = QStringLiteral("success"))
        : lab_(lab)
    {
        dnsLog_ = dir_.filePath(QStringLiteral("dns.log"));
        httpLog_ = dir_.filePath(QStringLiteral("http.log"));
        const QString dnsPortFile = dir_.filePath(QStringLiteral("dns.port"));
        const QString httpPortFile = dir_.filePath(QStringLiteral("http.port"));
        // Over IPv6 too, in a lab with IPv6: AAAA queries are answered with 2001:db8::10.
        const QStringList dual = lab_.servicesAddr6.isEmpty()
                                     ? QStringList()
                                     : QStringList{QStringLiteral("--bind6"), lab_.servicesAddr6};
        dnsPid_ = lab_.startInNamespace(lab_.inetNs, QStringList{QStringLiteral("python3"), serverScript(QStringLiteral("dns_server.py")),
                                                      QStringLiteral("--bind"), lab_.servicesAddr, QStringLiteral("--port"),
                                                      QStringLiteral("53"), QStringLiteral("--port-file"), dnsPortFile,
                                                      QStringLiteral("--log"), dnsLog_, QStringLiteral("--address"),
                                                      QStringLiteral("192.0.2.10"), QStringLiteral("--address6"),
                                                      QStringLiteral("2001:db8::10")} + dual);
        httpPid_ = lab_.startInNamespace(
            lab_.inetNs, QStringList{QStringLiteral("python3"), serverScript(QStringLiteral("http_server.py")), QStringLiteral("--bind"),
                          lab_.servicesAddr, QStringLiteral("--port"), QString::number(kLabHTTPPort),
                          QStringLiteral("--port-file"), httpPortFile, QStringLiteral("--log"), httpLog_,
                          QStringLiteral("--mode"), defaultHTTPMode} + dual);
        ready_ = dnsPid_ > 0 && httpPid_ > 0 && waitForPortFile(dnsPortFile) == 53 &&
                 waitForPortFile(httpPortFile) == kLabHTTPPort;
    }
    ~LabServers()
    {
        if (dnsPid_ > 0)
            lab_.stopProcess(dnsPid_);
        if (httpPid_ > 0)
            lab_.stopProcess(httpPid_);
    }
    LabServers(const LabServers&) = delete;
    LabServers& operator=(const LabServers&) = delete;

    bool ready() const { return ready_; }
    QString pageURL(const QString& mode = {}) const
    {
        QString url = QStringLiteral("http://%1:%2/hotspot-detect.html").arg(lab_.servicesAddr).arg(kLabHTTPPort);
        if (!mode.isEmpty())
            url += QStringLiteral("?mode=") + mode;
        return url;
    }
    QString dnsLog() const { return readTextFile(dnsLog_); }
    QString httpLog() const { return readTextFile(httpLog_); }

private:
    lab::LabEnv lab_;
    QTemporaryDir dir_;
    QString dnsLog_;
    QString httpLog_;
    qint64 dnsPid_ = -1;
    qint64 httpPid_ = -1;
    bool ready_ = false;
};

// A test suite with the lab servers running for all of its tests; each test is skipped outside the lab.
class LabServersTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        lab_ = lab::LabEnv::current();
        if (lab_)
            servers_ = std::make_unique<LabServers>(*lab_);
    }
    static void TearDownTestSuite()
    {
        servers_.reset();
        lab_.reset();
    }
    void SetUp() override
    {
        if (!lab_)
            GTEST_SKIP() << "not inside the network lab";
        ASSERT_TRUE(servers_->ready()) << "the lab servers did not start";
    }

    static RouteSnapshot route() { return {nowTimestamp(), lab_->clientIf, lab_->clientAddr, lab_->gateway}; }

    inline static std::optional<lab::LabEnv> lab_;
    inline static std::unique_ptr<LabServers> servers_;
    rt::NetworkRuntime net_;
};

} // namespace pv::test
