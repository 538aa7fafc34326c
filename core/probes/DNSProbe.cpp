#include "core/probes/DNSProbe.h"

#include "core/probes/ICMPSocket.h" // the probes' common uptime clock
#include "core/records/Logging.h"
#include "core/records/Profile.h"

#include <QRandomGenerator>

#include <ares.h>
#include <arpa/inet.h>
#include <fcntl.h>

#include <limits>
#include <map>
#include <memory>
#include <mutex>

namespace pv {

namespace {

void initialiseAresOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { ares_library_init(ARES_LIB_INIT_ALL); });
}

// c-ares retransmits on its own schedule: 1 s for the first try, doubling per round, three rounds
// (about 7 s in all with one server). The probe's own time-out (3 s from the probe service) is
// shorter, so it normally decides, while a single lost datagram is still retried within it.
constexpr int kAresTryTimeoutMs = 1000;
constexpr int kAresTries = 3;

constexpr int kClassIN = 1;
constexpr int kTypeA = 1;
constexpr int kTypeAAAA = 28;

QString startFailure(int code) { return QStringLiteral("DNSServiceQueryRecord failed with ") + QString::number(code); }

// One socket c-ares asked us to watch. Asio watches a duplicate of c-ares's descriptor, so c-ares
// alone closes its own and the two never fight over the descriptor's lifetime.
struct SocketWatch {
    SocketWatch(const asio::any_io_executor& ex, int duplicate, ares_socket_t aresFd)
        : descriptor(ex, duplicate), fd(aresFd)
    {
    }
    asio::posix::stream_descriptor descriptor;
    ares_socket_t fd;
    bool wantRead = false;
    bool wantWrite = false;
    bool readArmed = false;
    bool writeArmed = false;
    bool closed = false;
};

// One query from its start to its single finish, with a c-ares channel of its own. The channel is
// made from the resolver configuration as it is when the query starts, so after a network change
// (a rewritten /etc/resolv.conf) the next query already asks the new servers, as the system's own
// resolver would; a channel kept for the life of the probe would go on asking the old ones. Ending
// a query is destroying its channel, which also closes its sockets.
//
// Everything here runs on the probe's strand: the c-ares callbacks come out of ares_process_fd,
// which only the strand's handlers call.
//
// The readiness waits rely on the network io_context being run by one thread (NetworkRuntime): a
// datagram that arrives while c-ares reads is then still reported by the next epoll_wait, which
// only happens after the wait has been re-armed.
class QueryBox : public std::enable_shared_from_this<QueryBox> {
public:
    QueryBox(asio::any_io_executor strand, QString name, int type)
        : executor_(strand), name_(std::move(name)), type_(type), deadline_(strand), aresTimer_(strand)
    {
    }
    ~QueryBox()
    {
        finished_ = true;
        destroyChannel();
    }

    bool finished() const { return finished_; }
    const DNSProbeResult& result() const { return result_; }
    asio::steady_timer& deadline() { return deadline_; }

    void start(const QStringList& servers)
    {
        initialiseAresOnce();
        ares_options options{};
        options.sock_state_cb = &QueryBox::onSocketState;
        options.sock_state_cb_data = this;
        options.timeout = kAresTryTimeoutMs;
        options.tries = kAresTries;
        // Without this c-ares treats SERVFAIL and REFUSED as a broken server, retries and ends with
        // a connection error: the probe must see how the resolver really answered.
        options.flags = ARES_FLAG_NOCHECKRESP;
        const int mask = ARES_OPT_SOCK_STATE_CB | ARES_OPT_TIMEOUTMS | ARES_OPT_TRIES | ARES_OPT_FLAGS;
        int rc = ares_init_options(&channel_, &options, mask);
        if (rc != ARES_SUCCESS) {
            channel_ = nullptr;
            failToStart(rc);
            return;
        }
        if (!servers.isEmpty()) {
            rc = ares_set_servers_ports_csv(channel_, servers.join(QLatin1Char(',')).toUtf8().constData());
            if (rc != ARES_SUCCESS) {
                failToStart(rc);
                return;
            }
        }
        const QByteArray name = name_.toUtf8();
        startNs_ = ICMPSocket::uptimeNanoseconds();
        starting_ = true;
        ares_query(channel_, name.constData(), kClassIN, type_, &QueryBox::onAnswer, this);
        starting_ = false;
        if (!finished_)
            armAresTimer();
    }

