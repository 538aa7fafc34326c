#include "loadtest/LoadGenerator.h"

#include <curl/curl.h>

#include <QUrl>

#include <algorithm>
#include <cassert>
#include <vector>

namespace pv {

namespace {

using Clock = std::chrono::steady_clock; // the uptime clock (CLOCK_MONOTONIC)
using namespace std::chrono_literals;

constexpr auto kPollSlice = 50ms; // longest wait before the loop looks at the clock and the stop flags

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
struct LoadGenerator::Phase {
    struct Stream {
        Phase* phase = nullptr;
        CURL* easy = nullptr;
        curl_off_t lastUploaded = 0; // the sent-byte total this request reported last
        bool active = false;
    };

    LoadGenerator& generator;
    LoadDirection direction;
    const Configuration& configuration;
    LoadStopFlag stop;
    CURLM* multi = nullptr;
    curl_slist* headers = nullptr;
    std::vector<Stream> streams;

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

    static size_t onData(char*, size_t size, size_t count, void* user)
    {
        auto* stream = static_cast<Stream*>(user);
        // Received bytes are counted and dropped (an upload's short answer is not load).
        if (stream->phase->direction == LoadDirection::download)
            stream->phase->generator.counter_.add(static_cast<std::int64_t>(size * count));
        return size * count;
    }

    static int onProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t uploaded)
    {
        auto* stream = static_cast<Stream*>(user);
        if (stream->phase->direction == LoadDirection::upload && uploaded > stream->lastUploaded) {
            stream->phase->generator.counter_.add(uploaded - stream->lastUploaded);
            stream->lastUploaded = uploaded;
        }
        return stream->phase->stopping() ? 1 : 0; // non-zero aborts the transfer
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
            curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
            curl_easy_setopt(e, CURLOPT_MAXREDIRS, 10L);
            curl_easy_setopt(e, CURLOPT_HTTPHEADER, headers);
            curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &Phase::onData);
            curl_easy_setopt(e, CURLOPT_WRITEDATA, &s);
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
                curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
            }
        }
    }

    void issue(Stream& s)
    {
        s.lastUploaded = 0;
        s.active = curl_multi_add_handle(multi, s.easy) == CURLM_OK;
    }

    LoadPhaseResult run()
    {
        setUp();
        const auto start = Clock::now();
        const auto deadline = start + configuration.maxDuration;
        for (Stream& s : streams)
            issue(s);

        std::vector<double> samples;
        std::int64_t previousTotal = 0;
        auto nextSample = start + 1s;
        const auto takeSample = [&] {
            const std::int64_t total = generator.counter_.total();
            samples.push_back(static_cast<double>(total - previousTotal) * 8.0 / 1'000'000.0);
            previousTotal = total;
        };

        for (;;) {
            const auto now = Clock::now();
            while (nextSample <= now && nextSample <= deadline) {
                takeSample();
                nextSample += 1s;
            }
            if (now >= deadline || stopping())
                break;

            int running = 0;
            curl_multi_perform(multi, &running);
            int queued = 0;
            while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
                if (message->msg != CURLMSG_DONE)
                    continue;
                auto it = std::find_if(streams.begin(), streams.end(),
                                       [&](const Stream& s) { return s.easy == message->easy_handle; });
                if (it == streams.end())
                    continue;
                curl_multi_remove_handle(multi, it->easy);
                it->active = false;
                // Failed and errored requests end like completed ones: check the cap and the deadline,
                // then go again at once.
                if (generator.counter_.total() >= configuration.maxBytes) {
                    generator.noteEarlyEnd(secondsBetween(start, Clock::now()));
                    continue;
                }
                if (Clock::now() >= deadline || stopping())
                    continue;
                issue(*it);
            }

            const auto wakeAt = std::min(nextSample, deadline);
            const auto wait = std::clamp(std::chrono::duration_cast<std::chrono::milliseconds>(wakeAt - Clock::now()),
                                         0ms, std::chrono::duration_cast<std::chrono::milliseconds>(kPollSlice));
            curl_multi_poll(multi, nullptr, 0, static_cast<int>(wait.count()), nullptr);
        }

        // The watchdog's cut: requests still in flight end here; the bytes they moved until now count.
        for (Stream& s : streams) {
            if (s.active) {
                curl_multi_remove_handle(multi, s.easy);
                s.active = false;
            }
        }
        const auto end = Clock::now();
        const std::int64_t total = generator.counter_.total();
        // The last, partial sample (a cancelled phase or the remainder after the last whole second);
        // a sliver with nothing moved in it is not a sample.
        if (total != previousTotal || end - (nextSample - 1s) > kPollSlice)
            takeSample();

        LoadPhaseResult result;
        result.bytesTransferred = total;
        result.durationSeconds = secondsBetween(start, end);
        result.perSecondMbps = std::move(samples);
        const std::optional<double> earlyEnd = generator.loadEndedEarlyAtSeconds();
        result.stoppedReason = earlyEnd ? LoadStopReason::byteCapReached : LoadStopReason::durationReached;
        result.loadEndedAtSeconds = earlyEnd.value_or(result.durationSeconds);
        return result;
    }
};

// ---------------------------------------------------------------------------------------------
LoadGenerator::LoadGenerator()
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
