#include "loadtest/LoadGenerator.h"

#include "core/records/Logging.h"

#include <curl/curl.h>

#include <QUrl>

#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <deque>
#include <cerrno>
#include <cstddef>
#include <vector>

namespace pv {

namespace {

using Clock = std::chrono::steady_clock; // the uptime clock (CLOCK_MONOTONIC)
using namespace std::chrono_literals;

constexpr auto kPollSlice = 50ms; // longest wait before the loop looks at the clock and the stop flags
constexpr auto kLongestTurn = 250ms; // a later turn of the loop: the computer held the test back
constexpr std::size_t kMostTurnLooks = 1000; // an upload's looks kept since its last answer
constexpr double kSameRate = 0.005;          // rates this close are one for where an upload stopped
constexpr auto kLongestGap = 500ms;          // a download's arrivals further apart than this stood still
constexpr auto kBurstSpan = 250ms;           // the longest a burst of acks (or of the line) makes up for
constexpr auto kFirstRetryDelay = 100ms;  // a stream's wait after its first failed request
constexpr auto kLongestRetryDelay = 2000ms; // the wait doubles up to this
constexpr std::int64_t kShortestAnswer = 64 * 1024; // a complete download answer below this is no load
// An upload request's body: a quarter of a second of what the server has read per second so far (the
// streams together), so that answers come a few times a second on any line; from kSmallestUploadBody,
// at most doubling from one request of a stream to its next, up to LoadGenerator::kUploadBodyBytes.
constexpr curl_off_t kSmallestUploadBody = 256 * 1024;
constexpr double kUploadBodySeconds = 0.25;

// The kernel's TCP_INFO up to the peer's advertised receive window (Linux 6.2 and later; the C
// library's struct tcp_info stops long before it). An older kernel fills less of it.
struct KernelTcpInfo {
    tcp_info base;
    std::uint64_t pacingRate, maxPacingRate, bytesAcked, bytesReceived;
    std::uint32_t segsOut, segsIn, notsentBytes, minRtt, dataSegsIn, dataSegsOut;
    std::uint64_t deliveryRate, busyTime, rwndLimited, sndbufLimited;
    std::uint32_t delivered, deliveredCe;
    std::uint64_t bytesSent, bytesRetrans;
    std::uint32_t dsackDups, reordSeen, rcvOoopack;
    std::uint32_t sndWnd; // the peer's advertised receive window, in bytes
};
static_assert(offsetof(KernelTcpInfo, sndWnd) == 228, "the kernel's layout of TCP_INFO");

void initialiseCurlOnce()
{
    static const bool done = [] { return curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; }();
    (void)done;
}

// One shared, immutable body for every upload request: the same bytes go on the wire as with a
// body built anew for each request, without 16 MiB per stream.
const std::vector<char>& uploadBody()
{
    static const std::vector<char> body(LoadGenerator::kUploadBodyBytes, 'Z');
    return body;
}

double secondsBetween(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double>(to - from).count();
}

QString trimmedBase(QString base)
{
    base = base.trimmed();
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    return base;
}

} // namespace

LoadSource::Configuration LoadSource::Configuration::forBaseURL(const QString& baseURL)
{
    const QString base = trimmedBase(baseURL);
    Configuration c;
    c.downloadURL = base + QStringLiteral("/__down?bytes=%1").arg(LoadGenerator::kDownloadRequestBytes);
    c.uploadURL = base + QStringLiteral("/__up");
    return c;
}

const LoadSource::Configuration& LoadSource::Configuration::defaultConfiguration()
{
    static const Configuration configuration = [] {
        const QString configured = qEnvironmentVariable("POLVARINE_SPEEDTEST_URL").trimmed();
        const QUrl url(configured);
        const bool usable = !configured.isEmpty() && url.isValid() &&
                            (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https")) &&
                            !url.host().isEmpty();
        return forBaseURL(usable ? configured : QString::fromLatin1(LoadGenerator::kDefaultBaseURL));
    }();
    return configuration;
}

// ---------------------------------------------------------------------------------------------
// One phase on the worker thread: the multi handle, its streams and the sampler.
//
// What counts: a download's bytes as they arrive; an upload's bytes only as far as the server took
// them. A finished upload counts its whole body: the server answered after it had been sent whole,
// and an upload endpoint answers once it has read the body. Upload bodies are small (see
// kUploadBodySeconds) and a stream keeps its connection from one request to the next: the answers are
// the count, and what a request in flight adds between them is bounded by its body. A server that
// stops reading thus stops the count within one body per stream, whatever its kernel still accepts
// (a deep queue and a large receive buffer keep it accepting for seconds). An upload in flight counts
// what left the socket and was acknowledged (handed to the socket minus the socket's send queue) less
// what may still sit unread in the server's receive buffer: how far the server's advertised receive
// window has closed since its widest. While the server's window is shut the request in flight counts
// nothing: only what an answer confirms. Once the answers have stood still, the count goes back to
// where the server stopped taking what the line carried (found on the loop's finer looks), so that
// neither the time it took to be sure nor a window that grew meanwhile adds to it.
//
// A request that ends in a transfer error or an HTTP status of 400 or more counts no bytes, and its
// stream waits before the next request (kFirstRetryDelay, doubling up to kLongestRetryDelay), so that
// a failing endpoint gets a few requests a second at most. So does a short answer, as a captive
// portal or a catch-all site gives to any request: a download answer shorter than kShortestAnswer or
// than its own Content-Length, or an upload answered before its body had been acknowledged whole.
struct LoadGenerator::Phase {
    struct Stream {
        Phase* phase = nullptr;
        CURL* easy = nullptr;
        std::int64_t requestBytes = 0; // download: bytes of the current request counted so far
        curl_off_t handedOver = 0;     // upload: body bytes curl has written to the socket
        curl_off_t bodyBytes = 0;      // upload: the current request's body
        long localPort = -1;           // upload: the local port of the current request's connection
        std::optional<curl_off_t> sentWhenAnswered; // upload: body bytes acknowledged when the answer began
        std::optional<Clock::time_point> lookedAt;  // upload: heldByTheServer's last look at the connection
        curl_socket_t lookedSocket = -1;
        std::uint64_t rwndLimited = 0;              // its time limited by the server's window then, in µs
        bool active = false;
        bool answered = false; // the current request has been answered with a success status
        std::chrono::milliseconds retryDelay{0};
        std::optional<Clock::time_point> retryAt; // waiting after a failed request
        std::optional<Clock::time_point> carriedWholeAt; // upload: when the server's end had acknowledged the whole body
    };

    LoadGenerator& generator;
    LoadDirection direction;
    const Configuration& configuration;
    LoadStopFlag stop;
    CURLM* multi = nullptr;
    curl_slist* headers = nullptr;
    std::vector<Stream> streams;
    // Upload: the sockets the phase's connection attempts opened, each with the widest receive window
    // its server has advertised. A connection outlives its requests: the window a request starts with
    // may already have closed on bytes the server never read.
    struct Connection {
        curl_socket_t socket = -1;
        std::uint32_t widestWindow = 0;
    };
    std::vector<Connection> sockets;
    std::int64_t closedReceived = 0; // download: what the kernel received on the phase's closed sockets
    Clock::time_point started = Clock::now();
    int uploadAnswers = 0; // answered upload requests, and when the last of them was answered
    Clock::time_point lastAnswer;
    // Upload: every turn's look since the last answer, at what the server had taken and what the line
    // had carried. While the server reads, the two move together; once it stops, what the line carries
    // piles up unread and they part. That parting, looked back on once the answers have stood still,
    // is where the load stopped (see rewindToOnset).
    struct TurnLook {
        Clock::time_point at;
        std::int64_t taken = 0;
        std::int64_t carried = 0;
    };
    std::vector<TurnLook> looksSinceAnswer;
    std::vector<double> standstillOnsets;
    // Download: when the kernel last saw bytes arrive, and how many it had then. A gap of kLongestGap
    // or more between two arrivals is a standstill from the one to the other (standstillOnsets and
    // standstillEnds): where the line stood still, finer than the seconds.
    Clock::time_point lastArrival;
    std::int64_t lastArrived = 0;
    std::vector<double> standstillEnds;
    // Every turn: where the flow (an upload's line, a download's arrivals) last moved by more than next
    // to nothing, and whether a look has seen it still for kLongestGap since. When it moves on after
    // such a look, the stretch from the one to the other stood still.
    struct StillWatch {
        Clock::time_point movedAt;
        std::int64_t movedTo = 0;
        bool seenStill = false;
        Clock::time_point lastLook;
        std::vector<LoadStandstill> stretches;

        void look(Clock::time_point start, Clock::time_point now, std::int64_t count)
        {
            const Clock::time_point previous = lastLook;
            lastLook = now;
            if (movedTo == 0) { // the flow starts with its first bytes
                if (count > 0) {
                    movedTo = count;
                    movedAt = now;
                }
                return;
            }
            movedTo = std::min(movedTo, count); // a failed request's bytes left the count
            const double perSecond = static_cast<double>(movedTo) / std::max(secondsBetween(start, movedAt), 0.05);
            const auto least = static_cast<std::int64_t>(std::max(16.0 * 1024, 0.01 * perSecond));
            if (count > movedTo + least) {
                if (seenStill) // it moved again between the last look and this one (at the latest)
                    stretches.push_back({secondsBetween(start, movedAt),
                                         secondsBetween(start, now - previous > kLongestTurn ? previous : now)});
                movedTo = count;
                movedAt = now;
                seenStill = false;
            } else if (now - movedAt >= kLongestGap) {
                seenStill = true;
            }
        }
    };
    StillWatch still; // download
    // Upload, every turn: where the server stood still. Its take falls to next to nothing of the pace so
    // far over kBurstSpan while the line goes on carrying into its kernel (or stands still too), from
    // the last look at which the take kept up with the line; it flows on where the server takes again:
    // more than the line brought (the backlog its kernel holds) or, with the line, at half the pace. A
    // line that merely slows down keeps its take level with what it carries, and stands not still.
    struct TakeWatch {
        struct Look {
            Clock::time_point at;
            std::int64_t taken = 0, carried = 0;
        };
        std::deque<Look> recent; // the looks of the last kBurstSpan
        std::optional<Clock::time_point> standingSince;
        std::optional<Clock::time_point> lastTaking;
        std::vector<LoadStandstill> stretches;

        void look(Clock::time_point start, Clock::time_point now, std::int64_t taken, std::int64_t carried, double pace)
        {
            constexpr std::int64_t kLeast = 16 * 1024;
            const bool first = recent.empty();
            const Look previous = first ? Look{now, taken, carried} : recent.back();
            recent.push_back({now, taken, carried});
            while (recent.size() > 2 && recent[1].at <= now - kBurstSpan)
                recent.pop_front();
            if (first || pace <= 0)
                return;
            const std::int64_t took = taken - previous.taken;
            const std::int64_t brought = carried - previous.carried;
            // Over the last kBurstSpan (a single turn can be a few milliseconds, and a window update
            // alone moves the take without the line), unless this computer held the loop up meanwhile.
            const Look& oldest = recent.front();
            const double span = secondsBetween(oldest.at, now);
            const bool spanned = span >= 0.8 * std::chrono::duration<double>(kBurstSpan).count() && now - oldest.at <= 2 * kBurstSpan;
            const double spanTook = static_cast<double>(taken - oldest.taken);
            const double spanBrought = static_cast<double>(carried - oldest.carried);
            const bool keepingPace = spanned && spanTook >= 0.5 * pace * span && spanTook >= 0.75 * spanBrought;
            if (!standingSince && keepingPace)
                lastTaking = now;
            if (standingSince) {
                // The server reads what its kernel kept meanwhile (a tenth of a second's bytes or more at
                // once), or takes with the line again.
                const bool backlog = static_cast<double>(took) > std::max({static_cast<double>(kLeast), 2.0 * static_cast<double>(brought), 0.1 * pace});
                if (!backlog && !keepingPace)
                    return;
                // While this computer held the test up, it took again at the latest when the loop ran.
                const Clock::time_point end = now - previous.at > kLongestTurn ? previous.at : now;
                if (end - *standingSince >= kLongestGap)
                    stretches.push_back({secondsBetween(start, *standingSince), secondsBetween(start, end)});
                standingSince.reset();
                lastTaking = now;
                return;
            }
            if (lastTaking && spanned && spanTook < 0.15 * pace * span &&
                (spanBrought - spanTook > 0.5 * pace * span || spanBrought < 0.02 * pace * span))
                standingSince = lastTaking;
        }
    };
    TakeWatch take; // upload
    bool serverHolds = false; // heldByTheServer() at the last sample
    int requestsAnswered = 0;
    int requestsFailed = 0;
    std::optional<FailureCause> lastFailure;
    bool lastFailureWasShortAnswer = false;

    Phase(LoadGenerator& g, LoadDirection d, const Configuration& c, LoadStopFlag s)
        : generator(g), direction(d), configuration(c), stop(std::move(s))
    {
    }
    ~Phase()
    {
        for (Stream& s : streams) {
            if (s.active)
                curl_multi_remove_handle(multi, s.easy);
            curl_easy_cleanup(s.easy);
        }
        if (multi)
            curl_multi_cleanup(multi);
        curl_slist_free_all(headers);
    }

    bool stopping() const
    {
        return generator.abortPhase_.load() || (stop && stop->load());
    }

    void noteAnswered(Stream& s)
    {
        if (!s.answered) {
            s.answered = true;
            ++requestsAnswered;
        }
    }

    static size_t onData(char*, size_t size, size_t count, void* user)
    {
        auto* stream = static_cast<Stream*>(user);
        // Received bytes are counted and dropped (an upload's short answer is not load). Error pages
        // never get here: the handles fail on a status of 400 or more.
        if (stream->phase->direction == LoadDirection::download) {
            const auto bytes = static_cast<std::int64_t>(size * count);
            stream->phase->noteAnswered(*stream);
            stream->requestBytes += bytes;
            stream->phase->generator.counter_.add(bytes);
        }
        return size * count;
    }

    // An upload's answer begins (its status line): how much of the body the server's end had
    // acknowledged by then. A server that answers without reading the body acknowledges no more than
    // its receive buffer holds, less than the smallest body; one that read it has acknowledged it all.
    static size_t onHeader(char* data, size_t size, size_t count, void* user)
    {
        auto* stream = static_cast<Stream*>(user);
        const std::size_t length = size * count;
        if (stream->phase->direction == LoadDirection::upload && length >= 5 && std::equal(data, data + 5, "HTTP/")) {
            curl_off_t sent = 0;
            curl_easy_getinfo(stream->easy, CURLINFO_SIZE_UPLOAD_T, &sent);
            const curl_off_t handed = std::max(sent, stream->handedOver);
            int queued = 0;
            const std::optional<curl_socket_t> socket = stream->phase->socketOf(*stream);
            if (socket && ::ioctl(*socket, SIOCOUTQ, &queued) != 0)
                queued = 0;
            stream->sentWhenAnswered = std::max<curl_off_t>(0, handed - queued);
        }
        return length;
    }

    static int onProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t uploaded)
    {
        auto* stream = static_cast<Stream*>(user);
        if (stream->phase->direction == LoadDirection::upload)
            stream->handedOver = std::max(stream->handedOver, uploaded);
        return stream->phase->stopping() ? 1 : 0; // non-zero aborts the transfer
    }

    // The phase's sockets are kept track of. Each upload request notes the local port of the connection
    // it runs on (a kept connection may pass from one stream to another), so that the bytes still
    // queued in its socket can be read while the request runs; a download's sockets tell what the
    // kernel received, read by curl or not.
    static int onSocketOpened(void* user, curl_socket_t socket, curlsocktype)
    {
        static_cast<Stream*>(user)->phase->sockets.push_back({socket});
        return CURL_SOCKOPT_OK;
    }
    static int onSocketClosing(void* user, curl_socket_t socket)
    {
        Phase* phase = static_cast<Stream*>(user)->phase;
        phase->closedReceived += kernelReceived(socket);
        auto& sockets = phase->sockets;
        std::erase_if(sockets, [&](const Connection& c) { return c.socket == socket; });
        return ::close(socket);
    }
    static int onRequestReady(void* user, char*, char*, int, int localPort)
    {
        static_cast<Stream*>(user)->localPort = localPort;
        return CURL_PREREQFUNC_OK;
    }
    Connection* connectionOf(const Stream& s)
    {
        for (Connection& c : sockets) {
            sockaddr_storage local{};
            socklen_t length = sizeof(local);
            if (::getsockname(c.socket, reinterpret_cast<sockaddr*>(&local), &length) != 0)
                continue;
            const in_port_t port = local.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&local)->sin6_port
                                                               : reinterpret_cast<sockaddr_in*>(&local)->sin_port;
            if (static_cast<long>(ntohs(port)) == s.localPort)
                return &c;
        }
        return nullptr;
    }
    std::optional<curl_socket_t> socketOf(const Stream& s)
    {
        const Connection* c = connectionOf(s);
        return c ? std::optional(c->socket) : std::nullopt;
    }

