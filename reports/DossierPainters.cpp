#include "reports/DossierPainters.h"

#include <QFontMetricsF>
#include <QPainter>

#include <memory>

#include <algorithm>
#include <cmath>

namespace pv {

namespace DossierPalette {
namespace {
QColor rgb(double r, double g, double b) { return QColor::fromRgbF(float(r), float(g), float(b), 1.0f); }
} // namespace
QColor ink() { return rgb(0.09, 0.11, 0.13); }
QColor secondaryText() { return rgb(0.32, 0.35, 0.39); }
QColor mutedText() { return rgb(0.50, 0.54, 0.58); }
QColor rule() { return rgb(0.85, 0.87, 0.89); }
QColor panel() { return rgb(0.96, 0.97, 0.98); }
QColor green() { return rgb(0.06, 0.47, 0.35); }
QColor blue() { return rgb(0.13, 0.36, 0.72); }
QColor red() { return rgb(0.72, 0.20, 0.16); }
} // namespace DossierPalette

namespace dossier {

namespace {

constexpr int kWrap = Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap;
constexpr double kUnbounded = 1.0e6;

// The single-line height of a font: ascent plus descent, as the painter places one line.
double lineHeight(const QFont& f) { return QFontMetricsF(f).height(); }

void drawLine(QPainter& p, const QFont& f, const QColor& color, const QRectF& r, const QString& s,
              Qt::Alignment align = Qt::AlignLeft | Qt::AlignVCenter)
{
    p.setFont(f);
    p.setPen(color);
    p.drawText(r, static_cast<int>(align | Qt::TextSingleLine), s);
}

QString elided(const QString& s, const QFont& f, double width)
{
    return QFontMetricsF(f).elidedText(s, Qt::ElideRight, std::max(0.0, width));
}

void paintDivider(QPainter& p, double left, double right, double y)
{
    p.fillRect(QRectF(left, y, right - left, 1.0), DossierPalette::rule());
}

} // namespace

QFont font(double points, Weight weight)
{
    QFont f(QString::fromLatin1(kFontFamily));
    f.setStyleHint(QFont::SansSerif);
    // 72 dpi: a pixel of the device is a point of the page.
    f.setPixelSize(std::max(1, static_cast<int>(std::lround(points))));
    switch (weight) {
    case Weight::regular: f.setWeight(QFont::Normal); break;
    case Weight::medium: f.setWeight(QFont::Medium); break;
    case Weight::semibold: f.setWeight(QFont::DemiBold); break;
    case Weight::bold: f.setWeight(QFont::Bold); break;
    }
    f.setKerning(true);
    f.setHintingPreference(QFont::PreferNoHinting);
    // No shaping for our Latin texts means no ligatures: "fi" stays two letters, so a reader who
    // searches or copies "előfizető" from the PDF finds it.
    f.setStyleStrategy(QFont::PreferNoShaping);
    return f;
}

double textHeight(const QString& s, const QFont& f, double width)
{
    if (s.isEmpty())
        return lineHeight(f);
    return QFontMetricsF(f).boundingRect(QRectF(0, 0, std::max(1.0, width), kUnbounded), kWrap, s).height();
}

std::vector<double> columnLefts(int count, double width, double spacing, double* columnWidth)
{
    std::vector<double> lefts;
    if (count <= 0) {
        if (columnWidth)
            *columnWidth = 0;
        return lefts;
    }
    const double w = std::max(0.0, (width - spacing * (count - 1)) / count);
    for (int i = 0; i < count; ++i)
        lefts.push_back(i * (w + spacing));
    if (columnWidth)
        *columnWidth = w;
    return lefts;
}

// ---- Stack ----------------------------------------------------------------------------------------

double Stack::height(double width) const
{
    double h = 0;
    for (const Block& b : children)
        h += b.height(width);
    if (children.size() > 1)
        h += spacing * static_cast<double>(children.size() - 1);
    return h;
}

void Stack::paint(QPainter& p, const QRectF& rect) const
{
    std::vector<double> heights;
    heights.reserve(children.size());
    int flexibleCount = 0;
    for (const Block& b : children) {
        heights.push_back(b.height(rect.width()));
        if (b.flexible)
            ++flexibleCount;
    }
    const double natural = height(rect.width());
    const double extra = flexibleCount > 0 ? std::max(0.0, rect.height() - natural) / flexibleCount : 0.0;
    double y = rect.top();
    for (std::size_t i = 0; i < children.size(); ++i) {
        const double h = heights[i] + (children[i].flexible ? extra : 0.0);
        children[i].paint(p, QRectF(rect.left(), y, rect.width(), h));
        y += h + spacing;
    }
}

Block Stack::asBlock() const
{
    const Stack copy = *this;
    const bool flexible = std::any_of(children.begin(), children.end(), [](const Block& b) { return b.flexible; });
    return {[copy](double w) { return copy.height(w); },
            [copy](QPainter& p, const QRectF& r) { copy.paint(p, r); }, flexible};
}

// ---- Blocks ---------------------------------------------------------------------------------------

Block text(const QString& s, const QFont& f, const QColor& color)
{
    return {[s, f](double w) { return textHeight(s, f, w); },
            [s, f, color](QPainter& p, const QRectF& r) {
                p.setFont(f);
                p.setPen(color);
                p.drawText(QRectF(r.left(), r.top(), r.width(), kUnbounded), kWrap, s);
            }};
}

Block paragraph(const QString& s, double size) { return text(s, font(size), DossierPalette::ink()); }

Block space(double height)
{
    return {[height](double) { return height; }, [](QPainter&, const QRectF&) {}};
}

Block flexibleSpace()
{
    return {[](double) { return 0.0; }, [](QPainter&, const QRectF&) {}, true};
}

Block divider()
{
    return {[](double) { return 1.0; },
            [](QPainter& p, const QRectF& r) { paintDivider(p, r.left(), r.right(), r.top()); }};
}

Block bar(double width, double height, const QColor& color)
{
    return {[height](double) { return height; },
            [width, height, color](QPainter& p, const QRectF& r) { p.fillRect(QRectF(r.left(), r.top(), width, height), color); }};
}

Block padded(Block block, double top, double bottom)
{
    auto inner = std::make_shared<Block>(std::move(block));
    return {[inner, top, bottom](double w) { return top + inner->height(w) + bottom; },
            [inner, top, bottom](QPainter& p, const QRectF& r) {
                inner->paint(p, r.adjusted(0, top, 0, -bottom));
            },
            inner->flexible};
}

namespace {
constexpr double kColumnSpacing = 8;
constexpr double kHeaderPad = 3;
constexpr double kRowPad = 4;
} // namespace

namespace {
// Where each column of a table starts and how wide it is: equal shares without weights.
std::vector<QRectF> columnSlots(int count, const QRectF& r, double lineTop, double lineHeight, const std::vector<double>& weights)
{
    std::vector<QRectF> slots;
    if (weights.size() != static_cast<std::size_t>(count)) {
        double cw = 0;
        for (double left : columnLefts(count, r.width(), kColumnSpacing, &cw))
            slots.emplace_back(r.left() + left, lineTop, cw, lineHeight);
        return slots;
    }
    double total = 0;
    for (double w : weights)
        total += w;
    const double room = std::max(0.0, r.width() - kColumnSpacing * (count - 1));
    double x = r.left();
    for (double w : weights) {
        const double cw = total > 0 ? room * w / total : 0;
        slots.emplace_back(x, lineTop, cw, lineHeight);
        x += cw + kColumnSpacing;
    }
    return slots;
}
} // namespace

Block tableHeader(const QStringList& titles, const std::vector<double>& weights)
{
    const QFont f = font(8, Weight::semibold);
    return {[f](double) { return lineHeight(f) + kHeaderPad; },
            [titles, f, weights](QPainter& p, const QRectF& r) {
                const double lh = lineHeight(f);
                const auto slots = columnSlots(static_cast<int>(titles.size()), r, r.top(), lh, weights);
                for (qsizetype i = 0; i < titles.size(); ++i)
                    drawLine(p, f, DossierPalette::mutedText(), slots[std::size_t(i)],
                             elided(titles[i], f, slots[std::size_t(i)].width()));
                // The 1-pt ink line lies along the bottom edge of the padded row.
                p.fillRect(QRectF(r.left(), r.top() + lh + kHeaderPad - 1.0, r.width(), 1.0), DossierPalette::ink());
            }};
}

Block tableRow(const QStringList& cells, const std::vector<double>& weights)
{
    const QFont f = font(9);
    return {[f](double) { return kRowPad + lineHeight(f) + kRowPad + 1.0; },
            [cells, f, weights](QPainter& p, const QRectF& r) {
                const double lh = lineHeight(f);
                const auto slots = columnSlots(static_cast<int>(cells.size()), r, r.top() + kRowPad, lh, weights);
                for (qsizetype i = 0; i < cells.size(); ++i)
                    drawLine(p, f, DossierPalette::ink(), slots[std::size_t(i)], elided(cells[i], f, slots[std::size_t(i)].width()));
                paintDivider(p, r.left(), r.right(), r.top() + kRowPad + lh + kRowPad);
            }};
}

Block factRow(const QString& label, const QString& value)
{
    const QFont lf = font(10);
    const QFont vf = font(11, Weight::medium);
    auto metrics = [lf, vf] {
        const QFontMetricsF l(lf), v(vf);
        return std::pair{std::max(l.ascent(), v.ascent()), std::max(l.descent(), v.descent())};
    };
    return {[metrics](double) {
                const auto [a, d] = metrics();
                return 6 + a + d + 6 + 1.0;
            },
            [label, value, lf, vf, metrics](QPainter& p, const QRectF& r) {
                const auto [a, d] = metrics();
                const double baseline = r.top() + 6 + a;
                const QFontMetricsF vm(vf);
                const double valueWidth = std::min(vm.horizontalAdvance(value), r.width() * 0.6);
                const QString shownValue = elided(value, vf, valueWidth + 0.5);
                p.setFont(vf);
                p.setPen(DossierPalette::ink());
                p.drawText(QPointF(r.right() - vm.horizontalAdvance(shownValue), baseline), shownValue);
                p.setFont(lf);
                p.setPen(DossierPalette::secondaryText());
                p.drawText(QPointF(r.left(), baseline), elided(label, lf, r.width() - valueWidth - 12));
                paintDivider(p, r.left(), r.right(), r.top() + 6 + a + d + 6);
            }};
}

Block numberedStep(int index, const QString& s)
{
    const QFont nf = font(11, Weight::semibold);
    const QFont tf = font(11);
    const QString number = QString::number(index + 1) + QLatin1Char('.');
    auto numberWidth = [nf, number] { return QFontMetricsF(nf).horizontalAdvance(number); };
    return {[tf, s, numberWidth](double w) { return textHeight(s, tf, w - numberWidth() - 10); },
            [nf, tf, s, number, numberWidth](QPainter& p, const QRectF& r) {
                const double nw = numberWidth();
                drawLine(p, nf, DossierPalette::mutedText(), QRectF(r.left(), r.top(), nw + 1, lineHeight(nf)), number,
                         Qt::AlignLeft | Qt::AlignTop);
                text(s, tf, DossierPalette::ink()).paint(p, QRectF(r.left() + nw + 10, r.top(), r.width() - nw - 10, r.height()));
            }};
}

Block calloutCard(const QString& title, const QStringList& paragraphs)
{
    Stack inner{6, {}};
    inner.add(text(title, font(10, Weight::semibold), DossierPalette::ink()));
    for (const QString& s : paragraphs)
        inner.add(text(s, font(10), DossierPalette::secondaryText()));
    constexpr double pad = 11;
    return {[inner](double w) { return pad + inner.height(w - 2 * pad) + pad; },
            [inner](QPainter& p, const QRectF& r) {
                p.fillRect(r, DossierPalette::panel());
                inner.paint(p, r.adjusted(pad, pad, -pad, -pad));
            }};
}

} // namespace dossier
} // namespace pv
