#include "ui/screens/ScreenParts.h"

#include "ui/main/TokenPalette.h"

#include <QHBoxLayout>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

namespace pv {

// ---- Page ------------------------------------------------------------------------------------------

PVScreenPage::PVScreenPage(QWidget* parent) : QScrollArea(parent)
{
    followTokenPalette(this);
    const PVCentredPage page = pvMakeCentredPage(this, kColumnMaxWidth);
    auto* canvas = page.canvas;
    column_ = page.column;
    stack_ = new QVBoxLayout(column_);
    stack_->setContentsMargins(kColumnPadding, kColumnPadding, kColumnPadding, kColumnPadding);
    stack_->setSpacing(kColumnSpacing);
    setWidget(canvas);
}

// ---- Segmented picker ---------------------------------------------------------------------------------

namespace {
constexpr int kSegmentHeight = 26;
constexpr int kSegmentInset = 2;
} // namespace

PVSegmentedPicker::PVSegmentedPicker(const QStringList& titles, int maximumWidth, QWidget* parent)
    : QWidget(parent), titles_(titles), maximumWidth_(maximumWidth)
{
    setFocusPolicy(Qt::StrongFocus);
    setMaximumWidth(maximumWidth);
    setFixedHeight(kSegmentHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAccessibleName(titles.join(QStringLiteral(", ")));
}

void PVSegmentedPicker::setCurrentIndex(int index)
{
    if (index < 0 || index >= count() || index == current_)
        return;
    current_ = index;
    update();
}

QSize PVSegmentedPicker::sizeHint() const { return {maximumWidth_, kSegmentHeight}; }

QSize PVSegmentedPicker::minimumSizeHint() const
{
    const QFontMetrics fm(pvFont(PVFontToken::callout));
    int widest = 0;
    for (const QString& t : titles_)
        widest = std::max(widest, fm.horizontalAdvance(t));
    return {(widest + 16) * static_cast<int>(titles_.size()) + 2 * kSegmentInset, kSegmentHeight};
}

QRect PVSegmentedPicker::segmentRect(int index) const
{
    const QRect inner = rect().adjusted(kSegmentInset, kSegmentInset, -kSegmentInset, -kSegmentInset);
    const int n = std::max(1, count());
    const int x0 = inner.left() + inner.width() * index / n;
    const int x1 = inner.left() + inner.width() * (index + 1) / n;
    return {x0, inner.top(), x1 - x0, inner.height()};
}

int PVSegmentedPicker::segmentAt(const QPoint& point) const
{
    for (int i = 0; i < count(); ++i)
        if (segmentRect(i).contains(point))
            return i;
    return -1;
}

void PVSegmentedPicker::pick(int index)
{
    if (index < 0 || index >= count() || index == current_)
        return;
    current_ = index;
    update();
    Q_EMIT picked(index);
}

void PVSegmentedPicker::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        pick(segmentAt(event->position().toPoint()));
}

void PVSegmentedPicker::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Left)
        pick(current_ - 1);
    else if (event->key() == Qt::Key_Right)
        pick(current_ + 1);
    else
        QWidget::keyPressEvent(event);
}

bool isKeyboardFocus(Qt::FocusReason reason)
{
    return reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason || reason == Qt::ShortcutFocusReason;
}

void PVSegmentedPicker::focusInEvent(QFocusEvent* event)
{
    keyboardFocus_ = isKeyboardFocus(event->reason());
    QWidget::focusInEvent(event);
    update();
}

void PVSegmentedPicker::focusOutEvent(QFocusEvent* event)
{
    keyboardFocus_ = false;
    QWidget::focusOutEvent(event);
    update();
}

