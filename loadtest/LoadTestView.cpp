#include "loadtest/LoadTestView.h"

#include "core/records/Localization.h"
#include "ui/design/Chart.h"
#include "ui/design/Components.h"
#include "ui/design/Controls.h"
#include "ui/design/Depth.h"
#include "ui/design/LiveIndicators.h"
#include "ui/design/Symbols.h"
#include "ui/design/Text.h"
#include "ui/design/Theme.h"
#include "ui/design/Tokens.h"

#include <QApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QPainter>
#include <QPalette>
#include <QPointer>
#include <QProgressBar>
#include <QDialog>
#include <QPushButton>
#include <QResizeEvent>
#include <QScrollArea>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <limits>

namespace pv {

namespace {

QString fixed0(double v) { return QString::number(v, 'f', 0); }

QVBoxLayout* column(QWidget* owner, int spacing)
{
    auto* l = new QVBoxLayout(owner);
    l->setContentsMargins(0, 0, 0, 0);
    l->setSpacing(spacing);
    return l;
}

// A rounded panel in a status's wash with its border.
class WashPanel : public QWidget {
public:
    WashPanel(PVStatus status, QWidget* parent) : QWidget(parent), status_(status) {}

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const PVPaintContext ctx = PVPaintContext::forWidget(this);
        p.setPen(QPen(ctx.color(statusBorder(status_)), 1));
        p.setBrush(ctx.color(statusWash(status_)));
        p.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 8, 8);
    }

private:
    PVStatus status_;
};

// A short swatch followed by its label.
QWidget* legendItem(const PVColor& tint, const QString& label, QWidget* parent)
{
    class Swatch : public QWidget {
    public:
        Swatch(PVColor tint, QWidget* parent) : QWidget(parent), tint_(tint) { setFixedSize(14, 8); }

    protected:
        void paintEvent(QPaintEvent*) override
        {
            QPainter p(this);
            p.setRenderHint(QPainter::Antialiasing);
            p.setPen(Qt::NoPen);
            p.setBrush(PVPaintContext::forWidget(this).color(tint_));
            p.drawRoundedRect(QRectF(0, 3, 14, 2), 1, 1);
        }

    private:
        PVColor tint_;
    };
    auto* item = new QWidget(parent);
    auto* row = new QHBoxLayout(item);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);
    row->addWidget(new Swatch(tint, item));
    auto* text = new PVText(label, PVFontToken::caption, PV::color::ink::secondary, item);
    text->setWrapping(false);
    row->addWidget(text);
    return item;
}

// Tiles in as many columns of at least 190 as fit.
class TileGrid : public QWidget {
public:
    explicit TileGrid(QWidget* parent) : QWidget(parent), grid_(new QGridLayout(this))
    {
        grid_->setContentsMargins(0, 0, 0, 0);
        grid_->setSpacing(12);
    }
    void add(QWidget* tile)
    {
        tiles_.push_back(tile);
        relayout(width());
    }

protected:
    void resizeEvent(QResizeEvent* event) override
    {
        QWidget::resizeEvent(event);
        relayout(event->size().width());
    }

private:
    void relayout(int width)
    {
        const int columns = std::clamp((width + 12) / (190 + 12), 1, std::max(1, static_cast<int>(tiles_.size())));
        if (columns == columns_)
            return;
        columns_ = columns;
        for (QWidget* t : tiles_)
            grid_->removeWidget(t);
        for (int c = 0; c < grid_->columnCount(); ++c)
            grid_->setColumnStretch(c, 0);
        for (std::size_t i = 0; i < tiles_.size(); ++i)
            grid_->addWidget(tiles_[i], static_cast<int>(i) / columns, static_cast<int>(i) % columns);
        for (int c = 0; c < columns; ++c)
            grid_->setColumnStretch(c, 1);
    }
    QGridLayout* grid_;
    std::vector<QWidget*> tiles_;
    int columns_ = 0;
};

// The result's scroll area in the colours of the current appearance: the canvas behind and between
// the cards, and a scroll bar of the same appearance; followed when the appearance changes.
void followAppearance(QScrollArea* area)
{
    const auto apply = [area] {
        const PVAppearance a = PVTheme::instance().appearance();
        QPalette palette = area->palette();
        for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
            palette.setColor(g, QPalette::Window, PV::color::surface::canvas.color(a));
            palette.setColor(g, QPalette::Base, PV::color::surface::canvas.color(a));
            palette.setColor(g, QPalette::Button, PV::color::surface::card.color(a));
            palette.setColor(g, QPalette::Light, PV::color::line::border.color(a));
            palette.setColor(g, QPalette::Midlight, PV::color::line::hairline.color(a));
            palette.setColor(g, QPalette::Mid, PV::color::line::strong.color(a));
            palette.setColor(g, QPalette::Dark, PV::color::line::strong.color(a));
            palette.setColor(g, QPalette::WindowText, PV::color::ink::primary.color(a));
        }
        area->setPalette(palette);
    };
    apply();
    QObject::connect(&PVTheme::instance(), &PVTheme::changed, area, apply);
}

