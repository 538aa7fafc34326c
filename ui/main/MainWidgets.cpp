#include "ui/main/MainWidgets.h"

#include <QDialog>

#include "ui/design/Depth.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QPainter>
#include <QVBoxLayout>

namespace pv {

namespace {
int px(double v) { return static_cast<int>(v); }

// The bullet of an evidence row: a plain dot in ink.quaternary.
class BulletDot : public QWidget {
public:
    using QWidget::QWidget;
    QSize sizeHint() const override { return {4, 4}; }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(PVPaintContext::forWidget(this).color(PV::color::ink::quaternary));
        p.drawEllipse(QRectF(0, 0, 4, 4));
    }
};
} // namespace

// ---- Divider ----------------------------------------------------------------------------------------

PVDivider::PVDivider(QWidget* parent)
    : QWidget(parent)
{
    setFixedHeight(1);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void PVDivider::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), PVPaintContext::forWidget(this).color(PV::color::line::hairline));
}

// ---- Status glyph -----------------------------------------------------------------------------------

PVStatusGlyph::PVStatusGlyph(PVStatus level, double diameter, double symbolPoints, QWidget* parent)
    : QWidget(parent)
    , level_(level)
    , diameter_(diameter)
    , symbolPoints_(symbolPoints)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void PVStatusGlyph::setLevel(PVStatus level)
{
    if (level_ == level)
        return;
    level_ = level;
    update();
}

QSize PVStatusGlyph::sizeHint() const { return {px(diameter_), px(diameter_)}; }

void PVStatusGlyph::paintEvent(QPaintEvent*)
{
    const PVPaintContext ctx = PVPaintContext::forWidget(this);
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF disc(0, 0, diameter_, diameter_);
    p.setPen(Qt::NoPen);
    p.setBrush(ctx.color(statusWash(level_)));
    p.drawEllipse(disc);
    const double box = symbolBox(symbolPoints_);
    const QRectF symbol(disc.center().x() - box / 2, disc.center().y() - box / 2, box, box);
    pvPaintSymbol(p, symbol, statusSymbolName(level_), ctx.color(statusMarkSaturated(level_)));
}

// ---- Rows -------------------------------------------------------------------------------------------

PVBulletRow::PVBulletRow(const QString& text, QWidget* parent)
    : QWidget(parent)
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(px(PV::space::xs));
    auto* dotBox = new QWidget(this);
    auto* dotLayout = new QVBoxLayout(dotBox);
    dotLayout->setContentsMargins(0, 7, 0, 0);
    auto* d = new BulletDot(dotBox);
    d->setFixedSize(4, 4);
    dotLayout->addWidget(d);
    dotLayout->addStretch(1);
    row->addWidget(dotBox, 0, Qt::AlignTop);
    text_ = new PVText(text, PVFontToken::caption, PV::color::ink::secondary, this);
    row->addWidget(text_, 1);
}

QString PVBulletRow::text() const { return text_->text(); }

PVSymbolTextRow::PVSymbolTextRow(std::string_view symbolName, double symbolPoints, const PVColor& symbolTint,
                                 double symbolTopPad, const QString& text, const PVFontToken& token,
                                 const PVColor& textColor, QWidget* parent)
    : QWidget(parent)
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(px(PV::space::xs));
    auto* symbolBoxWidget = new QWidget(this);
    auto* symbolLayout = new QVBoxLayout(symbolBoxWidget);
    symbolLayout->setContentsMargins(0, px(symbolTopPad), 0, 0);
    auto* symbol = new PVSymbolView(symbolName, symbolPoints, symbolTint, symbolBoxWidget);
    symbol_ = symbol;
    symbolLayout->addWidget(symbol);
    symbolLayout->addStretch(1);
    row->addWidget(symbolBoxWidget, 0, Qt::AlignTop);
    text_ = new PVText(text, token, textColor, this);
    row->addWidget(text_, 1);
}

void PVSymbolTextRow::setText(const QString& text) { text_->setText(text); }
QString PVSymbolTextRow::text() const { return text_->text(); }
void PVSymbolTextRow::setSymbol(std::string_view symbolName, const PVColor& tint)
{
    symbol_->setSymbol(symbolName);
    symbol_->setTint(tint);
}

// ---- Placeholder ------------------------------------------------------------------------------------

