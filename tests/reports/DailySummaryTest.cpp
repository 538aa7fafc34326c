// The daily report's figures and its page.
#include "core/records/LocaleDates.h"
#include "reports/DailySummary.h"
#include "reports/ExportService.h"
#include "tests/store/StoreTestSupport.h"

#include <gtest/gtest.h>

#include <functional>

using namespace pv;
using namespace pv::reports;

namespace {

constexpr Timestamp kStart = 1711839600;

NetworkSample sampleIn(const QUuid& batch, Timestamp t, ProbeKind kind = ProbeKind::gateway)
{
    NetworkSample s = test::makeSample(t, kind);
    s.batchID = batch;
    return s;
}

DailyReportInput input()
{
    DailyReportInput in;
    in.title = QStringLiteral("Polvarine Daily Summary");
    in.periodDescription = QStringLiteral("Today: a to b");
    in.start = kStart;
    in.end = kStart + 86400;
    in.now = kStart + 3600;
    return in;
}

} // namespace

TEST(DailySummaryTest, HtmlEscapingReplacesAmpersandFirstAndLeavesApostrophes)
{
    EXPECT_EQ(htmlEscaped(QStringLiteral("a & <b> \"c\" 'd'")), QStringLiteral("a &amp; &lt;b&gt; &quot;c&quot; 'd'"));
    EXPECT_EQ(htmlEscaped(QStringLiteral("&amp;")), QStringLiteral("&amp;amp;"));
}

TEST(DailySummaryTest, LongestGapNeedsTwoBatchesApart)
{
    const QUuid a = QUuid::createUuid();
    const QUuid b = QUuid::createUuid();
    EXPECT_EQ(longestProbeGap(probeBatches({sampleIn(a, kStart), sampleIn(a, kStart + 1)})), std::nullopt);
    EXPECT_EQ(longestProbeGap(probeBatches({sampleIn(a, kStart), sampleIn(b, kStart)})), std::nullopt);
    // A batch's time is its earliest sample, whatever the order the samples come in.
    const std::vector<ProbeBatch> batches =
        probeBatches({sampleIn(b, kStart + 4.5), sampleIn(a, kStart + 0.5), sampleIn(a, kStart), sampleIn(b, kStart + 4)});
    ASSERT_EQ(batches.size(), 2u);
    EXPECT_EQ(batches[0].id, a);
    EXPECT_EQ(batches[0].samples.front().timestamp, kStart);
    EXPECT_EQ(longestProbeGap(batches), 4.0);
}

TEST(DailySummaryTest, NodesByCountThenMostRecentWithHiddenNames)
{
    std::vector<WifiSnapshot> snapshots;
    for (int i = 0; i < 10; ++i) {
        WifiSnapshot older = test::makeWifi(kStart + i);
        older.bssid = QStringLiteral("AA:00:00:00:00:01");
        WifiSnapshot newer = test::makeWifi(kStart + 100 + i);
        newer.ssid.reset();
        newer.rssi = i % 2 == 0 ? -61 : -62;
        snapshots.push_back(older);
        snapshots.push_back(newer);
    }
    WifiSnapshot otherChannel = test::makeWifi(kStart + 500);
    otherChannel.channel = 40;
    snapshots.push_back(otherChannel);
    const std::vector<NodeSummary> nodes = nodeSummaries(snapshots);
    ASSERT_EQ(nodes.size(), 3u);
    EXPECT_TRUE(nodes[0].id.startsWith(QStringLiteral("hidden|")));
    EXPECT_EQ(nodes[0].averageRSSI, -61.5);
    EXPECT_EQ(nodes[1].snapshotCount, 10);
    EXPECT_EQ(nodes[2].id, QStringLiteral("Otthoni hálózat|aa:bb:cc:dd:ee:ff|40|5 GHz"));
}

TEST(DailySummaryTest, KindsWithoutSamplesShowNotAvailableNotPerfect)
{
    DailyReportInput in = input();
    in.samples = {test::makeSample(kStart, ProbeKind::gateway, 10.0, true),
                  test::makeSample(kStart + 1, ProbeKind::gateway, std::nullopt, false)};
    const DailyReport report = makeDailyReport(in);
    EXPECT_EQ(report.stats.gatewaySuccessRatio, 0.5);
    EXPECT_EQ(report.stats.averageGatewayLatency, 10.0);
    EXPECT_EQ(report.stats.publicSuccessRatio, std::nullopt);
    EXPECT_EQ(report.stats.uptimeRatio, std::nullopt);
    const QString page = summaryHTML(report);
    EXPECT_TRUE(page.contains(QStringLiteral("<h3>Gateway success</h3>\n      <p>50.0%</p>")));
    for (const char* label : {"Public success", "DNS success", "HTTP success", "Avg public latency"})
        EXPECT_TRUE(page.contains(QStringLiteral("<h3>%1</h3>\n      <p>N/A</p>").arg(QLatin1String(label)))) << label;
    EXPECT_TRUE(page.contains(QStringLiteral("Public reachability uptime: N/A")));
    EXPECT_FALSE(page.contains(QStringLiteral("100.0%")));
}

