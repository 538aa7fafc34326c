#include "ui/main/DashboardSections.h"

#include "ui/design/Controls.h"
#include "ui/design/Depth.h"

#include "core/records/LoadTestResult.h"
#include "core/records/LocaleDates.h"
#include "core/records/Localization.h"

#include <QEvent>
#include <QFocusEvent>
#include <QLocale>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <cmath>
#include <QVBoxLayout>

namespace pv {

namespace {
int px(double v) { return static_cast<int>(v); }

QVBoxLayout* vbox(QWidget* owner, int spacing, QMargins margins = {})
{
    auto* l = new QVBoxLayout(owner);
    l->setContentsMargins(margins);
    l->setSpacing(spacing);
    return l;
}

void fillRounded(QWidget* w, const PVColor& color, double radius)
{
    const PVPaintContext ctx = PVPaintContext::forWidget(w);
    QPainter p(w);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(w->rect()), radius, radius);
    p.fillPath(shape, ctx.color(color));
}

// The shared empty state of the dashboard's charts: the chart component paints it for a chart
// without marks.
PVChartView* makeEmptyPanel(QWidget* parent)
{
    auto* panel = new PVChartView(parent);
    panel->setOpaqueBackground(PVColor(PV::color::surface::card));
    panel->setFixedHeight(140);
    panel->setAccessibleName(L("Még nincs elég mérés a rajzoláshoz."));
    return panel;
}

// A line swatch: a 1-rounded bar in a series colour.
class Swatch : public QWidget {
public:
    Swatch(const PVColor& color, QSize size, QWidget* parent) : QWidget(parent), color_(color) { setFixedSize(size); }

protected:
    void paintEvent(QPaintEvent*) override { fillRounded(this, color_, 1); }

private:
    PVColor color_;
};
} // namespace

// ---- Adaptive grid ------------------------------------------------------------------------------

PVAdaptiveGridLayout::PVAdaptiveGridLayout(int minimumColumn, int spacing, QWidget* parent)
    : QLayout(parent)
    , minimumColumn_(minimumColumn)
    , spacing_(spacing)
{
    setContentsMargins(0, 0, 0, 0);
}

PVAdaptiveGridLayout::~PVAdaptiveGridLayout()
{
    for (QLayoutItem* item : items_)
        delete item;
}

int PVAdaptiveGridLayout::columnsForWidth(int width) const
{
    return std::min(adaptiveColumns(width, minimumColumn_, spacing_), std::max(1, count()));
}

void PVAdaptiveGridLayout::addItem(QLayoutItem* item) { items_.push_back(item); }

QLayoutItem* PVAdaptiveGridLayout::itemAt(int index) const
{
    return index >= 0 && index < count() ? items_[static_cast<std::size_t>(index)] : nullptr;
}

QLayoutItem* PVAdaptiveGridLayout::takeAt(int index)
{
    if (index < 0 || index >= count())
        return nullptr;
    QLayoutItem* item = items_[static_cast<std::size_t>(index)];
    items_.erase(items_.begin() + index);
    return item;
}

QSize PVAdaptiveGridLayout::sizeHint() const
{
    const int n = std::max(1, count());
    const int w = n * minimumColumn_ + (n - 1) * spacing_;
    return {w, heightForWidth(w)};
}

// The height comes from heightForWidth; a minimum at one column's width would make every enclosing
// layout reserve the tall single-column height even when the grid is wide.
QSize PVAdaptiveGridLayout::minimumSize() const { return {minimumColumn_, heightForWidth(sizeHint().width())}; }

int PVAdaptiveGridLayout::heightForWidth(int width) const { return doLayout(QRect(0, 0, width, 0), false); }

void PVAdaptiveGridLayout::setGeometry(const QRect& rect)
{
    QLayout::setGeometry(rect);
    doLayout(rect, true);
}

