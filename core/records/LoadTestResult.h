#pragma once
// The result of one load (bufferbloat) test, shared by the load test, the store and the core.

#include "core/records/FailureText.h"
#include "core/records/Records.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

namespace pv {

// One echo of a continuous measurement: when it was sent (seconds from the start) and its round trip.
struct TimedEcho {
    double offsetSeconds = 0;
    std::optional<double> rttMilliseconds;
    bool operator==(const TimedEcho&) const = default;
};

struct LatencySummary {
    std::optional<double> p50;
    std::optional<double> p95;
    int sampleCount = 0;
    double lossRatio = 0;
    bool operator==(const LatencySummary&) const = default;
};

// The two directions of a load test.
enum class LoadDirection { download, upload };

enum class LoadStopReason { durationReached, byteCapReached, cancelled, failed };
inline constexpr EnumTable<LoadStopReason, 4> kLoadStopReasonTable{{{
    {LoadStopReason::durationReached, "durationReached"},
    {LoadStopReason::byteCapReached, "byteCapReached"},
    {LoadStopReason::cancelled, "cancelled"},
    {LoadStopReason::failed, "failed"}}}};
inline QString rawValue(LoadStopReason r) { return kLoadStopReasonTable.rawText(r); }
inline std::optional<LoadStopReason> parseLoadStopReason(const QString& s) { return kLoadStopReasonTable.parse(s); }

// A stretch of a load phase in which the load stood still, in seconds from the phase's start.
struct LoadStandstill {
    double fromSeconds = 0;
    double toSeconds = 0;
    double seconds() const { return std::max(0.0, toSeconds - fromSeconds); }
    bool operator==(const LoadStandstill&) const = default;
};

struct LoadPhaseResult {
    std::int64_t bytesTransferred = 0;
    double durationSeconds = 0;
    LoadStopReason stoppedReason = LoadStopReason::durationReached;
    std::vector<double> perSecondMbps;
    double loadEndedAtSeconds = 0;
    // How the phase's requests went: answered with a success status, ended in an error (a transfer
    // error or an HTTP status of 400 or more; their bytes are not counted), and the likeliest reason
    // why (next to) nothing moved (the last error, or what the requests still waited for at the end).
    int requestsAnswered = 0;
    int requestsFailed = 0;
    std::optional<FailureCause> failure = std::nullopt;
    // Where the load stood still and then flowed on (the load-test service reads them from the
    // per-second samples). A load that stood still to the end is `LoadStopReason::failed`, with
    // `loadEndedAtSeconds` where it stopped.
    std::vector<LoadStandstill> pauses = {};
    // The most the phase's count reached at any second. An upload in flight counts only while the
    // server's window is open: once a server stops reading, its bodies in flight fall back to
    // nothing, and only this keeps what had flowed before the load stopped.
    std::int64_t peakBytes = 0;
    // How long this computer held the test itself back (stretches of over a quarter second in which
    // the generator did not run): the line may have stood idle meanwhile, and the rate read low.
    double heldSeconds = 0;
    // The moments (seconds into the phase) at which the load stood still, and those at which it flowed
    // on, finer than the seconds: where a standstill begins or ends inside one of them. An upload's
    // onsets are where the server stopped taking what the line carried, found once its answers then
    // stood still; a download's edges are where its bytes stopped arriving and arrived again.
    std::vector<double> standstillOnsets = {};
    std::vector<double> standstillEnds = {};
    // Where the load stood still for half a second or more and then flowed on, from the generator's
    // looks on every turn: an upload's server took next to nothing of what the line carried (its
    // kernel's backlog is left out with that time), a download's bytes stopped arriving. Only a
    // stretch that the looks saw standing still counts: while this computer held the test up, nobody looked.
    std::vector<LoadStandstill> stillStretches = {};
    bool operator==(const LoadPhaseResult&) const = default;

