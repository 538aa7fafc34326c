#pragma once
// Live indicators: the status halo, the pulsing live indicator, the live endpoint of a line and the
// sweeping border of a card while an incident is open. Glows and coloured shadows exist only in the
// luminous depth style; the two animated ones show a still frame when motion is reduced, and stop
// animating whenever they are hidden.

#include "ui/design/Depth.h"
#include "ui/design/Text.h"

#include <QPointer>
#include <QWidget>

#include <array>
#include <optional>
#include <vector>

namespace pv {

// ---- Pure rules ---------------------------------------------------------------------------------

struct PVHaloStyle {
    bool glow = false;            // radial glow behind the disc
    double ringWidth = 2;         // border of the disc, inside its edge
    bool shadowInMark = false;    // shadow colour: the level's mark (true) or black
    double shadowOpacity = 0;
    double shadowRadius = 0;
    double shadowY = 0;
    bool symbolSaturated = true;  // symbol in markSaturated (true) or mark
    friend bool operator==(const PVHaloStyle&, const PVHaloStyle&) = default;
};
PVHaloStyle haloStyle(PVDepthStyle depth, bool isLive);

struct PVGradientStop {
    double position = 0;
    double opacity = 0;
    friend bool operator==(const PVGradientStop&, const PVGradientStop&) = default;
};
// The three stops of the incident border's highlight for a phase: positions within [0, 1] and in
// ascending order. While the highlight is beyond a corner the whole rim rests at the dim opacity.
std::array<PVGradientStop, 3> incidentBorderStops(double phase, PVDepthStyle depth);

// Progress t in [0, 1) over one full cycle (there and back) as a forward-then-reverse position.
double autoreverse(double t);
// The ease-in-out timing curve of the pulse.
double easeInOut(double x);

struct PVPulseLevels {
    double dot = 0.55;
    double glow = 0.35;
};
// Opacities of the live indicator's dot and glow at a pulse position (0 resting, 1 lit).
PVPulseLevels liveIndicatorLevels(double pulse);
// The incident border phase at a sweep position (0 → -0.3, 1 → 1.3).
constexpr double incidentBorderPhase(double sweep) { return -0.3 + 1.6 * sweep; }

constexpr double kPulseHalfPeriodMs = 1400;
constexpr double kSweepHalfPeriodMs = 3200;

// How often a loop animation paints a frame: when its position has moved by `step` since the last
// frame (so every frame changes the pixels by about the same amount), at a turning point (so the
// extremes are shown), but never sooner than minFrameMs nor later than maxFrameMs.
struct PVFramePacing {
    double step = 0;
    int minFrameMs = 0;
    int maxFrameMs = 0;
};
// The pulse changes a dot's opacity slowly and eases in and out: a twelfth of its range per frame
// is below what the eye sees as a step on a dot that small, about nine frames a second, fewer where
// it turns. The sweep moves a highlight along a long edge at an even speed: 25 frames a second keep
// it from jumping.
constexpr PVFramePacing kPulsePacing{1.0 / 12.0, 50, 250};
constexpr PVFramePacing kSweepPacing{1.0 / 80.0, 40, 40};

// Position in [0, 1] of a there-and-back loop `elapsedMs` after it started.
double loopPosition(double elapsedMs, double halfPeriodMs, bool eased);
// Milliseconds from `elapsedMs` to the loop's next frame under `pacing`.
int nextFrameDelayMs(double elapsedMs, double halfPeriodMs, bool eased, const PVFramePacing& pacing);

// ---- A repeating there-and-back animation that runs only while its widget is on screen -----------

class PVLoopAnimation : public QObject {
    Q_OBJECT
public:
    // `owner` decides visibility; `halfPeriodMs` is one way. Reports positions in [0, 1], one per
    // frame as `pacing` asks. The frames of every animation shown share one timer: those that fall
    // due together are painted in one pass. Loops with the same period run in step, so that two
    // pulses on screen light up together and cost one repaint.
    PVLoopAnimation(QWidget* owner, double halfPeriodMs, bool eased, const PVFramePacing& pacing);
    ~PVLoopAnimation() override;
    // Whether the loop is running: its widget is shown and motion is not reduced. While its widget
    // is scrolled out of sight or its window is not exposed it runs without painting frames.
    bool isRunning() const { return running_; }
    // Whether the last frame time found the widget on screen (frames are painted).
    bool isPainting() const { return painting_; }
    // Current position: 1 when motion is reduced (the still frame), 0 before the first show.
    double position() const { return position_; }
    // Position used when motion is reduced.
    void setStillPosition(double p) { still_ = p; }
    double halfPeriodMs() const { return halfPeriodMs_; }
    bool eased() const { return eased_; }

Q_SIGNALS:
    void positionChanged(double position);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    friend class PVFrameDriver;
    void evaluate(bool spontaneouslyHidden = false);
    void stop();
    // One frame at driver time `nowMs`; returns the driver time of the next one.
    qint64 frame(qint64 nowMs);
    QWidget* owner_;
    double halfPeriodMs_;
    bool eased_;
    PVFramePacing pacing_;
    bool running_ = false;
    bool painting_ = false;
    qint64 originMs_ = 0;
    double position_ = 0;
    double still_ = 1;
};

// ---- Widgets ------------------------------------------------------------------------------------

// A disc with the status symbol; it glows while live in the luminous style. The glow and the shadow
// are painted by the nearest host; the widget itself stays diameter × diameter in every appearance.
class PVStatusHalo : public QWidget {
    Q_OBJECT
public:
    PVStatusHalo(PVStatus level, bool isLive, double diameter, QWidget* parent = nullptr);
    void setLevel(PVStatus level);
    void setLive(bool live);
    PVStatus level() const { return level_; }
    bool isLive() const { return live_; }
    double diameter() const { return diameter_; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

    // Draws the halo onto any painter (PDF, images): with decorationsOnly the glow and shadow that
    // lie under it, otherwise the disc and its symbol.
    static void paintHalo(QPainter& p, const QRectF& disc, PVStatus level, bool isLive, const PVPaintContext& ctx,
                          bool decorationsOnly);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    PVStatus level_;
    bool live_;
    double diameter_;
    PVDecoration* decoration_;
};

// A pulsing dot with a caption.
class PVLiveIndicator : public QWidget {
    Q_OBJECT
public:
    PVLiveIndicator(const PVColor& tint, const QString& label, QWidget* parent = nullptr);
    ~PVLiveIndicator() override;
    void setTint(const PVColor& tint);
    void setLabel(const QString& label);
    bool isAnimating() const { return animation_->isRunning(); }
    // Current opacities of the dot and the glow.
    PVPulseLevels levels() const;
    QWidget* dotBox() const { return dot_; }
    PVColor tint() const { return tint_; }
    // The pulse's frames repaint only the dot's disc, in the dot box's coordinates: the caption and
    // the rest of the row stay as they are.
    static QRect dotFrameRect();
    // Draws the dot (no glow) centred in a box of the dot box's size.
    static void paintDot(QPainter& p, const QColor& colour);
    // The same dot at an opacity, copied from a drawing of it kept per colour (a frame changes only
    // the opacity, and drawing a small antialiased disc costs more than copying it).
    static void paintDotFaded(QPainter& p, const QColor& opaqueColour, double opacity);
    // The paint context of the indicator, kept between frames (finding the depth style walks up
    // every ancestor): it is found again when the theme changes or the indicator is shown.
    const PVPaintContext& paintContext() const;
    // In the luminous style the glow and the dot are painted by one pane over the glow's area, a
    // child of the decoration host laid over everything under the glow (the caption too); null or
    // hidden otherwise. A frame repaints that pane alone.
    QWidget* glowPane() const;
    // The glow's area around the dot box, in the dot box's coordinates.
    static QRect glowRect();

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Puts the glow pane where the dot is, in the dot's host, or hides it; watches the widgets
    // between the dot and the host for moves.
    void placeGlowPane();
    void schedulePlacement();
    bool paneShowsDot() const;

