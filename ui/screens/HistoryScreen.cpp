#include "ui/screens/HistoryScreen.h"

#include "core/app/AppViewModel.h"
#include "core/app/IncidentTexts.h"
#include "core/records/Localization.h"
#include "ui/design/Components.h"
#include "ui/main/DashboardSections.h"
#include "ui/main/MainWidgets.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace pv {

void HistoryChartView::paintEvent(QPaintEvent* event)
{
    PVChartView::paintEvent(event);
    Q_EMIT painted();
}

HistoryScreen::HistoryScreen(AppViewModel& viewModel, QWidget* parent)
    : HistoryScreen(viewModel.makeHistoryViewModel(), {}, parent)
{
}

HistoryScreen::HistoryScreen(std::shared_ptr<HistoryViewModel> model, std::function<Timestamp()> clock, QWidget* parent)
    : PVScreenPage(parent), model_(std::move(model)), clock_(clock ? std::move(clock) : std::function<Timestamp()>(&nowTimestamp))
{
    build();
    connect(model_.get(), &HistoryViewModel::summaryChanged, this, &HistoryScreen::refresh);
    connect(model_.get(), &HistoryViewModel::isLoadingChanged, this, [this] {
        if (history::contentFor(model_->isLoading(), model_->summary().has_value()) != content_)
            refresh();
        else if (!model_->isLoading() && incidentRowsDone_ < shownIncidents_.size())
            incidentRowTimer_->start();
    });
    connect(model_.get(), &HistoryViewModel::rangeChanged, this, [this] {
        picker_->setCurrentIndex(static_cast<int>(model_->range()));
        refreshChartLabel();
    });
    refresh();
}

void HistoryScreen::build()
{
    auto* header = new QWidget(column());
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(12);
    auto* titles = new QWidget(header);
    auto* titleStack = new QVBoxLayout(titles);
    titleStack->setContentsMargins(0, 0, 0, 0);
    titleStack->setSpacing(2);
    auto* heading = new PVText(L("Előzmények"), PVFontToken::screenTitle, PV::color::ink::primary, titles);
    heading->setWrapping(false);
    titleStack->addWidget(heading);
    titleStack->addWidget(new PVText(
        L("Amit a rögzítő eddig eltett. Ez az, amit egy szolgáltatói vitában fel tudsz mutatni."), PVFontToken::caption,
        PV::color::ink::tertiary, titles));
    row->addWidget(titles, 1);
    QStringList rangeTitles;
    for (HistoryRange r : allHistoryRanges())
        rangeTitles << title(r);
    picker_ = new PVSegmentedPicker(rangeTitles, 260, header);
    // 260 wide, or as wide as its titles need at a larger text size.
    picker_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    picker_->setAccessibleName(L("Időszak"));
    picker_->setCurrentIndex(static_cast<int>(model_->range()));
    row->addWidget(picker_, 0, Qt::AlignTop);
    connect(picker_, &PVSegmentedPicker::picked, this,
            [this](int index) { model_->setRange(allHistoryRanges()[static_cast<std::size_t>(index)]); });
    stack()->addWidget(header);
    stack()->addStretch(1);
}

void HistoryScreen::showEvent(QShowEvent* event)
{
    PVScreenPage::showEvent(event);
    // A kept summary is shown as it is; only a screen without one asks for a load.
    if (!model_->summary() && !model_->isLoading())
        model_->reload();
}

