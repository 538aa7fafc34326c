#include "ui/main/OverviewSections.h"

#include "ui/design/Controls.h"

#include "ui/design/Depth.h"
#include "ui/design/Theme.h"
#include "ui/main/MainLogic.h"
#include "ui/main/OverviewStatus.h"

#include "core/records/Localization.h"

#include <QDesktopServices>
#include <QHBoxLayout>
#include <QPainter>
#include <QFocusEvent>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

namespace pv {

namespace {
int px(double v) { return static_cast<int>(v); }
constexpr double kBannerRadius = 8;
} // namespace

// ---- Banners ----------------------------------------------------------------------------------------

BannerFrame::BannerFrame(const PVColor& fill, const PVColor& border, QWidget* parent)
    : QWidget(parent)
    , fill_(fill)
    , border_(border)
{
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Minimum);
}

void BannerFrame::setColors(const PVColor& fill, const PVColor& border)
{
    fill_ = fill;
    border_ = border;
    update();
}

void BannerFrame::paintEvent(QPaintEvent*)
{
    const PVPaintContext ctx = PVPaintContext::forWidget(this);
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()), kBannerRadius, kBannerRadius);
    p.fillPath(shape, ctx.color(fill_));
    p.setPen(QPen(ctx.color(border_), 1));
    p.setBrush(Qt::NoBrush);
    p.drawPath(pvInsetRoundedRect(QRectF(rect()), kBannerRadius, 1));
}

namespace {
std::string_view bannerSymbol(PVStatus level)
{
    switch (level) {
    case PVStatus::serious: return "exclamationmark.octagon.fill";
    case PVStatus::good: return "checkmark.circle.fill";
    default: return "exclamationmark.triangle.fill";
    }
}
} // namespace

StorageBanner::StorageBanner(QWidget* parent, PVStatus level)
    : BannerFrame(statusWash(level), statusBorder(level), parent)
    , level_(level)
{
    auto* row = new QHBoxLayout(this);
    const int pad = px(PV::space::s);
    row->setContentsMargins(pad, pad, pad, pad);
    row->setSpacing(px(PV::space::s));
    // The symbol sits at the size of the message's text, level with its first line, at any text size.
    const double textScale = PVTheme::instance().textScale(PVFontToken::body.relativeTo);
    auto* symbol = new PVSymbolView(bannerSymbol(level), PVFontToken::body.size * textScale, statusMarkSaturated(level), this);
    symbol_ = symbol;
    auto* symbolBox = new QWidget(this);
    auto* symbolLayout = new QVBoxLayout(symbolBox);
    const int lead = px((PVFontToken::body.lineHeight * textScale - symbol->sizeHint().height()) / 2);
    symbolLayout->setContentsMargins(0, std::max(0, lead), 0, 0);
    symbol->setParent(symbolBox);
    symbolLayout->addWidget(symbol);
    symbolLayout->addStretch(1);
    row->addWidget(symbolBox, 0, Qt::AlignTop);
    message_ = new PVText(QString(), PVFontToken::body, PV::color::ink::primary, this);
    row->addWidget(message_, 1);
    action_ = new QPushButton(this);
    action_->hide();
    row->addWidget(action_, 0, Qt::AlignVCenter);
    connect(action_, &QPushButton::clicked, this, &StorageBanner::actionTriggered);
}

void StorageBanner::setLevel(PVStatus level)
{
    if (level == level_)
        return;
    level_ = level;
    setColors(statusWash(level), statusBorder(level));
    symbol_->setSymbol(bannerSymbol(level));
    symbol_->setTint(statusMarkSaturated(level));
}

void StorageBanner::setAction(const QString& text)
{
    action_->setText(text);
    if (text.isEmpty() && action_->hasFocus()) {
        // The banner keeps the focus its button had (the outcome of the click is what it now says),
        // rather than the page moving it on to a control further down and scrolling there.
        setFocus(movedFocusReason(this));
    }
    action_->setVisible(!text.isEmpty());
}

void StorageBanner::focusInEvent(QFocusEvent* event)
{
    keyboardFocus_ = isKeyboardFocus(event->reason());
    BannerFrame::focusInEvent(event);
    update();
}

void StorageBanner::focusOutEvent(QFocusEvent* event)
{
    keyboardFocus_ = false;
    BannerFrame::focusOutEvent(event);
    update();
}

void StorageBanner::paintEvent(QPaintEvent* event)
{
    BannerFrame::paintEvent(event);
    if (!hasFocus() || !keyboardFocus_)
        return;
    QPainter p(this);
    pvPaintFocusRing(p, QRectF(rect()).adjusted(kFocusRingReach, kFocusRingReach, -kFocusRingReach, -kFocusRingReach),
                     8 - kFocusRingReach, this);
}