class CanvasBackground : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.fillRect(rect(), PVPaintContext::forWidget(this).color(PV::color::surface::canvas));
    }
};

} // namespace

// ---- Pure helpers ---------------------------------------------------------------------------------

PVStatus statusForGrade(BufferbloatGrade grade)
{
    switch (grade) {
    case BufferbloatGrade::excellent:
    case BufferbloatGrade::good: return PVStatus::good;
    case BufferbloatGrade::fair: return PVStatus::watch;
    case BufferbloatGrade::poor: return PVStatus::serious;
    case BufferbloatGrade::severe: return PVStatus::critical;
    }
    return PVStatus::neutral;
}

double latencyChartTop(const LoadTestResult& result)
{
    std::optional<double> largest;
    for (const auto* trace : {&result.downloadTrace, &result.uploadTrace})
        for (const TimedEcho& e : *trace)
            if (e.rttMilliseconds)
                largest = std::max(largest.value_or(*e.rttMilliseconds), *e.rttMilliseconds);
    return std::max(1.1 * largest.value_or(100.0), 50.0);
}

std::pair<double, double> phaseSpans(const std::optional<LoadTestResult>& result)
{
    const auto span = [](const std::vector<TimedEcho>& trace) { return trace.empty() ? 12.0 : trace.back().offsetSeconds; };
    if (!result)
        return {12.0, 12.0};
    return {span(result->downloadTrace), span(result->uploadTrace)};
}

QString lossText(double ratio) { return QString::number(ratio * 100.0, 'f', 1) + QLatin1Char('%'); }

// A figure that reads 0 in whole milliseconds is below one, not nothing.
bool belowOneMillisecond(double ms) { return formatFixed(ms, 0) == QLatin1String("0") || formatFixed(ms, 0) == QLatin1String("-0"); }

QString tileLatencyText(const std::optional<double>& ms)
{
    if (!ms)
        return QStringLiteral("—");
    return belowOneMillisecond(*ms) ? QStringLiteral("<1") : fixed0(*ms);
}

QString tableLatencyText(const std::optional<double>& ms)
{
    if (!ms)
        return QStringLiteral("—");
    return belowOneMillisecond(*ms) ? QStringLiteral("<1 ms") : LF("%.0f ms", {*ms});
}

bool anyEchoAnsweredUnderLoad(const LoadTestResult& result)
{
    const auto answered = [](const std::vector<TimedEcho>& trace) {
        return std::any_of(trace.begin(), trace.end(), [](const TimedEcho& e) { return e.rttMilliseconds.has_value(); });
    };
    return answered(result.downloadTrace) || answered(result.uploadTrace);
}

