// Widgets painted offscreen: what they paint, where, and how they behave when the appearance, the
// motion switch or their inputs change.

#include "WidgetTestSupport.h"

#include "ui/design/Chart.h"
#include "ui/design/ChartAccessibility.h"
#include "ui/design/Components.h"
#include "ui/design/CulpritChain.h"
#include "ui/design/LiveIndicators.h"
#include "ui/design/Text.h"

#include <QGraphicsOpacityEffect>
#include <QMouseEvent>
#include <QPainter>
#include <QPicture>
#include <QDateTime>
#include <QSet>
#include <QBackingStore>
#include <QElapsedTimer>
#include <QPaintEvent>
#include <QScrollArea>

#include <gtest/gtest.h>

#include <cmath>

namespace pv {
namespace {

using test::countNear;
using test::Stage;
using test::ThemeScope;
using test::token;

using S = PVSegmentState;

std::vector<PVSegment> threeSegments()
{
    return {{PVCulprit::wifi, S::clear(), QStringLiteral("Wi-Fi"), QStringLiteral("Erős jel")},
            {PVCulprit::router, S::suspect(0.62), QStringLiteral("Router"), std::nullopt},
            {PVCulprit::provider, S::faulty(PVStatus::critical), QStringLiteral("Szolgáltató"), std::nullopt}};
}

TEST(Badge, PaintsItsStatusColoursAndMeasuresItsPadding)
{
    ThemeScope theme(PVAppearance::light);
    PVStatusBadge badge(PVStatus::critical, QStringLiteral("Kritikus"), false);
    PVStatusBadge compact(PVStatus::critical, QStringLiteral("Kritikus"), true);
    badge.resize(badge.sizeHint());
    const QImage img = badge.grab().toImage();
    EXPECT_GT(countNear(img, token(statusWash(PVStatus::critical)), 3), 30);
    EXPECT_GT(countNear(img, token(statusMarkSaturated(PVStatus::critical)), 12), 10);
    EXPECT_GT(countNear(img, token(statusBorder(PVStatus::critical)), 8), 10);
    // Regular: 8 × 4 padding, symbol 11; compact: 6 × 2, symbol 9, smaller type.
    EXPECT_GT(badge.sizeHint().width(), compact.sizeHint().width());
    EXPECT_GT(badge.sizeHint().height(), compact.sizeHint().height());
    EXPECT_GE(badge.sizeHint().height(), static_cast<int>(symbolBox(11)) + 8);
    EXPECT_EQ(badge.accessibleName(), QStringLiteral("Kritikus"));
}

TEST(Theme, SwitchingAppearanceRecoloursWithoutRebuilding)
{
    ThemeScope theme(PVAppearance::light);
    PVStatTile tile({QStringLiteral("Router"), QStringLiteral("12"), QStringLiteral("ms"), std::nullopt,
                     PV::color::culprit::router, std::nullopt, {}, false});
    tile.resize(240, 132);
    const QPoint probe(tile.width() - 10, tile.height() - 10);
    EXPECT_EQ(tile.grab().toImage().pixel(probe) & 0xFFFFFF, 0xEEF2F7u);
    PVTheme::instance().setAppearanceOverride(PVAppearance::dark);
    EXPECT_EQ(tile.grab().toImage().pixel(probe) & 0xFFFFFF, 0x0A0E13u);
}

TEST(Depth, StyleComesFromAResolvingAncestorOnly)
{
    QWidget orphan;
    EXPECT_EQ(pvDepthStyle(&orphan, PVAppearance::dark), PVDepthStyle::solid);
    QWidget root;
    pvResolveDepthStyle(&root);
    QWidget child(&root);
    QWidget grandchild(&child);
    EXPECT_EQ(pvDepthStyle(&grandchild, PVAppearance::dark), PVDepthStyle::luminous);
    EXPECT_EQ(pvDepthStyle(&grandchild, PVAppearance::darkHighContrast), PVDepthStyle::luminous);
    EXPECT_EQ(pvDepthStyle(&grandchild, PVAppearance::light), PVDepthStyle::solid);
}

TEST(Depth, HostPaintsCardShadowsOutsideTheCard)
{
    for (PVAppearance a : {PVAppearance::light, PVAppearance::dark}) {
        ThemeScope theme(a);
        Stage stage(400, 40);
        auto* card = stage.add(new PVSectionCard(QStringLiteral("Kártya"), std::nullopt));
        card->setFixedHeight(80);
        const QImage img = stage.render();
        const QColor canvas = token(PV::color::surface::canvas);
        const QRect cardRect = card->geometry();
        // Just below the card: the solid e1 shadow darkens the canvas; luminous e1 casts none.
        const QRgb below = img.pixel(cardRect.center().x(), cardRect.bottom() + 2);
        if (a == PVAppearance::light)
            EXPECT_LT(qGray(below), qGray(canvas.rgb()));
        else
            EXPECT_TRUE(test::near(below, canvas.rgb(), 1));
        // Far from the card the canvas is untouched.
        EXPECT_TRUE(test::near(img.pixel(2, 2), canvas.rgb(), 0));
    }
}

TEST(Depth, RaisedAndPlainCardsDifferOnlyInDark)
{
    for (PVAppearance a : {PVAppearance::light, PVAppearance::dark}) {
        ThemeScope theme(a);
        PVCardFrame plain(PVElevation::e1, 14, false);
        PVCardFrame raised(PVElevation::e1, 14, true);
        plain.resize(100, 60);
        raised.resize(100, 60);
        const QRgb p = plain.grab().toImage().pixel(50, 30);
        const QRgb r = raised.grab().toImage().pixel(50, 30);
        EXPECT_EQ(p == r, a == PVAppearance::light);
        // The 1-pt border lies inside the card.
        EXPECT_TRUE(test::near(plain.grab().toImage().pixel(50, 0), token(PV::color::line::border).rgb(), 2));
    }
}

TEST(StatTile, KeepsItsMinimumHeightAndGrowsForALongCaption)
{
    ThemeScope theme(PVAppearance::light);
    PVStatTileData data{QStringLiteral("Router"), QStringLiteral("12"), QStringLiteral("ms"), std::nullopt,
                        PV::color::culprit::router, PVStatus::good, {5}, false};
    PVStatTile tile(data);
    EXPECT_FALSE(tile.showsSparkline());
    data.samples = {5, 6};
    tile.setData(data);
    EXPECT_TRUE(tile.showsSparkline());
    data.caption = QStringLiteral("Ez egy nagyon hosszú magyarázó szöveg, amely több sorba tördelődik, és soha nem "
                                  "vágódhat le, bármilyen keskeny is a csempe, mert a felhasználónak el kell olvasnia.");
    tile.setData(data);
    EXPECT_GT(tile.heightForWidth(200), PVStatTile::kMinimumHeight);
    EXPECT_GT(tile.heightForWidth(200), tile.heightForWidth(600));
}

TEST(Text, WrapsWithoutCuttingAndElidesOnlyWithALimit)
{
    ThemeScope theme(PVAppearance::light);
    const QString longText = QStringLiteral("Egy két három négy öt hat hét nyolc kilenc tíz tizenegy tizenkettő");
    PVText free(longText, PVFontToken::body, PV::color::ink::primary);
    PVText limited(longText, PVFontToken::body, PV::color::ink::primary);
    limited.setMaxLines(2);
    EXPECT_GT(free.lineCount(80), 2);
    EXPECT_EQ(limited.lineCount(80), 2);
    // Line height plus the token's extra leading between lines.
    const int one = free.heightForWidth(2000);
    const int two = limited.heightForWidth(80);
    EXPECT_NEAR(two - 2 * one, 6, 1);
    EXPECT_GE(free.minimumSizeHint().width(), 40); // the longest word is never split
}

TEST(Hero, LiveRowTakesNoRoomWhenNotLiveAndReadsOneSentence)
{
    ThemeScope theme(PVAppearance::light);
    PVVerdictHero live(PVStatus::good, QStringLiteral("Minden rendben"), QStringLiteral("A kapcsolat stabil."), true,
                       QStringLiteral("Élő"));
    PVVerdictHero idle(PVStatus::good, QStringLiteral("Minden rendben"), QStringLiteral("A kapcsolat stabil."), false,
                       QStringLiteral("Élő"));
    EXPECT_GT(live.heightForWidth(600), idle.heightForWidth(600));
    EXPECT_EQ(live.accessibleName(), QStringLiteral("Minden rendben. A kapcsolat stabil."));
    EXPECT_GT(idle.heightForWidth(300), idle.heightForWidth(900)); // long texts wrap and grow the card
}

TEST(LiveIndicator, AnimatesOnlyWhileShownAndHoldsStillWhenMotionIsReduced)
{
    ThemeScope theme(PVAppearance::dark);
    QWidget window;
    auto* indicator = new PVLiveIndicator(PV::color::culprit::router, QStringLiteral("Élő mérés"), &window);
    EXPECT_FALSE(indicator->isAnimating());
    window.show();
    test::settle();
    EXPECT_TRUE(indicator->isAnimating());
    window.hide();
    test::settle();
    EXPECT_FALSE(indicator->isAnimating());
    PVTheme::instance().setReduceMotionOverride(true);
    window.show();
    test::settle();
    EXPECT_FALSE(indicator->isAnimating());
    EXPECT_DOUBLE_EQ(indicator->levels().dot, 1.0);
    EXPECT_DOUBLE_EQ(indicator->levels().glow, 0.9);
    EXPECT_EQ(indicator->accessibleName(), QStringLiteral("Élő mérés"));
}

namespace {
// Runs the event loop until `done` holds; false if it still does not after a generous while.
template <class F>
bool waitUntil(F done)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > 10'000)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    }
    return true;
}

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
public:
    explicit PaintCounter(QWidget* w) { w->installEventFilter(this); }
    int count = 0;
    QRegion region;

protected:
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::Paint) {
            ++count;
            region += static_cast<QPaintEvent*>(e)->region();
        }
        return false;
    }
};
} // namespace

