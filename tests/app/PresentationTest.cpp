#include "core/app/Presentation.h"

#include <gtest/gtest.h>

using namespace pv;
using namespace pv::presentation;

TEST(PresentationFreshness, BandsAndStaleness)
{
    const Timestamp now = 1'700'000'100;
    EXPECT_EQ(probeFreshnessSummary(false, now - 1, now), QStringLiteral("A rögzítés szünetel"));
    EXPECT_FALSE(isProbeStale(false, now - 100, now));
    EXPECT_EQ(probeFreshnessSummary(true, std::nullopt, now), QStringLiteral("Várunk az első mérési körre"));
    EXPECT_EQ(probeFreshnessSummary(true, now - 9.9, now), QStringLiteral("Friss (9 mp)"));
    EXPECT_EQ(probeFreshnessSummary(true, now - 19.99, now), QStringLiteral("Késik (19 mp)"));
    EXPECT_FALSE(isProbeStale(true, now - 19.99, now));
    EXPECT_EQ(probeFreshnessSummary(true, now - 20, now), QStringLiteral("Elavult (20 mp)"));
    EXPECT_TRUE(isProbeStale(true, now - 20, now));
    // a batch from the future (clock moved back)
    EXPECT_EQ(probeFreshnessSummary(true, now + 30, now), QStringLiteral("Friss (0 mp)"));
    EXPECT_FALSE(isProbeStale(true, now + 30, now));
    EXPECT_EQ(probeFreshnessDetail(std::nullopt), QStringLiteral("A mérési kör még nem produkált teljes adagot."));
    EXPECT_TRUE(probeFreshnessDetail(now).startsWith(QStringLiteral("Utolsó teljes mérési kör: ")));
}

TEST(PresentationNodes, DistinctHistoryKeepsLatestAppearance)
{
    auto snap = [](const char* bssid) {
        WifiSnapshot w;
        w.bssid = QString::fromLatin1(bssid);
        return w;
    };
    const auto history = distinctNodeHistory({snap("A"), snap("B"), snap("A")});
    ASSERT_EQ(history.size(), 2u);
    EXPECT_EQ(history[0].bssid, QStringLiteral("B"));
    EXPECT_EQ(history[1].bssid, QStringLiteral("A"));
    EXPECT_TRUE(distinctNodeHistory({}).empty());
    EXPECT_FALSE(currentWifiSnapshot({}).has_value());
    EXPECT_EQ(currentWifiSnapshot({snap("A"), snap("B")})->bssid, QStringLiteral("B"));
}

TEST(PresentationSession, DurationTexts)
{
    const Timestamp now = 10'000;
    auto session = [&](double ago) { return MeasurementSession{QUuid::createUuid(), now - ago, std::nullopt, 0}; };
    EXPECT_EQ(currentSessionDurationSummary(std::nullopt, now), QStringLiteral("Várunk az első mérési szakaszra"));
    EXPECT_EQ(currentSessionDurationSummary(session(42), now), QStringLiteral("42s"));
    EXPECT_EQ(currentSessionDurationSummary(session(59.5), now), QStringLiteral("1m 0s"));
    EXPECT_EQ(currentSessionDurationSummary(session(725), now), QStringLiteral("12m 5s"));
    EXPECT_EQ(currentSessionDurationSummary(session(3599.4), now), QStringLiteral("59m 59s"));
    EXPECT_EQ(currentSessionDurationSummary(session(3600), now), QStringLiteral("1h 0m"));
    EXPECT_EQ(currentSessionDurationSummary(session(7530), now), QStringLiteral("2h 5m"));
    EXPECT_EQ(currentSessionDurationSummary(session(-50), now), QStringLiteral("0s"));
}

TEST(PresentationTexts, LocationBaselineAndDatabase)
{
    EXPECT_EQ(locationStatusDescription(42), QStringLiteral("A helymeghatározás állapota ismeretlen."));
    EXPECT_EQ(locationStatusDescription(3), locationStatusDescription(4));
    EXPECT_EQ(qualityBaselineSummary(std::nullopt), QStringLiteral("Referenciaablak: még nincs meg"));
    QualityBaseline b;
    b.nodeFingerprint.ssid = QStringLiteral("Otthon");
    b.savedAt = 1'700'000'000;
    EXPECT_TRUE(qualityBaselineSummary(b).startsWith(QStringLiteral("Referenciaablak: Otthon / Unknown BSSID / ch ?, ")));
    EXPECT_EQ(databaseLocationDescription(std::nullopt),
              QStringLiteral("Nincs írható adatbázis — a mérések csak a memóriában vannak."));
    EXPECT_EQ(databaseLocationDescription(QStringLiteral("/x/y.sqlite3")), QStringLiteral("/x/y.sqlite3"));
    EXPECT_EQ(menuBarSymbolName(LiveStatus::offline), QStringLiteral("wifi.slash"));
    EXPECT_EQ(menuBarStatusTitle(LiveStatus::degraded), QStringLiteral("Romlott"));
}

TEST(PresentationTexts, TimeWithSecondsHasNoZone)
{
    const QString t = localTimeWithSeconds(1'700'000'000);
    EXPECT_EQ(t.count(QLatin1Char(':')), 2) << t.toStdString();
    EXPECT_FALSE(t.contains(QLatin1Char(' '))) << t.toStdString();
}