namespace {

// A shorter hold-up of the test (a scheduler's hiccup) costs next to nothing of the rate.
constexpr double kHeldSecondsWorthSaying = 0.3;

// How long a load stood still: "2.5 másodpercre" or "2 alkalommal, összesen 3.1 másodpercre".
QString pausedText(const LoadPhaseResult& phase)
{
    return phase.pauses.size() == 1 ? LF("%.1f másodpercre", {phase.pausedSeconds()})
                                    : LF("%d alkalommal, összesen %.1f másodpercre",
                                         {static_cast<long long>(phase.pauses.size()), phase.pausedSeconds()});
}

QString directionNote(const LoadTestResult& result, LoadDirection direction)
{
    const bool upload = direction == LoadDirection::upload;
    const LoadPhaseResult& phase = upload ? result.upload : result.download;
    const bool graded = upload ? result.isUploadGraded() : result.isDownloadGraded();
    if (phase.stoppedFlowing())
        return upload ? LF("A feltöltés alatt nem sikerült mérni a késleltetést: az első %@ másodperc után a terhelés "
                           "elakadt, és nem folytatódott. Az értékelés csak a letöltésre vonatkozik.",
                           {loadSecondsText(phase.loadEndedAtSeconds)})
                      : LF("A letöltés alatt nem sikerült mérni a késleltetést: az első %@ másodperc után a terhelés "
                           "elakadt, és nem folytatódott. Az értékelés csak a feltöltésre vonatkozik.",
                           {loadSecondsText(phase.loadEndedAtSeconds)});
    if (!phase.pauses.empty()) {
        if (graded)
            return upload ? LF("A feltöltés közben a terhelés %@ megállt, majd folytatódott. A sebességet és a "
                               "késleltetést a terhelt másodpercekből számoltuk, a szünet nélkül.",
                               {pausedText(phase)})
                          : LF("A letöltés közben a terhelés %@ megállt, majd folytatódott. A sebességet és a "
                               "késleltetést a terhelt másodpercekből számoltuk, a szünet nélkül.",
                               {pausedText(phase)});
        return upload ? LF("A feltöltés alatt nem sikerült mérni a késleltetést: a terhelés %@ megállt, és túl kevés "
                           "terhelt mérés maradt. Az értékelés csak a letöltésre vonatkozik.",
                           {pausedText(phase)})
                      : LF("A letöltés alatt nem sikerült mérni a késleltetést: a terhelés %@ megállt, és túl kevés "
                           "terhelt mérés maradt. Az értékelés csak a feltöltésre vonatkozik.",
                           {pausedText(phase)});
    }
    if (!graded)
        return upload ? L("A feltöltés alatt nem sikerült mérni a késleltetést: a terhelés túl hamar véget ért. Az "
                          "értékelés csak a letöltésre vonatkozik.")
                      : L("A letöltés alatt nem sikerült mérni a késleltetést: a terhelés túl hamar véget ért. Az "
                          "értékelés csak a feltöltésre vonatkozik.");
    return {};
}

// This computer held the test back for a while (not the line): the rate may read a little low.
QString heldNote(const LoadPhaseResult& phase, LoadDirection direction)
{
    if (phase.heldSeconds < kHeldSecondsWorthSaying)
        return {};
    return direction == LoadDirection::upload
               ? LF("A feltöltés közben a számítógéped %.1f másodpercre megakadt (nem a vonal), ezért a mért "
                    "feltöltési sebesség kissé alacsonyabb lehet a valósnál.",
                    {phase.heldSeconds})
               : LF("A letöltés közben a számítógéped %.1f másodpercre megakadt (nem a vonal), ezért a mért "
                    "letöltési sebesség kissé alacsonyabb lehet a valósnál.",
                    {phase.heldSeconds});
}

} // namespace

QString directionNotesText(const LoadTestResult& result)
{
    if (!result.isAnyDirectionGraded())
        return {};
    QStringList notes;
    for (LoadDirection d : {LoadDirection::download, LoadDirection::upload}) {
        if (const QString note = directionNote(result, d); !note.isEmpty())
            notes << note;
        if (const QString note = heldNote(d == LoadDirection::upload ? result.upload : result.download, d);
            !note.isEmpty())
            notes << note;
    }
    return notes.join(QLatin1Char(' '));
}

QString gradeMeaningText(const LoadTestResult& result)
{
    const BufferbloatGrade grade = result.grade();
    const bool byUpload = result.gradedDirection() == LoadDirection::upload;
    // With the download alone measured, the middle grade does not speak of uploads.
    if (!byUpload && !result.isUploadGraded() && grade == BufferbloatGrade::fair)
        return L("Ha valaki letölt, a hívásod érezhetően megakad.");
    if (!byUpload)
        return gradeEverydayMeaning(grade);
    switch (grade) {
    case BufferbloatGrade::excellent: return L("Videohívás közben más is feltölthet a hálózaton, nem fogod észrevenni.");
    case BufferbloatGrade::good: return L("Nagy feltöltés közben egy hívás enyhén akadozhat, de használható marad.");
    case BufferbloatGrade::fair: return L("Ha valaki feltölt, a hívásod érezhetően megakad.");
    case BufferbloatGrade::poor: return L("Egyetlen feltöltés is elrontja a hívásaidat és a játékot.");
    case BufferbloatGrade::severe: break;
    }
    return gradeEverydayMeaning(grade);
}

QString loadedLatencyCaption(const LoadTestResult& result)
{
    switch (result.gradedDirection().value_or(LoadDirection::download)) {
    case LoadDirection::upload: return L("Feltöltés közben — ettől akad a hívás");
    case LoadDirection::download:
        return result.gradedDirection() ? L("Letöltés közben — ettől akad a hívás") : L("Terhelés alatt nem sikerült mérni");
    }
    return {};
}

QString latencyNumbersText(double idleP50, double increase)
{
    return LF("Nyugalomban %@, terhelés alatt %@ — a késleltetés %@-mal nő.",
              {millisecondsText(idleP50), millisecondsText(idleP50 + increase), millisecondsText(increase)});
}

SpeedTileText speedTileText(const LoadPhaseResult& phase, LoadDirection direction)
{
    const bool upload = direction == LoadDirection::upload;
    QString caption;
    if (phase.stoppedFlowing())
        caption = LF("Amíg folyt: az első %@ másodpercben, utána elakadt", {loadSecondsText(phase.loadEndedAtSeconds)});
    else if (!phase.pauses.empty())
        caption = LF("A terhelés %@ megállt, a szünet nélkül számolva", {pausedText(phase)});
    else if (phase.heldSeconds >= kHeldSecondsWorthSaying)
        caption = L("Kissé alacsonyabb lehet: a számítógéped közben megakadt");
    else
        caption = upload ? L("Amit felfelé bír — hívásnál ez a fontosabb") : L("Amit a vonalad lefelé bír");
    return {fixed0(phase.throughputMbps()), caption};
}