// A frame of the pulse repaints the dot's disc and nothing beside it or under it (in the solid
// style the dot keeps a copy of its background), and that disc holds every pixel the dot paints.
// In the luminous style the glow pane paints glow and dot from its own copy of what lies under it,
// so there a frame repaints the pane alone, not the caption under the glow nor the row.
TEST(LiveIndicator, AFrameRepaintsOnlyTheDot)
{
    for (PVAppearance appearance : {PVAppearance::light, PVAppearance::dark}) {
        ThemeScope theme(appearance);
        test::Stage stage(300);
        auto* indicator = new PVLiveIndicator(PV::color::culprit::router, QStringLiteral("Élő mérés"));
        stage.add(indicator);
        stage.root()->resize(300, 60);
        stage.root()->show();
        test::settle();
        const bool luminous = PVPaintContext::forWidget(indicator).luminous();
        EXPECT_EQ(luminous, appearance == PVAppearance::dark);
        QWidget* caption = indicator->findChild<PVText*>();
        ASSERT_NE(caption, nullptr);
        QWidget* pane = indicator->glowPane();
        ASSERT_EQ(pane != nullptr && pane->isVisible(), luminous);
        QWidget* framed = luminous ? pane : indicator->dotBox();
        // The first frames take the copy of the background; count from then on.
        ASSERT_TRUE(waitUntil([&] { return framed->testAttribute(Qt::WA_OpaquePaintEvent); }));
        test::settle();
        PaintCounter captionPaints(caption);
        PaintCounter rowPaints(indicator);
        PaintCounter framePaints(framed);
        PaintCounter hostPaints(stage.root());
        ASSERT_TRUE(waitUntil([&] { return framePaints.count >= 3; }));
        EXPECT_TRUE(framed->testAttribute(Qt::WA_OpaquePaintEvent));
        EXPECT_EQ(rowPaints.count, 0) << rowPaints.count;
        EXPECT_EQ(captionPaints.count, 0);
        EXPECT_EQ(hostPaints.count, 0);
        if (luminous) { // the pane lies over the dot and the caption's start
            EXPECT_TRUE(pane->geometry().contains(QRect(indicator->dotBox()->mapTo(stage.root(), QPoint(0, 0)),
                                                         indicator->dotBox()->size())));
        }
        // What the screen shows after the frames (the window's backing store), for review.
        const auto* screen = static_cast<const QImage*>(stage.root()->backingStore()->paintDevice());
        screen->copy(stage.root()->rect()).save(test::screensDir() + QStringLiteral("/live-dot-after-frames-%1.png").arg(rawValue(appearance)));
        if (!luminous) {
            EXPECT_EQ(framePaints.region.boundingRect(), PVLiveIndicator::dotFrameRect());
        }
    }
    EXPECT_TRUE(QRect(0, 0, 14, 14).contains(PVLiveIndicator::dotFrameRect()));
    QImage image(PVLiveIndicator::dotFrameRect().bottomRight().x() + 4, 20, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter p(&image);
        PVLiveIndicator::paintDot(p, Qt::black);
    }
    int inside = 0;
    int outside = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(image.pixel(x, y)) != 0)
                ++(PVLiveIndicator::dotFrameRect().contains(QPoint(x, y)) ? inside : outside);
    EXPECT_GT(inside, 20);
    EXPECT_EQ(outside, 0);
    // The copied dot looks as the drawn one at every opacity of the pulse.
    for (double opacity : {0.55, 0.7, 1.0}) {
        QImage drawn(14, 14, QImage::Format_ARGB32_Premultiplied);
        QImage copied(14, 14, QImage::Format_ARGB32_Premultiplied);
        drawn.fill(QColor(240, 240, 235));
        copied.fill(QColor(240, 240, 235));
        QColor faded(30, 160, 90);
        faded.setAlphaF(static_cast<float>(opacity));
        {
            QPainter p(&drawn);
            PVLiveIndicator::paintDot(p, faded);
        }
        {
            QPainter p(&copied);
            PVLiveIndicator::paintDotFaded(p, QColor(30, 160, 90), opacity);
        }
        int worst = 0;
        for (int y = 0; y < 14; ++y)
            for (int x = 0; x < 14; ++x) {
                const QRgb a = drawn.pixel(x, y);
                const QRgb b = copied.pixel(x, y);
                worst = std::max({worst, std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                                  std::abs(qBlue(a) - qBlue(b))});
            }
        EXPECT_LE(worst, 2) << opacity;
    }
}