    // The data a download connection's segments brought so far, as they arrived: in order or not (a
    // segment that arrives after a lost one waits in the kernel until the loss is mended, and then a
    // burst of them is handed on at once), at the connection's segment size.
    static std::int64_t kernelReceived(curl_socket_t socket)
    {
        KernelTcpInfo info{};
        socklen_t infoLength = sizeof(info);
        if (::getsockopt(socket, IPPROTO_TCP, TCP_INFO, &info, &infoLength) != 0 ||
            infoLength < offsetof(KernelTcpInfo, dataSegsIn) + sizeof(info.dataSegsIn))
            return 0;
        return static_cast<std::int64_t>(info.dataSegsIn) * info.base.tcpi_rcv_mss;
    }
    // What the line has brought the phase's download connections so far, whether the kernel could
    // hand it on yet or not (with headers: a little more than the load's bytes).
    std::int64_t receivedByTheKernel() const
    {
        std::int64_t received = closedReceived;
        for (const Connection& c : sockets)
            received += kernelReceived(c.socket);
        return received;
    }

    // Every turn of the loop: each upload connection's window, so that its widest is known before the
    // server stops reading (a look only at the samples can come after the window began to close).
    void watchWindows()
    {
        if (direction != LoadDirection::upload)
            return;
        for (Connection& c : sockets) {
            KernelTcpInfo info{};
            socklen_t infoLength = sizeof(info);
            if (::getsockopt(c.socket, IPPROTO_TCP, TCP_INFO, &info, &infoLength) == 0 && infoLength >= sizeof(info))
                c.widestWindow = std::max(c.widestWindow, info.sndWnd);
        }
    }

