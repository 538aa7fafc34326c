#include "ui/design/Text.h"

#include "ui/design/Depth.h"

#include <QEvent>
#include <QFontMetricsF>
#include <QPaintEvent>
#include <QPainter>
#include <QRegularExpression>
#include <QTextLayout>

#include <cmath>
#include <limits>

namespace pv {

PVText::PVText(const QString& text, const PVFontToken& token, const PVColor& color, QWidget* parent)
    : QWidget(parent), text_(text), token_(token), color_(color)
{
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Minimum);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
    setAccessibleName(text_);
    connect(&PVTheme::instance(), &PVTheme::changed, this, [this] { invalidate(); });
}

void PVText::setText(const QString& text)
{
    if (text == text_)
        return;
    text_ = text;
    setAccessibleName(text_);
    invalidate();
}

void PVText::setToken(const PVFontToken& token)
{
    token_ = token;
    invalidate();
}

void PVText::setColor(const PVColor& color)
{
    color_ = color;
    update();
}

void PVText::setMaxLines(int lines)
{
    maxLines_ = std::max(0, lines);
    invalidate();
}

void PVText::setHorizontalAlignment(Qt::Alignment alignment)
{
    alignment_ = alignment;
    shaped_.width = -1;
    update();
}

void PVText::setWrapping(bool wrap)
{
    wrap_ = wrap;
    QSizePolicy policy = sizePolicy();
    policy.setHeightForWidth(wrap);
    setSizePolicy(policy);
    invalidate();
}

void PVText::invalidate()
{
    for (CachedLayout& entry : layoutCache_)
        entry.width = -1;
    shaped_.width = -1;
    updateGeometry();
    update();
}

QFont PVText::currentFont() const { return pvFont(token_); }

double PVText::naturalWidth() const
{
    const QFontMetricsF fm(currentFont());
    double w = 0;
    for (const QString& para : text_.split(QLatin1Char('\n')))
        w = std::max(w, fm.horizontalAdvance(para));
    return w;
}

PVText::Laid PVText::layoutLines(double width) const
{
    const QFont font = currentFont();
    for (const CachedLayout& entry : layoutCache_)
        if (entry.width == width && entry.font == font)
            return entry.laid;
    Laid laid = computeLayout(width, font);
    layoutCache_[layoutCacheNext_] = {width, font, laid};
    layoutCacheNext_ = (layoutCacheNext_ + 1) % layoutCache_.size();
    return laid;
}

PVText::Laid PVText::computeLayout(double width, const QFont& font) const
{
    const QFontMetricsF fm(font);
    Laid out;
    QStringList lines;
    if (!wrap_) {
        lines << QString(text_).replace(QLatin1Char('\n'), QLatin1Char(' '));
    } else {
        QString prepared = text_;
        prepared.replace(QLatin1Char('\n'), QChar::LineSeparator);
        QTextLayout layout(prepared, font);
        QTextOption option;
        option.setWrapMode(QTextOption::WordWrap);
        layout.setTextOption(option);
        layout.beginLayout();
        for (;;) {
            QTextLine line = layout.createLine();
            if (!line.isValid())
                break;
            line.setLineWidth(std::max(1.0, width));
            QString piece = prepared.mid(line.textStart(), line.textLength());
            piece.remove(QChar::LineSeparator);
            while (piece.endsWith(QLatin1Char(' ')))
                piece.chop(1);
            lines << piece;
        }
        layout.endLayout();
        if (lines.isEmpty())
            lines << QString();
    }
    const int limit = maxLines_ > 0 ? maxLines_ : static_cast<int>(lines.size());
    if (lines.size() > limit) {
        QStringList kept = lines.mid(0, limit - 1);
        const QString rest = lines.mid(limit - 1).join(QLatin1Char(' '));
        kept << fm.elidedText(rest, Qt::ElideRight, width);
        lines = kept;
    } else if (!wrap_ && maxLines_ == 1 && fm.horizontalAdvance(lines.first()) > width) {
        lines.first() = fm.elidedText(lines.first(), Qt::ElideRight, width);
    }
    const int n = static_cast<int>(lines.size());
    out.height = n * fm.lineSpacing() + std::max(0, n - 1) * lineSpacingExtra(token_);
    out.lines = lines;
    return out;
}

int PVText::heightForWidth(int width) const { return static_cast<int>(std::ceil(layoutLines(width).height)); }

int PVText::lineCount(int width) const { return static_cast<int>(layoutLines(width).lines.size()); }

QSize PVText::sizeHint() const
{
    const int w = static_cast<int>(std::ceil(naturalWidth())) + 1;
    return {w, heightForWidth(w)};
}

QSize PVText::minimumSizeHint() const
{
    const QFontMetricsF fm(currentFont());
    if (!wrap_) {
        if (maxLines_ == 1)
            return {static_cast<int>(std::ceil(fm.horizontalAdvance(QStringLiteral("…")))) + 1,
                    static_cast<int>(std::ceil(fm.lineSpacing()))};
        return sizeHint();
    }
    // Words are never cut: the narrowest width is that of the longest word.
    double longest = 0;
    for (const QString& word : text_.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts))
        longest = std::max(longest, fm.horizontalAdvance(word));
    // The height is one line: the real height comes from heightForWidth at the width given.
    const int w = static_cast<int>(std::ceil(std::min(longest, naturalWidth()))) + 1;
    return {w, static_cast<int>(std::ceil(fm.lineSpacing()))};
}

double PVText::firstBaseline() const { return QFontMetricsF(currentFont()).ascent(); }

void PVText::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::TextAntialiasing);
    const QFont font = currentFont();
    p.setFont(font);
    p.setPen(PVPaintContext::forWidget(this).color(color_));
    if (shaped_.width != width() || shaped_.direction != layoutDirection() || !(shaped_.font == font)) {
        const QFontMetricsF fm(font);
        shaped_.width = width();
        shaped_.font = font;
        shaped_.direction = layoutDirection();
        shaped_.lines.clear();
        const Laid laid = layoutLines(width());
        double y = fm.ascent();
        QTextOption option;
        option.setWrapMode(QTextOption::NoWrap);
        option.setTextDirection(layoutDirection());
        for (const QString& line : laid.lines) {
            double x = 0;
            if (alignment_ & (Qt::AlignRight | Qt::AlignHCenter)) {
                const double w = fm.horizontalAdvance(line);
                x = alignment_ & Qt::AlignRight ? width() - w : (width() - w) / 2.0;
            }
            // One line of a layout, set where a painter's drawText(QPointF, QString) would set it:
            // the glyph runs carry positions relative to the layout, the baseline at its ascent.
            QTextLayout layout(line, font);
            layout.setTextOption(option);
            layout.beginLayout();
            QTextLine single = layout.createLine();
            if (single.isValid())
                single.setLineWidth(std::numeric_limits<int>::max() / 256.0);
            layout.endLayout();
            const double ascent = single.isValid() ? single.ascent() : fm.ascent();
            shaped_.lines.push_back({QPointF(x, y - ascent), layout.glyphRuns()});
            y += fm.lineSpacing() + lineSpacingExtra(token_);
        }
    }
    for (const ShapedLine& line : shaped_.lines)
        for (const QGlyphRun& run : line.runs)
            p.drawGlyphRun(line.origin, run);
}

void PVText::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        invalidate();
    QWidget::changeEvent(event);
}

} // namespace pv
