#pragma once
// The overview's figure and chart sections: "Most", what the connection is good for, speed and
// load, latency along the route, the Wi-Fi signal, the incidents and the raw figures, with the grid
// that reflows tiles by a minimum column width. Each takes a snapshot and shows what the rules of
// DashboardLogic make of it.

#include "ui/design/Chart.h"
#include "ui/design/Components.h"
#include "ui/design/Controls.h"
#include "ui/main/DashboardLogic.h"
#include "ui/main/MainWidgets.h"
#include "core/records/LoadTestResult.h"

#include <QAbstractButton>
#include <QLayout>
#include <QPushButton>
#include <QWidget>

class QLabel;
class QPushButton;
class QVBoxLayout;

namespace pv {

// As many columns of at least `minimumColumn` as the width allows, all of equal width, rows as
// tall as their tallest item, filled row by row.
class PVAdaptiveGridLayout : public QLayout {
public:
    PVAdaptiveGridLayout(int minimumColumn, int spacing, QWidget* parent = nullptr);
    ~PVAdaptiveGridLayout() override;

    int columnsForWidth(int width) const;

    void addItem(QLayoutItem* item) override;
    int count() const override { return static_cast<int>(items_.size()); }
    QLayoutItem* itemAt(int index) const override;
    QLayoutItem* takeAt(int index) override;
    QSize sizeHint() const override;
    QSize minimumSize() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    void setGeometry(const QRect& rect) override;
    Qt::Orientations expandingDirections() const override { return Qt::Horizontal; }

private:
    int doLayout(const QRect& rect, bool apply) const;
    std::vector<QLayoutItem*> items_;
    int minimumColumn_;
    int spacing_;
};

// "Most": five stat tiles.
class NowSection : public PVSectionCard {
    Q_OBJECT
public:
    static constexpr int kMinimumColumn = 208;
    explicit NowSection(QWidget* parent = nullptr);
    void setSnapshot(const OverviewSnapshot& s, Timestamp now);
    const std::vector<PVStatTile*>& tiles() const { return tiles_; }
    PVAdaptiveGridLayout* grid() const { return grid_; }

private:
    PVAdaptiveGridLayout* grid_;
    std::vector<PVStatTile*> tiles_;
};

// One use with its rating badge, on a well-coloured rounded tile.
class UsageTileView : public QWidget {
    Q_OBJECT
public:
    explicit UsageTileView(QWidget* parent = nullptr);
    void setTile(const UsageTile& tile);
    PVStatusBadge* badge() const { return badge_; }
    QString titleText() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    PVSymbolView* symbol_;
    PVText* title_;
    PVStatusBadge* badge_;
};

// "Mire elég ez a kapcsolat?": four usage tiles and the evidence.
class UsageSection : public PVSectionCard {
    Q_OBJECT
public:
    static constexpr int kMinimumColumn = 190;
    explicit UsageSection(QWidget* parent = nullptr);
    void setVerdict(const ConnectionVerdict& verdict);
    const std::vector<UsageTileView*>& tiles() const { return tiles_; }
    QStringList evidenceTexts() const;

private:
    std::vector<UsageTileView*> tiles_;
    QWidget* evidence_;
    QVBoxLayout* evidenceRows_;
};

// "Sebesség és terhelhetőség": the invitation to the load test.
class SpeedSection : public PVSectionCard {
    Q_OBJECT
public:
    explicit SpeedSection(QWidget* parent = nullptr);
    QPushButton* startButton() const { return start_; }
    // The button stays visible; it is disabled while there is no load test to open.
    void setLoadTestAvailable(bool available);
    // The newest stored test under the text; nothing while there is none.
    void setLatestLoadTest(const std::optional<StoredLoadTest>& test);
    QString latestLoadTestText() const;

Q_SIGNALS:
    void loadTestRequested();

protected:
    void changeEvent(QEvent* event) override;

private:
    void restyle();
    PVPrimaryButton* start_;
    PVText* latest_;
};

// A short line in a series colour followed by the series' name.
class ChartLegend : public QWidget {
    Q_OBJECT
public:
    struct Item {
        QString name;
        PVColor color;
    };
    explicit ChartLegend(const std::vector<Item>& items, QWidget* parent = nullptr);
    QStringList names() const;

private:
    QStringList names_;
};

// "Válaszidő az útvonal mentén": router and provider latency with crosshair and spoken summary.
class LatencySection : public PVSectionCard {
    Q_OBJECT
public:
    static constexpr int kChartHeight = 240;
    explicit LatencySection(QWidget* parent = nullptr);
    void setBatches(const std::vector<ProbeBatch>& batches);
    // The IPv6 samples of a dual-stack network: the provider's IPv6 line, dashed (set before the batches).
    void setIpv6Batches(const std::vector<ProbeBatch>& batches) { ipv6Batches_ = batches; }
    // What each gap of the lines was, under the chart (hidden while empty).
    void setGaps(const QString& caption);
    QString gapsCaption() const;
    bool showsIpv6Line() const { return shown_ && !shown_->ipv6Provider.empty(); }
    PVChartView* chart() const { return chart_; }
    PVChartView* emptyPanel() const { return empty_; }
    ChartLegend* legend() const { return legend_; }

private:
    PVChartView* chart_;
    PVChartView* empty_;
    ChartLegend* legend_;
    // The series the chart shows now: the same series again leave it as it is.
    struct Shown {
        std::vector<LatencyPoint> router, provider;
        std::vector<Timestamp> routerFailures, providerFailures;
        std::vector<LatencyPoint> ipv6Provider;
        bool operator==(const Shown&) const = default;
    };
    std::optional<Shown> shown_;
    std::vector<ProbeBatch> ipv6Batches_;
    PVText* ipv6Legend_ = nullptr;
    PVText* gaps_ = nullptr;
};

// "Wi-Fi jel": strength and signal-to-noise charts and the access points used.
class WifiSignalSection : public PVSectionCard {
    Q_OBJECT
public:
    static constexpr int kChartHeight = 130;
    explicit WifiSignalSection(QWidget* parent = nullptr);
    void setReadings(const std::vector<WifiSnapshot>& snapshots, const std::vector<NodeFingerprint>& history);
    PVChartView* emptyPanel() const { return empty_; }
    QWidget* body() const { return body_; }
    PVChartView* strengthChart() const { return strength_.chart; }
    PVChartView* noiseChart() const { return noise_.chart; }
    bool strengthShowsNoData() const { return !strength_.noData->isHidden(); }
    bool noiseShowsNoData() const { return !noise_.noData->isHidden(); }
    QWidget* nodeList() const { return nodes_; }
    QStringList nodeTexts() const { return nodeTexts_; }

private:
    struct SignalChart {
        QWidget* box;
        PVChartView* chart;
        PVText* noData;
    };
    SignalChart makeChart(const QString& title, QWidget* parent);
    static void show(SignalChart& c, const std::vector<LatencyPoint>& series, const PVColor& color);

