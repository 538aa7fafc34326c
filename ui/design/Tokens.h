#pragma once
// Design tokens: every colour and size a screen draws with.
//
// Colours are stored per appearance (light, dark and their increased-contrast variants) and chosen
// at paint time, so a change of desktop appearance recolours everything on the next repaint without
// any screen rebuilding itself. The values live in plain constexpr data so that the display-free
// tests can read the same tables the widgets paint from.

#include "core/records/Status.h"

#include <QColor>
#include <QString>

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace pv {

// The four appearances a window can be drawn in.
enum class PVAppearance { light, dark, lightHighContrast, darkHighContrast };
inline constexpr EnumTable<PVAppearance, 4> kPVAppearanceTable{{{
    {PVAppearance::light, "light"}, {PVAppearance::dark, "dark"},
    {PVAppearance::lightHighContrast, "light-hc"}, {PVAppearance::darkHighContrast, "dark-hc"}}}};
inline QString rawValue(PVAppearance a) { return kPVAppearanceTable.rawText(a); }
inline std::optional<PVAppearance> parsePVAppearance(const QString& s) { return kPVAppearanceTable.parse(s); }
constexpr bool isDark(PVAppearance a) { return a == PVAppearance::dark || a == PVAppearance::darkHighContrast; }
constexpr bool isHighContrast(PVAppearance a)
{
    return a == PVAppearance::lightHighContrast || a == PVAppearance::darkHighContrast;
}

// One colour value: RRGGBB (alpha 1, top byte ignored) or RRGGBBAA.
struct PVHex {
    std::uint32_t value = 0;
    bool hasAlpha = false;

    constexpr PVHex() = default;
    constexpr PVHex(std::uint32_t v) : value(v) {} // NOLINT: a hex literal reads as the colour
    constexpr PVHex(std::uint32_t v, bool alpha) : value(v), hasAlpha(alpha) {}

    constexpr int red() const { return static_cast<int>(hasAlpha ? (value >> 24) & 0xFF : (value >> 16) & 0xFF); }
    constexpr int green() const { return static_cast<int>(hasAlpha ? (value >> 16) & 0xFF : (value >> 8) & 0xFF); }
    constexpr int blue() const { return static_cast<int>(hasAlpha ? (value >> 8) & 0xFF : value & 0xFF); }
    constexpr int alpha() const { return hasAlpha ? static_cast<int>(value & 0xFF) : 255; }
    QColor toColor() const { return QColor(red(), green(), blue(), alpha()); }

    friend constexpr bool operator==(const PVHex&, const PVHex&) = default;
};

// One colour per appearance; an absent increased-contrast value falls back to its base appearance.
struct PVDynamicColor {
    PVHex light;
    PVHex dark;
    std::optional<PVHex> lightHighContrast;
    std::optional<PVHex> darkHighContrast;

    constexpr PVDynamicColor() = default;
    constexpr PVDynamicColor(PVHex l, PVHex d) : light(l), dark(d) {}
    constexpr PVDynamicColor(PVHex l, PVHex d, std::optional<PVHex> lhc, std::optional<PVHex> dhc)
        : light(l), dark(d), lightHighContrast(lhc), darkHighContrast(dhc)
    {
    }

    // The value for an appearance; an appearance that is none of the four resolves to light.
    constexpr PVHex resolve(std::optional<PVAppearance> appearance) const
    {
        if (!appearance)
            return light;
        switch (*appearance) {
        case PVAppearance::dark: return dark;
        case PVAppearance::lightHighContrast: return lightHighContrast.value_or(light);
        case PVAppearance::darkHighContrast: return darkHighContrast.value_or(dark);
        case PVAppearance::light: break;
        }
        return light;
    }
    QColor color(std::optional<PVAppearance> appearance) const { return resolve(appearance).toColor(); }

    friend constexpr bool operator==(const PVDynamicColor&, const PVDynamicColor&) = default;
};

// Token namespace. Names follow the design vocabulary: PV::color::surface::canvas, PV::space::m, ...
namespace PV {
namespace color {
namespace surface {
inline constexpr PVDynamicColor canvas{0xFBFCFD, 0x0D1117};
inline constexpr PVDynamicColor sidebar{0xF1F4F8, 0x0F151C};
inline constexpr PVDynamicColor card{0xFFFFFF, 0x161D26};
inline constexpr PVDynamicColor cardRaised{0xFFFFFF, 0x1C2430};
inline constexpr PVDynamicColor overlay{0xFFFFFF, 0x232C39};
inline constexpr PVDynamicColor well{0xEEF2F7, 0x0A0E13};
} // namespace surface
namespace ink {
inline constexpr PVDynamicColor primary{0x101720, 0xF0F4F9};
inline constexpr PVDynamicColor secondary{0x4E5A69, 0xA7B2C0, PVHex(0x101720), PVHex(0xF0F4F9)};
inline constexpr PVDynamicColor tertiary{0x6B7684, 0x7E8B9B, PVHex(0x101720), PVHex(0xF0F4F9)};
inline constexpr PVDynamicColor quaternary{0x9AA4B1, 0x5C6675};
inline constexpr PVDynamicColor inverse{0xFBFCFD, 0x0D1117};
inline constexpr PVDynamicColor disabled{0xAEB7C2, 0x4E5765};
} // namespace ink
namespace line {
inline constexpr PVDynamicColor hairline{0xE4E9EF, 0x1E2733};
inline constexpr PVDynamicColor border{0xDDE4EC, 0x242E3B};
inline constexpr PVDynamicColor strong{0xC8D2DE, 0x33404F};
inline constexpr PVDynamicColor grid{0xE9EEF4, 0x19212B};
inline constexpr PVDynamicColor axis{0xCFD8E2, 0x2A3542};
} // namespace line
namespace culprit {
inline constexpr PVDynamicColor wifi{0xEB6834, 0xD95926};
inline constexpr PVDynamicColor router{0x1BAF7A, 0x199E70};
inline constexpr PVDynamicColor provider{0x2A78D6, 0x3987E5};
} // namespace culprit
namespace series {
inline constexpr PVDynamicColor dns{0xEDA100, 0xC98500};
inline constexpr PVDynamicColor http{0xE87BA4, 0xD55181};
inline constexpr PVDynamicColor providerDeep{0x17539E, 0x7FB0F2};
} // namespace series
namespace interactive {
// accent follows the desktop's accent colour: see PVColor::accent().
inline constexpr PVDynamicColor accentInk{0xFFFFFF, 0xFFFFFF};
inline constexpr PVDynamicColor hover{PVHex(0x00000008, true), PVHex(0xFFFFFF0A, true)};
inline constexpr PVDynamicColor pressed{PVHex(0x00000014, true), PVHex(0xFFFFFF16, true)};
} // namespace interactive
namespace focus {
// ring is the accent colour, halo the accent at this opacity: see PVColor::accent().
inline constexpr double haloOpacity = 0.34;
} // namespace focus
} // namespace color

namespace space {
inline constexpr double hair = 2, xxs = 4, xs = 8, s = 12, m = 16, ml = 20, l = 24, xl = 32, xxl = 40, xxxl = 48;
}
namespace radius {
inline constexpr double control = 6, field = 8, card = 14, hero = 18, overlay = 20;
}
namespace glow {
inline constexpr double haloOpacityDark = 0.55;
inline constexpr double haloRadius = 22;
inline constexpr double shadowOpacityDark = 0.45;
inline constexpr double shadowRadius = 18;
inline constexpr double rimOpacityDark = 0.95;
inline constexpr double rimOpacityLight = 0.70;
inline constexpr double endpointBlur = 7;
inline constexpr double lightShadowOpacity = 0.12;
inline constexpr double lightBorderWidth = 2;
inline constexpr double darkBorderWidth = 1;
} // namespace glow
namespace depth {
inline constexpr double lightShadowOpacity = 0.12;
}
} // namespace PV

// Every appearance-dependent colour token by its dotted name, for iteration (tests, gallery).
struct PVColorTokenEntry {
    std::string_view name;
    PVDynamicColor color;
};
inline constexpr std::array<PVColorTokenEntry, 26> kColorTokens{{
    {"surface.canvas", PV::color::surface::canvas},
    {"surface.sidebar", PV::color::surface::sidebar},
    {"surface.card", PV::color::surface::card},
    {"surface.cardRaised", PV::color::surface::cardRaised},
    {"surface.overlay", PV::color::surface::overlay},
    {"surface.well", PV::color::surface::well},
    {"ink.primary", PV::color::ink::primary},
    {"ink.secondary", PV::color::ink::secondary},
    {"ink.tertiary", PV::color::ink::tertiary},
    {"ink.quaternary", PV::color::ink::quaternary},
    {"ink.inverse", PV::color::ink::inverse},
    {"ink.disabled", PV::color::ink::disabled},
    {"line.hairline", PV::color::line::hairline},
    {"line.border", PV::color::line::border},
    {"line.strong", PV::color::line::strong},
    {"line.grid", PV::color::line::grid},
    {"line.axis", PV::color::line::axis},
    {"culprit.wifi", PV::color::culprit::wifi},
    {"culprit.router", PV::color::culprit::router},
    {"culprit.provider", PV::color::culprit::provider},
    {"series.dns", PV::color::series::dns},
    {"series.http", PV::color::series::http},
    {"series.providerDeep", PV::color::series::providerDeep},
    {"interactive.accentInk", PV::color::interactive::accentInk},
    {"interactive.hover", PV::color::interactive::hover},
    {"interactive.pressed", PV::color::interactive::pressed},
}};

// ---- The severity scale ------------------------------------------------------------------------

// Severity rank: neutral 0 < good < watch < serious < critical 4. Statuses compare by this rank,
// never by declaration order (which lists neutral last).
constexpr int statusRank(PVStatus s)
{
    switch (s) {
    case PVStatus::neutral: return 0;
    case PVStatus::good: return 1;
    case PVStatus::watch: return 2;
    case PVStatus::serious: return 3;
    case PVStatus::critical: return 4;
    }
    return 0;
}
constexpr bool statusLess(PVStatus a, PVStatus b) { return statusRank(a) < statusRank(b); }
// The worse of two statuses (the first on a tie).
constexpr PVStatus worstStatus(PVStatus a, PVStatus b) { return statusLess(a, b) ? b : a; }
// Sorted by severity, mildest first.
std::vector<PVStatus> sortedBySeverity(std::vector<PVStatus> statuses);

struct PVStatusRoles {
    PVStatus status;
    std::string_view symbolName;
    PVDynamicColor mark, markSaturated, wash, border;
};
inline constexpr std::array<PVStatusRoles, 5> kStatusRoles{{
    {PVStatus::good, "checkmark.circle.fill", {0x0CA30C, 0x0CA30C}, {0x078507, 0x0CA30C}, {0xE6F5E6, 0x0F2A14},
     {0xBFE3BF, 0x1C4A24}},
    {PVStatus::watch, "exclamationmark.triangle.fill", {0xFAB219, 0xFAB219}, {0xC98A00, 0xFAB219},
     {0xFDF3DC, 0x2C2411}, {0xEFD79B, 0x4C3F16}},
    {PVStatus::serious, "exclamationmark.octagon.fill", {0xEC835A, 0xEC835A}, {0xCA5F32, 0xEC835A},
     {0xFCEDE6, 0x2E1E16}, {0xF0C2AB, 0x573022}},
    {PVStatus::critical, "xmark.octagon.fill", {0xD03B3B, 0xD03B3B}, {0xB32B2B, 0xD03B3B}, {0xFBE7E7, 0x2E1516},
     {0xEFB4B4, 0x5A2124}},
    {PVStatus::neutral, "pause.circle.fill", {0x7C8898, 0x8A96A6}, {0x66717F, 0x8A96A6}, {0xEEF2F7, 0x161D26},
     {0xDDE4EC, 0x2A3542}},
}};
constexpr const PVStatusRoles& statusRoles(PVStatus s)
{
    for (const auto& r : kStatusRoles)
        if (r.status == s)
            return r;
    return kStatusRoles[4];
}
constexpr PVDynamicColor statusMark(PVStatus s) { return statusRoles(s).mark; }
constexpr PVDynamicColor statusMarkSaturated(PVStatus s) { return statusRoles(s).markSaturated; }
constexpr PVDynamicColor statusWash(PVStatus s) { return statusRoles(s).wash; }
constexpr PVDynamicColor statusBorder(PVStatus s) { return statusRoles(s).border; }
constexpr std::string_view statusSymbolName(PVStatus s) { return statusRoles(s).symbolName; }

// ---- Chart series ------------------------------------------------------------------------------

enum class PVSeries { wifi, router, provider, dns, http };
inline constexpr EnumTable<PVSeries, 5> kPVSeriesTable{{{
    {PVSeries::wifi, "wifi"}, {PVSeries::router, "router"}, {PVSeries::provider, "provider"},
    {PVSeries::dns, "dns"}, {PVSeries::http, "http"}}}};
inline QString rawValue(PVSeries s) { return kPVSeriesTable.rawText(s); }
inline std::optional<PVSeries> parsePVSeries(const QString& s) { return kPVSeriesTable.parse(s); }
inline auto allPVSeries() { return kPVSeriesTable.allCases(); }
constexpr PVDynamicColor seriesColor(PVSeries s)
{
    switch (s) {
    case PVSeries::wifi: return PV::color::culprit::wifi;
    case PVSeries::router: return PV::color::culprit::router;
    case PVSeries::provider: return PV::color::culprit::provider;
    case PVSeries::dns: return PV::color::series::dns;
    case PVSeries::http: return PV::color::series::http;
    }
    return PV::color::culprit::wifi;
}
constexpr bool requiresDirectLabel(PVSeries s) { return s != PVSeries::wifi && s != PVSeries::provider; }

// ---- Culprit: the segment of the connection a fault is laid on ---------------------------------

enum class PVCulprit { wifi, router, provider };
inline constexpr EnumTable<PVCulprit, 3> kPVCulpritTable{{{
    {PVCulprit::wifi, "wifi"}, {PVCulprit::router, "router"}, {PVCulprit::provider, "provider"}}}};
inline QString rawValue(PVCulprit c) { return kPVCulpritTable.rawText(c); }
inline std::optional<PVCulprit> parsePVCulprit(const QString& s) { return kPVCulpritTable.parse(s); }
inline auto allPVCulprits() { return kPVCulpritTable.allCases(); }
constexpr std::string_view culpritSymbolName(PVCulprit c)
{
    switch (c) {
    case PVCulprit::wifi: return "wifi";
    case PVCulprit::router: return "wifi.router.fill";
    case PVCulprit::provider: return "globe.europe.africa.fill";
    }
    return "wifi";
}
constexpr PVDynamicColor culpritColor(PVCulprit c)
{
    switch (c) {
    case PVCulprit::wifi: return PV::color::culprit::wifi;
    case PVCulprit::router: return PV::color::culprit::router;
    case PVCulprit::provider: return PV::color::culprit::provider;
    }
    return PV::color::culprit::wifi;
}

} // namespace pv
