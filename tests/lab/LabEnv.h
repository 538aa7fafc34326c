#pragma once
// The network lab as seen from a test that tests/lab/run-in-lab.sh started inside the client namespace.
//
// Every lab test starts with
//     auto lab = pv::lab::LabEnv::current();
//     if (!lab) GTEST_SKIP() << "not inside the network lab";
// so that it never probes a non-loopback address outside the lab.
//
// Copies share one state; when the last copy goes away, the processes it started are killed and the
// faults it injected are cleared, so a failed test does not leave its faults to the next one.

#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

namespace pv::lab {

class LabEnv {
public:
    // The lab's values from the environment, or nothing outside a lab.
    static std::optional<LabEnv> current();

    QString clientNs;
    QString routerNs;
    QString inetNs;
    QString clientIf;     // lan0
    QString clientAddr;   // 10.77.0.2
    QString gateway;      // 10.77.0.1
    QString servicesAddr; // 10.79.0.1: where the lab services listen (inet namespace)
    // IPv6 beside it (empty in a lab without IPv6).
    QString clientAddr6;   // fd77::2
    QString gateway6;      // fe80::1, the router's link-local address on the client's link
    QString routerAddr6;   // fd77::1, the router's address for the client's IPv6 resolver
    QString servicesAddr6; // fd79::1
    QString checkHost;     // check.lab.test: the client's hosts file names it with both services addresses

    // `ip netns exec <ns> sh -c <shellCommand>`; the exit code (-1 when it could not be run, 128+n
    // when killed by signal n). Output goes to the test's own stdout/stderr.
    int run(const QString& ns, const QString& shellCommand) const;

    // Starts argv in the background in a namespace (its own process group; it dies with the test
    // process). Returns its pid, or -1 when it could not be started.
    qint64 startInNamespace(const QString& ns, const QStringList& argv) const;
    // SIGTERM, then SIGKILL after 2 s; reaps the process.
    void stopProcess(qint64 pid) const;

    // Faults in the namespace's own nftables table `pvlab`, applied to packets it receives and
    // forwards on its lab links (its loopback traffic is left alone). Each returns true on success.
    // Drops that share (0..1) of the packets, drawn with `numgen random mod 100`.
    bool addRandomLoss(const QString& ns, double ratio) const;
    // Drops every packet, or only those to dstAddress.
    bool dropAll(const QString& ns, const QString& dstAddress = {}) const;
    // Rejects every packet (TCP with a reset, the rest with ICMP port unreachable), or only those
    // to dstAddress.
    bool rejectAll(const QString& ns, const QString& dstAddress = {}) const;
    // Removes every fault of the namespace; for the client namespace also puts its IPv4 and IPv6
    // addresses, routes and resolver back as the lab built them.
    bool clearFaults(const QString& ns) const;

    // IPv6 faults at the router, IPv4 left flowing; clearFaults(routerNs) ends each of them.
    // The router forwards no IPv6 packet (it still answers the client itself).
    bool dropIPv6Forwarding() const;
    // The router sends no IPv4 packet on to the lab internet (IPv6 flows; the router answers itself).
    bool dropIPv4BeyondRouter() const;
    // That share (0..1) of the IPv6 packets the router forwards to the lab internet is dropped.
    bool addIPv6LossBeyondRouter(double ratio) const;
    // Every IPv6 packet the router sends to the lab internet waits about `milliseconds` in a queue of
    // its own (4 Mbit/s, kept that full by a paced IPv6 load from the router to the services
    // address): the lab's kernel has no netem.
    bool delayIPv6BeyondRouter(int milliseconds) const;
    // The client's network: no IPv6 at all (IPv6 switched off on its link), or IPv6
    // only (its IPv4 address and default route gone, the resolver asked at the router's IPv6
    // address). clearFaults(clientNs) restores both.
    bool removeClientIPv6() const;
    bool makeClientIPv6Only() const;

private:
    bool applyFault(const QString& ns, const QString& verdictRules) const;
    // One rule in the router's forward hook.
    bool applyForwardFault(const QString& rule) const;
    bool runNft(const QString& ns, const QString& script) const;
    bool clearFaultsWithoutTracking(const QString& ns) const;

    struct State;
    std::shared_ptr<State> state_;
};

} // namespace pv::lab
