#include "ui/main/MenuBarView.h"

#include "ui/main/Ipv6Lines.h"

#include "ui/design/Depth.h"
#include "ui/main/ModelActions.h"
#include "ui/main/OverviewFeed.h"
#include "ui/main/TokenPalette.h"

#include "core/app/AppViewModel.h"
#include "core/records/Localization.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace pv {

namespace {

int px(double v) { return static_cast<int>(v); }

class MetricDot : public QWidget {
public:
    MetricDot(const PVColor& color, QWidget* parent)
        : QWidget(parent)
        , color_(color)
    {
        setFixedSize(5, 5);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(PVPaintContext::forWidget(this).color(color_));
        p.drawEllipse(QRectF(0, 0, 5, 5));
    }

private:
    PVColor color_;
};

} // namespace

PolvarineMenuBarView::PolvarineMenuBarView(AppViewModel& model, QWidget* parent)
    : QWidget(parent)
    , model_(model)
    , feed_(OverviewFeed::of(model))
    , quit_([] { QApplication::quit(); })
{
    pvResolveDepthStyle(this);
    pvMarkDecorationHost(this);
    followTokenPalette(this);
    // Wider at a larger text size, so the three figures keep their room.
    setFixedWidth(static_cast<int>(std::lround(kWidth * std::max(1.0, PVTheme::instance().textScale(PVTextStyle::body)))));
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(kPadding, kPadding, kPadding, kPadding);
    stack->setSpacing(px(PV::space::s));

    // 1. Status header.
    header_ = new QWidget(this);
    auto* headerRow = new QHBoxLayout(header_);
    headerRow->setContentsMargins(0, 0, 0, 0);
    headerRow->setSpacing(px(PV::space::s));
    glyph_ = new PVStatusGlyph(PVStatus::neutral, 30, 14, header_);
    headerRow->addWidget(glyph_, 0, Qt::AlignVCenter);
    auto* texts = new QVBoxLayout();
    texts->setSpacing(1);
    title_ = new PVText(QString(), PVFontToken::cardTitle, PV::color::ink::primary, header_);
    freshness_ = new PVText(QString(), PVFontToken::microCaption, PV::color::ink::tertiary, header_);
    texts->addWidget(title_);
    texts->addWidget(freshness_);
    headerRow->addLayout(texts, 1);
    stack->addWidget(header_);
    // The model's status line (a store that fails, a platform problem), right under the header.
    statusLine_ = new PVSymbolTextRow("exclamationmark.triangle.fill", 10, statusMarkSaturated(PVStatus::watch), 4,
                                      QString(), PVFontToken::caption, PV::color::ink::secondary, this);
    statusLine_->hide();
    stack->addWidget(statusLine_);
    // A broken IPv6 path, named beside whatever the header says of IPv4.
    ipv6Line_ = new PVSymbolTextRow("exclamationmark.octagon.fill", 10, statusMarkSaturated(PVStatus::serious), 4,
                                    QString(), PVFontToken::caption, PV::color::ink::secondary, this);
    ipv6Line_->hide();
    stack->addWidget(ipv6Line_);
    // An export's confirmation offers its folder.
    statusAction_ = new QPushButton(L("Mappa megnyitása"), this);
    statusAction_->hide();
    connect(statusAction_, &QPushButton::clicked, this, [this] { actions::revealLatestExport(model_); });
    stack->addWidget(statusAction_, 0, Qt::AlignLeft);

    // 2. Advice group.
    adviceDivider_ = new PVDivider(this);
    stack->addWidget(adviceDivider_);
    adviceGroup_ = new QWidget(this);
    auto* advice = new QVBoxLayout(adviceGroup_);
    advice->setContentsMargins(0, 0, 0, 0);
    advice->setSpacing(px(PV::space::xxs));
    evidence_ = new PVText(QString(), PVFontToken::caption, PV::color::ink::secondary, adviceGroup_);
    step_ = new PVSymbolTextRow("lightbulb.fill", 10, statusMarkSaturated(PVStatus::watch), 2, QString(),
                                PVFontToken::caption, PV::color::ink::secondary, adviceGroup_);
    advice->addWidget(evidence_);
    advice->addWidget(step_);
    stack->addWidget(adviceGroup_);

    // 3.–4. Metrics.
    stack->addWidget(new PVDivider(this));
    auto* metricsRow = new QWidget(this);
    auto* metrics = new QHBoxLayout(metricsRow);
    metrics->setContentsMargins(0, 0, 0, 0);
    metrics->setSpacing(px(PV::space::s));
    const PVColor dots[] = {PV::color::culprit::router, PV::color::culprit::provider, PV::color::culprit::wifi};
    const QString labels[] = {L("Router"), L("Szolgáltató"), L("Veszteség")};
    for (int i = 0; i < 3; ++i) {
        metrics_.push_back(makeMetric(labels[i], dots[i], metricsRow));
        metrics->addWidget(metrics_.back().widget, 1);
    }
    stack->addWidget(metricsRow);
    metricsCaption_ = new PVText(QString(), PVFontToken::microCaption, PV::color::ink::tertiary, this);
    stack->addWidget(metricsCaption_);

    // 5.–6. Actions.
    stack->addWidget(new PVDivider(this));
    auto* actionsBox = new QVBoxLayout();
    actionsBox->setSpacing(px(PV::space::xxs));
    pauseButton_ = new QPushButton(this);
    connect(pauseButton_, &QPushButton::clicked, this, [this] { actions::toggleMonitoring(model_); });
    openButton_ = new QPushButton(L("Megnyitás"), this);
    connect(openButton_, &QPushButton::clicked, this,
            [] { WindowRegistry::instance().open(QString::fromLatin1(PolvarineWindowID::main)); });
    exportButton_ = new QPushButton(L("Exportálás"), this);
    exportMenu_ = new QMenu(exportButton_);
    for (ExportScope scope : allExportScopes()) {
        QAction* item = exportMenu_->addAction(actionTitle(scope));
        connect(item, &QAction::triggered, this, [this, scope] { actions::startExport(model_, scope); });
        exportActions_.push_back(item);
    }
    exportMenu_->addSeparator();
    revealAction_ = exportMenu_->addAction(L("Legutóbbi export megmutatása"));
    connect(revealAction_, &QAction::triggered, this, [this] { actions::revealLatestExport(model_); });
    exportButton_->setMenu(exportMenu_);
    quitButton_ = new QPushButton(L("Kilépés a Polvarine-ból"), this);
    connect(quitButton_, &QPushButton::clicked, this, [this] {
        if (quit_)
            quit_();
    });
    actionsBox->addWidget(pauseButton_, 0, Qt::AlignLeft);
    actionsBox->addWidget(openButton_, 0, Qt::AlignLeft);
    actionsBox->addWidget(exportButton_, 0, Qt::AlignLeft);
    actionsBox->addSpacing(px(PV::space::xxs));
    actionsBox->addWidget(new PVDivider(this));
    actionsBox->addSpacing(px(PV::space::xxs));
    actionsBox->addWidget(quitButton_, 0, Qt::AlignLeft);
    stack->addLayout(actionsBox);

    // Shortcuts press the buttons, so a disabled control stays inert from the keyboard as well.
    const std::pair<QKeySequence, QPushButton*> keys[] = {
        {QKeySequence(Qt::CTRL | Qt::Key_P), pauseButton_},
        {QKeySequence(Qt::CTRL | Qt::Key_O), openButton_},
        {QKeySequence(Qt::CTRL | Qt::Key_Q), quitButton_},
    };
    for (const auto& [key, button] : keys) {
        auto* shortcut = new QShortcut(key, this);
        shortcut->setContext(Qt::WindowShortcut);
        QPushButton* target = button;
        connect(shortcut, &QShortcut::activated, target, [target] {
            if (target->isEnabled())
                target->click();
        });
        shortcuts_.push_back(shortcut);
    }

    connect(&feed_, &OverviewFeed::changed, this, &PolvarineMenuBarView::refresh);
    refresh();
}

