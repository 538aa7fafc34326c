#pragma once
// The load generator: fills the connection in one direction with parallel HTTP streams for one phase
// of the load test, counts every byte received or sent, samples the throughput once a second and
// notes when the byte cap ended the load early. It reports no errors: a phase always yields a
// LoadPhaseResult.
//
// Every phase runs on the generator's one worker thread on a libcurl multi handle: each stream is an
// easy handle that is added again as soon as its request completes, until the deadline or the cap.

#include "core/records/LoadTestResult.h"
#include "core/records/Runtime.h"

#include <QString>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

namespace pv {

// A load phase moved less than this over all its streams: it has not loaded the line.
inline constexpr std::int64_t kLeastLoadBytes = 64 * 1024;

// Set by the owner of a run to end the phase in progress and every later one at once.
using LoadStopFlag = std::shared_ptr<std::atomic<bool>>;

// What the load-test service needs of a load generator (the tests hand it a fake).
class LoadSource {
public:
    struct Configuration {
        QString downloadURL; // <base>/__down?bytes=26214400
        QString uploadURL;   // <base>/__up
        int streams = 4;
        std::int64_t maxBytes = 1'073'741'824;
        std::chrono::nanoseconds maxDuration = std::chrono::seconds(12);

        // The endpoint's two URLs under a base URL ("https://host" or "http://127.0.0.1:8080").
        static Configuration forBaseURL(const QString& baseURL);
        // The built-in endpoint, or the base URL in POLVARINE_SPEEDTEST_URL when that is set; read once.
        static const Configuration& defaultConfiguration();
    };

    virtual ~LoadSource() = default;
    virtual rt::awaitable<LoadPhaseResult> runDownload(Configuration configuration, LoadStopFlag stop) = 0;
    virtual rt::awaitable<LoadPhaseResult> runUpload(Configuration configuration, LoadStopFlag stop) = 0;
    // Ends the phase in progress, if there is one (thread-safe; a later phase runs normally).
    virtual void cancel() = 0;
};

// The running total of a phase's bytes.
class ByteCounter {
public:
    void add(std::int64_t bytes) { total_.fetch_add(bytes, std::memory_order_relaxed); }
    void reset() { total_.store(0, std::memory_order_relaxed); }
    std::int64_t total() const { return total_.load(std::memory_order_relaxed); }

private:
    std::atomic<std::int64_t> total_{0};
};

class LoadGenerator : public LoadSource, public rt::BlockingActor {
public:
    static constexpr const char* kDefaultBaseURL = "https://speed.cloudflare.com";
    static constexpr std::int64_t kDownloadRequestBytes = 26'214'400; // 25 MiB per request
    static constexpr std::size_t kUploadBodyBytes = 16'777'216;       // an upload request's largest body of 'Z'

    LoadGenerator();
    ~LoadGenerator() override;

    rt::awaitable<LoadPhaseResult> runDownload(Configuration configuration, LoadStopFlag stop = {}) override;
    rt::awaitable<LoadPhaseResult> runUpload(Configuration configuration, LoadStopFlag stop = {}) override;
    void cancel() override;

    // One phase on the calling thread (the awaitable forms run this on the worker thread).
    LoadPhaseResult runPhase(LoadDirection direction, const Configuration& configuration, LoadStopFlag stop = {});

    // The early end of the phase in progress or the last one, in seconds from its start.
    std::optional<double> loadEndedEarlyAtSeconds() const;

private:
    struct Phase;
    void noteEarlyEnd(double seconds);

    ByteCounter counter_;
    mutable std::mutex mutex_;
    std::optional<double> loadEndedEarlyAtSeconds_;
    bool phaseRunning_ = false;
    std::atomic<bool> abortPhase_{false};
    std::atomic<bool> closing_{false};
};

} // namespace pv
