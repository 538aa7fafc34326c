// Writing every record type and reading it back, the row fallbacks, the period queries, and reads
// that fail part-way.
#include "core/store/SQLiteStore.h"
#include "core/store/StoreDatabase.h"

#include "tests/store/StoreTestSupport.h"
#include "tests/support/TestSupport.h"

#include <QFile>

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

using namespace pv;
using namespace pv::test;

namespace {

class StoreDataTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        path = freshDatabasePath();
        store = std::make_unique<SQLiteStore>(SQLiteStore::Location::file(path));
    }
    void reopen()
    {
        store.reset();
        store = std::make_unique<SQLiteStore>(SQLiteStore::Location::file(path));
    }

    QString path;
    std::unique_ptr<SQLiteStore> store;
};

QualityBaseline makeBaseline(double score)
{
    QualityBaseline b;
    b.savedAt = 1700000000.25;
    b.sourceStart = 1699999400;
    b.sourceEnd = 1700000000;
    b.nodeFingerprint = {QStringLiteral("Otthon"), QStringLiteral("aa:bb:cc:dd:ee:ff"), 36, QStringLiteral("5 GHz")};
    b.absoluteScore = score;
    b.assessment.availability = QualityAvailability::ready;
    b.assessment.title = QStringLiteral("Kiváló");
    b.assessment.windowEndedAt = 1700000000;
    return b;
}

// What a sample reads back as: the route carries the sample's own time.
NetworkSample asStored(NetworkSample s)
{
    s.route.timestamp = s.timestamp;
    return s;
}

// Overwrites the pages of one table or index with zeros, the database closed.
void zeroPagesOf(const QString& path, const QString& object, bool onlyMiddleLeaf)
{
    std::vector<std::int64_t> pages;
    std::int64_t pageSize = 0;
    {
        RawDb db(path);
        db.exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE);"));
        pageSize = db.integer(QStringLiteral("PRAGMA page_size;"));
        for (const QString& p :
             db.column(QStringLiteral("SELECT pageno FROM dbstat WHERE name = '%1' AND pagetype IN ('leaf', 'internal') "
                                      "ORDER BY pageno;")
                           .arg(object)))
            pages.push_back(p.toLongLong());
    }
    ASSERT_FALSE(pages.empty()) << object.toStdString();
    if (onlyMiddleLeaf) {
        ASSERT_GE(pages.size(), 3u) << "too few pages to damage one in the middle";
        pages = {pages[pages.size() / 2]};
    }
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    for (std::int64_t page : pages) {
        f.seek((page - 1) * pageSize);
        f.write(QByteArray(static_cast<int>(pageSize), '\0'));
    }
}

} // namespace

TEST_F(StoreDataTest, SamplesRoundTripWithTheirOwnTimeAsRouteTime)
{
    ProbeBatch batch = makeBatch(1000);
    batch.samples[0].route.timestamp = 990; // the route was read before the probe finished
    batch.samples[1].latencyMilliseconds.reset();
    batch.samples[1].success = false;
    batch.samples[1].timeoutCount = 3;
    batch.samples[1].packetLoss = 1.0;
    batch.samples[1].errorDescription = QStringLiteral("Időtúllépés");
    batch.samples[2].packetLoss = 0.0;
    batch.samples[3].family = AddressFamily::ipv6;
    await(store->insertSamples(batch));

    const auto read = await(store->samples(1000, 1000.04)); // both ends included
    ASSERT_EQ(read.size(), 5u);
    for (std::size_t i = 0; i < read.size(); ++i)
        EXPECT_EQ(read[i], asStored(batch.samples[i])) << i;
    EXPECT_EQ(read[0].target.id, QStringLiteral("gateway-192.168.1.1"));
    EXPECT_EQ(read[0].route.timestamp, 1000);

    const auto recent = await(store->recentSamples(2));
    ASSERT_EQ(recent.size(), 2u);
    EXPECT_EQ(recent[0], asStored(batch.samples[4]));
    EXPECT_EQ(recent[1], asStored(batch.samples[3]));

    EXPECT_TRUE(await(store->samples(1000.05, 2000)).empty());

    // One family's read holds that family's samples only, in the same order.
    const auto ipv6 = await(store->samples(1000, 1000.04, AddressFamily::ipv6));
    ASSERT_EQ(ipv6.size(), 1u);
    EXPECT_EQ(ipv6[0], asStored(batch.samples[3]));
    const auto ipv4 = await(store->samples(1000, 1000.04, AddressFamily::ipv4));
    ASSERT_EQ(ipv4.size(), 4u);
    EXPECT_EQ(ipv4[3], asStored(batch.samples[4]));
}

