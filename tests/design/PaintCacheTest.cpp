// What the widgets keep between paints (shaped text, the drawn sparkline, the culprit chain's
// cards, the hidden middle of a card's shadow) must never show anything but what painting afresh
// would show: each cache follows its inputs, its size and the appearance.

#include "WidgetTestSupport.h"

#include "ui/design/Chart.h"
#include "ui/design/Components.h"
#include "ui/design/CulpritChain.h"
#include "ui/design/Text.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPointer>

#include <gtest/gtest.h>

namespace pv {
namespace {

using test::ThemeScope;

QImage grabbed(QWidget& w) { return w.grab().toImage().convertToFormat(QImage::Format_ARGB32); }

// Largest difference of any channel between two images of one size.
int maxDelta(const QImage& a, const QImage& b)
{
    int worst = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            worst = std::max({worst, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                              std::abs(qBlue(p) - qBlue(q)), std::abs(qAlpha(p) - qAlpha(q))});
        }
    return worst;
}

// The text as a painter's drawText sets it on the widget's background: what PVText painted before
// it kept its shaped lines.
QImage drawnDirectly(const PVText& text, PVAppearance appearance)
{
    QImage image(text.size(), QImage::Format_ARGB32);
    image.fill(text.palette().window().color());
    QPainter p(&image);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.setFont(text.currentFont());
    p.setPen(PV::color::ink::primary.color(appearance));
    p.drawText(QPointF(0, QFontMetricsF(text.currentFont()).ascent()), text.text());
    return image;
}

TEST(PaintCache, TextPaintsItsShapedLinesExactlyAsDrawnAndFollowsTextAndScale)
{
    for (PVAppearance a : {PVAppearance::light, PVAppearance::dark}) {
        ThemeScope theme(a);
        PVText text(QStringLiteral("Mérés folyamatban — 14 ms"), PVFontToken::body, PV::color::ink::primary);
        text.setWrapping(false);
        text.resize(260, 24);
        EXPECT_EQ(grabbed(text), drawnDirectly(text, a));
        text.setText(QStringLiteral("Őrzött érték: 16 ms"));
        EXPECT_EQ(grabbed(text), drawnDirectly(text, a));
        // A larger text size lays the same text out again.
        const QImage before = grabbed(text);
        PVTheme::instance().setTextScale(1.5);
        const QImage larger = grabbed(text);
        EXPECT_EQ(larger, drawnDirectly(text, a));
        PVTheme::instance().setTextScale(1.0);
        EXPECT_NE(larger, before);
        EXPECT_EQ(grabbed(text), before);
    }
}

TEST(PaintCache, RightAlignedTextMovesWithTheWidth)
{
    ThemeScope theme(PVAppearance::light);
    PVText text(QStringLiteral("08:57"), PVFontToken::monoDataSmall, PV::color::ink::primary);
    text.setWrapping(false);
    text.setHorizontalAlignment(Qt::AlignRight);
    auto inkRight = [&] {
        const QImage img = grabbed(text);
        const QRgb bg = img.pixel(0, 0);
        int right = -1;
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x)
                if (img.pixel(x, y) != bg)
                    right = std::max(right, x);
        return right;
    };
    text.resize(120, 18);
    const int narrow = inkRight();
    text.resize(200, 18);
    EXPECT_EQ(inkRight(), narrow + 80);
}