    bool stoppedFlowing() const { return stoppedReason == LoadStopReason::failed; }
    double pausedSeconds() const
    {
        double paused = 0;
        for (const LoadStandstill& p : pauses)
            paused += p.seconds();
        return paused;
    }
    // The seconds in which the load flowed: the phase up to where it stopped flowing, less its pauses.
    double flowingSeconds() const
    {
        const double end = stoppedFlowing() ? std::min(loadEndedAtSeconds, durationSeconds) : durationSeconds;
        return std::max(0.0, end - pausedSeconds());
    }
    // The rate while the load flowed: its bytes over `flowingSeconds` (the whole phase when it never
    // stood still; a byte cap's early end is not a standstill). 0 without a flowing second.
    // The bytes the load moved while it flowed: for a load that stopped, what it had moved by then.
    std::int64_t flowedBytes() const { return stoppedFlowing() ? std::max(bytesTransferred, peakBytes) : bytesTransferred; }
    double throughputMbps() const
    {
        const double seconds = flowingSeconds();
        if (!(seconds > 0))
            return 0;
        return static_cast<double>(flowedBytes()) * 8.0 / seconds / 1'000'000.0;
    }
};

enum class BufferbloatGrade { excellent, good, fair, poor, severe };
inline constexpr EnumTable<BufferbloatGrade, 5> kBufferbloatGradeTable{{{
    {BufferbloatGrade::excellent, "excellent"},
    {BufferbloatGrade::good, "good"},
    {BufferbloatGrade::fair, "fair"},
    {BufferbloatGrade::poor, "poor"},
    {BufferbloatGrade::severe, "severe"}}}};
inline QString rawValue(BufferbloatGrade g) { return kBufferbloatGradeTable.rawText(g); }
inline std::optional<BufferbloatGrade> parseBufferbloatGrade(const QString& s) { return kBufferbloatGradeTable.parse(s); }
inline auto allBufferbloatGrades() { return kBufferbloatGradeTable.allCases(); }

// The grade's Hungarian title ("Kiváló" … "Súlyos") and what it means in everyday use.
QString gradeTitle(BufferbloatGrade grade);
QString gradeEverydayMeaning(BufferbloatGrade grade);

// Grade of a latency increase: below 30 ms excellent, below 100 good, below 250 fair, below 600 poor.
BufferbloatGrade gradeFor(double idleP50, double loadedP95);

// Which direction set the grade, from the loaded p95 of each graded direction (absent: not graded, or
// every echo lost): the upload when its figure is the larger or the download has none, else the
// download when it has one; nothing when neither has a figure.
inline std::optional<LoadDirection> gradingDirection(std::optional<double> downP95, std::optional<double> upP95)
{
    if (upP95 && (!downP95 || *upP95 > *downP95))
        return LoadDirection::upload;
    if (downP95)
        return LoadDirection::download;
    return std::nullopt;
}

// Seconds into a load phase as a sentence says them: to a tenth below 10 s ("1.5", "6"), whole above.
QString loadSecondsText(double seconds);

struct LoadTestResult {
    Timestamp startedAt = 0;
    LatencySummary idle;
    LatencySummary underDownload;
    LatencySummary underUpload;
    LoadPhaseResult download;
    LoadPhaseResult upload;
    std::vector<TimedEcho> downloadTrace;
    std::vector<TimedEcho> uploadTrace;
    bool operator==(const LoadTestResult&) const = default;

    double downloadMbps() const { return download.throughputMbps(); }
    double uploadMbps() const { return upload.throughputMbps(); }
    // A direction is graded only from a loaded window of at least this many echoes (a load that
    // ended before the window opened leaves it empty: that direction was not measured under load).
    static constexpr int kMinimumLoadedEchoes = 10;
    static bool isGraded(const LatencySummary& s) { return s.sampleCount >= kMinimumLoadedEchoes; }
    bool isDownloadGraded() const { return isGraded(underDownload); }
    bool isUploadGraded() const { return isGraded(underUpload); }
    bool isAnyDirectionGraded() const { return isDownloadGraded() || isUploadGraded(); }