TEST_F(StoreDataTest, WritingTheSameRowAgainReplacesIt)
{
    ProbeBatch batch = makeBatch(1000, 1);
    await(store->insertSamples(batch));
    batch.samples[0].latencyMilliseconds = 99;
    await(store->insertSamples(batch));
    const auto read = await(store->recentSamples(10));
    ASSERT_EQ(read.size(), 1u);
    EXPECT_EQ(read[0].latencyMilliseconds, 99);

    Incident incident = makeIncident(1000, std::nullopt);
    await(store->upsertIncident(incident));
    incident.endTimestamp = 1300;
    await(store->upsertIncident(incident));
    const auto incidents = await(store->recentIncidents(10));
    ASSERT_EQ(incidents.size(), 1u);
    EXPECT_EQ(incidents[0], incident);
}

TEST_F(StoreDataTest, ABatchThatFailsPartWayLeavesNothingAndNoLockAndIsStoredWholeLater)
{
    await(store->recentSamples(1)); // the schema is there
    RawDb(path).exec("CREATE TRIGGER refuse BEFORE INSERT ON network_samples WHEN NEW.latency_ms = 666 "
                     "BEGIN SELECT RAISE(ABORT, 'refused'); END;");
    ProbeBatch batch = makeBatch(1000, 3);
    batch.samples[1].latencyMilliseconds = 666;
    EXPECT_ANY_THROW(await(store->insertSamples(batch)));
    {
        RawDb other(path); // a write from another connection goes through: nothing of the batch holds a lock
        EXPECT_EQ(other.integer("SELECT count(*) FROM network_samples;"), 0);
        other.exec("DROP TRIGGER refuse;");
    }
    await(store->insertSamples(batch));
    EXPECT_EQ(RawDb(path).integer("SELECT count(*) FROM network_samples;"), 3);
}

TEST_F(StoreDataTest, WifiEventsMarkersAndIncidentsRoundTrip)
{
    WifiSnapshot full = makeWifi(1000);
    WifiSnapshot bare = makeWifi(1008);
    bare.ssid.reset();
    bare.bssid.reset();
    bare.channel.reset();
    bare.band.reset();
    bare.rssi.reset();
    bare.noise.reset();
    bare.txRateMbps.reset();
    bare.phyMode.reset();
    bare.interfaceUp = false;
    await(store->insertWifiSnapshot(full));
    await(store->insertWifiSnapshot(bare));
    EXPECT_EQ(await(store->wifiSnapshots(1000, 1008)), (std::vector<WifiSnapshot>{full, bare}));
    EXPECT_EQ(await(store->recentWifiSnapshots(1)), std::vector<WifiSnapshot>{bare});

    std::vector<DiagnosticEvent> events;
    for (DiagnosticEventKind kind : allDiagnosticEventKinds())
        events.push_back(makeEvent(1000 + static_cast<double>(events.size()), kind));
    for (const auto& e : events)
        await(store->insertEvent(e));
    EXPECT_EQ(await(store->events(1000, 1015)), events);
    const auto recentEvents = await(store->recentEvents(3));
    EXPECT_EQ(recentEvents, (std::vector<DiagnosticEvent>{events[15], events[14], events[13]}));

    const ManualMarker m1 = makeMarker(1000), m2 = makeMarker(2000);
    await(store->insertMarker(m2));
    await(store->insertMarker(m1));
    EXPECT_EQ(await(store->markers(0, 5000)), (std::vector<ManualMarker>{m1, m2}));
    EXPECT_EQ(await(store->recentMarkers(60)), (std::vector<ManualMarker>{m2, m1}));

    std::vector<Incident> incidents;
    for (IncidentClassification c : allIncidentClassifications()) {
        Incident i = makeIncident(1000 + 10.0 * static_cast<double>(incidents.size()), 1005 + 10.0 * static_cast<double>(incidents.size()));
        i.classification = c;
        i.severity = allIncidentSeverities()[incidents.size() % 3];
        incidents.push_back(i);
    }
    for (const auto& i : incidents)
        await(store->upsertIncident(i));
    EXPECT_EQ(await(store->incidents(0, 5000)), incidents);
    EXPECT_EQ(await(store->recentIncidents(1)), std::vector<Incident>{incidents.back()});
}