// The dot's copy of its background follows the background: when what lies under it changes, the
// screen shows the new background around the dot, also after further frames.
TEST(LiveIndicator, DotBackgroundFollowsWhatLiesUnderIt)
{
    ThemeScope theme(PVAppearance::light);
    QWidget window;
    window.resize(200, 60);
    auto* backdrop = new QWidget(&window);
    backdrop->setGeometry(window.rect());
    backdrop->setAutoFillBackground(true);
    auto paintBackdrop = [&](QColor colour) {
        QPalette palette = backdrop->palette();
        palette.setColor(QPalette::Window, colour);
        backdrop->setPalette(palette);
    };
    paintBackdrop(QColor(200, 30, 30));
    auto* indicator = new PVLiveIndicator(PV::color::culprit::router, QStringLiteral("Élő"), backdrop);
    indicator->setGeometry(10, 10, 150, 20);
    window.show();
    test::settle();
    QWidget* dot = indicator->dotBox();
    auto screenAt = [&](QPoint inDot) {
        auto* screen = static_cast<QImage*>(window.backingStore()->paintDevice());
        return QColor(screen->pixel(dot->mapTo(&window, inDot))).rgb();
    };
    PaintCounter dotPaints(dot);
    ASSERT_TRUE(waitUntil([&] { return dot->testAttribute(Qt::WA_OpaquePaintEvent) && dotPaints.count >= 2; }));
    EXPECT_EQ(screenAt(QPoint(0, 0)), QColor(200, 30, 30).rgb());
    paintBackdrop(QColor(30, 30, 200));
    const int before = dotPaints.count;
    ASSERT_TRUE(waitUntil([&] { return dotPaints.count >= before + 3; }));
    EXPECT_EQ(screenAt(QPoint(0, 0)), QColor(30, 30, 200).rgb());
    EXPECT_EQ(screenAt(QPoint(dot->width() - 1, dot->height() - 1)), QColor(30, 30, 200).rgb());
    EXPECT_NE(screenAt(dot->rect().center()), QColor(30, 30, 200).rgb()); // the dot itself
}

// The glow pane stays on the dot when the row moves, shows a new background under it after a
// change there, and goes away (the dot box paints the dot again) in the solid style.
TEST(LiveIndicator, GlowPaneFollowsTheDotAndWhatLiesUnderIt)
{
    ThemeScope theme(PVAppearance::dark);
    test::Stage stage(300);
    auto* spacer = stage.add(new QWidget());
    spacer->setFixedHeight(10);
    auto* indicator = stage.add(new PVLiveIndicator(PV::color::culprit::router, QStringLiteral("Élő mérés")));
    stage.root()->resize(300, 160);
    stage.root()->show();
    test::settle();
    QWidget* dot = indicator->dotBox();
    auto onPane = [&] {
        QWidget* pane = indicator->glowPane();
        return pane != nullptr && pane->isVisible() &&
               pane->geometry() == PVLiveIndicator::glowRect().translated(dot->mapTo(stage.root(), QPoint(0, 0)));
    };
    auto screenAt = [&](QPoint inDot) {
        auto* screen = static_cast<QImage*>(stage.root()->backingStore()->paintDevice());
        return QColor(screen->pixel(dot->mapTo(stage.root(), inDot)));
    };
    ASSERT_TRUE(waitUntil([&] { return onPane() && indicator->glowPane()->testAttribute(Qt::WA_OpaquePaintEvent); }));
    const QColor canvas = PV::color::surface::canvas.color(PVAppearance::dark);
    EXPECT_NE(screenAt(QPoint(-3, 7)).rgb(), canvas.rgb()) << "the glow shows beside the dot";

    spacer->setFixedHeight(40); // the row moves down
    ASSERT_TRUE(waitUntil(onPane));
    stage.root()->setBackground(PV::color::surface::card);
    const QColor card = PV::color::surface::card.color(PVAppearance::dark);
    ASSERT_TRUE(waitUntil([&] {
        // Inside the pane, where the glow has faded to nothing.
        return screenAt(PVLiveIndicator::glowRect().topLeft() + QPoint(1, 1)).rgb() == card.rgb();
    }));

    PVTheme::instance().setAppearanceOverride(PVAppearance::light);
    ASSERT_TRUE(waitUntil([&] { return indicator->glowPane() == nullptr || indicator->glowPane()->isHidden(); }));
    PaintCounter dotPaints(dot);
    EXPECT_TRUE(waitUntil([&] { return dotPaints.count >= 2; }));
    EXPECT_NE(screenAt(dot->rect().center()).rgb(), PV::color::surface::card.color(PVAppearance::light).rgb());
}

