#include "ui/design/Symbols.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QIcon>
#include <QPaintEvent>
#include <QCache>
#include <QPainter>
#include <QPainterPathStroker>
#include <QStandardPaths>

#include <algorithm>
#include <cmath>
#include <mutex>
#include <numbers>

// Q_INIT_RESOURCE names a function of the global namespace.
static void initSymbolResources() { Q_INIT_RESOURCE(symbols); }

namespace pv {

const PVSymbolMapping* symbolMapping(std::string_view symbolName)
{
    for (const auto& m : kSymbolMappings)
        if (m.symbolName == symbolName)
            return &m;
    return nullptr;
}

QString themeIconName(std::string_view symbolName)
{
    const auto* m = symbolMapping(symbolName);
    if (m == nullptr)
        return {};
    return QString::fromLatin1(m->themeName.data(), static_cast<qsizetype>(m->themeName.size()));
}

void pvInstallIconTheme()
{
    static bool installed = false;
    if (installed)
        return;
    installed = true;
    QStringList paths = QIcon::themeSearchPaths();
    QStringList candidates = QStandardPaths::locateAll(QStandardPaths::GenericDataLocation, QStringLiteral("icons"),
                                                       QStandardPaths::LocateDirectory);
    candidates << QDir::homePath() + QStringLiteral("/.icons") << QStringLiteral("/usr/local/share/icons")
               << QStringLiteral("/usr/share/icons");
    for (const QString& c : candidates)
        if (!paths.contains(c) && QDir(c).exists())
            paths << c;
    QIcon::setThemeSearchPaths(paths);
    const QString current = QIcon::themeName();
    if (current.isEmpty() || current == QLatin1String("hicolor"))
        QIcon::setThemeName(QStringLiteral("Adwaita"));
    if (QIcon::fallbackThemeName().isEmpty() || QIcon::fallbackThemeName() == QLatin1String("hicolor"))
        QIcon::setFallbackThemeName(QStringLiteral("Adwaita"));
}

namespace {

// Glyphs are designed in a unit square but built K times larger: path boolean operations flatten
// curves with a fixed tolerance, which would turn a unit circle into an octagon.
constexpr double K = 256.0;
QPointF P(double x, double y) { return {x * K, y * K}; }
QRectF R(double x, double y, double w, double h) { return {x * K, y * K, w * K, h * K}; }

QPainterPath stroked(const QPainterPath& path, double width, Qt::PenCapStyle cap = Qt::RoundCap,
                     Qt::PenJoinStyle join = Qt::RoundJoin)
{
    QPainterPathStroker s;
    s.setWidth(width * K);
    s.setCapStyle(cap);
    s.setJoinStyle(join);
    return s.createStroke(path).simplified();
}

QPainterPath circle(double cx, double cy, double r)
{
    QPainterPath p;
    p.addEllipse(P(cx, cy), r * K, r * K);
    return p;
}

QPainterPath roundedBar(double x0, double y0, double x1, double y1)
{
    QPainterPath p;
    const double r = (x1 - x0) / 2.0 * K;
    p.addRoundedRect(QRectF(P(x0, y0), P(x1, y1)), r, r);
    return p;
}

QPainterPath polyline(std::initializer_list<QPointF> pts)
{
    QPainterPath p;
    bool first = true;
    for (const QPointF& pt : pts) {
        if (first)
            p.moveTo(pt * K);
        else
            p.lineTo(pt * K);
        first = false;
    }
    return p;
}

QPainterPath arc(QPointF centre, double r, double startDeg, double spanDeg)
{
    const QRectF box = R(centre.x() - r, centre.y() - r, 2 * r, 2 * r);
    QPainterPath a;
    a.arcMoveTo(box, startDeg);
    a.arcTo(box, startDeg, spanDeg);
    return a;
}

QPainterPath octagon()
{
    QPainterPath p;
    const double r = 0.47;
    for (int i = 0; i < 8; ++i) {
        const double a = (22.5 + 45.0 * i) * std::numbers::pi / 180.0;
        const QPointF pt = P(0.5 + r * std::cos(a), 0.5 + r * std::sin(a));
        if (i == 0)
            p.moveTo(pt);
        else
            p.lineTo(pt);
    }
    p.closeSubpath();
    // Softened corners.
    return p.united(stroked(p, 0.06, Qt::RoundCap, Qt::RoundJoin)).simplified();
}

QPainterPath exclamation(double top, double bottom, double dotY)
{
    return roundedBar(0.445, top, 0.555, bottom).united(circle(0.5, dotY, 0.062));
}

// The glyph as a filled path in the square [0, K].
QPainterPath glyphPath(PVGlyph glyph)
{
    switch (glyph) {
    case PVGlyph::checkmarkCircle: {
        const QPainterPath check = stroked(polyline({{0.29, 0.52}, {0.44, 0.67}, {0.72, 0.36}}), 0.11);
        return circle(0.5, 0.5, 0.48).subtracted(check);
    }
    case PVGlyph::exclamationTriangle: {
        QPainterPath tri;
        tri.moveTo(P(0.5, 0.1));
        tri.lineTo(P(0.94, 0.87));
        tri.lineTo(P(0.06, 0.87));
        tri.closeSubpath();
        tri = tri.united(stroked(tri, 0.1));
        return tri.subtracted(exclamation(0.36, 0.62, 0.75));
    }
    case PVGlyph::exclamationOctagon: return octagon().subtracted(exclamation(0.22, 0.58, 0.73));
    case PVGlyph::xmarkOctagon: {
        QPainterPath x = polyline({{0.35, 0.35}, {0.65, 0.65}});
        x.addPath(polyline({{0.65, 0.35}, {0.35, 0.65}}));
        return octagon().subtracted(stroked(x, 0.11));
    }
    case PVGlyph::pauseCircle:
        return circle(0.5, 0.5, 0.48).subtracted(roundedBar(0.36, 0.3, 0.46, 0.7).united(roundedBar(0.54, 0.3, 0.64, 0.7)));
    case PVGlyph::chevronRight: return stroked(polyline({{0.36, 0.14}, {0.64, 0.5}, {0.36, 0.86}}), 0.13);
    case PVGlyph::chevronDown: return stroked(polyline({{0.14, 0.36}, {0.5, 0.64}, {0.86, 0.36}}), 0.13);
    case PVGlyph::wifi: {
        QPainterPath arcs;
        const QPointF c(0.5, 0.84);
        for (double r : {0.27, 0.5})
            arcs.addPath(stroked(arc(c, r, 45, 90), 0.12));
        arcs.addPath(circle(c.x(), c.y() - 0.02, 0.085));
        return arcs.simplified();
    }
    case PVGlyph::router: {
        QPainterPath body;
        body.addRoundedRect(R(0.04, 0.5, 0.92, 0.38), 0.1 * K, 0.1 * K);
        const QPainterPath lights = circle(0.22, 0.69, 0.05).united(circle(0.37, 0.69, 0.05));
        QPainterPath waves;
        for (double r : {0.14, 0.3})
            waves.addPath(stroked(arc({0.5, 0.44}, r, 45, 90), 0.09));
        return body.subtracted(lights).united(waves).simplified();
    }
    case PVGlyph::globe: {
        const QPainterPath disc = circle(0.5, 0.5, 0.48);
        QPainterPath lines;
        QPainterPath meridian;
        meridian.addEllipse(P(0.5, 0.5), 0.19 * K, 0.47 * K);
        lines.addPath(stroked(meridian, 0.055));
        lines.addPath(stroked(polyline({{0.5, 0.02}, {0.5, 0.98}}), 0.055, Qt::FlatCap));
        lines.addPath(stroked(polyline({{0.02, 0.5}, {0.98, 0.5}}), 0.055, Qt::FlatCap));
        lines.addPath(stroked(polyline({{0.1, 0.28}, {0.9, 0.28}}), 0.05, Qt::FlatCap));
        lines.addPath(stroked(polyline({{0.1, 0.72}, {0.9, 0.72}}), 0.05, Qt::FlatCap));
        return disc.subtracted(lines.simplified());
    }
    case PVGlyph::lightbulb: {
        QPainterPath bulb = circle(0.5, 0.38, 0.3);
        QPainterPath neck;
        neck.moveTo(P(0.3, 0.52));
        neck.lineTo(P(0.7, 0.52));
        neck.lineTo(P(0.64, 0.72));
        neck.lineTo(P(0.36, 0.72));
        neck.closeSubpath();
        bulb = bulb.united(neck);
        bulb = bulb.united(roundedBar(0.37, 0.76, 0.63, 0.83)).united(roundedBar(0.4, 0.86, 0.6, 0.93));
        return bulb.simplified();
    }
    case PVGlyph::infoCircle: {
        QPainterPath ring = stroked(circle(0.5, 0.5, 0.44), 0.08);
        return ring.united(roundedBar(0.455, 0.42, 0.545, 0.74)).united(circle(0.5, 0.3, 0.06));
    }
    case PVGlyph::generic: {
        QPainterPath r;
        r.addRoundedRect(R(0.12, 0.12, 0.76, 0.76), 0.18 * K, 0.18 * K);
        return stroked(r, 0.1);
    }
    case PVGlyph::none: break;
    }
    return {};
}

QIcon themeIcon(std::string_view symbolName)
{
    const auto* m = symbolMapping(symbolName);
    if (m == nullptr || m->alwaysPainted || m->themeName.empty())
        return {};
    return pvSymbolIcon(QString::fromLatin1(m->themeName.data(), static_cast<qsizetype>(m->themeName.size())));
}

} // namespace

QIcon pvSymbolIcon(const QString& iconName)
{
    static std::once_flag once;
    std::call_once(once, initSymbolResources);
    const QString path = QStringLiteral(":/polvarine-symbols/%1.svg").arg(iconName);
    return QFile::exists(path) ? QIcon(path) : QIcon();
}

void pvPaintGlyph(QPainter& p, const QRectF& box, PVGlyph glyph, const QColor& tint)
{
    // Boolean path operations are slow; each glyph is built once (painting happens on the GUI thread).
    static QHash<int, QPainterPath> built;
    auto it = built.find(static_cast<int>(glyph));
    if (it == built.end())
        it = built.insert(static_cast<int>(glyph), glyphPath(glyph));
    const QPainterPath& unit = it.value();
    if (unit.isEmpty())
        return;
    // Filling these paths antialiased is costly and a refresh paints the same glyphs again: each is
    // filled once into an image (at the same fraction of a pixel, so the coverage is the same) and
    // copied after that, wherever the painter only translates.
    const QTransform device = p.deviceTransform();
    const qreal ratio = p.device() != nullptr ? p.device()->devicePixelRatio() : 1.0;
    const bool cacheable = device.type() <= QTransform::TxTranslate && ratio == 1.0 && p.opacity() == 1.0 &&
                           p.compositionMode() == QPainter::CompositionMode_SourceOver && box.width() > 0 &&
                           box.height() > 0 && box.width() * box.height() <= 65536;
    if (!cacheable) {
        QTransform t;
        t.translate(box.left(), box.top());
        t.scale(box.width() / K, box.height() / K);
        p.save();
        p.setRenderHint(QPainter::Antialiasing);
        p.fillPath(t.map(unit), tint);
        p.restore();
        return;
    }
    static QCache<QString, QImage> images(2 * 1024 * 1024 / 4); // cost = pixels: at most 2 MiB
    const QPointF at = device.map(box.topLeft());
    const QPointF fraction(at.x() - std::floor(at.x()), at.y() - std::floor(at.y()));
    const QString key = QStringLiteral("%1:%2:%3:%4:%5:%6")
                            .arg(static_cast<int>(glyph))
                            .arg(box.width(), 0, 'f', 3)
                            .arg(box.height(), 0, 'f', 3)
                            .arg(fraction.x(), 0, 'f', 3)
                            .arg(fraction.y(), 0, 'f', 3)
                            .arg(tint.rgba(), 8, 16, QLatin1Char('0'));
    QImage* image = images.object(key);
    if (image == nullptr) {
        image = new QImage(static_cast<int>(std::ceil(fraction.x() + box.width())) + 1,
                           static_cast<int>(std::ceil(fraction.y() + box.height())) + 1,
                           QImage::Format_ARGB32_Premultiplied);
        image->fill(Qt::transparent);
        {
            QPainter ip(image);
            QTransform t;
            t.translate(fraction.x(), fraction.y());
            t.scale(box.width() / K, box.height() / K);
            ip.setRenderHint(QPainter::Antialiasing);
            ip.fillPath(t.map(unit), tint);
        }
        images.insert(key, image, std::max(1, image->width() * image->height()));
        image = images.object(key);
        if (image == nullptr)
            return;
    }
    p.drawImage(box.topLeft() - fraction, *image);
}

bool pvSymbolUsesIcon(std::string_view symbolName) { return !themeIcon(symbolName).isNull(); }

void pvPaintSymbol(QPainter& p, const QRectF& box, std::string_view symbolName, const QColor& tint)
{
    const QIcon icon = themeIcon(symbolName);
    if (!icon.isNull()) {
        const qreal dpr = p.device() != nullptr ? p.device()->devicePixelRatioF() : 1.0;
        const QSize px(static_cast<int>(std::ceil(box.width())), static_cast<int>(std::ceil(box.height())));
        // The tinted icon is made once per name, size and tint.
        static QCache<QString, QImage> tinted(64);
        const QString key = QStringLiteral("%1:%2x%3@%4:%5")
                                .arg(QLatin1String(symbolName.data(), static_cast<qsizetype>(symbolName.size())))
                                .arg(px.width())
                                .arg(px.height())
                                .arg(dpr)
                                .arg(tint.rgba(), 8, 16, QLatin1Char('0'));
        QImage img;
        if (const QImage* hit = tinted.object(key)) {
            img = *hit;
        } else if (const QPixmap pm = icon.pixmap(px, dpr); !pm.isNull()) {
            img = pm.toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
            {
                QPainter ip(&img);
                ip.setCompositionMode(QPainter::CompositionMode_SourceIn);
                ip.fillRect(img.rect(), tint);
            }
            tinted.insert(key, new QImage(img));
        }
        if (!img.isNull()) {
            p.save();
            p.setRenderHint(QPainter::SmoothPixmapTransform);
            p.drawImage(box, img);
            p.restore();
            return;
        }
    }
    const auto* m = symbolMapping(symbolName);
    pvPaintGlyph(p, box, m != nullptr ? m->glyph : PVGlyph::generic, tint);
}

PVSymbolView::PVSymbolView(std::string_view symbolName, double pointSize, const PVColor& tint, QWidget* parent)
    : QWidget(parent), symbol_(QString::fromLatin1(symbolName.data(), static_cast<qsizetype>(symbolName.size()))),
      pointSize_(pointSize), tint_(tint)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

PVSymbolView::PVSymbolView(std::string_view symbolName, double pointSize, const PVColor& tint,
                           const PVFontToken& beside, QWidget* parent)
    : PVSymbolView(symbolName, pointSize, tint, parent)
{
    beside_ = beside.relativeTo;
    connect(&PVTheme::instance(), &PVTheme::changed, this, [this] {
        updateGeometry();
        update();
    });
}

double pvSymbolGrowth(PVTextStyle beside) { return std::max(1.0, PVTheme::instance().textScale(beside)); }

double PVSymbolView::pointSize() const { return beside_ ? pointSize_ * pvSymbolGrowth(*beside_) : pointSize_; }

void PVSymbolView::setSymbol(std::string_view symbolName)
{
    symbol_ = QString::fromLatin1(symbolName.data(), static_cast<qsizetype>(symbolName.size()));
    update();
}

void PVSymbolView::setTint(const PVColor& tint)
{
    tint_ = tint;
    update();
}

QSize PVSymbolView::sizeHint() const
{
    const int side = static_cast<int>(std::ceil(symbolBox(pointSize())));
    return {side, side};
}

void PVSymbolView::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const QByteArray name = symbol_.toLatin1();
    const double side = symbolBox(pointSize());
    const QRectF box((width() - side) / 2.0, (height() - side) / 2.0, side, side);
    pvPaintSymbol(p, box, std::string_view(name.constData(), static_cast<std::size_t>(name.size())), tint_.resolve());
}

} // namespace pv