TEST_F(StoreDataTest, IncidentPeriodQueryTakesWhatTouchesThePeriod)
{
    const double from = 1000, to = 2000;
    const Incident openBefore = makeIncident(500, std::nullopt);
    const Incident endedBefore = makeIncident(400, 999);
    const Incident spanning = makeIncident(600, 2500);
    const Incident endsInside = makeIncident(700, 1000); // the end bound is included
    const Incident startsInside = makeIncident(2000, 2600);
    const Incident startsAfter = makeIncident(2001, 2100);
    const Incident openAfter = makeIncident(2001, std::nullopt);
    for (const auto& i : {openBefore, endedBefore, spanning, endsInside, startsInside, startsAfter, openAfter})
        await(store->upsertIncident(i));
    EXPECT_EQ(await(store->incidents(from, to)),
              (std::vector<Incident>{openBefore, spanning, endsInside, startsInside}));
}

// A period's samples read in parts, listed or visited kind by kind, on a file (the parts read at
// once, each on its own connection) and in memory (one after the other): the parts are consecutive,
// each in time order, and together they are exactly the samples the period query returns, the rows
// on either bound and on the parts' seams included and none twice.
TEST_F(StoreDataTest, APeriodReadInPartsVisitsEachSampleOfThePeriodOnce)
{
    auto memory = std::make_unique<SQLiteStore>(SQLiteStore::Location::inMemory());
    const double from = 100000, to = 200000;
    std::vector<NetworkSample> rows;
    // Both bounds, the seams of four parts (125000, 150000, 175000: the rows span the whole period),
    // two rows at one time, and rows outside.
    for (double t : {99999.0, 100000.0, 100000.5, 125000.0, 125000.0, 149999.9, 150000.0, 175000.0, 190000.0,
                     200000.0, 200000.5})
        rows.push_back(makeSample(t, rows.size() % 2 ? ProbeKind::publicIP : ProbeKind::dns, std::nullopt, false));
    ProbeBatch batch = makeBatch(100000, 0);
    for (NetworkSample& s : rows) {
        s.batchID = batch.id;
        s.family = s.timestamp < 150000 ? AddressFamily::ipv4 : AddressFamily::ipv6;
    }
    batch.samples = rows;
    await(store->insertSamples(batch));
    await(memory->insertSamples(batch));
    std::vector<double> expected, expectedProvider;
    {
        RawDb raw(path);
        for (const QString& t : raw.column(QStringLiteral(
                 "SELECT timestamp FROM network_samples WHERE timestamp BETWEEN 100000 AND 200000 ORDER BY timestamp;")))
            expected.push_back(t.toDouble());
        for (const QString& t : raw.column(QStringLiteral("SELECT timestamp FROM network_samples WHERE timestamp "
                                                          "BETWEEN 100000 AND 200000 AND target_kind = 'publicIP' "
                                                          "ORDER BY timestamp;")))
            expectedProvider.push_back(t.toDouble());
    }
    ASSERT_EQ(expected.size(), 9u);
    ASSERT_EQ(expectedProvider.size(), 5u);
    for (SQLiteStore* target : {store.get(), memory.get()}) {
        std::vector<double> listed;
        for (const NetworkSample& s : await(target->samples(from, to)))
            listed.push_back(s.timestamp);
        EXPECT_EQ(listed, expected);
    }

    // Visited: only the kind asked for, each row once, yet every kind counted.
    for (SQLiteStore* target : {store.get(), memory.get()})
        for (std::size_t partCount : {1u, 4u, 7u}) {
            std::vector<std::vector<SamplePoint>> parts(partCount);
            std::vector<std::function<void(const SamplePoint&)>> visitors;
            for (auto& part : parts)
                visitors.push_back([&part](const SamplePoint& p) { part.push_back(p); });
            const SampleVisit visit = await(target->visitSamples(from, to, {ProbeKind::publicIP}, std::move(visitors)));
            std::vector<double> seen;
            for (const auto& part : parts)
                for (const SamplePoint& p : part) {
                    EXPECT_TRUE(seen.empty() || seen.back() <= p.timestamp) << "parts out of order";
                    seen.push_back(p.timestamp);
                    EXPECT_EQ(p.kind, ProbeKind::publicIP);
                    EXPECT_EQ(p.family, p.timestamp < 150000 ? AddressFamily::ipv4 : AddressFamily::ipv6);
                    EXPECT_FALSE(p.success);
                    EXPECT_FALSE(p.latencyMilliseconds);
                }
            const QString where = QString::number(partCount) + (target == memory.get() ? " parts in memory" : " parts");
            EXPECT_EQ(seen, expectedProvider) << qPrintable(where);
            EXPECT_EQ(visit.visited, 5) << qPrintable(where);
            EXPECT_EQ(visit.total, 9) << qPrintable(where);
        }
}

