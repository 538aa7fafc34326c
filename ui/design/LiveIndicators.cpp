#include "ui/design/LiveIndicators.h"

#include "ui/design/Symbols.h"

#include <QBackingStore>
#include <QCache>
#include <QPaintEngine>
#include <QEvent>
#include <QHBoxLayout>
#include <QPaintEvent>
#include <QPainter>
#include <QRadialGradient>
#include <QTimer>
#include <QElapsedTimer>
#include <QWindow>

#include <algorithm>
#include <cmath>
#include <optional>
#include <vector>

namespace pv {

// ---- Pure rules ---------------------------------------------------------------------------------

PVHaloStyle haloStyle(PVDepthStyle depth, bool isLive)
{
    PVHaloStyle s;
    if (depth == PVDepthStyle::luminous) {
        s.glow = isLive;
        s.ringWidth = PV::glow::darkBorderWidth;
        s.shadowInMark = true;
        s.shadowOpacity = isLive ? PV::glow::shadowOpacityDark : 0.0;
        s.shadowRadius = PV::glow::shadowRadius;
        s.shadowY = 0;
        s.symbolSaturated = false;
    } else {
        s.glow = false;
        s.ringWidth = PV::glow::lightBorderWidth;
        s.shadowInMark = false;
        s.shadowOpacity = PV::glow::lightShadowOpacity;
        s.shadowRadius = 10;
        s.shadowY = 3;
        s.symbolSaturated = true;
    }
    return s;
}

std::array<PVGradientStop, 3> incidentBorderStops(double phase, PVDepthStyle depth)
{
    constexpr double dim = 0.2;
    const double peak = depth == PVDepthStyle::luminous ? PV::glow::rimOpacityDark : PV::glow::rimOpacityLight;
    const double bright = std::clamp(phase, 0.001, 0.999);
    const double lead = phase - 0.28;
    const double trail = phase + 0.28;
    // Beyond a corner the fading stop has passed the clamped bright one: the highlight is outside.
    if (trail <= bright || lead >= bright || std::isnan(phase))
        return {{{0.0, dim}, {bright, dim}, {1.0, dim}}};
    return {{{std::max(lead, 0.0), dim}, {bright, peak}, {std::min(trail, 1.0), dim}}};
}

double autoreverse(double t)
{
    t = t - std::floor(t);
    return t < 0.5 ? 2.0 * t : 2.0 - 2.0 * t;
}

double easeInOut(double x)
{
    x = std::clamp(x, 0.0, 1.0);
    return x * x * (3.0 - 2.0 * x);
}

PVPulseLevels liveIndicatorLevels(double pulse)
{
    pulse = std::clamp(pulse, 0.0, 1.0);
    return {0.55 + (1.0 - 0.55) * pulse, 0.35 + (0.9 - 0.35) * pulse};
}

double loopPosition(double elapsedMs, double halfPeriodMs, bool eased)
{
    const double there = autoreverse(elapsedMs / (2.0 * halfPeriodMs));
    return eased ? easeInOut(there) : there;
}

int nextFrameDelayMs(double elapsedMs, double halfPeriodMs, bool eased, const PVFramePacing& pacing)
{
    constexpr int kSearchStepMs = 2;
    const double from = loopPosition(elapsedMs, halfPeriodMs, eased);
    // The next turning point, where the loop is at 0 or 1.
    const double turn = (std::floor(elapsedMs / halfPeriodMs + 1e-9) + 1.0) * halfPeriodMs;
    for (int d = pacing.minFrameMs; d <= pacing.maxFrameMs; d += kSearchStepMs) {
        if (elapsedMs + d >= turn)
            return std::max(pacing.minFrameMs, static_cast<int>(std::ceil(turn - elapsedMs)));
        if (std::abs(loopPosition(elapsedMs + d, halfPeriodMs, eased) - from) >= pacing.step)
            return d;
    }
    return pacing.maxFrameMs;
}

// ---- The frame driver ---------------------------------------------------------------------------

// One timer for every loop animation: it wakes at the earliest frame due and paints every frame due
// within a short while of it in the same pass, so the window is repainted and flushed once for all
// of them. It does not run while no animation does.
class PVFrameDriver : public QObject {
public:
    static PVFrameDriver& instance()
    {
        static auto* driver = new PVFrameDriver();
        return *driver;
    }
    qint64 now() const { return clock_.elapsed(); }