PVChartSpec latencyChartSpec(const LoadTestResult& result, const std::optional<LoadTestResult>& current)
{
    const auto [downloadSpan, uploadSpan] = phaseSpans(current);
    const double uploadStart = downloadSpan + 4.0;
    PVChartSpec spec;
    spec.x = PVChartAxis{std::make_pair(0.0, uploadStart + uploadSpan), 8, PVAxisFormat::number,
                         L("másodperc a letöltési fázis kezdete óta"), true, false, true, {}};
    spec.y = PVChartAxis{std::make_pair(0.0, latencyChartTop(result)), 5, PVAxisFormat::number, QStringLiteral("ms"),
                         true, false, true, {}};
    spec.valueAxisTrailing = false;
    spec.locale = QLocale::c();
    spec.rects.push_back({0.0, downloadSpan, PVColor(PV::color::culprit::provider).opacity(0.1)});
    spec.rects.push_back({uploadStart, uploadStart + uploadSpan, PVColor(PV::color::series::providerDeep).opacity(0.1)});
    if (result.idle.p50)
        spec.rules.push_back({*result.idle.p50, PV::color::ink::quaternary, 1, {4, 4}, L("nyugalmi szint")});
    // A lost echo adds a point that is not a number: the line breaks there.
    const auto line = [](const std::vector<TimedEcho>& trace, double shift, const PVColor& color) {
        PVLineMark mark;
        mark.color = color;
        mark.width = 2;
        for (const TimedEcho& e : trace)
            mark.points.emplace_back(e.offsetSeconds + shift,
                                     e.rttMilliseconds.value_or(std::numeric_limits<double>::quiet_NaN()));
        return mark;
    };
    spec.lines.push_back(line(result.downloadTrace, 0.0, PV::color::culprit::provider));
    spec.lines.push_back(line(result.uploadTrace, uploadStart, PV::color::series::providerDeep));
    if (!anyEchoAnsweredUnderLoad(result)) {
        // Nothing to join into lines: an invisible anchor keeps the bands, the idle rule and the
        // axes on screen instead of the chart's "not enough data yet" placeholder.
        spec.points.push_back({QPointF(0.0, 0.0), PVColor(PV::color::ink::primary).opacity(0), 0, std::nullopt});
    }
    return spec;
}

// ---- Result view ----------------------------------------------------------------------------------

