#include "ui/design/Depth.h"

#include <QCache>
#include <QHBoxLayout>
#include <QScrollArea>
#include <QEvent>
#include <QPaintEngine>
#include <QPaintEvent>
#include <QPainter>
#include <QPointer>

#include <algorithm>
#include <cmath>
#include <vector>

namespace pv {

namespace {
constexpr const char* kResolvesDepth = "pvResolvesDepth";
constexpr const char* kDecorationHost = "pvDecorationHost";
} // namespace

PVShadowSpec elevationShadow(PVDepthStyle depth, PVElevation elevation)
{
    if (depth == PVDepthStyle::solid) {
        switch (elevation) {
        case PVElevation::e0: return {};
        case PVElevation::e1: return {0.05, 3, 0, 1};
        case PVElevation::e2: return {0.08, 10, 0, 3};
        case PVElevation::e3: return {0.14, 20, 0, 8};
        }
    } else {
        switch (elevation) {
        case PVElevation::e0: return {};
        case PVElevation::e1: return {};
        case PVElevation::e2: return {0.45, 12, 0, 4};
        case PVElevation::e3: return {0.60, 24, 0, 10};
        }
    }
    return {};
}

void pvResolveDepthStyle(QWidget* root)
{
    if (root != nullptr)
        root->setProperty(kResolvesDepth, true);
}

PVDepthStyle pvDepthStyle(const QWidget* widget, PVAppearance appearance)
{
    for (const QWidget* w = widget; w != nullptr; w = w->parentWidget())
        if (w->property(kResolvesDepth).toBool())
            return depthStyleFor(appearance);
    return PVDepthStyle::solid;
}

PVDepthStyle pvDepthStyle(const QWidget* widget) { return pvDepthStyle(widget, PVTheme::instance().appearance()); }

PVPaintContext PVPaintContext::forWidget(const QWidget* widget)
{
    const auto& theme = PVTheme::instance();
    PVPaintContext ctx;
    ctx.appearance = theme.appearance();
    ctx.depth = pvDepthStyle(widget, ctx.appearance);
    ctx.accent = theme.accent();
    ctx.reduceMotion = theme.reduceMotion();
    return ctx;
}

PVPaintContext PVPaintContext::forAppearance(PVAppearance appearance, PVDepthStyle depth)
{
    PVPaintContext ctx;
    ctx.appearance = appearance;
    ctx.depth = depth;
    return ctx;
}

// ---- Blur ---------------------------------------------------------------------------------------

namespace {
// One horizontal or vertical box pass over the four premultiplied channels.
void boxPass(std::vector<std::uint32_t>& src, std::vector<std::uint32_t>& dst, int w, int h, int r, bool horizontal)
{
    const int len = horizontal ? w : h;
    const int lines = horizontal ? h : w;
    const int window = 2 * r + 1;
    for (int line = 0; line < lines; ++line) {
        auto at = [&](int i) -> std::uint32_t {
            if (i < 0 || i >= len)
                return 0;
            return horizontal ? src[static_cast<std::size_t>(line) * w + i] : src[static_cast<std::size_t>(i) * w + line];
        };
        int sum[4] = {0, 0, 0, 0};
        for (int i = -r; i <= r; ++i) {
            const std::uint32_t px = at(i);
            for (int c = 0; c < 4; ++c)
                sum[c] += static_cast<int>((px >> (8 * c)) & 0xFF);
        }
        for (int i = 0; i < len; ++i) {
            std::uint32_t out = 0;
            for (int c = 0; c < 4; ++c)
                out |= static_cast<std::uint32_t>((sum[c] + window / 2) / window) << (8 * c);
            if (horizontal)
                dst[static_cast<std::size_t>(line) * w + i] = out;
            else
                dst[static_cast<std::size_t>(i) * w + line] = out;
            const std::uint32_t add = at(i + r + 1);
            const std::uint32_t sub = at(i - r);
            for (int c = 0; c < 4; ++c)
                sum[c] += static_cast<int>((add >> (8 * c)) & 0xFF) - static_cast<int>((sub >> (8 * c)) & 0xFF);
        }
    }
}

QString cacheKey(const char* kind, double a, double b, double c, double d, QRgb rgba)
{
    return QStringLiteral("%1:%2:%3:%4:%5:%6")
        .arg(QLatin1String(kind))
        .arg(a, 0, 'f', 2)
        .arg(b, 0, 'f', 2)
        .arg(c, 0, 'f', 2)
        .arg(d, 0, 'f', 2)
        .arg(rgba, 8, 16, QLatin1Char('0'));
}

QCache<QString, QImage>& blurCache()
{
    static QCache<QString, QImage> cache(64 * 1024 * 1024 / 4); // cost = pixels: at most 64 MiB
    return cache;
}
} // namespace

void pvBlurImage(QImage& image, double sigma)
{
    if (sigma <= 0.01 || image.isNull())
        return;
    if (image.format() != QImage::Format_ARGB32_Premultiplied)
        image = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const int w = image.width();
    const int h = image.height();
    // Three box blurs of width wIdeal = sqrt(12 sigma^2 / 3 + 1) approximate the Gaussian.
    const double ideal = std::sqrt(12.0 * sigma * sigma / 3.0 + 1.0);
    const int r = std::max(1, static_cast<int>(std::lround((ideal - 1.0) / 2.0)));
    std::vector<std::uint32_t> a(static_cast<std::size_t>(w) * h);
    std::vector<std::uint32_t> b(a.size());
    for (int y = 0; y < h; ++y) {
        const auto* line = reinterpret_cast<const std::uint32_t*>(image.constScanLine(y));
        std::copy(line, line + w, a.begin() + static_cast<std::ptrdiff_t>(y) * w);
    }
    for (int pass = 0; pass < 3; ++pass) {
        boxPass(a, b, w, h, r, true);
        boxPass(b, a, w, h, r, false);
    }
    for (int y = 0; y < h; ++y) {
        auto* line = reinterpret_cast<std::uint32_t*>(image.scanLine(y));
        std::copy(a.begin() + static_cast<std::ptrdiff_t>(y) * w, a.begin() + static_cast<std::ptrdiff_t>(y + 1) * w, line);
    }
}

double shadowReach(double radius) { return std::ceil(3.0 * shadowSigma(radius)) + 1.0; }

void pvPaintShadow(QPainter& p, const QRectF& rect, double cornerRadius, const QColor& color, double blurRadius,
                   QPointF offset, bool opaqueAbove)
{
    if (color.alpha() == 0 || rect.isEmpty())
        return;
    const double reach = shadowReach(blurRadius);
    // Beyond this distance from a corner the blurred edge no longer changes along the edge: a large
    // card's shadow is drawn in nine slices of a small card's, so its cost does not grow with the card.
    const double core = std::ceil(cornerRadius + 2 * reach);
    if (rect.width() > 2 * core + 2 && rect.height() > 2 * core + 2) {
        const QRectF small(0, 0, 2 * core + 2, 2 * core + 2);
        const QString smallKey = cacheKey("shadow", small.width(), small.height(), cornerRadius, blurRadius, color.rgba());
        QImage* tile = blurCache().object(smallKey);
        if (tile == nullptr) {
            QImage scratch(1, 1, QImage::Format_ARGB32_Premultiplied);
            QPainter sp(&scratch);
            pvPaintShadow(sp, small, cornerRadius, color, blurRadius, QPointF());
            tile = blurCache().object(smallKey);
            if (tile == nullptr)
                return;
        }
        const double edge = reach + core; // the corner part of the tile, in each direction
        const double tw = tile->width(), th = tile->height();
        const QPointF origin = rect.topLeft() + offset - QPointF(reach, reach);
        const double w = rect.width() + 2 * reach, h = rect.height() + 2 * reach;
        const double xs[] = {0, edge, tw - edge, tw}, ys[] = {0, edge, th - edge, th};
        const double xt[] = {0, edge, w - edge, w}, yt[] = {0, edge, h - edge, h};
        // The middle slice starts `core` (more than the corner radius plus the offset) inside the
        // rectangle on every side: under an opaque surface it is never seen.
        const bool middleHidden = opaqueAbove && std::abs(offset.x()) < core - cornerRadius &&
                                  std::abs(offset.y()) < core - cornerRadius;
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                if (!(middleHidden && i == 1 && j == 1))
                    p.drawImage(QRectF(origin.x() + xt[i], origin.y() + yt[j], xt[i + 1] - xt[i], yt[j + 1] - yt[j]),
                                *tile, QRectF(xs[i], ys[j], xs[i + 1] - xs[i], ys[j + 1] - ys[j]));
        return;
    }
    const QString key = cacheKey("shadow", rect.width(), rect.height(), cornerRadius, blurRadius, color.rgba());
    QImage* cached = blurCache().object(key);
    if (cached == nullptr) {
        const QSize size(static_cast<int>(std::ceil(rect.width() + 2 * reach)),
                         static_cast<int>(std::ceil(rect.height() + 2 * reach)));
        auto* image = new QImage(size, QImage::Format_ARGB32_Premultiplied);
        image->fill(Qt::transparent);
        {
            QPainter ip(image);
            ip.setRenderHint(QPainter::Antialiasing);
            ip.setPen(Qt::NoPen);
            ip.setBrush(color);
            ip.drawRoundedRect(QRectF(reach, reach, rect.width(), rect.height()), cornerRadius, cornerRadius);
        }
        pvBlurImage(*image, shadowSigma(blurRadius));
        const int cost = std::max(1, image->width() * image->height());
        blurCache().insert(key, image, cost);
        cached = blurCache().object(key);
        if (cached == nullptr)
            return;
    }
    p.drawImage(rect.topLeft() + offset - QPointF(reach, reach), *cached);
}

void pvPaintBlurredDisc(QPainter& p, const QPointF& centre, double diameter, const QColor& color, double blurRadius)
{
    if (color.alpha() == 0 || diameter <= 0)
        return;
    const double reach = shadowReach(blurRadius);
    const QString key = cacheKey("disc", diameter, blurRadius, 0, 0, color.rgba());
    QImage* cached = blurCache().object(key);
    if (cached == nullptr) {
        const int side = static_cast<int>(std::ceil(diameter + 2 * reach));
        auto* image = new QImage(side, side, QImage::Format_ARGB32_Premultiplied);
        image->fill(Qt::transparent);
        {
            QPainter ip(image);
            ip.setRenderHint(QPainter::Antialiasing);
            ip.setPen(Qt::NoPen);
            ip.setBrush(color);
            ip.drawEllipse(QPointF(side / 2.0, side / 2.0), diameter / 2.0, diameter / 2.0);
        }
        pvBlurImage(*image, shadowSigma(blurRadius));
        blurCache().insert(key, image, std::max(1, side * side));
        cached = blurCache().object(key);
        if (cached == nullptr)
            return;
    }
    p.drawImage(QPointF(centre.x() - cached->width() / 2.0, centre.y() - cached->height() / 2.0), *cached);
}

QPainterPath pvInsetRoundedRect(const QRectF& rect, double radius, double lineWidth)
{
    const double inset = lineWidth / 2.0;
    const QRectF r = rect.adjusted(inset, inset, -inset, -inset);
    const double rr = std::max(0.0, std::min(radius - inset, std::min(r.width(), r.height()) / 2.0));
    QPainterPath path;
    path.addRoundedRect(r, rr, rr);
    return path;
}

namespace {

void paintOutlinedRoundedRectDirectly(QPainter& p, const QRectF& rect, double radius, const QColor& fill,
                                      const QColor& stroke, double lineWidth)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(fill);
    p.drawRoundedRect(rect, radius, radius);
    QPen pen(stroke, lineWidth);
    pen.setJoinStyle(Qt::MiterJoin);
    pen.setCapStyle(Qt::FlatCap);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawPath(pvInsetRoundedRect(rect, radius, lineWidth));
    p.restore();
}

QCache<QString, QImage>& surfaceCache()
{
    static QCache<QString, QImage> cache(8 * 1024 * 1024 / 4); // cost = pixels: at most 8 MiB
    return cache;
}

bool isWhole(double v) { return v == std::floor(v); }

// Paints `paint(painter, rect)` through an image cached under `key` (with the rectangle's size
// added): drawn once and copied after that. Only where the copy lands on whole device pixels,
// unscaled, fully opaque and composed normally; else directly.
//
// `paint` draws a rounded rectangle of corner radius `radius`: away from its corners every row
// (and column) of it is the same along the edge. A surface large enough is therefore copied in
// nine slices of one small tile of that shape, the straight edges and the middle stretched from a
// single row or column of the tile, so that a card of a size never seen before (one growing row by
// row) costs no more than one seen a hundred times.
template <typename Paint>
void paintThroughCache(QPainter& p, const QRectF& rect, double radius, const QString& key, Paint paint)
{
    const QTransform device = p.deviceTransform();
    const qreal ratio = p.device() != nullptr ? p.device()->devicePixelRatio() : 1.0;
    const QPointF at = device.map(rect.topLeft());
    const bool cacheable = device.type() <= QTransform::TxTranslate && ratio == 1.0 && p.opacity() == 1.0 &&
                           p.compositionMode() == QPainter::CompositionMode_SourceOver && isWhole(at.x()) &&
                           isWhole(at.y()) && isWhole(rect.width()) && isWhole(rect.height()) &&
                           rect.width() * rect.height() <= 2.0e6 && !rect.isEmpty();
    if (!cacheable) {
        paint(p, rect);
        return;
    }
    const int corner = static_cast<int>(std::ceil(std::max(0.0, radius))) + 2; // the arc, its antialiasing, the border
    const int tileSize = 2 * corner + 1;
    if (rect.width() >= tileSize && rect.height() >= tileSize) {
        const QString tileKey = key + QStringLiteral(":tile%1").arg(tileSize);
        QImage* tile = surfaceCache().object(tileKey);
        if (tile == nullptr) {
            tile = new QImage(tileSize, tileSize, QImage::Format_ARGB32_Premultiplied);
            tile->fill(Qt::transparent);
            {
                QPainter tp(tile);
                paint(tp, QRectF(0, 0, tileSize, tileSize));
            }
            if (!surfaceCache().insert(tileKey, tile, tileSize * tileSize)) {
                paint(p, rect);
                return;
            }
        }
        // Stretched slices are copied pixel for pixel, never filtered into their neighbours.
        p.save();
        p.setRenderHint(QPainter::SmoothPixmapTransform, false);
        p.setRenderHint(QPainter::Antialiasing, false);
        const double c = corner;
        const double xs[] = {0, c, c + 1, static_cast<double>(tileSize)};
        const double ys[] = {0, c, c + 1, static_cast<double>(tileSize)};
        const double xt[] = {rect.left(), rect.left() + c, rect.right() - c, rect.right()};
        const double yt[] = {rect.top(), rect.top() + c, rect.bottom() - c, rect.bottom()};
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                if (xt[i + 1] > xt[i] && yt[j + 1] > yt[j])
                    p.drawImage(QRectF(xt[i], yt[j], xt[i + 1] - xt[i], yt[j + 1] - yt[j]), *tile,
                                QRectF(xs[i], ys[j], xs[i + 1] - xs[i], ys[j + 1] - ys[j]));
        p.restore();
        return;
    }
    const QString sizedKey = key + QStringLiteral(":%1x%2").arg(rect.width()).arg(rect.height());
    QImage* image = surfaceCache().object(sizedKey);
    if (image == nullptr) {
        image = new QImage(static_cast<int>(rect.width()), static_cast<int>(rect.height()),
                           QImage::Format_ARGB32_Premultiplied);
        image->fill(Qt::transparent);
        {
            QPainter ip(image);
            paint(ip, QRectF(QPointF(0, 0), rect.size()));
        }
        const int cost = std::max(1, image->width() * image->height());
        if (!surfaceCache().insert(sizedKey, image, cost)) {
            paint(p, rect);
            return;
        }
    }
    p.drawImage(rect.topLeft(), *image);
}

} // namespace