// Out of sight the pulse paints nothing: scrolled away it only looks now and then whether it is
// back, and a minimised window stops it until it is restored.
TEST(LiveIndicator, PaintsOnlyWhileOnScreen)
{
    ThemeScope theme(PVAppearance::light);
    QScrollArea area;
    area.resize(300, 200);
    auto* content = new QWidget();
    content->resize(280, 2000);
    auto* indicator = new PVLiveIndicator(PV::color::culprit::router, QStringLiteral("Élő mérés"), content);
    indicator->setGeometry(10, 1800, 200, 20);
    area.setWidget(content);
    area.show();
    test::settle();
    EXPECT_TRUE(indicator->isAnimating());
    auto* loop = indicator->findChild<PVLoopAnimation*>();
    ASSERT_NE(loop, nullptr);
    EXPECT_TRUE(waitUntil([&] { return !loop->isPainting(); }));
    PaintCounter dotPaints(indicator->dotBox());
    area.ensureWidgetVisible(indicator);
    EXPECT_TRUE(waitUntil([&] { return loop->isPainting() && dotPaints.count >= 2; }));

    area.showMinimized();
    test::settle();
    if (area.isMinimized()) { // a platform without minimising leaves the window as it is
        EXPECT_FALSE(indicator->isAnimating());
        area.showNormal();
        test::settle();
        EXPECT_TRUE(indicator->isAnimating());
    }
}

// A refresh sets the hero's halo and live row to the same state every few seconds: only a change
// repaints them.
TEST(LiveIndicator, SettingTheSameStateRepaintsNothing)
{
    ThemeScope theme(PVAppearance::light, true);
    test::Stage stage(400);
    auto* halo = stage.add(new PVStatusHalo(PVStatus::good, true, 56));
    auto* indicator = stage.add(new PVLiveIndicator(statusMark(PVStatus::good), QStringLiteral("Élő")));
    stage.root()->resize(400, 200);
    stage.root()->show();
    test::settle();
    PaintCounter haloPaints(halo);
    PaintCounter dotPaints(indicator->dotBox());
    halo->setLevel(PVStatus::good);
    halo->setLive(true);
    indicator->setTint(statusMark(PVStatus::good));
    indicator->setLabel(QStringLiteral("Élő"));
    test::settle();
    EXPECT_EQ(haloPaints.count, 0);
    EXPECT_EQ(dotPaints.count, 0);
    halo->setLevel(PVStatus::critical);
    indicator->setTint(statusMark(PVStatus::critical));
    test::settle();
    EXPECT_GT(haloPaints.count, 0);
    EXPECT_GT(dotPaints.count, 0);
}

// Two pulses on screen light up together, also when one appears later, so they share each repaint.
TEST(LiveIndicator, PulsesRunInStep)
{
    ThemeScope theme(PVAppearance::light);
    QWidget window;
    window.resize(300, 100);
    auto* first = new PVLiveIndicator(PV::color::culprit::router, QStringLiteral("Élő"), &window);
    auto* second = new PVLiveIndicator(PV::color::culprit::router, QStringLiteral("Élő"), &window);
    second->move(0, 40);
    second->hide();
    window.show();
    test::settle();
    PaintCounter firstPaints(first->dotBox());
    ASSERT_TRUE(waitUntil([&] { return firstPaints.count >= 2; }));
    second->show();
    PaintCounter secondPaints(second->dotBox());
    ASSERT_TRUE(waitUntil([&] { return secondPaints.count >= 3; }));
    EXPECT_DOUBLE_EQ(first->levels().dot, second->levels().dot);
    EXPECT_GT(firstPaints.count, 2);
}

TEST(LiveIncidentBorder, SweepsWhileShownAndRestsMidwayWhenMotionIsReduced)
{
    ThemeScope theme(PVAppearance::light, true);
    QWidget card;
    card.resize(200, 100);
    auto* border = new PVLiveIncidentBorder(&card, PVStatus::critical, 14);
    card.show();
    test::settle();
    EXPECT_FALSE(border->isAnimating());
    EXPECT_DOUBLE_EQ(border->phase(), 0.5);
    EXPECT_EQ(border->geometry(), card.rect());
    PVTheme::instance().setReduceMotionOverride(false);
    test::settle();
    EXPECT_TRUE(border->isAnimating());
    card.resize(300, 120);
    test::settle();
    EXPECT_EQ(border->geometry(), card.rect());
}

