#pragma once
// Pieces the history, settings and welcome screens share: the scrolling page with its centred
// column, a segmented picker, a switch, and the title-over-note label of a setting.

#include "ui/design/Depth.h"
#include "ui/design/Text.h"

#include <QAbstractButton>
#include <QScrollArea>
#include <QStringList>
#include <QWidget>

class QVBoxLayout;

namespace pv {

// A vertically scrolling page on the canvas colour; its column keeps 24 from every edge, puts 32
// between its blocks, is at most 1160 wide with its margins and stays centred.
class PVScreenPage : public QScrollArea {
    Q_OBJECT
public:
    static constexpr int kColumnMaxWidth = 1160;
    static constexpr int kColumnPadding = 24;
    static constexpr int kColumnSpacing = 32;
    explicit PVScreenPage(QWidget* parent = nullptr);
    QWidget* column() const { return column_; }
    QVBoxLayout* stack() const { return stack_; }

private:
    QWidget* column_;
    QVBoxLayout* stack_;
};

// One exclusive choice among a few titled segments, painted in the design's colours.
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
    bool keyboardFocus_ = false;
    QStringList titles_;
    int maximumWidth_;
    int current_ = 0;
};

// A switch: a checkable button drawn as a track with a knob.
class PVSwitch : public QAbstractButton {
    Q_OBJECT
public:
    explicit PVSwitch(QWidget* parent = nullptr);
    QSize sizeHint() const override { return {38, 22}; }
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    bool keyboardFocus_ = false;
};

// A title above a wrapping note (spacing 2), beside an optional trailing control.
class PVSettingRow : public QWidget {
    Q_OBJECT
public:
    PVSettingRow(const QString& title, const QString& note, const PVFontToken& titleToken, const PVColor& noteColor,
                 QWidget* trailing, QWidget* parent = nullptr);
    PVText* titleText() const { return title_; }
    PVText* noteText() const { return note_; }

private:
    PVText* title_;
    PVText* note_;
};

// A small bordered push button.
QAbstractButton* makeSmallButton(const QString& title, QWidget* parent);
// Fills a push button with the accent (the prominent form), again whenever the appearance changes.
void makeProminent(QAbstractButton* button);
// Focus that came from the keyboard, which alone draws a focus ring.
bool isKeyboardFocus(Qt::FocusReason reason);

} // namespace pv