int PVAdaptiveGridLayout::doLayout(const QRect& rect, bool apply) const
{
    const int columns = columnsForWidth(rect.width());
    const int columnWidth = std::max(1, (rect.width() - (columns - 1) * spacing_) / columns);
    int y = rect.top();
    for (int start = 0; start < count(); start += columns) {
        int rowHeight = 0;
        const int end = std::min(count(), start + columns);
        for (int i = start; i < end; ++i) {
            QLayoutItem* item = items_[static_cast<std::size_t>(i)];
            const int h = item->hasHeightForWidth() ? item->heightForWidth(columnWidth) : item->sizeHint().height();
            rowHeight = std::max({rowHeight, h, item->minimumSize().height()});
        }
        if (apply)
            for (int i = start; i < end; ++i)
                items_[static_cast<std::size_t>(i)]->setGeometry(
                    QRect(rect.left() + (i - start) * (columnWidth + spacing_), y, columnWidth, rowHeight));
        y += rowHeight + (end < count() ? spacing_ : 0);
    }
    return y - rect.top();
}

// ---- "Most" -------------------------------------------------------------------------------------

NowSection::NowSection(QWidget* parent)
    : PVSectionCard(L("Most"), L("Az elmúlt néhány perc mérései."), parent)
{
    auto* host = new QWidget(this);
    grid_ = new PVAdaptiveGridLayout(kMinimumColumn, px(PV::space::s), host);
    for (int i = 0; i < 5; ++i) {
        auto* tile = new PVStatTile(PVStatTileData{}, host);
        grid_->addWidget(tile);
        tiles_.push_back(tile);
    }
    addContent(host);
}

void NowSection::setSnapshot(const OverviewSnapshot& s, Timestamp now)
{
    const auto data = nowTiles(s, now);
    bool changed = false;
    for (std::size_t i = 0; i < tiles_.size() && i < data.size(); ++i)
        changed = tiles_[i]->setData(data[i]) || changed;
    if (changed)
        grid_->invalidate();
}

// ---- Usage capability ---------------------------------------------------------------------------

UsageTileView::UsageTileView(QWidget* parent)
    : QWidget(parent)
{
    setMinimumHeight(84);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Minimum);
    auto* stack = vbox(this, px(PV::space::xs), QMargins(12, 12, 12, 12));
    auto* header = new QHBoxLayout();
    header->setSpacing(px(PV::space::xs));
    symbol_ = new PVSymbolView("video.fill", 14, PV::color::ink::tertiary, PVFontToken::cardTitle, this);
    title_ = new PVText(QString(), PVFontToken::cardTitle, PV::color::ink::primary, this);
    header->addWidget(symbol_);
    header->addWidget(title_, 1);
    stack->addLayout(header);
    badge_ = new PVStatusBadge(PVStatus::neutral, QString(), false, this);
    stack->addWidget(badge_, 0, Qt::AlignLeft);
    stack->addStretch(1);
}

void UsageTileView::setTile(const UsageTile& tile)
{
    symbol_->setSymbol(tile.symbol);
    title_->setText(tile.title);
    badge_->setLevel(tile.level);
    badge_->setWord(tile.word);
    setAccessibleName(tile.accessibleLabel);
}

QString UsageTileView::titleText() const { return title_->text(); }

void UsageTileView::paintEvent(QPaintEvent*) { fillRounded(this, PV::color::surface::well, 8); }

UsageSection::UsageSection(QWidget* parent)
    : PVSectionCard(L("Mire elég ez a kapcsolat?"), QString(), parent)
{
    auto* content = new QWidget(this);
    auto* stack = vbox(content, px(PV::space::m));
    auto* gridHost = new QWidget(content);
    auto* grid = new PVAdaptiveGridLayout(kMinimumColumn, px(PV::space::s), gridHost);
    for (int i = 0; i < 4; ++i) {
        auto* tile = new UsageTileView(gridHost);
        grid->addWidget(tile);
        tiles_.push_back(tile);
    }
    stack->addWidget(gridHost);
    evidence_ = new QWidget(content);
    evidenceRows_ = vbox(evidence_, px(PV::space::xxs));
    stack->addWidget(evidence_);
    addContent(content);
}