    // Where, since the last answer, the server stopped taking what the line carried: between the last
    // look at which the two still moved together (within a hundredth of a second's bytes at the rate so
    // far) and the first from which they stayed apart by more than a twentieth: the looks from the one
    // to the other, from no earlier than kBurstSpan before the parting (a server that reads in large
    // chunks leaves a few unread now and then). Nothing when the two never parted (without the window
    // in TCP_INFO they cannot).
    std::optional<std::pair<std::size_t, std::size_t>> stopStretch() const
    {
        if (looksSinceAnswer.size() < 2)
            return std::nullopt;
        const double perSecond = static_cast<double>(generator.counter_.total()) /
                                 std::max(secondsBetween(started, looksSinceAnswer.back().at), 0.05);
        const auto near = static_cast<std::int64_t>(std::max(16.0 * 1024, 0.01 * perSecond));
        const auto apart = static_cast<std::int64_t>(std::max(64.0 * 1024, 0.05 * perSecond));
        const TurnLook& first = looksSinceAnswer.front();
        const auto parted = [&](const TurnLook& l) { return (l.carried - l.taken) - (first.carried - first.taken); };
        std::size_t apartFrom = looksSinceAnswer.size();
        while (apartFrom > 0 && parted(looksSinceAnswer[apartFrom - 1]) > apart)
            --apartFrom;
        if (apartFrom == looksSinceAnswer.size())
            return std::nullopt;
        std::size_t together = apartFrom == 0 ? 0 : apartFrom - 1;
        while (together > 0 && parted(looksSinceAnswer[together]) > near &&
               looksSinceAnswer[together - 1].at >= looksSinceAnswer[apartFrom].at - kBurstSpan)
            --together;
        return std::pair{together, apartFrom};
    }

