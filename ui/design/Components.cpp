#include "ui/design/Components.h"

#include "core/records/Localization.h"

#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QLinearGradient>
#include <QPaintEvent>
#include <QPainter>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

namespace pv {

// ---- Pure geometry and texts --------------------------------------------------------------------

PVSparklineGeometry sparklineGeometry(const std::vector<double>& samples, double width, double height,
                                      bool anchoredToZero)
{
    PVSparklineGeometry g;
    const std::size_t n = samples.size();
    // A value that is not a number is a break: it keeps its place along the line, and the scale is
    // made of the numbers alone.
    std::optional<double> lo, hi;
    for (double v : samples)
        if (std::isfinite(v)) {
            lo = lo ? std::min(*lo, v) : v;
            hi = hi ? std::max(*hi, v) : v;
        }
    if (lo) {
        g.floor = anchoredToZero ? 0.0 : *lo;
        g.ceiling = *hi;
    } else {
        g.floor = 0.0;
        g.ceiling = 1.0;
    }
    const double range = g.ceiling - g.floor;
    g.divisor = range <= 0.0001 ? 0.0001 : range;
    g.step = n >= 2 ? width / static_cast<double>(n - 1) : 0.0;
    g.points.reserve(n);
    for (std::size_t i = 0; i < n; ++i)
        g.points.emplace_back(g.step * static_cast<double>(i),
                              std::isfinite(samples[i]) ? height - ((samples[i] - g.floor) / g.divisor) * height
                                                        : std::numeric_limits<double>::quiet_NaN());
    return g;
}

bool sameSparklineSamples(const std::vector<double>& a, const std::vector<double>& b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](double x, double y) { return x == y || (std::isnan(x) && std::isnan(y)); });
}

bool PVStatTileData::operator==(const PVStatTileData& o) const
{
    return label == o.label && value == o.value && unit == o.unit && caption == o.caption && tint == o.tint &&
           status == o.status && sameSparklineSamples(samples, o.samples) &&
           sparklineAnchoredToZero == o.sparklineAnchoredToZero;
}

namespace {
// The runs of drawable points between breaks, each as [first, last).
std::vector<std::pair<std::size_t, std::size_t>> sparklineRuns(const PVSparklineGeometry& g)
{
    std::vector<std::pair<std::size_t, std::size_t>> runs;
    std::size_t i = 0;
    while (i < g.points.size()) {
        while (i < g.points.size() && !std::isfinite(g.points[i].y()))
            ++i;
        const std::size_t first = i;
        while (i < g.points.size() && std::isfinite(g.points[i].y()))
            ++i;
        if (i > first)
            runs.emplace_back(first, i);
    }
    return runs;
}
} // namespace

QPainterPath sparklineLinePath(const PVSparklineGeometry& g)
{
    QPainterPath path;
    for (const auto& [first, last] : sparklineRuns(g)) {
        path.moveTo(g.points[first]);
        for (std::size_t i = first + 1; i < last; ++i)
            path.lineTo(g.points[i]);
    }
    return path;
}

QPainterPath sparklineAreaPath(const PVSparklineGeometry& g, double height)
{
    QPainterPath path;
    for (const auto& [first, last] : sparklineRuns(g)) {
        path.moveTo(g.points[first].x(), height);
        for (std::size_t i = first; i < last; ++i)
            path.lineTo(g.points[i]);
        path.lineTo(g.points[last - 1].x(), height);
        path.closeSubpath();
    }
    return path;
}

std::vector<QLineF> hatchLines(double width, double height)
{
    std::vector<QLineF> lines;
    if (!(width > 0) || !(height >= 0))
        return lines;
    for (double x = -height; x < width; x += 6.0)
        lines.emplace_back(QPointF(x, height), QPointF(x + height, 0.0));
    return lines;
}

QPainterPath hatchPath(double width, double height)
{
    QPainterPath path;
    for (const QLineF& l : hatchLines(width, height)) {
        path.moveTo(l.p1());
        path.lineTo(l.p2());
    }
    return path;
}

