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
    // Removes every fault of the namespace.
    bool clearFaults(const QString& ns) const;

private:
    bool applyFault(const QString& ns, const QString& verdictRules) const;
    bool runNft(const QString& ns, const QString& script) const;
    bool clearFaultsWithoutTracking(const QString& ns) const;

    struct State;
    std::shared_ptr<State> state_;
};

} // namespace pv::lab
