#include "reports/DossierPages.h"

#include "core/records/LocaleDates.h"
#include "core/records/Localization.h"
#include "reports/DossierBuilder.h"
#include "reports/DossierFormat.h"
#include "reports/DossierPageRules.h"
#include "reports/DossierPdfFile.h"
#include "reports/ReportWording.h"

#include <QFontMetricsF>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace pv {

using namespace dossier;
namespace Palette = DossierPalette;

namespace {

using F = DossierFormat;

double lineHeight(const QFont& f) { return QFontMetricsF(f).height(); }

// Header and rows of a table as one block: the rows touch and only their dividers separate them,
// so the row caps keep every table inside the page.
Block table(const QStringList& titles, const std::vector<QStringList>& rows, const std::vector<double>& weights = {})
{
    Stack s{0, {}};
    s.add(tableHeader(titles, weights));
    for (const QStringList& r : rows)
        s.add(tableRow(r, weights));
    return s.asBlock();
}

// A chart of a fixed height drawn by the design system's chart routine.
Block chart(PVChartSpec spec, double height)
{
    return {[height](double) { return height; },
            [spec = std::move(spec)](QPainter& p, const QRectF& r) {
                if (!spec.hasData()) {
                    // The empty state in the dossier's own type, not the screens'.
                    p.fillRect(r, Palette::panel());
                    text(spec.emptyTitle.value_or(QString()), font(10), Palette::secondaryText())
                        .paint(p, r.adjusted(14, 14, -14, -14));
                    return;
                }
                paintChart(p, r, spec, DossierPageView::chartStyle());
            }};
}

// Blocks in equal columns next to each other, as tall as the tallest.
Block sideBySide(std::vector<Block> blocks, double spacing)
{
    const int count = static_cast<int>(blocks.size());
    return {[blocks, count, spacing](double w) {
                double width = 0, tallest = 0;
                columnLefts(count, w, spacing, &width);
                for (const Block& b : blocks)
                    tallest = std::max(tallest, b.height(width));
                return tallest;
            },
            [blocks, count, spacing](QPainter& p, const QRectF& r) {
                double width = 0;
                const auto lefts = columnLefts(count, r.width(), spacing, &width);
                for (int i = 0; i < count; ++i)
                    blocks[std::size_t(i)].paint(p, QRectF(r.left() + lefts[std::size_t(i)], r.top(), width, r.height()));
            }};
}

// The label and value of a cover fact, aligned on their first baselines.
Block coverFact(const QString& label, const QString& value)
{
    const QFont lf = font(10, Weight::medium);
    const QFont vf = font(12);
    constexpr double labelWidth = 130, spacing = 12;
    return {[lf, vf, value](double w) {
                const double shift = std::max(0.0, QFontMetricsF(lf).ascent() - QFontMetricsF(vf).ascent());
                return std::max(lineHeight(lf), shift + textHeight(value, vf, w - labelWidth - spacing));
            },
            [lf, vf, label, value](QPainter& p, const QRectF& r) {
                const double la = QFontMetricsF(lf).ascent(), va = QFontMetricsF(vf).ascent();
                const double baseline = r.top() + std::max(la, va);
                p.setFont(lf);
                p.setPen(Palette::mutedText());
                p.drawText(QPointF(r.left(), baseline), QFontMetricsF(lf).elidedText(label, Qt::ElideRight, labelWidth));
                text(value, vf, Palette::ink())
                    .paint(p, QRectF(r.left() + labelWidth + spacing, baseline - va, r.width() - labelWidth - spacing, r.height()));
            }};
}

// A panel-filled box around a text.
Block note(const QString& s, double padding)
{
    const QFont f = font(10);
    return {[f, s, padding](double w) { return padding + textHeight(s, f, w - 2 * padding) + padding; },
            [f, s, padding](QPainter& p, const QRectF& r) {
                p.fillRect(r, Palette::panel());
                text(s, f, Palette::secondaryText()).paint(p, r.adjusted(padding, padding, -padding, -padding));
            }};
}

Block bullet(const QString& s)
{
    const QFont f = font(11);
    constexpr double dot = 3, spacing = 8;
    return {[f, s](double w) { return textHeight(s, f, w - dot - spacing); },
            [f, s](QPainter& p, const QRectF& r) {
                p.save();
                p.setRenderHint(QPainter::Antialiasing);
                p.setPen(Qt::NoPen);
                p.setBrush(Palette::mutedText());
                p.drawEllipse(QRectF(r.left(), r.top() + 6, dot, dot));
                p.restore();
                text(s, f, Palette::ink()).paint(p, r.adjusted(dot + spacing, 0, 0, 0));
            }};
}

QString optionalPercent(std::optional<double> ratio, int digits)
{
    return ratio ? F::percentText(*ratio, digits) : F::missingValue();
}

PVColor fixedColor(const QColor& c) { return PVColor::fixed(c); }

} // namespace

DossierPageView::DossierPageView(DossierPage page, const DossierDocument& document, int pageNumber, int pageCount)
    : page_(page), document_(document), pageNumber_(pageNumber), pageCount_(pageCount)
{
}