    mutable std::optional<PVPaintContext> context_;
    PVColor tint_;
    QWidget* dot_;
    PVText* caption_;
    PVLoopAnimation* animation_;
    QPointer<QWidget> pane_;
    std::vector<QPointer<QWidget>> watched_;
    bool placementQueued_ = false;
    friend class PVLiveDot;
    friend class PVLiveGlowPane;
};

// The newest point of a line: a dot with a ring, glowing while live in the luminous style. The
// widget reserves room around the dot for the glow.
class PVLiveEndpoint : public QWidget {
    Q_OBJECT
public:
    PVLiveEndpoint(const PVColor& tint, bool isLive, QWidget* parent = nullptr);
    void setLive(bool live);
    QSize sizeHint() const override { return {40, 40}; }

    static void paintEndpoint(QPainter& p, const QPointF& centre, const QColor& tint, bool isLive,
                              const PVPaintContext& ctx);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    PVColor tint_;
    bool live_;
};

// The sweeping highlight along the edge of a card while an incident is open. Attach it to the card;
// it follows the card's size and removes itself with the card.
class PVLiveIncidentBorder : public QWidget {
    Q_OBJECT
public:
    PVLiveIncidentBorder(QWidget* card, PVStatus level, double radius);
    double phase() const;
    bool isAnimating() const { return animation_->isRunning(); }
    // What a frame of the sweep repaints: the band the stroke lies in.
    QRegion borderRegion() const;

    static void paintBorder(QPainter& p, const QRectF& rect, double radius, PVStatus level, double phase,
                            const PVPaintContext& ctx);

protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* card_;
    PVStatus level_;
    double radius_;
    PVLoopAnimation* animation_;
    PVDecoration* glow_;
};

} // namespace pv