PVPlaceholderScreen::PVPlaceholderScreen(const QString& title, const QString& message, std::string_view symbolName,
                                         QWidget* parent)
    : QWidget(parent)
    , title_(title)
    , message_(message)
{
    auto* host = new PVShadowHost(this);
    host->setBackground(PV::color::surface::canvas);
    pvResolveDepthStyle(this);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(host);
    auto* column = new QVBoxLayout(host);
    column->setContentsMargins(px(PV::space::l), px(PV::space::l), px(PV::space::l), px(PV::space::l));
    column->setSpacing(px(PV::space::m));
    column->addStretch(1);
    auto* symbol = new PVSymbolView(symbolName, 34, PV::color::ink::quaternary, host);
    column->addWidget(symbol, 0, Qt::AlignHCenter);
    auto* titleText = new PVText(title, PVFontToken::sectionTitle, PV::color::ink::primary, host);
    titleText->setHorizontalAlignment(Qt::AlignHCenter);
    column->addWidget(titleText);
    auto* messageText = new PVText(message, PVFontToken::body, PV::color::ink::secondary, host);
    messageText->setHorizontalAlignment(Qt::AlignHCenter);
    messageText->setMaximumWidth(420);
    column->addWidget(messageText, 0, Qt::AlignHCenter);
    column->addStretch(1);
}

// ---- Notifications and windows ------------------------------------------------------------------------

NotificationCenter& NotificationCenter::instance()
{
    static NotificationCenter* center = new NotificationCenter(); // lives for the process
    return *center;
}

void NotificationCenter::post(const QString& name)
{
    Q_EMIT posted(name);
    if (name == QLatin1String("polvarine.reopenWelcome"))
        Q_EMIT reopenWelcome();
}

WindowRegistry& WindowRegistry::instance()
{
    static WindowRegistry registry;
    return registry;
}

void WindowRegistry::registerWindow(const QString& id, Factory factory) { entries_[id] = {std::move(factory), {}}; }
void WindowRegistry::unregisterWindow(const QString& id) { entries_.erase(id); }
bool WindowRegistry::has(const QString& id) const { return entries_.count(id) > 0; }

QWidget* WindowRegistry::window(const QString& id) const
{
    const auto it = entries_.find(id);
    return it == entries_.end() ? nullptr : it->second.window.data();
}

bool WindowRegistry::open(const QString& id)
{
    const auto it = entries_.find(id);
    if (it == entries_.end())
        return false;
    if (!it->second.window)
        it->second.window = it->second.factory();
    QWidget* w = it->second.window;
    if (!w)
        return false;
    w->show();
    w->raise();
    // A sheet open on the window (the welcome flow) stays above it and keeps the keyboard.
    QWidget* target = w;
    for (QWidget* sheet : w->findChildren<QDialog*>())
        if (sheet->isVisible() && sheet->windowModality() != Qt::NonModal)
            target = sheet;
    if (target != w)
        target->raise();
    target->activateWindow();
    return true;
}

// ---- Split view and wrapping row -----------------------------------------------------------------

namespace {
class SeamHandle : public QSplitterHandle {
public:
    using QSplitterHandle::QSplitterHandle;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.fillRect(rect(), PVPaintContext::forWidget(this).color(PV::color::line::hairline));
    }
};
} // namespace

QSplitterHandle* PVSeamSplitter::createHandle() { return new SeamHandle(orientation(), this); }

PVWrappingRow::PVWrappingRow(int spacing, QWidget* parent)
    : QWidget(parent)
    , box_(new QBoxLayout(QBoxLayout::LeftToRight, this))
{
    box_->setContentsMargins(0, 0, 0, 0);
    box_->setSpacing(spacing);
}

int PVWrappingRow::rowWidth() const
{
    int width = 0;
    int shown = 0;
    for (int i = 0; i < box_->count(); ++i)
        if (QWidget* w = box_->itemAt(i)->widget(); w != nullptr && !w->isHidden()) {
            width += w->sizeHint().width();
            ++shown;
        }
    return width + std::max(0, shown - 1) * box_->spacing();
}

QSize PVWrappingRow::minimumSizeHint() const
{
    int width = 0;
    int height = 0;
    for (int i = 0; i < box_->count(); ++i)
        if (QWidget* w = box_->itemAt(i)->widget(); w != nullptr && !w->isHidden()) {
            width = std::max(width, w->sizeHint().width());
            height = std::max(height, w->sizeHint().height());
        }
    return {width, height};
}

void PVWrappingRow::rearrange()
{
    const auto direction = width() >= rowWidth() ? QBoxLayout::LeftToRight : QBoxLayout::TopToBottom;
    if (box_->direction() != direction)
        box_->setDirection(direction);
}

void PVWrappingRow::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    rearrange();
}

bool PVWrappingRow::event(QEvent* event)
{
    // The controls changed (a new title, the other state shown): the row may stack or fit again.
    if (event->type() == QEvent::LayoutRequest)
        rearrange();
    return QWidget::event(event);
}

} // namespace pv
