#pragma once
// PVText: the one text widget of the design system. It sets its text in a type token (size, weight,
// tracking and extra line spacing), in a colour resolved at paint time, wraps at word boundaries
// and reports the height it needs for a width. With a line limit it ends the last line in an
// ellipsis; without one it grows to show every line and never cuts text.

#include "ui/design/Typography.h"

#include <QGlyphRun>
#include <QList>
#include <QPointF>
#include <QWidget>

#include <array>
#include <vector>

class QTextLayout;

namespace pv {

class PVText : public QWidget {
    Q_OBJECT
public:
    PVText(const QString& text, const PVFontToken& token, const PVColor& color, QWidget* parent = nullptr);

    QString text() const { return text_; }
    void setText(const QString& text);
    void setToken(const PVFontToken& token);
    void setColor(const PVColor& color);
    // 0: unlimited (wraps to its full height); n: at most n lines, the last one elided.
    void setMaxLines(int lines);
    // Qt::AlignLeft (default), Qt::AlignRight or Qt::AlignHCenter.
    void setHorizontalAlignment(Qt::Alignment alignment);
    // Single line, never wrapped: the widget asks for its natural width.
    void setWrapping(bool wrap);

    const PVFontToken& token() const { return token_; }
    QFont currentFont() const;
    // The height the text needs at a width, with the token's line spacing.
    int heightForWidth(int width) const override;
    bool hasHeightForWidth() const override { return wrap_; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    // Distance from the top to the first baseline.
    double firstBaseline() const;
    // The width of the text on one line, unwrapped.
    double naturalWidth() const;
    // Number of lines at a width (after the line limit).
    int lineCount(int width) const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    struct Laid {
        QStringList lines;
        double height = 0;
    };
    Laid layoutLines(double width) const;
    Laid computeLayout(double width, const QFont& font) const;
    void invalidate();

    // Layouts ask for the height at a few widths many times over: the last few answers, dropped
    // whenever the text, its font or its limits change.
    struct CachedLayout {
        double width = -1;
        QFont font;
        Laid laid;
    };
    mutable std::array<CachedLayout, 8> layoutCache_;
    mutable std::size_t layoutCacheNext_ = 0;

    // What a paint draws: each line shaped once into glyph runs with its pen position, for the
    // width and font they were set at. Shaping is the dearest part of drawing text, and a repaint
    // mostly draws the same lines again.
    struct ShapedLine {
        QPointF origin;
        QList<QGlyphRun> runs;
    };
    struct Shaped {
        double width = -1;
        QFont font;
        Qt::LayoutDirection direction = Qt::LeftToRight;
        std::vector<ShapedLine> lines;
    };
    Shaped shaped_;

    QString text_;
    PVFontToken token_;
    PVColor color_;
    int maxLines_ = 0;
    Qt::Alignment alignment_ = Qt::AlignLeft;
    bool wrap_ = true;
};

} // namespace pv