QColor conditionalGlowColor(bool active, const QColor& tint, PVDepthStyle depth)
{
    if (!active || depth != PVDepthStyle::luminous)
        return QColor(Qt::transparent);
    QColor c = tint;
    c.setAlphaF(static_cast<float>(tint.alphaF() * 0.35));
    return c;
}

QString heroAccessibleLabel(const QString& headline, const QString& explanation)
{
    return LF("%1$@. %2$@", {headline, explanation});
}

QString adviceNumberText(int index) { return QString::number(index + 1) + QLatin1Char('.'); }

// ---- Conditional glow ---------------------------------------------------------------------------

PVConditionalGlow::PVConditionalGlow(QWidget* target, bool active, const PVColor& tint, double cornerRadius)
    : PVDecoration(target), active_(active), tint_(tint), cornerRadius_(cornerRadius)
{
}

void PVConditionalGlow::setActive(bool active)
{
    if (active == active_)
        return;
    active_ = active;
    requestRepaint();
}

void PVConditionalGlow::setTint(const PVColor& tint)
{
    tint_ = tint;
    requestRepaint();
}

QMarginsF PVConditionalGlow::reach(const PVPaintContext&) const
{
    const double r = shadowReach(16);
    return {r, r, r, r};
}

bool PVConditionalGlow::active(const PVPaintContext& ctx) const
{
    return conditionalGlowColor(active_, ctx.color(tint_), ctx.depth).alpha() > 0;
}

void PVConditionalGlow::paint(QPainter& p, const QRectF& anchorRect, const PVPaintContext& ctx) const
{
    pvPaintShadow(p, anchorRect, cornerRadius_, conditionalGlowColor(active_, ctx.color(tint_), ctx.depth), 16);
}

// ---- Status badge -------------------------------------------------------------------------------

PVStatusBadge::PVStatusBadge(PVStatus level, const QString& word, bool compact, QWidget* parent)
    : QWidget(parent), level_(level), word_(word), compact_(compact)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setAccessibleName(word_);
    connect(&PVTheme::instance(), &PVTheme::changed, this, [this] { updateGeometry(); });
}

void PVStatusBadge::setLevel(PVStatus level)
{
    level_ = level;
    update();
}

void PVStatusBadge::setWord(const QString& word)
{
    word_ = word;
    setAccessibleName(word_);
    updateGeometry();
    update();
}

QSizeF PVStatusBadge::measure(const QString& word, bool compact)
{
    const PVBadgeMetrics m = badgeMetrics(compact);
    const QFontMetricsF fm(pvFont(m.token));
    const double box = symbolBox(m.symbolPoints);
    const double w = m.paddingH * 2 + box + m.spacing + fm.horizontalAdvance(word);
    const double h = std::max(box, fm.height()) + m.paddingV * 2;
    return {std::ceil(w), std::ceil(h)};
}

QSize PVStatusBadge::sizeHint() const { return measure(word_, compact_).toSize(); }

void PVStatusBadge::paintBadge(QPainter& p, const QRectF& rect, PVStatus level, const QString& word, bool compact,
                               const PVPaintContext& ctx)
{
    const PVBadgeMetrics m = badgeMetrics(compact);
    const QFont font = pvFont(m.token);
    const QFontMetricsF fm(font);
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    pvPaintOutlinedRoundedRect(p, rect, rect.height() / 2.0, ctx.color(statusWash(level)), ctx.color(statusBorder(level)), 1.0);
    const double box = symbolBox(m.symbolPoints);
    const QRectF symbol(rect.left() + m.paddingH, rect.center().y() - box / 2.0, box, box);
    pvPaintSymbol(p, symbol, statusSymbolName(level), ctx.color(statusMarkSaturated(level)));
    p.setFont(font);
    p.setPen(ctx.color(PV::color::ink::primary));
    const double baseline = rect.center().y() + (fm.ascent() - fm.descent()) / 2.0;
    p.drawText(QPointF(symbol.right() + m.spacing, baseline), word);
    p.restore();
}

