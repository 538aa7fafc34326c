#include "ui/design/Chart.h"

#include "core/records/LocaleDates.h"
#include "core/records/Localization.h"

#include <QDateTime>
#include <QFontMetricsF>
#include <QImage>
#include <QPaintEngine>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>

#include <optional>
#include <QRegularExpression>
#include <QSet>
#include <QTimeZone>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace pv {

// ---- Ticks and labels ---------------------------------------------------------------------------

double niceStep(double span, int desiredCount)
{
    if (!(span > 0) || !std::isfinite(span))
        return 1.0;
    desiredCount = std::max(1, desiredCount);
    const double rough = span / desiredCount;
    const double magnitude = std::pow(10.0, std::floor(std::log10(rough)));
    for (double m : {1.0, 2.0, 5.0, 10.0, 20.0}) {
        const double step = m * magnitude;
        if (std::floor(span / step + 1e-9) + 1 <= desiredCount + 1)
            return step;
    }
    return 20.0 * magnitude;
}

PVTicks niceTicks(double lo, double hi, int desiredCount)
{
    PVTicks t;
    if (!std::isfinite(lo) || !std::isfinite(hi) || hi < lo)
        return t;
    if (hi == lo) {
        t.values.push_back(lo);
        return t;
    }
    t.step = niceStep(hi - lo, desiredCount);
    const double eps = t.step * 1e-9;
    for (double v = std::ceil((lo - eps) / t.step) * t.step; v <= hi + eps && t.values.size() < 1000; v += t.step)
        t.values.push_back(std::abs(v) < eps ? 0.0 : v);
    return t;
}

std::pair<double, double> niceDomain(double lo, double hi, int desiredCount, bool includeZero)
{
    if (!std::isfinite(lo) || !std::isfinite(hi))
        return {0.0, 1.0};
    if (includeZero) {
        lo = std::min(lo, 0.0);
        hi = std::max(hi, 0.0);
    }
    if (hi == lo) {
        const double pad = lo == 0 ? 1.0 : std::abs(lo) * 0.1;
        lo -= pad;
        hi += pad;
    }
    const double step = niceStep(hi - lo, desiredCount);
    return {std::floor(lo / step) * step, std::ceil(hi / step) * step};
}

namespace {
double timeStep(double span, int desiredCount)
{
    static constexpr std::array<double, 22> steps{1,    2,    5,    10,    15,    30,    60,    120,
                                                  300,  600,  900,  1800,  3600,  7200,  10800, 21600,
                                                  43200, 86400, 172800, 604800, 1209600, 2592000};
    desiredCount = std::max(1, desiredCount);
    for (double s : steps)
        if (span / s <= desiredCount)
            return s;
    return steps.back();
}
} // namespace

PVTicks timeTicks(double t0, double t1, int desiredCount, int utcOffsetSeconds)
{
    return timeTicks(t0, t1, desiredCount, [utcOffsetSeconds](double) { return utcOffsetSeconds; });
}

PVTicks timeTicks(double t0, double t1, int desiredCount, const std::function<int(double)>& offsetAt)
{
    PVTicks t;
    if (!std::isfinite(t0) || !std::isfinite(t1) || t1 < t0)
        return t;
    t.step = timeStep(t1 - t0, desiredCount);
    int offset = offsetAt(t0);
    if (t.step <= 3600) {
        // Steps of an hour or less divide every offset change: even instants keep to the wall clock on
        // both sides of a change, and the repeated hour gets its ticks twice, as it was lived.
        for (double v = std::ceil((t0 + offset) / t.step) * t.step - offset; v <= t1 + 1e-6 && t.values.size() < 1000;
             v += t.step)
            t.values.push_back(v);
        return t;
    }
    // Wall-clock values on whole steps, each turned into the instant that shows it: the offset is
    // looked up where the tick lands, then once more in case the first guess sat across a change.
    for (double wall = std::ceil((t0 + offset) / t.step) * t.step; t.values.size() < 1000; wall += t.step) {
        double v = wall - offset;
        offset = offsetAt(v);
        v = wall - offset;
        if (offsetAt(v) != offset) {
            offset = offsetAt(v);
            v = wall - offset;
        }
        if (v > t1 + 1e-6)
            break;
        if (v >= t0 - 1e-6 && (t.values.empty() || v > t.values.back()))
            t.values.push_back(v);
    }
    return t;
}

namespace {
QDateTime localTime(double timestamp)
{
    return QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(std::llround(timestamp * 1000.0)));
}

QString withoutSeconds(QString format)
{
    // Drop a seconds field and the separator in front of it.
    static const QRegularExpression seconds(QStringLiteral("[^a-zA-Z]?s{1,2}"));
    return format.remove(seconds);
}
} // namespace

QString timeOfDayLabel(double timestamp, const QLocale& locale)
{
    return locale.toString(localTime(timestamp).time(), withoutSeconds(locale.timeFormat(QLocale::ShortFormat)));
}

QString dayLabel(double timestamp, const QLocale& locale)
{
    const QDate d = localTime(timestamp).date();
    if (locale.language() == QLocale::Hungarian)
        return locale.toString(d, QStringLiteral("MMM d."));
    return locale.toString(d, QStringLiteral("d MMM"));
}

// ---- Crosshair rules ----------------------------------------------------------------------------

std::optional<std::size_t> nearestDateIndex(const std::vector<double>& dates, double target)
{
    if (dates.empty())
        return std::nullopt;
    std::size_t best = 0;
    double bestDistance = std::abs(dates[0] - target);
    for (std::size_t i = 1; i < dates.size(); ++i) {
        const double d = std::abs(dates[i] - target);
        if (d < bestDistance) {
            best = i;
            bestDistance = d;
        }
    }
    return best;
}