    void add(PVLoopAnimation* a, qint64 due)
    {
        due_.erase(std::remove_if(due_.begin(), due_.end(), [a](const Entry& e) { return e.animation == a; }),
                   due_.end());
        due_.push_back({a, due});
        rearm();
    }
    void remove(PVLoopAnimation* a)
    {
        due_.erase(std::remove_if(due_.begin(), due_.end(), [a](const Entry& e) { return e.animation == a; }),
                   due_.end());
        rearm();
    }
    struct Entry {
        PVLoopAnimation* animation;
        qint64 due;
    };
    // A running loop with the same period and curve: a new one takes its origin and its next frame
    // time, and from then on paints its frames in the same passes.
    std::optional<Entry> twinOf(const PVLoopAnimation* a) const
    {
        for (const Entry& e : due_)
            if (e.animation != a && e.animation->halfPeriodMs() == a->halfPeriodMs() &&
                e.animation->eased() == a->eased())
                return e;
        return std::nullopt;
    }

private:
    // Frames due this close to the earliest are painted with it.
    static constexpr qint64 kGatherMs = 20;

    PVFrameDriver()
    {
        clock_.start();
        timer_.setSingleShot(true);
        timer_.setTimerType(Qt::PreciseTimer);
        connect(&timer_, &QTimer::timeout, this, [this] { fire(); });
    }
    void fire()
    {
        const qint64 t = now();
        // A frame may stop an animation or start another: work on a copy, and look each one up again.
        const std::vector<Entry> due = due_;
        for (const Entry& e : due) {
            if (e.due > t + kGatherMs)
                continue;
            auto it = std::find_if(due_.begin(), due_.end(), [&](const Entry& x) { return x.animation == e.animation; });
            if (it == due_.end())
                continue;
            const qint64 next = e.animation->frame(t);
            it = std::find_if(due_.begin(), due_.end(), [&](const Entry& x) { return x.animation == e.animation; });
            if (it != due_.end())
                it->due = next;
        }
        rearm();
    }
    void rearm()
    {
        if (due_.empty()) {
            timer_.stop();
            return;
        }
        qint64 earliest = due_.front().due;
        for (const Entry& e : due_)
            earliest = std::min(earliest, e.due);
        timer_.start(static_cast<int>(std::clamp<qint64>(earliest - now(), 0, 60'000)));
    }
    QElapsedTimer clock_;
    QTimer timer_;
    std::vector<Entry> due_;
};

// ---- PVLoopAnimation ----------------------------------------------------------------------------

namespace {
// While its widget is out of sight (scrolled away, window not exposed) a loop only looks this often
// whether it is back.
constexpr qint64 kOutOfSightPollMs = 300;

bool onScreen(const QWidget* w)
{
    const QWidget* top = w->window();
    if (top->isMinimized())
        return false;
    if (const QWindow* handle = top->windowHandle(); handle != nullptr && !handle->isExposed())
        return false;
    // What is left of the widget inside each of its ancestors (a scroll area's viewport cuts it).
    QRect r = w->rect();
    for (const QWidget* child = w; child != top && !r.isEmpty(); child = child->parentWidget()) {
        r.translate(child->pos());
        r &= child->parentWidget()->rect();
    }
    return !r.isEmpty();
}
} // namespace

PVLoopAnimation::PVLoopAnimation(QWidget* owner, double halfPeriodMs, bool eased, const PVFramePacing& pacing)
    : QObject(owner), owner_(owner), halfPeriodMs_(halfPeriodMs), eased_(eased), pacing_(pacing)
{
    owner_->installEventFilter(this);
    connect(&PVTheme::instance(), &PVTheme::changed, this, [this] { evaluate(); });
}

PVLoopAnimation::~PVLoopAnimation() { PVFrameDriver::instance().remove(this); }

qint64 PVLoopAnimation::frame(qint64 nowMs)
{
    const double elapsed = static_cast<double>(nowMs - originMs_);
    painting_ = onScreen(owner_);
    if (!painting_)
        return nowMs + kOutOfSightPollMs;
    position_ = loopPosition(elapsed, halfPeriodMs_, eased_);
    Q_EMIT positionChanged(position_);
    return nowMs + nextFrameDelayMs(elapsed, halfPeriodMs_, eased_, pacing_);
}

bool PVLoopAnimation::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == owner_ && (event->type() == QEvent::Show || event->type() == QEvent::Hide))
        // A minimised window hides its widgets spontaneously and keeps them "visible".
        evaluate(event->type() == QEvent::Hide && event->spontaneous());
    return QObject::eventFilter(watched, event);
}

void PVLoopAnimation::stop()
{
    running_ = false;
    painting_ = false;
    PVFrameDriver::instance().remove(this);
}

void PVLoopAnimation::evaluate(bool spontaneouslyHidden)
{
    if (!owner_->isVisible() || spontaneouslyHidden) {
        stop();
        return;
    }
    if (PVTheme::instance().reduceMotion()) {
        stop();
        position_ = still_;
        Q_EMIT positionChanged(position_);
        return;
    }
    if (running_)
        return;
    PVFrameDriver& driver = PVFrameDriver::instance();
    const qint64 now = driver.now();
    const auto twin = driver.twinOf(this);
    originMs_ = twin ? twin->animation->originMs_ : now;
    running_ = true;
    painting_ = true;
    position_ = loopPosition(static_cast<double>(now - originMs_), halfPeriodMs_, eased_);
    driver.add(this, twin ? twin->due : now);
}

// ---- Status halo --------------------------------------------------------------------------------

namespace {

QImage haloGlowImage(double diameter, const QColor& mark)
{
    static QCache<QString, QImage> cache(64);
    const QString key = QStringLiteral("%1:%2").arg(diameter).arg(mark.rgba(), 8, 16);
    if (QImage* hit = cache.object(key))
        return *hit;
    const double frame = diameter * 2.8;
    const double reach = shadowReach(PV::glow::haloRadius);
    const int side = static_cast<int>(std::ceil(frame + 2 * reach));
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        const QPointF c(side / 2.0, side / 2.0);
        const double outer = diameter * 1.4;
        // The gradient runs from radius 4 to 1.4 d; inside radius 4 it keeps its first colour.
        QRadialGradient g(c, outer);
        auto at = [&](double location, double opacity) {
            QColor col = mark;
            col.setAlphaF(static_cast<float>(opacity));
            g.setColorAt(std::clamp((4.0 + location * (outer - 4.0)) / outer, 0.0, 1.0), col);
        };
        QColor first = mark;
        first.setAlphaF(static_cast<float>(PV::glow::haloOpacityDark));
        g.setColorAt(0.0, first);
        at(0.0, PV::glow::haloOpacityDark);
        at(0.55, 0.18);
        at(1.0, 0.0);
        p.setPen(Qt::NoPen);
        p.setBrush(g);
        p.drawEllipse(c, frame / 2.0, frame / 2.0);
    }
    pvBlurImage(image, shadowSigma(PV::glow::haloRadius));
    cache.insert(key, new QImage(image));
    return image;
}

class HaloDecoration : public PVDecoration {
public:
    explicit HaloDecoration(PVStatusHalo* halo) : PVDecoration(halo), halo_(halo) {}
    QMarginsF reach(const PVPaintContext&) const override
    {
        const double r = halo_->diameter() * 0.9 + shadowReach(PV::glow::haloRadius) + 2;
        return {r, r, r, r};
    }
    void paint(QPainter& p, const QRectF& anchorRect, const PVPaintContext& ctx) const override
    {
        const double d = halo_->diameter();
        const QRectF disc(anchorRect.center() - QPointF(d / 2, d / 2), QSizeF(d, d));
        PVStatusHalo::paintHalo(p, disc, halo_->level(), halo_->isLive(), ctx, true);
    }

private:
    PVStatusHalo* halo_;
};

} // namespace

PVStatusHalo::PVStatusHalo(PVStatus level, bool isLive, double diameter, QWidget* parent)
    : QWidget(parent), level_(level), live_(isLive), diameter_(diameter)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    decoration_ = new HaloDecoration(this);
}

