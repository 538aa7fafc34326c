#include "ui/design/Controls.h"

#include "ui/design/Depth.h"

#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QMenu>
#include <QProxyStyle>
#include <QScrollArea>
#include <QPushButton>
#include <QStyleFactory>
#include <QStyleOption>
#include <QToolButton>

#include <algorithm>
#include <cmath>

namespace pv {

bool isKeyboardFocus(Qt::FocusReason reason)
{
    return reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason || reason == Qt::ShortcutFocusReason;
}

namespace {
constexpr const char* kKeyboardFocusProperty = "pvKeyboardFocus";

// Remembers on each watched widget whether the keyboard gave it its focus.
class KeyboardFocusMemory : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut)
            watched->setProperty(kKeyboardFocusProperty,
                                 event->type() == QEvent::FocusIn
                                     && isKeyboardFocus(static_cast<QFocusEvent*>(event)->reason()));
        return QObject::eventFilter(watched, event);
    }
};

QObject* keyboardFocusMemory()
{
    static auto* filter = new KeyboardFocusMemory(QCoreApplication::instance());
    return filter;
}
} // namespace

void trackKeyboardFocus(QWidget* widget) { widget->installEventFilter(keyboardFocusMemory()); }

void untrackKeyboardFocus(QWidget* widget) { widget->removeEventFilter(keyboardFocusMemory()); }

bool hasKeyboardFocus(const QWidget* widget) { return widget->property(kKeyboardFocusProperty).toBool(); }

Qt::FocusReason movedFocusReason(const QWidget* within)
{
    return within->window()->testAttribute(Qt::WA_KeyboardFocusChange) ? Qt::TabFocusReason : Qt::OtherFocusReason;
}

namespace {

void paintFocusRing(QPainter& p, const QRectF& around, double radius, const PVPaintContext& ctx)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    // Centred on a line one pixel outside the shape, so the shape's own edge stays readable.
    const double out = 1 + kFocusRingWidth / 2;
    p.setPen(QPen(ctx.color(PV::color::focus::ring()), kFocusRingWidth));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(around.adjusted(-out, -out, out, out), radius + out, radius + out);
    p.restore();
}

int scaled(double value, PVTextStyle style)
{
    return static_cast<int>(std::lround(value * PVTheme::instance().textScale(style)));
}

} // namespace

void pvPaintFocusRing(QPainter& painter, const QRectF& shape, double radius, const QWidget* widget)
{
    paintFocusRing(painter, shape, radius, PVPaintContext::forWidget(widget));
}

// ---- Segmented picker ---------------------------------------------------------------------------------

namespace {
constexpr int kSegmentHeight = 26;
constexpr int kSegmentInset = 2;
constexpr int kSegmentPadding = 16; // around a title, both sides together
} // namespace

PVSegmentedPicker::PVSegmentedPicker(const QStringList& titles, int maximumWidth, QWidget* parent)
    : QWidget(parent), titles_(titles), maximumWidth_(maximumWidth)
{
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAccessibleName(titles.join(QStringLiteral(", ")));
    followTextSize();
    connect(&PVTheme::instance(), &PVTheme::changed, this, &PVSegmentedPicker::followTextSize);
}

void PVSegmentedPicker::followTextSize()
{
    // Wider than its usual limit only when the titles would not fit in it.
    const int height = segmentHeight();
    const int widest = std::max(maximumWidth_, minimumSizeHint().width());
    if (height == this->height() && minimumHeight() == height && maximumWidth() == widest)
        return;
    setFixedHeight(height);
    setMaximumWidth(widest);
    updateGeometry();
}

QFont PVSegmentedPicker::titleFont() const { return pvFont(PVFontToken::callout); }

int PVSegmentedPicker::segmentHeight() const
{
    const int lineRoom = static_cast<int>(std::ceil(QFontMetricsF(titleFont()).height())) + 2 * kSegmentInset + 2;
    return std::max(scaled(kSegmentHeight, PVFontToken::callout.relativeTo), lineRoom);
}