void HistoryScreen::buildCards()
{
    body_ = new QWidget(column());
    auto* bodyStack = new QVBoxLayout(body_);
    bodyStack->setContentsMargins(0, 0, 0, 0);
    bodyStack->setSpacing(0);
    cards_ = new QWidget(body_);
    auto* cards = new QVBoxLayout(cards_);
    cards->setContentsMargins(0, 0, 0, 0);
    cards->setSpacing(kColumnSpacing);
    bodyStack->addWidget(cards_);

    auto* coverage = new PVSectionCard(L("Lefedettség"),
                                       L("Egy feljegyzés annyit ér, amennyire elszámol a saját hézagaival."), cards_);
    auto* grid = new QWidget(coverage);
    auto* row = new QHBoxLayout(grid);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(12);
    for (int i = 0; i < 3; ++i) {
        auto* tile = new PVStatTile(PVStatTileData{}, grid);
        tile->setMinimumWidth(200);
        row->addWidget(tile, 1);
        tiles_.push_back(tile);
    }
    coverage->addContent(grid);
    cards->addWidget(coverage);

    auto* latency = new PVSectionCard(
        L("Válaszidő az időszak alatt"),
        L("Minden pont egy időszelet középértéke. Ahol nincs vonal, ott nem is mértünk."), cards_);
    noMeasurement_ = new PVText(L("Ebben az időszakban nem született mérés."), PVFontToken::body,
                                PV::color::ink::tertiary, latency);
    noMeasurement_->setMinimumHeight(160);
    latency->addContent(noMeasurement_);
    chart_ = new HistoryChartView(latency);
    chart_->setFixedHeight(kChartHeight);
    // Drawn once onto the card and copied while the rows below it come in.
    chart_->setOpaqueBackground(PVColor(PV::color::surface::card));
    connect(chart_, &HistoryChartView::painted, this, &HistoryScreen::chartPainted);
    latency->addContent(chart_);
    legend_ = new ChartLegend({{L("a te routered"), PV::color::culprit::router},
                               {L("a szolgáltatód"), PV::color::culprit::provider}},
                              latency);
    latency->addContent(legend_);
    aggregatedNote_ = new PVSymbolTextRow(
        "archivebox", 12, PV::color::ink::tertiary, 1,
        history::aggregatedNote(HistorySummary{}),
        PVFontToken::caption, PV::color::ink::tertiary, latency);
    aggregatedNote_->setContentsMargins(0, 4, 0, 0);
    latency->addContent(aggregatedNote_);
    cards->addWidget(latency);

    incidentCard_ = new PVSectionCard(L("Események"), std::nullopt, cards_);
    noIncident_ = new QWidget(incidentCard_);
    auto* empty = new QVBoxLayout(noIncident_);
    empty->setContentsMargins(0, 12, 0, 12);
    empty->setSpacing(4);
    empty->addWidget(new PVText(L("Nem történt semmi ebben az időszakban."), PVFontToken::callout,
                                PV::color::ink::primary, noIncident_));
    empty->addWidget(new PVText(L("Ez a legjobb eredmény, amit egy ilyen lista adhat."), PVFontToken::caption,
                                PV::color::ink::tertiary, noIncident_));
    incidentCard_->addContent(noIncident_);
    incidentList_ = new QWidget(incidentCard_);
    auto* rows = new QVBoxLayout(incidentList_);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(0);
    incidentList_->hide();
    incidentCard_->addContent(incidentList_);
    // A timer rather than a queued call: queued calls run back to back in one turn of the event
    // loop, a timer lets the window paint and the input through between two steps.
    incidentRowTimer_ = new QTimer(this);
    incidentRowTimer_->setSingleShot(true);
    incidentRowTimer_->setInterval(0);
    connect(incidentRowTimer_, &QTimer::timeout, this, &HistoryScreen::updateIncidentRows);
    cards->addWidget(incidentCard_);
    stack()->insertWidget(1, body_);
}