TEST(DailySummaryTest, EveryReportTextIsEscaped)
{
    const QString evil = QStringLiteral("<script>alert(\"x\")</script>&");
    const QString escaped = QStringLiteral("&lt;script&gt;alert(&quot;x&quot;)&lt;/script&gt;&amp;");
    DailyReportInput in = input();
    in.title = evil;
    in.periodDescription = evil;
    in.markers = {{QUuid::createUuid(), kStart, evil, evil}};
    in.events = {{QUuid::createUuid(), kStart, DiagnosticEventKind::markerAdded, evil}};
    Incident incident = test::makeIncident(kStart, kStart + 60);
    incident.evidenceSummary = evil;
    in.incidents = {incident};
    WifiSnapshot w = test::makeWifi(kStart);
    w.ssid = evil;
    in.wifiSnapshots = {w};
    const QString page = summaryHTML(makeDailyReport(in));
    EXPECT_FALSE(page.contains(QStringLiteral("<script>")));
    // Title twice, period, marker action and note, event details, evidence, node name.
    EXPECT_EQ(page.count(escaped), 8);
}

TEST(DailySummaryTest, EventsTableShowsTheLatestThirtyOldestFirst)
{
    setDateTextLocale(QStringLiteral("en_US"));
    DailyReportInput in = input();
    for (int i = 1; i <= 45; ++i)
        in.events.push_back({QUuid::createUuid(), kStart + i, DiagnosticEventKind::pathChanged,
                             QStringLiteral("event %1.").arg(i)});
    const QString page = summaryHTML(makeDailyReport(in));
    setDateTextLocale(QString());
    EXPECT_FALSE(page.contains(QStringLiteral("event 15.")));
    EXPECT_LT(page.indexOf(QStringLiteral("event 16.")), page.indexOf(QStringLiteral("event 45.")));
    EXPECT_EQ(page.count(QStringLiteral("<td>pathChanged</td>")), 30);
}

TEST(DailySummaryTest, AnEmptyWindowShowsFallbacks)
{
    const QString page = summaryHTML(makeDailyReport(input()));
    for (const char* text : {"No incidents were classified for this period.", "<td colspan=\"8\">No Wi-Fi node data",
                             "<td colspan=\"6\">No incidents for this period.", "<td colspan=\"3\">No manual markers",
                             "<td colspan=\"3\">No events for this day.", "Last Wi-Fi snapshot: N/A"})
        EXPECT_TRUE(page.contains(QLatin1String(text))) << text;
}

TEST(DailySummaryTest, ThePageNamesItsZoneAndTellsTheTwoRepeatedHoursApart)
{
    // TZ=Europe/Budapest: on 27 October 2024 the clock went from 03:00 back to 02:00 at 01:00 UTC.
    setDateTextLocale(QStringLiteral("en_US"));
    struct Case {
        Timestamp instant;
        QString text;
    } cases[] = {
        {1729989600, "Oct 27, 2024, 2:40:00 AM (UTC+2)"}, // 00:40 UTC, the first 02:40
        {1729992000, "Oct 27, 2024, 2:20:00 AM (UTC+1)"}, // 01:20 UTC, the second 02:20
        {1729995000, "Oct 27, 2024, 3:10:00 AM"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(displayText(c.instant).replace(QChar(0x202F), QLatin1Char(' ')), c.text);
    const QString page = summaryHTML(makeDailyReport(input()));
    setDateTextLocale(QString());
    EXPECT_EQ(page.count(QStringLiteral("Time zone: Europe/Budapest")), 1);
}

// Every text a user or the air supplied loses its direction controls on the page: an override would
// show "gnp.exe" as "exe.png". The CSV files keep the bytes as they were received.
TEST(DailySummaryTest, SuppliedTextsLoseTheirDirectionControlsOnThePageOnly)
{
    const QString hostile = QString::fromUtf8("Otthon\u202Egnp.exe\u2066\u200F");
    struct Case {
        const char* name;
        std::function<void(DailyReportInput&)> put;
        std::function<QString()> csv;
    };
    WifiSnapshot w = test::makeWifi(kStart);
    w.ssid = hostile;
    const ManualMarker noted{QUuid::createUuid(), kStart + 60, QStringLiteral("note"), hostile};
    const ManualMarker acted{QUuid::createUuid(), kStart + 60, hostile, QStringLiteral("x")};
    const DiagnosticEvent event{QUuid::createUuid(), kStart + 60, DiagnosticEventKind::pathChanged, hostile};
    const Case cases[] = {
        {"network name", [&](DailyReportInput& in) { in.wifiSnapshots = {w}; },
         [&] { return reports::ExportService::wifiSnapshotsCSV({w}); }},
        {"marker note", [&](DailyReportInput& in) { in.markers = {noted}; },
         [&] { return reports::ExportService::markersCSV({noted}); }},
        {"marker action", [&](DailyReportInput& in) { in.markers = {acted}; },
         [&] { return reports::ExportService::markersCSV({acted}); }},
        {"event", [&](DailyReportInput& in) { in.events = {event}; },
         [&] { return reports::ExportService::eventsCSV({event}); }},
    };
    for (const Case& c : cases) {
        DailyReportInput in = input();
        c.put(in);
        const QString page = summaryHTML(makeDailyReport(in));
        for (const char16_t control : {u'\u202E', u'\u2066', u'\u200F'})
            EXPECT_FALSE(page.contains(QChar(control))) << c.name << " U+" << std::hex << int(control);
        EXPECT_TRUE(page.contains(QStringLiteral("Otthongnp.exe"))) << c.name;
        EXPECT_TRUE(c.csv().contains(hostile)) << c.name;
    }
}