// Cards and badges are painted again on every refresh with the same size and colours: their
// antialiased fill and stroke are drawn once into an image and copied after that.
void pvPaintOutlinedRoundedRect(QPainter& p, const QRectF& rect, double radius, const QColor& fill,
                                const QColor& stroke, double lineWidth)
{
    const QString key = cacheKey("surface", rect.width(), rect.height(), radius, lineWidth, fill.rgba()) +
                        QLatin1Char(':') + QString::number(stroke.rgba(), 16);
    paintThroughCache(p, rect, radius, key, [&](QPainter& painter, const QRectF& r) {
        paintOutlinedRoundedRectDirectly(painter, r, radius, fill, stroke, lineWidth);
    });
}

void pvPaintCardSurface(QPainter& p, const QRectF& rect, double radius, bool raised, const PVPaintContext& ctx)
{
    pvPaintOutlinedRoundedRect(p, rect, radius,
                               ctx.color(raised ? PV::color::surface::cardRaised : PV::color::surface::card),
                               ctx.color(PV::color::line::border), 1.0);
}

// ---- Decorations --------------------------------------------------------------------------------

namespace {
// Every decoration alive: a host's paint looks here instead of searching its whole subtree.
std::vector<PVDecoration*>& allDecorations()
{
    static std::vector<PVDecoration*> all;
    return all;
}
} // namespace