double crosshairBubbleTop(double hoverY, double bubbleHeight, double plotMinY, double plotMaxY)
{
    double top = hoverY - bubbleHeight / 2.0;
    top = std::max(top, plotMinY + 4.0);
    top = std::min(top, plotMaxY - bubbleHeight - 4.0);
    return top;
}

double crosshairBubbleLeft(double x, double plotWidth, double bubbleWidth)
{
    return x + 10.0 + bubbleWidth + 2.0 <= plotWidth ? x + 10.0 : x - 10.0 - bubbleWidth;
}

namespace {
// A bubble row: the tint dot and its gap (11), the label, a gap of 14, the value; 8 of padding each side.
constexpr double kBubblePadding = 8;
constexpr double kRowLabelStart = 11;
constexpr double kRowGap = 14;
QFont crosshairLabelFont() { return pvFont(PVFontToken::caption); }
QFont crosshairValueFont() { return pvFont(PVFontToken::monoDataSmall); }
QFont crosshairTimeFont() { return pvFont(PVFontToken::microCaption); }
} // namespace

double crosshairBubbleWidth(const std::vector<PVCrosshairReading>& readings, const QString& timeText)
{
    const QFontMetricsF lfm(crosshairLabelFont()), vfm(crosshairValueFont()), tfm(crosshairTimeFont());
    double inner = tfm.horizontalAdvance(timeText);
    for (const PVCrosshairReading& r : readings)
        inner = std::max(inner, kRowLabelStart + lfm.horizontalAdvance(r.label) + kRowGap +
                                    vfm.horizontalAdvance(crosshairValueText(r.value, r.unit)));
    return std::max(kCrosshairBubbleWidth, std::ceil(inner + 2 * kBubblePadding + 1));
}

QString crosshairRowLabel(const PVCrosshairReading& reading, double bubbleWidth)
{
    const QFontMetricsF lfm(crosshairLabelFont()), vfm(crosshairValueFont());
    const double room = bubbleWidth - 2 * kBubblePadding - kRowLabelStart - kRowGap -
                        vfm.horizontalAdvance(crosshairValueText(reading.value, reading.unit));
    return lfm.elidedText(reading.label, Qt::ElideRight, std::max(0.0, room));
}

QString crosshairValueText(std::optional<double> value, const QString& unit)
{
    if (!value)
        return QStringLiteral("—");
    // A latency under 1 ms must not read 0.
    if (unit == QLatin1String("ms"))
        return wholeMillisecondsFigure(*value) + QStringLiteral(" ms");
    return formatPrintf(QStringLiteral("%.0f %@"), {*value, unit});
}

QString crosshairTimeFormat(const QLocale& locale)
{
    QString format = locale.timeFormat(QLocale::ShortFormat);
    if (format.contains(QLatin1Char('s')))
        return format;
    const qsizetype minutes = format.indexOf(QStringLiteral("mm"));
    if (minutes < 0)
        return format + QStringLiteral(":ss");
    return format.insert(minutes + 2, QStringLiteral(":ss"));
}

QString crosshairTimeText(double timestamp, const QLocale& locale)
{
    return locale.toString(localTime(timestamp).time(), crosshairTimeFormat(locale));
}

// ---- Description --------------------------------------------------------------------------------

bool PVChartSpec::hasData() const
{
    auto anyFinite = [](const std::vector<QPointF>& pts) {
        return std::any_of(pts.begin(), pts.end(), [](const QPointF& p) { return std::isfinite(p.x()) && std::isfinite(p.y()); });
    };
    for (const auto& l : lines)
        if (anyFinite(l.points))
            return true;
    for (const auto& a : areas)
        if (anyFinite(a.points))
            return true;
    for (const auto& pt : points)
        if (std::isfinite(pt.point.x()) && std::isfinite(pt.point.y()))
            return true;
    return std::any_of(bars.begin(), bars.end(), [](const PVBarMark& b) { return std::isfinite(b.value); });
}

std::vector<QPointF> lonePoints(const std::vector<QPointF>& points)
{
    const auto finite = [&](std::size_t i) {
        return i < points.size() && std::isfinite(points[i].x()) && std::isfinite(points[i].y());
    };
    std::vector<QPointF> lone;
    for (std::size_t i = 0; i < points.size(); ++i)
        if (finite(i) && !(i > 0 && finite(i - 1)) && !finite(i + 1))
            lone.push_back(points[i]);
    return lone;
}

PVChartStyle PVChartStyle::dashboard(const PVPaintContext& ctx)
{
    PVChartStyle s;
    s.ctx = ctx;
    // Axis labels grow with the user's text size like the small captions beside the chart.
    s.labelFont = pvSystemFont(10 * PVTheme::instance().textScale(PVTextStyle::caption2), PVFontWeight::medium);
    return s;
}

double PVChartLayout::px(double x) const
{
    const double span = xMax - xMin;
    return plot.left() + (span > 0 ? (x - xMin) / span : 0.5) * plot.width();
}

double PVChartLayout::py(double y) const
{
    const double span = yMax - yMin;
    return plot.bottom() - (span > 0 ? (y - yMin) / span : 0.5) * plot.height();
}

double PVChartLayout::xAt(double position) const
{
    if (plot.width() <= 0)
        return xMin;
    return xMin + (position - plot.left()) / plot.width() * (xMax - xMin);
}