// A refresh sets the same state again every few seconds: only a change repaints the halo and its
// glow.
void PVStatusHalo::setLevel(PVStatus level)
{
    if (level == level_)
        return;
    level_ = level;
    update();
    decoration_->requestRepaint();
}

void PVStatusHalo::setLive(bool live)
{
    if (live == live_)
        return;
    live_ = live;
    update();
    decoration_->requestRepaint();
}

QSize PVStatusHalo::sizeHint() const
{
    const int side = static_cast<int>(std::ceil(diameter_));
    return {side, side};
}

void PVStatusHalo::paintHalo(QPainter& p, const QRectF& disc, PVStatus level, bool isLive, const PVPaintContext& ctx,
                             bool decorationsOnly)
{
    const PVHaloStyle style = haloStyle(ctx.depth, isLive);
    const QColor mark = ctx.color(statusMark(level));
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    if (decorationsOnly) {
        if (style.glow) {
            const QImage glow = haloGlowImage(disc.width(), mark);
            p.save();
            p.setCompositionMode(QPainter::CompositionMode_Plus);
            p.drawImage(disc.center() - QPointF(glow.width() / 2.0, glow.height() / 2.0), glow);
            p.restore();
        }
        if (style.shadowOpacity > 0) {
            QColor c = style.shadowInMark ? mark : QColor(Qt::black);
            c.setAlphaF(static_cast<float>(style.shadowOpacity));
            pvPaintShadow(p, disc, disc.width() / 2.0, c, style.shadowRadius, QPointF(0, style.shadowY));
        }
        p.restore();
        return;
    }
    p.setPen(Qt::NoPen);
    p.setBrush(ctx.color(statusWash(level)));
    p.drawEllipse(disc);
    QPen ring(ctx.color(statusBorder(level)), style.ringWidth);
    p.setPen(ring);
    p.setBrush(Qt::NoBrush);
    const double inset = style.ringWidth / 2.0;
    p.drawEllipse(disc.adjusted(inset, inset, -inset, -inset));
    const double box = symbolBox(disc.width() * 0.46);
    const QRectF symbol(disc.center() - QPointF(box / 2, box / 2), QSizeF(box, box));
    const QColor symbolColor = ctx.color(style.symbolSaturated ? statusMarkSaturated(level) : statusMark(level));
    pvPaintSymbol(p, symbol, statusSymbolName(level), symbolColor);
    p.restore();
}

