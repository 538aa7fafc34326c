#pragma once
// Depth: the depth style (luminous in the dark appearance, solid in the light one), the four
// elevations with their shadows, the card surface, and the machinery that paints shadows and glows
// that reach beyond a widget's own rectangle.
//
// Qt clips every widget's painting to its own rectangle, so a card cannot draw its own shadow. A
// widget that needs to draw outside itself attaches a PVDecoration; the nearest ancestor marked as a
// decoration host (a card surface, a screen canvas) paints every decoration below it, before its
// children paint, so shadows and glows lie under the cards they belong to and are never cut at the
// card's edge.

#include "ui/design/Theme.h"

#include <QImage>
#include <QMarginsF>
#include <QObject>
#include <QPainterPath>
#include <QRectF>
#include <QWidget>

class QScrollArea;

class QPainter;

namespace pv {

enum class PVDepthStyle { luminous, solid };
enum class PVElevation { e0, e1, e2, e3 };

// A shadow: black (or the given colour) at an opacity, a blur radius and an offset. None when the
// opacity is 0.
struct PVShadowSpec {
    double opacity = 0;
    double radius = 0;
    double x = 0;
    double y = 0;
    bool isNone() const { return opacity <= 0; }
    friend bool operator==(const PVShadowSpec&, const PVShadowSpec&) = default;
};

// The shadow of an elevation in a depth style. The depth style decides, not the colour scheme.
PVShadowSpec elevationShadow(PVDepthStyle depth, PVElevation elevation);

constexpr PVDepthStyle depthStyleFor(PVAppearance a) { return isDark(a) ? PVDepthStyle::luminous : PVDepthStyle::solid; }

// Marks a screen root: everything below it follows the appearance (luminous when dark).
void pvResolveDepthStyle(QWidget* root);
// The depth style in effect for a widget: derived from the appearance under a resolving ancestor,
// solid anywhere else.
PVDepthStyle pvDepthStyle(const QWidget* widget, PVAppearance appearance);
PVDepthStyle pvDepthStyle(const QWidget* widget);

// Everything a painter needs to resolve tokens: the appearance, depth style, accent and motion switch.
struct PVPaintContext {
    PVAppearance appearance = PVAppearance::light;
    PVDepthStyle depth = PVDepthStyle::solid;
    QColor accent = QColor(0x30, 0x8C, 0xC6);
    bool reduceMotion = false;

    QColor color(const PVColor& c) const { return c.resolve(appearance, accent); }
    bool luminous() const { return depth == PVDepthStyle::luminous; }

    // The context of a widget now.
    static PVPaintContext forWidget(const QWidget* widget);
    // A context for painting without widgets (PDF pages, images).
    static PVPaintContext forAppearance(PVAppearance appearance, PVDepthStyle depth);
};

// ---- Blurred shapes ----------------------------------------------------------------------------

// Blurs an image in place, approximating a Gaussian blur with the given standard deviation by three
// box passes. The image must be ARGB32 premultiplied.
void pvBlurImage(QImage& image, double sigma);

// The blur radius of a shadow as the design gives it, turned into a Gaussian standard deviation.
constexpr double shadowSigma(double radius) { return radius / 2.0; }
// How far a blurred shape reaches beyond its edge.
double shadowReach(double radius);

// Paints a soft shadow of a rounded rectangle. Blurred images are cached by size, radius, blur and
// colour, so repainting a card costs one image draw. `opaqueAbove`: an opaque surface of the same
// rounded rectangle is painted over the shadow, so the part of the shadow deep under it, which
// nobody sees, is not drawn.
void pvPaintShadow(QPainter& p, const QRectF& rect, double cornerRadius, const QColor& color, double blurRadius,
                   QPointF offset = {}, bool opaqueAbove = false);
// Paints a blurred disc (glows behind dots and halos) with the given composition.
void pvPaintBlurredDisc(QPainter& p, const QPointF& centre, double diameter, const QColor& color, double blurRadius);

// A rounded rectangle filled, then outlined inside its edge (stroke inset by half the line width).
void pvPaintOutlinedRoundedRect(QPainter& p, const QRectF& rect, double radius, const QColor& fill,
                                const QColor& stroke, double lineWidth);

// Fill and 1-pt inner border of a card surface (the shadow is painted by the host).
void pvPaintCardSurface(QPainter& p, const QRectF& rect, double radius, bool raised, const PVPaintContext& ctx);

// A rounded rectangle with its stroke inside the edge: the rectangle inset by half the line width.
QPainterPath pvInsetRoundedRect(const QRectF& rect, double radius, double lineWidth);

// ---- Decorations painted by a host ---------------------------------------------------------------

class PVDecoration : public QObject {
    Q_OBJECT
public:
    // The decoration belongs to `target` (its parent) and surrounds `anchor` (the target when null).
    explicit PVDecoration(QWidget* target, QWidget* anchor = nullptr);
    ~PVDecoration() override;

