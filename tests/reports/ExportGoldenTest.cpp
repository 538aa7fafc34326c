// The whole export of a seeded store, byte for byte: five CSV files and the summary page. Runs with
// TZ=Europe/Budapest, once under LC_ALL=C.UTF-8 and once under hu_HU.UTF-8; the files must not change.
// PV_UPDATE_GOLDEN=1 rewrites the expected files (read them before committing them).
#include "core/records/LocaleDates.h"
#include "core/store/SQLiteStore.h"
#include "reports/ExportService.h"
#include "tests/store/StoreTestSupport.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

using namespace pv;

namespace {

// Monday 1 April 2024, 10:00 CEST. The previous day is 31 March, the 23-hour day of the spring change.
constexpr Timestamp kNow = 1711958400.0;
constexpr Timestamp kMidnight = 1711839600.0; // 31 March 00:00 CET
constexpr Timestamp kNextMidnight = 1711922400.0; // 1 April 00:00 CEST

QUuid uuid(int n) { return QUuid(QStringLiteral("6f1c2a3b-0000-4000-8000-%1").arg(n, 12, 10, QLatin1Char('0'))); }

NetworkSample sample(int id, int batch, Timestamp t, ProbeKind kind, std::optional<double> latency, bool success)
{
    NetworkSample s;
    s.id = uuid(id);
    s.batchID = uuid(100 + batch);
    s.timestamp = t;
    s.target = ProbeTarget(kind, rawValue(kind) + QStringLiteral(" target"),
                           kind == ProbeKind::gateway ? QStringLiteral("192.168.1.1") : QStringLiteral("one.one.one.one"));
    s.route = {t, QStringLiteral("wlan0"), QStringLiteral("192.168.1.23"), QStringLiteral("192.168.1.1")};
    s.latencyMilliseconds = latency;
    s.success = success;
    s.timeoutCount = success ? 0 : 2;
    return s;
}

WifiSnapshot wifi(int id, Timestamp t, std::optional<QString> ssid, QString bssid, std::optional<int> rssi,
                  std::optional<int> noise, std::optional<double> tx)
{
    WifiSnapshot w;
    w.id = uuid(200 + id);
    w.timestamp = t;
    w.interfaceName = QStringLiteral("wlan0");
    w.localAddress = QStringLiteral("192.168.1.23");
    w.gatewayAddress = QStringLiteral("192.168.1.1");
    w.ssid = std::move(ssid);
    w.bssid = std::move(bssid);
    w.channel = 36;
    w.band = QStringLiteral("5 GHz");
    w.rssi = rssi;
    w.noise = noise;
    w.txRateMbps = tx;
    w.phyMode = QStringLiteral("802.11ac");
    w.interfaceUp = true;
    return w;
}

void seed(SQLiteStore& store)
{
    std::vector<NetworkSample> samples{
        sample(1, 1, kMidnight, ProbeKind::gateway, 3.456, true), // exactly at the window's start
        sample(2, 2, kMidnight + 3600, ProbeKind::gateway, 4.0, true),
        sample(3, 2, kMidnight + 3600.25, ProbeKind::publicIP, 18.2, true),
        sample(4, 2, kMidnight + 3600.5, ProbeKind::dns, 25.0, true),
        sample(5, 2, kMidnight + 3600.75, ProbeKind::http, std::nullopt, false),
        sample(6, 3, kMidnight + 3604.5, ProbeKind::gateway, 2.5, true),
        sample(7, 3, kMidnight + 3604.5, ProbeKind::publicIP, std::nullopt, false),
        sample(8, 4, kNextMidnight, ProbeKind::publicIP, 20.0, true), // exactly at the window's end
        sample(9, 5, kMidnight - 0.001, ProbeKind::gateway, 1.0, true), // before the window
    };
    samples[4].errorDescription = QStringLiteral("=HYPERLINK(\"http://x\")");
    samples[4].packetLoss = 0.25;
    samples[6].errorDescription = QStringLiteral("Timed out, \"twice\"\nthen gave up");
    samples[6].packetLoss = 1.0;
    samples[7].family = AddressFamily::ipv6;
    for (const NetworkSample& s : samples)
        test::await(store.insertSamples(ProbeBatch{s.batchID, s.timestamp, s.route, {s}}));

    for (const WifiSnapshot& w : {
             wifi(1, kMidnight + 3600, QStringLiteral("Otthon"), QStringLiteral("AA:BB:CC:DD:EE:01"), -61, -92, 866.7),
             wifi(2, kMidnight + 3605, QStringLiteral("Otthon"), QStringLiteral("AA:BB:CC:DD:EE:01"), -63, std::nullopt, 780.0),
             wifi(3, kMidnight + 7200, std::nullopt, QStringLiteral("AA:BB:CC:DD:EE:02"), std::nullopt, std::nullopt,
                  std::nullopt),
             wifi(4, kMidnight + 9000, QStringLiteral("@Guest <5G>"), QStringLiteral("AA:BB:CC:DD:EE:03"), -70, -95, 144.4),
         })
        test::await(store.insertWifiSnapshot(w));

    test::await(store.upsertIncident({uuid(301), kMidnight + 3600, kMidnight + 3900, IncidentClassification::gatewayCongestion,
                                      IncidentSeverity::warning, 0.8, QStringLiteral("Gateway latency rose to 120 ms & stayed")}));
    test::await(store.upsertIncident({uuid(302), kMidnight - 7200, std::nullopt, IncidentClassification::offline,
                                      IncidentSeverity::critical, 0.95, QStringLiteral("-No route <b>at all</b>"), true}));
    test::await(store.insertEvent({uuid(401), kMidnight + 60, DiagnosticEventKind::monitoringStarted,
                                   QStringLiteral("Continuous monitoring started.")}));
    test::await(store.insertEvent({uuid(402), kMidnight + 9100, DiagnosticEventKind::markerAdded,
                                   QStringLiteral("+ marker, \"quoted\"")}));
    test::await(store.insertMarker({uuid(501), kMidnight + 3700, QStringLiteral("Router restart"), QStringLiteral("=1+1")}));
    test::await(store.insertMarker({uuid(502), kMidnight + 9050, QStringLiteral("Moved <script>alert(1)</script>"),
                                    QStringLiteral("Bob's \"desk\" & chair")}));
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

} // namespace

TEST(ExportGoldenTest, PreviousDayFilesMatchByteForByte)
{
    // The page's dates follow the user's locale; the expected files are written in US English.
    setDateTextLocale(QStringLiteral("en_US"));
    SQLiteStore store(StoreLocation::inMemory());
    seed(store);
    const QString documents = test::makeTempDir();
    reports::ExportService service(std::shared_ptr<SQLiteStore>(&store, [](SQLiteStore*) {}), {documents});
    const ExportResult result = test::await(service.runExport(ExportScope::previousDay, kNow));
    setDateTextLocale(QString());

    EXPECT_EQ(result.directoryURL.toLocalFile(),
              documents + QStringLiteral("/Polvarine Exports/2024-04-01_10-00-00_previous-day"));
    const QString golden = QStringLiteral(PV_GOLDEN_DIR);
    const bool update = qEnvironmentVariableIntValue("PV_UPDATE_GOLDEN") == 1;
    for (const QUrl& url : {result.samplesCSVURL, result.wifiSnapshotsCSVURL, result.incidentsCSVURL, result.eventsCSVURL,
                            result.markersCSVURL, result.htmlURL}) {
        const QString name = url.fileName();
        const QByteArray written = readAll(url.toLocalFile());
        if (update) {
            QDir().mkpath(golden);
            QFile out(golden + QLatin1Char('/') + name);
            ASSERT_TRUE(out.open(QIODevice::WriteOnly));
            out.write(written);
            continue;
        }
        EXPECT_EQ(written.toStdString(), readAll(golden + QLatin1Char('/') + name).toStdString()) << name.toStdString();
    }
}
