// The gallery: every component rendered offscreen in the light, dark and increased-contrast light
// appearances into PNGs under screens/ (for people to look at), with checks on the pixels that
// matter. The chart is also printed into a PDF page, the way the dossier prints it.

#include "WidgetTestSupport.h"

#include "ui/design/Chart.h"
#include "core/records/LocaleDates.h"
#include "ui/design/Components.h"
#include "ui/design/CulpritChain.h"
#include "ui/design/LiveIndicators.h"

#include <QDateTime>
#include <QFile>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QProcess>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <cmath>

namespace pv {
namespace {

using test::countNear;
using test::Stage;
using test::ThemeScope;
using test::token;
using S = PVSegmentState;

struct Look {
    PVAppearance appearance;
    const char* name;
};
constexpr Look kLooks[] = {{PVAppearance::light, "light"}, {PVAppearance::dark, "dark"}, {PVAppearance::lightHighContrast, "light-hc"}};

QString save(const QImage& image, const char* look, const char* page)
{
    const QString path = test::screensDir() + QStringLiteral("/%1-%2.png").arg(QLatin1String(page), QLatin1String(look));
    EXPECT_TRUE(image.save(path)) << path.toStdString();
    return path;
}

void expectCanvas(const QImage& img)
{
    EXPECT_TRUE(test::near(img.pixel(1, 1), token(PV::color::surface::canvas).rgb(), 0));
    EXPECT_TRUE(test::near(img.pixel(img.width() - 2, img.height() - 2), token(PV::color::surface::canvas).rgb(), 0));
}

// A row of items: sharing the width (each at its own height, top-aligned), or at their natural widths.
QWidget* row(std::initializer_list<QWidget*> items, bool shareWidth = true, int spacing = 12)
{
    auto* w = new QWidget();
    auto* l = new QHBoxLayout(w);
    l->setContentsMargins(0, 0, 0, 0);
    l->setSpacing(spacing);
    for (QWidget* item : items)
        l->addWidget(item, shareWidth ? 1 : 0, shareWidth ? Qt::AlignTop : Qt::AlignVCenter);
    if (!shareWidth)
        l->addStretch(1);
    return w;
}

// ---- Sample data --------------------------------------------------------------------------------

const double kStart = QDateTime(QDate(2024, 3, 5), QTime(14, 0, 0)).toSecsSinceEpoch();

std::vector<QPointF> latencySeries(int n, double base, double swing, double phase, int gapAt = -1)
{
    std::vector<QPointF> pts;
    for (int i = 0; i < n; ++i) {
        const double t = kStart + i * 4.0;
        double v = base + swing * (0.5 + 0.5 * std::sin(i * 0.21 + phase)) + 3 * std::sin(i * 1.7 + phase);
        if (i > n * 2 / 3)
            v += swing * 0.8; // a rise towards the end
        pts.emplace_back(t, i == gapAt ? std::nan("") : v);
    }
    return pts;
}

PVChartSpec routeChart()
{
    PVChartSpec spec;
    const auto router = latencySeries(150, 4, 6, 0.0);
    const auto provider = latencySeries(150, 18, 22, 1.3);
    double top = 0;
    for (const auto& p : router)
        top = std::max(top, p.y());
    for (const auto& p : provider)
        top = std::max(top, p.y());
    spec.y.domain = std::pair{0.0, std::max(top * 1.15, 20.0)};
    spec.y.title = QStringLiteral("ms");
    spec.lines.push_back({router, PV::color::culprit::router});
    spec.lines.push_back({provider, PV::color::culprit::provider});
    spec.points.push_back({router.back(), PV::color::culprit::router, 80, QStringLiteral("router")});
    spec.points.push_back({provider.back(), PV::color::culprit::provider, 80, QStringLiteral("szolgáltató")});
    return spec;
}

PVChartSpec signalChart(const std::vector<double>& values, const PVDynamicColor& c)
{
    PVChartSpec spec;
    std::vector<QPointF> pts;
    for (std::size_t i = 0; i < values.size(); ++i)
        pts.emplace_back(kStart + static_cast<double>(i) * 8.0, values[i]);
    const auto [lo, hi] = std::minmax_element(values.begin(), values.end());
    const double pad = std::max(0.25 * (*hi - *lo), 2.0);
    spec.y.domain = std::pair{*lo - pad, *hi + pad};
    spec.areas.push_back({pts, *lo - pad, PVColor(c).opacity(0.3), PVColor(c).opacity(0.02)});
    spec.lines.push_back({pts, c, 2, Qt::MiterJoin});
    return spec;
}

std::vector<double> rssi()
{
    std::vector<double> v;
    for (int i = 0; i < 75; ++i)
        v.push_back(std::round(-62 - 6 * std::sin(i * 0.15) - (i > 50 ? 8 : 0)));
    return v;
}

PVChartSpec hourlyBars(const PVColor& color)
{
    PVChartSpec spec;
    spec.x.format = PVAxisFormat::category;
    spec.x.grid = false;
    spec.y.title = QStringLiteral("ms");
    const double medians[] = {14, 13, 12, 12, 13, 15, 19, 24, 22, 20, 21, 23, 24, 22, 21, 23, 27, 35, 48, 61, 57, 41, 26, 18};
    for (int h = 0; h < 24; ++h) {
        spec.categories << QString::number(h);
        spec.bars.push_back({static_cast<double>(h), medians[h], color});
    }
    return spec;
}

PVChartSpec loadTestChart()
{
    PVChartSpec spec;
    spec.x.format = PVAxisFormat::number;
    spec.x.title = QStringLiteral("másodperc a letöltési fázis kezdete óta");
    spec.y.title = QStringLiteral("ms");
    std::vector<QPointF> down, up;
    for (int i = 0; i <= 120; ++i)
        down.emplace_back(i * 0.1, i == 40 ? std::nan("") : 20 + 60 * (1 - std::exp(-i / 30.0)) + 4 * std::sin(i));
    for (int i = 0; i <= 120; ++i)
        up.emplace_back(16 + i * 0.1, 20 + 110 * (1 - std::exp(-i / 20.0)) + 5 * std::sin(i * 0.7));
    spec.y.domain = std::pair{0.0, 150.0};
    spec.rects.push_back({0, 12, PVColor(PV::color::culprit::provider).opacity(0.1)});
    spec.rects.push_back({16, 28, PVColor(PV::color::series::providerDeep).opacity(0.1)});
    spec.rules.push_back({18, PV::color::ink::quaternary, 1, {4, 4}, QStringLiteral("nyugalmi szint")});
    spec.lines.push_back({down, PV::color::culprit::provider});
    spec.lines.push_back({up, PV::color::series::providerDeep});
    return spec;
}

std::vector<PVCrosshairReading> routeReadings(const PVChartSpec& spec, double t)
{
    auto valueAt = [&](std::size_t line) -> std::optional<double> {
        for (const QPointF& p : spec.lines[line].points)
            if (p.x() == t)
                return p.y();
        return std::nullopt;
    };
    return {{QStringLiteral("router"), QStringLiteral("router"), valueAt(0), QStringLiteral("ms"), PV::color::culprit::router},
            {QStringLiteral("provider"), QStringLiteral("szolgáltató"), valueAt(1), QStringLiteral("ms"),
             PV::color::culprit::provider}};
}

// ---- Pages --------------------------------------------------------------------------------------

TEST(Gallery, StatusBadges)
{
    for (const Look& look : kLooks) {
        ThemeScope theme(look.appearance);
        Stage stage(720);
        auto* card = stage.add(new PVSectionCard(QStringLiteral("Állapotjelzők"), QStringLiteral("Normál és tömör méret")));
        const std::pair<PVStatus, const char*> words[] = {{PVStatus::good, "Jó"}, {PVStatus::watch, "Figyelendő"},
                                                          {PVStatus::serious, "Komoly"}, {PVStatus::critical, "Kritikus"},
                                                          {PVStatus::neutral, "Szünetel"}};
        for (bool compact : {false, true}) {
            auto* w = new QWidget();
            auto* l = new QHBoxLayout(w);
            l->setContentsMargins(0, 0, 0, 0);
            l->setSpacing(12);
            for (const auto& [s, word] : words)
                l->addWidget(new PVStatusBadge(s, QString::fromUtf8(word), compact));
            l->addStretch(1);
            card->addContent(w);
        }
        const QImage img = stage.render();
        save(img, look.name, "badges");
        expectCanvas(img);
        for (const auto& [s, word] : words) {
            EXPECT_GT(countNear(img, token(statusWash(s)), 2), 100) << word << " " << look.name;
            EXPECT_GT(countNear(img, token(statusMarkSaturated(s)), 10), 20) << word << " " << look.name;
        }
    }
}

TEST(Gallery, StatTiles)
{
    for (const Look& look : kLooks) {
        ThemeScope theme(look.appearance);
        Stage stage(900);
        auto* card = stage.add(new PVSectionCard(QStringLiteral("Most"), std::nullopt));
        std::vector<double> many;
        for (int i = 0; i < 40; ++i)
            many.push_back(12 + 6 * std::sin(i * 0.4) + (i > 30 ? 10 : 0));
        auto* none = new PVStatTile({QStringLiteral("Wi-Fi jel"), QStringLiteral("—"), std::nullopt, std::nullopt,
                                     PV::color::culprit::wifi, std::nullopt, {}, false});
        auto* one = new PVStatTile({QStringLiteral("Router"), QStringLiteral("4"), QStringLiteral("ms"), std::nullopt,
                                    PV::color::culprit::router, PVStatus::good, {4}, true});
        auto* lots = new PVStatTile({QStringLiteral("Szolgáltató"), QStringLiteral("23"), QStringLiteral("ms"),
                                     QStringLiteral("Az elmúlt tíz perc"), PV::color::culprit::provider, PVStatus::watch,
                                     many, true});
        auto* longCaption = new PVStatTile(
            {QStringLiteral("Névfeloldás"), QStringLiteral("118"), QStringLiteral("ms"),
             QStringLiteral("A névfeloldás lassú: az oldalak megnyitása előtt érezhető szünet lehet. Ez a szöveg "
                            "szándékosan hosszú, és a csempe alján teljes egészében olvasható marad."),
             PV::color::series::dns, PVStatus::serious, many, false});
        card->addContent(row({none, one, lots, longCaption}));
        const QImage img = stage.render();
        save(img, look.name, "tiles");
        expectCanvas(img);
        EXPECT_EQ(none->height(), PVStatTile::kMinimumHeight);
        EXPECT_GT(longCaption->height(), PVStatTile::kMinimumHeight);
        EXPECT_FALSE(one->showsSparkline());
        EXPECT_GT(countNear(img, token(PV::color::culprit::provider), 12, lots->geometry().translated(card->pos())), 40);
    }
}

TEST(Gallery, VerdictHero)
{
    for (const Look& look : kLooks) {
        ThemeScope theme(look.appearance);
        Stage stage(760);
        auto* live = stage.add(new PVVerdictHero(PVStatus::watch, QStringLiteral("Időnként lassul a kapcsolat"),
                                                 QStringLiteral("A szolgáltatói szakaszon az elmúlt percekben többször "
                                                                "megugrott a válaszidő. Videohívásnál ez akadozást okozhat."),
                                                 true, QStringLiteral("Élő mérés · friss (3 mp)")));
        auto* idle = stage.add(new PVVerdictHero(PVStatus::neutral, QStringLiteral("A rögzítés szünetel"),
                                                 QStringLiteral("Indítsd újra a mérést, hogy lássuk, mi történik."), false,
                                                 QString()));
        auto* bad = stage.add(new PVVerdictHero(PVStatus::critical, QStringLiteral("Nincs internetkapcsolat"),
                                                QStringLiteral("Egyik mérés sem jutott át a routeren túl."), true,
                                                QStringLiteral("Élő mérés")));
        const QImage img = stage.render();
        save(img, look.name, "hero");
        expectCanvas(img);
        EXPECT_GT(live->height(), idle->height());
        // The symbol: the saturated mark in the solid style, the mark itself in the luminous one.
        const PVDynamicColor symbol = isDark(look.appearance) ? statusMark(PVStatus::critical) : statusMarkSaturated(PVStatus::critical);
        EXPECT_GT(countNear(img, token(symbol), 12, bad->geometry()), 30);
        if (look.appearance == PVAppearance::dark) {
            // The live halo glows onto the raised surface around it; the idle one does not.
            const QPoint liveHalo = live->halo()->geometry().center() + live->pos();
            const QPoint idleHalo = idle->halo()->geometry().center() + idle->pos();
            const QColor raised = token(PV::color::surface::cardRaised);
            const QRgb glowPx = img.pixel(liveHalo + QPoint(40, 0));
            EXPECT_GT(qRed(glowPx) + qGreen(glowPx), raised.red() + raised.green() + 10);
            EXPECT_TRUE(test::near(img.pixel(idleHalo + QPoint(60, -20)), raised.rgb(), 2));
        }
    }
}

TEST(Gallery, AdviceCard)
{
    for (const Look& look : kLooks) {
        ThemeScope theme(look.appearance);
        Stage stage(640);
        auto* card = stage.add(new PVSectionCard(QStringLiteral("Mit tehetsz most?"), std::nullopt));
        auto* advice = new PVAdviceCard(
            QStringLiteral("Próbáld ki ezeket, ebben a sorrendben"),
            {QStringLiteral("Indítsd újra a routert: húzd ki a tápkábelt, várj fél percet, majd dugd vissza."),
             QStringLiteral("Ha van rá mód, csatlakozz kábellel, és figyeld, megszűnik-e a hiba."),
             QStringLiteral("Ha a hiba marad, mutasd meg a mérési dossziét a szolgáltatódnak.")});
        card->addContent(advice);
        QStringList ten;
        for (int i = 0; i < 10; ++i)
            ten << QStringLiteral("Lépés %1").arg(i + 1);
        auto* long10 = new PVAdviceCard(QStringLiteral("Tíz lépés"), ten);
        card->addContent(long10);
        const QImage img = stage.render();
        save(img, look.name, "advice");
        expectCanvas(img);
        const QRect adviceRect = advice->geometry().translated(card->pos());
        EXPECT_TRUE(test::near(img.pixel(adviceRect.left() + adviceRect.width() / 2, adviceRect.top()),
                               token(statusBorder(PVStatus::watch)).rgb(), 2));
        EXPECT_GE(long10->numberColumnWidth(), 16);
    }
}

std::vector<PVSegment> chainA()
{
    return {{PVCulprit::wifi, S::clear(), QStringLiteral("Wi-Fi"), QStringLiteral("Erős jel, −58 dBm")},
            {PVCulprit::router, S::suspect(0.62), QStringLiteral("Router"), QStringLiteral("A válaszidő időnként megugrik")},
            {PVCulprit::provider, S::faulty(PVStatus::critical), QStringLiteral("Szolgáltató"),
             QStringLiteral("A kiesések a routeren túl kezdődnek, ezért a hiba a szolgáltatói szakaszon van.")}};
}

std::vector<PVSegment> chainB()
{
    return {{PVCulprit::wifi, S::unknown(QStringLiteral("nincs Wi-Fi")), QStringLiteral("Wi-Fi"),
             QStringLiteral("Kábellel csatlakozol")},
            {PVCulprit::router, S::notApplicable(), QStringLiteral("Router"), std::nullopt},
            {PVCulprit::provider, S::suspect(0.05), QStringLiteral("Szolgáltató"), std::nullopt}};
}

TEST(Gallery, CulpritChainWideAndNarrow)
{
    for (const Look& look : kLooks) {
        for (const auto& [width, page] : {std::pair{1000, "chain-wide"}, std::pair{420, "chain-narrow"}}) {
            ThemeScope theme(look.appearance);
            Stage stage(width);
            auto* card = stage.add(new PVSectionCard(QStringLiteral("Hol a hiba?"), QStringLiteral("A kapcsolat útja szakaszonként")));
            auto* a = new PVCulpritChain(chainA(), PVCulprit::provider, true);
            auto* b = new PVCulpritChain(chainB(), PVCulprit::wifi, false);
            card->addContent(a);
            card->addContent(b);
            const QImage img = stage.render();
            save(img, look.name, page);
            expectCanvas(img);
            EXPECT_EQ(a->isRow(), width > 600) << page;
            EXPECT_EQ(b->isRow(), width > 600) << page;
            const QRect accused = a->card(2)->geometry().translated(a->pos() + card->pos());
            const QColor provider = token(PV::color::culprit::provider);
            EXPECT_GT(countNear(img, provider, 10, accused), 100);
            if (look.appearance == PVAppearance::dark) {
                // The accused card glows onto the section card around it.
                const QColor surface = token(PV::color::surface::card);
                const QRgb glow = img.pixel(accused.center().x(), accused.bottom() + 4);
                EXPECT_GT(qBlue(glow), surface.blue() + 8) << page;
            }
        }
    }
}

TEST(Gallery, ChartsWithCrosshair)
{
    for (const Look& look : kLooks) {
        ThemeScope theme(look.appearance);
        Stage stage(820);
        auto* card = stage.add(new PVSectionCard(
            QStringLiteral("Válaszidő az útvonal mentén"),
            QStringLiteral("Minél alacsonyabb, annál jobb. A szakadás ott van, ahol nem volt mérés (szünet vagy sebességteszt), vagy ahol a mérés nem sikerült — nem azt jelenti, hogy nulla volt.")));
        auto* chart = new PVChartView();
        const PVChartSpec spec = routeChart();
        chart->setSpec(spec);
        chart->setFixedHeight(240);
        std::vector<double> dates;
        for (const QPointF& p : spec.lines[1].points)
            dates.push_back(p.x());
        chart->setCrosshair(dates, [spec](double t) { return routeReadings(spec, t); });
        card->addContent(chart);
        auto* wifi = stage.add(new PVSectionCard(QStringLiteral("Wi-Fi jel"), std::nullopt));
        auto* strength = new PVChartView();
        const PVChartSpec signal = signalChart(rssi(), PV::color::culprit::wifi);
        strength->setSpec(signal);
        strength->setFixedHeight(130);
        std::vector<double> signalDates;
        for (const QPointF& p : signal.lines[0].points)
            signalDates.push_back(p.x());
        strength->setCrosshair(signalDates, [signal](double t) {
            std::optional<double> v;
            for (const QPointF& p : signal.lines[0].points)
                if (p.x() == t)
                    v = p.y();
            return std::vector<PVCrosshairReading>{
                {QStringLiteral("wifi"), QStringLiteral("jelerősség"), v, QStringLiteral("dBm"), PV::color::culprit::wifi}};
        });
        wifi->addContent(strength);
        auto* empty = new PVChartView();
        empty->setSpec(PVChartSpec{});
        empty->setFixedHeight(140);
        wifi->addContent(empty);
        stage.root()->show();
        test::settle();
        stage.render();
        // Hover at 60 % across the plot, in the upper third.
        const PVChartLayout L = chart->currentLayout();
        const QPointF at(L.plot.left() + L.plot.width() * 0.6, L.plot.top() + 40);
        QMouseEvent move(QEvent::MouseMove, at, chart->mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(chart, &move);
        ASSERT_TRUE(chart->hoveredDate().has_value());
        // The area chart too, near its trailing edge, where the readout flips to the left of the rule.
        const PVChartLayout S = strength->currentLayout();
        const QPointF near(S.plot.right() - 30, S.plot.center().y());
        QMouseEvent moveArea(QEvent::MouseMove, near, strength->mapToGlobal(near), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(strength, &moveArea);
        ASSERT_TRUE(strength->hoveredDate().has_value());
        const QImage img = stage.root()->grab().toImage().convertToFormat(QImage::Format_ARGB32);
        save(img, look.name, "charts");
        expectCanvas(img);
        const QRect chartRect = chart->geometry().translated(card->pos());
        EXPECT_GT(countNear(img, token(PV::color::culprit::router), 12, chartRect), 150);
        EXPECT_GT(countNear(img, token(PV::color::culprit::provider), 12, chartRect), 150);
        EXPECT_GT(countNear(img, token(PV::color::surface::overlay), 1, chartRect), 2000); // the readout bubble
        const QRect emptyRect = empty->geometry().translated(wifi->pos());
        EXPECT_GT(countNear(img, token(PV::color::surface::well), 1, emptyRect), emptyRect.width() * emptyRect.height() / 2);
        EXPECT_EQ(countNear(img, token(PV::color::culprit::wifi), 10, emptyRect), 0);
    }
}

// The readout's labels stay whole at every text size: the bubble grows for them (the case seen was
// "szolgált…" at 150 %). Hovered near the trailing edge, where the wider bubble flips left.
TEST(Gallery, CrosshairLabelsStayWholeAtEveryTextSize)
{
    ThemeScope theme(PVAppearance::light);
    for (const auto& [scale, page] : {std::pair{1.0, "crosshair-1.0"}, std::pair{1.5, "crosshair-1.5"}}) {
        PVTheme::instance().setTextScale(scale);
        Stage stage(820);
        auto* chart = stage.add(new PVChartView());
        const PVChartSpec spec = routeChart();
        chart->setSpec(spec);
        chart->setFixedHeight(240);
        std::vector<double> dates;
        for (const QPointF& p : spec.lines[1].points)
            dates.push_back(p.x());
        chart->setCrosshair(dates, [spec](double t) { return routeReadings(spec, t); });
        stage.root()->show();
        test::settle();
        const PVChartLayout L = chart->currentLayout();
        const QPointF at(L.plot.right() - 20, L.plot.top() + 40);
        QMouseEvent move(QEvent::MouseMove, at, chart->mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(chart, &move);
        ASSERT_TRUE(chart->hoveredDate().has_value());
        save(stage.root()->grab().toImage(), "light", page);
        const auto readings = routeReadings(spec, *chart->hoveredDate());
        const double width = crosshairBubbleWidth(readings, crosshairTimeText(*chart->hoveredDate(), dateLocale()));
        EXPECT_EQ(width > kCrosshairBubbleWidth, scale > 1) << scale;
        for (const PVCrosshairReading& r : readings)
            EXPECT_EQ(crosshairRowLabel(r, width), r.label) << scale;
    }
    PVTheme::instance().setTextScale(1.0);
}

TEST(Gallery, BarAndLoadCharts)
{
    for (const Look& look : kLooks) {
        ThemeScope theme(look.appearance);
        Stage stage(820);
        auto* card = stage.add(new PVSectionCard(QStringLiteral("Napszakok és terhelés"), std::nullopt));
        auto* bars = new PVChartView();
        bars->setSpec(hourlyBars(PV::color::culprit::provider));
        bars->setFixedHeight(200);
        auto* load = new PVChartView();
        load->setSpec(loadTestChart());
        load->setFixedHeight(240);
        // A history of one measured slice: its line and area have a single point, still to be seen.
        auto* single = new PVChartView();
        single->setSpec(signalChart({-61}, PV::color::culprit::wifi));
        single->setFixedHeight(120);
        card->addContent(bars);
        card->addContent(load);
        card->addContent(single);
        const QImage img = stage.render();
        save(img, look.name, "charts-more");
        expectCanvas(img);
        EXPECT_GT(countNear(img, token(PV::color::culprit::wifi), 12, single->geometry().translated(card->pos())), 12);
        EXPECT_GT(countNear(img, token(PV::color::culprit::provider), 6, bars->geometry().translated(card->pos())), 1500);
        EXPECT_GT(countNear(img, token(PV::color::series::providerDeep), 12, load->geometry().translated(card->pos())), 100);
    }
}

void buildLivePage(Stage& stage)
{
    auto* card = stage.add(new PVSectionCard(QStringLiteral("Élő jelzések"), QStringLiteral("Halók, élő pont és incidenskeret")));
    auto* halos = new QWidget();
    auto* hl = new QHBoxLayout(halos);
    hl->setContentsMargins(30, 30, 30, 30);
    hl->setSpacing(60);
    for (PVStatus s : allPVStatuses())
        hl->addWidget(new PVStatusHalo(s, s != PVStatus::neutral, 56));
    hl->addWidget(new PVStatusHalo(PVStatus::critical, false, 56));
    hl->addStretch(1);
    card->addContent(halos);
    auto* endpointLive = new PVLiveEndpoint(PV::color::culprit::router, true);
    auto* endpointIdle = new PVLiveEndpoint(PV::color::culprit::router, false);
    card->addContent(row({new PVLiveIndicator(statusMark(PVStatus::good), QStringLiteral("Élő mérés · friss (2 mp)")),
                                 endpointLive, endpointIdle, new PVStatusBadge(PVStatus::good, QStringLiteral("Rendben"), false)},
                           false, 24));
    auto* incident = new PVCardFrame(PVElevation::e1, PV::radius::card, false);
    incident->setFixedHeight(90);
    auto* il = new QVBoxLayout(incident);
    il->setContentsMargins(16, 16, 16, 16);
    il->addWidget(new PVText(QStringLiteral("Nyitott incidens: a szolgáltatói szakasz hibája"), PVFontToken::cardTitle,
                             PV::color::ink::primary));
    il->addWidget(new PVText(QStringLiteral("14:02 óta tart"), PVFontToken::caption, PV::color::ink::tertiary));
    new PVLiveIncidentBorder(incident, PVStatus::critical, PV::radius::card);
    stage.add(incident);
}

TEST(Gallery, LiveIndicators)
{
    for (const Look& look : kLooks) {
        ThemeScope theme(look.appearance);
        Stage stage(760);
        buildLivePage(stage);
        const QImage img = stage.render();
        save(img, look.name, "live");
        expectCanvas(img);
        for (PVStatus s : allPVStatuses())
            EXPECT_GT(countNear(img, token(statusWash(s)), 2), 200) << rawValue(s).toStdString();
    }
}

TEST(Gallery, ReduceMotionStillFrame)
{
    for (const Look& look : kLooks) {
        ThemeScope theme(look.appearance, true);
        Stage stage(760);
        buildLivePage(stage);
        const QImage first = stage.render();
        save(first, look.name, "still");
        // Nothing moves: a later frame is identical.
        QApplication::processEvents();
        const QImage later = stage.root()->grab().toImage().convertToFormat(QImage::Format_ARGB32);
        EXPECT_EQ(first, later);
        for (auto* indicator : stage.root()->findChildren<PVLiveIndicator*>())
            EXPECT_FALSE(indicator->isAnimating());
        for (auto* border : stage.root()->findChildren<PVLiveIncidentBorder*>())
            EXPECT_DOUBLE_EQ(border->phase(), 0.5);
    }
}

TEST(Gallery, ChartOnAPdfPage)
{
    const QString pdf = test::screensDir() + QStringLiteral("/chart-page.pdf");
    {
        QPdfWriter writer(pdf);
        writer.setPageSize(QPageSize(QPageSize::A4));
        writer.setResolution(72); // one unit per point
        writer.setPageMargins(QMarginsF(0, 0, 0, 0));
        QPainter p(&writer);
        // A printed page uses its own fixed colours, on white.
        PVChartStyle style = PVChartStyle::dashboard(PVPaintContext::forAppearance(PVAppearance::light, PVDepthStyle::solid));
        PVChartSpec timeline = routeChart();
        timeline.locale = QLocale(QLocale::Hungarian, QLocale::Hungary);
        timeline.lines[0].color = PVColor::fixed(QColor::fromRgbF(0.06f, 0.47f, 0.35f));
        timeline.lines[1].color = PVColor::fixed(QColor::fromRgbF(0.13f, 0.36f, 0.72f));
        timeline.points.clear();
        paintChart(p, QRectF(48, 60, 499, 340), timeline, style);
        paintChart(p, QRectF(48, 430, 499, 200), hourlyBars(PVColor::fixed(QColor::fromRgbF(0.13f, 0.36f, 0.72f))), style);
        PVChartSpec none;
        paintChart(p, QRectF(48, 660, 499, 120), none, style);
    }
    ASSERT_TRUE(QFile::exists(pdf));
    EXPECT_GT(QFileInfo(pdf).size(), 1000);
    const QString pdftoppm = QStandardPaths::findExecutable(QStringLiteral("pdftoppm"));
    if (pdftoppm.isEmpty())
        GTEST_SKIP() << "pdftoppm is not installed";
    const QString prefix = test::screensDir() + QStringLiteral("/chart-page");
    QProcess proc;
    proc.start(pdftoppm, {QStringLiteral("-png"), QStringLiteral("-r"), QStringLiteral("96"), QStringLiteral("-singlefile"), pdf, prefix});
    ASSERT_TRUE(proc.waitForFinished(30000));
    ASSERT_EQ(proc.exitCode(), 0) << proc.readAllStandardError().toStdString();
    QImage page(prefix + QStringLiteral(".png"));
    ASSERT_FALSE(page.isNull());
    page = page.convertToFormat(QImage::Format_ARGB32);
    EXPECT_GT(countNear(page, QColor::fromRgbF(0.13f, 0.36f, 0.72f), 12), 2000); // bars and the provider line
    EXPECT_GT(countNear(page, QColor::fromRgbF(0.06f, 0.47f, 0.35f), 12), 100);  // the router line
    EXPECT_GT(countNear(page, QColor(0xEE, 0xF2, 0xF7), 2), 20000);               // plot wells
}

} // namespace
} // namespace pv