void PVStatusBadge::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const QSizeF size = measure(word_, compact_);
    const QRectF r(0, (height() - size.height()) / 2.0, std::min<double>(width(), size.width()), size.height());
    paintBadge(p, r, level_, word_, compact_, PVPaintContext::forWidget(this));
}

// ---- Section card -------------------------------------------------------------------------------

PVSectionCard::PVSectionCard(const QString& title, const std::optional<QString>& subtitle, QWidget* parent)
    : PVCardFrame(PVElevation::e1, PV::radius::card, false, parent)
{
    stack_ = new QVBoxLayout(this);
    const int pad = static_cast<int>(PV::space::ml);
    stack_->setContentsMargins(pad, pad, pad, pad);
    stack_->setSpacing(static_cast<int>(PV::space::s));
    titleRow_ = new QHBoxLayout();
    titleRow_->setSpacing(0);
    auto* titles = new QVBoxLayout();
    titles->setSpacing(static_cast<int>(PV::space::hair));
    title_ = new PVText(title, PVFontToken::sectionTitle, PV::color::ink::primary, this);
    subtitle_ = new PVText(subtitle.value_or(QString()), PVFontToken::caption, PV::color::ink::tertiary, this);
    subtitle_->setVisible(subtitle.has_value());
    titles->addWidget(title_);
    titles->addWidget(subtitle_);
    titleRow_->addLayout(titles, 1);
    titleRow_->addSpacerItem(new QSpacerItem(static_cast<int>(PV::space::s), 0, QSizePolicy::Minimum, QSizePolicy::Minimum));
    stack_->addLayout(titleRow_);
}

void PVSectionCard::setAccessory(QWidget* accessory)
{
    if (accessory_ != nullptr) {
        titleRow_->removeWidget(accessory_);
        accessory_->deleteLater();
    }
    accessory_ = accessory;
    if (accessory_ != nullptr) {
        accessory_->setParent(this);
        titleRow_->addWidget(accessory_, 0, Qt::AlignTop);
        accessory_->show();
    }
}

void PVSectionCard::addContent(QWidget* content) { stack_->addWidget(content); }

void PVSectionCard::setTitle(const QString& title) { title_->setText(title); }

void PVSectionCard::setSubtitle(const std::optional<QString>& subtitle)
{
    subtitle_->setText(subtitle.value_or(QString()));
    subtitle_->setVisible(subtitle.has_value());
}

// ---- Sparkline ----------------------------------------------------------------------------------