    // Delivers the result once; a second call (a late reply, the time-out, c-ares's own
    // cancellation or destruction callbacks) changes nothing.
    void finish(DNSProbeResult result)
    {
        if (finished_)
            return;
        finished_ = true;
        result_ = std::move(result);
        deadline_.cancel();
        aresTimer_.cancel();
        // c-ares must not be destroyed from inside one of its own callbacks.
        asio::post(executor_, [self = shared_from_this()] { self->destroyChannel(); });
    }

private:
    void failToStart(int code)
    {
        qCWarning(pv::log::dns(), "DNS query could not be started: %s", ares_strerror(code));
        finish(DNSProbeResult::unavailable(name_, startFailure(code)));
    }

    void destroyChannel()
    {
        if (channel_ != nullptr) {
            ares_channel channel = channel_;
            channel_ = nullptr;
            ares_destroy(channel); // closes its sockets through onSocketState(0, 0)
        }
        for (auto& [fd, watch] : sockets_) {
            watch->closed = true;
            std::error_code ec;
            watch->descriptor.close(ec);
        }
        sockets_.clear();
    }

    static void onAnswer(void* arg, int status, int /*timeouts*/, unsigned char* packet, int length)
    {
        auto* box = static_cast<QueryBox*>(arg);
        if (box->finished_)
            return;
        const double latency = static_cast<double>(ICMPSocket::uptimeNanoseconds() - box->startNs_) / 1'000'000.0;
        // A callback made before ares_query returned means the query never left: the name or the
        // memory was at fault, not the resolver.
        if (box->starting_ && (status == ARES_EBADNAME || status == ARES_ENOMEM || status == ARES_EBADQUERY)) {
            box->finish(DNSProbeResult::unavailable(box->name_, startFailure(status)));
            return;
        }
        DNSProbe::AnswerSummary answers;
        if (status == ARES_SUCCESS)
            answers = DNSProbe::summarizeAnswers(packet, length);
        box->finish(DNSProbe::classify(box->name_, status, latency, answers));
    }

    static void onSocketState(void* data, ares_socket_t fd, int readable, int writable)
    {
        auto* box = static_cast<QueryBox*>(data);
        auto it = box->sockets_.find(fd);
        if (!readable && !writable) {
            if (it != box->sockets_.end()) {
                it->second->closed = true;
                std::error_code ec;
                it->second->descriptor.close(ec);
                box->sockets_.erase(it);
            }
            return;
        }
        if (it == box->sockets_.end()) {
            const int duplicate = fcntl(fd, F_DUPFD_CLOEXEC, 0);
            if (duplicate < 0) {
                // Unwatched, the query simply ends at the time-out.
                qCWarning(pv::log::dns(), "cannot watch a resolver socket: errno %d", errno);
                return;
            }
            it = box->sockets_.emplace(fd, std::make_shared<SocketWatch>(box->executor_, duplicate, fd)).first;
        }
        const auto watch = it->second;
        watch->wantRead = readable != 0;
        watch->wantWrite = writable != 0;
        if (box->channel_ != nullptr)
            box->arm(watch);
    }

    void arm(const std::shared_ptr<SocketWatch>& watch)
    {
        if (finished_ || watch->closed)
            return;
        if (watch->wantRead && !watch->readArmed) {
            watch->readArmed = true;
            watch->descriptor.async_wait(asio::posix::descriptor_base::wait_read,
                                         [self = shared_from_this(), watch](std::error_code ec) {
                                             watch->readArmed = false;
                                             if (ec || watch->closed || self->finished_ || !watch->wantRead)
                                                 return;
                                             self->process(watch->fd, ARES_SOCKET_BAD);
                                             self->arm(watch);
                                         });
        }
        if (watch->wantWrite && !watch->writeArmed) {
            watch->writeArmed = true;
            watch->descriptor.async_wait(asio::posix::descriptor_base::wait_write,
                                         [self = shared_from_this(), watch](std::error_code ec) {
                                             watch->writeArmed = false;
                                             if (ec || watch->closed || self->finished_ || !watch->wantWrite)
                                                 return;
                                             self->process(ARES_SOCKET_BAD, watch->fd);
                                             self->arm(watch);
                                         });
        }
    }

    void process(ares_socket_t readFd, ares_socket_t writeFd)
    {
        if (channel_ == nullptr)
            return;
        ares_process_fd(channel_, readFd, writeFd);
        if (!finished_)
            armAresTimer();
    }