void PVSegmentedPicker::setCurrentIndex(int index)
{
    if (index < 0 || index >= count() || index == current_)
        return;
    current_ = index;
    update();
}

QSize PVSegmentedPicker::sizeHint() const
{
    return {std::max(maximumWidth_, minimumSizeHint().width()), segmentHeight()};
}

QSize PVSegmentedPicker::minimumSizeHint() const
{
    const QFontMetricsF fm(titleFont());
    double widest = 0;
    for (const QString& t : titles_)
        widest = std::max(widest, fm.horizontalAdvance(t));
    const int segment = static_cast<int>(std::ceil(widest)) + scaled(kSegmentPadding, PVFontToken::callout.relativeTo);
    return {segment * static_cast<int>(titles_.size()) + 2 * kSegmentInset, segmentHeight()};
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
    p.setFont(titleFont());
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
        p.setPen(QPen(ctx.color(PV::color::focus::ring()), kFocusRingWidth));
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

QSize PVSwitch::sizeHint() const
{
    return {scaled(kTrackWidth, PVTextStyle::body) + 2 * kFocusRingReach,
            scaled(kTrackHeight, PVTextStyle::body) + 2 * kFocusRingReach};
}

QRectF PVSwitch::trackRect() const
{
    const int trackHeight = scaled(kTrackHeight, PVTextStyle::body);
    return QRectF(kFocusRingReach, (height() - trackHeight) / 2.0, scaled(kTrackWidth, PVTextStyle::body), trackHeight);
}

void PVSwitch::focusInEvent(QFocusEvent* event)
{
    keyboardFocus_ = isKeyboardFocus(event->reason());
    QAbstractButton::focusInEvent(event);
    update();
}

void PVSwitch::focusOutEvent(QFocusEvent* event)
{
    keyboardFocus_ = false;
    QAbstractButton::focusOutEvent(event);
    update();
}

void PVSwitch::paintEvent(QPaintEvent*)
{
    const PVPaintContext ctx = PVPaintContext::forWidget(this);
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    if (hasFocus() && keyboardFocus_)
        paintFocusRing(p, trackRect(), trackRect().height() / 2.0, ctx);
    if (!isEnabled())
        p.setOpacity(0.45);
    const QRectF track = trackRect().adjusted(0.5, 0.5, -0.5, -0.5);
    const double radius = track.height() / 2;
    const QColor fill = isChecked() ? ctx.color(PVColor::accent()) : ctx.color(PV::color::line::strong);
    p.setPen(Qt::NoPen);
    p.setBrush(fill);
    p.drawRoundedRect(track, radius, radius);
    const double knob = track.height() - 4;
    const double x = isChecked() ? track.right() - 2 - knob : track.left() + 2;
    p.setBrush(QColor(Qt::white));
    p.drawEllipse(QRectF(x, track.top() + 2, knob, knob));
}

// ---- Primary button ---------------------------------------------------------------------------------

namespace {
constexpr int kButtonPaddingH = 16;
constexpr int kButtonPaddingV = 5;
constexpr int kButtonIcon = 16;
constexpr int kButtonIconGap = 6;
constexpr double kButtonRadius = 6;
constexpr int kLargePaddingH = 18;
constexpr int kLargePaddingV = 7;
constexpr double kLargeRadius = 7;
} // namespace

PVPrimaryButton::PVPrimaryButton(const QString& title, QWidget* parent) : PVPrimaryButton(QIcon(), title, parent) {}

PVPrimaryButton::PVPrimaryButton(const QIcon& icon, const QString& title, QWidget* parent)
    : QPushButton(icon, title, parent)
{
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

int PVPrimaryButton::iconSide() const
{
    // The icon grows with the title beside it.
    return std::max(1, scaled(kButtonIcon, PVTextStyle::body));
}

void PVPrimaryButton::setLarge(bool large)
{
    if (large == large_)
        return;
    large_ = large;
    updateGeometry();
    update();
}

double PVPrimaryButton::radius() const { return large_ ? kLargeRadius : kButtonRadius; }

QFont PVPrimaryButton::titleFont() const
{
    QFont f = font();
    f.setWeight(QFont::DemiBold);
    return f;
}

QSize PVPrimaryButton::sizeHint() const
{
    const QFontMetricsF fm(titleFont());
    double w = fm.horizontalAdvance(text()) + 2 * (large_ ? kLargePaddingH : kButtonPaddingH);
    if (!icon().isNull())
        w += iconSide() + kButtonIconGap;
    const double h = std::max(fm.height(), static_cast<double>(iconSide())) + 2 * (large_ ? kLargePaddingV : kButtonPaddingV);
    return {static_cast<int>(std::ceil(w)) + 2 * kFocusRingReach, static_cast<int>(std::ceil(h)) + 2 * kFocusRingReach};
}

QRectF PVPrimaryButton::fillRect() const
{
    return QRectF(rect()).adjusted(kFocusRingReach, kFocusRingReach, -kFocusRingReach, -kFocusRingReach);
}

void PVPrimaryButton::focusInEvent(QFocusEvent* event)
{
    keyboardFocus_ = isKeyboardFocus(event->reason());
    QPushButton::focusInEvent(event);
    update();
}

void PVPrimaryButton::focusOutEvent(QFocusEvent* event)
{
    keyboardFocus_ = false;
    QPushButton::focusOutEvent(event);
    update();
}

void PVPrimaryButton::paintEvent(QPaintEvent*)
{
    const PVPaintContext ctx = PVPaintContext::forWidget(this);
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF fill = fillRect();
    if (hasFocus() && keyboardFocus_)
        paintFocusRing(p, fill, radius(), ctx);
    if (!isEnabled())
        p.setOpacity(0.45);
    const QColor accent = ctx.color(PVColor::accent());
    p.setPen(Qt::NoPen);
    p.setBrush(isDown() ? accent.darker(115) : accent);
    p.drawRoundedRect(fill, radius(), radius());

    const QColor ink = ctx.color(PV::color::interactive::accentInk);
    const QFont f = titleFont();
    const QFontMetricsF fm(f);
    const double textWidth = fm.horizontalAdvance(text());
    const bool hasIcon = !icon().isNull();
    const int side = iconSide();
    const double contentWidth = textWidth + (hasIcon ? side + kButtonIconGap : 0);
    double x = fill.center().x() - contentWidth / 2;
    if (hasIcon) {
        // The icon in the title's ink, whatever colour the theme drew it in.
        const qreal dpr = devicePixelRatioF();
        QPixmap pm = icon().pixmap(QSize(side, side), dpr);
        if (!pm.isNull()) {
            QPainter tint(&pm);
            tint.setCompositionMode(QPainter::CompositionMode_SourceIn);
            tint.fillRect(pm.rect(), ink);
            tint.end();
            p.drawPixmap(QPointF(std::round(x), std::round(fill.center().y() - side / 2.0)), pm);
        }
        x += side + kButtonIconGap;
    }
    p.setFont(f);
    p.setPen(ink);
    p.drawText(QRectF(x, fill.top(), textWidth + 1, fill.height()), Qt::AlignVCenter | Qt::AlignLeft, text());
}

// ---- Small button -----------------------------------------------------------------------------------

QPushButton* makeSmallButton(const QString& title, QWidget* parent)
{
    auto* button = new QPushButton(title, parent);
    auto follow = [button] {
        QFont f = button->font();
        const int size = std::max(1, scaled(12, PVTextStyle::body));
        if (f.pixelSize() != size) {
            f.setPixelSize(size);
            button->setFont(f);
        }
    };
    follow();
    QObject::connect(&PVTheme::instance(), &PVTheme::changed, button, follow);
    button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    return button;
}


// ---- Focus ring of the platform's own buttons -------------------------------------------------------

namespace {

// The platform style draws plain and tool buttons; this proxy adds the design's ring around them
// when the keyboard gave them focus, as the design's own controls draw it.

// The arrow of a button that opens a menu is a chevron sized from the button's font, so it grows
// with the title beside it; the platform style draws it at one small size whatever the text size.
enum class MenuArrow { none, toolButton, pushButton };

MenuArrow menuArrowOf(const QWidget* widget)
{
    if (const auto* tool = qobject_cast<const QToolButton*>(widget))
        return tool->menu() != nullptr && tool->arrowType() == Qt::NoArrow
                       && tool->popupMode() != QToolButton::MenuButtonPopup
                   ? MenuArrow::toolButton
                   : MenuArrow::none;
    if (const auto* push = qobject_cast<const QPushButton*>(widget))
        return push->menu() != nullptr ? MenuArrow::pushButton : MenuArrow::none;
    return MenuArrow::none;
}

struct ChevronSize {
    double width;
    double height;
    int room; // the chevron and its gap to the title
};

ChevronSize chevronFor(const QFontMetrics& fm)
{
    const double width = std::max(6.0, std::round(fm.height() * 0.55));
    return {width, width / 2, static_cast<int>(std::ceil(width + fm.height() * 0.4))};
}

void paintChevron(QPainter* painter, const QPointF& centre, const ChevronSize& size, const QColor& color)
{
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    QPen pen(color, std::max(1.5, size.width / 6));
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    painter->setPen(pen);
    painter->setBrush(Qt::NoBrush);
    const double w = size.width / 2, h = size.height / 2;
    const QPointF points[] = {centre + QPointF(-w, -h), centre + QPointF(0, h), centre + QPointF(w, -h)};
    painter->drawPolyline(points, 3);
    painter->restore();
}

class PVFocusRingStyle : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;

    int pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const override
    {
        if (metric == PM_MenuButtonIndicator && option != nullptr && menuArrowOf(widget) == MenuArrow::pushButton)
            return chevronFor(option->fontMetrics).room + 6;
        return QProxyStyle::pixelMetric(metric, option, widget);
    }

    QSize sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                           const QWidget* widget) const override
    {
        if (type == CT_ToolButton && option != nullptr && menuArrowOf(widget) == MenuArrow::toolButton)
            return QProxyStyle::sizeFromContents(type, option, size + QSize(chevronFor(option->fontMetrics).room, 0),
                                                 widget);
        return QProxyStyle::sizeFromContents(type, option, size, widget);
    }

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override
    {
        const MenuArrow arrow = element == PE_IndicatorArrowDown ? menuArrowOf(widget) : MenuArrow::none;
        if (arrow == MenuArrow::none) {
            QProxyStyle::drawPrimitive(element, option, painter, widget);
            return;
        }
        const ChevronSize size = chevronFor(option->fontMetrics);
        QPointF centre = QRectF(option->rect).center();
        if (arrow == MenuArrow::toolButton) {
            // Beside the title, in the room set aside for it, rather than in the corner.
            // The title's own margin parts it from the button's edge.
            const QRect whole = widget->rect();
            double margin = 4;
            if (const auto* tool = qstyleoption_cast<const QStyleOptionToolButton*>(option))
                margin = std::max(0.0, (whole.width() - size.room - tool->fontMetrics.horizontalAdvance(tool->text)) / 2.0);
            const double fromEdge = margin + size.width / 2;
            centre = QPointF(option->direction == Qt::RightToLeft ? whole.left() + fromEdge : whole.right() + 1 - fromEdge,
                             QRectF(whole).center().y());
        }
        paintChevron(painter, centre, size, option->palette.color(QPalette::ButtonText));
    }

    void polish(QWidget* widget) override
    {
        QProxyStyle::polish(widget);
        if (qobject_cast<QAbstractButton*>(widget) != nullptr)
            trackKeyboardFocus(widget);
    }
    void unpolish(QWidget* widget) override
    {
        if (qobject_cast<QAbstractButton*>(widget) != nullptr)
            untrackKeyboardFocus(widget);
        QProxyStyle::unpolish(widget);
    }
    using QProxyStyle::polish;
    using QProxyStyle::unpolish;

    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override
    {
        if (element == CE_ToolButtonLabel && menuArrowOf(widget) == MenuArrow::toolButton) {
            if (const auto* tool = qstyleoption_cast<const QStyleOptionToolButton*>(option)) {
                QStyleOptionToolButton label = *tool;
                label.rect = labelRect(tool->direction, tool->rect, chevronFor(tool->fontMetrics));
                QProxyStyle::drawControl(element, &label, painter, widget);
                return;
            }
        }
        QProxyStyle::drawControl(element, option, painter, widget);
        if (element == CE_PushButton)
            paintRing(option, painter, widget);
    }

    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
                            const QWidget* widget) const override
    {
        QProxyStyle::drawComplexControl(control, option, painter, widget);
        if (control == CC_ToolButton)
            paintRing(option, painter, widget);
    }

private:
    // The part of a menu tool button the title is set in: all but the chevron's room.
    static QRect labelRect(Qt::LayoutDirection direction, const QRect& rect, const ChevronSize& size)
    {
        return direction == Qt::RightToLeft ? rect.adjusted(size.room, 0, 0, 0) : rect.adjusted(0, 0, -size.room, 0);
    }

    static void paintRing(const QStyleOption* option, QPainter* painter, const QWidget* widget)
    {
        if (!(option->state & State_HasFocus) || widget == nullptr || !hasKeyboardFocus(widget))
            return;
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        const double inset = kFocusRingWidth / 2;
        painter->setPen(QPen(PVPaintContext::forWidget(widget).color(PV::color::focus::ring()), kFocusRingWidth));
        painter->setBrush(Qt::NoBrush);
        painter->drawRoundedRect(QRectF(option->rect).adjusted(inset, inset, -inset, -inset), PV::radius::control,
                                 PV::radius::control);
        painter->restore();
    }
};

} // namespace

