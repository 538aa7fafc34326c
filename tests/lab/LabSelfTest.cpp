#include "tests/lab/LabEnv.h"

#include <gtest/gtest.h>

#include <QFile>

#include <csignal>

#include <sys/stat.h>
#include <unistd.h>

using pv::lab::LabEnv;

namespace {

// Number of replies `ping` got out of `count` echoes sent quickly to `host` from the client.
int repliesOf(const LabEnv& lab, const QString& host, int count)
{
    // ping's summary line: "N packets transmitted, M received, ..."; the exit code carries M.
    const QString cmd = QStringLiteral("r=$(ping -n -q -c %1 -i 0.002 -W 1 %2 | sed -n 's/.* \\([0-9]*\\) received.*/\\1/p'); "
                                       "exit ${r:-255}")
                            .arg(count)
                            .arg(host);
    return lab.run(lab.clientNs, cmd);
}

bool answers(const LabEnv& lab, const QString& host)
{
    return lab.run(lab.clientNs, QStringLiteral("ping -n -q -c1 -W1 %1 >/dev/null").arg(host)) == 0;
}

// 0: connected, 1: refused, 2: anything else (time-out).
int connectFromClient(const LabEnv& lab, int port)
{
    return lab.run(lab.clientNs, QStringLiteral("python3 -c \"import socket,sys\n"
                                                "s=socket.socket(); s.settimeout(1)\n"
                                                "try:\n s.connect(('%1',%2))\n"
                                                "except ConnectionRefusedError: sys.exit(1)\n"
                                                "except Exception: sys.exit(2)\n\"")
                                     .arg(lab.servicesAddr)
                                     .arg(port));
}

} // namespace

TEST(LabSelfTest, ClientReachesTheGatewayAndTheLabInternet)
{
    auto lab = LabEnv::current();
    if (!lab)
        GTEST_SKIP() << "not inside the network lab";
    EXPECT_TRUE(answers(*lab, lab->gateway));
    EXPECT_TRUE(answers(*lab, QStringLiteral("1.1.1.1")));
    EXPECT_TRUE(answers(*lab, QStringLiteral("8.8.8.8")));
    EXPECT_TRUE(answers(*lab, lab->servicesAddr));
    // The test process itself runs in the client namespace, with the lab's resolver.
    struct stat self {}, client {};
    ASSERT_EQ(::stat("/proc/self/ns/net", &self), 0);
    ASSERT_EQ(::stat(("/run/netns/" + lab->clientNs.toStdString()).c_str(), &client), 0);
    EXPECT_EQ(self.st_ino, client.st_ino);
    QFile resolv(QStringLiteral("/etc/resolv.conf"));
    ASSERT_TRUE(resolv.open(QIODevice::ReadOnly));
    EXPECT_EQ(resolv.readAll().trimmed(), QByteArray("nameserver 10.77.0.1"));
}

TEST(LabSelfTest, ClientHasOnlyTheLabsRoutesAndInterfaces)
{
    auto lab = LabEnv::current();
    if (!lab)
        GTEST_SKIP() << "not inside the network lab";
    // Exactly the connected lab subnet and the default route via the lab router.
    EXPECT_EQ(lab->run(lab->clientNs,
                       QStringLiteral("[ \"$(ip -4 route show table all | grep -v '^local \\|^broadcast ' | "
                                      "sed 's/ *$//' | sort)\" = \"$(printf '%s\\n' "
                                      "'10.77.0.0/24 dev lan0 proto kernel scope link src 10.77.0.2' "
                                      "'default via 10.77.0.1 dev lan0' | sort)\" ]")),
              0);
    // No interface but loopback and the lab link, in every lab namespace.
    EXPECT_EQ(lab->run(lab->clientNs, QStringLiteral("[ \"$(ip -o link | awk -F': ' '{print $2}' | cut -d@ -f1 | sort | "
                                                     "tr '\\n' ' ')\" = 'lan0 lo ' ]")),
              0);
    EXPECT_EQ(lab->run(lab->routerNs, QStringLiteral("[ \"$(ip -o link | awk -F': ' '{print $2}' | cut -d@ -f1 | sort | "
                                                     "tr '\\n' ' ')\" = 'lan0 lo wan0 ' ]")),
              0);
    // Neither the router nor the lab internet knows a way out of the lab.
    EXPECT_NE(lab->run(lab->routerNs, QStringLiteral("ip route get 192.0.2.1 >/dev/null 2>&1")), 0);
    EXPECT_NE(lab->run(lab->inetNs, QStringLiteral("ip route get 192.0.2.1 >/dev/null 2>&1")), 0);
    // The ICMP datagram sockets are open to every group in the client namespace.
    EXPECT_EQ(lab->run(lab->clientNs, QStringLiteral("[ \"$(cat /proc/sys/net/ipv4/ping_group_range | tr -s '\\t ' ' ')\" "
                                                     "= '0 2147483647' ]")),
              0);
}