LoadTestResultView::LoadTestResultView(const LoadTestResult& result, std::shared_ptr<LoadTestViewModel> model,
                                       QWidget* parent)
    : QWidget(parent)
{
    auto* stack = column(this, 24);
    const BufferbloatGrade grade = result.grade();
    const PVStatus status = statusForGrade(grade);

    // Grade card.
    auto* card = new PVCardFrame(PVElevation::e2, 18, true, this);
    auto* cardRow = new QHBoxLayout(card);
    cardRow->setContentsMargins(24, 24, 24, 24);
    cardRow->setSpacing(24);
    cardRow->addWidget(new PVStatusHalo(status, false, 56, card), 0, Qt::AlignTop);
    auto* texts = column(nullptr, 8);
    texts->addWidget(new PVText(LF("Terhelés alatt: %@", {gradeTitle(grade)}), PVFontToken::heroHeadline,
                                PV::color::ink::primary, card));
    texts->addWidget(new PVText(gradeMeaningText(result), PVFontToken::callout, PV::color::ink::secondary, card));
    const std::optional<double> increase = result.latencyIncreaseMilliseconds();
    if (increase && result.idle.p50) {
        auto* numbers = new PVText(latencyNumbersText(*result.idle.p50, *increase), PVFontToken::caption,
                                   PV::color::ink::tertiary, card);
        numbers->setContentsMargins(0, 4, 0, 0);
        texts->addWidget(numbers);
    } else if (result.idle.p50 && result.loadedWindowLostEverything()) {
        auto* lost = new PVText(L("Terhelés alatt egyetlen késleltetésmérésre sem jött válasz."), PVFontToken::caption,
                                PV::color::ink::tertiary, card);
        lost->setContentsMargins(0, 4, 0, 0);
        texts->addWidget(lost);
    }
    if (const QString notes = directionNotesText(result); !notes.isEmpty()) {
        directionNote_ = new PVText(notes, PVFontToken::caption, PV::color::ink::secondary, card);
        directionNote_->setContentsMargins(0, 4, 0, 0);
        texts->addWidget(directionNote_);
    }
    cardRow->addLayout(texts, 1);
    stack->addWidget(card);

    // Tiles.
    auto* figures = new PVSectionCard(L("A számok"), std::nullopt, this);
    auto* grid = new TileGrid(figures);
    const SpeedTileText down = speedTileText(result.download, LoadDirection::download);
    const SpeedTileText up = speedTileText(result.upload, LoadDirection::upload);
    grid->add(new PVStatTile({L("Letöltés"), down.value, QStringLiteral("Mbps"), down.caption,
                              PV::color::culprit::provider, std::nullopt, result.download.perSecondMbps, true},
                             grid));
    grid->add(new PVStatTile({L("Feltöltés"), up.value, QStringLiteral("Mbps"), up.caption,
                              PV::color::series::providerDeep, std::nullopt, result.upload.perSecondMbps, true},
                             grid));
    grid->add(new PVStatTile({L("Késleltetés nyugalomban"), tileLatencyText(result.idle.p50), QStringLiteral("ms"),
                              L("Amikor semmi nem terheli a vonalat"), PV::color::culprit::router, std::nullopt, {},
                              false},
                             grid));
    // The loaded figure, its caption and its verdict are those of the direction that set the grade.
    const std::optional<LoadDirection> graded = result.gradedDirection();
    grid->add(new PVStatTile({L("Késleltetés terhelés alatt"), tileLatencyText(result.gradedP95()), QStringLiteral("ms"),
                              loadedLatencyCaption(result), PV::color::culprit::wifi,
                              graded ? std::optional<PVStatus>(status) : std::nullopt, {}, false},
                             grid));
    figures->addContent(grid);
    stack->addWidget(figures);

    // Chart, legend and the numbers table.
    auto* latency = new PVSectionCard(L("Mi történt a késleltetéssel"),
                                      L("Minden pont egy mérés, tizedmásodpercenként. A szakadás azt jelenti, hogy a "
                                        "csomag nem ért célba."),
                                      this);
    chart_ = new PVChartView(latency);
    chart_->setSpec(latencyChartSpec(result, model ? model->result() : std::optional<LoadTestResult>(result)));
    chart_->setFixedHeight(240);
    latency->addContent(chart_);
    if (!anyEchoAnsweredUnderLoad(result)) {
        chartNote_ = new PVText(L("Terhelés alatt egyetlen késleltetésmérésre sem jött válasz, ezért nincs vonal a "
                                  "grafikonon."),
                                PVFontToken::caption, PV::color::ink::secondary, latency);
        latency->addContent(chartNote_);
    }
    auto* legend = new QWidget(latency);
    auto* legendRow = new QHBoxLayout(legend);
    legendRow->setContentsMargins(0, 4, 0, 0);
    legendRow->setSpacing(16);
    legendRow->addStretch(1);
    legendRow->addWidget(legendItem(PV::color::culprit::provider, L("letöltés alatt"), legend));
    legendRow->addWidget(legendItem(PV::color::series::providerDeep, L("feltöltés alatt"), legend));
    legendRow->addStretch(1);
    latency->addContent(legend);

    disclosure_ = new QToolButton(latency);
    disclosure_->setText(L("Számok táblázatban"));
    disclosure_->setCheckable(true);
    disclosure_->setChecked(false);
    disclosure_->setArrowType(Qt::RightArrow);
    disclosure_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    disclosure_->setAutoRaise(true);
    // Its font and ink set directly: a style sheet would draw it past the style, and so without its
    // focus ring.
    disclosure_->setFont(pvFont(PVFontToken::caption));
    QPalette disclosureInk = disclosure_->palette();
    disclosureInk.setColor(QPalette::ButtonText, PVPaintContext::forWidget(this).color(PV::color::ink::secondary));
    disclosure_->setPalette(disclosureInk);
    latency->addContent(disclosure_);
    table_ = new QWidget(latency);
    auto* rows = new QGridLayout(table_);
    rows->setContentsMargins(0, 8, 0, 0);
    rows->setHorizontalSpacing(12);
    rows->setVerticalSpacing(4);
    struct Line {
        QString label;
        QString p50, p95, loss;
        bool header;
    };
    // A direction that was not measured under load shows no figures, not a loss of 0.0%.
    const auto loadedRow = [](const QString& label, const LatencySummary& s) {
        if (!LoadTestResult::isGraded(s))
            return Line{label, QStringLiteral("—"), QStringLiteral("—"), QStringLiteral("—"), false};
        return Line{label, tableLatencyText(s.p50), tableLatencyText(s.p95), lossText(s.lossRatio), false};
    };
    const Line lines[] = {
        {QStringLiteral("Szakasz"), L("Középérték"), QStringLiteral("p95"), L("Kiesés"), true},
        {QStringLiteral("Nyugalomban"), tableLatencyText(result.idle.p50), tableLatencyText(result.idle.p95),
         lossText(result.idle.lossRatio), false},
        loadedRow(L("Letöltés alatt"), result.underDownload),
        loadedRow(L("Feltöltés alatt"), result.underUpload),
    };
    const int widths[] = {130, 90, 90, 80};
    int r = 0;
    for (const auto& line : lines) {
        const QString cells[] = {line.label, line.p50, line.p95, line.loss};
        for (int c = 0; c < 4; ++c) {
            auto* cell = new PVText(cells[c], line.header ? PVFontToken::microCaption : PVFontToken::monoDataSmall,
                                    line.header ? PV::color::ink::tertiary : PV::color::ink::secondary, table_);
            cell->setWrapping(false);
            cell->setHorizontalAlignment(c == 0 ? Qt::AlignLeft : Qt::AlignRight);
            cell->setFixedWidth(widths[c]);
            rows->addWidget(cell, r, c);
        }
        ++r;
    }
    rows->setColumnStretch(4, 1);
    table_->setVisible(false);
    latency->addContent(table_);
    connect(disclosure_, &QToolButton::toggled, this, &LoadTestResultView::setTableExpanded);
    stack->addWidget(latency);

    auto* again = new QPushButton(L("Új mérés"), this);
    again->setObjectName(QStringLiteral("pv.loadtest.main"));
    std::weak_ptr<LoadTestViewModel> weak = model;
    connect(again, &QPushButton::clicked, this, [weak] {
        if (auto m = weak.lock())
            m->start();
    });
    stack->addWidget(again, 0, Qt::AlignLeft);
}

