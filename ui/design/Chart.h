#pragma once
// The chart component: one QPainter routine that draws line, area, point, bar, band and rule marks
// with axes, a rounded plot well, direct labels and the hover crosshair onto any QPaintDevice, so a
// screen widget and a PDF page draw the same chart with the same code. Time values are seconds since
// 1970 (Timestamp).

#include "ui/design/Depth.h"
#include "ui/design/Typography.h"

#include <QFont>
#include <QImage>
#include <QLocale>
#include <QPointF>
#include <QRectF>
#include <QStringList>
#include <QVector>
#include <QWidget>

#include <functional>
#include <optional>
#include <utility>
#include <vector>

class QPainter;

namespace pv {

// ---- Ticks and labels ---------------------------------------------------------------------------

struct PVTicks {
    std::vector<double> values;
    double step = 0;
};
// A 1-2-5 step that gives at most `desiredCount` + 1 ticks over the span.
double niceStep(double span, int desiredCount);
// Tick values at multiples of a nice step, inside [lo, hi].
PVTicks niceTicks(double lo, double hi, int desiredCount);
// The data range widened to whole steps (and to zero when asked), for automatic scales.
std::pair<double, double> niceDomain(double lo, double hi, int desiredCount, bool includeZero);
// Time ticks on whole seconds, minutes, hours or days of the local wall clock (utcOffset in seconds).
PVTicks timeTicks(double t0, double t1, int desiredCount, int utcOffsetSeconds);
// The same where the offset changes within the span (daylight-saving time): every tick lies on a
// whole step of the wall clock under the offset of its own instant, so a day tick after the change
// still falls on midnight. offsetAt gives the offset of an instant in seconds.
PVTicks timeTicks(double t0, double t1, int desiredCount, const std::function<int(double)>& offsetAt);
// Hour and minute in the locale's short time form (with its day-period marker where it uses one).
QString timeOfDayLabel(double timestamp, const QLocale& locale);
// A short day label ("márc. 5." in Hungarian).
QString dayLabel(double timestamp, const QLocale& locale);

// ---- Crosshair rules ----------------------------------------------------------------------------

struct PVCrosshairReading {
    QString id = {};
    QString label = {};
    std::optional<double> value = {};
    QString unit = {};
    PVColor tint = {};
    bool operator==(const PVCrosshairReading& o) const = default;
};

constexpr double kCrosshairBubbleWidth = 176;
// The index of the sample time nearest to a target; on a tie the earlier one in the array wins.
std::optional<std::size_t> nearestDateIndex(const std::vector<double>& dates, double target);
// The estimated bubble height used to place it.
constexpr double crosshairBubbleHeight(std::size_t readingCount) { return 18.0 * static_cast<double>(readingCount) + 28.0; }
// Bubble top: centred on the pointer, at least 4 below the plot's top, then at most 4 above its
// bottom (applied last, so a bubble taller than the plot keeps to the bottom).
double crosshairBubbleTop(double hoverY, double bubbleHeight, double plotMinY, double plotMaxY);
// Bubble left edge relative to the plot: right of the rule while it fits, else left of it.
double crosshairBubbleLeft(double x, double plotWidth, double bubbleWidth = kCrosshairBubbleWidth);
// The bubble's width at the current text size: kCrosshairBubbleWidth, or more when the time or a
// row's label and value need it, so that no label is cut short.
double crosshairBubbleWidth(const std::vector<PVCrosshairReading>& readings, const QString& timeText);
// A row's label as a bubble of that width draws it: elided only when the bubble is narrower than
// crosshairBubbleWidth asked for (a chart too narrow for it).
QString crosshairRowLabel(const PVCrosshairReading& reading, double bubbleWidth);
// "13 ms" ("<1 ms" for a latency that would read 0), or "—" alone without a value.
QString crosshairValueText(std::optional<double> value, const QString& unit);
// The locale's short time format with the seconds added after the minutes.
QString crosshairTimeFormat(const QLocale& locale);
QString crosshairTimeText(double timestamp, const QLocale& locale);

// ---- The chart description ----------------------------------------------------------------------

enum class PVAxisFormat { number, timeOfDay, date, category };

struct PVChartAxis {
    std::optional<std::pair<double, double>> domain = {}; // fixed scale; automatic when absent
    int desiredTicks = 5;
    PVAxisFormat format = PVAxisFormat::number;
    QString title = {}; // y: at the leading side; x: below the labels
    bool grid = true;
    bool ticks = true; // short tick marks between the plot and the labels
    bool labels = true;
    std::function<QString(double)> formatter = {}; // overrides the format
};

// A line through its points in order; a point whose y is not a number breaks the line there.
struct PVLineMark {
    std::vector<QPointF> points = {};
    PVColor color = {};
    double width = 2;
    Qt::PenJoinStyle join = Qt::RoundJoin;
    QVector<qreal> dash = {};
};
// The area between a baseline (the bottom of the scale when absent) and the points, filled with a
// vertical gradient from `top` at the plot's top to `bottom` at its bottom. A point standing alone
// between breaks is drawn as a narrow column with a cap of the opaque `top` colour.
struct PVAreaMark {
    std::vector<QPointF> points = {};
    std::optional<double> baseline = {};
    PVColor top = {};
    PVColor bottom = {};
};
// A point symbol; symbolSize is the area of its square in points squared. A direct label sits at
// the trailing side, floated 16 above.
struct PVPointMark {
    QPointF point = {};
    PVColor color = {};
    double symbolSize = 80;
    std::optional<QString> directLabel = {};
};
// A bar from zero to its value at x (a category index on a category axis).
struct PVBarMark {
    double x = 0;
    double value = 0;
    PVColor color = {};
};
// A band over the full plot height between two x values.
struct PVRectMark {
    double x0 = 0;
    double x1 = 0;
    PVColor color = {};
};
// A horizontal rule, optionally annotated at its top-leading end.
struct PVRuleMark {
    double y = 0;
    PVColor color = {};
    double width = 1;
    QVector<qreal> dash = {};
    QString annotation = {};
};

// A stretch without an answer, marked in its series' colour in a strip along the time axis, just
// under the plot, so that it shows even where another line covers the break in this one's. Lane 0
// lies next to the plot, each further lane below the one before.
struct PVGapMark {
    double x0 = 0;
    double x1 = 0;
    PVColor color = {};
    int lane = 0;
};

struct PVChartSpec {
    PVChartAxis x{std::nullopt, 6, PVAxisFormat::timeOfDay, {}, true, false, true, {}};
    PVChartAxis y;
    QStringList categories; // category labels when x.format is category
    std::vector<PVRectMark> rects;
    std::vector<PVAreaMark> areas;
    std::vector<PVLineMark> lines;
    std::vector<PVRuleMark> rules;
    std::vector<PVBarMark> bars;
    std::vector<PVPointMark> points;
    std::vector<PVGapMark> gaps; // drawn over the lines; they widen the time scale but are no data of their own
    QLocale locale = QLocale::system(); // the numbers' (the dates are Hungarian under any locale)
    bool valueAxisTrailing = true;
    std::optional<QString> emptyTitle;  // the dashboard's texts when absent
    std::optional<QString> emptyDetail;