TEST(LabSelfTest, FaultsTakeEffectAndClearFaultsRemovesThem)
{
    auto lab = LabEnv::current();
    if (!lab)
        GTEST_SKIP() << "not inside the network lab";

    ASSERT_TRUE(lab->addRandomLoss(lab->routerNs, 0.5));
    const int replies = repliesOf(*lab, lab->gateway, 200);
    // Binomial(200, 0.5): 100 ± 7; the bounds are over 5 standard deviations away.
    EXPECT_GE(replies, 60);
    EXPECT_LE(replies, 140);
    ASSERT_TRUE(lab->clearFaults(lab->routerNs));
    EXPECT_EQ(repliesOf(*lab, lab->gateway, 50), 50);

    // Drop towards one destination only: the rest of the lab still answers.
    ASSERT_TRUE(lab->dropAll(lab->routerNs, QStringLiteral("1.1.1.1")));
    EXPECT_FALSE(answers(*lab, QStringLiteral("1.1.1.1")));
    EXPECT_TRUE(answers(*lab, QStringLiteral("8.8.8.8")));
    EXPECT_TRUE(answers(*lab, lab->gateway));
    ASSERT_TRUE(lab->dropAll(lab->routerNs));
    EXPECT_FALSE(answers(*lab, lab->gateway));
    ASSERT_TRUE(lab->clearFaults(lab->routerNs));
    EXPECT_TRUE(answers(*lab, QStringLiteral("1.1.1.1")));
    EXPECT_TRUE(answers(*lab, lab->gateway));

    // Reject answers at once, from the router, instead of leaving the sender waiting.
    ASSERT_TRUE(lab->rejectAll(lab->routerNs, QStringLiteral("1.1.1.1")));
    EXPECT_EQ(lab->run(lab->clientNs, QStringLiteral("ping -n -c1 -W1 1.1.1.1 | grep -q 'From 10.77.0.1 .*Unreachable'")), 0);
    EXPECT_TRUE(lab->clearFaults(lab->routerNs));
    EXPECT_TRUE(lab->clearFaults(lab->routerNs)) << "clearing twice is harmless";
    EXPECT_FALSE(lab->addRandomLoss(lab->routerNs, 1.5));
    EXPECT_FALSE(lab->dropAll(lab->routerNs, QStringLiteral("1.1.1.1; reboot")));
}

TEST(LabSelfTest, FaultsOfAFinishedTestAreCleared)
{
    {
        auto lab = LabEnv::current();
        if (!lab)
            GTEST_SKIP() << "not inside the network lab";
        ASSERT_TRUE(lab->dropAll(lab->routerNs));
        EXPECT_FALSE(answers(*lab, lab->gateway));
    }
    auto lab = LabEnv::current();
    ASSERT_TRUE(lab);
    EXPECT_TRUE(answers(*lab, lab->gateway));
}

