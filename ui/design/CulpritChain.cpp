#include "ui/design/CulpritChain.h"

#include "core/records/Localization.h"

#include <QHBoxLayout>
#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <limits>

namespace pv {

namespace {
constexpr int kSpacing = 8;
constexpr double kChevronPoints = 12;
int chevronSide() { return static_cast<int>(std::ceil(symbolBox(kChevronPoints))); }
} // namespace

bool PVCulpritChain::SegmentState::operator==(const SegmentState& o) const
{
    if (kind != o.kind)
        return false;
    switch (kind) {
    case Kind::suspect: return confidence == o.confidence;
    case Kind::faulty: return severity == o.severity;
    case Kind::unknown: return reason == o.reason;
    case Kind::clear:
    case Kind::notApplicable: return true;
    }
    return false;
}

// ---- Pure rules ---------------------------------------------------------------------------------

PVSegmentBadge segmentBadge(const PVSegmentState& state)
{
    using K = PVSegmentState::Kind;
    switch (state.kind) {
    case K::suspect: return {PVStatus::watch, L("Gyanús")};
    case K::faulty: return {state.severity, L("Ez a hibás")};
    case K::unknown: return {PVStatus::neutral, L("Nem mérhető")};
    case K::clear: return {PVStatus::good, L("Rendben")};
    case K::notApplicable: return {PVStatus::neutral, L("Nincs használatban")};
    }
    return {PVStatus::neutral, QString()};
}

double suspectBarFraction(double confidence)
{
    if (std::isnan(confidence))
        return 1.0;
    const double lower = std::max(confidence, 0.08);
    return lower >= 1.0 ? 1.0 : lower;
}

PVSegmentBar segmentBar(const PVSegmentState& state, PVCulprit culprit)
{
    using K = PVSegmentState::Kind;
    switch (state.kind) {
    case K::suspect:
        return {PVSegmentBarLayer::fill, suspectBarFraction(state.confidence), PVColor(culpritColor(culprit)).opacity(0.75)};
    case K::faulty: return {PVSegmentBarLayer::fill, 1.0, PVColor(culpritColor(culprit))};
    case K::unknown: return {PVSegmentBarLayer::hatch, 1.0, PVColor(PV::color::ink::quaternary)};
    case K::clear: return {PVSegmentBarLayer::fill, 1.0, PVColor(statusMark(PVStatus::good)).opacity(0.4)};
    case K::notApplicable: return {PVSegmentBarLayer::none, 0.0, PVColor::clear()};
    }
    return {};
}

long long suspectPercent(double confidence)
{
    const double hundredfold = confidence * 100.0;
    if (!std::isfinite(hundredfold))
        return 0;
    constexpr double limit = 9.2e18; // just inside the 64-bit range
    if (hundredfold >= limit)
        return std::numeric_limits<long long>::max();
    if (hundredfold <= -limit)
        return std::numeric_limits<long long>::min();
    return static_cast<long long>(hundredfold); // truncation toward zero
}

QString segmentPhrase(const PVSegmentState& state)
{
    using K = PVSegmentState::Kind;
    switch (state.kind) {
    case K::suspect: return LF("gyanús, %lld százalék bizonyossággal", {suspectPercent(state.confidence)});
    case K::faulty: return L("ez a hibás");
    case K::unknown: return LF("nem mérhető: %@", {state.reason});
    case K::clear: return L("rendben");
    case K::notApplicable: return L("nincs használatban");
    }
    return {};
}

QString segmentSpokenLabel(const PVSegment& segment)
{
    QStringList parts{segment.title, segmentPhrase(segment.state)};
    if (segment.caption)
        parts << *segment.caption;
    return parts.join(QStringLiteral(", "));
}

// ---- State bar ----------------------------------------------------------------------------------

PVSegmentStateBar::PVSegmentStateBar(const PVSegmentState& state, PVCulprit culprit, QWidget* parent)
    : QWidget(parent), state_(state), culprit_(culprit)
{
    setFixedHeight(4);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void PVSegmentStateBar::paintBar(QPainter& p, const QRectF& track, const PVSegmentState& state, PVCulprit culprit,
                                 const PVPaintContext& ctx)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    const double r = track.height() / 2.0;
    p.setPen(Qt::NoPen);
    p.setBrush(ctx.color(PV::color::surface::well));
    p.drawRoundedRect(track, r, r);
    const PVSegmentBar bar = segmentBar(state, culprit);
    if (bar.layer == PVSegmentBarLayer::fill) {
        p.setBrush(ctx.color(bar.color));
        p.drawRoundedRect(QRectF(track.left(), track.top(), track.width() * bar.fraction, track.height()), r, r);
    } else if (bar.layer == PVSegmentBarLayer::hatch) {
        QPainterPath capsule;
        capsule.addRoundedRect(track, r, r);
        p.setClipPath(capsule);
        QPen pen(ctx.color(bar.color), 2.0, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
        p.setPen(pen);
        p.setBrush(Qt::NoBrush);
        p.translate(track.topLeft());
        p.drawPath(hatchPath(track.width(), track.height()));
    }
    p.restore();
}

void PVSegmentStateBar::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    paintBar(p, QRectF(rect()), state_, culprit_, PVPaintContext::forWidget(this));
}

// ---- Segment card -------------------------------------------------------------------------------

PVSegmentCard::PVSegmentCard(const PVSegment& segment, bool accused, bool glowing, QWidget* parent)
    : QWidget(parent), segment_(segment), accused_(accused)
{
    auto* stack = new QVBoxLayout(this);
    const int pad = static_cast<int>(PV::space::s);
    stack->setContentsMargins(pad, pad, pad, pad);
    stack->setSpacing(static_cast<int>(PV::space::xs));
    auto* header = new QHBoxLayout();
    header->setSpacing(static_cast<int>(PV::space::xs));
    header->addWidget(new PVSymbolView(culpritSymbolName(segment.culprit), 18, culpritColor(segment.culprit),
                                       PVFontToken::cardTitle, this),
                      0, Qt::AlignVCenter);
    header->addStretch(1);
    const PVSegmentBadge badge = segmentBadge(segment.state);
    header->addWidget(new PVStatusBadge(badge.level, badge.word, true, this), 0, Qt::AlignVCenter);
    stack->addLayout(header);
    auto* texts = new QVBoxLayout();
    texts->setSpacing(static_cast<int>(PV::space::hair));
    texts->addWidget(new PVText(segment.title, PVFontToken::cardTitle, PV::color::ink::primary, this));
    if (segment.caption) {
        auto* caption = new PVText(*segment.caption, PVFontToken::caption, PV::color::ink::secondary, this);
        caption->setMaxLines(2);
        texts->addWidget(caption);
    }
    stack->addLayout(texts);
    stack->addWidget(new PVSegmentStateBar(segment.state, segment.culprit, this));
    stack->addStretch(1);
    setMinimumHeight(kMinimumHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Minimum);
    if (segmentOpacity(segment.state) < 1.0) {
        auto* dim = new QGraphicsOpacityEffect(this);
        dim->setOpacity(segmentOpacity(segment.state));
        setGraphicsEffect(dim);
    }
    glow_ = new PVConditionalGlow(this, glowing, culpritColor(segment.culprit), kRadius);
    setAccessibleName(segmentSpokenLabel(segment));
}

bool PVSegmentCard::isGlowing() const { return glow_->isActive(); }

void PVSegmentCard::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const PVPaintContext ctx = PVPaintContext::forWidget(this);
    // An accused segment is outlined in its culprit colour, 2 wide; the others in the border colour.
    pvPaintOutlinedRoundedRect(p, QRectF(rect()), kRadius, ctx.color(PV::color::surface::card),
                               ctx.color(accused_ ? culpritColor(segment_.culprit) : PV::color::line::border),
                               accused_ ? 2.0 : 1.0);
}