// A frame of the sweep repaints only the band along the edge, and that band holds every pixel the
// stroke paints at any phase: nothing of an older frame may stay behind outside it.
TEST(LiveIncidentBorder, AFrameRepaintsTheBandTheStrokeLiesIn)
{
    struct Case {
        QSize size;
        double radius;
        PVDepthStyle depth;
    } cases[] = {{{200, 100}, 14, PVDepthStyle::solid},
                 {{420, 160}, 22, PVDepthStyle::luminous},
                 {{60, 40}, 4, PVDepthStyle::solid}};
    for (const Case& c : cases) {
        QWidget card;
        card.resize(c.size);
        auto* border = new PVLiveIncidentBorder(&card, PVStatus::critical, c.radius);
        const QRegion band = border->borderRegion();
        EXPECT_FALSE(band.contains(card.rect().center())) << c.size.width();
        const PVPaintContext ctx = PVPaintContext::forAppearance(PVAppearance::dark, c.depth);
        for (double phase : {-0.3, 0.1, 0.5, 0.9, 1.3}) {
            QImage image(c.size, QImage::Format_ARGB32_Premultiplied);
            image.fill(Qt::transparent);
            {
                QPainter p(&image);
                PVLiveIncidentBorder::paintBorder(p, QRectF(QPointF(0, 0), QSizeF(c.size)), c.radius,
                                                  PVStatus::critical, phase, ctx);
            }
            int outside = 0;
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x)
                    if (qAlpha(image.pixel(x, y)) != 0 && !band.contains(QPoint(x, y)))
                        ++outside;
            EXPECT_EQ(outside, 0) << c.size.width() << "x" << c.size.height() << " phase " << phase;
        }
    }
}

TEST(CulpritChainWidget, RowWhenItFitsColumnOtherwise)
{
    ThemeScope theme(PVAppearance::light);
    PVCulpritChain chain(threeSegments(), PVCulprit::router, true);
    chain.show();
    ASSERT_EQ(chain.cardCount(), 3u);
    chain.resize(chain.rowWidth() + 40, chain.heightForWidth(chain.rowWidth() + 40));
    test::settle();
    EXPECT_TRUE(chain.isRow());
    EXPECT_LT(chain.card(0)->geometry().right(), chain.card(1)->x());
    chain.resize(chain.rowWidth() - 1, chain.heightForWidth(chain.rowWidth() - 1));
    test::settle();
    EXPECT_FALSE(chain.isRow());
    EXPECT_LT(chain.card(0)->geometry().bottom(), chain.card(1)->y());
    for (std::size_t i = 0; i < 3; ++i)
        EXPECT_GE(chain.card(i)->height(), PVSegmentCard::kMinimumHeight);
    EXPECT_GT(chain.heightForWidth(300), chain.heightForWidth(chain.rowWidth()));
}

TEST(CulpritChainWidget, AccusationBorderGlowAndDimming)
{
    ThemeScope theme(PVAppearance::dark);
    auto segments = threeSegments();
    segments[0].state = S::notApplicable();
    PVCulpritChain liveChain(segments, PVCulprit::router, true);
    auto* router = static_cast<PVSegmentCard*>(liveChain.card(1));
    EXPECT_TRUE(router->isAccused());
    EXPECT_TRUE(router->isGlowing());
    EXPECT_FALSE(static_cast<PVSegmentCard*>(liveChain.card(2))->isAccused());
    // Dimmed when not in use.
    auto* dim = qobject_cast<QGraphicsOpacityEffect*>(liveChain.card(0)->graphicsEffect());
    ASSERT_NE(dim, nullptr);
    EXPECT_DOUBLE_EQ(dim->opacity(), 0.45);
    EXPECT_EQ(liveChain.card(1)->graphicsEffect(), nullptr);
    // Accused but no live incident: border, no glow.
    PVCulpritChain quiet(segments, PVCulprit::router, false);
    EXPECT_TRUE(static_cast<PVSegmentCard*>(quiet.card(1))->isAccused());
    EXPECT_FALSE(static_cast<PVSegmentCard*>(quiet.card(1))->isGlowing());
    // Nobody accused, or an accused culprit without a segment: no card is accused.
    segments.erase(segments.begin() + 2);
    for (std::optional<PVCulprit> accused : {std::optional<PVCulprit>{}, std::optional<PVCulprit>{PVCulprit::provider}}) {
        PVCulpritChain chain(segments, accused, true);
        for (std::size_t i = 0; i < chain.cardCount(); ++i) {
            EXPECT_FALSE(static_cast<PVSegmentCard*>(chain.card(i))->isAccused());
            EXPECT_FALSE(static_cast<PVSegmentCard*>(chain.card(i))->isGlowing());
        }
    }
    // Accused border: the culprit colour, 2 wide, inside the card.
    router->resize(200, 100);
    const QImage img = router->grab().toImage();
    const QColor routerColor = token(PV::color::culprit::router);
    EXPECT_TRUE(test::near(img.pixel(100, 0), routerColor.rgb(), 2));
    EXPECT_TRUE(test::near(img.pixel(100, 1), routerColor.rgb(), 2));
    EXPECT_EQ(router->accessibleName(), QStringLiteral("Router, gyanús, 62 százalék bizonyossággal"));
}

TEST(CulpritChainWidget, EmptyAndSingleChains)
{
    ThemeScope theme(PVAppearance::light);
    PVCulpritChain empty({}, std::nullopt, false);
    EXPECT_EQ(empty.cardCount(), 0u);
    EXPECT_EQ(empty.heightForWidth(500), 0);
    PVCulpritChain single({threeSegments()[0]}, std::nullopt, false);
    EXPECT_EQ(single.cardCount(), 1u);
    EXPECT_EQ(single.findChildren<PVSymbolView*>(Qt::FindDirectChildrenOnly).size(), 0);
    PVCulpritChain three(threeSegments(), std::nullopt, false);
    EXPECT_EQ(three.findChildren<PVSymbolView*>(Qt::FindDirectChildrenOnly).size(), 2);
}

TEST(CulpritChainWidget, CaptionIsCutAtTwoLinesOnScreenOnly)
{
    ThemeScope theme(PVAppearance::light);
    const QString caption = QStringLiteral("Nagyon hosszú felirat, ami sok-sok szóból áll, hogy biztosan több mint "
                                           "két sorba kelljen tördelni egy keskeny kártyán, és a vége ne látsszon.");
    PVSegmentCard card({PVCulprit::wifi, S::clear(), QStringLiteral("Wi-Fi"), caption}, false, false);
    const auto texts = card.findChildren<PVText*>();
    ASSERT_EQ(texts.size(), 2);
    EXPECT_EQ(texts[1]->lineCount(120), 2);
    EXPECT_TRUE(card.accessibleName().endsWith(caption));
}

