#include "core/probes/HTTPProbe.h"

#include "core/probes/ICMPSocket.h" // the probes' common uptime clock

#include <QDir>
#include <QFile>
#include <QUrl>

#include <curl/curl.h>
#include <arpa/inet.h>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace pv {

namespace {

// Looks for the expected text in the body as it streams in, so a large page costs no memory. The
// bytes are compared as they are: a body that is not valid UTF-8 still matches.
struct BodyScan {
    std::string expected;
    bool found = false;
    std::size_t bytes = 0;
    std::string tail; // the last bytes of the body so far, for a match split across two chunks

    static size_t onData(char* data, size_t size, size_t count, void* user)
    {
        auto* scan = static_cast<BodyScan*>(user);
        const size_t length = size * count;
        scan->bytes += length;
        const std::size_t keep = scan->expected.empty() ? 0 : scan->expected.size() - 1;
        if (!scan->found && !scan->expected.empty()) {
            const std::string_view chunk(data, length);
            std::string seam = scan->tail;
            seam.append(chunk.substr(0, keep));
            if (seam.find(scan->expected) != std::string::npos || chunk.find(scan->expected) != std::string_view::npos) {
                scan->found = true;
            } else {
                scan->tail.append(chunk.substr(chunk.size() > keep + 1 ? chunk.size() - keep - 1 : 0));
                if (scan->tail.size() > keep)
                    scan->tail.erase(0, scan->tail.size() - keep);
            }
        }
        return length;
    }
};

// A key file's value as GLib reads it: leading blanks dropped, "\s", "\n", "\t", "\r" and "\\" undone.
QByteArray keyFileValue(QByteArray raw)
{
    raw = raw.trimmed();
    QByteArray value;
    for (qsizetype i = 0; i < raw.size(); ++i) {
        if (raw[i] != '\\' || i + 1 == raw.size()) {
            value += raw[i];
            continue;
        }
        switch (raw[++i]) {
        case 's': value += ' '; break;
        case 'n': value += '\n'; break;
        case 't': value += '\t'; break;
        case 'r': value += '\r'; break;
        default: value += raw[i]; break;
        }
    }
    return value;
}

std::optional<HTTPPhases> readPhases(CURL* handle)
{
    // Cumulative microseconds from the start of the transfer.
    curl_off_t lookup = 0, connect = 0, appConnect = 0, preTransfer = 0, startTransfer = 0;
    if (curl_easy_getinfo(handle, CURLINFO_NAMELOOKUP_TIME_T, &lookup) != CURLE_OK ||
        curl_easy_getinfo(handle, CURLINFO_CONNECT_TIME_T, &connect) != CURLE_OK ||
        curl_easy_getinfo(handle, CURLINFO_APPCONNECT_TIME_T, &appConnect) != CURLE_OK ||
        curl_easy_getinfo(handle, CURLINFO_PRETRANSFER_TIME_T, &preTransfer) != CURLE_OK ||
        curl_easy_getinfo(handle, CURLINFO_STARTTRANSFER_TIME_T, &startTransfer) != CURLE_OK)
        return std::nullopt;
    const auto ms = [](curl_off_t us) { return static_cast<double>(us) / 1000.0; };
    HTTPPhases phases;
    phases.dnsMilliseconds = ms(lookup);
    phases.connectMilliseconds = ms(connect - lookup);
    if (appConnect > 0)
        phases.tlsMilliseconds = ms(appConnect - connect);
    // curl has no "request sent" instant; the end of its preparations (request about to be sent)
    // to the first response byte is the closest to the server's time to first byte.
    phases.requestToResponseMilliseconds = ms(startTransfer - preTransfer);
    return phases;
}

} // namespace

// ---------------------------------------------------------------------------------------------
HTTPProbeOutcome HTTPProbeOutcome::success(double totalMilliseconds, std::optional<HTTPPhases> phases)
{
    HTTPProbeOutcome o;
    o.kind = Kind::success;
    o.total = totalMilliseconds;
    o.phases = std::move(phases);
    return o;
}