void HistoryScreen::refresh()
{
    if (!body_)
        buildCards();
    content_ = history::contentFor(model_->isLoading(), model_->summary().has_value());
    if (placeholder_) {
        delete placeholder_;
        placeholder_ = nullptr;
    }
    if (content_ != history::Content::cards) {
        cards_->hide();
        const bool loading = content_ == history::Content::loading;
        auto* placeholder =
            loading ? new PVPlaceholderScreen(L("Betöltés"), L("Az előzmények összeállítása folyamatban."),
                                              "clock.arrow.circlepath", body_)
                    : new PVPlaceholderScreen(
                          L("Nincs megjeleníthető adat"),
                          L("Ebben az időszakban nem született mérés. Hagyd futni az appot, és térj vissza később."),
                          "archivebox", body_);
        placeholder->setFixedHeight(240);
        body_->layout()->addWidget(placeholder);
        placeholder_ = placeholder;
        return;
    }
    const HistorySummary& summary = *model_->summary();
    showCoverage(summary);
    showLatency(summary);
    showIncidents(summary);
    cards_->show();
}

void HistoryScreen::refreshChartLabel()
{
    if (!model_->summary())
        return;
    const HistorySummary& summary = *model_->summary();
    pvChartAccessibility(chart_, history::chartLabel(model_->range()), history::chartSeries(summary),
                         history::chartNote(summary));
}

void HistoryScreen::showCoverage(const HistorySummary& summary)
{
    const auto data = history::coverageTiles(summary);
    for (std::size_t i = 0; i < tiles_.size() && i < data.size(); ++i)
        tiles_[i]->setData(data[i]);
}

void HistoryScreen::showLatency(const HistorySummary& summary)
{
    const bool measured = history::hasMeasuredSlice(summary);
    noMeasurement_->setVisible(!measured);
    chart_->setVisible(measured);
    legend_->setVisible(measured);
    aggregatedNote_->setVisible(measured && summary.containsAggregatedBuckets());
    aggregatedNote_->setText(history::aggregatedNote(summary));
    chart_->setSpec(measured ? history::chartSpec(summary, clock_()) : PVChartSpec{});
    refreshChartLabel();
}

void HistoryScreen::showIncidents(const HistorySummary& summary)
{
    const bool any = !summary.incidents.empty();
    incidentCard_->setSubtitle(any ? std::optional<QString>(L("Legfrissebb elöl")) : std::nullopt);
    noIncident_->setVisible(!any);
    incidentList_->setVisible(any);
    shownIncidents_ = history::newestIncidents(summary.incidents);
    // The rows stay from one summary to the next and only say something else. A row whose texts
    // change or that comes into view lays its wrapped texts out anew, a few milliseconds each: the
    // rows are brought up to date a few per turn of the event loop, after the chart, so that a
    // range switch never holds the window up. Rows left over are put away at once.
    for (std::size_t i = shownIncidents_.size(); i < incidentRows_.size(); ++i) {
        incidentRows_[i].row->hide();
        incidentRows_[i].divider->hide();
    }
    incidentRowsDone_ = 0;
    if (!shownIncidents_.empty())
        incidentRowTimer_->start();
}

void HistoryScreen::updateIncidentRows()
{
    // While a newer summary loads, the rows of the one on screen are about to be replaced: they
    // wait, leaving the window and the processors to the load (they go on if the load is dropped).
    if (model_->isLoading())
        return;
    auto* rows = static_cast<QVBoxLayout*>(incidentList_->layout());
    const std::size_t end = std::min(shownIncidents_.size(), incidentRowsDone_ + kIncidentRowsPerTurn);
    // Showing a widget lays out every shown ancestor up to the window there and then: the rows of
    // this step come into view with their list put away for the moment, so that one layout takes
    // them all.
    const bool regroup = incidentList_->isVisible() &&
                         (end > incidentRows_.size() ||
                          std::any_of(incidentRows_.begin() + static_cast<std::ptrdiff_t>(incidentRowsDone_),
                                      incidentRows_.begin() + static_cast<std::ptrdiff_t>(end),
                                      [](const IncidentRow& r) { return r.row->isHidden(); }));
    if (regroup)
        incidentList_->hide();
    for (; incidentRowsDone_ < end; ++incidentRowsDone_) {
        if (incidentRowsDone_ == incidentRows_.size()) {
            incidentRows_.push_back(makeIncidentRow(incidentList_));
            rows->addWidget(incidentRows_.back().row);
            rows->addWidget(incidentRows_.back().divider);
        }
        const IncidentRow& row = incidentRows_[incidentRowsDone_];
        fillIncidentRow(row, shownIncidents_[incidentRowsDone_]);
        row.row->show();
        row.divider->show();
    }
    if (regroup)
        incidentList_->show();
    if (incidentRowsDone_ < shownIncidents_.size())
        incidentRowTimer_->start();
}