    PVChartView* empty_;
    QWidget* body_;
    // The series and whether any reading came at all, as the charts show them now.
    struct Shown {
        std::vector<LatencyPoint> strength, snr;
        bool noReadings = false;
        bool operator==(const Shown&) const = default;
    };
    std::optional<Shown> shown_;
    void showSeries(const Shown& shown);
    SignalChart strength_;
    SignalChart noise_;
    QWidget* nodes_;
    QVBoxLayout* nodeRows_;
    QStringList nodeTexts_;
};

// One incident: severity symbol, title and evidence, start time and, while open, "Tart".
class IncidentRowView : public QWidget {
    Q_OBJECT
public:
    IncidentRowView(const IncidentRow& row, QWidget* parent = nullptr);
    const OpenIncidentHighlight& highlight() const { return highlight_; }
    QString titleText() const;
    QString summaryText() const;
    // Empty for an open incident.
    QString durationText() const;
    bool showsOpenBadge() const { return badge_ != nullptr; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    OpenIncidentHighlight highlight_;
    PVText* title_;
    PVText* summary_;
    PVText* duration_ = nullptr;
    PVStatusBadge* badge_ = nullptr;
};

// "Incidensek": the newest eight, newest first.
class IncidentSection : public PVSectionCard {
    Q_OBJECT
public:
    explicit IncidentSection(QWidget* parent = nullptr);
    void setIncidents(const std::vector<Incident>& incidents, Timestamp now);
    std::vector<IncidentRowView*> rows() const;
    int dividerCount() const;
    QWidget* emptyBody() const { return empty_; }
    std::optional<QString> subtitleText() const { return subtitle_; }

private:
    QWidget* empty_;
    QWidget* list_;
    QVBoxLayout* listLayout_;
    std::vector<IncidentRow> shown_;
    std::optional<QString> subtitle_;
};

// A flat, checkable label with a chevron that turns down while expanded.
class DisclosureButton : public QAbstractButton {
    Q_OBJECT
public:
    DisclosureButton(const QString& text, QWidget* parent = nullptr);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }
    // The chevron and the title, inside the room kept for the focus ring.
    QRectF contentRect() const;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// "Nyers mérési adatok": a panel that expands to one figures line per metric summary.
class RawDataSection : public QWidget {
    Q_OBJECT
public:
    explicit RawDataSection(QWidget* parent = nullptr);
    void setAssessment(const QualityAssessment& assessment);
    bool isExpanded() const;
    void setExpanded(bool expanded);
    DisclosureButton* toggle() const { return toggle_; }
    QStringList figureTexts() const;
    QList<QLabel*> figureLabels() const { return figures_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void recolour();
    DisclosureButton* toggle_;
    QWidget* content_;
    QList<PVText*> titles_;
    QList<QLabel*> figures_;
};

} // namespace pv