PVSparkline::PVSparkline(std::vector<double> samples, const PVColor& tint, bool anchoredToZero, QWidget* parent)
    : QWidget(parent), samples_(std::move(samples)), tint_(tint), anchored_(anchoredToZero)
{
    setFixedHeight(26 + 2 * kStrokeRoom);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void PVSparkline::setSamples(std::vector<double> samples)
{
    if (sameSparklineSamples(samples, samples_))
        return;
    samples_ = std::move(samples);
    cache_ = QImage();
    update();
}

void PVSparkline::setTint(const PVColor& tint)
{
    if (tint == tint_)
        return;
    tint_ = tint;
    update();
}

void PVSparkline::paintSparkline(QPainter& p, const QRectF& box, const std::vector<double>& samples, const QColor& tint,
                                 bool anchoredToZero)
{
    const PVSparklineGeometry g = sparklineGeometry(samples, box.width(), box.height(), anchoredToZero);
    if (g.points.empty())
        return;
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.translate(box.topLeft());
    QLinearGradient fill(0, 0, 0, box.height());
    QColor top = tint;
    top.setAlphaF(static_cast<float>(tint.alphaF() * 0.28));
    QColor bottom = tint;
    bottom.setAlphaF(0.0f);
    fill.setColorAt(0, top);
    fill.setColorAt(1, bottom);
    p.fillPath(sparklineAreaPath(g, box.height()), fill);
    QPen pen(tint, 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawPath(sparklineLinePath(g));
    p.restore();
}

void PVSparkline::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const QRectF box(kStrokeRoom, kStrokeRoom, width() - 2 * kStrokeRoom, height() - 2 * kStrokeRoom);
    const QColor tint = PVPaintContext::forWidget(this).color(tint_);
    const qreal ratio = devicePixelRatioF();
    if (cache_.size() != size() * ratio || cache_.devicePixelRatio() != ratio || cachedTint_ != tint) {
        cache_ = QImage(size() * ratio, QImage::Format_ARGB32_Premultiplied);
        cache_.setDevicePixelRatio(ratio);
        cache_.fill(Qt::transparent);
        QPainter ip(&cache_);
        paintSparkline(ip, box, samples_, tint, anchored_);
        cachedTint_ = tint;
    }
    p.drawImage(QPointF(0, 0), cache_);
}

// ---- Stat tile ----------------------------------------------------------------------------------

class PVTintDot : public QWidget {
public:
    explicit PVTintDot(QWidget* parent) : QWidget(parent) { setFixedSize(8, 8); }
    void setTint(const PVColor& tint)
    {
        tint_ = tint;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(PVPaintContext::forWidget(this).color(tint_));
        p.drawEllipse(QRectF(0, 0, 8, 8));
    }

private:
    PVColor tint_;
};

// The figure and its unit, sharing one baseline.
class PVFigureRow : public QWidget {
public:
    explicit PVFigureRow(QWidget* parent) : QWidget(parent)
    {
        setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
        connect(&PVTheme::instance(), &PVTheme::changed, this, [this] { updateGeometry(); });
    }
    void setTexts(const QString& value, const std::optional<QString>& unit)
    {
        value_ = value;
        unit_ = unit.has_value() ? std::optional<QString>(unit->toUpper()) : std::nullopt;
        updateGeometry();
        update();
    }
    QSize sizeHint() const override
    {
        const QFontMetricsF big(pvFont(PVFontToken::tileNumber));
        const QFontMetricsF small(pvFont(PVFontToken::microCaption));
        double w = big.horizontalAdvance(value_);
        if (unit_)
            w += 4 + small.horizontalAdvance(*unit_);
        return {static_cast<int>(std::ceil(w)) + 1, static_cast<int>(std::ceil(big.height()))};
    }
    QSize minimumSizeHint() const override { return {0, sizeHint().height()}; }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::TextAntialiasing);
        const PVPaintContext ctx = PVPaintContext::forWidget(this);
        const QFont bigFont = pvFont(PVFontToken::tileNumber);
        const QFontMetricsF big(bigFont);
        const double baseline = big.ascent();
        p.setFont(bigFont);
        p.setPen(ctx.color(PV::color::ink::primary));
        p.drawText(QPointF(0, baseline), value_);
        if (unit_) {
            const QFont smallFont = pvFont(PVFontToken::microCaption);
            p.setFont(smallFont);
            p.setPen(ctx.color(PV::color::ink::tertiary));
            p.drawText(QPointF(big.horizontalAdvance(value_) + 4, baseline), *unit_);
        }
    }

private:
    QString value_;
    std::optional<QString> unit_;
};

PVStatTile::PVStatTile(const PVStatTileData& data, QWidget* parent) : QWidget(parent)
{
    auto* stack = new QVBoxLayout(this);
    const int pad = static_cast<int>(PV::space::s);
    stack->setContentsMargins(pad, pad, pad, pad);
    stack->setSpacing(static_cast<int>(PV::space::xxs));
    auto* labelRow = new QHBoxLayout();
    labelRow->setSpacing(static_cast<int>(PV::space::xs));
    dot_ = new PVTintDot(this);
    label_ = new PVText(QString(), PVFontToken::cardTitle, PV::color::ink::secondary, this);
    statusSymbol_ = new PVSymbolView("pause.circle.fill", 11, PV::color::ink::tertiary, this);
    labelRow->addWidget(dot_, 0, Qt::AlignVCenter);
    labelRow->addWidget(label_, 1, Qt::AlignVCenter);
    labelRow->addWidget(statusSymbol_, 0, Qt::AlignVCenter);
    stack->addLayout(labelRow);
    figure_ = new PVFigureRow(this);
    stack->addWidget(figure_);
    // The sparkline sits 2 below the figure row; one of those is the stroke room of the sparkline.
    sparkline_ = new PVSparkline({}, PV::color::ink::tertiary, false, this);
    auto* sparkRow = new QVBoxLayout();
    sparkRow->setContentsMargins(0, 2 - PVSparkline::kStrokeRoom, 0, 0);
    sparkRow->addWidget(sparkline_);
    stack->addLayout(sparkRow);
    caption_ = new PVText(QString(), PVFontToken::caption, PV::color::ink::tertiary, this);
    stack->addWidget(caption_);
    stack->addStretch(1);
    setMinimumHeight(kMinimumHeight);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Minimum);
    setData(data);
}