HTTPProbeOutcome HTTPProbeOutcome::captivePortal(int statusCode)
{
    HTTPProbeOutcome o;
    o.kind = Kind::captivePortal;
    o.statusCode = statusCode;
    return o;
}

HTTPProbeOutcome HTTPProbeOutcome::unexpectedStatus(int statusCode)
{
    HTTPProbeOutcome o;
    o.kind = Kind::unexpectedStatus;
    o.statusCode = statusCode;
    return o;
}

HTTPProbeOutcome HTTPProbeOutcome::failed(QString message)
{
    HTTPProbeOutcome o;
    o.kind = Kind::failed;
    o.message = std::move(message);
    return o;
}

HTTPProbeOutcome HTTPProbeOutcome::timedOut() { return HTTPProbeOutcome{}; }

std::optional<double> HTTPProbeOutcome::totalMilliseconds() const
{
    if (kind == Kind::success)
        return total;
    return std::nullopt;
}

// ---------------------------------------------------------------------------------------------
HTTPProbe::HTTPProbe(std::chrono::nanoseconds timeout, const char* threadName)
    : BlockingActor(threadName), timeout_(timeout)
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

HTTPProbe::~HTTPProbe() { shutdownThread(); }

QString HTTPProbe::defaultURL() { return QStringLiteral("http://nmcheck.gnome.org/check_network_status.txt"); }
QByteArray HTTPProbe::defaultResponse() { return QByteArrayLiteral("NetworkManager is online"); }

std::optional<std::pair<QString, QByteArray>> HTTPProbe::networkManagerCheck(const std::vector<QByteArray>& files)
{
    std::map<QByteArray, QByteArray> keys; // of the [connectivity] group, the last file's value of each
    for (const QByteArray& file : files) {
        QByteArray group;
        for (const QByteArray& rawLine : file.split('\n')) {
            const QByteArray line = rawLine.trimmed();
            if (line.isEmpty() || line.startsWith('#') || line.startsWith(';'))
                continue;
            if (line.startsWith('[') && line.endsWith(']')) {
                group = line.mid(1, line.size() - 2).trimmed();
                continue;
            }
            const qsizetype equals = line.indexOf('=');
            if (group == "connectivity" && equals > 0)
                keys[line.left(equals).trimmed()] = keyFileValue(line.mid(equals + 1));
        }
    }
    const auto value = [&](const char* key) -> std::optional<QByteArray> {
        const auto it = keys.find(key);
        return it == keys.end() ? std::nullopt : std::optional<QByteArray>(it->second);
    };
    const QByteArray uri = value("uri").value_or(QByteArray());
    const QByteArray enabled = value("enabled").value_or("true").toLower();
    if (uri.isEmpty() || enabled == "false" || enabled == "0" || value("interval") == "0")
        return std::nullopt;
    return std::pair{QString::fromUtf8(uri), value("response").value_or(defaultResponse())};
}

