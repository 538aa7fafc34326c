#pragma once
// The type scale: thirteen tokens, each a size, weight, design, tracking and line height, and the
// text style whose user text-size setting it follows. Sizes are logical pixels.

#include "ui/design/Theme.h"

#include <QFont>
#include <QStringList>

#include <array>
#include <string_view>

namespace pv {

enum class PVFontWeight { regular, medium, semibold };
enum class PVFontDesign { standard, rounded, monospaced };

struct PVFontToken {
    double size = 13;
    PVFontWeight weight = PVFontWeight::regular;
    PVFontDesign design = PVFontDesign::standard;
    double tracking = 0;
    double lineHeight = 19;
    PVTextStyle relativeTo = PVTextStyle::body;

    friend constexpr bool operator==(const PVFontToken&, const PVFontToken&) = default;

    static const PVFontToken heroNumber;
    static const PVFontToken gaugeNumber;
    static const PVFontToken tileNumber;
    static const PVFontToken heroHeadline;
    static const PVFontToken screenTitle;
    static const PVFontToken sectionTitle;
    static const PVFontToken cardTitle;
    static const PVFontToken callout;
    static const PVFontToken body;
    static const PVFontToken caption;
    static const PVFontToken microCaption;
    static const PVFontToken monoData;
    static const PVFontToken monoDataSmall;
};

inline constexpr PVFontToken PVFontToken::heroNumber{56, PVFontWeight::semibold, PVFontDesign::rounded, -1.2, 60, PVTextStyle::largeTitle};
inline constexpr PVFontToken PVFontToken::gaugeNumber{40, PVFontWeight::semibold, PVFontDesign::rounded, -0.8, 44, PVTextStyle::title};
inline constexpr PVFontToken PVFontToken::tileNumber{28, PVFontWeight::semibold, PVFontDesign::rounded, -0.4, 32, PVTextStyle::title2};
inline constexpr PVFontToken PVFontToken::heroHeadline{28, PVFontWeight::semibold, PVFontDesign::standard, -0.4, 34, PVTextStyle::title};
inline constexpr PVFontToken PVFontToken::screenTitle{22, PVFontWeight::semibold, PVFontDesign::standard, -0.3, 28, PVTextStyle::title2};
inline constexpr PVFontToken PVFontToken::sectionTitle{17, PVFontWeight::semibold, PVFontDesign::standard, -0.2, 22, PVTextStyle::title3};
inline constexpr PVFontToken PVFontToken::cardTitle{13, PVFontWeight::semibold, PVFontDesign::standard, 0, 18, PVTextStyle::headline};
inline constexpr PVFontToken PVFontToken::callout{15, PVFontWeight::regular, PVFontDesign::standard, 0, 21, PVTextStyle::callout};
inline constexpr PVFontToken PVFontToken::body{13, PVFontWeight::regular, PVFontDesign::standard, 0, 19, PVTextStyle::body};
inline constexpr PVFontToken PVFontToken::caption{11, PVFontWeight::medium, PVFontDesign::standard, 0.2, 15, PVTextStyle::caption};
inline constexpr PVFontToken PVFontToken::microCaption{10, PVFontWeight::semibold, PVFontDesign::standard, 0.6, 13, PVTextStyle::caption2};
inline constexpr PVFontToken PVFontToken::monoData{12, PVFontWeight::regular, PVFontDesign::monospaced, 0, 17, PVTextStyle::body};
inline constexpr PVFontToken PVFontToken::monoDataSmall{11, PVFontWeight::regular, PVFontDesign::monospaced, 0, 15, PVTextStyle::caption};

struct PVFontTokenEntry {
    std::string_view name;
    PVFontToken token;
};
inline constexpr std::array<PVFontTokenEntry, 13> kFontTokens{{
    {"heroNumber", PVFontToken::heroNumber},
    {"gaugeNumber", PVFontToken::gaugeNumber},
    {"tileNumber", PVFontToken::tileNumber},
    {"heroHeadline", PVFontToken::heroHeadline},
    {"screenTitle", PVFontToken::screenTitle},
    {"sectionTitle", PVFontToken::sectionTitle},
    {"cardTitle", PVFontToken::cardTitle},
    {"callout", PVFontToken::callout},
    {"body", PVFontToken::body},
    {"caption", PVFontToken::caption},
    {"microCaption", PVFontToken::microCaption},
    {"monoData", PVFontToken::monoData},
    {"monoDataSmall", PVFontToken::monoDataSmall},
}};

// Extra space between lines: the token's line height minus its nominal size, never negative. It
// stays the same when the text grows with the user's text size.
constexpr double lineSpacingExtra(const PVFontToken& t) { return t.lineHeight - t.size > 0 ? t.lineHeight - t.size : 0; }

// The pixel size of a token at a text-size factor.
constexpr double scaledSize(const PVFontToken& t, double factor) { return t.size * factor; }

// The font families tried, in order, for a design. Open Sans (Debian fonts-open-sans) has the
// regular, semibold and bold weights and digits of equal width; DejaVu is the fallback that
// every Debian desktop has. There is no rounded face on the platform, so rounded maps to the
// default face.
QStringList fontFamilies(PVFontDesign design);

QFont::Weight qtWeight(PVFontWeight weight);

// The font of a token at a text-size factor (tracking is never scaled).
QFont pvFont(const PVFontToken& token, double textScale);
// The font of a token at the theme's current text size.
QFont pvFont(const PVFontToken& token);

// A plain system font of a pixel size and weight, for symbols and axis labels.
QFont pvSystemFont(double pixelSize, PVFontWeight weight);

} // namespace pv