namespace {

// Room kept above and below a control scrolled into view, so its ring and some of what surrounds
// it show too.
constexpr int kInViewMargin = 48;

// A control the keyboard reaches is brought into view on every scrolling page it lies on, the
// innermost first; a page only scrolls by itself for moves that begin inside it.
class KeyboardFocusInView : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::FocusIn || !watched->isWidgetType()
            || !isKeyboardFocus(static_cast<QFocusEvent*>(event)->reason()))
            return false;
        auto* widget = static_cast<QWidget*>(watched);
        for (QWidget* a = widget->parentWidget(); a != nullptr && !a->isWindow(); a = a->parentWidget())
            if (auto* area = qobject_cast<QScrollArea*>(a); area != nullptr && area->widget() != nullptr
                                                              && area->widget()->isAncestorOf(widget))
                area->ensureWidgetVisible(widget, 2 * kFocusRingReach, kInViewMargin);
        return false;
    }
};

// Return and Enter press the focused button, as Space does: what a Linux desktop's buttons do.
// A push button that is a dialog's default or auto-default one is left to Qt, which presses the
// focused one already, so a dialog's default button keeps Return whenever no button has the focus.
class ReturnPressesFocusedButton : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::KeyPress)
            return false;
        const auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter)
            || (key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier)
            return false;
        auto* button = qobject_cast<QAbstractButton*>(watched);
        if (button == nullptr || !button->hasFocus() || !button->isEnabled() || !button->isVisible())
            return false;
        if (const auto* push = qobject_cast<QPushButton*>(button); push != nullptr && (push->autoDefault() || push->isDefault()))
            return false;
        if (!key->isAutoRepeat())
            button->click();
        return true;
    }
};

} // namespace

void pvInstallFocusRingStyle()
{
    auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (app == nullptr || dynamic_cast<PVFocusRingStyle*>(QApplication::style()) != nullptr)
        return;
    app->installEventFilter(new KeyboardFocusInView(app));
    app->installEventFilter(new ReturnPressesFocusedButton(app));
    QApplication::setStyle(new PVFocusRingStyle(QStyleFactory::create(QApplication::style()->name())));
}

} // namespace pv
