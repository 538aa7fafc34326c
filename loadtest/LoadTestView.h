#pragma once
// The load-test screen: a fixed header over one of four bodies (introduction, progress, result,
// failure) chosen by the model's state, and the result view with its grade card, tiles, latency
// chart over the phase bands and the folded numbers table.

#include "core/records/LoadTestResult.h"
#include "core/records/Status.h"
#include "loadtest/LoadTestViewModel.h"

#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <utility>

class QVBoxLayout;
class QProgressBar;
class QPushButton;
class QToolButton;

namespace pv {

class PVLiveIndicator;
class PVChartView;
struct PVChartSpec;

// Pure helpers of the result view.
PVStatus statusForGrade(BufferbloatGrade grade);
// Top of the latency scale: max(1.1 × the largest round trip, 50); 110 without any answered echo.
double latencyChartTop(const LoadTestResult& result);
// The x extent of each load phase: the last offset of its trace, or 12 when the trace is empty.
std::pair<double, double> phaseSpans(const std::optional<LoadTestResult>& result);
QString lossText(double ratio);                            // "12.5%"
QString tileLatencyText(const std::optional<double>& ms);  // "23", "<1" or "—"
QString tableLatencyText(const std::optional<double>& ms); // "23 ms", "<1 ms" or "—"
// Whether any echo of the two load phases came back.
bool anyEchoAnsweredUnderLoad(const LoadTestResult& result);
// What the notes under the grade say about the directions: one that was not measured under load,
// one whose load stopped, one that paused (empty when both flowed and were measured).
QString directionNotesText(const LoadTestResult& result);
// The grade's everyday meaning, in the words of the direction that set the grade.
QString gradeMeaningText(const LoadTestResult& result);
// The loaded-latency tile's caption: the direction that set the grade (whose p95 the tile shows).
QString loadedLatencyCaption(const LoadTestResult& result);
// The grade card's figures: "Nyugalomban 18 ms, terhelés alatt 250 ms — a késleltetés 232 ms-mal nő."
QString latencyNumbersText(double idleP50, double increase);
// A speed tile's figure and caption: the rate while the load flowed, and, when it stopped or paused,
// for how long it flowed or stood still instead of what the line bears.
struct SpeedTileText {
    QString value;
    QString caption;
    bool operator==(const SpeedTileText&) const = default;
};
SpeedTileText speedTileText(const LoadPhaseResult& phase, LoadDirection direction);
// The chart of both load phases: bands, the dashed idle rule, lines broken at lost echoes.
PVChartSpec latencyChartSpec(const LoadTestResult& result, const std::optional<LoadTestResult>& current);

class LoadTestResultView : public QWidget {
    Q_OBJECT
public:
    LoadTestResultView(const LoadTestResult& result, std::shared_ptr<LoadTestViewModel> model, QWidget* parent = nullptr);
    PVChartView* chart() const { return chart_; }
    QWidget* numbersTable() const { return table_; }
    void setTableExpanded(bool expanded);
    // The notes shown only when they apply (null otherwise).
    QWidget* chartNote() const { return chartNote_; }
    QWidget* directionNote() const { return directionNote_; }

private:
    PVChartView* chart_ = nullptr;
    QWidget* chartNote_ = nullptr;
    QWidget* directionNote_ = nullptr;
    QWidget* table_ = nullptr;
    QToolButton* disclosure_ = nullptr;
};

class LoadTestView : public QWidget {
    Q_OBJECT
public:
    using ResultHandler = std::function<void(const LoadTestResult&)>;

    LoadTestView(std::shared_ptr<LoadTestViewModel> model, std::function<void()> onWillStart,
                 std::function<void()> onDidFinish, ResultHandler onFinished, QWidget* parent = nullptr);
    ~LoadTestView() override;

    const std::shared_ptr<LoadTestViewModel>& model() const { return model_; }
    // The body shown now: "intro", "progress", "result", "failure" or "empty".
    QString bodyName() const { return bodyName_; }
    LoadTestResultView* resultView() const { return resultView_; }
    QPushButton* closeButton() const { return closeButton_; }

Q_SIGNALS:
    // "Bezárás": the embedding dialog closes (a running test goes on). The button shows only while the
    // view is a dialog's content: as a section of the window there is nothing to close.
    void dismissRequested();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void rebuildBody();
    // The button the focus goes to when a new body replaces the one that held it.
    QPushButton* mainButton() const;
    void updateProgress();
    void resultMayHaveChanged();
    QWidget* makeIntro();
    QWidget* makeProgress();
    QWidget* makeFailure(const QString& message);

    std::shared_ptr<LoadTestViewModel> model_;
    std::function<void()> onWillStart_;
    std::function<void()> onDidFinish_;
    ResultHandler onFinished_;
    std::optional<Timestamp> lastStartedAt_;
    QVBoxLayout* bodyHost_ = nullptr;
    QWidget* body_ = nullptr;
    QString bodyName_;
    LoadTestState shownState_;
    QWidget* meteredNotice_ = nullptr;
    PVLiveIndicator* live_ = nullptr;
    QProgressBar* progress_ = nullptr;
    LoadTestResultView* resultView_ = nullptr;
    QPushButton* closeButton_ = nullptr;
};

} // namespace pv