TEST(AdviceCard, NumbersLineUpAndAlwaysFit)
{
    ThemeScope theme(PVAppearance::light);
    const QFont caption = pvFont(PVFontToken::caption);
    EXPECT_EQ(PVAdviceCard::numberColumnWidthFor(3, caption), 16);
    const int ten = PVAdviceCard::numberColumnWidthFor(10, caption);
    EXPECT_GE(ten, 16);
    EXPECT_GE(ten, static_cast<int>(std::ceil(QFontMetricsF(caption).horizontalAdvance(QStringLiteral("10.")))));
    PVAdviceCard card(QStringLiteral("Mit tehetsz?"), {QStringLiteral("Egy"), QStringLiteral("Kettő"), QStringLiteral("Három")});
    const auto texts = card.findChildren<PVText*>();
    QStringList numbers;
    for (PVText* t : texts)
        if (t->text().endsWith(QLatin1Char('.')) && t->text().size() <= 3)
            numbers << t->text();
    EXPECT_EQ(numbers, (QStringList{QStringLiteral("1."), QStringLiteral("2."), QStringLiteral("3.")}));
    PVAdviceCard headerOnly(QStringLiteral("Mit tehetsz?"), {});
    EXPECT_LT(headerOnly.sizeHint().height(), card.sizeHint().height());
}

TEST(Symbols, IconsAreTheProgramsOwnAndTintedAndTheRestArePainted)
{
    // No icon theme at all: every symbol is still drawn.
    const QStringList savedPaths = QIcon::themeSearchPaths();
    QIcon::setThemeSearchPaths({});
    for (const auto& m : kSymbolMappings)
        if (!m.themeName.empty())
            EXPECT_FALSE(pvSymbolIcon(QString::fromLatin1(m.themeName.data(), qsizetype(m.themeName.size()))).isNull())
                << m.themeName;
    EXPECT_TRUE(pvSymbolIcon(QStringLiteral("no-such-icon-symbolic")).isNull());
    EXPECT_TRUE(pvSymbolUsesIcon("wifi"));
    EXPECT_TRUE(pvSymbolUsesIcon("gearshape"));
    EXPECT_FALSE(pvSymbolUsesIcon("globe.europe.africa.fill"));
    EXPECT_FALSE(pvSymbolUsesIcon("checkmark.circle.fill"));
    for (const char* name : {"wifi", "gearshape", "globe.europe.africa.fill", "xmark.octagon.fill", "no.such.symbol"}) {
        QImage img(40, 40, QImage::Format_ARGB32_Premultiplied);
        img.fill(Qt::transparent);
        QPainter p(&img);
        pvPaintSymbol(p, QRectF(4, 4, 32, 32), name, QColor(0xD0, 0x20, 0x20));
        p.end();
        img = img.convertToFormat(QImage::Format_ARGB32);
        int tinted = 0;
        int other = 0;
        for (int y = 0; y < 40; ++y)
            for (int x = 0; x < 40; ++x) {
                const QRgb px = img.pixel(x, y);
                if (qAlpha(px) < 128)
                    continue;
                const QColor c = QColor::fromRgba(px);
                (test::near(qRgb(c.red(), c.green(), c.blue()), qRgb(0xD0, 0x20, 0x20), 40) ? tinted : other)++;
            }
        EXPECT_GT(tinted, 40) << name;
        EXPECT_EQ(other, 0) << name; // no untinted theme grey
    }
    for (const auto& m : kSymbolMappings)
        EXPECT_NE(m.glyph, PVGlyph::none) << m.symbolName;
    QIcon::setThemeSearchPaths(savedPaths);
}

