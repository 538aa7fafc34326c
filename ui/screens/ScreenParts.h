#pragma once
// Pieces the history, settings and welcome screens share: the scrolling page with its centred
// column and the title-over-note label of a setting.

#include "ui/design/Controls.h"
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

} // namespace pv