// ---- Frame ------------------------------------------------------------------------------------------

QString DossierPageView::footerText() const
{
    return QStringLiteral("Polvarine ") + ReportWording::documentKind() + QStringLiteral(" · készült ") +
           F::dateText(document_.generatedAt);
}

QString DossierPageView::pageNumberText() const { return dossier::pageNumberText(pageNumber_, pageCount_); }

double DossierPageView::footerHeight() { return std::max(lineHeight(font(8)), lineHeight(font(8, Weight::medium))); }

double DossierPageView::footerTop() { return kPageHeight - padding - footerHeight(); }

namespace {
double headerRowHeight() { return std::max(lineHeight(font(15, Weight::semibold)), lineHeight(font(9, Weight::medium))); }
} // namespace

QRectF DossierPageView::contentRect() const
{
    double top = padding;
    if (page_ != DossierPage::cover)
        top += headerRowHeight() + 1.0 + headerGap;
    const double bottom = footerTop() - footerGap;
    return QRectF(padding, top, kPageWidth - 2 * padding, bottom - top);
}

void DossierPageView::paint(QPainter& p) const
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.fillRect(QRectF(0, 0, kPageWidth, kPageHeight), Qt::white);
    const double width = kPageWidth - 2 * padding;

    if (page_ != DossierPage::cover) {
        const double rowHeight = headerRowHeight();
        const QFont titleFont = font(15, Weight::semibold);
        const QFont reportFont = font(9, Weight::medium);
        const double reportWidth = QFontMetricsF(reportFont).horizontalAdvance(ReportWording::title());
        p.setFont(reportFont);
        p.setPen(Palette::mutedText());
        p.drawText(QRectF(padding + width - reportWidth - 1, padding, reportWidth + 1, rowHeight),
                   Qt::AlignRight | Qt::AlignVCenter, ReportWording::title());
        p.setFont(titleFont);
        p.setPen(Palette::ink());
        const double titleRoom = width - reportWidth - 8;
        p.drawText(QRectF(padding, padding, titleRoom, rowHeight), Qt::AlignLeft | Qt::AlignVCenter,
                   QFontMetricsF(titleFont).elidedText(title(page_), Qt::ElideRight, titleRoom));
        p.fillRect(QRectF(padding, padding + rowHeight, width, 1.0), Palette::rule());
    }

    pageContent().paint(p, contentRect());

    const double top = footerTop();
    const double h = footerHeight();
    const QFont numberFont = font(8, Weight::medium);
    const QString number = pageNumberText();
    const double numberWidth = QFontMetricsF(numberFont).horizontalAdvance(number);
    p.setFont(numberFont);
    p.setPen(Palette::mutedText());
    p.drawText(QRectF(padding + width - numberWidth - 1, top, numberWidth + 1, h), Qt::AlignRight | Qt::AlignVCenter, number);
    const QFont footerFont = font(8);
    p.setFont(footerFont);
    p.drawText(QRectF(padding, top, width - numberWidth - 8, h), Qt::AlignLeft | Qt::AlignVCenter,
               QFontMetricsF(footerFont).elidedText(footerText(), Qt::ElideRight, width - numberWidth - 8));
    p.restore();
}

double DossierPageView::stackSpacing(DossierPage page)
{
    switch (page) {
    case DossierPage::cover: return 0;
    case DossierPage::summary: return 16;
    case DossierPage::scopeAndLimits: return 12;
    case DossierPage::coverage: return 16;
    case DossierPage::outages: return 12;
    case DossierPage::timeline: return 12;
    case DossierPage::hourlyProfile: return 12;
    case DossierPage::accessPoints: return 12;
    case DossierPage::wiredComparison: return 14;
    case DossierPage::ipv6: return 12;
    case DossierPage::gapLedger: return 12;
    case DossierPage::methodology: return 11;
    case DossierPage::nextSteps: return 12;
    case DossierPage::rawData: return 12;
    }
    return 12;
}

Stack DossierPageView::pageContent() const
{
    switch (page_) {
    case DossierPage::cover: return coverPage();
    case DossierPage::summary: return summaryPage();
    case DossierPage::scopeAndLimits: return scopePage();
    case DossierPage::coverage: return coveragePage();
    case DossierPage::outages: return outagesPage();
    case DossierPage::timeline: return timelinePage();
    case DossierPage::hourlyProfile: return hourlyProfilePage();
    case DossierPage::accessPoints: return accessPointsPage();
    case DossierPage::wiredComparison: return wiredComparisonPage();
    case DossierPage::ipv6: return ipv6Page();
    case DossierPage::gapLedger: return gapLedgerPage();
    case DossierPage::methodology: return methodologyPage();
    case DossierPage::nextSteps: return nextStepsPage();
    case DossierPage::rawData: return rawDataPage();
    }
    return {};
}

// ---- Cover, summary, scope, coverage, outages --------------------------------------------------------