void PVStatusHalo::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const QRectF disc((width() - diameter_) / 2.0, (height() - diameter_) / 2.0, diameter_, diameter_);
    paintHalo(p, disc, level_, live_, PVPaintContext::forWidget(this), false);
}

// ---- Live indicator -----------------------------------------------------------------------------

namespace {
constexpr int kDotBox = 14;
constexpr double kDotRadius = 3.5;
} // namespace

namespace {
// Copies what has just been painted under `widget`, when the painter draws into the window's
// backing store (not into a grab or a print) at whole pixels. Null when it cannot.
QImage copyFromBackingStore(QWidget* widget, QPainter& p)
{
    QBackingStore* store = widget->backingStore();
    QPaintEngine* engine = p.paintEngine();
    if (store == nullptr || engine == nullptr || engine->paintDevice() != store->paintDevice() ||
        engine->paintDevice()->devType() != QInternal::Image)
        return {};
    const QTransform toDevice = p.deviceTransform();
    if (toDevice.type() > QTransform::TxScale)
        return {};
    const QRectF area = toDevice.mapRect(QRectF(widget->rect()));
    const QRect source = area.toRect();
    const auto* image = static_cast<const QImage*>(engine->paintDevice());
    if (QRectF(source) != area || !image->rect().contains(source))
        return {};
    return image->copy(source);
}

// How far the glow reaches beyond the dot box.
int glowReach() { return static_cast<int>(shadowReach(5)) + 1; }
} // namespace