std::vector<QByteArray> HTTPProbe::networkManagerConfigFiles()
{
    const auto read = [](const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    std::vector<QByteArray> files{read(QStringLiteral("/etc/NetworkManager/NetworkManager.conf"))};
    std::map<QString, QString> snippets; // by name; a later folder's file of the same name wins
    for (const char* folder : {"/usr/lib/NetworkManager/conf.d", "/run/NetworkManager/conf.d", "/etc/NetworkManager/conf.d"}) {
        const QDir dir(QString::fromLatin1(folder));
        for (const QString& name : dir.entryList({QStringLiteral("*.conf")}, QDir::Files | QDir::Readable))
            snippets[name] = dir.filePath(name);
    }
    for (const auto& [name, path] : snippets)
        files.push_back(read(path));
    return files;
}

rt::awaitable<HTTPProbeOutcome> HTTPProbe::measure(QString url, QByteArray response,
                                                 std::optional<AddressFamily> family)
{
    return call([url = std::move(url), response = std::move(response), timeout = timeout_, family] {
        return perform(url, response, timeout, family);
    });
}

std::optional<AddressFamily> HTTPProbe::literalFamily(const QString& url)
{
    const QString host = QUrl(url).host();
    if (host.isEmpty())
        return std::nullopt;
    const QByteArray text = host.toLatin1();
    in6_addr buffer{};
    if (inet_pton(AF_INET, text.constData(), &buffer) == 1)
        return AddressFamily::ipv4;
    if (inet_pton(AF_INET6, text.constData(), &buffer) == 1)
        return AddressFamily::ipv6;
    return std::nullopt;
}

HTTPProbeOutcome HTTPProbe::perform(const QString& url, const QByteArray& response, std::chrono::nanoseconds timeout,
                                    std::optional<AddressFamily> family)
{
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> handle(curl_easy_init(), &curl_easy_cleanup);
    if (!handle)
        return HTTPProbeOutcome::failed(QString::fromUtf8(curl_easy_strerror(CURLE_FAILED_INIT)));
    CURL* h = handle.get();
    const QByteArray urlBytes = url.toUtf8();
    BodyScan scan;
    scan.expected = response.toStdString();
    const long timeoutMs = static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(timeout).count());
    curl_easy_setopt(h, CURLOPT_URL, urlBytes.constData());
    curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(h, CURLOPT_USERAGENT, "Polvarine");
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, timeoutMs > 0 ? timeoutMs : 1L);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    // The name lookup runs in a resolver thread of curl's. When the time-out strikes during a
    // lookup that gets no answer, curl would by default join that thread before returning, i.e.
    // wait out the system resolver's own retries (several times 5 s); this lets it leave the thread
    // to finish on its own, so the request ends at its limit in every phase.
    curl_easy_setopt(h, CURLOPT_QUICK_EXIT, 1L);
    // A redirect is what a captive portal answers with: it must be seen, not followed.
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
    // Every request on a connection of its own, so each one pays (and measures) the whole set-up.
    curl_easy_setopt(h, CURLOPT_FRESH_CONNECT, 1L);
    curl_easy_setopt(h, CURLOPT_FORBID_REUSE, 1L);
    // The probe measures the direct path: proxy settings from the environment (http_proxy and
    // friends) are ignored, so a proxy can neither hide nor cause a failure of the line.
    curl_easy_setopt(h, CURLOPT_PROXY, "");
    if (family)
        curl_easy_setopt(h, CURLOPT_IPRESOLVE, *family == AddressFamily::ipv6 ? CURL_IPRESOLVE_V6 : CURL_IPRESOLVE_V4);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &BodyScan::onData);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &scan);

    const std::uint64_t start = ICMPSocket::uptimeNanoseconds();
    const CURLcode rc = curl_easy_perform(h);
    const std::uint64_t end = ICMPSocket::uptimeNanoseconds();

    if (rc == CURLE_OPERATION_TIMEDOUT)
        return HTTPProbeOutcome::timedOut();
    if (rc != CURLE_OK)
        return HTTPProbeOutcome::failed(QString::fromUtf8(curl_easy_strerror(rc)));

    const char* scheme = nullptr;
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_SCHEME, &scheme);
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    const QByteArray schemeText = QByteArray(scheme != nullptr ? scheme : "").toLower();
    if (status == 0 || (schemeText != "http" && schemeText != "https"))
        return HTTPProbeOutcome::failed(QStringLiteral("The response was not HTTP."));
    // A check that expects no body passes on a 204, or on an empty 200.
    const bool bodiless = response.isEmpty() && (status == 204 || (status == 200 && scan.bytes == 0));
    if (status != 200 && !bodiless) {
        if (status >= 300 && status <= 399)
            return HTTPProbeOutcome::captivePortal(static_cast<int>(status));
        return HTTPProbeOutcome::unexpectedStatus(static_cast<int>(status));
    }
    if (!scan.found && !bodiless)
        return HTTPProbeOutcome::captivePortal(200); // some page was served in place of ours
    return HTTPProbeOutcome::success(static_cast<double>(end - start) / 1'000'000.0, readPhases(h));
}

} // namespace pv