// ---- Chain --------------------------------------------------------------------------------------

PVCulpritChain::PVCulpritChain(std::vector<Segment> segments, std::optional<PVCulprit> accused, bool isIncidentLive,
                               QWidget* parent)
    : QWidget(parent)
{
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
    setChain(std::move(segments), accused, isIncidentLive);
}

void PVCulpritChain::setChain(std::vector<Segment> segments, std::optional<PVCulprit> accused, bool isIncidentLive)
{
    // Every published change passes the chain again: the same chain keeps its cards, so nothing is
    // laid out or repainted for it.
    if (segments == segments_ && accused == accused_ && isIncidentLive == live_)
        return;
    segments_ = std::move(segments);
    accused_ = accused;
    live_ = isIncidentLive;
    rebuild();
}

void PVCulpritChain::rebuild()
{
    // The old cards go at the next turn of the event loop; hidden now, no paint or layout before
    // that still sees them under the new ones.
    for (QWidget* c : cards_) {
        c->hide();
        c->deleteLater();
    }
    for (QWidget* c : chevrons_) {
        c->hide();
        c->deleteLater();
    }
    cards_.clear();
    chevrons_.clear();
    for (std::size_t i = 0; i < segments_.size(); ++i) {
        const Segment& s = segments_[i];
        const bool accusedHere = isAccused(s.culprit, accused_);
        auto* card = new PVSegmentCard(s, accusedHere, accusedHere && live_, this);
        card->show();
        cards_.push_back(card);
        if (i + 1 < segments_.size()) {
            auto* chevron = new PVSymbolView("chevron.compact.right", kChevronPoints, PV::color::ink::quaternary, this);
            chevron->show();
            chevrons_.push_back(chevron);
        }
    }
    updateGeometry();
    arrange(width());
}

