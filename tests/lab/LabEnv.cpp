#include "tests/lab/LabEnv.h"

#include <QByteArray>
#include <QFileInfo>
#include <QStandardPaths>

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace pv::lab {

namespace {

using namespace std::chrono_literals;

QString ipTool()
{
    static const QString path = [] {
        QString found = QStandardPaths::findExecutable(QStringLiteral("ip"));
        if (found.isEmpty())
            found = QStandardPaths::findExecutable(QStringLiteral("ip"),
                                                   {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin"),
                                                    QStringLiteral("/usr/bin"), QStringLiteral("/bin")});
        return found;
    }();
    return path;
}

// argv for `ip netns exec <ns> <command...>`, kept alive while the child execs.
struct Argv {
    std::vector<std::string> storage;
    std::vector<char*> pointers;
    Argv(const QString& ns, const QStringList& command)
    {
        storage.push_back(ipTool().toStdString());
        storage.push_back("netns");
        storage.push_back("exec");
        storage.push_back(ns.toStdString());
        for (const QString& arg : command)
            storage.push_back(arg.toStdString());
        for (auto& s : storage)
            pointers.push_back(s.data());
        pointers.push_back(nullptr);
    }
};

// fork + exec; between the two only async-signal-safe calls (the test process has several threads).
pid_t spawn(const QString& ns, const QStringList& command, bool ownGroup)
{
    if (ipTool().isEmpty() || ns.isEmpty() || command.isEmpty())
        return -1;
    Argv argv(ns, command);
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid != 0)
        return pid; // parent, or -1
    if (ownGroup) {
        setpgid(0, 0);
        // A server must not outlive the test that started it, even when the test crashes.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent)
            _exit(127);
        const int devNull = open("/dev/null", O_RDONLY);
        if (devNull >= 0) {
            dup2(devNull, STDIN_FILENO);
            close(devNull);
        }
    }
    execv(argv.pointers[0], argv.pointers.data());
    _exit(127);
}

int exitCodeOf(int status)
{
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return -1;
}

// Waits for pid up to `limit`; true when it was reaped.
bool waitFor(pid_t pid, std::chrono::milliseconds limit, int* status)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    auto pause = 100us;
    for (;;) {
        const pid_t r = waitpid(pid, status, WNOHANG);
        if (r == pid || (r < 0 && errno == ECHILD))
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(pause);
        pause = std::min<std::chrono::microseconds>(pause * 2, 10ms);
    }
}

void terminate(pid_t pid)
{
    int status = 0;
    kill(-pid, SIGTERM);
    kill(pid, SIGTERM);
    if (!waitFor(pid, 2s, &status)) {
        kill(-pid, SIGKILL);
        kill(pid, SIGKILL);
        waitFor(pid, 2s, &status);
    }
}

bool isAddressText(const QString& text)
{
    if (text.isEmpty() || text.size() > 64)
        return false;
    for (QChar c : text) {
        if (!(c.isDigit() || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F') || c == u'.' || c == u':' ||
              c == u'/'))
            return false;
    }
    return true;
}

QString destinationMatch(const QString& dstAddress)
{
    if (dstAddress.isEmpty())
        return {};
    return (dstAddress.contains(u':') ? QStringLiteral("ip6 daddr ") : QStringLiteral("ip daddr ")) + dstAddress +
           u' ';
}

} // namespace

struct LabEnv::State {
    std::mutex mutex;
    std::set<pid_t> processes;
    std::set<QString> faultedNamespaces;
    qint64 queueFiller = -1; // the load of delayIPv6BeyondRouter

    ~State()
    {
        for (pid_t pid : processes)
            terminate(pid);
        for (const QString& ns : faultedNamespaces) {
            LabEnv env;
            env.clearFaultsWithoutTracking(ns);
        }
    }
};

std::optional<LabEnv> LabEnv::current()
{
    if (qEnvironmentVariable("PV_LAB") != QLatin1String("1"))
        return std::nullopt;
    LabEnv env;
    env.clientNs = qEnvironmentVariable("PV_LAB_CLIENT_NS");
    env.routerNs = qEnvironmentVariable("PV_LAB_ROUTER_NS");
    env.inetNs = qEnvironmentVariable("PV_LAB_INET_NS");
    env.clientIf = qEnvironmentVariable("PV_LAB_CLIENT_IF");
    env.clientAddr = qEnvironmentVariable("PV_LAB_CLIENT_ADDR");
    env.gateway = qEnvironmentVariable("PV_LAB_GATEWAY");
    env.servicesAddr = qEnvironmentVariable("PV_LAB_SERVICES_ADDR");
    env.clientAddr6 = qEnvironmentVariable("PV_LAB_CLIENT_ADDR6");
    env.gateway6 = qEnvironmentVariable("PV_LAB_GATEWAY6");
    env.routerAddr6 = qEnvironmentVariable("PV_LAB_ROUTER_ADDR6");
    env.servicesAddr6 = qEnvironmentVariable("PV_LAB_SERVICES_ADDR6");
    env.checkHost = qEnvironmentVariable("PV_LAB_CHECK_HOST");
    for (const QString* value : {&env.clientNs, &env.routerNs, &env.inetNs, &env.clientIf, &env.clientAddr,
                                 &env.gateway, &env.servicesAddr}) {
        if (value->isEmpty())
            return std::nullopt;
    }
    env.state_ = std::make_shared<State>();
    return env;
}