TEST_F(StoreDataTest, LoadTestRowCarriesItsDerivedFigures)
{
    LoadTestResult r;
    r.startedAt = 1700000000;
    r.idle.p50 = 12;
    r.underDownload.p95 = 95;
    r.underUpload.p95 = 40;
    r.underDownload.sampleCount = r.underUpload.sampleCount = 80; // loaded windows of 8 s
    r.download.bytesTransferred = 125'000'000;
    r.download.durationSeconds = 10;
    r.upload.bytesTransferred = 5'000'000;
    r.upload.durationSeconds = 0; // no upload phase: 0 Mbps
    await(store->insertLoadTest(r));
    LoadTestResult noIdle;
    noIdle.startedAt = 1700000100;
    await(store->insertLoadTest(noIdle));

    RawDb db(path);
    EXPECT_EQ(db.column(QStringLiteral("SELECT started_at || '|' || download_mbps || '|' || upload_mbps || '|' || "
                                       "quote(idle_p50_ms) || '|' || quote(loaded_down_p95_ms) || '|' || "
                                       "quote(loaded_up_p95_ms) || '|' || quote(latency_increase_ms) || '|' || grade "
                                       "FROM load_tests ORDER BY started_at;")),
              QStringList({"1700000000.0|100.0|0.0|12.0|95.0|40.0|83.0|good",
                           "1700000100.0|0.0|0.0|NULL|NULL|NULL|NULL|excellent"}));
    const QStringList ids = db.column(QStringLiteral("SELECT id FROM load_tests;"));
    ASSERT_EQ(ids.size(), 2);
    EXPECT_NE(ids[0], ids[1]);
    EXPECT_EQ(ids[0], ids[0].toUpper());
}

TEST_F(StoreDataTest, BaselineIsSavedOnceLoadedAndDeleted)
{
    EXPECT_EQ(await(store->loadBaseline()), std::nullopt);
    await(store->deleteBaseline()); // nothing there: still fine
    await(store->saveBaseline(makeBaseline(8.5)));
    await(store->saveBaseline(makeBaseline(9.25)));
    EXPECT_EQ(await(store->loadBaseline()), makeBaseline(9.25));
    RawDb db(path);
    EXPECT_EQ(db.integer(QStringLiteral("SELECT COUNT(*) FROM quality_baseline;")), 1);
    EXPECT_EQ(db.real(QStringLiteral("SELECT saved_at FROM quality_baseline;")), 1700000000.25);
    await(store->deleteBaseline());
    EXPECT_EQ(await(store->loadBaseline()), std::nullopt);
}

