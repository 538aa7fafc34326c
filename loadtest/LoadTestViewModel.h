#pragma once
// The model behind the load-test screen (GUI thread, QtCore only): starts and cancels one test,
// turns the service's phase reports into a state and a progress fraction, keeps the finished result
// and follows whether the connection is metered. Two callbacks let the embedding code pause and
// resume continuous monitoring around a test; the model itself stores nothing.
//
// Each run carries a generation number. Phase reports and the outcome reach the GUI thread through
// the model's one executor, in order; a report or outcome of a stale run (cancelled or replaced) is
// dropped, so a cancelled test never publishes a result and the state never sticks in `running`.

#include "core/records/LoadTestResult.h"
#include "core/records/Runtime.h"
#include "loadtest/LoadTestService.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace pv {

// Whether the current connection is metered (mobile data, a hotspot).
class MeteredSource : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    virtual bool isMetered() const = 0;
Q_SIGNALS:
    void meteredChanged(bool metered);
};

// QNetworkInformation's metered flag (the NetworkManager backend); never metered without a backend.
std::unique_ptr<MeteredSource> makeSystemMeteredSource();

struct LoadTestState {
    enum class Kind { idle, running, finished, failed };
    Kind kind = Kind::idle;
    LoadTestPhase phase = LoadTestPhase::idle; // running only
    QString message;                           // failed only
    bool operator==(const LoadTestState&) const = default;

    static LoadTestState idle() { return {}; }
    static LoadTestState running(LoadTestPhase p) { return {Kind::running, p, {}}; }
    static LoadTestState finished() { return {Kind::finished, LoadTestPhase::idle, {}}; }
    static LoadTestState failed(QString m) { return {Kind::failed, LoadTestPhase::idle, std::move(m)}; }
};

// Held by a shared_ptr: the screen owns one reference and a running test another, so the model
// outlives a screen closed mid-test and still calls onDidFinish when the test ends.
class LoadTestViewModel : public QObject, public std::enable_shared_from_this<LoadTestViewModel> {
    Q_OBJECT
public:
    using InterfaceLookup = std::function<rt::awaitable<std::optional<QString>>()>;

    // runner: the service; primaryInterface: where the echoes are pinned; metered: may be null.
    LoadTestViewModel(std::shared_ptr<LoadTestRunner> runner, InterfaceLookup primaryInterface,
                      std::unique_ptr<MeteredSource> metered);
    ~LoadTestViewModel() override;

    const LoadTestState& state() const { return state_; }
    const std::optional<LoadTestResult>& result() const { return result_; }
    double phaseProgress() const { return phaseProgress_; }
    bool isExpensivePath() const { return isExpensivePath_; }
    bool isRunning() const { return state_.kind == LoadTestState::Kind::running; }
    static QString estimatedDataUsageText();
    static QString phaseTitle(LoadTestPhase phase);
    static double progressFor(LoadTestPhase phase);

    std::function<void()> onWillStart;
    std::function<void()> onDidFinish;

    // Starts a test unless one is running.
    void start();
    // Stops the test (if any) and returns to idle; calls onDidFinish even when nothing ran.
    void cancel();

Q_SIGNALS:
    void stateChanged();
    void resultChanged(); // the result's start time may have changed
    void progressChanged();
    void expensivePathChanged();

private:
    rt::awaitable<void> runTest(std::uint64_t generation);
    void applyPhase(std::uint64_t generation, LoadTestPhase phase);
    void setState(LoadTestState state);
    void setProgress(double progress);
    void setResult(std::optional<LoadTestResult> result);
    void setExpensivePath(bool expensive);

    std::shared_ptr<LoadTestRunner> runner_;
    InterfaceLookup primaryInterface_;
    std::unique_ptr<MeteredSource> metered_;
    rt::QtExecutor executor_;
    LoadTestState state_;
    std::optional<LoadTestResult> result_;
    double phaseProgress_ = 0;
    bool isExpensivePath_ = false;
    std::uint64_t generation_ = 0;
};

} // namespace pv
