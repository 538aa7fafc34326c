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

} // namespace pv