PVDecoration::PVDecoration(QWidget* target, QWidget* anchor)
    : QObject(target), target_(target), anchor_(anchor != nullptr ? anchor : target)
{
    target_->installEventFilter(this);
    if (anchor_ != target_)
        anchor_->installEventFilter(this);
    allDecorations().push_back(this);
}

PVDecoration::~PVDecoration() { std::erase(allDecorations(), this); }

bool PVDecoration::active(const PVPaintContext&) const { return true; }

void PVDecoration::requestRepaint()
{
    QWidget* host = pvDecorationHost(anchor_);
    if (host == nullptr)
        return;
    const PVPaintContext ctx = PVPaintContext::forWidget(anchor_);
    const QMarginsF m = reach(ctx);
    const QRectF r(anchor_->mapTo(host, QPoint(0, 0)), anchor_->size());
    const QRect area = r.marginsAdded(m).toAlignedRect().adjusted(-1, -1, 1, 1);
    host->update(area.united(lastArea_));
    lastArea_ = area;
}

bool PVDecoration::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == target_ || watched == anchor_) {
        switch (event->type()) {
        case QEvent::Move:
        case QEvent::Resize:
        case QEvent::Show:
        case QEvent::Hide:
        case QEvent::ParentChange: requestRepaint(); break;
        default: break;
        }
    }
    return QObject::eventFilter(watched, event);
}