void UsageSection::setVerdict(const ConnectionVerdict& verdict)
{
    setSubtitle(verdict.confidence.description());
    const auto tiles = usageTiles(verdict);
    for (std::size_t i = 0; i < tiles_.size() && i < tiles.size(); ++i)
        tiles_[i]->setTile(tiles[i]);
    const QStringList wanted(verdict.evidence.begin(), verdict.evidence.end());
    if (wanted != evidenceTexts()) {
        while (QLayoutItem* item = evidenceRows_->takeAt(0)) {
            delete item->widget();
            delete item;
        }
        for (const QString& sentence : wanted)
            evidenceRows_->addWidget(new PVBulletRow(sentence, evidence_));
    }
    evidence_->setVisible(!wanted.isEmpty());
}

QStringList UsageSection::evidenceTexts() const
{
    QStringList texts;
    for (int i = 0; i < evidenceRows_->count(); ++i)
        if (auto* row = qobject_cast<PVBulletRow*>(evidenceRows_->itemAt(i)->widget()))
            texts << row->text();
    return texts;
}

// ---- Speed and load -----------------------------------------------------------------------------

SpeedSection::SpeedSection(QWidget* parent)
    : PVSectionCard(L("Sebesség és terhelhetőség"),
                    L("A folyamatos figyelés nyugalmi állapotot mér. Ez a teszt megnézi, mi történik, amikor a "
                      "vonal dolgozik."),
                    parent)
{
    auto* content = new QWidget(this);
    auto* row = new QHBoxLayout(content);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(px(PV::space::m));
    auto* texts = vbox(nullptr, px(PV::space::xxs));
    texts->addWidget(new PVText(L("Miért akadozik a hívás, ha gyors a net?"), PVFontToken::cardTitle,
                                PV::color::ink::primary, content));
    texts->addWidget(new PVText(L("Mert amint valami tölteni kezd, a csomagok sorba állnak, és a válaszidő megugrik. "
                                  "Ez a teszt ezt méri meg — egyetlen sebességteszt sem mutatja."),
                                PVFontToken::body, PV::color::ink::secondary, content));
    latest_ = new PVText(QString(), PVFontToken::caption, PV::color::ink::tertiary, content);
    latest_->setContentsMargins(0, px(PV::space::xxs), 0, 0);
    latest_->hide();
    texts->addWidget(latest_);
    row->addLayout(texts, 1);
    start_ = new PVPrimaryButton(L("Mérés indítása"), content);
    start_->setLarge(true);
    start_->setDefault(true);
    start_->setCursor(Qt::PointingHandCursor);
    row->addWidget(start_, 0, Qt::AlignTop);
    connect(start_, &QPushButton::clicked, this, &SpeedSection::loadTestRequested);
    addContent(content);
    restyle();
}

void SpeedSection::setLoadTestAvailable(bool available)
{
    start_->setEnabled(available);
    restyle();
}

void SpeedSection::setLatestLoadTest(const std::optional<StoredLoadTest>& test)
{
    latest_->setVisible(test.has_value());
    if (!test) {
        latest_->setText(QString());
        return;
    }
    const QString when = dayLabel(test->startedAt, dateLocale()) + QLatin1Char(' ') +
                         timeOfDayLabel(test->startedAt, dateLocale());
    QString text = LF("Legutóbbi teszt (%@): %.0f Mbps le, %.0f Mbps fel, terhelés alatt: %@.",
                      {when, test->downloadMbps, test->uploadMbps, gradeTitle(test->grade)});
    if (test->latencyIncreaseMilliseconds)
        text += QLatin1Char(' ') + LF("A késleltetés %@-mal nőtt.", {millisecondsText(*test->latencyIncreaseMilliseconds)});
    latest_->setText(text);
}

QString SpeedSection::latestLoadTestText() const { return latest_->isHidden() ? QString() : latest_->text(); }

