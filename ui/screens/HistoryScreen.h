#pragma once
// The history section: a range picker, then for the chosen period a coverage card with three
// tiles, the latency chart with incident bands and its legend, the note about aggregated slices and
// the 30 newest incidents. Everything comes from the screen's own history model.

#include "core/app/HistoryViewModel.h"
#include "ui/design/Chart.h"
#include "ui/screens/HistoryLogic.h"
#include "ui/design/Components.h"
#include "ui/screens/ScreenParts.h"

#include <QTimer>
#include <functional>
#include <memory>

namespace pv {

class AppViewModel;
class PVSymbolView;
class PVText;
class PVSymbolTextRow;

// The chart view, announcing every frame it paints.
class HistoryChartView : public PVChartView {
    Q_OBJECT
public:
    using PVChartView::PVChartView;
Q_SIGNALS:
    void painted();
protected:
    void paintEvent(QPaintEvent* event) override;
};
class HistoryScreen : public PVScreenPage {
    Q_OBJECT
public:
    static constexpr int kChartHeight = 240;

    explicit HistoryScreen(AppViewModel& viewModel, QWidget* parent = nullptr);
    // A screen over a model of the caller's; clock gives "now" for the bands (the wall clock when empty).
    explicit HistoryScreen(std::shared_ptr<HistoryViewModel> model, std::function<Timestamp()> clock = {},
                           QWidget* parent = nullptr);

    HistoryViewModel& model() const { return *model_; }
    PVSegmentedPicker* rangePicker() const { return picker_; }
    history::Content content() const { return content_; }
    // The latency chart of the shown summary; null while no summary with a measured slice is shown.
    HistoryChartView* chart() const
    {
        return content_ == history::Content::cards && chart_->isVisibleTo(cards_) ? chart_ : nullptr;
    }
    QWidget* contentWidget() const { return body_; }

Q_SIGNALS:
    void chartPainted();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void build();
    void buildCards();
    void refresh();
    void refreshChartLabel();
    void showCoverage(const HistorySummary& summary);
    void showLatency(const HistorySummary& summary);
    void showIncidents(const HistorySummary& summary);
    struct IncidentRow {
        QWidget* row = nullptr;
        PVSymbolView* symbol = nullptr;
        PVText* title = nullptr;
        PVText* summary = nullptr;
        PVText* when = nullptr;
        PVText* howLong = nullptr;
        QWidget* divider = nullptr;
    };
    static constexpr std::size_t kIncidentRowsPerTurn = 2;
    void updateIncidentRows();
    static IncidentRow makeIncidentRow(QWidget* parent);
    static void fillIncidentRow(const IncidentRow& row, const Incident& incident);

    std::shared_ptr<HistoryViewModel> model_;
    std::function<Timestamp()> clock_;
    PVSegmentedPicker* picker_ = nullptr;
    QWidget* body_ = nullptr;
    QWidget* placeholder_ = nullptr;
    // The cards stay from one summary to the next and only their contents change, so that the
    // shadows drawn for their sizes are reused.
    QWidget* cards_ = nullptr;
    std::vector<PVStatTile*> tiles_;
    PVText* noMeasurement_ = nullptr;
    HistoryChartView* chart_ = nullptr;
    QWidget* legend_ = nullptr;
    PVSymbolTextRow* aggregatedNote_ = nullptr;
    PVSectionCard* incidentCard_ = nullptr;
    QWidget* noIncident_ = nullptr;
    QWidget* incidentList_ = nullptr;
    std::vector<Incident> shownIncidents_; // newest first, one per row
    std::vector<IncidentRow> incidentRows_; // the first shownIncidents_.size() of them are shown
    std::size_t incidentRowsDone_ = 0;      // rows brought up to date with shownIncidents_
    QTimer* incidentRowTimer_ = nullptr;
    history::Content content_ = history::Content::noData;
};

} // namespace pv