PolvarineMenuBarView::MetricColumn PolvarineMenuBarView::makeMetric(const QString& label, const PVColor& dot,
                                                                    QWidget* parent)
{
    auto* column = new QWidget(parent);
    auto* stack = new QVBoxLayout(column);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(2);
    auto* labelRow = new QHBoxLayout();
    labelRow->setSpacing(px(PV::space::xxs));
    labelRow->addWidget(new MetricDot(dot, column), 0, Qt::AlignVCenter);
    auto* labelText = new PVText(label, PVFontToken::microCaption, PV::color::ink::tertiary, column);
    labelText->setWrapping(false);
    labelRow->addWidget(labelText, 0, Qt::AlignVCenter);
    labelRow->addStretch(1);
    stack->addLayout(labelRow);
    auto* valueRow = new QHBoxLayout();
    valueRow->setSpacing(2);
    auto* value = new PVText(QString(), PVFontToken::tileNumber, PV::color::ink::primary, column);
    value->setWrapping(false);
    auto* unit = new PVText(QString(), PVFontToken::microCaption, PV::color::ink::tertiary, column);
    unit->setWrapping(false);
    // Sit the unit on the number's baseline.
    const int drop = std::max(0, static_cast<int>(value->firstBaseline() - unit->firstBaseline()));
    auto* unitBox = new QWidget(column);
    auto* unitLayout = new QVBoxLayout(unitBox);
    unitLayout->setContentsMargins(0, drop, 0, 0);
    unit->setParent(unitBox);
    unitLayout->addWidget(unit);
    unitLayout->addStretch(1);
    valueRow->addWidget(value, 0, Qt::AlignTop);
    valueRow->addWidget(unitBox, 0, Qt::AlignTop);
    valueRow->addStretch(1);
    stack->addLayout(valueRow);
    return {column, value, unit};
}

QString PolvarineMenuBarView::ipv6LineText() const
{
    return ipv6Line_->isHidden() ? QString() : ipv6Line_->text();
}

