#pragma once
// Symbols: the design names its symbols after the system symbol set of its first platform; here each
// name maps to a freedesktop icon-theme name (Adwaita is the reference theme) through one table.
// Some symbols are always painted in code (the status glyphs, which the icon themes lack, the globe
// and the router); every other one falls back to a painted glyph when the theme has no icon.

#include "ui/design/Theme.h"
#include "ui/design/Typography.h"

#include <QPixmap>
#include <QWidget>

#include <array>
#include <optional>
#include <string_view>

class QPainter;

namespace pv {

enum class PVGlyph {
    none,
    checkmarkCircle,
    exclamationTriangle,
    exclamationOctagon,
    xmarkOctagon,
    pauseCircle,
    chevronRight,
    chevronDown,
    wifi,
    router,
    globe,
    lightbulb,
    infoCircle,
    generic,
};

struct PVSymbolMapping {
    std::string_view symbolName; // the design's name
    std::string_view themeName;  // freedesktop icon name; empty when there is none
    PVGlyph glyph;               // the painted form
    bool alwaysPainted;          // painted even when the theme has the icon
};

inline constexpr std::array<PVSymbolMapping, 25> kSymbolMappings{{
    {"checkmark.circle.fill", "emblem-default-symbolic", PVGlyph::checkmarkCircle, true},
    {"exclamationmark.triangle.fill", "dialog-warning-symbolic", PVGlyph::exclamationTriangle, true},
    {"exclamationmark.octagon.fill", "emblem-important-symbolic", PVGlyph::exclamationOctagon, true},
    {"xmark.octagon.fill", "process-stop-symbolic", PVGlyph::xmarkOctagon, true},
    {"pause.circle.fill", "media-playback-pause-symbolic", PVGlyph::pauseCircle, true},
    {"chevron.compact.right", "go-next-symbolic", PVGlyph::chevronRight, true},
    {"chevron.compact.down", "go-down-symbolic", PVGlyph::chevronDown, true},
    {"wifi", "network-wireless-symbolic", PVGlyph::wifi, false},
    {"wifi.router.fill", "network-wired-symbolic", PVGlyph::router, true},
    {"globe.europe.africa.fill", "", PVGlyph::globe, true},
    {"lightbulb.fill", "dialog-information-symbolic", PVGlyph::lightbulb, false},
    {"info.circle", "help-about-symbolic", PVGlyph::infoCircle, false},
    {"hand.raised.slash", "action-unavailable-symbolic", PVGlyph::generic, false},
    {"arrow.down.circle", "folder-download-symbolic", PVGlyph::generic, false},
    {"gauge.with.dots.needle.50percent", "power-profile-balanced-symbolic", PVGlyph::generic, false},
    {"clock.arrow.circlepath", "document-open-recent-symbolic", PVGlyph::generic, false},
    {"speedometer", "power-profile-performance-symbolic", PVGlyph::generic, false},
    {"doc.text.magnifyingglass", "x-office-document-symbolic", PVGlyph::generic, false},
    {"gearshape", "emblem-system-symbolic", PVGlyph::generic, false},
    {"video.fill", "camera-video-symbolic", PVGlyph::generic, false},
    {"gamecontroller.fill", "input-gaming-symbolic", PVGlyph::generic, false},
    {"play.rectangle.fill", "media-playback-start-symbolic", PVGlyph::generic, false},
    {"safari.fill", "web-browser-symbolic", PVGlyph::generic, false},
    {"archivebox", "package-x-generic-symbolic", PVGlyph::generic, false},
    {"chart.xyaxis.line", "x-office-spreadsheet-symbolic", PVGlyph::generic, false},
}};

// The mapping of a symbol name; nullptr for a name the table does not know.
const PVSymbolMapping* symbolMapping(std::string_view symbolName);
// The freedesktop icon name of a symbol; empty when it has none.
QString themeIconName(std::string_view symbolName);

// Makes the icon theme findable: adds the XDG icon folders to the search path (offscreen and
// minimal platforms search none) and picks Adwaita when the platform names no theme. Idempotent.
void pvInstallIconTheme();

// The pixel box of a symbol drawn "in the system font at N points".
constexpr double symbolBox(double pointSize) { return pointSize * 1.15; }

// Paints a symbol into a box, tinted. Painted glyphs come out the same on every machine; icons are
// tinted by filling their shape.
void pvPaintSymbol(QPainter& p, const QRectF& box, std::string_view symbolName, const QColor& tint);
// Paints one glyph of our own.
void pvPaintGlyph(QPainter& p, const QRectF& box, PVGlyph glyph, const QColor& tint);
// True when the symbol is drawn from its freedesktop icon rather than painted. The program carries
// its own copy of each such icon (":/polvarine-symbols/<icon name>.svg"), so no icon theme, nor a
// version of one that renamed or dropped an icon, can leave a symbol blank.
bool pvSymbolUsesIcon(std::string_view symbolName);
// The program's own copy of a freedesktop symbolic icon; null for a name it does not carry.
QIcon pvSymbolIcon(const QString& iconName);

// How much a symbol set beside text of a style grows: as that text does at the user's text size,
// and never below its own size.
double pvSymbolGrowth(PVTextStyle beside);

// A small widget that shows one symbol, its tint resolved at paint time.
class PVSymbolView : public QWidget {
    Q_OBJECT
public:
    PVSymbolView(std::string_view symbolName, double pointSize, const PVColor& tint, QWidget* parent = nullptr);
    // The same, for a symbol beside text of `beside`: it grows with that text (pvSymbolGrowth) and
    // follows a change of the text size.
    PVSymbolView(std::string_view symbolName, double pointSize, const PVColor& tint, const PVFontToken& beside,
                 QWidget* parent = nullptr);
    void setSymbol(std::string_view symbolName);
    void setTint(const PVColor& tint);
    // The point size it is drawn at now.
    double pointSize() const;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString symbol_;
    double pointSize_;
    PVColor tint_;
    std::optional<PVTextStyle> beside_;
};

} // namespace pv
