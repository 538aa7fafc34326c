#include "ui/design/Typography.h"

#include <algorithm>
#include <cmath>

namespace pv {

QStringList fontFamilies(PVFontDesign design)
{
    if (design == PVFontDesign::monospaced)
        return {QStringLiteral("DejaVu Sans Mono"), QStringLiteral("Noto Sans Mono"), QStringLiteral("Liberation Mono"),
                QStringLiteral("monospace")};
    return {QStringLiteral("Open Sans"), QStringLiteral("DejaVu Sans"), QStringLiteral("sans-serif")};
}

QFont::Weight qtWeight(PVFontWeight weight)
{
    switch (weight) {
    case PVFontWeight::regular: return QFont::Normal;
    case PVFontWeight::medium: return QFont::Medium;
    case PVFontWeight::semibold: return QFont::DemiBold;
    }
    return QFont::Normal;
}

QFont pvFont(const PVFontToken& token, double textScale)
{
    QFont font;
    font.setFamilies(fontFamilies(token.design));
    if (token.design == PVFontDesign::monospaced)
        font.setStyleHint(QFont::Monospace);
    else
        font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(std::max(1, static_cast<int>(std::lround(scaledSize(token, textScale)))));
    font.setWeight(qtWeight(token.weight));
    font.setLetterSpacing(QFont::AbsoluteSpacing, token.tracking);
    font.setKerning(true);
    return font;
}

QFont pvFont(const PVFontToken& token) { return pvFont(token, PVTheme::instance().textScale(token.relativeTo)); }

QFont pvSystemFont(double pixelSize, PVFontWeight weight)
{
    QFont font;
    font.setFamilies(fontFamilies(PVFontDesign::standard));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(std::max(1, static_cast<int>(std::lround(pixelSize))));
    font.setWeight(qtWeight(weight));
    return font;
}

} // namespace pv