void PVSegmentedPicker::paintEvent(QPaintEvent*)
{
    const PVPaintContext ctx = PVPaintContext::forWidget(this);
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(ctx.color(PV::color::line::border), 1));
    p.setBrush(ctx.color(PV::color::surface::well));
    p.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 7, 7);
    p.setFont(pvFont(PVFontToken::callout));
    for (int i = 0; i < count(); ++i) {
        const QRect r = segmentRect(i);
        const bool selected = i == current_;
        if (selected) {
            p.setPen(QPen(ctx.color(PV::color::line::strong), 1));
            p.setBrush(ctx.color(PV::color::surface::cardRaised));
            p.drawRoundedRect(QRectF(r).adjusted(0.5, 0.5, -0.5, -0.5), 5, 5);
        } else if (i > 0 && i - 1 != current_) {
            p.setPen(QPen(ctx.color(PV::color::line::border), 1));
            p.drawLine(QPointF(r.left() + 0.5, r.top() + 5), QPointF(r.left() + 0.5, r.bottom() - 4));
        }
        p.setPen(ctx.color(selected ? PV::color::ink::primary : PV::color::ink::secondary));
        p.drawText(r, Qt::AlignCenter, titles_[i]);
    }
    if (hasFocus() && keyboardFocus_) {
        p.setPen(QPen(ctx.color(PV::color::focus::ring()), 2));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 7, 7);
    }
}

// ---- Switch -----------------------------------------------------------------------------------------

PVSwitch::PVSwitch(QWidget* parent) : QAbstractButton(parent)
{
    setCheckable(true);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void PVSwitch::focusInEvent(QFocusEvent* event)
{
    keyboardFocus_ = isKeyboardFocus(event->reason());
    QAbstractButton::focusInEvent(event);
}

void PVSwitch::focusOutEvent(QFocusEvent* event)
{
    keyboardFocus_ = false;
    QAbstractButton::focusOutEvent(event);
}

void PVSwitch::paintEvent(QPaintEvent*)
{
    const PVPaintContext ctx = PVPaintContext::forWidget(this);
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled())
        p.setOpacity(0.45);
    const QRectF track = QRectF(rect()).adjusted(1, 1, -1, -1);
    const double radius = track.height() / 2;
    const QColor fill = isChecked() ? ctx.color(PVColor::accent()) : ctx.color(PV::color::line::strong);
    p.setPen(Qt::NoPen);
    p.setBrush(fill);
    p.drawRoundedRect(track, radius, radius);
    const double knob = track.height() - 4;
    const double x = isChecked() ? track.right() - 2 - knob : track.left() + 2;
    p.setBrush(QColor(Qt::white));
    p.drawEllipse(QRectF(x, track.top() + 2, knob, knob));
    if (hasFocus() && keyboardFocus_) {
        p.setPen(QPen(ctx.color(PV::color::focus::halo()), 2));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(track, radius, radius);
    }
}

// ---- Setting row ------------------------------------------------------------------------------------

PVSettingRow::PVSettingRow(const QString& title, const QString& note, const PVFontToken& titleToken,
                           const PVColor& noteColor, QWidget* trailing, QWidget* parent)
    : QWidget(parent)
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(12);
    auto* label = new QWidget(this);
    auto* column = new QVBoxLayout(label);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(2);
    title_ = new PVText(title, titleToken, PV::color::ink::primary, label);
    note_ = new PVText(note, PVFontToken::caption, noteColor, label);
    column->addWidget(title_);
    column->addWidget(note_);
    row->addWidget(label, 1, Qt::AlignTop);
    if (trailing) {
        trailing->setParent(this);
        row->addWidget(trailing, 0, Qt::AlignTop);
    }
}

QAbstractButton* makeSmallButton(const QString& title, QWidget* parent)
{
    auto* button = new QPushButton(title, parent);
    QFont f = button->font();
    f.setPixelSize(12);
    button->setFont(f);
    button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    return button;
}

void makeProminent(QAbstractButton* button)
{
    auto restyle = [button] {
        const PVPaintContext ctx = PVPaintContext::forWidget(button);
        const QString sheet =
            QStringLiteral("QPushButton { background: %1; color: %2; border: none; border-radius: 6px;"
                           " padding: 5px 16px; font-weight: 600; }"
                           "QPushButton:pressed { background: %3; }")
                .arg(ctx.color(PVColor::accent()).name(), ctx.color(PV::color::interactive::accentInk).name(),
                     ctx.color(PVColor::accent()).darker(115).name());
        if (button->styleSheet() != sheet)
            button->setStyleSheet(sheet);
    };
    restyle();
    QObject::connect(&PVTheme::instance(), &PVTheme::changed, button, restyle);
}

} // namespace pv
