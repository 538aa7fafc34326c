#pragma once
// The design tables exactly as the designers wrote them (markdown rows). The tests parse these rows
// and compare every value with the tables the code paints from, so a mistyped digit on either side
// shows up as a failure.

namespace pv::test::tables {

const char* const kColorTable = R"TABLE(
| `PV.color.surface.canvas` | FBFCFD | 0D1117 | |
| `PV.color.surface.sidebar` | F1F4F8 | 0F151C | |
| `PV.color.surface.card` | FFFFFF | 161D26 | |
| `PV.color.surface.cardRaised` | FFFFFF | 1C2430 | |
| `PV.color.surface.overlay` | FFFFFF | 232C39 | |
| `PV.color.surface.well` | EEF2F7 | 0A0E13 | |
| `PV.color.ink.primary` | 101720 | F0F4F9 | |
| `PV.color.ink.secondary` | 4E5A69 | A7B2C0 | 101720 / F0F4F9 |
| `PV.color.ink.tertiary` | 6B7684 | 7E8B9B | 101720 / F0F4F9 |
| `PV.color.ink.quaternary` | 9AA4B1 | 5C6675 | |
| `PV.color.ink.inverse` | FBFCFD | 0D1117 | |
| `PV.color.ink.disabled` | AEB7C2 | 4E5765 | |
| `PV.color.line.hairline` | E4E9EF | 1E2733 | |
| `PV.color.line.border` | DDE4EC | 242E3B | |
| `PV.color.line.strong` | C8D2DE | 33404F | |
| `PV.color.line.grid` | E9EEF4 | 19212B | |
| `PV.color.line.axis` | CFD8E2 | 2A3542 | |
| `PV.color.culprit.wifi` | EB6834 | D95926 | |
| `PV.color.culprit.router` | 1BAF7A | 199E70 | |
| `PV.color.culprit.provider` | 2A78D6 | 3987E5 | |
| `PV.color.series.dns` | EDA100 | C98500 | |
| `PV.color.series.http` | E87BA4 | D55181 | |
| `PV.color.series.providerDeep` | 17539E | 7FB0F2 | |
| `PV.color.interactive.accent` | system accent colour | system accent colour | |
| `PV.color.interactive.accentInk` | FFFFFF | FFFFFF | |
| `PV.color.interactive.hover` | 00000008 (RRGGBBAA: black, alpha 8/255) | FFFFFF0A (white, alpha 10/255) | |
| `PV.color.interactive.pressed` | 00000014 (black, alpha 20/255) | FFFFFF16 (white, alpha 22/255) | |
| `PV.color.focus.ring` | system accent colour | system accent colour | |
| `PV.color.focus.halo` | system accent colour at opacity 0.34 | the same | |
)TABLE";

const char* const kStatusTable = R"TABLE(
| `good` | "good" | "checkmark.circle.fill" | 1 |
| `watch` | "watch" | "exclamationmark.triangle.fill" | 2 |
| `serious` | "serious" | "exclamationmark.octagon.fill" | 3 |
| `critical` | "critical" | "xmark.octagon.fill" | 4 |
| `neutral` | "neutral" | "pause.circle.fill" | 0 |
| `good` | 0CA30C / 0CA30C | 078507 / 0CA30C | E6F5E6 / 0F2A14 | BFE3BF / 1C4A24 |
| `watch` | FAB219 / FAB219 | C98A00 / FAB219 | FDF3DC / 2C2411 | EFD79B / 4C3F16 |
| `serious` | EC835A / EC835A | CA5F32 / EC835A | FCEDE6 / 2E1E16 | F0C2AB / 573022 |
| `critical` | D03B3B / D03B3B | B32B2B / D03B3B | FBE7E7 / 2E1516 | EFB4B4 / 5A2124 |
| `neutral` | 7C8898 / 8A96A6 | 66717F / 8A96A6 | EEF2F7 / 161D26 | DDE4EC / 2A3542 |
)TABLE";

const char* const kFontTable = R"TABLE(
| `heroNumber` | 56 | semibold | rounded | -1.2 | 60 | largeTitle |
| `gaugeNumber` | 40 | semibold | rounded | -0.8 | 44 | title |
| `tileNumber` | 28 | semibold | rounded | -0.4 | 32 | title2 |
| `heroHeadline` | 28 | semibold | default | -0.4 | 34 | title |
| `screenTitle` | 22 | semibold | default | -0.3 | 28 | title2 |
| `sectionTitle` | 17 | semibold | default | -0.2 | 22 | title3 |
| `cardTitle` | 13 | semibold | default | 0 | 18 | headline |
| `callout` | 15 | regular | default | 0 | 21 | callout |
| `body` | 13 | regular | default | 0 | 19 | body |
| `caption` | 11 | medium | default | 0.2 | 15 | caption |
| `microCaption` | 10 | semibold | default | 0.6 | 13 | caption2 |
| `monoData` | 12 | regular | monospaced | 0 | 17 | body |
| `monoDataSmall` | 11 | regular | monospaced | 0 | 15 | caption |
)TABLE";

const char* const kShadowTable = R"TABLE(
| `e0` | none (clear, radius 0, offset 0) | none (clear, radius 0, offset 0) |
| `e1` | black 5 %, radius 3, y 1 | none (clear, radius 0, offset 0) |
| `e2` | black 8 %, radius 10, y 3 | black 45 %, radius 12, y 4 |
| `e3` | black 14 %, radius 20, y 8 | black 60 %, radius 24, y 10 |
)TABLE";

const char* const kGlowTable = R"TABLE(
| `PV.glow.haloOpacityDark` | Double | 0.55 |
| `PV.glow.haloRadius` | CGFloat | 22 |
| `PV.glow.shadowOpacityDark` | Double | 0.45 |
| `PV.glow.shadowRadius` | CGFloat | 18 |
| `PV.glow.rimOpacityDark` | Double | 0.95 |
| `PV.glow.rimOpacityLight` | Double | 0.70 |
| `PV.glow.endpointBlur` | CGFloat | 7 |
| `PV.glow.lightShadowOpacity` | Double | 0.12 |
| `PV.glow.lightBorderWidth` | CGFloat | 2 |
| `PV.glow.darkBorderWidth` | CGFloat | 1 |
)TABLE";

} // namespace pv::test::tables