namespace {

struct Extent {
    double lo = std::numeric_limits<double>::infinity();
    double hi = -std::numeric_limits<double>::infinity();
    void add(double v)
    {
        if (std::isfinite(v)) {
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
    }
    bool valid() const { return lo <= hi; }
};

QString axisLabel(const PVChartAxis& axis, const PVChartSpec& spec, double v, double step)
{
    if (axis.formatter)
        return axis.formatter(v);
    switch (axis.format) {
    case PVAxisFormat::timeOfDay: return timeOfDayLabel(v, dateLocale());
    case PVAxisFormat::date: return step >= 86400 ? dayLabel(v, dateLocale()) : timeOfDayLabel(v, dateLocale());
    case PVAxisFormat::category: {
        const auto i = static_cast<qsizetype>(std::llround(v));
        return i >= 0 && i < spec.categories.size() ? spec.categories[i] : QString();
    }
    case PVAxisFormat::number: break;
    }
    const int decimals = step > 0 && step < 1 ? static_cast<int>(std::ceil(-std::log10(step) - 1e-9)) : 0;
    return spec.locale.toString(v, 'f', decimals);
}

PVTicks xTicksFor(const PVChartSpec& spec, double lo, double hi)
{
    switch (spec.x.format) {
    case PVAxisFormat::timeOfDay:
    case PVAxisFormat::date:
        return timeTicks(lo, hi, spec.x.desiredTicks, [](double v) { return localTime(v).offsetFromUtc(); });
    case PVAxisFormat::category: {
        PVTicks t;
        t.step = 1;
        for (qsizetype i = 0; i < spec.categories.size(); ++i)
            t.values.push_back(static_cast<double>(i));
        return t;
    }
    case PVAxisFormat::number: break;
    }
    return niceTicks(lo, hi, spec.x.desiredTicks);
}

} // namespace

PVChartLayout layoutChart(const PVChartSpec& spec, const QRectF& bounds, const PVChartStyle& style)
{
    PVChartLayout L;
    L.bounds = bounds;
    L.empty = !spec.hasData();
    const QFontMetricsF fm(style.labelFont);

    Extent xs, ys;
    for (const auto& l : spec.lines)
        for (const auto& p : l.points) {
            xs.add(p.x());
            ys.add(p.y());
        }
    for (const auto& a : spec.areas) {
        for (const auto& p : a.points) {
            xs.add(p.x());
            ys.add(p.y());
        }
        if (a.baseline)
            ys.add(*a.baseline);
    }
    for (const auto& p : spec.points) {
        xs.add(p.point.x());
        ys.add(p.point.y());
    }
    for (const auto& b : spec.bars) {
        xs.add(b.x);
        ys.add(b.value);
    }
    for (const auto& r : spec.rects) {
        xs.add(r.x0);
        xs.add(r.x1);
    }
    for (const auto& r : spec.rules)
        ys.add(r.y);
    for (const auto& g : spec.gaps) {
        xs.add(g.x0);
        xs.add(g.x1);
    }

    // Horizontal scale.
    if (spec.x.format == PVAxisFormat::category) {
        const double n = std::max<double>(1.0, static_cast<double>(spec.categories.size()));
        L.xMin = -0.5;
        L.xMax = n - 0.5;
    } else if (spec.x.domain) {
        L.xMin = spec.x.domain->first;
        L.xMax = spec.x.domain->second;
    } else if (xs.valid()) {
        L.xMin = xs.lo;
        L.xMax = xs.hi;
        if (spec.x.format == PVAxisFormat::number)
            std::tie(L.xMin, L.xMax) = niceDomain(xs.lo, xs.hi, spec.x.desiredTicks, true);
        else if (L.xMax == L.xMin) {
            L.xMin -= 30;
            L.xMax += 30;
        }
    }
    // Vertical scale: automatic scales start at zero, as bars and areas need.
    if (spec.y.domain) {
        L.yMin = spec.y.domain->first;
        L.yMax = spec.y.domain->second;
    } else if (ys.valid()) {
        std::tie(L.yMin, L.yMax) = niceDomain(ys.lo, ys.hi, spec.y.desiredTicks, true);
    }
    L.yTicks = niceTicks(L.yMin, L.yMax, spec.y.desiredTicks);
    L.xTicks = xTicksFor(spec, L.xMin, L.xMax);

    // Room for the axes.
    double valueLabelWidth = 0;
    if (spec.y.labels)
        for (double v : L.yTicks.values)
            valueLabelWidth = std::max(valueLabelWidth, fm.horizontalAdvance(axisLabel(spec.y, spec, v, L.yTicks.step)));
    const double tickLength = spec.y.ticks ? 4.0 : 0.0;
    const double valueAxis = spec.y.labels ? valueLabelWidth + tickLength + 4.0 : tickLength;
    const double yTitle = spec.y.title.isEmpty() ? 0.0 : fm.height() + 4.0;
    const double xLabels = spec.x.labels ? fm.height() + 4.0 : 0.0;
    const double xTitle = spec.x.title.isEmpty() ? 0.0 : fm.height() + 2.0;
    const double top = spec.y.labels ? std::ceil(fm.height() / 2.0) : 1.0;
    int lanes = 0;
    for (const auto& g : spec.gaps)
        lanes = std::max(lanes, g.lane + 1);
    L.gapStrip = lanes > 0 ? 2.0 + 6.0 * lanes : 0.0;

    double left = bounds.left() + yTitle;
    double right = bounds.right();
    if (spec.valueAxisTrailing)
        right -= valueAxis;
    else
        left += valueAxis;
    L.plot = QRectF(QPointF(left, bounds.top() + top), QPointF(right, bounds.bottom() - xLabels - xTitle - L.gapStrip));
    if (L.plot.width() < 1 || L.plot.height() < 1)
        L.plot = QRectF();
    return L;
}

QRectF gapMarkRect(const PVGapMark& gap, const PVChartLayout& layout)
{
    constexpr double thickness = 4, pitch = 6, least = 4;
    double x0 = layout.px(std::min(gap.x0, gap.x1));
    double x1 = layout.px(std::max(gap.x0, gap.x1));
    if (x1 - x0 < least) {
        const double mid = (x0 + x1) / 2;
        x0 = mid - least / 2;
        x1 = mid + least / 2;
    }
    const double top = layout.plot.bottom() + 2 + std::max(0, gap.lane) * pitch;
    return {QPointF(x0, top), QPointF(x1, top + thickness)};
}

// ---- Painting -----------------------------------------------------------------------------------

namespace {

// The joined pieces of a line as separate segments; a non-finite point breaks the line.
std::vector<QLineF> lineSegments(const std::vector<QPointF>& pts, const PVChartLayout& L)
{
    std::vector<QLineF> segments;
    segments.reserve(pts.size());
    std::optional<QPointF> previous;
    for (const QPointF& p : pts) {
        if (!std::isfinite(p.x()) || !std::isfinite(p.y())) {
            previous.reset();
            continue;
        }
        const QPointF q = L.map(p);
        if (previous)
            segments.emplace_back(*previous, q);
        previous = q;
    }
    return segments;
}

QPainterPath linePath(const std::vector<QPointF>& pts, const PVChartLayout& L)
{
    QPainterPath path;
    bool pen = false;
    for (const QPointF& p : pts) {
        if (!std::isfinite(p.x()) || !std::isfinite(p.y())) {
            pen = false;
            continue;
        }
        const QPointF q = L.map(p);
        if (!pen)
            path.moveTo(q);
        else
            path.lineTo(q);
        pen = true;
    }
    return path;
}

// The rectangles span the plot's height, so every one of them looks the same on each of its rows.
// On a pixel surface they are painted once into a strip one row high and the strip is stretched
// over the plot: a month's hundred narrow translucent bands then cost one image draw instead of a
// blend per band and row (some 15 ms). Other surfaces (the PDF) get the rectangles themselves.
void paintRects(QPainter& p, const PVChartSpec& spec, const PVChartLayout& L, const PVChartStyle& style)
{
    if (spec.rects.empty())
        return;
    const auto span = [&](const PVRectMark& r) {
        return std::make_pair(L.px(std::min(r.x0, r.x1)), L.px(std::max(r.x0, r.x1)));
    };
    const QTransform& t = p.worldTransform();
    const bool pixels = p.paintEngine() && p.paintEngine()->type() == QPaintEngine::Raster
                        && t.type() <= QTransform::TxTranslate && L.plot.width() >= 1;
    if (!pixels) {
        for (const PVRectMark& r : spec.rects) {
            const auto [x0, x1] = span(r);
            p.fillRect(QRectF(x0, L.plot.top(), x1 - x0, L.plot.height()), style.ctx.color(r.color));
        }
        return;
    }
    const double ratio = p.device() ? p.device()->devicePixelRatioF() : 1.0;
    QImage strip(static_cast<int>(std::ceil(L.plot.width() * ratio)), 1, QImage::Format_ARGB32_Premultiplied);
    strip.setDevicePixelRatio(ratio);
    strip.fill(Qt::transparent);
    {
        QPainter s(&strip);
        s.setRenderHint(QPainter::Antialiasing);
        for (const PVRectMark& r : spec.rects) {
            const auto [x0, x1] = span(r);
            s.fillRect(QRectF(x0 - L.plot.left(), 0, x1 - x0, 1.0 / ratio), style.ctx.color(r.color));
        }
    }
    p.drawImage(QRectF(L.plot.left(), L.plot.top(), static_cast<double>(strip.width()) / ratio, L.plot.height()), strip);
}

void paintAreas(QPainter& p, const PVChartSpec& spec, const PVChartLayout& L, const PVChartStyle& style)
{
    for (const PVAreaMark& a : spec.areas) {
        const double base = L.py(a.baseline.value_or(L.yMin));
        QLinearGradient g(0, L.plot.top(), 0, L.plot.bottom());
        g.setColorAt(0, style.ctx.color(a.top));
        g.setColorAt(1, style.ctx.color(a.bottom));
        // One closed shape per unbroken run of points.
        std::vector<QPointF> run;
        auto flush = [&] {
            if (run.empty())
                return;
            if (run.size() == 1) {
                // Nothing to join it to: a narrow column up to the value, capped in the opaque colour.
                constexpr double width = 4, cap = 2;
                const QPointF q = run.front();
                p.fillRect(QRectF(q.x() - width / 2, std::min(q.y(), base), width, std::abs(base - q.y())), g);
                QColor capColor = style.ctx.color(a.top);
                capColor.setAlphaF(1.0f);
                // The cap lies on the value's side of the baseline, inside the plot even at its edges.
                const double capTop = q.y() <= base ? std::min(q.y(), base - cap) : std::max(q.y() - cap, base);
                p.fillRect(QRectF(q.x() - width / 2, capTop, width, cap), capColor);
                run.clear();
                return;
            }
            QPainterPath path;
            path.moveTo(run.front().x(), base);
            for (const QPointF& q : run)
                path.lineTo(q);
            path.lineTo(run.back().x(), base);
            path.closeSubpath();
            p.fillPath(path, g);
            run.clear();
        };
        for (const QPointF& pt : a.points) {
            if (!std::isfinite(pt.x()) || !std::isfinite(pt.y())) {
                flush();
                continue;
            }
            run.push_back(L.map(pt));
        }
        flush();
    }
}

// A direct label's box: right of its point and floated 16 above it. The newest point usually sits
// at the plot's trailing edge: a label that would run over the value axis goes to the leading side
// of its point instead, and always stays inside the chart.
QRectF directLabelRect(const QPointF& at, double symbolRadius, const QString& text, const QRectF& plot,
                       const QRectF& bounds)
{
    const QFontMetricsF fm(pvFont(PVFontToken::microCaption));
    const double w = 4 + 8 + 4 + fm.horizontalAdvance(text) + 4;
    const double h = std::max(2.0, fm.height()) + 2;
    QRectF r(at.x() + symbolRadius + 6, at.y() - h / 2 - 16, w, h);
    if (r.right() > plot.right())
        r.moveRight(at.x() - symbolRadius - 6);
    if (r.left() < bounds.left())
        r.moveLeft(bounds.left());
    if (r.right() > bounds.right())
        r.moveRight(bounds.right());
    // Vertically it stays between the chart's top and the plot's bottom edge: below that run the
    // time labels, which a label must never cover.
    if (r.bottom() > plot.bottom())
        r.moveBottom(plot.bottom());
    if (r.top() < bounds.top())
        r.moveTop(bounds.top());
    return r;
}

void paintDirectLabel(QPainter& p, const QRectF& r, const QString& text, const QColor& swatch,
                      const PVChartStyle& style)
{
    const QFont font = pvFont(PVFontToken::microCaption);
    const QFontMetricsF fm(font);
    const double h = r.height();
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(style.ctx.color(style.well.opacity(0.9)));
    p.drawRoundedRect(r, h / 2, h / 2);
    p.setBrush(swatch);
    p.drawRoundedRect(QRectF(r.left() + 4, r.center().y() - 1, 8, 2), 1, 1);
    p.setFont(font);
    p.setPen(style.ctx.color(style.directLabel));
    p.drawText(QPointF(r.left() + 16, r.center().y() + (fm.ascent() - fm.descent()) / 2), text);
    p.restore();
}

bool drawable(const PVPointMark& pm) { return std::isfinite(pm.point.x()) && std::isfinite(pm.point.y()); }
double symbolRadius(const PVPointMark& pm) { return std::sqrt(std::max(0.0, pm.symbolSize)) / 2.0; }

void paintEmpty(QPainter& p, const QRectF& bounds, const PVChartSpec& spec, const PVChartStyle& style)
{
    p.setPen(Qt::NoPen);
    p.setBrush(style.ctx.color(style.well));
    p.drawRoundedRect(bounds, style.wellRadius, style.wellRadius);
    const QRectF inner = bounds.adjusted(16, 16, -16, -16);
    if (inner.width() <= 0 || inner.height() <= 0)
        return;
    const QString title = spec.emptyTitle.value_or(L("Még nincs elég mérés a rajzoláshoz."));
    const QString detail = spec.emptyDetail.value_or(L("Hagyd futni az appot néhány percig."));
    const QFont titleFont = pvFont(PVFontToken::callout);
    const QFont detailFont = pvFont(PVFontToken::caption);
    p.setFont(titleFont);
    p.setPen(style.ctx.color(style.emptyTitle));
    QRectF used;
    p.drawText(inner, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, title, &used);
    p.setFont(detailFont);
    p.setPen(style.ctx.color(style.emptyDetail));
    p.drawText(inner.adjusted(0, used.height() + 4, 0, 0), Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, detail);
}

void paintCrosshair(QPainter& p, const PVChartLayout& L, const PVChartSpec& /*spec*/, const PVChartStyle& style,
                    const PVCrosshairState& c)
{
    const double x = L.px(c.date);
    if (!std::isfinite(x))
        return;
    // Rule: 1 wide, the plot's height.
    p.fillRect(QRectF(std::floor(x), L.plot.top(), 1.0, L.plot.height()), style.ctx.color(style.crosshairRule));

    const QFont timeFont = crosshairTimeFont();
    const QFont labelFont = crosshairLabelFont();
    const QFont valueFont = crosshairValueFont();
    const QFontMetricsF tfm(timeFont), lfm(labelFont), vfm(valueFont);
    const double rowHeight = std::max({5.0, lfm.height(), vfm.height()});
    const auto n = c.readings.size();
    const double estimated = crosshairBubbleHeight(n);
    const double actual = 8 + tfm.height() + static_cast<double>(n) * (4 + rowHeight) + 8;
    const QString time = crosshairTimeText(c.date, dateLocale());
    // As wide as the texts need, but never wider than the plot with its axis beside it.
    const double width =
        std::min(crosshairBubbleWidth(c.readings, time), std::max(kCrosshairBubbleWidth, L.plot.right() - 4));
    const double top = crosshairBubbleTop(c.hoverY, estimated, L.plot.top(), L.plot.bottom());
    const double left =
        std::max(4.0, L.plot.left() + crosshairBubbleLeft(x - L.plot.left(), L.plot.width(), width));
    const QRectF bubble(left, top, width, actual);

    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    QColor shadow(Qt::black);
    shadow.setAlphaF(0.18f);
    pvPaintShadow(p, bubble, 8, shadow, 8, QPointF(0, 3));
    p.setPen(Qt::NoPen);
    p.setBrush(style.ctx.color(style.bubbleFill));
    p.drawRoundedRect(bubble, 8, 8);
    p.setPen(QPen(style.ctx.color(style.bubbleBorder), 1));
    p.setBrush(Qt::NoBrush);
    p.drawPath(pvInsetRoundedRect(bubble, 8, 1));

    const QRectF inner = bubble.adjusted(8, 8, -8, -8);
    double y = inner.top();
    p.setFont(timeFont);
    p.setPen(style.ctx.color(style.bubbleTime));
    p.drawText(QPointF(inner.left(), y + tfm.ascent()), time);
    y += tfm.height();
    for (const PVCrosshairReading& r : c.readings) {
        y += 4;
        const double mid = y + rowHeight / 2;
        p.setPen(Qt::NoPen);
        p.setBrush(style.ctx.color(r.tint));
        p.drawEllipse(QPointF(inner.left() + 2.5, mid), 2.5, 2.5);
        const QString value = crosshairValueText(r.value, r.unit);
        const double valueWidth = vfm.horizontalAdvance(value);
        p.setFont(valueFont);
        p.setPen(style.ctx.color(style.bubbleValue));
        p.drawText(QPointF(inner.right() - valueWidth, mid + (vfm.ascent() - vfm.descent()) / 2), value);
        p.setFont(labelFont);
        p.setPen(style.ctx.color(style.bubbleLabel));
        p.drawText(QPointF(inner.left() + kRowLabelStart, mid + (lfm.ascent() - lfm.descent()) / 2),
                   crosshairRowLabel(r, width));
        y += rowHeight;
    }
    p.restore();
}

} // namespace

QStringList xTickLabels(const PVChartSpec& spec, const PVChartLayout& layout)
{
    const std::vector<double>& values = layout.xTicks.values;
    const double step = layout.xTicks.step;
    QStringList labels;
    const QLocale dates = dateLocale();
    const bool time = spec.x.format == PVAxisFormat::timeOfDay || spec.x.format == PVAxisFormat::date;
    if (!time || spec.x.formatter) {
        for (double v : values)
            labels << axisLabel(spec.x, spec, v, step);
        return labels;
    }
    // The label shows as much of the time as its step needs: ticks under a minute apart carry
    // their seconds, a day or more apart their day. When the times still repeat (ticks hours apart
    // over more than a day), each label names its day as well.
    if (step >= 86400) {
        for (double v : values)
            labels << dayLabel(v, dates);
        return labels;
    }
    const QString format = step < 60 ? crosshairTimeFormat(dates) : withoutSeconds(dates.timeFormat(QLocale::ShortFormat));
    // A time in the hour that repeats when daylight-saving time ends says which of the two it is.
    for (double v : values)
        labels << dates.toString(localTime(v).time(), format) +
                      (isRepeatedLocalTime(v) ? QLatin1Char(' ') + utcOffsetText(v) : QString());
    if (QSet<QString>(labels.begin(), labels.end()).size() < labels.size())
        for (qsizetype i = 0; i < labels.size(); ++i)
            labels[i] = dayLabel(values[static_cast<std::size_t>(i)], dates) + QLatin1Char(' ') + labels[i];
    return labels;
}

std::vector<QRectF> xTickLabelRects(const PVChartSpec& spec, const PVChartLayout& layout, const PVChartStyle& style)
{
    std::vector<QRectF> rects(layout.xTicks.values.size());
    if (!spec.x.labels)
        return rects;
    const QFontMetricsF fm(style.labelFont);
    double lastRight = -std::numeric_limits<double>::infinity();
    const QStringList texts = xTickLabels(spec, layout);
    for (std::size_t i = 0; i < layout.xTicks.values.size(); ++i) {
        const double w = fm.horizontalAdvance(texts[static_cast<qsizetype>(i)]);
        double x = layout.px(layout.xTicks.values[i]) - w / 2;
        x = std::clamp(x, layout.bounds.left(), layout.bounds.right() - w);
        if (x < lastRight + 6)
            continue; // would overlap the previous label: not drawn
        rects[i] = QRectF(x, layout.plot.bottom() + layout.gapStrip + 4, w, fm.height());
        lastRight = x + w;
    }
    return rects;
}

std::vector<QRectF> directLabelRects(const PVChartSpec& spec, const PVChartLayout& layout)
{
    std::vector<QRectF> rects;
    // The labels' room: the chart above the time labels.
    const QRectF bounds(layout.bounds.topLeft(), QPointF(layout.bounds.right(), layout.plot.bottom()));
    auto fits = [&](const QRectF& r) {
        return bounds.contains(r)
               && std::none_of(rects.begin(), rects.end(), [&](const QRectF& placed) { return placed.intersects(r); });
    };
    for (const PVPointMark& pm : spec.points) {
        if (!pm.directLabel || !drawable(pm))
            continue;
        const QRectF wanted = directLabelRect(layout.map(pm.point), symbolRadius(pm), *pm.directLabel, layout.plot, bounds);
        // A label that would cover an earlier one (lines meeting at their newest points) moves
        // down or up by whole label heights, the nearest free place first.
        QRectF chosen = wanted;
        const double pitch = wanted.height() + 2;
        const int reach = static_cast<int>(bounds.height() / pitch) + 1;
        for (int k = 0; k <= reach && !fits(chosen); ++k) {
            const QRectF down = wanted.translated(0, k * pitch);
            const QRectF up = wanted.translated(0, -k * pitch);
            if (fits(down))
                chosen = down;
            else if (fits(up))
                chosen = up;
        }
        rects.push_back(chosen);
    }
    return rects;
}

void paintChart(QPainter& p, const QRectF& bounds, const PVChartSpec& spec, const PVChartStyle& style,
                const PVCrosshairState* crosshair)
{
    p.save();
    p.setClipRect(bounds, Qt::IntersectClip);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    if (!spec.hasData()) {
        paintEmpty(p, bounds, spec, style);
        p.restore();
        return;
    }
    const PVChartLayout L = layoutChart(spec, bounds, style);
    if (L.plot.isEmpty()) {
        p.restore();
        return;
    }
    const QFontMetricsF fm(style.labelFont);

    // The plot well.
    QPainterPath well;
    well.addRoundedRect(L.plot, style.wellRadius, style.wellRadius);
    p.fillPath(well, style.ctx.color(style.well));

    // Grid lines.
    p.save();
    p.setClipPath(well, Qt::IntersectClip);
    QPen gridPen(style.ctx.color(style.grid), 1);
    gridPen.setCosmetic(false);
    p.setPen(gridPen);
    if (spec.y.grid)
        for (double v : L.yTicks.values) {
            const double y = std::round(L.py(v)) + 0.5;
            p.drawLine(QPointF(L.plot.left(), y), QPointF(L.plot.right(), y));
        }
    if (spec.x.grid)
        for (double v : L.xTicks.values) {
            const double x = std::round(L.px(v)) + 0.5;
            p.drawLine(QPointF(x, L.plot.top()), QPointF(x, L.plot.bottom()));
        }

    // Marks that live inside the plot.
    p.setPen(Qt::NoPen);
    paintRects(p, spec, L, style);
    paintAreas(p, spec, L, style);
    for (const PVLineMark& l : spec.lines) {
        QPen pen(style.ctx.color(l.color), l.width, Qt::SolidLine, Qt::RoundCap, l.join);
        pen.setMiterLimit(10);
        if (!l.dash.isEmpty())
            pen.setDashPattern(l.dash);
        p.setPen(pen);
        p.setBrush(Qt::NoBrush);
        if (l.dash.isEmpty() && l.join == Qt::RoundJoin && pen.color().alpha() == 255) {
            // An opaque round-joined line looks the same drawn as round-capped segments, and Qt
            // strokes those about four times faster than one long antialiased path.
            const std::vector<QLineF> segments = lineSegments(l.points, L);
            if (!segments.empty())
                p.drawLines(segments.data(), static_cast<int>(segments.size()));
        } else {
            p.drawPath(linePath(l.points, L));
        }
        const std::vector<QPointF> lone = lonePoints(l.points);
        if (!lone.empty()) {
            const double radius = std::max(2.5, l.width);
            p.setPen(Qt::NoPen);
            p.setBrush(pen.color());
            for (const QPointF& q : lone)
                p.drawEllipse(L.map(q), radius, radius);
        }
    }
    const double band = spec.x.format == PVAxisFormat::category ? L.plot.width() / std::max<double>(1, L.xMax - L.xMin) : 0;
    for (const PVBarMark& b : spec.bars) {
        if (!std::isfinite(b.value))
            continue;
        const double width = band > 0 ? band * 0.6 : std::max(2.0, L.plot.width() / 60.0);
        const double zero = L.py(std::clamp(0.0, L.yMin, L.yMax));
        const double top = L.py(b.value);
        const QRectF bar(L.px(b.x) - width / 2, std::min(top, zero), width, std::abs(zero - top));
        p.fillRect(bar, style.ctx.color(b.color));
    }
    for (const PVRuleMark& r : spec.rules) {
        QPen pen(style.ctx.color(r.color), r.width, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
        if (!r.dash.isEmpty())
            pen.setDashPattern(r.dash);
        p.setPen(pen);
        const double y = L.py(r.y);
        p.drawLine(QPointF(L.plot.left(), y), QPointF(L.plot.right(), y));
    }
    p.restore();

    // Under the plot: a leg's stretch without an answer stays in view where another line runs.
    p.setPen(Qt::NoPen);
    for (const PVGapMark& g : spec.gaps) {
        if (!std::isfinite(g.x0) || !std::isfinite(g.x1))
            continue;
        p.setBrush(style.ctx.color(g.color));
        p.drawRoundedRect(gapMarkRect(g, L).intersected(QRectF(L.plot.left(), L.plot.bottom(), L.plot.width(), L.gapStrip)),
                          2, 2);
    }

    // Rule annotations and point marks may reach beyond the plot, never beyond the chart.
    for (const PVRuleMark& r : spec.rules) {
        if (r.annotation.isEmpty())
            continue;
        const QFont font = pvFont(PVFontToken::microCaption);
        p.setFont(font);
        p.setPen(style.ctx.color(style.label));
        p.drawText(QPointF(L.plot.left() + 4, L.py(r.y) - QFontMetricsF(font).descent() - 2), r.annotation);
    }
    for (const PVPointMark& pm : spec.points) {
        if (!drawable(pm))
            continue;
        const double radius = symbolRadius(pm);
        p.setPen(Qt::NoPen);
        p.setBrush(style.ctx.color(pm.color));
        p.drawEllipse(L.map(pm.point), radius, radius);
    }
    // The labels go over every symbol.
    const std::vector<QRectF> labelRects = directLabelRects(spec, L);
    std::size_t labelIndex = 0;
    for (const PVPointMark& pm : spec.points)
        if (pm.directLabel && drawable(pm))
            paintDirectLabel(p, labelRects[labelIndex++], *pm.directLabel, style.ctx.color(pm.color), style);

    // Axes.
    p.setFont(style.labelFont);
    const QColor labelColor = style.ctx.color(style.label);
    const QColor tickColor = style.ctx.color(style.tick);
    const double axisX = spec.valueAxisTrailing ? L.plot.right() : L.plot.left();
    for (double v : L.yTicks.values) {
        const double y = L.py(v);
        if (spec.y.ticks) {
            p.setPen(QPen(tickColor, 1));
            const double dir = spec.valueAxisTrailing ? 1 : -1;
            p.drawLine(QPointF(axisX, std::round(y) + 0.5), QPointF(axisX + dir * 4, std::round(y) + 0.5));
        }
        if (spec.y.labels) {
            const QString text = axisLabel(spec.y, spec, v, L.yTicks.step);
            const double w = fm.horizontalAdvance(text);
            const double gap = (spec.y.ticks ? 4 : 0) + 4;
            const double x = spec.valueAxisTrailing ? axisX + gap : axisX - gap - w;
            p.setPen(labelColor);
            p.drawText(QPointF(x, y + (fm.ascent() - fm.descent()) / 2), text);
        }
    }
    if (spec.x.labels) {
        const QStringList texts = xTickLabels(spec, L);
        const std::vector<QRectF> tickRects = xTickLabelRects(spec, L, style);
        p.setPen(labelColor);
        for (std::size_t i = 0; i < tickRects.size(); ++i)
            if (!tickRects[i].isNull())
                p.drawText(QPointF(tickRects[i].left(), tickRects[i].top() + fm.ascent()), texts[static_cast<qsizetype>(i)]);
    }
    if (!spec.y.title.isEmpty()) {
        p.save();
        p.setPen(labelColor);
        p.translate(bounds.left() + fm.ascent(), L.plot.center().y() + fm.horizontalAdvance(spec.y.title) / 2);
        p.rotate(-90);
        p.drawText(QPointF(0, 0), spec.y.title);
        p.restore();
    }
    if (!spec.x.title.isEmpty()) {
        p.setPen(labelColor);
        const double w = fm.horizontalAdvance(spec.x.title);
        p.drawText(QPointF(L.plot.center().x() - w / 2, bounds.bottom() - fm.descent()), spec.x.title);
    }

    if (crosshair != nullptr)
        paintCrosshair(p, L, spec, style, *crosshair);
    p.restore();
}

// ---- The widget ---------------------------------------------------------------------------------

PVChartView::PVChartView(QWidget* parent) : QWidget(parent)
{
    setMouseTracking(true);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void PVChartView::setSpec(PVChartSpec spec)
{
    spec_ = std::move(spec);
    ++revision_;
    update();
}

void PVChartView::setOpaqueBackground(std::optional<PVColor> background)
{
    background_ = std::move(background);
    drawn_.image = QImage();
    update();
}

void PVChartView::setCrosshair(std::vector<double> dates, ReadingsFn readings)
{
    dates_ = std::move(dates);
    readings_ = std::move(readings);
    if (dates_.empty())
        hovered_.reset();
    update();
}

PVChartLayout PVChartView::currentLayout() const
{
    return layoutChart(spec_, QRectF(rect()), PVChartStyle::dashboard(PVPaintContext::forWidget(this)));
}

void PVChartView::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const PVChartStyle style = PVChartStyle::dashboard(PVPaintContext::forWidget(this));
    std::optional<PVCrosshairState> state;
    if (hovered_ && readings_) {
        state = PVCrosshairState{*hovered_, hoverY_, readings_(*hovered_)};
    }
    if (state || !background_) {
        paintChart(p, QRectF(rect()), spec_, style, state ? &*state : nullptr);
        return;
    }
    // Drawn onto the very colour beneath, the copy is opaque and equals drawing in place.
    const QColor background = style.ctx.color(*background_);
    const qreal ratio = devicePixelRatioF();
    const double textScale = PVTheme::instance().textScale(PVTextStyle::body);
    if (drawn_.image.size() != size() * ratio || drawn_.image.devicePixelRatio() != ratio ||
        drawn_.revision != revision_ || drawn_.background != background || drawn_.accent != style.ctx.accent ||
        drawn_.appearance != style.ctx.appearance || drawn_.depth != style.ctx.depth || drawn_.textScale != textScale) {
        drawn_ = {QImage(size() * ratio, QImage::Format_ARGB32_Premultiplied), revision_, background, style.ctx.accent,
                  style.ctx.appearance, style.ctx.depth, textScale};
        drawn_.image.setDevicePixelRatio(ratio);
        drawn_.image.fill(background);
        QPainter ip(&drawn_.image);
        paintChart(ip, QRectF(rect()), spec_, style, nullptr);
    }
    p.drawImage(QPointF(0, 0), drawn_.image);
}

void PVChartView::mouseMoveEvent(QMouseEvent* event)
{
    const PVChartLayout L = currentLayout();
    if (L.plot.isEmpty() || L.empty) {
        QWidget::mouseMoveEvent(event);
        return;
    }
    const QPointF pos = event->position();
    const auto index = nearestDateIndex(dates_, L.xAt(pos.x()));
    hovered_ = index ? std::optional<double>(dates_[*index]) : std::nullopt;
    hoverY_ = pos.y();
    update();
    QWidget::mouseMoveEvent(event);
}

void PVChartView::leaveEvent(QEvent* event)
{
    hovered_.reset();
    update();
    QWidget::leaveEvent(event);
}

} // namespace pv