// The pulsing dot. A frame changes only the disc, but the dot is drawn over whatever its ancestors
// paint (a card, its shadow host, the window), and repainting a small part of a see-through widget
// repaints every ancestor under it. So the dot keeps a copy of what lies under it, taken from the
// window's backing store during a full paint (when the ancestors have just painted there), and
// while it holds one it declares itself opaque: a frame then repaints the dot alone. Any paint that
// is not a frame (the card changed, the theme, the dot moved) drops the copy and repaints the dot
// with its ancestors, which takes a new one. In the luminous style the glow pane paints the dot
// together with its glow, and the dot box stays empty.
class PVLiveDot : public QWidget {
public:
    explicit PVLiveDot(PVLiveIndicator* owner) : QWidget(owner), owner_(owner)
    {
        setFixedSize(kDotBox, kDotBox);
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }
    bool holdsBackdrop() const { return testAttribute(Qt::WA_OpaquePaintEvent); }

protected:
    void paintEvent(QPaintEvent* event) override
    {
        QPainter p(this);
        const PVPaintContext& ctx = owner_->paintContext();
        if (holdsBackdrop()) {
            p.drawImage(QRectF(rect()), backdrop_);
            const bool frameOnly = (event->region() - QRegion(PVLiveIndicator::dotFrameRect())).isEmpty();
            if (!frameOnly || ctx.luminous())
                dropBackdrop();
        } else if (!ctx.luminous() && (QRegion(rect()) - event->region()).isEmpty()) {
            backdrop_ = copyFromBackingStore(this, p);
            if (!backdrop_.isNull())
                setAttribute(Qt::WA_OpaquePaintEvent, true);
        }
        if (owner_->paneShowsDot())
            return;
        QColor c = ctx.color(owner_->tint_);
        const double opacity = c.alphaF() * owner_->levels().dot;
        c.setAlphaF(1.0f);
        PVLiveIndicator::paintDotFaded(p, c, opacity);
    }

private:
    // Back to a see-through dot; the next paint, right after this one, takes a fresh copy.
    void dropBackdrop()
    {
        setAttribute(Qt::WA_OpaquePaintEvent, false);
        backdrop_ = QImage();
        QMetaObject::invokeMethod(this, qOverload<>(&QWidget::update), Qt::QueuedConnection);
    }

    PVLiveIndicator* owner_;
    QImage backdrop_;
};

// The glow and the dot in the luminous style. The glow lies under the caption and reaches over
// the rows above and below, so repainting it from the host repaints every widget there. The pane
// lies over all of them instead and keeps a copy of what they paint (without glow and dot), taken
// from the backing store during a full paint of the pane: a frame then draws the copy, the glow
// and the dot, and nothing under the pane repaints. The glow is added to what lies under it, so it
// also brightens the caption's few pixels within its faint rim, much as when it was painted under
// them. Frames repaint the pane short of its outermost pixels, where the glow has faded to
// nothing: a paint that reaches them comes from a change under the pane and takes a new copy.
class PVLiveGlowPane : public QWidget {
public:
    PVLiveGlowPane(PVLiveIndicator* owner, QWidget* host) : QWidget(host), owner_(owner)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setFocusPolicy(Qt::NoFocus);
    }
    bool holdsBackdrop() const { return testAttribute(Qt::WA_OpaquePaintEvent); }
    QRect frameRect() const { return rect().adjusted(1, 1, -1, -1); }
    // One frame: the inner part while the copy is held, the whole pane (to take a copy) otherwise.
    void frame()
    {
        if (holdsBackdrop())
            update(frameRect());
        else
            update();
    }
    // The pane's own paint on any painter, at the pane's origin.
    void paintGlowAndDot(QPainter& p) const
    {
        const PVPaintContext& ctx = owner_->paintContext();
        const PVPulseLevels levels = owner_->levels();
        const QRectF dot = QRectF(owner_->dot_->rect()).translated(-PVLiveIndicator::glowRect().topLeft());
        p.save();
        p.setOpacity(levels.glow);
        p.setCompositionMode(QPainter::CompositionMode_Plus);
        pvPaintBlurredDisc(p, dot.center(), 14, ctx.color(owner_->tint_), 5);
        p.restore();
        QColor c = ctx.color(owner_->tint_);
        const double opacity = c.alphaF() * levels.dot;
        c.setAlphaF(1.0f);
        p.save();
        p.translate(dot.topLeft());
        PVLiveIndicator::paintDotFaded(p, c, opacity);
        p.restore();
    }