    // Every turn of the loop: whether a download's bytes still arrive (see lastArrival).
    void watchArrivals(Clock::time_point start)
    {
        const std::int64_t arrived = receivedByTheKernel();
        const auto now = Clock::now();
        still.look(start, now, arrived);
        if (arrived <= lastArrived)
            return;
        if (lastArrived > 0 && now - lastArrival >= kLongestGap) {
            standstillOnsets.push_back(secondsBetween(start, lastArrival));
            standstillEnds.push_back(secondsBetween(start, now));
        }
        lastArrived = arrived;
        lastArrival = now;
    }

    // The next upload request's body (see kUploadBodySeconds).
    curl_off_t nextBodyBytes(const Stream& s) const
    {
        const double elapsed = std::max(secondsBetween(started, Clock::now()), 0.05);
        const auto byRate = static_cast<curl_off_t>(static_cast<double>(generator.counter_.total()) / elapsed *
                                                    kUploadBodySeconds);
        const curl_off_t most = std::max(kSmallestUploadBody, 2 * s.bodyBytes);
        return std::clamp(std::min(byRate, most), kSmallestUploadBody, static_cast<curl_off_t>(kUploadBodyBytes));
    }

    // Upload bytes of a request in flight that the server has taken: handed over, less what still
    // waits in the connected socket's send queue (unsent or not yet acknowledged), less what the
    // server has acknowledged but not read (its window's shrinkage since its widest); nothing while
    // its window is shut. Without the window in the socket's TCP_INFO (an old kernel), what was
    // acknowledged. `carried`: what the server's end acknowledged, read or not (what the line carried).
    std::int64_t receivedInFlight(Stream& s, bool carried = false)
    {
        if (direction != LoadDirection::upload || !s.active || s.handedOver <= 0)
            return 0;
        if (Connection* connection = connectionOf(s)) {
            const curl_socket_t socket = connection->socket;
            sockaddr_storage peer{};
            socklen_t length = sizeof(peer);
            int queued = 0;
            if (::getpeername(socket, reinterpret_cast<sockaddr*>(&peer), &length) != 0 ||
                ::ioctl(socket, SIOCOUTQ, &queued) != 0)
                return 0; // an attempt that did not connect
            std::int64_t acknowledged = std::max<std::int64_t>(0, static_cast<std::int64_t>(s.handedOver) - queued);
            if (carried)
                return acknowledged;
            KernelTcpInfo info{};
            socklen_t infoLength = sizeof(info);
            if (::getsockopt(socket, IPPROTO_TCP, TCP_INFO, &info, &infoLength) == 0 &&
                infoLength >= sizeof(info)) {
                if (info.sndWnd == 0)
                    return 0; // the server reads nothing: how much of its full buffer it read is unknown
                connection->widestWindow = std::max(connection->widestWindow, info.sndWnd);
                acknowledged -= static_cast<std::int64_t>(connection->widestWindow - info.sndWnd);
            }
            return std::max<std::int64_t>(0, acknowledged);
        }
        return 0;
    }

    // The phase's bytes so far: the counter plus what the server has taken of the uploads in flight
    // (with `carried`, what the line carried of them).
    std::int64_t total(bool carried = false)
    {
        std::int64_t sum = generator.counter_.total();
        for (Stream& s : streams)
            sum += receivedInFlight(s, carried);
        return sum;
    }

    // Whether the server, not the line, held every upload request in flight back since the last look:
    // each connection's sending was limited by the server's receive window for most of that time (a
    // window that still grows while the server reads nothing, or one shut), or its whole body has been
    // acknowledged and waits for an answer. A line that slows down limits the sending by congestion
    // instead.
    bool heldByTheServer(Clock::time_point now)
    {
        bool held = true;
        bool any = false;
        for (Stream& s : streams) {
            if (!s.active)
                continue;
            any = true;
            const std::optional<curl_socket_t> socket = socketOf(s);
            KernelTcpInfo info{};
            socklen_t infoLength = sizeof(info);
            if (!socket || ::getsockopt(*socket, IPPROTO_TCP, TCP_INFO, &info, &infoLength) != 0 ||
                infoLength < sizeof(info)) {
                held = false;
                continue;
            }
            const bool sameLook = s.lookedAt && s.lookedSocket == *socket;
            const double share = sameLook ? static_cast<double>(info.rwndLimited - s.rwndLimited) / 1e6 /
                                                std::max(secondsBetween(*s.lookedAt, now), 1e-3)
                                          : 0.0;
            int queued = 0;
            const bool allAcknowledged = s.handedOver >= s.bodyBytes && ::ioctl(*socket, SIOCOUTQ, &queued) == 0 &&
                                         queued == 0; // the server's end has the whole body, and no answer
            held = held && ((sameLook && share >= 0.5) || info.sndWnd == 0 || allAcknowledged);
            s.lookedAt = now;
            s.lookedSocket = *socket;
            s.rwndLimited = info.rwndLimited;
        }
        return any && held;
    }

