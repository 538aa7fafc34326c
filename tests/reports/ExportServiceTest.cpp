// The export's CSV texts, windows and files. Runs with TZ=Europe/Budapest.
#include "core/store/SQLiteStore.h"
#include "reports/CsvWriter.h"
#include "reports/ExportService.h"
#include "tests/store/StoreTestSupport.h"
#include "tests/support/TestSupport.h"

#include <QDateTime>
#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <cmath>

using namespace pv;
using reports::CSVWriter;


namespace {

constexpr Timestamp kHour = 3600;

QString read(const QUrl& url)
{
    QFile file(url.toLocalFile());
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QStringLiteral("<missing>");
}

std::shared_ptr<SQLiteStore> memoryStore() { return std::make_shared<SQLiteStore>(StoreLocation::inMemory()); }

struct WindowCase {
    const char* name;
    ExportScope scope;
    Timestamp now;
    Timestamp start;
    Timestamp end;
};

} // namespace

TEST(CsvWriterTest, QuotesEveryFieldAndDoublesQuotes)
{
    EXPECT_EQ(CSVWriter::line({QStringLiteral("a \"b\", c\nd\re"), QString(), QStringLiteral("x")}),
              QStringLiteral("\"a \"\"b\"\", c\nd\re\",\"\",\"x\""));
    const std::vector<int> rows{1, 2};
    EXPECT_EQ(CSVWriter::document<int>({QStringLiteral("n")}, rows, [](const int& n) { return QStringList{QString::number(n)}; }),
              QStringLiteral("\"n\"\n\"1\"\n\"2\""));
}

TEST(CsvWriterTest, TextColumnsAreGuardedAgainstFormulasNumbersAreNot)
{
    struct Case {
        QString in;
        QString out;
    };
    const Case cases[] = {
        {QStringLiteral("=1+1"), QStringLiteral("'=1+1")},
        {QStringLiteral("+36 1 234"), QStringLiteral("'+36 1 234")},
        {QStringLiteral("-cmd"), QStringLiteral("'-cmd")},
        {QStringLiteral("@SUM(A1)"), QStringLiteral("'@SUM(A1)")},
        {QStringLiteral("\tx"), QStringLiteral("'\tx")},
        {QStringLiteral("\rx"), QStringLiteral("'\rx")},
        {QStringLiteral("a=1"), QStringLiteral("a=1")},
        {QString(), QString()},
    };
    for (const Case& c : cases)
        EXPECT_EQ(reports::csv::text(c.in), c.out) << c.in.toStdString();
    EXPECT_EQ(reports::csv::whole(std::optional<int>(-61)), QStringLiteral("-61"));
    EXPECT_EQ(reports::csv::fraction(-0.125), QStringLiteral("-0.12"));
}

TEST(CsvWriterTest, TimestampsAreUtcWithMilliseconds)
{
    for (double t : {0.0, 951782400.5, -1.5, 1711839599.9996, 4102444799.999, 1711879200.123})
        EXPECT_EQ(reports::csv::timestamp(t),
                  QDateTime::fromMSecsSinceEpoch(std::llround(t * 1000.0), Qt::UTC).toString(Qt::ISODateWithMs))
            << t;
    EXPECT_EQ(reports::csv::timestamp(951782400.5), QStringLiteral("2000-02-29T00:00:00.500Z"));
}

TEST(ExportServiceTest, WindowsFollowLocalMidnights)
{
    // 2024-03-31 is the 23-hour day (spring change), 2024-10-27 the 25-hour one.
    const Timestamp march31 = 1711839600;  // 00:00 CET
    const Timestamp april1 = 1711922400;   // 00:00 CEST
    const Timestamp october27 = 1729980000; // 00:00 CEST
    const Timestamp october28 = 1730070000; // 00:00 CET
    const WindowCase cases[] = {
        {"previous day of 1 April", ExportScope::previousDay, april1 + 10 * kHour, march31, april1},
        {"today, 31 March", ExportScope::currentDay, march31 + 5, march31, april1},
        {"previous day of 28 October", ExportScope::previousDay, october28 + kHour, october27, october28},
        {"last 24 hours over the change", ExportScope::last24Hours, april1 + kHour, april1 + kHour - 86400, april1 + kHour},
    };
    for (const WindowCase& c : cases) {
        const reports::ExportWindow window = reports::ExportService::makeWindow(c.scope, c.now);
        EXPECT_EQ(window.startDate, c.start) << c.name;
        EXPECT_EQ(window.endDate, c.end) << c.name;
    }
    EXPECT_EQ(reports::ExportService::folderStamp(april1 + 10 * kHour + 7.9), QStringLiteral("2024-04-01_10-00-07"));
}