    // The larger p95 of the graded directions (an absent value counting as 0).
    double loadedP95() const
    {
        const auto p95 = [](const LatencySummary& s) { return isGraded(s) ? s.p95.value_or(0) : 0.0; };
        return std::max(p95(underDownload), p95(underUpload));
    }
    // The direction that set the grade: a graded window that lost every echo (it grades severe), else
    // the graded direction with the larger p95; nothing when neither direction was graded.
    std::optional<LoadDirection> gradedDirection() const
    {
        const auto allLost = [](const LatencySummary& s) { return isGraded(s) && !s.p95; };
        if (allLost(underDownload))
            return LoadDirection::download;
        if (allLost(underUpload))
            return LoadDirection::upload;
        const auto figure = [](const LatencySummary& s) { return isGraded(s) ? s.p95 : std::nullopt; };
        return gradingDirection(figure(underDownload), figure(underUpload));
    }
    // The loaded p95 of the direction that set the grade (absent when it lost every echo, or none was graded).
    std::optional<double> gradedP95() const
    {
        const std::optional<LoadDirection> d = gradedDirection();
        if (!d)
            return std::nullopt;
        return *d == LoadDirection::upload ? underUpload.p95 : underDownload.p95;
    }
    // A graded window whose echoes all went unanswered: the queue dropped everything. Such a
    // direction is graded severe and has no latency figure (it is never read as 0 ms).
    bool loadedWindowLostEverything() const
    {
        const auto allLost = [](const LatencySummary& s) { return isGraded(s) && !s.p95; };
        return allLost(underDownload) || allLost(underUpload);
    }
    std::optional<double> latencyIncreaseMilliseconds() const
    {
        if (!idle.p50 || !isAnyDirectionGraded() || loadedWindowLostEverything())
            return std::nullopt;
        return std::max(0.0, loadedP95() - *idle.p50);
    }
    BufferbloatGrade grade() const
    {
        if (!idle.p50)
            return BufferbloatGrade::excellent;
        if (loadedWindowLostEverything())
            return BufferbloatGrade::severe;
        return gradeFor(*idle.p50, loadedP95());
    }
};

// What the store keeps of a load test (its `load_tests` row): the figures without the traces.
struct StoredLoadTest {
    Timestamp startedAt = 0;
    double downloadMbps = 0;
    double uploadMbps = 0;
    std::optional<double> idleP50;
    std::optional<double> loadedDownP95;
    std::optional<double> loadedUpP95;
    std::optional<double> latencyIncreaseMilliseconds;
    BufferbloatGrade grade = BufferbloatGrade::excellent;
    bool operator==(const StoredLoadTest&) const = default;

    // The direction that set the stored grade, read from the stored figures as from the result.
    std::optional<LoadDirection> gradedDirection() const { return gradingDirection(loadedDownP95, loadedUpP95); }

    static StoredLoadTest of(const LoadTestResult& r)
    {
        // A direction without a graded window has no loaded figure, as its screen says.
        const auto graded = [](const LatencySummary& s) { return LoadTestResult::isGraded(s) ? s.p95 : std::nullopt; };
        return {r.startedAt,          r.downloadMbps(),           r.uploadMbps(),
                r.idle.p50,           graded(r.underDownload),    graded(r.underUpload),
                r.latencyIncreaseMilliseconds(), r.grade()};
    }
};

inline BufferbloatGrade gradeFor(double idleP50, double loadedP95)
{
    const double increase = loadedP95 - idleP50;
    if (!(increase >= 0) || increase < 30) return BufferbloatGrade::excellent; // negative or not a number
    if (increase < 100) return BufferbloatGrade::good;
    if (increase < 250) return BufferbloatGrade::fair;
    if (increase < 600) return BufferbloatGrade::poor;
    return BufferbloatGrade::severe;
}

} // namespace pv
