#include "core/app/UpdateChecker.h"

#include "core/records/Json.h"
#include "core/records/Logging.h"

#include <curl/curl.h>

#include <algorithm>
#include <limits>
#include <mutex>
#include <vector>

namespace pv {

namespace {
// The feed is a few hundred bytes; anything much larger is not our feed.
constexpr std::size_t kMaximumFeedBytes = 1 << 20;
constexpr long kTimeoutMilliseconds = 10000;

struct FetchResult {
    std::optional<QString> transportError;
    long status = 0;
    QByteArray body;
};

struct Body {
    QByteArray data;
    bool overflow = false;
};

size_t appendBody(char* ptr, size_t size, size_t count, void* user)
{
    auto* body = static_cast<Body*>(user);
    const size_t n = size * count;
    if (static_cast<size_t>(body->data.size()) + n > kMaximumFeedBytes) {
        body->overflow = true;
        return 0; // makes curl abort the transfer
    }
    body->data.append(ptr, static_cast<qsizetype>(n));
    return n;
}

void initialiseCurlOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

FetchResult fetch(const QUrl& url)
{
    initialiseCurlOnce();
    FetchResult result;
    CURL* curl = curl_easy_init();
    if (curl == nullptr) {
        result.transportError = QStringLiteral("could not create a transfer");
        return result;
    }
    Body body;
    char errorText[CURL_ERROR_SIZE] = {};
    const QByteArray urlText = url.toEncoded();
    curl_slist* headers = nullptr;
    // Always ask the origin: a cached feed would hide a fresh release.
    headers = curl_slist_append(headers, "Cache-Control: no-cache");
    headers = curl_slist_append(headers, "Pragma: no-cache");
    curl_easy_setopt(curl, CURLOPT_URL, urlText.constData());
    curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, kTimeoutMilliseconds);
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "https");
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "Polvarine");
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &appendBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText);
    const CURLcode code = curl_easy_perform(curl);
    if (code != CURLE_OK) {
        if (body.overflow)
            result.transportError = QStringLiteral("the update feed is larger than %1 bytes").arg(kMaximumFeedBytes);
        else
            result.transportError = QString::fromUtf8(errorText[0] != 0 ? errorText : curl_easy_strerror(code));
    } else {
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &result.status);
        result.body = std::move(body.data);
    }
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    return result;
}

// One version component: optional sign, then decimal digits only; anything else (or an overflow)
// counts as 0.
long long componentValue(QStringView text)
{
    qsizetype i = 0;
    bool negative = false;
    if (!text.isEmpty() && (text[0] == QLatin1Char('+') || text[0] == QLatin1Char('-'))) {
        negative = text[0] == QLatin1Char('-');
        i = 1;
    }
    if (i >= text.size())
        return 0;
    unsigned long long magnitude = 0;
    const unsigned long long limit =
        negative ? static_cast<unsigned long long>(std::numeric_limits<long long>::max()) + 1
                 : static_cast<unsigned long long>(std::numeric_limits<long long>::max());
    for (; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return 0;
        const unsigned digit = static_cast<unsigned>(c.unicode() - u'0');
        if (magnitude > (limit - digit) / 10)
            return 0;
        magnitude = magnitude * 10 + digit;
    }
    if (negative)
        return magnitude == limit ? std::numeric_limits<long long>::min() : -static_cast<long long>(magnitude);
    return static_cast<long long>(magnitude);
}

std::vector<long long> components(const QString& version)
{
    std::vector<long long> out;
    for (const QStringView part : QStringView(version).split(QLatin1Char('.'), Qt::SkipEmptyParts))
        out.push_back(componentValue(part));
    return out;
}
} // namespace

UpdateChecker::Feed UpdateChecker::Feed::decode(const QByteArray& body)
{
    const QJsonObject o = json::parseObject(body);
    Feed feed;
    feed.version = json::getString(o, "version");
    feed.notes = json::getString(o, "notes");
    feed.url = json::getString(o, "url");
    feed.minimumSystemVersion = json::getOptString(o, "minimumSystemVersion");
    return feed;
}

std::optional<QUrl> configuredUpdateFeedUrl()
{
#ifdef POLVARINE_UPDATE_FEED_URL
    const QString built = QStringLiteral(POLVARINE_UPDATE_FEED_URL);
#else
    const QString built;
#endif
    const QByteArray fromEnvironment = qgetenv("POLVARINE_UPDATE_FEED");
    const QString text = (fromEnvironment.isEmpty() ? built : QString::fromUtf8(fromEnvironment)).trimmed();
    if (text.isEmpty())
        return std::nullopt;
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme();
    if (!url.isValid() || url.host().isEmpty() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        return std::nullopt;
    return url;
}

UpdateChecker::UpdateChecker(QUrl feed, QString currentVersion)
    : BlockingActor("pv-update"), feed_(std::move(feed)), currentVersion_(std::move(currentVersion))
{
}

UpdateChecker::~UpdateChecker() { shutdownThread(); }

rt::awaitable<std::optional<AvailableUpdate>> UpdateChecker::check()
{
    return call([this] { return checkOnThisThread(); });
}

std::optional<AvailableUpdate> UpdateChecker::checkOnThisThread() const
{
    if (feed_.isEmpty() || !feed_.isValid())
        return std::nullopt;
    const FetchResult fetched = fetch(feed_);
    if (fetched.transportError) {
        qCDebug(log::update, "Update check failed: %s", qUtf8Printable(*fetched.transportError));
        return std::nullopt;
    }
    if (fetched.status != 200)
        return std::nullopt;
    Feed feed;
    try {
        feed = Feed::decode(fetched.body);
    } catch (const std::exception& e) {
        qCDebug(log::update, "Update check failed: %s", e.what());
        return std::nullopt;
    }
    if (!isNewer(feed.version, currentVersion_))
        return std::nullopt;
    const auto link = secureDownloadURL(feed.url);
    if (!link)
        return std::nullopt;
    qCInfo(log::update, "Update available: %s", qUtf8Printable(feed.version));
    return AvailableUpdate{feed.version, feed.notes, *link};
}

bool UpdateChecker::isNewer(const QString& candidate, const QString& current)
{
    const auto a = components(candidate);
    const auto b = components(current);
    const std::size_t n = std::max(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const long long x = i < a.size() ? a[i] : 0;
        const long long y = i < b.size() ? b[i] : 0;
        if (x != y)
            return x > y;
    }
    return false;
}

std::optional<QUrl> UpdateChecker::secureDownloadURL(const QString& text)
{
    // The scheme is judged on the text as written: QUrl lower-cases it, and "HTTPS:" is not the
    // "https" we promise to open.
    const qsizetype colon = text.indexOf(QLatin1Char(':'));
    if (colon <= 0 || QStringView(text).left(colon) != QLatin1String("https"))
        return std::nullopt;
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty())
        return std::nullopt;
    return url;
}

} // namespace pv