    // True when at least one mark has something to draw.
    bool hasData() const;
};

// The points of a line or area that stand alone between breaks (or at an end next to one): they are
// drawn as marks of their own.
std::vector<QPointF> lonePoints(const std::vector<QPointF>& points);

// Colours and fonts of a chart. Screens take the dashboard style from the tokens; a printed page
// passes its own colours.
struct PVChartStyle {
    PVPaintContext ctx;
    PVColor well = PV::color::surface::well;
    PVColor grid = PV::color::line::grid;
    PVColor tick = PV::color::line::axis;
    PVColor label = PV::color::ink::tertiary;
    PVColor directLabel = PV::color::ink::secondary;
    PVColor emptyTitle = PV::color::ink::secondary;
    PVColor emptyDetail = PV::color::ink::tertiary;
    PVColor crosshairRule = PV::color::line::axis;
    PVColor bubbleFill = PV::color::surface::overlay;
    PVColor bubbleBorder = PV::color::line::hairline;
    PVColor bubbleTime = PV::color::ink::tertiary;
    PVColor bubbleLabel = PV::color::ink::secondary;
    PVColor bubbleValue = PV::color::ink::primary;
    QFont labelFont = pvSystemFont(10, PVFontWeight::medium);
    double wellRadius = 8;

    static PVChartStyle dashboard(const PVPaintContext& ctx);
};

// Where things land: the plot rectangle, the scales and the ticks.
struct PVChartLayout {
    QRectF bounds;
    QRectF plot;
    double xMin = 0, xMax = 1, yMin = 0, yMax = 1;
    PVTicks xTicks, yTicks;
    double gapStrip = 0; // the room under the plot for the gap marks, above the time labels
    bool empty = true;