TEST(ExportServiceTest, AnEmptyWindowGivesHeaderOnlyFiles)
{
    const QString documents = test::makeTempDir();
    reports::ExportService service(memoryStore(), {documents});
    const ExportResult result = test::await(service.runExport(ExportScope::currentDay, 1711879200));
    const std::pair<QUrl, const char*> expected[] = {
        {result.samplesCSVURL, "\"timestamp\",\"batch_id\",\"target_kind\",\"target_label\",\"target_host\",\"interface_name\","
                               "\"local_address\",\"gateway_address\",\"latency_ms\",\"success\",\"timeout_count\","
                               "\"packet_loss\",\"error_description\",\"family\""},
        {result.wifiSnapshotsCSVURL, "\"timestamp\",\"interface_name\",\"local_address\",\"gateway_address\",\"ssid\",\"bssid\","
                                     "\"channel\",\"band\",\"rssi\",\"noise\",\"snr\",\"tx_rate_mbps\",\"phy_mode\","
                                     "\"interface_up\""},
        {result.incidentsCSVURL, "\"start_timestamp\",\"end_timestamp\",\"classification\",\"severity\",\"confidence\","
                                 "\"evidence_summary\",\"outage\""},
        {result.eventsCSVURL, "\"timestamp\",\"kind\",\"details\""},
        {result.markersCSVURL, "\"timestamp\",\"action\",\"note\""},
    };
    for (const auto& [url, header] : expected)
        EXPECT_EQ(read(url), QString::fromLatin1(header)) << url.fileName().toStdString();
    EXPECT_TRUE(read(result.htmlURL).contains(QStringLiteral("No incidents for this period.")));
    EXPECT_EQ(QDir(result.directoryURL.toLocalFile()).entryList(QDir::Files).size(), 6);
}

TEST(ExportServiceTest, MissingValuesAreEmptyFields)
{
    WifiSnapshot w = test::makeWifi(1711879200);
    w.noise.reset();
    w.rssi = -61;
    Incident open = test::makeIncident(1711879200 - 7200, std::nullopt);
    open.evidenceSummary = QStringLiteral("still open");
    const QStringList wifiLines = reports::ExportService::wifiSnapshotsCSV({w}).split(QLatin1Char('\n'));
    ASSERT_EQ(wifiLines.size(), 2);
    const QStringList fields = wifiLines[1].split(QLatin1Char(','));
    EXPECT_EQ(fields.mid(8, 3), (QStringList{QStringLiteral("\"-61\""), QStringLiteral("\"\""), QStringLiteral("\"\"")}));
    EXPECT_EQ(reports::ExportService::incidentsCSV({open}).split(QLatin1Char('\n')).value(1),
              QStringLiteral("\"2024-03-31T08:00:00.000Z\",\"\",\"gateway_congestion\",\"critical\",\"0.70\",\"still open\",\"0\""));
}

TEST(ExportServiceTest, AFailedWriteFailsTheWholeExport)
{
    const QString documents = test::makeTempDir();
    const Timestamp now = 1711879200;
    const QString folder = documents + QStringLiteral("/Polvarine Exports/") + reports::ExportService::folderStamp(now) +
                           QStringLiteral("_last-24-hours");
    // A folder where events.csv belongs: the fourth write cannot replace it.
    ASSERT_TRUE(QDir().mkpath(folder + QStringLiteral("/events.csv")));
    reports::ExportService service(memoryStore(), {documents});
    try {
        test::await(service.runExport(ExportScope::last24Hours, now));
        ADD_FAILURE() << "the export reported success";
    } catch (const reports::ExportError& e) {
        EXPECT_TRUE(e.technical().contains(QStringLiteral("events.csv"))) << e.technical().toStdString();
        EXPECT_EQ(QString::fromUtf8(e.what()), failureSentence(e.cause()));
    }
    // The folder was there before, so it stays; the files this export wrote into it are gone.
    EXPECT_EQ(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{QStringLiteral("events.csv")});
}

TEST(ExportServiceTest, TheRegisteredMakerOffersExports)
{
    registerReportServiceMakers({});
    EXPECT_FALSE(exportsAvailable());
    ReportServiceMakers makers;
    makers.makeExportService = reports::exportServiceMaker();
    registerReportServiceMakers(std::move(makers));
    EXPECT_TRUE(exportsAvailable());
    EXPECT_NE(dynamic_cast<reports::ExportService*>(makeExportService(memoryStore()).get()), nullptr);
    registerReportServiceMakers({});
}
