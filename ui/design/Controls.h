#pragma once
// The design's controls: a segmented picker, a switch, the filled primary button and the small
// bordered button. Their titles follow the user's text size, and each shows a focus ring when it
// has keyboard focus (focus that came from a click draws none).

#include "ui/design/Theme.h"
#include "ui/design/Typography.h"

#include <QAbstractButton>
#include <QPainter>
#include <QPushButton>
#include <QStringList>
#include <QWidget>

namespace pv {

// Focus that came from the keyboard, which alone draws a focus ring.
bool isKeyboardFocus(Qt::FocusReason reason);

// The reason to give focus that a screen moves on its own (the control that had it went away or
// was disabled): keyboard focus when the keyboard last moved the focus in that window, so the ring
// stays in sight.
Qt::FocusReason movedFocusReason(const QWidget* within);

// Makes the widget remember whether the keyboard gave it its focus; hasKeyboardFocus then says so
// (false once the focus has gone). Rings are drawn only for such focus.
void trackKeyboardFocus(QWidget* widget);
void untrackKeyboardFocus(QWidget* widget);
bool hasKeyboardFocus(const QWidget* widget);

// Width of the focus ring and of the gap between it and the control.
inline constexpr double kFocusRingWidth = 2;
inline constexpr int kFocusRingReach = 3;

// Draws the design's focus ring just outside a control's shape (it needs kFocusRingReach around it),
// in the focus colour of the widget's appearance.
void pvPaintFocusRing(QPainter& painter, const QRectF& shape, double radius, const QWidget* widget);

// One exclusive choice among a few titled segments, painted in the design's colours. It is at most
// `maximumWidth` wide unless its titles need more at the current text size; its height grows with
// the text.
class PVSegmentedPicker : public QWidget {
    Q_OBJECT
public:
    PVSegmentedPicker(const QStringList& titles, int maximumWidth, QWidget* parent = nullptr);
    int currentIndex() const { return current_; }
    // Sets the choice without announcing it.
    void setCurrentIndex(int index);
    int count() const { return static_cast<int>(titles_.size()); }
    QString title(int index) const { return titles_.value(index); }
    // The segment under a point, or -1.
    int segmentAt(const QPoint& point) const;
    QRect segmentRect(int index) const;
    // The font the titles are drawn in.
    QFont titleFont() const;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

Q_SIGNALS:
    // The user picked another segment.
    void picked(int index);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void pick(int index);
    void followTextSize();
    int segmentHeight() const;
    bool keyboardFocus_ = false;
    QStringList titles_;
    int maximumWidth_;
    int current_ = 0;
};

// A switch: a checkable button drawn as a track with a knob, with room around the track for its
// focus ring. The track grows with the text size, as the labels beside it do.
class PVSwitch : public QAbstractButton {
    Q_OBJECT
public:
    static constexpr int kTrackWidth = 38; // at the usual text size
    static constexpr int kTrackHeight = 22;
    explicit PVSwitch(QWidget* parent = nullptr);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }
    // Where the track is drawn inside the widget.
    QRectF trackRect() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    bool keyboardFocus_ = false;
};

// The prominent push button: filled with the accent, its title in the accent's ink, an optional
// icon before it. The fill stays inside a margin that holds the focus ring.
class PVPrimaryButton : public QPushButton {
    Q_OBJECT
public:
    explicit PVPrimaryButton(const QString& title, QWidget* parent = nullptr);
    PVPrimaryButton(const QIcon& icon, const QString& title, QWidget* parent = nullptr);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }
    // The filled shape inside the widget.
    QRectF fillRect() const;
    // The side of the square the icon is drawn in.
    int iconSide() const;
    // The large form (more padding, rounder corners) of a section's main action.
    void setLarge(bool large);
    bool isLarge() const { return large_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    QFont titleFont() const;
    double radius() const;
    bool keyboardFocus_ = false;
    bool large_ = false;
};

// Makes the platform's own push and tool buttons show the design's focus ring when the keyboard
// gave them focus, and scrolls every control the keyboard gives focus to into the view of the
// scrolling pages it lies on; Return and Enter press the focused button or switch as Space does (a
// dialog's default push button keeps its own rule). Idempotent; the appearance service calls it
// when it is first made.
void pvInstallFocusRingStyle();

// A small bordered push button whose title follows the text size.
QPushButton* makeSmallButton(const QString& title, QWidget* parent);

} // namespace pv