TEST(ChartWidget, PaintsOnlyInsideItsBoundsAndShowsItsDataColours)
{
    ThemeScope theme(PVAppearance::light);
    PVChartSpec spec;
    spec.y.domain = std::pair{0.0, 60.0};
    spec.lines.push_back({{{0, 10}, {60, 50}, {120, 20}}, PV::color::culprit::router});
    spec.points.push_back({{120, 20}, PV::color::culprit::router, 80, QStringLiteral("router")});
    QImage img(400, 260, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    const QRectF bounds(50, 30, 300, 200);
    {
        QPainter p(&img);
        const PVCrosshairState hover{120, 250, {{QStringLiteral("router"), QStringLiteral("router"), 20.0, QStringLiteral("ms"),
                                                 PV::color::culprit::router}}};
        paintChart(p, bounds, spec, PVChartStyle::dashboard(PVPaintContext::forAppearance(PVAppearance::light, PVDepthStyle::solid)),
                   &hover);
    }
    int outside = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            if (!bounds.toAlignedRect().contains(x, y) && qAlpha(img.pixel(x, y)) != 0)
                ++outside;
    EXPECT_EQ(outside, 0);
    const QImage opaque = img.convertToFormat(QImage::Format_ARGB32);
    EXPECT_GT(countNear(opaque, QColor(0x1B, 0xAF, 0x7A), 10), 100);
    EXPECT_GT(countNear(opaque, QColor(0xEE, 0xF2, 0xF7), 1), 10000);
}

// A value with no neighbour to join (a single measured slice, a slice between gaps) still leaves a
// mark of its series' colour where it lies, whatever kind of mark the series is drawn with.
TEST(ChartWidget, ALoneValueLeavesAMarkOfItsColour)
{
    const QColor red(0xD0, 0x20, 0x20);
    QColor translucent = red;
    translucent.setAlphaF(0.22f);
    const double gap = std::nan("");
    enum class Kind { line, area, bar };
    for (Kind kind : {Kind::line, Kind::area, Kind::bar}) {
        PVChartSpec spec;
        spec.x.domain = std::pair{0.0, 1200.0};
        spec.y.domain = std::pair{0.0, 100.0};
        const std::vector<QPointF> points{{0, gap}, {600, 100}, {720, gap}};
        switch (kind) {
        case Kind::line: spec.lines.push_back({points, PVColor::fixed(red), 1.5}); break;
        case Kind::area: spec.areas.push_back({points, 0.0, PVColor::fixed(translucent), PVColor::fixed(translucent)}); break;
        case Kind::bar: spec.bars.push_back({600, 100, PVColor::fixed(red)}); break;
        }
        QImage img(400, 200, QImage::Format_ARGB32);
        img.fill(Qt::white);
        const QRectF bounds(0, 0, 400, 200);
        {
            QPainter p(&img);
            paintChart(p, bounds, spec, PVChartStyle::dashboard(PVPaintContext::forAppearance(PVAppearance::light, PVDepthStyle::solid)));
        }
        const PVChartLayout L = layoutChart(spec, bounds, PVChartStyle());
        const QPoint at = L.map({600, 100}).toPoint();
        EXPECT_GE(countNear(img, red, 40, QRect(at.x() - 5, at.y() - 3, 11, 7)), 4) << "kind " << int(kind);
    }
}

// Bands are painted on screen through a one-row strip stretched over the plot: the pixels must be
// those of the bands painted one by one (as the PDF gets them), overlaps, fractional edges and a
// high-density screen included.
TEST(ChartWidget, BandsLookTheSameOnScreenAsDrawnOneByOne)
{
    ThemeScope theme(PVAppearance::light);
    PVChartSpec spec;
    spec.y.domain = std::pair{0.0, 60.0};
    spec.lines.push_back({{{0, 10}, {600, 50}}, PV::color::culprit::router});
    for (double x : {10.0, 12.3, 200.0, 203.1, 410.6})
        spec.rects.push_back({x, x + 37.7, PVColor::fixed(QColor(200, 40, 40)).opacity(0.14)});
    spec.rects.push_back({100, 101.5, PVColor::fixed(QColor(40, 40, 200)).opacity(0.5)});
    const auto style = PVChartStyle::dashboard(PVPaintContext::forAppearance(PVAppearance::light, PVDepthStyle::solid));
    for (double ratio : {1.0, 2.0}) {
        SCOPED_TRACE(ratio);
        const QRectF bounds(10, 10, 380, 220);
        const auto image = [&] {
            QImage img(QSize(400, 240) * ratio, QImage::Format_ARGB32_Premultiplied);
            img.setDevicePixelRatio(ratio);
            img.fill(Qt::white);
            return img;
        };
        QImage onScreen = image();
        {
            QPainter p(&onScreen);
            paintChart(p, bounds, spec, style);
        }
        // A picture records the bands as they are drawn, one by one.
        QPicture recorded;
        {
            QPainter p(&recorded);
            paintChart(p, bounds, spec, style);
        }
        QImage oneByOne = image();
        {
            QPainter p(&oneByOne);
            recorded.play(&p);
        }
        // Inside the plot (the labels' glyphs are rasterised differently from a picture).
        const QRect plot = QRectF(layoutChart(spec, bounds, style).plot.topLeft() * ratio,
                                  layoutChart(spec, bounds, style).plot.bottomRight() * ratio)
                               .toAlignedRect();
        int differing = 0;
        for (int y = plot.top(); y <= plot.bottom(); ++y)
            for (int x = plot.left(); x <= plot.right(); ++x) {
                const QRgb a = onScreen.pixel(x, y), b = oneByOne.pixel(x, y);
                if (std::abs(qRed(a) - qRed(b)) > 3 || std::abs(qGreen(a) - qGreen(b)) > 3 || std::abs(qBlue(a) - qBlue(b)) > 3)
                    ++differing;
            }
        EXPECT_EQ(differing, 0);
        // And the bands are there at all.
        EXPECT_NE(onScreen.pixel(QPoint(200, 120) * ratio), image().pixel(QPoint(200, 120) * ratio));
    }
}

TEST(ChartWidget, EmptyChartPaintsItsEmptyState)
{
    ThemeScope theme(PVAppearance::light);
    PVChartSpec spec;
    spec.lines.push_back({{}, PV::color::culprit::router});
    QImage img(300, 160, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    {
        QPainter p(&img);
        paintChart(p, QRectF(0, 0, 300, 160), spec,
                   PVChartStyle::dashboard(PVPaintContext::forAppearance(PVAppearance::light, PVDepthStyle::solid)));
    }
    const QImage opaque = img.convertToFormat(QImage::Format_ARGB32);
    EXPECT_GT(countNear(opaque, QColor(0xEE, 0xF2, 0xF7), 1), 300 * 160 / 2);     // the well
    EXPECT_GT(countNear(opaque, QColor(0x4E, 0x5A, 0x69), 40, QRect(0, 0, 300, 50)), 5); // the title text
    EXPECT_EQ(countNear(opaque, QColor(0x1B, 0xAF, 0x7A), 30), 0);                  // no series
}

TEST(ChartWidget, CrosshairSnapsToTheNearestSampleAndClearsOnLeave)
{
    ThemeScope theme(PVAppearance::light);
    PVChartView view;
    PVChartSpec spec;
    spec.lines.push_back({{{0, 10}, {100, 20}, {200, 30}}, PV::color::culprit::provider});
    view.setSpec(spec);
    view.resize(500, 240);
    int calls = 0;
    view.setCrosshair({0, 100, 200}, [&](double) {
        ++calls;
        return std::vector<PVCrosshairReading>{};
    });
    const PVChartLayout L = view.currentLayout();
    const QPointF at(L.px(130), 100);
    QMouseEvent move(QEvent::MouseMove, at, view.mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&view, &move);
    ASSERT_TRUE(view.hoveredDate().has_value());
    EXPECT_DOUBLE_EQ(*view.hoveredDate(), 100);
    EXPECT_DOUBLE_EQ(view.hoverY(), 100);
    view.grab();
    EXPECT_GE(calls, 1);
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&view, &leave);
    EXPECT_FALSE(view.hoveredDate().has_value());
    // No sample times: hovering shows nothing.
    view.setCrosshair({}, nullptr);
    QApplication::sendEvent(&view, &move);
    EXPECT_FALSE(view.hoveredDate().has_value());
}

TEST(ChartWidget, SpokenSummaryIsAttached)
{
    QWidget chart;
    pvChartAccessibility(&chart, QStringLiteral("Válaszidő az elmúlt tíz percben"),
                         {{QStringLiteral("A te routered"), {3, 4}, QStringLiteral("ezredmásodperc")}}, std::nullopt);
    EXPECT_EQ(chart.accessibleName(), QStringLiteral("Válaszidő az elmúlt tíz percben"));
    EXPECT_EQ(chart.accessibleDescription(),
              QStringLiteral("A te routered: jellemzően 4 ezredmásodperc, a legkisebb 3, a legnagyobb 4."));
}

TEST(ChartLayout, ScalesFollowTheDomainAndMapBothWays)
{
    PVChartSpec spec;
    spec.y.domain = std::pair{0.0, 115.0};
    spec.lines.push_back({{{1000, 10}, {1300, 100}}, PV::color::culprit::router});
    PVChartStyle style;
    const PVChartLayout L = layoutChart(spec, QRectF(0, 0, 600, 240), style);
    ASSERT_FALSE(L.plot.isEmpty());
    EXPECT_FALSE(L.empty);
    EXPECT_DOUBLE_EQ(L.yMin, 0);
    EXPECT_DOUBLE_EQ(L.yMax, 115);
    EXPECT_DOUBLE_EQ(L.xMin, 1000);
    EXPECT_DOUBLE_EQ(L.xMax, 1300);
    // The value axis sits on the trailing side, so the plot starts at the leading edge.
    EXPECT_DOUBLE_EQ(L.plot.left(), 0);
    EXPECT_LT(L.plot.right(), 600);
    EXPECT_DOUBLE_EQ(L.px(1000), L.plot.left());
    EXPECT_DOUBLE_EQ(L.px(1300), L.plot.right());
    EXPECT_DOUBLE_EQ(L.py(0), L.plot.bottom());
    EXPECT_NEAR(L.xAt(L.px(1234)), 1234, 1e-9);
    // A leading value axis moves the plot right; positions still map back exactly.
    spec.valueAxisTrailing = false;
    const PVChartLayout leading = layoutChart(spec, QRectF(0, 0, 600, 240), style);
    EXPECT_GT(leading.plot.left(), 0);
    EXPECT_NEAR(leading.xAt(leading.px(1111)), 1111, 1e-9);
    // Automatic scales start at zero and end on a whole step.
    PVChartSpec bars;
    bars.x.format = PVAxisFormat::category;
    bars.categories = {QStringLiteral("7"), QStringLiteral("8")};
    bars.bars = {{0, 12, PV::color::culprit::provider}, {1, 87, PV::color::culprit::provider}};
    const PVChartLayout B = layoutChart(bars, QRectF(0, 0, 400, 200), style);
    EXPECT_DOUBLE_EQ(B.yMin, 0);
    EXPECT_DOUBLE_EQ(B.yMax, 100);
    EXPECT_DOUBLE_EQ(B.xMin, -0.5);
    EXPECT_DOUBLE_EQ(B.xMax, 1.5);
}

TEST(ChartLayout, TimeTickLabelsAreNeverRepeated)
{
    // From the first minutes of a route chart to several days of history; each axis is read by its
    // labels, so two ticks never share one.
    const double t0 = QDateTime(QDate(2025, 12, 9), QTime(7, 20, 40)).toSecsSinceEpoch();
    const struct {
        double span;
        PVAxisFormat format;
    } cases[] = {{40, PVAxisFormat::timeOfDay},          {150, PVAxisFormat::timeOfDay},
                 {3 * 3600, PVAxisFormat::timeOfDay},    {36 * 3600, PVAxisFormat::timeOfDay},
                 {3 * 86400, PVAxisFormat::timeOfDay},   {36 * 3600, PVAxisFormat::date}};
    for (const auto& c : cases) {
        PVChartSpec spec;
        spec.x.format = c.format;
        spec.lines.push_back({{{t0, 10}, {t0 + c.span, 20}}, PV::color::culprit::router});
        const PVChartLayout L = layoutChart(spec, QRectF(0, 0, 640, 200), PVChartStyle());
        const QStringList labels = xTickLabels(spec, L);
        ASSERT_GE(labels.size(), 2) << c.span;
        EXPECT_EQ(static_cast<qsizetype>(QSet<QString>(labels.begin(), labels.end()).size()), labels.size())
            << c.span << ": " << labels.join(QStringLiteral(", ")).toStdString();
    }
}

TEST(ChartLayout, DirectLabelsOfMeetingPointsDoNotCover)
{
    // Router and provider lines ending on the same spot, or nearly, anywhere in the plot: each
    // newest point keeps a label of its own, inside the chart.
    const QRectF bounds(0, 0, 600, 220);
    const double yValues[] = {0, 3, 50, 98, 100};
    for (double y : yValues) {
        PVChartSpec spec;
        spec.y.domain = std::pair{0.0, 100.0};
        spec.lines.push_back({{{1000, 10}, {1300, y}}, PV::color::culprit::router});
        spec.points.push_back({{1300, y}, PV::color::culprit::router, 80, QStringLiteral("Router")});
        spec.points.push_back({{1300, y + 1}, PV::color::culprit::provider, 80, QStringLiteral("Szolgáltató")});
        spec.points.push_back({{1299, y}, PV::color::culprit::wifi, 80, QStringLiteral("Wi-Fi")});
        const PVChartLayout L = layoutChart(spec, bounds, PVChartStyle());
        const std::vector<QRectF> rects = directLabelRects(spec, L);
        ASSERT_EQ(rects.size(), 3u);
        for (std::size_t i = 0; i < rects.size(); ++i) {
            EXPECT_TRUE(bounds.contains(rects[i])) << y << " label " << i;
            for (std::size_t j = i + 1; j < rects.size(); ++j)
                EXPECT_FALSE(rects[i].intersects(rects[j])) << y << ": labels " << i << " and " << j;
        }
    }
}

} // namespace
} // namespace pv