    double px(double x) const;
    double py(double y) const;
    QPointF map(const QPointF& value) const { return {px(value.x()), py(value.y())}; }
    // The x value under a horizontal position (extrapolated outside the plot).
    double xAt(double position) const;
};
PVChartLayout layoutChart(const PVChartSpec& spec, const QRectF& bounds, const PVChartStyle& style);
// Where a gap mark lands: its lane in the strip under the plot, at least a few pixels wide.
QRectF gapMarkRect(const PVGapMark& gap, const PVChartLayout& layout);

struct PVCrosshairState {
    double date = 0;   // the hovered sample time
    double hoverY = 0; // pointer position in the chart's coordinates
    std::vector<PVCrosshairReading> readings = {};
};

// Paints the chart into `bounds` on any painter, and nothing outside them.
void paintChart(QPainter& p, const QRectF& bounds, const PVChartSpec& spec, const PVChartStyle& style,
                const PVCrosshairState* crosshair = nullptr);

// The x axis's tick labels in tick order, one per tick of the layout.
QStringList xTickLabels(const PVChartSpec& spec, const PVChartLayout& layout);
// Where the x axis's tick labels land, one per tick; a null rectangle for a label left out because
// it would overlap the one before it.
std::vector<QRectF> xTickLabelRects(const PVChartSpec& spec, const PVChartLayout& layout, const PVChartStyle& style);
// Where the direct labels of the point marks land, in the order of the marks that carry one. They
// stay above the time labels and clear of each other.
std::vector<QRectF> directLabelRects(const PVChartSpec& spec, const PVChartLayout& layout);

// ---- The widget ---------------------------------------------------------------------------------

class PVChartView : public QWidget {
    Q_OBJECT
public:
    using ReadingsFn = std::function<std::vector<PVCrosshairReading>(double)>;

    explicit PVChartView(QWidget* parent = nullptr);
    void setSpec(PVChartSpec spec);
    // The one opaque colour the chart lies on (a card's surface), or none. Given it, the chart is
    // drawn onto that colour once and copied on every repaint until its spec, its size or the
    // appearance changes; a chart under the pointer is drawn afresh with its crosshair.
    void setOpaqueBackground(std::optional<PVColor> background);
    const PVChartSpec& spec() const { return spec_; }
    // Sample times the crosshair snaps to, in any order, and the readout lines for a time.
    void setCrosshair(std::vector<double> dates, ReadingsFn readings);
    std::optional<double> hoveredDate() const { return hovered_; }
    double hoverY() const { return hoverY_; }
    PVChartLayout currentLayout() const;
    QSize sizeHint() const override { return {480, 240}; }
    QSize minimumSizeHint() const override { return {120, 80}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    PVChartSpec spec_;
    std::optional<PVColor> background_;
    // The chart drawn without a crosshair and what it was drawn for.
    struct Drawn {
        QImage image;
        quint64 revision = 0;
        QColor background;
        QColor accent;
        PVAppearance appearance = PVAppearance::light;
        PVDepthStyle depth = PVDepthStyle::solid;
        double textScale = 1;
    };
    Drawn drawn_;
    quint64 revision_ = 1;
    std::vector<double> dates_;
    ReadingsFn readings_;
    std::optional<double> hovered_;
    double hoverY_ = 0;
};

} // namespace pv