void StorageBanner::setMessage(const QString& message)
{
    message_->setText(message);
    setAccessibleName(message);
}

QString StorageBanner::message() const { return message_->text(); }

UpdateBanner::UpdateBanner(QWidget* parent)
    : BannerFrame(PV::color::surface::well, PV::color::line::hairline, parent)
{
    auto* row = new QHBoxLayout(this);
    const int pad = px(PV::space::s);
    row->setContentsMargins(pad, pad, pad, pad);
    row->setSpacing(px(PV::space::s));
    row->addWidget(new PVSymbolView("arrow.down.circle", 14, PV::color::ink::secondary, this), 0, Qt::AlignVCenter);
    auto* texts = new QVBoxLayout();
    texts->setSpacing(1);
    title_ = new PVText(QString(), PVFontToken::cardTitle, PV::color::ink::primary, this);
    notes_ = new PVText(QString(), PVFontToken::caption, PV::color::ink::secondary, this);
    texts->addWidget(title_);
    texts->addWidget(notes_);
    row->addLayout(texts, 1);
    row->addSpacing(px(PV::space::s));
    download_ = new QPushButton(L("Letöltés"), this);
    row->addWidget(download_, 0, Qt::AlignVCenter);
    connect(download_, &QPushButton::clicked, this, [this] { QDesktopServices::openUrl(url_); });
}

void UpdateBanner::setUpdate(const AvailableUpdate& update)
{
    title_->setText(updateTitle(update.version));
    notes_->setText(update.notes);
    url_ = update.downloadURL;
    setAccessibleName(title_->text() + QLatin1Char(' ') + update.notes + QLatin1Char(' ') + download_->text());
}

QString UpdateBanner::titleText() const { return title_->text(); }
QString UpdateBanner::notesText() const { return notes_->text(); }

// ---- Fault location ---------------------------------------------------------------------------------

FaultLocationSection::FaultLocationSection(QWidget* parent)
    : QWidget(parent)
{
    stack_ = new QVBoxLayout(this);
    stack_->setContentsMargins(0, 0, 0, 0);
    stack_->setSpacing(px(PV::space::s));
    stack_->addWidget(new PVText(L("Hol van a hiba?"), PVFontToken::sectionTitle, PV::color::ink::primary, this));
    chain_ = new PVCulpritChain({}, std::nullopt, false, this);
    stack_->addWidget(chain_);
    // The IPv6 path, directly under the chain: its state and latency, and a broken path's advice.
    ipv6Row_ = new PVSymbolTextRow("info.circle", 12, PV::color::ink::tertiary, 1, QString(), PVFontToken::body,
                                   PV::color::ink::primary, this);
    stack_->addWidget(ipv6Row_);
    ipv6Row_->hide();
    ipv6Advice_ = new QWidget(this);
    ipv6AdviceRows_ = new QVBoxLayout(ipv6Advice_);
    ipv6AdviceRows_->setContentsMargins(px(PV::space::m), 0, 0, 0);
    ipv6AdviceRows_->setSpacing(px(PV::space::xxs));
    stack_->addWidget(ipv6Advice_);
    ipv6Advice_->hide();
    // The evidence quotes figures of the analysed stretch; the chain's captions are of their own.
    evidenceLead_ = new PVText(QString(), PVFontToken::caption, PV::color::ink::secondary, this);
    stack_->addWidget(evidenceLead_);
    evidenceLead_->hide();
    evidence_ = new QWidget(this);
    evidenceRows_ = new QVBoxLayout(evidence_);
    evidenceRows_->setContentsMargins(0, px(PV::space::xxs), 0, 0);
    evidenceRows_->setSpacing(px(PV::space::xxs));
    stack_->addWidget(evidence_);
    evidence_->hide();
    caption_ = new PVText(L("A színek a távolságot követik: meleg szín van hozzád legközelebb, hideg a legtávolabb. "
                            "Ugyanezek a színek jelölik a görbéket lent."),
                          PVFontToken::caption, PV::color::ink::tertiary, this);
    stack_->addWidget(caption_);
}