TEST(PaintCache, SparklineRedrawsForNewSamplesSizeAndAppearance)
{
    ThemeScope theme(PVAppearance::light);
    PVSparkline line({3, 9, 4, 12, 5}, PV::color::ink::primary, false);
    line.resize(160, 28);
    // The copy is the drawing: the same as painting the samples directly onto the background.
    auto direct = [&](const std::vector<double>& samples) {
        QImage image(line.size(), QImage::Format_ARGB32);
        image.fill(line.palette().window().color());
        QPainter p(&image);
        const int room = PVSparkline::kStrokeRoom;
        PVSparkline::paintSparkline(p, QRectF(room, room, line.width() - 2 * room, line.height() - 2 * room), samples,
                                    PV::color::ink::primary.color(PVTheme::instance().appearance()), false);
        return image;
    };
    EXPECT_LE(maxDelta(grabbed(line), direct({3, 9, 4, 12, 5})), 2);
    line.setSamples({12, 5, 9, 3, 4});
    EXPECT_LE(maxDelta(grabbed(line), direct({12, 5, 9, 3, 4})), 2);
    EXPECT_GT(maxDelta(grabbed(line), direct({3, 9, 4, 12, 5})), 64);
    line.resize(240, 28);
    EXPECT_EQ(grabbed(line).width(), 240);
    EXPECT_LE(maxDelta(grabbed(line), direct({12, 5, 9, 3, 4})), 2);
    PVTheme::instance().setAppearanceOverride(PVAppearance::dark);
    EXPECT_LE(maxDelta(grabbed(line), direct({12, 5, 9, 3, 4})), 2);
}

TEST(PaintCache, StatTileReportsWhetherItsDataChanged)
{
    ThemeScope theme(PVAppearance::light);
    PVStatTileData data{QStringLiteral("Router"), QStringLiteral("12"), QStringLiteral("ms"), std::nullopt,
                        PV::color::culprit::router, PVStatus::good, {5, 6}, false};
    PVStatTile tile(data);
    EXPECT_FALSE(tile.setData(data));
    data.samples.push_back(7);
    EXPECT_TRUE(tile.setData(data));
    EXPECT_EQ(tile.data().samples.size(), 3u);
    data.value = QStringLiteral("13");
    EXPECT_TRUE(tile.setData(data));
    EXPECT_EQ(tile.data().value, QStringLiteral("13"));
}

TEST(PaintCache, CulpritChainKeepsItsCardsForTheSameChainOnly)
{
    ThemeScope theme(PVAppearance::light);
    std::vector<PVSegment> segments{
        {PVCulprit::wifi, PVSegmentState::clear(), QStringLiteral("Wi-Fi"), QStringLiteral("-54 dBm")},
        {PVCulprit::router, PVSegmentState::clear(), QStringLiteral("Router"), std::nullopt}};
    PVCulpritChain chain(segments, std::nullopt, false);
    chain.resize(600, chain.heightForWidth(600));
    chain.show();
    test::settle();
    QPointer<QWidget> first = chain.card(0);
    chain.setChain(segments, std::nullopt, false);
    EXPECT_EQ(chain.card(0), first.data());
    // A changed state, accusation or live incident makes new cards; the old ones are out of
    // sight at once, not only when they are deleted.
    for (int change = 0; change < 3; ++change) {
        if (change == 0)
            segments[1].state = PVSegmentState::faulty(PVStatus::critical);
        chain.setChain(segments, change >= 1 ? std::optional<PVCulprit>(PVCulprit::router) : std::nullopt, change == 2);
        EXPECT_NE(chain.card(0), first.data()) << change;
        ASSERT_FALSE(first.isNull());
        EXPECT_TRUE(first->isHidden()) << change;
        first = chain.card(0);
    }
    EXPECT_TRUE(static_cast<PVSegmentCard*>(chain.card(1))->isGlowing());
}

TEST(PaintCache, ShadowMiddleUnderAnOpaqueCardIsNeverSeen)
{
    // Shadow, then the opaque card over it: leaving out the hidden middle changes no pixel.
    struct Case {
        QSizeF card;
        double radius;
        PVShadowSpec shadow;
    };
    const Case cases[] = {{{300, 120}, 14, {0.05, 3, 0, 1}},
                          {{520, 160}, 18, {0.08, 10, 0, 3}},
                          {{400, 200}, 14, {0.60, 24, 0, 10}}};
    for (const Case& c : cases) {
        auto paint = [&](bool opaqueAbove) {
            QImage image(QSize(640, 300), QImage::Format_ARGB32_Premultiplied);
            image.fill(QColor(0xF4, 0xF6, 0xF9));
            QPainter p(&image);
            const QRectF card(QPointF(40, 40), c.card);
            QColor black(Qt::black);
            black.setAlphaF(static_cast<float>(c.shadow.opacity));
            pvPaintShadow(p, card, c.radius, black, c.shadow.radius, QPointF(c.shadow.x, c.shadow.y), opaqueAbove);
            p.setRenderHint(QPainter::Antialiasing);
            p.setPen(Qt::NoPen);
            p.setBrush(QColor(Qt::white));
            p.drawRoundedRect(card, c.radius, c.radius);
            return image;
        };
        EXPECT_EQ(paint(true), paint(false)) << c.card.width();
    }
}

