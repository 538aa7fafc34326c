#include "ui/screens/HistoryScreen.h"

#include "core/app/AppViewModel.h"
#include "core/records/Localization.h"
#include "ui/design/Components.h"
#include "ui/main/DashboardSections.h"
#include "ui/main/MainWidgets.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QVBoxLayout>

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
    picker_->setFixedWidth(260);
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

void HistoryScreen::refresh()
{
    content_ = history::contentFor(model_->isLoading(), model_->summary().has_value());
    if (body_) {
        stack()->removeWidget(body_);
        delete body_;
        chart_ = nullptr;
    }
    body_ = new QWidget(column());
    auto* cards = new QVBoxLayout(body_);
    cards->setContentsMargins(0, 0, 0, 0);
    cards->setSpacing(kColumnSpacing);
    switch (content_) {
    case history::Content::loading:
    case history::Content::noData: {
        const bool loading = content_ == history::Content::loading;
        auto* placeholder =
            loading ? new PVPlaceholderScreen(L("Betöltés"), L("Az előzmények összeállítása folyamatban."),
                                              "clock.arrow.circlepath", body_)
                    : new PVPlaceholderScreen(
                          L("Nincs megjeleníthető adat"),
                          L("Ebben az időszakban nem született mérés. Hagyd futni az appot, és térj vissza később."),
                          "archivebox", body_);
        placeholder->setFixedHeight(240);
        cards->addWidget(placeholder);
        break;
    }
    case history::Content::cards: {
        const HistorySummary& summary = *model_->summary();
        cards->addWidget(makeCoverageCard(summary));
        cards->addWidget(makeLatencyCard(summary));
        cards->addWidget(makeIncidentCard(summary));
        break;
    }
    }
    stack()->insertWidget(1, body_);
}

void HistoryScreen::refreshChartLabel()
{
    if (!chart_ || !model_->summary())
        return;
    const HistorySummary& summary = *model_->summary();
    pvChartAccessibility(chart_, history::chartLabel(model_->range()), history::chartSeries(summary),
                         history::chartNote(summary));
}

QWidget* HistoryScreen::makeCoverageCard(const HistorySummary& summary)
{
    auto* card = new PVSectionCard(L("Lefedettség"),
                                   L("Egy feljegyzés annyit ér, amennyire elszámol a saját hézagaival."), body_);
    auto* grid = new QWidget(card);
    auto* row = new QHBoxLayout(grid);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(12);
    for (const PVStatTileData& data : history::coverageTiles(summary)) {
        auto* tile = new PVStatTile(data, grid);
        tile->setMinimumWidth(200);
        row->addWidget(tile, 1);
    }
    card->addContent(grid);
    return card;
}

QWidget* HistoryScreen::makeLatencyCard(const HistorySummary& summary)
{
    auto* card = new PVSectionCard(
        L("Válaszidő az időszak alatt"),
        L("Minden pont egy időszelet középértéke. Ahol nincs vonal, ott nem is mértünk."), body_);
    if (!history::hasMeasuredSlice(summary)) {
        auto* none = new PVText(L("Ebben az időszakban nem született mérés."), PVFontToken::body,
                                PV::color::ink::tertiary, card);
        none->setMinimumHeight(160);
        card->addContent(none);
        return card;
    }
    chart_ = new HistoryChartView(card);
    chart_->setFixedHeight(kChartHeight);
    chart_->setSpec(history::chartSpec(summary, clock_()));
    connect(chart_, &HistoryChartView::painted, this, &HistoryScreen::chartPainted);
    refreshChartLabel();
    card->addContent(chart_);
    card->addContent(new ChartLegend({{L("a te routered"), PV::color::culprit::router},
                                      {L("a szolgáltatód"), PV::color::culprit::provider}},
                                     card));
    if (summary.containsAggregatedBuckets()) {
        auto* note = new PVSymbolTextRow(
            "archivebox", 12, PV::color::ink::tertiary, 1,
            L("Az egy hétnél régebbi szakaszokat összesítésből rajzoljuk: a nyers mérések addigra kikerülnek, de az "
              "időszeletek jellemző értéke és a kiesések megmaradnak."),
            PVFontToken::caption, PV::color::ink::tertiary, card);
        note->setContentsMargins(0, 4, 0, 0);
        card->addContent(note);
    }
    return card;
}