void PolvarineMenuBarView::refresh()
{
    const auto held = feed_.snapshot();
    const OverviewSnapshot& s = *held;
    const Timestamp now = feed_.now();

    glyph_->setLevel(panelStatusLevel(s));
    title_->setText(panelStatusTitle(s));
    freshness_->setText(panelFreshnessLine(s, now));
    header_->setAccessibleName(panelHeaderAccessibleLabel(s, now));

    statusLine_->setText(s.statusMessage.value_or(QString()));
    const PVStatus statusLevel = statusLineLevel(s);
    if (statusLevel != statusLevel_) {
        statusLevel_ = statusLevel;
        statusLine_->setSymbol(statusLevel == PVStatus::good ? "checkmark.circle.fill"
                                                                : "exclamationmark.triangle.fill",
                               statusMarkSaturated(statusLevel));
    }
    statusLine_->setVisible(showsStatusBanner(s));
    const std::optional<QString> ipv6 = ipv6_lines::panelLine(s.ipv6Path);
    ipv6Line_->setText(ipv6.value_or(QString()));
    ipv6Line_->setVisible(ipv6.has_value());
    statusAction_->setVisible(statusOffersExportFolder(s));

    const bool adviceGroup = panelShowsAdviceGroup(s);
    adviceDivider_->setVisible(adviceGroup);
    adviceGroup_->setVisible(adviceGroup);
    const auto evidence = panelEvidenceLine(s);
    evidence_->setText(evidence.value_or(QString()));
    evidence_->setVisible(evidence.has_value());
    const auto step = panelAdviceStep(s);
    step_->setText(step.value_or(QString()));
    step_->setVisible(step.has_value());

    const auto figures = panelMetrics(s, now);
    for (std::size_t i = 0; i < metrics_.size() && i < figures.size(); ++i) {
        metrics_[i].value->setText(metricValueText(figures[i]));
        metrics_[i].unit->setText(figures[i].unit);
        metrics_[i].unit->parentWidget()->setVisible(figures[i].value.has_value());
        metrics_[i].widget->setAccessibleName(metricAccessibleLabel(figures[i]));
    }
    metricsCaption_->setText(panelMetricsCaption(s, now));

    pauseButton_->setText(monitoringActionTitle(s.isMonitoring));
    pauseButton_->setEnabled(actions::canToggleMonitoring(model_));
    openButton_->setEnabled(WindowRegistry::instance().has(QString::fromLatin1(PolvarineWindowID::main)));
    const bool canExport = actions::canExport(model_);
    for (QAction* item : exportActions_)
        item->setEnabled(canExport);
    revealAction_->setEnabled(s.hasExportResult && actions::canRevealLatestExport(model_));
    exportButton_->setEnabled(canExport || revealAction_->isEnabled());
    layOutForContent();
}

void PolvarineMenuBarView::layOutForContent()
{
    // A nested layout hears of a change in its widgets at once, but passes it on to the layout
    // around it only on a later turn of the event loop, one level per turn: a panel sized right
    // after a change would take the height of its previous content. Deepest first, every layout is
    // brought up to date now.
    const auto widgets = findChildren<QWidget*>();
    for (auto it = widgets.rbegin(); it != widgets.rend(); ++it) {
        if (QLayout* l = (*it)->layout()) {
            l->invalidate();
            l->activate();
        }
    }
    layout()->invalidate();
    layout()->activate();
    // The panel keeps its width and takes the height its content needs, as a window of its own or
    // as the only content of one (the tray's popup).
    QWidget* host = window();
    if (host == this) {
        resize(sizeHint());
    } else if (QLayout* around = host->layout(); around != nullptr && around->count() == 1 && around->indexOf(this) == 0) {
        around->invalidate();
        around->activate();
        host->resize(host->sizeHint());
    }
}

QSize PolvarineMenuBarView::sizeHint() const
{
    // The width is fixed, so the height is what the content needs at that width.
    return {kWidth, heightForWidth(kWidth)};
}

QString PolvarineMenuBarView::titleText() const { return title_->text(); }
QString PolvarineMenuBarView::freshnessText() const { return freshness_->text(); }
QString PolvarineMenuBarView::statusLineText() const
{
    return statusLine_->isHidden() ? QString() : statusLine_->text();
}
QString PolvarineMenuBarView::evidenceText() const { return evidence_->isHidden() ? QString() : evidence_->text(); }
QString PolvarineMenuBarView::adviceStepText() const { return step_->isHidden() ? QString() : step_->text(); }
QString PolvarineMenuBarView::metricValue(int column) const { return metrics_.at(column).value->text(); }
QString PolvarineMenuBarView::metricAccessibleName(int column) const { return metrics_.at(column).widget->accessibleName(); }

void PolvarineMenuBarView::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const PVPaintContext ctx = PVPaintContext::forWidget(this);
    // A raised surface: the overlay fill with the card's 1-pt border, so that the panel keeps an
    // edge of its own over a window of the same colours.
    pvPaintOutlinedRoundedRect(p, QRectF(rect()), 0, ctx.color(PV::color::surface::overlay),
                               ctx.color(PV::color::line::border), 1.0);
    pvPaintDecorations(this, p);
}

} // namespace pv