    void armAresTimer()
    {
        timeval tv{};
        if (ares_timeout(channel_, nullptr, &tv) == nullptr)
            return;
        aresTimer_.expires_after(std::chrono::seconds(tv.tv_sec) + std::chrono::microseconds(tv.tv_usec));
        aresTimer_.async_wait([self = shared_from_this()](std::error_code ec) {
            if (ec || self->finished_)
                return;
            self->process(ARES_SOCKET_BAD, ARES_SOCKET_BAD);
        });
    }

    asio::any_io_executor executor_;
    QString name_;
    int type_;
    std::uint64_t startNs_ = 0;
    ares_channel channel_ = nullptr;
    asio::steady_timer deadline_;  // the caller's time-out; its wait is also where the caller sleeps
    asio::steady_timer aresTimer_; // c-ares's retransmission deadlines
    std::map<ares_socket_t, std::shared_ptr<SocketWatch>> sockets_;
    bool starting_ = false;
    bool finished_ = false;
    DNSProbeResult result_;
};

} // namespace

// ---------------------------------------------------------------------------------------------
DNSProbeResult DNSProbeResult::unavailable(QString name, QString message)
{
    DNSProbeResult r;
    r.outcome = Outcome::unavailable;
    r.unavailableMessage = std::move(message);
    r.queriedName = std::move(name);
    return r;
}

DNSProbeResult DNSProbeResult::timedOut(QString name)
{
    DNSProbeResult r;
    r.outcome = Outcome::timeout;
    r.queriedName = std::move(name);
    return r;
}

DNSProbeResult DNSProbeResult::responded(QString name, double latencyMilliseconds, DNSResponseKind kind, int answers,
                                         std::optional<QString> firstAddress)
{
    DNSProbeResult r;
    r.outcome = Outcome::responded;
    r.queriedName = std::move(name);
    r.latencyMilliseconds = latencyMilliseconds;
    r.kind = kind;
    r.answerCount = answers;
    r.firstAnswerAddress = std::move(firstAddress);
    return r;
}

// ---------------------------------------------------------------------------------------------
DNSProbe::DNSProbe(asio::any_io_executor io, std::optional<QString> probeZone, QStringList servers)
    : rt::Actor(std::move(io)), servers_(std::move(servers))
{
    if (probeZone && !probeZone->isEmpty()) {
        zone_ = *probeZone;
        zoneSource_ = ZoneSource::owned;
    } else {
        zone_ = fallbackZone();
        zoneSource_ = ZoneSource::fallback;
    }
}

QString DNSProbe::fallbackZone() { return MeasurementProfile::fallbackDNSZone(); }

bool DNSProbe::isSelfAnsweredZone(const QString& zone)
{
    QString z = zone.trimmed().toLower();
    while (z.endsWith(QLatin1Char('.')))
        z.chop(1);
    if (z.isEmpty())
        return true;
    // Top-level names a resolver keeps to itself, and the locally served zones; every reverse zone
    // is left out as well (the probe asks for addresses, and the private ranges are served locally).
    static const char* const kReserved[] = {"invalid", "test", "example", "localhost", "local",
                                            "alt",     "onion", "home.arpa", "in-addr.arpa", "ip6.arpa"};
    for (const char* reserved : kReserved) {
        const QString r = QString::fromLatin1(reserved);
        if (z == r || z.endsWith(QLatin1Char('.') + r))
            return true;
    }
    return false;
}

std::optional<QString> DNSProbe::zoneFromEnvironment()
{
    QString zone = qEnvironmentVariable("POLVARINE_DNS_ZONE").trimmed();
    while (zone.endsWith(QLatin1Char('.')))
        zone.chop(1);
    if (zone.isEmpty())
        return std::nullopt;
    if (isSelfAnsweredZone(zone)) {
        qCWarning(log::dns, "POLVARINE_DNS_ZONE names %s, a special-use zone that resolvers answer by themselves; "
                            "using %s instead", qUtf8Printable(zone), qUtf8Printable(fallbackZone()));
        return std::nullopt;
    }
    return zone;
}

QString DNSProbe::cacheBustingName() const
{
    static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    constexpr std::uint64_t kSize = sizeof(kAlphabet) - 1;
    // 2^64 is not a multiple of 36: draws above the last whole multiple are thrown away, so every
    // character is equally likely.
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
    constexpr std::uint64_t kRemainder = (kMax % kSize + 1) % kSize; // 2^64 mod 36
    constexpr std::uint64_t kLastAccepted = kMax - kRemainder;
    QString name = QStringLiteral("pv");
    name.reserve(2 + 12 + 7 + zone_.size());
    auto* random = QRandomGenerator::global();
    for (int i = 0; i < 12; ++i) {
        std::uint64_t draw = random->generate64();
        while (draw > kLastAccepted)
            draw = random->generate64();
        name.append(QLatin1Char(kAlphabet[draw % kSize]));
    }
    return name + QStringLiteral(".probe.") + zone_;
}

