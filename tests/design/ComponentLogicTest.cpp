// Display-free rules of the components: sparkline and hatch geometry, live-indicator rules, the
// culprit chain's states and spoken labels, advice numbering and the hero's spoken sentence.

#include "ui/design/Components.h"
#include "ui/design/CulpritChain.h"
#include "ui/design/LiveIndicators.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace pv {
namespace {

TEST(Sparkline, FlatSeriesSitsOnTheBottomUnlessAnchored)
{
    const auto flat = sparklineGeometry({5, 5, 5}, 100, 26, false);
    ASSERT_EQ(flat.points.size(), 3u);
    for (const QPointF& p : flat.points)
        EXPECT_DOUBLE_EQ(p.y(), 26);
    EXPECT_DOUBLE_EQ(flat.divisor, 0.0001);
    const auto anchored = sparklineGeometry({5, 5, 5}, 100, 26, true);
    for (const QPointF& p : anchored.points)
        EXPECT_DOUBLE_EQ(p.y(), 0);
    EXPECT_DOUBLE_EQ(anchored.points.back().x(), 100);
}

TEST(Sparkline, RunsEdgeToEdgeAndMapsFloorAndCeiling)
{
    for (bool anchored : {false, true}) {
        const auto g = sparklineGeometry({0, 10}, 100, 26, anchored);
        ASSERT_EQ(g.points.size(), 2u);
        EXPECT_EQ(g.points[0], QPointF(0, 26));
        EXPECT_EQ(g.points[1], QPointF(100, 0));
    }
    // Not anchored, the lowest sample maps to the bottom; anchored, zero does.
    const auto loose = sparklineGeometry({20, 30, 40}, 60, 20, false);
    EXPECT_DOUBLE_EQ(loose.points[0].y(), 20);
    EXPECT_DOUBLE_EQ(loose.points[1].y(), 10);
    const auto zero = sparklineGeometry({20, 30, 40}, 60, 20, true);
    EXPECT_DOUBLE_EQ(zero.points[0].y(), 10);
    EXPECT_DOUBLE_EQ(zero.points[1].x(), 30);
}

TEST(Sparkline, FewerThanTwoSamplesDrawNoRow)
{
    EXPECT_FALSE(statTileShowsSparkline(0));
    EXPECT_FALSE(statTileShowsSparkline(1));
    EXPECT_TRUE(statTileShowsSparkline(2));
    const auto none = sparklineGeometry({}, 100, 26, false);
    EXPECT_TRUE(none.points.empty());
    EXPECT_TRUE(sparklineLinePath(none).isEmpty());
    EXPECT_TRUE(sparklineAreaPath(none, 26).isEmpty());
    const auto one = sparklineGeometry({7}, 100, 26, false);
    ASSERT_EQ(one.points.size(), 1u);
    EXPECT_DOUBLE_EQ(one.step, 0);
    // The area closes down to the bottom edge under the first and last points.
    const auto g = sparklineGeometry({1, 3, 2}, 40, 10, true);
    const QPainterPath area = sparklineAreaPath(g, 10);
    EXPECT_EQ(area.elementAt(0).x, 0);
    EXPECT_EQ(area.elementAt(0).y, 10);
    EXPECT_EQ(area.boundingRect(), QRectF(0, 0, 40, 10));

    // A value that is not a number breaks the line and the area, keeps its place along the width
    // and takes no part in the scale.
    const double gap = std::numeric_limits<double>::quiet_NaN();
    const auto broken = sparklineGeometry({1, 3, gap, gap, 2, 1}, 50, 10, false);
    EXPECT_DOUBLE_EQ(broken.floor, 1);
    EXPECT_DOUBLE_EQ(broken.ceiling, 3);
    EXPECT_DOUBLE_EQ(broken.step, 10);
    const QPainterPath line = sparklineLinePath(broken);
    int moves = 0;
    for (int i = 0; i < line.elementCount(); ++i) {
        EXPECT_TRUE(std::isfinite(line.elementAt(i).y));
        moves += line.elementAt(i).isMoveTo();
    }
    EXPECT_EQ(moves, 2);
    EXPECT_EQ(line.elementCount(), 4);
    EXPECT_EQ(line.elementAt(2).x, 40); // the run after the break starts at its own place
    EXPECT_EQ(sparklineAreaPath(broken, 10).toSubpathPolygons().size(), 2);
    // A tile with the same broken line is the same tile (nothing to lay out again).
    EXPECT_TRUE(sameSparklineSamples({1, gap, 2}, {1, gap, 2}));
    EXPECT_FALSE(sameSparklineSamples({1, gap, 2}, {1, 3, 2}));
}

TEST(Hatch, LinesSixApartCoverTheRectangle)
{
    const auto lines = hatchLines(100, 4);
    ASSERT_EQ(lines.size(), 18u);
    EXPECT_EQ(lines.front(), QLineF(-4, 4, 0, 0));
    EXPECT_DOUBLE_EQ(lines.back().x1(), 98);
    for (const QLineF& l : lines) {
        EXPECT_DOUBLE_EQ(l.dx(), 4);
        EXPECT_DOUBLE_EQ(l.dy(), -4);
    }
    EXPECT_TRUE(hatchLines(0, 4).empty());
    EXPECT_EQ(hatchLines(6, 0).size(), 1u);
}

TEST(ConditionalGlow, GlowsOnlyWhenActiveAndLuminous)
{
    const QColor tint(200, 100, 50);
    EXPECT_EQ(conditionalGlowColor(true, tint, PVDepthStyle::solid).alpha(), 0);
    EXPECT_EQ(conditionalGlowColor(false, tint, PVDepthStyle::luminous).alpha(), 0);
    const QColor glow = conditionalGlowColor(true, tint, PVDepthStyle::luminous);
    EXPECT_NEAR(glow.alphaF(), 0.35, 0.01);
    EXPECT_EQ(glow.rgb(), tint.rgb());
}

TEST(LiveIndicators, HaloStyleForEachDepthAndLiveness)
{
    const PVHaloStyle solidLive = haloStyle(PVDepthStyle::solid, true);
    EXPECT_FALSE(solidLive.glow);
    EXPECT_EQ(solidLive.ringWidth, 2);
    EXPECT_FALSE(solidLive.shadowInMark);
    EXPECT_DOUBLE_EQ(solidLive.shadowOpacity, 0.12);
    EXPECT_EQ(solidLive.shadowRadius, 10);
    EXPECT_EQ(solidLive.shadowY, 3);
    EXPECT_TRUE(solidLive.symbolSaturated);
    EXPECT_EQ(haloStyle(PVDepthStyle::solid, false), solidLive);

    const PVHaloStyle darkLive = haloStyle(PVDepthStyle::luminous, true);
    EXPECT_TRUE(darkLive.glow);
    EXPECT_EQ(darkLive.ringWidth, 1);
    EXPECT_TRUE(darkLive.shadowInMark);
    EXPECT_DOUBLE_EQ(darkLive.shadowOpacity, 0.45);
    EXPECT_EQ(darkLive.shadowRadius, 18);
    EXPECT_EQ(darkLive.shadowY, 0);
    EXPECT_FALSE(darkLive.symbolSaturated);
    const PVHaloStyle darkIdle = haloStyle(PVDepthStyle::luminous, false);
    EXPECT_FALSE(darkIdle.glow);
    EXPECT_EQ(darkIdle.ringWidth, 1);
    EXPECT_DOUBLE_EQ(darkIdle.shadowOpacity, 0);
}

TEST(LiveIndicators, IncidentBorderStopsStayInRangeAndOrdered)
{
    const auto mid = incidentBorderStops(0.5, PVDepthStyle::solid);
    EXPECT_NEAR(mid[0].position, 0.22, 1e-12);
    EXPECT_DOUBLE_EQ(mid[1].position, 0.5);
    EXPECT_NEAR(mid[2].position, 0.78, 1e-12);
    EXPECT_DOUBLE_EQ(mid[1].opacity, 0.70);
    EXPECT_DOUBLE_EQ(incidentBorderStops(0.5, PVDepthStyle::luminous)[1].opacity, 0.95);
    EXPECT_DOUBLE_EQ(mid[0].opacity, 0.2);
    // Over the whole sweep, positions stay in [0, 1] and ascend (a gradient rejects anything else).
    for (double phase = -0.3; phase <= 1.3001; phase += 0.01) {
        const auto s = incidentBorderStops(phase, PVDepthStyle::solid);
        for (const auto& stop : s) {
            EXPECT_GE(stop.position, 0.0) << phase;
            EXPECT_LE(stop.position, 1.0) << phase;
        }
        EXPECT_LE(s[0].position, s[1].position) << phase;
        EXPECT_LE(s[1].position, s[2].position) << phase;
    }
    // Beyond the corners the highlight is outside: the rim rests dim.
    for (double phase : {-0.3, 1.3}) {
        for (const auto& stop : incidentBorderStops(phase, PVDepthStyle::luminous))
            EXPECT_DOUBLE_EQ(stop.opacity, 0.2) << phase;
    }
    // Just inside a corner the bright stop is clamped to it.
    EXPECT_DOUBLE_EQ(incidentBorderStops(-0.1, PVDepthStyle::solid)[1].position, 0.001);
    EXPECT_DOUBLE_EQ(incidentBorderStops(-0.1, PVDepthStyle::solid)[1].opacity, 0.70);
    EXPECT_DOUBLE_EQ(incidentBorderStops(1.1, PVDepthStyle::solid)[1].position, 0.999);
}

TEST(LiveIndicators, PulseAndSweepPositions)
{
    EXPECT_DOUBLE_EQ(autoreverse(0.0), 0.0);
    EXPECT_DOUBLE_EQ(autoreverse(0.25), 0.5);
    EXPECT_DOUBLE_EQ(autoreverse(0.5), 1.0);
    EXPECT_DOUBLE_EQ(autoreverse(0.75), 0.5);
    EXPECT_DOUBLE_EQ(easeInOut(0.5), 0.5);
    EXPECT_LT(easeInOut(0.1), 0.1);
    const PVPulseLevels rest = liveIndicatorLevels(0);
    EXPECT_DOUBLE_EQ(rest.dot, 0.55);
    EXPECT_DOUBLE_EQ(rest.glow, 0.35);
    const PVPulseLevels lit = liveIndicatorLevels(1);
    EXPECT_DOUBLE_EQ(lit.dot, 1.0);
    EXPECT_DOUBLE_EQ(lit.glow, 0.9);
    EXPECT_DOUBLE_EQ(incidentBorderPhase(0), -0.3);
    EXPECT_DOUBLE_EQ(incidentBorderPhase(1), 1.3);
    EXPECT_DOUBLE_EQ(incidentBorderPhase(0.5), 0.5);
}

// Frames follow what changes on screen: no frame moves the loop by more than its step, the turning
// points are shown, and the gaps stay within the pacing's bounds (the eased pulse waits longer
// where it turns, the linear sweep keeps an even rate).
TEST(LiveIndicators, FramePacingFollowsThePixels)
{
    struct Case {
        double halfPeriodMs;
        bool eased;
        PVFramePacing pacing;
    } cases[] = {{kPulseHalfPeriodMs, true, kPulsePacing}, {kSweepHalfPeriodMs, false, kSweepPacing}};
    for (const Case& c : cases) {
        double t = 0;
        double previous = loopPosition(0, c.halfPeriodMs, c.eased);
        int frames = 0;
        int shortest = c.pacing.maxFrameMs;
        int longest = 0;
        bool lit = false;
        bool rested = false;
        while (t < 4 * c.halfPeriodMs) {
            const int delay = nextFrameDelayMs(t, c.halfPeriodMs, c.eased, c.pacing);
            EXPECT_GE(delay, c.pacing.minFrameMs);
            EXPECT_LE(delay, c.pacing.maxFrameMs);
            shortest = std::min(shortest, delay);
            longest = std::max(longest, delay);
            t += delay;
            const double now = loopPosition(t, c.halfPeriodMs, c.eased);
            EXPECT_LE(std::abs(now - previous), c.pacing.step * 1.05) << c.halfPeriodMs << " at " << t;
            lit = lit || now > 0.999;
            rested = rested || (t > 0 && now < 0.001);
            previous = now;
            ++frames;
        }
        EXPECT_TRUE(lit) << c.halfPeriodMs;
        EXPECT_TRUE(rested) << c.halfPeriodMs;
        // Each way takes at least 1 / step frames.
        EXPECT_GE(frames, static_cast<int>(4 / c.pacing.step) - 4) << c.halfPeriodMs;
        if (c.eased)
            EXPECT_GT(longest, 2 * shortest); // slow where the curve turns
        else
            EXPECT_EQ(longest, shortest);
    }
}

TEST(CulpritChain, StateTableGivesBadgeAndBar)
{
    using S = PVSegmentState;
    struct Row {
        S state;
        PVStatus level;
        const char* word;
        PVSegmentBarLayer layer;
        double fraction;
    };
    const std::vector<Row> table{
        {S::suspect(0.5), PVStatus::watch, "Gyanús", PVSegmentBarLayer::fill, 0.5},
        {S::faulty(PVStatus::critical), PVStatus::critical, "Ez a hibás", PVSegmentBarLayer::fill, 1.0},
        {S::faulty(PVStatus::serious), PVStatus::serious, "Ez a hibás", PVSegmentBarLayer::fill, 1.0},
        {S::unknown(QStringLiteral("nincs Wi-Fi")), PVStatus::neutral, "Nem mérhető", PVSegmentBarLayer::hatch, 1.0},
        {S::clear(), PVStatus::good, "Rendben", PVSegmentBarLayer::fill, 1.0},
        {S::notApplicable(), PVStatus::neutral, "Nincs használatban", PVSegmentBarLayer::none, 0.0},
    };
    for (const Row& r : table) {
        const auto badge = segmentBadge(r.state);
        EXPECT_EQ(badge.level, r.level) << r.word;
        EXPECT_EQ(badge.word, QString::fromUtf8(r.word));
        const auto bar = segmentBar(r.state, PVCulprit::router);
        EXPECT_EQ(bar.layer, r.layer) << r.word;
        EXPECT_DOUBLE_EQ(bar.fraction, r.fraction) << r.word;
    }
    // Bar colours: suspect in the culprit colour at 0.75, clear in the good mark at 0.4.
    const QColor suspect = segmentBar(S::suspect(0.5), PVCulprit::wifi).color.resolve(PVAppearance::light, Qt::red);
    EXPECT_EQ(suspect.rgb(), QColor(0xEB, 0x68, 0x34).rgb());
    EXPECT_NEAR(suspect.alphaF(), 0.75, 0.01);
    const QColor clear = segmentBar(S::clear(), PVCulprit::wifi).color.resolve(PVAppearance::dark, Qt::red);
    EXPECT_EQ(clear.rgb(), QColor(0x0C, 0xA3, 0x0C).rgb());
    EXPECT_NEAR(clear.alphaF(), 0.4, 0.01);
    EXPECT_DOUBLE_EQ(segmentOpacity(S::notApplicable()), 0.45);
    EXPECT_DOUBLE_EQ(segmentOpacity(S::clear()), 1.0);
}

TEST(CulpritChain, SuspectBarHasAFloorAndACeiling)
{
    EXPECT_DOUBLE_EQ(suspectBarFraction(0.0), 0.08);
    EXPECT_DOUBLE_EQ(suspectBarFraction(0.05), 0.08);
    EXPECT_DOUBLE_EQ(suspectBarFraction(-3), 0.08);
    EXPECT_DOUBLE_EQ(suspectBarFraction(0.62), 0.62);
    EXPECT_DOUBLE_EQ(suspectBarFraction(1.0), 1.0);
    EXPECT_DOUBLE_EQ(suspectBarFraction(1.7), 1.0);
    EXPECT_DOUBLE_EQ(suspectBarFraction(std::nan("")), 1.0);
    EXPECT_DOUBLE_EQ(suspectBarFraction(std::numeric_limits<double>::infinity()), 1.0);
}

TEST(CulpritChain, SpokenPercentTruncatesAndNeverOverflows)
{
    EXPECT_EQ(suspectPercent(0.736), 73);
    EXPECT_EQ(suspectPercent(0.999), 99);
    EXPECT_EQ(suspectPercent(0.29), 28); // 0.29 × 100 is just below 29
    EXPECT_EQ(suspectPercent(1.7), 170);
    EXPECT_EQ(suspectPercent(-0.015), -1);
    EXPECT_EQ(suspectPercent(std::nan("")), 0);
    EXPECT_EQ(suspectPercent(std::numeric_limits<double>::infinity()), 0);
    EXPECT_EQ(suspectPercent(1e300), std::numeric_limits<long long>::max());
    EXPECT_EQ(suspectPercent(-1e300), std::numeric_limits<long long>::min());
}

TEST(CulpritChain, SpokenLabels)
{
    using S = PVSegmentState;
    EXPECT_EQ(segmentSpokenLabel({PVCulprit::router, S::suspect(0.62), QStringLiteral("Router"), std::nullopt}),
              QStringLiteral("Router, gyanús, 62 százalék bizonyossággal"));
    EXPECT_EQ(segmentSpokenLabel({PVCulprit::provider, S::suspect(1.7), QStringLiteral("Szolgáltató"), std::nullopt}),
              QStringLiteral("Szolgáltató, gyanús, 170 százalék bizonyossággal"));
    EXPECT_EQ(segmentSpokenLabel({PVCulprit::wifi, S::faulty(PVStatus::critical), QStringLiteral("Wi-Fi"),
                                  QStringLiteral("Gyenge jel")}),
              QStringLiteral("Wi-Fi, ez a hibás, Gyenge jel"));
    EXPECT_EQ(segmentSpokenLabel({PVCulprit::wifi, S::unknown(QStringLiteral("nincs Wi-Fi kapcsolat")),
                                  QStringLiteral("Wi-Fi"), std::nullopt}),
              QStringLiteral("Wi-Fi, nem mérhető: nincs Wi-Fi kapcsolat"));
    EXPECT_EQ(segmentPhrase(S::clear()), QStringLiteral("rendben"));
    EXPECT_EQ(segmentPhrase(S::notApplicable()), QStringLiteral("nincs használatban"));
    // A caption is spoken whole, however long.
    const QString longCaption(400, QLatin1Char('x'));
    EXPECT_TRUE(segmentSpokenLabel({PVCulprit::wifi, S::clear(), QStringLiteral("Wi-Fi"), longCaption}).endsWith(longCaption));
}

TEST(CulpritChain, StatesCompareByCaseAndPayload)
{
    using S = PVSegmentState;
    EXPECT_EQ(S::suspect(0.5), S::suspect(0.5));
    EXPECT_NE(S::suspect(0.5), S::suspect(0.6));
    EXPECT_NE(S::faulty(PVStatus::watch), S::faulty(PVStatus::critical));
    EXPECT_EQ(S::unknown(QStringLiteral("a")), S::unknown(QStringLiteral("a")));
    EXPECT_NE(S::clear(), S::notApplicable());
    EXPECT_TRUE(isAccused(PVCulprit::router, PVCulprit::router));
    EXPECT_FALSE(isAccused(PVCulprit::router, std::nullopt));
    EXPECT_FALSE(isAccused(PVCulprit::wifi, PVCulprit::provider));
}

TEST(TextsOfComponents, HeroSentenceAndAdviceNumbers)
{
    EXPECT_EQ(heroAccessibleLabel(QStringLiteral("Minden rendben"), QStringLiteral("A kapcsolat stabil.")),
              QStringLiteral("Minden rendben. A kapcsolat stabil."));
    EXPECT_EQ(adviceNumberText(0), QStringLiteral("1."));
    EXPECT_EQ(adviceNumberText(9), QStringLiteral("10."));
    const PVBadgeMetrics regular = badgeMetrics(false);
    const PVBadgeMetrics compact = badgeMetrics(true);
    EXPECT_EQ(regular.paddingH, 8);
    EXPECT_EQ(regular.paddingV, 4);
    EXPECT_EQ(regular.symbolPoints, 11);
    EXPECT_EQ(regular.spacing, 6);
    EXPECT_EQ(regular.token, PVFontToken::caption);
    EXPECT_EQ(compact.paddingH, 6);
    EXPECT_EQ(compact.paddingV, 2);
    EXPECT_EQ(compact.symbolPoints, 9);
    EXPECT_EQ(compact.spacing, 4);
    EXPECT_EQ(compact.token, PVFontToken::microCaption);
}

} // namespace
} // namespace pv