HistoryScreen::IncidentRow HistoryScreen::makeIncidentRow(QWidget* parent)
{
    IncidentRow r;
    r.row = new QWidget(parent);
    auto* row = new QHBoxLayout(r.row);
    row->setContentsMargins(0, 8, 0, 8);
    row->setSpacing(12);
    // An 18-wide column, wider when the symbol grows with the title beside it.
    auto* symbolBox = new QWidget(r.row);
    symbolBox->setMinimumWidth(18);
    symbolBox->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    auto* symbolLayout = new QVBoxLayout(symbolBox);
    symbolLayout->setContentsMargins(0, 2, 0, 0);
    r.symbol = new PVSymbolView(history::symbolName(IncidentSeverity::info), 13,
                                statusMarkSaturated(PVStatus::neutral), PVFontToken::cardTitle, symbolBox);
    symbolLayout->addWidget(r.symbol, 0, Qt::AlignHCenter);
    symbolLayout->addStretch(1);
    row->addWidget(symbolBox, 0, Qt::AlignTop);

    auto* texts = new QWidget(r.row);
    auto* textStack = new QVBoxLayout(texts);
    textStack->setContentsMargins(0, 0, 0, 0);
    textStack->setSpacing(2);
    r.title = new PVText(QString(), PVFontToken::cardTitle, PV::color::ink::primary, texts);
    r.summary = new PVText(QString(), PVFontToken::caption, PV::color::ink::secondary, texts);
    textStack->addWidget(r.title);
    textStack->addWidget(r.summary);
    row->addWidget(texts, 1, Qt::AlignTop);
    row->addSpacing(12);

    auto* times = new QWidget(r.row);
    auto* timeStack = new QVBoxLayout(times);
    timeStack->setContentsMargins(0, 0, 0, 0);
    timeStack->setSpacing(2);
    r.when = new PVText(QString(), PVFontToken::monoDataSmall, PV::color::ink::tertiary, times);
    r.when->setWrapping(false);
    r.when->setHorizontalAlignment(Qt::AlignRight);
    r.howLong = new PVText(QString(), PVFontToken::microCaption, PV::color::ink::tertiary, times);
    r.howLong->setWrapping(false);
    r.howLong->setHorizontalAlignment(Qt::AlignRight);
    timeStack->addWidget(r.when, 0, Qt::AlignRight);
    timeStack->addWidget(r.howLong, 0, Qt::AlignRight);
    row->addWidget(times, 0, Qt::AlignTop);
    r.divider = new PVDivider(parent);
    return r;
}

void HistoryScreen::fillIncidentRow(const IncidentRow& r, const Incident& incident)
{
    const PVStatus lvl = history::level(incident.severity);
    r.symbol->setSymbol(history::symbolName(incident.severity));
    r.symbol->setTint(statusMarkSaturated(lvl));
    const QString kindTitle = title(incident.classification);
    r.title->setText(kindTitle);
    r.summary->setText(presentation::incidentSummaryText(incident));
    r.when->setText(history::startText(incident.startTimestamp));
    r.howLong->setText(history::durationText(incident));
    r.row->setAccessibleName(kindTitle + QStringLiteral(", ") + r.summary->text() + QStringLiteral(", ") +
                             r.when->text() + QStringLiteral(", ") + r.howLong->text());
}

} // namespace pv