bool PVStatTile::setData(const PVStatTileData& data)
{
    if (applied_ && data == data_)
        return false;
    applied_ = true;
    data_ = data;
    dot_->setTint(data_.tint);
    label_->setText(data_.label);
    statusSymbol_->setVisible(data_.status.has_value());
    if (data_.status) {
        statusSymbol_->setSymbol(statusSymbolName(*data_.status));
        statusSymbol_->setTint(statusMarkSaturated(*data_.status));
    }
    figure_->setTexts(data_.value, data_.unit);
    sparkline_->setVisible(statTileShowsSparkline(data_.samples.size()));
    sparkline_->setSamples(data_.samples);
    sparkline_->setTint(data_.tint);
    caption_->setText(data_.caption.value_or(QString()));
    caption_->setVisible(data_.caption.has_value());
    // The tile reads as one element: label, value, unit and caption.
    QStringList parts{data_.label, data_.value};
    if (data_.unit)
        parts << *data_.unit;
    if (data_.caption)
        parts << *data_.caption;
    setAccessibleName(parts.join(QLatin1Char(' ')));
    updateGeometry();
    update();
    return true;
}

bool PVStatTile::showsSparkline() const { return !sparkline_->isHidden(); }

void PVStatTile::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(PVPaintContext::forWidget(this).color(PV::color::surface::well));
    p.drawRoundedRect(QRectF(rect()), PV::radius::field, PV::radius::field);
}

// ---- Verdict hero -------------------------------------------------------------------------------

PVVerdictHero::PVVerdictHero(PVStatus level, const QString& headline, const QString& explanation, bool isLive,
                             const QString& liveLabel, QWidget* parent)
    : PVCardFrame(PVElevation::e2, PV::radius::hero, true, parent)
{
    auto* row = new QHBoxLayout(this);
    const int pad = static_cast<int>(PV::space::l);
    row->setContentsMargins(pad, pad, pad, pad);
    row->setSpacing(static_cast<int>(PV::space::l));
    halo_ = new PVStatusHalo(level, isLive, 56, this);
    row->addWidget(halo_, 0, Qt::AlignTop);
    auto* texts = new QVBoxLayout();
    texts->setSpacing(static_cast<int>(PV::space::xs));
    headline_ = new PVText(headline, PVFontToken::heroHeadline, PV::color::ink::primary, this);
    explanation_ = new PVText(explanation, PVFontToken::callout, PV::color::ink::secondary, this);
    texts->addWidget(headline_);
    texts->addWidget(explanation_);
    liveRow_ = new QWidget(this);
    auto* liveLayout = new QVBoxLayout(liveRow_);
    liveLayout->setContentsMargins(0, static_cast<int>(PV::space::xxs), 0, 0);
    live_ = new PVLiveIndicator(statusMark(level), liveLabel, liveRow_);
    liveLayout->addWidget(live_);
    texts->addWidget(liveRow_);
    row->addLayout(texts, 1);
    row->addStretch(0);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Minimum);
    setState(level, headline, explanation, isLive, liveLabel);
}