Stack DossierPageView::coverPage() const
{
    const DossierDocument& d = document_;
    Stack s{stackSpacing(DossierPage::cover), {}};
    s.add(space(120));
    s.add(text(ReportWording::title(), font(38, Weight::bold), Palette::ink()));
    s.add(padded(text(capitalisedFirst(ReportWording::documentKind()), font(15), Palette::secondaryText()), 6, 0));
    // The anonymised file is the one meant to be passed on: it says so where a reader looks first.
    if (d.request.anonymiseNetworkNames)
        s.add(padded(text(L("Anonimizált változat: a hálózat neve és a hozzáférési pontok címe nem szerepel benne."),
                          font(11, Weight::semibold), Palette::ink()),
                     8, 0));
    s.add(padded(bar(64, 3, Palette::red()), 26, 26));
    Stack facts{10, {}};
    facts.add(coverFact(L("Mérési időszak"), F::dateText(d.request.start) + QStringLiteral(" — ") + F::dateText(d.request.end)));
    // Every time of the document is local time of this zone; it is named once, here.
    facts.add(coverFact(L("Időzóna"), timeZoneName()));
    facts.add(coverFact(L("Rögzített mérés"), QString::number(d.sampleCount)));
    facts.add(coverFact(L("Lefedettség"), coveragePercentFigure(d.coverageRatio) + QLatin1Char('%')));
    facts.add(coverFact(L("Készült"), F::dateText(d.generatedAt)));
    facts.add(coverFact(L("Készítette"), QStringLiteral("Polvarine ") + d.appVersion + ReportWording::preparedOnSubscriberMachine()));
    s.add(facts.asBlock());
    s.add(flexibleSpace());
    s.add(note(L("Ez a dokumentum a 3. oldalon részletezi, mit tartalmaz és mit nem. Kérjük, azzal együtt olvassa."), 14));
    return s;
}

Block DossierPageView::capabilityRow(UsageCapability capability) const
{
    const CapabilityRating rating = document_.verdict.rating(capability);
    const QColor ratingColor = rating == CapabilityRating::comfortable ? Palette::green() : Palette::red();
    const QString name = title(capability);
    const QString ratingText = title(rating);
    const QFont nf = font(11), rf = font(11, Weight::semibold);
    return {[nf](double) { return lineHeight(nf) + 3 + 1; },
            [nf, rf, name, ratingText, ratingColor](QPainter& p, const QRectF& r) {
                const double h = lineHeight(nf);
                p.setFont(rf);
                p.setPen(ratingColor);
                p.drawText(QRectF(r.left(), r.top(), r.width(), h), Qt::AlignRight | Qt::AlignVCenter, ratingText);
                p.setFont(nf);
                p.setPen(Palette::ink());
                p.drawText(QRectF(r.left(), r.top(), r.width(), h), Qt::AlignLeft | Qt::AlignVCenter, name);
                p.fillRect(QRectF(r.left(), r.top() + h + 3, r.width(), 1.0), Palette::rule());
            }};
}

Block DossierPageView::keyFigureTiles() const
{
    const DossierDocument& d = document_;
    const std::vector<std::pair<QString, QString>> tiles{
        {L("Válaszidő (medián)"), F::millisecondsText(d.medianProviderMs, true)},
        {L("Lassabb tized (p95)"), F::millisecondsText(d.p95ProviderMs, true)},
        {L("Csomagvesztés"), optionalPercent(d.lossRatio, 1)},
        {L("Kimaradás"), QString::number(static_cast<long long>(d.trueOutages().size()))},
    };
    const QFont lf = font(8, Weight::medium), vf = font(17, Weight::semibold);
    constexpr double pad = 10, spacing = 10;
    return {[lf, vf](double) { return pad + lineHeight(lf) + 3 + lineHeight(vf) + pad; },
            [tiles, lf, vf](QPainter& p, const QRectF& r) {
                double w = 0;
                const auto lefts = columnLefts(static_cast<int>(tiles.size()), r.width(), spacing, &w);
                for (std::size_t i = 0; i < tiles.size(); ++i) {
                    const QRectF tile(r.left() + lefts[i], r.top(), w, r.height());
                    p.fillRect(tile, Palette::panel());
                    const QRectF inner = tile.adjusted(pad, pad, -pad, -pad);
                    const double lh = lineHeight(lf);
                    p.setFont(lf);
                    p.setPen(Palette::mutedText());
                    p.drawText(QRectF(inner.left(), inner.top(), inner.width(), lh), Qt::AlignLeft | Qt::AlignVCenter,
                               QFontMetricsF(lf).elidedText(tiles[i].first, Qt::ElideRight, inner.width()));
                    p.setFont(vf);
                    p.setPen(Palette::ink());
                    p.drawText(QRectF(inner.left(), inner.top() + lh + 3, inner.width(), lineHeight(vf)),
                               Qt::AlignLeft | Qt::AlignVCenter,
                               QFontMetricsF(vf).elidedText(tiles[i].second, Qt::ElideRight, inner.width()));
                }
            }};
}