QWidget* HistoryScreen::makeIncidentCard(const HistorySummary& summary)
{
    const bool any = !summary.incidents.empty();
    auto* card = new PVSectionCard(L("Események"), any ? std::optional<QString>(L("Legfrissebb elöl")) : std::nullopt,
                                   body_);
    if (!any) {
        auto* empty = new QWidget(card);
        auto* stack = new QVBoxLayout(empty);
        stack->setContentsMargins(0, 12, 0, 12);
        stack->setSpacing(4);
        stack->addWidget(new PVText(L("Nem történt semmi ebben az időszakban."), PVFontToken::callout,
                                    PV::color::ink::primary, empty));
        stack->addWidget(new PVText(L("Ez a legjobb eredmény, amit egy ilyen lista adhat."), PVFontToken::caption,
                                    PV::color::ink::tertiary, empty));
        card->addContent(empty);
        return card;
    }
    auto* list = new QWidget(card);
    auto* rows = new QVBoxLayout(list);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(0);
    for (const Incident& incident : history::newestIncidents(summary.incidents)) {
        rows->addWidget(makeIncidentRow(incident, list));
        rows->addWidget(new PVDivider(list));
    }
    card->addContent(list);
    return card;
}

QWidget* HistoryScreen::makeIncidentRow(const Incident& incident, QWidget* parent)
{
    auto* rowWidget = new QWidget(parent);
    auto* row = new QHBoxLayout(rowWidget);
    row->setContentsMargins(0, 8, 0, 8);
    row->setSpacing(12);
    const PVStatus lvl = history::level(incident.severity);
    auto* symbolBox = new QWidget(rowWidget);
    symbolBox->setFixedWidth(18);
    auto* symbolLayout = new QVBoxLayout(symbolBox);
    symbolLayout->setContentsMargins(0, 2, 0, 0);
    symbolLayout->addWidget(new PVSymbolView(history::symbolName(incident.severity), 13, statusMarkSaturated(lvl), symbolBox),
                            0, Qt::AlignHCenter);
    symbolLayout->addStretch(1);
    row->addWidget(symbolBox, 0, Qt::AlignTop);

    auto* texts = new QWidget(rowWidget);
    auto* textStack = new QVBoxLayout(texts);
    textStack->setContentsMargins(0, 0, 0, 0);
    textStack->setSpacing(2);
    const QString kindTitle = title(incident.classification);
    textStack->addWidget(new PVText(kindTitle, PVFontToken::cardTitle, PV::color::ink::primary, texts));
    textStack->addWidget(new PVText(incident.evidenceSummary, PVFontToken::caption, PV::color::ink::secondary, texts));
    row->addWidget(texts, 1, Qt::AlignTop);
    row->addSpacing(12);

    auto* times = new QWidget(rowWidget);
    auto* timeStack = new QVBoxLayout(times);
    timeStack->setContentsMargins(0, 0, 0, 0);
    timeStack->setSpacing(2);
    auto* when = new PVText(history::startText(incident.startTimestamp), PVFontToken::monoDataSmall,
                            PV::color::ink::tertiary, times);
    when->setWrapping(false);
    when->setHorizontalAlignment(Qt::AlignRight);
    auto* howLong =
        new PVText(history::durationText(incident), PVFontToken::microCaption, PV::color::ink::tertiary, times);
    howLong->setWrapping(false);
    howLong->setHorizontalAlignment(Qt::AlignRight);
    timeStack->addWidget(when, 0, Qt::AlignRight);
    timeStack->addWidget(howLong, 0, Qt::AlignRight);
    row->addWidget(times, 0, Qt::AlignTop);
    rowWidget->setAccessibleName(kindTitle + QStringLiteral(", ") + incident.evidenceSummary + QStringLiteral(", ") +
                                 when->text() + QStringLiteral(", ") + howLong->text());
    return rowWidget;
}

} // namespace pv