void pvMarkDecorationHost(QWidget* host)
{
    if (host != nullptr)
        host->setProperty(kDecorationHost, true);
}

QWidget* pvDecorationHost(const QWidget* anchor)
{
    if (anchor == nullptr)
        return nullptr;
    for (QWidget* w = anchor->parentWidget(); w != nullptr; w = w->parentWidget())
        if (w->property(kDecorationHost).toBool())
            return w;
    return nullptr;
}

namespace {
// Calls `paint(decoration, rect, ctx)` for every decoration `host` paints on this painter now, until
// it returns false.
template <typename Paint>
void forEachDecorationToPaint(QWidget* host, QPainter& p, Paint paint)
{
    // A small repaint (an animation frame) skips every decoration outside it before anything costly.
    // The repainted region is the engine's system clip, in device coordinates.
    const QRegion systemClip = p.paintEngine() != nullptr ? p.paintEngine()->systemClip() : QRegion();
    const QRectF clip = systemClip.isEmpty() ? QRectF() : QRectF(systemClip.boundingRect());
    const QTransform toDevice = p.deviceTransform();
    for (const PVDecoration* d : allDecorations()) {
        QWidget* anchor = d->anchor();
        if (!host->isAncestorOf(anchor))
            continue;
        const QRectF rect(anchor->mapTo(host, QPoint(0, 0)), anchor->size());
        const PVPaintContext ctx = PVPaintContext::forWidget(anchor);
        if (!clip.isNull() && !toDevice.mapRect(rect.marginsAdded(d->reach(ctx))).intersects(clip))
            continue;
        if (pvDecorationHost(anchor) != host || !anchor->isVisibleTo(host) || !d->target()->isVisibleTo(host))
            continue;
        if (!d->active(ctx))
            continue;
        if (!paint(d, rect, ctx))
            return;
    }
}
} // namespace

