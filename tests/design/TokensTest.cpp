// Colour tokens, status roles, series and culprits, checked row by row against the design tables.

#include "DesignTables.h"

#include "ui/design/Depth.h"
#include "ui/design/Theme.h"
#include "ui/design/Tokens.h"
#include "ui/design/Typography.h"

#include <QRegularExpression>
#include <QStringList>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

namespace pv {
namespace {

namespace tables = test::tables;

constexpr std::array<PVAppearance, 4> kAppearances{PVAppearance::light, PVAppearance::dark,
                                                    PVAppearance::lightHighContrast, PVAppearance::darkHighContrast};

// The cells of each markdown row, trimmed, without the outer pipes.
std::vector<QStringList> rows(const char* table)
{
    std::vector<QStringList> out;
    for (const QString& line : QString::fromUtf8(table).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        QStringList cells = line.split(QLatin1Char('|'));
        if (cells.size() < 3)
            continue;
        cells = cells.mid(1, cells.size() - 2);
        for (QString& c : cells)
            c = c.trimmed().remove(QLatin1Char('`'));
        out.push_back(cells);
    }
    return out;
}

// "00000008 (RRGGBBAA: black, ...)" → PVHex with alpha; "FBFCFD" → without.
std::optional<PVHex> hexCell(const QString& cell)
{
    static const QRegularExpression hex(QStringLiteral("^([0-9A-F]{6}|[0-9A-F]{8})\\b"));
    const auto m = hex.match(cell);
    if (!m.hasMatch())
        return std::nullopt;
    const QString digits = m.captured(1);
    return PVHex(digits.toUInt(nullptr, 16), digits.size() == 8);
}

const PVColorTokenEntry* token(const QString& name)
{
    for (const auto& e : kColorTokens)
        if (QLatin1String(e.name.data(), static_cast<qsizetype>(e.name.size())) == name)
            return &e;
    return nullptr;
}

TEST(ColorTokens, EveryRowOfTheTableMatchesTheCodeInAllFourAppearances)
{
    int checked = 0;
    for (const QStringList& row : rows(tables::kColorTable)) {
        const QString name = row[0].mid(QStringLiteral("PV.color.").size());
        const auto light = hexCell(row[1]);
        const auto dark = hexCell(row[2]);
        if (!light || !dark)
            continue; // the accent rows follow the desktop, not the table
        const auto* entry = token(name);
        ASSERT_NE(entry, nullptr) << name.toStdString();
        PVHex lhc = *light;
        PVHex dhc = *dark;
        if (!row[3].isEmpty()) {
            const QStringList hc = row[3].split(QLatin1Char('/'));
            lhc = *hexCell(hc[0].trimmed());
            dhc = *hexCell(hc[1].trimmed());
        }
        EXPECT_EQ(entry->color.resolve(PVAppearance::light), *light) << name.toStdString();
        EXPECT_EQ(entry->color.resolve(PVAppearance::dark), *dark) << name.toStdString();
        EXPECT_EQ(entry->color.resolve(PVAppearance::lightHighContrast), lhc) << name.toStdString();
        EXPECT_EQ(entry->color.resolve(PVAppearance::darkHighContrast), dhc) << name.toStdString();
        ++checked;
    }
    EXPECT_EQ(checked, static_cast<int>(kColorTokens.size()));
}

TEST(ColorTokens, IncreasedContrastOnlyChangesSecondaryAndTertiaryInk)
{
    EXPECT_EQ(PV::color::ink::secondary.resolve(PVAppearance::lightHighContrast), PVHex(0x101720));
    EXPECT_EQ(PV::color::ink::quaternary.resolve(PVAppearance::lightHighContrast), PVHex(0x9AA4B1));
    for (const auto& e : kColorTokens) {
        const bool hasVariant = e.name == "ink.secondary" || e.name == "ink.tertiary";
        EXPECT_EQ(e.color.lightHighContrast.has_value(), hasVariant) << e.name;
        if (hasVariant) {
            EXPECT_EQ(*e.color.lightHighContrast, PV::color::ink::primary.light);
            EXPECT_EQ(*e.color.darkHighContrast, PV::color::ink::primary.dark);
        }
    }
}

TEST(ColorTokens, AnUnknownAppearanceResolvesToLight)
{
    const auto unknown = parsePVAppearance(QStringLiteral("sepia"));
    EXPECT_FALSE(unknown.has_value());
    for (const auto& e : kColorTokens)
        EXPECT_EQ(e.color.resolve(unknown), e.color.light) << e.name;
    EXPECT_EQ(parsePVAppearance(QStringLiteral("dark-hc")), PVAppearance::darkHighContrast);
    EXPECT_FALSE(parsePVAppearance(QStringLiteral("Dark")).has_value());
}

TEST(ColorTokens, HexWithoutAlphaIgnoresTheTopByte)
{
    const PVHex h(0xFF112233, false);
    EXPECT_EQ(h.alpha(), 255);
    EXPECT_EQ(h.red(), 0x11);
    EXPECT_EQ(h.green(), 0x22);
    EXPECT_EQ(h.blue(), 0x33);
    const PVHex a(0x11223344, true);
    EXPECT_EQ(a.red(), 0x11);
    EXPECT_EQ(a.alpha(), 0x44);
    EXPECT_NE(PVHex(0x112233, false), PVHex(0x112233, true));
    // The hover token: black at 8/255 in light, white at 10/255 in dark.
    const QColor hoverDark = PV::color::interactive::hover.color(PVAppearance::dark);
    EXPECT_EQ(hoverDark.alpha(), 0x0A);
    EXPECT_EQ(hoverDark.red(), 255);
    EXPECT_EQ(PV::color::interactive::pressed.color(PVAppearance::light).alpha(), 0x14);
}

TEST(ColorTokens, PVColorAppliesOpacityAndFollowsTheAccent)
{
    const PVColor well = PV::color::surface::well;
    EXPECT_EQ(well.resolve(PVAppearance::dark, Qt::red), QColor(0x0A, 0x0E, 0x13));
    const QColor half = well.opacity(0.5).resolve(PVAppearance::light, Qt::red);
    EXPECT_NEAR(half.alphaF(), 0.5, 0.01);
    EXPECT_EQ(PVColor::accent().resolve(PVAppearance::light, QColor(1, 2, 3)), QColor(1, 2, 3));
    EXPECT_NEAR(PV::color::focus::halo().resolve(PVAppearance::dark, Qt::blue).alphaF(), 0.34, 0.01);
    EXPECT_EQ(PV::color::focus::ring().resolve(PVAppearance::dark, Qt::blue), QColor(Qt::blue));
    EXPECT_EQ(PV::color::interactive::accent(), PVColor::accent());
    EXPECT_EQ(PVColor::clear().resolve(PVAppearance::light, Qt::red).alpha(), 0);
}

TEST(StatusScale, RolesMatchTheTableRowByRow)
{
    std::map<QString, QString> symbols;
    int checked = 0;
    for (const QStringList& row : rows(tables::kStatusTable)) {
        const auto status = parsePVStatus(row[0]);
        ASSERT_TRUE(status.has_value()) << row[0].toStdString();
        if (row.size() == 4) { // case | raw | symbol | rank
            EXPECT_EQ(row[1], QStringLiteral("\"%1\"").arg(rawValue(*status)));
            EXPECT_EQ(QString::fromLatin1(statusSymbolName(*status).data()), QString(row[2]).remove(QLatin1Char('"')));
            EXPECT_EQ(statusRank(*status), row[3].toInt());
            continue;
        }
        auto pair = [](const QString& cell) {
            const QStringList parts = cell.split(QLatin1Char('/'));
            return std::pair{*hexCell(parts[0].trimmed()), *hexCell(parts[1].trimmed())};
        };
        const std::array<PVDynamicColor, 4> roles{statusMark(*status), statusMarkSaturated(*status), statusWash(*status),
                                                  statusBorder(*status)};
        for (int i = 0; i < 4; ++i) {
            const auto [light, dark] = pair(row[i + 1]);
            EXPECT_EQ(roles[static_cast<std::size_t>(i)].resolve(PVAppearance::light), light) << row[0].toStdString() << i;
            EXPECT_EQ(roles[static_cast<std::size_t>(i)].resolve(PVAppearance::dark), dark) << row[0].toStdString() << i;
            // No increased-contrast variants: those appearances take the base values.
            EXPECT_EQ(roles[static_cast<std::size_t>(i)].resolve(PVAppearance::lightHighContrast), light);
            EXPECT_EQ(roles[static_cast<std::size_t>(i)].resolve(PVAppearance::darkHighContrast), dark);
        }
        ++checked;
    }
    EXPECT_EQ(checked, 5);
}

TEST(StatusScale, ComparesBySeverityNotDeclarationOrder)
{
    EXPECT_EQ(worstStatus(PVStatus::neutral, PVStatus::good), PVStatus::good);
    EXPECT_EQ(worstStatus(PVStatus::critical, PVStatus::watch), PVStatus::critical);
    EXPECT_TRUE(statusLess(PVStatus::neutral, PVStatus::good));
    EXPECT_FALSE(statusLess(PVStatus::critical, PVStatus::serious));
    const auto all = allPVStatuses();
    EXPECT_EQ(std::vector<PVStatus>(all.begin(), all.end()),
              (std::vector<PVStatus>{PVStatus::good, PVStatus::watch, PVStatus::serious, PVStatus::critical, PVStatus::neutral}));
    EXPECT_EQ(sortedBySeverity({all.begin(), all.end()}),
              (std::vector<PVStatus>{PVStatus::neutral, PVStatus::good, PVStatus::watch, PVStatus::serious, PVStatus::critical}));
    EXPECT_FALSE(parsePVStatus(QStringLiteral("Good")).has_value());
}

TEST(StatusScale, MarkDiffersBetweenAppearancesOnlyForNeutral)
{
    for (PVStatus s : allPVStatuses()) {
        const PVDynamicColor mark = statusMark(s);
        EXPECT_EQ(mark.light == mark.dark, s != PVStatus::neutral);
        EXPECT_EQ(statusMarkSaturated(s).dark, mark.dark);
    }
}

TEST(SeriesAndCulprits, ColoursLabelsAndRawValues)
{
    const std::map<PVSeries, std::pair<PVDynamicColor, bool>> expected{
        {PVSeries::wifi, {PV::color::culprit::wifi, false}},
        {PVSeries::router, {PV::color::culprit::router, true}},
        {PVSeries::provider, {PV::color::culprit::provider, false}},
        {PVSeries::dns, {PV::color::series::dns, true}},
        {PVSeries::http, {PV::color::series::http, true}},
    };
    for (const auto& [s, v] : expected) {
        EXPECT_EQ(seriesColor(s), v.first) << rawValue(s).toStdString();
        EXPECT_EQ(requiresDirectLabel(s), v.second) << rawValue(s).toStdString();
        EXPECT_NE(seriesColor(s), PV::color::series::providerDeep);
    }
    EXPECT_FALSE(parsePVSeries(QStringLiteral("WIFI")).has_value());
    EXPECT_EQ(parsePVSeries(QStringLiteral("http")), PVSeries::http);

    const auto culprits = allPVCulprits();
    EXPECT_EQ(std::vector<PVCulprit>(culprits.begin(), culprits.end()),
              (std::vector<PVCulprit>{PVCulprit::wifi, PVCulprit::router, PVCulprit::provider}));
    for (PVCulprit c : culprits) {
        EXPECT_EQ(parsePVCulprit(rawValue(c)), c);
        EXPECT_EQ(culpritColor(c), seriesColor(*parsePVSeries(rawValue(c))));
    }
    EXPECT_FALSE(parsePVCulprit(QStringLiteral("Wifi")).has_value());
    EXPECT_EQ(culpritSymbolName(PVCulprit::router), "wifi.router.fill");
    EXPECT_EQ(culpritSymbolName(PVCulprit::provider), "globe.europe.africa.fill");
}

TEST(Appearance, DesktopSignalsDecideTheAppearance)
{
    const QColor lightWindow(0xEF, 0xEF, 0xEF);
    const QColor darkWindow(0x30, 0x30, 0x30);
    EXPECT_EQ(detectAppearance(lightWindow, std::nullopt, std::nullopt), PVAppearance::light);
    EXPECT_EQ(detectAppearance(darkWindow, std::nullopt, std::nullopt), PVAppearance::dark);
    // The freedesktop colour scheme wins over the palette; "no preference" leaves the palette to decide.
    EXPECT_EQ(detectAppearance(lightWindow, 1u, std::nullopt), PVAppearance::dark);
    EXPECT_EQ(detectAppearance(darkWindow, 2u, std::nullopt), PVAppearance::light);
    EXPECT_EQ(detectAppearance(darkWindow, 0u, std::nullopt), PVAppearance::dark);
    EXPECT_EQ(detectAppearance(lightWindow, 0u, 1u), PVAppearance::lightHighContrast);
    EXPECT_EQ(detectAppearance(darkWindow, std::nullopt, 1u), PVAppearance::darkHighContrast);
    EXPECT_EQ(detectAppearance(QColor(), std::nullopt, std::nullopt), PVAppearance::light);
}

TEST(Typography, TokensMatchTheTypeTable)
{
    const std::map<QString, PVFontWeight> weights{{QStringLiteral("semibold"), PVFontWeight::semibold},
                                                  {QStringLiteral("regular"), PVFontWeight::regular},
                                                  {QStringLiteral("medium"), PVFontWeight::medium}};
    const std::map<QString, PVFontDesign> designs{{QStringLiteral("rounded"), PVFontDesign::rounded},
                                                  {QStringLiteral("default"), PVFontDesign::standard},
                                                  {QStringLiteral("monospaced"), PVFontDesign::monospaced}};
    const std::map<QString, PVTextStyle> styles{
        {QStringLiteral("largeTitle"), PVTextStyle::largeTitle}, {QStringLiteral("title"), PVTextStyle::title},
        {QStringLiteral("title2"), PVTextStyle::title2},         {QStringLiteral("title3"), PVTextStyle::title3},
        {QStringLiteral("headline"), PVTextStyle::headline},     {QStringLiteral("callout"), PVTextStyle::callout},
        {QStringLiteral("body"), PVTextStyle::body},             {QStringLiteral("caption"), PVTextStyle::caption},
        {QStringLiteral("caption2"), PVTextStyle::caption2}};
    const auto table = rows(tables::kFontTable);
    ASSERT_EQ(table.size(), kFontTokens.size());
    for (std::size_t i = 0; i < table.size(); ++i) {
        const QStringList& row = table[i];
        const auto& entry = kFontTokens[i];
        EXPECT_EQ(QString::fromLatin1(entry.name.data(), static_cast<qsizetype>(entry.name.size())), row[0]);
        const PVFontToken expected{row[1].toDouble(), weights.at(row[2]), designs.at(row[3]), row[4].toDouble(),
                                   row[5].toDouble(), styles.at(row[6])};
        EXPECT_EQ(entry.token, expected) << row[0].toStdString();
    }
    int medium = 0;
    for (const auto& e : kFontTokens)
        medium += e.token.weight == PVFontWeight::medium ? 1 : 0;
    EXPECT_EQ(medium, 1);
}

TEST(Typography, LineSpacingUsesTheNominalSizeAndIsNeverNegative)
{
    EXPECT_EQ(lineSpacingExtra(PVFontToken::body), 6);
    EXPECT_EQ(lineSpacingExtra(PVFontToken::microCaption), 3);
    EXPECT_EQ(lineSpacingExtra(PVFontToken::heroNumber), 4);
    EXPECT_EQ(lineSpacingExtra(PVFontToken::cardTitle), 5);
    PVFontToken tight = PVFontToken::body;
    tight.lineHeight = 10;
    EXPECT_EQ(lineSpacingExtra(tight), 0);
    // A larger text size scales only the size: tracking and extra leading stay.
    PVFontToken hero = PVFontToken::heroNumber;
    EXPECT_DOUBLE_EQ(scaledSize(hero, 1.5), 84);
    EXPECT_DOUBLE_EQ(hero.tracking, -1.2);
    EXPECT_EQ(lineSpacingExtra(hero), 4);
}

TEST(Depth, ShadowTableMatchesRowByRow)
{
    static const QRegularExpression cell(QStringLiteral("black (\\d+) %, radius (\\d+), y (\\d+)"));
    auto parse = [](const QString& text) {
        const auto m = cell.match(text);
        if (!m.hasMatch())
            return PVShadowSpec{};
        return PVShadowSpec{m.captured(1).toDouble() / 100.0, m.captured(2).toDouble(), 0, m.captured(3).toDouble()};
    };
    const auto table = rows(tables::kShadowTable);
    ASSERT_EQ(table.size(), 4u);
    const std::array<PVElevation, 4> elevations{PVElevation::e0, PVElevation::e1, PVElevation::e2, PVElevation::e3};
    for (std::size_t i = 0; i < 4; ++i) {
        const PVShadowSpec solid = elevationShadow(PVDepthStyle::solid, elevations[i]);
        const PVShadowSpec luminous = elevationShadow(PVDepthStyle::luminous, elevations[i]);
        const PVShadowSpec expectSolid = parse(table[i][1]);
        const PVShadowSpec expectLuminous = parse(table[i][2]);
        EXPECT_NEAR(solid.opacity, expectSolid.opacity, 1e-12) << i;
        EXPECT_EQ(solid.radius, expectSolid.radius) << i;
        EXPECT_EQ(solid.y, expectSolid.y) << i;
        EXPECT_NEAR(luminous.opacity, expectLuminous.opacity, 1e-12) << i;
        EXPECT_EQ(luminous.radius, expectLuminous.radius) << i;
        EXPECT_EQ(luminous.y, expectLuminous.y) << i;
    }
    EXPECT_TRUE(elevationShadow(PVDepthStyle::luminous, PVElevation::e1).isNone());
    EXPECT_EQ(elevationShadow(PVDepthStyle::solid, PVElevation::e1), (PVShadowSpec{0.05, 3, 0, 1}));
}

TEST(Depth, GlowTokensMatchTheTable)
{
    const std::map<QString, double> code{
        {QStringLiteral("haloOpacityDark"), PV::glow::haloOpacityDark},
        {QStringLiteral("haloRadius"), PV::glow::haloRadius},
        {QStringLiteral("shadowOpacityDark"), PV::glow::shadowOpacityDark},
        {QStringLiteral("shadowRadius"), PV::glow::shadowRadius},
        {QStringLiteral("rimOpacityDark"), PV::glow::rimOpacityDark},
        {QStringLiteral("rimOpacityLight"), PV::glow::rimOpacityLight},
        {QStringLiteral("endpointBlur"), PV::glow::endpointBlur},
        {QStringLiteral("lightShadowOpacity"), PV::glow::lightShadowOpacity},
        {QStringLiteral("lightBorderWidth"), PV::glow::lightBorderWidth},
        {QStringLiteral("darkBorderWidth"), PV::glow::darkBorderWidth},
    };
    const auto table = rows(tables::kGlowTable);
    ASSERT_EQ(table.size(), code.size());
    for (const QStringList& row : table)
        EXPECT_DOUBLE_EQ(code.at(row[0].mid(QStringLiteral("PV.glow.").size())), row[2].toDouble()) << row[0].toStdString();
    EXPECT_DOUBLE_EQ(PV::depth::lightShadowOpacity, 0.12);
}

} // namespace
} // namespace pv