Stack DossierPageView::summaryPage() const
{
    const FaultAttribution& a = document_.attribution;
    Stack s{stackSpacing(DossierPage::summary), {}};
    s.add(text(document_.headline(), font(20, Weight::semibold), Palette::ink()));
    Stack evidence{6, {}};
    if (const std::optional<QString> cuts = document_.outageSentence())
        evidence.add(bullet(*cuts));
    if (const std::optional<QString> family = document_.measuredFamilySentence())
        evidence.add(bullet(*family));
    for (const QString& e : a.evidence)
        evidence.add(bullet(e));
    s.add(evidence.asBlock());
    if (!a.caveats.isEmpty())
        s.add(calloutCard(L("Amit ehhez tudni kell"), a.caveats));
    s.add(divider());
    s.add(text(L("Mire volt elég a kapcsolat ebben az időszakban"), font(13, Weight::semibold), Palette::ink()));
    Stack capabilities{6, {}};
    for (UsageCapability c : allUsageCapabilities())
        capabilities.add(capabilityRow(c));
    s.add(capabilities.asBlock());
    s.add(keyFigureTiles());
    if (const std::optional<QString> note = document_.detailedFiguresNote())
        s.add(text(*note, font(10), Palette::secondaryText()));
    return s;
}

Stack DossierPageView::scopePage() const
{
    Stack s{stackSpacing(DossierPage::scopeAndLimits), {}};
    for (const QString& paragraphText : ReportWording::scopeParagraphs())
        s.add(paragraph(paragraphText, 11));
    return s;
}

Stack DossierPageView::coveragePage() const
{
    const DossierDocument& d = document_;
    Stack s{stackSpacing(DossierPage::coverage), {}};
    Stack facts{0, {}};
    facts.add(factRow(L("Időszak kezdete"), F::dateText(d.request.start)));
    facts.add(factRow(L("Időszak vége"), F::dateText(d.request.end)));
    facts.add(factRow(L("Az időszak hossza"), F::durationText(d.request.end - d.request.start)));
    facts.add(factRow(L("Ebből mért idő"), coveragePercentFigure(d.coverageRatio) + QLatin1Char('%')));
    if (d.firstMeasurement)
        facts.add(factRow(L("Első mérés"), F::dateText(*d.firstMeasurement)));
    facts.add(factRow(L("Rögzített mérés"), QString::number(d.sampleCount)));
    facts.add(factRow(L("Nem mért időszakok száma"), QString::number(static_cast<long long>(d.gaps.size()))));
    s.add(facts.asBlock());
    if (d.firstMeasurement)
        s.add(text(LF("Az időszak első %@ hosszú része a mérés kezdete előtti idő: akkor még nem futott a mérés, "
                      "ezért ez sem hézag, sem kimaradás.",
                      {F::durationText(*d.firstMeasurement - d.request.start)}),
                   font(10), Palette::secondaryText()));
    s.add(text(d.coverageExplanation(), font(10), Palette::secondaryText()));
    if (const std::optional<QString> aggregated = d.aggregatedPeriodsNote())
        s.add(calloutCard(L("Összesített szakaszok"), {*aggregated}));
    return s;
}

Stack DossierPageView::outagesPage() const
{
    const std::vector<OutageRecord> outages = document_.trueOutages();
    const std::vector<OutageRecord> others = document_.otherIncidents();
    const auto duration = [](const OutageRecord& o) {
        return o.isOpen() ? L("még tartott") : F::durationText(*o.end - o.start);
    };
    Stack s{stackSpacing(DossierPage::outages), {}};
    // The other incidents take at most ten rows and their heading; the outages the rest of the page.
    const std::size_t othersShown = shownRows(others.size(), kOtherIncidentRowLimit);
    const std::size_t outagesShown =
        shownRows(outages.size(), kOutageRowLimit - (othersShown > 0 ? othersShown + 4 : 0));
    if (outages.empty()) {
        s.add(text(ReportWording::noOutages(), font(12), Palette::ink()));
    } else {
        s.add(text(L("A következőket rögzítettük. Minden sor a mérés által észlelt kezdet és vég között eltelt időt mutatja."),
                   font(10), Palette::secondaryText()));
        std::vector<QStringList> rows;
        for (std::size_t i = 0; i < outagesShown; ++i)
            rows.push_back({F::dateText(outages[i].start), duration(outages[i]), title(outages[i].location)});
        s.add(table({L("Kezdet"), L("Hossz"), L("Szakasz")}, rows));
        if (const auto more = outageContinuation(outages.size(), outagesShown))
            s.add(text(*more, font(9), Palette::mutedText()));
    }
    if (others.empty())
        return s;
    s.add(padded(text(L("Egyéb zavarok — nem kimaradások"), font(11, Weight::semibold), Palette::ink()), 6, 0));
    s.add(text(L("Ezek alatt a kapcsolat működött, de lassú volt, csomagokat vesztett, vagy a névfeloldás akadozott."),
               font(10), Palette::secondaryText()));
    std::vector<QStringList> rows;
    for (std::size_t i = 0; i < othersShown; ++i)
        rows.push_back({F::dateText(others[i].start), duration(others[i]), title(others[i].nature),
                        title(others[i].location)});
    s.add(table({L("Kezdet"), L("Hossz"), L("Jelleg"), L("Szakasz")}, rows, {1.3, 0.8, 1.3, 1.1}));
    if (const auto more = otherIncidentContinuation(others.size(), othersShown))
        s.add(text(*more, font(9), Palette::mutedText()));
    return s;
}