void SpeedSection::changeEvent(QEvent* event)
{
    PVSectionCard::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange)
        restyle();
}

void SpeedSection::restyle()
{
    // The large prominent form, its title in the body size.
    const QFont font = pvFont(PVFontToken::body);
    if (start_->font() != font) {
        start_->setFont(font);
        start_->updateGeometry();
    }
}

// ---- Legend -------------------------------------------------------------------------------------

ChartLegend::ChartLegend(const std::vector<Item>& items, QWidget* parent)
    : QWidget(parent)
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 4, 0, 0);
    row->setSpacing(px(PV::space::m));
    for (const Item& item : items) {
        auto* entry = new QHBoxLayout();
        entry->setSpacing(6);
        entry->addWidget(new Swatch(item.color, QSize(14, 2), this), 0, Qt::AlignVCenter);
        auto* name = new PVText(item.name, PVFontToken::caption, PV::color::ink::secondary, this);
        name->setWrapping(false);
        entry->addWidget(name);
        row->addLayout(entry);
        names_ << item.name;
    }
    row->addStretch(1);
}

QStringList ChartLegend::names() const { return names_; }

// ---- Latency along the route --------------------------------------------------------------------

LatencySection::LatencySection(QWidget* parent)
    : PVSectionCard(L("Válaszidő az útvonal mentén"),
                    L("Minél alacsonyabb, annál jobb. A szakadás ott van, ahol nem volt mérés, vagy ahol a mérés nem "
                      "sikerült — nem azt jelenti, hogy nulla volt. Hogy melyik volt, a grafikon alatt olvasható."),
                    parent)
{
    empty_ = makeEmptyPanel(this);
    chart_ = new PVChartView(this);
    chart_->setOpaqueBackground(PVColor(PV::color::surface::card));
    chart_->setFixedHeight(kChartHeight);
    legend_ = new ChartLegend({{L("A te routered"), PV::color::culprit::router},
                               {L("A szolgáltatód"), PV::color::culprit::provider}},
                              this);
    addContent(empty_);
    addContent(chart_);
    addContent(legend_);
    ipv6Legend_ = new PVText(L("Szaggatott vonal: a szolgáltatód IPv6-on"), PVFontToken::caption,
                             PV::color::ink::secondary, this);
    addContent(ipv6Legend_);
    ipv6Legend_->hide();
    gaps_ = new PVText(QString(), PVFontToken::caption, PV::color::ink::secondary, this);
    addContent(gaps_);
    gaps_->hide();
}

void LatencySection::setGaps(const QString& caption)
{
    gaps_->setText(caption);
    gaps_->setVisible(!caption.isEmpty() && !chart_->isHidden());
}

QString LatencySection::gapsCaption() const { return gaps_->isHidden() ? QString() : gaps_->text(); }

void LatencySection::setBatches(const std::vector<ProbeBatch>& batches)
{
    auto router = latencyPoints(ProbeKind::gateway, batches);
    auto provider = latencyPoints(ProbeKind::publicIP, batches);
    Shown wanted{router, provider, failureTimes(ProbeKind::gateway, batches),
                 failureTimes(ProbeKind::publicIP, batches), latencyPoints(ProbeKind::publicIP, ipv6Batches_)};
    if (shown_ == wanted)
        return;
    const bool empty = router.empty() && provider.empty();
    empty_->setVisible(empty);
    chart_->setVisible(!empty);
    legend_->setVisible(!empty);
    if (empty) {
        chart_->setSpec(PVChartSpec{});
        chart_->setCrosshair({}, {});
        shown_ = std::move(wanted);
        return;
    }
    PVChartSpec spec = latencyChartSpec(router, provider, wanted.routerFailures, wanted.providerFailures);
    if (!wanted.ipv6Provider.empty()) {
        // The provider's IPv6 line, broken where IPv6 went unanswered; the scale takes it in.
        spec.lines.push_back({lineWithBreaks(wanted.ipv6Provider, failureTimes(ProbeKind::publicIP, ipv6Batches_)),
                              PV::color::culprit::provider, 1.5, Qt::RoundJoin, {4, 3}});
        if (spec.y.domain)
            spec.y.domain->second = std::max(spec.y.domain->second, latencyUpperBound(wanted.ipv6Provider, {}));
    }
    ipv6Legend_->setVisible(!wanted.ipv6Provider.empty());
    chart_->setSpec(spec);
    shown_ = std::move(wanted);
    pvChartAccessibility(chart_, latencySummaryLabel(router, provider), latencySummarySeries(router, provider), std::nullopt);
    auto dates = latencyHoverDates(provider);
    chart_->setCrosshair(std::move(dates), [router = std::move(router), provider = std::move(provider)](double t) {
        return latencyReadings(router, provider, t);
    });
}