protected:
    void paintEvent(QPaintEvent* event) override
    {
        QPainter p(this);
        if (holdsBackdrop()) {
            p.drawImage(QRectF(rect()), backdrop_);
            if (!(event->region() - QRegion(frameRect())).isEmpty()) {
                // Something under the pane changed: paint it with what lies under it next time.
                setAttribute(Qt::WA_OpaquePaintEvent, false);
                backdrop_ = QImage();
                QMetaObject::invokeMethod(this, qOverload<>(&QWidget::update), Qt::QueuedConnection);
            }
        } else if ((QRegion(rect()) - event->region()).isEmpty()) {
            backdrop_ = copyFromBackingStore(this, p);
            if (!backdrop_.isNull())
                setAttribute(Qt::WA_OpaquePaintEvent, true);
        }
        paintGlowAndDot(p);
    }

private:
    PVLiveIndicator* owner_;
    QImage backdrop_;
};

QRect PVLiveIndicator::dotFrameRect()
{
    // The disc and its antialiased rim.
    const double c = kDotBox / 2.0;
    return QRectF(c - kDotRadius, c - kDotRadius, 2 * kDotRadius, 2 * kDotRadius).toAlignedRect().adjusted(-1, -1, 1, 1);
}

QRect PVLiveIndicator::glowRect()
{
    const int r = glowReach();
    return QRect(0, 0, kDotBox, kDotBox).adjusted(-r, -r, r, r);
}

void PVLiveIndicator::paintDotFaded(QPainter& p, const QColor& opaqueColour, double opacity)
{
    static QCache<QString, QImage> cache(16);
    const qreal ratio = p.device() != nullptr ? p.device()->devicePixelRatio() : 1.0;
    const QString key = QStringLiteral("%1:%2").arg(opaqueColour.rgba(), 8, 16).arg(ratio);
    QImage* image = cache.object(key);
    if (image == nullptr) {
        const int side = static_cast<int>(std::ceil(kDotBox * ratio));
        image = new QImage(side, side, QImage::Format_ARGB32_Premultiplied);
        image->setDevicePixelRatio(ratio);
        image->fill(Qt::transparent);
        {
            QPainter ip(image);
            paintDot(ip, opaqueColour);
        }
        cache.insert(key, image);
    }
    p.save();
    p.setOpacity(p.opacity() * opacity);
    p.drawImage(QPointF(0, 0), *image);
    p.restore();
}

void PVLiveIndicator::paintDot(QPainter& p, const QColor& colour)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawEllipse(QPointF(kDotBox / 2.0, kDotBox / 2.0), kDotRadius, kDotRadius);
    p.restore();
}