rt::awaitable<DNSProbeResult> DNSProbe::resolve(std::optional<QString> name, std::chrono::nanoseconds timeout,
                                               AddressFamily family)
{
    return onStrand(resolveOnStrand(std::move(name), timeout, family));
}

rt::awaitable<DNSProbeResult> DNSProbe::resolveOnStrand(std::optional<QString> name, std::chrono::nanoseconds timeout,
                                                       AddressFamily family)
{
    const QString queried = name ? *name : cacheBustingName();
    auto box = std::make_shared<QueryBox>(asio::any_io_executor(strand()), queried,
                                          family == AddressFamily::ipv6 ? kTypeAAAA : kTypeA);
    box->start(servers_);
    if (!box->finished()) {
        box->deadline().expires_after(timeout);
        std::error_code ec;
        // Ends early (cancelled) when the resolver's answer finishes the query first.
        co_await box->deadline().async_wait(asio::redirect_error(rt::use_awaitable, ec));
        box->finish(DNSProbeResult::timedOut(queried));
    }
    co_return box->result();
}

DNSProbeResult DNSProbe::classify(const QString& name, int aresStatus, double latencyMilliseconds,
                                  const AnswerSummary& answers)
{
    switch (aresStatus) {
    case ARES_SUCCESS:
        return DNSProbeResult::responded(name, latencyMilliseconds, DNSResponseKind::answered, answers.count,
                                         answers.firstAddress);
    case ARES_ENOTFOUND: // NXDOMAIN
    case ARES_ENODATA:   // the name exists without an A record
        return DNSProbeResult::responded(name, latencyMilliseconds, DNSResponseKind::noSuchName);
    case ARES_EREFUSED:
        return DNSProbeResult::responded(name, latencyMilliseconds, DNSResponseKind::refused);
    case ARES_ESERVFAIL:
        // An answer, if an error one: the resolver is there and says it cannot resolve.
        return DNSProbeResult::responded(name, latencyMilliseconds, DNSResponseKind::serverFailure);
    case ARES_ETIMEOUT:
        return DNSProbeResult::timedOut(name);
    default:
        return DNSProbeResult::unavailable(name, QStringLiteral("dnssd error ") + QString::number(aresStatus));
    }
}

DNSProbe::AnswerSummary DNSProbe::summarizeAnswers(const unsigned char* packet, int length)
{
    AnswerSummary summary;
    if (packet == nullptr || length < 12)
        return summary;
    const auto read16 = [packet](int at) { return (packet[at] << 8) | packet[at + 1]; };
    const int questions = read16(4);
    summary.count = read16(6);
    int pos = 12;
    const auto skipName = [&]() {
        char* expanded = nullptr;
        long used = 0;
        if (ares_expand_name(packet + pos, packet, length, &expanded, &used) != ARES_SUCCESS)
            return false;
        ares_free_string(expanded);
        pos += static_cast<int>(used);
        return true;
    };
    for (int i = 0; i < questions; ++i) {
        if (!skipName() || pos + 4 > length)
            return summary;
        pos += 4;
    }
    for (int i = 0; i < summary.count; ++i) {
        if (!skipName() || pos + 10 > length)
            return summary;
        const int type = read16(pos);
        const int klass = read16(pos + 2);
        const int dataLength = read16(pos + 8);
        pos += 10;
        if (pos + dataLength > length)
            return summary;
        if (type == kTypeAAAA && klass == kClassIN && dataLength == 16) {
            char text[INET6_ADDRSTRLEN] = {};
            if (inet_ntop(AF_INET6, packet + pos, text, sizeof text) != nullptr)
                summary.firstAddress = QString::fromLatin1(text);
            return summary;
        }
        if (type == kTypeA && klass == kClassIN && dataLength == 4) {
            summary.firstAddress = QStringLiteral("%1.%2.%3.%4")
                                       .arg(int(packet[pos]))
                                       .arg(int(packet[pos + 1]))
                                       .arg(int(packet[pos + 2]))
                                       .arg(int(packet[pos + 3]));
            return summary;
        }
        pos += dataLength;
    }
    return summary;
}

} // namespace pv