// ---- Wi-Fi signal -------------------------------------------------------------------------------

WifiSignalSection::WifiSignalSection(QWidget* parent)
    : PVSectionCard(L("Wi-Fi jel"),
                    L("A jelerősség és a jel-zaj viszony két külön mértékegység, ezért két külön grafikon."), parent)
{
    empty_ = makeEmptyPanel(this);
    addContent(empty_);

    body_ = new QWidget(this);
    auto* bodyStack = vbox(body_, px(PV::space::s));
    auto* charts = new QWidget(body_);
    auto* chartStack = vbox(charts, px(PV::space::m));
    strength_ = makeChart(L("Jelerősség (dBm) — a −70 alatti tartomány gyenge"), charts);
    noise_ = makeChart(L("Jel-zaj viszony (dB) — a 20 alatti érték zajos környezetet jelez"), charts);
    chartStack->addWidget(strength_.box);
    chartStack->addWidget(noise_.box);
    bodyStack->addWidget(charts);

    nodes_ = new QWidget(body_);
    auto* nodeStack = vbox(nodes_, 0);
    auto* dividerBox = new QWidget(nodes_);
    vbox(dividerBox, 0, QMargins(0, 8, 0, 8))->addWidget(new PVDivider(dividerBox));
    nodeStack->addWidget(dividerBox);
    auto* list = new QWidget(nodes_);
    nodeRows_ = vbox(list, px(PV::space::xs));
    nodeRows_->addWidget(
        new PVText(L("Használt hozzáférési pontok"), PVFontToken::cardTitle, PV::color::ink::secondary, list));
    nodeStack->addWidget(list);
    bodyStack->addWidget(nodes_);
    addContent(body_);
}

WifiSignalSection::SignalChart WifiSignalSection::makeChart(const QString& title, QWidget* parent)
{
    SignalChart c{};
    c.box = new QWidget(parent);
    auto* stack = vbox(c.box, px(PV::space::xs));
    stack->addWidget(new PVText(title, PVFontToken::caption, PV::color::ink::secondary, c.box));
    c.noData = new PVText(L("Nincs mérhető adat."), PVFontToken::caption, PV::color::ink::tertiary, c.box);
    c.noData->setMinimumHeight(60);
    c.chart = new PVChartView(c.box);
    c.chart->setOpaqueBackground(PVColor(PV::color::surface::card));
    c.chart->setFixedHeight(kChartHeight);
    c.chart->setAccessibleName(title);
    stack->addWidget(c.noData);
    stack->addWidget(c.chart);
    return c;
}

void WifiSignalSection::show(SignalChart& c, const std::vector<LatencyPoint>& series, const PVColor& color)
{
    c.noData->setVisible(series.empty());
    c.chart->setVisible(!series.empty());
    c.chart->setSpec(signalChartSpec(series, color));
}