int LabEnv::run(const QString& ns, const QString& shellCommand) const
{
    const pid_t pid = spawn(ns, {QStringLiteral("sh"), QStringLiteral("-c"), shellCommand}, false);
    if (pid < 0)
        return -1;
    int status = 0;
    // Bounded: a lab command that hangs for minutes is a broken test, not something to wait for.
    if (!waitFor(pid, 120s, &status)) {
        std::fprintf(stderr, "LabEnv::run: '%s' in %s did not finish in 120 s; killed\n", qPrintable(shellCommand),
                     qPrintable(ns));
        kill(pid, SIGKILL);
        waitFor(pid, 2s, &status);
        return -1;
    }
    return exitCodeOf(status);
}

qint64 LabEnv::startInNamespace(const QString& ns, const QStringList& argv) const
{
    const pid_t pid = spawn(ns, argv, true);
    if (pid < 0)
        return -1;
    if (state_) {
        std::lock_guard lock(state_->mutex);
        state_->processes.insert(pid);
    }
    return pid;
}

void LabEnv::stopProcess(qint64 pid) const
{
    if (pid <= 0)
        return;
    if (state_) {
        std::lock_guard lock(state_->mutex);
        if (state_->processes.erase(static_cast<pid_t>(pid)) == 0)
            return; // not ours
    }
    terminate(static_cast<pid_t>(pid));
}

bool LabEnv::applyFault(const QString& ns, const QString& verdictRules) const
{
    if (state_) {
        std::lock_guard lock(state_->mutex);
        state_->faultedNamespaces.insert(ns);
    }
    // `add` leaves an existing table and chains as they are, so faults accumulate; the whole script is
    // one nft transaction.
    QString script = QStringLiteral("add table inet pvlab\n");
    for (const char* hook : {"input", "forward"}) {
        const QString chain = QString::fromLatin1(hook);
        script += QStringLiteral("add chain inet pvlab %1 { type filter hook %1 priority -10; policy accept; }\n")
                      .arg(chain);
        for (const QString& rule : verdictRules.split(u'\n', Qt::SkipEmptyParts))
            script += QStringLiteral("add rule inet pvlab %1 %2\n").arg(chain, rule);
    }
    return runNft(ns, script);
}

bool LabEnv::runNft(const QString& ns, const QString& script) const
{
    return run(ns, QStringLiteral("nft -f - <<'PVLAB_EOF'\n") + script + QStringLiteral("PVLAB_EOF\n")) == 0;
}

bool LabEnv::addRandomLoss(const QString& ns, double ratio) const
{
    if (!(ratio >= 0.0 && ratio <= 1.0))
        return false;
    const int percent = static_cast<int>(std::lround(ratio * 100.0));
    return applyFault(ns, QStringLiteral("iifname != \"lo\" numgen random mod 100 < %1 drop").arg(percent));
}

bool LabEnv::dropAll(const QString& ns, const QString& dstAddress) const
{
    if (!dstAddress.isEmpty() && !isAddressText(dstAddress))
        return false;
    return applyFault(ns, QStringLiteral("iifname != \"lo\" %1drop").arg(destinationMatch(dstAddress)));
}

bool LabEnv::rejectAll(const QString& ns, const QString& dstAddress) const
{
    if (!dstAddress.isEmpty() && !isAddressText(dstAddress))
        return false;
    const QString match = destinationMatch(dstAddress);
    return applyFault(ns, QStringLiteral("iifname != \"lo\" %1meta l4proto tcp reject with tcp reset\n"
                                         "iifname != \"lo\" %1reject with icmpx type port-unreachable")
                              .arg(match));
}

bool LabEnv::clearFaults(const QString& ns) const
{
    if (state_) {
        std::lock_guard lock(state_->mutex);
        state_->faultedNamespaces.erase(ns);
    }
    return clearFaultsWithoutTracking(ns);
}

