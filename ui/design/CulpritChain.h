#pragma once
// The culprit chain: Wi-Fi → router → provider as a chain of segment cards joined by chevrons. Each
// card says what is believed about its segment in a badge, a thin state bar and its border; the
// accused segment gets a border in its colour and glows while an incident is live. The chain is a
// row when the cards fit side by side, else a column.

#include "ui/design/Components.h"

#include <QGraphicsOpacityEffect>
#include <QWidget>

#include <optional>
#include <vector>

namespace pv {

class PVCulpritChain : public QWidget {
    Q_OBJECT
public:
    struct SegmentState {
        enum class Kind { suspect, faulty, unknown, clear, notApplicable };
        Kind kind = Kind::clear;
        double confidence = 0;               // suspect
        PVStatus severity = PVStatus::neutral; // faulty
        QString reason = {};                 // unknown

        static SegmentState suspect(double confidence) { return {Kind::suspect, confidence, PVStatus::neutral, {}}; }
        static SegmentState faulty(PVStatus severity) { return {Kind::faulty, 0, severity, {}}; }
        static SegmentState unknown(const QString& reason) { return {Kind::unknown, 0, PVStatus::neutral, reason}; }
        static SegmentState clear() { return {Kind::clear, 0, PVStatus::neutral, {}}; }
        static SegmentState notApplicable() { return {Kind::notApplicable, 0, PVStatus::neutral, {}}; }
        // Same case and equal payloads; other payload fields do not take part.
        bool operator==(const SegmentState& o) const;
    };

    struct Segment {
        PVCulprit culprit = PVCulprit::wifi;
        SegmentState state = {};
        QString title = {};
        std::optional<QString> caption = {};
        bool operator==(const Segment& o) const = default;
    };

    PVCulpritChain(std::vector<Segment> segments, std::optional<PVCulprit> accused, bool isIncidentLive,
                   QWidget* parent = nullptr);
    void setChain(std::vector<Segment> segments, std::optional<PVCulprit> accused, bool isIncidentLive);

    // True when the chain shows its cards in a row at its current width.
    bool isRow() const { return row_; }
    // The width the row arrangement needs.
    int rowWidth() const;
    QWidget* card(std::size_t index) const;
    std::size_t cardCount() const { return cards_.size(); }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void rebuild();
    void arrange(int width);
    int arrangedHeight(int width, bool row) const;

    std::vector<Segment> segments_;
    std::optional<PVCulprit> accused_;
    bool live_ = false;
    std::vector<QWidget*> cards_;
    std::vector<PVSymbolView*> chevrons_;
    bool row_ = true;
};

// ---- Pure rules of a segment --------------------------------------------------------------------

using PVSegmentState = PVCulpritChain::SegmentState;
using PVSegment = PVCulpritChain::Segment;

struct PVSegmentBadge {
    PVStatus level;
    QString word;
};
PVSegmentBadge segmentBadge(const PVSegmentState& state);

enum class PVSegmentBarLayer { fill, hatch, none };
struct PVSegmentBar {
    PVSegmentBarLayer layer = PVSegmentBarLayer::none;
    double fraction = 0;  // share of the track width the fill covers
    PVColor color;        // fill colour (or the hatch stroke)
};
PVSegmentBar segmentBar(const PVSegmentState& state, PVCulprit culprit);
// Width share of a suspect bar: at least 0.08, and the whole bar from 1 on or for a non-number.
double suspectBarFraction(double confidence);
// The spoken percentage of a suspect: confidence × 100 truncated toward zero. A value that is not a
// finite number within range is spoken as 0 (the C++ conversion would otherwise be undefined).
long long suspectPercent(double confidence);
// The lower-case phrase read out for a state.
QString segmentPhrase(const PVSegmentState& state);
// The label of a card: title, phrase and caption joined by ", ".
QString segmentSpokenLabel(const PVSegment& segment);
constexpr bool isAccused(PVCulprit culprit, std::optional<PVCulprit> accused) { return accused && *accused == culprit; }
// Opacity of a card: 0.45 when not in use.
constexpr double segmentOpacity(const PVSegmentState& s) { return s.kind == PVSegmentState::Kind::notApplicable ? 0.45 : 1.0; }

// One segment card (exposed for tests and for screens that show a single segment).
class PVSegmentCard : public QWidget {
    Q_OBJECT
public:
    PVSegmentCard(const PVSegment& segment, bool accused, bool glowing, QWidget* parent = nullptr);
    bool isAccused() const { return accused_; }
    bool isGlowing() const;
    const PVSegment& segment() const { return segment_; }
    static constexpr int kMinimumHeight = 92;
    static constexpr double kRadius = 14;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    PVSegment segment_;
    bool accused_;
    PVConditionalGlow* glow_;
};

// The state bar of a segment card: a 4-high capsule track with the state's layer.
class PVSegmentStateBar : public QWidget {
    Q_OBJECT
public:
    PVSegmentStateBar(const PVSegmentState& state, PVCulprit culprit, QWidget* parent = nullptr);
    static void paintBar(QPainter& p, const QRectF& track, const PVSegmentState& state, PVCulprit culprit,
                         const PVPaintContext& ctx);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    PVSegmentState state_;
    PVCulprit culprit_;
};

} // namespace pv