void WifiSignalSection::showSeries(const Shown& shown)
{
    const bool empty = shown.strength.empty() && shown.snr.empty();
    // Without any Wi-Fi reading the connection is wired (the culprit chain says so too): no amount
    // of waiting fills the charts, so the empty panel says that instead of asking for patience.
    PVChartSpec emptySpec;
    if (shown.noReadings) {
        emptySpec.emptyTitle = L("Kábelen csatlakozol");
        emptySpec.emptyDetail = L("Ilyenkor nincs Wi-Fi jel, így itt nincs mit rajzolni.");
    }
    empty_->setAccessibleName(emptySpec.emptyTitle.value_or(L("Még nincs elég mérés a rajzoláshoz.")));
    empty_->setSpec(std::move(emptySpec));
    empty_->setVisible(empty);
    body_->setVisible(!empty);
    show(strength_, shown.strength, PV::color::culprit::wifi);
    show(noise_, shown.snr, PV::color::series::dns);
}

void WifiSignalSection::setReadings(const std::vector<WifiSnapshot>& snapshots,
                                    const std::vector<NodeFingerprint>& history)
{
    const auto used = usedWifiSnapshots(snapshots);
    Shown wanted{signalStrengthSeries(used), signalToNoiseSeries(used), snapshots.empty()};
    if (shown_ != wanted)
        showSeries(wanted);
    shown_ = std::move(wanted);

    const QStringList rows = nodeRows(history);
    if (rows != nodeTexts_) {
        while (nodeRows_->count() > 1) {
            QLayoutItem* item = nodeRows_->takeAt(1);
            delete item->widget();
            delete item;
        }
        for (const QString& text : rows)
            nodeRows_->addWidget(
                new PVText(text, PVFontToken::monoDataSmall, PV::color::ink::tertiary, nodeRows_->parentWidget()));
        nodeTexts_ = rows;
    }
    nodes_->setVisible(!rows.isEmpty());
}

// ---- Incidents ----------------------------------------------------------------------------------

IncidentRowView::IncidentRowView(const IncidentRow& row, QWidget* parent)
    : QWidget(parent)
    , highlight_(row.highlight)
{
    const int side = highlight_.isOpen ? 8 : 0;
    auto* line = new QHBoxLayout(this);
    line->setContentsMargins(side, 8, side, 8);
    line->setSpacing(px(PV::space::s));

    // An 18-wide column, wider when the symbol grows with the title beside it.
    auto* symbolBox = new QWidget(this);
    symbolBox->setMinimumWidth(18);
    symbolBox->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    auto* symbolStack = vbox(symbolBox, 0, QMargins(0, 2, 0, 0));
    auto* symbol = new PVSymbolView(incidentSymbol(row.incident.severity), 13, statusMarkSaturated(highlight_.level),
                                    PVFontToken::cardTitle, symbolBox);
    symbolStack->addWidget(symbol, 0, Qt::AlignHCenter);
    symbolStack->addStretch(1);
    line->addWidget(symbolBox);

    auto* texts = vbox(nullptr, px(PV::space::hair));
    title_ = new PVText(title(row.incident.classification), PVFontToken::cardTitle, PV::color::ink::primary, this);
    texts->addWidget(title_);
    summary_ = new PVText(row.summary, PVFontToken::caption, PV::color::ink::secondary, this);
    texts->addWidget(summary_);
    texts->addStretch(1);
    // The row's spacing keeps the time column at least 12 from the texts.
    line->addLayout(texts, 1);

    auto* trailing = vbox(nullptr, px(PV::space::hair));
    auto* time = new PVText(row.timeText, PVFontToken::monoDataSmall,
                            PV::color::ink::tertiary, this);
    time->setWrapping(false);
    time->setHorizontalAlignment(Qt::AlignRight);
    trailing->addWidget(time, 0, Qt::AlignRight);
    if (highlight_.isOpen) {
        badge_ = new PVStatusBadge(PVStatus::watch, QStringLiteral("Tart"), true, this);
        trailing->addWidget(badge_, 0, Qt::AlignRight);
    } else if (row.duration) {
        // An ended incident says how long it lasted where an open one says that it goes on.
        duration_ = new PVText(*row.duration, PVFontToken::microCaption, PV::color::ink::tertiary, this);
        duration_->setWrapping(false);
        duration_->setHorizontalAlignment(Qt::AlignRight);
        trailing->addWidget(duration_, 0, Qt::AlignRight);
    }
    trailing->addStretch(1);
    line->addLayout(trailing);
}

