#pragma once
// Shared building blocks: status badge, section card, stat tile with sparkline, verdict hero, advice
// card, diagonal hatch and conditional glow. They take plain values and texts that are already
// localised, and show them unchanged.

#include "ui/design/LiveIndicators.h"
#include "ui/design/Symbols.h"
#include "ui/design/Text.h"

#include <QImage>
#include <QLineF>
#include <QPainterPath>
#include <QPointF>
#include <QWidget>

#include <optional>
#include <vector>

class QVBoxLayout;
class QHBoxLayout;

namespace pv {

// ---- Pure geometry and texts --------------------------------------------------------------------

struct PVSparklineGeometry {
    double floor = 0;
    double ceiling = 1;
    double divisor = 1;
    double step = 0;
    std::vector<QPointF> points;
};
// Sparkline points in a W × H box: the first sample at the left edge, the last at the right, the
// floor (0 when anchored, else the smallest sample) at the bottom and the largest sample at the top.
// A sample that is not a number is a break in the line: its point keeps its x and has no y.
PVSparklineGeometry sparklineGeometry(const std::vector<double>& samples, double width, double height,
                                      bool anchoredToZero);
// The line and the closed area beneath it, one piece per run between breaks; empty paths when there
// are no points.
QPainterPath sparklineLinePath(const PVSparklineGeometry& g);
QPainterPath sparklineAreaPath(const PVSparklineGeometry& g, double height);
// A stat tile shows its sparkline row only from two samples on.
constexpr bool statTileShowsSparkline(std::size_t sampleCount) { return sampleCount >= 2; }

// The diagonal hatch of a W × H rectangle: lines 6 apart rising at 45 degrees from (x, H) to
// (x + H, 0), x from -H while x < W. Callers clip it to their shape.
std::vector<QLineF> hatchLines(double width, double height);
QPainterPath hatchPath(double width, double height);

// The glow colour of ConditionalGlow: the tint at 0.35 while active in the luminous style, else clear.
QColor conditionalGlowColor(bool active, const QColor& tint, PVDepthStyle depth);

// The one sentence the verdict hero is read out as.
QString heroAccessibleLabel(const QString& headline, const QString& explanation);
// The number of an advice step at a position counted from 0: "1.", "2.", ...
QString adviceNumberText(int index);

struct PVBadgeMetrics {
    double spacing;
    double symbolPoints;
    double paddingH;
    double paddingV;
    PVFontToken token;
};
constexpr PVBadgeMetrics badgeMetrics(bool compact)
{
    return compact ? PVBadgeMetrics{4, 9, 6, 2, PVFontToken::microCaption}
                   : PVBadgeMetrics{6, 11, 8, 4, PVFontToken::caption};
}

// ---- Conditional glow ---------------------------------------------------------------------------

// Makes a widget glow in a colour while a condition holds, in the luminous style only. The glow is
// painted by the nearest host, around the widget's rounded rectangle.
class PVConditionalGlow : public PVDecoration {
    Q_OBJECT
public:
    PVConditionalGlow(QWidget* target, bool active, const PVColor& tint, double cornerRadius);
    void setActive(bool active);
    void setTint(const PVColor& tint);
    bool isActive() const { return active_; }
    QMarginsF reach(const PVPaintContext& ctx) const override;
    bool active(const PVPaintContext& ctx) const override;
    void paint(QPainter& p, const QRectF& anchorRect, const PVPaintContext& ctx) const override;

private:
    bool active_;
    PVColor tint_;
    double cornerRadius_;
};

// ---- Status badge -------------------------------------------------------------------------------

class PVStatusBadge : public QWidget {
    Q_OBJECT
public:
    PVStatusBadge(PVStatus level, const QString& word, bool compact, QWidget* parent = nullptr);
    void setLevel(PVStatus level);
    void setWord(const QString& word);
    PVStatus level() const { return level_; }
    QString word() const { return word_; }
    bool isCompact() const { return compact_; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

    // Paints a badge into a rectangle of its size hint (PDF pages).
    static QSizeF measure(const QString& word, bool compact);
    static void paintBadge(QPainter& p, const QRectF& rect, PVStatus level, const QString& word, bool compact,
                           const PVPaintContext& ctx);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    PVStatus level_;
    QString word_;
    bool compact_;
};

// ---- Section card -------------------------------------------------------------------------------

class PVSectionCard : public PVCardFrame {
    Q_OBJECT
public:
    PVSectionCard(const QString& title, const std::optional<QString>& subtitle, QWidget* parent = nullptr);
    // A small view at the trailing end of the title row.
    void setAccessory(QWidget* accessory);
    // Appends a view to the card's content stack (12 apart).
    void addContent(QWidget* content);
    QVBoxLayout* contentLayout() const { return stack_; }
    void setTitle(const QString& title);
    void setSubtitle(const std::optional<QString>& subtitle);

private:
    QVBoxLayout* stack_;
    QHBoxLayout* titleRow_;
    PVText* title_;
    PVText* subtitle_;
    QWidget* accessory_ = nullptr;
};

// ---- Sparkline and stat tile --------------------------------------------------------------------

class PVSparkline : public QWidget {
    Q_OBJECT
public:
    PVSparkline(std::vector<double> samples, const PVColor& tint, bool anchoredToZero, QWidget* parent = nullptr);
    void setSamples(std::vector<double> samples);
    void setTint(const PVColor& tint);
    // Room left around the drawing for the stroke's width and round caps, which are not clipped.
    static constexpr int kStrokeRoom = 1;