    // An upload's answers have stopped: none in the last second, while the server held back every
    // request in flight. The server has taken nothing since, whatever its kernel still acknowledges.
    bool answersStopped(Clock::time_point now) const
    {
        return uploadAnswers > 0 && now - lastAnswer >= 1s && serverHolds;
    }

    void setUp()
    {
        multi = curl_multi_init();
        if (configuration.streams > 0)
            curl_multi_setopt(multi, CURLMOPT_MAX_HOST_CONNECTIONS, static_cast<long>(configuration.streams));
        // An empty Expect: keeps curl from waiting for "100 Continue" before a large POST body.
        headers = curl_slist_append(headers, "Expect:");
        if (direction == LoadDirection::upload)
            headers = curl_slist_append(headers, "Content-Type: application/octet-stream");
        headers = curl_slist_append(headers, "Cache-Control: no-cache");

        const QByteArray url = (direction == LoadDirection::download ? configuration.downloadURL
                                                                      : configuration.uploadURL).toUtf8();
        const long idleLimit =
            static_cast<long>(std::chrono::duration_cast<std::chrono::seconds>(configuration.maxDuration).count()) + 10;
        streams.resize(static_cast<std::size_t>(configuration.streams));
        for (Stream& s : streams) {
            s.phase = this;
            s.easy = curl_easy_init();
            CURL* e = s.easy;
            curl_easy_setopt(e, CURLOPT_URL, url.constData()); // copied by curl
            curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
            // Removing a handle never waits for a name lookup that hangs: the phase ends on time.
            curl_easy_setopt(e, CURLOPT_QUICK_EXIT, 1L);
            curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
            curl_easy_setopt(e, CURLOPT_MAXREDIRS, 10L);
            curl_easy_setopt(e, CURLOPT_FAILONERROR, 1L); // a status of 400 or more ends the request
            curl_easy_setopt(e, CURLOPT_HTTPHEADER, headers);
            curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &Phase::onData);
            curl_easy_setopt(e, CURLOPT_WRITEDATA, &s);
            curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &Phase::onHeader);
            curl_easy_setopt(e, CURLOPT_HEADERDATA, &s);
            curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L);
            curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION, &Phase::onProgress);
            curl_easy_setopt(e, CURLOPT_XFERINFODATA, &s);
            curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT, idleLimit);
            // An idle limit, not a limit on the whole request: the deadline cuts requests anyway.
            curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, 1L);
            curl_easy_setopt(e, CURLOPT_LOW_SPEED_TIME, idleLimit);
            if (direction == LoadDirection::upload) {
                const std::vector<char>& body = uploadBody();
                curl_easy_setopt(e, CURLOPT_POST, 1L);
                curl_easy_setopt(e, CURLOPT_POSTFIELDS, body.data());
                curl_easy_setopt(e, CURLOPT_PREREQFUNCTION, &Phase::onRequestReady);
                curl_easy_setopt(e, CURLOPT_PREREQDATA, &s);
            }
            curl_easy_setopt(e, CURLOPT_SOCKOPTFUNCTION, &Phase::onSocketOpened);
            curl_easy_setopt(e, CURLOPT_SOCKOPTDATA, &s);
            curl_easy_setopt(e, CURLOPT_CLOSESOCKETFUNCTION, &Phase::onSocketClosing);
            curl_easy_setopt(e, CURLOPT_CLOSESOCKETDATA, &s);
        }
    }

    void issue(Stream& s)
    {
        s.requestBytes = 0;
        s.handedOver = 0;
        s.sentWhenAnswered.reset();
        s.carriedWholeAt.reset();
        s.answered = false;
        s.retryAt.reset();
        s.localPort = -1;
        if (direction == LoadDirection::upload) {
            s.bodyBytes = nextBodyBytes(s);
            curl_easy_setopt(s.easy, CURLOPT_POSTFIELDSIZE_LARGE, s.bodyBytes);
        }
        s.active = curl_multi_add_handle(multi, s.easy) == CURLM_OK;
    }

    // A request has ended: its bytes are settled, a failure recorded and its stream told when to go on.
    void settle(Stream& s, CURLcode code)
    {
        curl_multi_remove_handle(multi, s.easy);
        s.active = false;
        if (code == CURLE_ABORTED_BY_CALLBACK && stopping())
            return; // cancelled: the phase ends now
        const bool shortAnswer = isShortAnswer(s, code);
        if (code == CURLE_OK && !shortAnswer) {
            noteAnswered(s);
            if (direction == LoadDirection::upload) {
                generator.counter_.add(s.handedOver); // answered after the whole body: the server read it
                lastAnswer = Clock::now();
                ++uploadAnswers;
                looksSinceAnswer.clear();
            }
            s.retryDelay = 0ms;
            return;
        }
        if (direction == LoadDirection::download)
            generator.counter_.add(-s.requestBytes);
        if (shortAnswer && s.answered) // a short answer is a failed request, not an answered one
            --requestsAnswered;
        ++requestsFailed;
        if (shortAnswer) {
            if (!lastFailureWasShortAnswer)
                qCWarning(log::loadtest, "Load request got a short answer (%lld bytes received, %lld of %lld body "
                                         "bytes sent when answered); counted as failed, retrying with back-off",
                          static_cast<long long>(s.requestBytes),
                          static_cast<long long>(s.sentWhenAnswered.value_or(s.handedOver)),
                          static_cast<long long>(direction == LoadDirection::upload ? s.bodyBytes : 0));
            lastFailureWasShortAnswer = true;
            lastFailure.reset();
        } else {
            long status = 0;
            curl_easy_getinfo(s.easy, CURLINFO_RESPONSE_CODE, &status);
            long osError = 0;
            curl_easy_getinfo(s.easy, CURLINFO_OS_ERRNO, &osError);
            const FailureCause cause = causeOf(code, status, osError);
            if (lastFailure != cause) // each new kind of failure once per phase, not every retry
                qCWarning(log::loadtest, "Load request failed: %s (HTTP status %ld, errno %ld); retrying with back-off",
                          curl_easy_strerror(code), status, osError);
            lastFailure = cause;
            lastFailureWasShortAnswer = false;
        }
        s.retryDelay = s.retryDelay == 0ms ? kFirstRetryDelay : std::min(kLongestRetryDelay, s.retryDelay * 2);
        s.retryAt = Clock::now() + s.retryDelay;
    }

    // A request answered without load: a complete download shorter than kShortestAnswer or than its
    // own Content-Length, an upload answered with a success status before its whole body had been
    // sent (whether the server then closed the connection or not).
    bool isShortAnswer(const Stream& s, CURLcode code) const
    {
        if (direction == LoadDirection::upload) {
            const curl_off_t body = s.bodyBytes;
            if (code != CURLE_OK) { // an error status keeps its own cause
                long status = 0;
                curl_easy_getinfo(s.easy, CURLINFO_RESPONSE_CODE, &status);
                return status > 0 && status < 400 && s.sentWhenAnswered && *s.sentWhenAnswered < body;
            }
            return s.handedOver < body || s.sentWhenAnswered.value_or(0) < body;
        }
        if (code != CURLE_OK)
            return false;
        curl_off_t announced = -1;
        curl_easy_getinfo(s.easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
        return s.requestBytes < kShortestAnswer || (announced >= 0 && s.requestBytes < announced);
    }

    static FailureCause causeOf(CURLcode code, long status, long osError)
    {
        switch (code) {
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY: return FailureCause::nameNotResolved;
        case CURLE_COULDNT_CONNECT:
            return osError == ECONNREFUSED ? FailureCause::connectionRefused : FailureCause::unreachable;
        case CURLE_OPERATION_TIMEDOUT: return FailureCause::timedOut;
        case CURLE_HTTP_RETURNED_ERROR: return FailureCause::serverError;
        default: break;
        }
        if (status >= 400)
            return FailureCause::serverError;
        return osError != 0 ? failureCauseFromErrno(static_cast<int>(osError)) : FailureCause::unreachable;
    }

    // What the requests in flight still wait for: their name, their connection, or data.
    std::optional<FailureCause> pendingCause() const
    {
        for (const Stream& s : streams) {
            if (!s.active)
                continue;
            curl_off_t lookup = 0;
            curl_off_t connect = 0;
            curl_easy_getinfo(s.easy, CURLINFO_NAMELOOKUP_TIME_T, &lookup);
            curl_easy_getinfo(s.easy, CURLINFO_CONNECT_TIME_T, &connect);
            if (lookup == 0)
                return FailureCause::nameNotResolved;
            return connect == 0 ? FailureCause::unreachable : FailureCause::timedOut;
        }
        return std::nullopt;
    }

    LoadPhaseResult run()
    {
        setUp();
        const auto start = started = Clock::now();
        const auto deadline = start + configuration.maxDuration;
        for (Stream& s : streams)
            issue(s);

        bool capReached = false;
        std::vector<double> samples;
        std::int64_t previousTotal = 0; // what the samples have counted, at the last look
        std::int64_t previousCarried = 0;
        std::int64_t peakTotal = 0;
        bool answersWentStill = false; // upload: a second took nothing of what the line carried
        bool answersWereStill = false;  // upload: at the last look
        auto nextSample = start + 1s;
        double countAtSecondEnd = 0;    // what the samples had counted at the end of the last whole second
        std::vector<double> secondEnds; // and at the end of each whole second
        // Upload: the count at each look, to tell what it had reached at a moment in between.
        struct CountLook {
            Clock::time_point at;
            std::int64_t counted = 0;
            std::int64_t carried = 0;
        };
        std::vector<CountLook> countLooks{{start, 0, 0}};
        std::optional<std::pair<Clock::time_point, std::int64_t>> rewoundTo; // set by the look that rewinds
        // The answers have just been found still: the count goes back to what it had reached where the
        // server stopped taking what the line carried, seconds already closed after it included. Acks
        // come in bursts (a look can trail the line by a tenth of a second): of the looks around the
        // stop (up to kBurstSpan after the last that moved together), the first at which the line had
        // carried (next to) the most for its time, with what a look would have counted there (from the
        // look before it, at the line's pace).
        const auto rewindToOnset = [&] {
            const auto stretch = stopStretch();
            if (!stretch)
                return;
            std::vector<std::pair<Clock::time_point, std::int64_t>> around;
            double most = 0; // the line's best rate at them
            const auto latest = looksSinceAnswer[stretch->first].at + kBurstSpan;
            for (std::size_t i = stretch->first; i <= stretch->second && i < looksSinceAnswer.size(); ++i) {
                const TurnLook& l = looksSinceAnswer[i];
                if (l.at > latest)
                    break;
                const auto from = std::find_if(countLooks.rbegin(), countLooks.rend(),
                                               [&](const CountLook& c) { return c.at <= l.at; });
                if (from == countLooks.rend() || l.at <= start)
                    continue;
                around.emplace_back(l.at, from->counted + std::max<std::int64_t>(0, l.carried - from->carried));
                most = std::max(most, static_cast<double>(around.back().second) / secondsBetween(start, l.at));
            }
            // The first that comes within a two-hundredth of it: after a long flow the rate barely moves
            // from look to look, and the stop is no later than it need be.
            const auto best = std::find_if(around.begin(), around.end(), [&](const auto& a) {
                return static_cast<double>(a.second) / secondsBetween(start, a.first) >= most * (1 - kSameRate);
            });
            if (best == around.end())
                return;
            // A server that still read would have answered a body its end had acknowledged whole within a
            // round trip: one still unanswered a quarter second later says it had stopped by then, however
            // long its window went on opening (a young connection's, behind a deep queue).
            std::optional<Clock::time_point> stoppedBy;
            const auto answeredWithin = Clock::now() - kBurstSpan;
            for (const Stream& s : streams)
                if (s.active && s.carriedWholeAt && *s.carriedWholeAt <= answeredWithin)
                    stoppedBy = std::min(stoppedBy.value_or(*s.carriedWholeAt), *s.carriedWholeAt);
            std::pair<Clock::time_point, std::int64_t> chosen = *best;
            if (stoppedBy && chosen.first > *stoppedBy) {
                const auto before = std::find_if(looksSinceAnswer.rbegin(), looksSinceAnswer.rend(),
                                                 [&](const TurnLook& l) { return l.at <= *stoppedBy; });
                const auto from = before == looksSinceAnswer.rend()
                                      ? countLooks.rend()
                                      : std::find_if(countLooks.rbegin(), countLooks.rend(),
                                                     [&](const CountLook& c) { return c.at <= before->at; });
                if (from != countLooks.rend() && before->at > start)
                    chosen = {before->at, from->counted + std::max<std::int64_t>(0, before->carried - from->carried)};
            }
            const auto [onsetAt, reached] = chosen;
            standstillOnsets.push_back(secondsBetween(start, onsetAt));
            for (std::size_t k = 0; k < secondEnds.size(); ++k) {
                if (start + std::chrono::seconds(k + 1) <= onsetAt)
                    continue;
                secondEnds[k] = static_cast<double>(reached);
                samples[k] = (secondEnds[k] - (k > 0 ? secondEnds[k - 1] : 0.0)) * 8.0 / 1'000'000.0;
            }
            countAtSecondEnd = secondEnds.empty() ? 0.0 : secondEnds.back();
            previousTotal = peakTotal = reached;
            rewoundTo = chosen;
        };
        const auto look = [&](std::int64_t now, Clock::time_point at) {
            if (direction == LoadDirection::download)
                peakTotal = std::max(peakTotal, now);
            // A failed request's bytes leave the total again; a sample never goes below nothing.
            std::int64_t moved = std::max<std::int64_t>(0, now - previousTotal);
            if (direction == LoadDirection::upload) {
                // An upload's second takes nothing once its answers have stopped, and never more than
                // the line carried in it: bytes in flight that fell back while the server's window
                // was shut, or were held while its answers stopped, come back at the line's pace when
                // it reads again, not as a burst.
                const std::int64_t carried = std::max(total(true), previousCarried);
                serverHolds = heldByTheServer(at);
                const bool stopped = answersStopped(at);
                if (stopped && !answersWereStill)
                    rewindToOnset();
                answersWereStill = stopped;
                answersWentStill = answersWentStill || (stopped && carried > previousCarried);
                moved = stopped ? 0 : std::min(moved, carried - previousCarried);
                previousCarried = carried;
                previousTotal += moved;
                peakTotal = std::max(peakTotal, previousTotal);
                countLooks.push_back({at, previousTotal, previousCarried});
            } else {
                // A download's seconds follow what the line brought in each (scaled to the bytes
                // counted when the phase ends): bytes held back behind a lost segment, or while curl
                // did not read, count when they arrived, not as a burst when they were handed on.
                const std::int64_t arrived = receivedByTheKernel();
                previousTotal = std::max(arrived > 0 ? arrived : now, previousTotal); // without TCP_INFO: the count
            }
        };
        // The count is looked at once a second has ended. The loop can wake late (on a busy machine by
        // more than a second): each second then takes what moved between the looks around its end as
        // if it moved evenly in between, so that a late look never gives one second a second and a half
        // of bytes (above what the line carries) and the next too few or none. A look that rewinds to
        // where the load stopped in between moves evenly up to there, and nothing after.
        Clock::time_point lookedAt = start;
        const auto closeSeconds = [&](Clock::time_point now) {
            std::vector<std::pair<Clock::time_point, double>> course{{lookedAt, static_cast<double>(previousTotal)}};
            rewoundTo.reset();
            look(total(), now);
            if (rewoundTo && rewoundTo->first <= lookedAt)
                course.front().second = static_cast<double>(rewoundTo->second);
            else if (rewoundTo)
                course.emplace_back(rewoundTo->first, static_cast<double>(rewoundTo->second));
            course.emplace_back(std::max(now, course.back().first), static_cast<double>(previousTotal));
            lookedAt = now;
            const auto countAt = [&](Clock::time_point t) {
                for (std::size_t i = 1; i < course.size(); ++i) {
                    if (t > course[i].first && i + 1 < course.size())
                        continue;
                    const double span = std::max(secondsBetween(course[i - 1].first, course[i].first), 1e-6);
                    const double share = std::clamp(secondsBetween(course[i - 1].first, t) / span, 0.0, 1.0);
                    return course[i - 1].second + share * (course[i].second - course[i - 1].second);
                }
                return course.back().second;
            };
            while (nextSample <= now && nextSample <= deadline) {
                const double atEnd = countAt(nextSample);
                samples.push_back((atEnd - countAtSecondEnd) * 8.0 / 1'000'000.0);
                secondEnds.push_back(atEnd);
                countAtSecondEnd = atEnd;
                nextSample += 1s;
            }
        };

        // The loop turns at least every kPollSlice. A turn that comes much later means this computer
        // did not run the test meanwhile (a busy or suspended process): the line may have stood idle
        // for our sake, which the result says.
        double heldSeconds = 0;
        Clock::time_point lastTurn = start;
        for (;;) {
            const auto now = Clock::now();
            if (now - lastTurn > kLongestTurn)
                heldSeconds += secondsBetween(lastTurn, now) - std::chrono::duration<double>(kPollSlice).count();
            lastTurn = now;
            if (nextSample <= now && nextSample <= deadline)
                closeSeconds(now);
            if (now >= deadline || stopping())
                break;

            int running = 0;
            curl_multi_perform(multi, &running);
            watchWindows();
            if (direction == LoadDirection::upload) {
                const auto at = Clock::now();
                for (Stream& s : streams) {
                    int queued = 0;
                    const std::optional<curl_socket_t> socket = s.active && !s.carriedWholeAt && s.bodyBytes > 0 &&
                                                                        s.handedOver >= s.bodyBytes
                                                                    ? socketOf(s)
                                                                    : std::nullopt;
                    if (socket && ::ioctl(*socket, SIOCOUTQ, &queued) == 0 && queued == 0)
                        s.carriedWholeAt = at;
                }
                const std::int64_t carried = total(true);
                const std::int64_t taken = total();
                const double pace = static_cast<double>(generator.counter_.total()) / std::max(secondsBetween(start, at), 0.05);
                take.look(start, at, taken, carried, pace);
                if (uploadAnswers > 0 && looksSinceAnswer.size() < kMostTurnLooks)
                    looksSinceAnswer.push_back({at, taken, carried});
            }
            if (direction == LoadDirection::download)
                watchArrivals(start);
            int queued = 0;
            while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
                if (message->msg != CURLMSG_DONE)
                    continue;
                auto it = std::find_if(streams.begin(), streams.end(),
                                       [&](const Stream& s) { return s.easy == message->easy_handle; });
                if (it == streams.end())
                    continue;
                settle(*it, message->data.result);
                if (total() >= configuration.maxBytes) {
                    generator.noteEarlyEnd(secondsBetween(start, Clock::now()));
                    capReached = true;
                }
                if (!capReached && !it->retryAt && Clock::now() < deadline && !stopping())
                    issue(*it);
            }
            // Streams waiting after a failed request go again when their wait is over.
            auto wakeAt = std::min(nextSample, deadline);
            for (Stream& s : streams) {
                if (!s.retryAt)
                    continue;
                if (capReached)
                    s.retryAt.reset();
                else if (*s.retryAt <= Clock::now() && Clock::now() < deadline && !stopping())
                    issue(s);
                else
                    wakeAt = std::min(wakeAt, *s.retryAt);
            }

            const auto wait = std::clamp(std::chrono::ceil<std::chrono::milliseconds>(wakeAt - Clock::now()),
                                         0ms, std::chrono::duration_cast<std::chrono::milliseconds>(kPollSlice));
            curl_multi_poll(multi, nullptr, 0, static_cast<int>(wait.count()), nullptr);
        }

        // The watchdog's cut: requests still in flight end here; the bytes they moved until now count
        // (for an upload, those the server has received; none once its answers have stopped).
        const std::optional<FailureCause> pending = pendingCause();
        const bool answersHadStopped = answersStopped(Clock::now());
        const std::int64_t answeredBytes = generator.counter_.total(); // an upload's: what the server read
        for (Stream& s : streams) {
            if (s.active) {
                if (!answersHadStopped)
                    generator.counter_.add(receivedInFlight(s));
                curl_multi_remove_handle(multi, s.easy);
                s.active = false;
            }
        }
        const auto end = Clock::now();
        const std::int64_t finalTotal = generator.counter_.total();
        // The last, partial sample (a cancelled phase or the remainder after the last whole second);
        // a sliver with nothing moved in it is not a sample.
        look(finalTotal, end);
        if (static_cast<double>(previousTotal) != countAtSecondEnd || end - (nextSample - 1s) > kPollSlice)
            samples.push_back((static_cast<double>(previousTotal) - countAtSecondEnd) * 8.0 / 1'000'000.0);
        if (direction == LoadDirection::download) {
            const double scale = previousTotal > 0 ? static_cast<double>(finalTotal) / static_cast<double>(previousTotal) : 0.0;
            for (double& sample : samples)
                sample *= scale;
        }

        LoadPhaseResult result;
        // An upload's bytes are what its seconds counted (each within what the line carried): the
        // requests cut in flight add only as far as the line carried them. The answered bodies count
        // whole if they are more, unless a second took nothing of what the line carried while the
        // answers stood still: what the server's kernel took then, and the server read after a pause,
        // is left out of the count as it is of those seconds, so that the rate over the seconds that
        // flowed stays the line's.
        // After the server stood still and took on again, the seconds' count stands: what its kernel took
        // meanwhile is left out with the time it stood still (the count goes on at the line's pace).
        const std::int64_t counted = std::min(finalTotal, previousTotal);
        result.bytesTransferred = direction == LoadDirection::download                  ? finalTotal
                                  : answersWentStill || !take.stretches.empty() ? counted
                                                                                : std::max(answeredBytes, counted);
        result.peakBytes = std::max(peakTotal, result.bytesTransferred);
        result.durationSeconds = secondsBetween(start, end);
        result.perSecondMbps = std::move(samples);
        const std::optional<double> earlyEnd = generator.loadEndedEarlyAtSeconds();
        result.stoppedReason = earlyEnd ? LoadStopReason::byteCapReached : LoadStopReason::durationReached;
        result.loadEndedAtSeconds = earlyEnd.value_or(result.durationSeconds);
        result.heldSeconds = heldSeconds;
        if (direction == LoadDirection::download && lastArrived > 0 && end - lastArrival >= kLongestGap)
            standstillOnsets.push_back(secondsBetween(start, lastArrival)); // still at the end: a stop
        result.standstillOnsets = std::move(standstillOnsets);
        result.standstillEnds = std::move(standstillEnds);
        result.stillStretches = std::move(direction == LoadDirection::upload ? take.stretches : still.stretches);
        result.requestsAnswered = requestsAnswered;
        result.requestsFailed = requestsFailed;
        // Why the phase moved (next to) nothing: the last error, else what the requests waited for.
        // After short answers the server did answer: no transfer error names the cause.
        if ((finalTotal < kLeastLoadBytes || requestsAnswered == 0) && !lastFailureWasShortAnswer)
            result.failure = lastFailure ? lastFailure : pending;
        return result;
    }
};

