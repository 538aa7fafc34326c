// These tests also run under LC_ALL=hu_HU.UTF-8 (see CMakeLists.txt): the decimal separator must stay a point.
#include "core/records/Localization.h"

#include <gtest/gtest.h>

#include <clocale>

using namespace pv;

TEST(LocalizationTest, UnknownKeysComeBackUnchanged)
{
    EXPECT_EQ(L("Nincs ilyen kulcs — „idézet”"), QStringLiteral("Nincs ilyen kulcs — „idézet”"));
    EXPECT_EQ(L(QStringLiteral("Rendben")), QStringLiteral("Rendben"));
}

TEST(LocalizationTest, FormatsWithAPointWhateverTheLocale)
{
    // QCoreApplication already switched the C library to the environment's locale.
    std::setlocale(LC_ALL, "");
    EXPECT_EQ(LF("A routered %.0f ms alatt válaszol.", {12.6}), QStringLiteral("A routered 13 ms alatt válaszol."));
    EXPECT_EQ(LF("%.1f", {2.5}), QStringLiteral("2.5"));
    EXPECT_EQ(LF("%.1f%%", {12.34}), QStringLiteral("12.3%"));
    EXPECT_EQ(LF("%.2f ms", {1234.5}), QStringLiteral("1234.50 ms"));
}

TEST(LocalizationTest, RoundsLikePrintf)
{
    EXPECT_EQ(LF("%.0f", {22.5}), QStringLiteral("22"));
    EXPECT_EQ(LF("%.0f", {23.5}), QStringLiteral("24"));
    EXPECT_EQ(LF("%.0f", {12.5}), QStringLiteral("12"));
    EXPECT_EQ(LF("%.1f", {0.05}), QStringLiteral("0.1")); // 0.05 is slightly above in binary
    EXPECT_EQ(LF("%.0f", {-0.4}), QStringLiteral("-0"));
}

TEST(LocalizationTest, PositionalAndWholeNumbers)
{
    EXPECT_EQ(LF("%1$lld mérés %2$@ alatt.", {20LL, QStringLiteral("60 másodperc")}),
              QStringLiteral("20 mérés 60 másodperc alatt."));
    EXPECT_EQ(LF("%2$@, %1$@", {QStringLiteral("a"), QStringLiteral("b")}), QStringLiteral("b, a"));
    EXPECT_EQ(LF("%d/%lld: %@", {3, 4LL, QStringLiteral("x")}), QStringLiteral("3/4: x"));
    EXPECT_EQ(LF("%lld", {-1234567890123LL}), QStringLiteral("-1234567890123"));
    EXPECT_EQ(LF("100%%", {}), QStringLiteral("100%"));
}

TEST(LocalizationTest, MissingArgumentsLeaveThePlaceholder)
{
    EXPECT_EQ(LF("%@ és %@", {QStringLiteral("egy")}), QStringLiteral("egy és %@"));
    EXPECT_EQ(LF("vége %", {}), QStringLiteral("vége %"));
}

TEST(LocalizationTest, WidthAndPadding)
{
    EXPECT_EQ(formatPrintf(QStringLiteral("%02d:%02d"), {5, 7}), QStringLiteral("05:07"));
    EXPECT_EQ(formatPrintf(QStringLiteral("[%5.1f]"), {3.14159}), QStringLiteral("[  3.1]"));
    EXPECT_EQ(formatPrintf(QStringLiteral("[%-4d]"), {7}), QStringLiteral("[7   ]"));
}

TEST(LocalizationTest, MillisecondsThatWouldReadZeroSayLessThanOne)
{
    const struct {
        double ms;
        const char* text;
    } cases[] = {{0.0, "kevesebb mint 1 ms"}, {0.3, "kevesebb mint 1 ms"}, {0.5, "kevesebb mint 1 ms"},
                 {0.51, "1 ms"},             {12.4, "12 ms"},              {12.5, "12 ms"}};
    for (const auto& c : cases)
        EXPECT_EQ(pv::millisecondsText(c.ms), QString::fromUtf8(c.text)) << c.ms;
}