    static void paintSparkline(QPainter& p, const QRectF& box, const std::vector<double>& samples, const QColor& tint,
                               bool anchoredToZero);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<double> samples_;
    PVColor tint_;
    bool anchored_;
    // The antialiased area and stroke, drawn once for the samples, size and resolved tint and then
    // copied on every repaint; dropped when any of them changes.
    QImage cache_;
    QColor cachedTint_;
};

struct PVStatTileData {
    QString label = {};
    QString value = {};
    std::optional<QString> unit = {};
    std::optional<QString> caption = {};
    PVColor tint = {};
    std::optional<PVStatus> status = {};
    std::vector<double> samples = {};
    bool sparklineAnchoredToZero = false;
    bool operator==(const PVStatTileData& other) const;
};
// Equal samples, a break (not a number) equal to a break.
bool sameSparklineSamples(const std::vector<double>& a, const std::vector<double>& b);

class PVTintDot;
class PVFigureRow;

class PVStatTile : public QWidget {
    Q_OBJECT
public:
    explicit PVStatTile(const PVStatTileData& data, QWidget* parent = nullptr);
    // False (and nothing laid out or repainted) when the tile already shows these data.
    bool setData(const PVStatTileData& data);
    const PVStatTileData& data() const { return data_; }
    bool showsSparkline() const;
    static constexpr int kMinimumHeight = 132;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    PVStatTileData data_;
    bool applied_ = false;
    PVTintDot* dot_;
    PVText* label_;
    PVSymbolView* statusSymbol_;
    PVFigureRow* figure_;
    PVSparkline* sparkline_;
    PVText* caption_;
};

// ---- Verdict hero -------------------------------------------------------------------------------

class PVVerdictHero : public PVCardFrame {
    Q_OBJECT
public:
    PVVerdictHero(PVStatus level, const QString& headline, const QString& explanation, bool isLive,
                  const QString& liveLabel, QWidget* parent = nullptr);
    void setState(PVStatus level, const QString& headline, const QString& explanation, bool isLive,
                  const QString& liveLabel);
    PVStatusHalo* halo() const { return halo_; }
    PVLiveIndicator* liveIndicator() const { return live_; }

private:
    PVStatusHalo* halo_;
    PVText* headline_;
    PVText* explanation_;
    QWidget* liveRow_;
    PVLiveIndicator* live_;
};

// ---- Advice card --------------------------------------------------------------------------------

class PVAdviceCard : public QWidget {
    Q_OBJECT
public:
    PVAdviceCard(const QString& title, const QStringList& steps, QWidget* parent = nullptr);
    void setAdvice(const QString& title, const QStringList& steps);
    // Width of the number column: 16, or wider when a number would not fit.
    int numberColumnWidth() const { return numberWidth_; }
    static int numberColumnWidthFor(int stepCount, const QFont& font);
    // The text widget of each step, in order.
    const std::vector<PVText*>& stepViews() const { return stepViews_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void rebuildSteps(const QStringList& steps);
    PVText* title_;
    QVBoxLayout* steps_;
    std::vector<PVText*> stepViews_;
    QStringList shownSteps_;
    int numberWidth_ = 16;
};

} // namespace pv