void LoadTestResultView::setTableExpanded(bool expanded)
{
    if (disclosure_->isChecked() != expanded)
        disclosure_->setChecked(expanded);
    disclosure_->setArrowType(expanded ? Qt::DownArrow : Qt::RightArrow);
    table_->setVisible(expanded);
}

// ---- Screen ---------------------------------------------------------------------------------------

LoadTestView::LoadTestView(std::shared_ptr<LoadTestViewModel> model, std::function<void()> onWillStart,
                           std::function<void()> onDidFinish, ResultHandler onFinished, QWidget* parent)
    : QWidget(parent), model_(std::move(model)), onWillStart_(std::move(onWillStart)),
      onDidFinish_(std::move(onDidFinish)), onFinished_(std::move(onFinished))
{
    setMinimumSize(720, 620);
    setAutoFillBackground(false);
    auto* background = new CanvasBackground(this);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(background);
    auto* stack = new QVBoxLayout(background);
    stack->setContentsMargins(24, 24, 24, 24);
    stack->setSpacing(24);

    auto* header = new QHBoxLayout();
    header->setSpacing(8);
    auto* titles = column(nullptr, 2);
    titles->addWidget(new PVText(L("Sebesség és terhelhetőség"), PVFontToken::screenTitle, PV::color::ink::primary, background));
    titles->addWidget(new PVText(L("Megméri, mire képes a vonalad — és mi történik vele, amikor dolgozik."),
                                 PVFontToken::caption, PV::color::ink::tertiary, background));
    header->addLayout(titles, 1);
    closeButton_ = new QPushButton(L("Bezárás"), background);
    connect(closeButton_, &QPushButton::clicked, this, &LoadTestView::dismissRequested);
    header->addWidget(closeButton_, 0, Qt::AlignTop);
    stack->addLayout(header);

    bodyHost_ = new QVBoxLayout();
    bodyHost_->setContentsMargins(0, 0, 0, 0);
    stack->addLayout(bodyHost_, 1);

    if (model_->result())
        lastStartedAt_ = model_->result()->startedAt; // no hand-over on first appearance
    connect(model_.get(), &LoadTestViewModel::stateChanged, this, &LoadTestView::rebuildBody);
    connect(model_.get(), &LoadTestViewModel::progressChanged, this, &LoadTestView::updateProgress);
    connect(model_.get(), &LoadTestViewModel::resultChanged, this, &LoadTestView::resultMayHaveChanged);
    connect(model_.get(), &LoadTestViewModel::expensivePathChanged, this, [this] {
        if (meteredNotice_ != nullptr)
            meteredNotice_->setVisible(model_->isExpensivePath());
    });
    pvResolveDepthStyle(this);
    rebuildBody();
}

LoadTestView::~LoadTestView()
{
    // A test that goes on after the screen has gone hands its result to nobody.
    disconnect(model_.get(), nullptr, this, nullptr);
}

void LoadTestView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    closeButton_->setVisible(qobject_cast<QDialog*>(window()) != nullptr);
    model_->onWillStart = onWillStart_;
    model_->onDidFinish = onDidFinish_;
}