TEST_F(StoreDataTest, UndecodableBaselineIsAnErrorNotAnAbsence)
{
    RawDb db(path);
    db.exec(QStringLiteral("INSERT INTO quality_baseline (id, saved_at, payload) VALUES (1, 1, '{\"savedAt\": 1}');"));
    EXPECT_THROW(await(store->loadBaseline()), json::DecodeError);
}

TEST_F(StoreDataTest, SessionBoundaryAndEarliestTime)
{
    EXPECT_EQ(await(store->lastSessionBoundary()), std::nullopt);
    EXPECT_EQ(await(store->earliestTimestamp()), std::nullopt);

    await(store->insertEvent(makeEvent(100, DiagnosticEventKind::wifiNodeChanged)));
    await(store->insertEvent(makeEvent(200, DiagnosticEventKind::qualitySessionReset)));
    await(store->insertEvent(makeEvent(300, DiagnosticEventKind::wake)));
    await(store->insertEvent(makeEvent(400, DiagnosticEventKind::qualityBaselineCleared)));
    EXPECT_EQ(await(store->lastSessionBoundary()), 200);

    await(store->insertWifiSnapshot(makeWifi(900)));
    await(store->insertWifiSnapshot(makeWifi(800)));
    EXPECT_EQ(await(store->earliestTimestamp()), 800); // only Wi-Fi readings so far
    await(store->insertSamples(makeBatch(700, 1)));
    EXPECT_EQ(await(store->earliestTimestamp()), 700);
}

TEST_F(StoreDataTest, RowsThatDoNotDecodeFallBackToDefaults)
{
    {
        RawDb db(path);
        db.exec(QStringLiteral(
            "INSERT INTO network_samples VALUES ('not-a-uuid', 'batch?', 10, 'satellite', 'L', 'h', 'i', 'l', 'g',"
            " 5, 2, 0, NULL, NULL, 'ipv6');"
            "INSERT INTO network_samples VALUES ('other-bad-id', 'batch?', 11, 'dns', 'L', 'h', 'i', 'l', 'g',"
            " 5, 1, 0, NULL, NULL, 'ipx');"
            "INSERT INTO incidents (id, start_timestamp, end_timestamp, classification, severity, confidence,"
            " evidence_summary) VALUES ('x', 10, NULL, 'meteor', 'bogus', 0.4, 'e');"
            "INSERT INTO incidents (id, start_timestamp, end_timestamp, classification, severity, confidence,"
            " evidence_summary) VALUES ('y', 11, NULL, 'offline', 'info', 0.9, 'e');"
            "INSERT INTO events VALUES ('z', 10, 'earthquake', 'd');"
            "INSERT INTO wifi_snapshots (id, timestamp, interface_name, local_address, gateway_address, interface_up)"
            " VALUES ('w', 10, 'wlan0', 'l', 'g', 7);"));
    }
    const auto first = await(store->samples(0, 100));
    ASSERT_EQ(first.size(), 2u);
    EXPECT_EQ(first[0].target.kind, ProbeKind::publicIP);
    EXPECT_EQ(first[0].target.id, QStringLiteral("publicIP-h"));
    EXPECT_FALSE(first[0].success); // only exactly 1 is success
    EXPECT_TRUE(first[1].success);
    EXPECT_FALSE(first[0].id.isNull());
    EXPECT_NE(first[0].id, first[1].id);
    EXPECT_EQ(first[0].batchID, first[1].batchID); // the same stored text, the same id
    EXPECT_EQ(first[0].family, AddressFamily::ipv6);
    EXPECT_EQ(first[1].family, AddressFamily::ipv4); // an unknown family text reads as IPv4

    // A second read, and a read after reopening, give the same ids.
    const auto second = await(store->samples(0, 100));
    EXPECT_EQ(second, first);
    reopen();
    EXPECT_EQ(await(store->samples(0, 100)), first);

    const auto incidents = await(store->incidents(0, 100));
    ASSERT_EQ(incidents.size(), 2u);
    EXPECT_EQ(incidents[0].classification, IncidentClassification::unknown);
    EXPECT_EQ(incidents[0].severity, IncidentSeverity::warning);
    EXPECT_EQ(incidents[1].severity, IncidentSeverity::info);
    EXPECT_EQ(await(store->incidents(0, 100))[0].id, incidents[0].id);
    // Closing such an incident twice (each time as freshly read) writes one row, not one per read.
    for (double end : {50.0, 60.0}) {
        Incident closing = await(store->incidents(0, 100))[0];
        closing.endTimestamp = end;
        await(store->upsertIncident(closing));
    }
    EXPECT_EQ(RawDb(path).integer(QStringLiteral("SELECT COUNT(*) FROM incidents;")), 3);

    const auto events = await(store->events(0, 100));
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, DiagnosticEventKind::pathChanged);

    const auto wifi = await(store->wifiSnapshots(0, 100));
    ASSERT_EQ(wifi.size(), 1u);
    EXPECT_FALSE(wifi[0].interfaceUp);
    EXPECT_EQ(wifi[0].ssid, std::nullopt);
}