void FaultLocationSection::setSnapshot(const OverviewSnapshot& s, Timestamp now)
{
    const auto segments = culpritChainSegments(s, now);
    chain_->setChain(std::vector<PVSegment>(segments.begin(), segments.end()), accusedCulprit(s),
                     isIncidentLive(s.incidents));
    setIpv6(s.isMonitoring || s.lastProbeBatchTimestamp ? ipv6_lines::overviewLine(s.ipv6Path) : std::nullopt);

    if (s.attribution.evidence != shownEvidence_) {
        shownEvidence_ = s.attribution.evidence;
        while (QLayoutItem* item = evidenceRows_->takeAt(0)) {
            delete item->widget();
            delete item;
        }
        for (const QString& line : shownEvidence_)
            evidenceRows_->addWidget(new PVBulletRow(line, evidence_));
        evidence_->setVisible(!shownEvidence_.isEmpty());
    }
    const bool lead = !shownEvidence_.isEmpty() && s.attributionWindowSeconds > 0;
    if (lead)
        evidenceLead_->setText(s.evidenceLead.isEmpty() ? evidenceStretchCaption(s.attributionWindowSeconds)
                                                        : s.evidenceLead);
    evidenceLead_->setVisible(lead);
    if (s.attribution.caveats != shownCaveats_) {
        shownCaveats_ = s.attribution.caveats;
        for (PVSymbolTextRow* row : caveats_)
            delete row;
        caveats_.clear();
        // Caveats stand directly in the section's stack, before the caption.
        for (const QString& caveat : shownCaveats_) {
            auto* row = new PVSymbolTextRow("info.circle", 12, PV::color::ink::tertiary, 1, caveat,
                                            PVFontToken::caption, PV::color::ink::tertiary, this);
            stack_->insertWidget(stack_->indexOf(caption_), row);
            caveats_.push_back(row);
        }
    }
}

void FaultLocationSection::setIpv6(const std::optional<ipv6_lines::Line>& line)
{
    if (line == shownIpv6_)
        return;
    shownIpv6_ = line;
    ipv6Row_->setVisible(line.has_value());
    if (line) {
        ipv6Row_->setText(line->text);
        ipv6Row_->setSymbol(statusSymbolName(line->level), line->level == PVStatus::neutral
                                                               ? PVColor(PV::color::ink::tertiary)
                                                               : PVColor(statusMarkSaturated(line->level)));
    }
    while (QLayoutItem* item = ipv6AdviceRows_->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    if (line)
        for (const QString& step : line->advice)
            ipv6AdviceRows_->addWidget(new PVBulletRow(step, ipv6Advice_));
    ipv6Advice_->setVisible(line && !line->advice.isEmpty());
}

QString FaultLocationSection::ipv6Text() const { return shownIpv6_ ? shownIpv6_->text : QString(); }

QStringList FaultLocationSection::ipv6AdviceTexts() const { return shownIpv6_ ? shownIpv6_->advice : QStringList(); }

QStringList FaultLocationSection::evidenceTexts() const
{
    QStringList texts;
    for (int i = 0; i < evidenceRows_->count(); ++i)
        if (auto* row = qobject_cast<PVBulletRow*>(evidenceRows_->itemAt(i)->widget()))
            texts << row->text();
    return texts;
}

QString FaultLocationSection::evidenceLeadText() const
{
    return evidenceLead_->isVisibleTo(const_cast<FaultLocationSection*>(this)) ? evidenceLead_->text() : QString();
}

QStringList FaultLocationSection::caveatTexts() const
{
    QStringList texts;
    for (PVSymbolTextRow* row : caveats_)
        texts << row->text();
    return texts;
}

// ---- Advice -----------------------------------------------------------------------------------------

AdviceSection::AdviceSection(QWidget* parent)
    : QWidget(parent)
{
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(px(PV::space::s));
    card_ = new PVAdviceCard(QString(), {}, this);
    stack->addWidget(card_);
    pointless_ = new QWidget(this);
    auto* pad = new QVBoxLayout(pointless_);
    pad->setContentsMargins(px(PV::space::xxs), 0, px(PV::space::xxs), 0);
    pointlessRow_ = new PVSymbolTextRow("hand.raised.slash", 12, PV::color::ink::tertiary, 1, QString(),
                                        PVFontToken::caption, PV::color::ink::secondary, pointless_);
    pad->addWidget(pointlessRow_);
    stack->addWidget(pointless_);
    pointless_->hide();
}

void AdviceSection::setAdvice(const AdviceSet& advice)
{
    QStringList steps;
    for (const AdviceStep& step : advice.steps)
        steps << step.text;
    card_->setAdvice(advice.title, steps);
    if (advice.pointless)
        pointlessRow_->setText(*advice.pointless);
    pointless_->setVisible(advice.pointless.has_value());
}

bool AdviceSection::showsPointlessNote() const { return !pointless_->isHidden(); }

} // namespace pv
