#pragma once
// The dossier's drawing pieces: its own eight colours, one fixed font family, a small vertical-stack
// layout (measure each child at a width, place the children with a spacing, paint) and the shared
// blocks the pages are made of (paragraph, table header and row, fact row, numbered step, callout
// card). Everything is measured and painted in points: the PDF writer runs at 72 dpi, so one device
// unit is one point, and fonts are sized in device pixels.

#include <QColor>
#include <QFont>
#include <QRectF>
#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

class QPainter;

namespace pv {

namespace DossierPalette {
QColor ink();
QColor secondaryText();
QColor mutedText();
QColor rule();
QColor panel();
QColor green();
QColor blue();
QColor red();
} // namespace DossierPalette

namespace dossier {

// The one family of every dossier text: it covers „ ” · — ő ű and its digits are all of one width,
// so columns of numbers line up and a page renders the same on every machine that has it.
inline constexpr const char* kFontFamily = "Open Sans";
enum class Weight { regular, medium, semibold, bold };
QFont font(double points, Weight weight = Weight::regular);

// One child of a vertical stack. A flexible child takes an equal share of the height that is left
// when the stack is painted into a rectangle taller than its natural height.
struct Block {
    std::function<double(double width)> height;
    std::function<void(QPainter&, const QRectF&)> paint;
    bool flexible = false;
};

// Children placed top to bottom with `spacing` between neighbours; the stack does not clip.
struct Stack {
    double spacing = 0;
    std::vector<Block> children;

    Stack& add(Block block)
    {
        children.push_back(std::move(block));
        return *this;
    }
    double height(double width) const;
    void paint(QPainter& p, const QRectF& rect) const;
    Block asBlock() const;
};

// ---- Blocks ---------------------------------------------------------------------------------------

// A text that wraps to the width and grows in height; never cut.
Block text(const QString& text, const QFont& font, const QColor& color);
// paragraph(_:size:): regular weight, ink.
Block paragraph(const QString& text, double size);
// Fixed empty space.
Block space(double height);
// Takes what height is left (a flexible spacer with no minimum).
Block flexibleSpace();
// A 1-pt divider in the rule colour across the width.
Block divider();
// A filled rectangle of a fixed size at the leading edge.
Block bar(double width, double height, const QColor& color);
// The same block with extra space around it.
Block padded(Block block, double top, double bottom);

// Columns of equal width, or shared out by `weights` (one per column) where a table is narrow.
Block tableHeader(const QStringList& titles, const std::vector<double>& weights = {});
Block tableRow(const QStringList& cells, const std::vector<double>& weights = {});
Block factRow(const QString& label, const QString& value);
Block numberedStep(int index, const QString& text);
Block calloutCard(const QString& title, const QStringList& paragraphs);

// Height of a wrapped text at a width (what `text` measures).
double textHeight(const QString& text, const QFont& font, double width);
// The x of each of `count` equal columns separated by `spacing` in a width, and their width.
std::vector<double> columnLefts(int count, double width, double spacing, double* columnWidth);

} // namespace dossier
} // namespace pv