PVLiveIndicator::PVLiveIndicator(const PVColor& tint, const QString& label, QWidget* parent)
    : QWidget(parent), tint_(tint)
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(static_cast<int>(PV::space::xs));
    dot_ = new PVLiveDot(this);
    caption_ = new PVText(label, PVFontToken::caption, PV::color::ink::secondary, this);
    caption_->setWrapping(false);
    row->addWidget(dot_, 0, Qt::AlignVCenter);
    row->addWidget(caption_, 0, Qt::AlignVCenter);
    row->addStretch(1);
    setAccessibleName(label);
    // Before the animation's own connection: a change of motion setting paints with the new context.
    connect(&PVTheme::instance(), &PVTheme::changed, this, [this] {
        context_.reset();
        schedulePlacement();
    });
    animation_ = new PVLoopAnimation(this, kPulseHalfPeriodMs, true, kPulsePacing);
    connect(animation_, &PVLoopAnimation::positionChanged, this, [this] {
        if (paneShowsDot())
            static_cast<PVLiveGlowPane*>(pane_.data())->frame();
        else
            dot_->update(dotFrameRect());
    });
    installEventFilter(this);
    dot_->installEventFilter(this);
    schedulePlacement();
}

PVLiveIndicator::~PVLiveIndicator() { delete pane_.data(); }

void PVLiveIndicator::setTint(const PVColor& tint)
{
    if (tint == tint_)
        return;
    tint_ = tint;
    dot_->update();
    if (pane_)
        pane_->update();
}

void PVLiveIndicator::setLabel(const QString& label)
{
    caption_->setText(label);
    setAccessibleName(label);
}

const PVPaintContext& PVLiveIndicator::paintContext() const
{
    if (!context_)
        context_ = PVPaintContext::forWidget(this);
    return *context_;
}

QWidget* PVLiveIndicator::glowPane() const { return pane_.data(); }

bool PVLiveIndicator::paneShowsDot() const { return pane_ && !pane_->isHidden(); }

bool PVLiveIndicator::event(QEvent* event)
{
    if (event->type() == QEvent::Show || event->type() == QEvent::ParentChange)
        context_.reset();
    return QWidget::event(event);
}

bool PVLiveIndicator::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::Show:
    case QEvent::Hide:
    case QEvent::ParentChange:
        if (watched != pane_.data())
            schedulePlacement();
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

void PVLiveIndicator::schedulePlacement()
{
    if (placementQueued_)
        return;
    placementQueued_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            placementQueued_ = false;
            placeGlowPane();
        },
        Qt::QueuedConnection);
}

void PVLiveIndicator::placeGlowPane()
{
    QWidget* host = pvDecorationHost(dot_);
    // The widgets between the dot and the host move the dot when they move.
    for (const QPointer<QWidget>& w : watched_)
        if (w)
            w->removeEventFilter(this);
    watched_.clear();
    for (QWidget* w = parentWidget(); w != nullptr && w != host; w = w->parentWidget()) {
        w->installEventFilter(this);
        watched_.emplace_back(w);
    }
    const bool glows = host != nullptr && paintContext().luminous() && dot_->isVisibleTo(host);
    if (!glows) {
        if (pane_ && !pane_->isHidden()) {
            pane_->hide();
            dot_->update();
        }
        return;
    }
    if (pane_ && pane_->parentWidget() != host) {
        delete pane_.data();
        pane_.clear();
    }
    if (!pane_)
        pane_ = new PVLiveGlowPane(this, host);
    const QRect area = glowRect().translated(dot_->mapTo(host, QPoint(0, 0)));
    const bool wasHidden = pane_->isHidden();
    pane_->setGeometry(area);
    pane_->raise();
    pane_->show();
    if (wasHidden)
        dot_->update();
}

PVPulseLevels PVLiveIndicator::levels() const { return liveIndicatorLevels(animation_->position()); }

// ---- Live endpoint ------------------------------------------------------------------------------

PVLiveEndpoint::PVLiveEndpoint(const PVColor& tint, bool isLive, QWidget* parent)
    : QWidget(parent), tint_(tint), live_(isLive)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void PVLiveEndpoint::setLive(bool live)
{
    if (live == live_)
        return;
    live_ = live;
    update();
}