void LoadTestView::resultMayHaveChanged()
{
    const std::optional<LoadTestResult>& result = model_->result();
    const std::optional<Timestamp> startedAt = result ? std::optional<Timestamp>(result->startedAt) : std::nullopt;
    if (startedAt == lastStartedAt_)
        return;
    lastStartedAt_ = startedAt;
    if (!result || !onFinished_)
        return;
    // Handed over from its own turn of the event loop; the screen does not wait for it.
    QTimer::singleShot(0, this, [handler = onFinished_, copy = *result] { handler(copy); });
}

void LoadTestView::rebuildBody()
{
    const LoadTestState& state = model_->state();
    const bool sameRunningBody = body_ != nullptr && state.kind == LoadTestState::Kind::running &&
                                 shownState_.kind == LoadTestState::Kind::running;
    shownState_ = state;
    if (sameRunningBody) {
        live_->setLabel(LoadTestViewModel::phaseTitle(state.phase));
        updateProgress();
        return;
    }
    // The control that was used goes with the body it sat in: the focus moves to the new body's own
    // button instead of leaving the screen.
    QWidget* focused = QApplication::focusWidget();
    const bool focusInside = body_ != nullptr && focused != nullptr && body_->isAncestorOf(focused);
    if (body_ != nullptr) {
        if (focusInside)
            setFocus(Qt::OtherFocusReason); // held by the screen while the old body goes
        body_->hide();
        body_->deleteLater();
    }
    body_ = nullptr;
    meteredNotice_ = nullptr;
    live_ = nullptr;
    progress_ = nullptr;
    resultView_ = nullptr;
    switch (state.kind) {
    case LoadTestState::Kind::idle:
        body_ = makeIntro();
        bodyName_ = QStringLiteral("intro");
        break;
    case LoadTestState::Kind::running:
        body_ = makeProgress();
        bodyName_ = QStringLiteral("progress");
        break;
    case LoadTestState::Kind::failed:
        body_ = makeFailure(state.message);
        bodyName_ = QStringLiteral("failure");
        break;
    case LoadTestState::Kind::finished:
        if (model_->result()) {
            auto* scroll = new QScrollArea(this);
            scroll->setWidgetResizable(true);
            scroll->setFrameShape(QFrame::NoFrame);
            scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
            scroll->setFocusPolicy(Qt::NoFocus);
            followAppearance(scroll);
            // The canvas paints itself (and the cards' shadows) in the current appearance.
            auto* canvas = new PVShadowHost(scroll);
            canvas->setBackground(PV::color::surface::canvas);
            auto* canvasStack = column(canvas, 0);
            resultView_ = new LoadTestResultView(*model_->result(), model_, canvas);
            canvasStack->addWidget(resultView_);
            scroll->setWidget(canvas);
            body_ = scroll;
            bodyName_ = QStringLiteral("result");
        } else {
            body_ = new QWidget(this);
            bodyName_ = QStringLiteral("empty");
        }
        break;
    }
    bodyHost_->addWidget(body_, 1);
    if (state.kind != LoadTestState::Kind::finished)
        bodyHost_->setStretch(0, 0);
    pvResolveDepthStyle(this);
    if (focusInside) {
        if (QPushButton* next = mainButton())
            next->setFocus(movedFocusReason(this));
    }
}

QPushButton* LoadTestView::mainButton() const
{
    if (body_ == nullptr)
        return nullptr;
    // The body's default button (start, retry), else its first button (cancel, a new run).
    const QList<QPushButton*> buttons = body_->findChildren<QPushButton*>();
    for (QPushButton* b : buttons)
        if (b->isDefault())
            return b;
    for (QPushButton* b : buttons)
        if (b->objectName() == QLatin1String("pv.loadtest.main"))
            return b;
    return buttons.isEmpty() ? nullptr : buttons.front();
}

void LoadTestView::updateProgress()
{
    if (progress_ != nullptr)
        progress_->setValue(static_cast<int>(std::lround(model_->phaseProgress() * 1000)));
}