void pvPaintDecorations(QWidget* host, QPainter& p)
{
    forEachDecorationToPaint(host, p, [&p](const PVDecoration* d, const QRectF& rect, const PVPaintContext& ctx) {
        p.save();
        d->paint(p, rect, ctx);
        p.restore();
        return true;
    });
}

bool pvHasDecorationsToPaint(QWidget* host, QPainter& p)
{
    bool any = false;
    forEachDecorationToPaint(host, p, [&any](const PVDecoration*, const QRectF&, const PVPaintContext&) {
        any = true;
        return false;
    });
    return any;
}

PVCardShadow::PVCardShadow(QWidget* card, PVElevation elevation, double radius)
    : PVDecoration(card), elevation_(elevation), radius_(radius)
{
}

QMarginsF PVCardShadow::reach(const PVPaintContext& ctx) const
{
    const PVShadowSpec s = elevationShadow(ctx.depth, elevation_);
    const double r = shadowReach(s.radius);
    return {r, r - s.y, r, r + s.y};
}

bool PVCardShadow::active(const PVPaintContext& ctx) const { return !elevationShadow(ctx.depth, elevation_).isNone(); }

void PVCardShadow::paint(QPainter& p, const QRectF& anchorRect, const PVPaintContext& ctx) const
{
    const PVShadowSpec s = elevationShadow(ctx.depth, elevation_);
    QColor c(Qt::black);
    c.setAlphaF(static_cast<float>(s.opacity));
    // The card paints its opaque surface over the shadow, unless an effect between it and the
    // host lets the shadow show through.
    bool opaqueAbove = ctx.color(PV::color::surface::card).alpha() == 255 &&
                       ctx.color(PV::color::surface::cardRaised).alpha() == 255;
    const QWidget* host = pvDecorationHost(target());
    for (const QWidget* w = target(); opaqueAbove && w != nullptr && w != host; w = w->parentWidget())
        opaqueAbove = w->graphicsEffect() == nullptr;
    pvPaintShadow(p, anchorRect, radius_, c, s.radius, QPointF(s.x, s.y), opaqueAbove);
}