QString IncidentRowView::titleText() const { return title_->text(); }
QString IncidentRowView::summaryText() const { return summary_->text(); }
QString IncidentRowView::durationText() const { return duration_ != nullptr ? duration_->text() : QString(); }

void IncidentRowView::paintEvent(QPaintEvent*)
{
    if (highlight_.isOpen)
        fillRounded(this, PVColor(statusWash(highlight_.level)).opacity(0.5), 6);
}

IncidentSection::IncidentSection(QWidget* parent)
    : PVSectionCard(L("Incidensek"), std::nullopt, parent)
{
    empty_ = new QWidget(this);
    auto* emptyStack = vbox(empty_, px(PV::space::xxs), QMargins(0, 12, 0, 12));
    emptyStack->addWidget(new PVText(L("Nem történt semmi."), PVFontToken::callout, PV::color::ink::primary, empty_));
    emptyStack->addWidget(new PVText(L("Amíg ez a lista üres, a kapcsolat végig működött — ez a jó eset."),
                                     PVFontToken::caption, PV::color::ink::tertiary, empty_));
    list_ = new QWidget(this);
    listLayout_ = vbox(list_, 0);
    addContent(empty_);
    addContent(list_);
    list_->hide();
}

void IncidentSection::setIncidents(const std::vector<Incident>& incidents, Timestamp now)
{
    subtitle_ = incidentSubtitle(incidents);
    setSubtitle(subtitle_);
    empty_->setVisible(incidents.empty());
    list_->setVisible(!incidents.empty());
    auto rows = incidentRowsToShow(incidents, now);
    auto same = [](const std::vector<IncidentRow>& a, const std::vector<IncidentRow>& b) {
        return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const IncidentRow& x, const IncidentRow& y) {
            return x.incident == y.incident && x.dividerAfter == y.dividerAfter && x.timeText == y.timeText &&
                   x.summary == y.summary && x.duration == y.duration;
        });
    };
    if (same(rows, shown_))
        return;
    while (QLayoutItem* item = listLayout_->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    for (const IncidentRow& row : rows) {
        listLayout_->addWidget(new IncidentRowView(row, list_));
        if (row.dividerAfter)
            listLayout_->addWidget(new PVDivider(list_));
    }
    shown_ = std::move(rows);
}

std::vector<IncidentRowView*> IncidentSection::rows() const
{
    std::vector<IncidentRowView*> rows;
    for (int i = 0; i < listLayout_->count(); ++i)
        if (auto* row = qobject_cast<IncidentRowView*>(listLayout_->itemAt(i)->widget()))
            rows.push_back(row);
    return rows;
}

int IncidentSection::dividerCount() const
{
    int n = 0;
    for (int i = 0; i < listLayout_->count(); ++i)
        n += qobject_cast<PVDivider*>(listLayout_->itemAt(i)->widget()) != nullptr ? 1 : 0;
    return n;
}

// ---- Raw measurement data -----------------------------------------------------------------------