// ---- Timeline ----------------------------------------------------------------------------------------

PVChartStyle DossierPageView::chartStyle()
{
    PVChartStyle style;
    style.ctx = PVPaintContext::forAppearance(PVAppearance::light, PVDepthStyle::solid);
    style.well = fixedColor(QColor(Qt::white));
    style.grid = fixedColor(Palette::rule());
    style.tick = fixedColor(Palette::rule());
    style.label = fixedColor(Palette::mutedText());
    style.directLabel = fixedColor(Palette::secondaryText());
    style.emptyTitle = fixedColor(Palette::secondaryText());
    style.emptyDetail = fixedColor(Palette::mutedText());
    style.labelFont = font(8);
    style.wellRadius = 0;
    return style;
}

namespace {

double sliceSeconds(const DossierDocument& d)
{
    return std::max(1.0, d.request.duration() / DossierBuilder::timelineSlices);
}

PVChartSpec timelineBase(const DossierDocument& d)
{
    PVChartSpec spec;
    spec.locale = QLocale(QLocale::Hungarian, QLocale::Hungary);
    spec.x.format = PVAxisFormat::date;
    spec.x.desiredTicks = 6;
    spec.x.ticks = true;
    // The whole period, so that unmeasured stretches at either end show as such.
    if (d.request.end > d.request.start)
        spec.x.domain = std::pair{d.request.start, d.request.end};
    spec.valueAxisTrailing = false;
    spec.emptyTitle = L("Ebben az időszakban nincs megjeleníthető mérés.");
    spec.emptyDetail = QString();
    return spec;
}

// A fixed value scale whose tick labels use a decimal point, as every figure of the dossier does
// (the chart's own labels would follow the Hungarian locale's comma).
void setValueScale(PVChartAxis& axis, double lo, double hi)
{
    axis.domain = std::pair{lo, hi};
    const double step = niceTicks(lo, hi, axis.desiredTicks).step;
    const int decimals = step > 0 && step < 1 ? static_cast<int>(std::ceil(-std::log10(step) - 1e-9)) : 0;
    axis.formatter = [decimals](double v) { return formatFixed(v, decimals); };
}

void addSeries(PVChartSpec& spec, const std::vector<dossier::SeriesPoint>& points, double slice, const QColor& color)
{
    const auto series = brokenSeries(points, slice);
    PVLineMark line;
    line.color = PVColor::fixed(color);
    line.width = 1.5;
    for (const auto& [x, y] : series)
        line.points.emplace_back(x, y);
    // A slice that stands alone between breaks is drawn by the chart as a dot of the line's colour.
    spec.lines.push_back(std::move(line));
}

} // namespace

PVChartSpec DossierPageView::latencyChartSpec() const
{
    const DossierDocument& d = document_;
    PVChartSpec spec = timelineBase(d);
    std::vector<SeriesPoint> router, provider;
    std::vector<std::optional<double>> providerValues;
    std::size_t routerCount = 0, providerCount = 0;
    for (const DossierTimelinePoint& t : d.timeline) {
        router.push_back({t.time, t.routerMilliseconds});
        provider.push_back({t.time, t.providerMilliseconds});
        providerValues.push_back(t.providerMilliseconds);
        routerCount += t.routerMilliseconds ? 1 : 0;
        providerCount += t.providerMilliseconds ? 1 : 0;
    }
    setValueScale(spec.y, 0.0, latencyYMaximum(providerValues));
    spec.y.title = QStringLiteral("ms");
    const double slice = sliceSeconds(d);
    // The router line may run above the scale; the chart clips every line to its plot.
    if (showsRouter(routerCount, providerCount))
        addSeries(spec, router, slice, Palette::green());
    addSeries(spec, provider, slice, Palette::blue());
    return spec;
}

PVChartSpec DossierPageView::lossChartSpec() const
{
    const DossierDocument& d = document_;
    PVChartSpec spec = timelineBase(d);
    std::vector<SeriesPoint> loss;
    for (const DossierTimelinePoint& t : d.timeline)
        loss.push_back({t.time, t.lossRatio ? std::optional<double>(*t.lossRatio * 100.0) : std::nullopt});
    double largest = 0;
    for (const SeriesPoint& p : loss)
        largest = std::max(largest, p.value.value_or(0.0));
    spec.y.desiredTicks = 4;
    // The chart's own automatic scale, kept, only labelled with a decimal point.
    const auto [lo, hi] = niceDomain(0.0, largest, spec.y.desiredTicks, true);
    setValueScale(spec.y, lo, hi);
    PVAreaMark area;
    QColor fill = Palette::red();
    fill.setAlphaF(0.22f);
    area.top = area.bottom = PVColor::fixed(fill);
    area.baseline = 0.0;
    for (const auto& [x, y] : brokenSeries(loss, sliceSeconds(d)))
        area.points.emplace_back(x, y);
    spec.areas.push_back(std::move(area));
    spec.y.title = QStringLiteral("%");
    return spec;
}