// Stored id texts read back as the UUID they spell, in either case; anything else (a stray
// character, braces) takes the fallback, never a wrong UUID.
TEST_F(StoreDataTest, IdTextsReadAsTheUuidTheySpell)
{
    const struct {
        const char* stored;
        bool spellsAUuid;
    } cases[] = {
        {"0193F1A2-7B3C-7D4E-8F50-A1B2C3D4E5F6", true},
        {"0193f1a2-7b3c-7d4e-8f50-a1b2c3d4e5f6", true},
        {"00000000-0000-0000-0000-000000000000", true},
        {"FFFFFFFF-FFFF-4FFF-BFFF-FFFFFFFFFFFF", true},
        {"0193F1A2-7B3C-7D4E-8F50-A1B2C3D4E5FG", false},
        {"0193F1A2-7B3C-7D4E-8F50+A1B2C3D4E5F6", false},
        {"{0193F1A2-7B3C-7D4E-8F50-A1B2C3D4E5F}", false},
    };
    double t = 1;
    for (const auto& c : cases) {
        NetworkSample s = makeSample(t);
        RawDb(path).insertSamples({s});
        RawDb(path).exec(QStringLiteral("UPDATE network_samples SET id = '%1' WHERE timestamp = %2;")
                             .arg(QLatin1String(c.stored))
                             .arg(t));
        const auto read = await(store->samples(t, t));
        ASSERT_EQ(read.size(), 1u) << c.stored;
        const QUuid spelled = QUuid::fromString(QLatin1String(c.stored));
        if (c.spellsAUuid)
            EXPECT_EQ(read[0].id, spelled) << c.stored;
        else
            EXPECT_TRUE(read[0].id != spelled || spelled.isNull()) << c.stored;
        t += 1;
    }
}

TEST_F(StoreDataTest, RollupReaderSkipsUnknownKindsAndKeepsNulls)
{
    {
        RawDb db(path);
        db.exec(QStringLiteral(
            "INSERT INTO sample_rollups VALUES (1700000040, 60, 'gateway', 5, 4, 30, 40, 50, 0.2, NULL, NULL, 'ipv4');"
            "INSERT INTO sample_rollups VALUES (1700000100, 60, 'satellite', 5, 5, 1, 1, 1, 0, NULL, NULL, 'ipv4');"
            "INSERT INTO sample_rollups VALUES (1700000160, 60, 'http', 2, 0, NULL, NULL, NULL, NULL, NULL, NULL, 'ipv6');"
            "INSERT INTO sample_rollups VALUES (1700000160, 3600, 'http', 2, 0, NULL, NULL, NULL, NULL, NULL, NULL, 'ipv4');"
            "INSERT INTO sample_rollups VALUES (1700000220, 60, 'dns', 1, 1, 9, 9, 9, 0, NULL, NULL, 'ipv4');"));
    }
    const auto rows = await(store->rollups(60, 1700000040, 1700000160));
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0], (SampleRollup{1700000040, 60, ProbeKind::gateway, 5, 4, 30, 40, 50, 0.2, {}, {}}));
    EXPECT_EQ(rows[0].id(), QStringLiteral("1700000040.0-60.0-gateway"));
    EXPECT_EQ(rows[1], (SampleRollup{1700000160, 60, ProbeKind::http, 2, 0, {}, {}, {}, {}, {}, {}, AddressFamily::ipv6}));
}