TEST(PaintCache, OutlinedSurfaceCopiedInSlicesLooksAsPaintedDirectly)
{
    // Sizes around the tile (radius + 2 on each side of one middle pixel) and far beyond it, a
    // narrow one, corners of whole and half pixels, and a translucent fill.
    struct Case {
        QSizeF size;
        double radius;
        QColor fill;
    };
    const QColor card(0xFF, 0xFF, 0xFF), wash(40, 160, 90, 60);
    const Case cases[] = {{{29, 29}, 12, card},   {{30, 31}, 12, card},   {{300, 200}, 12, card},
                          {{1100, 640}, 16, card}, {{40, 500}, 8.5, card}, {{240, 90}, 10, wash},
                          {{200, 60}, 0, card}};
    const QColor border(0xD0, 0xD5, 0xDD);
    for (const Case& c : cases) {
        auto paint = [&](double opacity) {
            QImage image(c.size.toSize() + QSize(20, 20), QImage::Format_ARGB32_Premultiplied);
            image.fill(QColor(0xF4, 0xF6, 0xF9));
            QPainter p(&image);
            p.setOpacity(opacity); // any opacity but exactly 1 paints directly, 1 - 1e-9 still looks opaque
            pvPaintOutlinedRoundedRect(p, QRectF(QPointF(10, 10), c.size), c.radius, c.fill, border, 1.0);
            return image.convertToFormat(QImage::Format_ARGB32);
        };
        // A copy is blended over the background once where the direct paint blends fill and border
        // one after the other: a rounding apart on antialiased pixels, never a misplaced slice.
        EXPECT_LE(maxDelta(paint(1.0), paint(1.0 - 1e-9)), 3) << c.size.width() << "x" << c.size.height();
        // Copied from the cache the second time: the same again.
        EXPECT_LE(maxDelta(paint(1.0), paint(1.0 - 1e-9)), 3) << c.size.width() << "x" << c.size.height();
    }
}

TEST(PaintCache, ChartOnAnOpaqueBackgroundIsRedrawnForItsSpecSizeAndAppearance)
{
    ThemeScope theme(PVAppearance::light);
    auto spec = [](double lift) {
        PVChartSpec s;
        s.x.format = PVAxisFormat::number;
        PVLineMark line;
        line.color = PV::color::culprit::router;
        for (int i = 0; i < 30; ++i)
            line.points.emplace_back(i, 5 + lift + (i % 7));
        s.lines.push_back(line);
        return s;
    };
    PVChartView chart;
    chart.setOpaqueBackground(PVColor(PV::color::surface::card));
    chart.resize(360, 140);
    // What painting the chart in place onto the card's colour shows.
    auto direct = [&](const PVChartSpec& s) {
        QImage image(chart.size(), QImage::Format_ARGB32);
        image.fill(PV::color::surface::card.color(PVTheme::instance().appearance()));
        QPainter p(&image);
        paintChart(p, QRectF(chart.rect()), s, PVChartStyle::dashboard(PVPaintContext::forWidget(&chart)));
        return image;
    };
    chart.setSpec(spec(0));
    EXPECT_LE(maxDelta(grabbed(chart), direct(spec(0))), 1);
    chart.setSpec(spec(20));
    EXPECT_LE(maxDelta(grabbed(chart), direct(spec(20))), 1);
    EXPECT_GT(maxDelta(grabbed(chart), direct(spec(0))), 64);
    chart.resize(480, 140);
    EXPECT_LE(maxDelta(grabbed(chart), direct(spec(20))), 1);
    PVTheme::instance().setAppearanceOverride(PVAppearance::dark);
    EXPECT_LE(maxDelta(grabbed(chart), direct(spec(20))), 1);
}

} // namespace
} // namespace pv