    QWidget* target() const { return target_; }
    QWidget* anchor() const { return anchor_; }
    // How far the decoration reaches beyond the anchor's rectangle.
    virtual QMarginsF reach(const PVPaintContext& ctx) const = 0;
    // Paints into the host; anchorRect is the anchor's rectangle in host coordinates.
    virtual void paint(QPainter& p, const QRectF& anchorRect, const PVPaintContext& ctx) const = 0;
    // Whether the decoration is visible now (hidden ones are skipped).
    virtual bool active(const PVPaintContext& ctx) const;

    // Asks the host to repaint the decoration's area.
    void requestRepaint();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* target_;
    QWidget* anchor_;
    QRect lastArea_;
};

// Marks a widget as a host: it paints the decorations of the widgets below it.
void pvMarkDecorationHost(QWidget* host);
// The host that paints a widget's decorations: its nearest marked ancestor.
QWidget* pvDecorationHost(const QWidget* anchor);
// Paints every decoration that has `host` as its host. Call at the start of the host's paint.
void pvPaintDecorations(QWidget* host, QPainter& p);
// Whether pvPaintDecorations would paint anything on this painter now.
bool pvHasDecorationsToPaint(QWidget* host, QPainter& p);

// A card's shadow for its elevation.
class PVCardShadow : public PVDecoration {
    Q_OBJECT
public:
    PVCardShadow(QWidget* card, PVElevation elevation, double radius);
    QMarginsF reach(const PVPaintContext& ctx) const override;
    void paint(QPainter& p, const QRectF& anchorRect, const PVPaintContext& ctx) const override;
    bool active(const PVPaintContext& ctx) const override;

private:
    PVElevation elevation_;
    double radius_;
};

// A plain container that paints a background token and its descendants' shadows and glows: the
// canvas of a screen.
class PVShadowHost : public QWidget {
    Q_OBJECT
public:
    explicit PVShadowHost(QWidget* parent = nullptr);
    // The background fill, resolved at paint time; clear paints none.
    void setBackground(const PVColor& color);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    PVColor background_;
};

// The page of a screen inside a scroll area: a canvas that hosts the shadows, under a column that
// takes the whole width up to `maxWidth` and stays centred in a wider window. Sets up the scroll
// area (resizable, no frame, vertical bar always shown); the caller fills the column and then
// hands the canvas to the area with setWidget.
struct PVCentredPage {
    PVShadowHost* canvas;
    QWidget* column;
};
PVCentredPage pvMakeCentredPage(QScrollArea* area, int maxWidth);

// A card surface: fill, 1-pt border and elevation shadow, and a host for its own content's glows.
class PVCardFrame : public QWidget {
    Q_OBJECT
public:
    PVCardFrame(PVElevation elevation, double radius, bool raised, QWidget* parent = nullptr);
    double radius() const { return radius_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    PVElevation elevation_;
    double radius_;
    bool raised_;
};

} // namespace pv