// A read that breaks off part-way must fail, never look like "less data" or "nothing stored".
TEST_F(StoreDataTest, ReadsThatBreakOffAreErrorsNotMissingData)
{
    {
        RawDb db(path);
        db.exec(QStringLiteral(
            "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 2999)"
            " INSERT INTO sample_rollups SELECT 1700000000 + 60 * i, 60, 'gateway', 5, 5, 1, 2, 3, 0, NULL, NULL, 'ipv4' FROM n;"
            "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 1999)"
            " INSERT INTO network_samples SELECT printf('%08d-0000-4000-8000-000000000000', i), 'b', 1000 + i,"
            " 'gateway', 'Router', '192.168.1.1', 'wlan0', 'l', 'g', 5, 1, 0, NULL, NULL, 'ipv4' FROM n;"));
    }
    await(store->saveBaseline(makeBaseline(9)));
    await(store->insertEvent(makeEvent(100, DiagnosticEventKind::qualitySessionReset)));
    ASSERT_EQ(await(store->rollups(60, 0, 2e9)).size(), 3000u);
    store.reset();

    zeroPagesOf(path, QStringLiteral("sample_rollups"), /*onlyMiddleLeaf=*/true);
    zeroPagesOf(path, QStringLiteral("quality_baseline"), false);
    zeroPagesOf(path, QStringLiteral("events"), false);
    zeroPagesOf(path, QStringLiteral("idx_events_timestamp"), false);
    zeroPagesOf(path, QStringLiteral("network_samples"), true);
    zeroPagesOf(path, QStringLiteral("idx_network_samples_timestamp"), true);
    reopen();

    for (const StoreError& e : {awaitError(store->rollups(60, 0, 2e9)), awaitError(store->loadBaseline()),
                                awaitError(store->lastSessionBoundary()), awaitError(store->earliestTimestamp()),
                                awaitError(store->samples(0, 1e9)), awaitError(store->recentSamples(5000))}) {
        EXPECT_EQ(e.code(), SQLITE_CORRUPT);
        EXPECT_EQ(e.message(), QStringLiteral("database disk image is malformed"));
    }
}

TEST(StoreUnavailableTest, EveryOperationFailsWithCode99AndTheReason)
{
    const QString reason = QStringLiteral("disk full");
    auto store = SQLiteStore::unavailable(reason);
    EXPECT_FALSE(store->isAvailable());
    EXPECT_TRUE(store->location().isInMemory());
    EXPECT_EQ(store->unavailableReason(), reason);

    std::vector<StoreError> errors;
    errors.push_back(awaitError(store->insertSamples(makeBatch(1))));
    errors.push_back(awaitError(store->insertWifiSnapshot(makeWifi(1))));
    errors.push_back(awaitError(store->insertEvent(makeEvent(1))));
    errors.push_back(awaitError(store->insertMarker(makeMarker(1))));
    errors.push_back(awaitError(store->upsertIncident(makeIncident(1, std::nullopt))));
    errors.push_back(awaitError(store->insertLoadTest(LoadTestResult{})));
    errors.push_back(awaitError(store->saveBaseline(makeBaseline(1))));
    errors.push_back(awaitError(store->deleteBaseline()));
    errors.push_back(awaitError(store->loadBaseline()));
    errors.push_back(awaitError(store->lastSessionBoundary()));
    errors.push_back(awaitError(store->earliestTimestamp()));
    errors.push_back(awaitError(store->rollups(60, 0, 1)));
    errors.push_back(awaitError(store->recentSamples(1)));
    errors.push_back(awaitError(store->recentWifiSnapshots(1)));
    errors.push_back(awaitError(store->recentIncidents(1)));
    errors.push_back(awaitError(store->recentEvents(1)));
    errors.push_back(awaitError(store->recentMarkers(1)));
    errors.push_back(awaitError(store->samples(0, 1)));
    errors.push_back(awaitError(store->wifiSnapshots(0, 1)));
    errors.push_back(awaitError(store->incidents(0, 1)));
    errors.push_back(awaitError(store->events(0, 1)));
    errors.push_back(awaitError(store->markers(0, 1)));
    errors.push_back(awaitError(store->rollUpAndPrune(RetentionPolicy::standard(), 1e9)));
    for (std::size_t i = 0; i < errors.size(); ++i) {
        EXPECT_EQ(errors[i].code(), 99) << i;
        EXPECT_EQ(errors[i].message(), reason) << i;
    }
}

