#pragma once
// The HTTP probe: one plain-HTTP GET of a captive-portal check page per call, timed as a whole and
// split into name lookup, connection, TLS and server response; a login page that intercepts the
// request is recognised as a captive portal.
//
// Each request is one libcurl easy transfer, performed on the probe's own worker thread and awaited
// by the caller. The probe service sends one request per batch, so a worker costs one thread switch
// per batch; driving curl's multi-socket interface from Asio would pay off only for many parallel
// transfers (the load test's business), not for this one.

#include "core/records/Records.h"
#include "core/records/Runtime.h"

#include <QByteArray>
#include <QString>

#include <chrono>
#include <optional>
#include <utility>
#include <vector>

namespace pv {

// Milliseconds; a phase that the transfer did not go through (TLS over plain HTTP) is absent.
struct HTTPPhases {
    std::optional<double> dnsMilliseconds;
    std::optional<double> connectMilliseconds;
    std::optional<double> tlsMilliseconds;
    std::optional<double> requestToResponseMilliseconds;
    bool operator==(const HTTPPhases&) const = default;
};

struct HTTPProbeOutcome {
    enum class Kind { success, captivePortal, unexpectedStatus, failed, timeout };

    Kind kind = Kind::timeout;
    double total = 0;                  // success: the whole request in milliseconds
    std::optional<HTTPPhases> phases;  // success only
    int statusCode = 0;                // captivePortal, unexpectedStatus
    QString message;                   // failed

    static HTTPProbeOutcome success(double totalMilliseconds, std::optional<HTTPPhases> phases);
    static HTTPProbeOutcome captivePortal(int statusCode);
    static HTTPProbeOutcome unexpectedStatus(int statusCode);
    static HTTPProbeOutcome failed(QString message);
    static HTTPProbeOutcome timedOut();

    std::optional<double> totalMilliseconds() const;
    bool isSuccess() const { return kind == Kind::success; }
    bool operator==(const HTTPProbeOutcome&) const = default;
};

class HTTPProbe : public rt::BlockingActor {
public:
    explicit HTTPProbe(std::chrono::nanoseconds timeout = std::chrono::seconds(5), const char* threadName = "pv-http");
    ~HTTPProbe() override;

    // The check page used when neither the user nor the system names one: NetworkManager's own
    // upstream check, a plain-HTTP page whose body reads defaultResponse().
    static QString defaultURL();
    static QByteArray defaultResponse();
    // The connectivity check that NetworkManager's configuration names, from the files' contents in
    // the order it reads them (a later file's key wins): the "uri" and "response" of the
    // "[connectivity]" group (no response: NetworkManager's own "NetworkManager is online"). None
    // when no file names an address, or the check is switched off (enabled=false, interval=0).
    static std::optional<std::pair<QString, QByteArray>> networkManagerCheck(const std::vector<QByteArray>& files);
    // This system's NetworkManager configuration files, read in NetworkManager's order: the main
    // file, then the conf.d snippets of /usr/lib, /run and /etc by name (/etc's copy of a name wins).
    static std::vector<QByteArray> networkManagerConfigFiles();

    std::chrono::nanoseconds timeout() const { return timeout_; }

    // Never throws. Resumes the caller on its own executor. The check passes on a 200 whose body
    // contains `response`; an empty `response` asks, as NetworkManager does, for a 204 or an empty 200.
    // With a family, the page's host is only reached over that family (its addresses of the other
    // family are never tried).
    rt::awaitable<HTTPProbeOutcome> measure(QString url, QByteArray response = QByteArrayLiteral("Success"),
                                            std::optional<AddressFamily> family = std::nullopt);

    // The family of a URL whose host is a numeric address; none for a host name.
    static std::optional<AddressFamily> literalFamily(const QString& url);

private:
    static HTTPProbeOutcome perform(const QString& url, const QByteArray& response, std::chrono::nanoseconds timeout,
                                    std::optional<AddressFamily> family);

    std::chrono::nanoseconds timeout_;
};

} // namespace pv