Block DossierPageView::legendItem(const QColor& color, const QString& label)
{
    const QFont f = font(9);
    return {[f](double) { return lineHeight(f); },
            [f, color, label](QPainter& p, const QRectF& r) {
                p.fillRect(QRectF(r.left(), r.center().y() - 1, 14, 2), color);
                p.setFont(f);
                p.setPen(Palette::secondaryText());
                p.drawText(QRectF(r.left() + 14 + 5, r.top(), r.width() - 19, r.height()), Qt::AlignLeft | Qt::AlignVCenter, label);
            }};
}

Stack DossierPageView::timelinePage() const
{
    const DossierDocument& d = document_;
    std::size_t routerCount = 0, providerCount = 0;
    bool loss = false;
    for (const DossierTimelinePoint& t : d.timeline) {
        routerCount += t.routerMilliseconds ? 1 : 0;
        providerCount += t.providerMilliseconds ? 1 : 0;
        loss = loss || (t.lossRatio && *t.lossRatio > 0);
    }
    const bool router = showsRouter(routerCount, providerCount);

    Stack s{stackSpacing(DossierPage::timeline), {}};
    s.add(chart(latencyChartSpec(), latencyChartHeight(loss)));

    // Legend: items side by side, 18 apart.
    std::vector<std::pair<QColor, QString>> items;
    if (router)
        items.emplace_back(Palette::green(), L("az előfizető útválasztója (első ugrás)"));
    items.emplace_back(Palette::blue(), L("az útválasztón túli szakasz"));
    const QFont lf = font(9);
    s.add({[lf](double) { return lineHeight(lf); },
           [items, lf](QPainter& p, const QRectF& r) {
               double x = r.left();
               for (const auto& [color, label] : items) {
                   const double w = 14 + 5 + QFontMetricsF(lf).horizontalAdvance(label) + 1;
                   legendItem(color, label).paint(p, QRectF(x, r.top(), w, r.height()));
                   x += w + 18;
               }
           }});

    s.add(text(router ? L("A két vonal különbsége az, ami a szolgáltatói szakaszra esik. Ahol az alsó vonal alacsony és a "
                          "felső magas, ott a késés az otthoni hálózaton kívül keletkezett.")
                      : L("Az útválasztó saját válaszideje nem szerepel a görbén: ez az eszköz a neki címzett méréseket "
                          "nem válaszolta meg. Ez beállítás, nem hiba, és a rajta átmenő forgalmat nem érinti — de azt "
                          "jelenti, hogy az otthoni és a szolgáltatói szakaszt ebben az időszakban nem tudtuk külön mérni."),
               font(10), Palette::secondaryText()));
    if (loss) {
        s.add(padded(text(L("Csomagvesztés ugyanebben az időszakban"), font(11, Weight::semibold), Palette::ink()), 6, 0));
        s.add(chart(lossChartSpec(), 130));
    }
    return s;
}

// ---- Hourly profile, access points, wired comparison, gaps, raw data -------------------------------

PVChartSpec DossierPageView::hourlyChartSpec() const
{
    PVChartSpec spec;
    spec.locale = QLocale(QLocale::Hungarian, QLocale::Hungary);
    spec.x.format = PVAxisFormat::category;
    spec.x.grid = false;
    spec.valueAxisTrailing = false;
    spec.y.title = QStringLiteral("ms");
    spec.emptyTitle = L("Ebben az időszakban nincs megjeleníthető mérés.");
    spec.emptyDetail = QString();
    double largest = 0;
    for (const HourlyProfileEntry& e : document_.hourlyProfile) {
        if (!e.medianMilliseconds)
            continue; // an hour without a median has no bar and no place on the axis
        spec.bars.push_back({static_cast<double>(spec.categories.size()), *e.medianMilliseconds, PVColor::fixed(Palette::blue())});
        spec.categories << QString::number(e.hour);
        largest = std::max(largest, *e.medianMilliseconds);
    }
    // The chart's own automatic scale, labelled with a decimal point as every figure of the dossier;
    // never finer than whole milliseconds, which is all a figure of the dossier names (a line under
    // one millisecond reads "kevesebb mint 1 ms").
    const auto [lo, hi] = niceDomain(0.0, std::max(largest, 5.0), spec.y.desiredTicks, true);
    setValueScale(spec.y, lo, hi);
    return spec;
}

Stack DossierPageView::hourlyProfilePage() const
{
    const auto& profile = document_.hourlyProfile;
    Stack s{stackSpacing(DossierPage::hourlyProfile), {}};
    s.add(chart(hourlyChartSpec(), 200));
    s.add(text(L("Napszakonkénti jellemző válaszidő, a teljes időszakra összevonva. Egy esti csúcs kapacitáshiányra utal, "
                 "és olyan mintázat, amit egy pillanatnyi sebességmérés soha nem mutat meg."),
               font(10), Palette::secondaryText()));
    // Every measured hour is listed, the evening included: beyond 12 hours in two tables side by side.
    const QStringList titles{L("Óra"), L("Jellemző válaszidő"), L("Veszteség"), L("Mérés")};
    const std::size_t perColumn = std::max<std::size_t>(1, hourlyRowsPerColumn(profile.size()));
    // Half a page wide, the columns share the room by what they hold: the hour needs little.
    const std::vector<double> weights =
        hourlyColumnCount(profile.size()) > 1 ? std::vector<double>{0.55, 1.6, 1.0, 0.75} : std::vector<double>{};
    std::vector<Block> columns;
    for (std::size_t first = 0; first < profile.size() || columns.empty(); first += perColumn) {
        std::vector<QStringList> rows;
        for (std::size_t i = first; i < std::min(profile.size(), first + perColumn); ++i) {
            const HourlyProfileEntry& e = profile[i];
            rows.push_back({hourText(e.hour), F::millisecondsText(e.medianMilliseconds), optionalPercent(e.lossRatio, 1),
                            QString::number(e.sampleCount)});
        }
        columns.push_back(table(titles, rows, weights));
    }
    s.add(sideBySide(std::move(columns), 20));
    return s;
}