DisclosureButton::DisclosureButton(const QString& text, QWidget* parent)
    : QAbstractButton(parent)
{
    setText(text);
    setCheckable(true);
    setCursor(Qt::PointingHandCursor);
    setAccessibleName(text);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

QSize DisclosureButton::sizeHint() const
{
    const QFontMetrics fm(pvFont(PVFontToken::cardTitle));
    return {20 + fm.horizontalAdvance(text()) + 2 * kFocusRingReach, std::max(18, fm.height()) + 2 * kFocusRingReach};
}

QRectF DisclosureButton::contentRect() const
{
    const QFontMetricsF fm(pvFont(PVFontToken::cardTitle));
    return {double(kFocusRingReach), double(kFocusRingReach),
            std::min(20 + std::ceil(fm.horizontalAdvance(text())), double(width() - 2 * kFocusRingReach)),
            double(height() - 2 * kFocusRingReach)};
}

void DisclosureButton::paintEvent(QPaintEvent*)
{
    const PVPaintContext ctx = PVPaintContext::forWidget(this);
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF content = contentRect();
    if (hasFocus() && hasKeyboardFocus(this))
        pvPaintFocusRing(p, content, PV::radius::control, this);
    const QColor ink = ctx.color(PV::color::ink::secondary);
    const double box = symbolBox(10);
    pvPaintSymbol(p, QRectF(content.left(), content.center().y() - box / 2.0, box, box),
                  isChecked() ? "chevron.compact.down" : "chevron.compact.right", ink);
    p.setFont(pvFont(PVFontToken::cardTitle));
    p.setPen(ink);
    p.drawText(QRectF(content.left() + 20, content.top(), width() - content.left() - 20, content.height()),
               Qt::AlignLeft | Qt::AlignVCenter, text());
}

RawDataSection::RawDataSection(QWidget* parent)
    : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Minimum);
    // The disclosure keeps room for its focus ring around its title, which lines up with the figures.
    auto* stack = vbox(this, 0, QMargins(20 - kFocusRingReach, 20 - kFocusRingReach, 20, 20));
    toggle_ = new DisclosureButton(L("Nyers mérési adatok"), this);
    stack->addWidget(toggle_);
    content_ = new QWidget(this);
    auto* rows = vbox(content_, px(PV::space::s), QMargins(kFocusRingReach, 12 - kFocusRingReach, 0, 0));
    for (int i = 0; i < 5; ++i) {
        auto* row = new QHBoxLayout();
        row->setSpacing(px(PV::space::s));
        auto* title = new PVText(QString(), PVFontToken::monoDataSmall, PV::color::ink::secondary, content_);
        title->setFixedWidth(90);
        auto* figures = new QLabel(content_);
        figures->setFont(pvFont(PVFontToken::monoDataSmall));
        figures->setTextInteractionFlags(Qt::TextSelectableByMouse);
        figures->setWordWrap(true);
        figures->setTextFormat(Qt::PlainText);
        row->addWidget(title, 0, Qt::AlignTop);
        row->addWidget(figures, 1, Qt::AlignTop);
        rows->addLayout(row);
        titles_ << title;
        figures_ << figures;
    }
    stack->addWidget(content_);
    content_->hide();
    connect(toggle_, &QAbstractButton::toggled, content_, &QWidget::setVisible);
    recolour();
}

void RawDataSection::setAssessment(const QualityAssessment& assessment)
{
    const auto rows = rawDataRows(assessment);
    for (qsizetype i = 0; i < titles_.size() && i < static_cast<qsizetype>(rows.size()); ++i) {
        titles_[i]->setText(rawDataTitle(rows[static_cast<std::size_t>(i)]));
        figures_[i]->setText(figuresLine(rows[static_cast<std::size_t>(i)]));
    }
    recolour();
}

bool RawDataSection::isExpanded() const { return toggle_->isChecked(); }

void RawDataSection::setExpanded(bool expanded) { toggle_->setChecked(expanded); }

QStringList RawDataSection::figureTexts() const
{
    QStringList texts;
    for (QLabel* label : figures_)
        texts << label->text();
    return texts;
}

void RawDataSection::paintEvent(QPaintEvent*) { fillRounded(this, PV::color::surface::well, PV::radius::card); }

void RawDataSection::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange)
        recolour();
}

void RawDataSection::recolour()
{
    const QColor ink = PVPaintContext::forWidget(this).color(PV::color::ink::tertiary);
    for (QLabel* label : figures_) {
        QPalette pal = label->palette();
        if (pal.color(QPalette::WindowText) == ink)
            continue;
        pal.setColor(QPalette::WindowText, ink);
        label->setPalette(pal);
    }
}

} // namespace pv