PVShadowHost::PVShadowHost(QWidget* parent) : QWidget(parent) { pvMarkDecorationHost(this); }

void PVShadowHost::setBackground(const PVColor& color)
{
    background_ = color;
    update();
}

void PVShadowHost::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const PVPaintContext ctx = PVPaintContext::forWidget(this);
    const QColor bg = ctx.color(background_);
    if (bg.alpha() > 0)
        p.fillRect(rect(), bg);
    pvPaintDecorations(this, p);
}

PVCardFrame::PVCardFrame(PVElevation elevation, double radius, bool raised, QWidget* parent)
    : QWidget(parent), elevation_(elevation), radius_(radius), raised_(raised)
{
    pvMarkDecorationHost(this);
    new PVCardShadow(this, elevation_, radius_);
}

void PVCardFrame::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const PVPaintContext ctx = PVPaintContext::forWidget(this);
    const QRectF r = QRectF(rect());
    const QColor surface = ctx.color(raised_ ? PV::color::surface::cardRaised : PV::color::surface::card);
    const QColor border = ctx.color(PV::color::line::border);
    if (!pvHasDecorationsToPaint(this, p)) {
        // Nothing glows inside: the surface and the border above it are one cached image.
        const QString key = cacheKey("card", radius_, 1.0, 0, 0, surface.rgba()) + QLatin1Char(':') +
                            QString::number(border.rgba(), 16);
        paintThroughCache(p, r, radius_, key, [&](QPainter& painter, const QRectF& area) {
            painter.setRenderHint(QPainter::Antialiasing);
            paintOutlinedRoundedRectDirectly(painter, area, radius_, surface, border, 1.0);
            painter.setPen(QPen(border, 1.0));
            painter.setBrush(Qt::NoBrush);
            painter.drawPath(pvInsetRoundedRect(area, radius_, 1.0));
        });
        return;
    }
    pvPaintCardSurface(p, r, radius_, raised_, ctx);
    // Glows of the content are clipped to the card, as the card clips its content.
    QPainterPath clip;
    clip.addRoundedRect(r, radius_, radius_);
    p.setClipPath(clip);
    pvPaintDecorations(this, p);
    p.setClipping(false);
    // The border lies above the glows.
    QPen pen(ctx.color(PV::color::line::border), 1.0);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawPath(pvInsetRoundedRect(r, radius_, 1.0));
}

PVCentredPage pvMakeCentredPage(QScrollArea* area, int maxWidth)
{
    area->setWidgetResizable(true);
    area->setFrameShape(QFrame::NoFrame);
    area->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // The page itself is no Tab stop: Tab goes from control to control, and the area scrolls each
    // into view as it gets focus.
    area->setFocusPolicy(Qt::NoFocus);

    auto* canvas = new PVShadowHost();
    canvas->setBackground(PV::color::surface::canvas);
    pvResolveDepthStyle(canvas);
    pvMarkDecorationHost(canvas);
    auto* centring = new QHBoxLayout(canvas);
    centring->setContentsMargins(0, 0, 0, 0);
    centring->setSpacing(0);
    // The column takes all the width up to its maximum; the two stretches share what is left.
    auto* column = new QWidget(canvas);
    column->setMaximumWidth(maxWidth);
    column->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    centring->addStretch(1);
    centring->addWidget(column, 100000);
    centring->addStretch(1);
    return {canvas, column};
}

} // namespace pv