QWidget* PVCulpritChain::card(std::size_t index) const { return index < cards_.size() ? cards_[index] : nullptr; }

int PVCulpritChain::rowWidth() const
{
    if (cards_.empty())
        return 0;
    int w = 0;
    for (QWidget* c : cards_)
        w += c->sizeHint().width();
    const int items = static_cast<int>(cards_.size() + chevrons_.size());
    w += static_cast<int>(chevrons_.size()) * chevronSide() + (items - 1) * kSpacing;
    return w;
}

int PVCulpritChain::arrangedHeight(int width, bool row) const
{
    if (cards_.empty())
        return 0;
    const int n = static_cast<int>(cards_.size());
    if (row) {
        const int available = width - static_cast<int>(chevrons_.size()) * chevronSide()
                              - (n + static_cast<int>(chevrons_.size()) - 1) * kSpacing;
        const int cardWidth = std::max(1, available / n);
        int h = 0;
        for (QWidget* c : cards_)
            h = std::max(h, std::max(PVSegmentCard::kMinimumHeight, c->heightForWidth(cardWidth)));
        return std::max(h, chevronSide());
    }
    int h = 0;
    for (QWidget* c : cards_)
        h += std::max(PVSegmentCard::kMinimumHeight, c->heightForWidth(width));
    h += static_cast<int>(chevrons_.size()) * chevronSide();
    h += (n + static_cast<int>(chevrons_.size()) - 1) * kSpacing;
    return h;
}

int PVCulpritChain::heightForWidth(int width) const { return arrangedHeight(width, width >= rowWidth()); }

QSize PVCulpritChain::sizeHint() const
{
    const int w = rowWidth();
    return {w, arrangedHeight(w, true)};
}

QSize PVCulpritChain::minimumSizeHint() const
{
    int w = 0;
    for (QWidget* c : cards_)
        w = std::max(w, c->minimumSizeHint().width());
    // The height follows the width (heightForWidth); the least it can be is one row of cards.
    return {w, cards_.empty() ? 0 : PVSegmentCard::kMinimumHeight};
}

void PVCulpritChain::resizeEvent(QResizeEvent* event)
{
    arrange(event->size().width());
    QWidget::resizeEvent(event);
}

void PVCulpritChain::arrange(int width)
{
    row_ = width >= rowWidth();
    const int n = static_cast<int>(cards_.size());
    if (n == 0)
        return;
    const int side = chevronSide();
    for (PVSymbolView* c : chevrons_)
        c->setSymbol(row_ ? "chevron.compact.right" : "chevron.compact.down");
    if (row_) {
        const int available = width - static_cast<int>(chevrons_.size()) * side
                              - (n + static_cast<int>(chevrons_.size()) - 1) * kSpacing;
        const int cardWidth = std::max(1, available / n);
        const int rowHeight = arrangedHeight(width, true);
        int x = 0;
        for (int i = 0; i < n; ++i) {
            const int h = std::max(PVSegmentCard::kMinimumHeight, cards_[static_cast<std::size_t>(i)]->heightForWidth(cardWidth));
            cards_[static_cast<std::size_t>(i)]->setGeometry(x, (rowHeight - h) / 2, cardWidth, h);
            x += cardWidth + kSpacing;
            if (i + 1 < n) {
                chevrons_[static_cast<std::size_t>(i)]->setGeometry(x, (rowHeight - side) / 2, side, side);
                x += side + kSpacing;
            }
        }
    } else {
        int y = 0;
        for (int i = 0; i < n; ++i) {
            const int h = std::max(PVSegmentCard::kMinimumHeight, cards_[static_cast<std::size_t>(i)]->heightForWidth(width));
            cards_[static_cast<std::size_t>(i)]->setGeometry(0, y, width, h);
            y += h + kSpacing;
            if (i + 1 < n) {
                chevrons_[static_cast<std::size_t>(i)]->setGeometry((width - side) / 2, y, side, side);
                y += side + kSpacing;
            }
        }
    }
}

} // namespace pv