// A period folded row by row: every row once and in time order across the reading thread's chunks;
// a visitor that fails and a page that is damaged both end the read with their own error.
TEST_F(StoreDataTest, RowByRowReadEndsWithTheVisitorOrTheDamage)
{
    {
        RawDb db(path);
        db.exec(QStringLiteral(
            "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 39999)"
            " INSERT INTO network_samples SELECT printf('%08d-0000-4000-8000-000000000000', i), 'b', 1000 + i,"
            " CASE i % 3 WHEN 0 THEN 'gateway' WHEN 1 THEN 'publicIP' ELSE 'dns' END, 'R', 'h',"
            " CASE WHEN i < 25000 THEN 'wlan0' ELSE 'eth0' END, 'l', 'g',"
            " CASE WHEN i % 7 = 0 THEN NULL ELSE i % 50 END, i % 7 <> 0, 0, CASE WHEN i % 2 = 0 THEN 0.5 END, NULL,"
            " CASE WHEN i % 5 = 0 THEN 'ipv6' ELSE 'ipv4' END FROM n;"));
    }
    struct Seen {
        std::int64_t rows = 0, outOfOrder = 0, overWlan = 0, withoutLatency = 0, withLoss = 0, overIPv6 = 0;
        Timestamp last = 0;
    };
    auto read = [&](std::int64_t failAt) {
        return store->runWithConnection([failAt](store::StoreDatabase& db) {
            Seen seen;
            db.visitPeriodSamples(0, 1e9, [&](const SampleRow& row) {
                if (seen.rows == failAt)
                    throw std::runtime_error("visitor gave up");
                seen.outOfOrder += row.timestamp < seen.last;
                seen.last = row.timestamp;
                seen.overWlan += row.interfaceName == QByteArrayView("wlan0");
                seen.withoutLatency += !row.latencyMilliseconds;
                seen.withLoss += row.packetLoss.has_value();
                seen.overIPv6 += row.family == AddressFamily::ipv6;
                ++seen.rows;
            });
            return seen;
        });
    };
    const Seen all = await(read(-1));
    EXPECT_EQ(all.rows, 40000);
    EXPECT_EQ(all.outOfOrder, 0);
    EXPECT_EQ(all.overWlan, 25000);
    EXPECT_EQ(all.withoutLatency, 5715); // every seventh
    EXPECT_EQ(all.withLoss, 20000);
    EXPECT_EQ(all.overIPv6, 8000);

    EXPECT_THROW(await(read(20000)), std::runtime_error);
    EXPECT_EQ(await(read(-1)).rows, 40000) << "the connection is free again";

    store.reset();
    zeroPagesOf(path, QStringLiteral("network_samples"), /*onlyMiddleLeaf=*/true);
    reopen();
    const StoreError damaged = awaitError(read(-1));
    EXPECT_EQ(damaged.code(), SQLITE_CORRUPT);
}