void PVLiveEndpoint::paintEndpoint(QPainter& p, const QPointF& centre, const QColor& tint, bool isLive,
                                   const PVPaintContext& ctx)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    if (ctx.luminous() && isLive) {
        QColor g = tint;
        g.setAlphaF(static_cast<float>(g.alphaF() * 0.85));
        p.save();
        p.setCompositionMode(QPainter::CompositionMode_Plus);
        pvPaintBlurredDisc(p, centre, 18, g, PV::glow::endpointBlur);
        p.restore();
    }
    p.setPen(Qt::NoPen);
    p.setBrush(tint);
    p.drawEllipse(centre, 4, 4);
    p.setPen(QPen(ctx.color(PV::color::surface::well), 2));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(centre, 3, 3);
    p.restore();
}

void PVLiveEndpoint::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const PVPaintContext ctx = PVPaintContext::forWidget(this);
    paintEndpoint(p, QPointF(width() / 2.0, height() / 2.0), ctx.color(tint_), live_, ctx);
}

// ---- Live incident border ------------------------------------------------------------------------

namespace {
class IncidentGlow : public PVDecoration {
public:
    IncidentGlow(QWidget* overlay, QWidget* card, PVStatus level, double radius)
        : PVDecoration(overlay, card), level_(level), radius_(radius)
    {
    }
    QMarginsF reach(const PVPaintContext&) const override
    {
        const double r = shadowReach(14);
        return {r, r, r, r};
    }
    bool active(const PVPaintContext& ctx) const override { return ctx.luminous(); }
    void paint(QPainter& p, const QRectF& anchorRect, const PVPaintContext& ctx) const override
    {
        QColor c = ctx.color(statusMark(level_));
        c.setAlphaF(0.28f);
        pvPaintShadow(p, anchorRect, radius_, c, 14);
    }

private:
    PVStatus level_;
    double radius_;
};
} // namespace

PVLiveIncidentBorder::PVLiveIncidentBorder(QWidget* card, PVStatus level, double radius)
    : QWidget(card), card_(card), level_(level), radius_(radius)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setGeometry(card_->rect());
    raise();
    card_->installEventFilter(this);
    animation_ = new PVLoopAnimation(this, kSweepHalfPeriodMs, false, kSweepPacing);
    animation_->setStillPosition(0.5); // the sweep's middle: phase 0.5
    glow_ = new IncidentGlow(this, card_, level_, radius_);
    connect(animation_, &PVLoopAnimation::positionChanged, this, [this] { update(borderRegion()); });
    show();
}

// The band along the edge that the border's stroke covers; the card's inside stays untouched. A
// rounded corner bends inwards by at most 0.3 of its radius.
QRegion PVLiveIncidentBorder::borderRegion() const
{
    const int band = static_cast<int>(std::ceil(0.3 * radius_ + 2.0)) + 2;
    const QRect outer = rect();
    return QRegion(outer).subtracted(QRegion(outer.adjusted(band, band, -band, -band)));
}

double PVLiveIncidentBorder::phase() const
{
    if (PVTheme::instance().reduceMotion())
        return 0.5;
    return incidentBorderPhase(animation_->position());
}

bool PVLiveIncidentBorder::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == card_ && event->type() == QEvent::Resize) {
        setGeometry(card_->rect());
        raise();
    }
    return QWidget::eventFilter(watched, event);
}

void PVLiveIncidentBorder::paintBorder(QPainter& p, const QRectF& rect, double radius, PVStatus level, double phase,
                                       const PVPaintContext& ctx)
{
    const double width = ctx.luminous() ? 1.5 : 2.0;
    const QColor mark = ctx.color(statusMark(level));
    QLinearGradient g(rect.topLeft(), rect.bottomRight());
    for (const PVGradientStop& s : incidentBorderStops(phase, ctx.depth)) {
        QColor c = mark;
        c.setAlphaF(static_cast<float>(s.opacity));
        g.setColorAt(s.position, c);
    }
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QBrush(g), width));
    p.setBrush(Qt::NoBrush);
    p.drawPath(pvInsetRoundedRect(rect, radius, width));
    p.restore();
}

void PVLiveIncidentBorder::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    paintBorder(p, QRectF(rect()), radius_, level_, phase(), PVPaintContext::forWidget(this));
}

} // namespace pv