bool LabEnv::clearFaultsWithoutTracking(const QString& ns) const
{
    if (ns == routerNs) {
        qint64 filler = -1;
        if (state_) {
            std::lock_guard lock(state_->mutex);
            filler = std::exchange(state_->queueFiller, -1);
        }
        stopProcess(filler);
        run(ns, QStringLiteral("tc qdisc del dev wan0 root 2>/dev/null; true"));
    }
    if (ns == clientNs && !clientAddr6.isEmpty()) {
        // Each step may find its part in place already.
        run(ns, QStringLiteral("ip addr add %1/24 dev %2 2>/dev/null; ip route add default via %3 dev %2 2>/dev/null;"
                               " sysctl -qw net.ipv6.conf.%2.disable_ipv6=0; ip -6 addr add %4/64 dev %2 nodad 2>/dev/null;"
                               " ip -6 route add default via %5 dev %2 2>/dev/null;"
                               " printf 'nameserver %3\\n' >/etc/resolv.conf")
                    .arg(clientAddr, clientIf, gateway, clientAddr6, gateway6));
    }
    // Adding first makes the delete succeed whether or not a fault was ever set.
    return runNft(ns, QStringLiteral("add table inet pvlab\ndelete table inet pvlab\n"));
}

bool LabEnv::dropIPv6Forwarding() const
{
    return applyForwardFault(QStringLiteral("meta nfproto ipv6 drop"));
}

bool LabEnv::dropIPv4BeyondRouter() const
{
    return applyForwardFault(QStringLiteral("meta nfproto ipv4 oifname \"wan0\" drop"));
}

bool LabEnv::addIPv6LossBeyondRouter(double ratio) const
{
    if (!(ratio >= 0.0 && ratio <= 1.0))
        return false;
    const long percent = std::lround(ratio * 100.0);
    // nft refuses a comparison that always holds.
    const QString share = percent >= 100 ? QString() : QStringLiteral("numgen random mod 100 < %1 ").arg(percent);
    return applyForwardFault(QStringLiteral("meta nfproto ipv6 oifname \"wan0\" %1drop").arg(share));
}

bool LabEnv::applyForwardFault(const QString& rule) const
{
    if (state_) {
        std::lock_guard lock(state_->mutex);
        state_->faultedNamespaces.insert(routerNs);
    }
    return runNft(routerNs, QStringLiteral("add table inet pvlab\n"
                                           "add chain inet pvlab forward { type filter hook forward priority -10; "
                                           "policy accept; }\n"
                                           "add rule inet pvlab forward %1\n")
                                .arg(rule));
}

bool LabEnv::delayIPv6BeyondRouter(int milliseconds) const
{
    if (milliseconds <= 0 || servicesAddr6.isEmpty() || !state_)
        return false;
    {
        std::lock_guard lock(state_->mutex);
        state_->faultedNamespaces.insert(routerNs);
    }
    // IPv4 and everything else in a class without a limit; IPv6 in a 4 Mbit/s class of its own.
    if (run(routerNs, QStringLiteral("tc qdisc add dev wan0 root handle 1: htb default 10 &&"
                                     " tc class add dev wan0 parent 1: classid 1:10 htb rate 10gbit &&"
                                     " tc class add dev wan0 parent 1: classid 1:20 htb rate 4mbit ceil 4mbit &&"
                                     " tc qdisc add dev wan0 parent 1:20 handle 20: bfifo limit 1000000 &&"
                                     " tc filter add dev wan0 parent 1: protocol ipv6 u32 match u32 0 0 flowid 1:20")) != 0)
        return false;
    const qint64 pid = startInNamespace(
        routerNs, {QStringLiteral("python3"), QStringLiteral(PV_LAB_SERVERS_DIR "/queue_filler.py"),
                   QStringLiteral("--class"), QStringLiteral("1:20"), QStringLiteral("--milliseconds"),
                   QString::number(milliseconds), QStringLiteral("--destination"), servicesAddr6});
    {
        std::lock_guard lock(state_->mutex);
        state_->queueFiller = pid;
    }
    // Set once the queue holds most of its share (bounded: 10 s).
    const int wanted = 4'000'000 / 8 * milliseconds / 1000 * 3 / 4;
    return pid > 0 && run(routerNs, QStringLiteral("for i in $(seq 100); do tc -s class show dev wan0 | grep -A3 '1:20 ' |"
                                                   " awk '/backlog/ {exit !(substr($2, 1, length($2) - 1) + 0 >= %1)}'"
                                                   " && exit 0; sleep 0.1; done; exit 1")
                                        .arg(wanted)) == 0;
}

bool LabEnv::removeClientIPv6() const
{
    if (state_) {
        std::lock_guard lock(state_->mutex);
        state_->faultedNamespaces.insert(clientNs);
    }
    // Not even a link-local address is left.
    return run(clientNs, QStringLiteral("sysctl -qw net.ipv6.conf.%1.disable_ipv6=1").arg(clientIf)) == 0;
}

bool LabEnv::makeClientIPv6Only() const
{
    if (state_) {
        std::lock_guard lock(state_->mutex);
        state_->faultedNamespaces.insert(clientNs);
    }
    return run(clientNs, QStringLiteral("ip route del default dev %1 && ip addr del %2/24 dev %1 &&"
                                        " printf 'nameserver %3\\n' >/etc/resolv.conf")
                             .arg(clientIf, clientAddr, routerAddr6)) == 0;
}

} // namespace pv::lab