Stack DossierPageView::accessPointsPage() const
{
    const auto& points = document_.accessPoints;
    Stack s{stackSpacing(DossierPage::accessPoints), {}};
    s.add(text(L("A Mac ezekhez a hozzáférési pontokhoz kapcsolódott az időszak alatt. A gyenge minták aránya azt "
                 "mutatja, az adott ponton a jel milyen gyakran esett a tervezési határ alá."),
               font(10), Palette::secondaryText()));
    if (const std::optional<QString> stretch = document_.rawOnlyPagesNote())
        s.add(text(*stretch, font(10), Palette::secondaryText()));
    std::vector<QStringList> rows;
    for (std::size_t i = 0; i < shownRows(points.size(), kAccessPointRowLimit); ++i) {
        const AccessPointBreakdown& a = points[i];
        rows.push_back({F::withoutDirectionalControls(a.label), a.band.value_or(F::missingValue()), rssiText(a.medianRssi),
                        F::percentText(a.weakSampleRatio, 0), QString::number(a.sampleCount)});
    }
    s.add(table({L("Hozzáférési pont"), L("Sáv"), L("Jellemző jel"), L("Gyenge minták"), L("Minta")}, rows));
    return s;
}

Stack DossierPageView::wiredComparisonPage() const
{
    const WiredWiFiComparison& w = document_.wiredComparison;
    Stack s{stackSpacing(DossierPage::wiredComparison), {}};
    s.add(text(L("A leggyakoribb válasz egy hibabejelentésre az, hogy a hiba az előfizető Wi-Fi hálózatában van. Ez az "
                 "oldal azt vizsgálja, hogy a mérések alátámasztják-e."),
               font(11), Palette::ink()));
    // Which interface a measurement went out on is known of raw samples only: the page names the
    // stretch those cover, and says nothing of counts the roll-ups do not keep.
    if (const std::optional<QString> stretch = document_.rawOnlyPagesNote(); stretch && !document_.onlyRollups)
        s.add(text(*stretch, font(10), Palette::secondaryText()));
    if (const std::optional<QString> shortage = document_.wiredComparisonShortage()) {
        s.add(calloutCard(
            QStringLiteral("Ez az összehasonlítás még nem készíthető el"),
            {*shortage,
             QStringLiteral("Hogyan érdemes elvégezni: kösse a számítógépet hálózati kábellel közvetlenül az "
                            "útválasztóhoz, és hagyja futni az alkalmazást legalább tíz percig. Ezután állítsa vissza a "
                            "Wi-Fi kapcsolatot, és hagyja futni ugyanannyi ideig. A következő dosszié tartalmazni fogja "
                            "a két mérés összevetését."),
             QStringLiteral("Ez a legerősebb egyetlen lépés, amivel ") +
                 F::quotedWithArticle(QStringLiteral("az előfizető Wi-Fi hálózata a hibás"), false) +
                 QStringLiteral(" felvetés megválaszolható.")}));
        return s;
    }
    s.add(table({QStringLiteral("Mérési mód"), QStringLiteral("Jellemző válaszidő"), QStringLiteral("Csomagvesztés"),
                 QStringLiteral("Mérés")},
                {{QStringLiteral("Wi-Fi"), F::millisecondsText(w.wifiMedianMs), optionalPercent(w.wifiLossRatio, 1),
                  QString::number(w.wifiSampleCount)},
                 {QStringLiteral("Vezetékes"), F::millisecondsText(w.wiredMedianMs), optionalPercent(w.wiredLossRatio, 1),
                  QString::number(w.wiredSampleCount)}}));
    if (const auto contribution = contributionParagraphs(w.wifiMedianMs, w.wiredMedianMs))
        s.add(calloutCard(QStringLiteral("Mit tesz hozzá a Wi-Fi"), *contribution));
    if (const auto sentence = wiredLossSentence(w.wifiLossRatio, w.wiredLossRatio))
        s.add(text(*sentence, font(11), Palette::ink()));
    return s;
}