// ---------------------------------------------------------------------------------------------
LoadGenerator::LoadGenerator() : BlockingActor("pv-loadtest")
{
    initialiseCurlOnce();
}

LoadGenerator::~LoadGenerator()
{
    closing_ = true;
    cancel();
    shutdownThread();
}

rt::awaitable<LoadPhaseResult> LoadGenerator::runDownload(Configuration configuration, LoadStopFlag stop)
{
    return call([this, configuration, stop] { return runPhase(LoadDirection::download, configuration, stop); });
}

rt::awaitable<LoadPhaseResult> LoadGenerator::runUpload(Configuration configuration, LoadStopFlag stop)
{
    return call([this, configuration, stop] { return runPhase(LoadDirection::upload, configuration, stop); });
}

void LoadGenerator::cancel()
{
    std::lock_guard lock(mutex_);
    if (phaseRunning_)
        abortPhase_ = true;
}

std::optional<double> LoadGenerator::loadEndedEarlyAtSeconds() const
{
    std::lock_guard lock(mutex_);
    return loadEndedEarlyAtSeconds_;
}

void LoadGenerator::noteEarlyEnd(double seconds)
{
    std::lock_guard lock(mutex_);
    if (!loadEndedEarlyAtSeconds_) // set once, by the first stream that finds the cap reached
        loadEndedEarlyAtSeconds_ = seconds;
}

LoadPhaseResult LoadGenerator::runPhase(LoadDirection direction, const Configuration& configuration, LoadStopFlag stop)
{
    assert(configuration.streams >= 0 && "a negative stream count is a programming error");
    {
        std::lock_guard lock(mutex_);
        counter_.reset();
        loadEndedEarlyAtSeconds_.reset();
        phaseRunning_ = true;
        abortPhase_ = closing_.load();
    }
    Configuration checked = configuration;
    checked.streams = std::max(0, checked.streams);
    LoadPhaseResult result = Phase(*this, direction, checked, std::move(stop)).run();
    {
        std::lock_guard lock(mutex_);
        phaseRunning_ = false;
        abortPhase_ = false;
    }
    return result;
}

} // namespace pv