TEST(LabSelfTest, ServersRunInTheirNamespaceAndTcpIsRejectedWithAReset)
{
    auto lab = LabEnv::current();
    if (!lab)
        GTEST_SKIP() << "not inside the network lab";
    const qint64 pid = lab->startInNamespace(
        lab->inetNs, {QStringLiteral("python3"), QStringLiteral("-c"),
                      QStringLiteral("import socket,time\ns=socket.socket()\n"
                                     "s.setsockopt(socket.SOL_SOCKET,socket.SO_REUSEADDR,1)\n"
                                     "s.bind(('%1',18080)); s.listen(16)\ntime.sleep(60)\n")
                          .arg(lab->servicesAddr)});
    ASSERT_GT(pid, 0);
    EXPECT_EQ(lab->run(lab->inetNs, QStringLiteral("ip netns identify %1 | grep -qx '%2'").arg(pid).arg(lab->inetNs)),
              0);
    int connected = -1;
    for (int attempt = 0; attempt < 50 && connected != 0; ++attempt) {
        connected = connectFromClient(*lab, 18080);
        if (connected != 0)
            usleep(50'000);
    }
    EXPECT_EQ(connected, 0) << "the server listens in the lab internet";

    ASSERT_TRUE(lab->rejectAll(lab->inetNs, lab->servicesAddr));
    EXPECT_EQ(connectFromClient(*lab, 18080), 1) << "refused at once";
    ASSERT_TRUE(lab->clearFaults(lab->inetNs));
    EXPECT_EQ(connectFromClient(*lab, 18080), 0);

    lab->stopProcess(pid);
    EXPECT_NE(::kill(static_cast<pid_t>(pid), 0), 0) << "the process is gone and reaped";
    EXPECT_EQ(connectFromClient(*lab, 18080), 1);
}

// Each IPv6 fault stops or slows IPv6 where it says and nowhere else, IPv4 flowing on; clearing the
// namespace's faults brings IPv6 back.
TEST(LabSelfTest, IPv6FaultsLeaveIPv4Flowing)
{
    auto lab = LabEnv::current();
    if (!lab)
        GTEST_SKIP() << "not inside the network lab";
    const QString router6 = lab->gateway6 + QLatin1Char('%') + lab->clientIf;
    const QString internet6 = QStringLiteral("2606:4700:4700::1111");
    // A reply within 100 ms, or one that waited 200 ms and more.
    const auto quick = [&](const QString& host) {
        return lab->run(lab->clientNs, QStringLiteral("ping -n -c1 -W3 %1 | grep -q 'time=[0-9]\\{1,2\\}\\.'").arg(host)) == 0;
    };
    const auto slow = [&](const QString& host) {
        return lab->run(lab->clientNs, QStringLiteral("ping -n -c1 -W3 %1 | grep -q 'time=[2-9][0-9][0-9]'").arg(host)) == 0;
    };
    struct Case {
        const char* fault;
        bool (LabEnv::*set)() const;
        bool atClient, routerAnswers, internetAnswers, internetDelayed;
    };
    const Case cases[] = {
        {"forwarding dropped", &LabEnv::dropIPv6Forwarding, false, true, false, false},
        {"no IPv6", &LabEnv::removeClientIPv6, true, false, false, false},
        {"loss beyond the router", nullptr, false, true, false, false},
        {"delay beyond the router", nullptr, false, true, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        const QString ns = c.atClient ? lab->clientNs : lab->routerNs;
        ASSERT_TRUE(c.set ? (*lab.*c.set)()
                          : c.internetDelayed ? lab->delayIPv6BeyondRouter(300) : lab->addIPv6LossBeyondRouter(1.0));
        EXPECT_EQ(answers(*lab, router6), c.routerAnswers);
        EXPECT_EQ(c.internetDelayed ? slow(internet6) : answers(*lab, internet6), c.internetAnswers);
        EXPECT_TRUE(quick(QStringLiteral("1.1.1.1")));
        EXPECT_TRUE(quick(lab->servicesAddr));
        ASSERT_TRUE(lab->clearFaults(ns));
        EXPECT_TRUE(quick(router6));
        EXPECT_TRUE(quick(internet6));
    }
    // IPv6 only: the client has no IPv4 way out, IPv6 works.
    ASSERT_TRUE(lab->makeClientIPv6Only());
    EXPECT_FALSE(answers(*lab, QStringLiteral("1.1.1.1")));
    EXPECT_TRUE(quick(internet6));
    ASSERT_TRUE(lab->clearFaults(lab->clientNs));
    EXPECT_TRUE(quick(QStringLiteral("1.1.1.1")));
}