void PVVerdictHero::setState(PVStatus level, const QString& headline, const QString& explanation, bool isLive,
                             const QString& liveLabel)
{
    halo_->setLevel(level);
    halo_->setLive(isLive);
    headline_->setText(headline);
    explanation_->setText(explanation);
    live_->setTint(statusMark(level));
    live_->setLabel(liveLabel);
    liveRow_->setVisible(isLive);
    setAccessibleName(heroAccessibleLabel(headline, explanation));
}

// ---- Advice card --------------------------------------------------------------------------------

PVAdviceCard::PVAdviceCard(const QString& title, const QStringList& steps, QWidget* parent) : QWidget(parent)
{
    auto* stack = new QVBoxLayout(this);
    const int pad = static_cast<int>(PV::space::s);
    stack->setContentsMargins(pad, pad, pad, pad);
    stack->setSpacing(static_cast<int>(PV::space::s));
    auto* header = new QHBoxLayout();
    header->setSpacing(static_cast<int>(PV::space::xs));
    header->addWidget(new PVSymbolView("lightbulb.fill", 13, statusMarkSaturated(PVStatus::watch), this), 0,
                      Qt::AlignVCenter);
    title_ = new PVText(title, PVFontToken::cardTitle, PV::color::ink::primary, this);
    header->addWidget(title_, 1, Qt::AlignVCenter);
    stack->addLayout(header);
    steps_ = new QVBoxLayout();
    steps_->setSpacing(static_cast<int>(PV::space::xs));
    stack->addLayout(steps_);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Minimum);
    rebuildSteps(steps);
}

int PVAdviceCard::numberColumnWidthFor(int stepCount, const QFont& font)
{
    const QFontMetricsF fm(font);
    double widest = 0;
    for (int i = 0; i < stepCount; ++i)
        widest = std::max(widest, fm.horizontalAdvance(adviceNumberText(i)));
    // The column is 16 wide; a number that would not fit widens it rather than being cut.
    return std::max(16, static_cast<int>(std::ceil(widest)));
}

void PVAdviceCard::setAdvice(const QString& title, const QStringList& steps)
{
    title_->setText(title);
    // The screens pass the advice on every render; the same steps keep their rows.
    if (steps != shownSteps_)
        rebuildSteps(steps);
}

void PVAdviceCard::rebuildSteps(const QStringList& steps)
{
    while (QLayoutItem* item = steps_->takeAt(0)) {
        if (QLayout* l = item->layout()) {
            while (QLayoutItem* inner = l->takeAt(0)) {
                delete inner->widget();
                delete inner;
            }
        }
        delete item;
    }
    stepViews_.clear();
    numberWidth_ = numberColumnWidthFor(static_cast<int>(steps.size()), pvFont(PVFontToken::caption));
    for (int i = 0; i < steps.size(); ++i) {
        auto* row = new QHBoxLayout();
        row->setSpacing(static_cast<int>(PV::space::xs));
        auto* number = new PVText(adviceNumberText(i), PVFontToken::caption, PV::color::ink::tertiary, this);
        number->setWrapping(false);
        number->setHorizontalAlignment(Qt::AlignRight);
        number->setFixedWidth(numberWidth_);
        auto* text = new PVText(steps[i], PVFontToken::body, PV::color::ink::secondary, this);
        row->addWidget(number, 0, Qt::AlignTop);
        row->addWidget(text, 1, Qt::AlignTop);
        steps_->addLayout(row);
        // A layout shows the widgets it adopts into a shown card only on a later turn of the event
        // loop, after it has laid the card out without them: shown now, they are there in the
        // layout that follows this change and in the first paint.
        number->show();
        text->show();
        stepViews_.push_back(text);
    }
    shownSteps_ = steps;
    updateGeometry();
}

void PVAdviceCard::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const PVPaintContext ctx = PVPaintContext::forWidget(this);
    pvPaintOutlinedRoundedRect(p, QRectF(rect()), PV::radius::field,
                               ctx.color(PVColor(statusWash(PVStatus::watch)).opacity(0.6)),
                               ctx.color(statusBorder(PVStatus::watch)), 1.0);
}

} // namespace pv