Stack DossierPageView::ipv6Page() const
{
    const DossierDocument& d = document_;
    Stack s{stackSpacing(DossierPage::ipv6), {}};
    s.add(text(L("A legtöbb otthoni előfizetés IPv4 és IPv6 kapcsolatot is ad, és a böngészők, a videók és a frissítések "
                 "először IPv6-on próbálkoznak. Ha az IPv6 elakad, az oldalak lassan indulnak, pedig az IPv4 jó. A "
                 "dosszié többi oldala az IPv4 méréseiből készült; ez az oldal a kettőt veti össze."),
               font(11), Palette::ink()));
    const auto legName = [](ProbeKind kind) {
        switch (kind) {
        case ProbeKind::gateway: return L("Router");
        case ProbeKind::publicIP: return L("Nyilvános címek");
        case ProbeKind::dns: return L("Névfeloldás");
        case ProbeKind::http: return L("Weboldal");
        }
        return QString();
    };
    std::vector<QStringList> rows;
    for (const FamilyLegComparison& leg : d.familyLegs)
        rows.push_back({legName(leg.kind), F::millisecondsText(leg.ipv4MedianMs), F::millisecondsText(leg.ipv6MedianMs),
                        optionalPercent(leg.ipv4LossRatio, 1), optionalPercent(leg.ipv6LossRatio, 1)});
    s.add(table({L("Szakasz"), L("IPv4 válaszidő"), L("IPv6 válaszidő"), L("IPv4 vesztés"), L("IPv6 vesztés")}, rows,
                {1.3, 1, 1, 1, 1}));
    s.add(padded(text(L("Az IPv6 zavarai"), font(11, Weight::semibold), Palette::ink()), 6, 0));
    if (d.ipv6Incidents.empty()) {
        s.add(text(L("Az időszakban az IPv6 útvonalon nem rögzítettünk zavart."), font(10), Palette::secondaryText()));
    } else {
        rows.clear();
        for (std::size_t i = 0; i < shownRows(d.ipv6Incidents.size(), kOtherIncidentRowLimit); ++i) {
            const Ipv6IncidentRecord& r = d.ipv6Incidents[i];
            rows.push_back({F::dateText(r.start), r.end ? F::durationText(*r.end - r.start) : L("még tartott"),
                            title(r.classification)});
        }
        s.add(table({L("Kezdet"), L("Hossz"), L("Jelleg")}, rows, {1.1, 0.8, 2.1}));
        if (const auto more = otherIncidentContinuation(d.ipv6Incidents.size(), rows.size()))
            s.add(text(*more, font(9), Palette::mutedText()));
    }
    if (const std::optional<QString> sentence = d.ipv6ProviderSentence())
        s.add(calloutCard(L("Mit mondjon a szolgáltatónak"), {*sentence}));
    return s;
}

Stack DossierPageView::gapLedgerPage() const
{
    const auto& gaps = document_.gaps;
    Stack s{stackSpacing(DossierPage::gapLedger), {}};
    s.add(text(ReportWording::gapExplanation(), font(10), Palette::secondaryText()));
    if (gaps.empty()) {
        s.add(text(L("Az időszakban nem volt olyan szakasz, ahol a mérés több mint öt percre megszakadt volna."), font(12),
                   Palette::ink()));
        return s;
    }
    std::vector<QStringList> rows;
    for (std::size_t i = 0; i < shownRows(gaps.size(), kGapRowLimit); ++i)
        rows.push_back({F::dateText(gaps[i].start), F::dateText(gaps[i].end), F::durationText(gaps[i].duration())});
    s.add(table({L("Kezdet"), L("Vég"), L("Hossz")}, rows));
    if (const auto more = gapContinuation(gaps.size()))
        s.add(text(*more, font(9), Palette::mutedText()));
    return s;
}

Stack DossierPageView::methodologyPage() const
{
    Stack s{stackSpacing(DossierPage::methodology), {}};
    for (const QString& paragraphText : ReportWording::methodologyParagraphs())
        s.add(paragraph(paragraphText, 10));
    return s;
}

Stack DossierPageView::nextStepsPage() const
{
    Stack s{stackSpacing(DossierPage::nextSteps), {}};
    const NextStepsText steps = ReportWording::nextSteps(document_.request.regionCode);
    for (qsizetype i = 0; i < steps.paragraphs.size(); ++i)
        s.add(numberedStep(static_cast<int>(i), steps.paragraphs[i]));
    return s;
}

Stack DossierPageView::rawDataPage() const
{
    const DossierDocument& d = document_;
    Stack s{stackSpacing(DossierPage::rawData), {}};
    s.add(text(ReportWording::rawDataAvailability(), font(11), Palette::ink()));
    Stack facts{0, {}};
    facts.add(factRow(QStringLiteral("Mérések száma az időszakban"), QString::number(d.sampleCount)));
    facts.add(factRow(QStringLiteral("Rögzített kimaradás"), QString::number(static_cast<long long>(d.trueOutages().size()))));
    facts.add(factRow(QStringLiteral("Rögzített egyéb zavar"),
                      QString::number(static_cast<long long>(d.otherIncidents().size()))));
    facts.add(factRow(QStringLiteral("Nem mért időszak"), QString::number(static_cast<long long>(d.gaps.size()))));
    facts.add(factRow(QStringLiteral("A dokumentum készítője"), QStringLiteral("Polvarine ") + d.appVersion));
    s.add(facts.asBlock());
    return s;
}

} // namespace pv