QWidget* LoadTestView::makeIntro()
{
    auto* intro = new QWidget(this);
    auto* stack = column(intro, 16);
    auto* card = new PVSectionCard(L("Mit mér ez a teszt?"), std::nullopt, intro);
    const struct {
        const char* symbol;
        PVColor tint;
        QString title, detail;
    } rows[] = {
        {"arrow.down.circle", PV::color::culprit::provider, L("Letöltési és feltöltési sebesség"),
         L("Amit a szolgáltatód ígér, és amit ténylegesen kapsz.")},
        {"speedometer", PV::color::culprit::wifi, L("Késleltetés terhelés alatt — ez a lényeg"),
         L("Ha letöltés közben megugrik a válaszidő, a hívásaid akadozni fognak, akármilyen gyors a vonal. Ezt más "
           "sebességteszt nem mutatja meg.")},
        {"clock.arrow.circlepath", PV::color::series::dns, L("Nagyjából 40 másodperc"),
         LoadTestViewModel::estimatedDataUsageText()},
    };
    auto* list = new QWidget(card);
    auto* listStack = column(list, 12);
    for (const auto& row : rows) {
        auto* line = new QHBoxLayout();
        line->setSpacing(12);
        // The symbol grows with the title beside it.
        const double scale = std::max(1.0, PVTheme::instance().textScale(PVFontToken::cardTitle.relativeTo));
        auto* symbol = new PVSymbolView(row.symbol, 16 * scale, row.tint, list);
        symbol->setFixedWidth(static_cast<int>(std::lround(22 * scale)));
        line->addWidget(symbol, 0, Qt::AlignTop);
        auto* words = column(nullptr, 2);
        words->addWidget(new PVText(row.title, PVFontToken::cardTitle, PV::color::ink::primary, list));
        words->addWidget(new PVText(row.detail, PVFontToken::body, PV::color::ink::secondary, list));
        line->addLayout(words, 1);
        listStack->addLayout(line);
    }
    card->addContent(list);
    stack->addWidget(card);

    meteredNotice_ = new WashPanel(PVStatus::watch, intro);
    auto* notice = new QHBoxLayout(meteredNotice_);
    notice->setContentsMargins(12, 12, 12, 12);
    notice->setSpacing(12);
    notice->addWidget(new PVSymbolView("exclamationmark.triangle.fill", 14, statusMarkSaturated(PVStatus::watch),
                                       meteredNotice_),
                      0, Qt::AlignTop);
    notice->addWidget(new PVText(LF("Mért kapcsolaton vagy (mobilnet vagy hotspot). %@ Ha korlátozott a kereted, "
                                    "inkább Wi-Fin futtasd.",
                                    {LoadTestViewModel::estimatedDataUsageText()}),
                                 PVFontToken::body, PV::color::ink::primary, meteredNotice_),
                      1);
    meteredNotice_->setVisible(model_->isExpensivePath());
    stack->addWidget(meteredNotice_);

    auto* start = new PVPrimaryButton(L("Teszt indítása"), intro);
    start->setDefault(true);
    start->setCursor(Qt::PointingHandCursor);
    start->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    connect(start, &QPushButton::clicked, this, [this] { model_->start(); });
    stack->addWidget(start);
    stack->addStretch(1);
    return intro;
}

QWidget* LoadTestView::makeProgress()
{
    auto* body = new QWidget(this);
    auto* stack = column(body, 24);
    auto* card = new PVSectionCard(L("Mérés folyamatban"), std::nullopt, body);
    auto* inner = new QWidget(card);
    auto* innerStack = column(inner, 16);
    live_ = new PVLiveIndicator(statusMark(PVStatus::good), LoadTestViewModel::phaseTitle(model_->state().phase), inner);
    innerStack->addWidget(live_);
    progress_ = new QProgressBar(inner);
    progress_->setRange(0, 1000);
    progress_->setTextVisible(false);
    progress_->setFixedHeight(6);
    const PVPaintContext ctx = PVPaintContext::forWidget(this);
    progress_->setStyleSheet(QStringLiteral("QProgressBar { background: %1; border: none; border-radius: 3px; }"
                                            "QProgressBar::chunk { background: %2; border-radius: 3px; }")
                                 .arg(ctx.color(PV::color::surface::well).name(), ctx.color(PVColor::accent()).name()));
    innerStack->addWidget(progress_);
    innerStack->addWidget(new PVText(L("Ne csinálj közben mást a hálózaton — a teszt szándékosan telíti a vonalat, "
                                       "hogy lássuk, hogyan viselkedik terhelés alatt."),
                                     PVFontToken::caption, PV::color::ink::tertiary, inner));
    card->addContent(inner);
    stack->addWidget(card);
    auto* cancel = new QPushButton(L("Megszakítás"), body);
    connect(cancel, &QPushButton::clicked, this, [this] { model_->cancel(); });
    stack->addWidget(cancel, 0, Qt::AlignLeft);
    stack->addStretch(1);
    updateProgress();
    return body;
}

QWidget* LoadTestView::makeFailure(const QString& message)
{
    auto* body = new QWidget(this);
    auto* stack = column(body, 12);
    stack->addWidget(new PVText(L("A mérés nem futott le"), PVFontToken::sectionTitle, PV::color::ink::primary, body));
    stack->addWidget(new PVText(message, PVFontToken::body, PV::color::ink::secondary, body));
    auto* retry = new PVPrimaryButton(L("Újrapróbálom"), body);
    retry->setDefault(true);
    retry->setCursor(Qt::PointingHandCursor);
    connect(retry, &QPushButton::clicked, this, [this] { model_->start(); });
    stack->addWidget(retry, 0, Qt::AlignLeft);
    stack->addStretch(1);
    return body;
}

} // namespace pv
